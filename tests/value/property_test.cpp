#include "value/property.h"
#include "value/result.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "value/context.h"
#include "support/values.h"

namespace {

using ::testing::ElementsAre;
using Vexa::BindingBlob;
using Vexa::BindingEnumerator;
using Vexa::BindingProperty;
using Vexa::BindingPropertyKind;
using Vexa::BindingResult;
using Vexa::BindingValueContext;
using Kind = BindingPropertyKind;
using namespace Vexa::Testing;

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

// One value of every kind, in the order of the kinds, for table-driven checks.
std::vector<BindingProperty> OneOfEachKind() {
  return {Empty(),
          true,
          -5,
          5u,
          2.5,
          "text",
          Blob({1, 2, 3}),
          Enumerator(7, kColorType),
          Collection({Empty(), 1}),
          Structure({{"a", 1}})};
}

// --- Kinds, setters and getters ---

TEST(BindingPropertyKinds, NamesSizesAndContextsPerKind) {
  const char* names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                         "string", "blob", "enum",   "collection", "structure"};
  const std::size_t sizes[] = {0, 1, 1, 1, 1, 4, 3, 1, 2, 1};
  const std::vector<BindingProperty> values = OneOfEachKind();
  for (std::size_t index = 0; index < values.size(); ++index) {
    SCOPED_TRACE(names[index]);
    EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(index)), names[index]);
    EXPECT_EQ(values[index].Kind(), static_cast<Kind>(index));
    EXPECT_EQ(values[index].IsEmpty(), index == 0);
    EXPECT_EQ(values[index].Size(), sizes[index]);
    EXPECT_TRUE(values[index].OwnsContext());
  }
  EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(10)), "");
  EXPECT_STREQ(Vexa::BindingPropertyKindName(static_cast<Kind>(255)), "");
  // Neither the default value nor a scalar allocates a context.
  for (BindingProperty value : {BindingProperty(), BindingProperty(true), BindingProperty(-1),
                                BindingProperty(1u), BindingProperty(0.5)}) {
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
  EXPECT_EQ(BindingProperty("5").GetSigned(3), 3);  // not even numeric text is converted
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

TEST(BindingPropertyStrings, TextStopsAtTheFirstNulAndEmptyTextTakesNoTableEntry) {
  const BindingProperty cut(std::string_view("ab\0cd", 5));
  EXPECT_EQ(cut.GetString(), "ab");
  EXPECT_EQ(cut.Size(), 2u);
  EXPECT_EQ(cut.GetString().data()[2], '\0');

  BindingProperty value = Structure({{"a", "x"}});
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

TEST(BindingPropertyContainers, MutableAccessCreatesOrReplacesTheContainer) {
  BindingProperty list;
  list.ElementAt(5);  // past the end: appends empty elements
  EXPECT_EQ(list.Kind(), Kind::Collection);
  ASSERT_EQ(list.Size(), 6u);
  for (const BindingProperty& element : list.Elements()) {
    EXPECT_TRUE(element.IsEmpty());
    EXPECT_FALSE(element.OwnsContext());
    EXPECT_EQ(element.DiagnosticContext(), list.DiagnosticContext());
  }

  BindingProperty value(12);
  value.Member("x");
  EXPECT_EQ(value, Structure({{"x", Empty()}}));
  value.ElementAt(0) = "first";
  EXPECT_EQ(value, Collection({"first"}));
  EXPECT_EQ(References(value, "x"), 0u);  // the old member key is gone

  // Make... keeps a container of the same kind and replaces one of the other.
  value.MakeCollection();
  EXPECT_EQ(value.Size(), 1u);
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 0u);
  value.Member("k") = 1;
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 1u);
}

TEST(BindingPropertyContainers, ReadOnlyAccessNeverChangesAnythingAndSharesTheEmptyValue) {
  const BindingProperty value = Collection({1});
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
  const BindingProperty numbered = Structure({{"b", 2}, {"a", 1}, {"c", 3}});  // created b, a, c
  std::vector<int64_t> numbers;
  for (const auto& [key, member] : numbered.Members()) {
    numbers.push_back(member.GetSigned());
  }
  EXPECT_THAT(Keys(numbered), ElementsAre("a", "b", "c"));
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3));
}

