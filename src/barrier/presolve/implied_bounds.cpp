// The implied-bounds pass and the doubleton-equation pass of the barrier
// presolve's final sequence. Both work on column bounds and remove nothing
// but nearly fixed columns.
//
// Scratch beyond PresolveData: the column part of `w` carries row values
// while a row's entries are sorted, and `int_work_c` holds the sort keys
// (columns 1..n, rows from n + 1). Both are idle before the iterations.
#include <cmath>
#include <utility>

#include "barrier/ordering/heapsort.h"
#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

// Candidate marks of the row queue.
constexpr int32_t kRowQueued = 1;
constexpr int32_t kRowRead = -1;
constexpr int32_t kRowOut = -2;

bool finite_upper(const PresolveData& d, double v) { return v < d.finite_limit; }
bool finite_lower(const PresolveData& d, double v) { return v > -d.finite_limit; }

// The bound on column k that row r implies, given the other columns' bounds
// and the column's own opposite bound. The row activity bounds describe
// t = a.x - s (slack term folded in), so the row reads t = b.
struct ImpliedBound {
  bool usable = false;
  double value = 0.0;
};

ImpliedBound implied_upper(const PresolveData& d, int32_t r, int32_t k, double a) {
  ImpliedBound out;
  const double lo = d.lower[k];
  const bool lo_finite = finite_lower(d, lo);
  const double activity = a <= 0.0 ? d.max_activity[r] : d.min_activity[r];
  const double infinite = a <= 0.0 ? d.max_infinite[r] : d.min_infinite[r];
  if (infinite != (lo_finite ? 0.0 : 1.0)) return out;
  out.value = (d.rhs[r] - activity) / a + (lo_finite ? lo : 0.0);
  // A large implied bound is only worth having against a finite bound.
  out.usable = std::fabs(out.value) < d.params->PRIMALBND || finite_upper(d, d.upper[k]);
  return out;
}

ImpliedBound implied_lower(const PresolveData& d, int32_t r, int32_t k, double a) {
  ImpliedBound out;
  const double up = d.upper[k];
  const bool up_finite = finite_upper(d, up);
  const double activity = a <= 0.0 ? d.min_activity[r] : d.max_activity[r];
  const double infinite = a <= 0.0 ? d.min_infinite[r] : d.max_infinite[r];
  if (infinite != (up_finite ? 0.0 : 1.0)) return out;
  out.value = (d.rhs[r] - activity) / a + (up_finite ? up : 0.0);
  out.usable = std::fabs(out.value) < d.params->PRIMALBND || finite_lower(d, d.lower[k]);
  return out;
}

// Moves one bound of column k and keeps the row activity bounds in step.
void move_column_bound(PresolveData& d, int32_t k, double old_bound, double new_bound, int32_t sign) {
  update_activity_bound(d.factor_index, d.factor_value, d.factor_first[k], d.factor_last[k], old_bound, new_bound,
                        sign, d.max_activity, d.max_infinite, d.min_activity, d.min_infinite, d.finite_limit);
}

// Rows still in the problem in ascending length, each row's entries in
// ascending column length; returns their number (in candidate_list).
int32_t order_rows(PresolveData& d) {
  const int32_t n = d.n;
  int32_t* key = d.arrays->int_work_c;
  double* scratch = d.arrays->w;
  for (int32_t j = 1; j <= n; ++j) key[j] = presolve_live_count(d, j);
  int32_t count = 0;
  for (int32_t i = 1; i <= d.m; ++i) {
    if (presolve_is_removed(d, n + i)) continue;
    const int32_t first = d.factor_first[n + i];
    const int32_t length = presolve_live_count(d, n + i);
    if (length > 1) {
      for (int32_t e = first; e < first + length; ++e) scratch[d.row_index[e]] = d.row_value[e];
      sort_index_by_key(length, d.row_index + first - 1, key);
      for (int32_t e = first; e < first + length; ++e) d.row_value[e] = scratch[d.row_index[e]];
    }
    key[n + i] = length;
    d.candidate_list[++count] = i;
  }
  sort_index_by_key(count, d.candidate_list, key + n);
  return count;
}

