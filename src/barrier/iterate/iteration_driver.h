// The barrier's iteration driver: from a prepared barrier problem (scaled,
// presolved, normalised, finite lower bounds at 0, matrix rows named by
// their slack positions n + i) to a barrier status with the iterate.
//
// Interface summary
// -----------------
// iterate_barrier(params, arrays, work, status, primal_objective,
//                 iteration_count, corrector_count, removed_col_count,
//                 removed_row_count, factor_nonzeros, budget_nonzeros,
//                 objective_constant, objective_scale, factor_time)
//
//   One primal-dual predictor-corrector run: classification of the
//   positions, choice of the system (normal equations or augmented system,
//   with one retry by the length rule when the normal analysis fails), the
//   analysis and a trial factorisation, the starting point, then the
//   iterations until a barrier status. On every exit the arrays are back in
//   the order they had on entry, with the final var_state (-1 for free
//   columns and for equality slacks whose diagonal is within TZER), boxed
//   positions carrying z - w in z, and the seven keys SETLAM, MAXCCORR,
//   MAXREF, BARGROW, TOPT1, REGULARIZE, MINCORR back at their entry values.
//   REFMET is set to 4 when the regularised mode begins and stays so.
//
//   status (out): a barrier status (barrier_params.h): 0 after a stop by the
//     user's barrier-log callback or the interrupt in a pass whose test said
//     go on, 1 to 4 from the convergence test, 6 numerical failure of the
//     factorisation, -1 / -2 the analysis or factor lists do not fit.
//   primal_objective (out): the primal objective of the last convergence
//     test in the problem's own sense (times objective_scale plus
//     objective_constant), written on every end that came from the test or
//     from a failure after it; NOT written after a callback or interrupt stop
//     nor after a set-up failure, so a stop never passes for an optimum.
//   iteration_count, corrector_count (out).
//   removed_col_count, removed_row_count (in/out): the counts so far.
//   factor_nonzeros (out): of the analysis; budget_nonzeros (out): the copy
//     the corrector and refinement budgets were taken from.
//   objective_constant (in/out: fixing an upper-bounded column folds its
//     bound into it), objective_scale (in).
//   factor_time (out): hundredths of a second of processor time spent in
//     the numeric factorisations of the iterations (last attempt per pass).
//
//   Log (print_word < 0 only): the analysis line "Matrix ordering - Dense
//   cols.: ...", the iteration header and one line per iteration; the
//   problem attributes 3001, 4001..4005 are stored after every convergence
//   test, 3003 and 3004 with the analysis line. After every iteration the
//   user's barrier-log callback is called (a nonzero answer stops), then the
//   interrupt flag is polled (set: stop).
//
// Sizes: N = n + m; every array is 1-based, so the caller allocates one
// element more than the length given here.
#ifndef KLSOL_BARRIER_ITERATE_ITERATION_DRIVER_H
#define KLSOL_BARRIER_ITERATE_ITERATION_DRIVER_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The problem and the iterate, by the names every barrier routine uses.
struct BarrierIterateArrays {
  // Doubles.
  double* cost;             // n
  double* quad_diag;        // n
  double* rhs;              // m
  double* upper;            // N
  double* diag;             // N
  double* diag_copy;        // N
  double* x;                // N
  double* dx;               // N
  double* q_dx;             // N
  double* s;                // N
  double* z;                // N
  double* dz;               // N
  double* q_x;              // N
  double* w;                // N
  double* dw;               // N
  double* push_work;        // N
  double* y;                // m
  double* dy;               // m
  double* slack_diag;       // m
  double* primal_residual;  // m
  double* upper_residual;   // N
  double* dual_residual;    // N
  double* factor_value;     // factor_space
  double* pivot_inverse;    // N + 2: the inverse pivots, and the callees' double scratch
  // Ints.
  int32_t* col_bound_code;        // n
  int32_t* slack_bound_code;      // m
  int32_t* matrix_start;          // n + 1
  int32_t* quad_start;            // n + 1
  int32_t* matrix_end;            // n
  int32_t* factor_first;          // N
  int32_t* factor_last;           // N
  int32_t* var_state;             // N
  int32_t* pivot_order;           // N
  int32_t* pivot_rank;            // N + 2
  int32_t* factor_index;          // factor_space
  int32_t* barrier_class_ranges;  // 16
};

// Ints of the driver's int work block: the permutation of the classes, the
// dense-column marks and ordering-graph arrays, the cache blocks, the
// factorisation's lists, and the scratch of the analysis, the augmented
// factorisation and the symbolic recomputation (whichever is largest).
int64_t iterate_barrier_work_ints(const barrier_params& params);

void iterate_barrier(barrier_params& params, const BarrierIterateArrays& arrays, int32_t* int_work,
                     int32_t& status, double& primal_objective, int32_t& iteration_count,
                     int32_t& corrector_count, int32_t& removed_col_count, int32_t& removed_row_count,
                     int64_t& factor_nonzeros, int64_t& budget_nonzeros, double& objective_constant,
                     const double& objective_scale, int32_t& factor_time);

}  // namespace kl

#endif
