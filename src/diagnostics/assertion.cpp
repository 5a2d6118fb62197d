#include "diagnostics/assertion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics/log.h"
#include "platform/process.h"

namespace Vexa {

namespace {

constexpr const char* kReportHeading = "Assertion failed!\n\n";
constexpr const char* kFileLabel = "File: ";
constexpr const char* kLineLabel = "Line: ";
constexpr const char* kFunctionLabel = "Function: ";
constexpr const char* kExpressionLabel = "Expression: ";
constexpr const char* kDescriptionLabel = "\n\nDescription: ";

bool IsPresent(const char* text) {
  return text != nullptr && text[0] != '\0';
}

// Appends to a NUL-terminated text in a fixed buffer, cutting what does not fit.
class ReportWriter {
 public:
  ReportWriter(char* buffer, size_t size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }

  void Append(const char* text) {
    const size_t room = size_ - position_ - 1;
    const size_t length = strnlen(text, room);
    std::memcpy(buffer_ + position_, text, length);
    position_ += length;
    buffer_[position_] = '\0';
  }

  void AppendNumber(int32_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(number));
    Append(digits);
  }

  size_t Length() const { return position_; }

 private:
  char* buffer_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace

size_t FormatAssertionReport(char* buffer, size_t size, const AssertionFields& fields) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  ReportWriter report(buffer, size);
  report.Append(kReportHeading);
  if (IsPresent(fields.file)) {
    report.Append(kFileLabel);
    report.Append(fields.file);
    report.Append("\n");
  }
  if (fields.line != 0) {
    report.Append(kLineLabel);
    report.AppendNumber(fields.line);
    report.Append("\n\n");
  }
  if (IsPresent(fields.function)) {
    report.Append(kFunctionLabel);
    report.Append(fields.function);
    report.Append("\n\n");
  }
  if (IsPresent(fields.expression)) {
    report.Append(kExpressionLabel);
    report.Append(fields.expression);
  }
  if (IsPresent(fields.description)) {
    report.Append(kDescriptionLabel);
    report.Append(fields.description);
  }
  return report.Length();
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) {
  char text[kLogBufferSize];
  FormatAssertionReport(text, sizeof text, {expression, description, file, line, function});
  Log(kLevelError, kGroupDebug, "%s", text);
}

void FatalError(const char* identifier, const char* description) {
  // Read first: writing the report makes system calls of its own.
  const uint32_t lastSystemError = Platform::LastSystemError();
  ReportAssertion(identifier, description, "", 0, "");
  // The system's last word on what went wrong follows the report (it is often the cause), as
  // a line of its own so that the report keeps its fixed layout.
  if (lastSystemError != 0) {
    Log(kLevelError, kGroupDebug, "Last system error: %u", static_cast<unsigned>(lastSystemError));
  }
  // Straight to abort: the report is out, and the crash handling of whoever hosts the
  // process sees an ordinary abnormal termination rather than a fault we provoked.
  std::abort();
}

}  // namespace Vexa
