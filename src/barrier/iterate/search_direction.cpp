#include "barrier/iterate/search_direction.h"

#include <algorithm>
#include <cmath>

#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/refinement.h"
#include "barrier/iterate/residuals.h"
#include "barrier/iterate/step_lengths.h"
#include "barrier/iterate/variable_classes.h"

namespace kl {

namespace {

// The factor and its companions, as every solve of one direction needs them.
struct FactorView {
  const barrier_params& params;
  const double* diag;  // inverse pivots by rank
  const double* diag_copy;
  const int32_t* pivot_order;
  const int32_t* factor_index;
  const double* factor_value;
  const int32_t* matrix_start;
  const int32_t* factor_first;
  const int32_t* factor_last;
  const int32_t* matrix_end;
  const int32_t* supernode_end;
  const int32_t* supernode_mark;
  const int32_t* quad_start;
  const int32_t* ranges;
  const double* upper;
  const double* x;
  const double* s;
};

// A refined solve rewrites upper_residual to u - x - s over the boxed
// positions; doing it before the right-hand side is formed keeps the
// right-hand side and the direction formed after the solve on one value.
bool solve_rewrites_upper_residual(const barrier_params& params, int32_t mode) {
  return params.MAXREF >= 1 && mode >= 0;
}

void reset_upper_residual(const FactorView& f, double* upper_residual) {
  for (int32_t j = f.ranges[kFirstBoxedColumn]; j <= f.ranges[kLastBoxedSlack]; ++j)
    upper_residual[j] = f.upper[j] - f.x[j] - f.s[j];
}

void solve_refined(const FactorView& f, double* v, double* reduced_rhs, double* residual,
                   double* upper_residual, double& primal_accuracy, double& dual_accuracy,
                   double& primal_target, double& dual_target, int32_t& mode, int32_t& steps) {
  solve_with_refinement(f.params, f.diag, f.diag_copy, f.pivot_order, f.factor_index, f.factor_value,
                        f.matrix_start, f.factor_first, f.factor_last, f.matrix_end, v, reduced_rhs, residual,
                        upper_residual, f.upper, f.x, f.s, f.ranges, f.supernode_end, f.supernode_mark,
                        f.quad_start, primal_accuracy, dual_accuracy, primal_target, dual_target, mode, steps);
}

void krylov(const FactorView& f, bool alternative, double* v, const double* reduced_rhs, double* work1,
            double* work2, double* work3, double* upper_residual, double& primal_accuracy,
            double& dual_accuracy, double primal_target, double dual_target, int32_t& mode, int32_t& steps) {
  if (alternative) {
    refine_by_krylov_alt(f.params, f.diag, f.diag_copy, f.pivot_order, f.factor_index, f.factor_value,
                         f.matrix_start, f.factor_first, f.factor_last, f.matrix_end, v, reduced_rhs, work1,
                         work2, work3, upper_residual, f.upper, f.x, f.s, f.ranges, f.supernode_end,
                         f.supernode_mark, f.quad_start, primal_accuracy, dual_accuracy, primal_target,
                         dual_target, mode, steps);
  } else {
    refine_by_krylov(f.params, f.diag, f.diag_copy, f.pivot_order, f.factor_index, f.factor_value,
                     f.matrix_start, f.factor_first, f.factor_last, f.matrix_end, v, reduced_rhs, work1, work2,
                     work3, upper_residual, f.upper, f.x, f.s, f.ranges, f.supernode_end, f.supernode_mark,
                     f.quad_start, primal_accuracy, dual_accuracy, primal_target, dual_target, mode, steps);
  }
}

// The column positions of the in-place ranks, from their eliminated
// right-hand side.
void finish_in_place(const FactorView& f, double* v, double* work) {
  solve_backward_supernodal(f.params, 1, f.params.in_place_count, f.factor_first, f.factor_index, f.pivot_order,
                            f.factor_last, f.supernode_end, f.factor_value, f.diag, v, work);
}

// Predicted complementarity sum after the steps, over the x z and s w pairs.
double predicted_complementarity(const int32_t* r, double alpha_p, double alpha_d, const double* x,
                                 const double* dx, const double* z, const double* dz, const double* s,
                                 const double* upper_residual, const double* w, const double* dw) {
  double sum = 0.0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
    sum += (x[j] + alpha_p * dx[j]) * (z[j] + alpha_d * dz[j]);
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
    sum += (s[j] + alpha_p * (upper_residual[j] - dx[j])) * (w[j] + alpha_d * dw[j]);
  return sum;
}

// The predictor's bound-dual directions from its primal direction dx (the
// formulas the predictor uses), for vectors that served as solve scratch.
void predictor_dual_directions(const int32_t* r, double mu, const double* x, const double* dx, const double* z,
                               double* dz, const double* s, const double* upper_residual, const double* w,
                               double* dw) {
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) dz[j] = -z[j];
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) dz[j] = (mu - dx[j] * z[j]) / x[j] - z[j];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
    dw[j] = (mu - (upper_residual[j] - dx[j]) * w[j]) / s[j] - w[j];
}

}  // namespace

