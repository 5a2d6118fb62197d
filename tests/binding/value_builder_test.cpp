#include "binding/value_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/value_context.h"

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

// --- Targets: where each value event lands ---

TEST(ValueBuilderTargets, ScalarAtTheRootFillsTheRoot) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.Signed(-7), kOk);
  EXPECT_EQ(root.Kind(), Kind::Signed);
  EXPECT_EQ(root.GetSigned(), -7);
}

TEST(ValueBuilderTargets, EachScalarKindLandsAsItsKind) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  const uint8_t bytes[] = {1, 2, 3};
  ASSERT_EQ(builder.Bool(true), kOk);
  ASSERT_EQ(builder.Signed(INT64_MIN), kOk);
  ASSERT_EQ(builder.Unsigned(UINT64_MAX), kOk);
  ASSERT_EQ(builder.Float(2.5), kOk);
  ASSERT_EQ(builder.String("text"), kOk);
  ASSERT_EQ(builder.Blob(bytes, sizeof bytes), kOk);
  ASSERT_EQ(builder.Blob(BindingBlob{9}), kOk);
  ASSERT_EQ(builder.Enum(4, kColorType), kOk);
  ASSERT_EQ(builder.Null(), kOk);
  ASSERT_EQ(builder.Empty(), kOk);
  ASSERT_EQ(builder.EndCollection(), kOk);

  ASSERT_EQ(root.Size(), 10u);
  EXPECT_TRUE(root.ElementAt(0).GetBool());
  EXPECT_EQ(root.ElementAt(1).GetSigned(), INT64_MIN);
  EXPECT_EQ(root.ElementAt(2).GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(root.ElementAt(3).GetFloat(), 2.5);
  EXPECT_EQ(root.ElementAt(4).GetString(), "text");
  EXPECT_EQ(root.ElementAt(5).GetBlob(), (BindingBlob{1, 2, 3}));
  EXPECT_EQ(root.ElementAt(6).GetBlob(), (BindingBlob{9}));
  EXPECT_EQ(root.ElementAt(7).GetEnum().value, 4);
  EXPECT_EQ(root.ElementAt(7).GetEnum().type, &kColorType);
  EXPECT_TRUE(root.ElementAt(8).IsEmpty());
  EXPECT_TRUE(root.ElementAt(9).IsEmpty());
}

TEST(ValueBuilderTargets, NestedContainersAreBuiltInPlace) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("list"), kOk);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  for (int index = 0; index < 100; ++index) {  // grows the array several times
    ASSERT_EQ(builder.BeginStructure(), kOk);
    ASSERT_EQ(builder.MemberKey("id"), kOk);
    ASSERT_EQ(builder.Signed(index), kOk);
    ASSERT_EQ(builder.EndStructure(), kOk);
  }
  ASSERT_EQ(builder.EndCollection(), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(builder.Depth(), 0u);

  const BindingProperty& list = root.Member("list");
  ASSERT_EQ(list.Size(), 100u);
  for (int index = 0; index < 100; ++index) {
    EXPECT_EQ(list.ElementAt(index).Member("id").GetSigned(), index) << index;
    EXPECT_FALSE(list.ElementAt(index).OwnsContext());
    EXPECT_EQ(list.ElementAt(index).DiagnosticContext(), root.DiagnosticContext());
  }
  // One key text for all hundred members.
  EXPECT_EQ(References(root, "id"), 100u);
}

TEST(ValueBuilderTargets, StateReportsTheInnermostContainer) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  EXPECT_EQ(builder.Innermost(), nullptr);
  EXPECT_FALSE(builder.InCollection());
  EXPECT_FALSE(builder.InStructure());
  ASSERT_EQ(builder.BeginStructure(), kOk);
  EXPECT_TRUE(builder.InStructure());
  EXPECT_EQ(builder.Innermost(), &root);
  EXPECT_FALSE(builder.HasSelectedMember());
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  EXPECT_TRUE(builder.HasSelectedMember());
  ASSERT_EQ(builder.BeginCollection(), kOk);
  EXPECT_FALSE(builder.HasSelectedMember());
  EXPECT_TRUE(builder.InCollection());
  EXPECT_EQ(builder.Innermost(), &root.Member("a"));
  ASSERT_EQ(builder.Unsigned(1), kOk);
  ASSERT_EQ(builder.Unsigned(2), kOk);
  EXPECT_EQ(builder.Innermost()->Size(), 2u);
  EXPECT_EQ(builder.Depth(), 2u);
  EXPECT_EQ(&builder.Root(), &root);
}

