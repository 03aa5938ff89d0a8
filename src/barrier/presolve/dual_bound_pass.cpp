// The dual-bound pass of the barrier presolve's round loop: intervals for
// the row duals, the reduced-cost bounds they give every column, and the
// columns whose reduced cost has a known sign.
#include <algorithm>
#include <cmath>

#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

struct DualPass {
  PresolveData& d;
  int32_t pass;
  double fl;
  double presfeas;
  double inf;

  bool in_problem(int32_t j) const { return d.var_state[j] >= -1; }
  int32_t live(int32_t position) const { return presolve_live_count(d, position); }
  bool wide(int32_t j) const { return d.upper[j] - d.lower[j] > fl; }
  double start_max_count(int32_t j) const {
    return (d.lower[j] > -fl ? 1.0 : 0.0) + (d.quad_mark[j] >= 1 ? 1.0 : 0.0);
  }
  double start_min_count(int32_t j) const {
    return (d.upper[j] < fl ? 1.0 : 0.0) + (d.quad_mark[j] >= 1 ? 1.0 : 0.0);
  }
  // The row's dual terms into (+1) or out of (-1) its columns' dual
  // activity bounds.
  void row_dual_terms(int32_t i, int32_t sign) {
    const int32_t q = d.n + i;
    add_column_activity(d.row_index, d.row_value, d.factor_first[q], d.factor_last[q], d.dual_upper[i],
                        d.dual_lower[i], sign, d.dual_max_activity, d.dual_max_infinite, d.dual_min_activity,
                        d.dual_min_infinite, fl);
  }
  // The reduced cost of j cannot be positive (v = upper) or negative
  // (v = lower) beyond the margin; 0 when neither is known.
  int32_t dominated_side(int32_t j, double margin_up, double margin_down) const {
    const double c = d.cost[j];
    if (d.dual_min_infinite[j] == (d.upper[j] < fl ? 1.0 : 0.0) && c - d.dual_min_activity[j] < margin_up) return 1;
    if (d.dual_max_infinite[j] == (d.lower[j] > -fl ? 1.0 : 0.0) && c - d.dual_max_activity[j] >= margin_down) {
      return -1;
    }
    return 0;
  }
  // Fixes j at w: out of its rows (rhs absorbing w), activities updated.
  void fix(int32_t j, double w, int32_t state) {
    record_presolve_removal(d, j, state);
    detach_presolve_line(d, j, d.rhs, w, true);
    *d.objective_constant += w * d.cost[j];
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) touch_presolve_line(d, d.n + d.factor_index[e], pass);
    add_column_activity(d, j, d.upper[j], d.lower[j], -1);
  }
};

}  // namespace

