// Logging from several threads at once: first creation of the manager, reference counting,
// and targets attached and detached while others log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log.h"
#include "log_test_support.h"

namespace Vexa::Testing {
namespace {

// Copies each line into one shared text a character at a time, yielding now and then. The
// text has no lock of its own: only the log's serialisation keeps lines of different
// threads from interleaving in it.
class SlowJournalTarget : public LogTarget {
 public:
  SlowJournalTarget() { RouteWriteEntryToWrite(); }
  ~SlowJournalTarget() override { Detach(); }

  bool Write(const LogRecord& record) override {
    char line[kLogBufferSize];
    const size_t length = FormatLine(line, sizeof line, LineTemplate(record), &record);
    for (size_t index = 0; index < length; ++index) {
      journal_.push_back(line[index]);
      if (index % 8 == 0) {
        std::this_thread::yield();
      }
    }
    return true;
  }

  const std::string& Journal() const { return journal_; }

 private:
  std::string journal_;
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(LogManagerRaceTest, ThreadsCreatingAtTheSameMomentShareOneManager) {
  LogManager::Init();
  LogManager::Shutdown();
  ASSERT_EQ(LogManager::Instance(), nullptr);
  constexpr size_t kThreads = 8;
  std::vector<LogManager*> seen(kThreads, nullptr);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (size_t thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      start.arrive_and_wait();
      seen[thread] = LogManager::Obtain();  // what the first Log of a thread does
      LogManager::Init();
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(LogManager::ReferenceCount(), static_cast<int32_t>(kThreads));
  EXPECT_EQ(std::set<LogManager*>(seen.begin(), seen.end()).size(), 1u);
  EXPECT_NE(seen[0], nullptr);

  threads.clear();
  std::latch stop(kThreads);
  for (size_t thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&] {
      stop.arrive_and_wait();
      LogManager::Shutdown();
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(LogManager::ReferenceCount(), 0);
  EXPECT_EQ(LogManager::Instance(), nullptr);
}

using LogConcurrencyTest = LogManagerTest;

TEST_F(LogConcurrencyTest, LinesNeverInterleaveWhileTargetsComeAndGo) {
  SlowJournalTarget journal;
  journal.Configure({kLevelOkay, 0, 0, "#T #M"});
  RecordingTarget comingAndGoing;
  constexpr int kLoggers = 4;
  constexpr int kMessagesPerLogger = 300;
  std::atomic<bool> logging{true};
  std::latch start(kLoggers + 1);

  std::thread churn([&] {
    start.arrive_and_wait();
    for (int round = 0; logging.load(); ++round) {
      if (round % 2 == 0) {
        comingAndGoing.Configure({kLevelOkay, 0, 0, "#M"});
      } else {
        comingAndGoing.Detach();
      }
    }
  });
  std::vector<std::thread> loggers;
  for (int logger = 0; logger < kLoggers; ++logger) {
    loggers.emplace_back([&, logger] {
      start.arrive_and_wait();
      for (int message = 0; message < kMessagesPerLogger; ++message) {
        Log(kLevelError, kGroupDebug, "logger %d message %d end", logger, message);
      }
    });
  }
  for (std::thread& thread : loggers) {
    thread.join();
  }
  logging = false;
  churn.join();

  const std::vector<std::string> lines = SplitLines(journal.Journal());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kLoggers * kMessagesPerLogger));
  const std::regex whole("[0-9A-F]{8} logger [0-9] message [0-9]+ end");
  std::set<std::string> distinct;
  for (const std::string& line : lines) {
    ASSERT_TRUE(std::regex_match(line, whole)) << line;
    distinct.insert(line.substr(9));
  }
  EXPECT_EQ(distinct.size(), lines.size());
  for (const std::string& message : comingAndGoing.Messages()) {
    ASSERT_TRUE(std::regex_match(message, std::regex("logger [0-9] message [0-9]+ end")));
  }
}

}  // namespace
}  // namespace Vexa::Testing
