// The host's log: one line per record on standard error, with a time stamp and a level name,
// for the host's own lines and for the records the plugin hands over.
//
//   12:04:31.250 ALWAYS plugin mdl-be-kor-geoinfo: Started service proxy request: ...
//   12:04:31.251   WARN host   settings: GeoInfo.json does not parse; moved aside to ...
//
// The plugin's lines are written in batches by a thread of the log's own, a few milliseconds
// late; the host's own lines at once. A listener may watch every record as it is logged (the
// console's log view).
//
// Threading: any thread; lines never interleave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace VexaHost {

// The plugin's own levels, whose names the lines carry.
enum class LogLevel : int32_t { Okay = 0, Warn = 1, Error = 2, Always = 3 };

// "  OKAY", "  WARN", " ERROR", "ALWAYS"; levels outside the four print as "LEVEL?".
std::string_view LogLevelName(int32_t level);

// Writes one line from `source` ("host" or "plugin").
void Log(int32_t level, std::string_view source, std::string_view text);

inline void HostLog(LogLevel level, std::string_view text) {
  Log(static_cast<int32_t>(level), "host", text);
}

// One record as a listener sees it; the texts live for the call only.
struct LogRecord {
  std::string_view time;  // local, "12:04:31.250"
  int32_t level;
  std::string_view source;  // "host" or "plugin"
  std::string_view text;    // without the line break
};

// Calls `listener` with every record from now on, on the thread that logs it and before Log
// returns; an empty function ends that. A record logged by the listener itself is written but
// not handed to it again. The listener must not wait for anything that may be logging.
void SetLogListener(std::function<void(const LogRecord&)> listener);

// {"time":"12:04:31.250","level":"WARN","source":"host","text":"..."}, the level by its name.
std::string LogRecordJson(const LogRecord& record);
// The same, appended to `json`.
void AppendLogRecordJson(std::string& json, const LogRecord& record);

// A fault that recurs with every request is logged once, not once per request: the first report
// of each kind is a WARN line, the later ones are only counted until Clear, which the owner calls
// when the fault has cleared (a write that works again, faults set anew).
//
//   FaultLog faults;
//   faults.Report("write", "settings: could not write ...");  // logged
//   faults.Report("write", "settings: could not write ...");  // counted
//   if (std::size_t count = faults.Clear(); count > 0) { /* say it cleared */ }
//
// Threading: any thread.
class FaultLog {
 public:
  // Logs `line` from the host unless a fault of `kind` was reported since the last Clear.
  void Report(std::string_view kind, std::string_view line);
  // Forgets the kinds reported; answers how many reports there were since the last Clear.
  std::size_t Clear();

 private:
  std::mutex mutex_;
  std::set<std::string, std::less<>> kinds_;
  std::size_t reports_ = 0;
};

}  // namespace VexaHost
