// The crossover's starting basis: from the classes the interior solution
// gives every position, one basic variable per row with a basis matrix that
// stays triangular (or, with a fill pass, nonsingular by elimination).
//
// Every array is 1-based and the caller's; nothing is allocated here. The
// classes on entry (crossover_class of the solution classification): a
// column of 1 or -1 is a basic candidate (-1, free, becomes 1); a row of 0
// needs a structural column, 1 makes its slack basic (3), -1 too (2, counted
// as degenerate); any other row code counts as covered. On exit codes 2 and 3
// mean basic: a pivot column has 3, a column added by the completion (levels
// 4 and above) 2, a row whose slack is basic 2 or 3.
//
// level (ICRASH): 0 or less none; 1 singletons; 2 and triangular; 3 and a
// fill pass by elimination; 4 as 3, rows left over get kept columns before
// their slacks; 5 and above singletons and triangular, rows left over get
// the sorted columns before their slacks.
#ifndef KLSOL_BARRIER_CROSSOVER_CROSSOVER_BASIS_H
#define KLSOL_BARRIER_CROSSOVER_CROSSOVER_BASIS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// What the two statistics lines report.
struct CrossoverBasisCounts {
  int32_t candidates = 0;   // candidate columns
  int32_t singletons = 0;   // S
  int32_t triangular = 0;   // T
  int32_t fill = 0;         // F
  int32_t to_cover = 0;     // U after the singleton pass
  int32_t interior = 0;     // rows whose slack is interior or degenerate
  int32_t degenerate = 0;
  int32_t given_up = 0;
};

// The matrix by columns: column j owns elements col_start[j]..col_end[j] of
// elem_row/elem_value, which are permuted within each column; fill columns
// are stored from nz + 1 while the position stays below element_limit - m.
// row_list_cols needs room for one entry per candidate element.
void build_crossover_basis(barrier_params& params, const int32_t* m, const int32_t* n, const int32_t* nz,
                           const int32_t* element_limit, const int32_t* unused_count, int32_t* col_start,
                           int32_t* col_end, int32_t* row_list_start, int32_t* row_list_end,
                           int32_t* uncovered_start, int32_t* uncovered_count, int32_t* row_candidates,
                           int32_t* elem_row, int32_t* row_list_cols, double* elem_value, int32_t* col_code,
                           int32_t* row_code, int32_t* covered, int32_t* col_list, double* dense,
                           int32_t* row_next, int32_t* row_prev, int32_t* pivot_list, int32_t* col_state,
                           double* cleared, const int32_t* level, CrossoverBasisCounts* counts = nullptr);

}  // namespace kl

#endif
