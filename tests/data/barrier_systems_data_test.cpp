// The barrier's ways through K x = b on Netlib constraint matrices, for a
// positive D with free columns (small D): the augmented system (its own
// factor and a with-columns refactorisation, the longest columns held back
// and reinserted) and the normal equations each solve the system with a small
// backward error and agree with a dense solve to within the system's
// conditioning.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "support/barrier_solve_paths.h"
#include "support/data_dir.h"
#include "support/library_session.h"

namespace {

// Dense Gaussian elimination with partial pivoting on K (small problems
// only): the reference solution.
std::vector<double> dense_reference(const kltest::SparseColumns& a, const std::vector<double>& diag,
                                    const std::vector<double>& b) {
  const int32_t n = a.cols_count, s = n + a.rows_count;
  std::vector<std::vector<double>> k(s + 1, std::vector<double>(s + 2, 0.0));
  for (int32_t p = 1; p <= s; ++p) {
    k[p][p] = diag[p];
    k[p][s + 1] = b[p];
  }
  for (int32_t j = 0; j < n; ++j)
    for (int32_t e = a.starts[j]; e < a.starts[j + 1]; ++e) {
      k[n + 1 + a.rows[e]][j + 1] += a.values[e];
      k[j + 1][n + 1 + a.rows[e]] += a.values[e];
    }
  for (int32_t c = 1; c <= s; ++c) {
    int32_t pivot = c;
    for (int32_t r = c + 1; r <= s; ++r)
      if (std::fabs(k[r][c]) > std::fabs(k[pivot][c])) pivot = r;
    std::swap(k[c], k[pivot]);
    for (int32_t r = c + 1; r <= s; ++r) {
      const double f = k[r][c] / k[c][c];
      if (f == 0.0) continue;
      for (int32_t q = c; q <= s + 1; ++q) k[r][q] -= f * k[c][q];
    }
  }
  std::vector<double> x(s + 1, 0.0);
  for (int32_t c = s; c >= 1; --c) {
    double t = k[c][s + 1];
    for (int32_t q = c + 1; q <= s; ++q) t -= k[c][q] * x[q];
    x[c] = t / k[c][c];
  }
  return x;
}

double relative_difference(const std::vector<double>& x, const std::vector<double>& reference) {
  double worst = 0.0, scale = 1e-300;
  for (size_t p = 1; p < reference.size(); ++p) {
    worst = std::max(worst, std::fabs(x[p] - reference[p]));
    scale = std::max(scale, std::fabs(reference[p]));
  }
  return worst / scale;
}

class BarrierSystemsNetlib : public kltest::LibrarySessionOf<::testing::TestWithParam<const char*>> {};

TEST_P(BarrierSystemsNetlib, NormalAndAugmentedSolutionsAgree) {
  const std::string path = kltest::data_file(std::string("netlib/") + GetParam() + ".mps");
  if (path.empty()) GTEST_SKIP() << "KLSOL_DATA has no netlib/" << GetParam() << ".mps";
  const kltest::SparseColumns a = kltest::read_mps_columns(path);
  ASSERT_GT(a.cols_count, 0);
  const int32_t n = a.cols_count, m = a.rows_count, s = n + m;
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int32_t free_columns = std::max(1, n / 10);
  std::vector<double> diag(s + 1), b(s + 1);
  for (int32_t j = 1; j <= n; ++j) diag[j] = j <= free_columns ? -1e-3 * (1.0 + u(gen)) : -std::exp(2.0 * u(gen) - 1.0);
  for (int32_t i = 1; i <= m; ++i) diag[n + i] = 1e-5;
  for (int32_t p = 1; p <= s; ++p) b[p] = 2.0 * u(gen) - 1.0;
  kltest::SolvePathSettings set;
  set.free_columns = free_columns;
  set.maxref = 10;
  // The augmented path holds back the longest columns (the length rule marks
  // every column longer than half the longest, those of the longest length
  // get mark 2).
  int32_t longest = 0;
  for (int32_t j = 0; j < n; ++j) longest = std::max(longest, a.starts[j + 1] - a.starts[j]);
  set.dense_length = longest / 2;
  set.supdens = longest;
  const std::vector<double> reference = dense_reference(a, diag, b);
  const double reference_error = kltest::relative_residual(a, diag, b, reference);
  std::printf("%-9s n %5d m %5d  dense solve: backward error %.1e\n", GetParam(), n, m, reference_error);
  // israel's K is too ill-conditioned for a forward comparison (a backward
  // error of 1e-12 moves the solution by 1e-3 of its size): only the
  // backward error is checked there.
  const bool compare_forward = std::string(GetParam()) != "israel";
  std::vector<std::vector<double>> solutions;
  for (int32_t path_kind : {0, 1, 2}) {
    const char* name = path_kind == 0 ? "augmented" : path_kind == 1 ? "augmented, refactorised" : "normal equations";
    SCOPED_TRACE(name);
    kltest::SolvePathSettings here = set;
    here.refactorise = path_kind == 1;
    kltest::SolvePathResult result;
    if (path_kind == 2) {
      result = kltest::solve_by_normal_equations(a, diag, b, here);
    } else {
      result = kltest::solve_by_augmented_system(a, diag, b, here);
      EXPECT_GT(result.deferred_columns, 0);
      EXPECT_EQ(result.deferred_pivoted, result.deferred_columns);
    }
    ASSERT_EQ(result.failure, "");
    const double error = kltest::relative_residual(a, diag, b, result.x);
    const double difference = relative_difference(result.x, reference);
    std::printf("  %-24s held back %2d  backward error %.1e  difference to the dense solve %.1e\n", name,
                result.deferred_columns, error, difference);
    EXPECT_LT(error, 1e-11);
    if (compare_forward) {
      EXPECT_LT(difference, 1e-6);
    }
    solutions.push_back(result.x);
  }
  if (compare_forward) {
    EXPECT_LT(relative_difference(solutions[2], solutions[0]), 1e-6);
  }
}

INSTANTIATE_TEST_SUITE_P(Netlib, BarrierSystemsNetlib,
                         ::testing::Values("afiro", "sc50a", "adlittle", "blend", "share2b", "israel", "scagr7",
                                           "kb2"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
