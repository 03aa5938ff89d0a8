// The augmented-system factorisation: orders and factorises the symmetric
// quasi-definite matrix over all live positions at once,
//
//        K = [ diag(1..n) - Q    A' ]      (structural columns 1..n)
//            [ A          diag(n+1..n+m) ] (rows at their slack positions)
//
// choosing each 1x1 pivot during the elimination among the positions of
// smallest degree, under a stability test (TPIV1, TPIV2, TABS). Columns the
// dense-column analysis marked 2 are held back and reinserted only when no
// other pivot is left.
//
// Interface summary
// -----------------
// factorise_augmented_system(params, list_limit, factor_first, factor_last,
//     var_state, matrix_start, quad_start, factor_index, factor_value,
//     pivot_order, diag, pivot_inverse, y, z, dense_mark, work,
//     removed_col_count, removed_row_count, factor_nonzeros, nonzero_bound,
//     factor_flops, unpivoted_count, status)
//
//   In:  params: col_count n, row_count m, var_count, matrix_nz, quad_nz,
//          free_space, ORDERING, TPIV1, TPIV2, TABS, TZER, TFIND.
//        list_limit: free_space + matrix_nz + quad_nz (the top of the list
//          area; the row structures live in factor_index above it, with room
//          free_space, so factor_space must be at least
//          2 * free_space + matrix_nz + quad_nz + 1, as the driver's
//          free_space formula guarantees).
//        var_state[1..n+m]: < -1 removed, anything else live.
//        matrix_start[1..n+1], quad_start[1..n+1]: the matrix and the
//          strictly-lower quadratic pattern in factor_index/factor_value
//          (rows as positions n+i; quadratic entries as column positions;
//          the quadratic values are those of Q, entered into K negated).
//        diag[1..n+m]: the diagonal of K by position (columns negative,
//          rows non-negative by convention; any values are factorised).
//        y[1..m]: row duals (a row with |y| > TZER may be taken as a zero
//          pivot when nothing else is acceptable).
//        dense_mark[1..n+m]: the dense marks of find_dense_columns (columns
//          0, 1 or 2; 2 = held back); overwritten (stability marks).
//        work: kAugmentedWorkArrays * (n + m + 2) ints of scratch
//          (augmented_work_size); contents on exit undefined.
//        removed_col_count, removed_row_count: counts so far (in/out).
//        factor_nonzeros (in/out): raised to the factor's nonzero count when
//          that is larger; nonzero_bound (in/out): lowered to it when
//          smaller.
//   Out: params.pivot_count, pivot_order[1..pivot_count] (positions by rank),
//        factor_first[k], factor_last[k] by rank: column k of L in
//          factor_index/factor_value, row positions in increasing rank,
//          values unscaled (L[r,k] * d_k); in-place columns keep their
//          matrix column (factor_first[k] <= matrix_nz).
//        diag[1..pivot_count] and pivot_inverse[1..pivot_count]: 1/d_k by
//          rank (0 for a row taken as a zero pivot).
//        The matrix columns are sorted by rank (values along), removed rows
//          last; the quadratic pattern is rewritten for the new order
//          (quad_start updated) when quad_nz > 0. Matrix and quadratic
//          values are otherwise left untouched.
//        factor_flops: half the sum of len * (len + 1) over the columns.
//        unpivoted_count: n + m - pivot_count (removed positions included).
//          Live positions left without a pivot get var_state -2 (a row also
//          z := -1, counted into removed_row_count; a column into
//          removed_col_count) and take no part in the factor.
//        status: 0, or BARRIER_SPACE_SHORT (-2) when the space does not
//          suffice (then the outputs are undefined, nothing is read or
//          written outside the arrays as sized above).
//
//   Notes on behaviour:
//   - A column marked 2 that the quadratic pattern couples to another column
//     is factorised in place, not held back (its pairs with smaller columns
//     live in their lists and a reinsertion would miss them).
//   - With quad_nz > 0 the rewrite of the quadratic pattern borrows
//     quad_nz + n + m + 2 entries above the pattern; status -2 when the
//     factor columns reach down there.
//   - The caller reports a -2 (message 251, report_barrier_space_failure);
//     nothing is logged here.
//
//   After a successful call the structure suits block_supernodes_for_cache
//   and the with-columns numeric factorisations; diag holds the inverses,
//   so the caller restores diag (by position) before refactorising.
//
//   How to call it on a BarrierSystem of tests/support/barrier_system.h
//   (factor_space from the fixture, free_space set by it):
//     n1 = n + m + 1;
//     std::vector<int32_t> first(n1), last(n1), order(n1), mark(n1, 0),
//         work(augmented_work_size(params));
//     std::vector<double> diag(n1) /* K's diagonal by position */,
//         inv(n1), y(m + 1, 0.0), z(n1, 0.0);
//     int64_t nz = 0, bound = INT64_MAX; double flops = 0;
//     int32_t rc = 0, rr = 0, left = 0, status = 0;
//     factorise_augmented_system(params, params.free_space + params.matrix_nz
//         + params.quad_nz, first.data(), last.data(), var_state.data(),
//         matrix_start.data(), quad_start.data(), fi(), fv(), order.data(),
//         diag.data(), inv.data(), y.data(), z.data(), mark.data(),
//         work.data(), rc, rr, nz, bound, flops, left, status);
//   z is by position (row i at z[n + i]); it is only written for rows left
//   without a pivot.
//
// choose_augmented_pivot: the pivot search of one elimination step (see its
//   declaration); returns pivot 0 when none is acceptable.
// insert_deferred_columns: the reinsertion of the held-back columns into the
//   partly eliminated matrix; a step of the factorisation on its working
//   state (augmented_state.h), not called from outside.
#ifndef KLSOL_BARRIER_FACTOR_AUGMENTED_SYSTEM_H
#define KLSOL_BARRIER_FACTOR_AUGMENTED_SYSTEM_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// Scratch arrays of n + m + 2 ints that factorise_augmented_system carves
// out of its work argument.
inline constexpr int32_t kAugmentedWorkArrays = 14;

