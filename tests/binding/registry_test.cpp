// The registry: type, enumerator, event and function registration, lookups, snapshots, the
// generation counter, and its lock under concurrent use. The registries here are built
// without the builtin types.
#include "binding/registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Vexa::RegistryTest {
struct Location {
  int32_t latitude;
  int32_t longitude;
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
using ::testing::IsEmpty;
using ::testing::Pair;

// A converter that converts nothing and counts its destruction; optionally it runs a probe
// from its destructor.
class TestConverter : public BindingFieldConverter {
 public:
  explicit TestConverter(int* destroyed = nullptr) : destroyed_(destroyed) {}
  ~TestConverter() override {
    if (destroyed_ != nullptr) {
      ++*destroyed_;
    }
  }
  void ToNative(BindingResult&, void*, const BindingProperty&, std::string_view,
                const BindingRegistry&) const override {}
  void ToValue(BindingResult&, const void*, const BindingFieldDescriptor&,
               const BindingRegistry&) const override {}

 private:
  int* destroyed_;
};

// Answers whether the registry's lock was free while the probing code ran: another thread
// asks the registry for its generation and must get through within two seconds.
class LockProbe {
 public:
  explicit LockProbe(const BindingRegistry& registry) : registry_(registry) {}
  ~LockProbe() { Join(); }
  void Probe() {
    thread_ = std::thread([this] {
      (void)registry_.Generation();
      answered_ = true;
    });
    for (int wait = 0; wait < 200 && !answered_; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    answeredInTime_ = answered_;
  }
  void Join() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  [[nodiscard]] bool AnsweredInTime() const { return answeredInTime_; }

 private:
  const BindingRegistry& registry_;
  std::thread thread_;
  std::atomic<bool> answered_{false};
  bool answeredInTime_ = false;
};

// An implementation that counts its destruction and may probe the registry's lock from there.
class TestInvoker : public BindingFunctionImplementation {
 public:
  TestInvoker(int* destroyed, LockProbe* probe = nullptr) : destroyed_(destroyed), probe_(probe) {}
  ~TestInvoker() override {
    ++*destroyed_;
    if (probe_ != nullptr) {
      probe_->Probe();
    }
  }

 private:
  int* destroyed_;
  LockProbe* probe_;
};

uint32_t OracleHash(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const unsigned char byte : text) {
    hash = (hash ^ byte) * 16777619u;
  }
  return hash;
}

class RegistryTestBase : public ::testing::Test {
 protected:
  static BindingNativeField Int32At(uint32_t offset) {
    return {.offset = offset,
            .typeInfo = StaticTypeInfoOf<int32_t>(),
            .type = {BindingTypeKind::Int32},
            .converter = std::make_unique<TestConverter>()};
  }

  static std::vector<std::string> FieldNames(const BindingTypeDescriptor& type) {
    std::vector<std::string> names;
    for (const BindingFieldDescriptor& field : type.fields) {
      names.push_back(field.name);
    }
    return names;
  }
  static std::vector<std::pair<std::string, int32_t>> EnumeratorList(
      const BindingTypeDescriptor& type) {
    std::vector<std::pair<std::string, int32_t>> list;
    for (const auto& [name, enumerator] : type.enumerators) {
      EXPECT_EQ(enumerator.name, name);
      EXPECT_EQ(enumerator.owner, &type);
      list.emplace_back(name, enumerator.value);
    }
    return list;
  }

  const BindingTypeDescriptor& RegisterStatus(std::string_view name = "Status") {
    return registry_.RegisterType<Status>(name)
        .AddEnumerator("SUCCEEDED", 1, "Done")
        .AddEnumerator("ERROR", 3, "Failed")
        .Descriptor();
  }

