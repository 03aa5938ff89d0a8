#include "runtime/arrays.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kl {
namespace {

constexpr int32_t kId = 7;

class ArraysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_array_registry();
    fail_next_allocations(0);
  }
  void TearDown() override {
    fail_next_allocations(0);
    for (int32_t slot = 1; slot <= kSlotCount; ++slot) free_problem_registry(slot);
    reset_array_registry();
  }

  static int32_t* words(void* block) { return static_cast<int32_t*>(block); }

  // A registered block of n words holding 1..n.
  static void fill_counting(void*& cell, int64_t n) {
    ASSERT_EQ(allocate_array(kId, cell, n), 0);
    for (int64_t k = 0; k < n; ++k) words(cell)[k] = static_cast<int32_t>(k + 1);
  }

  static void expect_counting(const void* block, int64_t n) {
    for (int64_t k = 0; k < n; ++k) EXPECT_EQ(static_cast<const int32_t*>(block)[k], k + 1) << "word " << k;
  }
};

TEST_F(ArraysTest, AllocationOfZeroWordsLeavesCellAndRegistryNull) {
  void* stale = &array_cells;
  array_registry[kId][1] = stale;
  EXPECT_EQ(allocate_array(kId, array_cells[kId], 0), 0);
  EXPECT_EQ(array_cells[kId], nullptr);
  EXPECT_EQ(get_registered_array(kId), nullptr);
}

TEST_F(ArraysTest, FreshBlockIsZeroedSizedAndRegisteredForTheCurrentSlot) {
  current_slot = 3;
  ASSERT_EQ(allocate_array(kId, array_cells[kId], 9), 0);
  ASSERT_NE(array_cells[kId], nullptr);
  EXPECT_EQ(block_words(array_cells[kId]), 9);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(words(array_cells[kId])[k], 0);
  EXPECT_EQ(array_registry[kId][3], array_cells[kId]);
  EXPECT_EQ(array_registry[kId][1], nullptr);
  EXPECT_EQ(get_registered_array(kId), array_cells[kId]);
}

// Large blocks released are kept and handed out again for the same size:
// whatever the earlier user wrote, in any page and at either end, must read
// as zero again, also after a large block grew in place.
TEST_F(ArraysTest, LargeBlockRequestedAgainIsZeroWherePreviouslyWritten) {
  constexpr int64_t kLarge = 3 * 1024 * 1024 / 4 + 5;  // above the mapping threshold, not page-aligned
  void*& cell = array_cells[kId];
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(allocate_array(kId, cell, kLarge), 0);
    for (int64_t k = 0; k < kLarge; k += 997) ASSERT_EQ(words(cell)[k], 0) << "word " << k;
    ASSERT_EQ(words(cell)[kLarge - 1], 0);
    for (int64_t k = round; k < kLarge; k += 1024 + round) words(cell)[k] = -1;
    words(cell)[kLarge - 1] = 7;
    if (round == 1) {
      ASSERT_EQ(allocate_or_grow_array(kId, cell, 2 * kLarge), 0);
      for (int64_t k = kLarge; k < 2 * kLarge; k += 991) ASSERT_EQ(words(cell)[k], 0) << "word " << k;
      words(cell)[2 * kLarge - 1] = 9;
      ASSERT_EQ(resize_array(kId, cell, kLarge), 0);
    }
    free_array(kId, cell);
  }
  ASSERT_EQ(allocate_array(kId, cell, kLarge), 0);
  for (int64_t k = 0; k < kLarge; ++k) ASSERT_EQ(words(cell)[k], 0) << "word " << k;
  free_array(kId, cell);
  release_kept_mappings();
}

// A large block that shrinks and grows again in its mapping: the words it
// gains back must read as zero, not as what stood there before the shrink.
TEST_F(ArraysTest, LargeBlockShrunkThenGrownIsZeroInTheWordsRegained) {
  constexpr int64_t kLarge = 3 * 1024 * 1024 / 4 + 5;
  constexpr int64_t kShrunk = kLarge - 300;  // the same last page
  void*& cell = array_cells[kId];
  ASSERT_EQ(allocate_array(kId, cell, kLarge), 0);
  for (int64_t k = kShrunk - 10; k < kLarge; ++k) words(cell)[k] = -1;
  ASSERT_EQ(resize_array(kId, cell, kShrunk), 0);
  ASSERT_EQ(allocate_or_grow_array(kId, cell, kLarge), 0);
  EXPECT_EQ(words(cell)[kShrunk - 1], -1);
  for (int64_t k = kShrunk; k < kLarge; ++k) ASSERT_EQ(words(cell)[k], 0) << "word " << k;
  free_array(kId, cell);
  release_kept_mappings();
}

