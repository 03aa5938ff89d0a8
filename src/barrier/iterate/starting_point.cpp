#include "barrier/iterate/starting_point.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "barrier/factor/push_factor.h"
#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/refinement.h"
#include "barrier/iterate/residuals.h"
#include "barrier/iterate/variable_classes.h"

namespace kl {

namespace {

// Number of complementarity pairs: x z over the lower-bounded positions,
// s w over the boxed ones.
int32_t pair_count(const int32_t* r) {
  return (r[kLastLowerSlack] - r[kFirstLowerColumn] + 1) + (r[kLastBoxedSlack] - r[kFirstBoxedColumn] + 1);
}

// Raises the smaller factor of a pair whose product is below lo (lowers it
// when above hi) so that the product equals the limit. Returns true when
// the pair changed.
bool centre_pair(double& a, double& b, double lo, double hi) {
  const double product = a * b;
  double target;
  if (product < lo) {
    target = lo;
  } else if (product > hi) {
    target = hi;
  } else {
    return false;
  }
  if (a <= b) {
    a = target / b;
  } else {
    b = target / a;
  }
  return true;
}

}  // namespace

void build_starting_diagonal(const barrier_params& params, const double* x, const double* s, const int32_t* r,
                             double* diag, double* diag_copy, int32_t regularise_equality) {
  const int32_t total = params.var_count;
  const double free_value = (params.REGULARIZE & 0x1) != 0 ? -std::fabs(params.SCFREE) : 0.0;
  const double equality_value = regularise_equality != 0 ? std::fabs(params.SCFREE) : 0.0;
  for (int32_t j = 1; j <= total; ++j) diag[j] = 0.0;  // removed positions
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) diag[j] = free_value;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerColumn]; ++j) diag[j] = -1.0 / (x[j] * x[j]);
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) {
    diag[j] = -1.0 / (x[j] * x[j]) - 1.0 / (s[j] * s[j]);
  }
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) {
    diag[j] = 1.0 / (1.0 / (s[j] * s[j]) + 1.0 / (x[j] * x[j]));
  }
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) diag[j] = x[j] * x[j];
  for (int32_t j = r[kFirstEqualitySlack]; j <= r[kLastEqualitySlack]; ++j) diag[j] = equality_value;
  for (int32_t j = 1; j <= total; ++j) diag_copy[j] = diag[j];
}

void solve_starting_system(const barrier_params& params, const double* x, const double* s,
                           const double* primal_residual, const double* upper_residual, double* v,
                           const double* upper, const double* dual_residual, const FactorArrays& factor,
                           const double* diag, const double* diag_copy, const int32_t* matrix_end, double mu0,
                           double* z, double* w, double* y, double* saved_rhs, double* scratch,
                           double* upper_scratch, const int32_t* r) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t total = params.var_count;
  const double* ru = upper_residual;
  const double* rd = dual_residual;

  for (int32_t j = 1; j <= total; ++j) v[j] = 0.0;  // equality slacks, removed positions
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastFreeColumn]; ++j) v[j] = rd[j];
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerColumn]; ++j) v[j] = rd[j] - mu0 / x[j];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) {
    v[j] = mu0 / s[j] + (rd[j] - mu0 / x[j]) - ru[j] / (s[j] * s[j]);
  }
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) {
    v[j] = mu0 / s[j] - (ru[j] / (s[j] * s[j]) + mu0 / x[j]);
  }
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) v[j] = -mu0 / x[j];
  // The dual part of each row is kept in z until the solution is known.
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastEqualitySlack]; ++j) {
    z[j] = v[j];
    v[j] = primal_residual[j - n] - diag_copy[j] * z[j];
  }

  // One target for both parts: both become TRES2 times the larger scale.
  double target = 0.0, primal_accuracy = 0.0, dual_accuracy = 0.0;
  int32_t mode = REFINE_NEAR_TARGETS, steps = 0;
  solve_with_refinement(params, diag, diag_copy, factor.pivot_order, factor.factor_index, factor.factor_value,
                        factor.matrix_start, factor.factor_first, factor.factor_last, matrix_end, v, saved_rhs,
                        scratch, upper_scratch, upper, x, s, r, factor.supernode_end, factor.supernode_mark,
                        factor.quad_start, primal_accuracy, dual_accuracy, target, target, mode, steps);
  solve_backward_supernodal(params, 1, params.in_place_count, factor.factor_first, factor.factor_index,
                            factor.pivot_order, factor.factor_last, factor.supernode_end, factor.factor_value, diag,
                            v, scratch);

  for (int32_t i = 1; i <= m; ++i) y[i] = v[n + i];
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastLowerSlack]; ++j) v[j] = -(z[j] + v[j]) * diag_copy[j];
  for (int32_t j = r[kFirstEqualitySlack]; j <= r[kLastEqualitySlack]; ++j) v[j] = 0.0;
  for (int32_t j = 1; j <= r[kLastRemovedColumn]; ++j) v[j] = 0.0;
  for (int32_t j = r[kFirstRemovedSlack]; j <= r[kLastRemovedSlack]; ++j) v[j] = 0.0;

  for (int32_t j = 1; j <= total; ++j) {
    z[j] = 0.0;
    w[j] = 0.0;
  }
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) z[j] = mu0 / x[j] - v[j] / (x[j] * x[j]);
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
    w[j] = mu0 / s[j] - (ru[j] - v[j]) / (s[j] * s[j]);
  }
}