  BindingRegistry registry_;
};

// --- Types ---

using TypeRegistration = RegistryTestBase;

TEST_F(TypeRegistration, NewTypeIsFoundByNameAndByItsRecord) {
  BindingTypeBuilder builder = registry_.RegisterType<Location>("Location");
  EXPECT_FALSE(builder.Existed());
  const BindingTypeDescriptor& type = builder.Descriptor();
  EXPECT_EQ(type.name, "Location");
  EXPECT_EQ(type.size, sizeof(Location));
  EXPECT_FALSE(type.isEnum);
  EXPECT_EQ(type.typeInfo, &StaticTypeInfoOf<Location>());
  EXPECT_EQ(type.hashCode, StaticType::HashCode<Location>());
  EXPECT_EQ(type.registry, &registry_);
  EXPECT_EQ(&builder.Registry(), &registry_);
  EXPECT_TRUE(type.description.empty() && type.nameSpace.empty() && type.tags.empty());

  EXPECT_EQ(registry_.FindType("Location"), &type);
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<Location>()), &type);
  EXPECT_EQ(registry_.FindType("location"), nullptr);
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<Status>()), nullptr);

  // An enum registers its storage width.
  const BindingTypeDescriptor& status = RegisterStatus();
  EXPECT_TRUE(status.isEnum);
  EXPECT_EQ(status.size, 4u);
}

TEST_F(TypeRegistration, SecondRegistrationOfANameKeepsTheFirstUnchanged) {
  registry_.RegisterType<Location>("Location")
      .AddTag("first")
      .AddField("latitude", Int32At(0))
      .AddField("longitude", Int32At(4))
      .SetDescription("First");
  int destroyed = 0;
  BindingTypeBuilder again =
      registry_.RegisterType("Location", 99, StaticTypeInfoOf<Status>(), true);
  again.AddTag("second")
      .AddTags({"third"})
      .AddField("city", {.typeInfo = StaticTypeInfoOf<std::string>(),
                         .converter = std::make_unique<TestConverter>(&destroyed)})
      .AddEnumerator("NONE", 0)
      .SetDescription("Second")
      .SetNameSpace("Other");

  EXPECT_TRUE(again.Existed());
  EXPECT_EQ(&again.Descriptor(), registry_.FindType("Location"));
  const BindingTypeDescriptor& type = again.Descriptor();
  EXPECT_THAT(FieldNames(type), ElementsAre("latitude", "longitude"));
  EXPECT_THAT(type.tags, ElementsAre("first"));
  EXPECT_EQ(type.description, "First");
  EXPECT_EQ(type.nameSpace, "");
  EXPECT_THAT(type.enumerators, IsEmpty());
  EXPECT_EQ(type.size, sizeof(Location));
  EXPECT_FALSE(type.isEnum);
  EXPECT_EQ(destroyed, 1);  // the ignored field's converter is not kept
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<Status>()), nullptr);
}

TEST_F(TypeRegistration, LookupByRecordSkipsVoidRecordsLaterNamesAndHashCollisions) {
  const BindingTypeDescriptor& opaque =
      registry_.RegisterType("Opaque", 8, StaticTypeInfoOf<void>(), false).Descriptor();
  registry_.RegisterType("Opaque2", 8, StaticTypeInfoOf<void>(), false);  // registered all the same
  EXPECT_EQ(registry_.FindType("Opaque"), &opaque);
  EXPECT_NE(registry_.FindType("Opaque2"), nullptr);
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<void>()), nullptr);

  // A second name of the same native type leaves the first for its record.
  const BindingTypeDescriptor& first = registry_.RegisterType<Location>("Location").Descriptor();
  const BindingTypeDescriptor& second =
      registry_.RegisterType<Location>("Module.Location").Descriptor();
  EXPECT_NE(&first, &second);
  EXPECT_EQ(registry_.FindType("Module.Location"), &second);
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<Location>()), &first);

  static const StaticTypeInfo registered{0x12345678u, "struct A::One", "#12345678"};
  static const StaticTypeInfo colliding{0x12345678u, "struct A::Two", "#12345678"};
  static const StaticTypeInfo sameText{0x12345678u, "struct A::One", "#12345678"};
  const BindingTypeDescriptor& one =
      registry_.RegisterType("One", 4, registered, false).Descriptor();
  EXPECT_EQ(registry_.FindType(registered), &one);
  EXPECT_EQ(registry_.FindType(sameText), &one);  // the same type's record, by its text
  EXPECT_EQ(registry_.FindType(colliding), nullptr);
}

