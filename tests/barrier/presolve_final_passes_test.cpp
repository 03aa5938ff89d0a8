// The barrier presolve's bound passes (implied bounds, doubleton
// equations), duplicate rows and columns, dependent equality rows and the
// refused sparsification, on small problems: the records each leaves, its
// verdicts, and the whole solve with it against the same solve without it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "barrier/pipeline.h"
#include "barrier/presolve/presolve_data.h"
#include "support/barrier_pipeline_fixture.h"

namespace {

using kltest::barrier_pipeline::expect_same_optimum;
using kltest::barrier_pipeline::expect_solution;
using kltest::barrier_pipeline::kInf;
using kltest::barrier_pipeline::Problem;
using kltest::barrier_pipeline::Solve;

using kltest::barrier_pipeline::with_presolve;
using kltest::barrier_pipeline::DirectStages;

Problem::Entry e(int32_t row, double value) { return {row, value}; }

// ---------------------------------------------------------------------------
// Implied bounds

// min -x1 - 2 x2 + x3, x1, x2 in [0, 1], x3 in [2, 2 + 1e-9];
//   r1: x1 + x2 = 1   (each column's bounds follow from the other's)
//   r2: x2 + x3 <= 4
Problem implied_problem() {
  Problem p;
  p.cost = {-1.0, -2.0, 1.0};
  p.col_lower = {0.0, 0.0, 2.0};
  p.col_upper = {1.0, 1.0, 2.0 + 1e-9};
  p.columns = {{e(1, 1.0)}, {e(1, 1.0), e(2, 1.0)}, {e(2, 1.0)}};
  p.row_lo = {1.0, -kInf};
  p.row_hi = {1.0, 4.0};
  p.rhs = {0.0, 0.0};
  return p;
}

TEST(BarrierPresolveImpliedBounds, DropsImpliedBoundsKeepsThemAndFixesNearlyFixedColumns) {
  DirectStages st(implied_problem());
  ASSERT_EQ(st.first(0x20), 0);
  const kl::BarrierWorkArrays& a = st.s.a;
  // x1's bounds are what r1 and x2's bounds imply: both dropped, kept in
  // the saved arrays (lower in dx, upper in q_dx).
  EXPECT_LE(a.lower[1], -kInf);
  EXPECT_GE(a.upper[1], kInf);
  EXPECT_EQ(a.dx[1], 0.0);
  EXPECT_EQ(a.q_dx[1], 1.0);
  // x2 then keeps its own: with x1 free, r1 implies nothing about it.
  EXPECT_EQ(a.lower[2], 0.0);
  EXPECT_EQ(a.upper[2], 1.0);
  EXPECT_LE(a.dx[2], -kInf) << "nothing to put back";
  // x3's bounds meet within PRESFEAS: fixed at the midpoint.
  EXPECT_EQ(a.var_state[3], -8);
  EXPECT_DOUBLE_EQ(a.lower[3], 2.0 + 0.5e-9);
  EXPECT_DOUBLE_EQ(a.upper[3], a.lower[3]);
  EXPECT_NEAR(st.constant, 2.0 + 0.5e-9, 1e-15);
}

TEST(BarrierPresolveImpliedBounds, CrossedImpliedBoundsAreInfeasible) {
  Problem p = implied_problem();
  p.row_lo[0] = p.row_hi[0] = 5.0;  // x1 + x2 = 5 with both at most 1
  DirectStages st(p);
  EXPECT_EQ(st.first(0x20), kl::kPresolveInfeasible);
  int32_t culprits = 0;
  for (int32_t k = 1; k <= 5; ++k) culprits += st.s.a.var_state[k] == 3 ? 1 : 0;
  EXPECT_EQ(culprits, 1);
}

TEST(BarrierPresolveImpliedBounds, ZeroSweepsOnlyDropExactBounds) {
  // x1 <= 5 is looser than r1 makes it (x1 <= 1): only propagation would
  // tighten it, and with BNDLOOP 0 nothing propagates.
  Problem p = implied_problem();
  p.col_upper[0] = 5.0;
  DirectStages st(p);
  st.s.params.BNDLOOP = 0;
  ASSERT_EQ(st.first(0x20), 0);
  EXPECT_EQ(st.s.a.upper[1], 5.0);
  EXPECT_GE(st.s.a.q_dx[1], kInf);
}

// min -x1 + x2, x1 in [0, 20], x2 >= 0; r1: x1 + x2 <= 0. The rows squeeze
// x1 onto its lower bound, but its cost pushes it up: fixed there, x1 would
// carry a reduced cost of the wrong sign. It keeps its own lower bound, its
// tightened upper bound is given up, and the row's dual holds the price.
Problem squeezed_problem() {
  Problem p;
  p.cost = {-1.0, 1.0};
  p.col_lower = {0.0, 0.0};
  p.col_upper = {20.0, kInf};
  p.columns = {{e(1, 1.0)}, {e(1, 1.0)}};
  p.row_lo = {-kInf};
  p.row_hi = {0.0};
  p.rhs = {0.0};
  return p;
}

TEST(BarrierPresolveImpliedBounds, ColumnSqueezedShutByTheRowsIsNotFixed) {
  DirectStages st(squeezed_problem());
  ASSERT_EQ(st.first(0x20), 0);
  EXPECT_GE(st.s.a.var_state[1], -1);
  EXPECT_GE(st.s.a.upper[1], kInf);
  EXPECT_EQ(st.s.a.q_dx[1], 20.0);
  expect_same_optimum(squeezed_problem(), 0x20, "squeezed column");
  expect_same_optimum(squeezed_problem(), 0x820, "squeezed column, bounds put back");
}

TEST(BarrierPresolveImpliedBounds, RestoredOptimumWithAndWithoutThePutBack) {
  expect_same_optimum(implied_problem(), 0x20, "implied bounds");
  expect_same_optimum(implied_problem(), 0x820, "implied bounds put back");
}

// ---------------------------------------------------------------------------
// Doubleton equations

// min -x1 - x2 - x3, x1 in [0, 3], x2 in [0, 10], x3 in [0, 1];
//   r1: 2 x1 - x2 = 0     (two entries, equality: x1's bounds go to x2)
//   r2: x2 + x3 <= 20     (gives x2 more entries than x1)
Problem doubleton_problem() {
  Problem p;
  p.cost = {-1.0, -1.0, -1.0};
  p.col_lower = {0.0, 0.0, 0.0};
  p.col_upper = {3.0, 10.0, 1.0};
  p.columns = {{e(1, 2.0)}, {e(1, -1.0), e(2, 1.0)}, {e(2, 1.0)}};
  p.row_lo = {0.0, -kInf};
  p.row_hi = {0.0, 20.0};
  p.rhs = {0.0, 0.0};
  return p;
}

TEST(BarrierPresolveDoubletons, BoundsThatTheOtherColumnImpliesGo) {
  {
    // x2 <= 6 is what x1 <= 3 would need: x2's own bound 10 does not imply
    // it, so x1 keeps its upper bound and x2 keeps its own; x1 >= 0 is
    // what x2 >= 0 gives and goes.
    DirectStages st(doubleton_problem());
    ASSERT_EQ(st.first(0x80), 0);
    const kl::BarrierWorkArrays& a = st.s.a;
    EXPECT_LE(a.lower[1], -kInf);
    EXPECT_EQ(a.upper[1], 3.0);
    EXPECT_EQ(a.lower[2], 0.0);
    EXPECT_EQ(a.upper[2], 10.0);
  }
  {
    // With x2 in [0, 6] both of x1's bounds follow from x2's: x1 is free.
    Problem p = doubleton_problem();
    p.col_upper[1] = 6.0;
    DirectStages st(p);
    ASSERT_EQ(st.first(0x80), 0);
    const kl::BarrierWorkArrays& a = st.s.a;
    EXPECT_LE(a.lower[1], -kInf);
    EXPECT_GE(a.upper[1], kInf);
    EXPECT_EQ(a.upper[2], 6.0);
    EXPECT_GE(a.q_dx[1], kInf) << "a dropped bound is not put back";
  }
}

TEST(BarrierPresolveDoubletons, RowWithAFreeColumnIsLeftAlone) {
  Problem p = doubleton_problem();
  p.col_lower[1] = -kInf;
  p.col_upper[1] = kInf;
  DirectStages st(p);
  ASSERT_EQ(st.first(0x80), 0);
  EXPECT_EQ(st.s.a.lower[1], 0.0);
  EXPECT_EQ(st.s.a.upper[1], 3.0);
}

TEST(BarrierPresolveDoubletons, TransferThatEmptiesTheOtherRangeIsInfeasible) {
  Problem p = doubleton_problem();
  p.col_lower[0] = 5.0;  // x1 >= 5 needs x2 >= 10 ...
  p.col_upper[0] = 6.0;
  p.col_upper[1] = 8.0;  // ... which x2 cannot reach
  DirectStages st(p);
  EXPECT_EQ(st.first(0x80), kl::kPresolveInfeasible);
  EXPECT_EQ(st.s.a.var_state[3 + 1], 3);
}

TEST(BarrierPresolveDoubletons, RestoredOptimum) {
  // At the optimum x1 sits at its upper bound, which x2's own range does
  // not imply: had it moved onto x2, x2 would rest inside its own bounds
  // with a nonzero reduced cost.
  expect_same_optimum(doubleton_problem(), 0x80, "doubleton, x1 at a bound of its own");
  Problem p = doubleton_problem();
  p.col_upper[1] = 6.0;
  expect_same_optimum(p, 0x80, "doubleton, x1 free");
}

// ---------------------------------------------------------------------------
// Duplicate rows and columns

// min x1 + 2 x2 + x3, x >= 0, x3 <= 4;
//   r1: x1 + x2 >= lo1        (parallel to r2)
//   r2: 2 x1 + 2 x2 <= 2 hi2
//   r3: x2 + x3 >= 1
Problem duplicate_rows_problem(double lo1, double hi2) {
  Problem p;
  p.cost = {1.0, 2.0, 1.0};
  p.col_lower = {0.0, 0.0, 0.0};
  p.col_upper = {kInf, kInf, 4.0};
  p.columns = {{e(1, 1.0), e(2, 2.0)}, {e(1, 1.0), e(2, 2.0), e(3, 1.0)}, {e(3, 1.0)}};
  p.row_lo = {lo1, -kInf, 1.0};
  p.row_hi = {kInf, 2.0 * hi2, kInf};
  p.rhs = {0.0, 0.0, 0.0};
  return p;
}

TEST(BarrierPresolveDuplicates, ParallelRowMergesIntoTheLaterOne) {
  DirectStages st(duplicate_rows_problem(1.0, 3.0));
  ASSERT_EQ(st.first(0x40), 0);
  const int32_t n = 3;
  const kl::BarrierWorkArrays& a = st.s.a;
  EXPECT_EQ(a.var_state[n + 1], -(19 + n + 2));
  EXPECT_DOUBLE_EQ(a.upper[n + 1], 0.5) << "ratio: a_1 = 0.5 a_2";
  EXPECT_DOUBLE_EQ(a.lower[n + 1], 1.0) << "r2's lower bound came from r1";
  EXPECT_DOUBLE_EQ(a.lower[n + 2], 2.0);
  EXPECT_DOUBLE_EQ(a.upper[n + 2], 6.0);
  // Neither column lost its last other entry, so none is listed.
  EXPECT_EQ(a.factor_last[1] - a.factor_first[1] + 1, 1) << "x1 keeps only r2";
  expect_same_optimum(duplicate_rows_problem(1.0, 3.0), 0x40, "duplicate rows");
}

TEST(BarrierPresolveDuplicates, ParallelRowsWithEmptyIntersectionAreInfeasible) {
  DirectStages st(duplicate_rows_problem(4.0, 3.0));
  EXPECT_EQ(st.first(0x40), kl::kPresolveInfeasible);
  const int32_t n = 3;
  EXPECT_EQ(st.s.a.var_state[n + 1], 3);
  EXPECT_EQ(st.s.a.var_state[n + 2], 3);
}

TEST(BarrierPresolveDuplicates, RowsParallelOnlyTo1e14AreKept) {
  Problem p = duplicate_rows_problem(1.0, 3.0);
  p.columns[1][1].value = 2.0 * (1.0 + 1e-14);
  DirectStages st(p);
  ASSERT_EQ(st.first(0x40), 0);
  EXPECT_EQ(st.s.a.var_state[3 + 1], 0);
}

// min x1 + 2 x2 + x3, x1 in [0, 2], x2 in [1, inf), x3 in [0, 4];
// x2's column is twice x1's and so is its cost.
//   r1: x1 + 2 x2 + x3 >= 3
//   r2: x1 + 2 x2 <= 8
Problem duplicate_columns_problem(double cost2) {
  Problem p;
  p.cost = {1.0, cost2, 1.0};
  p.col_lower = {0.0, 1.0, 0.0};
  p.col_upper = {2.0, kInf, 4.0};
  p.columns = {{e(1, 1.0), e(2, 1.0)}, {e(1, 2.0), e(2, 2.0)}, {e(1, 1.0)}};
  p.row_lo = {3.0, -kInf};
  p.row_hi = {kInf, 8.0};
  p.rhs = {0.0, 0.0};
  return p;
}

TEST(BarrierPresolveDuplicates, ParallelColumnMergesIntoTheLaterOne) {
  DirectStages st(duplicate_columns_problem(2.0));
  ASSERT_EQ(st.first(0x40), 0);
  const kl::BarrierWorkArrays& a = st.s.a;
  // x1 stands in x2 + 0.5 x1: x2 + [0, 1] = [1, inf).
  EXPECT_EQ(a.var_state[1], -(19 + 2));
  EXPECT_DOUBLE_EQ(a.cost[1], 0.5);
  EXPECT_DOUBLE_EQ(a.lower[1], 0.0);
  EXPECT_DOUBLE_EQ(a.upper[1], 1.0);
  EXPECT_EQ(a.col_bound_code[1], 0);
  EXPECT_DOUBLE_EQ(a.lower[2], 1.0);
  EXPECT_GE(a.upper[2], kInf);
  expect_same_optimum(duplicate_columns_problem(2.0), 0x40, "duplicate columns");
}

TEST(BarrierPresolveDuplicates, ColumnsWithCostsOutOfRatioAreKept) {
  DirectStages st(duplicate_columns_problem(3.0));
  ASSERT_EQ(st.first(0x40), 0);
  EXPECT_EQ(st.s.a.var_state[1], 0);
}

TEST(BarrierPresolveDuplicates, MergedFreeLowerSideLeavesTheKeptColumnWithout) {
  // x1 without a lower bound merged into x2 with one: the kept column has
  // none either, and x1's lower cell holds x2's old lower bound (code 4).
  Problem p = duplicate_columns_problem(2.0);
  p.col_lower[0] = -kInf;
  DirectStages st(p);
  ASSERT_EQ(st.first(0x40), 0);
  EXPECT_EQ(st.s.a.col_bound_code[1], 4);
  EXPECT_DOUBLE_EQ(st.s.a.lower[1], 1.0);
  EXPECT_LE(st.s.a.lower[2], -kInf);
}

// ---------------------------------------------------------------------------
// Dependent equality rows

// min x1 + x2 + x3 + x4, x >= 0;
//   r1: x1 + x2 + x3      = 3
//   r2: x2 - x3 + x4      = 1
//   r3: x1 + 2 x2 + x4    = 4 + shift   (r1 + r2: dependent; shift != 0
//                                         makes it inconsistent)
//   r4: s4 (x3 + x4)      = s4 2        (independent, scaled by s4)
// Every row's values are multiplied by `scale`.
Problem dependent_problem(double shift, double s4, double scale) {
  Problem p;
  p.cost = {1.0, 1.0, 1.0, 1.0};
  p.col_lower = {0.0, 0.0, 0.0, 0.0};
  p.col_upper = {kInf, kInf, kInf, kInf};
  p.columns = {{e(1, scale), e(3, scale)},
               {e(1, scale), e(2, scale), e(3, 2.0 * scale)},
               {e(1, scale), e(2, -scale), e(4, s4 * scale)},
               {e(2, scale), e(3, scale), e(4, s4 * scale)}};
  const std::vector<double> b = {3.0 * scale, 1.0 * scale, (4.0 + shift) * scale, 2.0 * s4 * scale};
  p.row_lo = b;
  p.row_hi = b;
  p.rhs = {0.0, 0.0, 0.0, 0.0};
  return p;
}

std::vector<int32_t> row_states(const DirectStages& st) {
  std::vector<int32_t> out;
  for (int32_t i = 1; i <= st.s.params.row_count; ++i) out.push_back(st.s.a.var_state[st.s.params.col_count + i]);
  return out;
}

TEST(BarrierPresolveDependentRows, CombinationIsRemovedWithAZeroDual) {
  DirectStages st(dependent_problem(0.0, 1.0, 1.0));
  ASSERT_EQ(st.first(0x200), 0);
  ASSERT_EQ(st.second(0x200), 0);
  const std::vector<int32_t> states = row_states(st);
  int32_t removed = 0;
  for (int32_t s : states) removed += s == -11 ? 1 : 0;
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(states[3], 0) << "r4 is independent";
  expect_same_optimum(dependent_problem(0.0, 1.0, 1.0), 0x200, "dependent row");
}

TEST(BarrierPresolveDependentRows, InconsistentCombinationIsInfeasible) {
  DirectStages st(dependent_problem(0.5, 1.0, 1.0));
  ASSERT_EQ(st.first(0x200), 0);
  EXPECT_EQ(st.second(0x200), kl::kPresolveInfeasible);
  int32_t culprits = 0;
  for (int32_t s : row_states(st)) culprits += s == 3 ? 1 : 0;
  EXPECT_EQ(culprits, 1);
  Solve s(dependent_problem(0.5, 1.0, 1.0), with_presolve(0x200));
  s.run();
  EXPECT_EQ(s.status, kl::BARRIER_INFEASIBLE);
}

TEST(BarrierPresolveDependentRows, IdenticalRowsLeaveOne) {
  for (double shift : {0.0, 1.0}) {
    SCOPED_TRACE(shift);
    Problem p;
    p.cost = {1.0, 2.0};
    p.col_lower = {0.0, 0.0};
    p.col_upper = {kInf, kInf};
    p.columns = {{e(1, 1.0), e(2, 1.0)}, {e(1, 3.0), e(2, 3.0)}};
    p.row_lo = p.row_hi = {2.0, 2.0 + shift};
    p.rhs = {0.0, 0.0};
    DirectStages st(p);
    ASSERT_EQ(st.first(0x200), 0);
    const int32_t result = st.second(0x200);
    const std::vector<int32_t> states = row_states(st);
    if (shift == 0.0) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ((states[0] == -11) + (states[1] == -11), 1);
      expect_same_optimum(p, 0x200, "identical rows");
    } else {
      EXPECT_EQ(result, kl::kPresolveInfeasible);
      EXPECT_EQ((states[0] == 3) + (states[1] == 3), 1);
    }
  }
}

