#include "barrier/iterate/iteration_log.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/platform.h"

namespace kl {

namespace {

constexpr int kBarrierIterations = 3001 - 3000;
constexpr int kBarrierFactorNonzeros = 3003 - 3000;
constexpr int kBarrierDenseColumns = 3004 - 3000;
constexpr int kPrimalObjective = 4001 - 4000;
constexpr int kDualObjective = 4002 - 4000;
constexpr int kPrimalInfeasibility = 4003 - 4000;
constexpr int kDualInfeasibility = 4004 - 4000;
constexpr int kComplementarity = 4005 - 4000;

int32_t clamp_to_int(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

void log_analysis_line(barrier_params& params, int64_t dense_columns, int64_t factor_nonzeros, double flops) {
  if (params.print_word >= 0) return;
  std::snprintf(params.message_buffer, sizeof params.message_buffer,
                "Matrix ordering - Dense cols.: %6lld   NZ(L): %8lld   Flops: %12.0f",
                static_cast<long long>(dense_columns), static_cast<long long>(factor_nonzeros), flops);
  log_barrier_line(params);
  std::snprintf(params.message_buffer, sizeof params.message_buffer, " ");
  log_barrier_line(params);
  barrier_int_attributes[kBarrierFactorNonzeros] = clamp_to_int(factor_nonzeros);
  barrier_int_attributes[kBarrierDenseColumns] = clamp_to_int(dense_columns);
}

void log_iteration_header(barrier_params& params) {
  if (params.print_word >= 0) return;
  std::snprintf(params.message_buffer, sizeof params.message_buffer, "%s",
                "  Its   P.inf      D.inf      U.inf      Primal obj.     Dual obj.      Compl.");
  log_barrier_line(params);
}

void log_iteration(barrier_params& params, const BarrierIterationMeasures& m) {
  if (params.print_word < 0) {
    std::snprintf(params.message_buffer, sizeof params.message_buffer,
                  "%4d  %9.2e  %9.2e  %9.2e %15.7e %15.7e  %8.1e", static_cast<int>(m.iteration), m.primal_norm,
                  m.dual_norm, m.upper_norm, m.primal_objective, m.dual_objective, m.complementarity);
    log_barrier_line(params);
  }
  barrier_double_attributes[kPrimalObjective] = m.primal_objective;
  barrier_double_attributes[kDualObjective] = m.dual_objective;
  barrier_double_attributes[kPrimalInfeasibility] = m.primal_norm;
  barrier_double_attributes[kDualInfeasibility] = m.dual_norm;
  barrier_double_attributes[kComplementarity] = m.complementarity;
  barrier_int_attributes[kBarrierIterations] = m.iteration;
}

bool barrier_stop_requested() {
  int32_t stop = 0;
  invoke_bl_entry(stop);
  if (stop != 0) return true;
  return poll_interrupt() != 0;
}

}  // namespace kl
