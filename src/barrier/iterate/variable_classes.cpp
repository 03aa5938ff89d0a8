#include "barrier/iterate/variable_classes.h"

#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// Class numbers in storage order.
enum : int32_t {
  kRemovedColumns,
  kFreeColumns,
  kLowerColumns,
  kBoxedColumns,
  kBoxedSlacks,
  kLowerSlacks,
  kEqualitySlacks,
  kRemovedSlacks,
  kClassCount
};

int32_t column_class(int32_t state, int32_t code) {
  if (state < -1) return kRemovedColumns;
  if (code == 0) return kFreeColumns;
  return code > 0 ? kLowerColumns : kBoxedColumns;
}

int32_t slack_class(int32_t state, int32_t code) {
  if (state < -1) return kRemovedSlacks;
  if (code < 0) return kBoxedSlacks;
  return code > 0 ? kLowerSlacks : kEqualitySlacks;
}

// Partitions the positions by class, stable within a class: map[new] = old,
// inverse[old] = new. Fills the ranges.
void partition_positions(const barrier_params& params, const int32_t* col_bound_code,
                         const int32_t* slack_bound_code, const int32_t* var_state,
                         int32_t* ranges, int32_t* map, int32_t* inverse) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  int32_t count[kClassCount] = {};
  for (int32_t j = 1; j <= n; ++j) ++count[column_class(var_state[j], col_bound_code[j])];
  for (int32_t k = 1; k <= m; ++k) ++count[slack_class(var_state[n + k], slack_bound_code[k])];
  int32_t first[kClassCount];
  first[0] = 1;
  for (int32_t c = 1; c < kClassCount; ++c) first[c] = first[c - 1] + count[c - 1];
  int32_t next[kClassCount];
  for (int32_t c = 0; c < kClassCount; ++c) next[c] = first[c];
  for (int32_t j = 1; j <= n; ++j) {
    const int32_t p = next[column_class(var_state[j], col_bound_code[j])]++;
    map[p] = j;
    inverse[j] = p;
  }
  for (int32_t k = 1; k <= m; ++k) {
    const int32_t p = next[slack_class(var_state[n + k], slack_bound_code[k])]++;
    map[p] = n + k;
    inverse[n + k] = p;
  }
  auto last = [&](int32_t c) { return first[c] + count[c] - 1; };
  ranges[kFirstFreeColumn] = first[kFreeColumns];
  ranges[kLastFreeColumn] = last(kFreeColumns);
  ranges[kFirstLowerColumn] = first[kLowerColumns];
  ranges[kLastLowerColumn] = last(kLowerColumns);
  ranges[kFirstBoxedColumn] = first[kBoxedColumns];
  ranges[kLastBoxedColumn] = last(kBoxedColumns);
  ranges[kFirstBoxedSlack] = first[kBoxedSlacks];
  ranges[kLastBoxedSlack] = last(kBoxedSlacks);
  ranges[kFirstLowerSlack] = first[kLowerSlacks];
  ranges[kLastLowerSlack] = last(kLowerSlacks);
  ranges[kFirstEqualitySlack] = first[kEqualitySlacks];
  ranges[kLastEqualitySlack] = last(kEqualitySlacks);
  ranges[kFirstPosition] = 1;
  ranges[kLastRemovedColumn] = count[kRemovedColumns];
  ranges[kFirstRemovedSlack] = first[kRemovedSlacks];
  ranges[kLastRemovedSlack] = n + m;
}

// v_new[i] := v_old[map[offset + i] - offset] for i = 1..count. Columns and
// positions use offset 0, rows offset n (row k is the row of the slack that
// lands at n + k).
template <typename T>
void permute_vector(int32_t count, int32_t offset, T* v, const int32_t* map, T* scratch) {
  for (int32_t i = 1; i <= count; ++i) scratch[i] = v[map[offset + i] - offset];
  for (int32_t i = 1; i <= count; ++i) v[i] = scratch[i];
}

