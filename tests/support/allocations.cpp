// The global operator new and delete, counting live blocks (see allocations.h).
#include "support/allocations.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> live{0};

void* Take(std::size_t size, std::size_t alignment) {
  size = size == 0 ? 1 : size;
  void* block = alignment <= alignof(std::max_align_t)
                    ? std::malloc(size)
                    : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
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
  Give(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Give(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Give(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Give(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Give(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Give(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Give(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Give(block);
}
