// Duplicate rows and duplicate columns of the barrier presolve's final
// sequence: parallel lines found by hashing their patterns, the earlier line
// of a pair merged into the later one.
//
// The buckets borrow the candidate marks (heads, 0 = empty) and the
// candidate list (chain links: rows from entry n + 1, columns from entry
// m + 1). The scratch per partner line is the position-indexed `w` (values)
// and `int_work_c` (stamps): columns at 1..n, rows at n + 1..n + m. All are
// idle at this point.
#include <cmath>
#include <utility>

#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

constexpr double kRatioTolerance = 1e-15;

// One orientation of the entry lists, seen from the lines being hashed.
struct LineSide {
  int32_t offset;          // position of line l is offset + l
  int32_t partner_offset;  // position of partner q is partner_offset + q
  const int32_t* index;    // entry lists of the lines
  const double* value;
};

LineSide row_side(const PresolveData& d) { return {d.n, 0, d.row_index, d.row_value}; }
LineSide column_side(const PresolveData& d) { return {0, d.n, d.factor_index, d.factor_value}; }

int32_t first_entry(const PresolveData& d, const LineSide& s, int32_t line) {
  return d.factor_first[s.offset + line];
}
int32_t last_entry(const PresolveData& d, const LineSide& s, int32_t line) {
  return d.factor_last[s.offset + line];
}

// Chains lines count down to 1 into buckets by the sum of their partner
// indices, so that every chain is in ascending line order.
void hash_lines(PresolveData& d, const LineSide& s, int32_t count, int32_t link_offset, bool columns) {
  const int32_t buckets = d.n + d.m;
  int32_t* head = d.candidate_mark;
  int32_t* link = d.candidate_list + link_offset;
  for (int32_t b = 1; b <= buckets; ++b) head[b] = 0;
  for (int32_t l = count; l >= 1; --l) {
    if (presolve_is_removed(d, s.offset + l)) continue;
    if (columns && d.quad_mark[l] >= 1) continue;
    const int32_t first = first_entry(d, s, l);
    const int32_t last = last_entry(d, s, l);
    if (last < first) continue;
    int32_t key = 0;
    for (int32_t e = first; e <= last; ++e) {
      key += s.index[e] % buckets;
      if (key >= buckets) key -= buckets;
    }
    link[l] = head[key + 1];
    head[key + 1] = l;
  }
}

int32_t bucket_of(const PresolveData& d, const LineSide& s, int32_t line) {
  const int32_t buckets = d.n + d.m;
  int32_t key = 0;
  for (int32_t e = first_entry(d, s, line); e <= last_entry(d, s, line); ++e) {
    key += s.index[e] % buckets;
    if (key >= buckets) key -= buckets;
  }
  return key + 1;
}

// The first later line of line l's bucket with the same pattern and values
// proportional to l's (a_l = ratio x a_r), or 0. Line l's values and stamps
// are in the scratch. `accept` adds a test of its own before the values.
template <typename Accept>
int32_t find_parallel_line(PresolveData& d, const LineSide& s, int32_t l, int32_t link_offset, double& ratio,
                           Accept accept) {
  int32_t* head = d.candidate_mark;
  int32_t* link = d.candidate_list + link_offset;
  const double* scratch = d.arrays->w + s.partner_offset;
  const int32_t* stamp = d.arrays->int_work_c + s.partner_offset;
  const double tzer = d.params->TZER;
  const int32_t bucket = bucket_of(d, s, l);
  // Every earlier line of the bucket has had its turn and left it, so l
  // leads its chain.
  head[bucket] = link[l];
  const int32_t length = last_entry(d, s, l) - first_entry(d, s, l) + 1;
  for (int32_t r = head[bucket]; r != 0; r = link[r]) {
    const int32_t first = first_entry(d, s, r);
    const int32_t last = last_entry(d, s, r);
    if (r <= l || last - first + 1 != length) continue;
    bool same_pattern = true;
    for (int32_t e = first; e <= last && same_pattern; ++e) same_pattern = stamp[s.index[e]] == l;
    if (!same_pattern || std::fabs(s.value[first]) < tzer) continue;
    const double candidate = scratch[s.index[first]] / s.value[first];
    if (!accept(r, candidate)) continue;
    const double tol = (std::fabs(candidate) + 1.0) * kRatioTolerance;
    bool parallel = true;
    for (int32_t e = first; e <= last && parallel; ++e) {
      parallel = std::fabs(scratch[s.index[e]] / s.value[e] - candidate) <= tol;
    }
    if (parallel) {
      ratio = candidate;
      return r;
    }
  }
  return 0;
}

