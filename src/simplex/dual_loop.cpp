#include "simplex/dual_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "simplex/basic_values.h"
#include "simplex/dual_driver.h"
#include "simplex/dual_pivot_update.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/infeasibility_heap.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/pivot_updates.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t dual_pricing_mode = kDualPricingDevex;
Phase1FlipPairs phase1_flip_pairs;
int32_t phase1_values_current = 0;
int32_t weight_check_count = 0;
int32_t steps_in_pass = 0;
int32_t mark_clearing_count = 0;
double dual_cutoff = 0.0;
DualLoopStats dual_loop_stats;

const char* dual_loop_end_text(int32_t end) {
  switch (end) {
    case DUAL_END_NONE: return "none";
    case DUAL_END_STOPPED: return "stopped";
    case DUAL_END_ITERATION_LIMIT: return "iteration limit";
    case DUAL_END_REFACTOR: return "refactorisation";
    case DUAL_END_FINISHED: return "finished";
    case DUAL_END_CUT_OFF: return "cut off";
    case DUAL_END_FALL_BACK: return "fall back to the primal";
    case DUAL_END_FACTOR_FAILURE: return "factor failure";
    default: return "unknown";
  }
}

void record_phase1_flip(int32_t position, int32_t sign) {
  Phase1FlipPairs& pairs = phase1_flip_pairs;
  if (pairs.count >= kFlipPairLimit) {
    pairs.position[kFlipPairLimit - 1] = position;
    pairs.sign[kFlipPairLimit - 1] = sign;
    return;
  }
  pairs.position[pairs.count] = position;
  pairs.sign[pairs.count] = sign;
  ++pairs.count;
}

