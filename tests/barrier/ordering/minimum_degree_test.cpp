#include "barrier/ordering/minimum_degree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using Edges = std::vector<std::pair<int32_t, int32_t>>;  // (u, v): v stored in u's list

constexpr int32_t kMatrixPart = 7;  // entries below the graph that the ordering must not touch
constexpr int32_t kMatrixGuard = 4242;

struct Ordered {
  std::vector<int32_t> permutation;  // 1-based
  std::vector<int32_t> state;
  int32_t status = 0;
  kl::MinimumDegreeStats stats;
};

struct OrderingCase {
  OrderingCase(int32_t d = 0, Edges e = {}) : dim(d), edges(std::move(e)) {}
  int32_t dim = 0;
  Edges edges;
  std::vector<int32_t> state;  // 1-based; empty: all 0
  int32_t tfind = 0;
  int32_t n_lead = 0;
  int64_t spare = -1;            // free entries of factor_index after the graph; -1: plenty
  int64_t reverse_capacity = -1; // -1: what the barrier lends
  bool lists_backwards = false;   // lay the lists out from the last node to the first
  int32_t var_count = 0;          // n + m of the barrier; 0: dim
};

// Lays the graph out above a guarded matrix part, with exactly sized
// storages so that the sanitizer build sees any access beyond them.
Ordered order(const OrderingCase& c) {
  const int32_t dim = c.dim;
  kl::barrier_params params;
  params.matrix_nz = kMatrixPart;
  params.quad_nz = 0;
  params.var_count = c.var_count > 0 ? c.var_count : dim;
  std::vector<std::vector<int32_t>> lists(dim + 1);
  for (auto [u, v] : c.edges) lists[u].push_back(v);
  std::vector<int32_t> start(dim + 1, 0), length(dim + 1, 0);
  int64_t next = kMatrixPart + 1;
  for (int32_t i = 1; i <= dim; ++i) {
    const int32_t v = c.lists_backwards ? dim + 1 - i : i;
    start[v] = static_cast<int32_t>(next);
    length[v] = static_cast<int32_t>(lists[v].size());
    next += length[v];
  }
  const int64_t spare = c.spare >= 0 ? c.spare : 4 * static_cast<int64_t>(dim) * dim + 64;
  params.factor_space = static_cast<int32_t>(next - 1 + spare);
  std::vector<int32_t> factor_index(params.factor_space + 1, kMatrixGuard);
  for (int32_t v = 1; v <= dim; ++v)
    std::copy(lists[v].begin(), lists[v].end(), factor_index.begin() + start[v]);
  const int64_t capacity =
      c.reverse_capacity >= 0 ? c.reverse_capacity : kl::minimum_degree_reverse_capacity(params);
  std::vector<int32_t> reverse_store(capacity + 1, -9);
  std::vector<int32_t> work(kl::minimum_degree_work_size(dim), -9);
  Ordered out;
  out.permutation.assign(dim + 1, -9);
  out.state = c.state.empty() ? std::vector<int32_t>(dim + 1, 0) : c.state;
  kl::order_minimum_degree(params, dim, start.data(), length.data(), out.permutation.data(),
                           out.state.data(), factor_index.data(), c.n_lead, c.tfind, work.data(),
                           reverse_store.data(), capacity, out.status, &out.stats);
  for (int32_t k = 1; k <= kMatrixPart; ++k) EXPECT_EQ(factor_index[k], kMatrixGuard);
  return out;
}

