// One column's working bound changes; the activity data of its rows follow.
#include <cmath>
#include <utility>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/presolve_state.h"
#include "presolve/reduce_pass.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// A sum cancelled down to this many zero tolerances is rebuilt from its
// terms, so that rounding noise does not pose as a finite activity.
constexpr double kCancellationFactor = 1000.0;

// Threshold of the semi-continuous entity on column j, or 0 when it has none.
double semicontinuous_threshold(int32_t j) {
  if (nglent <= 0 || array_cells[ARR_ENTITY_TYPE] == nullptr || array_cells[ARR_SEMICONT_LIMIT] == nullptr) return 0.0;
  const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  const OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = 1; e <= nglent; ++e) {
    if (column[e] == j && (type[e] & ENT_TYPE_MASK) == ENT_SEMICONTINUOUS) return real_array(ARR_SEMICONT_LIMIT)[e];
  }
  return 0.0;
}

bool has_semicontinuous_or_partial() {
  if (nglent <= 0 || array_cells[ARR_ENTITY_TYPE] == nullptr) return false;
  const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t t = type[e] & ENT_TYPE_MASK;
    if (t == ENT_SEMICONTINUOUS || t == ENT_PARTIAL_INTEGER) return true;
  }
  return false;
}

// Rounds or lifts the working lower bound of an entity column.
void round_lower_bound(int32_t j, bool write_problem) {
  const int32_t status = int_array(ARR_POS_STATUS)[j];
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const double l = search_lower[j];
  const double u = real_array(ARR_WORK_UPPER)[j];
  const double tol = dcv(dc::ZTOLZE);
  double rounded = l;
  if ((status & PS_INTEGER) != 0) {
    const double up = std::trunc((l >= 0.0 ? l + 1.0 : l) - tol);
    if (l < up) {
      rounded = up;
      if (u < up && up <= u + dcv(dc::ZTOLIS) + dcv(dc::ZTETA) && l <= u) rounded = u;
    }
  } else if ((status & PS_ENTITY) != 0 && l >= dcv(dc::ZTOLIS) && has_semicontinuous_or_partial()) {
    const double threshold = semicontinuous_threshold(j);
    if (l < threshold) rounded = threshold;
  }
  if (rounded == l) return;
  search_lower[j] = rounded;
  if (write_problem) real_array(ARR_LOWER)[j] = rounded;
  ++presolve_state.rounded_bounds;
}

void round_upper_bound(int32_t j, bool write_problem) {
  const int32_t status = int_array(ARR_POS_STATUS)[j];
  if ((status & PS_INTEGER) == 0) return;
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  const double u = search_upper[j];
  const double l = real_array(ARR_WORK_LOWER)[j];
  const double down = std::trunc((u < 0.0 ? u - 1.0 : u) + dcv(dc::ZTOLZE));
  if (down >= u) return;
  double rounded = down;
  if (down < l && l - dcv(dc::ZTOLIS) - dcv(dc::ZTETA) <= down && l <= u) rounded = l;
  search_upper[j] = rounded;
  if (write_problem) real_array(ARR_UPPER)[j] = rounded;
  ++presolve_state.rounded_bounds;
}

// Both activity sums of row i rebuilt from the working bounds of its live
// columns; the infinite counts stay.
void recompute_row_sums(int32_t i) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const PresolveRowCopy& copy = presolve_row_copy;
  double max_sum = 0.0;
  double min_sum = 0.0;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t j = copy.column[k];
    if (j == 0 || (status[j] & PS_FIXED) != 0) continue;
    const double a = elem_value[copy.element[k]];
    const bool u_finite = (status[j] & kImpliedUpperFinite) != 0;
    const bool l_finite = (status[j] & kImpliedLowerFinite) != 0;
    if (a <= 0.0) {
      if (u_finite) min_sum += a * search_upper[j];
      if (l_finite) max_sum += a * search_lower[j];
    } else {
      if (u_finite) max_sum += a * search_upper[j];
      if (l_finite) min_sum += a * search_lower[j];
    }
  }
  search_upper[i] = max_sum;
  search_lower[i] = min_sum;
}

bool cancelled(double sum) { return sum != 0.0 && std::fabs(sum) < kCancellationFactor * dcv(dc::ZTOLZE); }

// Row i's entry of column j moved behind the row's live part.
void move_entry_out_of_live_part(int32_t i, int32_t j) {
  PresolveRowCopy& copy = presolve_row_copy;
  const int32_t last = copy.start[i] + presolve_activity.positive[i] + presolve_activity.negative[i];
  if (last >= copy.start[i + 1]) return;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    if (copy.column[k] != j) continue;
    std::swap(copy.column[k], copy.column[last]);
    std::swap(copy.element[k], copy.element[last]);
    return;
  }
}

}  // namespace

void add_fixed_quadratic_terms(int32_t j, double v) {
  if (nqelem <= 0 || (int_array(ARR_POS_STATUS)[j] & PS_QUADRATIC) == 0) return;
  const OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  const OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  const OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  const OneBased<double> value = real_array(ARR_QUAD_VALUES);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (const OneBased<int32_t>& start : {upper_start, lower_start}) {
    for (int32_t q = start[j]; q < start[j + 1]; ++q) {
      if (index[q] == j) dcv(kObjectiveConstantSlot) += 0.5 * value[q] * v * v;
      else cost[index[q]] += v * value[q];
    }
  }
}

