// Records, vectors, maps and optionals in both directions, partial writes, the round trip of
// a record of every shape, the nesting and size limits of both directions, and typed
// registration (which C++ types bind, awkward records, fields with converters of their own).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/field_registration.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Collection;
using Testing::ConvertInto;
using Testing::Empty;
using Testing::Structure;

enum class Level : int32_t { Low = 1, High = 2 };
VEXA_STATIC_TYPE(Level, "enum Vexa::Level");

struct Point {
  int32_t x = 7;
  int32_t y = 7;
  friend bool operator==(const Point&, const Point&) = default;
};
VEXA_STATIC_TYPE(Point, "struct Vexa::Point");

struct Sample {
  bool flag = false;
  int8_t small = 0;
  double ratio = 0;
  std::string name;
  Level level = Level::Low;
  Point origin;
  std::vector<Point> path;
  std::vector<bool> bits;
  std::unordered_map<std::string, Point> places;
  std::optional<int32_t> limit;
  friend bool operator==(const Sample&, const Sample&) = default;
};
VEXA_STATIC_TYPE(Sample, "struct Vexa::Sample");

struct Node {
  int32_t value = 0;
  std::vector<Node> children;
};
VEXA_STATIC_TYPE(Node, "struct Vexa::Node");

struct NeverRegistered {};
VEXA_STATIC_TYPE(NeverRegistered, "struct Vexa::NeverRegistered");

// Larger than any vector of more than a few of them can be: resizing one throws length_error.
struct Giant {
  unsigned char bytes[sizeof(void*) == 8 ? (std::size_t{1} << 48) : (std::size_t{1} << 30)];
};
VEXA_STATIC_TYPE(Giant, "struct Vexa::Giant");

class StructureConversion : public ::testing::Test {
 protected:
  StructureConversion() {
    RegisterEnum<Level>(registry_, "Level").Value("Low", Level::Low).Value("High", Level::High);
    RegisterRecord<Point>(registry_, "Point")
        .Field("x", &Point::x, {.flags = kBindingFieldRequired})
        .Field("y", &Point::y);
    const BindingFieldOptions omit{.flags = kBindingFieldOmitWhenEmpty};
    RegisterRecord<Sample>(registry_, "Sample")
        .Field("flag", &Sample::flag, omit)
        .Field("small", &Sample::small)
        .Field("ratio", &Sample::ratio, omit)
        .Field("name", &Sample::name, {.flags = kBindingFieldRequired})
        .Field("level", &Sample::level, omit)
        .Field("origin", &Sample::origin)
        .Field("path", &Sample::path, omit)
        .Field("bits", &Sample::bits)
        .Field("places", &Sample::places)
        .Field("limit", &Sample::limit)
        // A second field of an existing name: left out when zero, it keeps the first's member.
        .Field("small", &Sample::small, omit);
    RegisterRecord<Node>(registry_, "Node")
        .Field("value", &Node::value)
        .Field("children", &Node::children);
    RegisterRecord<Giant>(registry_, "Giant");
  }

  // The names of the members of `native`'s value, in order.
  template <typename T>
  std::string Members(const T& native) const {
    std::string names;
    const BindingResult value = ToValue(native, registry_);  // outlives the loop over it
    for (const auto& [key, member] : value.value.Members()) {
      names += std::string(key) + " ";
    }
    return names;
  }

  BindingRegistry registry_;
};

TEST_F(StructureConversion, RecordsBecomeStructuresOfTheirFieldsAndBack) {
  const BindingProperty value =
      Structure({{"flag", true},
                 {"small", -8},
                 {"ratio", 0.25},
                 {"name", "Berlin"},
                 {"level", Testing::Enumerator(2, StaticTypeInfoOf<Level>())},
                 {"origin", Structure({{"x", 3}, {"y", -4}})},
                 {"path", Collection({Structure({{"x", 1}, {"y", 2}})})},
                 {"bits", Collection({true, false})},
                 {"places", Structure({{"a", Structure({{"x", 5}, {"y", 6}})}})},
                 {"limit", Empty()}});
  const auto native = ConvertInto(Sample{}, value, registry_);
  EXPECT_TRUE(native.ok) << native.error;
  EXPECT_EQ(ToValue(native.native, registry_).value, value);
  // A refusal stops the walk with the fields before it written.
  const auto refused =
      ConvertInto(Sample{}, Structure({{"small", 1}, {"ratio", "bad"}}), registry_);
  EXPECT_EQ(refused.error, "Value bad for 'ratio' of type double is in an incorrect format");
  EXPECT_EQ(refused.native.small, 1);
  Sample sample;
  sample.small = 9;
  BindingResult failed = BindingResult::Failed("earlier");
  EXPECT_FALSE(ToNative(failed, sample, Structure({{"small", 1}}), "p", registry_));
  EXPECT_EQ(sample.small, 9) << "a failed result leaves a record alone";
  EXPECT_FALSE(ToValue(failed, sample, registry_));
  EXPECT_EQ(failed.ErrorText(), "earlier");
}

