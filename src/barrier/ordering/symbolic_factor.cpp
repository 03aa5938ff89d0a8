// Symbolic factorisation of the barrier system: column lists of L built by
// merging each column's own entries with the lists of its children in the
// elimination tree, a mark per position stamped with the pivot rank.
#include "barrier/ordering/symbolic_factor.h"

#include "barrier/ordering/heapsort.h"

namespace kl {

namespace {

// Ranks of every position: n + m + 1 for positions not pivoted.
void fill_pivot_rank(const barrier_params& params, const int32_t* pivot_order, int32_t* pivot_rank) {
  const int32_t unranked = params.var_count + 1;
  for (int32_t p = 1; p <= params.var_count; ++p) pivot_rank[p] = unranked;
  for (int32_t k = 1; k <= params.pivot_count; ++k) pivot_rank[pivot_order[k]] = k;
}

// Sorts entries first..last of the paired spaces into increasing rank, the
// values moving with their indices (the indices of one range are distinct).
void sort_entries_by_rank(int32_t first, int32_t last, int32_t* factor_index, double* factor_value,
                          const int32_t* pivot_rank, double* value_work) {
  const int32_t count = last - first + 1;
  if (count < 2) return;
  for (int32_t e = first; e <= last; ++e) value_work[factor_index[e]] = factor_value[e];
  sort_index_by_key(count, factor_index + first - 1, pivot_rank);
  for (int32_t e = first; e <= last; ++e) factor_value[e] = value_work[factor_index[e]];
}

}  // namespace

void build_lower_pattern(barrier_params& params, const int32_t* pivot_order, int32_t* quad_start,
                         int32_t* factor_index, double* factor_value, int32_t* pivot_rank, int32_t* work,
                         double* value_work) {
  const int32_t n = params.col_count;
  const int32_t slots = params.var_count + 2;
  int32_t* pointer = work;
  int32_t* head = work + slots;
  int32_t* next = work + 2 * static_cast<int64_t>(slots);
  int32_t* new_start = work + 3 * static_cast<int64_t>(slots);
  int32_t* new_end = work + 4 * static_cast<int64_t>(slots);
  fill_pivot_rank(params, pivot_order, pivot_rank);
  const int32_t pivoted_limit = params.pivot_count;

  for (int32_t p = 1; p <= params.var_count; ++p) head[p] = 0;
  for (int32_t j = 1; j <= n; ++j) {
    sort_entries_by_rank(quad_start[j], quad_start[j + 1] - 1, factor_index, factor_value, pivot_rank, value_work);
    pointer[j] = quad_start[j];
    new_start[j] = 1;
    new_end[j] = 0;
    next[j] = 0;
    // A column that is not pivoted gives no entries to anyone.
    if (pivot_rank[j] > pivoted_limit || quad_start[j] >= quad_start[j + 1]) continue;
    const int32_t target = factor_index[quad_start[j]];
    if (pivot_rank[target] > pivoted_limit) continue;
    next[j] = head[target];
    head[target] = j;
  }

  int32_t f = quad_start[n + 1];
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (p > n) continue;
    new_start[p] = f;
    while (head[p] != 0) {
      const int32_t j = head[p];
      head[p] = next[j];
      if (pointer[j] + 1 > quad_start[j + 1]) continue;  // j already took its turn
      factor_index[f] = j;
      factor_value[f] = factor_value[pointer[j]];
      ++f;
      ++pointer[j];
      if (pointer[j] < quad_start[j + 1]) {
        const int32_t target = factor_index[pointer[j]];
        if (pivot_rank[target] <= pivoted_limit) {
          next[j] = head[target];
          head[target] = j;
        }
      }
    }
    // The remaining entries of p are all pivoted after p; entries naming
    // positions that are not pivoted sort to the end and are dropped.
    for (int32_t e = pointer[p]; e < quad_start[p + 1]; ++e) {
      if (pivot_rank[factor_index[e]] > pivoted_limit) break;
      factor_index[f] = factor_index[e];
      factor_value[f] = factor_value[e];
      ++f;
    }
    pointer[p] = quad_start[p + 1];
    new_end[p] = f - 1;
  }

  // The new lists lie above the old pattern, so copying them down in column
  // order never overwrites one not yet copied.
  int32_t w = quad_start[1];
  for (int32_t j = 1; j <= n; ++j) {
    const int32_t first = w;
    if (pivot_rank[j] <= pivoted_limit) {
      for (int32_t e = new_start[j]; e <= new_end[j]; ++e, ++w) {
        factor_index[w] = factor_index[e];
        factor_value[w] = factor_value[e];
      }
    }
    quad_start[j] = first;
  }
  quad_start[n + 1] = w;
  for (int32_t j = 1; j <= n; ++j)
    sort_entries_by_rank(quad_start[j], quad_start[j + 1] - 1, factor_index, factor_value, pivot_rank, value_work);
}

