// Left-looking numeric factorisation of the barrier's quasi-definite system,
// and the steps shared with the right-looking forms.
#include "barrier/factor/numeric_factor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "barrier/factor/update_kernels.h"

namespace kl {
namespace {

constexpr int32_t kRegulariseStructural = 0x8;
constexpr int32_t kRegulariseRowWithStructure = 0x10;
constexpr int32_t kRegulariseBareRow = 0x20;
constexpr int32_t kDependentRow = -2;
constexpr int32_t kDroppedPivot = -1;

}  // namespace

void regularise_small_pivot(const barrier_params& params, const int32_t* factor_index, const double* factor_value,
                            int32_t first, int32_t last, int32_t* var_state, int32_t& dropped,
                            int32_t& removed_row_count, int32_t position, const double* y, double& inverse,
                            double diag_copy_value, double tolerance) {
  const int32_t n = params.col_count;
  const double tzer = params.TZER;
  dropped = 0;
  inverse = 0.0;
  if (position <= n) {
    // A structural pivot keeps the negative sign of the columns.
    if ((params.REGULARIZE & kRegulariseStructural) != 0) {
      const double v = std::max(tolerance, -diag_copy_value);
      if (v > tzer) {
        inverse = -1.0 / v;
        return;
      }
    }
    var_state[position] = kDroppedPivot;
    dropped = 1;
    return;
  }
  bool live_structure = false;
  for (int32_t e = first; e <= last && !live_structure; ++e) {
    const int32_t q = factor_index[e];
    live_structure = q <= n && var_state[q] >= -1 && std::fabs(factor_value[e]) >= tzer;
  }
  if (live_structure) {
    if ((params.REGULARIZE & kRegulariseRowWithStructure) != 0) {
      const double v = std::max(tolerance, diag_copy_value);
      if (v > tzer) {
        inverse = 1.0 / v;
        return;
      }
    }
    var_state[position] = kDroppedPivot;
    dropped = 1;
    return;
  }
  if ((params.REGULARIZE & kRegulariseBareRow) != 0) {
    const double v = std::max(tolerance, diag_copy_value);
    if (v > tzer) {
      inverse = 1.0 / v;
      return;
    }
  }
  // A bare row that cancels is linearly dependent on earlier rows; with a
  // zero dual it can leave the system, otherwise it keeps a zero inverse.
  if (std::fabs(y[position - n]) < tzer) {
    var_state[position] = kDependentRow;
    ++removed_row_count;
  }
}

void finalise_pivot(const barrier_params& params, int32_t k, double d, double r, const int32_t* factor_index,
                    const double* factor_value, const int32_t* factor_first, const int32_t* factor_last,
                    const int32_t* pivot_order, double* pivot_inverse, const double* diag_copy, const double* y,
                    int32_t* var_state, int32_t& pivot_dropped, int32_t& removed_row_count) {
  const double tolerance = std::max(params.TRABS * std::fabs(r), params.TZER);
  if (std::fabs(d) >= tolerance) {
    pivot_inverse[k] = 1.0 / d;
    return;
  }
  const int32_t p = pivot_order[k];
  int32_t dropped = 0;
  double inverse = 0.0;
  regularise_small_pivot(params, factor_index, factor_value, factor_first[k], factor_last[k], var_state, dropped,
                         removed_row_count, p, y, inverse, diag_copy[p], tolerance);
  pivot_inverse[k] = inverse;
  if (dropped != 0) pivot_dropped = 1;
}

bool prepare_factor_structure(barrier_params& params, int32_t* factor_index, double* factor_value,
                              int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                              int32_t* pivot_rank, const int32_t* var_state, int32_t* supernode_end,
                              int32_t* supernode_mark) {
  const int32_t count = params.pivot_count;
  const int32_t matrix_nz = params.matrix_nz;
  bool any_removed = false;
  for (int32_t k = 1; k <= count && !any_removed; ++k) any_removed = var_state[pivot_order[k]] < -1;

  if (any_removed) {
    // First pass: new rank of every kept position; a removed position holds
    // minus the number of kept ranks before it, so that a block end naming
    // it can be followed.
    int32_t kept = 0;
    for (int32_t k = 1; k <= count; ++k) {
      const int32_t p = pivot_order[k];
      if (var_state[p] < -1) {
        pivot_rank[p] = -kept;
      } else {
        pivot_rank[p] = ++kept;
      }
    }
    // Second pass, in place: new ranks never exceed old ones.
    for (int32_t k = 1; k <= count; ++k) {
      const int32_t p = pivot_order[k];
      if (var_state[p] < -1) {
        pivot_rank[p] = 0;
        continue;
      }
      const int32_t nk = pivot_rank[p];
      int32_t end = supernode_end[k];
      if (end > 0) {
        const int32_t q = pivot_order[end];
        end = var_state[q] < -1 ? -pivot_rank[q] : pivot_rank[q];
      }
      pivot_order[nk] = p;
      factor_first[nk] = factor_first[k];
      factor_last[nk] = factor_last[k];
      supernode_mark[nk] = supernode_mark[k];
      supernode_end[nk] = end;
    }
    for (int32_t k = kept + 1; k <= count; ++k) {
      supernode_end[k] = 0;
      supernode_mark[k] = 0;
    }
    // Built columns lose their entries in removed positions; in-place
    // columns are the matrix itself and stay as they are.
    for (int32_t k = 1; k <= kept; ++k) {
      if (factor_first[k] <= matrix_nz) continue;
      int32_t w = factor_first[k];
      for (int32_t e = factor_first[k]; e <= factor_last[k]; ++e) {
        if (var_state[factor_index[e]] < -1) continue;
        factor_index[w] = factor_index[e];
        factor_value[w] = factor_value[e];
        ++w;
      }
      factor_last[k] = w - 1;
    }
    params.pivot_count = kept;
  }

  const int32_t kept_count = params.pivot_count;
  int32_t in_place = kept_count;
  for (int32_t k = 1; k <= kept_count; ++k) {
    if (factor_first[k] > matrix_nz) {
      in_place = k - 1;
      break;
    }
  }
  params.in_place_count = in_place;

  bool in_place_lists_removed = false;
  for (int32_t k = 1; k <= kept_count && !in_place_lists_removed; ++k) {
    if (factor_first[k] > matrix_nz) continue;
    for (int32_t e = factor_first[k]; e <= factor_last[k]; ++e) {
      if (var_state[factor_index[e]] < -1) {
        in_place_lists_removed = true;
        break;
      }
    }
  }
  return in_place_lists_removed;
}

void assemble_built_columns(const barrier_params& params, const int32_t* factor_index, double* factor_value,
                            const int32_t* factor_first, const int32_t* factor_last, const int32_t* pivot_order,
                            const int32_t* pivot_rank, const int32_t* var_state, const int32_t* matrix_start,
                            const int32_t* quad_start, double* diag, int32_t* heads, int32_t* links,
                            int32_t* cursors, int32_t* scratch) {
  const int32_t n = params.col_count;
  const int32_t count = params.pivot_count;
  const int32_t matrix_nz = params.matrix_nz;
  for (int32_t p = 1; p <= params.var_count; ++p) heads[p] = 0;

  // Each built structural column waits in the list of its next live row.
  auto link_at = [&](int32_t j, int32_t c) {
    const int32_t end = matrix_start[j + 1] - 1;
    while (c <= end && var_state[factor_index[c]] < -1) ++c;
    cursors[j] = c;
    if (c <= end) {
      const int32_t r = factor_index[c];
      links[j] = heads[r];
      heads[r] = j;
    }
  };
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t j = pivot_order[k];
    if (j <= n && factor_first[k] > matrix_nz && var_state[j] >= -1) link_at(j, matrix_start[j]);
  }

