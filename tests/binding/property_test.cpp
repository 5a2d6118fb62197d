#include "binding/property.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/value_context.h"

namespace {

using ::testing::ElementsAre;
using Vexa::BindingBlob;
using Vexa::BindingEnumerator;
using Vexa::BindingProperty;
using Vexa::BindingPropertyKind;
using Vexa::BindingResult;
using Vexa::BindingValueContext;
using Kind = BindingPropertyKind;

// An enumerator record only keeps the address of its type's record, so two distinct objects
// stand in for two enum types here.
const int kColorTag = 1;
const int kShapeTag = 2;
const Vexa::StaticTypeInfo& kColorType = *reinterpret_cast<const Vexa::StaticTypeInfo*>(&kColorTag);
const Vexa::StaticTypeInfo& kShapeType = *reinterpret_cast<const Vexa::StaticTypeInfo*>(&kShapeTag);

std::vector<std::string> Keys(const BindingProperty& value) {
  std::vector<std::string> keys;
  for (const auto& [key, member] : value.Members()) {
    keys.emplace_back(key);
  }
  return keys;
}

std::size_t Interned(const BindingProperty& value) {
  const BindingValueContext* context = value.DiagnosticContext();
  return context != nullptr ? context->InternedCount() : 0;
}

uint32_t References(const BindingProperty& value, std::string_view text) {
  const BindingValueContext* context = value.DiagnosticContext();
  return context != nullptr ? context->ReferenceCount(text) : 0;
}

// One value of every kind, for table-driven checks.
std::vector<BindingProperty> OneOfEachKind() {
  std::vector<BindingProperty> values(10);
  values[1] = true;
  values[2] = -5;
  values[3] = 5u;
  values[4] = 2.5;
  values[5] = "text";
  values[6].SetBlob(BindingBlob{1, 2, 3});
  values[7].SetEnum(7, kColorType);
  values[8].ElementAt(1) = 1;
  values[9].Member("a") = 1;
  return values;
}

// --- Kinds, setters and getters ---

TEST(BindingPropertyKinds, NamesEveryKindAndNothingElse) {
  const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                            "string", "blob", "enum",   "collection", "structure"};
  for (int kind = 0; kind < 10; ++kind) {
    EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(kind)), expected[kind]);
  }
  EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(10)), "");
  EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(255)), "");
}

TEST(BindingPropertyKinds, DefaultValueIsEmptyStandaloneAndAllocatesNothing) {
  const BindingProperty value;
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_EQ(value.Kind(), Kind::Empty);
  EXPECT_TRUE(value.OwnsContext());
  EXPECT_EQ(value.DiagnosticContext(), nullptr);
  EXPECT_EQ(value.Size(), 0u);
}

TEST(BindingPropertyKinds, ScalarsNeedNoContext) {
  for (BindingProperty value :
       {BindingProperty(true), BindingProperty(-1), BindingProperty(1u), BindingProperty(0.5)}) {
    EXPECT_EQ(value.DiagnosticContext(), nullptr) << Vexa::BindingPropertyKindName(value.Kind());
  }
}

