// Process-global state of presolve: the driver's outcome and counters, the
// sizes of the problem as presolve shrinks it, and the dimensions kept for
// going back to the original problem.
#ifndef KLSOL_PRESOLVE_PRESOLVE_STATE_H
#define KLSOL_PRESOLVE_PRESOLVE_STATE_H

#include <cstdint>

namespace kl {

// What presolve and each of its stages return.
enum PresolveOutcome : int32_t {
  PRESOLVE_DONE = 0,
  PRESOLVE_INFEASIBLE = 1,
  PRESOLVE_UNBOUNDED = 2,
  PRESOLVE_FILL_CAPACITY = 3,  // NEXTRA ran out, or the set-up failed
  PRESOLVE_NO_MEMORY = 4,
  PRESOLVE_STACK_CAPACITY = 5,  // M_S ran out
};

// The problem as presolve sees it, for the progress messages.
struct PresolveCounts {
  int32_t rows = 0;
  int32_t last_position = 0;  // nseq of the reduced problem
  int32_t elements = 0;
  int32_t entities = 0;
  int32_t set_members = 0;
  int32_t sets = 0;
};

struct PresolveState {
  int32_t outcome = PRESOLVE_DONE;
  // 1 when a round substituted a free column singleton out of the objective.
  int32_t round_change = 0;
  int32_t saved_itrace = 0;
  // Removals counted by the stages after the rounds.
  int32_t removed_rows = 0;
  int32_t removed_columns = 0;
  int32_t removed_elements = 0;
  // Integer-column bounds rounded and entity thresholds applied.
  int32_t rounded_bounds = 0;
  // Set by a round that met a conflict while IFPRES is negative.
  int32_t conflict_stop = 0;
  // The row or column behind an infeasible or unbounded outcome.
  int32_t unbounded_position = 0;
  PresolveCounts counts;
  // The presolved problem's own dimension words, kept while the original
  // problem is current.
  int32_t presolved_first_col = 1;
  int32_t presolved_objective_row = -2;
  // What the original problem had left when presolve began.
  int32_t orig_spare_rows_left = 0;
  int32_t orig_spare_cols_left = 0;
  int32_t orig_spare_elems_left = 0;
  int32_t orig_typed_entries = 0;
  // The registry's memory-use word at the start of presolve.
  int64_t saved_memory_word = 0;
  // NEXTRA as presolve reserved it: the presolved problem's element space
  // exceeds the original's by this much whatever NEXTRA says later.
  int32_t fill_reserve = 0;
  // The original problem's fixed-column constant, spare element count and
  // typed-entry count, put back whenever the original problem returns.
  double original_fixed_constant = 0.0;
  int32_t orig_nqelem = 0;
  // The presolved problem's words that the original problem's replace while
  // it is current (kept by switch_problem_arrays).
  int32_t presolved_spare_elems_left = 0;
  int32_t presolved_nqelem = 0;
  // Its objective constant, which holds the share of the columns presolve
  // fixed.
  double presolved_objective_constant = 0.0;
  // 1 while the original problem's arrays are current and the presolved
  // ones wait in the saved registry (switch_problem_arrays keeps it).
  int32_t original_current = 0;
  int32_t presolved_nglent = 0;
  int32_t presolved_nsets = 0;
  int32_t presolved_nsosm = 0;
};
extern PresolveState presolve_state;

// Message 258: the progress line of pass `pass` (0 before the rounds, the
// round number after a round, minus the pass number after an implied-bounds
// pass, NRPASS + 1 after the searches) with the problem's sizes, elements 12
// characters wide.
void print_presolve_progress(int32_t pass, int32_t rows, int32_t columns, int32_t elements, int32_t entities,
                             int32_t sets, int32_t set_members);

// Start-up and every load: no presolved problem, counts from the loaded one.
void reset_presolve_state();

}  // namespace kl

#endif
