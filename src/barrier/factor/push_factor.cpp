// Right-looking numeric factorisation: single columns are pulled by their
// targets, supernode blocks are factored densely when complete and push
// their update to all later columns at once.
#include "barrier/factor/push_factor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/update_kernels.h"

namespace kl {
namespace {

constexpr int32_t kDependentRow = -2;

class PushFactorisation {
 public:
  PushFactorisation(barrier_params& params, const FactorArrays& a, int32_t& pivot_dropped, int32_t& removed_row_count)
      : params_(params), a_(a), dropped_(pivot_dropped), removed_(removed_row_count) {}

  void run();

 private:
  void finalise(int32_t k) {
    finalise_pivot(params_, k, a_.pivot_inverse[k] + a_.push_work[k], a_.push_work[k], a_.factor_index,
                   a_.factor_value, a_.factor_first, a_.factor_last, a_.pivot_order, a_.pivot_inverse, a_.diag_copy,
                   a_.y, a_.var_state, dropped_, removed_);
  }
  int32_t next_live(int32_t c, int32_t last) const {
    return next_live_entry(a_.factor_index, a_.var_state, c, last, skip_removed_);
  }
  void link(int32_t source, int32_t entry) {
    const int32_t target = a_.pivot_rank[a_.factor_index[entry]];
    next_[source] = head_[target];
    head_[target] = source;
  }
  void pre_pass(int32_t in_place);
  void pull_sources(int32_t k, double* base);
  void factor_block(int32_t b, int32_t k, double* accumulator);
  void push_block(int32_t b, int32_t k, double* accumulator);
  void set_cursor_at_row(int32_t b, int32_t s, int32_t row) {
    a_.factor_cursor[s] = a_.factor_first[s] + (row - (s - b) - 1);
  }

