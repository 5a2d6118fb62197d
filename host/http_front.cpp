#include "http_front.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "api_description.h"
#include "console.h"
#include "endpoint_call.h"
#include "event_stream.h"
#include "host_value.h"
#include "json.h"
#include "log.h"
#include "openapi.h"
#include "platform.h"
#include "plugin.h"
#include "plugin_thread.h"
#include "service_proxy.h"
#include "settings_store.h"

namespace VexaHost {
namespace {

constexpr char kJson[] = "application/json";
constexpr uint32_t kStreamChunk = 64 * 1024;

// The status as an error code: "NOT_FOUND" for 404.
std::string ErrorCode(int status) {
  static const std::pair<int, const char*> kCodes[] = {{400, "BAD_REQUEST"},
                                                       {401, "UNAUTHORIZED"},
                                                       {403, "FORBIDDEN"},
                                                       {404, "NOT_FOUND"},
                                                       {405, "METHOD_NOT_ALLOWED"},
                                                       {408, "REQUEST_TIMEOUT"},
                                                       {409, "CONFLICT"},
                                                       {410, "GONE"},
                                                       {413, "PAYLOAD_TOO_LARGE"},
                                                       {414, "URI_TOO_LONG"},
                                                       {415, "UNSUPPORTED_MEDIA_TYPE"},
                                                       {421, "MISDIRECTED_REQUEST"},
                                                       {422, "UNPROCESSABLE_ENTITY"},
                                                       {429, "TOO_MANY_REQUESTS"},
                                                       {431, "REQUEST_HEADER_FIELDS_TOO_LARGE"},
                                                       {500, "INTERNAL_SERVER_ERROR"},
                                                       {501, "NOT_IMPLEMENTED"},
                                                       {502, "BAD_GATEWAY"},
                                                       {503, "SERVICE_UNAVAILABLE"},
                                                       {504, "GATEWAY_TIMEOUT"},
                                                       {508, "LOOP_DETECTED"}};
  for (const auto& [known, code] : kCodes) {
    if (known == status) {
      return code;
    }
  }
  return "HTTP_" + std::to_string(status);
}

// The media type of a Content-Type header, lower case and without parameters.
std::string MediaType(const httplib::Request& request) {
  std::string type = request.get_header_value("Content-Type");
  type.resize(std::min(type.find(';'), type.size()));
  while (!type.empty() && std::isspace(static_cast<unsigned char>(type.back()))) {
    type.pop_back();
  }
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char letter) { return static_cast<char>(std::tolower(letter)); });
  return type;
}

