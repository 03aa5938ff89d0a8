// Hypersparse solves: the same vectors as the dense passes of solves.h, but
// touching only the records that can change the result. Each starts from the
// nonzero list, finds the affected records through the per-row chains of the
// eta file (basis.h) and takes them in the order of the dense pass through a
// binary heap; past a heap limit it finishes the pass densely.
//
// Result contract: the vector equals the dense pass's, except that values
// dropped by the tolerances (ZTETA, and 0.1 ZTETA on the way) are exactly 0.
// On a normal return the list holds exactly the rows with a value of at
// least ZTETA and work_vector_state is untouched. After a dense fall-back
// the list is not valid: work_vector_state := 1 and the count := -1 (for
// solve_with_factor_forward only the state is set); callers then sparsify.
#ifndef KLSOL_FACTOR_HYPERSPARSE_H
#define KLSOL_FACTOR_HYPERSPARSE_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

inline constexpr int32_t kHeapCapacity = 1000;

// BTRAN of the U file on the work vector and its list (state 2 on entry),
// after the product-form etas when the file holds them.
void sparse_solve_heap_ordered();
// BTRAN of the invert part (row etas, then L column and diagonal etas) on
// the work vector and its list (state 2 on entry).
void sparse_triangular_solve_heap();
// FTRAN of the invert part (diagonal and L column etas, then row etas) on a
// vector by row with its nonzero list and count, rewritten in place. The
// list must have room for nrow entries.
void solve_with_factor_forward(OneBased<double> vector, OneBased<int32_t> list, int32_t& count);
// FTRAN of the U file, then of the product-form etas when the file holds
// them; same arguments.
void solve_with_factor_backward(OneBased<double> vector, OneBased<int32_t> list, int32_t& count);

// Heap limits of the four routines for the current problem.
int32_t u_btran_heap_limit();
int32_t invert_btran_heap_limit();
int32_t invert_ftran_heap_limit();
int32_t u_ftran_heap_limit();

// Dense fall-backs taken since start-up, for the tests and the log.
struct HypersparseStats {
  int64_t fallbacks = 0;
};
extern HypersparseStats hypersparse_stats;

}  // namespace kl

#endif
