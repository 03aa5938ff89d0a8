#include "barrier/iterate/solution_classification.h"

#include <cmath>

namespace kl {

namespace {

inline constexpr int32_t kStateFixedBeforePresolve = -3;
inline constexpr int32_t kStateRemovedInIterations = -2;
// Removal codes of the barrier presolve.
inline constexpr int32_t kStateSubstituted = -4;
inline constexpr int32_t kStateForced = -5;
inline constexpr int32_t kStateDominated = -6;
inline constexpr int32_t kStateDualFixed = -7;
inline constexpr int32_t kStateMidpoint = -8;
inline constexpr int32_t kStateEliminated = -10;
inline constexpr int32_t kStateDependent = -11;
inline constexpr int32_t kSingletonRowOffset = 13;
inline constexpr int32_t kDuplicateOffset = 19;
// Bits of a merged column's bound code: no finite lower / upper end.
inline constexpr int32_t kMergedNoLower = 4;
inline constexpr int32_t kMergedNoUpper = 8;

// The entry of row k in column j (0 when the column has none).
double entry_of(const int32_t* matrix_start, const int32_t* factor_index, const double* factor_value, int32_t j,
                int32_t k) {
  for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
    if (factor_index[e] == k) return factor_value[e];
  }
  return 0.0;
}

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
                                  const double& infinity, const RemovedQuadraticTerms* removed_quadratic) {
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

  // (Qx)_j of the removed quadratic columns, from the saved terms: every
  // removed column that has a quadratic term is fixed, at the value in its
  // lower bound, or was fixed in the iterations (its x is already final).
  double* qx = work;
  for (int32_t j = 1; j <= n; ++j) qx[j] = 0.0;
  if (removed_quadratic != nullptr && removed_quadratic->count > 0) {
    auto value_of = [&](int32_t j) { return col_state[j] < kStateRemovedInIterations ? col_lower[j] : x[j]; };
    for (int32_t t = 1; t <= removed_quadratic->count; ++t) {
      const int32_t c = removed_quadratic->col[t];
      const int32_t r = removed_quadratic->row[t];
      const double q = removed_quadratic->value[t];
      if (c == r) {
        qx[c] += q * value_of(c);
      } else {
        qx[c] += q * value_of(r);
        qx[r] += q * value_of(c);
      }
    }
  }
  auto removed_reduced_cost = [&](int32_t j) {
    return reduced_cost(matrix_start, factor_index, factor_value, cost, y, j) + qx[j];
  };

  // The removal list backwards. A column's value goes into the activity of
  // the rows still out at its removal and back into the right-hand side of
  // the others (undoing the fold of its removal).
  int32_t unrecovered = 0;
  double pending_direction = 0.0;
  int32_t pending_index = 0;
  auto spread_column = [&](int32_t j, int32_t i, double v) {
    for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
      const int32_t k = factor_index[e];
      if (removal_index[n + k] <= i) {
        row_activity[k] += v * factor_value[e];
      } else {
        rhs[k] += v * factor_value[e];
      }
    }
  };
  for (int32_t i = count; i >= 1; --i) {
    const int32_t p = presolve_list[i];
    if (p > n) {
      const int32_t k = p - n;
      const int32_t state = slack_state[k];
      crossover_class[p] = 1;
      if (state == kStateDependent) {
        if (finite(slack_lower[k])) {
          x[p] = slack_lower[k];
          rhs[k] -= slack_lower[k];
        } else {
          x[p] = 0.0;
        }
      } else {
        x[p] = row_activity[k] - rhs[k];
      }
      if (pending_index > 0 && std::fabs(pending_direction) > params.TZER) {
        // A forcing row: its dual is the extreme quotient z/a of the columns
        // it forced, never of the wrong sign.
        double v = 0.0;
        for (int32_t t = i + 1; t <= pending_index; ++t) {
          const int32_t q = presolve_list[t];
          if (q > n) continue;
          const double a = entry_of(matrix_start, factor_index, factor_value, q, k);
          if (std::fabs(a) <= params.TZER) continue;
          const double quotient = z[q] / a;
          if (pending_direction * quotient > pending_direction * v) v = quotient;
        }
        y[k] = v;
        for (int32_t t = i + 1; t <= pending_index; ++t) {
          const int32_t q = presolve_list[t];
          if (q > n) continue;
          z[q] -= v * entry_of(matrix_start, factor_index, factor_value, q, k);
        }
        pending_direction = 0.0;
        pending_index = 0;
      }
      const int32_t c = -state - kSingletonRowOffset;
      const int32_t r = -state - kDuplicateOffset - n;
      if (state <= -(kSingletonRowOffset + 1) && c >= 1 && c <= n) {
        // A singleton row that bounded column c: the cells hold the
        // coefficient where the row gave the bound.
        if (std::fabs(slack_upper[k]) > params.TZER && z[c] < 0.0) {
          if (crossover_class[c] == 0) {
            crossover_class[p] = 0;
            crossover_class[c] = 1;
          }
          y[k] = z[c] / slack_upper[k];
          z[c] = 0.0;
        } else if (std::fabs(slack_lower[k]) > params.TZER && z[c] > 0.0) {
          if (crossover_class[c] == 0) {
            crossover_class[p] = 0;
            crossover_class[c] = 1;
          }
          y[k] = z[c] / slack_lower[k];
          z[c] = 0.0;
        }
        slack_lower[k] = slack_upper[k] = x[p];
      } else if (state <= -(kDuplicateOffset + n + 1) && r >= 1 && r <= m) {
        const double ratio = slack_upper[k];
        const double code = slack_lower[k];
        const bool lower_side = std::fabs(code - 1.0) < 0.5 || std::fabs(code - 3.0) < 0.5;
        const bool upper_side = std::fabs(code - 2.0) < 0.5 || std::fabs(code - 3.0) < 0.5;
        if (code > 0.5 && ((lower_side && y[r] > 0.0) || (upper_side && y[r] < 0.0))) {
          crossover_class[p] = crossover_class[n + r];
          crossover_class[n + r] = 1;
          y[k] = y[r] / ratio;
          y[r] = 0.0;
        }
        slack_lower[k] = slack_upper[k] = x[p];
      }
      continue;
    }

    const int32_t j = p;
    const int32_t state = col_state[j];
    double v = 0.0;
    if (state == kStateFixedBeforePresolve || state == kStateDualFixed || state == kStateMidpoint ||
        state == kStateForced) {
      v = col_lower[j];
      x[j] = v;
      z[j] = removed_reduced_cost(j);
      crossover_class[j] = 0;
      if (state == kStateForced && pending_index == 0) {
        pending_direction = col_upper[j];
        pending_index = i;
      }
    } else if (state == kStateSubstituted || state == kStateEliminated) {
      // Eliminated with the row of the next list entry: the row's dual makes
      // the column's reduced cost 0, the row gives the column's value.
      const int32_t q = i < count ? presolve_list[i + 1] : 0;
      const int32_t r = q - n;
      const double a = r >= 1 ? entry_of(matrix_start, factor_index, factor_value, j, r) : 0.0;
      if (r < 1 || r > m || a == 0.0) {
        ++unrecovered;
        continue;
      }
      double d = cost[j] + qx[j];
      for (int32_t e = matrix_start[j]; e < matrix_start[j + 1]; ++e) {
        if (factor_index[e] != r) d -= y[factor_index[e]] * factor_value[e];
      }
      y[r] = d / a;
      v = (rhs[r] - row_activity[r]) / a;
      x[j] = v;
      z[j] = 0.0;
      crossover_class[j] = 1;
      crossover_class[q] = 0;
      if (finite(slack_lower[r])) {
        x[q] = slack_lower[r];
        rhs[r] -= slack_lower[r];
      } else {
        x[q] = 0.0;
      }
      rhs[r] -= a * v;
    } else if (state == kStateDominated) {
      // The rows that left with the column follow it; the column takes the
      // value that keeps them within their slack bounds.
      double lo = col_lower[j];
      double up = col_upper[j];
      int32_t kind = 0;
      int32_t last_row = 0;
      int32_t t = i + 1;
      for (; t <= count; ++t) {
        const int32_t q = presolve_list[t];
        if (q <= n || slack_state[q - n] != kStateDominated) break;
        const int32_t k = q - n;
        const double a = entry_of(matrix_start, factor_index, factor_value, j, k);
        crossover_class[q] = 1;
        if (a == 0.0) continue;
        if (finite(slack_lower[k])) {
          const double bound = (rhs[k] - row_activity[k] + slack_lower[k]) / a;
          if (a > 0.0 && bound > lo) {
            lo = bound;
            kind = 1;
            last_row = q;
          } else if (a < 0.0 && bound < up) {
            up = bound;
            kind = 2;
            last_row = q;
          }
        }
        if (finite(slack_upper[k])) {
          const double bound = (rhs[k] - row_activity[k] + slack_upper[k]) / a;
          if (a > 0.0 && bound < up) {
            up = bound;
            kind = 2;
            last_row = q;
          } else if (a < 0.0 && bound > lo) {
            lo = bound;
            kind = 1;
            last_row = q;
          }
        }
      }
      if (kind == 0) {
        v = finite(lo) ? lo : (finite(up) ? up : 0.0);
        crossover_class[j] = 0;
      } else {
        v = kind == 1 ? lo : up;
        crossover_class[last_row] = 0;
        crossover_class[j] = 1;
      }
      x[j] = v;
      z[j] = removed_reduced_cost(j);
      for (int32_t u = i + 1; u < t; ++u) {
        const int32_t k = presolve_list[u] - n;
        const double a = entry_of(matrix_start, factor_index, factor_value, j, k);
        x[n + k] += v * a;
        rhs[k] -= v * a;
      }
    } else if (state <= -(kDuplicateOffset + 1) && -state - kDuplicateOffset <= n) {
      // Merged into column c: the merged value splits back between the two.
      const int32_t c = -state - kDuplicateOffset;
      const double ratio = cost[j];
      const int32_t code = col_bound_code[j];
      const double big_inf = infinity;
      const double jl = (code & kMergedNoLower) != 0 ? -big_inf : col_lower[j];
      const double c_lower = (code & kMergedNoLower) != 0
                                 ? col_lower[j]
                                 : (!finite(jl) || !finite(col_lower[c]) ? -big_inf : col_lower[c] - jl);
      const double ju = (code & kMergedNoUpper) != 0 ? big_inf : col_upper[j];
      const double c_upper = (code & kMergedNoUpper) != 0
                                 ? col_upper[j]
                                 : (!finite(ju) || !finite(col_upper[c]) ? big_inf : col_upper[c] - ju);
      const double scale_by = std::fabs(ratio);
      double new_lower = ratio >= 0.0 ? jl : -ju;
      double new_upper = ratio >= 0.0 ? ju : -jl;
      if (finite(new_lower)) new_lower /= scale_by;
      if (finite(new_upper)) new_upper /= scale_by;
      col_lower[j] = new_lower;
      col_upper[j] = new_upper;
      double e_part;
      int32_t kind;
      if (finite(jl)) {
        e_part = jl;
        kind = 0;
      } else if (finite(ju)) {
        e_part = ju;
        kind = 0;
      } else if (finite(c_lower)) {
        e_part = x[c] - c_lower;
        kind = 1;
      } else if (!finite(c_upper)) {
        e_part = 0.0;
        kind = -1;
      } else {
        e_part = x[c] - c_upper;
        kind = 1;
      }
      if (finite(c_lower) && x[c] < c_lower) {
        e_part = x[c] - c_lower;
        kind = 1;
      }
      if (finite(c_upper) && x[c] - e_part > c_upper) {
        e_part = x[c] - c_upper;
        kind = 1;
      }
      x[j] = e_part / ratio;
      z[j] = z[c] * ratio;
      x[c] -= e_part;
      crossover_class[j] = crossover_class[c];
      if (kind == 1) {
        crossover_class[c] = 0;
      } else {
        crossover_class[j] = 0;
      }
      for (int32_t e = matrix_start[c]; e < matrix_start[c + 1]; ++e) {
        const int32_t k = factor_index[e];
        if (removal_index[n + k] <= i) {
          row_activity[k] -= e_part * factor_value[e];
        } else {
          rhs[k] -= e_part * factor_value[e];
        }
      }
      cost[j] = cost[c] * ratio;
      v = x[j];
    } else {
      ++unrecovered;
      continue;
    }
    spread_column(j, i, v);
  }

  for (int32_t j = 1; j <= n; ++j) {
    if (removal_index[j] != 0) continue;
    z[j] = removed_reduced_cost(j);
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
