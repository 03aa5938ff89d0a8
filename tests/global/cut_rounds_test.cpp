// The cut rounds: the selection's limits, the single-row and aggregated-row
// separators on small programs (every stored cut checked by enumeration
// against every integer-feasible point), and the variable-upper-bound cuts,
// which are offered again everywhere only when made at the top node.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "global/cut_rounds.h"
#include "global/cut_test_support.h"
#include "global/node_loop.h"
#include "global/search_driver.h"
#include "klsol32.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"

namespace {

using namespace kl;
using namespace kltest;

TEST(CutRoundLimits, CutCountLimitAndCoverMethod) {
  const struct {
    int32_t spare, limit;
  } limits[] = {{100, 50}, {400, 160}, {30, 30}, {0, 0}, {125, 50}, {126, 50}, {130, 52}};
  for (const auto& c : limits) EXPECT_EQ(cut_count_limit(c.spare), c.limit) << c.spare;
  const struct {
    int32_t selection, method;
  } methods[] = {{2047, -1}, {1791, -1}, {0x81, 0}, {0x41, 1}, {0x01, -2}, {0xC0, -2}, {0x10 | 0xC0, -2}, {0xC8, -1}};
  for (const auto& c : methods) EXPECT_EQ(cover_method_of(c.selection), c.method) << c.selection;
}

class NodeCutGate : public LibrarySession {};

TEST_F(NodeCutGate, TreeNodesGetCutsByFrequencyDepthAndPasses) {
  const struct {
    int32_t depth, freq, max_depth, ntrcov, ntrgom;
    bool due;
  } cases[] = {
      {16, 8, 20, 2, 0, true},  {12, 8, 20, 2, 0, false}, {16, 8, 10, 2, 0, false}, {16, 8, 0, 2, 0, false},
      {8, 8, 8, 0, 1, true},    {16, 8, 20, 0, 0, false}, {16, 0, 20, 2, 0, false},
  };
  for (const auto& c : cases) {
    icv(ic::CUTFREQ) = c.freq;
    icv(ic::CUTDEPTH) = c.max_depth;
    icv(ic::NTRCOV) = c.ntrcov;
    icv(ic::NTRGOM) = c.ntrgom;
    EXPECT_EQ(node_cut_round_due(false, c.depth), c.due) << c.depth << " " << c.freq << " " << c.max_depth;
  }
  EXPECT_TRUE(node_cut_round_due(true, 0));
  icv(ic::NITCOV) = 0;
  icv(ic::NITGOM) = 0;
  EXPECT_FALSE(node_cut_round_due(true, 0));
  icv(ic::NITGOM) = 2;
  icv(ic::ICSLCT) = 0;
  EXPECT_FALSE(node_cut_round_due(true, 0));
}

class CutRounds : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
  }
  void TearDown() override {
    node_count = 0;
    LibrarySession::TearDown();
  }

  // Loads ip, solves its relaxation and prepares what a cut round reads:
  // the bound copies, the values of every position, both matrix copies.
  bool prepare(const DenseIp& ip, bool max) {
    if (ip.array().load_global() != 0) return false;
    if ((max ? KLMAXIM("l") : KLMINIM("l")) != 0 || lp_status != 1) return false;
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
    OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
    for (int32_t p = 1; p <= nseq; ++p) {
      work_lower[p] = lower[p];
      work_upper[p] = upper[p];
    }
    if (!make_row_copy_current() || !make_column_copy_current()) return false;
    set_nonbasic_values();
    return true;
  }

  std::vector<PoolCut> cuts_since(int32_t first_record, int32_t columns) {
    std::vector<PoolCut> cuts;
    const int32_t last = icv(ic::MXCPOL) - search_record.saved_bound_count;
    for (int32_t r = first_record; r <= last; ++r)
      if (cut_record_field(r, CUT_FIELD_FIRST) >= 0) cuts.push_back(read_pool_cut(r, columns));
    return cuts;
  }
};

// x1 + x2 - 5y <= 0 with x1 <= 2, x2 <= 1: at the relaxation's optimum y is
// fractional and x1 lies above 2y, so a cut x1 - 2y <= 0 is violated.
DenseIp vub_program() {
  DenseIp ip;
  ip.types = "L";
  ip.rhs = {0.0};
  ip.a = {{1.0, 1.0, -5.0}};
  ip.cost = {1.0, 0.5, -2.0};
  ip.lower = {0.0, 0.0, 0.0};
  ip.upper = {2.0, 1.0, 1.0};
  ip.integer = {false, false, true};
  ip.binaries_as_b = true;
  return ip;
}

