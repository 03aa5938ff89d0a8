// Starting basis, status normalisation, the basic feasibility check and the
// duals, on hand-built problems.
#include "factor/starting_basis.h"

#include <gtest/gtest.h>

#include <vector>

#include "factor/invert.h"
#include "factor/factor_check.h"
#include "factor/scaling.h"
#include "factor_fixture.h"

namespace {

using namespace kl;
using kltest::build_problem;
using kltest::choose_basis;
using kltest::column_position;

class StartingBasis : public kltest::FactorTest {};

TEST_F(StartingBasis, SlackBasisMakesEveryRowBasicAndEveryColumnNonbasicAtLower) {
  build_problem(3, {{{1, 1.0}}, {{2, 1.0}}});
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[column_position(0)] |= PS_BASIC | PS_NONBASIC_BETWEEN;
  status[column_position(1)] |= PS_AT_UPPER;
  status[2] &= ~PS_BASIC;
  problem_flags |= PF_FACTOR_VALID;
  set_slack_basis();
  for (int32_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(int_array(ARR_BASIS_HEADER)[i], i);
    EXPECT_EQ(status[i] & 0x106, PS_BASIC);
  }
  for (int32_t j = 0; j < 2; ++j) EXPECT_EQ(status[column_position(j)] & 0x106, 0);
  EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(check_basis_consistency(), "");
}

TEST_F(StartingBasis, HeaderOfWrongSizeIsAdjustedWithMessage140) {
  struct Case {
    int32_t rows;
    std::vector<int32_t> basic;  // positions made basic
    std::vector<int32_t> expected_header;
    bool message;
  };
  // Columns are positions rows+1 .. rows+3.
  const Case cases[] = {
      {2, {1, 3, 4}, {1, 3}, true},         // one too many: column 4 leaves
      {5, {2, 7}, {2, 7, 1, 3, 4}, true},   // two of five: rows 1, 3, 4 enter
      {3, {1, 4, 6}, {1, 4, 6}, false},     // exactly three
  };
  for (const Case& c : cases) {
    build_problem(c.rows, {{{1, 1.0}}, {{2, 1.0}}, {{1, 2.0}}});
    kltest::captured_lines().clear();
    icv(ic::IFMSG) = 1;
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t p = 1; p <= nseq; ++p) status[p] &= ~PS_BASIC;
    for (int32_t p : c.basic) status[p] |= PS_BASIC;
    set_basis_header();
    std::vector<int32_t> header;
    for (int32_t i = 1; i <= c.rows; ++i) header.push_back(int_array(ARR_BASIS_HEADER)[i]);
    EXPECT_EQ(header, c.expected_header) << c.rows;
    EXPECT_EQ(kltest::count_lines_containing("basic variables for"), c.message ? 1 : 0) << c.rows;
    EXPECT_EQ(check_basis_consistency(), "") << c.rows;
  }
}

TEST_F(StartingBasis, SurplusFreeColumnIsHeldAtZero) {
  build_problem(1, {{{1, 1.0}}, {{1, 2.0}}});
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[1] &= ~PS_BASIC;
  status[column_position(0)] |= PS_BASIC;
  status[column_position(1)] = (status[column_position(1)] & ~PS_BOTH_FINITE) | PS_FREE | PS_BASIC;
  real_array(ARR_X)[column_position(1)] = 4.0;
  set_basis_header();
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], column_position(0));
  EXPECT_EQ(status[column_position(1)] & (PS_BASIC | PS_NONBASIC_BETWEEN), PS_NONBASIC_BETWEEN);
  EXPECT_EQ(real_array(ARR_X)[column_position(1)], 0.0);
}

TEST_F(StartingBasis, NormaliseBringsNonbasicBitsInLineWithTheBounds) {
  struct Case {
    uint32_t bounds;   // PS_FINITE_LOWER / PS_FINITE_UPPER / PS_FREE
    uint32_t side;     // non-basic bits before
    double value;      // x for a column held at a value
    uint32_t expected; // non-basic bits after
  };
  const Case cases[] = {
      {PS_BOTH_FINITE, PS_NONBASIC_BETWEEN, 7.0, PS_AT_UPPER},         // above 5: to upper
      {PS_BOTH_FINITE, PS_NONBASIC_BETWEEN, 3.0, PS_NONBASIC_BETWEEN},  // inside: stays
      {PS_BOTH_FINITE, PS_NONBASIC_BETWEEN, -1.0, 0},                   // below 0: to lower
      {PS_FINITE_LOWER, PS_AT_UPPER, 0.0, 0},                           // no upper bound
      {0, PS_AT_UPPER, 0.0, PS_NONBASIC_BETWEEN},                       // no bound at all
      {PS_FINITE_UPPER, 0, 0.0, PS_AT_UPPER},                           // only an upper bound
      {PS_FREE, PS_AT_UPPER, 0.0, PS_NONBASIC_BETWEEN},                 // free
      {PS_BOTH_FINITE | PS_BASIC, PS_NONBASIC_BETWEEN, 0.0, 0},         // basic
  };
  for (const Case& c : cases) {
    build_problem(1, {{{1, 1.0}}});
    const int32_t p = column_position(0);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    real_array(ARR_UPPER)[p] = 5.0;
    real_array(ARR_X)[p] = c.value;
    status[p] = static_cast<int32_t>((static_cast<uint32_t>(status[p]) & ~(PS_BOTH_FINITE | 0x107u)) | c.bounds | c.side);
    normalise_status_flags();
    EXPECT_EQ(static_cast<uint32_t>(status[p]) & (PS_AT_UPPER | PS_NONBASIC_BETWEEN), c.expected)
        << c.bounds << " " << c.side << " " << c.value;
  }
}

