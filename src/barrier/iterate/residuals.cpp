#include "barrier/iterate/residuals.h"

#include <algorithm>
#include <cmath>

#include "barrier/iterate/variable_classes.h"

namespace kl {

namespace {

// Residual entries below this share of the norm are treated as noise.
double residual_floor_share(const barrier_params& params) { return std::min(params.TOPT1, 1e-4); }

void set_fell_bit(barrier_params& params, int32_t bit, double previous, double norm) {
  params.iteration_flags |= bit;
  if (0.9 * previous < norm) params.iteration_flags &= ~bit;
}

}  // namespace

void multiply_quadratic_objective(const barrier_params& params, const int32_t* quad_start,
                                  const double* quad_diag, const double* factor_value,
                                  const int32_t* factor_index, const double* v, double* out) {
  const int32_t n = params.col_count;
  for (int32_t j = 1; j <= n; ++j) out[j] = 0.0;
  if (params.quad_col_count <= 0) return;
  if (params.quad_nz > 0) {
    for (int32_t j = 1; j <= n; ++j) {
      const double vj = v[j];
      double sum = 0.0;
      for (int32_t e = quad_start[j]; e < quad_start[j + 1]; ++e) {
        const int32_t r = factor_index[e];
        out[r] += factor_value[e] * vj;
        sum += factor_value[e] * v[r];
      }
      out[j] += sum;
    }
  }
  for (int32_t j = 1; j <= n; ++j) out[j] += quad_diag[j] * v[j];
}

void compute_primal_residual(barrier_params& params, const double* x, double* primal_residual,
                             const int32_t* matrix_start, const int32_t* matrix_end,
                             const int32_t* factor_index, const double* factor_value,
                             const double* rhs, const int32_t* ranges, double& primal_norm) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const double previous = primal_norm;
  double* rp = primal_residual;
  for (int32_t i = 1; i <= m; ++i) rp[i] = rhs[i];
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    const double xj = x[j];
    for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) rp[factor_index[e] - n] -= xj * factor_value[e];
  }
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastLowerSlack]; ++p) rp[p - n] += x[p];
  double norm = 0.0;
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastEqualitySlack]; ++p) {
    norm = std::max(norm, std::fabs(rp[p - n]));
  }
  const double floor = residual_floor_share(params) * norm;
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastEqualitySlack]; ++p) {
    if (std::fabs(rp[p - n]) < floor) rp[p - n] = 0.0;
  }
  primal_norm = norm;
  set_fell_bit(params, kPrimalResidualFell, previous, norm);
}

void compute_upper_residual(const barrier_params& params, const double* x, const double* s,
                            double* upper_residual, const double* upper, const int32_t* ranges,
                            double& upper_norm) {
  double norm = 0.0;
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    upper_residual[j] = upper[j] - x[j] - s[j];
    norm = std::max(norm, std::fabs(upper_residual[j]));
  }
  const double floor = residual_floor_share(params) * norm;
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) {
    if (std::fabs(upper_residual[j]) < floor) upper_residual[j] = floor;
  }
  upper_norm = norm;
}

void compute_dual_residual(barrier_params& params, const double* y, const double* z,
                           const double* w, double* dual_residual, const int32_t* matrix_start,
                           const int32_t* matrix_end, const int32_t* factor_index,
                           const double* factor_value, const double* cost, const double* q_x,
                           const int32_t* ranges, double& dual_norm) {
  const int32_t n = params.col_count;
  const double previous = dual_norm;
  double* rd = dual_residual;
  for (int32_t p = ranges[kFirstBoxedSlack]; p <= ranges[kLastBoxedSlack]; ++p) rd[p] = y[p - n] - z[p] + w[p];
  for (int32_t p = ranges[kFirstLowerSlack]; p <= ranges[kLastLowerSlack]; ++p) rd[p] = y[p - n] - z[p];
  for (int32_t p = ranges[kFirstEqualitySlack]; p <= ranges[kLastEqualitySlack]; ++p) rd[p] = 0.0;
  for (int32_t p = ranges[kFirstPosition]; p <= ranges[kLastRemovedColumn]; ++p) rd[p] = 0.0;
  for (int32_t p = ranges[kFirstRemovedSlack]; p <= ranges[kLastRemovedSlack]; ++p) rd[p] = 0.0;
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
    double sum = 0.0;
    for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) sum += y[factor_index[e] - n] * factor_value[e];
    rd[j] = cost[j] - sum + q_x[j];
  }
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerColumn]; ++j) rd[j] -= z[j];
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedColumn]; ++j) rd[j] = rd[j] - z[j] + w[j];
  // Free columns and every position with a lower bound lie in one range.
  double norm = 0.0;
  for (int32_t p = ranges[kFirstFreeColumn]; p <= ranges[kLastLowerSlack]; ++p) norm = std::max(norm, std::fabs(rd[p]));
  const double floor = residual_floor_share(params) * norm;
  for (int32_t p = ranges[kFirstFreeColumn]; p <= ranges[kLastLowerSlack]; ++p) {
    if (std::fabs(rd[p]) < floor) rd[p] = floor;
  }
  dual_norm = norm;
  set_fell_bit(params, kDualResidualFell, previous, norm);
}

void compute_barrier_objectives(const barrier_params& params, double& primal, double& dual,
                                const double* cost, const double* rhs, const double* upper,
                                const double* x, const double* y, const double* w,
                                const int32_t* ranges) {
  const int32_t n = params.col_count;
  double p = 0.0;
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) p += cost[j] * x[j];
  double d = 0.0;
  for (int32_t k = ranges[kFirstBoxedSlack]; k <= ranges[kLastEqualitySlack]; ++k) d += rhs[k - n] * y[k - n];
  for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) d -= upper[j] * w[j];
  primal = p;
  dual = d;
}

}  // namespace kl
