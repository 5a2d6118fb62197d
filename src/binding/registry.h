// The registry of native types, functions and events that the binding system describes, and
// the builders through which registering code fills the descriptors.
//
//   Vexa::BindingRegistry registry;
//   registry.Initialize();                                       // the builtin types
//   registry.RegisterType<GeoInfoStatus>("GeoInfoStatus")
//       .AddTag("geoinfo")
//       .AddEnumerator("SUCCEEDED", 1)
//       .AddEnumerator("ERROR", 3, "The service failed")
//       .SetDescription("Outcome of a location request.");
//   const Vexa::BindingTypeDescriptor* status = registry.FindType(
//       Vexa::StaticTypeInfoOf<GeoInfoStatus>());                // or FindType("GeoInfoStatus")
//
// Fields are added through the typed registration layer (one call per member, deducing the
// native part of BindingNativeField from a member pointer) on top of BindingTypeBuilder::AddField.
//
// Rules. A name is registered once: registering a type or event name again returns a builder
// that ignores every call, so the first registration stays unchanged. Types are found by name
// and by the hash code of their StaticTypeInfo; a type registered with the StaticTypeInfo of
// void is found by name only.
//
// Ownership: the registry owns every descriptor, each at a stable address: types and events
// until the registry is destroyed or initialised again, functions until removed. Builders and
// snapshots borrow; they must not outlive the registry.
//
// Threading: one mutex guards the maps; every operation takes it only for its own duration and
// never while code outside the registry runs (converter and implementation destructors run after it
// is released; listing code iterates snapshots). Descriptors are filled by their registering
// thread and read without locks afterwards (see descriptors.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "binding/descriptors.h"
#include "binding/static_type.h"
#include "binding/type_kind.h"
#include "value/enumerator_names.h"

namespace Vexa {

// Hashes for the registry's maps: FNV-1a over the name's bytes (transparent, so lookups by
// string_view allocate nothing), and over a hash code's four bytes, low byte first.
struct BindingNameHash {
  using is_transparent = void;
  [[nodiscard]] std::size_t operator()(std::string_view name) const noexcept {
    return Fnv1aHash(name);
  }
};
struct BindingHashCodeHash {
  [[nodiscard]] std::size_t operator()(uint32_t hashCode) const noexcept;
};

template <typename T>
using BindingNameMap = std::unordered_map<std::string, T, BindingNameHash, std::equal_to<>>;

// Snapshots: copies of the registry's maps that the caller owns and iterates without a lock.
// The descriptors they point to are the registry's (a removed function's pointer dangles).
using BindingFunctionMap = BindingNameMap<BindingFunctionDescriptor*>;
using BindingEventMap = BindingNameMap<const BindingEventDescriptor*>;
using BindingTypeMap = BindingNameMap<const BindingTypeDescriptor*>;

// What the native member decides about a field; the typed registration layer fills it.
struct BindingNativeField {
  uint32_t offset = 0;              // byte offset inside the record
  const StaticTypeInfo& typeInfo;   // of the member's native type
  BindingTypeIdentifier type = {};  // kind, element kind, descriptor of the native type
  // Converts the member; required (every conversion of an optional or callback field runs
  // through it, and so may others).
  std::unique_ptr<BindingFieldConverter> converter = {};
  bool optional = false;  // the member is an optional wrapper
};

// What the registering code chooses about a field.
struct BindingFieldOptions {
  std::string_view description = {};
  uint32_t flags = 0;                      // kBindingFieldOmitWhenEmpty | kBindingFieldRequired
  BindingTypeIdentifier exposedType = {};  // unset: described as the native type
};

class BindingTypeBuilder;
class BindingEventBuilder;

class BindingRegistry : public BindingEnumeratorNames {
 public:
  BindingRegistry();
  ~BindingRegistry();
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;

  // Empties the registry (every descriptor pointer handed out before becomes invalid), then
  // registers the builtin types and the "OnCallback" event, and marks the registry initialised.
  // Meant to run once, before any other registration.
  void Initialize();
  [[nodiscard]] bool IsInitialized() const;

  // --- Types ---
  // Registers a struct or enum under `name` (the native size, for an enum its storage width)
  // and returns the builder for its contents. When the name exists, the builder is for the
  // existing descriptor and ignores every call.
  BindingTypeBuilder RegisterType(std::string_view name, uint32_t size,
                                  const StaticTypeInfo& typeInfo, bool isEnum);
  // The same for a native type T: its size, StaticTypeInfo and whether it is an enum.
  template <typename T>
  BindingTypeBuilder RegisterType(std::string_view name);

  [[nodiscard]] const BindingTypeDescriptor* FindType(std::string_view name) const;
  // By hash code. Null for a type registered with the void record, and when the registered
  // type's record has the same hash code but another name (a hash collision).
  [[nodiscard]] const BindingTypeDescriptor* FindType(const StaticTypeInfo& typeInfo) const;
  [[nodiscard]] BindingTypeMap TypesSnapshot() const;

  // The first enumerator name in name order of the enum registered for `enumType` whose value
  // is `value`; null when the type or the value is unknown. Lives as long as the registry.
  [[nodiscard]] const char* EnumeratorName(const StaticTypeInfo& enumType,
                                           int32_t value) const override;
  [[nodiscard]] static bool IsEnumeratorValue(const BindingTypeDescriptor& type, int32_t value);
  // "bool", "int8", ... "map"; "" for anything else.
  [[nodiscard]] static const char* TypeName(BindingTypeKind kind);