TEST(BindingPropertyKinds, IntegersKeepTheirSignednessAndWidth) {
  EXPECT_EQ(BindingProperty(int32_t{-1}).GetSigned(), -1);
  EXPECT_EQ(BindingProperty(int32_t{-1}).Kind(), Kind::Signed);
  EXPECT_EQ(BindingProperty(uint32_t{0xFFFFFFFF}).GetUnsigned(), 0xFFFFFFFFu);
  EXPECT_EQ(BindingProperty(uint32_t{0xFFFFFFFF}).Kind(), Kind::Unsigned);
  EXPECT_EQ(BindingProperty(std::numeric_limits<int64_t>::min()).GetSigned(),
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(BindingProperty(std::numeric_limits<uint64_t>::max()).GetUnsigned(),
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(BindingProperty(short{-3}).GetSigned(), -3);
  EXPECT_EQ(BindingProperty(std::size_t{7}).Kind(), Kind::Unsigned);
  EXPECT_EQ(BindingProperty(1.5f).GetFloat(), 1.5);  // widened
  EXPECT_EQ(BindingProperty(false).Kind(), Kind::Bool);
}

TEST(BindingPropertyGetters, AnswerOnlyTheirOwnKindAndTheDefaultOtherwise) {
  const std::vector<BindingProperty> values = OneOfEachKind();
  const BindingBlob fallbackBlob{9};
  const BindingEnumerator fallbackEnum{42, &kShapeType};
  for (const BindingProperty& value : values) {
    SCOPED_TRACE(Vexa::BindingPropertyKindName(value.Kind()));
    const Kind kind = value.Kind();
    EXPECT_EQ(value.GetBool(false), kind == Kind::Bool);
    EXPECT_EQ(value.GetSigned(99), kind == Kind::Signed ? -5 : 99);
    EXPECT_EQ(value.GetUnsigned(99), kind == Kind::Unsigned ? 5u : 99u);
    EXPECT_EQ(value.GetFloat(9.5), kind == Kind::Float ? 2.5 : 9.5);
    EXPECT_EQ(value.GetString("fallback"), kind == Kind::String ? "text" : "fallback");
    EXPECT_EQ(&value.GetBlob(fallbackBlob) == &fallbackBlob, kind != Kind::Blob);
    EXPECT_EQ(&value.GetEnum(fallbackEnum) == &fallbackEnum, kind != Kind::Enum);
  }
  EXPECT_EQ(values[6].GetBlob(), (BindingBlob{1, 2, 3}));
  EXPECT_EQ(values[7].GetEnum().value, 7);
  EXPECT_EQ(values[7].GetEnum().type, &kColorType);
}

TEST(BindingPropertyGetters, NoConversionBetweenKinds) {
  EXPECT_EQ(BindingProperty(5).GetUnsigned(77), 77u);  // a signed value read as unsigned
  EXPECT_EQ(BindingProperty(5u).GetSigned(-1), -1);
  EXPECT_EQ(BindingProperty(1).GetBool(false), false);
  EXPECT_EQ(BindingProperty(1).GetFloat(0.25), 0.25);
  EXPECT_EQ(BindingProperty("5").GetSigned(3), 3);
}

TEST(BindingPropertyGetters, SharedDefaultsForBlobAndEnum) {
  const BindingProperty value(3);
  EXPECT_TRUE(value.GetBlob().empty());
  EXPECT_EQ(&value.GetBlob(), &BindingProperty().GetBlob());
  EXPECT_EQ(value.GetEnum().value, 0);
  EXPECT_EQ(value.GetEnum().type, nullptr);
  EXPECT_EQ(&value.GetEnum(), &BindingProperty().GetEnum());
  // The string default is a C string, not a null view.
  ASSERT_NE(value.GetString().data(), nullptr);
  EXPECT_EQ(value.GetString().data()[0], '\0');
}

TEST(BindingPropertySize, CountsPerKind) {
  const std::vector<BindingProperty> values = OneOfEachKind();
  const std::size_t expected[] = {0, 1, 1, 1, 1, 4, 3, 1, 2, 1};
  for (std::size_t index = 0; index < values.size(); ++index) {
    EXPECT_EQ(values[index].Size(), expected[index])
        << Vexa::BindingPropertyKindName(values[index].Kind());
  }
}

TEST(BindingPropertyStrings, TextStopsAtTheFirstNul) {
  const BindingProperty value(std::string_view("ab\0cd", 5));
  EXPECT_EQ(value.GetString(), "ab");
  EXPECT_EQ(value.Size(), 2u);
  EXPECT_EQ(value.GetString().data()[2], '\0');
}

TEST(BindingPropertyStrings, EmptyTextTakesNoTableEntry) {
  BindingProperty value;
  value.Member("a") = "x";
  BindingProperty& empty = value.Member("b");
  empty = "";
  EXPECT_EQ(empty.Kind(), Kind::String);
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_EQ(Interned(value), 3u);  // keys a and b, text x: nothing for ""
  BindingProperty standalone(static_cast<const char*>(nullptr));
  EXPECT_EQ(standalone.Kind(), Kind::String);
  EXPECT_EQ(standalone.Size(), 0u);
  EXPECT_EQ(Interned(standalone), 0u);
}

TEST(BindingPropertyStrings, BlobsCopyOrTakeTheirBytes) {
  BindingBlob bytes{1, 2, 3, 4};
  const uint8_t* storage = bytes.data();
  BindingProperty value;
  value.SetBlob(std::move(bytes));
  EXPECT_EQ(value.GetBlob().data(), storage);  // taken over, not copied
  value.SetBlob(storage, 0);
  EXPECT_EQ(value.Kind(), Kind::Blob);
  EXPECT_EQ(value.Size(), 0u);
}

// --- Containers ---

TEST(BindingPropertyContainers, ElementPastTheEndAppendsEmptyElements) {
  BindingProperty value;
  value.ElementAt(5);
  EXPECT_EQ(value.Kind(), Kind::Collection);
  ASSERT_EQ(value.Size(), 6u);
  for (const BindingProperty& element : value.Elements()) {
    EXPECT_TRUE(element.IsEmpty());
    EXPECT_FALSE(element.OwnsContext());
    EXPECT_EQ(element.DiagnosticContext(), value.DiagnosticContext());
  }
}

TEST(BindingPropertyContainers, MutableAccessDiscardsAnotherKind) {
  BindingProperty value(12);
  value.Member("x");
  EXPECT_EQ(value.Kind(), Kind::Structure);
  EXPECT_EQ(Keys(value), std::vector<std::string>{"x"});
  EXPECT_TRUE(value.Member("x").IsEmpty());

  value.ElementAt(0) = "first";
  EXPECT_EQ(value.Kind(), Kind::Collection);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_EQ(References(value, "x"), 0u);  // the old member key is gone
}

TEST(BindingPropertyContainers, MakeKeepsAContainerOfTheSameKind) {
  BindingProperty value;
  value.Append() = 1;
  value.MakeCollection();
  EXPECT_EQ(value.Size(), 1u);
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 0u);
  value.Member("k") = 1;
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 1u);
}

