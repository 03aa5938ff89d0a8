#include "console/araobj_command.h"

#include <algorithm>
#include <string>

#include "runtime/options.h"
#include "factor/basis.h"
#include "factor/invert.h"
#include "klsol/message_ids.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/parametric.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

// The row name after the command word: the rest of the reduced line, a
// quoted name without its quotes. Empty when none is given.
std::string named_row() {
  const std::string& text = command_line.text;
  const int32_t end = std::min<int32_t>(command_line.length, static_cast<int32_t>(text.size()));
  int32_t at = command_line.position;
  if (at < 1) return std::string();
  if (at <= end && text[static_cast<size_t>(at - 1)] == '\'') ++at;
  std::string name;
  for (; at <= end; ++at) {
    const char c = text[static_cast<size_t>(at - 1)];
    if (c == '\'') break;
    name.push_back(c);
  }
  const size_t last = name.find_last_not_of(' ');
  name.erase(last == std::string::npos ? 0 : last + 1);
  return name;
}

// The direction row: the one named, else the default free row. 0 after a
// message and status 32.
int32_t choose_direction_row() {
  const std::string name = named_row();
  if (name.empty()) {
    const int32_t row = default_parametric_row();
    if (row == 0) report_plain_error(MSG_PARAMETRIC_NO_DIRECTION);
    return row;
  }
  int32_t index = -1;
  find_name_index(1, name.c_str(), &index);
  if (status_code != STATUS_OK) return 0;
  return row_from_caller(index);
}

// The first invert and the start at lambda 0, which is right only for a
// basis optimal for c: after an earlier analysis, or an optimisation that
// did not finish, the problem must be optimised first (message 11). False
// when the analysis does not start.
bool start_analysis(int32_t row) {
  invert_basis();
  if (status_code != STATUS_OK) return false;
  if (!parametric_basis_optimal()) {
    report_plain_error(MSG_LAST_LP_NOT_FINISHED);
    return false;
  }
  parametric_row = row;
  parametric_value = 0.0;
  itcnt = 0;
  log_line_counter = 0;
  begin_message(MSG_PARAMETRIC_DIRECTION);
  insert_message_vector_name(row);
  emit_message();
  return true;
}

}  // namespace

void araobj_command(int32_t optimise_mode) {
  begin_body();
  if (problem_state <= 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  // The analysis follows the basis of the problem as loaded; a presolved
  // form is left only by an optimisation that did not finish.
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    report_plain_error(MSG_LAST_LP_NOT_FINISHED);
    return;
  }
  const int32_t row = choose_direction_row();
  if (row == 0) return;

  const int32_t kept_itrlog = icv(ic::ITRLOG);
  icv(ic::ITRLOG) = 0;
  // The steps are primal ones: the invert must compute the basic values
  // from the true bounds, not from the dual's working ones.
  const int32_t kept_algorithm = lp_algorithm;
  lp_algorithm = kAlgorithmPrimal;
  factor.factor_permuted = 0;
  bool reoptimise = false;
  if (start_analysis(row)) {
    while (true) {
      int32_t flag = 0;
      parametric_objective_loop(flag);
      if (status_code != STATUS_OK) break;
      reoptimise = flag == 1;
      if (reoptimise || problem_state >= kParametricFinished) break;
      invert_basis();
      if (status_code != STATUS_OK) break;
    }
  }
  lp_algorithm = kept_algorithm;
  if (reoptimise) optimise_lp(optimise_mode);

  if (status_code == STATUS_OK) {
    if (status_letter == kLetterUnbounded) {
      begin_message(MSG_PARAMETRIC_UNBOUNDED);
      insert_message_real(parametric_value);
      insert_message_int(entering_column);
    } else {
      begin_message(MSG_PARAMETRIC_END);
      insert_message_real(parametric_value);
    }
    emit_message();
  }
  icv(ic::ITRLOG) = kept_itrlog;
}

}  // namespace kl
