// The endpoint table: each endpoint record is its function's record of the API description
// followed by what the dispatcher knows of the endpoint, and every array is a list.
#include "dispatch/endpoint_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "binding/api_description.h"
#include "binding/registry.h"
#include "dispatch/endpoint.h"
#include "dispatch/request_handler.h"

namespace Vexa {
namespace {

using K = BindingTypeKind;

// Copies a field out of a packed record: the assertion macros bind references to their
// operands, and a reference to a misaligned field is undefined.
template <typename T>
T Read(T value) {
  return value;
}

std::vector<uint32_t> Locations(const HostArgumentLocation* first) {
  std::vector<uint32_t> locations;
  for (const HostArgumentLocation* entry = first; entry != nullptr; entry = entry->next) {
    locations.push_back(Read(entry->location));
  }
  return locations;
}

class EndpointTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.RegisterType("Place", 8, StaticTypeInfoOf<void>(), false).SetDescription("A place.");
    registry_.RegisterEvent("OnMoved", registry_.FindType("Place"));

    getLocation_ = &registry_.RegisterFunction("GetLocation", 2);
    BindingRegistry::SetArgument(*getLocation_, 0, {K::String}, false);
    BindingRegistry::SetArgument(*getLocation_, 1, {K::Bool}, true);
    BindingRegistry::AddArgument(*getLocation_, "ip_address", "Address");
    BindingRegistry::AddArgument(*getLocation_, "fresh", "");
    getLocation_->returnType = {K::Struct, K::None, registry_.FindType("Place")};
    getLocation_->description = "Locates.";
    getLocation_->tags = {"Plugins"};

    whereAmI_ = &registry_.RegisterFunction("WhereAmI", 0);
    whereAmI_->returnType = {K::Int32};
  }

  const HostEndpointRecord& Build() {
    static constexpr HostEndpointRecord kNone{};
    const HostEndpointTable& table = table_.Build(dispatcher_, registry_);
    if (table.endpointCount == 0) {
      ADD_FAILURE() << "no endpoint record";
      return kNone;
    }
    return table.endpoints[0];
  }

  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  EndpointTable table_;
  BindingFunctionDescriptor* getLocation_ = nullptr;
  BindingFunctionDescriptor* whereAmI_ = nullptr;
};

TEST_F(EndpointTableTest, FunctionPartIsTheFunctionRecordWithTheEndpointsUserData) {
  const EndpointRecord& endpoint = dispatcher_.Endpoint(*getLocation_);
  const HostEndpointRecord& record = Build();

  const HostFunctionRecord* described = nullptr;
  const HostApiDescription& description = table_.Description();
  for (uint32_t index = 0; index < description.functionCount; ++index) {
    if (std::string(description.functions[index].name) == "GetLocation") {
      described = &description.functions[index];
    }
  }
  ASSERT_NE(described, nullptr);
  // Everything after the link is copied byte for byte, except the user data set on top.
  HostFunctionRecord expected = *described;
  expected.next = nullptr;
  expected.userData = &endpoint.userData;
  EXPECT_EQ(std::memcmp(&record.function, &expected, sizeof expected), 0);
  EXPECT_STREQ(record.function.returnTypeName, "Place");

  EXPECT_EQ(Read(record.handler), &HandleEndpointRequest);
  EXPECT_EQ(Read(record.function.userData->dispatcher), &dispatcher_);
  EXPECT_EQ(Read(record.function.userData->endpoint), &endpoint);
}

TEST_F(EndpointTableTest, EndpointFieldsComeFromTheEndpointRecord) {
  EndpointRecord& endpoint = dispatcher_.Endpoint(*getLocation_);
  endpoint.SetUriTemplate("/geo/v1/location");
  endpoint.flags = 0xA5;
  endpoint.textLists = {{"one", "two"}, {}};
  // Locations 1 to 5 are kept, others written as 0.
  endpoint.argumentLocations = {0, 1, 2, 3, 4, 5, 6, 9, 0xFFFFFFFF};
  const HostEndpointRecord& record = Build();

  EXPECT_EQ(Read(record.uriTemplate), endpoint.UriTemplate().c_str());
  EXPECT_EQ(Read(record.flags), 0xA5);
  ASSERT_EQ(Read(record.textListCount), 2u);
  const HostTextList* lists = record.textLists;
  EXPECT_EQ(Read(lists[0].next), &lists[1]);
  EXPECT_EQ(Read(lists[1].next), nullptr);
  ASSERT_EQ(Read(lists[0].count), 2u);
  EXPECT_EQ(Read(lists[0].texts[0]), endpoint.textLists[0][0].c_str());  // borrowed
  EXPECT_STREQ(lists[0].texts[1], "two");
  EXPECT_EQ(Read(lists[1].texts), nullptr);
  EXPECT_EQ(Read(lists[1].count), 0u);
  EXPECT_EQ(Locations(record.argumentLocations),
            (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 0, 0, 0}));
  EXPECT_EQ(Read(record.argumentLocations[8].next), nullptr);

  endpoint.argumentLocations.clear();
  EXPECT_EQ(Read(Build().argumentLocations), nullptr);
}

