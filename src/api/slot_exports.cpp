// Problem slots: save, restore, copy and delete.
#include <cstring>

#include "api/export_frame.h"
#include "runtime/problem_name.h"
#include "klsol32.h"
#include "problem/slots.h"
#include "runtime/messages.h"

extern "C" {

KLAPI int32_t KLSAVMAT(int32_t* slot) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::save_matrix_slot(slot);
  return kl::status_code;
}

KLAPI int32_t KLRESMAT(int32_t slot) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::restore_matrix_slot(slot);
  return kl::status_code;
}

// The copy is named after the body, and only when there is a copy: a
// refused copy leaves the original's name alone. A null name keeps the
// original's; one too long is refused before anything is copied.
KLAPI int32_t KLCPYMAT(const char* name, int32_t* slot) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name != nullptr && std::strlen(name) > static_cast<size_t>(kl::kProblemNameMax)) {
    kl::begin_body();
    if (slot != nullptr) *slot = 0;
    kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kl::routine::kCpymat);
    return kl::status_code;
  }
  kl::copy_matrix_slot(slot);
  if (kl::status_code == kl::STATUS_OK && name != nullptr) kl::set_problem_name(name);
  return kl::status_code;
}

KLAPI int32_t KLDELMAT(int32_t slot) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::delete_matrix_slot(slot);
  return kl::status_code;
}

}  // extern "C"
