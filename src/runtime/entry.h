// The plugin's entry: what the exported load function does, and the callbacks the host calls.
//
//   extern "C" VEXA_PLUGIN_EXPORT void VEXA_HOST_CALL load_kor_geoinfo(HostLoadRecord* record) {
//     Vexa::LoadModule<GeoInfoModule>(record, "kor-geoinfo");
//   }
//
// Every function here validates what the host hands it and never throws: a null record is
// ignored; a module that cannot be created leaves the record's out words (callbacks, module,
// full name, API table) zero, so the host sees no callback table; Start refuses a null module or
// context; Stop and Statistics ignore a null module.
#pragma once

#include <new>
#include <string_view>

#include "runtime/app_module.h"
#include "vexa/host_contract.h"

namespace Vexa {

// The callbacks written into word 4 of the load record: Start, Stop (destroys the module),
// Statistics.
[[nodiscard]] const HostCallbackTable& ModuleCallbacks();

// Registers `module` (owned from here: it is destroyed when registration throws) with
// `record`, or zeroes the record's out words when `module` is null or registration fails.
void RegisterLoadedModule(AppModule* module, HostLoadRecord* record, std::string_view shortName,
                          std::string_view type);

// Creates a Module and registers it with `record` under `shortName` and `type`.
template <typename Module>
void LoadModule(HostLoadRecord* record, std::string_view shortName,
                std::string_view type = "backend") noexcept {
  if (record == nullptr) {
    return;
  }
  Module* module = nullptr;
  try {
    module = new Module();
  } catch (...) {
    module = nullptr;
  }
  RegisterLoadedModule(module, record, shortName, type);
}

}  // namespace Vexa