TEST(BindingPropertyContainers, KeysAreUniqueCutAtTheirFirstNulAndMembersNeverMove) {
  BindingProperty value;
  BindingProperty& first = value.Member("key");
  first = 1;
  EXPECT_EQ(&value.Member(std::string_view("key\0tail", 8)), &first);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_TRUE(value.HasMember(std::string_view("key\0other", 9)));
  EXPECT_EQ(References(value, "key"), 1u);

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
  EXPECT_EQ(&value.Member("key"), &first);
  EXPECT_EQ(value.Size(), 252u);
}

TEST(BindingPropertyContainers, ReserveAndElementIndexStayWithinTheLimit) {
  BindingProperty value(1);
  EXPECT_FALSE(value.Reserve(4));
  EXPECT_EQ(value.Kind(), Kind::Signed);
  // An index beyond the limit is a length error and changes nothing; the last index below it
  // would be valid but is not tried, it is gigabytes.
  EXPECT_THROW(value.ElementAt(Vexa::kMaxBindingElements), std::length_error);
  EXPECT_THROW(value.ElementAt(std::numeric_limits<std::size_t>::max()), std::length_error);
  EXPECT_EQ(value.GetSigned(), 1);
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

TEST(BindingPropertyContainers, GrowthRelocatesElementsWithoutCopying) {
  BindingProperty value = Collection({"shared", Structure({{"key", "shared"}})});
  const uint32_t before = References(value, "shared");
  for (int index = 2; index < 1000; ++index) {
    value.Append() = index;
  }
  EXPECT_EQ(References(value, "shared"), before);  // a copy would have counted again
  EXPECT_EQ(value.ElementAt(0), BindingProperty("shared"));
  EXPECT_EQ(value.ElementAt(1), Structure({{"key", "shared"}}));
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
  ASSERT_NE(tree.DiagnosticContext(), nullptr);  // the context stays
  EXPECT_EQ(Interned(tree), 0u);
  EXPECT_EQ(tree.DiagnosticContext()->BucketCount(), 8u);

  // Nested resets release their texts one by one.
  for (std::size_t index = 0; index < 100; ++index) {
    tree.ElementAt(index).Member("k" + std::to_string(index)) = "v";
  }
  const BindingValueContext& context = *tree.DiagnosticContext();
  EXPECT_EQ(context.InternedCount(), 101u);
  EXPECT_EQ(context.BucketCount(), 128u);
  for (std::size_t index = 0; index < 100; ++index) {
    tree.ElementAt(index).Reset();
  }
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.BucketCount(), 8u);

  // So does removing every member.
  tree.MakeStructure();
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
  BindingProperty original = Structure({{"list", Collection({Empty(), Empty(), "x"})},
                                        {"blob", Blob({1, 2})},
                                        {"enum", Enumerator(3, kColorType)},
                                        {"float", 0.5}});
  BindingProperty copy(original);
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy.DiagnosticContext(), original.DiagnosticContext());
  EXPECT_EQ(copy.Member("list").ElementAt(2).DiagnosticContext(), copy.DiagnosticContext());
  EXPECT_EQ(References(copy, "x"), 1u);
  copy.Member("list").ElementAt(2) = "changed";
  EXPECT_EQ(original.Member("list").ElementAt(2).GetString(), "x");
  EXPECT_NE(copy, original);

  // Copied out of a nested value, it is standalone.
  BindingProperty inner = original.Member("list");
  EXPECT_TRUE(inner.OwnsContext());
  EXPECT_NE(inner.DiagnosticContext(), original.DiagnosticContext());
  EXPECT_EQ(inner.ElementAt(2).GetString(), "x");

  // Onto itself, nothing changes.
  const BindingProperty before = original;
  BindingProperty& alias = original;
  original = alias;
  EXPECT_EQ(original, before);
  EXPECT_EQ(References(original, "x"), 1u);
}

TEST(BindingPropertyCopy, AssignmentIntoANestedValueInternsInItsTree) {
  BindingProperty source = Structure({{"k", "v"}});
  BindingProperty target = Structure({{"slot", 1}});
  target.Member("slot") = source;
  EXPECT_EQ(target.Member("slot"), source);
  EXPECT_FALSE(target.Member("slot").OwnsContext());
  EXPECT_EQ(target.Member("slot").Member("k").DiagnosticContext(), target.DiagnosticContext());
  EXPECT_EQ(References(target, "v"), 1u);
  EXPECT_EQ(References(source, "v"), 1u);

  // Moved in, the deep copy leaves the source empty, standalone and without texts.
  BindingProperty tree;
  tree.Member("slot") = std::move(source);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_TRUE(source.OwnsContext());
  EXPECT_EQ(Interned(source), 0u);
  EXPECT_EQ(tree.Member("slot").Member("k").GetString(), "v");
  EXPECT_EQ(tree.Member("slot").Member("k").DiagnosticContext(), tree.DiagnosticContext());
}

