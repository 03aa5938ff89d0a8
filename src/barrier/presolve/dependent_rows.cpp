// Dependent equality rows of the barrier presolve's second stage: a sparse
// LU-type factorisation of the equality rows' columns (structure first,
// numbers only where structure cannot decide) finds the rows that combine
// others; they leave the problem, and one whose right-hand side does not
// match the combination makes the problem infeasible.
//
// Every number is judged on the equilibrated matrix: each equality row
// divided by its largest entry, then each column by its largest scaled
// entry. The pivot, orthogonality and drop tolerances are absolute, so
// without that a row scaled by 1e-4 would look like a combination of the
// others and be dropped; with it the answer does not depend on how rows or
// columns are scaled. The factors are applied as entries are read, nothing
// in the problem changes but the removed rows.
//
// Scratch (all idle before the iterations), rows at n + i, columns at j:
//   int_work_a  row flag / column working start
//   int_work_b  row count / column working count
//   int_work_c  row bucket link, later the pattern list / column flag
//   matrix_end  column initial count, later the sort key
//   pivot_order pivot list (1..), row bucket back link and pattern mark
//   pivot_rank  singleton list, bucket heads, then the sorted and kept list
//   w, dw, z, s row work values, accumulators, y, scale factors
#include <algorithm>
#include <cmath>
#include <utility>

#include "barrier/ordering/heapsort.h"
#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

// Row flags.
constexpr int32_t kRowDecided = 1;  // not a candidate, or independent
constexpr int32_t kRowOpen = 0;
constexpr int32_t kRowFailed = -1;  // a column started from it failed once
// Column flags.
constexpr int32_t kColFree = 0;
constexpr int32_t kColCovered = 1;
constexpr int32_t kColPivot = 2;
constexpr int32_t kColRejected = -1;

class DependentRows {
 public:
  DependentRows(PresolveData& d, int32_t pass)
      : d_(d),
        p_(*d.params),
        n_(d.n),
        m_(d.m),
        pass_(pass),
        row_flag_(d.arrays->int_work_a + d.n),
        row_count_(d.arrays->int_work_b + d.n),
        row_link_(d.arrays->int_work_c + d.n),
        row_back_(d.arrays->pivot_order + d.n),
        work_(d.arrays->w + d.n),
        acc_(d.arrays->dw + d.n),
        y_(d.arrays->z + d.n),
        row_scale_(d.arrays->s + d.n),
        col_start_(d.arrays->int_work_a),
        col_count_(d.arrays->int_work_b),
        col_flag_(d.arrays->int_work_c),
        col_key_(d.arrays->matrix_end),
        pivots_(d.arrays->pivot_order),
        list_(d.arrays->pivot_rank),
        col_scale_(d.arrays->s) {
    stored_base_ = p_.matrix_nz + p_.quad_nz;
    next_free_ = stored_base_ + 1;
    storage_end_ = stored_base_ + p_.free_space;
  }

  int32_t run();

 private:
  bool is_stored(int32_t e) const { return e > stored_base_; }
  // Entry e of column k on the equilibrated matrix.
  double value(int32_t k, int32_t e) const {
    const double v = d_.factor_value[e];
    return is_stored(e) ? v : v * row_scale_[d_.factor_index[e]] * col_scale_[k];
  }
  int32_t row_of(int32_t e) const { return d_.factor_index[e]; }
  int32_t col_first(int32_t k) const { return col_start_[k]; }
  int32_t col_end(int32_t k) const { return col_start_[k] + col_count_[k] - 1; }

  void take_candidates();
  void build_working_columns();
  void compute_scales();
  void reorder_column(int32_t k, int32_t length);
  void singleton_pivots();
  void structural_pivots();
  void bucket_insert(int32_t i);
  void bucket_remove(int32_t i);
  bool numeric_pivots();
  int32_t transform_column(int32_t k);
  int32_t pick_pivot(int32_t k, int32_t first, int32_t last, double largest);
  void append_pivot(int32_t k, int32_t row, int32_t entry);
  int32_t dependency_check();
  void remove_dependent_rows();

