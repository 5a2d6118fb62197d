// The OpenAPI document: what DescribeOpenApi makes of a small API table built here from the
// seam's C records, read back with RapidJSON; and the document the built host serves, checked
// by an independent validator (tests/host/openapi, installed by scripts/test).
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host_process.h"
#include "openapi.h"

namespace {

// Links the records of an array or a vector through their `next` words.
template <typename Records>
void Link(Records& records) {
  for (std::size_t index = 0; index + 1 < records.size(); ++index) {
    records[index].next = &records[index + 1];
  }
}

// An argument or field record: the two share these members.
template <typename Record>
Record Typed(const char* name, HostTypeKind kind, HostTypeKind elementKind = 0,
             const char* typeName = "", bool optional = false) {
  Record record{};
  record.name = name;
  record.kind = kind;
  record.elementKind = elementKind;
  record.typeName = typeName;
  record.optional = optional ? 1 : 0;
  return record;
}
template <typename... Rest>
HostArgumentRecord Argument(Rest... rest) {
  return Typed<HostArgumentRecord>(rest...);
}
template <typename... Rest>
HostFieldRecord Field(Rest... rest) {
  return Typed<HostFieldRecord>(rest...);
}

void VEXA_HOST_CALL Handle(HostResponse*, const HostRequest*) {}

// One endpoint over `arguments` placed at `places`, answering `returnKind` and its type name.
struct Endpoint {
  Endpoint(const char* name, HostMethod method, const char* uri,
           std::vector<HostArgumentRecord> arguments, std::vector<HostArgumentPlace> places,
           HostTypeKind returnKind, const char* returnTypeName = "")
      : arguments(std::move(arguments)) {
    Link(this->arguments);
    for (HostArgumentPlace place : places) {
      locations.push_back(HostArgumentLocation{nullptr, place});
    }
    Link(locations);
    record.function.name = name;
    record.function.arguments = this->arguments.empty() ? nullptr : this->arguments.data();
    record.function.argumentCount = static_cast<uint32_t>(this->arguments.size());
    record.function.returnKind = returnKind;
    record.function.returnTypeName = returnTypeName;
    record.handler = Handle;
    record.argumentLocations = locations.empty() ? nullptr : locations.data();
    record.uriTemplate = uri;
    record.method = method;
    record.methodName = method == HOST_METHOD_OTHER ? "SUBSCRIBE" : "";
  }
  Endpoint(const Endpoint&) = delete;

