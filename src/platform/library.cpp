#include "platform/library.h"

#include <utility>

#include "platform/system_internal.h"

namespace Vexa::Platform {

SharedLibrary::SharedLibrary(const std::string& name) : handle_(System::OpenLibrary(name)) {}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) {
    System::CloseLibrary(handle_);
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
  return handle_ == nullptr || symbol == nullptr ? nullptr : System::LibrarySymbol(handle_, symbol);
}

}  // namespace Vexa::Platform
