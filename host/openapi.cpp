// The OpenAPI document, written in one pass with RapidJSON's PrettyWriter: the info block and
// tags, the paths (the plugin's endpoints in table order, then the host's own routes), then the
// components. Before writing, the table's type names are given their component keys, so that
// every "$ref" written points at a schema that is written too; a type the table names but does
// not declare becomes the plain schema of its kind instead of a dangling reference.
#include "openapi.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "api_table.h"

namespace VexaHost {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

constexpr char kJson[] = "application/json";
constexpr char kEventStream[] = "text/event-stream";
constexpr char kHostTag[] = "host";
// The events of resources: "OnJsonApiEvent_" and the URI's first pieces.
constexpr char kResourceEventPrefix[] = "OnJsonApiEvent_";
constexpr char kSchemas[] = "#/components/schemas/";
constexpr char kJsonRequired[] =
    " State-changing requests must be sent with Content-Type: application/json.";
// The host's own schemas, named before the table's types so that those never take their keys.
constexpr const char* kHostSchemas[] = {"Error",      "HostSession",    "HostConfig",
                                        "HostFaults", "HostStatistics", "HostHealth",
                                        "HostPlugin", "HostNamespace"};

void String(Writer& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void Text(Writer& writer, const char* key, std::string_view text) {
  writer.Key(key);
  String(writer, text);
}

// A member only when the table's text says something.
void TextIfAny(Writer& writer, const char* key, const char* text) {
  if (text != nullptr && *text != '\0') {
    Text(writer, key, text);
  }
}

void Ref(Writer& writer, const std::string& key) {
  writer.StartObject();
  Text(writer, "$ref", kSchemas + key);
  writer.EndObject();
}

// {"type": `type`}
void TypeSchema(Writer& writer, const char* type) {
  writer.StartObject();
  Text(writer, "type", type);
  writer.EndObject();
}

// A component key: the characters OpenAPI allows in one ([A-Za-z0-9._-]), others as "_".
std::string KeyOf(std::string_view name) {
  std::string key(name.empty() ? "Type" : name);
  for (char& letter : key) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(letter)) != 0 || letter == '.' ||
                         letter == '-' || letter == '_';
    letter = allowed ? letter : '_';
  }
  return key;
}

// `wanted`, or `wanted` with "_2", "_3"... when `taken` has it already; the answer is taken.
std::string Unique(std::set<std::string>& taken, const std::string& wanted) {
  std::string name = wanted;
  for (int suffix = 2; !taken.insert(name).second; ++suffix) {
    name = wanted + "_" + std::to_string(suffix);
  }
  return name;
}

// The tables' types with their component keys. A second type of a name already seen (in the
// same table or another plugin's, a shared record) is left out: references go by name, so they
// reach the first.
class ComponentNames {
 public:
  explicit ComponentNames(std::span<const HostEndpointTable* const> tables) {
    std::set<std::string> taken(std::begin(kHostSchemas), std::end(kHostSchemas));
    for (const HostEndpointTable* table : tables) {
      EachRecord(table->types, table->typeCount, [&](const HostTypeRecord& type) {
        const std::string name = TextOf(type.name);
        if (byName_.count(name) == 0) {
          types_.emplace_back(&type, Unique(taken, KeyOf(name)));
          byName_.emplace(name, types_.back().second);
        }
      });
    }
  }

  // The key of the type called `name`; null when the table declares none.
  const std::string* Find(const char* name) const {
    const auto found = byName_.find(TextOf(name));
    return found != byName_.end() && *TextOf(name) != '\0' ? &found->second : nullptr;
  }
  const std::vector<std::pair<const HostTypeRecord*, std::string>>& Types() const { return types_; }

 private:
  std::map<std::string, std::string> byName_;
  std::vector<std::pair<const HostTypeRecord*, std::string>> types_;
};

// A field's, argument's or result's type as the table gives it.
struct TypeOf {
  HostTypeKind kind;
  HostTypeKind elementKind;
  const char* name;
};

