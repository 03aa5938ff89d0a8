#include "barrier/ordering/minimum_degree.h"

#include <algorithm>
#include <limits>

#include "barrier/factor/list_compaction.h"
#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// Per-node arrays carved out of the caller's work block, in this order.
enum WorkSlot : int32_t {
  SLOT_REVERSE_START,
  SLOT_DEGREE,
  SLOT_WEIGHT,
  SLOT_CHAIN,
  SLOT_CHAIN_TAIL,
  SLOT_SCORE_HIGH,
  SLOT_SCORE_LOW,
  SLOT_MARK,
  SLOT_BUCKET_PREV,
  SLOT_BUCKET_NEXT,
  SLOT_OWN_PREV,
  SLOT_OWN_NEXT,
  SLOT_REVERSE_PREV,
  SLOT_REVERSE_NEXT,
  SLOT_OLD_OWN_LENGTH,
  SLOT_REVERSE_GROWTH,
  SLOT_BUCKET_HEAD,
  SLOT_SCRATCH,
  SLOT_COUNT
};
static_assert(SLOT_COUNT == 18, "minimum_degree_work_size counts 18 slots");

// Marks of the clique update; node-number marks (the supervariable test, the
// score) are positive, so these never collide with them.
constexpr int32_t kInClique = -1;
constexpr int32_t kAdjacentInClique = -2;

// A score not yet computed.
constexpr int32_t kNoScore = -1;
constexpr int64_t kScoreBase = int64_t{1} << 31;

// Removes `value` from the list storage[start .. start + length - 1] by
// moving the last entry into its place.
bool remove_from_list(int32_t* storage, int32_t start, int32_t& length, int32_t value) {
  for (int32_t k = start; k < start + length; ++k) {
    if (storage[k] == value) {
      storage[k] = storage[start + length - 1];
      --length;
      return true;
    }
  }
  return false;
}

void unlink(int32_t v, int32_t* prev, int32_t* next, int32_t& head, int32_t& tail) {
  const int32_t before = prev[v];
  const int32_t after = next[v];
  if (before != 0) {
    next[before] = after;
  } else if (head == v) {
    head = after;
  }
  if (after != 0) {
    prev[after] = before;
  } else if (tail == v) {
    tail = before;
  }
  prev[v] = 0;
  next[v] = 0;
}

void append_to_chain(int32_t v, int32_t* prev, int32_t* next, int32_t& head, int32_t& tail) {
  prev[v] = tail;
  next[v] = 0;
  if (tail != 0) {
    next[tail] = v;
  } else {
    head = v;
  }
  tail = v;
}

// Packs the own lists in storage order from `base`; the room after them is
// factor_space - first_free - 1.
void pack_own_lists(int64_t base, int32_t factor_space, MinimumDegreeLists& lists, int32_t need,
                    int32_t& first_free, int32_t& status) {
  const int64_t end = pack_index_lists(base, lists.own_start, lists.own_length, lists.own_head,
                                       lists.own_next, lists.factor_index);
  first_free = static_cast<int32_t>(end);
  if (static_cast<int64_t>(factor_space) - end - 1 < need) status = BARRIER_SPACE_SHORT;
}

