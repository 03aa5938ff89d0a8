// Controls and problem attributes.
#include "api/export_frame.h"
#include "klsol32.h"
#include "runtime/controls.h"

extern "C" {

KLAPI int32_t KLGETICV(int32_t control, int32_t* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::geticv(control, value);
  return kl::status_code;
}

KLAPI int32_t KLGETDCV(int32_t control, double* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getdcv(control, value);
  return kl::status_code;
}

KLAPI int32_t KLGETCCV(int32_t control, char* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getccv(control, value);
  return kl::status_code;
}

KLAPI int32_t KLSETICV(int32_t control, int32_t value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::seticv(control, value);
  return kl::status_code;
}

KLAPI int32_t KLSETDCV(int32_t control, double value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::setdcv(control, value);
  return kl::status_code;
}

KLAPI int32_t KLSETCCV(int32_t control, const char* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::setccv(control, value != nullptr ? value : "        ");
  return kl::status_code;
}

KLAPI int32_t KLGETIPV(int32_t attribute, int32_t* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getipv(attribute, value);
  return kl::status_code;
}

KLAPI int32_t KLGETDPV(int32_t attribute, double* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getdpv(attribute, value);
  return kl::status_code;
}

KLAPI int32_t KLGETCPV(int32_t attribute, char* value) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::getcpv(attribute, value);
  return kl::status_code;
}

KLAPI int32_t KLSETDEFAULT(void) {
  if (!kl::refused_before_start()) kl::set_control_defaults();
  return 0;
}

}  // extern "C"
