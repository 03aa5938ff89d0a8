#include "simplex/parametric.h"

#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/lp_driver.h"
#include "simplex/pivot_updates.h"
#include "simplex/primal_driver.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t parametric_row = 0;
ParametricStats parametric_stats;

namespace {

constexpr int32_t kInfeasibleMarks = RF_INFEAS_ABOVE | RF_INFEAS_BELOW;
// Positions that never enter: basic, fixed, rejected, fixed by the search.
constexpr int32_t kNotCandidate = PS_BASIC | PS_FIXED | PS_MARK | PS_SEARCH_FIXED;
// The start of the ratio choice: any breakpoint is nearer.
constexpr double kNoRatioYet = -1e20;
// Reduced costs of an optimal basis may fall short of 0 by this many ZTCOST
// (the optimisers end on their own tolerances and scales).
constexpr double kOptimalityAllowance = 1.0;

bool valid_row() { return parametric_row >= 1 && parametric_row <= nrow; }

// Caller units per stored unit of the slack of row k.
double row_unscale(int32_t k) {
  return scale_powers[2 * kNeutralScaleExponent - scale_exponent(int_array(ARR_POS_STATUS)[k])];
}

// Basis position of the slack of row k, 0 when it is non-basic. After an
// invert a basic slack sits at its own row, but a bounded one may leave and
// come back elsewhere between inverts.
int32_t slack_position(int32_t k) {
  if ((int_array(ARR_POS_STATUS)[k] & PS_BASIC) == 0) return 0;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  if (header[k] == k) return k;
  for (int32_t i = 1; i <= nrow; ++i)
    if (header[i] == k) return i;
  return 0;
}

// The stored value of the slack of row k, basic or not.
double slack_value(int32_t k) {
  const int32_t slot = slack_position(k);
  if (slot > 0) return real_array(ARR_BASIC_VALUES)[slot];
  const int32_t s = int_array(ARR_POS_STATUS)[k];
  if ((s & PS_NONBASIC_BETWEEN) != 0) return real_array(ARR_X)[k];
  if ((s & PS_AT_UPPER) != 0) return real_array(ARR_UPPER)[k];
  if ((s & PS_FREE) != 0) return 0.0;
  return real_array(ARR_LOWER)[k];
}

// a_p'y for a position; a slack's column is the unit vector of its row.
double column_dot(int32_t p, OneBased<double> y) {
  if (p <= nrow) return y[p];
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  double sum = 0.0;
  for (int32_t e = start[p]; e < start[p + 1]; ++e) sum += elem_value[e] * y[elem_row[e]];
  return sum;
}

// Positions that pricing looks at: non-basic, not masked, and not the gap
// of spare rows between the rows and the first column.
bool priced(int32_t p, OneBased<int32_t> status) {
  return (status[p] & kNotCandidate) == 0 && (p <= nrow || p >= store.first_col);
}

// The work vector with entries set by fill, through BTRAN and sparsified.
template <typename Fill>
void btran_of(Fill fill) {
  factor.work_vector_state = WV_CLEAR_ALL;
  clear_work_vector();
  OneBased<double> w = work_vector();
  fill(w);
  factor.work_vector_state = WV_CLEAR_ALL;
  basis_btran_work_vector();
  factor.work_vector_state = WV_CLEAR_ALL;
  sparsify_work_vector(dcv(dc::ZTETA));
}

void clear_work() {
  factor.work_vector_state = WV_CLEAR_ALL;
  clear_work_vector();
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
}

// Entering column transformed and checked. The result is 0 or the failing
// code.
int32_t transform_column() {
  unpack_column(entering_column);
  if (icv(ic::IFFTUP) != 0) {
    // The dense passes keep no nonzero list, and the spike stored for the
    // update must hold every entry of the partly solved column.
    ftran_invert_part();
    factor.work_vector_state = WV_CLEAR_ALL;
    sparsify_work_vector(dcv(dc::ZTETA));
    if (append_eta_column() != 0) return UPDATE_ETA_FILE_FULL;
    ftran_update_part(work_vector());
    factor.work_vector_state = WV_CLEAR_ALL;
  } else {
    eta_backward_pass();
    factor.work_vector_state = WV_CLEAR_ALL;
  }
  if (entering_sign == 1)
    drop_tiny_entries(dcv(dc::ZTETA));
  else
    sparsify_work_vector(dcv(dc::ZTETA));
  int32_t result = 0;
  check_entering_infeasibility(result);
  return result;
}

enum class Next { kPrice, kCheck, kColumn, kRatio, kPivot, kRecord, kReturn };

void end_analysis(char letter) {
  status_letter = letter;
  problem_state = kParametricFinished;
}

// A factor that fails with no update since the invert cannot be cured by a
// fresh one: the caller re-optimises.
void report_factor_failure(int32_t& flag) {
  report_plain_error(MSG_SIMPLEX_FACTOR_FAILURE);
  flag = 1;
}

// What a failed step before the pivot leads to. Code 3 (the reduced cost of
// the transformed column disagrees with the priced one) and code 7 (the
// dual change check) go on with the step while the factor is young and ask
// for a fresh one otherwise; every other code asks for a fresh factor, or,
// right after an invert, reports the failure.
Next handle_code(int32_t code, int32_t& flag) {
  if (check_stop_request() != 0) {
    end_analysis(kLetterStopped);
    return Next::kReturn;
  }
  const bool young = update_count < icv(ic::INVMIN);
  switch (code) {
    case 3:
      ++parametric_stats.check_failures;
      return young ? Next::kRatio : Next::kReturn;
    case kReducedCostInaccurate:
      ++parametric_stats.check_failures;
      return young ? Next::kColumn : Next::kReturn;
    default:
      if (update_count == 0) report_factor_failure(flag);
      return Next::kReturn;
  }
}

// Takes back the pivot just applied to the basic values; the invert that
// follows recomputes values, upper bounds and marks from the header.
void undo_pivot() {
  int_array(ARR_BASIS_HEADER)[leaving_row] = leaving_variable;
  problem_flags &= ~PF_FACTOR_VALID;
  ++parametric_stats.undone_pivots;
}

}  // namespace

