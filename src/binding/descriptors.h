// The descriptors of registered native types, fields, enumerators, functions and events, and
// the two polymorphic hooks they carry: a field's converter and a function's implementation.
//
//   const Vexa::BindingTypeDescriptor* type = registry.FindType("GeoInfoResponse");
//   for (const Vexa::BindingFieldDescriptor& field : type->fields) {
//     auto* native = static_cast<const char*>(record) + field.offset;   // field.type.kind ...
//   }
//   const char* shown = type->EnumeratorName(3);   // enums: first name in name order, or null
//
// Ownership: the registry owns every descriptor (at a stable address until the registry is
// destroyed or reinitialised; a function descriptor until it is removed). A descriptor owns
// its converters or implementation. Pointers between descriptors and to StaticTypeInfo records
// never own.
//
// Threading: a descriptor is filled by the thread that registers it, through the registry's
// builders, before other code is expected to use it; afterwards it is only read, without
// locks. Code that looks a type up while another thread is still adding its fields may see
// the field list grow: registration belongs to start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/static_type.h"
#include "binding/type_kind.h"

namespace Vexa {

class BindingProperty;
class BindingResult;
class BindingRegistry;
struct BindingFieldDescriptor;

// Field flags (BindingFieldDescriptor::flags, combined with |).
// Native to value: leave the member out when the value is zero or empty.
inline constexpr uint32_t kBindingFieldOmitWhenEmpty = 1;
// Value to native: refuse an input structure that lacks the member or holds it empty.
inline constexpr uint32_t kBindingFieldRequired = 2;

// Converts one native field type (one instance per field). Both operations report through
// `result`, do nothing when it has already failed, and answer whether it is still good
// afterwards (the answer and the result must agree); they never throw.
class BindingFieldConverter {
 public:
  // Stores `input` into the native field at `field` (an object of the field's native type).
  // `name` names the field in messages.
  [[nodiscard]] virtual bool ToNative(BindingResult& result, void* field,
                                      const BindingProperty& input, std::string_view name,
                                      const BindingRegistry& registry) const = 0;
  // Makes result.value the value of the native field at `field`.
  [[nodiscard]] virtual bool ToValue(BindingResult& result, const void* field,
                                     const BindingFieldDescriptor& descriptor,
                                     const BindingRegistry& registry) const = 0;
  virtual ~BindingFieldConverter() = default;
};

// What a layer above keeps with a function's descriptor to call the function: an invoker that
// turns dynamic argument values into a native call, for instance. The registry owns it with the
// descriptor and destroys it when the function goes, after releasing its lock; it never looks
// inside. The installing layer finds its own type again with dynamic_cast, so that an
// implementation that another layer installed reads as none rather than as the wrong type.
class BindingFunctionImplementation {
 public:
  virtual ~BindingFunctionImplementation() = default;
};

struct BindingTypeDescriptor;

struct BindingFieldDescriptor {
  std::string name;
  uint32_t nameHash = 0;  // Fnv1aHash(name)
  std::string description;
  const StaticTypeInfo* typeInfo = nullptr;  // of the native field type; never null once added
  uint32_t offset = 0;                       // byte offset inside the native record
  BindingTypeIdentifier type;                // of the native field
  BindingTypeIdentifier exposedType;         // as described to the host; unset: `type`
  uint32_t flags = 0;                        // kBindingField... bits
  std::unique_ptr<BindingFieldConverter> converter;
  // The native field is an optional wrapper: conversions always go through `converter`.
  bool optional = false;

  [[nodiscard]] bool IsRequired() const { return (flags & kBindingFieldRequired) != 0; }
  [[nodiscard]] bool OmitsWhenEmpty() const { return (flags & kBindingFieldOmitWhenEmpty) != 0; }
  // The identifier the API description shows: the exposed type when set, else the native one.
  [[nodiscard]] const BindingTypeIdentifier& DescribedType() const {
    return exposedType.IsSet() ? exposedType : type;
  }
};

struct BindingEnumValue {
  int32_t value = 0;
  std::string name;
  std::string description;
  const BindingTypeDescriptor* owner = nullptr;  // the enum
};

// One registered struct or enum.
struct BindingTypeDescriptor {
  // Native size in bytes; for an enum the storage width conversions use (1, 2, 4 or 8).
  uint32_t size = 0;
  bool isEnum = false;
  std::string name;
  uint32_t hashCode = 0;                     // typeInfo->hashCode
  const StaticTypeInfo* typeInfo = nullptr;  // never null
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFieldDescriptor> fields;  // structs: in registration order
  // Enums: by name, byte-wise order. A second enumerator of the same name replaced the first.
  std::map<std::string, BindingEnumValue, std::less<>> enumerators;
  BindingRegistry* registry = nullptr;  // the owner

  // The first field of that name in registration order, or null.
  [[nodiscard]] const BindingFieldDescriptor* FindField(std::string_view fieldName) const;
  // The enumerator of exactly that name, or null.
  [[nodiscard]] const BindingEnumValue* FindEnumerator(std::string_view enumeratorName) const;
  // The name of the first enumerator in name order whose value is `value`, or null. The text
  // lives as long as the descriptor.
  [[nodiscard]] const char* EnumeratorName(int32_t value) const;
  [[nodiscard]] bool HasEnumeratorValue(int32_t value) const;
};

struct BindingFunctionDescriptor;

struct BindingArgumentDescriptor {
  std::string name;
  uint32_t nameHash = 0;  // Fnv1aHash(name)
  std::string description;
  bool optional = false;
  BindingTypeIdentifier type;         // of the native argument
  BindingTypeIdentifier exposedType;  // as described to the host; unset: `type`
  const BindingFunctionDescriptor* owner = nullptr;

  [[nodiscard]] const BindingTypeIdentifier& DescribedType() const {
    return exposedType.IsSet() ? exposedType : type;
  }
};

// One bound function. The argument count is fixed at registration; the implementing layer fills
// the argument types by position, the declaring code their names in order.
struct BindingFunctionDescriptor {
  std::string name;
  std::vector<BindingArgumentDescriptor> arguments;
  // How many argument entries have received a name so far (the next one to fill).
  std::size_t namedArguments = 0;
  BindingTypeIdentifier returnType;
  BindingTypeIdentifier exposedReturnType;  // unset: returnType
  std::vector<std::string> tags;
  std::string nameSpace;
  std::string description;
  std::string help;
  bool threadSafe = false;
  // The API description then names the return type's descriptor as the async type.
  bool isAsync = false;
  std::unique_ptr<BindingFunctionImplementation> implementation;  // destroyed with the descriptor
  BindingRegistry* registry = nullptr;                            // the owner

  [[nodiscard]] const BindingTypeIdentifier& DescribedReturnType() const {
    return exposedReturnType.IsSet() ? exposedReturnType : returnType;
  }
  // The argument of exactly that name, or null.
  [[nodiscard]] const BindingArgumentDescriptor* FindArgument(std::string_view argumentName) const;
};

struct BindingEventDescriptor {
  std::string name;
  // The registered struct or enum of the event's payload; may be null when the registering
  // code had none to give.
  const BindingTypeDescriptor* dataType = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

}  // namespace Vexa