bool EqualsIgnoringCase(std::string_view one, std::string_view other) {
  return std::equal(one.begin(), one.end(), other.begin(), other.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// The methods whose body the server reads before a handler runs.
bool HasBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

// The request's path, without the query.
std::string_view TargetPath(const httplib::Request& request) {
  return std::string_view(request.target).substr(0, request.target.find('?'));
}

bool ChangesState(const std::string& method) {
  return method == "PUT" || method == "PATCH" || method == "DELETE" || method == "POST";
}

// Body types that a page of another origin can only send after asking the host first, which
// never answers: a form (application/x-www-form-urlencoded, multipart/form-data) or text/plain
// can be posted from anywhere, these cannot. The plugin decodes all four.
bool NeedsPreflight(std::string_view mediaType) {
  static constexpr std::string_view kTypes[] = {"application/json", "application/vnd.api+json",
                                                "application/x-msgpack", "application/x-yaml"};
  return std::find(std::begin(kTypes), std::end(kTypes), mediaType) != std::end(kTypes);
}

// A request body that must be a JSON object sent as such; the decoder's message otherwise.
std::optional<Json> ObjectBody(const httplib::Request& request, httplib::Response& response) {
  if (MediaType(request) != kJson) {
    SetErrorResponse(response, 415, "The body must be sent as Content-Type: application/json");
    return std::nullopt;
  }
  ParsedJson body = ParseJson(request.body);
  if (!body.Ok()) {
    SetErrorResponse(response, 400, "The body is not JSON: " + body.error);
    return std::nullopt;
  }
  if (!body.document.IsObject()) {
    SetErrorResponse(response, 400, "The body must be a JSON object");
    return std::nullopt;
  }
  return std::move(body.document);
}

void SetJson(httplib::Response& response, std::string json, int status = 200) {
  response.status = status;
  response.set_content(std::move(json), kJson);
}

// The login session as the admin API accepts it: a state the platform knows and unsigned ids.
std::string CheckSession(const Json& session) {
  static const char* const kStates[] = {"IN_PROGRESS", "SUCCEEDED", "LOGGING_OUT", "ERROR"};
  const auto state = session.FindMember("state");
  if (state == session.MemberEnd() || !state->value.IsString() ||
      std::none_of(std::begin(kStates), std::end(kStates),
                   [&](const char* known) { return state->value == known; })) {
    return "\"state\" must be one of IN_PROGRESS, SUCCEEDED, LOGGING_OUT, ERROR";
  }
  for (const char* id : {"profileId", "accountId"}) {
    const auto found = session.FindMember(id);
    if (found != session.MemberEnd() && !found->value.IsUint64()) {
      return std::string("\"") + id + "\" must be an unsigned integer";
    }
  }
  return "";
}

// The faults' shares of requests, by their names in /host/v1/faults.
constexpr std::pair<std::string_view, double ServiceFaults::*> kFaultRates[] = {
    {"errorRate", &ServiceFaults::errorRate},
    {"silenceRate", &ServiceFaults::silenceRate},
    {"duplicateRate", &ServiceFaults::duplicateRate},
    {"strayRate", &ServiceFaults::strayRate}};

std::string FaultsJson(const ServiceFaults& faults) {
  std::string json = "{\"latencyMs\":" + std::to_string(faults.latency.count());
  for (const auto& [name, rate] : kFaultRates) {
    json.append(",\"").append(name).append("\":").append(std::to_string(faults.*rate));
  }
  return json + "}";
}

// Applies the members of `body` to `faults`; the reason when one is unknown or out of range.
std::string ApplyFaults(const Json& body, ServiceFaults& faults) {
  for (const auto& member : body.GetObject()) {
    const std::string name = member.name.GetString();
    const bool number = member.value.IsNumber();
    const double value = number ? member.value.GetDouble() : -1;
    const auto rate = std::find_if(std::begin(kFaultRates), std::end(kFaultRates),
                                   [&](const auto& known) { return known.first == name; });
    if (rate != std::end(kFaultRates)) {
      if (!number || value < 0 || value > 1) {
        return "\"" + name + "\" must be a number from 0 to 1";
      }
      faults.*rate->second = value;
    } else if (name == "latencyMs") {
      if (!number || value < 0 || value > 3600 * 1000) {
        return "\"latencyMs\" must be a number of milliseconds from 0 to 3600000";
      }
      faults.latency = std::chrono::milliseconds(static_cast<int64_t>(value));
    } else {
      return "unknown fault \"" + name +
             "\" (latencyMs, errorRate, silenceRate, duplicateRate, strayRate)";
    }
  }
  return "";
}

// Every endpoint of `plugin` the front routes: those with a URI template and a handler.
template <typename Visit>
void EachRoutedEndpoint(const LoadedPlugin& plugin, Visit visit) {
  EachEndpoint(plugin.Endpoints(), [&](const HostEndpointRecord& endpoint) {
    if (endpoint.uriTemplate != nullptr && endpoint.handler != nullptr) {
      visit(endpoint);
    }
  });
}

PluginStatistics Add(const PluginStatistics& one, const PluginStatistics& other) {
  return {one.peakBytes + other.peakBytes,           one.peakAllocations + other.peakAllocations,
          one.bytesAllocated + other.bytesAllocated, one.allocations + other.allocations,
          one.bytesFreed + other.bytesFreed,         one.frees + other.frees};
}

std::string StatisticsJson(const PluginStatistics& counters) {
  return "{\"peakBytes\":" + std::to_string(counters.peakBytes) +
         ",\"peakAllocations\":" + std::to_string(counters.peakAllocations) +
         ",\"bytesAllocated\":" + std::to_string(counters.bytesAllocated) +
         ",\"allocations\":" + std::to_string(counters.allocations) +
         ",\"bytesFreed\":" + std::to_string(counters.bytesFreed) +
         ",\"frees\":" + std::to_string(counters.frees) + "}";
}

std::vector<NamedTable> NamedTables(const std::vector<std::unique_ptr<LoadedPlugin>>& plugins) {
  std::vector<NamedTable> tables;
  for (const auto& plugin : plugins) {
    tables.push_back({plugin->Name(), plugin->FullName(), &plugin->Endpoints()});
  }
  return tables;
}

std::string FullNamesJson(const std::vector<std::unique_ptr<LoadedPlugin>>& plugins) {
  std::string json = "[";
  for (const auto& plugin : plugins) {
    json.append(json.size() > 1 ? "," : "").append(JsonQuoted(plugin->FullName()));
  }
  return json + "]";
}

// The OpenAPI document of every plugin, titled with their full names.
std::string PluginsOpenApi(const std::vector<std::unique_ptr<LoadedPlugin>>& plugins) {
  std::string title;
  std::vector<const HostEndpointTable*> tables;
  for (const auto& plugin : plugins) {
    title.append(title.empty() ? "" : ", ").append(plugin->FullName());
    tables.push_back(&plugin->Endpoints());
  }
  return DescribeOpenApi(tables, {title, plugins.front()->Version().Text()});
}

// A path template with its placeholders unnamed: "/a/{}/b" for "/a/{id}/b".
std::string RouteShape(std::string_view pathTemplate) {
  std::string shape;
  for (std::string_view segment : PathSegments(pathTemplate)) {
    const bool placeholder = segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
    shape.append("/").append(placeholder ? "{}" : segment);
  }
  return shape;
}

// An HTTP request as the parts of an endpoint's request record: they point into the request,
// which outlives the call.
EndpointRequestParts HttpRequestParts(const httplib::Request& request) {
  EndpointRequestParts parts{
      request.method.c_str(), request.target.c_str(), {}, MediaType(request), request.body};
  parts.headers.reserve(request.headers.size());
  for (const auto& [name, value] : request.headers) {
    parts.headers.emplace_back(name, value.c_str());
  }
  return parts;
}

// A response the plugin filled, kept until its body has been sent: its stream is read and it is
// released on the plugin thread.
struct PluginAnswer {
  explicit PluginAnswer(PluginThread& thread) : thread(thread) {}
  PluginAnswer(const PluginAnswer&) = delete;
  PluginAnswer& operator=(const PluginAnswer&) = delete;
  ~PluginAnswer() {
    if (response.release != nullptr || response.stream != nullptr) {
      thread.Run([this] { Release(); });
    }
  }
  // On the plugin thread.
  void Release() { ReleaseEndpointResponse(response); }

  PluginThread& thread;
  HostResponse response{};
};

}  // namespace

void ApplyServerSettings(httplib::Server& server) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kHttpWorkers); };
  server.set_tcp_nodelay(true);  // without it, keep-alive answers wait 40 ms for a delayed ACK
  server.set_keep_alive_max_count(100000);
}

