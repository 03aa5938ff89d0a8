#include "simplex/primal_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "factor/basis.h"
#include "problem/factor_arrays.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/starting_basis.h"
#include "problem/search_state.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/basic_values.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "factor/simplex_state.h"

namespace kl {

double bigm_ladder[5] = {};
double column_count_average = 0.0;
PrimalDriverStats primal_driver_stats;

namespace {

// Candidate-list target length by the number of structural columns.
struct ListSizeStep {
  int32_t below;  // columns below this take size
  int32_t size;
};
constexpr ListSizeStep kListSizes[] = {
    {100, 5},     {500, 10},    {1000, 15},   {2000, 20},   {5000, 30},        {10000, 60},
    {15000, 90},  {20000, 120}, {25000, 150}, {30000, 200}, {100000000, 250},
};
constexpr int32_t kListSizeHuge = 100;
constexpr int32_t kMaxListSize = 499;

// PPFACT by elements per column.
struct PpfactStep {
  float ratio_at_most;
  float value;
};
constexpr PpfactStep kPpfactSteps[] = {{4.0f, 10.0f}, {5.0f, 5.0f}, {6.0f, 0.6f}, {8.0f, 0.5f}, {10.0f, 0.45f}};
constexpr float kPpfactDense = 0.35f;

constexpr double kBigmCeilingFactor = 5.0;
constexpr double kNoCutoff = 1e40;
constexpr double kDefaultAddcut = -1e-5;
constexpr int32_t kSmallProblemRows = 2500;
constexpr float kSparseElementsPerRow = 5.0f;
constexpr float kMostlyBinaryShare = 0.8f;
constexpr int32_t kIntegerPreprocessingSparseBinary = 7;
constexpr int32_t kIntegerPreprocessingDefault = 1;
constexpr int32_t kIterationCapPerRow = 3;
constexpr double kNoRemovalYet = 1e20;
constexpr int32_t kNoShiftsYet = 99999999;
// Residual infeasibility the end check may accept with the small-
// infeasibility rule (scaled terms); the final verdict is made unscaled.
constexpr double kAcceptedResidualSum = 0.001;
// Consecutive engine passes without an iteration before the run is given
// up as unfinished: every refactorisation request of the engines is made
// at most a few times in a row, so this only guards against a fault.
constexpr int32_t kIdlePassLimit = 64;

bool user_set_int(int n) { return integer_set_flags[n] > 0; }
bool user_set_double(int n) { return double_set_flags[n] > 0; }

bool search_has_nodes() { return search_node_count > 0; }

double& bigm() { return dcv(dc::BIGM); }
double& bigm_ceiling() { return dcv(dslot::kBigmCeiling); }

// The unscaled amount by which the basic variable at basis position i lies
// outside its bounds (0 within): a column's value scales by its factor c_j,
// a slack's by 1 / r_i.
double unscaled_violation(int32_t i) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const int32_t j = header[i];
  const int32_t s = status[j];
  if ((s & PS_FREE) != 0) return 0.0;
  double v = 0.0;
  if ((s & PS_FINITE_LOWER) != 0 && values[i] < lower[j]) v = lower[j] - values[i];
  if ((s & PS_FINITE_UPPER) != 0 && values[i] > upper[j]) v = std::max(v, values[i] - upper[j]);
  const int32_t e = scale_exponent(s);
  const double factor = j >= store.first_col ? scale_power(static_cast<uint32_t>(e))
                                              : scale_power(static_cast<uint32_t>(2 * kNeutralScaleExponent - e));
  return v * factor;
}

// Basic variables outside their bounds by more than ZTOLZE in the caller's
// units, and the largest such amount.
int32_t count_caller_violations(double& largest) {
  int32_t outside = 0;
  largest = 0.0;
  if (!real_array(ARR_BASIC_VALUES) || !int_array(ARR_BASIS_HEADER)) return 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    const double v = unscaled_violation(i);
    if (v > dcv(dc::ZTOLZE)) {
      ++outside;
      largest = std::max(largest, v);
    }
  }
  return outside;
}