  barrier_params& params_;
  const FactorArrays& a_;
  int32_t& dropped_;
  int32_t& removed_;
  UpdateKernels kernels_{};
  bool skip_removed_ = false;
  int32_t* head_ = nullptr;
  int32_t* next_ = nullptr;
  double* buffer_ = nullptr;
  int64_t buffer_capacity_ = 0;
};

// The even normal form's pre-pass: the in-place columns are eliminated
// first, leaving A·|D|⁻¹·Aᵀ in the built columns.
void PushFactorisation::pre_pass(int32_t in_place) {
  const int32_t count = params_.pivot_count;
  const int32_t* index = a_.factor_index;
  double* value = a_.factor_value;
  double* pinv = a_.pivot_inverse;
  double* diag = a_.diag;
  int32_t* cursor = a_.factor_cursor;
  for (int32_t k = 1; k <= in_place; ++k) {
    const double d = a_.push_work[k] + pinv[k];
    pinv[k] = d != 0.0 ? 1.0 / d : 0.0;
    const int32_t c = next_live(a_.factor_first[k] - 1, a_.factor_last[k]);
    cursor[k] = c;
    if (c <= a_.factor_last[k]) link(k, c);
  }
  for (int32_t k = in_place + 1; k <= count; ++k) {
    int32_t s = head_[k];
    head_[k] = 0;
    while (s != 0) {
      const int32_t following = next_[s];
      const int32_t c = cursor[s];
      const int32_t c2 = next_live(c, a_.factor_last[s]);
      cursor[s] = c2;
      if (c2 <= a_.factor_last[s]) link(s, c2);
      const double v = value[c];
      const double mu = -pinv[s] * v;
      a_.push_work[k] += mu * v;
      if (mu != 0.0) {
        for (int32_t e = c + 1; e <= a_.factor_last[s]; ++e) diag[index[e]] += mu * value[e];
      }
      s = following;
    }
    for (int32_t e = a_.factor_first[k]; e <= a_.factor_last[k]; ++e) {
      value[e] = diag[index[e]];
      diag[index[e]] = 0.0;
    }
  }
}

// Adds the updates of the single sources waiting for rank k into its column
// through the position → offset map kept in diag (entry = base + offset).
void PushFactorisation::pull_sources(int32_t k, double* base) {
  const int32_t* index = a_.factor_index;
  const double* value = a_.factor_value;
  double* pinv = a_.pivot_inverse;
  const double* map = a_.diag;
  int32_t* cursor = a_.factor_cursor;
  int32_t s = head_[k];
  head_[k] = 0;
  while (s != 0) {
    const int32_t following = next_[s];
    const int32_t last = a_.factor_last[s];
    const int32_t c = cursor[s];
    const int32_t c2 = next_live(c, last);
    cursor[s] = c2;
    if (c2 <= last) link(s, c2);
    const double v = value[c];
    const double mu = -pinv[s] * v;
    // Row sources lower the diagonal (N), structural sources raise it (P).
    if (pinv[s] >= 0.0) {
      pinv[k] += mu * v;
    } else {
      a_.push_work[k] += mu * v;
    }
    if (mu != 0.0) {
      if (skip_removed_) {
        for (int32_t e = c + 1; e <= last; ++e) {
          const int32_t r = index[e];
          if (a_.var_state[r] < -1) continue;
          base[static_cast<int64_t>(map[r])] += mu * value[e];
        }
      } else {
        for (int32_t e = c + 1; e <= last; ++e) base[static_cast<int64_t>(map[index[e]])] += mu * value[e];
      }
    }
    s = following;
  }
}

// Dense right-looking factorisation of the fundamental block b..k: panels
// of L1_LOOP columns, rows in chunks of l1_block_rows, so that one panel and
// one chunk stay in the level-1 cache. Local row i of the block's trapezoid
// is position pivot_order[b + i] for i <= k - b, then the rows below; column
// c holds rows i > c - b from its first entry on.
void PushFactorisation::factor_block(int32_t b, int32_t k, double* accumulator) {
  double* value = a_.factor_value;
  const double* pinv = a_.pivot_inverse;
  const int32_t* first = a_.factor_first;
  int32_t* cursor = a_.factor_cursor;
  const int64_t height = static_cast<int64_t>(a_.factor_last[b]) - first[b] + 2;
  const int32_t h = static_cast<int32_t>(height);
  const int32_t width = params_.L1_CACHE < 1 ? k - b + 1 : std::max(params_.L1_LOOP, 1);
  const int32_t chunk = std::max(params_.l1_block_rows, width);

  for (int32_t p0 = b; p0 <= k;) {
    const int32_t p1 = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(p0) + width - 1, k));
    const int32_t j1 = p1 - b;
    int32_t lo = p0 - b;
    int32_t hi = static_cast<int32_t>(std::min<int64_t>(h, static_cast<int64_t>(lo) + chunk));
    // First chunk: the panel's own columns, then the later columns whose
    // diagonal falls inside it.
    for (int32_t c = p0; c <= p1; ++c) {
      const int32_t j = c - b;
      for (int32_t s = p0; s < c; ++s) set_cursor_at_row(b, s, j);
      kernels_.column(hi - j - 1, p0, c - 1, pinv, value, cursor, value + first[c], &accumulator[c], 0);
      finalise(c);
    }
    for (int32_t s = p0; s <= p1; ++s) set_cursor_at_row(b, s, j1 + 1);
    int32_t later = p1 + 1;
    for (; later <= k && later - b < hi; ++later) {
      const int32_t j = later - b;
      kernels_.column(hi - j - 1, p0, p1, pinv, value, cursor, value + first[later], &accumulator[later],
                      j - (j1 + 1));
    }
    // Further chunks: no diagonals for the columns already reached.
    for (lo = hi; lo < h; lo = hi) {
      hi = static_cast<int32_t>(std::min<int64_t>(h, static_cast<int64_t>(lo) + chunk));
      const int32_t rows = hi - lo;
      for (int32_t c = p0 + 1; c <= p1; ++c) {
        const int32_t j = c - b;
        for (int32_t s = p0; s < c; ++s) set_cursor_at_row(b, s, lo);
        kernels_.chunk(rows, p0, c - 1, lo - j, 0, cursor, value, value + first[c] + (lo - j - 1), pinv);
      }
      for (int32_t s = p0; s <= p1; ++s) set_cursor_at_row(b, s, lo);
      for (int32_t c = p1 + 1; c < later; ++c) {
        const int32_t j = c - b;
        kernels_.chunk(rows, p0, p1, lo - j, 0, cursor, value, value + first[c] + (lo - j - 1), pinv);
      }
      for (; later <= k && later - b < hi; ++later) {
        const int32_t j = later - b;
        kernels_.column(hi - j - 1, p0, p1, pinv, value, cursor, value + first[later], &accumulator[later], j - lo);
      }
    }
    p0 = p1 + 1;
  }
  for (int32_t s = b; s <= k; ++s) set_cursor_at_row(b, s, k - b + 1);
}

