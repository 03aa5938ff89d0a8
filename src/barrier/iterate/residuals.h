// Measures of the current barrier iterate: the product with the quadratic
// objective, the primal, dual and upper-bound residuals with their
// max-norms, and the linear parts of the primal and dual objectives.
//
// Arrays are 1-based and in class order (variable_classes.h); `ranges` is
// `barrier_class_ranges`. The matrix column j lies in factor_index /
// factor_value entries matrix_start[j]..matrix_end[j] (row positions n + i);
// the quadratic off-diagonal entries of column j in quad_start[j] ..
// quad_start[j+1] - 1, each pair stored once (either orientation).
//
// The driver calls, at each iteration: multiply_quadratic_objective (Q x),
// compute_primal_residual, compute_dual_residual, compute_upper_residual,
// compute_barrier_objectives. The norms start from 0 on every call; the
// incoming value of the primal and dual norm only serves the test that sets
// `iteration_flags` bit 0x200 (primal) or 0x400 (dual): the norm fell to at
// most 0.9 of the previous one.
#ifndef KLSOL_BARRIER_ITERATE_RESIDUALS_H
#define KLSOL_BARRIER_ITERATE_RESIDUALS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

inline constexpr int32_t kPrimalResidualFell = 0x200;
inline constexpr int32_t kDualResidualFell = 0x400;

// out[1..n] := Q v, Q being quad_diag on the diagonal and the stored pattern
// off it (each stored pair acts on both of its columns). All zeros for a
// linear problem (`quad_col_count` 0).
void multiply_quadratic_objective(const barrier_params& params, const int32_t* quad_start,
                                  const double* quad_diag, const double* factor_value,
                                  const int32_t* factor_index, const double* v, double* out);

// rp_i = b_i - a_i x + x_{n+i} (the slack term for rows that carry a slack).
// The norm is taken over the active rows; entries below min(TOPT1, 1e-4)
// times the norm become 0.
void compute_primal_residual(barrier_params& params, const double* x, double* primal_residual,
                             const int32_t* matrix_start, const int32_t* matrix_end,
                             const int32_t* factor_index, const double* factor_value,
                             const double* rhs, const int32_t* ranges, double& primal_norm);

// ru_j = u_j - x_j - s_j over the boxed positions; entries within
// min(TOPT1, 1e-4) times the norm of zero become that positive value.
void compute_upper_residual(const barrier_params& params, const double* x, const double* s,
                            double* upper_residual, const double* upper, const int32_t* ranges,
                            double& upper_norm);

// rd_j = c_j + (Qx)_j - a_j y - z_j + w_j for the active columns (z and w as
// the class has them), y_i - z_j (+ w_j when boxed) for the slacks with a
// slack variable, 0 for equality slacks and removed positions. The norm is
// taken over every position with a lower bound and the free columns; small
// entries there are raised to min(TOPT1, 1e-4) times the norm.
void compute_dual_residual(barrier_params& params, const double* y, const double* z,
                           const double* w, double* dual_residual, const int32_t* matrix_start,
                           const int32_t* matrix_end, const int32_t* factor_index,
                           const double* factor_value, const double* cost, const double* q_x,
                           const int32_t* ranges, double& dual_norm);

// primal = c x over the active columns; dual = b y over the active rows less
// u w over the boxed positions. The quadratic term and the objective scale
// are the driver's.
void compute_barrier_objectives(const barrier_params& params, double& primal, double& dual,
                                const double* cost, const double* rhs, const double* upper,
                                const double* x, const double* y, const double* w,
                                const int32_t* ranges);

}  // namespace kl

#endif