// The matrix in the column order map[new] = old, through the free tails;
// row indices follow their slacks (inverse: old -> new position).
void move_matrix_through_tails(int32_t n, const int32_t* map, const int32_t* inverse,
                               int32_t* matrix_start, int32_t* factor_index, double* factor_value,
                               int32_t* index_tail, double* value_tail, int32_t* old_start) {
  const int32_t base = matrix_start[1];
  const int32_t end = matrix_start[n + 1];
  for (int32_t e = base; e < end; ++e) {
    index_tail[e - base + 1] = factor_index[e];
    value_tail[e - base + 1] = factor_value[e];
  }
  for (int32_t j = 1; j <= n; ++j) old_start[j] = matrix_start[j];
  int32_t f = base;
  for (int32_t p = 1; p <= n; ++p) {
    const int32_t o = map[p];
    const int32_t stop = o < n ? old_start[o + 1] : end;
    matrix_start[p] = f;
    for (int32_t e = old_start[o]; e < stop; ++e, ++f) {
      factor_index[f] = inverse[index_tail[e - base + 1]];
      factor_value[f] = value_tail[e - base + 1];
    }
  }
  matrix_start[n + 1] = end;
}

// The quadratic pattern in the new column order, each pair stored in the
// column that comes first in the new order with the other column as row
// index. map[new] = old and inverse[old] = new over the columns.
void move_quadratic_pattern(int32_t n, const int32_t* map, const int32_t* inverse,
                            int32_t* quad_start, int32_t* factor_index, double* factor_value,
                            int32_t* index_tail, double* value_tail, int32_t* pointer,
                            int32_t* head, int32_t* next, int32_t* new_length, double* scatter) {
  const int32_t base = quad_start[1];
  const int32_t end = quad_start[n + 1];
  if (end <= base) return;
  auto stop = [&](int32_t o) { return quad_start[o + 1]; };
  // Each old column's entries in increasing new position of their row.
  for (int32_t o = 1; o <= n; ++o) {
    const int32_t s = quad_start[o];
    const int32_t len = stop(o) - s;
    if (len < 2) continue;
    for (int32_t e = s; e < s + len; ++e) scatter[factor_index[e]] = factor_value[e];
    sort_index_by_key(len, factor_index + s - 1, inverse);
    for (int32_t e = s; e < s + len; ++e) factor_value[e] = scatter[factor_index[e]];
  }
  // Every column waits in the list of the row of its first unconsumed entry.
  for (int32_t o = 1; o <= n; ++o) head[o] = 0;
  for (int32_t o = 1; o <= n; ++o) {
    pointer[o] = quad_start[o];
    if (pointer[o] < stop(o)) {
      const int32_t r = factor_index[pointer[o]];
      next[o] = head[r];
      head[r] = o;
    }
  }
  int32_t f = 1;
  for (int32_t p = 1; p <= n; ++p) {
    const int32_t c = map[p];
    const int32_t first = f;
    int32_t o = head[c];
    head[c] = 0;
    while (o != 0) {
      const int32_t following = next[o];
      // A column whose own turn has come holds no unconsumed entries; it
      // may still sit in a later row's list.
      if (pointer[o] < stop(o) && factor_index[pointer[o]] == c) {
        index_tail[f] = o;
        value_tail[f] = factor_value[pointer[o]];
        ++f;
        ++pointer[o];
        if (pointer[o] < stop(o)) {
          const int32_t r = factor_index[pointer[o]];
          next[o] = head[r];
          head[r] = o;
        }
      }
      o = following;
    }
    for (int32_t e = pointer[c]; e < stop(c); ++e, ++f) {
      index_tail[f] = factor_index[e];
      value_tail[f] = factor_value[e];
    }
    pointer[c] = stop(c);
    new_length[p] = f - first;
  }
  for (int32_t t = 1; t < f; ++t) {
    factor_index[base + t - 1] = inverse[index_tail[t]];
    factor_value[base + t - 1] = value_tail[t];
  }
  quad_start[1] = base;
  for (int32_t p = 1; p <= n; ++p) quad_start[p + 1] = quad_start[p] + new_length[p];
}

// The column holding entry e: the last column whose start is at most e.
int32_t column_of_entry(const int32_t* old_start, int32_t n, int32_t e) {
  int32_t lo = 1;
  int32_t hi = n;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo + 1) / 2;
    if (old_start[mid] <= e) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return lo;
}

