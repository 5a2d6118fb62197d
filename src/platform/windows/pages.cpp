#include <windows.h>

#include "platform/system_internal.h"

namespace Vexa::Platform::System {

// VirtualAlloc reserves on the system's allocation granularity, 64 KiB, which is the
// reservation size: its blocks are aligned as they come.
void* MapPages(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapPages(void* block, size_t /*size*/) {
  VirtualFree(block, 0, MEM_RELEASE);
}

// MEM_RESET is Windows' MADV_FREE: the pages stay committed and in place, but the system may
// drop their contents instead of writing them to the page file. Reuse then costs no call at
// all, where decommitting would cost a VirtualAlloc(MEM_COMMIT) and fresh page faults.
bool DiscardPages(void* block, size_t size) {
  return VirtualAlloc(block, size, MEM_RESET, PAGE_NOACCESS) != nullptr;
}

}  // namespace Vexa::Platform::System
