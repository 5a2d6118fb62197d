#include "platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string_view>
#include <type_traits>
#include <vector>

#include "endpoint_call.h"
#include "event_stream.h"
#include "host_value.h"
#include "json.h"
#include "log.h"
#include "service_proxy.h"
#include "settings_store.h"
#include "telemetry_log.h"

namespace VexaHost {
namespace {

// The event a resource's changes are announced under: "OnJsonApiEvent" and the URI's first
// three pieces joined by "_" (five for the configuration namespaces, which share a prefix).
std::string ResourceEventName(std::string_view uri) {
  std::vector<std::string_view> pieces{"OnJsonApiEvent"};
  for (std::size_t at = 0; at < uri.size();) {
    const std::size_t end = std::min(uri.find('/', at), uri.size());
    if (end > at) {
      pieces.push_back(uri.substr(at, end - at));
    }
    at = end + 1;
  }
  const std::size_t keep = pieces.size() >= 2 && pieces[1] == "kor-platform-config" ? 6 : 4;
  std::string name;
  for (std::size_t index = 0; index < pieces.size() && index < keep; ++index) {
    name.append(index > 0 ? "_" : "").append(pieces[index]);
  }
  return name;
}

const char* MethodName(HostMethod method) {
  static const char* const kNames[] = {"NONE",  "DELETE", "GET", "HEAD", "OPTIONS",
                                       "PATCH", "POST",   "PUT", "OTHER"};
  return method < sizeof kNames / sizeof kNames[0] ? kNames[method] : "OTHER";
}

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text.c_str(), text.size() + 1);
  }
  return copy;
}

void VEXA_HOST_CALL ReleaseResponse(HostResponse* response) {
  if (response == nullptr) {
    return;
  }
  FreeHostValue(response->result.value);
  if (response->result.ownsError != 0) {
    std::free(const_cast<char*>(response->result.error));
  }
  *response = HostResponse{};
}

// The text of positional argument `index`, if it is one.
std::optional<std::string> TextArgument(const HostRequest& request, uint32_t index) {
  if (index >= request.argumentCount) {
    return std::nullopt;
  }
  const HostValue& value = request.arguments[index].value;
  if ((value.kind != HOST_VALUE_STRING && value.kind != HOST_VALUE_BORROWED_STRING) ||
      (value.payload.string.text == nullptr && value.payload.string.length != 0)) {
    return std::nullopt;
  }
  return std::string(value.payload.string.text != nullptr ? value.payload.string.text : "",
                     value.payload.string.length);
}

constexpr char kJsonType[] = "application/json";
constexpr uint32_t kStreamChunk = 64 * 1024;
// The longest streamed answer the host reads for another plugin.
constexpr std::size_t kMaxRoutedStream = 64 << 20;

// The whole body a plugin streamed into `filled`, into `body`; false, with `error` saying why,
// when it does not read, would have the host wait, is too long or is not JSON.
bool ReadWholeStream(HostResponse& filled, std::string& body, std::string& error) {
  std::string chunk(kStreamChunk, '\0');
  for (uint8_t more = 1; more != 0;) {
    uint32_t size = kStreamChunk;
    more = 0;
    if (filled.streamRead(filled.stream, chunk.data(), &size, &more) == 0 || size > kStreamChunk) {
      error = "The plugin's streamed answer did not read";
      return false;
    }
    if (size == 0 && more != 0) {
      // Nothing yet: the host would have to wait inside the requesting plugin's call.
      error = "The plugin's streamed answer stalled; between plugins it is read without waiting";
      return false;
    }
    if (size > kMaxRoutedStream - body.size()) {
      error = "The plugin's streamed answer is longer than " + std::to_string(kMaxRoutedStream) +
              " bytes";
      return false;
    }
    body.append(chunk.data(), size);
  }
  if (const ParsedJson parsed = ParseJson(body); !parsed.Ok()) {
    error = "The plugin streamed an answer that is not JSON: " + parsed.error;
    return false;
  }
  return true;
}

}  // namespace

