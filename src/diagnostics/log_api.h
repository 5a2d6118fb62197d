// The C table through which code of the plugin written against a C interface reaches the log
// manager. It is not exported: the plugin library's one export is its entry, so a host reaches
// the plugin's log only through the targets attached from inside (runtime/plugin_log_target.h).
//
//   const Vexa::LogApi* api = Vexa::GetLogApi();
//   api->init();
//   api->setLevel(Vexa::kLevelOkay);
//   if (Vexa::LogTargetInterface* stdOut = api->stdOutTarget()) stdOut->attach(stdOut);
//   ...
//   api->shutdown();
#pragma once

#include <cstdarg>
#include <cstddef>

#include "diagnostics/log_target.h"
#include "diagnostics/log_types.h"

namespace Vexa {

// Entries in their fixed order. Every entry may be called from any thread and catches
// nothing because nothing in it throws. The entries from setLevel to moduleName need a
// manager (made by init or by the first log); without one they do nothing and answer 0,
// null or "<unknown>". Texts answered are owned by the library.
struct LogApi {
  int32_t (*version)();  // 1
  // Takes a reference to the manager, creating it when the count becomes 1.
  void (*init)();
  // Drops a reference; at 0 detaches every target, last first, and destroys the manager.
  void (*shutdown)();
  void (*setLevel)(LogLevel level);
  LogLevel (*getLevel)();
  void (*setMutedGroups)(LogGroups groups);
  LogGroups (*getMutedGroups)();
  void (*suppress)();
  void (*resume)();
  void (*setReservedSwitch)();
  void (*clearReservedSwitch)();
  // Appends a target table (again, if listed already); does not own it.
  void (*addTarget)(LogTargetInterface* target);
  // Removes every occurrence of a target table.
  void (*removeTarget)(LogTargetInterface* target);
  // The first listed target whose type name equals `typeName` exactly, or null.
  LogTargetInterface* (*findTarget)(const char* typeName);
  LogTargetInterface* (*stdOutTarget)();
  LogTargetInterface* (*stdErrTarget)();
  LogTargetInterface* (*debuggerTarget)();
  // The group's bit; 0 when the code is empty or the group table is full.
  LogGroups (*registerGroup)(const char* code);
  size_t (*formatGroups)(char* buffer, size_t size, LogGroups groups);
  size_t (*formatLine)(char* buffer, size_t size, const char* lineTemplate,
                       const LogRecord* record);
  const char* (*levelName)(LogLevel level);
  const char* (*moduleName)();
  void (*localTime)(LogRecord* record);
  size_t (*timeStamp)(char* buffer, size_t size, const LogRecord* record);
  size_t (*fileTimeStamp)(char* buffer, size_t size, const LogRecord* record);
  void (*log)(LogLevel level, LogGroups groups, const char* format, va_list arguments);
};

inline constexpr int32_t kLogApiVersion = 1;

// The process's one table; never null, valid for the life of the process.
const LogApi* GetLogApi();

}  // namespace Vexa
