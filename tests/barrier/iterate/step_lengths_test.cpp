#include "barrier/iterate/step_lengths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "barrier/iterate/iterate_fixture.h"

namespace {

using kltest::ClassedProblem;

// Directions over the eight positions (see the fixture), ru the upper
// residual over the boxed positions 4 and 5.
struct Direction {
  std::vector<double> dx = std::vector<double>(9, 0.0);
  std::vector<double> dz = std::vector<double>(9, 0.0);
  std::vector<double> dw = std::vector<double>(9, 0.0);
  std::vector<double> dy = std::vector<double>(5, 0.0);
  std::vector<double> ru = std::vector<double>(9, 0.0);
};

TEST(BarrierStepLengths, RatioTestToTheBoundary) {
  struct Case {
    const char* name;
    int32_t position;
    double dx, dz, dw, ru;
    double alpha_p, alpha_d;  // before the driver's damping
  };
  const double full = 1.0 / 0.999;
  // x, z, s, w at positions 3..6 (fixture): x3 .9 z3 .6; x4 1.2 s4 1.7 z4 .4 w4 .9; x6 .8 z6 .2.
  const std::vector<Case> cases = {
      {"no negative component", 3, 1.0, 1.0, 0.0, 0.0, full, full},
      {"x limits", 3, -1.8, 0.0, 0.0, 0.0, 0.5, full},
      {"z limits", 6, 0.0, -0.8, 0.0, 0.0, full, 0.25},
      {"tiny components do not limit", 3, -1e-36, -1e-36, 0.0, 0.0, full, full},
      {"free column never limits", 2, -100.0, -100.0, 0.0, 0.0, full, full},
      {"upper slack limits through ru - dx", 4, 0.2, 0.0, 0.0, -3.2, 0.5, full},
      {"w limits", 4, 0.0, 0.0, -1.8, 0.0, full, 0.5},
      {"equality slack never limits", 7, -5.0, -5.0, -5.0, 0.0, full, full},
  };
  for (const Case& c : cases) {
    ClassedProblem p;
    Direction d;
    d.dx[c.position] = c.dx;
    d.dz[c.position] = c.dz;
    d.dw[c.position] = c.dw;
    d.ru[c.position] = c.ru;
    double ap = 0.0;
    double ad = 0.0;
    kl::compute_max_step_lengths(p.params, ap, p.x.data(), d.dx.data(), p.s.data(), d.ru.data(), ad, p.z.data(),
                                 d.dz.data(), p.w.data(), d.dw.data(), p.ranges.data());
    EXPECT_DOUBLE_EQ(ap, c.alpha_p) << c.name;
    EXPECT_DOUBLE_EQ(ad, c.alpha_d) << c.name;
    if (ap == full) {
      EXPECT_DOUBLE_EQ(ap * p.params.PRDARE, 1.0) << c.name;
    }
  }
}

TEST(BarrierStepLengths, ComplementarityLimit) {
  ClassedProblem p;
  Direction d;
  auto run = [&](double ap, double ad) {
    kl::limit_step_by_complementarity(p.params, ap, ad, p.x.data(), d.dx.data(), p.z.data(), d.dz.data(),
                                      p.s.data(), d.ru.data(), p.w.data(), d.dw.data(), p.ranges.data());
    return std::pair<double, double>(ap, ad);
  };
  // A zero direction keeps every pair where it is: all above the target.
  EXPECT_EQ(run(0.9, 0.8), std::make_pair(0.9, 0.8));

  // Position 3: x 0.9 heads to 0 while z grows: the x side is cut back to the target.
  d.dx[3] = -0.9;
  d.dz[3] = 0.1;
  const auto [ap, ad] = run(1.0, 1.0);
  double total = 0.0;
  for (int32_t j = 3; j <= 6; ++j) total += (p.x[j] + d.dx[j]) * (p.z[j] + d.dz[j]);
  for (int32_t j = 4; j <= 5; ++j) total += (p.s[j] + d.ru[j] - d.dx[j]) * (p.w[j] + d.dw[j]);
  const double target = total / 6 * p.params.COMPLMIN;
  EXPECT_EQ(ad, 1.0);
  EXPECT_NEAR((p.x[3] + ap * d.dx[3]) * (p.z[3] + d.dz[3]), target, 1e-15);
  EXPECT_GT(ap, p.params.MINSTEP);

  // A much larger target is floored at MINSTEP times the entry length.
  p.params.COMPLMIN = 10.0;
  EXPECT_EQ(run(0.8, 1.0).first, p.params.MINSTEP * 0.8);

  // The s w pair: w heads to 0 while s grows: the dual side is cut, floored at half the entry length.
  p.params.COMPLMIN = 0.001;
  d = Direction();
  d.dw[5] = -0.5;
  d.dx[5] = -1.0;  // ds = +1
  const auto [ap2, ad2] = run(1.0, 1.0);
  EXPECT_EQ(ap2, 1.0);
  total = 0.0;
  for (int32_t j = 3; j <= 6; ++j) total += (p.x[j] + d.dx[j]) * p.z[j];
  for (int32_t j = 4; j <= 5; ++j) total += (p.s[j] + d.ru[j] - d.dx[j]) * (p.w[j] + d.dw[j]);
  EXPECT_NEAR((p.s[5] + 1.0) * (p.w[5] + ad2 * d.dw[5]), total / 6 * 0.001, 1e-15);
  p.params.COMPLMIN = 100.0;
  EXPECT_EQ(run(1.0, 0.6).second, 0.3);

  // No bounded positions: nothing changes.
  ClassedProblem free_only;
  free_only.ranges = {0, 1, 5, 5, 5, 5, 5, 1, 9, 4, 4, 4, 4, 4, 4, 8, 0};
  double ap3 = 0.7;
  double ad3 = 0.6;
  d.dx[3] = -100.0;
  kl::limit_step_by_complementarity(free_only.params, ap3, ad3, p.x.data(), d.dx.data(), p.z.data(), d.dz.data(),
                                    p.s.data(), d.ru.data(), p.w.data(), d.dw.data(), free_only.ranges.data());
  EXPECT_EQ(ap3, 0.7);
  EXPECT_EQ(ad3, 0.6);
}

TEST(BarrierStepLengths, BalanceMovesTheLongerLengthTowardTheShorter) {
  ClassedProblem p;
  std::vector<double> rd = {0, 0, 0.3, -0.2, 0.1, 0, 0, 0, 0};
  std::vector<double> dx = {0, 0.5, 1.0, -0.5, 0.25, 0, 0, 0, 0};
  std::vector<double> qdx(5, 0.0);
  std::vector<double> dense(5, 0.0);
  for (int32_t i = 1; i <= 4; ++i) {
    for (int32_t j = 1; j <= 4; ++j) dense[i] += p.q(i, j) * dx[j];
  }
  auto run = [&](double ap, double ad) {
    kl::balance_step_lengths(p.params, ap, ad, rd.data(), dx.data(), qdx.data(), p.quad_diag.data(),
                             p.quad_start.data(), p.factor_index.data(), p.factor_value.data(), p.ranges.data());
    return std::pair<double, double>(ap, ad);
  };
  EXPECT_EQ(run(0.8, 0.8 + 1e-11), std::make_pair(0.8, 0.8 + 1e-11));
  for (int32_t j = 1; j <= 4; ++j) EXPECT_NEAR(qdx[j], dense[j], 1e-15);

  for (const auto& [ap0, ad0] : {std::pair{0.9, 0.4}, std::pair{0.3, 0.7}}) {
    double sum = 0.0;
    double square = 0.0;
    for (int32_t j = 2; j <= 4; ++j) {
      const double v = ap0 > ad0 ? dense[j] : rd[j] + dense[j];
      sum += rd[j] * v;
      square += v * v;
    }
    const double shorter = std::min(ap0, ad0);
    const double ap = ap0 > ad0 ? std::min(std::max(ad0 - (1 - ad0) * sum / square, shorter), ap0) : ap0;
    const double ad = ap0 > ad0 ? ad0 : std::min(std::max(ap0 + (1 - ap0) * sum / square, shorter), ad0);
    const auto got = run(ap0, ad0);
    EXPECT_NEAR(got.first, ap, 1e-15);
    EXPECT_NEAR(got.second, ad, 1e-15);
    EXPECT_GE(got.first, shorter);
    EXPECT_GE(got.second, shorter);
  }
}

TEST(BarrierStepLengths, TakeStepMovesEachClassAndReportsTheLastMove) {
  ClassedProblem p;
  Direction d;
  for (int32_t j = 1; j <= 8; ++j) {
    d.dx[j] = 0.1 * j;
    d.dz[j] = -0.05 * j;
    d.dw[j] = 0.02 * j;
  }
  d.ru[4] = 2.0;
  d.ru[5] = -1.0;
  d.dy = {0, 1.0, -3.0, 0.5, 100.0};
  const ClassedProblem before = p;
  double move = 0.0;
  kl::take_barrier_step(p.params, 0.5, p.x.data(), d.dx.data(), p.s.data(), d.ru.data(), 0.25, p.y.data(),
                        d.dy.data(), p.z.data(), d.dz.data(), p.w.data(), d.dw.data(), p.ranges.data(), move);
  for (int32_t j = 1; j <= 8; ++j) {
    const bool moved = j >= 2 && j <= 6;  // not the removed positions nor the equality slack
    EXPECT_EQ(p.x[j], before.x[j] + (moved ? 0.5 * d.dx[j] : 0.0)) << j;
    EXPECT_EQ(p.z[j], before.z[j] + (moved ? 0.25 * d.dz[j] : 0.0)) << j;
    const bool boxed = j == 4 || j == 5;
    EXPECT_EQ(p.s[j], before.s[j] + (boxed ? 0.5 * (d.ru[j] - d.dx[j]) : 0.0)) << j;
    EXPECT_EQ(p.w[j], before.w[j] + (boxed ? 0.25 * d.dw[j] : 0.0)) << j;
  }
  for (int32_t i = 1; i <= 4; ++i) EXPECT_EQ(p.y[i], before.y[i] + (i <= 3 ? 0.25 * d.dy[i] : 0.0)) << i;
  // Largest primal change |ds_4| = 1.6 at 0.5; largest dual change |dy_2| = 3 at 0.25.
  EXPECT_DOUBLE_EQ(move, std::max(1.6 * 0.5, 3.0 * 0.25));
  // A negative step moves the iterate back.
  kl::take_barrier_step(p.params, -0.5, p.x.data(), d.dx.data(), p.s.data(), d.ru.data(), -0.25, p.y.data(),
                        d.dy.data(), p.z.data(), d.dz.data(), p.w.data(), d.dw.data(), p.ranges.data(), move);
  for (int32_t j = 1; j <= 8; ++j) EXPECT_NEAR(p.x[j], before.x[j], 1e-15);
}

struct FixResult {
  ClassedProblem p;
  std::vector<int32_t> col_code = {0, 1, 0, 1, -1};
  std::vector<int32_t> slack_code = {0, -1, 1, 0, 1};
  std::vector<int32_t> state = {0, -2, 0, 0, 0, 0, 0, 0, -2};
  int32_t removed_cols = 1, removed_rows = 1, columns = -9, slacks = -9, bounds = -9;
  double constant = 10.0;
};

void run_fix(FixResult& r, double scale) {
  std::vector<double> f(5, 0.0), v(5, 0.0);
  kl::fix_barrier_variables(r.p.params, r.col_code.data(), r.slack_code.data(), r.p.rhs.data(),
                            r.p.matrix_start.data(), r.p.factor_index.data(), r.p.factor_value.data(), r.p.x.data(),
                            r.p.s.data(), r.p.y.data(), r.p.z.data(), r.p.w.data(), r.state.data(), r.removed_cols,
                            r.removed_rows, r.constant, scale, r.p.cost.data(), r.p.upper.data(), f.data(),
                            v.data(), r.p.quad_start.data(), r.p.quad_diag.data(), r.p.ranges.data(), r.columns,
                            r.slacks, r.bounds);
}

TEST(BarrierStepLengths, FixingTable) {
  // Nothing at a bound: nothing changes, and the removed positions outside
  // the active ranges are not counted.
  {
    FixResult r;
    const ClassedProblem before = r.p;
    run_fix(r, 2.0);
    EXPECT_EQ(r.columns + r.slacks + r.bounds, 0);
    EXPECT_EQ(r.p.x, before.x);
    EXPECT_EQ(r.constant, 10.0);
  }
  // Lower bound: x below TFIXVAR fixes at 0 even with a tiny z; costs and constant untouched.
  {
    FixResult r;
    r.p.x[3] = 1e-26;
    r.p.z[3] = 1e-30;
    const ClassedProblem before = r.p;
    run_fix(r, 2.0);
    EXPECT_EQ(r.state[3], -2);
    EXPECT_EQ(r.p.x[3], 0.0);
    EXPECT_EQ(r.columns, 1);
    EXPECT_EQ(r.removed_cols, 2);
    EXPECT_EQ(r.p.cost, before.cost);
    EXPECT_EQ(r.constant, 10.0);
  }
  // A non-fixed column with a tiny z gets TFIXSLACK; a slack removed earlier in the active range is counted.
  {
    FixResult r;
    r.p.z[4] = 1e-30;
    r.state[6] = -2;
    run_fix(r, 1.0);
    EXPECT_EQ(r.p.z[4], r.p.params.TFIXSLACK);
    EXPECT_EQ(r.state[4], 0);
    EXPECT_EQ(r.slacks, 1);
    EXPECT_EQ(r.removed_rows, 1);
  }
  // Upper bound: s below TFIXVAR fixes column 4 at u = 3; rhs, the constant
  // and, through Q, every cost absorb it.
  {
    FixResult r;
    r.p.s[4] = 1e-30;
    const ClassedProblem before = r.p;
    const double scale = 2.0;
    run_fix(r, scale);
    EXPECT_EQ(r.state[4], -2);
    EXPECT_EQ(r.p.x[4], 3.0);
    EXPECT_EQ(r.p.s[4], 0.0);
    EXPECT_EQ(r.columns, 1);
    // Column 4 entries: (5, -2), (7, 1), (8, 5): the whole stored column.
    EXPECT_EQ(r.p.rhs[1], before.rhs[1] + 2.0 * 3.0);
    EXPECT_EQ(r.p.rhs[3], before.rhs[3] - 1.0 * 3.0);
    EXPECT_EQ(r.p.rhs[4], before.rhs[4] - 5.0 * 3.0);
    for (int32_t i = 1; i <= 4; ++i) EXPECT_NEAR(r.p.cost[i], before.cost[i] + r.p.q(i, 4) * 3.0, 1e-15) << i;
    EXPECT_NEAR(r.constant, 10.0 + scale * (before.cost[4] * 3.0 + 0.5 * r.p.q(4, 4) * 9.0), 1e-13);
  }
  // Two columns fixed in one call also share their cross term: column 3 at
  // its upper bound (made boxed here) with column 4.
  {
    FixResult r;
    r.p.ranges = {0, 2, 3, 3, 5, 6, 7, 1, 8, 2, 2, 4, 5, 6, 7, 8, 1};  // columns 3 and 4 boxed
    r.col_code[3] = -1;
    r.p.upper[3] = 2.0;
    r.p.s[3] = 0.0;
    r.p.w[3] = 1.0;
    r.p.s[4] = 0.0;
    const ClassedProblem before = r.p;
    run_fix(r, 1.0);
    EXPECT_EQ(r.columns, 2);
    const double f3 = 2.0;
    const double f4 = 3.0;
    const double half_fqf = 0.5 * (r.p.q(3, 3) * f3 * f3 + r.p.q(4, 4) * f4 * f4) + r.p.q(3, 4) * f3 * f4;
    EXPECT_NEAR(r.constant, 10.0 + before.cost[3] * f3 + before.cost[4] * f4 + half_fqf, 1e-13);
    for (int32_t i = 1; i <= 4; ++i) {
      EXPECT_NEAR(r.p.cost[i], before.cost[i] + r.p.q(i, 3) * f3 + r.p.q(i, 4) * f4, 1e-15) << i;
    }
  }
  // A vanished w drops the upper bound (code changes sign); a vanished slack dual removes the row.
  {
    FixResult r;
    r.p.w[4] = 1e-30;
    r.p.w[5] = 1e-30;
    r.p.z[6] = 1e-30;
    run_fix(r, 1.0);
    EXPECT_EQ(r.bounds, 2);
    EXPECT_EQ(r.col_code[4], 1);
    EXPECT_EQ(r.slack_code[1], 1);
    EXPECT_EQ(r.p.w[4], 0.0);
    EXPECT_EQ(r.state[6], -2);
    EXPECT_EQ(r.slacks, 1);
    EXPECT_EQ(r.removed_rows, 2);
    EXPECT_EQ(r.columns, 0);
  }
}

}  // namespace
