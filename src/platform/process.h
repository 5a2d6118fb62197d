// Facts about the running process: its executable, the calling thread, the last system error
// (GetModuleFileNameA, GetCurrentThreadId, GetLastError on Windows).
//
//   std::string path = Vexa::Platform::ExecutablePath();
//   std::string_view name = Vexa::Platform::FileNamePart(path);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Vexa::Platform {

// The separator between the folders of a path on this platform.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The full path of the running executable, or an empty string when it cannot be read.
std::string ExecutablePath();

// The part of a path after its last separator; the whole path when it has none.
std::string_view FileNamePart(std::string_view path);

// The operating system's numeric id of the calling thread.
uint32_t CurrentThreadId();

// The calling thread's last system error code: GetLastError on Windows, errno elsewhere.
uint32_t LastSystemError();

}  // namespace Vexa::Platform
