// Post-order of the elimination tree and relaxed supernode amalgamation.
#include "barrier/ordering/supernodes.h"

#include <algorithm>

#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// Amalgamation budget: added zeros in percent of a column's own length.
constexpr int64_t kPercent = 100;

struct postorder_arrays {
  int32_t* parent;
  int32_t* child_count;
  int32_t* child_start;
  int32_t* child_fill;
  int32_t* children;
  int32_t* key;
  int32_t* visit;
  int32_t* new_order;
  int32_t* built;
  int32_t* in_place;
  int32_t* stack;
  int32_t* count;
  int32_t* representative;
  int32_t* row_start;
  int32_t* row_lists;  // factor_space + 2
};

postorder_arrays carve(const barrier_params& params, int32_t* work) {
  const int64_t slots = static_cast<int64_t>(params.var_count) + 2;
  postorder_arrays a{};
  int32_t** fields[] = {&a.parent, &a.child_count, &a.child_start, &a.child_fill, &a.children,
                        &a.key,    &a.visit,       &a.new_order,   &a.built,      &a.in_place,
                        &a.stack,  &a.count,       &a.representative, &a.row_start};
  int64_t at = 0;
  for (int32_t** field : fields) {
    *field = work + at;
    at += slots;
  }
  a.row_lists = work + at;
  return a;
}

int32_t list_length(const int32_t* factor_first, const int32_t* factor_last, int32_t p) {
  return factor_last[p] - factor_first[p] + 1;
}

}  // namespace

int64_t postorder_work_ints(const barrier_params& params) {
  const int64_t slots = static_cast<int64_t>(params.var_count) + 2;
  return kPostorderWorkPerPosition * slots + static_cast<int64_t>(params.factor_space) + 2;
}

