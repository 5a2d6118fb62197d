#include "binding/type_kind.h"

#include <iterator>

namespace Vexa {
namespace {

// Indexed by the kind's number; entry 0 (None) is the empty text.
constexpr const char* kTypeKindNames[] = {
    "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
    "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
    "blob",   "vector", "enum",   "struct", "callback", "map",
};
static_assert(std::size(kTypeKindNames) == static_cast<std::size_t>(BindingTypeKind::Map) + 1);

}  // namespace

const char* BindingTypeKindName(BindingTypeKind kind) {
  const auto index = static_cast<int32_t>(kind);
  if (index < 0 || index >= static_cast<int32_t>(std::size(kTypeKindNames))) {
    return "";
  }
  return kTypeKindNames[index];
}

}  // namespace Vexa