TEST(ValueBuilderTargets, SelectTargetHandsOutTheNextElement) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  ASSERT_EQ(builder.String("first"), kOk);
  Status status = Status::Unbalanced;
  BindingProperty* target = builder.SelectTarget(status);
  ASSERT_EQ(status, kOk);
  ASSERT_NE(target, nullptr);
  *target = root.ElementAt(0);  // a copy of an earlier value of the same tree
  ASSERT_EQ(builder.String("first"), kOk);
  ASSERT_EQ(builder.EndCollection(), kOk);
  ASSERT_EQ(root.Size(), 3u);
  EXPECT_EQ(root.ElementAt(1).GetString(), "first");
  EXPECT_EQ(References(root, "first"), 3u);
}

// --- Repeated keys, Null and Empty, Keep and Replace ---

TEST(ValueBuilderMembers, RepeatedKeySelectsTheSameMember) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.Unsigned(1), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.Unsigned(2), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Size(), 1u);
  EXPECT_EQ(root.Member("a").GetUnsigned(), 2u);
  EXPECT_EQ(References(root, "a"), 1u);
}

TEST(ValueBuilderMembers, NullKeepsAReselectedMemberAndEmptyClearsIt) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  for (const char* key : {"kept", "cleared"}) {
    ASSERT_EQ(builder.MemberKey(key), kOk);
    ASSERT_EQ(builder.String("value"), kOk);
  }
  ASSERT_EQ(builder.MemberKey("kept"), kOk);
  ASSERT_EQ(builder.Null(), kOk);
  ASSERT_EQ(builder.MemberKey("cleared"), kOk);
  ASSERT_EQ(builder.Empty(), kOk);
  ASSERT_EQ(builder.MemberKey("fresh"), kOk);
  ASSERT_EQ(builder.Null(), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Member("kept").GetString(), "value");
  EXPECT_TRUE(root.Member("cleared").IsEmpty());
  EXPECT_TRUE(root.HasMember("fresh"));
  EXPECT_EQ(References(root, "value"), 1u);
}

TEST(ValueBuilderMembers, KeepMergesIntoAReselectedContainer) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(builder.MemberKey("list"), kOk);
    ASSERT_EQ(builder.BeginCollection(BindingReuse::Keep), kOk);
    ASSERT_EQ(builder.Signed(round), kOk);
    ASSERT_EQ(builder.EndCollection(), kOk);
    ASSERT_EQ(builder.MemberKey("record"), kOk);
    ASSERT_EQ(builder.BeginStructure(BindingReuse::Keep), kOk);
    ASSERT_EQ(builder.MemberKey(round == 0 ? "x" : "y"), kOk);
    ASSERT_EQ(builder.Signed(round), kOk);
    ASSERT_EQ(builder.EndStructure(), kOk);
  }
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(root.Member("list").Size(), 2u);
  EXPECT_EQ(root.Member("list").ElementAt(1).GetSigned(), 1);
  EXPECT_THAT(Keys(root.Member("record")), ElementsAre("x", "y"));
}

TEST(ValueBuilderMembers, ReplaceEmptiesAReselectedContainer) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(builder.MemberKey("list"), kOk);
    ASSERT_EQ(builder.BeginCollection(BindingReuse::Replace), kOk);
    ASSERT_EQ(builder.Signed(round), kOk);
    ASSERT_EQ(builder.EndCollection(), kOk);
  }
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(root.Member("list").Size(), 1u);
  EXPECT_EQ(root.Member("list").ElementAt(0).GetSigned(), 1);
}

TEST(ValueBuilderMembers, AContainerOfAnotherKindReplacesTheOldValue) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  ASSERT_EQ(builder.String("gone"), kOk);
  ASSERT_EQ(builder.EndCollection(), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.BeginStructure(BindingReuse::Keep), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Member("a").Kind(), Kind::Structure);
  EXPECT_EQ(root.Member("a").Size(), 0u);
  EXPECT_EQ(References(root, "gone"), 0u);
}

