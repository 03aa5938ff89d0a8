#include "simplex/successive_lp.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {
namespace {

// Four positions; CV entries on 2 and 4, plus one entry of every other kind.
class SuccessiveLpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    saved_nseq = nseq;
    nseq = 4;
    ASSERT_EQ(allocate_array(ARR_X, array_cells[ARR_X], 2 * 4), 0);
    ASSERT_EQ(allocate_array(ARR_UPPER, array_cells[ARR_UPPER], 2 * 4), 0);
    ASSERT_EQ(allocate_array(ARR_POS_STATUS, array_cells[ARR_POS_STATUS], 4), 0);
    for (int32_t p = 1; p <= 4; ++p) {
      real_array(ARR_X)[p] = 10.0 * p;
      real_array(ARR_UPPER)[p] = 5.0 + p;
      int_array(ARR_POS_STATUS)[p] = 0;
    }
    recurse_entry_count = 7;
    ASSERT_EQ(allocate_array(ARR_RECURSE_ENTRY, array_cells[ARR_RECURSE_ENTRY],
                             recurse_entry_count * sizeof(RecurseEntry) / 4),
              0);
    RecurseEntry* e = recurse_entries();
    e[0] = RecurseEntry{3, 1, 2, 4, 64, RK_DV, {}, 1, 2.0, 0.5};
    e[1] = cv(2, 20.0f, 6);
    e[2] = RecurseEntry{0, 1, 0, 0, 64, RK_NE, {}, 0, 0.0, 0.0};
    e[3] = RecurseEntry{1, 0, 3, 0, 64, RK_SB, {}, 0, 0.0, 7.0};
    e[4] = RecurseEntry{4, 2, 1, 0, 64, RK_CL, {}, 2, 3.0, 1.5};
    e[5] = cv(4, 30.0f, 0);
    e[6] = RecurseEntry{2, 3, 1, 0, 64, RK_BX, {}, 3, 1.0, 2.5};
  }
  void TearDown() override {
    recurse_entry_count = 0;
    int_attribute(ATTR_OPTIMISER_1029) = 0;
    nseq = saved_nseq;
    KLFREEXO();
  }
  static RecurseEntry cv(int32_t column, float recorded, int32_t next) {
    RecurseEntry e{column, next, std::bit_cast<int32_t>(0.01f), std::bit_cast<int32_t>(recorded),
                   64, RK_CV, {}, 0, 0.0, 0.0};
    return e;
  }
  int32_t saved_nseq = 0;
};

TEST_F(SuccessiveLpTest, MovedColumnsAreCountedMarkedAndReported) {
  int32_t count = -5;
  // Column 2 sits at its recorded value, column 4 moved from 30 to 40.
  EXPECT_FALSE(count_moved_entries(count));
  EXPECT_EQ(count, 1);

  int_array(ARR_POS_STATUS)[2] = PS_MARK;
  mark_moved_columns();
  EXPECT_EQ(int_attribute(ATTR_OPTIMISER_1029), 1);
  EXPECT_EQ(int_array(ARR_POS_STATUS)[2] & PS_MARK, 0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[4] & PS_MARK, 0);

  EXPECT_EQ(next_recurse_column(0), 4);
  EXPECT_EQ(next_recurse_column(4), 5);
  EXPECT_DOUBLE_EQ(recorded_recurse_value(4), 30.0);
  EXPECT_DOUBLE_EQ(recorded_recurse_value(2), 20.0);
  EXPECT_DOUBLE_EQ(recorded_recurse_value(1), 0.0);

  // Within tolerance once it has settled.
  real_array(ARR_X)[4] = 30.2;
  EXPECT_TRUE(count_moved_entries(count));
  EXPECT_EQ(count, 0);
}

// Without moving columns every column keeps its own value in the solution
// file: the writer must never be steered to the recorded values.
TEST_F(SuccessiveLpTest, NoMovedColumnsLeavesTheWriterAlone) {
  for (int32_t moved : {0, -1}) {
    int_attribute(ATTR_OPTIMISER_1029) = moved;
    int_array(ARR_POS_STATUS)[4] = PS_MARK;
    EXPECT_EQ(next_recurse_column(0), nseq + 1) << moved;
  }
}

TEST_F(SuccessiveLpTest, ValuesRoundTripInEntryOrder) {
  EXPECT_EQ(count_recurse_values(), 4);
  std::vector<double> values;
  save_recurse_values(values);
  EXPECT_EQ(values, (std::vector<double>{0.5, 7.0, 1.5, 2.5}));

  for (double& v : values) v += 100.0;
  EXPECT_TRUE(restore_recurse_values(values));
  EXPECT_DOUBLE_EQ(recurse_entries()[0].current, 100.5);
  EXPECT_DOUBLE_EQ(recurse_entries()[6].current, 102.5);
  EXPECT_DOUBLE_EQ(recurse_entries()[1].current, 0.0);

  values.pop_back();
  EXPECT_FALSE(restore_recurse_values(values));
  EXPECT_DOUBLE_EQ(recurse_entries()[0].current, 100.5);
}

TEST_F(SuccessiveLpTest, MarkingProtectsNamedPositionsOnly) {
  // SB takes its column's upper bound as base.
  recurse_entry_count = 4;  // DV, CV, NE, SB
  mark_recurse_variables();
  EXPECT_DOUBLE_EQ(recurse_entries()[3].base, 6.0);

  for (int32_t p = 1; p <= 4; ++p) int_array(ARR_POS_STATUS)[p] = 0;
  recurse_entry_count = 2;  // DV on column 3, row 1, arguments 2 and 4; CV is never marked
  recurse_entries()[0].b = 0;
  mark_recurse_variables();
  EXPECT_NE(int_array(ARR_POS_STATUS)[1] & PS_PROTECTED, 0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[2] & PS_PROTECTED, 0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[3] & PS_PROTECTED, 0);
  EXPECT_EQ(int_array(ARR_POS_STATUS)[4] & PS_PROTECTED, 0);
}

}  // namespace
}  // namespace kl
