// Ownership of the factorisation arrays of the current problem.
#ifndef KLSOL_FACTOR_FACTOR_ARRAYS_H
#define KLSOL_FACTOR_FACTOR_ARRAYS_H

namespace kl {

// Frees the LU factor and eta file (array ids 46..54 and 69) and clears
// problem flags 0x4000, 0x200 and 0x80.
void free_factor_arrays();

}  // namespace kl

#endif
