// The module side of the C host harness: declares two endpoints the way a module does, builds
// the API table, and hands it to the host written in C (host_harness.c).
#include <gtest/gtest.h>

#include <string>

#include "binding/field_registration.h"
#include "binding/registry.h"
#include "dispatch/endpoint.h"
#include "dispatch/endpoint_declaration.h"
#include "dispatch/endpoint_table.h"
#include "host_harness.h"

namespace HarnessModule {

struct Greeting {
  std::string text;
};
VEXA_STATIC_TYPE(Greeting, "struct HarnessModule::Greeting");

Greeting Greet(const std::string& name, const std::string& salutation) {
  return Greeting{(salutation.empty() ? std::string("Hi") : salutation) + ", " + name};
}

Greeting Echo(const Greeting& greeting) {
  return greeting;
}

}  // namespace HarnessModule

namespace {

TEST(HostHarness, DrivesTheEndpointsThroughTheApiTableFromC) {
  Vexa::BindingRegistry registry;
  registry.Initialize();
  Vexa::RegisterRecord<HarnessModule::Greeting>(registry, "Greeting")
      .Field("text", &HarnessModule::Greeting::text);
  Vexa::RequestDispatcher dispatcher;
  ASSERT_TRUE(Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Get,
                                    "/harness/v1/greeting/", &HarnessModule::Greet)
                  .Query("name")
                  .Header("salutation")
                  .Declared());
  ASSERT_TRUE(Vexa::DeclareEndpoint(dispatcher, registry, Vexa::HttpMethod::Post,
                                    "/harness/v1/echo", &HarnessModule::Echo)
                  .Body("greeting")
                  .Declared());

  Vexa::EndpointTable table;
  EXPECT_EQ(RunHostHarness(&table.Build(dispatcher, registry)), 0);
}

}  // namespace
