#include "barrier/iterate/search_direction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "barrier/iterate/step_lengths.h"
#include "direction_fixture.h"

namespace {

using kltest::Direction;
using kltest::DirectionProblem;
using kltest::NewtonResiduals;

struct CallResult {
  Direction d{DirectionProblem::s_, DirectionProblem::m};
  double mu = 0.0, alpha_p = 0.0, alpha_d = 0.0, complementarity = 0.0;
  double primal_tolerance = 0.0, dual_tolerance = 0.0;
  int32_t count = -1, steps = -1, flags = 0;
  std::vector<int32_t> var_state;
};

CallResult call(DirectionProblem& p, double mu_in, double total) {
  CallResult out;
  out.mu = mu_in;
  out.complementarity = total;
  out.primal_tolerance = p.sys.params.TRES1 * 0.3;
  out.dual_tolerance = p.sys.params.TRES1 * 0.3;
  out.var_state = p.var_state;
  std::vector<double> ru = p.ru;
  kl::compute_search_direction(
      p.sys.params, p.x.data(), p.s.data(), p.z.data(), p.w.data(), p.rp.data(), p.rd.data(), ru.data(),
      out.d.q_dx.data(), out.d.slack_diag.data(), out.d.q_x.data(), out.d.push_work.data(), out.d.dx.data(),
      out.d.dy.data(), out.d.dz.data(), out.d.dw.data(), p.upper.data(), p.order.data(), p.first.data(),
      p.last.data(), p.sys.fi(), p.sys.fv(), p.send.data(), p.smark.data(), out.var_state.data(), p.inverse.data(),
      p.diag_copy.data(), p.sys.matrix_start.data(), p.sys.matrix_end.data(), p.sys.quad_start.data(), out.mu,
      out.count, out.alpha_p, out.alpha_d, p.pair_count(), out.complementarity, p.ranges.data(),
      out.primal_tolerance, out.dual_tolerance, out.steps);
  out.flags = p.sys.params.iteration_flags;
  return out;
}

void expect_small(const NewtonResiduals& r, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_LT(r.dual_columns, 1e-9);
  EXPECT_LT(r.dual_slacks, 1e-9);
  EXPECT_LT(r.primal, 1e-9);
  EXPECT_LT(r.lower_pairs, 1e-9);
  EXPECT_LT(r.upper_pairs, 1e-9);
}

// The complementarity targets of the affine direction: -x z and -s w.
void affine_targets(const DirectionProblem& p, std::vector<double>& cl, std::vector<double>& cu, double mu) {
  cl.assign(DirectionProblem::s_ + 1, 0.0);
  cu = cl;
  for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j) cl[j] = mu - p.x[j] * p.z[j];
  for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j) cu[j] = mu - p.s[j] * p.w[j];
}

class SearchDirection : public ::testing::TestWithParam<bool> {};

// The predictor solves the affine Newton system, and the corrector the system
// with the centring term and the predictor's second-order products; each
// block is checked from the vectors.
TEST_P(SearchDirection, PredictorAndCorrectorSolveTheirNewtonEquations) {
  DirectionProblem p(GetParam());
  ASSERT_TRUE(p.failure.empty()) << p.failure;
  const double total = p.complementarity();

  p.sys.params.MAXCORR = 0;  // the predictor alone
  const CallResult pred = call(p, 0.0, total);
  EXPECT_EQ(pred.count, 0);
  std::vector<double> cl, cu;
  affine_targets(p, cl, cu, 0.0);
  expect_small(kltest::newton_residuals(p, pred.d.dx, pred.d.dy, pred.d.dz, pred.d.dw, p.rd, p.rp, p.ru, cl, cu),
               "predictor");
  // Its step lengths are the ratio test's for it.
  double ap = 0, ad = 0;
  kl::compute_max_step_lengths(p.sys.params, ap, p.x.data(), pred.d.dx.data(), p.s.data(), p.ru.data(), ad,
                               p.z.data(), pred.d.dz.data(), p.w.data(), pred.d.dw.data(), p.ranges.data());
  EXPECT_DOUBLE_EQ(pred.alpha_p, ap);
  EXPECT_DOUBLE_EQ(pred.alpha_d, ad);
  EXPECT_GT(pred.mu, 0.0);

  p.sys.params.MAXCORR = 1;
  p.sys.params.MINCORR = 1;  // the corrector is always kept
  const CallResult corr = call(p, 0.0, total);
  EXPECT_EQ(corr.count, 1);
  EXPECT_DOUBLE_EQ(corr.mu, pred.mu);
  for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j)
    cl[j] = corr.mu - p.x[j] * p.z[j] - pred.d.dx[j] * pred.d.dz[j];
  for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j)
    cu[j] = corr.mu - p.s[j] * p.w[j] - (p.ru[j] - pred.d.dx[j]) * pred.d.dw[j];
  expect_small(kltest::newton_residuals(p, corr.d.dx, corr.d.dy, corr.d.dz, corr.d.dw, p.rd, p.rp, p.ru, cl, cu),
               "corrector");
  // The average complementarity predicted for the corrected step.
  double predicted = 0.0;
  for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j)
    predicted += (p.x[j] + corr.alpha_p * corr.d.dx[j]) * (p.z[j] + corr.alpha_d * corr.d.dz[j]);
  for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j)
    predicted += (p.s[j] + corr.alpha_p * (p.ru[j] - corr.d.dx[j])) * (p.w[j] + corr.alpha_d * corr.d.dw[j]);
  EXPECT_NEAR(corr.complementarity, predicted / p.pair_count(), 1e-12 * total);
}

