// Numeric L·D·Lᵀ factorisation of the barrier's quasi-definite system: the
// left-looking (pull) forms, and the steps they share with the right-looking
// (push) forms of push_factor.h.
//
// Interface summary (callers: the iteration driver, the starting point, the
// augmented-system factorisation; the solves read the result):
// - Arrays are 1-based; sizes are for N = var_count = n + m positions.
//   factor_index, factor_value  1..factor_space: entries 1..matrix_nz the
//       constraint matrix by columns, the next quad_nz the quadratic pattern
//       (as left by build_lower_pattern), above them the built columns.
//       Column k of L is factor_first[k]..factor_last[k] (rank-indexed), row
//       positions in increasing rank, values stored unscaled (L[r,k]·d_k).
//       Entries 1..matrix_nz + quad_nz are never written.
//   factor_first, factor_last, pivot_order  1..N by rank; pivot_rank 1..N by
//       position, as left by block_supernodes_for_cache. All are rewritten
//       when positions were removed (var_state < -1) since the last call.
//   pivot_inverse  1..N by rank: out 1/d_k, 0 for a dropped pivot.
//   diag  1..N: in the matrix diagonal by position; work vector during the
//       call; out entries 1..pivot_count hold a copy of pivot_inverse.
//   diag_copy  1..N by position (the caller's saved diagonal), y 1..m (row
//       duals): read by the tiny-pivot rule.
//   var_state  1..N: < -1 removed; set to -1 for a dropped pivot, -2 for a
//       dependent row.
//   update_lists  1..2N ints: next links at [1..N], heads at [N+1..2N].
//   factor_cursor  1..N ints.
//   supernode_end, supernode_mark  1..N by rank (block_supernodes_for_cache).
//   matrix_start, quad_start  1..n+1 (with-columns forms).
//   scratch  1..N ints (with-columns forms).
//   pivot_dropped (out): 1 when a pivot was dropped, else 0.
//   removed_row_count (in/out): raised by one per row set to -2.
// - Written in params: pivot_count (removed ranks leave the order) and
//   in_place_count (number of leading ranks whose column is the matrix
//   column itself).
// - factor_normal_matrix: every structural column is an in-place column
//   ranked before all rows. factor_normal_matrix_with_columns: structural
//   columns may have built columns (quadratic objective, dense columns,
//   augmented ordering); the matrix is first assembled into them.
// - Pivot test: |d| >= max(TRABS·|R|, TZER) with R the row-source part of the
//   diagonal; otherwise regularise_small_pivot decides (REGULARIZE bits 0x8
//   structural, 0x10 row with a live structural entry, 0x20 bare row).
// - Nothing is allocated; counts and sizes are computed in 64 bits.
#ifndef KLSOL_BARRIER_FACTOR_NUMERIC_FACTOR_H
#define KLSOL_BARRIER_FACTOR_NUMERIC_FACTOR_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The arrays of one factorisation call, gathered once so that the pull and
// push forms pass them along together; see the interface summary above for
// each. matrix_start, quad_start and scratch are null in the normal forms,
// push_work in the pull forms.
struct FactorArrays {
  int32_t* factor_index;
  double* factor_value;
  int32_t* factor_first;
  int32_t* factor_last;
  int32_t* pivot_order;
  int32_t* pivot_rank;
  double* pivot_inverse;
  double* diag;
  const double* diag_copy;
  const double* y;
  int32_t* var_state;
  int32_t* update_lists;
  int32_t* factor_cursor;
  int32_t* supernode_end;
  int32_t* supernode_mark;
  const int32_t* matrix_start;
  const int32_t* quad_start;
  int32_t* scratch;
  double* push_work;
};

void factor_normal_matrix(barrier_params& params, int32_t* factor_index, double* factor_value,
                          int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order, int32_t* pivot_rank,
                          double* pivot_inverse, double* diag, const double* diag_copy, const double* y,
                          int32_t* var_state, int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                          int32_t* supernode_mark, int32_t& pivot_dropped, int32_t& removed_row_count);

void factor_normal_matrix_with_columns(barrier_params& params, int32_t* factor_index, double* factor_value,
                                       int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                                       int32_t* pivot_rank, double* pivot_inverse, double* diag,
                                       const double* diag_copy, const double* y, int32_t* var_state,
                                       int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                                       int32_t* supernode_mark, const int32_t* matrix_start,
                                       const int32_t* quad_start, int32_t* scratch, int32_t& pivot_dropped,
                                       int32_t& removed_row_count);

// The tiny-pivot rule for the pivot at `position` whose column of L is
// entries first..last, after |d| missed `tolerance`. Writes the inverse to
// store into `inverse` (0 when the pivot is not regularised), sets `dropped`
// (0, or 1 with var_state -1), and marks a bare row whose dual is zero as a
// dependent row (var_state -2, removed_row_count + 1). `diag_copy_value` is
// the saved diagonal of the position.
void regularise_small_pivot(const barrier_params& params, const int32_t* factor_index, const double* factor_value,
                            int32_t first, int32_t last, int32_t* var_state, int32_t& dropped,
                            int32_t& removed_row_count, int32_t position, const double* y, double& inverse,
                            double diag_copy_value, double tolerance);

// ---- Steps shared with the push forms (push_factor.cpp) ----

// Drops removed positions (var_state < -1) from the structure when any rank
// has one: renumbers the ranks, follows supernode_end, compacts built
// columns, lowers pivot_count. Then sets in_place_count. Returns true when
// some in-place column still lists a removed position (the factorisations
// then skip such entries).
bool prepare_factor_structure(barrier_params& params, int32_t* factor_index, double* factor_value,
                              int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                              int32_t* pivot_rank, const int32_t* var_state, int32_t* supernode_end,
                              int32_t* supernode_mark);

// Makes every built column the lower triangle of the matrix in pivot order
// (matrix entries, minus the quadratic entries). diag must be zero on entry
// and is zero again on exit; heads, links, cursors and scratch are work
// arrays of N + 1 ints.
void assemble_built_columns(const barrier_params& params, const int32_t* factor_index, double* factor_value,
                            const int32_t* factor_first, const int32_t* factor_last, const int32_t* pivot_order,
                            const int32_t* pivot_rank, const int32_t* var_state, const int32_t* matrix_start,
                            const int32_t* quad_start, double* diag, int32_t* heads, int32_t* links,
                            int32_t* cursors, int32_t* scratch);

// The pivot test and tiny-pivot rule for rank k: d against reference r.
// Stores the inverse in pivot_inverse[k]; raises pivot_dropped.
void finalise_pivot(const barrier_params& params, int32_t k, double d, double r, const int32_t* factor_index,
                    const double* factor_value, const int32_t* factor_first, const int32_t* factor_last,
                    const int32_t* pivot_order, double* pivot_inverse, const double* diag_copy, const double* y,
                    int32_t* var_state, int32_t& pivot_dropped, int32_t& removed_row_count);

// The next entry after c of a column ending at `last` whose position is not
// removed (last + 1 when none); with `skip_removed` false simply c + 1.
inline int32_t next_live_entry(const int32_t* factor_index, const int32_t* var_state, int32_t c, int32_t last,
                               bool skip_removed) {
  ++c;
  if (skip_removed) {
    while (c <= last && var_state[factor_index[c]] < -1) ++c;
  }
  return c;
}

}  // namespace kl

#endif
