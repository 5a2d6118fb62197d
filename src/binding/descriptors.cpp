#include "binding/descriptors.h"

namespace Vexa {

const BindingFieldDescriptor* BindingTypeDescriptor::FindField(std::string_view fieldName) const {
  for (const BindingFieldDescriptor& field : fields) {
    if (field.name == fieldName) {
      return &field;
    }
  }
  return nullptr;
}

const BindingEnumValue* BindingTypeDescriptor::FindEnumerator(
    std::string_view enumeratorName) const {
  const auto found = enumerators.find(enumeratorName);
  return found == enumerators.end() ? nullptr : &found->second;
}

const char* BindingTypeDescriptor::EnumeratorName(int32_t value) const {
  for (const auto& [name, enumerator] : enumerators) {
    if (enumerator.value == value) {
      return name.c_str();
    }
  }
  return nullptr;
}

bool BindingTypeDescriptor::HasEnumeratorValue(int32_t value) const {
  return EnumeratorName(value) != nullptr;
}

const BindingArgumentDescriptor* BindingFunctionDescriptor::FindArgument(
    std::string_view argumentName) const {
  for (const BindingArgumentDescriptor& argument : arguments) {
    if (argument.name == argumentName) {
      return &argument;
    }
  }
  return nullptr;
}

}  // namespace Vexa
