// The presolve row copy, row activity bounds and column bound tightening.
#include <cmath>

#include "presolve/presolve_bits.h"
#include "factor/simplex_state.h"
#include "presolve/round_fixture.h"

namespace kltest {
namespace {

using kl::presolve_activity;
using kl::presolve_row_copy;

// Two rows over three columns, one column unbounded above.
//   r0: x0 + 2 x1 - x2 <= 10      r1: x0 - x1 >= -3
Problem two_rows() {
  Problem p;
  p.row_types = "LG";
  p.rhs = {10, -3};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 4, 1},
               {{{0, 2.0}, {1, -1.0}}, 1, 2, 1},
               {{{0, -1.0}}, -1, kInf, 1}};
  return p;
}

TEST_F(RoundTest, ActivityBoundsSumFiniteTermsAndCountInfiniteOnes) {
  load(two_rows());
  const auto max_act = kl::real_array(kl::ARR_WORK_UPPER);
  const auto min_act = kl::real_array(kl::ARR_WORK_LOWER);
  // r0: max = 4 + 4 + (-1)(-1) = 9, min = 0 + 2 + (-1 x inf: infinite).
  EXPECT_DOUBLE_EQ(max_act[row(0)], 9.0);
  EXPECT_DOUBLE_EQ(min_act[row(0)], 2.0);
  EXPECT_EQ(presolve_activity.max_infinite[row(0)], 0);
  EXPECT_EQ(presolve_activity.min_infinite[row(0)], 1);
  EXPECT_EQ(presolve_activity.positive[row(0)], 2);
  EXPECT_EQ(presolve_activity.negative[row(0)], 1);
  // r1: max = 4 - 1, min = 0 - 2.
  EXPECT_DOUBLE_EQ(max_act[row(1)], 3.0);
  EXPECT_DOUBLE_EQ(min_act[row(1)], -2.0);
  // An infinite bound is stored as 1e8 and leaves its finite flag clear.
  EXPECT_EQ(max_act[column(2)], kl::kPresolveInfinity);
  EXPECT_EQ(status(column(2)) & kl::kImpliedUpperFinite, 0);
  EXPECT_NE(status(column(2)) & kl::kImpliedLowerFinite, 0);
}

TEST_F(RoundTest, BoundsOfOneHundredMillionCountAsInfinite) {
  Problem p;
  p.row_types = "L";
  p.rhs = {1};
  p.columns = {{{{0, 1.0}}, -1e8, 1e8, 0}, {{{0, 1.0}}, -99999999.0, 99999999.0, 0}};
  load(p);
  EXPECT_EQ(presolve_activity.max_infinite[row(0)], 1);
  EXPECT_EQ(presolve_activity.min_infinite[row(0)], 1);
  EXPECT_DOUBLE_EQ(kl::real_array(kl::ARR_WORK_UPPER)[row(0)], 99999999.0);
  EXPECT_EQ(kl::real_array(kl::ARR_WORK_LOWER)[column(0)], -kl::kPresolveInfinity);
}

TEST_F(RoundTest, RowCopyListsLiveEntriesInColumnOrderWithEndMarkers) {
  Problem p = two_rows();
  p.row_types = "LGL";
  p.rhs.push_back(0);
  load(p);
  kl::build_presolve_row_copy(1);
  const auto& copy = presolve_row_copy;
  ASSERT_EQ(copy.start[row(0)], 1);
  EXPECT_EQ(copy.start[row(1)], 5);  // three entries and the marker
  EXPECT_EQ(copy.column[1], column(0));
  EXPECT_EQ(copy.column[2], column(1));
  EXPECT_EQ(copy.column[3], column(2));
  EXPECT_EQ(copy.column[4], 0);
  // A row without live entries is one slot holding the end marker.
  EXPECT_EQ(copy.start[row(3)] - copy.start[row(2)], 1);
  EXPECT_EQ(copy.column[copy.start[row(2)]], 0);
  // A removed column leaves every row.
  kl::int_array(kl::ARR_POS_STATUS)[column(1)] |= kl::PS_FIXED;
  kl::build_presolve_row_copy(0);
  EXPECT_EQ(copy.start[row(1)] - copy.start[row(0)], 2);
}

