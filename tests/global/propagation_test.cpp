// Bound propagation over binaries on small rows, its tentative mode and its
// list overflow; probing in a whole search.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "global/probing.h"
#include "global/propagation.h"
#include "global/row_classes.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using namespace kltest;

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kMipFinishedNoSolution = 5;
constexpr int32_t kMipFinishedWithSolution = 6;

// Rows over columns; kinds 'B' binary, 'C' continuous [0, upper].
struct Fixture {
  Fixture(std::string k, std::vector<double> u, std::vector<char> t, std::vector<double> b,
          std::vector<std::vector<double>> m, std::vector<double> r = {}, std::vector<double> c = {})
      : kinds(std::move(k)), upper(std::move(u)), types(std::move(t)), rhs(std::move(b)), a(std::move(m)),
        ranges(std::move(r)), cost(std::move(c)) {}
  std::string kinds;
  std::vector<double> upper;  // empty: 1 for every column
  std::vector<char> types;
  std::vector<double> rhs;
  std::vector<std::vector<double>> a;
  std::vector<double> ranges;  // empty: none
  std::vector<double> cost;    // empty: 0
};

ArrayProblem build(const Fixture& f) {
  ArrayProblem p;
  for (std::size_t i = 0; i < f.types.size(); ++i) p.row(f.types[i], f.rhs[i], f.ranges.empty() ? 0.0 : f.ranges[i]);
  for (std::size_t j = 0; j < f.kinds.size(); ++j) {
    std::vector<std::pair<int32_t, double>> elements;
    for (std::size_t i = 0; i < f.types.size(); ++i)
      if (f.a[i][j] != 0.0) elements.emplace_back(static_cast<int32_t>(i), f.a[i][j]);
    p.column(f.cost.empty() ? 0.0 : f.cost[j], 0.0, f.upper.empty() ? 1.0 : f.upper[j], elements);
    if (f.kinds[j] == 'B') p.entity('B', static_cast<int32_t>(j));
  }
  return p;
}

class Propagation : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFSCAL, 0);
  }
  void prepare(const Fixture& f) {
    ASSERT_EQ(build(f).load_global(), 0);
    ASSERT_EQ(KLMINIM("l"), 0);
    int32_t error = -1;
    preprocess_mip_rows(error);
    ASSERT_EQ(error, 0);
  }
  static int32_t col(int32_t j) { return col_from_caller(j); }
  static void fix(int32_t j, double value) {
    real_array(ARR_LOWER)[col(j)] = value;
    real_array(ARR_UPPER)[col(j)] = value;
    int_array(ARR_POS_STATUS)[col(j)] |= PS_SEARCH_FIXED;
  }
  static std::string text(double v) { return v >= 1e19 ? "inf" : std::to_string(static_cast<int>(v)); }
  // Bounds of every column as "lower/upper" pairs, e.g. "0/1 1/1".
  static std::string bounds(int32_t n) {
    std::string s;
    for (int32_t j = 0; j < n; ++j) {
      if (j > 0) s += ' ';
      s += text(real_array(ARR_LOWER)[col(j)]) + "/" + text(real_array(ARR_UPPER)[col(j)]);
    }
    return s;
  }
  struct Outcome {
    int32_t fixed = 0;
    int32_t overflow = 0;
    int32_t lp_status = 0;
    std::string bounds;
  };
  // Fixes the given columns, then propagates them.
  Outcome propagate(int32_t n, const std::vector<std::pair<int32_t, double>>& fixings, int32_t mode,
                    int32_t capacity = 0) {
    std::vector<int32_t> list(static_cast<std::size_t>(2 * nseq) + 2, 0);
    int32_t count = 0;
    for (const auto& [j, v] : fixings) {
      fix(j, v);
      list[static_cast<std::size_t>(count++)] = v == 0.0 ? col(j) : -col(j);
    }
    lp_status = 1;
    int32_t fixed = 0, unused = -1, overflow = 0;
    propagate_bounds(list.data(), capacity > 0 ? capacity : static_cast<int32_t>(list.size()), count, mode, fixed,
                     unused, overflow);
    EXPECT_EQ(unused, 0);
    return {fixed, overflow, lp_status, bounds(n)};
  }
};

