#include "value/context.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace Vexa {

namespace {

// The empty text lives in static storage, laid out like an entry followed by its NUL.
struct EmptyTextRecord {
  BindingInternedString entry{nullptr, BindingHashText({}), 0, 0};
  char nul = '\0';
};
static_assert(offsetof(EmptyTextRecord, nul) == sizeof(BindingInternedString),
              "the text of an entry follows it directly");

EmptyTextRecord emptyText;

// Copies `length` bytes (from sizeof(Word) to twice that) as two words, the first and the last,
// which overlap unless the length is exactly twice the word.
template <typename Word>
void CopyByEnds(char* to, const char* from, std::size_t length) noexcept {
  Word head;
  Word tail;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + length - sizeof tail, sizeof tail);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + length - sizeof tail, &tail, sizeof tail);
}

// `text` and a NUL after it. Most texts are keys and short values: up to 16 bytes they are
// copied by two loads and two stores inside their bounds, not by a call.
void CopyText(char* to, std::string_view text) noexcept {
  const std::size_t length = text.size();
  const char* from = text.data();
  if (length >= 8 && length <= 16) {
    CopyByEnds<uint64_t>(to, from, length);
  } else if (length >= 4 && length < 8) {
    CopyByEnds<uint32_t>(to, from, length);
  } else if (length > 0 && length < 4) {
    to[0] = from[0];
    to[length / 2] = from[length / 2];
    to[length - 1] = from[length - 1];
  } else {
    std::memcpy(to, from, length);
  }
  to[length] = '\0';
}

// This thread's emptied contexts, the last recycled on top; freed with the thread.
struct SpareContexts {
  std::unique_ptr<BindingValueContext> kept[BindingValueContext::kSpareContexts];
  std::size_t count = 0;
};
thread_local SpareContexts spareContexts;

}  // namespace

BindingValueContext* BindingValueContext::Acquire() {
  SpareContexts& spares = spareContexts;
  if (spares.count > 0) {
    return spares.kept[--spares.count].release();
  }
  return new BindingValueContext;
}

void BindingValueContext::Recycle(BindingValueContext* context) noexcept {
  if (context == nullptr) {
    return;
  }
  SpareContexts& spares = spareContexts;
  if (spares.count == kSpareContexts) {
    delete context;
    return;
  }
  // As a new one: no texts, no records, no pages, and no bucket array of an earlier table, so
  // that what a thread keeps is the same however its values were shaped.
  context->Clear();
  delete[] context->heapBuckets_;
  context->heapBuckets_ = nullptr;
  context->heapBucketCount_ = 0;
  spares.kept[spares.count++].reset(context);
}

BindingValueContext::BindingValueContext() noexcept : buckets_(inlineBuckets_) {}

BindingValueContext::~BindingValueContext() {
  Clear();
  delete[] heapBuckets_;
}

BindingInternedString* BindingValueContext::EmptyText() noexcept {
  return &emptyText.entry;
}

BindingInternedString* BindingValueContext::Intern(std::string_view text) {
  const BindingCutText cut = BindingCutAndHashText(text);
  if (cut.text.empty()) {
    return EmptyText();
  }
  return Intern(cut.text, cut.hash);
}

BindingInternedString* BindingValueContext::Intern(const BindingInternedString& entry) {
  if (entry.length == 0) {
    return EmptyText();
  }
  return Intern(entry.View(), entry.hash);
}

