#include "barrier/iterate/dense_columns.h"

#include <algorithm>
#include <cmath>

namespace kl {

namespace {

// Class-range entries of the positions the analysis reads.
constexpr int32_t kFirstActiveColumn = 1;
constexpr int32_t kLastActiveColumn = 11;
constexpr int32_t kFirstActiveSlack = 4;
constexpr int32_t kLastLowerBoundedSlack = 13;
constexpr int32_t kLastActiveSlack = 14;
constexpr int32_t kFirstRemovedColumn = 7;
constexpr int32_t kLastRemovedColumn = 16;

// trunc(value) as an int, clamped to the int range: the keys come from the
// parameter file and may be anything.
int32_t truncate_to_int(double value) {
  if (!(value > -2147483647.0)) return value != value ? 0 : -2147483647;
  if (value > 2147483647.0) return 2147483647;
  return static_cast<int32_t>(value);
}

int32_t column_length(const int32_t* matrix_start, const int32_t* matrix_end, int32_t j) {
  return matrix_end[j] - matrix_start[j] + 1;
}

// Entries of column j outside the dense rows (row_mark 1).
int32_t sparse_row_length(const int32_t* matrix_start, const int32_t* matrix_end, const int32_t* factor_index,
                          const int32_t* row_mark, int32_t j) {
  int32_t length = 0;
  for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) {
    if (row_mark[factor_index[e]] == 0) ++length;
  }
  return length;
}

// The cost rule: walks the column lengths from the longest down, declaring
// each length's columns dense in turn while at most d_max columns are dense,
// and returns the length above which declaring the columns dense made the
// estimated factor work smallest (n_max when nothing pays).
int32_t cost_rule_threshold(const barrier_params& params, const int32_t* length_histogram, int32_t n_max,
                            int32_t active_rows, int32_t sparse_rows, int32_t active_columns,
                            double sparse_entries, double sum_of_squares) {
  const int32_t d_max = truncate_to_int(active_rows * params.MAXDENSE);
  const double e = sparse_rows;
  double best = params.DENSGAP * sum_of_squares;
  int32_t threshold = n_max;
  int64_t declared = 0;
  double dense_entries = 0.0;            // T
  double other_entries = sparse_entries;  // o
  int32_t other_columns = active_columns;  // Ac
  double other_squares = sum_of_squares;  // S
  for (int32_t length = n_max; length > 0 && declared <= d_max; --length) {
    const int32_t count = length_histogram[length];
    if (count == 0) continue;
    const double d1 = other_entries * (other_entries / other_columns - 1.0) / e;
    const double j = 0.5 * other_squares / e;
    const double d2 = std::max(d1, j) + dense_entries / e - 1.0;
    const double cost = other_squares + static_cast<double>(declared) * d2 * d2;
    const double entries = static_cast<double>(count) * length;
    dense_entries += entries;
    other_entries -= entries;
    other_columns = std::max(other_columns - count, 1);
    other_squares -= entries * length;
    if (sum_of_squares > params.DENSGAP * cost && cost < best) {
      best = cost;
      threshold = length;
    }
    declared += count;
  }
  return threshold;
}

// Columns coupled through the quadratic objective are merged into
// components for the normal equations: the component's root gets the union
// of its members' rows, the members lose their own pattern. Returns the
// longest merged list.
int32_t merge_quadratic_components(const barrier_params& params, const int32_t* matrix_start,
                                   const int32_t* matrix_end, int32_t* factor_index, const int32_t* class_ranges,
                                   const int32_t* quad_start, const int32_t* row_start, int32_t* column_node,
                                   int32_t* pattern_start, int32_t* pattern_end, int32_t* row_mark,
                                   int32_t* column_queue) {
  int32_t free_entry = params.matrix_nz + 2 * params.quad_nz + 1;
  int32_t longest = 0;
  for (int32_t root = class_ranges[kFirstActiveColumn]; root <= class_ranges[kLastActiveColumn]; ++root) {
    if (column_node[root] != 0 || quad_start[root] >= quad_start[root + 1]) continue;
    const int32_t list_start = free_entry;
    auto append_rows = [&](int32_t j) {
      for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) {
        const int32_t r = factor_index[e];
        if (row_mark[r] != 0) continue;
        row_mark[r] = 1;
        factor_index[free_entry++] = r;
      }
    };
    append_rows(root);
    column_node[root] = 2;
    int32_t head = 1, tail = 0;
    column_queue[++tail] = root;
    while (head <= tail) {
      const int32_t c = column_queue[head++];
      auto visit = [&](int32_t k) {
        if (column_node[k] != 0) return;
        column_node[k] = 1;
        pattern_end[k] = pattern_start[k] - 1;
        append_rows(k);
        column_queue[++tail] = k;
      };
      for (int32_t e = quad_start[c]; e < quad_start[c + 1]; ++e) visit(factor_index[e]);
      for (int32_t e = row_start[c]; e < row_start[c + 1]; ++e) visit(factor_index[e]);
    }
    for (int32_t e = list_start; e < free_entry; ++e) row_mark[factor_index[e]] = 0;
    pattern_start[root] = list_start;
    pattern_end[root] = free_entry - 1;
    longest = std::max(longest, free_entry - list_start);
  }
  return longest;
}

}  // namespace