void postorder_elimination_tree(barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                                int32_t* pivot_order, int32_t* factor_index, double* factor_value,
                                int32_t* factor_first, int32_t* factor_last, int32_t* quad_start,
                                const int32_t* var_state, int32_t* pivot_rank, int32_t* work, double* value_work,
                                int32_t& status) {
  (void)matrix_end;
  status = 0;
  if (params.POSTORDER <= 0) return;
  const int32_t n = params.col_count;
  const int32_t positions = params.var_count;
  const int32_t nz_a = params.matrix_nz;
  const int32_t pivots = params.pivot_count;
  postorder_arrays a = carve(params, work);

  // Tree of the built lists.
  for (int32_t p = 1; p <= positions; ++p) {
    a.parent[p] = 0;
    a.child_count[p] = 0;
  }
  int32_t built = 0;
  int32_t in_place = 0;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    if (factor_first[p] <= nz_a) {
      a.in_place[++in_place] = p;
      continue;
    }
    a.built[++built] = p;
    if (factor_first[p] <= factor_last[p]) {
      a.parent[p] = factor_index[factor_first[p]];
      ++a.child_count[a.parent[p]];
    }
  }
  int32_t* b = a.built;
  // Isolated built positions join the in-place columns at the front.
  for (int32_t i = 1; i <= built;) {
    const int32_t x = b[i];
    if (a.parent[x] == 0 && a.child_count[x] == 0) {
      a.in_place[++in_place] = x;
      b[i] = b[built--];
    } else {
      ++i;
    }
  }
  // Leaves, inner nodes, roots.
  int32_t i = 1;
  int32_t e = built;
  int32_t s = built + 1;
  while (i <= e) {
    const int32_t x = b[i];
    if (a.parent[x] == 0) {
      b[i] = b[e];
      --s;
      b[e] = b[s];
      --e;
      b[s] = x;
    } else if (a.child_count[x] == 0) {
      ++i;
    } else {
      b[i] = b[e];
      b[e] = x;
      --e;
    }
  }
  const int32_t leaves_end = i - 1;
  const int32_t roots_begin = s;

  int32_t room = 1;
  for (int32_t t = 1; t <= built; ++t) {
    const int32_t x = b[t];
    a.child_start[x] = room;
    a.child_fill[x] = room;
    room += a.child_count[x];
  }
  for (int32_t t = 1; t <= built; ++t) {
    const int32_t x = b[t];
    if (a.parent[x] != 0) a.children[a.child_fill[a.parent[x]]++] = x;
  }

  for (int32_t t = 1; t <= built; ++t) a.key[b[t]] = 0;
  if (params.POSTORDER == 1) {
    // Depth of the deepest leaf below each node.
    int32_t* queue = a.stack;
    for (int32_t t = roots_begin; t <= built; ++t) {
      int32_t head = 1;
      int32_t tail = 0;
      queue[++tail] = b[t];
      a.key[b[t]] = 0;
      while (head <= tail) {
        const int32_t x = queue[head++];
        for (int32_t q = a.child_start[x]; q < a.child_start[x] + a.child_count[x]; ++q) {
          a.key[a.children[q]] = a.key[x] + 1;
          queue[++tail] = a.children[q];
        }
      }
    }
    for (int32_t t = leaves_end + 1; t <= built; ++t) a.key[b[t]] = 0;
    for (int32_t t = 1; t <= leaves_end; ++t) {
      int32_t x = b[t];
      for (int32_t p = a.parent[x]; p != 0 && a.key[p] < a.key[x]; p = a.parent[p]) {
        a.key[p] = a.key[x];
        x = p;
      }
    }
  } else {
    // Length of the chain of nested lists that ends in each node.
    int32_t* queue = a.stack;
    int32_t head = 1;
    int32_t tail = 0;
    for (int32_t t = 1; t <= built; ++t) a.visit[b[t]] = 0;
    for (int32_t t = 1; t <= leaves_end; ++t) queue[++tail] = b[t];
    while (head <= tail) {
      const int32_t x = queue[head++];
      const int32_t p = a.parent[x];
      if (p == 0) continue;
      if (a.visit[p] == 0) {
        a.visit[p] = 1;
        queue[++tail] = p;
      }
      int32_t deepest = 0;
      for (int32_t q = a.child_start[x]; q < a.child_start[x] + a.child_count[x]; ++q)
        deepest = std::max(deepest, a.key[a.children[q]]);
      a.key[x] = list_length(factor_first, factor_last, p) == list_length(factor_first, factor_last, x) - 1
                     ? 1 + deepest
                     : 0;
    }
  }
  for (int32_t t = leaves_end + 1; t <= built; ++t) {
    const int32_t x = b[t];
    if (a.child_count[x] > 1) sort_index_by_key(a.child_count[x], a.children + a.child_start[x] - 1, a.key);
  }

  // New order: in-place columns, then a depth-first post-order of each tree.
  int32_t placed = 0;
  for (int32_t t = 1; t <= in_place; ++t) a.new_order[++placed] = a.in_place[t];
  for (int32_t t = 1; t <= built; ++t) a.child_fill[b[t]] = 0;
  for (int32_t t = roots_begin; t <= built; ++t) {
    int32_t depth = 0;
    a.stack[++depth] = b[t];
    while (depth > 0) {
      const int32_t x = a.stack[depth];
      if (a.child_fill[x] < a.child_count[x]) {
        a.stack[++depth] = a.children[a.child_start[x] + a.child_fill[x]];
        ++a.child_fill[x];
      } else {
        a.new_order[++placed] = x;
        --depth;
      }
    }
  }

  int32_t changes = 0;
  int32_t col_changes = 0;
  int32_t old_column = 0;
  int32_t new_column = 0;
  for (int32_t k = 1; k <= pivots; ++k) {
    if (a.new_order[k] != pivot_order[k]) ++changes;
  }
  for (int32_t k_old = 1, k_new = 1;;) {
    while (k_old <= pivots && pivot_order[k_old] > n) ++k_old;
    while (k_new <= pivots && a.new_order[k_new] > n) ++k_new;
    if (k_old > pivots || k_new > pivots) break;
    old_column = pivot_order[k_old++];
    new_column = a.new_order[k_new++];
    if (old_column != new_column) ++col_changes;
  }
  if (changes == 0) return;
  for (int32_t k = 1; k <= pivots; ++k) {
    pivot_order[k] = a.new_order[k];
    pivot_rank[pivot_order[k]] = k;
  }

  if (params.quad_nz > 0 && col_changes > 0) {
    // The quadratic pattern depends on the order of the columns: a new
    // symbolic run is simpler than transposing it (its counts are the same).
    symbolic_counts rerun;
    build_lower_pattern(params, pivot_order, quad_start, factor_index, factor_value, pivot_rank, work, value_work);
    compute_symbolic_factor(params, matrix_start, pivot_order, factor_index, factor_value, factor_first, factor_last,
                            var_state, quad_start, pivot_rank, work, value_work, rerun, status);
    return;
  }

  // Matrix columns into the new rank order; removed rows keep the largest
  // rank, so the in-place lists stay where they were.
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    if (p > n) continue;
    const int32_t first = matrix_start[p];
    const int32_t last = matrix_start[p + 1] - 1;
    if (last - first + 1 < 2) continue;
    for (int32_t q = first; q <= last; ++q) value_work[factor_index[q]] = factor_value[q];
    sort_index_by_key(last - first + 1, factor_index + first - 1, pivot_rank);
    for (int32_t q = first; q <= last; ++q) factor_value[q] = value_work[factor_index[q]];
  }

  // Chains of nested lists share their representative's list.
  for (int32_t p = 1; p <= positions; ++p) {
    a.visit[p] = 0;
    a.count[p] = 0;
    a.representative[p] = 0;
  }
  int32_t current = 0;
  int32_t previous_length = -1;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t x = pivot_order[k];
    if (factor_first[x] <= nz_a) continue;
    const int32_t length = list_length(factor_first, factor_last, x);
    if (current != 0 && a.visit[x] == current && length == previous_length - 1) {
      a.representative[x] = current;
    } else {
      current = x;
      a.representative[x] = x;
      for (int32_t q = factor_first[x]; q <= factor_last[x]; ++q) {
        ++a.count[factor_index[q]];
        a.visit[factor_index[q]] = x;
      }
    }
    previous_length = length;
  }
  // Transposed lists of the representatives.
  int64_t running = 1;
  for (int32_t p = 1; p <= positions; ++p) {
    a.row_start[p] = static_cast<int32_t>(running);
    running += a.count[p];
    a.count[p] = a.row_start[p];
  }
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t x = pivot_order[k];
    if (factor_first[x] <= nz_a || a.representative[x] != x) continue;
    for (int32_t q = factor_first[x]; q <= factor_last[x]; ++q) a.row_lists[a.count[factor_index[q]]++] = x;
  }
  // Built lists laid out again in the new order; the representatives' lists
  // are filled by walking the positions in rank order, so they come sorted.
  int32_t f = nz_a + params.quad_nz + 1;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t x = pivot_order[k];
    if (factor_first[x] <= nz_a) continue;
    const int32_t length = list_length(factor_first, factor_last, x);
    factor_first[x] = f;
    factor_last[x] = f + length - 1;
    a.child_fill[x] = f;
    f += length;
  }
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t q = pivot_order[k];
    for (int32_t t = a.row_start[q]; t < a.count[q]; ++t) {
      const int32_t x = a.row_lists[t];
      factor_index[a.child_fill[x]++] = q;
    }
  }
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t x = pivot_order[k];
    if (factor_first[x] <= nz_a || a.representative[x] == x) continue;
    const int32_t r = a.representative[x];
    const int32_t length = list_length(factor_first, factor_last, x);
    const int32_t from = factor_last[r] - length + 1;
    for (int32_t t = 0; t < length; ++t) factor_index[factor_first[x] + t] = factor_index[from + t];
  }
}