// A positive predictor parameter (INIBARR) enters the predictor's
// complementarity equations.
TEST_P(SearchDirection, PredictorWithABarrierTerm) {
  DirectionProblem p(GetParam());
  ASSERT_TRUE(p.failure.empty()) << p.failure;
  const double total = p.complementarity();
  p.sys.params.MAXCORR = 0;
  p.sys.params.INIBARR = 0.5;
  const double mu_in = 0.1;
  const CallResult pred = call(p, mu_in, total);
  const double mu_a = std::min(0.5 * total / p.pair_count(), p.sys.params.BARGROW * mu_in);
  std::vector<double> cl, cu;
  affine_targets(p, cl, cu, mu_a);
  expect_small(kltest::newton_residuals(p, pred.d.dx, pred.d.dy, pred.d.dz, pred.d.dw, p.rd, p.rp, p.ru, cl, cu),
               "predictor with mu");
}

// Refined and Krylov solves give the same directions as plain ones.
TEST_P(SearchDirection, RefinedSolvesSolveTheSameEquations) {
  for (const int32_t refmet : {1, 3, 5, 7}) {
    SCOPED_TRACE(refmet);
    DirectionProblem p(GetParam());
    ASSERT_TRUE(p.failure.empty()) << p.failure;
    p.sys.params.MAXCORR = 1;
    p.sys.params.MINCORR = 1;
    p.sys.params.REFMET = refmet;
    const CallResult plain_pred = [&] {
      DirectionProblem q(GetParam());
      q.sys.params.MAXCORR = 0;
      return call(q, 0.0, q.complementarity());
    }();
    const CallResult corr = call(p, 0.0, p.complementarity());
    EXPECT_EQ(corr.count, 1);
    std::vector<double> cl(DirectionProblem::s_ + 1, 0.0), cu(cl);
    for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j)
      cl[j] = corr.mu - p.x[j] * p.z[j] - plain_pred.d.dx[j] * plain_pred.d.dz[j];
    for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j)
      cu[j] = corr.mu - p.s[j] * p.w[j] - (p.ru[j] - plain_pred.d.dx[j]) * plain_pred.d.dw[j];
    const auto r = kltest::newton_residuals(p, corr.d.dx, corr.d.dy, corr.d.dz, corr.d.dw, p.rd, p.rp, p.ru, cl, cu);
    // The predictor solved with refinement agrees with the plain one to
    // rounding, so the second-order terms agree too.
    EXPECT_LT(std::max({r.dual_columns, r.dual_slacks, r.primal, r.lower_pairs, r.upper_pairs}), 1e-8);
    EXPECT_EQ(corr.flags & 0xf, 0);
  }
}

