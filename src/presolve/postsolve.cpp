#include "presolve/postsolve.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/simplex_state.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "presolve/array_switch.h"
#include "presolve/postsolve_undo.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"

namespace kl {

namespace {

constexpr uint32_t kCarriedBits = PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN | PS_POSTSOLVE_MARK;

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

uint32_t word(OneBased<int32_t> status, int32_t k) { return static_cast<uint32_t>(status[k]); }
// 2^(e - 64) of a position's exponent byte, and its inverse.
double value_factor(OneBased<int32_t> status, int32_t k) { return scale_powers[scale_exponent(status[k])]; }
double cost_factor(OneBased<int32_t> status, int32_t k) { return scale_powers[128 - scale_exponent(status[k])]; }

// A nonbasic column's value at its bound; a free one rests at 0.
double bound_value(double bound) { return std::fabs(bound) >= kInfiniteBound ? 0.0 : bound; }

// The presolved problem's model rows: cut rows of the search follow them and
// have no original row.
int32_t model_rows() { return nrow - std::max(0, cut_row_count); }

// The row duals of the presolved basis, by row: BTRAN of the basic costs.
std::vector<double> presolved_duals() {
  clear_work_vector();
  set_basic_costs();
  if (icv(ic::IFFTUP) == 0) {
    btran_dense();
  } else {
    basis_btran_work_vector();
  }
  OneBased<double> w = work_vector();
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && rows;
  std::vector<double> y(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t k = 1; k <= nrow; ++k) y[permuted ? rows[k] : k] = w[k];
  return y;
}

// sense x c(j) (unless left out) + sum of y(i) a(i,j) over column j.
double column_sum(int32_t j, const std::vector<double>& y, bool with_cost) {
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  double d = with_cost ? sense_factor * real_array(ARR_OBJECTIVE)[j] : 0.0;
  for (int32_t e = start[j]; e < start[j + 1]; ++e) d += y[elem_row[e]] * elem_value[e];
  return d;
}

// Step 2: values and duals of a basic solution into original positions.
void map_basic_solution() {
  std::vector<double>& lp_values = postsolve_work.lp_values;
  OneBased<double> lp_reduced_costs = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic_values = real_array(ARR_BASIC_VALUES);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const double ztolze = dcv(dc::ZTOLZE);
  const double zteta = dcv(dc::ZTETA);

  const std::vector<double> y = presolved_duals();
  for (int32_t k = 1; k <= original_problem.nseq; ++k) lp_reduced_costs[k] = 0.0;

  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t p = header[i];
    double v = basic_values[i];
    if (v > upper[p] + ztolze) {
      status[p] = static_cast<int32_t>(word(status, p) | PS_POSTSOLVE_MARK);
    } else if (std::fabs(v - lower[p]) < zteta) {
      v = lower[p];
    }
    if (v < lower[p] - ztolze) status[p] = static_cast<int32_t>(word(status, p) | PS_POSTSOLVE_MARK);
    if (p >= store.first_col && map[p] != 0) lp_values[map[p]] = v * value_factor(status, p);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = word(status, j);
    if (map[j] == 0) continue;
    if ((s & PS_AT_UPPER) != 0) {
      lp_values[map[j]] = bound_value(upper[j]) * value_factor(status, j);
    } else if ((s & PS_NONBASIC_BETWEEN) != 0) {
      lp_values[map[j]] = x[j] * value_factor(status, j);
    } else if ((s & PS_BASIC) == 0) {
      lp_values[map[j]] = bound_value(lower[j]) * value_factor(status, j);
    }
  }
  for (int32_t i = 1; i <= model_rows(); ++i) {
    const int32_t k = map[i];
    if (k == 0) continue;
    lp_reduced_costs[k] = y[i] * value_factor(status, i);
    if ((word(status, i) & PS_FIXED) != 0) {
      const uint32_t s = lp_reduced_costs[k] < 0.0 ? (word(status, i) | PS_AT_UPPER) : (word(status, i) & ~PS_AT_UPPER);
      status[i] = static_cast<int32_t>(s);
    }
  }
  // In a primal phase 1 without the big-M objective the costs take no part.
  const bool with_cost = !(ninf != 0 && bigm_mode == 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((word(status, j) & PS_BASIC) != 0 || map[j] == 0) continue;
    lp_reduced_costs[map[j]] = column_sum(j, y, with_cost) * cost_factor(status, j);
  }
}

// Quadratic terms of the reduced costs: d(J) += s q x(K), and d(K) += s q
// x(J) for an off-diagonal entry; positions through to_position.
template <class ToPosition, class Value>
void add_quadratic_terms(OneBased<double> d, ToPosition to_position, Value value) {
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> q = real_array(ARR_QUAD_VALUES);
  if (nqelem <= 0 || !upper_start) return;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t big_j = to_position(j);
    for (int32_t e = upper_start[j]; e < upper_start[j + 1]; ++e) {
      const int32_t big_k = to_position(index[e]);
      if (big_j == 0 || big_k == 0) continue;
      d[big_j] += sense_factor * q[e] * value(big_k);
      if (big_k != big_j) d[big_k] += sense_factor * q[e] * value(big_j);
    }
  }
}

