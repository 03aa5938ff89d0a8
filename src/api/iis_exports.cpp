// The irreducible infeasible set search.
#include "api/export_frame.h"
#include "console/iis_command.h"
#include "runtime/options.h"
#include "klsol32.h"
#include "runtime/frame.h"

extern "C" {

KLAPI int32_t KLIIS(const char* options) {
  return kl::run_export(__func__, [&] {
    if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
    kl::iis_command();
    kl::clear_option_letters();
  });
}

}  // extern "C"
