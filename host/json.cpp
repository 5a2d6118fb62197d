#include "json.h"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>

namespace VexaHost {
namespace {

// What the parser would take but must not: where `text` opens its (kMaxJsonDepth + 1)th nested
// array or object, or holds a low surrogate escape (\uDC00 to \uDFFF) that no high one
// precedes. Depth is checked before parsing because the parser, the document's destructor and
// every writer recurse once per level, and a body of a few hundred kilobytes of "[" would
// overflow a thread's stack. The parser decodes a lone low surrogate to three bytes that are no
// UTF-8 (it validates raw bytes, not escapes), which its own check then refuses when the written
// text is read again: a settings document holding one could be stored but never merged into.
struct Refusal {
  std::size_t at = std::string_view::npos;
  std::string message;
};

// The value of the four hex digits of a "\u" escape at `at`, or -1.
long EscapedCodeUnit(std::string_view text, std::size_t at) {
  if (at + 6 > text.size() || text.substr(at, 2) != "\\u") {
    return -1;
  }
  long value = 0;
  for (const char c : text.substr(at + 2, 4)) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) {
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

Refusal Refused(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (const long unit = EscapedCodeUnit(text, at); unit >= 0xD800 && unit <= 0xDFFF) {
        if (unit >= 0xDC00) {
          return {at,
                  rapidjson::GetParseError_En(rapidjson::kParseErrorStringUnicodeSurrogateInvalid)};
        }
        at +=
            EscapedCodeUnit(text, at + 6) >= 0xDC00 ? 11 : 5;  // the pair; else the parser refuses
        continue;
      }
      at += c == '\\';  // an escaped character is never the closing quote
      inString = c != '"';
    } else if (c == '"') {
      inString = true;
    } else if ((c == '[' || c == '{') && ++depth > kMaxJsonDepth) {
      return {at, "The document nests deeper than " + std::to_string(kMaxJsonDepth) + " levels."};
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return {};
}

// The document's own SAX handler, with numbers converted by the standard library from the text
// that the reader hands over. RapidJSON 1.1's own conversion is no good for a host that stores
// what it reads: its normal precision reads some numbers a unit or two off (a stored settings
// document came back changed after a restart) and makes infinities, which have no JSON form, of
// numbers just beyond the double range; its full precision wraps a carry to zero for some long
// numbers. Integers stay integers as the reader would make them; a number beyond the double
// range stops the reader at the number, and ParseJson reports it as too big.
struct ExactNumbers {
  Json& document;
  bool tooBig = false;

  bool Null() { return document.Null(); }
  bool Bool(bool value) { return document.Bool(value); }
  bool Int(int value) { return document.Int(value); }
  bool Uint(unsigned value) { return document.Uint(value); }
  bool Int64(int64_t value) { return document.Int64(value); }
  bool Uint64(uint64_t value) { return document.Uint64(value); }
  bool Double(double value) { return document.Double(value); }
  // `text` is a valid JSON number followed by a NUL (the reader's copy).
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    const char* const end = text + length;
    if (std::string_view(text, length).find_first_of(".eE") == std::string_view::npos) {
      int64_t negative = 0;
      uint64_t positive = 0;
      if (text[0] == '-' ? std::from_chars(text, end, negative).ec == std::errc()
                         : std::from_chars(text, end, positive).ec == std::errc()) {
        return text[0] == '-' ? document.Int64(negative) : document.Uint64(positive);
      }
    }
    double value = 0;
    if (std::from_chars(text, end, value).ec == std::errc::result_out_of_range) {
      value = std::strtod(text, nullptr);  // infinite when too big; zero or subnormal when tiny
    }
    tooBig = !std::isfinite(value);
    return !tooBig && document.Double(value);
  }
  bool String(const char* text, rapidjson::SizeType length, bool copy) {
    return document.String(text, length, copy);
  }
  bool StartObject() { return document.StartObject(); }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return document.Key(text, length, copy);
  }
  bool EndObject(rapidjson::SizeType count) { return document.EndObject(count); }
  bool StartArray() { return document.StartArray(); }
  bool EndArray(rapidjson::SizeType count) { return document.EndArray(count); }
};

}  // namespace

ParsedJson ParseJson(std::string_view text) {
  ParsedJson parsed;
  if (const Refusal refusal = Refused(text); refusal.at != std::string_view::npos) {
    parsed.document.SetNull();
    parsed.error = refusal.message + " (at offset " + std::to_string(refusal.at) + ")";
    return parsed;
  }
  rapidjson::MemoryStream stream(text.data(), text.size());
  ExactNumbers handler{parsed.document};
  rapidjson::ParseResult result;
  auto read = [&](Json&) {
    // Texts must be UTF-8: what is read here is written back out as JSON.
    constexpr unsigned kFlags = rapidjson::kParseStopWhenDoneFlag |
                                rapidjson::kParseValidateEncodingFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    result = rapidjson::Reader().Parse<kFlags>(stream, handler);
    return !result.IsError();
  };
  parsed.document.Populate(read);
  if (result.IsError()) {
    parsed.document.SetNull();
    parsed.error = rapidjson::GetParseError_En(handler.tooBig ? rapidjson::kParseErrorNumberTooBig
                                                              : result.Code());
    parsed.error += " (at offset " + std::to_string(result.Offset()) + ")";
    return parsed;
  }
  // kParseStopWhenDoneFlag reads one value; anything but white space after it is an error.
  const std::size_t end = stream.Tell();
  if (text.find_first_not_of(" \t\r\n", end) != std::string_view::npos) {
    parsed.document.SetNull();
    parsed.error = "The document root must not be followed by other values. (at offset " +
                   std::to_string(end) + ")";
  }
  return parsed;
}

std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

void AppendJsonQuoted(std::string& out, std::string_view text) {
  // As RapidJSON's writer escapes: the quote, the backslash and the control characters, these
  // by their short escapes where JSON has one; every other byte as it is.
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  std::size_t plain = 0;  // the start of the bytes not yet copied
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      continue;
    }
    out.append(text.data() + plain, at - plain);
    plain = at + 1;
    out.push_back('\\');
    switch (c) {
      case '"':
        out.push_back('"');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case '\b':
        out.push_back('b');
        break;
      case '\t':
        out.push_back('t');
        break;
      case '\n':
        out.push_back('n');
        break;
      case '\f':
        out.push_back('f');
        break;
      case '\r':
        out.push_back('r');
        break;
      default:
        out.append("u00").push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0f]);
    }
  }
  out.append(text.data() + plain, text.size() - plain);
  out.push_back('"');
}

std::string JsonQuoted(std::string_view text) {
  std::string quoted;
  AppendJsonQuoted(quoted, text);
  return quoted;
}

void MergePatch(rapidjson::Value& target, const rapidjson::Value& patch,
                rapidjson::Document::AllocatorType& allocator) {
  if (!patch.IsObject()) {
    target.CopyFrom(patch, allocator);
    return;
  }
  if (!target.IsObject()) {
    target.SetObject();
  }
  for (const auto& member : patch.GetObject()) {
    auto found = target.FindMember(member.name);
    if (member.value.IsNull()) {
      if (found != target.MemberEnd()) {
        target.RemoveMember(found);
      }
    } else if (found != target.MemberEnd()) {
      MergePatch(found->value, member.value, allocator);
    } else {
      rapidjson::Value name(member.name, allocator);
      rapidjson::Value value;
      MergePatch(value, member.value, allocator);
      target.AddMember(name, value, allocator);
    }
  }
}

}  // namespace VexaHost