void compute_symbolic_factor(barrier_params& params, const int32_t* matrix_start, const int32_t* pivot_order,
                             int32_t* factor_index, double* factor_value, int32_t* factor_first,
                             int32_t* factor_last, const int32_t* var_state, const int32_t* quad_start,
                             int32_t* pivot_rank, int32_t* work, double* value_work, symbolic_counts& counts,
                             int32_t& status) {
  const int32_t n = params.col_count;
  const int32_t positions = params.var_count;
  const int32_t slots = positions + 2;
  const int32_t nz_a = params.matrix_nz;
  const bool quadratic = params.quad_nz > 0;
  int32_t* mark = work;
  int32_t* child_head = work + slots;
  int32_t* child_next = work + 2 * static_cast<int64_t>(slots);
  int32_t* late_head = work + 3 * static_cast<int64_t>(slots);
  int32_t* late_next = work + 4 * static_cast<int64_t>(slots);
  int32_t* late_prev = work + 5 * static_cast<int64_t>(slots);

  counts = symbolic_counts{};
  status = 0;
  int64_t f = static_cast<int64_t>(nz_a) + params.quad_nz + 1;
  for (int32_t p = 1; p <= positions; ++p) {
    mark[p] = 0;
    child_head[p] = 0;
    child_next[p] = 0;
    late_head[p] = 0;
    late_next[p] = 0;
    late_prev[p] = 0;
  }
  fill_pivot_rank(params, pivot_order, pivot_rank);
  const int32_t pivoted_limit = params.pivot_count;
  int32_t first_row_rank = params.pivot_count + 1;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    if (pivot_order[k] > n) {
      first_row_rank = k;
      break;
    }
  }

  auto link_late = [&](int32_t c) {
    const int32_t row = factor_index[factor_first[c]];
    late_prev[c] = 0;
    late_next[c] = late_head[row];
    if (late_head[row] != 0) late_prev[late_head[row]] = c;
    late_head[row] = c;
  };
  auto unlink_late = [&](int32_t c) {
    const int32_t row = factor_index[factor_first[c]];
    if (late_prev[c] != 0) {
      late_next[late_prev[c]] = late_next[c];
    } else {
      late_head[row] = late_next[c];
    }
    if (late_next[c] != 0) late_prev[late_next[c]] = late_prev[c];
    late_next[c] = 0;
    late_prev[c] = 0;
  };

  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (p > n) continue;
    const int32_t first = matrix_start[p];
    int32_t last = matrix_start[p + 1] - 1;
    sort_entries_by_rank(first, last, factor_index, factor_value, pivot_rank, value_work);
    // Entries of removed (or never pivoted) rows have the largest rank.
    while (last >= first && (var_state[factor_index[last]] < -1 || pivot_rank[factor_index[last]] > pivoted_limit))
      --last;
    factor_first[p] = first;
    factor_last[p] = last;
    if (k > first_row_rank && first <= last) link_late(p);
  }

  // 64-bit sums: a factor of a few hundred thousand columns passes 2^31.
  double built_flops = 0.0;
  double in_place_flops = 0.0;
  int32_t previous_parent = 0;
  int64_t previous_length = -1;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (f >= static_cast<int64_t>(params.factor_space) - positions) {
      status = BARRIER_LISTS_TOO_LONG;
      return;
    }
    mark[p] = k;
    int32_t merged = 0;
    bool built = true;
    if (p > n) {
      factor_first[p] = static_cast<int32_t>(f);
      // Late columns whose first remaining entry is this row: they are
      // entries of its list, and their own lists pass the row.
      while (late_head[p] != 0) {
        const int32_t c = late_head[p];
        unlink_late(c);
        ++merged;
        mark[c] = k;
        factor_index[f++] = c;
        ++factor_first[c];
        if (factor_first[c] <= factor_last[c]) link_late(c);
      }
    } else {
      if (k > first_row_rank && factor_first[p] <= factor_last[p]) unlink_late(p);
      if ((quadratic && quad_start[p] < quad_start[p + 1]) || child_head[p] != 0) {
        const int32_t s = factor_first[p];
        const int32_t e = factor_last[p];
        factor_first[p] = static_cast<int32_t>(f);
        merged = quadratic ? 2 : 1;
        if (quadratic) {
          for (int32_t q = quad_start[p]; q < quad_start[p + 1]; ++q) {
            mark[factor_index[q]] = k;
            factor_index[f++] = factor_index[q];
          }
        }
        for (int32_t q = s; q <= e; ++q) {
          mark[factor_index[q]] = k;
          factor_index[f++] = factor_index[q];
        }
      } else {
        built = false;
      }
    }
    int64_t length;
    if (built) {
      for (int32_t c = child_head[p]; c != 0; c = child_next[c]) {
        ++merged;
        for (int32_t q = factor_first[c]; q <= factor_last[c]; ++q) {
          const int32_t r = factor_index[q];
          if (mark[r] == k) continue;
          mark[r] = k;
          factor_index[f++] = r;
        }
      }
      factor_last[p] = static_cast<int32_t>(f - 1);
      length = f - factor_first[p];
      if (merged > 1) {
        if (previous_parent == p && previous_length == length + 1) {
          // The previous column's list less its parent is this list, sorted.
          const int32_t prev = pivot_order[k - 1];
          for (int64_t t = 0; t < length; ++t) factor_index[factor_first[p] + t] = factor_index[factor_first[prev] + 1 + t];
        } else if (length > 1) {
          sort_index_by_key(static_cast<int32_t>(length), factor_index + factor_first[p] - 1, pivot_rank);
        }
      }
    } else {
      length = static_cast<int64_t>(factor_last[p]) - factor_first[p] + 1;
    }
    previous_parent = 0;
    if (length > 0) {
      const int32_t parent = factor_index[factor_first[p]];
      child_next[p] = child_head[parent];
      child_head[parent] = p;
      previous_parent = parent;
    }
    previous_length = length;
    if (p > n) counts.row_nonzeros += length;
    counts.factor_nonzeros += length;
    const double work_of_column = static_cast<double>(length) * static_cast<double>(length + 1);
    if (factor_first[p] <= nz_a) {
      in_place_flops += work_of_column;
    } else {
      built_flops += work_of_column;
    }
  }
  counts.factor_flops = 0.5 * (built_flops + in_place_flops);
  counts.in_place_flops = 0.5 * in_place_flops;
}

}  // namespace kl
