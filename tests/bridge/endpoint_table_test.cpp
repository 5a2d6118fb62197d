// The endpoint table: each endpoint record is its function's record of the API description
// followed by what the dispatcher knows of the endpoint. Walking it as a C host does is the
// seam harness's part (tests/seam).
#include "bridge/endpoint_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "binding/registry.h"
#include "bridge/api_description.h"
#include "bridge/endpoint_handler.h"
#include "dispatch/endpoint.h"

namespace Vexa {
namespace {

TEST(EndpointTable, FunctionPartThenWhatTheEndpointRecordHolds) {
  BindingRegistry registry;
  registry.RegisterFunction("Located", 2).description = "Locates.";
  registry.RegisterType("Place", 8, StaticTypeInfoOf<void>(), false);
  registry.RegisterEvent("OnMoved", registry.FindType("Place"));
  RequestDispatcher dispatcher;
  EndpointRecord& endpoint = dispatcher.Endpoint(*registry.FindFunction("Located"));
  EXPECT_EQ(&dispatcher.Endpoint(*endpoint.function), &endpoint);  // one record per function
  endpoint.SetUriTemplate("/geo/v1/location");
  endpoint.flags = 0xA5;
  endpoint.textLists = {{"one", "two"}, {}};
  EndpointTable table;
  const HostEndpointTable& built = table.Build(dispatcher, registry);
  // Beside the endpoints, the description's type and event records.
  EXPECT_EQ(std::tie(built.types, built.typeCount, built.events, built.eventCount),
            std::make_tuple(table.Description().types, 1u, table.Description().events, 1u));
  const HostEndpointRecord* record = built.endpoints;
  HostFunctionRecord expected = *table.Description().functions;
  expected.userData = record->function.userData;
  EXPECT_EQ(std::memcmp(&record->function, &expected, sizeof expected), 0);
  const HostEndpointUserData* userData = record->function.userData;
  EXPECT_EQ(std::make_tuple(userData->dispatcher, userData->endpoint),
            std::make_tuple(static_cast<void*>(&dispatcher), static_cast<void*>(&endpoint)));
  EXPECT_EQ(HostEndpointHandler{record->handler}, &HandleEndpointRequest);
  EXPECT_EQ(static_cast<const char*>(record->uriTemplate), endpoint.UriTemplate().c_str());
  EXPECT_EQ(uint8_t{record->flags}, 0xA5);
  const HostTextList* lists = record->textLists;
  EXPECT_EQ(
      std::make_tuple(uint32_t{record->textListCount}, lists[0].next, uint32_t{lists[0].count}),
      std::make_tuple(2u, &lists[1], 2u));
  EXPECT_STREQ(lists[0].texts[1], "two");
  EXPECT_EQ(static_cast<const char* const*>(lists[1].texts), nullptr);
  // One location per argument, for anywhere; declared ones 1 to 5 are kept, others are 0.
  EXPECT_EQ(static_cast<const void*>(record->argumentLocations[1].next), nullptr);
  endpoint.argumentLocations = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFF};
  std::vector<uint32_t> locations;
  for (const HostArgumentLocation* entry =
           table.Build(dispatcher, registry).endpoints->argumentLocations;
       entry != nullptr; entry = entry->next) {
    locations.push_back(uint32_t{entry->location});
  }
  EXPECT_EQ(locations, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 0, 0}));
  // Only the host's methods, and only method 8 with its name.
  endpoint.methodName = "PURGE";
  for (const auto& [method, shown, name] :
       {std::tuple{2u, 2u, ""}, std::tuple{8u, 8u, "PURGE"}, std::tuple{9u, 0u, ""}}) {
    endpoint.method = static_cast<HttpMethod>(method);
    record = table.Build(dispatcher, registry).endpoints;
    EXPECT_EQ(std::make_tuple(uint32_t{record->method}, std::string(record->methodName)),
              std::make_tuple(shown, std::string(name)));
  }
}

// A function without a record of its own (detached from the registry's names): the function
// part is empty but for the user data, and its texts are the shared empty text.
TEST(EndpointTable, FunctionWithoutARecordHasAnEmptyFunctionPart) {
  BindingRegistry registry;
  BindingFunctionDescriptor& hidden = registry.RegisterFunction("Hidden", 0, true);
  hidden.description = "Not listed.";
  RequestDispatcher dispatcher;
  const EndpointRecord& endpoint = dispatcher.Endpoint(hidden);
  EndpointTable table;
  const HostEndpointRecord* record = table.Build(dispatcher, registry).endpoints;
  HostFunctionRecord expected{};
  expected.userData = record->function.userData;
  expected.name = expected.nameSpace = expected.returnTypeName = kHostEmptyText;
  expected.description = expected.help = expected.asyncTypeName = kHostEmptyText;
  EXPECT_EQ(std::memcmp(&record->function, &expected, sizeof expected), 0);
  EXPECT_EQ(record->function.userData->endpoint, static_cast<const void*>(&endpoint));
}

}  // namespace
}  // namespace Vexa