int32_t presolve_dual_bounds(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const int32_t m = d.m;
  DualPass s{d, pass, d.finite_limit, d.params->PRESFEAS, d.infinity};
  const double fl = s.fl;
  const double inf = s.inf;
  const double presfeas = s.presfeas;
  const double dualbnd = d.params->DUALBND;
  int32_t* marks = d.candidate_mark;
  int32_t* list = d.candidate_list;

  // 1. Rows on the pass's candidate list start from the signs their slack
  //    allows.
  for (int32_t k = 1; k <= d.row_candidate_count; ++k) {
    const int32_t r = list[n + k];
    marks[n + r] = -1;
    d.dual_lower[r] = d.upper[n + r] <= fl ? -inf : 0.0;
    d.dual_upper[r] = d.lower[n + r] >= -fl ? inf : 0.0;
  }
  d.row_candidate_count = 0;
  // The column candidates of the earlier pass give way to this pass's own.
  for (int32_t k = 1; k <= d.candidate_count; ++k) marks[d.candidate_kind_rows ? n + list[k] : list[k]] = -1;
  d.candidate_count = 0;
  d.candidate_kind_rows = false;

  // 2. Column singletons without one of their bounds bound their row's dual.
  for (int32_t j = 1; j <= n; ++j) {
    d.dual_max_activity[j] = 0.0;
    d.dual_min_activity[j] = 0.0;
    d.dual_max_infinite[j] = s.start_max_count(j);
    d.dual_min_infinite[j] = s.start_min_count(j);
    if (d.quad_mark[j] >= 1 || !s.in_problem(j) || !s.wide(j) || s.live(j) != 1) continue;
    const int32_t i = d.factor_index[d.factor_first[j]];
    const double a = d.factor_value[d.factor_first[j]];
    const double y = d.cost[j] / a;
    if (d.upper[j] > fl) {
      if (a <= 0.0) {
        d.dual_lower[i] = std::max(d.dual_lower[i], y);
      } else {
        d.dual_upper[i] = std::min(d.dual_upper[i], y);
      }
    }
    if (d.lower[j] < -fl) {
      if (a >= 0.0) {
        d.dual_lower[i] = std::max(d.dual_lower[i], y);
      } else {
        d.dual_upper[i] = std::min(d.dual_upper[i], y);
      }
    }
  }
  // 3. The rows' dual bounds into the columns' dual activity bounds.
  for (int32_t i = 1; i <= m; ++i) {
    if (d.var_state[n + i] >= -1) s.row_dual_terms(i, 1);
  }

  // 4. Dominated columns, a stack.
  int32_t top = 0;
  for (int32_t j = 1; j <= n; ++j) {
    if (s.in_problem(j) && s.live(j) >= 2 && d.quad_mark[j] == 0 && s.wide(j)) {
      list[++top] = j;
      marks[j] = 1;
    } else {
      marks[j] = -2;
    }
  }
  while (top > 0) {
    const int32_t j = list[top--];
    marks[j] = -2;
    if (!s.in_problem(j) || s.live(j) == 1 || d.quad_mark[j] >= 1) continue;
    const double c = d.cost[j];
    const double tol = (std::fabs(c) + 1.0) * presfeas;
    const int32_t side = s.dominated_side(j, tol, -tol);
    if (side == 0) continue;
    const double v = side > 0 ? d.upper[j] : d.lower[j];
    const bool finite = std::fabs(v) <= fl;
    if (finite) {
      s.fix(j, v, -(2 + pass));
      d.lower[j] = d.upper[j] = v;
      continue;
    }
    if (std::fabs(c) > kPresolveTiny) {
      d.candidate_count = -j;
      return kPresolveUnbounded;
    }
    // Towards an infinite bound at no cost: the column can absorb whatever
    // its rows need, so they leave with it and the restoration gives it the
    // value; it keeps its bounds for that. Without the rows' removal it
    // stays in the problem: a value fixed in advance could break them.
    const bool empty = s.live(j) == 0;
    if ((d.flags & kPresolveFixedDualRows) == 0 && !empty) continue;
    s.fix(j, 0.0, -6);
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
      if (std::fabs(d.factor_value[e]) <= d.params->TZER) continue;
      const int32_t i = d.factor_index[e];
      const int32_t q = n + i;
      if (d.var_state[q] < -1) continue;
      record_presolve_removal(d, q, -6);
      detach_presolve_line(d, q, nullptr, 0.0, false);
      for (int32_t t = d.factor_first[q]; t <= d.factor_last[q]; ++t) {
        const int32_t k = d.row_index[t];
        touch_presolve_line(d, k, pass);
        if (marks[k] < 0) {
          list[++top] = k;
          marks[k] = 1;
        }
      }
      s.row_dual_terms(i, -1);
    }
  }

  // 5. Tightening of the row duals through columns without one bound: a
  //    ring of columns, each at most once in it.
  if (d.params->DULOOP > 0) {
    int32_t budget = d.params->DULOOP;
    int32_t in_ring = 0;
    int32_t write = 0;
    for (int32_t j = 1; j <= n; ++j) {
      if (s.in_problem(j) && s.live(j) >= 2 && s.wide(j)) {
        list[++write] = j;
        marks[j] = 1;
        ++in_ring;
      } else {
        marks[j] = -2;
      }
    }
    if (write == n) write = 0;
    int32_t read = 0;
    auto append_row_columns = [&](int32_t i) {
      const int32_t q = n + i;
      for (int32_t t = d.factor_first[q]; t <= d.factor_last[q]; ++t) {
        const int32_t k = d.row_index[t];
        if (marks[k] != -1 || !s.wide(k)) continue;
        write = write % n + 1;
        list[write] = k;
        marks[k] = 1;
        ++in_ring;
      }
    };
    while (in_ring > 0) {
      ++read;
      if (read > n) {
        read = 1;
        if (--budget <= 0) break;
      }
      const int32_t j = list[read];
      if (marks[j] != 1) continue;
      marks[j] = -1;
      --in_ring;
      if (d.quad_mark[j] >= 1 || !s.in_problem(j)) continue;
      const double c = d.cost[j];
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
        const int32_t i = d.factor_index[e];
        const double a = d.factor_value[e];
        const int32_t q = n + i;
        {
          const double value = a > 0.0 ? d.dual_min_activity[j] : d.dual_max_activity[j];
          const double count = a > 0.0 ? d.dual_min_infinite[j] : d.dual_max_infinite[j];
          const bool lower_infinite = std::fabs(d.dual_lower[i]) > fl;
          const double base = lower_infinite ? 0.0 : d.dual_lower[i];
          if (count == (lower_infinite ? 1.0 : 0.0)) {
            const double v = (c - value) / a + base;
            if (std::fabs(v) < dualbnd && (std::fabs(v) + 1.0) * presfeas < d.dual_upper[i] - v) {
              update_activity_bound(d.row_index, d.row_value, d.factor_first[q], d.factor_last[q], d.dual_upper[i], v,
                                    1, d.dual_max_activity, d.dual_max_infinite, d.dual_min_activity,
                                    d.dual_min_infinite, fl);
              d.dual_upper[i] = v;
              append_row_columns(i);
            }
          }
        }
        {
          const double value = a > 0.0 ? d.dual_max_activity[j] : d.dual_min_activity[j];
          const double count = a > 0.0 ? d.dual_max_infinite[j] : d.dual_min_infinite[j];
          const bool upper_infinite = std::fabs(d.dual_upper[i]) > fl;
          const double base = upper_infinite ? 0.0 : d.dual_upper[i];
          if (count == (upper_infinite ? 1.0 : 0.0)) {
            const double v = (c - value) / a + base;
            if (std::fabs(v) < dualbnd && (std::fabs(v) + 1.0) * presfeas < v - d.dual_lower[i]) {
              update_activity_bound(d.row_index, d.row_value, d.factor_first[q], d.factor_last[q], d.dual_lower[i], v,
                                    -1, d.dual_max_activity, d.dual_max_infinite, d.dual_min_activity,
                                    d.dual_min_infinite, fl);
              d.dual_lower[i] = v;
              append_row_columns(i);
            }
          }
        }
      }
    }
  }
  for (int32_t j = 1; j <= n; ++j) marks[j] = -1;
  d.candidate_count = 0;

  // 6. Rows: an empty dual interval means an unbounded primal; with the
  //    sub-option a fixed dual takes the row out into the costs.
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t q = n + i;
    if (d.var_state[q] < -1) continue;
    const double tol = (std::fabs(d.dual_lower[i]) + 1.0) * presfeas;
    if (d.dual_lower[i] - d.dual_upper[i] > tol) {
      d.candidate_count = -q;
      return kPresolveUnbounded;
    }
    if ((d.flags & kPresolveFixedDualRows) != 0 && d.dual_upper[i] - d.dual_lower[i] < tol) {
      const double y = (d.dual_upper[i] + d.dual_lower[i]) * 0.5;
      record_presolve_removal(d, q, -(2 + pass));
      detach_presolve_line(d, q, d.cost, y, true);
      *d.objective_constant += y * d.rhs[i];
      for (int32_t t = d.factor_first[q]; t <= d.factor_last[q]; ++t) touch_presolve_line(d, d.row_index[t], pass);
    }
  }

  // 7. A second, strict look at every linear column.
  for (int32_t j = 1; j <= n; ++j) {
    if (!s.in_problem(j) || d.quad_mark[j] >= 1) continue;
    const double c = d.cost[j];
    const double tol = (std::fabs(c) + 1.0) * presfeas;
    const bool empty = s.live(j) == 0;
    const int32_t side = s.dominated_side(j, -tol, tol);
    double v;
    if (side != 0) {
      v = side > 0 ? d.upper[j] : d.lower[j];
      if (std::fabs(v) > fl) {
        if (std::fabs(c) > kPresolveTiny) {
          d.candidate_count = -j;
          return kPresolveUnbounded;
        }
        if (!empty) continue;
      }
    } else if (empty && std::fabs(c) <= kPresolveTiny) {
      v = d.lower[j];
    } else {
      continue;
    }
    // An empty column at no cost may sit anywhere within its bounds.
    if (std::fabs(v) > fl) v = d.lower[j] > -fl ? d.lower[j] : (d.upper[j] < fl ? d.upper[j] : 0.0);
    s.fix(j, v, -(2 + pass));
    d.lower[j] = d.upper[j] = v;
  }
  return kPresolveDone;
}

}  // namespace kl
