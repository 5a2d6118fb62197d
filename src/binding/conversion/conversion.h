// Conversion between native objects described by the registry and BindingProperty values, in
// both directions, with every refusal reported as a failed BindingResult that names the field.
//
//   Vexa::BindingResult result;
//   GeoInfoRequest request;
//   if (!Vexa::ToNative(result, request, argument, "request", registry)) {   // value -> native
//     log(result.ErrorText());
//   }
//
//   const Vexa::BindingResult answer = Vexa::ToValue(response, registry);    // native -> value
//   if (!answer) { log(answer.ErrorText()); }
//
// Value to native is lenient where it can be: texts are parsed into numbers (as strtoll,
// strtoull and strtod do), booleans ("true", "false", "1", "0") and enumerators (by name or
// number), and numbers are range-checked. Records are walked field by field in registration
// order: a required field must be present and not empty, a missing one keeps its native
// content, extra members are ignored. Native to value produces one member per field (fields
// flagged kBindingFieldOmitWhenEmpty only when not zero or empty).
//
// Every conversion reports through the BindingResult it is handed and answers whether that
// result is still good afterwards: [[nodiscard]], so that a refusal cannot go unnoticed.
//
// The guard: a conversion handed a failed result does nothing except write the target's
// empty state (scalar targets get zero, false, an empty text or blob; vectors, maps and
// objects are cleared; a record is left alone), so a chain of conversions keeps its first
// message. On a refusal the native object may be partly written: fields and elements
// converted before the failing one keep their new content, the failing scalar holds its empty
// state, later ones are untouched.
//
// Soundness: nothing here throws (except std::bad_alloc when memory runs out). Nesting is
// bounded: an input, or a native record, nested more than kMaxBindingDepth collections and
// structures deep is refused with a message instead of being walked, and a container that
// cannot be resized to the input's element count is refused too.
//
// The input must not be, or be inside, the result's own value or a native vector or map being
// written (an object target may contain its input). Descriptors and the registry are borrowed
// for the call. Conversions on different threads may share a registry.
#pragma once

#include <string_view>

#include "binding/conversion/native_type.h"
#include "binding/conversion/native_type_of.h"
#include "binding/descriptors.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

class BindingRegistry;

// --- Untyped conversions ---

// Stores `input` into the native object at `native`, whose type `type` describes; `name` is
// quoted by messages. A vector or map without its own access table uses the built-in one of
// its element kind (none exists for enum and record elements: refused). An optional target
// becomes empty for an empty input, else holds the converted value; on refusal it is empty.
// True when the result is good afterwards.
[[nodiscard]] bool ConvertToNative(BindingResult& result, void* native,
                                   const BindingNativeType& type, const BindingProperty& input,
                                   std::string_view name, const BindingRegistry& registry);

// Makes result.value the value of the native object at `native`. An empty optional gives an
// empty value. Does nothing when the result has already failed. True when the result is good
// afterwards.
[[nodiscard]] bool ConvertToValue(BindingResult& result, const void* native,
                                  const BindingNativeType& type, const BindingRegistry& registry);

// The record rules on their own, for a record whose descriptor is known. A null descriptor
// is refused as unregistered. True when the result is good afterwards.
[[nodiscard]] bool ConvertRecordToNative(BindingResult& result, void* record,
                                         const BindingTypeDescriptor* descriptor,
                                         const BindingProperty& input, std::string_view name,
                                         const BindingRegistry& registry);
[[nodiscard]] bool ConvertRecordToValue(BindingResult& result, const void* record,
                                        const BindingTypeDescriptor* descriptor,
                                        const BindingRegistry& registry);

// Whether native to value keeps a member of a field flagged kBindingFieldOmitWhenEmpty: a true
// bool, a number other than 0 (a NaN counts as not 0), a non-empty text, blob, collection or
// structure, an enumerator other than 0.
[[nodiscard]] bool IsKeptWhenOmittingEmpty(const BindingProperty& value);

// The converter that typed field registration gives every field: the rules above for one
// native type. Owns nothing but its copy of `type`, whose tables and descriptor are static
// or the registry's.
class BindingNativeConverter final : public BindingFieldConverter {
 public:
  explicit BindingNativeConverter(const BindingNativeType& type) : type_(type) {}

  [[nodiscard]] bool ToNative(BindingResult& result, void* field, const BindingProperty& input,
                              std::string_view name,
                              const BindingRegistry& registry) const override;
  [[nodiscard]] bool ToValue(BindingResult& result, const void* field,
                             const BindingFieldDescriptor& descriptor,
                             const BindingRegistry& registry) const override;

  [[nodiscard]] const BindingNativeType& NativeType() const { return type_; }

 private:
  BindingNativeType type_;
};

// --- Typed entry points (thin; see native_type_of.h for the types accepted) ---

// Value to native for a whole native object: a record (its descriptor found through its
// StaticTypeInfo; an empty input gives "A value for '%1' is required."), or any other
// bindable type. True when the result is good afterwards.
template <typename T>
[[nodiscard]] bool ToNative(BindingResult& result, T& native, const BindingProperty& input,
                            std::string_view name, const BindingRegistry& registry) {
  return ConvertToNative(result, &native, NativeTypeOf<T>(registry), input, name, registry);
}

// Native to value for a whole native object; result.value receives the value. True when the
// result is good afterwards.
template <typename T>
[[nodiscard]] bool ToValue(BindingResult& result, const T& native,
                           const BindingRegistry& registry) {
  return ConvertToValue(result, &native, NativeTypeOf<T>(registry), registry);
}

// The same for the common case of a fresh result: the value of `native`, or the failure.
template <typename T>
[[nodiscard]] BindingResult ToValue(const T& native, const BindingRegistry& registry) {
  BindingResult result;
  static_cast<void>(ToValue(result, native, registry));  // the outcome is in `result`
  return result;
}

}  // namespace Vexa
