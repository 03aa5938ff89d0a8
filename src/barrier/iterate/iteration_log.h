// The barrier iteration's log lines, result attributes and the user's
// barrier-log callback hook.
//
// The lines print only when print_word < 0 (through log_barrier_line); the
// attributes 3003 and 3004 are stored with the analysis line, so only then
// too. The per-iteration attributes (3001, 4001..4005) are stored whatever
// the print word, so that a barrier-log callback reads the values of the
// iteration it is called for.
#ifndef KLSOL_BARRIER_ITERATE_ITERATION_LOG_H
#define KLSOL_BARRIER_ITERATE_ITERATION_LOG_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The measures of one iteration, in the problem's own sense.
struct BarrierIterationMeasures {
  int32_t iteration = 0;
  double primal_norm = 0.0;
  double dual_norm = 0.0;
  double upper_norm = 0.0;
  double primal_objective = 0.0;
  double dual_objective = 0.0;
  double complementarity = 0.0;
};

// "Matrix ordering - Dense cols.: ...   NZ(L): ...   Flops: ..." and a
// blank line; attributes 3003 (NZ(L)) and 3004 (dense columns).
void log_analysis_line(barrier_params& params, int64_t dense_columns, int64_t factor_nonzeros, double flops);

// The column header of the iteration lines.
void log_iteration_header(barrier_params& params);

// The iteration's line (when print_word < 0) and attributes 3001, 4001..4005.
void log_iteration(barrier_params& params, const BarrierIterationMeasures& measures);

// The user's barrier-log callback, then the interrupt flag: true when either
// asks the barrier to stop (reading the flag clears it).
bool barrier_stop_requested();

}  // namespace kl

#endif
