// The problem name.
#include <cstring>

#include "api/export_frame.h"
#include "runtime/problem_name.h"
#include "klsol32.h"
#include "runtime/messages.h"

namespace {

// A null name pointer is refused without a message.
int32_t refuse_null_name() {
  kl::status_code = kl::STATUS_REPORTED;
  kl::error_number = kl::MSG_BAD_FILE_MODE;
  return kl::status_code;
}

}  // namespace

extern "C" {

KLAPI int32_t KLSETPROB(const char* name) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name == nullptr) return refuse_null_name();
  kl::begin_body();
  if (!kl::set_problem_name(name)) kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kl::routine::kSetprob);
  return kl::status_code;
}

KLAPI int32_t KLGETPROB(char* name) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name == nullptr) return refuse_null_name();
  kl::begin_body();
  const std::string stem = kl::get_problem_name();
  std::memcpy(name, stem.c_str(), stem.size() + 1);
  return kl::status_code;
}

}  // extern "C"
