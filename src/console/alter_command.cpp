// The ALTER command.
#include "console/alter_command.h"

#include <string>

#include "factor/starting_basis.h"
#include "files/alter_file.h"
#include "klsol/message_ids.h"
#include "presolve/postsolve.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {
namespace {

void report(int32_t message, int32_t status) {
  begin_message(message);
  emit_message();
  status_code = status;
}

// The changes are made to the problem as loaded: a presolved LP is given
// up for its original form, with the basis postsolve maps back.
bool postsolve_for_changes() {
  if ((problem_flags & PF_PRESOLVED_LP) != 0) {
    int32_t no_basis = (problem_flags & PF_NO_BASIS) != 0 ? 1 : 0;
    if (no_basis == 0 && (problem_flags & PF_FACTOR_VALID) == 0) {
      invert_current_basis();
      if ((problem_flags & PF_FACTOR_VALID) == 0) no_basis = 1;
    }
    status_code = 0;
    postsolve(0, no_basis);
    if (status_code != 0) return false;
    report(MSG_ALTER_POSTSOLVED, 0);
    return true;
  }
  if ((problem_flags & PF_PRESOLVED_GLOBAL) != 0) {
    report(MSG_PROBLEM_PRESOLVED, 0);
    return false;
  }
  return true;
}

}  // namespace

void alter_command() {
  begin_body();
  if (problem_state < 1) {
    report(MSG_NO_PROBLEM, STATUS_REPORTED);
    return;
  }
  if (!postsolve_for_changes()) return;

  save_problem_name();
  const bool from_file = !command_argument().empty();
  std::string file;
  std::string stem;
  if (from_file) {
    problem_command();
    stem = get_problem_name();
    file = make_work_file_name("alt");
  }
  alter_prepare();
  if (status_code != 0) {
    restore_problem_name();
    return;
  }
  if (from_file) {
    int32_t error = 0;
    suspend_messages();
    open_text_input(file.c_str(), error);
    resume_messages();
    if (error != 0) {
      error = 0;
      open_text_input(stem.c_str(), error);
    }
    restore_problem_name();
    if (error != 0) {
      report(MSG_NO_PROBLEM, STATUS_REPORTED);
      return;
    }
  }
  alter(from_file ? 1 : 0);
  if (from_file) close_text_input();
  restore_problem_name();
}

}  // namespace kl
