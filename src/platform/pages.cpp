#include "platform/pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace Vexa::Platform {

void* ReservePages(size_t size) {
  if (size == 0 || size > SIZE_MAX - kReservationSize) {
    return nullptr;
  }
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

void ReleasePages(void* block, size_t size) {
  if (block != nullptr) {
    munmap(block, size);
  }
}

}  // namespace Vexa::Platform