TEST_F(RoundTest, ImpliedBoundsComeFromTheOtherTermsOfARow) {
  Problem p;
  p.row_types = "L";
  p.rhs = {4};
  // x0 + x1 <= 4 with x1 >= 3: x0 <= 1.
  p.columns = {{{{0, 1.0}}, 0, 10, 0}, {{{0, 1.0}}, 3, 10, 0}};
  load(p);
  kl::work_vector()[row(0)] = 4;
  int32_t conflict_row = -1;
  EXPECT_EQ(kl::derive_implied_column_bounds(conflict_row), 0);
  EXPECT_EQ(conflict_row, 0);
  EXPECT_NEAR(kl::real_array(kl::ARR_WORK_UPPER)[column(0)], 1.0 + 1e-6, 1e-12);
  EXPECT_NEAR(kl::real_array(kl::ARR_WORK_UPPER)[column(1)], 4.0 + 1e-6, 1e-12);
  // The row's maximum activity followed both tightenings.
  EXPECT_NEAR(kl::real_array(kl::ARR_WORK_UPPER)[row(0)], 5.0 + 2e-6, 1e-12);
}

struct RoundingCase {
  double bound;
  bool lower_side;
  double expected;
};

TEST_F(RoundTest, IntegerBoundsRoundInwardWithTheZeroTolerance) {
  const RoundingCase cases[] = {
      // Within ZTOLZE of an integer: left as it is, not pushed a whole unit.
      {2.0000005, true, 2.0000005}, {2.3, true, 3.0},  {-2.3, true, -2.0},
      {2.9999995, false, 2.9999995}, {2.7, false, 2.0}, {-2.3, false, -3.0},
  };
  for (const RoundingCase& c : cases) {
    Problem p;
    p.row_types = "L";
    p.rhs = {100};
    p.columns = {{{{0, 1.0}}, -10, 10, 0}};
    load(p);
    const int32_t j = column(0);
    kl::icv(kl::ic::IPSLCT) = 511;  // entity rounding on, as in the search
    kl::int_array(kl::ARR_POS_STATUS)[j] |= kl::PS_INTEGER;
    auto bound = c.lower_side ? kl::real_array(kl::ARR_WORK_LOWER) : kl::real_array(kl::ARR_WORK_UPPER);
    const double old_l = kl::real_array(kl::ARR_WORK_LOWER)[j];
    const double old_u = kl::real_array(kl::ARR_WORK_UPPER)[j];
    bound[j] = c.bound;
    kl::tighten_column_bound(c.lower_side ? 1 : 2, j, old_l, old_u);
    EXPECT_DOUBLE_EQ(bound[j], c.expected) << c.bound << (c.lower_side ? " lower" : " upper");
  }
}

TEST_F(RoundTest, RoundingPastTheOtherBoundWithinTolerancesMeetsIt) {
  Problem p;
  p.row_types = "L";
  p.rhs = {100};
  p.columns = {{{{0, 1.0}}, 0, 10, 0}};
  load(p);
  const int32_t j = column(0);
  kl::icv(kl::ic::IPSLCT) = 511;
  kl::int_array(kl::ARR_POS_STATUS)[j] |= kl::PS_INTEGER;
  auto lo = kl::real_array(kl::ARR_WORK_LOWER);
  auto up = kl::real_array(kl::ARR_WORK_UPPER);
  up[j] = 2.9999;  // rounds to 2 only when ZTOLIS allows 3 - 2.9999
  kl::dcv(kl::dc::ZTOLIS) = 1e-3;
  lo[j] = 2.5;
  kl::tighten_column_bound(1, j, 0.0, 10.0);
  EXPECT_DOUBLE_EQ(lo[j], 2.9999);
}

TEST_F(RoundTest, LowerBoundBecomingFiniteLowersTheInfiniteCount) {
  load(two_rows());
  const int32_t j = column(2);  // coefficient -1 in r0, upper bound infinite
  auto up = kl::real_array(kl::ARR_WORK_UPPER);
  up[j] = 5.0;
  EXPECT_EQ(kl::tighten_column_bound(2, j, -1.0, kl::kPresolveInfinity), 1);
  EXPECT_EQ(presolve_activity.min_infinite[row(0)], 0);
  EXPECT_DOUBLE_EQ(kl::real_array(kl::ARR_WORK_LOWER)[row(0)], 2.0 - 5.0);
  EXPECT_NE(kl::int_array(kl::ARR_ROW_TYPE)[row(0)] & kl::kRowExamine, 0);
}

TEST_F(RoundTest, CrossingBoundsAreReportedWithoutTouchingTheRows) {
  load(two_rows());
  const int32_t j = column(0);
  const double max_before = kl::real_array(kl::ARR_WORK_UPPER)[row(0)];
  kl::real_array(kl::ARR_WORK_LOWER)[j] = 5.0;  // above the upper bound 4
  EXPECT_EQ(kl::tighten_column_bound(1, j, 0.0, 4.0), -(kl::nrow + 1));
  EXPECT_EQ(kl::real_array(kl::ARR_WORK_UPPER)[row(0)], max_before);
}

