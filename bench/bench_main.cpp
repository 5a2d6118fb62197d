// The main of every benchmark binary: runs the registered benchmarks with the console
// reporter, then prints each registered subject/anchor ratio from the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ratio.h"

namespace Vexa::Bench {
namespace {

std::vector<std::pair<std::string, std::string>>& Ratios() {
  static std::vector<std::pair<std::string, std::string>> ratios;
  return ratios;
}

// Keeps the time per iteration of every run (by its name, arguments included) while the
// console reporter prints as usual.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    for (const auto& [subject, anchor] : Ratios()) {
      // A benchmark with arguments is named "BM_X/arg"; compare every variant of the
      // subject with the anchor variant of the same suffix.
      for (const auto& [name, time] : times_) {
        if (name.compare(0, subject.size(), subject) != 0 ||
            (name.size() > subject.size() && name[subject.size()] != '/')) {
          continue;
        }
        const std::string suffix = name.substr(subject.size());
        const auto found = times_.find(anchor + suffix);
        if (found != times_.end() && found->second > 0) {
          std::printf("ratio %s / %s = %.3f\n", name.c_str(), (anchor + suffix).c_str(),
                      time / found->second);
        }
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int RegisterRatio(const char* subject, const char* anchor) {
  Ratios().emplace_back(subject, anchor);
  return 0;
}

}  // namespace Vexa::Bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  Vexa::Bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
