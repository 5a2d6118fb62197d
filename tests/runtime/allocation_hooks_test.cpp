// The plugin's allocation hooks (runtime/allocation_hooks.cpp), linked into this test as into
// the plugin: every C allocation call that the hooks wrap is counted by its block's usable size,
// and its free by the same.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>

#include "diagnostics/allocation_counters.h"

namespace Vexa {
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

struct WrappedCall {
  const char* name;
  void* (*allocate)();
};

TEST(AllocationHooks, CountEveryWrappedCallByUsableSizeAndItsFreeByTheSame) {
  // strndup copies fewer bytes than the text holds, so that no compiler turns it into strdup.
  // Windows' C runtime has neither strndup nor aligned_alloc.
  const WrappedCall calls[] = {
    {"strdup", [] { return static_cast<void*>(strdup("where am I")); }},
#if !defined(_WIN32)
    {"strndup", [] { return static_cast<void*>(strndup("where am I", 5)); }},
    {"aligned_alloc", [] { return std::aligned_alloc(256, 512); }},
#endif
  };
  for (const WrappedCall& call : calls) {
    SCOPED_TRACE(call.name);
    const AllocationCounters before = ReadAllocationCounters();
    void* const block = call.allocate();
    const AllocationCounters allocated = ReadAllocationCounters();
    const std::size_t usable = block != nullptr ? UsableSize(block) : 0;
    std::free(block);
    const AllocationCounters freed = ReadAllocationCounters();
    ASSERT_NE(usable, 0u);
    EXPECT_EQ(
        std::make_tuple(allocated.allocations - before.allocations,
                        allocated.bytesAllocated - before.bytesAllocated,
                        freed.frees - allocated.frees, freed.bytesFreed - allocated.bytesFreed),
        std::make_tuple(1u, usable, 1u, usable));
  }
}

// Over-aligned operator new has a path of its own on each system; whatever it counts, its
// delete counts back, and the block is as aligned as asked.
TEST(AllocationHooks, OverAlignedNewIsAlignedAndItsDeleteBalancesTheCounts) {
  for (const std::size_t alignment : {std::size_t{64}, std::size_t{4096}}) {
    SCOPED_TRACE(alignment);
    const AllocationCounters before = ReadAllocationCounters();
    void* const block = ::operator new (100, std::align_val_t{alignment});
    const AllocationCounters allocated = ReadAllocationCounters();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
    std::memset(block, 0xC3, 100);
    ::operator delete (block, std::align_val_t{alignment});
    const AllocationCounters freed = ReadAllocationCounters();
    EXPECT_EQ(allocated.allocations - before.allocations, 1u);
    EXPECT_GE(allocated.bytesAllocated - before.bytesAllocated, 100u);
    EXPECT_EQ(
        std::make_tuple(freed.frees - allocated.frees, freed.bytesFreed - allocated.bytesFreed),
        std::make_tuple(1u, allocated.bytesAllocated - before.bytesAllocated));
  }
}

}  // namespace
}  // namespace Vexa