// The numbers and their JSON Schemas. The formats are OpenAPI's registered ones where the range
// fits (int32, int64, float, double); uint64 has none, its bounds say it.
struct ScalarSchema {
  HostTypeKind kind;
  const char* type;
  const char* format;
  bool bounded;
  int64_t minimum;
  uint64_t maximum;
};
constexpr ScalarSchema kScalars[] = {
    {HOST_TYPE_BOOL, "boolean", nullptr, false, 0, 0},
    {HOST_TYPE_INT8, "integer", "int32", true, -128, 127},
    {HOST_TYPE_UINT8, "integer", "int32", true, 0, 255},
    {HOST_TYPE_INT16, "integer", "int32", true, -32768, 32767},
    {HOST_TYPE_UINT16, "integer", "int32", true, 0, 65535},
    {HOST_TYPE_INT32, "integer", "int32", false, 0, 0},
    {HOST_TYPE_UINT32, "integer", "int64", true, 0, 4294967295u},
    {HOST_TYPE_INT64, "integer", "int64", false, 0, 0},
    {HOST_TYPE_UINT64, "integer", nullptr, true, 0, UINT64_MAX},
    {HOST_TYPE_FLOAT, "number", "float", false, 0, 0},
    {HOST_TYPE_DOUBLE, "number", "double", false, 0, 0},
    {HOST_TYPE_STRING, "string", nullptr, false, 0, 0},
};

class SchemaWriter {
 public:
  SchemaWriter(Writer& writer, const ComponentNames& names) : writer_(writer), names_(names) {}

  // The schema of `type`; a nullable one also admits null (an optional field the plugin writes
  // as null when empty). `description`, when given, is written into it.
  void Write(const TypeOf& type, bool nullable = false, const char* description = nullptr) {
    if (nullable && !AdmitsAnything(type)) {
      writer_.StartObject();
      TextIfAny(writer_, "description", description);
      writer_.Key("anyOf");
      writer_.StartArray();
      Write(type);
      TypeSchema(writer_, "null");
      writer_.EndArray();
      writer_.EndObject();
      return;
    }
    writer_.StartObject();
    TextIfAny(writer_, "description", description);
    Members(type);
    writer_.EndObject();
  }

 private:
  static bool AdmitsAnything(const TypeOf& type) {
    return type.kind == HOST_TYPE_OBJECT || type.kind == HOST_TYPE_CALLBACK ||
           type.kind > HOST_TYPE_MAP;
  }

  void Members(const TypeOf& type) {
    for (const ScalarSchema& scalar : kScalars) {
      if (scalar.kind == type.kind) {
        return Scalar(scalar);
      }
    }
    switch (type.kind) {
      case HOST_TYPE_NONE:
        return Text(writer_, "type", "null");
      case HOST_TYPE_BLOB:  // base64 in a JSON string, as the host writes a blob value
        Text(writer_, "type", "string");
        Text(writer_, "format", "byte");
        return Text(writer_, "contentEncoding", "base64");
      case HOST_TYPE_VECTOR:
        Text(writer_, "type", "array");
        writer_.Key("items");
        return Element(type);
      case HOST_TYPE_MAP:
        Text(writer_, "type", "object");
        writer_.Key("additionalProperties");
        return Element(type);
      case HOST_TYPE_STRUCT:
      case HOST_TYPE_ENUM:
        return Named(type);
      default:
        return;  // object, callback, unknown: any JSON
    }
  }

  void Scalar(const ScalarSchema& scalar) {
    Text(writer_, "type", scalar.type);
    if (scalar.format != nullptr) {
      Text(writer_, "format", scalar.format);
    }
    if (scalar.bounded) {
      writer_.Key("minimum");
      writer_.Int64(scalar.minimum);
      writer_.Key("maximum");
      writer_.Uint64(scalar.maximum);
    }
  }

  // A container's element: its kind with the container's type name (which names the element
  // type); an element of no kind is any JSON.
  void Element(const TypeOf& container) {
    if (container.elementKind == HOST_TYPE_NONE) {
      writer_.StartObject();
      writer_.EndObject();
      return;
    }
    Write({container.elementKind, HOST_TYPE_NONE, container.name});
  }

  // A record or enum: a reference to its component, or, when the table does not declare it,
  // what any record or enumerator value looks like (an enumerator without a name is its number).
  void Named(const TypeOf& type) {
    if (const std::string* key = names_.Find(type.name); key != nullptr) {
      return Text(writer_, "$ref", kSchemas + *key);
    }
    if (type.kind == HOST_TYPE_STRUCT) {
      return Text(writer_, "type", "object");
    }
    writer_.Key("type");
    writer_.StartArray();
    writer_.String("string");
    writer_.String("integer");
    writer_.EndArray();
  }

  Writer& writer_;
  const ComponentNames& names_;
};

// ---------------------------------------------------------------------------------------------
// Operations

