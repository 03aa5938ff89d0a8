// The barrier's two in-place sorts of 1-based int lists.
//
//   sort_index_by_key(count, index, key)  index[1..count] ascending by key[index[i]]
//   sort_int_array(count, values)         values[1..count] ascending
//
// Both are the same heapsort: in place, no memory taken, not stable (callers
// that need an order among equal keys build it into the key). A count below 2
// leaves the list untouched and reads nothing.
#ifndef KLSOL_BARRIER_ORDERING_HEAPSORT_H
#define KLSOL_BARRIER_ORDERING_HEAPSORT_H

#include <cstdint>

namespace kl {

// Sorts index[1..count] into ascending order of key[index[i]]. The key array
// is read, not changed; it must hold an entry for every index in the list.
void sort_index_by_key(int32_t count, int32_t* index, const int32_t* key);

// Sorts values[1..count] into ascending order.
void sort_int_array(int32_t count, int32_t* values);

}  // namespace kl

#endif