namespace {

// Thresholds of the loop.
constexpr int32_t kStallLimit = 100;               // degenerate steps before a perturbation
constexpr int32_t kTroubleRefactorUpdates = 20;    // ratio-test trouble refactorises above this
constexpr int32_t kStepsBeforeRestart = 5;         // steps in a pass before a restart is worth it
constexpr int32_t kInaccurateRefactorUpdates = 75; // an inaccurate reduced cost refactorises above this
constexpr int32_t kSmallPivotRefactorUpdates = 15;
constexpr int32_t kTinyPivotRefactorUpdates = 20;
constexpr int32_t kEtaGrowthFactor = 30;           // refactor when updates x spikes pass 30 x the file
constexpr int32_t kEtaLimitFactor = 3;
constexpr int32_t kEtaLimitReserve = 500;
constexpr int32_t kCleanupRowLimit = 10;           // a clean-up with fewer infeasible rows is careful
constexpr double kCarefulPivot = 1e-4;
constexpr double kCarefulPivotLargeCost = 1e-3;
constexpr double kLargeCost = 10.0;
constexpr double kSmallPivotFactor = 5000.0;       // x ZTOLPV: pivots below need checks
constexpr double kSmallInfeasibilityFactor = 500.0;  // x ZTOLZE
constexpr double kNoisePivotFactor = 50.0;          // x ZTOLPV: pivot-row entries below are noise
constexpr double kStallPerturbationFactor = 10.0;
constexpr double kEnteringShiftBand = 2.0;          // x ZTCOST: wrong-signed d_q shifted
constexpr double kEnteringShiftMargin = 0.05;
constexpr double kSmallDualBand = 100.0;            // x ZTOLDJ
constexpr double kThresholdGrowth = 1.5;
constexpr double kThresholdCeiling = 0.999;
constexpr double kThresholdFallBack = 0.2;

// The cell of position j in the pivot row: a slack's entry sits at its
// reduced factor index in pricing mode 1.
double& pivot_row_cell(int32_t j) {
  OneBased<double> row = pivot_row_values();
  if (dual_pricing_mode == kDualPricingSteepestEdge && j < store.first_col && factor.factor_permuted != 0) {
    OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
    if (index) return row[index[j]];
  }
  return row[j];
}

// The infeasibility of the leaving variable against the working bound it
// leaves at (positive when outside).
double leaving_infeasibility() {
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  const int32_t p = leaving_variable;
  if (leaving_direction == kLeaveAtUpper) return values[leaving_row] - real_array(ARR_WORK_UPPER)[p];
  return real_array(ARR_WORK_LOWER)[p] - values[leaving_row];
}

// Whether row leaving_row proves the problem infeasible: with rho = -e_r'
// B^-1 (below its lower bound) or e_r' B^-1 (above its upper bound) from a
// dense solve, no nonbasic position that may move has an entry of the sign
// that would move the row's variable towards its bound.
bool row_proves_infeasibility() {
  const int32_t r = leaving_row;
  if (r <= 0) return false;
  // Entries beyond the reduced factor may hold what an earlier user left
  // there: the whole vector starts clear.
  OneBased<double> w = work_vector();
  for (int32_t k = 1; k <= nrow; ++k) w[k] = 0.0;
  factor.work_vector_state = WV_CLEAR_ALL;
  w[r] = leaving_direction == kLeaveAtUpper ? 1.0 : -1.0;
  if (r <= factor.factor_dimension) basis_btran_work_vector();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  const auto at = [&](int32_t row) { return permuted ? index[row] : row; };
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  // Entries the ratio test takes for noise (below 50 ZTOLPV with a small
  // reduced cost) do not refute the verdict either.
  const double tolerance = kNoisePivotFactor * dcv(dc::ZTOLPV);
  bool proven = true;
  const auto judge = [&](int32_t j, double alpha) {
    const int32_t st = status[j];
    if ((st & (PS_BASIC | PS_FIXED | PS_SEARCH_FIXED)) != 0) return;
    if ((st & (PS_FREE | PS_NONBASIC_BETWEEN)) != 0) {
      if (std::fabs(alpha) > tolerance) proven = false;
      return;
    }
    if (((st & PS_AT_UPPER) != 0 ? -alpha : alpha) > tolerance) proven = false;
  };
  for (int32_t i = 1; i <= nrow && proven; ++i) judge(i, w[at(i)]);
  for (int32_t j = store.first_col; j <= nseq && proven; ++j) {
    double alpha = 0.0;
    for (int32_t e = start[j]; e < start[j + 1]; ++e) alpha += w[at(elem_row[e])] * elem_value[e];
    judge(j, alpha);
  }
  for (int32_t k = 1; k <= nrow; ++k) w[k] = 0.0;
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  return proven;
}

void clear_scale_work() {
  OneBased<int32_t> stamps = int_array(ARR_SCALE_WORK);
  if (!stamps) return;
  for (int32_t p = 1; p <= nseq; ++p) stamps[p] = 0;
}

// What the next step of the loop is.
enum class Next {
  kPassStart,
  kIterate,
  kRefactor,
  kFinish,
  kFactorFailure,
  kReturn,
};

class DualLoop {
 public:
  DualLoop(int32_t mode, int32_t* dual_result) : from_primal_(mode < 0), dual_result_(dual_result) {}

  void run();

 private:
  Next pass_start();
  Next iterate();
  Next phase1_leaving_row();
  Next phase2_leaving_row();
  Next after_ratio_test(int32_t trouble);
  Next no_entering_column();
  Next cutoff_test();
  Next transform_entering_column();
  Next check_reduced_cost();
  Next check_pivot();
  Next pivot();
  Next factor_trouble(int32_t code);
  Next reject_row();
  Next refactor();
  Next finish();
  Next fall_back(const char* reason);
  Next stopped(int32_t code);
  Next marks_or_finish();
  bool refactor_due() const;
  void apply_phase1_flip_pairs();
  void undo_flips();

