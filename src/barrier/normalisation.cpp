// The objective and right-hand-side normalisations, the quadratic term's
// share of the scaling, and the undoing of all of them after the iterations.
#include <cmath>

#include "barrier/scaling.h"

namespace kl {

namespace {

// The below-diagonal quadratic entries of column j: factor_index holds the
// other column c, factor_value the value.
template <class Visit>
void for_each_quadratic_entry(const barrier_params& params, const int32_t* quad_start, Visit visit) {
  if (params.quad_col_count <= 0 || quad_start == nullptr) return;
  for (int32_t j = 1; j <= params.col_count; ++j) {
    for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) visit(j, k);
  }
}

}  // namespace

void normalise_barrier_objective(barrier_params& params, double* cost, const int32_t* quad_start,
                                 double* quad_diag, double* factor_value, double& obj_factor,
                                 const int32_t* var_state, double objnorm) {
  const int32_t n = params.col_count;
  const bool quadratic = params.quad_col_count > 0 && quad_diag != nullptr;
  double f = 0.0;
  double d = 0.0;
  for (int32_t j = 1; j <= n; ++j) {
    if (var_state[j] <= -2) continue;
    f = std::max(f, std::fabs(cost[j]));
    if (quadratic) d = std::max(d, quad_diag[j] * quad_diag[j]);
  }
  // With a quadratic diagonal the curvature alone sets the factor.
  if (d <= params.TZER) {
    f /= objnorm;
  } else {
    f = std::sqrt(d / objnorm);
  }
  if (f < params.TZER) f = 1.0;
  for (int32_t j = 1; j <= n; ++j) cost[j] /= f;
  if (quadratic) {
    for (int32_t j = 1; j <= n; ++j) quad_diag[j] /= f;
    for_each_quadratic_entry(params, quad_start, [&](int32_t, int32_t k) { factor_value[k] /= f; });
  }
  obj_factor = f;
}

void normalise_barrier_rhs(barrier_params& params, double* rhs, double& rhs_factor, const int32_t* var_state,
                           double rhsnorm, double* upper) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  double f = 0.0;
  for (int32_t i = 1; i <= m; ++i) {
    if (var_state[n + i] > -2) f = std::max(f, std::fabs(rhs[i]));
  }
  f /= rhsnorm;
  if (f < kMinRhsFactor) f = kMinRhsFactor;
  for (int32_t i = 1; i <= m; ++i) rhs[i] /= f;
  // An absent bound stays beyond the barrier's infinite bound: divided by a
  // factor above 1.1 it would read as a finite bound, and the undo would
  // bring it back as one.
  for (int32_t k = 1; k <= n + m; ++k) {
    if (upper[k] < kBarrierInfiniteBound) upper[k] /= f;
  }
  rhs_factor = f;
}

void scale_barrier_quadratic(barrier_params& params, const double* scale, const int32_t* quad_start,
                             const int32_t* factor_index, double* factor_value, double* quad_diag) {
  if (params.quad_col_count <= 0) return;
  for (int32_t j = 1; j <= params.col_count; ++j) quad_diag[j] /= scale[j] * scale[j];
  for_each_quadratic_entry(params, quad_start, [&](int32_t j, int32_t k) {
    factor_value[k] /= scale[j] * scale[factor_index[k]];
  });
}

void unscale_barrier_problem(barrier_params& params, double* rhs, double* upper, double* lower, double* cost,
                             const int32_t* matrix_start, const int32_t* factor_index, double* factor_value,
                             const int32_t* quad_start, double* quad_diag, const double* scale,
                             double rhs_factor, double obj_factor, double big,
                             const BarrierSolutionArrays& solution) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const double rf = rhs_factor;
  const double of = obj_factor;
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t p = n + i;
    const double f = std::fabs(scale[p]);
    rhs[i] = f * rhs[i] * rf;
    if (upper[p] < big) upper[p] = f * upper[p] * rf;
    if (lower[p] > -big) lower[p] = f * lower[p];
    if (solution.x != nullptr) solution.x[p] = f * solution.x[p] * rf;
    if (solution.s != nullptr) solution.s[p] = f * rf * solution.s[p];
    if (solution.y != nullptr) solution.y[i] = of * solution.y[i] / f;
    if (solution.z != nullptr) solution.z[p] = solution.z[p] / f * of;
  }
  if (params.quad_col_count > 0 && quad_diag != nullptr) {
    for (int32_t j = 1; j <= n; ++j) quad_diag[j] = scale[j] * quad_diag[j] * (of * scale[j]);
    for_each_quadratic_entry(params, quad_start, [&](int32_t j, int32_t k) {
      factor_value[k] = scale[factor_index[k]] * factor_value[k] * (of * scale[j]);
    });
  }
  for (int32_t j = 1; j <= n; ++j) {
    const double f = std::fabs(scale[j]);
    cost[j] = f * cost[j] * of;
    if (upper[j] < big) upper[j] = rf * upper[j] / f;
    if (lower[j] > -big) lower[j] = lower[j] / f;
    for (int32_t k = matrix_start[j]; k < matrix_start[j + 1]; ++k) {
      factor_value[k] = std::fabs(scale[n + factor_index[k]]) * factor_value[k] * f;
    }
    if (solution.x != nullptr) solution.x[j] = solution.x[j] / f * rf;
    if (solution.s != nullptr) solution.s[j] = solution.s[j] / f * rf;
    if (solution.z != nullptr) solution.z[j] = f * solution.z[j] * of;
  }
}

}  // namespace kl
