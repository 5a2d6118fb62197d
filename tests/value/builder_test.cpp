#include "value/builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "value/context.h"
#include "support/values.h"

namespace {

using ::testing::ElementsAre;
using Vexa::BindingBlob;
using Vexa::BindingBuildStatus;
using Vexa::BindingProperty;
using Vexa::BindingReuse;
using Vexa::BindingValueBuilder;
using Vexa::kMaxBindingDepth;
using Kind = Vexa::BindingPropertyKind;
using Status = BindingBuildStatus;

constexpr Status kOk = Status::Ok;

// An enumerator only keeps the address of its type's record; any object stands in for one.
const int kColorTag = 1;
const Vexa::StaticTypeInfo& kColorType = *reinterpret_cast<const Vexa::StaticTypeInfo*>(&kColorTag);

std::vector<std::string> Keys(const BindingProperty& value) {
  std::vector<std::string> keys;
  for (const auto& [key, member] : value.Members()) {
    keys.emplace_back(key);
  }
  return keys;
}

uint32_t References(const BindingProperty& value, std::string_view text) {
  const Vexa::BindingValueContext* context = value.DiagnosticContext();
  return context != nullptr ? context->ReferenceCount(text) : 0;
}

// One builder event; the events below keep copies of their arguments.
using Event = std::function<Status(BindingValueBuilder&)>;

Event Struct(BindingReuse reuse = BindingReuse::Keep) {
  return [reuse](BindingValueBuilder& builder) { return builder.BeginStructure(reuse); };
}
Event List(BindingReuse reuse = BindingReuse::Keep) {
  return [reuse](BindingValueBuilder& builder) { return builder.BeginCollection(reuse); };
}
const Event kEndStruct = [](BindingValueBuilder& builder) { return builder.EndStructure(); };
const Event kEndList = [](BindingValueBuilder& builder) { return builder.EndCollection(); };
const Event kNull = [](BindingValueBuilder& builder) { return builder.Null(); };
const Event kEmpty = [](BindingValueBuilder& builder) { return builder.Empty(); };
Event Key(std::string key) {
  return [key](BindingValueBuilder& builder) { return builder.MemberKey(key); };
}
Event Text(std::string text) {
  return [text](BindingValueBuilder& builder) { return builder.String(text); };
}
Event Int(int64_t value) {
  return [value](BindingValueBuilder& builder) { return builder.Signed(value); };
}
Event Uint(uint64_t value) {
  return [value](BindingValueBuilder& builder) { return builder.Unsigned(value); };
}

class ValueBuilderTest : public ::testing::Test {
 protected:
  // Feeds events that must all succeed, naming the first one that does not.
  ::testing::AssertionResult Feed(std::initializer_list<Event> events) {
    std::size_t index = 0;
    for (const Event& event : events) {
      const Status status = event(builder);
      if (status != kOk) {
        return ::testing::AssertionFailure()
               << "event " << index << ": " << Vexa::BindingBuildStatusName(status);
      }
      ++index;
    }
    return ::testing::AssertionSuccess();
  }