  const bool from_primal_;
  int32_t* const dual_result_;
  double objective_at_entry_ = 0.0;
  int32_t eta_at_pass_start_ = 0;
  int32_t eta_limit_ = 0;
  int64_t spike_sum_ = 0;
  int32_t stop_ = 0;
  int32_t ninf_at_ratio_test_ = 0;
  int32_t trouble_ = 0;
  double fresh_reduced_cost_ = 0.0;
};

void DualLoop::run() {
  *dual_result_ = DUAL_FINISHED;
  eta_at_pass_start_ = eta_file.invert_part_size + eta_file.u_file_end;
  eta_limit_ = kEtaLimitFactor * eta_at_pass_start_ + kEtaLimitReserve;
  spike_sum_ = 0;
  objective_at_entry_ = objval;
  status_letter = kLetterIterating;
  factor.work_vector_state = WV_CLEAR_ALL;
  if (icv(ic::IFDSE) == -1 && itcnt > icv(ic::SSV001)) dual_pricing_mode = kDualPricingDevex;

  Next next = Next::kPassStart;
  while (next != Next::kReturn) {
    switch (next) {
      case Next::kPassStart: next = pass_start(); break;
      case Next::kIterate: next = iterate(); break;
      case Next::kRefactor: next = refactor(); break;
      case Next::kFinish: next = finish(); break;
      case Next::kFactorFailure:
        report_plain_error(MSG_SIMPLEX_FACTOR_FAILURE);
        *dual_result_ = DUAL_STOPPED;
        trouble_ = 1;
        problem_state = 4;
        dual_loop_stats.last_end = DUAL_END_FACTOR_FAILURE;
        next = Next::kReturn;
        break;
      case Next::kReturn: break;
    }
  }
  if (trouble_ != 0) clear_scale_work();
}

Next DualLoop::pass_start() {
  phase1_values_current = 0;
  phase1_flip_pairs.count = 0;
  clear_work_vector();
  OneBased<double> w = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  for (int32_t k = 1; k <= factor.factor_dimension; ++k) w[k] = -sense_factor * cost[header[k]];
  factor.work_vector_state = WV_CLEAR_ALL;
  basis_btran_work_vector();
  compute_reduced_costs();
  count_dual_infeasibilities();
  clear_work_vector();
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  if (nnegdj == 0) {
    build_infeasibility_heap();
  } else if (from_primal_ && (primal_end_flags & (PEF_DUAL_SKIPPED_ROW | PEF_REMOVED_INFEASIBLE)) != 0) {
    update_count = 0;
    return Next::kFinish;
  }
  dual_step = 0.0;
  steps_in_pass = 0;
  dual_pivot_row.count = 0;
  dual_pivot_row.slack_count = 0;
  OneBased<double> row = pivot_row_values();
  for (int32_t p = 1; p <= nseq; ++p) row[p] = 0.0;
  stop_ = check_stop_request();
  return Next::kIterate;
}

bool DualLoop::refactor_due() const {
  const int32_t frequency = icv(ic::INVFRQ);
  if (frequency > 0) return update_count >= frequency;
  const int64_t current = static_cast<int64_t>(eta_file.invert_part_size) + eta_file.u_file_end;
  return kEtaGrowthFactor * current < static_cast<int64_t>(update_count) * spike_sum_ || current > eta_limit_;
}

Next DualLoop::iterate() {
  if (stop_ != 0) return stopped(stop_);
  if (itcnt >= icv(ic::ITRLIM)) {
    *dual_result_ = global_search_started != 0 ? DUAL_FALL_BACK : DUAL_FINISHED;
    problem_state = 4;
    dual_loop_stats.last_end = DUAL_END_ITERATION_LIMIT;
    return Next::kReturn;
  }
  if (update_count > 0 && refactor_due()) return Next::kRefactor;
  if (stall_count > kStallLimit && icv(ic::IPETRB) != 0) {
    const double step = dcv(dc::ZPETRB);
    perturbation_size += cost_magnitude == 1.0 ? step : step * cost_magnitude * kStallPerturbationFactor;
    perturb_costs();
    stall_count = 0;
    return Next::kPassStart;
  }
  if (nnegdj > 0) {
    const Next next = phase1_leaving_row();
    if (next != Next::kIterate) return next;
  }
  if (nnegdj == 0) {
    const Next next = phase2_leaving_row();
    if (next != Next::kIterate) return next;
  }
  ninf_at_ratio_test_ = ninf;
  int32_t trouble = DUAL_RATIO_CLEAN;
  bound_flip_ratio_test(&trouble);
  return after_ratio_test(trouble);
}

// The auxiliary values of phase 1: the flip pairs of the last step applied,
// or all of them from scratch.
void DualLoop::apply_phase1_flip_pairs() {
  const Phase1FlipPairs& pairs = phase1_flip_pairs;
  clear_work_vector();
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  int32_t count = 0;
  // A pair's rows enter the work vector once each (the list mark, cleared
  // before the solve, keeps them unique). A position beyond the reduced
  // factor may hold what an earlier user of the vector left there, so the
  // first touch assigns.
  auto add = [&](int32_t row, double value) {
    const int32_t k = permuted ? index[row] : row;
    if ((marks[k] & RF_HYPERSPARSE_LISTED) == 0) {
      marks[k] |= RF_HYPERSPARSE_LISTED;
      list[++count] = k;
      w[k] = 0.0;
    }
    w[k] += value;
  };
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t n = 0; n < pairs.count; ++n) {
    const int32_t j = pairs.position[n];
    const double sign = pairs.sign[n];
    if (j < store.first_col) {
      add(j, sign);
      continue;
    }
    for (int32_t e = start[j]; e < start[j + 1]; ++e) add(elem_row[e], sign * elem_value[e]);
  }
  for (int32_t n = 1; n <= count; ++n) marks[list[n]] &= ~RF_HYPERSPARSE_LISTED;
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
  if (count > 0) {
    solve_with_factor_forward(w, list, factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) {
      ftran_update_part(w);
      sparsify_work_vector(dcv(dc::ZTETA));
    } else {
      solve_with_factor_backward(w, list, factor.work_vector_count);
      if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
    }
    OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES);
    for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
      const int32_t k = list[n];
      phase1[k] += w[k];
      w[k] = 0.0;
    }
  }
  phase1_flip_pairs.count = 0;
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
}

