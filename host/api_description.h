// The plugin's API table as JSON, for GET /host/v1/api: its endpoints (name, method, URI
// template, arguments with kind and location, result, tags), its types (fields or
// enumerators) and its events, read from the records the plugin handed over.
#pragma once

#include <string>

#include "api_table.h"  // HttpMethodOf, for the routes
#include "vexa/host_contract.h"

namespace VexaHost {

// Walks `table` as arrays of the counts it gives. Reads only; the table must be the live
// one of a started module.
std::string DescribeApiTable(const HostEndpointTable& table);

}  // namespace VexaHost
