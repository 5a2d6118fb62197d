#include "diagnostics/log_target.h"

#include <mutex>

#include "diagnostics/log_manager.h"

namespace Vexa {

LogTarget::LogTarget() {
  interface_.owner = this;
  interface_.version = [] { return kLogTargetInterfaceVersion; };
  interface_.setLevel = [](LogTargetInterface* self, LogLevel level) {
    Owner(self).SetLevel(level);
  };
  interface_.getLevel = [](LogTargetInterface* self) { return Owner(self).Level(); };
  interface_.setGroups = [](LogTargetInterface* self, LogGroups enabled, LogGroups disabled) {
    Owner(self).SetGroups(enabled, disabled);
  };
  interface_.getEnabledGroups = [](LogTargetInterface* self) {
    return Owner(self).EnabledGroups();
  };
  interface_.getDisabledGroups = [](LogTargetInterface* self) {
    return Owner(self).DisabledGroups();
  };
  interface_.getTypeName = [](LogTargetInterface* self) { return Owner(self).TypeName(); };
  interface_.getLineTemplate = [](LogTargetInterface* self, const LogRecord* record) {
    static const LogRecord kEmptyRecord{};
    return Owner(self).LineTemplate(record != nullptr ? *record : kEmptyRecord);
  };
  interface_.attach = [](LogTargetInterface* self) { Owner(self).Attach(); };
  interface_.detach = [](LogTargetInterface* self) { Owner(self).Detach(); };
  interface_.isAttached = [](LogTargetInterface* self) { return Owner(self).IsAttached(); };
  interface_.write = &WriteNothing;
}

LogTarget::~LogTarget() = default;

LogTarget& LogTarget::Owner(LogTargetInterface* self) {
  // Every table whose entries lead here is the OwnedInterface embedded in a LogTarget.
  return *static_cast<OwnedInterface*>(self)->owner;
}

bool LogTarget::WriteNothing(LogTargetInterface*, const LogRecord*) {
  return false;
}

bool LogTarget::WriteThroughTarget(LogTargetInterface* self, const LogRecord* record) {
  return record != nullptr && Owner(self).Write(*record);
}

void LogTarget::RouteWriteEntryToWrite() {
  interface_.write = &WriteThroughTarget;
}

void LogTarget::Detach() {
  if (LogManager* manager = LogManager::Instance()) {
    manager->DetachTarget(*this);
  } else {
    attached_.store(false, std::memory_order_release);
  }
}

void LogTarget::Attach() {
  if (LogManager* manager = LogManager::Obtain()) {
    manager->AttachTarget(*this);
  }
}

const char* LogTarget::TypeName() const {
  return "LogTarget";
}

const char* LogTarget::LineTemplate(const LogRecord&) const {
  std::lock_guard guard(lock_);
  return lineTemplate_.c_str();
}

void LogTarget::SetLevel(LogLevel level) {
  std::lock_guard guard(lock_);
  level_ = level;
}

LogLevel LogTarget::Level() const {
  std::lock_guard guard(lock_);
  return level_;
}

void LogTarget::SetGroups(LogGroups enabled, LogGroups disabled) {
  std::lock_guard guard(lock_);
  enabledGroups_ = enabled & ~disabled;
  disabledGroups_ = disabled;
}

LogGroups LogTarget::EnabledGroups() const {
  std::lock_guard guard(lock_);
  return enabledGroups_;
}

LogGroups LogTarget::DisabledGroups() const {
  std::lock_guard guard(lock_);
  return disabledGroups_;
}

void LogTarget::ApplySettings(const LogTargetConfig& config) {
  std::lock_guard guard(lock_);
  level_ = config.level;
  lineTemplate_ = config.lineTemplate;
  enabledGroups_ = config.enabledGroups & ~config.disabledGroups;
  disabledGroups_ = config.disabledGroups;
}

void LogTarget::Configure(const LogTargetConfig& config) {
  // The groups rule is applied together with the other settings, before attaching, so that
  // no record sees the enabled groups still containing disabled ones.
  Detach();
  ApplySettings(config);
  Attach();
}

}  // namespace Vexa
