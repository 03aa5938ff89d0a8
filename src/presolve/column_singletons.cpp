// Columns with a single live row: a zero-cost one becomes part of its row's
// slack, one with a cost bounds the row's dual value, and one left implied
// free by its row is substituted out of the objective at the round's end.
#include <cmath>
#include <utility>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/round_work.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// The live row of singleton j and its coefficient; row 0 when none.
std::pair<int32_t, double> singleton_row(int32_t j) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
    const int32_t i = elem_row[e];
    if (i >= 1 && i <= nrow && (status[i] & kRowRemoved) == 0) return {i, real_array(ARR_ELEM_VALUE)[e]};
  }
  return {0, 0.0};
}

bool any_row_kept(int32_t j) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
    const int32_t i = elem_row[e];
    if (i >= 1 && i <= nrow && (status[i] & kKeepOrQuadratic) != 0) return true;
  }
  return false;
}

// Range [lo, hi] of a x_j over j's bounds, +-1e20 where a bound is infinite.
std::pair<double, double> contribution_range(int32_t j, double a) {
  const int32_t s = int_array(ARR_POS_STATUS)[j];
  const double l = real_array(ARR_LOWER)[j];
  const double u = real_array(ARR_UPPER)[j];
  const bool l_finite = (s & PS_FINITE_LOWER) != 0;
  const bool u_finite = (s & PS_FINITE_UPPER) != 0;
  if (a > 0.0) return {l_finite ? a * l : -kInfinity, u_finite ? a * u : kInfinity};
  return {u_finite ? a * u : -kInfinity, l_finite ? a * l : kInfinity};
}

// Column j's term leaves row i's counts and activity sums.
void take_term_out(int32_t i, int32_t j, double a) {
  const int32_t s = int_array(ARR_POS_STATUS)[j];
  OneBased<double> max_activity = real_array(ARR_WORK_UPPER);
  OneBased<double> min_activity = real_array(ARR_WORK_LOWER);
  const double u = real_array(ARR_WORK_UPPER)[j];
  const double l = real_array(ARR_WORK_LOWER)[j];
  PresolveActivityCounts& counts = presolve_activity;
  const bool negative = a <= 0.0;
  if (negative) --counts.negative[i];
  else --counts.positive[i];
  double& from_upper = negative ? min_activity[i] : max_activity[i];
  double& from_lower = negative ? max_activity[i] : min_activity[i];
  int32_t& upper_infinite = negative ? counts.min_infinite[i] : counts.max_infinite[i];
  int32_t& lower_infinite = negative ? counts.max_infinite[i] : counts.min_infinite[i];
  if ((s & kImpliedUpperFinite) != 0) from_upper -= a * u;
  else --upper_infinite;
  if ((s & kImpliedLowerFinite) != 0) from_lower -= a * l;
  else --lower_infinite;
}

// Row i's entry of column j swapped with the last live entry of the row.
void move_to_end_of_live_part(int32_t i, int32_t j) {
  PresolveRowCopy& copy = presolve_row_copy;
  const int32_t last = copy.start[i] + live_entries(i) - 1;
  if (last < copy.start[i] || last >= copy.start[i + 1]) return;
  for (int32_t k = copy.start[i]; k <= last; ++k) {
    if (copy.column[k] != j) continue;
    std::swap(copy.column[k], copy.column[last]);
    std::swap(copy.element[k], copy.element[last]);
    return;
  }
}

void make_row_type(int32_t i, int32_t type) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  row_type[i] = (row_type[i] & ~(ROW_E | ROW_G | ROW_L | kRowEquality | kRowElimination)) | type;
}

// A cost on a singleton whose row leaves it unbounded on one side bounds
// the row's dual: the column's reduced cost must keep its sign there. The
// column becomes the bound's setter only when its bound is the one kept: a
// setter's mark tells the dual tests which bound a column may not lean on.
void bound_row_dual(int32_t i, int32_t j, double a, double lo, double hi) {
  RoundWork& w = round_work;
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const double ztcost = dcv(dc::ZTCOST);
  const double r = minimising_cost(j) / a;
  if (hi >= kInfinity) {
    if ((row_type[i] & kRowDualUpperInfinite) != 0 || r <= w.dual_upper[i] - ztcost) {
      row_type[i] &= ~kRowDualUpperInfinite;
      w.dual_upper[i] = r;
      set_dual_upper_setter(i, j);
    }
  }
  if (lo <= -kInfinity) {
    if ((row_type[i] & kRowDualLowerInfinite) != 0 || r >= w.dual_lower[i] + ztcost) {
      row_type[i] &= ~kRowDualLowerInfinite;
      w.dual_lower[i] = r;
      set_dual_lower_setter(i, j);
    }
  }
}