void amalgamate_supernodes(barrier_params& params, const int32_t* pivot_order, int32_t* factor_index,
                           int32_t* factor_first, int32_t* factor_last, int32_t* work, symbolic_counts& counts) {
  const int32_t pivots = params.pivot_count;
  const int32_t nz_a = params.matrix_nz;
  const int32_t slots = params.var_count + 2;
  int32_t* added = work;         // by rank
  int32_t* group_mark = work + slots;  // by position
  if (pivots < 2) return;
  for (int32_t p = 1; p <= params.var_count; ++p) group_mark[p] = 0;
  added[pivots] = 0;

  const int64_t budget = params.SUPFILL;
  int64_t total = 0;
  int64_t current = list_length(factor_first, factor_last, pivot_order[pivots]);
  int32_t group = 0;
  for (int32_t k = pivots - 1; k >= 1; --k) {
    const int32_t p = pivot_order[k];
    const int32_t next = pivot_order[k + 1];
    added[k] = 0;
    group_mark[p] = 0;
    const int64_t length = list_length(factor_first, factor_last, p);
    if (factor_first[p] <= nz_a) {
      current = length;
      group = 0;
      continue;
    }
    const int64_t zeros = current + 1 - length;
    if (length > 0 && factor_index[factor_first[p]] == next) {
      group = 0;
      if (zeros > 0 && kPercent * zeros < budget * length) {
        added[k] = static_cast<int32_t>(zeros);
        total += zeros;
        ++current;
      } else {
        current = length;
      }
      continue;
    }
    if (length >= 2 && length <= current && kPercent * zeros < budget * length) {
      if (group == 0) {
        group = k;
        group_mark[next] = k;
        for (int32_t q = factor_first[next]; q <= factor_last[next]; ++q) group_mark[factor_index[q]] = k;
      }
      bool covered = true;
      for (int32_t q = factor_first[p]; q <= factor_last[p] && covered; ++q) covered = group_mark[factor_index[q]] == group;
      if (covered) {
        group_mark[p] = group;
        added[k] = static_cast<int32_t>(zeros);
        total += zeros;
        ++current;
        continue;
      }
    }
    current = length;
    group = 0;
  }

  // The built lists lie in pivot order; the top one ends the region.
  int64_t top = 0;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    if (factor_first[p] > nz_a) top = std::max<int64_t>(top, factor_last[p]);
  }
  if (total == 0 || top + total + 1 >= params.factor_space) return;

  // Move the lists upward from the top, so none is overwritten unmoved.
  int64_t w = top + total;
  for (int32_t k = pivots; k >= 1; --k) {
    const int32_t p = pivot_order[k];
    if (factor_first[p] <= nz_a) continue;
    const int32_t last = static_cast<int32_t>(w);
    if (added[k] == 0) {
      for (int32_t q = factor_last[p]; q >= factor_first[p]; --q) factor_index[w--] = factor_index[q];
    } else {
      const int32_t next = pivot_order[k + 1];
      for (int32_t q = factor_last[next]; q >= factor_first[next]; --q) factor_index[w--] = factor_index[q];
      factor_index[w--] = next;
    }
    factor_last[p] = last;
    factor_first[p] = static_cast<int32_t>(w + 1);
  }

  counts = symbolic_counts{};
  double in_place_flops = 0.0;
  double flops = 0.0;
  for (int32_t k = 1; k <= pivots; ++k) {
    const int32_t p = pivot_order[k];
    const int64_t length = list_length(factor_first, factor_last, p);
    counts.factor_nonzeros += length;
    if (p > params.col_count) counts.row_nonzeros += length;
    const double column_work = 0.5 * static_cast<double>(length) * static_cast<double>(length + 1);
    flops += column_work;
    if (factor_first[p] <= nz_a) in_place_flops += column_work;
  }
  counts.factor_flops = flops;
  counts.in_place_flops = in_place_flops;
}

}  // namespace kl
