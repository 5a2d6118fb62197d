// What a value tree is made of: the intern table of its context, the member records, the slot
// allocator and the process-wide page pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "value/block_allocator.h"
#include "value/block_pool.h"
#include "value/context.h"
#include "value/medium_blocks.h"
#include "value/records.h"

namespace {

using namespace Vexa;

TEST(BindingInterning, CountedFnv1aEntriesInATableOfAtMostOneEntryPerBucket) {
  EXPECT_EQ(BindingHashText("foobar"), 0xBF9CF968u);
  EXPECT_EQ(BindingHashText("\xff"), (0x811C9DC5u ^ 0xFFu) * 0x01000193u);  // unsigned bytes
  BindingValueContext context;
  BindingInternedString* empty = context.Intern(std::string_view("\0abc", 4));
  EXPECT_EQ(empty, BindingValueContext::EmptyText());  // shared, never counted
  context.Release(empty);
  EXPECT_EQ(empty->count + context.InternedCount(), 0u);
  BindingInternedString* kept = context.Intern("ab");
  EXPECT_EQ(context.Intern(std::string_view("ab\0cd", 5)), kept);
  std::vector<BindingInternedString*> entries;
  for (int index = 0; index < 1000; ++index) {
    char text[16];
    std::snprintf(text, sizeof text, "%08d", index);  // eight bytes: the NUL needs a granule
    entries.push_back(context.Intern(text));
    ASSERT_LE(context.InternedCount(), context.BucketCount());
  }
  std::shuffle(entries.begin(), entries.end(), std::mt19937(7));
  for (BindingInternedString* entry : entries) {
    ASSERT_EQ(entry->Text()[entry->length], '\0');
    context.Release(entry);
  }
  context.Release(kept);  // interned twice
  context.Release(kept);
  EXPECT_EQ(context.InternedCount(), 0u);
  EXPECT_EQ(context.BucketCount(), 8u);
  for (int round = 0; round < 2; ++round) {  // grown into the bucket array the last one left
    context.Clear();
    for (int index = 0; index < 300; ++index) {
      static_cast<void>(context.Intern(std::to_string(index * 7 + round)));
    }
    EXPECT_EQ(context.BucketCount(), 512u);
  }
}

std::vector<std::string> InOrder(BindingStructure& members) {
  members.EnsureSorted();
  std::vector<std::string> keys;
  for (const BindingMemberNode* node = members.first; node != nullptr; node = node->next) {
    keys.emplace_back(node->key->View());
  }
  return keys;
}

TEST(BindingMembers, RandomInsertionsAndRemovalsKeepEveryInvariant) {
  BindingValueContext context, targetContext;
  BindingStructure members, copy;
  std::mt19937 random(12345);
  std::set<std::string> expected;
  for (int step = 0; step < 4000; ++step) {
    // Keys that share a prefix longer than the 16 bytes that the sort compares as integers, and
    // keys of bytes from 0x80 up (std::string compares bytes as unsigned, like the members).
    const std::string key = std::string(random() % 2 == 0 ? "\xf0" : "") +
                            "a-shared-prefix-longer-than-16-bytes/" +
                            std::to_string(random() % 300);
    if (random() % 3 == 0) {
      ASSERT_EQ(members.Remove(key, context), expected.erase(key) == 1) << key;
    } else {
      members.FindOrInsert(key, context).Member("inner") = step;
      expected.insert(key);
    }
    ASSERT_TRUE(members.CheckInvariants()) << step;
  }
  EXPECT_EQ(InOrder(members), std::vector<std::string>(expected.begin(), expected.end()));
  EXPECT_EQ(context.InternedCount(), expected.size() + 1);  // and "inner"
  members.FindOrInsert("a", context);                       // out of order
  copy.CopyFrom(members, targetContext);
  EXPECT_TRUE(copy.CheckInvariants());
  EXPECT_EQ(InOrder(copy), InOrder(members));
  copy.Clear(targetContext);
  members.Clear(context);
  EXPECT_EQ(context.InternedCount() + context.LargeBlockCount() + context.HeapPageCount() +
                targetContext.InternedCount() + targetContext.LargeBlockCount(),
            0u);
}

TEST(BindingBlockPoolTest, HandsOutTheLowestFreePageAndReleasesEmptyReservations) {
  BindingBlockPool pool;
  std::vector<void*> pages;
  for (int index = 0; index < 17; ++index) {
    pages.push_back(pool.AcquirePage());
  }
  const auto statistics = [&pool] {
    const BindingBlockPoolStatistics now = pool.Statistics();
    return std::to_string(now.reservations) + " " + std::to_string(now.freePages) + " " +
           std::to_string(now.pagesInUse);
  };
  pool.ReleasePage(pages[9]);  // back into a full reservation
  pool.ReleasePage(pages[3]);
  EXPECT_EQ(pool.AcquirePage(), pages[3]);
  EXPECT_EQ(pool.AcquirePage(), pages[9]);
  for (int index = 0; index < 15; ++index) {
    pool.ReleasePage(pages[index]);
  }
  EXPECT_EQ(statistics(), "2 30 2");
  pool.ReleasePage(pages[15]);  // the first reservation is kept empty, as the spare
  EXPECT_EQ(statistics(), "2 31 1");
  pool.ReleasePage(pages[16]);  // a second empty one goes back whole
  EXPECT_EQ(statistics(), "1 16 0");
  EXPECT_EQ(pool.AcquirePage(), pages[0]);  // the spare serves the next hand-out
  pool.ReleasePage(pages[0]);
}

TEST(BindingBlockAllocatorTest, SlotsOfEveryClassStartInlineAndPoolPagesGoBackWhenEmpty) {
  BindingBlockPool pool;
  BindingBlockAllocator blocks(pool);
  void* five = blocks.Allocate(5);
  EXPECT_EQ(static_cast<char*>(blocks.Allocate(8)) - static_cast<char*>(five), 8);
  blocks.Free(five, 5);
  EXPECT_EQ(blocks.Allocate(6), five);  // the freed slot is the first free one again
  // 144 / 72 = 2 inline slots, one the header's; a pool page has 4096 / 72 = 56, less one.
  std::vector<void*> large;
  for (int index = 0; index < 57; ++index) {
    large.push_back(blocks.Allocate(72));
    EXPECT_EQ(blocks.PoolPageCount(), index == 0 ? 0u : index < 56 ? 1u : 2u) << index;
  }
  blocks.Free(large.back(), 72);
  for (std::size_t size = 1; size <= BindingBlockAllocator::kLargestBlock; ++size) {
    std::vector<unsigned char*> taken(600);
    std::size_t pages = 0;
    for (int round = 0; round < 2; ++round) {  // then again into every other slot
      for (std::size_t index = 0; index < taken.size(); index += round + 1) {
        taken[index] = static_cast<unsigned char*>(blocks.Allocate(size));
        std::memset(taken[index], static_cast<int>(size), size);  // no block overlaps another
      }
      pages = round == 0 ? blocks.PoolPageCount() : pages;
      for (std::size_t index = 0; round == 0 && index < taken.size(); index += 2) {
        blocks.Free(taken[index], size);  // every page keeps live slots
      }
      EXPECT_EQ(blocks.PoolPageCount(), pages) << size;  // holes are filled before new pages
    }
    for (unsigned char* block : taken) {
      ASSERT_EQ(block[size - 1], static_cast<unsigned char>(size)) << size;
      blocks.Free(block, size);
    }
  }
  EXPECT_EQ(blocks.PoolPageCount() * 10 + pool.Statistics().pagesInUse, 11u);
  blocks.ReleaseAll();
  EXPECT_EQ(blocks.PoolPageCount() + pool.Statistics().pagesInUse, 0u);
}

TEST(BindingBlockAllocatorTest, SharedInlinePagesGoToTheFirstClassesUsedWhileTheSpaceLasts) {
  BindingBlockPool pool;
  BindingBlockAllocator blocks(pool, BindingBlockAllocator::InlinePages::Shared);
  std::vector<void*> taken;
  for (int index = 0; index < 8; ++index) {  // 576 / 72 = 8 inline slots, one the header's
    taken.push_back(blocks.Allocate(72));
    EXPECT_EQ(blocks.PoolPageCount(), index < 7 ? 0u : 1u) << index;
  }
  blocks.Free(taken[3], 72);
  EXPECT_EQ(blocks.Allocate(72), taken[3]);  // back to its inline page
  blocks.ReleaseAll();                       // the space is shared out afresh
  for (const std::size_t size : {8u, 16u, 24u, 32u}) {
    (void)blocks.Allocate(size);  // 576 bytes each
  }
  for (int index = 0; index < 7; ++index) {  // what is left, 288 bytes: six 40-byte slots
    (void)blocks.Allocate(40);
    EXPECT_EQ(blocks.PoolPageCount(), index < 6 ? 0u : 1u) << index;
  }
  (void)blocks.Allocate(72);  // no space left for a sixth class
  EXPECT_EQ(blocks.PoolPageCount() * 10 + pool.Statistics().pagesInUse, 22u);
  blocks.ReleaseAll();
  EXPECT_EQ(pool.Statistics().pagesInUse, 0u);
}

TEST(BindingMediumBlocksTest, DisjointBlocksFreedOnesReusedBySizeChunksBackWithTheLast) {
  BindingMediumBlocks blocks;
  std::mt19937 random(7);
  std::vector<std::pair<unsigned char*, std::size_t>> held;
  for (int index = 0; index < 600; ++index) {  // some 300 KiB: chunks grow to the largest
    const std::size_t size =
        index >= 597 ? 100 : 73 + random() % (BindingMediumBlocks::kLargestBlock - 72);
    auto* block = static_cast<unsigned char*>(blocks.Allocate(size));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
    std::memset(block, index & 0xFF, size);
    held.emplace_back(block, size);
  }
  for (std::size_t index = 0; index < held.size(); ++index) {
    const auto [block, size] = held[index];
    ASSERT_EQ(std::count(block, block + size, static_cast<unsigned char>(index & 0xFF)),
              static_cast<std::ptrdiff_t>(size))
        << index;
  }
  EXPECT_EQ(blocks.ChunkCount(), 9u);  // 4, 8, 16, 32 and five of 64 KiB
  // Freed blocks serve the next blocks of their 16 bytes, the smallest size among them too.
  std::set<void*> freed;
  for (int index = 0; index < 3; ++index) {
    freed.insert(held.back().first);
    blocks.Free(held.back().first, held.back().second);
    held.pop_back();
  }
  for (int index = 0; index < 3; ++index) {
    const std::size_t size = held.size() % 2 == 0 ? 100 : 97;  // both of 97 to 112 bytes
    held.emplace_back(static_cast<unsigned char*>(blocks.Allocate(size)), size);
  }
  EXPECT_EQ(freed.size(), 3u);
  EXPECT_EQ(std::set<void*>({held[597].first, held[598].first, held[599].first}), freed);
  for (const auto& [each, eachSize] : held) {
    ASSERT_NE(blocks.ChunkCount(), 0u);  // kept until the last block goes
    blocks.Free(each, eachSize);
  }
  EXPECT_EQ(blocks.ChunkCount(), 0u);
}

}  // namespace
