#include "diagnostics/allocation_counters.h"

#include <atomic>

namespace Vexa {
namespace {

// Called from inside the allocation hooks: nothing here may allocate, lock or throw. Each
// counter is exact on its own; the relation between them is only as consistent as the
// interleaving of the threads that update them (see the header).
struct Counters {
  std::atomic<uint64_t> peakBytes{0};
  std::atomic<uint64_t> peakAllocations{0};
  std::atomic<uint64_t> bytesAllocated{0};
  std::atomic<uint64_t> allocations{0};
  std::atomic<uint64_t> bytesFreed{0};
  std::atomic<uint64_t> frees{0};
};

// Constant-initialised, so that allocations made before any constructor runs (the C++
// runtime's own start-up inside the library) are counted too.
constinit Counters counters;

constexpr auto kOrder = std::memory_order_relaxed;

}  // namespace

void CountAllocation(std::size_t usableSize) noexcept {
  const uint64_t allocated = counters.bytesAllocated.fetch_add(usableSize, kOrder) + usableSize;
  const uint64_t allocations = counters.allocations.fetch_add(1, kOrder) + 1;
  const uint64_t freed = counters.bytesFreed.load(kOrder);
  // Another thread's free may be seen before its allocation: never let that wrap around.
  if (freed >= allocated) {
    return;
  }
  const uint64_t inUse = allocated - freed;
  uint64_t peak = counters.peakBytes.load(kOrder);
  while (inUse > peak) {
    if (counters.peakBytes.compare_exchange_weak(peak, inUse, kOrder)) {
      const uint64_t frees = counters.frees.load(kOrder);
      counters.peakAllocations.store(allocations > frees ? allocations - frees : 0, kOrder);
      return;
    }
  }
}

void CountFree(std::size_t usableSize) noexcept {
  counters.bytesFreed.fetch_add(usableSize, kOrder);
  counters.frees.fetch_add(1, kOrder);
}

AllocationCounters ReadAllocationCounters() noexcept {
  AllocationCounters read;
  read.peakBytes = counters.peakBytes.load(kOrder);
  read.peakAllocations = counters.peakAllocations.load(kOrder);
  read.bytesAllocated = counters.bytesAllocated.load(kOrder);
  read.allocations = counters.allocations.load(kOrder);
  read.bytesFreed = counters.bytesFreed.load(kOrder);
  read.frees = counters.frees.load(kOrder);
  return read;
}

void WriteAllocationCounters(const AllocationCounters& read, uint32_t words[14]) noexcept {
  const uint64_t values[6] = {read.peakBytes,   read.peakAllocations, read.bytesAllocated,
                              read.allocations, read.bytesFreed,      read.frees};
  for (int index = 0; index < 6; ++index) {
    words[2 * index] = static_cast<uint32_t>(values[index]);
    words[2 * index + 1] = static_cast<uint32_t>(values[index] >> 32);
  }
  words[12] = 0;
  words[13] = 0;
}

}  // namespace Vexa
