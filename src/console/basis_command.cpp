// The BASISIN and BASISOUT commands.
#include "console/basis_command.h"

#include <string>

#include "files/basis_file.h"
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

enum class BasisForm { kStandard, kCompact, kNone };

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

// The file of the command: the argument as given when it carries an
// extension, else its stem (or the problem's) with "bss". Empty when the
// argument is refused. The problem name is the same afterwards.
std::string basis_file_name() {
  save_problem_name();
  const int32_t dot = command_argument().empty() ? 0 : parse_problem_name();
  std::string file;
  if (dot > 0) file = problem_name.text;
  else if (dot == 0) file = make_work_file_name("bss");
  restore_problem_name();
  return file;
}

void read_basis(BasisForm form, const std::string& file) {
  int32_t error = 0;
  open_text_input(file.c_str(), error);
  if (error != 0) {
    // The text layer has named the file; the compact form adds its read
    // failure. Either way nothing was read and the basis is as it was.
    if (form == BasisForm::kCompact) {
      begin_message(MSG_DIRECTIVES_READ_FAILED);
      insert_message_int(0);
      emit_message();
    }
    status_code = STATUS_REPORTED;
    return;
  }
  if (form == BasisForm::kCompact) read_compact_basis();
  else read_basis_file(option_set('z'));
  close_text_input();
}

void write_basis(BasisForm form, const std::string& file) {
  if ((problem_flags & PF_NO_BASIS) != 0) {
    // The barrier's point without a crossover: there is no basis to write.
    report_plain_error(MSG_NO_BASIS_AVAILABLE);
    error_number = MSG_NO_BASIS_AVAILABLE;
    return;
  }
  int32_t error = 0;
  open_text_output(file.c_str(), error);
  if (error != 0) {
    if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
    return;
  }
  const bool exchange = option_set('z');
  // A presolved problem writes the basis of the original problem, and is
  // current again afterwards with its values and flags as they were.
  read_original_solution([&]() {
    if (status_code != STATUS_OK) return;
    if (form == BasisForm::kCompact) write_compact_basis();
    else write_basis_file(exchange);
  });
  const int32_t status = status_code;
  close_text_output();
  if (status != STATUS_OK) status_code = status;
}

}  // namespace

void basis_file_command(int32_t mode) {
  status_code = STATUS_OK;
  error_number = 0;
  if (problem_state < 1) {
    report_plain_error(MSG_NO_PROBLEM);
  } else {
    BasisForm form = BasisForm::kStandard;
    if (option_set('t')) form = BasisForm::kCompact;
    else if (option_set('c')) form = BasisForm::kNone;
    if (form != BasisForm::kNone) {
      const std::string file = basis_file_name();
      if (!file.empty()) {
        if (mode == BASIS_FILE_READ) read_basis(form, file);
        else write_basis(form, file);
      }
    }
  }
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

void basisin_command() {
  if (problem_state >= 1 && presolved()) {
    begin_message(MSG_BASIS_LOAD_PRESOLVED);
    emit_message();
    status_code = STATUS_OK;
    return;
  }
  basis_file_command(BASIS_FILE_READ);
}

void basisout_command() { basis_file_command(BASIS_FILE_WRITE); }

}  // namespace kl