// One operation under a path: its lower-case method and what writes its object.
struct Operation {
  std::string method;
  std::function<void(Writer&)> write;
};

// The paths in the order first seen, each with its operations; a second operation of one method
// on one path is left out, as the router serves the first.
class Paths {
 public:
  void Add(const std::string& path, const std::string& method, std::function<void(Writer&)> write) {
    auto found = std::find_if(paths_.begin(), paths_.end(),
                              [&](const auto& entry) { return entry.first == path; });
    if (found == paths_.end()) {
      found = paths_.insert(paths_.end(), {path, {}});
    }
    auto& operations = found->second;
    if (std::none_of(operations.begin(), operations.end(),
                     [&](const Operation& known) { return known.method == method; })) {
      operations.push_back({method, std::move(write)});
    }
  }

  void Write(Writer& writer) const {
    writer.Key("paths");
    writer.StartObject();
    for (const auto& [path, operations] : paths_) {
      String(writer, path);
      writer.StartObject();
      for (const Operation& operation : operations) {
        String(writer, operation.method);
        operation.write(writer);
      }
      writer.EndObject();
    }
    writer.EndObject();
  }

 private:
  std::vector<std::pair<std::string, std::vector<Operation>>> paths_;
};

// The methods a path item has an operation for, in lower case; empty for any other.
std::string OperationMethod(const HostEndpointRecord& endpoint) {
  static const std::string kKnown[] = {"get",  "put",     "post",  "delete",
                                       "head", "options", "patch", "trace"};
  std::string method = HttpMethodOf(endpoint);
  std::transform(method.begin(), method.end(), method.begin(),
                 [](unsigned char letter) { return static_cast<char>(std::tolower(letter)); });
  return std::find(std::begin(kKnown), std::end(kKnown), method) != std::end(kKnown) ? method : "";
}

// The placeholders of a URI template: the segments that are a whole "{name}", as the router
// matches them.
std::vector<std::string> Placeholders(std::string_view uri) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < uri.size();) {
    const std::size_t end = std::min(uri.find('/', start), uri.size());
    const std::string_view segment = uri.substr(start, end - start);
    if (segment.size() > 2 && segment.front() == '{' && segment.back() == '}') {
      names.emplace_back(segment.substr(1, segment.size() - 2));
    }
    start = end + 1;
  }
  return names;
}

void ErrorResponses(Writer& writer) {
  for (const char* status : {"4XX", "5XX"}) {
    writer.Key(status);
    writer.StartObject();
    Text(writer, "$ref", "#/components/responses/Error");
    writer.EndObject();
  }
}

// "content" with one media type whose schema `schema` writes.
void Content(Writer& writer, const char* mediaType, const std::function<void()>& schema) {
  writer.Key("content");
  writer.StartObject();
  writer.Key(mediaType);
  writer.StartObject();
  writer.Key("schema");
  schema();
  writer.EndObject();
  writer.EndObject();
}

// A "200" answer of `mediaType` whose schema `schema` writes.
void OkResponse(Writer& writer, const char* description, const char* mediaType,
                const std::function<void()>& schema) {
  writer.Key("200");
  writer.StartObject();
  Text(writer, "description", description);
  Content(writer, mediaType, schema);
  writer.EndObject();
}

void JsonBody(Writer& writer, bool required, const char* description,
              const std::function<void()>& schema) {
  writer.Key("requestBody");
  writer.StartObject();
  TextIfAny(writer, "description", description);
  writer.Key("required");
  writer.Bool(required);
  Content(writer, kJson, schema);
  writer.EndObject();
}

// The plugin's endpoints as operations.
class EndpointOperations {
 public:
  EndpointOperations(const ComponentNames& names, std::set<std::string>& operationIds,
                     std::vector<std::string>& tags, const std::string& pluginTag)
      : names_(names), operationIds_(operationIds), tags_(tags), pluginTag_(pluginTag) {}

  void Add(Paths& paths, const HostEndpointRecord& endpoint) {
    const std::string method = OperationMethod(endpoint);
    const std::string_view uri = TextOf(endpoint.uriTemplate);
    if (endpoint.handler == nullptr || method.empty() || uri.empty() || uri.front() != '/') {
      return;
    }
    std::string name = TextOf(endpoint.function.name);
    name = Unique(operationIds_, name.empty() ? method + KeyOf(uri) : name);
    std::vector<std::string> tags;
    const HostFunctionRecord& function = endpoint.function;
    for (uint32_t index = 0; function.tags != nullptr && index < function.tagCount; ++index) {
      if (*TextOf(function.tags[index]) != '\0') {
        tags.emplace_back(function.tags[index]);
      }
    }
    if (tags.empty()) {
      tags.push_back(pluginTag_);
    }
    for (const std::string& tag : tags) {
      if (std::find(tags_.begin(), tags_.end(), tag) == tags_.end()) {
        tags_.push_back(tag);
      }
    }
    paths.Add(std::string(uri), method, [this, &endpoint, name, tags](Writer& writer) {
      Write(writer, endpoint, name, tags);
    });
  }

