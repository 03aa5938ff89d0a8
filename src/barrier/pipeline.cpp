#include "barrier/pipeline.h"

#include <cmath>
#include <ctime>
#include <limits>

#include "barrier/iterate/iteration_driver.h"
#include "barrier/iterate/residuals.h"
#include "barrier/iterate/solution_classification.h"
#include "barrier/iterate/variable_classes.h"
#include "barrier/presolve/presolve_data.h"
#include "barrier/problem_dump.h"
#include "barrier/scaling.h"

namespace kl {

namespace {

// var_state codes the pipeline writes.
constexpr int32_t kStateFixedBeforePresolve = -3;  // fixed column or free row
constexpr int32_t kStateCulprit = 3;               // crossed bounds

// Bound codes of normalise_barrier_bounds.
constexpr int32_t kCodeNone = 0;
constexpr int32_t kCodeLower = 1;
constexpr int32_t kCodeFlipped = 2;

// print_word bit asking for the problem dump.
constexpr int32_t kDumpBit = 0x100;

// PRESOLV bits that the pipeline reads itself.
constexpr int32_t kReductionStageBits = 0x764;
constexpr int32_t kImpliedBoundsBit = 0x20;
constexpr int32_t kKeepImpliedBoundsBit = 0x800;
constexpr int32_t kThirdPassBit = 0x2000;
constexpr int32_t kPassBits = 0x1f;

// The presolve writes -(k + 19) into the state of a column it merged into
// column k.
constexpr int32_t kMergedStateOffset = 19;

bool is_fixed_pair(double lower, double upper, double tplus) {
  return std::fabs(upper - lower) <= (std::fabs(lower) + 1.0) * tplus;
}

// --- Barrier presolve hooks ------------------------------------------------
// A result other than 0 is -2 (space short), 3 (unbounded) or 4
// (infeasible).

// The first stage (round loop and final sequence) with the bits `pass_bits`.
int32_t run_barrier_presolve_passes(barrier_params& params, const BarrierWorkArrays& arrays, int32_t pass_bits,
                                    int32_t& presolve_count, double& objective_constant, double half_infinity,
                                    double infinity) {
  (void)half_infinity;
  PresolveData d = make_presolve_data(params, arrays, pass_bits, presolve_count, objective_constant, infinity);
  return presolve_barrier_problem(d);
}

// The second stage (dependent rows, free columns, sparsification).
// `saved_bounds` tells whether the implied-bounds pass of the first stage
// kept the bounds it dropped in the column parts of dx and q_dx.
int32_t run_barrier_presolve_reductions(barrier_params& params, const BarrierWorkArrays& arrays,
                                        int32_t presolve_bits, int32_t& presolve_count, double& objective_constant,
                                        bool& saved_bounds, double half_infinity, double infinity) {
  (void)half_infinity;
  saved_bounds = (presolve_bits & kImpliedBoundsBit) != 0;
  PresolveData d = make_presolve_data(params, arrays, presolve_bits, presolve_count, objective_constant, infinity);
  return reduce_barrier_problem(d);
}

// The quadratic entries of removed columns leave the factor space before
// the iterations; the classification needs them for the reduced costs of
// those columns and the duals recovered from them. They are kept, in the
// problem's own units, at the top of the factor space, which the
// iterations then do without. Returns the number of terms kept (0 when
// there is nothing to keep or no room for it).
int32_t keep_removed_quadratic_terms(barrier_params& p, const BarrierWorkArrays& a, RemovedQuadraticTerms& kept) {
  kept = RemovedQuadraticTerms{};
  const int32_t n = p.col_count;
  int32_t count = 0;
  for (int32_t j = 1; j <= n; ++j) {
    const bool removed = a.var_state[j] < -1;
    if (removed && a.quad_diag[j] != 0.0) ++count;
    for (int32_t e = a.quad_start[j]; e < a.quad_start[j + 1]; ++e) {
      if (removed || a.var_state[a.factor_index[e]] < -1) ++count;
    }
  }
  if (count == 0) return 0;
  // Three slots per term: col and row in factor_index, value in
  // factor_value; the iterations keep what is left.
  const int64_t base = static_cast<int64_t>(p.factor_space) - 2 * static_cast<int64_t>(count) - 1;
  const int64_t needed = 2 * (static_cast<int64_t>(p.matrix_nz) + p.quad_nz) + 2;
  if (base <= needed) return 0;
  int32_t* cols = a.factor_index + base;
  int32_t* rows = cols + count;
  double* values = a.factor_value + base;
  int32_t t = 0;
  for (int32_t j = 1; j <= n; ++j) {
    const bool removed = a.var_state[j] < -1;
    if (removed && a.quad_diag[j] != 0.0) {
      ++t;
      cols[t] = rows[t] = j;
      values[t] = a.quad_diag[j];
    }
    for (int32_t e = a.quad_start[j]; e < a.quad_start[j + 1]; ++e) {
      if (!removed && a.var_state[a.factor_index[e]] >= -1) continue;
      ++t;
      cols[t] = j;
      rows[t] = a.factor_index[e];
      values[t] = a.factor_value[e];
    }
  }
  kept = RemovedQuadraticTerms{cols, rows, values, count};
  p.factor_space = static_cast<int32_t>(base);
  return count;
}

// The complementarity gap of the iterate that the iterations return,
// relative to 1 + |objective|, in the caller's units: scaling and flips
// cancel in each product of a distance and a reduced cost, and the
// normalisations multiply it by objective_scale. On exit every lower bound
// is 0 and a boxed position carries its net reduced cost in z; a reduced
// cost counts against the distance to the bound it presses on. Positions
// out of the iterations sit at a bound and add nothing.
double returned_gap(const barrier_params& p, const BarrierWorkArrays& a, double objective_scale, double objective) {
  const int32_t n = p.col_count;
  double sum = 0.0;
  for (int32_t k = 1; k <= n + p.row_count; ++k) {
    if (a.var_state[k] < -1) continue;
    const int32_t code = k <= n ? a.col_bound_code[k] : a.slack_bound_code[k - n];
    if (code == kCodeNone) continue;  // a free column or an equality row's slack
    const double d = a.z[k];
    if (d > 0.0) sum += d * std::fabs(a.x[k]);
    if (d < 0.0 && code < 0) sum -= d * std::fabs(a.upper[k] - a.x[k]);
  }
  return sum * objective_scale / (1.0 + std::fabs(objective));
}

// ---------------------------------------------------------------------------

// Early exit: every position's crossover class is its state when that is 0
// or more (3 marks the culprit of a verdict), else 0.
void write_exit_classes(const barrier_params& p, const BarrierWorkArrays& a) {
  for (int32_t k = 1; k <= p.col_count + p.row_count; ++k) {
    a.pivot_order[k] = a.var_state[k] >= 0 ? a.var_state[k] : 0;
  }
}

void clear_positions(const barrier_params& p, double* v) {
  for (int32_t k = 1; k <= p.col_count + p.row_count; ++k) v[k] = 0.0;
}

// Column checks: crossed bounds stop the solve; a fixed column leaves the
// problem, its value moved into rhs and the objective constant.
bool check_column_bounds(const barrier_params& p, const BarrierWorkArrays& a, double& objective_constant) {
  for (int32_t j = 1; j <= p.col_count; ++j) {
    a.col_bound_code[j] = kCodeNone;
    if (a.lower[j] - a.upper[j] > p.PRESFEAS) {
      a.var_state[j] = kStateCulprit;
      return false;
    }
    if (is_fixed_pair(a.lower[j], a.upper[j], p.TPLUS)) {
      a.col_bound_code[j] = kCodeLower;
      a.var_state[j] = kStateFixedBeforePresolve;
      const double value = a.upper[j];
      for (int32_t e = a.matrix_start[j]; e < a.matrix_start[j + 1]; ++e) {
        a.rhs[a.factor_index[e]] -= value * a.factor_value[e];
      }
      objective_constant += a.cost[j] * value;
    }
  }
  return true;
}

// Row checks: a row without finite limits leaves the problem; crossed
// limits stop the solve.
bool check_row_bounds(const barrier_params& p, const BarrierWorkArrays& a, double big) {
  const int32_t n = p.col_count;
  for (int32_t i = 1; i <= p.row_count; ++i) {
    const int32_t k = n + i;
    a.slack_bound_code[i] = kCodeNone;
    if (a.upper[k] > big && a.lower[k] < -big) a.var_state[k] = kStateFixedBeforePresolve;
    if (a.lower[k] - a.upper[k] > p.PRESFEAS) {
      a.var_state[k] = kStateCulprit;
      return false;
    }
  }
  return true;
}

void mark_quadratic_columns(const barrier_params& p, const BarrierWorkArrays& a) {
  const int32_t n = p.col_count;
  for (int32_t j = 1; j <= n; ++j) a.quad_mark[j] = 0;
  if (p.quad_col_count <= 0) return;
  for (int32_t j = 1; j <= n; ++j) {
    if (std::fabs(a.quad_diag[j]) > p.TZER) a.quad_mark[j] = 1;
    for (int32_t e = a.quad_start[j]; e < a.quad_start[j + 1]; ++e) {
      a.quad_mark[j] = 1;
      a.quad_mark[a.factor_index[e]] = 1;
    }
  }
}

// The bound codes and the shift of equality rows that the reduction stage
// expects around its call.
void prepare_reduction_stage(const barrier_params& p, const BarrierWorkArrays& a, double big) {
  const int32_t n = p.col_count;
  for (int32_t j = 1; j <= n; ++j) {
    if (a.var_state[j] <= -2) continue;
    a.col_bound_code[j] = a.upper[j] > big && a.lower[j] < -big ? kCodeNone : kCodeLower;
  }
  for (int32_t i = 1; i <= p.row_count; ++i) {
    const int32_t k = n + i;
    if (a.upper[k] - a.lower[k] >= (std::fabs(a.lower[k]) + 1.0) * p.TPLUS) {
      a.slack_bound_code[i] = kCodeLower;
    } else {
      a.slack_bound_code[i] = kCodeNone;
      if (a.var_state[k] > -2) a.rhs[i] += a.lower[k];
    }
  }
}

void finish_reduction_stage(const barrier_params& p, const BarrierWorkArrays& a) {
  const int32_t n = p.col_count;
  for (int32_t i = 1; i <= p.row_count; ++i) {
    if (a.slack_bound_code[i] == kCodeNone && a.var_state[n + i] > -2) a.rhs[i] -= a.lower[n + i];
  }
}

// The bounds that the implied-bounds pass dropped come back (scaled) when
// PRESOLV asks to keep them.
void restore_dropped_bounds(const barrier_params& p, const BarrierWorkArrays& a, double big) {
  const double* saved_lower = a.dx;
  const double* saved_upper = a.q_dx;
  for (int32_t j = 1; j <= p.col_count; ++j) {
    if (a.var_state[j] <= -2) continue;
    const double l = a.scale[j] * saved_lower[j];
    const double u = a.scale[j] * saved_upper[j];
    if (l > -big) a.lower[j] = l;
    if (u < big) a.upper[j] = u;
  }
}

// The quadratic term in the scaled space (a flipped column's negative scale
// flips its cross terms), shifted to the lower bounds: the shift's share Q v
// joins the costs and 0.5 v'Qv the objective constant. The entries of
// removed columns leave the pattern.
void shift_quadratic_term(barrier_params& p, const BarrierWorkArrays& a, double& objective_constant,
                          double infinity) {
  const int32_t n = p.col_count;
  scale_barrier_quadratic(p, a.scale, a.quad_start, a.factor_index, a.factor_value, a.quad_diag);
  double* v = a.dz;
  for (int32_t j = 1; j <= n; ++j) v[j] = a.lower[j] > -infinity ? a.lower[j] : 0.0;
  multiply_quadratic_objective(p, a.quad_start, a.quad_diag, a.factor_value, a.factor_index, v, a.q_x);
  double sum = 0.0;
  for (int32_t j = 1; j <= n; ++j) {
    // A removed column keeps its own cost: the classification adds its
    // whole (Qx)_j from the kept terms.
    if (a.var_state[j] >= -1) a.cost[j] += a.q_x[j];
    sum += v[j] * a.q_x[j];
  }
  objective_constant += 0.5 * sum;
  compact_matrix_columns(p, a.quad_start, a.quad_diag, a.factor_index, a.factor_value, a.var_state);
  p.quad_nz = a.quad_start[n + 1] - a.quad_start[1];
}

// Multiplies the quadratic term by f. With the right-hand side divided by
// rf every variable is x / rf, so the quadratic term, of second degree, needs
// one factor rf more than the linear one to describe the same problem.
void scale_quadratic_by(const barrier_params& p, const BarrierWorkArrays& a, double f) {
  const int32_t n = p.col_count;
  for (int32_t j = 1; j <= n; ++j) a.quad_diag[j] *= f;
  for (int32_t e = a.quad_start[1]; e < a.quad_start[n + 1]; ++e) a.factor_value[e] *= f;
}

void shift_row_indices(const barrier_params& p, const BarrierWorkArrays& a, int32_t by) {
  for (int32_t e = a.matrix_start[1]; e < a.matrix_start[p.col_count + 1]; ++e) a.factor_index[e] += by;
}

// SMETHOD negative: the values in x are the caller's starting point, carried
// into the barrier's space (merged columns, bound shifts, flips, scale, rhs
// normalisation).
void carry_start_into_barrier_space(const barrier_params& p, const BarrierWorkArrays& a, int32_t presolve_count,
                                    double obj_factor, double rhs_factor) {
  for (int32_t l = 1; l <= presolve_count; ++l) {
    const int32_t j = a.presolve_list[l];
    if (a.var_state[j] < -kMergedStateOffset) {
      a.x[-a.var_state[j] - kMergedStateOffset] += a.cost[j] * a.x[j] * obj_factor;
    }
    a.x[j] = 0.0;
  }
  for (int32_t j = 1; j <= p.col_count; ++j) {
    if (a.var_state[j] <= -2) {
      // A removed column's value comes back from its bound in the
      // classification; a caller's value left here would be added to it.
      a.x[j] = 0.0;
      continue;
    }
    const double f = std::fabs(a.scale[j]);
    if (a.col_bound_code[j] == kCodeNone) {
      a.x[j] = f * a.x[j] / rhs_factor;
    } else {
      if (a.col_bound_code[j] == kCodeFlipped || a.col_bound_code[j] == -kCodeFlipped) a.x[j] = -a.x[j];
      a.x[j] = (f * a.x[j] - a.lower[j]) / rhs_factor;
    }
  }
}

}  // namespace

int32_t read_cpu_centiseconds(int32_t& centiseconds) {
  const std::clock_t ticks = std::clock();
  double value = ticks == static_cast<std::clock_t>(-1)
                     ? 0.0
                     : static_cast<double>(ticks) * 100.0 / static_cast<double>(CLOCKS_PER_SEC);
  // A process older than the int range of centiseconds (about 248 days)
  // keeps the largest reading rather than wrapping negative.
  const double top = static_cast<double>(std::numeric_limits<int32_t>::max());
  if (!(value >= 0.0)) value = 0.0;
  if (value > top) value = top;
  centiseconds = static_cast<int32_t>(value);
  return centiseconds;
}

void normalise_barrier_bounds(barrier_params& params, double* upper, double* lower, double* rhs, double* cost,
                              double* factor_value, int32_t* col_bound_code, int32_t* slack_bound_code,
                              const int32_t* var_state, const int32_t* matrix_start, const int32_t* factor_index,
                              double* scale, double& objective_constant, double tplus, double tzer, double big,
                              double infinity) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  bool any_row_flipped = false;
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t p = n + i;
    if (var_state[p] < -1) {
      slack_bound_code[i] = kCodeNone;
      continue;
    }
    if (is_fixed_pair(lower[p], upper[p], tplus)) {
      // An equality row: the slack is fixed at its lower limit.
      slack_bound_code[i] = kCodeNone;
      upper[p] = 0.0;
      rhs[i] += lower[p];
      continue;
    }
    if (lower[p] >= -big) {
      slack_bound_code[i] = kCodeLower;
    } else {
      slack_bound_code[i] = kCodeFlipped;
      lower[p] = -upper[p];
      upper[p] = infinity;
      rhs[i] = -rhs[i];
      scale[p] = -scale[p];
      any_row_flipped = true;
    }
    rhs[i] += lower[p];
    if (upper[p] < big) {
      upper[p] -= lower[p];
      slack_bound_code[i] = -slack_bound_code[i];
    }
  }
  if (any_row_flipped) {
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
        const int32_t code = slack_bound_code[factor_index[e]];
        if (code == kCodeFlipped || code == -kCodeFlipped) factor_value[e] = -factor_value[e];
      }
    }
  }
  for (int32_t j = 1; j <= n; ++j) {
    if (var_state[j] < -1) continue;
    if (!(upper[j] <= big || lower[j] >= -big)) {
      col_bound_code[j] = kCodeNone;
      continue;
    }
    if (lower[j] >= -big) {
      col_bound_code[j] = kCodeLower;
    } else {
      col_bound_code[j] = kCodeFlipped;
      lower[j] = -upper[j];
      upper[j] = infinity;
      cost[j] = -cost[j];
      for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) factor_value[e] = -factor_value[e];
      scale[j] = -scale[j];
    }
    if (std::fabs(lower[j]) > tzer) {
      if (upper[j] < big) upper[j] -= lower[j];
      for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
        rhs[factor_index[e]] -= factor_value[e] * lower[j];
      }
      objective_constant += cost[j] * lower[j];
    }
    if (upper[j] < big) col_bound_code[j] = -col_bound_code[j];
  }
}

