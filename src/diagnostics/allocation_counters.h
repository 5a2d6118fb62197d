// The plugin's allocation statistics: six counters that every allocation and free made by the
// plugin's own code updates (the plugin library routes its operator new and delete and its C
// allocation calls through them; a host's allocations never reach them).
//
//   Vexa::AllocationCounters counters = Vexa::ReadAllocationCounters();
//   uint64_t live = counters.allocations - counters.frees;
//
// Sizes are the allocator's usable sizes of the blocks. A reallocation counts as the free of
// the old block and the allocation of the new one.
//
// Threading: the counters are atomic; a reading taken while other threads allocate is a set of
// individually exact counters, not a consistent snapshot.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vexa {

struct AllocationCounters {
  uint64_t peakBytes = 0;        // most bytes in use at once
  uint64_t peakAllocations = 0;  // live allocations when that peak was reached
  uint64_t bytesAllocated = 0;
  uint64_t allocations = 0;
  uint64_t bytesFreed = 0;
  uint64_t frees = 0;
};

// Counts one allocation of a block of `usableSize` bytes, raising the peak when the bytes in
// use exceed it.
void CountAllocation(std::size_t usableSize) noexcept;
// Counts one free of a block of `usableSize` bytes.
void CountFree(std::size_t usableSize) noexcept;

[[nodiscard]] AllocationCounters ReadAllocationCounters() noexcept;

// Writes the six counters as 64-bit numbers, low word first, into words 0 to 11 of `words`,
// and zero into words 12 and 13.
void WriteAllocationCounters(const AllocationCounters& counters, uint32_t words[14]) noexcept;

}  // namespace Vexa
