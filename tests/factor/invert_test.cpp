// The invert on hand-built bases: the eta file it writes, the solves with it
// checked against a dense product with the basis, the repairs of singular
// bases, the growth of the eta file and the threshold ladder.
#include "factor/invert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "factor/factor_check.h"
#include "problem/factor_arrays.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "factor_fixture.h"
#include "problem/store.h"
#include "runtime/frame.h"

namespace {

using namespace kl;
using kltest::build_problem;
using kltest::choose_basis;
using kltest::column_position;
using kltest::Column;

class Invert : public kltest::FactorTest {};

std::vector<double> ftran(const std::vector<double>& b) {
  kltest::load_work_vector(b);
  basis_solve_work_vector();
  return kltest::read_work_vector();
}

std::vector<double> btran(const std::vector<double>& c) {
  kltest::load_work_vector(c);
  basis_btran_work_vector();
  return kltest::read_work_vector();
}

std::vector<double> ramp(int32_t n) {
  std::vector<double> v(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) v[i] = 1.0 + 0.5 * i - (i % 3 == 0 ? 2.0 : 0.0);
  return v;
}

double largest(const std::vector<double>& v) {
  double m = 0.0;
  for (double e : v) m = std::max(m, std::fabs(e));
  return m;
}

// Residuals relative to the size of the solution (random bases can be ill
// conditioned; the solves must still be backward stable).
void expect_solves_match_basis(const char* label) {
  const std::vector<double> b = ramp(nrow);
  const std::vector<double> x = ftran(b);
  const std::vector<double> y = btran(b);
  EXPECT_LT(ftran_residual(b, x), 1e-12 * (1.0 + largest(x)) * nrow) << label;
  EXPECT_LT(btran_residual(b, y), 1e-12 * (1.0 + largest(y)) * nrow) << label;
  EXPECT_EQ(check_solve_chains(), "") << label;
  EXPECT_EQ(check_basis_consistency(), "") << label;
}

TEST_F(Invert, SlackBasisWritesNoEtasAndSolvesAsIdentity) {
  build_problem(4, {{{1, 3.0}, {2, 1.0}}, {{3, 2.0}}});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(eta_file.invert_part_size, 0);
  EXPECT_EQ(eta_file.invert_eta_count, 0);
  EXPECT_EQ(eta_file.u_column_count, 0);
  EXPECT_EQ(eta_file.u_last_record, kUSentinelRecord);
  EXPECT_EQ(eta_file.slack_pivots, -4);
  EXPECT_EQ(factor_stats.last_residual, 0.0);
  const std::vector<double> b{1.0, -2.0, 0.0, 4.5};
  EXPECT_EQ(ftran(b), b);
  EXPECT_EQ(btran(b), b);
  EXPECT_LT(eta_file.u_file_end + eta_file.invert_part_size, eta_file.eta_capacity);
}

TEST_F(Invert, PermutedDiagonalGivesOneDiagonalEtaPerNonUnitPivot) {
  // Columns on rows 3, 1, 2 with values -2, 1, 4: column singletons only.
  build_problem(3, {{{3, -2.0}}, {{1, 1.0}}, {{2, 4.0}}});
  choose_basis({column_position(0), column_position(1), column_position(2)});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(eta_file.column_singletons, 3);
  EXPECT_EQ(eta_file.diagonal_eta_count, 2);  // the unit pivot writes none
  EXPECT_EQ(eta_file.invert_eta_count, 2);
  EXPECT_EQ(eta_file.u_column_count, 0);
  // Header entry r is the column pivoted in row r.
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[3], column_position(0));
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], column_position(1));
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[2], column_position(2));
  std::vector<double> multipliers;
  for (int32_t t = eta_file.eta_capacity; t > invert_records_bottom(); t -= 2)
    multipliers.push_back(eta_value()[t - 1]);
  EXPECT_EQ(multipliers, (std::vector<double>{-0.5, 0.25}));
  expect_solves_match_basis("diagonal");
}

