// Start-up, shutdown and the option log.
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/sink.h"
#include "runtime/startup.h"

extern "C" {

KLAPI int32_t KLINITLZ(const char* directory, const char* /*unused*/) { return kl::start_library(directory); }

KLAPI int32_t KLFREEXO(void) {
  if (kl::library_initialised) kl::free_library();
  return 0;
}

// Allowed before start-up, so a host can log the banner.
KLAPI int32_t KLSETOPTLOG(const char* name) {
  kl::set_option_log_name(name);
  return 0;
}

}  // extern "C"
