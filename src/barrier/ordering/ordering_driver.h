// The barrier's analysis phase: from the sparsity pattern of the constraint
// matrix (and of the quadratic objective) it builds the ordering graph,
// orders it, turns the order into `pivot_order` and runs the symbolic
// factorisation with post-order and supernode amalgamation.
//
// What a caller (numeric factorisation, augmented system, solves) gets back:
// - params.pivot_count and pivot_order[1..pivot_count]: positions by rank,
//   removed positions (var_state below -1) left out; on the normal-equation
//   path every column precedes every row.
// - factor_first[k], factor_last[k] indexed by RANK k = 1..pivot_count: the
//   column of L of position pivot_order[k] is
//   factor_index[factor_first[k] .. factor_last[k]] (row positions in
//   increasing rank, diagonal not stored; factor_value gets L's values at
//   the same entries). factor_first[k] <= matrix_nz marks an in-place column
//   (its list is its own matrix column, entries sorted by rank).
// - pivot_rank[p] (position-indexed, n+m+2 ints): rank of p, n + m + 1 when
//   p is not pivoted.
// - counts: factor_nonzeros, its row part, factor_flops (after padding).
// - status: 0 done; -2 work space short (factor_space <= 2 x (matrix_nz +
//   quad_nz), a row list starting beyond factor_space - (n+m), or the
//   ordering's room) with pivot_count 0; -1 the factor lists do not fit
//   (pivot_order complete, factor_first/factor_last re-indexed over it).
//
// Memory: the caller sizes the arrays with analysis_work_ints and
// analysis_value_work_doubles; nothing is allocated here.
#ifndef KLSOL_BARRIER_ORDERING_ORDERING_DRIVER_H
#define KLSOL_BARRIER_ORDERING_ORDERING_DRIVER_H

#include <cstdint>

#include "barrier/barrier_params.h"
#include "barrier/ordering/symbolic_factor.h"

namespace kl {

// Ints of the `work` array of analyse_normal_equations: room for the graph,
// the orderings, the row-wise copy of the pattern and the symbolic phases.
int64_t analysis_work_ints(const barrier_params& params);
// Doubles of its `value_work` array.
int64_t analysis_value_work_doubles(const barrier_params& params);

// system_kind: SYSTEM_NORMAL_EQUATIONS (graph over the rows, columns
// eliminated first in natural order, or by their own quadratic order) or
// SYSTEM_AUGMENTED (graph over all positions). pattern_start/pattern_end
// and column_node are those of find_dense_columns (per column, 1..n).
// matrix entries and the quadratic pattern are re-sorted in place (values
// moving along); quad_start may be rewritten by the lower pattern.
void analyse_normal_equations(barrier_params& params, int32_t system_kind, int32_t* var_state,
                              const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* pattern_start,
                              const int32_t* pattern_end, const int32_t* column_node, int32_t* quad_start,
                              int32_t* factor_index, double* factor_value, int32_t* work, double* value_work,
                              int32_t tfind, int32_t* pivot_order, int32_t* pivot_rank, int32_t* factor_first,
                              int32_t* factor_last, symbolic_counts& counts, int32_t& status);

// After a numeric factorisation that set states to -1: columns of state -1
// first (in pivot order), then every position of state >= 0 in pivot order,
// then the rows of state -1 in reverse order of meeting; states -1 become 0
// and positions below -1 are dropped. `work` holds n + m + 2 ints.
void regroup_pivot_order(barrier_params& params, int32_t* pivot_order, int32_t* var_state, int32_t* work);

}  // namespace kl

#endif