// Pushes the finished block b..k to the columns of the rows below it; the
// cursors of b..k stand at the first row below.
void PushFactorisation::push_block(int32_t b, int32_t k, double* accumulator) {
  const int32_t* index = a_.factor_index;
  double* value = a_.factor_value;
  const int32_t* first = a_.factor_first;
  const int32_t* last = a_.factor_last;
  const int32_t* rank = a_.pivot_rank;
  const int32_t* cursor = a_.factor_cursor;
  const double* pinv = a_.pivot_inverse;
  const int32_t top = cursor[k];
  const int32_t below = last[k] - top + 1;
  if (below <= 0) return;
  const int32_t final_row = index[last[k]];
  // In-place lists may still name rows removed since the analysis: those
  // rows are no targets, and no target lists them.
  const bool careful = skip_removed_ && first[b] <= params_.matrix_nz;

  int32_t i = 0;
  int32_t offset = 0;
  if (!careful) {
    for (; i < below; ++i, ++offset) {
      const int32_t t = rank[index[top + i]];
      const int32_t after = below - 1 - i;
      if (after > 0) {
        const int32_t probe = first[t] + after - 1;
        if (probe > last[t] || index[probe] != final_row) break;
      }
      kernels_.column(after, b, k, pinv, value, cursor, value + first[t], &accumulator[t], offset);
    }
  }
  if (i >= below) return;

  const int64_t remaining = below - i;
  const bool one_at_a_time =
      careful || params_.PUSHFACT > 2 || buffer_capacity_ <= remaining * (remaining + 1) / 2;
  if (!one_at_a_time) {
    kernels_.block(static_cast<int32_t>(remaining - 1), static_cast<int32_t>(remaining - 1), b, k, pinv, value,
                   cursor, buffer_, offset);
  }
  double* packed = buffer_;
  for (int32_t c = 0; c < remaining; ++c) {
    const int32_t idx = i + c;
    const int32_t row = index[top + idx];
    const int32_t after = below - 1 - idx;
    double* column = packed;
    if (one_at_a_time) {
      if (careful && a_.var_state[row] < -1) continue;
      column = a_.diag + 1;
      kernels_.block(after, 0, b, k, pinv, value, cursor, column, offset + c);
    } else {
      packed += after + 1;
    }
    const int32_t t = rank[row];
    accumulator[t] += column[0];
    // Walk t's list forward to the rows of the block that follow t.
    int32_t e = first[t];
    const int32_t e_end = last[t];
    for (int32_t r = 1; r <= after; ++r) {
      const int32_t wanted = index[top + idx + r];
      if (careful && a_.var_state[wanted] < -1) continue;
      while (e <= e_end && index[e] != wanted) ++e;
      if (e > e_end) break;
      value[e] += column[r];
      ++e;
    }
  }
}