// Zero-cost singleton j becomes part of row i's slack: the row's limits
// widen by j's range.
void absorb_into_slack(int32_t i, int32_t j, double a, double lo, double hi) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> slack_lower = real_array(ARR_LOWER);
  OneBased<double> slack_upper = real_array(ARR_UPPER);
  OneBased<double> rhs = work_vector();
  const bool slack_basic = (status[i] & PS_BASIC) != 0;
  const bool has_upper = (status[i] & PS_FINITE_LOWER) != 0;
  const bool has_lower = (status[i] & PS_FINITE_UPPER) != 0;
  const bool row_freed = lo <= -kInfinity && (hi >= kInfinity || (slack_basic && !has_lower));
  const bool becomes_g = lo <= -kInfinity && !row_freed && has_upper;

  PresolveRecord record;
  if (w.later) append_row_list(record, i, j);
  record.ints.push_back(w.later ? -j : j);
  int32_t row_field = (row_type[i] & ROW_TYPE_MASK) == ROW_G ? -i : i;
  double stored_rhs = rhs[i];
  if (becomes_g) {
    row_field = -row_field;
    stored_rhs -= slack_upper[i];
  }
  record.ints.push_back(row_field);
  record.ints.push_back(REC_COLUMN_SINGLETON);
  record.reals.push_back(stored_rhs);
  record.reals.push_back(a);
  record.reals.push_back(real_array(ARR_UPPER)[j]);
  record.reals.push_back(real_array(ARR_LOWER)[j]);
  if (!push_round_record(record)) return;

  move_to_end_of_live_part(i, j);
  if (!slack_basic) {
    if ((status[j] & PS_BASIC) != 0) {
      status[i] = (status[i] & ~PS_AT_UPPER) | PS_BASIC;
    } else if ((row_type[i] & kRowEquality) != 0) {
      const bool j_at_upper = (status[j] & PS_AT_UPPER) != 0;
      if ((a <= 0.0 && !j_at_upper) || (a > 0.0 && j_at_upper)) status[i] |= PS_AT_UPPER;
      else status[i] &= ~PS_AT_UPPER;
    }
  }
  take_term_out(i, j, a);

  if (lo <= -kInfinity) {
    if (row_freed) {
      remove_round_row(i, live_entries(i));
    } else {
      if (has_upper) {
        rhs[i] -= slack_upper[i];
        slack_lower[i] = -kInfinity;
        slack_upper[i] = 0.0;
        make_row_type(i, ROW_G);
        status[i] &= ~(PS_FIXED | PS_FINITE_LOWER);
      }
      rhs[i] -= hi;
    }
    status[i] &= ~PS_FINITE_LOWER;
  } else {
    if (has_upper) rhs[i] -= lo;
    if (hi >= kInfinity) {
      status[i] &= ~PS_FIXED;
      if (!slack_basic || has_upper) make_row_type(i, ROW_L);
      else remove_round_row(i, live_entries(i));
      slack_upper[i] = kInfinity;
      status[i] &= ~PS_FINITE_UPPER;
    } else if (!has_upper) {
      rhs[i] -= hi;
    } else if (has_lower) {
      slack_upper[i] += hi - lo;
      if (hi - lo > dcv(dc::ZTOLDA)) {
        make_row_type(i, ROW_L);
        status[i] &= ~PS_FIXED;
      }
    }
  }

  status[j] = (status[j] | PS_FIXED) & ~PS_FREE;
  real_array(ARR_WORK_UPPER)[j] = 0.0;
  real_array(ARR_WORK_LOWER)[j] = 0.0;
  real_array(ARR_UPPER)[j] = real_array(ARR_LOWER)[j];
  ++w.columns_removed;
  ++w.elements_removed;
}

}  // namespace

