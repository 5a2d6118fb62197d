#include "kor_value.h"

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>

#include "codecs/json.h"
#include "codecs/msgpack.h"
#include "codecs/sniff.h"
#include "codecs/yaml.h"
#include "util/format.h"

namespace Vexa::Tools {
namespace {

constexpr const char* kUsage =
    "usage: kor-value [--from json|msgpack|yaml] [FILE|-]\n"
    "Decodes FILE (standard input when absent or -) and prints its value as compact JSON.\n"
    "Without --from the codec is chosen from the bytes: MessagePack when they open a map or\n"
    "an array, YAML when they begin with ---, JSON otherwise.\n";

enum class Codec { Json, MessagePack, Yaml };

struct Options {
  std::optional<Codec> codec;
  std::string path = "-";
};

std::optional<Codec> CodecNamed(std::string_view name) {
  if (name == "json") {
    return Codec::Json;
  }
  if (name == "msgpack") {
    return Codec::MessagePack;
  }
  if (name == "yaml") {
    return Codec::Yaml;
  }
  return std::nullopt;
}

// Parses the command line; on a usage error writes why to `err` and answers nothing.
std::optional<Options> ParseArguments(const std::vector<std::string>& arguments,
                                      std::ostream& err) {
  Options options;
  bool havePath = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--from" || argument.rfind("--from=", 0) == 0) {
      const bool joined = argument.size() > 6;  // "--from=yaml"
      if (!joined && i + 1 == arguments.size()) {
        err << "kor-value: --from needs a codec (json, msgpack or yaml)\n" << kUsage;
        return std::nullopt;
      }
      const std::string name = joined ? argument.substr(7) : arguments[++i];
      options.codec = CodecNamed(name);
      if (!options.codec) {
        err << "kor-value: unknown codec '" << name << "' (json, msgpack or yaml)\n" << kUsage;
        return std::nullopt;
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      err << "kor-value: unknown option '" << argument << "'\n" << kUsage;
      return std::nullopt;
    } else if (havePath) {
      err << "kor-value: one input at a time\n" << kUsage;
      return std::nullopt;
    } else {
      options.path = argument;
      havePath = true;
    }
  }
  return options;
}

std::optional<std::string> ReadAll(const std::string& path, std::istream& in, std::ostream& err) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    err << "kor-value: cannot read '" << path << "'\n";
    return std::nullopt;
  }
  std::ostringstream contents;
  contents << file.rdbuf();
  return std::move(contents).str();
}

// A MessagePack payload is one value: bytes after it mean the input is not what it claims.
BindingResult DecodeWholeMessagePack(std::string_view bytes) {
  MessagePackDecoded decoded = DecodeMessagePack(bytes);
  if (decoded.result.Ok() && decoded.consumed < bytes.size()) {
    return BindingResult::Failed(
        Format("%1 bytes after the MessagePack value, which ends at offset %2",
               bytes.size() - decoded.consumed, decoded.consumed));
  }
  return std::move(decoded.result);
}

// The JSON codec reads a text up to its first NUL, as the plugin's callers hand it C texts. A
// file is all of its bytes: a NUL after a complete document is a byte after the document root,
// refused with the reader's own message rather than ignored with everything after it.
BindingResult DecodeWholeJson(std::string_view bytes) {
  BindingResult parsed = ParseJson(bytes);
  const std::size_t nul = bytes.find('\0');
  if (parsed.Ok() && nul != std::string_view::npos) {
    return BindingResult::Failed(Format(kJsonParseErrorMessage,
                                        JsonParseErrorText(kJsonErrorRootNotSingular),
                                        static_cast<unsigned>(nul)));
  }
  return parsed;
}

BindingResult Decode(Codec codec, std::string_view bytes) {
  switch (codec) {
    case Codec::MessagePack:
      return DecodeWholeMessagePack(bytes);
    case Codec::Yaml:
      return ParseYaml(bytes);
    case Codec::Json:
      break;
  }
  return DecodeWholeJson(bytes);
}

Codec SniffedCodecOf(std::string_view bytes) {
  switch (SniffPayload(bytes)) {
    case SniffedCodec::MessagePack:
      return Codec::MessagePack;
    case SniffedCodec::Yaml:
      return Codec::Yaml;
    case SniffedCodec::Json:
    case SniffedCodec::None:
      break;
  }
  return Codec::Json;
}

}  // namespace

int RunKorValue(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                std::ostream& err) {
  for (const std::string& argument : arguments) {
    if (argument == "-h" || argument == "--help") {
      out << kUsage;
      return 0;
    }
  }
  const std::optional<Options> options = ParseArguments(arguments, err);
  if (!options) {
    return 2;
  }
  const std::optional<std::string> input = ReadAll(options->path, in, err);
  if (!input) {
    return 2;
  }
  const Codec codec = options->codec.value_or(SniffedCodecOf(*input));
  const BindingResult decoded = Decode(codec, *input);
  if (!decoded.Ok()) {
    err << decoded.ErrorText() << '\n';
    return 1;
  }
  out << ToJson(decoded.value) << '\n';
  return 0;
}

}  // namespace Vexa::Tools
