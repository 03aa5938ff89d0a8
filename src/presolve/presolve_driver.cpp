// The presolve driver: set-up, the reduction rounds and the searches that
// follow them, the final bounds and compaction, and the outcome reported
// by status letter, lp_status, status word and message.
#include "presolve/presolve_driver.h"

#include <algorithm>
#include <new>
#include <vector>

#include "factor/simplex_state.h"
#include "klsol/message_ids.h"
#include "presolve/activity.h"
#include "presolve/entity_presolve.h"
#include "presolve/array_switch.h"
#include "presolve/duplicates.h"
#include "presolve/eliminate.h"
#include "presolve/integer_rows.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "presolve/reduce_pass.h"
#include "presolve/round_work.h"
#include "problem/array_ids.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// The capacity named by message 255: the six characters of its control.
constexpr const char* kFillCapacityWord = "NEXTRA";
constexpr const char* kStackCapacityWord = "M_S   ";
constexpr int32_t kCapacityWordChars = 6;
// A status word with any of these bits ends presolve at once.
constexpr int32_t kHardStatusBits = 0x1f;

// lp_status after a presolve that proved the problem infeasible or found it
// unbounded.
constexpr int32_t kLpStatusInfeasible = 2;
constexpr int32_t kLpStatusUnbounded = 5;

// Words of the conflict records the duplicate searches leave on the stack.
constexpr int32_t kRowConflictInts = 6;
constexpr int32_t kColumnConflictInts = 5;

bool search_running() { return (problem_flags & PF_SEARCH_RUNNING) != 0; }

// The conflict record on top of the stack, taken off again: its ints in
// push order.
std::vector<int32_t> pop_conflict_record(int32_t ints) {
  std::vector<int32_t> words(static_cast<size_t>(ints));
  for (int32_t k = ints - 1; k >= 0; --k) words[static_cast<size_t>(k)] = pop_presolve_int();
  pop_presolve_real();
  return words;
}

void insert_position_name(int32_t position) { insert_message_name8(position_name(position)); }

// Duplicate rows. False when presolve ends here (outcome set).
bool run_parallel_rows(int32_t& outcome) {
  int32_t conflict = 0;
  const int32_t status = presolve_parallel_rows(conflict, presolve_state.removed_rows, presolve_state.removed_elements);
  if (status != 0) {
    outcome = PRESOLVE_STACK_CAPACITY;
    return false;
  }
  if (conflict != 1) return true;
  const std::vector<int32_t> record = pop_conflict_record(kRowConflictInts);
  // With IFPRES negative the conflict is passed over: the optimiser finds
  // the infeasibility itself.
  if (icv(ic::IFPRES) <= 0) return true;
  begin_message(MSG_PRESOLVE_PARALLEL_ROWS_CONFLICT);
  insert_position_name(record[0]);
  insert_position_name(record[1]);
  emit_message();
  presolve_state.unbounded_position = record[1];
  outcome = PRESOLVE_INFEASIBLE;
  return false;
}

// Duplicate columns. False when presolve ends here (outcome set).
bool run_parallel_columns(int32_t& outcome) {
  int32_t conflict = 0;
  const int32_t status = presolve_parallel_columns(conflict, presolve_state.removed_columns,
                                                   presolve_state.removed_rows, presolve_state.removed_elements);
  if (status != 0) {
    outcome = PRESOLVE_STACK_CAPACITY;
    return false;
  }
  if (conflict != 1) return true;
  const std::vector<int32_t> record = pop_conflict_record(kColumnConflictInts);
  if (icv(ic::IFPRES) <= 0) return true;
  const int32_t a = record[0];
  const int32_t b = record[1];
  if (a > 0) {
    begin_message(MSG_PRESOLVE_PARALLEL_COLUMNS_UNBOUNDED);
    insert_position_name(a);
    insert_position_name(b);
    emit_message();
    presolve_state.unbounded_position = a;
    outcome = PRESOLVE_UNBOUNDED;
  } else if (-a == b) {
    begin_message(MSG_OUTCOME_INFEASIBLE);
    begin_message(MSG_PRESOLVE_COLUMN_BOUNDS_CROSS);
    insert_position_name(-a);
    emit_message();
    outcome = PRESOLVE_INFEASIBLE;
  } else {
    begin_message(MSG_PRESOLVE_PARALLEL_COLUMNS_INFEASIBLE);
    insert_position_name(-a);
    insert_position_name(b);
    emit_message();
    presolve_state.unbounded_position = b;
    outcome = PRESOLVE_INFEASIBLE;
  }
  return false;
}

