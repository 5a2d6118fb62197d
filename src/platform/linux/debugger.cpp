#include "platform/debugger.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

namespace Vexa::Platform {

namespace {

bool ReadTracerStatus() {
  // /proc/self/status names the tracer's pid; 0 means nobody is attached.
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return false;
  }
  char line[256];
  bool attached = false;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      attached = std::strtol(line + 10, nullptr, 10) != 0;
      break;
    }
  }
  std::fclose(status);
  return attached;
}

}  // namespace

bool IsDebuggerAttached() {
  // Reading /proc on every debugger line would cost more than the line itself, so the answer
  // is kept for a second: a debugger that attaches sees output from then on.
  static std::atomic<uint64_t> checkedAt{0};
  static std::atomic<bool> attached{false};
  const uint64_t now = PerformanceCounter();
  const uint64_t last = checkedAt.load(std::memory_order_relaxed);
  if (last == 0 || now - last >= PerformanceFrequency()) {
    attached.store(ReadTracerStatus(), std::memory_order_relaxed);
    checkedAt.store(now == 0 ? 1 : now, std::memory_order_relaxed);
  }
  return attached.load(std::memory_order_relaxed);
}

void WriteDebuggerOutput(const char* text) {
  if (text != nullptr && IsDebuggerAttached()) {
    std::fputs(text, stderr);
  }
}

}  // namespace Vexa::Platform