int32_t default_parametric_row() {
  OneBased<int32_t> row_word = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  std::vector<char> has_entries(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j)
    for (int32_t e = start[j]; e < start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i >= 1 && i <= nrow) has_entries[static_cast<size_t>(i)] = 1;
    }
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((row_word[i] & ROW_TYPE_MASK) != ROW_N) continue;
    if (i == store.objective_row || i == objective_name_row) continue;
    if (has_entries[static_cast<size_t>(i)] != 0) return i;
  }
  return 0;
}

void parametric_pricing(int32_t& flag) {
  OneBased<int32_t> row_word = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((row_word[i] & kInfeasibleMarks) != 0) {
      flag = 1;
      return;
    }
  }
  flag = 0;
  nnegdj = 0;
  entering_column = 0;
  if (!valid_row()) return;
  const int32_t k = parametric_row;
  const int32_t slot = slack_position(k);
  // The internal cost of the stored slack per unit of lambda is -direction:
  // the sense turns the caller's objective into a minimisation, the unscale
  // factor keeps lambda in the caller's units of the row.
  const double direction = sense_factor * row_unscale(k);

  // Direction duals: the rate at which each dual moves with lambda.
  OneBased<double> rate_duals = real_array(ARR_PIVOT_ROW);
  if (slot > 0) {
    btran_of([&](OneBased<double> w) { w[slot] = direction; });
    OneBased<double> w = work_vector();
    for (int32_t i = 1; i <= nrow; ++i) rate_duals[i] = w[i];
    clear_work();
  } else {
    for (int32_t i = 1; i <= nrow; ++i) rate_duals[i] = 0.0;
  }

  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const double lambda = parametric_value;
  btran_of([&](OneBased<double> v) {
    for (int32_t i = 1; i <= nrow; ++i) v[i] = -sense_factor * cost[header[i]];
    if (slot > 0) v[slot] += lambda * direction;
  });
  OneBased<double> duals = work_vector();

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> upper = real_array(ARR_UPPER);
  const double ztolpv = dcv(dc::ZTOLPV);
  const double ztcost = dcv(dc::ZTCOST);

  bool rate_mode = false;
  double best_ratio = kNoRatioYet;
  double lowest_rate = 0.0;
  int32_t choice = 0;
  double chosen_d = 0.0;
  double chosen_r = 0.0;
  for (int32_t p = 1; p <= nseq; ++p) {
    if (!priced(p, status)) continue;
    const bool at_upper = (status[p] & PS_AT_UPPER) != 0;
    // A non-basic slack of row k carries the parametric cost itself.
    const double own_rate = p == k ? -direction : 0.0;
    double r = own_rate + column_dot(p, rate_duals);
    // Oriented so that a falling value means the position is drawn in; a
    // position at its upper bound is drawn in when its reduced cost rises.
    if (at_upper) r = -r;
    if (!(at_upper ? r <= -ztcost : r < -ztolpv)) continue;
    // Rows cost nothing in the objective array.
    double d = own_rate * lambda + sense_factor * cost[p] + column_dot(p, duals);
    if (at_upper) d = -d;
    if (d >= ztcost) {
      if (!rate_mode && best_ratio * r > d) {
        best_ratio = d / r;
        choice = p;
        chosen_d = d;
        chosen_r = r;
      }
    } else {
      rate_mode = true;
      if (r < lowest_rate) {
        lowest_rate = r;
        choice = p;
        chosen_d = d;
        chosen_r = r;
      }
    }
  }
  clear_work();
  if (choice == 0) return;
  entering_column = choice;
  entering_sign = (status[choice] & PS_AT_UPPER) != 0 ? 1 : 0;
  // The reduced cost for c alone: the entering check recomputes it from
  // the transformed column and the true costs.
  entering_reduced_cost = chosen_d - chosen_r * lambda;
  entering_upper = upper[choice];
  if (!rate_mode) parametric_value -= best_ratio;
  if (parametric_value >= dcv(dc::PHIMAX)) entering_column = -1;
}