 private:
  void Write(Writer& writer, const HostEndpointRecord& endpoint, const std::string& name,
             const std::vector<std::string>& tags) const {
    const HostFunctionRecord& function = endpoint.function;
    SchemaWriter schemas(writer, names_);
    writer.StartObject();
    Text(writer, "operationId", name);
    writer.Key("tags");
    writer.StartArray();
    for (const std::string& tag : tags) {
      String(writer, tag);
    }
    writer.EndArray();
    TextIfAny(writer, "summary", function.description);
    TextIfAny(writer, "description", function.help);
    const HostArgumentRecord* body = Parameters(writer, endpoint);
    if (body != nullptr) {
      JsonBody(writer, body->optional == 0, body->description, [&] {
        schemas.Write({body->kind, body->elementKind, body->typeName});
      });
    }
    writer.Key("responses");
    writer.StartObject();
    OkResponse(writer, "The result", kJson, [&] {
      schemas.Write({function.returnKind, function.returnElementKind, function.returnTypeName});
    });
    ErrorResponses(writer);
    writer.EndObject();
    writer.EndObject();
  }

  // Writes the parameters and answers the argument that takes the body, if any: the first one
  // declared for it, as the plugin binds the body. A path placeholder without an argument is a
  // text; an argument for the path that the template does not hold cannot be given.
  const HostArgumentRecord* Parameters(Writer& writer, const HostEndpointRecord& endpoint) const {
    std::vector<std::string> placeholders = Placeholders(TextOf(endpoint.uriTemplate));
    std::set<std::pair<std::string, std::string>> written;
    const HostArgumentRecord* body = nullptr;
    SchemaWriter schemas(writer, names_);
    bool started = false;
    const auto parameter = [&](const std::string& argumentName, const char* in, bool required,
                               const char* description, const TypeOf& type) {
      if (!written.insert({argumentName, in}).second) {
        return;
      }
      if (!started) {
        writer.Key("parameters");
        writer.StartArray();
        started = true;
      }
      writer.StartObject();
      Text(writer, "name", argumentName);
      Text(writer, "in", in);
      writer.Key("required");
      writer.Bool(required);
      TextIfAny(writer, "description", description);
      writer.Key("schema");
      schemas.Write(type);
      writer.EndObject();
    };
    EachArgument(endpoint, [&](const HostArgumentRecord& argument, HostArgumentPlace place) {
      const std::string argumentName = TextOf(argument.name);
      const TypeOf type{argument.kind, argument.elementKind, argument.typeName};
      const auto placeholder = std::find(placeholders.begin(), placeholders.end(), argumentName);
      // A bool that is not optional starts as false: it need not be given either.
      const bool required = argument.optional == 0 && argument.kind != HOST_TYPE_BOOL;
      if (argument.kind == HOST_TYPE_CALLBACK || argumentName.empty()) {
        return;
      }
      if ((place == HOST_ARGUMENT_PATH || place == HOST_ARGUMENT_ANYWHERE) &&
          placeholder != placeholders.end()) {
        parameter(argumentName, "path", true, argument.description, type);
        placeholders.erase(placeholder);
      } else if (place == HOST_ARGUMENT_QUERY || place == HOST_ARGUMENT_ANYWHERE) {
        parameter(argumentName, "query", required, argument.description, type);
      } else if (place == HOST_ARGUMENT_HEADER) {
        parameter(argumentName, "header", required, argument.description, type);
      } else if (place == HOST_ARGUMENT_BODY && body == nullptr) {
        body = &argument;
      }
    });
    for (const std::string& placeholder : placeholders) {
      parameter(placeholder, "path", true, nullptr, {HOST_TYPE_STRING, HOST_TYPE_NONE, nullptr});
    }
    if (started) {
      writer.EndArray();
    }
    return body;
  }

  const ComponentNames& names_;
  std::set<std::string>& operationIds_;
  std::vector<std::string>& tags_;
  const std::string& pluginTag_;
};

