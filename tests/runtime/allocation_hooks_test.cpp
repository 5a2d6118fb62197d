// The plugin's allocation hooks (runtime/allocation_hooks.cpp), linked into this test as into
// the plugin: every C allocation call that the hooks wrap is counted by its block's usable size,
// and its free by the same.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "diagnostics/allocation_counters.h"

namespace Vexa {
namespace {

struct WrappedCall {
  const char* name;
  void* (*allocate)();
};

TEST(AllocationHooks, CountEveryWrappedCallByUsableSizeAndItsFreeByTheSame) {
  // strndup copies fewer bytes than the text holds, so that no compiler turns it into strdup.
  const WrappedCall calls[] = {
      {"strdup", [] { return static_cast<void*>(strdup("where am I")); }},
      {"strndup", [] { return static_cast<void*>(strndup("where am I", 5)); }},
      {"aligned_alloc", [] { return std::aligned_alloc(256, 512); }},
  };
  for (const WrappedCall& call : calls) {
    SCOPED_TRACE(call.name);
    const AllocationCounters before = ReadAllocationCounters();
    void* const block = call.allocate();
    const AllocationCounters allocated = ReadAllocationCounters();
    const std::size_t usable = block != nullptr ? malloc_usable_size(block) : 0;
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

}  // namespace
}  // namespace Vexa
