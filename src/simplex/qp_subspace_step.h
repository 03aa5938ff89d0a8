// The quadratic engine moves one non-basic variable at a time along its
// edge. Once several variables are held between their bounds, such single
// moves descend the objective over them one coordinate at a time and can
// zig-zag for millions of iterations where the variables couple. This step
// minimises over all of them together, the basis fixed: a Newton step on
// the objective restricted to their edges, or, where that restriction is
// flat along some direction, a move along that direction to a bound.
#ifndef KLSOL_SIMPLEX_QP_SUBSPACE_STEP_H
#define KLSOL_SIMPLEX_QP_SUBSPACE_STEP_H

#include <cstdint>

namespace kl {

enum class SubspaceOutcome {
  kNone,          // nothing to gain, or too many held variables
  kMinimised,     // a full Newton step: the minimum over the held variables
  kMoved,         // cut short at a bound, or a move along a flat direction;
                  // x, basic values and objval follow the move
  kBasisChanged,  // moved, and a basic variable stopped at its bound left
                  // the basis for a held variable: the factor is stale
};

// Acts on every non-basic variable held between its bounds (status 0x100,
// not fixed or marked) once one of their reduced costs of the last full
// pricing reaches ZTCOST. The step is cut where a held or a basic variable
// meets a bound: a held one then stays non-basic at that bound, a basic one
// is exchanged with the held variable of largest pivot in its row.
SubspaceOutcome qp_subspace_step();

}  // namespace kl

#endif
