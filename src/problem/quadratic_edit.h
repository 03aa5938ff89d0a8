// Changing the quadratic part of the objective (0.5 x'Qx, Q symmetric) and
// keeping it in step when columns go.
//
// Layout: the start-of-list convention of problem/loader.h (ids 82 to 85):
// the upper list of column j (entries i >= j, diagonal included) runs from
// id 82[j] to id 82[j+1] - 1, the lower list (entries i < j) from id 83[j] to
// id 83[j+1] - 1, the lower lists follow the upper ones (83[first_col] =
// 82[nseq+1]) and 83[nseq+1] = nqelem + 1. Every list increases in i. An
// off-diagonal pair is held twice with one value, a diagonal entry once.
// Ids 84 and 85 keep spare room behind the last list (quadratic_spare).
//
// Quadratic columns are never scaled (scaling skips PS_QUADRATIC), so a
// column that receives its first entry is first brought back to factor 1;
// the stored coefficients are then the caller's values.
#ifndef KLSOL_PROBLEM_QUADRATIC_EDIT_H
#define KLSOL_PROBLEM_QUADRATIC_EDIT_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

namespace routine {
inline constexpr const char* kChgqobj = "chgqobj ";
inline constexpr const char* kChgmqobj = "chgmqobj";
}  // namespace routine

// Entries a growth of ids 84 and 85 leaves free behind the lists.
inline constexpr int32_t kQuadraticGrowthMargin = 100;

// Free entries of ids 84 and 85 behind the last list.
int64_t quadratic_spare();

// Body of KLCHGMQOBJ: merges count (first, second, value) triplets into Q;
// first and second are caller column indices. A value within ZTOLDA of zero
// removes the pair; a pair given more than once in one call (in either
// order) takes its last value. Refuses with message 91 without a problem,
// 268 while presolved, 131 for a column index outside the columns (before
// anything is stored), 20 when the storage cannot grow (nothing changed).
// Clears PF_SOLUTION_CURRENT when Q changed. Returns status_code.
int32_t chg_qobj_many(const int32_t* first, const int32_t* second, const double* values, int32_t count);
// Body of KLCHGQOBJ: one triplet.
int32_t chg_qobj_one(int32_t first, int32_t second, double value);

// Drops column position p from Q: its entries, and its own two lists, and
// moves the lists of the later columns down one position (starts included)
// with every stored position above p lowered by one, as the later columns
// move when p is deleted. p outside first_col..nseq: message 131, status 32.
// No quadratic part: nothing to do.
void remove_quadratic_column(int32_t p);

// Renumbers Q after columns are deleted in one pass: new_position[p] for
// p = first_col..old_nseq is the position the column moves to (in increasing
// order) or 0 for a deleted column. Keeps exactly the entries whose two
// columns remain and the lists of the kept columns at their new positions;
// the start entries from the new nseq + 1 on describe empty lists. Call it
// before nseq is lowered or after, with the old nseq given.
void remap_quadratic_columns(OneBased<int32_t> new_position, int32_t old_nseq);

// Gives the count columns about to be appended at nseq+1.. empty lists (with
// a quadratic part; nothing otherwise). Call before nseq grows.
void add_empty_quadratic_columns(int32_t count);

}  // namespace kl

#endif
