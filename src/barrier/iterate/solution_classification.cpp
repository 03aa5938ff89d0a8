#include "barrier/iterate/solution_classification.h"

#include <cmath>

namespace kl {

namespace {

inline constexpr int32_t kStateFixedBeforePresolve = -3;
inline constexpr int32_t kStateRemovedInIterations = -2;

// c_j - y'a_j over the stored entries of column j.
double reduced_cost(const int32_t* matrix_start, const int32_t* factor_index, const double* factor_value,
                    const double* cost, const double* y, int32_t j) {
  double d = cost[j];
  for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) d -= y[factor_index[e]] * factor_value[e];
  return d;
}

}  // namespace

int32_t classify_barrier_solution(const barrier_params& params, const int32_t* matrix_start,
                                  const int32_t* factor_index, double* factor_value, const int32_t* col_state,
                                  const int32_t* slack_state, const int32_t* col_bound_code, double* col_upper,
                                  double* col_lower, double* slack_upper, double* slack_lower, double* rhs,
                                  double* cost, double* x, double* y, double* z, int32_t* crossover_class,
                                  int32_t* removal_index, double* row_activity, const double* scale,
                                  const int32_t* presolve_list, const int32_t& removal_count, double* work,
                                  const double& infinity) {
  (void)work;  // scratch of the presolve recovery
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t count = removal_count > 0 ? removal_count : 0;
  const double big = 0.9 * infinity;
  auto finite = [big](double v) { return std::fabs(v) < big; };
  auto state_of = [&](int32_t p) { return p <= n ? col_state[p] : slack_state[p - n]; };

  for (int32_t p = 1; p <= n + m; ++p) {
    crossover_class[p] = state_of(p);
    removal_index[p] = state_of(p) == kStateFixedBeforePresolve ? 0 : count + 1;
  }
  for (int32_t i = 1; i <= count; ++i) removal_index[presolve_list[i]] = i;
  auto kept = [&](int32_t p) { return removal_index[p] == 0 || removal_index[p] == count + 1; };

  for (int32_t k = 1; k <= m; ++k) {
    const int32_t p = n + k;
    row_activity[k] = 0.0;
    if (kept(p) && slack_lower[k] > -big) rhs[k] -= slack_lower[k];
    if (scale[p] < 0.0) {
      rhs[k] = -rhs[k];
      y[k] = -y[k];
      slack_upper[k] = -slack_lower[k];
      slack_lower[k] = -infinity;
    }
    if (slack_state[k] < -1) y[k] = 0.0;
  }

  for (int32_t j = 1; j <= n; ++j) {
    const int32_t first = matrix_start[j];
    const int32_t end = matrix_start[j + 1];
    for (int32_t e = first; e < end; ++e) {
      if (scale[n + factor_index[e]] < 0.0) factor_value[e] = -factor_value[e];
    }
    if (!kept(j)) continue;
    if (col_bound_code[j] != 0) {
      if (removal_index[j] != 0 && finite(col_upper[j])) col_upper[j] += col_lower[j];
      x[j] += col_lower[j];
      for (int32_t e = first; e < end; ++e) rhs[factor_index[e]] += factor_value[e] * col_lower[j];
    }
    if (scale[j] < 0.0) {
      cost[j] = -cost[j];
      col_upper[j] = -col_lower[j];
      col_lower[j] = -infinity;
      x[j] = -x[j];
      z[j] = -z[j];
      for (int32_t e = first; e < end; ++e) factor_value[e] = -factor_value[e];
    }
    for (int32_t e = first; e < end; ++e) row_activity[factor_index[e]] += factor_value[e] * x[j];
  }

  for (int32_t k = 1; k <= m; ++k) {
    if (kept(n + k)) x[n + k] = row_activity[k] - rhs[k];
  }

  for (int32_t j = 1; j <= n; ++j) {
    if (col_state[j] != kStateRemovedInIterations) continue;
    z[j] = reduced_cost(matrix_start, factor_index, factor_value, cost, y, j);
    crossover_class[j] = 0;
  }
  for (int32_t k = 1; k <= m; ++k) {
    if (slack_state[k] == kStateRemovedInIterations) crossover_class[n + k] = 1;
  }

  // The positions on the presolve's removal list are recovered by walking it
  // backwards; that walk belongs to the barrier presolve and is not built,
  // so they are left as they are and counted for the caller.
  const int32_t unrecovered = count;

  for (int32_t j = 1; j <= n; ++j) {
    if (removal_index[j] != 0) continue;
    z[j] = reduced_cost(matrix_start, factor_index, factor_value, cost, y, j);
    crossover_class[j] = 0;
  }
  for (int32_t k = 1; k <= m; ++k) {
    if (removal_index[n + k] != 0) continue;
    x[n + k] = row_activity[k] - rhs[k];
    crossover_class[n + k] = 1;
  }
  return unrecovered;
}

}  // namespace kl
