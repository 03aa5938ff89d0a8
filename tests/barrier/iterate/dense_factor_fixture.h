// A quasi-definite barrier system K over the positions (columns 1..n, rows
// n+1..n+m) and its L D L' factor computed densely in a given pivot order,
// laid out as the numeric factorisation leaves it: lists by rank in
// factor_index/factor_value (the leading quadratic-free columns in place,
// as their own matrix columns), inverse pivots by rank, and cache blocks
// found by plain comparison of the lists. The tests of the solves and the
// refinements check against dense answers computed here independently.
#ifndef KLSOL_TESTS_BARRIER_ITERATE_DENSE_FACTOR_FIXTURE_H
#define KLSOL_TESTS_BARRIER_ITERATE_DENSE_FACTOR_FIXTURE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/barrier_system.h"

namespace kltest {

struct DenseFactor {
  BarrierSystem sys;
  int32_t size = 0;                // n + m
  std::vector<double> k;           // dense K, (size+1)^2, 1-based
  std::vector<double> diag_copy;   // diagonal of K by position
  std::vector<int32_t> pivot_order, factor_first, factor_last, supernode_end, supernode_mark;
  std::vector<double> pivot_inverse;  // by rank
  std::vector<int32_t> class_ranges = std::vector<int32_t>(17, 0);
  std::vector<double> unit_l;      // dense unit L by rank, (size+1)^2

