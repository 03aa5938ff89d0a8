// The barrier's per-iteration convergence test and, after the iterations,
// the classification of the solution for the crossover.
//
// Interface summary
//   test_barrier_convergence(params, rel_primal, rel_dual, primal, dual,
//       complementarity, iteration, status, primal_flag, dual_flag,
//       last_move, primal_norm, upper_norm, dual_norm, primal_residual,
//       upper_residual, dual_residual, alpha_p, alpha_d, cost, rhs, upper,
//       x, dx, z, dz, w, dw, y, dy, s, q_x, q_dx, objective_scale, ranges,
//       memory)
//     Once per pass of the iteration driver, after the residuals and
//     objectives. The objectives arrive in minimisation form, already times
//     the objective scale plus the constant. Writes the status (0 go on,
//     1 stopped, 2 optimal, 3 unbounded, 4 infeasible), the relative
//     infeasibilities and the two feasibility flags (2 within tolerance,
//     1 not). Three verdicts move things before they report: crossing
//     objectives (2) interpolate the objectives to where they meet and set
//     alpha_p, alpha_d to minus the fraction of the last step, with the
//     iterate already moved back by take_barrier_step (last_move is then its
//     move); a stall near optimality (2) places the objectives symmetrically
//     about their mean; a divergence after a feasible pass (1) undoes the
//     last step and restores the measures of that pass from `memory`.
//     dx, dy, dz, dw and q_dx are the last direction (q_dx = Q dx for a
//     quadratic problem); q_x = Q x.
//   classify_barrier_solution(...)  (solution_classification.h)
//
// The driver owns `memory` (BarrierConvergenceMemory) for the whole call:
// it starts with stall_iteration -1, stall_gap 0 and both saved flags 0;
// the test writes it only in passes that go on, so a divergence is judged
// against, and undone back to, the last pass that went on.
//
// Optimality always needs both feasibility flags at 2 (the tolerances TFEAS1
// and TFEAS2, ten times looser in regularised mode), or relative
// infeasibilities within ten times them with a small gap (which then sets
// both flags to 2).
#ifndef KLSOL_BARRIER_ITERATE_CONVERGENCE_H
#define KLSOL_BARRIER_ITERATE_CONVERGENCE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// Feasibility flag values.
inline constexpr int32_t kBarrierFeasible = 2;
inline constexpr int32_t kBarrierNotFeasible = 1;

// What the convergence test remembers between passes (kept by the driver).
struct BarrierConvergenceMemory {
  double best_merit = 0.0;        // smallest merit seen (reset at iterations 0 and 1)
  double saved_rel_primal = 0.0;  // relative infeasibilities of the last pass that went on
  double saved_rel_dual = 0.0;
  double saved_primal_norm = 0.0;  // residual norms of that pass
  double saved_dual_norm = 0.0;
  int32_t saved_primal_flag = 0;   // feasibility flags of that pass
  int32_t saved_dual_flag = 0;
  double saved_gap = 1.0;          // g2 of that pass
  double previous_complementarity = 0.0;  // the driver's complementarity of the previous pass
  int32_t stall_iteration = -1;    // iteration at which the current stall window began
  double stall_gap = 0.0;          // gap measure at that iteration
};

void test_barrier_convergence(barrier_params& params, double& rel_primal, double& rel_dual, double& primal,
                              double& dual, double& complementarity, const int32_t& iteration, int32_t& status,
                              int32_t& primal_flag, int32_t& dual_flag, double& last_move, double& primal_norm,
                              const double& upper_norm, double& dual_norm, const double* primal_residual,
                              const double* upper_residual, const double* dual_residual, double& alpha_p,
                              double& alpha_d, const double* cost, const double* rhs, const double* upper,
                              double* x, const double* dx, double* z, const double* dz, double* w,
                              const double* dw, double* y, const double* dy, double* s, const double* q_x,
                              const double* q_dx, const double& objective_scale, const int32_t* ranges,
                              BarrierConvergenceMemory& memory);

}  // namespace kl

#endif