// The reduction rounds. Returns false when an outcome ends presolve; stop_early
// := true when a conflict met with IFPRES negative skips to the final bounds.
bool run_rounds(int32_t& outcome, bool& stop_early) {
  const int32_t rounds = icv(ic::NRPASS);
  for (int32_t round = 1; round <= rounds; ++round) {
    presolve_state.round_change = 0;
    int32_t conflict = 0;
    presolve_reduce_pass(round, presolve_state.round_change, conflict, outcome);
    if (conflict != 0) presolve_state.unbounded_position = conflict;
    if (outcome != PRESOLVE_DONE) return false;
    if (presolve_state.conflict_stop != 0) {
      stop_early = true;
      return true;
    }
    if (presolve_state.round_change == 0 && round != 1 && icv(ic::IEFILL) <= 0) break;
    if (icv(ic::NEXTRA) > 0) {
      int32_t eliminated = 0;
      presolve_eliminate(eliminated, conflict, outcome);
      if (outcome != PRESOLVE_DONE) return false;
      if (presolve_state.round_change + eliminated == 0) break;
    }
  }
  return true;
}

// The work after the rounds: integer rows (inside the search), duplicate
// rows and duplicate columns. Returns false when an outcome ends presolve.
bool run_searches(int32_t& outcome) {
  const int32_t ipslct = icv(ic::IPSLCT);
  if ((ipslct & kSelectNoEntitySweeps) == 0) {
    build_presolve_row_copy(0);
    outcome = presolve_integer_rows();
    if (outcome != PRESOLVE_DONE) return false;
  }
  build_presolve_row_copy(0);
  presolve_state.removed_rows = 0;
  presolve_state.removed_columns = 0;
  presolve_state.removed_elements = 0;
  if ((ipslct & kSelectParallelRows) != 0 && presolve_state.conflict_stop == 0) {
    if (!run_parallel_rows(outcome)) return false;
  }
  if (nqelem <= 0 && (ipslct & kSelectParallelColumns) != 0 && presolve_state.conflict_stop == 0) {
    const bool entity_flags = icv(ic::SSV002) == 2;
    if (entity_flags) mark_entity_flags(0);
    const bool ran = run_parallel_columns(outcome);
    if (entity_flags) mark_entity_flags(1);
    if (!ran) return false;
  }
  return true;
}

// The entity round (the entity presolve itself runs only inside
// the global search).
bool run_entity_round(int32_t& outcome) {
  if (nglent <= 0) return true;
  const int32_t ipslct = icv(ic::IPSLCT);
  icv(ic::IPSLCT) = ipslct | kSelectEntityRound;
  compute_row_activity_bounds();
  int32_t change = 0;
  int32_t conflict = 0;
  presolve_reduce_pass(-icv(ic::NRPASS), change, conflict, outcome);
  icv(ic::IPSLCT) = ipslct;
  if (conflict != 0) presolve_state.unbounded_position = conflict;
  if (outcome != PRESOLVE_DONE) return false;
  if ((ipslct & kSelectNoEntitySweeps) != 0) return true;
  // The entity presolve reads the rows' counts and the row copy as the
  // round left them.
  build_presolve_row_copy(0);
  compute_row_activity_bounds();
  EntityPresolveCounts counts;
  int32_t state = 0;
  presolve_global_entities(counts, state);
  presolve_state.removed_rows += counts.rows_removed;
  presolve_state.removed_columns += counts.columns_removed;
  presolve_state.removed_elements += counts.elements_removed;
  if (state != 0) outcome = PRESOLVE_STACK_CAPACITY;
  return outcome == PRESOLVE_DONE;
}

void print_reduced_size() {
  begin_message(MSG_PRESOLVE_REDUCED);
  insert_message_value_suffix(nrow);
  insert_message_value_suffix(nseq - store.first_col + 1);
  insert_message_value_suffix(nelem);
  emit_message();
}

// The progress line (message 258) of the problem as it stands at the end.
void print_final_progress(int32_t pass) {
  const PresolveCounts& c = presolve_state.counts;
  print_presolve_progress(pass, c.rows - presolve_state.removed_rows,
                          c.last_position - store.first_col + 1 - presolve_state.removed_columns,
                          c.elements - presolve_state.removed_elements, c.entities, c.sets, c.set_members);
}

// An implied-bounds pass that ran shows the problem it leaves, by the
// negated pass number.
void report_dropped_bounds(int32_t pass, const DroppedBounds& dropped) {
  if (dropped.ran && icv(ic::IFMSG) > 0) print_final_progress(-pass);
}

// The final sweep of implied bounds over the reduced problem, which no
// round has looked at when the elimination or the duplicate searches came
// last. False when its bounds cross: the rows cannot all hold, and the
// problem is reported infeasible as a round reports it (outcome 1), or,
// with IFPRES negative, the conflict is passed over (outcome 0).
bool final_implied_bounds(int32_t& outcome) {
  RoundWork& w = round_work;
  w = RoundWork{};
  w.tracing = icv(ic::ITRACE) != 0;
  if (w.tracing) {
    try {
      w.trace_lower.assign(static_cast<size_t>(nseq) + 1, 0);
      w.trace_upper.assign(static_cast<size_t>(nseq) + 1, 0);
    } catch (const std::bad_alloc&) {
      // The conflict is still found and named, without its chain.
      w = RoundWork{};
    }
  }
  int32_t row = 0;
  const int32_t column = derive_implied_column_bounds(row);
  if (column != 0) {
    column_infeasible(column, row);
    outcome = w.outcome;
    if (w.conflict != 0) presolve_state.unbounded_position = w.conflict;
  }
  w = RoundWork{};
  return column == 0;
}