// Without refinement steps (MAXREF 0) the solves are plain and the Krylov
// fall-backs, which could take no step and would measure a reduced
// right-hand side that was never formed, are left out: the directions still
// solve their equations and no solve is reported as failing.
TEST_P(SearchDirection, NoRefinementStepsNoFallBacks) {
  DirectionProblem p(GetParam());
  ASSERT_TRUE(p.failure.empty()) << p.failure;
  p.sys.params.MAXREF = 0;
  p.sys.params.REFMET = 7;
  p.sys.params.MINCORR = 1;
  p.sys.params.MAXCORR = 0;
  const CallResult pred = call(p, 0.0, p.complementarity());
  std::vector<double> cl, cu;
  affine_targets(p, cl, cu, 0.0);
  expect_small(kltest::newton_residuals(p, pred.d.dx, pred.d.dy, pred.d.dz, pred.d.dw, p.rd, p.rp, p.ru, cl, cu),
               "predictor");
  EXPECT_EQ(pred.flags & (kl::kPredictorSolveGrew | kl::kCorrectorSolveGrew | kl::kCorrectorSolveMetTargets), 0);
  EXPECT_EQ(pred.steps, 0);
  p.sys.params.MAXCORR = 1;
  const CallResult corr = call(p, 0.0, p.complementarity());
  EXPECT_EQ(corr.count, 1);
  EXPECT_EQ(corr.flags & (kl::kPredictorSolveGrew | kl::kCorrectorSolveGrew | kl::kCorrectorSolveMetTargets), 0);
  for (int32_t j = p.ranges[2]; j <= p.ranges[13]; ++j)
    cl[j] = corr.mu - p.x[j] * p.z[j] - pred.d.dx[j] * pred.d.dz[j];
  for (int32_t j = p.ranges[3]; j <= p.ranges[12]; ++j)
    cu[j] = corr.mu - p.s[j] * p.w[j] - (p.ru[j] - pred.d.dx[j]) * pred.d.dw[j];
  expect_small(kltest::newton_residuals(p, corr.d.dx, corr.d.dy, corr.d.dz, corr.d.dw, p.rd, p.rp, p.ru, cl, cu),
               "corrector");
}

