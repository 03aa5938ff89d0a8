#include "simplex/pivot_access.h"

#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/pivot_updates.h"
#include "simplex/primal_ratio_test.h"
#include "factor/simplex_state.h"

namespace kl {

PivotAccessStats pivot_access_stats;

namespace {

// With INVFRQ -1 the factor is refreshed once this many updates are made.
constexpr int32_t kDefaultUpdateLimit = 74;

// Hand pivots are primal steps on the true bounds and costs, whichever
// algorithm ran last; the caller's algorithm is back in force at exit.
class PrimalForTheCall {
 public:
  PrimalForTheCall() : kept_(lp_algorithm) { lp_algorithm = kAlgorithmPrimal; }
  ~PrimalForTheCall() { lp_algorithm = kept_; }
  PrimalForTheCall(const PrimalForTheCall&) = delete;
  PrimalForTheCall& operator=(const PrimalForTheCall&) = delete;

 private:
  int32_t kept_;
};

// The iteration state a query borrows: KLGETPIVOTS leaves the last pivot
// (read by KLGETUNB, among others) as it found it.
class IterationStateGuard {
 public:
  IterationStateGuard()
      : entering_column_(entering_column),
        entering_sign_(entering_sign),
        leaving_row_(leaving_row),
        leaving_variable_(leaving_variable),
        leaving_direction_(leaving_direction),
        stall_count_(stall_count),
        shift_count_(shift_count),
        perturbation_phase_(perturbation_phase),
        entering_upper_(entering_upper),
        step_length_(step_length),
        pivot_value_(pivot_value) {}
  ~IterationStateGuard() {
    entering_column = entering_column_;
    entering_sign = entering_sign_;
    leaving_row = leaving_row_;
    leaving_variable = leaving_variable_;
    leaving_direction = leaving_direction_;
    stall_count = stall_count_;
    shift_count = shift_count_;
    perturbation_phase = perturbation_phase_;
    entering_upper = entering_upper_;
    step_length = step_length_;
    pivot_value = pivot_value_;
  }
  IterationStateGuard(const IterationStateGuard&) = delete;
  IterationStateGuard& operator=(const IterationStateGuard&) = delete;

 private:
  int32_t entering_column_, entering_sign_, leaving_row_, leaving_variable_, leaving_direction_;
  int32_t stall_count_, shift_count_, perturbation_phase_;
  double entering_upper_, step_length_, pivot_value_;
};

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
bool is_position(int32_t p) { return (p >= 1 && p <= nrow) || (p >= store.first_col && p <= nseq); }

void report_pivot_error(int32_t n, int32_t entering, int32_t leaving, bool with_leaving) {
  error_number = n;
  error_value = entering;
  status_code = STATUS_REPORTED;
  begin_message(n);
  insert_message_int(entering);
  if (with_leaving) insert_message_int(leaving);
  emit_message();
}

void report_bad_entering(int32_t entering) { report_pivot_error(MSG_PIVOT_ENTERING_INVALID, entering, 0, false); }

// A valid factor of the current basis with the rows in their own order.
// False when the invert failed (its status word stands).
bool refresh_factor(InvertReason reason) {
  if ((problem_flags & PF_NO_BASIS) != 0) {
    // The barrier's point without a crossover has no basis to factorise.
    report_plain_error(MSG_NO_BASIS_AVAILABLE);
    error_number = MSG_NO_BASIS_AVAILABLE;
    return false;
  }
  if ((problem_flags & PF_FACTOR_VALID) != 0 && factor.factor_permuted == 0) return true;
  factor.factor_permuted = 0;
  // Non-basic positions sit at a bound they have before the basic values
  // are computed from them.
  normalise_status_flags();
  start_clock();
  invert_basis(reason);
  return status_code == STATUS_OK && (problem_flags & PF_FACTOR_VALID) != 0;
}

// The entering position q of a caller's index, checked, with a factor ready
// and the entering state set. False after the error is reported.
bool prepare_entering(int32_t entering, int32_t& q) {
  q = entering + icv(ic::IFDBG);
  if (!is_position(q)) {
    report_bad_entering(entering);
    return false;
  }
  if (!refresh_factor(InvertReason::kFactorInvalid)) return false;
  const uint32_t s = status_of(q);
  if ((s & PS_BASIC) != 0) {
    report_bad_entering(entering);
    return false;
  }
  entering_column = q;
  entering_sign = (s & PS_AT_UPPER) != 0 ? 1 : 0;
  entering_upper = ((s & PS_FINITE_UPPER) != 0 && (s & PS_FREE) == 0) ? real_array(ARR_UPPER)[q] : kInfinity;
  return true;
}

// The updated entering column B^-1 a_q in the work vector, listed, and (for
// the Forrest-Tomlin update) its spike appended to the U file. A full eta
// file is refactorised once. False when no room could be made.
bool transform_for_update(int32_t q, bool& factor_failed) {
  factor_failed = false;
  const double drop = dcv(dc::ZTETA);
  for (int32_t attempt = 0; attempt < 2; ++attempt) {
    unpack_column(q);
    if (icv(ic::IFFTUP) == 0) {
      eta_backward_pass();
      sparsify_work_vector(drop);
      return true;
    }
    ftran_invert_part();
    sparsify_work_vector(drop);
    if (append_eta_column() == 0) {
      ftran_update_part(work_vector());
      sparsify_work_vector(drop);
      return true;
    }
    ++pivot_access_stats.refactorisations;
    invert_basis(InvertReason::kEtaFileFull);
    if (status_code != STATUS_OK || (problem_flags & PF_FACTOR_VALID) == 0) {
      factor_failed = true;
      return false;
    }
  }
  return false;
}

// Rate of the true objective per unit increase of the entering variable:
// c_q less the costs of the basic variables along the column.
double objective_rate(int32_t q, bool column_negated) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  double rate = cost[q];
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
    const int32_t i = list[k];
    const double alpha = column_negated ? -w[i] : w[i];
    rate -= alpha * cost[header[i]];
  }
  return rate;
}

