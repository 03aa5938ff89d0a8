// Hand-built problems for the dual ratio test, the dual pivot update and the
// crossover's dual step: the factor fixture's problem with the arrays of a
// dual run (pivot row and its list, row-wise copy, infeasibility heap), the
// working bounds equal to the bounds, and a factorised basis.
#ifndef KLSOL_TESTS_SIMPLEX_DUAL_STEP_FIXTURE_H
#define KLSOL_TESTS_SIMPLEX_DUAL_STEP_FIXTURE_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "factor/factor_fixture.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "problem/matrix_storage.h"
#include "simplex/dual_driver.h"
#include "simplex/dual_loop.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/infeasibility_heap.h"
#include "simplex/pivot_updates.h"
#include "factor/simplex_state.h"

namespace kltest {

class DualStepTest : public FactorTest {
 protected:
  // The problem of build_problem with every array of a dual run, the given
  // basis (the slack basis when empty) factorised, working bounds = bounds,
  // and the dual's cells in their state at a pass start of phase 2.
  void build_dual(int32_t m, const std::vector<Column>& columns, const std::vector<int32_t>& basic = {},
                  int32_t permuted = 0, int32_t pricing_mode = kl::kDualPricingDevex) {
    using namespace kl;
    build_problem(m, columns);
    const int64_t positions = nseq + 1;
    allocate(ARR_PIVOT_ROW, words_for_reals(positions));
    allocate(ARR_PIVOT_ROW_INDEX, words_for_ints(2 * positions));
    allocate(ARR_SCALE_WORK, words_for_ints(positions));
    allocate(ARR_ROW_COPY_START, words_for_ints(m + 2));
    allocate(ARR_ROW_COPY_COL, words_for_ints(nelem + 1));
    allocate(ARR_ROW_COPY_VAL, words_for_reals(nelem + 1));
    allocate(ARR_INFEAS_HEAP_INDEX, words_for_ints(m + 2));
    allocate(ARR_INFEAS_HEAP_POS, words_for_ints(m + 2));
    allocate(ARR_INFEAS_HEAP_VALUE, words_for_reals(m + 2));
    build_row_copy();
    if (!basic.empty()) choose_basis(basic);
    lp_algorithm = kAlgorithmDual;
    factor.factor_permuted = permuted;
    ASSERT_NO_FATAL_FAILURE(refactorise());
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    for (int32_t p = 1; p <= nseq; ++p) {
      real_array(ARR_WORK_LOWER)[p] = lower[p];
      real_array(ARR_WORK_UPPER)[p] = upper[p];
    }
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t i = 1; i <= m; ++i) real_array(ARR_BASIC_UPPER)[i] = upper[header[i]];
    dual_pricing_mode = pricing_mode;
    sense_factor = 1.0;
    nnegdj = 0;
    shift_count = 0;
    shift_active = 0;
    perturbation_phase = 3;
    stall_count = 0;
    cost_magnitude = 1.0;
    weight_check_count = 0;
    phase1_values_current = 0;
    phase1_flip_pairs.count = 0;
    marks_exist = 0;
    update_count = 0;
    objval = 0.0;
    dual_pivot_row = DualPivotRow{};
    bound_flips.count = 0;
    bound_flips.applied = 0;
    reset_breakpoint_pool();
  }

  // Invert of the current basis; every row weight 1.
  void refactorise() {
    using namespace kl;
    invert_basis(InvertReason::kNewBasis);
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
    for (int32_t i = 1; i <= nrow; ++i) real_array(ARR_ROW_WEIGHTS)[i] = 1.0;
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_CLEAR_ALL;
    clear_work_vector();
    factor.work_vector_state = WV_ZERO;
  }

  // Reduced costs from the duals of the working costs, as a pass start
  // computes them.
  static void recompute_reduced_costs() {
    using namespace kl;
    clear_work_vector();
    OneBased<double> w = work_vector();
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<double> cost = real_array(ARR_WORKING_COSTS);
    for (int32_t k = 1; k <= factor.factor_dimension; ++k) w[k] = -sense_factor * cost[header[k]];
    for (int32_t k = factor.factor_dimension + 1; k <= nrow; ++k) w[k] = 0.0;
    factor.work_vector_state = WV_CLEAR_ALL;
    basis_btran_work_vector();
    compute_reduced_costs();
    clear_work_vector();
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_ZERO;
  }

  // rho = e_r' B^-1 (factor numbering) by a dense BTRAN.
  static std::vector<double> row_of_inverse(int32_t r) {
    using namespace kl;
    clear_work_vector();
    OneBased<double> w = work_vector();
    for (int32_t k = 1; k <= nrow; ++k) w[k] = 0.0;
    w[r] = 1.0;
    factor.work_vector_state = WV_CLEAR_ALL;
    if (r <= factor.factor_dimension) basis_btran_work_vector();
    std::vector<double> rho(static_cast<size_t>(nrow) + 1, 0.0);
    for (int32_t k = 1; k <= nrow; ++k) {
      rho[k] = w[k];
      w[k] = 0.0;
    }
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_ZERO;
    return rho;
  }

  // rho' a_j for position j (a slack: rho at its row's factor position).
  static double times_column(const std::vector<double>& rho, int32_t j) {
    using namespace kl;
    OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
    const bool permuted = factor.factor_permuted != 0;
    auto at = [&](int32_t row) { return permuted ? index[row] : row; };
    if (j < store.first_col) return rho[at(j)];
    OneBased<int32_t> start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    double sum = 0.0;
    for (int32_t e = start[j]; e < start[j + 1]; ++e) sum += rho[at(elem_row[e])] * elem_value[e];
    return sum;
  }
};

}  // namespace kltest

#endif
