#include "barrier/scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr double kInf = 1e20;

// A barrier problem before the iterations, 1-based, with the matrix's row
// indices 1..m as the scaling sees them.
struct ScalingProblem {
  kl::barrier_params params;
  std::vector<int32_t> start, index, var_state, counts;
  std::vector<double> value, cost, rhs, lower, upper, scale, factors, dw, push_work, dz, quad_diag;
  std::vector<int32_t> quad_start;

  // columns[j] lists (row 1..m, value) of column j + 1.
  ScalingProblem(int32_t m, const std::vector<std::vector<std::pair<int32_t, double>>>& columns) {
    kl::set_barrier_defaults(params);
    const int32_t n = static_cast<int32_t>(columns.size());
    params.col_count = n;
    params.row_count = m;
    params.var_count = n + m;
    const size_t positions = static_cast<size_t>(n + m) + 1;
    start.assign(static_cast<size_t>(n) + 2, 1);
    index.assign(1, 0);
    value.assign(1, 0.0);
    for (int32_t j = 1; j <= n; ++j) {
      for (const auto& [row, a] : columns[static_cast<size_t>(j) - 1]) {
        index.push_back(row);
        value.push_back(a);
      }
      start[static_cast<size_t>(j) + 1] = static_cast<int32_t>(index.size());
    }
    params.matrix_nz = static_cast<int32_t>(index.size()) - 1;
    params.factor_space = 3 * params.matrix_nz + 10;
    index.resize(static_cast<size_t>(params.factor_space) + 1, 0);
    value.resize(static_cast<size_t>(params.factor_space) + 1, 0.0);
    quad_start.assign(static_cast<size_t>(n) + 2, params.matrix_nz + 1);
    var_state.assign(positions, 0);
    counts.assign(positions, 0);
    for (auto* v : {&lower, &upper, &scale, &factors, &dw, &push_work, &dz}) v->assign(positions, 0.0);
    cost.assign(static_cast<size_t>(n) + 1, 0.0);
    rhs.assign(static_cast<size_t>(m) + 1, 0.0);
    quad_diag.assign(static_cast<size_t>(n) + 1, 0.0);
    for (size_t k = 1; k < positions; ++k) {
      scale[k] = 1.0;
      upper[k] = kInf;
    }
  }
  int32_t n() const { return params.col_count; }
  int32_t m() const { return params.row_count; }

  // Appends below-diagonal quadratic entries (column j, other column c > j).
  void set_quadratic(const std::vector<double>& diagonal, const std::vector<std::vector<std::pair<int32_t, double>>>& below) {
    int32_t e = params.matrix_nz + 1;
    for (int32_t j = 1; j <= n(); ++j) {
      quad_diag[static_cast<size_t>(j)] = diagonal[static_cast<size_t>(j) - 1];
      quad_start[static_cast<size_t>(j)] = e;
      for (const auto& [c, q] : below[static_cast<size_t>(j) - 1]) {
        index[static_cast<size_t>(e)] = c;
        value[static_cast<size_t>(e)] = q;
        ++e;
      }
    }
    quad_start[static_cast<size_t>(n()) + 1] = e;
    params.quad_nz = e - params.matrix_nz - 1;
    params.quad_col_count = n();
  }

  void run(int32_t method, int32_t passes) {
    kl::scale_barrier_problem(params, start.data(), index.data(), value.data(), cost.data(), rhs.data(),
                              upper.data(), lower.data(), var_state.data(), scale.data(), factors.data(), method,
                              passes, dw.data(), push_work.data(), dz.data(), counts.data(), params.SIGNORE, kInf);
  }

  // The matrix as a map (row, column) -> value, whatever the order inside
  // each column.
  std::map<std::pair<int32_t, int32_t>, double> matrix() const {
    std::map<std::pair<int32_t, int32_t>, double> a;
    for (int32_t j = 1; j <= n(); ++j) {
      for (int32_t k = start[static_cast<size_t>(j)]; k < start[static_cast<size_t>(j) + 1]; ++k) {
        a[{index[static_cast<size_t>(k)], j}] = value[static_cast<size_t>(k)];
      }
    }
    return a;
  }
  double& s(int32_t position) { return scale[static_cast<size_t>(position)]; }
};

