// The dual iteration loop: phase 1 on auxiliary primal values while reduced
// costs are dual infeasible, phase 2 on the true primal infeasibilities with
// the leaving row taken from a heap; cost perturbation against stalling.
//
// Shared cells of one dual run (the pivot cells are in simplex_state.h):
// the row word (array 1) per basis position carries RF_FREE_BASIC (0x40),
// RF_INFEAS_ABOVE / RF_INFEAS_BELOW (0x10 / 0x20: the leaving row's side,
// set by pop_leaving_row and cleared after the pivot) and the temporary list
// mark RF_HYPERSPARSE_LISTED (0x200).
#ifndef KLSOL_SIMPLEX_DUAL_LOOP_H
#define KLSOL_SIMPLEX_DUAL_LOOP_H

#include <cstdint>

namespace kl {

// dual_pricing_mode: 0 row weights from the pivot-row norm (devex-like), 1
// dual steepest edge on the rows of the basis inverse.
inline constexpr int32_t kDualPricingDevex = 0;
inline constexpr int32_t kDualPricingSteepestEdge = 1;
extern int32_t dual_pricing_mode;

// The phase-1 flip pairs: variables that left the phase-1 set in the last
// step, with +1 when at upper, -1 otherwise. A count of kFlipPairLimit
// means pairs were lost: the auxiliary values must be recomputed.
inline constexpr int32_t kFlipPairLimit = 20;
struct Phase1FlipPairs {
  int32_t count = 0;
  int32_t position[kFlipPairLimit] = {};
  int32_t sign[kFlipPairLimit] = {};
};
extern Phase1FlipPairs phase1_flip_pairs;
void record_phase1_flip(int32_t position, int32_t sign);

// 1 while phase1_values are current and only the flip pairs of the last step
// need applying; cleared whenever they must be recomputed.
extern int32_t phase1_values_current;

// Counter of the row-weight check of the ratio test (reset whenever the
// row weights are reset).
extern int32_t weight_check_count;

// Steps taken since the last pass start (restart or refactorisation).
extern int32_t steps_in_pass;

// itcnt when the rejection marks 0x20 were last cleared with a restart.
extern int32_t mark_clearing_count;

// The cutoff in the run's objective units (CUTOFF times the objective's
// scale), against which the dual bound estimate is tested.
extern double dual_cutoff;

// How the last call of dual_simplex_iterate ended.
enum DualLoopEnd : int32_t {
  DUAL_END_NONE = 0,
  DUAL_END_STOPPED,          // stop request or callback
  DUAL_END_ITERATION_LIMIT,  // itcnt reached ITRLIM
  DUAL_END_REFACTOR,         // returned for a refactorisation
  DUAL_END_FINISHED,         // status letter O, N or U
  DUAL_END_CUT_OFF,          // status letter D
  DUAL_END_FALL_BACK,        // dual_result -1: the primal takes over
  DUAL_END_FACTOR_FAILURE,   // message 19
};
const char* dual_loop_end_text(int32_t end);

// Counters a test can read: every fall-back of the loop counts here.
struct DualLoopStats {
  int64_t iterations = 0;          // pivots made
  int64_t restarts = 0;            // passes restarted (duals from scratch)
  int64_t refactor_requests = 0;   // returns for a refactorisation
  int64_t perturbations = 0;       // perturb_costs calls
  int64_t perturbation_removals = 0;
  int64_t rejected_rows = 0;       // reject_leaving_row calls
  int64_t skipped_rows = 0;        // skip_leaving_row calls
  int64_t ratio_troubles = 0;      // trouble reported by the ratio test
  int64_t trouble_refactors = 0;   // ... answered by a refactorisation
  int64_t inaccurate_reduced_costs = 0;
  int64_t factor_troubles = 0;     // non-zero codes of the factor updates
  int64_t fall_backs = 0;          // dual_result -1
  int64_t unconfirmed_infeasibilities = 0;  // a row without candidate that a dense solve refuted
  int32_t last_end = DUAL_END_NONE;  // DualLoopEnd of the last call
};
extern DualLoopStats dual_loop_stats;

// Runs dual iterations on a fresh factor until a finish (problem_state 4), a
// cutoff (6), a refactorisation request (3), a stop or a fall back.
void dual_simplex_iterate(int32_t* optimise_mode, int32_t* dual_result);

// Leaving-row choice in phase 1 (largest auxiliary violation) and phase 2
// (heap top); both set leaving_row (0 none), leaving_variable and
// leaving_direction.
void choose_leaving_row();
void pop_leaving_row();
// Marks the leaving variable 0x20 and drops its row from the heap.
void skip_leaving_row();
// Status bits after the pivot: entering column basic, leaving variable
// nonbasic at the bound it left on; itcnt and update_count advance.
void reset_leaving_flags();

// Cost perturbation of the nonbasic structural columns by perturbation_size.
void perturb_costs();
// working_costs := objective_scale x objective; shifts and perturbation gone.
void remove_cost_perturbation();
// Shifts away the small dual infeasibilities (between ZTOLDJ and 100 ZTOLDJ).
void clear_small_dual_infeasibilities(int32_t* count);

}  // namespace kl

#endif
