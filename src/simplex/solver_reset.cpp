#include "simplex/solver_reset.h"

#include <algorithm>
#include <iterator>

#include "factor/crossover_state.h"
#include "factor/basis.h"
#include "factor/crash.h"
#include "factor/hypersparse.h"
#include "presolve/presolve_state.h"
#include "problem/search_state.h"
#include "simplex/basis_access.h"
#include "simplex/dual_driver.h"
#include "simplex/dual_loop.h"
#include "simplex/dual_pivot_update.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/iis.h"
#include "simplex/infeasibility_heap.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/lp_driver.h"
#include "simplex/parametric.h"
#include "simplex/pivot_access.h"
#include "simplex/pivot_updates.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "simplex/primal_ratio_test.h"
#include "simplex/ranging.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

void reset_iteration_state() {
  status_letter = ' ';
  optimise_mode = 0;
  lp_algorithm = kAlgorithmPrimal;
  entering_column = 0;
  entering_sign = 0;
  leaving_row = kLeavingNone;
  leaving_variable = 0;
  leaving_direction = kLeaveAtLower;
  candidate_rejected = 0;
  clear_infeasibility_changes();
  shift_active = 0;
  stall_count = 0;
  primal_end_flags = 0;
  u_active_entries = 0;
  row_eta_entries = 0;
  // The pivot reals kept in the double store after the controls.
  for (int slot = dslot::kEnteringUpper; slot <= dslot::kDualBoundEstimate; ++slot) double_controls[slot] = 0.0;
}

void reset_primal_state() {
  reset_primal_engine_state();
  candidate_mode = 1;
  phase1_marker = 0;
  saved_leaving_row = 0;
  itcnt_at_removal = 0;
  shifts_at_removal = 0;
  free_columns_boxed = 0;
  primal_engine_stats = PrimalEngineStats{};
  std::fill(std::begin(candidate_list), std::end(candidate_list), 0);
  std::fill(std::begin(candidate_merits), std::end(candidate_merits), 0.0);
  candidate_count = 0;
  candidate_best = 0;
  next_section = 1;
  pricing_pass_count = 0;
  std::fill(std::begin(bigm_ladder), std::end(bigm_ladder), 0.0);
  column_count_average = 0.0;
  primal_driver_stats = PrimalDriverStats{};
  ratio_test_report = RatioTestReport{};
  near_zero_count = 0;
}

void reset_dual_state() {
  dual_pricing_mode = kDualPricingDevex;
  phase1_flip_pairs = Phase1FlipPairs{};
  phase1_values_current = 0;
  weight_check_count = 0;
  steps_in_pass = 0;
  mark_clearing_count = 0;
  dual_cutoff = 0.0;
  dual_loop_stats = DualLoopStats{};
  dual_pivot_row = DualPivotRow{};
  bound_flips = BoundFlipList{};
  dual_ratio_stats = DualRatioStats{};
  reset_breakpoint_pool();
  dual_update_stats = DualUpdateStats{};
  dual_driver_stats = DualDriverStats{};
  cost_magnitude = 1.0;
  infeasibility_heap_size = 0;
}

void reset_analysis_state() {
  range_results = RangeResults{};
  iis_sets_found.clear();
  parametric_row = 0;
  parametric_stats = ParametricStats{};
  lp_driver = LpDriverState{};
  lp_driver_stats = LpDriverStats{};
  pivot_access_stats = PivotAccessStats{};
  loaded_basic_count = 0;
  log_line_counter = 0;
  kernel_stats = KernelStats{};
  reset_crossover_state();
  // A node factor kept by the global search belongs to the problem too.
  node_factor_reusable = 0;
}

}  // namespace

void reset_solver_state() {
  reset_factor_state();
  crash_stats = CrashStats{};
  hypersparse_stats = HypersparseStats{};
  reset_iteration_state();
  reset_primal_state();
  reset_dual_state();
  reset_analysis_state();
  reset_presolve_state();
}

}  // namespace kl
