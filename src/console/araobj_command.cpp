#include "console/araobj_command.h"

#include "factor/basis.h"
#include "factor/invert.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/parametric.h"
#include "simplex/simplex_state.h"

namespace kl {

void araobj_command(int32_t optimise_mode) {
  begin_body();
  if (problem_state <= 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  const int32_t kept_itrlog = icv(ic::ITRLOG);
  icv(ic::ITRLOG) = 0;
  itcnt = 0;
  factor.factor_permuted = 0;
  log_line_counter = 0;
  while (true) {
    invert_basis();
    if (status_code != 0) break;
    int32_t flag = 0;
    parametric_objective_loop(flag);
    if (status_code != 0) break;
    if (flag == 1) {
      optimise_lp(optimise_mode);
      break;
    }
    if (problem_state > 3) break;
  }
  if (status_code == 0) {
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
