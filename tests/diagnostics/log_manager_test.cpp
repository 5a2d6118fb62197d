// The log manager behind Log and its C tables: life cycle, global and per-target filters,
// the built-in console targets, attaching and configuring targets; assertion reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/assertion.h"
#include "diagnostics/console_targets.h"
#include "diagnostics/log.h"
#include "diagnostics/log_api.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"
#include "diagnostics/log_target.h"
#include "platform/clock.h"
#include "platform/process.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace Vexa::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Keeps the line that its template renders for every record it is handed, copied a byte at a
// time with a yield in between and no lock of its own: only the manager's serialisation keeps
// the lines of different threads apart. Its type name is settable, so that it can stand in for
// a target looked up by name; with a journal it notes its name there when it detaches.
class RecordingTarget : public LogTarget {
 public:
  explicit RecordingTarget(std::string typeName = "RecordingTarget", std::string* journal = nullptr)
      : typeName_(std::move(typeName)), journal_(journal) {
    RouteWriteEntryToWrite();
  }
  ~RecordingTarget() override { Detach(); }

  const char* TypeName() const override { return typeName_.c_str(); }

  void Detach() override {
    if (journal_ != nullptr && IsAttached()) {
      *journal_ += typeName_;
    }
    LogTarget::Detach();
  }

  bool Write(const LogRecord& record) override {
    char line[2 * kLogBufferSize];  // larger than the log's own, to show whole messages
    FormatLine(line, sizeof line, LineTemplate(record), &record);
    lines_.emplace_back();
    for (const char* byte = line; *byte != '\0'; ++byte) {
      lines_.back() += *byte;
      std::this_thread::yield();
    }
    return true;
  }

  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::string typeName_;
  std::string* journal_;
  std::vector<std::string> lines_;
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
    Manager().StdErrTarget().Detach();
    Manager().DebuggerTarget().Detach();
  }

  void TearDown() override {
    while (LogManager::ReferenceCount() > 0) {
      LogManager::Shutdown();
    }
  }

  static LogManager& Manager() { return *LogManager::Instance(); }
};

// The tables are C seams: entries sit at fixed positions.
constexpr size_t kEntry = sizeof(void (*)());
static_assert(sizeof(LogApi) == 26 * kEntry && offsetof(LogApi, addTarget) == 11 * kEntry &&
              offsetof(LogApi, log) == 25 * kEntry);
static_assert(sizeof(LogTargetInterface) == 12 * kEntry &&
              offsetof(LogTargetInterface, attach) == 8 * kEntry &&
              offsetof(LogTargetInterface, write) == 11 * kEntry);

const LogApi& api = *GetLogApi();

// A target's settings as its C table answers them: type name, template, level, groups.
std::string Settings(LogTargetInterface* t) {
  return std::string(t->getTypeName(t)) + " '" + t->getLineTemplate(t, nullptr) + "' " +
         std::to_string(t->getLevel(t)) + " " + std::to_string(t->getEnabledGroups(t)) + " " +
         std::to_string(t->getDisabledGroups(t));
}

// A target that never routed its write entry to Write.
class UnroutedTarget : public LogTarget {
 public:
  bool Write(const LogRecord&) override { return true; }
};