void build_barrier_diagonal(const barrier_params& params, const double* x, const double* y,
                            const double* s, const double* z, const double* w,
                            const int32_t* ranges, double* diag, const int32_t* var_state,
                            double mean_complementarity, double sigma,
                            int32_t regularise_equality, const int32_t* matrix_start,
                            const int32_t* matrix_end, const int32_t* factor_index,
                            const double* factor_value, double* slack_diag) {
  const int32_t* r = ranges;
  const int32_t n = params.col_count;
  const double tzer = params.TZER;
  const double gbar = mean_complementarity;

  double level;
  if (params.SCFREE <= tzer) {
    level = params.SCFREE;
  } else {
    level = sigma > tzer ? std::min(1.0, std::sqrt(params.SCFREE / sigma)) : 1.0;
    level = gbar >= tzer ? level * gbar : std::max(params.SCFREE, 1e-8);
  }

  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerColumn]; ++j) diag[j] = z[j] / x[j];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) diag[j] = z[j] / x[j] + w[j] / s[j];

  // Reference value: the geometric mean over the columns still moving.
  double log_sum = 0.0;
  int32_t counted = 0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastBoxedColumn]; ++j) {
    if (var_state[j] > 0) {
      log_sum += std::log(diag[j]);
      ++counted;
    }
  }
  const double reference = counted > 0 ? std::exp(log_sum / counted) : 1.0;

  auto floor_of = [&](double key) {
    if (std::fabs(key) < tzer) return 0.0;
    return key >= 0.0 ? key * reference : -key;
  };
  const double soft = floor_of(params.SOFTREG);
  const double hard = floor_of(params.HARDREG);

  const double free_level = (params.REGULARIZE & 0x1) != 0 ? level : 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j)
    diag[j] = free_level <= tzer ? -free_level : std::min(free_level / (x[j] * x[j] + 1.0), reference);

  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) {
    double d = diag[j];
    if (d < hard) {
      d = hard;
    } else if (d < soft) {
      d = std::sqrt(d * soft);
    }
    diag[j] = -d;
  }

  for (int32_t j = r[kFirstEqualitySlack]; j <= r[kLastEqualitySlack]; ++j) diag[j] = 0.0;
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) diag[j] = x[j] / z[j];
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) diag[j] = 1.0 / (z[j] / x[j] + w[j] / s[j]);
  for (int32_t j = 1; j <= r[kLastRemovedColumn]; ++j) diag[j] = 0.0;

  for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) slack_diag[p - n] = 0.0;
  if (regularise_equality <= 0) return;

  if (params.SCEQU <= 0.0) {
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) slack_diag[p - n] = 1.0;
  } else {
    // rho := the diagonal of A |D|^-1 A'.
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) {
      const double e = std::fabs(diag[j]);
      if (e <= tzer) continue;
      for (int32_t k = matrix_start[j]; k <= matrix_end[j]; ++k)
        slack_diag[factor_index[k] - n] += factor_value[k] * factor_value[k] / e;
    }
  }
  if ((params.REGULARIZE & 0x40) == 0) {
    for (int32_t p = r[kFirstEqualitySlack]; p <= r[kLastEqualitySlack]; ++p) {
      const int32_t i = p - n;
      const double d = level <= tzer ? -level : std::min(level / (y[i] * y[i] + 1.0), params.SCFREE);
      diag[p] = std::max(d, params.SCEQU * slack_diag[i]);
      slack_diag[i] = diag[p];
    }
  } else {
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) {
      const int32_t i = p - n;
      slack_diag[i] = params.SCEQU * slack_diag[i] <= diag[p] ? diag[p] : params.SCEQU * slack_diag[i];
    }
  }
}

