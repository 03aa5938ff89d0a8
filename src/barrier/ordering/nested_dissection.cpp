// Nested dissection driver: splits the graph into pieces by breadth-first
// search over the unlabelled nodes, bisects every large piece (multilevel)
// and labels its vertex separator as the next group; small pieces become
// groups whole.
#include "barrier/ordering/nested_dissection.h"

#include <algorithm>
#include <climits>

#include "barrier/ordering/nested_dissection_internal.h"

namespace kl {

namespace {

constexpr int32_t kWorkArrays = 27;
constexpr int32_t kSeparatorRetries = 3;

// Breadth-first search from `from` over the unlabelled nodes; entries of
// labelled nodes move to the end of each list scanned and drop out of its
// working length. Returns the number of levels; the piece is the nodes
// reached, in search order.
int32_t search_piece(DissectionState& s, int32_t from) {
  const int32_t seen = s.next_stamp();
  s.piece_count = 1;
  s.piece[1] = from;
  s.stamp[from] = seen;
  int32_t levels = 0;
  int32_t head = 0;
  while (head < s.piece_count) {
    ++levels;
    const int32_t level_end = s.piece_count;
    while (head < level_end) {
      const int32_t u = s.piece[++head];
      int32_t e = s.start[u];
      while (e < s.start[u] + s.wlen[u]) {
        const int32_t y = s.g[e];
        if (s.label[y] != 0) {
          const int32_t last = s.start[u] + s.wlen[u] - 1;
          std::swap(s.g[e], s.g[last]);
          std::swap(s.ew[e], s.ew[last]);
          --s.wlen[u];
          continue;
        }
        if (s.stamp[y] != seen) {
          s.stamp[y] = seen;
          s.piece[++s.piece_count] = y;
        }
        ++e;
      }
    }
  }
  return levels;
}

// Multilevel bisection of the current piece and its vertex separator, left
// at the front of the piece. Returns the separator's size, or the piece size
// when the piece is to be one group.
int32_t dissect_piece(DissectionState& s, int32_t trials, int32_t base_top) {
  s.piece_size = s.piece_count;
  s.levels = 0;
  s.absorbed_count = 0;
  s.top = base_top;
  while (true) {
    const int32_t before = s.piece_count;
    if (!coarsen_graph_level(s)) break;
    if (s.piece_count <= s.minsize ||
        static_cast<double>(s.piece_count) >= kDissectionBalance * static_cast<double>(before)) {
      break;
    }
  }
  if (s.levels <= 1) {
    // Too little coarsening to bisect well: the piece is one group.
    project_partition_level(s);
    return s.piece_count;
  }
  choose_initial_bisection(s, trials);
  project_partition_level(s);
  refine_bisection(s);

  double best = -1.0;
  const double piece_ratio = static_cast<double>(s.piece_count);
  for (int32_t retry = 0;; ++retry) {
    separator_from_cut(s);
    refine_separator(s);
    for (bool first_cycle = true;; first_cycle = false) {
      if (s.side_weight[0] == 0 || s.side_weight[1] == 0) break;
      const int32_t side_a = s.side_weight[0] <= s.side_weight[1] ? 1 : 0;
      const bool a_smaller = improve_separator_side(s, side_a);
      if (!first_cycle && !a_smaller) break;
      if (s.side_weight[0] == 0 || s.side_weight[1] == 0) break;
      if (!improve_separator_side(s, 1 - side_a)) break;
    }
    const double ratio = s.ratio(piece_ratio);
    if (best >= 0.0 && ratio > best) {
      for (int32_t k = 1; k <= s.piece_count; ++k) s.side[s.piece[k]] = s.best_side[s.piece[k]];
      break;
    }
    const bool both_sides = s.side_weight[0] > 0 && s.side_weight[1] > 0;
    if (both_sides) {
      best = ratio;
      for (int32_t k = 1; k <= s.piece_count; ++k) s.best_side[s.piece[k]] = s.side[s.piece[k]];
    }
    if (retry == kSeparatorRetries) break;
    dissolve_separator(s);
    refine_bisection(s);
  }
  s.sum_side_weights();
  s.move_separator_to_front();
  int32_t count = 0;
  while (count < s.piece_count && s.side[s.piece[count + 1]] < 0) ++count;
  // An empty separator would leave the piece unlabelled for ever.
  return count > 0 ? count : s.piece_count;
}

}  // namespace

int64_t nested_dissection_work_size(int32_t node_count) {
  const int64_t stride = static_cast<int64_t>(node_count) + 1;
  return kWorkArrays * stride + 4 * (2 * stride + 1);
}

void order_nested_dissection(int32_t node_count, int32_t* list_start, int32_t* factor_index,
                             const int32_t* list_length, int32_t first_entry,
                             int32_t factor_space, int32_t* edge_weight, int32_t* label,
                             int32_t* work, int32_t stamp_limit) {
  const int32_t r = node_count;
  if (r <= 0) return;
  std::fill(label + 1, label + r + 1, 0);
  if (first_entry < 1) return;

  // The lists must end below the limit: the top 2r entries are work space.
  const int64_t relative_space = static_cast<int64_t>(factor_space) - first_entry + 1;
  const int64_t limit = relative_space - 2 * static_cast<int64_t>(r);
  int64_t lists_end = 0;
  for (int32_t i = 1; i <= r; ++i) {
    if (list_length[i] <= 0) continue;
    if (list_start[i] < first_entry) return;
    lists_end = std::max<int64_t>(lists_end, static_cast<int64_t>(list_start[i]) - first_entry + list_length[i]);
  }
  if (lists_end >= limit) return;

  const int32_t minsize = std::max(100, r / 32);
  const int32_t leafmax = std::min(1500, std::max(r / 15, 2 * minsize));
  const int32_t trials = r < 2000 ? 25 : 5;
  if (r <= leafmax) return;

  DissectionState s;
  s.r = r;
  s.g = factor_index + (first_entry - 1);
  s.ew = edge_weight;
  s.start = list_start;
  s.label = label;
  s.limit = static_cast<int32_t>(limit);
  s.minsize = minsize;
  s.stamp_limit = stamp_limit > 2 ? stamp_limit : INT_MAX - 2 * r;
  const int64_t stride = static_cast<int64_t>(r) + 1;
  int32_t** arrays[kWorkArrays] = {
      &s.wlen,          &s.weight,     &s.side,        &s.internal,    &s.external,   &s.stamp,
      &s.match,         &s.level,      &s.piece,       &s.coarse_piece, &s.absorbed,  &s.bucket_next,
      &s.bucket_prev,   &s.bucket_key, &s.move_epoch,  &s.seed_order,  &s.local,
      &s.local_node,    &s.local_start, &s.local_len,  &s.local_flow,  &s.pred_node,  &s.pred_entry,
      &s.queue,         &s.scratch,    &s.cover,       &s.excluded};
  for (int32_t k = 0; k < kWorkArrays; ++k) *arrays[k] = work + k * stride;
  std::fill(work, work + nested_dissection_work_size(r), 0);
  s.bucket_head[0] = work + kWorkArrays * stride;
  s.bucket_head[1] = s.bucket_head[0] + (2 * stride + 1);
  s.bucket_tail[0] = s.bucket_head[1] + (2 * stride + 1);
  s.bucket_tail[1] = s.bucket_tail[0] + (2 * stride + 1);
  // The top 2r entries of both arrays: the trials' saved views.
  s.top_start = s.g + s.limit;
  s.top_len = s.g + s.limit + r;
  s.top_weight = s.ew + s.limit;
  s.best_side = s.ew + s.limit + r;

  const int32_t shift = first_entry - 1;
  for (int32_t i = 1; i <= r; ++i) {
    s.start[i] -= shift;
    s.wlen[i] = list_length[i];
    s.weight[i] = 1;
  }
  std::fill(s.ew + 1, s.ew + lists_end + 1, 1);
  const int32_t base_top = static_cast<int32_t>(lists_end) + 1;
  s.top = base_top;
  s.high_top = base_top;

  int32_t next_label = 0;
  for (int32_t v = 1; v <= r; ++v) {
    if (label[v] != 0) continue;
    int32_t from = v;
    while (true) {
      const int32_t search_levels = search_piece(s, from);
      int32_t group = s.piece_count;
      if (search_levels > 2 && s.piece_count > leafmax) group = dissect_piece(s, trials, base_top);
      --next_label;
      for (int32_t k = 1; k <= group; ++k) label[s.piece[k]] = next_label;
      s.top = base_top;
      s.high_top = base_top;
      if (label[from] == 0) continue;
      from = s.piece[s.piece_count];
      if (label[from] != 0) break;
    }
  }
  for (int32_t i = 1; i <= r; ++i) s.start[i] += shift;
}

}  // namespace kl