class MinimumDegreeOrdering {
 public:
  MinimumDegreeOrdering(barrier_params& params, int32_t dim, int32_t* graph_start,
                        int32_t* graph_length, int32_t* permutation, int32_t* var_state,
                        int32_t* factor_index, int32_t n_lead, int32_t tfind, int32_t* work,
                        int32_t* reverse_store, int64_t reverse_capacity)
      : params_(params), dim_(dim), n_lead_(n_lead), tfind_(tfind), permutation_(permutation),
        state_(var_state) {
    auto slot = [work, dim](WorkSlot s) { return work + static_cast<int64_t>(s) * (dim + 2); };
    lists_.factor_index = factor_index;
    lists_.own_start = graph_start;
    lists_.own_length = graph_length;
    lists_.reverse_store = reverse_store;
    lists_.reverse_start = slot(SLOT_REVERSE_START);
    lists_.reverse_count = var_state;
    lists_.weight = slot(SLOT_WEIGHT);
    lists_.chain = slot(SLOT_CHAIN);
    lists_.chain_tail = slot(SLOT_CHAIN_TAIL);
    lists_.mark = slot(SLOT_MARK);
    lists_.own_prev = slot(SLOT_OWN_PREV);
    lists_.own_next = slot(SLOT_OWN_NEXT);
    lists_.reverse_prev = slot(SLOT_REVERSE_PREV);
    lists_.reverse_next = slot(SLOT_REVERSE_NEXT);
    degree_ = slot(SLOT_DEGREE);
    score_high_ = slot(SLOT_SCORE_HIGH);
    score_low_ = slot(SLOT_SCORE_LOW);
    bucket_prev_ = slot(SLOT_BUCKET_PREV);
    bucket_next_ = slot(SLOT_BUCKET_NEXT);
    old_own_length_ = slot(SLOT_OLD_OWN_LENGTH);
    reverse_growth_ = slot(SLOT_REVERSE_GROWTH);
    bucket_head_ = slot(SLOT_BUCKET_HEAD);
    scratch_ = slot(SLOT_SCRATCH);
    // List starts are ints: a larger store could not be addressed anyway.
    reverse_capacity_ = static_cast<int32_t>(
        std::clamp<int64_t>(reverse_capacity, 0, std::numeric_limits<int32_t>::max() - 1));
    need_ = std::max(params.var_count, dim);
    factor_space_ = params.factor_space;
    top_ = factor_space_;
  }

  int32_t run(MinimumDegreeStats& stats);

 private:
  // The setup steps before the elimination loop; each returns false on -2.
  void start_nodes();
  void pre_eliminate();
  bool lay_out_own_lists();
  bool build_reverse_lists();
  void drop_duplicate_edges();
  void merge_initial_supervariables();
  void fill_buckets();

  // The elimination loop.
  int32_t chain_pick();
  int32_t search_pivot();
  int64_t score(int32_t v);
  bool eliminate(int32_t p, bool without_fill);
  void form_clique(int32_t p);
  bool add_fill(int32_t p);
  void merge_clique_supervariables(int32_t p);

  // Storage.
  int32_t own_end(int32_t v) const { return lists_.own_start[v] + lists_.own_length[v]; }
  int32_t own_tail_end() const {
    return lists_.own_tail != 0 ? own_end(lists_.own_tail) : own_base_;
  }
  int32_t reverse_end(int32_t v) const { return lists_.reverse_start[v] + lists_.reverse_count[v]; }
  int32_t reverse_tail_end() const {
    return lists_.reverse_tail != 0 ? reverse_end(lists_.reverse_tail) : 1;
  }
  bool compact_own();
  bool compact_reverse();
  bool grow_own_list(int32_t x, int32_t extra);
  bool grow_reverse_list(int32_t z, int32_t extra);

  void insert_in_bucket(int32_t v);
  void remove_from_bucket(int32_t v);
  void invalidate_score(int32_t v) { score_high_[v] = kNoScore; }
  void eliminate_node(int32_t v) {
    permutation_[++permutation_count_] = v;
    state_[v] = -1;
  }
  template <typename Visit>
  void for_each_neighbour(int32_t v, Visit visit) const {
    for (int32_t k = lists_.own_start[v]; k < own_end(v); ++k) visit(lists_.factor_index[k]);
    for (int32_t k = lists_.reverse_start[v]; k < reverse_end(v); ++k)
      visit(lists_.reverse_store[k]);
  }

  barrier_params& params_;
  int32_t dim_;
  int32_t n_lead_;
  int32_t tfind_;
  int32_t* permutation_;
  int32_t* state_;
  MinimumDegreeLists lists_;
  int32_t* degree_;
  int32_t* score_high_;
  int32_t* score_low_;
  int32_t* bucket_prev_;
  int32_t* bucket_next_;
  int32_t* old_own_length_;
  int32_t* reverse_growth_;
  int32_t* bucket_head_;
  int32_t* scratch_;
  int32_t reverse_capacity_ = 0;
  int32_t need_ = 0;
  int32_t factor_space_ = 0;
  int32_t top_ = 0;  // own lists end before it: the clique's start while a clique is at the top
  int32_t own_base_ = 1;
  int32_t permutation_count_ = 0;
  int32_t live_count_ = 0;
  int32_t lowest_bucket_ = 1;
  int32_t clique_own_part_ = 0;
  int32_t last_pivot_ = 0;
  int64_t last_score_ = -1;
  MinimumDegreeStats stats_;
};