void find_dense_columns(const barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                        int32_t* factor_index, const int32_t* barrier_class_ranges, const int32_t* quad_start,
                        int32_t* quad_row_count, int32_t* length_histogram, int32_t* column_node,
                        int32_t* pattern_start, int32_t* pattern_end, int32_t* row_mark, int32_t* column_queue,
                        int32_t& system_kind, int32_t* dense_mark, int32_t& status) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int64_t stored = static_cast<int64_t>(params.matrix_nz) + params.quad_nz;
  if (params.factor_space < 2 * stored + 2) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  const int32_t* cr = barrier_class_ranges;
  const int32_t first_column = cr[kFirstActiveColumn];
  const int32_t last_column = cr[kLastActiveColumn];
  const int32_t first_row = cr[kFirstActiveSlack];
  const int32_t last_row = cr[kLastActiveSlack];
  const int32_t active_rows = std::max(last_row - first_row + 1, 1);
  const int32_t active_columns = std::max(last_column - first_column + 1, 1);

  // Row counts over the active columns, kept in the rows' dense marks.
  for (int32_t r = n + 1; r <= n + m; ++r) {
    dense_mark[r] = 0;
    row_mark[r] = 0;
  }
  int64_t entries = 0;
  int32_t longest_column = 0;  // t
  for (int32_t j = first_column; j <= last_column; ++j) {
    for (int32_t e = matrix_start[j]; e <= matrix_end[j]; ++e) ++dense_mark[factor_index[e]];
    entries += column_length(matrix_start, matrix_end, j);
    longest_column = std::max(longest_column, column_length(matrix_start, matrix_end, j));
  }

  // Dense rows: far above the average row count. Their entries do not count
  // towards the column lengths of the cost rule.
  const int32_t dense_row_count_limit =
      truncate_to_int(params.DENSGAP * static_cast<double>(entries) / active_rows + 0.5);
  int32_t dense_rows = 0;
  for (int32_t r = first_row; r <= last_row; ++r) {
    if (dense_mark[r] >= dense_row_count_limit) {
      row_mark[r] = 1;
      entries -= dense_mark[r];
      ++dense_rows;
    }
  }
  const int32_t sparse_rows = std::max(active_rows - dense_rows, 1);

  for (int32_t l = 1; l <= std::max(m, 1); ++l) length_histogram[l] = 0;
  if (last_row - first_row >= last_column - first_column) {
    // With more rows than columns the inequality slacks count as columns of
    // length 1.
    length_histogram[1] = cr[kLastLowerBoundedSlack] - first_row + 1;
  }
  double sum_of_squares = 0.0;  // S0
  int32_t n_max = 0;
  for (int32_t j = first_column; j <= last_column; ++j) {
    const int32_t length = sparse_row_length(matrix_start, matrix_end, factor_index, row_mark, j);
    if (length > 0) ++length_histogram[length];
    sum_of_squares += static_cast<double>(length) * length;
    n_max = std::max(n_max, length);
  }

  const bool length_rule = params.SETLAM < 0;
  int32_t threshold = 0;
  int32_t minimum_length = 0;  // e
  if (length_rule) {
    threshold = params.LAM > 0.0 ? truncate_to_int(params.LAM * m + 0.5) : -truncate_to_int(params.LAM);
    n_max = longest_column;
  } else {
    minimum_length = params.DENSLEN;
    threshold = cost_rule_threshold(params, length_histogram, n_max, active_rows, sparse_rows, active_columns,
                                    static_cast<double>(entries), sum_of_squares);
  }
  const int32_t final_threshold = (n_max > minimum_length && threshold < n_max) ? threshold : longest_column;

  for (int32_t j = first_column; j <= last_column; ++j) {
    const int32_t full = column_length(matrix_start, matrix_end, j);
    const int32_t tested =
        length_rule ? full : sparse_row_length(matrix_start, matrix_end, factor_index, row_mark, j);
    dense_mark[j] = tested > final_threshold ? (full >= params.SUPDENS ? 2 : 1) : 0;
  }
  for (int32_t r = n + 1; r <= n + m; ++r) row_mark[r] = 0;

  system_kind = SYSTEM_AUGMENTED;
  if (final_threshold >= n_max && params.SETLAM <= 0) system_kind = SYSTEM_NORMAL_EQUATIONS;

  for (int32_t j = first_column; j <= last_column; ++j) {
    column_node[j] = 0;
    pattern_start[j] = matrix_start[j];
    pattern_end[j] = matrix_end[j];
  }
  for (int32_t j = cr[kFirstRemovedColumn]; j <= cr[kLastRemovedColumn]; ++j) {
    column_node[j] = 1;
    dense_mark[j] = 0;
    pattern_start[j] = matrix_start[j];
    pattern_end[j] = matrix_end[j];
  }

  if (params.quad_nz > 0) {
    // Quadratic entries by row (the row index of the pattern is a column).
    for (int32_t c = 1; c <= n + 1; ++c) quad_row_count[c] = 0;
    for (int32_t e = quad_start[1]; e < quad_start[n + 1]; ++e) ++quad_row_count[factor_index[e]];
    auto coupled = [&](int32_t j) { return quad_start[j] < quad_start[j + 1] || quad_row_count[j] > 0; };
    if (system_kind == SYSTEM_AUGMENTED) {
      for (int32_t j = first_column; j <= last_column; ++j) {
        if (coupled(j)) dense_mark[j] = 1;
      }
    } else {
      // Counts become the starts of a row-wise copy stored after the
      // column-wise pattern; filled backwards so that each start ends in
      // place.
      int32_t running = params.matrix_nz + params.quad_nz + 1;
      for (int32_t c = 1; c <= n; ++c) {
        running += quad_row_count[c];
        quad_row_count[c] = running;
      }
      quad_row_count[n + 1] = running;
      for (int32_t j = 1; j <= n; ++j) {
        for (int32_t e = quad_start[j]; e < quad_start[j + 1]; ++e) {
          factor_index[--quad_row_count[factor_index[e]]] = j;
        }
      }
      const int32_t longest_merged =
          merge_quadratic_components(params, matrix_start, matrix_end, factor_index, cr, quad_start, quad_row_count,
                                     column_node, pattern_start, pattern_end, row_mark, column_queue);
      // The counts are row starts now.
      auto coupled_by_starts = [&](int32_t j) {
        return quad_start[j] < quad_start[j + 1] || quad_row_count[j] < quad_row_count[j + 1];
      };
      const double t_star = final_threshold;
      if (longest_merged > minimum_length &&
          static_cast<double>(longest_merged) * longest_merged >= params.DENSGAP * t_star * t_star) {
        // A large coupled component would make the normal matrix dense:
        // the augmented system takes the coupled columns as nodes instead.
        system_kind = SYSTEM_AUGMENTED;
        for (int32_t j = first_column; j <= last_column; ++j) dense_mark[j] = coupled_by_starts(j) ? 1 : 0;
      }
    }
  }

  if (system_kind == SYSTEM_AUGMENTED) {
    for (int32_t j = first_column; j <= last_column; ++j) {
      if (dense_mark[j] != 0) {
        column_node[j] = 3;
        pattern_end[j] = pattern_start[j] - 1;
      } else {
        column_node[j] = 0;
      }
    }
  }
}

}  // namespace kl
