// Matrix storage: the row-wise copy, the column-wise matrix rebuilt from it,
// the solver work arrays, the row lists and the growth of problem storage.
//
// Row-wise copy (valid while problem_flags has PF_ROW_COPY): row r owns the
// entries row_copy_start[r] .. row_copy_start[r+1]-1 (id 37, rows 1..nrow+1)
// of row_copy_col (id 35, column positions, increasing within a row) and
// row_copy_val (id 36).
//
// Row lists (valid while problem_flags has PF_ROW_LISTS), over the column-wise
// element indices: head (id 67, per row, 0 for an empty list), next (id 68,
// per element, nelem+1 ends a list), column (id 71, per element, entry
// nelem+1 holds nseq+1) and, while they are built, the last element of row r
// in entry r+1 of id 70. A list runs in increasing element, hence column,
// order.
#ifndef KLSOL_PROBLEM_MATRIX_STORAGE_H
#define KLSOL_PROBLEM_MATRIX_STORAGE_H

#include <cstdint>

#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

// Length in 4-byte words of reduced_costs (id 42), which doubles as scratch
// for names, node images and typed entries; growth enlarges it when short.
extern int64_t reduced_costs_length;

// Presolve fill-in capacity in force (a copy of NEXTRA taken by the set-up);
// the row-wise copy leaves this much room beyond the element space.
extern int32_t fill_capacity;

// Typed entries of a problem file (array id 63, records numbered from 1,
// recurse_entry_count of them). Position fields are 1-based, 0 for none.
struct RecurseEntry {
  int32_t column;   // kinds 1-5, 8: a position; kinds 6, 7: 1
  int32_t row;      // kinds 1-4, 6, 7: a row; kinds 5, 8: next entry of the kind
  int32_t a;        // kinds 1-4, 8: a position; kind 5: float tolerance bits
  int32_t b;        // kinds 1, 2: a position; kind 5: float recorded value bits
  int8_t scale;     // power-of-two exponent + 64 of kinds 1-3
  uint8_t kind;     // RecurseKind
  uint8_t unused[2];
  int32_t element;  // kinds 1-4: matrix element index
  double base;
  double current;
};
static_assert(sizeof(RecurseEntry) == 40, "typed entries are 40-byte records");

enum RecurseKind : uint8_t {
  RK_DV = 1,
  RK_MU = 2,
  RK_CL = 3,
  RK_BX = 4,
  RK_CV = 5,
  RK_NE = 6,
  RK_NL = 7,
  RK_SB = 8,
};

extern int32_t recurse_entry_count;
// The record array, or null when the problem has none.
RecurseEntry* recurse_entries();

// R and P of the solver work arrays: room for the original problem (so that a
// presolved problem can be postsolved in place) and for the current one.
int32_t work_rows();
int32_t work_positions();

// Every routine returning int32_t returns a failure code: 0, or the id of
// the array that could not be allocated. None of them prints; their callers
// report message 20.

// Allocates the solver work arrays (ids 40, 42, 41, 65, 58, 64, 45, 44, 35,
// 36, 37, 38, 39, 89..93) afresh and sets PF_WORK_ARRAYS; rebuilds the row
// copy when PF_ROW_COPY was set. A failure frees what it had allocated.
int32_t alloc_solver_work_arrays();
// Clears PF_WORK_ARRAYS, frees the row lists and the solver work arrays;
// PF_ROW_COPY stays, so the next allocation rebuilds the copy.
void free_solver_work_arrays();
// The row-wise copy from the column-wise matrix; sets PF_ROW_COPY and nelem.
void build_row_copy();
// The column-wise matrix from the row-wise copy (rows increasing within a
// column); sets PF_COLUMN_COPY and nelem.
void build_column_copy();

// Packs the column-wise matrix in place: each element (row r, value v) stays,
// in row new_row(r, v), unless that is 0; the column starts are rewritten.
// Returns the elements kept.
template <class NewRow>
int32_t pack_column_elements(NewRow new_row) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  int32_t next = col_start[store.first_col];
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t begin = col_start[p];
    const int32_t end = col_start[p + 1];
    col_start[p] = next;
    for (int32_t k = begin; k < end; ++k) {
      const int32_t r = new_row(elem_row[k], elem_value[k]);
      if (r == 0) continue;
      elem_row[next] = r;
      elem_value[next] = elem_value[k];
      ++next;
    }
  }
  col_start[nseq + 1] = next;
  return next - 1;
}

// Element index of (row, column position p) in the column-wise matrix, 0
// when absent.
int32_t find_in_column(int32_t p, int32_t row);

int32_t alloc_row_lists();
// Links every element of the columns that may enter (neither fixed nor basic
// and free) whose row is not free.
void build_row_lists();
void free_row_lists();
void unlink_entering_column(int32_t position);
void link_leaving_column(int32_t position);

// Makes room for the additions beyond the spare room left: rows, columns,
// elements and global entities. Growth of the rows moves every column up by
// the rows gained and shifts every stored column position with it. Every
// block is obtained before anything moves, so a failure (message 20 with the
// array id, status 32) leaves counts and contents as they were. Returns the
// failure code; -1 when no problem is loaded (message 91, status 32).
int32_t grow_problem_storage(int32_t rows, int32_t columns, int64_t elements, int32_t entities);

}  // namespace kl

#endif
