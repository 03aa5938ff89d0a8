#include "barrier/iterate/refinement.h"

#include <algorithm>
#include <cmath>

#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/reduced_system_product.h"

namespace kl {

namespace {

// A Krylov step whose correction is this small relative to the iterate has
// stalled.
constexpr double kKrylovStallRatio = 1e-12;
constexpr double kLanczosStallRatio = 1e-25;

// The arrays every refinement routine passes through to the solves and to
// the product with the reduced system.
struct FactorView {
  const barrier_params& params;
  const double* pivot_inverse;
  const double* diag_copy;
  const int32_t* pivot_order;
  const int32_t* factor_index;
  const double* factor_value;
  const int32_t* matrix_start;
  const int32_t* factor_first;
  const int32_t* factor_last;
  const int32_t* matrix_end;
  const int32_t* class_ranges;
  const int32_t* supernode_end;
  const int32_t* supernode_mark;
  const int32_t* quad_start;

  int32_t first_cholesky_rank() const { return params.in_place_count + 1; }
  int32_t last_rank() const { return params.pivot_count; }

  void forward(int32_t first, int32_t last, double* v, double* work) const {
    solve_forward_supernodal(params, first, last, factor_first, factor_index, pivot_order, factor_last, factor_value,
                             pivot_inverse, v, supernode_end, supernode_mark, work);
  }
  void backward(int32_t first, int32_t last, double* v, double* work) const {
    solve_backward_supernodal(params, first, last, factor_first, factor_index, pivot_order, factor_last,
                              supernode_end, factor_value, pivot_inverse, v, work);
  }
  // v := K~^-1 v over the Cholesky part.
  void solve_cholesky_part(double* v, double* work) const {
    forward(first_cholesky_rank(), last_rank(), v, work);
    backward(first_cholesky_rank(), last_rank(), v, work);
  }
  // r := b~ - K~ v over the Cholesky-part positions.
  void residual(const double* reduced_rhs, const double* v, double* r) const {
    multiply_reduced_system(params, matrix_start, matrix_end, factor_value, factor_index, pivot_order, quad_start,
                            class_ranges, v, r, diag_copy);
    for (int32_t k = first_cholesky_rank(); k <= last_rank(); ++k) {
      const int32_t p = pivot_order[k];
      r[p] = reduced_rhs[p] - r[p];
    }
  }
  // Squared 2-norms of r over the row and the column positions of the
  // Cholesky part.
  void squared_norms(const double* r, double& rows, double& columns) const {
    rows = 0.0;
    columns = 0.0;
    for (int32_t k = first_cholesky_rank(); k <= last_rank(); ++k) {
      const int32_t p = pivot_order[k];
      if (p > params.col_count) {
        rows += r[p] * r[p];
      } else {
        columns += r[p] * r[p];
      }
    }
  }
  double dot(const double* a, const double* b) const {
    double sum = 0.0;
    for (int32_t k = first_cholesky_rank(); k <= last_rank(); ++k) sum += a[pivot_order[k]] * b[pivot_order[k]];
    return sum;
  }
  double norm(const double* a) const { return std::sqrt(dot(a, a)); }
  void copy(const double* from, double* to) const {
    for (int32_t k = first_cholesky_rank(); k <= last_rank(); ++k) to[pivot_order[k]] = from[pivot_order[k]];
  }
};

// The refinements borrow `upper_residual` as scratch; it holds u - x - s over
// the boxed positions again when they return.
void restore_upper_residual(const int32_t* class_ranges, double* upper_residual, const double* upper,
                            const double* x, const double* s) {
  for (int32_t j = class_ranges[3]; j <= class_ranges[12]; ++j) upper_residual[j] = upper[j] - x[j] - s[j];
}

// The mode a Krylov refinement returns for the accuracies it reached.
int32_t krylov_mode(const barrier_params& params, double primal_accuracy, double dual_accuracy,
                    double primal_target, double dual_target) {
  int32_t mode = REFINE_FELL_SHORT;
  if (primal_accuracy < primal_target / params.TRES1 && dual_accuracy < dual_target / params.TRES1) {
    mode = REFINE_NEAR_TARGETS;
  }
  if (primal_accuracy < primal_target && dual_accuracy < dual_target) mode = REFINE_TARGETS_MET;
  return mode;
}

}  // namespace

void solve_with_refinement(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                           const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                           const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                           const int32_t* matrix_end, double* v, double* reduced_rhs, double* residual,
                           double* upper_residual, const double* upper, const double* x, const double* s,
                           const int32_t* barrier_class_ranges, const int32_t* supernode_end,
                           const int32_t* supernode_mark, const int32_t* quad_start, double& primal_accuracy,
                           double& dual_accuracy, double& primal_target, double& dual_target, int32_t& mode,
                           int32_t& step_count) {
  const FactorView f{params,       pivot_inverse, diag_copy,   pivot_order,          factor_index,
                     factor_value, matrix_start,  factor_first, factor_last,         matrix_end,
                     barrier_class_ranges, supernode_end, supernode_mark, quad_start};
  const int32_t n = params.col_count;
  const int32_t* cr = barrier_class_ranges;
  primal_accuracy = 0.0;
  dual_accuracy = 0.0;
  int32_t steps = 0;
  // The residual vector is free during every solve: it serves as the
  // solves' gather vector.
  if (params.MAXREF < 1 || mode < 0) {
    f.forward(1, f.last_rank(), v, residual);
    f.backward(f.first_cholesky_rank(), f.last_rank(), v, residual);
    mode = REFINE_NOT_DONE;
    return;
  }
  // The primal scale is taken from the rows' own right-hand side, before
  // the in-place columns are eliminated into it: their terms would
  // otherwise set the floor of the primal target, and near an optimum they
  // outweigh the primal residual so far that the rows are never refined.
  double primal_scale = 1.0;
  for (int32_t j = cr[4]; j <= cr[14]; ++j) primal_scale = std::max(primal_scale, std::fabs(v[j]));
  f.forward(1, params.in_place_count, v, residual);

  // The dual scale and the reduced right-hand side, over the active
  // positions.
  double dual_scale = 1.0;
  for (int32_t j = cr[1]; j <= cr[11]; ++j) {
    dual_scale = std::max(dual_scale, std::fabs(v[j]));
    reduced_rhs[j] = v[j];
  }
  for (int32_t j = cr[4]; j <= cr[14]; ++j) reduced_rhs[j] = v[j];
  // A negative target is fixed: it is used as its magnitude.
  primal_target = primal_target >= 0.0 ? std::max(primal_target, params.TRES2 * primal_scale) : -primal_target;
  dual_target = dual_target >= 0.0 ? std::max(dual_target, params.TRES2 * dual_scale) : -dual_target;

  if (mode == REFINE_TARGETS_MET) {
    f.solve_cholesky_part(v, residual);
    mode = REFINE_NOT_DONE;
  } else {
    // The accumulated solution, by rank, lives in upper_residual.
    const int32_t first = f.first_cholesky_rank();
    const int32_t last = f.last_rank();
    double* accumulated = upper_residual;
    for (int32_t k = first; k <= last; ++k) accumulated[k] = 0.0;
    double previous_norm = 1.0 / params.TZER;
    bool grew = false;
    for (;;) {
      f.solve_cholesky_part(v, residual);
      for (int32_t k = first; k <= last; ++k) v[pivot_order[k]] += accumulated[k];
      f.residual(reduced_rhs, v, residual);
      double primal_error = 0.0;
      double dual_error = 0.0;
      double squared = 0.0;
      for (int32_t k = first; k <= last; ++k) {
        const int32_t p = pivot_order[k];
        const double r = std::fabs(residual[p]);
        squared += r * r;
        if (p > n) {
          primal_error = std::max(primal_error, r);
        } else {
          dual_error = std::max(dual_error, r);
        }
      }
      const double norm = std::sqrt(squared);
      if (norm >= previous_norm) {
        // The residual grew: the previous solution is the better one.
        for (int32_t k = first; k <= last; ++k) v[pivot_order[k]] = accumulated[k];
        grew = true;
        break;
      }
      primal_accuracy = primal_error;
      dual_accuracy = dual_error;
      if ((primal_accuracy <= primal_target && dual_accuracy <= dual_target) || steps >= params.MAXREF) break;
      for (int32_t k = first; k <= last; ++k) {
        const int32_t p = pivot_order[k];
        accumulated[k] = v[p];
        v[p] = residual[p];
      }
      ++steps;
      previous_norm = norm;
    }
    mode = grew ? REFINE_FELL_SHORT : REFINE_STOPPED;
    if (primal_accuracy < primal_target / params.TRES1 && dual_accuracy < dual_target / params.TRES1) {
      mode = REFINE_NEAR_TARGETS;
    }
    if (primal_accuracy < primal_target && dual_accuracy < dual_target) mode = REFINE_TARGETS_MET;
  }
  restore_upper_residual(cr, upper_residual, upper, x, s);
  step_count += steps;
}

void refine_by_krylov(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                      const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                      const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                      const int32_t* matrix_end, double* v, const double* reduced_rhs, double* work1, double* work2,
                      double* work3, double* upper_residual, const double* upper, const double* x, const double* s,
                      const int32_t* barrier_class_ranges, const int32_t* supernode_end,
                      const int32_t* supernode_mark, const int32_t* quad_start, double& primal_accuracy,
                      double& dual_accuracy, double primal_target, double dual_target, int32_t& mode,
                      int32_t& step_count) {
  const FactorView f{params,       pivot_inverse, diag_copy,   pivot_order,          factor_index,
                     factor_value, matrix_start,  factor_first, factor_last,         matrix_end,
                     barrier_class_ranges, supernode_end, supernode_mark, quad_start};
  const int32_t first = f.first_cholesky_rank();
  const int32_t last = f.last_rank();
  double* r = work1;
  double* z = work2;  // the preconditioned residual, then K~ p
  double* p = work3;
  double* best = upper_residual;  // the best iterate, by rank
  mode = REFINE_TARGETS_MET;
  int32_t steps = 0;
  for (int32_t k = first; k <= last; ++k) best[k] = v[pivot_order[k]];
  f.residual(reduced_rhs, v, r);
  double rows = 0.0, columns = 0.0;
  f.squared_norms(r, rows, columns);
  primal_accuracy = std::sqrt(rows);
  dual_accuracy = std::sqrt(columns);
  double best_norm = std::sqrt(rows + columns);
  if ((primal_accuracy >= primal_target || dual_accuracy >= dual_target) && params.MAXREF > 0) {
    double previous_rho = 0.0;
    for (;;) {
      ++steps;
      f.copy(r, z);
      f.solve_cholesky_part(z, nullptr);
      const double rho = f.dot(z, r);
      for (int32_t k = first; k <= last; ++k) {
        const int32_t q = pivot_order[k];
        p[q] = steps == 1 ? z[q] : z[q] + (rho / previous_rho) * p[q];
      }
      double* product = z;
      multiply_reduced_system(params, matrix_start, matrix_end, factor_value, factor_index, pivot_order,
                              quad_start, barrier_class_ranges, p, product, diag_copy);
      const double curvature = f.dot(p, product);
      // A vanishing curvature ends the iteration: the step would be
      // meaningless.
      if (std::fabs(curvature) <= std::fabs(rho) * params.TZER) break;
      const double alpha = rho / curvature;
      for (int32_t k = first; k <= last; ++k) {
        const int32_t q = pivot_order[k];
        v[q] += alpha * p[q];
        r[q] -= alpha * product[q];
      }
      const double size = std::max(f.norm(v), params.TZER);
      f.squared_norms(r, rows, columns);
      const double primal_error = std::sqrt(rows);
      const double dual_error = std::sqrt(columns);
      if (std::sqrt(rows + columns) < best_norm) {
        for (int32_t k = first; k <= last; ++k) best[k] = v[pivot_order[k]];
        primal_accuracy = primal_error;
        dual_accuracy = dual_error;
        best_norm = std::sqrt(rows + columns);
      }
      if (f.norm(p) * std::fabs(alpha) <= kKrylovStallRatio * size ||
          (primal_error <= primal_target && dual_error <= dual_target) || steps >= params.MAXREF) {
        break;
      }
      previous_rho = rho;
    }
  }
  mode = krylov_mode(params, primal_accuracy, dual_accuracy, primal_target, dual_target);
  for (int32_t k = first; k <= last; ++k) v[pivot_order[k]] = best[k];
  restore_upper_residual(barrier_class_ranges, upper_residual, upper, x, s);
  step_count += steps;
}

void refine_by_krylov_alt(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                          const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                          const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                          const int32_t* matrix_end, double* v, const double* reduced_rhs, double* work1,
                          double* work2, double* work3, double* upper_residual, const double* upper,
                          const double* x, const double* s, const int32_t* barrier_class_ranges,
                          const int32_t* supernode_end, const int32_t* supernode_mark, const int32_t* quad_start,
                          double& primal_accuracy, double& dual_accuracy, double primal_target, double dual_target,
                          int32_t& mode, int32_t& step_count) {
  const FactorView f{params,       pivot_inverse, diag_copy,   pivot_order,          factor_index,
                     factor_value, matrix_start,  factor_first, factor_last,         matrix_end,
                     barrier_class_ranges, supernode_end, supernode_mark, quad_start};
  const int32_t first = f.first_cholesky_rank();
  const int32_t last = f.last_rank();
  const double zero_tolerance = params.TZER;
  double* q = work1;  // the normalised Lanczos vector
  double* p = work2;
  double* t = work3;  // the preconditioned q, then K~ p, then the residual
  double* d = upper_residual;  // the correction, by rank
  mode = REFINE_TARGETS_MET;
  int32_t steps = 0;
  f.residual(reduced_rhs, v, t);
  double rows = 0.0, columns = 0.0;
  f.squared_norms(t, rows, columns);
  primal_accuracy = std::sqrt(rows);
  dual_accuracy = std::sqrt(columns);
  double beta = std::sqrt(rows + columns);
  // A zero residual is already the solution (targets of 0 would otherwise
  // start the recurrence with 0/0).
  if ((primal_accuracy >= primal_target || dual_accuracy >= dual_target) && beta > 0.0) {
    for (int32_t k = first; k <= last; ++k) {
      const int32_t i = pivot_order[k];
      q[i] = t[i] / beta;
      p[i] = 0.0;
      d[k] = 0.0;
    }
    double c_previous = 1.0;
    double sigma_previous = 1.0;
    double theta_previous = 0.0;
    double eta = -1.0;
    while (params.MAXREF > 0) {
      ++steps;
      if (std::fabs(sigma_previous) < zero_tolerance) break;
      f.copy(q, t);
      f.solve_cholesky_part(t, nullptr);
      // A rank with a negligible pivot is left unpreconditioned.
      for (int32_t k = first; k <= last; ++k) {
        if (std::fabs(pivot_inverse[k]) < zero_tolerance) t[pivot_order[k]] = q[pivot_order[k]];
      }
      const double rho = f.dot(t, q);
      if (std::fabs(rho) < zero_tolerance) break;
      const double coefficient = rho * beta / sigma_previous;
      for (int32_t k = first; k <= last; ++k) {
        const int32_t i = pivot_order[k];
        p[i] = t[i] - coefficient * p[i];
      }
      multiply_reduced_system(params, matrix_start, matrix_end, factor_value, factor_index, pivot_order,
                              quad_start, barrier_class_ranges, p, t, diag_copy);
      const double sigma = f.dot(p, t);
      const double alpha = sigma / rho;
      // A zero alpha leaves no direction to follow: stop before dividing by
      // it.
      if (alpha == 0.0) break;
      for (int32_t k = first; k <= last; ++k) t[pivot_order[k]] -= alpha * q[pivot_order[k]];
      const double beta_new = f.norm(t);
      const double theta = beta_new / (std::fabs(alpha) * c_previous);
      const double c = 1.0 / std::sqrt(theta * theta + 1.0);
      eta = -c * c * eta * beta / (alpha * c_previous * c_previous);
      double correction = 0.0;
      for (int32_t k = first; k <= last; ++k) {
        const int32_t i = pivot_order[k];
        d[k] = eta * p[i] + c * c * theta_previous * theta_previous * d[k];
        v[i] += d[k];
        correction += d[k] * d[k];
      }
      // The next Lanczos vector, unless the recurrence has found an
      // invariant subspace (the iterate is then the solution).
      const bool exhausted = !(beta_new > 0.0);
      if (!exhausted) {
        for (int32_t k = first; k <= last; ++k) q[pivot_order[k]] = t[pivot_order[k]] / beta_new;
      }
      f.residual(reduced_rhs, v, t);
      f.squared_norms(t, rows, columns);
      primal_accuracy = std::sqrt(rows);
      dual_accuracy = std::sqrt(columns);
      if (exhausted || std::sqrt(correction) <= kLanczosStallRatio * f.norm(v) ||
          (primal_accuracy <= primal_target && dual_accuracy <= dual_target) || steps >= params.MAXREF) {
        break;
      }
      c_previous = c;
      beta = beta_new;
      theta_previous = theta;
      sigma_previous = sigma;
    }
  }
  mode = krylov_mode(params, primal_accuracy, dual_accuracy, primal_target, dual_target);
  restore_upper_residual(barrier_class_ranges, upper_residual, upper, x, s);
  step_count += steps;
}

}  // namespace kl