// Everything update_after_pivot writes, kept so that a pivot the factor
// cannot take is undone.
struct PivotSnapshot {
  std::vector<int32_t> header;
  std::vector<int32_t> marks;
  std::vector<double> basic_values;
  std::vector<double> basic_upper;
  std::vector<double> work_rhs;
  double leaving_reduced_cost = 0.0;
  double leaving_weight = 0.0;
  double objval = 0.0;
  double suminf = 0.0;
  int32_t ninf = 0;
  int32_t shift_count = 0;
  InfeasibilityChanges changes;

  template <class T>
  static std::vector<T> copy(OneBased<T> a, int32_t n) {
    return a ? std::vector<T>(a.data(), a.data() + n) : std::vector<T>();
  }
  template <class T>
  static void put_back(const std::vector<T>& v, OneBased<T> a) {
    for (size_t k = 0; k < v.size(); ++k) a.data()[k] = v[k];
  }

  void take(int32_t p) {
    header = copy(int_array(ARR_BASIS_HEADER), nrow);
    marks = copy(int_array(ARR_ROW_TYPE), nrow);
    basic_values = copy(real_array(ARR_BASIC_VALUES), nrow);
    basic_upper = copy(real_array(ARR_BASIC_UPPER), nrow);
    work_rhs = copy(real_array(ARR_WORK_RHS), nrow);
    leaving_reduced_cost = real_array(ARR_REDUCED_COSTS)[p];
    if (OneBased<double> weights = real_array(ARR_PIVOT_ROW)) leaving_weight = weights[p];
    objval = kl::objval;
    suminf = kl::suminf;
    ninf = kl::ninf;
    shift_count = kl::shift_count;
    changes = infeasibility_changes;
  }
  void restore(int32_t p) const {
    put_back(header, int_array(ARR_BASIS_HEADER));
    put_back(marks, int_array(ARR_ROW_TYPE));
    put_back(basic_values, real_array(ARR_BASIC_VALUES));
    put_back(basic_upper, real_array(ARR_BASIC_UPPER));
    put_back(work_rhs, real_array(ARR_WORK_RHS));
    real_array(ARR_REDUCED_COSTS)[p] = leaving_reduced_cost;
    if (OneBased<double> weights = real_array(ARR_PIVOT_ROW)) weights[p] = leaving_weight;
    kl::objval = objval;
    kl::suminf = suminf;
    kl::ninf = ninf;
    kl::shift_count = shift_count;
    infeasibility_changes = changes;
  }
};

// The bound the leaving variable at basis position r goes to: the one its
// value moves towards, or, when that one is infinite, the other (the user's
// pivot may leave the basis infeasible, but never at an infinite value).
// False for a free variable.
bool choose_leaving_side(int32_t r, int32_t p, double alpha) {
  const uint32_t s = status_of(p);
  const int32_t mark = int_array(ARR_ROW_TYPE)[r];
  const bool rises = entering_sign == 0 ? alpha < 0.0 : alpha > 0.0;
  bool at_upper = rises ? (mark & RF_INFEAS_BELOW) == 0 : (mark & RF_INFEAS_ABOVE) != 0;
  const bool upper_finite = (s & PS_FINITE_UPPER) != 0 && real_array(ARR_BASIC_UPPER)[r] < kInfiniteBound;
  const bool lower_finite = (s & PS_FINITE_LOWER) != 0;
  if (at_upper && !upper_finite) at_upper = false;
  if (!at_upper && !lower_finite) at_upper = true;
  if (at_upper && !upper_finite) return false;
  leaving_direction = at_upper ? kLeaveAtUpper : kLeaveAtLower;
  return true;
}

