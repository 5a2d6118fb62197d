// Counting the C allocator of a benchmark binary: glibc lets a program replace malloc and
// friends, and every operator new of the binary ends in malloc, so linking malloc_counter.cpp
// into a benchmark counts every heap allocation its code makes.
//
//   Vexa::Bench::MallocCounter::Start();
//   ... the measured work ...
//   Vexa::Bench::MallocCounter::Stop();
//   Vexa::Bench::MallocCounter::Calls();      // allocations while counting
//   Vexa::Bench::MallocCounter::PeakBytes();  // most bytes held at once (usable sizes)
//
// Counting is switched on only between Start and Stop; outside, the hooks only forward.
#pragma once

namespace Vexa::Bench::MallocCounter {

// Resets the figures and starts counting.
void Start() noexcept;
void Stop() noexcept;
[[nodiscard]] long long Calls() noexcept;
[[nodiscard]] long long LiveBytes() noexcept;
[[nodiscard]] long long PeakBytes() noexcept;

}  // namespace Vexa::Bench::MallocCounter
