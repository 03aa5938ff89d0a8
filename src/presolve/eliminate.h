// Elimination of columns through equality rows, with fill-in.
#ifndef KLSOL_PRESOLVE_ELIMINATE_H
#define KLSOL_PRESOLVE_ELIMINATE_H

#include <cstdint>

namespace kl {

// eliminated := rows and columns removed in pairs; conflict := 0; outcome
// 0 done, 3 element space too small, 4 no memory, 5 M_S ran out.
void presolve_eliminate(int32_t& eliminated, int32_t& conflict, int32_t& outcome);

}  // namespace kl

#endif