  BindingProperty root;
  BindingValueBuilder builder{root};
};

// --- Targets: where each value event lands ---

using ValueBuilderTargets = ValueBuilderTest;

TEST_F(ValueBuilderTargets, ScalarAtTheRootFillsTheRoot) {
  ASSERT_TRUE(Feed({Int(-7)}));
  EXPECT_EQ(root.Kind(), Kind::Signed);
  EXPECT_EQ(root.GetSigned(), -7);
}

TEST_F(ValueBuilderTargets, EachScalarKindLandsAsItsKind) {
  const uint8_t bytes[] = {1, 2, 3};
  ASSERT_TRUE(Feed(
      {List(), [](BindingValueBuilder& b) { return b.Bool(true); }, Int(INT64_MIN),
       Uint(UINT64_MAX), [](BindingValueBuilder& b) { return b.Float(2.5); }, Text("text"),
       [&bytes](BindingValueBuilder& b) { return b.Blob(bytes, sizeof bytes); },
       [](BindingValueBuilder& b) { return b.Blob(BindingBlob{9}); },
       [](BindingValueBuilder& b) { return b.Enum(4, kColorType); }, kNull, kEmpty, kEndList}));
  using namespace Vexa::Testing;
  EXPECT_EQ(root, Collection({true, INT64_MIN, UINT64_MAX, 2.5, "text", Blob({1, 2, 3}), Blob({9}),
                              Enumerator(4, kColorType), Empty(), Empty()}));
  ASSERT_EQ(root.Size(), 10u);
  EXPECT_EQ(root.ElementAt(7).GetEnum().type, &kColorType);
}

TEST_F(ValueBuilderTargets, NestedContainersAreBuiltInPlace) {
  ASSERT_TRUE(Feed({Struct(), Key("list"), List()}));
  for (int index = 0; index < 100; ++index) {  // grows the array several times
    ASSERT_TRUE(Feed({Struct(), Key("id"), Int(index), kEndStruct})) << index;
  }
  ASSERT_TRUE(Feed({kEndList, kEndStruct}));
  EXPECT_EQ(builder.Depth(), 0u);

  const BindingProperty& list = root.Member("list");
  ASSERT_EQ(list.Size(), 100u);
  for (int index = 0; index < 100; ++index) {
    EXPECT_EQ(list.ElementAt(index).Member("id").GetSigned(), index) << index;
    EXPECT_FALSE(list.ElementAt(index).OwnsContext());
    EXPECT_EQ(list.ElementAt(index).DiagnosticContext(), root.DiagnosticContext());
  }
  EXPECT_EQ(References(root, "id"), 100u);  // one key text for all hundred members
}

TEST_F(ValueBuilderTargets, StateReportsTheInnermostContainer) {
  EXPECT_EQ(builder.Innermost(), nullptr);
  EXPECT_FALSE(builder.InCollection());
  EXPECT_FALSE(builder.InStructure());
  ASSERT_TRUE(Feed({Struct()}));
  EXPECT_TRUE(builder.InStructure());
  EXPECT_EQ(builder.Innermost(), &root);
  EXPECT_FALSE(builder.HasSelectedMember());
  ASSERT_TRUE(Feed({Key("a")}));
  EXPECT_TRUE(builder.HasSelectedMember());
  ASSERT_TRUE(Feed({List()}));
  EXPECT_FALSE(builder.HasSelectedMember());
  EXPECT_TRUE(builder.InCollection());
  EXPECT_EQ(builder.Innermost(), &root.Member("a"));
  ASSERT_TRUE(Feed({Uint(1), Uint(2)}));
  EXPECT_EQ(builder.Innermost()->Size(), 2u);
  EXPECT_EQ(builder.Depth(), 2u);
  EXPECT_EQ(&builder.Root(), &root);
}

TEST_F(ValueBuilderTargets, SelectTargetHandsOutTheNextElement) {
  ASSERT_TRUE(Feed({List(), Text("first")}));
  Status status = Status::Unbalanced;
  BindingProperty* target = builder.SelectTarget(status);
  ASSERT_EQ(status, kOk);
  ASSERT_NE(target, nullptr);
  *target = root.ElementAt(0);  // a copy of an earlier value of the same tree
  ASSERT_TRUE(Feed({Text("first"), kEndList}));
  ASSERT_EQ(root.Size(), 3u);
  EXPECT_EQ(root.ElementAt(1).GetString(), "first");
  EXPECT_EQ(References(root, "first"), 3u);
}

// --- Repeated keys, Null and Empty, Keep and Replace ---

using ValueBuilderMembers = ValueBuilderTest;

TEST_F(ValueBuilderMembers, RepeatedKeySelectsTheSameMember) {
  ASSERT_TRUE(Feed({Struct(), Key("a"), Uint(1), Key("a"), Uint(2), kEndStruct}));
  EXPECT_EQ(root.Size(), 1u);
  EXPECT_EQ(root.Member("a").GetUnsigned(), 2u);
  EXPECT_EQ(References(root, "a"), 1u);
}

TEST_F(ValueBuilderMembers, NullKeepsAReselectedMemberAndEmptyClearsIt) {
  ASSERT_TRUE(Feed({Struct(), Key("kept"), Text("value"), Key("cleared"), Text("value"),
                    Key("kept"), kNull, Key("cleared"), kEmpty, Key("fresh"), kNull, kEndStruct}));
  EXPECT_EQ(root.Member("kept").GetString(), "value");
  EXPECT_TRUE(root.Member("cleared").IsEmpty());
  EXPECT_TRUE(root.HasMember("fresh"));
  EXPECT_EQ(References(root, "value"), 1u);
}

TEST_F(ValueBuilderMembers, KeepMergesIntoAndReplaceEmptiesAReselectedContainer) {
  ASSERT_TRUE(Feed({Struct()}));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(
        Feed({Key("list"), List(BindingReuse::Keep), Int(round), kEndList, Key("replaced"),
              List(BindingReuse::Replace), Int(round), kEndList, Key("record"),
              Struct(BindingReuse::Keep), Key(round == 0 ? "x" : "y"), Int(round), kEndStruct}))
        << round;
  }
  ASSERT_TRUE(Feed({kEndStruct}));
  ASSERT_EQ(root.Member("list").Size(), 2u);
  EXPECT_EQ(root.Member("list").ElementAt(1).GetSigned(), 1);
  EXPECT_THAT(Keys(root.Member("record")), ElementsAre("x", "y"));
  ASSERT_EQ(root.Member("replaced").Size(), 1u);
  EXPECT_EQ(root.Member("replaced").ElementAt(0).GetSigned(), 1);
}

