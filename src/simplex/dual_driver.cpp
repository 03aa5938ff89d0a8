#include "simplex/dual_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "factor/basis.h"
#include "problem/factor_arrays.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/basic_values.h"
#include "simplex/dual_loop.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "factor/simplex_state.h"

namespace kl {

DualDriverStats dual_driver_stats;
double cost_magnitude = 1.0;

const char* dual_result_text(int32_t result) {
  switch (result) {
    case DUAL_FINISHED: return "finished";
    case DUAL_STOPPED: return "stopped";
    case DUAL_FALL_BACK: return "fall back to the primal";
    default: return result > 0 ? "stopped" : "unknown";
  }
}

namespace {

// A working bound at or beyond this magnitude counts as infinite.
constexpr double kWorkingBoundLimit = 1e8;
// Box margin in ZTOLZE, and the width in margins a box needs to be widened.
constexpr double kBoxMarginFactor = 10.0;
constexpr double kBoxWideningRoom = 5.0;
// Objective scaling: costs above kLargeCost with none below kSmallCost are
// brought down by a power of two.
constexpr double kLargeCost = 1e6;
constexpr double kSmallCost = 0.001;
constexpr double kNoSmallestCost = 1e20;
constexpr int32_t kLowestObjectiveExponent = -63;
constexpr double kCostMagnitudeStep = 10.0;
// Pricing-mode choice.
constexpr int32_t kSteepestEdgeColumnFactor = 3;
constexpr float kSquareShapeFactor = 1.5f;
constexpr int32_t kShortRowFactor = 4;
constexpr int32_t kLongRowFactor = 50;
constexpr double kThresholdAfterStart = 5.0;
// IFPRES value that keeps no box on the upper side.
constexpr int32_t kPresolveNoUpperBoxes = 3;

int32_t row_length(int32_t i) {
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  return start[i + 1] - start[i];
}

// Step 1: dual steepest edge when the columns are long enough to pay for
// it and the rows differ in length, devex-like weights otherwise.
void choose_pricing_mode(int32_t mode) {
  dual_pricing_mode = kDualPricingDevex;
  if (mode > OPT_MINIMISE || icv(ic::IFNBAS) == 0) return;
  const int32_t ifdse = icv(ic::IFDSE);
  if (ifdse != -1) {
    dual_pricing_mode = ifdse == kDualPricingSteepestEdge ? kDualPricingSteepestEdge : kDualPricingDevex;
    return;
  }
  const int32_t columns = ncols();
  dual_pricing_mode = kSteepestEdgeColumnFactor * columns <= nelem ? kDualPricingSteepestEdge : kDualPricingDevex;
  if (nrow <= 0 || !int_array(ARR_ROW_COPY_START)) return;
  const int32_t average = nelem / nrow;
  if (static_cast<float>(columns) < kSquareShapeFactor * static_cast<float>(nrow) &&
      nelem < kShortRowFactor * nrow) {
    // The long-row threshold is set from the average row length before use.
    const int64_t threshold = static_cast<int64_t>(kLongRowFactor) * std::max(average, 1);
    bool long_row = false;
    for (int32_t i = 1; i <= nrow && !long_row; ++i) long_row = row_length(i) > threshold;
    if (!long_row) dual_pricing_mode = kDualPricingDevex;
    return;
  }
  if (dual_pricing_mode != kDualPricingSteepestEdge) return;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t length = row_length(i);
    if (length < average - 1 || length > average + 1) return;
  }
  dual_pricing_mode = kDualPricingDevex;
}

void set_bits(OneBased<int32_t> status, int32_t k, uint32_t clear, uint32_t set) {
  status[k] = static_cast<int32_t>((static_cast<uint32_t>(status[k]) & ~clear) | set);
}

// Steps 2 and 3: the rows' working bounds are their own; a column keeps a
// box where its working bound is tighter than its own bound by more than
// the margin.
void set_working_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> x = real_array(ARR_X);
  for (int32_t i = 1; i <= nrow; ++i) {
    work_upper[i] = upper[i];
    work_lower[i] = lower[i];
    d[i] = 0.0;
  }
  const double delta = kBoxMarginFactor * dcv(dc::ZTOLZE);
  const bool upper_boxes = icv(ic::IFPRES) != kPresolveNoUpperBoxes;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    // Implied bounds that cross each other or the column's own range prove
    // the problem infeasible, but a box built on them would hold the column
    // outside its own range, and the release would leave it there, where
    // no later primal run counts it as infeasible. Such a column gets no
    // box; the simplex proves the infeasibility itself.
    if (work_lower[j] > work_upper[j] || work_lower[j] > upper[j] || work_upper[j] < lower[j]) {
      work_lower[j] = lower[j];
      work_upper[j] = upper[j];
      ++dual_driver_stats.crossed_boxes_dropped;
    }
    if (!upper_boxes || work_upper[j] >= kWorkingBoundLimit || upper[j] - delta <= work_upper[j]) {
      work_upper[j] = upper[j];
    } else {
      set_bits(status, j, 0, PS_FINITE_UPPER);
      if ((status[j] & PS_NONBASIC_BETWEEN) != 0) set_bits(status, j, PS_NONBASIC_BETWEEN | PS_AT_UPPER, PS_AT_UPPER);
      if (work_lower[j] + kBoxWideningRoom * delta < work_upper[j]) work_upper[j] += delta;
    }
    if (work_lower[j] > -kWorkingBoundLimit) {
      set_bits(status, j, 0, PS_FINITE_LOWER);
      if (lower[j] + delta >= work_lower[j])
        work_lower[j] = lower[j];
      else if (work_lower[j] + kBoxWideningRoom * delta < work_upper[j])
        work_lower[j] -= delta;
    } else {
      work_lower[j] = lower[j];
      if ((status[j] & (PS_BASIC | PS_AT_UPPER)) == 0) {
        if ((status[j] & PS_FINITE_UPPER) != 0) {
          set_bits(status, j, PS_NONBASIC_BETWEEN, PS_AT_UPPER);
        } else {
          set_bits(status, j, 0, PS_NONBASIC_BETWEEN);
          if (x) x[j] = 0.0;
        }
      }
    }
  }
}