Next DualLoop::phase1_leaving_row() {
  bool pairs_usable = phase1_values_current != 0 && phase1_flip_pairs.count < kFlipPairLimit;
  if (pairs_usable) {
    // A free variable's contribution had the sign of its reduced cost,
    // which the pair does not record: recompute instead.
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t n = 0; n < phase1_flip_pairs.count; ++n)
      if ((status[phase1_flip_pairs.position[n]] & PS_FREE) != 0) pairs_usable = false;
  }
  if (pairs_usable) {
    apply_phase1_flip_pairs();
  } else {
    phase1_values_current = 0;
    count_dual_infeasibilities();
    if (nnegdj == 0) {
      build_infeasibility_heap();
      return Next::kIterate;
    }
    OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES);
    OneBased<double> w = work_vector();
    clear_work_vector();
    for (int32_t k = 1; k <= nrow; ++k) w[k] = phase1[k];
    factor.work_vector_state = WV_CLEAR_ALL;
    basis_solve_work_vector();
    for (int32_t k = 1; k <= nrow; ++k) {
      phase1[k] = w[k];
      w[k] = 0.0;
    }
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_ZERO;
  }
  phase1_flip_pairs.count = 0;
  choose_leaving_row();
  if (leaving_row != 0) return Next::kIterate;
  bool restart = false;
  if (shift_count != 0) {
    remove_cost_perturbation();
    perturbation_phase = 4;
    stall_count = 0;
    restart = true;
  }
  if (marks_exist != 0) {
    clear_mark_bits();
    if (itcnt == mark_clearing_count) return Next::kFinish;
    mark_clearing_count = itcnt;
    restart = true;
  }
  return restart ? Next::kPassStart : Next::kFinish;
}

// The run has no primal infeasibility left in the heap: rows skipped earlier
// (marked 0x20) are looked at again before the answer stands.
Next DualLoop::marks_or_finish() {
  if (marks_exist == 0) return Next::kFinish;
  clear_mark_bits();
  build_infeasibility_heap();
  if (ninf == 0) return Next::kFinish;
  // The marked rows are still infeasible: restart on them once; a second
  // time without progress the primal decides.
  if (itcnt == mark_clearing_count) return fall_back("rows without a pivot remain infeasible");
  mark_clearing_count = itcnt;
  return Next::kPassStart;
}

Next DualLoop::phase2_leaving_row() {
  if (ninf == 0) {
    if (marks_exist != 0) {
      const Next next = marks_or_finish();
      if (next != Next::kFinish) return next;
    }
    shift_dual_infeasibilities();
    if (entering_column != 0) {
      shift_count = 1;
      nnegdj = 0;
    }
    entering_column = 0;
    return Next::kFinish;
  }
  pop_leaving_row();
  if (leaving_row != 0) return Next::kIterate;
  phase1_values_current = 0;
  return marks_or_finish();
}

