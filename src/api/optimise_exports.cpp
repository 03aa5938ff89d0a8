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
void with_option_letters(const char* options, Body body) {
  if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
  body();
  kl::clear_option_letters();
}

}  // namespace

extern "C" {

KLAPI int32_t KLMINIM(const char* options) {
  return kl::run_export(__func__, [&] { with_option_letters(options, kl::minimise_problem); });
}

KLAPI int32_t KLMAXIM(const char* options) {
  return kl::run_export(__func__, [&] { with_option_letters(options, kl::maximise_problem); });
}

KLAPI int32_t KLRECURSE(void) {
  return kl::run_export(__func__, [&] {
    kl::recurse_problem();
    if (kl::icv(kl::ic::IFPMSG) > 0) kl::end_of_call();
  });
}

KLAPI int32_t KLGETUNB(int32_t* index) {
  return kl::run_export(__func__, [&] {
    kl::get_unbounded_index(index);
  });
}

}  // extern "C"
