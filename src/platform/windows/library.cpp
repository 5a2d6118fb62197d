#include <windows.h>

#include <vector>

#include "platform/system_internal.h"

namespace Vexa::Platform::System {

// Library names are UTF-8 here and UTF-16 to LoadLibraryW; a name that is not UTF-8 loads
// nothing.
void* OpenLibrary(const std::string& name) {
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.c_str(), -1, nullptr, 0);
  if (length <= 0) {
    return nullptr;
  }
  std::vector<wchar_t> wide(static_cast<size_t>(length));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.c_str(), -1, wide.data(), length) !=
      length) {
    return nullptr;
  }
  return LoadLibraryW(wide.data());
}

void CloseLibrary(void* handle) {
  FreeLibrary(static_cast<HMODULE>(handle));
}

void* LibrarySymbol(void* handle, const char* symbol) {
  // FARPROC to a data pointer: the caller casts it back to the function type it expects.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), symbol));
}

}  // namespace Vexa::Platform::System
