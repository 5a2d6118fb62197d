// Rendering of records into lines, of group masks into text, and of time stamps; the group
// table behind the masks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "diagnostics/log_groups.h"
#include "diagnostics/log_line.h"
#include "platform/process.h"

namespace Vexa::Testing {
namespace {

LogRecord Example(const char* message = "x") {
  return {2024, 3, 5, 7, 8, 9, 45, kLevelError, kGroupDebug | kGroupNetwork, message};
}

std::string Render(const char* lineTemplate, const LogRecord& record, size_t size = 4096) {
  std::string buffer(size, '\x7f');
  const size_t length = FormatLine(buffer.data(), size, lineTemplate, &record);
  EXPECT_LT(length, size);
  EXPECT_EQ(buffer[length], '\0');
  return buffer.substr(0, length);
}

TEST(FormatLineTest, FieldsAndLineEnds) {
  EXPECT_EQ(Render("#D| #L| #G| #M", Example()), "2024-03-05T07:08:09.045|  ERROR| DBG;NET| x\n");
  EXPECT_EQ(Render("#L| #M", Example("done\n")), " ERROR| done\n");  // no second line feed
  EXPECT_EQ(Render("#Q#M###", Example()), "Qx#\n");  // a '#' that ends the template is dropped
  // Seconds since start, six digits and three decimals: every digit shown as 9 (no regular
  // expression: GoogleTest's own on Windows knows no counted repetition).
  std::string uptime = Render("#H", Example());
  std::replace_if(
      uptime.begin(), uptime.end(), [](char c) { return c >= '0' && c <= '9'; }, '9');
  EXPECT_EQ(uptime, "999999.999\n");
  char threadId[16];
  std::snprintf(threadId, sizeof threadId, "%08X", Platform::CurrentThreadId());
  EXPECT_EQ(Render("#T", Example()), std::string(threadId) + "\n");
  const char* names[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS", "??????"};
  for (LogLevel level = kLevelOkay; level <= 4; ++level) {
    EXPECT_STREQ(LevelName(level), names[level]);
  }
}

// Two bytes are held back for the line end; a line cut while the template goes on gives up
// its last two bytes to it.
TEST(FormatLineTest, CutLinesFitTheirBufferAndEndWithOneLineFeed) {
  EXPECT_EQ(Render("#M", Example("abcdef"), 6), "abc\n");
  EXPECT_EQ(Render("#M|", Example("abcdef"), 6), "a\n");
  const LogRecord record = Example();
  char one[1] = {'z'};
  EXPECT_EQ(FormatLine(one, sizeof one, "#M", &record), 0u);
  EXPECT_EQ(one[0], '\0');
}

TEST(FormatGroupsTest, CodesFromBitZeroUpwardUntilFewerThanTwoBytesRemain) {
  LogRecord record = Example();
  EXPECT_EQ(Render("#G", record, 8), "DBG;N\n");  // six bytes for the groups
  EXPECT_EQ(Render("#G", record, 4), "D\n");
  record.groups = LogGroups{1} << 63;
  EXPECT_EQ(Render("#G", record), "???\n");
}

TEST(TimeStampTest, BothFormsAndThePrintfTemplateForAnyFields) {
  LogRecord record = Example();
  char text[64];
  EXPECT_EQ(FormatFileTimeStamp(text, sizeof text, &record), 19u);
  EXPECT_STREQ(text, "2024-03-05T07-08-09");
  EXPECT_EQ(FormatTimeStamp(text, 11, &record), 10u);
  record.year = 10000;  // outside the calendar ranges as printf writes it
  EXPECT_EQ(FormatTimeStamp(text, sizeof text, &record), 24u);
  EXPECT_STREQ(text, "10000-03-05T07:08:09.045");
}

// A table of its own fills up; the process-wide one keeps its free entries for others.
TEST(LogGroupTableTest, FixedCodesThenRegisteredOnesByTheirFirstThreeCharactersUntilFull) {
  const char* fixed[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST", "LOC", "???"};
  for (size_t index = 0; index < 10; ++index) {
    EXPECT_STREQ(ProcessLogGroups().Code(index).data(), fixed[index]);
  }
  EXPECT_EQ(RegisterGroup("LOCAL"), LogGroups{1} << 8);
  LogGroupTable table;
  EXPECT_EQ(table.Register(""), 0u);
  EXPECT_EQ(table.Register("CCH"), LogGroups{1} << 9);
  EXPECT_EQ(table.Register("CCHE"), LogGroups{1} << 9);
  for (size_t index = 10; index < LogGroupTable::kEntryCount; ++index) {
    const char code[] = {'Q', static_cast<char>('A' + index / 26),
                         static_cast<char>('A' + index % 26), '\0'};
    ASSERT_EQ(table.Register(code), LogGroups{1} << index);
  }
  EXPECT_EQ(table.Register("NEW"), 0u);
  EXPECT_EQ(table.LastUsedIndex(), 63u);
}

}  // namespace
}  // namespace Vexa::Testing
