// The frame of one reduction round: entry and work data, fixed columns, the
// order of the families and their passes, conflict exits, progress lines
// and the clean-up.
#include "presolve/reduce_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/entity_reductions.h"
#include "presolve/presolve_bits.h"
#include "presolve/presolve_state.h"
#include "presolve/round_work.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "runtime/sink.h"

namespace kl {

RoundWork round_work;
int32_t presolve_cost_fixings = 0;

double minimising_cost(int32_t j) {
  const double c = real_array(ARR_OBJECTIVE)[j];
  return round_work.maximise ? -c : c;
}

bool push_round_record(const PresolveRecord& record) {
  if (push_presolve_record(record)) return true;
  round_work.outcome = PRESOLVE_STACK_CAPACITY;
  round_work.stop = true;
  round_work.capacity = true;
  return false;
}

void append_column_list(PresolveRecord& record, int32_t j, int32_t skip_row, bool with_cost) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  int32_t n = 0;
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
    const int32_t i = elem_row[e];
    if (i < 1 || i > nrow || i == skip_row || (status[i] & kRowRemoved) != 0) continue;
    record.ints.push_back(i);
    record.reals.push_back(elem_value[e]);
    ++n;
  }
  record.ints.push_back(n);
  if (with_cost) record.reals.push_back(real_array(ARR_OBJECTIVE)[j]);
}

void append_row_list(PresolveRecord& record, int32_t i, int32_t skip_column) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const PresolveRowCopy& copy = presolve_row_copy;
  int32_t n = 0;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t j = copy.column[k];
    if (j == 0 || j == skip_column || (status[j] & PS_FIXED) != 0) continue;
    record.ints.push_back(j);
    record.reals.push_back(elem_value[copy.element[k]]);
    ++n;
  }
  record.ints.push_back(n);
}

double row_coefficient(int32_t i, int32_t j) {
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e)
    if (elem_row[e] == i) return real_array(ARR_ELEM_VALUE)[e];
  return 0.0;
}

int32_t live_entries(int32_t i) { return presolve_activity.positive[i] + presolve_activity.negative[i]; }

void remove_round_row(int32_t i, int32_t entries) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  remove_presolve_row(i);
  int_array(ARR_ROW_TYPE)[i] &= ~kRowExamine;
  for (int32_t* setter : {&round_work.upper_setter[i], &round_work.lower_setter[i]}) {
    if (*setter != 0) status[*setter] &= ~(setter == &round_work.upper_setter[i] ? kDualUpperSetter : kDualLowerSetter);
    *setter = 0;
  }
  ++round_work.rows_removed;
  round_work.elements_removed += entries;
}

void set_dual_lower_setter(int32_t i, int32_t j) {
  int32_t& setter = round_work.lower_setter[i];
  if (setter != 0 && setter != j) int_array(ARR_POS_STATUS)[setter] &= ~kDualLowerSetter;
  setter = j;
  int_array(ARR_POS_STATUS)[j] |= kDualLowerSetter;
}

void set_dual_upper_setter(int32_t i, int32_t j) {
  int32_t& setter = round_work.upper_setter[i];
  if (setter != 0 && setter != j) int_array(ARR_POS_STATUS)[setter] &= ~kDualUpperSetter;
  setter = j;
  int_array(ARR_POS_STATUS)[j] |= kDualUpperSetter;
}

namespace {

// With IFPRES negative a conflict is not reported: the round stops reducing
// and the optimiser meets the infeasibility or unboundedness itself.
bool conflict_passed_on() {
  if (icv(ic::IFPRES) >= 0) return false;
  presolve_state.conflict_stop = 1;
  round_work.stop = true;
  return true;
}

void emit_named(int32_t message, int32_t position) {
  begin_message(message);
  insert_message_name8(position_name(position));
  emit_message();
}

}  // namespace

