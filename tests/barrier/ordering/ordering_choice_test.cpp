#include "barrier/ordering/ordering_choice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// An ordering graph laid out as the analysis lays it out: lists from `base`
// on, each edge once (in the list of its lower end).
struct Graph {
  int32_t dim = 0;
  std::vector<std::pair<int32_t, int32_t>> edges;
};

struct ChoiceRun {
  kl::barrier_params params;
  std::vector<int32_t> start, length, permutation, state, index, work;
  int32_t status = 0;
  int32_t method = -1;
};

ChoiceRun order_graph(const Graph& g, int32_t ordering, int32_t n_lead = 0, int32_t space = 0) {
  ChoiceRun r;
  kl::set_barrier_defaults(r.params);
  r.params.ORDERING = ordering;
  r.params.col_count = n_lead;
  r.params.row_count = g.dim - n_lead;
  r.params.var_count = g.dim;
  const int32_t base = 1;
  const int32_t entries = static_cast<int32_t>(g.edges.size());
  r.params.factor_space = space > 0 ? space : base + 12 * entries + 20 * g.dim + 100;
  const size_t slots = static_cast<size_t>(g.dim) + 2;
  r.start.assign(slots, 0);
  r.length.assign(slots, 0);
  r.permutation.assign(slots, 0);
  r.state.assign(slots, 0);
  r.index.assign(static_cast<size_t>(r.params.factor_space) + 1, 0);
  std::vector<std::vector<int32_t>> own(slots);
  for (auto [x, y] : g.edges) own[static_cast<size_t>(std::min(x, y))].push_back(std::max(x, y));
  int32_t f = base;
  for (int32_t v = 1; v <= g.dim; ++v) {
    r.start[static_cast<size_t>(v)] = f;
    for (int32_t u : own[static_cast<size_t>(v)]) r.index[static_cast<size_t>(f++)] = u;
    r.length[static_cast<size_t>(v)] = f - r.start[static_cast<size_t>(v)];
  }
  r.work.assign(static_cast<size_t>(kl::ordering_work_ints(r.params, g.dim)), 0);
  kl::order_normal_matrix(r.params, g.dim, r.start.data(), r.length.data(), r.permutation.data(), r.state.data(),
                          r.index.data(), n_lead, 25, r.work.data(), r.status, &r.method);
  return r;
}

bool is_permutation_of_nodes(const ChoiceRun& r, int32_t dim) {
  std::vector<int32_t> p(r.permutation.begin() + 1, r.permutation.begin() + dim + 1);
  std::sort(p.begin(), p.end());
  for (int32_t k = 0; k < dim; ++k)
    if (p[static_cast<size_t>(k)] != k + 1) return false;
  return true;
}

Graph cycle(int32_t dim) {
  Graph g;
  g.dim = dim;
  for (int32_t v = 1; v <= dim; ++v) g.edges.push_back({v, v % dim + 1});
  return g;
}

// A cycle with `chords` chords v -- v + dim/2 on its first nodes: those
// nodes have degree 3, the others 2.
Graph cycle_with_chords(int32_t dim, int32_t chords) {
  Graph g = cycle(dim);
  for (int32_t v = 1; v <= chords; ++v) g.edges.push_back({v, v + dim / 2});
  return g;
}

// Circulant graph: v joined to v+1..v+reach (mod dim).
Graph circulant(int32_t dim, int32_t reach) {
  Graph g;
  g.dim = dim;
  for (int32_t v = 1; v <= dim; ++v)
    for (int32_t d = 1; d <= reach; ++d) g.edges.push_back({v, (v - 1 + d) % dim + 1});
  return g;
}

