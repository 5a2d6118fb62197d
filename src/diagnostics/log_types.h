// The vocabulary of logging: levels, group masks, the record a target receives and the
// settings a target is configured with.
//
//   Vexa::LogRecord record{};
//   record.level = Vexa::kLevelError;
//   record.groups = Vexa::kGroupDebug | Vexa::kGroupNetwork;
//   record.message = "connection lost";
//   const char* name = Vexa::LevelName(record.level);  // " ERROR"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Vexa {

// Severity of a message. A message passes a level filter when its level is greater than or
// equal to the filter's level (signed comparison).
using LogLevel = int32_t;

inline constexpr LogLevel kLevelOkay = 0;
inline constexpr LogLevel kLevelWarn = 1;
inline constexpr LogLevel kLevelError = 2;
inline constexpr LogLevel kLevelAlways = 3;

// The six-character, right-aligned name of a level ("  OKAY", "  WARN", " ERROR",
// "ALWAYS"). Callers pass 0 to 3; any other value answers "??????" rather than reading
// outside the name table.
constexpr const char* LevelName(LogLevel level) {
  constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= kLevelOkay && level <= kLevelAlways ? kNames[level] : "??????";
}

// A set of log groups: bit i stands for entry i of the process-wide group table (see
// log_groups.h). The empty mask belongs to no group and passes every group filter.
using LogGroups = uint64_t;

inline constexpr LogGroups kGroupDebug = LogGroups{1} << 0;        // "DBG"
inline constexpr LogGroups kGroupGeneral = LogGroups{1} << 1;      // "GEN"
inline constexpr LogGroups kGroupExtra = LogGroups{1} << 2;        // "XTR"
inline constexpr LogGroups kGroupPerformance = LogGroups{1} << 3;  // "PRF"
inline constexpr LogGroups kGroupMemory = LogGroups{1} << 4;       // "MEM"
inline constexpr LogGroups kGroupDisk = LogGroups{1} << 5;         // "DSK"
inline constexpr LogGroups kGroupNetwork = LogGroups{1} << 6;      // "NET"
inline constexpr LogGroups kGroupTest = LogGroups{1} << 7;         // "TST"

// Size of the message and line buffers that logging keeps on the stack; longer messages
// and lines are cut to fit.
inline constexpr size_t kLogBufferSize = 4096;

// Line templates of the targets this library configures.
inline constexpr const char* kDefaultLineTemplate = "#D| #L| #G| #M";
inline constexpr const char* kConsoleLineTemplate = "#E(#T): #L| #M";
inline constexpr const char* kMessageOnlyLineTemplate = "#M";

// One logged message as handed to the targets. Plain C layout, because targets written
// elsewhere receive it through their C table. The time fields are the local wall-clock
// time when the message was logged. The message is borrowed: valid only during the call.
struct LogRecord {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
  LogLevel level;
  LogGroups groups;
  const char* message;
};

// The settings that LogTarget::Configure applies in one step. The defaults are those of a
// freshly constructed target.
struct LogTargetConfig {
  LogLevel level = kLevelWarn;
  LogGroups enabledGroups = 0;
  LogGroups disabledGroups = 0;
  std::string lineTemplate = kDefaultLineTemplate;
};

}  // namespace Vexa
