#include "testing/test_host.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "bridge/host_value.h"
#include "codecs/json.h"
#include "value/property.h"

namespace Vexa::Testing {
namespace {

constexpr HostHandle kHostHandle = 42;
constexpr char kUuidRequestsUri[] = "/kor-login/v1/service-proxy-uuid-requests";
constexpr char kMethodRequestsUri[] = "/kor-login/v1/service-proxy-method-requests";

const char* MethodText(HostMethod method) {
  static const char* const kNames[] = {"NONE",  "DELETE", "GET", "HEAD", "OPTIONS",
                                       "PATCH", "POST",   "PUT", "OTHER"};
  return method < sizeof kNames / sizeof kNames[0] ? kNames[method] : "OTHER";
}

HostMethod MethodNumber(std::string_view text) {
  for (HostMethod method = HOST_METHOD_DELETE; method < HOST_METHOD_OTHER; ++method) {
    if (text == MethodText(method)) {
      return method;
    }
  }
  return HOST_METHOD_OTHER;
}

std::string_view WithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    if (end > at) {
      segments.push_back(path.substr(at, end - at));
    }
    at = end + 1;
  }
  return segments;
}

// Whether `path` fits the URI template: literal segments equal, "{name}" any one segment.
bool Matches(std::string_view uriTemplate, std::string_view path) {
  const std::vector<std::string_view> wanted = Segments(uriTemplate);
  const std::vector<std::string_view> given = Segments(path);
  if (wanted.size() != given.size()) {
    return false;
  }
  for (std::size_t index = 0; index < wanted.size(); ++index) {
    const bool placeholder =
        wanted[index].size() > 2 && wanted[index].front() == '{' && wanted[index].back() == '}';
    if (!placeholder && wanted[index] != given[index]) {
      return false;
    }
  }
  return true;
}

// A host value as compact JSON; "?" when it does not convert.
std::string JsonOf(const HostValue& value) {
  HostResult result{};
  BindingProperty property;
  const bool read = FromHostValue(result, property, value, "<test host>");
  ReleaseHostResult(result);
  return read ? ToJson(property) : "?";
}

BindingProperty Parsed(const std::string& json) {
  BindingResult parsed = ParseJson(json);
  return parsed ? std::move(parsed.value) : BindingProperty{};
}

// A JSON text a test gave; one that is not JSON is the test's mistake, said at once.
BindingProperty Given(const std::string& json, std::string_view what) {
  BindingResult parsed = ParseJson(json);
  if (!parsed) {
    throw std::invalid_argument(std::string(what) + ": not JSON (" +
                                std::string(parsed.ErrorText()) + "): " + json);
  }
  return std::move(parsed.value);
}

// The text as compact JSON with its keys in order.
std::string Compact(const std::string& json, std::string_view what) {
  return ToJson(Given(json, what));
}

std::string Quoted(std::string_view text) {
  BindingProperty property;
  property = std::string(text);
  return ToJson(property);
}

void VEXA_HOST_CALL ReleaseAnswer(HostResponse* response) {
  ReleaseHostResult(response->result);
  *response = HostResponse{};
}

// Reads a streamed body to its end; false on a read error.
bool ReadStream(HostResponse& response, std::string& body) {
  for (;;) {
    char buffer[4096];
    uint32_t size = sizeof buffer;
    uint8_t more = 0;
    if (response.streamRead(response.stream, buffer, &size, &more) == 0) {
      return false;
    }
    body.append(buffer, size);
    if (more == 0) {
      return true;
    }
  }
}

}  // namespace

TestHost::TestHost(PluginLoadFunction load) {
  FillTable();
  if (load == nullptr) {
    failure_ = "no load function";
    return;
  }
  load(&record_);
  if (record_.callbacks == nullptr || record_.module == nullptr) {
    failure_ = "the load function gave no module";
  }
}

TestHost::~TestHost() {
  if (record_.callbacks != nullptr && record_.module != nullptr) {
    record_.callbacks->stop(record_.module);
  }
}

bool TestHost::Start() {
  if (!failure_.empty()) {
    return false;
  }
  if (started_) {
    failure_ = "started twice";
    return false;
  }
  context_ = HostContext{&table_.api, kHostHandle};
  started_ = record_.callbacks->start(record_.module, &context_) != 0;
  if (!started_) {
    failure_ = "the module's Start refused (see LogLines)";
  }
  return started_;
}

std::string TestHost::FullName() const {
  return record_.fullName != nullptr ? record_.fullName : "";
}

