// Around the invert: the all-slack basis, the basis header rebuilt from the
// status bits, non-basic status bits brought into line with the bounds, the
// check of the basic values against their bounds, and the duals, reduced
// costs and values of all variables at the end of an optimisation.
#ifndef KLSOL_FACTOR_STARTING_BASIS_H
#define KLSOL_FACTOR_STARTING_BASIS_H

#include <cstdint>

namespace kl {

// Header entry i := i and every row and spare row basic; every column
// non-basic at its lower bound.
void set_slack_basis();
// Header from the status bits: basic rows in index order, then basic
// columns. A basis of the wrong size is adjusted (surplus columns leave,
// missing positions get slacks) and reported with message 140.
void set_basis_header();
// Non-basic status bits in line with the bounds; counts the G and L rows
// into inequality_row_count.
void normalise_status_flags();
// ninf, the sum of infeasibilities and the infeasibility bits of the row
// words from the basic values; small violations are shifted onto the bound
// when the primal allows it.
void check_basic_feasibility();
// Clears the mark 0x20 of every row and column when marks_exist.
void clear_mark_bits();
// Duals into the work vector and the dual-bound pairs of the global search
// (array 45 read as 2 x nrow floats).
void compute_duals();
// Re-inverts when the factor is not valid, then duals, reduced costs and the
// values of all variables.
void reinvert_and_recompute();
// A fresh factor of the basis the status words give, in row order, without
// messages (IQUIET on for the invert).
void invert_current_basis();

// lp_algorithm without the forcing offset: 0 primal, 1 dual, 2 barrier.
int32_t algorithm_kind();

}  // namespace kl

#endif