  // --- Events ---
  // Registers an event carrying `dataType` (a registered struct or enum, or null). When the
  // name exists, the builder is for the existing descriptor and ignores every call.
  BindingEventBuilder RegisterEvent(std::string_view name, const BindingTypeDescriptor* dataType);
  [[nodiscard]] const BindingEventDescriptor* FindEvent(std::string_view name) const;
  // Erases and frees the event; false when there is none of that name.
  bool RemoveEvent(std::string_view name);
  [[nodiscard]] BindingEventMap EventsSnapshot() const;

  // --- Functions ---
  // Creates a function descriptor with `argumentCount` empty argument entries. Unless
  // `detached`, it is entered under its name and the generation advances; when the name is
  // already taken the name keeps finding the first function, and the new one behaves as a
  // detached one. Either way the registry owns it until RemoveFunction.
  BindingFunctionDescriptor& RegisterFunction(std::string_view name, std::size_t argumentCount,
                                              bool detached = false);
  // Sets the native type and optional flag of argument `index` (the list grows to reach it).
  static void SetArgument(BindingFunctionDescriptor& function, std::size_t index,
                          const BindingTypeIdentifier& type, bool optional);
  // Names the next unnamed argument entry (appending one when all are named) and returns its
  // index.
  static std::size_t AddArgument(BindingFunctionDescriptor& function, std::string_view name,
                                 std::string_view description,
                                 const BindingTypeIdentifier& exposedType = {});
  // Takes the function out of the name map (when it is the one entered there), advances the
  // generation and destroys it with its implementation. False, and nothing changes, for a null
  // pointer or a descriptor this registry does not own.
  bool RemoveFunction(const BindingFunctionDescriptor* function);
  [[nodiscard]] BindingFunctionDescriptor* FindFunction(std::string_view name) const;
  [[nodiscard]] BindingFunctionMap FunctionsSnapshot() const;
  // Advances (wrapping) on every named function registration, every removal and every
  // Initialize, so that tables built from the function list can tell that they are stale.
  [[nodiscard]] uint32_t Generation() const;

 private:
  // Empties every map and advances the generation; the descriptors are destroyed after the
  // lock is released.
  void Clear();
  void MarkInitialized();

  mutable std::mutex mutex_;
  uint32_t generation_ = 0;
  BindingFunctionMap functions_;
  BindingNameMap<std::unique_ptr<BindingEventDescriptor>> events_;
  BindingNameMap<std::unique_ptr<BindingTypeDescriptor>> types_;
  std::unordered_map<uint32_t, BindingTypeDescriptor*, BindingHashCodeHash> typesByHash_;
  // Every function descriptor, named or not, keyed by its address.
  std::unordered_map<const BindingFunctionDescriptor*, std::unique_ptr<BindingFunctionDescriptor>>
      ownedFunctions_;
  bool initialized_ = false;
};

// Fills one type descriptor. Does not own it; must not outlive the registry. When Existed(),
// every call does nothing, so a second registration of a name leaves the first unchanged.
class BindingTypeBuilder {
 public:
  BindingTypeBuilder(BindingRegistry& registry, BindingTypeDescriptor& descriptor, bool existed)
      : registry_(&registry), descriptor_(&descriptor), existed_(existed) {}

  // Appends a field (after those added before; names are not checked for duplicates).
  BindingTypeBuilder& AddField(std::string_view name, BindingNativeField native,
                               const BindingFieldOptions& options = {});
  // Inserts the enumerator, or replaces the value and description of the one of that name.
  BindingTypeBuilder& AddEnumerator(std::string_view name, int32_t value,
                                    std::string_view description = {});
  // Appends every tag as given (empty ones included).
  BindingTypeBuilder& AddTags(std::initializer_list<std::string_view> tags);
  BindingTypeBuilder& AddTags(std::span<const std::string> tags);
  // Appends one tag unless it is empty.
  BindingTypeBuilder& AddTag(std::string_view tag);
  BindingTypeBuilder& SetDescription(std::string_view description);
  BindingTypeBuilder& SetNameSpace(std::string_view nameSpace);

  [[nodiscard]] bool Existed() const { return existed_; }
  // The descriptor registered under the name (the first registration's when Existed()).
  [[nodiscard]] const BindingTypeDescriptor& Descriptor() const { return *descriptor_; }
  [[nodiscard]] BindingRegistry& Registry() const { return *registry_; }
  // The offset of the last field this builder added (0 before the first).
  [[nodiscard]] uint32_t LastFieldOffset() const { return lastFieldOffset_; }

 private:
  BindingRegistry* registry_;
  BindingTypeDescriptor* descriptor_;
  uint32_t lastFieldOffset_ = 0;
  bool existed_;
};

// Fills one event descriptor, like BindingTypeBuilder.
class BindingEventBuilder {
 public:
  BindingEventBuilder(BindingEventDescriptor& descriptor, bool existed)
      : descriptor_(&descriptor), existed_(existed) {}

  BindingEventBuilder& AddTags(std::initializer_list<std::string_view> tags);
  BindingEventBuilder& AddTag(std::string_view tag);
  BindingEventBuilder& SetDescription(std::string_view description);
  BindingEventBuilder& SetNameSpace(std::string_view nameSpace);

  [[nodiscard]] bool Existed() const { return existed_; }
  [[nodiscard]] const BindingEventDescriptor& Descriptor() const { return *descriptor_; }

 private:
  BindingEventDescriptor* descriptor_;
  bool existed_;
};

template <typename T>
BindingTypeBuilder BindingRegistry::RegisterType(std::string_view name) {
  static_assert(std::is_class_v<T> || std::is_enum_v<T>,
                "only records and enums are registered as types");
  return RegisterType(name, static_cast<uint32_t>(sizeof(T)), StaticTypeInfoOf<T>(),
                      std::is_enum_v<T>);
}

}  // namespace Vexa