TEST_F(CutRounds, VubCutIsOfferedEverywhereOnlyWhenMadeAtTheTopNode) {
  const DenseIp ip = vub_program();
  ASSERT_TRUE(prepare(ip, true));
  const CutListTarget target;
  int32_t stored = 0;
  node_count = 0;
  separate_vub_cuts(1, stored, target);
  ASSERT_GE(stored, 1);
  std::vector<PoolCut> top = cuts_since(1, ip.columns());
  ASSERT_EQ(static_cast<int32_t>(top.size()), stored);
  for (const PoolCut& cut : top) {
    EXPECT_EQ(cut.type, 16);
    EXPECT_EQ(cut.flags & (CUT_TOP_NODE | CUT_NEW_IN_ROUND), CUT_TOP_NODE | CUT_NEW_IN_ROUND);
    // x1 - 2y <= 0 (or x2 - y <= 0): the binary's coefficient is minus the
    // continuous column's upper bound.
    EXPECT_LT(cut.coef[2], 0.0);
  }
  const int32_t records_before = search_record.stored_cut_count;
  node_count = 7;
  separate_vub_cuts(1, stored, target);
  ASSERT_GE(stored, 1);
  EXPECT_EQ(search_record.stored_cut_count, records_before + stored);
  int32_t local = 0;
  for (const PoolCut& cut : cuts_since(1, ip.columns())) {
    if ((cut.flags & CUT_TOP_NODE) != 0) continue;
    ++local;
    EXPECT_EQ(cut.flags & CUT_NEW_IN_ROUND, CUT_NEW_IN_ROUND);
  }
  EXPECT_EQ(local, stored) << "a cut made below the top node was flagged as valid everywhere";
  double worst = 0.0;
  std::string failure;
  EXPECT_GT(check_cuts_valid(ip, cuts_since(1, ip.columns()), 1e-9, worst, failure), 0);
  EXPECT_EQ(failure, "");
}

TEST_F(CutRounds, VubCutNeedsAFractionalBinary) {
  DenseIp ip = vub_program();
  ip.cost = {1.0, 0.5, 0.1};  // y goes to 1 at the relaxation's optimum
  ASSERT_TRUE(prepare(ip, true));
  int32_t stored = 0;
  separate_vub_cuts(1, stored, CutListTarget{});
  EXPECT_EQ(stored, 0);
}

DenseIp random_knapsack(std::mt19937& rng, bool general, bool mixed) {
  std::uniform_int_distribution<int> count(3, 5), weight(1, 9), coin(0, 3), range(1, 3);
  DenseIp ip;
  const int n = count(rng);
  std::vector<double> row;
  double total = 0.0;
  for (int j = 0; j < n; ++j) {
    ip.integer.push_back(true);
    ip.lower.push_back(0.0);
    ip.upper.push_back(general ? range(rng) : 1.0);
    double w = weight(rng);
    if (coin(rng) == 0) w = -w;
    row.push_back(w);
    total += std::fabs(w) * ip.upper.back();
    ip.cost.push_back(weight(rng) + 0.5);
  }
  if (mixed) {
    ip.integer.push_back(false);
    ip.lower.push_back(0.0);
    ip.upper.push_back(2.5 + coin(rng));
    row.push_back(-(1.5 + coin(rng)));
    ip.cost.push_back(-1.0 - coin(rng));
  }
  ip.types = coin(rng) == 0 ? "G" : "L";
  ip.a = {row};
  if (ip.types == "L") {
    ip.rhs = {std::floor(total * 0.45) + 0.5};
  } else {
    for (double& v : ip.a[0]) v = -v;
    ip.rhs = {-(std::floor(total * 0.45) + 0.5)};
  }
  ip.binaries_as_b = !general;
  return ip;
}

// Random knapsack rows, pure and mixed: every cut the row separators store
// holds at every integer-feasible point.
TEST_F(CutRounds, RowAndAggregatedCutsHoldAtEveryIntegerPoint) {
  std::mt19937 rng(1717);
  int32_t programs_with_cuts = 0;
  for (int trial = 0; trial < 240; ++trial) {
    const bool general = trial % 2 == 1;
    const bool mixed = trial % 3 == 0;
    const DenseIp ip = random_knapsack(rng, general, mixed);
    ASSERT_TRUE(prepare(ip, true)) << trial;
    node_count = 0;
    const int32_t side = ip.types == "L" ? 0 : 1;
    const int32_t method = trial % 4 == 0 ? 0 : (trial % 4 == 1 ? 1 : -1);
    int32_t result = 0, stored = 0;
    if (mixed)
      separate_aggregated_row_cut(6, method == -1 ? 1 : method, 1, 1, stored, CutListTarget{});
    else
      separate_row_cover_cut(method, 1, side, result, CutListTarget{});
    const std::vector<PoolCut> cuts = cuts_since(1, ip.columns());
    if (!cuts.empty()) ++programs_with_cuts;
    double worst = 0.0;
    std::string failure;
    check_cuts_valid(ip, cuts, 1e-7, worst, failure);
    EXPECT_EQ(failure, "") << "trial " << trial << (mixed ? " mixed" : general ? " general" : " binary");
    if (!failure.empty()) break;
  }
  EXPECT_GT(programs_with_cuts, 20);
}

}  // namespace
