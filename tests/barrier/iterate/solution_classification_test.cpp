// The classification of the barrier's solution: a small problem in its
// original terms is carried into barrier terms (columns flipped and
// shifted, rows flipped and shifted) and must come back exactly, with the
// slack values, reduced costs and crossover classes the routine promises.
#include "barrier/iterate/solution_classification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kInf = 1e20;

struct Problem {
  kl::barrier_params params;
  int32_t n = 3, m = 2;
  // Dense original matrix a[row][col], rows 1..2, columns 1..3.
  double a[3][4] = {{0, 0, 0, 0}, {0, 2.0, 1.0, 1.0}, {0, -1.0, 3.0, 0.5}};
  std::vector<double> cost{0, 3.0, -2.0, 1.0};
  std::vector<double> lower{0, 1.0, -kInf, 0.0}, upper{0, 5.0, 4.0, kInf};
  std::vector<double> slack_lower{0, -1.0, -kInf}, slack_upper{0, kInf, 6.0};
  std::vector<double> rhs{0, 2.0, -1.0};
  std::vector<double> x{0, 1.5, 3.0, 0.25, 0, 0};
  std::vector<double> z{0, 0.5, -0.75, 0.0, 0, 0};
  std::vector<double> y{0, 0.3, -0.2};
  std::vector<double> scale{0, 1.0, -1.0, 1.0, 1.0, -1.0};
  std::vector<int32_t> bound_code{0, -1, 1, 1};
  std::vector<int32_t> state{0, 1, 0, -2, 1, -1};

  // Barrier-form copies.
  std::vector<int32_t> start{0, 1, 3, 5, 7}, index;
  std::vector<double> value, b_cost, b_lower, b_upper, b_slack_lower, b_slack_upper, b_rhs, b_x, b_z, b_y;

  Problem() {
    kl::set_barrier_defaults(params);
    params.col_count = n;
    params.row_count = m;
    params.var_count = n + m;
    index.push_back(0);
    value.push_back(0);
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t k = 1; k <= m; ++k) {
        index.push_back(k);
        value.push_back(a[k][j]);
      }
    }
    b_cost = cost;
    b_lower = lower;
    b_upper = upper;
    b_slack_lower = slack_lower;
    b_slack_upper = slack_upper;
    b_rhs = rhs;
    b_x = x;
    b_z = z;
    b_y = y;
    // Columns: flip, then shift (in the rows' original signs).
    for (int32_t j = 1; j <= n; ++j) {
      if (scale[j] < 0) {
        b_cost[j] = -b_cost[j];
        b_x[j] = -b_x[j];
        b_z[j] = -b_z[j];
        b_lower[j] = -b_upper[j];
        b_upper[j] = kInf;
        for (int32_t e = start[j]; e < start[j + 1]; ++e) value[e] = -value[e];
      }
      if (bound_code[j] != 0) {
        b_x[j] -= b_lower[j];
        if (std::fabs(b_upper[j]) < 0.9 * kInf) b_upper[j] -= b_lower[j];
        for (int32_t e = start[j]; e < start[j + 1]; ++e) b_rhs[index[e]] -= value[e] * b_lower[j];
      }
    }
    // Rows: flip, then shift.
    for (int32_t k = 1; k <= m; ++k) {
      if (scale[n + k] < 0) {
        b_rhs[k] = -b_rhs[k];
        b_y[k] = -b_y[k];
        b_slack_lower[k] = -b_slack_upper[k];
        b_slack_upper[k] = kInf;
        for (int32_t e = 1; e < start[n + 1]; ++e) {
          if (index[e] == k) value[e] = -value[e];
        }
      }
      if (b_slack_lower[k] > -0.9 * kInf) b_rhs[k] += b_slack_lower[k];
    }
    b_x[4] = b_x[5] = 99.0;  // slack values are recomputed
  }

  std::vector<int32_t> klass = std::vector<int32_t>(6, 0), removal = std::vector<int32_t>(6, 0);
  std::vector<double> activity = std::vector<double>(3, 0.0), work = std::vector<double>(6, 0.0);

  int32_t classify(const std::vector<int32_t>& list) {
    const int32_t count = static_cast<int32_t>(list.size()) - 1;
    return kl::classify_barrier_solution(params, start.data(), index.data(), value.data(), state.data(),
                                         state.data() + n, bound_code.data(), b_upper.data(), b_lower.data(),
                                         b_slack_upper.data(), b_slack_lower.data(), b_rhs.data(), b_cost.data(),
                                         b_x.data(), b_y.data(), b_z.data(), klass.data(), removal.data(),
                                         activity.data(), scale.data(), list.data(), count, work.data(), kInf);
  }
};