bool parametric_basis_optimal() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  btran_of([&](OneBased<double> v) {
    for (int32_t i = 1; i <= nrow; ++i) v[i] = -sense_factor * cost[header[i]];
  });
  OneBased<double> duals = work_vector();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double tolerance = kOptimalityAllowance * dcv(dc::ZTCOST);
  bool optimal = true;
  for (int32_t p = 1; p <= nseq && optimal; ++p) {
    if (!priced(p, status)) continue;
    double d = sense_factor * cost[p] + column_dot(p, duals);
    // A free position, or one held between its bounds, may move either way.
    const int32_t s = status[p];
    if ((s & (PS_NONBASIC_BETWEEN | PS_FREE)) != 0) d = -std::fabs(d);
    if ((s & PS_AT_UPPER) != 0) d = -d;
    optimal = d >= -tolerance;
  }
  clear_work();
  return optimal;
}

double parametric_base_objective() {
  const double scale = dcv(kObjectiveScaleSlot);
  return objval / (scale != 0.0 ? scale : 1.0);
}

double parametric_objective() {
  double objective = parametric_base_objective();
  if (valid_row()) {
    const int32_t k = parametric_row;
    objective -= parametric_value * slack_value(k) * row_unscale(k);
  }
  return objective;
}

void print_parametric_line(int32_t force) {
  if (icv(ic::IQUIET) == 1) return;
  if (force == 0) {
    const int32_t period = icv(ic::ITRLOG);
    if (period <= 0 || itcnt % period != 0) return;
  }
  if (log_line_counter == 0) {
    begin_message(MSG_PARAMETRIC_HEADER);
    emit_message();
  }
  if (++log_line_counter >= icv(ic::ITRHDG)) log_line_counter = 0;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t leaving = leaving_variable;
  if (leaving > 0 && (status[leaving] & PS_AT_UPPER) != 0) leaving = -leaving;
  const int32_t entering = entering_sign == 1 ? -entering_column : entering_column;
  begin_message(MSG_PARAMETRIC_LINE);
  insert_message_int(itcnt);
  insert_message_real(parametric_value);
  insert_message_real(parametric_base_objective());
  insert_message_real(parametric_objective());
  insert_message_int(entering);
  insert_message_int(leaving);
  insert_message_int(elapsed_seconds());
  emit_message();
}

