// Vertex separators of a bisection: minimum (weighted) vertex covers of the
// bipartite graph of cut edges, refinement by moving separator nodes into the
// sides, and improvement against one side at a time.
#include <algorithm>

#include "barrier/ordering/nested_dissection_internal.h"

namespace kl {

namespace {

// Minimum vertex cover of the bipartite graph between the nodes `left`
// (count nl) and their neighbours on side right_side, with node weights as
// capacities (weighted) or all 1. Maximum flow by breadth-first augmenting
// paths; the cover is the left nodes the residual search does not reach and
// the right nodes it does. The graph is built above every coarse graph of
// the piece: each edge twice, the left copy holding its flow, the right copy
// the place of its left twin. Writes the cover to s.cover; false when the
// bipartite graph does not fit.
bool bipartite_cover(DissectionState& s, const int32_t* left, int32_t nl, int32_t right_side, bool weighted) {
  int32_t locals = 0;
  for (int32_t i = 1; i <= nl; ++i) {
    const int32_t x = left[i];
    s.local[x] = ++locals;
    s.local_node[locals] = x;
    s.local_len[locals] = 0;
  }
  int64_t entries = 0;
  for (int32_t i = 1; i <= nl; ++i) {
    const int32_t x = left[i];
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
      const int32_t y = s.g[e];
      if (y == x || s.side[y] != right_side) continue;
      if (s.local[y] == 0) {
        s.local[y] = ++locals;
        s.local_node[locals] = y;
        s.local_len[locals] = 0;
      }
      ++s.local_len[i];
      ++s.local_len[s.local[y]];
      entries += 2;
    }
  }
  const int32_t base = s.high_top;
  const bool fits = base + entries - 1 <= s.limit;
  if (fits) {
    int32_t next = base;
    for (int32_t i = 1; i <= locals; ++i) {
      s.local_start[i] = next;
      next += s.local_len[i];
      s.local_flow[i] = 0;
      s.pred_entry[i] = 0;  // fill count of right lists
    }
    for (int32_t i = 1; i <= nl; ++i) {
      const int32_t x = left[i];
      int32_t pos = s.local_start[i];
      for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
        const int32_t y = s.g[e];
        if (y == x || s.side[y] != right_side) continue;
        const int32_t j = s.local[y];
        s.g[pos] = j;
        s.ew[pos] = 0;
        const int32_t q = s.local_start[j] + s.pred_entry[j]++;
        s.g[q] = i;
        s.ew[q] = pos;
        ++pos;
      }
    }
    auto cap = [&s, weighted](int32_t i) { return weighted ? s.weight[s.local_node[i]] : 1; };
    // Greedy flow first: most augmenting paths are a single edge.
    for (int32_t i = 1; i <= nl; ++i) {
      for (int32_t pos = s.local_start[i]; pos < s.local_start[i] + s.local_len[i]; ++pos) {
        const int32_t j = s.g[pos];
        const int32_t amount = std::min(cap(i) - s.local_flow[i], cap(j) - s.local_flow[j]);
        if (amount <= 0) continue;
        s.ew[pos] += amount;
        s.local_flow[i] += amount;
        s.local_flow[j] += amount;
        if (s.local_flow[i] == cap(i)) break;
      }
    }
    // Blocking flows on the level graph of the residual network, until the
    // search from the source reaches no right node with free capacity.
    int32_t* layer = s.cover;      // free until the cover is written
    int32_t* arc = s.pred_entry;   // current arc of every node
    int32_t* path = s.queue;       // nodes of the path being grown
    int32_t* via = s.pred_node;    // entry that reached each path node
    while (true) {
      int32_t head = 0;
      int32_t tail = 0;
      for (int32_t i = 1; i <= locals; ++i) layer[i] = -1;
      for (int32_t i = 1; i <= nl; ++i) {
        if (s.local_flow[i] < cap(i)) {
          layer[i] = 0;
          s.queue[++tail] = i;
        }
      }
      bool reaches_sink = false;
      while (head < tail) {
        const int32_t x = s.queue[++head];
        const int32_t end = s.local_start[x] + s.local_len[x];
        for (int32_t pos = s.local_start[x]; pos < end; ++pos) {
          const int32_t y = s.g[pos];
          if (layer[y] >= 0) continue;
          if (x > nl && s.ew[s.ew[pos]] <= 0) continue;  // back only along flow
          layer[y] = layer[x] + 1;
          s.queue[++tail] = y;
          if (x <= nl && s.local_flow[y] < cap(y)) reaches_sink = true;
        }
      }
      if (!reaches_sink) break;
      for (int32_t i = 1; i <= locals; ++i) arc[i] = s.local_start[i];
      for (int32_t source = 1; source <= nl; ++source) {
        if (layer[source] != 0) continue;
        while (s.local_flow[source] < cap(source)) {
          int32_t depth = 0;
          path[0] = source;
          bool found = false;
          while (depth >= 0) {
            const int32_t x = path[depth];
            if (x > nl && s.local_flow[x] < cap(x)) {
              found = true;
              break;
            }
            const int32_t end = s.local_start[x] + s.local_len[x];
            bool advanced = false;
            for (; arc[x] < end; ++arc[x]) {
              const int32_t pos = arc[x];
              const int32_t y = s.g[pos];
              if (layer[y] != layer[x] + 1) continue;
              if (x > nl && s.ew[s.ew[pos]] <= 0) continue;
              path[++depth] = y;
              via[depth] = x <= nl ? pos : s.ew[pos];
              advanced = true;
              break;
            }
            if (!advanced) {
              layer[x] = -2;  // no path through x in this phase
              --depth;
              if (depth >= 0) ++arc[path[depth]];
            }
          }
          if (!found) break;
          const int32_t sink_side = path[depth];
          int32_t amount = std::min(cap(source) - s.local_flow[source], cap(sink_side) - s.local_flow[sink_side]);
          for (int32_t d = 1; d <= depth; ++d) {
            if (path[d] <= nl) amount = std::min(amount, s.ew[via[d]]);
          }
          s.local_flow[source] += amount;
          s.local_flow[sink_side] += amount;
          for (int32_t d = 1; d <= depth; ++d) s.ew[via[d]] += path[d] <= nl ? -amount : amount;
        }
      }
    }
    // The last search marks what the source still reaches.
    s.cover_count = 0;
    for (int32_t i = 1; i <= locals; ++i) s.pred_node[i] = layer[i] >= 0 ? 1 : 0;
    for (int32_t i = 1; i <= locals; ++i) {
      const bool is_reached = s.pred_node[i] != 0;
      if ((i <= nl) != is_reached) s.cover[++s.cover_count] = s.local_node[i];
    }
  }
  for (int32_t i = 1; i <= locals; ++i) s.local[s.local_node[i]] = 0;
  return fits;
}