TEST_F(StructureConversion, ContainersAndOptionalsAreReplaced) {
  EXPECT_EQ(
      ConvertInto(std::vector<int32_t>{9, 9, 9, 9}, Collection({1, Empty(), "x", 3}), registry_)
          .native,
      (std::vector<int32_t>{1, 0, 0, 0}))
      << "an empty element keeps its default, the refused one holds zero, the rest are left";
  using Points = std::unordered_map<std::string, Point>;
  EXPECT_EQ(ConvertInto(Points{{"old", {}}},
                        Structure({{"a", Structure({{"x", 1}})}, {"b", Empty()}}), registry_)
                .native,
            (Points{{"a", {1, 7}}}));
  const auto emptied = ConvertInto(std::optional<int32_t>(3), Empty(), registry_);
  EXPECT_TRUE(emptied.ok && !emptied.native.has_value()) << emptied.error;
  const auto refused = ConvertInto(std::optional<int32_t>(3), "x", registry_);
  EXPECT_EQ(refused.native, std::nullopt);
}

TEST_F(StructureConversion, RefusalsNameTheRecordTheFieldOrTheContainer) {
  const auto withName = [](const char* member, BindingProperty value) {
    return Structure({{"name", "n"}, {member, std::move(value)}});
  };
  const std::pair<std::string, std::string> cases[] = {
      {ConvertInto(Sample{}, Empty(), registry_, "r").error, "A value for 'r' is required."},
      {ConvertInto(Sample{}, "text", registry_, "r").error,
       "Couldn't assign value to 'r' of type Sample because the input not a structure."},
      {ConvertInto(Sample{}, Structure({{"name", Empty()}}), registry_, "r").error,
       "Couldn't assign value to 'r' of type Sample because the input structure doesn't have "
       "required field 'name'."},
      {ConvertInto(Sample{}, withName("origin", Structure({{"y", 1}})), registry_).error,
       "Couldn't assign value to 'origin' of type Point because the input structure doesn't "
       "have required field 'x'."},
      {ConvertInto(Sample{}, withName("bits", Collection({Empty(), 2})), registry_).error,
       "Couldn't assign value to 'bits' of type bool because the input is of an invalid type "
       "signed."},
      {ConvertInto(Sample{}, withName("places", Collection({})), registry_).error,
       "Couldn't assign value to 'places' of type map because the input not a structure."},
      {ConvertInto(std::vector<Point>{}, Empty(), registry_).error,
       "Couldn't assign value to 'x' of type vector because the input not a collection."},
      {ConvertInto(std::vector<bool>{}, Empty(), registry_).error, "A value for 'x' is required."},
      {ConvertInto(NeverRegistered{}, Structure({}), registry_).error,
       "Couldn't assign value to 'x' because the input is an unregistered structure or not a "
       "structure at all."},
      {std::string(ToValue(std::vector<NeverRegistered>(2), registry_).ErrorText()),
       "Couldn't convert native value because it's an unregistered structure."},
  };
  for (const auto& [actual, expected] : cases) {
    EXPECT_EQ(actual, expected);
  }
}

TEST_F(StructureConversion, OmitWhenEmptyLeavesOutZeroAndEmptyValues) {
  Sample sample;
  sample.level = static_cast<Level>(0);
  EXPECT_EQ(Members(sample), "bits limit name origin places small ");
  sample.ratio = std::numeric_limits<double>::quiet_NaN();  // not zero
  sample.level = Level::Low;
  sample.path = {Point{}};
  EXPECT_EQ(Members(sample), "bits level limit name origin path places ratio small ");
}