Answer TestHost::Call(std::string_view method, std::string_view path, std::string_view body,
                      std::string_view contentType) {
  const HostMethod number = MethodNumber(method);
  const HostEndpointRecord* endpoint = nullptr;
  const HostEndpointTable* table = record_.endpoints;
  for (uint32_t index = 0; started_ && table != nullptr && index < table->endpointCount; ++index) {
    const HostEndpointRecord& candidate = table->endpoints[index];
    if (candidate.method == number && Matches(candidate.uriTemplate, WithoutQuery(path))) {
      endpoint = &candidate;
      break;
    }
  }
  if (endpoint == nullptr) {
    return {404, "",
            started_ ? "No endpoint for " + std::string(method) + " " + std::string(path)
                     : "The module is not started"};
  }
  const std::string target(path);
  const std::string type(contentType);
  const std::string methodName(method);
  HostRequest request{};
  request.method = number;
  request.methodName = number == HOST_METHOD_OTHER ? methodName.c_str() : nullptr;
  request.path = target.c_str();
  request.userData = endpoint->function.userData;
  request.contentType = body.empty() || type.empty() ? nullptr : type.c_str();
  request.body = body.empty() ? nullptr : reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = static_cast<uint32_t>(body.size());
  request.context = kHostHandle;

  HostResponse response{};
  endpoint->handler(&response, &request);
  Testing::Answer answer;
  const HostResult result = response.result;
  if (result.error != nullptr) {
    answer.error = result.error;
  } else if (response.stream != nullptr && response.streamRead != nullptr) {
    if (!ReadStream(response, answer.json)) {
      answer.error = "the body stream failed";
    }
  } else if (result.value.kind != HOST_VALUE_EMPTY) {
    answer.json = JsonOf(result.value);
  }
  answer.status = response.status != 0 ? response.status : answer.error.empty() ? 200 : 500;
  if (response.stream != nullptr && response.streamRelease != nullptr) {
    response.streamRelease(response.stream);
  }
  if (response.release != nullptr) {
    response.release(&response);
  }
  Flush();
  return answer;
}

void TestHost::Serve(const std::string& uri, const std::string& json) {
  served_[uri] = Compact(json, "Serve " + uri);
}

std::string TestHost::Served(const std::string& uri) const {
  const auto found = served_.find(uri);
  return found != served_.end() ? found->second : "";
}

void TestHost::Publish(const std::string& uri, const std::string& json,
                       std::string_view eventType) {
  if (eventType == "Delete") {
    served_.erase(uri);
  } else {
    served_[uri] = Compact(json, "Publish " + uri);
  }
  const std::string data = eventType == "Delete" || json.empty() ? "null" : json;
  Deliver(ResourceEventName(uri), "{\"uri\":" + Quoted(uri) + ",\"eventType\":" +
                                      Quoted(eventType) + ",\"data\":" + data + "}");
}

void TestHost::AnswerService(const std::string& service, const std::string& method,
                             const std::string& json) {
  serviceAnswers_[service + "." + method] = {Compact(json, "AnswerService " + service), "200", ""};
}

void TestHost::AnswerServiceError(const std::string& service, const std::string& method,
                                  const std::string& status, const std::string& error) {
  serviceAnswers_[service + "." + method] = {"", status, error};
}

int TestHost::Deliver(const std::string& name, const std::string& json) {
  const BindingProperty payloadValue = Given(json, "Deliver " + name);
  // Copied first: a callback may subscribe or unsubscribe.
  const std::vector<Subscription> subscriptions = subscriptions_;
  int delivered = 0;
  for (const Subscription& subscription : subscriptions) {
    if (subscription.name != name) {
      continue;
    }
    HostValue payload{};
    if (!ToHostValue(payloadValue, payload)) {
      continue;
    }
    const HostEvent event{subscription.name.c_str(), payload, 0, subscription.context};
    subscription.callback(&event);
    ReleaseHostValue(payload);
    ++delivered;
  }
  Flush();
  return delivered;
}

void TestHost::Flush() {
  while (!queued_.empty()) {
    const QueuedEvent next = std::move(queued_.front());
    queued_.erase(queued_.begin());
    Deliver(next.name, next.json);
  }
}

std::string TestHost::ResourceEventName(std::string_view uri) {
  const std::vector<std::string_view> pieces = Segments(uri);
  const std::size_t keep = !pieces.empty() && pieces[0] == "kor-platform-config" ? 5 : 3;
  std::string name = "OnJsonApiEvent";
  for (std::size_t index = 0; index < pieces.size() && index < keep; ++index) {
    name.append("_").append(pieces[index]);
  }
  return name;
}

std::vector<std::string> TestHost::LogLines() const {
  const std::lock_guard lock(logMutex_);
  return log_;
}

std::vector<std::string> TestHost::Subscriptions() const {
  std::vector<std::string> names;
  for (const Subscription& subscription : subscriptions_) {
    names.push_back(subscription.name);
  }
  return names;
}

void TestHost::ClearRecorders() {
  requests_.clear();
  sent_.clear();
  waits_.clear();
  const std::lock_guard lock(logMutex_);
  log_.clear();
}

TestHost& TestHost::Of(const HostApiTable* api) {
  return *reinterpret_cast<const Table*>(api)->self;
}

