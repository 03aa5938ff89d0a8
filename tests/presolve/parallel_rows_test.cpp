// Parallel rows: which row of a pair leaves, what the kept row's limits
// become, the record left for postsolve, and the conflicts.
#include <gtest/gtest.h>

#include <cmath>

#include "presolve/duplicates.h"
#include "presolve/record_stack.h"
#include "presolve_state_fixture.h"

namespace kltest {
namespace {

using namespace kl;

// Rows a x + b y (type, rhs) over x, y in [0, 10].
ArrayProblem two_rows(char t1, double b1, double a1, double b1y, char t2, double b2, double a2, double b2y) {
  ArrayProblem p;
  p.row(t1, b1);
  p.row(t2, b2);
  p.column(1.0, 0.0, 10.0, {{0, a1}, {1, a2}});
  p.column(1.0, 0.0, 10.0, {{0, b1y}, {1, b2y}});
  return p;
}

class ParallelRowsTest : public PresolveStateTest {
 protected:
  int32_t run(int32_t& outcome) {
    rows_removed = 0;
    elements_removed = 0;
    return presolve_parallel_rows(outcome, rows_removed, elements_removed);
  }
  void expect_free(int32_t i) {
    EXPECT_NE(status(i) & PS_FREE, 0);
    EXPECT_EQ(row_type(i), ROW_N);
    EXPECT_EQ(lower(i), -kInfinity);
    EXPECT_EQ(upper(i), kInfinity);
  }
  int32_t rows_removed = 0;
  int32_t elements_removed = 0;
};

TEST_F(ParallelRowsTest, LooserOfTwoEqualLRowsLeavesWithoutMovingBounds) {
  struct Case {
    double b1, b2;
    int32_t kept, removed;
  };
  for (const Case& c : {Case{4.0, 5.0, 1, 2}, Case{4.0, 3.0, 2, 1}}) {
    SCOPED_TRACE(c.b2);
    load(two_rows('L', c.b1, 1.0, 2.0, 'L', c.b2, 1.0, 2.0));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(rows_removed, 1);
    EXPECT_EQ(elements_removed, 2);
    expect_free(c.removed);
    EXPECT_EQ(row_type(c.kept), ROW_L);
    ASSERT_EQ(presolve_int_top, 6);
    const PresolveRecord r = pop_record(6, 1);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{c.kept, c.removed, 0, 0, 0, REC_DUPLICATE_ROW}));
    EXPECT_EQ(r.reals[0], 1.0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

TEST_F(ParallelRowsTest, OppositeRowsMakeARangeRow) {
  // 2x + 3y <= 4 and -4x - 6y <= -2, so 1 <= 2x + 3y <= 4.
  load(two_rows('L', 4.0, 2.0, 3.0, 'L', -2.0, -4.0, -6.0));
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  expect_free(2);
  EXPECT_EQ(row_type(1), ROW_L);
  EXPECT_EQ(status(1) & PS_BOTH_FINITE, PS_BOTH_FINITE);
  EXPECT_DOUBLE_EQ(work_rhs(1), 4.0);
  EXPECT_DOUBLE_EQ(lower(1), 0.0);
  EXPECT_DOUBLE_EQ(upper(1), 3.0);
  const PresolveRecord r = pop_record(6, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{1, 2, 1, 2, 0, REC_DUPLICATE_ROW}));
  EXPECT_DOUBLE_EQ(r.reals[0], -2.0);
}

TEST_F(ParallelRowsTest, RangeRowReplacesAOneSidedRowAndTakesItsLimit) {
  // x + y <= 4 and 2 <= x + y <= 6: the range row stays with [2, 4].
  ArrayProblem p;
  p.row('L', 4.0);
  p.row('R', 6.0, 4.0);
  p.column(1.0, 0.0, 10.0, {{0, 1.0}, {1, 1.0}});
  p.column(1.0, 0.0, 10.0, {{0, 1.0}, {1, 1.0}});
  load(p);
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  expect_free(1);
  EXPECT_EQ(row_type(2), ROW_L);
  EXPECT_DOUBLE_EQ(work_rhs(2), 4.0);
  EXPECT_DOUBLE_EQ(lower(2), 0.0);
  EXPECT_DOUBLE_EQ(upper(2), 2.0);
  const PresolveRecord r = pop_record(6, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{2, 1, 1, 2, 0, REC_DUPLICATE_ROW}));
  EXPECT_EQ(r.reals[0], 1.0);
}

TEST_F(ParallelRowsTest, MergedRangeBelowZtoldaMakesAnEquality) {
  // x + y <= 4 with x + y >= 4 + d: a point when d is 0, and when d is a
  // small positive gap inside ZTOLZE the range would come out negative.
  for (double d : {0.0, 5e-7}) {
    SCOPED_TRACE(d);
    load(two_rows('L', 4.0, 1.0, 1.0, 'G', 4.0 + d, 1.0, 1.0));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(outcome, 0);
    expect_free(2);
    EXPECT_EQ(row_type(1), ROW_E);
    EXPECT_NE(status(1) & PS_FIXED, 0);
    EXPECT_EQ(lower(1), 0.0);
    EXPECT_EQ(upper(1), 0.0);
    // The point lies within ZTOLZE of both rows' limits.
    EXPECT_EQ(work_rhs(1), 4.0);
    const PresolveRecord r = pop_record(6, 1);
    EXPECT_EQ(r.ints[4], 1);
    EXPECT_EQ(r.ints[5], REC_DUPLICATE_ROW);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

TEST_F(ParallelRowsTest, EqualityKeepsItsPointAgainstANearbyEquality) {
  load(two_rows('E', 4.0, 1.0, 1.0, 'E', 4.0 + 5e-7, 1.0, 1.0));
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  expect_free(2);
  EXPECT_EQ(row_type(1), ROW_E);
  EXPECT_EQ(lower(1), 0.0);
  EXPECT_EQ(upper(1), 0.0);
  EXPECT_EQ(work_rhs(1), 4.0);
}

TEST_F(ParallelRowsTest, DisjointIntervalsLeaveTheConflictOnTop) {
  load(two_rows('L', 4.0, 1.0, 1.0, 'G', 4.1, 2.0, 2.0));  // x + y <= 4, 2x + 2y >= 4.1: fine
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 0);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  load(two_rows('L', 4.0, 1.0, 1.0, 'G', 8.1, 2.0, 2.0));
  ASSERT_EQ(run(outcome), 0);
  EXPECT_EQ(outcome, 1);
  EXPECT_EQ(rows_removed, 0);
  const PresolveRecord r = pop_record(6, 1);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{1, 2, 1, 2, 0, REC_DUPLICATE_ROW}));
  EXPECT_EQ(r.reals[0], 2.0);
  EXPECT_EQ(presolve_int_top, 0);
}

