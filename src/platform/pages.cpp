#include "platform/pages.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace Vexa::Platform {
namespace {

// Released reservations of kReservationSize whose memory went back to the system but whose
// address range stays mapped, newest last, for the next ReservePages of that size: mapping
// and unmapping cost system calls and page faults on every value a request builds and drops.
class ReleasedRanges {
 public:
  void* Take() {
    std::lock_guard lock(mutex_);
    return count_ > 0 ? ranges_[--count_] : nullptr;
  }

  // Keeps `block` (its memory given back) unless the cache is full; false then.
  bool Keep(void* block) {
    std::lock_guard lock(mutex_);
    if (count_ == kMaxCachedReservations) {
      return false;
    }
    // MADV_FREE lets the kernel take the pages when it needs them and leaves them in place
    // until then; kernels without it get MADV_DONTNEED, which drops them at once.
    if (madvise(block, kReservationSize, MADV_FREE) != 0 &&
        (errno != EINVAL || madvise(block, kReservationSize, MADV_DONTNEED) != 0)) {
      return false;
    }
    ranges_[count_++] = block;
    return true;
  }

  size_t Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  void* ranges_[kMaxCachedReservations] = {};
  size_t count_ = 0;
};

ReleasedRanges& Released() {
  // Leaked on purpose: pages may be released by other statics' destructors.
  static ReleasedRanges* const ranges = new ReleasedRanges;
  return *ranges;
}

}  // namespace

void* ReservePages(size_t size) {
  if (size == 0 || size > SIZE_MAX - kReservationSize) {
    return nullptr;
  }
  if (size == kReservationSize) {
    if (void* block = Released().Take(); block != nullptr) {
      return block;
    }
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
  if (block == nullptr) {
    return;
  }
  if (size != kReservationSize || !Released().Keep(block)) {
    munmap(block, size);
  }
}

size_t CachedReservations() {
  return Released().Count();
}

}  // namespace Vexa::Platform
