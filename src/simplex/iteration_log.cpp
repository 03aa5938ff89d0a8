#include "simplex/iteration_log.h"

#include <cstdlib>

#include "factor/basis.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t log_line_counter = 0;

namespace {

// Start of the timed period, in hundredths of a second.
int32_t clock_start = 0;

// Letters by 2 x lp_algorithm + the candidate-list flag: P the primal with
// reference weights, p with the candidate list, D the dual, B the barrier.
constexpr char kAlgorithmLetters[] = "PpDB";

char algorithm_letter() {
  const int32_t kind = algorithm_kind();
  if (kind == kAlgorithmBarrier) return kAlgorithmLetters[3];
  if (kind == kAlgorithmDual) return kAlgorithmLetters[2];
  return kAlgorithmLetters[candidate_mode != 0 ? 1 : 0];
}

// 0.5 x'Qx + c'x + the objective constants, from x of every column. The
// upper lists alone hold every pair once.
double quadratic_objective_value() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> x = real_array(ARR_X);
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> q = real_array(ARR_QUAD_VALUES);
  double value = dcv(kObjectiveConstantSlot) + dcv(kSecondObjectiveConstantSlot);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    value += cost[j] * x[j];
    if ((static_cast<uint32_t>(status[j]) & PS_QUADRATIC) == 0) continue;
    for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k) {
      const int32_t i = index[k];
      value += i == j ? 0.5 * q[k] * x[j] * x[j] : q[k] * x[i] * x[j];
    }
  }
  return value;
}

double objective_unscale() {
  const double scale = dcv(kObjectiveScaleSlot);
  return scale != 0.0 ? scale : 1.0;
}

// The iteration count fits a 9-character field from 1000000 on; the line
// keeps that width throughout so the columns stay under the header.
void insert_iteration_count() { insert_message_value_suffix(itcnt); }

void insert_letter_fields(char letter) {
  const char flag = ' ';
  insert_message_chars(&flag, 1);
  insert_message_chars(&letter, 1);
}

}  // namespace

int32_t iteration_log(int32_t force) {
  if (ninf == 0) suminf = 0.0;
  int32_t stop = 0;
  if (icv(ic::IQUIET) == 1) return stop;
  const int32_t every = icv(ic::ITRLOG);
  if (force != 1) {
    if (every == 0 || every == -kQuietIterationLog) return stop;
    if (itcnt % std::abs(every) != 0) return stop;
  }
  if (log_line_counter == 0) {
    begin_message(every >= 0 ? MSG_LOG_HEADER_SHORT : MSG_LOG_HEADER_LONG);
    emit_message();
  }
  if (++log_line_counter >= icv(ic::ITRHDG)) log_line_counter = 0;

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t leaving = leaving_variable;
  if (leaving > 0 && (status[leaving] & PS_AT_UPPER) != 0) leaving = -leaving;
  const int32_t entering = entering_sign == 1 ? -entering_column : entering_column;

  if (nqelem > 0 && real_array(ARR_X)) objval = quadratic_objective_value();
  const double shown_objective = objval / objective_unscale();
  int32_t shown_negative = nnegdj;
  const bool primal = algorithm_kind() == kAlgorithmPrimal;
  if (primal && candidate_mode != 0 && shown_negative > candidate_list_size) shown_negative = candidate_list_size;
  const char letter = algorithm_letter();

  if (every >= 0) {
    begin_message(MSG_LOG_LINE_SHORT);
    insert_iteration_count();
    insert_message_real(shown_objective);
    insert_letter_fields(letter);
    insert_message_int(ninf);
    insert_message_int(shown_negative);
    insert_message_real(suminf);
    insert_message_int(elapsed_seconds());
  } else {
    begin_message(MSG_LOG_LINE_LONG);
    insert_iteration_count();
    insert_letter_fields(letter);
    insert_message_int(ninf);
    const bool show_infeasibility = ninf > 0 || (!primal && nnegdj > 0);
    insert_message_real(show_infeasibility ? suminf : shown_objective);
    insert_message_int(entering);
    insert_message_int(leaving);
    insert_message_int(shown_negative);
    insert_message_real(primal ? entering_reduced_cost : shown_objective);
    insert_message_int(eta_file.invert_eta_count + eta_file.row_eta_count);
    int32_t fill = 0;
    int32_t unused = 0;
    get_eta_file_usage(fill, unused);
    insert_message_int(fill);
    insert_message_int(elapsed_seconds());
    if (icv(ic::IFMSG) >= 2) insert_message_int(low_value_count);
  }
  emit_message();

  // The callback sees the objective in the caller's scale.
  const double kept = objval;
  objval = kept / objective_unscale();
  invoke_il_entry(stop);
  objval = kept;
  return stop;
}

int32_t check_stop_request() {
  int32_t stop = poll_interrupt();
  const int32_t limit = icv(ic::MAXTIM);
  if (stop == 0 && limit != 0) {
    if (elapsed_seconds() >= std::abs(limit) && (limit < 0 || integer_solution_count > 0)) stop = 1;
  }
  return stop;
}

void start_clock() { clock_start = clock_hundredths(); }

int32_t elapsed_seconds() { return (clock_hundredths() - clock_start) / 100; }

}  // namespace kl
