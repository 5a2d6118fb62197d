// The host's log: one line per record on standard error, with a time stamp and a level name,
// for the host's own lines and for the records the plugin hands over.
//
//   12:04:31.250 ALWAYS plugin mdl-be-kor-geoinfo: Started service proxy request: ...
//   12:04:31.251   WARN host   settings: GeoInfo.json does not parse; moved aside to ...
//
// The plugin's lines are written in batches by a thread of the log's own, a few milliseconds
// late; the host's own lines at once.
//
// Threading: any thread; lines never interleave.
#pragma once

#include <cstddef>
#include <cstdint>
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
