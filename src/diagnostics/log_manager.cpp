#include "diagnostics/log_manager.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace Vexa {

namespace {

// Creation and destruction of the manager happen under this lock, so that two threads
// logging for the first time at the same moment cannot both create one. Made on first use and
// never destroyed, so it is there for any static constructor or destructor that logs. (It
// cannot be constant-initialised: winpthreads' std::mutex has no constexpr constructor.)
std::mutex& CreationLock() {
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* const lock = new (storage) std::mutex;
  return *lock;
}

constinit std::atomic<LogManager*> currentManager{nullptr};
constinit std::atomic<int32_t> referenceCount{0};

bool HasEveryEntryTheManagerCalls(const LogTargetInterface& target) {
  return target.getLevel != nullptr && target.getEnabledGroups != nullptr &&
         target.getDisabledGroups != nullptr && target.getTypeName != nullptr &&
         target.detach != nullptr && target.write != nullptr;
}

bool TargetAccepts(LogTargetInterface* target, const LogRecord& record) {
  if (record.level < target->getLevel(target)) {
    return false;
  }
  if (record.groups == 0) {
    return true;
  }
  if ((record.groups & target->getDisabledGroups(target)) != 0) {
    return false;
  }
  const LogGroups enabled = target->getEnabledGroups(target);
  return enabled == 0 || (record.groups & enabled) != 0;
}

}  // namespace

LogManager* LogManager::Instance() {
  return currentManager.load(std::memory_order_acquire);
}

LogManager* LogManager::CreateIfMissing() {
  // Caller holds CreationLock().
  LogManager* manager = currentManager.load(std::memory_order_acquire);
  if (manager == nullptr) {
    try {
      manager = new LogManager();
    } catch (...) {
      return nullptr;
    }
    currentManager.store(manager, std::memory_order_release);
  }
  return manager;
}

LogManager* LogManager::Obtain() {
  if (LogManager* manager = Instance()) {
    return manager;
  }
  std::lock_guard guard(CreationLock());
  return CreateIfMissing();
}

void LogManager::Init() {
  std::lock_guard guard(CreationLock());
  if (referenceCount.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) {
    CreateIfMissing();
  }
}

void LogManager::Shutdown() {
  std::lock_guard guard(CreationLock());
  int32_t count = referenceCount.load(std::memory_order_acquire);
  do {
    // A shutdown without a matching init must not drive the count below zero: the next
    // init would then never see 1 and the count would stay off by one for good.
    if (count <= 0) {
      return;
    }
  } while (!referenceCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel));
  if (count != 1) {
    return;
  }
  LogManager* manager = currentManager.load(std::memory_order_acquire);
  if (manager == nullptr) {
    return;
  }
  // Targets detach while the manager is still current, so each finds its way out of the
  // list; the built-in targets are then destroyed with the manager.
  manager->DetachAllInReverse();
  currentManager.store(nullptr, std::memory_order_release);
  delete manager;
}

int32_t LogManager::ReferenceCount() {
  return referenceCount.load(std::memory_order_acquire);
}

LogManager::LogManager() : moduleName_{} {
  std::strcpy(moduleName_, kUnknownModuleName);
  stdErr_.ApplySettings({kLevelWarn, kGroupDebug, kGroupGeneral, kConsoleLineTemplate});
  stdOut_.ApplySettings({kLevelWarn, kGroupGeneral, kGroupDebug, kMessageOnlyLineTemplate});
  debugger_.ApplySettings({kLevelWarn, kGroupDebug, 0, kConsoleLineTemplate});
  std::lock_guard guard(lock_);
  ReadModuleName();
  AttachTarget(stdErr_);
  AttachTarget(debugger_);
}

LogManager::~LogManager() = default;

void LogManager::ReadModuleName() {
  const std::string path = Platform::ExecutablePath();
  if (path.empty()) {
    return;
  }
  const std::string_view name = Platform::FileNamePart(path);
  const size_t length = std::min(name.size(), sizeof moduleName_ - 1);
  std::memcpy(moduleName_, name.data(), length);
  moduleName_[length] = '\0';
}

bool LogManager::Append(LogTargetInterface* target) {
  try {
    targets_.push_back(target);
    return true;
  } catch (...) {
    return false;
  }
}

void LogManager::RemoveUnlocked(LogTargetInterface* target) {
  targets_.erase(std::remove(targets_.begin(), targets_.end(), target), targets_.end());
}

void LogManager::AddTarget(LogTargetInterface* target) {
  if (target == nullptr || !HasEveryEntryTheManagerCalls(*target)) {
    return;
  }
  std::lock_guard guard(lock_);
  Append(target);
}

void LogManager::RemoveTarget(LogTargetInterface* target) {
  std::lock_guard guard(lock_);
  RemoveUnlocked(target);
}

LogTargetInterface* LogManager::FindTarget(const char* typeName) const {
  if (typeName == nullptr) {
    return nullptr;
  }
  std::lock_guard guard(lock_);
  for (LogTargetInterface* target : targets_) {
    const char* name = target->getTypeName(target);
    if (name != nullptr && std::strcmp(name, typeName) == 0) {
      return target;
    }
  }
  return nullptr;
}

std::vector<LogTargetInterface*> LogManager::Targets() const {
  std::lock_guard guard(lock_);
  return targets_;
}

void LogManager::AttachTarget(LogTarget& target) {
  std::lock_guard guard(lock_);
  if (target.attached_.load(std::memory_order_acquire)) {
    return;
  }
  if (Append(target.Interface())) {
    target.attached_.store(true, std::memory_order_release);
  }
}

void LogManager::DetachTarget(LogTarget& target) {
  std::lock_guard guard(lock_);
  if (!target.attached_.load(std::memory_order_acquire)) {
    return;
  }
  target.attached_.store(false, std::memory_order_release);
  RemoveUnlocked(target.Interface());
}

void LogManager::DetachAllInReverse() {
  std::vector<LogTargetInterface*> snapshot;
  try {
    snapshot = Targets();
  } catch (...) {
    return;
  }
  // Each detach entry takes the lock again and edits the list, so walk a copy.
  for (auto target = snapshot.rbegin(); target != snapshot.rend(); ++target) {
    (*target)->detach(*target);
  }
}

bool LogManager::Accepts(LogLevel level, LogGroups groups) const {
  return !IsSuppressed() && level >= Level() && (groups & MutedGroups()) == 0;
}

void LogManager::Dispatch(const LogRecord& record) {
  std::lock_guard guard(lock_);
  // By index, not iterator: a target may detach itself or another from inside its Write
  // (the lock is recursive), and the list may shrink under the walk.
  for (size_t index = 0; index < targets_.size(); ++index) {
    LogTargetInterface* target = targets_[index];
    if (TargetAccepts(target, record)) {
      target->write(target, &record);
    }
  }
}

}  // namespace Vexa
