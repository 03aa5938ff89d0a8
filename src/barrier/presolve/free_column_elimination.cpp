// Free columns leave the problem by Gaussian elimination through equality
// rows (bit 0x100 of PRESOLV). Each pivot (column p, row r) solves row r for
// x_p, substitutes it into the other rows of p and into the objective, and
// takes the pair out. Free columns are costly for the barrier; equality rows
// that carry them are the natural pivots.
//
// Storage while eliminating (all inside factor_index / factor_value, no
// memory of its own):
//   1 .. bottom-1           removed entries of every column (matrix_start),
//                           then the quadratic pattern
//   bottom .. col_end-1     live columns as variable-length lines, in the
//                           order of their chain; a line that must grow and
//                           has no room moves behind the last one
//   top .. store_end        pivot columns (pivot entry first) and, below each,
//                           its pivot-row record (column, a_rk)
//   row_index[1..]          row lists (column numbers), lines as above
// factor_first / factor_last hold start and count of each line (of the copy
// for a pivot column, of the record for a pivot row). Afterwards every column
// gets back one region: live entries, then the entries of the eliminated rows
// (so that the restoration can read those rows), then the removed entries.
#include <cmath>

#include "barrier/factor/list_compaction.h"
#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

constexpr int32_t kNone = 0;
constexpr int32_t kOffList = -1;
// The Markowitz search stops after a column once more candidates than this
// have been looked at.
constexpr int32_t kCandidateLimit = 14;

class FreeColumnElimination {
 public:
  FreeColumnElimination(PresolveData& d, int32_t pass)
      : d_(d),
        p_(*d.params),
        n_(d.n),
        m_(d.m),
        pass_(pass),
        fi_(d.factor_index),
        fv_(d.factor_value),
        start_(d.factor_first),
        count_(d.factor_last),
        next_(d.arrays->int_work_a),
        prev_(d.arrays->int_work_b),
        bucket_next_(d.arrays->int_work_c),
        row_mark_(d.arrays->int_work_c + d.n),
        bucket_prev_(d.arrays->pivot_order),
        bucket_head_(d.arrays->pivot_order + d.n),
        new_start_(d.arrays->pivot_rank),
        multiplier_(d.arrays->w + d.n),
        pairs_(d.presolve_list + *d.presolve_count),
        quadratic_(d.params->quad_col_count > 0) {}

  int32_t run() {
    lay_out_columns();
    build_row_lists();
    int32_t result = kPresolveDone;
    if (col_head_ != kNone && row_head_ != kNone) result = eliminate();
    if (result != kPresolveDone) return result;
    pack_columns_to_top();
    return restore_layout();
  }

 private:
  // --- Lines ------------------------------------------------------------

  bool col_live(int32_t j) const { return prev_[j] != kOffList; }
  bool row_live(int32_t i) const { return prev_[n_ + i] != kOffList; }
  bool pivot_candidate(int32_t j) const {
    return d_.col_bound_code[j] == 0 && !(quadratic_ && d_.quad_mark[j] >= 1);
  }
  int32_t col_gap() const { return top_ - col_end() - 1; }
  int32_t col_end() const { return col_tail_ == kNone ? base_ + 1 : start_[col_tail_] + count_[col_tail_]; }
  int32_t row_end() const {
    return row_tail_ == kNone ? 1 : start_[n_ + row_tail_] + count_[n_ + row_tail_];
  }
  int32_t row_gap() const { return p_.free_space - row_end(); }

  // A chain over lines `offset + l`, l = 1.., with its own head and tail.
  void unlink(int32_t offset, int32_t l, int32_t& head, int32_t& tail) {
    const int32_t before = prev_[offset + l];
    const int32_t after = next_[offset + l];
    if (before == kNone) {
      head = after;
    } else {
      next_[offset + before] = after;
    }
    if (after == kNone) {
      tail = before;
    } else {
      prev_[offset + after] = before;
    }
    prev_[offset + l] = kOffList;
    next_[offset + l] = kNone;
  }
  void append(int32_t offset, int32_t l, int32_t& head, int32_t& tail) {
    prev_[offset + l] = tail;
    next_[offset + l] = kNone;
    if (tail == kNone) {
      head = l;
    } else {
      next_[offset + tail] = l;
    }
    tail = l;
  }

