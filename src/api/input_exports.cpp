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
  return kl::run_export(__func__, [&] {
    if (name == nullptr) {
      kl::status_code = kl::STATUS_REPORTED;
      kl::error_number = kl::MSG_BAD_FILE_MODE;
      return;
    }
    kl::begin_body();
    if (!kl::input_problem_named(name)) kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kInputRoutine);
  });
}

}  // extern "C"
