// Parallel columns: merging, dominance, the two-entry and one-entry
// equality rows, the conflicts, and the records left for postsolve.
#include <gtest/gtest.h>

#include <cmath>

#include "factor/simplex_state.h"
#include "presolve/duplicates.h"
#include "presolve/record_stack.h"
#include "presolve_state_fixture.h"

namespace kltest {
namespace {

using namespace kl;

constexpr double kInf = 1e20;

struct Col {
  double cost, lower, upper;
};

// Two columns with the same entries (times `ratio` for the second) in rows
// 2x + y <= 20 and x + 3y >= 1, plus optional extra rows in `rows`.
ArrayProblem pair_problem(Col a, Col b, double ratio = 1.0) {
  ArrayProblem p;
  p.row('L', 20.0);
  p.row('G', 1.0);
  p.column(a.cost, a.lower, a.upper, {{0, 2.0}, {1, 1.0}});
  p.column(b.cost, b.lower, b.upper, {{0, 2.0 * ratio}, {1, ratio}});
  return p;
}

class ParallelColumnsTest : public PresolveStateTest {
 protected:
  int32_t run(int32_t& outcome) {
    sense_factor = 1.0;
    columns_removed = rows_removed = elements_removed = 0;
    return presolve_parallel_columns(outcome, columns_removed, rows_removed, elements_removed);
  }
  void restart() {
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
  int32_t columns_removed = 0, rows_removed = 0, elements_removed = 0;
};

TEST_F(ParallelColumnsTest, EqualCostsMergeIntoOneColumnWithSummedBounds) {
  load(pair_problem({1.0, 0.0, 5.0}, {1.0, 0.0, 3.0}));
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(columns_removed, 1);
  EXPECT_EQ(elements_removed, 2);
  EXPECT_EQ(lower(col(0)), 0.0);
  EXPECT_EQ(upper(col(0)), 8.0);
  EXPECT_NE(status(col(1)) & PS_FIXED, 0);
  const PresolveRecord r = pop_record(5, 6);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{col(0), col(1), 0, 0, REC_DUPLICATE_COLUMN}));
  EXPECT_EQ(r.reals, (std::vector<double>{1.0, 0.0, 5.0, 0.0, 3.0, 0.0}));
  EXPECT_EQ(presolve_int_top, 0);
}

TEST_F(ParallelColumnsTest, NegativeRatioMergeCombinesOppositeBounds) {
  // x + r y with r = -2, y in [1, 4]: x's [0, 5] becomes [-8, 3].
  load(pair_problem({1.0, 0.0, 5.0}, {-2.0, 1.0, 4.0}, -2.0));
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(lower(col(0)), -8.0);
  EXPECT_EQ(upper(col(0)), 3.0);
  const PresolveRecord r = pop_record(5, 6);
  EXPECT_EQ(r.reals, (std::vector<double>{-2.0, 0.0, 5.0, 1.0, 4.0, 0.0}));
}

// x + r y keeps x's finite bound when r times the bound of y that feeds it
// is 0: y goes to that bound, and x + r y keeps its range. Fixed at its
// other bound, y would shift the range (x in [0, inf) and y in [-4, 0] with
// r = -1.5 would make x - 1.5 y at least 6).
TEST_F(ParallelColumnsTest, BoundThatDoesNotMoveTakesThePartnerToTheBoundThatFedIt) {
  struct Case {
    const char* name;
    Col x, y;
    double ratio;
    int32_t at_lower;
  };
  const Case cases[] = {
      {"negative ratio, x's lower bound", {0.0, 0.0, kInf}, {0.0, -4.0, 0.0}, -1.5, 0},
      {"positive ratio, x's lower bound", {0.0, 0.0, kInf}, {0.0, 0.0, 4.0}, 2.0, 1},
      {"positive ratio, x's upper bound", {0.0, -kInf, 5.0}, {0.0, -3.0, 0.0}, 2.0, 0},
      {"negative ratio, x's upper bound", {0.0, -kInf, 5.0}, {0.0, 0.0, 3.0}, -1.0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    load(pair_problem(c.x, c.y, c.ratio));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(lower(col(0)), c.x.lower);
    EXPECT_EQ(upper(col(0)), c.x.upper);
    EXPECT_NE(status(col(1)) & PS_FIXED, 0);
    const PresolveRecord r = pop_record(5, 1);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{col(0), col(1), c.at_lower, 1 - c.at_lower, REC_DUPLICATE_COLUMN}));
    EXPECT_EQ(r.reals[0], 0.0);
    restart();
  }
}

TEST_F(ParallelColumnsTest, DearerColumnGoesToItsLowerBoundOrProvesUnbounded) {
  load(pair_problem({1.0, 0.0, kInf}, {2.0, 2.0, 10.0}));
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  EXPECT_NE(status(col(1)) & PS_FIXED, 0);
  EXPECT_DOUBLE_EQ(dcv(kObjectiveConstantSlot), 4.0);
  EXPECT_DOUBLE_EQ(work_rhs(1), 16.0);
  EXPECT_DOUBLE_EQ(work_rhs(2), -1.0);
  PresolveRecord r = pop_record(5, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{col(0), col(1), 1, 0, REC_DUPLICATE_COLUMN}));
  EXPECT_EQ(r.reals[0], 2.0);

  restart();
  load(pair_problem({1.0, 0.0, kInf}, {2.0, -kInf, 10.0}));
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 1);
  EXPECT_EQ(columns_removed, 0);
  r = pop_record(5, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{col(1), col(0), 1, 0, REC_DUPLICATE_COLUMN}));
}

