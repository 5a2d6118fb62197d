// The one thing a serializer needs from a type registry: the name of an enumerator.
//
//   std::string named = Vexa::ToJson(value, &registry);   // a BindingRegistry names them
//
// Enum values carry their native type (BindingEnumerator::type) and a number; printing them
// by name needs whoever registered the enum. This interface keeps the codecs on the value
// layer alone: they ask it, the binding layer's registry answers.
#pragma once

#include <cstdint>

namespace Vexa {

struct StaticTypeInfo;

class BindingEnumeratorNames {
 public:
  // The name of `value` in the enum whose native type is `enumType`, or null when none is
  // known. The text must outlive the serialization that asks for it.
  [[nodiscard]] virtual const char* EnumeratorName(const StaticTypeInfo& enumType,
                                                   int32_t value) const = 0;

 protected:
  BindingEnumeratorNames() = default;
  BindingEnumeratorNames(const BindingEnumeratorNames&) = default;
  BindingEnumeratorNames& operator=(const BindingEnumeratorNames&) = default;
  ~BindingEnumeratorNames() = default;
};

}  // namespace Vexa
