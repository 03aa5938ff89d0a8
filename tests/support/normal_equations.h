// The normal-equation system of a constraint matrix for tests and
// benchmarks of the barrier's factorisation: the structure as the barrier's
// analysis (analyse_normal_equations) lays it out, cut into cache blocks; plus the products with K and with the factor
// that measure a factorisation's backward error.
#ifndef KLSOL_TESTS_SUPPORT_NORMAL_EQUATIONS_H
#define KLSOL_TESTS_SUPPORT_NORMAL_EQUATIONS_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "barrier/factor/cache_blocking.h"
#include "barrier/ordering/ordering_driver.h"
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

// Seconds spent in the analysis and in its symbolic factorisation.
struct AnalysisTimes {
  double analysis = 0.0;  // ordering, symbolic factor, post-order and supernodes
  double symbolic = 0.0;  // the symbolic factorisation alone
};

inline double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Analyses the normal equations of `a` and lays them out with column diagonals -1/D (D
// random positive over four decades) and row diagonals `row_diagonal`.
inline NormalSystem make_normal_system(const SparseColumns& a, uint32_t seed, double row_diagonal,
                                       AnalysisTimes* times = nullptr) {
  NormalSystem ns;
  const int32_t n = a.cols_count, m = a.rows_count;
  const int64_t nz = static_cast<int64_t>(a.rows.size());
  ns.sys = make_barrier_system(a, nullptr, static_cast<int32_t>(std::min<int64_t>(2000000000, 4 * nz + 1000)));
  const int32_t total = n + m;
  const size_t slots = static_cast<size_t>(total) + 2;
  // The factor's size is not known before the analysis: grow the space
  // until the lists fit.
  for (int64_t space = 8 * nz + 10 * static_cast<int64_t>(total) + 1000;; space *= 4) {
    if (space > 1000000000) {
      ns.status = kl::BARRIER_LISTS_TOO_LONG;
      return ns;
    }
    ns.sys = make_barrier_system(a, nullptr, static_cast<int32_t>(space));
    auto& s = ns.sys;
    std::vector<int32_t> pattern_start(static_cast<size_t>(n) + 2, 0), pattern_end(pattern_start.size(), 0),
        column_node(pattern_start.size(), 0);
    for (int32_t j = 1; j <= n; ++j) {
      pattern_start[static_cast<size_t>(j)] = s.matrix_start[static_cast<size_t>(j)];
      pattern_end[static_cast<size_t>(j)] = s.matrix_end[static_cast<size_t>(j)];
    }
    ns.pivot_order.assign(slots, 0);
    ns.pivot_rank.assign(slots, 0);
    ns.factor_first.assign(slots, 0);
    ns.factor_last.assign(slots, 0);
    std::vector<int32_t> work(static_cast<size_t>(kl::analysis_work_ints(s.params)), 0);
    std::vector<double> value_work(static_cast<size_t>(kl::analysis_value_work_doubles(s.params)), 0.0);
    auto clock = std::chrono::steady_clock::now();
    kl::analyse_normal_equations(s.params, kl::SYSTEM_NORMAL_EQUATIONS, s.var_state.data(), s.matrix_start.data(),
                                 s.matrix_end.data(), pattern_start.data(), pattern_end.data(), column_node.data(),
                                 s.quad_start.data(), s.fi(), s.fv(), work.data(), value_work.data(), s.params.TFIND,
                                 ns.pivot_order.data(), ns.pivot_rank.data(), ns.factor_first.data(),
                                 ns.factor_last.data(), ns.counts, ns.status);
    if (times != nullptr) times->analysis = seconds_since(clock);
    if (ns.status == kl::BARRIER_LISTS_TOO_LONG || ns.status == kl::BARRIER_SPACE_SHORT) continue;
    if (ns.status != 0) return ns;
    if (times != nullptr) {
      // The symbolic factorisation alone, again on the final order, in a
      // copy of the spaces.
      BarrierSystem copy = s;
      std::vector<int32_t> first(slots, 0), last(slots, 0), rank(slots, 0);
      kl::symbolic_counts counts;
      int32_t status = 0;
      clock = std::chrono::steady_clock::now();
      kl::compute_symbolic_factor(copy.params, copy.matrix_start.data(), ns.pivot_order.data(), copy.fi(), copy.fv(),
                                  first.data(), last.data(), copy.var_state.data(), copy.quad_start.data(),
                                  rank.data(), work.data(), value_work.data(), counts, status);
      times->symbolic = seconds_since(clock);
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