void PushFactorisation::run() {
  dropped_ = 0;
  kernels_ = select_update_kernels(params_);
  skip_removed_ = prepare_factor_structure(params_, a_.factor_index, a_.factor_value, a_.factor_first,
                                           a_.factor_last, a_.pivot_order, a_.pivot_rank, a_.var_state,
                                           a_.supernode_end, a_.supernode_mark);
  const bool with_columns = a_.matrix_start != nullptr;
  const int32_t n = params_.col_count;
  const int32_t total = params_.var_count;
  const int32_t count = params_.pivot_count;
  const int32_t matrix_nz = params_.matrix_nz;
  int32_t* index = a_.factor_index;
  double* value = a_.factor_value;
  const int32_t* first = a_.factor_first;
  const int32_t* last = a_.factor_last;
  const int32_t* order = a_.pivot_order;
  double* pinv = a_.pivot_inverse;
  double* work = a_.push_work;
  double* diag = a_.diag;
  int32_t* cursor = a_.factor_cursor;
  head_ = a_.update_lists + total;
  next_ = with_columns ? a_.scratch : a_.update_lists;

  // The diagonal splits into its non-positive part N (pivot_inverse) and
  // its positive part P (push_work), the tolerance's reference.
  int64_t last_used = static_cast<int64_t>(matrix_nz) + params_.quad_nz;
  for (int32_t k = 1; k <= count; ++k) {
    const double d = diag[order[k]];
    if (d > 0.0) {
      work[k] = d;
      pinv[k] = 0.0;
    } else {
      pinv[k] = d;
      work[k] = 0.0;
    }
    last_used = std::max<int64_t>(last_used, last[k]);
  }
  buffer_ = value + last_used + 1;
  buffer_capacity_ = static_cast<int64_t>(params_.factor_space) - last_used - 1;

  for (int32_t p = 1; p <= total; ++p) diag[p] = 0.0;
  int32_t start = 1;
  if (with_columns) {
    assemble_built_columns(params_, index, value, first, last, order, a_.pivot_rank, a_.var_state, a_.matrix_start,
                           a_.quad_start, diag, head_, cursor, a_.update_lists, a_.scratch);
  } else if (params_.PUSHFACT % 2 == 0) {
    for (int32_t p = 1; p <= total; ++p) {
      head_[p] = 0;
      next_[p] = 0;
    }
    pre_pass(params_.in_place_count);
    start = params_.in_place_count + 1;
  } else {
    for (int32_t k = 1; k <= count; ++k) {
      if (first[k] <= matrix_nz) continue;
      for (int32_t e = first[k]; e <= last[k]; ++e) value[e] = 0.0;
    }
  }
  for (int32_t p = 1; p <= total; ++p) {
    head_[p] = 0;
    next_[p] = 0;
  }

  int32_t block_first = 0;
  int32_t block_last = -1;
  bool map_valid = false;
  int32_t map_origin = 0;
  for (int32_t k = start; k <= count; ++k) {
    const int32_t p = order[k];
    if (k > block_last) {
      block_first = 0;
      block_last = -1;
    }
    const bool in_block = k >= block_first && k <= block_last && block_last >= 0;
    cursor[k] = next_live(first[k] - 1, last[k]);
    if (head_[k] != 0) {
      const bool reuse = map_valid && in_block && k - 1 >= block_first;
      double* base;
      if (reuse) {
        // The map describes an earlier column of the block: in a
        // fundamental block each later column is one entry shorter at the
        // front; an independent block's lists are all the same.
        base = a_.supernode_mark[block_first] >= 1 ? value + first[k] - (k - map_origin) : value + first[k];
      } else {
        for (int32_t e = first[k]; e <= last[k]; ++e) diag[index[e]] = static_cast<double>(e - first[k]);
        map_origin = k;
        base = value + first[k];
      }
      pull_sources(k, base);
      map_valid = true;
    } else {
      map_valid = false;
    }

    const int32_t end = a_.supernode_end[k];
    if (!in_block) {
      if (end == 0) {
        finalise(k);
        if (a_.var_state[p] == kDependentRow) continue;
      } else {
        block_first = k;
        block_last = end;
      }
    }
    if (end == 0 && cursor[k] <= last[k]) link(k, cursor[k]);
    if (k == block_last) {
      double* accumulator = k > n ? pinv : work;
      const int32_t b = block_first;
      if (a_.supernode_mark[b] < 1) {
        for (int32_t c = b; c <= k; ++c) finalise(c);
        const int32_t step = cursor[k] - first[k];
        for (int32_t c = b; c < k; ++c) cursor[c] = first[c] + step;
      } else {
        factor_block(b, k, accumulator);
      }
      push_block(b, k, accumulator);
      map_valid = false;
      block_first = 0;
      block_last = -1;
    }
  }
  for (int32_t k = 1; k <= count; ++k) diag[k] = pinv[k];
}

}  // namespace

void factor_normal_matrix_push(barrier_params& params, int32_t* factor_index, double* factor_value,
                               int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                               int32_t* pivot_rank, double* pivot_inverse, double* diag, const double* diag_copy,
                               const double* y, int32_t* var_state, int32_t* update_lists, int32_t* factor_cursor,
                               int32_t* supernode_end, int32_t* supernode_mark, double* push_work,
                               int32_t& pivot_dropped, int32_t& removed_row_count) {
  const FactorArrays arrays{factor_index,  factor_value, factor_first,   factor_last,    pivot_order,
                          pivot_rank,    pivot_inverse, diag,          diag_copy,      y,
                          var_state,     update_lists, factor_cursor,  supernode_end,  supernode_mark,
                          nullptr,       nullptr,      nullptr,        push_work};
  PushFactorisation(params, arrays, pivot_dropped, removed_row_count).run();
}

void factor_normal_matrix_with_columns_push(barrier_params& params, int32_t* factor_index, double* factor_value,
                                            int32_t* factor_first, int32_t* factor_last, int32_t* pivot_order,
                                            int32_t* pivot_rank, double* pivot_inverse, double* diag,
                                            const double* diag_copy, const double* y, int32_t* var_state,
                                            int32_t* update_lists, int32_t* factor_cursor, int32_t* supernode_end,
                                            int32_t* supernode_mark, const int32_t* matrix_start,
                                            const int32_t* quad_start, int32_t* scratch, double* push_work,
                                            int32_t& pivot_dropped, int32_t& removed_row_count) {
  const FactorArrays arrays{factor_index,  factor_value, factor_first,  factor_last,   pivot_order,
                          pivot_rank,    pivot_inverse, diag,         diag_copy,     y,
                          var_state,     update_lists, factor_cursor, supernode_end, supernode_mark,
                          matrix_start,  quad_start,   scratch,       push_work};
  PushFactorisation(params, arrays, pivot_dropped, removed_row_count).run();
}

}  // namespace kl
