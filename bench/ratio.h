// Ratios between a benchmark and its anchor, printed after the usual table.
//
//   BENCHMARK(BM_FormatThreeArguments);
//   BENCHMARK(BM_SnprintfThreeArguments);
//   VEXA_BENCHMARK_RATIO(BM_FormatThreeArguments, BM_SnprintfThreeArguments);
//
// prints "ratio BM_FormatThreeArguments / BM_SnprintfThreeArguments = 1.23" (time per
// iteration of the subject over the anchor's: below 1 means the subject is faster).
#pragma once

namespace Vexa::Bench {

// Records that `subject` is to be compared with `anchor`; returns a dummy for static use.
int RegisterRatio(const char* subject, const char* anchor);

}  // namespace Vexa::Bench

#define VEXA_BENCH_CONCAT_INNER(a, b) a##b
#define VEXA_BENCH_CONCAT(a, b) VEXA_BENCH_CONCAT_INNER(a, b)
#define VEXA_BENCHMARK_RATIO(subject, anchor)                                       \
  [[maybe_unused]] static const int VEXA_BENCH_CONCAT(vexaRatio, __LINE__) = \
      ::Vexa::Bench::RegisterRatio(#subject, #anchor)
