// The one entry of presolve, and the set-up and final stages it runs around
// the reduction rounds.
#ifndef KLSOL_PRESOLVE_PRESOLVE_DRIVER_H
#define KLSOL_PRESOLVE_PRESOLVE_DRIVER_H

#include <cstdint>
#include <vector>

namespace kl {

// IPSLCT bits the driver reads (the others select reduction families of the
// round).
enum PresolveSelect : int32_t {
  kSelectParallelColumns = 0x20,
  kSelectParallelRows = 0x40,
  kSelectNoEntitySweeps = 0x200,  // set by the LP driver outside the search
  kSelectEntityRound = 0x400,     // added by the driver for the entity round
};

// Presolves the current problem in place; outcome as PresolveOutcome.
void presolve_problem(int32_t& outcome);

// Keeps the original arrays aside and makes working copies, the position
// map and the record stacks. 0, or the array id whose allocation failed.
int32_t presolve_allocate();
// Counts what is left after the fixed columns went, brings back protected
// columns and prints the first progress line.
void presolve_count_reduced_problem();
// Moves the contribution of columns fixed before presolve into the
// right-hand sides and the fixed-column constant.
void presolve_fixed_columns();
// Compacts and renumbers the reduced problem; model-cut rows go to the cut
// pool. result := 0; a failed store leaves the status word set.
void move_flagged_rows_to_cut_pool(int32_t& result);

// Inside the global search, compaction's renumbering of the entities, sets,
// pool columns and variable-bound references; new_position[p] is the new
// position of old position p (0 for one that left).
void renumber_search_entities(const std::vector<int32_t>& new_position);

}  // namespace kl

#endif