TEST_F(ValueBuilderMembers, AContainerOfAnotherKindReplacesTheOldValue) {
  ASSERT_TRUE(Feed({Struct(), Key("a"), List(), Text("gone"), kEndList, Key("a"),
                    Struct(BindingReuse::Keep), kEndStruct, kEndStruct}));
  EXPECT_EQ(root.Member("a").Kind(), Kind::Structure);
  EXPECT_EQ(root.Member("a").Size(), 0u);
  EXPECT_EQ(References(root, "gone"), 0u);
}

TEST_F(ValueBuilderMembers, MembersIterateInKeyOrderWhateverTheInsertionOrder) {
  ASSERT_TRUE(Feed({Struct()}));
  // Enough members for the structure's hash index, inserted in reverse order.
  std::vector<std::string> expected;
  for (int index = 99; index >= 0; --index) {
    const std::string key = "k" + std::to_string(1000 + index);
    ASSERT_TRUE(Feed({Key(key), Int(index)}));
    expected.insert(expected.begin(), key);
  }
  // Every key again: found through the index, not inserted twice.
  for (int index = 0; index < 100; ++index) {
    ASSERT_TRUE(Feed({Key("k" + std::to_string(1000 + index)), Int(-index)}));
  }
  ASSERT_TRUE(Feed({kEndStruct}));
  EXPECT_EQ(root.Size(), 100u);
  EXPECT_EQ(Keys(root), expected);
  EXPECT_EQ(root.Member("k1042").GetSigned(), -42);
}

// --- Texts: NUL, empty, interning through the builder's cache ---

using ValueBuilderTexts = ValueBuilderTest;

TEST_F(ValueBuilderTexts, TextsAndKeysEndAtTheirFirstNul) {
  // "ab" after the cut key selects the same member.
  ASSERT_TRUE(Feed({Struct(), Key(std::string("ab\0cd", 5)), Text(std::string("xy\0z", 4)),
                    Key("ab"), kNull, kEndStruct}));
  EXPECT_THAT(Keys(root), ElementsAre("ab"));
  EXPECT_EQ(root.Member("ab").GetString(), "xy");
  EXPECT_EQ(root.Member("ab").Size(), 2u);
}

TEST_F(ValueBuilderTexts, EmptyTextsTakeNoTableEntry) {
  // The second key is the empty key as well.
  ASSERT_TRUE(Feed({Struct(), Key(""), Text(""), Key(std::string("\0x", 2)),
                    Text(std::string("\0y", 2)), kEndStruct}));
  EXPECT_EQ(root.Size(), 1u);
  EXPECT_EQ(root.Member("").Kind(), Kind::String);
  EXPECT_EQ(root.Member("").Size(), 0u);
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 0u);
}

