// The endpoint handler: from a host's request to a bound function's call and back to the
// host's response. Argument binding and body decoding live in dispatch/request_binding.h; this
// file validates what the host handed in, routes, gathers the arguments in their order, calls
// the invoker and writes the response.
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/descriptors.h"
#include "binding/host_value.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "dispatch/invoker.h"
#include "dispatch/request_binding.h"
#include "dispatch/route_pattern.h"
#include "platform/clock.h"
#include "util/format.h"

namespace Vexa {
namespace {

// --- Answers that need no call ---

void AnswerFailure(HostResponse& response, std::string_view message, uint32_t status) {
  HttpCallState state;
  state.Fail(message);
  state.status = status;
  WriteHostResponse(response, state, nullptr);
}

// The last resort when handling a request threw (in practice: memory ran out). Drops whatever
// the response holds by now and answers with the message, or with the static fallback text when
// even that cannot be built. Never throws.
void AnswerInternalError(HostResponse& response, const char* what) noexcept {
  ReleaseHostResponse(&response);
  response.release = &ReleaseHostResponse;
  try {
    AnswerFailure(response, Format(kInternalErrorMessage, what), kInternalErrorStatus);
    return;
  } catch (...) {
    ReleaseHostResponse(&response);
  }
  // The frame of an answer from a call state that holds nothing, which allocates nothing (the
  // shared empty response text, no body, no headers), then the static text as the error.
  HttpCallState nothing;
  nothing.status = kInternalErrorStatus;
  WriteHostResponse(response, nothing, nullptr);
  SetHostError(response.result, kHostErrorFallbackText);
}

// Runs `handle` and turns anything it throws into an internal-error answer, so that nothing
// leaves the handler but the response.
template <typename Handle>
void AnswerGuarded(HostResponse& response, Handle&& handle) noexcept {
  try {
    handle();
  } catch (const std::exception& exception) {
    AnswerInternalError(response, exception.what());
  } catch (...) {
    AnswerInternalError(response, "unknown exception");
  }
}

// Empties the response the host handed over and makes it ours: from here on it carries our
// release function, whatever happens. What the record holds is released by the function stored
// with it (ours, when it carries an earlier answer); a record without one holds nothing that
// may be freed, and its other words are not read: a host may hand in an uninitialised record.
void TakeResponse(HostResponse& response) {
  if (const HostResponseRelease release = response.release; release != nullptr) {
    release(&response);
  }
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  response.release = &ReleaseHostResponse;
}

// --- Checking the request ---

// Why the host's request cannot be read safely, or nothing. Every pointer that a count or a
// length announces must be there, and every header must have both texts: the handler reads
// nothing it was not given.
std::optional<std::string> RequestProblem(const HostRequest& request) {
  if (request.path == nullptr) {
    return std::string(kMissingPathMessage);
  }
  if (request.headers == nullptr && request.headerCount != 0) {
    return Format(kMissingDataMessage, "headers", request.headerCount);
  }
  if (request.arguments == nullptr && request.argumentCount != 0) {
    return Format(kMissingDataMessage, "arguments", request.argumentCount);
  }
  if (request.body == nullptr && request.bodyLength != 0) {
    return Format(kMissingDataMessage, "body bytes", request.bodyLength);
  }
  for (uint32_t index = 0; index < request.headerCount; ++index) {
    if (request.headers[index].name == nullptr) {
      return Format(kHeaderWithoutNameMessage, index);
    }
    if (request.headers[index].value == nullptr) {
      return Format(kHeaderWithoutValueMessage, index);
    }
  }
  return std::nullopt;
}

const EndpointRecord* EndpointOf(const HostRequest& request) {
  if (request.userData == nullptr) {
    return nullptr;
  }
  const auto* endpoint = static_cast<const EndpointRecord*>(request.userData->endpoint);
  return endpoint != nullptr && endpoint->function != nullptr ? endpoint : nullptr;
}

// --- Routing ---

// The part of the path that routes match: everything before the query. The query is read into
// arguments separately, and a query must neither keep a literal route from matching nor end up
// inside the last placeholder of a pattern.
std::string_view RoutedPath(const char* path) {
  const std::string_view whole(path);
  return whole.substr(0, whole.find('?'));
}

std::string_view MethodNameOf(const HostRequest& request) {
  if (ToHttpMethod(request.method) != HttpMethod::Other || request.methodName == nullptr) {
    return {};
  }
  return request.methodName;
}

// The method test of route matching, for literal routes that need no pattern: an endpoint
// method of None allows every method, any other must be equal, and so must the method names
// (both empty unless the method is Other).
bool MethodAllows(const EndpointRecord& endpoint, const HostRequest& request) {
  if (endpoint.method == HttpMethod::None) {
    return true;
  }
  return endpoint.method == ToHttpMethod(request.method) &&
         endpoint.methodName == MethodNameOf(request);
}

// --- Gathering the arguments ---

std::vector<BindingProperty> InitialArgumentValues(const BindingFunctionDescriptor& function) {
  std::vector<BindingProperty> values(function.arguments.size());
  for (std::size_t index = 0; index < values.size(); ++index) {
    const BindingArgumentDescriptor& argument = function.arguments[index];
    if (argument.type.kind == BindingTypeKind::Bool && !argument.optional) {
      values[index].SetBool(false);  // a bool that is not given at all is false, not missing
    }
  }
  return values;
}

// Whether the host's header name equals `argumentName` lowered: header names reach arguments
// only as the host spells them in lower case. Reads the header name no further than its NUL.
bool HeaderNamesArgument(const char* headerName, std::string_view argumentName) {
  for (std::size_t at = 0; at < argumentName.size(); ++at) {
    char lowered = argumentName[at];
    if (lowered >= 'A' && lowered <= 'Z') {
      lowered = static_cast<char>(lowered - 'A' + 'a');
    }
    if (headerName[at] == '\0' || headerName[at] != lowered) {
      return false;
    }
  }
  return headerName[argumentName.size()] == '\0';
}

// The value of the last header that names the argument, or null.
const char* HeaderValueFor(const HostRequest& request, std::string_view argumentName) {
  const char* found = nullptr;
  for (uint32_t index = 0; index < request.headerCount; ++index) {
    if (HeaderNamesArgument(request.headers[index].name, argumentName)) {
      found = request.headers[index].value;
    }
  }
  return found;
}

// Headers, then path placeholders, then the query, each as named texts; the first failure
// stops the rest. Headers are scanned in place rather than collected into a map: there are few
// of each, and a request without the headers it could use allocates nothing here.
void BindRequestTexts(HttpCallState& state, std::vector<BindingProperty>& values,
                      const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                      const HostRequest& request, const HttpHeaderMap& pathArguments) {
  for (std::size_t index = 0; index < function.arguments.size() && request.headerCount != 0;
       ++index) {
    const ArgumentLocation location = endpoint.LocationOf(index);
    if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) {
      continue;
    }
    const std::string& name = function.arguments[index].name;
    if (const char* value = HeaderValueFor(request, name)) {
      BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                          ArgumentLocation::Header);
    }
  }
  for (const auto& [name, value] : pathArguments) {
    BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                        ArgumentLocation::Path);
  }
  if (state.Failed() || std::strchr(request.path, '?') == nullptr) {
    return;
  }
  HttpHeaderMap query;
  ParseRequestQuery(request.path, query);
  for (const auto& [name, value] : query) {
    BindRequestArgument(state, values, function, endpoint, name, value, nullptr,
                        ArgumentLocation::Query);
  }
}

