// One reset of every process-global record of the solvers that belongs to
// the current problem: the simplex iteration state, the factor, the primal
// and dual engines' lists and counters, ranging results, the IIS sets, the
// parametric and driver state and the crossover phase.
//
// Positions and rows kept in these records (the last leaving variable, the
// candidate list, the saved leaving row, ranging per position) index the
// problem they were made for; read against another problem they run past
// its arrays. Every way of replacing the current problem (array loads, file
// input, a slot switch) and start-up and shutdown call this routine.
#ifndef KLSOL_SIMPLEX_SOLVER_RESET_H
#define KLSOL_SIMPLEX_SOLVER_RESET_H

namespace kl {

// Back to the state of a library that has never optimised. Touches no
// numbered array (the caller frees or keeps those) and no control.
void reset_solver_state();

}  // namespace kl

#endif
