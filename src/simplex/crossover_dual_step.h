// The dual step of the crossover: for a basis position r whose reduced cost
// must be driven to zero, the pivot row of r and the entering column by a
// two-pass ratio test with a tolerance (no bound flipping), then the move of
// the reduced costs along the pivot row. The crossover completes the basis
// change itself (reset_leaving_flags of dual_loop.h, update_factor).
//
// The pivot row is left in pivot_row (array 41) with its list (array 39) as
// in dual_ratio_test.h; the entries listed in the current call are told
// apart by a stamp array of this module's own, so no other user of scratch
// storage can make a stale entry look listed.
#ifndef KLSOL_SIMPLEX_CROSSOVER_DUAL_STEP_H
#define KLSOL_SIMPLEX_CROSSOVER_DUAL_STEP_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

// Values of row_mode.
enum CrossoverRowMode : int32_t {
  CROSSOVER_ROW_BY_BTRAN = 0,  // pivot row = e_r' B^-1 A over the row-wise copy
  CROSSOVER_ROW_OF_MATRIX = 1, // pivot row = row r of the matrix itself
};

// The first pass's bound before any candidate is judged.
inline constexpr double kCrossoverFirstBound = 1e30;

// Chooses the entering column for leaving_row (r) and leaving_direction.
// row_first[i] and row_last[i] give the first and last element of row i in
// the row-wise copy (arrays 35, 36). Results: entering_column (0 = none),
// entering_sign, entering_reduced_cost, entering_upper, dual_step, the
// pivot row and its list (dual_pivot_row of dual_ratio_test.h). Without an
// entering column the step is |d_r|.
void select_dual_entering(int32_t row_mode, OneBased<int32_t> row_first, OneBased<int32_t> row_last);

// d_j += dual_step x alpha_j over the pivot row, clipped to the dual-
// feasible side within ZTCOST; the reduced cost at r moves by the step.
void update_duals_after_step();

// Storage of the stamps released (shutdown and tests).
void release_crossover_stamps();

}  // namespace kl

#endif
