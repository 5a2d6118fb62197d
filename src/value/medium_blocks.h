// BindingMediumBlocks: the per-context allocator of blocks from just past the slot sizes up to
// 1 KiB: the longer texts, the element arrays of lists, the member indexes of records.
//
//   Vexa::BindingMediumBlocks blocks;            // allocates nothing yet
//   void* text = blocks.Allocate(200);           // 208 bytes carved from a chunk
//   blocks.Free(text, 200);                      // the same size that was asked for
//
// A decoded document asks for hundreds of these and drops them all together; from the heap
// each would cost a malloc and a free, and the many frees of one size overflow the heap's
// per-thread caches into its slow paths. Here blocks are carved in order from chunks taken
// from the heap (4 KiB first, each next one twice the last, up to 64 KiB), in sizes rounded up
// to 16 bytes. A freed block goes on the free list of its size and is handed out again for
// that size first. The chunks go back to the heap when the last block is freed, or at
// ReleaseAll; in between, freed blocks wait for a block of their size, so what a context holds
// is bounded by the most it ever held of each size.
//
// Threading: none; an allocator belongs to one value tree, used by one thread at a time.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "value/sanitizer.h"

namespace Vexa {

class BindingMediumBlocks {
 public:
  static constexpr std::size_t kGranule = 16;
  static constexpr std::size_t kLargestBlock = 1024;
  static constexpr std::size_t kFirstChunk = 4096;
  static constexpr std::size_t kLargestChunk = 65536;

  BindingMediumBlocks() noexcept = default;
  ~BindingMediumBlocks() { ReleaseAll(); }
  BindingMediumBlocks(const BindingMediumBlocks&) = delete;
  BindingMediumBlocks& operator=(const BindingMediumBlocks&) = delete;

  // A block of at least `bytes` (1 to kLargestBlock) bytes, aligned to 16. Throws
  // std::bad_alloc when the heap has no chunk to give.
  [[nodiscard]] void* Allocate(std::size_t bytes) {
    assert(bytes >= 1 && bytes <= kLargestBlock);
    const std::size_t index = (bytes - 1) / kGranule;
    const std::size_t size = (index + 1) * kGranule;
    void* block = free_[index];
    if (block != nullptr) {
      VEXA_UNPOISON(block, size);
      free_[index] = *static_cast<void**>(block);
    } else if (static_cast<std::size_t>(end_ - cursor_) >= size) {
      block = cursor_;
      cursor_ += size;
      VEXA_UNPOISON(block, size);
    } else {
      block = AllocateFromNewChunk(size);
    }
    ++live_;
    return block;
  }

  // Returns a block from Allocate, with the size that was asked for. The last one returns
  // every chunk to the heap.
  void Free(void* block, std::size_t bytes) noexcept {
    assert(bytes >= 1 && bytes <= kLargestBlock && live_ > 0);
    if (--live_ == 0) {
      ReleaseAll();
      return;
    }
    const std::size_t index = (bytes - 1) / kGranule;
    *static_cast<void**>(block) = free_[index];
    free_[index] = block;
    VEXA_POISON(block, (index + 1) * kGranule);
  }

  // Drops every block at once and returns the chunks to the heap.
  void ReleaseAll() noexcept;

  // Diagnostics: chunks held now.
  [[nodiscard]] std::size_t ChunkCount() const noexcept { return chunkCount_; }

 private:
  struct alignas(16) Chunk {
    Chunk* next;
  };

  void* AllocateFromNewChunk(std::size_t size);

  static constexpr std::size_t kSizes = kLargestBlock / kGranule;
  void* free_[kSizes] = {};          // freed blocks of each size, linked through their first word
  unsigned char* cursor_ = nullptr;  // the untouched rest of the newest chunk
  unsigned char* end_ = nullptr;
  Chunk* chunks_ = nullptr;
  std::size_t chunkCount_ = 0;
  std::size_t nextChunk_ = kFirstChunk;
  std::size_t live_ = 0;
};

}  // namespace Vexa