void TestHost::FillTable() {
  table_.self = this;
  HostApiTable& api = table_.api;
  api.request = [](const HostApiTable* table, HostResponse* response, const HostRequest* request) {
    Of(table).ServeRequest(*response, *request);
  };
  api.sendEvent = [](const HostApiTable* table, const HostEvent* event) {
    Of(table).sent_.push_back({event->name, JsonOf(event->payload)});
  };
  api.subscribe = [](const HostApiTable* table, const char* name, HostHandle,
                     HostEventCallback callback, void* context, uint32_t) {
    Of(table).subscriptions_.push_back({name, callback, context});
  };
  api.unsubscribe = [](const HostApiTable* table, const char* name, HostHandle) {
    std::erase_if(Of(table).subscriptions_,
                  [name](const Subscription& subscription) { return subscription.name == name; });
  };
  api.yield = [](const HostApiTable* table) { Of(table).Flush(); };
  api.waitBegin = [](const HostApiTable* table, const char* label, uintptr_t) {
    Of(table).waits_.emplace_back(label);
  };
  api.waitEnd = [](const HostApiTable*) {};
  api.log = [](const HostApiTable* table, int32_t level, const char* message) {
    Of(table).Log(level, message);
  };
}

void TestHost::Log(int32_t level, const char* message) {
  const std::lock_guard lock(logMutex_);
  log_.push_back(std::to_string(level) + " " + message);
}

void TestHost::ServeRequest(HostResponse& response, const HostRequest& request) {
  std::vector<std::string> arguments;
  std::string line;
  for (uint32_t index = 0; index < request.argumentCount; ++index) {
    arguments.push_back(JsonOf(request.arguments[index].value));
    line += (index == 0 ? "" : ",") + arguments.back();
  }
  const std::string path(WithoutQuery(request.path));
  requests_.push_back(std::string(MethodText(request.method)) + " " + request.path + " [" + line +
                      "]");
  response = HostResponse{};
  response.responseText = "";
  response.release = &ReleaseAnswer;
  if (request.method == HOST_METHOD_POST &&
      (path == kUuidRequestsUri || path == kMethodRequestsUri)) {
    AnswerProxy(response, arguments, path == kMethodRequestsUri);
    return;
  }
  const auto served = served_.find(path);
  if (request.method == HOST_METHOD_GET && served != served_.end()) {
    response.status = 200;
    static_cast<void>(ToHostValue(Parsed(served->second), response.result.value));
    return;
  }
  if ((request.method == HOST_METHOD_PATCH || request.method == HOST_METHOD_PUT) &&
      arguments.size() == 1) {
    BindingProperty document =
        Parsed(served != served_.end() && request.method == HOST_METHOD_PATCH ? served->second
                                                                              : std::string("{}"));
    const BindingProperty change = Parsed(arguments[0]);
    if (change.Kind() != BindingPropertyKind::Structure) {
      response.status = 400;
      SetHostError(response.result, "A PATCH or PUT carries one JSON object");
      return;
    }
    if (document.Kind() != BindingPropertyKind::Structure) {
      document.MakeStructure();
    }
    for (const auto& [key, member] : change.Members()) {
      document.Member(key) = member;
    }
    served_[path] = ToJson(document);
    response.status = 200;
    static_cast<void>(ToHostValue(document, response.result.value));
    return;
  }
  response.status = 404;
  SetHostError(response.result,
               "No resource at " + std::string(MethodText(request.method)) + " " + path);
}

// Positional arguments: service, method, [reply method, reply text,] handle, payload text.
void TestHost::AnswerProxy(HostResponse& response, const std::vector<std::string>& arguments,
                           bool methodRequest) {
  if (arguments.size() != (methodRequest ? 6u : 4u)) {
    response.status = 400;
    SetHostError(response.result, "A service proxy request with the wrong arguments");
    return;
  }
  const auto text = [](const std::string& json) {
    const BindingProperty value = Parsed(json);
    return std::string(value.GetString());
  };
  const std::string service = text(arguments[0]), method = text(arguments[1]);
  const std::string reply = methodRequest ? text(arguments[2]) : "";
  const std::string key =
      methodRequest ? service + "." + reply : "uuid-" + std::to_string(nextUuid_++);
  const auto scripted = serviceAnswers_.find(service + "." + method);
  const ServiceAnswer answer =
      scripted != serviceAnswers_.end()
          ? scripted->second
          : ServiceAnswer{"", "404", "no answer scripted for " + service + "." + method};
  queued_.push_back(
      {methodRequest ? "OnServiceProxyMethodEvent" : "OnServiceProxyUuidEvent",
       "{\"uuid\":" + Quoted(methodRequest ? "" : key) + ",\"serviceName\":" + Quoted(service) +
           ",\"methodName\":" + Quoted(methodRequest ? reply : method) +
           ",\"payload\":" + Quoted(answer.payload) + ",\"status\":" + Quoted(answer.status) +
           ",\"error\":" + Quoted(answer.error) + "}"});
  response.status = 200;
  static_cast<void>(SetHostString(response.result.value, key));
}

}  // namespace Vexa::Testing
