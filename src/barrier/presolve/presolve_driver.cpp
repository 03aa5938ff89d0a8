// The barrier presolve's two stages, its list refresh and the small routines
// every pass shares.
#include <cmath>

#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

// Pass number of the sparsification (it records nothing of its own).
constexpr int32_t kSparsifyPass = 10;

bool is_row_pass(int32_t pass) { return pass == 1 || pass == 3 || pass == 5; }

// Empties a candidate list, giving every listed entity its mark back.
void clear_candidates(PresolveData& d, int32_t* list, int32_t& count, int32_t position_offset) {
  for (int32_t k = 1; k <= count; ++k) d.candidate_mark[list[k] + position_offset] = -1;
  count = 0;
}

// Walks one active list, dropping removed entities and those whose touch
// mark is the pass; with `candidates` the others join the candidate list
// as the pass asks.
void walk_active_list(PresolveData& d, int32_t* list, int32_t& count, int32_t offset, int32_t pass,
                      int32_t* cand_list, int32_t* cand_count, int32_t cand_offset) {
  int32_t k = 1;
  while (k <= count) {
    const int32_t e = list[k];
    const int32_t pos = e + offset;
    if (d.var_state[pos] < -1 || d.touch_mark[pos] == pass) {
      d.touch_mark[pos] = -pass;
      list[k] = list[count];
      --count;
      continue;
    }
    if (cand_list != nullptr && (pass > 2 || presolve_live_count(d, pos) == 1) && d.candidate_mark[pos] < 0) {
      ++*cand_count;
      cand_list[*cand_count] = e;
      d.candidate_mark[pos] = d.refresh_count;
    }
    ++k;
  }
  (void)cand_offset;
}

}  // namespace

PresolveData make_presolve_data(barrier_params& params, const BarrierWorkArrays& a, int32_t flags,
                                int32_t& presolve_count, double& objective_constant, double infinity) {
  PresolveData d;
  d.params = &params;
  d.arrays = &a;
  d.n = params.col_count;
  d.m = params.row_count;
  d.flags = flags;
  const int32_t n = d.n;
  d.matrix_start = a.matrix_start;
  d.quad_start = a.quad_start;
  d.factor_index = a.factor_index;
  d.factor_value = a.factor_value;
  d.factor_first = a.factor_first;
  d.factor_last = a.factor_last;
  d.row_base = params.matrix_nz + params.quad_nz + params.free_space;
  d.row_index = a.factor_index + d.row_base;
  d.row_value = a.factor_value + d.row_base;
  d.var_state = a.var_state;
  d.quad_mark = a.quad_mark;
  d.col_bound_code = a.col_bound_code;
  d.slack_bound_code = a.slack_bound_code;
  d.lower = a.lower;
  d.upper = a.upper;
  d.cost = a.cost;
  d.rhs = a.rhs;
  d.objective_constant = &objective_constant;
  d.infinity = infinity;
  d.finite_limit = 0.9 * infinity;
  d.presolve_list = a.presolve_list;
  d.presolve_count = &presolve_count;
  d.active_list = a.int_work_a;
  d.touch_mark = a.int_work_b;
  d.candidate_list = a.pivot_order;
  d.candidate_mark = a.pivot_rank;
  d.max_activity = a.q_dx + n;
  d.min_activity = a.dx + n;
  d.max_infinite = a.diag + n;
  d.min_infinite = a.diag_copy + n;
  d.saved_upper = a.q_dx;
  d.saved_lower = a.dx;
  d.col_work_a = a.diag;
  d.col_work_b = a.diag_copy;
  d.dual_max_activity = a.q_dx;
  d.dual_min_activity = a.dx;
  d.dual_max_infinite = a.diag;
  d.dual_min_infinite = a.diag_copy;
  d.dual_lower = a.y;
  d.dual_upper = a.dy;
  return d;
}

void add_column_activity(const int32_t* index, const double* value, int32_t first, int32_t last, double upper,
                         double lower, int32_t sign, double* max_activity, double* max_infinite,
                         double* min_activity, double* min_infinite, double finite_limit) {
  const bool upper_finite = upper < finite_limit;
  const bool lower_finite = lower > -finite_limit;
  for (int32_t e = first; e <= last; ++e) {
    const int32_t i = index[e];
    const double a = value[e];
    // a > 0: the upper bound feeds the largest activity; otherwise the lower.
    const double to_max = a > 0.0 ? upper : lower;
    const bool to_max_finite = a > 0.0 ? upper_finite : lower_finite;
    const double to_min = a > 0.0 ? lower : upper;
    const bool to_min_finite = a > 0.0 ? lower_finite : upper_finite;
    if (to_max_finite) {
      max_activity[i] += sign * a * to_max;
    } else {
      max_infinite[i] += sign;
    }
    if (to_min_finite) {
      min_activity[i] += sign * a * to_min;
    } else {
      min_infinite[i] += sign;
    }
  }
}