void MinimumDegreeOrdering::start_nodes() {
  for (int32_t v = 1; v <= dim_; ++v) {
    permutation_[v] = 0;
    lists_.chain[v] = 0;
    lists_.chain_tail[v] = v;
    score_high_[v] = kNoScore;
    lists_.weight[v] = 1;
    lists_.mark[v] = 0;
    lists_.own_prev[v] = lists_.own_next[v] = 0;
    lists_.reverse_prev[v] = lists_.reverse_next[v] = 0;
    bucket_prev_[v] = bucket_next_[v] = 0;
    old_own_length_[v] = 0;
    reverse_growth_[v] = 0;
    if (state_[v] >= -1) state_[v] = 0;
  }
  for (int32_t b = 0; b <= dim_ + 1; ++b) bucket_head_[b] = 0;
  // Entries naming no node, the node itself, a removed node or a node
  // already listed are dropped: the elimination counts every stored entry
  // as one edge.
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < -1) continue;
    lists_.mark[v] = v;
    int32_t* entries = lists_.factor_index + lists_.own_start[v];
    int32_t kept = 0;
    for (int32_t k = 0; k < lists_.own_length[v]; ++k) {
      const int32_t u = entries[k];
      if (u < 1 || u > dim_ || state_[u] < -1 || lists_.mark[u] == v) continue;
      lists_.mark[u] = v;
      entries[kept++] = u;
    }
    for (int32_t k = 0; k < kept; ++k) lists_.mark[entries[k]] = 0;
    lists_.mark[v] = 0;
    lists_.own_length[v] = kept;
    for (int32_t k = 0; k < kept; ++k) ++state_[entries[k]];
  }
}

// Isolated nodes, and nodes with a single neighbour that nobody else lists,
// leave before any list is built: eliminating them adds no edge.
void MinimumDegreeOrdering::pre_eliminate() {
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] != 0) continue;  // removed, or listed by some node
    if (lists_.own_length[v] == 1) {
      --state_[lists_.factor_index[lists_.own_start[v]]];
    } else if (lists_.own_length[v] != 0) {
      continue;
    }
    lists_.own_length[v] = 0;
    eliminate_node(v);
    ++stats_.pre_eliminated;
  }
  for (int32_t v = 1; v <= dim_; ++v)
    if (state_[v] >= 0) ++live_count_;
}

// The own lists' storage order follows their places; empty lists get the
// first entry after the last one, so that growing them moves nothing else.
bool MinimumDegreeOrdering::lay_out_own_lists() {
  const int64_t region_base = static_cast<int64_t>(params_.matrix_nz) + params_.quad_nz + 1;
  int32_t count = 0;
  for (int32_t v = 1; v <= dim_; ++v)
    if (state_[v] >= 0 && lists_.own_length[v] > 0) scratch_[++count] = v;
  sort_index_by_key(count, scratch_, lists_.own_start);
  int64_t lowest = region_base;
  if (count > 0) lowest = std::min<int64_t>(lowest, lists_.own_start[scratch_[1]]);
  own_base_ = static_cast<int32_t>(std::max<int64_t>(lowest, 1));
  int64_t end = own_base_;
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t v = scratch_[k];
    // Overlapping lists or lists beyond the storage cannot be ordered
    // safely; they would be overwritten by the first compaction.
    if (lists_.own_start[v] < end || own_end(v) > factor_space_) return false;
    end = own_end(v);
    append_to_chain(v, lists_.own_prev, lists_.own_next, lists_.own_head, lists_.own_tail);
  }
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0 || lists_.own_length[v] != 0) continue;
    lists_.own_start[v] = static_cast<int32_t>(end);
    append_to_chain(v, lists_.own_prev, lists_.own_next, lists_.own_head, lists_.own_tail);
  }
  return static_cast<int64_t>(factor_space_) - own_tail_end() >= need_;
}

