// The value-to-native rules of the integer, callback and floating-point kinds: range checks,
// and texts read by the text-to-number rules of util/number_text.h.
//
// Native objects are written through memcpy of the exact-width type of their kind: the native
// member may be any integer type of that size (`long`, `long long`), so the access must not
// depend on which one it is.
#include <cstdint>
#include <limits>
#include <string>

#include "binding/conversion/messages.h"
#include "binding/conversion/rules_internal.h"
#include "util/format.h"
#include "util/number_text.h"

namespace Vexa::ConversionRules {
namespace {

// --- Integers ---

struct IntegerTarget {
  BindingTypeKind kind;
  const char* typeName;
  bool isSigned;
  int64_t minimum;
  uint64_t maximum;
  // The first double whose truncation no longer fits: 2^63 for int64, 2^64 for uint64. For
  // narrower types the maximum itself is exact as a double and the check below it suffices.
  double truncationLimit;
};

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

IntegerTarget IntegerTargetOf(BindingTypeKind kind) {
  const char* name = BindingTypeKindName(kind);
  switch (kind) {
    case BindingTypeKind::Int8:
      return {kind, name, true, INT8_MIN, INT8_MAX, kTwoTo63};
    case BindingTypeKind::Int16:
      return {kind, name, true, INT16_MIN, INT16_MAX, kTwoTo63};
    case BindingTypeKind::Int32:
      return {kind, name, true, INT32_MIN, INT32_MAX, kTwoTo63};
    case BindingTypeKind::Int64:
      return {kind, name, true, INT64_MIN, INT64_MAX, kTwoTo63};
    case BindingTypeKind::UInt8:
      return {kind, name, false, 0, UINT8_MAX, kTwoTo64};
    case BindingTypeKind::UInt16:
      return {kind, name, false, 0, UINT16_MAX, kTwoTo64};
    case BindingTypeKind::UInt32:
    case BindingTypeKind::Callback:  // a callback handle is a 32-bit id
      return {kind, name, false, 0, UINT32_MAX, kTwoTo64};
    default:
      return {kind, name, false, 0, UINT64_MAX, kTwoTo64};
  }
}

// `bits` holds the value in two's complement; narrowing keeps the low bits.
void StoreInteger(void* native, BindingTypeKind kind, uint64_t bits) {
  switch (kind) {
    case BindingTypeKind::Int8:
      return StoreAs(native, static_cast<int8_t>(bits));
    case BindingTypeKind::UInt8:
      return StoreAs(native, static_cast<uint8_t>(bits));
    case BindingTypeKind::Int16:
      return StoreAs(native, static_cast<int16_t>(bits));
    case BindingTypeKind::UInt16:
      return StoreAs(native, static_cast<uint16_t>(bits));
    case BindingTypeKind::Int32:
      return StoreAs(native, static_cast<int32_t>(bits));
    case BindingTypeKind::UInt32:
    case BindingTypeKind::Callback:
      return StoreAs(native, static_cast<uint32_t>(bits));
    default:
      return StoreAs(native, bits);
  }
}

bool RefuseRange(BindingResult& result, const BindingProperty& input, std::string_view name,
                 const char* typeName) {
  return Refuse(result, Format(kConversionRangeMessage, input.ToText(), name, typeName));
}

// A text that does not read as a number of the target: the format or range refusal of
// util/number_text.h, quoting the text.
bool RefuseText(BindingResult& result, NumberText read, std::string_view text,
                std::string_view name, const char* typeName) {
  return Refuse(result, NumberTextRefusal(read, text, name, typeName));
}

bool RefuseInvalidType(BindingResult& result, const BindingProperty& input, std::string_view name,
                       const char* typeName) {
  return Refuse(result,
                Format(kConversionInvalidTypeMessage, name, typeName, InputKindName(input)));
}

// NaN fails every comparison, so the test is written to let only numbers inside through.
bool FloatFitsInteger(double value, const IntegerTarget& target) {
  const double minimum = static_cast<double>(target.minimum);
  const double maximum = static_cast<double>(target.maximum);
  return value >= minimum && value <= maximum && value < target.truncationLimit;
}

bool ReadSigned(BindingResult& result, const IntegerTarget& target, const BindingProperty& input,
                std::string_view name, int64_t& value) {
  const auto inRange = [&](int64_t number) {
    return number >= target.minimum &&
           (number < 0 || static_cast<uint64_t>(number) <= target.maximum);
  };
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      return RefuseRequired(result, name);
    case BindingPropertyKind::Signed:
      value = input.GetSigned();
      return inRange(value) || RefuseRange(result, input, name, target.typeName);
    case BindingPropertyKind::Unsigned:
      if (input.GetUnsigned() > target.maximum) {
        return RefuseRange(result, input, name, target.typeName);
      }
      value = static_cast<int64_t>(input.GetUnsigned());
      return true;
    case BindingPropertyKind::Float:
      if (!FloatFitsInteger(input.GetFloat(), target)) {
        return RefuseRange(result, input, name, target.typeName);
      }
      value = static_cast<int64_t>(input.GetFloat());
      return true;
    case BindingPropertyKind::String: {
      const NumberText read = ReadSignedText(input.GetString(), value, target.minimum,
                                             static_cast<int64_t>(target.maximum));
      return read == NumberText::Number ||
             RefuseText(result, read, input.GetString(), name, target.typeName);
    }
    case BindingPropertyKind::Enum:
      value = input.GetEnum().value;
      return inRange(value) || RefuseRange(result, input, name, target.typeName);
    default:
      return RefuseInvalidType(result, input, name, target.typeName);
  }
}

bool ReadUnsigned(BindingResult& result, const IntegerTarget& target, const BindingProperty& input,
                  std::string_view name, uint64_t& value) {
  const auto signedInRange = [&](int64_t number) {
    return number >= 0 && static_cast<uint64_t>(number) <= target.maximum;
  };
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      return RefuseRequired(result, name);
    case BindingPropertyKind::Signed:
      if (!signedInRange(input.GetSigned())) {
        return RefuseRange(result, input, name, target.typeName);
      }
      value = static_cast<uint64_t>(input.GetSigned());
      return true;
    case BindingPropertyKind::Unsigned:
      value = input.GetUnsigned();
      return value <= target.maximum || RefuseRange(result, input, name, target.typeName);
    case BindingPropertyKind::Float:
      if (!FloatFitsInteger(input.GetFloat(), target)) {
        return RefuseRange(result, input, name, target.typeName);
      }
      value = static_cast<uint64_t>(input.GetFloat());
      return true;
    case BindingPropertyKind::String: {
      const NumberText read = ReadUnsignedText(input.GetString(), value, target.maximum);
      return read == NumberText::Number ||
             RefuseText(result, read, input.GetString(), name, target.typeName);
    }
    case BindingPropertyKind::Enum:
      if (!signedInRange(input.GetEnum().value)) {
        return RefuseRange(result, input, name, target.typeName);
      }
      value = static_cast<uint64_t>(input.GetEnum().value);
      return true;
    default:
      return RefuseInvalidType(result, input, name, target.typeName);
  }
}

