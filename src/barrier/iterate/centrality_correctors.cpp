#include "barrier/iterate/centrality_correctors.h"

#include <algorithm>

#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/refinement.h"
#include "barrier/iterate/step_lengths.h"
#include "barrier/iterate/variable_classes.h"

namespace kl {

double centrality_target(const barrier_params& params, double product, double mu) {
  if (product <= params.TSMALL * mu) return mu - product;
  if (product >= params.TLARGE * mu) return -params.CENTER * mu;
  return 0.0;
}

void apply_centrality_correctors(
    const barrier_params& params, const double* x, const double* s, const double* z,
    const double* w, double* upper_residual, double* q_dx, double* slack_diag, double* q_x,
    double* push_work, double* dx, double* dy, double* dz, double* dw, const double* upper,
    const int32_t* pivot_order, const int32_t* factor_first, const int32_t* factor_last,
    const int32_t* factor_index, const double* factor_value, const int32_t* supernode_end,
    const int32_t* supernode_mark, const double* diag, const double* diag_copy,
    const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* quad_start, double mu,
    int32_t& corrector_count, double& alpha_p, double& alpha_d, const int32_t* ranges,
    double& primal_tolerance, double& dual_tolerance, int32_t& refinement_steps) {
  const int32_t* r = ranges;
  const int32_t n = params.col_count;
  const int32_t positions = params.var_count;
  const double* e = diag_copy;
  double* ru = upper_residual;
  double* v = q_dx;

  corrector_count = 0;
  double alpha_p_kept = alpha_p;
  double alpha_d_kept = alpha_d;
  int32_t allowed = params.MAXCCORR;
  if (allowed < 1) return;

  for (int32_t k = 1;; ++k) {
    const double reach_p = std::min(1.0, (1.0 + params.TARGET) * alpha_p_kept + params.TARGET);
    const double reach_d = std::min(1.0, (1.0 + params.TARGET) * alpha_d_kept + params.TARGET);
    // The target change of each pair's product at the enlarged steps.
    auto lower_target = [&](int32_t j) {
      return centrality_target(params, (x[j] + reach_p * dx[j]) * (z[j] + reach_d * dz[j]), mu);
    };
    auto upper_target = [&](int32_t j) {
      return centrality_target(params, (s[j] + reach_p * (ru[j] - dx[j])) * (w[j] + reach_d * dw[j]), mu);
    };

    int32_t mode = refinement_steps == 0 ? REFINE_PLAIN_SOLVE : params.REFMET;
    // A refined solve rewrites upper_residual to u - x - s; doing it first
    // keeps the targets before and after the solve on one value.
    if (mode >= 0 && params.MAXREF >= 1)
      for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) ru[j] = upper[j] - x[j] - s[j];

    // Right-hand side of the correction with zero residuals.
    for (int32_t j = 1; j <= positions; ++j) v[j] = 0.0;
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) v[j] = -lower_target(j) / x[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) v[j] += upper_target(j) / s[j];
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastLowerSlack]; ++p) v[p] = -e[p] * v[p];

    double primal_accuracy = 0.0, dual_accuracy = 0.0;
    solve_with_refinement(params, diag, diag_copy, pivot_order, factor_index, factor_value, matrix_start,
                          factor_first, factor_last, matrix_end, v, q_x, push_work, ru, upper, x, s, r,
                          supernode_end, supernode_mark, quad_start, primal_accuracy, dual_accuracy,
                          primal_tolerance, dual_tolerance, mode, refinement_steps);
    solve_backward_supernodal(params, 1, params.in_place_count, factor_first, factor_index, pivot_order,
                              factor_last, supernode_end, factor_value, diag, v, push_work);
    // An inaccurate solve ends the correctors without being used: the count
    // is that of the correctors kept.
    if (mode == REFINE_STOPPED || mode == REFINE_FELL_SHORT) {
      corrector_count = k - 1;
      return;
    }

    // The corrected direction: dy' in slack_diag, dx' in v, dz' in q_x, dw'
    // in push_work.
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) slack_diag[p - n] = dy[p - n] + v[p];
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastLowerSlack]; ++p) v[p] = -(v[p] - lower_target(p) / x[p]) * e[p];
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastBoxedSlack]; ++p) v[p] -= upper_target(p) * e[p] / s[p];
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) q_x[j] = -z[j];
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j)
      q_x[j] = (lower_target(j) - v[j] * z[j]) / x[j] + dz[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j)
      push_work[j] = (v[j] * w[j] + upper_target(j)) / s[j] + dw[j];
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) v[j] += dx[j];

    compute_max_step_lengths(params, alpha_p, x, v, s, ru, alpha_d, z, q_x, w, push_work, r);

    // Acceptance: the smaller step length must grow; a gain below CORSTOP
    // keeps the corrector but ends the sequence.
    if (k > params.MINCCORR) {
      const double reached = std::min(alpha_p, alpha_d);
      const double before = std::min(alpha_p_kept, alpha_d_kept);
      if (reached < params.CORSTOP * before) {
        if (reached < before) {
          alpha_p = alpha_p_kept;
          alpha_d = alpha_d_kept;
          corrector_count = k - 1;
          return;
        }
        allowed = k;
      }
    }

    alpha_p_kept = alpha_p;
    alpha_d_kept = alpha_d;
    for (int32_t p = r[kFirstBoxedSlack]; p <= r[kLastEqualitySlack]; ++p) dy[p - n] = slack_diag[p - n];
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastLowerSlack]; ++j) dx[j] = v[j];
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) dz[j] = q_x[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) dw[j] = push_work[j];
    corrector_count = k;
    if (k >= allowed) return;
  }
}

}  // namespace kl
