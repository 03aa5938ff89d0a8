// The augmented-system factorisation: builds the lists of the quasi-definite
// matrix over all live positions, eliminates one 1x1 pivot at a time with a
// Schur update of the lists, and leaves the factor in the rank-indexed format
// the numeric refactorisations and the solves read.
#include "barrier/factor/augmented_system.h"

#include <cstdint>

#include "barrier/factor/augmented_state.h"
#include "barrier/factor/list_compaction.h"
#include "barrier/ordering/heapsort.h"
#include "barrier/ordering/symbolic_factor.h"

namespace kl {

namespace {

void degree_unlink(AugmentedState& s, int32_t p) {
  const int32_t d = s.degree_of[p];
  if (d == 0) return;
  const int32_t prev = s.degree_prev[p];
  const int32_t next = s.degree_next[p];
  if (prev != 0) s.degree_next[prev] = next; else s.degree_head[d] = next;
  if (next != 0) s.degree_prev[next] = prev;
  s.degree_of[p] = 0;
  s.degree_next[p] = 0;
  s.degree_prev[p] = 0;
}

void degree_insert(AugmentedState& s, int32_t p, int64_t degree) {
  int32_t d = degree < 1 ? 1 : (degree > s.count ? s.count : static_cast<int32_t>(degree));
  const int32_t head = s.degree_head[d];
  s.degree_next[p] = head;
  s.degree_prev[p] = 0;
  if (head != 0) s.degree_prev[head] = p;
  s.degree_head[d] = p;
  s.degree_of[p] = d;
}

void rs_unlink(AugmentedState& s, int32_t p) { chain_unlink(s.rs_next, s.rs_prev, s.rs_head, s.rs_tail, p); }

void rs_append(AugmentedState& s, int32_t p) { chain_append(s.rs_next, s.rs_prev, s.rs_head, s.rs_tail, p); }

int32_t rs_end(const AugmentedState& s) {
  return s.rs_tail != 0 ? s.rs_start[s.rs_tail] + s.rs_length[s.rs_tail] : 1;
}

// Takes q out of the row structure of r (the list of q no longer holds r).
void rs_remove(AugmentedState& s, int32_t r, int32_t q) {
  int32_t* area = s.rs();
  const int32_t first = s.rs_start[r];
  const int32_t last = first + s.rs_length[r] - 1;
  for (int32_t k = first; k <= last; ++k) {
    if (area[k] == q) {
      area[k] = area[last];
      --s.rs_length[r];
      return;
    }
  }
}

// Makes room for `need` more entries after the row structure of r.
bool rs_reserve(AugmentedState& s, int32_t r, int32_t need, int32_t& status) {
  const int32_t end = s.rs_start[r] + s.rs_length[r];
  const int32_t bound = s.rs_next[r] != 0 ? s.rs_start[s.rs_next[r]] : s.rs_room;
  if (bound - end >= need) return true;
  if (s.rs_room - rs_end(s) < s.count) {
    int32_t free_room = 0;
    int32_t local = 0;
    compact_index_lists(*s.params, s.count, s.rs_room, free_room, s.rs_start, s.rs_length, s.rs_head, s.rs_next,
                        s.rs(), local);
    if (local < 0 || s.rs_room - rs_end(s) < s.count) {
      status = BARRIER_SPACE_SHORT;
      return false;
    }
  }
  if (s.rs_tail != r) {
    int32_t* area = s.rs();
    const int32_t to = rs_end(s);
    const int32_t from = s.rs_start[r];
    for (int32_t k = 0; k < s.rs_length[r]; ++k) area[to + k] = area[from + k];
    s.rs_start[r] = to;
    rs_unlink(s, r);
    rs_append(s, r);
  }
  if (s.rs_room - (s.rs_start[r] + s.rs_length[r]) < need) {
    status = BARRIER_SPACE_SHORT;
    return false;
  }
  return true;
}

// Degree lists and row structures from the live lists; every live position
// enters both. Status -2 when the row structures do not fit with room n + m.
bool rebuild_structures(AugmentedState& s, int32_t& status) {
  for (int32_t d = 1; d <= s.count; ++d) s.degree_head[d] = 0;
  for (int32_t p = 1; p <= s.count; ++p) {
    s.degree_of[p] = 0;
    s.dense[p] = 0.0;
    s.rs_next[p] = 0;
    s.rs_prev[p] = 0;
  }
  s.rs_head = 0;
  s.rs_tail = 0;
  int64_t total = 1;
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    s.rs_start[p] = static_cast<int32_t>(total < s.rs_room ? total : s.rs_room);
    s.rs_length[p] = 0;
    total += s.var_state[p];
    rs_append(s, p);
    degree_insert(s, p, static_cast<int64_t>(s.list_length[p]) + s.var_state[p] + 1);
  }
  if (static_cast<int64_t>(s.rs_room) - total < s.count) {
    status = BARRIER_SPACE_SHORT;
    return false;
  }
  int32_t* area = s.rs();
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    const int32_t first = s.list_start[p];
    for (int32_t k = first; k < first + s.list_length[p]; ++k) {
      const int32_t q = s.index[k];
      if (s.var_state[q] < -1) continue;
      area[s.rs_start[q] + s.rs_length[q]] = p;
      ++s.rs_length[q];
    }
  }
  return true;
}