void row_infeasible(int32_t i, int32_t side) {
  if (conflict_passed_on()) return;
  round_work.outcome = PRESOLVE_INFEASIBLE;
  round_work.conflict = i;
  round_work.stop = true;
  if (icv(ic::ITRACE) != 0) {
    explain_bound_infeasibility(i, side);
    return;
  }
  if (icv(ic::IFMSG) >= 2) {
    const PresolveActivityCounts& counts = presolve_activity;
    begin_message(MSG_OUTCOME_INFEASIBLE);
    insert_message_int(i);
    insert_message_real(work_vector()[i]);
    insert_message_real(real_array(ARR_WORK_LOWER)[i]);
    insert_message_real(real_array(ARR_WORK_UPPER)[i]);
    emit_message();
    begin_message(MSG_OUTCOME_INFEASIBLE);
    insert_message_int(counts.min_infinite[i]);
    insert_message_int(counts.max_infinite[i]);
    insert_message_int(counts.positive[i]);
    insert_message_int(counts.negative[i]);
    emit_message();
  }
  emit_named(MSG_PRESOLVE_ROW_INFEASIBLE, i);
}

void column_infeasible(int32_t j, int32_t from_row) {
  if (conflict_passed_on()) return;
  round_work.outcome = PRESOLVE_INFEASIBLE;
  round_work.conflict = j;
  round_work.stop = true;
  if (icv(ic::IFMSG) >= 2) {
    begin_message(MSG_OUTCOME_INFEASIBLE);
    insert_message_int(j);
    emit_message();
    if (from_row != 0) {
      const PresolveActivityCounts& counts = presolve_activity;
      const double a = row_coefficient(from_row, j);
      for (int32_t line = 0; line < 2; ++line) {
        char text[320];
        std::snprintf(text, sizeof text, "%d %d %.9g %.9g %.9g %.9g %.9g %d %d %d %d %.9g", j,
                      line == 0 ? -from_row : from_row, work_vector()[from_row], real_array(ARR_WORK_UPPER)[from_row],
                      real_array(ARR_WORK_LOWER)[from_row], real_array(ARR_WORK_LOWER)[j],
                      real_array(ARR_WORK_UPPER)[j], counts.min_infinite[from_row], counts.max_infinite[from_row],
                      counts.positive[from_row], counts.negative[from_row], a);
        write_message_line(1, text);
      }
    }
  }
  if (icv(ic::ITRACE) == 0) emit_named(MSG_PRESOLVE_COLUMN_INFEASIBLE, j);
  else explain_bound_infeasibility(j, -1);
}

void round_unbounded(int32_t position, int32_t kind) {
  if (conflict_passed_on()) return;
  round_work.outcome = PRESOLVE_UNBOUNDED;
  round_work.conflict = position;
  round_work.stop = true;
  presolve_state.unbounded_position = position;
  if (icv(ic::IFMSG) >= 2) {
    begin_message(MSG_OUTCOME_UNBOUNDED);
    insert_message_value12(position);
    insert_message_int(kind);
    insert_message_real(position >= store.first_col ? real_array(ARR_OBJECTIVE)[position] : 0.0);
    insert_message_int((int_array(ARR_POS_STATUS)[position] & kImpliedLowerFinite) != 0 ? 1 : 0);
    insert_message_int((int_array(ARR_POS_STATUS)[position] & kImpliedUpperFinite) != 0 ? 1 : 0);
    emit_message();
  }
  emit_named(kind == 1 ? MSG_PRESOLVE_COLUMN_UNBOUNDED : MSG_PRESOLVE_ROW_DUAL_INFEASIBLE, position);
}

