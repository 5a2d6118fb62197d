// The plugin library's allocation hooks: every allocation and free made by the library's own
// code passes through here and is counted (diagnostics/allocation_counters.h).
//
// The object library vexa_allocation_hooks, linked into the plugin's shared library and into the
// test of these hooks, never into a static library. Whatever links it is linked with
//   -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc,--wrap=free,--wrap=strdup,--wrap=strndup
//   -Wl,--wrap=aligned_alloc
// (Windows' C runtime has neither strndup nor aligned_alloc: there the last two are left out) so
// that every call of those functions from the library's objects (the C++ runtime linked
// statically into it included) reaches the __wrap_ functions below, which call the C library's
// through __real_. The replacement operator new and delete below route the library's C++
// allocations through the same counted functions. The library's version script (on Windows: its
// one export) keeps all of these local: the host's own allocations never reach them, and the
// host never sees its allocator replaced.
//
// Blocks are counted by the allocator's usable size, so the frees balance the allocations
// exactly. That holds for aligned blocks too (aligned_alloc, posix_memalign): the C library
// trims an aligned block to a chunk of its own, whose usable size is the same when it is
// allocated and when it is freed. Windows' C runtime has no aligned block that free accepts:
// there the aligned forms of operator new carve theirs out of a larger counted block, and the
// aligned forms of operator delete give that back. Nothing here may allocate, lock or throw,
// except operator new's bad_alloc.
#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "diagnostics/allocation_counters.h"

namespace {

#if defined(_WIN32)
std::size_t UsableSize(void* block) {
  return _msize(block);
}
#else
std::size_t UsableSize(void* block) {
  return malloc_usable_size(block);
}
#endif

}  // namespace

extern "C" {

void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void __real_free(void* block);
char* __real_strdup(const char* text);
#if !defined(_WIN32)
char* __real_strndup(const char* text, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
#endif

void* __wrap_malloc(std::size_t size);
void* __wrap_calloc(std::size_t count, std::size_t size);
void* __wrap_realloc(void* block, std::size_t size);
void __wrap_free(void* block);
char* __wrap_strdup(const char* text);
#if !defined(_WIN32)
char* __wrap_strndup(const char* text, std::size_t size);
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size);
#endif

void* __wrap_malloc(std::size_t size) {
  void* block = __real_malloc(size);
  if (block != nullptr) {
    Vexa::CountAllocation(UsableSize(block));
  }
  return block;
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
  void* block = __real_calloc(count, size);
  if (block != nullptr) {
    Vexa::CountAllocation(UsableSize(block));
  }
  return block;
}

void __wrap_free(void* block) {
  if (block == nullptr) {
    return;
  }
  Vexa::CountFree(UsableSize(block));
  __real_free(block);
}

// A reallocation is the free of the old block and the allocation of the new one. realloc(null,
// n) is malloc(n); realloc(p, 0) frees p and answers null (as the C library does, made explicit
// so that the counts do not depend on it); a failed reallocation leaves the old block, and the
// counts, as they were.
void* __wrap_realloc(void* block, std::size_t size) {
  if (block == nullptr) {
    return __wrap_malloc(size);
  }
  if (size == 0) {
    __wrap_free(block);
    return nullptr;
  }
  const std::size_t oldSize = UsableSize(block);
  void* moved = __real_realloc(block, size);
  if (moved == nullptr) {
    return nullptr;
  }
  Vexa::CountFree(oldSize);
  Vexa::CountAllocation(UsableSize(moved));
  return moved;
}

// The C library allocates the copies of strdup and strndup with its own malloc, which the
// wrapping does not reach; the copies are counted here and freed through the counted free.
char* __wrap_strdup(const char* text) {
  char* copy = __real_strdup(text);
  if (copy != nullptr) {
    Vexa::CountAllocation(UsableSize(copy));
  }
  return copy;
}

#if !defined(_WIN32)
char* __wrap_strndup(const char* text, std::size_t size) {
  char* copy = __real_strndup(text, size);
  if (copy != nullptr) {
    Vexa::CountAllocation(UsableSize(copy));
  }
  return copy;
}

void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  void* block = __real_aligned_alloc(alignment, size);
  if (block != nullptr) {
    Vexa::CountAllocation(UsableSize(block));
  }
  return block;
}
#endif

}  // extern "C"

namespace {

// operator new's contract: never null; on failure run the new handler and try again, or throw
// std::bad_alloc when there is none.
template <typename Attempt>
void* RetryUntilAllocated(Attempt attempt) {
  for (;;) {
    if (void* block = attempt()) {
      return block;
    }
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

// A zero-byte request still gets a unique block.
void* Allocate(std::size_t size) {
  return RetryUntilAllocated([size = size == 0 ? 1 : size] { return __wrap_malloc(size); });
}

#if defined(_WIN32)

// Over-aligned blocks are carved out of a counted block of malloc's: the block's own address
// sits in the word before the aligned one, and FreeAligned gives the block back through the
// counted free. (The C runtime's _aligned_malloc would need _aligned_msize to be counted, which
// the system's msvcrt.dll does not offer.)
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  const std::size_t align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
  return RetryUntilAllocated([size = size == 0 ? 1 : size, align]() -> void* {
    const std::size_t overhead = align - 1 + sizeof(void*);
    if (size > SIZE_MAX - overhead) {
      return nullptr;
    }
    void* const block = __wrap_malloc(size + overhead);
    if (block == nullptr) {
      return nullptr;
    }
    const std::uintptr_t aligned =
        (reinterpret_cast<std::uintptr_t>(block) + overhead) & ~(std::uintptr_t{align} - 1);
    reinterpret_cast<void**>(aligned)[-1] = block;
    return reinterpret_cast<void*>(aligned);
  });
}

void FreeAligned(void* block, std::align_val_t /*alignment*/) noexcept {
  if (block != nullptr) {
    __wrap_free(static_cast<void**>(block)[-1]);
  }
}

#else

// Over-aligned blocks come from posix_memalign (not wrapped) and are counted here; they are
// given back with free like any other block, so the counted free path serves them too.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  // posix_memalign's minimum alignment is a pointer's.
  const std::size_t align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
  return RetryUntilAllocated([size = size == 0 ? 1 : size, align]() -> void* {
    void* block = nullptr;
    if (posix_memalign(&block, align, size) != 0 || block == nullptr) {
      return nullptr;
    }
    Vexa::CountAllocation(UsableSize(block));
    return block;
  });
}

void FreeAligned(void* block, std::align_val_t /*alignment*/) noexcept {
  __wrap_free(block);
}

#endif

template <typename Allocation>
void* WithoutThrowing(Allocation allocation) noexcept {
  try {
    return allocation();
  } catch (...) {
    return nullptr;
  }
}

void* AllocateNoThrow(std::size_t size) noexcept {
  return WithoutThrowing([size] { return Allocate(size); });
}

void* AllocateAlignedNoThrow(std::size_t size, std::align_val_t alignment) noexcept {
  return WithoutThrowing([size, alignment] { return AllocateAligned(size, alignment); });
}

}  // namespace

// --- Replacement operator new and delete (local to the library by its version script) ---

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateNoThrow(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAlignedNoThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAlignedNoThrow(size, alignment);
}

void operator delete(void* block) noexcept {
  __wrap_free(block);
}
void operator delete[](void* block) noexcept {
  __wrap_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  __wrap_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  __wrap_free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  __wrap_free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  __wrap_free(block);
}
void operator delete(void* block, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  FreeAligned(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  FreeAligned(block, alignment);
}
