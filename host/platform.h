// The platform behind the host, as the plugin sees it through the host API table: the
// configuration namespace and the login session (read with GET, announced by resource events),
// the local settings store, telemetry, the service proxy, event subscriptions and sending, the
// yield of a waiting plugin and its log.
//
//   Platform platform(thread, parts, initial);
//   plugin->Start(platform.Context());       // on the plugin thread
//   platform.SetSession(session);            // from an HTTP worker: the plugin hears of it
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

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "plugin_thread.h"
#include "vexa/host_contract.h"

namespace VexaHost {

class EventStream;
class ServiceProxy;
class SettingsStore;
class TelemetryLog;

inline constexpr char kConfigUri[] = "/kor-platform-config/v1/namespaces/GeoInfo";
inline constexpr char kSessionUri[] = "/kor-login/v1/session";
inline constexpr char kSettingsPrefix[] = "/kor-settings/v2/local/";
inline constexpr char kTelemetryPrefix[] = "/telemetry/v1/events/";
inline constexpr char kUuidRequestsUri[] = "/kor-login/v1/service-proxy-uuid-requests";
inline constexpr char kMethodRequestsUri[] = "/kor-login/v1/service-proxy-method-requests";

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
  // `config` is the configuration namespace's document ({"Enabled": true}); `session` the login
  // session's, or nothing when no one is signed in.
  Platform(PlatformParts parts, std::string config, std::optional<std::string> session);
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  // What Start is given; valid while the Platform lives.
  const HostContext& Context() const { return context_.context; }

  // The current documents, as compact JSON ("null" for no session).
  std::string Config() const;
  std::string Session() const;

  // Replaces the configuration, or the session (nothing: signed out), and queues its resource
  // event (Update, or Create for a session after none, Delete for none). With `wait`, returns
  // once the plugin has handled the event.
  void SetConfig(std::string config, bool wait);
  void SetSession(std::optional<std::string> session, bool wait);

  // Queues the event `name` with `payload` (JSON) for the plugin's subscription, due at `due`;
  // the service proxy's answers come this way.
  void QueueEvent(std::string name, std::string payload,
                  PluginThread::Clock::time_point due = PluginThread::Clock::now());

  // The number of events the plugin is subscribed to, for the health check.
  std::size_t SubscriptionCount() const;

 private:
  struct Subscription {
    HostEventCallback callback;
    void* context;
    uint32_t flags;
  };
  // The table first: every entry finds the Platform from the table pointer it is handed.
  struct Table {
    HostApiTable api;
    Platform* platform;
    HostContext context;
  };

  static Platform& Of(const HostApiTable* api);
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
  Answer Serve(const HostRequest& request);
  Answer ServeSettings(const HostRequest& request, const std::string& key);
  Answer ServeTelemetry(const HostRequest& request, const std::string& name);
  Answer ServeServiceProxy(const HostRequest& request, bool methodRequest);

  // Queues the resource event of `uri` with `eventType` and `data` (JSON), on the plugin
  // thread's delivery queue.
  void QueueResourceEvent(const char* uri, const char* eventType, const std::string& data,
                          bool wait);
  // On the plugin thread: hands the event to the plugin's subscription, if any.
  void DeliverEvent(const std::string& name, const std::string& payload);

  PlatformParts parts_;
  Table context_;
  mutable std::mutex mutex_;  // guards config_ and session_
  std::string config_;
  std::optional<std::string> session_;
  std::map<std::string, Subscription, std::less<>> subscriptions_;  // plugin thread only
  std::size_t subscriptionCount_ = 0;                               // under mutex_
};

}  // namespace VexaHost
