#include "factor/solves.h"

#include <cmath>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

// ---------------------------------------------------------------------------
// Dense pieces, shared with the fall-backs of the hypersparse solves.

namespace {

// Column-layout etas between two boundaries, from the top down: each is a
// scatter from its pivot row.
void ftran_column_etas(OneBased<double> x, int32_t top_boundary, int32_t bottom) {
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  for (int32_t t = top_boundary; t > bottom;) {
    const int32_t count = slot_low_word(t);
    const int32_t pivot = t - 1;
    const int32_t r = rows[pivot];
    if (!high_word_zero(x[r])) {
      const double xr = x[r] * values[pivot];
      x[r] = xr;
      for (int32_t s = pivot - 1; s >= pivot - count; --s) x[rows[s]] -= xr * values[s];
    }
    t = t - 2 - count;
  }
}

}  // namespace

void ftran_invert_records_from(OneBased<double> x, int32_t top_boundary) {
  ftran_column_etas(x, top_boundary, invert_records_bottom());
}

void ftran_row_etas_from(OneBased<double> x, int32_t top_boundary) {
  if (row_eta_records() == 0) return;
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  const int32_t bottom = eta_file.eta_capacity - eta_file.invert_part_size;
  for (int32_t t = top_boundary; t > bottom;) {
    const int32_t count = slot_low_word(t);
    const int32_t r = rows[t];
    double sum = 0.0;
    for (int32_t s = t - 1; s >= t - count; --s) sum += values[s] * x[rows[s]];
    const int32_t pivot = t - 1 - count;
    x[r] = (x[r] - sum) * values[pivot];
    t = t - 2 - count;
  }
}

void ftran_row_etas(OneBased<double> x) { ftran_row_etas_from(x, invert_records_bottom()); }

void btran_row_etas_from(OneBased<double> x, int32_t bottom_boundary, double drop_tolerance) {
  if (row_eta_records() == 0) return;
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  const int32_t top = invert_records_bottom();
  for (int32_t b = bottom_boundary; b < top;) {
    const int32_t count = slot_high_word(b);
    const int32_t pivot = b + 1;
    const int32_t r = rows[pivot];
    if (!high_word_zero(x[r])) {
      const double xr = x[r] * values[pivot];
      if (drop_tolerance > 0.0 && std::fabs(xr) < drop_tolerance) {
        x[r] = 0.0;
      } else {
        x[r] = xr;
        for (int32_t s = b + 2; s <= b + 1 + count; ++s) x[rows[s]] -= xr * values[s];
      }
    }
    b = b + 2 + count;
  }
}

namespace {

// Column-layout etas between two boundaries, from the bottom up: each is a
// dot product into its pivot row.
void btran_column_etas(OneBased<double> x, int32_t bottom_boundary, int32_t top) {
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  for (int32_t b = bottom_boundary; b < top;) {
    const int32_t count = slot_high_word(b);
    double sum = 0.0;
    for (int32_t s = b + 1; s <= b + count; ++s) sum += values[s] * x[rows[s]];
    const int32_t pivot = b + count + 1;
    const int32_t r = rows[pivot];
    x[r] = (x[r] - sum) * values[pivot];
    b = b + count + 2;
  }
}

}  // namespace

void btran_invert_records_from(OneBased<double> x, int32_t bottom_boundary) {
  btran_column_etas(x, bottom_boundary, eta_file.eta_capacity);
}

void ftran_product_form_etas(OneBased<double> x) {
  if (eta_file.product_form_count == 0) return;
  ftran_column_etas(x, invert_records_bottom(), eta_file.eta_capacity - eta_file.invert_part_size);
}

void btran_product_form_etas(OneBased<double> x) {
  if (eta_file.product_form_count == 0) return;
  btran_column_etas(x, eta_file.eta_capacity - eta_file.invert_part_size, invert_records_bottom());
}

void btran_u_file(OneBased<double> x) {
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  int32_t a = kUSentinelRecord + slot_low_word(kUSentinelRecord);
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t count = slot_low_word(a - 1);
    double sum = 0.0;
    for (int32_t s = a + 1; s <= a + count; ++s) sum += values[s] * x[labels[s]];
    x[labels[a]] -= sum;
    a += slot_low_word(a);
  }
}

// ---------------------------------------------------------------------------
// The four passes. Each leaves the work vector dense: its nonzero list, if
// any, no longer describes it.

void ftran_invert_part() {
  OneBased<double> x = work_vector();
  ftran_invert_records_from(x, eta_file.eta_capacity);
  ftran_row_etas(x);
  factor.work_vector_state = WV_CLEAR_ALL;
}

void ftran_update_part(OneBased<double> vector) {
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  int32_t a = eta_file.u_last_record;
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t count = slot_low_word(a - 1);
    const double xh = vector[labels[a]];
    if (xh != 0.0) {
      for (int32_t s = a + 1; s <= a + count; ++s) vector[labels[s]] -= xh * values[s];
    }
    a -= slot_high_word(a - 1);
  }
  ftran_product_form_etas(vector);
  if (vector.data() == work_vector().data()) factor.work_vector_state = WV_CLEAR_ALL;
}

void btran_update_part() {
  OneBased<double> x = work_vector();
  btran_product_form_etas(x);
  btran_u_file(x);
  factor.work_vector_state = WV_CLEAR_ALL;
}

