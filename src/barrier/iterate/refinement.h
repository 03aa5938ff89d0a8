// Solves with the barrier factor that measure and improve their accuracy:
// iterative refinement and two Krylov refinements preconditioned by the
// factor itself.
//
// Interface summary
//   solve_with_refinement(params, pivot_inverse, diag_copy, pivot_order,
//       factor_index, factor_value, matrix_start, factor_first, factor_last,
//       matrix_end, v, reduced_rhs, residual, upper_residual, upper, x, s,
//       barrier_class_ranges, supernode_end, supernode_mark, quad_start,
//       primal_accuracy, dual_accuracy, primal_target, dual_target, mode,
//       step_count)
//     On entry v holds the right-hand side over all positions. On return the
//     Cholesky-part positions of v (ranks in_place_count+1..pivot_count) hold
//     the solution, the in-place column positions still their right-hand side
//     after the in-place elimination; the caller finishes them with
//     solve_backward_supernodal over ranks 1..in_place_count.
//   refine_by_krylov(...), refine_by_krylov_alt(...)
//     Improve the Cholesky-part solution in v of K~ v = reduced_rhs (K~ as
//     multiply_reduced_system applies it): preconditioned conjugate
//     gradients returning their best iterate, and a quasi-minimal-residual
//     Lanczos variant returning its last one.
//
// Arguments (1-based arrays):
//   pivot_inverse      by rank, the inverse pivots (the copy left in `diag`)
//   diag_copy          by position, the diagonal of K
//   v, reduced_rhs     by position; reduced_rhs (b~) is an output of
//                      solve_with_refinement (v after the in-place ranks are
//                      eliminated, over the active positions) and an input of
//                      the Krylov refinements
//   residual, work1..3 by position, n+m+1 doubles each; solve_with_refinement
//                      also lends `residual` to the supernodal solves
//   upper_residual     scratch (n+m+1 doubles); on return it holds
//                      upper - x - s again over the boxed positions (class
//                      ranges 3..12), except after a plain solve (mode 4 from
//                      MAXREF < 1 or a negative mode), which leaves it alone
//   primal_accuracy, dual_accuracy   out: reached accuracies over the row and
//                      column positions (max-norms for iterative refinement,
//                      2-norms for the Krylov refinements)
//   primal_target, dual_target       accuracy targets; in and out for
//                      solve_with_refinement (a negative target is fixed and
//                      used as its magnitude, otherwise it is raised to TRES2
//                      times the right-hand side's scale), by value for the
//                      Krylov refinements
//   mode               RefinementMode, in and out (see below)
//   step_count         in and out: raised by the refinement or Krylov steps
// params.MAXREF is the driver's limit of refinement steps for this solve.
#ifndef KLSOL_BARRIER_ITERATE_REFINEMENT_H
#define KLSOL_BARRIER_ITERATE_REFINEMENT_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// Refinement mode. On entry: -1 plain solve, 0 measure and set the targets
// and then solve plainly, 1 iterative refinement. On return: 0 both reached
// accuracies below their targets, 1 within 1/TRES1 of them, 2 stopped by
// MAXREF or its own test, 3 the residual grew and the previous solution was
// put back (iterative refinement) or the Krylov iteration ended short, 4 no
// refinement was done.
enum RefinementMode : int32_t {
  REFINE_PLAIN_SOLVE = -1,
  REFINE_TARGETS_MET = 0,
  REFINE_NEAR_TARGETS = 1,
  REFINE_STOPPED = 2,
  REFINE_FELL_SHORT = 3,
  REFINE_NOT_DONE = 4,
};

void solve_with_refinement(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                           const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                           const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                           const int32_t* matrix_end, double* v, double* reduced_rhs, double* residual,
                           double* upper_residual, const double* upper, const double* x, const double* s,
                           const int32_t* barrier_class_ranges, const int32_t* supernode_end,
                           const int32_t* supernode_mark, const int32_t* quad_start, double& primal_accuracy,
                           double& dual_accuracy, double& primal_target, double& dual_target, int32_t& mode,
                           int32_t& step_count);

void refine_by_krylov(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                      const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                      const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                      const int32_t* matrix_end, double* v, const double* reduced_rhs, double* work1, double* work2,
                      double* work3, double* upper_residual, const double* upper, const double* x, const double* s,
                      const int32_t* barrier_class_ranges, const int32_t* supernode_end,
                      const int32_t* supernode_mark, const int32_t* quad_start, double& primal_accuracy,
                      double& dual_accuracy, double primal_target, double dual_target, int32_t& mode,
                      int32_t& step_count);

void refine_by_krylov_alt(const barrier_params& params, const double* pivot_inverse, const double* diag_copy,
                          const int32_t* pivot_order, const int32_t* factor_index, const double* factor_value,
                          const int32_t* matrix_start, const int32_t* factor_first, const int32_t* factor_last,
                          const int32_t* matrix_end, double* v, const double* reduced_rhs, double* work1,
                          double* work2, double* work3, double* upper_residual, const double* upper,
                          const double* x, const double* s, const int32_t* barrier_class_ranges,
                          const int32_t* supernode_end, const int32_t* supernode_mark, const int32_t* quad_start,
                          double& primal_accuracy, double& dual_accuracy, double primal_target, double dual_target,
                          int32_t& mode, int32_t& step_count);

}  // namespace kl

#endif
