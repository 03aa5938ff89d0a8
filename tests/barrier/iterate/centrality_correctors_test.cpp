#include "barrier/iterate/centrality_correctors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "barrier/iterate/search_direction.h"
#include "barrier/iterate/step_lengths.h"
#include "direction_fixture.h"

namespace {

using kltest::Direction;
using kltest::DirectionProblem;

TEST(CentralityTarget, Band) {
  kl::barrier_params p;
  kl::set_barrier_defaults(p);  // TSMALL 0.2, TLARGE 20, CENTER 5
  const double mu = 2.0;
  struct Case {
    double product, expected;
  };
  for (const Case& c : std::vector<Case>{{0.0, 2.0},
                                         {0.1, 1.9},
                                         {0.4, 1.6},   // at TSMALL mu: pulled up to mu
                                         {0.41, 0.0},  // inside the band: nothing
                                         {39.9, 0.0},
                                         {40.0, -10.0},  // at TLARGE mu: a fixed pull of CENTER mu
                                         {1e6, -10.0}}) {
    EXPECT_DOUBLE_EQ(kl::centrality_target(p, c.product, mu), c.expected) << c.product;
  }
}

// The direction of one search-direction call, then the correctors on it.
struct CorrectorRun {
  DirectionProblem p;
  Direction d{DirectionProblem::s_, DirectionProblem::m};
  Direction before{DirectionProblem::s_, DirectionProblem::m};
  double mu = 0.0, alpha_p = 0.0, alpha_d = 0.0, primal_tolerance = 0.0, dual_tolerance = 0.0;
  int32_t steps = 0, count = -1;
  std::vector<double> ru;

  explicit CorrectorRun(bool quadratic) : p(quadratic) {
    std::vector<int32_t> state = p.var_state;
    ru = p.ru;
    double total = p.complementarity();
    int32_t kept = 0;
    kl::compute_search_direction(p.sys.params, p.x.data(), p.s.data(), p.z.data(), p.w.data(), p.rp.data(),
                                 p.rd.data(), ru.data(), d.q_dx.data(), d.slack_diag.data(), d.q_x.data(),
                                 d.push_work.data(), d.dx.data(), d.dy.data(), d.dz.data(), d.dw.data(),
                                 p.upper.data(), p.order.data(), p.first.data(), p.last.data(), p.sys.fi(),
                                 p.sys.fv(), p.send.data(), p.smark.data(), state.data(), p.inverse.data(),
                                 p.diag_copy.data(), p.sys.matrix_start.data(), p.sys.matrix_end.data(),
                                 p.sys.quad_start.data(), mu, kept, alpha_p, alpha_d, p.pair_count(), total,
                                 p.ranges.data(), primal_tolerance, dual_tolerance, steps);
    before = d;
  }
  void run() {
    kl::apply_centrality_correctors(
        p.sys.params, p.x.data(), p.s.data(), p.z.data(), p.w.data(), ru.data(), d.q_dx.data(),
        d.slack_diag.data(), d.q_x.data(), d.push_work.data(), d.dx.data(), d.dy.data(), d.dz.data(),
        d.dw.data(), p.upper.data(), p.order.data(), p.first.data(), p.last.data(), p.sys.fi(), p.sys.fv(),
        p.send.data(), p.smark.data(), p.inverse.data(), p.diag_copy.data(), p.sys.matrix_start.data(),
        p.sys.matrix_end.data(), p.sys.quad_start.data(), mu, count, alpha_p, alpha_d, p.ranges.data(),
        primal_tolerance, dual_tolerance, steps);
  }
  bool unchanged() const {
    return d.dx == before.dx && d.dz == before.dz && d.dw == before.dw &&
           std::vector<double>(d.dy.begin(), d.dy.end()) == before.dy;
  }
};

class Correctors : public ::testing::TestWithParam<bool> {};

TEST_P(Correctors, NoneAllowed) {
  CorrectorRun c(GetParam());
  ASSERT_TRUE(c.p.failure.empty()) << c.p.failure;
  c.p.sys.params.MAXCCORR = 0;
  const double ap = c.alpha_p, ad = c.alpha_d;
  c.run();
  EXPECT_EQ(c.count, 0);
  EXPECT_TRUE(c.unchanged());
  EXPECT_EQ(c.alpha_p, ap);
  EXPECT_EQ(c.alpha_d, ad);
}

// Step lengths beyond what any ratio test gives: every corrector shortens
// the smaller step, so the first is dropped and the incoming direction and
// step lengths stay.
TEST_P(Correctors, ShorterStepIsDropped) {
  CorrectorRun c(GetParam());
  ASSERT_TRUE(c.p.failure.empty()) << c.p.failure;
  c.alpha_p = c.alpha_d = 2.0;
  c.run();
  EXPECT_EQ(c.count, 0);
  EXPECT_TRUE(c.unchanged());
  EXPECT_EQ(c.alpha_p, 2.0);
  EXPECT_EQ(c.alpha_d, 2.0);
}

// Correctors up to MINCCORR are kept whatever they do; the kept direction
// adds a correction that solves the Newton system with zero residuals and
// the band targets of the products at the enlarged steps.
TEST_P(Correctors, KeptCorrectionSolvesTheCentringSystem) {
  CorrectorRun c(GetParam());
  ASSERT_TRUE(c.p.failure.empty()) << c.p.failure;
  c.p.sys.params.MINCCORR = 1;
  c.p.sys.params.MAXCCORR = 1;
  c.alpha_p = 0.3;
  c.alpha_d = 0.5;
  c.run();
  EXPECT_EQ(c.count, 1);
  const DirectionProblem& p = c.p;
  const auto& prm = p.sys.params;
  const double reach_p = std::min(1.0, (1 + prm.TARGET) * 0.3 + prm.TARGET);
  const double reach_d = std::min(1.0, (1 + prm.TARGET) * 0.5 + prm.TARGET);
  const int32_t s_ = DirectionProblem::s_;
  std::vector<double> cl(s_ + 1, 0.0), cu(s_ + 1, 0.0), zero(s_ + 1, 0.0);
  std::vector<double> ddx(s_ + 1), ddz(s_ + 1), ddw(s_ + 1), ddy(DirectionProblem::m + 1);
  int32_t targeted = 0;
  for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j) {
    cl[j] = kl::centrality_target(
        prm, (p.x[j] + reach_p * c.before.dx[j]) * (p.z[j] + reach_d * c.before.dz[j]), c.mu);
    targeted += cl[j] != 0.0;
  }
  for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j) {
    cu[j] = kl::centrality_target(
        prm, (p.s[j] + reach_p * (c.ru[j] - c.before.dx[j])) * (p.w[j] + reach_d * c.before.dw[j]), c.mu);
    targeted += cu[j] != 0.0;
  }
  EXPECT_GT(targeted, 0);
  for (int32_t j = 1; j <= s_; ++j) {
    ddx[j] = c.d.dx[j] - c.before.dx[j];
    ddz[j] = c.d.dz[j] - c.before.dz[j];
    ddw[j] = c.d.dw[j] - c.before.dw[j];
  }
  for (int32_t i = 1; i <= DirectionProblem::m; ++i) ddy[i] = c.d.dy[i] - c.before.dy[i];
  // The correction's free-column dz is 0 and the dual check adds -z there:
  // compare against a problem copy with z 0 on the free column (it is).
  const auto r = kltest::newton_residuals(p, ddx, ddy, ddz, ddw, zero, std::vector<double>(5, 0.0), zero, cl, cu);
  EXPECT_LT(std::max({r.dual_columns, r.dual_slacks, r.primal, r.lower_pairs, r.upper_pairs}), 1e-8);
  // The step lengths returned are the ratio test's of the kept direction.
  double ap = 0, ad = 0;
  kl::compute_max_step_lengths(prm, ap, p.x.data(), c.d.dx.data(), p.s.data(), c.ru.data(), ad, p.z.data(),
                               c.d.dz.data(), p.w.data(), c.d.dw.data(), p.ranges.data());
  EXPECT_EQ(c.alpha_p, ap);
  EXPECT_EQ(c.alpha_d, ad);
}

