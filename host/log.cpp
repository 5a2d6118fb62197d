#include "log.h"

#include "json.h"

#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace VexaHost {

std::string_view LogLevelName(int32_t level) {
  static constexpr std::string_view kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  if (level >= 0 && level < 4) {
    return kNames[level];
  }
  return "LEVEL?";
}

namespace {

void WriteAll(const std::string& text) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t count = write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (count <= 0) {
      return;
    }
    written += static_cast<std::size_t>(count);
  }
}

// Lines are gathered and written by a thread of their own, a batch every few milliseconds: the
// plugin logs several lines per request, and a write(2) each on the plugin thread would be a
// good part of its time. The host's own lines are written at once (after what is pending), so
// nothing said before a crash or an abort is lost.
class LogWriter {
 public:
  ~LogWriter() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    WriteAll(Take());
  }

  void Append(const std::string& line, bool now) {
    std::unique_lock lock(mutex_);
    if (now) {
      std::string text = Take() + line;
      WriteAll(text);  // under the lock, so that nothing overtakes it
      return;
    }
    if (pending_.size() > kMaxPending) {
      ++dropped_;  // standard error is not being read; the plugin must not wait for it
      return;
    }
    pending_ += line;
    if (!thread_.joinable()) {
      thread_ = std::thread([this] { Run(); });
    }
  }

 private:
  static constexpr std::size_t kMaxPending = 4 << 20;

  // Under the lock: the pending text, with a note of the lines dropped.
  std::string Take() {
    std::string text;
    text.swap(pending_);
    if (dropped_ > 0) {
      text += "(" + std::to_string(dropped_) + " log lines dropped: standard error was full)\n";
      dropped_ = 0;
    }
    return text;
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      wake_.wait_for(lock, std::chrono::milliseconds(5));
      std::string text = Take();
      lock.unlock();
      WriteAll(text);
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  std::size_t dropped_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

LogWriter& Writer() {
  static LogWriter writer;
  return writer;
}

struct Listener {
  std::mutex mutex;
  std::function<void(const LogRecord&)> call;
};

Listener& TheListener() {
  static Listener listener;
  return listener;
}

// Hands `record` to the listener, unless this thread is in it already.
void Tell(const LogRecord& record) {
  thread_local bool telling = false;
  if (telling) {
    return;
  }
  Listener& listener = TheListener();
  std::lock_guard lock(listener.mutex);
  if (listener.call) {
    telling = true;
    listener.call(record);
    telling = false;
  }
}

}  // namespace

void SetLogListener(std::function<void(const LogRecord&)> listener) {
  Listener& shared = TheListener();
  std::lock_guard lock(shared.mutex);
  shared.call = std::move(listener);
}

void AppendLogRecordJson(std::string& json, const LogRecord& record) {
  std::string_view level = LogLevelName(record.level);
  level.remove_prefix(std::min(level.find_first_not_of(' '), level.size()));
  json.append("{\"time\":");
  AppendJsonQuoted(json, record.time);
  json.append(",\"level\":");
  AppendJsonQuoted(json, level);
  json.append(",\"source\":");
  AppendJsonQuoted(json, record.source);
  json.append(",\"text\":");
  AppendJsonQuoted(json, record.text);
  json.push_back('}');
}

std::string LogRecordJson(const LogRecord& record) {
  std::string json;
  json.reserve(record.text.size() + 80);
  AppendLogRecordJson(json, record);
  return json;
}

namespace {

// "12:04:31.250", local time. The plugin logs several lines per request: the local time of
// the second is kept per thread and worked out anew only when the second changes.
struct TimeStamp {
  char text[13];
};

void PutTwoDigits(char* at, int value) {
  at[0] = static_cast<char>('0' + value / 10 % 10);
  at[1] = static_cast<char>('0' + value % 10);
}

TimeStamp Now() {
  thread_local time_t second = -1;
  thread_local tm local{};  // of `second`
  timeval now{};
  gettimeofday(&now, nullptr);
  if (now.tv_sec != second) {
    localtime_r(&now.tv_sec, &local);
    second = now.tv_sec;
  }
  const int milliseconds = static_cast<int>(now.tv_usec / 1000);
  TimeStamp stamp{};
  PutTwoDigits(stamp.text, local.tm_hour);
  stamp.text[2] = ':';
  PutTwoDigits(stamp.text + 3, local.tm_min);
  stamp.text[5] = ':';
  PutTwoDigits(stamp.text + 6, local.tm_sec);
  stamp.text[8] = '.';
  stamp.text[9] = static_cast<char>('0' + milliseconds / 100);
  PutTwoDigits(stamp.text + 10, milliseconds);
  stamp.text[12] = '\0';
  return stamp;
}

}  // namespace

void Log(int32_t level, std::string_view source, std::string_view text) {
  const TimeStamp now = Now();
  const char* const stamp = now.text;
  thread_local std::string line;  // its buffer serves every line of the thread
  line.clear();
  line.append(stamp).append(" ").append(LogLevelName(level)).append(" ");
  line.append(source).append(source.size() < 6 ? 7 - source.size() : 1, ' ');
  line.append(text);
  if (line.back() != '\n') {
    line.push_back('\n');
  }
  Tell({stamp, level, source, text.ends_with('\n') ? text.substr(0, text.size() - 1) : text});
  Writer().Append(line, source != "plugin");
}

void FaultLog::Report(std::string_view kind, std::string_view line) {
  std::lock_guard lock(mutex_);
  ++reports_;
  if (kinds_.emplace(kind).second) {
    HostLog(LogLevel::Warn, line);
  }
}

std::size_t FaultLog::Clear() {
  std::lock_guard lock(mutex_);
  kinds_.clear();
  return std::exchange(reports_, 0);
}

}  // namespace VexaHost