void btran_invert_part() {
  OneBased<double> x = work_vector();
  btran_row_etas_from(x, eta_file.eta_capacity - eta_file.invert_part_size, 0.0);
  btran_invert_records_from(x, invert_records_bottom());
  factor.work_vector_state = WV_CLEAR_ALL;
}

// ---------------------------------------------------------------------------
// Product-form configuration: the passes above already apply the update
// etas where they belong, so these are the full solves under other names.

void eta_backward_pass() {
  ftran_invert_part();
  ftran_update_part(work_vector());
}

void btran_product_form() {
  btran_update_part();
  btran_invert_part();
}

void basis_solve_work_vector() {
  ftran_invert_part();
  ftran_update_part(work_vector());
}

void basis_btran_work_vector() {
  btran_update_part();
  btran_invert_part();
}

// ---------------------------------------------------------------------------
// Work-vector services.

void sparsify_work_vector(double tolerance) {
  OneBased<double> x = work_vector();
  OneBased<int32_t> list = work_list();
  const uint32_t limit = magnitude_high_word(tolerance);
  int32_t count = 0;
  for (int32_t i = 1; i <= factor.factor_dimension; ++i) {
    const uint32_t high = magnitude_high_word(x[i]);
    // A zero high word is a zero or a denormal; both leave as exact zeros so
    // that the list holds every nonzero.
    if (high == 0 || high < limit) {
      x[i] = 0.0;
      continue;
    }
    list[++count] = i;
  }
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
}

void clear_work_vector() {
  OneBased<double> x = work_vector();
  if (!x) return;
  if (factor.work_vector_state == WV_LISTED) {
    OneBased<int32_t> list = work_list();
    for (int32_t k = 1; k <= factor.work_vector_count; ++k) x[list[k]] = 0.0;
  } else if (factor.work_vector_state != WV_ZERO) {
    for (int32_t i = 1; i <= factor.factor_dimension; ++i) x[i] = 0.0;
  }
}

void get_eta_file_usage(int32_t& first, int32_t& second) {
  first = eta_file.u_file_end + eta_file.invert_part_size;
  second = 0;
}

// ---------------------------------------------------------------------------
// The exported solves.

namespace {

// Makes the factor valid and unpermuted; false when the invert failed.
bool factor_ready_for_user_solve() {
  if ((problem_flags & PF_FACTOR_VALID) != 0 && factor.factor_permuted == 0) return true;
  factor.factor_permuted = 0;
  invert_basis(InvertReason::kUserSolve);
  return status_code == STATUS_OK && (problem_flags & PF_FACTOR_VALID) != 0;
}

// Scale of the basic variable at position i for a solution value: 2^(e_j-64)
// for a structural, 2^(64-e_j) for a slack.
double basic_scale(int32_t i) {
  const int32_t j = int_array(ARR_BASIS_HEADER)[i];
  const double f = scale_power(scale_exponent(int_array(ARR_POS_STATUS)[j]));
  return j >= store.first_col ? f : 1.0 / f;
}

double row_scale(int32_t i) { return scale_power(scale_exponent(int_array(ARR_POS_STATUS)[i])); }

enum class SolveKind { kForward, kBackward };

void user_solve(double* vector, int32_t flag, SolveKind kind) {
  begin_body();
  if (!require_problem()) return;
  if (vector == nullptr) {
    report_error(MSG_NULL_ARGUMENT, 1, kind == SolveKind::kForward ? "ftran   " : "btran   ");
    return;
  }
  if (!factor_ready_for_user_solve()) return;
  OneBased<double> x = work_vector();
  clear_work_vector();
  const bool caller_form = flag == 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    double v = vector[i - 1];
    if (caller_form) v *= kind == SolveKind::kForward ? row_scale(i) : basic_scale(i);
    x[i] = v;
  }
  factor.work_vector_state = WV_CLEAR_ALL;
  if (kind == SolveKind::kForward)
    basis_solve_work_vector();
  else
    basis_btran_work_vector();
  sparsify_work_vector(dcv(dc::ZTETA));
  if (caller_form) {
    OneBased<int32_t> list = work_list();
    for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
      const int32_t i = list[k];
      x[i] *= kind == SolveKind::kForward ? basic_scale(i) : row_scale(i);
    }
  }
  for (int32_t i = 1; i <= nrow; ++i) vector[i - 1] = x[i];
  clear_work_vector();
  factor.work_vector_state = WV_ZERO;
}

}  // namespace

void ftran_user_vector(double* vector, int32_t flag) { user_solve(vector, flag, SolveKind::kForward); }

void btran_user_vector(double* vector, int32_t flag) { user_solve(vector, flag, SolveKind::kBackward); }

void btran_unit_row(int32_t r, double value) {
  clear_work_vector();
  work_vector()[r] = value;
  work_list()[1] = r;
  factor.work_vector_count = 1;
  factor.work_vector_state = WV_LISTED;
  if (icv(ic::IFFTUP) == 0) {
    basis_btran_work_vector();
  } else {
    sparse_solve_heap_ordered();
    if (factor.work_vector_state == WV_CLEAR_ALL)
      btran_invert_part();
    else
      sparse_triangular_solve_heap();
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
}

}  // namespace kl
