// The perturbations of the working right-hand side that the primal engines
// apply against stalling and remove before a verdict, and the absorption of
// the remaining phase-1 infeasibility into it.
#include <cmath>

#include "factor/basis.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "simplex/basic_values.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

// Residual sum of infeasibilities that a removal without progress may
// accept, when the caller's tolerance covers it.
constexpr double kAcceptableResidualSum = 0.001;

// working_rhs += v x (column of position j); a slack's column is its row.
void add_column(OneBased<double> rhs, int32_t j, double v) {
  if (v == 0.0) return;
  if (j < store.first_col) {
    rhs[j] += v;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t k = start[j]; k < start[j + 1]; ++k) rhs[elem_row[k]] += v * elem_value[k];
}

// The work vector left holding the working right-hand side (state 1).
void copy_rhs_to_work_vector() {
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> w = work_vector();
  if (!w) return;
  for (int32_t i = 1; i <= nrow; ++i) w[i] = rhs[i];
  factor.work_vector_state = WV_CLEAR_ALL;
}

void values_from_factor() {
  if ((problem_flags & PF_FACTOR_VALID) == 0) return;
  compute_basic_values();
  check_basic_feasibility();
}

void message_with_exact_real(int32_t n, double value) {
  begin_message(n);
  set_message_zero_tolerance(0.0);
  insert_message_real(value);
  set_message_zero_tolerance(dcv(dc::ZTOLPZ));
  emit_message();
}

}  // namespace

void apply_rhs_shift() {
  if (icv(ic::IFMSG) != 0) message_with_exact_real(MSG_PERTURBATION_APPLIED, perturbation_size);
  ++primal_engine_stats.rhs_shifts;
  shift_active = 1;
  perturbation_phase = 1;
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> b = real_array(ARR_RHS);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 1; i <= nrow; ++i) rhs[i] = b[i];
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if ((status[j] & PS_FIXED) == 0) add_column(rhs, j, -perturbation_size);
  copy_rhs_to_work_vector();
}

void remove_rhs_shift() {
  const int32_t removed = shift_count;
  report_shift_removal();
  ++primal_engine_stats.shift_removals;
  if (perturbation_phase > 2) {
    perturbation_phase = 2;
    if (ratio_tolerance > dcv(dc::ZTOLRF)) ratio_tolerance = dcv(dc::ZTOLRF);
  }
  shift_count = 0;
  shift_active = 0;
  if (free_columns_boxed != 0) clear_candidate_flags();
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> b = real_array(ARR_RHS);
  for (int32_t i = 1; i <= nrow; ++i) rhs[i] = b[i];
  values_from_factor();
  double& suminf_at_removal = dcv(dslot::kSuminfAtRemoval);
  const bool no_progress = ninf > 0 && suminf >= suminf_at_removal && removed > 0 &&
                           itcnt - itcnt_at_removal < static_cast<int64_t>(icv(ic::ISHFMX)) && removed >= shifts_at_removal;
  if (no_progress) {
    // A small residual is accepted only when it is within the tolerance in
    // the caller's units: an infeasible basis is never called optimal.
    if (suminf < kAcceptableResidualSum) {
      if (infeasibilities_within_caller_tolerance()) {
        begin_message(MSG_SMALL_INFEASIBILITY_ACCEPTED);
        insert_message_real(suminf);
        emit_message();
        ninf = 0;
        update_count = 0;
      } else {
        note_residual_refused();
      }
    }
    primal_end_flags |= PEF_SMALL_INFEASIBILITY;
    problem_state = 3;
  }
  itcnt_at_removal = itcnt;
  shifts_at_removal = removed;
  suminf_at_removal = suminf;
}

void absorb_infeasibility() {
  ++primal_engine_stats.absorptions;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t j = header[i];
    if ((status[j] & PS_FREE) != 0) continue;
    if ((status[j] & PS_FINITE_LOWER) != 0 && values[i] < lower[j])
      values[i] = lower[j];
    else if (basic_upper[i] < kInfinity && values[i] > basic_upper[i])
      values[i] = basic_upper[i];
  }
  // B x_B + N x_N with the placed basic values and the non-basic values the
  // basic-value computation subtracts, so that it gives back the placed ones.
  for (int32_t i = 1; i <= nrow; ++i) rhs[i] = 0.0;
  for (int32_t i = 1; i <= nrow; ++i) add_column(rhs, header[i], values[i]);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t s = status[i];
    if ((s & PS_BASIC) != 0) continue;
    if ((s & PS_AT_UPPER) != 0)
      rhs[i] += upper[i];
    else if ((s & PS_NONBASIC_BETWEEN) != 0)
      rhs[i] += x[i];
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & PS_BASIC) != 0) continue;
    double v;
    if ((s & PS_NONBASIC_BETWEEN) != 0)
      v = x[j];
    else if ((s & PS_FREE) != 0)
      continue;
    else
      v = (s & PS_AT_UPPER) != 0 ? upper[j] : lower[j];
    add_column(rhs, j, v);
  }
  values_from_factor();
  shift_active = 2;
  perturbation_phase = 3;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_INFEASIBILITY_ABSORBED);
    emit_message();
  }
}

void clear_candidate_flags() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p)
    if ((status[p] & (PS_FINITE_LOWER | PS_FINITE_UPPER)) != 0) status[p] &= ~PS_FREE;
  free_columns_boxed = 0;
}

}  // namespace kl
