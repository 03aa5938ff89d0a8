// Sorting utilities.
#include "factor/sorting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

using kl::copy_bytes;
using kl::sort_pairs_descending;
using kl::sort_records_by_pair;

TEST(SortPairs, DescendingKeysCarryTheirIndices) {
  std::vector<double> keys{1.0, 3.0, 2.0};
  std::vector<int32_t> indices{1, 2, 3};
  const int32_t n = 3;
  sort_pairs_descending(keys.data(), indices.data(), n);
  EXPECT_EQ(keys, (std::vector<double>{3.0, 2.0, 1.0}));
  EXPECT_EQ(indices, (std::vector<int32_t>{2, 3, 1}));

  std::mt19937 rng(1);
  std::uniform_int_distribution<int> key(0, 20);
  for (int32_t size : {0, 1, 2, 7, 8, 100, 1000}) {
    std::vector<double> k(static_cast<size_t>(size));
    std::vector<int32_t> idx(static_cast<size_t>(size));
    for (int32_t i = 0; i < size; ++i) {
      k[i] = key(rng);
      idx[i] = i;
    }
    const std::vector<double> original = k;
    sort_pairs_descending(k.data(), idx.data(), size);
    EXPECT_TRUE(std::is_sorted(k.begin(), k.end(), std::greater<double>())) << size;
    for (int32_t i = 0; i < size; ++i) EXPECT_EQ(original[idx[i]], k[i]) << size;
  }
}

std::vector<std::pair<int32_t, int32_t>> sorted_records(std::vector<std::pair<int32_t, int32_t>> records) {
  std::vector<int32_t> flat;
  for (const auto& [a, b] : records) {
    flat.push_back(a);
    flat.push_back(b);
  }
  sort_records_by_pair(flat.data(), static_cast<int32_t>(records.size()), 8);
  for (size_t k = 0; k < records.size(); ++k) records[k] = {flat[2 * k], flat[2 * k + 1]};
  return records;
}

TEST(SortRecords, OrderBySecondThenFirstInt) {
  EXPECT_EQ(sorted_records({{5, 2}, {1, 2}, {7, 1}}),
            (std::vector<std::pair<int32_t, int32_t>>{{7, 1}, {1, 2}, {5, 2}}));
  EXPECT_EQ(sorted_records({}), (std::vector<std::pair<int32_t, int32_t>>{}));
  EXPECT_EQ(sorted_records({{4, 4}}), (std::vector<std::pair<int32_t, int32_t>>{{4, 4}}));
  std::mt19937 rng(2);
  std::uniform_int_distribution<int32_t> key(0, 9);
  // 11 records take only the insertion sort, 12 partition once; larger ones recurse.
  for (int size : {11, 12, 13, 50, 1000}) {
    std::vector<std::pair<int32_t, int32_t>> records;
    for (int k = 0; k < size; ++k) records.push_back({key(rng), key(rng)});
    std::vector<std::pair<int32_t, int32_t>> expected = records;
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return std::pair(a.second, a.first) < std::pair(b.second, b.first); });
    EXPECT_EQ(sorted_records(records), expected) << size;
  }
}

TEST(SortRecords, SixteenByteRecordsMoveWhole) {
  struct Record {
    int32_t first, second, a, b;
  };
  std::vector<Record> records{{3, 9, 30, 31}, {1, 9, 10, 11}, {2, 0, 20, 21}};
  sort_records_by_pair(records.data(), 3, 16);
  EXPECT_EQ(records[0].a, 20);
  EXPECT_EQ(records[1].a, 10);
  EXPECT_EQ(records[2].b, 31);
}

TEST(CopyBytes, CopiesNothingForCountsBelowOne) {
  const char source[] = "abcdef";
  for (int32_t n : {0, -3}) {
    char destination[] = "xxxxxx";
    copy_bytes(source, n, destination);
    EXPECT_STREQ(destination, "xxxxxx");
  }
  char destination[] = "xxxxxx";
  const int32_t five = 5;
  copy_bytes(source, five, destination);
  EXPECT_STREQ(destination, "abcdex");
}

}  // namespace
