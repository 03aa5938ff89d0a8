// The barrier's variable classes: during the iterations the positions lie in
// class order so that every vector loop runs over a contiguous range.
//
// Class order: removed columns, free columns (col_bound_code 0),
// lower-bounded columns (> 0), boxed columns (< 0), boxed slacks
// (slack_bound_code < 0), lower-bounded slacks (> 0), equality slacks (0),
// removed slacks. A position whose var_state is below -1 is removed whatever
// its code; within a class positions keep their relative order; columns stay
// at 1..n and slacks at n+1..n+m.
//
// `barrier_class_ranges` (16 ints, entries 1..16; an empty class has
// last = first - 1):
//    1 first free column        9 last free column
//    2 first lower column      10 last lower column
//    3 first boxed column      11 last boxed column
//    4 first boxed slack       12 last boxed slack
//    5 first lower slack       13 last lower slack
//    6 first equality slack    14 last equality slack
//    7 1                       15 n + m
//    8 first removed slack     16 number of removed columns
// Unions: active columns 1..11, active slacks 4..14, active positions
// 1..14, lower-bounded positions 2..13, boxed positions 3..12, removed
// columns 7..16, removed slacks 8..15. Entry 1 = -1: not classified yet.
//
// The permutation pair (two int arrays of n+m, the caller's): the order map
// (current position -> entry position) and its inverse. The first call of
// classify_barrier_variables sets both; reclassify_barrier_variables keeps
// the order map and uses the inverse as scratch; the last classify call
// needs only the order map.
//
// While classified, matrix row indices are slack positions n+i and move with
// their slack; the quadratic pattern's row indices are column numbers and
// move likewise. Each quadratic pair is stored once; after a classify call
// it lies in the column of the smaller position (entries within a column are
// not sorted); a reclassification keeps the orientation it finds.
//
// Scratch: classify copies the matrix (matrix_nz entries) and builds the new
// quadratic pattern (its stored entries) in the free tails `index_tail`,
// `value_tail` (1-based, entries after matrix_nz + quad_nz of the factor
// spaces): they need max(matrix_nz, stored quadratic entries) entries, which
// a factor space of at least 2 x (matrix_nz + quad_nz) gives. The
// reclassification keeps the factor lists that live in that area and moves
// the matrix and the pattern in place instead.
#ifndef KLSOL_BARRIER_ITERATE_VARIABLE_CLASSES_H
#define KLSOL_BARRIER_ITERATE_VARIABLE_CLASSES_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

enum BarrierClassRange : int32_t {
  kFirstFreeColumn = 1,
  kFirstLowerColumn = 2,
  kFirstBoxedColumn = 3,
  kFirstBoxedSlack = 4,
  kFirstLowerSlack = 5,
  kFirstEqualitySlack = 6,
  kFirstPosition = 7,
  kFirstRemovedSlack = 8,
  kLastFreeColumn = 9,
  kLastLowerColumn = 10,
  kLastBoxedColumn = 11,
  kLastBoxedSlack = 12,
  kLastLowerSlack = 13,
  kLastEqualitySlack = 14,
  kLastRemovedSlack = 15,
  kLastRemovedColumn = 16,
};

inline constexpr int32_t kBarrierClassRangeCount = 16;

// First call (ranges[1] < 0): partitions columns and slacks into class order,
// fills the ranges and the permutation pair, and moves the matrix, the
// quadratic pattern and the vectors along. Later call (ranges[1] >= 0): takes
// every position back to where the order map says it came from; the ranges
// are left as they were. `list_a`..`list_d` and `int_work` are int scratch
// of n + m, `diag` double scratch of n + m (contents lost). s, w and the
// directions are not moved.
void classify_barrier_variables(barrier_params& params, int32_t* ranges, int32_t* order_map,
                                int32_t* order_inverse, int32_t* matrix_start,
                                int32_t* factor_index, double* factor_value, int32_t* int_work,
                                int32_t* index_tail, double* value_tail, int32_t* col_bound_code,
                                int32_t* slack_bound_code, int32_t* var_state, int32_t* list_a,
                                int32_t* list_b, int32_t* list_c, int32_t* list_d, double* cost,
                                double* rhs, double* upper, double* x, double* z, double* y,
                                double* quad_diag, int32_t* quad_start, double* diag);

// Repartitions the classified problem after positions were removed or lost
// their upper bound, carrying the iterate, the directions and the factor
// structure (pivot order, rank-indexed factor_first / factor_last,
// supernode_end, supernode_mark; pivots of removed positions are dropped and
// params.pivot_count lowered). quad_nz becomes the number of stored
// quadratic entries. Ends with matrix_end reset and compact_factor_columns
// (and compact_matrix_columns when quad_nz > 0); pivot_rank is rebuilt
// (n + m + 1 for positions without a pivot). Afterwards the order map maps
// to entry positions again; order_inverse holds scratch.
void reclassify_barrier_variables(
    barrier_params& params, int32_t* ranges, int32_t* order_map, int32_t* order_inverse,
    int32_t* matrix_start, int32_t* matrix_end, int32_t* factor_index, double* factor_value,
    int32_t* int_work, int32_t* col_bound_code, int32_t* slack_bound_code, int32_t* var_state,
    int32_t* list_a, int32_t* list_b, int32_t* list_c, int32_t* list_d, double* cost, double* rhs,
    double* upper, double* x, double* s, double* z, double* w, double* y, double* dx, double* dz,
    double* dw, double* dy, double* quad_diag, int32_t* quad_start, double* diag,
    int32_t* pivot_order, int32_t* factor_first, int32_t* factor_last, int32_t* supernode_end,
    int32_t* supernode_mark, int32_t* pivot_rank);

// Moves the entries of removed rows (var_state below -1) behind the active
// part of every active column: kept entries first in their order, the others
// after them in reverse. The range compacted is the column up to factor_last of its
// pivot rank for an in-place column (factor_first <= matrix_nz), else the
// whole stored column; matrix_end (and an in-place factor_last) end at the
// last kept entry. Removed columns get an empty active part. `value_scratch`
// and `index_scratch` hold one column (m entries).
void compact_factor_columns(const barrier_params& params, const int32_t* ranges,
                            const int32_t* matrix_start, int32_t* matrix_end,
                            const int32_t* factor_first, int32_t* factor_last,
                            int32_t* factor_index, double* factor_value, const int32_t* var_state,
                            double* value_scratch, int32_t* index_scratch,
                            const int32_t* pivot_rank);

// Drops the quadratic entries of removed columns (either end) from the
// pattern, rebuilding quad_start (quad_nz is updated by the next
// reclassification), and zeroes quad_diag of removed columns.
void compact_matrix_columns(const barrier_params& params, int32_t* quad_start, double* quad_diag,
                            int32_t* factor_index, double* factor_value, const int32_t* var_state);

}  // namespace kl

#endif
