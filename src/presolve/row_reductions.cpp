// Reductions by a row's activity range: forcing rows fix their columns,
// redundant sides and empty rows go, singleton rows become column bounds,
// and rows narrow the working bounds of their columns.
#include <cmath>
#include <algorithm>
#include <cstdio>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/round_work.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/sink.h"

namespace kl {

namespace {

// Problems this large keep the row copy's order while forcing rows fix
// columns, and rebuild it once after the pass.
constexpr int32_t kLargeProblemRows = 10000;
constexpr int32_t kLargeProblemDensity = 100;
// A forcing row with a coefficient below this many zero tolerances is left:
// fixing through it would rest on noise.
constexpr double kForcingCoefficientFactor = 10.0;

RowLimits limits_of(int32_t i) {
  return row_limits(int_array(ARR_POS_STATUS)[i], work_vector()[i], real_array(ARR_UPPER)[i]);
}

void make_row_type(int32_t i, int32_t type) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  row_type[i] = (row_type[i] & ~(ROW_E | ROW_G | ROW_L | kRowEquality | kRowElimination)) | type;
}

// Forcing row i: every live column goes to the bound that gives the
// activity the row's limit demands (mode 2 the minimum, 1 the maximum).
void apply_forcing_row(int32_t i, int32_t mode, bool large) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const PresolveRowCopy& copy = presolve_row_copy;
  const double min_coefficient = kForcingCoefficientFactor * dcv(dc::ZTOLZE);
  int32_t basic = (status[i] & PS_BASIC) != 0 ? 1 : 0;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t j = copy.column[k];
    if (j == 0 || (status[j] & PS_FIXED) != 0) continue;
    if ((status[j] & kKeepOrQuadratic) != 0) return;
    if (std::fabs(elem_value[copy.element[k]]) < min_coefficient) return;
    if ((status[j] & PS_BASIC) != 0) ++basic;
  }
  if (basic != 1) {
    w.basis_refused = true;
    return;
  }
  const int32_t entries = live_entries(i);
  remove_round_row(i, entries);
  struct Fix {
    int32_t column;
    int32_t side;
    double value;
  };
  std::vector<Fix> fixes;
  PresolveRecord record;
  for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
    const int32_t j = copy.column[k];
    if (j == 0 || (status[j] & PS_FIXED) != 0) continue;
    const double a = elem_value[copy.element[k]];
    const int32_t side = a >= 0.0 ? mode : 3 - mode;
    const double v = side == 2 ? search_lower[j] : search_upper[j];
    if (w.later) append_column_list(record, j, 0, true);
    record.ints.push_back(j);
    record.reals.push_back(v);
    record.reals.push_back(a);
    fixes.push_back({j, side, v});
  }
  for (int32_t v : {static_cast<int32_t>(fixes.size()), w.later ? -mode : mode, i,
                    static_cast<int32_t>(REC_FORCING_ROW)})
    record.ints.push_back(v);
  if (!push_round_record(record)) return;
  for (const Fix& fix : fixes) {
    const int32_t j = fix.column;
    const double old_l = search_lower[j];
    const double old_u = search_upper[j];
    search_lower[j] = fix.value;
    search_upper[j] = fix.value;
    lower[j] = fix.value;
    upper[j] = fix.value;
    if (w.tracing) (fix.side == 2 ? w.trace_upper : w.trace_lower)[j] = i;
    const int32_t result = tighten_column_bound(fix.side + 4 + (large ? 8 : 0), j, old_l, old_u);
    ++w.columns_removed;
    if (result < 0 && result >= -nrow) w.elements_removed += -result;
  }
}

}  // namespace

void apply_forcing_rows() {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<double> max_activity = real_array(ARR_WORK_UPPER);
  const OneBased<double> min_activity = real_array(ARR_WORK_LOWER);
  const PresolveActivityCounts& counts = presolve_activity;
  const bool large = nrow > kLargeProblemRows || nelem > kLargeProblemDensity * static_cast<int64_t>(nrow);
  const double tol = dcv(dc::ZTOLZE);
  const double drop = dcv(dc::ZTOLDA);
  const int32_t rows_before = w.rows_removed;
  for (int32_t i = 1; i <= nrow && !w.stop; ++i) {
    if ((row_type[i] & kRowExamine) == 0 || (status[i] & kRowRemoved) != 0) continue;
    if ((status[i] & kKeepOrQuadratic) != 0) continue;
    const RowLimits limits = limits_of(i);
    int32_t mode = 0;
    if (counts.min_infinite[i] == 0 && limits.has_upper) {
      const double d = min_activity[i] - limits.upper;
      if (d > tol) {
        row_infeasible(i, -1);
        return;
      }
      if (d > -drop) mode = 2;
    }
    if (mode == 0 && counts.max_infinite[i] == 0 && limits.has_lower) {
      const double d = max_activity[i] - limits.lower;
      if (d < drop) {
        if (d < -tol) {
          row_infeasible(i, 0);
          return;
        }
        mode = 1;
      }
    }
    if (mode != 0) apply_forcing_row(i, mode, large);
  }
  if (w.rows_removed != rows_before && large) build_presolve_row_copy(0);
}

