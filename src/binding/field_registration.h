// Typed registration of records and enums: a field's kind, offset, StaticTypeInfo and
// converter are deduced from its member pointer, so they cannot disagree with the C++ record.
//
//   Vexa::RegisterEnum<GeoInfoStatus>(registry, "GeoInfoStatus")
//       .Value("IN_PROGRESS", GeoInfoStatus::InProgress)
//       .Value("ERROR", GeoInfoStatus::Error, "The service failed");
//   Vexa::RegisterRecord<GeoInfoResponse>(registry, "GeoInfoResponse")
//       .AddTag("geoinfo")
//       .Field("status", &GeoInfoResponse::status)                       // enum, registered above
//       .Field("errorMessage", &GeoInfoResponse::errorMessage, "Why it failed")
//       .Field("country", &GeoInfoResponse::country, {.flags = Vexa::kBindingFieldRequired})
//       .SetDescription("The answer of a location request.");
//
// The record and enum types need a type text (VEXA_STATIC_TYPE beside their definition), and
// field types must be bindable (see native_type_of.h); anything else does not compile.
//
// Order matters in one way: the descriptor of a nested enum or record (a field of that type, or
// a vector, map or optional of it) is looked up when the field is added, so register the nested
// type first. A record may contain vectors, maps or optionals of itself: its own descriptor
// exists from RegisterRecord on. A field whose nested type is not registered is still added,
// and its conversions then fail with the unregistered-structure message.
//
// As with the untyped builder, registering a name that exists yields a builder that ignores
// every call, so the first registration stays. Builders borrow the registry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>

#include "binding/conversion/conversion.h"
#include "binding/conversion/native_type_of.h"
#include "binding/registry.h"
#include "binding/static_type.h"

namespace Vexa {
namespace ConversionDetail {

// The member's byte offset, measured on a record on the heap (records may be large): a real
// one when the record can be built, otherwise uninitialised storage of its size, whose member
// address is computed but never read.
template <typename Record, typename Member>
uint32_t MemberOffset(Member Record::*member) {
  const auto distance = [&](const Record& record) {
    return static_cast<uint32_t>(reinterpret_cast<const char*>(&(record.*member)) -
                                 reinterpret_cast<const char*>(&record));
  };
  if constexpr (std::is_default_constructible_v<Record>) {
    return distance(*std::make_unique<Record>());
  } else {
    union Storage {
      Storage() {}
      ~Storage() {}
      Record record;
    };
    return distance(std::make_unique<Storage>()->record);
  }
}

}  // namespace ConversionDetail

// Everything about a member of type Member at `offset` that the registry's AddField needs:
// kind, element kind and descriptor, StaticTypeInfo, its converter and the optional flag.
template <typename Member>
[[nodiscard]] BindingNativeField NativeFieldOf(uint32_t offset, const BindingRegistry& registry) {
  const BindingNativeType type = NativeTypeOf<Member>(registry);
  return BindingNativeField{offset, StaticTypeInfoOf<Member>(), type.type,
                            std::make_unique<BindingNativeConverter>(type),
                            type.optional != nullptr};
}

// Adds the field `member` of Record (or of a base of Record) to `builder`, which must be the
// builder of Record's registration.
template <typename Record, typename Member, typename Owner>
requires std::is_base_of_v<Owner, Record> BindingTypeBuilder& AddField(
    BindingTypeBuilder& builder, std::string_view name, Member Owner::*member,
    const BindingFieldOptions& options = {}) {
  if (builder.Existed()) {
    return builder;  // the first registration stays; skip the lookups too
  }
  const uint32_t offset =
      ConversionDetail::MemberOffset<Record>(static_cast<Member Record::*>(member));
  return builder.AddField(name, NativeFieldOf<Member>(offset, builder.Registry()), options);
}

// Fills the registration of record type Record; see the top of this file.
template <typename Record>
class BindingRecordBuilder {
 public:
  explicit BindingRecordBuilder(BindingTypeBuilder builder) : builder_(builder) {}

