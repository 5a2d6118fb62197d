// The API description: what its records show of registered functions, types and events, and
// that every array is linked, owned and replaced as its holder promises.
#include "binding/api_description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/field_registration.h"
#include "binding/registry.h"

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

struct Nothing {};
VEXA_STATIC_TYPE(Nothing, "struct Vexa::ApiDescriptionTest::Nothing");
}  // namespace Vexa::ApiDescriptionTest

namespace Vexa {
namespace {

using ApiDescriptionTest::Nothing;
using ApiDescriptionTest::Place;
using ApiDescriptionTest::Status;
using K = BindingTypeKind;

// Copies a field out of a packed record: the assertion macros bind references to their
// operands, and a reference to a misaligned field is undefined.
template <typename T>
T Read(T value) {
  return value;
}

std::vector<std::string> Texts(const char* const* texts, uint32_t count) {
  return count == 0 ? std::vector<std::string>{} : std::vector<std::string>(texts, texts + count);
}

std::string Describe(const HostArgumentRecord& a) {
  return std::string(a.name) + ":" + a.description + ":" + std::to_string(a.kind) + "/" +
         std::to_string(a.elementKind) + ":" + a.typeName + (a.optional != 0 ? ":optional" : "");
}
std::string Describe(const HostFieldRecord& f) {
  return std::string(f.name) + ":" + f.description + "@" + std::to_string(f.offset) + ":" +
         std::to_string(f.kind) + "/" + std::to_string(f.elementKind) + ":" + f.typeName +
         (f.optional != 0 ? ":optional" : "");
}
std::string Describe(const HostEnumeratorRecord& e) {
  return std::string(e.name) + ":" + e.description + "=" + std::to_string(e.value);
}
std::string Describe(const HostEventDescription& e) {
  std::string shown =
      std::string(e.name) + ":" + e.dataTypeName + ":" + e.description + ":" + e.nameSpace + ":";
  for (const std::string& tag : Texts(e.tags, e.tagCount)) {
    shown += tag + ";";
  }
  return shown;
}

// Walks the list from `first`, checking that it visits exactly the `count` records of the
// array in index order and then ends, and describes the records visited.
template <typename Record>
std::vector<std::string> Walk(const Record* first, uint32_t count) {
  std::vector<std::string> seen;
  if (count == 0) {
    EXPECT_EQ(first, nullptr);
    return seen;
  }
  const Record* node = first;
  for (uint32_t index = 0; index < count && node != nullptr; ++index, node = node->next) {
    EXPECT_EQ(node, &first[index]) << "record " << index;
    if constexpr (requires { Describe(*node); }) {
      seen.push_back(Describe(*node));
    }
  }
  EXPECT_EQ(node, nullptr);
  return seen;
}

class ApiDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.Initialize();  // the builtins give the walks many more records to check
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
    RegisterRecord<Nothing>(registry_, "Nothing");
    place_ = registry_.FindType("Place");
    status_ = registry_.FindType("Status");
    ASSERT_NE(place_, nullptr);
    ASSERT_NE(status_, nullptr);
  }

  BindingFunctionDescriptor& Returning(std::string_view name, BindingTypeIdentifier type,
                                       BindingTypeIdentifier exposed = {}) {
    BindingFunctionDescriptor& function = registry_.RegisterFunction(name, 0);
    function.returnType = type;
    function.exposedReturnType = exposed;
    return function;
  }

  const HostTypeRecord* Type(std::string_view name) const {
    const HostApiDescription& description = api_.Description();
    for (uint32_t index = 0; index < description.typeCount; ++index) {
      if (std::string_view(description.types[index].name) == name) {
        return &description.types[index];
      }
    }
    return nullptr;
  }

  BindingRegistry registry_;
  BindingApiDescription api_;
  const BindingTypeDescriptor* place_ = nullptr;
  const BindingTypeDescriptor* status_ = nullptr;
};