  int32_t compact_columns(int32_t need) {
    int32_t status = kPresolveDone;
    int32_t room = 0;
    compact_value_lists(p_, need, room, top_, base_, start_, count_, col_head_, next_, fi_, fv_, status);
    return status;
  }
  int32_t compact_rows(int32_t need) {
    int32_t status = kPresolveDone;
    int32_t room = 0;
    compact_index_lists(p_, need, p_.free_space, room, start_ + n_, count_ + n_, row_head_, next_ + n_, rows_,
                        status);
    return status;
  }

  // Room for `extra` more entries right after column k's line.
  int32_t make_column_room(int32_t k, int32_t extra) {
    const int32_t after = next_[k] == kNone ? top_ - 1 : start_[next_[k]];
    if (after - (start_[k] + count_[k]) >= extra) return kPresolveDone;
    if (col_gap() < m_ && compact_columns(m_) != kPresolveDone) return kPresolveSpaceShort;
    if (k == col_tail_) return kPresolveDone;  // the gap now follows it
    const int32_t to = col_end();
    for (int32_t t = 0; t < count_[k]; ++t) {
      fi_[to + t] = fi_[start_[k] + t];
      fv_[to + t] = fv_[start_[k] + t];
    }
    unlink(0, k, col_head_, col_tail_);
    append(0, k, col_head_, col_tail_);
    start_[k] = to;
    return kPresolveDone;
  }

  int32_t append_to_row(int32_t i, int32_t j) {
    const int32_t q = n_ + i;
    const int32_t after = next_[q] == kNone ? p_.free_space : start_[n_ + next_[q]];
    if (start_[q] + count_[q] >= after) {
      if (row_gap() < n_ && compact_rows(n_) != kPresolveDone) return kPresolveSpaceShort;
      if (i != row_tail_) {
        const int32_t to = row_end();
        for (int32_t t = 0; t < count_[q]; ++t) rows_[to + t] = rows_[start_[q] + t];
        unlink(n_, i, row_head_, row_tail_);
        append(n_, i, row_head_, row_tail_);
        start_[q] = to;
      }
    }
    rows_[start_[q] + count_[q]] = j;
    ++count_[q];
    return kPresolveDone;
  }

  void remove_from_row(int32_t i, int32_t j) {
    const int32_t q = n_ + i;
    const int32_t last = start_[q] + count_[q] - 1;
    for (int32_t t = start_[q]; t <= last; ++t) {
      if (rows_[t] != j) continue;
      rows_[t] = rows_[last];
      --count_[q];
      return;
    }
  }

  // Position of row i in column j's line, 0 when absent.
  int32_t find_in_column(int32_t j, int32_t i) const {
    for (int32_t t = start_[j]; t < start_[j] + count_[j]; ++t) {
      if (fi_[t] == i) return t;
    }
    return 0;
  }

  double pivot_threshold(int32_t j) const {
    double largest = 0.0;
    for (int32_t t = start_[j]; t < start_[j] + count_[j]; ++t) largest = std::fmax(largest, std::fabs(fv_[t]));
    return std::fmax(p_.PIVRTOL * largest, p_.PIVATOL);
  }

  // --- Buckets of the Markowitz phase -------------------------------------

  void bucket_insert(int32_t j) {
    const int32_t c = count_[j];
    bucket_prev_[j] = kNone;
    bucket_next_[j] = bucket_head_[c];
    if (bucket_head_[c] != kNone) bucket_prev_[bucket_head_[c]] = j;
    bucket_head_[c] = j;
  }
  void bucket_remove(int32_t j) {
    const int32_t before = bucket_prev_[j];
    const int32_t after = bucket_next_[j];
    if (before == kNone) {
      bucket_head_[count_[j]] = after;
    } else {
      bucket_next_[before] = after;
    }
    if (after != kNone) bucket_prev_[after] = before;
  }
  bool in_buckets(int32_t j) const { return markowitz_ && pivot_candidate(j) && count_[j] > 0; }

