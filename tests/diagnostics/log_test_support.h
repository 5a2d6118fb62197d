// Test helpers for the log: a target that keeps what it receives, and a fixture that gives
// each test a fresh manager with the console targets silenced.
//
//   TEST_F(LogManagerTest, Something) {
//     RecordingTarget target;
//     AttachAcceptingAll(target);
//     Vexa::Log(Vexa::kLevelError, 0, "%d", 7);
//     EXPECT_THAT(target.Messages(), ElementsAre("7"));
//   }
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"
#include "diagnostics/log_target.h"

namespace Vexa::Testing {

// One record as a target received it, with the line its template rendered.
struct ReceivedRecord {
  LogLevel level;
  LogGroups groups;
  std::string message;
  std::string line;
};

// Keeps every record it is handed. Its type name is settable, so it can stand in for a
// target that is looked up by name.
class RecordingTarget : public LogTarget {
 public:
  explicit RecordingTarget(std::string typeName = "RecordingTarget")
      : typeName_(std::move(typeName)) {
    RouteWriteEntryToWrite();
  }
  ~RecordingTarget() override { Detach(); }

  const char* TypeName() const override { return typeName_.c_str(); }

  bool Write(const LogRecord& record) override {
    char line[kLogBufferSize];
    FormatLine(line, sizeof line, LineTemplate(record), &record);
    std::lock_guard guard(mutex_);
    received_.push_back(
        {record.level, record.groups, record.message != nullptr ? record.message : "", line});
    return true;
  }

  std::vector<ReceivedRecord> Received() const {
    std::lock_guard guard(mutex_);
    return received_;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const ReceivedRecord& record : Received()) {
      messages.push_back(record.message);
    }
    return messages;
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const ReceivedRecord& record : Received()) {
      lines.push_back(record.line);
    }
    return lines;
  }

 private:
  std::string typeName_;
  mutable std::mutex mutex_;
  std::vector<ReceivedRecord> received_;
};

// Each test gets a manager of its own, created with the default settings, and gives it back
// at the end. The standard-error and debugger targets are detached so that tests stay
// quiet; a test that checks them attaches them again.
class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A manager that Log created earlier holds no reference; one balanced init and
    // shutdown destroys it, so the next init builds a fresh one.
    LogManager::Init();
    LogManager::Shutdown();
    LogManager::Init();
    manager_ = LogManager::Instance();
    ASSERT_NE(manager_, nullptr);
    manager_->StdErrTarget().Detach();
    manager_->DebuggerTarget().Detach();
  }

  void TearDown() override {
    while (LogManager::ReferenceCount() > 0) {
      LogManager::Shutdown();
    }
  }

  LogManager& Manager() { return *manager_; }

  // Configures `target` to accept every level and group, and attaches it.
  static void AttachAcceptingAll(LogTarget& target, const char* lineTemplate = "#M") {
    target.Configure({kLevelOkay, 0, 0, lineTemplate});
  }

 private:
  LogManager* manager_ = nullptr;
};

}  // namespace Vexa::Testing