bool MinimumDegreeOrdering::build_reverse_lists() {
  int64_t next_free = 1;
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0) continue;
    lists_.reverse_start[v] = static_cast<int32_t>(std::min<int64_t>(next_free, reverse_capacity_ + 1));
    next_free += state_[v];
    append_to_chain(v, lists_.reverse_prev, lists_.reverse_next, lists_.reverse_head,
                    lists_.reverse_tail);
  }
  if (reverse_capacity_ - next_free < need_) return false;
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0) continue;
    degree_[v] = lists_.own_length[v] + state_[v];
    reverse_growth_[v] = 0;  // the fill cursor
  }
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0) continue;
    for (int32_t k = lists_.own_start[v]; k < own_end(v); ++k) {
      const int32_t u = lists_.factor_index[k];
      lists_.reverse_store[lists_.reverse_start[u] + reverse_growth_[u]++] = v;
    }
  }
  for (int32_t v = 1; v <= dim_; ++v)
    if (state_[v] >= 0) reverse_growth_[v] = 0;
  return true;
}

// An edge listed by both of its ends would survive the removal of one copy
// when an end is eliminated; keep the copy in the list of the lower-numbered
// lister.
void MinimumDegreeOrdering::drop_duplicate_edges() {
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0) continue;
    for (int32_t k = lists_.own_start[v]; k < own_end(v); ++k) lists_.mark[lists_.factor_index[k]] = v;
    for (int32_t k = lists_.reverse_start[v]; k < reverse_end(v); ++k) {
      const int32_t y = lists_.reverse_store[k];
      if (lists_.mark[y] != v) continue;
      // y lists v and v lists y: drop y from v's own list and v from y's
      // reverse list.
      lists_.mark[y] = 0;
      remove_from_list(lists_.factor_index, lists_.own_start[v], lists_.own_length[v], y);
      remove_from_list(lists_.reverse_store, lists_.reverse_start[y], state_[y], v);
      --degree_[v];
      --degree_[y];
    }
    for (int32_t k = lists_.own_start[v]; k < own_end(v); ++k) lists_.mark[lists_.factor_index[k]] = 0;
  }
}

void MinimumDegreeOrdering::merge_initial_supervariables() {
  for (int32_t v = 1; v <= dim_; ++v) {
    if (state_[v] < 0) continue;
    lists_.mark[v] = v;
    for_each_neighbour(v, [this, v](int32_t y) { lists_.mark[y] = v; });
    int32_t d = lists_.own_length[v] + state_[v];
    int32_t k = lists_.own_start[v];
    while (k < own_end(v)) {
      const int32_t u = lists_.factor_index[k];
      // An absorbed entry is replaced by the list's last one: test the same
      // place again.
      if (absorb_indistinguishable_node(lists_, v, u, d)) {
        ++stats_.absorbed;
        --live_count_;
      } else {
        ++k;
      }
    }
    lists_.mark[v] = 0;
    for_each_neighbour(v, [this](int32_t y) { lists_.mark[y] = 0; });
  }
}

void MinimumDegreeOrdering::fill_buckets() {
  for (int32_t v = 1; v <= dim_; ++v)
    if (state_[v] >= 0) insert_in_bucket(v);
}

// Bucket b holds the nodes whose neighbours weigh b - 1 in total.
void MinimumDegreeOrdering::insert_in_bucket(int32_t v) {
  // The degree word keeps b within 1..dim; the clamp only guards the array.
  const int32_t b = std::clamp(degree_[v] - lists_.weight[v] + 2, 1, dim_);
  bucket_prev_[v] = -b;  // a bucket's head knows its bucket through the link
  bucket_next_[v] = bucket_head_[b];
  if (bucket_head_[b] != 0) bucket_prev_[bucket_head_[b]] = v;
  bucket_head_[b] = v;
  lowest_bucket_ = std::min(lowest_bucket_, b);
}

void MinimumDegreeOrdering::remove_from_bucket(int32_t v) {
  const int32_t before = bucket_prev_[v];
  const int32_t after = bucket_next_[v];
  if (before < 0) {
    bucket_head_[-before] = after;
  } else {
    bucket_next_[before] = after;
  }
  if (after != 0) bucket_prev_[after] = before;
  bucket_prev_[v] = 0;
  bucket_next_[v] = 0;
}

// A member of the last clique whose neighbours are exactly the rest of that
// clique is eliminated next without a search: its neighbours are a clique.
int32_t MinimumDegreeOrdering::chain_pick() {
  const int32_t q = last_pivot_;
  if (q == 0) return 0;
  const int32_t length = lists_.own_length[q];
  for (int32_t k = lists_.own_start[q]; k < lists_.own_start[q] + length; ++k) {
    const int32_t x = lists_.factor_index[k];
    if (lists_.own_length[x] + state_[x] == length - 1) return x;
  }
  return 0;
}

