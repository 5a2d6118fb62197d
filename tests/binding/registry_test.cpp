// The registry: registration and lookup of types, enumerators, events and functions, the
// generation counter, initialisation with the builtin types that every host sees, and its
// lock around the destruction of invokers.
#include "binding/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Vexa::RegistryTest {
struct Location {
  int32_t latitude;
  std::string city;
};
VEXA_STATIC_TYPE(Location, "struct Vexa::RegistryTest::Location");

enum class Status : int32_t { Succeeded = 1, Error = 3 };
VEXA_STATIC_TYPE(Status, "enum Vexa::RegistryTest::Status");
}  // namespace Vexa::RegistryTest

namespace Vexa {
namespace {

using RegistryTest::Location;
using RegistryTest::Status;
using ::testing::ElementsAre;
using ::testing::Pair;
using K = BindingTypeKind;

// What an invoker found while it was destroyed: whether another thread asking the registry for
// its generation got through within two seconds, that is whether the registry's lock was free.
struct LockProbe {
  std::thread thread;  // joined by the test
  std::atomic<bool> answered{false};
  bool answeredInTime = false;
};

class ProbingInvoker : public BindingFunctionImplementation {
 public:
  ProbingInvoker(const BindingRegistry& registry, LockProbe& probe)
      : registry_(registry), probe_(probe) {}
  ~ProbingInvoker() override {
    probe_.thread = std::thread([&registry = registry_, &probe = probe_] {
      (void)registry.Generation();
      probe.answered = true;
    });
    for (int wait = 0; wait < 200 && !probe_.answered; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    probe_.answeredInTime = probe_.answered;
  }

 private:
  const BindingRegistry& registry_;
  LockProbe& probe_;
};

TEST(Registry, TypesAreFoundByNameAndByTheirRecordAndTheFirstRegistrationStays) {
  BindingRegistry registry;
  const BindingTypeDescriptor& type =
      registry.RegisterType<Location>("Location")
          .AddTag("")
          .AddTags({"", "geo"})
          .AddField("latitude", {.typeInfo = StaticTypeInfoOf<int32_t>()})
          .SetDescription("First")
          .Descriptor();
  BindingTypeBuilder again =
      registry.RegisterType("Location", 99, StaticTypeInfoOf<Status>(), true);
  again.AddTag("x")
      .AddField("city", {.typeInfo = StaticTypeInfoOf<int32_t>()})
      .SetDescription("Second");
  EXPECT_EQ(type.fields.size(), 1u);
  EXPECT_THAT(type.tags, ElementsAre("", "geo"));  // AddTag skips an empty tag, AddTags not
  EXPECT_EQ(type.description, "First");

  // Not by the void record, nor by another type's record that has the same hash code.
  registry.RegisterType("Opaque", 8, StaticTypeInfoOf<void>(), false);
  EXPECT_EQ(registry.FindType(StaticTypeInfoOf<void>()), nullptr);
  static const StaticTypeInfo one{0x12345678u, "struct A::One", "#12345678"};
  static const StaticTypeInfo sameText{0x12345678u, "struct A::One", "#12345678"};
  static const StaticTypeInfo colliding{0x12345678u, "struct A::Two", "#12345678"};
  registry.RegisterType("One", 4, one, false);
  EXPECT_EQ(registry.FindType(sameText), registry.FindType("One"));
  EXPECT_EQ(registry.FindType(colliding), nullptr);
}

TEST(Registry, EnumeratorsAreKeptByNameAndAValueIsNamedByTheFirstInNameOrder) {
  BindingRegistry registry;
  const BindingTypeDescriptor& type = registry.RegisterType<Status>("Status")
                                          .AddEnumerator("SUCCEEDED", 1)
                                          .AddEnumerator("OK", 1)
                                          .AddEnumerator("ERROR", 3, "Failed")
                                          .AddEnumerator("ERROR", 5, "Broken")
                                          .Descriptor();
  std::vector<std::string> listed;
  for (const auto& [name, enumerator] : type.enumerators) {
    listed.push_back(enumerator.name + "=" + std::to_string(enumerator.value) + " " +
                     enumerator.description);
  }
  EXPECT_THAT(listed, ElementsAre("ERROR=5 Broken", "OK=1 ", "SUCCEEDED=1 "));
  EXPECT_STREQ(registry.EnumeratorName(StaticTypeInfoOf<Status>(), 1), "OK");
}

TEST(Registry, FunctionsAdvanceTheGenerationAndTheirNamesKeepTheFirst) {
  BindingRegistry registry;
  const uint32_t start = registry.Generation();
  BindingFunctionDescriptor& detached = registry.RegisterFunction("WhereAmI", 1, true);
  EXPECT_EQ(registry.FindFunction("WhereAmI"), nullptr);
  EXPECT_EQ(registry.Generation(), start);
  BindingFunctionDescriptor& first = registry.RegisterFunction("WhereAmI", 0);
  BindingFunctionDescriptor& second = registry.RegisterFunction("WhereAmI", 0);
  EXPECT_EQ(registry.Generation(), start + 2);
  EXPECT_TRUE(registry.RemoveFunction(&detached));
  EXPECT_TRUE(registry.RemoveFunction(&second));
  EXPECT_EQ(registry.FindFunction("WhereAmI"), &first);
  EXPECT_FALSE(registry.RemoveFunction(&second));
  EXPECT_EQ(registry.Generation(), start + 4);

  // An argument is hashed by its name.
  EXPECT_EQ(BindingRegistry::AddArgument(first, "ip_address", "Address"), 0u);
  EXPECT_EQ(first.arguments[0].nameHash, 0x1438FBC7u);  // FNV-1a of "ip_address"
}

TEST(Registry, LockIsReleasedBeforeAnInvokerIsDestroyed) {
  BindingRegistry registry;
  LockProbe probe;
  BindingFunctionDescriptor& function = registry.RegisterFunction("WhereAmI", 0);
  function.implementation = std::make_unique<ProbingInvoker>(registry, probe);
  EXPECT_TRUE(registry.RemoveFunction(&function));
  probe.thread.join();
  EXPECT_TRUE(probe.answeredInTime);
}

TEST(Registry, InitializeReplacesEverythingByTheBuiltinTypesAndTheCallbackEvent) {
  BindingRegistry registry;
  registry.RegisterType<Location>("Location");
  registry.RegisterFunction("WhereAmI", 0);
  registry.RegisterEvent("OnMoved", nullptr).SetDescription("Moved");
  registry.RegisterEvent("OnMoved", nullptr).SetDescription("Other");
  EXPECT_EQ(registry.FindEvent("OnMoved")->description, "Moved");
  registry.Initialize();
  EXPECT_EQ(registry.FindFunction("WhereAmI"), nullptr);
  const BindingEventDescriptor* callback = registry.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->dataType, registry.FindType("BindingCallbackEvent"));
  EXPECT_NE(callback->dataType, nullptr);
  EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
  EXPECT_THAT(callback->tags, ElementsAre("$builtin"));
  EXPECT_THAT(registry.EventsSnapshot(), ElementsAre(Pair("OnCallback", callback)));
  // The builtin types: help records of records (each nested type registered before its user),
  // the async state, and the generic event records.
  const BindingTypeMap types = registry.TypesSnapshot();
  EXPECT_EQ(types.size(), 15u);
  for (const auto& [name, type] : types) {
    EXPECT_EQ(type->tags.at(0), "$builtin") << name;
    for (const BindingFieldDescriptor& field : type->fields) {
      const bool nested = field.type.kind == K::Struct || field.type.elementKind == K::Struct;
      EXPECT_EQ(field.type.descriptor != nullptr, nested) << name << "." << field.name;
    }
  }
  const BindingTypeDescriptor& api = *registry.FindType("BindingFullApiHelp");
  EXPECT_THAT(api.tags, ElementsAre("$builtin", "help"));
  EXPECT_EQ(api.description, "Describes the exposed native API.");
  std::string states;
  for (const auto& [name, state] : registry.FindType("BindingAsyncState")->enumerators) {
    states += name + "=" + std::to_string(state.value) + " ";
  }
  EXPECT_EQ(states, "Cancelled=3 Cancelling=2 Failed=5 None=0 Running=1 Succeeded=4 ");
  const BindingTypeDescriptor& cancel = *registry.FindType("BindingAsyncCancelEvent");
  EXPECT_EQ(cancel.description, "Represents a cancelled asynchronous operation.");
  EXPECT_EQ(cancel.fields.at(0).description, "Asynchronous operation token");
}

}  // namespace
}  // namespace Vexa