TEST_F(ApiDescription, ReturnValuesShowTheirDescribedKindsAndName) {
  struct Case {
    const char* function;
    BindingTypeIdentifier type;
    BindingTypeIdentifier exposed;
    uint32_t kind;
    uint32_t elementKind;
    std::string typeName;
    bool async = false;
    std::string asyncTypeName = {};
  };
  const Case cases[] = {
      {"Places", {K::Vector, K::Struct, place_}, {}, 15, 17, "Place"},
      {"Count", {K::Int32}, {}, 6, 0, ""},
      {"Lookup", {K::Map, K::Struct, place_}, {}, 19, 17, "Place"},
      {"State", {K::Enum, K::None, status_}, {}, 16, 0, "Status"},
      {"StateText", {K::Enum, K::None, status_}, {K::String}, 12, 0, ""},
      {"Unnamed", {K::Struct}, {}, 17, 0, ""},               // no descriptor to name
      {"Stray", {K::Int32, K::None, place_}, {}, 6, 0, ""},  // kind names no type
      {"Void", {}, {}, 0, 0, ""},
      // The async type is the native return type's, whatever the result is exposed as.
      {"Later", {K::Struct, K::None, place_}, {K::Object}, 13, 0, "", true, "Place"},
      {"AsyncUnnamed", {K::Struct}, {}, 17, 0, "", true, ""},
  };
  for (const Case& c : cases) {
    Returning(c.function, c.type, c.exposed).isAsync = c.async;
  }
  api_.Build(registry_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    const HostFunctionRecord* record = api_.FindFunction(c.function);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Read(record->returnKind), c.kind);
    EXPECT_EQ(Read(record->returnElementKind), c.elementKind);
    EXPECT_EQ(std::string(record->returnTypeName), c.typeName);
    EXPECT_EQ(std::string(record->asyncTypeName), c.asyncTypeName);
  }
  EXPECT_EQ(api_.FindFunction("Place"), nullptr);  // the whole name must match
  EXPECT_EQ(api_.FindFunction("Count2"), nullptr);
}

