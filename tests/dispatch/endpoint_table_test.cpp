// The endpoint table: each endpoint record is its function's record of the API description
// followed by what the dispatcher knows of the endpoint. Walking it as a C host does is the
// seam harness's part (tests/seam).
#include "dispatch/endpoint_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "binding/api_description.h"
#include "binding/registry.h"
#include "dispatch/endpoint.h"
#include "dispatch/request_handler.h"

namespace Vexa {
namespace {

// A field copied out of the packed record (a reference to a misaligned field is undefined).
template <typename T>
T Read(T value) {
  return value;
}

class EndpointTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    located_ = &registry_.RegisterFunction("Located", 2);
    located_->description = "Locates.";
  }

  const HostEndpointRecord& Build(const RequestDispatcher* dispatcher = nullptr) {
    const HostEndpointTable& table =
        table_.Build(dispatcher != nullptr ? *dispatcher : dispatcher_, registry_);
    EXPECT_EQ(table.endpointCount, 1u);
    return table.endpoints[0];
  }

  BindingRegistry registry_;
  RequestDispatcher dispatcher_;
  EndpointTable table_;
  BindingFunctionDescriptor* located_ = nullptr;
};

TEST_F(EndpointTableTest, FunctionPartIsTheFunctionRecordWithTheEndpointsUserData) {
  EndpointRecord& endpoint = dispatcher_.Endpoint(*located_);
  EXPECT_EQ(&dispatcher_.Endpoint(*located_), &endpoint);  // one record per function
  const HostEndpointRecord& record = Build();
  HostFunctionRecord expected = *table_.Description().functions;
  expected.userData = &endpoint.userData;
  EXPECT_EQ(std::memcmp(&record.function, &expected, sizeof expected), 0);
  EXPECT_EQ(Read(record.handler), &HandleEndpointRequest);
  // Two arguments, two locations for anywhere.
  ASSERT_NE(Read(record.argumentLocations), nullptr);
  EXPECT_EQ(Read(record.argumentLocations[1].location), 0u);
  EXPECT_EQ(Read(record.argumentLocations[1].next), nullptr);

  // A function without a record: its part is empty but for the user data, and its texts are
  // the shared empty text.
  BindingFunctionDescriptor& hidden = registry_.RegisterFunction("Hidden", 0, true);
  hidden.description = "Not listed.";
  RequestDispatcher other;
  const EndpointRecord& hiddenEndpoint = other.Endpoint(hidden);
  expected = HostFunctionRecord{};
  expected.userData = &hiddenEndpoint.userData;
  expected.name = expected.nameSpace = expected.returnTypeName = kHostEmptyText;
  expected.description = expected.help = expected.asyncTypeName = kHostEmptyText;
  EXPECT_EQ(std::memcmp(&Build(&other).function, &expected, sizeof expected), 0);
}

TEST_F(EndpointTableTest, EndpointFieldsComeFromTheEndpointRecord) {
  EndpointRecord& endpoint = dispatcher_.Endpoint(*located_);
  endpoint.SetUriTemplate("/geo/v1/location");
  endpoint.flags = 0xA5;
  endpoint.textLists = {{"one", "two"}, {}};
  endpoint.argumentLocations = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFF};  // 1 to 5 kept, others 0
  const HostEndpointRecord& record = Build();
  EXPECT_EQ(Read(record.uriTemplate), endpoint.UriTemplate().c_str());
  EXPECT_EQ(Read(record.flags), 0xA5);
  std::vector<uint32_t> locations;
  for (const HostArgumentLocation* entry = record.argumentLocations; entry != nullptr;
       entry = entry->next) {
    locations.push_back(Read(entry->location));
  }
  EXPECT_EQ(locations, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 0, 0}));
  ASSERT_EQ(Read(record.textListCount), 2u);
  const HostTextList* lists = record.textLists;
  EXPECT_EQ(Read(lists[0].next), &lists[1]);
  EXPECT_EQ(Read(lists[0].count), 2u);
  EXPECT_STREQ(lists[0].texts[1], "two");
  EXPECT_EQ(Read(lists[1].texts), nullptr);
}

TEST_F(EndpointTableTest, OnlyHostMethodsAndOnlyMethodEightHasAName) {
  const struct {
    uint32_t method;
    uint32_t expectedMethod;
    std::string expectedName;
  } cases[] = {{2, 2, ""}, {8, 8, "PURGE"}, {9, 0, ""}};
  EndpointRecord& endpoint = dispatcher_.Endpoint(*located_);
  endpoint.methodName = "PURGE";
  for (const auto& c : cases) {
    endpoint.method = static_cast<HttpMethod>(c.method);
    const HostEndpointRecord& record = Build();
    EXPECT_EQ(Read(record.method), c.expectedMethod) << c.method;
    EXPECT_EQ(std::string(record.methodName), c.expectedName) << c.method;
  }
}

}  // namespace
}  // namespace Vexa