void add_column_activity(PresolveData& d, int32_t j, double upper, double lower, int32_t sign) {
  add_column_activity(d.factor_index, d.factor_value, d.factor_first[j], d.factor_last[j], upper, lower, sign,
                      d.max_activity, d.max_infinite, d.min_activity, d.min_infinite, d.finite_limit);
}

void update_activity_bound(const int32_t* index, const double* value, int32_t first, int32_t last,
                           double old_bound, double new_bound, int32_t sign, double* max_activity,
                           double* max_infinite, double* min_activity, double* min_infinite, double finite_limit) {
  double change = new_bound - old_bound;
  const bool old_infinite = std::fabs(old_bound) > finite_limit;
  const bool new_infinite = std::fabs(new_bound) > finite_limit;
  if (old_infinite) {
    sign = old_bound > 0.0 ? 1 : -1;
    for (int32_t e = first; e <= last; ++e) {
      if (sign * value[e] > 0.0) {
        max_infinite[index[e]] -= 1.0;
      } else {
        min_infinite[index[e]] -= 1.0;
      }
    }
    change = new_bound;
  }
  if (new_infinite) {
    sign = new_bound > 0.0 ? 1 : -1;
    for (int32_t e = first; e <= last; ++e) {
      if (sign * value[e] > 0.0) {
        max_infinite[index[e]] += 1.0;
      } else {
        min_infinite[index[e]] += 1.0;
      }
    }
    change = -old_bound;
  }
  if (old_infinite && new_infinite) return;
  for (int32_t e = first; e <= last; ++e) {
    const double a = value[e];
    if ((a > 0.0 && sign == 1) || (a <= 0.0 && sign != 1)) {
      max_activity[index[e]] += a * change;
    } else {
      min_activity[index[e]] += a * change;
    }
  }
}

void detach_presolve_line(PresolveData& d, int32_t e, double* vector, double value, bool fold) {
  const int32_t n = d.n;
  const bool is_row = e > n;
  const int32_t* own_index = is_row ? d.row_index : d.factor_index;
  const double* own_value = is_row ? d.row_value : d.factor_value;
  int32_t* partner_index = is_row ? d.factor_index : d.row_index;
  double* partner_value = is_row ? d.factor_value : d.row_value;
  const int32_t partner_offset = is_row ? 0 : n;
  const int32_t self = is_row ? e - n : e;
  for (int32_t k = d.factor_first[e]; k <= d.factor_last[e]; ++k) {
    const int32_t q = own_index[k] + partner_offset;
    const int32_t last = d.factor_last[q];
    for (int32_t t = d.factor_first[q]; t <= last; ++t) {
      if (partner_index[t] != self) continue;
      const int32_t ti = partner_index[t];
      const double tv = partner_value[t];
      partner_index[t] = partner_index[last];
      partner_value[t] = partner_value[last];
      partner_index[last] = ti;
      partner_value[last] = tv;
      d.factor_last[q] = last - 1;
      break;
    }
  }
  if (fold) {
    for (int32_t k = d.factor_first[e]; k <= d.factor_last[e]; ++k) vector[own_index[k]] -= value * own_value[k];
  }
}

void record_presolve_removal(PresolveData& d, int32_t position, int32_t state) {
  ++*d.presolve_count;
  d.presolve_list[*d.presolve_count] = position;
  d.var_state[position] = state;
}

void touch_presolve_line(PresolveData& d, int32_t position, int32_t pass) {
  if (d.touch_mark[position] < 0) {
    if (position > d.n) {
      ++d.active_row_count;
      d.active_list[d.n + d.active_row_count] = position - d.n;
    } else {
      ++d.active_col_count;
      d.active_list[d.active_col_count] = position;
    }
  }
  d.touch_mark[position] = pass;
}

