#include "diagnostics/log_line.h"

#include <cstdio>
#include <cstring>

#include "diagnostics/log_groups.h"
#include "diagnostics/log_manager.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace Vexa {

namespace {

// Writes into the usable part of a line buffer (the buffer less the two bytes held back for
// the line end), always keeping the text NUL-terminated.
class LineWriter {
 public:
  LineWriter(char* buffer, size_t usable) : buffer_(buffer), usable_(usable) {}

  // Copying goes on while more than one byte of the usable space remains; the last one is
  // for the terminator.
  bool HasRoom() const { return usable_ - position_ > 1; }
  size_t Position() const { return position_; }

  void Put(char byte) {
    buffer_[position_++] = byte;
    buffer_[position_] = '\0';
  }

  void Append(const char* text) {
    const size_t room = usable_ - position_ - 1;
    const size_t length = strnlen(text, room);
    std::memcpy(buffer_ + position_, text, length);
    position_ += length;
    buffer_[position_] = '\0';
  }

  void AppendGroups(LogGroups groups) {
    position_ += FormatGroups(buffer_ + position_, usable_ - position_, groups);
  }

 private:
  char* buffer_;
  size_t usable_;
  size_t position_ = 0;
};

void AppendElapsedTime(LineWriter& writer) {
  const float seconds = ElapsedSeconds();
  const int wholeSeconds = static_cast<int>(seconds);
  const int milliseconds = static_cast<int>(seconds * 1000.0f) % 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%06d.%03d", wholeSeconds, milliseconds);
  writer.Append(text);
}

void AppendThreadId(LineWriter& writer) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(Platform::CurrentThreadId()));
  writer.Append(text);
}

void AppendModuleName(LineWriter& writer) {
  const LogManager* manager = LogManager::Instance();
  writer.Append(manager != nullptr ? manager->ModuleName() : kUnknownModuleName);
}

void AppendField(LineWriter& writer, char code, const LogRecord& record) {
  switch (code) {
    case 'D': {
      char stamp[96];
      FormatTimeStamp(stamp, sizeof stamp, &record);
      writer.Append(stamp);
      break;
    }
    case 'E':
      AppendModuleName(writer);
      break;
    case 'G':
      writer.AppendGroups(record.groups);
      break;
    case 'H':
      AppendElapsedTime(writer);
      break;
    case 'L':
      writer.Append(LevelName(record.level));
      break;
    case 'M':
      writer.Append(record.message != nullptr ? record.message : "");
      break;
    case 'T':
      AppendThreadId(writer);
      break;
    default:
      writer.Put(code);
      break;
  }
}

// snprintf reports the length it wanted; callers get what actually landed in the buffer.
size_t WrittenLength(int wanted, size_t size) {
  if (wanted < 0 || size == 0) {
    return 0;
  }
  const size_t length = static_cast<size_t>(wanted);
  return length < size ? length : size - 1;
}

// Places the line feed and terminator. A line cut short gives up its last two bytes to the
// line end; a text that already ends with a line feed keeps it as its only one.
size_t EndLine(char* buffer, size_t end, bool ranOut) {
  if (ranOut) {
    const size_t start = end >= 2 ? end - 2 : 0;
    buffer[start] = '\n';
    buffer[start + 1] = '\0';
    return start + 1;
  }
  if (end > 0 && buffer[end - 1] == '\n') {
    buffer[end] = '\0';
    return end;
  }
  buffer[end] = '\n';
  buffer[end + 1] = '\0';
  return end + 1;
}

}  // namespace

size_t FormatLine(char* buffer, size_t size, const char* lineTemplate, const LogRecord* record) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  buffer[0] = '\0';
  if (size < 2) {
    return 0;
  }
  const char* cursor = (lineTemplate != nullptr && record != nullptr) ? lineTemplate : "";
  LineWriter writer(buffer, size - 2);
  while (*cursor != '\0' && writer.HasRoom()) {
    const char byte = *cursor++;
    if (byte != '#') {
      writer.Put(byte);
      continue;
    }
    const char code = *cursor;
    if (code == '\0') {
      break;
    }
    ++cursor;
    AppendField(writer, code, *record);
  }
  const bool ranOut = *cursor != '\0' && !writer.HasRoom();
  return EndLine(buffer, writer.Position(), ranOut);
}

void FillLocalTime(LogRecord* record) {
  if (record == nullptr) {
    return;
  }
  const LocalTime now = Platform::CurrentLocalTime();
  record->year = now.year;
  record->month = now.month;
  record->day = now.day;
  record->hour = now.hour;
  record->minute = now.minute;
  record->second = now.second;
  record->millisecond = now.millisecond;
}

namespace {

// Writes `value` as exactly `width` decimal digits; the caller has checked that it fits.
char* PutDigits(char* out, int32_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

bool InRange(int32_t value, int32_t limit) {
  return value >= 0 && value < limit;
}

// The time stamp is written on every logged line, where snprintf's parsing of the
// seven-field template was the largest cost; fields in their calendar ranges are written
// directly, with the same result. Anything else goes through snprintf.
bool PutCalendarTimeStamp(char* buffer, size_t size, const LogRecord& record) {
  constexpr size_t kLength = sizeof "2024-03-05T07:08:09.045" - 1;
  if (size <= kLength || !InRange(record.year, 10000) || !InRange(record.month, 100) ||
      !InRange(record.day, 100) || !InRange(record.hour, 100) || !InRange(record.minute, 100) ||
      !InRange(record.second, 100) || !InRange(record.millisecond, 1000)) {
    return false;
  }
  char* out = PutDigits(buffer, record.year, 4);
  *out++ = '-';
  out = PutDigits(out, record.month, 2);
  *out++ = '-';
  out = PutDigits(out, record.day, 2);
  *out++ = 'T';
  out = PutDigits(out, record.hour, 2);
  *out++ = ':';
  out = PutDigits(out, record.minute, 2);
  *out++ = ':';
  out = PutDigits(out, record.second, 2);
  *out++ = '.';
  out = PutDigits(out, record.millisecond, 3);
  *out = '\0';
  return true;
}

}  // namespace

size_t FormatTimeStamp(char* buffer, size_t size, const LogRecord* record) {
  if (buffer == nullptr || size == 0 || record == nullptr) {
    return 0;
  }
  if (PutCalendarTimeStamp(buffer, size, *record)) {
    return sizeof "2024-03-05T07:08:09.045" - 1;
  }
  const int wanted =
      std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", record->year, record->month,
                    record->day, record->hour, record->minute, record->second, record->millisecond);
  return WrittenLength(wanted, size);
}

size_t FormatFileTimeStamp(char* buffer, size_t size, const LogRecord* record) {
  if (buffer == nullptr || size == 0 || record == nullptr) {
    return 0;
  }
  const int wanted =
      std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", record->year, record->month,
                    record->day, record->hour, record->minute, record->second);
  return WrittenLength(wanted, size);
}

float ElapsedSeconds() {
  static const uint64_t start = Platform::PerformanceCounter();
  const uint64_t elapsed = Platform::PerformanceCounter() - start;
  return static_cast<float>(static_cast<double>(elapsed) /
                            static_cast<double>(Platform::PerformanceFrequency()));
}

}  // namespace Vexa
