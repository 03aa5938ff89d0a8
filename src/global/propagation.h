// Bound propagation over binaries: when binaries are fixed, the rows they sit
// in may force other binaries. propagate_bounds follows these implications
// through the binary-active and set rows (row classes of row_classes.h),
// fixes the implied binaries and reports infeasibility.
//
// Interface summary (all in namespace kl):
//   propagate_bounds(list, capacity, count, mode, fixed, unused, overflow)
//     list[0 .. count-1]   the columns just fixed (sign ignored); the routine
//                          appends every column it fixes: +column at 0,
//                          -column at 1, while count < capacity; count is
//                          left at the new end of the list
//     mode                 PROPAGATE_TENTATIVE: every fixing this call made
//                          is undone at the end (probing, cliques);
//                          otherwise permanent (entity states, constant,
//                          message 355 with IFMSG >= 2)
//     fixed                columns fixed by the call
//     unused               0
//     overflow             1 when the list ran out of room. The list then
//                          lacks some fixings, so the call concludes
//                          nothing: lp_status is never set to 2 for it, and
//                          in tentative mode the caller must reset every
//                          bound from the entity states (apply_node_bounds)
//   lp_status afterwards   2 infeasible; 0 a column was fixed; else as it was
//   propagation_stats      counters for tests
#ifndef KLSOL_GLOBAL_PROPAGATION_H
#define KLSOL_GLOBAL_PROPAGATION_H

#include <cstdint>

namespace kl {

enum PropagationMode : int32_t {
  PROPAGATE_TENTATIVE = 0,
  PROPAGATE_PERMANENT = 1,
};

// Room of each of the two row queues.
inline constexpr int32_t kPropagationQueueRoom = 2000;

struct PropagationStats {
  int64_t calls = 0;
  int64_t columns_fixed = 0;
  int64_t infeasible = 0;
  int64_t overflows = 0;
  int64_t rows_not_queued = 0;  // a queue still full after compaction
};
extern PropagationStats propagation_stats;

void propagate_bounds(int32_t* list, int32_t capacity, int32_t& count, int32_t mode, int32_t& fixed,
                      int32_t& unused, int32_t& overflow);

}  // namespace kl

#endif
