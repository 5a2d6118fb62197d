// The kinds of native values that fields, arguments, return values and container elements
// hold, and the identifier that pairs a kind with the descriptor it refers to.
//
//   Vexa::BindingTypeIdentifier ids{Vexa::BindingTypeKind::Vector, Vexa::BindingTypeKind::Struct,
//                                   registry.FindType(Vexa::StaticTypeInfoOf<GeoInfo>())};
//   const char* shown = Vexa::BindingTypeKindName(ids.kind);     // "vector"
#pragma once

#include <cstdint>

namespace Vexa {

struct BindingTypeDescriptor;

// Stable numbers: they cross the seam in the API description.
enum class BindingTypeKind : int32_t {
  None = 0,
  Bool = 1,       // bool (one byte)
  Int8 = 2,       // signed 8-bit
  UInt8 = 3,      // unsigned 8-bit
  Int16 = 4,      // signed 16-bit
  UInt16 = 5,     // unsigned 16-bit
  Int32 = 6,      // signed 32-bit
  UInt32 = 7,     // unsigned 32-bit
  Int64 = 8,      // signed 64-bit
  UInt64 = 9,     // unsigned 64-bit
  Float = 10,     // 32-bit float
  Double = 11,    // 64-bit float
  String = 12,    // std::string
  Object = 13,    // BindingProperty
  Blob = 14,      // std::vector<uint8_t>
  Vector = 15,    // std::vector of the element kind
  Enum = 16,      // registered enum, stored in the enum's registered size
  Struct = 17,    // registered record
  Callback = 18,  // callback handle
  Map = 19,       // std::unordered_map from std::string to the element kind
};

// The kind's name as messages show it: "bool", "int8", ... "map"; the empty text (never null)
// for None and for any number outside the table.
[[nodiscard]] const char* BindingTypeKindName(BindingTypeKind kind);

// What a field, argument or return value holds. Containers do not nest: a vector's or map's
// element is described by `elementKind` and `descriptor` alone.
struct BindingTypeIdentifier {
  BindingTypeKind kind = BindingTypeKind::None;
  // The element's kind for Vector and Map; None otherwise.
  BindingTypeKind elementKind = BindingTypeKind::None;
  // The registered enum or struct that `kind` (or, for containers, `elementKind`) refers to;
  // null otherwise. Does not own; owned by the registry, which outlives every identifier.
  const BindingTypeDescriptor* descriptor = nullptr;

  // False for the default identifier: "not set" where an exposed type is optional.
  [[nodiscard]] bool IsSet() const { return kind != BindingTypeKind::None; }
  friend bool operator==(const BindingTypeIdentifier&, const BindingTypeIdentifier&) = default;
};

}  // namespace Vexa
