// Targets that write log lines to the process's consoles: standard error, standard output
// and the debugger's output.
//
//   Vexa::StdOutLogTarget out;
//   out.SetFlushEachLine(true);
//   out.Configure({Vexa::kLevelWarn, Vexa::kGroupGeneral, 0, "#M"});
//   Vexa::Log(Vexa::kLevelError, Vexa::kGroupGeneral, "%d files", 3);  // "3 files\n"
#pragma once

#include <mutex>

#include "diagnostics/log_line.h"
#include "diagnostics/log_target.h"

namespace Vexa {

// A target bound to a console stream. Detaches itself when destroyed, so a console target
// may simply go out of scope while attached (its lines stop before it goes).
class BaseConsoleLogTarget : public LogTarget {
 public:
  ~BaseConsoleLogTarget() override;
  const char* TypeName() const override;
  // Pushes buffered output to the console.
  virtual void Flush() = 0;

 protected:
  // Renders `record` into a line buffer on the stack and hands the line to `emit`, both
  // under the target's lock, so that lines of different threads never interleave and the
  // template cannot change under the rendering. Always answers true.
  template <typename Emit>
  bool RenderAndEmit(const LogRecord& record, Emit emit) {
    char line[kLogBufferSize];
    std::lock_guard guard(Lock());
    const size_t length = FormatLine(line, sizeof line, LineTemplate(record), &record);
    emit(line, length);
    return true;
  }
};

// Writes each line to standard error.
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  const char* TypeName() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

// Writes each line to standard output; flushes after every line when asked to (for
// output read by another program as it comes).
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  const char* TypeName() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;

  void SetFlushEachLine(bool flushEachLine);
  bool FlushEachLine() const;

 private:
  bool flushEachLine_ = false;
};

// Writes each line to the debugger's output, which shows nothing without a debugger.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  const char* TypeName() const override;
  bool Write(const LogRecord& record) override;
  // The debugger's output is not buffered; nothing to do.
  void Flush() override;
};

}  // namespace Vexa
