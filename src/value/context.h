// BindingValueContext: what one value tree shares — its interned texts and the allocators of its
// records. The standalone value at the root of a tree owns it; every nested value points at it.
//
//   Vexa::BindingValueContext context;
//   Vexa::BindingInternedString* key = context.Intern("country");   // counted, stored once
//   auto* record = context.NewRecord<Vexa::BindingEnumerator>();    // a pool-backed slot
//   context.DeleteRecord(record);
//   context.Release(key);                                            // erased at count 0
//
// Texts. The table keeps each distinct text of the tree once, with a reference count, so that
// the keys that recur in every element of a list cost one hash and one lookup each, not one
// allocation. Entries are hashed with 32-bit FNV-1a; the bucket count is a power of two (index
// = hash AND mask), starts at 8, doubles when the entries would outnumber the buckets, and
// goes back to 8 whenever the table empties; up to 32 buckets the array is part of the context.
// The empty text is never interned: it is the shared constant EmptyText(), which is never
// counted.
//
// Memory. The payload records of the four owning kinds (blob, enumerator, collection,
// structure) come from a slot allocator backed by the process-wide BindingBlockPool, whose
// pages and 64 KiB reservations go back as soon as they empty. Everything that grows with the
// data — interned texts, structure members, the arrays of elements and members — comes from a
// second slot allocator backed by heap pages (up to 72 bytes), from chunks of the heap (up to
// 1 KiB, BindingMediumBlocks) or from the heap itself (beyond, linked into a list). Why two: the
// pool gives its reservations back to the system at once, so a large tree built and dropped in a
// loop would map and fault in fresh pages every time, which costs far more than the work itself;
// the heap keeps and reuses that memory. Blob records are listed too, because their byte vectors
// live on the heap. Clear() therefore empties a whole tree without walking it.
//
// Threading: none; one tree is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "value/block_allocator.h"
#include "value/medium_blocks.h"
#include "value/property.h"

namespace Vexa {

// One interned text: chained in its bucket, hashed, counted. The text itself (with its NUL)
// follows the record in the same block, so an entry is one allocation.
struct BindingInternedString {
  BindingInternedString* next;  // next entry of the same bucket
  uint32_t hash;                // FNV-1a of the text
  uint32_t count;               // references from values and member keys
  uint32_t length;              // bytes before the NUL

