// The platform behind the host, as the plugins see it through the host API table: the
// configuration namespaces and the login session (read with GET, announced by resource events),
// the local settings store, telemetry, the service proxy, event subscriptions and sending, the
// yield of a waiting plugin and its log.
//
//   Platform platform(parts, 2, {{"GeoInfo", R"({"Enabled":true})"}}, session);
//   plugins[i]->Start(platform.Context(i));  // on the plugin thread; a table for each plugin
//   platform.SetSession(session);            // from an HTTP worker: the plugins hear of it
//
// Each plugin has a host API table of its own, and so subscriptions of its own. An event one
// plugin sends goes to the /events clients and to every other plugin subscribed to its name,
// delivered on the plugin thread after the sending call has returned, as the platform does.
//
// A request that no resource of the platform answers goes to the endpoint of another plugin
// routed at its method and path, if there is one, as the platform routes it: that plugin's
// handler is called at once, on the plugin thread, and its answer is the request's. A plugin's
// request to itself, or to a plugin that is waiting for a request of its own (A to B to A), is
// refused with 508: that plugin is inside a host call, and re-entering its dispatcher there is
// not something a plugin is written for.
//
// Every entry of the table runs on the plugin thread (the plugin calls it there). Null or
// malformed records from the plugin are refused with a log line; a request is always
// answered, with an error text and status when it cannot be served.
//
// The configuration and the session change from other threads (the admin API): the change is
// stored at once and its resource event queued for the plugin; the caller may wait until the
// plugin has handled it.
#pragma once

#include <rapidjson/document.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_thread.h"
#include "vexa/host_contract.h"

namespace VexaHost {

class EventStream;
class ServiceProxy;
class SettingsStore;
class TelemetryLog;

inline constexpr char kConfigPrefix[] = "/kor-platform-config/v1/namespaces/";
inline constexpr char kGeoInfoNamespace[] = "GeoInfo";
inline constexpr char kSessionUri[] = "/kor-login/v1/session";
inline constexpr char kSettingsPrefix[] = "/kor-settings/v2/local/";
inline constexpr char kTelemetryPrefix[] = "/telemetry/v1/events/";
inline constexpr char kUuidRequestsUri[] = "/kor-login/v1/service-proxy-uuid-requests";
inline constexpr char kMethodRequestsUri[] = "/kor-login/v1/service-proxy-method-requests";

// A plugin's endpoint, as a request of another plugin reaches it.
struct PluginEndpoint {
  std::size_t plugin;                  // in the order loaded
  std::string_view name;               // the plugin's, for messages
  const HostEndpointRecord* endpoint;  // the plugin's, valid until it stops
};
// The plugin endpoint routed at `method` ("GET") and `path` (without its query), if any.
using PluginEndpointLookup =
    std::function<std::optional<PluginEndpoint>(std::string_view method, std::string_view path)>;

// What the platform serves besides its own state; all outlive the Platform.
struct PlatformParts {
  PluginThread& thread;
  SettingsStore& settings;
  TelemetryLog& telemetry;
  ServiceProxy& serviceProxy;
  EventStream& events;
};

class Platform {
 public:
  // For `plugins` plugins. `configs` are the configuration namespaces' documents by name
  // ({"GeoInfo": {"Enabled": true}}); `session` the login session's, or nothing when no one is
  // signed in.
  Platform(PlatformParts parts, std::size_t plugins, std::map<std::string, std::string> configs,
           std::optional<std::string> session);
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  // What Start of plugin `plugin` (0, 1, ... in the order loaded) is given; valid while the
  // Platform lives.
  const HostContext& Context(std::size_t plugin = 0) const { return tables_[plugin]->context; }

  // The current documents, as compact JSON: a namespace never set is {}, no session "null".
  std::string Config(const std::string& name = kGeoInfoNamespace) const;
  std::string Session() const;
  // The namespaces set so far, as {"GeoInfo": {...}, ...}.
  std::string Configs() const;

  // Replaces a configuration namespace, or the session (nothing: signed out), and queues its
  // resource event (Update, or Create for a session after none, Delete for none). With `wait`,
  // returns once the plugins have handled the event.
  void SetConfig(const std::string& name, std::string config, bool wait);
  void SetSession(std::optional<std::string> session, bool wait);

