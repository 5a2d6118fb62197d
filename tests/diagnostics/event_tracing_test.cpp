// Registration of the trace providers, the enable callback's rules and the thread-name
// event, against a stand-in tracing service that a test drives like a trace controller.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/event_tracing.h"
#include "platform/process.h"

namespace Vexa {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a controller asks of a provider while it is being registered.
struct ControllerRequest {
  uint32_t code;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
};

struct WrittenEvent {
  TraceRegistrationHandle handle;
  EventDescriptor descriptor;
  uint32_t dataCount;
  std::vector<std::vector<uint8_t>> items;
};

// The stand-in service. Its functions are plain C functions, so its state is static; each
// test starts with Reset.
struct FakeTraceService {
  static inline std::vector<std::string> registered;
  static inline std::vector<TraceEnableCallback> callbacks;
  static inline std::vector<void*> contexts;
  static inline std::vector<WrittenEvent> written;
  static inline std::vector<TraceRegistrationHandle> unregistered;
  // Requests applied during registration, by registration order; none by default.
  static inline std::vector<std::vector<ControllerRequest>> onRegister;
  static inline uint32_t registerStatus = 0;

  static void Reset() {
    registered.clear();
    callbacks.clear();
    contexts.clear();
    written.clear();
    unregistered.clear();
    onRegister.clear();
    registerStatus = 0;
  }

  static uint32_t Register(const TraceGuid* id, TraceEnableCallback callback, void* context,
                           TraceRegistrationHandle* handle) {
    const size_t index = registered.size();
    registered.push_back(GuidText(*id));
    callbacks.push_back(callback);
    contexts.push_back(context);
    *handle = 0x1000 + index;
    if (index < onRegister.size()) {
      for (const ControllerRequest& request : onRegister[index]) {
        callback(id, request.code, request.level, request.matchAny, request.matchAll, nullptr,
                 context);
      }
    }
    return registerStatus;
  }

  static uint32_t Write(TraceRegistrationHandle handle, const EventDescriptor* descriptor,
                        uint32_t count, EventDataDescriptor* data) {
    WrittenEvent event{handle, *descriptor, count, {}};
    for (uint32_t item = 0; item < count; ++item) {
      const auto* bytes =
          reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(data[item].pointer));
      event.items.emplace_back(bytes, bytes + data[item].size);
    }
    written.push_back(event);
    return 0;
  }

  static uint32_t Unregister(TraceRegistrationHandle handle) {
    unregistered.push_back(handle);
    return 0;
  }

  // A controller acting on a registered provider later on.
  static void Control(size_t provider, const ControllerRequest& request) {
    callbacks.at(provider)(nullptr, request.code, request.level, request.matchAny, request.matchAll,
                           nullptr, contexts.at(provider));
  }

  static std::string GuidText(const TraceGuid& id) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(id.data1), id.data2, id.data3, id.data4[0], id.data4[1],
                  id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
    return text;
  }
};

constexpr EventTraceFunctions kFakeFunctions{&FakeTraceService::Register, &FakeTraceService::Write,
                                             &FakeTraceService::Unregister};

class EventTracingTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeTraceService::Reset(); }
};

std::vector<uint8_t> Bytes(const char* text, size_t size) {
  return std::vector<uint8_t>(text, text + size);
}

std::vector<uint8_t> ThreadIdBytes(uint32_t threadId) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&threadId);
  return std::vector<uint8_t>(bytes, bytes + sizeof threadId);
}