void solve_barrier_problem(barrier_params& params, const BarrierWorkArrays& arrays, int32_t& status,
                           double& objective_value, BarrierSolveCounters& counters, double& objective_constant,
                           double half_infinity, double infinity) {
  barrier_params& p = params;
  const BarrierWorkArrays& a = arrays;
  const int32_t n = p.col_count;
  const int32_t m = p.row_count;
  const int32_t positions = n + m;
  const double big = 0.9 * infinity;
  const bool quadratic = p.quad_col_count > 0;

  // Space check.
  p.free_space = (p.factor_space - p.matrix_nz - p.quad_nz - 1) / 2 - 1;
  const int64_t stored = static_cast<int64_t>(p.matrix_nz) + p.quad_nz;
  if (static_cast<int64_t>(p.factor_space) <= 2 * stored + 2 || a.quad_diag == nullptr ||
      a.quad_start == nullptr || a.iterate_work == nullptr || a.class_ranges == nullptr ||
      (p.PRESOLV > 0 && a.presolve_list == nullptr)) {
    status = BARRIER_SPACE_SHORT;
    return;
  }

  status = BARRIER_GO_ON;
  objective_value = 0.0;
  counters = BarrierSolveCounters{};
  for (int32_t k = 1; k <= positions; ++k) {
    a.z[k] = 0.0;
    a.scale[k] = 1.0;
    a.var_state[k] = 0;
  }
  if (!quadratic) {
    // The iterations read the quadratic arrays whatever the problem: an
    // empty pattern and a zero diagonal.
    for (int32_t j = 1; j <= n; ++j) a.quad_diag[j] = 0.0;
    for (int32_t j = 1; j <= n + 1; ++j) a.quad_start[j] = p.matrix_nz + 1;
    p.quad_nz = 0;
  }

  if (p.print_word > 0 && (p.print_word & kDumpBit) != 0) {
    write_qps_dump(m, n, p.matrix_nz, p.quad_col_count, p.quad_nz, a.var_state, a.var_state + n, a.matrix_start,
                   a.factor_index, a.factor_value, a.quad_start, a.quad_diag, a.cost, objective_constant, a.rhs,
                   a.upper, a.lower);
  }

  auto class_exit = [&]() { write_exit_classes(p, a); };
  auto presolve_exit = [&](int32_t result) {
    status = result;
    clear_positions(p, a.x);
    class_exit();
  };

  if (!check_column_bounds(p, a, objective_constant) || !check_row_bounds(p, a, big)) {
    status = BARRIER_INFEASIBLE;
    class_exit();
    return;
  }
  mark_quadratic_columns(p, a);

  int32_t presolve_count = 0;
  if (p.PRESOLV > 0 && p.free_space >= p.matrix_nz) {
    const int32_t result = run_barrier_presolve_passes(p, a, p.PRESOLV, presolve_count, objective_constant,
                                                       half_infinity, infinity);
    if (result != 0) return presolve_exit(result);
  }

  if (smethod1(p) != 0) {
    scale_barrier_problem(p, a.matrix_start, a.factor_index, a.factor_value, a.cost, a.rhs, a.upper, a.lower,
                          a.var_state, a.scale, a.upper_residual, smethod1(p), spasses1(p), a.dw, a.push_work, a.dz,
                          a.int_work_a, p.SIGNORE, infinity);
  }

  bool saved_bounds = false;
  if ((p.PRESOLV & kReductionStageBits) != 0 && p.free_space > p.matrix_nz + p.quad_nz) {
    prepare_reduction_stage(p, a, big);
    const int32_t result = run_barrier_presolve_reductions(p, a, p.PRESOLV, presolve_count, objective_constant,
                                                           saved_bounds, half_infinity, infinity);
    finish_reduction_stage(p, a);
    if (result != 0) return presolve_exit(result);
  }
  // Only bounds that a pass actually saved can be restored: without the pass
  // dx and q_dx hold nothing.
  if ((p.PRESOLV & kImpliedBoundsBit) != 0 && (p.PRESOLV & kKeepImpliedBoundsBit) != 0 && saved_bounds) {
    restore_dropped_bounds(p, a, big);
  }
  if ((p.PRESOLV & kThirdPassBit) != 0 && p.free_space > p.matrix_nz) {
    const int32_t result = run_barrier_presolve_passes(p, a, p.PRESOLV & kPassBits, presolve_count,
                                                       objective_constant, half_infinity, infinity);
    if (result != 0) return presolve_exit(result);
  }

  if (smethod2(p) > 0) {
    scale_barrier_problem(p, a.matrix_start, a.factor_index, a.factor_value, a.cost, a.rhs, a.upper, a.lower,
                          a.var_state, a.scale, a.upper_residual, smethod2(p), spasses2(p), a.dw, a.push_work, a.dz,
                          a.int_work_a, p.SIGNORE, infinity);
  }

  normalise_barrier_bounds(p, a.upper, a.lower, a.rhs, a.cost, a.factor_value, a.col_bound_code, a.slack_bound_code,
                           a.var_state, a.matrix_start, a.factor_index, a.scale, objective_constant, p.TPLUS, p.TZER,
                           big, infinity);
  RemovedQuadraticTerms removed_quadratic;
  const int32_t full_factor_space = p.factor_space;
  if (quadratic) {
    keep_removed_quadratic_terms(p, a, removed_quadratic);
    shift_quadratic_term(p, a, objective_constant, infinity);
  }

  for (int32_t k = 1; k <= positions; ++k) {
    a.z[k] = 0.0;
    a.w[k] = 0.0;
    a.s[k] = 0.0;
  }
  for (int32_t i = 1; i <= m; ++i) a.y[i] = 0.0;
  for (int32_t j = 1; j <= n; ++j) {
    if (a.var_state[j] <= -2) ++counters.removed_col_count;
  }
  for (int32_t i = 1; i <= m; ++i) {
    if (a.var_state[n + i] <= -2) ++counters.removed_row_count;
  }

  double obj_factor = 1.0;
  double rhs_factor = 1.0;
  if (positions - counters.removed_col_count - counters.removed_row_count == 0) {
    // Nothing left to iterate on: the objective is the constant.
    status = BARRIER_OPTIMAL;
    objective_value = p.objective_sense == -1 ? -objective_constant : objective_constant;
    clear_positions(p, a.x);
  } else {
    shift_row_indices(p, a, n);
    for (int32_t j = 1; j <= n; ++j) a.matrix_end[j] = a.matrix_start[j + 1] - 1;
    if (p.OBJNORM > p.TZER) {
      normalise_barrier_objective(p, a.cost, a.quad_start, a.quad_diag, a.factor_value, obj_factor, a.var_state,
                                  p.OBJNORM);
    }
    if (p.RHSNORM > p.TZER) {
      normalise_barrier_rhs(p, a.rhs, rhs_factor, a.var_state, p.RHSNORM, a.upper);
      if (quadratic) scale_quadratic_by(p, a, rhs_factor);
    }
    if (p.SMETHOD < 0) carry_start_into_barrier_space(p, a, presolve_count, obj_factor, rhs_factor);

    const BarrierIterateArrays iterate_arrays{
        a.cost, a.quad_diag, a.rhs, a.upper, a.diag, a.diag_copy, a.x, a.dx, a.q_dx, a.s, a.z, a.dz,
        a.q_x, a.w, a.dw, a.push_work, a.y, a.dy, a.slack_diag, a.primal_residual, a.upper_residual,
        a.dual_residual, a.factor_value, a.pivot_inverse, a.col_bound_code, a.slack_bound_code,
        a.matrix_start, a.quad_start, a.matrix_end, a.factor_first, a.factor_last, a.var_state,
        a.pivot_order, a.pivot_rank, a.factor_index, a.class_ranges};
    // The objective is taken only when the iterations wrote it: a NaN left
    // here means they did not, and then no verdict of optimality stands.
    double iterate_objective = std::numeric_limits<double>::quiet_NaN();
    const double objective_scale = rhs_factor * obj_factor;
    iterate_barrier(p, iterate_arrays, a.iterate_work, status, iterate_objective, counters.iteration_count,
                    counters.corrector_count, counters.removed_col_count, counters.removed_row_count,
                    counters.factor_nonzeros, counters.budget_nonzeros, objective_constant, objective_scale,
                    counters.factor_time);
    if (std::isnan(iterate_objective)) {
      if (status == BARRIER_OPTIMAL) status = BARRIER_STOPPED;
    } else {
      objective_value = iterate_objective;
    }
    // No optimal verdict accepts a relative gap above sqrt(TOPT1), but some
    // judge it before the iterate moves: crossing objectives step back to
    // where the objectives meet, which reopens the products. On a barely
    // infeasible problem the objectives cross with the gap far from closed,
    // and the point returned is no optimum.
    if (status == BARRIER_OPTIMAL &&
        returned_gap(p, a, objective_scale, objective_value) > std::sqrt(p.TOPT1)) {
      status = BARRIER_STOPPED;
    }
    shift_row_indices(p, a, -n);
    if (quadratic && rhs_factor != 1.0) scale_quadratic_by(p, a, 1.0 / rhs_factor);
  }

  unscale_barrier_problem(p, a.rhs, a.upper, a.lower, a.cost, a.matrix_start, a.factor_index, a.factor_value,
                          a.quad_start, a.quad_diag, a.scale, rhs_factor, obj_factor, big,
                          BarrierSolutionArrays{a.x, a.s, a.y, a.z});

  const int32_t unrecovered = classify_barrier_solution(
      p, a.matrix_start, a.factor_index, a.factor_value, a.var_state, a.var_state + n, a.col_bound_code, a.upper,
      a.lower, a.upper + n, a.lower + n, a.rhs, a.cost, a.x, a.y, a.z, a.pivot_order, a.int_work_c, a.slack_diag,
      a.scale, a.presolve_list, presolve_count, a.q_x, infinity, &removed_quadratic);
  p.factor_space = full_factor_space;
  for (int32_t i = 1; i <= m; ++i) a.z[n + i] = a.y[i];
  // Positions the presolve removed and nobody recovered leave the solution
  // incomplete: it is not an optimum of the problem asked.
  if (unrecovered > 0 && status == BARRIER_OPTIMAL) status = BARRIER_STOPPED;
}

}  // namespace kl