int32_t tighten_column_bound(int32_t code, int32_t column, double old_lower, double old_upper) {
  const int32_t j = column;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  PresolveActivityCounts& counts = presolve_activity;
  const double tol = dcv(dc::ZTOLZE);
  const double drop = dcv(dc::ZTOLDA);
  const bool write_problem = (code & 4) != 0;
  const bool entity_rounding = (icv(ic::IPSLCT) & kSelectNoEntitySweeps) == 0;
  int32_t result = 0;

  if (search_upper[j] < search_lower[j] && search_lower[j] < search_upper[j] + tol) {
    if ((code & 1) != 0) search_lower[j] = search_upper[j];
    else search_upper[j] = search_lower[j];
  }

  double lower_delta = 0.0;
  double upper_delta = 0.0;
  bool lower_became_finite = false;
  bool upper_became_finite = false;
  if ((code & 1) != 0) {
    if (entity_rounding) round_lower_bound(j, write_problem);
    const double l = search_lower[j];
    if ((status[j] & kImpliedLowerFinite) == 0) {
      if (l > -kPresolveInfinity) {
        status[j] |= kImpliedLowerFinite;
        lower_delta = l;
        lower_became_finite = true;
      }
    } else {
      lower_delta = l - old_lower;
      if (std::fabs(lower_delta) < drop) lower_delta = 0.0;
    }
    if (write_problem && l > -kPresolveInfinity) {
      lower[j] = l;
      status[j] |= PS_FINITE_LOWER;
    }
  }
  if ((code & 2) != 0) {
    result = 1;
    if (entity_rounding) round_upper_bound(j, write_problem);
    const double u = search_upper[j];
    if ((status[j] & kImpliedUpperFinite) == 0) {
      if (u < kPresolveInfinity) {
        status[j] |= kImpliedUpperFinite;
        upper_delta = u;
        upper_became_finite = true;
      }
    } else {
      upper_delta = u - old_upper;
      if (std::fabs(upper_delta) < drop) upper_delta = 0.0;
    }
    if (write_problem && u < kPresolveInfinity) {
      upper[j] = u;
      status[j] |= PS_FINITE_UPPER;
    }
  }
  const bool both_finite = (status[j] & kImpliedLowerFinite) != 0 && (status[j] & kImpliedUpperFinite) != 0;
  if (both_finite && search_upper[j] - search_lower[j] < -tol) return -(nrow + 1);

  bool fixed = false;
  int32_t rows_touched = 0;
  if (write_problem) {
    if (upper[j] - lower[j] > drop) {
      if ((status[j] & PS_FREE) != 0) {
        status[j] &= ~PS_FREE;
        if (upper[j] < kInfinity) status[j] |= PS_FINITE_UPPER;
        if (lower[j] > -kInfinity) status[j] |= PS_FINITE_LOWER;
      }
    } else {
      fixed = true;
      // The problem's own bound: a working bound of 1e8 or more in
      // magnitude is only the placeholder of an infinite one.
      const double v = lower[j];
      status[j] = (status[j] | PS_FIXED) & ~PS_FREE;
      search_lower[j] = v;
      search_upper[j] = v;
      lower[j] = v;
      upper[j] = v;
      dcv(kObjectiveConstantSlot) += v * real_array(ARR_OBJECTIVE)[j];
      add_fixed_quadratic_terms(j, v);
      OneBased<double> rhs = work_vector();
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
        const int32_t i = elem_row[e];
        if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
        const double a = elem_value[e];
        rhs[i] -= v * a;
        if (a <= 0.0) --counts.negative[i];
        else --counts.positive[i];
        if ((code & 8) == 0) move_entry_out_of_live_part(i, j);
        ++rows_touched;
      }
      // The whole term leaves the sums: a finite side takes back the bound
      // it was summed with, an infinite one leaves its row's count.
      if ((status[j] & kImpliedLowerFinite) == 0) lower_became_finite = true;
      if ((status[j] & kImpliedUpperFinite) == 0) upper_became_finite = true;
      lower_delta = lower_became_finite ? 0.0 : -old_lower;
      upper_delta = upper_became_finite ? 0.0 : -old_upper;
    }
  }

  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
    const int32_t i = elem_row[e];
    if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
    row_type[i] |= kRowExamine;
    const double a = elem_value[e];
    const bool negative = a <= 0.0;
    double& lower_side = negative ? search_upper[i] : search_lower[i];
    double& upper_side = negative ? search_lower[i] : search_upper[i];
    int32_t& lower_count = negative ? counts.max_infinite[i] : counts.min_infinite[i];
    int32_t& upper_count = negative ? counts.min_infinite[i] : counts.max_infinite[i];
    bool recompute = false;
    lower_side += a * lower_delta;
    if (lower_became_finite) --lower_count;
    else if ((code & 1) != 0 && cancelled(lower_side)) recompute = true;
    upper_side += a * upper_delta;
    if (upper_became_finite) --upper_count;
    else if (cancelled(upper_side)) recompute = true;
    if (recompute) recompute_row_sums(i);
  }
  return fixed ? -rows_touched : result;
}

}  // namespace kl