// The cover of the cut edges becomes the separator.
void cover_cut(DissectionState& s, bool weighted) {
  s.compute_all_edge_weights();
  int32_t nl = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t v = s.piece[k];
    if (s.side[v] == 0 && s.external[v] > 0) s.scratch[++nl] = v;
  }
  if (!bipartite_cover(s, s.scratch, nl, 1, weighted)) {
    // No room for the bipartite graph: side 0's boundary covers every cut edge.
    s.cover_count = nl;
    std::copy(s.scratch + 1, s.scratch + nl + 1, s.cover + 1);
  }
  for (int32_t k = 1; k <= s.cover_count; ++k) s.side[s.cover[k]] = -1;
  s.sum_side_weights();
  s.move_separator_to_front();
}

}  // namespace

void weighted_separator_cover(DissectionState& s) { cover_cut(s, true); }

void separator_from_cut(DissectionState& s) { cover_cut(s, false); }

namespace {

// Gain buckets of the separator nodes, one set per target side: the gain of
// moving x into side t is its weight minus the weight of its neighbours in
// the other side, which join the separator. The work arrays of the vertex
// covers are free during the refinement and hold the side-1 set.
struct SeparatorBuckets {
  DissectionState& s;
  int32_t* next[2];
  int32_t* prev[2];
  int32_t* key[2];
  int32_t* gain[2];
  int32_t bound;
  int32_t top[2] = {-1, -1};

  explicit SeparatorBuckets(DissectionState& state)
      : s(state),
        next{state.bucket_next, state.local_start},
        prev{state.bucket_prev, state.local_len},
        key{state.bucket_key, state.local_flow},
        gain{state.pred_node, state.pred_entry},
        bound(state.r) {
    for (int32_t t = 0; t < 2; ++t) std::fill(s.bucket_head[t], s.bucket_head[t] + 2 * bound + 1, 0);
  }

  void file(int32_t x, int32_t t) {
    const int32_t k = std::clamp(gain[t][x], -bound, bound) + bound;
    const int32_t h = s.bucket_head[t][k];
    next[t][x] = h;
    prev[t][x] = 0;
    if (h != 0) prev[t][h] = x;
    s.bucket_head[t][k] = x;
    key[t][x] = k;
    top[t] = std::max(top[t], k);
  }

  void unfile(int32_t x, int32_t t) {
    const int32_t nx = next[t][x];
    const int32_t pv = prev[t][x];
    if (nx != 0) prev[t][nx] = pv;
    if (pv != 0) {
      next[t][pv] = nx;
    } else {
      s.bucket_head[t][key[t][x]] = nx;
    }
  }

  void add(int32_t x) {
    for (int32_t t = 0; t < 2; ++t) {
      int32_t g = s.weight[x];
      for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
        const int32_t y = s.g[e];
        if (y != x && s.side[y] == 1 - t) g -= s.weight[y];
      }
      gain[t][x] = g;
      file(x, t);
    }
  }

  void change(int32_t x, int32_t t, int32_t by) {
    unfile(x, t);
    gain[t][x] += by;
    file(x, t);
  }

