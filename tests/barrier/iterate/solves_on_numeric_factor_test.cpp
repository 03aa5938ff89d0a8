// The solves on a factor computed by the numeric factorisation and cut into
// cache blocks by the cache blocking, against a dense solve of K x = b: the
// blocks the solves meet are the ones the factorisation leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <string>

#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/iterate/dense_factor_fixture.h"
#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/refinement.h"

namespace {

using kltest::DenseFactor;

struct Case {
  const char* name;
  int32_t m, n, quad_columns;
  std::vector<int32_t> dense_columns;
  int32_t l2_cache_kb;
};

TEST(SolvesOnNumericFactor, MatchDenseSolve) {
  const std::vector<Case> cases = {
      {"normal equations, one block per chain", 18, 24, 0, {5}, 512},
      {"normal equations, small blocks chained", 22, 20, 0, {2, 9}, 1},
      {"quadratic columns in the factor", 16, 20, 4, {3}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const kltest::SparseColumns a = kltest::random_matrix(c.m, c.n, 0.15, 77, c.dense_columns);
    kltest::SparseColumns q;
    q.rows_count = q.cols_count = c.n;
    for (int32_t j = 0; j < c.n; ++j) {
      if (j >= c.n - c.quad_columns)
        for (int32_t i = j + 1; i < c.n; ++i) {
          q.rows.push_back(i);
          q.values.push_back(0.05 * (1 + i - j));
        }
      q.starts.push_back(static_cast<int32_t>(q.rows.size()));
    }
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> u(0.5, 2.0);
    std::vector<double> col(c.n + 1), row(c.m + 1);
    for (auto& x : col) x = -u(gen);
    for (auto& x : row) x = 1e-3 * u(gen);
    std::vector<int32_t> order(c.n + c.m + 1);
    std::iota(order.begin(), order.end(), 0);
    kltest::DenseFactorOptions opt;
    opt.max_block = 0;
    DenseFactor f = kltest::make_dense_factor(a, c.quad_columns > 0 ? &q : nullptr, col, row, order, opt);
    const int32_t s = f.size;
    kl::barrier_params& params = f.sys.params;
    const int32_t nz_stored = params.matrix_nz + params.quad_nz;
    for (size_t e = static_cast<size_t>(nz_stored) + 1; e < f.sys.factor_value.size(); ++e) f.sys.factor_value[e] = 0.0;
    params.L2_CACHE = c.l2_cache_kb;
    params.L1_CACHE = 0;
    params.PSUPNODE = 2;
    std::vector<int32_t> rank(s + 2), send(s + 2), smark(s + 2), lists(2 * s + 2), cursor(s + 2), scratch(s + 2);
    kl::block_supernodes_for_cache(params, f.factor_first.data(), f.factor_last.data(), f.sys.fi(),
                                   f.pivot_order.data(), send.data(), rank.data(), smark.data());
    int32_t fundamental_blocks = 0;
    for (int32_t k = 1; k <= params.pivot_count; ++k)
      if (smark[k] > 0 && (k == 1 || send[k - 1] != send[k])) ++fundamental_blocks;
    EXPECT_GE(fundamental_blocks, c.l2_cache_kb == 1 ? 2 : 1);
    std::vector<double> inverse(s + 1), diag(f.diag_copy), y(c.m + 1, 0.0);
    int32_t dropped = 0, removed = 0;
    if (c.quad_columns == 0) {
      kl::factor_normal_matrix(params, f.sys.fi(), f.sys.fv(), f.factor_first.data(), f.factor_last.data(),
                               f.pivot_order.data(), rank.data(), inverse.data(), diag.data(), f.diag_copy.data(),
                               y.data(), f.sys.var_state.data(), lists.data(), cursor.data(), send.data(),
                               smark.data(), dropped, removed);
    } else {
      kl::factor_normal_matrix_with_columns(params, f.sys.fi(), f.sys.fv(), f.factor_first.data(),
                                            f.factor_last.data(), f.pivot_order.data(), rank.data(), inverse.data(),
                                            diag.data(), f.diag_copy.data(), y.data(), f.sys.var_state.data(),
                                            lists.data(), cursor.data(), send.data(), smark.data(),
                                            f.sys.matrix_start.data(), f.sys.quad_start.data(), scratch.data(),
                                            dropped, removed);
    }
    ASSERT_EQ(dropped, 0);
    ASSERT_EQ(removed, 0);
    ASSERT_EQ(params.in_place_count, c.n - c.quad_columns);
    std::vector<double> b(s + 1);
    for (int32_t p = 1; p <= s; ++p) b[p] = std::cos(3.0 * p);
    const std::vector<double> x = kltest::dense_solve(f, b);
    for (bool with_work : {false, true}) {
      SCOPED_TRACE(with_work ? "with work vector" : "in place");
      std::vector<double> v = b, work(s + 1);
      double* w = with_work ? work.data() : nullptr;
      kl::solve_forward_supernodal(params, 1, params.pivot_count, f.factor_first.data(), f.sys.fi(),
                                   f.pivot_order.data(), f.factor_last.data(), f.sys.fv(), diag.data(), v.data(),
                                   send.data(), smark.data(), w);
      kl::solve_backward_supernodal(params, 1, params.pivot_count, f.factor_first.data(), f.sys.fi(),
                                    f.pivot_order.data(), f.factor_last.data(), send.data(), f.sys.fv(), diag.data(),
                                    v.data(), w);
      for (int32_t p = 1; p <= s; ++p) EXPECT_NEAR(v[p], x[p], 1e-9 * (1.0 + std::fabs(x[p]))) << p;
    }
    // With refinement and the in-place sweep.
    std::vector<double> v = b, reduced(s + 1), residual(s + 1), upper_residual(s + 1), zero(s + 1, 0.0);
    double primal = 0.0, dual = 0.0, tp = 0.0, td = 0.0;
    int32_t mode = kl::REFINE_NEAR_TARGETS, steps = 0;
    params.MAXREF = 3;
    kl::solve_with_refinement(params, diag.data(), f.diag_copy.data(), f.pivot_order.data(), f.sys.fi(), f.sys.fv(),
                              f.sys.matrix_start.data(), f.factor_first.data(), f.factor_last.data(),
                              f.sys.matrix_end.data(), v.data(), reduced.data(), residual.data(),
                              upper_residual.data(), zero.data(), zero.data(), zero.data(), f.class_ranges.data(),
                              send.data(), smark.data(), f.sys.quad_start.data(), primal, dual, tp, td, mode, steps);
    EXPECT_EQ(mode, kl::REFINE_TARGETS_MET);
    kl::solve_backward_supernodal(params, 1, params.in_place_count, f.factor_first.data(), f.sys.fi(),
                                  f.pivot_order.data(), f.factor_last.data(), send.data(), f.sys.fv(), diag.data(),
                                  v.data(), nullptr);
    for (int32_t p = 1; p <= s; ++p) EXPECT_NEAR(v[p], x[p], 1e-9 * (1.0 + std::fabs(x[p]))) << p;
  }
}

}  // namespace