TEST_F(TypeRegistration, FieldsKeepTheirOrderAndEveryAttribute) {
  int destroyed = 0;
  const BindingTypeDescriptor* status = &RegisterStatus();
  BindingTypeBuilder builder = registry_.RegisterType<Location>("Location");
  builder.AddField("longitude", Int32At(4), {.description = "East", .flags = kBindingFieldRequired})
      .AddField("latitude", Int32At(0))
      .AddField("city",
                {.offset = 8,
                 .typeInfo = StaticTypeInfoOf<std::string>(),
                 .type = {BindingTypeKind::Enum, BindingTypeKind::None, status},
                 .converter = std::make_unique<TestConverter>(&destroyed),
                 .optional = true},
                {.flags = kBindingFieldOmitWhenEmpty | kBindingFieldRequired,
                 .exposedType = {BindingTypeKind::String}})
      .AddField("latitude", Int32At(0));  // duplicates are not checked
  EXPECT_EQ(builder.LastFieldOffset(), 0u);

  const BindingTypeDescriptor& type = builder.Descriptor();
  EXPECT_THAT(FieldNames(type), ElementsAre("longitude", "latitude", "city", "latitude"));
  const BindingFieldDescriptor& longitude = type.fields[0];
  EXPECT_EQ(longitude.nameHash, OracleHash("longitude"));
  EXPECT_EQ(longitude.description, "East");
  EXPECT_EQ(longitude.offset, 4u);
  EXPECT_EQ(longitude.typeInfo, &StaticTypeInfoOf<int32_t>());
  EXPECT_TRUE(longitude.IsRequired());
  EXPECT_FALSE(longitude.OmitsWhenEmpty());
  EXPECT_FALSE(longitude.exposedType.IsSet());
  EXPECT_EQ(longitude.DescribedType(), longitude.type);

  const BindingFieldDescriptor& city = *type.FindField("city");
  EXPECT_EQ(city.flags, 3u);
  EXPECT_TRUE(city.optional);
  EXPECT_EQ(city.type.descriptor, status);
  EXPECT_EQ(city.exposedType.kind, BindingTypeKind::String);
  EXPECT_EQ(city.DescribedType().kind, BindingTypeKind::String);
  ASSERT_NE(city.converter, nullptr);
  EXPECT_EQ(type.FindField("altitude"), nullptr);
  EXPECT_EQ(destroyed, 0);  // owned by the field
}

TEST_F(TypeRegistration, TagsNameSpaceAndSnapshot) {
  const std::vector<std::string> more = {"c", ""};
  const BindingTypeDescriptor& type = registry_.RegisterType<Location>("Location")
                                          .AddTag("")
                                          .AddTag("a")
                                          .AddTags({"b", ""})
                                          .AddTags(more)
                                          .SetNameSpace("Geo")
                                          .Descriptor();
  // AddTag skips empty tags, AddTags keeps them.
  EXPECT_THAT(type.tags, ElementsAre("a", "b", "", "c", ""));
  EXPECT_EQ(type.nameSpace, "Geo");

  const BindingTypeMap snapshot = registry_.TypesSnapshot();
  registry_.RegisterType<Status>("Status");
  EXPECT_THAT(snapshot, ElementsAre(Pair("Location", &type)));  // independent of later ones
  EXPECT_EQ(registry_.TypesSnapshot().size(), 2u);
}

// --- Enumerators ---

using Enumerators = RegistryTestBase;

TEST_F(Enumerators, AreListedInByteWiseNameOrderNotRegistrationOrder) {
  EXPECT_THAT(EnumeratorList(RegisterStatus()),
              ElementsAre(Pair("ERROR", 3), Pair("SUCCEEDED", 1)));
  const BindingTypeDescriptor& type =
      registry_.RegisterType("Other", 4, StaticTypeInfoOf<void>(), true)
          .AddEnumerator("b", 1)
          .AddEnumerator("\xC3\xA9t\xC3\xA9", 2)
          .AddEnumerator("Z", 3)
          .AddEnumerator("_", 4)
          .Descriptor();
  EXPECT_THAT(EnumeratorList(type),
              ElementsAre(Pair("Z", 3), Pair("_", 4), Pair("b", 1), Pair("\xC3\xA9t\xC3\xA9", 2)));
}

TEST_F(Enumerators, SameNameAgainReplacesValueAndDescription) {
  BindingTypeBuilder builder = registry_.RegisterType<Status>("Status");
  builder.AddEnumerator("ERROR", 3, "Failed").AddEnumerator("ERROR", 5, "Broken");
  const BindingEnumValue* error = builder.Descriptor().FindEnumerator("ERROR");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->value, 5);
  EXPECT_EQ(error->description, "Broken");
  EXPECT_EQ(builder.Descriptor().enumerators.size(), 1u);
  EXPECT_EQ(builder.Descriptor().FindEnumerator("Error"), nullptr);
  EXPECT_TRUE(BindingRegistry::IsEnumeratorValue(builder.Descriptor(), 5));
  EXPECT_FALSE(BindingRegistry::IsEnumeratorValue(builder.Descriptor(), 3));
}

