// State of the crossover that the basis factorisation reads.
#ifndef KLSOL_FACTOR_CROSSOVER_STATE_H
#define KLSOL_FACTOR_CROSSOVER_STATE_H

#include <cstdint>

namespace kl {

// crossover_mode: 0 no crossover; set to 1 when the crossover starts, to -2 in
// its final stage, back to 0 when it ends. The invert reads only its sign
// (positive: a crossover is running, so a repair keeps the values of the
// variables it takes out and marks them 0x20, and the basic feasibility check
// is skipped) and reduces it to its sign when it accepts a factor.
extern int32_t crossover_mode;

// crossover_phase: the crossover's phase counter; the barrier front end
// clears it on entry.
extern int32_t crossover_phase;

// Start-up: both 0.
void reset_crossover_state();

}  // namespace kl

#endif