// ---------------------------------------------------------------------------------------------
// The host's own API

// What a host route answers with 200.
enum class HostAnswer { kSchema, kSchemaOrNull, kList, kNull, kObject, kEvents };

struct HostRoute {
  const char* method;
  const char* path;
  const char* operationId;
  const char* summary;
  const char* body;  // the request body's schema, or null
  HostAnswer answer;
  const char* schema;  // the answer's schema for kSchema and kSchemaOrNull, its items' for kList
};

constexpr HostRoute kHostRoutes[] = {
    {"get", "/events", "getEvents", "The plugin's events as Server-Sent Events", nullptr,
     HostAnswer::kEvents, nullptr},
    {"get", "/host/v1/session", "getHostSession", "The login session; null when signed out",
     nullptr, HostAnswer::kSchemaOrNull, "HostSession"},
    {"put", "/host/v1/session", "putHostSession",
     "Signs in with this session; answers once the plugin has handled the change", "HostSession",
     HostAnswer::kSchema, "HostSession"},
    {"delete", "/host/v1/session", "deleteHostSession", "Signs out", nullptr, HostAnswer::kNull,
     nullptr},
    {"get", "/host/v1/config", "getHostConfig", "The configuration namespace", nullptr,
     HostAnswer::kSchema, "HostConfig"},
    {"put", "/host/v1/config", "putHostConfig",
     "Replaces the configuration; answers once the plugin has handled the change", "HostConfig",
     HostAnswer::kSchema, "HostConfig"},
    {"get", "/host/v1/config/{name}", "getHostConfigNamespace",
     "A configuration namespace by name; {} for one never set", nullptr, HostAnswer::kSchema,
     "HostNamespace"},
    {"put", "/host/v1/config/{name}", "putHostConfigNamespace",
     "Replaces a configuration namespace; answers once the plugins have handled the change",
     "HostNamespace", HostAnswer::kSchema, "HostNamespace"},
    {"get", "/host/v1/faults", "getHostFaults", "The service proxy's injected faults", nullptr,
     HostAnswer::kSchema, "HostFaults"},
    {"put", "/host/v1/faults", "putHostFaults",
     "Changes the faults named in the body; the others stay", "HostFaults", HostAnswer::kSchema,
     "HostFaults"},
    {"get", "/host/v1/api", "getHostApi",
     "The plugin's API table as JSON: endpoints, types, events", nullptr, HostAnswer::kObject,
     nullptr},
    {"get", "/host/v1/openapi.json", "getHostOpenApi", "This document", nullptr,
     HostAnswer::kObject, nullptr},
    {"get", "/host/v1/statistics", "getHostStatistics", "The plugin's allocation counters", nullptr,
     HostAnswer::kSchema, "HostStatistics"},
    {"get", "/host/v1/health", "getHostHealth", "Whether the host serves, and what", nullptr,
     HostAnswer::kSchema, "HostHealth"},
    {"get", "/host/v1/plugins", "getHostPlugins",
     "Each plugin's identity, allocation counters and health, in the order loaded", nullptr,
     HostAnswer::kList, "HostPlugin"},
    {"get", "/host/v1/log", "getHostLog",
     "The host's and the plugin's log records as Server-Sent Events", nullptr, HostAnswer::kEvents,
     nullptr},
};

// A resource event's payload as it travels: {"uri", "eventType", "data"}, where a plugin declares
// the type of its data (null in a Delete).
void ResourceEventSchema(Writer& writer, SchemaWriter& schemas, const TypeOf& data,
                         const char* description) {
  writer.StartObject();
  TextIfAny(writer, "description", description);
  Text(writer, "type", "object");
  writer.Key("properties");
  writer.StartObject();
  writer.Key("uri");
  TypeSchema(writer, "string");
  writer.Key("eventType");
  writer.StartObject();
  Text(writer, "type", "string");
  writer.Key("enum");
  writer.StartArray();
  for (const char* type : {"Create", "Update", "Delete"}) {
    writer.String(type);
  }
  writer.EndArray();
  writer.EndObject();
  writer.Key("data");
  schemas.Write(data, true);
  writer.EndObject();
  writer.Key("required");
  writer.StartArray();
  for (const char* member : {"uri", "eventType", "data"}) {
    writer.String(member);
  }
  writer.EndArray();
  writer.EndObject();
}

