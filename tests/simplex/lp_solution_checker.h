// Checks the LP solution the driver leaves in memory against the problem in
// the caller's terms: every value, bound, dual and reduced cost is unscaled
// from the store, then Ax against the row activities, the reduced costs
// against c - A'y, primal feasibility within ZTOLZE and dual feasibility
// with complementary slackness within ZTOLDJ.
#ifndef KLSOL_TESTS_SIMPLEX_LP_SOLUTION_CHECKER_H
#define KLSOL_TESTS_SIMPLEX_LP_SOLUTION_CHECKER_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "factor/scaling.h"
#include "problem/array_ids.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kltest {

struct SolutionCheck {
  double activity_error = 0.0;        // |a_i x - activity_i| / (1 + sum |a_ij x_j|)
  double reduced_cost_error = 0.0;    // |d_j - (sense c_j - y'a_j)| / (1 + |c_j| + sum |y_i a_ij|)
  double primal_infeasibility = 0.0;  // largest bound violation of a column or a row activity
  double dual_infeasibility = 0.0;    // largest reduced cost of the wrong sign off a bound
  double objective = 0.0;             // c x + the objective constant
  double objective_error = 0.0;       // |objval - objective| / (1 + |objective|)
  double ztolze = 0.0;
  double ztoldj = 0.0;
  std::string worst;                  // where the largest violation lies

  bool ok(double relative = 1e-9) const {
    return activity_error <= relative && reduced_cost_error <= relative && primal_infeasibility <= ztolze &&
           dual_infeasibility <= ztoldj && objective_error <= relative;
  }
  std::string report() const {
    std::ostringstream s;
    s << "activity " << activity_error << ", reduced cost " << reduced_cost_error << ", primal "
      << primal_infeasibility << ", dual " << dual_infeasibility << ", objective " << objective_error << " ("
      << worst << ")";
    return s.str();
  }
};

namespace checker_detail {

inline double factor_of(int32_t position) {
  return kl::scale_power(static_cast<uint32_t>(kl::int_array(kl::ARR_POS_STATUS)[position]) >> 24);
}
inline bool infinite(double bound) { return std::fabs(bound) >= kl::kInfiniteBound; }
// A stored bound in the caller's terms: scaled by factor unless infinite.
inline double unscaled_bound(double stored, double factor) { return infinite(stored) ? stored : stored * factor; }

}  // namespace checker_detail

// Positions 1..nrow are rows (their slacks), first_col..nseq columns.
inline SolutionCheck check_lp_solution() {
  using namespace kl;
  using checker_detail::factor_of;
  using checker_detail::unscaled_bound;
  SolutionCheck check;
  check.ztolze = dcv(dc::ZTOLZE);
  check.ztoldj = dcv(dc::ZTOLDJ);
  const double sense = dcv(dc::SENSE_FACTOR);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> rhs = real_array(ARR_RHS);

  // Row factors r_i store a row as r_i (a_i x + s_i) = r_i b_i; column
  // factors c_j store x_j / c_j and c_j cost_j.
  std::vector<double> activity(static_cast<size_t>(nrow) + 1, 0.0);
  std::vector<double> magnitude(static_cast<size_t>(nrow) + 1, 0.0);
  std::vector<double> y(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t i = 1; i <= nrow; ++i) y[i] = -d[i] * factor_of(i);

  const auto note = [&check](double& measure, double value, const std::string& where) {
    if (value > measure) {
      measure = value;
      if (!(value <= 1e-12)) check.worst = where;
    }
  };
  // Off its lower bound a variable may not have a positive reduced cost,
  // off its upper bound not a negative one.
  const auto dual_test = [&](double value, double lo, double up, double dj, const std::string& where) {
    double wrong = 0.0;
    if (value > lo + check.ztolze) wrong = std::max(wrong, dj);
    if (value < up - check.ztolze) wrong = std::max(wrong, -dj);
    note(check.dual_infeasibility, wrong, where);
  };

  check.objective = dcv(kObjectiveConstantSlot);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double c = factor_of(j);
    const double xj = x[j] * c;
    const double lo = unscaled_bound(lower[j], c);
    const double up = unscaled_bound(upper[j], c);
    const double cj = cost[j] / c;
    const double dj = d[j] / c;
    check.objective += cj * xj;
    note(check.primal_infeasibility, std::max(lo - xj, xj - up), "column " + std::to_string(j));
    double ya = 0.0;
    double ya_magnitude = 0.0;
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      const double a = elem_value[k] / (factor_of(i) * c);
      activity[i] += a * xj;
      magnitude[i] += std::fabs(a * xj);
      ya += y[i] * a;
      ya_magnitude += std::fabs(y[i] * a);
    }
    // The store keeps 0 for a basic column; its c - A'y must be 0 as well.
    const bool basic = (int_array(ARR_POS_STATUS)[j] & PS_BASIC) != 0;
    const double computed = sense * cj - ya;
    note(check.reduced_cost_error,
         std::fabs((basic ? 0.0 : dj) - computed) / (1.0 + std::fabs(cj) + ya_magnitude),
         "reduced cost of column " + std::to_string(j));
    dual_test(xj, lo, up, computed, "dual of column " + std::to_string(j));
  }
  for (int32_t i = 1; i <= nrow; ++i) {
    const double r = factor_of(i);
    const double slack = x[i] / r;
    const double lo = unscaled_bound(lower[i], 1.0 / r);
    const double up = unscaled_bound(upper[i], 1.0 / r);
    const double row_activity = rhs[i] / r - slack;
    note(check.activity_error, std::fabs(activity[i] - row_activity) / (1.0 + magnitude[i]),
         "activity of row " + std::to_string(i));
    note(check.primal_infeasibility, std::max(lo - slack, slack - up), "row " + std::to_string(i));
    dual_test(slack, lo, up, -y[i], "dual of row " + std::to_string(i));
  }
  check.objective_error = std::fabs(dcv(dc::OBJVAL) - check.objective) / (1.0 + std::fabs(check.objective));
  return check;
}

}  // namespace kltest

#endif
