// The barrier's analysis phase: ordering graph, ordering, pivot order and
// symbolic factor with post-order and supernodes.
#include "barrier/ordering/ordering_driver.h"

#include <algorithm>

#include "barrier/ordering/heapsort.h"
#include "barrier/ordering/ordering_choice.h"
#include "barrier/ordering/supernodes.h"

namespace kl {

namespace {

// Arrays of the analysis carved out of the caller's work block. The ordering
// block is reused by the symbolic phases once the permutation is final.
struct analysis_arrays {
  int32_t* graph_start;
  int32_t* graph_length;
  int32_t* permutation;
  int32_t* pointer;
  int32_t* mark;
  int32_t* identity;
  int32_t* row_copy_start;
  int32_t* saved_state;
  int32_t* row_copy;
  int32_t* tail;  // ordering work, later the symbolic work
};

int64_t fixed_ints(const barrier_params& params) {
  const int64_t slots = static_cast<int64_t>(params.var_count) + 2;
  return 8 * slots + params.matrix_nz + 1;
}

analysis_arrays carve(const barrier_params& params, int32_t* work) {
  const int64_t slots = static_cast<int64_t>(params.var_count) + 2;
  analysis_arrays a{};
  a.graph_start = work;
  a.graph_length = work + slots;
  a.permutation = work + 2 * slots;
  a.pointer = work + 3 * slots;
  a.mark = work + 4 * slots;
  a.identity = work + 5 * slots;
  a.row_copy_start = work + 6 * slots;
  a.saved_state = work + 7 * slots;
  a.row_copy = work + 8 * slots;
  a.tail = work + fixed_ints(params);
  return a;
}

int64_t full_length(const int32_t* matrix_start, const int32_t* matrix_end, int32_t j) {
  return static_cast<int64_t>(matrix_end[j]) - matrix_start[j] + 1;
}

// Entries of the pattern ranges; they must fit the row-wise copy.
int64_t pattern_entries(int32_t n, const int32_t* pattern_start, const int32_t* pattern_end) {
  int64_t total = 0;
  for (int32_t j = 1; j <= n; ++j) total += std::max<int64_t>(0, static_cast<int64_t>(pattern_end[j]) - pattern_start[j] + 1);
  return total;
}

}  // namespace

int64_t analysis_work_ints(const barrier_params& params) {
  const int64_t ordering = ordering_work_ints(params, params.var_count);
  const int64_t symbolic = postorder_work_ints(params);
  return fixed_ints(params) + std::max(ordering, symbolic);
}

int64_t analysis_value_work_doubles(const barrier_params& params) {
  return static_cast<int64_t>(params.var_count) + 2;
}

void analyse_normal_equations(barrier_params& params, int32_t system_kind, int32_t* var_state,
                              const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* pattern_start,
                              const int32_t* pattern_end, const int32_t* column_node, int32_t* quad_start,
                              int32_t* factor_index, double* factor_value, int32_t* work, double* value_work,
                              int32_t tfind, int32_t* pivot_order, int32_t* pivot_rank, int32_t* factor_first,
                              int32_t* factor_last, symbolic_counts& counts, int32_t& status) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t positions = params.var_count;
  const int64_t nz = static_cast<int64_t>(params.matrix_nz) + params.quad_nz;
  const bool quadratic = params.quad_nz > 0;
  analysis_arrays a = carve(params, work);
  int32_t* permutation = a.permutation;

  params.pivot_count = 0;
  counts = symbolic_counts{};
  status = 0;
  if (params.factor_space <= 2 * nz) {
    status = BARRIER_SPACE_SHORT;
    return;
  }

