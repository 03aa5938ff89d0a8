// Test support for the barrier's numeric factorisation: random
// quasi-definite systems, a plain symbolic elimination that lays out the
// factor structure, the calls of the four forms, and independent checks of
// the result (dense L·D·Lᵀ against K, or products with random vectors).
#ifndef KLSOL_TESTS_BARRIER_FACTOR_FACTOR_FIXTURE_H
#define KLSOL_TESTS_BARRIER_FACTOR_FACTOR_FIXTURE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/push_factor.h"
#include "barrier/ordering/symbolic_factor.h"
#include "support/barrier_system.h"

namespace kltest {

// One factorisation problem: the system K over positions (columns 1..n,
// rows n+1..n+m) laid out in the factor spaces, with every work array of
// the factorisation.
struct FactorCase {
  BarrierSystem sys;
  std::vector<double> diagonal;  // K's diagonal by position, 1-based
  std::vector<int32_t> pivot_order, pivot_rank, factor_first, factor_last, supernode_end, supernode_mark;
  std::vector<int32_t> update_lists, factor_cursor, scratch;
  std::vector<double> pivot_inverse, diag, diag_copy, y, push_work;
  int32_t pivot_dropped = -7;
  int32_t removed_rows = 0;
  int32_t N() const { return sys.params.var_count; }
};

// Random m x n matrix with about `per_column` entries a column, values in
// [-2,-0.5] ∪ [0.5,2]; `dense` extra columns with entries in most rows.
inline SparseColumns random_matrix(std::mt19937& rng, int32_t m, int32_t n, int32_t per_column, int32_t dense) {
  SparseColumns a;
  a.rows_count = m;
  a.cols_count = n + dense;
  std::uniform_real_distribution<double> mag(0.5, 2.0);
  std::uniform_int_distribution<int32_t> row(0, m - 1);
  for (int32_t j = 0; j < n + dense; ++j) {
    std::vector<int32_t> rows;
    const int32_t want = j < n ? per_column : std::max(1, m * 3 / 4);
    while (static_cast<int32_t>(rows.size()) < std::min(want, m)) {
      const int32_t r = row(rng);
      if (std::find(rows.begin(), rows.end(), r) == rows.end()) rows.push_back(r);
    }
    std::sort(rows.begin(), rows.end());
    for (int32_t r : rows) {
      a.rows.push_back(r);
      a.values.push_back((rng() % 2 ? 1 : -1) * mag(rng));
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

// Random strictly-lower quadratic pattern over n columns (about `count`
// entries), small enough that the column block stays negative definite.
inline SparseColumns random_quadratic(std::mt19937& rng, int32_t n, int32_t count) {
  SparseColumns q;
  q.rows_count = n;
  q.cols_count = n;
  std::vector<std::vector<int32_t>> cols(static_cast<size_t>(n));
  std::uniform_int_distribution<int32_t> pick(0, n - 1);
  for (int32_t t = 0; t < count; ++t) {
    int32_t i = pick(rng), j = pick(rng);
    if (i == j) continue;
    if (i < j) std::swap(i, j);
    auto& c = cols[static_cast<size_t>(j)];
    if (std::find(c.begin(), c.end(), i) == c.end()) c.push_back(i);
  }
  std::uniform_real_distribution<double> val(-0.5, 0.5);
  for (int32_t j = 0; j < n; ++j) {
    auto& c = cols[static_cast<size_t>(j)];
    std::sort(c.begin(), c.end());
    for (int32_t i : c) {
      q.rows.push_back(i);
      q.values.push_back(val(rng));
    }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  return q;
}

// Lays out the factor structure of `order` (positions by rank) by a plain
// symbolic elimination: matrix columns sorted by rank, the quadratic pattern
// rewritten so that column j lists its neighbours pivoted after it, in-place
// columns (no child, no later quadratic neighbour) kept as their matrix
// column, every other list built above the matrix and quadratic entries.
// Returns false when the factor space is too small.
inline bool lay_out_structure(FactorCase& fc, const std::vector<int32_t>& order) {
  BarrierSystem& s = fc.sys;
  kl::barrier_params& prm = s.params;
  const int32_t n = prm.col_count;
  const int32_t total = prm.var_count;
  const int32_t count = static_cast<int32_t>(order.size());
  prm.pivot_count = count;
  std::vector<int32_t> rank(static_cast<size_t>(total) + 1, total + 1);
  for (int32_t k = 0; k < count; ++k) rank[static_cast<size_t>(order[static_cast<size_t>(k)])] = k + 1;
  auto rk = [&](int32_t p) { return rank[static_cast<size_t>(p)]; };

  // Matrix columns sorted by rank.
  for (int32_t j = 1; j <= n; ++j) {
    std::vector<std::pair<int32_t, double>> col;
    for (int32_t e = s.matrix_start[static_cast<size_t>(j)]; e < s.matrix_start[static_cast<size_t>(j) + 1]; ++e)
      col.emplace_back(s.factor_index[static_cast<size_t>(e)], s.factor_value[static_cast<size_t>(e)]);
    std::sort(col.begin(), col.end(), [&](auto& x, auto& y) { return rk(x.first) < rk(y.first); });
    int32_t e = s.matrix_start[static_cast<size_t>(j)];
    for (auto& [r, v] : col) {
      s.factor_index[static_cast<size_t>(e)] = r;
      s.factor_value[static_cast<size_t>(e)] = v;
      ++e;
    }
  }
  // Quadratic neighbours of each column, in either triangle.
  std::vector<std::vector<std::pair<int32_t, double>>> quad(static_cast<size_t>(n) + 1);
  for (int32_t j = 1; j <= n; ++j)
    for (int32_t e = s.quad_start[static_cast<size_t>(j)]; e < s.quad_start[static_cast<size_t>(j) + 1]; ++e) {
      const int32_t i = s.factor_index[static_cast<size_t>(e)];
      const double v = s.factor_value[static_cast<size_t>(e)];
      if (rk(i) > rk(j)) {
        quad[static_cast<size_t>(j)].emplace_back(i, v);
      } else {
        quad[static_cast<size_t>(i)].emplace_back(j, v);
      }
    }
  int32_t e = prm.matrix_nz + 1;
  for (int32_t j = 1; j <= n; ++j) {
    auto& qc = quad[static_cast<size_t>(j)];
    std::sort(qc.begin(), qc.end(), [&](auto& x, auto& y) { return rk(x.first) < rk(y.first); });
    s.quad_start[static_cast<size_t>(j)] = e;
    for (auto& [i, v] : qc) {
      s.factor_index[static_cast<size_t>(e)] = i;
      s.factor_value[static_cast<size_t>(e)] = v;
      ++e;
    }
  }
  s.quad_start[static_cast<size_t>(n) + 1] = e;

  // Neighbours pivoted later, then the elimination.
  std::vector<std::vector<int32_t>> adj(static_cast<size_t>(total) + 1);
  for (int32_t j = 1; j <= n; ++j) {
    for (int32_t f = s.matrix_start[static_cast<size_t>(j)]; f < s.matrix_start[static_cast<size_t>(j) + 1]; ++f) {
      const int32_t r = s.factor_index[static_cast<size_t>(f)];
      adj[static_cast<size_t>(j)].push_back(r);
      adj[static_cast<size_t>(r)].push_back(j);
    }
    for (auto& [i, v] : quad[static_cast<size_t>(j)]) {
      adj[static_cast<size_t>(j)].push_back(i);
      adj[static_cast<size_t>(i)].push_back(j);
    }
  }
  std::vector<std::vector<int32_t>> lists(static_cast<size_t>(count) + 1);
  std::vector<std::vector<int32_t>> children(static_cast<size_t>(count) + 2);
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t p = order[static_cast<size_t>(k) - 1];
    std::vector<int32_t> l;
    for (int32_t q : adj[static_cast<size_t>(p)])
      if (rk(q) > k && rk(q) <= count) l.push_back(q);
    for (int32_t c : children[static_cast<size_t>(k)])
      for (int32_t q : lists[static_cast<size_t>(c)])
        if (q != p) l.push_back(q);
    std::sort(l.begin(), l.end(), [&](int32_t x, int32_t y) { return rk(x) < rk(y); });
    l.erase(std::unique(l.begin(), l.end()), l.end());
    if (!l.empty()) children[static_cast<size_t>(rk(l.front()))].push_back(k);
    lists[static_cast<size_t>(k)] = std::move(l);
  }
  fc.pivot_order.assign(static_cast<size_t>(total) + 1, 0);
  fc.factor_first.assign(static_cast<size_t>(total) + 1, 0);
  fc.factor_last.assign(static_cast<size_t>(total) + 1, 0);
  int32_t f = prm.matrix_nz + prm.quad_nz + 1;
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t p = order[static_cast<size_t>(k) - 1];
    fc.pivot_order[static_cast<size_t>(k)] = p;
    const bool in_place = p <= n && children[static_cast<size_t>(k)].empty() && quad[static_cast<size_t>(p)].empty();
    if (in_place) {
      const int32_t ms = s.matrix_start[static_cast<size_t>(p)];
      fc.factor_first[static_cast<size_t>(k)] = ms;
      int32_t last = s.matrix_start[static_cast<size_t>(p) + 1] - 1;
      while (last >= ms && rk(s.factor_index[static_cast<size_t>(last)]) > count) --last;
      fc.factor_last[static_cast<size_t>(k)] = last;
      continue;
    }
    const auto& l = lists[static_cast<size_t>(k)];
    if (static_cast<int64_t>(f) + static_cast<int64_t>(l.size()) >= prm.factor_space) return false;
    fc.factor_first[static_cast<size_t>(k)] = f;
    for (int32_t q : l) s.factor_index[static_cast<size_t>(f++)] = q;
    fc.factor_last[static_cast<size_t>(k)] = f - 1;
  }
  return true;
}

// The same structure as the analysis lays it out: build_lower_pattern and
// compute_symbolic_factor on `order`, the lists then indexed by rank.
inline bool lay_out_by_symbolic_factor(FactorCase& fc, const std::vector<int32_t>& order) {
  BarrierSystem& s = fc.sys;
  const int32_t total = s.params.var_count;
  const size_t slots = static_cast<size_t>(total) + 2;
  s.params.pivot_count = static_cast<int32_t>(order.size());
  std::vector<int32_t> ord(slots, 0), rank(slots, 0), first(slots, 0), last(slots, 0);
  std::vector<int32_t> work(static_cast<size_t>(kl::kSymbolicWorkPerPosition) * slots, 0);
  std::vector<double> value_work(slots, 0.0);
  for (size_t k = 0; k < order.size(); ++k) ord[k + 1] = order[k];
  if (s.params.quad_nz > 0)
    kl::build_lower_pattern(s.params, ord.data(), s.quad_start.data(), s.fi(), s.fv(), rank.data(), work.data(),
                            value_work.data());
  kl::symbolic_counts counts;
  int32_t status = 0;
  kl::compute_symbolic_factor(s.params, s.matrix_start.data(), ord.data(), s.fi(), s.fv(), first.data(), last.data(),
                              s.var_state.data(), s.quad_start.data(), rank.data(), work.data(), value_work.data(),
                              counts, status);
  if (status != 0) return false;
  fc.pivot_order.assign(static_cast<size_t>(total) + 1, 0);
  fc.factor_first.assign(static_cast<size_t>(total) + 1, 0);
  fc.factor_last.assign(static_cast<size_t>(total) + 1, 0);
  for (int32_t k = 1; k <= s.params.pivot_count; ++k) {
    const int32_t p = ord[static_cast<size_t>(k)];
    fc.pivot_order[static_cast<size_t>(k)] = p;
    fc.factor_first[static_cast<size_t>(k)] = first[static_cast<size_t>(p)];
    fc.factor_last[static_cast<size_t>(k)] = last[static_cast<size_t>(p)];
  }
  return true;
}

// Fills the work arrays of a case whose structure is laid out.
inline void prepare_work(FactorCase& fc) {
  const size_t size = static_cast<size_t>(fc.N()) + 1;
  fc.pivot_rank.assign(size, 0);
  fc.supernode_end.assign(size, 0);
  fc.supernode_mark.assign(size, 0);
  fc.update_lists.assign(2 * size, 0);
  fc.factor_cursor.assign(size, 0);
  fc.scratch.assign(size, 0);
  fc.pivot_inverse.assign(size, 0.0);
  fc.push_work.assign(size, 0.0);
  fc.diag = fc.diagonal;
  fc.diag_copy = fc.diagonal;
  if (fc.y.size() < static_cast<size_t>(fc.sys.m()) + 1) fc.y.assign(static_cast<size_t>(fc.sys.m()) + 1, 0.0);
}

inline void block_for_cache(FactorCase& fc) {
  kl::block_supernodes_for_cache(fc.sys.params, fc.factor_first.data(), fc.factor_last.data(), fc.sys.fi(),
                                 fc.pivot_order.data(), fc.supernode_end.data(), fc.pivot_rank.data(),
                                 fc.supernode_mark.data());
}

enum class Form { pull_normal, pull_columns, push_normal, push_columns };

// One factorisation call of the given form on the current arrays.
inline void factorise(FactorCase& fc, Form form) {
  fc.diag = fc.diagonal;
  auto& s = fc.sys;
  switch (form) {
    case Form::pull_normal:
      kl::factor_normal_matrix(s.params, s.fi(), s.fv(), fc.factor_first.data(), fc.factor_last.data(),
                               fc.pivot_order.data(), fc.pivot_rank.data(), fc.pivot_inverse.data(), fc.diag.data(),
                               fc.diag_copy.data(), fc.y.data(), s.var_state.data(), fc.update_lists.data(),
                               fc.factor_cursor.data(), fc.supernode_end.data(), fc.supernode_mark.data(),
                               fc.pivot_dropped, fc.removed_rows);
      break;
    case Form::pull_columns:
      kl::factor_normal_matrix_with_columns(
          s.params, s.fi(), s.fv(), fc.factor_first.data(), fc.factor_last.data(), fc.pivot_order.data(),
          fc.pivot_rank.data(), fc.pivot_inverse.data(), fc.diag.data(), fc.diag_copy.data(), fc.y.data(),
          s.var_state.data(), fc.update_lists.data(), fc.factor_cursor.data(), fc.supernode_end.data(),
          fc.supernode_mark.data(), s.matrix_start.data(), s.quad_start.data(), fc.scratch.data(), fc.pivot_dropped,
          fc.removed_rows);
      break;
    case Form::push_normal:
      kl::factor_normal_matrix_push(s.params, s.fi(), s.fv(), fc.factor_first.data(), fc.factor_last.data(),
                                    fc.pivot_order.data(), fc.pivot_rank.data(), fc.pivot_inverse.data(),
                                    fc.diag.data(), fc.diag_copy.data(), fc.y.data(), s.var_state.data(),
                                    fc.update_lists.data(), fc.factor_cursor.data(), fc.supernode_end.data(),
                                    fc.supernode_mark.data(), fc.push_work.data(), fc.pivot_dropped, fc.removed_rows);
      break;
    case Form::push_columns:
      kl::factor_normal_matrix_with_columns_push(
          s.params, s.fi(), s.fv(), fc.factor_first.data(), fc.factor_last.data(), fc.pivot_order.data(),
          fc.pivot_rank.data(), fc.pivot_inverse.data(), fc.diag.data(), fc.diag_copy.data(), fc.y.data(),
          s.var_state.data(), fc.update_lists.data(), fc.factor_cursor.data(), fc.supernode_end.data(),
          fc.supernode_mark.data(), s.matrix_start.data(), s.quad_start.data(), fc.scratch.data(),
          fc.push_work.data(), fc.pivot_dropped, fc.removed_rows);
      break;
  }
}

// K by position, dense (1-based, (N+1)^2), over the positions not removed.
inline std::vector<double> dense_system(const FactorCase& fc) {
  const auto& s = fc.sys;
  const int32_t n = s.params.col_count;
  const int32_t total = s.params.var_count;
  const size_t w = static_cast<size_t>(total) + 1;
  std::vector<double> k(w * w, 0.0);
  auto live = [&](int32_t p) { return s.var_state[static_cast<size_t>(p)] >= -1; };
  for (int32_t p = 1; p <= total; ++p)
    if (live(p)) k[static_cast<size_t>(p) * w + static_cast<size_t>(p)] = fc.diagonal[static_cast<size_t>(p)];
  for (int32_t j = 1; j <= n; ++j) {
    if (!live(j)) continue;
    for (int32_t e = s.matrix_start[static_cast<size_t>(j)]; e < s.matrix_start[static_cast<size_t>(j) + 1]; ++e) {
      const int32_t r = s.factor_index[static_cast<size_t>(e)];
      if (!live(r)) continue;
      k[static_cast<size_t>(r) * w + static_cast<size_t>(j)] = s.factor_value[static_cast<size_t>(e)];
      k[static_cast<size_t>(j) * w + static_cast<size_t>(r)] = s.factor_value[static_cast<size_t>(e)];
    }
    for (int32_t e = s.quad_start[static_cast<size_t>(j)]; e < s.quad_start[static_cast<size_t>(j) + 1]; ++e) {
      const int32_t i = s.factor_index[static_cast<size_t>(e)];
      if (!live(i)) continue;
      k[static_cast<size_t>(i) * w + static_cast<size_t>(j)] = -s.factor_value[static_cast<size_t>(e)];
      k[static_cast<size_t>(j) * w + static_cast<size_t>(i)] = -s.factor_value[static_cast<size_t>(e)];
    }
  }
  return k;
}

// max |K - L·D·Lᵀ| / max |K| over the ranked positions, from the stored
// factor (values L[r,k]·d_k, inverses in diag 1..pivot_count).
inline double backward_error(const FactorCase& fc) {
  const auto& s = fc.sys;
  const int32_t total = s.params.var_count;
  const size_t w = static_cast<size_t>(total) + 1;
  std::vector<double> k = dense_system(fc);
  std::vector<double> m(w * w, 0.0);
  for (int32_t r = 1; r <= s.params.pivot_count; ++r) {
    const int32_t p = fc.pivot_order[static_cast<size_t>(r)];
    const double inv = fc.diag[static_cast<size_t>(r)];
    const int32_t f = fc.factor_first[static_cast<size_t>(r)];
    const int32_t l = fc.factor_last[static_cast<size_t>(r)];
    if (inv != 0.0) m[static_cast<size_t>(p) * w + static_cast<size_t>(p)] += 1.0 / inv;
    for (int32_t a = f; a <= l; ++a) {
      const int32_t ra = s.factor_index[static_cast<size_t>(a)];
      if (s.var_state[static_cast<size_t>(ra)] < -1) continue;
      const double va = s.factor_value[static_cast<size_t>(a)];
      m[static_cast<size_t>(ra) * w + static_cast<size_t>(p)] += va;
      m[static_cast<size_t>(p) * w + static_cast<size_t>(ra)] += va;
      for (int32_t b = f; b <= l; ++b) {
        const int32_t rb = s.factor_index[static_cast<size_t>(b)];
        if (s.var_state[static_cast<size_t>(rb)] < -1) continue;
        m[static_cast<size_t>(ra) * w + static_cast<size_t>(rb)] += va * s.factor_value[static_cast<size_t>(b)] * inv;
      }
    }
  }
  double err = 0.0, scale = 0.0;
  std::vector<char> ranked(w, 0);
  for (int32_t r = 1; r <= s.params.pivot_count; ++r) ranked[static_cast<size_t>(fc.pivot_order[static_cast<size_t>(r)])] = 1;
  for (size_t i = 1; i < w; ++i) {
    if (!ranked[i]) continue;
    for (size_t j = 1; j < w; ++j) {
      if (!ranked[j]) continue;
      err = std::max(err, std::fabs(k[i * w + j] - m[i * w + j]));
      scale = std::max(scale, std::fabs(k[i * w + j]));
    }
  }
  return scale > 0.0 ? err / scale : err;
}

// Positions of the system in a random order; the columns first (in random
// order) when `columns_first`.
inline std::vector<int32_t> random_order(std::mt19937& rng, int32_t n, int32_t m, bool columns_first) {
  std::vector<int32_t> cols(static_cast<size_t>(n)), rows(static_cast<size_t>(m));
  std::iota(cols.begin(), cols.end(), 1);
  std::iota(rows.begin(), rows.end(), n + 1);
  std::shuffle(cols.begin(), cols.end(), rng);
  std::shuffle(rows.begin(), rows.end(), rng);
  std::vector<int32_t> order;
  if (columns_first) {
    order = cols;
    order.insert(order.end(), rows.begin(), rows.end());
  } else {
    order = cols;
    order.insert(order.end(), rows.begin(), rows.end());
    std::shuffle(order.begin(), order.end(), rng);
  }
  return order;
}

}  // namespace kltest

#endif
