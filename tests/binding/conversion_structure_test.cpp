// Records, vectors, maps and optionals in both directions, partial writes, round trips and the
// nesting and size bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/conversion/conversion.h"
#include "binding/field_registration.h"
#include "binding/registry.h"
#include "conversion_test_support.h"

namespace Vexa {
namespace {

using Testing::Blob;
using Testing::Collection;
using Testing::ConvertInto;
using Testing::Empty;
using Testing::Structure;
using Testing::ValueOf;

enum class Level : int32_t { Low = 1, High = 2 };
VEXA_STATIC_TYPE(Level, "enum Vexa::Level");

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};
VEXA_STATIC_TYPE(Point, "struct Vexa::Point");

// Ten fields of every shape; the round trip record.
struct Sample {
  bool flag = false;
  int8_t small = 0;
  uint64_t big = 0;
  double ratio = 0;
  std::string name;
  BindingBlob bytes;
  Level level = Level::Low;
  Point origin;
  std::vector<Point> path;
  std::unordered_map<std::string, int32_t> counts;
  friend bool operator==(const Sample&, const Sample&) = default;
};
VEXA_STATIC_TYPE(Sample, "struct Vexa::Sample");

struct Triple {
  int32_t first = 7;
  int32_t second = 7;
  int32_t third = 7;
};
VEXA_STATIC_TYPE(Triple, "struct Vexa::Triple");

struct WithOptional {
  std::optional<int32_t> limit;
  std::optional<Point> corner;
  std::optional<std::string> omitted;
};
VEXA_STATIC_TYPE(WithOptional, "struct Vexa::WithOptional");

struct Node {
  int32_t value = 0;
  std::vector<Node> children;
};
VEXA_STATIC_TYPE(Node, "struct Vexa::Node");

struct Holder {
  BindingProperty data;
};
VEXA_STATIC_TYPE(Holder, "struct Vexa::Holder");

// Every kind flagged omit-when-empty, and one plain field beside each flagged int.
struct Omittable {
  bool flag = false;
  int32_t flagged = 0;
  int32_t plain = 0;
  uint8_t small = 0;
  float single = 0;
  double real = 0;
  std::string text;
  BindingBlob bytes;
  std::vector<int32_t> list;
  std::unordered_map<std::string, bool> map;
  Level level = static_cast<Level>(0);
  BindingProperty object;
  std::optional<int32_t> maybe;
};
VEXA_STATIC_TYPE(Omittable, "struct Vexa::Omittable");

struct NeverRegistered {
  int32_t x = 0;
};
VEXA_STATIC_TYPE(NeverRegistered, "struct Vexa::NeverRegistered");

// Larger than any vector of more than a few of them can be: resizing one throws length_error.
struct Giant {
  unsigned char bytes[sizeof(void*) == 8 ? (std::size_t{1} << 48) : (std::size_t{1} << 30)];
};
VEXA_STATIC_TYPE(Giant, "struct Vexa::Giant");

class StructureConversionTest : public ::testing::Test {
 protected:
  StructureConversionTest() {
    RegisterEnum<Level>(registry_, "Level").Value("Low", Level::Low).Value("High", Level::High);
    RegisterRecord<Point>(registry_, "Point")
        .Field("x", &Point::x, {.flags = kBindingFieldRequired})
        .Field("y", &Point::y);
    RegisterRecord<Sample>(registry_, "Sample")
        .Field("flag", &Sample::flag)
        .Field("small", &Sample::small)
        .Field("big", &Sample::big)
        .Field("ratio", &Sample::ratio)
        .Field("name", &Sample::name, {.flags = kBindingFieldRequired})
        .Field("bytes", &Sample::bytes)
        .Field("level", &Sample::level)
        .Field("origin", &Sample::origin)
        .Field("path", &Sample::path)
        .Field("counts", &Sample::counts);
    RegisterRecord<Triple>(registry_, "Triple")
        .Field("first", &Triple::first)
        .Field("second", &Triple::second)
        .Field("third", &Triple::third);
    RegisterRecord<WithOptional>(registry_, "WithOptional")
        .Field("limit", &WithOptional::limit)
        .Field("corner", &WithOptional::corner)
        .Field("omitted", &WithOptional::omitted, {.flags = kBindingFieldOmitWhenEmpty});
    RegisterRecord<Node>(registry_, "Node")
        .Field("value", &Node::value)
        .Field("children", &Node::children);
    RegisterRecord<Holder>(registry_, "Holder").Field("data", &Holder::data);
    RegisterRecord<Giant>(registry_, "Giant");
    const BindingFieldOptions omit{.flags = kBindingFieldOmitWhenEmpty};
    RegisterRecord<Omittable>(registry_, "Omittable")
        .Field("flag", &Omittable::flag, omit)
        .Field("flagged", &Omittable::flagged, omit)
        .Field("plain", &Omittable::plain)
        .Field("small", &Omittable::small, omit)
        .Field("single", &Omittable::single, omit)
        .Field("real", &Omittable::real, omit)
        .Field("text", &Omittable::text, omit)
        .Field("bytes", &Omittable::bytes, omit)
        .Field("list", &Omittable::list, omit)
        .Field("map", &Omittable::map, omit)
        .Field("level", &Omittable::level, omit)
        .Field("object", &Omittable::object, omit)
        .Field("maybe", &Omittable::maybe, omit)
        // A second field of an existing name: left out when empty, it keeps the first's member.
        .Field("plain", &Omittable::flagged, omit);
  }

