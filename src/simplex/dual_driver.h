// The dual simplex driver: prepares a run of the dual simplex (pricing mode,
// working bounds and boxes, objective scaling, factor and starting point),
// calls the dual iteration loop as often as refactorisation requires,
// releases the artificial boxes and hands the LP driver a result code.
#ifndef KLSOL_SIMPLEX_DUAL_DRIVER_H
#define KLSOL_SIMPLEX_DUAL_DRIVER_H

#include <cstdint>

namespace kl {

// Values of dual_result.
enum DualResult : int32_t {
  DUAL_FINISHED = 0,     // the status letter tells how
  DUAL_STOPPED = 1,      // stop request, callback or factor failure
  DUAL_FALL_BACK = -1,   // discard the run and solve with the primal
};
const char* dual_result_text(int32_t result);

// Counters a test can read: every fall-back and repeat of the driver.
struct DualDriverStats {
  int64_t runs = 0;                 // dual_simplex calls that reached the loop
  int64_t refactorisations = 0;     // refactor steps taken by the driver loop
  int64_t primal_cleanups = 0;      // primal clean-ups after a shifted run
  int64_t boxes_released = 0;       // columns released from a box
  int64_t crossed_boxes_dropped = 0;  // implied bounds refused as crossed
  int64_t unconfirmed_verdicts = 0;   // verdicts a fresh factor kept repeating
  int64_t objective_scalings = 0;   // runs with objective_scale != 1
  int32_t last_objective_exponent = 0;  // log2 of the last objective_scale
};
extern DualDriverStats dual_driver_stats;

// Smallest nonzero |c| (at least 1) of the last scaling decision, times 10
// when the costs are all of one magnitude; it sizes the perturbation and the
// stall test.
extern double cost_magnitude;

// Runs the dual simplex in mode |*optimise_mode| (1 maximise, 2 minimise,
// 3 re-optimise; negative from inside a primal engine). *dual_result gets a
// DualResult.
void dual_simplex(int32_t* optimise_mode, int32_t* dual_result);

// Releases the columns sitting at an artificial box bound to the value they
// sit at, and pivots them in while the solution stays optimal.
void remove_artificial_bounds();

}  // namespace kl

#endif
