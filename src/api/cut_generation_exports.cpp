// The cut generators one at a time: Gomory, lifted cover, knapsack and
// clique cuts into the pool, the best pool cuts into the LP, and a cut for
// a knapsack of the caller's own.
#include "api/export_frame.h"
#include "global/cut_generation.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLGOMORY(int32_t mode, int32_t type, int32_t* count) {
  return kl::run_export(__func__, [&] { kl::run_gomory_export(mode, type, count); });
}

KLAPI int32_t KLLIFTCOVERS(int32_t mode, int32_t type, int32_t* count) {
  return kl::run_export(__func__, [&] { kl::run_lift_covers_export(mode, type, count); });
}

KLAPI int32_t KLGENKNPCUT(int32_t selection, int32_t max_aggregation, int32_t type, int32_t capacity,
                          int32_t* count, int32_t* list) {
  return kl::run_export(
      __func__, [&] { kl::generate_knapsack_cut(selection, max_aggregation, type, capacity, count, list); });
}

KLAPI int32_t KLGENGOMCUT(int32_t type, int32_t capacity, int32_t* count, int32_t* list) {
  return kl::run_export(__func__, [&] { kl::generate_gomory_cut(type, capacity, count, list); });
}

KLAPI int32_t KLGENCLQCUT(int32_t type, int32_t capacity, int32_t* count, int32_t* list) {
  return kl::run_export(__func__, [&] { kl::generate_clique_cut(type, capacity, count, list); });
}

KLAPI int32_t KLLOADBESTCUT(int32_t mode, int32_t delete_level, int32_t count, const int32_t* list,
                            int32_t* violated, int32_t* loaded, int32_t* deleted) {
  return kl::run_export(
      __func__, [&] { kl::load_best_cuts(mode, delete_level, count, list, violated, loaded, deleted); });
}

KLAPI int32_t KLSEPCUT(int32_t type, int32_t n, const double* weights, const double* ranges, const double* values,
                       double capacity, double slack, int32_t* result, double* coefficients, double* rhs,
                       double* continuous) {
  return kl::run_export(__func__, [&] {
    kl::separate_user_knapsack(type, n, weights, ranges, values, capacity, slack, result, coefficients, rhs,
                               continuous);
  });
}

}  // extern "C"
