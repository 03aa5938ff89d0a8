#include "simplex/primal_engines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/pivot_updates.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_pricing.h"
#include "simplex/primal_ratio_test.h"
#include "simplex/qp_subspace_step.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t candidate_mode = 1;
int32_t phase1_marker = 0;
int32_t saved_leaving_row = 0;
int64_t itcnt_at_removal = 0;
int32_t shifts_at_removal = 0;
int32_t free_columns_boxed = 0;
PrimalEngineStats primal_engine_stats;

namespace {

// Updates since the invert beyond which a difficulty returns for a
// refactorisation instead of rejecting the column.
constexpr int32_t kManyUpdates = 75;
// The candidate-list engine tunes its pricing every this many updates.
constexpr int32_t kTuneInterval = 128;
// Phase-1 absorption: R x perturbation_size against suminf, R = nrow, or
// 10 nrow for the reference-weight engine.
constexpr int32_t kWeightedAbsorbFactor = 10;
// Choice of the incremental price update by the nonzeros k of the dual
// change: rows when 20 k < nrow + 200 and the touched rows are short,
// the row copy when 20 k < 9 nrow, else the columns.
constexpr int32_t kDensityFactor = 20;
constexpr int32_t kSparseRowSlack = 200;
constexpr int32_t kRowCopyRows = 9;
constexpr int64_t kShortRowsLimit = 1000;
constexpr int64_t kShortRowsShare = 10;
// Stall perturbation: the weighted engines perturb only while
// 7 x ZPETRB > perturbation_size.
constexpr double kStallPerturbationCap = 7.0;
// Running average of the entering column's nonzeros: weight of the newest.
constexpr double kCountAverageKeep = 0.99;
constexpr double kCountAverageNew = 0.01;
constexpr double kSectionsDecay = 0.99;
// Full Newton steps over the held variables in a row before the single
// moves take over: one step is exact up to rounding, a second refines it.
constexpr int32_t kNewtonRefinements = 3;
// Loop-head passes without an iteration before the engine asks for a fresh
// factor: 2 per position plus a margin.
constexpr int32_t kIdleRoundFactor = 2;
constexpr int32_t kIdleRoundSlack = 100;
// Residual infeasibility (sum, scaled) that repeated perturbation removal
// may leave without progress; below it the run is near feasible.
constexpr double kResidualSumLimit = 0.001;

enum class EngineKind { kCandidateList, kReferenceWeight, kQuadratic };

// Where the iteration goes next.
enum class Step {
  kTop,
  kLoop,
  kLoadColumn,
  kAttractive,
  kRatio,
  kUnbounded,
  kPivot,
  kRecord,
  kDualUpdate,
  kEndOfPricing,
  kReject,
  kNextCandidate,
  kRefactor,
  kExit,
  kDone,
};

// Set when a singular update marked the entering column: the mark must be
// cleared again by the end-of-pricing tests after the refactorisation.
bool singular_mark_pending = false;
// Set when remove_rhs_shift refused to accept a residual infeasibility that
// the caller's tolerance does not cover.
bool residual_refused = false;

// Scratch for the curvature of the quadratic engine.
std::vector<double> edge_values;
std::vector<int32_t> edge_positions;

class PrimalEngine {
 public:
  PrimalEngine(EngineKind kind, int32_t& fatal) : kind_(kind), fatal_(fatal) {}
  void run();

 private:
  bool candidate() const { return kind_ == EngineKind::kCandidateList; }
  bool weighted() const { return kind_ != EngineKind::kCandidateList; }
  bool quadratic() const { return kind_ == EngineKind::kQuadratic; }

  void enter();
  void complete_pending_pivot();
  Step top();
  Step loop();
  Step load_column();
  Step attractive();
  Step ratio();
  Step unbounded();
  Step pivot();
  Step record();
  Step dual_update();
  Step price_update();
  Step end_of_pricing();
  Step reject();
  Step next_candidate();
  Step handle_code(int32_t code);
  Step refactor();
  Step finish(char letter);
  Step stop_run(char letter);

  bool refactor_due() const;
  double curvature();
  void move_duals_to_reduced_costs();
  void bring_factor_current();
  void mark_entering_rejected();
  Step subspace_step();

