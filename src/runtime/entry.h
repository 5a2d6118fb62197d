// Loading a module: what a plugin's exported load function does.
//
//   extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_geoinfo(HostLoadRecord* record) {
//     Vexa::LoadModule<GeoInfoModule>(record, "kor-geoinfo");
//   }
//
// The module is created, wrapped for the seam (bridge/entry.h: the callbacks Start, Stop and
// Statistics drive it from then on) and registered with the record. A module that cannot be
// created or registered leaves the record's out words zero, so the host sees no callback table;
// nothing here throws.
#pragma once

#include <memory>
#include <new>
#include <string_view>

#include "bridge/entry.h"
#include "runtime/app_module.h"

namespace Vexa {

// Wraps `module` (owned; destroyed with the wrapper, also when wrapping fails) for the seam,
// to be registered under `shortName` and `type`. Null when `module` is null or memory ran out.
[[nodiscard]] std::unique_ptr<HostedModule> HostModule(std::unique_ptr<AppModule> module,
                                                       std::string_view shortName,
                                                       std::string_view type) noexcept;

// Creates a Module and registers it with `record` under `shortName` and `type`.
template <typename Module>
void LoadModule(HostLoadRecord* record, std::string_view shortName,
                std::string_view type = "backend") noexcept {
  if (record == nullptr) {
    return;
  }
  std::unique_ptr<AppModule> module;
  try {
    module = std::make_unique<Module>();
  } catch (...) {
    module = nullptr;
  }
  RegisterHostedModule(record, HostModule(std::move(module), shortName, type));
}

}  // namespace Vexa
