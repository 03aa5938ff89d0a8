// KLRANGE, KLROWRANGE and KLCOLRANGE: the ranges of a hand-solved LP, the
// refusals, a missing solution file, and on Netlib problems the cost and
// activity ranges checked by re-solving at their ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "simplex/access_fixture.h"
#include "support/data_dir.h"

namespace {

using kltest::AccessProblem;
using kltest::int_attribute_value;
using kltest::objective_value;

constexpr double kUnlimited = 1e19;  // ranges beyond this are unlimited

struct RowRanges {
  std::vector<double> up, low, unit_up, unit_low;
  explicit RowRanges(int32_t n) : up(n), low(n), unit_up(n), unit_low(n) {}
  int32_t fetch() { return KLROWRANGE(up.data(), low.data(), unit_up.data(), unit_low.data()); }
};
struct ColumnRanges {
  std::vector<double> up, low, unit_up, unit_low, cost_up, cost_low;
  explicit ColumnRanges(int32_t n) : up(n), low(n), unit_up(n), unit_low(n), cost_up(n), cost_low(n) {}
  int32_t fetch() {
    return KLCOLRANGE(up.data(), low.data(), unit_up.data(), unit_low.data(), cost_up.data(), cost_low.data());
  }
};

// min -x - 2y:  r0: x + y <= 4,  r1: y <= 3;  x, y >= 0.  Optimum -7 at
// x = 1, y = 3, both basic; the slacks of r0 and r1 are nonbasic. By hand:
// c_x may range over [-2, 0], c_y over (-inf, -1]; the activity of r0 over
// [3, inf) (x reaches 0 at 3), of r1 over [0, 4] (y reaches 0, x reaches 0).
AccessProblem two_variables() {
  AccessProblem p;
  p.row_types = "LL";
  p.rhs = {4, 3};
  p.columns = {
      {{{0, 1.0}}, 0, kltest::kAccessInf, -1},
      {{{0, 1.0}, {1, 1.0}}, 0, kltest::kAccessInf, -2},
  };
  return p;
}

class Ranging : public kltest::AccessTest {};

TEST_F(Ranging, HandSolvedLpGivesItsRanges) {
  ASSERT_EQ(load(two_variables()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  RowRanges rows(2);
  ColumnRanges cols(2);
  ASSERT_EQ(rows.fetch(), 0);
  ASSERT_EQ(cols.fetch(), 0);

  EXPECT_NEAR(cols.cost_low[0], -2.0, 1e-6);
  EXPECT_NEAR(cols.cost_up[0], 0.0, 1e-6);
  EXPECT_LE(cols.cost_low[1], -kUnlimited);
  EXPECT_NEAR(cols.cost_up[1], -1.0, 1e-6);

  EXPECT_NEAR(rows.low[0], 3.0, 1e-6);
  EXPECT_GE(rows.up[0], kUnlimited);
  EXPECT_NEAR(rows.low[1], 0.0, 1e-6);
  EXPECT_NEAR(rows.up[1], 4.0, 1e-6);
}

TEST_F(Ranging, NullArraysAreSkipped) {
  ASSERT_EQ(load(two_variables()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  std::vector<double> low(2, 99.0), cost_up(2, 99.0);
  ASSERT_EQ(KLROWRANGE(nullptr, low.data(), nullptr, nullptr), 0);
  EXPECT_NEAR(low[0], 3.0, 1e-6);
  ASSERT_EQ(KLCOLRANGE(nullptr, nullptr, nullptr, nullptr, cost_up.data(), nullptr), 0);
  EXPECT_NEAR(cost_up[1], -1.0, 1e-6);
}

TEST_F(Ranging, RefusesWhatItCannotRange) {
  // Not optimal: x >= 2 and x <= 1.
  AccessProblem infeasible;
  infeasible.row_types = "GL";
  infeasible.rhs = {2, 1};
  infeasible.columns = {{{{0, 1.0}, {1, 1.0}}, 0, kltest::kAccessInf, 1}};
  ASSERT_EQ(load(infeasible), 0);
  KLMINIM("");
  EXPECT_EQ(KLRANGE(), 32);

  // Optimal, but its solution file has gone: a file error, not "no problem".
  ASSERT_EQ(load(two_variables()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  std::filesystem::remove(solution_file());
  EXPECT_EQ(KLRANGE(), 32);
  EXPECT_EQ(last_error(), 122);
  EXPECT_FALSE(std::filesystem::exists(dir.file("lp.rng")));
}

// A row the global search added as a cut has no record in the solution
// file: the range file leaves it out in step, so every record keeps its
// own name and the column records still follow the model rows.
TEST_F(Ranging, CutRowsAreLeftOutInStep) {
  AccessProblem p = two_variables();
  p.row_types += 'L';  // x <= 100, not binding, held as a cut
  p.rhs.push_back(100);
  p.columns[0].entries.push_back({2, 1.0});
  ASSERT_EQ(load(p), 0);
  kl::cut_row_count = 1;
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  std::vector<double> low(3, 99.0), cost_low(2), cost_up(2);
  ASSERT_EQ(KLROWRANGE(nullptr, low.data(), nullptr, nullptr), 0);
  EXPECT_NEAR(low[0], 3.0, 1e-6);
  EXPECT_NEAR(low[1], 0.0, 1e-6);
  EXPECT_EQ(low[2], 99.0);
  ASSERT_EQ(KLCOLRANGE(nullptr, nullptr, nullptr, nullptr, cost_up.data(), cost_low.data()), 0);
  EXPECT_NEAR(cost_low[0], -2.0, 1e-6);
  EXPECT_NEAR(cost_up[0], 0.0, 1e-6);
  EXPECT_NEAR(cost_up[1], -1.0, 1e-6);
  kl::cut_row_count = 0;
}

// ---------------------------------------------------------------------------
// Netlib: re-solving at the ends of a range keeps the objective on the line
// the optimal basis predicts.

class NetlibRanging : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
  kltest::TempDir dir;
};

bool near(double a, double b) { return std::fabs(a - b) <= 1e-6 * (1.0 + std::fabs(a) + std::fabs(b)); }

TEST_P(NetlibRanging, RangeEndsKeepTheObjectiveLinear) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(source, "netlib/" + name + ".mps");
  std::filesystem::copy_file(source, dir.file(name + ".mps"));
  const std::string stem = dir.file(name);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);

  const int32_t nrows = int_attribute_value(1001);
  const int32_t ncols = int_attribute_value(1018);
  ColumnRanges ranges(ncols);
  ASSERT_EQ(ranges.fetch(), 0);
  std::vector<double> x(ncols), dj(ncols), cost(ncols);
  std::vector<int32_t> row_basis(nrows), col_basis(ncols);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, dj.data()), 0);
  ASSERT_EQ(KLGETBASIS(row_basis.data(), col_basis.data()), 0);
  ASSERT_EQ(KLGETOBJ(cost.data(), 0, ncols - 1), 0);
  const double optimum = objective_value();

  int32_t checked = 0;
  for (int32_t j = 0; j < ncols; ++j) {
    SCOPED_TRACE(name + " column " + std::to_string(j));
    if (col_basis[j] == 1) {
      // Cost ranging: at either end the basis stays optimal, so the
      // objective moves by the cost change times the value.
      for (const double end : {ranges.cost_low[j], ranges.cost_up[j]}) {
        if (std::fabs(end) >= kUnlimited) continue;
        ASSERT_EQ(KLCHGOBJ(1, &j, &end), 0);
        ASSERT_EQ(KLMINIM(""), 0);
        EXPECT_TRUE(near(objective_value(), optimum + (end - cost[j]) * x[j]))
            << "cost " << end << " gives " << objective_value();
        ASSERT_EQ(KLCHGOBJ(1, &j, &cost[j]), 0);
        ++checked;
      }
    } else {
      // Activity ranging: fixing the column anywhere within its activity
      // range keeps the basis feasible, so the objective moves by the
      // reduced cost times the move.
      for (const double end : {ranges.low[j], ranges.up[j]}) {
        if (std::fabs(end) >= kUnlimited) continue;
        std::vector<double> bounds(2);
        ASSERT_EQ(KLGETBDL(&bounds[0], j, j), 0);
        ASSERT_EQ(KLGETBDU(&bounds[1], j, j), 0);
        const char fix = 'B';
        ASSERT_EQ(KLCHGBDS(1, &j, &fix, &end), 0);
        ASSERT_EQ(KLMINIM(""), 0);
        EXPECT_TRUE(near(objective_value(), optimum + dj[j] * (end - x[j])))
            << "value " << end << " gives " << objective_value();
        const int32_t both[2] = {j, j};
        ASSERT_EQ(KLCHGBDS(2, both, "LU", bounds.data()), 0);
        ++checked;
      }
    }
  }
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_TRUE(near(objective_value(), optimum));
  EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Netlib, NetlibRanging, ::testing::Values("afiro", "adlittle"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
