// Working state of the augmented-system factorisation, shared by its
// elimination and its reinsertion of held-back columns. Not for callers
// outside src/barrier/factor/augmented_*.cpp.
//
// Storage in factor_index / factor_value:
//   1 .. base                   the matrix and the quadratic pattern
//   base + 1 .. limit           active lists, packed upwards in storage order
//   limit + 1 .. top            finished pivot columns, allocated downwards
//   top + 1 .. top + rs_room    (ints only) the row structures: for each live
//                               position, the positions whose list holds it
#ifndef KLSOL_BARRIER_FACTOR_AUGMENTED_STATE_H
#define KLSOL_BARRIER_FACTOR_AUGMENTED_STATE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

struct AugmentedState {
  barrier_params* params = nullptr;
  int32_t n = 0;
  int32_t m = 0;
  int32_t count = 0;  // n + m
  int32_t base = 0;   // matrix_nz + quad_nz
  int32_t top = 0;    // the starting limit
  int32_t limit = 0;  // current top of the active region
  int32_t rs_room = 0;

  int32_t* var_state = nullptr;  // removed (< -1), or the row count
  const int32_t* matrix_start = nullptr;
  const int32_t* quad_start = nullptr;
  int32_t* index = nullptr;  // factor_index
  double* value = nullptr;   // factor_value
  int32_t* pivot_order = nullptr;
  double* diag = nullptr;
  double* dense = nullptr;  // pivot_inverse: dense vector by position
  int32_t* mark = nullptr;  // dense marks, then stability marks

  int32_t* list_start = nullptr;
  int32_t* list_length = nullptr;
  int32_t* rs_start = nullptr;  // row structure start (1-based in rs area)
  int32_t* rs_length = nullptr;
  int32_t* degree_head = nullptr;
  int32_t* degree_next = nullptr;
  int32_t* degree_prev = nullptr;
  int32_t* degree_of = nullptr;  // 0: in no degree list
  int32_t* store_next = nullptr;
  int32_t* store_prev = nullptr;
  int32_t* rs_next = nullptr;
  int32_t* rs_prev = nullptr;
  int32_t* member = nullptr;  // in the current pivot column; later the rank map
  int32_t* saved_length = nullptr;
  int32_t* delta = nullptr;  // row-count change; appearance count on reinsertion
  int32_t* scratch = nullptr;

  int32_t store_head = 0;
  int32_t store_tail = 0;
  int32_t rs_head = 0;
  int32_t rs_tail = 0;
  int32_t deferral_marker = 0;
  int32_t deferred_count = 0;

  int32_t* rs() const { return index + top; }  // rs()[1..rs_room]
  bool removed(int32_t p) const { return var_state[p] < -1; }
  bool in_place(int32_t p) const { return list_start[p] <= base; }
};

// A doubly linked chain over positions (0 ends it), as the two storage
// orders keep their lists.
inline void chain_unlink(int32_t* next, int32_t* prev, int32_t& head, int32_t& tail, int32_t p) {
  const int32_t before = prev[p];
  const int32_t after = next[p];
  if (before != 0) next[before] = after; else head = after;
  if (after != 0) prev[after] = before; else tail = before;
  next[p] = 0;
  prev[p] = 0;
}

inline void chain_append(int32_t* next, int32_t* prev, int32_t& head, int32_t& tail, int32_t p) {
  prev[p] = tail;
  next[p] = 0;
  if (tail != 0) next[tail] = p; else head = p;
  tail = p;
}

// Storage-order lists of the active lists.
void store_unlink(AugmentedState& s, int32_t p);
void store_append(AugmentedState& s, int32_t p);
// Free entries after the last list in storage order, up to the limit.
int32_t room_after_last_list(const AugmentedState& s);
// The first free entry after the last active list (at least base + 1).
int32_t end_of_lists(const AugmentedState& s);
// Closes the gaps among the active lists; false (status set to -2) when
// fewer than n + m entries stay free.
bool compact_lists(AugmentedState& s, int32_t& status);
// Moves p's list to the end of the active region and makes it last in
// storage order, compacting first when the room is short. False on -2.
bool move_list_to_end(AugmentedState& s, int32_t p, int32_t& status);

// Reinserts the held-back columns into the partly eliminated matrix:
// left-looking elimination of each against the pivots so far, then their
// entries in eliminated positions appended to those pivots' columns.
void insert_deferred_columns(AugmentedState& s, int32_t& status);

}  // namespace kl

#endif
