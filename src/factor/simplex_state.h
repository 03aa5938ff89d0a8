// The simplex iteration state shared by the factor's updates, the LP
// driver, the primal and dual engines, the kernel and the ratio tests: it
// lives with the factor, its lowest reader. The pivot of the current
// iteration, the outcome letter, the perturbation and shift state, the
// phase-1 change list, and the internal double slots that hold their reals.
//
// All of it is process-global and belongs to the one current problem; the
// LP driver and the primal/dual drivers reset what each run needs.
#ifndef KLSOL_FACTOR_SIMPLEX_STATE_H
#define KLSOL_FACTOR_SIMPLEX_STATE_H

#include <climits>
#include <cstdint>

#include "runtime/controls.h"

namespace kl {

// ---------------------------------------------------------------------------
// Outcome and mode.

// status_letter: the outcome the engines leave (one byte holding a letter).
inline constexpr char kLetterIterating = 'I';
inline constexpr char kLetterOptimal = 'O';
inline constexpr char kLetterInfeasible = 'N';
inline constexpr char kLetterUnbounded = 'U';
inline constexpr char kLetterCutOff = 'D';
inline constexpr char kLetterStopped = 'C';
inline constexpr char kLetterUnfinished = 'Z';
// (Defined in files/solution_file.cpp until that file gives it up.)
extern char status_letter;

// optimise_mode: 1 maximise, 2 minimise, 3 re-optimise (OptimiseMode of
// simplex/lp_driver.h); the primal also takes the negated mode for a
// clean-up call.
extern int32_t optimise_mode;

// lp_algorithm: 0 primal, 1 dual, 2 barrier; 3..5 the same forced for one
// call (algorithm_kind() of factor/starting_basis.h strips the offset).
inline constexpr int32_t kAlgorithmPrimal = 0;
inline constexpr int32_t kAlgorithmDual = 1;
inline constexpr int32_t kAlgorithmBarrier = 2;
inline constexpr int32_t kAlgorithmForcedOffset = 3;
extern int32_t lp_algorithm;

// Sum of iteration counts and limits held to the int32 range: a limit near
// INT32_MAX must saturate, never wrap.
inline int32_t iteration_sum(int64_t a, int64_t b) {
  const int64_t sum = a + b;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

// ---------------------------------------------------------------------------
// The pivot of the current iteration.

// Position of the entering variable, 0 when pricing found none.
extern int32_t entering_column;
// 1 when the entering variable decreases; its updated column is then
// negated so that a positive step moves along the stored column.
extern int32_t entering_sign;
// Basis position of the leaving variable; kLeavingNone (0) when the ratio
// test found no limit (unbounded ray), kLeavingBoundFlip (-1) when the
// entering variable only moves to its other bound.
inline constexpr int32_t kLeavingNone = 0;
inline constexpr int32_t kLeavingBoundFlip = -1;
extern int32_t leaving_row;
// Position of the leaving variable (0 for a bound flip).
extern int32_t leaving_variable;
// 1 leaves at its upper bound, 0 at its lower bound, -1 the quadratic
// engine stops the entering variable between its bounds.
inline constexpr int32_t kLeaveAtLower = 0;
inline constexpr int32_t kLeaveAtUpper = 1;
inline constexpr int32_t kLeaveInterior = -1;
extern int32_t leaving_direction;
// -1 when the engine rejects the priced column (update_basis_flags then
// marks it 0x20 and does nothing else); 0 otherwise.
extern int32_t candidate_rejected;
// Basis updates since the last invert (the invert resets it).
extern int32_t update_count;
// The engines' own state (saved_leaving_row, phase1_marker, candidate_mode,
// the removal counters) is declared in simplex/primal_engines.h.

// ---------------------------------------------------------------------------
// Phase 1 and the composite objective.

// 1 while phase 1 prices with the costs plus the BIGM penalties, 0 for pure
// phase 1 (penalties only).
extern int32_t bigm_mode;
// Some position carries the rejection mark 0x20 (clear_mark_bits clears).
extern int32_t marks_exist;
// 1 normally; the invert clears it when the new factor fails its residual
// check, which selects the stricter pivot rules of the ratio test.
extern int32_t factor_accurate;
// G and L rows, counted by normalise_status_flags, read by the pricing.
extern int32_t inequality_row_count;
// Basic values found outside a bound by less than ZTOLZE by the last
// feasibility check (the long log line shows it).
extern int32_t low_value_count;
// ninf before the last feasibility check.
extern int32_t previous_ninf;

// Rows whose phase-1 state changed in the last update: count ints (0..40)
// in items[0..count-1], as pairs (basis position, code). The code is
// s_old - s_new with s = +1 above the upper bound, -1 below the lower
// bound, 0 within. A count of kChangeListOverflow means pairs were lost and
// the reader must recompute the duals from scratch.
inline constexpr int32_t kChangeListOverflow = 40;
struct InfeasibilityChanges {
  int32_t count = 0;
  int32_t items[kChangeListOverflow] = {};
};
extern InfeasibilityChanges infeasibility_changes;
// Empties the list.
void clear_infeasibility_changes();
// Appends (position, code); once the count has reached 40 the last pair is
// overwritten and the list stays overflowed.
void record_infeasibility_change(int32_t position, int32_t code);
inline bool infeasibility_changes_overflowed() { return infeasibility_changes.count >= kChangeListOverflow; }

// ---------------------------------------------------------------------------
// Perturbation and shift state (shared by the primal and the dual).

// Primal: 1 while the working right-hand side is (or is to be) perturbed,
// 2 after absorb_infeasibility, 0 when the true right-hand side is in force.
extern int32_t shift_active;
// Bound placements (ratio test, basic-value update) and cost shifts since
// the count was last cleared.
extern int32_t shift_count;
// With IFMSG: the shifts and the perturbation about to be taken away.
void report_shift_removal();
// Primal: 1 after apply_rhs_shift, 3 after absorb_infeasibility, lowered to
// 2 by remove_rhs_shift. Dual: its own cycle (3 -> 1 -> 2 or 4 -> 3).
extern int32_t perturbation_phase;
// Consecutive degenerate steps, kept by the ratio tests.
extern int32_t stall_count;

// primal_end_flags bits.
enum PrimalEndFlags : int32_t {
  PEF_BIGM_DROPPED = 0x1,        // BIGM dropped after a dual clean-up
  PEF_DUAL_CLEANUP_RAN = 0x2,    // a dual clean-up has run in this solve
  PEF_DUAL_SKIPPED_ROW = 0x4,    // the dual skipped a leaving row in a clean-up
  PEF_REMOVED_INFEASIBLE = 0x8,  // perturbation removed while infeasible
  PEF_SMALL_INFEASIBILITY = 0x10,  // declared feasible by the small-infeasibility rule
  PEF_END_CHECK_MADE = 0x20,     // the driver's end check of this LP call was made
};
extern int32_t primal_end_flags;

// ---------------------------------------------------------------------------
// Counters of the factor update, kept by update_factor.

// Entries of the live factor: set at engine entry to invert_part_size +
// u_file_end, kept current by update_factor.
extern int32_t u_active_entries;
// Entries written into row etas since engine entry.
extern int32_t row_eta_entries;

// The refactorisation rule when INVFRQ leaves it open (0 or below): after
// 74 updates of a factor that failed its accuracy check, or once the update
// etas outweigh the live factor 30 to 1 per update.
inline constexpr int32_t kInaccurateFactorUpdates = 74;
inline constexpr int64_t kRefactorFillFactor = 30;
bool fill_rule_refactor_due(int32_t updates);

// Internal values of the double store (slots mapped in runtime/controls.h)
// under the names the optimisers use.
inline double& objval = double_controls[dslot::kObjval];
inline double& suminf = double_controls[dslot::kSuminf];
inline double& sense_factor = double_controls[dslot::kSenseFactor];
// Upper bound of the entering variable, 1e20 when it has none or is free.
inline double& entering_upper = double_controls[dslot::kEnteringUpper];
// Reference weight of the entering column (primal pricing).
inline double& entering_weight = double_controls[dslot::kEnteringWeight];
// Priced reduced cost of the entering variable in the composite objective,
// oriented so that a negative value improves.
inline double& entering_reduced_cost = double_controls[dslot::kEnteringReducedCost];
// The entry of the transformed entering column in the leaving row, negated
// for a decreasing entering variable.
inline double& pivot_value = double_controls[dslot::kPivotValue];
// The step theta chosen by the ratio test.
inline double& step_length = double_controls[dslot::kStepLength];
inline double& dj_check_value = double_controls[dslot::kDjCheckValue];
inline double& perturbation_size = double_controls[dslot::kPerturbationSize];
// Rate of change of the true objective per unit step of the entering
// variable (the objective update of the basic-value updates uses it).
inline double& entering_objective_rate = double_controls[dslot::kEnteringObjectiveRate];
// Working ratio tolerance of the primal ratio test: ZTOLRP at the start of
// a run, lowered to at most ZTOLRF by the engines.
inline double& ratio_tolerance = double_controls[dslot::kRatioTolerance];
inline double& cost_shift_total = double_controls[dslot::kCostShiftTotal];
inline double& dual_step = double_controls[dslot::kDualStep];
inline double& dual_bound_estimate = double_controls[dslot::kDualBoundEstimate];

}  // namespace kl

#endif
