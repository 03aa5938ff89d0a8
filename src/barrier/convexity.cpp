// Convexity of the barrier's quadratic objective: necessary conditions over
// every column, exact elimination of each connected block it can afford.
#include "barrier/convexity.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

namespace kl {

namespace {

struct QuadraticView {
  int32_t n;
  const double* diag;  // the effective diagonal, 1-based
  const int32_t* start;
  const int32_t* index;
  const double* value;
};

bool off_diagonal(const QuadraticView& q, int32_t j, int32_t k, int32_t& c) {
  c = q.index[k];
  return c >= 1 && c <= q.n && c != j;
}

// Every diagonal >= -tol and every 2x2 principal minor >= 0 within
// tolerance. Returns the first column that fails, or 0.
int32_t failing_necessary_condition(const QuadraticView& q, double tol) {
  for (int32_t j = 1; j <= q.n; ++j) {
    if (q.diag[j] < -tol) return j;
  }
  for (int32_t j = 1; j <= q.n; ++j) {
    const double dj = std::max(q.diag[j], 0.0);
    for (int32_t k = q.start[j]; k < q.start[j + 1]; ++k) {
      int32_t c = 0;
      if (!off_diagonal(q, j, k, c)) continue;
      const double bound = std::sqrt(dj * std::max(q.diag[c], 0.0)) + tol;
      if (std::fabs(q.value[k]) > bound) return j;
    }
  }
  return 0;
}

int32_t find_root(std::vector<int32_t>& parent, int32_t j) {
  while (parent[static_cast<std::size_t>(j)] != j) {
    int32_t& up = parent[static_cast<std::size_t>(j)];
    up = parent[static_cast<std::size_t>(up)];
    j = up;
  }
  return j;
}

// Lower triangle of a dense symmetric block, row by row.
inline std::size_t packed(int32_t i, int32_t j) {
  if (i < j) std::swap(i, j);
  return static_cast<std::size_t>(i) * (static_cast<std::size_t>(i) + 1) / 2 + static_cast<std::size_t>(j);
}

// Symmetric L D L' elimination of the s x s block `a` (0-based, packed
// lower), largest remaining diagonal first. Returns the local index of a
// column showing that the block is not positive semidefinite, or -1.
int32_t eliminate_block(std::vector<double>& a, int32_t s, double tol, std::vector<int32_t>& alive,
                        std::vector<double>& pivot_column) {
  alive.resize(static_cast<std::size_t>(s));
  for (int32_t i = 0; i < s; ++i) alive[static_cast<std::size_t>(i)] = i;
  pivot_column.resize(static_cast<std::size_t>(s));
  while (!alive.empty()) {
    std::size_t best = 0;
    int32_t lowest = alive[0];
    for (std::size_t t = 0; t < alive.size(); ++t) {
      const int32_t i = alive[t];
      if (a[packed(i, i)] > a[packed(alive[best], alive[best])]) best = t;
      if (a[packed(i, i)] < a[packed(lowest, lowest)]) lowest = i;
    }
    if (a[packed(lowest, lowest)] < -tol) return lowest;
    const int32_t p = alive[best];
    const double d = a[packed(p, p)];
    if (d <= tol) {
      // Nothing left to pivot on: a semidefinite rest is zero.
      for (std::size_t t = 0; t < alive.size(); ++t) {
        const int32_t i = alive[t];
        const double di = std::max(a[packed(i, i)], 0.0);
        for (std::size_t u = 0; u < t; ++u) {
          const int32_t j = alive[u];
          if (std::fabs(a[packed(i, j)]) > tol + std::sqrt(di * std::max(a[packed(j, j)], 0.0))) return i;
        }
      }
      return -1;
    }
    alive[best] = alive.back();
    alive.pop_back();
    for (std::size_t t = 0; t < alive.size(); ++t) pivot_column[t] = a[packed(alive[t], p)];
    for (std::size_t t = 0; t < alive.size(); ++t) {
      const double f = pivot_column[t] / d;
      if (f == 0.0) continue;
      const int32_t i = alive[t];
      for (std::size_t u = 0; u < alive.size(); ++u) {
        const int32_t j = alive[u];
        if (j > i) continue;
        a[packed(i, j)] -= f * pivot_column[u];
      }
    }
  }
  return -1;
}

}  // namespace

QuadraticConvexity check_quadratic_convexity(int32_t n, const double* quad_diag, const int32_t* quad_start,
                                             const int32_t* quad_index, const double* quad_value,
                                             int32_t dense_limit) {
  QuadraticConvexity result;
  if (n <= 0) return result;

  double largest = 0.0;
  for (int32_t j = 1; j <= n; ++j) largest = std::max(largest, std::fabs(quad_diag[j]));
  for (int32_t j = 1; j <= n; ++j) {
    for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
      const int32_t c = quad_index[k];
      if (c >= 1 && c <= n) largest = std::max(largest, std::fabs(quad_value[k]));
    }
  }
  if (largest == 0.0) return result;
  const double tol = kConvexityTolerance * largest;

