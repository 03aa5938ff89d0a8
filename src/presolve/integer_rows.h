// Strengthening of rows over integer columns.
#ifndef KLSOL_PRESOLVE_INTEGER_ROWS_H
#define KLSOL_PRESOLVE_INTEGER_ROWS_H

namespace kl {

void presolve_integer_rows();

}  // namespace kl

#endif