  // --- Layout before ------------------------------------------------------

  bool in_removed_row(int32_t e) const { return d_.var_state[n_ + fi_[e]] < -1; }

  // Live entries of the live columns go to lines above the matrix and the
  // quadratic pattern; the removed entries are packed at the bottom, the
  // quadratic pattern right after them.
  void lay_out_columns() {
    const int32_t* ms = d_.matrix_start;
    const int32_t nz = p_.matrix_nz;
    const int32_t qnz = p_.quad_nz;
    int32_t to = nz + qnz + 1;
    col_head_ = col_tail_ = kNone;
    for (int32_t j = 1; j <= n_; ++j) {
      if (d_.var_state[j] < -1) {
        prev_[j] = kOffList;
        continue;
      }
      const int32_t first = d_.factor_first[j];
      const int32_t last = d_.factor_last[j];
      start_[j] = to;
      for (int32_t e = first; e <= last; ++e) {
        if (in_removed_row(e)) continue;
        fi_[to] = fi_[e];
        fv_[to] = fv_[e];
        ++to;
      }
      count_[j] = to - start_[j];
      append(0, j, col_head_, col_tail_);
      // The old live range is remembered in new_start_ / bucket_prev_ until
      // the removed entries are packed.
      new_start_[j] = first;
      bucket_prev_[j] = last;
    }
    int32_t bottom = 1;
    for (int32_t j = 1; j <= n_; ++j) {
      const int32_t first = ms[j];
      const int32_t end = ms[j + 1];
      const bool live = col_live(j);
      d_.matrix_start[j] = bottom;
      for (int32_t e = first; e < end; ++e) {
        if (live && e >= new_start_[j] && e <= bucket_prev_[j] && !in_removed_row(e)) continue;
        fi_[bottom] = fi_[e];
        fv_[bottom] = fv_[e];
        ++bottom;
      }
      if (!live) start_[j] = count_[j] = 0;
    }
    const int32_t shift = nz + 1 - bottom;
    d_.matrix_start[n_ + 1] = bottom;
    for (int32_t e = 0; e < qnz; ++e) {
      fi_[bottom + e] = fi_[nz + 1 + e];
      fv_[bottom + e] = fv_[nz + 1 + e];
    }
    for (int32_t j = 1; j <= n_ + 1; ++j) d_.quad_start[j] -= shift;
    base_ = bottom + qnz - 1;
    store_end_ = nz + qnz + p_.free_space;
    top_ = store_end_ + 1;
    rows_ = fi_ + store_end_;
  }

  // Row lists from the live column lines, in column order.
  void build_row_lists() {
    row_head_ = row_tail_ = kNone;
    for (int32_t i = 1; i <= m_; ++i) {
      const int32_t q = n_ + i;
      count_[q] = 0;
      prev_[q] = kOffList;
      row_mark_[i] = 0;
    }
    for (int32_t j = col_head_; j != kNone; j = next_[j]) {
      for (int32_t t = start_[j]; t < start_[j] + count_[j]; ++t) ++count_[n_ + fi_[t]];
    }
    int32_t at = 1;
    for (int32_t i = 1; i <= m_; ++i) {
      const int32_t q = n_ + i;
      start_[q] = at;
      if (d_.var_state[q] < -1) continue;
      at += count_[q];
      count_[q] = 0;
      append(n_, i, row_head_, row_tail_);
    }
    for (int32_t j = col_head_; j != kNone; j = next_[j]) {
      for (int32_t t = start_[j]; t < start_[j] + count_[j]; ++t) {
        const int32_t q = n_ + fi_[t];
        rows_[start_[q] + count_[q]] = j;
        ++count_[q];
      }
    }
  }

  // --- Pivot choice -------------------------------------------------------

  struct Pivot {
    int32_t col = 0;
    int32_t row = 0;
  };

