// Reinsertion of the held-back dense columns into the partly eliminated
// augmented matrix: each is eliminated left-looking against the pivots so
// far, its entries in eliminated positions join those pivots' columns, and
// its pairs with smaller live positions join their lists.
#include <cstdint>

#include "barrier/factor/augmented_state.h"

namespace kl {

void insert_deferred_columns(AugmentedState& s, int32_t& status) {
  barrier_params& params = *s.params;
  const int32_t n = s.n;
  const int32_t count = s.count;
  int32_t* state = s.var_state;
  for (int32_t p = 1; p <= count; ++p) {
    s.member[p] = 0;
    s.delta[p] = 0;
    s.dense[p] = 0.0;
    if (state[p] >= -1) state[p] = 0;
  }
  for (int32_t k = 1; k <= params.pivot_count; ++k) state[s.pivot_order[k]] = -1;

  // scratch[1..reinserted]: the reinserted columns in index order.
  int32_t reinserted = 0;
  for (int32_t j = 1; j <= n; ++j) {
    if (state[j] != s.deferral_marker) continue;
    if (room_after_last_list(s) < count) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
    const int32_t start = end_of_lists(s);
    store_append(s, j);
    s.list_start[j] = start;
    s.list_length[j] = 0;
    int32_t length = 0;
    auto add = [&](int32_t r) {
      s.member[r] = 1;
      s.index[start + length] = r;
      ++length;
    };
    for (int32_t k = s.matrix_start[j]; k < s.matrix_start[j + 1]; ++k) {
      const int32_t r = s.index[k];
      if (state[r] < -1) break;  // removed rows were moved last
      s.dense[r] += s.value[k];
      if (s.member[r] == 0) {
        add(r);
        if (state[r] == -1) ++s.delta[r];
      }
    }
    for (int32_t k = s.quad_start[j]; k < s.quad_start[j + 1]; ++k) {
      const int32_t r = s.index[k];
      if (r < 1 || r > n || state[r] < -1) continue;
      s.dense[r] -= s.value[k];
      if (s.member[r] == 0) {
        add(r);
        if (state[r] == -1 || r < j) ++s.delta[r];
      }
    }
    // Left-looking elimination against every pivot in rank order.
    for (int32_t k = 1; k <= params.pivot_count; ++k) {
      const int32_t q = s.pivot_order[k];
      if (s.member[q] == 0) continue;
      const double mu = -s.diag[q] * s.dense[q];
      s.diag[j] += mu * s.dense[q];
      const int32_t first = s.list_start[q];
      for (int32_t e = first; e < first + s.list_length[q]; ++e) {
        const int32_t r = s.index[e];
        s.dense[r] += mu * s.value[e];
        if (s.member[r] == 0) {
          add(r);
          if (state[r] == -1 || r < j) ++s.delta[r];
        }
      }
    }
    // Coupling with the columns reinserted before j, through the pivots.
    for (int32_t t = 1; t <= reinserted; ++t) {
      const int32_t q = s.scratch[t];
      const int32_t first = s.list_start[q];
      for (int32_t e = first; e < first + s.list_length[q]; ++e) {
        const int32_t r = s.index[e];
        if (state[r] != -1 || s.member[r] == 0) continue;
        s.dense[q] -= s.dense[r] * s.diag[r] * s.value[e];
        if (s.member[q] == 0) {
          add(q);
          ++s.delta[q];
        }
      }
    }
    for (int32_t t = 0; t < length; ++t) {
      const int32_t r = s.index[start + t];
      s.value[start + t] = s.dense[r];
      s.dense[r] = 0.0;
      s.member[r] = 0;
    }
    s.list_length[j] = length;
    if (room_after_last_list(s) < count) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
    state[j] = 0;
    s.scratch[++reinserted] = j;
  }

  // Room after every pivot column for the entries it gains: the top area
  // is laid out again from a lower limit, last rank lowest.
  int64_t gain = 0;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = s.pivot_order[k];
    if (s.delta[p] == 0) continue;
    gain += s.delta[p];
    if (s.in_place(p)) gain += s.list_length[p];  // leaves the matrix region
  }
  if (room_after_last_list(s) <= gain) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  s.limit -= static_cast<int32_t>(gain);
  int32_t cursor = s.limit + 1;
  for (int32_t k = params.pivot_count; k >= 1; --k) {
    const int32_t p = s.pivot_order[k];
    if (s.in_place(p) && s.delta[p] == 0) continue;
    const int32_t from = s.list_start[p];
    const int32_t length = s.list_length[p];
    if (from != cursor) {
      for (int32_t e = 0; e < length; ++e) {
        s.index[cursor + e] = s.index[from + e];
        s.value[cursor + e] = s.value[from + e];
      }
    }
    s.list_start[p] = cursor;
    cursor += length + s.delta[p];
  }

  // Room after every live list for the entries it gains.
  int64_t live_gain = 0;
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    live_gain += s.delta[p];
    if (s.delta[p] > 0 && s.in_place(p)) live_gain += s.list_length[p];
  }
  if (live_gain >= room_after_last_list(s)) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  int32_t* new_start = s.saved_length;
  int32_t target = s.base + 1;
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    if (s.in_place(p) && s.delta[p] == 0) {
      new_start[p] = s.list_start[p];
      continue;
    }
    new_start[p] = target;
    target += s.list_length[p] + s.delta[p];
  }
  for (int32_t p = s.store_tail; p != 0; p = s.store_prev[p]) {
    const int32_t from = s.list_start[p];
    const int32_t to = new_start[p];
    if (to == from) continue;
    for (int32_t e = s.list_length[p] - 1; e >= 0; --e) {
      s.index[to + e] = s.index[from + e];
      s.value[to + e] = s.value[from + e];
    }
    s.list_start[p] = to;
  }

  // Pairs with an eliminated or smaller position belong to that position's
  // list (or column).
  for (int32_t t = 1; t <= reinserted; ++t) {
    const int32_t q = s.scratch[t];
    const int32_t first = s.list_start[q];
    int32_t keep = 0;
    for (int32_t e = first; e < first + s.list_length[q]; ++e) {
      const int32_t r = s.index[e];
      const double v = s.value[e];
      if (state[r] == -1 || r < q) {
        const int32_t at = s.list_start[r] + s.list_length[r];
        s.index[at] = q;
        s.value[at] = v;
        ++s.list_length[r];
      } else {
        s.index[first + keep] = r;
        s.value[first + keep] = v;
        ++keep;
      }
    }
    s.list_length[q] = keep;
  }

  for (int32_t p = 1; p <= count; ++p) {
    if (state[p] >= -1) state[p] = 0;
    s.delta[p] = 0;
    s.mark[p] = 0;  // lists changed: the stability marks are stale
  }
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    const int32_t first = s.list_start[p];
    for (int32_t e = first; e < first + s.list_length[p]; ++e) ++state[s.index[e]];
  }
}

}  // namespace kl
