#include "plugin_thread.h"

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace VexaHost {

namespace {

// A call's completion, one word: kPending, kSleeping once its waiter sleeps on it, kDone. The
// plugin thread sets it without holding the queue's lock, so the woken thread does not wake
// only to wait for that lock, and makes the system call that wakes the waiter only when the
// waiter sleeps (on Linux; elsewhere a lock and a condition variable of the completion's own
// stand in for that). Nothing is allocated for it (a promise costs a shared state, a once-flag
// and a lock per call).
//
// Before it sleeps, the waiter gives its core away a few times. On a machine with few cores
// the plugin thread is usually the thread that gets it; a short call then ends before its
// waiter sleeps, which spares the plugin thread the system call that wakes the waiter and the
// woken waiter taking the plugin thread's core. The waiter does not spin otherwise: a spinning
// waiter would take the plugin thread's time.
class Completion {
 public:
  void Wait() {
    for (int turn = 0; turn < kYields && word_.load(std::memory_order_acquire) != kDone; ++turn) {
      std::this_thread::yield();
    }
#if defined(__linux__)
    int state = kPending;
    if (word_.compare_exchange_strong(state, kSleeping, std::memory_order_acquire)) {
      state = kSleeping;
    }
    while (state != kDone) {
      syscall(SYS_futex, &word_, FUTEX_WAIT_PRIVATE, kSleeping, nullptr, nullptr, 0);
      state = word_.load(std::memory_order_acquire);
    }
#else
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return word_.load(std::memory_order_acquire) == kDone; });
#endif
  }

  // On Linux the waiter may leave as soon as the word reads kDone: after that, only the word's
  // address is used, to wake a thread sleeping on it, never the memory itself. Elsewhere the
  // word is set and the waiter told under the lock, which the waiter needs before it leaves.
  void Set() {
#if defined(__linux__)
    if (word_.exchange(kDone, std::memory_order_acq_rel) == kSleeping) {
      syscall(SYS_futex, &word_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
#else
    const std::lock_guard lock(mutex_);
    word_.store(kDone, std::memory_order_release);
    done_.notify_one();
#endif
  }

 private:
  static constexpr int kPending = 0, kSleeping = 1, kDone = 2;
  static constexpr int kYields = 4;

  std::atomic<int> word_{kPending};
#if !defined(__linux__)
  // Not the atomic word's own wait: the C++ library of the Windows build loses its wake-ups.
  std::mutex mutex_;
  std::condition_variable done_;
#endif
};

}  // namespace

// A task lives on the stack of the thread that waits for it.
struct PluginThread::Task {
  Task(const std::function<void()>& work, Nesting nesting) : work(work), nesting(nesting) {}
  const std::function<void()>& work;
  const Nesting nesting;
  Completion done;
};

PluginThread::PluginThread(std::size_t maxNesting)
    : maxNesting_(std::max<std::size_t>(maxNesting, 1)), thread_([this] { Loop(); }) {}

PluginThread::~PluginThread() {
  Finish();
}

bool PluginThread::Run(const std::function<void()>& work, Nesting nesting) {
  Task task(work, nesting);
  {
    std::lock_guard lock(mutex_);
    if (finishing_) {
      return false;
    }
    tasks_.push_back(&task);
  }
  wake_.notify_one();  // outside the lock: the plugin thread can take it at once
  task.done.Wait();
  return true;
}

void PluginThread::Deliver(std::function<void()> delivery, Clock::time_point due) {
  {
    std::lock_guard lock(mutex_);
    if (finished_) {
      return;
    }
    deliveries_.emplace(DeliveryKey{due, deliveryCount_++}, std::move(delivery));
  }
  wake_.notify_one();
}

std::deque<std::function<void()>> PluginThread::TakeDue(Clock::time_point now) {
  std::deque<std::function<void()>> due;
  while (!deliveries_.empty() && deliveries_.begin()->first.first <= now) {
    due.push_back(std::move(deliveries_.begin()->second));
    deliveries_.erase(deliveries_.begin());
  }
  return due;
}

PluginThread::Task* PluginThread::TakeNestable() {
  if (tasks_.empty() || tasks_.front()->nesting != Nesting::InYield || finishing_ ||
      running_ >= maxNesting_) {
    return nullptr;
  }
  Task* task = tasks_.front();
  tasks_.pop_front();
  return task;
}

void PluginThread::RunTask(Task& task) {
  ++running_;
  task.work();
  --running_;
  task.done.Set();
}

void PluginThread::YieldOnce(std::chrono::milliseconds slice) {
  std::deque<std::function<void()>> due;
  Task* nested = nullptr;
  {
    std::unique_lock lock(mutex_);
    const Clock::time_point until = Clock::now() + slice;
    while ((due = TakeDue(Clock::now())).empty() && (nested = TakeNestable()) == nullptr &&
           Clock::now() < until && !finished_) {
      const Clock::time_point next =
          deliveries_.empty() ? until : std::min(until, deliveries_.begin()->first.first);
      wake_.wait_until(lock, next);
    }
  }
  for (auto& delivery : due) {
    delivery();
  }
  if (nested != nullptr) {
    RunTask(*nested);
  }
}

void PluginThread::Loop() {
  std::unique_lock lock(mutex_);
  while (true) {
    std::deque<std::function<void()>> due = TakeDue(Clock::now());
    if (!due.empty()) {
      lock.unlock();
      for (auto& delivery : due) {
        delivery();
      }
      lock.lock();
      continue;
    }
    if (!tasks_.empty()) {
      Task* task = tasks_.front();
      tasks_.pop_front();
      lock.unlock();
      RunTask(*task);
      lock.lock();
      continue;
    }
    if (finishing_) {
      break;
    }
    if (deliveries_.empty()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, deliveries_.begin()->first.first);
    }
  }
  finished_ = true;
  deliveries_.clear();
}

void PluginThread::Finish(const std::function<void()>& last) {
  if (!thread_.joinable() || IsPluginThread()) {
    return;
  }
  static const std::function<void()> kNothing = [] {};
  Task task(last ? last : kNothing, Nesting::Never);
  {
    // Refusing new tasks and queueing the last one under one lock: nothing can slip in
    // behind it, while the tasks already queued (requests in flight) still run before it.
    std::lock_guard lock(mutex_);
    if (!finishing_) {
      finishing_ = true;
      tasks_.push_back(&task);
    }
  }
  wake_.notify_one();
  thread_.join();
}

}  // namespace VexaHost
