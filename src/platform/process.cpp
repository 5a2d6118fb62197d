#include "platform/process.h"

namespace Vexa::Platform {

std::string_view FileNamePart(std::string_view path) {
  const size_t separator = path.rfind(kPathSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace Vexa::Platform