TEST_F(Invert, RandomSparseBasesSolveToTheirOwnMatrix) {
  struct Case {
    int32_t rows;
    int extra;        // weaker entries per column
    int32_t structurals;
  };
  const Case cases[] = {{5, 2, 5}, {12, 3, 8}, {40, 3, 40}, {60, 5, 45}, {150, 4, 120}, {200, 8, 200}};
  std::mt19937 rng(20240611);
  for (const Case& c : cases) {
    build_problem(c.rows, kltest::random_columns(c.rows, c.rows + 10, c.extra, rng));
    choose_basis(kltest::random_basis(c.rows, c.rows + 10, c.structurals, rng));
    invert_basis();
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0) << c.rows;
    EXPECT_EQ(status_code, STATUS_OK);
    EXPECT_LT(factor_stats.last_residual, kResidualAcceptance) << c.rows;
    EXPECT_LT(eta_file.u_file_end + eta_file.invert_part_size, eta_file.eta_capacity);
    expect_solves_match_basis("random");
  }
}

TEST_F(Invert, BasicValuesSatisfyTheRightHandSide) {
  std::mt19937 rng(7);
  build_problem(30, kltest::random_columns(30, 40, 3, rng));
  choose_basis(kltest::random_basis(30, 40, 25, rng));
  // Some non-basic columns at their upper bound move activity to the rhs.
  for (int32_t j = 0; j < 40; j += 3)
    if ((int_array(ARR_POS_STATUS)[column_position(j)] & PS_BASIC) == 0)
      int_array(ARR_POS_STATUS)[column_position(j)] |= PS_AT_UPPER;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  // Full activity: basic values, non-basic columns at their bound.
  std::vector<double> activity(30, 0.0);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t k = 1; k <= 30; ++k) {
    const int32_t v = int_array(ARR_BASIS_HEADER)[k];
    const double xv = real_array(ARR_BASIC_VALUES)[k];
    if (v <= nrow) {
      activity[v - 1] += xv;
      continue;
    }
    for (int32_t q = int_array(ARR_COL_START)[v]; q < int_array(ARR_COL_START)[v + 1]; ++q)
      activity[int_array(ARR_ELEM_ROW)[q] - 1] += real_array(ARR_ELEM_VALUE)[q] * xv;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & (PS_BASIC | PS_AT_UPPER)) != PS_AT_UPPER) continue;
    for (int32_t q = int_array(ARR_COL_START)[j]; q < int_array(ARR_COL_START)[j + 1]; ++q)
      activity[int_array(ARR_ELEM_ROW)[q] - 1] += real_array(ARR_ELEM_VALUE)[q] * 10.0;
  }
  for (int32_t i = 1; i <= 30; ++i) EXPECT_NEAR(activity[i - 1], i, 1e-9) << i;
  // basic_upper follows the basic variables' upper bounds.
  for (int32_t k = 1; k <= 30; ++k) {
    const int32_t v = int_array(ARR_BASIS_HEADER)[k];
    EXPECT_EQ(real_array(ARR_BASIC_UPPER)[k], v <= nrow ? kInfinity : 10.0);
  }
}

TEST_F(Invert, TwoIdenticalColumnsAreRepairedWithMessage101) {
  icv(ic::IFMSG) = 1;
  const Column same{{1, 1.0}, {2, 2.0}};
  build_problem(3, {same, same, {{3, 1.0}}});
  choose_basis({column_position(0), column_position(1), column_position(2)});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(repair_record.repair_count, 1);
  EXPECT_EQ(factor_stats.singular_repairs, 1);
  const int32_t removed = repair_record.removed_variables[0];
  EXPECT_TRUE(removed == column_position(0) || removed == column_position(1));
  EXPECT_EQ(int_array(ARR_POS_STATUS)[removed] & PS_BASIC, 0);
  const int32_t slack = repair_record.slack_rows[0];
  EXPECT_TRUE(slack == 1 || slack == 2);
  EXPECT_NE(int_array(ARR_POS_STATUS)[slack] & PS_BASIC, 0);
  EXPECT_EQ(kltest::count_lines_containing("Basis singular:"), 1);
  EXPECT_EQ(kltest::count_lines_containing(" 1 columns replaced"), 1);
  expect_solves_match_basis("repaired");
}

TEST_F(Invert, RepairIsSilentWithoutIfmsg) {
  const Column same{{1, 1.0}, {2, 2.0}};
  build_problem(2, {same, same});
  choose_basis({column_position(0), column_position(1)});
  invert_basis();
  EXPECT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(repair_record.repair_count, 1);
  EXPECT_EQ(kltest::count_lines_containing("singular"), 0);
}