TEST(BindingPropertyContainers, ReadOnlyAccessNeverChangesAnythingAndSharesTheEmptyValue) {
  BindingProperty value;
  value.ElementAt(0) = 1;
  const BindingProperty& view = value;
  const BindingProperty& missing = view.ElementAt(1);
  EXPECT_TRUE(missing.IsEmpty());
  EXPECT_EQ(&missing, &view.Member("nothing"));
  const BindingProperty scalar(3);
  EXPECT_EQ(&missing, &scalar.ElementAt(0));
  EXPECT_EQ(view.Size(), 1u);
  EXPECT_FALSE(view.HasMember("a"));
}

TEST(BindingPropertyContainers, MembersIterateInUnsignedByteOrderWithPrefixesFirst) {
  BindingProperty value;
  for (const char* key : {"b", "a", "c", "ab", "\x80", "Z", "abc", "a\x7f", "a\xff", ""}) {
    value.Member(key) = key;
  }
  EXPECT_THAT(Keys(value),
              ElementsAre("", "Z", "a", "ab", "abc", "a\x7f", "a\xff", "b", "c", "\x80"));
}

TEST(BindingPropertyContainers, CreationOrderBACIteratesABC) {
  BindingProperty value;
  value.Member("b") = 2;
  value.Member("a") = 1;
  value.Member("c") = 3;
  std::vector<int64_t> numbers;
  for (const auto& [key, member] : value.Members()) {
    numbers.push_back(member.GetSigned());
  }
  EXPECT_THAT(Keys(value), ElementsAre("a", "b", "c"));
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3));
}

TEST(BindingPropertyContainers, KeysAreUniqueAndCutAtTheirFirstNul) {
  BindingProperty value;
  BindingProperty& first = value.Member("key");
  first = 1;
  EXPECT_EQ(&value.Member(std::string_view("key\0tail", 8)), &first);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_TRUE(value.HasMember(std::string_view("key\0other", 9)));
  EXPECT_EQ(References(value, "key"), 1u);
}

TEST(BindingPropertyContainers, MemberReferencesSurviveSiblingInsertionAndRemoval) {
  BindingProperty value;
  BindingProperty& kept = value.Member("m");
  kept = "kept";
  for (int index = 0; index < 500; ++index) {
    value.Member("k" + std::to_string(index)) = index;
  }
  for (int index = 0; index < 500; index += 2) {
    EXPECT_TRUE(value.RemoveMember("k" + std::to_string(index)));
  }
  EXPECT_FALSE(value.RemoveMember("k0"));
  EXPECT_EQ(kept.GetString(), "kept");
  EXPECT_EQ(&value.Member("m"), &kept);
  EXPECT_EQ(value.Size(), 251u);
}

