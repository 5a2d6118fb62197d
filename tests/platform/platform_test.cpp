#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/lock.h"
#include "platform/pages.h"
#include "platform/process.h"

namespace Vexa::Platform {
namespace {

#if defined(_WIN32)
constexpr const char* kExecutableName = "vexa_platform_tests.exe";
// A system library every process has, and one of its functions: int abs(int).
constexpr const char* kSystemLibrary = "msvcrt.dll";
#else
constexpr const char* kExecutableName = "vexa_platform_tests";
constexpr const char* kSystemLibrary = "libc.so.6";
#endif

std::tm LocalFields(std::time_t instant) {
  std::tm fields{};
#if defined(_WIN32)
  localtime_s(&fields, &instant);
#else
  localtime_r(&instant, &fields);
#endif
  return fields;
}

TEST(ProcessTest, ExecutableFileNameAndThreadIds) {
  EXPECT_EQ(FileNamePart(ExecutablePath()), kExecutableName);
  uint32_t other = CurrentThreadId();
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, CurrentThreadId());
}

// The local time is bracketed by the clock it is read from, not by std::time's coarser one.
TEST(ClockTest, ClocksAgreeWithTheCRuntimeAndTheSteadyClock) {
  const std::time_t before = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const LocalTime local = CurrentLocalTime();
  const std::tm fields = LocalFields(before);
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

// A released reservation keeps its address range for the next one, up to the cache's bound;
// its memory may have been given back, yet the range stays usable.
TEST(PagesTest, ReleasedReservationsAreReusedUpToTheCachesBound) {
  std::vector<void*> blocks;
  for (size_t index = 0; index <= kMaxCachedReservations; ++index) {
    blocks.push_back(ReservePages(kReservationSize));
    ASSERT_NE(blocks.back(), nullptr);
  }
  EXPECT_EQ(CachedReservations(), 0u);  // the new blocks took whatever was cached
  for (void* block : blocks) {
    ReleasePages(block, kReservationSize);
  }
  EXPECT_EQ(CachedReservations(), kMaxCachedReservations);  // the last one went back whole
  // The newest kept range comes back first.
  auto* reused = static_cast<unsigned char*>(ReservePages(kReservationSize));
  EXPECT_EQ(reused, blocks[kMaxCachedReservations - 1]);
  EXPECT_EQ(CachedReservations(), kMaxCachedReservations - 1);
  std::memset(reused, 0x5A, kReservationSize);
  EXPECT_EQ(reused[kReservationSize - 1], 0x5A);
  ReleasePages(reused, kReservationSize);
}

TEST(LockTest, TheHolderMayEnterAgainAndOthersWaitUntilItHasLeftEveryTime) {
  RecursiveLock lock;
  lock.lock();
  EXPECT_TRUE(lock.try_lock());
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = lock.try_lock(); }).join();
  EXPECT_FALSE(otherGotIt);
  lock.unlock();
  std::thread([&] { otherGotIt = lock.try_lock(); }).join();
  EXPECT_FALSE(otherGotIt);
  lock.unlock();
  std::thread([&] {
    otherGotIt = lock.try_lock();
    if (otherGotIt) {
      lock.unlock();
    }
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(LibraryTest, FindsSymbolsOfALoadedLibraryAndNoneOfAMissingOne) {
  SharedLibrary system(kSystemLibrary);
  EXPECT_EQ(system.Symbol<int (*)(int)>("abs")(-7), 7);
  EXPECT_EQ(system.Address("no_such_function"), nullptr);
  SharedLibrary moved(std::move(system));
  EXPECT_FALSE(system.IsLoaded());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_TRUE(moved.IsLoaded());
  EXPECT_FALSE(SharedLibrary("no-such-library-7f3a").IsLoaded());
}

}  // namespace
}  // namespace Vexa::Platform