// A HostResult that is released however the scope is left.
struct ScopedHostResult {
  HostResult record{};
  ScopedHostResult() = default;
  ScopedHostResult(const ScopedHostResult&) = delete;
  ScopedHostResult& operator=(const ScopedHostResult&) = delete;
  ~ScopedHostResult() { ReleaseHostResult(record); }
};

// The host's own argument list: by name, or by position after the path placeholders (which
// the host leaves out of its list). Host values are converted as they are: no element paths,
// no location check.
void BindHostArguments(HttpCallState& state, std::vector<BindingProperty>& values,
                       const BindingFunctionDescriptor& function, const HostRequest& request,
                       std::size_t pathArgumentCount) {
  for (uint32_t position = 0; position < request.argumentCount && !state.Failed(); ++position) {
    const HostRequestArgument& entry = request.arguments[position];
    const char* entryName = entry.name;
    std::size_t index = static_cast<std::size_t>(position) + pathArgumentCount;
    if (entryName != nullptr) {
      const BindingArgumentDescriptor* argument = function.FindArgument(entryName);
      index = argument == nullptr ? values.size()
                                  : static_cast<std::size_t>(argument - function.arguments.data());
    }
    if (index >= values.size()) {
      state.Fail(entryName != nullptr ? Format(kUnknownArgumentMessage, entryName, function.name)
                                      : Format(kUnknownArgumentMessage, index, function.name));
      return;
    }
    // A positional entry has no name of its own; its messages name the argument it fills.
    const std::string_view name = entryName != nullptr
                                      ? std::string_view(entryName)
                                      : std::string_view(function.arguments[index].name);
    ScopedHostResult conversion;
    if (!FromHostValue(conversion.record, values[index], entry.value, name)) {
      const char* error = conversion.record.error;
      state.Fail(error != nullptr ? error : "");
    }
  }
}

