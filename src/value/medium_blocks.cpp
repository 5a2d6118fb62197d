#include "value/medium_blocks.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Vexa {
namespace {

constexpr std::align_val_t kChunkAlignment{BindingMediumBlocks::kGranule};

}  // namespace

void* BindingMediumBlocks::AllocateFromNewChunk(std::size_t size) {
  // The rest of the current chunk is left unused: blocks are never carved across chunks.
  const std::size_t chunkSize = std::max(nextChunk_, sizeof(Chunk) + size);
  // Asked for its alignment outright: the plain operator new promises 16 bytes, yet on 32-bit
  // Windows it comes from a heap that aligns to 8.
  auto* chunk = static_cast<Chunk*>(::operator new(chunkSize, kChunkAlignment));
  chunk->next = chunks_;
  chunks_ = chunk;
  ++chunkCount_;
  nextChunk_ = std::min(nextChunk_ * 2, kLargestChunk);
  auto* bytes = reinterpret_cast<unsigned char*>(chunk + 1);
  cursor_ = bytes + size;
  end_ = reinterpret_cast<unsigned char*>(chunk) + chunkSize;
  VEXA_POISON(cursor_, static_cast<std::size_t>(end_ - cursor_));
  return bytes;
}

void BindingMediumBlocks::ReleaseAll() noexcept {
  if (chunks_ == nullptr) {
    return;
  }
  while (chunks_ != nullptr) {
    Chunk* next = chunks_->next;
    VEXA_UNPOISON(chunks_, sizeof(Chunk));
    ::operator delete(chunks_, kChunkAlignment);
    chunks_ = next;
  }
  std::memset(free_, 0, sizeof free_);
  cursor_ = nullptr;
  end_ = nullptr;
  chunkCount_ = 0;
  nextChunk_ = kFirstChunk;
  live_ = 0;
}

}  // namespace Vexa