TEST_F(Invert, RepairKeepsValuesAndMarksDuringCrossover) {
  const Column same{{1, 1.0}, {2, 2.0}};
  build_problem(2, {same, same});
  // Both columns free: the one taken out is held at its value.
  for (int32_t j = 0; j < 2; ++j) {
    int_array(ARR_POS_STATUS)[column_position(j)] &= ~PS_BOTH_FINITE;
    int_array(ARR_POS_STATUS)[column_position(j)] |= PS_FREE;
    real_array(ARR_X)[column_position(j)] = 3.5;
  }
  choose_basis({column_position(0), column_position(1)});
  crossover_mode = 2;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(crossover_mode, 1);  // reduced to its sign
  const int32_t removed = repair_record.removed_variables[0];
  EXPECT_NE(int_array(ARR_POS_STATUS)[removed] & PS_NONBASIC_BETWEEN, 0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[removed] & PS_MARK, 0);
  EXPECT_EQ(real_array(ARR_X)[removed], 3.5);
}

TEST_F(Invert, StructurallyEmptyRowGetsItsSlackWithoutMessage101) {
  icv(ic::IFMSG) = 1;
  build_problem(2, {{{1, 2.0}}, {{1, 3.0}}});
  choose_basis({column_position(0), column_position(1)});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(factor_stats.empty_row_repairs, 1);
  EXPECT_EQ(repair_record.repair_count, 0);
  EXPECT_EQ(kltest::count_lines_containing("singular"), 0);
  EXPECT_EQ(kltest::count_lines_containing("structurally empty"), 1);
  // The structural at position 2 left, the slack of row 2 entered.
  EXPECT_EQ(int_array(ARR_POS_STATUS)[column_position(1)] & PS_BASIC, 0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[2] & PS_BASIC, 0);
  EXPECT_EQ(eta_file.slack_pivots, -1);
  EXPECT_EQ(eta_file.column_singletons, 1);
  expect_solves_match_basis("empty row");
}

TEST_F(Invert, CapacityFollowsTheBasisNonzeros) {
  // 1000 nonzeros: 100 columns of 10 entries each in 100 rows.
  std::vector<Column> columns;
  for (int32_t j = 0; j < 100; ++j) {
    Column c;
    for (int32_t q = 0; q < 10; ++q) c.push_back({(j + 7 * q) % 100 + 1, q == 0 ? 10.0 : 0.1 * (q + 1)});
    columns.push_back(c);
  }
  build_problem(100, columns);
  std::vector<int32_t> basic;
  for (int32_t j = 0; j < 100; ++j) basic.push_back(column_position(j));
  choose_basis(basic);
  icv(ic::M_E_) = 4;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(icv(ic::M_E_), 3 * 1000 + 50000);
  EXPECT_EQ(eta_file.eta_capacity, 53000);
  EXPECT_EQ(eta_file.basis_nonzeros, 1000);
  expect_solves_match_basis("sized");
}

TEST_F(Invert, FullEtaFileGrowsAndTheInvertStartsAgain) {
  std::mt19937 rng(3);
  build_problem(60, kltest::random_columns(60, 60, 6, rng));
  std::vector<int32_t> basic;
  for (int32_t j = 0; j < 60; ++j) basic.push_back(column_position(j));
  choose_basis(basic);
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  // Pretend the file is tiny: the next invert runs out of room and grows.
  icv(ic::IFMSG) = 10;
  eta_file.eta_capacity = 200;
  problem_flags &= ~PF_FACTOR_VALID;
  kltest::captured_lines().clear();
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_GE(factor_stats.eta_file_growths, 1);
  EXPECT_GT(eta_file.eta_capacity, 200);
  EXPECT_GE(kltest::count_lines_containing("Eta file capacity set to"), 1);
  EXPECT_GE(kltest::count_lines_containing("Invert: basis nonzeros"), 1);
  expect_solves_match_basis("grown");
}

TEST_F(Invert, EtaFileThatCannotGrowEndsWithMessage102) {
  std::mt19937 rng(4);
  build_problem(40, kltest::random_columns(40, 40, 5, rng));
  std::vector<int32_t> basic;
  for (int32_t j = 0; j < 40; ++j) basic.push_back(column_position(j));
  choose_basis(basic);
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  eta_file.eta_capacity = 100;
  problem_flags &= ~PF_FACTOR_VALID;
  begin_body();
  fail_next_allocations(100);
  invert_basis();
  fail_next_allocations(0);
  EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_EQ(kltest::count_lines_containing("Eta file full"), 1);
}