TEST(LogManagerCreationTest, DefaultsAndBuiltInTargets) {
  LogManager::Init();
  LogManager::Shutdown();  // drops any manager left by earlier logging
  LogManager::Init();
  LogManager& manager = *LogManager::Instance();
  EXPECT_THAT(manager.Targets(), ElementsAre(manager.StdErrTarget().Interface(),
                                             manager.DebuggerTarget().Interface()));
  EXPECT_EQ(api.version(), 1);
  EXPECT_EQ(api.getLevel(), kLevelWarn);
  EXPECT_EQ(api.getMutedGroups(), kGroupExtra);
  EXPECT_EQ(api.moduleName(), Platform::FileNamePart(Platform::ExecutablePath()));
  EXPECT_EQ(Settings(api.stdErrTarget()), "StdErrLogTarget '#E(#T): #L| #M' 1 1 2");
  EXPECT_EQ(Settings(api.stdOutTarget()), "StdOutLogTarget '#M' 1 2 1");
  EXPECT_EQ(Settings(api.debuggerTarget()), "DebuggerConsoleLogTarget '#E(#T): #L| #M' 1 1 0");
  EXPECT_FALSE(manager.StdOutTarget().FlushEachLine());
  manager.StdErrTarget().Detach();  // before shutdown prints anything
  manager.DebuggerTarget().Detach();
  LogManager::Shutdown();
}

using LogApiTest = LogManagerTest;

TEST_F(LogApiTest, ReferencesAndTheManagersLifeCycle) {
  std::string journal;
  RecordingTarget first("1", &journal), second("2", &journal), third("3", &journal);
  first.Attach();
  second.Attach();
  third.Attach();
  api.init();
  api.shutdown();  // above 1, shutdown only decrements
  EXPECT_NE(LogManager::Instance(), nullptr);
  api.shutdown();
  api.shutdown();  // without a reference to drop, nothing happens
  EXPECT_EQ(LogManager::ReferenceCount(), 0);
  EXPECT_EQ(journal, "321");  // every target detached, last first
  api.setLevel(kLevelOkay);
  EXPECT_EQ(api.getLevel(), 0);
  EXPECT_EQ(api.stdOutTarget(), nullptr);
  EXPECT_STREQ(api.moduleName(), "<unknown>");
  char line[16];
  const LogRecord record{};
  FormatLine(line, sizeof line, "#E", &record);
  EXPECT_STREQ(line, "<unknown>\n");
  Log(kLevelOkay, 0, "creates a fresh manager");
  ASSERT_NE(LogManager::Instance(), nullptr);
  api.init();  // lets the fixture's teardown destroy it
  EXPECT_EQ(LogManager::ReferenceCount(), 1);
  LogRecord now{};
  api.localTime(&now);
  const LocalTime local = Platform::CurrentLocalTime();
  EXPECT_EQ(std::vector({now.year, now.month, now.day}),
            std::vector({local.year, local.month, local.day}));
}

