// Which messages reach which targets: the global filters, each target's own filters, and
// the console targets the manager is built with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "log_test_support.h"
#include "platform/process.h"

namespace Vexa::Testing {
namespace {

using ::testing::ElementsAre;

using LogFilteringTest = LogManagerTest;

TEST_F(LogFilteringTest, OkayIsDroppedUntilTheGlobalLevelIsLowered) {
  RecordingTarget target;
  AttachAcceptingAll(target);

  Log(kLevelOkay, kGroupDebug, "quiet");
  Manager().SetLevel(kLevelOkay);
  Log(kLevelOkay, kGroupDebug, "heard");

  EXPECT_THAT(target.Messages(), ElementsAre("heard"));
}

TEST_F(LogFilteringTest, GlobalLevelComparesSigned) {
  RecordingTarget target;
  target.Configure({-5, 0, 0, "#M"});
  Manager().SetLevel(-1);

  Log(-2, 0, "below");
  Log(-1, 0, "at");

  EXPECT_THAT(target.Messages(), ElementsAre("at"));
}

TEST_F(LogFilteringTest, MutedGroupIsDroppedWhateverTargetsSay) {
  RecordingTarget target;
  target.Configure({kLevelOkay, kGroupExtra, 0, "#M"});

  Log(kLevelAlways, kGroupExtra, "muted");
  Log(kLevelAlways, kGroupExtra | kGroupDebug, "also muted");
  Manager().SetMutedGroups(0);
  Log(kLevelAlways, kGroupExtra, "unmuted");

  EXPECT_THAT(target.Messages(), ElementsAre("unmuted"));
}

TEST_F(LogFilteringTest, SuppressDropsEverythingUntilResumed) {
  RecordingTarget target;
  AttachAcceptingAll(target);

  Manager().Suppress();
  Log(kLevelAlways, 0, "suppressed");
  Manager().Resume();
  Log(kLevelAlways, 0, "resumed");

  EXPECT_THAT(target.Messages(), ElementsAre("resumed"));
}

TEST_F(LogFilteringTest, TargetLevelDropsLowerLevels) {
  RecordingTarget target;
  target.Configure({kLevelError, 0, 0, "#M"});

  Log(kLevelWarn, 0, "warn");
  Log(kLevelError, 0, "error");
  Log(kLevelAlways, 0, "always");

  EXPECT_THAT(target.Messages(), ElementsAre("error", "always"));
}

TEST_F(LogFilteringTest, EnabledGroupsNeedASharedBitAndDisabledGroupsWin) {
  RecordingTarget target;
  target.Configure({kLevelOkay, kGroupDebug | kGroupNetwork, kGroupDisk, "#M"});

  Log(kLevelError, kGroupNetwork, "network");
  Log(kLevelError, kGroupGeneral, "general");
  Log(kLevelError, kGroupNetwork | kGroupDisk, "network and disk");
  Log(kLevelError, kGroupGeneral | kGroupDebug, "general and debug");

  EXPECT_THAT(target.Messages(), ElementsAre("network", "general and debug"));
}

TEST_F(LogFilteringTest, EmptyMaskPassesEveryGroupFilter) {
  RecordingTarget debugOnly;
  debugOnly.Configure({kLevelOkay, kGroupDebug, kGroupGeneral, "#M"});
  RecordingTarget nothingButDisabled;
  nothingButDisabled.Configure({kLevelOkay, 0, ~LogGroups{0}, "#M"});

  Log(kLevelError, 0, "no groups");

  EXPECT_THAT(debugOnly.Messages(), ElementsAre("no groups"));
  EXPECT_THAT(nothingButDisabled.Messages(), ElementsAre("no groups"));
}

TEST_F(LogFilteringTest, MessageIsCutToFitItsBuffer) {
  RecordingTarget target;
  AttachAcceptingAll(target);
  const std::string longText(6000, 'x');

  Log(kLevelError, 0, "%s", longText.c_str());

  ASSERT_EQ(target.Messages().size(), 1u);
  EXPECT_EQ(target.Messages()[0], std::string(kLogBufferSize - 1, 'x'));
}

// The console targets split the two everyday groups: "GEN" goes to standard output (once
// attached) and "DBG" to standard error.
TEST_F(LogFilteringTest, ConsoleTargetsSplitGeneralAndDebug) {
  Manager().StdErrTarget().Attach();
  Manager().StdOutTarget().Attach();

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Log(kLevelError, kGroupGeneral, "for people");
  Log(kLevelError, kGroupDebug, "for developers");
  Manager().StdOutTarget().Flush();
  const std::string standardError = ::testing::internal::GetCapturedStderr();
  const std::string standardOutput = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(standardOutput, "for people\n");
  const std::string module(Platform::FileNamePart(Platform::ExecutablePath()));
  char threadId[16];
  std::snprintf(threadId, sizeof threadId, "%08X", Platform::CurrentThreadId());
  EXPECT_EQ(standardError, module + "(" + threadId + "):  ERROR| for developers\n");
}

}  // namespace
}  // namespace Vexa::Testing
