// Adding rows written in the original columns to a presolved problem: the
// body of KLADDROWS_PRE. Each new row is checked and scaled in original
// terms, restated in the presolved variables by walking the presolve record
// stack from its top (newest reduction first), and appended to the
// presolved problem like a row of addrow. The original problem receives
// each added row too, after its own rows, and the position map names it for
// the presolved row: postsolve then maps the row's value, dual and basis
// status back, and the clean-up run on the original problem keeps to it.
//
// How each record type acts on a row being translated (coefficient a_k of
// position k, right-hand side b):
//   fixings with a stored value (forcing row entries, fixed column,
//   duplicate-column basic, a removed column of a bound change): b -= v a_k;
//   column elimination, and a column singleton of an equality row: the
//   column is replaced through its stored row (x_q = (b_r - sum a_rk x_k) /
//   a_rq, exactly as postsolve recomputes it);
//   reductions justified by costs (column at bound, dominated column,
//   duplicate columns), a column singleton of an inequality row and the
//   indicator of an entity split: the removed column's value is not an
//   affine function of the presolved variables, so a row that needs it is
//   not added (code 1);
//   row singletons and duplicate rows remove no column: no effect.
// A column removed by one record can reappear in the row when an older
// record substitutes through a stored row that holds it; it is then treated
// by the same removal again.
#ifndef KLSOL_PROBLEM_ADD_ROWS_PRESOLVED_H
#define KLSOL_PROBLEM_ADD_ROWS_PRESOLVED_H

#include <cstdint>

#include "problem/add_rows_cols.h"

namespace kl {

// Result codes of KLADDROWS_PRE, for the call and per row.
enum AddRowsPresolvedCode : int32_t {
  ADDPRE_ADDED = 0,
  ADDPRE_UNTRANSLATABLE = 1,  // needs a column removed in a way a new row cannot carry
  ADDPRE_EMPTY_VIOLATED = 2,  // no entries left and the right-hand side violates the type
  ADDPRE_NO_MEMORY = 3,
  ADDPRE_EMPTY = 4,           // no entries left, satisfied; not added
  ADDPRE_TINY_ENTRY = 5,      // added, but an entry is tiny next to the others
};

// The presolved problem's own dimension words and objective constant, kept
// while the original problem is current.
struct PresolvedWords {
  int32_t nrow = 0;
  int32_t nseq = 0;
  int32_t first_col = 1;
  int32_t objective_row = -2;
  double objective_constant = 0.0;
};

// to_original 1: the original problem's arrays 1..9, dimension words,
// objective row and objective constant become current, the presolved ones
// kept in `kept`; 0: the presolved ones come back and nelem is recounted
// from the row copy. elem_space loses NEXTRA going to the original and
// regains it coming back; spare_rows_left follows first_col - nrow - 1.
void swap_original_arrays(int32_t to_original, PresolvedWords& kept);

// The body of KLADDROWS_PRE: the call's result code. row_codes, when not
// null, receives one code per row processed (rows without entries get none).
// Errors of the addition (405, 423, 413, 415, 431, ...) set the status word
// (32) and end the call; rows appended before an error stay. Every row is
// checked (405, 423) before any is added; 413 and 415 come when either
// problem has no room left: neither grows. On a problem
// that is not presolved the rows go to addrow.
int32_t add_rows_presolved(const AddedRows& call, int32_t* row_codes);

}  // namespace kl

#endif
