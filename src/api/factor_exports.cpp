// Solves with the basis factor.
#include "api/export_frame.h"
#include "factor/solves.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLFTRAN(double* vector) {
  return kl::run_export(__func__, [&] {
    kl::ftran_user_vector(vector, 0);
  });
}

KLAPI int32_t KLIFTRAN(double* vector) {
  return kl::run_export(__func__, [&] {
    kl::ftran_user_vector(vector, 1);
  });
}

KLAPI int32_t KLBTRAN(double* vector) {
  return kl::run_export(__func__, [&] {
    kl::btran_user_vector(vector, 0);
  });
}

KLAPI int32_t KLIBTRAN(double* vector) {
  return kl::run_export(__func__, [&] {
    kl::btran_user_vector(vector, 1);
  });
}

}  // extern "C"