void queue_presolve_candidate(PresolveData& d, int32_t position, int32_t pass) {
  if (d.candidate_mark[position] >= 0) return;
  ++d.candidate_count;
  d.candidate_list[d.candidate_count] = position > d.n ? position - d.n : position;
  d.candidate_mark[position] = pass;
}

int32_t pop_presolve_candidate(PresolveData& d) {
  // The list holds one kind at a time; which kind is the running pass's.
  if (d.candidate_count <= 0) return 0;
  const int32_t e = d.candidate_list[1];
  d.candidate_list[1] = d.candidate_list[d.candidate_count];
  --d.candidate_count;
  d.candidate_mark[d.candidate_kind_rows ? d.n + e : e] = -1;
  return e;
}

void refresh_presolve_lists(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  ++d.refresh_count;
  // The old lists are emptied with their marks, so that a candidate left
  // over from an earlier pass cannot keep a partner off the new list.
  clear_candidates(d, d.candidate_list + n, d.row_candidate_count, n);
  if (pass != 5) {
    clear_candidates(d, d.candidate_list, d.candidate_count, d.candidate_kind_rows ? n : 0);
    d.candidate_kind_rows = is_row_pass(pass);
  }
  int32_t* cand_list = pass == 5 ? d.candidate_list + n : d.candidate_list;
  int32_t* cand_count = pass == 5 ? &d.row_candidate_count : &d.candidate_count;
  int32_t* row_list = d.active_list + n;
  int32_t* col_list = d.active_list;
  const bool rows = is_row_pass(pass);
  if (rows) {
    walk_active_list(d, row_list, d.active_row_count, n, pass, cand_list, cand_count, n);
    walk_active_list(d, col_list, d.active_col_count, 0, pass, nullptr, nullptr, 0);
    for (int32_t k = 1; k <= d.active_col_count; ++k) {
      const int32_t j = col_list[k];
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
        const int32_t q = n + d.factor_index[e];
        if (d.candidate_mark[q] >= 0) continue;
        if (pass > 2 || presolve_live_count(d, q) == 1) {
          ++*cand_count;
          cand_list[*cand_count] = q - n;
          d.candidate_mark[q] = pass;
        }
      }
    }
  } else {
    walk_active_list(d, col_list, d.active_col_count, 0, pass, cand_list, cand_count, 0);
    walk_active_list(d, row_list, d.active_row_count, n, pass, nullptr, nullptr, 0);
    for (int32_t k = 1; k <= d.active_row_count; ++k) {
      const int32_t q = n + row_list[k];
      for (int32_t e = d.factor_first[q]; e <= d.factor_last[q]; ++e) {
        const int32_t j = d.row_index[e];
        if (d.candidate_mark[j] >= 0) continue;
        if (pass > 2 || presolve_live_count(d, j) == 1) {
          ++*cand_count;
          cand_list[*cand_count] = j;
          d.candidate_mark[j] = pass;
        }
      }
    }
  }
}

