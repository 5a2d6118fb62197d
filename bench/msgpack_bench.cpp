// The MessagePack decoder against msgpack-c's unpack, on the MessagePack encodings of the three
// usual JSON documents and of the small payloads the plugin sees (payloads.h), in one run:
//
//   BM_MessagePackDecode/<doc>   DecodeMessagePack to a BindingProperty, value dropped each time
//   BM_MsgpackUnpack/<doc>       msgpack::unpack to an object handle (its zone dropped each time)
//   BM_MessagePackScan/<doc>     the same reader feeding a sink that only counts: the share of
//                                the decode that is reading MessagePack rather than building
//                                the value (the builder's and the value's own costs)
//   BM_HashDistinctTexts/<doc>   FNV-1a over each distinct text of the document once: the least
//                                hashing that a decode does, every text being interned
//
// The encodings are made at start-up, so no binary input is kept beside the JSON documents:
// each document is parsed with nlohmann::ordered_json (members stay in the document's order,
// as a real sender's would be) and written with msgpack-c's packer, which picks the smallest
// format for every number, string, array and map. Throughput counts the MessagePack bytes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/msgpack.h"
#include "codecs/msgpack_reader.h"
#include "payloads.h"
#include "ratio.h"
#include "value/builder.h"
#include "value/context.h"

#ifndef VEXA_BENCH_DATA_DIR
#define VEXA_BENCH_DATA_DIR "/work/shared/bench-data"
#endif

namespace {

using Json = nlohmann::ordered_json;

void Pack(msgpack::packer<msgpack::sbuffer>& packer, const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      packer.pack_nil();
      break;
    case Json::value_t::boolean:
      value.get<bool>() ? packer.pack_true() : packer.pack_false();
      break;
    case Json::value_t::number_integer:
      packer.pack_int64(value.get<int64_t>());
      break;
    case Json::value_t::number_unsigned:
      packer.pack_uint64(value.get<uint64_t>());
      break;
    case Json::value_t::number_float:
      packer.pack_double(value.get<double>());
      break;
    case Json::value_t::string: {
      const std::string& text = value.get_ref<const std::string&>();
      packer.pack_str(static_cast<uint32_t>(text.size()));
      packer.pack_str_body(text.data(), static_cast<uint32_t>(text.size()));
      break;
    }
    case Json::value_t::binary:
      packer.pack_nil();  // JSON text has none
      break;
    case Json::value_t::array:
      packer.pack_array(static_cast<uint32_t>(value.size()));
      for (const Json& element : value) {
        Pack(packer, element);
      }
      break;
    case Json::value_t::object:
      packer.pack_map(static_cast<uint32_t>(value.size()));
      for (const auto& [key, member] : value.items()) {
        packer.pack_str(static_cast<uint32_t>(key.size()));
        packer.pack_str_body(key.data(), static_cast<uint32_t>(key.size()));
        Pack(packer, member);
      }
      break;
  }
}

// The MessagePack encoding of bench data document `name`, made once.
const std::string& Encoded(const std::string& name) {
  static std::map<std::string, std::string> encoded;
  auto found = encoded.find(name);
  if (found == encoded.end()) {
    static const std::map<std::string, std::string> small = Vexa::Bench::SmallPayloads();
    std::stringstream text;
    if (const auto payload = small.find(name); payload != small.end()) {
      text << payload->second;
    } else {
      const std::string path = std::string(VEXA_BENCH_DATA_DIR) + "/" + name + ".json";
      std::ifstream file(path, std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
      }
      text << file.rdbuf();
    }
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    Pack(packer, Json::parse(text.str()));
    found = encoded.emplace(name, std::string(buffer.data(), buffer.size())).first;
  }
  return found->second;
}

