#include "value/block_allocator.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace Vexa {

void BindingBlockAllocator::ReleaseAll() noexcept {
  // Chain every pool page through its first word and hand the chain back under one lock.
  void* chain = nullptr;
  for (uint32_t used = usedClasses_; used != 0; used &= used - 1) {
    SizeClass& sizeClass = classes_[std::countr_zero(used)];
    for (PageHeader* list : {sizeClass.available, sizeClass.full}) {
      while (list != nullptr) {
        PageHeader* next = list->next;
        if (list != InlinePage(sizeClass)) {
          std::memcpy(static_cast<void*>(list), &chain, sizeof chain);
          chain = list;
        }
        list = next;
      }
    }
    sizeClass.available = nullptr;
    sizeClass.full = nullptr;
    sizeClass.inlinePage = nullptr;
    sizeClass.inlineSize = 0;
  }
  VEXA_UNPOISON(inlineSpace_, sizeof inlineSpace_);
  usedClasses_ = 0;
  sharedUsed_ = 0;
  if (chain != nullptr) {
    pool_->ReleasePageChain(chain);
  }
  poolPages_ = 0;
}

BindingBlockAllocator::PageHeader* BindingBlockAllocator::CarveInlinePage(
    std::size_t index, std::size_t& size) noexcept {
  if (!sharedInline_) {
    size = kInlinePageSize;
    return reinterpret_cast<PageHeader*>(inlineSpace_ + index * kInlinePageSize);
  }
  // What is left may be smaller than a shared page, but never smaller than a class's own.
  static_assert(kInlineSpace % kInlinePageSize == 0 &&
                kSharedInlinePageSize % kInlinePageSize == 0);
  if (sharedUsed_ == kInlineSpace) {
    return nullptr;
  }
  size = std::min(kSharedInlinePageSize, kInlineSpace - sharedUsed_);
  auto* page = reinterpret_cast<PageHeader*>(inlineSpace_ + sharedUsed_);
  sharedUsed_ += size;
  return page;
}

BindingBlockAllocator::PageHeader* BindingBlockAllocator::AddPage(std::size_t index) {
  SizeClass& sizeClass = classes_[index];
  const std::size_t slotSize = (index + 1) * kGranule;
  const bool firstPage = (usedClasses_ & (uint32_t{1} << index)) == 0;
  usedClasses_ |= uint32_t{1} << index;
  PageHeader* page = nullptr;
  if (firstPage) {
    std::size_t size = 0;
    page = CarveInlinePage(index, size);
    if (page != nullptr) {
      Format(page, size, slotSize);
      sizeClass.inlinePage = page;
      sizeClass.inlineSize = size;
    }
  }
  if (page == nullptr) {
    page = static_cast<PageHeader*>(pool_->AcquirePage());
    Format(page, kPoolPageSize, slotSize);
    ++poolPages_;
  }
  PushFront(sizeClass.available, page);
  return page;
}

void BindingBlockAllocator::Format(PageHeader* page, std::size_t pageSize,
                                   std::size_t slotSize) noexcept {
  static_assert(offsetof(PageHeader, next) == 0, "the pool chains pages through their first word");
  static_assert(kPoolPageSize / kGranule <= UINT16_MAX, "slot indices are 16 bits");
  const std::size_t headerSlots = (sizeof(PageHeader) + slotSize - 1) / slotSize;
  const std::size_t slots = pageSize / slotSize;
  page->next = nullptr;
  page->prev = nullptr;
  page->slotCount = static_cast<uint16_t>(slots);
  page->used = 0;
  page->firstFree = 0;
  page->untouched = static_cast<uint16_t>(headerSlots);
  VEXA_POISON(reinterpret_cast<unsigned char*>(page) + headerSlots * slotSize,
              (slots - headerSlots) * slotSize);
}

void BindingBlockAllocator::MarkFull(SizeClass& sizeClass, PageHeader* page) noexcept {
  Unlink(sizeClass.available, page);
  if (page != InlinePage(sizeClass)) {
    PushFront(sizeClass.full, page);
  }
}

void BindingBlockAllocator::Relink(SizeClass& sizeClass, PageHeader* page) noexcept {
  if (page != InlinePage(sizeClass)) {
    Unlink(sizeClass.full, page);
  }
  PushFront(sizeClass.available, page);
}

void BindingBlockAllocator::ReturnPage(SizeClass& sizeClass, PageHeader* page) noexcept {
  Unlink(sizeClass.available, page);
  --poolPages_;
  pool_->ReleasePage(page);
}

void BindingBlockAllocator::Unlink(PageHeader*& list, PageHeader* page) noexcept {
  if (page->prev != nullptr) {
    page->prev->next = page->next;
  } else {
    list = page->next;
  }
  if (page->next != nullptr) {
    page->next->prev = page->prev;
  }
  page->next = nullptr;
  page->prev = nullptr;
}

void BindingBlockAllocator::PushFront(PageHeader*& list, PageHeader* page) noexcept {
  page->prev = nullptr;
  page->next = list;
  if (list != nullptr) {
    list->prev = page;
  }
  list = page;
}

}  // namespace Vexa