// The eta file fills its large arrays from both ends. A fresh large block
// whose size is a whole number of pages, as the eta file's are, must take
// one page for its first words and one for its last: every page a tiny
// solve touches is a fault on a fresh page.
TEST_F(ArraysTest, LargeBlockOfWholePagesTouchesOnePageAtEachEnd) {
  constexpr int64_t kWords = 512 * 1024;  // 2 MB of words
  constexpr int64_t kEnd = 256;           // words written at each end
  constexpr uintptr_t kPage = 4096;
  release_kept_mappings();
  void*& cell = array_cells[kId];
  ASSERT_EQ(allocate_array(kId, cell, kWords), 0);
  for (int64_t k = 0; k < kEnd; ++k) {
    words(cell)[k] = 1;
    words(cell)[kWords - 1 - k] = 2;
  }
  if (large_blocks_mapped()) {
    const auto first = reinterpret_cast<uintptr_t>(cell) / kPage * kPage;
    const auto last = reinterpret_cast<uintptr_t>(&words(cell)[kWords - 1]) / kPage * kPage;
    std::vector<unsigned char> resident((last - first) / kPage + 1);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(first), last - first + kPage, resident.data()), 0);
    int touched = 0;
    for (const unsigned char page : resident) touched += page & 1;
    EXPECT_EQ(touched, 2);
  }
  EXPECT_EQ(words(cell)[kEnd], 0);
  EXPECT_EQ(words(cell)[kWords - 1 - kEnd], 0);
  free_array(kId, cell);
  release_kept_mappings();
}

TEST_F(ArraysTest, GrowKeepsContentsAndZeroesTheTailShrinkKeepsWhatFits) {
  void*& cell = array_cells[kId];
  fill_counting(cell, 10);
  ASSERT_EQ(allocate_or_grow_array(kId, cell, 20), 0);
  EXPECT_EQ(block_words(cell), 20);
  expect_counting(cell, 10);
  for (int k = 10; k < 20; ++k) EXPECT_EQ(words(cell)[k], 0) << "word " << k;
  EXPECT_EQ(get_registered_array(kId), cell);

  ASSERT_EQ(resize_array(kId, cell, 4), 0);
  EXPECT_EQ(block_words(cell), 4);
  expect_counting(cell, 4);

  ASSERT_EQ(allocate_or_grow_array(kId, cell, 0), 0);
  EXPECT_EQ(cell, nullptr);
  EXPECT_EQ(get_registered_array(kId), nullptr);
}

TEST_F(ArraysTest, RefusedGrowthKeepsTheOldBlockInCellAndRegistry) {
  void*& cell = array_cells[kId];
  fill_counting(cell, 10);
  void* old = cell;

  fail_next_allocations(1);
  EXPECT_EQ(allocate_or_grow_array(kId, cell, 20), kId);
  EXPECT_EQ(cell, old);
  EXPECT_EQ(get_registered_array(kId), old);
  expect_counting(cell, 10);

  fail_next_allocations(1);
  EXPECT_EQ(resize_array(kId, cell, 20), kId);
  EXPECT_EQ(cell, old);
  EXPECT_EQ(get_registered_array(kId), old);
  EXPECT_EQ(block_words(cell), 10);
  expect_counting(cell, 10);
}

TEST_F(ArraysTest, ResizeOfANullCellAllocatesNothing) {
  void*& cell = array_cells[kId];
  EXPECT_EQ(resize_array(kId, cell, 5), 0);
  EXPECT_EQ(cell, nullptr);
  EXPECT_EQ(get_registered_array(kId), nullptr);
}

TEST_F(ArraysTest, RefusedAllocationReturnsTheIdAndTheHookCountsRequests) {
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  fail_next_allocations(2);
  EXPECT_EQ(allocate_array(11, a, 4), 11);
  EXPECT_EQ(allocate_array(12, b, 4), 12);
  EXPECT_EQ(allocate_array(13, c, 4), 0);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(array_registry[13][1], c);

  void* negative = nullptr;
  EXPECT_EQ(allocate_array(14, negative, -3), 14);
  EXPECT_EQ(negative, nullptr);
}