// Bounds pushed through the rows, a ring of m slots over the sorted
// rows. Returns false on crossed bounds (culprit in candidate_count).
bool propagate_bounds(PresolveData& d, int32_t queued) {
  const int32_t n = d.n;
  const int32_t m = d.m;
  const barrier_params& p = *d.params;
  double* up_count = d.col_work_a;
  double* lo_count = d.col_work_b;
  int32_t budget = p.BNDLOOP;
  if (budget <= 0 || queued == 0) return true;
  int32_t read = 0;
  int32_t write = queued;

  auto requeue_rows_of = [&](int32_t k) {
    for (int32_t e = d.factor_first[k]; e <= d.factor_last[k]; ++e) {
      const int32_t row = d.factor_index[e];
      if (d.candidate_mark[n + row] != kRowRead) continue;
      write = write == m ? 1 : write + 1;
      d.candidate_list[write] = row;
      d.candidate_mark[n + row] = kRowQueued;
    }
  };

  while (read != write) {
    if (read == m) {
      read = 1;
      if (--budget == 0) break;
    } else {
      ++read;
    }
    const int32_t r = d.candidate_list[read];
    d.candidate_mark[n + r] = kRowRead;
    for (int32_t e = d.factor_first[n + r]; e <= d.factor_last[n + r]; ++e) {
      const int32_t k = d.row_index[e];
      const double a = d.row_value[e];
      ImpliedBound up = implied_upper(d, r, k, a);
      double tol = (std::fabs(up.value) + 1.0) * p.PRESFEAS;
      if (up.usable && tol < d.upper[k] - up.value) {
        up_count[k] += 1.0;
        if (tol < d.lower[k] - up.value) {
          d.candidate_count = -k;
          return false;
        }
        const double v = std::fmax(up.value, d.lower[k]);
        move_column_bound(d, k, d.upper[k], v, +1);
        d.upper[k] = v;
        if (up_count[k] < p.BNDLOOP) requeue_rows_of(k);
      }
      ImpliedBound lo = implied_lower(d, r, k, a);
      tol = (std::fabs(lo.value) + 1.0) * p.PRESFEAS;
      if (lo.usable && tol < lo.value - d.lower[k]) {
        lo_count[k] += 1.0;
        if (tol < lo.value - d.upper[k]) {
          d.candidate_count = -k;
          return false;
        }
        const double v = std::fmin(lo.value, d.upper[k]);
        move_column_bound(d, k, d.lower[k], v, -1);
        d.lower[k] = v;
        if (lo_count[k] < p.BNDLOOP) requeue_rows_of(k);
      }
    }
  }
  return true;
}

void clear_row_marks(PresolveData& d) {
  for (int32_t i = 1; i <= d.m; ++i) d.candidate_mark[d.n + i] = -1;
}

}  // namespace

int32_t presolve_implied_bounds(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const int32_t m = d.m;
  const barrier_params& p = *d.params;
  const double inf = d.infinity;
  double* up_count = d.col_work_a;
  double* lo_count = d.col_work_b;

  const int32_t queued = order_rows(d);
  for (int32_t j = 1; j <= n; ++j) {
    up_count[j] = 0.0;
    lo_count[j] = 0.0;
    d.saved_upper[j] = d.upper[j];
    d.saved_lower[j] = d.lower[j];
  }

  // From here on the activity bounds describe a.x - s, for the rest of the
  // stage.
  for (int32_t i = 1; i <= m; ++i) {
    const double slo = d.lower[n + i];
    const double sup = d.upper[n + i];
    if (sup <= d.finite_limit) {
      d.min_activity[i] -= sup;
    } else {
      d.min_infinite[i] += 1.0;
    }
    if (slo >= -d.finite_limit) {
      d.max_activity[i] -= slo;
    } else {
      d.max_infinite[i] += 1.0;
    }
    d.candidate_mark[n + i] = presolve_is_removed(d, n + i) ? kRowOut : kRowQueued;
  }

  // Redundant bounds: a bound equal to what a row implies is dropped; the
  // row keeps the column inside it.
  for (int32_t l = 1; l <= queued; ++l) {
    const int32_t r = d.candidate_list[l];
    for (int32_t e = d.factor_first[n + r]; e <= d.factor_last[n + r]; ++e) {
      const int32_t k = d.row_index[e];
      const double a = d.row_value[e];
      const ImpliedBound up = implied_upper(d, r, k, a);
      if (up.usable && std::fabs(d.upper[k] - up.value) < (std::fabs(up.value) + 1.0) * p.PRESFEAS) {
        move_column_bound(d, k, d.upper[k], inf, +1);
        d.upper[k] = inf;
      }
      const ImpliedBound lo = implied_lower(d, r, k, a);
      if (lo.usable && std::fabs(lo.value - d.lower[k]) < (std::fabs(lo.value) + 1.0) * p.PRESFEAS) {
        move_column_bound(d, k, d.lower[k], -inf, -1);
        d.lower[k] = -inf;
      }
    }
  }

  const bool propagated = propagate_bounds(d, queued);
  clear_row_marks(d);
  if (!propagated) return kPresolveInfeasible;

  d.candidate_count = 0;
  for (int32_t i = 1; i <= m; ++i) {
    if (presolve_is_removed(d, n + i)) continue;
    const double b = d.rhs[i];
    const double tol = (std::fabs(b) + 1.0) * p.PRESFEAS;
    if ((d.max_infinite[i] == 0.0 && d.max_activity[i] - b < -tol) ||
        (d.min_infinite[i] == 0.0 && b - d.min_activity[i] < -tol)) {
      d.candidate_count = -(n + i);
      return kPresolveInfeasible;
    }
  }

  for (int32_t j = 1; j <= n; ++j) {
    if (presolve_is_removed(d, j)) continue;
    double& lo = d.lower[j];
    double& up = d.upper[j];
    const double tol = (std::fabs(lo) + 1.0) * p.PRESFEAS;
    if (lo - up > tol) {
      d.candidate_count = -j;
      return kPresolveInfeasible;
    }
    // Only a column whose own bounds nearly meet is fixed. One that the
    // propagation squeezed shut has one real bound at most: fixed, its
    // reduced cost could take either sign and would certify nothing for the
    // problem asked, so its tightened bounds are given up instead.
    if (up - lo < tol && up_count[j] == 0.0 && lo_count[j] == 0.0) {
      const double v = (lo + up) * 0.5;
      record_presolve_removal(d, j, -(2 + pass));
      detach_presolve_line(d, j, d.rhs, v, true);
      *d.objective_constant += v * d.cost[j];
      lo = v;
      up = v;
      continue;
    }
    // Every bound that was dropped or tightened ends infinite, its value
    // before the pass kept in the saved array; an untouched bound stays and
    // its saved entry says there is nothing to put back.
    if (!finite_lower(d, d.saved_lower[j])) {
      lo = -inf;
    } else {
      if (lo_count[j] > 0.0) lo = -inf;
      if (finite_lower(d, lo)) d.saved_lower[j] = -inf;
    }
    if (!finite_upper(d, d.saved_upper[j])) {
      up = inf;
    } else {
      if (up_count[j] > 0.0) up = inf;
      if (finite_upper(d, up)) d.saved_upper[j] = inf;
    }
  }
  return kPresolveDone;
}

