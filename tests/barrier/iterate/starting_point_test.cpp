// The barrier's starting points on a small LP in class order: two
// lower-bounded columns, a boxed column, a boxed slack, a lower-bounded
// slack and an equality row, analysed and factorised by the barrier's own
// routines.
#include "barrier/iterate/starting_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/ordering/ordering_driver.h"
#include "support/barrier_solve_paths.h"
#include "support/barrier_system.h"

namespace {

using kltest::SparseColumns;

// Positions: 1, 2 lower columns, 3 boxed column, 4 boxed slack, 5 lower
// slack, 6 equality slack.
struct StartProblem {
  kltest::BarrierSystem sys;
  std::vector<int32_t> cr = {0, 1, 1, 3, 4, 5, 6, 1, 7, 0, 2, 3, 4, 5, 6, 6, 0};
  std::vector<double> cost{0, 1.0, 2.0, -1.0};
  std::vector<double> rhs{0, 2.0, 1.0, 3.0};
  std::vector<double> upper{0, 0, 0, 4.0, 5.0, 0, 0};
  std::vector<double> dense[4];  // dense[i][j]: row i, column j
  std::vector<int32_t> order, rank, first, last, send, smark, lists, cursor, scratch;
  std::vector<double> inverse, push_work;
  bool ready = false;

  static SparseColumns matrix() {
    SparseColumns a;
    a.rows_count = 3;
    a.cols_count = 3;
    a.starts = {0, 2, 4, 6};
    a.rows = {0, 1, 0, 2, 1, 2};
    a.values = {1.0, 1.0, 1.0, 1.0, 2.0, 1.0};
    return a;
  }

  StartProblem() : sys(kltest::make_barrier_system(matrix(), nullptr, 4000)) {
    for (auto& row : dense) row.assign(4, 0.0);
    dense[1][1] = 1;
    dense[2][1] = 1;
    dense[1][2] = 1;
    dense[3][2] = 1;
    dense[2][3] = 2;
    dense[3][3] = 1;
    const int32_t s = 6;
    sys.params.PUSHFACT = 0;
    sys.params.SETLAM = -1;
    sys.params.LAM = 1.0;
    std::vector<int32_t> node, pstart, pend, dense_mark;
    int32_t status = 0;
    const int32_t kind = kltest::run_find_dense_columns(sys, cr, node, pstart, pend, dense_mark, status);
    if (status != 0 || kind != kl::SYSTEM_NORMAL_EQUATIONS) return;
    std::vector<int32_t> work(static_cast<size_t>(kl::analysis_work_ints(sys.params)) + 1);
    std::vector<double> value_work(static_cast<size_t>(kl::analysis_value_work_doubles(sys.params)) + 1);
    order.assign(s + 2, 0);
    rank.assign(s + 2, 0);
    first.assign(s + 2, 0);
    last.assign(s + 2, 0);
    send.assign(s + 2, 0);
    smark.assign(s + 2, 0);
    kl::symbolic_counts counts;
    kl::analyse_normal_equations(sys.params, kl::SYSTEM_NORMAL_EQUATIONS, sys.var_state.data(),
                                 sys.matrix_start.data(), sys.matrix_end.data(), pstart.data(), pend.data(),
                                 node.data(), sys.quad_start.data(), sys.fi(), sys.fv(), work.data(),
                                 value_work.data(), sys.params.TFIND, order.data(), rank.data(), first.data(),
                                 last.data(), counts, status);
    if (status != 0) return;
    kl::block_supernodes_for_cache(sys.params, first.data(), last.data(), sys.fi(), order.data(), send.data(),
                                   rank.data(), smark.data());
    lists.assign(2 * s + 2, 0);
    cursor.assign(s + 2, 0);
    scratch.assign(s + 2, 0);
    inverse.assign(s + 2, 0.0);
    push_work.assign(s + 2, 0.0);
    ready = true;
  }

  kl::FactorArrays factor() {
    return kl::FactorArrays{sys.fi(),          sys.fv(),        first.data(),  last.data(),
                            order.data(),      rank.data(),     inverse.data(), nullptr,
                            nullptr,           nullptr,         nullptr,       lists.data(),
                            cursor.data(),     send.data(),     smark.data(),  sys.matrix_start.data(),
                            sys.quad_start.data(), scratch.data(), push_work.data()};
  }

