// KLFTRAN, KLIFTRAN, KLBTRAN and KLIBTRAN on problems loaded through
// KLLOADPROB: checked against a dense product with the caller's matrix
// (unscaled) or the stored one (scaled).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "factor/basis.h"
#include "factor/factor_check.h"
#include "factor/starting_basis.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kl;

// 4 rows, 5 columns, all rows E (their slacks fixed at 0).
struct SmallLp {
  std::string row_types = "LLGE";
  std::vector<double> rhs{4, 6, 1, 2};
  std::vector<double> cost{1, 2, 3, 1, 1};
  std::vector<double> lower{0, 0, 0, 0, 0};
  std::vector<double> upper{10, 10, 10, 10, 10};
  std::vector<int32_t> starts{0, 2, 4, 6, 8, 10};
  std::vector<int32_t> rows{0, 1, 1, 2, 0, 3, 2, 3, 0, 2};
  std::vector<double> values{2, 1, 3, 1, 1, 4, 5, 1, 1, -2};

  int32_t load() {
    return KLLOADPROB("ftranlp", 5, 4, row_types.data(), rhs.data(), nullptr, cost.data(), starts.data(), nullptr,
                      rows.data(), values.data(), lower.data(), upper.data());
  }
  // The caller's basis matrix for basic caller columns and slack rows by
  // basis position (header), as a dense row-major 4 x 4 matrix.
  std::vector<double> basis_matrix() const {
    std::vector<double> b(16, 0.0);
    for (int32_t k = 1; k <= 4; ++k) {
      const int32_t v = int_array(ARR_BASIS_HEADER)[k];
      if (v <= nrow) {
        b[(v - 1) * 4 + (k - 1)] = 1.0;
        continue;
      }
      const int32_t c = v - store.first_col;
      for (int32_t q = starts[c]; q < starts[c + 1]; ++q) b[rows[q] * 4 + (k - 1)] = values[q];
    }
    return b;
  }
};

// Structural columns (caller indices) and slack rows (from 1) made basic.
void set_basis(const std::vector<int32_t>& columns, const std::vector<int32_t>& slacks) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) status[p] &= ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
  for (int32_t c : columns) status[store.first_col + c] |= PS_BASIC;
  for (int32_t r : slacks) status[r] |= PS_BASIC;
  set_basis_header();
}

double residual(const std::vector<double>& m, const std::vector<double>& x, const std::vector<double>& b,
                bool transposed) {
  double worst = 0.0;
  for (int i = 0; i < 4; ++i) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) sum += (transposed ? m[k * 4 + i] : m[i * 4 + k]) * x[k];
    worst = std::max(worst, std::fabs(sum - b[i]));
  }
  return worst;
}

class FactorExports : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }
  SmallLp lp;
};

TEST_F(FactorExports, SlackBasisReturnsUnitVectors) {
  ASSERT_EQ(lp.load(), 0);
  for (int r = 0; r < 4; ++r) {
    std::vector<double> v(4, 0.0);
    v[r] = 1.0;
    const std::vector<double> unit = v;
    EXPECT_EQ(KLFTRAN(v.data()), 0);
    EXPECT_EQ(v, unit);
    EXPECT_EQ(KLBTRAN(v.data()), 0);
    EXPECT_EQ(v, unit);
  }
}

