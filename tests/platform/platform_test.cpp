#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/pages.h"
#include "platform/process.h"

namespace Vexa::Platform {
namespace {

TEST(ProcessTest, ExecutableFileNameAndThreadIds) {
  EXPECT_EQ(FileNamePart(ExecutablePath()), "vexa_platform_tests");
  uint32_t other = CurrentThreadId();
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, CurrentThreadId());
}

// The local time is bracketed by the clock it is read from, not by std::time's coarser one.
TEST(ClockTest, ClocksAgreeWithTheCRuntimeAndTheSteadyClock) {
  const std::time_t before = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const LocalTime local = CurrentLocalTime();
  std::tm fields{};
  localtime_r(&before, &fields);
  EXPECT_EQ(std::vector({local.year, local.month, local.day}),
            std::vector({fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday}));
  EXPECT_LT(local.millisecond, 1000);
  EXPECT_NEAR(double(SystemTimeTicks() / 10000000), double(before), 2.0);
  const auto steadyStart = std::chrono::steady_clock::now();
  const uint64_t start = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double seconds = double(PerformanceCounter() - start) / double(PerformanceFrequency());
  const std::chrono::duration<double> steady = std::chrono::steady_clock::now() - steadyStart;
  EXPECT_NEAR(seconds, steady.count(), 0.1);
}

TEST(PagesTest, ReservationsAreAlignedZeroedAndWritableAndImpossibleSizesRefused) {
  const size_t size = 3 * kReservationSize;
  auto* block = static_cast<unsigned char*>(ReservePages(size));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kReservationSize, 0u);
  EXPECT_EQ(block[0] + block[size - 1], 0);
  std::memset(block, 0xAB, size);
  ReleasePages(block, size);
  EXPECT_EQ(ReservePages(0), nullptr);
  EXPECT_EQ(ReservePages(SIZE_MAX), nullptr);
}

TEST(LibraryTest, FindsSymbolsOfALoadedLibraryAndNoneOfAMissingOne) {
  SharedLibrary math("libm.so.6");
  EXPECT_DOUBLE_EQ(math.Symbol<double (*)(double)>("cos")(0.0), 1.0);
  SharedLibrary moved(std::move(math));
  EXPECT_FALSE(math.IsLoaded());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(SharedLibrary("Advapi32.dll").Address("EventRegister"), nullptr);
}

}  // namespace
}  // namespace Vexa::Platform
