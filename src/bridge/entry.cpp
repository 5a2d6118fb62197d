#include "bridge/entry.h"

#include "diagnostics/allocation_counters.h"
#include "diagnostics/log.h"
#include "vexa/host_contract.h"

namespace Vexa {
namespace {

inline constexpr const char kStopWhileWaitingLine[] =
    "%s: Stop refused: the host called Stop while the module waits for it; the module stays "
    "loaded";

uint8_t VEXA_HOST_CALL StartModule(void* module, const HostContext* context) {
  if (module == nullptr || context == nullptr || context->api == nullptr) {
    return 0;
  }
  auto* hosted = static_cast<HostedModule*>(module);
  const SequenceScope sequence(hosted->Sequence());
  try {
    return hosted->Start(HostLink(context)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void VEXA_HOST_CALL StopModule(void* module) {
  if (module == nullptr) {
    return;
  }
  auto* hosted = static_cast<HostedModule*>(module);
  {
    const SequenceScope sequence(hosted->Sequence());
    try {
      if (hosted->IsWaiting()) {
        Log(kLevelError, kGroupDebug, kStopWhileWaitingLine, hosted->FullName());
        return;
      }
      hosted->BeginStop();
    } catch (...) {
      // The module goes either way; what the Stop hook left undone dies with it.
    }
  }
  delete hosted;
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

void RegisterHostedModule(HostLoadRecord* record, std::unique_ptr<HostedModule> module) noexcept {
  if (record == nullptr) {
    return;
  }
  ClearOutWords(*record);
  if (module == nullptr) {
    return;
  }
  try {
    const HostedModule::Registration registered =
        module->Register(record->apiMajor, record->apiMinor, record->apiPatch);
    record->apiMajor = registered.major;
    record->apiMinor = registered.minor;
    record->apiPatch = registered.patch;
    record->callbacks = &kCallbacks;
    record->fullName = registered.fullName;
    record->endpoints = registered.apiTable;
    record->module = module.release();
  } catch (...) {
    ClearOutWords(*record);
  }
}

}  // namespace Vexa
