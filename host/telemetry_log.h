// The platform's telemetry endpoint: every event a plugin posts is appended as one JSON line
// to `telemetry.jsonl` in the data directory:
//
//   {"time":"2026-12-07T12:04:31.250Z","name":"geoinfo_lookup","data":{...}}
//
// Each line is written with one write(2) on a file opened for appending, so lines of
// concurrent writers never interleave and a crash loses at most the line being written: a line
// left without its end (by a crash, or a short write on a full disk) is ended before the next
// one, so only that line is lost.
//
// Threading: any thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include "json.h"

namespace VexaHost {

class TelemetryLog {
 public:
  // Opens (creating) `file` for appending. Throws std::system_error when it cannot.
  explicit TelemetryLog(std::filesystem::path file);
  ~TelemetryLog();
  TelemetryLog(const TelemetryLog&) = delete;
  TelemetryLog& operator=(const TelemetryLog&) = delete;

  // Appends the event `name` with `data`; false (with `error` set) when the write failed.
  bool Append(std::string_view name, const rapidjson::Value& data, std::string& error);

  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  int descriptor_ = -1;
  std::atomic<bool> torn_{false};  // the file ends inside a line
};

}  // namespace VexaHost
