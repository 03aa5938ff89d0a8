// The classification of the barrier's solution, once after the iterations,
// on the problem in its entry order.
//
// Interface summary
//   classify_barrier_solution(params, matrix_start, factor_index,
//       factor_value, col_state, slack_state, col_bound_code, col_upper,
//       col_lower, slack_upper, slack_lower, rhs, cost, x, y, z,
//       crossover_class, removal_index, row_activity, scale, presolve_list,
//       removal_count, work, infinity) -> unrecovered count
//     Undoes the sign flips (scale < 0) and the lower-bound shifts of the
//     barrier problem, recomputes the slack values x[n+k] = a_k x - rhs_k of
//     the kept rows, gives the columns fixed during the iterations (state
//     -2) and the columns removed before the presolve (state -3) their
//     reduced cost c_j - y'a_j, and writes every position's crossover class:
//     for a column 1 primal value dominant, -1 free, 0 at a bound; for a
//     slack 1 interior, 0 at a bound, -1 basic and degenerate. A position
//     never removed keeps the state the driver ended with.
//   Arrays (1-based): matrix_start 1..n+1 with row indices 1..m in
//     factor_index; col_state = var_state[1..n], slack_state =
//     var_state[n+1..n+m] (pass var_state + n); col_upper / col_lower and
//     slack_upper / slack_lower the two parts of `upper` and `lower`;
//     x, z over n+m positions, y over m rows; scale over n+m (negative:
//     flipped); crossover_class, removal_index n+m ints; row_activity m
//     doubles; work n+m doubles. A bound is finite when its magnitude is
//     below 0.9 x infinity.
//
// Positions removed by the barrier presolve (presolve_list[1..
// removal_count], in removal order) are recovered by walking that list
// backwards: each removal code gives the position its value, the removed
// rows their duals and slack values, and every position its class. The
// routine returns the number of list entries it could not recover (a
// position whose code it does not know); a caller receiving a positive
// count must not report the solution as optimal.
//
// Quadratic problems: the iterations drop the quadratic entries of removed
// columns, so the caller saves them beforehand (`removed_quadratic`: one
// term per stored entry, col == row for a diagonal one, in the problem's own
// units). The reduced cost of a removed column is then c_j + (Qx)_j - y'a_j,
// and the duals recovered from it (singleton and forcing rows) are right.
// `cost` of a removed column must then be its own linear cost. Null when
// the problem is linear or nothing quadratic was removed.
#ifndef KLSOL_BARRIER_ITERATE_SOLUTION_CLASSIFICATION_H
#define KLSOL_BARRIER_ITERATE_SOLUTION_CLASSIFICATION_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

struct RemovedQuadraticTerms {
  const int32_t* col = nullptr;  // 1..count
  const int32_t* row = nullptr;
  const double* value = nullptr;
  int32_t count = 0;
};

int32_t classify_barrier_solution(const barrier_params& params, const int32_t* matrix_start,
                                  const int32_t* factor_index, double* factor_value, const int32_t* col_state,
                                  const int32_t* slack_state, const int32_t* col_bound_code, double* col_upper,
                                  double* col_lower, double* slack_upper, double* slack_lower, double* rhs,
                                  double* cost, double* x, double* y, double* z, int32_t* crossover_class,
                                  int32_t* removal_index, double* row_activity, const double* scale,
                                  const int32_t* presolve_list, const int32_t& removal_count, double* work,
                                  const double& infinity, const RemovedQuadraticTerms* removed_quadratic = nullptr);

}  // namespace kl

#endif
