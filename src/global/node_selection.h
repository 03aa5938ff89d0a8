// The dive decision and the choice of a node from the active-node table.
//
// Interface summary:
//   choose_next_node(leave)   after a node, with something pending: which of
//                             the nodes at hand is solved next, or leave = 1
//                             (the loop stores what is pending and returns)
//   select_active_node()      prunes the table against the cut-off, updates
//                             best_bound, applies the gap tolerances OPTCA and
//                             OPTCR and leaves the chosen slot as the current
//                             slot (0 when none)
//   update_node_cutoff(r)     the looser node cut-off from reference bound r
//
// Reads the controls NDSEL1, NDSEL2, MAXNBF, CRITRN, PSEUDO, IFCUTOFF,
// PRCUTOFF, VALCUT, OBJTAR, CUTOFF, ADDCUT, OPTCA, OPTCR, GPRINT.
#ifndef KLSOL_GLOBAL_NODE_SELECTION_H
#define KLSOL_GLOBAL_NODE_SELECTION_H

#include <cstdint>

namespace kl {

// NDSEL1 values.
enum NodeSelectionRule : int32_t {
  SELECT_DIVE_BEST_ESTIMATE = 1,
  SELECT_NO_DIVE = 2,
  SELECT_DEPTH_FIRST = 3,
  SELECT_BREADTH_THEN_DIVE = 4,
  SELECT_DIVE_OWN_CHILDREN = 5,
};

void choose_next_node(int32_t& leave);
void select_active_node();
void update_node_cutoff(double reference);

// scaled_cutoff, scaled_addcut and scaled_target from CUTOFF, ADDCUT and
// OBJTAR; also the LP driver's cut-off for the node LPs.
void refresh_scaled_cutoff();

}  // namespace kl

#endif
