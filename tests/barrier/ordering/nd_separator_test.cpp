// The vertex covers of the dissection against brute force on small graphs.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "barrier/ordering/nested_dissection_internal.h"

namespace {

struct SmallPiece {
  int32_t r;
  std::vector<std::vector<int32_t>> arrays;
  std::vector<int32_t> g;
  std::vector<int32_t> ew;
  std::vector<std::vector<int32_t>> heads;
  kl::DissectionState s;

  int32_t* array() {
    arrays.emplace_back(static_cast<size_t>(r) + 1, 0);
    return arrays.back().data();
  }

  SmallPiece(const std::vector<std::vector<int32_t>>& adj, const std::vector<int32_t>& sides,
             const std::vector<int32_t>& weights)
      : r(static_cast<int32_t>(adj.size()) - 1) {
    arrays.reserve(32);
    int32_t entries = 0;
    for (int32_t i = 1; i <= r; ++i) entries += static_cast<int32_t>(adj[i].size());
    const int32_t space = entries + 4 * entries + 100;
    g.assign(static_cast<size_t>(space) + 1, 0);
    ew.assign(static_cast<size_t>(space) + 1, 0);
    s.r = r;
    s.g = g.data();
    s.ew = ew.data();
    s.start = array();
    s.wlen = array();
    int32_t next = 1;
    for (int32_t i = 1; i <= r; ++i) {
      s.start[i] = next;
      for (int32_t j : adj[i]) {
        g[next] = j;
        ew[next] = 1;
        ++next;
      }
      s.wlen[i] = next - s.start[i];
    }
    s.limit = space;
    s.top = next;
    s.high_top = next;
    s.weight = array();
    s.side = array();
    s.internal = array();
    s.external = array();
    s.stamp = array();
    s.stamp_limit = 1 << 30;
    s.piece = array();
    s.scratch = array();
    s.cover = array();
    s.local = array();
    s.local_node = array();
    s.local_start = array();
    s.local_len = array();
    s.local_flow = array();
    s.pred_node = array();
    s.pred_entry = array();
    s.queue = array();
    s.bucket_next = array();
    s.bucket_prev = array();
    s.bucket_key = array();
    heads.assign(2, std::vector<int32_t>(2 * static_cast<size_t>(r) + 3, 0));
    s.bucket_head[0] = heads[0].data();
    s.bucket_head[1] = heads[1].data();
    s.piece_count = r;
    for (int32_t i = 1; i <= r; ++i) {
      s.piece[i] = i;
      s.side[i] = sides[i];
      s.weight[i] = weights[i];
    }
  }
};

// Smallest weight of a node set touching every edge between side 0 and 1.
int64_t brute_force_cover(const std::vector<std::vector<int32_t>>& adj, const std::vector<int32_t>& sides,
                          const std::vector<int32_t>& weights) {
  const int32_t r = static_cast<int32_t>(adj.size()) - 1;
  int64_t best = -1;
  for (uint32_t set = 0; set < (1u << r); ++set) {
    bool covers = true;
    for (int32_t u = 1; u <= r && covers; ++u) {
      if (sides[u] != 0 || (set >> (u - 1) & 1u)) continue;
      for (int32_t v : adj[u]) {
        if (sides[v] == 1 && !(set >> (v - 1) & 1u)) covers = false;
      }
    }
    if (!covers) continue;
    int64_t w = 0;
    for (int32_t u = 1; u <= r; ++u) {
      if (set >> (u - 1) & 1u) w += weights[u];
    }
    if (best < 0 || w < best) best = w;
  }
  return best;
}

TEST(DissectionSeparators, CoversOfTheCutAreMinimumAndSeparate) {
  std::mt19937 gen(17);
  for (int32_t round = 0; round < 60; ++round) {
    const int32_t r = 6 + round % 9;
    std::vector<std::vector<int32_t>> adj(static_cast<size_t>(r) + 1);
    std::vector<int32_t> sides(static_cast<size_t>(r) + 1);
    std::vector<int32_t> weights(static_cast<size_t>(r) + 1, 1);
    const bool weighted = round % 2 == 0;
    for (int32_t i = 1; i <= r; ++i) {
      sides[i] = static_cast<int32_t>(gen() % 2);
      if (weighted) weights[i] = 1 + static_cast<int32_t>(gen() % 5);
    }
    for (int32_t e = 0; e < 2 * r; ++e) {
      const int32_t a = 1 + static_cast<int32_t>(gen() % r);
      const int32_t b = 1 + static_cast<int32_t>(gen() % r);
      if (a == b) continue;
      bool known = false;
      for (int32_t x : adj[a]) known = known || x == b;
      if (known) continue;
      adj[a].push_back(b);
      adj[b].push_back(a);
    }
    SmallPiece p(adj, sides, weights);
    if (weighted) {
      kl::weighted_separator_cover(p.s);
    } else {
      kl::separator_from_cut(p.s);
    }
    EXPECT_EQ(p.s.separator_weight, brute_force_cover(adj, sides, weights)) << "round " << round;
    for (int32_t u = 1; u <= r; ++u) {
      for (int32_t v : adj[u]) {
        EXPECT_FALSE(p.s.side[u] == 0 && p.s.side[v] == 1) << "round " << round << " edge " << u << "-" << v;
      }
    }
    // Refinement and improvement keep a separator and never make it worse.
    const double ratio = p.s.ratio(kl::kEmptySideRatio);
    kl::refine_separator(p.s);
    EXPECT_LE(p.s.ratio(kl::kEmptySideRatio), ratio) << "round " << round;
    const int64_t refined = p.s.separator_weight;
    if (!weighted) {
      kl::improve_separator_side(p.s, 0);
      kl::improve_separator_side(p.s, 1);
      EXPECT_LE(p.s.separator_weight, refined) << "round " << round;
    }
    for (int32_t u = 1; u <= r; ++u) {
      for (int32_t v : adj[u]) {
        EXPECT_FALSE(p.s.side[u] == 0 && p.s.side[v] == 1) << "round " << round << " edge " << u << "-" << v;
      }
    }
    // The separator leads the piece.
    int32_t front = 0;
    while (front < r && p.s.side[p.s.piece[front + 1]] < 0) ++front;
    for (int32_t k = front + 1; k <= r; ++k) EXPECT_GE(p.s.side[p.s.piece[k]], 0);
  }
}

}  // namespace
