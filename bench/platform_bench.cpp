// The page reservations behind every value's blocks: a reservation released and taken again,
// as a request that builds and drops a value does, through the platform's cache of released
// ranges, against a fresh mapping and unmapping each time. Both write a byte to the first and
// the last page, as a value's first blocks would.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include "platform/pages.h"
#include "ratio.h"

namespace {

using Vexa::Platform::kReservationSize;

void Touch(void* block) {
  auto* bytes = static_cast<volatile unsigned char*>(block);
  bytes[0] = 1;
  bytes[kReservationSize - 1] = 1;
}

void BM_ReservationTakenAgain(benchmark::State& state) {
  for (auto _ : state) {
    void* block = Vexa::Platform::ReservePages(kReservationSize);
    Touch(block);
    Vexa::Platform::ReleasePages(block, kReservationSize);
  }
}

void BM_FreshMapping(benchmark::State& state) {
  for (auto _ : state) {
    void* block =
        mmap(nullptr, kReservationSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    Touch(block);
    munmap(block, kReservationSize);
  }
}

}  // namespace

BENCHMARK(BM_ReservationTakenAgain);
BENCHMARK(BM_FreshMapping);
VEXA_BENCHMARK_RATIO(BM_ReservationTakenAgain, BM_FreshMapping);