void stamp_line(PresolveData& d, const LineSide& s, int32_t l) {
  double* scratch = d.arrays->w + s.partner_offset;
  int32_t* stamp = d.arrays->int_work_c + s.partner_offset;
  for (int32_t e = first_entry(d, s, l); e <= last_entry(d, s, l); ++e) {
    if (std::fabs(s.value[e]) <= d.params->TZER) continue;
    scratch[s.index[e]] = s.value[e];
    stamp[s.index[e]] = l;
  }
}

// Takes the entries of removed partners out of line q's live list.
void compact_line(PresolveData& d, const LineSide& s, int32_t q) {
  int32_t* index = const_cast<int32_t*>(s.index);
  double* value = const_cast<double*>(s.value);
  int32_t& last = d.factor_last[s.offset + q];
  for (int32_t e = d.factor_first[s.offset + q]; e <= last;) {
    if (presolve_is_removed(d, s.partner_offset + index[e])) {
      std::swap(index[e], index[last]);
      std::swap(value[e], value[last]);
      --last;
    } else {
      ++e;
    }
  }
}

// The lines merged away in this call (state at or below `merged_below`) drop
// out of their partners' lists, each partner compacted once. `on_compacted`
// sees each compacted partner.
template <typename OnCompacted>
void compact_merged(PresolveData& d, const LineSide& lines, const LineSide& partners, int32_t count,
                    int32_t merged_below, OnCompacted on_compacted) {
  int32_t* done = d.arrays->int_work_c + lines.partner_offset;
  for (int32_t q = 1; q <= (lines.offset == 0 ? d.m : d.n); ++q) done[q] = 0;
  for (int32_t l = 1; l <= count; ++l) {
    if (d.var_state[lines.offset + l] > merged_below) continue;
    for (int32_t e = first_entry(d, lines, l); e <= last_entry(d, lines, l); ++e) {
      const int32_t q = lines.index[e];
      if (done[q] != 0) continue;
      done[q] = 1;
      compact_line(d, partners, q);
      on_compacted(q);
    }
  }
}

void clear_borrowed(PresolveData& d) {
  for (int32_t k = 1; k <= d.n + d.m; ++k) d.candidate_mark[k] = -1;
  d.candidate_count = 0;
}

}  // namespace