namespace {

// A verdict's culprit, left by the pass in the candidate count.
void mark_culprit(PresolveData& d) {
  const int32_t e = -d.candidate_count;
  if (e > 0 && e <= d.n + d.m) d.var_state[e] = 3;
  d.candidate_count = 0;
}

bool lists_empty(const PresolveData& d) { return d.active_col_count == 0 && d.active_row_count == 0; }

// Drops everything of the first round that no pass changed.
void drop_untouched(PresolveData& d) {
  const int32_t n = d.n;
  for (int32_t k = 1; k <= d.active_col_count;) {
    const int32_t j = d.active_list[k];
    if (d.touch_mark[j] == 0) {
      d.touch_mark[j] = -1;
      d.active_list[k] = d.active_list[d.active_col_count];
      --d.active_col_count;
    } else {
      ++k;
    }
  }
  for (int32_t k = 1; k <= d.active_row_count;) {
    const int32_t i = d.active_list[n + k];
    if (d.touch_mark[n + i] == 0) {
      d.touch_mark[n + i] = -1;
      d.active_list[n + k] = d.active_list[n + d.active_row_count];
      --d.active_row_count;
    } else {
      ++k;
    }
  }
}

// The round loop; returns a verdict (> 0) or 0.
int32_t run_round_loop(PresolveData& d) {
  const int32_t flags = d.flags;
  int32_t result = 0;
  refresh_presolve_lists(d, 1);
  while (!lists_empty(d)) {
    if ((flags & kPresolveSingletonRows) != 0 && d.candidate_count > 0) {
      result = presolve_singleton_rows(d, 1);
      if (result > 0) return result;
    }
    refresh_presolve_lists(d, 2);
    if (lists_empty(d)) break;
    if ((flags & kPresolveSingletonColumns) != 0 && d.candidate_count > 0) {
      result = presolve_singleton_columns(d, 2);
      if (result > 0) return result;
    }
    refresh_presolve_lists(d, 3);
    if (lists_empty(d)) break;
    if ((flags & kPresolveForcingRows) != 0 && d.candidate_count > 0) {
      result = presolve_forcing_rows(d, 3);
      if (result > 0) return result;
    }
    refresh_presolve_lists(d, 4);
    if (lists_empty(d)) break;
    if ((flags & kPresolveDominatedColumns) != 0 && d.candidate_count > 0) {
      result = presolve_dominated_columns(d, 4);
      if (result > 0) return result;
    }
    refresh_presolve_lists(d, 5);
    if (d.refresh_count == 5) drop_untouched(d);
    if ((flags & kPresolveDualBounds) != 0 && d.candidate_count + d.row_candidate_count >= 1) {
      result = presolve_dual_bounds(d, 5);
      if (result > 0) return result;
    }
    refresh_presolve_lists(d, 1);
  }
  return 0;
}

int32_t run_final_sequence(PresolveData& d) {
  const int32_t flags = d.flags;
  int32_t result = 0;
  if ((flags & kPresolveDuplicates) != 0) {
    clear_candidates(d, d.candidate_list, d.candidate_count, d.candidate_kind_rows ? d.n : 0);
    clear_candidates(d, d.candidate_list + d.n, d.row_candidate_count, d.n);
    result = presolve_duplicate_rows(d, 7);
    if (result > 0) return result;
    if (d.active_col_count > 0 && (flags & kPresolveSingletonColumns) != 0) {
      // The columns the merges left as singletons go to the column pass.
      for (int32_t j = 1; j <= d.n; ++j) d.candidate_mark[j] = -1;
      d.candidate_count = d.active_col_count;
      d.candidate_kind_rows = false;
      for (int32_t k = 1; k <= d.active_col_count; ++k) {
        d.candidate_list[k] = d.active_list[k];
        d.candidate_mark[d.active_list[k]] = 2;
      }
      result = presolve_singleton_columns(d, 2);
      if (result > 0) return result;
    }
  }
  if ((flags & kPresolveImpliedBounds) != 0) {
    result = presolve_implied_bounds(d, 6);
    if (result > 0) return result;
  }
  if ((flags & kPresolveDoubletons) != 0) {
    result = presolve_doubleton_equations(d, 8);
    if (result > 0) return result;
  }
  if ((flags & kPresolveDuplicates) != 0) presolve_duplicate_columns(d, 7);
  return 0;
}

}  // namespace