Platform::Platform(PlatformParts parts, std::size_t plugins,
                   std::map<std::string, std::string> configs, std::optional<std::string> session)
    : parts_(parts),
      listeners_(plugins),
      waiting_(plugins, 0),
      configs_(configs.begin(), configs.end()),
      session_(std::move(session)) {
  static_assert(std::is_standard_layout_v<Table>, "an entry finds its table from its first member");
  for (std::size_t plugin = 0; plugin < plugins; ++plugin) {
    auto& table = *tables_.emplace_back(std::make_unique<Table>());
    table.api = HostApiTable{Request, nullptr, SendEvent, Subscribe, Unsubscribe,
                             nullptr, Yield,   WaitBegin, WaitEnd,   Log};
    table.api.reserved2 = [](const HostApiTable*, uintptr_t, uintptr_t) {};
    table.api.reserved6 = [](const HostApiTable*, uintptr_t, uintptr_t, uintptr_t, double,
                             uintptr_t) {};
    table.platform = this;
    table.plugin = plugin;
    table.context = HostContext{&table.api, reinterpret_cast<HostHandle>(&table)};
  }
}

Platform::Table& Platform::TableOf(const HostApiTable* api) {
  return *reinterpret_cast<Table*>(const_cast<HostApiTable*>(api));
}

std::string Platform::Config(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto found = configs_.find(name);
  return found != configs_.end() ? found->second : "{}";
}

std::string Platform::Configs() const {
  std::lock_guard lock(mutex_);
  std::string json = "{";
  for (const auto& [name, config] : configs_) {
    json.append(json.size() > 1 ? "," : "").append(JsonQuoted(name)).append(":").append(config);
  }
  return json + "}";
}

std::string Platform::Session() const {
  std::lock_guard lock(mutex_);
  return session_.value_or("null");
}

std::size_t Platform::SubscriptionCount() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const Listener& listener : listeners_) {
    count += listener.count;
  }
  return count;
}

std::size_t Platform::SubscriptionCount(std::size_t plugin) const {
  std::lock_guard lock(mutex_);
  return listeners_[plugin].count;
}

void Platform::SetConfig(const std::string& name, std::string config, bool wait) {
  {
    std::lock_guard lock(mutex_);
    configs_[name] = config;
  }
  QueueResourceEvent(kConfigPrefix + name, "Update", config, wait);
}

void Platform::SetSession(std::optional<std::string> session, bool wait) {
  bool hadSession;
  {
    std::lock_guard lock(mutex_);
    hadSession = session_.has_value();
    session_ = session;
  }
  const char* eventType = !session ? "Delete" : hadSession ? "Update" : "Create";
  QueueResourceEvent(kSessionUri, eventType, session.value_or("null"), wait);
}

void Platform::QueueResourceEvent(const std::string& uri, const char* eventType,
                                  const std::string& data, bool wait) {
  std::string payload =
      "{\"uri\":" + JsonQuoted(uri) + ",\"eventType\":\"" + eventType + "\",\"data\":" + data + "}";
  auto delivered = std::make_shared<std::promise<void>>();
  std::future<void> done = delivered->get_future();
  parts_.thread.Deliver(
      [this, name = ResourceEventName(uri), payload = std::move(payload), delivered] {
        DeliverEvent(name, payload);
        delivered->set_value();
      });
  if (wait) {
    done.wait();
  }
}

void Platform::QueueEvent(std::string name, std::string payload,
                          PluginThread::Clock::time_point due) {
  parts_.thread.Deliver(
      [this, name = std::move(name), payload = std::move(payload)] { DeliverEvent(name, payload); },
      due);
}

