// The modeller's binary problem load export.
#include "api/export_frame.h"
#include "console/vornin_command.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/problem_name.h"

extern "C" {

KLAPI int32_t KLVORNIN(const char* name) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (name != nullptr && name[0] != '\0' && !kl::set_problem_name(name)) {
      kl::status_code = kl::STATUS_REPORTED;
      return;
    }
    kl::vornin_command();
  });
}

}  // extern "C"