  bool long_columns = false;
  const bool augmented = system_kind == SYSTEM_AUGMENTED;
  if (params.ORDERING < 0) {
    for (int32_t k = 1; k <= positions; ++k) permutation[k] = k;
  } else {
    const int32_t off = augmented ? 0 : n;
    if (pattern_entries(n, pattern_start, pattern_end) > params.matrix_nz) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
    // Row-wise copy of the pattern ranges; the ranges sorted by row.
    for (int32_t p = 1; p <= positions; ++p) {
      a.identity[p] = p;
      a.mark[p] = 0;
    }
    for (int32_t i = 1; i <= m + 1; ++i) a.row_copy_start[i] = 0;
    int64_t free_entry = nz + 1;
    for (int32_t j = 1; j <= n; ++j) {
      const int32_t first = pattern_start[j];
      const int32_t last = pattern_end[j];
      a.pointer[j] = first;
      if (last < first) continue;
      if (last > nz) free_entry = std::max<int64_t>(free_entry, static_cast<int64_t>(last) + 1);
      if (first <= params.matrix_nz) {
        for (int32_t e = first; e <= last; ++e) value_work[factor_index[e]] = factor_value[e];
        sort_index_by_key(last - first + 1, factor_index + first - 1, a.identity);
        for (int32_t e = first; e <= last; ++e) factor_value[e] = value_work[factor_index[e]];
      } else {
        sort_index_by_key(last - first + 1, factor_index + first - 1, a.identity);
      }
      if (var_state[j] < -1) continue;
      for (int32_t e = first; e <= last; ++e) ++a.row_copy_start[factor_index[e] - n];
    }
    int32_t running = 1;
    for (int32_t i = 1; i <= m + 1; ++i) {
      const int32_t count = a.row_copy_start[i];
      a.row_copy_start[i] = running;
      running += count;
    }
    // row_copy_start[i] now runs as the fill pointer of row i, then is
    // shifted back by one row.
    for (int32_t j = 1; j <= n; ++j) {
      if (var_state[j] < -1) continue;
      for (int32_t e = pattern_start[j]; e <= pattern_end[j]; ++e) a.row_copy[a.row_copy_start[factor_index[e] - n]++] = j;
    }
    for (int32_t i = m + 1; i >= 2; --i) a.row_copy_start[i] = a.row_copy_start[i - 1];
    a.row_copy_start[1] = 1;

    // Column nodes of the augmented graph: quadratic neighbours, then the
    // column's own rows. Removed positions never enter the graph.
    if (augmented) {
      for (int32_t j = 1; j <= n; ++j) {
        a.graph_start[j] = static_cast<int32_t>(free_entry);
        a.graph_length[j] = 0;
        if (var_state[j] < -1 || column_node[j] == 0) continue;
        if (full_length(matrix_start, matrix_end, j) >= params.SUPDENS) {
          long_columns = true;
          continue;
        }
        const int64_t room = (quadratic ? quad_start[j + 1] - quad_start[j] : 0) + full_length(matrix_start, matrix_end, j);
        if (free_entry + room > params.factor_space) {
          status = BARRIER_SPACE_SHORT;
          return;
        }
        if (quadratic) {
          for (int32_t e = quad_start[j]; e < quad_start[j + 1]; ++e)
            if (var_state[factor_index[e]] >= -1) factor_index[free_entry++] = factor_index[e];
        }
        for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e)
          if (var_state[factor_index[e]] >= -1) factor_index[free_entry++] = factor_index[e];
        a.graph_length[j] = static_cast<int32_t>(free_entry - a.graph_start[j]);
      }
    }

    // Row nodes: the rows after i that share a pattern column with i, each
    // edge once (the strict upper pattern of A A' over the pattern ranges).
    for (int32_t i = 1; i <= m; ++i) {
      const int32_t row = n + i;
      const int32_t node = row - off;
      if (static_cast<int64_t>(params.factor_space) < positions + free_entry) {
        status = BARRIER_SPACE_SHORT;
        return;
      }
      a.graph_start[node] = static_cast<int32_t>(free_entry);
      const bool live = var_state[row] >= -1;
      a.mark[row] = row;
      for (int32_t q = a.row_copy_start[i]; q < a.row_copy_start[i + 1]; ++q) {
        const int32_t c = a.row_copy[q];
        if (live) {
          for (int32_t e = a.pointer[c]; e <= pattern_end[c]; ++e) {
            const int32_t r = factor_index[e];
            if (a.mark[r] == row || var_state[r] < -1) continue;
            a.mark[r] = row;
            factor_index[free_entry++] = r - off;
          }
        }
        ++a.pointer[c];
      }
      a.graph_length[node] = static_cast<int32_t>(free_entry - a.graph_start[node]);
    }

    // The minimum-degree ordering keeps its reverse counts in the states;
    // the caller's states come back afterwards.
    for (int32_t p = 1; p <= positions; ++p) a.saved_state[p] = var_state[p];
    auto restore_states = [&]() {
      for (int32_t p = 1; p <= positions; ++p) var_state[p] = a.saved_state[p];
    };
    // Order: on the normal path the rows' order goes after the n columns.
    const int32_t dim = positions - off;
    order_normal_matrix(params, dim, a.graph_start, a.graph_length, permutation + off, var_state + off, factor_index,
                        augmented ? n : 0, tfind, a.tail, status);
    restore_states();
    if (status < 0) {
      params.pivot_count = 0;
      return;
    }
    if (off > 0)
      for (int32_t k = 1; k <= dim; ++k) permutation[off + k] += off;

