// The one thread on which every call into the plugin happens.
//
// Two kinds of work reach it:
// - tasks (an endpoint call, Start, Stop, the statistics): Run queues one and waits for it.
//   Tasks run one at a time, in order.
// - deliveries (an event for the plugin, due at a given time): Deliver queues one without
//   waiting. They run between tasks, or while a task waits for the host inside a yield
//   (YieldOnce), which is how the answer a task waits for reaches it.
// Deliveries that are due run before the next task, in the order they fell due.
//
// A plugin waiting for an answer only yields, so one slow answer would hold every other call
// back. A task queued as nestable (an endpoint call) may therefore start inside another task's
// yield, when it is the next task and fewer than `maxNesting` tasks are running already; it
// runs to its end there, yielding in turn, and the waits unwind in order: a task whose answer
// has come goes on only once the tasks started inside its wait have ended. Start, Stop and the
// other tasks never start inside a yield, and none starts while Finish is waiting.
//
// Threading: Run, Deliver and Finish from any thread but the plugin thread itself (Deliver
// from it too); YieldOnce only on the plugin thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
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

  // `maxNesting`: how many tasks may run at once, one inside another's yield; 1 lets none start
  // inside a yield.
  explicit PluginThread(std::size_t maxNesting = 1);
  ~PluginThread();  // Finish() without a last task, when not finished yet
  PluginThread(const PluginThread&) = delete;
  PluginThread& operator=(const PluginThread&) = delete;

  enum class Nesting { Never, InYield };

  // Runs `task` on the plugin thread and returns when it has run; Nesting::InYield lets it
  // start inside a waiting task's yield. Once finished, runs nothing and returns false.
  bool Run(const std::function<void()>& task, Nesting nesting = Nesting::Never);

  // Queues `delivery` to run on the plugin thread at `due` or later.
  void Deliver(std::function<void()> delivery, Clock::time_point due = Clock::now());

  // On the plugin thread: runs the deliveries that are due, or else the next task when it may
  // start inside this yield; when there is neither, first waits for one for at most `slice`,
  // so a waiting plugin does not spin.
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
  // Under the lock: the next task when it may start inside a yield now, else null.
  Task* TakeNestable();
  // Runs `task` and tells its waiter; without the lock.
  void RunTask(Task& task);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task*> tasks_;
  const std::size_t maxNesting_;
  std::size_t running_ = 0;  // tasks started and not ended, one inside another
  std::map<DeliveryKey, std::function<void()>> deliveries_;
  uint64_t deliveryCount_ = 0;
  bool finishing_ = false;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace VexaHost