void SetErrorResponse(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content("{\"errorCode\":" + JsonQuoted(ErrorCode(status)) +
                           ",\"message\":" + JsonQuoted(message) + "}",
                       kJson);
}

HttpFront::HttpFront(FrontParts parts) : parts_(parts), started_(std::chrono::steady_clock::now()) {
  AddPluginEndpoints();
  AddPlatformRoutes();
  AddHostRoutes();
  // A plugin's request finds another plugin's endpoint as an HTTP client would; the host's own
  // routes are not for plugins.
  parts_.thread.Run([this] {
    parts_.platform.RoutePluginRequests(
        [this](std::string_view method, std::string_view path) -> std::optional<PluginEndpoint> {
          const RouteLookup found = router_.Find(method, path);
          if (found.handler == nullptr || found.route >= pluginEndpoints_.size()) {
            return std::nullopt;
          }
          return pluginEndpoints_[found.route];
        });
  });
  ApplyServerSettings(server_);
  server_.set_payload_max_length(parts_.maxBody);
  const auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    Dispatch(request, response);
  };
  server_.Get(".*", dispatch);
  server_.Post(".*", dispatch);
  server_.Put(".*", dispatch);
  server_.Patch(".*", dispatch);
  server_.Delete(".*", dispatch);
  server_.Options(".*", dispatch);
  // Unknown paths and methods are answered before any body is read: the answer does not
  // depend on it, and the server would otherwise first refuse a body it cannot read (a POST
  // without a length, say) with a less helpful 400.
  //
  // A GET, HEAD or OPTIONS request has no body the server would read: it is answered here at
  // once, with the route Refuse found, rather than after the server has matched its path
  // against the catch-all pattern above (a regular expression, once per request).
  server_.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        RouteLookup found;
        if (Refuse(request, response, found)) {
          return httplib::Server::HandlerResponse::Handled;
        }
        if (!HasBody(request.method)) {
          (*found.handler)(request, response, found.arguments);
          return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
      });
  server_.set_error_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) {
      return;
    }
    std::string message = "The request cannot be served";
    if (response.status == 413) {
      // The server reads form-encoded bodies itself, with a limit of its own.
      message =
          MediaType(request) == "application/x-www-form-urlencoded"
              ? "A form-encoded body is limited to 8192 bytes; send JSON as "
                "application/json"
              : "The body is larger than the limit of " + std::to_string(parts_.maxBody) + " bytes";
    }
    SetErrorResponse(response, response.status, message);
  });
  server_.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
        std::string what = "unknown failure";
        try {
          std::rethrow_exception(failure);
        } catch (const std::exception& exception) {
          what = exception.what();
        } catch (...) {
        }
        SetErrorResponse(response, 500, "The host failed: " + what);
      });
}

