// The OpenAPI 3.1 document of GET /host/v1/openapi.json: the plugin's endpoints as read from
// its API table, and the host's own API under the tag "host", with JSON Schemas for every
// argument, result and type.
//
//   const std::string document = DescribeOpenApi(plugin.Endpoints(), {"mdl-be-kor-geoinfo",
//   "1.0.0"});
//
// How the table maps (docs/host.md, "The OpenAPI document"): one operation per routed
// endpoint, its arguments as path, query or header parameters or as the request body, every
// record type and enum of the table under components.schemas (an enum as a string enum of its
// enumerator names, a record's optional fields nullable and not required), every error answer
// as the host's {"errorCode", "message"}. The plugin's events are listed under the /events
// operation, in its description and in "x-events" (name to payload schema; a resource event's
// as its {"uri", "eventType", "data"} envelope).
#pragma once

#include <span>
#include <string>

#include "vexa/host_contract.h"

namespace VexaHost {

// The document's info block: the plugin's full name and its API version.
struct OpenApiInfo {
  std::string title;
  std::string version;
};

// The document of several plugins' tables, in the order given: their endpoints one after the
// other, a type or event of a name already described (a shared record) once. Reads only, and
// the same tables give the same text. Endpoints the HTTP front does not route (no URI template
// or no handler, a template that is not a path, a method OpenAPI has no operation for) are left
// out, as are callback arguments, which no request can carry.
std::string DescribeOpenApi(std::span<const HostEndpointTable* const> tables,
                            const OpenApiInfo& info);

// The document of one plugin's table.
inline std::string DescribeOpenApi(const HostEndpointTable& table, const OpenApiInfo& info) {
  const HostEndpointTable* const tables[] = {&table};
  return DescribeOpenApi(tables, info);
}

}  // namespace VexaHost
