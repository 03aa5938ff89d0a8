// The primal simplex driver: per-run set-up, the loop of invert and engine
// pass, the composite phase-1 objective with its weight BIGM, the candidate-
// list sizing and tuning, and the objective value at the end of a run.
#ifndef KLSOL_SIMPLEX_PRIMAL_DRIVER_H
#define KLSOL_SIMPLEX_PRIMAL_DRIVER_H

#include <cstdint>

namespace kl {

// BIGM is double control 18; the fall-back weight bigm_fallback is kept by
// problem/setup.h and bigm_at_start by the LP driver (simplex/lp_driver.h).
//
// The phase-1 weight ladder -2M, -M, 0, M, 2M (M = BIGM), indexed by the
// change code -2..2 of a basis position's phase-1 state (entry code + 2).
// Refreshed by set_bigm_ladder whenever BIGM changes.
extern double bigm_ladder[5];

// Running averages of the candidate-list engine (weight 0.01 for the newest
// value), zeroed at the start of every primal_simplex call and read by
// tune_pricing_strategy: nonzeros of the transformed entering column.
extern double column_count_average;

// Counters a test can read: every fall-back of the driver counts here.
struct PrimalDriverStats {
  int64_t bigm_raises = 0;       // BIGM doubled (message 141)
  int64_t bigm_drops = 0;        // BIGM set to the fall-back, pure phase 1
  int64_t end_rechecks = 0;      // the end check after flag_infinite_bounds restarted the loop
  int64_t infeasible_optima = 0; // an O verdict with infeasibilities left, not accepted
  int64_t idle_stops = 0;        // runs ended unfinished after engine passes without an iteration
  int64_t held_values_placed = 0;  // non-basic values beyond a bound put on it at the start
};
extern PrimalDriverStats primal_driver_stats;

// Solves the loaded LP from the prepared basis. mode: 1 maximise, 2
// minimise, 3 re-optimise; negated for a clean-up after the dual. Sets
// status_letter, problem_state (4 at the end) and objval; the status word
// is non-zero when the invert failed or no problem is loaded (message 91).
void primal_simplex(int32_t mode);

// Per-run resets and defaults shared by the primal, the dual and the
// barrier front end.
void prepare_simplex_tolerances(int32_t mode);

// candidate_list_size, candidate_sections and (unless set by the user)
// PPFACT from the problem size.
void size_partial_pricing();

// Decides whether the candidate-list engine goes on (candidate_mode).
void tune_pricing_strategy();

// Phase-1 check of the entering column (its transform alpha in the work
// vector): composite reduced cost, BIGM escalation, consistency with the
// priced value. result: 0 go on; 1 BIGM was raised, price again; 3 the
// priced reduced cost disagrees with the recomputed one (message 134).
void check_entering_infeasibility(int32_t& result);

void set_bigm_ladder();
// One step of BIGM growth: doubled while within bigm_ceiling, else the
// fall-back weight with pure phase 1; the ladder follows (message 141).
void escalate_bigm();

// True when every basic variable lies within its bounds up to ZTOLZE in the
// caller's units (unscaled). An infeasible basis is never reported optimal
// unless this holds.
bool infeasibilities_within_caller_tolerance();
// The verdict O with infeasibilities left: stands (true) when they are
// within tolerance in the caller's units, else status_letter becomes Z
// (unfinished) with message 264.
bool confirm_feasible_optimum();

// End of a run: ADDCUT, the final log line, nonbasic_objective and objval.
void recompute_objective(int32_t mode);
// objval from the objective constants, nonbasic_objective and the basis.
void compute_objective_value();
// The second objective constant: cost x lower bound over the fixed columns.
void fixed_columns_objective_constant();
// Finite-bound flags from the bound values, then check_basic_feasibility.
void flag_infinite_bounds();
// Re-invert when needed, then duals and basic values (reinvert_and_recompute).
void refresh_factor();

}  // namespace kl

#endif