  static Sample FilledSample() {
    return {.flag = true,
            .small = -8,
            .big = UINT64_MAX,
            .ratio = 0.25,
            .name = "Berlin",
            .bytes = {0, 255},
            .level = Level::High,
            .origin = {3, -4},
            .path = {{1, 2}, {3, 4}},
            .counts = {{"a", 1}, {"b", -2}}};
  }

  BindingRegistry registry_;
};

// --- Records, value to native ---

TEST_F(StructureConversionTest, MissingMembersKeepTheirContentAndExtraMembersAreIgnored) {
  Triple triple;
  const auto converted =
      ConvertInto(triple, Structure({{"second", 2}, {"third", Empty()}, {"fourth", 4}}), registry_);
  EXPECT_TRUE(converted.ok);
  EXPECT_EQ(converted.native.first, 7);
  EXPECT_EQ(converted.native.second, 2);
  EXPECT_EQ(converted.native.third, 7) << "an empty member counts as missing";

  // A refused field leaves earlier fields written and later ones untouched.
  const auto refused =
      ConvertInto(Triple{}, Structure({{"first", 1}, {"second", "bad"}, {"third", 3}}), registry_);
  EXPECT_EQ(refused.error, "Value bad for 'second' of type int32 is in an incorrect format");
  EXPECT_EQ(refused.native.first, 1);
  EXPECT_EQ(refused.native.second, 0);
  EXPECT_EQ(refused.native.third, 7);
}

TEST_F(StructureConversionTest, RecordRefusalsNameTheRecordAndTheField) {
  struct RefusalCase {
    BindingProperty input;
    const char* message;
  };
  const RefusalCase cases[] = {
      {Empty(), "A value for 'request' is required."},
      {"text",
       "Couldn't assign value to 'request' of type Sample because the input not a structure."},
      {Collection({}),
       "Couldn't assign value to 'request' of type Sample because the input not a structure."},
      {Structure({{"flag", true}}),
       "Couldn't assign value to 'request' of type Sample because the input structure doesn't "
       "have required field 'name'."},
      {Structure({{"name", Empty()}}),
       "Couldn't assign value to 'request' of type Sample because the input structure doesn't "
       "have required field 'name'."},
      {Structure({{"name", "n"}, {"origin", Structure({{"y", 1}})}}),
       "Couldn't assign value to 'origin' of type Point because the input structure doesn't "
       "have required field 'x'."},
      {Structure({{"name", "n"}, {"origin", 5}}),
       "Couldn't assign value to 'origin' of type Point because the input not a structure."},
  };
  for (const RefusalCase& row : cases) {
    SCOPED_TRACE(row.message);
    EXPECT_EQ(ConvertInto(Sample{}, row.input, registry_, "request").error, row.message);
  }
  EXPECT_EQ(ConvertInto(NeverRegistered{}, Structure({{"x", 1}}), registry_, "request").error,
            "Couldn't assign value to 'request' because the input is an unregistered structure "
            "or not a structure at all.");
}

// --- Vectors and maps, value to native ---

TEST_F(StructureConversionTest, VectorElementsConvertByTheirRuleAndEmptyOnesKeepTheDefault) {
  const auto numbers =
      ConvertInto(std::vector<int32_t>{9, 9, 9, 9}, Collection({1, Empty(), "0x3"}), registry_);
  EXPECT_EQ(numbers.native, (std::vector<int32_t>{1, 0, 3}));

  const auto bits =
      ConvertInto(std::vector<bool>{true}, Collection({true, "0", Empty(), "1"}), registry_);
  EXPECT_EQ(bits.native, (std::vector<bool>{true, false, false, true}));

  const auto points = ConvertInto(
      std::vector<Point>{},
      Collection({Structure({{"x", 1}}), Empty(), Structure({{"x", 2}, {"y", 3}})}), registry_);
  EXPECT_EQ(points.native, (std::vector<Point>{{1, 0}, {0, 0}, {2, 3}}));

  const auto levels =
      ConvertInto(std::vector<Level>{}, Collection({"High", 1, "2"}), registry_, "levels");
  EXPECT_EQ(levels.native, (std::vector<Level>{Level::High, Level::Low, Level::High}));

  const auto objects =
      ConvertInto(std::vector<BindingProperty>{}, Collection({"a", Collection({})}), registry_);
  EXPECT_EQ(objects.native, (std::vector<BindingProperty>{"a", Collection({})}));
}

TEST_F(StructureConversionTest, VectorRefusalsUseTheVectorsName) {
  struct VectorCase {
    bool ofBool;
    BindingProperty input;
    const char* message;
  };
  const char* const notCollection =
      "Couldn't assign value to 'list' of type vector because the input not a collection.";
  const VectorCase cases[] = {
      {false, Empty(), notCollection},
      {false, "1,2", notCollection},
      {false, Structure({{"0", 1}}), notCollection},
      {true, Empty(), "A value for 'list' is required."},
      {true, "true", notCollection},
      {false, Collection({1, "x", 3}),
       "Value x for 'list' of type int32 is in an incorrect format"},
      {true, Collection({true, 2}),
       "Couldn't assign value to 'list' of type bool because the input is of an invalid type "
       "signed."},
  };
  for (const VectorCase& row : cases) {
    SCOPED_TRACE(row.message);
    if (row.ofBool) {
      EXPECT_EQ(ConvertInto(std::vector<bool>{}, row.input, registry_, "list").error, row.message);
    } else {
      EXPECT_EQ(ConvertInto(std::vector<int32_t>{}, row.input, registry_, "list").error,
                row.message);
    }
  }
  // Converted up to the failing element, which holds zero; the rest keep the default.
  const auto partial = ConvertInto(std::vector<int32_t>{}, Collection({1, "x", 3}), registry_);
  EXPECT_EQ(partial.native, (std::vector<int32_t>{1, 0, 0}));
  EXPECT_TRUE(ConvertInto(std::vector<int32_t>{5}, "bad", registry_).native.empty());
}

TEST_F(StructureConversionTest, MapMembersConvertUnderTheirKeys) {
  using Counts = std::unordered_map<std::string, int32_t>;
  const auto counts =
      ConvertInto(Counts{{"old", 1}}, Structure({{"a", 1}, {"b", Empty()}, {"c", "3"}}), registry_);
  EXPECT_EQ(counts.native, (Counts{{"a", 1}, {"c", 3}}));

  using Points = std::unordered_map<std::string, Point>;
  const auto points = ConvertInto(Points{}, Structure({{"p", Structure({{"x", 5}})}}), registry_);
  EXPECT_EQ(points.native, (Points{{"p", {5, 0}}}));

  EXPECT_EQ(ConvertInto(Counts{{"old", 1}}, Collection({1}), registry_, "counts").error,
            "Couldn't assign value to 'counts' of type map because the input not a structure.");
  EXPECT_EQ(ConvertInto(Counts{}, Structure({{"a", "z"}}), registry_, "counts").error,
            "Value z for 'counts' of type int32 is in an incorrect format");
  EXPECT_TRUE(ConvertInto(Counts{{"old", 1}}, Empty(), registry_).native.empty());
}

// --- Optional fields ---

TEST_F(StructureConversionTest, OptionalFieldsHoldAValueOnlyWhenOneArrives) {
  const WithOptional previous{.limit = 4, .corner = {}, .omitted = {}};
  const auto kept =
      ConvertInto(previous, Structure({{"corner", Structure({{"x", 1}})}}), registry_);
  EXPECT_EQ(kept.native.limit, 4) << "a missing member keeps the field";
  EXPECT_EQ(kept.native.corner, (Point{1, 0}));

  EXPECT_EQ(ConvertInto(std::optional<int32_t>(3), Empty(), registry_).native, std::nullopt);
  EXPECT_EQ(ConvertInto(std::optional<int32_t>(), "12", registry_).native, 12);
  const auto refused = ConvertInto(std::optional<int32_t>(3), "x", registry_, "limit");
  EXPECT_EQ(refused.native, std::nullopt);
  EXPECT_EQ(refused.error, "Value x for 'limit' of type int32 is in an incorrect format");
}

TEST_F(StructureConversionTest, EmptyOptionalsBecomeEmptyMembersUnlessOmitted) {
  const BindingResult empty = ValueOf(WithOptional{}, registry_);
  EXPECT_EQ(empty.value, Structure({{"limit", Empty()}, {"corner", Empty()}}));

  const WithOptional filled{.limit = 0, .corner = Point{1, 2}, .omitted = "here"};
  EXPECT_EQ(
      ValueOf(filled, registry_).value,
      Structure({{"limit", 0}, {"corner", Structure({{"x", 1}, {"y", 2}})}, {"omitted", "here"}}));
}

// --- Native to value ---

TEST_F(StructureConversionTest, ARecordBecomesAStructureOfItsFieldsAndRoundTrips) {
  const Sample original = FilledSample();
  const BindingResult value = ValueOf(original, registry_);
  ASSERT_TRUE(value.Ok()) << value.ErrorText();
  const BindingProperty expected = Structure({
      {"flag", true},
      {"small", int64_t{-8}},
      {"big", uint64_t{UINT64_MAX}},
      {"ratio", 0.25},
      {"name", "Berlin"},
      {"bytes", Blob({0, 255})},
      {"level", Testing::Enumerator(2, StaticTypeInfoOf<Level>())},
      {"origin", Structure({{"x", 3}, {"y", -4}})},
      {"path", Collection({Structure({{"x", 1}, {"y", 2}}), Structure({{"x", 3}, {"y", 4}})})},
      {"counts", Structure({{"a", 1}, {"b", -2}})},
  });
  EXPECT_EQ(value.value, expected);
  const auto back = ConvertInto(Sample{}, value.value, registry_);
  EXPECT_TRUE(back.ok) << back.error;
  EXPECT_EQ(back.native, original);
}

TEST_F(StructureConversionTest, OmitWhenEmptyLeavesOutZeroAndEmptyFieldsOfEveryKind) {
  EXPECT_EQ(ValueOf(Omittable{}, registry_).value, Structure({{"plain", 0}}));

  Omittable filled;
  filled.flag = true;
  filled.plain = 5;
  filled.small = 1;
  filled.single = -0.5f;
  filled.real = std::numeric_limits<double>::quiet_NaN();
  filled.text = "t";
  filled.bytes = {0};
  filled.list = {0};
  filled.map = {{"k", false}};
  filled.level = Level::Low;
  filled.object = Collection({});  // an empty collection is empty too
  filled.maybe = 0;                // present, but zero
  const BindingResult value = ValueOf(filled, registry_);
  std::vector<std::string> members;
  for (const auto& [key, member] : value.value.Members()) {
    members.emplace_back(key);
  }
  EXPECT_EQ(members, (std::vector<std::string>{"bytes", "flag", "level", "list", "map", "plain",
                                               "real", "single", "small", "text"}));
  EXPECT_EQ(value.value.Member("plain"), BindingProperty(5));
}

TEST_F(StructureConversionTest, UnregisteredRecordsCannotBecomeValuesAndFailuresStay) {
  EXPECT_EQ(ValueOf(NeverRegistered{}, registry_).ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  // Inside a container the failure of the element fails the whole result.
  EXPECT_EQ(ValueOf(std::vector<NeverRegistered>(2), registry_).ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
  // A failed result is left alone in both directions.
  BindingResult failed = BindingResult::Failed("earlier");
  EXPECT_FALSE(ToValue(failed, Point{}, registry_));
  EXPECT_EQ(failed.ErrorText(), "earlier");
  Triple triple;
  EXPECT_FALSE(ToNative(failed, triple, Structure({{"first", 1}}), "t", registry_));
  EXPECT_EQ(triple.first, 7);
  EXPECT_EQ(failed.ErrorText(), "earlier");
}

// --- Bounds ---

TEST_F(StructureConversionTest, InputsNestedBeyondTheLimitAreRefused) {
  EXPECT_TRUE(
      ConvertInto(BindingProperty(), Testing::NestedCollections(kMaxBindingDepth), registry_).ok);
  EXPECT_EQ(
      ConvertInto(BindingProperty(), Testing::NestedCollections(kMaxBindingDepth + 1), registry_)
          .error,
      "Couldn't assign value to 'x' because the input is nested deeper than 512 levels.");
  // Inside a record the record itself is the first level.
  const auto holder = [&](std::size_t levels) {
    return ConvertInto(Holder{}, Structure({{"data", Testing::NestedCollections(levels)}}),
                       registry_);
  };
  EXPECT_TRUE(holder(kMaxBindingDepth - 1).ok);
  EXPECT_EQ(holder(kMaxBindingDepth).error,
            "Couldn't assign value to 'data' because the input is nested deeper than 512 levels.");
}

// A chain of `count` nodes as a value: each node is a structure and, but for the last, holds
// a collection of its child, so the value has 2 * count - 1 levels.
BindingProperty NodeChainValue(std::size_t count) {
  BindingProperty root;
  BindingProperty* node = &root;
  for (std::size_t index = 0; index < count; ++index) {
    node->Member("value") = static_cast<int64_t>(index);
    if (index + 1 < count) {
      node = &node->Member("children").ElementAt(0);
    }
  }
  return root;
}

// The same as a native chain: each node is a record and a vector, 2 * count levels.
Node NodeChain(std::size_t count) {
  Node root;
  Node* node = &root;
  for (std::size_t index = 1; index < count; ++index) {
    node = &node->children.emplace_back();
  }
  return root;
}

TEST_F(StructureConversionTest, RecursiveRecordsAreBoundedInBothDirections) {
  EXPECT_TRUE(ConvertInto(Node{}, NodeChainValue(256), registry_).ok);
  EXPECT_EQ(ConvertInto(Node{}, NodeChainValue(257), registry_).error,
            "Couldn't assign value to 'children' because the input is nested deeper than 512 "
            "levels.");
  EXPECT_EQ(ConvertInto(Node{}, NodeChainValue(5000), registry_).error,
            "Couldn't assign value to 'children' because the input is nested deeper than 512 "
            "levels.");

  EXPECT_TRUE(ValueOf(NodeChain(256), registry_).Ok());
  EXPECT_EQ(ValueOf(NodeChain(257), registry_).ErrorText(),
            "Couldn't convert native value because it is nested deeper than 512 levels.");
  Holder deep;
  deep.data = Testing::NestedCollections(kMaxBindingDepth);
  EXPECT_EQ(ValueOf(deep, registry_).ErrorText(),
            "Couldn't convert native value because it is nested deeper than 512 levels.");
}

TEST_F(StructureConversionTest, VectorsAndCollectionsBeyondWhatTheOtherHoldsAreRefused) {
  const std::size_t tooMany = std::vector<Giant>().max_size() + 1;
  BindingProperty input;
  input.MakeCollection();
  ASSERT_TRUE(input.Reserve(tooMany));
  for (std::size_t index = 0; index < tooMany; ++index) {
    input.Append();
  }
  std::vector<Giant> giants;
  BindingResult result;
  EXPECT_FALSE(ToNative(result, giants, input, "giants", registry_));
  EXPECT_EQ(result.ErrorText(), "Couldn't assign value to 'giants' of type vector because its " +
                                    std::to_string(tooMany) + " elements do not fit.");
  EXPECT_TRUE(giants.empty());

  // Nor can a collection hold a native vector beyond its element limit.
  const std::vector<bool> bits(kMaxBindingElements + 1);
  EXPECT_EQ(ValueOf(bits, registry_).ErrorText(),
            "Couldn't convert native value because its 268435456 elements are more than a "
            "collection holds.");
}

}  // namespace
}  // namespace Vexa