void remove_column_singletons() {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double ztcost = dcv(dc::ZTCOST);
  for (int32_t j = store.first_col; j <= nseq && !w.stop; ++j) {
    if ((status[j] & kSingletonMark) == 0 || (status[j] & PS_FIXED) != 0) continue;
    if (w.entity_sweeps && (status[j] & PS_ENTITY) != 0) continue;
    status[j] &= ~kSingletonMark;
    if ((status[j] & kKeepOrQuadratic) != 0 || any_row_kept(j)) continue;
    const auto [i, a] = singleton_row(j);
    if (i == 0) continue;
    const auto [lo, hi] = contribution_range(j, a);
    const bool row_has_upper = (status[i] & PS_FINITE_LOWER) != 0;
    const bool row_has_lower = (status[i] & PS_FINITE_UPPER) != 0;
    if ((status[j] & PS_BOTH_FINITE) == PS_BOTH_FINITE && lo < -kPresolveInfinity && row_has_upper && row_has_lower)
      continue;
    if ((status[i] & PS_BASIC) == 0) {
      if ((!row_has_lower && lo <= -kInfinity) || (!row_has_upper && hi >= kInfinity)) continue;
      if ((status[j] & PS_AT_UPPER) != 0) {
        const bool row_at_upper = (status[i] & PS_AT_UPPER) != 0;
        if (a > 0.0 ? !row_at_upper : row_at_upper) continue;
      }
    }
    if (std::fabs(real_array(ARR_OBJECTIVE)[j]) > ztcost) {
      status[j] |= kSingletonMark;
      bound_row_dual(i, j, a, lo, hi);
    } else {
      absorb_into_slack(i, j, a, lo, hi);
    }
  }
}

namespace {

// The bound row i implies for x_j from one of its limits: from the lower
// limit through the maximum of the other terms, or from the upper limit
// through their minimum. False when the limit or the activity is missing.
bool bound_from_row(int32_t i, int32_t j, double a, bool from_lower_limit, double& bound) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const RowLimits limits = row_limits(status[i], work_vector()[i], real_array(ARR_UPPER)[i]);
  const PresolveActivityCounts& counts = presolve_activity;
  const double u = real_array(ARR_WORK_UPPER)[j];
  const double l = real_array(ARR_WORK_LOWER)[j];
  const bool u_finite = (status[j] & kImpliedUpperFinite) != 0;
  const bool l_finite = (status[j] & kImpliedLowerFinite) != 0;
  if (from_lower_limit) {
    if (!limits.has_lower) return false;
    // j's own term in the maximum activity: a x upper for a > 0.
    const bool own_finite = a > 0.0 ? u_finite : l_finite;
    const double own = a > 0.0 ? a * u : a * l;
    if (counts.max_infinite[i] != (own_finite ? 0 : 1)) return false;
    const double others = real_array(ARR_WORK_UPPER)[i] - (own_finite ? own : 0.0);
    bound = (limits.lower - others) / a;
    return true;
  }
  if (!limits.has_upper) return false;
  const bool own_finite = a > 0.0 ? l_finite : u_finite;
  const double own = a > 0.0 ? a * l : a * u;
  if (counts.min_infinite[i] != (own_finite ? 0 : 1)) return false;
  const double others = real_array(ARR_WORK_LOWER)[i] - (own_finite ? own : 0.0);
  bound = (limits.upper - others) / a;
  return true;
}

bool is_integral(double v) { return std::fabs(v - std::nearbyint(v)) <= dcv(dc::ZTOLIS); }

// An integer column may leave through its row only when the row gives it
// integer values: every other column integer with a coefficient that is an
// integer multiple of j's, and an integral right-hand side over j's.
bool integer_substitution_exact(int32_t i, int32_t j, double a) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e)
    if (std::fabs(elem_value[e]) != 1.0) return false;
  if (!is_integral(work_vector()[i] / a)) return false;
  const PresolveRowCopy& copy = presolve_row_copy;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t c = copy.column[k];
    if (c == 0 || c == j || (status[c] & PS_FIXED) != 0) continue;
    if ((status[c] & PS_INTEGER_OR_BINARY) == 0) return false;
    if (!is_integral(elem_value[copy.element[k]] / a)) return false;
  }
  return true;
}