// Moves column o to the place of column inverse[o] in place, following the
// cycles of the entry permutation (a placed entry carries a negative index
// until the end), and maps every index through `inverse`. `new_start`
// (n + 1) already holds the new starts; old_start[1..n] the old ones, the
// region ending before `end`.
void permute_columns_in_place(int32_t n, const int32_t* inverse, const int32_t* old_start,
                              int32_t end, const int32_t* new_start, int32_t* index,
                              double* value) {
  const int32_t base = old_start[1];
  auto destination = [&](int32_t e) {
    const int32_t o = column_of_entry(old_start, n, e);
    return new_start[inverse[o]] + (e - old_start[o]);
  };
  // Leading columns that keep their place only have their indices renamed.
  int32_t lead = 0;
  while (lead < n && inverse[lead + 1] == lead + 1) ++lead;
  const int32_t lead_end = lead < n ? old_start[lead + 1] : end;
  for (int32_t e = base; e < lead_end; ++e) index[e] = -inverse[index[e]];
  for (int32_t e0 = lead_end; e0 < end; ++e0) {
    if (index[e0] < 0) continue;
    int32_t carried_index = index[e0];
    double carried_value = value[e0];
    int32_t e = e0;
    while (true) {
      const int32_t d = destination(e);
      const int32_t next_index = index[d];
      const double next_value = value[d];
      index[d] = -inverse[carried_index];
      value[d] = carried_value;
      if (d == e0) break;
      carried_index = next_index;
      carried_value = next_value;
      e = d;
    }
  }
  for (int32_t e = base; e < end; ++e) index[e] = -index[e];
}

// New starts of the columns in the order map[new] = old, from old starts
// saved in old_start[1..n] and the common end.
void rebuild_starts(int32_t n, const int32_t* map, const int32_t* old_start, int32_t end,
                    int32_t* start) {
  start[1] = old_start[1];
  for (int32_t p = 1; p <= n; ++p) {
    const int32_t o = map[p];
    const int32_t stop = o < n ? old_start[o + 1] : end;
    start[p + 1] = start[p] + (stop - old_start[o]);
  }
}

}  // namespace

void classify_barrier_variables(barrier_params& params, int32_t* ranges, int32_t* order_map,
                                int32_t* order_inverse, int32_t* matrix_start,
                                int32_t* factor_index, double* factor_value, int32_t* int_work,
                                int32_t* index_tail, double* value_tail, int32_t* col_bound_code,
                                int32_t* slack_bound_code, int32_t* var_state, int32_t* list_a,
                                int32_t* list_b, int32_t* list_c, int32_t* list_d, double* cost,
                                double* rhs, double* upper, double* x, double* z, double* y,
                                double* quad_diag, int32_t* quad_start, double* diag) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t positions = n + m;
  if (ranges[kFirstFreeColumn] < 0) {
    partition_positions(params, col_bound_code, slack_bound_code, var_state, ranges, order_map,
                        order_inverse);
  } else {
    // Back to entry order: new position = entry position.
    for (int32_t p = 1; p <= positions; ++p) order_inverse[p] = order_map[p];
    for (int32_t p = 1; p <= positions; ++p) order_map[order_inverse[p]] = p;
  }
  const int32_t* map = order_map;
  const int32_t* inverse = order_inverse;

  move_matrix_through_tails(n, map, inverse, matrix_start, factor_index, factor_value, index_tail,
                            value_tail, int_work);

  permute_vector(positions, 0, upper, map, diag);
  permute_vector(positions, 0, x, map, diag);
  permute_vector(positions, 0, z, map, diag);
  permute_vector(positions, 0, var_state, map, int_work);
  permute_vector(n, 0, cost, map, diag);
  permute_vector(n, 0, col_bound_code, map, int_work);
  if (params.quad_col_count > 0) permute_vector(n, 0, quad_diag, map, diag);
  permute_vector(m, n, y, map, diag);
  permute_vector(m, n, rhs, map, diag);
  permute_vector(m, n, slack_bound_code, map, int_work);

  if (params.quad_nz > 0) {
    move_quadratic_pattern(n, map, inverse, quad_start, factor_index, factor_value, index_tail,
                           value_tail, list_a, list_b, list_c, list_d, diag);
  }
}