TEST_F(LogApiTest, AddAppendsEveryTimeRemoveTakesEveryOccurrenceFindMatchesExactly) {
  RecordingTarget target("PluginLogTarget");
  target.Configure({kLevelOkay, 0, 0, "#L #G #M"});
  target.Detach();
  LogTargetInterface incomplete = *target.Interface();
  incomplete.write = nullptr;
  api.addTarget(&incomplete);
  api.addTarget(target.Interface());
  api.addTarget(target.Interface());
  EXPECT_EQ(api.findTarget("PluginLogTarget"), target.Interface());
  EXPECT_EQ(api.findTarget("PluginLog"), nullptr);
  Log(kLevelError, kGroupNetwork, "%s:%d", "host", 443);
  api.removeTarget(target.Interface());
  Log(kLevelError, 0, "never");
  EXPECT_THAT(target.Lines(), ElementsAre(" ERROR NET host:443\n", " ERROR NET host:443\n"));
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

TEST_F(LogApiTest, GlobalFiltersDropMessagesBeforeTheTargets) {
  RecordingTarget target;
  target.Configure({kLevelOkay, 0, 0, "#M"});
  Log(kLevelOkay, kGroupDebug, "dropped at the default level");
  api.setLevel(kLevelOkay);
  Log(kLevelOkay, kGroupDebug, "okay");
  Log(kLevelAlways, kGroupExtra | kGroupDebug, "muted");
  api.suppress();
  Log(kLevelAlways, 0, "suppressed");
  api.resume();
  api.setMutedGroups(0);
  api.setLevel(-1);  // levels compare signed
  Log(-2, kGroupExtra, "below");
  Log(kLevelOkay, kGroupExtra, "above");
  Log(kLevelOkay, 0, "%s", std::string(6000, 'x').c_str());
  EXPECT_THAT(target.Lines(), ElementsAre("okay\n", "above\n", std::string(4095, 'x') + "\n"));
}

// Formats of plain "%s" conversions skip printf's machinery; the line is printf's all the same.
TEST_F(LogApiTest, PlainTextFormatsWriteWhatPrintfWrites) {
  RecordingTarget target;
  target.Configure({kLevelOkay, 0, 0, "#M"});
  api.setLevel(kLevelOkay);
  Log(kLevelOkay, 0, "%s: Preparing %s.", "mdl", "svc.get");
  Log(kLevelOkay, 0, "100%% of %s%s", "", "x");
  Log(kLevelOkay, 0, "%s %d%%", "n", 5);
  Log(kLevelOkay, 0, "%s%s", std::string(4000, 'a').c_str(), std::string(200, 'b').c_str());
  EXPECT_THAT(target.Lines(), ElementsAre("mdl: Preparing svc.get.\n", "100% of x\n", "n 5%\n",
                                          std::string(4000, 'a') + std::string(95, 'b') + "\n"));
}

TEST_F(LogApiTest, TargetFiltersOnLevelAndGroupsAndEmptyMasksPassThem) {
  RecordingTarget target;
  target.Configure({kLevelError, kGroupDebug | kGroupNetwork, kGroupDisk, "#M"});
  Log(kLevelWarn, 0, "below the target's level");
  Log(kLevelError, 0, "no groups");
  Log(kLevelError, kGroupNetwork, "network");
  Log(kLevelError, kGroupGeneral, "general");
  Log(kLevelError, kGroupNetwork | kGroupDisk, "disabled wins");
  EXPECT_THAT(target.Lines(), ElementsAre("no groups\n", "network\n"));
}

using LogTargetTest = LogManagerTest;

TEST_F(LogTargetTest, InterfaceEntriesReachTheirTarget) {
  RecordingTarget target("Recorder");
  LogTargetInterface* table = target.Interface();
  EXPECT_EQ(table->version(), 1);
  EXPECT_EQ(Settings(table), "Recorder '#D| #L| #G| #M' 1 0 0");
  table->setLevel(table, kLevelAlways);
  table->setGroups(table, kGroupDebug | kGroupNetwork | kGroupDisk, kGroupNetwork);
  EXPECT_EQ(Settings(table), "Recorder '#D| #L| #G| #M' 3 33 64");
  table->attach(table);
  table->attach(table);
  EXPECT_THAT(Manager().Targets(), ElementsAre(table));
  table->detach(table);
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

TEST_F(LogTargetTest, PlainTargetWritesNothing) {
  UnroutedTarget plain;
  const LogRecord record{};
  EXPECT_FALSE(plain.Interface()->write(plain.Interface(), &record));
  EXPECT_STREQ(plain.TypeName(), "LogTarget");
}

TEST_F(LogTargetTest, ConfigureMovesTheTargetToTheEndAndAppliesEverySetting) {
  RecordingTarget first("first");
  RecordingTarget second("second");
  first.Attach();
  second.Attach();
  first.Configure({kLevelError, kGroupDebug | kGroupNetwork, kGroupNetwork, "#L #M"});
  EXPECT_THAT(Manager().Targets(), ElementsAre(second.Interface(), first.Interface()));
  EXPECT_EQ(first.EnabledGroups(), kGroupDebug);
  Log(kLevelWarn, kGroupDebug, "below");
  Log(kLevelError, kGroupDebug, "configured");
  EXPECT_THAT(first.Lines(), ElementsAre(" ERROR configured\n"));
}

TEST_F(LogTargetTest, LinesOfDifferentThreadsNeverInterleave) {
  RecordingTarget target;
  target.Configure({kLevelOkay, 0, 0, "#M"});
  std::vector<std::thread> loggers;
  for (const char letter : std::string("abcd")) {
    loggers.emplace_back([letter] {
      for (int message = 0; message < 200; ++message) {
        Log(kLevelError, kGroupDebug, "%s", std::string(8, letter).c_str());
      }
    });
  }
  for (std::thread& logger : loggers) {
    logger.join();
  }
  ASSERT_EQ(target.Lines().size(), 800u);
  for (const std::string& line : target.Lines()) {
    ASSERT_EQ(line, std::string(8, line[0]) + "\n");
  }
}

TEST(AssertionReportTest, AbsentFieldsAreLeftOutAndTheRestKeepTheirLayout) {
  const std::pair<AssertionFields, std::string> cases[] = {
      {{}, "Assertion failed!\n\n"},
      {{"", "", "", 0, ""}, "Assertion failed!\n\n"},
      {{nullptr, nullptr, "loader", 12, nullptr},
       "Assertion failed!\n\nFile: loader\nLine: 12\n\n"},
      {{nullptr, nullptr, nullptr, -5, nullptr}, "Assertion failed!\n\nLine: -5\n\n"},
      {{nullptr, "d", nullptr, 0, nullptr}, "Assertion failed!\n\n\n\nDescription: d"},
      {{"count > 0", "no items", "queue.cpp", 40, "Pop"},
       "Assertion failed!\n\nFile: queue.cpp\nLine: 40\n\nFunction: Pop\n\n"
       "Expression: count > 0\n\nDescription: no items"},
  };
  for (const auto& [fields, text] : cases) {
    char buffer[kLogBufferSize];
    EXPECT_EQ(FormatAssertionReport(buffer, sizeof buffer, fields), text.size());
    EXPECT_EQ(buffer, text);
  }
}

// The report reaches the log as data: conversion specifiers in caller text stay as they are.
TEST_F(LogApiTest, AssertionReportIsLoggedVerbatimAsAnErrorInTheDebugGroup) {
  RecordingTarget target;
  target.Configure({kLevelWarn, kGroupDebug, kGroupGeneral, "#L| #G| #M"});
  ReportAssertion("ALE-00000001", "100%s done %n", nullptr, 0, nullptr);
  EXPECT_THAT(target.Lines(), ElementsAre(" ERROR| DBG| Assertion failed!\n\n"
                                          "Expression: ALE-00000001\n\n"
                                          "Description: 100%s done %n\n"));
}

// A fatal error right after the system refused access to something. Windows has no signals to
// die of: the C runtime's abort ends the process with exit code 3.
#if defined(_WIN32)
constexpr int kAccessDenied = ERROR_ACCESS_DENIED;
const auto kAborted = ::testing::ExitedWithCode(3);
void FatalAfterAccessDenied() {
  SetLastError(ERROR_ACCESS_DENIED);
  FatalError("ALE-EECF0606", "plugin API 17.0.0 is not 18.0.0");
}
#else
constexpr int kAccessDenied = EACCES;
const auto kAborted = ::testing::KilledBySignal(SIGABRT);
void FatalAfterAccessDenied() {
  errno = EACCES;
  FatalError("ALE-EECF0606", "plugin API 17.0.0 is not 18.0.0");
}
#endif

// The report goes to standard error before the abort, and what the system last reported to the
// thread follows it on a line of its own.
TEST(FatalErrorDeathTest, AbortsAfterWritingTheReportAndTheThreadsLastSystemError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FatalAfterAccessDenied(), kAborted,
              "ERROR\\| Assertion failed!\n\nExpression: ALE-EECF0606\n\n"
              "Description: plugin API 17\\.0\\.0 is not 18\\.0\\.0\n"
              ".*Last system error: " +
                  std::to_string(kAccessDenied) + "\n");
}

}  // namespace
}  // namespace Vexa::Testing