TEST(BindingPropertyContainers, ReserveOnlyForCollectionsWithinTheLimit) {
  BindingProperty value(1);
  EXPECT_FALSE(value.Reserve(4));
  EXPECT_EQ(value.Kind(), Kind::Signed);
  value.MakeCollection();
  EXPECT_FALSE(value.Reserve(Vexa::kMaxBindingElements + 1));
  EXPECT_FALSE(value.Reserve(std::numeric_limits<std::size_t>::max()));
  EXPECT_TRUE(value.Reserve(100));
  EXPECT_EQ(value.Size(), 0u);
  const BindingProperty* storage = &value.Append();
  for (int index = 1; index < 100; ++index) {
    value.Append();
  }
  EXPECT_EQ(&value.ElementAt(0), storage);  // reserved: no relocation
}

TEST(BindingPropertyContainers, ElementIndexBeyondTheLimitIsALengthErrorAndChangesNothing) {
  BindingProperty value("kept");
  EXPECT_THROW(value.ElementAt(Vexa::kMaxBindingElements), std::length_error);
  EXPECT_THROW(value.ElementAt(std::numeric_limits<std::size_t>::max()), std::length_error);
  EXPECT_EQ(value.GetString(), "kept");
  // The last index below the limit would be valid; not tried, it is gigabytes.
}

TEST(BindingPropertyContainers, GrowthRelocatesElementsWithoutCopying) {
  BindingProperty value;
  value.ElementAt(0) = "shared";
  value.ElementAt(1).Member("key") = "shared";
  const uint32_t before = References(value, "shared");
  for (int index = 2; index < 1000; ++index) {
    value.Append() = index;
  }
  EXPECT_EQ(References(value, "shared"), before);  // a copy would have counted again
  EXPECT_EQ(value.ElementAt(0).GetString(), "shared");
  EXPECT_EQ(value.ElementAt(1).Member("key").GetString(), "shared");
  EXPECT_EQ(value.ElementAt(999).GetSigned(), 999);
}

// --- Interning ---

TEST(BindingPropertyInterning, RecurringKeysAreStoredOnceAndTheTableShrinksWhenEmptied) {
  BindingProperty tree;
  tree.ElementAt(0).Member("name") = "a";
  tree.ElementAt(1).Member("name") = "name";
  EXPECT_EQ(References(tree, "name"), 3u);
  EXPECT_EQ(Interned(tree), 2u);
  tree.Reset();
  EXPECT_EQ(Interned(tree), 0u);
  EXPECT_EQ(tree.DiagnosticContext()->BucketCount(), 8u);
  EXPECT_NE(tree.DiagnosticContext(), nullptr);  // the context stays
}

TEST(BindingPropertyInterning, NestedResetsReleaseTheirTextsOneByOne) {
  BindingProperty tree;
  for (int index = 0; index < 100; ++index) {
    tree.ElementAt(static_cast<std::size_t>(index)).Member("k" + std::to_string(index)) = "v";
  }
  const BindingValueContext& context = *tree.DiagnosticContext();
  EXPECT_EQ(context.InternedCount(), 101u);
  EXPECT_EQ(context.BucketCount(), 128u);
  for (int index = 0; index < 100; ++index) {
    tree.ElementAt(static_cast<std::size_t>(index)).Reset();
  }
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.BucketCount(), 8u);
}

TEST(BindingPropertyInterning, RemovingEveryMemberEmptiesTheTable) {
  BindingProperty tree;
  for (int index = 0; index < 40; ++index) {
    tree.Member(std::to_string(index)) = index;
  }
  for (int index = 0; index < 40; ++index) {
    ASSERT_TRUE(tree.RemoveMember(std::to_string(index)));
  }
  EXPECT_EQ(tree.Size(), 0u);
  EXPECT_EQ(Interned(tree), 0u);
  EXPECT_EQ(tree.DiagnosticContext()->BucketCount(), 8u);
}

// --- Copying and moving ---

TEST(BindingPropertyCopy, IsDeepAndIntoTheTargetsOwnContext) {
  BindingProperty original;
  original.Member("list").ElementAt(2) = "x";
  original.Member("blob").SetBlob(BindingBlob{1, 2});
  original.Member("enum").SetEnum(3, kColorType);
  original.Member("float") = 0.5;
  BindingProperty copy(original);
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy.DiagnosticContext(), original.DiagnosticContext());
  EXPECT_EQ(copy.Member("list").ElementAt(2).DiagnosticContext(), copy.DiagnosticContext());
  EXPECT_EQ(References(copy, "x"), 1u);
  copy.Member("list").ElementAt(2) = "changed";
  EXPECT_EQ(original.Member("list").ElementAt(2).GetString(), "x");
  EXPECT_NE(copy, original);
}

