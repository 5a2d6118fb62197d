// The YAML reader against its floor and an anchor, on the three usual JSON documents and the
// plugin's small payloads (bench/payloads.h), re-emitted as block YAML at start-up (so no
// generated data is kept in the tree):
//
//   BM_YamlParse/<doc>           ParseYaml to a BindingProperty, value dropped each iteration
//   BM_YamlLibyamlEvents/<doc>   a bare libyaml event loop over the same text: the floor, the
//                                cost of tokenizing alone that every reader on libyaml pays
//   BM_YamlCppLoad/<doc>         yaml-cpp's YAML::Load, a complete reader on another tokenizer
//
// Throughput counts the bytes of the YAML text. The goal: BM_YamlParse takes at most 1.15 times
// the floor's time on the large documents.
#include <benchmark/benchmark.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "codecs/yaml.h"
#include "codecs/yaml_scalar.h"
#include "payloads.h"
#include "ratio.h"

#ifndef VEXA_BENCH_DATA_DIR
#define VEXA_BENCH_DATA_DIR "/work/shared/bench-data"
#endif

namespace {

// --- Block YAML from JSON ---

// Whether a text can stand as a plain scalar and read back as the same string.
bool IsPlainSafe(std::string_view text) {
  if (text.empty() || text.back() == ' ' || text.back() == ':') {
    return false;
  }
  const auto first = static_cast<unsigned char>(text.front());
  if (!(std::isalnum(first) || first >= 0x80)) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F || c == 0xC2 || c == 0xE2 || c == 0xEF) {
      return false;  // controls; NEL, C1 controls, LS, PS and BOM start with C2, E2 or EF
    }
    if ((c == ':' || c == ' ') && i + 1 < text.size() &&
        (text[i + 1] == ' ' || text[i + 1] == '#')) {
      return false;
    }
  }
  return Vexa::ResolveYamlPlainScalar(text).kind == Vexa::YamlScalarKind::String;
}

void AppendDoubleQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    char escape[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080..U+009F: not printable in YAML, and NEL would break the line.
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[i + 1]));
      out += escape;
      ++i;
    } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      out += text[i + 2] == '\xA8' ? "\\L" : "\\P";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void AppendText(std::string& out, std::string_view text) {
  if (IsPlainSafe(text)) {
    out += text;
  } else {
    AppendDoubleQuoted(out, text);
  }
}

bool IsFilledContainer(const nlohmann::json& value) {
  return (value.is_object() || value.is_array()) && !value.empty();
}

void AppendScalar(std::string& out, const nlohmann::json& value) {
  if (value.is_string()) {
    AppendText(out, value.get_ref<const std::string&>());
  } else if (value.is_object()) {
    out += "{}";
  } else if (value.is_array()) {
    out += "[]";
  } else {
    out += value.dump();  // numbers shortest round-trip, true, false, null
  }
}

// Writes a non-empty container at `indent`. With `continues` the first line's indentation is
// already written (the item follows "- " of an enclosing sequence).
void AppendBlock(std::string& out, const nlohmann::json& value, std::size_t indent,
                 bool continues) {
  bool first = true;
  const auto beginLine = [&] {
    if (!(first && continues)) {
      out.append(indent, ' ');
    }
    first = false;
  };
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      beginLine();
      AppendText(out, key);
      out += ':';
      if (IsFilledContainer(member)) {
        out += '\n';
        AppendBlock(out, member, indent + 2, false);
      } else {
        out += ' ';
        AppendScalar(out, member);
        out += '\n';
      }
    }
  } else {
    for (const auto& element : value) {
      beginLine();
      out += "- ";
      if (IsFilledContainer(element)) {
        AppendBlock(out, element, indent + 2, true);
      } else {
        AppendScalar(out, element);
        out += '\n';
      }
    }
  }
}

std::string BlockYamlOf(const nlohmann::json& document) {
  std::string out;
  if (IsFilledContainer(document)) {
    AppendBlock(out, document, 0, false);
  } else {
    AppendScalar(out, document);
    out += '\n';
  }
  return out;
}

