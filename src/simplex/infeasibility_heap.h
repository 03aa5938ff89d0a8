// The infeasibility heap of the dual phase 2: a 1-based binary max-heap of
// basis positions keyed by their weighted primal infeasibility.
//
// Arrays (allocated with the work arrays, problem/matrix_storage.cpp):
// ARR_INFEAS_HEAP_INDEX (91) heap[1..ninf] = basis positions;
// ARR_INFEAS_HEAP_VALUE (93) key[1..ninf+1] = their keys, key[ninf+1] = -1
// when ninf is even so that a sift-down may always read two children;
// ARR_INFEAS_HEAP_POS (92) slot[i] = heap slot of basis position i, 0 when
// absent. Every operation leaves ninf (problem/store.h) equal to the heap
// size, so that a caller's own count of the rows cannot drift from it.
//
// One key form throughout, for the build and every update alike: key =
// infeasibility^2 / weight in dual pricing mode 1 (steepest edge, whose
// weights are squared norms), infeasibility / weight in mode 0; a position
// beyond factor_dimension has weight 1.
#ifndef KLSOL_SIMPLEX_INFEASIBILITY_HEAP_H
#define KLSOL_SIMPLEX_INFEASIBILITY_HEAP_H

#include <cstdint>

namespace kl {

// Entries in the heap.
extern int32_t infeasibility_heap_size;

// Infeasibility of basic value x against [lower, upper] with tolerance
// ZTOLZE: positive above or below, 0 within.
double basic_infeasibility(double x, double lower, double upper);

// The key of an infeasibility at basis position i (the weighting above).
double infeasibility_key(int32_t i, double infeasibility);
// The key form of pricing mode mode for an infeasibility and a weight.
double heap_key(int32_t mode, double infeasibility, double weight);

// Rebuilds the heap from the basic values (suminf := their sum, ninf := the
// heap size). Variables marked 0x20 are counted in suminf but not pushed.
void build_infeasibility_heap();

// Heap upkeep for basis position i after its basic value changed: removes it
// when feasible, else inserts (unless its variable is marked 0x20) or
// re-keys it with the given key. ninf follows the heap size.
void update_heap_entry(int32_t i, double key);
// The same with the key computed by infeasibility_key from the current
// basic value.
void update_heap_position(int32_t i);
// Removes basis position i when present.
void remove_heap_entry(int32_t i);
// The top position (0 when empty).
int32_t heap_top();

}  // namespace kl

#endif