TEST(BindingPropertyCopy, AssignmentIntoANestedValueInternsInItsTree) {
  BindingProperty source;
  source.Member("k") = "v";
  BindingProperty target;
  target.Member("slot") = 1;
  target.Member("slot") = source;
  EXPECT_EQ(target.Member("slot"), source);
  EXPECT_FALSE(target.Member("slot").OwnsContext());
  EXPECT_EQ(target.Member("slot").Member("k").DiagnosticContext(), target.DiagnosticContext());
  EXPECT_EQ(References(target, "v"), 1u);
  EXPECT_EQ(References(source, "v"), 1u);
}

TEST(BindingPropertyCopy, FromANestedValueMakesAStandaloneOne) {
  BindingProperty tree;
  tree.Member("inner").Member("k") = 1;
  BindingProperty copy = tree.Member("inner");
  EXPECT_TRUE(copy.OwnsContext());
  EXPECT_NE(copy.DiagnosticContext(), tree.DiagnosticContext());
  EXPECT_EQ(copy.Member("k").GetSigned(), 1);
}

TEST(BindingPropertyCopy, SelfAssignmentChangesNothing) {
  BindingProperty value;
  value.Member("a") = "b";
  const BindingProperty before = value;
  BindingProperty& alias = value;
  value = alias;
  EXPECT_EQ(value, before);
  EXPECT_EQ(References(value, "b"), 1u);
}

TEST(BindingPropertyMove, BetweenStandaloneValuesSwapsContexts) {
  BindingProperty source;
  source.Member("a") = "text";
  BindingProperty target;
  target.Member("old") = 1;
  const BindingValueContext* sourceContext = source.DiagnosticContext();
  const BindingValueContext* targetContext = target.DiagnosticContext();
  target = std::move(source);
  EXPECT_EQ(target.DiagnosticContext(), sourceContext);
  EXPECT_EQ(source.DiagnosticContext(), targetContext);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(Interned(source), 0u);  // the old payload was reset
  EXPECT_EQ(target.Member("a").GetString(), "text");

  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.DiagnosticContext(), sourceContext);
  EXPECT_EQ(target.DiagnosticContext(), nullptr);
  EXPECT_TRUE(target.IsEmpty());
}

TEST(BindingPropertyMove, IntoAnotherTreeCopiesDeeplyAndEmptiesTheSource) {
  BindingProperty source;
  source.Member("k") = "v";
  BindingProperty tree;
  tree.Member("slot") = std::move(source);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_TRUE(source.OwnsContext());
  EXPECT_EQ(tree.Member("slot").Member("k").GetString(), "v");
  EXPECT_EQ(tree.Member("slot").Member("k").DiagnosticContext(), tree.DiagnosticContext());
  EXPECT_EQ(Interned(source), 0u);
}

TEST(BindingPropertyMove, OutOfANestedValueCopiesAndLeavesTheMemberEmpty) {
  BindingProperty tree;
  tree.Member("inner").ElementAt(0) = "x";
  BindingProperty taken(std::move(tree.Member("inner")));
  EXPECT_TRUE(taken.OwnsContext());
  EXPECT_NE(taken.DiagnosticContext(), tree.DiagnosticContext());
  EXPECT_EQ(taken.ElementAt(0).GetString(), "x");
  EXPECT_TRUE(tree.HasMember("inner"));
  EXPECT_TRUE(tree.Member("inner").IsEmpty());
  EXPECT_EQ(References(tree, "x"), 0u);

  BindingProperty other;
  other.Member("inner") = "y";
  BindingProperty assigned;
  assigned = std::move(other.Member("inner"));
  EXPECT_EQ(assigned.GetString(), "y");
  EXPECT_TRUE(other.Member("inner").IsEmpty());
}

