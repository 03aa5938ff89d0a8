// Bisection of the dissection's current piece: growth from a seed on the
// coarsest graph, greedy refinement at every level, the choice among
// several seeds, and the return of a separator to the two sides.
#include <algorithm>
#include <cstring>

#include "barrier/ordering/heapsort.h"
#include "barrier/ordering/nested_dissection_internal.h"

namespace kl {

// ---- shared helpers of the state -------------------------------------------

int32_t DissectionState::next_stamp() {
  // Stamps only ever grow; start them afresh well before the int limit.
  if (stamp_now >= stamp_limit - 1) {
    std::fill(stamp, stamp + r + 1, 0);
    stamp_now = 0;
  }
  return ++stamp_now;
}

int32_t DissectionState::adjacency_weight(int32_t v) const {
  int32_t total = 0;
  for (int32_t e = start[v]; e < start[v] + wlen[v]; ++e) {
    if (g[e] != v) total += ew[e];
  }
  return total;
}

void DissectionState::compute_edge_weights(int32_t v) {
  internal[v] = 0;
  external[v] = 0;
  if (side[v] < 0) return;
  for (int32_t e = start[v]; e < start[v] + wlen[v]; ++e) {
    const int32_t u = g[e];
    if (u == v || side[u] < 0) continue;
    if (side[u] == side[v]) {
      internal[v] += ew[e];
    } else {
      external[v] += ew[e];
    }
  }
}

void DissectionState::compute_all_edge_weights() {
  cut = 0;
  for (int32_t k = 1; k <= piece_count; ++k) {
    const int32_t v = piece[k];
    compute_edge_weights(v);
    if (side[v] == 0) cut += external[v];
  }
}

void DissectionState::sum_side_weights() {
  side_weight[0] = side_weight[1] = 0;
  separator_weight = 0;
  for (int32_t k = 1; k <= piece_count; ++k) {
    const int32_t v = piece[k];
    if (side[v] < 0) {
      separator_weight += weight[v];
    } else {
      side_weight[side[v]] += weight[v];
    }
  }
}

void DissectionState::move_separator_to_front() {
  int32_t front = 0;
  int32_t back = 0;
  for (int32_t k = 1; k <= piece_count; ++k) {
    const int32_t v = piece[k];
    if (side[v] < 0) {
      piece[++front] = v;
    } else {
      scratch[++back] = v;
    }
  }
  std::memcpy(piece + front + 1, scratch + 1, sizeof(int32_t) * back);
}

double DissectionState::ratio(double empty) const {
  if (side_weight[0] == 0 || side_weight[1] == 0) return empty;
  return static_cast<double>(separator_weight) /
         (static_cast<double>(side_weight[0]) * static_cast<double>(side_weight[1]));
}

namespace {

// ---- gain buckets ------------------------------------------------------------

void buckets_clear(DissectionState& s, int32_t bound) {
  s.bucket_bound = bound;
  for (int32_t sd = 0; sd < 2; ++sd) {
    std::fill(s.bucket_head[sd], s.bucket_head[sd] + 2 * bound + 1, 0);
    std::fill(s.bucket_tail[sd], s.bucket_tail[sd] + 2 * bound + 1, 0);
    s.bucket_top[sd] = -1;
  }
}

int32_t gain_of(const DissectionState& s, int32_t v) { return s.external[v] - s.internal[v]; }

// A node that made a zero-gain move since the last positive move goes to the
// tail of its bucket: such nodes then form the bucket's tail, and the head of
// the zero-gain bucket is eligible whenever any node in it is.
void bucket_insert(DissectionState& s, int32_t v) {
  const int32_t sd = s.side[v];
  const int32_t key = std::clamp(gain_of(s, v), -s.bucket_bound, s.bucket_bound) + s.bucket_bound;
  const int32_t h = s.bucket_head[sd][key];
  if (h != 0 && s.park_zero_moves && s.move_epoch[v] == s.epoch) {
    const int32_t t = s.bucket_tail[sd][key];
    s.bucket_next[t] = v;
    s.bucket_prev[v] = t;
    s.bucket_next[v] = 0;
    s.bucket_tail[sd][key] = v;
  } else {
    s.bucket_next[v] = h;
    s.bucket_prev[v] = 0;
    if (h != 0) {
      s.bucket_prev[h] = v;
    } else {
      s.bucket_tail[sd][key] = v;
    }
    s.bucket_head[sd][key] = v;
  }
  s.bucket_key[v] = key;
  if (key > s.bucket_top[sd]) s.bucket_top[sd] = key;
}

void bucket_remove(DissectionState& s, int32_t v) {
  const int32_t key = s.bucket_key[v];
  if (key < 0) return;
  const int32_t nx = s.bucket_next[v];
  const int32_t pv = s.bucket_prev[v];
  if (nx != 0) {
    s.bucket_prev[nx] = pv;
  } else {
    s.bucket_tail[s.side[v]][key] = pv;
  }
  if (pv != 0) {
    s.bucket_next[pv] = nx;
  } else {
    s.bucket_head[s.side[v]][key] = nx;
  }
  s.bucket_key[v] = -1;
}

// The node to move out of side sd: the largest gain (the true largest in the
// clamped top bucket, else a bucket's head). With eligible_only, gains below
// zero do not qualify, nor a zero gain already moved since the last positive
// move.
int32_t bucket_pick(DissectionState& s, int32_t sd, bool eligible_only) {
  int32_t* head = s.bucket_head[sd];
  while (s.bucket_top[sd] >= 0 && head[s.bucket_top[sd]] == 0) --s.bucket_top[sd];
  const int32_t lowest = eligible_only ? s.bucket_bound : 0;
  for (int32_t key = s.bucket_top[sd]; key >= lowest; --key) {
    const int32_t h = head[key];
    if (h == 0) continue;
    if (key == 2 * s.bucket_bound) {
      int32_t best = h;
      for (int32_t v = s.bucket_next[h]; v != 0; v = s.bucket_next[v]) {
        if (gain_of(s, v) > gain_of(s, best)) best = v;
      }
      return best;
    }
    if (eligible_only && key == s.bucket_bound) {
      if (s.move_epoch[h] != s.epoch) return h;
      continue;
    }
    return h;
  }
  return 0;
}

// Moves v to the other side and keeps the edge weights of it and its
// neighbours; neighbours in the buckets are re-filed (bucketed_sides: which
// sides keep buckets).
void move_across(DissectionState& s, int32_t v, const bool bucketed_sides[2]) {
  const int32_t from = s.side[v];
  const int32_t to = 1 - from;
  bucket_remove(s, v);
  s.cut -= gain_of(s, v);
  s.side[v] = to;
  std::swap(s.internal[v], s.external[v]);
  s.side_weight[from] -= s.weight[v];
  s.side_weight[to] += s.weight[v];
  for (int32_t e = s.start[v]; e < s.start[v] + s.wlen[v]; ++e) {
    const int32_t u = s.g[e];
    if (u == v || s.side[u] < 0) continue;
    if (s.side[u] == from) {
      s.internal[u] -= s.ew[e];
      s.external[u] += s.ew[e];
    } else {
      s.internal[u] += s.ew[e];
      s.external[u] -= s.ew[e];
    }
    if (!bucketed_sides[s.side[u]]) continue;
    bucket_remove(s, u);
    if (s.external[u] > 0) bucket_insert(s, u);
  }
  if (bucketed_sides[to] && s.external[v] > 0) bucket_insert(s, v);
}

int32_t piece_weight(const DissectionState& s) {
  int64_t total = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) total += s.weight[s.piece[k]];
  return static_cast<int32_t>(std::min<int64_t>(total, s.r));
}

}  // namespace