// The barrier parameter rule, case by case, against the predictor's own
// predicted complementarity and spread.
TEST_P(SearchDirection, BarrierParameterRule) {
  DirectionProblem base(GetParam());
  ASSERT_TRUE(base.failure.empty()) << base.failure;
  base.sys.params.MAXCORR = 0;
  const double total = base.complementarity();
  const int32_t pairs = base.pair_count();
  const CallResult pred = call(base, 0.0, total);
  double ga = 0.0, spread = 0.0;
  const auto& r = base.ranges;
  for (int32_t j = r[2]; j <= r[13]; ++j) {
    const double dx = pred.d.dx[j], dz = pred.d.dz[j];
    ga += (base.x[j] + pred.alpha_p * dx) * (base.z[j] + pred.alpha_d * dz);
    spread += base.x[j] * dz * dz / base.z[j] + base.z[j] * dx * dx / base.x[j];
  }
  for (int32_t j = r[3]; j <= r[12]; ++j) {
    const double ds = base.ru[j] - pred.d.dx[j], dw = pred.d.dw[j];
    ga += (base.s[j] + pred.alpha_p * ds) * (base.w[j] + pred.alpha_d * dw);
    spread += base.s[j] * dw * dw / base.w[j] + base.w[j] * ds * ds / base.s[j];
  }
  EXPECT_NEAR(pred.complementarity, ga / pairs, 1e-13);
  const double barset = base.sys.params.BARSET;
  const double bargrow = base.sys.params.BARGROW;
  // G is an input of the rule only (the affine predictor does not depend on
  // it), so the cases are set through it.
  const double g_small = spread / 1.15 * 0.5;  // spread > 1.15 G: the step branch
  const double g_large = spread / 1.15 * 2.0;  // spread <= 1.15 G: the centring branch
  const double mean_step = std::max((pred.alpha_p + pred.alpha_d) / 2.0, barset);
  struct Case {
    const char* name;
    double total, mu_in, barmin, bargrow, expected;
  };
  const double cube = ga * ga * ga;
  const std::vector<Case> cases = {
      {"G at TZER", 0.0, 1.0, 1e-15, bargrow, 0.0},
      {"step branch", g_small, 1.0, 1e-15, bargrow,
       std::min(cube / (g_small * g_small * pairs) / mean_step, g_small / pairs * bargrow * barset)},
      {"step branch, capped", g_small, 1.0, 1e-15, 1e-3,
       std::min(cube / (g_small * g_small * pairs) / mean_step, g_small / pairs * 1e-3 * barset)},
      {"centring branch", g_large, 1.0, 1e-15, bargrow,
       std::min(cube / (g_large * g_large * pairs), barset * g_large / pairs)},
      {"centring branch, growth cap", g_large, 1e-9, 1e-15, 10.0,
       std::min({cube / (g_large * g_large * pairs), barset * g_large / pairs, 10.0 * 1e-9})},
      {"centring branch, mu_prev from BARSET", g_large, 0.0, 1e-15, 1e-3,
       std::min({cube / (g_large * g_large * pairs), barset * g_large / pairs, 1e-3 * barset * g_large / pairs})},
      {"below BARMIN", g_large, 1.0, 1e3, bargrow, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DirectionProblem p(GetParam());
    p.sys.params.MAXCORR = 0;
    p.sys.params.BARMIN = c.barmin;
    p.sys.params.BARGROW = c.bargrow;
    const CallResult got = call(p, c.mu_in, c.total);
    EXPECT_NEAR(got.mu, c.expected, 1e-12 * std::max(c.expected, 1e-300));
    if (c.expected > 0.0) {
      EXPECT_GT(got.mu, 0.0);
    } else {
      EXPECT_EQ(got.mu, 0.0);
    }
  }
}

// The states of the pairs follow the faster-moving side; free columns 1,
// equality slacks 0.
TEST_P(SearchDirection, StatesOfThePairs) {
  DirectionProblem p(GetParam());
  ASSERT_TRUE(p.failure.empty()) << p.failure;
  p.sys.params.MAXCORR = 0;
  std::fill(p.var_state.begin(), p.var_state.end(), 7);
  const CallResult got = call(p, 0.0, p.complementarity());
  const auto& r = p.ranges;
  for (int32_t j = r[1]; j <= r[9]; ++j) EXPECT_EQ(got.var_state[j], 1);
  for (int32_t j = r[6]; j <= r[14]; ++j) EXPECT_EQ(got.var_state[j], 0);
  for (int32_t j = r[2]; j <= r[13]; ++j) {
    int32_t expected = std::fabs(got.d.dz[j]) * p.x[j] > std::fabs(got.d.dx[j]) * p.z[j] ? 1 : 0;
    if (j >= r[3] && j <= r[12] && expected == 1 &&
        std::fabs(got.d.dw[j]) * p.s[j] < std::fabs(p.ru[j] - got.d.dx[j]) * p.w[j])
      expected = 0;
    EXPECT_EQ(got.var_state[j], expected) << "position " << j;
  }
}

// A corrector that loses the step is dropped: with MINCORR 0 the predictor
// comes back with its own step lengths; with MINCORR -1 the pure centring
// direction (no second-order term) replaces it.
TEST_P(SearchDirection, RejectedCorrector) {
  DirectionProblem p0(GetParam());
  ASSERT_TRUE(p0.failure.empty()) << p0.failure;
  p0.sys.params.MAXCORR = 0;
  const CallResult pred = call(p0, 0.0, p0.complementarity());

  {
    DirectionProblem p(GetParam());
    p.sys.params.STOPCOR = 1e6;  // nothing is long enough
    p.sys.params.MINCORR = 0;
    const CallResult got = call(p, 0.0, p.complementarity());
    EXPECT_EQ(got.count, 0);
    EXPECT_EQ(got.alpha_p, pred.alpha_p);
    EXPECT_EQ(got.alpha_d, pred.alpha_d);
    for (int32_t j = 1; j <= DirectionProblem::s_; ++j) EXPECT_NEAR(got.d.dx[j], pred.d.dx[j], 1e-12);
    EXPECT_DOUBLE_EQ(got.complementarity, pred.complementarity);
  }
  {
    DirectionProblem p(GetParam());
    p.sys.params.STOPCOR = 1e6;
    p.sys.params.MINCORR = -1;
    const CallResult got = call(p, 0.0, p.complementarity());
    EXPECT_EQ(got.count, 1);  // the second pass is always kept
    std::vector<double> cl, cu;
    affine_targets(p, cl, cu, got.mu);
    expect_small(kltest::newton_residuals(p, got.d.dx, got.d.dy, got.d.dz, got.d.dw, p.rd, p.rp, p.ru, cl, cu),
                 "centring pass");
  }
}

INSTANTIATE_TEST_SUITE_P(LinearAndQuadratic, SearchDirection, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "QP" : "LP"; });

// The trial diagonal: its weights per class; a linear objective keeps the
// weight 1 whatever LSQWEIGHT holds.
TEST(TrialDiagonal, ClassWeights) {
  for (const bool quadratic : {false, true}) {
    SCOPED_TRACE(quadratic);
    DirectionProblem p(quadratic);
    std::vector<double> diag(DirectionProblem::s_ + 1, 99.0);
    double weight = 10.0;
    p.sys.params.SCFREE = 1e-6;
    kl::build_trial_diagonal(p.sys.params, p.ranges.data(), diag.data(), p.quad_diag.data(), weight, 1);
    const double omega = quadratic ? 10.0 * 2.0 : 1.0;
    EXPECT_DOUBLE_EQ(weight, omega);
    EXPECT_DOUBLE_EQ(diag[1], -1e-6 * omega);
    EXPECT_DOUBLE_EQ(diag[2], -omega);
    EXPECT_DOUBLE_EQ(diag[3], -omega);
    EXPECT_DOUBLE_EQ(diag[4], -2 * omega);
    EXPECT_DOUBLE_EQ(diag[6], 0.5 / omega);
    EXPECT_DOUBLE_EQ(diag[7], 1.0 / omega);
    EXPECT_DOUBLE_EQ(diag[8], 1e-6 / omega);
    weight = 10.0;
    kl::build_trial_diagonal(p.sys.params, p.ranges.data(), diag.data(), p.quad_diag.data(), weight, 0);
    EXPECT_DOUBLE_EQ(diag[9], 0.0);
  }
}