TEST(BindingPropertyMove, BetweenNestedValuesOfOneTreeHandsTheRecordsOver) {
  BindingProperty tree;
  tree.ElementAt(0).Member("deep") = "text";
  tree.ElementAt(1) = 5;
  tree.ElementAt(1) = std::move(tree.ElementAt(0));
  EXPECT_TRUE(tree.ElementAt(0).IsEmpty());
  EXPECT_EQ(tree.ElementAt(1).Member("deep").GetString(), "text");
  EXPECT_EQ(References(tree, "text"), 1u);
  EXPECT_EQ(References(tree, "deep"), 1u);
}

// --- Aliasing: sources that live inside their targets and the reverse ---

TEST(BindingPropertyAliasing, RootAssignedFromItsOwnMember) {
  BindingProperty root;
  root.Member("a").Member("b") = "inner";
  root.Member("c") = "other";
  root = root.Member("a");
  EXPECT_THAT(Keys(root), ElementsAre("b"));
  EXPECT_EQ(root.Member("b").GetString(), "inner");
  EXPECT_EQ(References(root, "other"), 0u);
  EXPECT_EQ(root.Member("b").DiagnosticContext(), root.DiagnosticContext());
}

TEST(BindingPropertyAliasing, RootMovedFromItsOwnElement) {
  BindingProperty root;
  root.ElementAt(0).Member("k") = "v";
  root.ElementAt(1) = "gone";
  root = std::move(root.ElementAt(0));
  EXPECT_EQ(root.Kind(), Kind::Structure);
  EXPECT_EQ(root.Member("k").GetString(), "v");
  EXPECT_EQ(References(root, "gone"), 0u);
  EXPECT_EQ(References(root, "v"), 1u);
}

TEST(BindingPropertyAliasing, MemberAssignedFromItsOwnRoot) {
  BindingProperty value;
  value.Member("y") = 1;
  value.Member("x") = value;
  EXPECT_THAT(Keys(value), ElementsAre("x", "y"));
  EXPECT_THAT(Keys(value.Member("x")), ElementsAre("x", "y"));  // copied after "x" existed
  EXPECT_TRUE(value.Member("x").Member("x").IsEmpty());
  EXPECT_EQ(value.Member("x").Member("y").GetSigned(), 1);
}

TEST(BindingPropertyAliasing, MemberMovedFromItsOwnRootEmptiesTheRoot) {
  BindingProperty value;
  value.Member("y") = "text";
  value.Member("x") = std::move(value);
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_EQ(Interned(value), 0u);
}

TEST(BindingPropertyAliasing, NestedTargetAssignedFromItsOwnDescendant) {
  BindingProperty value;
  value.Member("a").Member("b").Member("c") = "deep";
  value.Member("a") = value.Member("a").Member("b");
  EXPECT_EQ(value.Member("a").Member("c").GetString(), "deep");
  value.Member("a") = std::move(value.Member("a").Member("c"));
  EXPECT_EQ(value.Member("a").GetString(), "deep");
  EXPECT_EQ(References(value, "b"), 0u);
  EXPECT_EQ(References(value, "deep"), 1u);
}

TEST(BindingPropertyAliasing, NestedSourceMovedIntoItsOwnDescendantEmptiesTheSource) {
  BindingProperty value;
  value.Member("a").Member("b") = 1;
  value.Member("a").Member("b") = std::move(value.Member("a"));
  EXPECT_TRUE(value.Member("a").IsEmpty());
  EXPECT_EQ(References(value, "b"), 0u);
}

TEST(BindingPropertyAliasing, TextsAndBlobsSetFromTheValuesOwnTree) {
  BindingProperty value("a text long enough to need a heap block of its own, not a slot at all");
  value = value.GetString();
  EXPECT_EQ(value.GetString(),
            "a text long enough to need a heap block of its own, not a slot at all");

  BindingProperty tree;
  tree.Member("a") = "a text long enough to need a heap block of its own, not a slot at all";
  tree = tree.Member("a").GetString();
  EXPECT_EQ(tree.Kind(), Kind::String);
  EXPECT_EQ(tree.GetString(),
            "a text long enough to need a heap block of its own, not a slot at all");

  BindingProperty key("keytext");
  key.Member(key.GetString()) = 1;
  EXPECT_THAT(Keys(key), ElementsAre("keytext"));

  BindingProperty list;
  list.ElementAt(0) = "element";
  list.Member(list.ElementAt(0).GetString()) = 2;
  EXPECT_THAT(Keys(list), ElementsAre("element"));

  BindingProperty blob;
  blob.SetBlob(BindingBlob{4, 5, 6});
  blob.SetBlob(blob.GetBlob());
  EXPECT_EQ(blob.GetBlob(), (BindingBlob{4, 5, 6}));
  BindingProperty blobTree;
  blobTree.Member("b").SetBlob(BindingBlob{7});
  blobTree.SetBlob(blobTree.Member("b").GetBlob());
  EXPECT_EQ(blobTree.GetBlob(), (BindingBlob{7}));
}

