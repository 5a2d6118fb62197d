// The endpoint call: routes the request, gathers the arguments (dispatch/request_arguments.h)
// and calls the invoker, leaving the outcome in the call state, and gives every failure that
// set no status the status of whose it is (dispatch/messages.h, kBadArgumentsStatus).
#include "dispatch/request_handler.h"

#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "binding/descriptors.h"
#include "dispatch/invoker.h"
#include "dispatch/messages.h"
#include "dispatch/request_arguments.h"
#include "platform/clock.h"
#include "util/format.h"

namespace Vexa {
namespace {

// The part of the path that routes match: everything before the query. The query is read into
// arguments separately, and a query must neither keep a literal route from matching nor end up
// inside the last placeholder of a pattern.
std::string_view RoutedPath(std::string_view path) {
  return path.substr(0, path.find('?'));
}

bool WantsRequestRecord(const BindingInvoker& invoker) {
  const StaticTypeInfo* type = invoker.RequestContextType();
  return type != nullptr && (type->hashCode == StaticType::HashCode<HttpBaseTransport::Request>() ||
                             type->hashCode == StaticType::HashCode<RemotingRequest>());
}

void FillRequestRecord(RemotingRequest& record, const HttpRequest& request,
                       const BindingFunctionDescriptor& function) {
  record.context = request.context;
  record.registry = function.registry;
  record.arrivalTime = Platform::SystemTimeTicks();
  record.method = request.method;
  record.methodName = request.methodName;
  record.path = request.path;
  for (const HttpHeader& header : request.headers) {
    record.headers.insert_or_assign(header.name, header.value);
  }
}

// Gives a failure without a status `status` (dispatch/messages.h: kBadArgumentsStatus).
void SetFailureStatus(HttpCallState& state, uint32_t status) {
  if (state.Failed() && state.status == 0) {
    state.status = status;
  }
}

void FailWithException(HttpCallState& state, const BindingFunctionDescriptor& function,
                       const char* what) {
  state.Fail(Format(kInvokerExceptionMessage, function.name, what));
  state.status = kInternalErrorStatus;
}

// Prepare and Invoke, unless binding failed. What an invoker throws becomes the call's failure
// here, so that the response is written and the token released as for any other failure.
void CallFunction(EndpointCall& call, std::span<BindingProperty> values,
                  const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                  const HttpRequest& request) {
  HttpCallState& state = call.state;
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
    call.HoldToken(invoker, invoker->Prepare(state, values, request.context, call.TokenRoom()));
    if (state.Failed()) {
      // Prepare binds the values to the function's parameters: a refusal is the request's.
      SetFailureStatus(state, kBadArgumentsStatus);
      return;
    }
    std::optional<RemotingRequest> record;
    if (WantsRequestRecord(*invoker)) {
      FillRequestRecord(record.emplace(), request, function);
    }
    invoker->Invoke(state, record ? &*record : nullptr, call.Token(), request.context);
    SetFailureStatus(state, kPluginFailureStatus);
  } catch (const std::exception& exception) {
    FailWithException(state, function, exception.what());
  } catch (...) {
    FailWithException(state, function, "unknown exception");
  }
}

// Gathering and call of one matched request.
void InvokeEndpoint(EndpointCall& call, const HttpRequest& request,
                    const BindingFunctionDescriptor& function, const EndpointRecord& endpoint,
                    const HttpHeaderMap& pathArguments) {
  call.registry = function.registry;
  ArgumentValues values(function.arguments.size());
  GatherRequestArguments(call.state, values.Values(), function, endpoint, request, pathArguments);
  SetFailureStatus(call.state, kBadArgumentsStatus);
  CallFunction(call, values.Values(), function, endpoint, request);
}

}  // namespace

void EndpointCall::ReleaseToken() noexcept {
  try {
    invoker_->Release(token_);
  } catch (...) {
  }
}

void FailCall(EndpointCall& call, std::string_view message, uint32_t status) {
  call.state.Fail(message);
  call.state.status = status;
}

void AnswerEndpointRequest(EndpointCall& call, const HttpRequest& request,
                           const EndpointRecord& endpoint) {
  // The endpoint's own route, built when its template was set: the one pattern MatchRoutes
  // would be given, matched without a match record, so that a route without placeholders
  // allocates nothing.
  HttpHeaderMap pathArguments;
  if (endpoint.function == nullptr || !endpoint.AllowsMethod(request.method, request.methodName) ||
      !MatchRoute(endpoint.Route(), RoutedPath(request.path), pathArguments)) {
    FailCall(call, kInvalidFunctionMessage, kInvalidFunctionStatus);
    return;
  }
  InvokeEndpoint(call, request, *endpoint.function, endpoint, pathArguments);
}

void AnswerRoutedRequest(EndpointCall& call, const HttpRequest& request,
                         std::span<const RoutePattern> patterns) {
  RouteMatch match;
  match.method = request.method;
  match.methodName = request.methodName;
  match.path = RoutedPath(request.path);
  if (!MatchRoutes(match, patterns, false) || match.function == nullptr ||
      match.endpoint == nullptr) {
    FailCall(call, kInvalidFunctionMessage, kInvalidFunctionStatus);
    return;
  }
  InvokeEndpoint(call, request, *match.function, *match.endpoint, match.pathArguments);
}

}  // namespace Vexa