  PresolveData& d_;
  const barrier_params& p_;
  const int32_t n_;
  const int32_t m_;
  const int32_t pass_;
  int32_t* row_flag_;
  int32_t* row_count_;
  int32_t* row_link_;
  int32_t* row_back_;
  double* work_;
  double* acc_;
  double* y_;
  double* row_scale_;
  int32_t* col_start_;
  int32_t* col_count_;
  int32_t* col_flag_;
  int32_t* col_key_;
  int32_t* pivots_;
  int32_t* list_;
  double* col_scale_;

  int32_t stored_base_ = 0;
  int32_t next_free_ = 0;
  int32_t storage_end_ = 0;
  int32_t open_rows_ = 0;  // C: rows not yet decided
  int32_t pivot_count_ = 0;
  int32_t kept_count_ = 0;
  int32_t max_bucket_ = 0;
  int32_t* heads_ = nullptr;
  bool space_short_ = false;
};

void DependentRows::take_candidates() {
  open_rows_ = 0;
  for (int32_t i = 1; i <= m_; ++i) {
    const bool candidate = !presolve_is_removed(d_, n_ + i) && d_.slack_bound_code[i] == 0;
    row_flag_[i] = candidate ? kRowOpen : kRowDecided;
    if (candidate) ++open_rows_;
    row_count_[i] = 0;
    work_[i] = 0.0;
    acc_[i] = 0.0;
    y_[i] = 0.0;
    row_scale_[i] = 0.0;
  }
}

// Puts the entries of open rows first among the first `length` live
// entries of column k; returns through col_count_ how many there are.
void DependentRows::reorder_column(int32_t k, int32_t length) {
  int32_t front = d_.factor_first[k];
  int32_t back = front + length - 1;
  while (front <= back) {
    if (row_flag_[row_of(front)] < kRowDecided) {
      ++front;
    } else {
      std::swap(d_.factor_index[front], d_.factor_index[back]);
      std::swap(d_.factor_value[front], d_.factor_value[back]);
      --back;
    }
  }
  col_start_[k] = d_.factor_first[k];
  col_count_[k] = front - d_.factor_first[k];
}

void DependentRows::build_working_columns() {
  for (int32_t k = 1; k <= n_; ++k) {
    col_flag_[k] = kColFree;
    if (presolve_is_removed(d_, k)) {
      col_start_[k] = d_.factor_first[k];
      col_count_[k] = 0;
      col_key_[k] = 0;
      continue;
    }
    reorder_column(k, presolve_live_count(d_, k));
    for (int32_t e = col_first(k); e <= col_end(k); ++e) ++row_count_[row_of(e)];
    col_key_[k] = col_count_[k];
  }
}

void DependentRows::compute_scales() {
  for (int32_t k = 1; k <= n_; ++k) {
    for (int32_t e = col_first(k); e <= col_end(k); ++e) {
      row_scale_[row_of(e)] = std::fmax(row_scale_[row_of(e)], std::fabs(d_.factor_value[e]));
    }
  }
  for (int32_t i = 1; i <= m_; ++i) row_scale_[i] = row_scale_[i] > 0.0 ? 1.0 / row_scale_[i] : 1.0;
  for (int32_t k = 1; k <= n_; ++k) {
    double largest = 0.0;
    for (int32_t e = col_first(k); e <= col_end(k); ++e) {
      largest = std::fmax(largest, std::fabs(d_.factor_value[e]) * row_scale_[row_of(e)]);
    }
    col_scale_[k] = largest > 0.0 ? 1.0 / largest : 1.0;
  }
}

