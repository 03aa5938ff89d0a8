// Basic-value updates after a primal step: values, marks, counts, bound
// placements into the working right-hand side and the change list; the
// reduced costs by rows, the accuracy check and the dual-infeasibility
// shift; the product-form update of the factor.
#include "simplex/pivot_updates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "factor/factor_check.h"
#include "factor/factor_fixture.h"
#include "factor/hypersparse.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "simplex/kernel.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace {

using namespace kl;

struct Row {
  double value;
  double alpha;
  int32_t mark = 0;
};

class PivotUpdates : public kltest::FactorTest {
 protected:
  // A slack basis (slacks bounded below by 0); the entering variable is
  // column 1 in [0, 10] at its lower bound; row 1 leaves at its lower bound.
  void set_up(const std::vector<Row>& rows) {
    const int32_t m = static_cast<int32_t>(rows.size());
    kltest::build_problem(m, {kltest::Column{{1, 1.0}}});
    q_ = kltest::column_position(0);
    kltest::allocate(ARR_PIVOT_ROW, words_for_reals(nseq + 1));
    factor.factor_dimension = m;
    ninf = 0;
    for (int32_t i = 1; i <= m; ++i) {
      const Row& r = rows[static_cast<size_t>(i - 1)];
      real_array(ARR_BASIC_VALUES)[i] = r.value;
      real_array(ARR_BASIC_UPPER)[i] = kInfinity;
      real_array(ARR_WORK_RHS)[i] = 0.0;
      int_array(ARR_ROW_TYPE)[i] = ROW_G | r.mark;
      if ((r.mark & (RF_INFEAS_ABOVE | RF_INFEAS_BELOW)) != 0) ++ninf;
    }
    std::vector<double> alpha;
    for (const Row& r : rows) alpha.push_back(r.alpha);
    kltest::load_work_vector(alpha);
    entering_column = q_;
    entering_sign = 0;
    entering_upper = 10.0;
    entering_objective_rate = -2.0;
    entering_reduced_cost = -2.0;
    entering_weight = 0.5;
    leaving_row = 1;
    leaving_variable = 1;
    leaving_direction = kLeaveAtLower;
    pivot_value = rows[0].alpha;
    objval = 0.0;
    suminf = 0.0;
    shift_count = 0;
    shift_active = 0;
    phase1_marker = 0;
    clear_infeasibility_changes();
  }
  double value(int32_t i) const { return real_array(ARR_BASIC_VALUES)[i]; }
  int32_t mark(int32_t i) const { return int_array(ARR_ROW_TYPE)[i] & (RF_INFEAS_ABOVE | RF_INFEAS_BELOW); }
  int32_t q_ = 0;
};

TEST_F(PivotUpdates, PhaseTwoPlacesSmallViolationsAndCountsLargeOnes) {
  // Step 1: row 2 ends 5e-6 below its bound (placed), row 3 ends 2e-5
  // below (infeasible), row 4 rises.
  set_up({{1.0, 1.0}, {1.0 - 5e-6, 1.0}, {1.0 - 2e-5, 1.0}, {3.0, -1.0}});
  update_basic_values_primal();
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], q_);
  EXPECT_DOUBLE_EQ(value(1), 1.0);
  EXPECT_EQ(value(2), 0.0);
  EXPECT_EQ(mark(2), 0);
  EXPECT_EQ(shift_count, 1);
  EXPECT_NEAR(real_array(ARR_WORK_RHS)[2], 5e-6, 1e-15);
  EXPECT_NEAR(value(3), -2e-5, 1e-15);
  EXPECT_EQ(mark(3), RF_INFEAS_BELOW);
  EXPECT_EQ(ninf, 1);
  EXPECT_NEAR(suminf, 2e-5, 1e-15);
  EXPECT_DOUBLE_EQ(value(4), 4.0);
  EXPECT_DOUBLE_EQ(objval, -2.0);
  ASSERT_EQ(infeasibility_changes.count, 2);
  EXPECT_EQ(infeasibility_changes.items[0], 3);
  EXPECT_EQ(infeasibility_changes.items[1], 1);
  EXPECT_DOUBLE_EQ(work_vector()[1], pivot_value);
}

