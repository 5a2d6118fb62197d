// Rendering of records into lines, of group masks into text, and of time stamps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/log_groups.h"
#include "diagnostics/log_line.h"
#include "log_test_support.h"
#include "platform/process.h"

namespace Vexa::Testing {
namespace {

using ::testing::MatchesRegex;

LogRecord ExampleRecord(const char* message = "x") {
  LogRecord record{};
  record.year = 2024;
  record.month = 3;
  record.day = 5;
  record.hour = 7;
  record.minute = 8;
  record.second = 9;
  record.millisecond = 45;
  record.level = kLevelError;
  record.groups = kGroupDebug | kGroupNetwork;
  record.message = message;
  return record;
}

std::string Render(const char* lineTemplate, const LogRecord& record, size_t size = 4096) {
  std::string buffer(size, '\x7f');
  const size_t length = FormatLine(buffer.data(), size, lineTemplate, &record);
  EXPECT_LT(length, size);
  EXPECT_EQ(buffer[length], '\0');
  return buffer.substr(0, length);
}

TEST(FormatLineTest, RendersTheDefaultTemplate) {
  EXPECT_EQ(Render("#D| #L| #G| #M", ExampleRecord()),
            "2024-03-05T07:08:09.045|  ERROR| DBG;NET| x\n");
}

TEST(FormatLineTest, MessageEndingInLineFeedGetsNoSecondOne) {
  EXPECT_EQ(Render("#L| #M", ExampleRecord("done\n")), " ERROR| done\n");
}

TEST(FormatLineTest, EmptyTemplateGivesOneLineFeed) {
  EXPECT_EQ(Render("", ExampleRecord()), "\n");
  EXPECT_EQ(Render(nullptr, ExampleRecord()), "\n");
}

TEST(FormatLineTest, UnknownCodeWritesTheByteAfterTheHash) {
  EXPECT_EQ(Render("#Q#M##", ExampleRecord()), "Qx#\n");
}

TEST(FormatLineTest, HashEndingTheTemplateWritesNothing) {
  EXPECT_EQ(Render("#M#", ExampleRecord()), "x\n");
}

TEST(FormatLineTest, ThreadFieldIsTheRenderingThreadInEightUpperCaseHexDigits) {
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08X", Platform::CurrentThreadId());
  const std::string line = Render("#T", ExampleRecord());
  EXPECT_THAT(line, MatchesRegex("[0-9A-F]{8}\n"));
  EXPECT_EQ(line, std::string(expected) + "\n");
}

TEST(FormatLineTest, ElapsedFieldIsSecondsAndMilliseconds) {
  EXPECT_THAT(Render("#H", ExampleRecord()), MatchesRegex("[0-9]{6}\\.[0-9]{3}\n"));
}

TEST(FormatLineTest, LevelNamesAreSixCharactersWide) {
  LogRecord record = ExampleRecord();
  const char* expected[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  for (LogLevel level = kLevelOkay; level <= kLevelAlways; ++level) {
    record.level = level;
    EXPECT_EQ(Render("#L", record), std::string(expected[level]) + "\n");
  }
  record.level = 7;  // outside the table: still six characters, nothing read past it
  EXPECT_EQ(Render("#L", record), "??????\n");
}

// Every cut line still ends with exactly one line feed, fits its buffer, and is a prefix
// of the whole line.
TEST(FormatLineTest, CutLinesFitTheirBufferAndEndWithOneLineFeed) {
  const char* lineTemplate = "#D| #L| #G| #M| tail";
  const LogRecord record = ExampleRecord("a message long enough to be cut");
  const std::string whole = Render(lineTemplate, record);
  const std::string wholeText = whole.substr(0, whole.size() - 1);
  for (size_t size = 2; size <= whole.size() + 1; ++size) {
    SCOPED_TRACE("buffer size " + std::to_string(size));
    const std::string line = Render(lineTemplate, record, size);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    const std::string text = line.substr(0, line.size() - 1);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(wholeText.compare(0, text.size(), text), 0);
  }
  EXPECT_EQ(Render(lineTemplate, record, whole.size() + 2), whole);
}

TEST(FormatLineTest, TinyBuffersGetAtMostATerminator) {
  const LogRecord record = ExampleRecord();
  char one[1] = {'z'};
  EXPECT_EQ(FormatLine(one, sizeof one, "#M", &record), 0u);
  EXPECT_EQ(one[0], '\0');
  char none[1] = {'z'};
  EXPECT_EQ(FormatLine(none, 0, "#M", &record), 0u);
  EXPECT_EQ(none[0], 'z');
}

using FormatLineWithManagerTest = LogManagerTest;

TEST_F(FormatLineWithManagerTest, ModuleFieldIsTheExecutablesFileName) {
  const std::string expected(Platform::FileNamePart(Platform::ExecutablePath()));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Render("#E", ExampleRecord()), expected + "\n");
  LogManager::Shutdown();
  EXPECT_EQ(Render("#E", ExampleRecord()), "<unknown>\n");
}

std::string Groups(LogGroups groups, size_t size = 64) {
  std::string buffer(size, '\x7f');
  const size_t length = FormatGroups(buffer.data(), size, groups);
  EXPECT_EQ(buffer[length], '\0');
  return buffer.substr(0, length);
}

TEST(FormatGroupsTest, WritesCodesFromBitZeroUpward) {
  EXPECT_EQ(Groups(kGroupNetwork | kGroupDebug), "DBG;NET");
  EXPECT_EQ(Groups(0), "");
  EXPECT_EQ(Groups(LogGroups{1} << 63), "???");
}

TEST(FormatGroupsTest, StopsWhenFewerThanTwoBytesRemain) {
  const LogGroups groups = kGroupDebug | kGroupNetwork;
  EXPECT_EQ(Groups(groups, 1), "");
  EXPECT_EQ(Groups(groups, 2), "D");
  EXPECT_EQ(Groups(groups, 4), "DBG");
  EXPECT_EQ(Groups(groups, 6), "DBG;N");
  char untouched = 'z';
  EXPECT_EQ(FormatGroups(&untouched, 0, groups), 0u);
  EXPECT_EQ(untouched, 'z');
}

TEST(TimeStampTest, WritesBothForms) {
  const LogRecord record = ExampleRecord();
  char text[64];
  EXPECT_EQ(FormatTimeStamp(text, sizeof text, &record), 23u);
  EXPECT_STREQ(text, "2024-03-05T07:08:09.045");
  EXPECT_EQ(FormatFileTimeStamp(text, sizeof text, &record), 19u);
  EXPECT_STREQ(text, "2024-03-05T07-08-09");
  EXPECT_EQ(FormatTimeStamp(text, 11, &record), 10u);
  EXPECT_STREQ(text, "2024-03-05");
}

// Calendar fields are written without printf; every record, in range or not, must still
// read exactly as the printf template writes it.
TEST(TimeStampTest, MatchesThePrintfTemplateForAnyFields) {
  const int32_t samples[] = {0, 1, 9, 10, 59, 99, 100, 999, 1000, 9999, 10000, -1, -45};
  for (int32_t value : samples) {
    LogRecord record = ExampleRecord();
    for (int32_t* field : {&record.year, &record.month, &record.second, &record.millisecond}) {
      const int32_t saved = *field;
      *field = value;
      char expected[64];
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", record.year,
                    record.month, record.day, record.hour, record.minute, record.second,
                    record.millisecond);
      char text[64];
      EXPECT_EQ(FormatTimeStamp(text, sizeof text, &record), std::strlen(expected));
      EXPECT_STREQ(text, expected);
      *field = saved;
    }
  }
}

}  // namespace
}  // namespace Vexa::Testing
