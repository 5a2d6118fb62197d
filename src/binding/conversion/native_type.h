// What the untyped conversion rules know about one native object: its kind with the descriptor
// it refers to, and, for the shapes whose layout depends on a C++ element type, small tables
// of typed operations that a thin template supplies.
//
//   Vexa::BindingNativeType type{{Vexa::BindingTypeKind::Vector, Vexa::BindingTypeKind::Struct,
//                                 registry.FindType(Vexa::StaticTypeInfoOf<GeoInfo>())},
//                                &Vexa::SequenceAccessOf<GeoInfo>()};
//   if (!Vexa::ConvertToNative(result, &locations, type, input, "locations", registry)) { ... }
//
// Usually one does not spell these out: NativeTypeOf<T>(registry) (native_type_of.h)
// builds them for any bindable T, and field registration stores them in the field's converter.
//
// Native representation per kind: bool; int8_t ... uint64_t (any integer type of that size
// and signedness); float; double; std::string; BindingProperty (object); BindingBlob (blob);
// std::vector<E> (vector of E, needs a BindingSequenceAccess); a registered enum stored in the
// descriptor's size; a registered record (struct); BindingCallback (callback);
// std::unordered_map<std::string, E> (map of E, needs a BindingMapAccess). An optional field
// is std::optional of one of these (BindingOptionalAccess).
//
// The tables are constants with static storage; BindingNativeType borrows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/static_type.h"
#include "binding/type_kind.h"
#include "value/property.h"