bool refactor_due() {
  const int32_t invfrq = icv(ic::INVFRQ);
  if (invfrq == -1) return update_count >= kDefaultUpdateLimit;
  return update_count + 1 >= invfrq;
}

// After the basic values have moved: the status bits, the log line and the
// factor of the new basis (an update, or a fresh invert when one is due or
// the eta file is full). False when the factor could not take the update.
bool complete_basis_change() {
  if (refactor_due()) {
    update_basis_flags();
    iteration_log(0);
    ++pivot_access_stats.refactorisations;
    invert_basis(InvertReason::kUpdateLimit);
    return true;
  }
  int32_t result = UPDATE_DONE;
  if (icv(ic::IFFTUP) == 0) {
    result = store_pivot_eta();
  } else {
    result = update_factor();
  }
  if (result == UPDATE_REFACTOR || result == UPDATE_SINGULAR) return false;
  update_basis_flags();
  iteration_log(0);
  if (result == UPDATE_ETA_FILE_FULL) {
    ++pivot_access_stats.refactorisations;
    invert_basis(InvertReason::kEtaFileFull);
  }
  return true;
}

// The first step get_pivots finds.
struct StepPicture {
  int32_t q = 0;
  double delta = 0.0;  // signed move of the entering variable
  bool bound_flip = false;
  double theta = 0.0;  // the step along the (oriented) work vector
};

// The value of every position after the step, unscaled: basic ones moved
// along the column, the entering one by the step (or to its other bound),
// the others where they sit.
void fill_solution_after_step(const StepPicture& step, double* solution) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic_values = real_array(ARR_BASIC_VALUES);
  OneBased<double> w = work_vector();
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  std::vector<double> value(static_cast<size_t>(nseq) + 1, 0.0);
  for (int32_t p = 1; p <= nseq; ++p) {
    if (!is_position(p)) continue;
    const uint32_t s = status_of(p);
    if ((s & PS_BASIC) != 0) continue;
    if ((s & PS_NONBASIC_BETWEEN) != 0)
      value[p] = x[p];
    else if ((s & PS_AT_UPPER) != 0)
      value[p] = upper[p];
    else if ((s & PS_FINITE_LOWER) != 0)
      value[p] = lower[p];
  }
  for (int32_t r = 1; r <= nrow; ++r) value[header[r]] = basic_values[r] - step.theta * w[r];
  const int32_t q = step.q;
  if (step.bound_flip) {
    value[q] = entering_sign == 1 ? lower[q] : entering_upper;
  } else {
    value[q] += step.delta;
  }
  for (int32_t p = 1; p <= nseq; ++p) {
    const int32_t e = scale_exponent(int_array(ARR_POS_STATUS)[p]);
    const double f = p <= nrow ? scale_power(2 * kNeutralScaleExponent - e) : scale_power(e);
    solution[p - 1] = is_position(p) ? value[p] * f : 0.0;
  }
}

}  // namespace

void pivot_basis(int32_t entering, int32_t leaving) {
  begin_body();
  if (!require_problem()) return;
  const PrimalForTheCall primal;
  int32_t q = 0;
  if (!prepare_entering(entering, q)) return;
  bool factor_failed = false;
  if (!transform_for_update(q, factor_failed)) {
    if (!factor_failed) report_pivot_error(MSG_PIVOT_IMPOSSIBLE, entering, leaving, true);
    return;
  }
  OneBased<double> w = work_vector();
  const int32_t p = leaving + icv(ic::IFDBG);
  if (p == q) {
    const uint32_t s = status_of(q);
    const bool other_finite = entering_sign == 1 ? (s & PS_FINITE_LOWER) != 0 : entering_upper < kInfiniteBound;
    if (!other_finite) {
      report_pivot_error(MSG_PIVOT_IMPOSSIBLE, entering, leaving, true);
      return;
    }
    leaving_row = kLeavingBoundFlip;
    leaving_direction = 1 - entering_sign;
    pivot_value = 0.0;
  } else {
    OneBased<int32_t> list = work_list();
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    int32_t r = 0;
    for (int32_t k = 1; k <= factor.work_vector_count && r == 0; ++k)
      if (header[list[k]] == p) r = list[k];
    if (r == 0 || std::fabs(w[r]) < dcv(dc::ZTOLPV) || !choose_leaving_side(r, p, w[r])) {
      report_pivot_error(MSG_PIVOT_IMPOSSIBLE, entering, leaving, true);
      return;
    }
    leaving_row = r;
    leaving_variable = p;
    pivot_value = w[r];
  }
  // update_after_pivot takes the column as it is (not oriented) and signs
  // the step itself; its rate is oriented by entering_sign.
  const double rate = objective_rate(q, false);
  entering_objective_rate = entering_sign == 1 ? -rate : rate;

  if (leaving_row == kLeavingBoundFlip) {
    update_after_pivot();
    update_basis_flags();
    iteration_log(0);
    ++pivot_access_stats.bound_flips;
    return;
  }
  PivotSnapshot snapshot;
  snapshot.take(p);
  update_after_pivot();
  if (!complete_basis_change()) {
    // The factor may hold part of the update: it is refreshed at its next use.
    snapshot.restore(p);
    problem_flags &= ~PF_FACTOR_VALID;
    ++pivot_access_stats.rollbacks;
    report_pivot_error(MSG_PIVOT_IMPOSSIBLE, entering, leaving, true);
    return;
  }
  ++pivot_access_stats.pivots;
}

