// A destination of log lines, and the C table through which the log manager (and code
// written elsewhere) drives it.
//
//   class FileLogTarget : public Vexa::LogTarget {
//    public:
//     FileLogTarget() { RouteWriteEntryToWrite(); }
//     ~FileLogTarget() override { Detach(); }
//     bool Write(const Vexa::LogRecord& record) override { ... return true; }
//   };
//   FileLogTarget target;
//   target.Configure({Vexa::kLevelOkay, 0, Vexa::kGroupExtra, "#D| #L| #M"});  // attaches
#pragma once

#include <atomic>

#include "diagnostics/log_types.h"
#include "platform/lock.h"

namespace Vexa {

// The C-callable operations of one target. Every entry but the first takes the table's
// own address, which is how the implementation finds its target; a target written in C
// fills a table of its own and is attached with the LogApi's add-target entry. Each table
// is embedded in (owned by) its target and lives exactly as long as it.
struct LogTargetInterface {
  int32_t (*version)();  // 1
  void (*setLevel)(LogTargetInterface* self, LogLevel level);
  LogLevel (*getLevel)(LogTargetInterface* self);
  // Stores `enabled AND NOT disabled` as the enabled groups and `disabled` unchanged.
  void (*setGroups)(LogTargetInterface* self, LogGroups enabled, LogGroups disabled);
  LogGroups (*getEnabledGroups)(LogTargetInterface* self);
  LogGroups (*getDisabledGroups)(LogTargetInterface* self);
  const char* (*getTypeName)(LogTargetInterface* self);
  const char* (*getLineTemplate)(LogTargetInterface* self, const LogRecord* record);
  void (*attach)(LogTargetInterface* self);
  void (*detach)(LogTargetInterface* self);
  bool (*isAttached)(LogTargetInterface* self);
  // Writes one record; answers whether it was written.
  bool (*write)(LogTargetInterface* self, const LogRecord* record);
};

inline constexpr int32_t kLogTargetInterfaceVersion = 1;

// The base of every target: its filters (level, enabled and disabled groups), its line
// template, its lock and its C table.
//
// Filters: the manager hands a record to the target when the record's level is not below
// the target's level and, for a record with groups, when they share no bit with the
// disabled groups and (if any are enabled) share a bit with the enabled groups.
//
// Threading: setters and getters take the target's own lock; Write is called on the
// logging thread with the manager's lock held. Never take the manager's lock (attach,
// detach, log) while holding the target's lock.
//
// Lifetime: attaching does not transfer ownership; a target must be detached before it is
// destroyed. LogTarget's destructor does not detach: by the time it runs the derived part,
// Write included, is gone, so a derived class detaches in its own destructor (every
// BaseConsoleLogTarget does).
class LogTarget {
 public:
  LogTarget();
  virtual ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Clears the attached flag and removes every occurrence of this target from the
  // manager's list. Does nothing when not attached.
  virtual void Detach();

  // The class's name; the manager's find-target entry looks targets up by it.
  virtual const char* TypeName() const;

  // The template for rendering `record`; every target here returns its stored template.
  // The text stays valid until the template is next configured.
  virtual const char* LineTemplate(const LogRecord& record) const;

  // Writes one record; answers whether it was written.
  virtual bool Write(const LogRecord& record) = 0;

  // Appends this target to the manager's list, creating the manager if there is none.
  // Does nothing when already attached, or when the manager cannot be created.
  void Attach();
  bool IsAttached() const { return attached_.load(std::memory_order_acquire); }

  void SetLevel(LogLevel level);
  LogLevel Level() const;
  // Stores `enabled AND NOT disabled` as the enabled groups, and `disabled` unchanged.
  void SetGroups(LogGroups enabled, LogGroups disabled);
  LogGroups EnabledGroups() const;
  LogGroups DisabledGroups() const;

  // Detaches, applies every setting of `config` (the enabled groups minus the disabled
  // ones) and attaches again, so the target moves to the end of the manager's list.
  void Configure(const LogTargetConfig& config);

  // The C table of this target. Owned by the target.
  LogTargetInterface* Interface() { return &interface_; }

 protected:
  // Points the table's write entry at Write. Until a concrete target calls this (in its
  // constructor), the write entry answers false and writes nothing, so a record never
  // reaches a target whose Write does not exist yet.
  void RouteWriteEntryToWrite();

  // The target's lock, recursive so that a target may call its own setters while writing.
  Platform::RecursiveLock& Lock() const { return lock_; }

 private:
  friend class LogManager;

  // The table together with the target that owns it, so that an entry can find its target
  // from the table's address without knowing the target's layout.
  struct OwnedInterface : LogTargetInterface {
    LogTarget* owner;
  };
  static LogTarget& Owner(LogTargetInterface* self);
  static bool WriteNothing(LogTargetInterface* self, const LogRecord* record);
  static bool WriteThroughTarget(LogTargetInterface* self, const LogRecord* record);

  // Settings without attaching; used by Configure and for the manager's built-in targets.
  void ApplySettings(const LogTargetConfig& config);

  OwnedInterface interface_;
  // Written under the manager's lock; read anywhere.
  std::atomic<bool> attached_{false};
  mutable Platform::RecursiveLock lock_;
  LogLevel level_ = kLevelWarn;
  LogGroups enabledGroups_ = 0;
  LogGroups disabledGroups_ = 0;
  std::string lineTemplate_ = kDefaultLineTemplate;
};

}  // namespace Vexa
