// The crossover: from the interior solution that the barrier copied back
// into the simplex's arrays to a basis of the simplex's structures that the
// primal simplex can finish from.
//
// On entry (by position): ARR_PIVOT_ROW the barrier's primal values (a row
// holds its slack of a_i x + s_i = b_i), ARR_REDUCED_COSTS sense x row dual
// at rows and sense x reduced cost at columns, ARR_SCALE_WORK the classes
// of the starting basis (2 and 3 basic).
//
// Stages: the start installs the basis, clamps the point to the bounds and
// makes it exactly feasible by taking its activity as the working
// right-hand side; the primal push moves every nonbasic variable strictly
// between its bounds to a bound or into the basis; the dual push pivots the
// basic slacks that still carry a dual out of the basis; the finish puts
// back the true costs and right-hand side and recomputes the basic values.
//
// The finish's restoration of costs, right-hand side and flags runs on
// every exit, the early ones (interrupt, unbounded move, failed
// refactorisation) included, so that no later solve starts from the
// crossover's working data. A basic slack is found at its basis position by
// a lookup, never by its row number, since the primal push may leave a
// slack elsewhere.
#ifndef KLSOL_BARRIER_CROSSOVER_COMPLETE_CROSSOVER_H
#define KLSOL_BARRIER_CROSSOVER_COMPLETE_CROSSOVER_H

#include <cstdint>

namespace kl {

// Results of complete_crossover.
inline constexpr int32_t kCrossoverDone = 2;
inline constexpr int32_t kCrossoverInterrupted = 0;
inline constexpr int32_t kCrossoverUnbounded = 3;
inline constexpr int32_t kCrossoverFactorFailed = -3;

// mode: the LP driver's optimise mode (1 maximise). status: the barrier
// status on entry; the result on return (2 done, 0 interrupted, 3 an
// unbounded move, -3 a refactorisation failed). objective and half_xqx are
// the barrier's objective and 0.5 x'Qx.
void complete_crossover(int32_t mode, int32_t& status, double objective, double half_xqx);

// Counters a test can read, and two switches that let a test force the
// early exits.
struct CrossoverStats {
  int64_t runs = 0;
  int64_t refactorisations = 0;
  int64_t primal_pivots = 0;     // accepted primal push steps
  int64_t bound_flips = 0;
  int64_t first_sweep_pivots = 0;   // dual push without the factor
  int64_t second_sweep_pivots = 0;  // dual push through the factor
  int64_t second_primal_sweeps = 0;
  int64_t unfinished_pushes = 0;  // candidates left between their bounds by the step cap
  int32_t last_status = 0;
  // Tests: an interrupt seen at this refactorisation of the call (0 never);
  // a refactorisation failing at this one (0 never).
  int32_t interrupt_at_refactorisation = 0;
  int32_t fail_at_refactorisation = 0;
};
extern CrossoverStats crossover_stats;

}  // namespace kl

#endif