// Sorts entries first..first+length-1 by the key of their positions,
// values along; `scratch` and the dense vector serve as room.
void sort_entries_by_key(AugmentedState& s, int32_t first, int32_t length, const int32_t* key) {
  if (length < 2) return;
  for (int32_t k = 0; k < length; ++k) {
    const int32_t e = s.index[first + k];
    s.scratch[k + 1] = e;
    s.dense[e] = s.value[first + k];
  }
  sort_index_by_key(length, s.scratch, key);
  for (int32_t k = 0; k < length; ++k) {
    const int32_t e = s.scratch[k + 1];
    s.index[first + k] = e;
    s.value[first + k] = s.dense[e];
  }
}

// Entry r of the pivot's own list joins the pivot column: scattered,
// marked as coming from the pivot, and no longer listed under r's row.
void take_own_entry(AugmentedState& s, int32_t p, int32_t r, double value) {
  s.member[r] = 1;
  s.dense[r] = value;
  s.delta[r] = -1;
  s.saved_length[r] = s.list_length[r];
  rs_remove(s, r, p);
}

// One elimination step on pivot p with the given inverse.
bool eliminate(AugmentedState& s, int32_t p, double inverse, int32_t& status) {
  barrier_params& params = *s.params;
  s.diag[p] = inverse;
  if (room_after_last_list(s) < s.count && !compact_lists(s, status)) return false;
  store_unlink(s, p);
  rs_unlink(s, p);
  ++params.pivot_count;
  s.pivot_order[params.pivot_count] = p;
  const int32_t c = s.var_state[p] + s.list_length[p];
  degree_unlink(s, p);

  int32_t column = 0;
  const int32_t own_first = s.list_start[p];
  const int32_t own_length = s.list_length[p];
  if (!s.in_place(p) || s.var_state[p] > 0) {
    s.limit -= c;
    column = s.limit + 1;
    int32_t k = column;
    for (int32_t e = own_first; e < own_first + own_length; ++e) {
      const int32_t r = s.index[e];
      take_own_entry(s, p, r, s.value[e]);
      s.index[k++] = r;
    }
    int32_t* area = s.rs();
    const int32_t rs_first = s.rs_start[p];
    for (int32_t t = rs_first; t < rs_first + s.rs_length[p]; ++t) {
      const int32_t q = area[t];
      if (s.in_place(q) && !move_list_to_end(s, q, status)) return false;
      s.saved_length[q] = s.list_length[q] - 1;
      s.delta[q] = 0;
      const int32_t first = s.list_start[q];
      const int32_t last = first + s.list_length[q] - 1;
      int32_t at = first;
      while (at <= last && s.index[at] != p) ++at;
      s.member[q] = 1;
      s.dense[q] = at <= last ? s.value[at] : 0.0;
      s.index[k++] = q;
      if (at <= last) {
        s.index[at] = s.index[last];
        s.value[at] = s.value[last];
        --s.list_length[q];
      }
    }
    s.list_start[p] = column;
    s.list_length[p] = c;
  } else {
    column = own_first;
    for (int32_t e = own_first; e < own_first + own_length; ++e) take_own_entry(s, p, s.index[e], s.value[e]);
  }

  for (int32_t k = column; k < column + c; ++k) degree_unlink(s, s.index[k]);
  sort_int_array(c, s.index + column - 1);
  for (int32_t k = column; k < column + c; ++k) {
    const int32_t r = s.index[k];
    s.value[k] = s.dense[r];
    s.dense[r] *= inverse;
  }

  // Schur update of the lists of the column's positions.
  for (int32_t i = column; i < column + c; ++i) {
    const int32_t r = s.index[i];
    const double l = s.value[i];
    s.diag[r] -= l * s.dense[r];
    s.member[r] = 0;
    // Lists still in the matrix region are never written.
    if (s.in_place(r) && !move_list_to_end(s, r, status)) return false;
    {
      const int32_t first = s.list_start[r];
      for (int32_t e = first; e < first + s.saved_length[r]; ++e) {
        const int32_t q = s.index[e];
        if (s.member[q] != 0) {
          s.value[e] -= l * s.dense[q];
          s.member[q] = 0;
        }
      }
    }
    int32_t fill = 0;
    for (int32_t j = i + 1; j < column + c; ++j) fill += s.member[s.index[j]] != 0 ? 1 : 0;
    if (fill > 0) {
      const int32_t end = s.list_start[r] + s.list_length[r];
      const int32_t next = s.store_next[r];
      const int32_t room = next != 0 ? s.list_start[next] - end : s.limit - end;
      if (room < fill) {
        if (room_after_last_list(s) < s.count && !compact_lists(s, status)) return false;
        if (s.store_tail != r) {
          if (!move_list_to_end(s, r, status)) return false;
        }
        if (s.limit - (s.list_start[r] + s.list_length[r]) < fill) {
          status = BARRIER_SPACE_SHORT;
          return false;
        }
      }
    }
    for (int32_t j = i + 1; j < column + c; ++j) {
      const int32_t e = s.index[j];
      if (s.member[e] == 0) {
        s.member[e] = 1;
      } else {
        const int32_t at = s.list_start[r] + s.list_length[r];
        s.index[at] = e;
        s.value[at] = -l * s.dense[e];
        ++s.list_length[r];
        ++s.delta[e];
      }
    }
  }

  // New degrees and row counts; room in the row structures for the fill.
  for (int32_t i = column; i < column + c; ++i) {
    const int32_t r = s.index[i];
    const int32_t rows = s.var_state[r] + s.delta[r];
    degree_insert(s, r, static_cast<int64_t>(s.list_length[r]) + rows + 1);
    const int32_t need = rows - s.rs_length[r];
    if (need > 0 && !rs_reserve(s, r, need, status)) return false;
    s.var_state[r] = rows;
    // delta becomes the fill cursor of r's row structure; the reserved room
    // counts in its length so that a later compaction keeps it.
    s.delta[r] = s.rs_length[r];
    s.rs_length[r] += need > 0 ? need : 0;
  }
  int32_t* area = s.rs();
  for (int32_t i = column; i < column + c; ++i) {
    const int32_t r = s.index[i];
    const int32_t first = s.list_start[r];
    for (int32_t e = first + s.saved_length[r]; e < first + s.list_length[r]; ++e) {
      const int32_t q = s.index[e];
      area[s.rs_start[q] + s.delta[q]] = r;
      ++s.delta[q];
    }
  }
  for (int32_t k = column; k < column + c; ++k) s.dense[s.index[k]] = 0.0;
  s.dense[p] = 0.0;
  return true;
}

}  // namespace

