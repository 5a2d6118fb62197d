// Format against snprintf of the equivalent printf template into a std::string, the cost
// that callers would otherwise pay for the same message.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "ratio.h"
#include "util/format.h"

namespace {

const std::string kMethod = "GET";
constexpr int kStatus = 404;
constexpr double kSeconds = 1.25;
const std::string kTypeName = "GeoInfoResponse";

std::string SnprintfToString(const char* templ, auto... values) {
  char buffer[4096];
  const int length = std::snprintf(buffer, sizeof(buffer), templ, values...);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void BM_FormatThreeArguments(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(Vexa::Format("Request %1 failed with status %2 after %3 seconds",
                                          kMethod, kStatus, kSeconds));
  }
}

void BM_SnprintfThreeArguments(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SnprintfToString("Request %s failed with status %d after %g seconds",
                                              kMethod.c_str(), kStatus, kSeconds));
  }
}

void BM_FormatOneString(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(Vexa::Format("Wait: future<%1>", kTypeName));
  }
}

void BM_SnprintfOneString(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SnprintfToString("Wait: future<%s>", kTypeName.c_str()));
  }
}

// A width of a billion costs about what the 4095 bytes of it that fit cost, not a billion
// bytes of padding.
void BM_FormatHugeWidth(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(Vexa::Format("%*d", 1000000000, kStatus));
  }
}

void BM_FormatFullWidth(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(Vexa::Format("%*d", 4095, kStatus));
  }
}

}  // namespace

BENCHMARK(BM_FormatThreeArguments);
BENCHMARK(BM_SnprintfThreeArguments);
VEXA_BENCHMARK_RATIO(BM_FormatThreeArguments, BM_SnprintfThreeArguments);
BENCHMARK(BM_FormatOneString);
BENCHMARK(BM_SnprintfOneString);
VEXA_BENCHMARK_RATIO(BM_FormatOneString, BM_SnprintfOneString);
BENCHMARK(BM_FormatHugeWidth);
BENCHMARK(BM_FormatFullWidth);
VEXA_BENCHMARK_RATIO(BM_FormatHugeWidth, BM_FormatFullWidth);