HttpFront::~HttpFront() {
  // Once the plugin thread has finished (the plugins stopped) there is nothing to empty.
  parts_.thread.Run([this] { parts_.platform.RoutePluginRequests({}); });
}

int HttpFront::Bind(int port) {
  if (port == 0) {
    port_ = server_.bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_.bind_to_port("127.0.0.1", port) ? port : -1;
  }
  portSuffix_ = ":" + std::to_string(port_);
  return port_;
}

void HttpFront::Serve() {
  server_.listen_after_bind();
}

void HttpFront::Stop() {
  server_.stop();
}

bool HttpFront::IsOwnAuthority(std::string_view authority) const {
  if (!authority.ends_with(portSuffix_)) {
    return false;
  }
  authority.remove_suffix(portSuffix_.size());
  return authority == "127.0.0.1" || EqualsIgnoringCase(authority, "localhost");
}

bool HttpFront::Refuse(const httplib::Request& request, httplib::Response& response,
                       RouteLookup& found) const {
  const std::string host = request.get_header_value("Host");
  if (!IsOwnAuthority(host)) {
    SetErrorResponse(response, 421,
                     "This host answers requests for 127.0.0.1:" + std::to_string(port_) +
                         " and localhost:" + std::to_string(port_) + " only, not for \"" + host +
                         "\"");
    return true;
  }
  if (request.has_header("Origin")) {
    const std::string origin = request.get_header_value("Origin");
    constexpr std::string_view kScheme = "http://";
    if (!origin.starts_with(kScheme) || !IsOwnAuthority(origin.substr(kScheme.size()))) {
      SetErrorResponse(response, 403,
                       "Requests from the page of another origin (" + origin + ") are refused");
      return true;
    }
  }
  const std::string_view path = TargetPath(request);
  found = router_.Find(request.method, path);
  if (found.handler == nullptr && !found.allowed.empty()) {
    SetErrorResponse(response, 405,
                     request.method + " is not allowed on " + std::string(path) +
                         " (allowed: " + found.allowed + ")");
    response.set_header("Allow", found.allowed);
    return true;
  }
  if (found.handler == nullptr) {
    SetErrorResponse(response, 404, "Nothing is served at " + std::string(path));
    return true;
  }
  if (const std::string type = MediaType(request);
      ChangesState(request.method) && !NeedsPreflight(type)) {
    SetErrorResponse(
        response, 415,
        request.method + " requests must be sent with Content-Type: " + kJson +
            (type.empty() ? std::string(" (this one has none)") : " (this one has " + type + ")"));
    return true;
  }
  return false;
}

void HttpFront::Dispatch(const httplib::Request& request, httplib::Response& response) {
  const RouteLookup found = router_.Find(request.method, TargetPath(request));
  if (found.handler != nullptr) {  // else refused before the body was read
    (*found.handler)(request, response, found.arguments);
  }
}

// The plugins' routes come first, so that their places are the places of pluginEndpoints_.
void HttpFront::AddPluginEndpoints() {
  for (std::size_t plugin = 0; plugin < parts_.plugins.size(); ++plugin) {
    const HostHandle handle = parts_.platform.Context(plugin).handle;
    EachRoutedEndpoint(*parts_.plugins[plugin], [&](const HostEndpointRecord& endpoint) {
      pluginEndpoints_.push_back({plugin, parts_.plugins[plugin]->Name(), &endpoint});
      router_.Add(HttpMethodOf(endpoint), endpoint.uriTemplate,
                  [this, &endpoint, handle](const httplib::Request& request,
                                            httplib::Response& response, const RouteArguments&) {
                    CallEndpoint(endpoint, handle, request, response);
                  });
    });
  }
}