TEST(ValueBuilderMembers, MembersIterateInKeyOrderWhateverTheInsertionOrder) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  // Enough members for the structure's hash index, inserted in reverse order.
  std::vector<std::string> expected;
  for (int index = 99; index >= 0; --index) {
    const std::string key = "k" + std::to_string(1000 + index);
    ASSERT_EQ(builder.MemberKey(key), kOk);
    ASSERT_EQ(builder.Signed(index), kOk);
    expected.insert(expected.begin(), key);
  }
  // Every key again: found through the index, not inserted twice.
  for (int index = 0; index < 100; ++index) {
    ASSERT_EQ(builder.MemberKey("k" + std::to_string(1000 + index)), kOk);
    ASSERT_EQ(builder.Signed(-index), kOk);
  }
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Size(), 100u);
  EXPECT_EQ(Keys(root), expected);
  EXPECT_EQ(root.Member("k1042").GetSigned(), -42);
}

// --- Texts: NUL, empty, interning through the builder's cache ---

TEST(ValueBuilderTexts, TextsAndKeysEndAtTheirFirstNul) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey(std::string_view("ab\0cd", 5)), kOk);
  ASSERT_EQ(builder.String(std::string_view("xy\0z", 4)), kOk);
  ASSERT_EQ(builder.MemberKey("ab"), kOk);  // the same member as the cut key
  ASSERT_EQ(builder.Null(), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_THAT(Keys(root), ElementsAre("ab"));
  EXPECT_EQ(root.Member("ab").GetString(), "xy");
  EXPECT_EQ(root.Member("ab").Size(), 2u);
}

TEST(ValueBuilderTexts, EmptyTextsTakeNoTableEntry) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey(""), kOk);
  ASSERT_EQ(builder.String(""), kOk);
  ASSERT_EQ(builder.MemberKey(std::string_view("\0x", 2)), kOk);  // also the empty key
  ASSERT_EQ(builder.String(std::string_view("\0y", 2)), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Size(), 1u);
  EXPECT_EQ(root.Member("").Kind(), Kind::String);
  EXPECT_EQ(root.Member("").Size(), 0u);
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 0u);
}

TEST(ValueBuilderTexts, RecurringTextsAreInternedOnceAndCounted) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  for (int index = 0; index < 50; ++index) {
    ASSERT_EQ(builder.BeginStructure(), kOk);
    ASSERT_EQ(builder.MemberKey("country"), kOk);
    ASSERT_EQ(builder.String("country"), kOk);  // a value that is also a key
    ASSERT_EQ(builder.MemberKey("city"), kOk);
    ASSERT_EQ(builder.String(index % 2 == 0 ? "Berlin" : "a city with a rather long name"), kOk);
    ASSERT_EQ(builder.EndStructure(), kOk);
  }
  ASSERT_EQ(builder.EndCollection(), kOk);
  EXPECT_EQ(References(root, "country"), 100u);
  EXPECT_EQ(References(root, "city"), 50u);
  EXPECT_EQ(References(root, "Berlin"), 25u);
  EXPECT_EQ(References(root, "a city with a rather long name"), 25u);
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 4u);
}

// The cache finds texts by their length and their first and last eight bytes; texts that
// agree there but differ in between must stay distinct.
TEST(ValueBuilderTexts, TextsThatDifferOnlyInTheMiddleStayDistinct) {
  const std::vector<std::string> texts = {
      std::string("aaaaaaaa") + "X" + "bbbbbbbb",
      std::string("aaaaaaaa") + "Y" + "bbbbbbbb",
      "aaaaaaaa0123456789bbbbbbbb",
      "aaaaaaaa0123456788bbbbbbbb",
      "abcde",
      "abXde",
      "a1b",
      "a2b",
  };
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  for (int round = 0; round < 2; ++round) {
    for (const std::string& text : texts) {
      ASSERT_EQ(builder.MemberKey(text), kOk);
      ASSERT_EQ(builder.String(text), kOk);
    }
  }
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(root.Size(), texts.size());
  for (const std::string& text : texts) {
    EXPECT_EQ(root.Member(text).GetString(), text);
    EXPECT_EQ(References(root, text), 2u) << text;  // the key and the value
  }
}

