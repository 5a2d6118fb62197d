#include "runtime/plugin_log_target.h"

#include <cstdlib>
#include <cstring>

#include "diagnostics/log_manager.h"
#include "runtime/messages.h"

namespace Vexa {

namespace {

// Trace lines are for the plugin's developers: a host started with VEXA_PLUGIN_TRACE set (to
// anything but "0") receives them too.
LogGroups MutedUnderHost() {
  const char* const wanted = std::getenv(kPluginTraceVariable);
  const bool traces = wanted != nullptr && *wanted != '\0' && std::strcmp(wanted, "0") != 0;
  return traces ? 0 : kGroupExtra;
}

}  // namespace

PluginLogTarget::PluginLogTarget(HostCalls& host) : host_(host) {
  RouteWriteEntryToWrite();
  LogManager* manager = LogManager::Obtain();
  if (manager == nullptr) {
    return;
  }
  previous_ =
      Previous{manager->StdOutTarget().IsAttached(), manager->StdErrTarget().IsAttached(),
               manager->DebuggerTarget().IsAttached(), manager->Level(), manager->MutedGroups()};
  manager->StdOutTarget().Detach();
  manager->StdErrTarget().Detach();
  manager->DebuggerTarget().Detach();
  manager->SetLevel(kLevelOkay);
  manager->SetMutedGroups(MutedUnderHost());
  Configure(LogTargetConfig{manager->Level(), 0, 0, kDefaultLineTemplate});
}

PluginLogTarget::~PluginLogTarget() {
  Detach();
  LogManager* manager = LogManager::Instance();
  if (manager == nullptr) {
    return;
  }
  manager->SetLevel(previous_.level);
  manager->SetMutedGroups(previous_.muted);
  if (previous_.stdOut) {
    manager->StdOutTarget().Attach();
  }
  if (previous_.stdErr) {
    manager->StdErrTarget().Attach();
  }
  if (previous_.debugger) {
    manager->DebuggerTarget().Attach();
  }
}

const char* PluginLogTarget::TypeName() const {
  return kPluginLogTargetName;
}

bool PluginLogTarget::Write(const LogRecord& record) {
  return host_.Log(record.level, record.message != nullptr ? record.message : "");
}

}  // namespace Vexa
