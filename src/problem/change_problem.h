// Changing the loaded problem in place between solves: column bounds, matrix
// coefficients, costs, right-hand sides, ranges, row types and column types.
//
// Every body starts with status 0 and refuses with message 91 (status 32)
// when no problem is loaded. Values come in the caller's terms and are
// stored scaled by the power-of-two factors of the positions involved
// (factor/scaling.h): bounds divided by the column factor, costs multiplied
// by it, right-hand sides and ranges multiplied by the row factor, a
// coefficient multiplied by both. A given bound or range of magnitude 5e19
// or more is infinite and stored as +-1e20.
//
// Indices are in the caller's base (IFDBG): a row index i is row i + IFDBG,
// a column index k is position first_col + k + IFDBG - 1. Every item of a
// call is checked before anything is stored, so an index or letter error
// (status 32, the error report under the routine's name) leaves the problem
// and its flags exactly as they were. The caller's arrays are only read.
//
// Each body drops exactly the derived data its change makes stale:
//   chgbds             PF_SOLUTION_CURRENT when a bound changed; row lists
//   chgcof, chgmcof    PF_SOLUTION_CURRENT, the factor (0x4280), PF_ROW_COPY
//                      when an entry appears or goes; row lists
//   chgobj, chgrhs     PF_SOLUTION_CURRENT, the factor (0x4280); row lists
//   chgrng, chgrowtype PF_SOLUTION_CURRENT (the slack bounds or the
//                      right-hand side moved); row lists
//   chgcoltype         row lists; PF_SOLUTION_CURRENT when a column's bounds
//                      or scaling change; the factor when a column entering
//                      the entities loses its scale factor
// The factorisation survives bound, range and row-type changes: they move
// no matrix entry.
#ifndef KLSOL_PROBLEM_CHANGE_PROBLEM_H
#define KLSOL_PROBLEM_CHANGE_PROBLEM_H

#include <cstdint>

namespace kl {

// Routine names printed as the first insert of the error messages.
namespace routine {
inline constexpr const char* kChgbds = "chgbds  ";
inline constexpr const char* kChgcof = "chgcof  ";
inline constexpr const char* kChgmcof = "chgmcof ";
inline constexpr const char* kChgobj = "chgobj  ";
inline constexpr const char* kChgrhs = "chgrhs  ";
inline constexpr const char* kChgrng = "chgrng  ";
// chgcoltype and chgrowtype are named in runtime/frame.h.
}  // namespace routine

// Bound letters U (upper), L (lower), B (both). Errors: 405 bad column,
// 416 bad letter (value: the item number; inserts the item in the caller's
// count and the letter). A bound moves only when it differs from the stored
// one by ZTOLDA or more.
void chgbds(int32_t count, const int32_t* columns, const char* letters, const double* values);
// One coefficient: 402 bad row, 405 bad column, 415 no element space; 268
// while presolved. A value within ZTOLDA of zero removes the entry.
void chgcof(int32_t row, int32_t column, double value);
// Many coefficients in one pass over the matrix, with the result of the same
// chgcof calls made in order: a pair given twice takes its last value.
void chgmcof(const int32_t* rows, const int32_t* columns, const double* values, int32_t count);
// Costs; an index of -1 (before the base shift) sets the objective constant
// (double slot kObjectiveConstantSlot of problem/setup.h, stored negated).
void chgobj(int32_t count, const int32_t* columns, const double* values);
// Right-hand sides (402 bad row).
void chgrhs(int32_t count, const int32_t* rows, const double* values);
// Ranges (402 bad row): an E or G row given a range becomes a range row (an
// L row with a bounded slack) over the interval the range describes; minus
// infinity turns the row into a G row.
void chgrng(int32_t count, const int32_t* rows, const double* values);
// Row types E, G, L, N, R (402 bad row, 401 bad letter). R and L both give
// an L row without range.
void chgrowtype(int32_t count, const int32_t* rows, const char* letters);
// Column types I (integer), B (binary), C (continuous). Errors: 405, 427
// bad letter, 430 while a global search runs, 55 entity not found, 20 no
// entity space. A column that becomes an entity loses its scaling.
void chgcoltype(int32_t count, const int32_t* columns, const char* letters);

// Turns the entity column at position p continuous (as chgcoltype with C):
// its entity leaves the entity arrays, later entities move down one place,
// and the entity bits of its status word are cleared. A set member keeps its
// sets. Returns false (nothing changed) when p holds no column entity.
bool remove_column_entity(int32_t p);

// Brings one column back to factor 1: its entries, cost and bounds are
// stored in the caller's terms and its exponent byte becomes 64. The row
// copy, when valid, follows. Used wherever a column must stay unscaled
// (global entities, quadratic columns).
void unscale_column(int32_t position);

}  // namespace kl

#endif