// The body goes to the first argument declared for it. It is decoded even after an earlier
// failure, and its own failure is the one reported. A body of no bytes is no body.
void BindBody(HttpCallState& state, std::vector<BindingProperty>& values,
              const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
              const HostRequest& request) {
  if (request.body == nullptr || request.bodyLength == 0) {
    return;
  }
  for (std::size_t index = 0; index < function.arguments.size(); ++index) {
    if (endpoint.LocationOf(index) == ArgumentLocation::Body) {
      DecodeRequestBody(state, values[index], request.contentType, request.body,
                        request.bodyLength);
      return;
    }
  }
}

// --- Calling ---

bool WantsRequestRecord(const BindingInvoker& invoker) {
  const StaticTypeInfo* type = invoker.RequestContextType();
  return type != nullptr && (type->hashCode == StaticType::HashCode<HttpBaseTransport::Request>() ||
                             type->hashCode == StaticType::HashCode<RemotingRequest>());
}

void FillRequestRecord(RemotingRequest& record, const HostRequest& request,
                       const BindingFunctionDescriptor& function) {
  record.context = request.context;
  record.registry = function.registry;
  record.arrivalTime = Platform::SystemTimeTicks();
  record.method = ToHttpMethod(request.method);
  record.methodName = MethodNameOf(request);
  record.path = request.path;
  for (uint32_t index = 0; index < request.headerCount; ++index) {
    record.headers.insert_or_assign(request.headers[index].name, request.headers[index].value);
  }
}

// Releases the prepared token when the call is over, also when the call failed after Prepare
// or something threw. A Release that throws has nothing left to report to: the response is
// written by then.
class PreparedToken {
 public:
  PreparedToken() = default;
  PreparedToken(const PreparedToken&) = delete;
  PreparedToken& operator=(const PreparedToken&) = delete;
  ~PreparedToken() {
    if (token_ == nullptr) {
      return;
    }
    try {
      invoker_->Release(token_);
    } catch (...) {
    }
  }
  void Hold(BindingInvoker* invoker, void* token) {
    invoker_ = invoker;
    token_ = token;
  }
  [[nodiscard]] void* Token() const { return token_; }

 private:
  BindingInvoker* invoker_ = nullptr;
  void* token_ = nullptr;
};

void FailWithException(HttpCallState& state, const BindingFunctionDescriptor& function,
                       const char* what) {
  state.Fail(Format(kInvokerExceptionMessage, function.name, what));
  state.status = kInternalErrorStatus;
}

// Prepare and Invoke, unless binding failed. What an invoker throws becomes the call's failure
// here, so that the response is written and the token released as for any other failure.
void CallFunction(HttpCallState& state, std::vector<BindingProperty>& values,
                  const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                  const HostRequest& request, PreparedToken& prepared) {
  if (state.Failed()) {
    return;
  }
  BindingInvoker* invoker = endpoint.invoker;
  if (invoker == nullptr) {
    state.Fail(Format(kNoInvokerMessage, function.name));
    state.status = kInternalErrorStatus;
    return;
  }
  try {
    prepared.Hold(invoker, invoker->Prepare(state, values, request.context));
    if (state.Failed()) {
      return;
    }
    std::optional<RemotingRequest> record;
    if (WantsRequestRecord(*invoker)) {
      FillRequestRecord(record.emplace(), request, function);
    }
    invoker->Invoke(state, record ? &*record : nullptr, prepared.Token(), request.context);
  } catch (const std::exception& exception) {
    FailWithException(state, function, exception.what());
  } catch (...) {
    FailWithException(state, function, "unknown exception");
  }
}

