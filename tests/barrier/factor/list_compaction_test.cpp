#include "barrier/factor/list_compaction.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Lists 1..4 in a storage of 30 entries; storage order given by `order`.
struct ListStorage {
  std::vector<int32_t> start, length, next;
  std::vector<int32_t> index;
  std::vector<double> value;
  int32_t head = 0;

  ListStorage(const std::vector<int32_t>& starts, const std::vector<int32_t>& lengths,
              const std::vector<int32_t>& order, int32_t size)
      : start(starts), length(lengths), next(starts.size(), 0), index(size + 1, -1),
        value(size + 1, -1.0) {
    head = order.empty() ? 0 : order[0];
    for (size_t k = 0; k + 1 < order.size(); ++k) next[order[k]] = order[k + 1];
    // Entry e of list l holds 100 l + offset, value the same over 8.
    for (size_t l = 1; l < starts.size(); ++l)
      for (int32_t k = 0; k < lengths[l]; ++k) {
        index[starts[l] + k] = static_cast<int32_t>(100 * l) + k;
        value[starts[l] + k] = (100.0 * l + k) / 8;
      }
  }
  std::vector<int32_t> contents(int32_t l) const {
    return std::vector<int32_t>(index.begin() + start[l], index.begin() + start[l] + length[l]);
  }
};

void expect_list_intact(const ListStorage& s, int32_t l, bool with_values) {
  for (int32_t k = 0; k < s.length[l]; ++k) {
    EXPECT_EQ(s.index[s.start[l] + k], 100 * l + k) << "list " << l;
    if (with_values) {
      EXPECT_EQ(s.value[s.start[l] + k], (100.0 * l + k) / 8) << "list " << l;
    }
  }
}

TEST(BarrierListCompaction, StorageWithoutGapsIsLeftAloneAndReportsRoom) {
  kl::barrier_params params;
  // Lists packed from 6 (base 5) in order 2, 1, 3.
  ListStorage s({0, 9, 6, 12}, {0, 3, 3, 4}, {2, 1, 3}, 30);
  const auto index_before = s.index;
  const auto value_before = s.value;
  int32_t room = 0;
  int32_t status = 7;  // not ours to clear
  kl::compact_value_lists(params, 10, room, 30, 5, s.start.data(), s.length.data(), s.head,
                          s.next.data(), s.index.data(), s.value.data(), status);
  EXPECT_EQ(status, 7);
  EXPECT_EQ(room, 30 - 16 - 1);
  EXPECT_EQ(s.start, (std::vector<int32_t>{0, 9, 6, 12}));
  EXPECT_EQ(s.index, index_before);
  EXPECT_EQ(s.value, value_before);

  ListStorage t({0, 1, 4}, {0, 3, 2}, {1, 2}, 20);
  status = 0;
  kl::compact_index_lists(params, 14, 20, room, t.start.data(), t.length.data(), t.head,
                          t.next.data(), t.index.data(), status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(room, 20 - 6);
  EXPECT_EQ(t.start, (std::vector<int32_t>{0, 1, 4}));
}

TEST(BarrierListCompaction, GapsCloseInStorageOrderWithValuesAlong) {
  kl::barrier_params params;
  // Storage order 3, 1, 4, 2: list 3 lies inside the base region (left
  // alone), list 1 sits behind a gap, list 4 is empty in the middle, list 2
  // overlaps its own new place.
  ListStorage s({0, 12, 20, 2, 8}, {0, 4, 5, 3, 0}, {3, 1, 4, 2}, 30);
  int32_t room = 0;
  int32_t status = 0;
  kl::compact_value_lists(params, 3, room, 30, 5, s.start.data(), s.length.data(), s.head,
                          s.next.data(), s.index.data(), s.value.data(), status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(s.start[3], 2);   // below base: untouched
  EXPECT_EQ(s.start[1], 6);   // moved down to base + 1
  EXPECT_EQ(s.start[4], 10);  // empty list: the target when it was met
  EXPECT_EQ(s.start[2], 10);  // 20 -> 10
  EXPECT_EQ(room, 30 - 15 - 1);
  for (int32_t l = 1; l <= 4; ++l) expect_list_intact(s, l, true);

  // Index lists from entry 1, with a list overlapping its new place by all
  // but one entry.
  ListStorage t({0, 2, 7, 13}, {0, 5, 6, 1}, {1, 2, 3}, 20);
  status = 0;
  kl::compact_index_lists(params, 0, 20, room, t.start.data(), t.length.data(), t.head,
                          t.next.data(), t.index.data(), status);
  EXPECT_EQ(t.start, (std::vector<int32_t>{0, 1, 6, 12}));
  EXPECT_EQ(room, 20 - 13);
  for (int32_t l = 1; l <= 3; ++l) expect_list_intact(t, l, false);
}

TEST(BarrierListCompaction, TooLittleRoomGivesSpaceShortButStillCompacts) {
  kl::barrier_params params;
  ListStorage s({0, 10, 20}, {0, 4, 4}, {1, 2}, 30);
  int32_t room = 0;
  int32_t status = 0;
  // After compaction from 1: lists end at 8, room 30 - 9 - 1 = 20.
  kl::compact_value_lists(params, 21, room, 30, 0, s.start.data(), s.length.data(), s.head,
                          s.next.data(), s.index.data(), s.value.data(), status);
  EXPECT_EQ(status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(room, 20);
  EXPECT_EQ(s.start, (std::vector<int32_t>{0, 1, 5}));
  for (int32_t l = 1; l <= 2; ++l) expect_list_intact(s, l, true);
  // Exactly the need is enough.
  status = 0;
  kl::compact_value_lists(params, 20, room, 30, 0, s.start.data(), s.length.data(), s.head,
                          s.next.data(), s.index.data(), s.value.data(), status);
  EXPECT_EQ(status, 0);

  ListStorage t({0, 6, 12}, {0, 2, 3}, {1, 2}, 16);
  status = 0;
  kl::compact_index_lists(params, 12, 16, room, t.start.data(), t.length.data(), t.head,
                          t.next.data(), t.index.data(), status);
  EXPECT_EQ(status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(room, 16 - 6);
  EXPECT_EQ(t.start, (std::vector<int32_t>{0, 1, 3}));
  for (int32_t l = 1; l <= 2; ++l) expect_list_intact(t, l, false);

  // No lists at all: the whole area is free.
  status = 0;
  kl::compact_index_lists(params, 0, 16, room, t.start.data(), t.length.data(), 0,
                          t.next.data(), t.index.data(), status);
  EXPECT_EQ(room, 15);
}

}  // namespace
