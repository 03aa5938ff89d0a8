// The LP driver's barrier path: hands the current problem to the
// interior-point optimiser, brings its solution back into the simplex's
// arrays and maps its status to the status letter, lp_status and a message.
//
// With the crossover on (CROSS, by default for a linear problem) a barrier
// result that admits it is turned into a basis by complete_crossover and
// the primal simplex finishes from it; the crossover flag comes back 1. A
// quadratic problem, CROSS 0, a result without a crossover and an early exit
// of the crossover end with the barrier's point and no basis: the flag
// comes back 0 and the LP driver marks the solution as having no basis.
//
// The solution without a basis left in the library's arrays (stored, scaled
// terms; every position p, rows 1..nrow then the columns):
//   ARR_X[p]              the value (a row's slack of a_i x + s_i = b_i)
//   ARR_REDUCED_COSTS[p]  the reduced cost of the minimisation the simplex
//                         solves: sense_factor x (c + Qx - A'y) at a column,
//                         -sense_factor x y_i at a row
//   work vector[i]        the same row values (postsolve maps duals from it)
// Every position off its bounds' exact values is marked nonbasic between its
// bounds, so that the solution queries and postsolve take the values as
// they stand.
//
// A quadratic objective that is not convex is refused before the barrier
// runs (message 957, status 32): the barrier's optimality conditions hold at
// its stationary points too, which are no optimum.
//
// An optimal barrier status rests on tolerances the barrier loosens as it
// goes. It stands only when the returned point passes the checks of
// verify_barrier_solution against the LP tolerances (ZTOLZE, relative);
// otherwise it is treated as an unfinished result (status 5).
#ifndef KLSOL_SIMPLEX_BARRIER_FRONT_H
#define KLSOL_SIMPLEX_BARRIER_FRONT_H

#include <cstdint>

namespace kl {

// What one barrier status becomes. message 0: none; letter 0: the letter
// stays U (the front end's default); lp_status 0: unchanged; status_word:
// the status word (32) is set.
struct BarrierOutcome {
  int32_t message = 0;
  char letter = 0;
  int32_t lp_status = 0;
  bool status_word = false;
};

// The table of the barrier's statuses; search: a global search is under way
// (problem flag 0x10), where an unfinished result is a node without a
// solution rather than an error.
BarrierOutcome map_barrier_status(int32_t barrier_status, bool search);

// Measures of a barrier solution, each relative to the magnitudes involved
// (see verify_barrier_solution).
struct BarrierSolutionCheck {
  double row_residual = 0.0;        // b - Ax - s over 1 + |b| + largest |a_ij x_j|
  double bound_violation = 0.0;     // beyond a bound, over 1 + |bound|
  double dual_residual = 0.0;       // d - (c + Qx - A'y), over the size of its terms
  double dual_infeasibility = 0.0;  // a reduced cost pushing against an absent bound, over 1 + largest |c|
  double gap = 0.0;                 // sum of |d_p| x distance to its bound, over 1 + |c'x + x'Qx/2|
  double objective = 0.0;           // c'x + x'Qx/2 + the constant, stored terms
  double half_xqx = 0.0;            // x'Qx/2
  bool passed = false;
};

// Checks the solution in the library's arrays (layout above) against
// tolerance: every measure at most tolerance. constant: the objective
// constant of the problem the barrier solved.
BarrierSolutionCheck verify_barrier_solution(double tolerance, double constant);

// Counters a test can read.
struct BarrierFrontStats {
  int64_t runs = 0;                   // run_barrier calls
  int64_t solutions_without_basis = 0;  // runs ended with no basis
  int64_t crossovers = 0;             // complete_crossover calls
  int32_t last_crossover_status = 0;  // as complete_crossover returned it
  int64_t unverified_optima = 0;      // status 2 that failed the checks, treated as 5
  int64_t unverified_postsolved = 0;  // optima whose postsolved solution failed the checks (message 958)
  int32_t last_barrier_status = 0;    // as run_barrier returned it
  int32_t last_quadratic_flag = 0;    // quadratic column count run_barrier returned
  BarrierSolutionCheck last_check;    // of the last status 2
};
extern BarrierFrontStats barrier_front_stats;

// After postsolve of a barrier optimum without a basis: the checks of
// verify_barrier_solution on the original problem. False (message 958)
// when they fail; the optimum is then unfinished.
bool confirm_postsolved_barrier_optimum();

// The barrier path of optimise_lp in mode 1, 2 or 3. crossover_flag: out, 1
// when a basis was reached by crossover, else 0. Leaves status_letter,
// lp_status (as the table sets it), objval, the solution arrays and the
// status word.
void barrier_front(int32_t mode, int32_t& crossover_flag);

}  // namespace kl

#endif
