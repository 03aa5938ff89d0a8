// Checks a solution as a caller sees it: the problem read back through the
// query exports, the solution through KLSOLUTION's four arrays. Ax against
// the activities b - s, the reduced costs against c - A'y, the bounds, and
// the optimality conditions (a reduced cost that would improve the
// objective only at the bound it pushes against, for columns and slacks
// alike: a slack's reduced cost is -y_i).
#ifndef KLSOL_TESTS_SIMPLEX_CALLER_SOLUTION_CHECK_H
#define KLSOL_TESTS_SIMPLEX_CALLER_SOLUTION_CHECK_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "klsol32.h"

namespace kltest {

// KLSOLUTION's arrays for nrows rows and ncols columns.
struct CallerSolution {
  std::vector<double> x, slack, dual, reduced_cost;
  CallerSolution(int32_t nrows, int32_t ncols)
      : x(static_cast<size_t>(ncols)),
        slack(static_cast<size_t>(nrows)),
        dual(static_cast<size_t>(nrows)),
        reduced_cost(static_cast<size_t>(ncols)) {}
  int32_t fetch() { return KLSOLUTION(x.data(), slack.data(), dual.data(), reduced_cost.data()); }
};

// The problem as the queries give it back (caller's terms).
struct CallerProblem {
  int32_t nrows = 0, ncols = 0;
  std::string types;
  std::vector<double> rhs, range, cost, lower, upper;
  std::vector<int32_t> starts, rows;
  std::vector<double> values;

  // Call with IFDBG 1 (the caller counts from 0).
  void read() {
    KLGETIPV(1001, &nrows);
    KLGETIPV(1018, &ncols);
    types.assign(static_cast<size_t>(nrows), ' ');
    rhs.assign(static_cast<size_t>(nrows), 0.0);
    range.assign(static_cast<size_t>(nrows), 0.0);
    cost.assign(static_cast<size_t>(ncols), 0.0);
    lower.assign(static_cast<size_t>(ncols), 0.0);
    upper.assign(static_cast<size_t>(ncols), 0.0);
    if (nrows > 0) {
      KLGETROWTYPE(types.data(), 0, nrows - 1);
      KLGETRHS(rhs.data(), 0, nrows - 1);
      KLGETRNG(range.data(), 0, nrows - 1);
    }
    if (ncols > 0) {
      KLGETOBJ(cost.data(), 0, ncols - 1);
      KLGETBDL(lower.data(), 0, ncols - 1);
      KLGETBDU(upper.data(), 0, ncols - 1);
      int32_t count = 0;
      KLGETCOLS(nullptr, nullptr, nullptr, 0, &count, 0, ncols - 1);
      starts.assign(static_cast<size_t>(ncols) + 1, 0);
      rows.assign(static_cast<size_t>(std::max(count, 1)), 0);
      values.assign(static_cast<size_t>(std::max(count, 1)), 0.0);
      KLGETCOLS(starts.data(), rows.data(), values.data(), count, &count, 0, ncols - 1);
    }
  }
  // Bounds of row i's slack (a_i x + s_i = b_i).
  void slack_bounds(int32_t i, double& lo, double& up) const {
    switch (types[static_cast<size_t>(i)]) {
      case 'L':
        lo = 0.0;
        up = 1e20;
        break;
      case 'G':
        lo = -1e20;
        up = 0.0;
        break;
      case 'E':
        lo = 0.0;
        up = 0.0;
        break;
      case 'R':
        lo = 0.0;
        up = range[static_cast<size_t>(i)];
        break;
      default:
        lo = -1e20;
        up = 1e20;
        break;
    }
  }
};

struct CallerCheck {
  double activity_error = 0.0;
  double reduced_cost_error = 0.0;
  double primal_infeasibility = 0.0;
  double complementarity = 0.0;  // largest improving reduced cost off its bound
  std::string worst;
  bool ok(double tolerance) const {
    return activity_error <= tolerance && reduced_cost_error <= tolerance && primal_infeasibility <= tolerance &&
           complementarity <= tolerance;
  }
  std::string report() const {
    std::ostringstream s;
    s << "activity " << activity_error << ", reduced cost " << reduced_cost_error << ", primal " << primal_infeasibility
      << ", complementarity " << complementarity << " (" << worst << ")";
    return s.str();
  }
};

// sense: 1 minimise, -1 maximise. Errors are relative to the magnitudes
// involved.
inline CallerCheck check_caller_solution(const CallerProblem& p, const CallerSolution& s, double sense) {
  CallerCheck c;
  const auto note = [&c](double& measure, double value, const std::string& where) {
    if (value > measure) {
      measure = value;
      c.worst = where;
    }
  };
  const double tol = 1e-7;
  // An improving reduced cost (sense x d < 0) pushes the variable up: it
  // must sit at its upper bound; a worsening one at its lower bound.
  const auto complementary = [&](double value, double lo, double up, double d, const std::string& where) {
    const double scale = 1.0 + std::fabs(value);
    double wrong = 0.0;
    if (sense * d < -tol && value < up - tol * scale) wrong = -sense * d;
    if (sense * d > tol && value > lo + tol * scale) wrong = sense * d;
    note(c.complementarity, wrong, where);
  };
  std::vector<double> ax(static_cast<size_t>(p.nrows), 0.0);
  std::vector<double> magnitude(static_cast<size_t>(p.nrows), 0.0);
  for (int32_t j = 0; j < p.ncols; ++j) {
    const size_t uj = static_cast<size_t>(j);
    double ya = 0.0;
    double ya_magnitude = 0.0;
    for (int32_t k = p.starts[uj]; k < p.starts[uj + 1]; ++k) {
      const size_t i = static_cast<size_t>(p.rows[static_cast<size_t>(k)]);
      const double a = p.values[static_cast<size_t>(k)];
      ax[i] += a * s.x[uj];
      magnitude[i] += std::fabs(a * s.x[uj]);
      ya += s.dual[i] * a;
      ya_magnitude += std::fabs(s.dual[i] * a);
    }
    const std::string where = "column " + std::to_string(j);
    note(c.reduced_cost_error,
         std::fabs(s.reduced_cost[uj] - (p.cost[uj] - ya)) / (1.0 + std::fabs(p.cost[uj]) + ya_magnitude), where);
    note(c.primal_infeasibility, std::max(p.lower[uj] - s.x[uj], s.x[uj] - p.upper[uj]) / (1.0 + std::fabs(s.x[uj])),
         where);
    complementary(s.x[uj], p.lower[uj], p.upper[uj], s.reduced_cost[uj], where);
  }
  for (int32_t i = 0; i < p.nrows; ++i) {
    const size_t ui = static_cast<size_t>(i);
    const std::string where = "row " + std::to_string(i);
    if (p.types[ui] != 'N')
      note(c.activity_error, std::fabs(ax[ui] - (p.rhs[ui] - s.slack[ui])) / (1.0 + magnitude[ui]), where);
    double lo = 0.0, up = 0.0;
    p.slack_bounds(i, lo, up);
    note(c.primal_infeasibility, std::max(lo - s.slack[ui], s.slack[ui] - up) / (1.0 + std::fabs(p.rhs[ui])), where);
    complementary(s.slack[ui], lo, up, -s.dual[ui], where);
  }
  return c;
}

}  // namespace kltest

#endif
