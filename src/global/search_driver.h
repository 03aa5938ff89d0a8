// The global search's door and driver: the entry routines of KLGLOBAL, the
// GLOBAL, ?AXGLOBAL and ?INGLOBAL commands and KLMAXIM/KLMINIM, the driver
// that runs start-up, the root, the node loop and node selection and turns
// their outcome into final messages and states, the reset of KLINIGLOBAL
// and the node deletion of KLDELNODE.
//
// Interface summary:
//   search                       the driver's process-global words (below)
//   node_count, node_depth, active_node_count, last_solution_node,
//   solution_count               integer attributes 1013..1017
//   dintsl, best_bound           double attributes 2003 and 2004 (internal
//                                objective units; sense x 1e20 before any
//                                solution)
//   run_global_command()         KLGLOBAL and GLOBAL
//   run_global_if_lp_solved()    ?AXGLOBAL;  run_global_unconditionally() ?INGLOBAL
//   run_global_search()          the search after an optimal LP relaxation
//                                (KLMAXIM/KLMINIM with option g call it)
//   reset_global_search(mode)    KLINIGLOBAL (0) and completion (1)
//   delete_node(node, mode)      KLDELNODE
//   start_search_clock(flag), search_elapsed_seconds()
//   start_global_search(mode), clear_global_counters()
//
// The sense factor multiplies every comparison of objective values, so that
// the better value is always the smaller one after multiplication.
#ifndef KLSOL_GLOBAL_SEARCH_DRIVER_H
#define KLSOL_GLOBAL_SEARCH_DRIVER_H

#include <cstdint>

#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

// Values of mip_status (attribute 1011, global_status in problem/store.h).
enum MipStatus : int32_t {
  MIP_RUNNING_NO_SOLUTION = 3,
  MIP_RUNNING_WITH_SOLUTION = 4,
  MIP_FINISHED_NO_SOLUTION = 5,
  MIP_FINISHED_WITH_SOLUTION = 6,
};

// Outcome of the node loop (its absolute value is dispatched).
enum NodeStopCode : int32_t {
  NODE_STOP_NONE = 0,               // the dive ended with nothing pending
  NODE_STOP_INTERRUPTED = 1,        // stop request, time limit, interrupt
  NODE_STOP_UNBOUNDED = 2,          // a node LP is unbounded
  NODE_STOP_NODE_LIMIT = 3,         // MAXNOD
  NODE_STOP_SOLUTION_LIMIT = 4,     // MAXSOL
  NODE_STOP_SOLUTION_RETURN = 5,    // IPACTN 2 and an integer solution
  NODE_STOP_RESTORE_ERROR = 6,      // error while restoring or solving a node
  NODE_STOP_STORE_ERROR = 7,        // error in branching, output or node storage
};
const char* node_stop_text(int32_t code);

// problem_state after a search reset, and after a search stopped early.
inline constexpr int32_t kSearchResetState = 4;
inline constexpr int32_t kSearchStoppedState = 5;

// IFMEM bits the search reads and sets.
inline constexpr int32_t kIfmemNoSolutionFileBit = 0x4;
inline constexpr int32_t kIfmemInCallBit = 0x8;
// IFINTP bits.
inline constexpr int32_t kIfintpReducedCostFixing = 0x1;
inline constexpr int32_t kIfintpPropagation = 0x2;
inline constexpr int32_t kIfintpProbing = 0x4;

// Magnitudes of "no value yet": the incumbent before the first solution,
// the default cut-off.
inline constexpr double kNoIncumbent = 1e20;
inline constexpr double kDefaultCutoff = 1e40;

// The search attributes, under their own names.
inline int32_t& mip_status = integer_attributes[11];
inline int32_t& node_count = integer_attributes[13];
inline int32_t& node_depth = integer_attributes[14];
inline int32_t& active_node_count = integer_attributes[15];
inline int32_t& last_solution_node = integer_attributes[16];
inline int32_t& solution_count = integer_attributes[17];
inline double& dintsl = double_controls[dslot::kDintsl];
inline double& best_bound = double_controls[dslot::kBestBound];

// The driver's, node loop's and node selection's process-global words.
struct SearchDriverState {
  // CUTOFF, ADDCUT and OBJTAR in the internal objective units (the control
  // value times the objective scale factor).
  double scaled_cutoff = 0.0;
  double scaled_addcut = 0.0;
  double scaled_target = 0.0;
  // The looser cut-off that limits which nodes are dived into or chosen.
  double node_cutoff_value = 0.0;
  // Dive: 1 the node solved is the first child of the pair in the image;
  // 2 it was swapped in from the image; 3 nothing is pending in the image.
  int32_t dive_state = 3;
  // What the loop must store when it leaves the dive (0..5, see node_loop).
  int32_t pending_work = 0;
  int32_t first_child_open = 1;
  int32_t second_child_open = 2;
  int32_t branched_fractional_count = 0;
  int32_t pending_fractional_count = 0;
  int32_t list_selection_count = 0;
  // 0: a compact log header is due before the next compact line.
  int32_t log_line_counter = 1;
  int32_t current_node_number = 0;
  // The entities not feasible at the current LP solution.
  int32_t fractional_count = 0;
  int32_t fractional_entity_count = 0;
  // Search clock start in hundredths of a second.
  int32_t clock_start = 0;
  // Set by the node log's GL entry: stop the search.
  int32_t stop_flag = 0;
  // The node loop's stop code of the last run.
  int32_t last_stop_code = 0;
  // 1 while the node loop runs: only then is there a node being processed
  // for KLDELNODE to act on.
  int32_t node_in_process = 0;
  // The node count of a node being processed that KLDELNODE removed with
  // mode 1: it is not branched on (0: none).
  int32_t deleted_node = 0;
};
extern SearchDriverState search;

// Counters a test can read.
struct SearchDriverStats {
  int64_t nodes_solved = 0;
  int64_t integer_solutions_recorded = 0;
  int64_t integer_solutions_not_better = 0;  // integer nodes no better than the incumbent
  int64_t reduced_cost_fixings = 0;          // binaries fixed by their reduced cost
  int64_t nodes_cut_off_in_table = 0;
  int64_t table_selections = 0;
};
extern SearchDriverStats search_stats;

// KLGLOBAL and GLOBAL.
void run_global_command();
// ?AXGLOBAL: as run_global_command, but only when a search is under way or
// the last LP was optimal.
void run_global_if_lp_solved();
// ?INGLOBAL.
void run_global_unconditionally();
// Sets and restores the search controls around the driver.
void run_global_search();
// Mode 0 (KLINIGLOBAL): ends a stopped search; mode 1: completion. Puts the
// problem back in its state before the search (root bounds, no cut rows).
void reset_global_search(int32_t mode);
// KLDELNODE: mode 1 removes the node, any other mode its first child.
void delete_node(int32_t node, int32_t mode);

// flag 1: records the start of the search clock (also the simplex's clock,
// so that MAXTIM counts from the start of the search).
void start_search_clock(int32_t flag);
int32_t search_elapsed_seconds();

// Mode 1: a fresh search; 0: a continuation.
void start_global_search(int32_t mode);
void clear_global_counters();

// The value in the caller's units of an objective value in internal units.
double caller_objective(double internal);
// True when a is better than b (strictly), in the search's sense.
bool better_objective(double a, double b);

}  // namespace kl

#endif