TEST(BindingPropertyMove, BetweenStandaloneValuesSwapsContexts) {
  BindingProperty source = Structure({{"a", "text"}});
  BindingProperty target = Structure({{"old", 1}});
  const BindingValueContext* sourceContext = source.DiagnosticContext();
  const BindingValueContext* targetContext = target.DiagnosticContext();
  target = std::move(source);
  EXPECT_EQ(target.DiagnosticContext(), sourceContext);
  EXPECT_EQ(source.DiagnosticContext(), targetContext);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(Interned(source), 0u);  // the old payload was reset
  EXPECT_EQ(target, Structure({{"a", "text"}}));

  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.DiagnosticContext(), sourceContext);
  EXPECT_EQ(target.DiagnosticContext(), nullptr);
  EXPECT_TRUE(target.IsEmpty());
}

TEST(BindingPropertyMove, OutOfANestedValueCopiesAndLeavesTheMemberEmpty) {
  BindingProperty tree = Structure({{"inner", Collection({"x"})}});
  BindingProperty taken(std::move(tree.Member("inner")));
  EXPECT_TRUE(taken.OwnsContext());
  EXPECT_NE(taken.DiagnosticContext(), tree.DiagnosticContext());
  EXPECT_EQ(taken, Collection({"x"}));
  EXPECT_EQ(tree, Structure({{"inner", Empty()}}));
  EXPECT_EQ(References(tree, "x"), 0u);

  tree.Member("inner") = "y";
  BindingProperty assigned;
  assigned = std::move(tree.Member("inner"));
  EXPECT_EQ(assigned.GetString(), "y");
  EXPECT_TRUE(tree.Member("inner").IsEmpty());

  // Between nested values of one tree the records are handed over.
  tree.ElementAt(0).Member("deep") = "text";
  tree.ElementAt(1) = 5;
  tree.ElementAt(1) = std::move(tree.ElementAt(0));
  EXPECT_EQ(tree, Collection({Empty(), Structure({{"deep", "text"}})}));
  EXPECT_EQ(References(tree, "text"), 1u);
  EXPECT_EQ(References(tree, "deep"), 1u);
}

// --- Aliasing: sources that live inside their targets and the reverse ---

TEST(BindingPropertyAliasing, RootTakesItsOwnDescendant) {
  BindingProperty root = Structure({{"a", Structure({{"b", "inner"}})}, {"c", "other"}});
  root = root.Member("a");
  EXPECT_EQ(root, Structure({{"b", "inner"}}));
  EXPECT_EQ(References(root, "other"), 0u);
  EXPECT_EQ(root.Member("b").DiagnosticContext(), root.DiagnosticContext());

  BindingProperty moved = Collection({Structure({{"k", "v"}}), "gone"});
  moved = std::move(moved.ElementAt(0));
  EXPECT_EQ(moved, Structure({{"k", "v"}}));
  EXPECT_EQ(References(moved, "gone"), 0u);
  EXPECT_EQ(References(moved, "v"), 1u);
}

TEST(BindingPropertyAliasing, MemberTakesItsOwnRoot) {
  BindingProperty value = Structure({{"y", 1}});
  value.Member("x") = value;
  // Copied after "x" existed.
  EXPECT_EQ(value, Structure({{"x", Structure({{"x", Empty()}, {"y", 1}})}, {"y", 1}}));

  BindingProperty moved = Structure({{"y", "text"}});
  moved.Member("x") = std::move(moved);  // empties the root
  EXPECT_TRUE(moved.IsEmpty());
  EXPECT_EQ(Interned(moved), 0u);
}

TEST(BindingPropertyAliasing, NestedTargetsAndTheirOwnDescendantsOrAncestors) {
  BindingProperty value = Structure({{"a", Structure({{"b", Structure({{"c", "deep"}})}})}});
  value.Member("a") = value.Member("a").Member("b");
  EXPECT_EQ(value, Structure({{"a", Structure({{"c", "deep"}})}}));
  value.Member("a") = std::move(value.Member("a").Member("c"));
  EXPECT_EQ(value, Structure({{"a", "deep"}}));
  EXPECT_EQ(References(value, "b"), 0u);
  EXPECT_EQ(References(value, "deep"), 1u);

  // A nested source moved into its own descendant empties the source.
  BindingProperty source = Structure({{"a", Structure({{"b", 1}})}});
  source.Member("a").Member("b") = std::move(source.Member("a"));
  EXPECT_EQ(source, Structure({{"a", Empty()}}));
  EXPECT_EQ(References(source, "b"), 0u);
}