// Checks that the permutation holds every node once, removed nodes last in
// increasing number, and that every other node ended with state -1.
void expect_valid_permutation(const OrderingCase& c, const Ordered& o) {
  ASSERT_EQ(o.status, 0);
  std::vector<int32_t> seen(c.dim + 1, 0);
  for (int32_t k = 1; k <= c.dim; ++k) {
    const int32_t v = o.permutation[k];
    ASSERT_TRUE(v >= 1 && v <= c.dim) << "entry " << k;
    ASSERT_EQ(seen[v]++, 0) << "node " << v << " twice";
  }
  std::vector<int32_t> removed;
  for (int32_t v = 1; v <= c.dim; ++v) {
    const int32_t before = c.state.empty() ? 0 : c.state[v];
    if (before < -1) {
      removed.push_back(v);
      EXPECT_EQ(o.state[v], before);
    } else {
      EXPECT_EQ(o.state[v], -1) << "node " << v;
    }
  }
  const std::vector<int32_t> tail(o.permutation.end() - static_cast<int64_t>(removed.size()),
                                  o.permutation.end());
  EXPECT_EQ(tail, removed);
}

// Plain symbolic elimination: the off-diagonal entries of the factor in the
// given order (live nodes only, each edge in either list, removed nodes and
// their edges left out).
int64_t factor_entries(const OrderingCase& c, const std::vector<int32_t>& order) {
  std::vector<std::set<int32_t>> adjacent(c.dim + 1);
  auto live = [&c](int32_t v) { return c.state.empty() || c.state[v] >= -1; };
  for (auto [u, v] : c.edges) {
    if (u == v || !live(u) || !live(v)) continue;
    adjacent[u].insert(v);
    adjacent[v].insert(u);
  }
  std::vector<bool> done(c.dim + 1, false);
  int64_t entries = 0;
  for (size_t k = 1; k < order.size(); ++k) {
    const int32_t p = order[k];
    if (!live(p)) continue;
    done[p] = true;
    std::vector<int32_t> rest;
    for (int32_t x : adjacent[p])
      if (!done[x]) rest.push_back(x);
    entries += static_cast<int64_t>(rest.size());
    for (size_t i = 0; i < rest.size(); ++i)
      for (size_t j = i + 1; j < rest.size(); ++j) {
        adjacent[rest[i]].insert(rest[j]);
        adjacent[rest[j]].insert(rest[i]);
      }
  }
  return entries;
}

// Plain minimum degree on the elimination graph, one node at a time, ties to
// the lowest number: an independent reference for the fill of the order.
std::vector<int32_t> reference_minimum_degree(const OrderingCase& c) {
  std::vector<std::set<int32_t>> adjacent(c.dim + 1);
  for (auto [u, v] : c.edges) {
    if (u == v) continue;
    adjacent[u].insert(v);
    adjacent[v].insert(u);
  }
  std::vector<bool> done(c.dim + 1, false);
  std::vector<int32_t> order = {0};
  for (int32_t step = 1; step <= c.dim; ++step) {
    int32_t best = 0;
    for (int32_t v = 1; v <= c.dim; ++v)
      if (!done[v] && (best == 0 || adjacent[v].size() < adjacent[best].size())) best = v;
    done[best] = true;
    order.push_back(best);
    std::vector<int32_t> rest(adjacent[best].begin(), adjacent[best].end());
    for (int32_t x : rest) adjacent[x].erase(best);
    for (size_t i = 0; i < rest.size(); ++i)
      for (size_t j = i + 1; j < rest.size(); ++j) {
        adjacent[rest[i]].insert(rest[j]);
        adjacent[rest[j]].insert(rest[i]);
      }
  }
  return order;
}

std::vector<int32_t> natural_order(int32_t dim) {
  std::vector<int32_t> order(dim + 1);
  for (int32_t v = 0; v <= dim; ++v) order[v] = v;
  return order;
}

// A k x k five-point grid, numbered row by row, each edge in the list of its
// lower-numbered end.
Edges grid(int32_t k) {
  Edges edges;
  for (int32_t r = 0; r < k; ++r)
    for (int32_t c = 0; c < k; ++c) {
      const int32_t v = r * k + c + 1;
      if (c + 1 < k) edges.push_back({v, v + 1});
      if (r + 1 < k) edges.push_back({v, v + k});
    }
  return edges;
}

