// BindingProperty and BindingResult: kinds, containers, interning, copies, moves and aliasing,
// and what a tree gives back.
#include "value/property.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/allocations.h"
#include "support/describe.h"
#include "support/values.h"
#include "value/block_pool.h"
#include "value/result.h"

namespace {

using ::testing::ElementsAre;
using namespace Vexa;
using namespace Vexa::Testing;
using Kind = BindingPropertyKind;

// An enumerator keeps only the address of its type's record: two objects stand in for two types.
const int kTypeTags[2] = {};
const StaticTypeInfo& kColor = *reinterpret_cast<const StaticTypeInfo*>(&kTypeTags[0]);
const StaticTypeInfo& kShape = *reinterpret_cast<const StaticTypeInfo*>(&kTypeTags[1]);

TEST(BindingPropertyKinds, NamesSizesGettersTextsAndEqualityPerKind) {
  const std::vector<BindingProperty> values = {Empty(),
                                               true,
                                               -5,
                                               5u,
                                               2.5,
                                               "text",
                                               Blob({1, 2, 3}),
                                               Enumerator(7, kColor),
                                               Collection({Empty(), 1}),
                                               Structure({{"a", 1}})};
  const std::vector<BindingProperty> again = values;
  const char* names[] = {"empty",  "bool", "signed", "unsigned",   "float",
                         "string", "blob", "enum",   "collection", "structure"};
  const std::size_t sizes[] = {0, 1, 1, 1, 1, 4, 3, 1, 2, 1};
  const char* texts[] = {"", "true", "-5", "5", "2.500000", "text", "AQID", "7", "", ""};
  for (std::size_t index = 0; index < values.size(); ++index) {
    const BindingProperty& value = values[index];
    const Kind kind = static_cast<Kind>(index);
    SCOPED_TRACE(names[index]);
    EXPECT_STREQ(BindingPropertyKindName(kind), names[index]);
    EXPECT_EQ(value.Size(), sizes[index]);
    EXPECT_EQ(value.ToText(), texts[index]);
    // A getter answers its own kind only, the caller's default otherwise: nothing is converted.
    EXPECT_EQ(value.GetUnsigned(99), kind == Kind::Unsigned ? 5u : 99u);
    EXPECT_EQ(value.GetEnum().type, kind == Kind::Enum ? &kColor : nullptr);
    for (std::size_t other = 0; other < again.size(); ++other) {
      EXPECT_EQ(value == again[other], index == other) << names[other];
    }
  }
  EXPECT_NE(BindingProperty(std::nan("")), BindingProperty(std::nan("")));
  EXPECT_NE(Enumerator(1, kColor), Enumerator(1, kShape));
  // Every integer type keeps its signedness, a float is widened, a text ends at its first NUL.
  EXPECT_EQ(DumpOf(Collection({int32_t{-1}, uint32_t{0xFFFFFFFF}, 1.5f, std::string("ab\0c", 4)})),
            "[S-1,U4294967295,F1.5,'ab']");
  EXPECT_EQ(BindingProperty(std::numeric_limits<double>::max()).ToText().size(), 316u);
}

TEST(BindingPropertyContainers, MutableAccessMakesTheContainerItNeeds) {
  BindingProperty value(12);
  value.Member("x") = "";  // the empty text takes no entry in the table
  EXPECT_EQ(DumpOf(value) + std::to_string(Interned(value)), "{x:''}1");
  value.ElementAt(0) = "first";
  EXPECT_EQ(DumpOf(value) + std::to_string(References(value, "x")), "['first']0");
  EXPECT_EQ(DumpOf(value.MakeCollection()), "['first']");  // a container of its kind is kept
  // An index far past the end makes room for all of it, also beside another collection.
  BindingProperty tree;
  tree.ElementAt(0).ElementAt(5) = "a";
  tree.ElementAt(1).ElementAt(5) = "b";
  EXPECT_EQ(DumpOf(tree), "[[~,~,~,~,~,'a'],[~,~,~,~,~,'b']]");
}

TEST(BindingPropertyContainers, MembersAreUniqueCutAtNulAndIterateInUnsignedByteOrder) {
  BindingProperty value;
  for (const char* key : {"b", "a", "c", "ab", "\x80", "Z", "abc", "a\x7f", "a\xff", ""}) {
    value.Member(key) = 1;
  }
  EXPECT_THAT(Keys(value),
              ElementsAre("", "Z", "a", "ab", "abc", "a\x7f", "a\xff", "b", "c", "\x80"));
  EXPECT_EQ(&value.Member(std::string_view("ab\0tail", 7)), &value.Member("ab"));
  EXPECT_EQ(value.Size(), 10u);
}

TEST(BindingPropertyContainers, ACollectionHoldsAtMostTheElementLimit) {
  EXPECT_EQ(kMaxBindingElements, 0x0FFFFFFFu);
  BindingProperty value(1);
  EXPECT_THROW(value.ElementAt(kMaxBindingElements), std::length_error);
  value.MakeCollection();
  EXPECT_FALSE(value.Reserve(kMaxBindingElements + 1));
}

TEST(BindingPropertyMove, SwapsStandaloneValuesAndCopiesAcrossTrees) {
  BindingProperty source = Structure({{"a", "text"}});
  BindingProperty target = Structure({{"old", 1}});
  const BindingValueContext* sourceContext = source.DiagnosticContext();
  target = std::move(source);
  EXPECT_EQ(DumpOf(source) + std::to_string(Interned(source)), "~0");
  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.DiagnosticContext(), sourceContext);
  // Out of a tree: a standalone deep copy, the member left empty; and into another tree.
  BindingProperty tree = Structure({{"inner", Collection({"x"})}});
  BindingProperty taken(std::move(tree.Member("inner")));
  EXPECT_NE(taken.DiagnosticContext(), tree.DiagnosticContext());
  EXPECT_EQ(DumpOf(taken) + DumpOf(tree) + std::to_string(Interned(tree)), "['x']{inner:~}1");
  tree.Member("inner") = std::move(taken);
  EXPECT_EQ(tree.Member("inner").ElementAt(0).DiagnosticContext(), tree.DiagnosticContext());
  // Within one tree the records are handed over.
  tree.Member("moved") = std::move(tree.Member("inner"));
  EXPECT_EQ(DumpOf(tree) + std::to_string(References(tree, "x")), "{inner:~,moved:['x']}1");
}