// --- Deep trees ---

TEST(BindingPropertyDepth, DestroyingAVeryDeepTreeUsesNoStack) {
  BindingProperty root;
  BindingProperty* cursor = &root;
  for (int depth = 0; depth < 200000; ++depth) {
    cursor = &cursor->Member("n");
  }
  *cursor = "bottom";
  EXPECT_EQ(Interned(root), 2u);
  root.Reset();  // standalone: one sweep over the context, no recursion
  EXPECT_EQ(Interned(root), 0u);
  cursor = &root;
  for (int depth = 0; depth < 200000; ++depth) {
    cursor = &cursor->ElementAt(0);
  }
}  // destroyed the same way

// --- Visiting ---

class RecordingVisitor : public Vexa::BindingVisitor {
 public:
  std::vector<std::string> calls;
  void VisitEmpty() override { calls.push_back("empty"); }
  void VisitBool(bool value) override { calls.push_back(value ? "bool true" : "bool false"); }
  void VisitSigned(int64_t value) override { calls.push_back("signed " + std::to_string(value)); }
  void VisitUnsigned(uint64_t value) override {
    calls.push_back("unsigned " + std::to_string(value));
  }
  void VisitFloat(double value) override { calls.push_back("float " + std::to_string(value)); }
  void VisitString(std::string_view text) override {
    calls.push_back("string " + std::string(text));
  }
  void VisitBlob(const BindingBlob& bytes) override {
    calls.push_back("blob " + std::to_string(bytes.size()));
  }
  void VisitEnum(const BindingEnumerator& value) override {
    calls.push_back("enum " + std::to_string(value.value));
  }
  void BeginCollection(std::size_t count) override {
    calls.push_back("[ " + std::to_string(count));
  }
  void BeginElement(std::size_t index) override { calls.push_back("<" + std::to_string(index)); }
  void EndElement(std::size_t index) override { calls.push_back(std::to_string(index) + ">"); }
  void EndCollection() override { calls.push_back("]"); }
  void BeginStructure(std::size_t count) override { calls.push_back("{ " + std::to_string(count)); }
  void BeginMember(std::string_view key) override { calls.push_back("." + std::string(key)); }
  void EndMember() override { calls.push_back("end member"); }
  void EndStructure() override { calls.push_back("}"); }
};

TEST(BindingPropertyVisit, WalksDepthFirstWithMembersInKeyOrder) {
  BindingProperty value;
  value.Member("z").ElementAt(1) = true;
  value.Member("z").ElementAt(0) = -2;
  value.Member("a") = 3u;
  value.Member("m").SetBlob(BindingBlob{1, 2});
  value.Member("e").SetEnum(4, kColorType);
  value.Member("f") = 0.5;
  value.Member("s") = "t";
  value.Member("n");
  RecordingVisitor visitor;
  value.Visit(visitor);
  EXPECT_THAT(visitor.calls,
              ElementsAre("{ 7", ".a", "unsigned 3", "end member", ".e", "enum 4", "end member",
                          ".f", "float 0.500000", "end member", ".m", "blob 2", "end member", ".n",
                          "empty", "end member", ".s", "string t", "end member", ".z", "[ 2", "<0",
                          "signed -2", "0>", "<1", "bool true", "1>", "]", "end member", "}"));
}

TEST(BindingPropertyVisit, EmptyContainersOpenAndClose) {
  RecordingVisitor visitor;
  BindingProperty().MakeCollection().Visit(visitor);
  BindingProperty().MakeStructure().Visit(visitor);
  BindingProperty().Visit(visitor);
  EXPECT_THAT(visitor.calls, ElementsAre("[ 0", "]", "{ 0", "}", "empty"));
}

// --- Text forms and equality ---