void expect_relative(double actual, double expected, double tolerance, const char* what) {
  EXPECT_LE(std::fabs(actual - expected), tolerance * std::max(1.0, std::fabs(expected)))
      << what << ": " << actual << " against " << expected;
}

// A rank-one matrix a_ij = R_i C_j on a given pattern, with magnitudes
// spread over several decades.
ScalingProblem rank_one(bool dense) {
  const double rows[] = {1e3, 0.02, 7.0, 1e-2};
  const double cols[] = {5.0, 1e-3, 300.0, 0.5, 2e4};
  std::vector<std::vector<std::pair<int32_t, double>>> columns(5);
  for (int32_t j = 0; j < 5; ++j) {
    for (int32_t i = 0; i < 4; ++i) {
      if (!dense && (i + 2 * j) % 3 == 1) continue;
      columns[static_cast<size_t>(j)].push_back({i + 1, ((i + j) % 2 ? -1.0 : 1.0) * rows[i] * cols[j]});
    }
  }
  return ScalingProblem(4, columns);
}

// A small problem with every kind of bound. Column 6 holds only entries
// negligible beside 1.
ScalingProblem mixed_problem() {
  ScalingProblem p(4, {{{1, 2.0}, {2, 400.0}, {4, 3e-3}},
                       {{1, -8.0}, {3, 0.05}},
                       {{2, 1.0}, {3, 1e5}, {4, -6.0}},
                       {{1, 0.3}, {4, 25.0}},
                       {{2, 1e-14}, {3, 7.0}},
                       {{1, 1e-13}, {4, 5e-13}}});
  const double costs[] = {1.0, -30.0, 0.002, 5.0, 12.0, 0.7};
  for (int32_t j = 1; j <= 6; ++j) p.cost[static_cast<size_t>(j)] = costs[j - 1];
  const double rhs[] = {3.0, -40.0, 0.5, 900.0};
  for (int32_t i = 1; i <= 4; ++i) p.rhs[static_cast<size_t>(i)] = rhs[i - 1];
  // Columns: [0, inf), [-2, 7], (-inf, 4], free, [1, 1e3], [0, 2]; slacks:
  // equality, (-inf, 0], [0, inf), [-5, 5].
  const double lo[] = {0, -2, -kInf, -kInf, 1, 0, 0, -kInf, 0, -5};
  const double up[] = {kInf, 7, 4, kInf, 1e3, 2, 0, 0, kInf, 5};
  for (int32_t k = 1; k <= 10; ++k) {
    p.lower[static_cast<size_t>(k)] = lo[k - 1];
    p.upper[static_cast<size_t>(k)] = up[k - 1];
  }
  return p;
}

TEST(BarrierScaling, LargestEntryFactorsOnASmallMatrix) {
  // Columns [2, 1] and [8, 1]: the column pass divides by 2 and 8, the row
  // pass then finds row 2 at most 0.5.
  ScalingProblem p(2, {{{1, 2.0}, {2, 1.0}}, {{1, 8.0}, {2, 1.0}}});
  p.cost = {0, 4.0, 16.0};
  p.rhs = {0, 3.0, 5.0};
  p.lower = {0, 1.0, -kInf, -1.0, 0.0};
  p.upper = {0, 6.0, 2.0, 1.0, kInf};
  p.run(kl::SCALING_LARGEST_ENTRY, 5);
  const std::vector<double> factors = {0, 2.0, 8.0, 1.0, 0.5};
  for (int32_t k = 1; k <= 4; ++k) EXPECT_DOUBLE_EQ(p.factors[static_cast<size_t>(k)], factors[static_cast<size_t>(k)]);
  EXPECT_EQ(p.scale, factors);
  const auto a = p.matrix();
  EXPECT_DOUBLE_EQ(a.at({1, 1}), 1.0);
  EXPECT_DOUBLE_EQ(a.at({2, 1}), 1.0);
  EXPECT_DOUBLE_EQ(a.at({1, 2}), 1.0);
  EXPECT_DOUBLE_EQ(a.at({2, 2}), 0.25);
  EXPECT_EQ(p.cost, (std::vector<double>{0, 2.0, 2.0}));
  EXPECT_EQ(p.rhs, (std::vector<double>{0, 3.0, 10.0}));
  // Columns: bounds times the factor; slacks: divided; infinite ones kept.
  EXPECT_EQ(p.lower, (std::vector<double>{0, 2.0, -kInf, -1.0, 0.0}));
  EXPECT_EQ(p.upper, (std::vector<double>{0, 12.0, 16.0, 1.0, kInf}));
}

