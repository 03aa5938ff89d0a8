// The starting iterate x, s, y, z, w of the barrier iterations.
//
// Interface summary (caller: the iteration driver, once per solve, after the
// analysis and the trial factorisation; arrays 1-based in class order,
// `ranges` = barrier_class_ranges, x s z w and the position vectors over
// n + m, y and primal_residual over m):
//   compute_starting_point(...)               SMETHOD < 1
//     Weighted least squares. Primal point from the columns of x as the
//     pipeline left them (slacks and upper slacks from the residuals, with a
//     floor), then its own diagonal X^-2 (build_starting_diagonal), a new
//     numeric factorisation of it (the with-columns form for system kind 1,
//     push forms when PUSHFACT >= 1), and one refined solve
//     (solve_starting_system) for y, z, w; negative duals are reflected and
//     floored, and the products centred. Leaves the factor of the starting
//     diagonal in place (the driver refactorises in its first pass); the
//     factorisation may drop pivots or mark dependent rows (var_state -1 /
//     -2, removed_row_count raised). dx, q_dx, dz, dw are scratch.
//     `factor`: the factorisation's arrays (numeric_factor.h); its diag,
//     diag_copy, y and var_state fields are ignored (the arguments of the
//     same names are used), matrix_start / quad_start / scratch are needed
//     for system kind 1 and push_work for the push forms.
//   compute_alternative_starting_point(...)   SMETHOD >= 1
//     Minimum-norm primal point from the trial factor (`inverse_pivots` =
//     the copy of its inverse pivots the factorisation left in `diag`),
//     duals from the costs (SMETHOD 1) or by least squares (otherwise),
//     then the safeguard chosen by SAFEMET and a final lift of the small
//     products. `omega` is the least-squares weight as build_trial_diagonal
//     returned it. `work` is scratch over n + m.
//   build_starting_diagonal, solve_starting_system, centre_starting_products
//     The steps of compute_starting_point, callable alone.
// Every x and s of a complementarity pair (lower-bounded and boxed
// positions) and every z and w of one ends positive; nothing is reported.
#ifndef KLSOL_BARRIER_ITERATE_STARTING_POINT_H
#define KLSOL_BARRIER_ITERATE_STARTING_POINT_H

#include <cstdint>

#include "barrier/barrier_params.h"
#include "barrier/factor/numeric_factor.h"

namespace kl {

void compute_starting_point(barrier_params& params, const double* cost, const double* rhs, const double* upper,
                            double* diag, double* diag_copy, double* x, double* s, double* z, double* w, double* y,
                            double* primal_residual, double* upper_residual, double* dual_residual,
                            const int32_t* matrix_end, FactorArrays factor, int32_t* var_state, double* dx,
                            double* q_dx, double* dz, double* dw, int32_t system_kind, const int32_t* ranges,
                            const int32_t* quad_start, const double* quad_diag, int32_t regularise_equality,
                            int32_t& removed_row_count);

// diag := X^-2 in the barrier's signs (columns negative, slacks positive);
// diag_copy := diag over every position.
void build_starting_diagonal(const barrier_params& params, const double* x, const double* s, const int32_t* ranges,
                             double* diag, double* diag_copy, int32_t regularise_equality);

// One weighted least-squares solve for the duals with barrier value mu0, on
// the factor whose inverse pivots are in `diag` (by rank) and whose system
// diagonal is `diag_copy` (by position). rp (rows), ru and rd (positions)
// are the residuals it fits; `v` (the right-hand side and solution),
// `saved_rhs`, `scratch` and `upper_scratch` are work over n + m. z, w, y out.
void solve_starting_system(const barrier_params& params, const double* x, const double* s,
                           const double* primal_residual, const double* upper_residual, double* v,
                           const double* upper, const double* dual_residual, const FactorArrays& factor,
                           const double* diag, const double* diag_copy, const int32_t* matrix_end, double mu0,
                           double* z, double* w, double* y, double* saved_rhs, double* scratch,
                           double* upper_scratch, const int32_t* ranges);

// Pulls the products x_j z_j (lower-bounded) and s_j w_j (boxed) towards
// their average until the smallest over the largest is at least `ratio`
// (divided by 10 after each pass) or a pass changes nothing: the smaller
// factor of a pair below lower_factor x average (above upper_factor x
// average) is set so that the product equals that limit.
void centre_starting_products(const barrier_params& params, double& ratio, double lower_factor,
                              double upper_factor, double* x, double* s, double* z, double* w,
                              const int32_t* ranges);

void compute_alternative_starting_point(barrier_params& params, double* x, double* s, double* y, double* z,
                                        double* w, const double* rhs, const double* cost, const double* upper,
                                        const int32_t* matrix_start, const int32_t* matrix_end,
                                        const int32_t* factor_index, const double* factor_value,
                                        const int32_t* factor_first, const int32_t* factor_last,
                                        const int32_t* pivot_order, const int32_t* supernode_end,
                                        const int32_t* supernode_mark, const double* inverse_pivots, double* work,
                                        const int32_t* ranges, double omega, const double* quad_diag,
                                        const int32_t* quad_start);

}  // namespace kl

#endif
