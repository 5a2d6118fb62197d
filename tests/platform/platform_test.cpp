#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/pages.h"
#include "platform/process.h"

namespace Vexa::Platform {
namespace {

TEST(ProcessTest, FileNamePartIsWhatFollowsTheLastSeparator) {
  EXPECT_EQ(FileNamePart("/usr/bin/vexa-host"), "vexa-host");
  EXPECT_EQ(FileNamePart("vexa-host"), "vexa-host");
  EXPECT_EQ(FileNamePart("/usr/bin/"), "");
  EXPECT_EQ(FileNamePart(""), "");
}

TEST(ProcessTest, ExecutablePathNamesThisTestProgram) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(FileNamePart(path), "vexa_platform_tests");
  EXPECT_EQ(path.front(), kPathSeparator);
}

TEST(ProcessTest, ThreadIdsDifferBetweenThreadsAndStayStableWithinOne) {
  const uint32_t mine = CurrentThreadId();
  EXPECT_EQ(mine, CurrentThreadId());
  uint32_t other = mine;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, mine);
  EXPECT_NE(mine, 0u);
}

TEST(ClockTest, LocalTimeAgreesWithTheCRuntime) {
  // std::time may read a coarse clock that lags the precise one by a few milliseconds; the
  // bracketing readings must come from the clock the local time is read from.
  const auto preciseNow = [] {
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  };
  const std::time_t before = preciseNow();
  const LocalTime now = CurrentLocalTime();
  const std::time_t after = preciseNow();
  std::tm fields{};
  localtime_r(&before, &fields);
  EXPECT_EQ(now.year, fields.tm_year + 1900);
  EXPECT_EQ(now.month, fields.tm_mon + 1);
  EXPECT_EQ(now.day, fields.tm_mday);
  if (before == after) {
    EXPECT_EQ(now.second, fields.tm_sec);
  }
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LT(now.millisecond, 1000);
}

TEST(ClockTest, PerformanceCounterMovesForwardAtItsFrequency) {
  const uint64_t start = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint64_t elapsed = PerformanceCounter() - start;
  EXPECT_GE(elapsed, PerformanceFrequency() / 50);
}

TEST(ClockTest, SystemTimeTicksCountHundredsOfNanosecondsSince1970) {
  const int64_t seconds = static_cast<int64_t>(std::time(nullptr));
  const int64_t ticks = SystemTimeTicks();
  EXPECT_NEAR(static_cast<double>(ticks / 10000000), static_cast<double>(seconds), 2.0);
}

TEST(PagesTest, ReservationsAreAlignedZeroedAndWritable) {
  const size_t size = 3 * kReservationSize;
  auto* block = static_cast<unsigned char*>(ReservePages(size));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kReservationSize, 0u);
  for (size_t i = 0; i < size; i += 4096) {
    EXPECT_EQ(block[i], 0);
  }
  std::memset(block, 0xAB, size);
  EXPECT_EQ(block[size - 1], 0xAB);
  ReleasePages(block, size);
  ReleasePages(nullptr, size);
}

TEST(PagesTest, ImpossibleSizesAreRefusedWithNull) {
  EXPECT_EQ(ReservePages(0), nullptr);
  EXPECT_EQ(ReservePages(SIZE_MAX), nullptr);
}

TEST(LibraryTest, FindsSymbolsOfALoadedLibrary) {
  SharedLibrary math("libm.so.6");
  ASSERT_TRUE(math.IsLoaded());
  auto* cosine = math.Symbol<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(math.Address("no_such_symbol_here"), nullptr);
  EXPECT_EQ(math.Address(nullptr), nullptr);

  SharedLibrary moved(std::move(math));
  EXPECT_TRUE(moved.IsLoaded());
  EXPECT_FALSE(math.IsLoaded());  // NOLINT(bugprone-use-after-move): moved-from is empty
}

TEST(LibraryTest, AMissingLibraryAnswersNullForEverySymbol) {
  SharedLibrary missing("Advapi32.dll");
  EXPECT_FALSE(missing.IsLoaded());
  EXPECT_EQ(missing.Address("EventRegister"), nullptr);
}

}  // namespace
}  // namespace Vexa::Platform
