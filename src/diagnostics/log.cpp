#include "diagnostics/log.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "diagnostics/event_tracing.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"

namespace Vexa {
namespace {

// Whether every conversion of `format` is a plain "%s" (or a "%%").
bool OnlyPlainTexts(const char* format) {
  for (const char* at = format; (at = std::strchr(at, '%')) != nullptr; at += 2) {
    if (at[1] != 's' && at[1] != '%') {
      return false;
    }
  }
  return true;
}

// What vsnprintf writes for a format of plain "%s" conversions, without its general machinery,
// which costs several times the copying on the short lines most messages are: the texts in
// place, a null one as "(null)", cut to fit with its NUL.
void WritePlainTexts(char* out, std::size_t size, const char* format, va_list arguments) {
  std::size_t used = 0;
  const auto append = [&](const char* text, std::size_t length) {
    const std::size_t room = size - 1 - used;
    const std::size_t taken = length < room ? length : room;
    std::memcpy(out + used, text, taken);
    used += taken;
  };
  for (const char* at = format; *at != '\0';) {
    const char* percent = std::strchr(at, '%');
    if (percent == nullptr) {
      append(at, std::strlen(at));
      break;
    }
    append(at, static_cast<std::size_t>(percent - at));
    if (percent[1] == '%') {
      append("%", 1);
    } else {
      const char* text = va_arg(arguments, const char*);
      text = text != nullptr ? text : "(null)";
      append(text, std::strlen(text));
    }
    at = percent + 2;
  }
  out[used] = '\0';
}

}  // namespace

void LogV(LogLevel level, LogGroups groups, const char* format, va_list arguments) {
  if (format == nullptr) {
    return;
  }
  LogManager* manager = LogManager::Obtain();
  if (manager == nullptr || !manager->Accepts(level, groups)) {
    return;
  }
  char message[kLogBufferSize];
  if (OnlyPlainTexts(format)) {
    WritePlainTexts(message, sizeof message, format, arguments);
  } else if (std::vsnprintf(message, sizeof message, format, arguments) < 0) {
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