// A text can be released while the builder runs (a repeated key overwrites the only value
// holding it); the builder must not hand out the freed entry the next time the text comes.
// The sanitizer build turns a mistake here into a use-after-free report.
TEST(ValueBuilderTexts, ATextReleasedByAnOverwriteIsInternedAfresh) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.String("only held once, then overwritten"), kOk);
  ASSERT_EQ(builder.MemberKey("a"), kOk);
  ASSERT_EQ(builder.Bool(true), kOk);
  EXPECT_EQ(References(root, "only held once, then overwritten"), 0u);
  ASSERT_EQ(builder.MemberKey("b"), kOk);
  ASSERT_EQ(builder.String("only held once, then overwritten"), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Member("b").GetString(), "only held once, then overwritten");
  EXPECT_EQ(References(root, "only held once, then overwritten"), 1u);
}

TEST(ValueBuilderTexts, AKeyReleasedWithItsStructureIsInternedAfresh) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("outer"), kOk);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("inner key"), kOk);
  ASSERT_EQ(builder.Null(), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("outer"), kOk);
  ASSERT_EQ(builder.Signed(1), kOk);  // frees the inner structure and its key
  EXPECT_EQ(References(root, "inner key"), 0u);
  ASSERT_EQ(builder.MemberKey("inner key"), kOk);
  ASSERT_EQ(builder.Signed(2), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_EQ(root.Member("inner key").GetSigned(), 2);
  EXPECT_EQ(References(root, "inner key"), 1u);
}

TEST(ValueBuilderTexts, ASecondRootValueReplacesTheFirstTree) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("key"), kOk);
  ASSERT_EQ(builder.String("text"), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  ASSERT_EQ(builder.String("text"), kOk);  // the whole context is dropped first
  EXPECT_EQ(root.GetString(), "text");
  EXPECT_EQ(root.DiagnosticContext()->InternedCount(), 1u);
  EXPECT_EQ(References(root, "key"), 0u);
}

// --- Limits and misuse: statuses, never exceptions, and nothing changed ---

TEST(ValueBuilderLimits, NestingDeeperThanTheLimitIsRefused) {
  for (const bool collection : {true, false}) {
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
    const BindingProperty* innermost = builder.Innermost();
    EXPECT_EQ(innermost->Size(), 1u);
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

TEST(ValueBuilderLimits, EventsOutOfPlaceAreUnbalanced) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  EXPECT_EQ(builder.EndCollection(), Status::Unbalanced);
  EXPECT_EQ(builder.EndStructure(), Status::Unbalanced);
  EXPECT_EQ(builder.MemberKey("a"), Status::Unbalanced);
  EXPECT_EQ(builder.ReserveElements(4), Status::Unbalanced);

  ASSERT_EQ(builder.BeginCollection(), kOk);
  EXPECT_EQ(builder.MemberKey("a"), Status::Unbalanced);
  EXPECT_EQ(builder.EndStructure(), Status::Unbalanced);
  EXPECT_EQ(root.Size(), 0u);
  ASSERT_EQ(builder.BeginStructure(), kOk);
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

TEST(ValueBuilderLimits, AKeyWithoutAValueLeavesItsMemberEmpty) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginStructure(), kOk);
  ASSERT_EQ(builder.MemberKey("dangling"), kOk);
  ASSERT_EQ(builder.EndStructure(), kOk);
  EXPECT_TRUE(builder.Signed(1) == kOk);  // at the root again, not into the dangling member
  EXPECT_EQ(root.GetSigned(), 1);
}

TEST(ValueBuilderLimits, ReservingBeyondTheElementLimitIsRefused) {
  BindingProperty root;
  BindingValueBuilder builder(root);
  ASSERT_EQ(builder.BeginCollection(), kOk);
  EXPECT_EQ(builder.ReserveElements(Vexa::kMaxBindingElements + 1), Status::TooManyElements);
  ASSERT_EQ(builder.ReserveElements(64), kOk);
  for (int index = 0; index < 64; ++index) {
    ASSERT_EQ(builder.Signed(index), kOk);
  }
  ASSERT_EQ(builder.EndCollection(), kOk);
  EXPECT_EQ(root.Size(), 64u);
  EXPECT_EQ(root.ElementAt(63).GetSigned(), 63);
}

TEST(ValueBuilderLimits, StatusNamesAreDistinct) {
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::Ok), "ok");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::TooDeep), "nesting too deep");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::TooManyElements), "too many elements");
  EXPECT_STREQ(Vexa::BindingBuildStatusName(Status::Unbalanced), "unbalanced event");
}

}  // namespace
