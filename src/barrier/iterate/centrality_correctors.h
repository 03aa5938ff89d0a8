// Centrality correctors: further solves with the iteration's factor that
// push the complementarity products the current direction would reach back
// into a band around mu, kept while they lengthen the smaller step length.
//
// Interface summary
//   apply_centrality_correctors(params, x, s, z, w, upper_residual, q_dx,
//       slack_diag, q_x, push_work, dx, dy, dz, dw, upper, pivot_order,
//       factor_first, factor_last, factor_index, factor_value,
//       supernode_end, supernode_mark, diag, diag_copy, matrix_start,
//       matrix_end, quad_start, mu, corrector_count, alpha_p, alpha_d,
//       ranges, primal_tolerance, dual_tolerance, refinement_steps)
//     At most MAXCCORR correctors (as the driver set it). On return dx, dy,
//     dz, dw hold the last kept direction and alpha_p, alpha_d its step
//     lengths; corrector_count := the correctors kept. The two tolerances
//     are the solve targets (in and out); refinement_steps (in and out) is
//     raised by each solve's refinement steps, and a 0 on entry of a solve
//     makes it a plain solve.
//
// Arrays and lent vectors as for compute_search_direction
// (search_direction.h); `diag` holds the inverse pivots by rank.
#ifndef KLSOL_BARRIER_ITERATE_CENTRALITY_CORRECTORS_H
#define KLSOL_BARRIER_ITERATE_CENTRALITY_CORRECTORS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The target change of one complementarity product p for mu: mu - p at or
// below TSMALL mu, -CENTER mu at or above TLARGE mu, 0 in between.
double centrality_target(const barrier_params& params, double product, double mu);

void apply_centrality_correctors(
    const barrier_params& params, const double* x, const double* s, const double* z,
    const double* w, double* upper_residual, double* q_dx, double* slack_diag, double* q_x,
    double* push_work, double* dx, double* dy, double* dz, double* dw, const double* upper,
    const int32_t* pivot_order, const int32_t* factor_first, const int32_t* factor_last,
    const int32_t* factor_index, const double* factor_value, const int32_t* supernode_end,
    const int32_t* supernode_mark, const double* diag, const double* diag_copy,
    const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* quad_start, double mu,
    int32_t& corrector_count, double& alpha_p, double& alpha_d, const int32_t* ranges,
    double& primal_tolerance, double& dual_tolerance, int32_t& refinement_steps);

}  // namespace kl

#endif
