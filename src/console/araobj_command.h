// The ?ARAOBJ command: parametric analysis of the objective.
#ifndef KLSOL_CONSOLE_ARAOBJ_COMMAND_H
#define KLSOL_CONSOLE_ARAOBJ_COMMAND_H

#include <cstdint>

namespace kl {

// Repeats invert and parametric_objective_loop until the analysis ends;
// when the basis must be made optimal again, runs optimise_lp(optimise_mode)
// and stops. ITRLOG is kept and put back.
void araobj_command(int32_t optimise_mode);

}  // namespace kl

#endif
