// A plugin library loaded the way the platform's core loads it: dlopen, the entry called with
// the load record, and what it wrote back checked before anything else is used.
//
//   std::string error;
//   auto plugin = LoadedPlugin::Load(path, "load_kor_geoinfo", {18, 0, 0}, error);
//   plugin->Start(context);  ...  plugin->Stop();
//
// The entry checks the core's version itself; a plugin that refuses it ends the process with
// its fatal report, which is why Load says what it is about to do first.
//
// Threading: Start, Stop and Statistics call into the plugin and belong on the plugin thread;
// the API table and the names may be read from any thread while the module lives.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "vexa/host_contract.h"

namespace VexaHost {

struct ApiVersion {
  uint32_t major = 18, minor = 0, patch = 0;
  std::string Text() const;
  // "X.Y.Z", each a decimal number; false for anything else.
  static bool Parse(const std::string& text, ApiVersion& version);
};

// The plugin's six allocation counters, in the order Statistics writes them.
struct PluginStatistics {
  uint64_t peakBytes, peakAllocations, bytesAllocated, allocations, bytesFreed, frees;
};

class LoadedPlugin {
 public:
  // Loads the library at `path` and calls `entry` for a core of version `core`. Null, with
  // `error` saying why, when the library or the entry cannot be found or the record comes back
  // incomplete. Writes the line announcing the load to standard error first.
  static std::unique_ptr<LoadedPlugin> Load(const std::string& path, const std::string& entry,
                                            const ApiVersion& core, std::string& error);
  ~LoadedPlugin();  // unloads the library once Stop destroyed the module; Stop must have run
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  bool Start(const HostContext& context);
  // The module is destroyed, started or not (a module loaded but never started is stopped as
  // well); the API table is gone. Once only: a second call does nothing.
  void Stop();
  PluginStatistics Statistics();

  const HostEndpointTable& Endpoints() const { return *record_.endpoints; }
  const char* FullName() const { return record_.fullName; }
  ApiVersion Version() const { return {record_.apiMajor, record_.apiMinor, record_.apiPatch}; }
  const std::string& Path() const { return path_; }
  const std::string& Entry() const { return entry_; }
  // The name it is shown under: its file name without "lib" and extension ("kor_geoinfo").
  const std::string& Name() const { return name_; }

 private:
  LoadedPlugin(void* library, std::string path, std::string entry);

  void* library_;
  std::string path_, entry_, name_;
  HostLoadRecord record_{};
  bool moduleAlive_ = false;  // from a complete load until Stop
};

}  // namespace VexaHost