  [[nodiscard]] const char* Text() const noexcept {
    return reinterpret_cast<const char*>(this + 1);
  }
  [[nodiscard]] std::string_view View() const noexcept { return {Text(), length}; }
};

// A blob payload: the bytes, and the links of the context's blob list.
struct BindingBlobRecord {
  BindingBlob bytes;
  BindingBlobRecord* prev = nullptr;
  BindingBlobRecord* next = nullptr;
};

// 32-bit FNV-1a: offset basis 0x811C9DC5, prime 0x01000193, each byte XORed in, then multiplied.
inline constexpr uint32_t kBindingHashBasis = 0x811C9DC5u;
[[nodiscard]] constexpr uint32_t BindingHashByte(uint32_t hash, unsigned char byte) noexcept {
  return (hash ^ byte) * 0x01000193u;
}
[[nodiscard]] constexpr uint32_t BindingHashText(std::string_view text) noexcept {
  uint32_t hash = kBindingHashBasis;
  for (const char byte : text) {
    hash = BindingHashByte(hash, static_cast<unsigned char>(byte));
  }
  return hash;
}

// The bytes of a text before its first NUL with their BindingHashText, found in one pass.
struct BindingCutText {
  std::string_view text;
  uint32_t hash;
};

// Cuts `text` at its first NUL and hashes what is kept. The hash takes a multiplication per
// byte in sequence, so looking at each byte for a NUL on the way costs nothing more, where a
// separate search would read the text a second time.
[[nodiscard]] inline BindingCutText BindingCutAndHashText(std::string_view text) noexcept {
  uint32_t hash = kBindingHashBasis;
  std::size_t length = 0;
  for (; length < text.size(); ++length) {
    const auto byte = static_cast<unsigned char>(text[length]);
    if (byte == 0) {
      break;
    }
    hash = BindingHashByte(hash, byte);
  }
  return {text.substr(0, length), hash};
}

// The bytes of `text` before its first NUL: the part that is hashed, interned and compared.
[[nodiscard]] inline std::string_view BindingTextBeforeNul(std::string_view text) noexcept {
  if (text.empty()) {
    return text;  // its data() may be null, which memchr must not see
  }
  if (const void* nul = std::memchr(text.data(), 0, text.size()); nul != nullptr) {
    return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  return text;
}

class BindingValueContext {
 public:
  static constexpr uint32_t kInitialBuckets = 8;
  // Tables of up to this many buckets (256 bytes) live inside the context: the values of a
  // request hold a few dozen texts at most, and grow their tables without allocating.
  static constexpr uint32_t kInlineBuckets = 32;
  // The largest bucket array (16 KiB) kept for reuse when the table empties.
  static constexpr uint32_t kKeptBuckets = 2048;

  BindingValueContext() noexcept;
  // Drops everything still allocated (see Clear).
  ~BindingValueContext();
  BindingValueContext(const BindingValueContext&) = delete;
  BindingValueContext& operator=(const BindingValueContext&) = delete;

  // The emptied contexts a thread keeps for reuse: as many as a request has values alive at
  // once (its arguments, a host call's, a service call's payload and answer, the result).
  static constexpr std::size_t kSpareContexts = 8;

  // A context for a new root value: one of this thread's spares when it has one, else a new
  // one. A request builds and drops several small values, some alive at once; each would
  // otherwise allocate and set up the allocators' state (some 7 KB) and free it again.
  [[nodiscard]] static BindingValueContext* Acquire();
  // Ends the use of a root value's context: emptied and kept as one of this thread's spares
  // while it has fewer than kSpareContexts, else deleted. A null context is ignored.
  static void Recycle(BindingValueContext* context) noexcept;

  // The shared empty text: length 0, never counted, never freed.
  [[nodiscard]] static BindingInternedString* EmptyText() noexcept;

  // --- Texts ---
  // The entry for `text` (up to its first NUL) with its count raised by one; the shared empty
  // text for an empty text. Throws std::bad_alloc (nothing changed) when memory runs out.
  [[nodiscard]] BindingInternedString* Intern(std::string_view text);
  // Like Intern for a text known to hold no NUL (already cut), sparing the search for one.
  [[nodiscard]] BindingInternedString* InternExact(std::string_view text) {
    return text.empty() ? EmptyText() : Intern(text, BindingHashText(text));
  }
  // Like InternExact when the caller already has the text's BindingHashText.
  [[nodiscard]] BindingInternedString* Intern(std::string_view text, uint32_t hash);
  // The entry of this context for the text of `entry` (from any context), reusing its hash.
  [[nodiscard]] BindingInternedString* Intern(const BindingInternedString& entry);
  // A hint that a text with this hash is about to be interned: loads its bucket early. Bulk
  // copies issue it a few members ahead, since the buckets are reached at random.
  void PrefetchIntern(uint32_t hash) const noexcept {
    __builtin_prefetch(&buckets_[hash & (bucketCount_ - 1)]);
  }
  // The second stage, nearer to the use: the bucket is cached by now, load its first entry.
  void PrefetchInternChain(uint32_t hash) const noexcept {
    if (const BindingInternedString* head = buckets_[hash & (bucketCount_ - 1)]; head != nullptr) {
      __builtin_prefetch(head);
    }
  }
  // Lowers the count; at zero the entry is erased. The empty text is ignored.
  void Release(BindingInternedString* entry) noexcept;

  // --- Payload records (pool-backed slots) ---
  template <typename T, typename... Args>
  [[nodiscard]] T* NewRecord(Args&&... args) {
    static_assert(sizeof(T) <= BindingBlockAllocator::kLargestBlock && alignof(T) <= 8);
    void* block = records_.Allocate(sizeof(T));
    try {
      return ::new (block) T(std::forward<Args>(args)...);
    } catch (...) {
      records_.Free(block, sizeof(T));
      throw;
    }
  }
  template <typename T>
  void DeleteRecord(T* record) noexcept {
    record->~T();
    records_.Free(record, sizeof(T));
  }

  // --- Blocks that grow with the data (heap-backed slots, chunks, or the heap) ---
  // `bytes` (at least 1) from the heap-backed slots up to 72 bytes, from the medium blocks'
  // chunks up to 1 KiB, from the heap beyond. Freed with Free and the same size. Throws
  // std::bad_alloc.
  [[nodiscard]] void* Allocate(std::size_t bytes) {
    if (bytes <= BindingBlockAllocator::kLargestBlock) {
      return blocks_.Allocate(bytes);
    }
    return bytes <= BindingMediumBlocks::kLargestBlock ? medium_.Allocate(bytes)
                                                       : AllocateLarge(bytes);
  }
  void Free(void* block, std::size_t bytes) noexcept {
    if (bytes <= BindingBlockAllocator::kLargestBlock) {
      blocks_.Free(block, bytes);
    } else if (bytes <= BindingMediumBlocks::kLargestBlock) {
      medium_.Free(block, bytes);
    } else {
      FreeLarge(block);
    }
  }
  template <typename T, typename... Args>
  [[nodiscard]] T* New(Args&&... args) {
    static_assert(alignof(T) <= 8, "slots are aligned to at most 8 bytes");
    void* block = Allocate(sizeof(T));
    try {
      return ::new (block) T(std::forward<Args>(args)...);
    } catch (...) {
      Free(block, sizeof(T));
      throw;
    }
  }
  template <typename T>
  void Delete(T* object) noexcept {
    object->~T();
    Free(object, sizeof(T));
  }

  // A blob record holding `bytes`; listed so that Clear can free the vector's heap storage.
  [[nodiscard]] BindingBlobRecord* NewBlob(BindingBlob&& bytes);
  void DeleteBlob(BindingBlobRecord* record) noexcept;

  // Drops every text and record at once and returns the table to 8 buckets. Only for the
  // owner of the whole tree: every value that points into this context is gone afterwards.
  void Clear() noexcept;
  // Makes room for `count` texts without rehashing on the way (a deep copy into an empty
  // context knows how many it will intern). Throws std::bad_alloc.
  void ReserveTexts(std::size_t count);

  // --- Diagnostics (tests and statistics) ---
  [[nodiscard]] std::size_t InternedCount() const noexcept { return stringCount_; }
  [[nodiscard]] std::size_t BucketCount() const noexcept { return bucketCount_; }
  // The count of the entry for `text`, 0 when it is not interned.
  [[nodiscard]] uint32_t ReferenceCount(std::string_view text) const noexcept;
  // Pages of the process pool (payload records) and of the heap (texts, members, arrays).
  [[nodiscard]] std::size_t PoolPageCount() const noexcept { return records_.PoolPageCount(); }
  [[nodiscard]] std::size_t HeapPageCount() const noexcept { return blocks_.PoolPageCount(); }
  // Blocks of the heap beyond the slots: large blocks and the medium blocks' chunks.
  [[nodiscard]] std::size_t LargeBlockCount() const noexcept {
    return largeCount_ + medium_.ChunkCount();
  }

 private:
  // Heap blocks carry these links in front of the caller's bytes.
  struct alignas(16) LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
  };

  // An entry's slot: the record, the text and its NUL, rounded to the entry's alignment so that
  // the slot class keeps its link field aligned.
  [[nodiscard]] static constexpr std::size_t EntryBytes(std::size_t length) noexcept {
    constexpr std::size_t align = alignof(BindingInternedString);
    return (sizeof(BindingInternedString) + length + 1 + align - 1) & ~(align - 1);
  }
  void Rehash(uint32_t bucketCount);
  void ResetBuckets() noexcept;
  [[nodiscard]] void* AllocateLarge(std::size_t bytes);
  void FreeLarge(void* block) noexcept;

  BindingBlockAllocator records_{BindingBlockPool::Instance()};
  // Texts and members use a few classes each (keys of up to 7 bytes one, up to 15 the next,
  // members one), so their inline pages are shared ones: a small document fits inline.
  BindingBlockAllocator blocks_{BindingHeapPages(), BindingBlockAllocator::InlinePages::Shared};
  BindingMediumBlocks medium_;

  BindingInternedString** buckets_;  // inlineBuckets_ or heapBuckets_
  uint32_t bucketCount_ = kInitialBuckets;
  // The largest bucket array the table has grown into, kept when it empties (up to
  // kKeptBuckets), so that a context that builds one value after another grows its table
  // again without allocating. Each doubling splits the buckets inside it.
  BindingInternedString** heapBuckets_ = nullptr;
  uint32_t heapBucketCount_ = 0;
  std::size_t stringCount_ = 0;
  BindingInternedString* inlineBuckets_[kInlineBuckets] = {};

  LargeBlock* large_ = nullptr;
  std::size_t largeCount_ = 0;
  BindingBlobRecord* blobs_ = nullptr;
};

}  // namespace Vexa