// The primal counts the infeasibilities of basic variables only, so a
// non-basic variable held at a value beyond one of its finite bounds would
// pass unseen into an optimal answer. Such a variable starts on the bound
// it passes; the basic values take up the difference.
void place_held_values_within_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  if (!x) return;
  const auto place = [&](int32_t k) {
    const int32_t s = status[k];
    if ((s & (PS_BASIC | PS_NONBASIC_BETWEEN)) != PS_NONBASIC_BETWEEN) return;
    if ((s & PS_FINITE_LOWER) != 0 && x[k] < lower[k]) {
      status[k] = s & ~(PS_NONBASIC_BETWEEN | PS_AT_UPPER);
      x[k] = lower[k];
    } else if ((s & PS_FINITE_UPPER) != 0 && x[k] > upper[k]) {
      status[k] = (s & ~PS_NONBASIC_BETWEEN) | PS_AT_UPPER;
      x[k] = upper[k];
    } else {
      return;
    }
    ++primal_driver_stats.held_values_placed;
  };
  for (int32_t i = 1; i <= nrow; ++i) place(i);
  for (int32_t j = store.first_col; j <= nseq; ++j) place(j);
}

}  // namespace

bool infeasibilities_within_caller_tolerance() {
  double largest = 0.0;
  return count_caller_violations(largest) == 0;
}

bool confirm_feasible_optimum() {
  if (ninf == 0) return true;
  double largest = 0.0;
  const int32_t outside = count_caller_violations(largest);
  if (outside == 0) return true;
  ++primal_driver_stats.infeasible_optima;
  status_letter = kLetterUnfinished;
  begin_message(MSG_PRIMAL_INFEASIBLE_END);
  insert_message_int(outside);
  insert_message_real(largest);
  emit_message();
  return false;
}

void escalate_bigm() {
  if (bigm() <= bigm_ceiling()) {
    bigm() *= 2.0;
    ++primal_driver_stats.bigm_raises;
  } else {
    bigm() = bigm_fallback;
    bigm_mode = 0;
    ++primal_driver_stats.bigm_drops;
  }
  set_bigm_ladder();
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_BIGM_CHANGED);
    insert_message_real(bigm());
    insert_message_int(static_cast<int32_t>(sense_factor));
    emit_message();
  }
}

namespace {

void run_engine(int32_t mode, int32_t& fatal) {
  if (candidate_mode == 1) {
    candidate_list_simplex(mode, fatal);
    if (icv(ic::IPHSF) == 0 &&
        5.0 * (static_cast<double>(eta_file.u_file_end) + eta_file.invert_part_size) >
            3.0 * (static_cast<double>(nseq) - store.first_col) + 4.0 * static_cast<double>(nelem))
      candidate_mode = 0;
    if (candidate_mode == 0 || problem_state > 3) {
      saved_leaving_row = 0;
      empty_candidate_list();
      reset_pricing_weights();
      if (nqelem > 0 && ninf == 0 && candidate_mode == 0) problem_state = 3;
    }
    return;
  }
  if (nqelem > 0 && ninf == 0)
    qp_simplex(mode, fatal);
  else
    reference_weight_simplex(mode, fatal);
}

// Row lists for the weighted engines; on failure the candidate list stays.
void ensure_row_lists() {
  if (candidate_mode != 0 || (problem_flags & PF_ROW_LISTS) != 0) return;
  free_factor_arrays();
  if (alloc_row_lists() != 0) {
    icv(ic::IPHSF) = -1;
    candidate_mode = 1;
    begin_message(MSG_ROW_LISTS_NO_MEMORY);
    emit_message();
    return;
  }
  build_row_lists();
}

}  // namespace

void set_bigm_ladder() {
  const double m = bigm();
  bigm_ladder[0] = -2.0 * m;
  for (int k = 1; k < 5; ++k) bigm_ladder[k] = bigm_ladder[k - 1] + m;
}

