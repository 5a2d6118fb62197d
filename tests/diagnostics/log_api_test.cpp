// The C tables: the manager's LogApi and each target's LogTargetInterface, the manager's
// life cycle behind them, and Configure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "diagnostics/console_targets.h"
#include "diagnostics/log.h"
#include "diagnostics/log_api.h"
#include "log_test_support.h"
#include "platform/process.h"

namespace Vexa::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The tables are C seams: entries sit at fixed positions.
static_assert(sizeof(LogApi) == 26 * sizeof(void (*)()));
static_assert(offsetof(LogApi, addTarget) == 11 * sizeof(void (*)()));
static_assert(offsetof(LogApi, log) == 25 * sizeof(void (*)()));
static_assert(sizeof(LogTargetInterface) == 12 * sizeof(void (*)()));
static_assert(offsetof(LogTargetInterface, attach) == 8 * sizeof(void (*)()));
static_assert(offsetof(LogTargetInterface, write) == 11 * sizeof(void (*)()));

const LogApi& Api() {
  return *GetLogApi();
}

// Records the order in which targets detach.
class DetachJournalTarget : public RecordingTarget {
 public:
  DetachJournalTarget(std::string name, std::vector<std::string>& journal)
      : RecordingTarget(std::move(name)), journal_(journal) {}
  void Detach() override {
    if (IsAttached()) {
      journal_.push_back(TypeName());
    }
    RecordingTarget::Detach();
  }

 private:
  std::vector<std::string>& journal_;
};

// A target that never routed its write entry to Write.
class UnroutedTarget : public LogTarget {
 public:
  bool Write(const LogRecord&) override {
    ++writes;
    return true;
  }
  int writes = 0;
};

void LogThroughApi(LogLevel level, LogGroups groups, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Api().log(level, groups, format, arguments);
  va_end(arguments);
}

using LogApiTest = LogManagerTest;

TEST_F(LogApiTest, GlobalSwitchesRoundTrip) {
  EXPECT_EQ(Api().version(), 1);
  EXPECT_EQ(Api().getLevel(), kLevelWarn);
  EXPECT_EQ(Api().getMutedGroups(), kGroupExtra);
  Api().setLevel(kLevelAlways);
  Api().setMutedGroups(kGroupDisk | kGroupMemory);
  EXPECT_EQ(Manager().Level(), kLevelAlways);
  EXPECT_EQ(Manager().MutedGroups(), kGroupDisk | kGroupMemory);
  Api().suppress();
  EXPECT_TRUE(Manager().IsSuppressed());
  Api().resume();
  EXPECT_FALSE(Manager().IsSuppressed());
  Api().setReservedSwitch();
  EXPECT_TRUE(Manager().ReservedSwitch());
  Api().clearReservedSwitch();
  EXPECT_FALSE(Manager().ReservedSwitch());
}

