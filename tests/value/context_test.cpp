#include "value/context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "value/records.h"

namespace {

using Vexa::BindingInternedString;
using Vexa::BindingProperty;
using Vexa::BindingStructure;
using Vexa::BindingValueContext;

TEST(BindingTextHash, IsThirtyTwoBitFnv1a) {
  // Published FNV-1a 32-bit test vectors.
  EXPECT_EQ(Vexa::BindingHashText(""), 0x811C9DC5u);
  EXPECT_EQ(Vexa::BindingHashText("a"), 0xE40C292Cu);
  EXPECT_EQ(Vexa::BindingHashText("foobar"), 0xBF9CF968u);
  EXPECT_EQ(Vexa::BindingHashText("\xff"), (0x811C9DC5u ^ 0xFFu) * 0x01000193u);  // bytes unsigned
}

class BindingInterning : public ::testing::Test {
 protected:
  BindingValueContext context;
};

TEST_F(BindingInterning, SameTextSameEntryCounted) {
  BindingInternedString* first = context.Intern("country");
  BindingInternedString* second = context.Intern(std::string("country"));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->count, 2u);
  EXPECT_EQ(first->hash, Vexa::BindingHashText("country"));
  EXPECT_EQ(first->View(), "country");
  EXPECT_EQ(first->Text()[7], '\0');
  EXPECT_EQ(context.InternedCount(), 1u);
  context.Release(first);
  EXPECT_EQ(context.ReferenceCount("country"), 1u);
  context.Release(second);
  EXPECT_EQ(context.ReferenceCount("country"), 0u);
  EXPECT_EQ(context.InternedCount(), 0u);
}

TEST_F(BindingInterning, EmptyTextIsTheUncountedSharedConstant) {
  BindingInternedString* empty = context.Intern("");
  EXPECT_EQ(empty, BindingValueContext::EmptyText());
  EXPECT_EQ(context.Intern(std::string_view("\0abc", 4)), empty);
  EXPECT_EQ(context.InternExact(""), empty);
  EXPECT_EQ(empty->count, 0u);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_EQ(empty->Text()[0], '\0');
  EXPECT_EQ(context.InternedCount(), 0u);
  context.Release(empty);
  EXPECT_EQ(empty->count, 0u);
}

TEST_F(BindingInterning, TextEndsAtItsFirstNul) {
  EXPECT_EQ(context.Intern(std::string_view("ab\0cd", 5)), context.Intern("ab"));
  EXPECT_EQ(context.ReferenceCount("ab"), 2u);
}

TEST_F(BindingInterning, EntriesFromAnotherContextKeepTheirHash) {
  BindingValueContext other;
  BindingInternedString* foreign = other.Intern("shared");
  BindingInternedString* local = context.Intern(*foreign);
  EXPECT_NE(local, foreign);
  EXPECT_EQ(local->hash, foreign->hash);
  EXPECT_EQ(local, context.Intern("shared"));
  EXPECT_EQ(context.Intern(*BindingValueContext::EmptyText()), BindingValueContext::EmptyText());
}

TEST_F(BindingInterning, BucketsStayPowersOfTwoWithinLoadOneAndReturnToEight) {
  EXPECT_EQ(context.BucketCount(), 8u);
  std::vector<BindingInternedString*> entries;
  for (int index = 0; index < 1000; ++index) {
    entries.push_back(context.Intern("text" + std::to_string(index)));
    const std::size_t buckets = context.BucketCount();
    ASSERT_EQ(buckets & (buckets - 1), 0u);
    ASSERT_LE(context.InternedCount(), buckets);
  }
  EXPECT_EQ(context.BucketCount(), 1024u);
  // Every text is still found after the rehashes.
  for (int index = 0; index < 1000; ++index) {
    ASSERT_EQ(context.ReferenceCount("text" + std::to_string(index)), 1u);
  }
  std::shuffle(entries.begin(), entries.end(), std::mt19937(7));
  for (std::size_t index = 0; index + 1 < entries.size(); ++index) {
    context.Release(entries[index]);
  }
  EXPECT_EQ(context.BucketCount(), 1024u);  // no shrinking until empty
  context.Release(entries.back());
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.BucketCount(), 8u);
}

