#include "value/block_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "value/block_allocator.h"
#include "value/property.h"
#include "value/context.h"

namespace {

using Vexa::BindingBlockAllocator;
using Vexa::BindingBlockPool;
using Vexa::BindingProperty;

constexpr std::size_t kPage = BindingBlockPool::kPageSize;

std::uintptr_t Address(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

// --- The pool ---

TEST(BindingBlockPoolTest, HandsOutAlignedPagesOfOneReservation) {
  BindingBlockPool pool;
  std::set<std::uintptr_t> pages;
  for (std::size_t index = 0; index < BindingBlockPool::kPagesPerReservation; ++index) {
    void* page = pool.AcquirePage();
    EXPECT_EQ(Address(page) % kPage, 0u);
    pages.insert(Address(page));
  }
  EXPECT_EQ(pages.size(), 16u);
  EXPECT_EQ(*pages.rbegin() - *pages.begin(), 15 * kPage);  // one contiguous 64 KiB block
  const Vexa::BindingBlockPoolStatistics statistics = pool.Statistics();
  EXPECT_EQ(statistics.reservations, 1u);
  EXPECT_EQ(statistics.freePages, 0u);
  EXPECT_EQ(statistics.pagesInUse, 16u);
  for (const std::uintptr_t page : pages) {
    pool.ReleasePage(reinterpret_cast<void*>(page));
  }
}

TEST(BindingBlockPoolTest, ReleasesAReservationWhenItsLastPageComesBack) {
  BindingBlockPool pool;
  std::vector<void*> first;
  for (int index = 0; index < 16; ++index) {
    first.push_back(pool.AcquirePage());
  }
  void* second = pool.AcquirePage();  // needs a second reservation
  EXPECT_EQ(pool.Statistics().reservations, 2u);
  EXPECT_EQ(pool.Statistics().freePages, 15u);
  for (int index = 0; index < 15; ++index) {
    pool.ReleasePage(first[index]);
    ASSERT_EQ(pool.Statistics().reservations, 2u);
  }
  EXPECT_EQ(pool.Statistics().freePages, 30u);
  pool.ReleasePage(first[15]);
  EXPECT_EQ(pool.Statistics().reservations, 1u);  // the whole first block went back
  EXPECT_EQ(pool.Statistics().freePages, 15u);
  pool.ReleasePage(second);
  EXPECT_EQ(pool.Statistics().reservations, 0u);
  EXPECT_EQ(pool.Statistics().freePages, 0u);
  EXPECT_EQ(pool.Statistics().pagesInUse, 0u);
}

TEST(BindingBlockPoolTest, HandsOutTheLowestFreePageAgain) {
  BindingBlockPool pool;
  std::vector<void*> pages;
  for (int index = 0; index < 16; ++index) {
    pages.push_back(pool.AcquirePage());
  }
  // Churn on a full reservation: the freed page comes straight back, nothing else moves.
  for (int round = 0; round < 1000; ++round) {
    pool.ReleasePage(pages[5]);
    ASSERT_EQ(pool.Statistics().freePages, 1u);
    ASSERT_EQ(pool.AcquirePage(), pages[5]);
  }
  pool.ReleasePage(pages[9]);
  pool.ReleasePage(pages[3]);
  EXPECT_EQ(pool.AcquirePage(), pages[3]);
  EXPECT_EQ(pool.AcquirePage(), pages[9]);
  EXPECT_EQ(pool.Statistics().reservations, 1u);
  for (void* page : pages) {
    pool.ReleasePage(page);
  }
  EXPECT_EQ(pool.Statistics().reservations, 0u);
}

TEST(BindingBlockPoolTest, TakesBackAChainUnderOneCall) {
  BindingBlockPool pool;
  void* chain = nullptr;
  for (int index = 0; index < 20; ++index) {
    void* page = pool.AcquirePage();
    std::memcpy(page, &chain, sizeof chain);
    chain = page;
  }
  EXPECT_EQ(pool.Statistics().reservations, 2u);
  pool.ReleasePageChain(chain);
  EXPECT_EQ(pool.Statistics().reservations, 0u);
  EXPECT_EQ(pool.Statistics().pagesInUse, 0u);
}

// --- The slot allocator ---

TEST(BindingBlockAllocatorTest, RoundsToClassesOfFourBytesAndStartsInline) {
  BindingBlockPool pool;
  BindingBlockAllocator blocks(pool);
  void* five = blocks.Allocate(5);
  void* eight = blocks.Allocate(8);
  EXPECT_EQ(Address(eight) - Address(five), 8u);  // one class: neighbouring 8-byte slots
  void* large = blocks.Allocate(72);
  EXPECT_EQ(Address(large) % 8, 0u);
  EXPECT_EQ(blocks.PoolPageCount(), 0u);  // all inside the inline pages
  EXPECT_EQ(pool.Statistics().pagesInUse, 0u);
  blocks.Free(five, 5);
  EXPECT_EQ(blocks.Allocate(6), five);  // the freed slot is the first free one again
  blocks.Free(eight, 8);
  blocks.Free(five, 8);
  blocks.Free(large, 72);
}

TEST(BindingBlockAllocatorTest, InlinePageThenPoolPagesWhichGoBackWhenEmpty) {
  BindingBlockPool pool;
  BindingBlockAllocator blocks(pool);
  // 144 / 72 = 2 slots, the first taken by the header: the inline page holds one block.
  void* inlineBlock = blocks.Allocate(72);
  EXPECT_EQ(blocks.PoolPageCount(), 0u);
  std::vector<void*> pooled;
  for (int index = 0; index < 56; ++index) {
    pooled.push_back(blocks.Allocate(72));
    EXPECT_EQ(Address(pooled.back()) % 8, 0u);
  }
  // A pool page holds 4096 / 72 = 56 slots less one for the header: the 56th block needs a
  // second page.
  EXPECT_EQ(blocks.PoolPageCount(), 2u);
  EXPECT_EQ(pool.Statistics().pagesInUse, 2u);
  blocks.Free(pooled.back(), 72);  // the last slot of the second page
  pooled.pop_back();
  EXPECT_EQ(blocks.PoolPageCount(), 1u);
  EXPECT_EQ(pool.Statistics().pagesInUse, 1u);
  for (void* block : pooled) {
    blocks.Free(block, 72);
  }
  EXPECT_EQ(blocks.PoolPageCount(), 0u);
  EXPECT_EQ(pool.Statistics().reservations, 0u);  // and the reservation went back too
  blocks.Free(inlineBlock, 72);
}

TEST(BindingBlockAllocatorTest, FullPagesTakeFreedSlotsAgain) {
  BindingBlockPool pool;
  BindingBlockAllocator blocks(pool);
  std::vector<void*> taken;
  for (int index = 0; index < 3000; ++index) {
    taken.push_back(blocks.Allocate(16));
  }
  const std::size_t pages = blocks.PoolPageCount();
  // Free every other block: every page keeps live slots, none is returned.
  for (std::size_t index = 0; index < taken.size(); index += 2) {
    blocks.Free(taken[index], 16);
  }
  EXPECT_EQ(blocks.PoolPageCount(), pages);
  // The same number of allocations fits into the holes without a new page.
  for (std::size_t index = 0; index < taken.size(); index += 2) {
    taken[index] = blocks.Allocate(16);
  }
  EXPECT_EQ(blocks.PoolPageCount(), pages);
  EXPECT_EQ(std::set<void*>(taken.begin(), taken.end()).size(), taken.size());
  blocks.ReleaseAll();
  EXPECT_EQ(blocks.PoolPageCount(), 0u);
  EXPECT_EQ(pool.Statistics().pagesInUse, 0u);
  EXPECT_EQ(pool.Statistics().reservations, 0u);
}

TEST(BindingBlockAllocatorTest, EverySizeClassServesManyBlocks) {
  BindingBlockPool pool;
  {
    BindingBlockAllocator blocks(pool);
    for (std::size_t size = 1; size <= BindingBlockAllocator::kLargestBlock; ++size) {
      std::vector<unsigned char*> taken;
      for (int index = 0; index < 600; ++index) {
        auto* block = static_cast<unsigned char*>(blocks.Allocate(size));
        std::memset(block, static_cast<int>(size), size);  // a block never overlaps another
        taken.push_back(block);
      }
      for (unsigned char* block : taken) {
        ASSERT_EQ(block[size - 1], static_cast<unsigned char>(size)) << size;
        blocks.Free(block, size);
      }
    }
    EXPECT_EQ(blocks.PoolPageCount(), 0u);
  }
  EXPECT_EQ(pool.Statistics().reservations, 0u);
}

// --- Values and the process pool ---

TEST(BindingValuePages, ATreeReturnsItsPagesAndReservationsWhenDestroyed) {
  BindingBlockPool& pool = BindingBlockPool::Instance();
  const Vexa::BindingBlockPoolStatistics before = pool.Statistics();
  {
    // Payload records (here one structure record per element) live in pool pages.
    BindingProperty tree;
    for (int index = 0; index < 20000; ++index) {
      tree.ElementAt(static_cast<std::size_t>(index)).Member("member") = index;
    }
    EXPECT_GT(tree.DiagnosticContext()->PoolPageCount(), 100u);
    EXPECT_GE(pool.Statistics().reservations, before.reservations + 7);
    EXPECT_EQ(pool.Statistics().pagesInUse,
              before.pagesInUse + tree.DiagnosticContext()->PoolPageCount());
  }
  EXPECT_EQ(pool.Statistics().pagesInUse, before.pagesInUse);
  EXPECT_EQ(pool.Statistics().reservations, before.reservations);
}

TEST(BindingValuePages, NestedResetsGiveEmptiedPagesBack) {
  BindingBlockPool& pool = BindingBlockPool::Instance();
  const Vexa::BindingBlockPoolStatistics before = pool.Statistics();
  BindingProperty tree;
  tree.Member("keep") = "small";
  for (int index = 0; index < 5000; ++index) {
    tree.Member("big")
        .ElementAt(static_cast<std::size_t>(index))
        .Member("k" + std::to_string(index)) = index;
  }
  const Vexa::BindingValueContext& context = *tree.DiagnosticContext();
  EXPECT_GT(context.PoolPageCount(), 25u);
  EXPECT_GT(context.HeapPageCount(), 25u);
  tree.Member("big").Reset();  // record by record: every emptied page goes back at once
  EXPECT_EQ(context.PoolPageCount(), 0u);
  EXPECT_LE(context.HeapPageCount(), 1u);  // at most the page of the member "big" itself
  EXPECT_EQ(pool.Statistics().pagesInUse, before.pagesInUse);
  EXPECT_EQ(pool.Statistics().reservations, before.reservations);
  EXPECT_EQ(tree.Member("keep").GetString(), "small");
}

// Two threads build, copy, compare and destroy trees at once: the pool is their only shared
// state, and every page must come back.
TEST(BindingValuePages, TreesOnTwoThreadsAtOnce) {
  BindingBlockPool& pool = BindingBlockPool::Instance();
  const Vexa::BindingBlockPoolStatistics before = pool.Statistics();
  auto work = [](int seed, bool* ok) {
    for (int round = 0; round < 30; ++round) {
      BindingProperty tree;
      for (int index = 0; index < 1500; ++index) {
        BindingProperty& element = tree.ElementAt(static_cast<std::size_t>(index));
        element.Member("id") = index * seed;
        element.Member("name") = "n" + std::to_string(index % 50);
        element.Member("unique" + std::to_string(index)) = true;
      }
      BindingProperty copy(tree);
      if (!(copy == tree) || copy.Size() != 1500 ||
          copy.ElementAt(1499).Member("id").GetSigned() != 1499 * seed) {
        *ok = false;
      }
      for (int index = 0; index < 1500; index += 3) {
        copy.ElementAt(static_cast<std::size_t>(index)).Reset();
      }
    }
  };
  bool firstOk = true;
  bool secondOk = true;
  std::thread first(work, 3, &firstOk);
  std::thread second(work, 5, &secondOk);
  first.join();
  second.join();
  EXPECT_TRUE(firstOk);
  EXPECT_TRUE(secondOk);
  EXPECT_EQ(pool.Statistics().pagesInUse, before.pagesInUse);
  EXPECT_EQ(pool.Statistics().reservations, before.reservations);
}

}  // namespace
