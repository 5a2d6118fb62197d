// vexa-host: loads the GeoInfo plugin as the platform's core does and serves it over HTTP on
// 127.0.0.1. See `vexa-host --help` and docs/host.md.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "event_stream.h"
#include "geo_locator.h"
#include "http_front.h"
#include "log.h"
#include "options.h"
#include "platform.h"
#include "plugin.h"
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

// The plugin built beside the host: next to the executable, else where this build put it.
std::string DefaultPlugin() {
  const std::filesystem::path folder = ExecutableFolder();
  const auto beside = folder / kPluginFileName;
  std::error_code error;
  return !folder.empty() && std::filesystem::exists(beside, error) ? beside.string()
                                                                   : VEXA_HOST_BUILT_PLUGIN;
}

std::unique_ptr<GeoLocator> OpenLocator(const Options& options, std::string& error) {
  return options.geoIpDatabase.empty() ? OpenGeoIpCountryData(error)
                                       : OpenMaxMindDb(options.geoIpDatabase, error);
}

void PrintStartup(const LoadedPlugin& plugin, const Options& options,
                  const std::filesystem::path& data, const ServiceProxy& service, int port) {
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const ServiceFaults faults = service.Faults();
  std::cout << "vexa-host: " << plugin.FullName() << " (plugin API " << plugin.Version().Text()
            << ", core " << options.coreVersion.Text() << ") from " << plugin.Path() << "\n"
            << "  data      " << data.string() << "\n"
            << "  geoip     " << service.Locator().Describe() << "\n"
            << "  service   public address " << service.PublicAddress() << ", deadline "
            << service.Deadline().count() << " ms, faults: error rate " << faults.errorRate
            << ", latency " << faults.latency.count() << " ms, silence rate " << faults.silenceRate
            << ", duplicate rate " << faults.duplicateRate << ", stray rate " << faults.strayRate
            << "\n"
            << "  platform  GeoInfo " << (options.enabled ? "enabled" : "disabled") << ", "
            << (options.signedIn ? std::string("signed in ") + kSignedInSession : "signed out")
            << "\n"
            << "listening on " << base << "\n"
            << "  console  " << base << "/\n"
            << "  try  curl " << base << "/kor-geoinfo/v1/whereami\n"
            << "       curl '" << base << "/kor-geoinfo/v1/getlocation?ip_address=8.8.8.8'\n"
            << "       curl -N " << base << "/events\n"
            << "       curl " << base << "/host/v1/api\n"
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

  PluginThread thread(options.maxCalls);
  std::unique_ptr<LoadedPlugin> plugin;
  const std::string path = options.plugin.empty() ? DefaultPlugin() : options.plugin;
  thread.Run([&] { plugin = LoadedPlugin::Load(path, options.entry, options.coreVersion, error); });
  if (plugin == nullptr) {
    return Fail(error);
  }

  Platform* platformOf = nullptr;  // the service proxy's answers go to the platform below
  ServiceProxy service(std::move(locator), options.publicAddress, options.serviceDeadline,
                       options.faults, [&platformOf](ServiceProxyAnswer answer) {
                         platformOf->QueueEvent(std::move(answer.eventName),
                                                std::move(answer.response), answer.due);
                       });
  EventStream events({kMaxEventClients});
  Platform platform({thread, *settings, *telemetry, service, events},
                    options.enabled ? R"({"Enabled":true})" : R"({"Enabled":false})",
                    options.signedIn ? std::optional<std::string>(kSignedInSession) : std::nullopt);
  platformOf = &platform;

  bool started = false;
  thread.Run([&] { started = plugin->Start(platform.Context()); });
  if (!started) {
    thread.Finish([&] { plugin->Stop(); });
    return Fail("the plugin refused to start");
  }
  HttpFront front(
      {*plugin, thread, platform, service, *settings, events, logRecords, options.maxBody});
  const int port = front.Bind(options.port);
  if (port < 0) {
    thread.Finish([&] { plugin->Stop(); });
    return Fail("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                " (in use?); choose another --port, or --port 0 for any free one");
  }
  PrintStartup(*plugin, options, data, service, port);

  std::thread serving([&] {
    front.Serve();
    RequestStop();  // should the server ever end on its own, the host ends too
  });
  HostLog(LogLevel::Always, "stopping on " + WaitForStop() + ": answering the requests in flight");
  events.CloseAll();
  logRecords.CloseAll();
  front.Stop();
  serving.join();
  thread.Finish([&] { plugin->Stop(); });
  plugin.reset();
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