int64_t MinimumDegreeOrdering::score(int32_t v) {
  if (score_high_[v] != kNoScore) return score_high_[v] * kScoreBase + score_low_[v];
  const int64_t d = degree_[v] - lists_.weight[v];
  int64_t internal_pairs = 0;
  lists_.mark[v] = v;
  for_each_neighbour(v, [this, v, &internal_pairs](int32_t y) {
    lists_.mark[y] = v;
    const int64_t w = lists_.weight[y];
    internal_pairs += w * (w - 1);
  });
  int64_t joined = 0;
  for_each_neighbour(v, [this, v, &joined](int32_t x) {
    const int64_t wx = lists_.weight[x];
    for (int32_t k = lists_.own_start[x]; k < own_end(x); ++k) {
      const int32_t y = lists_.factor_index[k];
      if (y != v && lists_.mark[y] == v) joined += wx * lists_.weight[y];
    }
  });
  lists_.mark[v] = 0;
  for_each_neighbour(v, [this](int32_t y) { lists_.mark[y] = 0; });
  const int64_t fill = (d * (d + 1) - internal_pairs) / 2 - joined;
  score_high_[v] = static_cast<int32_t>(fill / kScoreBase);
  score_low_[v] = static_cast<int32_t>(fill % kScoreBase);
  return fill;
}

int32_t MinimumDegreeOrdering::search_pivot() {
  while (lowest_bucket_ <= dim_ && bucket_head_[lowest_bucket_] == 0) ++lowest_bucket_;
  if (lowest_bucket_ > dim_) return 0;
  if (tfind_ <= 0) {
    last_score_ = -1;
    return bucket_head_[lowest_bucket_];
  }
  int32_t best = 0;
  int64_t best_score = 0;
  int32_t scored = 0;
  for (int32_t b = lowest_bucket_; b <= dim_; ++b) {
    for (int32_t v = bucket_head_[b]; v != 0; v = bucket_next_[v]) {
      const int64_t s = score(v);
      ++scored;
      if (best == 0 || s < best_score ||
          (s == best_score && best > n_lead_ && v <= n_lead_)) {
        best = v;
        best_score = s;
      }
      if (best_score == 0 || scored >= static_cast<int64_t>(tfind_) + 1) {
        last_score_ = best_score;
        return best;
      }
    }
  }
  last_score_ = best_score;
  return best;
}

bool MinimumDegreeOrdering::compact_own() {
  int32_t first_free = 0;
  int32_t status = BARRIER_GO_ON;
  ++stats_.own_compactions;
  pack_own_lists(own_base_, factor_space_, lists_, need_, first_free, status);
  return status == BARRIER_GO_ON;
}

bool MinimumDegreeOrdering::compact_reverse() {
  int32_t room = 0;
  int32_t status = BARRIER_GO_ON;
  ++stats_.reverse_compactions;
  compact_index_lists(params_, need_, reverse_capacity_, room, lists_.reverse_start,
                      lists_.reverse_count, lists_.reverse_head, lists_.reverse_next,
                      lists_.reverse_store, status);
  return status == BARRIER_GO_ON;
}

// Makes room for `extra` more entries after x's own list, moving it behind
// the last list when the next list is in the way. The lists end before
// `top_` (the clique at the top of the storage).
bool MinimumDegreeOrdering::grow_own_list(int32_t x, int32_t extra) {
  const int32_t after = lists_.own_next[x];
  const int64_t limit = after != 0 ? lists_.own_start[after] : top_;
  if (limit - own_end(x) >= extra) return true;
  const int64_t needed = static_cast<int64_t>(lists_.own_length[x]) + extra;
  if (static_cast<int64_t>(factor_space_) - own_tail_end() < need_ ||
      static_cast<int64_t>(top_) - own_tail_end() < needed) {
    if (!compact_own()) return false;
  }
  if (lists_.own_tail == x) return static_cast<int64_t>(top_) - own_end(x) >= extra;
  const int32_t new_start = own_tail_end();
  if (static_cast<int64_t>(top_) - new_start < needed) return false;
  std::copy(lists_.factor_index + lists_.own_start[x], lists_.factor_index + own_end(x),
            lists_.factor_index + new_start);
  lists_.own_start[x] = new_start;
  unlink(x, lists_.own_prev, lists_.own_next, lists_.own_head, lists_.own_tail);
  append_to_chain(x, lists_.own_prev, lists_.own_next, lists_.own_head, lists_.own_tail);
  return true;
}

