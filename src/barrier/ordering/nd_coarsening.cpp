// Coarsening of the dissection's current piece by heavy-edge matching, and
// its undoing level by level. Coarse lists stack up above the lists in use;
// each carries, in the entry after it, the start (in the index array) and
// length (in the edge weights) of the list it replaced.
#include <algorithm>
#include <cstring>

#include "barrier/ordering/heapsort.h"
#include "barrier/ordering/nested_dissection_internal.h"

namespace kl {

namespace {

// The coarse node a node of the previous level belongs to.
int32_t representative(const DissectionState& s, int32_t x, int32_t lev) {
  return s.level[x] == lev ? s.match[x] : x;
}

// Puts back the lists written at level `lev` (newest storage first does not
// matter: each node holds its own restore entry) and forgets the matching.
void undo_partial_level(DissectionState& s, int32_t lev) {
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t u = s.piece[k];
    if (s.level[u] != 0 || s.start[u] < s.level_top[lev]) continue;
    const int32_t e = s.start[u] + s.wlen[u];
    s.start[u] = s.g[e];
    s.wlen[u] = s.ew[e];
  }
  for (int32_t a = s.level_absorbed[lev] + 1; a <= s.absorbed_count; ++a) {
    const int32_t v = s.absorbed[a];
    s.weight[s.match[v]] -= s.weight[v];
    s.match[s.match[v]] = 0;
    s.level[v] = 0;
    s.match[v] = 0;
  }
  s.absorbed_count = s.level_absorbed[lev];
  s.top = s.level_top[lev];
}

}  // namespace

// One level of heavy-edge matching and contraction. Returns false when no
// level was added (the stack of levels is full or the coarse lists would not
// fit below the limit; the piece is then as it was, in degree order).
bool coarsen_graph_level(DissectionState& s) {
  if (s.levels >= kMaxCoarseLevels) return false;
  const int32_t lev = s.levels + 1;
  const int32_t n = s.piece_count;
  s.level_top[lev] = s.top;
  s.level_absorbed[lev] = s.absorbed_count;
  sort_index_by_key(n, s.piece, s.wlen);
  const int32_t cap = static_cast<int32_t>(1.5 * s.piece_size / s.minsize);

  // Matching from the largest degree down.
  const int32_t matched = s.next_stamp();
  for (int32_t k = n; k >= 1; --k) {
    const int32_t u = s.piece[k];
    if (s.stamp[u] == matched) continue;
    s.stamp[u] = matched;
    s.match[u] = 0;
    int32_t best = 0;
    int32_t best_weight = 0;
    for (int32_t e = s.start[u]; e < s.start[u] + s.wlen[u]; ++e) {
      const int32_t v = s.g[e];
      if (v == u || s.stamp[v] == matched) continue;
      if (s.weight[u] + s.weight[v] > cap) continue;
      if (best == 0 || s.ew[e] > best_weight || (s.ew[e] == best_weight && s.wlen[v] < s.wlen[best])) {
        best = v;
        best_weight = s.ew[e];
      }
    }
    if (best != 0) {
      s.stamp[best] = matched;
      s.match[u] = best;
      s.match[best] = u;
      s.level[best] = lev;
      s.weight[u] += s.weight[best];
      s.absorbed[++s.absorbed_count] = best;
    }
  }

  // Contraction in degree order: one new list per coarse node, summing the
  // weights of edges that meet the same coarse neighbour.
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t x = s.piece[k];
    int32_t u;
    if (s.level[x] == lev) {
      u = s.match[x];
    } else if (s.match[x] == 0) {
      u = x;
    } else {
      continue;  // a representative: built when its partner comes
    }
    if (static_cast<int64_t>(s.top) + n > s.limit) {
      undo_partial_level(s, lev);
      return false;
    }
    const int32_t begin = s.top;
    int32_t len = 0;
    const int32_t seen = s.next_stamp();
    const int32_t members[2] = {u, s.match[u]};
    for (int32_t y : members) {
      if (y == 0) continue;
      for (int32_t e = s.start[y]; e < s.start[y] + s.wlen[y]; ++e) {
        const int32_t c = representative(s, s.g[e], lev);
        if (s.stamp[c] == seen) {
          s.ew[s.scratch[c]] += s.ew[e];
        } else {
          s.stamp[c] = seen;
          s.g[begin + len] = c;
          s.ew[begin + len] = s.ew[e];
          s.scratch[c] = begin + len;
          ++len;
        }
      }
    }
    s.g[begin + len] = s.start[u];
    s.ew[begin + len] = s.wlen[u];
    s.start[u] = begin;
    s.wlen[u] = len;
    s.top = begin + len + 1;
  }

  // The piece keeps the coarse nodes, in degree order.
  int32_t kept = 0;
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t x = s.piece[k];
    if (s.level[x] != lev) s.piece[++kept] = x;
  }
  s.piece_count = kept;
  s.levels = lev;
  return true;
}