TEST(BindingPropertyAliasing, TextsAndBlobsSetFromTheValuesOwnTree) {
  const std::string_view longText =
      "a text long enough to need a heap block of its own, not a slot at all";
  BindingProperty value(longText);
  value = value.GetString();
  EXPECT_EQ(value.GetString(), longText);
  BindingProperty tree = Structure({{"a", longText}});
  tree = tree.Member("a").GetString();
  EXPECT_EQ(tree, BindingProperty(longText));

  BindingProperty key("keytext");
  key.Member(key.GetString()) = 1;
  EXPECT_THAT(Keys(key), ElementsAre("keytext"));
  BindingProperty list = Collection({"element"});
  list.Member(list.ElementAt(0).GetString()) = 2;
  EXPECT_THAT(Keys(list), ElementsAre("element"));

  BindingProperty blob = Blob({4, 5, 6});
  blob.SetBlob(blob.GetBlob());
  EXPECT_EQ(blob.GetBlob(), (BindingBlob{4, 5, 6}));
  BindingProperty blobTree = Structure({{"b", Blob({7})}});
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

TEST(BindingPropertyDepth, ResettingAVeryDeepNestedValueIsBoundedAndTheRootStillFreesAll) {
  for (const bool structures : {true, false}) {
    SCOPED_TRACE(structures ? "structures" : "collections");
    BindingProperty root;
    BindingProperty* cursor = &root.Member("deep");
    for (int depth = 0; depth < 200000; ++depth) {
      cursor = structures ? &cursor->Member("n") : &cursor->ElementAt(0);
    }
    *cursor = "bottom";
    root.Member("shallow").Member("leaf") = "kept";
    root.Member("deep").Reset();  // nested: freed record by record, as deep as is safe
    EXPECT_TRUE(root.Member("deep").IsEmpty());
    EXPECT_EQ(root.Member("shallow").Member("leaf"), BindingProperty("kept"));
    // A value no deeper than a decoder accepts is freed completely, texts included.
    BindingProperty* level = &root.Member("decoded");
    for (std::size_t depth = 1; depth < Vexa::kMaxBindingDepth; ++depth) {
      level = &level->Member("n");
    }
    *level = "unique text";
    const std::size_t before = Interned(root);
    root.Member("decoded").Reset();
    // "unique text" goes; so does the key "n", unless the records left below the bounded
    // reset of the deep structures still hold it.
    EXPECT_EQ(Interned(root), before - (structures ? 1 : 2));
  }  // the root drops what the nested reset left, with its context (the sanitizer checks)
}

// --- Visiting ---

class RecordingVisitor : public Vexa::BindingVisitor {
 public:
  std::vector<std::string> calls;
  void VisitEmpty() override { Log("empty"); }
  void VisitBool(bool value) override { Log(value ? "bool true" : "bool false"); }
  void VisitSigned(int64_t value) override { Log("signed " + std::to_string(value)); }
  void VisitUnsigned(uint64_t value) override { Log("unsigned " + std::to_string(value)); }
  void VisitFloat(double value) override { Log("float " + std::to_string(value)); }
  void VisitString(std::string_view text) override { Log("string " + std::string(text)); }
  void VisitBlob(const BindingBlob& bytes) override { Log("blob " + std::to_string(bytes.size())); }
  void VisitEnum(const BindingEnumerator& value) override {
    Log("enum " + std::to_string(value.value));
  }
  void BeginCollection(std::size_t count) override { Log("[ " + std::to_string(count)); }
  void BeginElement(std::size_t index) override { Log("<" + std::to_string(index)); }
  void EndElement(std::size_t index) override { Log(std::to_string(index) + ">"); }
  void EndCollection() override { Log("]"); }
  void BeginStructure(std::size_t count) override { Log("{ " + std::to_string(count)); }
  void BeginMember(std::string_view key) override { Log("." + std::string(key)); }
  void EndMember() override { Log("end member"); }
  void EndStructure() override { Log("}"); }

 private:
  void Log(std::string call) { calls.push_back(std::move(call)); }
};

TEST(BindingPropertyVisit, WalksDepthFirstWithMembersInKeyOrder) {
  const BindingProperty value = Structure({{"z", Collection({-2, true})},
                                           {"a", 3u},
                                           {"m", Blob({1, 2})},
                                           {"e", Enumerator(4, kColorType)},
                                           {"f", 0.5},
                                           {"s", "t"},
                                           {"n", Empty()}});
  RecordingVisitor visitor;
  value.Visit(visitor);
  EXPECT_THAT(visitor.calls,
              ElementsAre("{ 7", ".a", "unsigned 3", "end member", ".e", "enum 4", "end member",
                          ".f", "float 0.500000", "end member", ".m", "blob 2", "end member", ".n",
                          "empty", "end member", ".s", "string t", "end member", ".z", "[ 2", "<0",
                          "signed -2", "0>", "<1", "bool true", "1>", "]", "end member", "}"));
  // Empty containers still open and close.
  RecordingVisitor empties;
  BindingProperty().MakeCollection().Visit(empties);
  BindingProperty().MakeStructure().Visit(empties);
  BindingProperty(false).Visit(empties);
  EXPECT_THAT(empties.calls, ElementsAre("[ 0", "]", "{ 0", "}", "bool false"));
}

// --- Text forms and equality ---

TEST(BindingPropertyText, FormsPerKind) {
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
      {Blob({'M', 'a', 'n'}), "TWFu"},
      {Enumerator(-12, kColorType), "-12"},
      {Collection({1}), ""},
      {Structure({{"a", 1}}), ""},
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
  EXPECT_NE(Enumerator(1, kColorType), Enumerator(1, kShapeType));
  BindingProperty other = Structure({{"j", 1}});
  EXPECT_NE(Structure({{"k", 1}}), other);
  other.RemoveMember("j");
  other.Member("k") = 1;
  EXPECT_EQ(Structure({{"k", 1}}), other);
}

// --- BindingResult ---

TEST(BindingResultTest, FailureIsAStructureWithOneErrorMember) {
  BindingResult result;
  EXPECT_TRUE(result.Ok());  // by default an empty success
  EXPECT_TRUE(static_cast<bool>(result));
  EXPECT_TRUE(result.value.IsEmpty());
  EXPECT_EQ(result.ErrorText(), "");
  result.value = 5;
  result.Fail("M");
  EXPECT_FALSE(result.Ok());
  EXPECT_FALSE(static_cast<bool>(result));
  EXPECT_EQ(result.ErrorText(), "M");
  EXPECT_EQ(result.value.Kind(), Kind::Structure);
  EXPECT_THAT(Keys(result.value), ElementsAre("error"));
  result.Fail("N");
  EXPECT_EQ(result.ErrorText(), "N");
  EXPECT_EQ(result.value.Size(), 1u);
  result.Fail(result.ErrorText());  // the message is the result's own text
  EXPECT_EQ(result.ErrorText(), "N");
  result.Succeed();
  EXPECT_TRUE(result.Ok());
  EXPECT_TRUE(result.value.IsEmpty());
  EXPECT_EQ(result.ErrorText(), "");
  // The text comes only from a string error member of a failure.
  result.value.Member("error") = "ignored while ok";
  EXPECT_EQ(result.ErrorText(), "");
  result.FailWithoutMessage();
  EXPECT_EQ(result.ErrorText(), "");
  result.value.Member("error") = "ignored while ok";
  EXPECT_EQ(result.ErrorText(), "ignored while ok");
  result.value.Member("error") = 3;
  EXPECT_EQ(result.ErrorText(), "");
  EXPECT_NE(result.ErrorText().data(), nullptr);
}

TEST(BindingResultTest, ConstructionCopiesAndMovesCarryTheFlag) {
  const BindingProperty value = Structure({{"k", "v"}});
  const BindingResult copied(value);
  EXPECT_TRUE(copied.Ok());
  EXPECT_EQ(copied.value, value);
  EXPECT_NE(copied.value.DiagnosticContext(), value.DiagnosticContext());

  BindingResult failed = BindingResult::Failed("broken");
  EXPECT_FALSE(failed.Ok());
  BindingResult moved(std::move(failed));
  EXPECT_FALSE(moved.Ok());
  EXPECT_EQ(moved.ErrorText(), "broken");
  BindingResult assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(assigned.Ok());
  EXPECT_EQ(assigned.ErrorText(), "broken");
  EXPECT_TRUE(moved.value.IsEmpty());
}

}  // namespace
