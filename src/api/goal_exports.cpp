// Goal programming from the goal file.
#include "api/export_frame.h"
#include "console/goal_command.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"

extern "C" {

KLAPI int32_t KLGOAL(const char* name, const char* options) {
  return kl::run_export(__func__, [&] {
    if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
    if (name != nullptr && name[0] != '\0' && !kl::set_problem_name(name)) {
      kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kl::routine::kSetprob);
    } else {
      kl::goal_command(kl::GOAL_FROM_EXPORT);
    }
    kl::clear_option_letters();
  });
}

}  // extern "C"