  Pivot doubleton_pivot() {
    for (; scan_row_ <= m_; ++scan_row_) {
      const int32_t i = scan_row_;
      const int32_t q = n_ + i;
      if (!row_live(i) || d_.slack_bound_code[i] != 0 || count_[q] != 2) continue;
      for (int32_t t = 1; t >= 0; --t) {
        const int32_t j = rows_[start_[q] + t];
        if (!pivot_candidate(j)) continue;
        const int32_t e = find_in_column(j, i);
        if (e != 0 && std::fabs(fv_[e]) > pivot_threshold(j)) return Pivot{j, i};
      }
    }
    return Pivot{};
  }

  void start_markowitz() {
    markowitz_ = true;
    for (int32_t c = 1; c <= m_; ++c) bucket_head_[c] = kNone;
    for (int32_t j = col_head_; j != kNone; j = next_[j]) {
      if (in_buckets(j)) bucket_insert(j);
    }
  }

  Pivot markowitz_pivot() {
    Pivot best;
    double best_cost = 0.0;
    double best_size = 0.0;
    int32_t examined = 0;
    int32_t lowest = 0;
    for (int32_t c = low_count_ > 1 ? low_count_ - 1 : 1; c <= m_; ++c) {
      if (bucket_head_[c] == kNone) continue;
      if (lowest == 0) lowest = c;
      for (int32_t j = bucket_head_[c]; j != kNone; j = bucket_next_[j]) {
        const double thr = pivot_threshold(j);
        for (int32_t t = start_[j]; t < start_[j] + c; ++t) {
          const int32_t r = fi_[t];
          const double size = std::fabs(fv_[t]);
          if (d_.slack_bound_code[r] != 0 || size <= thr) continue;
          ++examined;
          const double row_other = static_cast<double>(count_[n_ + r] - 1);
          const double cost = row_other * static_cast<double>(c - 1);
          if (cost >= p_.FILLTOL * (row_other + c)) continue;
          if (best.col == kNone || cost < best_cost || (cost == best_cost && size > best_size)) {
            best = Pivot{j, r};
            best_cost = cost;
            best_size = size;
          }
        }
        if (examined > kCandidateLimit) {
          low_count_ = lowest;
          return best;
        }
      }
    }
    if (lowest != 0) low_count_ = lowest;
    return best;
  }

  // --- One pivot ----------------------------------------------------------

  int32_t pivot_on(int32_t pc, int32_t r) {
    const int32_t qr = n_ + r;
    // Room first, while p is still a line the compaction keeps.
    if (col_gap() < n_ + m_ && compact_columns(n_ + m_) != kPresolveDone) return kPresolveSpaceShort;
    if (in_buckets(pc)) bucket_remove(pc);
    unlink(0, pc, col_head_, col_tail_);
    unlink(n_, r, row_head_, row_tail_);
    ++pivot_count_;
    pairs_[2 * pivot_count_ - 1] = pc;
    pairs_[2 * pivot_count_] = qr;

    const int32_t e_r = find_in_column(pc, r);
    const double a = fv_[e_r];
    const double inv = 1.0 / a;
    const double b_r = d_.rhs[r];
    const double c_p = d_.cost[pc];
    *d_.objective_constant += inv * b_r * c_p;

    // Column p to the top, its pivot entry first.
    const int32_t len = count_[pc];
    top_ -= len;
    const int32_t copy = top_;
    fi_[copy] = r;
    fv_[copy] = a;
    int32_t at = copy + 1;
    for (int32_t t = start_[pc]; t < start_[pc] + len; ++t) {
      if (t == e_r) continue;
      fi_[at] = fi_[t];
      fv_[at] = fv_[t];
      ++at;
    }
    start_[pc] = copy;
    ++stamp_;
    for (int32_t t = copy; t < copy + len; ++t) {
      const int32_t i = fi_[t];
      row_mark_[i] = stamp_;
      remove_from_row(i, pc);
      if (i == r) {
        multiplier_[i] = inv;
        continue;
      }
      multiplier_[i] = -inv * fv_[t];
      const double old = d_.rhs[i];
      const double now = old + multiplier_[i] * b_r;
      d_.rhs[i] = std::fabs(now) < std::fabs(old) * p_.TPLUS ? 0.0 : now;
    }

    // Row r's other entries leave their columns for the pivot-row record.
    const int32_t rec_len = count_[qr];
    top_ -= rec_len;
    const int32_t rec = top_;
    for (int32_t t = 0; t < rec_len; ++t) {
      const int32_t k = rows_[start_[qr] + t];
      if (in_buckets(k)) bucket_remove(k);
      const int32_t e = find_in_column(k, r);
      const int32_t last = start_[k] + count_[k] - 1;
      fi_[rec + t] = k;
      fv_[rec + t] = fv_[e];
      fi_[e] = fi_[last];
      fv_[e] = fv_[last];
      --count_[k];
    }
    start_[qr] = rec;
    count_[qr] = rec_len;

    for (int32_t t = rec; t < rec + rec_len; ++t) {
      const int32_t result = update_column(fi_[t], fv_[t], inv * c_p, copy, len, r);
      if (result != kPresolveDone) return result;
    }
    for (int32_t t = rec; t < rec + rec_len; ++t) {
      const int32_t k = fi_[t];
      if (in_buckets(k)) bucket_insert(k);
    }
    return kPresolveDone;
  }