// The end of the reductions: final bounds, the progress line, compaction. False when the
// status word ends presolve at once.
bool finish_reductions(int32_t& outcome) {
  OneBased<double> work = real_array(ARR_WORK_VECTOR);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  if (work && work_rhs)
    for (int32_t i = 1; i <= nrow; ++i) work[i] = work_rhs[i];
  compute_row_activity_bounds();
  report_dropped_bounds(2, derive_implied_bounds_pass(2));
  if (final_implied_bounds(outcome)) {
    report_dropped_bounds(1, derive_implied_bounds_pass(1));
  } else if (outcome != PRESOLVE_DONE) {
    return true;
  }
  if (icv(ic::IFMSG) != 0) print_final_progress(icv(ic::NRPASS) + 1);
  int32_t result = 0;
  move_flagged_rows_to_cut_pool(result);
  if ((status_code & kHardStatusBits) != 0) return false;
  outcome = std::max(outcome, result);
  if (status_code == STATUS_OK) print_reduced_size();
  return true;
}

void print_capacity(const char* word) {
  begin_message(MSG_PRESOLVE_CAPACITY);
  insert_message_chars(word, kCapacityWordChars);
  emit_message();
}

// The outcome by letter, lp_status, status word and message.
void report_outcome(int32_t outcome) {
  switch (outcome) {
    case PRESOLVE_DONE:
      if (presolve_state.rounded_bounds != 0) {
        begin_message(MSG_PRESOLVE_ROUNDED_BOUNDS);
        insert_message_int(presolve_state.rounded_bounds);
        emit_message();
      }
      status_letter = kLetterUnfinished;
      break;
    case PRESOLVE_INFEASIBLE:
      status_letter = kLetterInfeasible;
      lp_status = kLpStatusInfeasible;
      break;
    case PRESOLVE_UNBOUNDED:
      status_letter = kLetterUnbounded;
      lp_status = kLpStatusUnbounded;
      break;
    case PRESOLVE_FILL_CAPACITY:
      status_letter = kLetterUnfinished;
      status_code = STATUS_REPORTED;
      print_capacity(kFillCapacityWord);
      break;
    case PRESOLVE_NO_MEMORY:
      status_letter = kLetterUnfinished;
      status_code = STATUS_REPORTED;
      begin_message(MSG_PRESOLVE_NO_MEMORY);
      emit_message();
      break;
    default:
      status_letter = kLetterUnfinished;
      status_code = STATUS_REPORTED;
      print_capacity(kStackCapacityWord);
      break;
  }
}

}  // namespace

void presolve_problem(int32_t& outcome) {
  clear_presolve_stack();
  outcome = PRESOLVE_DONE;
  if (icv(ic::IPSLCT) == 0) return;
  presolve_state.rounded_bounds = 0;
  presolve_state.saved_itrace = icv(ic::ITRACE);
  presolve_state.unbounded_position = 0;
  if (search_running() && icv(ic::ITRACE) != 0 && nglent > 0) {
    icv(ic::ITRACE) = 0;
    begin_message(MSG_PRESOLVE_TRACE_OFF);
    emit_message();
  }
  if (presolve_allocate() != 0) {
    outcome = PRESOLVE_FILL_CAPACITY;
    presolve_state.outcome = outcome;
    status_code = STATUS_REPORTED;
    status_letter = kLetterUnfinished;
    icv(ic::ITRACE) = presolve_state.saved_itrace;
    return;
  }

  presolve_fixed_columns();
  presolve_count_reduced_problem();
  compute_row_activity_bounds();
  bool stop_early = false;
  bool reduce = run_rounds(outcome, stop_early);
  if (reduce && !stop_early) reduce = run_searches(outcome) && run_entity_round(outcome);
  const bool finished = !reduce || finish_reductions(outcome);
  // The row copy and activity data of the reductions are of no further use.
  free_presolve_activity();
  if (!finished) {
    icv(ic::ITRACE) = presolve_state.saved_itrace;
    // The compacted problem cannot be used: back to the loaded one.
    restore_original_problem();
    if (outcome == PRESOLVE_DONE) outcome = PRESOLVE_NO_MEMORY;
    presolve_state.outcome = outcome;
    return;
  }

  presolve_state.outcome = outcome;
  icv(ic::ITRACE) = presolve_state.saved_itrace;
  report_outcome(outcome);
  if (status_code != STATUS_OK) {
    restore_original_problem();
    // A failed store into the cut pool leaves the status word set after a
    // finished presolve: the caller must not take the loaded problem for
    // a presolved one.
    if (outcome == PRESOLVE_DONE) outcome = PRESOLVE_NO_MEMORY;
    presolve_state.outcome = outcome;
  }
}

}  // namespace kl
