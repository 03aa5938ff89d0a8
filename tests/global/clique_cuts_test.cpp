// Clique cuts: the conflict graph by probing, the clique search on the
// complement graph, and cuts that hold at every binary-feasible point.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "global/clique_cuts.h"
#include "global/cut_test_support.h"
#include "global/row_classes.h"
#include "global/node_loop.h"
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

class CliqueCuts : public LibrarySession {
 protected:
  // Each test writes its solution files in a directory of its own, so
  // tests running side by side never share one.
  TempDir dir;
  std::string problem_name() const { return dir.file("p"); }
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
  }

  // Loads ip with its binaries, solves the relaxation and classifies the
  // rows as the search start does.
  bool prepare(const DenseIp& ip, bool max, std::vector<double>& x) {
    if (ip.array().load_global(problem_name().c_str()) != 0) return false;
    if ((max ? KLMAXIM("l") : KLMINIM("l")) != 0 || lp_status != 1) return false;
    int32_t error = 0;
    preprocess_mip_rows(error);
    if (error != 0) return false;
    set_nonbasic_values();
    x.assign(static_cast<size_t>(ip.columns()), 0.0);
    return KLSOLUTION(x.data(), nullptr, nullptr, nullptr) == 0;
  }

  // One call in node mode; the cuts it stored, read back.
  std::vector<PoolCut> generate(const DenseIp& ip, int32_t& found) {
    const int32_t before_records = search_record.stored_cut_count;
    std::vector<int32_t> list(64, 0);
    int32_t count = 0;
    generate_clique_cuts(found, 1, 7, 64, count, list.data());
    EXPECT_EQ(count, search_record.stored_cut_count - before_records);
    std::vector<PoolCut> cuts;
    for (int32_t n = 0; n < count; ++n) cuts.push_back(read_pool_cut(list[static_cast<size_t>(n)], ip.columns()));
    return cuts;
  }
};

DenseIp binaries(const std::string& types, std::vector<double> rhs, std::vector<std::vector<double>> a,
                 std::vector<double> cost) {
  DenseIp ip;
  ip.types = types;
  ip.rhs = std::move(rhs);
  ip.a = std::move(a);
  ip.cost = std::move(cost);
  ip.lower.assign(ip.cost.size(), 0.0);
  ip.upper.assign(ip.cost.size(), 1.0);
  ip.integer.assign(ip.cost.size(), true);
  ip.binaries_as_b = true;
  return ip;
}

// Three set rows pairwise over x1, x2, x3 at 1/2: one cut x1 + x2 + x3 <= 1;
// x2 and x3 are then covered and make no second cut.
TEST_F(CliqueCuts, TriangleOfSetRowsGivesOneCut) {
  const DenseIp ip = binaries("LLL", {1, 1, 1}, {{1, 1, 0}, {0, 1, 1}, {1, 0, 1}}, {1, 1, 1});
  std::vector<double> x;
  ASSERT_TRUE(prepare(ip, true, x));
  for (const double v : x) ASSERT_NEAR(v, 0.5, 1e-9);
  const int32_t status_before = lp_status;
  int32_t found = 0, count = 0;
  const int32_t before = search_record.stored_cut_count;
  generate_clique_cuts(found, 0, 0, 0, count, nullptr);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(lp_status, status_before);
  ASSERT_EQ(search_record.stored_cut_count, before + 1);
  // The newest record.
  int32_t record = 0;
  for (int32_t r = 1; r <= icv(ic::MXCPOL); ++r)
    if (cut_record_field(r, CUT_FIELD_FIRST) >= 0 && cut_record_field(r, CUT_FIELD_TYPE) == 0x20) record = r;
  ASSERT_GT(record, 0);
  const PoolCut cut = read_pool_cut(record, 3);
  EXPECT_EQ(cut.sense, 'L');
  EXPECT_NE(cut.flags & CUT_NEW_IN_ROUND, 0);
  EXPECT_DOUBLE_EQ(cut.rhs, 1.0);
  for (const double c : cut.coef) EXPECT_DOUBLE_EQ(c, 1.0);
}

