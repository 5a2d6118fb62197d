#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

#include "platform/pages.h"
#include "platform/system_internal.h"

namespace Vexa::Platform::System {

void* MapPages(size_t size) {
  // mmap only promises page alignment; map one reservation more and trim both ends so the
  // block starts on a reservation boundary, as VirtualAlloc's allocations do.
  const size_t padded = size + kReservationSize;
  void* raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) {
    return nullptr;
  }
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kReservationSize - 1) & ~(uintptr_t{kReservationSize} - 1);
  const size_t head = aligned - start;
  const size_t tail = padded - head - size;
  if (head != 0) {
    munmap(raw, head);
  }
  if (tail != 0) {
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  }
  return reinterpret_cast<void*>(aligned);
}

void UnmapPages(void* block, size_t size) {
  munmap(block, size);
}

bool DiscardPages(void* block, size_t size) {
  // MADV_FREE lets the kernel take the pages when it needs them and leaves them in place
  // until then; kernels without it get MADV_DONTNEED, which drops them at once.
  return madvise(block, size, MADV_FREE) == 0 ||
         (errno == EINVAL && madvise(block, size, MADV_DONTNEED) == 0);
}

}  // namespace Vexa::Platform::System
