// The plugin's entry at the seam: the load record, and the callbacks Start, Stop and Statistics
// that the host calls with the module word the load record returned.
//
//   // runtime/entry.h wraps a module in a HostedModule and hands it over:
//   Vexa::RegisterHostedModule(record, std::move(hosted));
//   ... the host: record->callbacks->start(record->module, &context); ... stop(record->module);
//
// Every function here validates what the host hands it and never throws: a null record is
// ignored; a module that cannot be registered leaves the record's out words (callbacks, module,
// full name, API table) zero, so the host sees no callback table; Start refuses a null module
// or a context without an API table; Stop and Statistics ignore a null module.
//
// Stop while waiting. A host that calls Stop from inside a yield (while the module waits for
// an answer and so is still inside one of its own calls) would destroy the module under that
// call. Such a Stop is refused with an ERROR log line; the module stays, and a later Stop, once
// the wait is over, stops it.
//
// Ownership: the host's module word is the HostedModule, owned from registration until Stop
// destroys it.
//
// Threading: load, Start and Stop come on the module's sequence (vexa/host_contract.h);
// Statistics reads atomic counters and may come from any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "bridge/host_link.h"
#include "diagnostics/sequence_checker.h"

// The seam's records, complete in vexa/host_contract.h.
struct HostLoadRecord;
struct HostEndpointTable;
struct HostCallbackTable;

namespace Vexa {

// What the seam's callbacks drive: a module, seen only through its lifecycle.
class HostedModule {
 public:
  // Destroys the module.
  virtual ~HostedModule() = default;

  // What registration writes back into the load record.
  struct Registration {
    uint32_t major = 0;  // the plugin's API version
    uint32_t minor = 0;
    uint32_t patch = 0;
    const char* fullName = nullptr;               // valid while the module lives
    const HostEndpointTable* apiTable = nullptr;  // valid while the module lives
  };
  // Checks the core's version (an incompatible one ends the process with a report) and makes
  // the module's declarations. May throw; the module is then destroyed.
  virtual Registration Register(uint32_t coreMajor, uint32_t coreMinor, uint32_t corePatch) = 0;
  // Start with the host's entries; the answer is Start's.
  virtual bool Start(const HostLink& host) = 0;
  // The module's part of Stop, before it is destroyed.
  virtual void BeginStop() = 0;
  // Whether the module is inside a wait for the host (a yield): Stop is refused then.
  [[nodiscard]] virtual bool IsWaiting() const = 0;
  // The module's full name, for log lines.
  [[nodiscard]] virtual const char* FullName() const = 0;
  // The module's sequence, which Start and Stop belong to.
  [[nodiscard]] virtual SequenceChecker& Sequence() = 0;
};

// The callbacks written into word 4 of the load record: Start, Stop (destroys the module),
// Statistics.
[[nodiscard]] const HostCallbackTable& ModuleCallbacks();

// Registers `module` with `record` and writes back the plugin's version, the callbacks, the
// module word, the full name and the API table; zeroes the record's out words when `module` is
// null or registration throws (the module is destroyed then). A null record destroys the
// module.
void RegisterHostedModule(HostLoadRecord* record, std::unique_ptr<HostedModule> module) noexcept;

}  // namespace Vexa