Next DualLoop::after_ratio_test(int32_t trouble) {
  if (trouble != DUAL_RATIO_CLEAN) {
    ++dual_loop_stats.ratio_troubles;
    // The reduced costs disagree with the pivot row. They are judged again
    // on fresh duals, and on a fresh factor when that is not fresh either;
    // the row never counts as having no candidate on this evidence.
    if (update_count > kTroubleRefactorUpdates || (steps_in_pass == 0 && update_count > 0)) {
      ++dual_loop_stats.trouble_refactors;
      return Next::kRefactor;
    }
    if (steps_in_pass > 0) {
      ++dual_loop_stats.restarts;
      return Next::kPassStart;
    }
    return fall_back("reduced costs disagree with the pivot row");
  }
  if (entering_column == 0) return no_entering_column();
  apply_bound_flips();
  const Next next = cutoff_test();
  if (next != Next::kIterate) return next;
  return transform_entering_column();
}

Next DualLoop::no_entering_column() {
  if (nnegdj > 0 && steps_in_pass > 0) {
    ++dual_loop_stats.restarts;
    return Next::kPassStart;
  }
  if (shift_count != 0) {
    remove_cost_perturbation();
    perturbation_phase = 4;
    stall_count = 0;
    return Next::kPassStart;
  }
  if (infeasibility_heap_size <= 1 || !from_primal_) {
    // An infeasible verdict rests on this row alone: it stands only when a
    // dense solve confirms that no nonbasic position can reduce the
    // violation.
    if (nnegdj == 0 && !row_proves_infeasibility()) {
      ++dual_loop_stats.unconfirmed_infeasibilities;
      return fall_back("the pivot row does not confirm infeasibility");
    }
    return Next::kFinish;
  }
  if (steps_in_pass > 0) {
    ++dual_loop_stats.restarts;
    return Next::kPassStart;
  }
  skip_leaving_row();
  stop_ = check_stop_request();
  return Next::kIterate;
}

Next DualLoop::cutoff_test() {
  if (nnegdj != 0 || shift_active != 0) return Next::kIterate;
  const double alpha = pivot_row_cell(entering_column);
  if (alpha == 0.0) return Next::kIterate;
  const double t = -leaving_infeasibility();
  const double gain = std::fabs(t * entering_reduced_cost / alpha);
  // objval, the gain and the cutoff are all in the run's objective units.
  dual_bound_estimate = (gain - cost_shift_total) * sense_factor + objval;
  if (store.objective_row == 0) dual_bound_estimate = 0.0;
  if ((dual_bound_estimate - dual_cutoff) * sense_factor < 0.0) return Next::kIterate;
  status_letter = kLetterCutOff;
  problem_state = 6;
  dual_loop_stats.last_end = DUAL_END_CUT_OFF;
  return Next::kReturn;
}

