// vexa-host: loads platform plugins (GeoInfo by default) as the platform's core does and serves
// them over HTTP on 127.0.0.1. See `vexa-host --help` and docs/host.md.
//
// The plugins are loaded, then started, in the order given, and stopped in reverse; every call
// into any of them, their events included, happens on the one plugin thread. Should one not
// load or not start, or two claim one route, the host says which and ends before serving,
// having stopped those it started.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api_table.h"
#include "event_stream.h"
#include "geo_locator.h"
#include "http_front.h"
#include "log.h"
#include "options.h"
#include "platform.h"
#include "plugin.h"
#include "plugin_choice.h"
#include "plugin_thread.h"
#include "service_proxy.h"
#include "settings_store.h"
#include "system.h"
#include "telemetry_log.h"

namespace VexaHost {
namespace {

constexpr char kSignedInSession[] = R"({"state":"SUCCEEDED","profileId":7,"accountId":9})";

int Fail(const std::string& message, int status = 1) {
  std::cerr << "vexa-host: " << message << "\n";
  return status;
}

std::filesystem::path DataDirectory(const Options& options) {
  return options.dataDirectory.empty() ? DefaultDataFolder()
                                       : std::filesystem::path(options.dataDirectory);
}

using Plugins = std::vector<std::unique_ptr<LoadedPlugin>>;

// The GeoInfo plugin that came with the host: next to the executable, in the installed plugin
// folder, else where this build put it.
std::string DefaultPlugin() {
  for (const std::filesystem::path& folder : HostPluginFolders()) {
    std::error_code error;
    if (std::filesystem::exists(folder / kPluginFileName, error)) {
      return (folder / kPluginFileName).string();
    }
  }
  return VEXA_HOST_BUILT_PLUGIN;
}

// The plugins of the command line, found where they are; GeoInfo alone when none is given.
std::optional<std::vector<PluginChoice>> ChosenPlugins(const Options& options, std::string& error) {
  if (options.plugins.empty()) {
    return std::vector<PluginChoice>{{DefaultPlugin(),
                                      options.entry.empty() ? "load_kor_geoinfo" : options.entry,
                                      "kor_geoinfo"}};
  }
  std::vector<PluginChoice> choices;
  for (const std::string& text : options.plugins) {
    PluginChoice choice = ParsePluginChoice(text);
    if (!options.entry.empty()) {
      choice.entry = options.entry;
    }
    choice.path = LocatePlugin(choice.path, {VEXA_HOST_BUILD_TREE}, error);
    if (choice.path.empty()) {
      return std::nullopt;
    }
    choices.push_back(std::move(choice));
  }
  return choices;
}

// Stops the plugins in the reverse of their order on the plugin thread, which then finishes:
// the first `started` with a line each, those loaded but never started quietly, first. With
// `platform`, its routing of the plugins' requests to each other ends before any stops.
void StopPlugins(PluginThread& thread, Plugins& plugins, std::size_t started,
                 Platform* platform = nullptr) {
  thread.Finish([&] {
    if (platform != nullptr) {
      platform->RoutePluginRequests({});  // no plugin's request reaches one stopped
    }
    for (std::size_t index = plugins.size(); index-- > 0;) {
      if (index < started) {
        HostLog(LogLevel::Always, "stopping plugin " + plugins[index]->Name());
      }
      plugins[index]->Stop();
    }
  });
}

std::unique_ptr<GeoLocator> OpenLocator(const Options& options, std::string& error) {
  return options.geoIpDatabase.empty() ? OpenGeoIpCountryData(error)
                                       : OpenMaxMindDb(options.geoIpDatabase, error);
}

// The configuration namespaces at start: GeoInfo's from --disabled, then each --config.
std::map<std::string, std::string> InitialConfigs(const Options& options) {
  std::map<std::string, std::string> configs{
      {kGeoInfoNamespace, options.enabled ? R"({"Enabled":true})" : R"({"Enabled":false})"}};
  for (const auto& [name, config] : options.configs) {
    configs[name] = config;
  }
  return configs;
}

// The curl line of a plugin's first GET endpoint, its placeholders and required query
// arguments (as ?name={name}) left for the reader to fill.
std::string TryLine(const LoadedPlugin& plugin, const std::string& base) {
  std::string line;
  EachEndpoint(plugin.Endpoints(), [&](const HostEndpointRecord& endpoint) {
    if (!line.empty() || endpoint.uriTemplate == nullptr || endpoint.handler == nullptr ||
        HttpMethodOf(endpoint) != "GET") {
      return;
    }
    std::string query;
    EachArgument(endpoint, [&](const HostArgumentRecord& argument, HostArgumentPlace place) {
      if (place == HOST_ARGUMENT_QUERY && argument.optional == 0 && argument.name != nullptr) {
        query.append(query.empty() ? "?" : "&")
            .append(argument.name)
            .append("={")
            .append(argument.name)
            .append("}");
      }
    });
    line = "curl '" + base + endpoint.uriTemplate + query + "'";
  });
  return line;
}

void PrintStartup(const Plugins& plugins, const Options& options, const Platform& platform,
                  const std::filesystem::path& data, const ServiceProxy& service, int port) {
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const ServiceFaults faults = service.Faults();
  for (const auto& plugin : plugins) {
    std::cout << "vexa-host: " << plugin->FullName() << " (plugin API " << plugin->Version().Text()
              << ", core " << options.coreVersion.Text() << ") from " << plugin->Path() << "\n";
  }
  std::cout << "  data      " << data.string() << "\n"
            << "  geoip     " << service.Locator().Describe() << "\n"
            << "  service   public address " << service.PublicAddress() << ", deadline "
            << service.Deadline().count() << " ms, faults: error rate " << faults.errorRate
            << ", latency " << faults.latency.count() << " ms, silence rate " << faults.silenceRate
            << ", duplicate rate " << faults.duplicateRate << ", stray rate " << faults.strayRate
            << "\n";
  if (const std::string declared = service.Declared().Describe(); !declared.empty()) {
    std::cout << "            declared " << declared << "\n";
  }
  std::cout << "  platform  configuration " << platform.Configs() << ", "
            << (options.signedIn ? std::string("signed in ") + kSignedInSession : "signed out")
            << "\n"
            << "listening on " << base << "\n"
            << "  console  " << base << "/\n";
  const char* lead = "  try  ";
  for (const auto& plugin : plugins) {
    if (const std::string line = TryLine(*plugin, base); !line.empty()) {
      std::cout << std::exchange(lead, "       ") << line << "\n";
    }
  }
  std::cout << lead << "curl -N " << base << "/events\n"
            << "       curl " << base << "/host/v1/plugins\n"
            << "  Ctrl-C stops the host." << std::endl;
}

int Run(const Options& options) {
  PrepareForStop();
#if defined(__GLIBC__)
  // Memory freed at the top of a thread's heap is kept for the next request rather than handed
  // back with madvise after each one: every such call stops all cores for a TLB shootdown, which
  // cost the plugin thread a quarter of its time.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif

  const std::filesystem::path data = DataDirectory(options);
  std::optional<SettingsStore> settings;
  std::optional<TelemetryLog> telemetry;
  try {
    settings.emplace(data / "settings");
    telemetry.emplace(data / "telemetry.jsonl");
  } catch (const std::exception& failure) {
    return Fail("cannot use the data directory " + data.string() + ": " + failure.what());
  }
  std::string error;
  std::unique_ptr<GeoLocator> locator = OpenLocator(options, error);
  if (locator == nullptr) {
    return Fail(error);
  }
  if (options.trace) {
    SetEnvironment("VEXA_PLUGIN_TRACE", "1");
  }
  // The log's records from the start on, the plugin's loading included, for the console.
  EventStream logRecords({.maxClients = kMaxLogClients, .replay = kLogBacklog});
  SetLogListener([&logRecords](const LogRecord& record) {
    thread_local std::string json;  // its buffer serves every record of the thread
    json.clear();
    AppendLogRecordJson(json, record);
    logRecords.Publish("log", json);
  });
  struct ListenerEnd {
    ~ListenerEnd() { SetLogListener({}); }
  } listenerEnd;  // before logRecords goes

  DeclaredServices declared;
  if (!options.servicesFile.empty()) {
    std::optional<DeclaredServices> loaded = DeclaredServices::Load(options.servicesFile, error);
    if (!loaded) {
      return Fail(error);
    }
    declared = std::move(*loaded);
  }
  const std::optional<std::vector<PluginChoice>> choices = ChosenPlugins(options, error);
  if (!choices) {
    return Fail(error);
  }
  PluginThread thread(options.maxCalls);
  Plugins plugins;
  for (const PluginChoice& choice : *choices) {
    std::unique_ptr<LoadedPlugin> plugin;
    thread.Run([&] {
      plugin = LoadedPlugin::Load(choice.path, choice.entry, options.coreVersion, error);
    });
    if (plugin == nullptr) {
      StopPlugins(thread, plugins, 0);
      return Fail(error + (choices->size() > 1 ? "; no plugin started" : ""));
    }
    plugins.push_back(std::move(plugin));
  }
  // The tables are whole once loaded; they are looked at again once started, should a plugin
  // complete its own at start.
  if (const std::string conflict = RouteConflict(plugins); !conflict.empty()) {
    StopPlugins(thread, plugins, 0);
    return Fail(conflict + "; no plugin started");
  }

  Platform* platformOf = nullptr;  // the service proxy's answers go to the platform below
  ServiceProxy service(std::move(locator), options.publicAddress, options.serviceDeadline,
                       options.faults, [&platformOf](ServiceProxyAnswer answer) {
                         platformOf->QueueEvent(std::move(answer.eventName),
                                                std::move(answer.response), answer.due);
                       });
  service.Declare(std::move(declared));
  EventStream events({kMaxEventClients});
  Platform platform({thread, *settings, *telemetry, service, events}, plugins.size(),
                    InitialConfigs(options),
                    options.signedIn ? std::optional<std::string>(kSignedInSession) : std::nullopt);
  platformOf = &platform;

  for (std::size_t index = 0; index < plugins.size(); ++index) {
    bool started = false;
    thread.Run([&] {
      HostLog(LogLevel::Okay, "starting plugin " + plugins[index]->Name());
      started = plugins[index]->Start(platform.Context(index));
    });
    if (!started) {
      StopPlugins(thread, plugins, index + 1, &platform);  // Stop follows a refused Start too
      return Fail("the plugin " + plugins[index]->Name() + " refused to start" +
                  (plugins.size() > 1 ? "; the plugins started are stopped" : ""));
    }
  }
  if (const std::string conflict = RouteConflict(plugins); !conflict.empty()) {
    StopPlugins(thread, plugins, plugins.size(), &platform);
    return Fail(conflict + "; the plugins are stopped again");
  }
  HttpFront front(
      {plugins, thread, platform, service, *settings, events, logRecords, options.maxBody});
  const int port = front.Bind(options.port);
  if (port < 0) {
    StopPlugins(thread, plugins, plugins.size(), &platform);
    return Fail("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                " (in use?); choose another --port, or --port 0 for any free one");
  }
  PrintStartup(plugins, options, platform, data, service, port);

  std::thread serving([&] {
    front.Serve();
    RequestStop();  // should the server ever end on its own, the host ends too
  });
  HostLog(LogLevel::Always, "stopping on " + WaitForStop() + ": answering the requests in flight");
  events.CloseAll();
  logRecords.CloseAll();
  front.Stop();
  serving.join();
  StopPlugins(thread, plugins, plugins.size(), &platform);
  plugins.clear();
  HostLog(LogLevel::Always, "stopped");
  return 0;
}

}  // namespace
}  // namespace VexaHost

int main(int argc, char** argv) {
  std::string error;
  const std::optional<VexaHost::Options> options =
      VexaHost::ParseOptions(argc - 1, argv + 1, error);
  if (!options) {
    return VexaHost::Fail(error, 2);
  }
  if (options->help) {
    std::cout << VexaHost::Usage();
    return 0;
  }
  try {
    return VexaHost::Run(*options);
  } catch (const std::exception& failure) {
    return VexaHost::Fail(std::string("failed: ") + failure.what());
  }
}
