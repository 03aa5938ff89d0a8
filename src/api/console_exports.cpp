// The console.
#include "api/export_frame.h"
#include "console/command_loop.h"
#include "klsol32.h"
#include "runtime/callbacks.h"

extern "C" {

KLAPI int32_t KLCONTROL(KLConsoleEntry console) {
  return kl::run_export_returning(__func__, [&] {
    kl::define_console_entry(console);
    return kl::run_command_loop();
  });
}

}  // extern "C"