  double& at(int32_t i, int32_t j) { return k[static_cast<size_t>(i) * (size + 1) + j]; }
  double kat(int32_t i, int32_t j) const { return k[static_cast<size_t>(i) * (size + 1) + j]; }
  double& l_at(int32_t r, int32_t c) { return unit_l[static_cast<size_t>(r) * (size + 1) + c]; }
  int32_t n() const { return sys.n(); }
  int32_t m() const { return sys.m(); }
  std::vector<double> multiply(const std::vector<double>& x) const {
    std::vector<double> y(static_cast<size_t>(size) + 1, 0.0);
    for (int32_t i = 1; i <= size; ++i)
      for (int32_t j = 1; j <= size; ++j) y[i] += kat(i, j) * x[j];
    return y;
  }
};

// Dense solve of K x = b by Gaussian elimination with partial pivoting.
inline std::vector<double> dense_solve(const DenseFactor& f, std::vector<double> b) {
  const int32_t s = f.size;
  std::vector<std::vector<double>> a(s + 1, std::vector<double>(s + 1));
  for (int32_t i = 1; i <= s; ++i)
    for (int32_t j = 1; j <= s; ++j) a[i][j] = f.kat(i, j);
  for (int32_t c = 1; c <= s; ++c) {
    int32_t piv = c;
    for (int32_t r = c + 1; r <= s; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (int32_t r = c + 1; r <= s; ++r) {
      const double mult = a[r][c] / a[c][c];
      for (int32_t j = c; j <= s; ++j) a[r][j] -= mult * a[c][j];
      b[r] -= mult * b[c];
    }
  }
  std::vector<double> x(s + 1, 0.0);
  for (int32_t c = s; c >= 1; --c) {
    double sum = b[c];
    for (int32_t j = c + 1; j <= s; ++j) sum -= a[c][j] * x[j];
    x[c] = sum / a[c][c];
  }
  return x;
}


struct DenseFactorOptions {
  bool in_place = true;        // leading quadratic-free columns keep their matrix column
  int32_t max_block = 6;       // largest cache block (0: no blocks)
  bool independent_blocks = true;
  double factor_diag_scale = 1.0;  // factorise K with its diagonal scaled by this (a perturbed factor)
};

// Builds K = [ -D - Q   A' ; A  delta I ] (Q given by its strictly-lower
// pattern q) and factorises it densely in `order` (positions by rank).
inline DenseFactor make_dense_factor(const SparseColumns& a, const SparseColumns* q, const std::vector<double>& col_diag,
                                     const std::vector<double>& row_diag, const std::vector<int32_t>& order,
                                     const DenseFactorOptions& opt = {}) {
  DenseFactor f;
  const int32_t n = a.cols_count, m = a.rows_count, s = n + m;
  const int32_t stored = static_cast<int32_t>(a.rows.size() + (q ? q->rows.size() : 0));
  f.sys = make_barrier_system(a, q, 4 * stored + 4 * s * s + 1000);
  f.size = s;
  f.k.assign(static_cast<size_t>(s + 1) * (s + 1), 0.0);
  for (int32_t j = 1; j <= n; ++j) f.at(j, j) = col_diag[j];
  for (int32_t i = 1; i <= m; ++i) f.at(n + i, n + i) = row_diag[i];
  for (int32_t j = 0; j < n; ++j)
    for (int32_t e = a.starts[j]; e < a.starts[j + 1]; ++e) {
      f.at(n + 1 + a.rows[e], j + 1) = a.values[e];
      f.at(j + 1, n + 1 + a.rows[e]) = a.values[e];
    }
  if (q) {
    for (int32_t j = 0; j < n; ++j)
      for (int32_t e = q->starts[j]; e < q->starts[j + 1]; ++e) {
        f.at(q->rows[e] + 1, j + 1) -= q->values[e];
        f.at(j + 1, q->rows[e] + 1) -= q->values[e];
      }
  }
  f.diag_copy.assign(s + 1, 0.0);
  for (int32_t p = 1; p <= s; ++p) f.diag_copy[p] = f.at(p, p);
  f.class_ranges = plain_class_ranges(n, m, 0);

  // Dense elimination in rank order, with the structural pattern kept
  // alongside (so that fill that cancels numerically is still stored).
  const int32_t count = static_cast<int32_t>(order.size()) - 1;
  f.pivot_order = order;
  std::vector<std::vector<double>> w(count + 1, std::vector<double>(count + 1, 0.0));
  std::vector<std::vector<char>> nzp(count + 1, std::vector<char>(count + 1, 0));
  for (int32_t r = 1; r <= count; ++r)
    for (int32_t c = 1; c <= count; ++c) {
      w[r][c] = f.kat(order[r], order[c]);
      nzp[r][c] = w[r][c] != 0.0;
    }
  for (int32_t r = 1; r <= count; ++r) w[r][r] *= opt.factor_diag_scale;
  f.unit_l.assign(static_cast<size_t>(s + 1) * (s + 1), 0.0);
  std::vector<double> d(count + 1);
  for (int32_t c = 1; c <= count; ++c) {
    d[c] = w[c][c];
    for (int32_t r = c + 1; r <= count; ++r) {
      if (!nzp[r][c]) continue;
      const double mult = w[r][c] / d[c];
      for (int32_t j = c + 1; j <= r; ++j) {
        if (!nzp[j][c]) continue;
        w[r][j] -= mult * w[j][c];
        nzp[r][j] = 1;
      }
    }
    for (int32_t r = c + 1; r <= count; ++r) w[c][r] = w[r][c];
  }
  f.pivot_inverse.assign(s + 1, 0.0);
  f.factor_first.assign(s + 2, 0);
  f.factor_last.assign(s + 2, 0);
  for (int32_t c = 1; c <= count; ++c) f.pivot_inverse[c] = 1.0 / d[c];
  for (int32_t c = 1; c <= count; ++c) {
    f.l_at(c, c) = 1.0;
    for (int32_t r = c + 1; r <= count; ++r)
      if (nzp[r][c]) f.l_at(r, c) = w[r][c] / d[c];
  }
  // In-place ranks: the leading columns without quadratic entries.
  int32_t in_place = 0;
  if (opt.in_place) {
    std::vector<char> has_quad(n + 1, 0);
    if (q)
      for (int32_t j = 0; j < n; ++j)
        for (int32_t e = q->starts[j]; e < q->starts[j + 1]; ++e) has_quad[j + 1] = has_quad[q->rows[e] + 1] = 1;
    while (in_place < count && order[in_place + 1] <= n && !has_quad[order[in_place + 1]]) ++in_place;
  }
  int32_t free_entry = f.sys.params.matrix_nz + f.sys.params.quad_nz + 1;
  for (int32_t c = 1; c <= count; ++c) {
    const int32_t p = order[c];
    if (c <= in_place) {
      f.factor_first[c] = f.sys.matrix_start[p];
      f.factor_last[c] = f.sys.matrix_end[p];
      continue;
    }
    f.factor_first[c] = free_entry;
    for (int32_t r = c + 1; r <= count; ++r) {
      if (!nzp[r][c]) continue;
      f.sys.factor_index[free_entry] = order[r];
      f.sys.factor_value[free_entry] = w[r][c];  // L times d
      ++free_entry;
    }
    f.factor_last[c] = free_entry - 1;
  }
  f.sys.params.pivot_count = count;
  f.sys.params.in_place_count = in_place;

  // Cache blocks: fundamental chains, then runs of identical lists, of the
  // same kind and at most max_block ranks.
  f.supernode_end.assign(s + 2, 0);
  f.supernode_mark.assign(s + 2, 0);
  auto list = [&](int32_t c) {
    return std::vector<int32_t>(f.sys.factor_index.begin() + f.factor_first[c],
                                f.sys.factor_index.begin() + f.factor_last[c] + 1);
  };
  auto same_kind = [&](int32_t c1, int32_t c2) { return (order[c1] <= n) == (order[c2] <= n); };
  if (opt.max_block > 0) {
    for (int32_t c = 1; c < count;) {
      int32_t e = c;
      while (e < count && e - c + 1 < opt.max_block && same_kind(c, e + 1)) {
        const std::vector<int32_t> le = list(e), ln = list(e + 1);
        if (le.empty() || le[0] != order[e + 1] || std::vector<int32_t>(le.begin() + 1, le.end()) != ln) break;
        ++e;
      }
      if (e > c)
        for (int32_t j = c; j <= e; ++j) f.supernode_end[j] = f.supernode_mark[j] = e;
      c = e + 1;
    }
    if (opt.independent_blocks) {
      for (int32_t c = 1; c < count;) {
        if (f.supernode_end[c] != 0) { ++c; continue; }
        int32_t e = c;
        while (e < count && e - c + 1 < opt.max_block && f.supernode_end[e + 1] == 0 && same_kind(c, e + 1) &&
               list(e + 1) == list(c))
          ++e;
        if (e > c)
          for (int32_t j = c; j <= e; ++j) {
            f.supernode_end[j] = e;
            f.supernode_mark[j] = -e;
          }
        c = e + 1;
      }
    }
  }
  return f;
}

// A random sparse m x n matrix (rows ascending in each column); columns in
// `dense_columns` are full.
inline SparseColumns random_matrix(int32_t m, int32_t n, double density, uint32_t seed,
                                   const std::vector<int32_t>& dense_columns = {}) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  SparseColumns a;
  a.rows_count = m;
  a.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    const bool full = std::find(dense_columns.begin(), dense_columns.end(), j) != dense_columns.end();
    bool any = false;
    for (int32_t i = 0; i < m; ++i) {
      if (full || u(gen) < density || (!any && i == (j % m))) {
        a.rows.push_back(i);
        a.values.push_back(0.5 + u(gen) * (u(gen) < 0.5 ? -1.0 : 1.0));
        any = true;
      }
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

}  // namespace kltest

#endif