namespace {

// One side of singleton row i (side 1: its lower limit, 2: its upper
// limit) turned into a bound of its column. Returns false when the row
// must stay as it is; pushed := a record was written.
bool singleton_row_side(int32_t i, bool lower_side, bool& pushed, bool& column_fixed) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const PresolveRowCopy& copy = presolve_row_copy;
  int32_t k = 0;
  double a = 0.0;
  for (int32_t e = copy.start[i]; e < copy.start[i + 1]; ++e) {
    const int32_t j = copy.column[e];
    if (j == 0 || (status[j] & PS_FIXED) != 0) continue;
    k = j;
    a = real_array(ARR_ELEM_VALUE)[copy.element[e]];
    break;
  }
  if (k == 0 || (status[k] & PS_PROTECTED) != 0 || a == 0.0) return false;
  const RowLimits limits = limits_of(i);
  const double limit = lower_side ? limits.lower : limits.upper;
  // side 1: the row sets k's lower bound, 2: its upper bound.
  int32_t side = 0;
  if (lower_side) {
    if (a > 0.0 && a * lower[k] < limit) side = 1;
    else if (a < 0.0 && a * upper[k] < limit) side = 2;
  } else {
    if (a > 0.0 && a * upper[k] > limit) side = 2;
    else if (a < 0.0 && a * lower[k] > limit) side = 1;
  }
  if (side == 0) {
    // The column's own bound already keeps this side: it goes, but a row
    // with a nonbasic slack is left, its basis is not ours to change.
    return (status[i] & PS_BASIC) != 0 || pushed;
  }
  const double bound = limit / a;
  const double old_l = search_lower[k];
  const double old_u = search_upper[k];
  if (side == 1 && bound > -kPresolveInfinity) {
    search_lower[k] = bound;
    if (w.tracing) w.trace_lower[k] = i;
  }
  if (side == 2 && bound < kPresolveInfinity) {
    search_upper[k] = bound;
    if (w.tracing) w.trace_upper[k] = i;
  }
  const double tol = dcv(dc::ZTOLZE);
  const double new_width = side == 1 ? upper[k] - bound : bound - lower[k];
  if (((status[i] ^ status[k]) & PS_BASIC) == 0 && search_upper[k] - search_lower[k] >= -tol &&
      new_width <= dcv(dc::ZTOLDA)) {
    // Fixing k here would leave the basis one short or one over.
    return false;
  }
  if (lower_side) {
    if ((status[i] & PS_AT_UPPER) != 0 && (status[k] & PS_BASIC) != 0) {
      status[i] = (status[i] & ~PS_AT_UPPER) | PS_BASIC;
      status[k] &= ~(PS_BASIC | PS_AT_UPPER);
      if (a < 0.0) status[k] |= PS_AT_UPPER;
    }
  } else if ((status[k] & PS_BASIC) != 0 && (status[i] & (PS_BASIC | PS_AT_UPPER)) == 0) {
    status[k] &= ~(PS_BASIC | PS_AT_UPPER);
    if (a > 0.0) status[k] |= PS_AT_UPPER;
  }
  PresolveRecord record;
  if (w.later) append_column_list(record, k, i, true);
  for (int32_t v : {i, k, w.later ? -side : side, static_cast<int32_t>(REC_ROW_SINGLETON)}) record.ints.push_back(v);
  const double old_own = side == 1 ? lower[k] : upper[k];
  if (side == 1) lower[k] = bound;
  else upper[k] = bound;
  const int32_t result = tighten_column_bound(side + 4, k, old_l, old_u);
  if (result < -nrow) {
    // The problem handed on when conflicts are passed over keeps k's
    // bounds uncrossed: the row itself still says what cannot be met.
    search_lower[k] = old_l;
    search_upper[k] = old_u;
    (side == 1 ? lower[k] : upper[k]) = old_own;
    row_infeasible(i, lower_side ? 0 : -1);
    return false;
  }
  // The row's own limit: when k is integer and its bound was rounded, the
  // undo rounds the quotient the same way and leaves the row basic, since
  // the row does not bind at the rounded value.
  record.reals.push_back(a);
  record.reals.push_back(limit);
  if (!push_round_record(record)) return false;
  pushed = true;
  if (result < 0) {
    column_fixed = true;
    ++w.columns_removed;
    w.elements_removed += -result;
    if ((status[i] & PS_FINITE_LOWER) != 0 && work_vector()[i] < -tol) {
      row_infeasible(i, -1);
      return false;
    }
  }
  return true;
}