TEST_F(ParallelColumnsTest, FreeColumnMakesItsBoundedPartnerGoToABound) {
  struct Case {
    double lower, upper, fixed_at;
    int32_t at_lower;
  };
  for (const Case& c : {Case{1.0, 6.0, 1.0, 1}, Case{-kInf, 6.0, 6.0, 0}}) {
    SCOPED_TRACE(c.lower);
    load(pair_problem({1.0, c.lower, c.upper}, {1.0, -kInf, kInf}));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(outcome, 0);
    EXPECT_NE(status(col(0)) & PS_FIXED, 0);
    const PresolveRecord r = pop_record(5, 1);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{col(1), col(0), c.at_lower, 1 - c.at_lower, REC_DUPLICATE_COLUMN}));
    EXPECT_EQ(r.reals[0], c.fixed_at);
    restart();
  }
}

TEST_F(ParallelColumnsTest, TwoEntryEqualityLeavesOneColumnThenFixesIt) {
  // x + y = 4 alone, x cheaper: y goes to 0, then x is fixed at 4 by the
  // row, which leaves the problem (type 10 on top of type 9).
  ArrayProblem p;
  p.row('E', 4.0);
  p.column(1.0, 0.0, 10.0, {{0, 1.0}});
  p.column(2.0, 0.0, 10.0, {{0, 1.0}});
  load(p);
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(columns_removed, 2);
  EXPECT_EQ(rows_removed, 1);
  EXPECT_NE(status(1) & PS_FREE, 0);
  EXPECT_EQ(row_type(1), ROW_N);
  EXPECT_DOUBLE_EQ(dcv(kObjectiveConstantSlot), 4.0);
  const PresolveRecord basic = pop_record(4, 3);
  EXPECT_EQ(basic.ints, (std::vector<int32_t>{0, 1, -col(0), REC_DUPLICATE_COLUMN_BASIC}));
  EXPECT_EQ(basic.reals, (std::vector<double>{1.0, 1.0, 4.0}));
  const PresolveRecord fixed = pop_record(5, 1);
  EXPECT_EQ(fixed.ints, (std::vector<int32_t>{col(0), col(1), 1, 0, REC_DUPLICATE_COLUMN}));
  EXPECT_EQ(fixed.reals[0], 0.0);
  EXPECT_EQ(presolve_int_top, 0);
}

TEST_F(ParallelColumnsTest, TwoEntryEqualityOutOfReachIsInfeasible) {
  ArrayProblem p;
  p.row('E', 25.0);
  p.column(1.0, 0.0, 10.0, {{0, 1.0}});
  p.column(2.0, 0.0, 10.0, {{0, 1.0}});
  load(p);
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 1);
  const PresolveRecord r = pop_record(5, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{-col(0), col(1), 1, 0, REC_DUPLICATE_COLUMN}));
}

TEST_F(ParallelColumnsTest, ColumnsLeftAlone) {
  // Nonbasic at opposite bounds under IFNBAS 1; then each excluded kind.
  load(pair_problem({1.0, 0.0, 5.0}, {1.0, 0.0, 3.0}));
  icv(ic::IFNBAS) = 1;
  int_array(ARR_POS_STATUS)[col(1)] |= PS_AT_UPPER;
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(columns_removed, 0);
  EXPECT_EQ(presolve_int_top, 0);
  for (uint32_t bit : {PS_ENTITY, PS_QUADRATIC, PS_PROTECTED}) {
    SCOPED_TRACE(bit);
    restart();
    load(pair_problem({1.0, 0.0, 5.0}, {1.0, 0.0, 3.0}));
    int_array(ARR_POS_STATUS)[col(1)] |= static_cast<int32_t>(bit);
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(columns_removed, 0);
    EXPECT_EQ(presolve_int_top, 0);
  }
}

TEST_F(ParallelColumnsTest, BasicRemovedColumnHandsItsPlaceToTheKeptOne) {
  load(pair_problem({1.0, 0.0, 5.0}, {1.0, 0.0, 3.0}));
  int_array(ARR_POS_STATUS)[col(1)] |= PS_BASIC;
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_NE(status(col(0)) & PS_BASIC, 0);
  EXPECT_EQ(status(col(1)) & PS_BASIC, 0);
}

TEST_F(ParallelColumnsTest, RefusedStackGrowthStopsWithStatus4) {
  load(pair_problem({1.0, 0.0, 5.0}, {1.0, 0.0, 3.0}));
  ASSERT_EQ(KLSETICV(KLIC_M_S, 3), 0);
  int32_t outcome = -1;
  EXPECT_EQ(run(outcome), 4);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(presolve_int_top, 0);
}

}  // namespace
}  // namespace kltest