TEST_F(BindingInterning, LongTextsLiveInListedHeapBlocks) {
  const std::string longText(200, 'x');
  BindingInternedString* entry = context.Intern(longText);
  EXPECT_EQ(context.LargeBlockCount(), 1u);
  EXPECT_EQ(entry->View(), longText);
  context.Release(entry);
  EXPECT_EQ(context.LargeBlockCount(), 0u);
}

TEST_F(BindingInterning, ClearDropsEverythingAtOnce) {
  (void)context.Intern("a");
  (void)context.Intern(std::string(300, 'y'));
  for (int index = 0; index < 100; ++index) {
    (void)context.Intern(std::to_string(index));
  }
  (void)context.NewBlob(Vexa::BindingBlob(1000, 1));
  (void)context.Allocate(4000);
  (void)context.New<Vexa::BindingEnumerator>();
  (void)context.NewRecord<Vexa::BindingEnumerator>();
  context.Clear();
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.BucketCount(), 8u);
  EXPECT_EQ(context.LargeBlockCount(), 0u);
  EXPECT_EQ(context.PoolPageCount(), 0u);
  EXPECT_EQ(context.HeapPageCount(), 0u);
  EXPECT_EQ(context.ReferenceCount("a"), 0u);
  // And it is usable again.
  EXPECT_EQ(context.Intern("a")->count, 1u);
}

// --- The member index ---

class BindingMemberIndex : public ::testing::Test {
 protected:
  ~BindingMemberIndex() override { members.Clear(context); }

  std::vector<std::string> InOrder() {
    members.EnsureSorted();
    std::vector<std::string> keys;
    for (const Vexa::BindingMemberNode* node = members.first; node != nullptr; node = node->next) {
      keys.emplace_back(node->key->View());
    }
    return keys;
  }

  BindingValueContext context;
  BindingStructure members;
};

TEST_F(BindingMemberIndex, RandomInsertionsAndRemovalsKeepEveryInvariant) {
  std::mt19937 random(12345);
  std::set<std::string> expected;
  for (int step = 0; step < 6000; ++step) {
    const std::string key = "k" + std::to_string(random() % 700);
    if (random() % 3 == 0) {
      ASSERT_EQ(members.Remove(key, context), expected.erase(key) == 1) << key;
    } else {
      members.FindOrInsert(key, context) = step;
      expected.insert(key);
    }
    ASSERT_TRUE(members.CheckInvariants()) << "step " << step;
    if (step % 500 == 0) {
      ASSERT_EQ(InOrder(), std::vector<std::string>(expected.begin(), expected.end()));
    }
  }
  EXPECT_EQ(InOrder(), std::vector<std::string>(expected.begin(), expected.end()));
  EXPECT_EQ(context.InternedCount(), expected.size());
  for (const std::string& key : expected) {
    ASSERT_NE(members.Find(key), nullptr) << key;
  }
  EXPECT_EQ(members.Find("absent"), nullptr);
}

TEST_F(BindingMemberIndex, RemovalInsideProbeRunsHidesNoOtherKey) {
  // Every key lands in the index; removing keys from the middle of probe runs must not hide
  // the keys behind them.
  for (int index = 0; index < 200; ++index) {
    members.FindOrInsert("key" + std::to_string(index), context) = index;
  }
  for (int index = 0; index < 200; index += 3) {
    ASSERT_TRUE(members.Remove("key" + std::to_string(index), context));
    ASSERT_TRUE(members.CheckInvariants());
  }
  for (int index = 0; index < 200; ++index) {
    const Vexa::BindingMemberNode* node = members.Find("key" + std::to_string(index));
    if (index % 3 == 0) {
      EXPECT_EQ(node, nullptr) << index;
    } else {
      ASSERT_NE(node, nullptr) << index;
      EXPECT_EQ(node->value.GetSigned(), index);
    }
  }
}

TEST_F(BindingMemberIndex, InsertionInKeyOrderNeverNeedsSorting) {
  for (int index = 0; index < 100; ++index) {
    char key[8];
    std::snprintf(key, sizeof key, "%03d", index);
    members.FindOrInsert(key, context);
    ASSERT_TRUE(members.sorted);
  }
  members.FindOrInsert("000 ", context);  // between "000" and "001"
  EXPECT_FALSE(members.sorted);
  EXPECT_EQ(InOrder()[1], "000 ");
  EXPECT_TRUE(members.sorted);
  EXPECT_TRUE(members.CheckInvariants());
}

