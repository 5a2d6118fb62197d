#include "codecs/yaml_scalar.h"

#include <string>
#include <string_view>

#include "codecs/yaml_messages.h"
#include "util/format.h"
#include "util/number_text.h"

namespace Vexa {
namespace {

constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

[[nodiscard]] YamlScalar MakeFloat(double value) noexcept {
  YamlScalar scalar;
  scalar.kind = YamlScalarKind::Float;
  scalar.real = value;
  return scalar;
}

[[nodiscard]] YamlScalar MakeSigned(int64_t value) noexcept {
  YamlScalar scalar;
  scalar.kind = YamlScalarKind::Signed;
  scalar.whole = value;
  return scalar;
}

[[nodiscard]] YamlScalar MakeUnsigned(uint64_t value) noexcept {
  YamlScalar scalar;
  scalar.kind = YamlScalarKind::Unsigned;
  scalar.natural = value;
  return scalar;
}

[[nodiscard]] YamlScalar MakeBool(bool value) noexcept {
  YamlScalar scalar;
  scalar.kind = YamlScalarKind::Bool;
  scalar.boolean = value;
  return scalar;
}

[[nodiscard]] YamlScalar MakeKind(YamlScalarKind kind) noexcept {
  YamlScalar scalar;
  scalar.kind = kind;
  return scalar;
}

// The int and float tags read their text by the same rules, and with the same messages, as
// the type system converts a text into an int64, uint64 or double (util/number_text.h).
[[nodiscard]] YamlScalar ConvertTagged(std::string_view tagName, std::string_view scalarText,
                                       std::string& failure) {
  // Read as a text value would be: a value's text ends at its first NUL ("\0" in a quoted
  // scalar), and so does the number read from it.
  const std::string_view text = scalarText.substr(0, scalarText.find('\0'));
  YamlScalar scalar;
  NumberText read = NumberText::Number;
  const char* typeName = nullptr;
  if (tagName == "int") {
    if (!text.empty() && text[0] == '-') {
      int64_t value = 0;
      read = ReadSignedText(text, value);
      typeName = kYamlSignedTypeName;
      scalar = MakeSigned(value);
    } else {
      uint64_t value = 0;
      read = ReadUnsignedText(text, value);
      typeName = kYamlUnsignedTypeName;
      scalar = MakeUnsigned(value);
    }
  } else {
    double value = 0.0;
    read = ReadFloatText(text, value);
    typeName = kYamlFloatTypeName;
    scalar = MakeFloat(value);
  }
  if (read != NumberText::Number) {
    failure = NumberTextRefusal(read, text, kYamlConversionFieldName, typeName);
    return MakeKind(YamlScalarKind::Failed);
  }
  return scalar;
}

}  // namespace

namespace {

// Records what FeedYamlPlainScalar chose instead of building it.
struct PlainScalarRecorder {
  YamlScalar scalar;

  BindingBuildStatus Take(YamlScalar taken) {
    scalar = taken;
    return BindingBuildStatus::Ok;
  }
  BindingBuildStatus Empty() { return Take(MakeKind(YamlScalarKind::Empty)); }
  BindingBuildStatus Signed(int64_t value) { return Take(MakeSigned(value)); }
  BindingBuildStatus Unsigned(uint64_t value) { return Take(MakeUnsigned(value)); }
  BindingBuildStatus Float(double value) { return Take(MakeFloat(value)); }
  BindingBuildStatus Bool(bool value) { return Take(MakeBool(value)); }
  BindingBuildStatus String(std::string_view) { return Take(MakeKind(YamlScalarKind::String)); }
};

}  // namespace

YamlScalar ResolveYamlPlainScalar(std::string_view text) {
  PlainScalarRecorder recorder;
  (void)FeedYamlPlainScalar(recorder, text);
  return recorder.scalar;
}

YamlScalar ResolveYamlScalar(const char* tag, std::string_view text, bool quoted,
                             std::string& failure) {
  if (tag == nullptr || *tag == '\0') {
    return quoted ? MakeKind(YamlScalarKind::String) : ResolveYamlPlainScalar(text);
  }
  const std::string_view fullTag(tag);
  if (fullTag.starts_with(kCoreTagPrefix)) {
    const std::string_view name = fullTag.substr(kCoreTagPrefix.size());
    if (name == "str") {
      return MakeKind(YamlScalarKind::String);
    }
    if (name == "int" || name == "float") {
      return ConvertTagged(name, text, failure);
    }
    if (name == "bool") {
      bool flag = false;
      return ReadYamlBoolLiteral(text, flag) ? MakeBool(flag) : MakeKind(YamlScalarKind::Unchanged);
    }
  }
  failure = Format(kYamlUnsupportedTagMessage, fullTag);
  return MakeKind(YamlScalarKind::Failed);
}

}  // namespace Vexa