  // Factorises the given diagonal; diag comes back with the inverse pivots.
  void factorise(std::vector<double>& diag, const std::vector<double>& diag_copy, const std::vector<double>& y) {
    int32_t dropped = 0, removed = 0;
    kl::factor_normal_matrix(sys.params, sys.fi(), sys.fv(), first.data(), last.data(), order.data(), rank.data(),
                             inverse.data(), diag.data(), diag_copy.data(), y.data(), sys.var_state.data(),
                             lists.data(), cursor.data(), send.data(), smark.data(), dropped, removed);
  }

  double a_row(int32_t i, const std::vector<double>& x) const {
    double t = 0;
    for (int32_t j = 1; j <= 3; ++j) t += dense[i][j] * x[j];
    return t;
  }
  double a_col(int32_t j, const std::vector<double>& y) const {
    double t = 0;
    for (int32_t i = 1; i <= 3; ++i) t += dense[i][j] * y[i];
    return t;
  }
};

// Every value of a complementarity pair is positive.
void expect_interior(const std::vector<double>& x, const std::vector<double>& s, const std::vector<double>& z,
                     const std::vector<double>& w, const char* what) {
  for (int32_t j = 1; j <= 5; ++j) {
    EXPECT_GT(x[j], 0.0) << what << " x" << j;
    EXPECT_GT(z[j], 0.0) << what << " z" << j;
  }
  for (int32_t j = 3; j <= 4; ++j) {
    EXPECT_GT(s[j], 0.0) << what << " s" << j;
    EXPECT_GT(w[j], 0.0) << what << " w" << j;
  }
}

TEST(BarrierStartingPoint, DiagonalOfTheStart) {
  StartProblem p;
  std::vector<double> x{0, 2.0, 0.5, 1.0, 3.0, 4.0, 0}, s{0, 0, 0, 2.0, 4.0, 0, 0}, diag(7), copy(7);
  p.sys.params.REGULARIZE = 1;
  kl::build_starting_diagonal(p.sys.params, x.data(), s.data(), p.cr.data(), diag.data(), copy.data(), 1);
  EXPECT_DOUBLE_EQ(diag[1], -0.25);
  EXPECT_DOUBLE_EQ(diag[2], -4.0);
  EXPECT_DOUBLE_EQ(diag[3], -1.0 - 0.25);
  EXPECT_DOUBLE_EQ(diag[4], 1.0 / (1.0 / 16 + 1.0 / 9));
  EXPECT_DOUBLE_EQ(diag[5], 16.0);
  EXPECT_DOUBLE_EQ(diag[6], std::fabs(p.sys.params.SCFREE));
  for (int32_t j = 1; j <= 6; ++j) EXPECT_EQ(diag[j], copy[j]);
  kl::build_starting_diagonal(p.sys.params, x.data(), s.data(), p.cr.data(), diag.data(), copy.data(), 0);
  EXPECT_EQ(diag[6], 0.0);
}

// With zero primal residuals the solve gives duals that satisfy the dual
// equations exactly, and y minimises the weighted distance of the products
// from mu: the sum of squares is stationary in every direction of y.
TEST(BarrierStartingPoint, LeastSquaresDuals) {
  StartProblem p;
  ASSERT_TRUE(p.ready);
  const double mu = 0.7;
  std::vector<double> x{0, 2.0, 0.5, 1.0, 3.0, 4.0, 0}, s{0, 0, 0, 2.0, 4.0, 0, 0};
  std::vector<double> diag(7), copy(7), y(4, 1.0), rp(4, 0.0), ru(7, 0.0), rd(7, 0.0);
  kl::build_starting_diagonal(p.sys.params, x.data(), s.data(), p.cr.data(), diag.data(), copy.data(), 0);
  p.factorise(diag, copy, y);
  for (int32_t j = 1; j <= 3; ++j) rd[j] = p.cost[j];
  std::vector<double> v(7), saved(7), scratch(7), upper_scratch(7), z(7), w(7);
  kl::solve_starting_system(p.sys.params, x.data(), s.data(), rp.data(), ru.data(), v.data(), p.upper.data(),
                            rd.data(), p.factor(), diag.data(), copy.data(), p.sys.matrix_end.data(), mu, z.data(),
                            w.data(), y.data(), saved.data(), scratch.data(), upper_scratch.data(), p.cr.data());
  // Dual equations.
  for (int32_t j = 1; j <= 3; ++j) EXPECT_NEAR(z[j] - w[j], p.cost[j] - p.a_col(j, y), 1e-9) << j;
  for (int32_t i = 1; i <= 2; ++i) EXPECT_NEAR(z[3 + i] - w[3 + i], y[i], 1e-9) << i;
  EXPECT_EQ(w[1], 0.0);
  EXPECT_EQ(w[5], 0.0);

  // The products' distance from mu as a function of y alone (each boxed
  // pair's split of z - w is the one of least weighted size).
  auto distance = [&](const std::vector<double>& yy) {
    double f = 0;
    auto lower = [&](double xj, double r) { f += (xj * r - mu) * (xj * r - mu); };
    auto boxed = [&](double xj, double sj, double r) {
      const double v = (mu / xj - mu / sj - r) / (1 / (xj * xj) + 1 / (sj * sj));
      const double zz = mu / xj - v / (xj * xj), ww = mu / sj + v / (sj * sj);
      f += (xj * zz - mu) * (xj * zz - mu) + (sj * ww - mu) * (sj * ww - mu);
    };
    lower(x[1], p.cost[1] - p.a_col(1, yy));
    lower(x[2], p.cost[2] - p.a_col(2, yy));
    boxed(x[3], s[3], p.cost[3] - p.a_col(3, yy));
    boxed(x[4], s[4], yy[1]);
    lower(x[5], yy[2]);
    return f;
  };
  const double f0 = distance(y);
  for (int32_t i = 1; i <= 3; ++i) {
    for (double h : {1e-3, -1e-3, 0.1}) {
      std::vector<double> yy = y;
      yy[i] += h;
      EXPECT_GE(distance(yy), f0 - 1e-12) << i << " " << h;
    }
  }
}

TEST(BarrierStartingPoint, WeightedLeastSquaresStartIsInterior) {
  for (double start : {0.0, -3.0, 50.0}) {
    StartProblem p;
    ASSERT_TRUE(p.ready);
    std::vector<double> x(7, 0.0), s(7, 0.0), z(7, 0.0), w(7, 0.0), y(4, 0.0);
    for (int32_t j = 1; j <= 3; ++j) x[j] = start;
    std::vector<double> diag(7), copy(7), rp(4), ru(7), rd(7), dx(7), qdx(7), dz(7), dw(7), qd(4, 0.0);
    int32_t removed = 0;
    p.sys.params.SMETHOD = 0;
    kl::compute_starting_point(p.sys.params, p.cost.data(), p.rhs.data(), p.upper.data(), diag.data(), copy.data(),
                               x.data(), s.data(), z.data(), w.data(), y.data(), rp.data(), ru.data(), rd.data(),
                               p.sys.matrix_end.data(), p.factor(), p.sys.var_state.data(), dx.data(), qdx.data(),
                               dz.data(), dw.data(), kl::SYSTEM_NORMAL_EQUATIONS, p.cr.data(),
                               p.sys.quad_start.data(), qd.data(), 0, removed);
    expect_interior(x, s, z, w, "least squares");
    // The products end within the centring limits of each other.
    double lo = 1e300, hi = 0;
    for (int32_t j = 1; j <= 5; ++j) {
      lo = std::min(lo, x[j] * z[j]);
      hi = std::max(hi, x[j] * z[j]);
    }
    for (int32_t j = 3; j <= 4; ++j) {
      lo = std::min(lo, s[j] * w[j]);
      hi = std::max(hi, s[j] * w[j]);
    }
    EXPECT_GT(lo, 0.0);
    EXPECT_EQ(p.sys.params.quad_col_count, 0);
  }
}

// The minimum-norm start from the trial factor, under each safeguard.
struct AlternativeRun {
  std::vector<double> x = std::vector<double>(7, 0.0), s = x, z = x, w = x, y = std::vector<double>(4, 0.0);
};

AlternativeRun run_alternative(int32_t smethod, int32_t safemet, double prmin, double dumin, double complmin,
                               double upmax = 50000.0, double upper_column = 4.0, double upper_slack = 5.0) {
  StartProblem p;
  AlternativeRun out;
  if (!p.ready) return out;
  p.upper[3] = upper_column;
  p.upper[4] = upper_slack;
  // The trial diagonal of a linear problem (weight 1).
  std::vector<double> diag{0, -1.0, -1.0, -2.0, 0.5, 1.0, 0.0}, copy = diag, y0(4, 0.0);
  p.factorise(diag, copy, y0);
  p.sys.params.SMETHOD = smethod;
  p.sys.params.SAFEMET = safemet;
  p.sys.params.PRMIN = prmin;
  p.sys.params.DUMIN = dumin;
  p.sys.params.COMPLMIN = complmin;
  p.sys.params.UPMAX = upmax;
  std::vector<double> work(7), qd(4, 0.0);
  kl::compute_alternative_starting_point(p.sys.params, out.x.data(), out.s.data(), out.y.data(), out.z.data(),
                                         out.w.data(), p.rhs.data(), p.cost.data(), p.upper.data(),
                                         p.sys.matrix_start.data(), p.sys.matrix_end.data(), p.sys.fi(), p.sys.fv(),
                                         p.first.data(), p.last.data(), p.order.data(), p.send.data(),
                                         p.smark.data(), diag.data(), work.data(), p.cr.data(), 1.0, qd.data(),
                                         p.sys.quad_start.data());
  return out;
}

TEST(BarrierStartingPoint, AlternativeStartIsInteriorUnderEverySafeguard) {
  for (int32_t smethod : {1, 2}) {
    for (int32_t safemet : {-5, -3, -2, -1, 0, 1, 2, 3, 5}) {
      const AlternativeRun r = run_alternative(smethod, safemet, 150.0, 150.0, 0.001);
      expect_interior(r.x, r.s, r.z, r.w, (std::to_string(smethod) + "/" + std::to_string(safemet)).c_str());
    }
  }
}

TEST(BarrierStartingPoint, CostDualsWithMethodOne) {
  // Shifts only (no lift: the products are all about the same).
  const AlternativeRun r = run_alternative(1, -1, 150.0, 150.0, 0.0);
  for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(r.y[i], 0.0);
  // z - c is one shift on the lower-bounded columns; the boxed column's
  // cost is halved between z and w, each shifted alike; slacks start at the
  // shift.
  const StartProblem p;
  const double shift = r.z[1] - p.cost[1];
  EXPECT_GE(shift, 150.0);
  EXPECT_NEAR(r.z[2] - p.cost[2], shift, 1e-12);
  EXPECT_NEAR(r.z[3] - p.cost[3] / 2, shift, 1e-12);
  EXPECT_NEAR(r.w[3] + p.cost[3] / 2, shift, 1e-12);
  EXPECT_NEAR(r.z[4], shift, 1e-12);
  EXPECT_NEAR(r.w[4], shift, 1e-12);
}

// SAFEMET -3 shifts every pair by the values of the formula, computed here
// from the unguarded point (floors far below every value).
TEST(BarrierStartingPoint, ShiftOfTheDefaultSafeguard) {
  const AlternativeRun raw = run_alternative(2, 1, -1e30, -1e30, -1e300);
  const AlternativeRun got = run_alternative(2, -3, 150.0, 150.0, 0.0);
  double min_p = 1e35, min_d = 1e35;
  for (int32_t j = 1; j <= 5; ++j) {
    min_p = std::min(min_p, raw.x[j]);
    min_d = std::min(min_d, raw.z[j]);
  }
  for (int32_t j = 3; j <= 4; ++j) {
    min_p = std::min(min_p, raw.s[j]);
    min_d = std::min(min_d, raw.w[j]);
  }
  const double dp = std::max(-1.5 * min_p, 0.001), dd = std::max(-1.5 * min_d, 0.001);
  double prod = 0, sp = 0, sd = 0;
  for (int32_t j = 1; j <= 5; ++j) {
    prod += (raw.x[j] + dp) * (raw.z[j] + dd);
    sp += raw.x[j] + dp;
    sd += raw.z[j] + dd;
  }
  for (int32_t j = 3; j <= 4; ++j) {
    prod += (raw.s[j] + dp) * (raw.w[j] + dd);
    sp += raw.s[j] + dp;
    sd += raw.w[j] + dd;
  }
  const double pb = dp + prod / (2 * sd), db = dd + prod / (2 * sp);
  for (int32_t j = 1; j <= 5; ++j) {
    EXPECT_NEAR(got.x[j], raw.x[j] + pb, 1e-9 * (1 + pb)) << j;
    EXPECT_NEAR(got.z[j], raw.z[j] + db, 1e-9 * (1 + db)) << j;
  }
  for (int32_t j = 3; j <= 4; ++j) {
    EXPECT_NEAR(got.s[j], raw.s[j] + pb, 1e-9 * (1 + pb)) << j;
    EXPECT_NEAR(got.w[j], raw.w[j] + db, 1e-9 * (1 + db)) << j;
  }
  // The unguarded point is the minimum-norm one: it satisfies the rows.
  StartProblem p;
  for (int32_t i = 1; i <= 3; ++i) {
    const double slack = i == 3 ? 0.0 : raw.x[3 + i];
    EXPECT_NEAR(p.a_row(i, raw.x) - slack, p.rhs[i], 1e-9) << i;
  }
}

TEST(BarrierStartingPoint, CentringOfProducts) {
  // No pairs: returns at once.
  std::vector<int32_t> none = {0, 1, 2, 2, 2, 2, 2, 1, 3, 1, 1, 1, 1, 1, 2, 2, 0};
  kl::barrier_params params;
  kl::set_barrier_defaults(params);
  params.col_count = 1;
  params.row_count = 1;
  params.var_count = 2;
  std::vector<double> x{0, 5, 0}, s(3, 0.0), z{0, 7, 0}, w(3, 0.0);
  double ratio = 1e-4;
  kl::centre_starting_products(params, ratio, 1e-3, 1e3, x.data(), s.data(), z.data(), w.data(), none.data());
  EXPECT_EQ(x[1], 5.0);
  EXPECT_EQ(ratio, 1e-4);
  // One product far below the others: its smaller factor is raised.
  StartProblem p;
  std::vector<double> xx{0, 1, 1, 1, 1, 1e-9, 0}, ss{0, 0, 0, 1, 1, 0, 0}, zz{0, 1, 1, 1, 1, 1, 0}, ww = ss;
  double r = 1e-4;
  kl::centre_starting_products(p.sys.params, r, 1e-3, 1e3, xx.data(), ss.data(), zz.data(), ww.data(), p.cr.data());
  EXPECT_GT(xx[5] * zz[5], 1e-4);
  EXPECT_EQ(zz[5], 1.0);
}

}  // namespace

