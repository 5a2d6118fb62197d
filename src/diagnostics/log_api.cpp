#include "diagnostics/log_api.h"

#include "diagnostics/log.h"
#include "diagnostics/log_groups.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_manager.h"

namespace Vexa {

namespace {

// Runs `operation` on the current manager, or answers `fallback` when there is none.
template <typename Operation, typename Result>
Result WithManager(Operation operation, Result fallback) {
  LogManager* manager = LogManager::Instance();
  return manager != nullptr ? operation(*manager) : fallback;
}

template <typename Operation>
void WithManager(Operation operation) {
  if (LogManager* manager = LogManager::Instance()) {
    operation(*manager);
  }
}

constexpr LogTargetInterface* kNoTarget = nullptr;

const LogApi kLogApi = {
    .version = [] { return kLogApiVersion; },
    .init = [] { LogManager::Init(); },
    .shutdown = [] { LogManager::Shutdown(); },
    .setLevel =
        [](LogLevel level) {
          WithManager([level](LogManager& manager) { manager.SetLevel(level); });
        },
    .getLevel =
        [] {
          return WithManager([](LogManager& manager) { return manager.Level(); }, LogLevel{0});
        },
    .setMutedGroups =
        [](LogGroups groups) {
          WithManager([groups](LogManager& manager) { manager.SetMutedGroups(groups); });
        },
    .getMutedGroups =
        [] {
          return WithManager([](LogManager& manager) { return manager.MutedGroups(); },
                             LogGroups{0});
        },
    .suppress = [] { WithManager([](LogManager& manager) { manager.Suppress(); }); },
    .resume = [] { WithManager([](LogManager& manager) { manager.Resume(); }); },
    .setReservedSwitch =
        [] { WithManager([](LogManager& manager) { manager.SetReservedSwitch(); }); },
    .clearReservedSwitch =
        [] { WithManager([](LogManager& manager) { manager.ClearReservedSwitch(); }); },
    .addTarget =
        [](LogTargetInterface* target) {
          WithManager([target](LogManager& manager) { manager.AddTarget(target); });
        },
    .removeTarget =
        [](LogTargetInterface* target) {
          WithManager([target](LogManager& manager) { manager.RemoveTarget(target); });
        },
    .findTarget =
        [](const char* typeName) {
          return WithManager(
              [typeName](LogManager& manager) { return manager.FindTarget(typeName); }, kNoTarget);
        },
    .stdOutTarget =
        [] {
          return WithManager([](LogManager& manager) { return manager.StdOutTarget().Interface(); },
                             kNoTarget);
        },
    .stdErrTarget =
        [] {
          return WithManager([](LogManager& manager) { return manager.StdErrTarget().Interface(); },
                             kNoTarget);
        },
    .debuggerTarget =
        [] {
          return WithManager(
              [](LogManager& manager) { return manager.DebuggerTarget().Interface(); }, kNoTarget);
        },
    .registerGroup = &RegisterGroup,
    .formatGroups = &FormatGroups,
    .formatLine = &FormatLine,
    .levelName = [](LogLevel level) { return LevelName(level); },
    .moduleName =
        [] {
          return WithManager([](LogManager& manager) { return manager.ModuleName(); },
                             kUnknownModuleName);
        },
    .localTime = &FillLocalTime,
    .timeStamp = &FormatTimeStamp,
    .fileTimeStamp = &FormatFileTimeStamp,
    .log = &LogV,
};

}  // namespace

const LogApi* GetLogApi() {
  return &kLogApi;
}

}  // namespace Vexa