  template <typename Member, typename Owner>
  requires std::is_base_of_v<Owner, Record> BindingRecordBuilder& Field(
      std::string_view name, Member Owner::*member, const BindingFieldOptions& options = {}) {
    AddField<Record>(builder_, name, member, options);
    return *this;
  }
  template <typename Member, typename Owner>
  requires std::is_base_of_v<Owner, Record> BindingRecordBuilder& Field(
      std::string_view name, Member Owner::*member, std::string_view description,
      uint32_t flags = 0) {
    return Field(name, member, BindingFieldOptions{description, flags, {}});
  }

  BindingRecordBuilder& AddTags(std::initializer_list<std::string_view> tags) {
    builder_.AddTags(tags);
    return *this;
  }
  BindingRecordBuilder& AddTag(std::string_view tag) {
    builder_.AddTag(tag);
    return *this;
  }
  BindingRecordBuilder& SetDescription(std::string_view description) {
    builder_.SetDescription(description);
    return *this;
  }
  BindingRecordBuilder& SetNameSpace(std::string_view nameSpace) {
    builder_.SetNameSpace(nameSpace);
    return *this;
  }

  [[nodiscard]] bool Existed() const { return builder_.Existed(); }
  [[nodiscard]] const BindingTypeDescriptor& Descriptor() const { return builder_.Descriptor(); }
  [[nodiscard]] BindingTypeBuilder& Builder() { return builder_; }

 private:
  BindingTypeBuilder builder_;
};

// Fills the registration of enum type Enum; enumerators are given as Enum values.
template <typename Enum>
class BindingEnumBuilder {
 public:
  explicit BindingEnumBuilder(BindingTypeBuilder builder) : builder_(builder) {}

  // Enumerator values are 32-bit in values and descriptions: wider ones keep their low bits.
  BindingEnumBuilder& Value(std::string_view name, Enum value, std::string_view description = {}) {
    builder_.AddEnumerator(name, static_cast<int32_t>(value), description);
    return *this;
  }
  BindingEnumBuilder& AddTags(std::initializer_list<std::string_view> tags) {
    builder_.AddTags(tags);
    return *this;
  }
  BindingEnumBuilder& AddTag(std::string_view tag) {
    builder_.AddTag(tag);
    return *this;
  }
  BindingEnumBuilder& SetDescription(std::string_view description) {
    builder_.SetDescription(description);
    return *this;
  }
  BindingEnumBuilder& SetNameSpace(std::string_view nameSpace) {
    builder_.SetNameSpace(nameSpace);
    return *this;
  }

  [[nodiscard]] bool Existed() const { return builder_.Existed(); }
  [[nodiscard]] const BindingTypeDescriptor& Descriptor() const { return builder_.Descriptor(); }

 private:
  BindingTypeBuilder builder_;
};

// Registers record type Record under `name` with its size and StaticTypeInfo.
template <typename Record>
BindingRecordBuilder<Record> RegisterRecord(BindingRegistry& registry, std::string_view name) {
  static_assert(std::is_class_v<Record>, "RegisterRecord takes a struct or class");
  return BindingRecordBuilder<Record>(registry.RegisterType<Record>(name));
}

// Registers enum type Enum under `name`; its storage size is sizeof(Enum).
template <typename Enum>
BindingEnumBuilder<Enum> RegisterEnum(BindingRegistry& registry, std::string_view name) {
  static_assert(std::is_enum_v<Enum>, "RegisterEnum takes an enum");
  static_assert(sizeof(Enum) == 1 || sizeof(Enum) == 2 || sizeof(Enum) == 4 || sizeof(Enum) == 8,
                "an enum is stored in 1, 2, 4 or 8 bytes");
  return BindingEnumBuilder<Enum>(registry.RegisterType<Enum>(name));
}

}  // namespace Vexa