TEST(BarrierScaling, MethodsWithoutStepsChangeNothing) {
  for (int32_t method : {0, 6, 9, -1}) {
    ScalingProblem p = mixed_problem();
    const ScalingProblem before = p;
    p.run(method, 5);
    EXPECT_EQ(p.value, before.value) << method;
    EXPECT_EQ(p.index, before.index) << method;
    EXPECT_EQ(p.cost, before.cost) << method;
    EXPECT_EQ(p.rhs, before.rhs) << method;
    EXPECT_EQ(p.lower, before.lower) << method;
    EXPECT_EQ(p.upper, before.upper) << method;
    EXPECT_EQ(p.scale, before.scale) << method;
  }
}

// The logarithmic methods find the exact scaling of a rank-one matrix:
// every scaled entry is +-1. The geometric method needs one pass on a dense
// pattern, also when no passes are asked for. The Curtis-Reid recurrence
// converges long before 20 passes and must stay finite after that.
TEST(BarrierScaling, LogarithmicMethodsLevelARankOneMatrix) {
  struct Case {
    int32_t method;
    int32_t passes;
    bool dense;
  };
  for (const Case c : {Case{kl::SCALING_GEOMETRIC, 0, true}, Case{kl::SCALING_GEOMETRIC, 5, true},
                       Case{kl::SCALING_CURTIS_REID, 20, true}, Case{kl::SCALING_CURTIS_REID, 20, false}}) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << " passes " << c.passes << " dense " << c.dense);
    ScalingProblem p = rank_one(c.dense);
    const auto original = p.matrix();
    p.run(c.method, c.passes);
    for (const auto& [at, a] : p.matrix()) {
      expect_relative(std::fabs(a), 1.0, 1e-9, "scaled entry");
      // The factors account for the whole change.
      expect_relative(a * p.s(at.second) * p.s(p.n() + at.first), original.at(at), 1e-12, "entry");
    }
  }
}

// On a general matrix the Curtis-Reid factors solve the least-squares
// problem: the logarithms of the scaled entries sum to zero along every row
// and every column.
TEST(BarrierScaling, CurtisReidSolvesTheLeastSquaresProblem) {
  std::vector<std::vector<std::pair<int32_t, double>>> columns(8);
  for (int32_t j = 0; j < 8; ++j) {
    for (int32_t i = 0; i < 6; ++i) {
      if ((3 * i + j) % 4 == 0 || i == j % 6) {
        columns[static_cast<size_t>(j)].push_back({i + 1, std::pow(10.0, (7 * i + 5 * j) % 9 - 4) * (1 + 0.1 * i)});
      }
    }
  }
  ScalingProblem p(6, columns);
  p.run(kl::SCALING_CURTIS_REID, 100);
  std::vector<double> sums(static_cast<size_t>(p.n() + p.m()) + 1, 0.0);
  for (const auto& [at, a] : p.matrix()) {
    ASSERT_TRUE(std::isfinite(a));
    sums[static_cast<size_t>(at.second)] += std::log(std::fabs(a));
    sums[static_cast<size_t>(p.n() + at.first)] += std::log(std::fabs(a));
  }
  for (size_t k = 1; k < sums.size(); ++k) EXPECT_NEAR(sums[k], 0.0, 1e-8) << "position " << k;
}

TEST(BarrierScaling, UnitEntriesGiveUnitFactors) {
  for (int32_t method : {1, 2, 3, 4, 5}) {
    ScalingProblem p(3, {{{1, 1.0}, {2, -1.0}}, {{2, 1.0}, {3, 1.0}}, {{1, -1.0}, {3, -1.0}}});
    p.run(method, 5);
    for (int32_t k = 1; k <= p.n() + p.m(); ++k) EXPECT_EQ(p.s(k), 1.0) << "method " << method << " position " << k;
  }
}