TEST_F(LogApiTest, BuiltInTargetsHaveTheirSettings) {
  struct Expected {
    LogTargetInterface* target;
    const char* typeName;
    const char* lineTemplate;
    LogGroups enabled;
    LogGroups disabled;
  };
  const Expected expected[] = {
      {Api().stdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", kGroupDebug, kGroupGeneral},
      {Api().stdOutTarget(), "StdOutLogTarget", "#M", kGroupGeneral, kGroupDebug},
      {Api().debuggerTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kGroupDebug, 0},
  };
  for (const Expected& target : expected) {
    SCOPED_TRACE(target.typeName);
    ASSERT_NE(target.target, nullptr);
    EXPECT_STREQ(target.target->getTypeName(target.target), target.typeName);
    EXPECT_STREQ(target.target->getLineTemplate(target.target, nullptr), target.lineTemplate);
    EXPECT_EQ(target.target->getLevel(target.target), kLevelWarn);
    EXPECT_EQ(target.target->getEnabledGroups(target.target), target.enabled);
    EXPECT_EQ(target.target->getDisabledGroups(target.target), target.disabled);
  }
  EXPECT_FALSE(Manager().StdOutTarget().FlushEachLine());
}

TEST(LogManagerCreationTest, AttachesStdErrThenDebugger) {
  LogManager::Init();
  LogManager::Shutdown();  // drops any manager left by earlier logging
  LogManager::Init();
  LogManager* manager = LogManager::Instance();
  ASSERT_NE(manager, nullptr);
  EXPECT_THAT(manager->Targets(), ElementsAre(manager->StdErrTarget().Interface(),
                                              manager->DebuggerTarget().Interface()));
  EXPECT_FALSE(manager->StdOutTarget().IsAttached());
  EXPECT_EQ(std::string(Api().moduleName()),
            std::string(Platform::FileNamePart(Platform::ExecutablePath())));
  // Detach before shutdown prints anything.
  manager->StdErrTarget().Detach();
  manager->DebuggerTarget().Detach();
  LogManager::Shutdown();
}

TEST_F(LogApiTest, ShutdownAboveOneOnlyDecrements) {
  LogManager* manager = LogManager::Instance();
  Api().init();
  EXPECT_EQ(LogManager::ReferenceCount(), 2);
  Api().shutdown();
  EXPECT_EQ(LogManager::ReferenceCount(), 1);
  EXPECT_EQ(LogManager::Instance(), manager);
  Api().shutdown();
  EXPECT_EQ(LogManager::Instance(), nullptr);
}

TEST_F(LogApiTest, UnmatchedShutdownDoesNotUnbalanceTheCount) {
  Api().shutdown();
  Api().shutdown();
  EXPECT_EQ(LogManager::ReferenceCount(), 0);
  Api().init();
  EXPECT_EQ(LogManager::ReferenceCount(), 1);
  EXPECT_NE(LogManager::Instance(), nullptr);
}

TEST_F(LogApiTest, EntriesWithoutManagerAnswerDefaults) {
  Api().shutdown();
  ASSERT_EQ(LogManager::Instance(), nullptr);
  Api().setLevel(kLevelOkay);
  EXPECT_EQ(Api().getLevel(), 0);
  EXPECT_EQ(Api().findTarget("StdErrLogTarget"), nullptr);
  EXPECT_EQ(Api().stdOutTarget(), nullptr);
  EXPECT_STREQ(Api().moduleName(), "<unknown>");
  EXPECT_EQ(LogManager::Instance(), nullptr);
}

TEST_F(LogApiTest, LogAfterFinalShutdownCreatesAFreshManager) {
  Manager().SetLevel(kLevelAlways);
  Api().shutdown();
  LogManager* fresh = LogManager::Obtain();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Level(), kLevelWarn);
  EXPECT_EQ(LogManager::ReferenceCount(), 0);
  Api().init();  // keeps it, and lets the fixture's teardown destroy it
  EXPECT_EQ(LogManager::Instance(), fresh);
}

TEST_F(LogApiTest, ShutdownDetachesEveryTargetLastFirst) {
  std::vector<std::string> journal;
  DetachJournalTarget first("first", journal);
  DetachJournalTarget second("second", journal);
  DetachJournalTarget third("third", journal);
  first.Attach();
  second.Attach();
  third.Attach();

  Api().shutdown();

  EXPECT_THAT(journal, ElementsAre("third", "second", "first"));
  EXPECT_FALSE(first.IsAttached());
  EXPECT_FALSE(third.IsAttached());
}

