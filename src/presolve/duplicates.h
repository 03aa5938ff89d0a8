// Parallel rows and parallel columns: one of each pair leaves the problem.
#ifndef KLSOL_PRESOLVE_DUPLICATES_H
#define KLSOL_PRESOLVE_DUPLICATES_H

#include <cstdint>

namespace kl {

// Both work on the current (working) problem and the presolve row copy.
// Return the status: 0, or 4 when the record stack could not grow. outcome
// := 1 when a conflict record was left on top of the stack, else 0. The
// counters are added to.
int32_t presolve_parallel_rows(int32_t& outcome, int32_t& rows_removed, int32_t& elements_removed);
int32_t presolve_parallel_columns(int32_t& outcome, int32_t& columns_removed, int32_t& rows_removed,
                                  int32_t& elements_removed);

}  // namespace kl

#endif
