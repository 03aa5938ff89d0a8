// Postsolve: the solution and basis of the presolved problem mapped back to
// the original problem.
#ifndef KLSOL_PRESOLVE_POSTSOLVE_H
#define KLSOL_PRESOLVE_POSTSOLVE_H

#include <cstdint>

namespace kl {

// keep 0: final mode, the presolved problem is given up. keep 1: the
// original solution is produced while the records stay; the caller returns
// to the presolved problem with switch_problem_arrays(0). no_basis on entry:
// 1 when only values exist (no basis); final mode sets it to 1 on return.
// Does nothing when the problem is not presolved.
void postsolve(int32_t keep, int32_t& no_basis);

}  // namespace kl

#endif
