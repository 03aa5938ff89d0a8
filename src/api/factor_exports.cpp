// Solves with the basis factor.
#include "api/export_frame.h"
#include "factor/solves.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLFTRAN(double* vector) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::ftran_user_vector(vector, 0);
  return kl::status_code;
}

KLAPI int32_t KLIFTRAN(double* vector) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::ftran_user_vector(vector, 1);
  return kl::status_code;
}

KLAPI int32_t KLBTRAN(double* vector) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::btran_user_vector(vector, 0);
  return kl::status_code;
}

KLAPI int32_t KLIBTRAN(double* vector) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::btran_user_vector(vector, 1);
  return kl::status_code;
}

}  // extern "C"
