// The endpoint handler: checks what the host handed in, routes the request, gathers the
// arguments (dispatch/request_arguments.h), calls the invoker and writes the response.
#include "dispatch/request_handler.h"

#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/descriptors.h"
#include "binding/host_value.h"
#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "dispatch/invoker.h"
#include "dispatch/messages.h"
#include "dispatch/request_arguments.h"
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

// Gathering, call and response of one matched request. `response` holds nothing yet.
void InvokeEndpoint(HostResponse& response, const HostRequest& request,
                    const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                    const HttpHeaderMap& pathArguments) {
  HttpCallState state;
  std::vector<BindingProperty> values =
      GatherRequestArguments(state, function, endpoint, request, pathArguments);
  PreparedToken prepared;  // released after the response is written
  CallFunction(state, values, function, endpoint, request, prepared);
  WriteHostResponse(response, state, function.registry);
}

// Answers a request that cannot be read safely and tells whether it was one.
bool AnsweredUnreadable(HostResponse& response, const HostRequest& request) {
  std::optional<std::string> problem = RequestProblem(request);
  if (problem) {
    AnswerFailure(response, *problem, kMalformedRequestStatus);
  }
  return problem.has_value();
}

void AnswerInvalidFunction(HostResponse& response) {
  AnswerFailure(response, kInvalidFunctionMessage, kInvalidFunctionStatus);
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
  if (AnsweredUnreadable(response, *request)) {
    return;
  }
  // The endpoint's own route, built when its template was set: the one pattern MatchRoutes
  // would be given, matched without a match record, so that a route without placeholders
  // allocates nothing.
  HttpHeaderMap pathArguments;
  if (!endpoint->AllowsMethod(ToHttpMethod(request->method), MethodNameOf(*request)) ||
      !MatchRoute(endpoint->Route(), RoutedPath(request->path), pathArguments)) {
    AnswerInvalidFunction(response);
    return;
  }
  InvokeEndpoint(response, *request, *endpoint->function, *endpoint, pathArguments);
}

void Dispatch(HostResponse& response, const HostRequest& request,
              std::span<const RoutePattern> patterns) {
  TakeResponse(response);
  if (AnsweredUnreadable(response, request)) {
    return;
  }
  RouteMatch match;
  match.method = ToHttpMethod(request.method);
  match.methodName = MethodNameOf(request);
  match.path = RoutedPath(request.path);
  if (!MatchRoutes(match, patterns, false) || match.function == nullptr ||
      match.endpoint == nullptr) {
    AnswerInvalidFunction(response);
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
