#include "barrier/factor/list_compaction.h"

namespace kl {

namespace {

// Walks the lists in storage order from `target`, moving each list that lies
// above the target down to it; a list below the target (one that lives in
// the region the walk does not own) is left where it is. Returns the first
// entry after the last list placed. `move_entry` copies one entry, index and
// value together where there are values.
template <typename MoveEntry>
int64_t pack_lists(int64_t target, int32_t* list_start, const int32_t* list_length,
                   int32_t head, const int32_t* next, MoveEntry move_entry) {
  for (int32_t l = head; l != 0; l = next[l]) {
    const int32_t length = list_length[l];
    if (length == 0) {
      list_start[l] = static_cast<int32_t>(target);
      continue;
    }
    const int64_t start = list_start[l];
    if (start < target) continue;
    if (start > target) {
      // Moving down in increasing order never overwrites an entry before it
      // has been read, even when the old and new places overlap.
      for (int32_t k = 0; k < length; ++k) move_entry(target + k, start + k);
      list_start[l] = static_cast<int32_t>(target);
    }
    target += length;
  }
  return target;
}

int32_t room_to_int(int64_t room) {
  return room < INT32_MIN ? INT32_MIN : static_cast<int32_t>(room);
}

}  // namespace

int64_t pack_index_lists(int64_t first_entry, int32_t* list_start, const int32_t* list_length,
                         int32_t head, const int32_t* next, int32_t* index_storage) {
  return pack_lists(first_entry, list_start, list_length, head, next,
                    [index_storage](int64_t to, int64_t from) {
                      index_storage[to] = index_storage[from];
                    });
}

void compact_value_lists(const barrier_params& /*params*/, int32_t need, int32_t& free_room,
                         int32_t limit, int32_t base, int32_t* list_start,
                         const int32_t* list_length, int32_t head, const int32_t* next,
                         int32_t* index_storage, double* value_storage, int32_t& status) {
  const int64_t target =
      pack_lists(static_cast<int64_t>(base) + 1, list_start, list_length, head, next,
                 [index_storage, value_storage](int64_t to, int64_t from) {
                   index_storage[to] = index_storage[from];
                   value_storage[to] = value_storage[from];
                 });
  free_room = room_to_int(static_cast<int64_t>(limit) - target - 1);
  if (free_room < need) status = BARRIER_SPACE_SHORT;
}

void compact_index_lists(const barrier_params& /*params*/, int32_t need, int32_t limit,
                         int32_t& free_room, int32_t* list_start, const int32_t* list_length,
                         int32_t head, const int32_t* next, int32_t* index_storage,
                         int32_t& status) {
  const int64_t target = pack_index_lists(1, list_start, list_length, head, next, index_storage);
  free_room = room_to_int(static_cast<int64_t>(limit) - target);
  if (free_room < need) status = BARRIER_SPACE_SHORT;
}

}  // namespace kl
