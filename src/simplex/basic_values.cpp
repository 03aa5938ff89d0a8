#include "simplex/basic_values.h"

#include <utility>

#include "factor/crossover_state.h"
#include "factor/basis.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/primal_driver.h"

namespace kl {

namespace {

// Factor position of a row: through factor_index when the factor is permuted.
struct FactorOrder {
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  int32_t operator()(int32_t row) const { return permuted ? index[row] : row; }
};

}  // namespace

void subtract_nonbasic_activity() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> upper = real_array(ARR_UPPER);
  const FactorOrder at;
  const bool crossover = crossover_mode > 0;

  if (crossover) {
    for (int32_t i = 1; i <= nrow; ++i)
      if ((status[i] & PS_BASIC) == 0) w[i] -= x[i];
  } else if (at.permuted) {
    OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
    for (int32_t k = 1; k <= nrow; ++k) {
      const int32_t i = rows[k];
      if ((status[i] & (PS_BASIC | PS_AT_UPPER)) == PS_AT_UPPER) w[k] -= upper[i];
    }
  } else {
    for (int32_t i = 1; i <= nrow; ++i) {
      if ((status[i] & PS_BASIC) != 0) continue;
      if ((status[i] & PS_AT_UPPER) != 0)
        w[i] -= upper[i];
      else if ((status[i] & PS_NONBASIC_BETWEEN) != 0)
        w[i] -= x[i];
    }
  }

  double& nonbasic_objective = dcv(dslot::kNonbasicObjective);
  nonbasic_objective = 0.0;
  const bool dual_bounds = !crossover && algorithm_kind() == 1;
  OneBased<double> cost = dual_bounds ? real_array(ARR_WORKING_COSTS) : real_array(ARR_OBJECTIVE);
  OneBased<double> low = dual_bounds ? real_array(ARR_WORK_LOWER) : real_array(ARR_LOWER);
  OneBased<double> up = dual_bounds ? real_array(ARR_WORK_UPPER) : real_array(ARR_UPPER);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & PS_BASIC) != 0) continue;
    double v;
    if (crossover) {
      v = x[j];
    } else {
      // A free column sits at zero unless it is held at a value.
      if (!dual_bounds && (s & PS_FREE) != 0 && (s & PS_NONBASIC_BETWEEN) == 0) continue;
      if ((s & PS_NONBASIC_BETWEEN) != 0)
        v = x[j];
      else
        v = (s & PS_AT_UPPER) != 0 ? up[j] : low[j];
    }
    if (v == 0.0) continue;
    if (crossover || (s & PS_FIXED) == 0) nonbasic_objective += cost[j] * v;
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      w[crossover ? i : at(i)] -= v * elem_value[k];
    }
  }
}

void compute_basic_values() {
  OneBased<double> w = work_vector();
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  const FactorOrder at;
  factor.work_vector_state = WV_CLEAR_ALL;
  for (int32_t i = 1; i <= nrow; ++i) w[at(i)] = rhs[i];
  subtract_nonbasic_activity();
  const int32_t dimension = factor.factor_dimension;
  for (int32_t k = 1; k <= dimension; ++k) values[k] = w[k];
  basis_solve_work_vector();
  // The solution goes to basic_values and the right-hand side stays in the
  // work vector, where the residual check of the invert finds it.
  for (int32_t k = 1; k <= dimension; ++k) std::swap(values[k], w[k]);
  for (int32_t k = dimension + 1; k <= nrow; ++k) values[k] = w[k];
  compute_objective_value();
  factor.work_vector_state = WV_CLEAR_ALL;
}

}  // namespace kl