Edges random_graph(int32_t dim, int32_t edge_count, std::mt19937& rng) {
  std::uniform_int_distribution<int32_t> node(1, dim);
  std::set<std::pair<int32_t, int32_t>> seen;
  Edges edges;
  while (static_cast<int32_t>(edges.size()) < edge_count) {
    int32_t u = node(rng), v = node(rng);
    if (u == v) continue;
    if (!seen.insert({std::min(u, v), std::max(u, v)}).second) continue;
    // Store in either end's list, as the graph builders may.
    if (rng() % 2) std::swap(u, v);
    edges.push_back({u, v});
  }
  return edges;
}

std::vector<int32_t> p(std::initializer_list<int32_t> entries) {
  std::vector<int32_t> v = {-9};
  v.insert(v.end(), entries);
  return v;
}

TEST(MinimumDegreeOrdering, HandTracedChoices) {
  struct Case {
    const char* what;
    OrderingCase c;
    std::vector<int32_t> expected;
    int32_t absorbed;
  };
  const Case cases[] = {
      // Each node lists the next: all leave before the loop, in order.
      {"path", {5, {{1, 2}, {2, 3}, {3, 4}, {4, 5}}}, p({1, 2, 3, 4, 5}), 0},
      // Minimum degree with ties to the node inserted last in its bucket;
      // the last leaf follows the centre as a chain pick.
      {"star", {5, {{1, 2}, {1, 3}, {1, 4}, {1, 5}}}, p({5, 4, 3, 1, 2}), 0},
      // A complete graph is one supervariable: 1 absorbs 2, then 4 (moved
      // into 2's place), then 3; members follow in chain order.
      {"clique",
       {4, {{1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}}},
       p({1, 3, 4, 2}),
       3},
      // A 4-cycle: eliminating 4 joins 3 and 1, which become
      // indistinguishable; 3 absorbs 1 and the supervariable leaves next.
      {"cycle", {4, {{1, 2}, {2, 3}, {3, 4}, {4, 1}}}, p({4, 3, 1, 2}), 1},
  };
  for (const Case& k : cases) {
    const Ordered o = order(k.c);
    expect_valid_permutation(k.c, o);
    EXPECT_EQ(o.permutation, k.expected) << k.what;
    EXPECT_EQ(o.stats.absorbed, k.absorbed) << k.what;
  }
  const Ordered path = order(cases[0].c);
  EXPECT_EQ(path.stats.pre_eliminated, 5);
}

// Bucket of weighted degree 2 holds 7, 6, 5, 4, 1 (head first). Nodes 1 and
// 5 have adjacent neighbours (no fill); 4, 6 and 7 would add one edge.
TEST(MinimumDegreeOrdering, FillScoresPickAmongLowDegreeCandidates) {
  const Edges edges = {{1, 2}, {1, 3}, {2, 3}, {2, 4}, {2, 5}, {3, 5},
                       {3, 6}, {7, 4}, {7, 6}};
  struct Case {
    int32_t tfind, n_lead, first;
  };
  // tfind 0: the bucket head. tfind 1: two scored nodes, 7 and 6, equal:
  // the first stays. tfind 2: the third, 5, scores 0. With 1 a leading node
  // (a column), the scan still stops at 5's zero score before it reaches 1.
  for (const Case k : {Case{0, 0, 7}, Case{1, 0, 7}, Case{2, 0, 5}, Case{25, 0, 5},
                       Case{25, 1, 5}}) {
    OrderingCase c{7, edges};
    c.tfind = k.tfind;
    c.n_lead = k.n_lead;
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
    EXPECT_EQ(o.permutation[1], k.first) << "tfind " << k.tfind << " n_lead " << k.n_lead;
  }
}

// In a 4-cycle all nodes score 1; a leading node wins a tie even when met
// last, unless the scan ends before it.
TEST(MinimumDegreeOrdering, LeadingNodesWinEqualScores) {
  struct Case {
    int32_t tfind, n_lead, first;
  };
  for (const Case k : {Case{25, 0, 4}, Case{25, 1, 1}, Case{25, 2, 2}, Case{2, 1, 4}}) {
    OrderingCase c{4, {{1, 2}, {2, 3}, {3, 4}, {4, 1}}};
    c.tfind = k.tfind;
    c.n_lead = k.n_lead;
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
    EXPECT_EQ(o.permutation[1], k.first) << "tfind " << k.tfind << " n_lead " << k.n_lead;
  }
}

