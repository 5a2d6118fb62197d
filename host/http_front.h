// The host's HTTP front on 127.0.0.1: the plugin's endpoints at their URIs, its events as a
// Server-Sent Events stream, the platform's resources, and the host's own API under /host/v1/.
//
//   GET  /, /console/{file}               the console (console.h)
//   GET  /kor-geoinfo/v1/...              the plugins' endpoints, found in their API tables
//   GET  /events                          the plugins' events (text/event-stream)
//   GET  /host/v1/log                     the host's log records (text/event-stream)
//   GET  /kor-platform-config/v1/namespaces/{name}, /kor-login/v1/session
//   GET, PATCH /kor-settings/v2/local/{key}
//   GET, PUT, DELETE /host/v1/session     GET, PUT /host/v1/faults
//   GET, PUT /host/v1/config (GeoInfo's namespace), /host/v1/config/{name}
//   GET  /host/v1/api, /host/v1/openapi.json, /host/v1/statistics, /host/v1/health,
//        /host/v1/plugins
//
// Every error is a JSON body {"errorCode": "NOT_FOUND", "message": "..."} with its status: 404
// for an unknown path, 405 (with Allow) for a wrong method, 413 for a body over the limit, 400
// for a body that does not decode, with the decoder's message. Bad input changes nothing.
//
// Another web page open in the same browser must not be able to drive the host, so before any
// route is looked up:
//   - a request whose Host is not 127.0.0.1:PORT or localhost:PORT is refused with 421: a page
//     that points a name of its own at 127.0.0.1 (DNS rebinding) sends that name;
//   - a request whose Origin is another origin than those two is refused with 403;
//   - a PUT, PATCH, DELETE or POST must carry a Content-Type that a page of another origin
//     cannot send without asking first (application/json, or a body type the plugin decodes),
//     else 415: a form or a plain-text post never reaches a handler. The host answers no
//     such question (a CORS preflight) and sends no Access-Control-* header, not even the
//     plugin's.//
// Threading: requests are served by a pool of worker threads; every call into the plugin is
// handed to the plugin thread and waited for.
#pragma once

#include <httplib.h>
#if defined(_WIN32)
// httplib.h brings in windows.h, whose Yield macro would rename the host API's Yield entry.
#undef Yield
#endif

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "router.h"
#include "vexa/host_contract.h"

namespace VexaHost {

class EventStream;
class LoadedPlugin;
class Platform;
class PluginThread;
class ServiceProxy;
class SettingsStore;
struct PluginEndpoint;

struct FrontParts {
  // Started, in the order loaded; plugin i's calls carry platform.Context(i)'s handle.
  const std::vector<std::unique_ptr<LoadedPlugin>>& plugins;
  PluginThread& thread;
  Platform& platform;
  ServiceProxy& serviceProxy;
  SettingsStore& settings;
  EventStream& events;
  EventStream& log;  // the log records of /host/v1/log
  std::size_t maxBody;
};

// Worker threads serving requests; event-stream clients hold one each, so they are limited
// to fewer than this.
inline constexpr std::size_t kHttpWorkers = 32;
inline constexpr std::size_t kMaxEventClients = 24;
inline constexpr std::size_t kMaxLogClients = 4;
// The log records a new client of /host/v1/log gets first.
inline constexpr std::size_t kLogBacklog = 500;

class HttpFront {
 public:
  // Reads the plugins' API tables for their routes; the modules must be started, and no route
  // claimed twice (RouteConflict). Hands the platform the lookup of those routes for the plugins'
  // requests to each other (Platform::RoutePluginRequests), which the destructor takes back.
  explicit HttpFront(FrontParts parts);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Binds 127.0.0.1:`port` (0: a free one) and answers the port, or -1 when it cannot.
  int Bind(int port);
  // Serves until Stop; returns once the requests in flight are answered.
  void Serve();
  void Stop();

 private:
  void AddPluginEndpoints();
  void AddPlatformRoutes();
  // Adds a route of the host's own, with a warning when a plugin's route already takes it.
  void AddOwnRoute(std::string method, std::string_view path, RouteHandler handler);
  void AddHostRoutes();
  void Dispatch(const httplib::Request& request, httplib::Response& response);
  // Answers 421, 403, 404, 405 or 415 (see above) and true when `request` is not served;
  // else `found` is its route.
  bool Refuse(const httplib::Request& request, httplib::Response& response,
              RouteLookup& found) const;
  // Whether `authority` ("127.0.0.1:8470") names this host.
  bool IsOwnAuthority(std::string_view authority) const;
  void CallEndpoint(const HostEndpointRecord& endpoint, HostHandle handle,
                    const httplib::Request& request, httplib::Response& response);
  std::string PluginsJson();

  FrontParts parts_;
  int port_ = -1;
  std::string portSuffix_;  // ":8470"
  std::chrono::steady_clock::time_point started_;
  Router router_;
  std::vector<PluginEndpoint> pluginEndpoints_;  // the first routes of router_, in order
  httplib::Server server_;
};

// The first route (method and path template) two of `plugins` both claim, as a line naming it
// and both plugins; empty when there is none. The API tables are read: the plugins must be
// loaded (and not stopped). Placeholders match whatever their names:
// /a/{id} and /a/{key} are one route.
std::string RouteConflict(const std::vector<std::unique_ptr<LoadedPlugin>>& plugins);

// What every server of the host is set up with: kHttpWorkers workers, no delayed ACKs, long
// keep-alive. The benchmark's bare server takes the same, so that it measures the host alone.
void ApplyServerSettings(httplib::Server& server);

// {"errorCode": ..., "message": ...} with `status`; the code names the status
// ("NOT_FOUND", "SERVICE_UNAVAILABLE").
void SetErrorResponse(httplib::Response& response, int status, const std::string& message);

}  // namespace VexaHost
