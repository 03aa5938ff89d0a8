// Ranging: the analysis and the range queries.
#include "api/export_frame.h"
#include "klsol32.h"
#include "simplex/range_access.h"
#include "simplex/ranging.h"

extern "C" {

KLAPI int32_t KLRANGE(void) {
  return kl::run_export(__func__, [&] {
    kl::range_problem();
  });
}

KLAPI int32_t KLROWRANGE(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                         double* lower_unit_cost) {
  return kl::run_export(__func__, [&] {
    kl::get_row_ranges(upper_activity, lower_activity, upper_unit_cost, lower_unit_cost);
  });
}

KLAPI int32_t KLCOLRANGE(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                         double* lower_unit_cost, double* upper_cost, double* lower_cost) {
  return kl::run_export(__func__, [&] {
    kl::get_column_ranges(upper_activity, lower_activity, upper_unit_cost, lower_unit_cost, upper_cost, lower_cost);
  });
}

}  // extern "C"