namespace {

void emit_progress(int32_t pass) {
  const PresolveCounts& counts = presolve_state.counts;
  const RoundWork& w = round_work;
  print_presolve_progress(pass, counts.rows - w.rows_removed,
                          counts.last_position - store.first_col + 1 - w.columns_removed,
                          counts.elements - w.elements_removed, counts.entities - w.entities_removed, counts.sets,
                          counts.set_members - w.set_members_removed);
}

// Dual bounds of every row from its type, and the row flags of the round.
void initialise_rows() {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<double> slack_upper = real_array(ARR_UPPER);
  RoundWork& w = round_work;
  for (int32_t i = 1; i <= nrow; ++i) {
    int32_t flags = kRowExamine;
    double lo = -kInfinity;
    double up = kInfinity;
    switch (row_type[i] & ROW_TYPE_MASK) {
      case ROW_E:
        flags |= kRowEquality | kRowDualUpperInfinite | kRowDualLowerInfinite;
        break;
      case ROW_G:
        lo = 0.0;
        flags |= kRowDualUpperInfinite;
        break;
      case ROW_L:
        if (slack_upper[i] >= kInfinity) {
          up = 0.0;
          flags |= kRowDualLowerInfinite;
        } else {
          flags |= kRowDualUpperInfinite | kRowDualLowerInfinite;
        }
        break;
      case ROW_N:
        break;
      default:  // R
        flags |= kRowDualUpperInfinite | kRowDualLowerInfinite;
        break;
    }
    row_type[i] = (row_type[i] & ~(kRowEquality | kRowDualUpperInfinite | kRowDualLowerInfinite)) | flags;
    w.dual_lower[i] = lo;
    w.dual_upper[i] = up;
  }
}

// Step of the fixed columns: a column whose bounds meet leaves the problem
// with its value moved into the right-hand sides; the others are checked for
// being column singletons.
void remove_fixed_columns() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const OneBased<double> lower = real_array(ARR_LOWER);
  const OneBased<double> upper = real_array(ARR_UPPER);
  const OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> rhs = work_vector();
  RoundWork& w = round_work;
  PresolveRecord record;
  for (int32_t j = store.first_col; j <= nseq && !w.stop; ++j) {
    if ((status[j] & PS_FIXED) != 0) continue;
    const bool fixed = std::fabs(upper[j] - lower[j]) < dcv(dc::ZTOLDA);
    if (fixed && (status[j] & PS_PROTECTED) == 0 && (status[j] & PS_BASIC) == 0) {
      add_fixed_quadratic_terms(j, upper[j]);
      const double v = lower[j];
      dcv(kObjectiveConstantSlot) += v * cost[j];
      record.clear();
      int32_t k = 0;
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
        const int32_t i = elem_row[e];
        if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
        rhs[i] -= v * elem_value[e];
        ++k;
      }
      if (w.later) append_column_list(record, j, 0, true);
      record.ints.push_back(w.later ? -j : j);
      record.ints.push_back(REC_FIXED_COLUMN);
      record.reals.push_back(v);
      if (!push_round_record(record)) return;
      status[j] |= PS_FIXED;
      ++w.columns_removed;
      w.elements_removed += k;
      continue;
    }
    if (fixed && (status[j] & PS_PROTECTED) == 0) continue;
    int32_t live = 0;
    for (int32_t e = col_start[j]; e < col_start[j + 1] && live < 2; ++e) {
      const int32_t i = elem_row[e];
      if (i >= 1 && i <= nrow && (status[i] & kRowRemoved) == 0) ++live;
    }
    if (live == 1) status[j] |= kSingletonMark;
  }
}

bool pass_removed_something(const RoundWork& before, const RoundWork& after) {
  return after.rows_removed != before.rows_removed || after.columns_removed != before.columns_removed ||
         after.entities_removed != before.entities_removed || after.set_members_removed != before.set_members_removed;
}

// End of the round: removed rows become N rows, the round's flags go, the
// work vector goes back into the working right-hand side and the counts
// shrink.
void finish_rows_and_counts() {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  RoundWork& w = round_work;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((status[i] & kRowRemoved) != 0) {
      row_type[i] = (row_type[i] & ~(ROW_E | ROW_G | ROW_L | ROW_N)) | ROW_N;
    } else if ((row_type[i] & kRowEquality) != 0 && live_entries(i) <= 2) {
      ++w.short_equalities;
    }
    row_type[i] &= ~(kRowElimination | kRowEquality | kRowDualUpperInfinite | kRowDualLowerInfinite);
  }
  dcv(kObjectiveConstantSlot) += 0.0;
  const OneBased<double> work = work_vector();
  OneBased<double> working_rhs = real_array(ARR_WORK_RHS);
  for (int32_t i = 1; i <= nrow; ++i) working_rhs[i] = work[i];
  PresolveCounts& counts = presolve_state.counts;
  counts.rows -= w.rows_removed;
  counts.last_position -= w.columns_removed;
  counts.elements -= w.elements_removed;
  counts.entities -= w.entities_removed;
  counts.set_members -= w.set_members_removed;
  nelem -= w.elements_removed;
}

