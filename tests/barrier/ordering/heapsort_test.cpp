#include "barrier/ordering/heapsort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

constexpr int32_t kGuard = -777;

// A count of 0 or 1 must neither read nor write outside a[1..count]: the
// guard in a[0] and the key of the guard must stay untouched and unread.
TEST(BarrierHeapsort, CountBelowTwoLeavesListAndGuardAlone) {
  for (int32_t count : {0, 1}) {
    std::vector<int32_t> a = {kGuard, 5};
    std::vector<int32_t> key = {0, 0, 0, 0, 0, 9};
    kl::sort_index_by_key(count, a.data(), key.data());
    EXPECT_EQ(a[0], kGuard) << count;
    EXPECT_EQ(a[1], 5) << count;
    kl::sort_int_array(count, a.data());
    EXPECT_EQ(a[0], kGuard) << count;
    EXPECT_EQ(a[1], 5) << count;
  }
  // The smallest list that is sorted at all.
  std::vector<int32_t> two = {kGuard, 9, 4};
  kl::sort_int_array(2, two.data());
  EXPECT_EQ(two, (std::vector<int32_t>{kGuard, 4, 9}));
}

TEST(BarrierHeapsort, RandomListsMatchAnIndependentSort) {
  std::mt19937 rng(20);
  for (int32_t count : {2, 3, 4, 5, 7, 8, 16, 17, 100, 1001}) {
    for (int trial = 0; trial < 5; ++trial) {
      std::uniform_int_distribution<int32_t> value(-count / 3, count / 3);
      std::vector<int32_t> a(count + 1);
      a[0] = kGuard;
      for (int32_t i = 1; i <= count; ++i) a[i] = value(rng);
      std::vector<int32_t> expected(a.begin() + 1, a.end());
      std::sort(expected.begin(), expected.end());
      kl::sort_int_array(count, a.data());
      EXPECT_EQ(a[0], kGuard);
      EXPECT_EQ(std::vector<int32_t>(a.begin() + 1, a.end()), expected) << count;

      // Indices 1..count in a shuffled order, keys with many ties.
      std::vector<int32_t> key(count + 1, kGuard);
      for (int32_t i = 1; i <= count; ++i) key[i] = value(rng);
      const std::vector<int32_t> key_before = key;
      std::vector<int32_t> index(count + 1);
      index[0] = kGuard;
      for (int32_t i = 1; i <= count; ++i) index[i] = i;
      std::shuffle(index.begin() + 1, index.end(), rng);
      kl::sort_index_by_key(count, index.data(), key.data());
      EXPECT_EQ(index[0], kGuard);
      EXPECT_EQ(key, key_before);
      for (int32_t i = 2; i <= count; ++i) EXPECT_LE(key[index[i - 1]], key[index[i]]);
      std::vector<int32_t> seen(index.begin() + 1, index.end());
      std::sort(seen.begin(), seen.end());
      for (int32_t i = 1; i <= count; ++i) ASSERT_EQ(seen[i - 1], i);
    }
  }
}

TEST(BarrierHeapsort, AscendingListComesOutUnchanged) {
  std::vector<int32_t> a = {kGuard, 1, 2, 3, 4, 5, 6, 7};
  const auto before = a;
  kl::sort_int_array(7, a.data());
  EXPECT_EQ(a, before);
  // Indices into a key array (not 1..count): the index values may be any
  // entries of the key array.
  std::vector<int32_t> key = {0, 50, 40, 30, 20, 10};
  std::vector<int32_t> index = {kGuard, 5, 4, 3, 2, 1};
  const auto index_before = index;
  kl::sort_index_by_key(5, index.data(), key.data());
  EXPECT_EQ(index, index_before);
  std::vector<int32_t> reversed = {kGuard, 1, 3, 5};
  kl::sort_index_by_key(3, reversed.data(), key.data());
  EXPECT_EQ(reversed, (std::vector<int32_t>{kGuard, 5, 3, 1}));
}

// The sort is not stable; equal keys come out in the order the heap leaves
// them, traced by hand for three equal keys: 1 2 3 -> 2 3 1.
TEST(BarrierHeapsort, EqualKeysFollowTheHeapOrder) {
  std::vector<int32_t> key = {0, 7, 7, 7};
  std::vector<int32_t> index = {kGuard, 1, 2, 3};
  kl::sort_index_by_key(3, index.data(), key.data());
  EXPECT_EQ(index, (std::vector<int32_t>{kGuard, 2, 3, 1}));
}

}  // namespace