void reclassify_barrier_variables(
    barrier_params& params, int32_t* ranges, int32_t* order_map, int32_t* order_inverse,
    int32_t* matrix_start, int32_t* matrix_end, int32_t* factor_index, double* factor_value,
    int32_t* int_work, int32_t* col_bound_code, int32_t* slack_bound_code, int32_t* var_state,
    int32_t* list_a, int32_t* list_b, int32_t* list_c, int32_t* list_d, double* cost, double* rhs,
    double* upper, double* x, double* s, double* z, double* w, double* y, double* dx, double* dz,
    double* dw, double* dy, double* quad_diag, int32_t* quad_start, double* diag,
    int32_t* pivot_order, int32_t* factor_first, int32_t* factor_last, int32_t* supernode_end,
    int32_t* supernode_mark, int32_t* pivot_rank) {
  (void)list_d;
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t positions = n + m;
  // Local map (new -> current position) and its inverse.
  int32_t* local_map = order_inverse;
  int32_t* local_inverse = pivot_rank;
  partition_positions(params, col_bound_code, slack_bound_code, var_state, ranges, local_map,
                      local_inverse);

  // The matrix in place: the factor lists stored behind it must survive.
  int32_t* matrix_old_start = list_a;
  const int32_t matrix_stop = matrix_start[n + 1];
  for (int32_t j = 1; j <= n; ++j) matrix_old_start[j] = matrix_start[j];
  rebuild_starts(n, local_map, matrix_old_start, matrix_stop, matrix_start);
  permute_columns_in_place(n, local_inverse, matrix_old_start, matrix_stop, matrix_start,
                           factor_index, factor_value);

  permute_vector(positions, 0, x, local_map, diag);
  permute_vector(positions, 0, s, local_map, diag);
  permute_vector(positions, 0, z, local_map, diag);
  permute_vector(positions, 0, w, local_map, diag);
  permute_vector(positions, 0, upper, local_map, diag);
  permute_vector(positions, 0, dx, local_map, diag);
  permute_vector(positions, 0, dz, local_map, diag);
  permute_vector(positions, 0, dw, local_map, diag);
  permute_vector(n, 0, cost, local_map, diag);
  permute_vector(n, 0, col_bound_code, local_map, int_work);
  if (params.quad_col_count > 0) permute_vector(n, 0, quad_diag, local_map, diag);
  permute_vector(m, n, y, local_map, diag);
  permute_vector(m, n, dy, local_map, diag);
  permute_vector(m, n, rhs, local_map, diag);
  permute_vector(m, n, slack_bound_code, local_map, int_work);
  permute_vector(positions, 0, var_state, local_map, int_work);

  if (params.quad_nz > 0) {
    params.quad_nz = quad_start[n + 1] - quad_start[1];
    if (params.quad_nz > 0) {
      int32_t* quad_old_start = list_b;
      const int32_t quad_stop = quad_start[n + 1];
      for (int32_t j = 1; j <= n; ++j) quad_old_start[j] = quad_start[j];
      rebuild_starts(n, local_map, quad_old_start, quad_stop, quad_start);
      permute_columns_in_place(n, local_inverse, quad_old_start, quad_stop, quad_start,
                               factor_index, factor_value);
    }
  }

  // The factor structure follows: in-place columns move with their matrix
  // column, positions are renumbered, pivots of removed positions dropped.
  const int32_t matrix_nz = params.matrix_nz;
  const int32_t pivots = params.pivot_count;
  int32_t* dropped_through = list_c;  // dropped pivots at or before rank k
  int32_t dropped = 0;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    if (factor_first[k] <= matrix_nz) {
      const int32_t shift = matrix_start[local_inverse[p]] - matrix_old_start[p];
      factor_first[k] += shift;
      factor_last[k] += shift;
    }
    pivot_order[k] = local_inverse[p];
    if (var_state[pivot_order[k]] < -1) ++dropped;
    dropped_through[k] = dropped;
  }
  int32_t kept = 0;
  for (int32_t k = 1; k <= pivots; ++k) {
    if (var_state[pivot_order[k]] < -1) continue;
    ++kept;
    pivot_order[kept] = pivot_order[k];
    factor_first[kept] = factor_first[k];
    factor_last[kept] = factor_last[k];
    supernode_mark[kept] = supernode_mark[k];
    const int32_t end_rank = supernode_end[k];
    supernode_end[kept] = end_rank > 0 ? end_rank - dropped_through[end_rank] : end_rank;
    if (factor_first[kept] > matrix_nz) {
      int32_t to = factor_first[kept];
      for (int32_t e = factor_first[kept]; e <= factor_last[kept]; ++e) {
        const int32_t q = local_inverse[factor_index[e]];
        if (var_state[q] < -1) continue;
        factor_index[to] = q;
        factor_value[to] = factor_value[e];
        ++to;
      }
      factor_last[kept] = to - 1;
    }
  }
  params.pivot_count = kept;

  // The new order map: entry position of each new position.
  for (int32_t p = 1; p <= positions; ++p) list_c[p] = order_map[local_map[p]];
  for (int32_t p = 1; p <= positions; ++p) order_map[p] = list_c[p];

  for (int32_t p = 1; p <= positions; ++p) pivot_rank[p] = positions + 1;
  for (int32_t k = 1; k <= kept; ++k) pivot_rank[pivot_order[k]] = k;

  for (int32_t j = 1; j <= n; ++j) matrix_end[j] = matrix_start[j + 1] - 1;
  compact_factor_columns(params, ranges, matrix_start, matrix_end, factor_first, factor_last,
                         factor_index, factor_value, var_state, diag, int_work, pivot_rank);
  if (params.quad_nz > 0) {
    compact_matrix_columns(params, quad_start, quad_diag, factor_index, factor_value, var_state);
  }
}