// Binding, body, call and response of one matched request. `response` holds nothing yet.
void InvokeEndpoint(HostResponse& response, const HostRequest& request,
                    const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                    const HttpHeaderMap& pathArguments) {
  HttpCallState state;
  std::vector<BindingProperty> values = InitialArgumentValues(function);
  BindRequestTexts(state, values, function, endpoint, request, pathArguments);
  BindHostArguments(state, values, function, request, pathArguments.size());
  BindBody(state, values, function, endpoint, request);
  PreparedToken prepared;  // released after the response is written
  CallFunction(state, values, function, endpoint, request, prepared);
  WriteHostResponse(response, state, function.registry);
}

// A route without placeholders is compared as it is: no pattern, no expression, no match
// record, so that the common literal endpoint costs no allocation for routing.
void AnswerLiteralRoute(HostResponse& response, const HostRequest& request,
                        const EndpointRecord& endpoint, std::string_view route) {
  if (route.empty() || RoutedPath(request.path) != route || !MethodAllows(endpoint, request)) {
    AnswerFailure(response, kInvalidFunctionMessage, kInvalidFunctionStatus);
    return;
  }
  const HttpHeaderMap noPathArguments;
  InvokeEndpoint(response, request, *endpoint.function, endpoint, noPathArguments);
}

void HandleRequest(HostResponse& response, const HostRequest* request) {
  TakeResponse(response);
  if (request == nullptr) {
    AnswerFailure(response, kMissingRequestMessage, kMalformedRequestStatus);
    return;
  }
  const EndpointRecord* endpoint = EndpointOf(*request);
  if (endpoint == nullptr) {
    AnswerFailure(response, kMissingEndpointMessage, kMalformedRequestStatus);
    return;
  }
  if (std::optional<std::string> problem = RequestProblem(*request)) {
    AnswerFailure(response, *problem, kMalformedRequestStatus);
    return;
  }
  const std::string_view route =
      endpoint->uriTemplate.empty() ? endpoint->function->name : endpoint->uriTemplate;
  if (route.find('{') == std::string_view::npos) {
    AnswerLiteralRoute(response, *request, *endpoint, route);
    return;
  }
  const RoutePattern pattern = BuildRoutePattern(endpoint->function, endpoint, route);
  DispatchRequest(response, *request, {&pattern, 1});
}

void Dispatch(HostResponse& response, const HostRequest& request,
              std::span<const RoutePattern> patterns) {
  TakeResponse(response);
  if (std::optional<std::string> problem = RequestProblem(request)) {
    AnswerFailure(response, *problem, kMalformedRequestStatus);
    return;
  }
  RouteMatch match;
  match.method = ToHttpMethod(request.method);
  match.methodName = MethodNameOf(request);
  match.path = RoutedPath(request.path);
  if (!MatchRoutes(match, patterns, false) || match.function == nullptr ||
      match.endpoint == nullptr) {
    AnswerFailure(response, kInvalidFunctionMessage, kInvalidFunctionStatus);
    return;
  }
  InvokeEndpoint(response, request, *match.function, *match.endpoint, match.pathArguments);
}

}  // namespace

void VEXA_HOST_CALL HandleEndpointRequest(HostResponse* response, const HostRequest* request) {
  if (response == nullptr) {
    return;  // nowhere to answer
  }
  AnswerGuarded(*response, [&] { HandleRequest(*response, request); });
}

void DispatchRequest(HostResponse& response, const HostRequest& request,
                     std::span<const RoutePattern> patterns) {
  AnswerGuarded(response, [&] { Dispatch(response, request, patterns); });
}

}  // namespace Vexa
