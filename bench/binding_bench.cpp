// BindingProperty against nlohmann::json doing the same work in the same run: building and
// dropping one wide structure and a list of small records, and deep copies of both. Keys and
// texts are prepared outside the timed loops and handed to both sides alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "ratio.h"
#include "value/property.h"
#include "value/result.h"

namespace {

using Vexa::BindingProperty;
using Json = nlohmann::json;

constexpr int kWideMembers = 10000;
constexpr int kRecords = 1000;

// 10,000 distinct keys in a shuffled (not sorted) order.
const std::vector<std::string>& WideKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> made;
    for (int index = 0; index < kWideMembers; ++index) {
      made.push_back("member" + std::to_string(index));
    }
    std::shuffle(made.begin(), made.end(), std::mt19937(42));
    return made;
  }();
  return keys;
}

// The ten keys that every record repeats, and a few recurring texts for its values.
const std::vector<std::string> kRecordKeys = {"id",     "name",     "country",   "city",
                                              "region", "latitude", "longitude", "active",
                                              "score",  "updated"};
const std::vector<std::string>& Cities() {
  static const std::vector<std::string> cities = [] {
    std::vector<std::string> made;
    for (int index = 0; index < 50; ++index) {
      made.push_back("City number " + std::to_string(index));
    }
    return made;
  }();
  return cities;
}

BindingProperty BuildWideBinding() {
  BindingProperty value;
  const std::vector<std::string>& keys = WideKeys();
  for (int index = 0; index < kWideMembers; ++index) {
    value.Member(keys[index]) = index;
  }
  return value;
}

Json BuildWideJson() {
  Json value = Json::object();
  const std::vector<std::string>& keys = WideKeys();
  for (int index = 0; index < kWideMembers; ++index) {
    value[keys[index]] = index;
  }
  return value;
}

BindingProperty BuildRecordsBinding() {
  BindingProperty list;
  const std::vector<std::string>& cities = Cities();
  for (int index = 0; index < kRecords; ++index) {
    BindingProperty& record = list.Append();
    record.Member(kRecordKeys[0]) = index;
    record.Member(kRecordKeys[1]) = "Someone";
    record.Member(kRecordKeys[2]) = "DE";
    record.Member(kRecordKeys[3]) = cities[index % 50];
    record.Member(kRecordKeys[4]) = "BY";
    record.Member(kRecordKeys[5]) = 48.1 + index * 0.001;
    record.Member(kRecordKeys[6]) = 11.5 - index * 0.001;
    record.Member(kRecordKeys[7]) = index % 2 == 0;
    record.Member(kRecordKeys[8]) = static_cast<uint64_t>(index) * 3;
    record.Member(kRecordKeys[9]) = int64_t{1700000000} + index;
  }
  return list;
}

Json BuildRecordsJson() {
  Json list = Json::array();
  const std::vector<std::string>& cities = Cities();
  for (int index = 0; index < kRecords; ++index) {
    Json& record = list.emplace_back(Json::object());
    record[kRecordKeys[0]] = index;
    record[kRecordKeys[1]] = "Someone";
    record[kRecordKeys[2]] = "DE";
    record[kRecordKeys[3]] = cities[index % 50];
    record[kRecordKeys[4]] = "BY";
    record[kRecordKeys[5]] = 48.1 + index * 0.001;
    record[kRecordKeys[6]] = 11.5 - index * 0.001;
    record[kRecordKeys[7]] = index % 2 == 0;
    record[kRecordKeys[8]] = static_cast<uint64_t>(index) * 3;
    record[kRecordKeys[9]] = int64_t{1700000000} + index;
  }
  return list;
}

// --- (a) one structure of 10,000 distinct keys, built and destroyed ---

void BM_BindingWideBuild(benchmark::State& state) {
  WideKeys();
  for (auto _ : state) {
    BindingProperty value = BuildWideBinding();
    benchmark::DoNotOptimize(&value);
  }
}

void BM_JsonWideBuild(benchmark::State& state) {
  WideKeys();
  for (auto _ : state) {
    Json value = BuildWideJson();
    benchmark::DoNotOptimize(&value);
  }
}

// --- (b) 1,000 records of 10 members in a collection, built and destroyed ---

void BM_BindingRecordsBuild(benchmark::State& state) {
  Cities();
  for (auto _ : state) {
    BindingProperty value = BuildRecordsBinding();
    benchmark::DoNotOptimize(&value);
  }
}

