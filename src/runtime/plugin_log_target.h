// The log target of a plugin under its host: every record that passes the filters goes to the
// host's log entry (entry 10) with its level and message; the host renders the line.
//
// While it lives the target owns the process's log: creating it detaches the built-in console
// targets, lowers the global level to 0 and mutes "XTR" (trace lines; unless the environment
// variable VEXA_PLUGIN_TRACE is set to anything but "0"), so that the host alone decides what is
// shown; destroying it gives the log back as it found it (the console targets
// that were attached, the level, the muted groups), so that a report written after the module
// is gone, such as a fatal one, still reaches standard error.
//
// Ownership: owned by the module that created it at Start; it borrows the module's host calls,
// which outlive it. Threading: created in Start and destroyed in Stop, on the module's sequence;
// Write runs on whichever thread logs, with the log manager's lock held while the host's log
// entry runs (so that entry must not call back into the plugin).
#pragma once

#include "diagnostics/log_target.h"
#include "diagnostics/log_types.h"
#include "runtime/host_calls.h"

namespace Vexa {

class PluginLogTarget final : public LogTarget {
 public:
  explicit PluginLogTarget(HostCalls& host);
  ~PluginLogTarget() override;

  [[nodiscard]] const char* TypeName() const override;
  bool Write(const LogRecord& record) override;

 private:
  // The log as it was before this target took it over.
  struct Previous {
    bool stdOut = false;
    bool stdErr = false;
    bool debugger = false;
    LogLevel level = kLevelWarn;
    LogGroups muted = kGroupExtra;
  };

  HostCalls& host_;
  Previous previous_;
};

}  // namespace Vexa