// The /events operation's description and its "x-events": the events the plugins declare, each
// name (once, the first plugin's) with the schema of its payload.
void PluginEvents(Writer& writer, std::span<const HostEndpointTable* const> tables,
                  const ComponentNames& names) {
  std::vector<const HostEventDescription*> events;
  std::set<std::string> seen;
  for (const HostEndpointTable* table : tables) {
    EachRecord(table->events, table->eventCount, [&](const HostEventDescription& event) {
      if (*TextOf(event.name) != '\0' && seen.insert(event.name).second) {
        events.push_back(&event);
      }
    });
  }
  std::string description =
      "Every event the plugin sends, as an `event:` line with its name and a `data:` line with "
      "its payload as JSON; a `: heartbeat` comment after 15 s of silence.";
  if (!events.empty()) {
    description += " The plugin declares these events (their payloads in x-events):";
    for (const HostEventDescription* event : events) {
      description.append(" ").append(event->name).append(event == events.back() ? "." : ",");
    }
  }
  Text(writer, "description", description);
  writer.Key("x-events");
  writer.StartObject();
  SchemaWriter schemas(writer, names);
  for (const HostEventDescription* event : events) {
    writer.Key(event->name);
    const bool named = names.Find(event->dataTypeName) != nullptr;
    const TypeOf payload{named ? HOST_TYPE_STRUCT : HOST_TYPE_OBJECT, HOST_TYPE_NONE,
                         event->dataTypeName};
    if (std::string_view(event->name).starts_with(kResourceEventPrefix)) {
      ResourceEventSchema(writer, schemas, payload, event->description);
    } else {
      schemas.Write(payload, false, event->description);
    }
  }
  writer.EndObject();
}

void WriteHostRoute(Writer& writer, const HostRoute& route, std::string operationId,
                    std::span<const HostEndpointTable* const> tables, const ComponentNames& names) {
  writer.StartObject();
  Text(writer, "operationId", operationId);
  writer.Key("tags");
  writer.StartArray();
  writer.String(kHostTag);
  writer.EndArray();
  Text(writer, "summary", route.summary);
  if (std::string_view(route.path) == "/events") {
    PluginEvents(writer, tables, names);
  } else if (std::string_view(route.method) != "get") {
    Text(writer, "description", std::string(route.summary) + "." + kJsonRequired);
  }
  if (std::string_view(route.path).ends_with("/{name}")) {
    writer.Key("parameters");
    writer.StartArray();
    writer.StartObject();
    Text(writer, "name", "name");
    Text(writer, "in", "path");
    writer.Key("required");
    writer.Bool(true);
    writer.Key("schema");
    TypeSchema(writer, "string");
    writer.EndObject();
    writer.EndArray();
  }
  if (route.body != nullptr) {
    JsonBody(writer, true, nullptr, [&] { Ref(writer, route.body); });
  }
  writer.Key("responses");
  writer.StartObject();
  const auto nullSchema = [&] { TypeSchema(writer, "null"); };
  switch (route.answer) {
    case HostAnswer::kSchema:
      OkResponse(writer, route.summary, kJson, [&] { Ref(writer, route.schema); });
      break;
    case HostAnswer::kSchemaOrNull:
      OkResponse(writer, route.summary, kJson, [&] {
        writer.StartObject();
        writer.Key("anyOf");
        writer.StartArray();
        Ref(writer, route.schema);
        nullSchema();
        writer.EndArray();
        writer.EndObject();
      });
      break;
    case HostAnswer::kList:
      OkResponse(writer, route.summary, kJson, [&] {
        writer.StartObject();
        Text(writer, "type", "array");
        writer.Key("items");
        Ref(writer, route.schema);
        writer.EndObject();
      });
      break;
    case HostAnswer::kNull:
      OkResponse(writer, route.summary, kJson, nullSchema);
      break;
    case HostAnswer::kObject:
      OkResponse(writer, route.summary, kJson, [&] { TypeSchema(writer, "object"); });
      break;
    case HostAnswer::kEvents:
      OkResponse(writer, route.summary, kEventStream, [&] { TypeSchema(writer, "string"); });
      break;
  }
  ErrorResponses(writer);
  writer.EndObject();
  writer.EndObject();
}

// ---------------------------------------------------------------------------------------------
// Components

// A property of a host schema: `members` writes the inside of its schema object.
void Property(Writer& writer, const char* name, const std::function<void()>& members) {
  writer.Key(name);
  writer.StartObject();
  members();
  writer.EndObject();
}