TEST_F(ParallelRowsTest, PairsLeftAlone) {
  // Rows only over a fixed column; coefficients apart by more than ZTOLDA;
  // a first row with a nonbasic slack; a row the caller protected, on
  // either side of the pair.
  {
    ArrayProblem p;
    p.row('L', 4.0);
    p.row('L', 5.0);
    p.column(1.0, 2.0, 2.0, {{0, 1.0}, {1, 1.0}});
    load(p);
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(rows_removed, 0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
  {
    load(two_rows('L', 4.0, 1e6, 1e6, 'L', 5.0, 1e6, 1e6 + 1e-3));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(rows_removed, 0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
  {
    load(two_rows('L', 4.0, 1.0, 1.0, 'L', 5.0, 1.0, 1.0 + 1e-10));
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(rows_removed, 1);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
  {
    load(two_rows('L', 4.0, 1.0, 1.0, 'L', 5.0, 1.0, 1.0));
    int_array(ARR_POS_STATUS)[1] &= ~static_cast<int32_t>(PS_BASIC);
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(rows_removed, 0);
    EXPECT_EQ(presolve_int_top, 0);
  }
  for (int32_t kept : {1, 2}) {
    SCOPED_TRACE(kept);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    load(two_rows('L', 4.0, 1.0, 1.0, 'G', 1.0, 1.0, 1.0));
    int_array(ARR_POS_STATUS)[kept] |= static_cast<int32_t>(PS_PROTECTED);
    int32_t outcome = -1;
    ASSERT_EQ(run(outcome), 0);
    EXPECT_EQ(rows_removed, 0);
    EXPECT_EQ(presolve_int_top, 0);
    EXPECT_EQ(row_type(1), ROW_L);
    EXPECT_EQ(upper(1), kInfinity);
  }
}

TEST_F(ParallelRowsTest, RemovedNonbasicSlackPassesItsBoundToTheKeptRow) {
  // Kept x + y <= 4 (basic); removed -x - y <= -1 nonbasic at lower: the
  // kept row's range lies at its upper slack end when ratio < 0.
  load(two_rows('L', 4.0, 1.0, 1.0, 'L', -1.0, -1.0, -1.0));
  int_array(ARR_POS_STATUS)[2] &= ~static_cast<int32_t>(PS_BASIC | PS_AT_UPPER);
  int32_t outcome = -1;
  ASSERT_EQ(run(outcome), 0);
  expect_free(2);
  EXPECT_EQ(status(1) & PS_BASIC, 0);
  EXPECT_NE(status(1) & PS_AT_UPPER, 0);
  EXPECT_DOUBLE_EQ(upper(1), 3.0);
}

TEST_F(ParallelRowsTest, RefusedStackGrowthStopsWithStatus4) {
  load(two_rows('L', 4.0, 1.0, 1.0, 'L', 5.0, 1.0, 1.0));
  ASSERT_EQ(KLSETICV(KLIC_M_S, 3), 0);
  int32_t outcome = -1;
  EXPECT_EQ(run(outcome), 4);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(presolve_int_top, 0);
}

}  // namespace
}  // namespace kltest
