// Branching estimates and the choice of the entity a node branches on.
//
// Interface summary:
//   select_branch_entity(choice)
//       after a node's LP is optimal (factor valid, values in array 58):
//       counts the entities that are not feasible, ranks the candidates by
//       directive priority and the estimate KCRITM chooses, runs the UBE
//       and UCB user entries, and fills `choice` (below). It does not touch
//       the node header or the cut lists: the node loop copies the choice
//       into its header (depth + 1, node ids, bound, cut lists).
//       Also sets the fractional-entity attribute (1024).
//   estimate_cost_degradation(entity, value)
//       column entity; value is the column's value (a semi-continuous one
//       divided by its limit by the caller). Writes up/down/min degradation.
//   estimate_degradation(entity)
//       set entity: satisfied flag, first/last non-zero member, centre, and
//       unless estimate_setup_only the degradations.
//   estimate_branch_candidates(entity)
//       set entity being branched on: split value, down_limit and up_limit
//       (the new window ends of the two children) and set_branch_flag.
// All estimates, degradations and set windows are doubles.
#ifndef KLSOL_GLOBAL_BRANCHING_H
#define KLSOL_GLOBAL_BRANCHING_H

#include <cstdint>

namespace kl {

// Outputs of the estimators; process-global like the rest of the search.
struct BranchEstimates {
  double up_degradation = 0.0;
  double down_degradation = 0.0;
  double min_degradation = 0.0;
  // Sets: 1 when at most one member (type 1) or two adjacent members
  // (type 2) are non-zero; first and last non-zero member positions in the
  // member list (arrays 17, 18).
  int32_t set_satisfied = 0;
  int32_t set_first_member = 0;
  int32_t set_last_member = 0;
  double set_split_value = 0.0;  // weighted reference value (the centre)
  // Window ends for the two children of a set branch: the down child keeps
  // reference values up to down_limit, the up child from up_limit.
  double down_limit = 0.0;
  double up_limit = 0.0;
  int32_t set_branch_flag = 0;
  // Input: 1 makes estimate_degradation stop after the set-up of the set.
  int32_t estimate_setup_only = 0;
};
extern BranchEstimates branch_estimates;

void estimate_cost_degradation(int32_t entity, double value);
void estimate_degradation(int32_t entity);
void estimate_branch_candidates(int32_t entity);

// What select_branch_entity decided.
struct BranchChoice {
  int32_t fractional_count = 0;  // 0: the node is integer feasible
  double degradation = 0.0;      // sum of the smaller estimates x PSEUDO
  // 0 when integer feasible; 1..nglent an entity; above nglent a user
  // branch object (object + nglent + IFDBG).
  int32_t branch_entity = 0;
  int32_t first_direction = 0;  // 1 up first, 0 down first
  double branch_value = 0.0;    // the entity's value (user object: its value)
  double up_estimate = 0.0;
  double down_estimate = 0.0;
  // Column entity: new upper bound of the down child (down_limit) and new
  // lower bound of the up child (up_limit). Set: the new window ends
  // (down child: upper end; up child: lower end). A semi-integer column
  // whose limit exceeds the down limit: down_limit 0, up_limit the limit.
  double down_limit = 0.0;
  double up_limit = 0.0;
  double set_split_value = 0.0;
  int32_t user_branch_count = 0;  // branches of a user object (UBE)
};

// Reads pos_status, arrays 10-20, 86 and the values (array 58); writes
// choice, branch_estimates, and row_prices through compute_duals.
void select_branch_entity(BranchChoice& choice);

}  // namespace kl

#endif