void build_trial_diagonal(const barrier_params& params, const int32_t* ranges, double* diag,
                          const double* quad_diag, double& weight, int32_t regularise_equality) {
  const int32_t* r = ranges;
  const double tzer = params.TZER;
  double omega = 1.0;
  if (params.quad_col_count > 0) {
    double largest = 0.0;
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j)
      largest = std::max(largest, std::fabs(quad_diag[j]));
    omega = weight * largest;
    if (omega < tzer) omega = 1.0;
  }
  weight = omega;
  const double free_level = (params.REGULARIZE & 0x1) != 0 ? params.SCFREE : 0.0;
  const double equality_level = regularise_equality == 1 ? std::fabs(params.SCFREE) : 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) diag[j] = -std::fabs(free_level) * omega;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerColumn]; ++j) diag[j] = -omega;
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) diag[j] = -2.0 * omega;
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) diag[j] = 0.5 / omega;
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) diag[j] = 1.0 / omega;
  for (int32_t j = r[kFirstEqualitySlack]; j <= r[kLastEqualitySlack]; ++j) diag[j] = equality_level / omega;
  for (int32_t j = 1; j <= r[kLastRemovedColumn]; ++j) diag[j] = 0.0;
}

void compute_search_direction(
    barrier_params& params, const double* x, const double* s, const double* z, const double* w,
    const double* primal_residual, const double* dual_residual, double* upper_residual,
    double* q_dx, double* slack_diag, double* q_x, double* push_work, double* dx, double* dy,
    double* dz, double* dw, const double* upper, const int32_t* pivot_order,
    const int32_t* factor_first, const int32_t* factor_last, const int32_t* factor_index,
    const double* factor_value, const int32_t* supernode_end, const int32_t* supernode_mark,
    int32_t* var_state, const double* diag, const double* diag_copy,
    const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* quad_start,
    double& mu, int32_t& corrector_count, double& alpha_p, double& alpha_d, int32_t pair_count,
    double& complementarity, const int32_t* ranges, double& primal_tolerance,
    double& dual_tolerance, int32_t& refinement_steps) {
  const int32_t* r = ranges;
  const int32_t n = params.col_count;
  const int32_t positions = params.var_count;
  const double tzer = params.TZER;
  const FactorView f{params,       diag,       diag_copy,     pivot_order,    factor_index, factor_value,
                     matrix_start, factor_first, factor_last, matrix_end,     supernode_end, supernode_mark,
                     quad_start,   ranges,     upper,         x,              s};
  const double* e = diag_copy;
  const double* rp = primal_residual;
  const double* rd = dual_residual;
  double* ru = upper_residual;
  double* v = q_dx;

  // 1. Entry.
  params.iteration_flags &= 0xf;
  double primal_target = primal_tolerance;
  double dual_target = dual_tolerance;
  const double total = complementarity;
  const int32_t pairs = std::max(pair_count, 1);
  const double mean = total / pairs;
  double mu_prev = mu;
  if (mu_prev < tzer) mu_prev = params.BARSET * mean;
  const double mu_a = std::min(params.INIBARR * mean, params.BARGROW * mu_prev);
  for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) dy[p - n] = 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) dx[j] = 0.0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) dz[j] = 0.0;
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) dw[j] = 0.0;

  // The rows' right-hand side from the bound part g: rp - e g where a slack
  // variable is eliminated, rp on equality rows.
  auto finish_row_rhs = [&]() {
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastLowerSlack]; ++p) v[p] = rp[p - n] - e[p] * v[p];
    for (int32_t p = r[kFirstEqualitySlack]; p <= r[kLastEqualitySlack]; ++p) v[p] = rp[p - n];
  };

  // 2. Predictor right-hand side.
  int32_t mode = (params.REFMET & 0x1) != 0 ? REFINE_NEAR_TARGETS : REFINE_TARGETS_MET;
  if (params.MINCORR < 0) mode = REFINE_PLAIN_SOLVE;
  if (solve_rewrites_upper_residual(params, mode)) reset_upper_residual(f, ru);
  for (int32_t j = 1; j <= positions; ++j) v[j] = 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) v[j] = rd[j];
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) v[j] = rd[j] - mu_a / x[j] + z[j];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
    v[j] = v[j] - w[j] + (mu_a - ru[j] * w[j]) / s[j];
  finish_row_rhs();

  // 3. Predictor solve, with the Krylov fall-backs when refinement fell
  // short. They can take no step without MAXREF, and the reduced right-hand
  // side exists only after a refined or measured solve.
  int32_t steps = 0;
  solve_refined(f, v, q_x, push_work, ru, primal_tolerance, dual_tolerance, primal_target, dual_target, mode,
                steps);
  if (mode > REFINE_NEAR_TARGETS && params.MINCORR >= 0 && params.MAXREF >= 1) {
    if ((params.REFMET & 0x2) != 0)
      krylov(f, true, v, q_x, push_work, dz, dw, ru, primal_tolerance, dual_tolerance, primal_target,
             dual_target, mode, steps);
    if (mode > REFINE_NEAR_TARGETS && (params.REFMET & 0x4) != 0)
      krylov(f, false, v, q_x, push_work, dz, dw, ru, primal_tolerance, dual_tolerance, primal_target,
             dual_target, mode, steps);
  }
  if (mode == REFINE_FELL_SHORT) params.iteration_flags |= kPredictorSolveGrew;
  finish_in_place(f, v, push_work);
  refinement_steps = steps;

  // 4. The predictor direction: dy' in slack_diag, dx in v, dz' in q_x, dw'
  // in push_work.
  for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) slack_diag[p - n] = v[p];
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastLowerSlack]; ++j)
    v[j] = -(z[j] + v[j] + rd[j] - mu_a / x[j]) * e[j];
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j)
    v[j] = v[j] + (w[j] - (mu_a - ru[j] * w[j]) / s[j]) * e[j];
  predictor_dual_directions(r, mu_a, x, v, z, q_x, s, ru, w, push_work);

  // 5. Step lengths.
  compute_max_step_lengths(params, alpha_p, x, v, s, ru, alpha_d, z, q_x, w, push_work, r);

  // 6. Which side of each pair is moving faster.
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
    var_state[j] = std::fabs(q_x[j]) * x[j] > std::fabs(v[j]) * z[j] ? 1 : 0;
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
    if (var_state[j] == 1 && std::fabs(push_work[j]) * s[j] < std::fabs(ru[j] - v[j]) * w[j]) var_state[j] = 0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) var_state[j] = 1;
  for (int32_t j = r[kFirstEqualitySlack]; j <= r[kLastEqualitySlack]; ++j) var_state[j] = 0;

  // 7. Predicted complementarity and spread; the predictor becomes the
  // current direction.
  const double predicted = predicted_complementarity(r, alpha_p, alpha_d, x, v, z, q_x, s, ru, w, push_work);
  double spread = 0.0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
    spread += x[j] * q_x[j] * q_x[j] / z[j] + z[j] * v[j] * v[j] / x[j];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
    const double ds = ru[j] - v[j];
    spread += s[j] * push_work[j] * push_work[j] / w[j] + w[j] * ds * ds / s[j];
  }
  auto take_direction = [&]() {
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) {
      dx[j] = v[j];
      dz[j] = q_x[j];
    }
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) dy[p - n] = slack_diag[p - n];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) dw[j] = push_work[j];
  };
  take_direction();
  const double alpha_p_a = alpha_p;
  const double alpha_d_a = alpha_d;

  // 8. The barrier parameter from the complementarity the predictor reaches.
  double mu_new;
  if (total <= tzer) {
    mu_new = 0.0;
  } else if (spread <= 1.15 * total) {
    mu_new = predicted * predicted * predicted / (total * total * pairs);
    mu_new = std::min(mu_new, params.BARSET * total / pairs);
    mu_new = std::min(mu_new, params.BARGROW * mu_prev);
  } else {
    const double mean_step = std::max((alpha_p + alpha_d) / 2.0, params.BARSET);
    mu_new = predicted * predicted * predicted / (total * total * pairs) / mean_step;
    mu_new = std::min(mu_new, (total / pairs) * params.BARGROW * params.BARSET);
  }
  if (mu_new < params.BARMIN) mu_new = 0.0;
  mu = mu_new;

  corrector_count = 0;
  complementarity = predicted / pairs;
  // 9. The predictor alone.
  if (params.MAXCORR < 1) return;

  // 10. The corrected direction; pass 2 (after a rejected pass 1) has no
  // second-order term.
  for (int32_t pass = 1; pass <= 2; ++pass) {
    const double mu_c = mu;
    // The second-order terms come from dx, dz, dw: the predictor in pass 1,
    // zeros in pass 2.
    mode = (params.REFMET & 0x1) != 0 ? REFINE_NEAR_TARGETS : REFINE_TARGETS_MET;
    if (solve_rewrites_upper_residual(params, mode)) reset_upper_residual(f, ru);
    for (int32_t j = 1; j <= positions; ++j) v[j] = 0.0;
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) v[j] = rd[j];
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
      v[j] = (dx[j] * dz[j] - mu_c) / x[j] + rd[j] + z[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
      v[j] = v[j] - w[j] - (ru[j] * w[j] + (ru[j] - dx[j]) * dw[j] - mu_c) / s[j];
    finish_row_rhs();

    double primal_accuracy = 0.0, dual_accuracy = 0.0;
    steps = 0;
    solve_refined(f, v, q_x, push_work, ru, primal_accuracy, dual_accuracy, primal_target, dual_target, mode,
                  steps);
    bool borrowed = false;
    if (mode > REFINE_NEAR_TARGETS && params.REFMET > 1 && params.MAXREF >= 1) {
      if ((params.REFMET & 0x2) != 0) {
        krylov(f, true, v, q_x, push_work, dz, dw, ru, primal_accuracy, dual_accuracy, primal_target,
               dual_target, mode, steps);
        borrowed = true;
      }
      if (mode > REFINE_TARGETS_MET && (params.REFMET & 0x4) != 0) {
        krylov(f, false, v, q_x, push_work, dz, dw, ru, primal_accuracy, dual_accuracy, primal_target,
               dual_target, mode, steps);
        borrowed = true;
      }
    }
    if (borrowed) {
      // dz and dw served as Krylov work vectors: form the predictor's again
      // from its dx (pass 1), or the zeros of pass 2.
      if (pass == 1) {
        predictor_dual_directions(r, mu_a, x, dx, z, dz, s, ru, w, dw);
      } else {
        for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) dz[j] = 0.0;
        for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) dw[j] = 0.0;
      }
    }
    if (mode == REFINE_TARGETS_MET) params.iteration_flags |= kCorrectorSolveMetTargets;
    if (mode == REFINE_FELL_SHORT) params.iteration_flags |= kCorrectorSolveGrew;
    finish_in_place(f, v, push_work);
    refinement_steps = steps;

    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) slack_diag[p - n] = v[p];
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastLowerSlack]; ++j)
      v[j] = -((dx[j] * dz[j] - mu_c) / x[j] + rd[j] + z[j] + v[j]) * e[j];
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j)
      v[j] = v[j] + ((w[j] * ru[j] + (ru[j] - dx[j]) * dw[j] - mu_c) / s[j] + w[j]) * e[j];
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) q_x[j] = -z[j];
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
      q_x[j] = ((mu_c - dx[j] * dz[j]) - v[j] * z[j]) / x[j] - z[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
      push_work[j] = ((mu_c - (ru[j] - dx[j]) * dw[j]) - (ru[j] - v[j]) * w[j]) / s[j] - w[j];

    compute_max_step_lengths(params, alpha_p, x, v, s, ru, alpha_d, z, q_x, w, push_work, r);
    const double corrected = predicted_complementarity(r, alpha_p, alpha_d, x, v, z, q_x, s, ru, w, push_work);
    if (corrected > total) params.iteration_flags |= kCorrectorRaisesComplementarity;

    // 11. Acceptance.
    if (pass == 2 || alpha_p + alpha_d >= params.STOPCOR * (alpha_p_a + alpha_d_a) || params.MINCORR > 0) {
      take_direction();
      primal_tolerance = std::max(params.TRES1 * primal_accuracy, primal_target);
      dual_tolerance = std::max(params.TRES1 * dual_accuracy, dual_target);
      corrector_count = 1;
      complementarity = corrected / pairs;
      return;
    }

    // 12. Rejected. The predictor direction stays current, so its step
    // lengths come back with it whichever way the call goes on.
    alpha_p = alpha_p_a;
    alpha_d = alpha_d_a;
    if (mean < std::sqrt(params.BARMIN)) mu = 0.0;
    if (params.MINCORR >= 0) return;
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) dx[j] = 0.0;
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) dz[j] = 0.0;
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) dw[j] = 0.0;
  }
}