  for (int32_t k = 1; k <= count; ++k) {
    if (factor_first[k] <= matrix_nz) continue;
    const int32_t p = pivot_order[k];
    int32_t recorded = 0;
    if (p > n) {
      int32_t j = heads[p];
      heads[p] = 0;
      while (j != 0) {
        const int32_t next = links[j];
        // A column pivoted before the row holds a_pj in its own column.
        if (pivot_rank[j] > k) {
          const int32_t c = cursors[j];
          diag[j] = factor_value[c];
          scratch[++recorded] = j;
          link_at(j, c + 1);
        }
        j = next;
      }
    } else {
      const int32_t end = matrix_start[p + 1] - 1;
      for (int32_t c = cursors[p]; c <= end; ++c) {
        const int32_t r = factor_index[c];
        if (var_state[r] < -1) continue;
        diag[r] = factor_value[c];
        scratch[++recorded] = r;
      }
      cursors[p] = end + 1;
      if (params.quad_nz > 0) {
        for (int32_t e = quad_start[p]; e < quad_start[p + 1]; ++e) {
          const int32_t q = factor_index[e];
          diag[q] = -factor_value[e];
          scratch[++recorded] = q;
        }
      }
    }
    for (int32_t e = factor_first[k]; e <= factor_last[k]; ++e) factor_value[e] = diag[factor_index[e]];
    for (int32_t i = 1; i <= recorded; ++i) diag[scratch[i]] = 0.0;
  }
}

