// The plugin's API table as JSON, for GET /host/v1/api: its endpoints (name, method, URI
// template, arguments with kind and location, result, tags), its types (fields or
// enumerators) and its events, read from the records the plugin handed over.
#pragma once

#include <string>

#include "vexa/host_contract.h"

namespace VexaHost {

// Walks `table` as arrays of the counts it gives. Reads only; the table must be the live
// one of a started module.
std::string DescribeApiTable(const HostEndpointTable& table);

// "GET" for HOST_METHOD_GET and so on; an endpoint's own name for HOST_METHOD_OTHER.
std::string HttpMethodOf(const HostEndpointRecord& endpoint);

}  // namespace VexaHost