void size_partial_pricing() {
  const int32_t n = nseq - store.first_col + 1;
  int32_t s = kListSizeHuge;
  for (const ListSizeStep& step : kListSizes) {
    if (n < step.below) {
      s = step.size;
      break;
    }
  }
  const double scaled = std::trunc(static_cast<double>(s) * dcv(dc::RSP004));
  candidate_list_size = static_cast<int32_t>(std::clamp(scaled, 1.0, static_cast<double>(kMaxListSize)));
  candidate_sections = std::max(1, n / candidate_list_size);
  if (!user_set_double(dc::PPFACT)) {
    const float r = static_cast<float>(nelem) / static_cast<float>(std::max(n, 0) + 1);
    float value = kPpfactDense;
    for (const PpfactStep& step : kPpfactSteps) {
      if (r <= step.ratio_at_most) {
        value = step.value;
        break;
      }
    }
    dcv(dc::PPFACT) = value;
  }
}

void tune_pricing_strategy() {
  if (icv(ic::IPHSF) < 0) return;
  const double m = nrow;
  const double n = nseq - store.first_col + 1;
  const double c = list_price_average;
  const double b = list_drop_average;
  const double s = 0.1 * c + b;
  const double d = column_count_average;
  bool on = true;
  if (shift_active != 0) on = n >= 5.0 * m;
  if (sections_fraction > 0.2) on = false;
  bool off = false;
  if (ninf == 0) {
    if (n > 50 * m)
      off = s > 0.99;
    else if (n > 30 * m)
      off = s > 0.9 || d > 0.9 * m;
    else if (n > 10 * m)
      off = c > 0.85 || 0.2 * c + b > 0.85 || d > 0.85 * m;
    else if (n > 8 * m)
      off = c > 0.85 || s > 0.8 || d > 0.8 * m;
    else if (n > 5 * m)
      off = c > 0.7 || s > 0.5 || d > 0.7 * m;
    else if (n > 4 * m)
      off = c > 0.7 || s > 0.4 || d > 0.7 * m || d > 2000;
    else if (n > 3 * m)
      off = c > 0.7 || s > 0.35 || d > 0.7 * m || d > 1800;
    else if (n > 2 * m)
      off = c > 0.7 || s > 0.3 || d > 0.65 * m || d > 1700;
    else if (n > m)
      off = c > 0.7 || s > 0.25 || d > 0.6 * m || d > 1600;
    else
      off = c > 0.7 || s > 0.2 || d > 0.4 * m || d > 1500;
  } else {
    if (n > 50 * m)
      off = false;
    else if (n > 10 * m)
      off = s > 0.95 || d > 0.95 * m;
    else if (n > 8 * m)
      off = s > 0.9 || d > 0.9 * m;
    else if (n > 5 * m)
      off = s > 0.8 || d > 0.85 * m;
    else if (n > 4 * m)
      off = c > 0.8 || s > 0.7 || d > 0.8 * m;
    else if (n > 3 * m)
      off = c > 0.8 || s > 0.6 || d > 0.75 * m;
    else if (n > 2 * m)
      off = c > 0.8 || s > 0.5 || d > 0.7 * m;
    else if (n > m)
      off = c > 0.8 || s > 0.45 || d > 0.65 * m;
    else
      off = c > 0.8 || s > 0.4 || d > 0.6 * m;
  }
  candidate_mode = (on && !off) ? 1 : 0;
}

