// The API description: what its records show of registered functions, types and events, and
// that every array is also a list ending in a null link.
#include "bridge/api_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/field_registration.h"

namespace Vexa::ApiDescriptionTest {
enum class Status : int32_t { Succeeded = 1, Beta = 2, Error = 3 };
VEXA_STATIC_TYPE(Status, "enum Vexa::ApiDescriptionTest::Status");

struct Place {
  int32_t id = 0;
  std::string city;
  Status status = Status::Succeeded;
  std::optional<double> accuracy;
};
VEXA_STATIC_TYPE(Place, "struct Vexa::ApiDescriptionTest::Place");
}  // namespace Vexa::ApiDescriptionTest

namespace Vexa {
namespace {

using ApiDescriptionTest::Place;
using ApiDescriptionTest::Status;
using K = BindingTypeKind;

// Packed records: every field is copied out (+) before it is shown or compared.
std::string Texts(const char* const* texts, uint32_t count) {
  std::string shown;
  for (uint32_t index = 0; index < count; ++index) {
    shown += std::string(texts[index]) + ";";
  }
  return shown;
}
std::string Kinds(uint32_t kind, uint32_t elementKind, const char* typeName) {
  return std::to_string(kind) + "/" + std::to_string(elementKind) + " " + typeName;
}
std::string Describe(const HostArgumentRecord& a) {
  return std::string(a.name) + ":" + a.description + ":" +
         Kinds(+a.kind, +a.elementKind, a.typeName) + (a.optional != 0 ? " optional" : "");
}
std::string Describe(const HostFieldRecord& f) {
  return std::string(f.name) + ":" + f.description + "@" + std::to_string(+f.offset) + ":" +
         Kinds(+f.kind, +f.elementKind, f.typeName) + (f.optional != 0 ? " optional" : "");
}
std::string Describe(const HostEnumeratorRecord& e) {
  return std::string(e.name) + ":" + e.description + "=" + std::to_string(+e.value);
}
std::string Describe(const HostEventDescription& e) {
  return std::string(e.name) + ":" + e.dataTypeName + ":" + e.description + ":" +
         Texts(e.tags, e.tagCount);
}
std::string Describe(const HostTypeRecord& t) {
  return std::string(t.name) + ":" + t.description + ":" + std::to_string(+t.nativeSize) + ":" +
         Texts(t.tags, t.tagCount) + (t.fields != nullptr ? "fields " : "") +
         (t.enumerators != nullptr ? "enumerators " : "") + std::to_string(+t.count);
}
std::string Describe(const HostFunctionRecord& f) {
  return std::string(f.name) + ":" + Kinds(+f.returnKind, +f.returnElementKind, f.returnTypeName) +
         ":" + f.asyncTypeName;
}

// Walks the list from `first`: it must visit exactly the `count` records of the array in
// index order and then end. Describes the records visited.
template <typename Record>
std::vector<std::string> Walk(const Record* first, uint32_t count) {
  std::vector<std::string> seen;
  const Record* node = first;
  for (uint32_t index = 0; index < count && node != nullptr; ++index, node = node->next) {
    EXPECT_EQ(node, &first[index]) << "record " << index;
    seen.push_back(Describe(*node));
  }
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(seen.size(), count);
  std::sort(seen.begin(), seen.end());  // arrays follow the registry's unordered maps
  return seen;
}

class ApiDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterEnum<Status>(registry_, "Status")
        .Value("SUCCEEDED", Status::Succeeded, "Done")
        .Value("ERROR", Status::Error)
        .Value("BETA", Status::Beta, "Trying")
        .SetDescription("Outcome.");
    RegisterRecord<Place>(registry_, "Place")
        .AddTags({"geo", "place"})
        .Field("id", &Place::id, "Key")
        .Field("city", &Place::city)
        .Field("status", &Place::status, {.exposedType = {K::String}})
        .Field("accuracy", &Place::accuracy);
    place_ = registry_.FindType("Place");
    status_ = registry_.FindType("Status");
  }

  const HostTypeRecord& Type(std::string_view name) const {
    const HostApiDescription& description = api_.Description();
    return *std::find_if(description.types, description.types + description.typeCount,
                         [&](const HostTypeRecord& type) { return type.name == name; });
  }

