// The cut generation exports: one generator pass into the pool, the best
// pool cuts into the LP, a caller's own knapsack, the Gomory round at the
// node, and a search whose cut-manager callback uses them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "global/cut_test_support.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;
using namespace kltest;

constexpr int32_t kBestIntegerObjective = 2003;
constexpr int32_t kObjectiveValue = 2001;

double double_attr(int32_t n) {
  double v = 0.0;
  KLGETDPV(n, &v);
  return v;
}

// maximise 5x1 + 4x2 + 3x3 + 2x4: two knapsacks over integers in [0, 3].
DenseIp small_ip() {
  DenseIp ip;
  ip.types = "LL";
  ip.rhs = {10.5, 11.0};
  ip.a = {{3.0, 2.5, 2.0, 1.0}, {1.0, 2.0, 3.5, 2.5}};
  ip.cost = {5.0, 4.0, 3.0, 2.0};
  ip.lower.assign(4, 0.0);
  ip.upper.assign(4, 3.0);
  ip.integer.assign(4, true);
  return ip;
}

double ip_optimum(const DenseIp& ip) {
  double best = -std::numeric_limits<double>::infinity();
  ip.for_each_feasible([&](const std::vector<double>& x) {
    double v = 0.0;
    for (size_t j = 0; j < x.size(); ++j) v += ip.cost[j] * x[j];
    best = std::max(best, v);
  });
  return best;
}

class CutGeneration : public LibrarySession {
 protected:
  // Each test writes its solution files in a directory of its own, so
  // tests running side by side never share one.
  TempDir dir;
  std::string problem_name() const { return dir.file("p"); }
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
  }
  double solve_root(const DenseIp& ip) {
    EXPECT_EQ(ip.array().load_global(problem_name().c_str()), 0);
    EXPECT_EQ(KLMAXIM("l"), 0);
    EXPECT_EQ(lp_status, 1);
    return double_attr(kObjectiveValue);
  }
};

// KLGENGOMCUT lists each new cut once and never more than capacity; with
// capacity 0 the cuts are stored but none is listed. Every listed cut holds
// at the integer points.
TEST_F(CutGeneration, GomoryExportListsWithinCapacity) {
  const DenseIp ip = small_ip();
  solve_root(ip);
  int32_t count = -1;
  const int32_t before = search_record.stored_cut_count;
  ASSERT_EQ(KLGENGOMCUT(3, 0, &count, nullptr), 0);
  EXPECT_EQ(count, 0);
  const int32_t stored_without_list = search_record.stored_cut_count - before;
  EXPECT_GT(stored_without_list, 0);

  std::vector<int32_t> list(1, 0);
  ASSERT_EQ(KLGENGOMCUT(3, 1, &count, list.data()), 0);
  EXPECT_EQ(count, 1);
  list.assign(20, 0);
  ASSERT_EQ(KLGENGOMCUT(3, 20, &count, list.data()), 0);
  ASSERT_GT(count, 0);
  std::vector<PoolCut> cuts;
  for (int32_t n = 0; n < count; ++n) {
    for (int32_t m = 0; m < n; ++m) EXPECT_NE(list[static_cast<size_t>(n)], list[static_cast<size_t>(m)]);
    cuts.push_back(read_pool_cut(list[static_cast<size_t>(n)], ip.columns()));
    EXPECT_EQ(cuts.back().type, 3);
    EXPECT_NE(cuts.back().flags & CUT_NEW_IN_ROUND, 0);
  }
  double worst = 0.0;
  std::string failure;
  check_cuts_valid(ip, cuts, 1e-6, worst, failure);
  EXPECT_TRUE(failure.empty()) << failure;

  // Bad arguments: a null count, a negative capacity, a list missing.
  EXPECT_EQ(KLGENGOMCUT(3, 5, nullptr, list.data()), 32);
  EXPECT_EQ(KLGENGOMCUT(3, -1, &count, list.data()), 32);
  EXPECT_EQ(KLGENGOMCUT(3, 5, &count, nullptr), 32);
}

