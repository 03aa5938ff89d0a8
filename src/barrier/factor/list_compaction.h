// Compaction of variable-length lists kept one after another in one storage.
//
// Several barrier routines keep lists (of indices, or of indices with values)
// back to back in a fixed area and let a list that must grow move behind the
// last one. The holes such moves leave are closed here.
//
// A list storage is described by, per list (1-based arrays over the lists):
//   list_start[l]   first entry of list l in the storage
//   list_length[l]  its number of entries (never changed here)
// and by its storage order: `head` is the list lying lowest and next[l] the
// list after l (0 ends the chain). The chain must follow the lists' places
// in the storage.
//
//   compact_value_lists  index and value lists above `base` (entries 1..base
//                        belong to the matrix and the quadratic pattern; a
//                        list lying there is left alone)
//   compact_index_lists  int-only lists packed from entry 1
//
// Both walk the chain with a target that starts at base + 1 (or 1), move a
// list that starts above the target down to it, give an empty list the
// target as its start, and never reorder lists. Each entry moves at most
// once, lists already in place are not touched, nothing is allocated.
// Afterwards `free_room` is limit - target - 1 (value lists) or
// limit - target (index lists), target being the first entry after the last
// list. `status` becomes BARRIER_SPACE_SHORT (-2) when free_room < need;
// otherwise it keeps what it held. The lists are compacted in either case.
#ifndef KLSOL_BARRIER_FACTOR_LIST_COMPACTION_H
#define KLSOL_BARRIER_FACTOR_LIST_COMPACTION_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void compact_value_lists(const barrier_params& params, int32_t need, int32_t& free_room,
                         int32_t limit, int32_t base, int32_t* list_start,
                         const int32_t* list_length, int32_t head, const int32_t* next,
                         int32_t* index_storage, double* value_storage, int32_t& status);

void compact_index_lists(const barrier_params& params, int32_t need, int32_t limit,
                         int32_t& free_room, int32_t* list_start, const int32_t* list_length,
                         int32_t head, const int32_t* next, int32_t* index_storage,
                         int32_t& status);

// The walk both share, for int-only lists packed from `first_entry` (lists
// that start below it are left alone): returns the first entry after the
// last list. Other list storages of the barrier (the minimum-degree
// ordering's own lists) pack with it from their own first entry.
int64_t pack_index_lists(int64_t first_entry, int32_t* list_start, const int32_t* list_length,
                         int32_t head, const int32_t* next, int32_t* index_storage);

}  // namespace kl

#endif
