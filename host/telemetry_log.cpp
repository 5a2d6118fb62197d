#include "telemetry_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "system.h"

namespace VexaHost {
namespace {

// The UTC time as 2026-12-07T12:04:31.250Z.
std::string IsoUtcNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char stamp[40];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(stamp + length, sizeof stamp - length, ".%03dZ",
                static_cast<int>(now.tv_nsec / 1000000));
  return stamp;
}

}  // namespace

TelemetryLog::TelemetryLog(std::filesystem::path file) : file_(std::move(file)) {
  descriptor_ = OpenForAppend(file_);
  if (descriptor_ < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open " + file_.string());
  }
  // A previous run may have died inside a line; the next line must not be glued to it.
  struct stat status {};
  char last = '\n';
  if (fstat(descriptor_, &status) == 0 && status.st_size > 0 &&
      !ReadByteAt(descriptor_, status.st_size - 1, last)) {
    last = '\n';
  }
  torn_ = last != '\n';
}

TelemetryLog::~TelemetryLog() {
  close(descriptor_);
}

bool TelemetryLog::Append(std::string_view name, const rapidjson::Value& data, std::string& error) {
  std::string line = torn_.exchange(false) ? "\n" : "";
  line += "{\"time\":\"" + IsoUtcNow() + "\",\"name\":" + JsonQuoted(name) +
          ",\"data\":" + JsonText(data) + "}\n";
  ssize_t count;
  do {
    count = write(descriptor_, line.data(), line.size());
  } while (count < 0 && errno == EINTR);
  const int code = errno;
  if (count == static_cast<ssize_t>(line.size())) {
    return true;
  }
  // Part of the line written ends the file inside it; nothing written leaves it as it was.
  torn_ = count > 0 || line.front() == '\n';
  error = "could not append to " + file_.string() + ": " +
          (count < 0 ? std::string(std::strerror(code))
                     : "short write (" + std::to_string(count) + " of " +
                           std::to_string(line.size()) + " bytes)");
  return false;
}

}  // namespace VexaHost
