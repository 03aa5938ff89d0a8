// The quadratic engine's step over all variables held between their bounds,
// through KLMINIM on small quadratic programs: a strongly coupled pair
// (one variable at a time would zig-zag), and a pair whose objective is
// flat along a direction with a slope (one variable at a time gains a
// constant amount per move, without end where the ray is long).
#include "simplex/qp_subspace_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "simplex/primal_engines.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;
constexpr int32_t kOptimal = 1;

// Two columns and one row; the quadratic terms in upper-triangle pairs.
struct PairQp {
  const char* name;
  char row_type;
  double rhs;
  std::vector<double> row;  // the row's coefficients of x1, x2
  std::vector<double> cost, lower, upper;
  std::vector<double> quadratic;  // q11, q12, q22 of 1/2 x'Qx
  std::vector<double> optimum;
  double objective;
  bool flat;  // the reduced Hessian is singular at the start
};

void PrintTo(const PairQp& c, std::ostream* out) { *out << c.name; }

class QpSubspaceStep : public kltest::LibrarySessionOf<::testing::TestWithParam<PairQp>> {
 protected:
  void SetUp() override {
    LibrarySessionOf::SetUp();
    kl::primal_engine_stats = kl::PrimalEngineStats{};
  }
  int32_t load(const PairQp& c) {
    const char types[] = {c.row_type, '\0'};
    const double rhs[] = {c.rhs};
    const int32_t starts[] = {0, 1, 2};
    const int32_t rows[] = {0, 0};
    const int32_t q1[] = {0, 0, 1};
    const int32_t q2[] = {0, 1, 1};
    return KLLOADQPROB(dir_.file("pair").c_str(), 2, 1, types, rhs, nullptr, c.cost.data(), starts, nullptr, rows,
                       c.row.data(), c.lower.data(), c.upper.data(), 3, q1, q2, c.quadratic.data());
  }
  kltest::TempDir dir_;
};

TEST_P(QpSubspaceStep, ReachesTheOptimumInAFewIterations) {
  const PairQp& c = GetParam();
  ASSERT_EQ(load(c), 0);
  KLSETICV(KLIC_IFPRES, 0);
  // From the slack basis: free columns are then held at 0 from the start.
  KLSETICV(KLIC_ICRASH, 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_LE(kltest::int_attribute_value(KLIA_ITCNT), 6);
  std::vector<double> x(2);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  EXPECT_NEAR(x[0], c.optimum[0], 1e-7 * (1.0 + std::fabs(c.optimum[0])));
  EXPECT_NEAR(x[1], c.optimum[1], 1e-7 * (1.0 + std::fabs(c.optimum[1])));
  EXPECT_NEAR(kltest::objective_value(), c.objective, 1e-9 * (1.0 + std::fabs(c.objective)));
  EXPECT_GE(kl::primal_engine_stats.subspace_steps, 1);
  if (c.flat) {
    EXPECT_GE(kl::primal_engine_stats.subspace_flat_moves, 1);
    EXPECT_GE(kl::primal_engine_stats.subspace_exchanges, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, QpSubspaceStep,
    ::testing::Values(
        // 1/2 (x1^2 + 1.998 x1 x2 + x2^2) - 6.996 x1 - 6.997 x2: the minimum
        // (3, 4) lies deep in a valley along x1 = -x2.
        PairQp{"coupled", 'L', 1000.0, {1.0, 1.0}, {-6.996, -6.997}, {0.0, 0.0}, {100.0, 100.0},
               {1.0, 0.999, 1.0}, {3.0, 4.0}, -0.5 * (3.0 * 6.996 + 4.0 * 6.997), false},
        // 1/2 (x1 + x2)^2 - 3 x1 - 4 x2 over free x1, x2: flat along
        // x2 - x1, where the objective falls by 1/2 per unit until the row
        // x2 - x1 <= 1000 stops it; then x1 + x2 = 3.5.
        PairQp{"flat", 'L', 1000.0, {-1.0, 1.0}, {-3.0, -4.0}, {-kInf, -kInf}, {kInf, kInf}, {1.0, 1.0, 1.0},
               {-498.25, 501.75}, 0.5 * 3.5 * 3.5 - 3.5 * 3.5 - 500.0, true}),
    [](const ::testing::TestParamInfo<PairQp>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

class QuadraticMaximisation : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir_;
};

// A maximisation minimises -(c'x + x'Qx/2): the quadratic part takes the
// sense as the costs do. max 3 x1 + 4 x2 - 1/2 (x1^2 + x1 x2 + x2^2) over
// [0, 100]^2 has its maximum 26/3 at (4/3, 10/3); with the quadratic part
// left unsigned the engine ran to (0, 100) and reported -4600.
TEST_F(QuadraticMaximisation, ConcaveObjectiveReachesItsMaximum) {
  const char types[] = {'L', '\0'};
  const double rhs[] = {1000.0};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double row[] = {1.0, 1.0};
  const double cost[] = {3.0, 4.0};
  const double lower[] = {0.0, 0.0};
  const double upper[] = {100.0, 100.0};
  const int32_t q1[] = {0, 0, 1};
  const int32_t q2[] = {0, 1, 1};
  const double q[] = {-1.0, -0.5, -1.0};
  for (const char* options : {"p", "d"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(KLLOADQPROB(dir_.file("concave").c_str(), 2, 1, types, rhs, nullptr, cost, starts, nullptr, rows, row,
                          lower, upper, 3, q1, q2, q),
              0);
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(KLMAXIM(options), 0);
    ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
    std::vector<double> x(2);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(x[0], 4.0 / 3.0, 1e-7);
    EXPECT_NEAR(x[1], 10.0 / 3.0, 1e-7);
    EXPECT_NEAR(kltest::objective_value(), 26.0 / 3.0, 1e-9);
  }
}

}  // namespace
