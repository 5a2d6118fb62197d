// BindingBlockPool: the process-wide source of 4096-byte pages for the small-block allocators
// of all value contexts, cut from 64 KiB reservations of the operating system.
//
//   Vexa::BindingBlockPool& pool = Vexa::BindingBlockPool::Instance();
//   void* page = pool.AcquirePage();        // 4096 bytes, aligned to 4096
//   ...
//   pool.ReleasePage(page);                 // the reservation goes back once all 16 are back
//
// Threading: every hand-out and return takes the pool's one mutex, so value trees on different
// threads allocate concurrently. Nothing else in a value tree is locked.
//
// Memory: a reservation is released to the system as soon as all of its pages are free again,
// so a process that builds a large value and drops it gives the memory back at once rather
// than keeping a high-water mark. One empty reservation is kept, though: a request builds and
// drops a few small values, and without a spare each of them would map a block and unmap it
// again (three system calls and a page fault per value). The price of the spare is 64 KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace Vexa {

// Where a small-block allocator gets its 4096-byte pages (aligned to 4096). The process pool
// below is one source; BindingHeapPages(), pages from the general heap, is the other.
class BindingPageSource {
 public:
  // One page; throws std::bad_alloc when no memory is left.
  [[nodiscard]] virtual void* AcquirePage() = 0;
  virtual void ReleasePage(void* page) noexcept = 0;
  // Takes back pages chained through their first pointer-sized word, null ending the chain.
  virtual void ReleasePageChain(void* first) noexcept = 0;

 protected:
  ~BindingPageSource() = default;
};

// Pages from the general heap (aligned operator new), for the texts, member nodes and small
// arrays of value contexts. Returned pages are kept in a process-wide reserve of at most
// kBindingHeapPagesKept pages (2 MiB) and handed out again before the heap is asked: the C
// heap would otherwise coalesce freed pages, trim them back to the system and fault them in
// afresh for the next tree, which costs more than building the tree. Beyond the reserve,
// pages go back to the heap at once. One mutex guards the reserve.
inline constexpr std::size_t kBindingHeapPagesKept = 512;
[[nodiscard]] BindingPageSource& BindingHeapPages() noexcept;
// Diagnostics: pages waiting in that reserve now.
[[nodiscard]] std::size_t BindingHeapPagesInReserve() noexcept;

// Diagnostics: what the pool holds at one instant.
struct BindingBlockPoolStatistics {
  std::size_t reservations = 0;  // 64 KiB blocks currently held from the system
  std::size_t freePages = 0;     // pages of those blocks waiting to be handed out
  std::size_t pagesInUse = 0;    // pages handed out and not yet returned
};

class BindingBlockPool final : public BindingPageSource {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPagesPerReservation = 16;
  static constexpr std::size_t kReservationSize = kPageSize * kPagesPerReservation;

  // The process's pool, created on first use and never destroyed (values in static storage
  // may still return pages while the process exits).
  [[nodiscard]] static BindingBlockPool& Instance();

  // A standalone pool, for tests. Its destructor gives every reservation back to the system,
  // whether or not its pages were returned.
  BindingBlockPool() = default;
  ~BindingBlockPool();
  BindingBlockPool(const BindingBlockPool&) = delete;
  BindingBlockPool& operator=(const BindingBlockPool&) = delete;

  // One page of 4096 bytes aligned to 4096, its contents unspecified. Reserves a new 64 KiB
  // block from the system when no page is free. Throws std::bad_alloc when the system refuses.
  [[nodiscard]] void* AcquirePage() override;

  // Takes back a page from AcquirePage. Releases the page's reservation to the system when
  // all of its pages are free.
  void ReleasePage(void* page) noexcept override;

  // Takes back a chain of pages under one lock: each page's first pointer-sized word holds the
  // next page of the chain, null ending it. Used when a whole context is dropped.
  void ReleasePageChain(void* first) noexcept override;

  [[nodiscard]] BindingBlockPoolStatistics Statistics() const;

 private:
  // Free pages are tracked outside the pages (a bit per page of each reservation), so a page
  // the pool has never handed out is never touched and costs no page fault.
  struct Reservation {
    uint16_t freeMask = 0;  // bit i: page i is free
  };

  void ReleaseLocked(void* page) noexcept;

  mutable std::mutex mutex_;
  std::size_t freeCount_ = 0;
  std::uintptr_t spare_ = 0;  // an empty reservation kept for the next hand-out, or 0
  std::size_t inUse_ = 0;
  // Reservation base address -> its free pages.
  std::unordered_map<std::uintptr_t, Reservation> reservations_;
  // Bases of reservations that may have free pages (stale entries are skipped when met).
  std::vector<std::uintptr_t> available_;
};

}  // namespace Vexa
