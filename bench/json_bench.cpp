// The JSON codec against RapidJSON (its DOM, built by the same reader in the same default mode,
// and its writer over that DOM) and nlohmann::json, on the three usual documents, in one run:
//
//   BM_JsonParse/<doc>        ParseJson to a BindingProperty, value dropped each iteration; also
//                             on the small payloads the plugin sees (small27, record120, list2k,
//                             and distinct2k, whose texts are mostly distinct: payloads.h)
//   BM_RapidJsonParse/<doc>   rapidjson::Document::Parse, document dropped each iteration
//   BM_NlohmannParse/<doc>    nlohmann::json::parse
//   BM_RapidJsonReadOnly/<doc>  RapidJSON's reader alone, as ParseJson runs it (in place, on a
//                             copy), handing every value to a handler that builds nothing
//   BM_BuildOnly/<doc>        the value builder alone, replaying the reader's events recorded
//                             beforehand: with the one above, where a parse's time goes
//   BM_JsonWrite/<doc>        ToJson of the parsed value
//   BM_RapidJsonWrite/<doc>   rapidjson::Writer over the parsed Document
//   BM_JsonParsedBytes/twitter  bytes held by the parsed value and by RapidJSON's DOM of it
//
// Throughput counts the bytes of the input document for every benchmark, writes included, so
// that the figures compare directly with the published ones for these documents.
//
// Memory is counted by interposing the C allocator of this binary (malloc_counter.h) and
// adding the pages that value contexts take from the binding page pool, which maps them
// directly; pages the heap-page reserve hands out count as taken too.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/json.h"
#include "malloc_counter.h"
#include "payloads.h"
#include "ratio.h"
#include "value/block_pool.h"
#include "value/builder.h"