// Whether singleton j may leave through row i: the row holds x_j at a value
// within its bounds whatever the other columns do, and at an optimum the
// row is at the limit the substitution assumes.
bool implied_free(int32_t i, int32_t j, double a) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const double tol = dcv(dc::ZTOLZE);
  const double c = minimising_cost(j);
  const bool equality = (row_type[i] & kRowEquality) != 0;
  if (!equality && c != 0.0) {
    // The cost drives x_j one way; only the row's limit on the side the
    // activity then moves to holds it. Without that limit x_j runs away
    // (or stops at its own bound): the row is not tight at the optimum.
    const bool activity_falls = (c > 0.0) == (a > 0.0);
    if ((status[i] & (activity_falls ? PS_FINITE_UPPER : PS_FINITE_LOWER)) == 0) return false;
  }
  double bound = 0.0;
  if ((status[j] & PS_FINITE_LOWER) != 0) {
    if (!(c > 0.0 || equality)) return false;
    if (!bound_from_row(i, j, a, a > 0.0, bound)) return false;
    if (bound < real_array(ARR_LOWER)[j] - tol) return false;
  }
  if ((status[j] & PS_FINITE_UPPER) != 0) {
    if (!(c < 0.0)) return false;
    if (!bound_from_row(i, j, a, a <= 0.0, bound)) return false;
    if (bound > real_array(ARR_UPPER)[j] + tol) return false;
  }
  return true;
}

int32_t wide_other_columns(int32_t i, int32_t j) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  const OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const PresolveRowCopy& copy = presolve_row_copy;
  const double tol = dcv(dc::ZTOLZE);
  int32_t n = 0;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t c = copy.column[k];
    if (c == 0 || c == j || (status[c] & PS_FIXED) != 0) continue;
    if (search_lower[c] + tol < search_upper[c]) ++n;
  }
  return n;
}

void substitute_column(int32_t i, int32_t j, double a) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const PresolveRowCopy& copy = presolve_row_copy;
  const double b = work_vector()[i];
  const double cj = cost[j];
  PresolveRecord record;
  int32_t n = 0;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t c = copy.column[k];
    if (c == 0 || c == j || (status[c] & PS_FIXED) != 0) continue;
    record.ints.push_back(c);
    record.reals.push_back(elem_value[copy.element[k]]);
    ++n;
  }
  for (int32_t v : {i, j, 0, n, 0, static_cast<int32_t>(REC_COLUMN_ELIMINATION)}) record.ints.push_back(v);
  for (double v : {b, cj, a}) record.reals.push_back(v);
  if (!push_round_record(record)) return;
  w.change = 1;
  const double r = cj / a;
  dcv(kObjectiveConstantSlot) += r * b;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t c = copy.column[k];
    if (c == 0 || c == j || (status[c] & PS_FIXED) != 0) continue;
    cost[c] -= r * elem_value[copy.element[k]];
  }
  remove_round_row(i, n);
  status[j] = (status[j] | PS_FIXED) & ~PS_FREE;
  real_array(ARR_LOWER)[j] = 0.0;
  real_array(ARR_UPPER)[j] = 0.0;
  ++w.columns_removed;
  ++w.elements_removed;
}

// Free-column substitution of marked column j, when its row allows it.
void try_substitution(int32_t j) {
  const RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> slack_upper = real_array(ARR_UPPER);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  if ((status[j] & PS_FIXED) != 0) return;
  const bool entity = w.entity_sweeps && (status[j] & PS_ENTITY) != 0;
  if (entity && ((status[j] & PS_INTEGER_OR_BINARY) == 0 || nsets > 0)) return;
  const auto [i, a] = singleton_row(j);
  if (i == 0 || live_entries(i) < 3) return;
  if (((status[i] ^ status[j]) & PS_BASIC) == 0) return;
  if ((row_type[i] & ROW_TYPE_MASK) == ROW_L && slack_upper[i] < kInfinity) return;
  if ((status[i] & kKeepOrQuadratic) != 0 || (status[j] & kKeepOrQuadratic) != 0) return;
  if (entity && !integer_substitution_exact(i, j, a)) return;
  if (!implied_free(i, j, a)) return;
  if (wide_other_columns(i, j) < 3) return;
  substitute_column(i, j, a);
}

}  // namespace

void substitute_free_columns() {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & kSingletonMark) != 0 && !w.stop && w.outcome == 0) try_substitution(j);
    status[j] &= ~(kImpliedLowerFinite | kDualLowerSetter | kDualUpperSetter | kSingletonMark);
  }
}

}  // namespace kl