TEST_F(ValueBuilderTexts, RecurringTextsAreInternedOnceAndCounted) {
  ASSERT_TRUE(Feed({List()}));
  for (int index = 0; index < 50; ++index) {
    // "country" is a value that is also a key.
    ASSERT_TRUE(
        Feed({Struct(), Key("country"), Text("country"), Key("city"),
              Text(index % 2 == 0 ? "Berlin" : "a city with a rather long name"), kEndStruct}));
  }
  ASSERT_TRUE(Feed({kEndList}));
  EXPECT_EQ(References(root, "country"), 100u);
  EXPECT_EQ(References(root, "city"), 50u);
  EXPECT_EQ(References(root, "Berlin"), 25u);
  EXPECT_EQ(References(root, "a city with a rather long name"), 25u);
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 4u);
}

// The cache finds texts by their length and their first and last eight bytes; texts that
// agree there but differ in between must stay distinct.
TEST_F(ValueBuilderTexts, TextsThatDifferOnlyInTheMiddleStayDistinct) {
  const std::vector<std::string> texts = {"aaaaaaaaXbbbbbbbb",
                                          "aaaaaaaaYbbbbbbbb",
                                          "aaaaaaaa0123456789bbbbbbbb",
                                          "aaaaaaaa0123456788bbbbbbbb",
                                          "abcde",
                                          "abXde",
                                          "a1b",
                                          "a2b"};
  ASSERT_TRUE(Feed({Struct()}));
  for (int round = 0; round < 2; ++round) {
    for (const std::string& text : texts) {
      ASSERT_TRUE(Feed({Key(text), Text(text)}));
    }
  }
  ASSERT_TRUE(Feed({kEndStruct}));
  ASSERT_EQ(root.Size(), texts.size());
  for (const std::string& text : texts) {
    EXPECT_EQ(root.Member(text).GetString(), text);
    EXPECT_EQ(References(root, text), 2u) << text;  // the key and the value
  }
}

// A text can be released while the builder runs (a repeated key overwrites the only value
// holding it, or a structure holding the only key is overwritten); the builder must not hand
// out the freed entry the next time the text comes. The sanitizer build turns a mistake here
// into a use-after-free report.
TEST_F(ValueBuilderTexts, ATextReleasedByAnOverwriteIsInternedAfresh) {
  const std::string text = "only held once, then overwritten";
  ASSERT_TRUE(Feed({Struct(), Key("a"), Text(text), Key("a"), Uint(1)}));
  EXPECT_EQ(References(root, text), 0u);
  ASSERT_TRUE(Feed({Key("b"), Text(text), kEndStruct}));
  EXPECT_EQ(root.Member("b").GetString(), text);
  EXPECT_EQ(References(root, text), 1u);
}

TEST_F(ValueBuilderTexts, AKeyReleasedWithItsStructureIsInternedAfresh) {
  // Overwriting "outer" frees the inner structure and its key.
  ASSERT_TRUE(Feed({Struct(), Key("outer"), Struct(), Key("inner key"), kNull, kEndStruct,
                    Key("outer"), Int(1)}));
  EXPECT_EQ(References(root, "inner key"), 0u);
  ASSERT_TRUE(Feed({Key("inner key"), Int(2), kEndStruct}));
  EXPECT_EQ(root.Member("inner key").GetSigned(), 2);
  EXPECT_EQ(References(root, "inner key"), 1u);
}

TEST_F(ValueBuilderTexts, ASecondRootValueReplacesTheFirstTree) {
  // The whole context is dropped before the second value.
  ASSERT_TRUE(Feed({Struct(), Key("key"), Text("text"), kEndStruct, Text("text")}));
  EXPECT_EQ(root.GetString(), "text");
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 1u);
  EXPECT_EQ(References(root, "key"), 0u);
}

// --- Limits and misuse: statuses, never exceptions, and nothing changed ---

using ValueBuilderLimits = ValueBuilderTest;