// INVFRQ -1 (the default) must not mean a fresh factor after every step:
// without a frequency the engines' rule decides.
bool parametric_refactor_due() {
  const int32_t frequency = icv(ic::INVFRQ);
  if (frequency > 0) return update_count >= frequency;
  return fill_rule_refactor_due(update_count);
}

void parametric_objective_loop(int32_t& flag) {
  factor.work_vector_state = WV_CLEAR_ALL;
  flag = 0;
  leaving_row = 0;
  problem_state = kParametricRunning;
  u_active_entries = eta_file.invert_part_size + eta_file.u_file_end;
  row_eta_entries = 0;
  // The incremental objective restarts from the values of the fresh factor,
  // which also drops the step of a pivot taken back.
  recompute_objective(OPT_REOPTIMISE);
  bool refactor_after_record = false;
  Next next = Next::kPrice;
  while (true) {
    switch (next) {
      case Next::kPrice: {
        parametric_pricing(flag);
        if (flag == 1) {
          // An infeasible basis is repaired first; the caller re-optimises.
          primal_simplex(OPT_REOPTIMISE);
          return;
        }
        if (entering_column < 1) {
          end_analysis(kLetterOptimal);
          return;
        }
        next = Next::kCheck;
        break;
      }
      case Next::kCheck: {
        const int32_t code = check_reduced_cost_accuracy();
        next = code != 0 ? handle_code(code, flag) : Next::kColumn;
        break;
      }
      case Next::kColumn: {
        const int32_t code = transform_column();
        next = code != 0 ? handle_code(code, flag) : Next::kRatio;
        break;
      }
      case Next::kRatio: {
        const int32_t code = ratio_step();
        next = code != 0 ? handle_code(code, flag) : Next::kPivot;
        break;
      }
      case Next::kPivot: {
        if (leaving_row == kLeavingNone) {
          end_analysis(kLetterUnbounded);
          return;
        }
        if (entering_sign == 1) negate_work_vector();
        update_after_pivot();
        next = Next::kRecord;
        if (leaving_row == kLeavingBoundFlip) break;
        const int32_t updates_before = update_count;
        const int32_t result = icv(ic::IFFTUP) != 0 ? update_factor() : store_pivot_eta();
        if (result == UPDATE_SINGULAR) {
          // The new basis would be singular: keep the old one.
          undo_pivot();
          if (check_stop_request() != 0) {
            end_analysis(kLetterStopped);
          } else if (updates_before == 0) {
            report_factor_failure(flag);
          }
          ++parametric_stats.refactor_returns;
          return;
        }
        // The basis change stands; a full file, or an unstable update of an
        // older factor that was not made, needs a fresh factor after it.
        if (result == UPDATE_ETA_FILE_FULL || (result == UPDATE_REFACTOR && updates_before >= icv(ic::INVMIN)))
          refactor_after_record = true;
        break;
      }
      case Next::kRecord: {
        update_basis_flags();
        print_parametric_line(1);
        if (check_stop_request() != 0) {
          end_analysis(kLetterStopped);
          return;
        }
        if (itcnt >= icv(ic::ITRLIM)) {
          problem_state = kParametricFinished;
          return;
        }
        if (refactor_after_record || parametric_refactor_due()) {
          ++parametric_stats.refactor_returns;
          return;
        }
        next = Next::kPrice;
        break;
      }
      case Next::kReturn:
        if (problem_state == kParametricRunning) ++parametric_stats.refactor_returns;
        return;
    }
  }
}

}  // namespace kl
