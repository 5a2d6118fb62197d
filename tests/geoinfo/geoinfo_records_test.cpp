// What a host cannot see through the seam: the GeoInfo records as the module's registry holds
// them after registration, and the arithmetic of the allocation counters.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/conversion/conversion.h"
#include "diagnostics/allocation_counters.h"
#include "geoinfo/geoinfo_module.h"
#include "geoinfo/messages.h"
#include "support/values.h"

namespace Vexa::Client::Api {
namespace {

using Testing::Structure;

// Each record under the API name with the API tags and no help text, its fields in order; the
// enum with its values (in name order). The runtime's own, under their plain names with the
// one tag "vclient", beside them.
TEST(GeoInfoRecords, UnderTheApiNameWithTheApiTags) {
  GeoInfoModule module;
  module.Register(PluginApiVersion{18, 0, 0, {}, {}}, kGeoInfoShortName);
  const auto check = [&](const std::string& prefix, const std::vector<std::string>& tags,
                         std::initializer_list<std::string> rows) {
    for (const std::string& row : rows) {
      const std::string name = row.substr(0, row.find(' '));
      const BindingTypeDescriptor* type = module.Registry().FindType(prefix + name);
      ASSERT_NE(type, nullptr) << name;
      std::string described = name;
      for (const BindingFieldDescriptor& field : type->fields) {
        described += " " + field.name;
      }
      for (const auto& [key, enumerator] : type->enumerators) {
        described += " " + key + "=" + std::to_string(enumerator.value);
      }
      EXPECT_EQ(std::tie(described, type->tags, type->description), std::tie(row, tags, ""));
    }
  };
  check("MdlBeKorGeoinfo", {"Plugins", "Plugin mdl-be-kor-geoinfo"},
        {"GeoInfo country city region", "GeoInfoResponse success geoInfo errorMessage isLatest",
         "LoginSessionState ERROR=3 IN_PROGRESS=0 LOGGING_OUT=2 SUCCEEDED=1",
         "LoginSession state profileId accountId", "GeoInfoConfig Enabled",
         "WhereAmIRequest ipAddress", "WhereAmIResponse country city region"});
  check("", {"vclient"},
        {"PluginManagerState NotReady=0 PluginsInitialized=1", "PluginManagerResource state",
         "PluginResourceEventType Create=0 Delete=2 Update=1",
         "PluginResourceEvent uri eventType data",
         "PluginLcdsEvent clientId subtopic typeName body", "PluginLcdsResponse typeName body",
         "PluginServiceProxyResponse uuid serviceName methodName payload status error"});
  // Every member lands in its own field; a nested enum converts, as it was registered first.
  EXPECT_EQ(ToValue(GeoInfo{"DE", "Berlin", "BE"}, module.Registry()).value,
            Structure({{"country", "DE"}, {"city", "Berlin"}, {"region", "BE"}}));
  LoginSession session;
  BindingResult result;
  EXPECT_TRUE(ToNative(result, session, Structure({{"state", "LOGGING_OUT"}}), "session",
                       module.Registry()))
      << result.ErrorText();
  EXPECT_EQ(session.state, LoginSessionState::LoggingOut);
}

// The test process has no allocation hooks: only this test moves the counters.
TEST(AllocationCounters, PeakIsTheMostBytesInUseWithTheLiveCountThen) {
  const AllocationCounters start = ReadAllocationCounters();
  const auto moved = [&] {
    const AllocationCounters now = ReadAllocationCounters();
    return std::make_tuple(now.peakBytes - (start.bytesAllocated - start.bytesFreed),
                           now.peakAllocations - (start.allocations - start.frees),
                           now.bytesAllocated - start.bytesAllocated,
                           now.allocations - start.allocations, now.bytesFreed - start.bytesFreed,
                           now.frees - start.frees);
  };
  using Moved = std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t>;
  CountAllocation(100);
  CountAllocation(50);
  CountFree(100);
  CountAllocation(60);  // 110 in use: below the peak of 150
  EXPECT_EQ(moved(), Moved(150, 2, 210, 3, 100, 1));
  CountAllocation(200);
  CountFree(200);
  CountAllocation(100);
  CountAllocation(100);  // 310 in use again, with 4 live: only exceeding it moves the peak
  EXPECT_EQ(moved(), Moved(310, 3, 610, 6, 300, 2));
}

TEST(AllocationCounters, WordsAreLowWordFirstThenTwoZeros) {
  std::vector<uint32_t> words(14, 0xFFFFFFFFu);
  WriteAllocationCounters({1, 2, 3, 4, 5, uint64_t{6} << 32 | 7}, words.data());
  EXPECT_EQ(words, (std::vector<uint32_t>{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 7, 6, 0, 0}));
}

}  // namespace
}  // namespace Vexa::Client::Api
