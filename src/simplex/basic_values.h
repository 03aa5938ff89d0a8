// Values of the basic variables computed from scratch with the factor.
#ifndef KLSOL_SIMPLEX_BASIC_VALUES_H
#define KLSOL_SIMPLEX_BASIC_VALUES_H

namespace kl {

// basic_values (array 40) := B^-1 (working_rhs - N x_N), by factor position;
// the work vector is left holding the right-hand side working_rhs - N x_N,
// in state 1. Positions beyond factor_dimension take their right-hand side.
// The objective value is recomputed from the new values.
void compute_basic_values();

// Work vector (the right-hand side, in factor order) less the activity of
// the non-basic rows and columns; sets nonbasic_objective (double slot 94).
void subtract_nonbasic_activity();

}  // namespace kl

#endif