// A column with a single entry among the open rows proves that row
// independent.
void DependentRows::singleton_pivots() {
  int32_t listed = 0;
  for (int32_t k = 1; k <= n_; ++k) {
    if (col_count_[k] == 1) list_[++listed] = k;
  }
  for (int32_t l = 1; l <= listed; ++l) {
    const int32_t k = list_[l];
    if (col_count_[k] != 1 || col_flag_[k] == kColPivot) continue;
    int32_t r = 0;
    for (int32_t e = col_start_[k]; e < col_start_[k] + col_key_[k]; ++e) {
      if (row_flag_[row_of(e)] == kRowOpen) {
        r = row_of(e);
        break;
      }
    }
    if (r == 0) continue;
    col_flag_[k] = kColPivot;
    row_flag_[r] = kRowDecided;
    --open_rows_;
    for (int32_t e = d_.factor_first[n_ + r]; e <= d_.factor_last[n_ + r]; ++e) {
      const int32_t c = d_.row_index[e];
      if (col_count_[c] <= 0) continue;
      if (--col_count_[c] == 1 && col_flag_[c] != kColPivot) list_[++listed] = c;
    }
  }
}

void DependentRows::bucket_insert(int32_t i) {
  const int32_t c = row_count_[i];
  row_back_[i] = 0;
  row_link_[i] = heads_[c];
  if (heads_[c] != 0) row_back_[heads_[c]] = i;
  heads_[c] = i;
}

void DependentRows::bucket_remove(int32_t i) {
  const int32_t c = row_count_[i];
  if (row_back_[i] != 0) {
    row_link_[row_back_[i]] = row_link_[i];
  } else {
    heads_[c] = row_link_[i];
  }
  if (row_link_[i] != 0) row_back_[row_link_[i]] = row_back_[i];
}

void DependentRows::append_pivot(int32_t k, int32_t row, int32_t entry) {
  // The pivot entry leads the column's working entries.
  std::swap(d_.factor_index[entry], d_.factor_index[col_start_[k]]);
  std::swap(d_.factor_value[entry], d_.factor_value[col_start_[k]]);
  col_flag_[k] = kColPivot;
  row_flag_[row] = kRowDecided;
  pivots_[++pivot_count_] = k;
}

// A row whose pivot column occurs in no earlier pivot row is independent of
// them: rows are taken in ascending count, each covering its columns.
void DependentRows::structural_pivots() {
  heads_ = list_;
  max_bucket_ = n_;
  for (int32_t c = 1; c <= max_bucket_; ++c) heads_[c] = 0;
  // Inserted in increasing order, so the most recent row leads its bucket.
  for (int32_t i = 1; i <= m_; ++i) {
    if (row_flag_[i] == kRowOpen && row_count_[i] > 0) {
      row_count_[i] = std::min(row_count_[i], max_bucket_);
      bucket_insert(i);
    } else {
      row_back_[i] = -1;  // not in a bucket
    }
  }
  for (;;) {
    int32_t i = 0;
    for (int32_t c = 1; c <= max_bucket_ && i == 0; ++c) i = heads_[c];
    if (i == 0) break;
    bucket_remove(i);
    row_back_[i] = -1;

    // Pivot candidate: the free column of row i with the fewest working
    // entries; its entry of row i must not be small.
    int32_t pivot = 0;
    int32_t pivot_entry = 0;
    for (;;) {
      int32_t best = 0;
      for (int32_t e = d_.factor_first[n_ + i]; e <= d_.factor_last[n_ + i]; ++e) {
        const int32_t c = d_.row_index[e];
        if (col_flag_[c] != kColFree) continue;
        if (best == 0 || col_count_[c] < col_count_[best]) best = c;
      }
      if (best == 0) break;
      int32_t entry = 0;
      for (int32_t e = col_first(best); e <= col_end(best); ++e) {
        if (row_of(e) == i) {
          entry = e;
          break;
        }
      }
      if (entry != 0 && std::fabs(value(best, entry)) >= p_.PIVATOL) {
        pivot = best;
        pivot_entry = entry;
        break;
      }
      col_flag_[best] = kColRejected;
    }

    for (int32_t e = d_.factor_first[n_ + i]; e <= d_.factor_last[n_ + i]; ++e) {
      const int32_t c = d_.row_index[e];
      if (col_flag_[c] >= kColCovered) continue;
      col_flag_[c] = kColCovered;
      for (int32_t f = col_first(c); f <= col_end(c); ++f) {
        const int32_t r = row_of(f);
        if (r == i || row_back_[r] < 0 || row_flag_[r] != kRowOpen) continue;
        bucket_remove(r);
        if (--row_count_[r] > 0) {
          bucket_insert(r);
        } else {
          row_back_[r] = -1;
        }
      }
    }
    if (pivot != 0) append_pivot(pivot, i, pivot_entry);
  }
}