// A gain in the smaller step below CORSTOP keeps the corrector and ends the
// sequence.
TEST_P(Correctors, SmallGainIsKeptAndEnds) {
  CorrectorRun c(GetParam());
  ASSERT_TRUE(c.p.failure.empty()) << c.p.failure;
  c.p.sys.params.MAXCCORR = 5;
  c.p.sys.params.CORSTOP = 1e9;
  c.alpha_p = c.alpha_d = 1e-9;
  c.run();
  EXPECT_EQ(c.count, 1);
  EXPECT_FALSE(c.unchanged());
  EXPECT_GE(std::min(c.alpha_p, c.alpha_d), 1e-9);
}

// A solve that stops short of its (unreachable) targets ends the correctors
// without using it: nothing is counted and nothing changes.
TEST_P(Correctors, InaccurateSolveEndsThem) {
  CorrectorRun c(GetParam());
  ASSERT_TRUE(c.p.failure.empty()) << c.p.failure;
  c.p.sys.params.MAXCCORR = 3;
  c.p.sys.params.MAXREF = 1;
  c.p.sys.params.REFMET = 1;
  c.p.sys.params.TSMALL = 0.999;  // every product gets a target: a right-hand side that is not zero
  c.p.sys.params.TLARGE = 1.001;
  c.steps = 1;  // the last solve refined: these refine too
  c.primal_tolerance = c.dual_tolerance = -1e-300;  // fixed, unreachable
  // K no longer the factor's matrix: no solve is exact.
  for (double& e : c.p.diag_copy) e *= 1.001;
  const double ap = c.alpha_p, ad = c.alpha_d;
  c.run();
  EXPECT_GE(c.steps, 2);
  EXPECT_EQ(c.count, 0);
  EXPECT_TRUE(c.unchanged());
  EXPECT_EQ(c.alpha_p, ap);
  EXPECT_EQ(c.alpha_d, ad);
}

INSTANTIATE_TEST_SUITE_P(LinearAndQuadratic, Correctors, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "QP" : "LP"; });

}  // namespace