// Step 9: costs far above 1 with none tiny are brought down by a power of
// two, so that the tolerances of the dual mean the same on every problem.
void scale_objective(int32_t mode) {
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  double& scale = dcv(kObjectiveScaleSlot);
  if (mode > OPT_MINIMISE) {
    if (scale == 0.0) scale = 1.0;
    for (int32_t j = store.first_col; j <= nseq; ++j) cost[j] = objective[j];
    return;
  }
  double smallest = kNoSmallestCost;
  double largest = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double c = std::fabs(objective[j]);
    if (c == 0.0) continue;
    smallest = std::min(smallest, c);
    largest = std::max(largest, c);
  }
  if (largest == 0.0) smallest = 1.0;
  scale = 1.0;
  objective_scale_exponent = kNeutralScaleExponent;
  if (largest > kLargeCost && smallest > kSmallCost) {
    const int32_t r = static_cast<int32_t>(std::trunc(std::log2(kSmallCost / smallest)));
    const int32_t exponent = std::max(r + 1, kLowestObjectiveExponent);
    objective_scale_exponent = kNeutralScaleExponent + exponent;
    scale = scale_powers[objective_scale_exponent];
    dcv(kObjectiveConstantSlot) *= scale;
    dcv(kSecondObjectiveConstantSlot) *= scale;
    cost_magnitude = 1.0;
    ++dual_driver_stats.objective_scalings;
  } else {
    cost_magnitude = smallest;
  }
  dual_driver_stats.last_objective_exponent = objective_scale_exponent - kNeutralScaleExponent;
  if (largest < cost_magnitude + dcv(dc::ZTCOST)) cost_magnitude *= kCostMagnitudeStep;
  if (cost_magnitude < 1.0) cost_magnitude = 1.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) cost[j] = scale * objective[j];
}

void fill_basic_upper() {
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t v = header[i];
    basic_upper[i] = (status[v] & PS_FINITE_UPPER) != 0 ? upper[v] : kInfinity;
  }
}

