#include "barrier/iterate/step_lengths.h"

#include <algorithm>
#include <cmath>

#include "barrier/iterate/residuals.h"
#include "barrier/iterate/variable_classes.h"

namespace kl {

void compute_max_step_lengths(const barrier_params& params, double& alpha_p, const double* x,
                              const double* dx, const double* s, const double* upper_residual,
                              double& alpha_d, const double* z, const double* dz, const double* w,
                              const double* dw, const int32_t* ranges) {
  const double tzer = params.TZER;
  double ap = 1.0 / params.PRDARE;
  double ad = 1.0 / params.DUDARE;
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    if (dx[j] < -tzer) ap = std::min(ap, -x[j] / dx[j]);
    if (dz[j] < -tzer) ad = std::min(ad, -z[j] / dz[j]);
  }
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    const double ds = upper_residual[j] - dx[j];
    if (ds < -tzer) ap = std::min(ap, -s[j] / ds);
    if (dw[j] < -tzer) ad = std::min(ad, -w[j] / dw[j]);
  }
  alpha_p = ap;
  alpha_d = ad;
}

void limit_step_by_complementarity(const barrier_params& params, double& alpha_p,
                                   double& alpha_d, const double* x, const double* dx,
                                   const double* z, const double* dz, const double* s,
                                   const double* upper_residual, const double* w, const double* dw,
                                   const int32_t* ranges) {
  const double tzer = params.TZER;
  const double ap0 = alpha_p;
  const double ad0 = alpha_d;
  const int32_t pairs = (ranges[kFirstEqualitySlack] + ranges[kFirstLowerSlack]) -
                        (ranges[kFirstBoxedColumn] + ranges[kFirstLowerColumn]);
  if (pairs < 1) return;
  double total = 0.0;
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    total += (x[j] + ap0 * dx[j]) * (z[j] + ad0 * dz[j]);
  }
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    total += (s[j] + ap0 * (upper_residual[j] - dx[j])) * (w[j] + ad0 * dw[j]);
  }
  const double target = total / pairs * params.COMPLMIN;
  double ap = ap0;
  double ad = ad0;
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    const double xn = x[j] + ap * dx[j];
    const double zn = z[j] + ad * dz[j];
    if (xn * zn >= target) continue;
    if (dx[j] < -tzer && (dz[j] > tzer || xn < zn)) {
      ap = std::min(ap, (target / zn - x[j]) / dx[j]);
      ap = std::max(ap, params.MINSTEP * ap0);
    }
    if (dz[j] < -tzer && (dx[j] > tzer || xn >= zn)) {
      ad = std::min(ad, (target / (x[j] + ap * dx[j]) - z[j]) / dz[j]);
      ad = std::max(ad, params.MINSTEP * ad0);
    }
  }
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    const double ds = upper_residual[j] - dx[j];
    const double sn = s[j] + ap * ds;
    const double wn = w[j] + ad * dw[j];
    if (wn * sn >= target) continue;
    if (ds < -tzer && (dw[j] > tzer || wn > sn)) {
      ap = std::min(ap, (target / wn - s[j]) / ds);
      ap = std::max(ap, 0.5 * ap0);
    }
    if (dw[j] < -tzer && (ds > tzer || wn <= sn)) {
      ad = std::min(ad, (target / (s[j] + ap * ds) - w[j]) / dw[j]);
      ad = std::max(ad, 0.5 * ad0);
    }
  }
  alpha_p = ap;
  alpha_d = ad;
}

void balance_step_lengths(const barrier_params& params, double& alpha_p, double& alpha_d,
                          const double* dual_residual, const double* dx, double* q_dx,
                          const double* quad_diag, const int32_t* quad_start,
                          const int32_t* factor_index, const double* factor_value,
                          const int32_t* ranges) {
  multiply_quadratic_objective(params, quad_start, quad_diag, factor_value, factor_index, dx, q_dx);
  if (std::fabs(alpha_p - alpha_d) <= params.TPLUS) return;
  const bool primal_longer = alpha_p > alpha_d;
  double sum = 0.0;
  double square = 0.0;
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    const double rd = dual_residual[j];
    const double q = q_dx[j];
    if (primal_longer) {
      sum += rd * q;
      square += q * q;
    } else {
      sum += rd * (rd + q);
      square += (rd + q) * (rd + q);
    }
  }
  if (square <= params.TZER) return;
  double ap = alpha_p;
  double ad = alpha_d;
  if (primal_longer) {
    ap = alpha_d - (1.0 - alpha_d) * sum / square;
  } else {
    ad = alpha_p + (1.0 - alpha_p) * sum / square;
  }
  const double shorter = std::min(alpha_p, alpha_d);
  alpha_p = std::min(std::max(ap, shorter), alpha_p);
  alpha_d = std::min(std::max(ad, shorter), alpha_d);
}