// Undoes the finest level above the current one: lists back, absorbed
// nodes back in the piece on their representative's side.
void project_partition_level(DissectionState& s) {
  const int32_t lev = s.levels;
  if (lev == 0) return;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t u = s.piece[k];
    const int32_t e = s.start[u] + s.wlen[u];
    s.start[u] = s.g[e];
    s.wlen[u] = s.ew[e];
  }
  const int32_t first = s.level_absorbed[lev] + 1;
  for (int32_t a = first; a <= s.absorbed_count; ++a) {
    const int32_t v = s.absorbed[a];
    const int32_t u = s.match[v];
    s.side[v] = s.side[u];
    s.weight[u] -= s.weight[v];
    s.level[v] = 0;
    s.piece[++s.piece_count] = v;
  }
  for (int32_t a = first; a <= s.absorbed_count; ++a) {
    const int32_t v = s.absorbed[a];
    s.compute_edge_weights(v);
    s.compute_edge_weights(s.match[v]);
  }
  s.absorbed_count = s.level_absorbed[lev];
  s.top = s.level_top[lev];
  s.levels = lev - 1;
}

// The trials start each from the coarsest graph: keep the views of every
// node of the piece (coarse lists, weights) to come back to it.
void save_coarsest_graph(DissectionState& s) {
  s.coarse_count = s.piece_count;
  std::memcpy(s.coarse_piece + 1, s.piece + 1, sizeof(int32_t) * s.piece_count);
  s.level_absorbed[s.levels + 1] = s.absorbed_count;
  s.level_top[s.levels + 1] = s.top;
  s.high_top = s.top;
  s.coarse_levels = s.levels;
  auto keep = [&s](int32_t x) {
    s.top_start[x] = s.start[x];
    s.top_len[x] = s.wlen[x];
    s.top_weight[x] = s.weight[x];
  };
  for (int32_t k = 1; k <= s.piece_count; ++k) keep(s.piece[k]);
  for (int32_t a = 1; a <= s.absorbed_count; ++a) keep(s.absorbed[a]);
}

void restore_coarsest_graph(DissectionState& s) {
  s.piece_count = s.coarse_count;
  std::memcpy(s.piece + 1, s.coarse_piece + 1, sizeof(int32_t) * s.coarse_count);
  auto back = [&s](int32_t x) {
    s.start[x] = s.top_start[x];
    s.wlen[x] = s.top_len[x];
    s.weight[x] = s.top_weight[x];
  };
  s.levels = s.coarse_levels;
  for (int32_t k = 1; k <= s.piece_count; ++k) back(s.piece[k]);
  s.absorbed_count = s.level_absorbed[s.levels + 1];
  for (int32_t l = 1; l <= s.levels; ++l) {
    for (int32_t a = s.level_absorbed[l] + 1; a <= s.level_absorbed[l + 1]; ++a) {
      back(s.absorbed[a]);
      s.level[s.absorbed[a]] = l;
    }
  }
  s.top = s.high_top;
}

}  // namespace kl
