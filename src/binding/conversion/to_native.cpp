// Value to native: the dispatcher by kind, and the rules of objects, optionals, vectors, maps
// and records.
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

// Every rule here answers what the entry points answer: whether the result is still good.

bool FailTooDeep(BindingResult& result, std::string_view name) {
  result.Fail(Format(kConversionTooDeepMessage, name, kMaxBindingDepth));
  return false;
}

bool FailNoAccess(BindingResult& result, std::string_view name, BindingTypeKind kind) {
  if (result.Ok()) {
    result.Fail(Format(kConversionNoNativeAccessMessage, name, BindingTypeKindName(kind)));
  }
  return false;
}

// The element of a container: the container's element kind and descriptor, nothing else.
BindingNativeType ElementTypeOf(const BindingNativeType& container) {
  return {{container.type.elementKind, BindingTypeKind::None, container.type.descriptor}};
}

bool PlainToNative(BindingResult& result, void* native, const BindingNativeType& type,
                   const BindingProperty& input, std::string_view name,
                   const BindingRegistry& registry);

bool ObjectToNative(BindingResult& result, BindingProperty& target, const BindingProperty& input,
                    std::string_view name) {
  if (!result.Ok()) {
    target.Reset();
    return false;
  }
  // A deep copy recurses as deep as the input: refuse what the limit would not let through.
  if (!ConversionRules::NestingWithin(input, DepthScope::Remaining())) {
    target.Reset();
    return FailTooDeep(result, name);
  }
  // Copied before the target changes, so an input inside the target (or the target itself)
  // is still intact while it is read; the move then swaps two standalone values.
  BindingProperty copy(input);
  target = std::move(copy);
  return true;
}

bool OptionalToNative(BindingResult& result, void* native, const BindingNativeType& type,
                      const BindingProperty& input, std::string_view name,
                      const BindingRegistry& registry) {
  const BindingOptionalAccess& access = *type.optional;
  if (!result.Ok() || input.IsEmpty()) {
    access.reset(native);
    return result.Ok();
  }
  if (!PlainToNative(result, access.emplace(native), type, input, name, registry)) {
    access.reset(native);
    return false;
  }
  return true;
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

bool VectorToNative(BindingResult& result, void* native, const BindingNativeType& type,
                    const BindingProperty& input, std::string_view name,
                    const BindingRegistry& registry) {
  const BindingSequenceAccess* access = ClearedContainer(
      result, native, type.sequence, BuiltinSequenceAccess(type.type.elementKind), type, name);
  if (access == nullptr) {
    return false;
  }
  if (input.Kind() != BindingPropertyKind::Collection) {
    const bool boolRequired = input.IsEmpty() && type.type.elementKind == BindingTypeKind::Bool;
    return ConversionRules::Refuse(
        result,
        Format(boolRequired ? kConversionRequiredMessage : kConversionNotCollectionMessage, name));
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    return FailTooDeep(result, name);
  }
  const std::size_t count = input.Size();
  if (!access->resize(native, count)) {
    return ConversionRules::Refuse(
        result, Format(kConversionTooManyElementsMessage, name, "vector", count));
  }
  const BindingNativeType elementType = ElementTypeOf(type);
  for (std::size_t index = 0; index < count && result.Ok(); ++index) {
    const BindingProperty& element = input.ElementAt(index);
    if (element.IsEmpty()) {
      continue;  // keeps the default value
    }
    if (access->element != nullptr) {
      if (!PlainToNative(result, access->element(native, index), elementType, element, name,
                         registry)) {
        return false;
      }
    } else {
      bool bit = false;  // std::vector<bool> has no addressable elements
      ConversionRules::ScalarToNative(result, &bit, BindingTypeKind::Bool, element, name, registry);
      access->writeBit(native, index, bit);
    }
  }
  return result.Ok();
}

bool MapToNative(BindingResult& result, void* native, const BindingNativeType& type,
                 const BindingProperty& input, std::string_view name,
                 const BindingRegistry& registry) {
  const BindingMapAccess* access = ClearedContainer(
      result, native, type.map, BuiltinMapAccess(type.type.elementKind), type, name);
  if (access == nullptr) {
    return false;
  }
  if (input.Kind() != BindingPropertyKind::Structure) {
    return ConversionRules::Refuse(result, Format(kConversionMapNotStructureMessage, name));
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    return FailTooDeep(result, name);
  }
  if (!access->reserve(native, input.Size())) {
    return ConversionRules::Refuse(
        result, Format(kConversionTooManyElementsMessage, name, "map", input.Size()));
  }
  const BindingNativeType elementType = ElementTypeOf(type);
  for (const auto& [key, member] : input.Members()) {
    if (!member.IsEmpty() &&
        !PlainToNative(result, access->slot(native, key), elementType, member, name, registry)) {
      return false;
    }
  }
  return true;
}

bool FieldToNative(BindingResult& result, void* record, const BindingFieldDescriptor& field,
                   const BindingProperty& input, const BindingRegistry& registry) {
  void* address = static_cast<char*>(record) + field.offset;
  if (ConversionRules::ConvertsThroughConverter(field) && field.converter != nullptr) {
    return field.converter->ToNative(result, address, input, field.name, registry);
  }
  if (field.optional) {
    return FailNoAccess(result, field.name, field.type.kind);
  }
  return ConvertToNative(result, address, BindingNativeType{field.type}, input, field.name,
                         registry);
}

bool PlainToNative(BindingResult& result, void* native, const BindingNativeType& type,
                   const BindingProperty& input, std::string_view name,
                   const BindingRegistry& registry) {
  switch (type.type.kind) {
    case BindingTypeKind::Object:
      return ObjectToNative(result, *static_cast<BindingProperty*>(native), input, name);
    case BindingTypeKind::Enum:
      ConversionRules::EnumToNative(result, native, type.type.descriptor, input, name);
      return result.Ok();
    case BindingTypeKind::Struct:
      return ConvertRecordToNative(result, native, type.type.descriptor, input, name, registry);
    case BindingTypeKind::Vector:
      return VectorToNative(result, native, type, input, name, registry);
    case BindingTypeKind::Map:
      return MapToNative(result, native, type, input, name, registry);
    default:
      if (!ConversionRules::IsScalarKind(type.type.kind)) {
        return FailNoAccess(result, name, type.type.kind);
      }
      ConversionRules::ScalarToNative(result, native, type.type.kind, input, name, registry);
      return result.Ok();
  }
}

}  // namespace