TEST(BindingPropertyAliasing, SourcesInsideTheirTargetsAndTargetsInsideTheirSources) {
  BindingProperty root = Structure({{"a", Structure({{"b", "inner"}})}, {"c", "other"}});
  root = root.Member("a");
  EXPECT_EQ(DumpOf(root) + std::to_string(References(root, "other")), "{b:'inner'}0");
  BindingProperty value = Structure({{"y", 1}});
  value.Member("x") = value;  // copied after "x" existed
  EXPECT_EQ(DumpOf(value), "{x:{x:~,y:S1},y:S1}");
  value.Member("x") = std::move(value);  // empties the source, and the target with it
  EXPECT_TRUE(value.IsEmpty());
  // A value moved into its own descendant empties, with everything it held.
  BindingProperty nested = Structure({{"a", Structure({{"b", 1}})}});
  nested.Member("a").Member("b") = std::move(nested.Member("a"));
  BindingProperty list = Collection({Collection({"text", 5})});
  list.ElementAt(0).ElementAt(1) = std::move(list.ElementAt(0));
  EXPECT_EQ(DumpOf(nested) + DumpOf(list), "{a:~}[~]");
  EXPECT_EQ(References(nested, "b") + Interned(list), 0u);
}

TEST(BindingPropertyMemory, ATreeGivesBackEveryBlockAndPage) {
  // Heap blocks less the pages that emptied contexts leave in the heap pages' reserve, counted
  // once the tree has been built and dropped before: then the two page sources, which live as
  // long as the process, exist, and this thread keeps as many emptied contexts as it uses.
  const auto liveBlocks = [] { return LiveAllocations() - long(BindingHeapPagesInReserve()); };
  const auto buildAndDrop = [] {
    const BindingProperty value = Structure({{"a", Collection({"x", Blob({1, 2}), 0.5})}});
    const BindingProperty copy = value;
  };
  buildAndDrop();
  const long before = liveBlocks();
  buildAndDrop();
  EXPECT_EQ(liveBlocks(), before);
  BindingBlockPool& pool = BindingBlockPool::Instance();
  const BindingBlockPoolStatistics held = pool.Statistics();
  {
    BindingProperty tree;
    tree.Member("keep") = "small";
    for (std::size_t index = 0; index < 5000; ++index) {
      tree.Member("big").ElementAt(index).Member("k" + std::to_string(index)) = index;
    }
    const BindingValueContext& context = *tree.DiagnosticContext();
    tree.Member("big").Reset();  // record by record: every emptied page goes back at once
    EXPECT_EQ(context.PoolPageCount() + context.LargeBlockCount(), 0u);
    EXPECT_LE(context.HeapPageCount(), 1u);  // at most the page of the member "big" itself
    EXPECT_EQ(pool.Statistics().pagesInUse, held.pagesInUse);
  }
  // Every reservation the tree took went back, but for the one spare the pool keeps.
  EXPECT_LE(pool.Statistics().reservations, std::max<std::size_t>(held.reservations, 1));
  {  // the heap pages of a dropped tree wait for the next one, up to the reserve's limit
    BindingProperty large;
    for (int index = 0; index < 60000; ++index) {
      large.Member("key " + std::to_string(index)) = index;
    }
  }
  EXPECT_EQ(BindingHeapPagesInReserve(), kBindingHeapPagesKept);
}

// Destroying or resetting a tree of any depth uses no stack that grows with it; a nested reset
// frees everything no deeper than decoders go and leaves the rest to the root.
TEST(BindingPropertyMemory, DeepTreesAreFreedWithoutRecursion) {
  for (const bool structures : {true, false}) {
    BindingProperty root;
    BindingProperty* cursor = &root.Member("deep");
    for (int depth = 0; depth < 200000; ++depth) {
      cursor = structures ? &cursor->Member("n") : &cursor->ElementAt(0);
    }
    root.Member("deep").Reset();
    BindingProperty* level = &root.Member("decoded");
    for (std::size_t depth = 1; depth < kMaxBindingDepth; ++depth) {
      level = &level->Member("n");
    }
    *level = "unique text";
    const std::size_t before = Interned(root);
    root.Member("decoded").Reset();
    // The key "n" goes too, unless the records left by the bounded reset above still hold it.
    EXPECT_EQ(Interned(root), before - (structures ? 1 : 2)) << structures;
  }
}

TEST(BindingResultTest, AFailureIsAStructureWithOneErrorMember) {
  BindingResult result;
  result.value = 5;
  result.Fail("M");
  result.Fail("N");
  result.Fail(result.ErrorText());  // its own text
  EXPECT_EQ(Outcome(result), "error: N");
  result.Succeed();
  result.value.Member("error") = "ignored while ok";
  EXPECT_EQ(result.ErrorText(), "");
  result.Succeed();
  EXPECT_EQ(Outcome(result), "~");
  result.FailWithoutMessage();
  result.value.Member("error") = "set by hand";
  EXPECT_EQ(Outcome(result), "error: set by hand");
}

}  // namespace