inline int64_t augmented_work_size(const barrier_params& params) {
  return static_cast<int64_t>(kAugmentedWorkArrays) * (static_cast<int64_t>(params.col_count) + params.row_count + 2);
}

void factorise_augmented_system(barrier_params& params, int32_t list_limit, int32_t* factor_first,
                                int32_t* factor_last, int32_t* var_state, int32_t* matrix_start,
                                int32_t* quad_start, int32_t* factor_index, double* factor_value,
                                int32_t* pivot_order, double* diag, double* pivot_inverse, const double* y,
                                double* z, int32_t* dense_mark, int32_t* work, int32_t& removed_col_count,
                                int32_t& removed_row_count, int64_t& factor_nonzeros, int64_t& nonzero_bound,
                                double& factor_flops, int32_t& unpivoted_count, int32_t& status);

// The thresholds of the pivot search. TPIV2 must be positive for the
// relaxation to end: a value that is not (0, negative or NaN) is replaced by
// the key's default (1e-8). A TPIV1 that is not finite is taken as 1.
struct AugmentedPivotLimits {
  double tpiv1 = 0;  // starting ratio threshold
  double tpiv2 = 0;  // floor of the relaxed ratio threshold (clamped, > 0)
  double tabs = 0;
};
AugmentedPivotLimits augmented_pivot_limits(const barrier_params& params);
// One relaxation: rho and alpha fall by a factor 10. False when the search
// must give up (rho below the floor).
bool relax_pivot_thresholds(const AugmentedPivotLimits& limits, double& rho, double& alpha);

// The pivot search. degree_head[1..n+m] and degree_next link the positions
// by degree; list_start/list_length/row_count by position; pivot: in, the
// previous pivot (or the column-scan position while search_state < 1),
// out, the chosen pivot or 0; pivot_value out: its diagonal;
// search_state in/out (0 column scan, >= 1 degree search); scan_all: do not
// stop at the first degree list with an acceptable pivot; mark: stability
// marks by position; deferral_state: 1 while columns are held back.
void choose_augmented_pivot(barrier_params& params, const int32_t* degree_head, const int32_t* degree_next,
                            const int32_t* list_start, const int32_t* list_length, const int32_t* row_count,
                            int32_t* factor_index, double* factor_value, const double* diag, int32_t& pivot,
                            double& pivot_value, int32_t& search_state, int32_t scan_all, int32_t* mark,
                            int32_t deferral_state);

}  // namespace kl

#endif
