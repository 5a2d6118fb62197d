// Registration of the trace providers, the enable callback's rules and the thread-name
// event, against a stand-in tracing service that a test drives like a trace controller; then
// the process-wide providers against the system's own service where there is one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "diagnostics/event_tracing.h"
#include "platform/process.h"

namespace Vexa {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a controller asks of a provider: control code, level, match-any and match-all.
struct ControllerRequest {
  uint32_t code;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
};

// The stand-in service's state. Its functions are plain C functions, so the state is global;
// each test starts afresh. Providers are kept as their identifiers' text, events as text:
// handle, descriptor fields and payload bytes.
struct TraceService {
  std::vector<std::string> registered, written;
  std::vector<TraceRegistrationHandle> unregistered;
  std::vector<void*> contexts;
  std::vector<TraceEnableCallback> callbacks;
  std::vector<ControllerRequest> onRegisterTwo;  // applied while provider 2 registers
  uint32_t registerStatus = 0;
} service;

std::string Bytes(const void* bytes, size_t size) {
  return std::string(static_cast<const char*>(bytes), size);
}

// Calls the provider back as the service does: through the callback given at registration.
void Control(size_t provider, const ControllerRequest& request) {
  service.callbacks.at(provider)(nullptr, request.code, request.level, request.matchAny,
                                 request.matchAll, nullptr, service.contexts.at(provider));
}

uint32_t VEXA_TRACE_CALL Register(const TraceGuid* id, TraceEnableCallback callback, void* context,
                                  TraceRegistrationHandle* handle) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(id->data1), id->data2, id->data3, id->data4[0], id->data4[1],
                id->data4[2], id->data4[3], id->data4[4], id->data4[5], id->data4[6], id->data4[7]);
  service.registered.push_back(text);
  service.contexts.push_back(context);
  service.callbacks.push_back(callback);
  *handle = 0x1000 + service.registered.size() - 1;
  for (size_t i = 0; service.registered.size() == 2 && i < service.onRegisterTwo.size(); ++i) {
    Control(1, service.onRegisterTwo[i]);
  }
  return service.registerStatus;
}

uint32_t VEXA_TRACE_CALL Write(TraceRegistrationHandle handle, const EventDescriptor* d,
                               uint32_t count, EventDataDescriptor* data) {
  char text[96];
  std::snprintf(text, sizeof text, "%llx:%u,%u,%u,%u,%u,%u,%llu",
                static_cast<unsigned long long>(handle), d->id, d->version, d->channel, d->level,
                d->opcode, d->task, static_cast<unsigned long long>(d->keyword));
  std::string event = text;
  for (uint32_t item = 0; item < count; ++item) {
    event += "|" + Bytes(reinterpret_cast<const void*>(static_cast<uintptr_t>(data[item].pointer)),
                         data[item].size);
  }
  service.written.push_back(event);
  return 0;
}

uint32_t VEXA_TRACE_CALL Unregister(TraceRegistrationHandle handle) {
  service.unregistered.push_back(handle);
  return 0;
}

constexpr EventTraceFunctions kFakeFunctions{&Register, &Write, &Unregister};

class EventTracingTest : public ::testing::Test {
 protected:
  void SetUp() override { service = {}; }
  TraceProviders providers{kFakeFunctions};
};

TEST_F(EventTracingTest, RegistersTheFourProvidersOnceInOrderAndWritesNothingUnasked) {
  providers.RegisterAll();
  providers.RegisterAll();
  EXPECT_THAT(
      service.registered,
      ElementsAre("2F9EFE86-4AF7-4F37-A40F-94B909A157D6", "EA08C559-95A8-4AA2-AFA6-18738EEC6D37",
                  "10F6728C-EF92-4BF1-8397-49E693A6EB74", "46DD7F96-60CB-416B-8085-DA5CD8F491DD"));
  EXPECT_THAT(service.written, IsEmpty());
  providers.UnregisterAll();
  EXPECT_THAT(service.unregistered, ElementsAre(0x1000u, 0x1001u, 0x1002u, 0x1003u));
  providers.RegisterAll();
  EXPECT_EQ(service.registered.size(), 8u);
}

TEST_F(EventTracingTest, ControllerWaitingForProviderTwoLearnsTheMainThread) {
  service.onRegisterTwo = {{kTraceControlEnable, 4, 1, 0}};
  {
    TraceProviders local(kFakeFunctions);
    local.RegisterAll();
    Control(1, {kTraceControlEnable, 0, ~uint64_t{0}, 0});
    local.WriteThreadName(7, nullptr);
  }
  const uint32_t mainThread = Platform::CurrentThreadId();
  EXPECT_THAT(
      service.written,
      ElementsAre("1001:103,0,0,0,14,2,1|" + Bytes(&mainThread, 4) + "|" + Bytes("Main thread", 12),
                  "1001:103,0,0,0,14,2,1|" + Bytes("\7\0\0\0", 4) + "|" + Bytes("NULL", 5)));
}

