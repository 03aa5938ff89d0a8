// Sparsification of rows by equality rows (bit 0x400 of PRESOLV) is
// refused: the switch is accepted and does nothing.
//
// The pass adds multiples of equality rows to other rows. That keeps the
// feasible set and the primal values, but the duals the solve then reports
// belong to the modified rows, and the removal records have no kind that
// would carry the row operations back to the original rows' duals (each
// operation r2 += t x row i needs y_i += t x y_r2, replayed in reverse).
// Rather than hand out duals that do not certify the problem asked, the
// problem is left as it is.
#include "barrier/presolve/presolve_data.h"

namespace kl {

int32_t sparsify_equations(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

}  // namespace kl
