// Successive linear programming over the typed entries of a problem file:
// the bookkeeping of the convergence columns (kind CV) that the solution-file
// writer and the global search rely on, and the presolve's marking of the
// positions that typed entries name.
#ifndef KLSOL_SIMPLEX_SUCCESSIVE_LP_H
#define KLSOL_SIMPLEX_SUCCESSIVE_LP_H

#include <cstdint>
#include <vector>

namespace kl {

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