  EngineKind kind_;
  int32_t& fatal_;
  int32_t pivots_since_top_ = 0;
  int32_t ninf_at_iteration_ = 0;
  double suminf_at_iteration_ = 0.0;
  double curvature_ = 0.0;
  bool refactor_due_ = false;
  // The basis has changed without the factor following (a due refactor).
  bool factor_stale_ = false;
  // The last pricing priced every position from fresh duals.
  bool fresh_pricing_ = false;
  // A verdict was put off once for a fresh pricing since the last pivot.
  bool verdict_retried_ = false;
  // Passes through the loop head since itcnt last moved.
  int32_t idle_rounds_ = 0;
  int32_t itcnt_seen_ = -1;
  // Full Newton steps since the last ordinary iteration.
  int32_t newton_steps_ = 0;
};

int32_t solve_mode() { return icv(ic::IFFTUP); }

void PrimalEngine::run() {
  enter();
  Step step = Step::kTop;
  while (step != Step::kDone) {
    switch (step) {
      case Step::kTop: step = top(); break;
      case Step::kLoop: step = loop(); break;
      case Step::kLoadColumn: step = load_column(); break;
      case Step::kAttractive: step = attractive(); break;
      case Step::kRatio: step = ratio(); break;
      case Step::kUnbounded: step = unbounded(); break;
      case Step::kPivot: step = pivot(); break;
      case Step::kRecord: step = record(); break;
      case Step::kDualUpdate: step = dual_update(); break;
      case Step::kEndOfPricing: step = end_of_pricing(); break;
      case Step::kReject: step = reject(); break;
      case Step::kNextCandidate: step = next_candidate(); break;
      case Step::kRefactor: step = refactor(); break;
      case Step::kExit: step = stop_run(status_letter); break;
      case Step::kDone: break;
    }
  }
}

void PrimalEngine::enter() {
  dcv(dslot::kSuminfAtStart) = suminf;
  u_active_entries = eta_file.invert_part_size + eta_file.u_file_end;
  row_eta_entries = 0;
  clear_infeasibility_changes();
  fatal_ = 0;
  leaving_row = saved_leaving_row;
  factor.work_vector_state = WV_CLEAR_ALL;
  if (singular_mark_pending) {
    singular_mark_pending = false;
    marks_exist = 1;
  }
  if (quadratic()) {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> values = real_array(ARR_BASIC_VALUES);
    OneBased<double> x = real_array(ARR_X);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    for (int32_t i = 1; i <= nrow; ++i) x[header[i]] = values[i];
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      const int32_t s = status[j];
      if ((s & PS_BASIC) != 0 || (s & PS_NONBASIC_BETWEEN) != 0) continue;
      x[j] = (s & PS_AT_UPPER) != 0 ? upper[j] : lower[j];
    }
    compute_objective_value();
  }
  if (weighted()) complete_pending_pivot();
}

// The reference weights of the pivot made just before the last return:
// its dual change on the new factor.
void PrimalEngine::complete_pending_pivot() {
  if (entering_column == 0 || leaving_row <= 0) return;
  build_dual_update_rhs();
  basis_btran_work_vector();
  update_reference_weights();
  // The solves fill the vector beyond the list of the right-hand side.
  factor.work_vector_state = WV_CLEAR_ALL;
  clear_work_vector();
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
}

void PrimalEngine::move_duals_to_reduced_costs() {
  OneBased<double> w = work_vector();
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && rows;
  const int32_t dimension = factor.factor_dimension > 0 ? factor.factor_dimension : nrow;
  if (permuted)
    for (int32_t i = 1; i <= nrow; ++i) d[i] = 0.0;
  for (int32_t k = 1; k <= dimension; ++k) {
    d[permuted ? rows[k] : k] = w[k];
    w[k] = 0.0;
  }
  for (int32_t k = dimension + 1; k <= nrow; ++k) w[k] = 0.0;
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
}

Step PrimalEngine::top() {
  set_basic_costs();
  basis_btran_work_vector();
  if (candidate()) {
    move_duals_to_reduced_costs();
    entering_reduced_cost = 0.0;
    price_partial_list();
    price_refill_list();
    ++primal_engine_stats.list_refills;
  } else if (quadratic()) {
    price_weighted();
    if (ninf == 0) {
      const Step next = subspace_step();
      if (next != Step::kLoop) return next;
    }
  } else {
    price_all_weighted();
  }
  pivots_since_top_ = 0;
  fresh_pricing_ = true;
  return Step::kLoop;
}

