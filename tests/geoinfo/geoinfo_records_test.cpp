// What a host cannot see through the seam: the GeoInfo records as the module's registry holds
// them after registration, and the arithmetic of the allocation counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binding/conversion/conversion.h"
#include "geoinfo/geoinfo_module.h"
#include "geoinfo/messages.h"
#include "runtime/allocation_counters.h"
#include "support/values.h"

namespace Vexa::Client::Api {
namespace {

using Testing::Structure;

const std::vector<std::string> kApiTags = {"Plugins", "Plugin mdl-be-kor-geoinfo"};

class GeoInfoRegistry : public ::testing::Test {
 protected:
  void SetUp() override { module_.Register(record_, kGeoInfoShortName); }

  HostLoadRecord record_{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  GeoInfoModule module_;
};

// Each record under the API name, with its size, the API tags, its fields in order and no
// help texts; the enum with its values.
TEST_F(GeoInfoRegistry, RecordsUnderTheApiNameWithTheApiTags) {
  struct Row {
    const char* name;
    uint32_t size;
    std::vector<std::string> fields;
  };
  const Row rows[] = {
      {"GeoInfo", sizeof(GeoInfo), {"country", "city", "region"}},
      {"GeoInfoResponse",
       sizeof(GeoInfoResponse),
       {"success", "geoInfo", "errorMessage", "isLatest"}},
      {"LoginSessionState", 4, {}},
      {"LoginSession", sizeof(LoginSession), {"state", "profileId", "accountId"}},
      {"GeoInfoConfig", sizeof(GeoInfoConfig), {"Enabled"}},
      {"WhereAmIRequest", sizeof(WhereAmIRequest), {"ipAddress"}},
      {"WhereAmIResponse", sizeof(WhereAmIResponse), {"country", "city", "region"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const BindingTypeDescriptor* type =
        module_.Registry().FindType(std::string("MdlBeKorGeoinfo") + row.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(std::tie(type->size, type->tags, type->description),
              std::tie(row.size, kApiTags, ""));
    std::vector<std::string> fields;
    for (const BindingFieldDescriptor& field : type->fields) {
      fields.push_back(field.name + field.description);
    }
    EXPECT_EQ(fields, row.fields);
    std::vector<std::pair<std::string, int32_t>> enumerators;
    for (const auto& [name, enumerator] : type->enumerators) {
      enumerators.emplace_back(name, enumerator.value);
    }
    const std::vector<std::pair<std::string, int32_t>> states = {
        {"ERROR", 3}, {"IN_PROGRESS", 0}, {"LOGGING_OUT", 2}, {"SUCCEEDED", 1}};  // name order
    EXPECT_EQ(enumerators, row.fields.empty() ? states : decltype(states){});
  }
}

// Nested types are found at registration, so the fields of nested records and enums convert
// only when those were registered first; every member lands in its own field.
TEST_F(GeoInfoRegistry, NestedRecordsAndFieldsConvert) {
  const BindingRegistry& registry = module_.Registry();
  EXPECT_EQ(
      ToValue(GeoInfoResponse{true, GeoInfo{"DE", "Berlin", "BE"}, "stale", true}, registry).value,
      Structure({{"success", true},
                 {"geoInfo", Structure({{"country", "DE"}, {"city", "Berlin"}, {"region", "BE"}})},
                 {"errorMessage", "stale"},
                 {"isLatest", true}}));

  LoginSession session;
  BindingResult result;
  ASSERT_TRUE(ToNative(
      result, session,
      Structure({{"state", "LOGGING_OUT"}, {"profileId", uint64_t{7}}, {"accountId", uint64_t{9}}}),
      "session", registry))
      << result.ErrorText();
  EXPECT_EQ(std::tie(session.state, session.profileId, session.accountId),
            std::make_tuple(LoginSessionState::LoggingOut, uint64_t{7}, uint64_t{9}));
}

// The test process has no allocation hooks: only this test moves the counters.
TEST(AllocationCounters, PeakIsTheMostBytesInUseWithTheLiveCountThen) {
  const AllocationCounters start = ReadAllocationCounters();
  const uint64_t inUse = start.bytesAllocated - start.bytesFreed;
  const uint64_t live = start.allocations - start.frees;
  const auto peak = [&] {
    const AllocationCounters now = ReadAllocationCounters();
    return std::make_pair(now.peakBytes - inUse, now.peakAllocations - live);
  };
  CountAllocation(100);
  CountAllocation(50);
  CountFree(100);
  CountAllocation(60);  // 110 in use: below the peak of 150
  EXPECT_EQ(peak(), std::make_pair(uint64_t{150}, uint64_t{2}));
  CountAllocation(200);
  EXPECT_EQ(peak(), std::make_pair(uint64_t{310}, uint64_t{3}));
  CountFree(200);
  CountAllocation(100);
  CountAllocation(100);  // 310 in use again, with 4 live: only exceeding it moves the peak
  EXPECT_EQ(peak(), std::make_pair(uint64_t{310}, uint64_t{3}));
  const AllocationCounters now = ReadAllocationCounters();
  EXPECT_EQ(std::make_tuple(now.bytesAllocated - start.bytesAllocated,
                            now.allocations - start.allocations, now.bytesFreed - start.bytesFreed,
                            now.frees - start.frees),
            std::make_tuple(uint64_t{610}, uint64_t{6}, uint64_t{300}, uint64_t{2}));
}

TEST(AllocationCounters, WordsAreLowWordFirstThenTwoZeros) {
  // Counter i is (0x10 * (i + 1)) << 32 | (i + 1), so that every word is told apart.
  const auto counter = [](uint64_t index) { return (0x10 * (index + 1)) << 32 | (index + 1); };
  const AllocationCounters counters{counter(0), counter(1), counter(2),
                                    counter(3), counter(4), counter(5)};
  uint32_t words[14];
  std::fill(std::begin(words), std::end(words), 0xFFFFFFFFu);
  WriteAllocationCounters(counters, words);
  for (uint32_t index = 0; index < 6; ++index) {
    EXPECT_EQ(words[2 * index], index + 1) << index;
    EXPECT_EQ(words[2 * index + 1], 0x10 * (index + 1)) << index;
  }
  EXPECT_EQ(words[12], 0u);
  EXPECT_EQ(words[13], 0u);
}

}  // namespace
}  // namespace Vexa::Client::Api