void Platform::DeliverEvent(const std::string& name, const std::string& payload,
                            std::size_t sender) {
  for (std::size_t plugin = 0; plugin < listeners_.size(); ++plugin) {
    const auto& subscriptions = listeners_[plugin].subscriptions;
    const auto found = subscriptions.find(name);
    if (plugin == sender || found == subscriptions.end()) {
      continue;  // the plugin does not listen (any more)
    }
    const Subscription subscription = found->second;
    ParsedJson json = ParseJson(payload);
    HostValue value = MakeHostValue(json.document);
    const HostEvent event{name.c_str(), value, 0, subscription.context};
    subscription.callback(&event);
    FreeHostValue(value);
  }
}

// ------------------------------------------------------------------------------------------
// The entries

// The value the plugin is answered: the JSON body read, or a text answer (the service proxy's
// key) as a string. An ASCII text is made a string as it is, without a trip through JSON,
// which would give the same; any other goes that way, which refuses what is not UTF-8.
HostValue Platform::AnswerValue(const Answer& answer) {
  if (!answer.text) {
    return MakeHostValue(ParseJson(answer.json).document);
  }
  if (std::all_of(answer.json.begin(), answer.json.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return MakeHostValue(
        rapidjson::Value(rapidjson::StringRef(answer.json.data(), answer.json.size())));
  }
  return MakeHostValue(ParseJson(JsonQuoted(answer.json)).document);
}

void Platform::Request(const HostApiTable* api, HostResponse* response,
                       const HostRequest* request) {
  if (response == nullptr || request == nullptr) {
    HostLog(LogLevel::Error, "refused a request of the plugin without its records");
    return;
  }
  Answer answer{400, "", "Malformed request: no path"};
  if (request->path != nullptr && (request->argumentCount == 0 || request->arguments != nullptr)) {
    try {
      answer = Of(api).Serve(*request, TableOf(api).plugin);
    } catch (const std::exception& failure) {
      answer = {500, "", std::string("The host failed to serve the request: ") + failure.what()};
    }
  } else {
    HostLog(LogLevel::Error, "refused a malformed request of the plugin");
  }
  HostResponse filled{};
  filled.status = answer.status;
  filled.responseText = "";
  filled.release = ReleaseResponse;
  if (!answer.error.empty()) {
    filled.result.error = CopyText(answer.error);
    filled.result.ownsError = 1;
  } else {
    filled.result.value = AnswerValue(answer);
  }
  *response = filled;
}

Platform::Answer Platform::Serve(const HostRequest& request, std::size_t from) {
  const std::string_view target = request.path;
  const std::string path(target.substr(0, target.find('?')));
  const bool get = request.method == HOST_METHOD_GET;
  if (get && path.rfind(kConfigPrefix, 0) == 0 && path.size() > std::strlen(kConfigPrefix) &&
      path.find('/', std::strlen(kConfigPrefix)) == std::string::npos) {
    return {200, Config(path.substr(std::strlen(kConfigPrefix))), ""};
  }
  if (get && path == kSessionUri) {
    std::lock_guard lock(mutex_);
    return session_ ? Answer{200, *session_, ""} : Answer{404, "", "No one is signed in"};
  }
  if (path.rfind(kSettingsPrefix, 0) == 0) {
    return ServeSettings(request, path.substr(std::strlen(kSettingsPrefix)));
  }
  if (request.method == HOST_METHOD_POST && path.rfind(kTelemetryPrefix, 0) == 0) {
    return ServeTelemetry(request, path.substr(std::strlen(kTelemetryPrefix)));
  }
  if (request.method == HOST_METHOD_POST &&
      (path == kUuidRequestsUri || path == kMethodRequestsUri)) {
    return ServeServiceProxy(request, path == kMethodRequestsUri);
  }
  if (std::optional<Answer> routed = ServeFromPlugin(request, path, from)) {
    return std::move(*routed);
  }
  return {404, "", std::string("No resource at ") + MethodName(request.method) + " " + path};
}

void Platform::RoutePluginRequests(PluginEndpointLookup lookup) {
  endpoints_ = std::move(lookup);
}

// The request reaches the endpoint as an HTTP client's would: its target with the query, and its
// one positional argument as a JSON body. The answer's value is copied through JSON, which the
// requesting plugin gets as it would over HTTP (a blob as Base64).
std::optional<Platform::Answer> Platform::ServeFromPlugin(const HostRequest& request,
                                                          const std::string& path,
                                                          std::size_t from) {
  const char* method = request.method == HOST_METHOD_OTHER && request.methodName != nullptr
                           ? request.methodName
                           : MethodName(request.method);
  const std::optional<PluginEndpoint> found = endpoints_ ? endpoints_(method, path) : std::nullopt;
  if (!found) {
    return std::nullopt;
  }
  const std::string route = std::string(method) + " " + path, name(found->name);
  if (found->plugin == from) {
    return Answer{508, "",
                  "The host does not route a plugin's request to the plugin itself: " + route +
                      " is " + name + "'s own endpoint"};
  }
  if (waiting_[found->plugin] > 0) {
    return Answer{508, "",
                  "The host does not route " + route + " to " + name +
                      ", which is waiting for a request of its own to another plugin"};
  }
  if (request.argumentCount > 1 ||
      (request.argumentCount == 1 && request.arguments[0].name != nullptr)) {
    return Answer{400, "",
                  "A request to another plugin's endpoint carries one unnamed argument at most: "
                  "its body"};
  }
  std::string body, error;
  if (request.argumentCount == 1 && !WriteHostValueJson(request.arguments[0].value, body, error)) {
    return Answer{400, "", "Malformed request body: " + error};
  }
  EndpointRequestParts parts{method, request.path, {}, "", body};
  if (!body.empty()) {
    parts.headers.emplace_back("Content-Type", kJsonType);
    parts.contentType = kJsonType;
  }
  const EndpointRequest call(std::move(parts), *found->endpoint,
                             tables_[found->plugin]->context.handle);
  HostResponse filled{};
  struct Release {
    HostResponse& filled;
    ~Release() { ReleaseEndpointResponse(filled); }  // through the answering plugin's own
  } release{filled};
  ++waiting_[from];
  found->endpoint->handler(&filled, &call.record);  // a handler never throws
  --waiting_[from];
  EndpointAnswer read = ReadEndpointAnswer(filled);
  if (read.streamed && !ReadWholeStream(filled, read.body, read.error)) {
    read.status = 502;
  }
  if (!read.error.empty() || read.body.empty()) {
    return Answer{static_cast<uint32_t>(read.status), "",
                  read.error.empty() ? "The plugin answered an error without a text" : read.error};
  }
  return Answer{static_cast<uint32_t>(read.status), std::move(read.body), ""};
}

Platform::Answer Platform::ServeSettings(const HostRequest& request, const std::string& key) {
  if (!SettingsStore::IsValidKey(key)) {
    return {400, "", SettingsStore::BadKeyMessage(key)};
  }
  if (request.method == HOST_METHOD_GET) {
    std::optional<std::string> document = parts_.settings.Get(key);
    return document ? Answer{200, *document, ""} : Answer{404, "", "No settings under " + key};
  }
  if (request.method != HOST_METHOD_PATCH) {
    return {405, "",
            std::string("Settings are read with GET and changed with PATCH, not ") +
                MethodName(request.method)};
  }
  std::string patch, error;
  if (request.argumentCount != 1 || !WriteHostValueJson(request.arguments[0].value, patch, error)) {
    return {400, "",
            "A settings PATCH carries one JSON object" +
                (error.empty() ? std::string() : ": " + error)};
  }
  const SettingsPatchResult result = parts_.settings.Patch(key, ParseJson(patch).document);
  return {result.Status(), result.Ok() ? result.document : "", result.error};
}

Platform::Answer Platform::ServeTelemetry(const HostRequest& request, const std::string& name) {
  std::string data = "null", error;
  if (name.empty()) {
    return {400, "", "A telemetry event needs a name"};
  }
  if (request.argumentCount > 0 && !WriteHostValueJson(request.arguments[0].value, data, error)) {
    return {400, "", "Malformed telemetry data: " + error};
  }
  if (!parts_.telemetry.Append(name, ParseJson(data).document, error)) {
    return {500, "", "Telemetry not written: " + error};
  }
  return {200, "null", ""};
}

Platform::Answer Platform::ServeServiceProxy(const HostRequest& request, bool methodRequest) {
  // Positional: service, method, [reply method, reply text,] host handle, payload.
  const uint32_t expected = methodRequest ? 6 : 4;
  ServiceProxyCall call;
  std::optional<std::string> service = TextArgument(request, 0), method = TextArgument(request, 1),
                             payload = TextArgument(request, expected - 1);
  std::optional<std::string> replyMethod = methodRequest ? TextArgument(request, 2) : "",
                             replyText = methodRequest ? TextArgument(request, 3) : "";
  if (request.argumentCount != expected || !service || !method || !payload || !replyMethod ||
      !replyText || (methodRequest && replyMethod->empty())) {
    return {400, "",
            methodRequest ? "A service proxy method request carries the service, method, reply "
                            "method, reply text, handle and payload text"
                          : "A service proxy request carries the service, method, handle and "
                            "payload text"};
  }
  call.service = std::move(*service);
  call.method = std::move(*method);
  call.payload = std::move(*payload);
  call.replyMethod = std::move(*replyMethod);
  call.replyText = std::move(*replyText);
  return {200, parts_.serviceProxy.Submit(call), "", true};
}

void Platform::SendEvent(const HostApiTable* api, const HostEvent* event) {
  std::string json, error;
  if (event == nullptr || event->name == nullptr) {
    HostLog(LogLevel::Error, "refused an event of the plugin without a name");
  } else if (!WriteHostValueJson(event->payload, json, error)) {
    HostLog(LogLevel::Error,
            std::string("refused the plugin's event ") + event->name + ": " + error);
  } else {
    // Queued for the other plugins before a client of /events sees it: what a client does next
    // comes to them after it.
    const Table& table = TableOf(api);
    Platform& platform = *table.platform;
    if (platform.tables_.size() > 1) {
      platform.parts_.thread.Deliver(
          [&platform, name = std::string(event->name), json, sender = table.plugin] {
            platform.DeliverEvent(name, json, sender);
          });
    }
    platform.parts_.events.Publish(event->name, json);
  }
}

void Platform::Subscribe(const HostApiTable* api, const char* name, HostHandle,
                         HostEventCallback callback, void* context, uint32_t flags) {
  if (name == nullptr || callback == nullptr) {
    HostLog(LogLevel::Error, "refused a subscription of the plugin without a name or callback");
    return;
  }
  Table& table = TableOf(api);
  Listener& listener = table.platform->listeners_[table.plugin];
  listener.subscriptions[name] = Subscription{callback, context, flags};
  std::lock_guard lock(table.platform->mutex_);
  listener.count = listener.subscriptions.size();
}

void Platform::Unsubscribe(const HostApiTable* api, const char* name, HostHandle) {
  if (name == nullptr) {
    HostLog(LogLevel::Error, "refused an unsubscription of the plugin without a name");
    return;
  }
  Table& table = TableOf(api);
  Listener& listener = table.platform->listeners_[table.plugin];
  if (const auto found = listener.subscriptions.find(std::string_view(name));
      found != listener.subscriptions.end()) {
    listener.subscriptions.erase(found);
  }
  std::lock_guard lock(table.platform->mutex_);
  listener.count = listener.subscriptions.size();
}

void Platform::Yield(const HostApiTable* api) {
  Of(api).parts_.thread.YieldOnce();
}

void Platform::WaitBegin(const HostApiTable*, const char*, uintptr_t) {}

void Platform::WaitEnd(const HostApiTable*) {}

void Platform::Log(const HostApiTable*, int32_t level, const char* message) {
  if (message == nullptr) {
    HostLog(LogLevel::Error, "refused a log record of the plugin without a text");
    return;
  }
  VexaHost::Log(level, "plugin", message);
}

}  // namespace VexaHost