// Singleton row i: its limits become bounds of its column, and the row goes.
void reduce_singleton_row(int32_t i) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  bool pushed = false;
  bool fixed = false;
  if ((status[i] & PS_FINITE_UPPER) != 0) {
    if (!singleton_row_side(i, true, pushed, fixed)) return;
    status[i] &= ~(PS_FINITE_UPPER | PS_FIXED);
    real_array(ARR_UPPER)[i] = kInfinity;
    if ((status[i] & PS_FINITE_LOWER) != 0) make_row_type(i, ROW_L);
  }
  // A column fixed by the lower side has left the row: its upper limit was
  // checked against the fixed value there.
  if (fixed) status[i] &= ~PS_FINITE_LOWER;
  if ((status[i] & PS_FINITE_LOWER) != 0) {
    if (!singleton_row_side(i, false, pushed, fixed)) return;
    status[i] &= ~PS_FINITE_LOWER;
  }
  remove_round_row(i, fixed ? 0 : 1);
}

// A side of row i that its activity can no longer reach is dropped.
void examine_row_sides(int32_t i) {
  RoundWork& w = round_work;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> slack_lower = real_array(ARR_LOWER);
  OneBased<double> slack_upper = real_array(ARR_UPPER);
  OneBased<double> rhs = work_vector();
  const OneBased<double> max_activity = real_array(ARR_WORK_UPPER);
  const OneBased<double> min_activity = real_array(ARR_WORK_LOWER);
  const PresolveActivityCounts& counts = presolve_activity;
  const double tol = dcv(dc::ZTOLZE);
  const double t = w.redundancy_tol;
  const int32_t n = live_entries(i);
  if (n == 1 && w.singleton_rows) {
    reduce_singleton_row(i);
    return;
  }
  if ((status[i] & PS_FINITE_UPPER) != 0) {
    const RowLimits limits = limits_of(i);
    if (n == 0) {
      if (limits.lower > tol) {
        row_infeasible(i, 0);
        return;
      }
      if (w.empty_rows) {
        status[i] &= ~PS_FINITE_UPPER;
        if ((status[i] & PS_FINITE_LOWER) == 0) remove_round_row(i, 0);
      }
    } else {
      if (counts.max_infinite[i] == 0 && max_activity[i] - limits.lower < -tol) {
        row_infeasible(i, 0);
        return;
      }
      const bool has_upper = (status[i] & PS_FINITE_LOWER) != 0;
      if (counts.min_infinite[i] == 0 && min_activity[i] - limits.lower > t &&
          (has_upper || (status[i] & PS_BASIC) != 0)) {
        status[i] &= ~(PS_FINITE_UPPER | PS_FIXED | PS_AT_UPPER);
        slack_upper[i] = kInfinity;
        if (has_upper) make_row_type(i, ROW_L);
        else remove_round_row(i, n);
      }
    }
  }
  if ((status[i] & (kRowRemoved | PS_FINITE_LOWER)) != PS_FINITE_LOWER) return;
  const RowLimits limits = limits_of(i);
  if (n == 0) {
    if (limits.upper < -tol) {
      row_infeasible(i, -1);
      return;
    }
    if (w.empty_rows) {
      status[i] &= ~PS_FINITE_LOWER;
      if ((status[i] & PS_FINITE_UPPER) == 0) remove_round_row(i, 0);
    }
    return;
  }
  if (counts.min_infinite[i] == 0 && min_activity[i] - limits.upper > tol) {
    row_infeasible(i, -1);
    return;
  }
  if (counts.max_infinite[i] != 0 || max_activity[i] - limits.upper >= -t) return;
  if ((status[i] & PS_FINITE_UPPER) == 0) {
    if ((status[i] & PS_BASIC) != 0) {
      status[i] &= ~(PS_FIXED | PS_FINITE_LOWER);
      remove_round_row(i, n);
    }
    return;
  }
  rhs[i] -= slack_upper[i];
  slack_lower[i] = -kInfinity;
  slack_upper[i] = 0.0;
  make_row_type(i, ROW_G);
  status[i] &= ~(PS_FIXED | PS_FINITE_LOWER);
}

}  // namespace

