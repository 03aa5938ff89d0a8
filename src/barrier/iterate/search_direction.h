// The barrier's system diagonal and its predictor-corrector search direction.
//
// Interface summary
//   build_barrier_diagonal(params, x, y, s, z, w, ranges, diag, var_state,
//       mean_complementarity, sigma, regularise_equality, matrix_start,
//       matrix_end, factor_index, factor_value, slack_diag)
//     diag (by position) := the diagonal of K for this iteration: columns
//     -(z/x + w/s) after the soft and hard floors (free columns from the
//     free-column term), rows x/z or 1/(z/x + w/s), equality rows 0 or their
//     regularisation; slack_diag (by row) := the row regularisation rho.
//     sigma = min(1, max(mean_complementarity, TZER)), from the caller.
//     The caller subtracts Q_jj from the column entries.
//   build_trial_diagonal(params, ranges, diag, quad_diag, weight,
//       regularise_equality)
//     diag := the diagonal of the trial factorisation and of the
//     least-squares start; weight comes in as LSQWEIGHT and goes out as the
//     weight used (1 for a linear objective).
//   compute_search_direction(...)
//     One predictor solve, the barrier parameter mu, one corrector solve kept
//     or dropped (a dropped one may be followed by a pure centring solve).
//     Out: dx, dy, dz, dw and their step lengths, mu, corrector count (0 or
//     1), complementarity := the predicted average complementarity after
//     the step, the two solve tolerances, the last solve's refinement steps,
//     var_state over the free, lower-bounded and equality classes, and
//     iteration_flags bits 0x10, 0x20, 0x40, 0x100 (bits above 0x8 cleared
//     on entry).
//
// Arrays are 1-based in class order (variable_classes.h); x, s, z, w, dx,
// dz, dw, upper, upper_residual, dual_residual, diag_copy by position; y,
// dy, primal_residual, slack_diag by row. The factor is as the numeric
// factorisation leaves it: inverse pivots by rank in `diag`, diag_copy the
// diagonal of K by position. Lent vectors (n + m + 1 doubles, contents lost):
// q_dx (right-hand side and solution), q_x and push_work (solve scratch,
// then the new dz and dw); slack_diag (m + 1) holds the new dy. dz and dw
// also serve as work vectors of the Krylov fall-backs. upper_residual is
// rewritten to upper - x - s over the boxed positions by refined solves.
#ifndef KLSOL_BARRIER_ITERATE_SEARCH_DIRECTION_H
#define KLSOL_BARRIER_ITERATE_SEARCH_DIRECTION_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

inline constexpr int32_t kPredictorSolveGrew = 0x10;
inline constexpr int32_t kCorrectorSolveGrew = 0x20;
inline constexpr int32_t kCorrectorRaisesComplementarity = 0x40;
inline constexpr int32_t kCorrectorSolveMetTargets = 0x100;

void build_barrier_diagonal(const barrier_params& params, const double* x, const double* y,
                            const double* s, const double* z, const double* w,
                            const int32_t* ranges, double* diag, const int32_t* var_state,
                            double mean_complementarity, double sigma,
                            int32_t regularise_equality, const int32_t* matrix_start,
                            const int32_t* matrix_end, const int32_t* factor_index,
                            const double* factor_value, double* slack_diag);

void build_trial_diagonal(const barrier_params& params, const int32_t* ranges, double* diag,
                          const double* quad_diag, double& weight, int32_t regularise_equality);

void compute_search_direction(
    barrier_params& params, const double* x, const double* s, const double* z, const double* w,
    const double* primal_residual, const double* dual_residual, double* upper_residual,
    double* q_dx, double* slack_diag, double* q_x, double* push_work, double* dx, double* dy,
    double* dz, double* dw, const double* upper, const int32_t* pivot_order,
    const int32_t* factor_first, const int32_t* factor_last, const int32_t* factor_index,
    const double* factor_value, const int32_t* supernode_end, const int32_t* supernode_mark,
    int32_t* var_state, const double* diag, const double* diag_copy,
    const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* quad_start,
    double& mu, int32_t& corrector_count, double& alpha_p, double& alpha_d, int32_t pair_count,
    double& complementarity, const int32_t* ranges, double& primal_tolerance,
    double& dual_tolerance, int32_t& refinement_steps);

// At an optimum the directions' solves leave the rows as inexact as their
// targets allow, and those targets follow the whole right-hand side, where
// the complementarity terms outweigh the primal residual. This closes the
// rows with the last factor: a solve for the primal residual alone (0 on
// the columns), dx = D A' dy, a step cut to the bounds, kept only while it
// shrinks the largest row residual (a few rounds, since a regularised
// factor solves a nearby system). x + s = u is kept. Work vectors (n + m +
// 1 doubles each, contents lost): v, reduced_rhs, residual, saved_x,
// saved_s, direction; upper_residual is solve scratch and comes back as
// u - x - s. Returns the change of c'x + x'Qx/2 (internal units); q_x is
// Qx of the returned x.
double close_primal_residual(
    barrier_params& params, double* x, double* s, const double* upper, const double* rhs,
    const double* cost, const double* quad_diag, double* q_x, double* primal_residual,
    double* upper_residual, double* v, double* reduced_rhs, double* residual, double* saved_x,
    double* saved_s, double* direction, const int32_t* pivot_order, const int32_t* factor_first,
    const int32_t* factor_last, const int32_t* factor_index, const double* factor_value,
    const int32_t* supernode_end, const int32_t* supernode_mark, const double* diag,
    const double* diag_copy, const int32_t* matrix_start, const int32_t* matrix_end,
    const int32_t* quad_start, const int32_t* ranges);

}  // namespace kl

#endif
