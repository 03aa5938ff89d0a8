// Scaling and normalisation of the barrier problem.
//
// A factor r of column j divides every entry of the column and multiplies
// its variable (bounds times r, cost divided by r); a factor r of row i
// divides every entry of the row, its right-hand side and the bounds of its
// slack (position n + i). `scale`[k] accumulates the product of every factor
// applied to position k; its sign (a flipped variable or row) is left alone.
//
// Scaling works on the logarithms of the entries that count: entries of an
// active column (`var_state` above -2) in an active row whose magnitude is
// above max(1, the column's largest entry) x `SIGNORE`. The logarithmic
// methods move those entries to the front of each column, so the order of
// entries inside a column changes, never the column they belong to.
//
// Methods: 1 largest entry (columns, then rows); 2 geometric, then 1;
// 3 Curtis-Reid least squares, then 1; 4 geometric only; 5 Curtis-Reid
// only; anything else changes nothing.
//
// All routines take 1-based arrays and the matrix with row indices 1..m in
// `factor_index` (the row position is n + row), and take no memory: their
// scratch is the work arrays named in each signature.
#ifndef KLSOL_BARRIER_SCALING_H
#define KLSOL_BARRIER_SCALING_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

enum BarrierScalingMethod : int32_t {
  SCALING_NONE = 0,
  SCALING_LARGEST_ENTRY = 1,
  SCALING_GEOMETRIC_THEN_LARGEST = 2,
  SCALING_CURTIS_REID_THEN_LARGEST = 3,
  SCALING_GEOMETRIC = 4,
  SCALING_CURTIS_REID = 5,
};

// The smallest right-hand-side normalisation factor.
inline constexpr double kMinRhsFactor = 1e-8;

// Scales rows and columns with `method` and up to `passes` passes (a
// negative count is taken as 0), applies the factors to the matrix, `cost`,
// `rhs` and the bounds (bounds beyond 0.9 x `infinity` in magnitude are left
// as they are), and multiplies them into `scale`. Scratch: this call's
// factors in `upper_residual`, the Curtis-Reid sums in `dz`, `dw` and
// `push_work`, counts in `int_work_a` (by position), and for the geometric
// method the logarithms in `factor_value` after the matrix and quadratic
// entries (it needs `factor_space` >= 2 x `matrix_nz` + `quad_nz`, and does
// nothing without that room).
void scale_barrier_problem(barrier_params& params, const int32_t* matrix_start, int32_t* factor_index,
                           double* factor_value, double* cost, double* rhs, double* upper, double* lower,
                           const int32_t* var_state, double* scale, double* upper_residual, int32_t method,
                           int32_t passes, double* dw, double* push_work, double* dz, int32_t* int_work_a,
                           double signore, double infinity);

// Divides the costs (and for a quadratic problem the diagonal `quad_diag`
// and the below-diagonal entries in `factor_value` from `quad_start`[1] to
// `quad_start`[n+1] - 1) by one factor: the largest active cost over
// `objnorm`, or, when the problem has a quadratic diagonal, sqrt(largest
// square of the diagonal / `objnorm`); 1 when that is below `TZER`.
void normalise_barrier_objective(barrier_params& params, double* cost, const int32_t* quad_start,
                                 double* quad_diag, double* factor_value, double& obj_factor,
                                 const int32_t* var_state, double objnorm);

// Divides every right-hand side and every finite upper bound (all
// positions; absent bounds, beyond `kBarrierInfiniteBound`, stay as they
// are) by the largest active right-hand side over `rhsnorm`, at least
// `kMinRhsFactor`. Runs after the bound shifts, when `lower` holds shifts.
void normalise_barrier_rhs(barrier_params& params, double* rhs, double& rhs_factor, const int32_t* var_state,
                           double rhsnorm, double* upper);

// Carries the quadratic objective into the scaled space: the diagonal is
// divided by `scale`[j] squared, the entry of columns j and c by
// `scale`[j] x `scale`[c].
void scale_barrier_quadratic(barrier_params& params, const double* scale, const int32_t* quad_start,
                             const int32_t* factor_index, double* factor_value, double* quad_diag);

// The solution arrays to carry back with the problem; any may be null.
struct BarrierSolutionArrays {
  double* x = nullptr;  // position
  double* s = nullptr;  // position
  double* y = nullptr;  // row
  double* z = nullptr;  // position
};

// Undoes the scaling and both normalisations: the problem (right-hand
// sides, bounds finite within `big`, costs, matrix, quadratic terms) and the
// solution. `lower` holds shifts that were never normalised, so only the
// scale applies to it; `w` is not touched.
void unscale_barrier_problem(barrier_params& params, double* rhs, double* upper, double* lower, double* cost,
                             const int32_t* matrix_start, const int32_t* factor_index, double* factor_value,
                             const int32_t* quad_start, double* quad_diag, const double* scale,
                             double rhs_factor, double obj_factor, double big,
                             const BarrierSolutionArrays& solution);

}  // namespace kl

#endif