TEST_F(EventTracingTest, FailedRegistrationOrMissingFunctionsLeaveTracingOff) {
  service.registerStatus = 87;
  service.onRegisterTwo = {{kTraceControlEnable, 0, 1, 0}};
  providers.RegisterAll();
  EXPECT_EQ(providers.Handle(1), 0u);
  TraceProviders missing(EventTraceFunctions{});
  missing.RegisterAll();
  EXPECT_EQ(missing.Handle(0), 0u);
}

// Provider 4 has two events with keywords 1 and 2, provider 3 one without a keyword.
TEST_F(EventTracingTest, KeywordMasksChooseEvents) {
  providers.RegisterAll();
  const std::tuple<uint64_t, uint64_t, std::string> cases[] = {
      {1, 0, "10"}, {2, 0, "01"}, {3, 0, "11"}, {3, 2, "01"}, {3, 3, "00"}, {0, 0, "00"}};
  for (const auto& [matchAny, matchAll, enabled] : cases) {
    Control(3, {kTraceControlEnable, 0, matchAny, matchAll});
    EXPECT_EQ(std::string({providers.IsEventEnabled(3, 0) ? '1' : '0',
                           providers.IsEventEnabled(3, 1) ? '1' : '0'}),
              enabled)
        << matchAny << " " << matchAll;
  }
  Control(2, {kTraceControlEnable, 1, 0, 0x80});
  EXPECT_TRUE(providers.IsEventEnabled(2, 0));
}

TEST_F(EventTracingTest, DisableClearsEverythingAndOtherCodesChangeNothing) {
  providers.RegisterAll();
  Control(3, {kTraceControlEnable, 5, 3, 1});
  Control(3, {2, 9, 0, 0});
  const TraceEnableContext& context = providers.Context(3);
  EXPECT_EQ(context.level, 5);
  EXPECT_TRUE(providers.IsEventEnabled(3, 0));
  Control(3, {kTraceControlDisable, 5, 3, 1});
  EXPECT_EQ(std::vector<uint64_t>({context.level, context.isEnabled, context.matchAnyKeyword,
                                   context.matchAllKeyword, context.enableBits[0]}),
            std::vector<uint64_t>(5, 0));
}

// The providers' events all have level 0; a context of our own checks the level rule.
TEST(TraceEnableCallbackTest, EventLevelMustBeWithinTheControllersUnlessThatIsZero) {
  uint32_t bits[1] = {0};
  const uint64_t keywords[3] = {0, 0, 0};
  const uint8_t levels[3] = {2, 4, 5};
  TraceEnableContext context{{0, 0}, 0, 0, 0, 0, 0, 0, 3, bits, keywords, levels};
  HandleTraceEnable(nullptr, kTraceControlEnable, 4, 0, 0, nullptr, &context);
  EXPECT_EQ(bits[0], 0b011u);
  HandleTraceEnable(nullptr, kTraceControlEnable, 0, 0, 0, nullptr, &context);
  EXPECT_EQ(bits[0], 0b111u);
  HandleTraceEnable(nullptr, kTraceControlEnable, 1, 0, 0, nullptr, nullptr);  // ignored
}

// The process-wide providers were registered when this program started, by the start-up object
// that registers them when the plugin library is loaded; it comes with the log manager, which
// the log suites of this program link.
#ifdef _WIN32
// Without a controller the service registers all four and enables nothing, so nothing is
// written. (Wine's service answers success and one handle for every provider, and never calls
// the enable callback; a real one hands out distinct handles.) Calling the real service also
// checks the calling convention: with the wrong one the stack comes unbalanced and the program
// already falls at start-up.
TEST(ProcessTraceProvidersTest, RegisteredFromStartUpUntilUnregisteredAndEnableNothingUnasked) {
  for (int round = 0; round < 2; ++round) {
    const TraceProviders* providers = ProcessTraceProviders();
    ASSERT_NE(providers, nullptr) << round;
    for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
      EXPECT_NE(providers->Handle(provider), 0u) << round << " " << provider;
      EXPECT_EQ(providers->Context(provider).isEnabled, 0u) << round << " " << provider;
      EXPECT_FALSE(providers->IsEventEnabled(provider, 0)) << round << " " << provider;
    }
    UnregisterTraceProviders();
    EXPECT_EQ(ProcessTraceProviders(), nullptr);
    RegisterTraceProviders();
  }
}
#else
// Linux has no tracing service: nothing is registered, at start-up or when asked again.
TEST(ProcessTraceProvidersTest, WithoutTheServiceNothingIsRegistered) {
  EXPECT_EQ(ProcessTraceProviders(), nullptr);
  RegisterTraceProviders();
  EXPECT_EQ(ProcessTraceProviders(), nullptr);
}
#endif

}  // namespace
}  // namespace Vexa