TEST_F(Enumerators, ValuesAreLookedUpOverEveryEnumeratorFirstMatchInNameOrder) {
  const BindingTypeDescriptor& type = registry_.RegisterType<Status>("Status")
                                          .AddEnumerator("SUCCEEDED", 1)
                                          .AddEnumerator("OK", 1)
                                          .AddEnumerator("FAILED", 3)
                                          .AddEnumerator("ERROR", 3)
                                          .AddEnumerator("NEGATIVE", -7)
                                          .Descriptor();
  const StaticTypeInfo& info = StaticTypeInfoOf<Status>();
  EXPECT_STREQ(registry_.EnumeratorName(info, 1), "OK");
  EXPECT_STREQ(registry_.EnumeratorName(info, 3), "ERROR");
  EXPECT_STREQ(registry_.EnumeratorName(info, -7), "NEGATIVE");
  EXPECT_EQ(registry_.EnumeratorName(info, 2), nullptr);
  EXPECT_EQ(registry_.EnumeratorName(StaticTypeInfoOf<Location>(), 1), nullptr);
  for (const int32_t value : {1, 3, -7}) {
    EXPECT_TRUE(BindingRegistry::IsEnumeratorValue(type, value)) << value;
  }
  for (const int32_t value : {0, 2}) {
    EXPECT_FALSE(BindingRegistry::IsEnumeratorValue(type, value)) << value;
  }
}

TEST(TypeKindName, NamesEveryKindAndNothingElse) {
  const char* expected[] = {"",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
                            "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
                            "blob",   "vector", "enum",   "struct", "callback", "map"};
  for (int32_t kind = 0; kind <= 19; ++kind) {
    EXPECT_STREQ(BindingRegistry::TypeName(static_cast<BindingTypeKind>(kind)), expected[kind]);
  }
  EXPECT_STREQ(BindingTypeKindName(static_cast<BindingTypeKind>(20)), "");
  EXPECT_STREQ(BindingTypeKindName(static_cast<BindingTypeKind>(-1)), "");
}

// --- Events ---

using EventRegistration = RegistryTestBase;

TEST_F(EventRegistration, FirstRegistrationOfANameWinsUntilItIsRemoved) {
  const BindingTypeDescriptor* location =
      &registry_.RegisterType<Location>("Location").Descriptor();
  BindingEventBuilder first = registry_.RegisterEvent("OnMoved", location);
  first.SetDescription("Moved").AddTags({"geo", ""}).AddTag("").SetNameSpace("Geo");
  BindingEventBuilder second = registry_.RegisterEvent("OnMoved", nullptr);
  second.SetDescription("Other").AddTag("x");

  EXPECT_FALSE(first.Existed());
  EXPECT_TRUE(second.Existed());
  const BindingEventDescriptor* event = registry_.FindEvent("OnMoved");
  ASSERT_EQ(event, &first.Descriptor());
  EXPECT_EQ(event->dataType, location);
  EXPECT_EQ(event->description, "Moved");
  EXPECT_EQ(event->nameSpace, "Geo");
  EXPECT_THAT(event->tags, ElementsAre("geo", ""));

  // A removed event is gone, but snapshots keep their entries.
  registry_.RegisterEvent("OnStopped", nullptr);
  const BindingEventMap before = registry_.EventsSnapshot();
  EXPECT_TRUE(registry_.RemoveEvent("OnMoved"));
  EXPECT_FALSE(registry_.RemoveEvent("OnMoved"));
  EXPECT_EQ(registry_.FindEvent("OnMoved"), nullptr);
  EXPECT_NE(registry_.FindEvent("OnStopped"), nullptr);
  EXPECT_EQ(before.size(), 2u);
  EXPECT_EQ(registry_.EventsSnapshot().size(), 1u);
}

// --- Functions ---

using FunctionRegistration = RegistryTestBase;