namespace {

// Rounds of the closing correction, and the least gain that earns another.
constexpr int32_t kClosingRounds = 3;
constexpr double kClosingGain = 0.5;
// Refinement steps the closing solve may take at least: its right-hand side
// is small, and the budget of the iterations may be none for a small factor.
constexpr int32_t kClosingRefinementSteps = 10;
// Share of the dual tolerance (relative to the largest cost) that the
// closing move may spend on Q dx.
constexpr double kClosingDualShare = 1.0;

// rp_i = b_i - a_i x + x_{n+i} over the active rows, exactly (no entry
// dropped); returns the largest |rp_i|.
double exact_primal_residual(const barrier_params& params, const int32_t* r, const double* x, const double* rhs,
                             const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* factor_index,
                             const double* factor_value, double* rp) {
  const int32_t n = params.col_count;
  for (int32_t i = 1; i <= params.row_count; ++i) rp[i] = rhs[i];
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) {
    for (int32_t k = matrix_start[j]; k <= matrix_end[j]; ++k) rp[factor_index[k] - n] -= x[j] * factor_value[k];
  }
  for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastLowerSlack]; ++p) rp[p - n] += x[p];
  double largest = 0.0;
  for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p)
    largest = std::max(largest, std::fabs(rp[p - n]));
  return largest;
}

