#include "barrier/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "barrier/iterate/iteration_driver.h"
#include "barrier/presolve/presolve_data.h"
#include "klsol32.h"
#include "support/barrier_pipeline_fixture.h"
#include "support/temp_dir.h"

namespace {

using kltest::barrier_pipeline::expect_solution;
using kltest::barrier_pipeline::finite;
using kltest::barrier_pipeline::kInf;
using kltest::barrier_pipeline::Problem;
using kltest::barrier_pipeline::Settings;
using kltest::barrier_pipeline::Solve;

// min -3 x1 - x2 + x4 + x5 with x1 in [0, 3], x2 <= 5 (upper bound only),
// x3 free, x4 fixed at 2, x5 boxed in [1, 10];
//   r1: x1 + x2 <= 6, r2: x3 - x2 = 1, r3: 2 <= x3 + x5 <= 20 (rhs 2),
//   r4: x1 + x3 free, r5: x4 + x5 >= 2.5.
// Optimum x = (3, 3, 4, 2, 1), objective -9 (+ the constant); duals
// y = (-1, 0, 0, 0, 0), reduced costs (-2, 0, 0, 1, 1).
Problem small_lp(int32_t sense) {
  Problem p;
  p.sense = sense;
  p.cost = {-3.0, -1.0, 0.0, 1.0, 1.0};
  p.col_lower = {0.0, -kInf, -kInf, 2.0, 1.0};
  p.col_upper = {3.0, 5.0, kInf, 2.0, 10.0};
  p.columns = {{{1, 1.0}, {4, 1.0}}, {{1, 1.0}, {2, -1.0}}, {{2, 1.0}, {3, 1.0}, {4, 1.0}}, {{5, 1.0}},
               {{3, 1.0}, {5, 1.0}}};
  p.row_lo = {-kInf, 1.0, 2.0, -kInf, 2.5};
  p.row_hi = {6.0, 1.0, 20.0, kInf, kInf};
  p.rhs = {0.0, 1.0, 2.0, 0.0, 0.0};
  p.constant = 0.75;
  if (sense == -1) {
    // The same problem as a maximisation of the negated objective.
    for (double& c : p.cost) c = -c;
    p.constant = -p.constant;
  }
  return p;
}

// min x1^2 + x1 x2 + x2^2 - 2 x1 - 3 x2 + (x3 - 4)^2 + 0.5 with x1 >= 0,
// x2 <= 0.8 (upper bound only), x3 in [3, 10];
//   r1: x1 + x2 <= 1, r2: -5 <= x3 - x1 <= 5.
// Optimum x = (0.2, 0.8, 4), objective -1.46, y1 = -0.8.
Problem small_qp() {
  Problem p;
  p.cost = {-2.0, -3.0, -8.0};
  p.col_lower = {0.0, -kInf, 3.0};
  p.col_upper = {kInf, 0.8, 10.0};
  p.columns = {{{1, 1.0}, {2, -1.0}}, {{1, 1.0}}, {{2, 1.0}}};
  p.row_lo = {-kInf, -5.0};
  p.row_hi = {1.0, 5.0};
  p.rhs = {0.0, 0.0};
  p.quad_diag = {2.0, 2.0, 2.0};
  p.quad = {{1, 2, 1.0}};
  p.constant = 16.5;
  return p;
}

struct RoundTrip {
  const char* name;
  Settings settings;
};

const RoundTrip kRoundTrips[] = {
    {"unscaled, no normalisation", {0, 0.0, 0.0, 0, 0}},
    {"unscaled, objective normalised", {0, 100.0, 0.0, 0, 0}},
    {"geometric before presolve, both normalised", {2, 100.0, 10.0, 0, 0}},
    {"largest entry after presolve, rhs normalised", {256 * 1, 0.0, 1.0, 0, 0}},
    {"least squares both times, both normalised", {3 + 256 * 5, 7.0, 0.5, 0, 0}},
    {"presolve bits on, no presolve yet", {2, 100.0, 10.0, 354, 0}},
};

TEST(BarrierPipeline, SmallLpRoundTrip) {
  for (const RoundTrip& t : kRoundTrips) {
    for (int32_t sense : {1, -1}) {
      SCOPED_TRACE(std::string(t.name) + (sense == 1 ? ", minimising" : ", maximising"));
      const Problem pr = small_lp(sense);
      Solve s(pr, t.settings);
      s.run();
      ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
      EXPECT_GT(s.counters.iteration_count, 0);
      expect_solution(pr, s, sense * -8.25, 1e-6);
      const double x[] = {3.0, 3.0, 4.0, 2.0, 1.0};
      const double z[] = {-2.0, 0.0, 0.0, 1.0, 1.0};
      for (int32_t j = 1; j <= 5; ++j) {
        EXPECT_NEAR(s.a.x[j], x[j - 1], 1e-6) << j;
        EXPECT_NEAR(s.a.z[j], z[j - 1], 1e-6) << j;
      }
      EXPECT_NEAR(s.a.y[1], -1.0, 1e-6);
      // The free row took no part and is classed interior.
      EXPECT_EQ(s.a.var_state[5 + 4], -3);
      EXPECT_EQ(s.a.y[4], 0.0);
      EXPECT_EQ(s.a.pivot_order[5 + 4], 1);
      // The problem is back in its own terms, but for the rows that the
      // free-column elimination combined with an equality row (here r3 with
      // r2 through x3): the solution is restored, the working rows are not,
      // and nothing reads them after the solve.
      for (int32_t r = 1; r <= pr.m(); ++r) {
        if ((t.settings.presolv & kl::kPresolveFreeColumns) != 0 && r == 3) continue;
        EXPECT_NEAR(s.a.rhs[r], pr.rhs[r - 1], 1e-12) << r;
      }
      if ((t.settings.presolv & kl::kPresolveFreeColumns) != 0) {
        EXPECT_EQ(s.a.var_state[3], -10) << "x3 eliminated through r2";
      }
      EXPECT_EQ(s.a.scale[2], -1.0 * std::fabs(s.a.scale[2])) << "flipped column keeps a negative scale";
    }
  }
}

TEST(BarrierPipeline, SmallQpRoundTrip) {
  for (const RoundTrip& t : kRoundTrips) {
    SCOPED_TRACE(t.name);
    const Problem pr = small_qp();
    Solve s(pr, t.settings);
    s.run();
    ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
    expect_solution(pr, s, -1.46, 1e-6);
    EXPECT_NEAR(s.a.x[1], 0.2, 1e-6);
    EXPECT_NEAR(s.a.x[2], 0.8, 1e-6);
    EXPECT_NEAR(s.a.x[3], 4.0, 1e-6);
    EXPECT_NEAR(s.a.y[1], -0.8, 1e-6);
    // The reduced cost of x2 includes its Q x share: -3 + 0.2 + 1.6 + 0.8.
    EXPECT_NEAR(s.a.z[2], -0.4, 1e-6);
  }
}

// SMETHOD negative: the caller's values in x are carried into the scaled,
// shifted, flipped space as the starting point; the solve still ends at the
// optimum, from a point near it or far from it.
TEST(BarrierPipeline, CallerStartingPointIsCarriedIn) {
  const double near[] = {2.9, 2.9, 3.9, 2.0, 1.1};
  const double far[] = {0.0, -40.0, 100.0, 2.0, 9.0};
  for (const double* start : {near, far}) {
    for (int32_t smethod : {-1, -2}) {
      SCOPED_TRACE(smethod);
      const Problem pr = small_lp(1);
      Solve s(pr, Settings{2, 100.0, 10.0, 0, 0});
      s.params.SMETHOD = smethod;
      for (int32_t j = 1; j <= pr.n(); ++j) s.a.x[j] = start[j - 1];
      s.run();
      ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
      expect_solution(pr, s, -8.25, 1e-6);
    }
  }
}

// A fixed column coupled to the others through Q: its share of the
// quadratic term folds into the costs and the constant before it leaves.
// Adds x4 fixed at 1 with cost 0.5 and the term x1 x4 to the small QP:
// the optimum moves to x = (0.1, 0.8, 4, 1), objective -0.77, row 1 slack.
TEST(BarrierPipeline, FixedColumnOfAQuadraticFoldsItsTerms) {
  for (int32_t methods : {0, 2}) {
    SCOPED_TRACE(methods);
    Problem pr = small_qp();
    pr.cost.push_back(0.5);
    pr.col_lower.push_back(1.0);
    pr.col_upper.push_back(1.0);
    pr.columns.push_back({});
    pr.quad_diag.push_back(0.0);
    pr.quad.push_back({1, 4, 1.0});
    Solve s(pr, Settings{methods, 100.0, 10.0, 0, 0});
    s.run();
    ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
    const double want[] = {0.1, 0.8, 4.0, 1.0};
    for (int32_t j = 1; j <= 4; ++j) EXPECT_NEAR(s.a.x[j], want[j - 1], 1e-6) << j;
    EXPECT_NEAR(s.objective, -0.77, 1e-6);
    EXPECT_NEAR(s.a.y[1], 0.0, 1e-6);
    EXPECT_NEAR(s.a.z[1], 0.0, 1e-6);
    EXPECT_NEAR(s.a.z[2], 0.1 + 1.6 - 3.0, 1e-6) << "reduced cost with its Q x share";
  }
}

// A maximised QP: the objective comes back in the caller's sense.
TEST(BarrierPipeline, MaximisedQpReportsItsOwnSense) {
  Problem pr = small_qp();
  pr.sense = -1;
  for (double& c : pr.cost) c = -c;
  for (double& q : pr.quad_diag) q = -q;
  for (auto& q : pr.quad) q.value = -q.value;
  pr.constant = -pr.constant;
  Solve s(pr, Settings{2, 100.0, 10.0, 0, 0});
  s.run();
  ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
  expect_solution(pr, s, 1.46, 1e-6);
}

// --- Bound checks and removals ---------------------------------------------

// One column x1 in [lo, up] with cost 1 in the row 1 <= x1 + x2 <= 100,
// x2 in [0, 50] with cost 2.
Problem one_column(double lo, double up) {
  Problem p;
  p.cost = {1.0, 2.0};
  p.col_lower = {lo, 0.0};
  p.col_upper = {up, 50.0};
  p.columns = {{{1, 1.0}}, {{1, 1.0}}};
  p.row_lo = {1.0};
  p.row_hi = {100.0};
  p.rhs = {0.0};
  return p;
}

TEST(BarrierPipeline, BoundChecks) {
  struct Case {
    const char* name;
    Problem problem;
    int32_t status;
    int32_t culprit;  // position with class 3, 0 for none
    double optimum;
  };
  Problem crossed_row = one_column(0.0, 5.0);
  crossed_row.row_lo = {3.0};
  crossed_row.row_hi = {2.0};
  Problem nearly_crossed_row = one_column(0.0, 5.0);
  nearly_crossed_row.row_lo = {3.0 + 5e-9};
  nearly_crossed_row.row_hi = {3.0};
  const Case cases[] = {
      {"crossed column", one_column(2.0, 1.0), kl::BARRIER_INFEASIBLE, 1, 0.0},
      {"column crossed within PRESFEAS", one_column(2.0 + 5e-9, 2.0), kl::BARRIER_OPTIMAL, 0, 2.0},
      {"zero column crossed within PRESFEAS", one_column(9e-9, 0.0), kl::BARRIER_OPTIMAL, 0, 2.0},
      {"crossed row", crossed_row, kl::BARRIER_INFEASIBLE, 3, 0.0},
      {"row crossed within PRESFEAS", nearly_crossed_row, kl::BARRIER_OPTIMAL, 0, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Solve s(c.problem, Settings{});
    s.run();
    EXPECT_EQ(s.status, c.status) << kl::barrier_status_text(s.status);
    if (c.status == kl::BARRIER_INFEASIBLE) {
      for (int32_t k = 1; k <= 3; ++k) EXPECT_EQ(s.a.pivot_order[k], k == c.culprit ? 3 : 0) << k;
      EXPECT_EQ(s.counters.iteration_count, 0);
    } else {
      // A crossing within PRESFEAS is a rounding: the solve goes on and
      // ends at the optimum of the problem with the bounds made equal.
      EXPECT_GT(s.counters.iteration_count, 0);
      Problem held = c.problem;
      held.col_lower[0] = std::min(held.col_lower[0], held.col_upper[0]);
      held.row_lo[0] = std::min(held.row_lo[0], held.row_hi[0]);
      expect_solution(held, s, c.optimum, 1e-6);
    }
  }
}

// A fixed column leaves before the iterations: its value moves into the
// right-hand side and the objective constant; the rest still iterates.
TEST(BarrierPipeline, FixedColumnLeavesAndTheRestIterates) {
  const Problem pr = one_column(1.0, 1.0 + 5e-11);
  Solve s(pr, Settings{});
  s.run();
  ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
  EXPECT_EQ(s.a.var_state[1], -3);
  EXPECT_GT(s.counters.iteration_count, 0);
  EXPECT_GE(s.counters.removed_col_count, 1);
  EXPECT_NEAR(s.constant, 1.0 + 5e-11, 1e-15) << "cost times upper joins the constant";
  EXPECT_NEAR(s.a.x[1], 1.0, 1e-10);
  expect_solution(pr, s, 1.0, 1e-6);
}

// Nothing left for the iterations: status 2 with the constant as the
// objective, in the caller's sense, and the fixed values as the solution.
TEST(BarrierPipeline, EverythingRemovedEndsOptimalWithTheConstant) {
  for (int32_t sense : {1, -1}) {
    SCOPED_TRACE(sense);
    Problem pr;
    pr.sense = sense;
    pr.cost = {2.0, -3.0};
    pr.col_lower = {1.5, -4.0};
    pr.col_upper = {1.5, -4.0};
    pr.columns = {{{1, 1.0}}, {{1, 2.0}, {2, 1.0}}};
    pr.row_lo = {-kInf, -kInf};
    pr.row_hi = {kInf, kInf};
    pr.rhs = {0.0, 0.0};
    pr.constant = 0.25;
    Solve s(pr, Settings{});
    s.objective = 999.0;
    s.run();
    ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
    EXPECT_EQ(s.counters.iteration_count, 0);
    EXPECT_EQ(s.counters.removed_col_count, 2);
    EXPECT_EQ(s.counters.removed_row_count, 2);
    const double optimum = 0.25 + 2.0 * 1.5 + 12.0;  // in the problem's own sense
    EXPECT_DOUBLE_EQ(s.objective, optimum);
    EXPECT_NEAR(s.a.x[1], 1.5, 1e-12);
    EXPECT_NEAR(s.a.x[2], -4.0, 1e-12);
    EXPECT_NEAR(s.a.x[3], 1.5 - 8.0, 1e-12) << "slack of a removed row is its activity";
    EXPECT_NEAR(s.a.z[2], sense * -3.0, 1e-12) << "reduced cost of a removed column";
  }
}

// --- Bound normalisation ----------------------------------------------------

TEST(BarrierPipeline, NormaliseBounds) {
  // Columns: 1 upper-only u = 5, 2 boxed [3, 10], 3 free, 4 lower only at 0,
  // 5 removed (fixed) [7, 7]; each with cost 2 and entry 4 in row 1 and
  // entry 1 in row k + 1 ... rows: 1 ranged slack [1, 5], 2 equality at 2,
  // 3 upper-only slack <= 4, 4 removed free row.
  kl::barrier_params p;
  kl::set_barrier_defaults(p);
  const int32_t n = 5, m = 4;
  p.col_count = n;
  p.row_count = m;
  std::vector<double> upper = {0, 5, 10, kInf, kInf, 7, 5, 2, 4, kInf};
  std::vector<double> lower = {0, -kInf, 3, -kInf, 0, 7, 1, 2, -kInf, -kInf};
  std::vector<double> rhs = {0, 10, 20, 30, 40};
  std::vector<double> cost = {0, 2, 2, 2, 2, 2};
  std::vector<int32_t> start = {0, 1, 3, 5, 7, 9, 11};
  std::vector<int32_t> index = {0, 1, 3, 1, 3, 1, 2, 1, 2, 1, 2};
  std::vector<double> value = {0, 4, 1, 4, 1, 4, 1, 4, 1, 4, 1};
  std::vector<int32_t> col_code(n + 1, 9), row_code(m + 1, 9), state(n + m + 1, 0);
  std::vector<double> scale(n + m + 1, 1.0);
  state[5] = -3;
  state[n + 4] = -3;
  col_code[5] = 1;
  double constant = 0.5;
  kl::normalise_barrier_bounds(p, upper.data(), lower.data(), rhs.data(), cost.data(), value.data(), col_code.data(),
                               row_code.data(), state.data(), start.data(), index.data(), scale.data(), constant,
                               p.TPLUS, p.TZER, 0.9 * kInf, kInf);
  // Columns.
  const int32_t want_col_code[] = {2, -1, 0, 1, 1};
  const double want_lower[] = {-5, 3, -kInf, 0, 7};
  const double want_upper[] = {kInf, 7, kInf, kInf, 7};
  const double want_cost[] = {-2, 2, 2, 2, 2};
  const double want_scale[] = {-1, 1, 1, 1, 1};
  for (int32_t j = 1; j <= n; ++j) {
    SCOPED_TRACE("column " + std::to_string(j));
    EXPECT_EQ(col_code[j], want_col_code[j - 1]);
    EXPECT_EQ(lower[j], want_lower[j - 1]);
    EXPECT_EQ(upper[j], want_upper[j - 1]);
    EXPECT_EQ(cost[j], want_cost[j - 1]);
    EXPECT_EQ(scale[j], want_scale[j - 1]);
  }
  // Rows: 1 ranged [1, 5] -> code -1, upper 4; 2 equality -> code 0, upper
  // 0; 3 upper-only -> flipped: lower -4, code 2, entries negated; 4 removed.
  const int32_t want_row_code[] = {-1, 0, 2, 0};
  const double want_row_lower[] = {1, 2, -4, -kInf};
  const double want_row_upper[] = {4, 0, kInf, kInf};
  for (int32_t i = 1; i <= m; ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(row_code[i], want_row_code[i - 1]);
    EXPECT_EQ(lower[n + i], want_row_lower[i - 1]);
    EXPECT_EQ(upper[n + i], want_row_upper[i - 1]);
  }
  EXPECT_EQ(scale[n + 3], -1.0);
  // Column 1 flipped: entries -4 (row 1) and -1 (row 3, flipped again: +1).
  EXPECT_EQ(value[1], -4.0);
  EXPECT_EQ(value[2], 1.0);
  // Column 2 boxed: entry 4 in row 1, 1 in row 3 (flipped row: -1).
  EXPECT_EQ(value[4], -1.0);
  // Right-hand sides: row 1: 10 + 1 - (-4)(-5) - 4 x 3 = -21; row 2: 20 + 2;
  // row 3: -30 - 4 - (1)(-5) - (-1)(3) = -26; row 4 untouched.
  EXPECT_EQ(rhs[1], 10.0 + 1.0 - 20.0 - 12.0);
  EXPECT_EQ(rhs[2], 22.0);
  EXPECT_EQ(rhs[3], -30.0 - 4.0 + 5.0 + 3.0);
  EXPECT_EQ(rhs[4], 40.0);
  // Constant: 0.5 + (-2)(-5) + 2 x 3.
  EXPECT_EQ(constant, 0.5 + 10.0 + 6.0);
}

// --- Stops, space, dump, timing ---------------------------------------------

int32_t stop_at_once() { return 1; }

// A stop by the barrier-log callback is no verdict: never status 2, and the
// objective is not a stale value passed off as the optimum's.
TEST(BarrierPipeline, CallbackStopNeverReadsAsOptimal) {
  KLDEFINEBLENTRY(stop_at_once);
  const Problem pr = small_lp(1);
  Solve s(pr, Settings{});
  s.objective = 777.0;
  s.run();
  KLDEFINEBLENTRY(nullptr);
  EXPECT_NE(s.status, kl::BARRIER_OPTIMAL);
  EXPECT_NE(s.objective, 777.0);
}

TEST(BarrierPipeline, ShortFactorSpaceChangesNothing) {
  const Problem pr = small_lp(1);
  Solve s(pr, Settings{});
  s.params.factor_space = 2 * s.params.matrix_nz + 2;
  const std::vector<double> before(s.d[6]);
  s.status = 5;
  s.run();
  EXPECT_EQ(s.status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(s.d[6], before);
  EXPECT_EQ(s.objective, -12345.0);
}

TEST(BarrierPipeline, DumpShowsTheProblemBeforeAnyChange) {
  kltest::TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const Problem pr = one_column(1.0, 1.0);  // fixed: would leave the rhs at once
  Solve s(pr, Settings{0, 100.0, 0.0, 0, 0x100 | 1});
  s.run();
  std::filesystem::current_path(previous);
  std::ifstream in(dir.file("korip.qps"));
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  const std::string dump = text.str();
  // The fixed column is still there with its bounds, and the row keeps its
  // right-hand side 1 (fixing the column first would have moved it to 0).
  const size_t rhs = dump.find("RHS"), ranges = dump.find("RANGES"), bounds = dump.find("BOUNDS");
  ASSERT_TRUE(rhs != std::string::npos && ranges != std::string::npos && bounds != std::string::npos) << dump;
  EXPECT_NE(dump.substr(rhs, ranges - rhs).find("R------1"), std::string::npos) << dump;
  EXPECT_NE(dump.substr(bounds).find(" UP BOUNDS    C------1"), std::string::npos) << dump;
}

TEST(BarrierPipeline, CpuCentisecondsCountForward) {
  int32_t first = -1, second = -1;
  EXPECT_EQ(kl::read_cpu_centiseconds(first), first);
  EXPECT_GE(first, 0);
  volatile double sink = 0.0;
  for (int32_t k = 0; k < 20000000; ++k) sink = sink + 1e-9 * k;
  kl::read_cpu_centiseconds(second);
  EXPECT_GE(second, first);
}

}  // namespace