void check_entering_infeasibility(int32_t& result) {
  result = 0;
  OneBased<double> alpha = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const int32_t q = entering_column;
  double c = entering_sign == 1 ? -cost[q] : cost[q];
  double s = 0.0;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t i = list[n];
    const double a = alpha[i];
    c -= a * cost[header[i]];
    if ((marks[i] & RF_INFEAS_BELOW) != 0) s += a;
    if ((marks[i] & RF_INFEAS_ABOVE) != 0) s -= a;
  }
  double d = s * bigm();
  const bool pure_phase1 = ninf > 0 && bigm_mode == 0;
  // The objective moves at this rate in every phase; the log shows it.
  entering_objective_rate = c;
  if (!pure_phase1) {
    if (d > 0.0) {
      escalate_bigm();
      result = 1;
      entering_reduced_cost = d;
      return;
    }
    d += c * sense_factor;
  }
  const double priced = entering_reduced_cost;
  const double tol = dcv(dc::ZTOLDJ);
  const int32_t idbdc = icv(ic::IDBDC);
  bool failed = false;
  if (idbdc > 0) {
    failed = std::fabs(priced - d) >= std::fabs(d * tol);
  } else if (idbdc == 0 && (pure_phase1 || d > -100.0 * tol)) {
    double m = -d;
    if (tol * bigm() < m && m < bigm()) m = bigm();
    failed = std::fabs(priced - d) >= std::fabs(m * tol);
  }
  if (failed) {
    result = 3;
    if (icv(ic::IFMSG) != 0) {
      begin_message(MSG_REDUCED_COST_CHECK);
      insert_message_int(itcnt);
      insert_message_int(q);
      insert_message_real(d);
      insert_message_real(priced);
      emit_message();
    }
  }
  entering_reduced_cost = d;
}

void prepare_simplex_tolerances(int32_t mode) {
  const int32_t a = std::abs(mode);
  if (a < 3 && !search_has_nodes()) {
    if (!user_set_double(dc::CUTOFF)) dcv(dc::CUTOFF) = sense_factor * kNoCutoff;
    if (!user_set_double(dc::ADDCUT)) dcv(dc::ADDCUT) = sense_factor * kDefaultAddcut;
    if (!user_set_int(ic::IFINTP)) {
      const bool sparse = nrow < kSmallProblemRows &&
                          static_cast<float>(nelem) < kSparseElementsPerRow * static_cast<float>(nrow);
      const bool mostly_binary =
          static_cast<float>(search_record.binary_count) > kMostlyBinaryShare * static_cast<float>(ncols());
      icv(ic::IFINTP) = sparse && mostly_binary ? kIntegerPreprocessingSparseBinary : kIntegerPreprocessingDefault;
    }
    if (!user_set_int(ic::ITCH)) icv(ic::ITCH) = kIterationCapPerRow * nrow;
    dcv(dc::OBJTAR) = dcv(dc::CUTOFF);
    check_stop_request();
  }
  problem_state = 1;
  shift_count = 0;
  perturbation_phase = 3;
  if (mode > 0) {
    dcv(dslot::kSuminfAtRemoval) = kNoRemovalYet;
    itcnt_at_removal = -static_cast<int64_t>(icv(ic::ISHFMX));
    shifts_at_removal = kNoShiftsYet;
  }
  if (user_set_int(ic::IFBIGM)) {
    bigm_mode = icv(ic::IFBIGM);
    if (bigm_mode == 0) bigm() = bigm_fallback;
  }
  if (mode > 0) dcv(dslot::kInvertPivotThreshold) = dcv(dc::ZTOLRI);
  clear_mark_bits();
  entering_reduced_cost = 0.0;
  leaving_variable = 0;
  entering_column = 0;
  perturbation_size = dcv(dc::PETURB);
  entering_sign = 0;
  nnegdj = 0;
  saved_leaving_row = 0;
  candidate_rejected = 0;
  status_letter = kLetterIterating;
  ninf = 1;
  problem_state = 1;
  stall_count = 0;
}

