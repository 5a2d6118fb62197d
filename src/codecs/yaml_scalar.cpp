#include "codecs/yaml_scalar.h"

#include <string>
#include <string_view>

#include "binding/conversion/conversion.h"
#include "binding/registry.h"
#include "codecs/yaml_messages.h"
#include "util/format.h"

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

// Conversions of tagged scalars need a registry only to name enumerators, which never occur
// here: one empty registry serves every call. Never destroyed, so a parse on another thread
// during exit still finds it.
[[nodiscard]] const BindingRegistry& ConversionRegistry() {
  static const BindingRegistry* const registry = new BindingRegistry();
  return *registry;
}

[[nodiscard]] YamlScalar ConvertTagged(std::string_view tagName, std::string_view text,
                                       std::string& failure) {
  const BindingProperty input(text);
  BindingResult conversion;
  YamlScalar scalar;
  bool converted = false;
  if (tagName == "int") {
    if (!text.empty() && text[0] == '-') {
      int64_t value = 0;
      converted =
          ToNative(conversion, value, input, kYamlConversionFieldName, ConversionRegistry());
      scalar = MakeSigned(value);
    } else {
      uint64_t value = 0;
      converted =
          ToNative(conversion, value, input, kYamlConversionFieldName, ConversionRegistry());
      scalar = MakeUnsigned(value);
    }
  } else {
    double value = 0.0;
    converted = ToNative(conversion, value, input, kYamlConversionFieldName, ConversionRegistry());
    scalar = MakeFloat(value);
  }
  if (!converted) {
    failure.assign(conversion.ErrorText());
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
