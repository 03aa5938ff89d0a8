// The quadratic engine moves one non-basic variable at a time to the
// minimum of the objective along its edge. Where a few such variables
// couple strongly (a long narrow valley of the objective), these single
// moves zig-zag between them and the objective falls by a tiny factor per
// round. This step minimises over all of them together: a Newton step in
// the space of the variables held between their bounds, the basis fixed.
#ifndef KLSOL_SIMPLEX_QP_SUBSPACE_STEP_H
#define KLSOL_SIMPLEX_QP_SUBSPACE_STEP_H

#include <cstdint>
#include <vector>

namespace kl {

// Moves the non-basic variables of `held` (each between its bounds, status
// 0x100) by the Newton step of the objective restricted to them, cut short
// where a basic or a moved variable meets a bound; the basic values, x and
// the objective follow. Reads the reduced costs of the last full pricing.
// False when no step was made (reduced Hessian not positive definite, or a
// step too short to matter).
bool qp_subspace_step(const std::vector<int32_t>& held);

}  // namespace kl

#endif