// One trial on the coarsest graph: side 1 grows from the seed by the
// frontier node of largest gain until it weighs as much as side 0.
void grow_bisection(DissectionState& s, int32_t seed) {
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t v = s.piece[k];
    s.side[v] = 0;
    s.bucket_key[v] = -1;
  }
  s.compute_all_edge_weights();
  s.sum_side_weights();
  buckets_clear(s, piece_weight(s));
  const bool bucketed[2] = {true, false};
  move_across(s, seed, bucketed);
  while (s.side_weight[1] < s.side_weight[0]) {
    const int32_t v = bucket_pick(s, 0, false);
    if (v == 0) break;
    move_across(s, v, bucketed);
  }
}

// Greedy refinement of a bisection (no separator nodes in the piece).
void refine_bisection(DissectionState& s) {
  s.compute_all_edge_weights();
  s.sum_side_weights();
  buckets_clear(s, piece_weight(s));
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    const int32_t v = s.piece[k];
    s.bucket_key[v] = -1;
    if (s.side[v] >= 0 && s.external[v] > 0) bucket_insert(s, v);
  }
  ++s.epoch;
  s.park_zero_moves = true;
  const bool bucketed[2] = {true, true};
  while (true) {
    int32_t cand[2] = {0, 0};
    for (int32_t sd = 0; sd < 2; ++sd) {
      // A side gives nodes only while it is not much lighter than the other.
      if (static_cast<double>(s.side_weight[sd]) >= kDissectionBalance * static_cast<double>(s.side_weight[1 - sd])) {
        cand[sd] = bucket_pick(s, sd, true);
      }
    }
    int32_t v;
    if (cand[0] != 0 && cand[1] != 0) {
      const int32_t g0 = gain_of(s, cand[0]);
      const int32_t g1 = gain_of(s, cand[1]);
      if (g0 != g1) {
        v = g0 > g1 ? cand[0] : cand[1];
      } else {
        v = s.side_weight[0] > s.side_weight[1] ? cand[0] : cand[1];
      }
    } else {
      v = cand[0] != 0 ? cand[0] : cand[1];
    }
    if (v == 0) break;
    if (gain_of(s, v) > 0) {
      ++s.epoch;
    } else {
      s.move_epoch[v] = s.epoch;
    }
    move_across(s, v, bucketed);
  }
  for (int32_t k = 1; k <= s.piece_count; ++k) bucket_remove(s, s.piece[k]);
  s.park_zero_moves = false;
}

