// Scaling on request.
#include "api/export_frame.h"
#include "factor/scaling.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLSCALE(const int32_t* row_exponents, const int32_t* col_exponents) {
  return kl::run_export(__func__, [&] {
    const int32_t given = (row_exponents != nullptr ? 1 : 0) + (col_exponents != nullptr ? 2 : 0);
    kl::rescale_problem(row_exponents, col_exponents, given);
  });
}

}  // extern "C"