TEST_F(FunctionRegistration, RegisteringAndRemovingAdvanceTheGenerationAndDestroyTheInvoker) {
  const uint32_t start = registry_.Generation();
  int destroyed = 0;
  BindingFunctionDescriptor& function = registry_.RegisterFunction("WhereAmI", 2);
  function.implementation = std::make_unique<TestInvoker>(&destroyed);
  EXPECT_EQ(registry_.Generation(), start + 1);
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), &function);
  EXPECT_EQ(function.registry, &registry_);
  EXPECT_EQ(function.arguments.size(), 2u);
  EXPECT_EQ(function.arguments[1].owner, &function);

  EXPECT_TRUE(registry_.RemoveFunction(&function));
  EXPECT_EQ(registry_.Generation(), start + 2);
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), nullptr);
  EXPECT_EQ(destroyed, 1);
}

TEST_F(FunctionRegistration, UnknownOrNullDescriptorsAreNotRemoved) {
  BindingRegistry other;
  BindingFunctionDescriptor& foreign = other.RegisterFunction("WhereAmI", 0);
  registry_.RegisterFunction("WhereAmI", 0);
  const uint32_t generation = registry_.Generation();
  EXPECT_FALSE(registry_.RemoveFunction(nullptr));
  EXPECT_FALSE(registry_.RemoveFunction(&foreign));
  EXPECT_EQ(registry_.Generation(), generation);
  EXPECT_NE(registry_.FindFunction("WhereAmI"), nullptr);
  EXPECT_EQ(other.FindFunction("WhereAmI"), &foreign);
}

TEST_F(FunctionRegistration, DetachedFunctionsHaveNoNameEntryAndTakenNamesKeepTheFirst) {
  const uint32_t generation = registry_.Generation();
  BindingFunctionDescriptor& detached = registry_.RegisterFunction("WhereAmI", 1, true);
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), nullptr);
  EXPECT_EQ(registry_.Generation(), generation);
  EXPECT_THAT(registry_.FunctionsSnapshot(), IsEmpty());

  BindingFunctionDescriptor& first = registry_.RegisterFunction("WhereAmI", 0);
  BindingFunctionDescriptor& second = registry_.RegisterFunction("WhereAmI", 1);
  EXPECT_NE(&first, &second);
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), &first);
  EXPECT_TRUE(registry_.RemoveFunction(&detached));
  EXPECT_TRUE(registry_.RemoveFunction(&second));  // even so, the name stays the first's
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), &first);
  EXPECT_TRUE(registry_.RemoveFunction(&first));
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), nullptr);
}

TEST_F(FunctionRegistration, ArgumentsAreTypedByIndexAndNamedInOrder) {
  const BindingTypeDescriptor* status = &RegisterStatus();
  BindingFunctionDescriptor& function = registry_.RegisterFunction("GetLocation", 2);
  BindingRegistry::SetArgument(function, 1, {BindingTypeKind::Enum, BindingTypeKind::None, status},
                               true);
  BindingRegistry::SetArgument(function, 0, {BindingTypeKind::String}, false);
  EXPECT_EQ(BindingRegistry::AddArgument(function, "ip_address", "Address to locate"), 0u);
  EXPECT_EQ(BindingRegistry::AddArgument(function, "status", "", {BindingTypeKind::String}), 1u);
  EXPECT_EQ(BindingRegistry::AddArgument(function, "extra", "Beyond the count"), 2u);

  ASSERT_EQ(function.arguments.size(), 3u);
  const BindingArgumentDescriptor& address = function.arguments[0];
  EXPECT_EQ(address.name, "ip_address");
  EXPECT_EQ(address.nameHash, OracleHash("ip_address"));
  EXPECT_EQ(address.description, "Address to locate");
  EXPECT_EQ(address.type.kind, BindingTypeKind::String);
  EXPECT_FALSE(address.optional);
  EXPECT_FALSE(address.exposedType.IsSet());

  const BindingArgumentDescriptor& statusArgument = *function.FindArgument("status");
  EXPECT_TRUE(statusArgument.optional);
  EXPECT_EQ(statusArgument.type.descriptor, status);
  EXPECT_EQ(statusArgument.DescribedType().kind, BindingTypeKind::String);
  EXPECT_EQ(function.arguments[2].owner, &function);
  EXPECT_EQ(function.FindArgument("missing"), nullptr);

  // SetArgument beyond the count grows the list with untyped arguments.
  BindingFunctionDescriptor& grown = registry_.RegisterFunction("F", 0);
  BindingRegistry::SetArgument(grown, 1, {BindingTypeKind::Bool}, false);
  ASSERT_EQ(grown.arguments.size(), 2u);
  EXPECT_EQ(grown.arguments[1].type.kind, BindingTypeKind::Bool);
  EXPECT_EQ(grown.arguments[0].type.kind, BindingTypeKind::None);
}