TEST_F(EndpointTableTest, MethodsOutsideTheHostsNumbersBecomeZero) {
  // Only method 8 carries a name.
  const struct {
    uint32_t method;
    const char* name;
    uint32_t expectedMethod;
    std::string expectedName;
  } cases[] = {{0, "", 0, ""},      {1, "", 1, ""},           {2, "IGNORED", 2, ""},
               {7, "x", 7, ""},     {8, "PURGE", 8, "PURGE"}, {8, "", 8, ""},
               {9, "PURGE", 0, ""}, {0xFFFFFFFF, "", 0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    EndpointRecord& endpoint = dispatcher_.Endpoint(*whereAmI_);
    endpoint.method = static_cast<HttpMethod>(c.method);
    endpoint.methodName = c.name;
    const HostEndpointRecord& record = Build();
    EXPECT_EQ(Read(record.method), c.expectedMethod);
    EXPECT_EQ(std::string(record.methodName), c.expectedName);
    if (c.expectedMethod != 8) {
      EXPECT_EQ(Read(record.methodName), kHostEmptyText);
    }
  }
}

TEST_F(EndpointTableTest, EndpointWithoutAFunctionRecordHasAnEmptyFunctionPart) {
  // Detached: the registry keeps it, but no function record carries its name.
  BindingFunctionDescriptor& hidden = registry_.RegisterFunction("Hidden", 1, true);
  hidden.returnType = {K::Int32};
  hidden.description = "Not listed.";
  const EndpointRecord& endpoint = dispatcher_.Endpoint(hidden);
  const HostEndpointRecord& record = Build();

  HostFunctionRecord expected{};
  expected.userData = &endpoint.userData;
  expected.name = kHostEmptyText;
  expected.nameSpace = kHostEmptyText;
  expected.returnTypeName = kHostEmptyText;
  expected.description = kHostEmptyText;
  expected.help = kHostEmptyText;
  expected.asyncTypeName = kHostEmptyText;
  EXPECT_EQ(std::memcmp(&record.function, &expected, sizeof expected), 0);
  EXPECT_EQ(Read(record.handler), &HandleEndpointRequest);
  EXPECT_EQ(Locations(record.argumentLocations), std::vector<uint32_t>{0});
}

TEST_F(EndpointTableTest, EndpointsFollowTheDispatchersOrderAsAListBesideTheTypes) {
  const HostEndpointTable& empty = table_.Build(dispatcher_, registry_);
  EXPECT_EQ(Read(empty.endpoints), nullptr);
  EXPECT_EQ(Read(empty.endpointCount), 0u);
  EXPECT_EQ(Read(empty.typeCount), 1u);  // types and events are described without endpoints

  dispatcher_.Endpoint(*whereAmI_);
  dispatcher_.Endpoint(*getLocation_);
  const HostEndpointTable& table = table_.Build(dispatcher_, registry_);
  ASSERT_EQ(Read(table.endpointCount), 2u);
  EXPECT_STREQ(table.endpoints[0].function.name, "WhereAmI");
  EXPECT_STREQ(table.endpoints[1].function.name, "GetLocation");
  EXPECT_EQ(Read(table.endpoints[0].function.next), &table.endpoints[1].function);
  EXPECT_EQ(Read(table.endpoints[1].function.next), nullptr);
  EXPECT_EQ(Read(table.types), table_.Description().types);
  EXPECT_STREQ(table.types[0].name, "Place");
  EXPECT_EQ(Read(table.events), table_.Description().events);
  EXPECT_STREQ(table.events[0].dataTypeName, "Place");

  const HostEndpointRecord* first = table.endpoints;
  EndpointTable moved(std::move(table_));
  EXPECT_EQ(moved.Table().endpoints, first);
  EXPECT_EQ(table_.Table().endpointCount, 0u);  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace Vexa