void primal_simplex(int32_t mode) {
  const int32_t a = std::abs(mode);
  column_count_average = 0.0;
  list_drop_average = 0.0;
  list_price_average = 0.0;
  pricing_pass_count = 0;
  if (problem_state <= 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  bigm_ceiling() = kBigmCeilingFactor * bigm();
  size_partial_pricing();
  candidate_mode = icv(ic::IPHSF) < 1 ? 1 : 0;
  if (candidate_mode == 0 && (problem_flags & PF_ROW_LISTS) == 0) problem_flags &= ~PF_FACTOR_VALID;
  empty_candidate_list();
  next_section = 1;
  lp_algorithm = kAlgorithmPrimal;
  phase1_marker = 0;
  reset_primal_engine_state();
  prepare_simplex_tolerances(mode);
  check_stop_request();

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if (a < 3) {
    for (int32_t j = store.first_col; j <= nseq; ++j)
      if ((status[j] & (PS_FREE | PS_BASIC)) == PS_FREE) status[j] |= PS_NONBASIC_BETWEEN;
  }
  place_held_values_within_bounds();
  if (a == 3) bigm() = lp_driver.bigm_at_start;
  if (user_set_int(ic::IFBIGM)) {
    bigm_mode = icv(ic::IFBIGM);
    if (bigm_mode == 0) bigm() = bigm_fallback;
  }
  set_bigm_ladder();
  reset_pricing_weights();
  // The per-position stamps of the row-copy update and the curvature marks
  // of the quadratic engine start clear.
  if (OneBased<int32_t> stamps = int_array(ARR_SCALE_WORK))
    for (int32_t p = 1; p <= nseq; ++p) stamps[p] = 0;
  if (std::fabs(perturbation_size) > dcv(dc::ZTETA) && shift_active == 0 && mode > 0) apply_rhs_shift();

  bool skip_invert = false;
  if (icv(ic::INOINV) > 0 && (problem_flags & PF_FACTOR_VALID) != 0) {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
    for (int32_t i = 1; i <= nrow; ++i) {
      const int32_t v = header[i];
      basic_upper[i] = (status[v] & PS_FINITE_UPPER) != 0 ? upper[v] : kInfinity;
    }
    compute_basic_values();
    check_basic_feasibility();
    skip_invert = true;
  } else {
    set_basis_header();
  }

  int32_t idle_passes = 0;
  for (;;) {
    if (!skip_invert) {
      ensure_row_lists();
      factor.factor_permuted = 0;
      invert_basis(InvertReason::kFactorInvalid);
      if (status_code != STATUS_OK) {
        if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
        return;
      }
      if (candidate_mode == 1 && nqelem > 0 && ninf == 0) {
        candidate_mode = 0;
        continue;
      }
      const int32_t itrlog = icv(ic::ITRLOG);
      if (itrlog != 0 && std::abs(itrlog) != kQuietIterationLog && status_code == STATUS_OK && itcnt == 0)
        iteration_log(1);
    }
    skip_invert = false;

    const int32_t itcnt_before = itcnt;
    int32_t fatal = 0;
    run_engine(mode, fatal);
    if (fatal != 0) break;
    if (problem_state <= 3) {
      idle_passes = itcnt == itcnt_before ? idle_passes + 1 : 0;
      if (idle_passes <= kIdlePassLimit) continue;
      ++primal_driver_stats.idle_stops;
      status_letter = kLetterUnfinished;
      problem_state = 4;
      break;
    }
    idle_passes = 0;
    if ((primal_end_flags & PEF_END_CHECK_MADE) == 0 && a < 3 &&
        (status_letter == kLetterUnbounded || status_letter == kLetterOptimal)) {
      primal_end_flags |= PEF_END_CHECK_MADE;
      flag_infinite_bounds();
      if (ninf > 0) {
        const bool accepted =
            dcv(dc::SUMINF) <= kAcceptedResidualSum && (primal_end_flags & PEF_SMALL_INFEASIBILITY) != 0;
        if (!accepted) {
          ++primal_driver_stats.end_rechecks;
          problem_state = 1;
          status_letter = kLetterIterating;
          phase1_marker = 0;
          continue;
        }
        problem_state = 4;
      }
    }
    break;
  }
  if (status_letter == kLetterOptimal) confirm_feasible_optimum();
  recompute_objective(a);
}

void recompute_objective(int32_t mode) {
  if (mode != 3) {
    if (free_columns_boxed != 0) clear_candidate_flags();
    if (!search_has_nodes()) {
      const double scale = dcv(kObjectiveScaleSlot);
      const double unscale = scale != 0.0 ? 1.0 / scale : 1.0;
      const double limit = -(dcv(dc::PERCUT) * 0.01 * std::fabs(objval) * unscale);
      dcv(dc::ADDCUT) = sense_factor * std::min(sense_factor * dcv(dc::ADDCUT), limit);
    }
    lp_driver.bigm_at_start = bigm();
    const int32_t itrlog = icv(ic::ITRLOG);
    bool final_line = false;
    if (itrlog == 0)
      final_line = true;
    else if (std::abs(itrlog) != kQuietIterationLog)
      final_line = itcnt % itrlog != 0;
    else
      final_line = itcnt == 0 || update_count > 0;
    if (final_line) iteration_log(1);
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  double nonbasic = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & (PS_BASIC | PS_FIXED)) != 0) continue;
    double value = 0.0;
    // A free column counts only when it is held at a value.
    if ((s & PS_NONBASIC_BETWEEN) != 0)
      value = x[j];
    else if ((s & PS_FREE) != 0)
      continue;
    else if ((s & PS_AT_UPPER) != 0)
      value = upper[j];
    else
      value = lower[j];
    if (value != 0.0) nonbasic += cost[j] * value;
  }
  dcv(dslot::kNonbasicObjective) = nonbasic;
  const int32_t kept_algorithm = lp_algorithm;
  lp_algorithm = kAlgorithmPrimal;
  const double scale = dcv(kObjectiveScaleSlot);
  if (scale != 0.0 && scale != 1.0) {
    dcv(kObjectiveConstantSlot) /= scale;
    dcv(kSecondObjectiveConstantSlot) /= scale;
  }
  compute_objective_value();
  lp_algorithm = kept_algorithm;
}

