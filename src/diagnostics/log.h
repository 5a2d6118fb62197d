// The logging call of the whole system: a level, a mask of groups and a printf-style
// message, handed to every attached target that accepts it.
//
//   Vexa::Log(Vexa::kLevelError, Vexa::kGroupDebug, "%s: request %d failed", name, id);
//   Vexa::Log(Vexa::kLevelError, Vexa::kGroupDebug, "%s", callerText);  // never as template
//   Vexa::Trace("%s: Handling event %s", fullName, eventName);  // muted unless "XTR" is unmuted
#pragma once

#include <cstdarg>

#include "diagnostics/log_types.h"

namespace Vexa {

// Logs one message. The manager is created on first use. A message is dropped, before any
// formatting, while logging is suppressed, when its level is below the global level or
// when it has a muted group. The message is cut to 4095 bytes. Reports nothing to the
// caller; allocates nothing once the manager exists. Thread-safe.
//
// `format` is a printf template written by the programmer. Text from anywhere else goes
// in as an argument of "%s".
void Log(LogLevel level, LogGroups groups, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Log with an argument list (the form in the C table). `arguments` is consumed only when
// the message passes the global filters.
void LogV(LogLevel level, LogGroups groups, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// The debug trace call: logs at level 0 ("  OKAY") in the group "XTR", which is muted by
// default (and again by the plugin runtime at Start), so trace lines cost one filter check
// unless a host unmutes "XTR" to see them.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Vexa
