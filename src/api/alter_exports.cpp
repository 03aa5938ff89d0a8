// The ALTER file export.
#include "api/export_frame.h"
#include "console/alter_command.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/options.h"

extern "C" {

KLAPI int32_t KLALTER(const char* name) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
    kl::alter_command();
    // A body that stopped before taking its file name must not hand it on.
    kl::set_command_argument("");
  });
}

}  // extern "C"