// The weights of the dual pricing start at 1 over all positions, those
// beyond the reduced factor included (they may join it later).
void reset_row_weights_full() {
  weight_check_count = 0;
  const int32_t dimension = factor.factor_dimension;
  factor.factor_dimension = nrow;
  reset_pricing_weights_alt();
  factor.factor_dimension = dimension;
}

bool forced_log_wanted() {
  const int32_t itrlog = icv(ic::ITRLOG);
  return itrlog != 0 && std::abs(itrlog) != kQuietIterationLog && itcnt == 0;
}

// The row duals for the true costs (after a run on scaled or shifted costs):
// y' = -sense c_B' B^-1, by factor position, into reduced_costs[1..nrow].
void recompute_row_duals() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const int32_t permuted = factor.factor_permuted;
  factor.factor_permuted = 0;
  // Positions beyond the reduced factor are basic slacks with dual 0; the
  // vector may hold older values there, so it starts clear throughout.
  for (int32_t k = 1; k <= nrow; ++k) w[k] = 0.0;
  for (int32_t k = 1; k <= factor.factor_dimension; ++k) w[k] = -sense_factor * objective[header[k]];
  factor.work_vector_state = WV_CLEAR_ALL;
  basis_btran_work_vector();
  factor.factor_permuted = permuted;
  // The solve leaves the duals by factor position; the rows take them
  // through factor_rows (positions beyond the reduced factor hold 0).
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  const bool renumbered = permuted != 0 && static_cast<bool>(rows);
  for (int32_t k = 1; k <= nrow; ++k) {
    d[renumbered ? rows[k] : k] = w[k];
    w[k] = 0.0;
  }
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
}

// What a run saves and gives back on every exit.
struct SavedRunState {
  int32_t itch = 0;
  double constants[2] = {0.0, 0.0};
  int32_t perturbation_phase = 0;

  void take() {
    itch = icv(ic::ITCH);
    constants[0] = dcv(kObjectiveConstantSlot);
    constants[1] = dcv(kSecondObjectiveConstantSlot);
    perturbation_phase = kl::perturbation_phase;
  }
  void restore_constants() const {
    dcv(kObjectiveConstantSlot) = constants[0];
    dcv(kSecondObjectiveConstantSlot) = constants[1];
  }
  void restore() const {
    dcv(kObjectiveScaleSlot) = 1.0;
    objective_scale_exponent = kNeutralScaleExponent;
    kl::perturbation_phase = perturbation_phase;
    icv(ic::ITCH) = itch;
    restore_constants();
  }
};

// Starts the run's factor and point. False when the run ends here (invert
// failure or a stop request from the first log line).
bool start_factor_and_point(int32_t mode, int32_t* dual_result, bool& invert_first) {
  invert_first = false;
  const bool factor_valid = (problem_flags & PF_FACTOR_VALID) != 0;
  if (mode <= OPT_MINIMISE) {
    if (!factor_valid || icv(ic::INOINV) <= 0) {
      factor.factor_permuted = 1;
      factor.factor_dimension = 0;
      set_basis_header();
      invert_basis(InvertReason::kFactorInvalid);
      if (status_code != STATUS_OK) {
        if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
        return false;
      }
    }
    if (forced_log_wanted()) {
      const int32_t stop = iteration_log(1);
      if (stop != 0) {
        *dual_result = stop;
        status_letter = kLetterStopped;
        return false;
      }
    }
    reset_row_weights_full();
    fill_basic_upper();
    compute_basic_values();
    check_basic_feasibility();
    dcv(dslot::kInvertPivotThreshold) *= kThresholdAfterStart;
    icv(ic::ITCH) = iteration_sum(icv(ic::ITRLIM), 1);
    return true;
  }
  if (factor_valid && icv(ic::INOINV) >= 1) {
    fill_basic_upper();
    compute_basic_values();
    check_basic_feasibility();
    return true;
  }
  reset_row_weights_full();
  set_basis_header();
  invert_first = true;
  return true;
}

