#include <windows.h>

#include "platform/process.h"

namespace Vexa::Platform {

std::string ExecutablePath() {
  // MAX_PATH is not the limit of a path; a buffer that comes back full is grown.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) {  // the longest path Windows has
      return {};
    }
    path.resize(path.size() * 2);
  }
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

uint32_t LastSystemError() {
  return GetLastError();
}

}  // namespace Vexa::Platform