TEST_F(PivotUpdates, DegenerateStepChangesOnlyTheLeavingPosition) {
  set_up({{0.0, 1.0, RF_FREE_BASIC}, {-3.0, 2.0, RF_INFEAS_BELOW}, {7.0, -1.0}});
  update_basic_values_primal();
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], q_);
  EXPECT_EQ(value(1), 0.0);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[1] & RF_FREE_BASIC, 0);  // the entering column is not free
  EXPECT_EQ(value(2), -3.0);
  EXPECT_EQ(mark(2), RF_INFEAS_BELOW);
  EXPECT_EQ(value(3), 7.0);
  EXPECT_EQ(ninf, 1);
  EXPECT_EQ(objval, 0.0);
  EXPECT_EQ(infeasibility_changes.count, 0);
}

TEST_F(PivotUpdates, FreeBasicIsNeverTested) {
  set_up({{1.0, 1.0}, {0.0, 5.0, RF_FREE_BASIC}});
  update_basic_values_primal();
  EXPECT_DOUBLE_EQ(value(2), -5.0);
  EXPECT_EQ(mark(2), 0);
  EXPECT_EQ(ninf, 0);
}

TEST_F(PivotUpdates, BoundFlipMovesTheValuesByTheRange) {
  set_up({{30.0, 1.0}, {1.0, -1.0}});
  leaving_row = kLeavingBoundFlip;
  update_basic_values_primal();
  EXPECT_DOUBLE_EQ(value(1), 20.0);
  EXPECT_DOUBLE_EQ(value(2), 11.0);
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], 1);
  EXPECT_DOUBLE_EQ(objval, -20.0);
}

