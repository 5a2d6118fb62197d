#include "plugin.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "plugin_choice.h"
#include "system.h"

namespace VexaHost {
namespace {

// While the entry runs: a plugin that refuses the core ends the process with abort() after
// writing its report; one line of ours then says what happened before the process goes.
void SayRefusedAndAbort(int) {
  static const char kLine[] =
      "vexa-host: the plugin ended the process while loading (its report is above); it does not "
      "support the core version given with --core-version\n";
  (void)!write(STDERR_FILENO, kLine, sizeof kLine - 1);
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

// Unloads a plugin's library, except under the leak checker: unloading would orphan the
// emergency pool of the C++ runtime the library carries, which the checker then reports.
void UnloadLibrary(void* library) {
#if defined(__SANITIZE_ADDRESS__)
  static_cast<void>(library);
#else
  CloseLibrary(library);
#endif
}

bool ParseNumber(const std::string& text, std::size_t& at, uint32_t& number) {
  const std::size_t start = at;
  uint64_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && value <= UINT32_MAX) {
    value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
  }
  number = static_cast<uint32_t>(value);
  return at > start && at - start <= 9;
}

}  // namespace

std::string ApiVersion::Text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

bool ApiVersion::Parse(const std::string& text, ApiVersion& version) {
  std::size_t at = 0;
  ApiVersion parsed;
  const bool ok = ParseNumber(text, at, parsed.major) && at < text.size() && text[at++] == '.' &&
                  ParseNumber(text, at, parsed.minor) && at < text.size() && text[at++] == '.' &&
                  ParseNumber(text, at, parsed.patch) && at == text.size();
  if (ok) {
    version = parsed;
  }
  return ok;
}

std::unique_ptr<LoadedPlugin> LoadedPlugin::Load(const std::string& path, const std::string& entry,
                                                 const ApiVersion& core, std::string& error) {
  void* library = OpenLibrary(path, error);
  if (library == nullptr) {
    error = "cannot load the plugin: " + error;
    return nullptr;
  }
  void* symbol = FindSymbol(library, entry);
  if (symbol == nullptr) {
    error = "the plugin " + path + " has no entry \"" + entry +
            "\"; name its entry with --plugin PATH:ENTRY (or --entry ENTRY for a single plugin)";
    UnloadLibrary(library);
    return nullptr;
  }
  std::unique_ptr<LoadedPlugin> plugin(new LoadedPlugin(library, path, entry));
  HostLoadRecord& record = plugin->record_;
  record.apiMajor = core.major;
  record.apiMinor = core.minor;
  record.apiPatch = core.patch;
  HostLog(LogLevel::Okay,
          "loading " + path + " (entry " + entry + ") for core plugin API " + core.Text());
  void (*load)(HostLoadRecord*);
  std::memcpy(&load, &symbol, sizeof load);
  const auto previous = std::signal(SIGABRT, SayRefusedAndAbort);
  load(&record);
  std::signal(SIGABRT, previous);

  const HostCallbackTable* callbacks = record.callbacks;
  if (callbacks == nullptr || callbacks->start == nullptr || callbacks->stop == nullptr ||
      callbacks->statistics == nullptr || record.module == nullptr) {
    error = "the plugin's entry \"" + entry + "\" returned no module and callbacks";
  } else if (record.fullName == nullptr || record.endpoints == nullptr) {
    error = "the plugin's entry \"" + entry + "\" returned no name or API table";
  } else if (record.endpoints->endpointCount != 0 && record.endpoints->endpoints == nullptr) {
    error = "the plugin's API table counts endpoints it does not give";
  }
  if (!error.empty()) {
    // A module that came back without its callbacks cannot be stopped: it is left behind, and
    // so is the library it lives in.
    plugin->library_ = nullptr;
    return nullptr;
  }
  plugin->moduleAlive_ = true;
  return plugin;
}

LoadedPlugin::LoadedPlugin(void* library, std::string path, std::string entry)
    : library_(library),
      path_(std::move(path)),
      entry_(std::move(entry)),
      name_(PluginName(path_)) {}

LoadedPlugin::~LoadedPlugin() {
  // A module still alive runs code of the library: it stays, and so does the library.
  if (library_ != nullptr && !moduleAlive_) {
    UnloadLibrary(library_);
  }
}

bool LoadedPlugin::Start(const HostContext& context) {
  return record_.callbacks->start(record_.module, &context) != 0;
}

void LoadedPlugin::Stop() {
  if (moduleAlive_) {
    record_.callbacks->stop(record_.module);
    moduleAlive_ = false;
  }
}

PluginStatistics LoadedPlugin::Statistics() {
  uint32_t words[14] = {};
  record_.callbacks->statistics(record_.module, words);
  uint64_t counters[6];
  for (int index = 0; index < 6; ++index) {
    counters[index] = words[2 * index] | static_cast<uint64_t>(words[2 * index + 1]) << 32;
  }
  return {counters[0], counters[1], counters[2], counters[3], counters[4], counters[5]};
}

}  // namespace VexaHost