  // The separator node of largest gain into side t, 0 when there is none.
  int32_t pick(int32_t t) {
    while (top[t] >= 0 && s.bucket_head[t][top[t]] == 0) --top[t];
    if (top[t] < 0) return 0;
    int32_t best = s.bucket_head[t][top[t]];
    if (top[t] == 2 * bound) {
      for (int32_t x = next[t][best]; x != 0; x = next[t][x]) {
        if (gain[t][x] > gain[t][best]) best = x;
      }
    }
    return best;
  }
};

}  // namespace

// Moves separator nodes into a side while that lowers the separator ratio;
// the best state seen is kept. Moves are logged above the coarse graphs so
// that the pass can go back to the best state.
void refine_separator(DissectionState& s) {
  s.sum_side_weights();
  SeparatorBuckets buckets(s);
  int32_t separator_nodes = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    if (s.side[s.piece[k]] < 0) {
      buckets.add(s.piece[k]);
      ++separator_nodes;
    }
  }
  double best = s.ratio(kEmptySideRatio);
  const int64_t log_room = static_cast<int64_t>(s.limit) - s.high_top + 1;
  int64_t logged = 0;
  int32_t counter = 0;
  auto log_side = [&s, &logged](int32_t x) {
    s.g[s.high_top + logged] = x;
    s.ew[s.high_top + logged] = s.side[x];
    ++logged;
  };
  while (separator_nodes > 0) {
    const int32_t to = kDissectionBalance * static_cast<double>(s.side_weight[1]) > static_cast<double>(s.side_weight[0]) ? 0 : 1;
    const int32_t from = 1 - to;
    const int32_t x = buckets.pick(to);
    if (x == 0 || static_cast<int64_t>(buckets.gain[to][x]) + s.r <= s.r / 2) break;
    int32_t pulled = 0;
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
      if (s.g[e] != x && s.side[s.g[e]] == from) ++pulled;
    }
    if (logged + 1 + pulled > log_room) break;
    // x leaves the separator for side `to`.
    log_side(x);
    buckets.unfile(x, 0);
    buckets.unfile(x, 1);
    s.side[x] = to;
    --separator_nodes;
    s.separator_weight -= s.weight[x];
    s.side_weight[to] += s.weight[x];
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
      const int32_t z = s.g[e];
      if (z != x && s.side[z] < 0) buckets.change(z, from, -s.weight[x]);
    }
    // Its neighbours in the other side join the separator.
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
      const int32_t y = s.g[e];
      if (y == x || s.side[y] != from) continue;
      log_side(y);
      s.side[y] = -1;
      ++separator_nodes;
      s.side_weight[from] -= s.weight[y];
      s.separator_weight += s.weight[y];
      for (int32_t f = s.start[y]; f < s.start[y] + s.wlen[y]; ++f) {
        const int32_t z = s.g[f];
        if (z != y && s.side[z] < 0) buckets.change(z, to, s.weight[y]);
      }
      buckets.add(y);
    }
    const double now = s.ratio(kEmptySideRatio);
    if (now < best) {
      best = now;
      counter = 1;
      logged = 0;  // the best state is the current one
    } else {
      ++counter;
    }
    // Also without any improvement: a pass that never improves would
    // otherwise run until its gains fall to -r/2.
    if (counter >= kSeparatorMoveLimit) break;
  }
  while (logged > 0) {
    --logged;
    const int32_t x = s.g[s.high_top + logged];
    s.side[x] = s.ew[s.high_top + logged];
  }
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    s.bucket_key[s.piece[k]] = -1;
  }
  s.sum_side_weights();
  s.move_separator_to_front();
}

// The separator against side `from_side`: the minimum cover of the
// separator's edges into that side becomes the separator, the rest of the
// old separator joins the other side. True when the separator got smaller.
bool improve_separator_side(DissectionState& s, int32_t from_side) {
  s.sum_side_weights();
  const int64_t before = s.separator_weight;
  const int32_t other = 1 - from_side;
  int32_t nl = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t x = s.piece[k];
    if (s.side[x] >= 0) continue;
    bool touches = false;
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x] && !touches; ++e) {
      touches = s.g[e] != x && s.side[s.g[e]] == from_side;
    }
    if (touches) {
      s.scratch[++nl] = x;
    } else {
      s.side[x] = other;
    }
  }
  if (bipartite_cover(s, s.scratch, nl, from_side, false)) {
    const int32_t in_cover = s.next_stamp();
    for (int32_t k = 1; k <= s.cover_count; ++k) s.stamp[s.cover[k]] = in_cover;
    for (int32_t k = 1; k <= nl; ++k) {
      if (s.stamp[s.scratch[k]] != in_cover) s.side[s.scratch[k]] = other;
    }
    for (int32_t k = 1; k <= s.cover_count; ++k) s.side[s.cover[k]] = -1;
  }
  s.sum_side_weights();
  s.move_separator_to_front();
  return s.separator_weight < before;
}

}  // namespace kl
