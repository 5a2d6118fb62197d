#include "api_table.h"

namespace VexaHost {

const char* KindName(HostTypeKind kind) {
  switch (kind) {
    case HOST_TYPE_NONE:
      return "none";
    case HOST_TYPE_BOOL:
      return "bool";
    case HOST_TYPE_INT8:
      return "int8";
    case HOST_TYPE_UINT8:
      return "uint8";
    case HOST_TYPE_INT16:
      return "int16";
    case HOST_TYPE_UINT16:
      return "uint16";
    case HOST_TYPE_INT32:
      return "int32";
    case HOST_TYPE_UINT32:
      return "uint32";
    case HOST_TYPE_INT64:
      return "int64";
    case HOST_TYPE_UINT64:
      return "uint64";
    case HOST_TYPE_FLOAT:
      return "float";
    case HOST_TYPE_DOUBLE:
      return "double";
    case HOST_TYPE_STRING:
      return "string";
    case HOST_TYPE_OBJECT:
      return "object";
    case HOST_TYPE_BLOB:
      return "blob";
    case HOST_TYPE_VECTOR:
      return "vector";
    case HOST_TYPE_ENUM:
      return "enum";
    case HOST_TYPE_STRUCT:
      return "struct";
    case HOST_TYPE_CALLBACK:
      return "callback";
    case HOST_TYPE_MAP:
      return "map";
    default:
      return "unknown";
  }
}

const char* LocationName(HostArgumentPlace location) {
  switch (location) {
    case HOST_ARGUMENT_ANYWHERE:
      return "any";
    case HOST_ARGUMENT_QUERY:
      return "query";
    case HOST_ARGUMENT_PATH:
      return "path";
    case HOST_ARGUMENT_RESERVED:
      return "reserved";
    case HOST_ARGUMENT_HEADER:
      return "header";
    case HOST_ARGUMENT_BODY:
      return "body";
    default:
      return "unknown";
  }
}

std::string HttpMethodOf(const HostEndpointRecord& endpoint) {
  static const char* const kNames[] = {"",        "DELETE", "GET",  "HEAD",
                                       "OPTIONS", "PATCH",  "POST", "PUT"};
  if (endpoint.method < sizeof kNames / sizeof kNames[0]) {
    return kNames[endpoint.method];
  }
  return endpoint.methodName != nullptr ? endpoint.methodName : "";
}

}  // namespace VexaHost
