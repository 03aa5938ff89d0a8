// Branching directives, model cuts and the directives file.
#include "api/export_frame.h"
#include "console/directives_command.h"
#include "global/directives.h"
#include "klsol32.h"
#include "runtime/options.h"

extern "C" {

KLAPI int32_t KLLOADDIR(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
                        const double* up_costs, const double* down_costs) {
  return kl::run_export(__func__, [&] { kl::loaddir(n, columns, priorities, directions, up_costs, down_costs, 0); });
}

KLAPI int32_t KLILOADDIR(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
                         const double* up_costs, const double* down_costs) {
  return kl::run_export(__func__, [&] { kl::loaddir(n, columns, priorities, directions, up_costs, down_costs, 1); });
}

KLAPI int32_t KLGETDIR(int32_t* n, int32_t* columns, int32_t* priorities, char* directions, double* up_costs,
                       double* down_costs) {
  return kl::run_export(__func__,
                        [&] { kl::get_directives(n, columns, priorities, directions, up_costs, down_costs); });
}

KLAPI int32_t KLMODELCUTS(int32_t n, const int32_t* rows) {
  return kl::run_export(__func__, [&] { kl::mark_model_cuts(n, rows); });
}

KLAPI int32_t KLDIRECTIVES(const char* name) {
  return kl::run_export(__func__, [&] {
    kl::begin_body();
    if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
    kl::directives_command();
    // A body that stopped before taking its file name must not hand it on.
    kl::set_command_argument("");
  });
}

}  // extern "C"