void run_families() {
  RoundWork& w = round_work;
  const int32_t passes = std::max(icv(ic::NPPASS), icv(ic::NDPASS));
  if (w.singletons) remove_column_singletons();
  for (int32_t p = 1; p <= passes && !w.stop; ++p) {
    const int32_t rows_before = w.rows_removed;
    if (p <= icv(ic::NPPASS) && w.forcing) apply_forcing_rows();
    if (!w.stop && p <= icv(ic::NDPASS) && w.dual) fix_locked_zero_cost_columns();
    if (w.rows_removed == rows_before) break;
  }
  for (int32_t p = 1; p <= passes && !w.stop; ++p) {
    w.last_pass = p;
    const RoundWork before = w;
    w.entity_changed = false;
    w.redundancy_tol = p == 1 ? -dcv(dc::ZTOLDA) : dcv(dc::ZTOLZE);
    if (p <= icv(ic::NPPASS)) {
      examine_rows();
      if (!w.stop) tighten_implied_bounds();
    }
    if (!w.stop && p <= icv(ic::NDPASS) && w.dual) test_reduced_costs();
    if (!w.stop && w.entity_sweeps) sweep_global_entities();
    if (w.stop) break;
    if (icv(ic::IFMSG) != 0) emit_progress(p);
    if (p >= 2 && !pass_removed_something(before, w) && !w.entity_changed &&
        !(w.entity_round && w.tightenings != before.tightenings))
      break;
  }
}

}  // namespace

void presolve_reduce_pass(int32_t round, int32_t& change, int32_t& conflict, int32_t& outcome) {
  conflict = 0;
  const int32_t select = icv(ic::IPSLCT);
  if ((select & 0xff) == 0 && round > 0) {
    outcome = PRESOLVE_DONE;
    return;
  }
  RoundWork& w = round_work;
  w = RoundWork{};
  w.round = round;
  w.later = round != 1;
  const bool quadratic = nqelem > 0;
  w.singletons = (select & kSelectColumnSingletons) != 0;
  w.singleton_rows = (select & kSelectSingletonRows) != 0;
  w.forcing = (select & kSelectForcingRows) != 0;
  w.dual = (select & kSelectDual) != 0 && !quadratic;
  w.empty_rows = (select & kSelectEmptyRows) != 0;
  w.zero_reduced_cost = (select & kSelectZeroReducedCost) != 0 && !quadratic;
  w.entity_sweeps = (select & kSelectNoEntitySweeps) == 0;
  w.entity_round = (select & kSelectEntityRound) != 0;
  w.verbose = icv(ic::IFMSG) >= 20;
  w.maximise = dcv(dc::SENSE_FACTOR) < 0.0;
  if (w.entity_sweeps) presolve_state.counts.set_members = nsosm;

  OneBased<double> work = work_vector();
  const OneBased<double> working_rhs = real_array(ARR_WORK_RHS);
  for (int32_t i = 1; i <= nrow; ++i) work[i] = working_rhs[i];

  const size_t rows = static_cast<size_t>(nrow) + 1;
  const size_t positions = static_cast<size_t>(nseq) + 1;
  w.tracing = icv(ic::ITRACE) != 0;
  try {
    w.dual_lower.assign(rows, 0.0);
    w.dual_upper.assign(rows, 0.0);
    w.upper_setter.assign(rows, 0);
    w.lower_setter.assign(rows, 0);
    if (w.tracing) {
      w.trace_lower.assign(positions, 0);
      w.trace_upper.assign(positions, 0);
      w.queue.reserve(2 * positions);
    }
  } catch (const std::bad_alloc&) {
    w = RoundWork{};
    outcome = PRESOLVE_NO_MEMORY;
    return;
  }
  initialise_rows();

  remove_fixed_columns();
  if (!w.capacity) {
    compute_row_activity_bounds();
    build_presolve_row_copy(0);
    if (!w.stop) run_families();
  }
  if (w.capacity) {
    outcome = PRESOLVE_STACK_CAPACITY;
    return;
  }
  if (w.outcome == PRESOLVE_DONE) substitute_free_columns();
  if (w.capacity) {
    outcome = PRESOLVE_STACK_CAPACITY;
    return;
  }
  if (icv(ic::IFMSG) != 0) emit_progress(w.last_pass);
  finish_rows_and_counts();
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_PRESOLVE_ROUND_SUMMARY);
    insert_message_value12(w.tightenings);
    insert_message_value12(w.short_equalities);
    emit_message();
  }
  w.dual_lower = {};
  w.dual_upper = {};
  w.trace_lower = {};
  w.trace_upper = {};
  w.queue = {};
  change = w.change;
  conflict = w.conflict;
  outcome = w.outcome;
}

}  // namespace kl
