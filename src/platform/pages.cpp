#include "platform/pages.h"

#include <cstdint>
#include <mutex>

#include "platform/system_internal.h"

namespace Vexa::Platform {
namespace {

// Released reservations of kReservationSize whose memory went back to the system but whose
// address range stays reserved, newest last, for the next ReservePages of that size: mapping
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
    if (count_ == kMaxCachedReservations || !System::DiscardPages(block, kReservationSize)) {
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
  return System::MapPages(size);
}

void ReleasePages(void* block, size_t size) {
  if (block == nullptr) {
    return;
  }
  if (size != kReservationSize || !Released().Keep(block)) {
    System::UnmapPages(block, size);
  }
}

size_t CachedReservations() {
  return Released().Count();
}

}  // namespace Vexa::Platform