std::string RouteConflict(const std::vector<std::unique_ptr<LoadedPlugin>>& plugins) {
  std::map<std::string, const LoadedPlugin*> claimed;  // "GET /a/{}" to its plugin
  std::string conflict;
  for (const auto& plugin : plugins) {
    EachRoutedEndpoint(*plugin, [&](const HostEndpointRecord& endpoint) {
      const auto [first, added] = claimed.emplace(
          HttpMethodOf(endpoint) + " " + RouteShape(endpoint.uriTemplate), plugin.get());
      if (!added && conflict.empty()) {
        conflict = "the route " + HttpMethodOf(endpoint) + " " + endpoint.uriTemplate +
                   " is claimed by two plugins: " + first->second->Name() + " (" +
                   first->second->Path() + ") and " + plugin->Name() + " (" + plugin->Path() + ")";
      }
    });
  }
  return conflict;
}

void HttpFront::CallEndpoint(const HostEndpointRecord& endpoint, HostHandle context,
                             const httplib::Request& request, httplib::Response& response) {
  // What the call fills on the plugin thread, in one place: the task captures only its address,
  // so that the function handed over fits in place and no call allocates for it.
  struct Call {
    const HostEndpointRecord& endpoint;
    const EndpointRequest request;
    httplib::Response& response;
    PluginAnswer answer;
    EndpointAnswer read;
  } call{endpoint,
         EndpointRequest(HttpRequestParts(request), endpoint, context),
         response,
         PluginAnswer(parts_.thread),
         {}};
  // On the plugin thread; it may start while another call waits for an answer.
  const std::function<void()> handle = [&call] {
    HostResponse& filled = call.answer.response;
    call.endpoint.handler(&filled, &call.request.record);
    for (uint32_t index = 0; filled.headers != nullptr && index < filled.headerCount; ++index) {
      const HostHeader& header = filled.headers[index];
      if (header.name != nullptr && header.value != nullptr &&
          !EqualsIgnoringCase(std::string_view(header.name).substr(0, 15), "Access-Control-")) {
        call.response.set_header(header.name, header.value);
      }
    }
    call.read = ReadEndpointAnswer(filled);
    if (!call.read.streamed) {
      call.answer.Release();  // here, rather than in another trip to this thread
    }
  };
  if (!parts_.thread.Run(handle, PluginThread::Nesting::InYield)) {
    SetErrorResponse(response, 503, "The host is stopping");
  } else if (!call.read.error.empty()) {
    SetErrorResponse(response, call.read.status, call.read.error);
  } else if (!call.read.streamed) {
    SetJson(response, std::move(call.read.body), call.read.status);
  } else {
    // The stream is read while the body is sent, after this returns: the provider takes over
    // the response (and releases it on the plugin thread when it goes).
    auto answer = std::make_shared<PluginAnswer>(parts_.thread);
    answer->response = std::exchange(call.answer.response, HostResponse{});
    response.status = call.read.status;
    response.set_chunked_content_provider(kJson, [this, answer](size_t, httplib::DataSink& sink) {
      std::string chunk(kStreamChunk, '\0');
      uint32_t size = kStreamChunk;
      uint8_t more = 0, read = 0;
      parts_.thread.Run([&] {
        HostResponse& filled = answer->response;
        read = filled.streamRead(filled.stream, chunk.data(), &size, &more);
      });
      if (read == 0 || size > kStreamChunk || !sink.write(chunk.data(), size)) {
        return false;
      }
      if (more == 0) {
        sink.done();
      }
      return true;
    });
  }
}

void HttpFront::AddOwnRoute(std::string method, std::string_view path, RouteHandler handler) {
  if (const RouteLookup found = router_.Find(method, path); found.handler != nullptr) {
    HostLog(LogLevel::Warn, "a plugin's route " + method + " " + std::string(path) +
                                " hides the host's own; the plugin's is served");
  }
  router_.Add(std::move(method), path, std::move(handler));
}

