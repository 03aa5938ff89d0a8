// The ?ARAOBJ command: parametric analysis of the objective.
#ifndef KLSOL_CONSOLE_ARAOBJ_COMMAND_H
#define KLSOL_CONSOLE_ARAOBJ_COMMAND_H

#include <cstdint>

namespace kl {

// Follows the basis of the last optimisation while lambda grows from 0
// along the row named after the command word (?ARAOBJ NAME or 'NAME'), or,
// without a name, along default_parametric_row(). Repeats invert and
// parametric_objective_loop until the analysis ends; when the basis has
// become infeasible, runs optimise_lp(optimise_mode) and stops. A status
// set on the way (a factor failure) ends it without that re-optimisation,
// which would clear the status. Ends with message 184 (a column enters
// without limit) or 351 with the last lambda.
// Refusals, each with status 32 and the basis unchanged: no problem (91),
// the problem still presolved or its basis not optimal for c (11), no
// direction row (352), unknown row name (434). ITRLOG is kept and put back.
void araobj_command(int32_t optimise_mode);

}  // namespace kl

#endif
