// The two versions of a presolved problem: the presolved arrays current and
// the original ones saved (or the other way round), exchanged as a whole.
#ifndef KLSOL_PRESOLVE_ARRAY_SWITCH_H
#define KLSOL_PRESOLVE_ARRAY_SWITCH_H

#include <cstdint>

namespace kl {

// direction 0: the presolved problem becomes current; 1: the original.
void switch_problem_arrays(int32_t direction);
// Gives the presolved problem up: frees its arrays, the position map and the
// record stack (the caller then switches to the original with direction 1).
void free_presolve_arrays();

}  // namespace kl

#endif
