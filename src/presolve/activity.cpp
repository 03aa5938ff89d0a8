#include "presolve/activity.h"

#include <cmath>
#include <memory>

#include "factor/basis.h"
#include "factor/simplex_state.h"
#include "factor/starting_basis.h"
#include "presolve/presolve_bits.h"
#include "presolve/round_work.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

PresolveRowCopy presolve_row_copy;
PresolveActivityCounts presolve_activity;

void remove_presolve_row(int32_t row) {
  int_array(ARR_POS_STATUS)[row] |= kRowRemoved;
  real_array(ARR_LOWER)[row] = -kInfinity;
  real_array(ARR_UPPER)[row] = kInfinity;
}

void build_presolve_row_copy(int32_t spare) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  PresolveRowCopy& copy = presolve_row_copy;
  std::vector<int32_t> count(static_cast<size_t>(nrow) + 2, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_FIXED) != 0) continue;
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i >= 1 && i <= nrow && (status[i] & kRowRemoved) == 0) ++count[i];
    }
  }
  copy.start.assign(static_cast<size_t>(nrow) + 2, 0);
  copy.start[1] = 1;
  for (int32_t i = 1; i <= nrow; ++i) copy.start[i + 1] = copy.start[i] + count[i] + spare;
  const size_t entries = static_cast<size_t>(copy.start[nrow + 1]);
  copy.column.assign(entries, 0);
  copy.element.assign(entries, 0);
  std::vector<int32_t> next(copy.start.begin(), copy.start.end());
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_FIXED) != 0) continue;
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
      copy.column[next[i]] = j;
      copy.element[next[i]] = e;
      ++next[i];
    }
  }
  // Unfilled slots (the spare ones) already hold column 0, the end marker.
}

void compute_row_activity_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const OneBased<double> lower = real_array(ARR_LOWER);
  const OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> max_activity = real_array(ARR_WORK_UPPER);
  OneBased<double> min_activity = real_array(ARR_WORK_LOWER);
  PresolveActivityCounts& counts = presolve_activity;
  const size_t rows = static_cast<size_t>(nrow) + 1;
  counts.max_infinite.assign(rows, 0);
  counts.min_infinite.assign(rows, 0);
  counts.positive.assign(rows, 0);
  counts.negative.assign(rows, 0);
  for (int32_t i = 1; i <= nrow; ++i) {
    max_activity[i] = 0.0;
    min_activity[i] = 0.0;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    double u = upper[j];
    double l = lower[j];
    const bool removed = (status[j] & PS_FIXED) != 0;
    const bool u_finite = u < kPresolveInfinity;
    const bool l_finite = l > -kPresolveInfinity;
    if (!u_finite) u = kPresolveInfinity;
    if (!l_finite) l = -kPresolveInfinity;
    max_activity[j] = u;
    min_activity[j] = l;
    if (removed) continue;
    status[j] = u_finite ? (status[j] | kImpliedUpperFinite) : (status[j] & ~kImpliedUpperFinite);
    status[j] = l_finite ? (status[j] | kImpliedLowerFinite) : (status[j] & ~kImpliedLowerFinite);
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
      const double a = elem_value[e];
      // The side of the activity each bound feeds flips with the sign of a.
      const bool negative = a <= 0.0;
      if (negative) ++counts.negative[i];
      else ++counts.positive[i];
      double& from_upper = negative ? min_activity[i] : max_activity[i];
      double& from_lower = negative ? max_activity[i] : min_activity[i];
      int32_t& upper_infinite = negative ? counts.min_infinite[i] : counts.max_infinite[i];
      int32_t& lower_infinite = negative ? counts.max_infinite[i] : counts.min_infinite[i];
      if (u_finite) from_upper += a * u;
      else ++upper_infinite;
      if (l_finite) from_lower += a * l;
      else ++lower_infinite;
    }
  }
}

namespace {

// Working bound of column j that the row's minimum (or maximum) activity
// leaves out: true when it is the row's only missing term, or when the row
// misses none and j's term is finite.
bool only_missing_term(int32_t infinite_count, bool own_term_finite) {
  return infinite_count == (own_term_finite ? 0 : 1);
}

}  // namespace

