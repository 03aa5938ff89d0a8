// The normal-equation system of a constraint matrix for tests and
// benchmarks of the barrier's factorisation: the rows ordered by the
// barrier's minimum-degree ordering on the pattern of A·Aᵀ, every column
// before every row, the symbolic factor laid out by compute_symbolic_factor
// and cut into cache blocks; plus the products with K and with the factor
// that measure a factorisation's backward error.
#ifndef KLSOL_TESTS_SUPPORT_NORMAL_EQUATIONS_H
#define KLSOL_TESTS_SUPPORT_NORMAL_EQUATIONS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "barrier/factor/cache_blocking.h"
#include "barrier/ordering/minimum_degree.h"
#include "barrier/ordering/symbolic_factor.h"
#include "support/barrier_system.h"

namespace kltest {

// The arrays of a factorisation of the system's normal equations (1-based).
struct NormalSystem {
  BarrierSystem sys;
  std::vector<double> diagonal;  // K's diagonal by position
  std::vector<int32_t> pivot_order, pivot_rank, factor_first, factor_last, supernode_end, supernode_mark;
  std::vector<int32_t> update_lists, factor_cursor;
  std::vector<double> pivot_inverse, diag, diag_copy, y, push_work;
  kl::symbolic_counts counts;
  int32_t status = 0;
};

// Orders the rows (minimum degree on A·Aᵀ) and lays out the symbolic
// factor with the columns first. status: 0, or the failing routine's.
inline void order_rows_minimum_degree(const BarrierSystem& s, std::vector<int32_t>& row_order, int32_t& status) {
  const int32_t n = s.params.col_count;
  const int32_t m = s.params.row_count;
  std::vector<std::vector<int32_t>> adj(static_cast<size_t>(m) + 1);
  for (int32_t j = 1; j <= n; ++j) {
    const int32_t b = s.matrix_start[static_cast<size_t>(j)], e = s.matrix_start[static_cast<size_t>(j) + 1];
    for (int32_t x = b; x < e; ++x)
      for (int32_t y = x + 1; y < e; ++y) {
        const int32_t r1 = s.factor_index[static_cast<size_t>(x)] - n, r2 = s.factor_index[static_cast<size_t>(y)] - n;
        if (r1 == r2) continue;
        adj[static_cast<size_t>(std::min(r1, r2))].push_back(std::max(r1, r2));
      }
  }
  int64_t edges = 0;
  for (auto& l : adj) {
    std::sort(l.begin(), l.end());
    l.erase(std::unique(l.begin(), l.end()), l.end());
    edges += static_cast<int64_t>(l.size());
  }
  kl::barrier_params g = s.params;
  g.col_count = 0;
  g.row_count = m;
  g.var_count = m;
  g.matrix_nz = 0;
  g.quad_nz = 0;
  const int64_t space = 3 * edges + 10 * static_cast<int64_t>(m) + 1000;
  g.factor_space = static_cast<int32_t>(space);
  std::vector<int32_t> storage(static_cast<size_t>(space) + 1, 0), start(static_cast<size_t>(m) + 2, 0),
      length(static_cast<size_t>(m) + 2, 0), perm(static_cast<size_t>(m) + 2, 0), state(static_cast<size_t>(m) + 2, 0);
  int32_t f = 1;
  for (int32_t r = 1; r <= m; ++r) {
    start[static_cast<size_t>(r)] = f;
    length[static_cast<size_t>(r)] = static_cast<int32_t>(adj[static_cast<size_t>(r)].size());
    for (int32_t q : adj[static_cast<size_t>(r)]) storage[static_cast<size_t>(f++)] = q;
  }
  std::vector<int32_t> work(static_cast<size_t>(kl::minimum_degree_work_size(m)), 0);
  const int64_t reverse = kl::minimum_degree_reverse_capacity(g);
  std::vector<int32_t> reverse_store(static_cast<size_t>(reverse) + 1, 0);
  status = 0;
  kl::order_minimum_degree(g, m, start.data(), length.data(), perm.data(), state.data(), storage.data(), 0, 0,
                           work.data(), reverse_store.data(), reverse, status);
  row_order.assign(perm.begin() + 1, perm.begin() + 1 + m);
}

// Lays the normal equations of `a` out with column diagonals -1/D (D
// random positive over four decades) and row diagonals `row_diagonal`.
inline NormalSystem make_normal_system(const SparseColumns& a, uint32_t seed, double row_diagonal) {
  NormalSystem ns;
  const int32_t n = a.cols_count, m = a.rows_count;
  const int64_t nz = static_cast<int64_t>(a.rows.size());
  ns.sys = make_barrier_system(a, nullptr, static_cast<int32_t>(std::min<int64_t>(2000000000, 4 * nz + 1000)));
  std::vector<int32_t> rows;
  order_rows_minimum_degree(ns.sys, rows, ns.status);
  if (ns.status != 0) return ns;
  // Room for the factor: the symbolic factor's entry count is not known
  // before, so try growing spaces.
  std::vector<int32_t> order;
  for (int32_t j = 1; j <= n; ++j) order.push_back(j);
  for (int32_t r : rows) order.push_back(n + r);
  const int32_t total = n + m;
  const size_t slots = static_cast<size_t>(total) + 2;
  for (int64_t space = 8 * nz + 10 * total + 1000;; space *= 4) {
    if (space > 400000000) {
      ns.status = -1;
      return ns;
    }
    ns.sys = make_barrier_system(a, nullptr, static_cast<int32_t>(space));
    ns.sys.params.pivot_count = total;
    std::vector<int32_t> ord(slots, 0), rank(slots, 0), first(slots, 0), last(slots, 0);
    std::vector<int32_t> work(static_cast<size_t>(kl::kSymbolicWorkPerPosition) * slots, 0);
    std::vector<double> value_work(slots, 0.0);
    for (size_t k = 0; k < order.size(); ++k) ord[k + 1] = order[k];
    kl::compute_symbolic_factor(ns.sys.params, ns.sys.matrix_start.data(), ord.data(), ns.sys.fi(), ns.sys.fv(),
                                first.data(), last.data(), ns.sys.var_state.data(), ns.sys.quad_start.data(),
                                rank.data(), work.data(), value_work.data(), ns.counts, ns.status);
    if (ns.status == -1) continue;
    if (ns.status != 0) return ns;
    ns.pivot_order.assign(slots, 0);
    ns.factor_first.assign(slots, 0);
    ns.factor_last.assign(slots, 0);
    for (int32_t k = 1; k <= total; ++k) {
      const int32_t p = ord[static_cast<size_t>(k)];
      ns.pivot_order[static_cast<size_t>(k)] = p;
      ns.factor_first[static_cast<size_t>(k)] = first[static_cast<size_t>(p)];
      ns.factor_last[static_cast<size_t>(k)] = last[static_cast<size_t>(p)];
    }
    break;
  }
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> decade(-2.0, 2.0);
  ns.diagonal.assign(slots, row_diagonal);
  for (int32_t j = 1; j <= n; ++j) ns.diagonal[static_cast<size_t>(j)] = -1.0 / std::pow(10.0, decade(rng));
  ns.pivot_rank.assign(slots, 0);
  ns.supernode_end.assign(slots, 0);
  ns.supernode_mark.assign(slots, 0);
  ns.update_lists.assign(2 * slots, 0);
  ns.factor_cursor.assign(slots, 0);
  ns.pivot_inverse.assign(slots, 0.0);
  ns.push_work.assign(slots, 0.0);
  ns.diag = ns.diagonal;
  ns.diag_copy = ns.diagonal;
  ns.y.assign(static_cast<size_t>(m) + 1, 0.0);
  return ns;
}

inline void block_normal_system(NormalSystem& ns) {
  kl::block_supernodes_for_cache(ns.sys.params, ns.factor_first.data(), ns.factor_last.data(), ns.sys.fi(),
                                 ns.pivot_order.data(), ns.supernode_end.data(), ns.pivot_rank.data(),
                                 ns.supernode_mark.data());
}

// max |K·x - L·D·Lᵀ·x| / max (|L|·|D|·|Lᵀ|·|x|) over a random x, positions
// removed (state below -1) left out of both.
inline double product_backward_error(const NormalSystem& ns, uint32_t seed) {
  const auto& s = ns.sys;
  const int32_t n = s.params.col_count;
  const int32_t total = s.params.var_count;
  auto live = [&](int32_t p) { return s.var_state[static_cast<size_t>(p)] >= -1; };
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> val(-1.0, 1.0);
  std::vector<double> x(static_cast<size_t>(total) + 1, 0.0), kx(x.size(), 0.0), lx(x.size(), 0.0),
      ax(x.size(), 0.0);
  for (int32_t p = 1; p <= total; ++p) x[static_cast<size_t>(p)] = live(p) ? val(rng) : 0.0;
  for (int32_t p = 1; p <= total; ++p) kx[static_cast<size_t>(p)] = ns.diagonal[static_cast<size_t>(p)] * x[static_cast<size_t>(p)];
  for (int32_t j = 1; j <= n; ++j)
    for (int32_t e = s.matrix_start[static_cast<size_t>(j)]; e < s.matrix_start[static_cast<size_t>(j) + 1]; ++e) {
      const int32_t r = s.factor_index[static_cast<size_t>(e)];
      const double v = s.factor_value[static_cast<size_t>(e)];
      kx[static_cast<size_t>(r)] += v * x[static_cast<size_t>(j)];
      kx[static_cast<size_t>(j)] += v * x[static_cast<size_t>(r)];
    }
  for (int32_t k = 1; k <= s.params.pivot_count; ++k) {
    const int32_t p = ns.pivot_order[static_cast<size_t>(k)];
    const double inv = ns.diag[static_cast<size_t>(k)];
    if (inv == 0.0) continue;
    double z = 0.0, za = 0.0;
    const int32_t f = ns.factor_first[static_cast<size_t>(k)], l = ns.factor_last[static_cast<size_t>(k)];
    for (int32_t e = f; e <= l; ++e) {
      const int32_t r = s.factor_index[static_cast<size_t>(e)];
      if (!live(r)) continue;
      z += s.factor_value[static_cast<size_t>(e)] * x[static_cast<size_t>(r)];
      za += std::fabs(s.factor_value[static_cast<size_t>(e)] * x[static_cast<size_t>(r)]);
    }
    const double u = x[static_cast<size_t>(p)] / inv + z;
    const double ua = std::fabs(x[static_cast<size_t>(p)] / inv) + za;
    lx[static_cast<size_t>(p)] += u;
    ax[static_cast<size_t>(p)] += ua;
    for (int32_t e = f; e <= l; ++e) {
      const int32_t r = s.factor_index[static_cast<size_t>(e)];
      if (!live(r)) continue;
      lx[static_cast<size_t>(r)] += s.factor_value[static_cast<size_t>(e)] * inv * u;
      ax[static_cast<size_t>(r)] += std::fabs(s.factor_value[static_cast<size_t>(e)] * inv) * ua;
    }
  }
  double err = 0.0, scale = 0.0;
  for (int32_t k = 1; k <= s.params.pivot_count; ++k) {
    const int32_t p = ns.pivot_order[static_cast<size_t>(k)];
    if (!live(p) || ns.diag[static_cast<size_t>(k)] == 0.0) continue;
    err = std::max(err, std::fabs(kx[static_cast<size_t>(p)] - lx[static_cast<size_t>(p)]));
    scale = std::max(scale, ax[static_cast<size_t>(p)]);
  }
  return scale > 0.0 ? err / scale : err;
}

}  // namespace kltest

#endif
