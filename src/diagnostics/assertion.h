// Reports of conditions the system cannot survive: the assertion report written to the
// log, and the fatal error that writes one and ends the process.
//
//   if (!compatible) {
//     Vexa::FatalError("ALE-EECF0606", description.c_str());  // does not return
//   }
//   Vexa::ReportAssertion("count > 0", nullptr, __FILE__, __LINE__, __func__);  // returns
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vexa {

// The fields of one report. A text field is absent when null or empty; line 0 is absent.
struct AssertionFields {
  const char* expression = nullptr;
  const char* description = nullptr;
  const char* file = nullptr;
  int32_t line = 0;
  const char* function = nullptr;
};

// Writes the report text into `buffer` (truncating, NUL-terminated when `size` is not 0):
//
//   Assertion failed!\n\n
//   File: <file>\n                 when present
//   Line: <line>\n\n               when not 0
//   Function: <function>\n\n       when present
//   Expression: <expression>       when present
//   \n\nDescription: <description> when present
//
// Returns the length written, terminator excluded. Allocates nothing.
size_t FormatAssertionReport(char* buffer, size_t size, const AssertionFields& fields);

// Logs the report at level " ERROR" in group "DBG", the text going in as the argument of
// "%s". Returns normally. Thread-safe.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function);

// Logs a report with `identifier` ("ALE-" and eight upper-case hex digits, naming the call
// site) as its expression and `description` as its description, then, when the calling thread
// has one, its last system error (GetLastError on Windows, errno elsewhere) as a line
// "Last system error: N", and ends the process with abort: no cleanup runs and nothing returns
// to the caller.
[[noreturn]] void FatalError(const char* identifier, const char* description);

}  // namespace Vexa