TEST(MinimumDegreeOrdering, RemovedNodesGoLastAndTheirEdgesCountForNothing) {
  std::mt19937 rng(141);
  for (int trial = 0; trial < 6; ++trial) {
    OrderingCase c{60, random_graph(60, 150, rng)};
    c.state.assign(61, 0);
    for (int32_t v : {3, 17, 18, 44, 60}) c.state[v] = -2 - v % 3;
    c.state[5] = -1;  // -1 is a live state
    c.tfind = trial % 3 == 0 ? 0 : 25;
    c.n_lead = trial % 2 == 0 ? 0 : 20;
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
  }
}

// An edge listed by both of its ends is still one edge.
TEST(MinimumDegreeOrdering, EdgeListedTwiceIsOneEdge) {
  const Edges once = {{1, 2}, {2, 3}, {3, 4}, {4, 1}, {1, 5}, {5, 3}};
  Edges twice = once;
  twice.push_back({2, 1});
  twice.push_back({3, 5});
  OrderingCase a{5, once}, b{5, twice};
  const Ordered oa = order(a), ob = order(b);
  expect_valid_permutation(b, ob);
  EXPECT_EQ(factor_entries(a, ob.permutation), factor_entries(a, oa.permutation));
}

TEST(MinimumDegreeOrdering, FillBeatsNaturalOrderOnGridsAndRandomGraphs) {
  for (int32_t k : {5, 12, 20}) {
    for (int32_t tfind : {0, 25}) {
      OrderingCase c{k * k, grid(k)};
      c.tfind = tfind;
      const Ordered o = order(c);
      expect_valid_permutation(c, o);
      const int64_t fill = factor_entries(c, o.permutation);
      const int64_t natural = factor_entries(c, natural_order(c.dim));
      const int64_t reference = factor_entries(c, reference_minimum_degree(c));
      // The natural order of a k x k grid is a band of width k, about k^3
      // entries; minimum degree grows more slowly. The supervariables and
      // the fill scores may change the choices, not the quality.
      EXPECT_LT(fill, natural) << k;
      EXPECT_LE(10 * fill, 11 * reference) << k << " tfind " << tfind;
      if (k >= 20) {
        EXPECT_LT(2 * fill, natural) << k << " tfind " << tfind;
      }
    }
  }
  std::mt19937 rng(8);
  for (int trial = 0; trial < 5; ++trial) {
    OrderingCase c{150, random_graph(150, 300, rng)};
    c.tfind = trial % 2 == 0 ? 0 : 25;
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
    std::vector<int32_t> shuffled = natural_order(c.dim);
    std::shuffle(shuffled.begin() + 1, shuffled.end(), rng);
    EXPECT_LT(factor_entries(c, o.permutation), factor_entries(c, shuffled));
    EXPECT_LT(factor_entries(c, o.permutation), factor_entries(c, natural_order(c.dim)));
    EXPECT_LE(10 * factor_entries(c, o.permutation), 11 * factor_entries(c, reference_minimum_degree(c)));
  }
}

// The fill score is the exact weighted fill: on a tree-like graph a
// minimum-fill choice never creates fill, so the factor has exactly one entry
// per edge.
TEST(MinimumDegreeOrdering, TreeGetsNoFill) {
  std::mt19937 rng(3);
  Edges tree;
  for (int32_t v = 2; v <= 80; ++v) {
    std::uniform_int_distribution<int32_t> parent(1, v - 1);
    tree.push_back({parent(rng), v});
  }
  for (int32_t tfind : {0, 25}) {
    OrderingCase c{80, tree};
    c.tfind = tfind;
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
    EXPECT_EQ(factor_entries(c, o.permutation), 79) << tfind;
    EXPECT_EQ(o.stats.fill_edges, 0) << tfind;
  }
}

