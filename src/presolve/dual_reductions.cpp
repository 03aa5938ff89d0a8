// Reductions by the sign a column's reduced cost or a row's dual must take:
// zero-cost columns that no row stops, columns whose reduced cost keeps one
// sign over the rows' dual bounds, and new dual bounds from columns with an
// infinite bound.
#include <cmath>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/reduce_pass.h"
#include "presolve/round_work.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

namespace {

constexpr int32_t kSetterOrRemoved = PS_FIXED | kDualLowerSetter | kDualUpperSetter;

bool dual_candidate(int32_t j) {
  const int32_t s = int_array(ARR_POS_STATUS)[j];
  if ((s & kSetterOrRemoved) != 0 || (s & kKeepOrQuadratic) != 0) return false;
  return !(nsets > 0 && (s & PS_ENTITY) != 0);
}

template <class Visit>
void for_live_rows(int32_t j, Visit visit) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
    const int32_t i = elem_row[e];
    if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
    if (!visit(i, elem_value[e])) return;
  }
}

// Zero-cost column j that no row stops in direction -1 (down) or -2 (up):
// it leaves with all its rows, which it can always satisfy.
void remove_dominated_column(int32_t j, int32_t direction) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  PresolveRecord record;
  std::vector<int32_t> rows;
  for_live_rows(j, [&](int32_t i, double a) {
    if (w.later) {
      append_row_list(record, i, j);
      record.reals.push_back(0.0);
    }
    record.ints.push_back(i);
    record.reals.push_back(work_vector()[i]);
    record.reals.push_back(a);
    rows.push_back(i);
    return true;
  });
  for (int32_t v : {static_cast<int32_t>(rows.size()), j, w.later ? direction : -direction,
                    static_cast<int32_t>(REC_DOMINATED_COLUMN)})
    record.ints.push_back(v);
  record.reals.push_back(direction == -1 ? upper[j] : lower[j]);
  if (!push_round_record(record)) return;
  for (int32_t i : rows) remove_round_row(i, live_entries(i));
  status[j] = (status[j] | PS_FIXED) & ~PS_FREE;
  real_array(ARR_WORK_UPPER)[j] = 0.0;
  real_array(ARR_WORK_LOWER)[j] = 0.0;
  upper[j] = lower[j];
  ++w.columns_removed;
}

uint32_t status_of_column(int32_t j) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[j]); }

// Column j fixed at a bound by the lock test (direction 1 lower, 2 upper).
void fix_at_locked_bound(int32_t j, int32_t direction) {
  RoundWork& w = round_work;
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const double old_l = search_lower[j];
  const double old_u = search_upper[j];
  // The column goes to its own bound, which its working bounds may not
  // hold: they stop at 1e8 in magnitude.
  double value = direction == 1 ? lower[j] : upper[j];
  // Inside the search an integer column is fixed at the integer its bound
  // allows: a bound a singleton row left fractional (x <= 2/3) would fix it
  // at a value no integer solution has.
  if (w.entity_sweeps && (status_of_column(j) & PS_INTEGER) != 0) {
    const double ztolis = dcv(dc::ZTOLIS);
    value = direction == 1 ? std::ceil(value - ztolis) : std::floor(value + ztolis);
  }
  lower[j] = value;
  upper[j] = value;
  search_lower[j] = value;
  search_upper[j] = value;
  const int32_t result = tighten_column_bound(direction + 4, j, old_l, old_u);
  ++w.columns_removed;
  if (result < 0 && result >= -nrow) w.elements_removed += -result;
  // The value the column was fixed at, after any rounding of its bound.
  push_round_record(PresolveRecord{{j, w.later ? -direction : direction, REC_COLUMN_AT_BOUND}, {lower[j]}});
}

}  // namespace

void fix_locked_zero_cost_columns() {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t j = store.first_col; j <= nseq && !w.stop; ++j) {
    if (!dual_candidate(j) || real_array(ARR_OBJECTIVE)[j] != 0.0) continue;
    bool stopped = false;
    bool up_blocked = false;
    bool down_blocked = false;
    for_live_rows(j, [&](int32_t i, double a) {
      if ((status[i] & kKeepOrQuadratic) != 0 || (status[i] & PS_BASIC) == 0 ||
          (row_type[i] & kRowEquality) != 0) {
        stopped = true;
        return false;
      }
      const bool has_upper = (status[i] & PS_FINITE_LOWER) != 0;
      const bool has_lower = (status[i] & PS_FINITE_UPPER) != 0;
      if (a > 0.0 ? has_upper : has_lower) up_blocked = true;
      if (a > 0.0 ? has_lower : has_upper) down_blocked = true;
      return !(up_blocked && down_blocked);
    });
    if (stopped || (up_blocked && down_blocked)) continue;
    const bool lower_finite = (status[j] & PS_FINITE_LOWER) != 0;
    const bool upper_finite = (status[j] & PS_FINITE_UPPER) != 0;
    int32_t direction = 0;
    if (!down_blocked && !up_blocked) direction = lower_finite ? 1 : (upper_finite ? 2 : 0);
    else if (!down_blocked) direction = lower_finite ? 1 : -1;
    else direction = upper_finite ? 2 : -2;
    if (direction < 0) remove_dominated_column(j, direction);
    else if (direction > 0) fix_at_locked_bound(j, direction);
  }
}