  // Column k of the pivot row: its cost, its entries in p's rows, and fill.
  int32_t update_column(int32_t k, double a_rk, double cost_ratio, int32_t copy, int32_t len, int32_t r) {
    const double old_cost = d_.cost[k];
    const double new_cost = old_cost - a_rk * cost_ratio;
    d_.cost[k] = std::fabs(new_cost) < std::fabs(old_cost) * p_.TPLUS ? 0.0 : new_cost;
    const int32_t seen = -stamp_;
    int32_t shared = 0;
    for (int32_t t = start_[k]; t < start_[k] + count_[k]; ++t) {
      const int32_t i = fi_[t];
      if (row_mark_[i] != stamp_) continue;
      const double old = fv_[t];
      const double now = old + a_rk * multiplier_[i];
      fv_[t] = std::fabs(now) < std::fabs(old) * p_.TPLUS ? 0.0 : now;
      row_mark_[i] = seen;
      ++shared;
    }
    const int32_t fill = len - 1 - shared;
    if (fill > 0 && make_column_room(k, fill) != kPresolveDone) return kPresolveSpaceShort;
    for (int32_t t = copy; t < copy + len; ++t) {
      const int32_t i = fi_[t];
      if (i == r) continue;
      if (row_mark_[i] == seen) {
        row_mark_[i] = stamp_;
        continue;
      }
      const int32_t at = start_[k] + count_[k];
      fi_[at] = i;
      fv_[at] = a_rk * multiplier_[i];
      ++count_[k];
      if (append_to_row(i, k) != kPresolveDone) return kPresolveSpaceShort;
    }
    return kPresolveDone;
  }

  int32_t eliminate() {
    scan_row_ = 1;
    low_count_ = 1;
    markowitz_ = false;
    while (true) {
      Pivot pv;
      if (!markowitz_) {
        pv = doubleton_pivot();
        if (pv.col == kNone) start_markowitz();
      }
      if (markowitz_) pv = markowitz_pivot();
      if (pv.col == kNone) return kPresolveDone;
      const int32_t result = pivot_on(pv.col, pv.row);
      if (result != kPresolveDone) return result;
    }
  }

  // --- Layout after -------------------------------------------------------

  void pack_columns_to_top() {
    int32_t to = top_;
    for (int32_t j = col_tail_; j != kNone; j = prev_[j]) {
      to -= count_[j];
      for (int32_t t = count_[j] - 1; t >= 0; --t) {
        fi_[to + t] = fi_[start_[j] + t];
        fv_[to + t] = fv_[start_[j] + t];
      }
      start_[j] = to;
    }
    lowest_ = to;
  }