TEST_F(ArraysTest, KeepOldAllocationRegistersOnlyPositiveIds) {
  void* unregistered = nullptr;
  ASSERT_EQ(allocate_array_keep_old(0, unregistered, 3), 0);
  EXPECT_NE(unregistered, nullptr);
  for (int id = 0; id <= kMaxArrayId; ++id) EXPECT_NE(array_registry[id][1], unregistered);
  void* cell = unregistered;
  free_array(0, cell);
  EXPECT_EQ(cell, nullptr);
}

TEST_F(ArraysTest, GrowKeepSavedThenSwapsExchangeOldAndGrownBlocks) {
  void*& cell = array_cells[kId];
  fill_counting(cell, 6);
  void* old = cell;

  ASSERT_EQ(grow_array_keep_saved(kId, cell, 6, 4), 0);
  void* grown = cell;
  ASSERT_NE(grown, old);
  EXPECT_EQ(block_words(grown), 10);
  expect_counting(grown, 6);
  EXPECT_EQ(get_registered_array(kId), grown);
  EXPECT_EQ(saved_array_registry[kId][1], old);
  expect_counting(old, 6);

  words(grown)[0] = 100;
  swap_saved_array(kId, cell);
  EXPECT_EQ(cell, old);
  EXPECT_EQ(get_registered_array(kId), old);
  EXPECT_EQ(saved_array_registry[kId][1], grown);
  EXPECT_EQ(words(cell)[0], 1);

  swap_saved_array(kId, cell);
  EXPECT_EQ(cell, grown);
  EXPECT_EQ(saved_array_registry[kId][1], old);
  EXPECT_EQ(words(cell)[0], 100);
}

TEST_F(ArraysTest, RefusedGrowKeepSavedChangesNothing) {
  void*& cell = array_cells[kId];
  fill_counting(cell, 6);
  void* old = cell;
  void* parked = nullptr;
  ASSERT_EQ(allocate_array_keep_old(0, parked, 2), 0);
  saved_array_registry[kId][1] = parked;

  fail_next_allocations(1);
  EXPECT_EQ(grow_array_keep_saved(kId, cell, 6, 4), kId);
  EXPECT_EQ(cell, old);
  EXPECT_EQ(get_registered_array(kId), old);
  EXPECT_EQ(saved_array_registry[kId][1], parked);
  expect_counting(cell, 6);
}

TEST_F(ArraysTest, FreeProblemRegistryReleasesEachBlockOnceAndClearsTheSlot) {
  void* other_slot = nullptr;
  ASSERT_EQ(allocate_array(1, array_cells[1], 8), 0);
  ASSERT_EQ(grow_array_keep_saved(1, array_cells[1], 8, 8), 0);
  ASSERT_EQ(allocate_array(98, array_cells[98], 3), 0);
  // The same block in both tables, as a caller may leave it.
  saved_array_registry[98][1] = array_registry[98][1];

  current_slot = 2;
  ASSERT_EQ(allocate_array(1, other_slot, 5), 0);
  current_slot = 1;

  free_problem_registry(1);
  for (int id = 1; id <= kMaxArrayId; ++id) {
    EXPECT_EQ(array_registry[id][1], nullptr) << id;
    EXPECT_EQ(saved_array_registry[id][1], nullptr) << id;
    EXPECT_EQ(array_cells[id], nullptr) << id;
  }
  EXPECT_EQ(array_registry[1][2], other_slot);

  // Freeing a slot that is not current leaves the working cells alone.
  ASSERT_EQ(allocate_array(5, array_cells[5], 2), 0);
  free_problem_registry(2);
  EXPECT_EQ(array_registry[1][2], nullptr);
  EXPECT_NE(array_cells[5], nullptr);

  free_problem_registry(0);
  free_problem_registry(kSlotCount + 1);
}

TEST_F(ArraysTest, NoRegistryCellWhileNoSlotIsCurrent) {
  current_slot = 0;
  void* cell = nullptr;
  ASSERT_EQ(allocate_array(kId, cell, 4), 0);
  EXPECT_EQ(get_registered_array(kId), nullptr);
  for (int slot = 0; slot <= kSlotCount; ++slot) EXPECT_EQ(array_registry[kId][slot], nullptr);
  free_array(kId, cell);
  EXPECT_EQ(cell, nullptr);
}

}  // namespace
}  // namespace kl
