// The assertion report's text, how it is logged, and the fatal error that ends the process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "diagnostics/assertion.h"
#include "log_test_support.h"

namespace Vexa::Testing {
namespace {

using ::testing::ElementsAre;

std::string Report(const AssertionFields& fields) {
  char text[kLogBufferSize];
  const size_t length = FormatAssertionReport(text, sizeof text, fields);
  EXPECT_EQ(length, std::string(text).size());
  return text;
}

TEST(AssertionReportTest, AllFieldsAbsent) {
  EXPECT_EQ(Report({}), "Assertion failed!\n\n");
  EXPECT_EQ(Report({"", "", "", 0, ""}), "Assertion failed!\n\n");
}

TEST(AssertionReportTest, FileAndLineOnly) {
  EXPECT_EQ(Report({nullptr, nullptr, "loader", 12, nullptr}),
            "Assertion failed!\n\nFile: loader\nLine: 12\n\n");
}

TEST(AssertionReportTest, NegativeLineKeepsItsSign) {
  EXPECT_EQ(Report({nullptr, nullptr, nullptr, -5, nullptr}), "Assertion failed!\n\nLine: -5\n\n");
}

TEST(AssertionReportTest, DescriptionWithoutExpressionStillStartsWithTwoLineFeeds) {
  EXPECT_EQ(Report({nullptr, "d", nullptr, 0, nullptr}), "Assertion failed!\n\n\n\nDescription: d");
}

TEST(AssertionReportTest, EveryFieldInItsPlace) {
  EXPECT_EQ(Report({"count > 0", "no items", "queue.cpp", 40, "Pop"}),
            "Assertion failed!\n\nFile: queue.cpp\nLine: 40\n\nFunction: Pop\n\n"
            "Expression: count > 0\n\nDescription: no items");
}

TEST(AssertionReportTest, LongFieldsAreCutToTheBuffer) {
  const std::string longDescription(10000, 'd');
  char text[64];
  const size_t length = FormatAssertionReport(
      text, sizeof text, {nullptr, longDescription.c_str(), nullptr, 0, nullptr});
  EXPECT_EQ(length, sizeof text - 1);
  EXPECT_EQ(std::string(text).rfind("Assertion failed!\n\n\n\nDescription: ddd", 0), 0u);
}

using ReportAssertionTest = LogManagerTest;

// The report reaches the log as data: conversion specifiers in caller text stay as they are.
TEST_F(ReportAssertionTest, LogsTheTextVerbatimAsAnErrorInTheDebugGroup) {
  RecordingTarget target;
  AttachAcceptingAll(target);

  ReportAssertion("ALE-00000001", "100%s done %n", nullptr, 0, nullptr);

  ASSERT_EQ(target.Received().size(), 1u);
  const ReceivedRecord record = target.Received()[0];
  EXPECT_EQ(record.level, kLevelError);
  EXPECT_EQ(record.groups, kGroupDebug);
  EXPECT_EQ(record.message,
            "Assertion failed!\n\nExpression: ALE-00000001\n\nDescription: 100%s done %n");
}

TEST_F(ReportAssertionTest, DefaultConsoleSettingsShowTheReport) {
  RecordingTarget likeStdErr;
  likeStdErr.Configure({kLevelWarn, kGroupDebug, kGroupGeneral, "#L| #M"});
  ReportAssertion("x", nullptr, nullptr, 0, nullptr);
  EXPECT_THAT(likeStdErr.Lines(), ElementsAre(" ERROR| Assertion failed!\n\nExpression: x\n"));
}

TEST(FatalErrorDeathTest, AbortsAfterWritingTheReportToStandardError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FatalError("ALE-EECF0606", "plugin API 17.0.0 is not 18.0.0"),
              ::testing::KilledBySignal(SIGABRT),
              "ERROR\\| Assertion failed!\n\nExpression: ALE-EECF0606\n\n"
              "Description: plugin API 17\\.0\\.0 is not 18\\.0\\.0\n");
}

}  // namespace
}  // namespace Vexa::Testing
