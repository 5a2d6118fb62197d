#include "runtime/entry.h"

#include "runtime/allocation_counters.h"

namespace Vexa {

namespace {

uint8_t VEXA_HOST_CALL StartModule(void* module, const HostContext* context) {
  if (module == nullptr) {
    return 0;
  }
  try {
    return static_cast<AppModule*>(module)->Start(context) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void VEXA_HOST_CALL StopModule(void* module) {
  if (module == nullptr) {
    return;
  }
  auto* appModule = static_cast<AppModule*>(module);
  try {
    appModule->BeginStop();
  } catch (...) {
    // The module goes either way; what the Stop hook left undone dies with it.
  }
  delete appModule;
}

void VEXA_HOST_CALL WriteStatistics(void* /*module*/, uint32_t counters[14]) {
  if (counters != nullptr) {
    WriteAllocationCounters(ReadAllocationCounters(), counters);
  }
}

constexpr HostCallbackTable kCallbacks{&StartModule, &StopModule, &WriteStatistics};

void ClearOutWords(HostLoadRecord& record) {
  record.callbacks = nullptr;
  record.module = nullptr;
  record.fullName = nullptr;
  record.endpoints = nullptr;
}

}  // namespace

const HostCallbackTable& ModuleCallbacks() {
  return kCallbacks;
}

void RegisterLoadedModule(AppModule* module, HostLoadRecord* record, std::string_view shortName,
                          std::string_view type) {
  if (record == nullptr) {
    delete module;
    return;
  }
  ClearOutWords(*record);
  if (module == nullptr) {
    return;
  }
  try {
    module->Register(*record, shortName, type);
  } catch (...) {
    ClearOutWords(*record);
    delete module;
  }
}

}  // namespace Vexa