  BindingRegistry registry_;
  BindingApiDescription api_;
  const BindingTypeDescriptor* place_ = nullptr;
  const BindingTypeDescriptor* status_ = nullptr;
};

TEST_F(ApiDescription, FunctionsShowTheirDescribedReturnTypeArgumentsAndTags) {
  const auto returning = [&](const char* name, BindingTypeIdentifier type,
                             BindingTypeIdentifier exposed = {}) -> BindingFunctionDescriptor& {
    BindingFunctionDescriptor& function = registry_.RegisterFunction(name, 0);
    function.returnType = type;
    function.exposedReturnType = exposed;
    return function;
  };
  returning("Places", {K::Vector, K::Struct, place_});
  returning("Lookup", {K::Map, K::Struct, place_});
  returning("Count", {K::Int32, K::None, place_});  // the kind names no type
  returning("StateText", {K::Enum, K::None, status_}, {K::String});
  // The async type is the native return type's, whatever the result is exposed as.
  returning("Later", {K::Struct, K::None, place_}, {K::Object}).isAsync = true;
  BindingFunctionDescriptor& located = returning("GetLocation", {K::Enum, K::None, status_});
  BindingRegistry::SetArgument(located, 0, {K::String}, false);
  BindingRegistry::SetArgument(located, 1, {K::Vector, K::Enum, status_}, true);
  BindingRegistry::AddArgument(located, "ip_address", "Address to locate");
  BindingRegistry::AddArgument(located, "wanted", "");
  located.threadSafe = true;
  located.tags = {"Plugins", "Plugin mdl", "x"};
  const HostApiDescription& description = api_.Build(registry_);

  EXPECT_EQ(
      Walk(description.functions, description.functionCount),
      (std::vector<std::string>{"Count:6/0 :", "GetLocation:16/0 Status:", "Later:13/0 :Place",
                                "Lookup:19/17 Place:", "Places:15/17 Place:", "StateText:12/0 :"}));
  const HostFunctionRecord& record = *api_.FindFunction("GetLocation");
  EXPECT_EQ(+record.help, kHostEmptyText);
  EXPECT_EQ(+record.threadSafe, 1);
  EXPECT_EQ(Texts(record.tags, record.tagCount), "Plugins;Plugin mdl;x;");
  EXPECT_EQ(Walk(record.arguments, record.argumentCount),
            (std::vector<std::string>{"ip_address:Address to locate:12/0 ",
                                      "wanted::15/16 Status optional"}));
  EXPECT_EQ(api_.FindFunction("Place"), nullptr);  // the whole name must match
}

TEST_F(ApiDescription, TypesListFieldsAsExposedOrEnumeratorsInNameOrderAndEventsTheirData) {
  registry_.RegisterEvent("OnMoved", place_).SetDescription("Moved.").AddTags({"geo"});
  registry_.RegisterEvent("OnBare", nullptr);
  const HostApiDescription& description = api_.Build(registry_);
  EXPECT_EQ(
      Walk(description.types, description.typeCount),
      (std::vector<std::string>{"Place::" + std::to_string(sizeof(Place)) + ":geo;place;fields 4",
                                "Status:Outcome.:4:enumerators 3"}));
  const HostTypeRecord& status = Type("Status");
  EXPECT_EQ(Walk(status.enumerators, status.count),
            (std::vector<std::string>{"BETA:Trying=2", "ERROR:=3", "SUCCEEDED:Done=1"}));
  const HostTypeRecord& place = Type("Place");
  const auto at = [](std::size_t offset) { return "@" + std::to_string(offset) + ":"; };
  // "status" is natively an enum but exposed as a string: the host sees the string.
  EXPECT_EQ(
      Walk(place.fields, place.count),
      (std::vector<std::string>{"accuracy:" + at(offsetof(Place, accuracy)) + "11/0  optional",
                                "city:" + at(offsetof(Place, city)) + "12/0 ",
                                "id:Key" + at(offsetof(Place, id)) + "6/0 ",
                                "status:" + at(offsetof(Place, status)) + "12/0 "}));
  EXPECT_EQ(Walk(description.events, description.eventCount),
            (std::vector<std::string>{"OnBare:::", "OnMoved:Place:Moved.:geo;"}));
}

}  // namespace
}  // namespace Vexa
