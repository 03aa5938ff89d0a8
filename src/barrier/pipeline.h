// The barrier problem pipeline: one barrier solve on the problem the driver
// has copied into the work arrays, from the bound checks to the classified
// solution.
//
// Interface summary
// -----------------
// solve_barrier_problem(params, arrays, status, objective_value, counters,
//                       objective_constant, half_infinity, infinity)
//   In this order: the space check; the problem dump when print_word > 0
//   has bit 0x100; the bound checks (crossed bounds end with status 4, fixed
//   columns and free rows are removed with var_state -3, the fixed value
//   folded into rhs and the objective constant); the barrier presolve and
//   the scaling as PRESOLV and scaling_methods ask; the bound normalisation
//   (normalise_barrier_bounds); the quadratic term carried into the scaled,
//   shifted space; the objective and right-hand-side normalisation; the
//   iterations (iterate_barrier); the unscaling; the classification
//   (classify_barrier_solution), after which z[n+i] holds the dual of row i
//   and pivot_order's storage the crossover class of every position.
//
//   status (out): a barrier status (barrier_params.h). 2 is written only
//     together with objective_value, and only for a classified optimum:
//     when the classification leaves removed positions unrecovered the
//     status becomes 1. A stop by the user's callback or the interrupt
//     comes back from the iterations as 0 (or 1) with the objective of the
//     point reached, never as 2.
//   objective_value (out): the objective of the barrier solution in the
//     caller's sense (the minimised value negated when objective_sense is
//     -1), constant included. 0.0 when no objective was computed.
//   counters (out): iterations, correctors, removed columns and rows,
//     factor nonzeros and the factorisation time of the run.
//   objective_constant (in/out): the library's constant times the sense;
//     the removals and bound shifts add to it.
//   half_infinity, infinity: half the library's infinite bound and the
//     infinite bound itself (1e20); a bound beyond 0.9 x infinity counts as
//     absent.
//   Arrays on return: x, y and z in the problem's own terms (z[j] the
//     reduced cost c_j + (Qx)_j - a_j'y in the minimised sense, z[n+i] =
//     y[i]); rhs, bounds, costs and matrix unscaled and unflipped. For a
//     quadratic problem the reduced cost of a column removed before or
//     during the iterations lacks the share Q (x - shift) of its terms with
//     the kept columns (its quadratic entries leave the factor space with
//     it); the caller, which holds Q, recomputes those. quad_nz counts the
//     quadratic entries still stored.
//   With RHSNORM the quadratic term is multiplied by the right-hand-side
//     factor for the iterations (the variables are divided by it, and the
//     term is of second degree) and divided back afterwards.
//   On the early exits (status 4 from the bound checks, or a presolve
//     verdict) every position's crossover class is its var_state when that
//     is 0 or more, else 0, and nothing is unscaled or classified.
//   -2 when factor_space <= 2 x (matrix_nz + quad_nz) + 2: nothing written
//     but the status.
//
// normalise_barrier_bounds(...)
//   Shifts every kept variable to a lower bound of 0: an upper-only column
//   or a slack without a finite lower bound is flipped (scale negated, cost
//   and matrix entries negated), the lower bound is moved into rhs and the
//   objective constant, and a remaining finite upper bound becomes the width
//   of the box (bound code negated). `lower` keeps every shift for the
//   classification. Codes: 0 no bound (a slack: an equality row), 1 lower
//   bound, 2 flipped upper bound; negative when boxed.
//
// read_cpu_centiseconds(out)
//   Processor time of the process in hundredths of a second, stored
//   through the argument and returned.
//
// Arrays are 1-based (element 1 at p[1]); N = n + m positions, the slack of
// row i at n + i.
#ifndef KLSOL_BARRIER_PIPELINE_H
#define KLSOL_BARRIER_PIPELINE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The barrier's work arrays, in the driver's slot order. The driver takes
// (or lends from the library) every one of them and hands the whole set to
// solve_barrier_problem. Lengths are in elements used from index 1 (take
// one more). The iterations read `quad_diag` and `quad_start` on a linear
// problem too, so both are needed whatever the problem; a null `quad_diag`,
// `quad_start`, `iterate_work` or `class_ranges` ends the solve with -2.
// `presolve_list` may be null while PRESOLV is 0.
struct BarrierWorkArrays {
  // Double slots 1..25.
  double* cost = nullptr;             // 1  n
  double* rhs = nullptr;              // 2  m
  double* lower = nullptr;            // 3  N
  double* upper = nullptr;            // 4  N
  double* diag = nullptr;             // 5  N
  double* diag_copy = nullptr;        // 6  N
  double* x = nullptr;                // 7  N
  double* dx = nullptr;               // 8  N
  double* q_dx = nullptr;             // 9  N
  double* s = nullptr;                // 10 N
  double* z = nullptr;                // 11 N
  double* dz = nullptr;               // 12 N
  double* q_x = nullptr;              // 13 N
  double* w = nullptr;                // 14 N
  double* dw = nullptr;               // 15 N
  double* push_work = nullptr;        // 16 N
  double* y = nullptr;                // 17 m
  double* dy = nullptr;               // 18 m
  double* slack_diag = nullptr;       // 19 m
  double* primal_residual = nullptr;  // 20 m
  double* upper_residual = nullptr;   // 21 N
  double* dual_residual = nullptr;    // 22 N
  double* scale = nullptr;            // 23 N
  double* quad_diag = nullptr;        // 24 n, also for a linear problem (the iterations read it; zeroed here)
  double* pivot_inverse = nullptr;    // 25 N + 2 (the iterations' double scratch rides on it)
  double* factor_value = nullptr;     // factor_space
  // Int slots 1..15.
  int32_t* col_bound_code = nullptr;    // 1  n
  int32_t* slack_bound_code = nullptr;  // 2  m
  int32_t* matrix_start = nullptr;      // 3  n + 1
  int32_t* factor_first = nullptr;      // 4  N
  int32_t* factor_last = nullptr;       // 5  N
  int32_t* var_state = nullptr;         // 6  N
  int32_t* pivot_order = nullptr;       // 7  N; after the solve: crossover_class
  int32_t* pivot_rank = nullptr;        // 8  N + 2
  int32_t* int_work_a = nullptr;        // 9  N
  int32_t* int_work_b = nullptr;        // 10 N
  int32_t* int_work_c = nullptr;        // 11 N
  int32_t* presolve_list = nullptr;     // 12 N; null when PRESOLV is 0
  int32_t* quad_mark = nullptr;         // 13 N
  int32_t* quad_start = nullptr;        // 14 n + 1, also for a linear problem (empty lists set here)
  int32_t* matrix_end = nullptr;        // 15 n
  int32_t* factor_index = nullptr;      // factor_space
  // Taken by the driver for the iterations, beside the slots.
  int32_t* iterate_work = nullptr;      // iterate_barrier_work_ints(params)
  int32_t* class_ranges = nullptr;      // 16 (barrier_class_ranges)
};

// Counters of one solve, written by solve_barrier_problem.
struct BarrierSolveCounters {
  int32_t iteration_count = 0;
  int32_t corrector_count = 0;
  int32_t removed_col_count = 0;  // var_state -2 or below at the end of the preparation
  int32_t removed_row_count = 0;
  int64_t factor_nonzeros = 0;
  int64_t budget_nonzeros = 0;
  int32_t factor_time = 0;        // hundredths of a second in the numeric factorisations
};

void solve_barrier_problem(barrier_params& params, const BarrierWorkArrays& arrays, int32_t& status,
                           double& objective_value, BarrierSolveCounters& counters, double& objective_constant,
                           double half_infinity, double infinity);

void normalise_barrier_bounds(barrier_params& params, double* upper, double* lower, double* rhs, double* cost,
                              double* factor_value, int32_t* col_bound_code, int32_t* slack_bound_code,
                              const int32_t* var_state, const int32_t* matrix_start, const int32_t* factor_index,
                              double* scale, double& objective_constant, double tplus, double tzer, double big,
                              double infinity);

int32_t read_cpu_centiseconds(int32_t& centiseconds);

}  // namespace kl

#endif