// Without a current optimal solution the generators refuse with 422.
TEST_F(CutGeneration, GeneratorsNeedACurrentSolution) {
  const DenseIp ip = small_ip();
  ASSERT_EQ(ip.array().load_global(problem_name().c_str()), 0);
  int32_t count = 0;
  int32_t list[4] = {};
  EXPECT_EQ(KLGENGOMCUT(3, 4, &count, list), 32);
  int32_t error = 0;
  KLGETIPV(1023, &error);
  EXPECT_EQ(error, 422);
  EXPECT_EQ(KLGENCLQCUT(3, 4, &count, list), 32);
}

// KLLOADBESTCUT: the listed Gomory cuts enter the LP and the re-solved
// bound lies between the integer optimum and the LP bound; delete level 2
// then takes the non-binding cut rows out again; mode 0 with no list loads
// nothing but re-solves an LP without a current solution.
TEST_F(CutGeneration, LoadBestCutsTightensAndDeletes) {
  const DenseIp ip = small_ip();
  const double optimum = ip_optimum(ip);
  const double lp = solve_root(ip);
  ASSERT_GT(lp, optimum + 1e-6);
  std::vector<int32_t> list(50, 0);
  int32_t count = 0;
  ASSERT_EQ(KLGENGOMCUT(0, 50, &count, list.data()), 0);
  ASSERT_GT(count, 0);
  int32_t violated = 0, loaded = 0, deleted = 0;
  ASSERT_EQ(KLLOADBESTCUT(0, 0, count, list.data(), &violated, &loaded, &deleted), 0);
  EXPECT_GT(violated, 0);
  EXPECT_GT(loaded, 0);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(cut_row_count, loaded);
  EXPECT_EQ(lp_status, 1);
  const double bound = double_attr(kObjectiveValue);
  EXPECT_LT(bound, lp - 1e-7);
  EXPECT_GE(bound, optimum - 1e-6);

  // A second generation from the tightened LP, loaded through the 0x200
  // flag (mode 1) rather than the list.
  ASSERT_EQ(KLGENGOMCUT(0, 0, &count, nullptr), 0);
  ASSERT_EQ(KLLOADBESTCUT(1, 2, 0, nullptr, &violated, &loaded, &deleted), 0);
  EXPECT_EQ(lp_status, 1);
  EXPECT_GE(double_attr(kObjectiveValue), optimum - 1e-6);
  EXPECT_LE(double_attr(kObjectiveValue), bound + 1e-7);
  // Non-binding rows left after the re-solve.
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t r = nrow - cut_row_count + 1; r <= nrow; ++r) EXPECT_EQ(status[r] & PS_BASIC, 0) << "cut row " << r;

  problem_flags &= ~PF_SOLUTION_CURRENT;
  const int32_t rows = cut_row_count;
  ASSERT_EQ(KLLOADBESTCUT(0, 0, 0, nullptr, &violated, &loaded, &deleted), 0);
  EXPECT_EQ(violated, 0);
  EXPECT_EQ(loaded, 0);
  EXPECT_EQ(cut_row_count, rows);
  EXPECT_NE(problem_flags & PF_SOLUTION_CURRENT, 0);
  EXPECT_EQ(lp_status, 1);

  // A number that names no stored cut.
  const int32_t bad[1] = {icv(ic::MXCPOL) + 5};
  EXPECT_EQ(KLLOADBESTCUT(0, 0, 1, bad, &violated, &loaded, &deleted), 32);
}

// The Gomory round as at a node: cuts loaded, the LP re-solved, the bound
// between the optimum and the LP value; a pass that loads nothing ends it.
TEST_F(CutGeneration, GomoryRoundTightensTheRoot) {
  const DenseIp ip = small_ip();
  const double optimum = ip_optimum(ip);
  const double lp = solve_root(ip);
  KLSETICV(KLIC_NITGOM, 5);
  int32_t found = 0;
  ASSERT_EQ(KLGOMORY(0, 0, &found), 0);
  EXPECT_GT(found, 0);
  EXPECT_GT(cut_row_count, 0);
  EXPECT_EQ(lp_status, 1);
  const double bound = double_attr(kObjectiveValue);
  EXPECT_LT(bound, lp - 1e-7);
  EXPECT_GE(bound, optimum - 1e-6);
  // Single mode stores without loading.
  const int32_t rows = cut_row_count;
  int32_t stored = 0;
  ASSERT_EQ(KLGOMORY(1, 9, &stored), 0);
  EXPECT_EQ(cut_row_count, rows);
}