int32_t presolve_doubleton_equations(PresolveData& d, int32_t pass) {
  (void)pass;
  const int32_t n = d.n;
  const barrier_params& p = *d.params;
  const double inf = d.infinity;
  for (int32_t i = 1; i <= d.m; ++i) {
    if (presolve_is_removed(d, n + i) || presolve_live_count(d, n + i) != 2) continue;
    const double slo = d.lower[n + i];
    const double sup = d.upper[n + i];
    const double range = sup - slo;
    if (!(range < d.finite_limit) || range > (std::fabs(slo) + 1.0) * p.TPLUS) continue;

    const int32_t e1 = d.factor_first[n + i];
    const int32_t e2 = e1 + 1;
    int32_t f = d.row_index[e1];
    int32_t o = d.row_index[e2];
    double a_f = d.row_value[e1];
    double a_o = d.row_value[e2];
    if (presolve_live_count(d, o) < presolve_live_count(d, f)) {
      std::swap(f, o);
      std::swap(a_f, a_o);
    }
    const bool f_bounded = finite_lower(d, d.lower[f]) || finite_upper(d, d.upper[f]);
    const bool o_bounded = finite_lower(d, d.lower[o]) || finite_upper(d, d.upper[o]);
    if (!f_bounded || !o_bounded || std::fabs(a_f) <= p.TZER || std::fabs(a_o) <= p.TZER) continue;

    // x_f = r - ratio x_o: each finite bound of f is a bound on x_o.
    const double ratio = a_o / a_f;
    const double r = (slo + d.rhs[i]) / a_f;
    double o_lower = -inf;  // what f's bounds make of x_o's range
    double o_upper = inf;
    const auto derive = [&](double bound_f, bool upper_side_of_f) {
      const double v = (r - bound_f) / ratio;
      // f's upper bound: ratio x_o >= r - up_f; its lower: ratio x_o <= r - lo_f.
      if ((ratio > 0.0) == upper_side_of_f) {
        o_lower = v;
      } else {
        o_upper = v;
      }
    };
    if (finite_upper(d, d.upper[f])) derive(d.upper[f], true);
    if (finite_lower(d, d.lower[f])) derive(d.lower[f], false);
    const double lo_o = std::fmax(d.lower[o], o_lower);
    const double up_o = std::fmin(d.upper[o], o_upper);
    if ((std::fabs(lo_o) + 1.0) * p.PRESFEAS < lo_o - up_o) {
      d.candidate_count = -(n + i);
      return kPresolveInfeasible;
    }
    // A bound of f goes only when o's own bound already implies it. Moving
    // a tighter bound onto o would let o rest at a bound it does not have,
    // and its reduced cost would then certify nothing for the problem
    // asked (the duals of the row and of f would have to take it back).
    const auto implied = [&](double derived, double own, bool lower_side) {
      if (lower_side) return !(derived > -d.finite_limit) || derived <= own + (std::fabs(own) + 1.0) * p.PRESFEAS;
      return !(derived < d.finite_limit) || derived >= own - (std::fabs(own) + 1.0) * p.PRESFEAS;
    };
    const bool o_lower_implied = implied(o_lower, d.lower[o], true);
    const bool o_upper_implied = implied(o_upper, d.upper[o], false);
    // f's upper bound gave o's lower side when ratio > 0, its upper side
    // otherwise; likewise for f's lower bound.
    const bool drop_up_f = ratio > 0.0 ? o_lower_implied : o_upper_implied;
    const bool drop_lo_f = ratio > 0.0 ? o_upper_implied : o_lower_implied;
    if (drop_lo_f) {
      d.lower[f] = -inf;
      d.saved_lower[f] = -inf;
    }
    if (drop_up_f) {
      d.upper[f] = inf;
      d.saved_upper[f] = inf;
    }
  }
  return kPresolveDone;
}

}  // namespace kl