Next DualLoop::transform_entering_column() {
  const int32_t q = entering_column;
  const bool beyond = leaving_row > factor.factor_dimension;
  const int32_t leaving_factor_row =
      beyond && factor.factor_permuted != 0 ? int_array(ARR_FACTOR_ROWS)[leaving_row] : 0;
  const double beyond_entry = beyond ? pivot_row_values()[leaving_row] : 0.0;
  unpack_column(q);
  if (beyond && leaving_factor_row > 0) {
    // The unpack brought the leaving row into the factor under a new index.
    const int32_t moved = int_array(ARR_FACTOR_INDEX)[leaving_factor_row];
    if (moved != leaving_row) {
      if (dual_pricing_mode == kDualPricingSteepestEdge) {
        OneBased<double> row = pivot_row_values();
        row[leaving_row] = 0.0;
        row[moved] = beyond_entry;
      }
      leaving_row = moved;
    }
  }
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  const double drop = dcv(dc::ZTETA);
  if (icv(ic::IFFTUP) != 0) {
    solve_with_factor_forward(w, list, factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
    spike_sum_ += factor.work_vector_count;
    if (append_eta_column() != 0) {
      undo_flips();
      return factor_trouble(UPDATE_ETA_FILE_FULL);
    }
    if (entering_sign == 1) negate_work_vector();
    solve_with_factor_backward(w, list, factor.work_vector_count);
  } else {
    eta_backward_pass();
    sparsify_work_vector(drop);
    // The product-form eta of this column grows the file as a spike would.
    spike_sum_ += factor.work_vector_count;
    if (entering_sign == 1) negate_work_vector();
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
  pivot_value = w[leaving_row];
  if (entering_sign == 1) pivot_value = -pivot_value;
  return check_reduced_cost();
}

// Flips applied for this iteration are taken back when the iteration does
// not go on to its pivot.
void DualLoop::undo_flips() {
  if (bound_flips.count > 0 && bound_flips.applied != 0) undo_bound_flips();
}

Next DualLoop::check_reduced_cost() {
  const int32_t q = entering_column;
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  double d = entering_sign == 1 ? -cost[q] : cost[q];
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t i = list[n];
    d -= w[i] * cost[header[i]];
  }
  entering_objective_rate = d;
  fresh_reduced_cost_ = d;
  double priced = d * sense_factor;
  if (entering_sign == 1) priced = -priced;
  const double stored = real_array(ARR_REDUCED_COSTS)[q];
  if (std::fabs(priced - stored) > dcv(dc::ZTCOST) &&
      (update_count > kInaccurateRefactorUpdates || steps_in_pass > kStepsBeforeRestart)) {
    ++dual_loop_stats.inaccurate_reduced_costs;
    undo_flips();
    clear_work_vector();
    factor.work_vector_state = WV_ZERO;
    factor.work_vector_count = 0;
    if (update_count > kInaccurateRefactorUpdates) return Next::kRefactor;
    ++dual_loop_stats.restarts;
    return Next::kPassStart;
  }
  return check_pivot();
}

Next DualLoop::check_pivot() {
  const double alpha = std::fabs(pivot_value);
  const double infeasibility = std::fabs(leaving_infeasibility());
  const double small_infeasibility = kSmallInfeasibilityFactor * dcv(dc::ZTOLZE);
  const bool careful = (primal_end_flags & PEF_DUAL_SKIPPED_ROW) != 0 ||
                       (from_primal_ && ninf_at_ratio_test_ < kCleanupRowLimit);
  const bool doubtful =
      alpha < kCarefulPivot || (alpha < kCarefulPivotLargeCost && std::fabs(fresh_reduced_cost_) > kLargeCost);
  if (careful && doubtful && infeasibility < small_infeasibility) return reject_row();
  if (alpha >= kSmallPivotFactor * dcv(dc::ZTOLPV)) return pivot();
  const double zteta = dcv(dc::ZTETA);
  if (std::fabs(alpha - std::fabs(pivot_row_cell(entering_column))) > zteta) {
    if (update_count > kSmallPivotRefactorUpdates) return Next::kRefactor;
    if (itcnt != mark_clearing_count) return reject_row();
  }
  if (itcnt == mark_clearing_count || infeasibility >= small_infeasibility) {
    if (alpha >= zteta) return pivot();
    if (update_count > kTinyPivotRefactorUpdates) return Next::kRefactor;
    // A pivot row that the column transform does not confirm is numerical
    // trouble, never a proof that the row has no candidate.
    if (update_count == 0) return fall_back("pivot too small on a fresh factor");
  }
  return reject_row();
}

Next DualLoop::reject_row() {
  ++dual_loop_stats.rejected_rows;
  clear_work_vector();
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  reject_leaving_row();
  stop_ = check_stop_request();
  return Next::kIterate;
}

Next DualLoop::pivot() {
  const int32_t q = entering_column;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double ztcost = dcv(dc::ZTCOST);
  const double zteta = dcv(dc::ZTETA);
  if ((static_cast<uint32_t>(status[q]) & PS_DUAL_MARK) == 0) {
    const double dq = fresh_reduced_cost_ * sense_factor;
    if (-kEnteringShiftBand * ztcost < dq && dq < 0.0) {
      double shift = dq < -ztcost ? -dq : -dq + (dq + ztcost) * kEnteringShiftMargin;
      if (std::fabs(shift) < zteta) shift = 0.0;
      if (shift != 0.0) {
        const double change = shift * sense_factor;
        OneBased<double> cost = real_array(ARR_WORKING_COSTS);
        if (entering_sign == 1)
          cost[q] -= change;
        else
          cost[q] += change;
        ++shift_count;
        entering_objective_rate = fresh_reduced_cost_ + change;
        if (std::fabs(entering_objective_rate) < zteta) entering_objective_rate = 0.0;
      }
    }
  }
  OneBased<double> w = work_vector();
  const double ar = w[leaving_row];
  const int32_t p = leaving_variable;
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  if (leaving_direction == kLeaveAtLower) {
    dual_step = -(sense_factor * entering_objective_rate) / ar;
    d[p] = dual_step;
  } else {
    dual_step = sense_factor * entering_objective_rate / ar;
    d[p] = -dual_step;
  }
  // The product-form eta is the transformed column itself, which the update
  // below consumes; it is stored unnegated, as B^-1 a_q.
  if (icv(ic::IFFTUP) == 0 && store_pivot_eta(entering_sign == 1 ? -1.0 : 1.0) != 0) {
    undo_flips();
    return factor_trouble(UPDATE_ETA_FILE_FULL);
  }
  update_after_dual_pivot();
  ++steps_in_pass;
  if (icv(ic::IFFTUP) != 0) {
    const int32_t result = update_factor();
    if (result != UPDATE_DONE) return factor_trouble(result);
  }
  reset_leaving_flags();
  ++dual_loop_stats.iterations;
  const int32_t stop = iteration_log(0);
  if (stop != 0) return stopped(stop);
  stop_ = check_stop_request();
  return Next::kIterate;
}

// A factor update that did not go through: the basis change is taken back
// (the leaving variable keeps its place in the header) and the factor is
// rebuilt, with a stricter pivot threshold when the update was unstable
// right after an invert.
Next DualLoop::factor_trouble(int32_t code) {
  ++dual_loop_stats.factor_troubles;
  trouble_ = 1;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  problem_flags &= ~PF_FACTOR_VALID;
  if (leaving_row > 0 && leaving_variable > 0) header[leaving_row] = leaving_variable;
  clear_work_vector();
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  if (code == UPDATE_REFACTOR || code == UPDATE_SINGULAR) {
    if (update_count >= icv(ic::INVMIN)) return Next::kRefactor;
    double& threshold = dcv(dslot::kInvertPivotThreshold);
    if (threshold > kThresholdFallBack) return fall_back("unstable factor updates");
    threshold = std::min(threshold * kThresholdGrowth, kThresholdCeiling);
    return Next::kRefactor;
  }
  // A fresh factor makes room, and takes away update etas of the other form
  // that a change of IFFTUP left behind (update_count may be 0 then).
  if (update_count != 0 || eta_file.row_eta_count != 0) return Next::kRefactor;
  return Next::kFactorFailure;
}

Next DualLoop::refactor() {
  ++dual_loop_stats.refactor_requests;
  if (itcnt >= icv(ic::ITCH) && (objective_at_entry_ - objval) * sense_factor > -dcv(dc::ZTOLZE))
    return fall_back("no progress");
  problem_state = 3;
  dual_loop_stats.last_end = DUAL_END_REFACTOR;
  return Next::kReturn;
}

Next DualLoop::finish() {
  if (nnegdj > 0)
    status_letter = kLetterUnbounded;
  else if (ninf > 0)
    status_letter = kLetterInfeasible;
  else
    status_letter = kLetterOptimal;
  problem_state = 4;
  dual_loop_stats.last_end = DUAL_END_FINISHED;
  return Next::kReturn;
}

Next DualLoop::fall_back(const char* reason) {
  ++dual_loop_stats.fall_backs;
  trouble_ = 1;
  *dual_result_ = DUAL_FALL_BACK;
  problem_state = 4;
  dual_loop_stats.last_end = DUAL_END_FALL_BACK;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_DUAL_FALL_BACK);
    insert_message_int(itcnt);
    insert_message_string(reason);
    emit_message();
  }
  return Next::kReturn;
}