bool MinimumDegreeOrdering::grow_reverse_list(int32_t z, int32_t extra) {
  const int32_t after = lists_.reverse_next[z];
  const int64_t limit = after != 0 ? lists_.reverse_start[after] : int64_t{reverse_capacity_} + 1;
  if (limit - reverse_end(z) >= extra) return true;
  const int64_t needed = static_cast<int64_t>(state_[z]) + extra;
  if (static_cast<int64_t>(reverse_capacity_) - reverse_tail_end() < need_ ||
      static_cast<int64_t>(reverse_capacity_) + 1 - reverse_tail_end() < needed) {
    if (!compact_reverse()) return false;
  }
  if (lists_.reverse_tail == z)
    return static_cast<int64_t>(reverse_capacity_) + 1 - reverse_end(z) >= extra;
  const int32_t new_start = reverse_tail_end();
  if (static_cast<int64_t>(reverse_capacity_) + 1 - new_start < needed) return false;
  std::copy(lists_.reverse_store + lists_.reverse_start[z], lists_.reverse_store + reverse_end(z),
            lists_.reverse_store + new_start);
  lists_.reverse_start[z] = new_start;
  unlink(z, lists_.reverse_prev, lists_.reverse_next, lists_.reverse_head, lists_.reverse_tail);
  append_to_chain(z, lists_.reverse_prev, lists_.reverse_next, lists_.reverse_head,
                  lists_.reverse_tail);
  return true;
}

// Writes the pivot's neighbours at the top of factor_index: first the nodes
// that list it (each loses it from its own list), then the nodes it lists
// (each loses it from its reverse list). The clique becomes p's own list.
void MinimumDegreeOrdering::form_clique(int32_t p) {
  const int32_t d = lists_.own_length[p] + state_[p];
  const int32_t clique_start = factor_space_ - d;
  int32_t at = clique_start;
  for (int32_t k = lists_.reverse_start[p]; k < reverse_end(p); ++k) {
    const int32_t u = lists_.reverse_store[k];
    remove_from_list(lists_.factor_index, lists_.own_start[u], lists_.own_length[u], p);
    lists_.factor_index[at++] = u;
  }
  clique_own_part_ = lists_.own_length[p];
  const int32_t own_start = lists_.own_start[p];
  for (int32_t k = 0; k < clique_own_part_; ++k) {
    const int32_t x = lists_.factor_index[own_start + k];
    remove_from_list(lists_.reverse_store, lists_.reverse_start[x], state_[x], p);
    lists_.factor_index[at++] = x;
  }
  for (int32_t k = clique_start; k < clique_start + d; ++k) {
    const int32_t x = lists_.factor_index[k];
    lists_.mark[x] = kInClique;
    remove_from_bucket(x);
  }
  lists_.own_start[p] = clique_start;
  lists_.own_length[p] = d;
  top_ = clique_start;
}

