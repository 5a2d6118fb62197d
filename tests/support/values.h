// Terse builders of values for every suite: collections, structures, blobs, enumerators and
// deep nests, each a standalone BindingProperty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "value/property.h"

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

}  // namespace Vexa::Testing