// --- Inputs ---

struct Document {
  std::string yaml;
  std::string failure;  // why the document is not available
};

// A small payload by name (bench/payloads.h), else a document of the bench data.
Document MakeDocument(const std::string& name) {
  Document document;
  std::string json;
  static const std::map<std::string, std::string> small = Vexa::Bench::SmallPayloads();
  if (const auto payload = small.find(name); payload != small.end()) {
    json = payload->second;
  } else {
    const std::string path = std::string(VEXA_BENCH_DATA_DIR) + "/" + name + ".json";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      document.failure = "cannot read " + path;
      return document;
    }
    std::ostringstream text;
    text << file.rdbuf();
    json = text.str();
  }
  document.yaml = BlockYamlOf(nlohmann::json::parse(json));
  // Our reader must read it whole, or the figures would measure an early failure.
  const Vexa::BindingResult check = Vexa::ParseYaml(document.yaml);
  if (!check) {
    document.failure = "the YAML of " + name + " does not read: " + std::string(check.ErrorText());
  }
  return document;
}

const Document& DocumentNamed(const std::string& name) {
  static std::map<std::string, Document> documents;
  auto found = documents.find(name);
  if (found == documents.end()) {
    found = documents.emplace(name, MakeDocument(name)).first;
  }
  return found->second;
}

// The YAML text for a benchmark, or null after reporting why there is none.
const std::string* TextFor(benchmark::State& state, const char* name) {
  const Document& document = DocumentNamed(name);
  if (!document.failure.empty()) {
    state.SkipWithError(document.failure.c_str());
    return nullptr;
  }
  return &document.yaml;
}

// --- Benchmarks ---

void BM_YamlParse(benchmark::State& state, const char* name) {
  const std::string* text = TextFor(state, name);
  if (text == nullptr) {
    return;
  }
  for (auto _ : state) {
    Vexa::BindingResult result = Vexa::ParseYaml(*text);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text->size()));
}

// Every event fetched and released, nothing else: what any reader on libyaml must spend.
void BM_YamlLibyamlEvents(benchmark::State& state, const char* name) {
  const std::string* text = TextFor(state, name);
  if (text == nullptr) {
    return;
  }
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text->data()),
                                 text->size());
    std::size_t events = 0;
    for (;;) {
      yaml_event_t event;
      if (yaml_parser_parse(&parser, &event) == 0) {
        state.SkipWithError("libyaml failed on the document");
        break;
      }
      const bool end = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
      ++events;
      if (end) {
        break;
      }
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text->size()));
}

void BM_YamlCppLoad(benchmark::State& state, const char* name) {
  const std::string* text = TextFor(state, name);
  if (text == nullptr) {
    return;
  }
  for (auto _ : state) {
    YAML::Node node = YAML::Load(*text);
    benchmark::DoNotOptimize(node);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text->size()));
}

// Per document, the floor and the reader run one after the other, so that a change in the
// machine's load between them distorts their ratio as little as possible.
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, twitter, "twitter")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlParse, twitter, "twitter")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, citm_catalog, "citm_catalog")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlParse, citm_catalog, "citm_catalog")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, canada, "canada")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlParse, canada, "canada")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, small27, "small27");
BENCHMARK_CAPTURE(BM_YamlParse, small27, "small27");
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, record120, "record120");
BENCHMARK_CAPTURE(BM_YamlParse, record120, "record120");
BENCHMARK_CAPTURE(BM_YamlLibyamlEvents, list2k, "list2k");
BENCHMARK_CAPTURE(BM_YamlParse, list2k, "list2k");
BENCHMARK_CAPTURE(BM_YamlCppLoad, twitter, "twitter")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlCppLoad, citm_catalog, "citm_catalog")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_YamlCppLoad, canada, "canada")->Unit(benchmark::kMillisecond);

VEXA_BENCHMARK_RATIO(BM_YamlParse, BM_YamlLibyamlEvents);
VEXA_BENCHMARK_RATIO(BM_YamlParse, BM_YamlCppLoad);

}  // namespace