Step PrimalEngine::loop() {
  // Every way round the loop without an iteration rejects a column, raises
  // BIGM or removes a perturbation, so this bound is never met unless
  // priced and recomputed reduced costs keep disagreeing; a fresh factor
  // then settles it.
  if (itcnt != itcnt_seen_) {
    itcnt_seen_ = itcnt;
    idle_rounds_ = 0;
  } else if (++idle_rounds_ > kIdleRoundFactor * nseq + kIdleRoundSlack) {
    idle_rounds_ = 0;
    ++primal_engine_stats.idle_refactors;
    return Step::kRefactor;
  }
  if (check_stop_request() != 0) {
    status_letter = kLetterStopped;
    return Step::kExit;
  }
  if (itcnt >= icv(ic::ITRLIM)) return Step::kExit;
  if (ninf == 0 && phase1_marker != 0) {
    problem_state = 2;
    phase1_marker = 0;
    if (weighted()) reset_pricing_weights();
    return Step::kTop;
  }
  if (ninf != 0 && phase1_marker == 0) {
    if (candidate()) {
      if (nqelem > 0) {
        candidate_mode = 0;
        return Step::kRefactor;
      }
      candidate_mode = 1;
    }
    problem_state = 1;
    phase1_marker = ninf;
  }
  ninf_at_iteration_ = ninf;
  suminf_at_iteration_ = suminf;
  if (entering_column == 0) return Step::kEndOfPricing;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  // A variable that may move both ways enters decreasing when its reduced
  // cost is positive; a free slack is treated alike.
  if ((status[entering_column] & (PS_NONBASIC_BETWEEN | PS_FREE)) != 0 && entering_reduced_cost > 0.0) {
    entering_sign = 1;
    entering_reduced_cost = -entering_reduced_cost;
  }
  const int32_t code = check_reduced_cost_accuracy();
  if (code != 0) return handle_code(code);
  return Step::kLoadColumn;
}

