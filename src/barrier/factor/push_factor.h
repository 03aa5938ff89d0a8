// Right-looking (push) forms of the barrier's numeric factorisation.
//
// Interface summary (callers: the iteration driver and the starting point,
// when PUSHFACT >= 1 after block_supernodes_for_cache rewrote it to 1..4):
// - Arguments, results and array sizes are those of the pull forms in
//   numeric_factor.h, plus `push_work` (1..N doubles by rank: out, the
//   positive part of each pivot's diagonal sum). The pivot test's reference
//   is that positive part.
// - Single source columns are pulled by their targets; a supernode block is
//   factored in panels of L1_LOOP columns and row chunks of l1_block_rows
//   rows when its last rank is reached, then pushes its update to every
//   later column at once. PUSHFACT even: the normal form first forms
//   A·|D|⁻¹·Aᵀ in a pre-pass over the in-place columns; above 2: a block's
//   update columns are computed one target at a time.
// - The update buffer is the tail of factor_value beyond the largest
//   factor_last (factor_space - that - 1 values); when it is too short the
//   update columns are computed one at a time in diag's storage. Nothing is
//   allocated.
#ifndef KLSOL_BARRIER_FACTOR_PUSH_FACTOR_H
#define KLSOL_BARRIER_FACTOR_PUSH_FACTOR_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void factor_normal_matrix_push(barrier_params& params, int32_t* factor_index, double* factor_value,
                               int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                               int32_t* pivot_rank, double* pivot_inverse, double* diag, const double* diag_copy,
                               const double* y, int32_t* var_state, int32_t* update_lists, int32_t* factor_cursor,
                               int32_t* supernode_end, int32_t* supernode_mark, double* push_work,
                               int32_t& pivot_dropped, int32_t& removed_row_count);

void factor_normal_matrix_with_columns_push(barrier_params& params, int32_t* factor_index, double* factor_value,
                                            int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                                            int32_t* pivot_rank, double* pivot_inverse, double* diag,
                                            const double* diag_copy, const double* y, int32_t* var_state,
                                            int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                                            int32_t* supernode_mark, const int32_t* matrix_start,
                                            const int32_t* quad_start, int32_t* scratch, double* push_work,
                                            int32_t& pivot_dropped, int32_t& removed_row_count);

}  // namespace kl

#endif
