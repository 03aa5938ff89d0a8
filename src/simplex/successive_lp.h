// Successive linear programming over the typed entries of a problem file:
// the pass driver (KLRECURSE, RECURSE and option r of the LP driver), the
// rewriting of the matrix from the current solution, the bookkeeping of the
// convergence columns (kind CV) that the solution-file writer and the global
// search rely on, and the presolve's handling of the typed entries.
#ifndef KLSOL_SIMPLEX_SUCCESSIVE_LP_H
#define KLSOL_SIMPLEX_SUCCESSIVE_LP_H

#include <cstdint>
#include <vector>

namespace kl {

// Body of KLRECURSE and of the RECURSE command: from an optimal solution,
// recomputes the typed coefficients, writes them into the matrix and
// re-optimises, pass after pass, until the CV columns stop moving (or,
// without CV entries, the objective stops changing) or NRCRLP passes are
// done. Status word as for every body.
void recurse_problem();

// Applies the row-type entries NE and NL.
void fix_recurse_rows();

// One pass of the coefficient entries from the current solution, damped by
// ZTSTEP; the first pass of a run damps against the matrix, later ones
// against the previous pass. Rewrites the matrix and the row copy. False
// when the element space could not grow (message given, status set).
bool update_recurse_coefficients(bool first_pass);

// For the presolve and the global search's work file: current := base
// (and the matrix's value where the element exists, which is inserted
// otherwise); apply_recurse_values writes the current values into the
// matrix (and the SB bounds) without damping.
bool reset_recurse_values();
bool apply_recurse_values();

// The presolve's renumbering, from arrays in the old numbering (1-based,
// 1..old nseq): the new position of each old one (0 when removed), and the
// old lower bounds and status words (the fixed value and scale exponent of a
// removed argument, which is folded into the entry's base). The entries'
// marks (PS_PROTECTED) are cleared on the new positions of the current
// status array.
void renumber_recurse_entries(const int32_t* new_position, const double* old_lower, const int32_t* old_status);

// Counts the CV entries whose column value moved from the recorded value
// beyond the entry's own tolerance; true when none moved.
bool count_moved_entries(int32_t& count);

// At the pass limit: sets the moved mark (PS_MARK) on every CV column that
// still moves, clears it on the others, and stores the count in the moved
// count attribute.
void mark_moved_columns();

// For the solution-file writer: the next CV column above p carrying the
// moved mark, or nseq + 1 when there is none or the last run did not stop
// with moving columns.
int32_t next_recurse_column(int32_t p);

// For the same writer: the value recorded by the column's CV entry, 0 when
// the column has none.
double recorded_recurse_value(int32_t column);

// The current values of the entries of kinds DV, MU, CL, BX and SB, in entry
// order, for the global search's work file.
int32_t count_recurse_values();
void save_recurse_values(std::vector<double>& values);
// Copies back what save_recurse_values gave; false when the count differs.
bool restore_recurse_values(const std::vector<double>& values);

// Marks (PS_PROTECTED) every row and column that a typed entry names so that
// the presolve keeps it; SB entries take the column's upper bound as base.
void mark_recurse_variables();

}  // namespace kl

#endif  // KLSOL_SIMPLEX_SUCCESSIVE_LP_H