bool dual_row_check(int32_t i) {
  const RoundWork& w = round_work;
  const int32_t s = int_array(ARR_POS_STATUS)[i];
  const int32_t type = int_array(ARR_ROW_TYPE)[i];
  if ((type & kRowEquality) != 0 || (s & kKeepOrQuadratic) != 0) return false;
  const double ztcost = dcv(dc::ZTCOST);
  const bool upper_dual_finite = (type & kRowDualUpperInfinite) == 0;
  const bool lower_dual_finite = (type & kRowDualLowerInfinite) == 0;
  if ((upper_dual_finite && w.dual_upper[i] < -ztcost && (s & PS_FINITE_LOWER) == 0) ||
      (lower_dual_finite && w.dual_lower[i] > ztcost && (s & PS_FINITE_UPPER) == 0)) {
    round_unbounded(i, 2);
    return true;
  }
  return false;
}

namespace {

// Sums of a_rj y_r over column j's live rows at the ends of the dual bounds.
struct DualSums {
  double max_sum = 0.0;
  double min_sum = 0.0;
  int32_t max_infinite = 0;
  int32_t min_infinite = 0;
  // Self flags: 2 when the maximum does not use a bound j set itself, 1
  // when the minimum does not (from the last live row; both for a column
  // without rows, whose sums use no bound at all).
  int32_t self = 3;
  int32_t last_row = 0;
  int32_t rows = 0;
  bool stopped = false;
};

DualSums dual_sums(int32_t j) {
  const RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  DualSums sums;
  for_live_rows(j, [&](int32_t i, double a) {
    if ((status[i] & kKeepOrQuadratic) != 0) {
      sums.stopped = true;
      return false;
    }
    const bool upper_finite = (row_type[i] & kRowDualUpperInfinite) == 0;
    const bool lower_finite = (row_type[i] & kRowDualLowerInfinite) == 0;
    const bool max_uses_upper = a > 0.0;
    if (max_uses_upper ? upper_finite : lower_finite) sums.max_sum += a * (max_uses_upper ? w.dual_upper[i] : w.dual_lower[i]);
    else ++sums.max_infinite;
    if (max_uses_upper ? lower_finite : upper_finite) sums.min_sum += a * (max_uses_upper ? w.dual_lower[i] : w.dual_upper[i]);
    else ++sums.min_infinite;
    const int32_t max_setter = max_uses_upper ? w.upper_setter[i] : w.lower_setter[i];
    const int32_t min_setter = max_uses_upper ? w.lower_setter[i] : w.upper_setter[i];
    sums.self = (max_setter != j ? 2 : 0) | (min_setter != j ? 1 : 0);
    sums.last_row = i;
    ++sums.rows;
    return true;
  });
  return sums;
}

// Fixes column j at its lower (code 1), upper (2) bound or at 0 (0).
void fix_by_reduced_cost(int32_t j, int32_t code, int32_t trace_row) {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  // The basis stays as it is: a basic column, or one at upper that would
  // move to its lower bound, is not fixed.
  if ((status[j] & PS_BASIC) != 0 || (code == 1 && (status[j] & PS_AT_UPPER) != 0)) {
    w.basis_refused = true;
    return;
  }
  const double value = code == 1 ? lower[j] : code == 2 ? upper[j] : 0.0;
  if (w.tracing && trace_row != 0) (code == 1 ? w.trace_upper : w.trace_lower)[j] = trace_row;
  const double old_l = search_lower[j];
  const double old_u = search_upper[j];
  search_lower[j] = value;
  search_upper[j] = value;
  lower[j] = value;
  upper[j] = value;
  const int32_t result = tighten_column_bound(7, j, old_l, old_u);
  ++presolve_cost_fixings;
  ++w.columns_removed;
  if (result < 0 && result >= -nrow) w.elements_removed += -result;
  push_round_record(PresolveRecord{{j, code, REC_COLUMN_AT_BOUND}, {lower[j]}});
}

// New dual bounds of column j's rows from the sign its reduced cost must
// keep where its own bound is infinite.
void propagate_dual_bounds(int32_t j, double c, DualSums sums) {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const double ztcost = dcv(dc::ZTCOST);
  bool upper_infinite = (status[j] & PS_FINITE_UPPER) == 0;
  const bool lower_infinite = (status[j] & PS_FINITE_LOWER) == 0;
  for_live_rows(j, [&](int32_t r, double a) {
    // Read afresh at every use: the first update below may make r's bound
    // finite, and the second must then take r's own term out of the sum.
    auto du_infinite = [&] { return (row_type[r] & kRowDualUpperInfinite) != 0; };
    auto dl_infinite = [&] { return (row_type[r] & kRowDualLowerInfinite) != 0; };
    if (a == 0.0) return true;
    // Raises r's dual lower bound to R (the maximum of a y grows with it
    // for a <= 0, the minimum for a > 0).
    auto raise_lower = [&](double R, double& sum, int32_t& count) {
      if (!dl_infinite()) {
        if (R < w.dual_lower[r] + ztcost) return false;
        sum += (R - w.dual_lower[r]) * a;
      } else {
        row_type[r] &= ~kRowDualLowerInfinite;
        --count;
        sum += a * R;
      }
      w.dual_lower[r] = R;
      set_dual_lower_setter(r, j);
      return true;
    };
    auto lower_upper = [&](double R, double& sum, int32_t& count) {
      if (!du_infinite()) {
        if (R > w.dual_upper[r] - ztcost) return false;
        sum += (R - w.dual_upper[r]) * a;
      } else {
        row_type[r] &= ~kRowDualUpperInfinite;
        --count;
        sum += a * R;
      }
      w.dual_upper[r] = R;
      set_dual_upper_setter(r, j);
      return true;
    };
    if (a < 0.0) {
      if (upper_infinite && (sums.min_infinite == 0 || (sums.min_infinite == 1 && du_infinite()))) {
        const double R = (c - sums.min_sum) / a + (du_infinite() ? 0.0 : w.dual_upper[r]);
        raise_lower(R, sums.max_sum, sums.max_infinite);
      }
      if (lower_infinite && (sums.max_infinite == 0 || (sums.max_infinite == 1 && dl_infinite()))) {
        const double R = (c - sums.max_sum) / a + (dl_infinite() ? 0.0 : w.dual_lower[r]);
        lower_upper(R, sums.min_sum, sums.min_infinite);
      }
    } else {
      if (upper_infinite && (sums.min_infinite == 0 || (sums.min_infinite == 1 && dl_infinite()))) {
        const double R = (c - sums.min_sum) / a + (dl_infinite() ? 0.0 : w.dual_lower[r]);
        // Later rows must not lean on the bound this column just gave.
        if (lower_upper(R, sums.max_sum, sums.max_infinite)) upper_infinite = false;
      }
      if (lower_infinite && (sums.max_infinite == 0 || (sums.max_infinite == 1 && du_infinite()))) {
        const double R = (c - sums.max_sum) / a + (du_infinite() ? 0.0 : w.dual_upper[r]);
        raise_lower(R, sums.min_sum, sums.min_infinite);
      }
    }
    return true;
  });
}

}  // namespace