Next DualLoop::stopped(int32_t code) {
  trouble_ = 1;
  *dual_result_ = code;
  status_letter = kLetterStopped;
  problem_state = 4;
  dual_loop_stats.last_end = DUAL_END_STOPPED;
  return Next::kReturn;
}

}  // namespace

void dual_simplex_iterate(int32_t* optimise_mode, int32_t* dual_result) {
  DualLoop loop(*optimise_mode, dual_result);
  loop.run();
}

void choose_leaving_row() {
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES);
  const double tolerance = dcv(dc::ZTOLPV);
  leaving_row = 0;
  leaving_variable = 0;
  double best = 0.0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((marks[i] & RF_FREE_BASIC) != 0) continue;
    const int32_t j = header[i];
    const int32_t s = status[j];
    if ((s & PS_MARK) != 0) continue;
    const double v = phase1[i];
    double violation = 0.0;
    int32_t direction = kLeaveAtLower;
    if (v < -tolerance && (s & PS_FINITE_UPPER) != 0) {
      violation = -v;
      direction = kLeaveAtUpper;
    } else if (v > tolerance && (s & PS_FINITE_LOWER) != 0) {
      violation = v;
    } else {
      continue;
    }
    if (violation > best) {
      best = violation;
      leaving_row = i;
      leaving_variable = j;
      leaving_direction = direction;
    }
  }
}