// Step 3: values only (an interior solution): every position nonbasic at
// its value.
void map_values_only() {
  std::vector<double>& lp_values = postsolve_work.lp_values;
  OneBased<double> lp_reduced_costs = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> w = work_vector();
  const auto at_value = [&](int32_t k) {
    status[k] = static_cast<int32_t>((word(status, k) & ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN)) |
                                     PS_NONBASIC_BETWEEN);
  };
  for (int32_t i = 1; i <= model_rows(); ++i) {
    if (map[i] == 0) continue;
    lp_values[map[i]] = x[i];
    at_value(i);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (map[j] == 0) continue;
    lp_values[map[j]] = x[j] * value_factor(status, j);
    at_value(j);
  }
  for (int32_t k = 1; k <= original_problem.nseq; ++k) lp_reduced_costs[k] = 0.0;
  std::vector<double> y(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t i = 1; i <= nrow; ++i) y[i] = w[i];
  for (int32_t i = 1; i <= model_rows(); ++i)
    if (map[i] != 0) lp_reduced_costs[map[i]] = w[i] * value_factor(status, i);
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if (map[j] != 0) lp_reduced_costs[map[j]] = column_sum(j, y, true);
  add_quadratic_terms(
      lp_reduced_costs, [&](int32_t k) { return map[k]; }, [&](int32_t big) { return lp_values[big]; });
}

// Step 4: basis into original positions. The presolved header waits in the
// free head of the presolved column starts until switch_problem_arrays(0).
void map_basis() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  for (int32_t i = 1; i <= nrow; ++i) col_start[i] = header[i];
  for (int32_t i = 1; i <= original_problem.nrow; ++i) header[i] = i;
  for (int32_t i = 1; i <= model_rows(); ++i) {
    const int32_t k = map[i];
    // A basic position without an original one (a row added to the
    // presolved problem) leaves the slot to the row's own slack.
    if (k != 0 && map[col_start[i]] != 0) header[k] = map[col_start[i]];
  }
  std::vector<int32_t>& carry = postsolve_work.status_carry;
  for (int32_t i = 1; i <= original_problem.nrow; ++i) carry[i] = PS_BASIC;
  for (int32_t j = original_problem.first_col; j <= original_problem.nseq; ++j) carry[j] = CARRY_NOT_RESTORED;
  for (int32_t i = 1; i <= model_rows(); ++i)
    if (map[i] != 0) carry[map[i]] = status[i];
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if (map[j] != 0) carry[map[j]] = status[j];
  // The infeasible marks speak of this solution only: a mark left on the
  // presolved problem would reach the next postsolve as if it were fresh.
  for (int32_t k = 1; k <= nseq; ++k) status[k] = static_cast<int32_t>(word(status, k) & ~PS_POSTSOLVE_MARK);
}

// Step 5: the original dimension words, the presolved ones kept.
void install_original_dimensions() {
  presolve_state.counts.rows = nrow;
  presolve_state.counts.last_position = nseq;
  original_problem.presolved_nrow = nrow;
  original_problem.presolved_nseq = nseq;
  presolve_state.presolved_first_col = store.first_col;
  presolve_state.presolved_objective_row = store.objective_row;
  nrow = original_problem.nrow;
  nseq = original_problem.nseq;
  store.first_col = original_problem.first_col;
  spare_rows_left = original_problem.first_col - original_problem.nrow - 1;
  // The quadratic count goes with the arrays it counts: the switch keeps
  // the presolved one and installs the original.
  store.objective_row = original_problem.objective_row;
}

// Step 6: the presolved problem's own arrays go.
void free_presolved_problem() {
  free_factor_arrays();
  free_row_lists();
  for (int32_t id = ARR_UPPER; id >= ARR_ROW_TYPE; --id) free_array(id, array_cells[id]);
}

// Step 8: the statuses carried from the presolved solution.
void install_carried_statuses() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const std::vector<int32_t>& carry = postsolve_work.status_carry;
  for (int32_t k = 1; k <= nseq; ++k)
    status[k] = static_cast<int32_t>((word(status, k) & ~kCarriedBits) | (static_cast<uint32_t>(carry[k]) & kCarriedBits));
}

