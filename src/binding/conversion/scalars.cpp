// The value-to-native rules of bool, string, blob and enum targets, the dispatch of scalar
// kinds, and native to value for scalars and enums.
#include <cstdint>
#include <string>

#include "binding/conversion/messages.h"
#include "binding/conversion/native_type.h"
#include "binding/conversion/rules_internal.h"
#include "binding/registry.h"
#include "util/format.h"
#include "util/number_text.h"
#include "util/text.h"

namespace Vexa::ConversionRules {
namespace {

// --- Bool, string, blob ---

void BoolToNative(BindingResult& result, bool& target, const BindingProperty& input,
                  std::string_view name) {
  target = false;
  if (!result.Ok()) {
    return;
  }
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      RefuseRequired(result, name);
      return;
    case BindingPropertyKind::Bool:
      target = input.GetBool();
      return;
    case BindingPropertyKind::String: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        target = true;
      } else if (text != "0" && text != "false") {
        Refuse(result, Format(kConversionBoolFormatMessage, text, name));
      }
      return;
    }
    default:
      Refuse(result, Format(kConversionBoolInvalidTypeMessage, name, InputKindName(input)));
      return;
  }
}

void StringToNative(BindingResult& result, std::string& target, const BindingProperty& input,
                    std::string_view name, const BindingRegistry& registry) {
  target.clear();
  if (!result.Ok()) {
    return;
  }
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      RefuseRequired(result, name);
      return;
    case BindingPropertyKind::String:
      target.assign(input.GetString());
      return;
    case BindingPropertyKind::Enum: {
      const BindingEnumerator& enumerator = input.GetEnum();
      const char* enumeratorName =
          enumerator.type == nullptr ? nullptr
                                     : registry.EnumeratorName(*enumerator.type, enumerator.value);
      if (enumeratorName != nullptr) {
        target.assign(enumeratorName);
      } else {
        Refuse(result, Format(kConversionNotEnumeratorMessage, enumerator.value, name));
      }
      return;
    }
    default:
      Refuse(result, Format(kConversionNotStringMessage, name));
      return;
  }
}

// The decoder skips what it does not know; a blob text must not contain anything else.
bool IsBase64Text(std::string_view text) {
  for (const char character : text) {
    const bool known = (character >= 'A' && character <= 'Z') ||
                       (character >= 'a' && character <= 'z') ||
                       (character >= '0' && character <= '9') || character == '+' ||
                       character == '/' || character == '=';
    if (!known) {
      return false;
    }
  }
  return true;
}

void BlobToNative(BindingResult& result, BindingBlob& target, const BindingProperty& input,
                  std::string_view name) {
  target.clear();
  if (!result.Ok()) {
    return;
  }
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      RefuseRequired(result, name);
      return;
    case BindingPropertyKind::Blob:
      target = input.GetBlob();
      return;
    case BindingPropertyKind::String: {
      const std::string_view text = input.GetString();
      if (!IsBase64Text(text)) {
        Refuse(result, Format(kConversionInvalidBase64Message, name));
        return;
      }
      const std::string bytes = Base64Decode(text);
      target.assign(bytes.begin(), bytes.end());
      return;
    }
    default:
      Refuse(result, Format(kConversionNotBlobMessage, name));
      return;
  }
}

// --- Enums ---

bool IsEnumSize(uint32_t size) {
  return size == 1 || size == 2 || size == 4 || size == 8;
}

void StoreEnum(void* native, uint32_t size, int32_t value) {
  switch (size) {
    case 1:
      return StoreAs(native, static_cast<int8_t>(value));
    case 2:
      return StoreAs(native, static_cast<int16_t>(value));
    case 4:
      return StoreAs(native, value);
    default:
      return StoreAs(native, static_cast<int64_t>(value));
  }
}

int32_t LowWord(uint64_t bits) {
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

bool ReadEnum(BindingResult& result, const BindingTypeDescriptor& descriptor,
              const BindingProperty& input, std::string_view name, int32_t& value) {
  const auto known = [&](int32_t number) {
    value = number;
    return descriptor.HasEnumeratorValue(number) ||
           Refuse(result, Format(kConversionNotTypedEnumeratorMessage, input.ToText(),
                                 descriptor.name, name));
  };
  switch (input.Kind()) {
    case BindingPropertyKind::Empty:
      return RefuseRequired(result, name);
    case BindingPropertyKind::Signed:
      return known(LowWord(static_cast<uint64_t>(input.GetSigned())));
    case BindingPropertyKind::Unsigned:
      return known(LowWord(input.GetUnsigned()));
    case BindingPropertyKind::Enum:
      return known(input.GetEnum().value);
    case BindingPropertyKind::String: {
      if (const BindingEnumValue* named = descriptor.FindEnumerator(input.GetString())) {
        value = named->value;
        return true;
      }
      // A text that is neither a name nor a number is an unknown enumerator too: the message
      // names the text instead of a parse failure.
      int64_t number = 0;
      if (ReadSignedText(input.GetString(), number) != NumberText::Number) {
        return Refuse(result, Format(kConversionNotTypedEnumeratorMessage, input.ToText(),
                                     descriptor.name, name));
      }
      return known(LowWord(static_cast<uint64_t>(number)));
    }
    default:
      return Refuse(result, Format(kConversionEnumInvalidTypeMessage, name, InputKindName(input)));
  }
}

}  // namespace

