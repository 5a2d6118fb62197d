#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

namespace Vexa::Platform {

std::string ExecutablePath() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) {
    return {};
  }
  return std::string(buffer, static_cast<size_t>(length));
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}

}  // namespace Vexa::Platform