  // Every column one region again: live entries (for a pivot column its
  // copy), the entries of the eliminated rows, the removed entries.
  int32_t restore_layout() {
    int32_t* ms = d_.matrix_start;
    int32_t* fill_at = next_;  // links are done with
    const int32_t qnz = p_.quad_nz;
    const int32_t old_bottom = ms[n_ + 1];
    for (int32_t j = 1; j <= n_; ++j) fill_at[j] = 0;
    for (int32_t k = 1; k <= pivot_count_; ++k) {
      const int32_t q = pairs_[2 * k];
      for (int32_t t = start_[q]; t < start_[q] + count_[q]; ++t) ++fill_at[fi_[t]];
    }
    int64_t total = 0;
    for (int32_t j = 1; j <= n_; ++j) {
      new_start_[j] = static_cast<int32_t>(total + 1);
      total += (ms[j + 1] - ms[j]) + count_[j] + fill_at[j];
    }
    new_start_[n_ + 1] = static_cast<int32_t>(total + 1);
    if (static_cast<int64_t>(lowest_) < total + 1 + qnz) return kPresolveSpaceShort;

    const int32_t shift = static_cast<int32_t>(total + 1) - old_bottom;
    for (int32_t e = qnz - 1; e >= 0; --e) {
      fi_[old_bottom + shift + e] = fi_[old_bottom + e];
      fv_[old_bottom + shift + e] = fv_[old_bottom + e];
    }
    for (int32_t j = 1; j <= n_ + 1; ++j) d_.quad_start[j] += shift;

    for (int32_t j = n_; j >= 1; --j) {
      const int32_t removed = ms[j + 1] - ms[j];
      const int32_t to = new_start_[j + 1] - removed;
      for (int32_t t = removed - 1; t >= 0; --t) {
        fi_[to + t] = fi_[ms[j] + t];
        fv_[to + t] = fv_[ms[j] + t];
      }
      for (int32_t t = 0; t < count_[j]; ++t) {
        fi_[new_start_[j] + t] = fi_[start_[j] + t];
        fv_[new_start_[j] + t] = fv_[start_[j] + t];
      }
      fill_at[j] = new_start_[j] + count_[j];
    }
    for (int32_t k = 1; k <= pivot_count_; ++k) {
      const int32_t q = pairs_[2 * k];
      for (int32_t t = start_[q]; t < start_[q] + count_[q]; ++t) {
        const int32_t at = fill_at[fi_[t]]++;
        fi_[at] = q - n_;
        fv_[at] = fv_[t];
      }
    }
    for (int32_t j = 1; j <= n_ + 1; ++j) ms[j] = new_start_[j];
    for (int32_t j = 1; j <= n_; ++j) {
      d_.factor_first[j] = ms[j];
      d_.factor_last[j] = col_live(j) ? ms[j] + count_[j] - 1 : ms[j] - 1;
    }

    for (int32_t k = 1; k <= pivot_count_; ++k) {
      record_presolve_removal(d_, pairs_[2 * k - 1], -(2 + pass_));
      record_presolve_removal(d_, pairs_[2 * k], -(2 + pass_));
    }
    p_.matrix_nz = static_cast<int32_t>(total);
    if (static_cast<int64_t>(p_.factor_space) < 2 * (total + qnz)) return kPresolveSpaceShort;
    return kPresolveDone;
  }

  PresolveData& d_;
  barrier_params& p_;
  const int32_t n_;
  const int32_t m_;
  const int32_t pass_;
  int32_t* fi_;
  double* fv_;
  int32_t* start_;
  int32_t* count_;
  int32_t* next_;
  int32_t* prev_;
  int32_t* bucket_next_;
  int32_t* row_mark_;
  int32_t* bucket_prev_;
  int32_t* bucket_head_;
  int32_t* new_start_;
  double* multiplier_;
  int32_t* pairs_;
  int32_t* rows_ = nullptr;
  const bool quadratic_;
  int32_t col_head_ = kNone;
  int32_t col_tail_ = kNone;
  int32_t row_head_ = kNone;
  int32_t row_tail_ = kNone;
  int32_t base_ = 0;
  int32_t store_end_ = 0;
  int32_t top_ = 0;
  int32_t lowest_ = 0;
  int32_t scan_row_ = 1;
  int32_t low_count_ = 1;
  int32_t stamp_ = 0;
  int32_t pivot_count_ = 0;
  bool markowitz_ = false;
};

}  // namespace

int32_t eliminate_free_columns(PresolveData& d, int32_t pass) {
  FreeColumnElimination elimination(d, pass);
  return elimination.run();
}

}  // namespace kl