// The same on the >= side: (1 - x_i) + (1 - x_j) <= 1 pairwise gives a
// clique of complements: -x1 - x2 - x3 <= 1 - 3.
TEST_F(CliqueCuts, ComplementCliqueHasRightHandSideOneMinusSize) {
  const DenseIp ip = binaries("GGG", {1, 1, 1}, {{1, 1, 0}, {0, 1, 1}, {1, 0, 1}}, {1, 1, 1});
  std::vector<double> x;
  ASSERT_TRUE(prepare(ip, false, x));
  int32_t found = 0;
  const std::vector<PoolCut> cuts = generate(ip, found);
  ASSERT_EQ(cuts.size(), 1u);
  EXPECT_EQ(cuts[0].type, 7);
  EXPECT_DOUBLE_EQ(cuts[0].rhs, -2.0);
  for (const double c : cuts[0].coef) EXPECT_DOUBLE_EQ(c, -1.0);
}

// One fractional binary makes at most two literals of one column and no
// conflict: nothing is probed and nothing stored.
TEST_F(CliqueCuts, FewerThanTwoNodesMakeNoCut) {
  const DenseIp ip = binaries("L", {1.5}, {{3.0, 0.0}}, {1, 1});
  std::vector<double> x;
  ASSERT_TRUE(prepare(ip, true, x));
  int32_t found = 0;
  EXPECT_TRUE(generate(ip, found).empty());
  EXPECT_EQ(found, 0);
  EXPECT_EQ(lp_status, 1);
}

// Random knapsack and set rows over up to eight binaries: every cut holds
// at every binary-feasible point.
TEST_F(CliqueCuts, CutsHoldAtEveryBinaryFeasiblePoint) {
  std::mt19937 rng(11122026);
  std::uniform_int_distribution<int> size_of(4, 8), rows_of(2, 5), weight(1, 9), coin(0, 3), value(1, 6);
  int32_t with_cuts = 0;
  for (int trial = 0; trial < 150; ++trial) {
    const int n = size_of(rng);
    const int m = rows_of(rng);
    DenseIp ip;
    std::vector<std::vector<double>> a;
    std::string types;
    std::vector<double> rhs;
    for (int i = 0; i < m; ++i) {
      std::vector<double> row(static_cast<size_t>(n), 0.0);
      double total = 0.0;
      const bool set_row = coin(rng) == 0;
      for (int j = 0; j < n; ++j) {
        if (coin(rng) == 0) continue;
        row[static_cast<size_t>(j)] = set_row ? 1.0 : weight(rng);
        if (!set_row && coin(rng) == 0) row[static_cast<size_t>(j)] = -row[static_cast<size_t>(j)];
        total += std::max(0.0, row[static_cast<size_t>(j)]);
      }
      a.push_back(row);
      const bool ge = !set_row && coin(rng) == 0;
      types.push_back(ge ? 'G' : 'L');
      rhs.push_back(set_row ? 1.0 : (ge ? -std::floor(total / 2) : std::floor(total * 0.3) + 1));
    }
    std::vector<double> cost;
    for (int j = 0; j < n; ++j) cost.push_back(value(rng));
    ip = binaries(types, rhs, a, cost);
    std::vector<double> x;
    if (!prepare(ip, true, x)) continue;
    int32_t found = 0;
    const std::vector<PoolCut> cuts = generate(ip, found);
    if (cuts.empty()) continue;
    ++with_cuts;
    double worst = 0.0;
    std::string failure;
    check_cuts_valid(ip, cuts, 1e-9, worst, failure);
    EXPECT_TRUE(failure.empty()) << "trial " << trial << ": " << failure;
    for (const PoolCut& cut : cuts) EXPECT_GT(cut.excess(x), 1e-4) << "trial " << trial;
  }
  std::printf("%d instances with clique cuts\n", with_cuts);
  EXPECT_GT(with_cuts, 5);
}

// ---------------------------------------------------------------------------
// The clique search on its own: subgraphs given by their complement lists.

