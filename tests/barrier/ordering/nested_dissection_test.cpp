#include "barrier/ordering/nested_dissection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "barrier/ordering/minimum_fill.h"
#include "barrier/ordering/ordering_graphs.h"

namespace {

using kltest::Graph;
using kltest::LaidOutGraph;

struct Dissection {
  std::vector<int32_t> label;
  LaidOutGraph laid;
};

// Dissects g laid out from entry 3 with `room` entries after the lists; the
// vectors are sized exactly, so the sanitizer build catches any overrun.
Dissection dissect(const Graph& g, int64_t room = -1, int32_t stamp_limit = 0) {
  if (room < 0) room = 4 * g.edges() + 4 * static_cast<int64_t>(g.r) + 100;
  Dissection d;
  d.laid = kltest::lay_out(g, 3, room);
  LaidOutGraph& l = d.laid;
  d.label.assign(static_cast<size_t>(g.r) + 1, 99);
  std::vector<int32_t> edge_weight(static_cast<size_t>(l.space - l.first + 2), 0);
  std::vector<int32_t> work(static_cast<size_t>(kl::nested_dissection_work_size(g.r)));
  const std::vector<int32_t> start_before = l.start;
  kl::order_nested_dissection(g.r, l.start.data(), l.index.data(), l.length.data(), l.first, l.space,
                              edge_weight.data(), d.label.data(), work.data(), stamp_limit);
  // The lists keep their place, length and set of entries.
  EXPECT_EQ(l.start, start_before);
  for (int32_t i = 1; i <= g.r; ++i) {
    std::vector<int32_t> entries(l.index.begin() + l.start[i], l.index.begin() + l.start[i] + l.length[i]);
    std::sort(entries.begin(), entries.end());
    EXPECT_TRUE(std::equal(entries.begin(), entries.end(), g.adj[i].begin(), g.adj[i].end())) << "list " << i;
  }
  return d;
}

// Checks the labels as a nested dissection, independently of how they were
// found: every group lies in one connected piece of the nodes labelled at or
// after it; a group smaller than its piece is a separator, so removing it
// leaves the piece in at least two parts. Returns the number of separators.
int32_t check_dissection(const Graph& g, const std::vector<int32_t>& label) {
  int32_t lowest = 0;
  for (int32_t i = 1; i <= g.r; ++i) {
    EXPECT_LT(label[i], 0) << "node " << i;
    lowest = std::min(lowest, label[i]);
  }
  std::vector<std::vector<int32_t>> members(static_cast<size_t>(-lowest) + 1);
  for (int32_t i = 1; i <= g.r; ++i) members[-label[i]].push_back(i);
  int32_t separators = 0;
  std::vector<int32_t> mark(static_cast<size_t>(g.r) + 1, 0);
  int32_t stamp = 0;
  for (int32_t grp = 1; grp <= -lowest; ++grp) {
    const std::vector<int32_t>& group = members[grp];
    EXPECT_FALSE(group.empty()) << "label -" << grp << " unused";
    if (group.empty()) continue;
    // The piece: nodes labelled -grp or deeper, reachable from the group.
    ++stamp;
    std::vector<int32_t> piece = {group[0]};
    mark[group[0]] = stamp;
    for (size_t k = 0; k < piece.size(); ++k) {
      for (int32_t y : g.adj[piece[k]]) {
        if (label[y] <= -grp && mark[y] != stamp) {
          mark[y] = stamp;
          piece.push_back(y);
        }
      }
    }
    for (int32_t x : group) EXPECT_EQ(mark[x], stamp) << "group -" << grp << " is not within one piece";
    if (piece.size() == group.size()) continue;
    // Parts of the piece without the group.
    ++separators;
    const int32_t in_piece = stamp;
    ++stamp;
    int32_t parts = 0;
    for (int32_t x : piece) {
      if (label[x] == -grp || mark[x] == stamp) continue;
      ++parts;
      std::vector<int32_t> part = {x};
      mark[x] = stamp;
      for (size_t k = 0; k < part.size(); ++k) {
        for (int32_t y : g.adj[part[k]]) {
          if (mark[y] == in_piece && label[y] != -grp) {
            mark[y] = stamp;
            part.push_back(y);
          }
        }
      }
    }
    EXPECT_GE(parts, 2) << "group -" << grp << " of " << group.size() << " nodes does not separate its piece of "
                        << piece.size();
  }
  return separators;
}

// Dissection groups (0 as -1), then the constrained ordering; returns the
// exact factor entries of that order.
int64_t dissection_fill(const Graph& g, const std::vector<int32_t>& label) {
  std::vector<int32_t> groups(label);
  for (int32_t i = 1; i <= g.r; ++i) {
    if (groups[i] == 0) groups[i] = -1;
  }
  LaidOutGraph l = kltest::lay_out(g, 1, g.edges() + g.r + 10);
  std::vector<int32_t> perm(static_cast<size_t>(g.r) + 1);
  std::vector<int32_t> work(static_cast<size_t>(kl::reduced_graph_work_size(g.r)));
  int32_t free_entry = l.free_entry;
  kl::order_reduced_graph(g.r, l.start.data(), l.index.data(), l.length.data(), l.space, &free_entry,
                          groups.data(), 0, 25, perm.data(), work.data());
  EXPECT_TRUE(kltest::is_permutation_of(perm, g.r));
  return kltest::symbolic_factor_entries(g, perm);
}

int64_t unconstrained_fill(const Graph& g) {
  LaidOutGraph l = kltest::lay_out(g, 1, g.edges() + g.r + 10);
  std::vector<int32_t> perm(static_cast<size_t>(g.r) + 1);
  std::vector<int32_t> work(static_cast<size_t>(kl::reduced_graph_work_size(g.r)));
  int32_t free_entry = l.free_entry;
  kl::order_reduced_graph(g.r, l.start.data(), l.index.data(), l.length.data(), l.space, &free_entry, nullptr,
                          0, 25, perm.data(), work.data());
  return kltest::symbolic_factor_entries(g, perm);
}

TEST(OrderNestedDissection, SeparatorsSeparateOnGridsAndRandomGraphs) {
  const std::vector<Graph> graphs = {kltest::grid_graph(30, 30), kltest::grid_graph(60, 60),
                                     kltest::grid_graph(17, 90), kltest::random_graph(1500, 3000, 4),
                                     kltest::random_graph(2500, 7000, 9), kltest::random_graph(1200, 1300, 2)};
  for (const Graph& g : graphs) {
    Dissection d = dissect(g);
    const int32_t separators = check_dissection(g, d.label);
    EXPECT_GE(separators, 1) << "r " << g.r;
  }
}

TEST(OrderNestedDissection, DissectionMakesGridsGood) {
  // Fill of the dissection order against the natural order and the
  // unconstrained minimum-fill order.
  for (int32_t side : {30, 60, 90}) {
    Graph g = kltest::grid_graph(side, side);
    Dissection d = dissect(g);
    check_dissection(g, d.label);
    const int64_t natural = kltest::symbolic_factor_entries(g, kltest::natural_order(g.r));
    const int64_t nd = dissection_fill(g, d.label);
    const int64_t amf = unconstrained_fill(g);
    std::printf("grid %dx%d: natural %lld dissection %lld minimum fill %lld\n", side, side,
                static_cast<long long>(natural), static_cast<long long>(nd), static_cast<long long>(amf));
    EXPECT_LT(nd * 2, natural) << side;
    EXPECT_LE(static_cast<double>(nd), 1.3 * static_cast<double>(amf)) << side;
  }
}

TEST(OrderNestedDissection, SmallGraphsAndStarsAreNotDissected) {
  // At most leafmax nodes (200 below 3000 nodes): no labels.
  Dissection small = dissect(kltest::grid_graph(10, 20));
  for (size_t i = 1; i < small.label.size(); ++i) EXPECT_EQ(small.label[i], 0);
  // A star searched from its centre has two levels: one group.
  Graph star(1000);
  for (int32_t i = 2; i <= 1000; ++i) star.edge(1, i);
  Dissection d = dissect(star);
  for (int32_t i = 1; i <= 1000; ++i) EXPECT_EQ(d.label[i], -1);
}

TEST(OrderNestedDissection, GraphThatDoesNotFitGetsNoLabels) {
  Graph g = kltest::grid_graph(30, 30);
  // Lists ending exactly at factor_space - 2r do not fit.
  Dissection none = dissect(g, 2 * g.r);
  for (int32_t i = 1; i <= g.r; ++i) EXPECT_EQ(none.label[i], 0);
  // One entry more: dissected, whatever little room the coarse graphs get.
  for (int64_t room : {int64_t{2} * g.r + 1, 2 * g.r + g.edges() / 2, 2 * g.r + g.edges(), 2 * g.r + 2 * g.edges()}) {
    Dissection d = dissect(g, room);
    bool labelled = true;
    for (int32_t i = 1; i <= g.r; ++i) labelled = labelled && d.label[i] < 0;
    EXPECT_TRUE(labelled) << "room " << room;
    if (labelled) check_dissection(g, d.label);
  }
}

TEST(OrderNestedDissection, StampResetKeepsTheLabels) {
  // A stamp limit of a few units resets the stamps at almost every use; the
  // dissection must not change.
  for (const Graph& g : {kltest::grid_graph(40, 40), kltest::random_graph(1500, 4000, 8)}) {
    Dissection natural = dissect(g);
    Dissection low = dissect(g, -1, 5);
    EXPECT_EQ(natural.label, low.label) << "r " << g.r;
  }
}

}  // namespace