TEST_F(RoundTest, FixingAColumnMovesItIntoTheRightHandSides) {
  load(two_rows());
  const int32_t j = column(1);
  for (int32_t i = 1; i <= kl::nrow; ++i) kl::work_vector()[i] = kl::real_array(kl::ARR_WORK_RHS)[i];
  kl::real_array(kl::ARR_WORK_UPPER)[j] = 1.0;
  kl::real_array(kl::ARR_UPPER)[j] = 1.0;
  EXPECT_EQ(kl::tighten_column_bound(2 + 4, j, 1.0, 2.0), -2);
  EXPECT_NE(status(j) & kl::PS_FIXED, 0);
  EXPECT_DOUBLE_EQ(kl::work_vector()[row(0)], 10.0 - 2.0);
  EXPECT_DOUBLE_EQ(kl::work_vector()[row(1)], -3.0 + 1.0);
  EXPECT_DOUBLE_EQ(objective_constant(), 1.0);
  EXPECT_EQ(presolve_activity.positive[row(0)], 1);
  // The term has left the sums: r0's maximum is 4 + 1 again without 2 x 2.
  EXPECT_DOUBLE_EQ(kl::real_array(kl::ARR_WORK_UPPER)[row(0)], 5.0);
  // Its entry moved behind the row's live part.
  EXPECT_EQ(presolve_row_copy.column[presolve_row_copy.start[row(0)] + 1], column(2));
}

TEST_F(RoundTest, FixingAColumnWithoutLiveRowsReturnsZero) {
  Problem p;
  p.row_types = "L";
  p.rhs = {1};
  p.columns = {{{{0, 1.0}}, 0, 1, 0}, {{}, 0, 3, 2}};
  load(p);
  const int32_t j = column(1);
  kl::real_array(kl::ARR_WORK_UPPER)[j] = 0.0;
  kl::real_array(kl::ARR_UPPER)[j] = 0.0;
  EXPECT_EQ(kl::tighten_column_bound(2 + 4, j, 0.0, 3.0), 0);
  EXPECT_NE(status(j) & kl::PS_FIXED, 0);
}

// x in [-1e9, -3e8] with 2x >= -6e8 and x + y >= 0: the singleton row
// meets x's upper bound and fixes x at -3e8, a value beyond the working
// bounds' 1e8, whose lower one is only the placeholder of an infinite
// bound. x goes to its own bound, so y's row asks y >= 3e8.
TEST_F(RoundTest, ColumnFixedBeyondTheWorkingBoundLimitTakesItsOwnBound) {
  Problem p;
  p.row_types = "GG";
  p.rhs = {-6e8, 0};
  p.columns = {{{{0, 2.0}, {1, 1.0}}, -1e9, -3e8, 1.0}, {{{1, 1.0}}, 0, kInf, 1.0}};
  {
    SCOPED_TRACE("tighten_column_bound");
    load(p);
    for (int32_t i = 1; i <= kl::nrow; ++i) kl::work_vector()[i] = kl::real_array(kl::ARR_WORK_RHS)[i];
    const int32_t x = column(0);
    const double old_l = kl::real_array(kl::ARR_WORK_LOWER)[x];
    const double old_u = kl::real_array(kl::ARR_WORK_UPPER)[x];
    ASSERT_EQ(old_l, -kl::kPresolveInfinity);
    kl::real_array(kl::ARR_LOWER)[x] = -3e8;
    EXPECT_EQ(kl::tighten_column_bound(1 + 4, x, old_l, old_u), -2);
    EXPECT_EQ(lower(x), -3e8);
    EXPECT_EQ(upper(x), -3e8);
    EXPECT_DOUBLE_EQ(kl::work_vector()[row(1)], 3e8);
    EXPECT_DOUBLE_EQ(objective_constant(), -3e8);
  }
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  {
    SCOPED_TRACE("singleton rows of a round");
    load(p);
    set_select(kl::kSelectSingletonRows | kDefaultSelect);
    const RoundResult r = run_round(1);
    EXPECT_EQ(r.outcome, 0);
    EXPECT_TRUE(removed_column(0));
    EXPECT_EQ(lower(column(0)), -3e8);
    EXPECT_EQ(lower(column(1)), 3e8);
  }
}

}  // namespace
}  // namespace kltest