struct PropagationCase {
  const char* name;
  Fixture fixture;
  std::vector<std::pair<int32_t, double>> fixings;
  int32_t lp_status;  // 1 nothing concluded, 0 fixed something, 2 infeasible
  const char* bounds;
};

TEST_F(Propagation, RowsForceTheImpliedBinaries) {
  const std::vector<PropagationCase> cases = {
      {"set row, one member at 1", {"BBB", {}, {'L'}, {1}, {{1, 1, 1}}}, {{0, 1}}, 0, "1/1 0/0 0/0"},
      {"set row on its >= side, one member at 0", {"BB", {}, {'G'}, {1}, {{1, 1}}}, {{0, 0}}, 0, "0/0 1/1"},
      {"set row on its >= side, both at 0", {"BB", {}, {'G'}, {1}, {{1, 1}}}, {{0, 0}, {1, 0}}, 2, "0/0 0/0"},
      {"knapsack 5 x1 + 4 x2 <= 6", {"BB", {}, {'L'}, {6}, {{5, 4}}}, {{0, 1}}, 0, "1/1 0/0"},
      // The equality's other side: the last member able to satisfy it must.
      {"set equality, two at 0", {"BBB", {}, {'E'}, {1}, {{1, 1, 1}}}, {{0, 0}, {1, 0}}, 0, "0/0 0/0 1/1"},
      {"set equality, all at 0", {"BBB", {}, {'E'}, {1}, {{1, 1, 1}}}, {{0, 0}, {1, 0}, {2, 0}}, 2, "0/0 0/0 0/0"},
      // A ranged set row, 0 <= sum <= 1, asks for no member at 1.
      {"ranged set row, all at 0", {"BBB", {}, {'R'}, {1}, {{1, 1, 1}}, {1}}, {{0, 0}, {1, 0}, {2, 0}}, 1,
       "0/0 0/0 0/0"},
      // The continuous column has no upper bound: the row's >= side can't be
      // used, and its <= side is never tight.
      {"needed bound infinite", {"BBC", {1, 1, 1e20}, {'G'}, {1}, {{1, 1, 1}}}, {{0, 0}, {1, 0}}, 1, "0/0 0/0 0/inf"},
      // A chain through two rows.
      {"chain", {"BBB", {}, {'L', 'G'}, {1, 1}, {{1, 1, 0}, {0, 1, 1}}}, {{0, 1}}, 0, "1/1 0/0 1/1"},
  };
  for (const PropagationCase& c : cases) {
    SCOPED_TRACE(c.name);
    prepare(c.fixture);
    const int32_t n = static_cast<int32_t>(c.fixture.kinds.size());
    const Outcome o = propagate(n, c.fixings, PROPAGATE_PERMANENT);
    EXPECT_EQ(o.lp_status, c.lp_status);
    EXPECT_EQ(o.overflow, 0);
    EXPECT_EQ(o.bounds, c.bounds);
  }
}

TEST_F(Propagation, TentativeModeLeavesTheBoundsAsTheyWere) {
  prepare({"BBBB", {}, {'L', 'G'}, {1, 1}, {{1, 1, 1, 0}, {0, 1, 0, 1}}});
  const Outcome o = propagate(4, {{0, 1}}, PROPAGATE_TENTATIVE);
  EXPECT_EQ(o.fixed, 3);  // x2, x3 at 0, then x4 at 1
  EXPECT_EQ(o.lp_status, 0);
  EXPECT_EQ(o.bounds, "1/1 0/1 0/1 0/1");
  for (int32_t j = 1; j < 4; ++j) EXPECT_EQ(int_array(ARR_POS_STATUS)[col(j)] & PS_SEARCH_FIXED, 0);
  for (int32_t r = 1; r <= nrow; ++r)
    EXPECT_EQ(int_array(ARR_ROW_TYPE)[r] & static_cast<int32_t>(RF_PROPAGATION_1 | RF_PROPAGATION_2), 0);
}