void centre_starting_products(const barrier_params& params, double& ratio, double lower_factor,
                              double upper_factor, double* x, double* s, double* z, double* w, const int32_t* r) {
  const int32_t pairs = std::max(pair_count(r), 1);
  for (;;) {
    double largest = -1.0, smallest = 1.0 / params.TZER, sum = 0.0;
    auto measure = [&](double product) {
      largest = std::max(largest, product);
      smallest = std::min(smallest, product);
      sum += product;
    };
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) measure(x[j] * z[j]);
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) measure(s[j] * w[j]);
    if (largest < params.TZER) largest = smallest = 1.0;
    if (smallest / largest >= ratio) return;
    const double average = sum / pairs;
    const double lo = lower_factor * average;
    const double hi = upper_factor * average;
    int32_t changed = 0;
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) changed += centre_pair(x[j], z[j], lo, hi);
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) changed += centre_pair(s[j], w[j], lo, hi);
    ratio *= 0.1;
    if (changed == 0) return;
  }
}

void compute_starting_point(barrier_params& params, const double* cost, const double* rhs, const double* upper,
                            double* diag, double* diag_copy, double* x, double* s, double* z, double* w, double* y,
                            double* primal_residual, double* upper_residual, double* dual_residual,
                            const int32_t* matrix_end, FactorArrays factor, int32_t* var_state, double* dx,
                            double* q_dx, double* dz, double* dw, int32_t system_kind, const int32_t* r,
                            const int32_t* quad_start, const double* quad_diag, int32_t regularise_equality,
                            int32_t& removed_row_count) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t total = params.var_count;
  const int32_t quad_flag = params.quad_col_count;
  const int32_t saved_flags = params.iteration_flags;
  params.quad_col_count = 0;
  const double ratio_start = 0.1 * params.COMPLMIN;
  const double lower_factor = params.COMPLMIN;
  const double upper_factor = 1.0 / (params.TZER + params.COMPLMIN);
  double* rp = primal_residual;
  double* ru = upper_residual;

  const int32_t active_rows = r[kLastEqualitySlack] - r[kFirstBoxedSlack] + 1;
  const int32_t boxed = r[kLastBoxedSlack] - r[kFirstBoxedColumn] + 1;
  const int32_t divisor = std::max(active_rows + boxed, 1);
  double floor_value = 0.0, average = 0.0;
  for (int32_t pass = 1; pass <= 2; ++pass) {
    for (int32_t i = 1; i <= m; ++i) x[n + i] = 0.0;
    double norm = 0.0;
    compute_primal_residual(params, x, rp, factor.matrix_start, matrix_end, factor.factor_index,
                            factor.factor_value, rhs, r, norm);
    double sum = 0.0;
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastLowerSlack]; ++j) {
      x[j] = std::max(-rp[j - n], floor_value);
      rp[j - n] += x[j];
    }
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastEqualitySlack]; ++j) sum += std::fabs(rp[j - n]);
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
      s[j] = std::max(upper[j] - x[j], floor_value);
      ru[j] = upper[j] - x[j] - s[j];
      sum += std::fabs(ru[j]);
    }
    average = sum / divisor;
    if (pass == 1) {
      floor_value = std::max(average, 1e-6);
      for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) x[j] = std::max(x[j], floor_value);
    }
  }
  const double mu0 = std::max(0.5 * average, 1e-8);

  build_starting_diagonal(params, x, s, r, diag, diag_copy, regularise_equality);
  // A row counts as dependent in the factorisation only when its dual is
  // below TZER in magnitude.
  for (int32_t i = 1; i <= m; ++i) y[i] = 1.0;
  int32_t dropped = 0;
  const bool push = params.PUSHFACT >= 1;
  if (system_kind == SYSTEM_AUGMENTED) {
    if (push) {
      factor_normal_matrix_with_columns_push(
          params, factor.factor_index, factor.factor_value, factor.factor_first, factor.factor_last,
          factor.pivot_order, factor.pivot_rank, factor.pivot_inverse, diag, diag_copy, y, var_state,
          factor.update_lists, factor.factor_cursor, factor.supernode_end, factor.supernode_mark,
          factor.matrix_start, factor.quad_start, factor.scratch, factor.push_work, dropped, removed_row_count);
    } else {
      factor_normal_matrix_with_columns(params, factor.factor_index, factor.factor_value, factor.factor_first,
                                        factor.factor_last, factor.pivot_order, factor.pivot_rank,
                                        factor.pivot_inverse, diag, diag_copy, y, var_state, factor.update_lists,
                                        factor.factor_cursor, factor.supernode_end, factor.supernode_mark,
                                        factor.matrix_start, factor.quad_start, factor.scratch, dropped,
                                        removed_row_count);
    }
  } else if (push) {
    factor_normal_matrix_push(params, factor.factor_index, factor.factor_value, factor.factor_first,
                              factor.factor_last, factor.pivot_order, factor.pivot_rank, factor.pivot_inverse, diag,
                              diag_copy, y, var_state, factor.update_lists, factor.factor_cursor,
                              factor.supernode_end, factor.supernode_mark, factor.push_work, dropped,
                              removed_row_count);
  } else {
    factor_normal_matrix(params, factor.factor_index, factor.factor_value, factor.factor_first, factor.factor_last,
                         factor.pivot_order, factor.pivot_rank, factor.pivot_inverse, diag, diag_copy, y, var_state,
                         factor.update_lists, factor.factor_cursor, factor.supernode_end, factor.supernode_mark,
                         dropped, removed_row_count);
  }

  double* rd = dual_residual;
  params.quad_col_count = quad_flag;
  multiply_quadratic_objective(params, quad_start, quad_diag, factor.factor_value, factor.factor_index, x, rd);
  params.quad_col_count = 0;
  for (int32_t j = 1; j <= n; ++j) rd[j] += cost[j];
  for (int32_t j = n + 1; j <= total; ++j) rd[j] = 0.0;
  for (int32_t i = 1; i <= m; ++i) rp[i] = 0.0;
  for (int32_t j = 1; j <= total; ++j) ru[j] = 0.0;

  solve_starting_system(params, x, s, rp, ru, dx, upper, rd, factor, diag, diag_copy, matrix_end, mu0, z, w, y, q_dx,
                        dz, dw, r);

  // Reflect negative duals and floor them at their average reflection.
  double reflected = 0.0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
    if (z[j] < 0.0) {
      z[j] = -z[j];
      reflected += z[j];
    }
  }
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
    if (w[j] < 0.0) {
      w[j] = -w[j];
      reflected += w[j];
    }
  }
  const int32_t pairs = pair_count(r);
  const double dual_floor = std::max(reflected / (pairs > 0 ? pairs : 1), 1e-6);
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) z[j] = std::max(z[j], dual_floor);
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) w[j] = std::max(w[j], dual_floor);

  double ratio = ratio_start;
  centre_starting_products(params, ratio, lower_factor, upper_factor, x, s, z, w, r);
  params.quad_col_count = quad_flag;
  params.iteration_flags = saved_flags;
}