BindingInternedString* BindingValueContext::Intern(std::string_view text, uint32_t hash) {
  for (BindingInternedString* entry = buckets_[hash & (bucketCount_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (entry->hash == hash && entry->length == text.size() &&
        std::memcmp(entry->Text(), text.data(), text.size()) == 0) {
      ++entry->count;
      return entry;
    }
  }
  if (text.size() > std::numeric_limits<uint32_t>::max()) {
    throw std::length_error("BindingValueContext: text too long to intern");
  }
  // Allocate before growing the table so that a failure leaves both untouched.
  auto* entry = static_cast<BindingInternedString*>(Allocate(EntryBytes(text.size())));
  if (stringCount_ + 1 > bucketCount_) {
    try {
      Rehash(bucketCount_ * 2);
    } catch (...) {
      Free(entry, EntryBytes(text.size()));
      throw;
    }
  }
  entry->hash = hash;
  entry->count = 1;
  entry->length = static_cast<uint32_t>(text.size());
  CopyText(reinterpret_cast<char*>(entry + 1), text);
  BindingInternedString*& bucket = buckets_[hash & (bucketCount_ - 1)];
  entry->next = bucket;
  bucket = entry;
  ++stringCount_;
  return entry;
}

void BindingValueContext::Release(BindingInternedString* entry) noexcept {
  if (entry == EmptyText() || --entry->count != 0) {
    return;
  }
  BindingInternedString** link = &buckets_[entry->hash & (bucketCount_ - 1)];
  while (*link != entry) {
    link = &(*link)->next;
  }
  *link = entry->next;
  Free(entry, EntryBytes(entry->length));
  if (--stringCount_ == 0) {
    ResetBuckets();
  }
}

void BindingValueContext::Rehash(uint32_t bucketCount) {
  // The table only grows, so a count that still fits the inline array finds the table in it.
  // Into the inline array or the kept one when it is large enough (the entries of a bucket stay
  // in it or move to a bucket past the old count, so an array can also grow into itself),
  // else a new one.
  BindingInternedString** target = heapBuckets_;
  if (bucketCount <= kInlineBuckets) {
    target = inlineBuckets_;
    std::fill(target + bucketCount_, target + bucketCount, nullptr);
  } else if (bucketCount > heapBucketCount_) {
    target = new BindingInternedString*[bucketCount]();
  } else if (target == buckets_) {
    std::fill(target + bucketCount_, target + bucketCount, nullptr);
  } else {
    std::fill(target, target + bucketCount, nullptr);
  }
  for (uint32_t index = 0; index < bucketCount_; ++index) {
    BindingInternedString* entry = buckets_[index];
    buckets_[index] = nullptr;
    while (entry != nullptr) {
      BindingInternedString* next = entry->next;
      BindingInternedString*& bucket = target[entry->hash & (bucketCount - 1)];
      entry->next = bucket;
      bucket = entry;
      entry = next;
    }
  }
  if (target != heapBuckets_ && target != inlineBuckets_) {
    delete[] heapBuckets_;
    heapBuckets_ = target;
    heapBucketCount_ = bucketCount;
  }
  buckets_ = target;
  bucketCount_ = bucketCount;
}

void BindingValueContext::ResetBuckets() noexcept {
  if (buckets_ != inlineBuckets_) {
    // The move to the heap emptied every inline bucket.
    buckets_ = inlineBuckets_;
    if (heapBucketCount_ > kKeptBuckets) {
      delete[] heapBuckets_;
      heapBuckets_ = nullptr;
      heapBucketCount_ = 0;
    }
  } else {
    // Only the buckets in use can hold entries; those past them were emptied when the table
    // last reset or grew into them.
    std::memset(inlineBuckets_, 0, bucketCount_ * sizeof inlineBuckets_[0]);
  }
  bucketCount_ = kInitialBuckets;
}

uint32_t BindingValueContext::ReferenceCount(std::string_view text) const noexcept {
  const BindingCutText cut = BindingCutAndHashText(text);
  const uint32_t hash = cut.hash;
  for (const BindingInternedString* entry = buckets_[hash & (bucketCount_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (entry->hash == hash && entry->View() == cut.text) {
      return entry->count;
    }
  }
  return 0;
}

BindingBlobRecord* BindingValueContext::NewBlob(BindingBlob&& bytes) {
  auto* record = NewRecord<BindingBlobRecord>();
  record->bytes = std::move(bytes);
  record->next = blobs_;
  if (blobs_ != nullptr) {
    blobs_->prev = record;
  }
  blobs_ = record;
  return record;
}

void BindingValueContext::DeleteBlob(BindingBlobRecord* record) noexcept {
  if (record->prev != nullptr) {
    record->prev->next = record->next;
  } else {
    blobs_ = record->next;
  }
  if (record->next != nullptr) {
    record->next->prev = record->prev;
  }
  DeleteRecord(record);
}

void* BindingValueContext::AllocateLarge(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() - sizeof(LargeBlock)) {
    throw std::bad_alloc();
  }
  auto* block = static_cast<LargeBlock*>(::operator new(sizeof(LargeBlock) + bytes));
  block->prev = nullptr;
  block->next = large_;
  if (large_ != nullptr) {
    large_->prev = block;
  }
  large_ = block;
  ++largeCount_;
  return block + 1;
}

void BindingValueContext::FreeLarge(void* block) noexcept {
  LargeBlock* header = static_cast<LargeBlock*>(block) - 1;
  if (header->prev != nullptr) {
    header->prev->next = header->next;
  } else {
    large_ = header->next;
  }
  if (header->next != nullptr) {
    header->next->prev = header->prev;
  }
  --largeCount_;
  ::operator delete(header);
}

void BindingValueContext::Clear() noexcept {
  // Only blob vectors own memory outside the context; every other record is plain data in a
  // slot or a listed heap block, so nothing else needs its destructor run.
  for (BindingBlobRecord* record = blobs_; record != nullptr; record = record->next) {
    BindingBlob().swap(record->bytes);
  }
  blobs_ = nullptr;
  while (large_ != nullptr) {
    LargeBlock* next = large_->next;
    ::operator delete(large_);
    large_ = next;
  }
  largeCount_ = 0;
  medium_.ReleaseAll();
  blocks_.ReleaseAll();
  records_.ReleaseAll();
  stringCount_ = 0;
  ResetBuckets();
}

void BindingValueContext::ReserveTexts(std::size_t count) {
  uint32_t buckets = bucketCount_;
  while (buckets < count && buckets < (uint32_t{1} << 31)) {
    buckets *= 2;
  }
  if (buckets != bucketCount_) {
    Rehash(buckets);
  }
}

}  // namespace Vexa