// The refactor step: a fresh (renumbered) factor. False when the run ends.
bool refactorise(int32_t* dual_result) {
  ++dual_driver_stats.refactorisations;
  factor.factor_permuted = 1;
  invert_basis(InvertReason::kUpdateLimit);
  if (status_code != STATUS_OK) return false;
  if (forced_log_wanted()) {
    const int32_t stop = iteration_log(1);
    if (stop != 0) {
      *dual_result = stop;
      status_letter = kLetterStopped;
      return false;
    }
  }
  return true;
}

// The primal finishes a run that ended on shifted or perturbed costs, or
// released boxes, pricing with the true costs from the dual's basis.
void primal_cleanup(int32_t mode, const SavedRunState& saved) {
  ++dual_driver_stats.primal_cleanups;
  remove_artificial_bounds();
  const double scale = dcv(kObjectiveScaleSlot);
  if (scale != 0.0) objval /= scale;
  const int32_t ipetrb = icv(ic::IPETRB);
  icv(ic::IPETRB) = 0;
  const bool was_shifted = shift_active != 0;
  shift_active = 0;
  shift_count = 0;
  dcv(kObjectiveScaleSlot) = 1.0;
  objective_scale_exponent = kNeutralScaleExponent;
  saved.restore_constants();
  primal_simplex(-mode);
  icv(ic::IPETRB) = ipetrb;
  // An unbounded verdict of the clean-up is the primal's own, and its
  // column is what KLGETUNB reports.
  if (status_letter != kLetterUnbounded) lp_algorithm = kAlgorithmDual;
  const int32_t itrlog = icv(ic::ITRLOG);
  if (itrlog != 0 && was_shifted && itcnt % itrlog == 0) iteration_log(1);
}

// A verdict reached with updates pending is confirmed on a fresh factor.
// On a degenerate problem the confirming run can pivot away from the basis
// of the verdict and back to it, reaching the same verdict with updates
// pending again, for ever. The basis (as a set) and the letter of the last
// unconfirmed verdict tell such a repeat.
class VerdictConfirmation {
 public:
  // True when the verdict now reached is the last one again.
  bool repeats_last_verdict() {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    std::vector<int32_t> basis(static_cast<size_t>(nrow));
    for (int32_t i = 1; i <= nrow; ++i) basis[static_cast<size_t>(i - 1)] = header[i];
    std::sort(basis.begin(), basis.end());
    const bool repeated = status_letter == letter_ && basis == basis_;
    letter_ = status_letter;
    basis_ = std::move(basis);
    return repeated;
  }

 private:
  char letter_ = 0;
  std::vector<int32_t> basis_;
};

// The run gives up for the primal, which decides from the current basis.
void hand_over_to_primal(int32_t* dual_result, const char* reason) {
  ++dual_driver_stats.unconfirmed_verdicts;
  *dual_result = DUAL_FALL_BACK;
  problem_state = 4;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_DUAL_FALL_BACK);
    insert_message_int(itcnt);
    insert_message_string(reason);
    emit_message();
  }
}

}  // namespace

