// Making the LP's column bounds and status bits agree with a node: fully
// from the entity states (and the cut pool's saved and branch bound
// records), or, for the child just made by branching, by the branching
// entity's bound alone.
//
// Interface summary:
//   fixed_entity_constant   objective of the entity columns fixed at the node
//   restore_node_bounds()   direct_child_flag > 0: apply_branch_bound only;
//                           else apply_node_bounds, then, unless lp_status
//                           is 3, rebuild_basic_lists
//   apply_branch_bound()    the branching entity's new state and bounds for
//                           the node's direction
//   apply_node_bounds()     every entity's bounds from the states; setting,
//                           never shifting, so applying twice changes nothing
//   rebuild_basic_lists()   basis header from pos_status; a quadratic
//                           problem's values clamped into their bounds
//   node_direction()        first_direction for a positive node_id, else the
//                           other direction
// Both apply routines set lp_status 2 when the node is found infeasible.
#ifndef KLSOL_GLOBAL_NODE_BOUNDS_H
#define KLSOL_GLOBAL_NODE_BOUNDS_H

#include <cstdint>

namespace kl {

extern double fixed_entity_constant;

int32_t node_direction();
void restore_node_bounds();
void apply_branch_bound();
void apply_node_bounds();
void rebuild_basic_lists();

}  // namespace kl

#endif
