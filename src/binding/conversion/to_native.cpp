// Value to native: the dispatcher by kind, and the rules of objects, optionals, vectors, maps
// and records.
#include <string>
#include <utility>

#include "binding/conversion/conversion.h"
#include "binding/conversion/messages.h"
#include "binding/conversion/rules.h"
#include "binding/registry.h"
#include "util/format.h"

namespace Vexa {
namespace {

using ConversionRules::DepthScope;

void FailTooDeep(BindingResult& result, std::string_view name) {
  result.Fail(Format(kConversionTooDeepMessage, name, kMaxBindingDepth));
}

void FailNoAccess(BindingResult& result, std::string_view name, BindingTypeKind kind) {
  if (result.Ok()) {
    result.Fail(Format(kConversionNoNativeAccessMessage, name, BindingTypeKindName(kind)));
  }
}

// The element of a container: the container's element kind and descriptor, nothing else.
BindingNativeType ElementTypeOf(const BindingNativeType& container) {
  return {{container.type.elementKind, BindingTypeKind::None, container.type.descriptor}};
}

void PlainToNative(BindingResult& result, void* native, const BindingNativeType& type,
                   const BindingProperty& input, std::string_view name,
                   const BindingRegistry& registry);

void ObjectToNative(BindingResult& result, BindingProperty& target, const BindingProperty& input,
                    std::string_view name) {
  if (!result.Ok()) {
    target.Reset();
    return;
  }
  // A deep copy recurses as deep as the input: refuse what the limit would not let through.
  if (!ConversionRules::NestingWithin(input, DepthScope::Remaining())) {
    FailTooDeep(result, name);
    target.Reset();
    return;
  }
  // Copied before the target changes, so an input inside the target (or the target itself)
  // is still intact while it is read; the move then swaps two standalone values.
  BindingProperty copy(input);
  target = std::move(copy);
}

void OptionalToNative(BindingResult& result, void* native, const BindingNativeType& type,
                      const BindingProperty& input, std::string_view name,
                      const BindingRegistry& registry) {
  const BindingOptionalAccess& access = *type.optional;
  if (!result.Ok() || input.IsEmpty()) {
    access.reset(native);
    return;
  }
  PlainToNative(result, access.emplace(native), type, input, name, registry);
  if (!result.Ok()) {
    access.reset(native);
  }
}

// The access table of a vector or map target (its own, else the built-in one of its element
// kind), after emptying the target. Null when there is none (the result then fails) or when the
// result had already failed: the guard leaves an empty container and converts nothing.
template <typename Access>
const Access* ClearedContainer(BindingResult& result, void* native, const Access* own,
                               const Access* builtin, const BindingNativeType& type,
                               std::string_view name) {
  const Access* access = own != nullptr ? own : builtin;
  if (access == nullptr) {
    FailNoAccess(result, name, type.type.kind);
    return nullptr;
  }
  access->clear(native);
  return result.Ok() ? access : nullptr;
}

void VectorToNative(BindingResult& result, void* native, const BindingNativeType& type,
                    const BindingProperty& input, std::string_view name,
                    const BindingRegistry& registry) {
  const BindingSequenceAccess* access = ClearedContainer(
      result, native, type.sequence, BuiltinSequenceAccess(type.type.elementKind), type, name);
  if (access == nullptr) {
    return;
  }
  if (input.Kind() != BindingPropertyKind::Collection) {
    const bool boolRequired = input.IsEmpty() && type.type.elementKind == BindingTypeKind::Bool;
    result.Fail(
        Format(boolRequired ? kConversionRequiredMessage : kConversionNotCollectionMessage, name));
    return;
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    FailTooDeep(result, name);
    return;
  }
  const std::size_t count = input.Size();
  if (!access->resize(native, count)) {
    result.Fail(Format(kConversionTooManyElementsMessage, name, "vector", count));
    return;
  }
  const BindingNativeType elementType = ElementTypeOf(type);
  for (std::size_t index = 0; index < count && result.Ok(); ++index) {
    const BindingProperty& element = input.ElementAt(index);
    if (element.IsEmpty()) {
      continue;  // keeps the default value
    }
    if (access->element != nullptr) {
      PlainToNative(result, access->element(native, index), elementType, element, name, registry);
    } else {
      bool bit = false;  // std::vector<bool> has no addressable elements
      ConversionRules::ScalarToNative(result, &bit, BindingTypeKind::Bool, element, name, registry);
      access->writeBit(native, index, bit);
    }
  }
}

void MapToNative(BindingResult& result, void* native, const BindingNativeType& type,
                 const BindingProperty& input, std::string_view name,
                 const BindingRegistry& registry) {
  const BindingMapAccess* access = ClearedContainer(
      result, native, type.map, BuiltinMapAccess(type.type.elementKind), type, name);
  if (access == nullptr) {
    return;
  }
  if (input.Kind() != BindingPropertyKind::Structure) {
    result.Fail(Format(kConversionMapNotStructureMessage, name));
    return;
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    FailTooDeep(result, name);
    return;
  }
  if (!access->reserve(native, input.Size())) {
    result.Fail(Format(kConversionTooManyElementsMessage, name, "map", input.Size()));
    return;
  }
  const BindingNativeType elementType = ElementTypeOf(type);
  for (const auto& [key, member] : input.Members()) {
    if (!result.Ok()) {
      return;
    }
    if (!member.IsEmpty()) {
      PlainToNative(result, access->slot(native, key), elementType, member, name, registry);
    }
  }
}

void FieldToNative(BindingResult& result, void* record, const BindingFieldDescriptor& field,
                   const BindingProperty& input, const BindingRegistry& registry) {
  void* address = static_cast<char*>(record) + field.offset;
  if (ConversionRules::ConvertsThroughConverter(field) && field.converter != nullptr) {
    field.converter->ToNative(result, address, input, field.name, registry);
  } else if (field.optional) {
    FailNoAccess(result, field.name, field.type.kind);
  } else {
    ConvertToNative(result, address, BindingNativeType{field.type}, input, field.name, registry);
  }
}

void PlainToNative(BindingResult& result, void* native, const BindingNativeType& type,
                   const BindingProperty& input, std::string_view name,
                   const BindingRegistry& registry) {
  switch (type.type.kind) {
    case BindingTypeKind::Object:
      return ObjectToNative(result, *static_cast<BindingProperty*>(native), input, name);
    case BindingTypeKind::Enum:
      return ConversionRules::EnumToNative(result, native, type.type.descriptor, input, name);
    case BindingTypeKind::Struct:
      return ConvertRecordToNative(result, native, type.type.descriptor, input, name, registry);
    case BindingTypeKind::Vector:
      return VectorToNative(result, native, type, input, name, registry);
    case BindingTypeKind::Map:
      return MapToNative(result, native, type, input, name, registry);
    default:
      if (ConversionRules::IsScalarKind(type.type.kind)) {
        return ConversionRules::ScalarToNative(result, native, type.type.kind, input, name,
                                               registry);
      }
      return FailNoAccess(result, name, type.type.kind);
  }
}

}  // namespace

void ConvertToNative(BindingResult& result, void* native, const BindingNativeType& type,
                     const BindingProperty& input, std::string_view name,
                     const BindingRegistry& registry) {
  if (type.optional != nullptr) {
    OptionalToNative(result, native, type, input, name, registry);
  } else {
    PlainToNative(result, native, type, input, name, registry);
  }
}

void ConvertRecordToNative(BindingResult& result, void* record,
                           const BindingTypeDescriptor* descriptor, const BindingProperty& input,
                           std::string_view name, const BindingRegistry& registry) {
  if (!result.Ok()) {
    return;  // a record is left as it is
  }
  if (input.IsEmpty()) {
    result.Fail(Format(kConversionRequiredMessage, name));
    return;
  }
  if (descriptor == nullptr || descriptor->isEnum) {
    result.Fail(Format(kConversionUnregisteredStructureMessage, name));
    return;
  }
  if (input.Kind() != BindingPropertyKind::Structure) {
    result.Fail(Format(kConversionNotStructureMessage, name, descriptor->name));
    return;
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    FailTooDeep(result, name);
    return;
  }
  for (const BindingFieldDescriptor& field : descriptor->fields) {
    if (!result.Ok()) {
      return;
    }
    const BindingProperty& member = input.Member(field.name);
    if (!member.IsEmpty()) {
      FieldToNative(result, record, field, member, registry);
    } else if (field.IsRequired()) {
      result.Fail(Format(kConversionMissingFieldMessage, name, descriptor->name, field.name));
    }
  }
}

void BindingNativeConverter::ToNative(BindingResult& result, void* field,
                                      const BindingProperty& input, std::string_view name,
                                      const BindingRegistry& registry) const {
  ConvertToNative(result, field, type_, input, name, registry);
}

}  // namespace Vexa