// Separator nodes back into the sides, heaviest first, each to side 1 when
// that leaves side 1 strictly lighter than side 0.
void dissolve_separator(DissectionState& s) {
  s.sum_side_weights();
  int32_t count = 0;
  for (int32_t k = 1; k <= s.piece_count; ++k) {
    if (s.side[s.piece[k]] < 0) s.scratch[++count] = s.piece[k];
  }
  sort_index_by_key(count, s.scratch, s.weight);
  for (int32_t k = count; k >= 1; --k) {
    const int32_t x = s.scratch[k];
    const int32_t to = s.side_weight[1] + s.weight[x] < s.side_weight[0] ? 1 : 0;
    s.side[x] = to;
    s.side_weight[to] += s.weight[x];
    s.separator_weight -= s.weight[x];
  }
  s.compute_all_edge_weights();
}

// Bisection trials from the highest-degree seeds of the coarsest graph, each
// projected to level 1 and judged by the ratio of its weighted separator.
void choose_initial_bisection(DissectionState& s, int32_t trials) {
  save_coarsest_graph(s);
  int32_t count = s.coarse_count;
  std::memcpy(s.queue + 1, s.coarse_piece + 1, sizeof(int32_t) * count);
  sort_index_by_key(count, s.queue, s.wlen);
  for (int32_t k = 1; k <= count; ++k) s.excluded[s.queue[k]] = 0;
  // The seed order lives in the queue only until the first cover; keep it.
  std::memcpy(s.seed_order + 1, s.queue + 1, sizeof(int32_t) * count);
  double best_ratio = 0.0;
  int64_t best_cut = 0;
  bool have_best = false;
  int32_t done = 0;
  for (int32_t k = count; k >= 1 && done < trials; --k) {
    const int32_t seed = s.seed_order[k];
    if (s.excluded[seed] != 0) continue;
    if (done > 0) restore_coarsest_graph(s);
    grow_bisection(s, seed);
    refine_bisection(s);
    for (int32_t e = s.start[seed]; e < s.start[seed] + s.wlen[seed]; ++e) {
      if (s.side[s.g[e]] == 1) s.excluded[s.g[e]] = 1;
    }
    while (s.levels > 1) {
      project_partition_level(s);
      refine_bisection(s);
    }
    const int64_t cut = s.cut;
    weighted_separator_cover(s);
    const double ratio = s.ratio(kEmptySideRatio);
    if (!have_best || ratio < best_ratio || (ratio == best_ratio && cut < best_cut)) {
      have_best = true;
      best_ratio = ratio;
      best_cut = cut;
      for (int32_t j = 1; j <= s.piece_count; ++j) s.best_side[s.piece[j]] = s.side[s.piece[j]];
    }
    ++done;
  }
  for (int32_t j = 1; j <= s.piece_count; ++j) s.side[s.piece[j]] = s.best_side[s.piece[j]];
  dissolve_separator(s);
}

}  // namespace kl