// Too little room after the graph or in the reverse store: -2 at the start;
// a little more room forces compactions during the elimination, which either
// succeed or end in -2, never outside the storages.
TEST(MinimumDegreeOrdering, ShortStorageGivesSpaceShortOrCompacts) {
  const int32_t k = 9;
  OrderingCase base{k * k, grid(k)};
  base.tfind = 25;
  const Ordered plenty = order(base);
  expect_valid_permutation(base, plenty);
  EXPECT_EQ(plenty.stats.own_compactions, 0);
  EXPECT_GT(plenty.stats.fill_edges, 0);

  OrderingCase short_own = base;
  short_own.spare = base.dim - 1;
  EXPECT_EQ(order(short_own).status, kl::BARRIER_SPACE_SHORT);
  OrderingCase short_reverse = base;
  short_reverse.reverse_capacity = static_cast<int64_t>(base.edges.size()) + base.dim;
  EXPECT_EQ(order(short_reverse).status, kl::BARRIER_SPACE_SHORT);

  int own_compacted = 0, reverse_compacted = 0, failed = 0;
  for (int64_t spare = base.dim; spare <= 4 * base.dim; spare += 7) {
    OrderingCase c = base;
    c.spare = spare;
    const Ordered o = order(c);
    if (o.status == kl::BARRIER_SPACE_SHORT) {
      ++failed;
      continue;
    }
    expect_valid_permutation(c, o);
    EXPECT_EQ(o.permutation, plenty.permutation) << spare;  // compaction changes no choice
    if (o.stats.own_compactions > 0) ++own_compacted;
  }
  for (int64_t capacity = static_cast<int64_t>(base.edges.size()) + base.dim + 1;
       capacity <= 4 * static_cast<int64_t>(base.edges.size()) + 4 * base.dim; capacity += 11) {
    OrderingCase c = base;
    c.reverse_capacity = capacity;
    const Ordered o = order(c);
    if (o.status == kl::BARRIER_SPACE_SHORT) {
      ++failed;
      continue;
    }
    expect_valid_permutation(c, o);
    EXPECT_EQ(o.permutation, plenty.permutation) << capacity;
    if (o.stats.reverse_compactions > 0) ++reverse_compacted;
  }
  EXPECT_GT(own_compacted, 0);
  EXPECT_GT(reverse_compacted, 0);
  EXPECT_GT(failed, 0);
}

// Lists laid out in any order, and a room measure (n + m) above the node
// count, as when the columns alone are ordered: the same order results.
TEST(MinimumDegreeOrdering, ListPlacesAndRoomMeasureChangeNoChoice) {
  std::mt19937 rng(5);
  OrderingCase base{70, random_graph(70, 200, rng)};
  base.tfind = 25;
  base.n_lead = 30;
  const Ordered plain = order(base);
  expect_valid_permutation(base, plain);
  OrderingCase backwards = base;
  backwards.lists_backwards = true;
  OrderingCase wide = base;
  wide.var_count = 95;
  for (const OrderingCase& c : {backwards, wide}) {
    const Ordered o = order(c);
    expect_valid_permutation(c, o);
    EXPECT_EQ(o.permutation, plain.permutation);
  }
  // The least room that lets the backward layout through compacts on the
  // way and still gives the same order.
  OrderingCase tight = backwards;
  Ordered t;
  t.status = kl::BARRIER_SPACE_SHORT;
  for (tight.spare = base.dim; t.status != 0 && tight.spare < 20 * base.dim; tight.spare += 5)
    t = order(tight);
  expect_valid_permutation(tight, t);
  EXPECT_EQ(t.permutation, plain.permutation);
  EXPECT_GT(t.stats.own_compactions, 0);
}