void compute_objective_value() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  double value = dcv(kObjectiveConstantSlot) + dcv(kSecondObjectiveConstantSlot) + dcv(dslot::kNonbasicObjective);
  if (!header || !values) {
    objval = value;
    return;
  }
  if (algorithm_kind() == kAlgorithmPrimal) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> cost = real_array(ARR_OBJECTIVE);
    for (int32_t i = 1; i <= nrow; ++i) {
      const int32_t v = header[i];
      if ((status[v] & PS_FIXED) == 0) value += cost[v] * values[i];
    }
    if (nqelem > 0) {
      OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
      OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
      OneBased<double> q = real_array(ARR_QUAD_VALUES);
      OneBased<double> x = real_array(ARR_X);
      for (int32_t j = store.first_col; j <= nseq; ++j) {
        if ((static_cast<uint32_t>(status[j]) & PS_QUADRATIC) == 0) continue;
        for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k) {
          const int32_t i = index[k];
          if (i <= 0) continue;
          value += i == j ? 0.5 * q[k] * x[j] * x[j] : q[k] * x[i] * x[j];
        }
      }
    }
  } else {
    OneBased<double> working = real_array(ARR_WORKING_COSTS);
    const int32_t length = factor.factor_dimension > 0 ? factor.factor_dimension : nrow;
    for (int32_t i = 1; i <= length; ++i) value += working[header[i]] * values[i];
  }
  objval = value;
}

void fixed_columns_objective_constant() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> lower = real_array(ARR_LOWER);
  double sum = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if ((status[j] & PS_FIXED) != 0) sum += cost[j] * lower[j];
  dcv(kSecondObjectiveConstantSlot) = sum;
}

void flag_infinite_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    int32_t s = status[j];
    if ((s & PS_FINITE_UPPER) == 0 && upper[j] < kInfinity) s = (s | PS_FINITE_UPPER) & ~PS_FREE;
    if ((s & PS_FINITE_LOWER) == 0 && lower[j] > -kInfinity) s = (s | PS_FINITE_LOWER) & ~PS_FREE;
    status[j] = s;
  }
  check_basic_feasibility();
}

void refresh_factor() {
  if ((problem_flags & PF_SOLUTION_CURRENT) != 0) return;
  if ((problem_flags & PF_FACTOR_VALID) == 0) {
    invert_current_basis();
  }
  reinvert_and_recompute();
}

}  // namespace kl
