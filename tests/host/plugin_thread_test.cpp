// The plugin thread's rule for calls that arrive while a call waits: a nestable task starts
// inside the waiting task's yield, up to the bound, and the waits unwind in order; any other
// task, and every task behind it, waits for the waiting task to end.
#include "plugin_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace VexaHost {
namespace {

using Nesting = PluginThread::Nesting;

// What the tasks did, in order, as one text: "outer+ inner+ inner- outer-".
class Trace {
 public:
  void Add(const std::string& step) {
    std::lock_guard lock(mutex_);
    text_ += (text_.empty() ? "" : " ") + step;
  }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }
  // Waits (generously) until the trace holds `step`.
  bool Reaches(const std::string& step) {
    for (int wait = 0; wait < 5000 && Text().find(step) == std::string::npos; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Text().find(step) != std::string::npos;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// A task that waits as a plugin does, yielding until `released`.
std::function<void()> Waiting(PluginThread& thread, Trace& trace, const std::string& name,
                              const std::atomic<bool>& released) {
  return [&thread, &trace, name, &released] {
    trace.Add(name + "+");
    while (!released) {
      thread.YieldOnce(std::chrono::milliseconds(1));
    }
    trace.Add(name + "-");
  };
}

std::function<void()> Instant(Trace& trace, const std::string& name) {
  return [&trace, name] { trace.Add(name); };
}

TEST(PluginThreadTest, ACallStartsInsideAWaitUpToTheBoundAndTheWaitsUnwindInOrder) {
  PluginThread thread(2);
  Trace trace;
  std::atomic<bool> outerReleased = false, innerReleased = false;
  std::vector<std::jthread> callers;
  callers.emplace_back([&] { thread.Run(Waiting(thread, trace, "outer", outerReleased)); });
  ASSERT_TRUE(trace.Reaches("outer+"));
  callers.emplace_back(
      [&] { thread.Run(Waiting(thread, trace, "inner", innerReleased), Nesting::InYield); });
  ASSERT_TRUE(trace.Reaches("inner+"));
  callers.emplace_back([&] { thread.Run(Instant(trace, "third"), Nesting::InYield); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // queued while the inner one yields
  // Two tasks run; the third is not started inside the inner one's wait, and the outer task,
  // released first, goes on only once the inner one has ended.
  outerReleased = true;
  innerReleased = true;
  callers.clear();
  EXPECT_EQ(trace.Text(), "outer+ inner+ inner- outer- third");
}

TEST(PluginThreadTest, OtherTasksAndThoseBehindThemWaitForTheWaitingTask) {
  PluginThread thread(4);
  Trace trace;
  std::atomic<bool> released = false;
  std::vector<std::jthread> callers;
  callers.emplace_back(
      [&] { thread.Run(Waiting(thread, trace, "call", released), Nesting::InYield); });
  ASSERT_TRUE(trace.Reaches("call+"));
  callers.emplace_back([&] { thread.Run(Instant(trace, "stop")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // queued before the next one
  callers.emplace_back([&] { thread.Run(Instant(trace, "next"), Nesting::InYield); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the waiting call yields on
  released = true;
  callers.clear();
  EXPECT_EQ(trace.Text(), "call+ call- stop next");
}

}  // namespace
}  // namespace VexaHost
