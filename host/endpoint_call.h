// One call of a plugin's endpoint, as the host makes it: the request record the handler reads,
// and what the host makes of the response it filled. The HTTP front calls endpoints for HTTP
// clients, the platform for another plugin's request; both build the record and read the answer
// here, so that an endpoint sees the same request either way.
//
//   EndpointRequest request({"GET", "/kor-echo/v1/echo?text=hi", {}, "", ""}, endpoint, handle);
//   HostResponse filled{};
//   endpoint.handler(&filled, &request.record);            // on the plugin thread
//   EndpointAnswer answer = ReadEndpointAnswer(filled);    // status, JSON body or error text
//   ReleaseEndpointResponse(filled);                       // unless its stream is still read
//
// Ownership: an EndpointRequest borrows the texts its parts point to (the method, the target,
// the header values, the body), which must outlive it; it owns the header names (lower-cased) and
// the content type. A response is the plugin's and goes back through its own release functions.
//
// Threading: none of its own; the handler and the release functions run on the plugin thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vexa/host_contract.h"

namespace VexaHost {

// The number of a method name ("GET"); HOST_METHOD_OTHER for one the contract does not number.
HostMethod MethodNumber(std::string_view method);

// What an endpoint's request is built from.
struct EndpointRequestParts {
  const char* method;                                        // "GET", or the name of another method
  const char* target;                                        // the path, with its query
  std::vector<std::pair<std::string, const char*>> headers;  // names in any case, then values
  std::string contentType;  // the body's media type, lower case; empty for none
  std::string_view body;    // empty: no body
};

// The record an endpoint handler reads, pointing into its parts. It neither copies nor moves:
// the record points into it.
struct EndpointRequest {
  EndpointRequest(EndpointRequestParts parts, const HostEndpointRecord& endpoint,
                  HostHandle handle);
  EndpointRequest(const EndpointRequest&) = delete;
  EndpointRequest& operator=(const EndpointRequest&) = delete;

  EndpointRequestParts parts;  // header names lower-cased
  std::vector<HostHeader> headers;
  HostRequest record{};
};

// A filled response, read: the status (200, or 500 for an error, when the plugin set none), and
// the body as JSON or the error text. A streamed body is left in the stream (`streamed`). A
// value that is malformed is the plugin's fault: 502, with the reason.
struct EndpointAnswer {
  int status = 500;
  std::string body, error;
  bool streamed = false;
};
EndpointAnswer ReadEndpointAnswer(const HostResponse& filled);

// Releases the stream of a filled response, then the response, through the plugin's functions,
// and zeroes it; on the plugin thread.
void ReleaseEndpointResponse(HostResponse& filled);

}  // namespace VexaHost