int32_t presolve_barrier_problem(PresolveData& d) {
  barrier_params& p = *d.params;
  const int32_t n = d.n;
  const int32_t m = d.m;
  // The row-wise copy needs room for every entry above the row base.
  if (p.free_space < p.matrix_nz ||
      static_cast<int64_t>(d.row_base) + p.matrix_nz >= static_cast<int64_t>(p.factor_space)) {
    return kPresolveSpaceShort;
  }
  for (int32_t k = 1; k <= n + m; ++k) d.candidate_mark[k] = -1;
  d.candidate_count = 0;
  d.row_candidate_count = 0;
  d.candidate_kind_rows = false;
  d.refresh_count = 0;
  d.active_col_count = 0;
  d.active_row_count = 0;

  // Rows: activities cleared; the live counts are gathered in factor_last.
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t q = n + i;
    d.max_activity[i] = d.min_activity[i] = 0.0;
    d.max_infinite[i] = d.min_infinite[i] = 0.0;
    d.factor_last[q] = 0;
    d.touch_mark[q] = 0;
    if (d.var_state[q] >= -1) {
      d.var_state[q] = 0;
      ++d.active_row_count;
      d.active_list[n + d.active_row_count] = i;
    }
  }
  // Columns: live entries first, then the removed ones (rows out of the
  // problem, entries too small to count).
  const double tzer = p.TZER;
  for (int32_t j = 1; j <= n; ++j) {
    d.saved_lower[j] = d.saved_upper[j] = d.col_work_a[j] = d.col_work_b[j] = 0.0;
    d.touch_mark[j] = 0;
    const int32_t start = d.matrix_start[j];
    d.factor_first[j] = start;
    if (d.var_state[j] < -1) {
      d.factor_last[j] = start - 1;
      continue;
    }
    d.var_state[j] = 0;
    ++d.active_col_count;
    d.active_list[d.active_col_count] = j;
    int32_t live_end = d.matrix_start[j + 1] - 1;
    for (int32_t e = live_end; e >= start; --e) {
      const int32_t i = d.factor_index[e];
      if (d.var_state[n + i] < -1 || std::fabs(d.factor_value[e]) <= tzer) {
        const int32_t ti = d.factor_index[e];
        const double tv = d.factor_value[e];
        d.factor_index[e] = d.factor_index[live_end];
        d.factor_value[e] = d.factor_value[live_end];
        d.factor_index[live_end] = ti;
        d.factor_value[live_end] = tv;
        --live_end;
      } else {
        ++d.factor_last[n + i];
      }
    }
    d.factor_last[j] = live_end;
  }
  // Row-wise copy: starts by prefix sums over the active rows.
  int32_t next = 1;
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t q = n + i;
    if (d.var_state[q] < -1) {
      d.factor_first[q] = 1;
      d.factor_last[q] = 0;
    }
  }
  for (int32_t k = 1; k <= d.active_row_count; ++k) {
    const int32_t q = n + d.active_list[n + k];
    const int32_t count = d.factor_last[q];
    d.factor_first[q] = next;
    d.factor_last[q] = next - 1;
    next += count;
  }
  for (int32_t j = 1; j <= n; ++j) {
    if (d.var_state[j] < -1) continue;
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
      const int32_t q = n + d.factor_index[e];
      const int32_t at = ++d.factor_last[q];
      d.row_index[at] = j;
      d.row_value[at] = d.factor_value[e];
    }
  }
  for (int32_t j = 1; j <= n; ++j) {
    if (d.var_state[j] < -1) continue;
    add_column_activity(d, j, d.upper[j], d.lower[j], 1);
  }

  int32_t result = run_round_loop(d);
  if (result == 0) result = run_final_sequence(d);
  if (result > 0) mark_culprit(d);
  return result;
}

int32_t reduce_barrier_problem(PresolveData& d) {
  barrier_params& p = *d.params;
  if (p.free_space < p.matrix_nz + p.quad_nz) return kPresolveSpaceShort;
  int32_t result = 0;
  if ((d.flags & kPresolveDependentRows) != 0) {
    result = find_dependent_rows(d, 9);
    if (result != 0) return result;
  }
  if ((d.flags & kPresolveFreeColumns) != 0) {
    result = eliminate_free_columns(d, 8);
    if (result != 0) return result;
    if (static_cast<int64_t>(p.factor_space) < 2 * (static_cast<int64_t>(p.matrix_nz) + p.quad_nz)) {
      return kPresolveSpaceShort;
    }
  }
  if ((d.flags & kPresolveSparsify) != 0) {
    // The row-wise copy again from the live column entries, right above the
    // stored matrix. The starts come from the current counts: an
    // elimination may have lengthened rows since the first stage.
    const int32_t n = d.n;
    d.row_base = p.matrix_nz + p.quad_nz;
    d.row_index = d.factor_index + d.row_base;
    d.row_value = d.factor_value + d.row_base;
    for (int32_t i = 1; i <= d.m; ++i) d.factor_last[n + i] = 0;
    for (int32_t j = 1; j <= n; ++j) {
      if (d.var_state[j] < -1) continue;
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) ++d.factor_last[n + d.factor_index[e]];
    }
    int32_t next = 1;
    for (int32_t i = 1; i <= d.m; ++i) {
      const int32_t count = d.factor_last[n + i];
      d.factor_first[n + i] = next;
      d.factor_last[n + i] = next - 1;
      next += count;
    }
    if (static_cast<int64_t>(d.row_base) + next >= static_cast<int64_t>(p.factor_space)) return kPresolveSpaceShort;
    for (int32_t j = 1; j <= n; ++j) {
      if (d.var_state[j] < -1) continue;
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
        const int32_t q = n + d.factor_index[e];
        const int32_t at = ++d.factor_last[q];
        d.row_index[at] = j;
        d.row_value[at] = d.factor_value[e];
      }
    }
    result = sparsify_equations(d, kSparsifyPass);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace kl