TEST_F(FactorExports, StructuralBasisSolvesAgainstTheCallersMatrix) {
  ASSERT_EQ(lp.load(), 0);
  set_basis({0, 1, 3}, {4});
  const std::vector<double> b{1.0, -2.0, 3.0, 0.5};
  for (int32_t base : {1, 0}) {
    KLSETICV(KLIC_IFDBG, base);
    std::vector<double> x = b;
    ASSERT_EQ(KLFTRAN(x.data()), 0);
    EXPECT_LT(residual(lp.basis_matrix(), x, b, false), 1e-12) << base;
    std::vector<double> y = b;
    ASSERT_EQ(KLBTRAN(y.data()), 0);
    EXPECT_LT(residual(lp.basis_matrix(), y, b, true), 1e-12) << base;
  }
  // BTRAN then FTRAN of a basis column: the matching unit vector.
  std::vector<double> column(4, 0.0);
  const int32_t k = 2;
  for (int i = 0; i < 4; ++i) column[i] = lp.basis_matrix()[i * 4 + (k - 1)];
  ASSERT_EQ(KLFTRAN(column.data()), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(column[i], i == k - 1 ? 1.0 : 0.0) << i;
}

TEST_F(FactorExports, ScaledProblemUnscaledAndInternalForms) {
  ASSERT_EQ(lp.load(), 0);
  const int32_t row_exponents[] = {1, -2, 3, 0};
  const int32_t col_exponents[] = {-1, 2, 0, 1, -3};
  ASSERT_EQ(KLSCALE(row_exponents, col_exponents), 0);
  set_basis({0, 1, 3}, {4});
  const std::vector<double> b{1.0, -2.0, 3.0, 0.5};
  // Caller's form: the unscaled basis.
  std::vector<double> x = b;
  ASSERT_EQ(KLFTRAN(x.data()), 0);
  EXPECT_LT(residual(lp.basis_matrix(), x, b, false), 1e-12);
  std::vector<double> y = b;
  ASSERT_EQ(KLBTRAN(y.data()), 0);
  EXPECT_LT(residual(lp.basis_matrix(), y, b, true), 1e-12);
  // Internal form: the stored, scaled basis.
  std::vector<double> xi = b;
  ASSERT_EQ(KLIFTRAN(xi.data()), 0);
  EXPECT_LT(ftran_residual(b, xi), 1e-12);
  std::vector<double> yi = b;
  ASSERT_EQ(KLIBTRAN(yi.data()), 0);
  EXPECT_LT(btran_residual(b, yi), 1e-12);
  EXPECT_GT(std::fabs(xi[0] - x[0]) + std::fabs(xi[1] - x[1]), 1e-6);
}

TEST_F(FactorExports, ChangedBasisIsRefactorisedFirst) {
  ASSERT_EQ(lp.load(), 0);
  std::vector<double> v{1.0, 1.0, 1.0, 1.0};
  ASSERT_EQ(KLFTRAN(v.data()), 0);
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  const int64_t inverts = factor_stats.inverts;
  set_basis({0, 2}, {2, 3});  // clears the factor-valid flag
  std::vector<double> x{1.0, 1.0, 1.0, 1.0};
  ASSERT_EQ(KLFTRAN(x.data()), 0);
  EXPECT_EQ(factor_stats.inverts, inverts + 1);
  EXPECT_EQ(factor_stats.last_reason, InvertReason::kUserSolve);
  EXPECT_LT(residual(lp.basis_matrix(), x, {1.0, 1.0, 1.0, 1.0}, false), 1e-12);
  // A valid factor is used as it stands.
  ASSERT_EQ(KLBTRAN(x.data()), 0);
  EXPECT_EQ(factor_stats.inverts, inverts + 1);
}

TEST_F(FactorExports, TinyResultEntriesComeBackAsZero) {
  ASSERT_EQ(lp.load(), 0);
  std::vector<double> v{1e-15, 2.0, -1e-14, 0.0};
  ASSERT_EQ(KLFTRAN(v.data()), 0);
  EXPECT_EQ(v, (std::vector<double>{0.0, 2.0, 0.0, 0.0}));
}

TEST_F(FactorExports, RefusedWithoutAProblemOrAVector) {
  std::vector<double> v{1.0, 2.0};
  EXPECT_EQ(KLIFTRAN(v.data()), KL_STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("No problem has been loaded"));
  EXPECT_EQ(v, (std::vector<double>{1.0, 2.0}));
  ASSERT_EQ(lp.load(), 0);
  kltest::captured_lines().clear();
  EXPECT_EQ(KLBTRAN(nullptr), KL_STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("null pointer"));
}

}  // namespace
