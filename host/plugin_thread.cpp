#include "plugin_thread.h"

#include <algorithm>
#include <future>

namespace VexaHost {

// A task lives on the stack of the thread that waits for it. Its completion is a promise: the
// plugin thread fulfils it without holding the queue's lock, so the woken thread does not wake
// only to wait for that lock, and the promise's shared state outlives the waiter's return.
struct PluginThread::Task {
  Task(const std::function<void()>& work, Nesting nesting) : work(work), nesting(nesting) {}
  const std::function<void()>& work;
  const Nesting nesting;
  std::promise<void> done;
};

PluginThread::PluginThread(std::size_t maxNesting)
    : maxNesting_(std::max<std::size_t>(maxNesting, 1)), thread_([this] { Loop(); }) {}

PluginThread::~PluginThread() {
  Finish();
}

bool PluginThread::Run(const std::function<void()>& work, Nesting nesting) {
  Task task(work, nesting);
  std::future<void> finished = task.done.get_future();
  {
    std::lock_guard lock(mutex_);
    if (finishing_) {
      return false;
    }
    tasks_.push_back(&task);
  }
  wake_.notify_one();  // outside the lock: the plugin thread can take it at once
  finished.wait();
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
  task.done.set_value();
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
