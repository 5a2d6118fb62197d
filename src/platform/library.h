// Run-time loading of shared libraries: LoadLibraryW and GetProcAddress on Windows, dlopen and
// dlsym elsewhere. Names are UTF-8.
//
//   Vexa::Platform::SharedLibrary library("libyaml-0.so.2");
//   if (auto* parse = library.Symbol<int (*)(void*)>("yaml_parser_parse")) { ... }
#pragma once

#include <string>

namespace Vexa::Platform {

// Owns one loaded library and unloads it when destroyed. A library that could not be loaded
// is empty: every lookup answers null.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  explicit SharedLibrary(const std::string& name);
  ~SharedLibrary();

  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }

  // The address of an exported symbol, or null when the library or the symbol is missing.
  void* Address(const char* symbol) const;

  template <typename Function>
  Function Symbol(const char* symbol) const {
    return reinterpret_cast<Function>(Address(symbol));
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace Vexa::Platform