// Minimising a positive objective outside a search: the re-solves after
// loading cuts end optimal (no search cutoff applies).
TEST_F(CutGeneration, GomoryRoundOutsideASearchIgnoresTheCutoff) {
  DenseIp ip;
  ip.types = "GG";
  ip.rhs = {4.5, 2.5};
  ip.a = {{3.0, 2.0, 2.0}, {0.0, 1.0, 3.5}};
  ip.cost = {5.0, 4.0, 3.0};
  ip.lower.assign(3, 0.0);
  ip.upper.assign(3, 3.0);
  ip.integer.assign(3, true);
  double optimum = std::numeric_limits<double>::infinity();
  ip.for_each_feasible([&](const std::vector<double>& x) {
    optimum = std::min(optimum, 5.0 * x[0] + 4.0 * x[1] + 3.0 * x[2]);
  });
  ASSERT_EQ(ip.array().load_global(problem_name().c_str()), 0);
  ASSERT_EQ(KLMINIM("l"), 0);
  const double lp = double_attr(kObjectiveValue);
  ASSERT_LT(lp, optimum - 1e-6);
  int32_t found = 0;
  ASSERT_EQ(KLGOMORY(0, 0, &found), 0);
  EXPECT_GT(found, 0);
  EXPECT_EQ(lp_status, 1);
  EXPECT_GT(double_attr(kObjectiveValue), lp + 1e-7);
  EXPECT_LE(double_attr(kObjectiveValue), optimum + 1e-6);
}

