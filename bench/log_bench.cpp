// The cost of a log call: one the global level drops (no formatting may happen), and one
// that a target renders into a line, each against a plain snprintf of the same message.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "diagnostics/log.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"
#include "ratio.h"

namespace Vexa::Bench {
namespace {

constexpr const char* kTemplate = "%s: request %d for %s took %.3f ms";
constexpr const char* kModule = "mdl-be-kor-geoinfo";
constexpr const char* kEndpoint = "/kor-geoinfo/v1/whereami";

// Renders every line it is handed with the default template, then drops it.
class DiscardingTarget : public LogTarget {
 public:
  DiscardingTarget() { RouteWriteEntryToWrite(); }
  ~DiscardingTarget() override { Detach(); }
  bool Write(const LogRecord& record) override {
    char line[kLogBufferSize];
    benchmark::DoNotOptimize(FormatLine(line, sizeof line, LineTemplate(record), &record));
    benchmark::ClobberMemory();
    return true;
  }
};

// A manager with only the discarding target attached, for the length of one benchmark.
class QuietManager {
 public:
  QuietManager() {
    LogManager::Init();
    LogManager* manager = LogManager::Instance();
    manager->StdErrTarget().Detach();
    manager->DebuggerTarget().Detach();
    target_.Configure({kLevelOkay, 0, 0, kDefaultLineTemplate});
  }
  ~QuietManager() {
    target_.Detach();
    LogManager::Shutdown();
  }

 private:
  DiscardingTarget target_;
};

void BM_LogDroppedByLevel(benchmark::State& state) {
  QuietManager manager;
  int request = 0;
  for (auto _ : state) {
    Log(kLevelOkay, kGroupDebug, kTemplate, kModule, ++request, kEndpoint, 1.25);
  }
}

void BM_LogRenderedByTarget(benchmark::State& state) {
  QuietManager manager;
  int request = 0;
  for (auto _ : state) {
    Log(kLevelError, kGroupDebug, kTemplate, kModule, ++request, kEndpoint, 1.25);
  }
}

// The anchor: the message alone, formatted into a buffer of the size the log uses.
void BM_SnprintfMessage(benchmark::State& state) {
  int request = 0;
  for (auto _ : state) {
    char message[kLogBufferSize];
    benchmark::DoNotOptimize(
        std::snprintf(message, sizeof message, kTemplate, kModule, ++request, kEndpoint, 1.25));
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_LogDroppedByLevel);
BENCHMARK(BM_LogRenderedByTarget);
BENCHMARK(BM_SnprintfMessage);
VEXA_BENCHMARK_RATIO(BM_LogDroppedByLevel, BM_SnprintfMessage);
VEXA_BENCHMARK_RATIO(BM_LogRenderedByTarget, BM_SnprintfMessage);

}  // namespace
}  // namespace Vexa::Bench
