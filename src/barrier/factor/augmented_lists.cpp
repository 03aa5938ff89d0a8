// The active lists of the augmented-system factorisation: storage order,
// room, compaction and moves to the end of the active region.
#include <cstdint>

#include "barrier/factor/augmented_state.h"
#include "barrier/factor/list_compaction.h"

namespace kl {

void store_unlink(AugmentedState& s, int32_t p) {
  chain_unlink(s.store_next, s.store_prev, s.store_head, s.store_tail, p);
}

void store_append(AugmentedState& s, int32_t p) {
  chain_append(s.store_next, s.store_prev, s.store_head, s.store_tail, p);
}

int32_t end_of_lists(const AugmentedState& s) {
  int32_t end = s.base + 1;
  if (s.store_tail != 0) {
    const int32_t e = s.list_start[s.store_tail] + s.list_length[s.store_tail];
    if (e > end) end = e;
  }
  return end;
}

int32_t room_after_last_list(const AugmentedState& s) { return s.limit - end_of_lists(s); }

bool compact_lists(AugmentedState& s, int32_t& status) {
  int32_t free_room = 0;
  int32_t local = 0;
  compact_value_lists(*s.params, s.count, free_room, s.limit, s.base, s.list_start, s.list_length, s.store_head,
                      s.store_next, s.index, s.value, local);
  // Lists emptied by deletions may now share a start with the next list;
  // the room tests read the next list's start, so that is harmless.
  if (local < 0 || room_after_last_list(s) < s.count) {
    status = BARRIER_SPACE_SHORT;
    return false;
  }
  return true;
}

bool move_list_to_end(AugmentedState& s, int32_t p, int32_t& status) {
  if (s.store_tail == p && !s.in_place(p)) return true;
  if (room_after_last_list(s) < s.count && !compact_lists(s, status)) return false;
  if (s.store_tail == p && !s.in_place(p)) return true;
  const int32_t from = s.list_start[p];
  const int32_t length = s.list_length[p];
  const int32_t to = end_of_lists(s);
  for (int32_t k = 0; k < length; ++k) {
    s.index[to + k] = s.index[from + k];
    s.value[to + k] = s.value[from + k];
  }
  s.list_start[p] = to;
  store_unlink(s, p);
  store_append(s, p);
  return true;
}

}  // namespace kl