void test_reduced_costs() {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double ztcost = dcv(dc::ZTCOST);
  for (int32_t j = store.first_col; j <= nseq && !w.stop; ++j) {
    if (!dual_candidate(j)) continue;
    const DualSums sums = dual_sums(j);
    if (sums.stopped) continue;
    const double c = minimising_cost(j);
    const bool lower_finite = (status[j] & PS_FINITE_LOWER) != 0;
    const bool upper_finite = (status[j] & PS_FINITE_UPPER) != 0;
    // Cleared when the lower side sends the column on to the propagation.
    bool try_upper = true;
    if (sums.max_infinite == 0 && c - sums.max_sum >= -ztcost) {
      if (c - sums.max_sum >= ztcost) {
        if (!lower_finite) {
          round_unbounded(j, 1);
          return;
        }
        fix_by_reduced_cost(j, 1, sums.last_row);
        continue;
      }
      if (!lower_finite) {
        if (sums.rows == 0) {
          fix_by_reduced_cost(j, upper_finite ? 2 : 0, 0);
          continue;
        }
      } else if ((sums.self & 2) != 0) {
        if (sums.rows == 0 || w.zero_reduced_cost) {
          fix_by_reduced_cost(j, 1, sums.last_row);
          continue;
        }
      } else {
        try_upper = false;
      }
    }
    if (try_upper && sums.min_infinite == 0 && c - sums.min_sum <= ztcost &&
        (c - sums.min_sum <= -ztcost || (w.zero_reduced_cost && (sums.self & 1) != 0 && upper_finite))) {
      if (!upper_finite) {
        round_unbounded(j, 1);
        return;
      }
      fix_by_reduced_cost(j, 2, sums.last_row);
      continue;
    }
    if (w.entity_sweeps && (status[j] & PS_ENTITY) != 0) continue;
    if (lower_finite && upper_finite) continue;
    if (sums.min_infinite >= 2 && sums.max_infinite >= 2) continue;
    propagate_dual_bounds(j, c, sums);
  }
}

}  // namespace kl
