// Native to value. The value is built in place inside the result (members and elements are
// written where they end up) instead of through a temporary per field, which would cost a
// context and a deep copy each; a failure deep inside is carried out as a message and only
// then turned into the failed result.
#include <string>
#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/conversion/messages.h"
#include "binding/conversion/rules_internal.h"
#include "binding/registry.h"
#include "util/format.h"

namespace Vexa {
namespace {

using ConversionRules::DepthScope;

class ValueWriter {
 public:
  explicit ValueWriter(const BindingRegistry& registry) : registry_(registry) {}

  [[nodiscard]] const std::string& Error() const { return error_; }

  bool Write(BindingProperty& target, const void* native, const BindingNativeType& type) {
    if (type.optional != nullptr) {
      native = type.optional->value(native);
      if (native == nullptr) {
        target.Reset();
        return true;
      }
    }
    return WritePlain(target, native, type);
  }

  bool WriteRecord(BindingProperty& target, const void* record,
                   const BindingTypeDescriptor* descriptor) {
    if (descriptor == nullptr || descriptor->isEnum) {
      return Fail(kConversionUnregisteredNativeMessage);
    }
    const DepthScope scope;
    if (!scope.Entered()) {
      return FailTooDeep();
    }
    target.Reset();
    target.MakeStructure();
    for (const BindingFieldDescriptor& field : descriptor->fields) {
      if (!WriteField(target, record, field)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  bool FailTooDeep() { return Fail(Format(kConversionNativeTooDeepMessage, kMaxBindingDepth)); }

  bool WritePlain(BindingProperty& target, const void* native, const BindingNativeType& type) {
    switch (type.type.kind) {
      case BindingTypeKind::Object:
        return WriteObject(target, *static_cast<const BindingProperty*>(native));
      case BindingTypeKind::Enum:
        return ConversionRules::EnumToValue(target, native, type.type.descriptor) ||
               Fail(kConversionUnregisteredNativeEnumMessage);
      case BindingTypeKind::Struct:
        return WriteRecord(target, native, type.type.descriptor);
      case BindingTypeKind::Vector:
        return WriteSequence(target, native, type);
      case BindingTypeKind::Map:
        return WriteMap(target, native, type);
      default:
        if (!ConversionRules::IsScalarKind(type.type.kind)) {
          return Fail(
              Format(kConversionNativeNoAccessMessage, BindingTypeKindName(type.type.kind)));
        }
        ConversionRules::ScalarToValue(target, native, type.type.kind);
        return true;
    }
  }

  bool WriteObject(BindingProperty& target, const BindingProperty& source) {
    if (!ConversionRules::NestingWithin(source, DepthScope::Remaining())) {
      return FailTooDeep();
    }
    target = source;
    return true;
  }

  static BindingNativeType ElementTypeOf(const BindingNativeType& container) {
    return {{container.type.elementKind, BindingTypeKind::None, container.type.descriptor}};
  }

  bool WriteSequence(BindingProperty& target, const void* native, const BindingNativeType& type) {
    const BindingSequenceAccess* access =
        type.sequence != nullptr ? type.sequence : BuiltinSequenceAccess(type.type.elementKind);
    if (access == nullptr) {
      return Fail(Format(kConversionNativeNoAccessMessage, BindingTypeKindName(type.type.kind)));
    }
    const DepthScope scope;
    if (!scope.Entered()) {
      return FailTooDeep();
    }
    const std::size_t count = access->size(native);
    if (count > kMaxBindingElements) {
      return Fail(Format(kConversionNativeTooManyElementsMessage, count));
    }
    target.Reset();
    target.MakeCollection();
    (void)target.Reserve(count);  // within the limit, so it cannot be refused
    const BindingNativeType elementType = ElementTypeOf(type);
    for (std::size_t index = 0; index < count; ++index) {
      BindingProperty& element = target.Append();
      if (access->constElement == nullptr) {
        element.SetBool(access->readBit(native, index));
      } else if (!WritePlain(element, access->constElement(native, index), elementType)) {
        return false;
      }
    }
    return true;
  }

  bool WriteMap(BindingProperty& target, const void* native, const BindingNativeType& type) {
    const BindingMapAccess* access =
        type.map != nullptr ? type.map : BuiltinMapAccess(type.type.elementKind);
    if (access == nullptr) {
      return Fail(Format(kConversionNativeNoAccessMessage, BindingTypeKindName(type.type.kind)));
    }
    const DepthScope scope;
    if (!scope.Entered()) {
      return FailTooDeep();
    }
    target.Reset();
    target.MakeStructure();
    struct Walk {
      ValueWriter* writer;
      BindingProperty* target;
      BindingNativeType elementType;
      bool ok;
    } walk{this, &target, ElementTypeOf(type), true};
    access->forEach(native, &walk, [](void* context, std::string_view key, const void* value) {
      Walk& state = *static_cast<Walk*>(context);
      state.ok = state.writer->WritePlain(state.target->Member(key), value, state.elementType);
      return state.ok;
    });
    return walk.ok;
  }

  // A converter of another kind than ours answers through a result of its own.
  bool WriteThroughForeignConverter(BindingProperty& structure, const void* address,
                                    const BindingFieldDescriptor& field) {
    BindingResult converted;
    if (!field.converter->ToValue(converted, address, field, registry_)) {
      return Fail(std::string(converted.ErrorText()));
    }
    if (!field.OmitsWhenEmpty() || IsKeptWhenOmittingEmpty(converted.value)) {
      structure.Member(field.name) = converted.value;
    }
    return true;
  }

  bool WriteField(BindingProperty& structure, const void* record,
                  const BindingFieldDescriptor& field) {
    const void* address = static_cast<const char*>(record) + field.offset;
    BindingNativeType type{field.type};
    if (ConversionRules::ConvertsThroughConverter(field)) {
      const auto* ours = dynamic_cast<const BindingNativeConverter*>(field.converter.get());
      if (ours != nullptr) {
        type = ours->NativeType();
      } else if (field.converter != nullptr) {
        return WriteThroughForeignConverter(structure, address, field);
      } else if (field.optional) {
        return Fail(Format(kConversionNativeNoAccessMessage, BindingTypeKindName(field.type.kind)));
      }
    }
    if (field.OmitsWhenEmpty() && structure.HasMember(field.name)) {
      // Two fields of one name: an omitted later one must leave the earlier member alone.
      BindingProperty scratch;
      if (!Write(scratch, address, type)) {
        return false;
      }
      if (IsKeptWhenOmittingEmpty(scratch)) {
        structure.Member(field.name) = scratch;
      }
      return true;
    }
    BindingProperty& member = structure.Member(field.name);
    if (!Write(member, address, type)) {
      return false;
    }
    if (field.OmitsWhenEmpty() && !IsKeptWhenOmittingEmpty(member)) {
      structure.RemoveMember(field.name);
    }
    return true;
  }

  const BindingRegistry& registry_;
  std::string error_;
};

}  // namespace

bool IsKeptWhenOmittingEmpty(const BindingProperty& value) {
  switch (value.Kind()) {
    case BindingPropertyKind::Bool:
      return value.GetBool();
    case BindingPropertyKind::Signed:
      return value.GetSigned() != 0;
    case BindingPropertyKind::Unsigned:
      return value.GetUnsigned() != 0;
    case BindingPropertyKind::Float:
      return !(value.GetFloat() == 0.0);  // a NaN is kept
    case BindingPropertyKind::String:
    case BindingPropertyKind::Blob:
    case BindingPropertyKind::Collection:
    case BindingPropertyKind::Structure:
      return value.Size() > 0;
    case BindingPropertyKind::Enum:
      return value.GetEnum().value != 0;
    default:
      return false;
  }
}

bool ConvertToValue(BindingResult& result, const void* native, const BindingNativeType& type,
                    const BindingRegistry& registry) {
  if (!result.Ok()) {
    return false;
  }
  ValueWriter writer(registry);
  if (!writer.Write(result.value, native, type)) {
    result.Fail(writer.Error());
    return false;
  }
  return true;
}

bool ConvertRecordToValue(BindingResult& result, const void* record,
                          const BindingTypeDescriptor* descriptor,
                          const BindingRegistry& registry) {
  if (!result.Ok()) {
    return false;
  }
  ValueWriter writer(registry);
  if (!writer.WriteRecord(result.value, record, descriptor)) {
    result.Fail(writer.Error());
    return false;
  }
  return true;
}

bool BindingNativeConverter::ToValue(BindingResult& result, const void* field,
                                     const BindingFieldDescriptor& /*descriptor*/,
                                     const BindingRegistry& registry) const {
  return ConvertToValue(result, field, type_, registry);
}

}  // namespace Vexa
