// Walking the API table the plugin handed over: its linked records, bounded by the counts the
// table gives, and the names the host's descriptions of it use (kinds, argument places,
// methods). Shared by GET /host/v1/api and the OpenAPI document.
//
//   EachEndpoint(table, [&](const HostEndpointRecord& endpoint) {
//     EachArgument(endpoint, [&](const HostArgumentRecord& argument, HostArgumentPlace in) {});
//   });
//
// Everything here only reads; the table must be the live one of a started module.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/host_contract.h"

namespace VexaHost {

// "int32" for HOST_TYPE_INT32 and so on; "unknown" for a number the seam does not define.
const char* KindName(HostTypeKind kind);

// "query" for HOST_ARGUMENT_QUERY and so on ("any" for HOST_ARGUMENT_ANYWHERE).
const char* LocationName(HostArgumentPlace location);

// "GET" for HOST_METHOD_GET and so on; an endpoint's own name for HOST_METHOD_OTHER.
std::string HttpMethodOf(const HostEndpointRecord& endpoint);

// A text of the table, or the empty text for a null one.
inline const char* TextOf(const char* text) {
  return text != nullptr ? text : "";
}

// Walks a linked array of at most `count` records: the links are followed, the count bounds them.
template <typename Record, typename Visit>
void EachRecord(const Record* first, uint32_t count, Visit visit) {
  uint32_t index = 0;
  for (const Record* record = first; record != nullptr && index < count; ++index) {
    visit(*record);
    record = reinterpret_cast<const Record*>(record->next);
  }
}

// Every endpoint of `table`; an endpoint's function record links to the next endpoint.
template <typename Visit>
void EachEndpoint(const HostEndpointTable& table, Visit visit) {
  const HostFunctionRecord* first =
      table.endpoints != nullptr ? &table.endpoints->function : nullptr;
  EachRecord(first, table.endpointCount, [&](const HostFunctionRecord& function) {
    visit(reinterpret_cast<const HostEndpointRecord&>(function));
  });
}

// Every argument of `endpoint` with the place it may be given in, the location list walked in
// step with the arguments (a list shorter than the arguments leaves the rest
// HOST_ARGUMENT_ANYWHERE).
template <typename Visit>
void EachArgument(const HostEndpointRecord& endpoint, Visit visit) {
  const HostArgumentLocation* location = endpoint.argumentLocations;
  const HostFunctionRecord& function = endpoint.function;
  EachRecord(function.arguments, function.argumentCount, [&](const HostArgumentRecord& argument) {
    visit(argument, location != nullptr ? location->location : HostArgumentPlace{0});
    location = location != nullptr ? location->next : nullptr;
  });
}

}  // namespace VexaHost
