#include "api_description.h"

#include <set>

#include "json.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api_table.h"

namespace VexaHost {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Text(Writer& writer, const char* key, const char* value) {
  writer.Key(key);
  writer.String(TextOf(value));
}

// A description member only when the table's text says something: an argument's or field's.
void DescriptionIfAny(Writer& writer, const char* description) {
  if (*TextOf(description) != '\0') {
    Text(writer, "description", description);
  }
}

void Tags(Writer& writer, const char* const* tags, uint32_t count) {
  writer.Key("tags");
  writer.StartArray();
  for (uint32_t index = 0; tags != nullptr && index < count; ++index) {
    writer.String(TextOf(tags[index]));
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

void Endpoint(Writer& writer, const HostEndpointRecord& endpoint) {
  const HostFunctionRecord& function = endpoint.function;
  writer.StartObject();
  Text(writer, "name", function.name);
  Text(writer, "method", HttpMethodOf(endpoint).c_str());
  Text(writer, "uri", endpoint.uriTemplate);
  Text(writer, "description", function.description);
  writer.Key("arguments");
  writer.StartArray();
  EachArgument(endpoint, [&](const HostArgumentRecord& argument, HostArgumentPlace location) {
    writer.StartObject();
    Text(writer, "name", argument.name);
    Type(writer, argument.kind, argument.elementKind, argument.typeName);
    Text(writer, "in", LocationName(location));
    writer.Key("optional");
    writer.Bool(argument.optional != 0);
    DescriptionIfAny(writer, argument.description);
    writer.EndObject();
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
      DescriptionIfAny(writer, field.description);
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

// The text of `value`'s member `name`, or the empty text.
std::string TextMember(const rapidjson::Value& value, const char* name) {
  const auto found = value.FindMember(name);
  return found != value.MemberEnd() && found->value.IsString() ? found->value.GetString() : "";
}

}  // namespace

std::string DescribeApiTable(const HostEndpointTable& table) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  writer.Key("endpoints");
  writer.StartArray();
  EachEndpoint(table, [&](const HostEndpointRecord& endpoint) { Endpoint(writer, endpoint); });
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

std::string DescribeApiTables(const std::vector<NamedTable>& tables) {
  Json merged(rapidjson::kObjectType);
  auto& allocator = merged.GetAllocator();
  for (const char* list : {"endpoints", "types", "events"}) {
    merged.AddMember(rapidjson::StringRef(list), rapidjson::Value(rapidjson::kArrayType),
                     allocator);
  }
  rapidjson::Value plugins(rapidjson::kArrayType);
  std::set<std::string> seen;  // "types namespace.name" and "events namespace.name"
  for (const NamedTable& named : tables) {
    Json description;
    description.Parse(DescribeApiTable(*named.table).c_str());
    rapidjson::Value plugin(rapidjson::kObjectType), endpoints(rapidjson::kArrayType);
    plugin.AddMember("name", rapidjson::Value(named.name.c_str(), allocator), allocator);
    plugin.AddMember("fullName", rapidjson::Value(named.fullName.c_str(), allocator), allocator);
    for (auto& endpoint : description["endpoints"].GetArray()) {
      endpoints.PushBack(rapidjson::Value(TextMember(endpoint, "name").c_str(), allocator),
                         allocator);
      merged["endpoints"].PushBack(rapidjson::Value(endpoint, allocator), allocator);
    }
    for (const char* list : {"types", "events"}) {
      for (auto& item : description[list].GetArray()) {
        const std::string key = std::string(list) + " " + TextMember(item, "namespace") + "." +
                                TextMember(item, "name");
        if (seen.insert(key).second) {
          merged[list].PushBack(rapidjson::Value(item, allocator), allocator);
        }
      }
    }
    plugin.AddMember("endpoints", endpoints, allocator);
    plugins.PushBack(plugin, allocator);
  }
  merged.AddMember("plugins", plugins, allocator);
  return JsonText(merged);
}

}  // namespace VexaHost
