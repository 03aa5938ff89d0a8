// The node loop: takes one node (restored from its record, or the child
// just made), solves its LP by re-optimisation, fixes binaries by their
// reduced costs, runs the cut-manager callbacks, and then records an integer
// solution, drops the node (infeasible or cut off) or branches; it dives on
// until the dive decision sends it back to the active-node table, or until
// a limit, a stop request or an error ends it with a node stop code.
//
// Interface summary:
//   branch_and_bound_loop(code)        the loop; code: NodeStopCode, negated
//                                      for the codes that are errors or stops
//   solve_node(cut_off)                the current node's LP; cut_off = 1 when
//                                      the node is dropped without its result
//   run_node_callbacks(mode)           CM (0) or TCM (1) until it returns 0
//                                      (rows it added then go to the pool)
//   measure_integer_infeasibilities()  search.fractional_count at the values
//   set_nonbasic_values()              the value of every position (array 58)
//   fix_by_reduced_cost()              binaries fixed against the cut-off
//   record_integer_solution(code)      the incumbent, its file and copies
//   write_solution_copy()              the previous solution file kept under
//                                      a numbered name (IPKEEP)
//   solution_copy_name(k)              NAME.so<k>, k in decimal
//
// Every objective comparison is made in the internal objective units:
// objval against search.scaled_cutoff (CUTOFF times the objective scale).
#ifndef KLSOL_GLOBAL_NODE_LOOP_H
#define KLSOL_GLOBAL_NODE_LOOP_H

#include <cstdint>
#include <string>

namespace kl {

// The loop's pending work when it leaves a dive (see choose_next_node).
enum PendingWork : int32_t {
  PENDING_NOTHING = 0,
  PENDING_IMAGE = 1,                  // the image
  PENDING_IMAGE_AND_PAIR = 2,         // the image and the current node's pair
  PENDING_OTHER_CHILD = 3,            // the image's other child
  PENDING_IMAGE_AND_SWAPPED_PAIR = 4, // the image and the current pair after a swap
  PENDING_PAIR = 5,                   // the current node's pair only
};

void branch_and_bound_loop(int32_t& code);
void solve_node(int32_t& cut_off);
void run_node_callbacks(int32_t mode);
void measure_integer_infeasibilities();
void set_nonbasic_values();
void fix_by_reduced_cost();
void write_solution_copy();
std::string solution_copy_name(int32_t k);

}  // namespace kl

#endif