TEST_F(StructureConversion, NestingIsBoundedInBothDirections) {
  const auto tooDeep = [](const std::string& name) {
    return "Couldn't assign value to '" + name +
           "' because the input is nested deeper than 512 levels.";
  };
  // A record and its vector are a level each: a chain of 256 nodes whose last one has no
  // children is 511 levels, one more node makes 513.
  BindingProperty chain;
  BindingProperty* link = &chain;
  for (int count = 1; count < 256; ++count) {
    link = &link->Member("children").ElementAt(0);
  }
  link->MakeStructure();
  EXPECT_TRUE(ConvertInto(Node{}, chain, registry_).ok);
  EXPECT_EQ(ConvertInto(Node{}, Structure({{"children", Collection({chain})}}), registry_).error,
            tooDeep("children"));
  // An object takes as many levels as are left: all of them at the top.
  EXPECT_TRUE(ConvertInto(BindingProperty(), Testing::NestedCollections(512), registry_).ok);
  EXPECT_EQ(ConvertInto(BindingProperty(), Testing::NestedCollections(513), registry_).error,
            tooDeep("x"));
  EXPECT_TRUE(ToValue(Testing::NestedCollections(512), registry_).Ok());
  EXPECT_EQ(ToValue(Testing::NestedCollections(513), registry_).ErrorText(),
            "Couldn't convert native value because it is nested deeper than 512 levels.");
}

TEST_F(StructureConversion, VectorsAndCollectionsBeyondWhatTheOtherHoldsAreRefused) {
  const std::size_t tooMany = std::vector<Giant>().max_size() + 1;
  BindingProperty input;
  input.MakeCollection();
  ASSERT_TRUE(input.Reserve(tooMany));
  for (std::size_t index = 0; index < tooMany; ++index) {
    input.Append();
  }
  const auto giants = ConvertInto(std::vector<Giant>{}, input, registry_, "giants");
  EXPECT_EQ(giants.error, "Couldn't assign value to 'giants' of type vector because its " +
                              std::to_string(tooMany) + " elements do not fit.");
  EXPECT_EQ(ToValue(std::vector<bool>(kMaxBindingElements + 1), registry_).ErrorText(),
            "Couldn't convert native value because its 268435456 elements are more than a "
            "collection holds.");
}

// --- Typed registration ---

// Callbacks given by name, "first" (1) or "second" (2); anything else is refused.
class NamedCallbackConverter final : public BindingFieldConverter {
 public:
  bool ToNative(BindingResult& result, void* field, const BindingProperty& input,
                std::string_view name, const BindingRegistry&) const override {
    const std::string_view text = input.GetString();
    *static_cast<uint32_t*>(field) = text == "first" ? 1 : text == "second" ? 2 : 0;
    if (result.Ok() && *static_cast<uint32_t*>(field) == 0) {
      result.Fail("no callback " + std::string(text) + " for " + std::string(name));
    }
    return result.Ok();
  }
  bool ToValue(BindingResult& result, const void*, const BindingFieldDescriptor&,
               const BindingRegistry&) const override {
    result.value = "first";
    return true;
  }
};

struct WithCallback {
  BindingCallback onDone;
};
VEXA_STATIC_TYPE(WithCallback, "struct Vexa::WithCallback");

TEST(FieldRegistration, CallbackFieldsGoThroughTheirOwnConverter) {
  BindingRegistry registry;
  registry.RegisterType<WithCallback>("WithCallback")
      .AddField("onDone", {0,
                           StaticTypeInfoOf<BindingCallback>(),
                           {BindingTypeKind::Callback},
                           std::make_unique<NamedCallbackConverter>()});
  const auto named = [&](const char* name) {
    return ConvertInto(WithCallback{}, Structure({{"onDone", name}}), registry);
  };
  EXPECT_EQ(named("second").native.onDone.id, 2u);
  EXPECT_EQ(named("third").error, "no callback third for onDone");
  EXPECT_EQ(ToValue(WithCallback{}, registry).value, Structure({{"onDone", "first"}}));
}

}  // namespace
}  // namespace Vexa
