#include "diagnostics/console_targets.h"

#include <cstdio>

#include "platform/debugger.h"

namespace Vexa {

// Each concrete target detaches in its own destructor as well: by the time this base
// destructor runs, a record arriving from another thread would find Write gone.
BaseConsoleLogTarget::~BaseConsoleLogTarget() {
  Detach();
}

const char* BaseConsoleLogTarget::TypeName() const {
  return "BaseConsoleLogTarget";
}

StdErrLogTarget::StdErrLogTarget() {
  RouteWriteEntryToWrite();
}

StdErrLogTarget::~StdErrLogTarget() {
  Detach();
}

const char* StdErrLogTarget::TypeName() const {
  return "StdErrLogTarget";
}

bool StdErrLogTarget::Write(const LogRecord& record) {
  return RenderAndEmit(
      record, [](const char* line, size_t length) { std::fwrite(line, 1, length, stderr); });
}

void StdErrLogTarget::Flush() {
  std::lock_guard guard(Lock());
  std::fflush(stderr);
}

StdOutLogTarget::StdOutLogTarget() {
  RouteWriteEntryToWrite();
}

StdOutLogTarget::~StdOutLogTarget() {
  Detach();
}

const char* StdOutLogTarget::TypeName() const {
  return "StdOutLogTarget";
}

bool StdOutLogTarget::Write(const LogRecord& record) {
  return RenderAndEmit(record, [this](const char* line, size_t length) {
    std::fwrite(line, 1, length, stdout);
    if (flushEachLine_) {
      std::fflush(stdout);
    }
  });
}

void StdOutLogTarget::Flush() {
  std::lock_guard guard(Lock());
  std::fflush(stdout);
}

void StdOutLogTarget::SetFlushEachLine(bool flushEachLine) {
  std::lock_guard guard(Lock());
  flushEachLine_ = flushEachLine;
}

bool StdOutLogTarget::FlushEachLine() const {
  std::lock_guard guard(Lock());
  return flushEachLine_;
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  RouteWriteEntryToWrite();
}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() {
  Detach();
}

const char* DebuggerConsoleLogTarget::TypeName() const {
  return "DebuggerConsoleLogTarget";
}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
  return RenderAndEmit(record,
                       [](const char* line, size_t) { Platform::WriteDebuggerOutput(line); });
}

void DebuggerConsoleLogTarget::Flush() {}

}  // namespace Vexa
