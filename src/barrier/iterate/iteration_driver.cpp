#include "barrier/iterate/iteration_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "barrier/factor/augmented_system.h"
#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/push_factor.h"
#include "barrier/iterate/centrality_correctors.h"
#include "barrier/iterate/convergence.h"
#include "barrier/iterate/dense_columns.h"
#include "barrier/iterate/iteration_log.h"
#include "barrier/iterate/iteration_setup.h"
#include "barrier/iterate/residuals.h"
#include "barrier/iterate/search_direction.h"
#include "barrier/iterate/starting_point.h"
#include "barrier/iterate/step_lengths.h"
#include "barrier/iterate/variable_classes.h"
#include "barrier/ordering/ordering_driver.h"
#include "barrier/ordering/symbolic_factor.h"
#include "runtime/callbacks.h"
#include "runtime/platform.h"

namespace kl {

using namespace barrier_iteration;

namespace {

// Bits of iteration_flags that the driver keeps between passes.
constexpr int32_t kRegularisedMode = 0x1;
constexpr int32_t kTroubleCounter = 0xe;
constexpr int32_t kTroubleCounterStep = 2;
constexpr int32_t kTroubleSecond = 0x4;
constexpr int32_t kTroubleLimit = 0x8;
constexpr int32_t kCorrectorGrew = 0x20;
constexpr int32_t kCorrectorAccurate = 0x100;

constexpr double kSqrtTen = 3.1622776601683795;

// The keys the driver may change during a solve and gives back on exit.
struct SavedKeys {
  int32_t setlam, maxccorr, maxref, regularize, mincorr;
  double bargrow, topt1;

