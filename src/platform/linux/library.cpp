#include <dlfcn.h>

#include "platform/system_internal.h"

namespace Vexa::Platform::System {

void* OpenLibrary(const std::string& name) {
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void CloseLibrary(void* handle) {
  dlclose(handle);
}

void* LibrarySymbol(void* handle, const char* symbol) {
  return dlsym(handle, symbol);
}

}  // namespace Vexa::Platform::System