namespace {

void factor_pull(barrier_params& params, const FactorArrays& a, int32_t& pivot_dropped,
                 int32_t& removed_row_count) {
  pivot_dropped = 0;
  const UpdateKernels kernels = select_update_kernels(params);
  const bool skip_removed =
      prepare_factor_structure(params, a.factor_index, a.factor_value, a.factor_first, a.factor_last,
                               a.pivot_order, a.pivot_rank, a.var_state, a.supernode_end, a.supernode_mark);
  const bool with_columns = a.matrix_start != nullptr;
  const int32_t n = params.col_count;
  const int32_t total = params.var_count;
  const int32_t count = params.pivot_count;
  const int32_t matrix_nz = params.matrix_nz;
  const double tzer = params.TZER;
  int32_t* index = a.factor_index;
  double* value = a.factor_value;
  const int32_t* first = a.factor_first;
  const int32_t* last = a.factor_last;
  const int32_t* order = a.pivot_order;
  const int32_t* rank = a.pivot_rank;
  double* pinv = a.pivot_inverse;
  double* diag = a.diag;
  int32_t* cursor = a.factor_cursor;
  int32_t* var_state = a.var_state;
  int32_t* head = a.update_lists + total;
  int32_t* next = with_columns ? a.scratch : a.update_lists;

  for (int32_t k = 1; k <= count; ++k) pinv[k] = diag[order[k]];
  for (int32_t p = 1; p <= total; ++p) diag[p] = 0.0;
  if (with_columns) {
    assemble_built_columns(params, index, value, first, last, order, rank, var_state, a.matrix_start, a.quad_start,
                           diag, head, cursor, a.update_lists, a.scratch);
  }
  for (int32_t p = 1; p <= total; ++p) {
    next[p] = 0;
    head[p] = 0;
  }
  for (int32_t k = 1; k <= count; ++k) cursor[k] = first[k];

  auto push_on = [&](int32_t row, int32_t entry) {
    next[entry < 0 ? -entry : entry] = head[row];
    head[row] = entry;
  };

  int32_t block_first = 0;
  int32_t block_last = -1;
  bool block_fundamental = false;
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t p = order[k];
    if (k > block_last) {
      block_first = 0;
      block_last = -1;
    }
    if (first[k] <= matrix_nz) {
      // In-place column: nothing updates it before its turn.
      const double d = pinv[k];
      if (!with_columns) {
        pinv[k] = d != 0.0 ? 1.0 / d : 0.0;
      } else if (std::fabs(d) > tzer) {
        pinv[k] = 1.0 / d;
      }
    } else {
      double s_row = 0.0;
      double s_col = 0.0;
      if (!with_columns || p > n) {
        s_col = pinv[k];
      } else {
        s_row = pinv[k];
      }
      // The assembled matrix entries start the column's work vector.
      if (with_columns) {
        for (int32_t e = first[k]; e <= last[k]; ++e) diag[index[e]] += value[e];
      }
      int32_t entry = head[p];
      head[p] = 0;
      while (entry != 0) {
        const int32_t following = next[entry < 0 ? -entry : entry];
        if (entry > 0) {
          const int32_t q = entry;
          const int32_t s = rank[q];
          const int32_t c = cursor[s];
          const int32_t c2 = next_live_entry(index, var_state, c, last[s], skip_removed);
          if (c2 <= last[s]) push_on(index[c2], q);
          cursor[s] = c2;
          const double v = value[c];
          const double mu = -pinv[s] * v;
          (q > n ? s_row : s_col) += mu * v;
          if (mu != 0.0) {
            for (int32_t e = c + 1; e <= last[s]; ++e) diag[index[e]] += mu * value[e];
          }
        } else {
          const int32_t q = -entry;
          const int32_t s = rank[q];
          const int32_t s_end = a.supernode_end[s];
          const int32_t c0 = cursor[s];
          const int32_t e_last = last[s];
          const int32_t c = next_live_entry(index, var_state, c0, e_last, skip_removed);
          if (c <= e_last) push_on(index[c], entry);
          double& accumulator = q > n ? s_row : s_col;
          if (skip_removed && first[s] <= matrix_nz) {
            // Lists with removed rows do not fit this column's storage:
            // update source by source.
            for (int32_t src = s; src <= s_end; ++src) {
              const int32_t cs = cursor[src];
              const double v = value[cs];
              const double mu = -pinv[src] * v;
              accumulator += mu * v;
              if (mu != 0.0) {
                for (int32_t e = cs + 1; e <= last[src]; ++e) diag[index[e]] += mu * value[e];
              }
            }
          } else {
            const int32_t length = e_last - c0;
            double* buffer = value + first[k];
            for (int32_t i = 0; i < length; ++i) buffer[i] = diag[index[c0 + 1 + i]];
            kernels.column(length, s, s_end, pinv, value, cursor, buffer, &accumulator, 0);
            for (int32_t i = 0; i < length; ++i) diag[index[c0 + 1 + i]] = buffer[i];
          }
          const int32_t step = c - c0;
          for (int32_t src = s; src <= s_end; ++src) cursor[src] += step;
        }
        entry = following;
      }
      for (int32_t e = first[k]; e <= last[k]; ++e) {
        const int32_t r = index[e];
        value[e] = diag[r];
        diag[r] = 0.0;
      }
      if (block_fundamental && k > block_first && k <= block_last) {
        // The block's internal updates come at its end; so does the test.
        pinv[k] = s_row;
        diag[p] = s_col;
      } else {
        finalise_pivot(params, k, s_col + s_row, s_row, index, value, first, last, order, pinv, a.diag_copy, a.y,
                       var_state, pivot_dropped, removed_row_count);
        if (var_state[p] == kDependentRow) continue;
      }
      if (block_fundamental && k == block_last && block_last > block_first) {
        const int32_t b = block_first;
        for (int32_t kk = b + 1; kk <= k; ++kk) {
          const int32_t pp = order[kk];
          const int32_t length = last[b] - cursor[b];
          double* accumulator = (with_columns && pp <= n) ? &diag[pp] : &pinv[kk];
          kernels.column(length, b, kk - 1, pinv, value, cursor, value + first[kk], accumulator, 0);
          for (int32_t src = b; src < kk; ++src) ++cursor[src];
          const double r = pinv[kk];
          const double d = diag[pp] + r;
          diag[pp] = 0.0;
          finalise_pivot(params, kk, d, r, index, value, first, last, order, pinv, a.diag_copy, a.y, var_state,
                         pivot_dropped, removed_row_count);
        }
      }
    }

    const int32_t end = a.supernode_end[k];
    if (end == 0) {
      const int32_t c = next_live_entry(index, var_state, first[k] - 1, last[k], skip_removed);
      cursor[k] = c;
      if (c <= last[k]) push_on(index[c], p);
      block_first = 0;
      block_last = -1;
    } else if (!(k >= block_first && k <= block_last)) {
      block_first = k;
      block_last = end;
      block_fundamental = a.supernode_mark[k] >= 1;
      if (first[end] <= last[end]) {
        const int32_t c = next_live_entry(index, var_state, first[end] - 1, last[end], skip_removed);
        const int32_t step = c - first[end];
        if (step != 0) {
          for (int32_t src = k; src <= end; ++src) cursor[src] += step;
        }
        if (c <= last[end]) push_on(index[c], -p);
      }
    }
  }
  for (int32_t k = 1; k <= count; ++k) diag[k] = pinv[k];
}

}  // namespace