  explicit SavedKeys(const barrier_params& p)
      : setlam(p.SETLAM), maxccorr(p.MAXCCORR), maxref(p.MAXREF), regularize(p.REGULARIZE),
        mincorr(p.MINCORR), bargrow(p.BARGROW), topt1(p.TOPT1) {}
  void restore(barrier_params& p) const {
    p.SETLAM = setlam;
    p.MAXCCORR = maxccorr;
    p.MAXREF = maxref;
    p.REGULARIZE = regularize;
    p.MINCORR = mincorr;
    p.BARGROW = bargrow;
    p.TOPT1 = topt1;
  }
};

}  // namespace

int64_t iterate_barrier_work_ints(const barrier_params& params) {
  const int64_t len = static_cast<int64_t>(params.col_count) + params.row_count + 2;
  return (kPositionArrays + 4) * len + shared_work_ints(params) + 1;
}

void iterate_barrier(barrier_params& params, const BarrierIterateArrays& arrays, int32_t* int_work,
                     int32_t& status, double& primal_objective, int32_t& iteration_count,
                     int32_t& corrector_count, int32_t& removed_col_count, int32_t& removed_row_count,
                     int64_t& factor_nonzeros, int64_t& budget_nonzeros, double& objective_constant,
                     const double& objective_scale, int32_t& factor_time) {
  const SavedKeys saved(params);
  Run r{params, arrays, carve_work(params, int_work), arrays.barrier_class_ranges};
  r.n = params.col_count;
  r.m = params.row_count;
  r.positions = r.n + r.m;
  r.quadratic = params.quad_col_count > 0;
  const auto& a = arrays;
  auto& p = params;
  int32_t* ranges = r.ranges;

  status = BARRIER_GO_ON;
  iteration_count = 0;
  corrector_count = 0;
  budget_nonzeros = 0;
  p.free_space = (p.factor_space - p.matrix_nz - p.quad_nz - 1) / 2 - 1;
  r.ratio_floor = p.TRABS;
  p.in_place_count = 0;
  p.iteration_flags = 0;
  factor_time = 0;
  for (int32_t k = 1; k <= r.positions; ++k) {
    a.factor_first[k] = p.matrix_nz + p.quad_nz + 1;
    a.pivot_order[k] = k;
    a.pivot_rank[k] = k;
  }
  ranges[kFirstFreeColumn] = -1;
  classify(r);
  compact_factor_columns(p, ranges, a.matrix_start, a.matrix_end, a.factor_first, a.factor_last, a.factor_index,
                         a.factor_value, a.var_state, a.pivot_inverse, r.w.row_mark, a.pivot_rank);
  if (r.quadratic) compact_matrix_columns(p, a.quad_start, a.quad_diag, a.factor_index, a.factor_value, a.var_state);

  bool store_objective = false;
  double objective_out = 0.0;

  // Every end of the call passes here: keys back, final states, net reduced
  // costs on boxed positions, and the entry order.
  auto finish = [&]() {
    if (store_objective) primal_objective = objective_out;
    saved.restore(p);
    for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) a.var_state[j] = -1;
    if (r.started) {
      // diag holds inverse pivots by rank after a factorisation; the system
      // diagonal by position is the copy.
      for (int32_t j = ranges[kFirstEqualitySlack]; j <= ranges[kLastEqualitySlack]; ++j) {
        if (std::fabs(a.diag_copy[j]) <= p.TZER) a.var_state[j] = -1;
      }
      // s and w exist only once the starting point has set them.
      for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) a.z[j] -= a.w[j];
    }
    classify(r);
  };

  const int32_t cols_at_setup = removed_col_count;
  const int32_t rows_at_setup = removed_row_count;
  if (set_up_system(r, status, removed_col_count, removed_row_count, factor_nonzeros) == SetUp::kEnd) {
    finish();
    return;
  }

  budget_nonzeros = factor_nonzeros;
  compact_after_removals(r, cols_at_setup, rows_at_setup, removed_col_count, removed_row_count);
  if (p.quad_nz > 0) r.system_kind = SYSTEM_AUGMENTED;
  set_budgets(p, r.flops, budget_nonzeros);

  // Starting point.
  FactorArrays factor{a.factor_index, a.factor_value, a.factor_first, a.factor_last, a.pivot_order, a.pivot_rank,
                      a.pivot_inverse, a.diag, a.diag_copy, a.y, a.var_state, r.w.update_lists,
                      r.w.factor_cursor, r.w.supernode_end, r.w.supernode_mark, a.matrix_start, a.quad_start,
                      r.w.factor_scratch, a.push_work};
  if (p.SMETHOD < 1) {
    compute_starting_point(p, a.cost, a.rhs, a.upper, a.diag, a.diag_copy, a.x, a.s, a.z, a.w, a.y,
                           a.primal_residual, a.upper_residual, a.dual_residual, a.matrix_end, factor, a.var_state,
                           a.dx, a.q_dx, a.dz, a.dw, r.system_kind, ranges, a.quad_start, a.quad_diag,
                           r.regularise_equality, removed_row_count);
  } else {
    compute_alternative_starting_point(p, a.x, a.s, a.y, a.z, a.w, a.rhs, a.cost, a.upper, a.matrix_start,
                                       a.matrix_end, a.factor_index, a.factor_value, a.factor_first,
                                       a.factor_last, a.pivot_order, r.w.supernode_end, r.w.supernode_mark, a.diag,
                                       a.pivot_inverse, ranges, r.lsq_weight, a.quad_diag, a.quad_start);
  }
  r.started = true;
  double last_move = 1.0;
  for (int32_t k = 1; k <= p.pivot_count; ++k) {
    if (a.var_state[a.pivot_order[k]] < -1) {
      reclassify(r);
      break;
    }
  }
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    a.var_state[j] = a.x[j] > a.z[j] ? 1 : 0;
  }
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) a.var_state[j] = 1;
  for (int32_t j = ranges[kFirstEqualitySlack]; j <= ranges[kLastEqualitySlack]; ++j) a.var_state[j] = 0;
  log_iteration_header(p);

  // The iterations.
  BarrierConvergenceMemory memory;
  double previous_complementarity = 0.0;
  double alpha_p = 0.0, alpha_d = 0.0;
  double primal_norm = 0.0, dual_norm = 0.0, upper_norm = 0.0;
  double rel_primal = 0.0, rel_dual = 0.0;
  double mu = 0.0;
  int32_t near_optimal = 0;
  int32_t primal_flag = kBarrierNotFeasible, dual_flag = kBarrierNotFeasible;
  for (;;) {
    // E1: fixing.
    int32_t fixed_columns = 0, removed_slacks = 0, dropped_bounds = 0;
    fix_barrier_variables(p, a.col_bound_code, a.slack_bound_code, a.rhs, a.matrix_start, a.factor_index,
                          a.factor_value, a.x, a.s, a.y, a.z, a.w, a.var_state, removed_col_count,
                          removed_row_count, objective_constant, objective_scale, a.cost, a.upper, a.pivot_inverse,
                          a.push_work, a.quad_start, a.quad_diag, ranges, fixed_columns, removed_slacks,
                          dropped_bounds);
    if (fixed_columns + removed_slacks + dropped_bounds > 0) {
      reclassify(r);
      if (r.quadratic) {
        multiply_quadratic_objective(p, a.quad_start, a.quad_diag, a.factor_value, a.factor_index, a.dx, a.q_dx);
      }
    }
    // E2-E6: residuals, objectives, complementarity.
    multiply_quadratic_objective(p, a.quad_start, a.quad_diag, a.factor_value, a.factor_index, a.x, a.q_x);
    compute_primal_residual(p, a.x, a.primal_residual, a.matrix_start, a.matrix_end, a.factor_index,
                            a.factor_value, a.rhs, ranges, primal_norm);
    compute_dual_residual(p, a.y, a.z, a.w, a.dual_residual, a.matrix_start, a.matrix_end, a.factor_index,
                          a.factor_value, a.cost, a.q_x, ranges, dual_norm);
    compute_upper_residual(p, a.x, a.s, a.upper_residual, a.upper, ranges, upper_norm);
    double primal = 0.0, dual = 0.0;
    compute_barrier_objectives(p, primal, dual, a.cost, a.rhs, a.upper, a.x, a.y, a.w, ranges);
    if (r.quadratic) {
      double q = 0.0;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) q += a.x[j] * a.q_x[j];
      primal += 0.5 * q;
      dual -= 0.5 * q;
    }
    primal = primal * objective_scale + objective_constant;
    dual = dual * objective_scale + objective_constant;
    double complementarity = 0.0;
    for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) complementarity += a.x[j] * a.z[j];
    for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) complementarity += a.s[j] * a.w[j];
    const int32_t pair_count = std::max(1, (ranges[kFirstEqualitySlack] - ranges[kFirstLowerColumn]) +
                                               (ranges[kFirstLowerSlack] - ranges[kFirstBoxedColumn]));
    const double mean_complementarity = complementarity / pair_count;

    // E7-E11: the test, the log, the stop requests.
    memory.previous_complementarity = previous_complementarity;
    test_barrier_convergence(p, rel_primal, rel_dual, primal, dual, complementarity, iteration_count, status,
                             primal_flag, dual_flag, last_move, primal_norm, upper_norm, dual_norm,
                             a.primal_residual, a.upper_residual, a.dual_residual, alpha_p, alpha_d, a.cost, a.rhs,
                             a.upper, a.x, a.dx, a.z, a.dz, a.w, a.dw, a.y, a.dy, a.s, a.q_x, a.q_dx,
                             objective_scale, ranges, memory);
    if (p.objective_sense == -1) {
      primal = -primal;
      dual = -dual;
    }
    log_iteration(p, {iteration_count, primal_norm, dual_norm, upper_norm, primal, dual, complementarity});
    objective_out = primal;
    if (barrier_stop_requested()) {
      // A stop is not a verdict: the objective is written only when the
      // test of this pass reached one, so an optimum always carries its own
      // objective and status 0 stays distinguishable as a stop.
      store_objective = status != BARRIER_GO_ON;
      finish();
      return;
    }
    store_objective = true;
    if (status == BARRIER_OPTIMAL && iteration_count > 0 && fixed_columns + removed_slacks + dropped_bounds == 0) {
      // The last factor still matches the classes: let it close the rows
      // that the directions' solves left open.
      const double change = close_primal_residual(
          p, a.x, a.s, a.upper, a.rhs, a.cost, a.quad_diag, a.q_x, a.primal_residual, a.upper_residual, a.q_dx,
          a.dz, a.push_work, a.dx, a.dw, a.pivot_inverse, a.pivot_order, a.factor_first, a.factor_last,
          a.factor_index, a.factor_value, r.w.supernode_end, r.w.supernode_mark, a.diag, a.diag_copy,
          a.matrix_start, a.matrix_end, a.quad_start, ranges);
      objective_out += change * objective_scale * (p.objective_sense == -1 ? -1.0 : 1.0);
    }
    if (status != BARRIER_GO_ON) {
      finish();
      return;
    }

    // E12-E16: the diagonal.
    if ((p.REGULARIZE & 0x40) != 0) r.regularise_equality = 1;
    const double sigma = std::min(std::max(mean_complementarity, p.TZER), 1.0);
    build_barrier_diagonal(p, a.x, a.y, a.s, a.z, a.w, ranges, a.diag, a.var_state, mean_complementarity, sigma,
                           r.regularise_equality, a.matrix_start, a.matrix_end, a.factor_index, a.factor_value,
                           a.slack_diag);
    if (r.quadratic) {
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) {
        if (std::fabs(a.quad_diag[j]) <= p.TZER) continue;
        const double t = std::fabs(p.SCFREE * a.quad_diag[j]);
        if (std::fabs(a.diag[j]) > t) a.diag[j] = -t;
        a.diag[j] -= a.quad_diag[j];
      }
      for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastBoxedColumn]; ++j) a.diag[j] -= a.quad_diag[j];
    }
    for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastEqualitySlack]; ++j) a.diag_copy[j] = a.diag[j];
    if ((p.REGULARIZE & 0x40) != 0) {
      for (int32_t j = ranges[kFirstBoxedSlack]; j <= ranges[kLastEqualitySlack]; ++j) {
        a.diag[j] = a.slack_diag[j - r.n];
      }
    }

    // E17: trouble escalation.
    int32_t& flags = p.iteration_flags;
    if ((flags & kCorrectorGrew) != 0) {
      const int32_t c = (primal_flag == kBarrierNotFeasible && (flags & kPrimalResidualFell) != 0) +
                        (dual_flag == kBarrierNotFeasible && (flags & kDualResidualFell) != 0) +
                        (primal_flag == kBarrierFeasible) + (dual_flag == kBarrierFeasible);
      const bool feasible_and_stuck = primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible &&
                                      complementarity > 0.9 * previous_complementarity;
      if (!feasible_and_stuck && c >= 2) flags &= ~kCorrectorGrew;
    }
    if ((flags & (kCorrectorGrew | kRegularisedMode)) == (kCorrectorGrew | kRegularisedMode)) {
      if ((flags & kTroubleLimit) != 0) {
        if (!(primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible)) {
          status = BARRIER_NUMERICAL_FAILURE;
          finish();
          return;
        }
      } else {
        r.ratio_floor *= 10.0;
        flags += kTroubleCounterStep;
      }
    }
    if ((flags & kCorrectorGrew) != 0 && (flags & kRegularisedMode) == 0) {
      const int32_t before = flags;
      flags += kTroubleCounterStep;
      if ((flags & kTroubleSecond) != 0) {
        // Second troubled pass: enter the regularised mode for good.
        flags = before - 1;
        flags = (flags & ~kTroubleCounter) | kRegularisedMode;
        p.MAXREF *= 2;
        p.REFMET = 4;
        if (p.MINCORR < 0) p.MINCORR = 0;
        p.MAXCCORR = 0;
      }
    }

    // E18: regularised mode keeps the column diagonal within the floor.
    if ((flags & kRegularisedMode) != 0) {
      double smallest = 0.0;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.var_state[j] == 1) smallest = std::min(smallest, a.diag[j] + a.quad_diag[j]);
      }
      smallest *= r.ratio_floor;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.diag[j] + a.quad_diag[j] > smallest) a.diag[j] = smallest - a.quad_diag[j];
      }
    }

    // E19: near the optimum the barrier grows slower and the gap tolerance
    // loosens every fifth such pass.
    double gap = std::fabs(dual - primal) / (std::fabs(primal) + 1.0);
    gap = std::max(std::min(gap, 1.0), p.TOPT1);
    if (primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible && gap <= 10.0 * p.TOPT1) {
      p.BARGROW = std::min(p.BARGROW, 0.1);
      if (++near_optimal == 5) {
        near_optimal = 0;
        p.TOPT1 *= kSqrtTen;
      }
    }

    // E20-E22: factorise, with the remedies for dropped pivots.
    const int32_t cols_before = removed_col_count;
    const int32_t rows_before = removed_row_count;
    previous_complementarity = complementarity;
    int32_t attempt_time = 0;
    for (;;) {
      int32_t dropped = 0;
      const int32_t start = cpu_centiseconds();
      factorise(r, dropped, removed_row_count);
      attempt_time = cpu_centiseconds() - start;
      if (dropped == 0) break;
      if (r.regularise_equality == 1 && std::fabs(p.SCFREE) > p.TZER) {
        status = BARRIER_NUMERICAL_FAILURE;
        finish();
        return;
      }
      std::copy(a.diag_copy + 1, a.diag_copy + r.positions + 1, a.diag + 1);
      if (r.regularise_equality == 0) {
        r.regularise_equality = 1;
        continue;
      }
      if (rebuild_structure(r, status, factor_nonzeros) != 0) {
        finish();
        return;
      }
    }
    if ((flags & kRegularisedMode) != 0) p.in_place_count = 0;
    factor_time += attempt_time;
    compact_after_removals(r, cols_before, rows_before, removed_col_count, removed_row_count);

    // E24-E26: directions.
    double primal_tolerance = p.TRES1 * primal_norm;
    double dual_tolerance = p.TRES1 * dual_norm;
    double predicted = complementarity;
    int32_t kept = 0, refinement_steps = 0;
    compute_search_direction(p, a.x, a.s, a.z, a.w, a.primal_residual, a.dual_residual, a.upper_residual, a.q_dx,
                             a.slack_diag, a.q_x, a.push_work, a.dx, a.dy, a.dz, a.dw, a.upper, a.pivot_order,
                             a.factor_first, a.factor_last, a.factor_index, a.factor_value, r.w.supernode_end,
                             r.w.supernode_mark, a.var_state, a.diag, a.diag_copy, a.matrix_start, a.matrix_end,
                             a.quad_start, mu, kept, alpha_p, alpha_d, pair_count, predicted, ranges,
                             primal_tolerance, dual_tolerance, refinement_steps);
    corrector_count += kept;
    kept = 0;
    apply_centrality_correctors(p, a.x, a.s, a.z, a.w, a.upper_residual, a.q_dx, a.slack_diag, a.q_x, a.push_work,
                                a.dx, a.dy, a.dz, a.dw, a.upper, a.pivot_order, a.factor_first, a.factor_last,
                                a.factor_index, a.factor_value, r.w.supernode_end, r.w.supernode_mark, a.diag,
                                a.diag_copy, a.matrix_start, a.matrix_end, a.quad_start, mu, kept, alpha_p,
                                alpha_d, ranges, primal_tolerance, dual_tolerance, refinement_steps);
    corrector_count += kept;

    // E27: an accurate corrector solve lets the floor tighten.
    if ((flags & kCorrectorAccurate) != 0 && (flags & kRegularisedMode) == 0) {
      double smallest = p.TZER;
      double largest = -1.0 / p.TZER;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.var_state[j] != 1) continue;
        smallest = std::min(smallest, a.diag_copy[j] + a.quad_diag[j]);
        largest = std::max(largest, a.diag_copy[j] + a.quad_diag[j]);
      }
      r.ratio_floor = std::min(r.ratio_floor, largest / smallest);
      flags &= ~kTroubleCounter;
    }

    // E28-E32: the step.
    ++iteration_count;
    alpha_p *= p.PRDARE;
    alpha_d *= p.DUDARE;
    limit_step_by_complementarity(p, alpha_p, alpha_d, a.x, a.dx, a.z, a.dz, a.s, a.upper_residual, a.w, a.dw,
                                  ranges);
    if (r.quadratic) {
      balance_step_lengths(p, alpha_p, alpha_d, a.dual_residual, a.dx, a.q_dx, a.quad_diag, a.quad_start,
                           a.factor_index, a.factor_value, ranges);
    } else {
      for (int32_t j = 1; j <= r.n; ++j) a.q_dx[j] = 0.0;
    }
    take_barrier_step(p, alpha_p, a.x, a.dx, a.s, a.upper_residual, alpha_d, a.y, a.dy, a.z, a.dz, a.w, a.dw,
                      ranges, last_move);
  }
}

}  // namespace kl
