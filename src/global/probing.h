// Probing at the start of a global search: every free binary is fixed
// tentatively at 1 and at 0; when propagation proves one side infeasible the
// binary is fixed for good at the other, and the passes repeat while they fix
// something.
//
// Interface summary (all in namespace kl):
//   probe_binaries()   run by the search driver after a fresh start-up when
//                      IFINTP has bit kIfintpProbing; lp_status 2 when the
//                      problem is found infeasible. A propagation whose list
//                      overflowed proves nothing and fixes nothing.
//   undo_probing_fixings(search_under_way)
//                      the end of the search puts back the bounds and
//                      entity states probing fixed, so the problem after a
//                      search is the problem before it; without the search
//                      under way (a load came between) it only forgets them
//   probing_stats      counters for tests
#ifndef KLSOL_GLOBAL_PROBING_H
#define KLSOL_GLOBAL_PROBING_H

#include <cstdint>

namespace kl {

struct ProbingStats {
  int64_t passes = 0;
  int64_t fixings = 0;           // binaries fixed by probing, with their implications
  int64_t overflow_no_fix = 0;   // probes that overflowed and so fixed nothing
};
extern ProbingStats probing_stats;

void probe_binaries();
void undo_probing_fixings(bool search_under_way);

}  // namespace kl

#endif