bool IsScalarKind(BindingTypeKind kind) {
  switch (kind) {
    case BindingTypeKind::Bool:
    case BindingTypeKind::Int8:
    case BindingTypeKind::UInt8:
    case BindingTypeKind::Int16:
    case BindingTypeKind::UInt16:
    case BindingTypeKind::Int32:
    case BindingTypeKind::UInt32:
    case BindingTypeKind::Int64:
    case BindingTypeKind::UInt64:
    case BindingTypeKind::Float:
    case BindingTypeKind::Double:
    case BindingTypeKind::String:
    case BindingTypeKind::Blob:
    case BindingTypeKind::Callback:
      return true;
    default:
      return false;
  }
}

void ScalarToNative(BindingResult& result, void* native, BindingTypeKind kind,
                    const BindingProperty& input, std::string_view name,
                    const BindingRegistry& registry) {
  switch (kind) {
    case BindingTypeKind::Bool:
      return BoolToNative(result, *static_cast<bool*>(native), input, name);
    case BindingTypeKind::Float:
    case BindingTypeKind::Double:
      return FloatingToNative(result, native, kind, input, name);
    case BindingTypeKind::String:
      return StringToNative(result, *static_cast<std::string*>(native), input, name, registry);
    case BindingTypeKind::Blob:
      return BlobToNative(result, *static_cast<BindingBlob*>(native), input, name);
    default:
      return IntegerToNative(result, native, kind, input, name);
  }
}

void EnumToNative(BindingResult& result, void* native, const BindingTypeDescriptor* descriptor,
                  const BindingProperty& input, std::string_view name) {
  // Without a usable descriptor the storage width is unknown: nothing is written.
  if (descriptor == nullptr) {
    if (result.Ok()) {
      result.Fail(Format(kConversionUnregisteredEnumMessage, name));
    }
    return;
  }
  if (!IsEnumSize(descriptor->size)) {
    if (result.Ok()) {
      result.Fail(Format(kConversionEnumSizeMessage, name, descriptor->name, descriptor->size));
    }
    return;
  }
  int32_t value = 0;
  if (!result.Ok() || !ReadEnum(result, *descriptor, input, name, value)) {
    value = 0;
  }
  StoreEnum(native, descriptor->size, value);
}

void ScalarToValue(BindingProperty& target, const void* native, BindingTypeKind kind) {
  switch (kind) {
    case BindingTypeKind::Bool:
      target.SetBool(*static_cast<const bool*>(native));
      return;
    case BindingTypeKind::Int8:
      target.SetSigned(LoadAs<int8_t>(native));
      return;
    case BindingTypeKind::UInt8:
      target.SetUnsigned(LoadAs<uint8_t>(native));
      return;
    case BindingTypeKind::Int16:
      target.SetSigned(LoadAs<int16_t>(native));
      return;
    case BindingTypeKind::UInt16:
      target.SetUnsigned(LoadAs<uint16_t>(native));
      return;
    case BindingTypeKind::Int32:
      target.SetSigned(LoadAs<int32_t>(native));
      return;
    case BindingTypeKind::UInt32:
    case BindingTypeKind::Callback:
      target.SetUnsigned(LoadAs<uint32_t>(native));
      return;
    case BindingTypeKind::Int64:
      target.SetSigned(LoadAs<int64_t>(native));
      return;
    case BindingTypeKind::UInt64:
      target.SetUnsigned(LoadAs<uint64_t>(native));
      return;
    case BindingTypeKind::Float:
      target.SetFloat(static_cast<double>(LoadAs<float>(native)));
      return;
    case BindingTypeKind::Double:
      target.SetFloat(LoadAs<double>(native));
      return;
    case BindingTypeKind::String:
      target.SetString(*static_cast<const std::string*>(native));
      return;
    case BindingTypeKind::Blob:
      target.SetBlob(*static_cast<const BindingBlob*>(native));
      return;
    default:
      target.Reset();
      return;
  }
}

bool EnumToValue(BindingProperty& target, const void* native,
                 const BindingTypeDescriptor* descriptor) {
  if (descriptor == nullptr) {
    return false;
  }
  int32_t value = 0;
  switch (descriptor->size) {
    case 1:
      value = LoadAs<int8_t>(native);
      break;
    case 2:
      value = LoadAs<int16_t>(native);
      break;
    case 4:
      value = LoadAs<int32_t>(native);
      break;
    case 8:
      value = LowWord(static_cast<uint64_t>(LoadAs<int64_t>(native)));
      break;
    default:
      break;
  }
  target.SetEnum(value, *descriptor->typeInfo);
  return true;
}

}  // namespace Vexa::ConversionRules
