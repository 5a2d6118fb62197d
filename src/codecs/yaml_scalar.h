// How the YAML reader turns one scalar (its tag, text and quoting) into a typed value.
//
//   std::string failure;
//   const Vexa::YamlScalar scalar = Vexa::ResolveYamlScalar(tag, text, quoted, failure);
//   if (scalar.kind == Vexa::YamlScalarKind::Failed) { report(failure); }
//
// Without a tag, a quoted scalar is a string. A plain one is, in this order: empty for "",
// "~", "null", "Null" and "NULL"; a number when the C library's strtod reads the whole of
// it, unless that number is positive infinity; one of the bool literals
// ("true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON" and their false
// counterparts "false", "n", "no", "off" in the same three spellings); otherwise a string.
// Matching is exact and case-sensitive ("YeS" is a string).
//
// Numbers follow codecs/yaml_number.h: signed when negative and whole, unsigned when whole
// otherwise, float else; decimal integers are read exactly; whole numbers beyond 64 bits are
// floats.
//
// Tags (libyaml hands them resolved: "!!int" arrives as "tag:yaml.org,2002:int"):
// - "tag:yaml.org,2002:str": a string.
// - "tag:yaml.org,2002:int": converted like a text field named "yaml" of type int64 when the
//   text starts with "-", else of type uint64 (strtoll/strtoull with base 0, so "0x10" and
//   "010" read as 16 and 8; the empty text is 0). A refusal is the failure, with the
//   conversion's own message.
// - "tag:yaml.org,2002:float": converted likewise as a double; stored as a float.
// - "tag:yaml.org,2002:bool": a bool literal gives that bool; any other text leaves the target
//   as it was, without an error (kind Unchanged).
// - anything else fails with kYamlUnsupportedTagMessage, quoting the tag.
// The tag rules apply to quoted and plain scalars alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codecs/yaml_number.h"
#include "value/builder.h"

namespace Vexa {

enum class YamlScalarKind : uint8_t {
  Empty,      // the target becomes empty
  Unchanged,  // the target keeps what it holds (a bool tag on a non-bool text)
  Bool,
  Signed,
  Unsigned,
  Float,
  String,  // the scalar's own text
  Failed,  // the failure message is in the caller's string
};

struct YamlScalar {
  YamlScalarKind kind = YamlScalarKind::Empty;
  union {
    bool boolean;
    int64_t whole;
    uint64_t natural;
    double real = 0.0;
  };
};

// Whether a plain scalar stands for the empty value: "", "~", "null", "Null", "NULL".
[[nodiscard]] inline bool IsYamlNullLiteral(std::string_view text) noexcept {
  return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// Whether `text` is one of the bool literals, and which. Inline: the reader tests every plain
// text that is no number.
[[nodiscard]] inline bool ReadYamlBoolLiteral(std::string_view text, bool& value) noexcept {
  switch (text.size()) {
    case 1:
      value = text == "y" || text == "Y";
      return value || text == "n" || text == "N";
    case 2:
      value = text == "on" || text == "On" || text == "ON";
      return value || text == "no" || text == "No" || text == "NO";
    case 3:
      value = text == "yes" || text == "Yes" || text == "YES";
      return value || text == "off" || text == "Off" || text == "OFF";
    case 4:
      value = true;
      return text == "true" || text == "True" || text == "TRUE";
    case 5:
      value = false;
      return text == "false" || text == "False" || text == "FALSE";
    default:
      return false;
  }
}

// Feeds the value of a plain scalar without a tag to `sink` (a BindingValueSink, or any type
// with the Empty, Signed, Unsigned, Float, Bool and String events): the one place that orders
// the plain rules. Inline so that the reader's hot path calls the sink directly, with no kind
// to switch on in between.
template <typename Sink>
[[nodiscard]] BindingBuildStatus FeedYamlPlainScalar(Sink& sink, std::string_view text) {
  if (IsYamlNullLiteral(text)) {
    return sink.Empty();
  }
  const YamlNumber number = ReadYamlPlainNumber(text);
  switch (number.kind) {
    case YamlNumberKind::Signed:
      return sink.Signed(number.whole);
    case YamlNumberKind::Unsigned:
      return sink.Unsigned(number.natural);
    case YamlNumberKind::Float:
      return sink.Float(number.real);
    case YamlNumberKind::NotANumber:
      break;
  }
  bool flag = false;
  if (ReadYamlBoolLiteral(text, flag)) {
    return sink.Bool(flag);
  }
  return sink.String(text);
}

// Resolves a plain scalar without a tag (never fails; never Unchanged).
[[nodiscard]] YamlScalar ResolveYamlPlainScalar(std::string_view text);

// Resolves a scalar with its tag (null or "" for none) and whether it was single- or
// double-quoted. On kind Failed, `failure` holds the message; it is untouched otherwise.
[[nodiscard]] YamlScalar ResolveYamlScalar(const char* tag, std::string_view text, bool quoted,
                                           std::string& failure);

}  // namespace Vexa
