// The cut pool's storage and the few global-search services that a load
// needs: the pool is created by the set-up of every load with global
// entities (or a branching-object entry) and by the first addition of
// entities.
//
// Pool arrays of the current problem (1-based):
// - id 56: cut records, 6 ints each (MXCPOL records): type, flags, first
//   element, length, index key, reference count. A free record holds the
//   next free record in its flags field and -1 as its first element.
// - id 57: right-hand side of each record (MXCPOL reals).
// - id 59, 60: column position and coefficient of each element (MXCPEL).
// - id 61: cut_row_list, the record (or cut type) of each cut row of the LP
//   (nseq + NCXTRA ints).
// The counts live in search_record (search_state.h) and in cut_row_count.
#ifndef KLSOL_PROBLEM_CUT_POOL_H
#define KLSOL_PROBLEM_CUT_POOL_H

#include <cstdint>

namespace kl {

inline constexpr int32_t kCutRecordWords = 6;

// Allocates the pool arrays afresh from MXCPOL and MXCPEL, links every
// record into the free list (pool_free_head 1) and clears the counts.
// Returns 0, or the id of the array that could not be allocated (the
// arrays allocated before it stay; the caller frees the problem).
int32_t alloc_cut_pool();
// The highest record index that can hold a cut: the saved-bound records
// take the top of the pool.
int32_t stored_record_limit();
// The same relinking and clearing on the arrays as they are (a search is
// reset): every record free, no cut rows, no saved or branch bounds.
void reset_cut_pool_free_list();

// binary_entity_count := entities whose type is 2 or 3.
void count_binary_entities();

// work_vector[1..nrow] into both rhs and work_rhs.
void copy_work_to_rhs();

// A hook the loaders call with 1; it does nothing.
void no_op_hook(int32_t flag);

}  // namespace kl

#endif