// Joins every pair of clique nodes not yet adjacent; the new edge goes to the
// own list of the earlier node in clique order.
bool MinimumDegreeOrdering::add_fill(int32_t p) {
  const int32_t start = lists_.own_start[p];
  const int32_t d = lists_.own_length[p];
  int32_t* clique = lists_.factor_index + start;  // clique[0 .. d-1]
  const int32_t reverse_part = d - clique_own_part_;
  sort_int_array(reverse_part, clique - 1);
  sort_int_array(clique_own_part_, clique + reverse_part - 1);
  for (int32_t i = 0; i < d; ++i) {
    const int32_t x = clique[i];
    lists_.mark[x] = 0;
    old_own_length_[x] = lists_.own_length[x];
    for_each_neighbour(x, [this](int32_t y) {
      if (lists_.mark[y] == kInClique) lists_.mark[y] = kAdjacentInClique;
    });
    int32_t missing = 0;
    for (int32_t j = i + 1; j < d; ++j)
      if (lists_.mark[clique[j]] == kInClique) ++missing;
    if (missing > 0 && !grow_own_list(x, missing)) return false;
    for (int32_t j = i + 1; j < d; ++j) {
      const int32_t z = clique[j];
      if (lists_.mark[z] == kAdjacentInClique) {
        lists_.mark[z] = kInClique;
        continue;
      }
      lists_.factor_index[own_end(x)] = z;
      ++lists_.own_length[x];
      ++reverse_growth_[z];
      degree_[x] += lists_.weight[z];
      degree_[z] += lists_.weight[x];
      ++stats_.fill_edges;
    }
  }
  // Reserve each grown reverse list's room first (a compaction keeps the
  // reserved entries with their list), then write the new entries.
  for (int32_t i = 0; i < d; ++i) {
    const int32_t z = clique[i];
    const int32_t growth = reverse_growth_[z];
    if (growth == 0) continue;
    if (!grow_reverse_list(z, growth)) return false;
    reverse_growth_[z] = state_[z];  // the write cursor
    state_[z] += growth;
  }
  for (int32_t i = 0; i < d; ++i) {
    const int32_t x = clique[i];
    for (int32_t k = lists_.own_start[x] + old_own_length_[x]; k < own_end(x); ++k) {
      const int32_t z = lists_.factor_index[k];
      lists_.reverse_store[lists_.reverse_start[z] + reverse_growth_[z]++] = x;
    }
  }
  for (int32_t i = 0; i < d; ++i) {
    const int32_t x = clique[i];
    if (tfind_ > 0 && (lists_.own_length[x] > old_own_length_[x] || reverse_growth_[x] > 0)) {
      for_each_neighbour(x, [this](int32_t y) { invalidate_score(y); });
    }
    reverse_growth_[x] = 0;
  }
  return true;
}

void MinimumDegreeOrdering::merge_clique_supervariables(int32_t p) {
  int32_t& d = lists_.own_length[p];
  int32_t* clique = lists_.factor_index + lists_.own_start[p];
  for (int32_t i = 0; i < d; ++i) {
    const int32_t v = clique[i];
    lists_.mark[v] = v;
    for_each_neighbour(v, [this, v](int32_t y) { lists_.mark[y] = v; });
    int32_t degree_count = lists_.own_length[v] + state_[v];
    int32_t j = i + 1;
    while (j < d) {
      if (absorb_indistinguishable_node(lists_, v, clique[j], degree_count)) {
        ++stats_.absorbed;
        --live_count_;
        clique[j] = clique[d - 1];
        --d;
      } else {
        ++j;
      }
    }
    lists_.mark[v] = 0;
    for_each_neighbour(v, [this](int32_t y) { lists_.mark[y] = 0; });
  }
}

bool MinimumDegreeOrdering::eliminate(int32_t p, bool without_fill) {
  if (static_cast<int64_t>(factor_space_) - own_tail_end() < need_ && !compact_own()) return false;
  unlink(p, lists_.own_prev, lists_.own_next, lists_.own_head, lists_.own_tail);
  unlink(p, lists_.reverse_prev, lists_.reverse_next, lists_.reverse_head, lists_.reverse_tail);
  remove_from_bucket(p);
  form_clique(p);  // reads p's state as its reverse count
  eliminate_node(p);
  --live_count_;
  if (without_fill) {
    const int32_t start = lists_.own_start[p];
    for (int32_t k = start; k < start + lists_.own_length[p]; ++k) lists_.mark[lists_.factor_index[k]] = 0;
  } else if (!add_fill(p)) {
    return false;
  }
  const int32_t weight = lists_.weight[p];
  for (int32_t k = lists_.own_start[p]; k < own_end(p); ++k) {
    const int32_t x = lists_.factor_index[k];
    degree_[x] -= weight;
    invalidate_score(x);
  }
  merge_clique_supervariables(p);
  for (int32_t k = lists_.own_start[p]; k < own_end(p); ++k) insert_in_bucket(lists_.factor_index[k]);
  for (int32_t member = lists_.chain[p]; member != 0; member = lists_.chain[member])
    permutation_[++permutation_count_] = member;
  top_ = factor_space_;
  return true;
}