// The iteration diagonal: z/x (+ w/s) on the columns, stored negative; the
// free column from the regularisation level; x/z and 1/(z/x + w/s) on the
// slacks; the geometric mean of the moving columns as reference; the hard
// floor.
TEST(BarrierDiagonal, ClassEntriesAndFloors) {
  DirectionProblem p(false);
  const auto& prm = p.sys.params;
  const auto& d = p.diag_copy;
  EXPECT_DOUBLE_EQ(d[2], -p.z[2] / p.x[2]);
  EXPECT_DOUBLE_EQ(d[4], -(p.z[4] / p.x[4] + p.w[4] / p.s[4]));
  EXPECT_DOUBLE_EQ(d[7], p.x[7] / p.z[7]);
  EXPECT_DOUBLE_EQ(d[6], 1.0 / (p.z[6] / p.x[6] + p.w[6] / p.s[6]));
  const double mean = p.complementarity() / p.pair_count();
  const double level = std::min(1.0, std::sqrt(prm.SCFREE / mean)) * mean;
  double log_sum = 0.0;
  for (int32_t j = 2; j <= 5; ++j) log_sum += std::log(-d[j]);
  const double reference = std::exp(log_sum / 4);
  EXPECT_DOUBLE_EQ(d[1], -std::min(level / (p.x[1] * p.x[1] + 1.0), reference));
  // Equality rows: regularised to at least SCEQU times the diagonal of
  // A |D|^-1 A'.
  for (int32_t i = 3; i <= 4; ++i) {
    double rho = 0.0;
    for (int32_t j = 1; j <= 5; ++j) rho += p.A[i][j] * p.A[i][j] / std::fabs(d[j]);
    const double expected = std::max(std::min(level / (p.y[i] * p.y[i] + 1.0), prm.SCFREE), prm.SCEQU * rho);
    EXPECT_DOUBLE_EQ(d[5 + i], expected);
    EXPECT_DOUBLE_EQ(p.slack_diag[i], expected);
  }

  // No column moving: reference 1; a tiny z/x is raised to the hard floor.
  std::vector<int32_t> still(DirectionProblem::s_ + 1, 0);
  std::vector<double> z = p.z, diag(DirectionProblem::s_ + 1), rho(DirectionProblem::m + 1);
  z[2] = 1e-30;
  kl::barrier_params params = prm;
  params.SOFTREG = 1e-12;
  params.HARDREG = -1e-20;  // fixed magnitude
  kl::build_barrier_diagonal(params, p.x.data(), p.y.data(), p.s.data(), z.data(), p.w.data(), p.ranges.data(),
                             diag.data(), still.data(), mean, std::min(mean, 1.0), 0, p.sys.matrix_start.data(),
                             p.sys.matrix_end.data(), p.sys.fi(), p.sys.fv(), rho.data());
  EXPECT_DOUBLE_EQ(diag[2], -1e-20);
  EXPECT_DOUBLE_EQ(diag[1], -std::min(level / (p.x[1] * p.x[1] + 1.0), 1.0));
  EXPECT_DOUBLE_EQ(diag[8], 0.0);  // flag 0: equality rows unregularised
  EXPECT_DOUBLE_EQ(rho[3], 0.0);
  // Between the floors: sqrt(d * soft), soft = SOFTREG * reference (1).
  z[2] = 1e-13 * p.x[2];
  kl::build_barrier_diagonal(params, p.x.data(), p.y.data(), p.s.data(), z.data(), p.w.data(), p.ranges.data(),
                             diag.data(), still.data(), mean, std::min(mean, 1.0), 0, p.sys.matrix_start.data(),
                             p.sys.matrix_end.data(), p.sys.fi(), p.sys.fv(), rho.data());
  EXPECT_NEAR(diag[2], -std::sqrt(1e-13 * 1e-12), 1e-20);
}

}  // namespace