// Removed rows and columns, and a column whose entries are all negligible
// beside 1, take no part in the logarithmic methods: factor 1. The matrix
// stays the same column by column up to the factors.
TEST(BarrierScaling, ExcludedEntriesAndRemovedPositions) {
  for (int32_t method : {1, 2, 3, 4, 5}) {
    SCOPED_TRACE(testing::Message() << "method " << method);
    ScalingProblem p = mixed_problem();
    p.var_state[2] = -2;                            // a removed column
    p.var_state[static_cast<size_t>(p.n() + 3)] = -3;  // a removed row
    const auto original = p.matrix();
    const std::vector<double> cost = p.cost, rhs = p.rhs, lower = p.lower, upper = p.upper;
    p.run(method, 5);
    const int32_t n = p.n();
    EXPECT_EQ(p.s(2), 1.0);          // removed column
    EXPECT_EQ(p.s(n + 3), 1.0);      // removed row
    if (method >= 4) {
      EXPECT_EQ(p.s(6), 1.0);  // the negligible column
    }
    const auto scaled = p.matrix();
    ASSERT_EQ(scaled.size(), original.size());
    for (const auto& [at, a] : scaled) {
      expect_relative(a * p.s(at.second) * p.s(n + at.first), original.at(at), 1e-12, "entry");
    }
    for (int32_t j = 1; j <= n; ++j) {
      const size_t k = static_cast<size_t>(j);
      expect_relative(p.cost[k] * p.s(j), cost[k], 1e-12, "cost");
      if (lower[k] > -kInf) expect_relative(p.lower[k] / p.s(j), lower[k], 1e-12, "column lower");
      if (upper[k] < kInf) expect_relative(p.upper[k] / p.s(j), upper[k], 1e-12, "column upper");
    }
    for (int32_t i = 1; i <= p.m(); ++i) {
      const size_t k = static_cast<size_t>(n + i);
      expect_relative(p.rhs[static_cast<size_t>(i)] * p.s(n + i), rhs[static_cast<size_t>(i)], 1e-12, "rhs");
      if (lower[k] > -kInf) expect_relative(p.lower[k] * p.s(n + i), lower[k], 1e-12, "slack lower");
      if (upper[k] < kInf) expect_relative(p.upper[k] * p.s(n + i), upper[k], 1e-12, "slack upper");
    }
    // Counted entries come first in each active column: the entry of
    // column 3 in the removed row is behind the other two.
    if (method >= 2) {
      EXPECT_EQ(p.counts[3], 2);
      for (int32_t k = p.start[3] + p.counts[3]; k < p.start[4]; ++k) {
        const bool removed_row = p.var_state[static_cast<size_t>(n + p.index[static_cast<size_t>(k)])] <= -2;
        EXPECT_TRUE(removed_row) << "entry " << k;
      }
    }
  }
}

TEST(BarrierNormalisation, ObjectiveFactor) {
  ScalingProblem p(1, {{{1, 1.0}}, {{1, 1.0}}, {{1, 1.0}}});
  p.cost = {0, 5000.0, -20.0, 8000.0};
  p.var_state[3] = -2;  // the largest cost is in a removed column
  double f = 0.0;
  kl::normalise_barrier_objective(p.params, p.cost.data(), p.quad_start.data(), p.quad_diag.data(),
                                  p.value.data(), f, p.var_state.data(), 100.0);
  EXPECT_DOUBLE_EQ(f, 50.0);
  EXPECT_EQ(p.cost, (std::vector<double>{0, 100.0, -0.4, 160.0}));

  // With a quadratic diagonal the curvature alone decides: sqrt(400 / 100).
  ScalingProblem q(1, {{{1, 1.0}}, {{1, 1.0}}, {{1, 1.0}}});
  q.cost = {0, 5000.0, -20.0, 8000.0};
  q.set_quadratic({20.0, -4.0, 0.0}, {{{2, 6.0}, {3, 1.0}}, {}, {}});
  kl::normalise_barrier_objective(q.params, q.cost.data(), q.quad_start.data(), q.quad_diag.data(),
                                  q.value.data(), f, q.var_state.data(), 100.0);
  EXPECT_DOUBLE_EQ(f, 2.0);
  EXPECT_EQ(q.cost, (std::vector<double>{0, 2500.0, -10.0, 4000.0}));
  EXPECT_EQ(q.quad_diag, (std::vector<double>{0, 10.0, -2.0, 0.0}));
  const size_t first = static_cast<size_t>(q.params.matrix_nz) + 1;
  EXPECT_EQ(q.value[first], 3.0);
  EXPECT_EQ(q.value[first + 1], 0.5);
  EXPECT_EQ(q.value[1], 1.0);  // the matrix is not touched

  // No costs at all: factor 1.
  ScalingProblem z(1, {{{1, 1.0}}});
  kl::normalise_barrier_objective(z.params, z.cost.data(), z.quad_start.data(), z.quad_diag.data(),
                                  z.value.data(), f, z.var_state.data(), 100.0);
  EXPECT_EQ(f, 1.0);
}

