// The per-kind rules behind conversion.h, shared by its source files; internal to vexa_binding.
// Callers use the entry points of conversion.h.
//
//   Vexa::ConversionRules::ScalarToNative(result, &field, Vexa::BindingTypeKind::Int32, input,
//                                         "count", registry);
//
// Every ...ToNative rule applies the guard itself (see conversion.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "binding/descriptors.h"
#include "binding/type_kind.h"
#include "value/property.h"
#include "value/result.h"

namespace Vexa {

class BindingRegistry;

namespace ConversionRules {

// Native objects of the numeric kinds are read and written through memcpy of their kind's
// exact-width type: the member may be any integer type of that size (`long`, `long long`, an
// enum), so the access must not depend on which one it is.
template <typename T>
void StoreAs(void* native, T value) {
  std::memcpy(native, &value, sizeof value);
}
template <typename T>
[[nodiscard]] T LoadAs(const void* native) {
  T value;
  std::memcpy(&value, native, sizeof value);
  return value;
}

[[nodiscard]] inline const char* InputKindName(const BindingProperty& input) {
  return BindingPropertyKindName(input.Kind());
}

// Fails the result with `message`. Always false, so that refusals read `return Refuse(...)`.
bool Refuse(BindingResult& result, const std::string& message);
// Refuses with "A value for '%1' is required.".
bool RefuseRequired(BindingResult& result, std::string_view name);

// Value to native for the integer kinds and the callback kind (a 32-bit id), and for float
// and double.
void IntegerToNative(BindingResult& result, void* native, BindingTypeKind kind,
                     const BindingProperty& input, std::string_view name);
void FloatingToNative(BindingResult& result, void* native, BindingTypeKind kind,
                      const BindingProperty& input, std::string_view name);

// Kinds whose native object is a single fixed C++ type converted without the registry's
// descriptors: bool, the integers, float, double, string, blob and callback.
[[nodiscard]] bool IsScalarKind(BindingTypeKind kind);

// Whether a record's field is converted by its converter rather than by the rule of its kind:
// vectors, maps and callbacks need what only the converter knows (the C++ element type, the
// callback mechanism), and optional fields always go through it.
[[nodiscard]] bool ConvertsThroughConverter(const BindingFieldDescriptor& field);

// Value to native for a scalar kind. `registry` names enumerators stored into a string.
void ScalarToNative(BindingResult& result, void* native, BindingTypeKind kind,
                    const BindingProperty& input, std::string_view name,
                    const BindingRegistry& registry);
// Value to native for an enum stored in the descriptor's size (refused for a null descriptor
// or a size other than 1, 2, 4 or 8).
void EnumToNative(BindingResult& result, void* native, const BindingTypeDescriptor* descriptor,
                  const BindingProperty& input, std::string_view name);

// Native to value for a scalar kind; `target` is overwritten.
void ScalarToValue(BindingProperty& target, const void* native, BindingTypeKind kind);
// Native to value for an enum; false (target untouched) for a null descriptor.
[[nodiscard]] bool EnumToValue(BindingProperty& target, const void* native,
                               const BindingTypeDescriptor* descriptor);

// Counts the levels of collections and structures that the conversions on this thread are
// inside, across converters (whose interface carries no depth). Entering a level beyond
// kMaxBindingDepth is refused: Entered() is false and the caller reports the failure.
class DepthScope {
 public:
  DepthScope();
  ~DepthScope();
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

  [[nodiscard]] bool Entered() const { return entered_; }
  // Levels still free below the current one.
  [[nodiscard]] static std::size_t Remaining();

 private:
  bool entered_;
};

// Whether `value` holds at most `levels` levels of collections and structures. Stops looking
// as soon as the answer is no, so it never recurses deeper than `levels`.
[[nodiscard]] bool NestingWithin(const BindingProperty& value, std::size_t levels);

}  // namespace ConversionRules
}  // namespace Vexa
