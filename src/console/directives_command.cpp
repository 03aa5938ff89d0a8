// The DIRECTIVES command.
#include "console/directives_command.h"

#include <string>

#include "files/directives_file.h"
#include "klsol/message_ids.h"
#include "problem/factor_arrays.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {
namespace {

// The refusals leave the status word as it was.
void refuse(int32_t message) {
  const int32_t status = status_code;
  begin_message(message);
  emit_message();
  status_code = status;
}

}  // namespace

void directives_command() {
  if (problem_state < 1) {
    refuse(MSG_NO_PROBLEM);
  } else if (nglent <= 0) {
    refuse(MSG_NO_GLOBAL_ENTITIES);
  } else if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    refuse(MSG_DIRECTIVES_PRESOLVED);
  } else {
    free_factor_arrays();
    save_problem_name();
    // Without an argument the file is named after the current problem.
    const int32_t dot = command_argument().empty() ? 0 : parse_problem_name();
    std::string file;
    if (dot > 0) file = problem_name.text;
    else if (dot == 0) file = make_work_file_name("dir");
    int32_t error = 1;
    if (!file.empty()) open_text_input(file.c_str(), error);
    restore_problem_name();
    if (error != 0) {
      status_code = STATUS_REPORTED;
    } else {
      // Lookups of the reader must not write names into the problem.
      const int32_t store_names = store_new_names;
      store_new_names = 0;
      read_directives();
      close_text_input();
      store_new_names = store_names;
    }
  }
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