int32_t derive_implied_column_bounds(int32_t& conflict_row) {
  conflict_row = 0;
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const OneBased<double> range = real_array(ARR_UPPER);
  const OneBased<double> rhs = work_vector();
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const double tol = dcv(dc::ZTOLZE);
  const PresolveRowCopy& copy = presolve_row_copy;
  PresolveActivityCounts& counts = presolve_activity;
  RoundWork& w = round_work;
  const bool tracing = w.tracing && w.trace_lower.size() > static_cast<size_t>(nseq);
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((status[i] & kRowRemoved) != 0) continue;
    if (counts.positive[i] + counts.negative[i] == 0) continue;
    for (int32_t k = copy.start[i]; k < copy.start[i + 1]; ++k) {
      if (counts.min_infinite[i] >= 2 && counts.max_infinite[i] >= 2) break;
      const int32_t j = copy.column[k];
      if (j == 0 || (status[j] & PS_FIXED) != 0) continue;
      const double a = elem_value[copy.element[k]];
      if (a == 0.0) continue;
      RowLimits limits = row_limits(status[i], rhs[i], range[i]);
      limits.upper += tol;
      limits.lower -= tol;
      const double old_l = search_lower[j];
      const double old_u = search_upper[j];
      const bool u_finite = (status[j] & kImpliedUpperFinite) != 0;
      const bool l_finite = (status[j] & kImpliedLowerFinite) != 0;
      int32_t code = 0;
      if (a < 0.0) {
        if (limits.has_upper && only_missing_term(counts.min_infinite[i], u_finite)) {
          double t = (limits.upper - search_lower[i]) / a;
          if (u_finite) t += old_u;
          if (t > old_l + tol) {
            search_lower[j] = t;
            code |= 1;
          }
        }
        if (limits.has_lower && only_missing_term(counts.max_infinite[i], l_finite)) {
          double t = (limits.lower - search_upper[i]) / a;
          if (l_finite) t += old_l;
          if (t < old_u - tol) {
            search_upper[j] = t;
            code |= 2;
          }
        }
      } else {
        if (limits.has_upper && only_missing_term(counts.min_infinite[i], l_finite)) {
          double t = (limits.upper - search_lower[i]) / a;
          if (l_finite) t += old_l;
          if (t < old_u - tol) {
            search_upper[j] = t;
            code |= 2;
          }
        }
        if (limits.has_lower && only_missing_term(counts.max_infinite[i], u_finite)) {
          double t = (limits.lower - search_upper[i]) / a;
          if (u_finite) t += old_u;
          if (t > old_l + tol) {
            search_lower[j] = t;
            code |= 1;
          }
        }
      }
      if (code == 0) continue;
      if (tracing) {
        if ((code & 1) != 0) w.trace_lower[static_cast<size_t>(j)] = i;
        if ((code & 2) != 0) w.trace_upper[static_cast<size_t>(j)] = i;
      }
      if (tighten_column_bound(code, j, old_l, old_u) < -nrow) {
        // The rows cannot all hold. The working bounds stay crossed for
        // whoever explains the conflict; the problem is not handed on.
        conflict_row = i;
        return j;
      }
    }
  }
  return 0;
}

namespace {

// Activity of one row: the finite parts of its maximum and minimum and the
// number of terms each leaves out because the bound it needs is infinite.
struct RowActivity {
  double max = 0.0;
  double min = 0.0;
  int32_t max_infinite = 0;
  int32_t min_infinite = 0;
};

// The bounds of column j that a row activity was summed with.
struct SummedBounds {
  double upper = 0.0;
  double lower = 0.0;
  bool upper_finite = false;
  bool lower_finite = false;
};

// Implied bounds one row gives column j, through the activity the row
// keeps of its other columns.
struct RowImplied {
  bool has_lower = false;
  bool has_upper = false;
  double lower = 0.0;
  double upper = 0.0;
};

RowImplied row_implied_bounds(int32_t i, int32_t j, double a, double b, const RowActivity& act,
                              const SummedBounds& own) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> slack_lower = real_array(ARR_LOWER);
  const OneBased<double> slack_upper = real_array(ARR_UPPER);
  const double max_act = b - slack_lower[i];
  const double min_act = b - slack_upper[i];
  RowImplied implied;
  if (a == 0.0) return implied;
  const bool row_upper = (status[i] & PS_FINITE_LOWER) != 0;
  const bool row_lower = (status[i] & PS_FINITE_UPPER) != 0;
  const bool col_lower = (status[j] & PS_FINITE_LOWER) != 0;
  const bool col_upper = (status[j] & PS_FINITE_UPPER) != 0 && (status[j] & PS_AT_UPPER) == 0;
  const double u = own.upper_finite ? own.upper : 0.0;
  const double l = own.lower_finite ? own.lower : 0.0;
  if (a < 0.0) {
    if (row_upper && col_lower && only_missing_term(act.min_infinite, own.upper_finite)) {
      implied.has_lower = true;
      implied.lower = (max_act - act.min) / a + u;
    }
    if (row_lower && col_upper && only_missing_term(act.max_infinite, own.lower_finite)) {
      implied.has_upper = true;
      implied.upper = (min_act - act.max) / a + l;
    }
  } else {
    if (row_lower && col_lower && only_missing_term(act.max_infinite, own.upper_finite)) {
      implied.has_lower = true;
      implied.lower = (min_act - act.max) / a + u;
    }
    if (row_upper && col_upper && only_missing_term(act.min_infinite, own.lower_finite)) {
      implied.has_upper = true;
      implied.upper = (max_act - act.min) / a + l;
    }
  }
  return implied;
}