int32_t presolve_duplicate_rows(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const int32_t m = d.m;
  const barrier_params& p = *d.params;
  const double inf = d.infinity;
  const LineSide rows = row_side(d);
  const LineSide cols = column_side(d);
  int32_t* stamp = d.arrays->int_work_c;

  d.active_col_count = 0;
  for (int32_t j = 1; j <= n; ++j) {
    d.touch_mark[j] = -1;
    stamp[j] = 0;
  }
  hash_lines(d, rows, m, n, false);

  int32_t result = kPresolveDone;
  int32_t culprit = 0;
  for (int32_t i = 1; i <= m && result == kPresolveDone; ++i) {
    if (presolve_is_removed(d, n + i) || d.factor_last[n + i] < d.factor_first[n + i]) continue;
    stamp_line(d, rows, i);
    double ratio = 0.0;
    const int32_t r = find_parallel_line(d, rows, i, n, ratio, [](int32_t, double) { return true; });
    if (r == 0) continue;

    // a_r.x's range from row r, and the one row i implies (a_r.x = a_i.x / ratio).
    double& slo_r = d.lower[n + r];
    double& sup_r = d.upper[n + r];
    const double b_r = d.rhs[r];
    double low = slo_r > -d.finite_limit ? slo_r + b_r : -inf;
    double high = sup_r < d.finite_limit ? sup_r + b_r : inf;
    const double b_i = d.rhs[i];
    const double slo_i = d.lower[n + i];
    const double sup_i = d.upper[n + i];
    double end_low = slo_i > -d.finite_limit ? (b_i + slo_i) / ratio : (ratio < 0.0 ? inf : -inf);
    double end_high = sup_i < d.finite_limit ? (b_i + sup_i) / ratio : (ratio < 0.0 ? -inf : inf);
    if (ratio < 0.0) std::swap(end_low, end_high);

    d.upper[n + i] = ratio;
    d.lower[n + i] = 0.0;
    if (low < end_low) {
      d.lower[n + i] = 1.0;
      low = end_low;
      slo_r = low - b_r;
    }
    if (end_high < high) {
      d.lower[n + i] += 2.0;
      high = end_high;
      sup_r = high - b_r;
    }
    if (low > -d.finite_limit && (std::fabs(low) + 1.0) * p.PRESFEAS < low - high) {
      d.var_state[n + r] = 3;
      d.var_state[n + i] = 3;
      culprit = -(n + i);
      result = kPresolveInfeasible;
      break;
    }
    record_presolve_removal(d, n + i, -(12 + n + pass + r));
  }

  // Each column of a merged row is compacted once; those left with one
  // entry go to the column-singleton pass.
  compact_merged(d, rows, cols, m, -(20 + n), [&](int32_t j) {
    if (presolve_live_count(d, j) == 1) {
      d.active_list[++d.active_col_count] = j;
      d.touch_mark[j] = 1;
    }
  });
  clear_borrowed(d);
  d.candidate_count = culprit;
  return result;
}

int32_t presolve_duplicate_columns(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const int32_t m = d.m;
  const barrier_params& p = *d.params;
  const double inf = d.infinity;
  const LineSide rows = row_side(d);
  const LineSide cols = column_side(d);
  int32_t* stamp = d.arrays->int_work_c + n;

  for (int32_t i = 1; i <= m; ++i) stamp[i] = 0;
  hash_lines(d, cols, n, m, true);

  for (int32_t j = 1; j <= n; ++j) {
    if (presolve_is_removed(d, j) || d.quad_mark[j] >= 1 || d.factor_last[j] < d.factor_first[j]) continue;
    stamp_line(d, cols, j);
    double ratio = 0.0;
    const double c_j = d.cost[j];
    // Costs must follow the same ratio as the columns.
    const int32_t k = find_parallel_line(d, cols, j, m, ratio, [&](int32_t k, double candidate) {
      return d.quad_mark[k] < 1 && std::fabs(c_j - candidate * d.cost[k]) <= (std::fabs(c_j) + 1.0) * p.PRESFEAS;
    });
    if (k == 0) continue;

    // x_k stands for x_k + ratio x_j from here on; its range is the sum.
    const double lo_j = d.lower[j];
    const double up_j = d.upper[j];
    double end_low = lo_j > -d.finite_limit ? ratio * lo_j : (ratio < 0.0 ? inf : -inf);
    double end_high = up_j < d.finite_limit ? ratio * up_j : (ratio < 0.0 ? -inf : inf);
    if (ratio < 0.0) std::swap(end_low, end_high);
    const bool low_infinite = !(end_low > -d.finite_limit);
    const bool high_infinite = !(end_high < d.finite_limit);
    const double lo_k = d.lower[k];
    const double up_k = d.upper[k];

    d.cost[j] = ratio;
    d.lower[j] = low_infinite ? lo_k : end_low;
    d.upper[j] = high_infinite ? up_k : end_high;
    d.col_bound_code[j] = (low_infinite ? 4 : 0) + (high_infinite ? 8 : 0);
    d.lower[k] = (low_infinite || !(lo_k > -d.finite_limit)) ? -inf : lo_k + end_low;
    d.upper[k] = (high_infinite || !(up_k < d.finite_limit)) ? inf : up_k + end_high;
    d.saved_lower[k] = -inf;
    d.saved_upper[k] = inf;
    record_presolve_removal(d, j, -(12 + pass + k));
  }

  compact_merged(d, cols, rows, n, -20, [](int32_t) {});
  clear_borrowed(d);
  return kPresolveDone;
}

}  // namespace kl