bool ConvertToNative(BindingResult& result, void* native, const BindingNativeType& type,
                     const BindingProperty& input, std::string_view name,
                     const BindingRegistry& registry) {
  if (type.optional != nullptr) {
    return OptionalToNative(result, native, type, input, name, registry);
  }
  return PlainToNative(result, native, type, input, name, registry);
}

bool ConvertRecordToNative(BindingResult& result, void* record,
                           const BindingTypeDescriptor* descriptor, const BindingProperty& input,
                           std::string_view name, const BindingRegistry& registry) {
  if (!result.Ok()) {
    return false;  // a record is left as it is
  }
  if (input.IsEmpty()) {
    return ConversionRules::RefuseRequired(result, name);
  }
  if (descriptor == nullptr || descriptor->isEnum) {
    return ConversionRules::Refuse(result, Format(kConversionUnregisteredStructureMessage, name));
  }
  if (input.Kind() != BindingPropertyKind::Structure) {
    return ConversionRules::Refuse(result,
                                   Format(kConversionNotStructureMessage, name, descriptor->name));
  }
  const DepthScope scope;
  if (!scope.Entered()) {
    return FailTooDeep(result, name);
  }
  for (const BindingFieldDescriptor& field : descriptor->fields) {
    const BindingProperty& member = input.Member(field.name);
    if (!member.IsEmpty()) {
      if (!FieldToNative(result, record, field, member, registry)) {
        return false;
      }
    } else if (field.IsRequired()) {
      return ConversionRules::Refuse(
          result, Format(kConversionMissingFieldMessage, name, descriptor->name, field.name));
    }
  }
  return true;
}

bool BindingNativeConverter::ToNative(BindingResult& result, void* field,
                                      const BindingProperty& input, std::string_view name,
                                      const BindingRegistry& registry) const {
  return ConvertToNative(result, field, type_, input, name, registry);
}

}  // namespace Vexa