void Required(Writer& writer, std::initializer_list<const char*> names) {
  writer.Key("required");
  writer.StartArray();
  for (const char* name : names) {
    writer.String(name);
  }
  writer.EndArray();
}

// An object schema named `name`: `properties` writes its properties; `closed` refuses others.
void ObjectSchema(Writer& writer, const char* name, std::initializer_list<const char*> required,
                  bool closed, const std::function<void()>& properties) {
  writer.Key(name);
  writer.StartObject();
  Text(writer, "type", "object");
  if (required.size() != 0) {
    Required(writer, required);
  }
  writer.Key("properties");
  writer.StartObject();
  properties();
  writer.EndObject();
  if (closed) {
    writer.Key("additionalProperties");
    writer.Bool(false);
  }
  writer.EndObject();
}

void Bounded(Writer& writer, const char* name, double minimum, double maximum) {
  Property(writer, name, [&] {
    Text(writer, "type", "number");
    writer.Key("minimum");
    writer.Double(minimum);
    writer.Key("maximum");
    writer.Double(maximum);
  });
}

// The host's own schemas, as http_front.cpp checks and writes the bodies.
void HostSchemas(Writer& writer, SchemaWriter& schemas) {
  const auto text = [&](const char* name) {
    Property(writer, name, [&] { Text(writer, "type", "string"); });
  };
  const auto counter = [&](const char* name) {
    writer.Key(name);
    schemas.Write({HOST_TYPE_UINT64, HOST_TYPE_NONE, nullptr});
  };
  ObjectSchema(writer, "Error", {"errorCode", "message"}, false, [&] {
    text("errorCode");
    text("message");
  });
  ObjectSchema(writer, "HostSession", {"state"}, false, [&] {
    Property(writer, "state", [&] {
      Text(writer, "type", "string");
      writer.Key("enum");
      writer.StartArray();
      for (const char* state : {"IN_PROGRESS", "SUCCEEDED", "LOGGING_OUT", "ERROR"}) {
        writer.String(state);
      }
      writer.EndArray();
    });
    counter("profileId");
    counter("accountId");
  });
  ObjectSchema(writer, "HostConfig", {"Enabled"}, false,
               [&] { Property(writer, "Enabled", [&] { Text(writer, "type", "boolean"); }); });
  ObjectSchema(writer, "HostNamespace", {}, false, [] {});
  ObjectSchema(writer, "HostFaults", {}, true, [&] {
    Bounded(writer, "latencyMs", 0, 3600 * 1000);
    for (const char* rate : {"errorRate", "silenceRate", "duplicateRate", "strayRate"}) {
      Bounded(writer, rate, 0, 1);
    }
  });
  const auto counters = {"peakBytes",   "peakAllocations", "bytesAllocated",
                         "allocations", "bytesFreed",      "frees"};
  ObjectSchema(writer, "HostStatistics", counters, false, [&] {
    for (const char* name : counters) {
      counter(name);
    }
  });
  ObjectSchema(writer, "HostHealth",
               {"status", "plugin", "pluginApi", "uptimeSeconds", "subscriptions", "eventClients"},
               false, [&] {
                 Property(writer, "status", [&] {
                   Text(writer, "type", "string");
                   Text(writer, "const", "ok");
                 });
                 text("plugin");
                 text("pluginApi");
                 counter("uptimeSeconds");
                 counter("subscriptions");
                 counter("eventClients");
                 Property(writer, "plugins", [&] {
                   Text(writer, "type", "array");
                   Property(writer, "items", [&] { Text(writer, "type", "string"); });
                 });
               });
  ObjectSchema(writer, "HostPlugin",
               {"name", "fullName", "pluginApi", "entry", "path", "health", "statistics"}, false,
               [&] {
                 for (const char* name : {"name", "fullName", "pluginApi", "entry", "path"}) {
                   text(name);
                 }
                 Property(writer, "health", [&] {
                   Text(writer, "type", "object");
                   Required(writer, {"status", "endpoints", "subscriptions"});
                   Property(writer, "properties", [&] {
                     text("status");
                     counter("endpoints");
                     counter("subscriptions");
                   });
                 });
                 writer.Key("statistics");
                 Ref(writer, "HostStatistics");
               });
}