void HttpFront::AddPlatformRoutes() {
  AddOwnRoute("GET", std::string(kConfigPrefix) + "{name}",
              [this](auto&, httplib::Response& response, const RouteArguments& arguments) {
                SetJson(response, parts_.platform.Config(arguments.find("name")->second));
              });
  AddOwnRoute("GET", kSessionUri, [this](auto&, httplib::Response& response, auto&) {
    const std::string session = parts_.platform.Session();
    session == "null" ? SetErrorResponse(response, 404, "No one is signed in")
                      : SetJson(response, session);
  });
  const std::string settings = std::string(kSettingsPrefix) + "{key}";
  AddOwnRoute("GET", settings,
              [this](auto&, httplib::Response& response, const RouteArguments& arguments) {
                const std::string& key = arguments.find("key")->second;
                if (!SettingsStore::IsValidKey(key)) {
                  return SetErrorResponse(response, 400, SettingsStore::BadKeyMessage(key));
                }
                const std::optional<std::string> document = parts_.settings.Get(key);
                document ? SetJson(response, *document)
                         : SetErrorResponse(response, 404, "No settings under " + key);
              });
  AddOwnRoute("PATCH", settings,
              [this](const httplib::Request& request, httplib::Response& response,
                     const RouteArguments& arguments) {
                std::optional<Json> patch = ObjectBody(request, response);
                if (!patch) {
                  return;
                }
                const SettingsPatchResult result =
                    parts_.settings.Patch(arguments.find("key")->second, *patch);
                result.Ok()
                    ? SetJson(response, result.document)
                    : SetErrorResponse(response, static_cast<int>(result.Status()), result.error);
              });
}