void dual_simplex(int32_t* optimise_mode_argument, int32_t* dual_result) {
  const int32_t signed_mode = *optimise_mode_argument;
  const int32_t mode = std::abs(signed_mode);
  const bool from_driver = signed_mode > 0;
  *dual_result = DUAL_FINISHED;

  choose_pricing_mode(mode);
  set_working_bounds();
  dcv(dslot::kInvertPivotThreshold) = dcv(dc::ZTOLRI);
  cost_magnitude = 1.0;
  SavedRunState saved;
  saved.take();
  icv(ic::ITCH) = iteration_sum(itcnt, static_cast<int64_t>(saved.itch) + 1);

  if (problem_state < 1) {
    report_plain_error(MSG_NO_PROBLEM);
    saved.restore();
    return;
  }
  lp_algorithm = kAlgorithmDual;
  candidate_mode = 0;
  next_section = 1;
  prepare_simplex_tolerances(signed_mode);

  if ((problem_flags & PF_ROW_LISTS) == 0) {
    free_factor_arrays();
    if (alloc_row_lists() != 0) {
      begin_message(MSG_ROW_LISTS_NO_MEMORY);
      emit_message();
      saved.restore();
      return;
    }
    build_row_lists();
  }
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  for (int32_t i = 1; i <= nrow; ++i) cost[i] = 0.0;
  reset_breakpoint_pool();
  scale_objective(mode);
  // The cutoff in the units of the run's objective.
  dual_cutoff = dcv(dc::CUTOFF) * dcv(kObjectiveScaleSlot);
  const bool perturbed = std::fabs(perturbation_size) > dcv(dc::ZTETA) && from_driver;
  if (perturbed) {
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (int32_t j = store.first_col; j <= nseq; ++j) d[j] = 0.0;
    perturb_costs();
  }
  perturbation_phase = 3;
  // A starting perturbation keeps its shift count: the run must take it off
  // (or the primal clean-up price without it) before its answer stands.
  if (!perturbed) shift_count = 0;
  ++dual_driver_stats.runs;

  VerdictConfirmation confirmation;
  bool invert_first = false;
  if (!start_factor_and_point(mode, dual_result, invert_first)) {
    saved.restore();
    return;
  }
  for (;;) {
    if (invert_first && !refactorise(dual_result)) {
      saved.restore();
      return;
    }
    invert_first = true;
    int32_t loop_mode = signed_mode;
    dual_simplex_iterate(&loop_mode, dual_result);
    if (*dual_result != DUAL_FINISHED) {
      remove_artificial_bounds();
      break;
    }
    if (mode == OPT_REOPTIMISE && status_letter == kLetterUnbounded) {
      // Dual infeasibility left over is no proof of anything: the primal
      // decides from here.
      *dual_result = DUAL_FALL_BACK;
      remove_artificial_bounds();
      break;
    }
    if (problem_state <= 3) continue;
    if (icv(ic::INOINV) <= 0 && update_count != 0) {
      if (!confirmation.repeats_last_verdict()) continue;
      hand_over_to_primal(dual_result, "the verdict returns to its basis on every fresh factor");
      remove_artificial_bounds();
      break;
    }

    if (status_letter == kLetterUnbounded) {
      // Dual infeasibilities remain: unbounded or infeasible, which only
      // the primal can tell apart.
      *dual_result = DUAL_FALL_BACK;
      remove_artificial_bounds();
      break;
    }
    if (mode <= OPT_MINIMISE) remove_artificial_bounds();
    if (status_letter == kLetterOptimal && shift_count != 0 && from_driver) {
      primal_cleanup(mode, saved);
    } else if (factor.factor_permuted != 0) {
      recompute_row_duals();
    }
    recompute_objective(mode);
    shift_active = 0;
    if (status_letter == kLetterCutOff) {
      const double scale = dcv(kObjectiveScaleSlot);
      objval = dual_bound_estimate / (scale != 0.0 ? scale : 1.0);
    }
    break;
  }
  saved.restore();
}

void remove_artificial_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> x = real_array(ARR_X);
  perturbation_phase = 1;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (upper[j] >= kInfinity) set_bits(status, j, PS_FINITE_UPPER, 0);
    if (lower[j] <= -kInfinity) set_bits(status, j, PS_FINITE_LOWER, 0);
    const int32_t s = status[j];
    if ((s & PS_NONBASIC_BETWEEN) != 0 || (s & PS_BASIC) != 0) continue;
    double value = 0.0;
    if ((s & PS_AT_UPPER) != 0 && work_upper[j] < upper[j]) {
      value = work_upper[j];
    } else if ((s & PS_AT_UPPER) == 0 && lower[j] < work_lower[j]) {
      value = work_lower[j];
    } else {
      continue;
    }
    // The column stays where the box held it; the primal clean-up that a
    // non-zero shift count asks for moves it on if that is better.
    ++dual_driver_stats.boxes_released;
    shift_count = std::max(shift_count, 1);
    if (x) x[j] = value;
    set_bits(status, j, PS_NONBASIC_BETWEEN | PS_AT_UPPER, PS_NONBASIC_BETWEEN);
  }
}

}  // namespace kl