Step PrimalEngine::load_column() {
  unpack_column(entering_column);
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  const double drop = dcv(dc::ZTETA);
  if (solve_mode() == 1) {
    solve_with_factor_forward(w, list, factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
    if (append_eta_column() != 0) {
      ++kernel_stats.eta_file_full;
      return handle_code(1);
    }
    if (entering_sign == 1) negate_work_vector();
    solve_with_factor_backward(w, list, factor.work_vector_count);
  } else {
    // The product-form solve is a dense pass: it keeps no nonzero list.
    eta_backward_pass();
    factor.work_vector_state = WV_CLEAR_ALL;
    sparsify_work_vector(drop);
    if (entering_sign == 1) negate_work_vector();
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);

  if (quadratic() && ninf == 0) {
    entering_objective_rate = entering_reduced_cost;
    return Step::kAttractive;
  }
  int32_t result = 0;
  check_entering_infeasibility(result);
  if (result == 1) return Step::kTop;
  if (result != 0) return handle_code(result);
  return Step::kAttractive;
}

Step PrimalEngine::attractive() {
  if (entering_reduced_cost <= -dcv(dc::ZTCOST)) return Step::kRatio;
  if (candidate()) {
    if (pivots_since_top_ == 0) {
      candidate_mode = 0;
      return Step::kRefactor;
    }
    return Step::kTop;
  }
  if (update_count >= kManyUpdates) return Step::kRefactor;
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  d[entering_column] = entering_sign == 1 ? -entering_reduced_cost : entering_reduced_cost;
  price_linked_list();
  fresh_pricing_ = false;
  return Step::kLoop;
}

Step PrimalEngine::ratio() {
  curvature_ = 0.0;
  if (quadratic()) {
    if (ninf == 0) curvature_ = curvature();
    leaving_direction = 1 - entering_sign;
  }
  const int32_t code = ratio_step();
  if (code != 0 && update_count > kManyUpdates) return Step::kRefactor;
  if (kind_ == EngineKind::kReferenceWeight && code == RATIO_SMALL_PIVOT && icv(ic::IFMSG) > 0) {
    begin_message(MSG_SMALL_PIVOT_REJECTED);
    insert_message_int(itcnt);
    insert_message_int(entering_column);
    emit_message();
  }
  if (quadratic() && code == 0 && curvature_ > 0.0) {
    const double magnitude = std::fabs(entering_reduced_cost);
    if (leaving_row == kLeavingNone || magnitude < curvature_ * step_length) {
      step_length = -entering_reduced_cost / curvature_;
      leaving_row = kLeavingBoundFlip;
      leaving_direction = kLeaveInterior;
      leaving_variable = 0;
    }
  }
  column_count_average = kCountAverageKeep * column_count_average +
                         kCountAverageNew * static_cast<double>(std::max(factor.work_vector_count, 0));
  if (code != 0) return handle_code(code);
  return Step::kUnbounded;
}

Step PrimalEngine::unbounded() {
  if (leaving_row != kLeavingNone) return Step::kPivot;
  if (ninf == 0) {
    problem_state = 3;
    remove_rhs_shift();
    if (update_count != 0) return Step::kRefactor;
    return finish(kLetterUnbounded);
  }
  if (bigm_mode == 1) {
    bigm_mode = 0;
    return Step::kRefactor;
  }
  mark_entering_rejected();
  return Step::kNextCandidate;
}

Step PrimalEngine::pivot() {
  if (entering_sign == 1) negate_work_vector();
  if (weighted()) reference_weight();
  if (candidate())
    update_basic_values_primal();
  else if (quadratic())
    update_basic_values_qp(curvature_);
  else
    update_after_pivot();
  if (!quadratic() && suminf - suminf_at_iteration_ > dcv(dc::ZTOLZE)) {
    const bool grew = ninf - ninf_at_iteration_ >= 2 || suminf < 10.0 * dcv(dc::ZTOLZE) ||
                      (infeasibility_changes.count > 2 && ninf > ninf_at_iteration_);
    if (grew) shift_active = 1;
  }
  refactor_due_ = false;
  if (leaving_row == kLeavingBoundFlip) return Step::kRecord;
  refactor_due_ = refactor_due();
  if (refactor_due_) {
    factor_stale_ = true;
    return Step::kRecord;
  }
  const int32_t result = solve_mode() == 1 ? update_factor() : store_pivot_eta();
  if (result == UPDATE_ETA_FILE_FULL) {
    // The spike is in U but the row eta is not: the basis change stands and
    // the factor is rebuilt after it is recorded.
    refactor_due_ = true;
    factor_stale_ = true;
    return Step::kRecord;
  }
  if (result != 0) return handle_code(result);
  return Step::kRecord;
}

// Before a variable at a bound may enter, the objective is minimised over
// the variables already held between their bounds, all together: moving
// them one at a time zig-zags without end where they couple. Each such
// step counts as an iteration.
Step PrimalEngine::subspace_step() {
  if (newton_steps_ >= kNewtonRefinements) return Step::kLoop;
  const SubspaceOutcome outcome = qp_subspace_step();
  if (outcome == SubspaceOutcome::kNone) return Step::kLoop;
  // Rounding can leave a reduced cost above ZTCOST after a full step;
  // repeated steps that do not settle it give way to the single moves.
  if (outcome == SubspaceOutcome::kMinimised && ++newton_steps_ == kNewtonRefinements)
    ++primal_engine_stats.subspace_unsettled;
  ++primal_engine_stats.subspace_steps;
  ++itcnt;
  entering_column = 0;
  leaving_variable = 0;
  leaving_row = 0;
  if (outcome == SubspaceOutcome::kBasisChanged) {
    ++primal_engine_stats.subspace_exchanges;
    ++update_count;
    factor_stale_ = true;
  }
  if (iteration_log(0) != 0 || check_stop_request() != 0) {
    status_letter = kLetterStopped;
    return Step::kExit;
  }
  if (itcnt >= icv(ic::ITRLIM)) return Step::kExit;
  return factor_stale_ ? Step::kRefactor : Step::kTop;
}

bool PrimalEngine::refactor_due() const {
  const int32_t frequency = icv(ic::INVFRQ);
  if (frequency > 0) return update_count + 1 >= frequency;
  return fill_rule_refactor_due(update_count);
}

Step PrimalEngine::record() {
  const int32_t leaving = leaving_row > 0 ? leaving_variable : 0;
  newton_steps_ = 0;
  update_basis_flags();
  fresh_pricing_ = false;
  verdict_retried_ = false;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  // A free column that leaves the basis was never in the row lists.
  if (leaving >= store.first_col && (status[leaving] & PS_FREE) != 0 && (problem_flags & PF_ROW_LISTS) != 0)
    link_leaving_column(leaving);
  if (iteration_log(0) != 0 || check_stop_request() != 0) {
    status_letter = kLetterStopped;
    return Step::kExit;
  }
  if (candidate() && update_count % kTuneInterval == 0) {
    tune_pricing_strategy();
    if (candidate_mode == 0) return Step::kRefactor;
  }
  if (itcnt >= icv(ic::ITRLIM)) return Step::kExit;
  if (refactor_due_) {
    if (candidate() && update_count < kTuneInterval - 1) tune_pricing_strategy();
    return Step::kRefactor;
  }
  return Step::kDualUpdate;
}

Step PrimalEngine::dual_update() {
  if (quadratic()) {
    complete_pending_pivot();
    return Step::kTop;
  }
  if (leaving_row == kLeavingBoundFlip && infeasibility_changes.count == 0) return Step::kNextCandidate;
  if (infeasibility_changes_overflowed()) {
    clear_infeasibility_changes();
    if (weighted()) complete_pending_pivot();
    return Step::kTop;
  }
  const bool changes = infeasibility_changes.count > 0;
  build_dual_update_rhs();
  if (solve_mode() == 1) {
    // After a basis change the leaving row's spike is the last column of U,
    // so U' leaves a unit vector there unchanged.
    if (changes) sparse_solve_heap_ordered();
    if (factor.work_vector_state == WV_CLEAR_ALL)
      btran_invert_part();
    else
      sparse_triangular_solve_heap();
  } else {
    basis_btran_work_vector();
    factor.work_vector_state = WV_CLEAR_ALL;
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  if (weighted() && inequality_row_count > 0) sparsify_work_vector(dcv(dc::ZTETA));
  return price_update();
}

Step PrimalEngine::price_update() {
  const int32_t k = factor.work_vector_count;
  if (candidate()) {
    trim_candidate_list();
    update_candidate_merits();
    OneBased<double> w = work_vector();
    OneBased<int32_t> list = work_list();
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
    const bool permuted = factor.factor_permuted != 0 && rows;
    for (int32_t n = 1; n <= k; ++n) {
      const int32_t at = list[n];
      d[permuted ? rows[at] : at] += w[at];
    }
    ++pivots_since_top_;
    if (entering_column != 0 && list_price_average < kNearBestDensity &&
        -std::fabs(entering_reduced_cost) < near_best_threshold) {
      remove_best_candidate();
      sections_fraction *= kSectionsDecay;
      return Step::kLoop;
    }
    price_refill_list();
    ++primal_engine_stats.list_refills;
    if (entering_column == 0) return Step::kTop;
    return Step::kLoop;
  }
  if ((problem_flags & PF_ROW_COPY) == 0) {
    update_prices_by_columns();
  } else if (kDensityFactor * static_cast<int64_t>(k) < static_cast<int64_t>(nrow) + kSparseRowSlack) {
    OneBased<int32_t> list = work_list();
    OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
    int64_t touched = 0;
    for (int32_t n = 1; n <= k; ++n) {
      const int32_t i = list[n];
      touched += row_start[i + 1] - row_start[i];
    }
    if (touched <= kShortRowsLimit && kShortRowsShare * touched < nelem && (problem_flags & PF_ROW_LISTS) != 0)
      update_prices_by_rows();
    else
      update_prices_by_row_copy();
  } else if (kDensityFactor * static_cast<int64_t>(k) < static_cast<int64_t>(kRowCopyRows) * nrow) {
    update_prices_by_row_copy();
  } else {
    update_prices_by_columns();
  }
  return Step::kLoop;
}

Step PrimalEngine::end_of_pricing() {
  const double perturbation = perturbation_size;
  const int32_t absorb_rows = kind_ == EngineKind::kReferenceWeight ? kWeightedAbsorbFactor * nrow : nrow;
  if (ninf > 0 && shift_active == 1 && absorb_rows * perturbation > suminf) {
    absorb_infeasibility();
    return Step::kTop;
  }
  if (ninf > 0 && bigm_mode == 1) {
    escalate_bigm();
    return Step::kTop;
  }
  if (shift_active != 0 || (problem_state <= 2 && shift_count != 0)) {
    if (!quadratic() && ninf > 0) primal_end_flags |= PEF_REMOVED_INFEASIBLE;
    remove_rhs_shift();
    // The dual clean-up after the removal needs the dual simplex; without
    // it the primal carries on from the true right-hand side.
    if (!quadratic() && ninf > 0 && (primal_end_flags & PEF_BIGM_DROPPED) != 0 &&
        10.0 * dcv(dc::ZTOLZE) * ninf > suminf) {
      begin_message(MSG_SMALL_INFEASIBILITY_ACCEPTED);
      insert_message_real(suminf);
      emit_message();
      primal_end_flags |= PEF_SMALL_INFEASIBILITY;
      return finish(kLetterOptimal);
    }
    if (problem_state != 3) return Step::kTop;
  }
  if (marks_exist == 1 && problem_state <= 2) {
    problem_state = 3;
    clear_mark_bits();
    return Step::kTop;
  }
  problem_state = 3;
  if (update_count > icv(ic::INVMIN)) return Step::kRefactor;
  // A verdict stands only on prices computed afresh from the duals, and
  // after one such pricing that found nothing to pivot on.
  if (!fresh_pricing_ && !verdict_retried_) {
    verdict_retried_ = true;
    return Step::kTop;
  }
  if (ninf == 0) return finish(kLetterOptimal);
  if (bigm_mode == 1) {
    bigm_mode = 0;
    return Step::kRefactor;
  }
  if (residual_refused && suminf < kResidualSumLimit) {
    confirm_feasible_optimum();
    return finish(kLetterUnfinished);
  }
  return finish(kLetterInfeasible);
}

void PrimalEngine::mark_entering_rejected() {
  candidate_rejected = -1;
  update_basis_flags();
  candidate_rejected = 0;
  marks_exist = 1;
  ++primal_engine_stats.rejected_columns;
}

Step PrimalEngine::reject() {
  mark_entering_rejected();
  return Step::kNextCandidate;
}

Step PrimalEngine::next_candidate() {
  if (candidate()) {
    take_best_candidate();
    price_refill_list();
    ++primal_engine_stats.list_refills;
  } else {
    price_linked_list();
  }
  fresh_pricing_ = false;
  return Step::kLoop;
}

// The kernel's difficulty codes: reject the column, refactorise, or resume
// at the step the code names (5 the unbounded test, 6 the ratio test, 7 the
// column solve).
Step PrimalEngine::handle_code(int32_t code) {
  if (check_stop_request() != 0) {
    status_letter = kLetterStopped;
    return Step::kExit;
  }
  const int32_t invmin = icv(ic::INVMIN);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  switch (code) {
    case 2:
      if (update_count < invmin) return Step::kRecord;
      header[leaving_row] = leaving_variable;
      factor_stale_ = true;
      return Step::kRefactor;
    case 3:
      if (update_count >= invmin) return Step::kRefactor;
      if (problem_state >= 3 || nnegdj <= 2 * invmin) return Step::kAttractive;
      return Step::kReject;
    case 4:
      if (update_count < invmin) {
        status[entering_column] |= PS_MARK;
        singular_mark_pending = true;
        ++primal_engine_stats.rejected_columns;
      }
      header[leaving_row] = leaving_variable;
      factor_stale_ = true;
      return Step::kRefactor;
    case 5:
    case 6:
    case 7:
      if (update_count >= invmin) return Step::kRefactor;
      if (problem_state < 3) return Step::kReject;
      if (code == 5) return Step::kUnbounded;
      if (code == 6) return Step::kRatio;
      return Step::kLoadColumn;
    case 8:
      if (problem_state < 3) return Step::kReject;
      return Step::kUnbounded;
    case RATIO_SMALL_PIVOT:
      status[entering_column] |= PS_MARK;
      marks_exist = 1;
      ++primal_engine_stats.rejected_columns;
      if (candidate()) return Step::kNextCandidate;
      return Step::kTop;
    default:
      if (update_count == 0) {
        report_plain_error(MSG_SIMPLEX_FACTOR_FAILURE);
        fatal_ = 1;
        return Step::kDone;
      }
      return Step::kRefactor;
  }
}

void PrimalEngine::bring_factor_current() {
  if (!factor_stale_) return;
  factor_stale_ = false;
  problem_flags &= ~PF_FACTOR_VALID;
  invert_basis(InvertReason::kUpdateLimit);
}

Step PrimalEngine::refactor() {
  ++primal_engine_stats.refactor_returns;
  saved_leaving_row = leaving_row;
  if (factor_stale_) {
    factor_stale_ = false;
    problem_flags &= ~PF_FACTOR_VALID;
  }
  const bool stalled = icv(ic::IPETRB) != 0 && stall_count > update_count &&
                       (kind_ != EngineKind::kReferenceWeight || primal_end_flags == 0) &&
                       (candidate() || kStallPerturbationCap * dcv(dc::ZPETRB) > perturbation_size);
  if (stalled) {
    if (candidate() && ninf > 0 && bigm_mode == 1) {
      dcv(dc::BIGM) = bigm_fallback;
      bigm_mode = 0;
      set_bigm_ladder();
    } else {
      if (candidate() && 2 * (nseq - store.first_col) < 3 * nrow) candidate_mode = 0;
      perturbation_size += dcv(dc::ZPETRB);
      apply_rhs_shift();
    }
  } else if (ninf > 0 && dcv(dslot::kSuminfAtStart) - suminf <= dcv(dc::ZTCOST)) {
    if (shift_active == 1 && nrow * perturbation_size >= dcv(dslot::kSuminfAtStart))
      absorb_infeasibility();
    else if (bigm_mode == 1)
      escalate_bigm();
  }
  return Step::kDone;
}

Step PrimalEngine::finish(char letter) {
  status_letter = letter;
  problem_state = 4;
  if (candidate()) empty_candidate_list();
  return Step::kDone;
}

// The stop and iteration-limit exits: perturbations removed on a current
// factor, the list emptied.
Step PrimalEngine::stop_run(char letter) {
  bring_factor_current();
  if (status_code != STATUS_OK) return Step::kDone;
  if (shift_active != 0 || shift_count != 0) remove_rhs_shift();
  status_letter = letter;
  problem_state = 4;
  if (candidate()) empty_candidate_list();
  return Step::kDone;
}

// p'Qp along the edge: p is +-1 on the entering variable and -alpha_i on the
// basic variable at position i (alpha as stored, that is already negated for
// a decreasing entering variable), so the form holds in both directions.
double PrimalEngine::curvature() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> alpha = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> q = real_array(ARR_QUAD_VALUES);
  if (!upper_start || !lower_start || !index || !q) return 0.0;
  if (static_cast<int32_t>(edge_values.size()) < nseq + 2) edge_values.assign(static_cast<size_t>(nseq) + 2, 0.0);
  edge_positions.clear();
  auto set = [&](int32_t p, double v) {
    if ((static_cast<uint32_t>(status[p]) & PS_QUADRATIC) == 0 || v == 0.0) return;
    if (edge_values[static_cast<size_t>(p)] == 0.0) edge_positions.push_back(p);
    edge_values[static_cast<size_t>(p)] = v;
  };
  set(entering_column, entering_sign == 1 ? -1.0 : 1.0);
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t i = list[n];
    const int32_t v = header[i];
    if (v >= store.first_col) set(v, -alpha[i]);
  }
  double form = 0.0;
  for (const int32_t j : edge_positions) {
    double qp = 0.0;
    for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k)
      if (index[k] > 0) qp += q[k] * edge_values[static_cast<size_t>(index[k])];
    for (int32_t k = lower_start[j]; k < lower_start[j + 1]; ++k)
      if (index[k] > 0) qp += q[k] * edge_values[static_cast<size_t>(index[k])];
    form += edge_values[static_cast<size_t>(j)] * qp;
  }
  for (const int32_t j : edge_positions) edge_values[static_cast<size_t>(j)] = 0.0;
  edge_positions.clear();
  // In the optimiser's sense, as the reduced costs are.
  return sense_factor * form;
}

// The mode would only matter to the dual clean-up after a perturbation is
// removed, which needs the dual simplex.
void run_engine(EngineKind kind, [[maybe_unused]] int32_t mode, int32_t& fatal) {
  PrimalEngine engine(kind, fatal);
  engine.run();
}

}  // namespace

void candidate_list_simplex(int32_t mode, int32_t& fatal) { run_engine(EngineKind::kCandidateList, mode, fatal); }

void reference_weight_simplex(int32_t mode, int32_t& fatal) {
  run_engine(EngineKind::kReferenceWeight, mode, fatal);
}

void qp_simplex(int32_t mode, int32_t& fatal) { run_engine(EngineKind::kQuadratic, mode, fatal); }

void reset_primal_engine_state() {
  singular_mark_pending = false;
  residual_refused = false;
}

void note_residual_refused() { residual_refused = true; }

}  // namespace kl