// The quadratic engine's objective follows t g'p + t^2/2 p'Qp along the
// edge, for a step to the minimum inside the bounds, a basis change and a
// bound flip alike (rate -2 per unit step).
TEST_F(PivotUpdates, QuadraticStepAddsTheCurvatureTermToTheObjective) {
  struct Case {
    const char* name;
    int32_t leaving_row;
    int32_t direction;
    double step;       // the interior step length, when interior
    double curvature;  // p'Qp per unit step
    double objective;
  };
  const Case cases[] = {
      {"interior", kLeavingBoundFlip, kLeaveInterior, 1.5, 2.0, -2.0 * 1.5 + 0.5 * 2.0 * 1.5 * 1.5},
      {"basis change", 1, kLeaveAtLower, 0.0, 2.0, -2.0 * 1.0 + 0.5 * 2.0},
      {"bound flip", kLeavingBoundFlip, kLeaveAtUpper, 0.0, 0.2, -2.0 * 10.0 + 0.5 * 0.2 * 100.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_up({{1.0, 1.0}, {30.0, -1.0}});
    leaving_row = c.leaving_row;
    leaving_direction = c.direction;
    step_length = c.step;
    update_basic_values_qp(c.curvature);
    EXPECT_DOUBLE_EQ(objval, c.objective);
  }
}

TEST_F(PivotUpdates, ChangeListOverflowsPastTwentyPairs) {
  std::vector<Row> rows = {{1.0, 1.0}};
  for (int k = 0; k < 25; ++k) rows.push_back({0.5, 1.0});
  set_up(rows);
  update_basic_values_primal();
  EXPECT_EQ(ninf, 25);
  EXPECT_TRUE(infeasibility_changes_overflowed());
}

TEST_F(PivotUpdates, KernelUpdateInPhaseOne) {
  // ninf > 0 without a shift: values up to 1e-4 outside are placed when
  // their |alpha| reaches |d_q / BIGM|.
  struct Case {
    const char* name;
    double alpha;
    bool placed;
  };
  const double cap = 2.0 / dcv(dc::BIGM);
  for (const Case& c : {Case{"large alpha placed", 1.0, true}, Case{"small alpha counted", cap / 2, false}}) {
    // Row 2 ends 5e-5 below its bound.
    set_up({{1.0, 1.0}, {c.alpha - 5e-5, c.alpha}, {-1.0, -1.0, RF_INFEAS_BELOW}});
    update_after_pivot();
    EXPECT_EQ(mark(2) != 0, !c.placed) << c.name;
    EXPECT_EQ(shift_count, c.placed ? 1 : 0) << c.name;
    EXPECT_EQ(mark(3), 0) << c.name;  // row 3 rose to 0: feasible
    EXPECT_EQ(ninf, c.placed ? 0 : 1) << c.name;
    EXPECT_EQ(real_array(ARR_REDUCED_COSTS)[1], 0.0) << c.name;
    EXPECT_DOUBLE_EQ(real_array(ARR_PIVOT_ROW)[1], 0.5) << c.name;  // the leaving slack's reference weight
  }
}

TEST_F(PivotUpdates, KernelUpdateFromAFeasibleBasisMarksTheListOverflowed) {
  set_up({{1.0, 1.0}, {0.5, 1.0}});
  update_after_pivot();
  EXPECT_EQ(ninf, 1);
  EXPECT_TRUE(infeasibility_changes_overflowed());
}

TEST_F(PivotUpdates, ReducedCostsByRows) {
  // Rows 1, 2; columns a = (1, 2)', b = (3, 0)'; duals y = (0.5, -1).
  kltest::build_problem(2, {kltest::Column{{1, 1.0}, {2, 2.0}}, kltest::Column{{1, 3.0}}});
  for (int id : {ARR_ROW_COPY_START, ARR_ROW_COPY_COL}) kltest::allocate(id, words_for_ints(8));
  kltest::allocate(ARR_ROW_COPY_VAL, words_for_reals(8));
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  const int32_t a = kltest::column_position(0);
  const int32_t b = kltest::column_position(1);
  start[1] = 1;
  col[1] = a;
  val[1] = 1.0;
  col[2] = b;
  val[2] = 3.0;
  start[2] = 3;
  col[3] = a;
  val[3] = 2.0;
  start[3] = 4;
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  cost[a] = 1.0;
  cost[b] = -1.0;
  factor.factor_dimension = 2;
  sense_factor = 1.0;
  // Row 2 non-basic, row 1 basic.
  int_array(ARR_POS_STATUS)[2] &= ~PS_BASIC;
  kltest::load_work_vector({0.5, -1.0});
  compute_reduced_costs();
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  EXPECT_DOUBLE_EQ(d[a], 1.0 + 0.5 * 1.0 - 1.0 * 2.0);
  EXPECT_DOUBLE_EQ(d[b], -1.0 + 0.5 * 3.0);
  EXPECT_DOUBLE_EQ(d[2], -1.0);
}

TEST_F(PivotUpdates, ReducedCostAccuracyCheck) {
  kltest::build_problem(2, {kltest::Column{{1, 1.0}, {2, 1.0}}});
  entering_column = kltest::column_position(0);
  kltest::load_work_vector({1e3, -1e3});
  dj_check_value = 1e-5;
  icv(ic::IFMSG) = 1;
  icv(ic::IDBDC) = 0;
  EXPECT_EQ(check_reduced_cost_accuracy(), 0);
  icv(ic::IDBDC) = 2;
  EXPECT_EQ(check_reduced_cost_accuracy(), kReducedCostInaccurate);
  EXPECT_TRUE(kltest::any_line_contains("inaccurate"));
  dj_check_value = 1.0;
  EXPECT_EQ(check_reduced_cost_accuracy(), 0);
}

TEST_F(PivotUpdates, DualInfeasibilitiesSmallShiftedLargeCounted) {
  kltest::build_problem(1, {kltest::Column{{1, 1.0}}, kltest::Column{{1, 1.0}}});
  const int32_t small = kltest::column_position(0);
  const int32_t large = kltest::column_position(1);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  real_array(ARR_WORK_LOWER)[small] = 0.0;
  real_array(ARR_WORK_UPPER)[small] = 10.0;
  real_array(ARR_WORK_LOWER)[large] = 0.0;
  real_array(ARR_WORK_UPPER)[large] = 10.0;
  sense_factor = 1.0;
  shift_count = 0;
  d[small] = -5e-5;  // between ZTCOST and 100 ZPCOST
  d[large] = -1.0;
  cost[small] = 3.0;
  shift_dual_infeasibilities();
  EXPECT_EQ(nnegdj, 1);
  EXPECT_EQ(entering_column, 1);
  EXPECT_EQ(d[small], 0.0);
  EXPECT_DOUBLE_EQ(cost[small], 3.0 + 5e-5);
  EXPECT_DOUBLE_EQ(cost_shift_total, 5e-5 * 10.0);
  EXPECT_EQ(shift_count, 1);
}

// q enters at basis position r: header and status bits.
void exchange(int32_t q, int32_t r) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[header[r]] &= ~PS_BASIC;
  status[q] |= PS_BASIC;
  header[r] = q;
}