void pop_leaving_row() {
  leaving_row = heap_top();
  leaving_variable = 0;
  if (leaving_row == 0) return;
  const int32_t r = leaving_row;
  leaving_variable = int_array(ARR_BASIS_HEADER)[r];
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  const bool above = real_array(ARR_BASIC_VALUES)[r] > real_array(ARR_BASIC_UPPER)[r];
  leaving_direction = above ? kLeaveAtUpper : kLeaveAtLower;
  marks[r] = (marks[r] & ~(RF_INFEAS_ABOVE | RF_INFEAS_BELOW)) | (above ? RF_INFEAS_ABOVE : RF_INFEAS_BELOW);
}

void skip_leaving_row() {
  ++dual_loop_stats.skipped_rows;
  primal_end_flags |= PEF_DUAL_SKIPPED_ROW;
  int_array(ARR_POS_STATUS)[leaving_variable] |= PS_MARK;
  marks_exist = 1;
  remove_heap_entry(leaving_row);
}

void reset_leaving_flags() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t q = entering_column;
  const int32_t p = leaving_variable;
  status[q] = (status[q] & ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN)) | PS_BASIC;
  status[p] &= ~PS_BASIC;
  if (leaving_direction == kLeaveAtUpper) status[p] |= PS_AT_UPPER;
  pivot_row_cell(p) = 0.0;
  ++itcnt;
  ++update_count;
}

void perturb_costs() {
  ++dual_loop_stats.perturbations;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_PERTURBATION_APPLIED);
    set_message_zero_tolerance(0.0);
    insert_message_real(perturbation_size);
    set_message_zero_tolerance(dcv(dc::ZTOLPZ));
    emit_message();
  }
  shift_active = 1;
  perturbation_phase = 1;
  shift_count = 1;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & (PS_FREE | PS_BASIC | PS_FIXED)) != 0) continue;
    double r = random_unit() * perturbation_size * sense_factor;
    if ((s & PS_AT_UPPER) != 0) r = -r;
    cost[j] += r;
    d[j] += r;
  }
}

void remove_cost_perturbation() {
  ++dual_loop_stats.perturbation_removals;
  report_shift_removal();
  perturbation_phase = std::min(perturbation_phase, 2);
  shift_count = 0;
  shift_active = 0;
  // The run prices with the scaled objective; the slack shifts go as well,
  // so no shift of any kind survives a zero shift count.
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  const double scale = dcv(kObjectiveScaleSlot) != 0.0 ? dcv(kObjectiveScaleSlot) : 1.0;
  for (int32_t i = 1; i <= nrow; ++i) cost[i] = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) cost[j] = scale * objective[j];
}

void clear_small_dual_infeasibilities(int32_t* count) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const double tolerance = dcv(dc::ZTOLDJ);
  int32_t cleared = 0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & (PS_FIXED | PS_BASIC)) != 0) continue;
    const double dj = d[j];
    const bool at_upper = (s & PS_AT_UPPER) != 0;
    const bool wrong = at_upper ? (tolerance < dj && dj < kSmallDualBand * tolerance)
                                : (-kSmallDualBand * tolerance < dj && dj < -tolerance);
    if (!wrong) continue;
    cost[j] -= sense_factor * dj;
    d[j] = 0.0;
    ++cleared;
  }
  if (cleared > 0) shift_count = std::max(shift_count, 1);
  shift_active = 2;
  perturbation_phase = 3;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_INFEASIBILITY_ABSORBED);
    emit_message();
  }
  if (count != nullptr) *count = cleared;
}

}  // namespace kl
