#include "platform/clock.h"

#include <ctime>

namespace Vexa::Platform {

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // The broken-down time of the thread's last second, kept: every log line asks for the time,
  // and converting it (localtime_r) costs more than the rest of a short line. The C library
  // reads the time zone once per process, so a kept second stays right.
  thread_local time_t keptSecond = -1;
  thread_local tm kept{};
  if (now.tv_sec != keptSecond) {
    localtime_r(&now.tv_sec, &kept);
    keptSecond = now.tv_sec;
  }
  const tm& fields = kept;
  LocalTime result;
  result.year = fields.tm_year + 1900;
  result.month = fields.tm_mon + 1;
  result.day = fields.tm_mday;
  result.hour = fields.tm_hour;
  result.minute = fields.tm_min;
  result.second = fields.tm_sec;
  result.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return result;
}

uint64_t PerformanceCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t PerformanceFrequency() {
  return 1000000000u;
}

int64_t SystemTimeTicks() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

}  // namespace Vexa::Platform