// Transforms column k by the pivots so far into free storage; on success k
// becomes a pivot column and the result is its pivot row. Returns 0 when no
// pivot can be taken (the stored entries are given up), -1 on short space.
int32_t DependentRows::transform_column(int32_t k) {
  int32_t* pattern = row_link_;   // list of rows with a work value
  int32_t* in_pattern = row_back_;
  int32_t size = 0;
  for (int32_t e = col_first(k); e <= col_end(k); ++e) {
    const int32_t r = row_of(e);
    work_[r] += value(k, e);
    --row_count_[r];
    if (in_pattern[r] != 1) {
      in_pattern[r] = 1;
      pattern[++size] = r;
    }
  }
  for (int32_t t = 1; t <= pivot_count_; ++t) {
    const int32_t pc = pivots_[t];
    const int32_t prow = row_of(col_start_[pc]);
    if (in_pattern[prow] != 1 || work_[prow] == 0.0) continue;
    const double mult = work_[prow] / value(pc, col_start_[pc]);
    for (int32_t e = col_start_[pc] + 1; e <= col_end(pc); ++e) {
      const int32_t r = row_of(e);
      work_[r] -= mult * value(pc, e);
      if (in_pattern[r] != 1) {
        in_pattern[r] = 1;
        pattern[++size] = r;
      }
    }
  }
  if (storage_end_ < next_free_ + m_) {
    for (int32_t l = 1; l <= size; ++l) {
      work_[pattern[l]] = 0.0;
      in_pattern[pattern[l]] = 0;
    }
    space_short_ = true;
    return -1;
  }
  const int32_t first = next_free_;
  double largest = 0.0;
  for (int32_t l = 1; l <= size; ++l) {
    const int32_t r = pattern[l];
    const double v = work_[r];
    work_[r] = 0.0;
    in_pattern[r] = 0;
    if (row_flag_[r] >= kRowDecided || std::fabs(v) <= p_.TZER) continue;
    d_.factor_index[next_free_] = r;
    d_.factor_value[next_free_] = v;
    ++next_free_;
    largest = std::fmax(largest, std::fabs(v));
  }
  const int32_t last = next_free_ - 1;
  for (int32_t e = first; e <= last; ++e) {
    if (std::fabs(d_.factor_value[e]) < p_.TABS * largest) d_.factor_value[e] = 0.0;
  }
  const int32_t chosen = largest > p_.PIVXTOL ? pick_pivot(k, first, last, largest) : 0;
  if (chosen == 0) {
    next_free_ = first;
    return 0;
  }
  col_start_[k] = first;
  col_count_[k] = last - first + 1;
  const int32_t row = row_of(chosen);
  append_pivot(k, row, chosen);
  return row;
}