void BM_JsonRecordsBuild(benchmark::State& state) {
  Cities();
  for (auto _ : state) {
    Json value = BuildRecordsJson();
    benchmark::DoNotOptimize(&value);
  }
}

// --- (c) deep copies of both (each copy destroyed again) ---

void BM_BindingWideCopy(benchmark::State& state) {
  const BindingProperty original = BuildWideBinding();
  for (auto _ : state) {
    BindingProperty copy(original);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_JsonWideCopy(benchmark::State& state) {
  const Json original = BuildWideJson();
  for (auto _ : state) {
    Json copy(original);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_BindingRecordsCopy(benchmark::State& state) {
  const BindingProperty original = BuildRecordsBinding();
  for (auto _ : state) {
    BindingProperty copy(original);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_JsonRecordsCopy(benchmark::State& state) {
  const Json original = BuildRecordsJson();
  for (auto _ : state) {
    Json copy(original);
    benchmark::DoNotOptimize(&copy);
  }
}

// --- (d) the wide structure built, then walked once in key order, then destroyed ---
// Structures sort their members lazily, on the first ordered read; this pair charges that
// sort to the binding side, as a serializer would.

void BM_BindingWideBuildAndWalk(benchmark::State& state) {
  WideKeys();
  for (auto _ : state) {
    BindingProperty value = BuildWideBinding();
    int64_t sum = 0;
    for (const auto& [key, member] : value.Members()) {
      sum += member.GetSigned() + static_cast<int64_t>(key.size());
    }
    benchmark::DoNotOptimize(sum);
  }
}

void BM_JsonWideBuildAndWalk(benchmark::State& state) {
  WideKeys();
  for (auto _ : state) {
    Json value = BuildWideJson();
    int64_t sum = 0;
    for (const auto& [key, member] : value.items()) {
      sum += member.get<int64_t>() + static_cast<int64_t>(key.size());
    }
    benchmark::DoNotOptimize(sum);
  }
}

}  // namespace

BENCHMARK(BM_BindingWideBuild);
BENCHMARK(BM_JsonWideBuild);
VEXA_BENCHMARK_RATIO(BM_BindingWideBuild, BM_JsonWideBuild);
BENCHMARK(BM_BindingRecordsBuild);
BENCHMARK(BM_JsonRecordsBuild);
VEXA_BENCHMARK_RATIO(BM_BindingRecordsBuild, BM_JsonRecordsBuild);
BENCHMARK(BM_BindingWideCopy);
BENCHMARK(BM_JsonWideCopy);
VEXA_BENCHMARK_RATIO(BM_BindingWideCopy, BM_JsonWideCopy);
BENCHMARK(BM_BindingRecordsCopy);
BENCHMARK(BM_JsonRecordsCopy);
VEXA_BENCHMARK_RATIO(BM_BindingRecordsCopy, BM_JsonRecordsCopy);
BENCHMARK(BM_BindingWideBuildAndWalk);
BENCHMARK(BM_JsonWideBuildAndWalk);
VEXA_BENCHMARK_RATIO(BM_BindingWideBuildAndWalk, BM_JsonWideBuildAndWalk);

// Conversion benchmarks (native records to and from values) follow below.

// --- Conversion: a registered record of ten fields to a value and back, against nlohmann::json
// doing the same with its to_json / from_json. One record, and a list of 1,000 of them. ---

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"

namespace {

struct GeoRecord {
  int64_t id = 0;
  std::string name;
  std::string country;
  std::string city;
  std::string region;
  double latitude = 0;
  double longitude = 0;
  bool active = false;
  uint64_t score = 0;
  std::vector<std::string> tags;
};
VEXA_STATIC_TYPE(GeoRecord, "struct GeoRecord");

void to_json(Json& json, const GeoRecord& record) {
  json = Json{{"id", record.id},
              {"name", record.name},
              {"country", record.country},
              {"city", record.city},
              {"region", record.region},
              {"latitude", record.latitude},
              {"longitude", record.longitude},
              {"active", record.active},
              {"score", record.score},
              {"tags", record.tags}};
}

void from_json(const Json& json, GeoRecord& record) {
  json.at("id").get_to(record.id);
  json.at("name").get_to(record.name);
  json.at("country").get_to(record.country);
  json.at("city").get_to(record.city);
  json.at("region").get_to(record.region);
  json.at("latitude").get_to(record.latitude);
  json.at("longitude").get_to(record.longitude);
  json.at("active").get_to(record.active);
  json.at("score").get_to(record.score);
  json.at("tags").get_to(record.tags);
}

const Vexa::BindingRegistry& Registry() {
  static Vexa::BindingRegistry registry;
  [[maybe_unused]] static const bool registered = [] {
    Vexa::RegisterRecord<GeoRecord>(registry, "GeoRecord")
        .Field("id", &GeoRecord::id)
        .Field("name", &GeoRecord::name)
        .Field("country", &GeoRecord::country)
        .Field("city", &GeoRecord::city)
        .Field("region", &GeoRecord::region)
        .Field("latitude", &GeoRecord::latitude)
        .Field("longitude", &GeoRecord::longitude)
        .Field("active", &GeoRecord::active)
        .Field("score", &GeoRecord::score)
        .Field("tags", &GeoRecord::tags);
    return true;
  }();
  return registry;
}

GeoRecord MakeRecord(int index) {
  GeoRecord record;
  record.id = int64_t{1700000000} + index;
  record.name = "Someone";
  record.country = "DE";
  record.city = Cities()[static_cast<std::size_t>(index % 50)];
  record.region = "BY";
  record.latitude = 48.1 + index * 0.001;
  record.longitude = 11.5 - index * 0.001;
  record.active = index % 2 == 0;
  record.score = static_cast<uint64_t>(index) * 3;
  record.tags = {"home", "office"};
  return record;
}

std::vector<GeoRecord> MakeRecords() {
  std::vector<GeoRecord> records;
  for (int index = 0; index < kRecords; ++index) {
    records.push_back(MakeRecord(index));
  }
  return records;
}

template <typename Native>
void BindingRoundTrip(benchmark::State& state, const Native& original) {
  const Vexa::BindingRegistry& registry = Registry();
  for (auto _ : state) {
    const Vexa::BindingResult value = Vexa::ToValue(original, registry);
    Native back;
    Vexa::BindingResult result;
    if (!value || !Vexa::ToNative(result, back, value.value, "record", registry)) {
      state.SkipWithError("conversion failed");
    }
    benchmark::DoNotOptimize(&back);
  }
}

template <typename Native>
void JsonRoundTrip(benchmark::State& state, const Native& original) {
  for (auto _ : state) {
    const Json value = original;
    Native back = value.get<Native>();
    benchmark::DoNotOptimize(&back);
  }
}

void BM_ConversionRecordRoundTrip(benchmark::State& state) {
  BindingRoundTrip(state, MakeRecord(7));
}

// The same while another value is alive, so the page pool keeps its reservation between
// iterations instead of returning it to the system and mapping it again each time.
void BM_ConversionRecordRoundTripPoolHeld(benchmark::State& state) {
  BindingProperty alive;  // enough members to need pool pages beyond its inline ones
  for (int index = 0; index < 100; ++index) {
    alive.Member(WideKeys()[static_cast<std::size_t>(index)]) = index;
  }
  BindingRoundTrip(state, MakeRecord(7));
}

void BM_JsonRecordRoundTrip(benchmark::State& state) {
  JsonRoundTrip(state, MakeRecord(7));
}

void BM_ConversionRecordListRoundTrip(benchmark::State& state) {
  BindingRoundTrip(state, MakeRecords());
}

void BM_JsonRecordListRoundTrip(benchmark::State& state) {
  JsonRoundTrip(state, MakeRecords());
}

}  // namespace

BENCHMARK(BM_ConversionRecordRoundTrip);
BENCHMARK(BM_JsonRecordRoundTrip);
VEXA_BENCHMARK_RATIO(BM_ConversionRecordRoundTrip, BM_JsonRecordRoundTrip);
BENCHMARK(BM_ConversionRecordRoundTripPoolHeld);
VEXA_BENCHMARK_RATIO(BM_ConversionRecordRoundTripPoolHeld, BM_JsonRecordRoundTrip);
BENCHMARK(BM_ConversionRecordListRoundTrip);
BENCHMARK(BM_JsonRecordListRoundTrip);
VEXA_BENCHMARK_RATIO(BM_ConversionRecordListRoundTrip, BM_JsonRecordListRoundTrip);
