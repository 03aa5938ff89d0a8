// Problem slots: save, restore, copy and delete.
#include <cstring>

#include "api/export_frame.h"
#include "runtime/problem_name.h"
#include "klsol32.h"
#include "problem/slots.h"
#include "runtime/messages.h"

extern "C" {

KLAPI int32_t KLSAVMAT(int32_t* slot) {
  return kl::run_export(__func__, [&] {
    kl::save_matrix_slot(slot);
  });
}

KLAPI int32_t KLRESMAT(int32_t slot) {
  return kl::run_export(__func__, [&] {
    kl::restore_matrix_slot(slot);
  });
}

// The copy is named after the body, and only when there is a copy: a
// refused copy leaves the original's name alone. A null name keeps the
// original's; one too long is refused before anything is copied.
KLAPI int32_t KLCPYMAT(const char* name, int32_t* slot) {
  return kl::run_export(__func__, [&] {
    if (name != nullptr && std::strlen(name) > static_cast<size_t>(kl::kProblemNameMax)) {
      kl::begin_body();
      if (slot != nullptr) *slot = 0;
      kl::report_error(kl::MSG_NAME_TOO_LONG, kl::kProblemNameMax, kl::routine::kCpymat);
      return;
    }
    kl::copy_matrix_slot(slot);
    if (kl::status_code == kl::STATUS_OK && name != nullptr) kl::set_problem_name(name);
  });
}

KLAPI int32_t KLDELMAT(int32_t slot) {
  return kl::run_export(__func__, [&] {
    kl::delete_matrix_slot(slot);
  });
}

}  // extern "C"
