// The log target of a plugin under its host: every record that passes the filters goes to the
// host's log entry (entry 10) with its level and message; the host renders the line.
//
// Ownership: owned by the module that created it at Start; it detaches itself when destroyed.
// It borrows the module, which outlives it.
#pragma once

#include "diagnostics/log_target.h"

namespace Vexa {

class AppModule;

class PluginLogTarget final : public LogTarget {
 public:
  explicit PluginLogTarget(AppModule& module);
  ~PluginLogTarget() override;

  [[nodiscard]] const char* TypeName() const override;
  bool Write(const LogRecord& record) override;

 private:
  AppModule& module_;
};

}  // namespace Vexa