// Short keys; keys that share long prefixes (ties past the 16 bytes compared as integers);
// keys with bytes from 0x80 up and keys that are prefixes of others.
std::string SortKey(int variant, int index) {
  switch (variant) {
    case 0:
      return std::string(1 + index % 3, static_cast<char>('a' + index % 26)) +
             std::to_string(index);
    case 1:
      return "a-shared-prefix-longer-than-16-bytes/" + std::to_string(index * 7919 % 1000);
    default:  // unique: index % 20 and index / 20 together give the index
      return std::string(1, index % 2 == 0 ? 'z' : '\xff') +
             std::string(static_cast<std::size_t>(index % 20), '\x90') +
             std::string(static_cast<std::size_t>(index / 20), 'q');
  }
}

TEST(BindingMemberOrder, SortsShuffledListsOfEverySize) {
  std::mt19937 random(99);
  for (int variant = 0; variant < 3; ++variant) {
    for (int size = 0; size <= 80; ++size) {
      BindingValueContext context;
      BindingStructure members;
      std::vector<std::string> keys;
      for (int index = 0; index < size; ++index) {
        keys.push_back(SortKey(variant, index));
      }
      std::vector<std::string> shuffled = keys;
      std::shuffle(shuffled.begin(), shuffled.end(), random);
      for (const std::string& key : shuffled) {
        members.FindOrInsert(key, context);
      }
      members.EnsureSorted();
      // std::string orders by char_traits<char>::compare, which compares as unsigned bytes.
      std::sort(keys.begin(), keys.end());
      std::vector<std::string> seen;
      for (const Vexa::BindingMemberNode* node = members.first; node != nullptr;
           node = node->next) {
        seen.emplace_back(node->key->View());
      }
      ASSERT_EQ(seen, keys) << variant << " " << size;
      ASSERT_TRUE(members.CheckInvariants()) << variant << " " << size;
      members.Clear(context);
    }
  }
}

TEST_F(BindingMemberIndex, MembersNeverMove) {
  BindingProperty& first = members.FindOrInsert("first", context);
  for (int index = 0; index < 1000; ++index) {
    members.FindOrInsert(std::to_string(index), context);
  }
  (void)InOrder();  // sorting relinks members, it does not move them
  for (int index = 0; index < 1000; index += 2) {
    members.Remove(std::to_string(index), context);
  }
  EXPECT_EQ(&members.Find("first")->value, &first);
}

TEST_F(BindingMemberIndex, CopyKeepsTheListOrderAndInternsIntoTheTargetContext) {
  for (int index = 0; index < 300; ++index) {
    members.FindOrInsert("m" + std::to_string(index * 7 % 300), context) =
        "v" + std::to_string(index % 3);
  }
  BindingValueContext targetContext;
  BindingStructure copy;
  copy.CopyFrom(members, targetContext);
  EXPECT_TRUE(copy.CheckInvariants());
  ASSERT_EQ(copy.count, members.count);
  EXPECT_EQ(copy.sorted, members.sorted);
  for (const Vexa::BindingMemberNode *to = copy.first, *from = members.first; to != nullptr;
       to = to->next, from = from->next) {
    EXPECT_EQ(to->key->View(), from->key->View());
    EXPECT_EQ(to->value.DiagnosticContext(), &targetContext);
  }
  EXPECT_EQ(targetContext.InternedCount(), 303u);  // 300 keys, 3 texts
  EXPECT_EQ(targetContext.ReferenceCount("v0"), 100u);
  copy.Clear(targetContext);
  EXPECT_EQ(targetContext.InternedCount(), 0u);
}

TEST_F(BindingMemberIndex, ClearReleasesEveryKeyAndValue) {
  for (int index = 0; index < 100; ++index) {
    members.FindOrInsert(std::to_string(index), context).Member("inner") = "text";
  }
  EXPECT_EQ(context.ReferenceCount("inner"), 100u);
  members.Clear(context);
  EXPECT_EQ(members.first, nullptr);
  EXPECT_EQ(members.last, nullptr);
  EXPECT_EQ(members.count, 0u);
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.PoolPageCount(), 0u);
  EXPECT_EQ(context.HeapPageCount(), 0u);
  EXPECT_EQ(context.LargeBlockCount(), 0u);
}

}  // namespace
