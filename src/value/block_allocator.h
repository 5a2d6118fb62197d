// BindingBlockAllocator: the per-context allocator of fixed-size slots from which every record
// of a value tree (strings, blobs, enumerators, collections, structure members) is carved.
//
//   Vexa::BindingBlockAllocator blocks;        // allocates nothing yet
//   void* record = blocks.Allocate(24);        // a slot of the 24-byte class
//   blocks.Free(record, 24);                   // the same size that was asked for
//
// Eighteen size classes serve 4, 8, ..., 72 bytes (a request is rounded up to a multiple of 4).
// Each class starts in an inline page inside the allocator, so a small tree needs no page at
// all; further pages of 4096 bytes come from a page source — the process-wide BindingBlockPool
// unless told otherwise — and go back to it as soon as their last slot is freed. The inline
// space (18 x 144 bytes) is either every class's own page of 144 bytes, or shared: pages of
// 576 bytes for the classes in the order they are first used, while the space lasts. A tree
// uses few of the classes of its texts and members, and four times the slots before its first
// page is what keeps the page source (and its lock) out of most small documents.
//
// A page begins with a header (links to the neighbouring pages with free slots, slot count,
// used-slot count, first freed slot, first untouched slot) that covers as many leading slots as
// it needs. Slots are handed out from the freed ones first, a list threaded through the slots
// themselves as 16-bit slot indices, ended by index 0, which the header always covers; then from
// the untouched rest of the page in order, so that a page costs nothing until its slots are
// used (a small value takes a few slots of a 4096-byte page). Freeing finds a slot's page by
// masking its address to 4096, which is why pool pages are aligned to their size.
//
// Threading: none; an allocator belongs to one value tree, used by one thread at a time. Only
// the pool behind it is locked.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "value/block_pool.h"
#include "value/sanitizer.h"

namespace Vexa {

class BindingBlockAllocator {
 public:
  static constexpr std::size_t kGranule = 4;
  static constexpr std::size_t kClassCount = 18;
  static constexpr std::size_t kLargestBlock = kGranule * kClassCount;  // 72
  static constexpr std::size_t kInlinePageSize = 144;
  static constexpr std::size_t kSharedInlinePageSize = 4 * kInlinePageSize;
  static constexpr std::size_t kInlineSpace = kClassCount * kInlinePageSize;
  static constexpr std::size_t kPoolPageSize = BindingBlockPool::kPageSize;

  // How the inline space is divided among the classes (see above).
  enum class InlinePages : uint8_t {
    PerClass,  // class i: bytes [144 i, 144 (i + 1))
    Shared,    // 576 bytes per class in the order of first use, the last one what is left
  };

  // Does not own the page source; it must outlive the allocator (the process pool and the heap
  // source always do).
  explicit BindingBlockAllocator(BindingPageSource& pages = BindingBlockPool::Instance(),
                                 InlinePages inlinePages = InlinePages::PerClass) noexcept
      : pool_(&pages), sharedInline_(inlinePages == InlinePages::Shared) {}
  // Returns every pool page, whatever is still allocated in it.
  ~BindingBlockAllocator() { ReleaseAll(); }
  BindingBlockAllocator(const BindingBlockAllocator&) = delete;
  BindingBlockAllocator& operator=(const BindingBlockAllocator&) = delete;

  // A slot of at least `bytes` (1 to kLargestBlock) bytes, aligned to the largest power of two
  // dividing its rounded size (at most 8). Throws std::bad_alloc when the pool cannot grow.
  [[nodiscard]] void* Allocate(std::size_t bytes) {
    assert(bytes >= 1 && bytes <= kLargestBlock);
    const std::size_t index = (bytes - 1) / kGranule;
    SizeClass& sizeClass = classes_[index];
    PageHeader* page = sizeClass.available;
    if (page == nullptr) {
      page = AddPage(index);
    }
    const std::size_t slotSize = (index + 1) * kGranule;
    // The header's fields are read and written once each, through locals: a slot may alias
    // the header as far as the compiler knows, so every access would be a load otherwise.
    uint16_t firstFree = page->firstFree;
    uint16_t untouched = page->untouched;
    unsigned char* slot;
    if (firstFree != 0) {  // a freed slot first, then the untouched rest of the page
      slot = reinterpret_cast<unsigned char*>(page) + firstFree * slotSize;
      VEXA_UNPOISON(slot, slotSize);
      std::memcpy(&firstFree, slot, sizeof firstFree);
      page->firstFree = firstFree;
    } else {
      slot = reinterpret_cast<unsigned char*>(page) + untouched * slotSize;
      VEXA_UNPOISON(slot, slotSize);
      page->untouched = ++untouched;
    }
    ++page->used;
    if (firstFree == 0 && untouched == page->slotCount) {
      MarkFull(sizeClass, page);
    }
    return slot;
  }

