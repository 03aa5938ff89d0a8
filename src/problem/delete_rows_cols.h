// Deleting rows and columns of a loaded problem: the bodies of KLDELROWS
// (delrow) and KLDELCOLS (delcol).
//
// Indices refer to the numbering before the call, in the caller's base
// (IFDBG); one given twice is deleted once. The rows (columns) kept close up
// in their order; the positions freed become spare rows (spare columns after
// nseq), so first_col never moves. Everything indexed by position moves with
// its row or column, and everything that holds positions is renumbered: the
// matrix, the entity columns, the set members, the objective row, the
// quadratic objective and the basis header.
//
// Every index is checked before anything changes, so an index error (status
// 32 after its message) leaves the problem as it was.
#ifndef KLSOL_PROBLEM_DELETE_ROWS_COLS_H
#define KLSOL_PROBLEM_DELETE_ROWS_COLS_H

#include <cstdint>

namespace kl {

namespace routine {
inline constexpr const char* kDelcol = "delcol  ";
inline constexpr const char* kDelrow = "delrow  ";
}  // namespace routine

// Deletes columns. A column that is a global entity loses its entity (later
// entities keep their order); a member of a special ordered set leaves its
// set. Errors: 91 no problem, 268 presolved, 431 (IFMEM bit 0x2), 7 a
// negative count, 601 a null array, 405 bad column index; 430 from the
// column-type change while a global search runs. Clears
// PF_SOLUTION_CURRENT, frees the factor and the row lists, and rebuilds the
// row copy.
void delcol(int32_t count, const int32_t* indices);

// Deletes rows. Deleting the objective row sets objective_row to -2. The
// spare rows left behind are fixed, empty and named "**nnnnn*" (their
// positions). Errors: 91, 268, 7, 601, 402 bad row index. Clears
// PF_SOLUTION_CURRENT, frees the factor and the row lists, and leaves both
// matrix copies valid.
void delrow(int32_t count, const int32_t* indices);

}  // namespace kl

#endif
