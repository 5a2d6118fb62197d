// Which binding kind a C++ type is, deduced at compile time, and the BindingNativeType that the
// untyped conversion rules need for it.
//
//   static_assert(Vexa::kBindingKindOf<std::vector<std::string>> == Vexa::BindingTypeKind::Vector);
//   Vexa::BindingNativeType type = Vexa::NativeTypeOf<std::optional<GeoInfo>>(registry);
//
// Bindable types: bool; every integer type of 1, 2, 4 or 8 bytes (kind by size and
// signedness, so `long` is int32 on i386 and int64 on x86-64); float; double; std::string;
// BindingProperty (object); std::vector<uint8_t> (blob); BindingCallback (callback); any enum
// (kind enum) and any other class with a type text (kind struct), both of which must be
// registered before conversions or field registrations look them up; std::vector<E> and
// std::unordered_map<std::string, E> of any of these (containers do not nest: E is not itself
// a vector, map or optional, except that std::vector<uint8_t> is the blob element); and
// std::optional of any of the former. Anything else fails to compile with a message.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/conversion/native_type.h"
#include "binding/registry.h"
#include "binding/static_type.h"
#include "binding/type_kind.h"
#include "value/property.h"

namespace Vexa {
namespace ConversionDetail {

template <typename T>
inline constexpr bool kIsVector = false;
template <typename E>
inline constexpr bool kIsVector<std::vector<E>> = true;

template <typename T>
inline constexpr bool kIsStringMap = false;
template <typename E>
inline constexpr bool kIsStringMap<std::unordered_map<std::string, E>> = true;

template <typename T>
inline constexpr bool kIsOptional = false;
template <typename E>
inline constexpr bool kIsOptional<std::optional<E>> = true;

// Library containers that look like records but are not bindable.
template <typename T>
inline constexpr bool kIsOtherContainer = false;
template <typename K, typename E, typename H, typename Q, typename A>
inline constexpr bool kIsOtherContainer<std::unordered_map<K, E, H, Q, A>> = true;
template <typename K, typename E, typename C, typename A>
inline constexpr bool kIsOtherContainer<std::map<K, E, C, A>> = true;
template <typename E, typename A>
inline constexpr bool kIsOtherContainer<std::vector<E, A>> = true;

template <typename T>
consteval BindingTypeKind IntegerKind() {
  constexpr bool isSigned = std::is_signed_v<T>;
  switch (sizeof(T)) {
    case 1:
      return isSigned ? BindingTypeKind::Int8 : BindingTypeKind::UInt8;
    case 2:
      return isSigned ? BindingTypeKind::Int16 : BindingTypeKind::UInt16;
    case 4:
      return isSigned ? BindingTypeKind::Int32 : BindingTypeKind::UInt32;
    case 8:
      return isSigned ? BindingTypeKind::Int64 : BindingTypeKind::UInt64;
    default:
      return BindingTypeKind::None;
  }
}

// The kind of a type that can be a container's element (None when it cannot).
template <typename T>
consteval BindingTypeKind ElementKind() {
  if constexpr (std::is_same_v<T, bool>) {
    return BindingTypeKind::Bool;
  } else if constexpr (std::is_integral_v<T>) {
    return IntegerKind<T>();
  } else if constexpr (std::is_same_v<T, float>) {
    return BindingTypeKind::Float;
  } else if constexpr (std::is_same_v<T, double>) {
    return BindingTypeKind::Double;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return BindingTypeKind::String;
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    return BindingTypeKind::Object;
  } else if constexpr (std::is_same_v<T, BindingBlob>) {
    return BindingTypeKind::Blob;
  } else if constexpr (std::is_same_v<T, BindingCallback>) {
    return BindingTypeKind::Callback;
  } else if constexpr (std::is_enum_v<T>) {
    return BindingTypeKind::Enum;
  } else if constexpr (std::is_class_v<T> && !kIsOptional<T> && !kIsOtherContainer<T> &&
                       !std::is_same_v<T, std::string_view>) {
    return BindingTypeKind::Struct;
  } else {
    return BindingTypeKind::None;
  }
}

template <typename T>
consteval BindingTypeKind Kind() {
  if constexpr (ElementKind<T>() != BindingTypeKind::None) {
    return ElementKind<T>();
  } else if constexpr (kIsVector<T>) {
    return ElementKind<typename T::value_type>() == BindingTypeKind::None ? BindingTypeKind::None
                                                                          : BindingTypeKind::Vector;
  } else if constexpr (kIsStringMap<T>) {
    return ElementKind<typename T::mapped_type>() == BindingTypeKind::None ? BindingTypeKind::None
                                                                           : BindingTypeKind::Map;
  } else {
    return BindingTypeKind::None;
  }
}

template <typename T>
consteval bool IsBindable() {
  if constexpr (kIsOptional<T>) {
    return Kind<typename T::value_type>() != BindingTypeKind::None;
  } else {
    return Kind<T>() != BindingTypeKind::None;
  }
}

// The registered descriptor that an enum or record refers to; null for other kinds and for
// types not registered (yet).
template <typename T>
const BindingTypeDescriptor* DescriptorOf(const BindingRegistry& registry) {
  if constexpr (ElementKind<T>() == BindingTypeKind::Enum ||
                ElementKind<T>() == BindingTypeKind::Struct) {
    return registry.FindType(StaticTypeInfoOf<T>());
  } else {
    return nullptr;
  }
}

template <typename T>
BindingNativeType PlainNativeTypeOf(const BindingRegistry& registry) {
  if constexpr (ElementKind<T>() != BindingTypeKind::None) {
    return {{ElementKind<T>(), BindingTypeKind::None, DescriptorOf<T>(registry)}};
  } else if constexpr (kIsVector<T>) {
    using E = typename T::value_type;
    return {{BindingTypeKind::Vector, ElementKind<E>(), DescriptorOf<E>(registry)},
            &SequenceAccessOf<E>()};
  } else {
    using E = typename T::mapped_type;
    return {{BindingTypeKind::Map, ElementKind<E>(), DescriptorOf<E>(registry)},
            nullptr,
            &MapAccessOf<E>()};
  }
}

}  // namespace ConversionDetail

// True for the types listed at the top of this file.
template <typename T>
inline constexpr bool kIsBindable = ConversionDetail::IsBindable<T>();

// The kind of T (None for an optional wrapper and for types that are not bindable).
template <typename T>
inline constexpr BindingTypeKind kBindingKindOf = ConversionDetail::Kind<T>();

// Stops the compilation with a message naming what is wrong with T.
template <typename T>
consteval void RequireBindable() {
  using namespace ConversionDetail;
  // Each branch fails with exactly one message (kIsBindable<T> is false in all of them).
  if constexpr (IsBindable<T>()) {
    return;
  } else if constexpr (kIsOptional<T> && kIsOptional<typename T::value_type>) {
    static_assert(kIsBindable<T>, "an optional inside an optional is not bindable");
  } else if constexpr (kIsOptional<T>) {
    RequireBindable<typename T::value_type>();
  } else if constexpr (kIsVector<T>) {
    static_assert(kIsBindable<T>,
                  "containers do not nest: the element of a bindable std::vector is a scalar, "
                  "std::string, BindingProperty, a blob, an enum or a record");
  } else if constexpr (kIsStringMap<T>) {
    static_assert(kIsBindable<T>,
                  "containers do not nest: the value of a bindable std::unordered_map is a "
                  "scalar, std::string, BindingProperty, a blob, an enum or a record");
  } else if constexpr (kIsOtherContainer<T>) {
    static_assert(kIsBindable<T>,
                  "of the library's containers only std::vector<E> and "
                  "std::unordered_map<std::string, E> are bindable");
  } else if constexpr (std::is_pointer_v<T> || std::is_reference_v<T> || std::is_array_v<T>) {
    static_assert(kIsBindable<T>, "pointers, references and arrays are not bindable");
  } else {
    static_assert(kIsBindable<T>,
                  "not a bindable type: use bool, an integer, float, double, std::string, "
                  "BindingProperty, BindingBlob, BindingCallback, an enum or a record");
  }
}

// What the conversion rules need to know about T. The descriptor of an enum or record (or of
// a container's enum or record element) is looked up by its StaticTypeInfo now: register it
// first, or the conversions report it as unregistered.
template <typename T>
[[nodiscard]] BindingNativeType NativeTypeOf(const BindingRegistry& registry) {
  RequireBindable<T>();
  if constexpr (ConversionDetail::kIsOptional<T>) {
    using E = typename T::value_type;
    BindingNativeType type = ConversionDetail::PlainNativeTypeOf<E>(registry);
    type.optional = &OptionalAccessOf<E>();
    return type;
  } else {
    return ConversionDetail::PlainNativeTypeOf<T>(registry);
  }
}

}  // namespace Vexa
