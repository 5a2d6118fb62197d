#include "runtime/plugin_log_target.h"

#include "runtime/app_module.h"
#include "runtime/messages.h"

namespace Vexa {

PluginLogTarget::PluginLogTarget(AppModule& module) : module_(module) {
  RouteWriteEntryToWrite();
}

PluginLogTarget::~PluginLogTarget() {
  Detach();
}

const char* PluginLogTarget::TypeName() const {
  return kPluginLogTargetName;
}

bool PluginLogTarget::Write(const LogRecord& record) {
  return module_.CallHostLog(record.level, record.message != nullptr ? record.message : "");
}

}  // namespace Vexa
