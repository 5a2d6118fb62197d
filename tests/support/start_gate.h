// Lets a fixed number of threads begin a step together: each arrives and waits until all
// have. It is what std::latch's arrive_and_wait does; the Windows build's libstdc++ (gcc 12)
// can lose a latch's wake-up and leave a thread waiting for ever, a condition variable cannot.
//
//   Vexa::Testing::StartGate start(2);
//   std::thread other([&] { start.ArriveAndWait(); work(); });
//   start.ArriveAndWait();
//   work();
#pragma once

#include <condition_variable>
#include <mutex>

namespace Vexa::Testing {

class StartGate {
 public:
  explicit StartGate(int threads) : waiting_(threads) {}

  void ArriveAndWait() {
    std::unique_lock lock(mutex_);
    if (--waiting_ <= 0) {
      opened_.notify_all();
      return;
    }
    opened_.wait(lock, [this] { return waiting_ <= 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  int waiting_;
};

}  // namespace Vexa::Testing
