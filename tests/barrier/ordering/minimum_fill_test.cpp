#include "barrier/ordering/minimum_fill.h"

#include <gtest/gtest.h>

#include <vector>

#include "barrier/ordering/ordering_graphs.h"

namespace {

using kltest::Graph;
using kltest::LaidOutGraph;

struct FillRun {
  std::vector<int32_t> perm;
  int64_t estimate = 0;
  int32_t used = 0;
};

// Orders g laid out from entry `first` with `room` entries of elbow room; the
// vectors are sized exactly, so the sanitizer build catches any overrun.
FillRun run_fill(const Graph& g, const std::vector<int32_t>* groups, int32_t tfind,
                 int64_t room = -1, int32_t mark_limit = 0, int32_t n_lead = 0) {
  if (room < 0) room = g.edges() + g.r + 10;
  LaidOutGraph l = kltest::lay_out(g, 5, room);
  FillRun run;
  run.perm.assign(static_cast<size_t>(g.r) + 1, 0);
  std::vector<int32_t> work(static_cast<size_t>(kl::reduced_graph_work_size(g.r)));
  int32_t free_entry = l.free_entry;
  run.estimate = kl::order_reduced_graph(g.r, l.start.data(), l.index.data(), l.length.data(), l.space,
                                         &free_entry, groups != nullptr ? groups->data() : nullptr,
                                         n_lead, tfind, run.perm.data(), work.data(), mark_limit);
  run.used = free_entry;
  EXPECT_LE(free_entry, l.space);
  return run;
}

Graph clique(int32_t r) {
  Graph g(r);
  for (int32_t i = 1; i <= r; ++i) {
    for (int32_t j = i + 1; j <= r; ++j) g.edge(i, j);
  }
  return g;
}

TEST(OrderReducedGraph, GivesPermutationsOnAssortedGraphs) {
  const std::vector<Graph> graphs = {kltest::grid_graph(7, 9), kltest::grid_graph(1, 40),
                                     kltest::random_graph(300, 900, 1), kltest::random_graph(500, 400, 2),
                                     kltest::random_graph(200, 3000, 3), clique(30), Graph(12)};
  for (const Graph& g : graphs) {
    for (int32_t tfind : {0, 1, 25}) {
      FillRun run = run_fill(g, nullptr, tfind);
      EXPECT_TRUE(kltest::is_permutation_of(run.perm, g.r)) << "r " << g.r << " TFIND " << tfind;
      EXPECT_GE(run.estimate, 0);
    }
  }
}

TEST(OrderReducedGraph, CliqueIsOnePivotAndMassElimination) {
  const int32_t r = 20;
  FillRun run = run_fill(clique(r), nullptr, 25);
  // One pivot of weight 1 and degree r - 1; all other nodes are numbered
  // in its block in increasing number, the pivot last.
  EXPECT_EQ(run.estimate, int64_t{r} * (r - 1));
  for (int32_t k = 1; k <= r; ++k) EXPECT_EQ(run.perm[k], k);
}

TEST(OrderReducedGraph, PlainMinimumDegreeTakesMostRecentlyInsertedOnTies) {
  // Path 1-2-3-4-5: both ends have degree 1, 5 was inserted last.
  Graph g(5);
  for (int32_t i = 1; i < 5; ++i) g.edge(i, i + 1);
  FillRun run = run_fill(g, nullptr, 0);
  // After 5, 4 and 3, node 2 heads the list; node 1 is then mass-eliminated
  // with it and numbered in front of it.
  EXPECT_EQ(run.perm, (std::vector<int32_t>{0, 5, 4, 3, 1, 2}));
}

TEST(OrderReducedGraph, IsolatedNodesFollowTheReleaseOrder) {
  Graph g(6);
  FillRun plain = run_fill(g, nullptr, 25);
  EXPECT_EQ(plain.perm, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(plain.estimate, 0);
  // Most negative group first, inside a group the highest number first.
  const std::vector<int32_t> groups = {0, -1, -2, -1, -2, -3, -1};
  FillRun grouped = run_fill(g, &groups, 25);
  EXPECT_EQ(grouped.perm, (std::vector<int32_t>{0, 5, 4, 2, 6, 3, 1}));
  // All group values 0 is the same as no groups.
  Graph grid = kltest::grid_graph(9, 11);
  const std::vector<int32_t> zeros(static_cast<size_t>(grid.r) + 1, 0);
  EXPECT_EQ(run_fill(grid, &zeros, 25).perm, run_fill(grid, nullptr, 25).perm);
}

TEST(OrderReducedGraph, GroupsOfADissectedGridComeInGroupOrder) {
  // A 20 x 21 grid cut by its middle column: the right half (-3) first, then
  // the left half (-2), then the separator column (-1). Every separator node
  // touches both halves, so no absorption crosses a group.
  const int32_t rows = 20;
  const int32_t cols = 21;
  Graph g = kltest::grid_graph(rows, cols);
  std::vector<int32_t> groups(static_cast<size_t>(g.r) + 1, 0);
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) groups[i * cols + j + 1] = j == 10 ? -1 : (j < 10 ? -2 : -3);
  }
  for (int32_t tfind : {0, 25}) {
    FillRun run = run_fill(g, &groups, tfind);
    ASSERT_TRUE(kltest::is_permutation_of(run.perm, g.r));
    for (int32_t k = 2; k <= g.r; ++k) {
      EXPECT_LE(groups[run.perm[k - 1]], groups[run.perm[k]]) << "position " << k;
    }
  }
}

