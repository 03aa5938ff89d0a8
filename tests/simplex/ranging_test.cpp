// KLRANGE, KLROWRANGE and KLCOLRANGE: the ranges of hand-solved LPs, the
// refusals and a missing solution file. Real problems are ranged in
// tests/data/ranging_data_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "simplex/ranging.h"
#include "simplex/access_fixture.h"

namespace {

using kltest::AccessProblem;

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

// min x + 0.002 y:  x + 0.001 y = 10;  x, y >= 0.  x = 10 is basic. Its cost
// may rise to 2, where y enters; kept basic, x then falls without limit
// (y has no upper bound and nothing else stops it), which must read as
// unlimited, not as the small entry times some large number. Unscaled, so
// that the entry stays small.
TEST_F(Ranging, UnlimitedMoveAtACostEndReadsUnlimited) {
  KLSETICV(KLIC_IFSCAL, 0);
  AccessProblem p;
  p.row_types = "E";
  p.rhs = {10};
  p.columns = {
      {{{0, 1.0}}, 0, kltest::kAccessInf, 1},
      {{{0, 0.001}}, 0, kltest::kAccessInf, 0.002},
  };
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  ColumnRanges cols(2);
  ASSERT_EQ(cols.fetch(), 0);
  EXPECT_NEAR(cols.cost_up[0], 2.0, 1e-6);
  EXPECT_LE(cols.cost_low[0], -kUnlimited);
  EXPECT_LE(cols.low[0], -kUnlimited) << cols.low[0];
  EXPECT_NEAR(cols.up[0], 10.0, 1e-5);
}

// min 2x + y - w:  r0: 3 <= x + y <= 7 (R),  r1: y + w >= 2;  0 <= x <= 10,
// 0 <= y <= 1, w fixed at 1.5.  Optimum at y = 1 (upper), x = 2 basic, r0 at
// its lower limit 3 (its slack at its upper bound), r1 basic (2.5). By hand,
// with the basis kept: r0's activity a gives x = a - 1 in [0, 10]; w may
// fall to 1 (r1 reaches 2) and rise without limit; y gives x = 3 - y and
// needs y + 1.5 >= 2. A fixed column keeps its value whatever its cost.
AccessProblem ranged_row_and_fixed_column() {
  AccessProblem p;
  p.row_types = "RG";
  p.rhs = {7, 2};
  p.ranges = {4, 0};
  p.columns = {
      {{{0, 1.0}}, 0, 10, 2},
      {{{0, 1.0}, {1, 1.0}}, 0, 1, 1},
      {{{1, 1.0}}, 1.5, 1.5, -1},
  };
  return p;
}

TEST_F(Ranging, NonbasicRangesLieAroundTheirValues) {
  ASSERT_EQ(load(ranged_row_and_fixed_column()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  RowRanges rows(2);
  ColumnRanges cols(3);
  ASSERT_EQ(rows.fetch(), 0);
  ASSERT_EQ(cols.fetch(), 0);
  struct Case {
    const char* what;
    double low, up;  // ranged: inf for unlimited
    double expected_low, expected_up;
  };
  const Case cases[] = {
      {"ranged row at its lower limit", rows.low[0], rows.up[0], 1.0, 11.0},
      {"column at its upper bound", cols.low[1], cols.up[1], 0.5, 3.0},
      {"fixed column", cols.low[2], cols.up[2], 1.0, HUGE_VAL},
      {"fixed column's cost", cols.cost_low[2], cols.cost_up[2], -HUGE_VAL, HUGE_VAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::isinf(c.expected_low)) {
      EXPECT_LE(c.low, -kUnlimited);
    } else {
      EXPECT_NEAR(c.low, c.expected_low, 1e-6);
    }
    if (std::isinf(c.expected_up)) {
      EXPECT_GE(c.up, kUnlimited);
    } else {
      EXPECT_NEAR(c.up, c.expected_up, 1e-6);
    }
  }
}

// two_variables with its rows multiplied by powers of two, so that scaling
// gives them factors other than 1: an unlimited end stays the analysis's
// own infinity, never one divided by a scale factor.
TEST_F(Ranging, UnlimitedEndsStayUnscaledInfinities) {
  AccessProblem p = two_variables();
  p.rhs = {128, 192};
  p.columns[0].entries = {{0, 32.0}};
  p.columns[1].entries = {{0, 32.0}, {1, 64.0}};
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  RowRanges rows(2);
  ColumnRanges cols(2);
  ASSERT_EQ(rows.fetch(), 0);
  ASSERT_EQ(cols.fetch(), 0);
  const auto infinity = static_cast<double>(static_cast<float>(kl::kRangeInfinity));
  EXPECT_NEAR(cols.cost_up[1], -1.0, 1e-6);
  EXPECT_EQ(cols.cost_low[1], -infinity);
  EXPECT_EQ(rows.up[0], infinity);
  EXPECT_NEAR(rows.low[0], 96.0, 1e-4);
}

// max 3x + 2y, x + y <= 4, x + 3y <= 6, x <= 3: x = 3 at its bound, y = 1.
// By hand (and as the peer reports): x's cost may fall to 2/3, where the
// objective row's trade-off makes y the better use, and rise without limit;
// y's may range over [0, 9]. The lower end lies below the upper one in a
// maximisation too.
TEST_F(Ranging, MaximisingKeepsEachCostEndOnItsSide) {
  ASSERT_EQ(load(kltest::production()), 0);
  ASSERT_EQ(KLMAXIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  ColumnRanges cols(2);
  ASSERT_EQ(cols.fetch(), 0);
  EXPECT_NEAR(cols.cost_low[0], 2.0 / 3.0, 1e-6);
  EXPECT_GE(cols.cost_up[0], kUnlimited);
  EXPECT_NEAR(cols.cost_low[1], 0.0, 1e-6);
  EXPECT_NEAR(cols.cost_up[1], 9.0, 1e-5);
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

}  // namespace