void examine_rows() {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= nrow && !w.stop; ++i) {
    if ((status[i] & (kRowRemoved | kKeepOrQuadratic)) != 0) continue;
    row_type[i] &= ~kRowElimination;
    if (w.dual && dual_row_check(i)) return;
    examine_row_sides(i);
  }
}

namespace {

void print_tightening(int32_t j, int32_t i, double bound) {
  const PresolveActivityCounts& counts = presolve_activity;
  char text[256];
  std::snprintf(text, sizeof text, "column %d row %d rhs %.9g activity %.9g %.9g bound %.9g counts %d %d %d %d", j, i,
                work_vector()[i], real_array(ARR_WORK_LOWER)[i], real_array(ARR_WORK_UPPER)[i], bound,
                counts.min_infinite[i], counts.max_infinite[i], counts.positive[i], counts.negative[i]);
  write_message_line(1, text);
}

// Row i narrows the working bounds of its columns, one after another.
void tighten_through_row(int32_t i) {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const PresolveActivityCounts& counts = presolve_activity;
  const PresolveRowCopy& copy = presolve_row_copy;
  const double tol = dcv(dc::ZTOLZE);
  for (int32_t e = copy.start[i]; e < copy.start[i + 1] && !w.stop; ++e) {
    const int32_t k = copy.column[e];
    if (k == 0 || (status[k] & PS_FIXED) != 0) continue;
    const double a = elem_value[copy.element[e]];
    if (a == 0.0) continue;
    const RowLimits limits = limits_of(i);
    const bool l_finite = (status[k] & kImpliedLowerFinite) != 0;
    const bool u_finite = (status[k] & kImpliedUpperFinite) != 0;
    const double l = search_lower[k];
    const double u = search_upper[k];
    // Own term of k in the minimum and in the maximum activity.
    const bool min_own_finite = a > 0.0 ? l_finite : u_finite;
    const double min_own = a > 0.0 ? l : u;
    const bool max_own_finite = a > 0.0 ? u_finite : l_finite;
    const double max_own = a > 0.0 ? u : l;
    double new_lower = l;
    double new_upper = u;
    int32_t code = 0;
    if (limits.has_upper && counts.min_infinite[i] == (min_own_finite ? 0 : 1)) {
      const double t = (limits.upper - search_lower[i]) / a + (min_own_finite ? min_own : 0.0);
      if (a > 0.0 && t < u - tol) {
        new_upper = t;
        code |= 2;
      } else if (a < 0.0 && t > l + tol) {
        new_lower = t;
        code |= 1;
      }
    }
    if (limits.has_lower && counts.max_infinite[i] == (max_own_finite ? 0 : 1)) {
      const double t = (limits.lower - search_upper[i]) / a + (max_own_finite ? max_own : 0.0);
      if (a > 0.0 && t > l + tol) {
        new_lower = t;
        code |= 1;
      } else if (a < 0.0 && t < u - tol) {
        new_upper = t;
        code |= 2;
      }
    }
    if (code == 0) continue;
    search_lower[k] = new_lower;
    search_upper[k] = new_upper;
    ++w.tightenings;
    if (w.verbose) print_tightening(k, i, (code & 1) != 0 ? new_lower : new_upper);
    const int32_t result = tighten_column_bound(code, k, l, u);
    if (result >= -nrow) {
      if (w.tracing) {
        if ((code & 1) != 0) w.trace_lower[k] = i;
        if ((code & 2) != 0) w.trace_upper[k] = i;
      }
      continue;
    }
    if (code == 3) {
      if (w.tracing) {
        w.trace_lower[k] = i;
        w.trace_upper[k] = i;
      }
    } else {
      search_lower[k] = l;
      search_upper[k] = u;
    }
    const RowLimits now = limits_of(i);
    if (counts.max_infinite[i] == 0 && now.has_lower && search_upper[i] < now.lower - tol) row_infeasible(i, 0);
    else if (counts.min_infinite[i] == 0 && now.has_upper && search_lower[i] > now.upper + tol) row_infeasible(i, -1);
    else column_infeasible(k, i);
    return;
  }
}

}  // namespace

void tighten_implied_bounds() {
  RoundWork& w = round_work;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const PresolveActivityCounts& counts = presolve_activity;
  for (int32_t i = 1; i <= nrow && !w.stop; ++i) {
    if ((row_type[i] & kRowExamine) == 0) continue;
    row_type[i] &= ~kRowExamine;
    if ((status[i] & (kRowRemoved | kKeepOrQuadratic)) != 0) continue;
    if (live_entries(i) == 0) continue;
    if (counts.min_infinite[i] >= 2 && counts.max_infinite[i] >= 2) continue;
    tighten_through_row(i);
  }
}

}  // namespace kl