// A record of the table: its fields as properties (the first of a name), the fields that are
// not optional required. The plugin writes an optional field as null when it is empty and
// ignores members it does not know, so the object stays open.
void RecordSchema(Writer& writer, const HostTypeRecord& type, SchemaWriter& schemas) {
  Text(writer, "type", "object");
  std::vector<std::string> required;
  std::set<std::string> seen;
  writer.Key("properties");
  writer.StartObject();
  EachRecord(type.fields, type.count, [&](const HostFieldRecord& field) {
    const std::string name = TextOf(field.name);
    if (!seen.insert(name).second) {
      return;
    }
    String(writer, name);
    schemas.Write({field.kind, field.elementKind, field.typeName}, field.optional != 0,
                  field.description);
    if (field.optional == 0) {
      required.push_back(name);
    }
  });
  writer.EndObject();
  if (!required.empty()) {
    writer.Key("required");
    writer.StartArray();
    for (const std::string& name : required) {
      String(writer, name);
    }
    writer.EndArray();
  }
}

// An enum of the table: the names of its enumerators, as the plugin writes them.
void EnumSchema(Writer& writer, const HostTypeRecord& type) {
  Text(writer, "type", "string");
  std::set<std::string> seen;
  writer.Key("enum");
  writer.StartArray();
  EachRecord(type.enumerators, type.count, [&](const HostEnumeratorRecord& enumerator) {
    if (seen.insert(TextOf(enumerator.name)).second) {
      String(writer, TextOf(enumerator.name));
    }
  });
  writer.EndArray();
}

void Components(Writer& writer, const ComponentNames& names) {
  SchemaWriter schemas(writer, names);
  writer.Key("components");
  writer.StartObject();
  writer.Key("schemas");
  writer.StartObject();
  HostSchemas(writer, schemas);
  for (const auto& [type, key] : names.Types()) {
    String(writer, key);
    writer.StartObject();
    TextIfAny(writer, "description", type->description);
    if (type->fields != nullptr || type->enumerators == nullptr || type->count == 0) {
      RecordSchema(writer, *type, schemas);  // a record without fields has no enumerators either
    } else {
      EnumSchema(writer, *type);
    }
    writer.EndObject();
  }
  writer.EndObject();
  writer.Key("responses");
  writer.StartObject();
  writer.Key("Error");
  writer.StartObject();
  Text(writer, "description", "The request failed; nothing was changed");
  Content(writer, kJson, [&] { Ref(writer, "Error"); });
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
}

void Tags(Writer& writer, const std::vector<std::string>& pluginTags) {
  writer.Key("tags");
  writer.StartArray();
  for (const std::string& tag : pluginTags) {
    writer.StartObject();
    Text(writer, "name", tag);
    writer.EndObject();
  }
  writer.StartObject();
  Text(writer, "name", kHostTag);
  Text(writer, "description", "The host's own API: the platform it stands in for, its state");
  writer.EndObject();
  writer.EndArray();
}

}  // namespace

std::string DescribeOpenApi(std::span<const HostEndpointTable* const> tables,
                            const OpenApiInfo& info) {
  const ComponentNames names(tables);
  const std::string pluginTag = info.title.empty() ? "plugin" : info.title;
  std::set<std::string> operationIds;
  std::vector<std::string> pluginTags;
  Paths paths;
  EndpointOperations endpoints(names, operationIds, pluginTags, pluginTag);
  for (const HostEndpointTable* table : tables) {
    EachEndpoint(*table,
                 [&](const HostEndpointRecord& endpoint) { endpoints.Add(paths, endpoint); });
  }
  for (const HostRoute& route : kHostRoutes) {
    const std::string operationId = Unique(operationIds, route.operationId);
    paths.Add(route.path, route.method, [tables, &names, &route, operationId](Writer& writer) {
      WriteHostRoute(writer, route, operationId, tables, names);
    });
  }

  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.SetIndent(' ', 2);
  writer.StartObject();
  Text(writer, "openapi", "3.1.0");
  writer.Key("info");
  writer.StartObject();
  Text(writer, "title", pluginTag);
  Text(writer, "version", info.version.empty() ? "0.0.0" : info.version);
  Text(writer, "description",
       "The plugin's endpoints as its API table describes them, served by vexa-host, and the "
       "host's own API (tag \"host\"). Errors are {\"errorCode\", \"message\"} with their "
       "status.");
  writer.EndObject();
  writer.Key("servers");
  writer.StartArray();
  writer.StartObject();
  Text(writer, "url", "/");
  writer.EndObject();
  writer.EndArray();
  Tags(writer, pluginTags);
  paths.Write(writer);
  Components(writer, names);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace VexaHost