TEST(ValueBuilderLimitsDepth, NestingDeeperThanTheLimitIsRefused) {
  for (const bool collection : {true, false}) {
    SCOPED_TRACE(collection ? "collections" : "structures");
    BindingProperty root;
    BindingValueBuilder builder(root);
    for (std::size_t level = 0; level < kMaxBindingDepth; ++level) {
      ASSERT_EQ(collection ? builder.BeginCollection() : builder.BeginStructure(), kOk) << level;
      if (!collection) {
        ASSERT_EQ(builder.MemberKey("a"), kOk);
      }
    }
    EXPECT_EQ(builder.Depth(), kMaxBindingDepth);
    EXPECT_EQ(builder.BeginCollection(), Status::TooDeep);
    EXPECT_EQ(builder.BeginStructure(), Status::TooDeep);
    EXPECT_EQ(builder.Depth(), kMaxBindingDepth);
    // The refused container appended nothing; a scalar still fits at this depth.
    ASSERT_EQ(builder.String("leaf"), kOk);
    EXPECT_EQ(builder.Innermost()->Size(), 1u);
    for (std::size_t level = 0; level < kMaxBindingDepth; ++level) {
      ASSERT_EQ(collection ? builder.EndCollection() : builder.EndStructure(), kOk);
    }
    const BindingProperty* value = &root;
    for (std::size_t level = 0; level < kMaxBindingDepth; ++level) {
      value = collection ? &value->ElementAt(0) : &value->Member("a");
    }
    EXPECT_EQ(value->GetString(), "leaf");
  }
}

TEST_F(ValueBuilderLimits, EventsOutOfPlaceAreUnbalanced) {
  EXPECT_EQ(builder.EndCollection(), Status::Unbalanced);
  EXPECT_EQ(builder.EndStructure(), Status::Unbalanced);
  EXPECT_EQ(builder.MemberKey("a"), Status::Unbalanced);
  EXPECT_EQ(builder.ReserveElements(4), Status::Unbalanced);

  ASSERT_TRUE(Feed({List()}));
  EXPECT_EQ(builder.MemberKey("a"), Status::Unbalanced);
  EXPECT_EQ(builder.EndStructure(), Status::Unbalanced);
  EXPECT_EQ(root.Size(), 0u);
  ASSERT_TRUE(Feed({Struct()}));
  EXPECT_EQ(builder.EndCollection(), Status::Unbalanced);
  EXPECT_EQ(builder.ReserveElements(4), Status::Unbalanced);
  // A value inside a structure needs a key first.
  EXPECT_EQ(builder.Signed(1), Status::Unbalanced);
  EXPECT_EQ(builder.BeginCollection(), Status::Unbalanced);
  Status status = kOk;
  EXPECT_EQ(builder.SelectTarget(status), nullptr);
  EXPECT_EQ(status, Status::Unbalanced);
  EXPECT_EQ(root.ElementAt(0).Size(), 0u);
  EXPECT_EQ(builder.Depth(), 2u);
}

TEST_F(ValueBuilderLimits, AKeyWithoutAValueLeavesItsMemberEmpty) {
  // The last value goes to the root again, not into the dangling member.
  ASSERT_TRUE(Feed({Struct(), Key("dangling"), kEndStruct, Int(1)}));
  EXPECT_EQ(root.GetSigned(), 1);
}

TEST_F(ValueBuilderLimits, ReservingBeyondTheElementLimitIsRefused) {
  ASSERT_TRUE(Feed({List()}));
  EXPECT_EQ(builder.ReserveElements(Vexa::kMaxBindingElements + 1), Status::TooManyElements);
  ASSERT_EQ(builder.ReserveElements(64), kOk);
  for (int index = 0; index < 64; ++index) {
    ASSERT_TRUE(Feed({Int(index)}));
  }
  ASSERT_TRUE(Feed({kEndList}));
  EXPECT_EQ(root.Size(), 64u);
  EXPECT_EQ(root.ElementAt(63).GetSigned(), 63);
}

TEST(ValueBuilderStatus, NamesAreDistinct) {
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::Ok), "ok");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::TooDeep), "nesting too deep");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::TooManyElements), "too many elements");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::Unbalanced), "unbalanced event");
}

}  // namespace
