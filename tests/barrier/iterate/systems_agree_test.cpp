#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "support/barrier_solve_paths.h"

namespace {

using kltest::SparseColumns;

struct LpCase {
  const char* name;
  int32_t m, n;
  double density;
  std::vector<int32_t> dense_columns;  // full columns (0-based)
  int32_t free_columns;
  double row_diag;
  int32_t l2_cache_kb;
  int32_t supdens;
  int32_t dense_length;  // the length rule's threshold on the augmented path, 0 for the cost rule
  bool expect_deferred;
};

SparseColumns lp_matrix(const LpCase& c, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  SparseColumns a;
  a.rows_count = c.m;
  a.cols_count = c.n;
  for (int32_t j = 0; j < c.n; ++j) {
    const bool full = std::find(c.dense_columns.begin(), c.dense_columns.end(), j) != c.dense_columns.end();
    for (int32_t i = 0; i < c.m; ++i) {
      // Every row meets column i (full row rank), the rest at random.
      if (full || i == j % c.m || u(gen) < c.density) {
        a.rows.push_back(i);
        a.values.push_back((u(gen) < 0.5 ? -1.0 : 1.0) * (0.2 + u(gen)));
      }
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

const std::vector<LpCase>& lp_cases() {
  static const std::vector<LpCase> cases = {
      {"free columns", 12, 25, 0.15, {}, 3, 1e-8, 512, 350, 0, false},
      {"free columns and a dense column", 20, 40, 0.1, {7}, 4, 1e-8, 512, 15, 10, true},
      {"two dense columns, no row regularisation", 24, 50, 0.08, {3, 30}, 2, 0.0, 512, 18, 12, true},
      {"dense column, small cache blocks", 30, 45, 0.12, {11}, 5, 1e-6, 1, 20, 15, true},
      {"dense column found by the cost rule", 150, 250, 0.012, {40}, 10, 1e-8, 512, 100, 0, true},
  };
  return cases;
}

// K's diagonal (free columns tiny) and a right-hand side.
void system_for(const LpCase& c, uint32_t seed, std::vector<double>& diag, std::vector<double>& b) {
  const int32_t s = c.n + c.m;
  std::mt19937 gen(seed + 100);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  diag.assign(s + 1, 0.0);
  b.assign(s + 1, 0.0);
  for (int32_t j = 1; j <= c.n; ++j) diag[j] = j <= c.free_columns ? -1e-4 * (1.0 + u(gen)) : -(0.1 + 10 * u(gen));
  for (int32_t i = 1; i <= c.m; ++i) diag[c.n + i] = c.row_diag;
  for (int32_t p = 1; p <= s; ++p) b[p] = 2.0 * u(gen) - 1.0;
}

kltest::SolvePathSettings settings_for(const LpCase& c) {
  kltest::SolvePathSettings set;
  set.free_columns = c.free_columns;
  set.l2_cache_kb = c.l2_cache_kb;
  set.supdens = c.supdens;
  set.dense_length = c.dense_length;
  return set;
}

// The augmented system on LPs with free columns (tiny D) and dense
// columns, which it holds back and reinserts: the solution satisfies K x = b.
TEST(BarrierSystemsAgree, AugmentedSystemSolves) {
  for (const LpCase& c : lp_cases()) {
    for (uint32_t seed : {3u, 17u}) {
      SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
      const SparseColumns a = lp_matrix(c, seed);
      std::vector<double> diag, b;
      system_for(c, seed, diag, b);
      for (bool refactorise : {false, true}) {
        SCOPED_TRACE(refactorise ? "refactorised with columns" : "its own factor");
        kltest::SolvePathSettings set = settings_for(c);
        set.refactorise = refactorise;
        const kltest::SolvePathResult augmented = kltest::solve_by_augmented_system(a, diag, b, set);
        ASSERT_EQ(augmented.failure, "");
        EXPECT_EQ(augmented.pivot_count, c.n + c.m);
        if (c.expect_deferred) {
          EXPECT_EQ(augmented.deferred_columns, static_cast<int32_t>(c.dense_columns.size()));
          EXPECT_EQ(augmented.deferred_pivoted, augmented.deferred_columns);
        }
        EXPECT_LT(kltest::relative_residual(a, diag, b, augmented.x), 1e-12);
      }
    }
  }
}

// The normal equations and the augmented system give the same solution of
// K x = b on LPs with free columns and dense columns (held back and
// reinserted on the augmented path).
TEST(BarrierSystemsAgree, NormalEquationsAndAugmentedSystemGiveTheSameSolution) {
  for (const LpCase& c : lp_cases()) {
    for (uint32_t seed : {3u, 17u}) {
      SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
      const SparseColumns a = lp_matrix(c, seed);
      std::vector<double> diag, b;
      system_for(c, seed, diag, b);
      const kltest::SolvePathSettings set = settings_for(c);
      const kltest::SolvePathResult normal = kltest::solve_by_normal_equations(a, diag, b, set);
      ASSERT_EQ(normal.failure, "");
      EXPECT_EQ(normal.system_kind, kl::SYSTEM_NORMAL_EQUATIONS);
      EXPECT_EQ(normal.pivot_count, c.n + c.m);
      EXPECT_EQ(normal.in_place_count, c.n);
      const kltest::SolvePathResult augmented = kltest::solve_by_augmented_system(a, diag, b, set);
      ASSERT_EQ(augmented.failure, "");
      EXPECT_EQ(augmented.system_kind, kl::SYSTEM_AUGMENTED);
      EXPECT_LT(kltest::relative_residual(a, diag, b, normal.x), 1e-12);
      EXPECT_LT(kltest::relative_residual(a, diag, b, augmented.x), 1e-12);
      double scale = 1.0;
      for (int32_t p = 1; p <= c.n + c.m; ++p) scale = std::max(scale, std::fabs(normal.x[p]));
      for (int32_t p = 1; p <= c.n + c.m; ++p) EXPECT_NEAR(normal.x[p], augmented.x[p], 1e-9 * scale) << p;
    }
  }
}

}  // namespace
