// The global operator new and delete, counting live blocks (see allocations.h).
#include "support/allocations.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> live{0};

// The aligned forms of new take their blocks from aligned_alloc, or on Windows, whose C runtime
// has none that free accepts, from _aligned_malloc (even for 16 bytes, which Windows' 32-bit
// heap does not promise); the aligned forms of delete give them back through GiveAligned.
void* AllocateAligned(std::size_t size, std::size_t alignment) {
#if defined(_WIN32)
  return _aligned_malloc(size, alignment);
#else
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}

void* Take(std::size_t size, std::size_t alignment) {
  size = size == 0 ? 1 : size;
  void* block = alignment == 0 ? std::malloc(size) : AllocateAligned(size, alignment);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void Give(void* block) noexcept {
  if (block != nullptr) {
    live.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
  }
}

void GiveAligned(void* block) noexcept {
#if defined(_WIN32)
  if (block != nullptr) {
    live.fetch_sub(1, std::memory_order_relaxed);
    _aligned_free(block);
  }
#else
  Give(block);
#endif
}

}  // namespace

long Vexa::Testing::LiveAllocations() noexcept {
  return live.load(std::memory_order_relaxed);
}

// Every form, so that none is left to a library's own operators (the sanitizer runtime has its
// own, and would see blocks pass between the two).
void* operator new(std::size_t size) {
  return Take(size, 0);
}
void* operator new[](std::size_t size) {
  return Take(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return Take(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return Take(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Take(size, 0);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, nothrow);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return Take(size, static_cast<std::size_t>(alignment));
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t& nothrow) noexcept {
  return operator new(size, alignment, nothrow);
}
void operator delete(void* block) noexcept {
  Give(block);
}
void operator delete[](void* block) noexcept {
  Give(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Give(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Give(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  GiveAligned(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  GiveAligned(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  GiveAligned(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  GiveAligned(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Give(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Give(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  GiveAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  GiveAligned(block);
}
