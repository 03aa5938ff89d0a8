// Triangular solves with the barrier's L D L' factor.
//
// Interface summary
//   solve_forward_supernodal(params, first_rank, last_rank, factor_first,
//       factor_index, pivot_order, factor_last, factor_value, pivot_inverse,
//       v, supernode_end, supernode_mark, work)
//     v := L^-1 v over ranks first..last (v keeps L^-1 v, not D^-1 L^-1 v).
//   solve_backward_supernodal(params, first_rank, last_rank, factor_first,
//       factor_index, pivot_order, factor_last, supernode_end, factor_value,
//       pivot_inverse, v, work)
//     v := L'^-1 D^-1 v over ranks last down to first.
//   forward_block_indexed(first_rank, last_rank, list_length, pivot_inverse,
//       factor_value, factor_first, pivot_order, v, row_list)
//   forward_block_packed(first_rank, last_rank, list_length, pivot_inverse,
//       factor_value, factor_first, packed)
//     The dense part of the forward solve for one fundamental block of ranks
//     first..last.
//
// The factor (as the numeric factorisation leaves it):
//   pivot_order[k]              position of rank k (1..pivot_count)
//   factor_first[k], factor_last[k]  entries of column k of L in
//                               factor_index (row positions, increasing rank)
//                               and factor_value; the stored value is the
//                               unit-L entry times the pivot d_k
//   pivot_inverse[k]            1/d_k by rank (the copy in `diag`), 0 for a
//                               dropped pivot
//   supernode_end[k], supernode_mark[k]  the cache blocks: last rank of the
//                               block holding k (0 none); mark > 0 fundamental,
//                               < 0 independent, 0 none
// v is indexed by position (1..n+m). `work` is nullptr or a scratch vector of
// at least n+m+1 doubles; with it the supernode blocks are gathered into a
// contiguous vector. Rank ranges must cover whole supernode blocks.
//
// Dense blocks: in a fundamental block each list is the next rank's position
// followed by the next rank's list. In forward_block_indexed, v[pivot_order
// [first_rank]] is the first rank's value and row_list[1..list_length] are the
// positions of the first rank's list. In forward_block_packed, packed[1] holds
// the first rank's value and packed[2..list_length+1] the values at its list's
// rows. Both update in place and apply no zero test inside the block.
#ifndef KLSOL_BARRIER_ITERATE_FACTOR_SOLVES_H
#define KLSOL_BARRIER_ITERATE_FACTOR_SOLVES_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void solve_forward_supernodal(const barrier_params& params, int32_t first_rank, int32_t last_rank,
                              const int32_t* factor_first, const int32_t* factor_index, const int32_t* pivot_order,
                              const int32_t* factor_last, const double* factor_value, const double* pivot_inverse,
                              double* v, const int32_t* supernode_end, const int32_t* supernode_mark, double* work);

void solve_backward_supernodal(const barrier_params& params, int32_t first_rank, int32_t last_rank,
                               const int32_t* factor_first, const int32_t* factor_index, const int32_t* pivot_order,
                               const int32_t* factor_last, const int32_t* supernode_end, const double* factor_value,
                               const double* pivot_inverse, double* v, double* work);

void forward_block_indexed(int32_t first_rank, int32_t last_rank, int32_t list_length, const double* pivot_inverse,
                           const double* factor_value, const int32_t* factor_first, const int32_t* pivot_order,
                           double* v, const int32_t* row_list);

void forward_block_packed(int32_t first_rank, int32_t last_rank, int32_t list_length, const double* pivot_inverse,
                          const double* factor_value, const int32_t* factor_first, double* packed);

}  // namespace kl

#endif