void HttpFront::AddHostRoutes() {
  AddOwnRoute("GET", "/", [](auto&, httplib::Response& response, auto&) {
    ServeConsoleFile("index.html", response);
  });
  AddOwnRoute("GET", "/console/{file}",
              [](auto&, httplib::Response& response, const RouteArguments& arguments) {
                ServeConsoleFile(arguments.find("file")->second, response);
              });
  AddOwnRoute("GET", "/events", [this](auto&, httplib::Response& response, auto&) {
    if (!parts_.events.Attach(response)) {
      SetErrorResponse(response, 503, "Too many event stream clients; try again later");
    }
  });
  AddOwnRoute("GET", "/host/v1/log", [this](auto&, httplib::Response& response, auto&) {
    if (!parts_.log.Attach(response)) {
      SetErrorResponse(response, 503, "Too many log stream clients; try again later");
    }
  });
  AddOwnRoute("GET", "/host/v1/session", [this](auto&, httplib::Response& response, auto&) {
    SetJson(response, parts_.platform.Session());
  });
  AddOwnRoute("PUT", "/host/v1/session",
              [this](const httplib::Request& request, httplib::Response& response, auto&) {
                std::optional<Json> session = ObjectBody(request, response);
                if (!session) {
                  return;
                }
                if (const std::string problem = CheckSession(*session); !problem.empty()) {
                  return SetErrorResponse(response, 400, problem);
                }
                parts_.platform.SetSession(JsonText(*session), true);
                SetJson(response, parts_.platform.Session());
              });
  AddOwnRoute("DELETE", "/host/v1/session", [this](auto&, httplib::Response& response, auto&) {
    parts_.platform.SetSession(std::nullopt, true);
    SetJson(response, "null");
  });
  AddOwnRoute("GET", "/host/v1/config", [this](auto&, httplib::Response& response, auto&) {
    SetJson(response, parts_.platform.Config());
  });
  AddOwnRoute("PUT", "/host/v1/config",
              [this](const httplib::Request& request, httplib::Response& response, auto&) {
                std::optional<Json> config = ObjectBody(request, response);
                if (!config) {
                  return;
                }
                const auto enabled = config->FindMember("Enabled");
                if (enabled == config->MemberEnd() || !enabled->value.IsBool()) {
                  return SetErrorResponse(response, 400, "\"Enabled\" must be true or false");
                }
                parts_.platform.SetConfig(kGeoInfoNamespace, JsonText(*config), true);
                SetJson(response, parts_.platform.Config());
              });
  AddOwnRoute("GET", "/host/v1/config/{name}",
              [this](auto&, httplib::Response& response, const RouteArguments& arguments) {
                SetJson(response, parts_.platform.Config(arguments.find("name")->second));
              });
  // Any namespace, any object: what a plugin makes of it is the plugin's to check.
  AddOwnRoute("PUT", "/host/v1/config/{name}",
              [this](const httplib::Request& request, httplib::Response& response,
                     const RouteArguments& arguments) {
                std::optional<Json> config = ObjectBody(request, response);
                if (!config) {
                  return;
                }
                const std::string& name = arguments.find("name")->second;
                parts_.platform.SetConfig(name, JsonText(*config), true);
                SetJson(response, parts_.platform.Config(name));
              });
  AddOwnRoute("GET", "/host/v1/faults", [this](auto&, httplib::Response& response, auto&) {
    SetJson(response, FaultsJson(parts_.serviceProxy.Faults()));
  });
  AddOwnRoute("PUT", "/host/v1/faults",
              [this](const httplib::Request& request, httplib::Response& response, auto&) {
                std::optional<Json> body = ObjectBody(request, response);
                if (!body) {
                  return;
                }
                ServiceFaults faults = parts_.serviceProxy.Faults();
                if (const std::string problem = ApplyFaults(*body, faults); !problem.empty()) {
                  return SetErrorResponse(response, 400, problem);
                }
                parts_.serviceProxy.SetFaults(faults);
                SetJson(response, FaultsJson(faults));
              });
  AddOwnRoute("GET", "/host/v1/api", [this](auto&, httplib::Response& response, auto&) {
    SetJson(response, DescribeApiTables(NamedTables(parts_.plugins)));
  });
  // The tables do not change while the modules live: the document is written once.
  AddOwnRoute("GET", "/host/v1/openapi.json",
              [document = PluginsOpenApi(parts_.plugins)](auto&, httplib::Response& response,
                                                          auto&) { SetJson(response, document); });
  AddOwnRoute("GET", "/host/v1/statistics", [this](auto&, httplib::Response& response, auto&) {
    PluginStatistics counters{};
    for (const auto& plugin : parts_.plugins) {
      // Reading the counters changes nothing: it may happen inside a call's wait.
      if (!parts_.thread.Run([&] { counters = Add(counters, plugin->Statistics()); },
                             PluginThread::Nesting::InYield)) {
        return SetErrorResponse(response, 503, "The host is stopping");
      }
    }
    SetJson(response, StatisticsJson(counters));
  });
  AddOwnRoute("GET", "/host/v1/plugins", [this](auto&, httplib::Response& response, auto&) {
    const std::string plugins = PluginsJson();
    plugins.empty() ? SetErrorResponse(response, 503, "The host is stopping")
                    : SetJson(response, plugins);
  });
  AddOwnRoute("GET", "/host/v1/health", [this](auto&, httplib::Response& response, auto&) {
    const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - started_);
    SetJson(response,
            "{\"status\":\"ok\",\"plugin\":" + JsonQuoted(parts_.plugins.front()->FullName()) +
                ",\"pluginApi\":\"" + parts_.plugins.front()->Version().Text() +
                "\",\"uptimeSeconds\":" + std::to_string(uptime.count()) +
                ",\"subscriptions\":" + std::to_string(parts_.platform.SubscriptionCount()) +
                ",\"eventClients\":" + std::to_string(parts_.events.ClientCount()) +
                ",\"plugins\":" + FullNamesJson(parts_.plugins) + "}");
  });
}

// Each plugin's identity, counters and health; empty when the host is stopping.
std::string HttpFront::PluginsJson() {
  std::string json = "[";
  for (std::size_t index = 0; index < parts_.plugins.size(); ++index) {
    LoadedPlugin& plugin = *parts_.plugins[index];
    PluginStatistics counters{};
    if (!parts_.thread.Run([&] { counters = plugin.Statistics(); },
                           PluginThread::Nesting::InYield)) {
      return "";
    }
    uint32_t endpoints = 0;
    EachRoutedEndpoint(plugin, [&](const HostEndpointRecord&) { ++endpoints; });
    json.append(index > 0 ? "," : "")
        .append("{\"name\":" + JsonQuoted(plugin.Name()) +
                ",\"fullName\":" + JsonQuoted(plugin.FullName()) + ",\"pluginApi\":\"" +
                plugin.Version().Text() + "\",\"entry\":" + JsonQuoted(plugin.Entry()) +
                ",\"path\":" + JsonQuoted(plugin.Path()) +
                ",\"health\":{\"status\":\"ok\",\"endpoints\":" + std::to_string(endpoints) +
                ",\"subscriptions\":" + std::to_string(parts_.platform.SubscriptionCount(index)) +
                "},\"statistics\":" + StatisticsJson(counters) + "}");
  }
  return json + "]";
}

}  // namespace VexaHost