void get_pivots(int32_t entering, int32_t* list, double* solution, double* objective, int32_t* count, int32_t maximum) {
  begin_body();
  if (!require_problem()) return;
  if (count == nullptr) {
    report_error(MSG_NULL_ARGUMENT, 5, routine::kGetpivots);
    return;
  }
  if (list == nullptr && maximum > 0) {
    report_error(MSG_NULL_ARGUMENT, 2, routine::kGetpivots);
    return;
  }
  *count = 0;
  const PrimalForTheCall primal;
  const IterationStateGuard kept;
  int32_t q = 0;
  if (!prepare_entering(entering, q)) return;
  // A query must not move the basic values: the negative-step repair of the
  // ratio test (perturbation phase 2 and above) stays off.
  perturbation_phase = 0;

  const double drop = dcv(dc::ZTETA);
  unpack_column(q);
  basis_solve_work_vector();
  if (entering_sign == 1) {
    drop_tiny_entries(drop);
  } else {
    sparsify_work_vector(drop);
  }
  OneBased<double> w = work_vector();
  if (ratio_step() != RATIO_STEP || leaving_row == kLeavingNone) {
    clear_work_vector();
    return;
  }

  StepPicture step;
  step.q = q;
  step.theta = step_length;
  step.bound_flip = leaving_row == kLeavingBoundFlip;
  step.delta = entering_sign == 1 ? -step_length : step_length;
  // The column is oriented (negated for a decreasing variable) here.
  const double rate = objective_rate(q, entering_sign == 1);
  if (objective != nullptr) *objective = objval + rate * step.delta;
  if (solution != nullptr) fill_solution_after_step(step, solution);

  // The first choice's pivot and its distance to the bound it leaves at;
  // further choices count while their step is within its relaxed ratio.
  double first_alpha = 1.0;
  double first_distance = step_length;
  if (!step.bound_flip) {
    const int32_t r = leaving_row;
    const int32_t p = leaving_variable;
    first_alpha = std::fabs(w[r]);
    const double bound = leaving_direction == kLeaveAtUpper ? real_array(ARR_BASIC_UPPER)[r] : real_array(ARR_LOWER)[p];
    first_distance = std::fabs(real_array(ARR_BASIC_VALUES)[r] - bound);
  }
  const double ztolze = dcv(dc::ZTOLZE);
  int32_t n = 0;
  const auto add = [&](int32_t position) {
    if (n < maximum) list[n++] = position - icv(ic::IFDBG);
  };
  add(step.bound_flip ? q : leaving_variable);
  while (n < maximum && leaving_row > 0) {
    w[leaving_row] = 0.0;
    if (ratio_step() != RATIO_STEP || leaving_row <= 0) break;
    if (!(first_alpha * step_length < first_distance + ztolze)) break;
    add(leaving_variable);
  }
  *count = n;
  clear_work_vector();
}

void get_basic_pivots(int32_t* header) {
  begin_body();
  if (problem_state < 1 || (problem_flags & PF_NO_BASIS) != 0) {
    error_number = MSG_SOLUTION_NOT_CURRENT;
    status_code = STATUS_REPORTED;
    return;
  }
  if (header == nullptr) {
    report_error(MSG_NULL_ARGUMENT, 1, routine::kGetbasicpiv);
    return;
  }
  const PrimalForTheCall primal;
  if (!refresh_factor(InvertReason::kUserSolve)) return;
  OneBased<int32_t> basis = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= nrow; ++i) header[i - 1] = basis[i] - icv(ic::IFDBG);
}

}  // namespace kl