TEST(OrderingChoice, SizeAndDensityChooseTheMethod) {
  struct ChoiceCase {
    const char* name;
    Graph graph;
    int32_t ordering;
    int32_t n_lead;
    int32_t method;
  };
  const ChoiceCase cases[] = {
      {"749 active nodes: minimum degree", cycle(749), 0, 0, kl::ORDERING_METHOD_MINIMUM_DEGREE},
      {"750 active nodes, average degree 2: minimum fill", cycle(750), 0, 0, kl::ORDERING_METHOD_MINIMUM_FILL},
      {"augmented path: minimum degree", cycle(2000), 0, 10, kl::ORDERING_METHOD_MINIMUM_DEGREE},
      {"average degree 2.9: minimum fill", cycle_with_chords(760, 342), 0, 0, kl::ORDERING_METHOD_MINIMUM_FILL},
      {"average degree 3.0, sparse: dissection", cycle_with_chords(760, 380), 0, 0, kl::ORDERING_METHOD_DISSECTION},
      {"density above 0.25: minimum fill", circulant(760, 100), 0, 0, kl::ORDERING_METHOD_MINIMUM_FILL},
      {"ORDERING 1 on a small graph", cycle_with_chords(100, 50), 1, 0, kl::ORDERING_METHOD_MINIMUM_FILL},
      {"ORDERING 3 on a small graph", cycle(100), 3, 0, kl::ORDERING_METHOD_DISSECTION},
      {"ORDERING 7 counts as dissection", cycle(100), 7, 0, kl::ORDERING_METHOD_DISSECTION},
      {"ORDERING 2 on a large graph", cycle(1000), 2, 0, kl::ORDERING_METHOD_MINIMUM_DEGREE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ChoiceRun r = order_graph(c.graph, c.ordering, c.n_lead);
    EXPECT_EQ(r.method, c.method);
    if (r.status == 0) {
      EXPECT_EQ(r.params.pivot_count, c.graph.dim);
      EXPECT_TRUE(is_permutation_of_nodes(r, c.graph.dim));
    }
  }
}

TEST(OrderingChoice, NodesOfDegreeAtMostOneArePeeledEntirely) {
  Graph g;
  g.dim = 801;  // 400 pairs and an isolated node
  for (int32_t v = 1; v + 1 <= 800; v += 2) g.edges.push_back({v, v + 1});
  const ChoiceRun r = order_graph(g, 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.method, kl::ORDERING_METHOD_PEELING_ONLY);
  EXPECT_EQ(r.permutation[1], 801);  // degree 0 first
  EXPECT_TRUE(is_permutation_of_nodes(r, g.dim));
}

TEST(OrderingChoice, ChainsArePeeledFromTheirEnds) {
  // A path 1-2-...-900: both ends have degree 1; peeling eats the path from
  // the top of its stack of degree-one nodes, the other end last.
  Graph g;
  g.dim = 900;
  for (int32_t v = 1; v < 900; ++v) g.edges.push_back({v, v + 1});
  const ChoiceRun r = order_graph(g, 0);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.method, kl::ORDERING_METHOD_PEELING_ONLY);
  for (int32_t k = 1; k <= 899; ++k) EXPECT_EQ(r.permutation[static_cast<size_t>(k)], 901 - k);
  EXPECT_EQ(r.permutation[900], 1);
}

TEST(OrderingChoice, DenseNodesGoToTheBackLeastConnectedFirst) {
  // A cycle of 800 with two hubs: node 1 joined to 150 nodes, node 2 to 100.
  Graph g = cycle(800);
  for (int32_t v = 3; v < 153; ++v) g.edges.push_back({1, v + 200});
  for (int32_t v = 3; v < 103; ++v) g.edges.push_back({2, v + 400});
  const ChoiceRun r = order_graph(g, 1);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.permutation[799], 2);
  EXPECT_EQ(r.permutation[800], 1);
  EXPECT_TRUE(is_permutation_of_nodes(r, g.dim));
}

TEST(OrderingChoice, SymmetricGraphThatDoesNotFitGivesMinusTwo) {
  // A path peels entirely, so only the space test can fail. Lists start at
  // 1: node v lists v + 1, node 800 starts at 800 with an empty list; the
  // lengths sum to 799.
  Graph g;
  g.dim = 800;
  for (int32_t v = 1; v < 800; ++v) g.edges.push_back({v, v + 1});
  const ChoiceRun fits = order_graph(g, 1, 0, 800 + 2 * 799);
  EXPECT_EQ(fits.status, 0);
  EXPECT_TRUE(is_permutation_of_nodes(fits, g.dim));
  const ChoiceRun short_space = order_graph(g, 1, 0, 800 + 2 * 799 - 1);
  EXPECT_EQ(short_space.status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(short_space.params.pivot_count, 0);
}

}  // namespace