TEST_F(StartingBasis, NormaliseCountsInequalityRowsAndFixesRowSides) {
  build_problem(3, {{{1, 1.0}}});
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int_array(ARR_ROW_TYPE)[1] = ROW_E;
  int_array(ARR_ROW_TYPE)[2] = ROW_L;
  int_array(ARR_ROW_TYPE)[3] = ROW_G;
  status[2] = static_cast<int32_t>(kDefaultScaleWord | PS_FINITE_UPPER);  // non-basic at lower, no lower bound
  status[3] = static_cast<int32_t>(kDefaultScaleWord | PS_FINITE_LOWER | PS_AT_UPPER);
  normalise_status_flags();
  EXPECT_EQ(inequality_row_count, 2);
  EXPECT_NE(status[2] & PS_AT_UPPER, 0);
  EXPECT_EQ(status[3] & PS_AT_UPPER, 0);
}

// A slack basis over rows whose working rhs gives the basic values.
void one_basic_row(double value, double lower, double upper) {
  build_problem(1, {{{1, 1.0}}});
  invert_basis();
  real_array(ARR_BASIC_VALUES)[1] = value;
  real_array(ARR_LOWER)[1] = lower;
  real_array(ARR_UPPER)[1] = upper;
  int_array(ARR_POS_STATUS)[1] |= PS_FINITE_LOWER | PS_FINITE_UPPER;
}

TEST_F(StartingBasis, FeasibilityCheckCountsOrShiftsSmallViolations) {
  struct Case {
    double value;
    bool shifting;
    int32_t ninf;
    uint32_t mark;
    double after;
  };
  // Bounds [0, 10], ZTOLZE 1e-6, ZTOLZS 1e-5.
  const Case cases[] = {
      {-1e-7, false, 0, 0, -1e-7},
      {-2e-6, false, 1, RF_INFEAS_BELOW, -2e-6},
      {-2e-6, true, 0, 0, 0.0},
      {-2e-5, true, 1, RF_INFEAS_BELOW, -2e-5},
      {10.0 + 3e-6, false, 1, RF_INFEAS_ABOVE, 10.0 + 3e-6},
      {10.0 + 3e-6, true, 0, 0, 10.0},
  };
  for (const Case& c : cases) {
    one_basic_row(c.value, 0.0, 10.0);
    dcv(dc::ZTOLZE) = 1e-6;
    dcv(dc::ZTOLZS) = 1e-5;
    lp_algorithm = 0;
    ninf = 0;
    perturbation_phase = c.shifting ? 3 : 0;
    shift_count = 0;
    const double rhs_before = real_array(ARR_WORK_RHS)[1];
    check_basic_feasibility();
    EXPECT_EQ(ninf, c.ninf) << c.value;
    EXPECT_EQ(static_cast<uint32_t>(int_array(ARR_ROW_TYPE)[1]) & 0x30u, c.mark) << c.value;
    EXPECT_DOUBLE_EQ(real_array(ARR_BASIC_VALUES)[1], c.after) << c.value;
    if (c.after != c.value) {
      EXPECT_GE(shift_count, 2);
      EXPECT_NEAR(real_array(ARR_WORK_RHS)[1] - rhs_before, c.after - c.value, 1e-15);
    }
    if (c.ninf > 0) {
      EXPECT_GT(dcv(dc::SUMINF), 0.0);
    }
  }
}

TEST_F(StartingBasis, FreeBasicVariableIsMarkedAndNeverTested) {
  one_basic_row(-50.0, 0.0, 10.0);
  int_array(ARR_POS_STATUS)[1] = (int_array(ARR_POS_STATUS)[1] & ~PS_BOTH_FINITE) | PS_FREE;
  check_basic_feasibility();
  EXPECT_EQ(ninf, 0);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[1] & 0x70, RF_FREE_BASIC);
}