void compute_alternative_starting_point(barrier_params& params, double* x, double* s, double* y, double* z,
                                        double* w, const double* rhs, const double* cost, const double* upper,
                                        const int32_t* matrix_start, const int32_t* matrix_end,
                                        const int32_t* factor_index, const double* factor_value,
                                        const int32_t* factor_first, const int32_t* factor_last,
                                        const int32_t* pivot_order, const int32_t* supernode_end,
                                        const int32_t* supernode_mark, const double* inverse_pivots, double* work,
                                        const int32_t* r, double omega, const double* quad_diag,
                                        const int32_t* quad_start) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t total = params.var_count;
  const int32_t method = params.SMETHOD;
  double* v = work;
  auto solve_all_ranks = [&]() {
    solve_forward_supernodal(params, 1, params.pivot_count, factor_first, factor_index, pivot_order, factor_last,
                             factor_value, inverse_pivots, v, supernode_end, supernode_mark, nullptr);
    solve_backward_supernodal(params, 1, params.pivot_count, factor_first, factor_index, pivot_order, factor_last,
                              supernode_end, factor_value, inverse_pivots, v, nullptr);
  };

  // Minimum-norm primal point.
  for (int32_t j = 1; j <= total; ++j) v[j] = 0.0;
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) {
    v[j] = 0.5 * std::min(upper[j], params.UPMAX) + rhs[j - n];
  }
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastEqualitySlack]; ++j) v[j] = rhs[j - n];
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) v[j] = -omega * std::min(upper[j], params.UPMAX);
  solve_all_ranks();

  for (int32_t j = 1; j <= total; ++j) {
    x[j] = 0.0;
    s[j] = 0.0;
    z[j] = 0.0;
    w[j] = 0.0;
  }
  for (int32_t i = 1; i <= m; ++i) y[i] = 0.0;
  for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) x[j] = v[j];
  for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) x[j] = -v[j] / omega;
  // The boxed slack's value takes its own bound, not the capped one.
  for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) x[j] = (upper[j] - v[j] / omega) / 2.0;
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) s[j] = upper[j] - x[j];

  // Duals.
  multiply_quadratic_objective(params, quad_start, quad_diag, factor_value, factor_index, x, v);
  for (int32_t j = 1; j <= n; ++j) v[j] += cost[j];
  for (int32_t j = 1; j <= r[kLastRemovedColumn]; ++j) v[j] = 0.0;
  for (int32_t j = n + 1; j <= total; ++j) v[j] = 0.0;
  if (method == 1) {
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerColumn]; ++j) z[j] = v[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) {
      z[j] = v[j] / 2.0;
      w[j] = -v[j] / 2.0;
    }
  } else {
    solve_all_ranks();
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastEqualitySlack]; ++j) y[j - n] = v[j];
    for (int32_t j = r[kFirstLowerSlack]; j <= r[kLastLowerSlack]; ++j) z[j] = -y[j - n];
    for (int32_t j = r[kFirstBoxedSlack]; j <= r[kLastBoxedSlack]; ++j) {
      z[j] = -y[j - n] / 2.0;
      w[j] = y[j - n] / 2.0;
    }
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastBoxedColumn]; ++j) z[j] = -omega * v[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedColumn]; ++j) w[j] = omega * v[j];
  }

  // A zero primal (or dual) part takes the other one.
  double x_square = 0.0, z_square = 0.0;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
    x_square += x[j] * x[j];
    z_square += z[j] * z[j];
  }
  if (x_square <= params.TZER) {
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) x[j] = z[j];
  }
  if (z_square <= params.TZER) {
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) z[j] = x[j];
  }

  // Safeguard.
  const int32_t safemet = params.SAFEMET;
  const int32_t kind = std::abs(safemet);
  double primal_bound = params.PRMIN, dual_bound = params.DUMIN;
  double min_primal = 1.0 / params.TZER, min_dual = 1.0 / params.TZER;
  for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
    min_primal = std::min(min_primal, x[j]);
    min_dual = std::min(min_dual, z[j]);
  }
  for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
    min_primal = std::min(min_primal, s[j]);
    min_dual = std::min(min_dual, w[j]);
  }
  if (kind == 2) {
    double largest_column = -1.0 / params.TZER, largest_row = 0.0;
    for (int32_t i = 1; i <= m; ++i) v[n + i] = 0.0;
    for (int32_t j = r[kFirstFreeColumn]; j <= r[kLastBoxedColumn]; ++j) {
      double product = 0.0;
      for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) {
        product += factor_value[e] * rhs[factor_index[e] - n];
        v[factor_index[e]] += factor_value[e] * cost[j];
      }
      largest_column = std::max(largest_column, product);
    }
    for (int32_t i = 1; i <= m; ++i) largest_row = std::max(largest_row, std::fabs(v[n + i]));
    primal_bound = std::max(params.PRMIN, largest_column);
    dual_bound = std::max(params.DUMIN, largest_row);
  } else if (kind == 3) {
    const double delta_p = std::max(-1.5 * min_primal, 0.001);
    const double delta_d = std::max(-1.5 * min_dual, 0.001);
    double product = 0.0, sigma_p = 0.0, sigma_d = 0.0;
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
      product += (x[j] + delta_p) * (z[j] + delta_d);
      sigma_p += x[j] + delta_p;
      sigma_d += z[j] + delta_d;
    }
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
      product += (s[j] + delta_p) * (w[j] + delta_d);
      sigma_p += s[j] + delta_p;
      sigma_d += w[j] + delta_d;
    }
    sigma_p = std::max(sigma_p, params.TZER);
    sigma_d = std::max(sigma_d, params.TZER);
    primal_bound = delta_p + product / (2.0 * sigma_d);
    dual_bound = delta_d + product / (2.0 * sigma_p);
  }

  if (safemet >= 0) {
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
      x[j] = std::max(x[j], primal_bound);
      z[j] = std::max(z[j], dual_bound);
    }
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
      s[j] = std::max(s[j], primal_bound);
      w[j] = std::max(w[j], dual_bound);
    }
  } else {
    // A fixed shift must clear the most negative value, or the start would
    // not be interior; the shift of kind 3 already does.
    if (kind != 3) {
      if (min_primal < 0.0) primal_bound -= min_primal;
      if (min_dual < 0.0) dual_bound -= min_dual;
    }
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) {
      x[j] += primal_bound;
      z[j] += dual_bound;
    }
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) {
      s[j] += primal_bound;
      w[j] += dual_bound;
    }
  }

  // Lift the products that start far below the average.
  const int32_t pairs = pair_count(r);
  if (pairs > 0) {
    double sum = 0.0;
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) sum += x[j] * z[j];
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) sum += s[j] * w[j];
    const double lo = params.COMPLMIN * sum / pairs;
    const double no_limit = std::numeric_limits<double>::infinity();
    for (int32_t j = r[kFirstLowerColumn]; j <= r[kLastLowerSlack]; ++j) centre_pair(x[j], z[j], lo, no_limit);
    for (int32_t j = r[kFirstBoxedColumn]; j <= r[kLastBoxedSlack]; ++j) centre_pair(s[j], w[j], lo, no_limit);
  }
}

}  // namespace kl