  // Queues the event `name` with `payload` (JSON) for the plugins' subscriptions, due at `due`;
  // the service proxy's answers come this way.
  void QueueEvent(std::string name, std::string payload,
                  PluginThread::Clock::time_point due = PluginThread::Clock::now());

  // On the plugin thread: from now on, a request that no resource answers goes to the endpoint
  // `lookup` finds, if any; an empty function routes none. Set once the plugins are started and
  // emptied before they stop.
  void RoutePluginRequests(PluginEndpointLookup lookup);

  // The number of events the plugins are subscribed to, all of them or plugin `plugin`'s, for
  // the health check.
  std::size_t SubscriptionCount() const;
  std::size_t SubscriptionCount(std::size_t plugin) const;

 private:
  struct Subscription {
    HostEventCallback callback;
    void* context;
    uint32_t flags;
  };
  static constexpr std::size_t kNoPlugin = static_cast<std::size_t>(-1);
  // A plugin's table. The table first: every entry finds the Platform and the plugin from the
  // table pointer it is handed.
  struct Table {
    HostApiTable api;
    Platform* platform;
    std::size_t plugin;
    HostContext context;
  };
  // A plugin's subscriptions.
  struct Listener {
    std::map<std::string, Subscription, std::less<>> subscriptions;  // plugin thread only
    std::size_t count = 0;                                           // under mutex_
  };
  static Table& TableOf(const HostApiTable* api);
  static Platform& Of(const HostApiTable* api) { return *TableOf(api).platform; }
  static void VEXA_HOST_CALL Request(const HostApiTable* api, HostResponse* response,
                                     const HostRequest* request);
  static void VEXA_HOST_CALL SendEvent(const HostApiTable* api, const HostEvent* event);
  static void VEXA_HOST_CALL Subscribe(const HostApiTable* api, const char* name, HostHandle handle,
                                       HostEventCallback callback, void* context, uint32_t flags);
  static void VEXA_HOST_CALL Unsubscribe(const HostApiTable* api, const char* name,
                                         HostHandle handle);
  static void VEXA_HOST_CALL Yield(const HostApiTable* api);
  static void VEXA_HOST_CALL WaitBegin(const HostApiTable* api, const char* label, uintptr_t);
  static void VEXA_HOST_CALL WaitEnd(const HostApiTable* api);
  static void VEXA_HOST_CALL Log(const HostApiTable* api, int32_t level, const char* message);

  // The answer to one request: a JSON body, or an error with its status.
  struct Answer {
    uint32_t status;
    std::string json;  // the body when error is empty
    std::string error;
    bool text = false;  // json holds the body's text itself, not JSON: a string value
  };
  static HostValue AnswerValue(const Answer& answer);
  // Serves `request` of plugin `from`.
  Answer Serve(const HostRequest& request, std::size_t from);
  // The answer of the plugin endpoint `request` reaches, if any; its `path` without the query.
  std::optional<Answer> ServeFromPlugin(const HostRequest& request, const std::string& path,
                                        std::size_t from);
  Answer ServeSettings(const HostRequest& request, const std::string& key);
  Answer ServeTelemetry(const HostRequest& request, const std::string& name);
  Answer ServeServiceProxy(const HostRequest& request, bool methodRequest);

  // Queues the resource event of `uri` with `eventType` and `data` (JSON), on the plugin
  // thread's delivery queue.
  void QueueResourceEvent(const std::string& uri, const char* eventType, const std::string& data,
                          bool wait);
  // On the plugin thread: hands the event to each plugin's subscription of its name, in the
  // order the plugins were loaded, but to `sender`'s.
  void DeliverEvent(const std::string& name, const std::string& payload,
                    std::size_t sender = kNoPlugin);

  PlatformParts parts_;
  std::vector<std::unique_ptr<Table>> tables_;  // one for each plugin; they do not move
  std::vector<Listener> listeners_;             // one for each plugin
  PluginEndpointLookup endpoints_;              // plugin thread only
  std::vector<std::size_t> waiting_;  // plugin thread only: each plugin's routed requests open
  mutable std::mutex mutex_;          // guards configs_, session_ and the counts
  std::map<std::string, std::string, std::less<>> configs_;
  std::optional<std::string> session_;
};

}  // namespace VexaHost
