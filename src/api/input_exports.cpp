// Problem input from a file.
#include "api/export_frame.h"
#include "runtime/problem_name.h"
#include "files/problem_input.h"
#include "klsol32.h"
#include "runtime/messages.h"

namespace {

constexpr const char* kInputRoutine = "input   ";

}  // namespace

extern "C" {

KLAPI int32_t KLINPUT(const char* name) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name == nullptr) {
    kl::status_code = kl::STATUS_REPORTED;
    kl::error_number = kl::MSG_BAD_FILE_MODE;
    return kl::status_code;
  }
  kl::begin_body();
  if (!kl::set_problem_name(name)) {
    kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kInputRoutine);
    return kl::status_code;
  }
  kl::input_problem();
  return kl::status_code;
}

}  // extern "C"