// c'x + x'Qx/2 over the active columns, q_x := Qx.
double internal_objective(const barrier_params& params, const int32_t* r, const double* x, const double* cost,
                          const int32_t* quad_start, const double* quad_diag, const double* factor_value,
                          const int32_t* factor_index, double* q_x) {
  multiply_quadratic_objective(params, quad_start, quad_diag, factor_value, factor_index, x, q_x);
  double sum = 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) sum += x[j] * (cost[j] + 0.5 * q_x[j]);
  return sum;
}

// With a quadratic objective a move dx of x moves the reduced costs by
// Q dx, which nothing after the iterations takes back: the move is kept only
// while that stays inside the dual tolerance. diff and q_diff are scratch.
bool keeps_duals(const barrier_params& params, const int32_t* r, const double* x, const double* saved_x,
                 const double* cost, const int32_t* quad_start, const double* quad_diag, const double* factor_value,
                 const int32_t* factor_index, double* diff, double* q_diff) {
  if (params.quad_col_count <= 0) return true;
  double cost_scale = 1.0;
  for (int32_t j = 1; j <= params.var_count; ++j) diff[j] = x[j] - saved_x[j];
  multiply_quadratic_objective(params, quad_start, quad_diag, factor_value, factor_index, diff, q_diff);
  double largest = 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) {
    largest = std::max(largest, std::fabs(q_diff[j]));
    cost_scale = std::max(cost_scale, std::fabs(cost[j]));
  }
  return largest <= kClosingDualShare * params.TFEAS2 * cost_scale;
}

}  // namespace

