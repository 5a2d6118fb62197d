// Answering one endpoint call: the path of a request through the dispatcher, on the C++ view of
// the request that the seam translated once (dispatch/http_request.h). The host's records are
// read and written only at the seam (bridge/endpoint_handler.h).
//
//   Vexa::EndpointCall call;
//   Vexa::AnswerEndpointRequest(call, request, endpoint);
//   ... write call.state into the host's response (its registry names enum values) ...
//   // call goes out of scope: a prepared token is released after the response was written
//
// A request goes one way:
// 1. The path before its first "?" is matched against the endpoint's route, which was built
//    when the endpoint's template was set; the endpoint's method must allow the request's.
//    Otherwise: "Invalid function", status 404.
// 2. The arguments are gathered (dispatch/request_arguments.h) and, unless that failed, the
//    function is called through its invoker (Prepare, then Invoke with the request record when
//    the function asks for one).
// 3. The call state holds the outcome, also after a failure; the prepared token is released
//    when the EndpointCall is destroyed, after the caller wrote the response.
// Every failure ends in the call state's failure message (dispatch/messages.h) with a status:
// the one the function or invoker set, else 404 for no route, 400 when the arguments could not
// be gathered or Prepare refused them (the client's mistake, kBadArgumentsStatus), and 500
// for everything from the call on (an exception out of an invoker, a failure of Invoke that
// set no status: the plugin's). A call that succeeds keeps its status, 0 unless the function
// set one.
//
// Ownership: the request is borrowed for the call; the EndpointCall owns the call state and the
// prepared token, which the invoker builds in the call's own room when it fits there (so a call
// can be neither copied nor moved).
//
// Threading: the host calls a module's endpoints on its one sequence (one call at a time, see
// the threading rule of the seam header), so nothing here takes a lock; the bound function runs
// on that sequence too, and may count on it.
#pragma once

#include <span>

#include "dispatch/endpoint.h"
#include "dispatch/http_call.h"
#include "dispatch/http_request.h"
#include "dispatch/invoker.h"
#include "dispatch/route_pattern.h"

namespace Vexa {

class BindingRegistry;

// One call of an endpoint: its state, the registry of the called function (for writing the
// answer; null when no function was reached) and the token its invoker prepared, which is
// released when the call is destroyed.
class EndpointCall {
 public:
  EndpointCall() = default;
  EndpointCall(const EndpointCall&) = delete;
  EndpointCall& operator=(const EndpointCall&) = delete;
  // Releases the prepared token. A Release that throws has nothing left to report to.
  ~EndpointCall() {
    if (token_ != nullptr) {
      ReleaseToken();
    }
  }

  HttpCallState state;
  const BindingRegistry* registry = nullptr;

  // Takes the token `invoker` prepared; it is released once, by the destructor.
  void HoldToken(BindingInvoker* invoker, void* token) {
    invoker_ = invoker;
    token_ = token;
  }
  [[nodiscard]] void* Token() const { return token_; }
  // Where the invoker may build the token; it stays in place until the token is released.
  [[nodiscard]] BindingTokenRoom& TokenRoom() noexcept { return tokenRoom_; }

 private:
  void ReleaseToken() noexcept;

  BindingInvoker* invoker_ = nullptr;
  void* token_ = nullptr;
  BindingTokenRoom tokenRoom_;
};

// Fails `call` with `message` and `status`.
void FailCall(EndpointCall& call, std::string_view message, uint32_t status);

// Answers `request` for `endpoint` into `call` (steps 1 to 3 above).
void AnswerEndpointRequest(EndpointCall& call, const HttpRequest& request,
                           const EndpointRecord& endpoint);

// The same for a request routed among `patterns` (in declaration order; see MatchRoutes)
// instead of one endpoint's route.
void AnswerRoutedRequest(EndpointCall& call, const HttpRequest& request,
                         std::span<const RoutePattern> patterns);

}  // namespace Vexa
