// The presolve record stack: its growth rule, a capacity the caller fixed,
// and records that keep their entries across growth.
#include <gtest/gtest.h>

#include <cstdint>

#include "klsol32.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/small_lps.h"

namespace kltest {
namespace {

using namespace kl;

class RecordStack : public LpSession {
 protected:
  void SetUp() override {
    LpSession::SetUp();
    ASSERT_EQ(load(transport(2, 3)), 0);
    clear_presolve_stack();
  }
  // Both stacks allocated for capacity entries, M_S as the set-up leaves it.
  static void allocate(int32_t capacity) {
    ASSERT_EQ(allocate_or_grow_array(ARR_PRESOLVE_INTS, array_cells[ARR_PRESOLVE_INTS], capacity), 0);
    ASSERT_EQ(allocate_or_grow_array(ARR_PRESOLVE_REALS, array_cells[ARR_PRESOLVE_REALS], 2 * capacity), 0);
    icv(ic::M_S) = capacity;
  }
};

// new = request + M_S + M_S / 4 + nseq: from 0 that is request + nseq; from
// 8 with request 4, 4 + 8 + 2 + nseq. The entries written stay.
TEST_F(RecordStack, GrowthFollowsItsRuleAndKeepsTheEntries) {
  allocate(0);
  ASSERT_EQ(grow_presolve_stack(5), 0);
  EXPECT_EQ(icv(ic::M_S), 5 + nseq);
  EXPECT_GE(block_words(array_cells[ARR_PRESOLVE_INTS]), 5 + nseq);
  EXPECT_GE(block_words(array_cells[ARR_PRESOLVE_REALS]), 2 * (5 + nseq));

  allocate(8);
  for (int32_t j = 1; j <= 3; ++j) ASSERT_TRUE(push_presolve_record({j, REC_BOUND_CHANGE}, {0.5 * j}));
  EXPECT_EQ(presolve_int_top, 6);
  // The next record does not fit: the stack grows by the rule, from the
  // shortfall of 4 ints.
  ASSERT_TRUE(push_presolve_record({4, 1, 2, 3, 0, REC_DUPLICATE_ROW}, {0.25}));
  EXPECT_EQ(icv(ic::M_S), 4 + 8 + 2 + nseq);
  for (const int32_t v : {int32_t{REC_DUPLICATE_ROW}, 0, 3, 2, 1, 4}) EXPECT_EQ(pop_presolve_int(), v);
  EXPECT_EQ(pop_presolve_real(), 0.25);
  for (int32_t j = 3; j >= 1; --j) {
    EXPECT_EQ(pop_presolve_int(), REC_BOUND_CHANGE);
    EXPECT_EQ(pop_presolve_int(), j);
    EXPECT_EQ(pop_presolve_real(), 0.5 * j);
  }
  EXPECT_EQ(presolve_int_top, 0);
  EXPECT_EQ(presolve_real_top, 0);
}

// A capacity the caller set is a limit: growth is refused, the record that
// does not fit is not pushed, and what was pushed before is kept.
TEST_F(RecordStack, CapacityTheCallerFixedIsALimit) {
  ASSERT_EQ(KLSETICV(KLIC_M_S, 4), 0);
  allocate(4);
  EXPECT_EQ(grow_presolve_stack(1), 1);
  ASSERT_TRUE(push_presolve_record({7, REC_BOUND_CHANGE}, {2.5}));
  EXPECT_FALSE(push_presolve_record({9, 1, REC_COLUMN_AT_BOUND}, {6.0}));
  EXPECT_EQ(icv(ic::M_S), 4);
  EXPECT_EQ(presolve_int_top, 2);
  EXPECT_EQ(presolve_real_top, 1);
  EXPECT_EQ(pop_presolve_int(), REC_BOUND_CHANGE);
  EXPECT_EQ(pop_presolve_int(), 7);
  EXPECT_EQ(pop_presolve_real(), 2.5);
}

}  // namespace
}  // namespace kltest
