// Wall-clock and monotonic time: GetLocalTime and the performance counter on Windows, the
// real-time and monotonic clocks elsewhere.
//
//   Vexa::LocalTime now = Vexa::Platform::CurrentLocalTime();
//   uint64_t ticks = Vexa::Platform::PerformanceCounter();
//   double seconds = double(ticks) / double(Vexa::Platform::PerformanceFrequency());
#pragma once

#include <cstdint>

namespace Vexa {

// Calendar fields of a local wall-clock instant; month and day are 1-based.
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

namespace Platform {

// The current local time, in the process's time zone, with milliseconds.
LocalTime CurrentLocalTime();

// A monotonic counter and its ticks per second. The counter never goes backwards; its
// origin is arbitrary, so only differences mean anything.
uint64_t PerformanceCounter();
uint64_t PerformanceFrequency();

// The system time as 100-nanosecond ticks since 1970-01-01 UTC.
int64_t SystemTimeTicks();

}  // namespace Platform
}  // namespace Vexa