TEST_F(LogApiTest, AddTargetAppendsEveryTimeAndRemoveTakesEveryOccurrence) {
  RecordingTarget target;
  target.SetLevel(kLevelOkay);
  Api().addTarget(target.Interface());
  Api().addTarget(target.Interface());
  Log(kLevelError, 0, "twice");
  Api().removeTarget(target.Interface());
  Log(kLevelError, 0, "never");

  EXPECT_THAT(target.Messages(), ElementsAre("twice", "twice"));
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

TEST_F(LogApiTest, AddTargetIgnoresIncompleteTables) {
  RecordingTarget target;
  LogTargetInterface incomplete = *target.Interface();
  incomplete.write = nullptr;
  Api().addTarget(&incomplete);
  Api().addTarget(nullptr);
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

TEST_F(LogApiTest, FindTargetMatchesTheTypeNameExactly) {
  RecordingTarget plugin("PluginLogTarget");
  plugin.Attach();
  EXPECT_EQ(Api().findTarget("PluginLogTarget"), plugin.Interface());
  EXPECT_EQ(Api().findTarget("pluginlogtarget"), nullptr);
  EXPECT_EQ(Api().findTarget("PluginLog"), nullptr);
  EXPECT_EQ(Api().findTarget(nullptr), nullptr);
  plugin.Detach();
  EXPECT_EQ(Api().findTarget("PluginLogTarget"), nullptr);
}

TEST_F(LogApiTest, LogEntryTakesAnArgumentList) {
  RecordingTarget target;
  AttachAcceptingAll(target);
  LogThroughApi(kLevelError, kGroupNetwork, "%s:%d", "host", 443);
  EXPECT_THAT(target.Messages(), ElementsAre("host:443"));
}

TEST_F(LogApiTest, HelpersAnswerThroughTheTable) {
  EXPECT_STREQ(Api().levelName(kLevelAlways), "ALWAYS");
  EXPECT_EQ(Api().registerGroup("LOCAL"), LogGroups{1} << 8);
  LogRecord record{};
  Api().localTime(&record);
  EXPECT_GE(record.year, 2024);
  EXPECT_GE(record.month, 1);
  EXPECT_LE(record.month, 12);
  record.groups = kGroupDisk | kGroupTest;
  record.message = "m";
  char text[64];
  Api().formatLine(text, sizeof text, "#G #M", &record);
  EXPECT_STREQ(text, "DSK;TST m\n");
  Api().fileTimeStamp(text, 5, &record);
  EXPECT_EQ(std::to_string(record.year), text);
}

using LogTargetInterfaceTest = LogManagerTest;

TEST_F(LogTargetInterfaceTest, EntriesReachTheirTarget) {
  RecordingTarget target("Recorder");
  LogTargetInterface* table = target.Interface();

  EXPECT_EQ(table->version(), 1);
  table->setLevel(table, kLevelAlways);
  EXPECT_EQ(target.Level(), kLevelAlways);
  EXPECT_EQ(table->getLevel(table), kLevelAlways);
  EXPECT_STREQ(table->getTypeName(table), "Recorder");
  EXPECT_STREQ(table->getLineTemplate(table, nullptr), "#D| #L| #G| #M");

  table->attach(table);
  table->attach(table);
  EXPECT_TRUE(table->isAttached(table));
  EXPECT_THAT(Manager().Targets(), ElementsAre(table));
  table->detach(table);
  EXPECT_FALSE(target.IsAttached());
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

TEST_F(LogTargetInterfaceTest, SetGroupsKeepsDisabledOutOfEnabled) {
  RecordingTarget target;
  LogTargetInterface* table = target.Interface();
  table->setGroups(table, kGroupDebug | kGroupNetwork | kGroupDisk, kGroupNetwork);
  EXPECT_EQ(table->getEnabledGroups(table), kGroupDebug | kGroupDisk);
  EXPECT_EQ(table->getDisabledGroups(table), kGroupNetwork);
}

TEST_F(LogTargetInterfaceTest, WriteEntryOfAPlainTargetWritesNothing) {
  UnroutedTarget target;
  const LogRecord record{};
  EXPECT_FALSE(target.Interface()->write(target.Interface(), &record));
  EXPECT_EQ(target.writes, 0);

  RecordingTarget routed;
  EXPECT_TRUE(routed.Interface()->write(routed.Interface(), &record));
  EXPECT_EQ(routed.Received().size(), 1u);
}

TEST_F(LogTargetInterfaceTest, ConsoleTargetDetachesWhenDestroyed) {
  {
    StdErrLogTarget local;
    local.Configure({kLevelAlways, 0, ~LogGroups{0}, "#M"});
    ASSERT_EQ(Manager().Targets().size(), 1u);
  }
  EXPECT_THAT(Manager().Targets(), IsEmpty());
}

using ConfigureTest = LogManagerTest;

TEST_F(ConfigureTest, MovesTheTargetToTheEndAndAppliesEverySetting) {
  RecordingTarget first("first");
  RecordingTarget second("second");
  first.Attach();
  second.Attach();

  first.Configure({kLevelError, kGroupDebug | kGroupNetwork, kGroupNetwork, "#L #M"});

  EXPECT_THAT(Manager().Targets(), ElementsAre(second.Interface(), first.Interface()));
  EXPECT_EQ(first.Level(), kLevelError);
  EXPECT_EQ(first.EnabledGroups(), kGroupDebug);
  EXPECT_EQ(first.DisabledGroups(), kGroupNetwork);
  Log(kLevelError, kGroupDebug, "configured");
  EXPECT_THAT(first.Lines(), ElementsAre(" ERROR configured\n"));
}

}  // namespace
}  // namespace Vexa::Testing