void compact_factor_columns(const barrier_params& params, const int32_t* ranges,
                            const int32_t* matrix_start, int32_t* matrix_end,
                            const int32_t* factor_first, int32_t* factor_last,
                            int32_t* factor_index, double* factor_value, const int32_t* var_state,
                            double* value_scratch, int32_t* index_scratch,
                            const int32_t* pivot_rank) {
  const int32_t positions = params.var_count;
  for (int32_t i = ranges[kFirstFreeColumn]; i <= ranges[kLastBoxedColumn]; ++i) {
    const int32_t k = pivot_rank[i];
    const bool in_place = k >= 1 && k <= positions && factor_first[k] <= params.matrix_nz;
    const int32_t first = matrix_start[i];
    const int32_t last = in_place ? factor_last[k] : matrix_start[i + 1] - 1;
    const int32_t length = last - first + 1;
    for (int32_t t = 0; t < length; ++t) {
      index_scratch[t + 1] = factor_index[first + t];
      value_scratch[t + 1] = factor_value[first + t];
    }
    int32_t front = first;
    int32_t back = last;
    for (int32_t t = 1; t <= length; ++t) {
      const int32_t to = var_state[index_scratch[t]] >= -1 ? front++ : back--;
      factor_index[to] = index_scratch[t];
      factor_value[to] = value_scratch[t];
    }
    matrix_end[i] = front - 1;
    if (in_place) factor_last[k] = front - 1;
  }
  for (int32_t j = ranges[kFirstPosition]; j <= ranges[kLastRemovedColumn]; ++j) {
    matrix_end[j] = matrix_start[j] - 1;
  }
}

void compact_matrix_columns(const barrier_params& params, int32_t* quad_start, double* quad_diag,
                            int32_t* factor_index, double* factor_value, const int32_t* var_state) {
  const int32_t n = params.col_count;
  if (params.quad_nz > 0) {
    int32_t to = quad_start[1];
    int32_t from = quad_start[1];
    for (int32_t j = 1; j <= n; ++j) {
      const int32_t stop = quad_start[j + 1];
      quad_start[j] = to;
      if (var_state[j] >= -1) {
        for (int32_t e = from; e < stop; ++e) {
          if (var_state[factor_index[e]] < -1) continue;
          factor_index[to] = factor_index[e];
          factor_value[to] = factor_value[e];
          ++to;
        }
      }
      from = stop;
    }
    quad_start[n + 1] = to;
  }
  if (params.quad_col_count > 0) {
    for (int32_t j = 1; j <= n; ++j) {
      if (var_state[j] < -1) quad_diag[j] = 0.0;
    }
  }
}

}  // namespace kl