int32_t DependentRows::pick_pivot(int32_t k, int32_t first, int32_t last, double largest) {
  (void)k;
  const double threshold = std::fmax(p_.PIVRTOL * largest, p_.PIVATOL);
  int32_t chosen = 0;
  for (int32_t e = first; e <= last; ++e) {
    const double magnitude = std::fabs(d_.factor_value[e]);
    if (magnitude <= threshold) continue;
    if (chosen == 0) {
      chosen = e;
      continue;
    }
    const int32_t rc = row_count_[row_of(e)];
    const int32_t best = row_count_[row_of(chosen)];
    if (rc < best || (rc == best && magnitude > std::fabs(d_.factor_value[chosen]))) chosen = e;
  }
  return chosen;
}

// Transforms the columns that structure could not settle, in ascending
// count, at most as many as there are open rows left. Columns not
// transformed are kept for the dependency check (list_[1..kept_count_]).
bool DependentRows::numeric_pivots() {
  int32_t sorted = 0;
  for (int32_t k = 1; k <= n_; ++k) {
    if (presolve_is_removed(d_, k)) continue;
    col_key_[k] = col_flag_[k] == kColPivot ? 0 : col_count_[k];
    if (col_key_[k] > 0) list_[++sorted] = k;
  }
  sort_index_by_key(sorted, list_, col_key_);
  for (int32_t i = 1; i <= m_; ++i) {
    row_count_[i] = presolve_live_count(d_, n_ + i);
    row_back_[i] = 0;  // pattern marks from here on
    row_link_[i] = 0;
  }
  int32_t budget = open_rows_ - pivot_count_;
  int32_t undecided = budget;
  kept_count_ = 0;
  int32_t l = 1;
  for (; l <= sorted && budget > 0 && undecided > 0; ++l) {
    const int32_t k = list_[l];
    bool touches_open = false;
    for (int32_t e = col_first(k); e <= col_end(k) && !touches_open; ++e) {
      touches_open = row_flag_[row_of(e)] == kRowOpen;
    }
    if (!touches_open) {
      list_[++kept_count_] = k;
      continue;
    }
    --budget;
    const int32_t row = transform_column(k);
    if (row < 0) return false;
    if (row > 0) {
      --undecided;
      continue;
    }
    for (int32_t e = col_first(k); e <= col_end(k); ++e) {
      if (row_flag_[row_of(e)] == kRowOpen) {
        row_flag_[row_of(e)] = kRowFailed;
        break;
      }
    }
    // No pivot does not mean no witness: the dependency check still looks
    // at it, or a row that only this column tells apart would be dropped.
    list_[++kept_count_] = k;
  }
  for (; l <= sorted; ++l) list_[++kept_count_] = list_[l];
  return true;
}

// y combines open row i with the pivot rows so that y.a = 0 for every pivot
// column; a kept column with y.a clearly nonzero gives a new pivot. Returns
// the number of open rows that remain dependent, or -1 on short space.
int32_t DependentRows::dependency_check() {
  for (int32_t i = 1; i <= m_; ++i) {
    if (row_flag_[i] >= kRowDecided) continue;
    for (;;) {
      y_[i] = 1.0;
      for (int32_t t = pivot_count_; t >= 1; --t) {
        const int32_t pc = pivots_[t];
        double sum = 0.0;
        for (int32_t e = col_start_[pc] + 1; e <= col_end(pc); ++e) sum += y_[row_of(e)] * value(pc, e);
        y_[row_of(col_start_[pc])] = -sum / value(pc, col_start_[pc]);
      }
      int32_t found = 0;
      for (int32_t l = 1; l <= kept_count_ && found == 0; ++l) {
        const int32_t k = list_[l];
        double s = 0.0;
        for (int32_t e = col_first(k); e <= col_end(k); ++e) s += y_[row_of(e)] * value(k, e);
        if (std::fabs(s) <= p_.PIVATOL) continue;
        list_[l] = list_[kept_count_--];
        --l;
        found = transform_column(k);
        if (found < 0) return -1;
        if (found == 0) {
          // y.a is clearly nonzero, so row i is no combination of the pivot
          // rows, even though k gives no usable pivot: the row stays.
          row_flag_[i] = kRowDecided;
          found = i;
        }
      }
      y_[i] = 0.0;
      for (int32_t t = 1; t <= pivot_count_; ++t) y_[row_of(col_start_[pivots_[t]])] = 0.0;
      if (found == 0 || found == i) break;
    }
  }
  int32_t dependent = 0;
  for (int32_t i = 1; i <= m_; ++i) {
    if (row_flag_[i] < kRowDecided) ++dependent;
  }
  return dependent;
}

