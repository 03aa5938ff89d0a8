// Small graphs for the ordering tests and an independent count of the factor
// entries an elimination order produces.
#ifndef KLSOL_TESTS_BARRIER_ORDERING_ORDERING_GRAPHS_H
#define KLSOL_TESTS_BARRIER_ORDERING_ORDERING_GRAPHS_H

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace kltest {

// An undirected graph on nodes 1..r: adjacency sets (index 0 unused).
struct Graph {
  int32_t r = 0;
  std::vector<std::set<int32_t>> adj;
  explicit Graph(int32_t nodes) : r(nodes), adj(static_cast<size_t>(nodes) + 1) {}
  void edge(int32_t a, int32_t b) {
    if (a == b) return;
    adj[a].insert(b);
    adj[b].insert(a);
  }
  int64_t edges() const {
    int64_t e = 0;
    for (int32_t i = 1; i <= r; ++i) e += static_cast<int64_t>(adj[i].size());
    return e;
  }
};

// The 5-point grid of rows x cols nodes, numbered row by row.
inline Graph grid_graph(int32_t rows, int32_t cols) {
  Graph g(rows * cols);
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      const int32_t v = i * cols + j + 1;
      if (j + 1 < cols) g.edge(v, v + 1);
      if (i + 1 < rows) g.edge(v, v + cols);
    }
  }
  return g;
}

inline Graph random_graph(int32_t r, int32_t edges, uint32_t seed) {
  Graph g(r);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int32_t> pick(1, r);
  for (int32_t k = 0; k < edges; ++k) g.edge(pick(gen), pick(gen));
  return g;
}

// The graph laid out as the orderings take it: symmetric lists in one index
// array from entry `first` on, then `room` free entries (the elbow room).
struct LaidOutGraph {
  int32_t r = 0;
  std::vector<int32_t> start;
  std::vector<int32_t> length;
  std::vector<int32_t> index;  // 1..space
  int32_t first = 1;
  int32_t free_entry = 1;
  int32_t space = 0;
};

inline LaidOutGraph lay_out(const Graph& g, int32_t first, int64_t room) {
  LaidOutGraph l;
  l.r = g.r;
  l.first = first;
  l.start.assign(static_cast<size_t>(g.r) + 1, 0);
  l.length.assign(static_cast<size_t>(g.r) + 1, 0);
  const int64_t total = g.edges();
  l.space = static_cast<int32_t>(first - 1 + total + room);
  l.index.assign(static_cast<size_t>(l.space) + 1, -7);
  int32_t next = first;
  for (int32_t i = 1; i <= g.r; ++i) {
    l.start[i] = next;
    for (int32_t j : g.adj[i]) l.index[next++] = j;
    l.length[i] = next - l.start[i];
  }
  l.free_entry = next;
  return l;
}

inline bool is_permutation_of(const std::vector<int32_t>& perm, int32_t r) {
  std::vector<char> seen(static_cast<size_t>(r) + 1, 0);
  for (int32_t k = 1; k <= r; ++k) {
    const int32_t v = perm[k];
    if (v < 1 || v > r || seen[v]) return false;
    seen[v] = 1;
  }
  return true;
}

// Entries of L below the diagonal for elimination in `perm` order (perm[k] =
// k-th node), by plain symbolic elimination along the elimination tree.
inline int64_t symbolic_factor_entries(const Graph& g, const std::vector<int32_t>& perm) {
  const int32_t r = g.r;
  std::vector<int32_t> rank(static_cast<size_t>(r) + 1);
  for (int32_t k = 1; k <= r; ++k) rank[perm[k]] = k;
  std::vector<std::vector<int32_t>> children(static_cast<size_t>(r) + 1);
  std::vector<std::vector<int32_t>> structure(static_cast<size_t>(r) + 1);
  int64_t total = 0;
  for (int32_t k = 1; k <= r; ++k) {
    std::vector<int32_t> s;
    for (int32_t j : g.adj[perm[k]]) {
      if (rank[j] > k) s.push_back(rank[j]);
    }
    for (int32_t c : children[k]) {
      for (int32_t x : structure[c]) {
        if (x > k) s.push_back(x);
      }
      std::vector<int32_t>().swap(structure[c]);
    }
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
    total += static_cast<int64_t>(s.size());
    if (!s.empty()) children[s.front()].push_back(k);
    structure[k] = std::move(s);
  }
  return total;
}

inline std::vector<int32_t> natural_order(int32_t r) {
  std::vector<int32_t> p(static_cast<size_t>(r) + 1);
  for (int32_t k = 0; k <= r; ++k) p[k] = k;
  return p;
}

}  // namespace kltest

#endif
