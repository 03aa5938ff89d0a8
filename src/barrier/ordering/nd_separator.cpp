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
    if (!weighted) {
      // Greedy matching first: most of the augmenting paths are one edge.
      for (int32_t i = 1; i <= nl; ++i) {
        for (int32_t pos = s.local_start[i]; pos < s.local_start[i] + s.local_len[i]; ++pos) {
          const int32_t j = s.g[pos];
          if (s.local_flow[j] == 0) {
            s.ew[pos] = 1;
            s.local_flow[i] = 1;
            s.local_flow[j] = 1;
            break;
          }
        }
      }
    }
    int32_t reached;
    while (true) {
      reached = s.next_stamp();
      int32_t head = 0;
      int32_t tail = 0;
      for (int32_t i = 1; i <= nl; ++i) {
        if (s.local_flow[i] < cap(i)) {
          s.stamp[s.local_node[i]] = reached;
          s.pred_node[i] = 0;
          s.queue[++tail] = i;
        }
      }
      int32_t found = 0;
      while (head < tail && found == 0) {
        const int32_t x = s.queue[++head];
        const int32_t end = s.local_start[x] + s.local_len[x];
        for (int32_t pos = s.local_start[x]; pos < end; ++pos) {
          const int32_t y = s.g[pos];
          if (s.stamp[s.local_node[y]] == reached) continue;
          if (x <= nl) {
            s.stamp[s.local_node[y]] = reached;
            s.pred_node[y] = x;
            s.pred_entry[y] = pos;
            s.queue[++tail] = y;
            if (s.local_flow[y] < cap(y)) {
              found = y;
              break;
            }
          } else if (s.ew[s.ew[pos]] > 0) {
            // Back along an edge that carries flow.
            s.stamp[s.local_node[y]] = reached;
            s.pred_node[y] = x;
            s.pred_entry[y] = s.ew[pos];
            s.queue[++tail] = y;
          }
        }
      }
      if (found == 0) break;
      int32_t amount = cap(found) - s.local_flow[found];
      for (int32_t y = found;;) {
        const int32_t i = s.pred_node[y];
        if (s.pred_node[i] == 0) {
          amount = std::min(amount, cap(i) - s.local_flow[i]);
          break;
        }
        amount = std::min(amount, s.ew[s.pred_entry[i]]);
        y = s.pred_node[i];
      }
      s.local_flow[found] += amount;
      for (int32_t y = found;;) {
        const int32_t i = s.pred_node[y];
        s.ew[s.pred_entry[y]] += amount;
        if (s.pred_node[i] == 0) {
          s.local_flow[i] += amount;
          break;
        }
        s.ew[s.pred_entry[i]] -= amount;
        y = s.pred_node[i];
      }
    }
    s.cover_count = 0;
    for (int32_t i = 1; i <= locals; ++i) {
      const bool is_reached = s.stamp[s.local_node[i]] == reached;
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

void separator_add(DissectionState& s, int32_t x) {
  s.separator[++s.separator_count] = x;
  s.separator_place[x] = s.separator_count;
}

void separator_drop(DissectionState& s, int32_t x) {
  const int32_t at = s.separator_place[x];
  const int32_t last = s.separator[s.separator_count--];
  s.separator[at] = last;
  s.separator_place[last] = at;
}

}  // namespace

void weighted_separator_cover(DissectionState& s) { cover_cut(s, true); }

void separator_from_cut(DissectionState& s) { cover_cut(s, false); }

// Moves separator nodes into a side while that lowers the separator ratio;
// the best state seen is kept. Moves are logged above the coarse graphs so
// that the pass can go back to the best state.
void refine_separator(DissectionState& s) {
  s.sum_side_weights();
  s.separator_count = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    if (s.side[s.piece[k]] < 0) separator_add(s, s.piece[k]);
  }
  double best = s.ratio(kEmptySideRatio);
  const int64_t log_room = static_cast<int64_t>(s.limit) - s.high_top + 1;
  int64_t logged = 0;
  int32_t counter = 0;
  auto set_side = [&s, &logged](int32_t x, int32_t to) {
    const int32_t from = s.side[x];
    s.g[s.high_top + logged] = x;
    s.ew[s.high_top + logged] = from;
    ++logged;
    if (from < 0) {
      s.separator_weight -= s.weight[x];
      separator_drop(s, x);
    } else {
      s.side_weight[from] -= s.weight[x];
    }
    if (to < 0) {
      s.separator_weight += s.weight[x];
      separator_add(s, x);
    } else {
      s.side_weight[to] += s.weight[x];
    }
    s.side[x] = to;
  };
  while (s.separator_count > 0) {
    const int32_t to = kDissectionBalance * static_cast<double>(s.side_weight[1]) > static_cast<double>(s.side_weight[0]) ? 0 : 1;
    int32_t best_node = 0;
    int64_t best_gain = 0;
    int32_t best_pulled = 0;
    for (int32_t k = 1; k <= s.separator_count; ++k) {
      const int32_t x = s.separator[k];
      int64_t gain = s.weight[x];
      int32_t pulled = 0;
      for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
        const int32_t y = s.g[e];
        if (y != x && s.side[y] == 1 - to) {
          gain -= s.weight[y];
          ++pulled;
        }
      }
      if (best_node == 0 || gain > best_gain) {
        best_node = x;
        best_gain = gain;
        best_pulled = pulled;
      }
    }
    if (best_gain + s.r <= s.r / 2) break;
    if (logged + 1 + best_pulled > log_room) break;
    const int32_t x = best_node;
    set_side(x, to);
    for (int32_t e = s.start[x]; e < s.start[x] + s.wlen[x]; ++e) {
      const int32_t y = s.g[e];
      if (y != x && s.side[y] == 1 - to) set_side(y, -1);
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
