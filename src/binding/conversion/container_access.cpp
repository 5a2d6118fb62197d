// The built-in container tables, the nesting bound shared by both directions, and the field
// dispatch decision.
#include <string>

#include "binding/conversion/native_type.h"
#include "binding/conversion/rules_internal.h"

namespace Vexa {

const BindingSequenceAccess* BuiltinSequenceAccess(BindingTypeKind elementKind) {
  switch (elementKind) {
    case BindingTypeKind::Bool:
      return &SequenceAccessOf<bool>();
    case BindingTypeKind::Int8:
      return &SequenceAccessOf<int8_t>();
    case BindingTypeKind::UInt8:
      return &SequenceAccessOf<uint8_t>();
    case BindingTypeKind::Int16:
      return &SequenceAccessOf<int16_t>();
    case BindingTypeKind::UInt16:
      return &SequenceAccessOf<uint16_t>();
    case BindingTypeKind::Int32:
      return &SequenceAccessOf<int32_t>();
    case BindingTypeKind::UInt32:
      return &SequenceAccessOf<uint32_t>();
    case BindingTypeKind::Int64:
      return &SequenceAccessOf<int64_t>();
    case BindingTypeKind::UInt64:
      return &SequenceAccessOf<uint64_t>();
    case BindingTypeKind::Float:
      return &SequenceAccessOf<float>();
    case BindingTypeKind::Double:
      return &SequenceAccessOf<double>();
    case BindingTypeKind::String:
      return &SequenceAccessOf<std::string>();
    case BindingTypeKind::Object:
      return &SequenceAccessOf<BindingProperty>();
    case BindingTypeKind::Blob:
      return &SequenceAccessOf<BindingBlob>();
    case BindingTypeKind::Callback:
      return &SequenceAccessOf<BindingCallback>();
    default:
      return nullptr;  // enum and record elements have no C++ type known here
  }
}

const BindingMapAccess* BuiltinMapAccess(BindingTypeKind elementKind) {
  switch (elementKind) {
    case BindingTypeKind::Bool:
      return &MapAccessOf<bool>();
    case BindingTypeKind::Int8:
      return &MapAccessOf<int8_t>();
    case BindingTypeKind::UInt8:
      return &MapAccessOf<uint8_t>();
    case BindingTypeKind::Int16:
      return &MapAccessOf<int16_t>();
    case BindingTypeKind::UInt16:
      return &MapAccessOf<uint16_t>();
    case BindingTypeKind::Int32:
      return &MapAccessOf<int32_t>();
    case BindingTypeKind::UInt32:
      return &MapAccessOf<uint32_t>();
    case BindingTypeKind::Int64:
      return &MapAccessOf<int64_t>();
    case BindingTypeKind::UInt64:
      return &MapAccessOf<uint64_t>();
    case BindingTypeKind::Float:
      return &MapAccessOf<float>();
    case BindingTypeKind::Double:
      return &MapAccessOf<double>();
    case BindingTypeKind::String:
      return &MapAccessOf<std::string>();
    case BindingTypeKind::Object:
      return &MapAccessOf<BindingProperty>();
    case BindingTypeKind::Blob:
      return &MapAccessOf<BindingBlob>();
    case BindingTypeKind::Callback:
      return &MapAccessOf<BindingCallback>();
    default:
      return nullptr;
  }
}

namespace ConversionRules {
namespace {

// Per thread, because a conversion runs on one thread from start to end and the converter
// interface that it may pass through carries no depth of its own.
thread_local std::size_t tDepth = 0;

}  // namespace

DepthScope::DepthScope() : entered_(tDepth < kMaxBindingDepth) {
  if (entered_) {
    ++tDepth;
  }
}

DepthScope::~DepthScope() {
  if (entered_) {
    --tDepth;
  }
}

std::size_t DepthScope::Remaining() {
  return kMaxBindingDepth - tDepth;
}

bool NestingWithin(const BindingProperty& value, std::size_t levels) {
  switch (value.Kind()) {
    case BindingPropertyKind::Collection:
      if (levels == 0) {
        return false;
      }
      for (const BindingProperty& element : value.Elements()) {
        if (!NestingWithin(element, levels - 1)) {
          return false;
        }
      }
      return true;
    case BindingPropertyKind::Structure:
      if (levels == 0) {
        return false;
      }
      for (const auto& [key, member] : value.Members()) {
        if (!NestingWithin(member, levels - 1)) {
          return false;
        }
      }
      return true;
    default:
      return true;
  }
}

bool ConvertsThroughConverter(const BindingFieldDescriptor& field) {
  switch (field.type.kind) {
    case BindingTypeKind::Vector:
    case BindingTypeKind::Map:
    case BindingTypeKind::Callback:
      return true;
    default:
      return field.optional;
  }
}

}  // namespace ConversionRules
}  // namespace Vexa
