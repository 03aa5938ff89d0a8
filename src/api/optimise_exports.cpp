// Optimisation of the loaded problem and the unbounded column.
#include "api/export_frame.h"
#include "runtime/options.h"
#include "klsol32.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/lp_driver.h"
#include "simplex/successive_lp.h"

namespace {

// The frame of an export with an option string: letters set for the body,
// cleared again whatever it did.
template <class Body>
int32_t with_option_letters(const char* options, Body body) {
  if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
  body();
  kl::clear_option_letters();
  return kl::status_code;
}

}  // namespace

extern "C" {

KLAPI int32_t KLMINIM(const char* options) {
  if (kl::refused_before_start()) return kl::status_code;
  return with_option_letters(options, kl::minimise_problem);
}

KLAPI int32_t KLMAXIM(const char* options) {
  if (kl::refused_before_start()) return kl::status_code;
  return with_option_letters(options, kl::maximise_problem);
}

KLAPI int32_t KLRECURSE(void) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::recurse_problem();
  if (kl::icv(kl::ic::IFPMSG) > 0) kl::end_of_call();
  return kl::status_code;
}

KLAPI int32_t KLGETUNB(int32_t* index) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::get_unbounded_index(index);
  return kl::status_code;
}

}  // extern "C"