// KLSEPCUT's limits and an MIR cut on a small knapsack: 2x1 + 2x2 <= 3 at
// x = 0.75 gives 2x1 + 2x2 <= 2.
TEST_F(CutGeneration, SeparateUserKnapsack) {
  int32_t result = 9;
  double rhs = 0.0, continuous = 0.0;
  std::vector<double> a(30001, 1.0), u(30001, 1.0), x(30001, 0.5), c(30001, 0.0);
  ASSERT_EQ(KLSEPCUT(1, 30001, a.data(), u.data(), x.data(), 10.0, 0.0, &result, c.data(), &rhs, &continuous), 0);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(KLSEPCUT(1, 30000, a.data(), u.data(), x.data(), 10.0, 0.0, &result, c.data(), &rhs, &continuous), 0);
  EXPECT_GE(result, 0);
  a[1] = -1e-300;
  ASSERT_EQ(KLSEPCUT(2, 3, a.data(), u.data(), x.data(), 1.0, 0.0, &result, c.data(), &rhs, &continuous), 0);
  EXPECT_EQ(result, -2);
  ASSERT_EQ(KLSEPCUT(2, 0, nullptr, nullptr, nullptr, 1.0, 0.0, &result, nullptr, &rhs, &continuous), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(KLSEPCUT(2, -1, nullptr, nullptr, nullptr, 1.0, 0.0, &result, nullptr, &rhs, &continuous), 32);

  const double wa[2] = {2.0, 2.0}, wu[2] = {1.0, 1.0}, wx[2] = {0.75, 0.75};
  double wc[2] = {0.0, 0.0};
  ASSERT_EQ(KLSEPCUT(1, 2, wa, wu, wx, 3.0, 0.0, &result, wc, &rhs, &continuous), 0);
  ASSERT_EQ(result, 1);
  EXPECT_NEAR(wc[0], 2.0, 1e-9);
  EXPECT_NEAR(wc[1], 2.0, 1e-9);
  EXPECT_NEAR(rhs, 2.0, 1e-9);
  // An item range above 20 is refused by the lifted cover separator.
  const double ru[2] = {21.0, 21.0}, rx[2] = {1.5, 1.5};
  ASSERT_EQ(KLSEPCUT(2, 2, wa, ru, rx, 5.0, 0.0, &result, wc, &rhs, &continuous), 0);
  EXPECT_EQ(result, 0);
}

// A cut-manager callback that adds Gomory cuts through the exports at every
// node reaches the optimum the plain search finds.
int32_t callback_rounds = 0;
int32_t gomory_callback() {
  if (callback_rounds >= 200) return 0;
  std::vector<int32_t> list(40, 0);
  int32_t count = 0;
  if (KLGENGOMCUT(0, 40, &count, list.data()) != 0 || count == 0) return 0;
  int32_t violated = 0, loaded = 0, deleted = 0;
  if (KLLOADBESTCUT(0, 0, count, list.data(), &violated, &loaded, &deleted) != 0) return 0;
  ++callback_rounds;
  return loaded > 0 ? 1 : 0;
}

TEST_F(CutGeneration, CallbackCutsKeepTheSearchOptimum) {
  const DenseIp ip = small_ip();
  const double optimum = ip_optimum(ip);
  KLSETICV(KLIC_CUTSTRAT, 0);
  ASSERT_EQ(ip.array().load_global(problem_name().c_str()), 0);
  ASSERT_EQ(KLMAXIM("g"), 0);
  EXPECT_NEAR(double_attr(kBestIntegerObjective), optimum, 1e-6);
  callback_rounds = 0;
  ASSERT_EQ(ip.array().load_global(problem_name().c_str()), 0);
  ASSERT_EQ(KLDEFINECMENTRY(gomory_callback), 0);
  ASSERT_EQ(KLMAXIM("g"), 0);
  EXPECT_GT(callback_rounds, 0);
  EXPECT_NEAR(double_attr(kBestIntegerObjective), optimum, 1e-6);
  KLDEFINECMENTRY(nullptr);
}

// The row-based and clique generators through their exports, from the
// callback of a search over binaries with knapsack and set rows.
int32_t row_cuts_listed = 0;
int32_t clique_cuts_listed = 0;
int32_t row_cut_callback() {
  if (callback_rounds >= 100) return 0;
  std::vector<int32_t> list(60, 0);
  int32_t knapsack = 0, clique = 0;
  if (KLGENKNPCUT(0x3ff, 6, 11, 30, &knapsack, list.data()) != 0) return 0;
  if (KLGENCLQCUT(12, 30, &clique, list.data() + knapsack) != 0) return 0;
  row_cuts_listed += knapsack;
  clique_cuts_listed += clique;
  if (knapsack + clique == 0) return 0;
  int32_t violated = 0, loaded = 0, deleted = 0;
  if (KLLOADBESTCUT(0, 0, knapsack + clique, list.data(), &violated, &loaded, &deleted) != 0) return 0;
  ++callback_rounds;
  return loaded > 0 ? 1 : 0;
}

TEST_F(CutGeneration, RowAndCliqueCutsFromACallbackKeepTheOptimum) {
  DenseIp ip;
  ip.types = "LLLLL";
  ip.rhs = {9.0, 1.0, 1.0, 1.0, 11.0};
  ip.a = {{4, 5, 3, 6, 2, 0, 0, 0},
          {1, 1, 0, 0, 0, 0, 0, 0},
          {0, 1, 1, 0, 0, 1, 0, 0},
          {0, 0, 0, 1, 1, 0, 1, 1},
          {0, 3, 0, 4, 5, 6, 7, 2}};
  ip.cost = {7, 8, 5, 9, 4, 6, 5, 3};
  ip.lower.assign(8, 0.0);
  ip.upper.assign(8, 1.0);
  ip.integer.assign(8, true);
  ip.binaries_as_b = true;
  const double optimum = ip_optimum(ip);
  KLSETICV(KLIC_CUTSTRAT, 0);
  callback_rounds = 0;
  row_cuts_listed = 0;
  clique_cuts_listed = 0;
  ASSERT_EQ(ip.array().load_global(problem_name().c_str()), 0);
  ASSERT_EQ(KLDEFINECMENTRY(row_cut_callback), 0);
  ASSERT_EQ(KLMAXIM("g"), 0);
  EXPECT_GT(row_cuts_listed + clique_cuts_listed, 0);
  EXPECT_NEAR(double_attr(kBestIntegerObjective), optimum, 1e-6);
  KLDEFINECMENTRY(nullptr);
}

}  // namespace