void take_barrier_step(const barrier_params& params, double alpha_p, double* x, const double* dx,
                       double* s, const double* upper_residual, double alpha_d, double* y,
                       const double* dy, double* z, const double* dz, double* w,
                       const double* dw, const int32_t* ranges, double& last_move) {
  const int32_t n = params.col_count;
  double primal_change = 0.0;
  double dual_change = 0.0;
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastEqualitySlack]; ++p) {
    y[p - n] += alpha_d * dy[p - n];
    dual_change = std::max(dual_change, std::fabs(dy[p - n]));
  }
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    x[j] += alpha_p * dx[j];
    primal_change = std::max(primal_change, std::fabs(dx[j]));
    z[j] += alpha_d * dz[j];
    dual_change = std::max(dual_change, std::fabs(dz[j]));
  }
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    const double ds = upper_residual[j] - dx[j];
    s[j] += alpha_p * ds;
    primal_change = std::max(primal_change, std::fabs(ds));
    w[j] += alpha_d * dw[j];
    dual_change = std::max(dual_change, std::fabs(dw[j]));
  }
  last_move = std::max(primal_change * alpha_p, dual_change * alpha_d);
}

void fix_barrier_variables(const barrier_params& params, int32_t* col_bound_code,
                           int32_t* slack_bound_code, double* rhs, const int32_t* matrix_start,
                           const int32_t* factor_index, const double* factor_value, double* x,
                           double* s, const double* y, double* z, double* w, int32_t* var_state,
                           int32_t& removed_col_count, int32_t& removed_row_count,
                           double& objective_constant, const double& objective_scale,
                           double* cost, const double* upper, double* column_work,
                           double* product_work, const int32_t* quad_start,
                           const double* quad_diag, const int32_t* ranges, int32_t& fixed_columns,
                           int32_t& removed_slacks, int32_t& dropped_bounds) {
  (void)y;
  const int32_t n = params.col_count;
  fixed_columns = 0;
  removed_slacks = 0;
  dropped_bounds = 0;
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    if (var_state[j] < -1) ++fixed_columns;
  }
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastEqualitySlack]; ++p) {
    if (var_state[p] < -1) ++removed_slacks;
  }
  for (int32_t j = 1; j <= n; ++j) column_work[j] = 0.0;

  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    if (var_state[j] < -1) continue;
    if (x[j] < params.TFIXVAR) {
      ++removed_col_count;
      ++fixed_columns;
      var_state[j] = -2;
      x[j] = 0.0;
    } else if (z[j] < params.TFIXSLACK) {
      z[j] = params.TFIXSLACK;
    }
  }
  bool fixed_at_upper = false;
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    if (var_state[j] < -1 || s[j] >= params.TFIXVAR) continue;
    const double u = upper[j];
    ++removed_col_count;
    ++fixed_columns;
    var_state[j] = -2;
    for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
      rhs[factor_index[e] - n] -= factor_value[e] * u;
    }
    objective_constant += cost[j] * objective_scale * u;
    column_work[j] = u;
    x[j] = u;
    s[j] = 0.0;
    fixed_at_upper = true;
  }
  for (int32_t p = ranges[kFirstBoxedColumn]; p <= ranges[kLastBoxedSlack]; ++p) {
    if (var_state[p] < -1 || w[p] >= params.DSLACKLIM) continue;
    ++dropped_bounds;
    if (p <= n) {
      col_bound_code[p] = -col_bound_code[p];
    } else {
      slack_bound_code[p - n] = -slack_bound_code[p - n];
    }
    w[p] = 0.0;
  }
  for (int32_t p = ranges[kFirstLowerSlack]; p <= ranges[kLastLowerSlack]; ++p) {
    if (var_state[p] < -1 || z[p] >= params.TFIXSLACK) continue;
    ++removed_slacks;
    ++removed_row_count;
    var_state[p] = -2;
  }
  if (fixed_at_upper && params.quad_col_count > 0) {
    // The remaining columns take over the cross terms of the fixed values,
    // the constant takes half of f'Qf.
    multiply_quadratic_objective(params, quad_start, quad_diag, factor_value, factor_index,
                                 column_work, product_work);
    for (int32_t j = 1; j <= n; ++j) {
      cost[j] += product_work[j];
      objective_constant += 0.5 * objective_scale * column_work[j] * product_work[j];
    }
  }
}

}  // namespace kl
