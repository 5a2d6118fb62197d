// The registry used from two threads at once: both register the same type names, look them up,
// list them and register and remove functions. The registry's one mutex must make every
// check-then-insert a single step and keep the generation exact.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "binding/registry.h"
#include "support/start_gate.h"

namespace Vexa {
namespace {

TEST(RegistryThreads, EachNameGetsOneDescriptorAndTheGenerationCountsEveryChange) {
  constexpr int kNames = 300;
  BindingRegistry registry;
  registry.Initialize();
  const std::size_t builtinTypes = registry.TypesSnapshot().size();
  const uint32_t generation = registry.Generation();
  std::vector<std::string> names;
  for (int index = 0; index < kNames; ++index) {
    names.push_back("Type" + std::to_string(index));
  }
  std::atomic<int> created{0};
  std::atomic<int> strays{0};  // a lookup that found another descriptor than the name's own
  // Both begin together and walk the names from opposite ends, so that each inserts while the
  // other looks up, and they meet in the middle on the same names.
  Testing::StartGate start(2);
  const auto work = [&](const std::string& thread) {
    start.ArriveAndWait();
    for (int step = 0; step < kNames; ++step) {
      const std::string& name = names[thread == "a" ? step : kNames - 1 - step];
      const BindingTypeBuilder builder =
          registry.RegisterType(name, 4, StaticTypeInfoOf<void>(), false);
      created += builder.Existed() ? 0 : 1;
      if (registry.FindType(name) != &builder.Descriptor() ||
          registry.TypesSnapshot().at(name)->name != name) {
        ++strays;
      }
      registry.RemoveFunction(&registry.RegisterFunction(name + thread, 1));
    }
  };
  std::thread other(work, "b");
  work("a");
  other.join();
  EXPECT_EQ(created, kNames);
  EXPECT_EQ(strays, 0);
  EXPECT_EQ(registry.TypesSnapshot().size(), builtinTypes + kNames);
  EXPECT_EQ(registry.Generation(), generation + 4 * kNames);  // two threads, two changes each
  EXPECT_EQ(registry.FindFunction("Type0a"), nullptr);
}

}  // namespace
}  // namespace Vexa