// The activities of every row over the columns' own finite bounds (the
// finite-bound flags, and magnitudes below the presolve infinity).
class OwnActivity {
 public:
  OwnActivity() : rows_(static_cast<size_t>(nrow) + 1) {
    const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    const OneBased<int32_t> col_start = int_array(ARR_COL_START);
    const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      if ((status[j] & PS_FIXED) != 0) continue;
      const SummedBounds own = bounds(j);
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
        const int32_t i = elem_row[e];
        if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
        add_term(rows_[static_cast<size_t>(i)], elem_value[e], own);
      }
    }
  }

  static SummedBounds bounds(int32_t j) {
    const int32_t s = int_array(ARR_POS_STATUS)[j];
    SummedBounds own;
    own.upper = real_array(ARR_UPPER)[j];
    own.lower = real_array(ARR_LOWER)[j];
    own.upper_finite = (s & PS_FINITE_UPPER) != 0 && own.upper < kPresolveInfinity;
    own.lower_finite = (s & PS_FINITE_LOWER) != 0 && own.lower > -kPresolveInfinity;
    return own;
  }

  const RowActivity& row(int32_t i) const { return rows_[static_cast<size_t>(i)]; }

  // A dropped bound no longer limits the rows: its term goes infinite.
  void drop(int32_t i, double a, const SummedBounds& own, bool upper_side) {
    RowActivity& act = rows_[static_cast<size_t>(i)];
    const bool to_max = (a > 0.0) == upper_side;
    if (upper_side ? !own.upper_finite : !own.lower_finite) return;
    const double term = a * (upper_side ? own.upper : own.lower);
    if (to_max) {
      act.max -= term;
      ++act.max_infinite;
    } else {
      act.min -= term;
      ++act.min_infinite;
    }
  }

 private:
  static void add_term(RowActivity& act, double a, const SummedBounds& own) {
    const bool negative = a <= 0.0;
    double& from_upper = negative ? act.min : act.max;
    double& from_lower = negative ? act.max : act.min;
    int32_t& upper_infinite = negative ? act.min_infinite : act.max_infinite;
    int32_t& lower_infinite = negative ? act.max_infinite : act.min_infinite;
    if (own.upper_finite) from_upper += a * own.upper;
    else ++upper_infinite;
    if (own.lower_finite) from_lower += a * own.lower;
    else ++lower_infinite;
  }

  std::vector<RowActivity> rows_;
};

RowActivity working_activity(int32_t i) {
  const PresolveActivityCounts& counts = presolve_activity;
  RowActivity act;
  act.max = real_array(ARR_WORK_UPPER)[i];
  act.min = real_array(ARR_WORK_LOWER)[i];
  act.max_infinite = counts.max_infinite[static_cast<size_t>(i)];
  act.min_infinite = counts.min_infinite[static_cast<size_t>(i)];
  return act;
}

SummedBounds working_bounds(int32_t j) {
  const int32_t s = int_array(ARR_POS_STATUS)[j];
  SummedBounds w;
  w.upper = real_array(ARR_WORK_UPPER)[j];
  w.lower = real_array(ARR_WORK_LOWER)[j];
  w.upper_finite = (s & kImpliedUpperFinite) != 0;
  w.lower_finite = (s & kImpliedLowerFinite) != 0;
  return w;
}

}  // namespace

