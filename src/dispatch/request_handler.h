// The endpoint handler: the one function the host calls for every endpoint of a module, and the
// path of a request through it.
//
//   record.handler = &Vexa::HandleEndpointRequest;       // in every host endpoint record
//   ... the host: record.handler(&response, &request), request.userData = record's user data;
//       later response.release(&response) ...
//
// A request goes one way:
// 1. The response is emptied through the release function it carries (a record without one is
//    taken as holding nothing) and gets ours.
// 2. A request that cannot be read safely (no record, no endpoint in its user data, no path, a
//    count without its array, a header without a name or value) is answered with status 400
//    and is never read further.
// 3. The path before its first "?" is matched against the endpoint's route, which was built
//    when the endpoint's template was set; the endpoint's method must allow the request's.
//    Otherwise: "Invalid function", status 404.
// 4. The arguments are gathered (dispatch/request_arguments.h) and, unless that failed, the
//    function is called through its invoker (Prepare, then Invoke with the request record when
//    the function asks for one).
// 5. The response is written from the call state (WriteHostResponse), also after a failure;
//    then a prepared token is released.
// Every failure ends in the response's error text (dispatch/messages.h), with the call state's
// status (0 unless the function set one), 400 for malformed requests, 404 for no route and 500
// for faults on the plugin's side (an exception out of an invoker, exhausted memory).
//
// Ownership: the request is borrowed for the call; the response is the host's, and everything
// the handler stores in it is freed by the release function stored with it.
//
// Threading: the host calls the handler on its module's one sequence (one call at a time, see
// vexa/host_contract.h), so the handler takes no lock of its own; the bound function runs on
// that sequence too, and may count on it.
#pragma once

#include <span>

#include "dispatch/route_pattern.h"
#include "vexa/host_contract.h"

namespace Vexa {

// The handler registered with every endpoint: releases what `response` holds, then answers
// `request` for the endpoint named by request->userData. Never throws; a null response is left
// alone.
void VEXA_HOST_CALL HandleEndpointRequest(HostResponse* response, const HostRequest* request);

// The same for a request routed among `patterns` (in declaration order; see MatchRoutes)
// instead of one endpoint's route; the request's user data is not read.
void DispatchRequest(HostResponse& response, const HostRequest& request,
                     std::span<const RoutePattern> patterns);

}  // namespace Vexa