namespace Vexa {

// The native form of the callback kind: the number under which the caller registered the
// callback with the host. 0 is no callback. A callback converts like a uint32 (its value form
// is the unsigned id), with "callback" as its type name in messages.
struct BindingCallback {
  uint32_t id = 0;
  friend bool operator==(const BindingCallback&, const BindingCallback&) = default;
};
VEXA_STATIC_TYPE(BindingCallback, "struct Vexa::BindingCallback");

// Typed operations on one std::vector<E>. None of them throws.
struct BindingSequenceAccess {
  void (*clear)(void* sequence);
  // Resizes to `count` default elements. On failure (the count exceeds what the vector or
  // memory can hold) the vector is left empty and the answer is false.
  bool (*resize)(void* sequence, std::size_t count);
  std::size_t (*size)(const void* sequence);
  // The element's address; null for std::vector<bool>, whose elements are bits.
  void* (*element)(void* sequence, std::size_t index);
  const void* (*constElement)(const void* sequence, std::size_t index);
  // std::vector<bool> only (null otherwise).
  bool (*readBit)(const void* sequence, std::size_t index);
  void (*writeBit)(void* sequence, std::size_t index, bool value);
};

// Typed operations on one std::unordered_map<std::string, E>.
struct BindingMapAccess {
  void (*clear)(void* map);
  // Prepares the map for `count` entries; false when that is more than it can hold.
  bool (*reserve)(void* map, std::size_t count);
  // The value stored under `key`, inserted default-constructed when absent. Only allocation
  // failure can throw.
  void* (*slot)(void* map, std::string_view key);
  // Calls visit(context, key, value) for every entry until it returns false. Unordered.
  void (*forEach)(const void* map, void* context,
                  bool (*visit)(void* context, std::string_view key, const void* value));
};

// Typed operations on one std::optional<E>.
struct BindingOptionalAccess {
  // The contained value, or null when there is none.
  const void* (*value)(const void* optional);
  // Replaces the content by a default-constructed value and returns it (allocation failure
  // inside E's constructor aside, it does not throw).
  void* (*emplace)(void* optional);
  void (*reset)(void* optional);
};

// A native object's type as the untyped rules see it. `type` describes the object itself, or
// for an optional the value inside it.
struct BindingNativeType {
  BindingTypeIdentifier type;
  const BindingSequenceAccess* sequence = nullptr;  // kind Vector
  const BindingMapAccess* map = nullptr;            // kind Map
  const BindingOptionalAccess* optional = nullptr;  // the object is std::optional
};

// The built-in table for a vector whose element kind fixes its C++ type (every kind but enum
// and struct); null otherwise. Used when a vector comes without a table of its own.
[[nodiscard]] const BindingSequenceAccess* BuiltinSequenceAccess(BindingTypeKind elementKind);
// Likewise for maps.
[[nodiscard]] const BindingMapAccess* BuiltinMapAccess(BindingTypeKind elementKind);

namespace ConversionDetail {

template <typename E>
bool ResizeSequence(void* sequence, std::size_t count) {
  auto& vector = *static_cast<std::vector<E>*>(sequence);
  // The count comes from outside data: a vector of large records may not fit even though
  // the input itself did.
  try {
    vector.resize(count);
    return true;
  } catch (...) {
  }
  vector.clear();
  return false;
}

template <typename E>
bool ReserveMap(void* map, std::size_t count) {
  auto& entries = *static_cast<std::unordered_map<std::string, E>*>(map);
  try {
    entries.reserve(count);
    return true;
  } catch (...) {
  }
  entries.clear();
  return false;
}

template <typename E>
void ForEachEntry(const void* map, void* context,
                  bool (*visit)(void* context, std::string_view key, const void* value)) {
  for (const auto& [key, value] : *static_cast<const std::unordered_map<std::string, E>*>(map)) {
    if (!visit(context, key, &value)) {
      return;
    }
  }
}

template <typename E>
inline constexpr BindingSequenceAccess kSequenceAccess = {
    [](void* sequence) { static_cast<std::vector<E>*>(sequence)->clear(); },
    &ResizeSequence<E>,
    [](const void* sequence) { return static_cast<const std::vector<E>*>(sequence)->size(); },
    [](void* sequence, std::size_t index) -> void* {
      return static_cast<std::vector<E>*>(sequence)->data() + index;
    },
    [](const void* sequence, std::size_t index) -> const void* {
      return static_cast<const std::vector<E>*>(sequence)->data() + index;
    },
    nullptr,
    nullptr,
};

template <>
inline constexpr BindingSequenceAccess kSequenceAccess<bool> = {
    [](void* sequence) { static_cast<std::vector<bool>*>(sequence)->clear(); },
    &ResizeSequence<bool>,
    [](const void* sequence) { return static_cast<const std::vector<bool>*>(sequence)->size(); },
    nullptr,
    nullptr,
    [](const void* sequence, std::size_t index) -> bool {
      return (*static_cast<const std::vector<bool>*>(sequence))[index];
    },
    [](void* sequence, std::size_t index, bool value) {
      (*static_cast<std::vector<bool>*>(sequence))[index] = value;
    },
};

template <typename E>
inline constexpr BindingMapAccess kMapAccess = {
    [](void* map) { static_cast<std::unordered_map<std::string, E>*>(map)->clear(); },
    &ReserveMap<E>,
    [](void* map, std::string_view key) -> void* {
      return &(*static_cast<std::unordered_map<std::string, E>*>(map))[std::string(key)];
    },
    &ForEachEntry<E>,
};

template <typename E>
inline constexpr BindingOptionalAccess kOptionalAccess = {
    [](const void* optional) -> const void* {
      const auto& wrapper = *static_cast<const std::optional<E>*>(optional);
      return wrapper.has_value() ? &*wrapper : nullptr;
    },
    [](void* optional) -> void* { return &static_cast<std::optional<E>*>(optional)->emplace(); },
    [](void* optional) { static_cast<std::optional<E>*>(optional)->reset(); },
};

}  // namespace ConversionDetail

// The tables of std::vector<E>, std::unordered_map<std::string, E> and std::optional<E>.
template <typename E>
[[nodiscard]] constexpr const BindingSequenceAccess& SequenceAccessOf() {
  return ConversionDetail::kSequenceAccess<E>;
}
template <typename E>
[[nodiscard]] constexpr const BindingMapAccess& MapAccessOf() {
  return ConversionDetail::kMapAccess<E>;
}
template <typename E>
[[nodiscard]] constexpr const BindingOptionalAccess& OptionalAccessOf() {
  return ConversionDetail::kOptionalAccess<E>;
}

}  // namespace Vexa