TEST_F(Propagation, PermanentFixingsAreReportedAndRecordedInTheEntityStates) {
  prepare({"BBB", {}, {'L'}, {1}, {{1, 1, 1}}});
  KLSETICV(KLIC_IFMSG, 2);
  captured_lines().clear();
  const Outcome o = propagate(3, {{0, 1}}, PROPAGATE_PERMANENT);
  EXPECT_EQ(o.fixed, 2);
  int32_t reported = 0;
  for (const CapturedLine& line : captured_lines())
    if (line.text.find("bound propagation") != std::string::npos) ++reported;
  EXPECT_EQ(reported, 2);
  // Entities 2 and 3 (columns 1 and 2) now have both state words 0.
  for (int32_t e = 2; e <= 3; ++e) {
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_UPPER)[e], 0);
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_LOWER)[e], 0);
  }
}

TEST_F(Propagation, AListOutOfRoomConcludesNothing) {
  // x1 at 1 makes the set row infeasible for x2 at 1 too; with room for
  // the seed only, the first push overflows: no fixing and no verdict.
  prepare({"BBB", {}, {'L'}, {1}, {{1, 1, 1}}});
  fix(1, 1.0);
  const Outcome o = propagate(3, {{0, 1}}, PROPAGATE_TENTATIVE, 1);
  EXPECT_EQ(o.overflow, 1);
  EXPECT_NE(o.lp_status, 2);
  EXPECT_EQ(o.bounds, "1/1 1/1 0/1");
}

class Probing : public Propagation {};

TEST_F(Probing, FixesABinaryWhoseOneSideIsInfeasibleAndKeepsTheOptimum) {
  // x1 <= x2 and x1 + x2 <= 1: x1 at 1 is impossible. Maximise x1 + 2 x2 + x3
  // with x2 + x3 <= 1.5 (LP optimum fractional): the optimum is 2.
  const Fixture f{"BBB", {}, {'L', 'L', 'L'}, {0, 1, 1.5}, {{1, -1, 0}, {1, 1, 0}, {0, 1, 1}}, {}, {1, 2, 1}};
  ASSERT_EQ(build(f).load_global(), 0);
  KLSETICV(KLIC_IFINTP, 4 | 1);
  probing_stats = {};
  ASSERT_EQ(KLMAXIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), kMipFinishedWithSolution);
  double best = 0.0;
  KLGETDPV(KLDA_DINTSL, &best);
  EXPECT_NEAR(best, 2.0, 1e-9);
  EXPECT_GE(probing_stats.fixings, 1);
  // After the search the problem is the one loaded: no bound left fixed.
  EXPECT_EQ(bounds(3), "0/1 0/1 0/1");
}

TEST_F(Probing, AProblemLoadedAfterAStoppedSearchKeepsItsBounds) {
  const Fixture f{"BBB", {}, {'L', 'L', 'L'}, {0, 1, 1.5}, {{1, -1, 0}, {1, 1, 0}, {0, 1, 1}}, {}, {1, 2, 1}};
  ASSERT_EQ(build(f).load_global(), 0);
  KLSETICV(KLIC_IFINTP, 4);
  KLSETICV(KLIC_MAXNOD, -1);  // stop after the root, the search under way
  ASSERT_EQ(KLMAXIM("g"), 0);
  ASSERT_GE(probing_stats.fixings, 1);
  // Another problem of the same shape, then the end of the old search.
  Fixture g{"BBB", {}, {'L'}, {2}, {{1, 1, 1}}, {}, {1, 1, 1}};
  ArrayProblem p = build(g);
  p.lower[0] = 1.0;
  ASSERT_EQ(p.load_global(), 0);
  KLINIGLOBAL();
  EXPECT_EQ(bounds(3), "1/1 0/1 0/1");
}

TEST_F(Probing, ProvesAnIntegerInfeasibleProblemInfeasible) {
  // x1 + x2 = 1 and x1 = x2: the relaxation has x = 0.5, no integer point.
  const Fixture f{"BB", {}, {'E', 'E'}, {1, 0}, {{1, 1}, {1, -1}}, {}, {1, 1}};
  ASSERT_EQ(build(f).load_global(), 0);
  KLSETICV(KLIC_IFINTP, 4);
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), kMipFinishedNoSolution);
}

}  // namespace