TEST_F(Invert, LuArraysThatCannotBeHadGiveStatus4) {
  build_problem(3, {{{1, 2.0}}});
  begin_body();
  fail_next_allocations(1);
  invert_basis();
  fail_next_allocations(0);
  EXPECT_EQ(status_code, STATUS_NO_FACTOR_MEMORY);
  EXPECT_EQ(problem_flags & (PF_FACTOR_VALID | PF_LU_ARRAYS), 0);
  EXPECT_EQ(kltest::count_lines_containing("Not enough memory for array number"), 1);
  // Nothing is left half-allocated: the next invert starts clean.
  begin_body();
  invert_basis();
  EXPECT_NE(problem_flags & PF_FACTOR_VALID, 0);
}

TEST(ThresholdLadder, AcceptsSmallResidualsAndRaisesTheThresholdTwice) {
  struct Case {
    double measure;
    double u;
    ResidualVerdict verdict;
    double raised;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {0.9e-8, 0.01, ResidualVerdict::kAccept, 0.01},
      {1e-8, 0.01, ResidualVerdict::kRaiseThreshold, 0.1500000001},
      {1e-3, 0.0, ResidualVerdict::kRaiseThreshold, 0.1500000001},
      {1e-3, 0.1500000001, ResidualVerdict::kRaiseThreshold, 0.2},
      {1e-3, 0.2, ResidualVerdict::kAccept, 0.2},
      {nan, 0.01, ResidualVerdict::kRaiseThreshold, 0.1500000001},
  };
  for (const Case& c : cases) {
    double raised = -1.0;
    EXPECT_EQ(judge_residual(c.measure, c.u, raised), c.verdict) << c.measure << " " << c.u;
    EXPECT_EQ(raised, c.verdict == ResidualVerdict::kAccept ? c.u : c.raised);
  }
}

TEST_F(Invert, UnsetPivotThresholdIsTakenFromZtolri) {
  build_problem(2, {{{1, 1.0}, {2, 1.0}}});
  invert_basis();
  EXPECT_EQ(dcv(dslot::kInvertPivotThreshold), dcv(dc::ZTOLRI));
}

TEST_F(Invert, PermutedFactorNumbersRowsByFirstAppearance) {
  std::mt19937 rng(11);
  build_problem(30, kltest::random_columns(30, 30, 3, rng));
  choose_basis(kltest::random_basis(30, 30, 20, rng));
  lp_algorithm = 1;
  factor.factor_permuted = 1;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(factor.factor_permuted, 1);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  std::vector<char> seen(31, 0);
  for (int32_t i = 1; i <= 30; ++i) {
    ASSERT_GE(index[i], 1);
    ASSERT_LE(index[i], 30);
    EXPECT_EQ(rows[index[i]], i);
    seen[index[i]] = 1;
  }
  for (int32_t k = 1; k <= 30; ++k) EXPECT_TRUE(seen[k]);
  EXPECT_LE(factor.factor_dimension, 30);
  // FTRAN in factor numbering: B x = b with b mapped through factor_index.
  const std::vector<double> b = ramp(30);
  std::vector<double> mapped(30, 0.0);
  for (int32_t i = 1; i <= 30; ++i) mapped[index[i] - 1] = b[i - 1];
  const std::vector<double> x = ftran(mapped);
  std::vector<double> activity(30, 0.0);
  for (int32_t k = 1; k <= 30; ++k) {
    const int32_t v = int_array(ARR_BASIS_HEADER)[k];
    if (v <= 30) {
      activity[v - 1] += x[k - 1];
      continue;
    }
    for (int32_t q = int_array(ARR_COL_START)[v]; q < int_array(ARR_COL_START)[v + 1]; ++q)
      activity[int_array(ARR_ELEM_ROW)[q] - 1] += real_array(ARR_ELEM_VALUE)[q] * x[k - 1];
  }
  EXPECT_LT(kltest::max_difference(activity, b), 1e-10);
  EXPECT_LT(factor_stats.last_residual, kResidualAcceptance);
}

TEST_F(Invert, FreeingTheFactorArraysAsksForAFreshInvert) {
  build_problem(3, {{{1, 2.0}, {2, 1.0}}});
  choose_basis({column_position(0), 2, 3});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  free_factor_arrays();
  EXPECT_EQ(problem_flags & (PF_FACTOR_VALID | PF_LU_ARRAYS), 0);
  invert_basis();
  EXPECT_NE(problem_flags & PF_FACTOR_VALID, 0);
  expect_solves_match_basis("after free");
}

}  // namespace
