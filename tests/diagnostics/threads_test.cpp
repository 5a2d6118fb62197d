// Diagnostics under several threads: the log manager while threads log and another attaches,
// detaches, configures and changes the level; the sequence checker's report of a second thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/log_manager.h"
#include "diagnostics/log_target.h"
#include "diagnostics/sequence_checker.h"
#include "platform/process.h"

namespace Vexa {
namespace {

// Keeps every message it is handed; no lock of its own: the manager's serialises its writes.
class MessageTarget final : public LogTarget {
 public:
  MessageTarget() { RouteWriteEntryToWrite(); }
  ~MessageTarget() override { Detach(); }
  bool Write(const LogRecord& record) override {
    messages.emplace_back(record.message);
    return true;
  }
  std::vector<std::string> messages;
};

// A manager of its own for each test, the console targets detached so that the tests stay quiet.
class DiagnosticsThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    LogManager::Init();
    LogManager::Shutdown();
    LogManager::Init();
    LogManager::Instance()->StdErrTarget().Detach();
    LogManager::Instance()->DebuggerTarget().Detach();
  }
  void TearDown() override {
    while (LogManager::ReferenceCount() > 0) {
      LogManager::Shutdown();
    }
  }
};

TEST_F(DiagnosticsThreads, LoggersMissNothingWhileTargetsAndLevelsChange) {
  constexpr int kMessages = 1500;
  MessageTarget steady;
  steady.Configure({kLevelOkay, 0, 0, "#M"});
  MessageTarget moving;
  // The loggers and the changes begin together, and the changes go on while anyone logs.
  std::latch start(3);
  std::atomic<int> logging{2};
  const auto logger = [&](const char* text) {
    start.arrive_and_wait();
    for (int message = 0; message < kMessages; ++message) {
      Log(kLevelError, kGroupDebug, "%s", text);
    }
    --logging;
  };
  std::thread first(logger, "aaaa");
  std::thread second(logger, "bbbb");
  start.arrive_and_wait();
  for (int change = 0; change < 2 * kMessages && logging > 0; ++change) {
    moving.Configure({change % 2 == 0 ? kLevelOkay : kLevelError, kGroupDebug, 0, "#M"});
    LogManager::Instance()->SetLevel(change % 2 == 0 ? kLevelWarn : kLevelOkay);
    moving.Detach();
    moving.Attach();
  }
  first.join();
  second.join();
  ASSERT_EQ(steady.messages.size(), 2u * kMessages);
  EXPECT_THAT(steady.messages, ::testing::Each(::testing::AnyOf("aaaa", "bbbb")));
  EXPECT_THAT(moving.messages, ::testing::Each(::testing::AnyOf("aaaa", "bbbb")));
}

TEST_F(DiagnosticsThreads, SequenceCheckerReportsAnotherThreadUntilDetached) {
  MessageTarget reports;
  reports.Configure({kLevelOkay, 0, 0, "#M"});
  SequenceCheckerImpl sequence;
  EXPECT_TRUE(sequence.Check());  // binds this thread
  EXPECT_TRUE(sequence.Check());
  bool otherThread = true;
  uint32_t otherId = 0;
  std::thread([&] {
    otherId = Platform::CurrentThreadId();
    otherThread = sequence.Check();
  }).join();
  EXPECT_FALSE(otherThread);
  ASSERT_EQ(reports.messages.size(), 1u);
  char description[96];
  std::snprintf(description, sizeof description,
                "Description: thread %08X entered a sequence bound to thread %08X", otherId,
                Platform::CurrentThreadId());
  EXPECT_THAT(reports.messages[0], ::testing::StartsWith("Assertion failed!\n\nFile: "));
  EXPECT_THAT(reports.messages[0], ::testing::HasSubstr("threads_test.cpp\nLine: "));
  EXPECT_THAT(
      reports.messages[0],
      ::testing::EndsWith("\n\nExpression: called on its sequence\n\n" + std::string(description)));
  sequence.Detach();
  std::thread([&] { otherThread = sequence.Check(); }).join();  // binds the other thread
  EXPECT_TRUE(otherThread);
  EXPECT_FALSE(sequence.Check());
  EXPECT_EQ(reports.messages.size(), 2u);
}

}  // namespace
}  // namespace Vexa
