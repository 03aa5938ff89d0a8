// The problem name.
#include <cstring>

#include "api/export_frame.h"
#include "runtime/problem_name.h"
#include "klsol32.h"
#include "runtime/messages.h"

namespace {

// A null name pointer is refused without a message.
void refuse_null_name() {
  kl::status_code = kl::STATUS_REPORTED;
  kl::error_number = kl::MSG_BAD_FILE_MODE;
}

}  // namespace

extern "C" {

KLAPI int32_t KLSETPROB(const char* name) {
  return kl::run_export(__func__, [&] {
    if (name == nullptr) {
      refuse_null_name();
      return;
    }
    kl::begin_body();
    if (!kl::set_problem_name(name)) kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kl::routine::kSetprob);
  });
}

KLAPI int32_t KLGETPROB(char* name) {
  return kl::run_export(__func__, [&] {
    if (name == nullptr) {
      refuse_null_name();
      return;
    }
    kl::begin_body();
    const std::string stem = kl::get_problem_name();
    std::memcpy(name, stem.c_str(), stem.size() + 1);
  });
}

}  // extern "C"