TEST_F(ApiDescription, FunctionRecordBorrowsTextsAndListsArgumentsAndTags) {
  BindingFunctionDescriptor& function = registry_.RegisterFunction("GetLocation", 2);
  BindingRegistry::SetArgument(function, 0, {K::String}, false);
  BindingRegistry::SetArgument(function, 1, {K::Vector, K::Enum, status_}, true);
  BindingRegistry::AddArgument(function, "ip_address", "Address to locate");
  BindingRegistry::AddArgument(function, "wanted", "");
  function.nameSpace = "geo";
  function.description = "Locates an address.";
  function.threadSafe = true;
  function.tags = {"Plugins", "Plugin mdl"};
  api_.Build(registry_);

  const HostFunctionRecord& record = *api_.FindFunction("GetLocation");
  EXPECT_EQ(Read(record.name), function.name.c_str());  // borrowed, not copied
  EXPECT_STREQ(record.nameSpace, "geo");
  EXPECT_STREQ(record.description, "Locates an address.");
  EXPECT_EQ(Read(record.help), kHostEmptyText);
  EXPECT_EQ(Read(record.threadSafe), 1);
  EXPECT_EQ(Read(record.reserved), 0u);
  EXPECT_EQ(Read(record.userData), nullptr);
  EXPECT_EQ(Texts(record.tags, record.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin mdl"}));
  EXPECT_EQ(Walk(record.arguments, record.argumentCount),
            (std::vector<std::string>{"ip_address:Address to locate:12/0:",
                                      "wanted::15/16:Status:optional"}));
  EXPECT_EQ(Read(record.arguments[1].description), kHostEmptyText);
}

TEST_F(ApiDescription, EnumListsEnumeratorsInNameOrderAndRecordListsFieldsAsExposed) {
  api_.Build(registry_);
  const HostTypeRecord& status = *Type("Status");
  EXPECT_EQ(Read(status.fields), nullptr);
  EXPECT_EQ(Read(status.count), 3u);
  EXPECT_EQ(Read(status.nativeSize), 4u);
  EXPECT_STREQ(status.description, "Outcome.");
  EXPECT_EQ(Read(status.tags), nullptr);
  EXPECT_EQ(Walk(status.enumerators, status.count),
            (std::vector<std::string>{"BETA:Trying=2", "ERROR:=3", "SUCCEEDED:Done=1"}));

  const HostTypeRecord& place = *Type("Place");
  EXPECT_EQ(Read(place.nativeSize), sizeof(Place));
  EXPECT_EQ(Texts(place.tags, place.tagCount), (std::vector<std::string>{"geo", "place"}));
  EXPECT_EQ(Read(place.enumerators), nullptr);
  const auto at = [](std::size_t offset) { return "@" + std::to_string(offset) + ":"; };
  // "status" is natively an enum but exposed as a string: the host sees the string.
  EXPECT_EQ(
      Walk(place.fields, place.count),
      (std::vector<std::string>{"id:Key" + at(offsetof(Place, id)) + "6/0:",
                                "city:" + at(offsetof(Place, city)) + "12/0:",
                                "status:" + at(offsetof(Place, status)) + "12/0:",
                                "accuracy:" + at(offsetof(Place, accuracy)) + "11/0::optional"}));

  const HostTypeRecord& nothing = *Type("Nothing");
  EXPECT_EQ(Read(nothing.fields), nullptr);
  EXPECT_EQ(Read(nothing.enumerators), nullptr);
  EXPECT_EQ(Read(nothing.count), 0u);
}

TEST_F(ApiDescription, EveryArrayIsAListEndingInNullAndEventsNameTheirDataType) {
  registry_.RegisterFunction("F", 3).tags = {"a", "b"};
  Returning("G", {K::Int32});
  registry_.RegisterEvent("OnMoved", place_).SetDescription("Moved.").AddTags({"geo"});
  registry_.RegisterEvent("OnBare", nullptr);
  const HostApiDescription& description = api_.Build(registry_);

  EXPECT_EQ(description.functionCount, registry_.FunctionsSnapshot().size());
  EXPECT_EQ(description.typeCount, registry_.TypesSnapshot().size());
  EXPECT_EQ(description.eventCount, registry_.EventsSnapshot().size());
  Walk(description.functions, description.functionCount);
  Walk(description.types, description.typeCount);
  std::vector<std::string> events = Walk(description.events, description.eventCount);
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events,
            (std::vector<std::string>{
                "OnBare::::",
                "OnCallback:BindingCallbackEvent:Fired when a callback is invoked.::$builtin;",
                "OnMoved:Place:Moved.::geo;"}));
  for (uint32_t index = 0; index < description.functionCount; ++index) {
    const HostFunctionRecord& function = description.functions[index];
    EXPECT_EQ(Walk(function.arguments, function.argumentCount).size(),
              Read(function.argumentCount));
  }
  for (uint32_t index = 0; index < description.typeCount; ++index) {
    const HostTypeRecord& type = description.types[index];
    SCOPED_TRACE(type.name);
    const uint32_t fields = type.fields != nullptr ? type.count : 0;
    const uint32_t enumerators = type.count - fields;
    EXPECT_EQ(Walk(type.fields, fields).size(), fields);
    EXPECT_EQ(Walk(type.enumerators, enumerators).size(), enumerators);
  }
}

TEST_F(ApiDescription, RebuildReplacesTheArraysAndMovingKeepsThem) {
  EXPECT_EQ(api_.Description().functions, nullptr);
  EXPECT_EQ(api_.Description().typeCount, 0u);
  Returning("F", {K::Int32});
  EXPECT_EQ(api_.Build(registry_).functionCount, 1u);
  Returning("G", {K::Bool});
  EXPECT_EQ(api_.Build(registry_).functionCount, 2u);

  const HostFunctionRecord* g = api_.FindFunction("G");
  ASSERT_NE(g, nullptr);
  BindingApiDescription moved(std::move(api_));
  EXPECT_EQ(moved.FindFunction("G"), g);
  EXPECT_EQ(Read(g->returnKind), 1u);
  EXPECT_EQ(api_.Description().functionCount, 0u);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(api_.FindFunction("G"), nullptr);
}

}  // namespace
}  // namespace Vexa
