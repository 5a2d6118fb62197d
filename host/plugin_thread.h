// The one thread on which every call into the plugin happens.
//
// Two kinds of work reach it:
// - tasks (an endpoint call, Start, Stop, the statistics): Run queues one and waits for it.
//   Tasks run one at a time, in order, and never inside another task's yield, so one endpoint
//   call never starts inside another.
// - deliveries (an event for the plugin, due at a given time): Deliver queues one without
//   waiting. They run between tasks, or while a task waits for the host inside a yield
//   (YieldOnce), which is how the answer a task waits for reaches it.
// Deliveries that are due run before the next task, in the order they fell due.
//
// Threading: Run, Deliver and Finish from any thread but the plugin thread itself (Deliver
// from it too); YieldOnce only on the plugin thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace VexaHost {

class PluginThread {
 public:
  using Clock = std::chrono::steady_clock;

  PluginThread();
  ~PluginThread();  // Finish() without a last task, when not finished yet
  PluginThread(const PluginThread&) = delete;
  PluginThread& operator=(const PluginThread&) = delete;

  // Runs `task` on the plugin thread and returns when it has run. Once finished, runs nothing
  // and returns false.
  bool Run(const std::function<void()>& task);

  // Queues `delivery` to run on the plugin thread at `due` or later.
  void Deliver(std::function<void()> delivery, Clock::time_point due = Clock::now());

  // On the plugin thread: runs the deliveries that are due; when none is, first waits for one
  // for at most `slice`, so a waiting plugin does not spin.
  void YieldOnce(std::chrono::milliseconds slice = std::chrono::milliseconds(20));

  // Runs the queued tasks, then `last`, then ends the thread; deliveries still queued are
  // dropped. Later calls of Run return false at once.
  void Finish(const std::function<void()>& last = {});

  bool IsPluginThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Task;
  using DeliveryKey = std::pair<Clock::time_point, uint64_t>;  // due, then arrival

  void Loop();
  // Moves the due deliveries out under the lock; the caller runs them without it.
  std::deque<std::function<void()>> TakeDue(Clock::time_point now);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task*> tasks_;
  std::map<DeliveryKey, std::function<void()>> deliveries_;
  uint64_t deliveryCount_ = 0;
  bool finishing_ = false;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace VexaHost