TEST(BarrierNormalisation, RightHandSideFactor) {
  ScalingProblem p(3, {{{1, 1.0}}, {{2, 1.0}}});
  double f = 0.0;
  kl::normalise_barrier_rhs(p.params, p.rhs.data(), f, p.var_state.data(), 1.0, p.upper.data());
  EXPECT_EQ(f, kl::kMinRhsFactor);

  p.rhs = {0, 3.0, -30.0, 900.0};
  p.var_state[p.n() + 3] = -3;  // a removed row does not count
  p.upper = {0, 6.0, kInf, 12.0, kInf, 0.0};
  kl::normalise_barrier_rhs(p.params, p.rhs.data(), f, p.var_state.data(), 3.0, p.upper.data());
  EXPECT_DOUBLE_EQ(f, 10.0);
  EXPECT_EQ(p.rhs, (std::vector<double>{0, 0.3, -3.0, 90.0}));
  // Infinite bounds stay infinite whatever the factor.
  EXPECT_EQ(p.upper, (std::vector<double>{0, 0.6, kInf, 1.2, kInf, 0.0}));
}

// Scaling, the quadratic term's share, both normalisations, and the undo
// give back the problem; a primal and a dual point carried into the scaled
// space keep their residuals and come back unchanged.
TEST(BarrierNormalisation, UndoReturnsTheOriginalProblem) {
  for (int32_t method : {1, 2, 3, 4, 5}) {
    SCOPED_TRACE(testing::Message() << "method " << method);
    ScalingProblem p = mixed_problem();
    p.var_state.assign(p.var_state.size(), 0);
    p.set_quadratic({4.0, 0.0, 1e-3, 2.0, 0.0, 1.0}, {{{3, 0.5}}, {}, {{4, -0.25}, {5, 3.0}}, {}, {{6, 0.1}}, {}});
    const int32_t n = p.n();
    const int32_t m = p.m();
    const ScalingProblem original = p;

    // An arbitrary point: x by column, slacks from the rows; y, and the
    // reduced costs c - A'y.
    std::vector<double> x(static_cast<size_t>(n + m) + 1), y(static_cast<size_t>(m) + 1), z(x.size()), s(x.size());
    for (int32_t j = 1; j <= n; ++j) x[static_cast<size_t>(j)] = 0.5 * j - 1.0;
    for (int32_t i = 1; i <= m; ++i) y[static_cast<size_t>(i)] = 2.0 - i;
    for (const auto& [at, a] : p.matrix()) {
      x[static_cast<size_t>(n + at.first)] += a * x[static_cast<size_t>(at.second)];
    }
    for (int32_t i = 1; i <= m; ++i) x[static_cast<size_t>(n + i)] -= p.rhs[static_cast<size_t>(i)];
    for (int32_t j = 1; j <= n; ++j) z[static_cast<size_t>(j)] = p.cost[static_cast<size_t>(j)];
    for (const auto& [at, a] : p.matrix()) z[static_cast<size_t>(at.second)] -= a * y[static_cast<size_t>(at.first)];
    for (int32_t i = 1; i <= m; ++i) z[static_cast<size_t>(n + i)] = 3.0 * i;
    for (size_t k = 1; k < s.size(); ++k) s[k] = 0.25 * static_cast<double>(k);
    const std::vector<double> x0 = x, y0 = y, z0 = z, s0 = s;

    p.run(method, 5);
    kl::scale_barrier_quadratic(p.params, p.scale.data(), p.quad_start.data(), p.index.data(), p.value.data(),
                                p.quad_diag.data());
    double of = 1.0, rf = 1.0;
    kl::normalise_barrier_objective(p.params, p.cost.data(), p.quad_start.data(), p.quad_diag.data(),
                                    p.value.data(), of, p.var_state.data(), 100.0);
    kl::normalise_barrier_rhs(p.params, p.rhs.data(), rf, p.var_state.data(), 2.0, p.upper.data());
    EXPECT_NE(of, 1.0);
    EXPECT_NE(rf, 1.0);

    // Into the scaled space, as the iterations would see the point.
    for (int32_t j = 1; j <= n; ++j) {
      x[static_cast<size_t>(j)] *= p.s(j) / rf;
      s[static_cast<size_t>(j)] *= p.s(j) / rf;
      z[static_cast<size_t>(j)] /= p.s(j) * of;
    }
    for (int32_t i = 1; i <= m; ++i) {
      const size_t k = static_cast<size_t>(n + i);
      x[k] /= p.s(n + i) * rf;
      s[k] /= p.s(n + i) * rf;
      y[static_cast<size_t>(i)] *= p.s(n + i) / of;
      z[k] *= p.s(n + i) / of;
    }
    std::vector<double> primal(static_cast<size_t>(m) + 1), dual(static_cast<size_t>(n) + 1);
    for (int32_t i = 1; i <= m; ++i) primal[static_cast<size_t>(i)] = -x[static_cast<size_t>(n + i)] - p.rhs[static_cast<size_t>(i)];
    for (int32_t j = 1; j <= n; ++j) dual[static_cast<size_t>(j)] = p.cost[static_cast<size_t>(j)] - z[static_cast<size_t>(j)];
    for (const auto& [at, a] : p.matrix()) {
      primal[static_cast<size_t>(at.first)] += a * x[static_cast<size_t>(at.second)];
      dual[static_cast<size_t>(at.second)] -= a * y[static_cast<size_t>(at.first)];
    }
    for (int32_t i = 1; i <= m; ++i) EXPECT_NEAR(primal[static_cast<size_t>(i)], 0.0, 1e-12) << "row " << i;
    for (int32_t j = 1; j <= n; ++j) EXPECT_NEAR(dual[static_cast<size_t>(j)], 0.0, 1e-12) << "column " << j;

    kl::BarrierSolutionArrays solution{x.data(), s.data(), y.data(), z.data()};
    kl::unscale_barrier_problem(p.params, p.rhs.data(), p.upper.data(), p.lower.data(), p.cost.data(),
                                p.start.data(), p.index.data(), p.value.data(), p.quad_start.data(),
                                p.quad_diag.data(), p.scale.data(), rf, of, 0.9 * kInf, solution);

    const auto a0 = original.matrix();
    const auto a1 = p.matrix();
    ASSERT_EQ(a1.size(), a0.size());
    for (const auto& [at, a] : a1) expect_relative(a, a0.at(at), 1e-12, "matrix");
    for (int32_t j = 1; j <= n; ++j) {
      const size_t k = static_cast<size_t>(j);
      expect_relative(p.cost[k], original.cost[k], 1e-12, "cost");
      expect_relative(p.quad_diag[k], original.quad_diag[k], 1e-12, "quadratic diagonal");
    }
    for (int32_t e = p.params.matrix_nz + 1; e <= p.params.matrix_nz + p.params.quad_nz; ++e) {
      EXPECT_EQ(p.index[static_cast<size_t>(e)], original.index[static_cast<size_t>(e)]);
      expect_relative(p.value[static_cast<size_t>(e)], original.value[static_cast<size_t>(e)], 1e-12, "quadratic");
    }
    for (int32_t i = 1; i <= m; ++i) expect_relative(p.rhs[static_cast<size_t>(i)], original.rhs[static_cast<size_t>(i)], 1e-12, "rhs");
    for (size_t k = 1; k < x.size(); ++k) {
      expect_relative(p.upper[k], original.upper[k], 1e-12, "upper");
      if (original.lower[k] > -kInf) {
        expect_relative(p.lower[k], original.lower[k], 1e-12, "lower");
      } else {
        EXPECT_EQ(p.lower[k], -kInf);
      }
      expect_relative(x[k], x0[k], 1e-12, "x");
      expect_relative(s[k], s0[k], 1e-12, "s");
      expect_relative(z[k], z0[k], 1e-12, "z");
    }
    for (int32_t i = 1; i <= m; ++i) expect_relative(y[static_cast<size_t>(i)], y0[static_cast<size_t>(i)], 1e-12, "y");
  }
}

}  // namespace