TEST(BarrierPresolveDependentRows, AnswerDoesNotDependOnScaling) {
  // The whole problem scaled by 1e-4 and by 1e4, and a lone independent
  // row scaled by 1e-6 (its entries far below the absolute pivot and
  // orthogonality tolerances): the same rows are removed every time.
  DirectStages reference(dependent_problem(0.0, 1.0, 1.0));
  ASSERT_EQ(reference.first(0x200), 0);
  ASSERT_EQ(reference.second(0x200), 0);
  const struct {
    double s4, scale;
  } cases[] = {{1.0, 1e-4}, {1.0, 1e4}, {1e-6, 1.0}, {1e-6, 1e4}, {1e6, 1e-4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.s4) + " " + std::to_string(c.scale));
    DirectStages st(dependent_problem(0.0, c.s4, c.scale));
    ASSERT_EQ(st.first(0x200), 0);
    ASSERT_EQ(st.second(0x200), 0);
    EXPECT_EQ(row_states(st), row_states(reference));
  }
  expect_same_optimum(dependent_problem(0.0, 1e-6, 1.0), 0x200, "badly scaled independent row");
}

TEST(BarrierPresolveDependentRows, InequalityRowsNeverTakePart) {
  Problem p = dependent_problem(0.0, 1.0, 1.0);
  p.row_hi[2] = kInf;  // r3 now >=: a combination, but not an equality
  DirectStages st(p);
  ASSERT_EQ(st.first(0x200), 0);
  ASSERT_EQ(st.second(0x200), 0);
  for (int32_t s : row_states(st)) EXPECT_EQ(s, 0);
}

