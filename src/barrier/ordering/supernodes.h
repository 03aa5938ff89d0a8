// Two improvements of a symbolic factor that keep its fill: a post-order of
// the elimination tree, so that chains of columns with nested lists become
// consecutive, and the amalgamation of consecutive columns into supernodes
// by padding lists with explicit zeros (within the `SUPFILL` percentage).
//
// Both work on the position-indexed structure of symbolic_factor.h, before
// analyse_normal_equations re-indexes `factor_first`/`factor_last` by rank.
#ifndef KLSOL_BARRIER_ORDERING_SUPERNODES_H
#define KLSOL_BARRIER_ORDERING_SUPERNODES_H

#include <cstdint>

#include "barrier/barrier_params.h"
#include "barrier/ordering/symbolic_factor.h"

namespace kl {

// Ints per position of the `work` array of postorder_elimination_tree:
// work holds kPostorderWorkPerPosition x (n + m + 2) + factor_space + 2 ints
// (the last part holds the transposed lists; the whole also serves a
// repeated symbolic run); `value_work` holds n + m + 2 doubles.
inline constexpr int32_t kPostorderWorkPerPosition = 14;
int64_t postorder_work_ints(const barrier_params& params);

// Renumbers the pivots in a depth-first post-order of the elimination tree
// (nothing happens when `POSTORDER` <= 0), in-place columns first. Rewrites
// `pivot_order`, `pivot_rank`, the lists and the order of the matrix entries
// of each column; the counts of the factor do not change. status: 0, or -1 from the repeated symbolic run needed
// when a quadratic pattern exists and the columns changed order.
void postorder_elimination_tree(barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                                int32_t* pivot_order, int32_t* factor_index, double* factor_value,
                                int32_t* factor_first, int32_t* factor_last, int32_t* quad_start,
                                const int32_t* var_state, int32_t* pivot_rank, int32_t* work,
                                double* value_work, int32_t& status);

// Pads built lists with explicit zeros so that a column takes its next
// pivot's structure when 100 x (added zeros) < `SUPFILL` x its length, and
// relays the lists when they fit below `factor_space`; `counts` are then
// recounted (padding included), else left as they were. `work` holds
// 2 x (n + m + 2) ints.
void amalgamate_supernodes(barrier_params& params, const int32_t* pivot_order, int32_t* factor_index,
                           int32_t* factor_first, int32_t* factor_last, int32_t* work, symbolic_counts& counts);

}  // namespace kl

#endif
