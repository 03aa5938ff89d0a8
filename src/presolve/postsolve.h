// Postsolve: the solution and basis of the presolved problem mapped back to
// the original problem.
#ifndef KLSOL_PRESOLVE_POSTSOLVE_H
#define KLSOL_PRESOLVE_POSTSOLVE_H

#include <cstdint>
#include <functional>

namespace kl {

// keep 0: final mode, the presolved problem is given up. keep 1: the
// original solution is produced while the records stay; the caller returns
// to the presolved problem with switch_problem_arrays(0). no_basis on entry:
// 1 when only values exist (no basis); final mode sets it to 1 on return.
// Does nothing when the problem is not presolved. A record that cannot be
// undone sets status 32 (message 968); the original problem is current all
// the same.
void postsolve(int32_t keep, int32_t& no_basis);

// Postsolve once the original problem is current, with the presolved
// solution mapped into postsolve_work (values, carried statuses) and the
// reduced-cost array (row duals), and the basis header in original terms:
// statuses from the carried ones, the undo of every record, statuses in
// line with the bounds, then recompute_original_solution.
void rebuild_original_solution(int32_t keep, int32_t& no_basis);

// Postsolve's last step on the original problem: row values, ninf and
// suminf from the restored column values, then duals and reduced costs.
// Final mode sets no_basis to 1 and prints a forced iteration log line.
void recompute_original_solution(int32_t keep, int32_t& no_basis);

// For a reader of the original solution of a presolved problem (queries,
// solution and basis files): rebuilds a stale factor quietly, postsolves in
// keep mode, runs read() with the original problem current, then returns to
// the presolved problem with its flags, values, reduced costs and
// infeasibility counts as they were. A problem that is not presolved is read
// as it is. no_basis: as for postsolve (queries pass 0; 1 is taken anyway
// when the solution has no basis).
void read_original_solution(const std::function<void()>& read, int32_t no_basis = 0);

}  // namespace kl

#endif
