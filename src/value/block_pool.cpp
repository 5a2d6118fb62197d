#include "value/block_pool.h"

#include <cstring>
#include <new>

#include "platform/pages.h"
#include "value/sanitizer.h"

namespace Vexa {

static_assert(BindingBlockPool::kReservationSize == Platform::kReservationSize,
              "a reservation is one block of the platform's reservation size");

namespace {

// Reservations come aligned to their own size, so a page finds its reservation by masking.
std::uintptr_t ReservationOf(const void* page) {
  return reinterpret_cast<std::uintptr_t>(page) &
         ~(std::uintptr_t{BindingBlockPool::kReservationSize} - 1);
}

class HeapPages final : public BindingPageSource {
 public:
  void* AcquirePage() override {
    {
      std::lock_guard lock(mutex_);
      if (reserve_ != nullptr) {
        void* page = reserve_;
        std::memcpy(&reserve_, page, sizeof reserve_);
        --reserveCount_;
        return page;
      }
    }
    return ::operator new (BindingBlockPool::kPageSize,
                           std::align_val_t{BindingBlockPool::kPageSize});
  }

  void ReleasePage(void* page) noexcept override {
    VEXA_UNPOISON(page, BindingBlockPool::kPageSize);
    {
      std::lock_guard lock(mutex_);
      if (KeepLocked(page)) {
        return;
      }
    }
    Delete(page);
  }

  void ReleasePageChain(void* first) noexcept override {
    {
      std::lock_guard lock(mutex_);
      while (first != nullptr) {
        VEXA_UNPOISON(first, BindingBlockPool::kPageSize);
        void* next;
        std::memcpy(&next, first, sizeof next);
        if (!KeepLocked(first)) {
          break;
        }
        first = next;
      }
    }
    while (first != nullptr) {  // the reserve is full: the rest goes back to the heap
      void* next;
      std::memcpy(&next, first, sizeof next);
      Delete(first);
      first = next;
    }
  }

  std::size_t ReserveCount() {
    std::lock_guard lock(mutex_);
    return reserveCount_;
  }

 private:
  bool KeepLocked(void* page) noexcept {
    if (reserveCount_ >= kBindingHeapPagesKept) {
      return false;
    }
    std::memcpy(page, &reserve_, sizeof reserve_);
    reserve_ = page;
    ++reserveCount_;
    return true;
  }

  static void Delete(void* page) noexcept {
    ::operator delete (page, std::align_val_t{BindingBlockPool::kPageSize});
  }

  std::mutex mutex_;
  void* reserve_ = nullptr;  // chained through each page's first word
  std::size_t reserveCount_ = 0;
};

HeapPages& HeapPageSource() noexcept {
  // Leaked on purpose, like the pool: contexts in static storage may return pages at exit.
  static HeapPages* const pages = new HeapPages;
  return *pages;
}

}  // namespace

BindingPageSource& BindingHeapPages() noexcept {
  return HeapPageSource();
}

std::size_t BindingHeapPagesInReserve() noexcept {
  return HeapPageSource().ReserveCount();
}

BindingBlockPool& BindingBlockPool::Instance() {
  // Leaked on purpose: a value in static storage may be destroyed after any other static.
  static BindingBlockPool* const pool = new BindingBlockPool;
  return *pool;
}

BindingBlockPool::~BindingBlockPool() {
  for (const auto& [base, reservation] : reservations_) {
    VEXA_UNPOISON(reinterpret_cast<void*>(base), kReservationSize);
    Platform::ReleasePages(reinterpret_cast<void*>(base), kReservationSize);
  }
}

void* BindingBlockPool::AcquirePage() {
  static_assert(kPagesPerReservation == 16, "one 16-bit mask per reservation");
  std::lock_guard lock(mutex_);
  while (!available_.empty()) {
    const auto found = reservations_.find(available_.back());
    if (found == reservations_.end() || found->second.freeMask == 0) {
      available_.pop_back();  // released or used up since it was listed
      continue;
    }
    // The lowest free page first, so a reservation fills from its start.
    const int index = __builtin_ctz(found->second.freeMask);
    found->second.freeMask =
        static_cast<uint16_t>(found->second.freeMask & (found->second.freeMask - 1));
    if (found->second.freeMask == 0) {
      available_.pop_back();  // listed again when one of its pages comes back
    }
    if (found->first == spare_) {
      spare_ = 0;
    }
    --freeCount_;
    ++inUse_;
    return reinterpret_cast<unsigned char*>(found->first) +
           static_cast<std::size_t>(index) * kPageSize;
  }
  void* block = Platform::ReservePages(kReservationSize);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  const auto base = reinterpret_cast<std::uintptr_t>(block);
  try {
    available_.reserve(available_.size() + 1);
    reservations_.emplace(base, Reservation{static_cast<uint16_t>(0xFFFE)});  // page 0 goes out now
  } catch (...) {
    Platform::ReleasePages(block, kReservationSize);
    throw;
  }
  available_.push_back(base);
  freeCount_ += kPagesPerReservation - 1;
  ++inUse_;
  return block;
}

void BindingBlockPool::ReleasePage(void* page) noexcept {
  if (page == nullptr) {
    return;
  }
  std::lock_guard lock(mutex_);
  ReleaseLocked(page);
}

void BindingBlockPool::ReleasePageChain(void* first) noexcept {
  if (first == nullptr) {
    return;
  }
  std::lock_guard lock(mutex_);
  while (first != nullptr) {
    void* next;
    std::memcpy(&next, first, sizeof next);
    ReleaseLocked(first);
    first = next;
  }
}

BindingBlockPoolStatistics BindingBlockPool::Statistics() const {
  std::lock_guard lock(mutex_);
  return {reservations_.size(), freeCount_, inUse_};
}

void BindingBlockPool::ReleaseLocked(void* page) noexcept {
  VEXA_UNPOISON(page, kPageSize);  // the allocator may have poisoned single slots
  const std::uintptr_t base = ReservationOf(page);
  const auto reservation = reservations_.find(base);
  const auto index = (reinterpret_cast<std::uintptr_t>(page) - base) / kPageSize;
  const bool wasFull = reservation->second.freeMask == 0;
  reservation->second.freeMask =
      static_cast<uint16_t>(reservation->second.freeMask | (1u << index));
  --inUse_;
  if (reservation->second.freeMask != 0xFFFF) {
    ++freeCount_;
    if (wasFull) {
      // Listing cannot fail here without memory; a reservation left unlisted is still found
      // when all its pages are back, so it is only skipped for hand-outs meanwhile.
      try {
        available_.push_back(base);
      } catch (...) {
      }
    }
    return;
  }
  // All pages of the reservation are back: keep it as the spare, or give the whole block to
  // the system when there is one already.
  if (spare_ == 0) {
    spare_ = base;
    ++freeCount_;
    return;
  }
  freeCount_ -= kPagesPerReservation - 1;
  reservations_.erase(reservation);
  Platform::ReleasePages(reinterpret_cast<void*>(base), kReservationSize);
}

}  // namespace Vexa