// Steps 10 to 12: status bits in line with the bounds after the undo.
// to_bounds: the original problem is to be solved on from this basis.
void settle_statuses(bool to_bounds) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  std::vector<double>& lp_values = postsolve_work.lp_values;
  for (int32_t i = 1; i <= nrow; ++i) {
    uint32_t s = word(status, i);
    const bool at_lower = (s & (PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN)) == 0;
    if (at_lower && (s & PS_FINITE_UPPER) != 0 && (s & PS_FINITE_LOWER) == 0) s |= PS_AT_UPPER;
    if ((s & PS_AT_UPPER) != 0 && (s & PS_FINITE_UPPER) == 0) s &= ~PS_AT_UPPER;
    status[i] = static_cast<int32_t>(s);
  }
  const double ztolze = dcv(dc::ZTOLZE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = word(status, j);
    if ((s & PS_NONBASIC_BETWEEN) == 0) continue;
    if ((s & (PS_BASIC | PS_AT_UPPER)) != 0) {
      status[j] = static_cast<int32_t>(s & ~PS_NONBASIC_BETWEEN);
      continue;
    }
    // A nonbasic column held at a value lies between its bounds. One
    // carried outside them (the presolved solution broke a bound presolve
    // had dropped) starts the solve that follows at the bound it crosses:
    // the basic values computed from there carry the infeasibility, where
    // the simplex counts it. A report keeps the value, which the rows agree
    // with, and counts the column infeasible.
    if (to_bounds && (s & PS_FINITE_LOWER) != 0 && lp_values[j] < lower[j] - ztolze) {
      lp_values[j] = lower[j];
      status[j] = static_cast<int32_t>(s & ~PS_NONBASIC_BETWEEN);
    } else if (to_bounds && (s & PS_FINITE_UPPER) != 0 && lp_values[j] > upper[j] + ztolze) {
      lp_values[j] = upper[j];
      status[j] = static_cast<int32_t>((s & ~PS_NONBASIC_BETWEEN) | PS_AT_UPPER);
    }
    x[j] = lp_values[j];
  }
  for (int32_t k = 1; k <= nseq; ++k)
    if ((word(status, k) & PS_FIXED) != 0) lp_values[k] = upper[k];
}

}  // namespace

void recompute_original_solution(int32_t keep, int32_t& no_basis) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_value = real_array(ARR_ROW_COPY_VAL);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const std::vector<double>& lp_values = postsolve_work.lp_values;
  const double ztolze = dcv(dc::ZTOLZE);
  // A basic column's reduced cost is zero by the basis; without one it is
  // whatever the duals make it.
  const bool with_basis = no_basis == 0;
  const auto clear_mark = [&](int32_t k) { status[k] = static_cast<int32_t>(word(status, k) & ~PS_POSTSOLVE_MARK); };

  ninf = 0;
  suminf = 0.0;
  for (int32_t i = 1; i <= nrow; ++i) {
    double act = 0.0;
    for (int32_t e = row_start[i]; e < row_start[i + 1]; ++e) act += lp_values[row_col[e]] * row_value[e];
    double s = rhs[i] - act;
    const uint32_t w = word(status, i);
    if ((w & (PS_BASIC | PS_NONBASIC_BETWEEN)) != 0) {
      if ((w & PS_FINITE_UPPER) != 0 && s > upper[i] + ztolze) {
        ++ninf;
        suminf += s - upper[i];
      }
      if ((w & PS_FINITE_LOWER) != 0 && s < -ztolze) {
        ++ninf;
        suminf += -s;
      }
      // An interior solution meets its rows only to within its residuals:
      // the slack stays within its bounds and the remainder is the row's
      // residual, measured against the row's own terms as in the presolved
      // answer, not a bound broken by a slack of an equality.
      if (!with_basis) {
        if ((w & PS_FINITE_UPPER) != 0) s = std::min(s, upper[i]);
        if ((w & PS_FINITE_LOWER) != 0) s = std::max(s, lower[i]);
      }
    } else {
      s = (w & PS_AT_UPPER) != 0 ? upper[i] : 0.0;
    }
    x[i] = s;
    clear_mark(i);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double v = lp_values[j];
    const uint32_t w = word(status, j);
    x[j] = v;
    if ((w & PS_FINITE_LOWER) != 0 && v < lower[j] - ztolze) {
      ++ninf;
      suminf += lower[j] - v;
    }
    if ((w & PS_FINITE_UPPER) != 0 && v > upper[j] + ztolze) {
      ++ninf;
      suminf += v - upper[j];
    }
    clear_mark(j);
  }
  if (keep == 0) {
    no_basis = 1;
    iteration_log(1);
  }

  // After a primal run that ended infeasible the duals are those of the
  // big-M composite objective: scaled back, and the costs take no part.
  const double bigm = dcv(dc::BIGM);
  const bool primal_infeasible = algorithm_kind() == kAlgorithmPrimal && status_letter == kLetterInfeasible;
  const double f = bigm >= dcv(dc::ZTETA) ? 1.0 / bigm : 1.0;
  std::vector<double> y(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((word(status, i) & PS_FIXED) != 0) {
      status[i] = static_cast<int32_t>(d[i] < 0.0 ? (word(status, i) | PS_AT_UPPER) : (word(status, i) & ~PS_AT_UPPER));
    }
    if (primal_infeasible) d[i] *= f;
    y[i] = d[i];
  }
  const bool quadratic = nqelem > 0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (!quadratic && with_basis && (word(status, j) & PS_BASIC) != 0) {
      d[j] = 0.0;
    } else {
      d[j] = column_sum(j, y, !primal_infeasible);
    }
  }
  add_quadratic_terms(
      d, [](int32_t k) { return k; }, [&](int32_t k) { return x[k]; });
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((word(status, j) & PS_FIXED) == 0) continue;
    status[j] = static_cast<int32_t>(d[j] < 0.0 ? (word(status, j) | PS_AT_UPPER) : (word(status, j) & ~PS_AT_UPPER));
  }
}