DroppedBounds derive_implied_bounds_pass(int32_t pass) {
  DroppedBounds dropped;
  if (algorithm_kind() == kAlgorithmDual) return dropped;
  if ((problem_flags & PF_SEARCH_RUNNING) != 0 || icv(ic::IFPRES) == 2) return dropped;
  const bool barrier = algorithm_kind() == kAlgorithmBarrier && icv(ic::IFPRES) != 4;
  if (pass == 2 && icv(ic::IFPRES) < 3) return dropped;
  dropped.ran = true;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  PresolveActivityCounts& counts = presolve_activity;
  const double tol_drop = dcv(dc::ZTOLDA);
  const double tol = dcv(dc::ZTOLZE);
  // The working bounds that pass 1 starts from may rest on one another
  // (a bound of x from y's working bound, which came from x's own), and
  // when the rows cannot all hold they can imply anything. A bound is
  // therefore dropped only when one row implies it from the own bounds that
  // stay, so that the problem handed on keeps exactly the points it had.
  std::unique_ptr<OwnActivity> own_activity;
  if (pass != 2) own_activity = std::make_unique<OwnActivity>();
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & (PS_FIXED | PS_FREE)) != 0) continue;
    if (barrier && (status[j] & PS_BOTH_FINITE) != PS_BOTH_FINITE) continue;
    const SummedBounds summed = pass == 2 ? working_bounds(j) : OwnActivity::bounds(j);
    bool want_upper = (status[j] & PS_FINITE_UPPER) != 0;
    bool want_lower = (status[j] & PS_FINITE_LOWER) != 0;
    if (pass != 2) {
      want_upper = want_upper && (status[j] & PS_AT_UPPER) == 0 && search_upper[j] <= upper[j] - tol;
      want_lower = want_lower && search_lower[j] >= lower[j] + tol;
    }
    bool drop_upper = false;
    bool drop_lower = false;
    for (int32_t e = col_start[j]; e < col_start[j + 1] && (want_upper || want_lower); ++e) {
      const int32_t i = elem_row[e];
      if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
      const RowActivity act = pass == 2 ? working_activity(i) : own_activity->row(i);
      const RowImplied implied = row_implied_bounds(i, j, elem_value[e], rhs[i], act, summed);
      if (want_upper && implied.has_upper && implied.upper <= upper[j] + tol_drop) {
        drop_upper = true;
        want_upper = false;
      }
      if (want_lower && implied.has_lower && implied.lower >= lower[j] - tol_drop) {
        drop_lower = true;
        want_lower = false;
      }
    }
    bool became_free = false;
    if (drop_upper) {
      ++dropped.upper;
      if ((status[j] & PS_FINITE_LOWER) == 0) {
        status[j] = (status[j] & ~(PS_FINITE_UPPER | PS_NONBASIC_BETWEEN | PS_FREE)) | PS_FREE | PS_NONBASIC_BETWEEN;
        became_free = true;
      } else {
        status[j] &= ~PS_FINITE_UPPER;
      }
    }
    if (drop_lower) {
      ++dropped.lower;
      if ((status[j] & PS_FINITE_UPPER) == 0) {
        status[j] = (status[j] & ~(PS_FINITE_LOWER | PS_NONBASIC_BETWEEN | PS_FREE)) | PS_FREE | PS_NONBASIC_BETWEEN;
        became_free = true;
      } else {
        status[j] &= ~PS_FINITE_LOWER;
        if ((status[j] & PS_BASIC) == 0) status[j] |= PS_AT_UPPER;
      }
    }
    if (became_free) {
      ++dropped.freed;
      if (barrier) {
        // The barrier needs one bound on every column: keep the smaller.
        status[j] &= ~(PS_FREE | PS_NONBASIC_BETWEEN);
        status[j] |= std::fabs(upper[j]) <= std::fabs(lower[j]) ? PS_FINITE_UPPER : PS_FINITE_LOWER;
        --dropped.freed;
      }
    }
    if (!drop_upper && !drop_lower) continue;
    // A dropped bound leaves no finite value behind: the problem handed on
    // says infinite by value as well as by flag. The original bounds come
    // back with the original arrays.
    if (drop_upper && (status[j] & PS_FINITE_UPPER) == 0) upper[j] = kInfinity;
    if (drop_lower && (status[j] & PS_FINITE_LOWER) == 0) lower[j] = -kInfinity;
    // A dropped bound no longer limits the rows: its term goes infinite,
    // so no other column can lean on it in this pass.
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i < 1 || i > nrow || (status[i] & kRowRemoved) != 0) continue;
      const double a = elem_value[e];
      if (pass != 2) {
        if (drop_upper) own_activity->drop(i, a, summed, true);
        if (drop_lower) own_activity->drop(i, a, summed, false);
        continue;
      }
      if (drop_upper && summed.upper_finite) {
        if (a <= 0.0) {
          ++counts.min_infinite[i];
          search_lower[i] -= a * search_upper[j];
        } else {
          ++counts.max_infinite[i];
          search_upper[i] -= a * search_upper[j];
        }
      }
      if (drop_lower && summed.lower_finite) {
        if (a <= 0.0) {
          ++counts.max_infinite[i];
          search_upper[i] -= a * search_lower[j];
        } else {
          ++counts.min_infinite[i];
          search_lower[i] -= a * search_lower[j];
        }
      }
    }
  }
  return dropped;
}

void free_presolve_activity() {
  presolve_row_copy = PresolveRowCopy{};
  presolve_activity = PresolveActivityCounts{};
}

}  // namespace kl