    if (long_columns) {
      // Long columns to the back, the first met at the very end.
      int32_t front = 0;
      int32_t back = positions + 1;
      int32_t* kept = a.mark;
      for (int32_t k = 1; k <= positions; ++k) {
        const int32_t p = permutation[k];
        if (p <= n && full_length(matrix_start, matrix_end, p) >= params.SUPDENS) {
          kept[--back] = p;
        } else {
          kept[++front] = p;
        }
      }
      for (int32_t k = 1; k <= positions; ++k) permutation[k] = kept[k];
    }
    if (!augmented) {
      if (quadratic) {
        // The columns take an order of their own over the quadratic pattern.
        int64_t f = nz + 1;
        for (int32_t j = 1; j <= n; ++j) {
          a.graph_start[j] = static_cast<int32_t>(f);
          if (var_state[j] >= -1) {
            for (int32_t e = quad_start[j]; e < quad_start[j + 1]; ++e)
              if (var_state[factor_index[e]] >= -1) factor_index[f++] = factor_index[e];
          }
          a.graph_length[j] = static_cast<int32_t>(f - a.graph_start[j]);
        }
        const int32_t saved_count = params.pivot_count;
        order_normal_matrix(params, n, a.graph_start, a.graph_length, permutation, var_state, factor_index, 0, tfind,
                            a.tail, status);
        restore_states();
        params.pivot_count = saved_count;
        if (status < 0) {
          params.pivot_count = 0;
          return;
        }
      } else {
        for (int32_t k = 1; k <= n; ++k) permutation[k] = k;
      }
    }
  }

  int32_t count = 0;
  for (int32_t k = 1; k <= positions; ++k) {
    const int32_t p = permutation[k];
    if (var_state[p] >= -1) pivot_order[++count] = p;
  }
  params.pivot_count = count;

  int32_t* symbolic_work = a.tail;
  if (quadratic) build_lower_pattern(params, pivot_order, quad_start, factor_index, factor_value, pivot_rank, symbolic_work, value_work);
  compute_symbolic_factor(params, matrix_start, pivot_order, factor_index, factor_value, factor_first, factor_last,
                          var_state, quad_start, pivot_rank, symbolic_work, value_work, counts, status);
  if (status >= 0) {
    postorder_elimination_tree(params, matrix_start, matrix_end, pivot_order, factor_index, factor_value, factor_first,
                               factor_last, quad_start, var_state, pivot_rank, symbolic_work, value_work, status);
  }
  if (status >= 0) amalgamate_supernodes(params, pivot_order, factor_index, factor_first, factor_last, symbolic_work, counts);

  // Position-indexed lists become rank-indexed.
  int32_t* scratch = a.graph_start;
  for (int32_t k = 1; k <= params.pivot_count; ++k) scratch[k] = factor_first[pivot_order[k]];
  for (int32_t k = 1; k <= params.pivot_count; ++k) factor_first[k] = scratch[k];
  for (int32_t k = 1; k <= params.pivot_count; ++k) scratch[k] = factor_last[pivot_order[k]];
  for (int32_t k = 1; k <= params.pivot_count; ++k) factor_last[k] = scratch[k];
}

void regroup_pivot_order(barrier_params& params, int32_t* pivot_order, int32_t* var_state, int32_t* work) {
  const int32_t n = params.col_count;
  int32_t count = 0;
  int32_t* order = work;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (p <= n && var_state[p] == -1) order[++count] = p;
  }
  // Rows of state -1 are collected from the top of the same array downward,
  // so the first met ends up last.
  int32_t aside = params.var_count + 1;
  for (int32_t k = 1; k <= params.pivot_count; ++k) {
    const int32_t p = pivot_order[k];
    if (var_state[p] >= 0) {
      order[++count] = p;
    } else if (var_state[p] == -1) {
      if (p > n) order[--aside] = p;
      var_state[p] = 0;
    }
  }
  for (int32_t k = 1; k <= count; ++k) pivot_order[k] = order[k];
  for (int32_t q = aside; q <= params.var_count; ++q) pivot_order[++count] = order[q];
  params.pivot_count = count;
}

}  // namespace kl
