#include "barrier/iterate/refinement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <string>

#include "barrier/iterate/dense_factor_fixture.h"
#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/reduced_system_product.h"

namespace {

using kltest::DenseFactor;

// A problem whose last `quad_columns` columns are coupled through Q (and so
// kept in the factor), the others eliminated in place; rows after them.
DenseFactor quadratic_factor(int32_t m, int32_t n, int32_t quad_columns, uint32_t seed, double diag_scale = 1.0,
                             int32_t boxed = 0) {
  const kltest::SparseColumns a = kltest::random_matrix(m, n, 0.3, seed, {1});
  kltest::SparseColumns q;
  q.rows_count = q.cols_count = n;
  std::mt19937 gen(seed + 3);
  std::uniform_real_distribution<double> u(0.5, 2.0);
  for (int32_t j = 0; j < n; ++j) {
    if (j >= n - quad_columns) {
      for (int32_t i = j + 1; i < n; ++i) {
        q.rows.push_back(i);
        q.values.push_back(0.1 * u(gen));
      }
    }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  std::vector<double> col(n + 1), row(m + 1);
  for (int32_t j = 1; j <= n; ++j) col[j] = -u(gen) - (j > n - quad_columns ? 1.0 : 0.0);
  for (int32_t i = 1; i <= m; ++i) row[i] = 1e-3 * u(gen);
  std::vector<int32_t> order(n + m + 1);
  std::iota(order.begin(), order.end(), 0);
  kltest::DenseFactorOptions opt;
  opt.factor_diag_scale = diag_scale;
  DenseFactor f = kltest::make_dense_factor(a, quad_columns > 0 ? &q : nullptr, col, row, order, opt);
  f.class_ranges[11] = n;
  f.class_ranges[3] = n - boxed + 1;  // the last `boxed` columns are boxed
  f.class_ranges[10] = n - boxed;
  return f;
}

// Dense b~ - K~ v over the Cholesky part (K~ the Schur complement of the
// in-place columns), by position.
std::vector<double> dense_reduced_residual(const DenseFactor& f, const std::vector<double>& rhs,
                                           const std::vector<double>& v) {
  const int32_t ip = f.sys.params.in_place_count, count = f.sys.params.pivot_count;
  std::vector<double> r(f.size + 1, 0.0);
  for (int32_t a = ip + 1; a <= count; ++a) {
    const int32_t p = f.pivot_order[a];
    double sum = 0.0;
    for (int32_t b = ip + 1; b <= count; ++b) {
      const int32_t q = f.pivot_order[b];
      double entry = f.kat(p, q);
      for (int32_t c = 1; c <= ip; ++c) {
        const int32_t j = f.pivot_order[c];
        entry -= f.kat(p, j) * f.kat(j, q) / f.kat(j, j);
      }
      sum += entry * v[q];
    }
    r[p] = rhs[p] - sum;
  }
  return r;
}

double cholesky_norm(const DenseFactor& f, const std::vector<double>& r, int which /* 0 all, 1 rows, 2 cols */) {
  double s = 0.0;
  for (int32_t k = f.sys.params.in_place_count + 1; k <= f.sys.params.pivot_count; ++k) {
    const int32_t p = f.pivot_order[k];
    if (which == 1 && p <= f.n()) continue;
    if (which == 2 && p > f.n()) continue;
    s += r[p] * r[p];
  }
  return std::sqrt(s);
}

struct Refine {
  DenseFactor& f;
  std::vector<double> reduced_rhs, residual, upper_residual, upper, x, s, w2, w3;
  double primal_accuracy = -1.0, dual_accuracy = -1.0;
  int32_t steps = 0;
  explicit Refine(DenseFactor& fac)
      : f(fac), reduced_rhs(fac.size + 1, 0.0), residual(fac.size + 1, 0.0), upper_residual(fac.size + 1, 0.0),
        upper(fac.size + 1, 0.0), x(fac.size + 1, 0.0), s(fac.size + 1, 0.0), w2(fac.size + 1, 0.0),
        w3(fac.size + 1, 0.0) {
    for (int32_t p = 1; p <= fac.size; ++p) {
      upper[p] = 10.0 + p;
      x[p] = 0.5 * p;
      s[p] = 1.0;
    }
  }
  void solve(std::vector<double>& v, double& tp, double& td, int32_t& mode) {
    kl::solve_with_refinement(f.sys.params, f.pivot_inverse.data(), f.diag_copy.data(), f.pivot_order.data(),
                              f.sys.fi(), f.sys.fv(), f.sys.matrix_start.data(), f.factor_first.data(),
                              f.factor_last.data(), f.sys.matrix_end.data(), v.data(), reduced_rhs.data(),
                              residual.data(), upper_residual.data(), upper.data(), x.data(), s.data(),
                              f.class_ranges.data(), f.supernode_end.data(), f.supernode_mark.data(),
                              f.sys.quad_start.data(), primal_accuracy, dual_accuracy, tp, td, mode, steps);
  }
  void finish(std::vector<double>& v) {
    kl::solve_backward_supernodal(f.sys.params, 1, f.sys.params.in_place_count, f.factor_first.data(), f.sys.fi(),
                                  f.pivot_order.data(), f.factor_last.data(), f.supernode_end.data(), f.sys.fv(),
                                  f.pivot_inverse.data(), v.data(), nullptr);
  }
  void krylov(bool alt, std::vector<double>& v, double tp, double td, int32_t& mode) {
    auto* fn = alt ? &kl::refine_by_krylov_alt : &kl::refine_by_krylov;
    fn(f.sys.params, f.pivot_inverse.data(), f.diag_copy.data(), f.pivot_order.data(), f.sys.fi(), f.sys.fv(),
       f.sys.matrix_start.data(), f.factor_first.data(), f.factor_last.data(), f.sys.matrix_end.data(), v.data(),
       reduced_rhs.data(), residual.data(), w2.data(), w3.data(), upper_residual.data(), upper.data(), x.data(),
       s.data(), f.class_ranges.data(), f.supernode_end.data(), f.supernode_mark.data(), f.sys.quad_start.data(),
       primal_accuracy, dual_accuracy, tp, td, mode, steps);
  }
  bool upper_residual_restored() const {
    for (int32_t j = f.class_ranges[3]; j <= f.class_ranges[12]; ++j)
      if (upper_residual[j] != upper[j] - x[j] - s[j]) return false;
    return true;
  }
};

std::vector<double> rhs_for(const DenseFactor& f, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  std::vector<double> b(f.size + 1, 0.0);
  for (int32_t p = 1; p <= f.size; ++p) b[p] = u(gen);
  return b;
}

TEST(ReducedSystemProduct, MatchesDenseSchurComplement) {
  for (int32_t quad_columns : {0, 3}) {
    SCOPED_TRACE("quadratic columns " + std::to_string(quad_columns));
    DenseFactor f = quadratic_factor(6, 9, quad_columns, 41);
    ASSERT_EQ(f.sys.params.in_place_count, 9 - quad_columns);
    std::vector<double> v = rhs_for(f, 2), out(f.size + 1, 0.0), zero(f.size + 1, 0.0);
    kl::multiply_reduced_system(f.sys.params, f.sys.matrix_start.data(), f.sys.matrix_end.data(), f.sys.fv(),
                                f.sys.fi(), f.pivot_order.data(), f.sys.quad_start.data(), f.class_ranges.data(),
                                v.data(), out.data(), f.diag_copy.data());
    // b~ - K~ v with b~ = 0 is -K~ v.
    const std::vector<double> ref = dense_reduced_residual(f, zero, v);
    for (int32_t k = f.sys.params.in_place_count + 1; k <= f.sys.params.pivot_count; ++k) {
      const int32_t p = f.pivot_order[k];
      EXPECT_NEAR(out[p], -ref[p], 1e-12 * (1.0 + std::fabs(ref[p]))) << "position " << p;
    }
  }
}

// MAXREF 0 and a negative mode give a plain solve: mode 4, accuracies 0, and
// after the in-place backward sweep the solution of K x = b.
TEST(SolveWithRefinement, PlainSolveWithoutRefinement) {
  for (int32_t quad_columns : {0, 2}) {
    for (auto [maxref, mode_in] : {std::pair{0, 1}, std::pair{5, -1}}) {
      SCOPED_TRACE("quad " + std::to_string(quad_columns) + " MAXREF " + std::to_string(maxref));
      DenseFactor f = quadratic_factor(7, 8, quad_columns, 7);
      f.sys.params.MAXREF = maxref;
      Refine r(f);
      std::vector<double> b = rhs_for(f, 9), v = b;
      double tp = 1e-9, td = 1e-9;
      int32_t mode = mode_in;
      r.solve(v, tp, td, mode);
      EXPECT_EQ(mode, kl::REFINE_NOT_DONE);
      EXPECT_EQ(r.primal_accuracy, 0.0);
      EXPECT_EQ(r.dual_accuracy, 0.0);
      EXPECT_EQ(r.steps, 0);
      r.finish(v);
      const std::vector<double> x = kltest::dense_solve(f, b);
      for (int32_t p = 1; p <= f.size; ++p) EXPECT_NEAR(v[p], x[p], 1e-9 * (1.0 + std::fabs(x[p])));
    }
  }
}

// Targets: a negative target is fixed and used as its magnitude; a
// non-negative one is raised to TRES2 times the right-hand side's scale.
// Mode 0 on entry measures, solves plainly and returns mode 4.
TEST(SolveWithRefinement, TargetsFromScalesOrFixed) {
  DenseFactor f = quadratic_factor(5, 6, 2, 13);
  f.sys.params.TRES2 = 1e-3;
  Refine r(f);
  std::vector<double> b = rhs_for(f, 4);
  b[f.n() + 2] = 250.0;  // the primal scale
  b[1] = -40.0;          // the dual scale (an in-place column: it still counts)
  std::vector<double> v = b;
  double tp = 0.0, td = -7e-3;
  int32_t mode = kl::REFINE_TARGETS_MET;
  r.solve(v, tp, td, mode);
  EXPECT_EQ(mode, kl::REFINE_NOT_DONE);
  EXPECT_DOUBLE_EQ(td, 7e-3);
  // The primal scale is the row part of b as given, before the in-place
  // columns are eliminated into it: after the elimination it would carry
  // the columns' terms, and near an optimum these outweigh the primal
  // residual so far that its floor lets the rows stay open.
  double scale = 1.0;
  for (int32_t p = f.n() + 1; p <= f.size; ++p) scale = std::max(scale, std::fabs(b[p]));
  EXPECT_EQ(scale, 250.0);
  EXPECT_DOUBLE_EQ(tp, 1e-3 * scale);
  double eliminated = 1.0;
  for (int32_t p = f.n() + 1; p <= f.size; ++p) eliminated = std::max(eliminated, std::fabs(r.reduced_rhs[p]));
  EXPECT_NE(eliminated, scale);
  // A target above TRES2 times the scale is kept.
  v = b;
  tp = 5.0 * scale;
  td = 1.0;
  mode = kl::REFINE_TARGETS_MET;
  r.solve(v, tp, td, mode);
  EXPECT_DOUBLE_EQ(tp, 5.0 * scale);
  EXPECT_DOUBLE_EQ(td, 40.0 * 1e-3 > 1.0 ? 40.0 * 1e-3 : 1.0);
  EXPECT_TRUE(r.upper_residual_restored());
}

// Refinement with an exact factor, a perturbed one that refinement repairs,
// and a poor one on which the residual grows: the returned solution never has
// a larger residual (2-norm) than the plain solve, and mode 3 puts the
// previous solution back.
TEST(SolveWithRefinement, NeverReturnsAWorseResidual) {
  struct Case {
    const char* name;
    double diag_scale;
    int32_t quad_columns;
    std::vector<int32_t> modes;  // acceptable return modes
    bool expect_steps;
  };
  const std::vector<Case> cases = {
      {"exact factor", 1.0, 2, {kl::REFINE_TARGETS_MET}, false},
      {"exact factor, linear", 1.0, 0, {kl::REFINE_TARGETS_MET}, false},
      {"perturbed factor", 1.15, 2, {kl::REFINE_TARGETS_MET, kl::REFINE_NEAR_TARGETS}, true},
      {"perturbed factor, linear", 0.9, 0, {kl::REFINE_TARGETS_MET, kl::REFINE_NEAR_TARGETS}, true},
      {"poor factor", 3.0, 2, {kl::REFINE_FELL_SHORT}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DenseFactor f = quadratic_factor(8, 10, c.quad_columns, 23, c.diag_scale, 3);
    f.sys.params.MAXREF = 30;
    Refine r(f);
    const std::vector<double> b = rhs_for(f, 31);
    // The plain solve's residual.
    std::vector<double> plain = b;
    double tp = 1e-10, td = 1e-10;
    int32_t mode = kl::REFINE_TARGETS_MET;
    r.solve(plain, tp, td, mode);
    const double plain_norm = cholesky_norm(f, dense_reduced_residual(f, r.reduced_rhs, plain), 0);

    std::vector<double> v = b;
    tp = 1e-10;
    td = 1e-10;
    mode = kl::REFINE_NEAR_TARGETS;
    r.steps = 3;
    r.solve(v, tp, td, mode);
    const std::vector<double> res = dense_reduced_residual(f, r.reduced_rhs, v);
    const double norm = cholesky_norm(f, res, 0);
    EXPECT_LE(norm, plain_norm * (1.0 + 1e-12));
    EXPECT_NE(std::find(c.modes.begin(), c.modes.end(), mode), c.modes.end()) << "mode " << mode;
    if (c.expect_steps) {
      EXPECT_GT(r.steps, 3);
      EXPECT_LT(norm, 1e-3 * plain_norm);
    }
    EXPECT_TRUE(r.upper_residual_restored());
    if (mode != kl::REFINE_FELL_SHORT) {
      // The reached accuracies are the max-norms of the returned residual.
      double rows = 0.0, cols = 0.0;
      for (int32_t k = f.sys.params.in_place_count + 1; k <= f.sys.params.pivot_count; ++k) {
        const int32_t p = f.pivot_order[k];
        (p > f.n() ? rows : cols) = std::max(p > f.n() ? rows : cols, std::fabs(res[p]));
      }
      EXPECT_NEAR(r.primal_accuracy, rows, 1e-9 * (1.0 + rows));
      EXPECT_NEAR(r.dual_accuracy, cols, 1e-9 * (1.0 + cols));
      // No column in the Cholesky part: the dual accuracy is 0.
      if (c.quad_columns == 0) {
        EXPECT_EQ(r.dual_accuracy, 0.0);
      }
    }
    if (c.diag_scale == 1.0) {
      r.finish(v);
      const std::vector<double> x = kltest::dense_solve(f, b);
      for (int32_t p = 1; p <= f.size; ++p) EXPECT_NEAR(v[p], x[p], 1e-8 * (1.0 + std::fabs(x[p])));
    }
  }
}

// The Krylov refinements start from a plain solve with a perturbed factor:
// conjugate gradients return their best iterate (never worse than the start),
// the Lanczos variant its last; the reached accuracies are the 2-norms of the
// returned iterate's residual over rows and columns.
TEST(KrylovRefinement, ImproveAPerturbedSolve) {
  for (bool alt : {false, true}) {
    for (double scale : {1.0, 1.2, 0.85}) {
      SCOPED_TRACE(std::string(alt ? "Lanczos" : "conjugate gradients") + " scale " + std::to_string(scale));
      DenseFactor f = quadratic_factor(8, 10, 3, 53, scale, 2);
      f.sys.params.MAXREF = 40;
      Refine r(f);
      const std::vector<double> b = rhs_for(f, 8);
      std::vector<double> v = b;
      double tp = 1e-12, td = 1e-12;
      int32_t mode = kl::REFINE_TARGETS_MET;
      r.solve(v, tp, td, mode);  // b~ and a plain solve
      const double start = cholesky_norm(f, dense_reduced_residual(f, r.reduced_rhs, v), 0);
      r.steps = 0;
      r.krylov(alt, v, 1e-9, 1e-9, mode);
      const std::vector<double> res = dense_reduced_residual(f, r.reduced_rhs, v);
      EXPECT_NEAR(r.primal_accuracy, cholesky_norm(f, res, 1), 1e-9);
      EXPECT_NEAR(r.dual_accuracy, cholesky_norm(f, res, 2), 1e-9);
      EXPECT_TRUE(r.upper_residual_restored());
      if (scale == 1.0) {
        EXPECT_EQ(mode, kl::REFINE_TARGETS_MET);
        EXPECT_EQ(r.steps, 0);
      } else {
        EXPECT_LE(cholesky_norm(f, res, 0), start);
        EXPECT_EQ(mode, kl::REFINE_TARGETS_MET);
        EXPECT_GT(r.steps, 0);
        EXPECT_LE(r.steps, 40);
      }
      for (int32_t p = 1; p <= f.size; ++p) EXPECT_TRUE(std::isfinite(v[p]));
    }
  }
}

// MAXREF 0: no Krylov step, v untouched; the mode reports the start.
TEST(KrylovRefinement, NoStepsWithoutMaxref) {
  for (bool alt : {false, true}) {
    DenseFactor f = quadratic_factor(6, 7, 2, 61, 1.3);
    Refine r(f);
    std::vector<double> v = rhs_for(f, 1);
    double tp = 1e-12, td = 1e-12;
    int32_t mode = kl::REFINE_TARGETS_MET;
    r.solve(v, tp, td, mode);
    const std::vector<double> before = v;
    f.sys.params.MAXREF = 0;
    r.steps = 0;
    r.krylov(alt, v, 1e-12, 1e-12, mode);
    EXPECT_EQ(r.steps, 0);
    EXPECT_EQ(mode, kl::REFINE_FELL_SHORT);
    EXPECT_EQ(v, before);
  }
}

// Starting from zero with an exact factor both methods reach the solution in
// a step or two and stay finite (the Lanczos recurrence meets an exact
// invariant subspace there).
TEST(KrylovRefinement, ExactPreconditionerSolvesFromZero) {
  for (bool alt : {false, true}) {
    SCOPED_TRACE(alt ? "Lanczos" : "conjugate gradients");
    DenseFactor f = quadratic_factor(5, 6, 2, 71);
    f.sys.params.MAXREF = 10;
    Refine r(f);
    std::vector<double> v = rhs_for(f, 2);
    double tp = 0.0, td = 0.0;
    int32_t mode = kl::REFINE_TARGETS_MET;
    r.solve(v, tp, td, mode);
    std::vector<double> solved = v;
    for (int32_t k = f.sys.params.in_place_count + 1; k <= f.sys.params.pivot_count; ++k) v[f.pivot_order[k]] = 0.0;
    r.steps = 0;
    r.krylov(alt, v, 1e-10, 1e-10, mode);
    EXPECT_LE(r.steps, 3);
    EXPECT_NE(mode, kl::REFINE_FELL_SHORT);
    for (int32_t k = f.sys.params.in_place_count + 1; k <= f.sys.params.pivot_count; ++k) {
      const int32_t p = f.pivot_order[k];
      ASSERT_TRUE(std::isfinite(v[p]));
      EXPECT_NEAR(v[p], solved[p], 1e-8 * (1.0 + std::fabs(solved[p])));
    }
  }
}

}  // namespace

namespace {

// One row and one column, K~ = 2 exactly: the first Krylov step solves the
// system exactly and the Lanczos recurrence finds the invariant subspace
// (its next vector would be 0/0). With targets that cannot be met the
// iteration must still stop there with a finite, exact iterate.
TEST(KrylovRefinement, ExhaustedRecurrenceStopsFinite) {
  kltest::SparseColumns a;
  a.rows_count = 1;
  a.cols_count = 1;
  a.starts = {0, 1};
  a.rows = {0};
  a.values = {1.0};
  for (bool alt : {false, true}) {
    SCOPED_TRACE(alt ? "Lanczos" : "conjugate gradients");
    DenseFactor f = kltest::make_dense_factor(a, nullptr, {0.0, -1.0}, {0.0, 1.0}, {0, 1, 2});
    ASSERT_EQ(f.sys.params.in_place_count, 1);
    ASSERT_DOUBLE_EQ(f.pivot_inverse[2], 0.5);
    f.sys.params.MAXREF = 5;
    Refine r(f);
    r.reduced_rhs[2] = 3.0;
    std::vector<double> v(3, 0.0);
    int32_t mode = kl::REFINE_TARGETS_MET;
    r.krylov(alt, v, -1.0, -1.0, mode);
    EXPECT_EQ(v[2], 1.5);
    EXPECT_LE(r.steps, 2);
    // Started at the solution with targets of 0: nothing to do, nothing
    // divided by a zero residual.
    r.steps = 0;
    r.krylov(alt, v, 0.0, 0.0, mode);
    EXPECT_EQ(v[2], 1.5);
    EXPECT_EQ(r.primal_accuracy, 0.0);
  }
}

}  // namespace
