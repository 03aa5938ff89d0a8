// The LP driver: the bodies of KLMINIM and KLMAXIM and optimise_lp, which
// prepares the loaded problem, chooses and runs the algorithm, maps the
// outcome to lp_status and the final message and writes the solution file.
//
// The status letter of the engines (status_letter, simplex/simplex_state.h)
// becomes lp_status (problem attribute 1010, problem/store.h):
//   O -> 1 optimal (mode 3: 3 when not better than search_cutoff)
//   N -> 2 infeasible, U -> 5 unbounded, D -> 6 cut off,
//   C, Z, I -> 4 unfinished.
#ifndef KLSOL_SIMPLEX_LP_DRIVER_H
#define KLSOL_SIMPLEX_LP_DRIVER_H

#include <cstdint>

namespace kl {

// Argument of optimise_lp. The primal simplex also takes the negated mode
// for a clean-up run after the dual.
enum OptimiseMode : int32_t {
  OPT_MAXIMISE = 1,
  OPT_MINIMISE = 2,
  OPT_REOPTIMISE = 3,  // as it stands: no sense change, presolve, crash, file or message
};

// Values of lp_status.
enum LpStatus : int32_t {
  LP_OPTIMAL = 1,
  LP_INFEASIBLE = 2,
  LP_CUTOFF_NOT_BETTER = 3,
  LP_UNFINISHED = 4,
  LP_UNBOUNDED = 5,
  LP_CUT_OFF = 6,
};
const char* lp_status_text(int32_t status);

// Value of global_status after an LP run that ended O, N or U in mode 1 or 2.
inline constexpr int32_t kGlobalStatusLpSolved = 2;

// The driver's process-global state.
struct LpDriverState {
  // CUTOFF in the internal objective scale; read by the global search.
  double search_cutoff = 0.0;
  // BIGM as it was just before the last simplex or barrier run.
  double bigm_at_start = 0.0;
  // 1 from a successful presolve until the full postsolve starts.
  int32_t presolve_active = 0;
  // 1 after a barrier run without crossover: the solution has no basis.
  int32_t no_basis = 0;
  // Set by maximise_problem/minimise_problem: the call treats the problem as
  // global (kept for the global search that follows).
  int32_t global_problem = 0;
};
extern LpDriverState lp_driver;

// Counters a test can read: which fall-backs and re-checks the driver took.
struct LpDriverStats {
  int64_t presolve_unbounded_rechecks = 0;    // presolve said unbounded; the simplex classified the loaded problem
  int64_t presolve_infeasible_rechecks = 0;   // presolve said infeasible after fixings by reduced cost; likewise
  int64_t presolve_conflict_rechecks = 0;     // presolve met a conflict with IFPRES negative; likewise, quietly
  int64_t postsolve_clean_ups = 0;            // primal runs on the original problem after a final postsolve
  int64_t bound_passes = 0;                   // least bound pass runs
  int64_t dual_fall_backs = 0;                // the dual gave up, the primal took over
  int64_t quadratic_dual_rerouted = 0;        // the dual asked for a quadratic objective; the primal ran
  int64_t dual_polishes = 0;                  // primal passes that tightened an optimum's reduced costs
  int64_t infeasibility_rechecks = 0;         // infeasible verdicts judged again from a slack basis
  int64_t crash_runs = 0;                     // crash_basis called
  int32_t last_algorithm = -1;                // lp_algorithm that last ran
};
extern LpDriverStats lp_driver_stats;

// Body of KLMAXIM: the option letters in option_flags (b, d, p, g, l, r are
// read and cleared). Result in status_code and lp_status.
void maximise_problem();
// Body of KLMINIM.
void minimise_problem();

// Optimises the loaded problem in mode 1, 2 or 3 (OptimiseMode). Leaves
// status_code, status_letter, lp_status, objval, the solution arrays and, in
// modes 1 and 2, the solution file and the final message.
void optimise_lp(int32_t optimise_mode);

// Body of KLGETUNB: the unbounded column after the primal (lp_status 5) or
// the infeasible row after the dual (lp_status 2), in the caller's base;
// -1 when there is none.
void get_unbounded_index(int32_t* index);

}  // namespace kl

#endif