// Random graphs, states, layouts and storages: the result is -2 or the very
// order that plenty of room gives.
TEST(MinimumDegreeOrdering, RandomGraphsUnderTightStorage) {
  std::mt19937 rng(2031);
  int succeeded = 0, short_of_space = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const int32_t dim = 1 + static_cast<int32_t>(rng() % 60);
    const int32_t edge_count =
        static_cast<int32_t>(rng() % (1 + std::min<int64_t>(4 * dim, dim * (dim - 1) / 2)));
    OrderingCase c{dim, random_graph(dim, edge_count, rng)};
    c.state.assign(dim + 1, 0);
    for (int32_t v = 1; v <= dim; ++v)
      if (rng() % 7 == 0) c.state[v] = -2 - static_cast<int32_t>(rng() % 4);
    c.tfind = static_cast<int32_t>(rng() % 4) * 3;
    c.n_lead = static_cast<int32_t>(rng() % (dim + 1));
    c.lists_backwards = rng() % 2 == 0;
    const Ordered plenty = order(c);
    expect_valid_permutation(c, plenty);
    for (int attempt = 0; attempt < 4; ++attempt) {
      OrderingCase tight = c;
      tight.spare = dim + static_cast<int64_t>(rng() % (3 * dim + 10));
      tight.reverse_capacity = edge_count + dim + static_cast<int64_t>(rng() % (3 * dim + 10));
      const Ordered o = order(tight);
      if (o.status == kl::BARRIER_SPACE_SHORT) {
        ++short_of_space;
        continue;
      }
      ++succeeded;
      expect_valid_permutation(tight, o);
      EXPECT_EQ(o.permutation, plenty.permutation) << "trial " << trial;
    }
  }
  EXPECT_GT(succeeded, 0);
  EXPECT_GT(short_of_space, 0);
}

TEST(MinimumDegreeOrdering, OwnListsCompactFromAboveTheMatrixPart) {
  kl::barrier_params params;
  params.matrix_nz = 3;
  params.quad_nz = 2;
  params.factor_space = 40;
  std::vector<int32_t> factor_index(41, 0);
  std::vector<int32_t> start = {0, 20, 9, 30}, length = {0, 2, 3, 0};
  std::vector<int32_t> prev = {0, 2, 0, 1}, next = {0, 3, 1, 0};  // order 2, 1, 3
  factor_index[9] = 7, factor_index[10] = 8, factor_index[11] = 9;
  factor_index[20] = 5, factor_index[21] = 6;
  kl::MinimumDegreeLists lists;
  lists.factor_index = factor_index.data();
  lists.own_start = start.data();
  lists.own_length = length.data();
  lists.own_prev = prev.data();
  lists.own_next = next.data();
  lists.own_head = 2;
  lists.own_tail = 3;
  int32_t first_free = 0;
  int32_t status = 0;
  // Packed from matrix_nz + quad_nz + 1 = 6 in storage order; the room
  // after them is 40 - 11 - 1 = 28.
  kl::compact_own_lists(params, lists, 29, first_free, status);
  EXPECT_EQ(start, (std::vector<int32_t>{0, 9, 6, 11}));
  EXPECT_EQ(first_free, 11);
  EXPECT_EQ(status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(std::vector<int32_t>(factor_index.begin() + 6, factor_index.begin() + 11),
            (std::vector<int32_t>{7, 8, 9, 5, 6}));
  status = 0;
  kl::compact_own_lists(params, lists, 28, first_free, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(start, (std::vector<int32_t>{0, 9, 6, 11}));
}

TEST(MinimumDegreeOrdering, EmptyAndAllRemovedGraphs) {
  OrderingCase empty{0, {}};
  EXPECT_EQ(order(empty).status, 0);
  OrderingCase isolated{3, {}};
  const Ordered o = order(isolated);
  expect_valid_permutation(isolated, o);
  EXPECT_EQ(o.permutation, p({1, 2, 3}));
  OrderingCase removed{3, {{1, 2}, {2, 3}}};
  removed.state = {0, -2, -5, -2};
  const Ordered r = order(removed);
  expect_valid_permutation(removed, r);
  EXPECT_EQ(r.permutation, p({1, 2, 3}));
}

}  // namespace