struct Subgraph {
  int32_t n = 0;
  std::vector<int32_t> start{0};  // 1-based: start[1..n+1]
  std::vector<int32_t> list{0};
  std::vector<double> weights{0.0};

  // Builds from non-adjacent pairs (1-based nodes), listed on both sides.
  static Subgraph of(int32_t n, std::vector<double> w, const std::vector<std::pair<int32_t, int32_t>>& pairs) {
    Subgraph g;
    g.n = n;
    g.weights.insert(g.weights.end(), w.begin(), w.end());
    std::vector<std::vector<int32_t>> adj(static_cast<size_t>(n) + 1);
    for (const auto& [i, j] : pairs) {
      adj[static_cast<size_t>(i)].push_back(j);
      adj[static_cast<size_t>(j)].push_back(i);
    }
    g.start.assign(static_cast<size_t>(n) + 2, 1);
    for (int32_t i = 1; i <= n; ++i) {
      g.start[static_cast<size_t>(i)] = static_cast<int32_t>(g.list.size());
      for (const int32_t j : adj[static_cast<size_t>(i)]) g.list.push_back(j);
    }
    g.start[static_cast<size_t>(n) + 1] = static_cast<int32_t>(g.list.size());
    return g;
  }

  std::vector<int32_t> clique(double& weight) const {
    std::vector<int32_t> c(static_cast<size_t>(n) + 2, 0);
    int32_t size = 0;
    find_clique_components(n, static_cast<int32_t>(list.size()) - 1, start.data(), list.data(), weights.data(), size,
                           c.data(), weight);
    return std::vector<int32_t>(c.begin() + 1, c.begin() + 1 + size);
  }
};

TEST(CliqueSearch, Cases) {
  struct Case {
    const char* what;
    Subgraph graph;
    std::vector<int32_t> clique;
    double weight;
  };
  const std::vector<Case> cases = {
      {"no complement pair: every node", Subgraph::of(3, {0.2, 0.3, 0.4}, {}), {1, 2, 3}, 0.9},
      {"equal pair: the later node", Subgraph::of(2, {0.5, 0.5}, {{1, 2}}), {2}, 0.5},
      {"heavier of a pair", Subgraph::of(3, {0.7, 0.2, 0.1}, {{1, 2}}), {1, 3}, 0.8},
      {"path 1-2-3 in the complement: the ends", Subgraph::of(3, {0.3, 0.5, 0.3}, {{1, 2}, {2, 3}}), {1, 3}, 0.6},
      {"path with a heavy middle", Subgraph::of(3, {0.2, 0.9, 0.2}, {{1, 2}, {2, 3}}), {2}, 0.9},
      {"exchange beats greedy", Subgraph::of(4, {0.3, 0.4, 0.4, 0.1}, {{1, 2}, {1, 3}, {2, 4}}), {2, 3}, 0.8},
  };
  for (const Case& c : cases) {
    double weight = 0.0;
    EXPECT_EQ(c.graph.clique(weight), c.clique) << c.what;
    EXPECT_NEAR(weight, c.weight, 1e-12) << c.what;
  }
}

// A long path in the complement graph has exponentially many independent
// sets: the search must end promptly with an independent set.
TEST(CliqueSearch, LongComponentEndsPromptly) {
  const int32_t n = 900;
  std::vector<std::pair<int32_t, int32_t>> pairs;
  std::vector<double> w;
  for (int32_t i = 1; i <= n; ++i) w.push_back(0.001 * (i % 7 + 1));
  for (int32_t i = 1; i < n; ++i) pairs.push_back({i, i + 1});
  const Subgraph g = Subgraph::of(n, w, pairs);
  const auto started = std::chrono::steady_clock::now();
  double weight = 0.0;
  const std::vector<int32_t> clique = g.clique(weight);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 20.0);
  ASSERT_FALSE(clique.empty());
  for (size_t k = 1; k < clique.size(); ++k) EXPECT_GT(clique[k], clique[k - 1] + 1) << "adjacent path nodes";
}

}  // namespace
