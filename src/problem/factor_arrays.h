// Release of the factorisation arrays of the current problem: every edit
// that invalidates the factor frees them from the problem layer.
#ifndef KLSOL_PROBLEM_FACTOR_ARRAYS_H
#define KLSOL_PROBLEM_FACTOR_ARRAYS_H

namespace kl {

// Frees the LU factor and eta file (array ids 47, 51, 48, 53, 54, 46, 50,
// 52, 49 and 69, in that order) and clears problem flags 0x4000 (LU arrays),
// 0x200 (factor valid) and 0x80 (basis and solution current) together.
void free_factor_arrays();

}  // namespace kl

#endif