void factorise_augmented_system(barrier_params& params, int32_t list_limit, int32_t* factor_first,
                                int32_t* factor_last, int32_t* var_state, int32_t* matrix_start,
                                int32_t* quad_start, int32_t* factor_index, double* factor_value,
                                int32_t* pivot_order, double* diag, double* pivot_inverse, const double* y,
                                double* z, int32_t* dense_mark, int32_t* work, int32_t& removed_col_count,
                                int32_t& removed_row_count, int64_t& factor_nonzeros, int64_t& nonzero_bound,
                                double& factor_flops, int32_t& unpivoted_count, int32_t& status) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t count = n + m;
  const int32_t nz = params.matrix_nz;
  const int32_t nzq = params.quad_nz;
  const int32_t base = nz + nzq;

  // Space: the lists need n + m + nz + nzq entries at least, and the row
  // structures sit above the list limit with room free_space.
  if (static_cast<int64_t>(params.free_space) < static_cast<int64_t>(count) + base ||
      static_cast<int64_t>(list_limit) + params.free_space > params.factor_space || list_limit <= base) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  status = 0;

  AugmentedState s;
  s.params = &params;
  s.n = n;
  s.m = m;
  s.count = count;
  s.base = base;
  s.top = list_limit;
  s.limit = list_limit;
  s.rs_room = params.free_space;
  s.var_state = var_state;
  s.matrix_start = matrix_start;
  s.quad_start = quad_start;
  s.index = factor_index;
  s.value = factor_value;
  s.pivot_order = pivot_order;
  s.diag = diag;
  s.dense = pivot_inverse;
  s.mark = dense_mark;
  s.list_start = factor_first;
  s.list_length = factor_last;
  const int64_t stride = static_cast<int64_t>(count) + 2;
  int32_t* slot[kAugmentedWorkArrays];
  for (int32_t k = 0; k < kAugmentedWorkArrays; ++k) slot[k] = work + k * stride;
  s.rs_start = slot[0];
  s.rs_length = slot[1];
  s.degree_head = slot[2];
  s.degree_next = slot[3];
  s.degree_prev = slot[4];
  s.degree_of = slot[5];
  s.store_next = slot[6];
  s.store_prev = slot[7];
  s.rs_next = slot[8];
  s.rs_prev = slot[9];
  s.member = slot[10];
  s.saved_length = slot[11];
  s.delta = slot[12];
  s.scratch = slot[13];

  const int32_t scan_all = params.ORDERING == 3 ? 1 : 0;
  int32_t deferral_state = 2;

  // Entries of removed rows go to the end of every live column.
  for (int32_t j = 1; j <= n; ++j) {
    if (var_state[j] < -1) continue;
    int32_t lo = matrix_start[j];
    int32_t hi = matrix_start[j + 1] - 1;
    while (lo <= hi) {
      if (var_state[factor_index[lo]] >= -1) {
        ++lo;
        continue;
      }
      const int32_t ti = factor_index[lo];
      factor_index[lo] = factor_index[hi];
      factor_index[hi] = ti;
      const double tv = factor_value[lo];
      factor_value[lo] = factor_value[hi];
      factor_value[hi] = tv;
      --hi;
    }
  }

  params.pivot_count = 0;
  int32_t lowest_removed = 0;
  for (int32_t p = 1; p <= count; ++p) {
    pivot_order[p] = 0;
    factor_last[p] = 0;
    factor_first[p] = 0;
    s.member[p] = 0;
    s.scratch[p] = 0;
    s.store_next[p] = 0;
    s.store_prev[p] = 0;
    s.degree_of[p] = 0;
    if (var_state[p] >= -1) var_state[p] = 0;
    else if (var_state[p] < lowest_removed) lowest_removed = var_state[p];
  }
  s.deferral_marker = -1 - m;
  if (lowest_removed - 1 < s.deferral_marker) s.deferral_marker = lowest_removed - 1;

  // A column coupled through the quadratic objective is never held back:
  // its reinsertion would have to find its upper-triangle neighbours in
  // other lists. scratch marks such columns.
  if (nzq > 0) {
    for (int32_t j = 1; j <= n; ++j) {
      if (quad_start[j + 1] > quad_start[j]) s.scratch[j] = 1;
      for (int32_t k = quad_start[j]; k < quad_start[j + 1]; ++k) {
        const int32_t q = factor_index[k];
        if (q >= 1 && q <= n) s.scratch[q] = 1;
      }
    }
  }

  // The lists. member serves as "named by an earlier list" here.
  int32_t free_entry = base + 1;
  for (int32_t p = 1; p <= count; ++p) {
    if (var_state[p] < -1) continue;
    if (p > n) {
      factor_first[p] = free_entry;
      factor_last[p] = 0;
      ++free_entry;
      continue;
    }
    if (dense_mark[p] == 2 && s.scratch[p] == 0) {
      var_state[p] = s.deferral_marker;
      deferral_state = 1;
      ++s.deferred_count;
      continue;
    }
    int32_t live = 0;
    for (int32_t k = matrix_start[p]; k < matrix_start[p + 1]; ++k, ++live) {
      if (var_state[factor_index[k]] < -1) break;
    }
    const bool has_quad = nzq > 0 && quad_start[p + 1] > quad_start[p];
    if (nzq == 0 || (!has_quad && s.member[p] == 0)) {
      factor_first[p] = matrix_start[p];
      factor_last[p] = live;
      for (int32_t k = matrix_start[p]; k < matrix_start[p] + live; ++k) ++var_state[factor_index[k]];
      continue;
    }
    int64_t need = live + (has_quad ? quad_start[p + 1] - quad_start[p] : 0);
    if (free_entry + need > list_limit) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
    const int32_t first = free_entry;
    for (int32_t k = matrix_start[p]; k < matrix_start[p] + live; ++k) {
      factor_index[free_entry] = factor_index[k];
      factor_value[free_entry] = factor_value[k];
      ++var_state[factor_index[k]];
      ++free_entry;
    }
    if (has_quad) {
      for (int32_t k = quad_start[p]; k < quad_start[p + 1]; ++k) {
        const int32_t q = factor_index[k];
        if (q <= p || q > n || var_state[q] < -1) continue;
        factor_index[free_entry] = q;
        factor_value[free_entry] = -factor_value[k];
        ++var_state[q];
        s.member[q] = 1;
        ++free_entry;
      }
    }
    factor_first[p] = first;
    factor_last[p] = free_entry - first;
  }
  for (int32_t p = 1; p <= count; ++p) s.member[p] = 0;

  // Storage order: the lists in the matrix region first, then the others.
  s.store_head = 0;
  s.store_tail = 0;
  for (int32_t pass = 0; pass < 2; ++pass) {
    for (int32_t p = 1; p <= count; ++p) {
      if (var_state[p] < -1) continue;
      const bool low = factor_first[p] <= base;
      if ((pass == 0) == low) store_append(s, p);
    }
  }
  if (list_limit - free_entry < count) {
    status = BARRIER_SPACE_SHORT;
    return;
  }

  if (!rebuild_structures(s, status)) return;
  int32_t previous = 0;
  int32_t search_state = 0;

  for (;;) {
    int32_t p = previous;
    double d = 0.0;
    choose_augmented_pivot(params, s.degree_head, s.degree_next, factor_first, factor_last, var_state, factor_index,
                           factor_value, diag, p, d, search_state, scan_all, dense_mark, deferral_state);
    double inverse = 0.0;
    if (p == 0) {
      // Nothing acceptable: a row with a nonzero dual is taken with a zero
      // inverse; it passes nothing on to the other pivots.
      for (int32_t q = s.store_head; q != 0; q = s.store_next[q]) {
        if (q > n && (y[q - n] > params.TZER || y[q - n] < -params.TZER)) {
          p = q;
          break;
        }
      }
    } else {
      inverse = 1.0 / d;
    }
    if (p != 0) {
      if (!eliminate(s, p, inverse, status)) return;
      previous = p;
      continue;
    }
    if (deferral_state == 1) {
      deferral_state = 2;
      search_state = 1;
      if (!compact_lists(s, status)) return;
      insert_deferred_columns(s, status);
      if (status < 0) return;
      if (!rebuild_structures(s, status)) return;
      previous = 0;
      continue;
    }
    break;
  }

  // Positions left without an acceptable pivot leave the problem.
  for (int32_t p = s.store_head; p != 0; p = s.store_next[p]) {
    var_state[p] = -2;
    if (p > n) {
      z[p] = -1.0;
      ++removed_row_count;
    } else {
      ++removed_col_count;
    }
  }
  unpivoted_count = count - params.pivot_count;

  // Rank map; every column of the factor sorted by rank.
  int32_t* rank = s.member;
  for (int32_t p = 1; p <= count; ++p) rank[p] = count + 1;
  for (int32_t k = 1; k <= params.pivot_count; ++k) rank[pivot_order[k]] = k;
  int64_t nonzeros = 0;
  double flops = 0.0;
  int32_t lowest_built = s.top + 1;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (factor_first[p] <= base || factor_last[p] == 0) continue;
    sort_entries_by_key(s, factor_first[p], factor_last[p], rank);
    while (factor_last[p] > 0 && rank[factor_index[factor_first[p] + factor_last[p] - 1]] > count) --factor_last[p];
    if (factor_first[p] < lowest_built) lowest_built = factor_first[p];
  }
  for (int32_t j = 1; j <= n; ++j) {
    if (var_state[j] < -1) continue;
    sort_entries_by_key(s, matrix_start[j], matrix_start[j + 1] - matrix_start[j], rank);
    if (rank[j] <= count && factor_first[j] <= base) {
      // In place: the live entries of the column, now first by rank.
      int32_t length = 0;
      while (matrix_start[j] + length < matrix_start[j + 1] && rank[factor_index[matrix_start[j] + length]] <= count)
        ++length;
      factor_first[j] = matrix_start[j];
      factor_last[j] = length;
    }
  }
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    const int64_t length = factor_last[p];
    nonzeros += length;
    flops += 0.5 * static_cast<double>(length * (length + 1));
    factor_last[p] = factor_first[p] + factor_last[p] - 1;
  }
  for (int32_t p = 1; p <= count; ++p) s.dense[p] = 0.0;

  if (nzq > 0) {
    // The rewrite of the quadratic pattern borrows nzq entries above it,
    // and n + m + 2 doubles above those for its value scratch.
    const int64_t needed = static_cast<int64_t>(nz) + 2 * static_cast<int64_t>(nzq) + count + 2;
    if (lowest_built <= needed) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
    double* value_work = factor_value + nz + 2 * static_cast<int64_t>(nzq) + 1;
    build_lower_pattern(params, pivot_order, quad_start, factor_index, factor_value, work,
                        work + stride, value_work);
  }

  // By rank: the inverses in pivot_inverse and diag, the column ranges.
  for (int32_t k = 1; k <= params.pivot_count; ++k) pivot_inverse[k] = diag[pivot_order[k]];
  for (int32_t k = 1; k <= params.pivot_count; ++k) diag[k] = pivot_inverse[k];
  int32_t* first_by_rank = work;
  int32_t* last_by_rank = work + stride;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    first_by_rank[k] = factor_first[pivot_order[k]];
    last_by_rank[k] = factor_last[pivot_order[k]];
  }
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    factor_first[k] = first_by_rank[k];
    factor_last[k] = last_by_rank[k];
  }
  for (int32_t k = params.pivot_count + 1; k <= count; ++k) {
    factor_first[k] = 0;
    factor_last[k] = -1;
  }
  factor_flops = flops;
  if (nonzeros > factor_nonzeros) factor_nonzeros = nonzeros;
  if (nonzeros < nonzero_bound) nonzero_bound = nonzeros;
}

}  // namespace kl
