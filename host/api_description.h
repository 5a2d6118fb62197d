// The plugin's API table as JSON, for GET /host/v1/api: its endpoints (name, method, URI
// template, arguments with kind and location, result, tags), its types (fields or
// enumerators) and its events, read from the records the plugin handed over.
#pragma once

#include <string>
#include <vector>

#include "api_table.h"  // HttpMethodOf, for the routes
#include "vexa/host_contract.h"

namespace VexaHost {

// Walks `table` as arrays of the counts it gives. Reads only; the table must be the live
// one of a started module.
std::string DescribeApiTable(const HostEndpointTable& table);

// A plugin's table and the names it is shown under.
struct NamedTable {
  std::string name;      // "kor_geoinfo"
  std::string fullName;  // "mdl-be-kor-geoinfo"
  const HostEndpointTable* table;
};

// The tables of several plugins as one description: their endpoints one after the other, the
// types and events of the same name (and namespace) once, and "plugins" naming each plugin
// with its endpoints' names, in the order given.
std::string DescribeApiTables(const std::vector<NamedTable>& tables);

}  // namespace VexaHost
