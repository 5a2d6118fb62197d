#include "log.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace VexaHost {

std::string_view LogLevelName(int32_t level) {
  static constexpr std::string_view kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  if (level >= 0 && level < 4) {
    return kNames[level];
  }
  return "LEVEL?";
}

void Log(int32_t level, std::string_view source, std::string_view text) {
  static std::mutex mutex;
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long>(now.tv_usec / 1000));
  std::string line;
  line.reserve(text.size() + 32);
  line.append(stamp).append(" ").append(LogLevelName(level)).append(" ");
  line.append(source).append(source.size() < 6 ? 7 - source.size() : 1, ' ');
  line.append(text);
  if (line.back() != '\n') {
    line.push_back('\n');
  }
  std::lock_guard lock(mutex);
  // One write per line, so lines of other processes sharing the stream stay whole too.
  for (std::size_t written = 0; written < line.size();) {
    const ssize_t count = write(STDERR_FILENO, line.data() + written, line.size() - written);
    if (count <= 0) {
      break;
    }
    written += static_cast<std::size_t>(count);
  }
}

}  // namespace VexaHost
