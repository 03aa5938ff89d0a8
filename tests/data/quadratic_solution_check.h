// Checks the solution of a quadratic program as an outsider would: every
// bound and row limit against the returned values, and the objective
// recomputed from the returned solution against the published optimum and
// against the objective the library reports.
#ifndef KLSOL_TESTS_DATA_QUADRATIC_SOLUTION_CHECK_H
#define KLSOL_TESTS_DATA_QUADRATIC_SOLUTION_CHECK_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/setup.h"
#include "runtime/controls.h"
#include "support/library_session.h"

namespace kltest {

inline void expect_quadratic_solution(double published) {
  constexpr double kFeasibility = 1e-6;      // relative to the size of the limit
  constexpr double kObjectiveAgrees = 1e-6;  // relative, as the published optima
  const int32_t nrows = int_attribute_value(KLIA_NROW);
  const int32_t ncols = int_attribute_value(KLIA_NCOLS);
  const auto rows = static_cast<size_t>(nrows);
  const auto cols = static_cast<size_t>(ncols);
  std::vector<double> x(cols), cost(cols), lower(cols), upper(cols), rhs(rows), range(rows);
  std::string types(rows, ' ');
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(KLGETOBJ(cost.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETBDL(lower.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETBDU(upper.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETROWTYPE(types.data(), 0, nrows - 1), 0);
  ASSERT_EQ(KLGETRHS(rhs.data(), 0, nrows - 1), 0);
  ASSERT_EQ(KLGETRNG(range.data(), 0, nrows - 1), 0);
  int32_t count = 0;
  ASSERT_EQ(KLGETCOLS(nullptr, nullptr, nullptr, 0, &count, 0, ncols - 1), 0);
  std::vector<int32_t> starts(cols + 1), row_of(static_cast<size_t>(std::max(count, 1)));
  std::vector<double> values(row_of.size());
  ASSERT_EQ(KLGETCOLS(starts.data(), row_of.data(), values.data(), count, &count, 0, ncols - 1), 0);

  // Bounds, then the row limits on the activities Ax.
  for (size_t j = 0; j < cols; ++j) {
    EXPECT_GE(x[j], lower[j] - kFeasibility * (1.0 + std::fabs(lower[j]))) << "column " << j;
    EXPECT_LE(x[j], upper[j] + kFeasibility * (1.0 + std::fabs(upper[j]))) << "column " << j;
  }
  std::vector<double> activity(rows, 0.0);
  for (size_t j = 0; j < cols; ++j)
    for (int32_t k = starts[j]; k < starts[j + 1]; ++k)
      activity[static_cast<size_t>(row_of[static_cast<size_t>(k)])] += values[static_cast<size_t>(k)] * x[j];
  for (size_t i = 0; i < rows; ++i) {
    // The limits of the activity; a range row's right-hand side is its
    // upper limit.
    const char t = types[i];
    const double low = t == 'G' || t == 'E' ? rhs[i] : t == 'R' ? rhs[i] - range[i] : -HUGE_VAL;
    const double up = t == 'L' || t == 'E' || t == 'R' ? rhs[i] : HUGE_VAL;
    const double tolerance = kFeasibility * (1.0 + std::fabs(rhs[i]));
    EXPECT_GE(activity[i], low - tolerance) << "row " << i << " " << t;
    EXPECT_LE(activity[i], up + tolerance) << "row " << i << " " << t;
  }

  // c'x + x'Qx / 2 + the constant, from the solution.
  double objective = kl::dcv(kl::kObjectiveConstantSlot);
  for (size_t j = 0; j < cols; ++j) {
    objective += cost[j] * x[j];
    for (size_t k = 0; k < cols; ++k) {
      double q = 0.0;
      ASSERT_EQ(KLGETQOBJ(static_cast<int32_t>(j), static_cast<int32_t>(k), &q), 0);
      objective += 0.5 * q * x[j] * x[k];
    }
  }
  EXPECT_NEAR(objective, published, kObjectiveAgrees * (1.0 + std::fabs(published)));
  EXPECT_NEAR(objective_value(), objective, 1e-9 * (1.0 + std::fabs(objective)));
}

}  // namespace kltest

#endif
