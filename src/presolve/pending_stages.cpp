// Placeholders that keep the library linking while the stages of presolve
// are written in parallel. Each owner deletes its placeholder with the real
// routine; this file must be empty (and then removed) before release.
#include "presolve/activity.h"
#include "presolve/array_switch.h"
#include "presolve/duplicates.h"
#include "presolve/eliminate.h"
#include "presolve/integer_rows.h"
#include "presolve/postsolve.h"
#include "presolve/presolve_driver.h"
#include "presolve/reduce_pass.h"

namespace kl {

// activity (round owner)
PresolveRowCopy presolve_row_copy;
PresolveActivityCounts presolve_activity;
void build_presolve_row_copy(int32_t) {}
void compute_row_activity_bounds() {}
void derive_implied_column_bounds() {}
void derive_implied_bounds_pass(int32_t) {}
int32_t tighten_column_bound(int32_t, int32_t, double, double) { return 0; }
void free_presolve_activity() {}

// round (round owner)
void presolve_reduce_pass(int32_t, int32_t& change, int32_t& conflict, int32_t& outcome) {
  change = 0;
  conflict = 0;
  outcome = 0;
}
void explain_bound_infeasibility(int32_t, int32_t) {}

// driver, set-up, switch, compaction (frame owner)
void switch_problem_arrays(int32_t) {}
void free_presolve_arrays() {}
void presolve_problem(int32_t& outcome) { outcome = 0; }
int32_t presolve_allocate() { return 0; }
void presolve_count_reduced_problem() {}
void presolve_fixed_columns() {}
void move_flagged_rows_to_cut_pool(int32_t& result) { result = 0; }

// duplicates, elimination, integer rows (duplicates owner)

// postsolve (postsolve owner)
void postsolve(int32_t, int32_t& no_basis) { no_basis = 0; }

}  // namespace kl
