// The barrier's step: ratio tests to the boundary, the complementarity and
// balance limits on the step lengths, the move itself, and the fixing of
// variables that have reached a bound.
//
// Arrays are 1-based by position in class order (variable_classes.h), y and
// dy by row; `ranges` is `barrier_class_ranges`. The direction of the upper
// slack s is upper_residual - dx and is never stored.
#ifndef KLSOL_BARRIER_ITERATE_STEP_LENGTHS_H
#define KLSOL_BARRIER_ITERATE_STEP_LENGTHS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// alpha_p, alpha_d := the largest steps (at most 1/PRDARE, 1/DUDARE) that
// keep x, s, z and w non-negative; components above -TZER do not limit.
void compute_max_step_lengths(const barrier_params& params, double& alpha_p, const double* x,
                              const double* dx, const double* s, const double* upper_residual,
                              double& alpha_d, const double* z, const double* dz, const double* w,
                              const double* dw, const int32_t* ranges);

// Shortens the step lengths so that no complementarity pair falls below
// COMPLMIN times the average of the new point; the smaller side of a pair
// is cut, never below MINSTEP (x z pairs) or 0.5 (s w pairs) times the
// entry length.
void limit_step_by_complementarity(const barrier_params& params, double& alpha_p,
                                   double& alpha_d, const double* x, const double* dx,
                                   const double* z, const double* dz, const double* s,
                                   const double* upper_residual, const double* w, const double* dw,
                                   const int32_t* ranges);

// Quadratic problems: q_dx := Q dx, then the longer step length moves toward
// the shorter one (never below it) when they differ by more than TPLUS.
void balance_step_lengths(const barrier_params& params, double& alpha_p, double& alpha_d,
                          const double* dual_residual, const double* dx, double* q_dx,
                          const double* quad_diag, const int32_t* quad_start,
                          const int32_t* factor_index, const double* factor_value,
                          const int32_t* ranges);

// Moves the iterate: x, z over every position but the equality slacks, s and
// w over the boxed positions, y over the active rows. last_move := the
// largest primal change times alpha_p or dual change times alpha_d. Negative
// step lengths move the iterate back.
void take_barrier_step(const barrier_params& params, double alpha_p, double* x, const double* dx,
                       double* s, const double* upper_residual, double alpha_d, double* y,
                       const double* dy, double* z, const double* dz, double* w,
                       const double* dw, const int32_t* ranges, double& last_move);

// Fixes columns at a bound (x below TFIXVAR: at 0; s below TFIXVAR: at the
// upper bound, folded into rhs, the objective constant and, for a quadratic
// objective, the costs), raises small z of the others to TFIXSLACK, drops
// upper bounds whose w fell below DSLACKLIM (the bound code changes sign)
// and removes rows whose slack dual fell below TFIXSLACK. Removed positions
// get var_state -2. fixed_columns and removed_slacks also count positions of
// the active ranges already removed (by the factorisation, say); when the
// three counts sum above 0 the caller reclassifies. `column_work` (n) and
// `product_work` (n) are scratch.
void fix_barrier_variables(const barrier_params& params, int32_t* col_bound_code,
                           int32_t* slack_bound_code, double* rhs, const int32_t* matrix_start,
                           const int32_t* factor_index, const double* factor_value, double* x,
                           double* s, const double* y, double* z, double* w, int32_t* var_state,
                           int32_t& removed_col_count, int32_t& removed_row_count,
                           double& objective_constant, const double& objective_scale,
                           double* cost, const double* upper, double* column_work,
                           double* product_work, const int32_t* quad_start,
                           const double* quad_diag, const int32_t* ranges, int32_t& fixed_columns,
                           int32_t& removed_slacks, int32_t& dropped_bounds);

}  // namespace kl

#endif
