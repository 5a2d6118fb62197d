#include <windows.h>

#include "platform/clock.h"

namespace Vexa::Platform {
namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01 UTC; this many lie before 1970.
constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;

}  // namespace

LocalTime CurrentLocalTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

uint64_t PerformanceCounter() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart);
}

uint64_t PerformanceFrequency() {
  // Fixed at boot, so read once.
  static const uint64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return static_cast<uint64_t>(value.QuadPart);
  }();
  return frequency;
}

int64_t SystemTimeTicks() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return ticks - kTicksFrom1601To1970;
}

}  // namespace Vexa::Platform