TEST_F(FunctionRegistration, SnapshotIsIndependentOfLaterChanges) {
  BindingFunctionDescriptor& first = registry_.RegisterFunction("First", 0);
  const BindingFunctionMap snapshot = registry_.FunctionsSnapshot();
  registry_.RegisterFunction("Second", 0);
  EXPECT_TRUE(registry_.RemoveFunction(&first));
  EXPECT_THAT(snapshot, ElementsAre(Pair("First", &first)));
  EXPECT_THAT(registry_.FunctionsSnapshot(), ElementsAre(Pair("Second", testing::NotNull())));
}

// --- Initialisation ---

using Initialization = RegistryTestBase;

TEST_F(Initialization, EmptiesTheRegistryAndAddsTheCallbackEvent) {
  EXPECT_FALSE(registry_.IsInitialized());
  registry_.RegisterType<Location>("Location");
  registry_.RegisterEvent("OnMoved", nullptr);
  registry_.RegisterFunction("WhereAmI", 0);
  const uint32_t generation = registry_.Generation();

  registry_.Initialize();
  EXPECT_TRUE(registry_.IsInitialized());
  EXPECT_EQ(registry_.FindType("Location"), nullptr);
  EXPECT_EQ(registry_.FindType(StaticTypeInfoOf<Location>()), nullptr);
  EXPECT_EQ(registry_.FindEvent("OnMoved"), nullptr);
  EXPECT_EQ(registry_.FindFunction("WhereAmI"), nullptr);
  EXPECT_NE(registry_.Generation(), generation);

  const BindingEventDescriptor* callback = registry_.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->dataType, registry_.FindType("BindingCallbackEvent"));
  EXPECT_NE(callback->dataType, nullptr);
  EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
  EXPECT_THAT(callback->tags, ElementsAre("$builtin"));
  EXPECT_THAT(registry_.EventsSnapshot(), ElementsAre(Pair("OnCallback", callback)));
}

// --- Lock discipline ---

using RegistryLock = RegistryTestBase;

TEST_F(RegistryLock, IsReleasedBeforeAnInvokerIsDestroyed) {
  int destroyed = 0;
  LockProbe probe(registry_);
  BindingFunctionDescriptor& function = registry_.RegisterFunction("WhereAmI", 0);
  function.implementation = std::make_unique<TestInvoker>(&destroyed, &probe);
  EXPECT_TRUE(registry_.RemoveFunction(&function));
  probe.Join();
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(probe.AnsweredInTime());
}

TEST_F(RegistryLock, ConcurrentRegistrationAndLookupSeeEveryType) {
  constexpr int kCount = 300;
  std::vector<std::string> names;
  for (int index = 0; index < kCount; ++index) {
    names.push_back("Type" + std::to_string(index));
  }
  std::vector<StaticTypeInfo> infos;  // names stay put from here on
  for (int index = 0; index < kCount; ++index) {
    infos.push_back({0x1000u + static_cast<uint32_t>(index), names[index].c_str(), {}});
  }
  const uint32_t generation = registry_.Generation();

  std::thread writer([&] {
    for (int index = 0; index < kCount; ++index) {
      registry_.RegisterType(names[index], 4, infos[index], false).AddTag("t");
      registry_.RegisterFunction(names[index], 1);
    }
  });
  int seenTypes = 0;
  int seenFunctions = 0;
  for (int index = kCount - 1; index >= 0; --index) {
    // Wait for each one, newest first, so that lookups overlap the writer's registrations.
    const BindingTypeDescriptor* byName = nullptr;
    while ((byName = registry_.FindType(names[index])) == nullptr) {
      std::this_thread::yield();
    }
    seenTypes += registry_.FindType(infos[index]) == byName && byName->name == names[index];
    while (registry_.FindFunction(names[index]) == nullptr) {
      (void)registry_.FunctionsSnapshot();
    }
    ++seenFunctions;
  }
  writer.join();
  EXPECT_EQ(seenTypes, kCount);
  EXPECT_EQ(seenFunctions, kCount);
  EXPECT_EQ(registry_.TypesSnapshot().size(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(registry_.Generation(), generation + kCount);
}

}  // namespace
}  // namespace Vexa