TEST(BindingPropertyText, FormsPerKind) {
  BindingProperty blob;
  blob.SetBlob(BindingBlob{'M', 'a', 'n'});
  BindingProperty enumerator;
  enumerator.SetEnum(-12, kColorType);
  BindingProperty list;
  list.ElementAt(0) = 1;
  BindingProperty structure;
  structure.Member("a") = 1;
  const std::pair<BindingProperty, std::string> cases[] = {
      {BindingProperty(), ""},
      {BindingProperty(true), "true"},
      {BindingProperty(false), "false"},
      {BindingProperty(-42), "-42"},
      {BindingProperty(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {BindingProperty(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {BindingProperty(1.5), "1.500000"},
      {BindingProperty(-0.0000001), "-0.000000"},
      {BindingProperty(1e20), "100000000000000000000.000000"},
      {BindingProperty("text"), "text"},
      {blob, "TWFu"},
      {enumerator, "-12"},
      {list, ""},
      {structure, ""},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(value.ToText(), text) << Vexa::BindingPropertyKindName(value.Kind());
  }
  EXPECT_EQ(BindingProperty(std::numeric_limits<double>::max()).ToText().size(), 316u);
}

TEST(BindingPropertyEquality, ComparesKindsAndPayloadsDeeply) {
  const std::vector<BindingProperty> values = OneOfEachKind();
  const std::vector<BindingProperty> again = OneOfEachKind();
  for (std::size_t left = 0; left < values.size(); ++left) {
    for (std::size_t right = 0; right < values.size(); ++right) {
      EXPECT_EQ(values[left] == again[right], left == right) << left << " " << right;
    }
  }
  EXPECT_NE(BindingProperty(1), BindingProperty(1u));
  EXPECT_NE(BindingProperty(std::nan("")), BindingProperty(std::nan("")));
  BindingProperty color;
  color.SetEnum(1, kColorType);
  BindingProperty shape;
  shape.SetEnum(1, kShapeType);
  EXPECT_NE(color, shape);
  BindingProperty a;
  a.Member("k") = 1;
  BindingProperty b;
  b.Member("j") = 1;
  EXPECT_NE(a, b);
  b.RemoveMember("j");
  b.Member("k") = 1;
  EXPECT_EQ(a, b);
}

// --- BindingResult ---

TEST(BindingResultTest, DefaultIsAnEmptySuccess) {
  const BindingResult result;
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(static_cast<bool>(result));
  EXPECT_TRUE(result.value.IsEmpty());
  EXPECT_EQ(result.ErrorText(), "");
}

TEST(BindingResultTest, FailureIsAStructureWithOneErrorMember) {
  BindingResult result;
  result.value = 5;
  result.Fail("M");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.ErrorText(), "M");
  EXPECT_EQ(result.value.Kind(), Kind::Structure);
  EXPECT_THAT(Keys(result.value), ElementsAre("error"));
  result.Fail("N");
  EXPECT_EQ(result.ErrorText(), "N");
  EXPECT_EQ(result.value.Size(), 1u);
  result.Fail(result.ErrorText());  // the message is the result's own text
  EXPECT_EQ(result.ErrorText(), "N");
  result.Succeed();
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.value.IsEmpty());
  EXPECT_EQ(result.ErrorText(), "");
}

TEST(BindingResultTest, ErrorTextOnlyFromAStringErrorMemberOfAFailure) {
  BindingResult result;
  result.value.Member("error") = "ignored while ok";
  EXPECT_EQ(result.ErrorText(), "");
  result.ok = false;
  EXPECT_EQ(result.ErrorText(), "ignored while ok");
  result.value.Member("error") = 3;
  EXPECT_EQ(result.ErrorText(), "");
  EXPECT_NE(result.ErrorText().data(), nullptr);
}

TEST(BindingResultTest, ConstructionCopiesAndMovesCarryTheFlag) {
  BindingProperty value;
  value.Member("k") = "v";
  const BindingResult copied(value);
  EXPECT_TRUE(copied.ok);
  EXPECT_EQ(copied.value, value);
  EXPECT_NE(copied.value.DiagnosticContext(), value.DiagnosticContext());

  BindingResult failed = BindingResult::Failed("broken");
  EXPECT_FALSE(failed.ok);
  BindingResult moved(std::move(failed));
  EXPECT_FALSE(moved.ok);
  EXPECT_EQ(moved.ErrorText(), "broken");
  BindingResult assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(assigned.ok);
  EXPECT_EQ(assigned.ErrorText(), "broken");
  EXPECT_TRUE(moved.value.IsEmpty());
}

}  // namespace