double close_primal_residual(
    barrier_params& params, double* x, double* s, const double* upper, const double* rhs,
    const double* cost, const double* quad_diag, double* q_x, double* primal_residual,
    double* upper_residual, double* v, double* reduced_rhs, double* residual, double* saved_x,
    double* saved_s, double* direction, const int32_t* pivot_order, const int32_t* factor_first,
    const int32_t* factor_last, const int32_t* factor_index, const double* factor_value,
    const int32_t* supernode_end, const int32_t* supernode_mark, const double* diag,
    const double* diag_copy, const int32_t* matrix_start, const int32_t* matrix_end,
    const int32_t* quad_start, const int32_t* ranges) {
  const int32_t* r = ranges;
  const int32_t n = params.col_count;
  const int32_t positions = params.var_count;
  const FactorView f{params,         diag,           diag_copy,    pivot_order,  factor_index, factor_value,
                     matrix_start,   factor_first,   factor_last,  matrix_end,   supernode_end, supernode_mark,
                     quad_start,     ranges,         upper,        x,            s};
  const double before = internal_objective(params, r, x, cost, quad_start, quad_diag, factor_value, factor_index, q_x);
  double* rp = primal_residual;
  double largest =
      exact_primal_residual(params, r, x, rhs, matrix_start, matrix_end, factor_index, factor_value, rp);
  const int32_t kept_maxref = params.MAXREF;
  params.MAXREF = std::max(params.MAXREF, kClosingRefinementSteps);
  for (int32_t round = 0; round < kClosingRounds && largest > 0.0; ++round) {
    // K [dx; dy] = [0; rp]: the columns' rows give dx = D A' dy, the rows
    // A dx + e dy = rp, the slack moving by -e dy.
    for (int32_t j = 1; j <= positions; ++j) v[j] = 0.0;
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) v[p] = rp[p - n];
    double primal_accuracy = 0.0, dual_accuracy = 0.0, primal_target = 0.0, dual_target = 0.0;
    int32_t mode = REFINE_NEAR_TARGETS, steps = 0;
    solve_refined(f, v, reduced_rhs, residual, upper_residual, primal_accuracy, dual_accuracy, primal_target,
                  dual_target, mode, steps);
    finish_in_place(f, v, residual);
    for (int32_t j = 1; j <= positions; ++j) direction[j] = 0.0;
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) direction[j] = v[j];
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastLowerSlack]; ++p) direction[p] = -diag_copy[p] * v[p];

    for (int32_t j = 1; j <= positions; ++j) saved_x[j] = x[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) saved_s[j] = s[j];
    // The whole step, each position stopped at its bounds (lower bounds are
    // 0 here, x + s = u moves s against x): the positions that would cross
    // are those the optimum holds at a bound, where D, and so the step, is
    // tiny; one of them must not shorten the step of all the others.
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) x[j] += direction[j];
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) x[j] = std::max(x[j] + direction[j], 0.0);
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
      s[j] = std::max(saved_s[j] - (x[j] - saved_x[j]), 0.0);
      x[j] = saved_x[j] + saved_s[j] - s[j];
    }
    const double now =
        exact_primal_residual(params, r, x, rhs, matrix_start, matrix_end, factor_index, factor_value, rp);
    if (!(now < largest) || !keeps_duals(params, r, x, saved_x, cost, quad_start, quad_diag, factor_value,
                                         factor_index, residual, reduced_rhs)) {
      for (int32_t j = 1; j <= positions; ++j) x[j] = saved_x[j];
      for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) s[j] = saved_s[j];
      break;
    }
    const bool worth_another = now < kClosingGain * largest;
    largest = now;
    if (!worth_another) break;
  }
  params.MAXREF = kept_maxref;
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) upper_residual[j] = upper[j] - x[j] - s[j];
  return internal_objective(params, r, x, cost, quad_start, quad_diag, factor_value, factor_index, q_x) - before;
}

}  // namespace kl
