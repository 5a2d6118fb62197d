#include "platform/library.h"

#include <dlfcn.h>

#include <utility>

namespace Vexa::Platform {

SharedLibrary::SharedLibrary(const std::string& name)
    : handle_(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    SharedLibrary discarded(std::move(*this));
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void* SharedLibrary::Address(const char* symbol) const {
  return handle_ == nullptr || symbol == nullptr ? nullptr : dlsym(handle_, symbol);
}

}  // namespace Vexa::Platform