void ConvertInteger(BindingResult& result, void* native, BindingTypeKind kind,
                    const BindingProperty& input, std::string_view name) {
  const IntegerTarget target = IntegerTargetOf(kind);
  uint64_t bits = 0;
  if (target.isSigned) {
    int64_t value = 0;
    if (result.Ok() && ReadSigned(result, target, input, name, value)) {
      bits = static_cast<uint64_t>(value);
    }
  } else {
    uint64_t value = 0;
    if (result.Ok() && ReadUnsigned(result, target, input, name, value)) {
      bits = value;
    }
  }
  StoreInteger(native, kind, bits);
}

// --- Floating point ---

bool ReadFloating(BindingResult& result, BindingTypeKind kind, const BindingProperty& input,
                  std::string_view name, double& value) {
  const char* typeName = BindingTypeKindName(kind);
  const double maximum = kind == BindingTypeKind::Float ? std::numeric_limits<float>::max()
                                                        : std::numeric_limits<double>::max();
  // A NaN is neither below nor above the range and passes, as documented for clients.
  const auto outside = [&](double number) { return number < -maximum || number > maximum; };
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      return RefuseRequired(result, name);
    case BindingPropertyKind::Signed:
      value = static_cast<double>(input.GetSigned());
      return true;
    case BindingPropertyKind::Unsigned:
      value = static_cast<double>(input.GetUnsigned());
      return true;
    case BindingPropertyKind::Float:
      value = input.GetFloat();
      return !outside(value) || RefuseRange(result, input, name, typeName);
    case BindingPropertyKind::String: {
      const NumberText read = ReadFloatText(input.GetString(), value, maximum);
      return read == NumberText::Number ||
             RefuseText(result, read, input.GetString(), name, typeName);
    }
    case BindingPropertyKind::Enum:
      value = input.GetEnum().value;
      return true;
    default:
      return RefuseInvalidType(result, input, name, typeName);
  }
}

void ConvertFloating(BindingResult& result, void* native, BindingTypeKind kind,
                     const BindingProperty& input, std::string_view name) {
  double value = 0.0;
  if (!result.Ok() || !ReadFloating(result, kind, input, name, value)) {
    value = 0.0;
  }
  if (kind == BindingTypeKind::Float) {
    StoreAs(native, static_cast<float>(value));
  } else {
    StoreAs(native, value);
  }
}

}  // namespace

bool Refuse(BindingResult& result, const std::string& message) {
  result.Fail(message);
  return false;
}

bool RefuseRequired(BindingResult& result, std::string_view name) {
  return Refuse(result, Format(kConversionRequiredMessage, name));
}

void IntegerToNative(BindingResult& result, void* native, BindingTypeKind kind,
                     const BindingProperty& input, std::string_view name) {
  ConvertInteger(result, native, kind, input, name);
}

void FloatingToNative(BindingResult& result, void* native, BindingTypeKind kind,
                      const BindingProperty& input, std::string_view name) {
  ConvertFloating(result, native, kind, input, name);
}

}  // namespace Vexa::ConversionRules