void rebuild_original_solution(int32_t keep, int32_t& no_basis) {
  postsolve_work.keep = keep;
  postsolve_work.interior = no_basis != 0 ? 1 : 0;
  install_carried_statuses();
  undo_presolve_records();
  settle_statuses(keep == 0 && no_basis == 0);
  recompute_original_solution(keep, no_basis);
}

void postsolve(int32_t keep, int32_t& no_basis) {
  if (!presolved()) return;
  const double kept_constant = dcv(kObjectiveConstantSlot);
  const int32_t kept_int_top = presolve_int_top;
  const int32_t kept_real_top = presolve_real_top;
  const bool search_solution = (problem_flags & PF_PRESOLVED_GLOBAL) != 0;
  problem_flags &= ~(PF_PRESOLVED_LP | PF_FACTOR_VALID);

  postsolve_work.keep = keep;
  postsolve_work.integral = search_solution ? 1 : 0;
  postsolve_work.lp_values.assign(static_cast<size_t>(std::max(original_problem.nseq, nseq)) + 1, 0.0);
  postsolve_work.status_carry.assign(postsolve_work.lp_values.size(), 0);
  if (no_basis == 0) {
    map_basic_solution();
  } else {
    map_values_only();
  }
  map_basis();
  install_original_dimensions();
  if (keep == 0) free_presolved_problem();
  switch_problem_arrays(1);

  dcv(kObjectiveConstantSlot) = original_problem.objective_constant;
  rebuild_original_solution(keep, no_basis);

  if (keep != 0) {
    dcv(kObjectiveConstantSlot) = kept_constant;
    presolve_int_top = kept_int_top;
    presolve_real_top = kept_real_top;
    return;
  }
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  if (search_upper && search_lower) {
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      search_upper[j] = upper[j];
      search_lower[j] = lower[j];
    }
  }
  clear_presolve_stack();
  free_array(ARR_POSITION_MAP, array_cells[ARR_POSITION_MAP]);
  free_array(ARR_PRESOLVE_REALS, array_cells[ARR_PRESOLVE_REALS]);
  free_array(ARR_PRESOLVE_INTS, array_cells[ARR_PRESOLVE_INTS]);
  postsolve_work = PostsolveWork{};
}

void read_original_solution(const std::function<void()>& read, int32_t no_basis) {
  if (!presolved()) {
    read();
    return;
  }
  if ((problem_flags & PF_NO_BASIS) != 0) no_basis = 1;
  if (no_basis == 0 && (problem_flags & PF_FACTOR_VALID) == 0) {
    invert_current_basis();
    if ((problem_flags & PF_FACTOR_VALID) == 0) return;
  }
  // Postsolve writes the original solution over the working values and
  // reduced costs; the presolved problem gets its own back.
  const int32_t kept_flags = problem_flags;
  std::vector<double> kept_x(real_array(ARR_X).data(), real_array(ARR_X).data() + nseq);
  std::vector<double> kept_d(real_array(ARR_REDUCED_COSTS).data(), real_array(ARR_REDUCED_COSTS).data() + nseq);
  const int32_t kept_ninf = ninf;
  const double kept_suminf = suminf;

  postsolve(1, no_basis);
  read();
  switch_problem_arrays(0);

  problem_flags = kept_flags;
  std::copy(kept_x.begin(), kept_x.end(), real_array(ARR_X).data());
  std::copy(kept_d.begin(), kept_d.end(), real_array(ARR_REDUCED_COSTS).data());
  ninf = kept_ninf;
  suminf = kept_suminf;
}

}  // namespace kl
