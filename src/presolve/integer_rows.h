// Strengthening of rows over integer columns.
#ifndef KLSOL_PRESOLVE_INTEGER_ROWS_H
#define KLSOL_PRESOLVE_INTEGER_ROWS_H

#include <cstdint>

namespace kl {

// Returns the presolve outcome: 0, 1 (an equality row of integer columns
// whose right-hand side is no integer multiple of their common divisor) or
// 5 (the record stack could not grow).
int32_t presolve_integer_rows();

}  // namespace kl

#endif
