// Cache blocking of the barrier factor's columns.
//
// Interface summary (callers: the iteration driver after every structural
// analysis, the augmented-system factorisation; the numeric factorisations
// and the solves read the blocks):
// - block_supernodes_for_cache(params, factor_first, factor_last,
//   factor_index, pivot_order, supernode_end, pivot_rank, supernode_mark):
//   inputs are the rank-indexed lists of the symbolic factor (`factor_first`,
//   `factor_last` 1..pivot_count, row positions in increasing rank) and
//   `pivot_order`; outputs, each 1..var_count (the caller allocates
//   var_count + 1):
//     supernode_end[k]  last rank of the block holding rank k, 0 for none;
//     supernode_mark[k] +supernode_end[k] for a block of a fundamental
//                       supernode, -supernode_end[k] for an independent one,
//                       0 for none;
//     pivot_rank[p]     rank of position p, 0 for positions without a rank.
//   It also writes params.L1_LOOP (raised to 1), params.l1_block_rows
//   (2147483647 when unlimited) and rewrites params.PUSHFACT: negative values
//   become their magnitude, 0 stays, 1 or 2 become 1 (2 when the entries
//   outside blocks exceed twice the level-2 cache), above 2 become 3 (4).
// - Cache sizes come from params.L1_CACHE and params.L2_CACHE in KB (below 1
//   means unknown, no limit); the driver fills L2_CACHE from
//   detect_l2_cache_kb() (runtime/cache_size.h). Blocks lie within one run
//   of consecutive ranks of one kind (all structural or all rows);
//   fundamental runs are cut with minimum size `PSUPNODE`, independent runs
//   (identical lists) with `SSUPNODE`.
// - Takes no memory; counts and sizes are computed in 64 bits.
#ifndef KLSOL_BARRIER_FACTOR_CACHE_BLOCKING_H
#define KLSOL_BARRIER_FACTOR_CACHE_BLOCKING_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void block_supernodes_for_cache(barrier_params& params, const int32_t* factor_first, const int32_t* factor_last,
                                const int32_t* factor_index, const int32_t* pivot_order, int32_t* supernode_end,
                                int32_t* pivot_rank, int32_t* supernode_mark);

}  // namespace kl

#endif