TEST_F(StartingBasis, DualBoundPairsFollowTheRowBounds) {
  build_problem(2, {{{1, 1.0}}});
  invert_basis();
  dcv(dc::RTOLPS) = 0.01;
  dcv(kObjectiveScaleSlot) = 1.0;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[1] |= PS_FINITE_UPPER;  // both bounds finite
  // Row 2: lower bound only, exponent 66 (factor 4): bound g x 2^(64-66).
  status[2] = static_cast<int32_t>((static_cast<uint32_t>(status[2]) & 0x00FFFFFFu) | (66u << 24));
  compute_duals();
  OneBased<float> pairs = float_array(ARR_ROW_PRICES);
  EXPECT_FLOAT_EQ(pairs[1], 0.01f);
  EXPECT_FLOAT_EQ(pairs[3], -0.01f);
  EXPECT_FLOAT_EQ(pairs[2], 0.0025f);
  EXPECT_FLOAT_EQ(pairs[4], 0.0f);
}

TEST_F(StartingBasis, DualsSolveTheTransposedBasis) {
  build_problem(2, {{{1, 2.0}, {2, 1.0}}, {{2, 4.0}}});
  choose_basis({column_position(0), column_position(1)});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  real_array(ARR_OBJECTIVE)[column_position(0)] = 3.0;
  real_array(ARR_OBJECTIVE)[column_position(1)] = 8.0;
  dcv(dc::SENSE_FACTOR) = 1.0;
  compute_duals();
  // B' y = -c_B with B = [[2, 0], [1, 4]]: y = (-0.5, -2).
  std::vector<double> y(2);
  y[0] = work_vector()[1];
  y[1] = work_vector()[2];
  std::vector<double> c_b(2);
  for (int32_t k = 1; k <= 2; ++k) c_b[k - 1] = -real_array(ARR_OBJECTIVE)[int_array(ARR_BASIS_HEADER)[k]];
  EXPECT_LT(btran_residual(c_b, y), 1e-14);
  EXPECT_DOUBLE_EQ(y[0], -0.5);
  EXPECT_DOUBLE_EQ(y[1], -2.0);
}

TEST_F(StartingBasis, MarkBitsAreClearedOnlyWhenMarksExist) {
  build_problem(2, {{{1, 1.0}}});
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[2] |= PS_MARK;
  status[column_position(0)] |= PS_MARK;
  marks_exist = 0;
  clear_mark_bits();
  EXPECT_NE(status[2] & PS_MARK, 0);
  marks_exist = 1;
  clear_mark_bits();
  EXPECT_EQ(status[2] & PS_MARK, 0);
  EXPECT_EQ(status[column_position(0)] & PS_MARK, 0);
  EXPECT_EQ(marks_exist, 0);
}

TEST_F(StartingBasis, RecomputeGivesValuesDualsAndReducedCosts) {
  // B = [[2, 0], [1, 4]] from columns 0 and 1; column 2 non-basic at lower.
  build_problem(2, {{{1, 2.0}, {2, 1.0}}, {{2, 4.0}}, {{1, 1.0}, {2, 1.0}}});
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  cost[column_position(0)] = 3.0;
  cost[column_position(1)] = 8.0;
  cost[column_position(2)] = 1.0;
  real_array(ARR_LOWER)[column_position(2)] = 1.0;
  dcv(dc::SENSE_FACTOR) = 1.0;
  lp_algorithm = 0;  // the primal's bounds: non-basic columns at lower/upper
  lp_status = 1;
  ninf = 0;
  choose_basis({column_position(0), column_position(1)});
  reinvert_and_recompute();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  // Column 2 at its lower bound 1 leaves rhs (1, 2) - (1, 1) = (0, 1):
  // x0 = 0, x1 = 0.25.
  EXPECT_DOUBLE_EQ(x[column_position(2)], 1.0);
  EXPECT_DOUBLE_EQ(x[column_position(0)], 0.0);
  EXPECT_DOUBLE_EQ(x[column_position(1)], 0.25);
  // Duals y = B^-T (-c_B) = (-0.5, -2); d_j = c_j + sum y_i a_ij.
  EXPECT_DOUBLE_EQ(d[1], -0.5);
  EXPECT_DOUBLE_EQ(d[2], -2.0);
  EXPECT_DOUBLE_EQ(d[column_position(0)], 0.0);
  EXPECT_DOUBLE_EQ(d[column_position(1)], 0.0);
  EXPECT_DOUBLE_EQ(d[column_position(2)], 1.0 - 0.5 - 2.0);
}

}  // namespace