int32_t MinimumDegreeOrdering::run(MinimumDegreeStats& stats) {
  int32_t status = BARRIER_GO_ON;
  if (dim_ > 0) {
    start_nodes();
    pre_eliminate();
    if (live_count_ > 0) {
      if (!lay_out_own_lists() || !build_reverse_lists()) {
        status = BARRIER_SPACE_SHORT;
      } else {
        drop_duplicate_edges();
        merge_initial_supervariables();
        fill_buckets();
        for (;;) {
          bool without_fill = true;
          int32_t p = chain_pick();
          if (p != 0) {
            ++stats_.chain_picks;
          } else {
            p = search_pivot();
            if (p == 0) break;
            without_fill = tfind_ > 0 && last_score_ == 0;
          }
          if (!eliminate(p, without_fill)) {
            status = BARRIER_SPACE_SHORT;
            break;
          }
          last_pivot_ = p;
        }
      }
    }
    if (status == BARRIER_GO_ON) {
      for (int32_t v = 1; v <= dim_; ++v)
        if (state_[v] < -1) permutation_[++permutation_count_] = v;
    }
  }
  stats = stats_;
  return status;
}

}  // namespace

int64_t minimum_degree_work_size(int32_t dim) {
  return SLOT_COUNT * (static_cast<int64_t>(dim) + 2);
}

int64_t minimum_degree_reverse_capacity(const barrier_params& params) {
  const int64_t free_part = static_cast<int64_t>(params.factor_space) - params.matrix_nz -
                            params.quad_nz - 1;
  return free_part > 0 ? 2 * free_part : 0;
}

void order_minimum_degree(barrier_params& params, int32_t dim, int32_t* graph_start,
                          int32_t* graph_length, int32_t* permutation, int32_t* var_state,
                          int32_t* factor_index, int32_t n_lead, int32_t tfind, int32_t* work,
                          int32_t* reverse_store, int64_t reverse_capacity, int32_t& status,
                          MinimumDegreeStats* stats) {
  MinimumDegreeOrdering ordering(params, dim, graph_start, graph_length, permutation, var_state,
                                 factor_index, n_lead, tfind, work, reverse_store,
                                 reverse_capacity);
  MinimumDegreeStats local;
  status = ordering.run(stats != nullptr ? *stats : local);
}

void compact_own_lists(const barrier_params& params, MinimumDegreeLists& lists, int32_t need,
                       int32_t& first_free, int32_t& status) {
  pack_own_lists(static_cast<int64_t>(params.matrix_nz) + params.quad_nz + 1, params.factor_space,
                 lists, need, first_free, status);
}

bool absorb_indistinguishable_node(MinimumDegreeLists& lists, int32_t v, int32_t u, int32_t& d) {
  int32_t* count = lists.reverse_count;
  if (u == v || count[u] < 0 || lists.own_length[u] + count[u] != d) return false;
  for (int32_t k = lists.own_start[u]; k < lists.own_start[u] + lists.own_length[u]; ++k)
    if (lists.mark[lists.factor_index[k]] != v) return false;
  for (int32_t k = lists.reverse_start[u]; k < lists.reverse_start[u] + count[u]; ++k)
    if (lists.mark[lists.reverse_store[k]] != v) return false;
  // v, u, u's members, v's former members.
  const int32_t u_tail = lists.chain_tail[u];
  lists.chain[u_tail] = lists.chain[v];
  if (lists.chain[v] == 0) lists.chain_tail[v] = u_tail;
  lists.chain[v] = u;
  lists.weight[v] += lists.weight[u];
  for (int32_t k = lists.own_start[u]; k < lists.own_start[u] + lists.own_length[u]; ++k) {
    const int32_t y = lists.factor_index[k];
    remove_from_list(lists.reverse_store, lists.reverse_start[y], count[y], u);
  }
  for (int32_t k = lists.reverse_start[u]; k < lists.reverse_start[u] + count[u]; ++k) {
    const int32_t y = lists.reverse_store[k];
    remove_from_list(lists.factor_index, lists.own_start[y], lists.own_length[y], u);
  }
  lists.own_length[u] = 0;
  count[u] = -1;
  lists.mark[u] = 0;
  unlink(u, lists.own_prev, lists.own_next, lists.own_head, lists.own_tail);
  unlink(u, lists.reverse_prev, lists.reverse_next, lists.reverse_head, lists.reverse_tail);
  --d;
  return true;
}

}  // namespace kl