void BM_MessagePackDecode(benchmark::State& state, const char* name) {
  const std::string& bytes = Encoded(name);
  for (auto _ : state) {
    Vexa::MessagePackDecoded decoded = Vexa::DecodeMessagePack(bytes);
    if (!decoded.result.Ok() || decoded.consumed != bytes.size()) {
      state.SkipWithError("decoding failed");
      break;
    }
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// Takes every event and keeps only a checksum of it, so that nothing is optimised away.
struct CountingSink {
  using Status = Vexa::BindingBuildStatus;
  uint64_t sum = 0;
  Status BeginCollection(Vexa::BindingReuse) { return Count(1); }
  Status EndCollection() { return Count(1); }
  Status BeginStructure(Vexa::BindingReuse) { return Count(1); }
  Status EndStructure() { return Count(1); }
  Status MemberKey(std::string_view key) { return Count(key.size()); }
  Status Null() { return Count(1); }
  Status Empty() { return Count(1); }
  Status Bool(bool value) { return Count(value); }
  Status Signed(int64_t value) { return Count(static_cast<uint64_t>(value)); }
  Status Unsigned(uint64_t value) { return Count(value); }
  Status Float(double value) { return Count(static_cast<uint64_t>(value != 0.0)); }
  Status String(std::string_view text) { return Count(text.size()); }
  Status Blob(const uint8_t*, std::size_t count) { return Count(count); }
  Status Count(uint64_t value) {
    sum += value;
    return Status::Ok;
  }
};
static_assert(Vexa::BindingValueSink<CountingSink>);

// Reads `bytes` whole into `sink`; false when the reader refuses them.
template <typename Sink>
bool ReadInto(const std::string& bytes, Sink& sink) {
  return Vexa::MessagePackReader<Sink>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                       sink)
      .Run();
}

void BM_MessagePackScan(benchmark::State& state, const char* name) {
  const std::string& bytes = Encoded(name);
  for (auto _ : state) {
    CountingSink sink;
    if (!ReadInto(bytes, sink)) {
      state.SkipWithError("decoding failed");
      break;
    }
    benchmark::DoNotOptimize(sink.sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// Keeps the distinct texts, keys and strings alike, that the reader hands over.
struct TextCollector : CountingSink {
  Status MemberKey(std::string_view key) { return Keep(key); }
  Status String(std::string_view text) { return Keep(text); }
  Status Keep(std::string_view text) {
    texts.emplace(text);
    return Status::Ok;
  }
  std::set<std::string, std::less<>> texts;
};
static_assert(Vexa::BindingValueSink<TextCollector>);

void BM_HashDistinctTexts(benchmark::State& state, const char* name) {
  const std::string& bytes = Encoded(name);
  TextCollector collector;
  if (!ReadInto(bytes, collector)) {
    state.SkipWithError("decoding failed");
    return;
  }
  const std::vector<std::string> texts(collector.texts.begin(), collector.texts.end());
  for (auto _ : state) {
    uint32_t folded = 0;
    for (const std::string& text : texts) {
      folded ^= Vexa::BindingCutAndHashText(text).hash;
    }
    benchmark::DoNotOptimize(folded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_MsgpackUnpack(benchmark::State& state, const char* name) {
  const std::string& bytes = Encoded(name);
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(handle.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK_CAPTURE(BM_MessagePackDecode, twitter, "twitter");
BENCHMARK_CAPTURE(BM_MessagePackDecode, citm_catalog, "citm_catalog");
BENCHMARK_CAPTURE(BM_MessagePackDecode, canada, "canada");
BENCHMARK_CAPTURE(BM_MessagePackScan, twitter, "twitter");
BENCHMARK_CAPTURE(BM_MessagePackScan, citm_catalog, "citm_catalog");
BENCHMARK_CAPTURE(BM_MessagePackScan, canada, "canada");
BENCHMARK_CAPTURE(BM_HashDistinctTexts, twitter, "twitter");
BENCHMARK_CAPTURE(BM_HashDistinctTexts, citm_catalog, "citm_catalog");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, twitter, "twitter");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, citm_catalog, "citm_catalog");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, canada, "canada");
BENCHMARK_CAPTURE(BM_MessagePackDecode, small27, "small27");
BENCHMARK_CAPTURE(BM_MessagePackDecode, record120, "record120");
BENCHMARK_CAPTURE(BM_MessagePackDecode, list2k, "list2k");
BENCHMARK_CAPTURE(BM_MessagePackDecode, distinct2k, "distinct2k");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, small27, "small27");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, record120, "record120");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, list2k, "list2k");
BENCHMARK_CAPTURE(BM_MsgpackUnpack, distinct2k, "distinct2k");
VEXA_BENCHMARK_RATIO(BM_MessagePackDecode, BM_MsgpackUnpack);
VEXA_BENCHMARK_RATIO(BM_MessagePackScan, BM_MsgpackUnpack);
VEXA_BENCHMARK_RATIO(BM_HashDistinctTexts, BM_MsgpackUnpack);

}  // namespace
