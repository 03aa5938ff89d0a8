// Start-up, shutdown and the option log.
#include "api/export_frame.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/sink.h"
#include "runtime/startup.h"

extern "C" {

KLAPI int32_t KLINITLZ(const char* directory, const char* /*unused*/) {
  return kl::guard_export(__func__, [&] { return kl::start_library(directory); });
}

KLAPI int32_t KLFREEXO(void) {
  kl::guard_export(__func__, [] {
    if (kl::library_initialised) kl::free_library();
    return 0;
  });
  return 0;
}

// Allowed before start-up, so a host can log the banner.
KLAPI int32_t KLSETOPTLOG(const char* name) {
  kl::guard_export(__func__, [&] {
    kl::set_option_log_name(name);
    return 0;
  });
  return 0;
}

}  // extern "C"
