// The endpoint handler: the one function the host calls for every endpoint of a module. It reads
// the host's request record once, answers the call on a C++ view of it (dispatch/request_handler.h)
// and writes the outcome into the host's response record.
//
//   record.handler = &Vexa::HandleEndpointRequest;       // in every host endpoint record
//   ... the host: record.handler(&response, &request), request.userData = record's user data;
//       later response.release(&response) ...
//
// At the door:
// 1. The response is emptied through the release function it carries (a record without one is
//    taken as holding nothing) and gets ours.
// 2. A request that cannot be read safely (no record, no endpoint in its user data, no path, a
//    count without its array, a header without a name or value) is answered with status 400
//    and is never read further.
// 3. The request is translated into an HttpRequest that borrows the record's texts, headers,
//    body and argument entries; the dispatcher answers it into a call state.
// 4. The response is written from the call state (bridge/host_response.h), also after a
//    failure; then the token the function's invoker prepared is released.
// Anything thrown on the way (in practice: exhausted memory) becomes "Internal error: ..." with
// status 500.
//
// Ownership: the request is borrowed for the call; the response is the host's, and everything
// the handler stores in it is freed by the release function stored with it.
//
// Threading: the host calls a module's endpoints from one thread at a time
// (vexa/host_contract.h); the handler itself takes no lock.
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