// The work vector := B^-1 a_q, listed; returns the row of its largest entry.
int32_t transform_densely(int32_t q) {
  unpack_column(q);
  basis_solve_work_vector();
  sparsify_work_vector(dcv(dc::ZTETA));
  int32_t best = 0;
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
    const int32_t i = work_list()[k];
    if (best == 0 || std::fabs(work_vector()[i]) > std::fabs(work_vector()[best])) best = i;
  }
  return best;
}

// Dense and listed solves of random vectors against the current basis.
void expect_factor_solves_basis(std::mt19937& rng, const std::string& label) {
  std::uniform_int_distribution<int32_t> row(0, nrow - 1);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<double> b(static_cast<size_t>(nrow), 0.0);
    for (int k = 0; k < 4; ++k) b[row(rng)] = value(rng);
    kltest::load_work_vector(b);
    basis_solve_work_vector();
    EXPECT_LT(ftran_residual(b, kltest::read_work_vector()), 1e-10) << label;
    kltest::load_work_vector(b);
    solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
    solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
    EXPECT_LT(ftran_residual(b, kltest::read_work_vector()), 1e-10) << label << " (listed)";
    kltest::load_work_vector(b);
    basis_btran_work_vector();
    EXPECT_LT(btran_residual(b, kltest::read_work_vector()), 1e-10) << label;
  }
}

// The product-form eta is the column of the new basis, B^-1 a_q, whichever
// sign the caller holds the column in (the dual keeps it negated for a
// decreasing entering variable); the two update forms never share a factor.
TEST_F(PivotUpdates, ProductFormEtaIsTheColumnOfTheNewBasisInEitherSign) {
  std::mt19937 rng(21);
  const int32_t m = 15;
  for (const double sign : {1.0, -1.0}) {
    SCOPED_TRACE(sign > 0.0 ? "column as it is" : "column negated");
    kltest::build_problem(m, kltest::random_columns(m, 20, 3, rng));
    factor.factor_dimension = m;
    invert_basis();
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
    for (int32_t step = 0; step < 6; ++step) {
      const int32_t q = kltest::column_position(step);
      const int32_t r = transform_densely(q);
      ASSERT_NE(r, 0);
      leaving_row = r;
      if (sign < 0.0) negate_work_vector();
      ASSERT_EQ(store_pivot_eta(sign), 0);
      exchange(q, r);
      expect_factor_solves_basis(rng, "after update " + std::to_string(step + 1));
    }
    EXPECT_EQ(eta_file.product_form_count, 6);
    EXPECT_EQ(eta_file.row_eta_count, 6);
    // A row-eta update cannot follow: the factor is to be rebuilt.
    const int32_t q = kltest::column_position(6);
    leaving_row = transform_densely(q);
    pivot_value = work_vector()[leaving_row];
    EXPECT_EQ(update_factor(), UPDATE_ETA_FILE_FULL);
    EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
  }

  // Nor can a product-form eta follow row etas.
  kltest::build_problem(m, kltest::random_columns(m, 20, 3, rng));
  factor.factor_dimension = m;
  invert_basis();
  const int32_t q = kltest::column_position(0);
  unpack_column(q);
  solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  ASSERT_EQ(append_eta_column(), 0);
  solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  leaving_row = work_list()[1];
  pivot_value = work_vector()[leaving_row];
  ASSERT_EQ(update_factor(), UPDATE_DONE);
  exchange(q, leaving_row);
  ASSERT_GT(eta_file.row_eta_count, 0);
  leaving_row = transform_densely(kltest::column_position(1));
  EXPECT_EQ(store_pivot_eta(), UPDATE_ETA_FILE_FULL);
  EXPECT_EQ(eta_file.product_form_count, 0);
  EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
}

}  // namespace
