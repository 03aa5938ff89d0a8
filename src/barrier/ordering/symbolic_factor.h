// Symbolic factorisation of the barrier system: the row structure of every
// column of L for a given pivot order, with the elimination tree it implies
// and the factor's entry and work counts. No numeric work happens here.
//
// Structure shared with the numeric factorisation (1-based, positions as in
// barrier_params.h):
// - `pivot_order`[1..`pivot_count`]: positions by rank; removed positions
//   (state below -1) are left out. `pivot_rank`[p] is the rank of p, or
//   n + m + 1 when p is not in the order.
// - Column list of L for position p: `factor_index`[`factor_first`[p] ..
//   `factor_last`[p]], the row positions pivoted after p in increasing rank;
//   the diagonal is not stored. The numeric factorisation puts L's values in
//   `factor_value` at the same entries. Inside these routines `factor_first`
//   and `factor_last` are indexed by position; analyse_normal_equations turns
//   them into rank-indexed arrays at its end.
// - An in-place column is a structural column whose list is its own matrix
//   column (`factor_first`[p] <= `matrix_nz`); every other list is built in
//   the free region from `matrix_nz` + `quad_nz` + 1 upward, in pivot order.
// - The elimination parent of p is the position of its first list entry.
// - `factor_flops` is 0.5 x the sum over columns of len x (len + 1).
#ifndef KLSOL_BARRIER_ORDERING_SYMBOLIC_FACTOR_H
#define KLSOL_BARRIER_ORDERING_SYMBOLIC_FACTOR_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The counts of one symbolic factor; 64-bit and double because a factor of a
// few hundred thousand columns already passes 2^31 entries of work.
struct symbolic_counts {
  int64_t factor_nonzeros = 0;  // list entries of all columns of L
  int64_t row_nonzeros = 0;     // of which in lists of row positions
  double factor_flops = 0.0;    // 0.5 x sum of len x (len + 1), all columns
  double in_place_flops = 0.0;  // of factor_flops, owed to in-place columns
};

// Ints per position of the `work` array of compute_symbolic_factor and
// build_lower_pattern: work holds kSymbolicWorkPerPosition x (n + m + 2) ints.
// `value_work` holds n + m + 2 doubles.
inline constexpr int32_t kSymbolicWorkPerPosition = 7;

// Rewrites the quadratic pattern (entries `matrix_nz`+1 .. of factor_index
// and factor_value, columns by `quad_start`[1..n+1]) so that column j lists
// exactly its quadratic neighbours (either triangle) pivoted after j, in
// increasing rank, values moving along; columns not in `pivot_order` end up
// empty. Needs `quad_nz` free entries after the pattern as temporary room
// (the analysis' space test guarantees them). `pivot_rank` (n+m+2 ints) is
// filled as a by-product.
void build_lower_pattern(barrier_params& params, const int32_t* pivot_order, int32_t* quad_start,
                         int32_t* factor_index, double* factor_value, int32_t* pivot_rank,
                         int32_t* work, double* value_work);

// Builds the column lists of L for `pivot_order` (position-indexed
// `factor_first`, `factor_last`), sorting every matrix column of a pivoted
// column into increasing rank (values moving along) and cutting off entries
// of removed rows. Fills `pivot_rank` (n+m+2 ints) and `counts`.
// status: 0 done; -1 when fewer than n + m free entries remain before a
// column is built (the lists are then incomplete).
void compute_symbolic_factor(barrier_params& params, const int32_t* matrix_start, const int32_t* pivot_order,
                             int32_t* factor_index, double* factor_value, int32_t* factor_first,
                             int32_t* factor_last, const int32_t* var_state, const int32_t* quad_start,
                             int32_t* pivot_rank, int32_t* work, double* value_work, symbolic_counts& counts,
                             int32_t& status);

}  // namespace kl

#endif