TEST_F(EventTracingTest, RegistersTheFourProvidersInOrderAndWritesNothingUnasked) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();

  EXPECT_THAT(FakeTraceService::registered, ElementsAre("{2F9EFE86-4AF7-4F37-A40F-94B909A157D6}",
                                                        "{EA08C559-95A8-4AA2-AFA6-18738EEC6D37}",
                                                        "{10F6728C-EF92-4BF1-8397-49E693A6EB74}",
                                                        "{46DD7F96-60CB-416B-8085-DA5CD8F491DD}"));
  EXPECT_THAT(FakeTraceService::written, IsEmpty());
  for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
    EXPECT_EQ(providers.Handle(provider), 0x1000 + provider);
  }
  EXPECT_EQ(providers.Context(3).eventCount, 2);
  EXPECT_THAT(std::vector<uint64_t>(providers.Context(3).eventKeywords,
                                    providers.Context(3).eventKeywords + 2),
              ElementsAre(1u, 2u));
}

TEST_F(EventTracingTest, ControllerWaitingForProviderTwoLearnsTheMainThread) {
  FakeTraceService::onRegister = {{}, {{kTraceControlEnable, 4, 1, 0}}};
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();

  ASSERT_EQ(FakeTraceService::written.size(), 1u);
  const WrittenEvent& event = FakeTraceService::written[0];
  EXPECT_EQ(event.handle, providers.Handle(1));
  EXPECT_EQ(event.descriptor.id, 103);
  EXPECT_EQ(event.descriptor.version, 0);
  EXPECT_EQ(event.descriptor.channel, 0);
  EXPECT_EQ(event.descriptor.level, 0);
  EXPECT_EQ(event.descriptor.opcode, 14);
  EXPECT_EQ(event.descriptor.task, 2);
  EXPECT_EQ(event.descriptor.keyword, 1u);
  EXPECT_EQ(event.dataCount, 2u);
  EXPECT_THAT(event.items,
              ElementsAre(ThreadIdBytes(Platform::CurrentThreadId()), Bytes("Main thread", 12)));
}

TEST_F(EventTracingTest, MatchAnyWithoutBitZeroLeavesTheThreadNameEventOff) {
  FakeTraceService::onRegister = {{}, {{kTraceControlEnable, 0, 2, 0}}};
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  EXPECT_FALSE(providers.IsEventEnabled(1, 0));
  EXPECT_EQ(providers.Context(1).isEnabled, 1u);
  EXPECT_THAT(FakeTraceService::written, IsEmpty());
}

TEST_F(EventTracingTest, ThreadNameWithoutNameIsWrittenAsNull) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  EXPECT_EQ(providers.WriteThreadName(7, "worker"), 0u);  // not enabled yet
  FakeTraceService::Control(1, {kTraceControlEnable, 0, ~uint64_t{0}, 0});

  providers.WriteThreadName(7, nullptr);

  ASSERT_EQ(FakeTraceService::written.size(), 1u);
  EXPECT_THAT(FakeTraceService::written[0].items, ElementsAre(ThreadIdBytes(7), Bytes("NULL", 5)));
}

TEST_F(EventTracingTest, RegisteringAgainDoesNothing) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  providers.RegisterAll();
  EXPECT_EQ(FakeTraceService::registered.size(), 4u);
}

TEST_F(EventTracingTest, FailedRegistrationLeavesTheHandleEmpty) {
  FakeTraceService::registerStatus = 87;
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
    EXPECT_EQ(providers.Handle(provider), 0u);
  }
  providers.UnregisterAll();
  EXPECT_THAT(FakeTraceService::unregistered, IsEmpty());
}

TEST_F(EventTracingTest, UnregisteringClearsEveryHandleOnceAndDestructionDoesItToo) {
  {
    TraceProviders providers(kFakeFunctions);
    providers.RegisterAll();
    providers.UnregisterAll();
    EXPECT_THAT(FakeTraceService::unregistered, ElementsAre(0x1000u, 0x1001u, 0x1002u, 0x1003u));
    for (size_t provider = 0; provider < kTraceProviderCount; ++provider) {
      EXPECT_EQ(providers.Handle(provider), 0u);
    }
  }
  EXPECT_EQ(FakeTraceService::unregistered.size(), 4u);  // the destructor found nothing left
  {
    TraceProviders providers(kFakeFunctions);
    providers.RegisterAll();
  }
  EXPECT_EQ(FakeTraceService::unregistered.size(), 8u);  // this time the destructor did it
}

