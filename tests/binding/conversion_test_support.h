// Helpers for the conversion suites: building input values tersely and running one conversion
// into a native object that starts with a chosen content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "binding/conversion.h"
#include "binding/property.h"
#include "binding/registry.h"

namespace Vexa::Testing {

inline BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
  BindingProperty value;
  value.MakeCollection();
  for (const BindingProperty& element : elements) {
    value.Append() = element;
  }
  return value;
}

inline BindingProperty Structure(
    std::initializer_list<std::pair<std::string_view, BindingProperty>> members) {
  BindingProperty value;
  value.MakeStructure();
  for (const auto& [key, member] : members) {
    value.Member(key) = member;
  }
  return value;
}

inline BindingProperty Blob(std::initializer_list<uint8_t> bytes) {
  BindingProperty value;
  value.SetBlob(BindingBlob(bytes));
  return value;
}

inline BindingProperty Enumerator(int32_t number, const StaticTypeInfo& type) {
  BindingProperty value;
  value.SetEnum(number, type);
  return value;
}

inline BindingProperty Empty() {
  return BindingProperty();
}

// `levels` collections, each the only element of the one around it.
inline BindingProperty NestedCollections(std::size_t levels) {
  BindingProperty root;
  BindingProperty* current = &root;
  for (std::size_t level = 0; level < levels; ++level) {
    current = &current->ElementAt(0);
  }
  return root;  // the innermost element is empty
}

template <typename T>
struct Converted {
  T native;
  bool ok;
  std::string error;
};

// Converts `input` into a native T that held `initial`, under the name "x" by default.
template <typename T>
Converted<T> ConvertInto(T initial, const BindingProperty& input, const BindingRegistry& registry,
                         std::string_view name = "x") {
  BindingResult result;
  ToNative(result, initial, input, name, registry);
  return {std::move(initial), result.ok, std::string(result.ErrorText())};
}

// The value of a native T, or the message of the refusal.
template <typename T>
BindingResult ValueOf(const T& native, const BindingRegistry& registry) {
  BindingResult result;
  ToValue(result, native, registry);
  return result;
}

}  // namespace Vexa::Testing