namespace {

// A fixed shift (|SAFEMET| other than 3) smaller than the most negative
// value still gives an interior start: the shift grows by that value.
TEST(BarrierStartingPoint, FixedShiftClearsNegativeValues) {
  const AlternativeRun raw = run_alternative(2, 1, -1e30, -1e30, -1e300);
  double min_value = 0;
  for (int32_t j = 1; j <= 5; ++j) min_value = std::min({min_value, raw.x[j], raw.z[j]});
  ASSERT_LT(min_value, -1e-3) << "the unguarded start must have a negative value for this test";
  for (int32_t safemet : {-1, -2, -4, -5}) {
    const AlternativeRun r = run_alternative(2, safemet, 1e-3, 1e-3, 0.0);
    expect_interior(r.x, r.s, r.z, r.w, std::to_string(safemet).c_str());
  }
}

}  // namespace

namespace {

// UPMAX caps the bounds in the right-hand side only: with both bounds
// capped to 2 the active columns are those of a problem whose bounds are 2,
// but the boxed slack's value and the upper slacks use the bounds
// themselves, so row 1 is off by half the cut of its bound.
TEST(BarrierStartingPoint, UpperBoundCapInTheRightHandSide) {
  const AlternativeRun capped = run_alternative(2, 1, -1e30, -1e30, -1e300, 2.0, 4.0, 5.0);
  const AlternativeRun small = run_alternative(2, 1, -1e30, -1e30, -1e300, 1e9, 2.0, 2.0);
  for (int32_t j = 1; j <= 3; ++j) EXPECT_NEAR(capped.x[j], small.x[j], 1e-12) << j;
  EXPECT_NEAR(capped.x[4] - small.x[4], 1.5, 1e-12);
  EXPECT_NEAR(capped.s[3], 4.0 - capped.x[3], 1e-12);
  EXPECT_NEAR(capped.s[4], 5.0 - capped.x[4], 1e-12);
  StartProblem p;
  EXPECT_NEAR(p.a_row(1, capped.x) - capped.x[4] - p.rhs[1], 0.5 * (2.0 - 5.0), 1e-9);
}

}  // namespace
