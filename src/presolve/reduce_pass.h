// One round of presolve reductions on the working copy of the problem.
#ifndef KLSOL_PRESOLVE_REDUCE_PASS_H
#define KLSOL_PRESOLVE_REDUCE_PASS_H

#include <cstdint>

namespace kl {

// round: 1 first, 2.. later, negative for the entity round. change := 1
// when a free column singleton was substituted out of the objective;
// conflict := the row or column behind an infeasible or unbounded outcome.
void presolve_reduce_pass(int32_t round, int32_t& change, int32_t& conflict, int32_t& outcome);

// Columns fixed by the sign of their reduced cost during the current
// presolve. Such a fixing keeps an optimum when there is one, but may cut
// away every feasible point of a problem without one (unbounded): an
// infeasibility found after it proves only that there is no optimum. The
// caller of presolve_problem clears it.
extern int32_t presolve_cost_fixings;

// Prints the chain of rows and bounds behind an infeasibility a round found.
// side: -1 a row's minimum activity exceeds its upper limit, or a column;
// 0 a row's maximum activity is below its lower limit.
void explain_bound_infeasibility(int32_t position, int32_t side);

}  // namespace kl

#endif
