// Rendering of one log record into one text line through a line template, and the time
// stamps used in lines and file names.
//
//   char line[Vexa::kLogBufferSize];
//   Vexa::FormatLine(line, sizeof line, "#D| #L| #G| #M", &record);
//   // "2024-03-05T07:08:09.045|  ERROR| DBG;NET| x\n"
//
// Field codes of a template: "#D" the record's time, "#E" the module name, "#G" the
// record's groups, "#H" seconds since the process's elapsed-time clock started
// ("000012.345"), "#L" the level's name, "#M" the message, "#T" the id of the rendering
// thread as eight upper-case hex digits. "#" followed by any other byte writes that byte (so
// "##" writes "#"); a "#" that ends the template writes nothing.
#pragma once

#include <cstddef>

#include "diagnostics/log_types.h"

namespace Vexa {

// Renders `record` through `lineTemplate` into `buffer`. Every line ends with exactly one
// line feed: none is added to a text that already ends with one, and a line that does not
// fit is cut so that the line feed and the terminator still fit. An empty template gives a
// line that is a single line feed. A null template or record renders as the empty template.
// Returns the length of the line, terminator excluded; a buffer smaller than 2 bytes cannot
// hold a line end and receives at most a terminator. Allocates nothing; thread-safe.
size_t FormatLine(char* buffer, size_t size, const char* lineTemplate, const LogRecord* record);

// Fills the seven time fields of `record` with the current local time.
void FillLocalTime(LogRecord* record);

// Writes the record's time as "2024-03-05T07:08:09.045" (bounded, truncating). Returns
// the length written, terminator excluded.
size_t FormatTimeStamp(char* buffer, size_t size, const LogRecord* record);

// Writes the record's time without colons or milliseconds, "2024-03-05T07-08-09", for use
// in file names. Returns the length written, terminator excluded.
size_t FormatFileTimeStamp(char* buffer, size_t size, const LogRecord* record);

// Seconds since the elapsed-time clock was first read in this process (the first call
// starts it). Single precision is what the "#H" field has always shown; its milliseconds
// stay exact for the first two hours or so and coarsen after that.
float ElapsedSeconds();

}  // namespace Vexa