  try {
    // The diagonal with any entry listed against its own column added.
    std::vector<double> diag(quad_diag, quad_diag + n + 1);
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
        if (quad_index[k] == j) diag[static_cast<std::size_t>(j)] += quad_value[k];
      }
    }
    const QuadraticView q{n, diag.data(), quad_start, quad_index, quad_value};
    result.column = failing_necessary_condition(q, tol);
    if (result.column != 0) {
      result.convex = false;
      return result;
    }

    // The connected blocks, and the columns of each listed together.
    std::vector<int32_t> parent(static_cast<std::size_t>(n) + 1);
    for (int32_t j = 0; j <= n; ++j) parent[static_cast<std::size_t>(j)] = j;
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
        int32_t c = 0;
        if (!off_diagonal(q, j, k, c)) continue;
        const int32_t a = find_root(parent, j);
        const int32_t b = find_root(parent, c);
        if (a != b) parent[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
      }
    }
    std::vector<int32_t> first(static_cast<std::size_t>(n) + 2, 0);  // block of root r: first[r]..first[r+1]-1
    for (int32_t j = 1; j <= n; ++j) ++first[static_cast<std::size_t>(find_root(parent, j)) + 1];
    int32_t largest_block = 0;
    int32_t affordable = 0;
    for (int32_t r = 1; r <= n; ++r) {
      const int32_t size = first[static_cast<std::size_t>(r) + 1];
      largest_block = std::max(largest_block, size);
      if (size <= dense_limit) affordable = std::max(affordable, size);
    }
    result.largest_block = largest_block;
    if (largest_block <= 1) return result;  // a diagonal Q: the diagonal test is exact
    for (int32_t r = 1; r <= n + 1; ++r) first[static_cast<std::size_t>(r)] += first[static_cast<std::size_t>(r) - 1];
    std::vector<int32_t> members(static_cast<std::size_t>(n));
    std::vector<int32_t> local(static_cast<std::size_t>(n) + 1, -1);
    {
      std::vector<int32_t> fill(first.begin(), first.end() - 1);
      for (int32_t j = 1; j <= n; ++j) {
        const std::size_t r = static_cast<std::size_t>(find_root(parent, j));
        local[static_cast<std::size_t>(j)] = fill[r] - first[r];
        members[static_cast<std::size_t>(fill[r]++)] = j;
      }
    }

    std::vector<double> block;
    std::vector<int32_t> alive;
    std::vector<double> pivot_column;
    if (affordable > 1) block.reserve(packed(affordable - 1, affordable - 1) + 1);
    for (int32_t r = 1; r <= n; ++r) {
      const int32_t begin = first[static_cast<std::size_t>(r)];
      const int32_t s = first[static_cast<std::size_t>(r) + 1] - begin;
      if (s <= 1) continue;
      if (s > dense_limit) {
        result.exact = false;
        continue;
      }
      block.assign(packed(s - 1, s - 1) + 1, 0.0);
      for (int32_t t = 0; t < s; ++t) {
        const int32_t j = members[static_cast<std::size_t>(begin + t)];
        block[packed(t, t)] += diag[static_cast<std::size_t>(j)];
        for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
          int32_t c = 0;
          if (off_diagonal(q, j, k, c)) block[packed(t, local[static_cast<std::size_t>(c)])] += quad_value[k];
        }
      }
      const int32_t failed = eliminate_block(block, s, tol, alive, pivot_column);
      if (failed >= 0) {
        result.convex = false;
        result.column = members[static_cast<std::size_t>(begin + failed)];
        return result;
      }
    }
  } catch (const std::bad_alloc&) {
    // No room for the copies: the necessary conditions on the diagonal as
    // given are all that can be said.
    const QuadraticView q{n, quad_diag, quad_start, quad_index, quad_value};
    result.column = failing_necessary_condition(q, tol);
    result.convex = result.column == 0;
    result.exact = false;
  }
  return result;
}

}  // namespace kl
