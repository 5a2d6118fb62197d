// The one process-wide hub of logging: global filters, the ordered list of attached
// targets and the three built-in console targets.
//
//   Vexa::LogManager::Init();
//   if (Vexa::LogManager* manager = Vexa::LogManager::Instance()) {
//     manager->SetLevel(Vexa::kLevelOkay);
//     manager->StdOutTarget().Attach();
//   }
//   ...
//   Vexa::LogManager::Shutdown();
//
// Most code never touches the manager: Log (log.h) creates it on first use.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "diagnostics/console_targets.h"
#include "diagnostics/log_target.h"
#include "diagnostics/log_types.h"
#include "platform/lock.h"

namespace Vexa {

// The module name until the executable's path has been read, and when it cannot be.
inline constexpr const char* kUnknownModuleName = "<unknown>";

// Created by the first Init or the first Log, destroyed by the Shutdown that brings the
// reference count to 0 (a later Log creates a fresh one). Creation and destruction are
// serialised, so threads racing to create it get the same manager.
//
// At creation: global level 1 ("  WARN"), muted groups "XTR", nothing suppressed, and the
// built-in targets
//   StdErrLogTarget            "#E(#T): #L| #M"  level 1  enabled DBG  disabled GEN  attached
//   StdOutLogTarget            "#M"              level 1  enabled GEN  disabled DBG  detached
//   DebuggerConsoleLogTarget   "#E(#T): #L| #M"  level 1  enabled DBG                attached
//
// Threading: every operation may be called from any thread. The manager's lock (recursive)
// guards the target list; records are written while it is held, so a target's lock is
// always taken after the manager's, never before. The global filters are atomics, read
// without the lock so that a dropped message costs no lock at all.
//
// Lifetime: the final Shutdown must not race with other threads still using the manager
// or its targets; a manager created by Log alone lives until the process ends.
class LogManager {
 public:
  // The current manager, or null when there is none. Never creates one.
  static LogManager* Instance();
  // The current manager, created (without taking a reference) when there is none. Null
  // only when creation fails.
  static LogManager* Obtain();
  // Takes a reference; the reference that makes the count 1 creates the manager if needed.
  static void Init();
  // Drops a reference; the one that makes the count 0 detaches every attached target, last
  // first, and destroys the manager. Without a reference to drop it does nothing.
  static void Shutdown();
  static int32_t ReferenceCount();

  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  void SetLevel(LogLevel level) { level_.store(level, std::memory_order_relaxed); }
  LogLevel Level() const { return level_.load(std::memory_order_relaxed); }
  void SetMutedGroups(LogGroups groups) { muted_.store(groups, std::memory_order_relaxed); }
  LogGroups MutedGroups() const { return muted_.load(std::memory_order_relaxed); }
  // While suppressed, every message is dropped.
  void Suppress() { suppressed_.store(true, std::memory_order_relaxed); }
  void Resume() { suppressed_.store(false, std::memory_order_relaxed); }
  bool IsSuppressed() const { return suppressed_.load(std::memory_order_relaxed); }
  // A switch kept for callers of the C table; logging does not read it.
  void SetReservedSwitch() { reserved_.store(true, std::memory_order_relaxed); }
  void ClearReservedSwitch() { reserved_.store(false, std::memory_order_relaxed); }
  bool ReservedSwitch() const { return reserved_.load(std::memory_order_relaxed); }

  // Appends a table to the list, even when it is there already (it is then written to once
  // per occurrence). Does not touch a LogTarget's attached flag. A null table, or one
  // missing an entry the manager calls, is ignored. Does not own; the table must stay
  // valid until removed.
  void AddTarget(LogTargetInterface* target);
  // Removes every occurrence of a table from the list.
  void RemoveTarget(LogTargetInterface* target);
  // The first listed table whose type name equals `typeName` (exact, case-sensitive), or
  // null.
  LogTargetInterface* FindTarget(const char* typeName) const;
  // A copy of the list, in order.
  std::vector<LogTargetInterface*> Targets() const;

  StdOutLogTarget& StdOutTarget() { return stdOut_; }
  StdErrLogTarget& StdErrTarget() { return stdErr_; }
  DebuggerConsoleLogTarget& DebuggerTarget() { return debugger_; }

  // The file name of the running executable; "<unknown>" when it cannot be read.
  const char* ModuleName() const { return moduleName_; }

  // Whether a message passes the global filters: not suppressed, level not below the
  // global level, no muted group.
  bool Accepts(LogLevel level, LogGroups groups) const;

  // Hands `record` to every listed target whose own filters accept it, in list order.
  void Dispatch(const LogRecord& record);

 private:
  friend class LogTarget;

  LogManager();
  ~LogManager();

  static LogManager* CreateIfMissing();
  bool Append(LogTargetInterface* target);
  void RemoveUnlocked(LogTargetInterface* target);
  void AttachTarget(LogTarget& target);
  void DetachTarget(LogTarget& target);
  void DetachAllInReverse();
  void ReadModuleName();

  mutable Platform::RecursiveLock lock_;
  std::vector<LogTargetInterface*> targets_;
  std::atomic<bool> suppressed_{false};
  std::atomic<bool> reserved_{false};
  std::atomic<LogLevel> level_{kLevelWarn};
  std::atomic<LogGroups> muted_{kGroupExtra};
  char moduleName_[1024];
  StdErrLogTarget stdErr_;
  StdOutLogTarget stdOut_;
  DebuggerConsoleLogTarget debugger_;
};

}  // namespace Vexa