  std::vector<HostArgumentRecord> arguments;
  std::vector<HostArgumentLocation> locations;
  HostEndpointRecord record{};
};

// The kinds of the seam and their schemas. Each row is one query argument of GET /kinds.
struct KindRow {
  const char* name;
  HostTypeKind kind, elementKind;
  const char* typeName;
  const char* schema;
};
constexpr KindRow kKinds[] = {
    {"bool", HOST_TYPE_BOOL, 0, "", R"({"type":"boolean"})"},
    {"int8", HOST_TYPE_INT8, 0, "",
     R"({"type":"integer","format":"int32","minimum":-128,"maximum":127})"},
    {"uint8", HOST_TYPE_UINT8, 0, "",
     R"({"type":"integer","format":"int32","minimum":0,"maximum":255})"},
    {"uint16", HOST_TYPE_UINT16, 0, "",
     R"({"type":"integer","format":"int32","minimum":0,"maximum":65535})"},
    {"int32", HOST_TYPE_INT32, 0, "", R"({"type":"integer","format":"int32"})"},
    {"uint32", HOST_TYPE_UINT32, 0, "",
     R"({"type":"integer","format":"int64","minimum":0,"maximum":4294967295})"},
    {"int64", HOST_TYPE_INT64, 0, "", R"({"type":"integer","format":"int64"})"},
    {"uint64", HOST_TYPE_UINT64, 0, "",
     R"({"type":"integer","minimum":0,"maximum":18446744073709551615})"},
    {"float", HOST_TYPE_FLOAT, 0, "", R"({"type":"number","format":"float"})"},
    {"double", HOST_TYPE_DOUBLE, 0, "", R"({"type":"number","format":"double"})"},
    {"string", HOST_TYPE_STRING, 0, "", R"({"type":"string"})"},
    {"object", HOST_TYPE_OBJECT, 0, "", R"({})"},
    {"blob", HOST_TYPE_BLOB, 0, "",
     R"({"type":"string","format":"byte","contentEncoding":"base64"})"},
    {"points", HOST_TYPE_VECTOR, HOST_TYPE_STRUCT, "Point",
     R"({"type":"array","items":{"$ref":"#/components/schemas/Point"}})"},
    {"anything", HOST_TYPE_VECTOR, HOST_TYPE_NONE, "", R"({"type":"array","items":{}})"},
    {"counts", HOST_TYPE_MAP, HOST_TYPE_UINT8, "",
     R"({"type":"object","additionalProperties":{"type":"integer","format":"int32","minimum":0,"maximum":255}})"},
    {"color", HOST_TYPE_ENUM, 0, "Color", R"({"$ref":"#/components/schemas/Color"})"},
    {"undeclaredRecord", HOST_TYPE_STRUCT, 0, "Nowhere", R"({"type":"object"})"},
    {"undeclaredEnum", HOST_TYPE_ENUM, 0, "Nowhere", R"({"type":["string","integer"]})"},
};

// A small plugin's table: an enum, two records (one with an optional field and a vector of the
// other), endpoints with every argument place, a repeated operation name, an event.
class OpenApiTest : public testing::Test {
 protected:
  OpenApiTest() {
    enumerators = {HostEnumeratorRecord{nullptr, "RED", "", 0},
                   HostEnumeratorRecord{nullptr, "GREEN", "", 5}};
    Link(enumerators);
    pointFields = {Field("x", HOST_TYPE_INT32), Field("label", HOST_TYPE_STRING, 0, "", true),
                   Field("color", HOST_TYPE_ENUM, 0, "Color", true)};
    Link(pointFields);
    shapeFields = {Field("id", HOST_TYPE_UINT32),
                   Field("points", HOST_TYPE_VECTOR, HOST_TYPE_STRUCT, "Point")};
    Link(shapeFields);
    types[0] = HostTypeRecord{
        nullptr, "Color", "", 4, "A color", nullptr, 0, nullptr, enumerators.data(), 2};
    types[1] =
        HostTypeRecord{nullptr, "Point", "", 16, "", nullptr, 0, pointFields.data(), nullptr, 3};
    types[2] =
        HostTypeRecord{nullptr, "Shape", "", 32, "", nullptr, 0, shapeFields.data(), nullptr, 2};
    Link(types);
    events[0] =
        HostEventDescription{nullptr, "OnShape", "", "Shape", "A shape changed", nullptr, 0};
    events[1] = HostEventDescription{
        nullptr, "OnJsonApiEvent_shapes_v1_shapes", "", "Shape", "", nullptr, 0};
    Link(events);

    std::vector<HostArgumentRecord> kinds;
    for (const KindRow& row : kKinds) {
      kinds.push_back(Argument(row.name, row.kind, row.elementKind, row.typeName, true));
    }
    Add("GetShape", HOST_METHOD_GET, "/shapes/{shapeId}/{part}",
        {Argument("shapeId", HOST_TYPE_UINT32), Argument("verbose", HOST_TYPE_BOOL),
         Argument("limit", HOST_TYPE_INT64, 0, "", true), Argument("x-trace", HOST_TYPE_STRING),
         Argument("since", HOST_TYPE_STRING), Argument("reserved", HOST_TYPE_STRING),
         Argument("done", HOST_TYPE_CALLBACK)},
        {HOST_ARGUMENT_PATH, HOST_ARGUMENT_QUERY, HOST_ARGUMENT_QUERY, HOST_ARGUMENT_HEADER,
         HOST_ARGUMENT_ANYWHERE, HOST_ARGUMENT_RESERVED, HOST_ARGUMENT_QUERY},
        HOST_TYPE_STRUCT, "Shape");
    Add("PutShape", HOST_METHOD_PUT, "/shapes",
        {Argument("shape", HOST_TYPE_STRUCT, 0, "Shape"), Argument("second", HOST_TYPE_STRING)},
        {HOST_ARGUMENT_BODY, HOST_ARGUMENT_BODY}, HOST_TYPE_VECTOR, "Point");
    endpoints.back()->record.function.returnElementKind = HOST_TYPE_STRUCT;
    Add("GetShape", HOST_METHOD_GET, "/other", {}, {}, HOST_TYPE_NONE);
    Add("Subscribe", HOST_METHOD_OTHER, "/subscribed", {}, {}, HOST_TYPE_NONE);
    Add("Kinds", HOST_METHOD_GET, "/kinds", kinds,
        std::vector<HostArgumentPlace>(kinds.size(), HOST_ARGUMENT_QUERY), HOST_TYPE_NONE);
    for (std::size_t index = 0; index + 1 < endpoints.size(); ++index) {
      endpoints[index]->record.function.next = &endpoints[index + 1]->record.function;
    }
    table = HostEndpointTable{&endpoints[0]->record, static_cast<uint32_t>(endpoints.size()),
                              types.data(),          3,
                              events.data(),         2};
  }

  void Add(const char* name, HostMethod method, const char* uri,
           std::vector<HostArgumentRecord> arguments, std::vector<HostArgumentPlace> places,
           HostTypeKind returnKind, const char* returnTypeName = "") {
    endpoints.push_back(std::make_unique<Endpoint>(name, method, uri, std::move(arguments),
                                                   std::move(places), returnKind, returnTypeName));
  }

  // The document of `table`, parsed; a failed parse fails the test.
  rapidjson::Document Describe() {
    rapidjson::Document document;
    document.Parse(VexaHost::DescribeOpenApi(table, {"sample-plugin", "2.1.0"}).c_str());
    EXPECT_FALSE(document.HasParseError());
    return document;
  }

  std::array<HostEnumeratorRecord, 2> enumerators{};
  std::array<HostFieldRecord, 3> pointFields{};
  std::array<HostFieldRecord, 2> shapeFields{};
  std::array<HostTypeRecord, 3> types{};
  std::array<HostEventDescription, 2> events{};
  std::vector<std::unique_ptr<Endpoint>> endpoints;
  HostEndpointTable table{};
};

std::string Compact(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

// The value at a JSON pointer ("/paths/~1shapes/put"); an empty object when there is none.
const rapidjson::Value& At(const rapidjson::Value& document, const char* pointer) {
  static const rapidjson::Value kNone(rapidjson::kObjectType);
  const rapidjson::Value* found = rapidjson::Pointer(pointer).Get(document);
  EXPECT_NE(found, nullptr) << pointer;
  return found != nullptr ? *found : kNone;
}

// "name in required" for each parameter of an operation.
std::vector<std::string> Parameters(const rapidjson::Value& operation) {
  std::vector<std::string> parameters;
  if (operation.HasMember("parameters")) {
    for (const auto& parameter : operation["parameters"].GetArray()) {
      parameters.push_back(std::string(parameter["name"].GetString()) + " " +
                           parameter["in"].GetString() +
                           (parameter["required"].GetBool() ? " required" : ""));
    }
  }
  return parameters;
}

// Every "$ref" of `value` that does not point at something in `document`.
void DanglingReferences(const rapidjson::Value& document, const rapidjson::Value& value,
                        std::vector<std::string>& dangling, int& count) {
  if (value.IsArray()) {
    for (const auto& element : value.GetArray()) {
      DanglingReferences(document, element, dangling, count);
    }
  } else if (value.IsObject()) {
    for (const auto& member : value.GetObject()) {
      if (member.name == "$ref") {
        ++count;
        const rapidjson::Pointer pointer(member.value.GetString());  // "#/..." as a URI fragment
        if (!pointer.IsValid() || pointer.Get(document) == nullptr) {
          dangling.emplace_back(member.value.GetString());
        }
      } else {
        DanglingReferences(document, member.value, dangling, count);
      }
    }
  }
}

TEST_F(OpenApiTest, ArgumentsBecomeParametersByTheirPlaces) {
  const rapidjson::Document document = Describe();
  const rapidjson::Value& get = At(document, "/paths/~1shapes~1{shapeId}~1{part}/get");
  EXPECT_EQ(Compact(get["operationId"]), R"("GetShape")");
  // The reserved argument and the callback are left out; a placeholder without an argument is
  // a path text; a bool that is not optional need not be given.
  EXPECT_EQ(Parameters(get),
            (std::vector<std::string>{"shapeId path required", "verbose query", "limit query",
                                      "x-trace header required", "since query required",
                                      "part path required"}));
  EXPECT_EQ(Compact(At(document, "/paths/~1shapes~1{shapeId}~1{part}/get/parameters/5/schema")),
            R"({"type":"string"})");
  EXPECT_EQ(Compact(get["responses"]["200"]["content"]["application/json"]["schema"]),
            R"({"$ref":"#/components/schemas/Shape"})");
  EXPECT_EQ(Compact(get["responses"]["4XX"]), R"({"$ref":"#/components/responses/Error"})");
  EXPECT_EQ(Compact(At(document, "/components/responses/Error/content/application~1json/schema")),
            R"({"$ref":"#/components/schemas/Error"})");
  EXPECT_EQ(Compact(At(document, "/components/schemas/Error/required")),
            R"(["errorCode","message"])");
}

TEST_F(OpenApiTest, TheFirstBodyArgumentIsTheRequestBody) {
  const rapidjson::Document document = Describe();
  const rapidjson::Value& put = At(document, "/paths/~1shapes/put");
  EXPECT_EQ(
      Compact(put["requestBody"]),
      R"({"required":true,"content":{"application/json":{"schema":{"$ref":"#/components/schemas/Shape"}}}})");
  EXPECT_FALSE(put.HasMember("parameters"));
  EXPECT_EQ(Compact(put["responses"]["200"]["content"]["application/json"]["schema"]),
            R"({"type":"array","items":{"$ref":"#/components/schemas/Point"}})");
}

TEST_F(OpenApiTest, OperationsAreUniqueAndOnlyForMethodsOpenApiKnows) {
  const rapidjson::Document document = Describe();
  EXPECT_EQ(Compact(At(document, "/paths/~1other/get/operationId")), R"("GetShape_2")");
  EXPECT_FALSE(document["paths"].HasMember("/subscribed"));
  EXPECT_EQ(Compact(At(document, "/paths/~1other/get/tags")), R"(["sample-plugin"])");
  EXPECT_EQ(Compact(At(document, "/info")),
            R"({"title":"sample-plugin","version":"2.1.0","description":)" +
                Compact(At(document, "/info/description")) + "}");
}

TEST_F(OpenApiTest, KindsMapToSchemas) {
  const rapidjson::Document document = Describe();
  const rapidjson::Value& parameters = At(document, "/paths/~1kinds/get/parameters");
  ASSERT_EQ(parameters.Size(), std::size(kKinds));
  for (std::size_t index = 0; index < std::size(kKinds); ++index) {
    EXPECT_EQ(Compact(parameters[index]["schema"]), kKinds[index].schema) << kKinds[index].name;
  }
}

TEST_F(OpenApiTest, TypesBecomeComponents) {
  const rapidjson::Document document = Describe();
  EXPECT_EQ(Compact(At(document, "/components/schemas/Color")),
            R"({"description":"A color","type":"string","enum":["RED","GREEN"]})");
  // Optional fields admit null (the plugin writes an empty one so) and are not required.
  EXPECT_EQ(Compact(At(document, "/components/schemas/Point")),
            R"({"type":"object","properties":{"x":{"type":"integer","format":"int32"},)"
            R"("label":{"anyOf":[{"type":"string"},{"type":"null"}]},)"
            R"("color":{"anyOf":[{"$ref":"#/components/schemas/Color"},{"type":"null"}]}},)"
            R"("required":["x"]})");
  EXPECT_EQ(Compact(At(document, "/components/schemas/Shape/required")), R"(["id","points"])");
}

TEST_F(OpenApiTest, TheHostsRoutesAndThePluginsEventsAreDescribed) {
  const rapidjson::Document document = Describe();
  const rapidjson::Value& events = At(document, "/paths/~1events/get");
  EXPECT_EQ(Compact(events["x-events"]),
            R"({"OnShape":{"description":"A shape changed","$ref":"#/components/schemas/Shape"},)"
            R"("OnJsonApiEvent_shapes_v1_shapes":{"type":"object","properties":{"uri":)"
            R"({"type":"string"},"eventType":{"type":"string","enum":["Create","Update",)"
            R"("Delete"]},"data":{"anyOf":[{"$ref":"#/components/schemas/Shape"},)"
            R"({"type":"null"}]}},"required":["uri","eventType","data"]}})");
  EXPECT_NE(std::string(events["description"].GetString()).find("OnShape"), std::string::npos);
  EXPECT_TRUE(events["responses"]["200"]["content"].HasMember("text/event-stream"));
  EXPECT_EQ(Compact(At(document, "/paths/~1host~1v1~1session/put/requestBody/content")),
            R"({"application/json":{"schema":{"$ref":"#/components/schemas/HostSession"}}})");
  EXPECT_EQ(Compact(At(document, "/components/schemas/HostSession/properties/state/enum")),
            R"(["IN_PROGRESS","SUCCEEDED","LOGGING_OUT","ERROR"])");
  EXPECT_EQ(Compact(At(document, "/components/schemas/HostFaults/properties/latencyMs")),
            R"({"type":"number","minimum":0.0,"maximum":3600000.0})");
  EXPECT_EQ(Compact(At(document, "/tags")),
            R"([{"name":"sample-plugin"},{"name":"host","description":)" +
                Compact(At(document, "/tags/1/description")) + "}]");
}

TEST_F(OpenApiTest, EveryReferenceResolves) {
  const rapidjson::Document document = Describe();
  std::vector<std::string> dangling;
  int count = 0;
  DanglingReferences(document, document, dangling, count);
  EXPECT_GT(count, 20);
  EXPECT_EQ(dangling, std::vector<std::string>{});
}

TEST_F(OpenApiTest, ATypeNameOfTheHostsOwnGetsAnotherKey) {
  types[2].name = "Error";
  std::get<1>(shapeFields).typeName = "Error";  // unchanged meaning: a reference by name
  const rapidjson::Document document = Describe();
  EXPECT_EQ(Compact(At(document, "/components/schemas/Error/required")),
            R"(["errorCode","message"])");
  EXPECT_EQ(Compact(At(document, "/components/schemas/Error_2/required")), R"(["id","points"])");
}

// ---------------------------------------------------------------------------------------------
// The built host's document, validated by tools that share nothing with the host.

std::string RunCommand(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char chunk[4096];
  for (std::size_t size; pipe != nullptr && (size = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    output.append(chunk, size);
  }
  status = pipe != nullptr ? pclose(pipe) : -1;
  return output;
}

// The built host's document and the sample table's, which has what the plugin's lacks (path and
// header parameters, a request body, nullable fields, enums).
class HostOpenApi : public OpenApiTest {};

TEST_F(HostOpenApi, ValidDocument) {
  const std::string validator = VEXA_OPENAPI_VALIDATOR;
  int status = 0;
  RunCommand("command -v node", status);
  if (status != 0 || !std::filesystem::exists(validator) ||
      !std::filesystem::exists(std::filesystem::path(validator).parent_path() / "node_modules")) {
    GTEST_SKIP() << "no node or no validator at " << validator << " (scripts/test installs both)";
  }
  HostProcess host;
  const httplib::Result answer = host.Client().Get("/host/v1/openapi.json");
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200);
  const std::string good = host.DataDirectory() + "/openapi.json";
  std::ofstream(good) << answer->body;
  // With the answers of the JSON routes, each against its operation's schema.
  std::string command = "node '" + validator + "' '" + good + "'";
  // The operation's path, and what is asked when it differs.
  const std::pair<const char*, const char*> kAnswers[] = {
      {"/kor-geoinfo/v1/whereami", ""},
      {"/kor-geoinfo/v1/getlocation", "/kor-geoinfo/v1/getlocation?ip_address=193.99.144.80"},
      {"/host/v1/session", ""},
      {"/host/v1/config", ""},
      {"/host/v1/faults", ""},
      {"/host/v1/statistics", ""},
      {"/host/v1/health", ""},
      {"/host/v1/plugins", ""},
      {"/host/v1/config/{name}", "/host/v1/config/GeoInfo"}};
  int answers = 0;
  for (const auto& [path, asked] : kAnswers) {
    const httplib::Result got = host.Client().Get(*asked != '\0' ? asked : path);
    ASSERT_TRUE(got && got->status == 200) << path;
    const std::string file = host.DataDirectory() + "/answer" + std::to_string(++answers) + ".json";
    std::ofstream(file) << got->body;
    command += std::string(" GET ") + path + " '" + file + "'";
  }
  std::string output = RunCommand(command, status);
  EXPECT_EQ(status, 0) << output;
  const std::string sample = host.DataDirectory() + "/sample.json";
  std::ofstream(sample) << VexaHost::DescribeOpenApi(table, {"sample-plugin", "2.1.0"});
  output = RunCommand("node '" + validator + "' '" + sample + "'", status);
  EXPECT_EQ(status, 0) << output;

  // A validator that passed anything would pass this too: a parameter "in" the body.
  rapidjson::Document broken;
  broken.Parse(answer->body.c_str());
  rapidjson::Pointer("/paths/~1kor-geoinfo~1v1~1getlocation/get/parameters/0/in")
      .Set(broken, "body");
  const std::string bad = host.DataDirectory() + "/broken.json";
  std::ofstream(bad) << Compact(broken);
  output = RunCommand("node '" + validator + "' '" + bad + "'", status);
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("/parameters/0/in"), std::string::npos) << output;
}

}  // namespace