// ---------------------------------------------------------------------------
// Sparsification is refused: the rows stay as they are, so the duals
// reported are the original rows' duals.

TEST(BarrierPresolveSparsification, SwitchLeavesTheRowsAndTheirDuals) {
  // r3 = r1 + r2 + (x4 inequality part): a candidate for sparsification.
  Problem p = dependent_problem(0.0, 1.0, 1.0);
  p.row_hi[2] = kInf;
  Solve plain(p, with_presolve(0));
  plain.run();
  Solve s(p, with_presolve(0x400));
  s.run();
  ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL);
  expect_solution(p, s, plain.objective, 1e-6);
  for (int32_t i = 1; i <= 4; ++i) EXPECT_EQ(s.a.var_state[4 + i] < -1, false);
}

// ---------------------------------------------------------------------------
// All of them together on each fixture.

TEST(BarrierPresolveFinalPasses, EveryBitTogetherRestoresTheOptimum) {
  expect_same_optimum(implied_problem(), 0x7ff, "implied");
  expect_same_optimum(implied_problem(), 0xfff, "implied, put back");
  expect_same_optimum(doubleton_problem(), 0x7ff, "doubleton");
  expect_same_optimum(duplicate_rows_problem(1.0, 3.0), 0x7ff, "duplicate rows");
  expect_same_optimum(duplicate_columns_problem(2.0), 0x7ff, "duplicate columns");
  expect_same_optimum(dependent_problem(0.0, 1.0, 1.0), 0x7ff, "dependent rows");
  expect_same_optimum(dependent_problem(0.0, 1e-6, 1.0), 0x7ff, "dependent rows, badly scaled");
}

}  // namespace
