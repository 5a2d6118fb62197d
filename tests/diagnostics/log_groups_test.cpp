// The group table: fixed codes, registration, and its behaviour when full or raced.
// Registrations that fill a table use a table of their own, so the process-wide table
// (shared by every test) keeps its free entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log_groups.h"

namespace Vexa {
namespace {

std::string CodeText(const LogGroupTable& table, size_t index) {
  return table.Code(index).data();
}

// Distinct three-letter codes that no fixed entry uses.
std::string GeneratedCode(size_t index) {
  return {'Q', static_cast<char>('A' + index / 26), static_cast<char>('A' + index % 26)};
}

TEST(ProcessLogGroupsTest, FixedCodesAndLocComeFirst) {
  const char* expected[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST", "LOC"};
  for (size_t index = 0; index < 9; ++index) {
    EXPECT_EQ(CodeText(ProcessLogGroups(), index), expected[index]) << index;
  }
  EXPECT_GE(ProcessLogGroups().LastUsedIndex(), 8u);
}

TEST(ProcessLogGroupsTest, RegisteringLocAgainReturnsEntryEight) {
  EXPECT_EQ(RegisterGroup("LOC"), LogGroups{1} << 8);
  EXPECT_EQ(RegisterGroup("LOCAL"), LogGroups{1} << 8);  // three characters are compared
  EXPECT_EQ(RegisterGroup("NET"), kGroupNetwork);
}

TEST(LogGroupTableTest, UnregisteredEntriesReadQuestionMarks) {
  LogGroupTable table;
  EXPECT_EQ(table.LastUsedIndex(), 8u);
  EXPECT_EQ(CodeText(table, 9), "???");
  EXPECT_EQ(CodeText(table, 63), "???");
  EXPECT_EQ(CodeText(table, 64), "");
}

TEST(LogGroupTableTest, NewCodeTakesTheNextFreeEntryOnce) {
  LogGroupTable table;
  EXPECT_EQ(table.Register("CCH"), LogGroups{1} << 9);
  EXPECT_EQ(table.Register("UIX"), LogGroups{1} << 10);
  EXPECT_EQ(table.Register("CCHE"), LogGroups{1} << 9);
  EXPECT_EQ(table.LastUsedIndex(), 10u);
  char text[32];
  table.Format(text, sizeof text, (LogGroups{1} << 10) | (LogGroups{1} << 9) | kGroupDebug);
  EXPECT_STREQ(text, "DBG;CCH;UIX");
}

TEST(LogGroupTableTest, ShortCodesAreNotReadPastTheirEnd) {
  LogGroupTable table;
  const LogGroups shortCode = table.Register("AB");
  EXPECT_EQ(shortCode, LogGroups{1} << 9);
  EXPECT_EQ(CodeText(table, 9), "AB");
  EXPECT_EQ(table.Register("AB"), shortCode);
  EXPECT_EQ(table.Register("ABC"), LogGroups{1} << 10);
}

TEST(LogGroupTableTest, NullOrEmptyCodeRegistersNothing) {
  LogGroupTable table;
  EXPECT_EQ(table.Register(nullptr), 0u);
  EXPECT_EQ(table.Register(""), 0u);
  EXPECT_EQ(table.LastUsedIndex(), 8u);
}

TEST(LogGroupTableTest, FullTableAnswersZeroAndWritesNothing) {
  LogGroupTable table;
  for (size_t index = 9; index < LogGroupTable::kEntryCount; ++index) {
    ASSERT_EQ(table.Register(GeneratedCode(index).c_str()), LogGroups{1} << index);
  }
  EXPECT_EQ(table.Register("NEW"), 0u);
  EXPECT_EQ(table.Register("NXT"), 0u);
  EXPECT_EQ(table.LastUsedIndex(), 63u);
  EXPECT_EQ(CodeText(table, 63), GeneratedCode(63));
  // Codes already in the table are still found.
  EXPECT_EQ(table.Register(GeneratedCode(63).c_str()), LogGroups{1} << 63);
  EXPECT_EQ(table.Register("LOC"), LogGroups{1} << 8);
}

// Eight threads register the same sixty codes at once, more than the 55 free entries: a
// code that gets an entry gets the same one in every thread, and the table never grows
// past its end.
TEST(LogGroupTableTest, RacingRegistrationsAgreeAndStayInsideTheTable) {
  LogGroupTable table;
  constexpr size_t kThreads = 8;
  constexpr size_t kCodes = 60;
  std::vector<std::vector<LogGroups>> results(kThreads, std::vector<LogGroups>(kCodes));
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (size_t thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      start.arrive_and_wait();
      for (size_t code = 0; code < kCodes; ++code) {
        results[thread][code] = table.Register(GeneratedCode(code).c_str());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  std::set<LogGroups> distinct;
  for (size_t code = 0; code < kCodes; ++code) {
    for (size_t thread = 1; thread < kThreads; ++thread) {
      EXPECT_EQ(results[thread][code], results[0][code]) << "code " << code;
    }
    if (results[0][code] != 0) {
      distinct.insert(results[0][code]);
    }
  }
  EXPECT_EQ(distinct.size(), LogGroupTable::kEntryCount - 9);
  EXPECT_EQ(table.LastUsedIndex(), 63u);
}

}  // namespace
}  // namespace Vexa
