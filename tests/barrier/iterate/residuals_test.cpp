#include "barrier/iterate/residuals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "barrier/iterate/iterate_fixture.h"

namespace {

using kltest::ClassedProblem;

TEST(BarrierResiduals, RecomputedFromTheSameVectors) {
  ClassedProblem p;
  std::vector<double> qx(5), rp(5), ru(9), rd(9, 99.0);
  kl::multiply_quadratic_objective(p.params, p.quad_start.data(), p.quad_diag.data(), p.factor_value.data(),
                                   p.factor_index.data(), p.x.data(), qx.data());
  for (int32_t i = 1; i <= 4; ++i) {
    double expected = 0.0;
    for (int32_t j = 1; j <= 4; ++j) expected += p.q(i, j) * p.x[j];
    EXPECT_NEAR(qx[i], expected, 1e-15) << i;
  }

  double pinf = 0.0;
  kl::compute_primal_residual(p.params, p.x.data(), rp.data(), p.matrix_start.data(), p.matrix_end.data(),
                              p.factor_index.data(), p.factor_value.data(), p.rhs.data(), p.ranges.data(), pinf);
  double expected_norm = 0.0;
  for (int32_t i = 1; i <= 3; ++i) {
    double r = p.rhs[i];
    for (int32_t j = 2; j <= 4; ++j) r -= p.a(i, j) * p.x[j];
    if (i <= 2) r += p.x[4 + i];  // rows with a slack variable
    EXPECT_NEAR(rp[i], r, 1e-14) << i;
    expected_norm = std::max(expected_norm, std::fabs(r));
  }
  EXPECT_NEAR(pinf, expected_norm, 1e-14);

  double dinf = 0.0;
  kl::compute_dual_residual(p.params, p.y.data(), p.z.data(), p.w.data(), rd.data(), p.matrix_start.data(),
                            p.matrix_end.data(), p.factor_index.data(), p.factor_value.data(), p.cost.data(),
                            qx.data(), p.ranges.data(), dinf);
  std::vector<double> want(9, 0.0);
  for (int32_t j = 2; j <= 4; ++j) {
    want[j] = p.cost[j] + qx[j];
    for (int32_t i = 1; i <= 3; ++i) want[j] -= p.a(i, j) * p.y[i];
  }
  want[3] -= p.z[3];
  want[4] += -p.z[4] + p.w[4];
  want[5] = p.y[1] - p.z[5] + p.w[5];
  want[6] = p.y[2] - p.z[6];
  double dnorm = 0.0;
  for (int32_t j = 1; j <= 8; ++j) {
    EXPECT_NEAR(rd[j], want[j], 1e-14) << j;
    if (j >= 2 && j <= 6) dnorm = std::max(dnorm, std::fabs(want[j]));
  }
  EXPECT_NEAR(dinf, dnorm, 1e-14);

  double uinf = -1.0;
  kl::compute_upper_residual(p.params, p.x.data(), p.s.data(), ru.data(), p.upper.data(), p.ranges.data(), uinf);
  EXPECT_NEAR(ru[4], 3.0 - 1.2 - 1.7, 1e-15);
  EXPECT_NEAR(ru[5], 6.0 - 2.5 - 3.1, 1e-15);
  EXPECT_NEAR(uinf, 0.4, 1e-15);

  double primal = 0.0;
  double dual = 0.0;
  kl::compute_barrier_objectives(p.params, primal, dual, p.cost.data(), p.rhs.data(), p.upper.data(), p.x.data(),
                                 p.y.data(), p.w.data(), p.ranges.data());
  EXPECT_NEAR(primal, -1.0 * -0.7 + 2.0 * 0.9 + 0.5 * 1.2, 1e-15);
  EXPECT_NEAR(dual, 4.0 * 0.75 + -2.0 * -0.5 + 1.5 * 1.25 - 3.0 * 0.9 - 6.0 * 0.5, 1e-15);
  // With the quadratic term as the driver adds it: c'x + 0.5 x'Qx over the active columns.
  double xqx = 0.0;
  for (int32_t j = 2; j <= 4; ++j) xqx += p.x[j] * qx[j];
  double dense = 0.0;
  for (int32_t i = 2; i <= 4; ++i) {
    for (int32_t j = 2; j <= 4; ++j) dense += 0.5 * p.x[i] * p.q(i, j) * p.x[j];
  }
  // Q x includes the removed column's pair with column 3: x_1 is held by the driver at its fixed value.
  EXPECT_NEAR(primal + 0.5 * xqx, primal + dense + 0.5 * p.x[3] * p.q(1, 3) * p.x[1], 1e-14);
}

TEST(BarrierResiduals, LinearProblemHasNoQuadraticTerm) {
  ClassedProblem p;
  p.params.quad_col_count = 0;
  std::vector<double> qx(5, 7.0);
  kl::multiply_quadratic_objective(p.params, p.quad_start.data(), p.quad_diag.data(), p.factor_value.data(),
                                   p.factor_index.data(), p.x.data(), qx.data());
  for (int32_t j = 1; j <= 4; ++j) EXPECT_EQ(qx[j], 0.0);
}

TEST(BarrierResiduals, SmallEntriesAndTheFellBits) {
  // x = 0 and no slack terms make rp = b exactly.
  struct Case {
    double previous;
    std::vector<double> rhs;
    bool bit;
  };
  const std::vector<Case> cases = {
      {10.0, {0, 9.0, 0.0, 0.0, 0.0}, true},        // exactly 0.9 of the previous norm
      {9.9, {0, 9.0, 0.0, 0.0, 0.0}, false},        // above it
      {0.0, {0, 0.0, 0.0, 0.0, 0.0}, true},         // all zero, previous zero
      {0.0, {0, 1e-30, 0.0, 0.0, 0.0}, false},      // previous zero, anything above clears
      {20.0, {0, 9.0, 1e-14, -1e-14, 3.0}, true},   // tiny entries become 0; row 4 is removed
  };
  for (const Case& c : cases) {
    ClassedProblem p;
    p.rhs = c.rhs;
    std::fill(p.x.begin(), p.x.end(), 0.0);
    std::vector<double> rp(5, 99.0);
    double pinf = c.previous;
    p.params.iteration_flags = 0x1;
    kl::compute_primal_residual(p.params, p.x.data(), rp.data(), p.matrix_start.data(), p.matrix_end.data(),
                                p.factor_index.data(), p.factor_value.data(), p.rhs.data(), p.ranges.data(), pinf);
    EXPECT_EQ((p.params.iteration_flags & kl::kPrimalResidualFell) != 0, c.bit) << c.previous;
    EXPECT_EQ(p.params.iteration_flags & 0x1, 0x1);
    EXPECT_EQ(pinf, std::fabs(c.rhs[1]));
    EXPECT_EQ(rp[1], c.rhs[1]);
    EXPECT_EQ(rp[2], 0.0);
    EXPECT_EQ(rp[3], 0.0);
  }
  // Upper residual: entries within the floor of zero become +floor, whatever their sign.
  ClassedProblem p;
  std::vector<double> ru(9, 0.0);
  double uinf = 0.0;
  p.s[5] = 6.0 - 2.5;
  p.upper[5] = 6.0 + 2.0;       // ru = 2
  p.s[4] = 3.0 - 1.2 + 1e-12;   // ru = -1e-12, within the floor
  kl::compute_upper_residual(p.params, p.x.data(), p.s.data(), ru.data(), p.upper.data(), p.ranges.data(), uinf);
  EXPECT_NEAR(uinf, 2.0, 1e-15);
  EXPECT_EQ(ru[4], std::min(p.params.TOPT1, 1e-4) * uinf);
  // All zero: no floor.
  p.upper[5] = 6.0;
  p.x[4] = 1.25;
  p.s[4] = 1.75;
  p.x[5] = 2.5;
  p.s[5] = 3.5;
  kl::compute_upper_residual(p.params, p.x.data(), p.s.data(), ru.data(), p.upper.data(), p.ranges.data(), uinf);
  EXPECT_EQ(uinf, 0.0);
  EXPECT_EQ(ru[4], 0.0);
  EXPECT_EQ(ru[5], 0.0);
  // Dual residual: tiny entries raised to +floor, bit 0x400 by the same rule.
  ClassedProblem d;
  std::vector<double> qx(5, 0.0), rd(9, 0.0);
  d.cost = {0, 0.0, 1e-14, 0.0, 0.0};
  std::fill(d.y.begin(), d.y.end(), 0.0);
  std::fill(d.w.begin(), d.w.end(), 0.0);
  d.z = {0, 0, 0, -3.0, 0, 0, 0, 0, 0};
  double dinf = 3.0 / 0.9;
  kl::compute_dual_residual(d.params, d.y.data(), d.z.data(), d.w.data(), rd.data(), d.matrix_start.data(),
                            d.matrix_end.data(), d.factor_index.data(), d.factor_value.data(), d.cost.data(),
                            qx.data(), d.ranges.data(), dinf);
  EXPECT_EQ(dinf, 3.0);
  EXPECT_EQ(rd[3], 3.0);
  EXPECT_EQ(rd[2], std::min(d.params.TOPT1, 1e-4) * 3.0);
  EXPECT_EQ(rd[4], std::min(d.params.TOPT1, 1e-4) * 3.0);
  EXPECT_EQ(rd[7], 0.0);
  EXPECT_NE(d.params.iteration_flags & kl::kDualResidualFell, 0);
}

}  // namespace
