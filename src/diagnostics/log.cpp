#include "diagnostics/log.h"

#include <cstdio>

#include "diagnostics/event_tracing.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"

namespace Vexa {

void LogV(LogLevel level, LogGroups groups, const char* format, va_list arguments) {
  if (format == nullptr) {
    return;
  }
  LogManager* manager = LogManager::Obtain();
  if (manager == nullptr || !manager->Accepts(level, groups)) {
    return;
  }
  char message[kLogBufferSize];
  if (std::vsnprintf(message, sizeof message, format, arguments) < 0) {
    message[0] = '\0';
  }
  LogRecord record{};
  FillLocalTime(&record);
  record.level = level;
  record.groups = groups;
  record.message = message;
  manager->Dispatch(record);
}

void Log(LogLevel level, LogGroups groups, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogV(level, groups, format, arguments);
  va_end(arguments);
}

void Trace(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogV(kLevelOkay, kGroupExtra, format, arguments);
  va_end(arguments);
}

namespace {

// Registers the event-tracing providers when the library is loaded, ahead of the other
// start-up objects, and unregisters them when it is unloaded. It lives in this file because
// every user of the library links it: a static library leaves out the files that nothing
// references, start-up objects and all.
struct TraceProvidersWhileLoaded {
  TraceProvidersWhileLoaded() { RegisterTraceProviders(); }
  ~TraceProvidersWhileLoaded() { UnregisterTraceProviders(); }
};

__attribute__((init_priority(101))) TraceProvidersWhileLoaded traceProvidersWhileLoaded;

}  // namespace

}  // namespace Vexa
