// The dual pivot update: after the dual loop has accepted a pivot, the
// reduced costs move along the pivot row, the basic values along the
// entering column, the entering column takes the leaving row in the basis
// header, the row weights of the dual pricing and the infeasibility heap
// follow the new basic values, and in phase 1 the set of dual-infeasible
// variables (pos_status 0x400000) and the auxiliary values are kept.
//
// Inputs (simplex_state.h): dual_step, pivot_value (alpha_rq),
// entering_objective_rate (the fresh reduced cost of q),
// entering_reduced_cost (d_q at the ratio test), entering_upper,
// entering_weight (the row norm of the ratio test), leaving_row,
// leaving_variable, leaving_direction, entering_column, entering_sign; the
// work vector holding B^-1 a_q (negated when entering_sign is 1) with its
// list; the pivot row and the flip list of dual_ratio_test.h.
//
// The factor is updated after update_after_dual_pivot (update_factor), or,
// in the product form (IFFTUP 0), the eta may be stored before it: the
// steepest-edge update notices a stored eta and allows for it. That eta is
// the column of the new basis, B^-1 a_q itself, not its negation.
#ifndef KLSOL_SIMPLEX_DUAL_PIVOT_UPDATE_H
#define KLSOL_SIMPLEX_DUAL_PIVOT_UPDATE_H

#include <cstdint>

namespace kl {

// Counters a test can read.
struct DualUpdateStats {
  int64_t pivots = 0;                 // update_after_dual_pivot calls
  int64_t degenerate_pivots = 0;      // with a zero dual step
  int64_t incremental_phase1 = 0;     // phase-1 values kept by the flip pairs
  int64_t phase1_left_set = 0;        // variables that left the phase-1 set
  int64_t flip_batches = 0;           // apply_bound_flips calls with flips
  int64_t flips_applied = 0;          // columns flipped
  int64_t rows_rejected = 0;          // reject_leaving_row calls
};
extern DualUpdateStats dual_update_stats;

// Carries out the pivot (see the head of this file). In phase 2 ninf ends
// as the heap size; in phase 1 a step that leaves no dual infeasibility
// builds the infeasibility heap.
void update_after_dual_pivot();

// Flips the columns of the flip list to their other bound and moves the
// basic values by B^-1 times the change of the right-hand side; objval and,
// in phase 2, the infeasibility heap follow. Carries the flips out once
// (bound_flips.applied); the list is kept so that they can be taken back.
void apply_bound_flips();

// Takes back the flips of the flip list when they were applied (status
// bits, basic values, objval); the list is emptied either way. The loop
// uses it when the fresh reduced cost of the entering column disagrees
// with the pivot row.
void undo_bound_flips();

// Withdraws the leaving row whose pivot was refused: its variable is marked
// 0x20, flips already applied for the refused step are taken back (they
// were chosen for a step that is not taken), the pivot row is cleared and
// the row leaves the heap (phase 2) or the small dual infeasibilities are
// cleared (phase 1).
void reject_leaving_row();

}  // namespace kl

#endif