TEST(OrderReducedGraph, EstimateTracksTheSymbolicCount) {
  // The estimate sums v(v-1)/2 + d v over the pivot blocks, with approximate
  // external degrees d, and scales by r / (pivot weight): nodes taken by mass
  // elimination are not counted. On grids, whose blocks are small, that stays
  // just above the exact count of the returned order; on random graphs, whose
  // last pivots mass-eliminate large cliques, it can fall to half of it.
  struct Case {
    Graph g;
    double low;
    double high;
  };
  const std::vector<Case> cases = {{kltest::grid_graph(30, 30), 1.0, 1.1},
                                   {kltest::grid_graph(12, 50), 1.0, 1.1},
                                   {kltest::random_graph(400, 1200, 7), 0.5, 1.5},
                                   {kltest::random_graph(1000, 2500, 3), 0.5, 1.5}};
  for (const Case& c : cases) {
    FillRun run = run_fill(c.g, nullptr, 25);
    ASSERT_TRUE(kltest::is_permutation_of(run.perm, c.g.r));
    const double exact = static_cast<double>(kltest::symbolic_factor_entries(c.g, run.perm));
    EXPECT_GE(static_cast<double>(run.estimate), c.low * exact) << "r " << c.g.r;
    EXPECT_LE(static_cast<double>(run.estimate), c.high * exact) << "r " << c.g.r;
  }
  // A path of five: pivots 5, 4, 3, 2 of degree 1 each, node 1 goes with 2.
  Graph path(5);
  for (int32_t i = 1; i < 5; ++i) path.edge(i, i + 1);
  EXPECT_EQ(run_fill(path, nullptr, 0).estimate, 5 * 4 / 4);
}

TEST(OrderReducedGraph, ReducesFillOnGrids) {
  for (int32_t side : {30, 60}) {
    Graph g = kltest::grid_graph(side, side);
    const int64_t natural = kltest::symbolic_factor_entries(g, kltest::natural_order(g.r));
    for (int32_t tfind : {0, 25}) {
      FillRun run = run_fill(g, nullptr, tfind);
      ASSERT_TRUE(kltest::is_permutation_of(run.perm, g.r));
      const int64_t fill = kltest::symbolic_factor_entries(g, run.perm);
      EXPECT_LT(fill * 2, natural) << side << " TFIND " << tfind;
    }
  }
}

TEST(OrderReducedGraph, MarkResetKeepsTheOrder) {
  // A mark limit just above the node count forces the mark reset at almost
  // every pivot; the order must not change.
  const std::vector<Graph> graphs = {kltest::grid_graph(25, 25), kltest::random_graph(300, 1500, 11)};
  for (const Graph& g : graphs) {
    FillRun natural_limit = run_fill(g, nullptr, 25);
    FillRun low_limit = run_fill(g, nullptr, 25, -1, g.r + 3);
    EXPECT_EQ(natural_limit.perm, low_limit.perm);
    EXPECT_EQ(natural_limit.estimate, low_limit.estimate);
  }
}

TEST(OrderReducedGraph, TightElbowRoomGarbageCollects) {
  // Elbow room of r entries is enough however often the lists are packed,
  // and the order is the one a large room gives.
  const std::vector<Graph> graphs = {kltest::grid_graph(20, 20), kltest::random_graph(300, 2000, 5)};
  for (const Graph& g : graphs) {
    FillRun roomy = run_fill(g, nullptr, 25, 10 * g.edges());
    FillRun tight = run_fill(g, nullptr, 25, g.r);
    ASSERT_TRUE(kltest::is_permutation_of(tight.perm, g.r));
    EXPECT_EQ(tight.estimate, roomy.estimate);
    // No elbow room at all: either a valid order or -1, never an overrun.
    FillRun none = run_fill(g, nullptr, 25, 0);
    if (none.estimate != -1) {
      EXPECT_TRUE(kltest::is_permutation_of(none.perm, g.r));
    }
  }
}

TEST(OrderReducedGraph, ColumnNodesWinEqualScores) {
  // Path 1-2-3: both ends score the same; with n_lead 1 node 1 wins although
  // node 3 heads the list.
  Graph g(3);
  g.edge(1, 2);
  g.edge(2, 3);
  EXPECT_EQ(run_fill(g, nullptr, 25, -1, 0, 0).perm[1], 3);
  EXPECT_EQ(run_fill(g, nullptr, 25, -1, 0, 1).perm[1], 1);
}

}  // namespace
