// The three primal simplex engines and the perturbations of the working
// right-hand side. Each engine iterates on the current factor until the run
// is over (problem_state 4, status_letter set) or the factor must be rebuilt
// (problem_state below 4); the driver then refactorises and calls again.
#ifndef KLSOL_SIMPLEX_PRIMAL_ENGINES_H
#define KLSOL_SIMPLEX_PRIMAL_ENGINES_H

#include <cstdint>

namespace kl {

// Engine state kept between calls of one primal run.
// candidate_mode: 1 while the driver uses the candidate-list engine.
extern int32_t candidate_mode;
// ninf when phase 1 was entered; 0 in phase 2.
extern int32_t phase1_marker;
// leaving_row saved at the last return for refactorisation.
extern int32_t saved_leaving_row;
// itcnt and shift_count at the last remove_rhs_shift.
extern int64_t itcnt_at_removal;
extern int32_t shifts_at_removal;
// Set by the dual when it boxed free columns: remove_rhs_shift then calls
// clear_candidate_flags.
extern int32_t free_columns_boxed;

// Counters a test can read: every fall-back of the engines counts here.
struct PrimalEngineStats {
  int64_t refactor_returns = 0;    // returns for refactorisation
  int64_t rejected_columns = 0;    // entering columns given the mark 0x20
  int64_t rhs_shifts = 0;          // apply_rhs_shift
  int64_t shift_removals = 0;      // remove_rhs_shift
  int64_t absorptions = 0;         // absorb_infeasibility
  int64_t dual_cleanups = 0;       // dual clean-ups started
  int64_t list_refills = 0;        // price_refill_list calls
  int64_t idle_refactors = 0;      // refactorisations asked for after many rounds without an iteration
  int64_t subspace_steps = 0;      // quadratic engine: joint steps over the variables held between bounds
  int64_t subspace_exchanges = 0;  // ... that ended in a basis exchange
  int64_t subspace_flat_moves = 0; // ... along a direction of zero curvature
  int64_t subspace_too_wide = 0;   // ... skipped: more held variables than the dense step takes
  int64_t subspace_unsettled = 0;  // ... full Newton steps in a row at their limit: single moves until the next pivot
};
extern PrimalEngineStats primal_engine_stats;

// mode: optimise_mode, negative for a clean-up call. fatal := 1 only on a
// factor failure with no update since the invert (message 19, status 32).
void candidate_list_simplex(int32_t mode, int32_t& fatal);
void reference_weight_simplex(int32_t mode, int32_t& fatal);
void qp_simplex(int32_t mode, int32_t& fatal);

// Right-hand-side perturbations.
void apply_rhs_shift();
void remove_rhs_shift();
void absorb_infeasibility();
// Clears the free bit of every position with a finite bound, and the flag
// free_columns_boxed.
void clear_candidate_flags();

// Start of every primal run: the engines' per-run marks cleared.
void reset_primal_engine_state();
// remove_rhs_shift found a small residual infeasibility it may not accept
// (outside the caller's tolerance): an infeasible verdict of this run then
// becomes unfinished.
void note_residual_refused();

}  // namespace kl

#endif