namespace kltest {
namespace {

// x0 + x1 <= 4 with both in [0, 10]: the row keeps each below 4, so their
// own upper bounds of 10 can never bind.
class ImpliedBoundsPassTest : public RoundTest {
 protected:
  void SetUp() override {
    RoundTest::SetUp();
    Problem p;
    p.row_types = "L";
    p.rhs = {4};
    p.columns = {{{{0, 1.0}}, 0, 10, 1}, {{{0, 1.0}}, 0, 10, 1}};
    load(p);
    kl::lp_algorithm = kl::kAlgorithmPrimal;
    for (int32_t i = 1; i <= kl::nrow; ++i) kl::work_vector()[i] = kl::real_array(kl::ARR_WORK_RHS)[i];
  }
};

TEST_F(ImpliedBoundsPassTest, BoundsTheRowsImplyStrictlyInsideAreDropped) {
  int32_t conflict_row = 0;
  ASSERT_EQ(kl::derive_implied_column_bounds(conflict_row), 0);
  kl::derive_implied_bounds_pass(1);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(status(column(c)) & kl::PS_FINITE_UPPER, 0) << c;
    EXPECT_NE(status(column(c)) & kl::PS_FINITE_LOWER, 0) << c;
  }
}

TEST_F(ImpliedBoundsPassTest, TheSecondPassDoesNotLetTwoColumnsLeanOnEachOther) {
  // x0 = x1, both in [0, 4]: each upper bound follows from the other, but
  // only one of them may go.
  kl::icv(kl::ic::IFPRES) = 3;
  kl::int_array(kl::ARR_ROW_TYPE)[row(0)] = kl::ROW_E;
  kl::int_array(kl::ARR_POS_STATUS)[row(0)] |= kl::PS_EQUALITY_ROW;
  kl::real_array(kl::ARR_UPPER)[row(0)] = 0.0;
  kl::real_array(kl::ARR_WORK_RHS)[row(0)] = 0.0;
  kl::real_array(kl::ARR_ELEM_VALUE)[kl::int_array(kl::ARR_COL_START)[column(1)]] = -1.0;
  kl::real_array(kl::ARR_UPPER)[column(0)] = 4;
  kl::real_array(kl::ARR_UPPER)[column(1)] = 4;
  kl::compute_row_activity_bounds();
  kl::derive_implied_bounds_pass(2);
  EXPECT_EQ(status(column(0)) & kl::PS_FINITE_UPPER, 0);
  EXPECT_NE(status(column(1)) & kl::PS_FINITE_UPPER, 0);
  EXPECT_EQ(kl::presolve_activity.max_infinite[row(0)], 1);
}

// x in [0, 2], y in [0, 100]: y - x <= 1 and x - 2y <= -5 cannot both
// hold (they ask x >= 3). One sweep gives y <= 3 from x's own upper bound,
// then x <= 1 from y's working bound; dropping both uppers would let x
// reach 3. A bound goes only when one row implies it from own bounds that
// stay: y loses both of its bounds, x keeps the one they rest on.
TEST_F(RoundTest, ImpliedBoundsPassKeepsABoundThatADroppedOneRestsOn) {
  Problem p;
  p.row_types = "LL";
  p.rhs = {1, -5};
  p.columns = {{{{0, -1.0}, {1, 1.0}}, 0, 2, 1}, {{{0, 1.0}, {1, -2.0}}, 0, 100, 0}};
  load(p);
  kl::lp_algorithm = kl::kAlgorithmPrimal;
  for (int32_t i = 1; i <= kl::nrow; ++i) kl::work_vector()[i] = kl::real_array(kl::ARR_WORK_RHS)[i];
  const int32_t x = column(0);
  const int32_t y = column(1);
  int32_t conflict_row = 0;
  ASSERT_EQ(kl::derive_implied_column_bounds(conflict_row), 0);
  ASSERT_LT(kl::real_array(kl::ARR_WORK_UPPER)[x], 1.5);
  const kl::DroppedBounds dropped = kl::derive_implied_bounds_pass(1);
  EXPECT_TRUE(dropped.ran);
  EXPECT_NE(status(x) & kl::PS_FINITE_UPPER, 0);
  EXPECT_NE(status(x) & kl::PS_FINITE_LOWER, 0);
  EXPECT_EQ(status(y) & (kl::PS_FINITE_UPPER | kl::PS_FINITE_LOWER), 0);
  EXPECT_NE(status(y) & kl::PS_FREE, 0);
  // The dropped bounds are infinite by value too; x keeps its own.
  EXPECT_EQ(lower(y), -kl::kInfinity);
  EXPECT_EQ(upper(y), kl::kInfinity);
  EXPECT_EQ(upper(x), 2.0);
  EXPECT_EQ(dropped.upper, 1);
  EXPECT_EQ(dropped.lower, 1);
  EXPECT_EQ(dropped.freed, 1);
}

TEST_F(ImpliedBoundsPassTest, NothingIsDroppedForTheDualSimplex) {
  kl::lp_algorithm = kl::kAlgorithmDual;
  int32_t conflict_row = 0;
  ASSERT_EQ(kl::derive_implied_column_bounds(conflict_row), 0);
  kl::derive_implied_bounds_pass(1);
  EXPECT_NE(status(column(0)) & kl::PS_FINITE_UPPER, 0);
}

}  // namespace
}  // namespace kltest