void factor_normal_matrix(barrier_params& params, int32_t* factor_index, double* factor_value,
                          int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order, int32_t* pivot_rank,
                          double* pivot_inverse, double* diag, const double* diag_copy, const double* y,
                          int32_t* var_state, int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                          int32_t* supernode_mark, int32_t& pivot_dropped, int32_t& removed_row_count) {
  const FactorArrays arrays{factor_index, factor_value,  factor_first,  factor_last,   pivot_order,    pivot_rank,
                          pivot_inverse, diag,         diag_copy,     y,             var_state,      update_lists,
                          factor_cursor, supernode_end, supernode_mark, nullptr,      nullptr,        nullptr, nullptr};
  factor_pull(params, arrays, pivot_dropped, removed_row_count);
}

void factor_normal_matrix_with_columns(barrier_params& params, int32_t* factor_index, double* factor_value,
                                       int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                                       int32_t* pivot_rank, double* pivot_inverse, double* diag,
                                       const double* diag_copy, const double* y, int32_t* var_state,
                                       int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                                       int32_t* supernode_mark, const int32_t* matrix_start,
                                       const int32_t* quad_start, int32_t* scratch, int32_t& pivot_dropped,
                                       int32_t& removed_row_count) {
  const FactorArrays arrays{factor_index, factor_value,  factor_first,  factor_last,   pivot_order, pivot_rank,
                          pivot_inverse, diag,         diag_copy,     y,             var_state,   update_lists,
                          factor_cursor, supernode_end, supernode_mark, matrix_start, quad_start,  scratch, nullptr};
  factor_pull(params, arrays, pivot_dropped, removed_row_count);
}

}  // namespace kl