namespace {

using Vexa::BindingProperty;
using Vexa::BindingResult;

const std::string& Document(const char* name) {
  static std::map<std::string, std::string> documents = Vexa::Bench::SmallPayloads();
  auto found = documents.find(name);
  if (found == documents.end()) {
    std::ifstream file(std::string(VEXA_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "json_bench: cannot read %s/%s\n", VEXA_BENCH_DATA_DIR, name);
      std::exit(1);
    }
    std::ostringstream text;
    text << file.rdbuf();
    found = documents.emplace(name, text.str()).first;
  }
  return found->second;
}

void SetThroughput(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

// --- Parsing ---

void BM_JsonParse(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  for (auto _ : state) {
    BindingResult result = Vexa::ParseJson(text);
    if (!result) {
      state.SkipWithError("ParseJson failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  SetThroughput(state, text);
}

// The same through the length-bounded form (a view that need not end in a NUL).
void BM_JsonParseView(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  for (auto _ : state) {
    BindingResult result = Vexa::ParseJson(std::string_view(text));
    if (!result) {
      state.SkipWithError("ParseJson failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  SetThroughput(state, text);
}

void BM_RapidJsonParse(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError()) {
      state.SkipWithError("Document::Parse failed");
      break;
    }
    benchmark::DoNotOptimize(document);
  }
  SetThroughput(state, text);
}

void BM_NlohmannParse(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  for (auto _ : state) {
    nlohmann::json document = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(document);
  }
  SetThroughput(state, text);
}

// --- Reading and building apart ---

// Takes every value, folding it into one word (integer operations only, which take a cycle), so
// that no reading is optimised away.
struct ConsumingHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ConsumingHandler> {
  bool Default() { return Take(1); }
  bool Int(int value) { return Take(static_cast<uint64_t>(value)); }
  bool Uint(unsigned value) { return Take(value); }
  bool Int64(int64_t value) { return Take(static_cast<uint64_t>(value)); }
  bool Uint64(uint64_t value) { return Take(value); }
  bool Double(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Take(bits);
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return Take(length ^ static_cast<unsigned char>(text[0]));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return String(text, length, copy);
  }
  bool Take(uint64_t value) {
    folded ^= value;
    return true;
  }
  uint64_t folded = 0;
};

void BM_RapidJsonReadOnly(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  // ParseJson's scratch copy stands 64 bytes into its buffer (see json_reader.cpp); so does
  // this one, as the reader's speed depends on it.
  constexpr std::size_t kScratchOffset = 64;
  std::vector<char> scratch(kScratchOffset + text.size() + 1);
  char* const copy = scratch.data() + kScratchOffset;
  for (auto _ : state) {
    std::memcpy(copy, text.c_str(), text.size() + 1);
    rapidjson::InsituStringStream stream(copy);
    ConsumingHandler handler;
    rapidjson::Reader reader;
    if (reader.Parse<rapidjson::kParseInsituFlag>(stream, handler).IsError()) {
      state.SkipWithError("the reader failed");
      break;
    }
    benchmark::DoNotOptimize(handler.folded);
  }
  SetThroughput(state, text);
}

// A document's builder events, as the reader hands them to ParseJson's handler.
struct RecordedEvents : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RecordedEvents> {
  enum class Kind : uint8_t {
    Null,
    Bool,
    Signed,
    Unsigned,
    Float,
    String,
    Key,
    BeginStructure,
    EndStructure,
    BeginCollection,
    EndCollection
  };
  struct TextSpan {  // 32 bits each, as RapidJSON's lengths are, so that an event stays 16 bytes
    uint32_t begin;
    uint32_t length;
  };
  struct Event {
    Kind kind;
    union {
      bool boolean;
      int64_t whole;
      uint64_t natural;
      double real;
      TextSpan text;  // of `texts`
    };
  };

  bool Null() { return Add({Kind::Null, {}}); }
  bool Bool(bool value) {
    Event event{Kind::Bool, {}};
    event.boolean = value;
    return Add(event);
  }
  bool Int(int value) { return Int64(value); }
  bool Int64(int64_t value) {
    Event event{Kind::Signed, {}};
    event.whole = value;
    return Add(event);
  }
  bool Uint(unsigned value) { return Uint64(value); }
  bool Uint64(uint64_t value) {
    Event event{Kind::Unsigned, {}};
    event.natural = value;
    return Add(event);
  }
  bool Double(double value) {
    Event event{Kind::Float, {}};
    event.real = value;
    return Add(event);
  }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return AddText(Kind::String, text, length);
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    return AddText(Kind::Key, text, length);
  }
  bool StartObject() { return Add({Kind::BeginStructure, {}}); }
  bool EndObject(rapidjson::SizeType) { return Add({Kind::EndStructure, {}}); }
  bool StartArray() { return Add({Kind::BeginCollection, {}}); }
  bool EndArray(rapidjson::SizeType) { return Add({Kind::EndCollection, {}}); }

  bool Add(const Event& event) {
    events.push_back(event);
    return true;
  }
  bool AddText(Kind kind, const char* text, rapidjson::SizeType length) {
    Event event{kind, {}};
    event.text = {static_cast<uint32_t>(texts.size()), length};
    texts.append(text, length);
    return Add(event);
  }

  // Feeds the events to `builder`; false at the first it refuses.
  bool Replay(Vexa::BindingValueBuilder& builder) const {
    using Vexa::BindingBuildStatus;
    using Vexa::BindingReuse;
    const auto textOf = [this](const Event& event) {
      return std::string_view(texts).substr(event.text.begin, event.text.length);
    };
    for (const Event& event : events) {
      BindingBuildStatus status = BindingBuildStatus::Ok;
      switch (event.kind) {
        case Kind::Null:
          status = builder.Null();
          break;
        case Kind::Bool:
          status = builder.Bool(event.boolean);
          break;
        case Kind::Signed:
          status = builder.Signed(event.whole);
          break;
        case Kind::Unsigned:
          status = builder.Unsigned(event.natural);
          break;
        case Kind::Float:
          status = builder.Float(event.real);
          break;
        case Kind::String:
          status = builder.String(textOf(event));
          break;
        case Kind::Key:
          status = builder.MemberKey(textOf(event));
          break;
        case Kind::BeginStructure:
          status = builder.BeginStructure(BindingReuse::Keep);
          break;
        case Kind::EndStructure:
          status = builder.EndStructure();
          break;
        case Kind::BeginCollection:
          status = builder.BeginCollection(BindingReuse::Keep);
          break;
        case Kind::EndCollection:
          status = builder.EndCollection();
          break;
      }
      if (status != BindingBuildStatus::Ok) {
        return false;
      }
    }
    return true;
  }

  std::vector<Event> events;
  std::string texts;
};

void BM_BuildOnly(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  std::string copy = text;
  rapidjson::InsituStringStream stream(copy.data());
  RecordedEvents recorded;
  rapidjson::Reader reader;
  if (reader.Parse<rapidjson::kParseInsituFlag>(stream, recorded).IsError()) {
    state.SkipWithError("the reader failed");
    return;
  }
  for (auto _ : state) {
    BindingResult result;
    Vexa::BindingValueBuilder builder(result.value);
    if (!recorded.Replay(builder)) {
      state.SkipWithError("the builder refused an event");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  SetThroughput(state, text);
}

// --- Writing ---

void BM_JsonWrite(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  const BindingResult parsed = Vexa::ParseJson(text);
  // One write outside the loop: a structure's first ordered read sorts its members, which
  // belongs to the value, not to every write.
  benchmark::DoNotOptimize(Vexa::ToJson(parsed.value));
  for (auto _ : state) {
    std::string written = Vexa::ToJson(parsed.value);
    benchmark::DoNotOptimize(written);
  }
  SetThroughput(state, text);
}

void BM_RapidJsonWrite(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  rapidjson::Document document;
  document.Parse(text.c_str());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  SetThroughput(state, text);
}

// --- Memory ---

struct Taken {
  long long peak = 0;      // the most held at once while parsing
  long long retained = 0;  // held by the parsed document afterwards
};

// Heap bytes and pool pages taken by `parse`, which returns the parsed document.
template <typename Parse>
Taken MeasureTaken(Parse parse) {
  Vexa::BindingBlockPool& pool = Vexa::BindingBlockPool::Instance();
  const long long poolBefore = static_cast<long long>(pool.Statistics().pagesInUse);
  const long long reserveBefore = static_cast<long long>(Vexa::BindingHeapPagesInReserve());
  Vexa::Bench::MallocCounter::Start();
  auto document = parse();
  Vexa::Bench::MallocCounter::Stop();
  const long long pageBytes =
      (static_cast<long long>(pool.Statistics().pagesInUse) - poolBefore + reserveBefore -
       static_cast<long long>(Vexa::BindingHeapPagesInReserve())) *
      static_cast<long long>(Vexa::BindingBlockPool::kPageSize);
  Taken taken{Vexa::Bench::MallocCounter::PeakBytes() + pageBytes,
              Vexa::Bench::MallocCounter::LiveBytes() + pageBytes};
  benchmark::DoNotOptimize(document);
  return taken;
}

void BM_JsonParsedBytes(benchmark::State& state, const char* name) {
  const std::string& text = Document(name);
  Taken ours;
  Taken anchor;
  for (auto _ : state) {
    ours = MeasureTaken([&] { return Vexa::ParseJson(text); });
    anchor = MeasureTaken([&] {
      auto document = std::make_unique<rapidjson::Document>();
      document->Parse(text.c_str());
      return document;
    });
  }
  state.counters["ours_peak"] = static_cast<double>(ours.peak);
  state.counters["ours_held"] = static_cast<double>(ours.retained);
  state.counters["rapidjson_peak"] = static_cast<double>(anchor.peak);
  state.counters["rapidjson_held"] = static_cast<double>(anchor.retained);
  state.counters["peak_ratio"] = static_cast<double>(ours.peak) / static_cast<double>(anchor.peak);
  state.counters["held_ratio"] =
      static_cast<double>(ours.retained) / static_cast<double>(anchor.retained);
}

}  // namespace

BENCHMARK_CAPTURE(BM_JsonParse, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_JsonParse, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_JsonParse, canada, "canada.json");
BENCHMARK_CAPTURE(BM_JsonParseView, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_JsonParseView, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_JsonParseView, canada, "canada.json");
BENCHMARK_CAPTURE(BM_RapidJsonParse, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_RapidJsonParse, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_RapidJsonParse, canada, "canada.json");
BENCHMARK_CAPTURE(BM_NlohmannParse, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_NlohmannParse, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_NlohmannParse, canada, "canada.json");
BENCHMARK_CAPTURE(BM_JsonParse, small27, "small27");
BENCHMARK_CAPTURE(BM_JsonParse, record120, "record120");
BENCHMARK_CAPTURE(BM_JsonParse, list2k, "list2k");
BENCHMARK_CAPTURE(BM_JsonParse, distinct2k, "distinct2k");
BENCHMARK_CAPTURE(BM_RapidJsonParse, small27, "small27");
BENCHMARK_CAPTURE(BM_RapidJsonParse, record120, "record120");
BENCHMARK_CAPTURE(BM_RapidJsonParse, list2k, "list2k");
BENCHMARK_CAPTURE(BM_RapidJsonParse, distinct2k, "distinct2k");
BENCHMARK_CAPTURE(BM_RapidJsonReadOnly, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_RapidJsonReadOnly, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_RapidJsonReadOnly, canada, "canada.json");
BENCHMARK_CAPTURE(BM_BuildOnly, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_BuildOnly, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_BuildOnly, canada, "canada.json");
VEXA_BENCHMARK_RATIO(BM_JsonParse, BM_RapidJsonParse);
VEXA_BENCHMARK_RATIO(BM_RapidJsonReadOnly, BM_RapidJsonParse);
VEXA_BENCHMARK_RATIO(BM_BuildOnly, BM_RapidJsonParse);
VEXA_BENCHMARK_RATIO(BM_JsonParseView, BM_RapidJsonParse);
VEXA_BENCHMARK_RATIO(BM_JsonParse, BM_NlohmannParse);

BENCHMARK_CAPTURE(BM_JsonWrite, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_JsonWrite, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_JsonWrite, canada, "canada.json");
BENCHMARK_CAPTURE(BM_RapidJsonWrite, twitter, "twitter.json");
BENCHMARK_CAPTURE(BM_RapidJsonWrite, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(BM_RapidJsonWrite, canada, "canada.json");
VEXA_BENCHMARK_RATIO(BM_JsonWrite, BM_RapidJsonWrite);

BENCHMARK_CAPTURE(BM_JsonParsedBytes, twitter, "twitter.json")->Iterations(1);