TEST(BarrierSolutionClassification, UndoesFlipsAndShiftsAndRecomputesSlacks) {
  Problem p;
  ASSERT_EQ(p.classify({0}), 0);
  for (int32_t j = 1; j <= p.n; ++j) {
    EXPECT_DOUBLE_EQ(p.b_x[j], p.x[j]) << j;
    EXPECT_DOUBLE_EQ(p.b_cost[j], p.cost[j]) << j;
    if (j != 3) {
      EXPECT_DOUBLE_EQ(p.b_z[j], p.z[j]) << j;
    }
    EXPECT_DOUBLE_EQ(p.b_upper[j], p.upper[j]) << j;
    if (p.scale[j] < 0) {
      EXPECT_LE(p.b_lower[j], -kInf * 0.9) << j;
    } else {
      EXPECT_DOUBLE_EQ(p.b_lower[j], p.lower[j]) << j;
    }
  }
  for (int32_t j = 1; j <= p.n; ++j) {
    for (int32_t e = p.start[j]; e < p.start[j + 1]; ++e) EXPECT_DOUBLE_EQ(p.value[e], p.a[p.index[e]][j]);
  }
  for (int32_t k = 1; k <= p.m; ++k) {
    EXPECT_NEAR(p.b_rhs[k], p.rhs[k], 1e-14) << k;
    EXPECT_DOUBLE_EQ(p.b_y[k], p.y[k]) << k;
    double activity = 0;
    for (int32_t j = 1; j <= p.n; ++j) activity += p.a[k][j] * p.x[j];
    EXPECT_NEAR(p.b_x[p.n + k], activity - p.rhs[k], 1e-14) << k;
  }
  // The flipped row gets its upper slack bound back.
  EXPECT_DOUBLE_EQ(p.b_slack_upper[2], 6.0);
  // A column fixed during the iterations: reduced cost from y, class 0.
  EXPECT_NEAR(p.b_z[3], p.cost[3] - p.y[1] * p.a[1][3] - p.y[2] * p.a[2][3], 1e-14);
  EXPECT_EQ(p.klass[3], 0);
  // Kept positions keep the states the driver ended with.
  EXPECT_EQ(p.klass[1], 1);
  EXPECT_EQ(p.klass[2], 0);
  EXPECT_EQ(p.klass[4], 1);
  EXPECT_EQ(p.klass[5], -1);
}

TEST(BarrierSolutionClassification, RemovedBeforeThePresolveAndInTheIterations) {
  Problem p;
  p.state = {0, -3, 1, 0, -3, -2};
  p.bound_code[1] = 1;
  const int32_t left = p.classify({0});
  ASSERT_EQ(left, 0);
  // Column removed before the presolve: class 0, reduced cost from y.
  EXPECT_EQ(p.klass[1], 0);
  // Row removed before the presolve: interior, its dual was cleared.
  EXPECT_EQ(p.klass[4], 1);
  EXPECT_DOUBLE_EQ(p.b_y[1], 0.0);
  EXPECT_NEAR(p.b_z[1], p.cost[1] - p.b_y[2] * p.a[2][1], 1e-14);
  // Row removed in the iterations: basic slack, zero dual.
  EXPECT_EQ(p.klass[5], 1);
  EXPECT_DOUBLE_EQ(p.b_y[2], 0.0);
}

// A column on the removal list with a code no reduction leaves cannot be
// recovered: the routine says so instead of pretending, and leaves it as
// it is. A row with an unknown code only gets its slack value.
TEST(BarrierSolutionClassification, ReportsWhatItCannotRecover) {
  Problem p;
  p.state = {0, 1, 0, -9, 1, -12};
  const double x3 = p.b_x[3];
  EXPECT_EQ(p.classify({0, 5, 3}), 1);
  EXPECT_EQ(p.klass[3], -9);
  EXPECT_DOUBLE_EQ(p.b_x[3], x3);
  EXPECT_EQ(p.klass[5], 1);
}

// A column fixed by a forcing row: its value from its lower bound cell, and
// the row's dual the extreme quotient z/a of the columns it forced, never
// of the wrong sign; a singleton row that gave a column its bound takes
// the column's reduced cost as its dual.
TEST(BarrierSolutionClassification, RestoresForcingAndSingletonRows) {
  {
    Problem p;
    p.state = {0, 1, 0, -5, -5, -1};
    // Column 3 fixed at 0.25 by row 1 at its largest activity (+1).
    p.b_lower[3] = 0.25;
    p.b_upper[3] = 1.0;
    p.bound_code[3] = 0;
    p.b_y[1] = 0.0;
    EXPECT_EQ(p.classify({0, 4, 3}), 0);
    EXPECT_DOUBLE_EQ(p.b_x[3], 0.25);
    // z3 before the row's dual: c3 - y2 a23 = 1 - (-0.2)(0.5) = 1.1, a13 = 1:
    // the quotient 1.1 is above the start 0, so y1 = 1.1 and z3 = 0.
    EXPECT_NEAR(p.b_y[1], 1.1, 1e-14);
    EXPECT_NEAR(p.b_z[3], 0.0, 1e-14);
    EXPECT_EQ(p.klass[3], 0);
    EXPECT_EQ(p.klass[4], 1);
  }
  {
    Problem p;
    p.state = {0, 1, 0, -3, -(13 + 3), -1};
    // Row 1 a singleton on column 3 that set its lower bound (cell = a).
    p.b_lower[3] = 0.25;
    p.bound_code[3] = 0;
    p.b_slack_lower[1] = 1.0;
    p.b_slack_upper[1] = 0.0;
    EXPECT_EQ(p.classify({0, 4, 3}), 0);
    EXPECT_NEAR(p.b_y[1], 1.1, 1e-14);
    EXPECT_NEAR(p.b_z[3], 0.0, 1e-14);
    // The cells hold the slack value afterwards.
    EXPECT_DOUBLE_EQ(p.b_slack_lower[1], p.b_x[4]);
    EXPECT_DOUBLE_EQ(p.b_slack_upper[1], p.b_x[4]);
  }
}

}  // namespace
