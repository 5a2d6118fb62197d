#include "api_description.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace VexaHost {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

// The names of the seam's type kinds and argument places, as the description shows them.
const char* KindName(HostTypeKind kind) {
  switch (kind) {
    case HOST_TYPE_NONE: return "none";
    case HOST_TYPE_BOOL: return "bool";
    case HOST_TYPE_INT8: return "int8";
    case HOST_TYPE_UINT8: return "uint8";
    case HOST_TYPE_INT16: return "int16";
    case HOST_TYPE_UINT16: return "uint16";
    case HOST_TYPE_INT32: return "int32";
    case HOST_TYPE_UINT32: return "uint32";
    case HOST_TYPE_INT64: return "int64";
    case HOST_TYPE_UINT64: return "uint64";
    case HOST_TYPE_FLOAT: return "float";
    case HOST_TYPE_DOUBLE: return "double";
    case HOST_TYPE_STRING: return "string";
    case HOST_TYPE_OBJECT: return "object";
    case HOST_TYPE_BLOB: return "blob";
    case HOST_TYPE_VECTOR: return "vector";
    case HOST_TYPE_ENUM: return "enum";
    case HOST_TYPE_STRUCT: return "struct";
    case HOST_TYPE_CALLBACK: return "callback";
    case HOST_TYPE_MAP: return "map";
    default: return "unknown";
  }
}

const char* LocationName(HostArgumentPlace location) {
  switch (location) {
    case HOST_ARGUMENT_ANYWHERE: return "any";
    case HOST_ARGUMENT_QUERY: return "query";
    case HOST_ARGUMENT_PATH: return "path";
    case HOST_ARGUMENT_RESERVED: return "reserved";
    case HOST_ARGUMENT_HEADER: return "header";
    case HOST_ARGUMENT_BODY: return "body";
    default: return "unknown";
  }
}

void Text(Writer& writer, const char* key, const char* value) {
  writer.Key(key);
  writer.String(value != nullptr ? value : "");
}

void Tags(Writer& writer, const char* const* tags, uint32_t count) {
  writer.Key("tags");
  writer.StartArray();
  for (uint32_t index = 0; tags != nullptr && index < count; ++index) {
    writer.String(tags[index] != nullptr ? tags[index] : "");
  }
  writer.EndArray();
}

// The type of a field, argument or result: its kind, and its element kind and type name where
// they say more.
void Type(Writer& writer, uint32_t kind, uint32_t elementKind, const char* typeName) {
  writer.Key("type");
  writer.StartObject();
  Text(writer, "kind", KindName(kind));
  if (elementKind != 0) {
    Text(writer, "elementKind", KindName(elementKind));
  }
  if (typeName != nullptr && *typeName != '\0') {
    Text(writer, "name", typeName);
  }
  writer.EndObject();
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

void Endpoint(Writer& writer, const HostEndpointRecord& endpoint) {
  const HostFunctionRecord& function = endpoint.function;
  writer.StartObject();
  Text(writer, "name", function.name);
  Text(writer, "method", HttpMethodOf(endpoint).c_str());
  Text(writer, "uri", endpoint.uriTemplate);
  Text(writer, "description", function.description);
  writer.Key("arguments");
  writer.StartArray();
  const HostArgumentLocation* location = endpoint.argumentLocations;
  EachRecord(function.arguments, function.argumentCount, [&](const HostArgumentRecord& argument) {
    writer.StartObject();
    Text(writer, "name", argument.name);
    Type(writer, argument.kind, argument.elementKind, argument.typeName);
    Text(writer, "in", LocationName(location != nullptr ? location->location : 0));
    writer.Key("optional");
    writer.Bool(argument.optional != 0);
    writer.EndObject();
    location = location != nullptr ? location->next : nullptr;
  });
  writer.EndArray();
  writer.Key("result");
  writer.StartObject();
  Type(writer, function.returnKind, function.returnElementKind, function.returnTypeName);
  writer.EndObject();
  Tags(writer, function.tags, function.tagCount);
  writer.EndObject();
}

void Type(Writer& writer, const HostTypeRecord& type) {
  writer.StartObject();
  Text(writer, "name", type.name);
  Text(writer, "namespace", type.nameSpace);
  Tags(writer, type.tags, type.tagCount);
  if (type.fields != nullptr) {
    writer.Key("fields");
    writer.StartArray();
    EachRecord(type.fields, type.count, [&](const HostFieldRecord& field) {
      writer.StartObject();
      Text(writer, "name", field.name);
      Type(writer, field.kind, field.elementKind, field.typeName);
      writer.Key("optional");
      writer.Bool(field.optional != 0);
      writer.EndObject();
    });
    writer.EndArray();
  } else {
    writer.Key("enumerators");
    writer.StartArray();
    EachRecord(type.enumerators, type.count, [&](const HostEnumeratorRecord& enumerator) {
      writer.StartObject();
      Text(writer, "name", enumerator.name);
      writer.Key("value");
      writer.Int(enumerator.value);
      writer.EndObject();
    });
    writer.EndArray();
  }
  writer.EndObject();
}

}  // namespace

std::string HttpMethodOf(const HostEndpointRecord& endpoint) {
  static const char* const kNames[] = {"",        "DELETE", "GET",  "HEAD",
                                       "OPTIONS", "PATCH",  "POST", "PUT"};
  if (endpoint.method < sizeof kNames / sizeof kNames[0]) {
    return kNames[endpoint.method];
  }
  return endpoint.methodName != nullptr ? endpoint.methodName : "";
}

std::string DescribeApiTable(const HostEndpointTable& table) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  writer.Key("endpoints");
  writer.StartArray();
  const HostFunctionRecord* first =
      table.endpoints != nullptr ? &table.endpoints->function : nullptr;
  EachRecord(first, table.endpointCount, [&](const HostFunctionRecord& function) {
    Endpoint(writer, reinterpret_cast<const HostEndpointRecord&>(function));
  });
  writer.EndArray();
  writer.Key("types");
  writer.StartArray();
  EachRecord(table.types, table.typeCount, [&](const HostTypeRecord& type) { Type(writer, type); });
  writer.EndArray();
  writer.Key("events");
  writer.StartArray();
  EachRecord(table.events, table.eventCount, [&](const HostEventDescription& event) {
    writer.StartObject();
    Text(writer, "name", event.name);
    Text(writer, "namespace", event.nameSpace);
    Text(writer, "dataType", event.dataTypeName);
    Text(writer, "description", event.description);
    Tags(writer, event.tags, event.tagCount);
    writer.EndObject();
  });
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace VexaHost
