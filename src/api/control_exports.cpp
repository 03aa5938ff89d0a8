// Controls and problem attributes.
#include "api/export_frame.h"
#include "klsol32.h"
#include "runtime/controls.h"

extern "C" {

KLAPI int32_t KLGETICV(int32_t control, int32_t* value) {
  return kl::run_export(__func__, [&] {
    kl::geticv(control, value);
  });
}

KLAPI int32_t KLGETDCV(int32_t control, double* value) {
  return kl::run_export(__func__, [&] {
    kl::getdcv(control, value);
  });
}

KLAPI int32_t KLGETCCV(int32_t control, char* value) {
  return kl::run_export(__func__, [&] {
    kl::getccv(control, value);
  });
}

KLAPI int32_t KLSETICV(int32_t control, int32_t value) {
  return kl::run_export(__func__, [&] {
    kl::seticv(control, value);
  });
}

KLAPI int32_t KLSETDCV(int32_t control, double value) {
  return kl::run_export(__func__, [&] {
    kl::setdcv(control, value);
  });
}

KLAPI int32_t KLSETCCV(int32_t control, const char* value) {
  return kl::run_export(__func__, [&] {
    kl::setccv(control, value != nullptr ? value : "        ");
  });
}

KLAPI int32_t KLGETIPV(int32_t attribute, int32_t* value) {
  return kl::run_export(__func__, [&] {
    kl::getipv(attribute, value);
  });
}

KLAPI int32_t KLGETDPV(int32_t attribute, double* value) {
  return kl::run_export(__func__, [&] {
    kl::getdpv(attribute, value);
  });
}

KLAPI int32_t KLGETCPV(int32_t attribute, char* value) {
  return kl::run_export(__func__, [&] {
    kl::getcpv(attribute, value);
  });
}

KLAPI int32_t KLSETDEFAULT(void) {
  kl::run_export(__func__, [] { kl::set_control_defaults(); });
  return 0;
}

}  // extern "C"