  // Returns a slot from Allocate, with the size that was asked for. A pool page whose last
  // slot this was goes back to the pool at once.
  void Free(void* block, std::size_t bytes) noexcept {
    assert(bytes >= 1 && bytes <= kLargestBlock);
    const std::size_t index = (bytes - 1) / kGranule;
    SizeClass& sizeClass = classes_[index];
    const std::size_t slotSize = (index + 1) * kGranule;
    auto* slot = static_cast<unsigned char*>(block);
    PageHeader* page = PageOf(sizeClass, slot);
    const auto slotIndex = static_cast<uint16_t>(
        static_cast<std::size_t>(slot - reinterpret_cast<unsigned char*>(page)) / slotSize);
    const bool wasFull = IsFull(page);
    std::memcpy(slot, &page->firstFree, sizeof page->firstFree);
    page->firstFree = slotIndex;
    VEXA_POISON(slot, slotSize);
    if (wasFull) {
      Relink(sizeClass, page);
    }
    if (--page->used == 0 && page != InlinePage(sizeClass)) {
      ReturnPage(sizeClass, page);
    }
  }

  // Drops every slot at once: pool pages go back to the pool (under one lock) and the inline
  // pages start over. Used when the one value that owns the whole tree is reset or destroyed,
  // which is far cheaper than freeing record by record.
  void ReleaseAll() noexcept;

  // Diagnostics: pages of the page source this allocator holds now.
  [[nodiscard]] std::size_t PoolPageCount() const noexcept { return poolPages_; }

 private:
  struct PageHeader {
    PageHeader* next;  // next page of the class with a free slot (first word: the pool's chain)
    PageHeader* prev;
    uint16_t slotCount;  // slots in the page, header included
    uint16_t used;
    uint16_t firstFree;  // the first freed slot, 0: none
    uint16_t untouched;  // the first slot never handed out; the page's end: none
  };
  // `untouched` took the padding: the header covers as many slots as before.
  static_assert(sizeof(PageHeader) == 2 * sizeof(void*) + 8);

  // No freed slot and no untouched one left.
  static bool IsFull(const PageHeader* page) noexcept {
    return page->firstFree == 0 && page->untouched == page->slotCount;
  }

  struct SizeClass {
    PageHeader* available = nullptr;  // pages with a free slot; allocation takes the first
    PageHeader* full = nullptr;       // pool pages without one, kept for ReleaseAll
    // The class's inline page since its first page was added (null before, and when the
    // shared space was used up by then), and its size.
    PageHeader* inlinePage = nullptr;
    std::size_t inlineSize = 0;
  };

  static PageHeader* InlinePage(SizeClass& sizeClass) noexcept { return sizeClass.inlinePage; }
  static PageHeader* PageOf(SizeClass& sizeClass, unsigned char* slot) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(slot);
    if (address - reinterpret_cast<std::uintptr_t>(sizeClass.inlinePage) < sizeClass.inlineSize) {
      return sizeClass.inlinePage;
    }
    return reinterpret_cast<PageHeader*>(address & ~(std::uintptr_t{kPoolPageSize} - 1));
  }

  // The inline page of class `index` with its size, carved from the inline space; null when
  // the shared space is used up.
  PageHeader* CarveInlinePage(std::size_t index, std::size_t& size) noexcept;
  PageHeader* AddPage(std::size_t index);
  static void Format(PageHeader* page, std::size_t pageSize, std::size_t slotSize) noexcept;
  void MarkFull(SizeClass& sizeClass, PageHeader* page) noexcept;
  void Relink(SizeClass& sizeClass, PageHeader* page) noexcept;
  void ReturnPage(SizeClass& sizeClass, PageHeader* page) noexcept;
  static void Unlink(PageHeader*& list, PageHeader* page) noexcept;
  static void PushFront(PageHeader*& list, PageHeader* page) noexcept;

  BindingPageSource* pool_;
  std::size_t poolPages_ = 0;
  // Bit i: class i has formatted a page since the last ReleaseAll. Most contexts use a few
  // classes, so releasing visits only those instead of all eighteen.
  uint32_t usedClasses_ = 0;
  static_assert(kClassCount <= 32);
  bool sharedInline_;
  std::size_t sharedUsed_ = 0;  // bytes of the inline space carved for classes (shared)
  SizeClass classes_[kClassCount];
  alignas(8) unsigned char inlineSpace_[kInlineSpace];
};

}  // namespace Vexa
