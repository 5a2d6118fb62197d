#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace Vexa::Platform {

std::string ExecutablePath() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
    return {};
  }
  return std::string(buffer, static_cast<size_t>(length));
}

std::string_view FileNamePart(std::string_view path) {
  const size_t separator = path.rfind(kPathSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

}  // namespace Vexa::Platform
