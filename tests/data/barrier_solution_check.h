// The checks of a barrier answer read back through the exports, in the
// caller's terms: row and bound feasibility, the dual residual
// d - (c + Qx - A'y), the signs of the reduced costs, the gap and the
// objective c'x + x'Qx/2, each relative to the magnitudes involved.
#ifndef KLSOL_TESTS_DATA_BARRIER_SOLUTION_CHECK_H
#define KLSOL_TESTS_DATA_BARRIER_SOLUTION_CHECK_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "runtime/controls.h"
#include "simplex/caller_solution_check.h"

namespace kltest {

inline constexpr double kResidualTolerance = 1e-6;  // relative to the terms of each sum

// Measures of one answer, each relative to the magnitudes involved.
struct Measures {
  double row = 0.0;         // b - Ax - s
  double bound = 0.0;       // beyond a bound of a column or a slack
  double dual = 0.0;        // d - (c + Qx - A'y)
  double dual_sign = 0.0;   // a reduced cost pushing against an absent bound
  double gap = 0.0;         // sum of |d| x distance to the bound it holds
  double objective = 0.0;   // c'x + x'Qx/2 + constant
  std::string worst;
  double largest() const { return std::max({row, bound, dual, dual_sign, gap}); }
  std::string report() const {
    std::ostringstream s;
    s << "row " << row << ", bound " << bound << ", dual " << dual << ", dual sign " << dual_sign << ", gap " << gap
      << " (" << worst << ")";
    return s.str();
  }
};

// The dense Q of a problem with a quadratic objective (n x n, caller's
// columns), or empty.
inline std::vector<double> read_q(int32_t ncols, bool quadratic) {
  std::vector<double> q;
  if (!quadratic) return q;
  const auto n = static_cast<size_t>(ncols);
  q.assign(n * n, 0.0);
  for (int32_t j = 0; j < ncols; ++j)
    for (int32_t k = 0; k < ncols; ++k) KLGETQOBJ(j, k, &q[static_cast<size_t>(j) * n + static_cast<size_t>(k)]);
  return q;
}

// Minimisation only (every problem of the data set is one).
inline Measures measure(const kltest::CallerProblem& p, const kltest::CallerSolution& s, const std::vector<double>& q) {
  Measures m;
  const auto note = [&m](double& measure, double value, const std::string& where) {
    if (value > measure) {
      measure = value;
      if (value > kResidualTolerance) m.worst = where;
    }
  };
  const auto n = static_cast<size_t>(p.ncols);
  const auto rows = static_cast<size_t>(p.nrows);
  std::vector<double> qx(n, 0.0);
  if (!q.empty())
    for (size_t j = 0; j < n; ++j)
      for (size_t k = 0; k < n; ++k) qx[j] += q[j * n + k] * s.x[k];
  double linear = 0.0, half_xqx = 0.0, largest_cost = 0.0;
  for (size_t j = 0; j < n; ++j) {
    linear += p.cost[j] * s.x[j];
    half_xqx += 0.5 * s.x[j] * qx[j];
    largest_cost = std::max(largest_cost, std::fabs(p.cost[j]));
  }
  m.objective = kl::dcv(kl::kObjectiveConstantSlot) + linear + half_xqx;

  std::vector<double> ax(rows, 0.0), size(rows, 0.0);
  double gap = 0.0;
  // d pushes a variable towards the bound it holds: a positive one needs a
  // lower bound, a negative one an upper bound.
  const auto judge = [&](double value, double lo, double up, double d, const std::string& where) {
    if (lo > -1e20) note(m.bound, (lo - value) / (1.0 + std::fabs(lo)), where);
    if (up < 1e20) note(m.bound, (value - up) / (1.0 + std::fabs(up)), where);
    if (d > 0.0) {
      if (lo > -1e20)
        gap += d * std::fabs(value - lo);
      else
        note(m.dual_sign, d / (1.0 + largest_cost), where);
    } else if (d < 0.0) {
      if (up < 1e20)
        gap -= d * std::fabs(up - value);
      else
        note(m.dual_sign, -d / (1.0 + largest_cost), where);
    }
  };
  for (size_t j = 0; j < n; ++j) {
    double ya = 0.0, magnitude = std::fabs(p.cost[j]) + std::fabs(qx[j]);
    for (int32_t k = p.starts[j]; k < p.starts[j + 1]; ++k) {
      const auto i = static_cast<size_t>(p.rows[static_cast<size_t>(k)]);
      const double a = p.values[static_cast<size_t>(k)];
      ax[i] += a * s.x[j];
      size[i] = std::max(size[i], std::fabs(a * s.x[j]));
      ya += s.dual[i] * a;
      magnitude += std::fabs(s.dual[i] * a);
    }
    const std::string where = "column " + std::to_string(j);
    note(m.dual, std::fabs(s.reduced_cost[j] - (p.cost[j] + qx[j] - ya)) / (1.0 + magnitude), where);
    judge(s.x[j], p.lower[j], p.upper[j], s.reduced_cost[j], where);
  }
  for (size_t i = 0; i < rows; ++i) {
    if (p.types[i] == 'N') continue;
    const std::string where = "row " + std::to_string(i);
    const double b = p.rhs[i];
    note(m.row, std::fabs(b - ax[i] - s.slack[i]) / (1.0 + std::max({std::fabs(b), size[i], std::fabs(s.slack[i])})),
         where);
    double lo = 0.0, up = 0.0;
    p.slack_bounds(static_cast<int32_t>(i), lo, up);
    // The slack's reduced cost is -y_i.
    judge(s.slack[i], lo, up, -s.dual[i], where);
  }
  m.gap = gap / (1.0 + std::fabs(linear + half_xqx));
  return m;
}

}  // namespace kltest

#endif