void DependentRows::remove_dependent_rows() {
  // Forward pass over the right-hand side through the pivots, in the same
  // row scaling as the matrix.
  for (int32_t i = 1; i <= m_; ++i) {
    work_[i] = d_.rhs[i] * row_scale_[i];
    acc_[i] = std::fabs(work_[i]);
  }
  for (int32_t t = 1; t <= pivot_count_; ++t) {
    const int32_t pc = pivots_[t];
    const int32_t prow = row_of(col_start_[pc]);
    if (std::fabs(work_[prow]) <= p_.TZER) continue;
    const double mult = work_[prow] / value(pc, col_start_[pc]);
    for (int32_t e = col_start_[pc] + 1; e <= col_end(pc); ++e) {
      const double t_value = mult * value(pc, e);
      work_[row_of(e)] -= t_value;
      acc_[row_of(e)] += std::fabs(t_value);
    }
  }
  for (int32_t i = 1; i <= m_; ++i) {
    if (row_flag_[i] >= kRowDecided) continue;
    record_presolve_removal(d_, n_ + i, -(2 + pass_));
    const double b = d_.rhs[i] * row_scale_[i];
    const double tol = std::fmax((std::fabs(b) + 1.0) * p_.PRESFEAS, 0.5 * p_.TABS * acc_[i]);
    if (std::fabs(work_[i]) > tol) {
      d_.var_state[n_ + i] = 3;
      d_.candidate_count = -(n_ + i);
    }
    // Out of its columns' live lists.
    for (int32_t e = d_.factor_first[n_ + i]; e <= d_.factor_last[n_ + i]; ++e) {
      const int32_t c = d_.row_index[e];
      int32_t& last = d_.factor_last[c];
      for (int32_t f = d_.factor_first[c]; f <= last; ++f) {
        if (d_.factor_index[f] != i) continue;
        std::swap(d_.factor_index[f], d_.factor_index[last]);
        std::swap(d_.factor_value[f], d_.factor_value[last]);
        --last;
        break;
      }
    }
  }
  for (int32_t i = 1; i <= m_; ++i) work_[i] = 0.0;
}

int32_t DependentRows::run() {
  take_candidates();
  if (open_rows_ == 0) return kPresolveDone;
  build_working_columns();
  compute_scales();
  singleton_pivots();
  if (open_rows_ == 0) return kPresolveDone;
  // Columns that lost entries to decided rows: open rows first again.
  for (int32_t k = 1; k <= n_; ++k) {
    if (presolve_is_removed(d_, k) || col_flag_[k] == kColPivot || col_count_[k] == col_key_[k]) continue;
    reorder_column(k, col_key_[k]);
  }
  structural_pivots();
  if (open_rows_ > pivot_count_) {
    if (!numeric_pivots()) return kPresolveSpaceShort;
    if (dependency_check() < 0) return kPresolveSpaceShort;
  }
  int32_t open = 0;
  for (int32_t i = 1; i <= m_; ++i) {
    if (row_flag_[i] < kRowDecided) ++open;
  }
  if (open == 0) return kPresolveDone;
  d_.candidate_count = 0;
  remove_dependent_rows();
  return d_.candidate_count < 0 ? kPresolveInfeasible : kPresolveDone;
}

}  // namespace

int32_t find_dependent_rows(PresolveData& d, int32_t pass) {
  DependentRows rows(d, pass);
  return rows.run();
}

}  // namespace kl
