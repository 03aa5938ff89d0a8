#include "simplex/parametric.h"

#include <cmath>

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
#include "simplex/pivot_updates.h"
#include "simplex/primal_driver.h"
#include "simplex/simplex_state.h"

namespace kl {

int32_t parametric_row = 0;

namespace {

// Row-word marks of an infeasible basic variable (above / below its bounds).
constexpr int32_t kInfeasibleMarks = 0x30;
// Positions that never enter: basic, fixed, rejected, fixed by the search.
constexpr int32_t kNotCandidate = PS_BASIC | PS_FIXED | PS_MARK | PS_SEARCH_FIXED;
// The engines' refactorisation rule (see primal_engines.cpp).
constexpr int32_t kInaccurateFactorUpdates = 74;
constexpr int64_t kFillFactor = 30;

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

bool valid_row() { return parametric_row >= 1 && parametric_row <= nrow; }

// Entering column transformed and checked (steps of one iteration). The
// result is 0 or the failing code.
int32_t transform_column() {
  unpack_column(entering_column);
  if (icv(ic::IFFTUP) != 0) {
    ftran_invert_part();
    if (append_eta_column() != 0) return 1;
    ftran_update_part(work_vector());
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

enum class Next { kPrice, kColumn, kRatio, kOutcome, kRecord, kReturn };

void stop_analysis(char letter) {
  status_letter = letter;
  problem_state = 4;
}

// What a failed step leads to.
Next handle_code(int32_t code, int32_t& flag) {
  leaving_row = -2;
  if (check_stop_request() != 0) {
    stop_analysis(kLetterStopped);
    return Next::kReturn;
  }
  const int32_t invmin = icv(ic::INVMIN);
  switch (code) {
    case 2:
    case 4:
      return update_count < invmin ? Next::kRecord : Next::kReturn;
    case 3:
    case 6:
      if (update_count >= invmin) return Next::kReturn;
      return problem_state < 3 ? Next::kRecord : Next::kRatio;
    case 5:
      if (update_count >= invmin) return Next::kReturn;
      return problem_state < 3 ? Next::kRecord : Next::kOutcome;
    case 7:
      if (update_count >= invmin) return Next::kReturn;
      return problem_state < 3 ? Next::kRecord : Next::kColumn;
    default:
      if (update_count == 0) {
        report_plain_error(MSG_SIMPLEX_FACTOR_FAILURE);
        flag = 1;
      }
      return Next::kReturn;
  }
}

}  // namespace

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

  btran_of([&](OneBased<double> w) { w[k] = sense_factor; });
  OneBased<double> rate_duals = real_array(ARR_PIVOT_ROW);
  OneBased<double> w = work_vector();
  for (int32_t i = 1; i <= nrow; ++i) rate_duals[i] = w[i];
  clear_work();

  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  btran_of([&](OneBased<double> v) {
    for (int32_t i = 1; i <= nrow; ++i) v[i] = -sense_factor * cost[header[i]];
    v[k] = parametric_value * sense_factor;
  });
  OneBased<double> duals = work_vector();

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const double ztolpv = dcv(dc::ZTOLPV);
  const double ztcost = dcv(dc::ZTCOST);

  bool rate_mode = false;
  double best_ratio = -1e20;
  double lowest_rate = 0.0;
  int32_t choice = 0;
  double chosen_d = 0.0;
  double chosen_r = 0.0;
  for (int32_t p = 1; p <= nseq; ++p) {
    if ((status[p] & kNotCandidate) != 0) continue;
    if (p > nrow && p < store.first_col) continue;
    const bool at_upper = (status[p] & PS_AT_UPPER) != 0;
    double r = 0.0;
    if (p <= nrow) {
      r = rate_duals[p];
    } else {
      for (int32_t e = start[p]; e < start[p + 1]; ++e) r += elem_value[e] * rate_duals[elem_row[e]];
    }
    if (at_upper) r = -r;
    if (!(r < -ztolpv || (at_upper && r >= ztcost))) continue;
    // A column's reduced cost carries its own cost term; a slack has none.
    double d = 0.0;
    if (p <= nrow) {
      d = duals[p];
    } else {
      d = sense_factor * cost[p];
      for (int32_t e = start[p]; e < start[p + 1]; ++e) d += elem_value[e] * duals[elem_row[e]];
    }
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
  entering_reduced_cost = chosen_d - chosen_r * parametric_value;
  entering_upper = upper[choice];
  if (!rate_mode) parametric_value -= best_ratio;
  if (parametric_value >= dcv(dc::PHIMAX)) entering_column = -1;
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
  double objective = objval;
  if (valid_row()) {
    const int32_t k = parametric_row;
    const double unscale = scale_powers[2 * kNeutralScaleExponent - scale_exponent(status[k])];
    objective -= real_array(ARR_BASIC_VALUES)[k] * unscale * parametric_value;
  }
  begin_message(MSG_PARAMETRIC_LINE);
  insert_message_int(itcnt);
  insert_message_real(parametric_value);
  insert_message_real(objective);
  insert_message_int(entering);
  insert_message_int(leaving);
  insert_message_int(elapsed_seconds());
  emit_message();
}

bool parametric_refactor_due() {
  const int32_t frequency = icv(ic::INVFRQ);
  if (frequency > 0) return update_count >= frequency;
  if (factor_accurate == 0 && update_count >= kInaccurateFactorUpdates) return true;
  return kFillFactor * static_cast<int64_t>(u_active_entries) <
         static_cast<int64_t>(update_count) * static_cast<int64_t>(row_eta_entries);
}

void parametric_objective_loop(int32_t& flag) {
  factor.work_vector_state = WV_CLEAR_ALL;
  flag = 0;
  leaving_row = 0;
  u_active_entries = eta_file.invert_part_size + eta_file.u_file_end;
  row_eta_entries = 0;
  Next next = Next::kPrice;
  while (true) {
    switch (next) {
      case Next::kPrice: {
        parametric_pricing(flag);
        if (flag == 1) {
          // An infeasible basis is repaired first; the caller re-optimises.
          primal_simplex(3);
          return;
        }
        if (entering_column < 1) {
          stop_analysis(kLetterOptimal);
          return;
        }
        OneBased<double> d = real_array(ARR_REDUCED_COSTS);
        if ((int_array(ARR_POS_STATUS)[entering_column] & PS_FREE) != 0 && d[entering_column] > 0.0) {
          entering_sign = 1;
          entering_reduced_cost = -d[entering_column];
        }
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
        next = code != 0 ? handle_code(code, flag) : Next::kOutcome;
        break;
      }
      case Next::kOutcome: {
        if (leaving_row == kLeavingNone) {
          stop_analysis(kLetterUnbounded);
          return;
        }
        if (leaving_row == -2) {
          next = Next::kRecord;
          break;
        }
        if (entering_sign == 1) negate_work_vector();
        update_after_pivot();
        next = Next::kRecord;
        if (leaving_row != kLeavingBoundFlip) {
          const int32_t code = icv(ic::IFFTUP) != 0 ? update_factor() : store_pivot_eta();
          if (code != 0) next = handle_code(code, flag);
        }
        break;
      }
      case Next::kRecord: {
        update_basis_flags();
        print_parametric_line(1);
        if (check_stop_request() != 0) {
          stop_analysis(kLetterStopped);
          return;
        }
        if (itcnt >= icv(ic::ITRLIM)) {
          problem_state = 4;
          return;
        }
        if (parametric_refactor_due()) return;
        next = Next::kPrice;
        break;
      }
      case Next::kReturn:
        return;
    }
  }
}

}  // namespace kl