TEST_F(EventTracingTest, MissingFunctionsMakeEveryOperationANoOp) {
  TraceProviders providers(EventTraceFunctions{});
  providers.RegisterAll();
  EXPECT_EQ(providers.Handle(0), 0u);
  EXPECT_EQ(providers.WriteThreadName(1, "x"), 0u);
  providers.UnregisterAll();
}

TEST_F(EventTracingTest, KeywordMasksChooseEventsOfProviderFour) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  struct Case {
    uint64_t matchAny;
    uint64_t matchAll;
    bool first;   // keyword 1
    bool second;  // keyword 2
  };
  const Case cases[] = {
      {1, 0, true, false}, {2, 0, false, true},  {3, 0, true, true},
      {3, 2, false, true}, {3, 3, false, false}, {0, 0, false, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE("any " + std::to_string(test.matchAny) + " all " + std::to_string(test.matchAll));
    FakeTraceService::Control(3, {kTraceControlEnable, 0, test.matchAny, test.matchAll});
    EXPECT_EQ(providers.IsEventEnabled(3, 0), test.first);
    EXPECT_EQ(providers.IsEventEnabled(3, 1), test.second);
    EXPECT_EQ(providers.Context(3).matchAnyKeyword, test.matchAny);
    EXPECT_EQ(providers.Context(3).matchAllKeyword, test.matchAll);
  }
}

TEST_F(EventTracingTest, EventWithoutKeywordIsEnabledByAnyMasks) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  FakeTraceService::Control(2, {kTraceControlEnable, 1, 0, 0x80});
  EXPECT_TRUE(providers.IsEventEnabled(2, 0));
}

TEST_F(EventTracingTest, DisableClearsEverythingAndOtherCodesChangeNothing) {
  TraceProviders providers(kFakeFunctions);
  providers.RegisterAll();
  FakeTraceService::Control(3, {kTraceControlEnable, 5, 3, 1});
  FakeTraceService::Control(3, {2, 9, 0, 0});  // a code other than enable or disable
  EXPECT_EQ(providers.Context(3).level, 5);
  EXPECT_TRUE(providers.IsEventEnabled(3, 0));

  FakeTraceService::Control(3, {kTraceControlDisable, 5, 3, 1});

  const TraceEnableContext& context = providers.Context(3);
  EXPECT_EQ(context.level, 0);
  EXPECT_EQ(context.isEnabled, 0u);
  EXPECT_EQ(context.matchAnyKeyword, 0u);
  EXPECT_EQ(context.matchAllKeyword, 0u);
  EXPECT_EQ(context.enableBits[0], 0u);
}

// The providers' events all have level 0; a context of our own checks the level rule.
TEST(TraceEnableCallbackTest, EventLevelMustBeWithinTheControllersUnlessThatIsZero) {
  uint32_t bits[1] = {0};
  const uint64_t keywords[3] = {0, 0, 0};
  const uint8_t levels[3] = {2, 4, 5};
  TraceEnableContext context{};
  context.eventCount = 3;
  context.enableBits = bits;
  context.eventKeywords = keywords;
  context.eventLevels = levels;

  HandleTraceEnable(nullptr, kTraceControlEnable, 4, 0, 0, nullptr, &context);
  EXPECT_EQ(bits[0], 0b011u);
  HandleTraceEnable(nullptr, kTraceControlEnable, 0, 0, 0, nullptr, &context);
  EXPECT_EQ(bits[0], 0b111u);
  HandleTraceEnable(nullptr, kTraceControlEnable, 1, 0, 0, nullptr, &context);
  EXPECT_EQ(bits[0], 0b000u);
  HandleTraceEnable(nullptr, kTraceControlEnable, 1, 0, 0, nullptr, nullptr);  // ignored
}

}  // namespace
}  // namespace Vexa
