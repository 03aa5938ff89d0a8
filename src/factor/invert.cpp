#include "factor/invert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "factor/crossover_state.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/basic_values.h"

namespace kl {

namespace {

// One element of the active matrix or of a pivoted row: the basis position
// of its column and its value.
struct Entry {
  int32_t col;
  double value;
};

// How an attempt's elimination ended.
enum class EliminationEnd {
  kComplete,   // every row and column pivoted
  kSingular,   // rows and columns left unpivoted
  kOutOfRoom,  // the eta file cannot hold the next record
};

// Working structures of one invert attempt. They live beside the eta file
// and keep their storage from one invert to the next.
struct InvertWork {
  // Per row: the active elements (largest magnitude first), or, once the row
  // is pivoted, its U row (pivot column first, the rest scaled by 1/pivot).
  std::vector<std::vector<Entry>> rows;
  // Per basis position: the active rows of its column.
  std::vector<std::vector<int32_t>> cols;
  // Step at which a row or column was pivoted (0 while active).
  std::vector<int32_t> row_step, col_step;
  std::vector<int32_t> step_row, step_col;  // step -> pivot row, column
  // Count buckets: heads by count, doubly linked.
  std::vector<int32_t> row_head, row_next, row_prev;
  std::vector<int32_t> col_head, col_next, col_prev;
  std::vector<char> row_in_bucket, col_in_bucket, col_aside;
  // Dense pivot row (scaled by 1/pivot) and column markers: -1 in the pivot
  // row, 1 met in the row being updated, 0 otherwise.
  std::vector<double> pivot_row;
  std::vector<int8_t> marker;
  std::vector<int32_t> queue;
  std::vector<int32_t> column_rows;  // rows of the pivot column of a step
  int32_t steps = 0;
  int32_t empty_rows = 0;
  int32_t empty_cols = 0;
  int32_t shortfall = 0;  // slots missing when the file ran out of room
};

InvertWork w;

// ---------------------------------------------------------------------------
// Small helpers over the problem arrays.

bool is_slack(int32_t variable) { return variable < store.first_col; }

int32_t basic_column_nonzeros(int32_t variable) {
  if (is_slack(variable)) return 1;
  OneBased<int32_t> start = int_array(ARR_COL_START);
  return start[variable + 1] - start[variable];
}

void swap_row_weights(int32_t i, int32_t j) {
  if (algorithm_kind() == 0) return;
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (weights) std::swap(weights[i], weights[j]);
}

void reset_row_weights() {
  if (algorithm_kind() == 0) return;
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (!weights) return;
  for (int32_t i = 1; i <= nrow; ++i) weights[i] = 1.0;
}

void set_value_to_zero(int32_t variable) {
  OneBased<double> x = real_array(ARR_X);
  if (x) x[variable] = 0.0;
}

// Takes a basic variable out of the basis the way the repairs do: at its
// upper bound when only that is finite, held at zero when neither is (the
// value kept while a crossover runs). Returns true when it got 0x100.
bool make_nonbasic(int32_t variable) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t s = status[variable] & ~(PS_BASIC | PS_AT_UPPER);
  bool held = false;
  const bool lower_finite = (s & PS_FINITE_LOWER) != 0;
  const bool upper_finite = (s & PS_FINITE_UPPER) != 0;
  if ((s & PS_FREE) != 0 || (!lower_finite && !upper_finite)) {
    s |= PS_NONBASIC_BETWEEN;
    held = true;
    if (crossover_mode == 0) set_value_to_zero(variable);
  } else if (upper_finite && !lower_finite) {
    s |= PS_AT_UPPER;
  }
  status[variable] = s;
  return held;
}

void make_slack_basic(int32_t row) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[row] = (status[row] & ~(PS_BASIC | PS_AT_UPPER)) | PS_BASIC;
}

void rebuild_row_lists_if_needed(bool free_variable_changed) {
  if (free_variable_changed && (problem_flags & PF_ROW_LISTS) != 0) build_row_lists();
}

// ---------------------------------------------------------------------------
// Eta file writers.

// Room check before a record of `slots` slots is added to the invert part,
// with the active nonzeros (u_file_end during the invert) standing for the
// U file still to come.
bool room_for(int32_t slots) {
  const int64_t need = static_cast<int64_t>(eta_file.u_file_end) + eta_file.invert_part_size + slots + 1;
  if (need < eta_file.eta_capacity) return true;
  w.shortfall = static_cast<int32_t>(std::min<int64_t>(need - eta_file.eta_capacity + 1, INT32_MAX / 4));
  return false;
}

void write_diagonal_eta(int32_t row, double multiplier) {
  const int32_t t = eta_file.eta_capacity - eta_file.invert_part_size;
  set_slot_low_word(t, 0);
  eta_row()[t - 1] = row;
  eta_value()[t - 1] = multiplier;
  set_slot_high_word(t - 2, 0);
  eta_file.invert_part_size += 2;
  ++eta_file.invert_eta_count;
}

// Closes an L column eta whose count entries were written below its pivot.
void close_column_eta(int32_t row, double multiplier, int32_t count) {
  const int32_t t = eta_file.eta_capacity - eta_file.invert_part_size;
  set_slot_low_word(t, count);
  eta_row()[t - 1] = row;
  eta_value()[t - 1] = multiplier;
  set_slot_high_word(t - 2 - count, count);
  eta_file.invert_part_size += count + 2;
  ++eta_file.invert_eta_count;
}

// Entry k (from 0) of the L column eta being written.
void write_eta_entry(int32_t k, int32_t row, double value) {
  const int32_t slot = eta_file.eta_capacity - eta_file.invert_part_size - 2 - k;
  eta_row()[slot] = row;
  eta_value()[slot] = value;
}

double pivot_multiplier(double pivot) { return pivot == 1.0 ? 1.0 : 1.0 / pivot; }

// ---------------------------------------------------------------------------
// Row and column bookkeeping.

std::vector<Entry>::iterator find_entry(std::vector<Entry>& row, int32_t col) {
  return std::find_if(row.begin(), row.end(), [col](const Entry& e) { return e.col == col; });
}

void remove_from_pattern(int32_t col, int32_t row) {
  std::vector<int32_t>& pattern = w.cols[col];
  auto it = std::find(pattern.begin(), pattern.end(), row);
  if (it == pattern.end()) return;
  *it = pattern.back();
  pattern.pop_back();
}

// Moves the element of largest magnitude into the row's first slot.
void put_maximum_first(std::vector<Entry>& row) {
  if (row.size() < 2) return;
  size_t best = 0;
  for (size_t k = 1; k < row.size(); ++k)
    if (std::fabs(row[k].value) > std::fabs(row[best].value)) best = k;
  std::swap(row[0], row[best]);
}

void pivot_marks(int32_t row, int32_t col) {
  ++w.steps;
  w.row_step[row] = w.steps;
  w.col_step[col] = w.steps;
  w.step_row[w.steps] = row;
  w.step_col[w.steps] = col;
}

// ---------------------------------------------------------------------------
// Preparation.

void size_work(int32_t n) {
  w.rows.resize(n + 1);
  w.cols.resize(n + 1);
  for (int32_t i = 0; i <= n; ++i) {
    w.rows[i].clear();
    w.cols[i].clear();
  }
  w.row_step.assign(n + 1, 0);
  w.col_step.assign(n + 1, 0);
  w.step_row.assign(n + 1, 0);
  w.step_col.assign(n + 1, 0);
  w.pivot_row.assign(n + 1, 0.0);
  w.marker.assign(n + 1, 0);
  w.steps = 0;
  w.empty_rows = 0;
  w.empty_cols = 0;
  w.shortfall = 0;
}

// A header with an entry out of range or a variable twice cannot be
// factorised as it stands; it is rebuilt from the status bits.
void validate_header() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  std::vector<char> seen(static_cast<size_t>(nseq) + 2, 0);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t v = header[i];
    const bool valid = (v >= 1 && v <= nrow) || (v >= store.first_col && v <= nseq);
    if (!valid || seen[v]) {
      set_basis_header();
      return;
    }
    seen[v] = 1;
  }
}

// Every basic slack goes to its own row's position.
void place_slacks() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= nrow; ++i) {
    for (;;) {
      const int32_t v = header[i];
      if (!is_slack(v) || v == i || header[v] == v) break;
      std::swap(header[i], header[v]);
      swap_row_weights(i, v);
    }
  }
}

// Row-wise copy and column patterns of the basis. Rows whose position holds
// their own slack carry the slack entry first; only the other rows enter the
// patterns.
void build_working_copies() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t i = 1; i <= nrow; ++i) {
    w.rows[i].clear();
    w.cols[i].clear();
  }
  int32_t patterns = 0;
  for (int32_t j = 1; j <= nrow; ++j)
    if (header[j] == j) w.rows[j].push_back({j, 1.0});
  for (int32_t j = 1; j <= nrow; ++j) {
    const int32_t v = header[j];
    if (is_slack(v)) continue;
    for (int32_t k = start[v]; k < start[v + 1]; ++k) {
      const int32_t i = elem_row[k];
      const double a = elem_value[k];
      if (a == 0.0 || i < 1 || i > nrow) continue;
      w.rows[i].push_back({j, a});
      if (header[i] != i) {
        w.cols[j].push_back(i);
        ++patterns;
      }
    }
  }
  eta_file.pattern_file_end = patterns;
}

// Rows with no element in any basic column: the structural at the row's
// position leaves and the row's slack enters; rows emptied by that follow.
int32_t repair_empty_rows() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  std::vector<int32_t> count(static_cast<size_t>(nrow) + 1, 0);
  std::vector<int32_t> listed;
  for (int32_t i = 1; i <= nrow; ++i) {
    count[i] = static_cast<int32_t>(w.rows[i].size());
    if (count[i] == 0) listed.push_back(i);
  }
  if (listed.empty()) return 0;
  bool free_changed = false;
  for (size_t k = 0; k < listed.size(); ++k) {
    const int32_t r = listed[k];
    const int32_t v = header[r];
    if (is_slack(v)) continue;
    OneBased<int32_t> start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    for (int32_t q = start[v]; q < start[v + 1]; ++q) {
      const int32_t i = elem_row[q];
      if (i < 1 || i > nrow) continue;
      auto it = find_entry(w.rows[i], r);
      if (it == w.rows[i].end()) continue;
      w.rows[i].erase(it);
      if (--count[i] == 0) listed.push_back(i);
    }
    free_changed |= make_nonbasic(v);
    make_slack_basic(r);
    header[r] = r;
  }
  rebuild_row_lists_if_needed(free_changed);
  const int32_t repaired = static_cast<int32_t>(listed.size());
  factor_stats.empty_row_repairs += repaired;
  if (icv(ic::IFMSG) > 0) {
    begin_message(MSG_BASIS_EMPTY_ROWS);
    insert_message_int(repaired);
    emit_message();
  }
  return repaired;
}

// How the preparation failed.
enum PrepareFailure : int32_t {
  kPrepared = 0,
  kFileTooSmall = 1,      // the eta file cannot hold the working copies
  kNoMemoryForArrays = 2,  // the LU arrays could not be had (status word 4)
};

// Capacity, slack placement, working copies and the repair of structurally
// empty rows; failure is a PrepareFailure.
void prepare_invert(int32_t& repaired_rows, int32_t& failure) {
  failure = 0;
  repaired_rows = 0;
  validate_header();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  int64_t nonzeros = 0;
  for (int32_t i = 1; i <= nrow; ++i) nonzeros += basic_column_nonzeros(header[i]);
  if (kEtaSizingFactor * nonzeros > icv(ic::M_E_)) {
    icv(ic::M_E_) = static_cast<int32_t>(
        std::min<int64_t>(kEtaSizingFactor * nonzeros + kEtaSizingReserve, INT32_MAX / 4));
    release_lu_arrays();
  }
  if ((problem_flags & PF_LU_ARRAYS) != 0 && eta_file.lu_rows != nrow) release_lu_arrays();
  if ((problem_flags & PF_LU_ARRAYS) == 0 && alloc_lu_arrays() != 0) {
    failure = kNoMemoryForArrays;
    return;
  }
  place_slacks();
  size_work(nrow);
  build_working_copies();
  repaired_rows = repair_empty_rows();
  if (repaired_rows > 0) {
    nonzeros = 0;
    for (int32_t i = 1; i <= nrow; ++i) nonzeros += basic_column_nonzeros(header[i]);
    build_working_copies();
  }
  if (2 * nonzeros >= eta_file.eta_capacity) {
    failure = kFileTooSmall;
    return;
  }
  eta_file.basis_nonzeros = static_cast<int32_t>(nonzeros);
  eta_file.u_file_end = static_cast<int32_t>(nonzeros);
  eta_file.row_file_end = static_cast<int32_t>(nonzeros);
  eta_file.invert_part_size = 0;
  set_slot_low_word(eta_file.eta_capacity, 0);
  set_slot_high_word(eta_file.eta_capacity, 0);
}

// ---------------------------------------------------------------------------
// Slack pivots and singleton passes.

void slack_pivots() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  int32_t count = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (header[i] != i) continue;
    pivot_marks(i, i);
    ++count;
  }
  eta_file.slack_pivots = -count;
}

bool column_singleton_pass() {
  const double tolerance = factor.invert_drop_tolerance;
  w.queue.clear();
  for (int32_t j = 1; j <= nrow; ++j)
    if (w.col_step[j] == 0 && w.cols[j].size() == 1) w.queue.push_back(j);
  for (size_t q = 0; q < w.queue.size(); ++q) {
    const int32_t c = w.queue[q];
    if (w.col_step[c] != 0 || w.cols[c].size() != 1) continue;
    const int32_t r = w.cols[c][0];
    std::vector<Entry>& row = w.rows[r];
    auto it = find_entry(row, c);
    if (it == row.end() || std::fabs(it->value) <= tolerance) continue;
    const double p = it->value;
    const double m = pivot_multiplier(p);
    if (p != 1.0 && !room_for(2)) return false;
    std::swap(row[0], *it);
    w.cols[c].clear();
    for (size_t k = 1; k < row.size(); ++k) {
      if (p != 1.0) row[k].value *= m;
      const int32_t j = row[k].col;
      remove_from_pattern(j, r);
      if (w.cols[j].size() == 1 && w.col_step[j] == 0) w.queue.push_back(j);
    }
    ++eta_file.column_singletons;
    if (p != 1.0) write_diagonal_eta(r, m);
    pivot_marks(r, c);
  }
  eta_file.diagonal_eta_count = eta_file.invert_eta_count;
  return true;
}

bool row_singleton_pass() {
  const double tolerance = factor.invert_drop_tolerance;
  w.queue.clear();
  for (int32_t i = 1; i <= nrow; ++i)
    if (w.row_step[i] == 0 && w.rows[i].size() == 1) w.queue.push_back(i);
  for (size_t q = 0; q < w.queue.size(); ++q) {
    const int32_t r = w.queue[q];
    if (w.row_step[r] != 0 || w.rows[r].size() != 1) continue;
    const int32_t c = w.rows[r][0].col;
    const double p = w.rows[r][0].value;
    if (std::fabs(p) <= tolerance) continue;
    remove_from_pattern(c, r);
    const int32_t k = static_cast<int32_t>(w.cols[c].size());
    if (!room_for(k + 2)) return false;
    int32_t written = 0;
    for (int32_t i : w.cols[c]) {
      std::vector<Entry>& row = w.rows[i];
      auto it = find_entry(row, c);
      const double a = it->value;
      *it = row.back();
      row.pop_back();
      write_eta_entry(written++, i, a);
      if (row.size() == 1) w.queue.push_back(i);
    }
    close_column_eta(r, pivot_multiplier(p), written);
    eta_file.u_file_end -= written;
    w.cols[c].clear();
    ++eta_file.row_singletons;
    pivot_marks(r, c);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Count buckets.

void bucket_insert_row(int32_t i) {
  const int32_t c = static_cast<int32_t>(w.rows[i].size());
  w.row_prev[i] = 0;
  w.row_next[i] = w.row_head[c];
  if (w.row_head[c] != 0) w.row_prev[w.row_head[c]] = i;
  w.row_head[c] = i;
  w.row_in_bucket[i] = 1;
}

void bucket_remove_row(int32_t i) {
  if (!w.row_in_bucket[i]) return;
  const int32_t c = static_cast<int32_t>(w.rows[i].size());
  if (w.row_prev[i] != 0)
    w.row_next[w.row_prev[i]] = w.row_next[i];
  else
    w.row_head[c] = w.row_next[i];
  if (w.row_next[i] != 0) w.row_prev[w.row_next[i]] = w.row_prev[i];
  w.row_in_bucket[i] = 0;
}

void bucket_insert_col(int32_t j) {
  const int32_t c = static_cast<int32_t>(w.cols[j].size());
  w.col_prev[j] = 0;
  w.col_next[j] = w.col_head[c];
  if (w.col_head[c] != 0) w.col_prev[w.col_head[c]] = j;
  w.col_head[c] = j;
  w.col_in_bucket[j] = 1;
}

void bucket_remove_col(int32_t j) {
  if (!w.col_in_bucket[j]) return;
  const int32_t c = static_cast<int32_t>(w.cols[j].size());
  if (w.col_prev[j] != 0)
    w.col_next[w.col_prev[j]] = w.col_next[j];
  else
    w.col_head[c] = w.col_next[j];
  if (w.col_next[j] != 0) w.col_prev[w.col_next[j]] = w.col_prev[j];
  w.col_in_bucket[j] = 0;
}

void build_buckets() {
  const size_t size = static_cast<size_t>(nrow) + 2;
  w.row_head.assign(size, 0);
  w.row_next.assign(size, 0);
  w.row_prev.assign(size, 0);
  w.col_head.assign(size, 0);
  w.col_next.assign(size, 0);
  w.col_prev.assign(size, 0);
  w.row_in_bucket.assign(size, 0);
  w.col_in_bucket.assign(size, 0);
  w.col_aside.assign(size, 0);
  for (int32_t i = 1; i <= nrow; ++i) {
    if (w.row_step[i] != 0) continue;
    if (w.rows[i].empty())
      ++w.empty_rows;
    else
      bucket_insert_row(i);
    put_maximum_first(w.rows[i]);
  }
  for (int32_t j = 1; j <= nrow; ++j) {
    if (w.col_step[j] != 0) continue;
    if (w.cols[j].empty())
      ++w.empty_cols;
    else
      bucket_insert_col(j);
  }
}

// ---------------------------------------------------------------------------
// Markowitz search: the cheapest pivot by (column count - 1)(row count - 1)
// among elements that pass the relative threshold test.

struct Candidate {
  int32_t row = 0;
  int32_t col = 0;
  int64_t merit = std::numeric_limits<int64_t>::max();
};

bool markowitz_search(double u, Candidate& best) {
  best = Candidate{};
  int32_t examined = 0;
  for (int64_t c = 1; c <= nrow && (c - 1) * (c - 1) < best.merit; ++c) {
    const int64_t bound = (c - 1) * (c - 1);
    for (int32_t j = w.col_head[c]; j != 0;) {
      const int32_t next = w.col_next[j];
      int32_t tested = 0;
      int32_t rejected = 0;
      for (int32_t i : w.cols[j]) {
        const std::vector<Entry>& row = w.rows[i];
        const int64_t merit = (c - 1) * (static_cast<int64_t>(row.size()) - 1);
        if (merit >= best.merit) continue;
        ++tested;
        const bool first = row[0].col == j;
        if (!first) {
          const double a = std::fabs(find_entry(w.rows[i], j)->value);
          if (a < kMinimumPivot || a < u * std::fabs(row[0].value)) {
            ++rejected;
            continue;
          }
        }
        best = {i, j, merit};
        if (merit <= bound) return true;
      }
      if (tested == static_cast<int32_t>(c) && rejected == tested) {
        bucket_remove_col(j);
        w.col_aside[j] = 1;
      }
      ++examined;
      if (best.row != 0 && examined >= kMarkowitzCandidates) return true;
      j = next;
    }
    for (int32_t i = w.row_head[c]; i != 0; i = w.row_next[i]) {
      const std::vector<Entry>& row = w.rows[i];
      const double maximum = std::fabs(row[0].value);
      const int64_t merit = (static_cast<int64_t>(w.cols[row[0].col].size()) - 1) * (c - 1);
      if (merit < best.merit) {
        best = {i, row[0].col, merit};
        if (merit <= bound) return true;
      }
      if (u * maximum >= kMinimumPivot) {
        for (size_t k = 1; k < row.size(); ++k) {
          if (std::fabs(row[k].value) < u * maximum) continue;
          const int64_t m = (static_cast<int64_t>(w.cols[row[k].col].size()) - 1) * (c - 1);
          if (m >= best.merit) continue;
          best = {i, row[k].col, m};
          if (m <= bound) return true;
        }
      }
      ++examined;
      if (best.row != 0 && examined >= kMarkowitzCandidates) return true;
    }
  }
  return best.row != 0;
}

// ---------------------------------------------------------------------------
// Elimination step with pivot row r and pivot column c.

// Row i less a_ic times the pivot row (held scaled by 1/pivot in
// w.pivot_row, its columns marked -1). Updated elements at or below the drop
// tolerance leave the row; fill-in above it is appended.
void update_row(int32_t i, double a_ic, const std::vector<Entry>& pivot_entries) {
  const double tolerance = factor.invert_drop_tolerance;
  std::vector<Entry>& row = w.rows[i];
  size_t kept = 0;
  for (size_t k = 0; k < row.size(); ++k) {
    Entry e = row[k];
    if (w.marker[e.col] == -1) {
      e.value -= a_ic * w.pivot_row[e.col];
      w.marker[e.col] = 1;
      if (std::fabs(e.value) <= tolerance) {
        remove_from_pattern(e.col, i);
        --eta_file.u_file_end;
        continue;
      }
    }
    row[kept++] = e;
  }
  row.resize(kept);
  for (size_t k = 1; k < pivot_entries.size(); ++k) {
    const int32_t col = pivot_entries[k].col;
    if (w.marker[col] == 1) {
      w.marker[col] = -1;
      continue;
    }
    const double fill = -a_ic * w.pivot_row[col];
    if (std::fabs(fill) <= tolerance) continue;
    row.push_back({col, fill});
    w.cols[col].push_back(i);
    ++eta_file.u_file_end;
  }
  put_maximum_first(row);
}

bool eliminate(int32_t r, int32_t c) {
  std::vector<Entry>& pivot_entries = w.rows[r];
  std::vector<int32_t>& column_rows = w.column_rows;
  column_rows.assign(w.cols[c].begin(), w.cols[c].end());
  if (!room_for(static_cast<int32_t>(column_rows.size()) + 2)) return false;

  bucket_remove_row(r);
  bucket_remove_col(c);
  for (int32_t i : column_rows) bucket_remove_row(i);
  for (const Entry& e : pivot_entries) bucket_remove_col(e.col);
  for (const Entry& e : pivot_entries) remove_from_pattern(e.col, r);

  auto it = find_entry(pivot_entries, c);
  const double p = it->value;
  const double m = pivot_multiplier(p);
  std::swap(pivot_entries[0], *it);
  for (size_t k = 1; k < pivot_entries.size(); ++k) {
    if (p != 1.0) pivot_entries[k].value *= m;
    w.pivot_row[pivot_entries[k].col] = pivot_entries[k].value;
    w.marker[pivot_entries[k].col] = -1;
  }

  int32_t written = 0;
  for (int32_t i : column_rows) {
    if (i == r) continue;
    std::vector<Entry>& row = w.rows[i];
    if (row.empty()) continue;
    auto at = find_entry(row, c);
    if (at == row.end()) continue;
    const double a_ic = at->value;
    *at = row.back();
    row.pop_back();
    update_row(i, a_ic, pivot_entries);
    if (row.empty()) ++w.empty_rows;
    write_eta_entry(written++, i, a_ic);
    --eta_file.u_file_end;
  }
  if (written > 0 || p != 1.0) close_column_eta(r, m, written);
  w.cols[c].clear();
  pivot_marks(r, c);

  for (int32_t i : column_rows)
    if (i != r && w.row_step[i] == 0 && !w.rows[i].empty()) bucket_insert_row(i);
  for (size_t k = 1; k < pivot_entries.size(); ++k) {
    const int32_t j = pivot_entries[k].col;
    w.marker[j] = 0;
    if (w.cols[j].empty()) {
      ++w.empty_cols;
      w.col_aside[j] = 0;
      continue;
    }
    if (w.col_aside[j] && w.cols[j].size() != 1) continue;
    w.col_aside[j] = 0;
    bucket_insert_col(j);
  }
  return true;
}

EliminationEnd run_elimination(double u) {
  slack_pivots();
  if (!column_singleton_pass()) return EliminationEnd::kOutOfRoom;
  if (!row_singleton_pass()) return EliminationEnd::kOutOfRoom;
  build_buckets();
  for (;;) {
    const int32_t e = std::max(w.empty_rows, w.empty_cols);
    if (nrow < w.steps + 1 + e) break;
    Candidate best;
    if (!markowitz_search(u, best)) break;
    if (!eliminate(best.row, best.col)) return EliminationEnd::kOutOfRoom;
  }
  return w.steps == nrow ? EliminationEnd::kComplete : EliminationEnd::kSingular;
}

// ---------------------------------------------------------------------------
// Singular basis: unpivoted columns leave, the slacks of unpivoted rows enter.

void repair_singular_basis() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t e = nrow - w.steps;
  if (icv(ic::IFMSG) > 0) {
    begin_message(MSG_BASIS_SINGULAR);
    insert_message_int(e);
    emit_message();
  }
  bool free_changed = false;
  int32_t taken_out = 0;
  for (int32_t j = 1; j <= nrow; ++j) {
    if (w.col_step[j] != 0) continue;
    const int32_t v = header[j];
    free_changed |= make_nonbasic(v);
    if (crossover_mode > 0) {
      status[v] |= PS_MARK;
      marks_exist = 1;
    }
    ++taken_out;
    if (repair_record.repair_count + taken_out <= kRepairListSize)
      repair_record.removed_variables[repair_record.repair_count + taken_out - 1] = v;
  }
  int32_t put_in = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (w.row_step[i] != 0) continue;
    make_slack_basic(i);
    ++put_in;
    if (repair_record.repair_count + put_in <= kRepairListSize)
      repair_record.slack_rows[repair_record.repair_count + put_in - 1] = i;
  }
  rebuild_row_lists_if_needed(free_changed);
  set_basis_header();
  reset_row_weights();
  repair_record.repair_count += e;
  ++factor_stats.singular_repairs;
}

// ---------------------------------------------------------------------------
// U file, basis header permutation, solve chains.

// Lays the U rows of the pivoted rows out as U columns in pivot order.
// Entries below the drop tolerance are left out. False when out of room.
bool build_u_file() {
  const double drop = dcv(dc::ZTETA);
  std::vector<int32_t> count(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t k = 1; k <= nrow; ++k) {
    const std::vector<Entry>& row = w.rows[w.step_row[k]];
    for (size_t q = 1; q < row.size(); ++q)
      if (std::fabs(row[q].value) >= drop) ++count[row[q].col];
  }
  int64_t end = kUFirstRecord;
  for (int32_t k = 1; k <= nrow; ++k) {
    const int32_t c = count[w.step_col[k]];
    if (c > 0) end += c + 2;
  }
  const int64_t need = end + nrow + eta_file.invert_part_size;
  if (need >= eta_file.eta_capacity) {
    w.shortfall = static_cast<int32_t>(std::min<int64_t>(need - eta_file.eta_capacity + 1, INT32_MAX / 4));
    return false;
  }
  // Start position of each column's record.
  std::vector<int32_t> position(static_cast<size_t>(nrow) + 1, 0);
  std::vector<int32_t> fill(static_cast<size_t>(nrow) + 1, 0);
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  set_slot_low_word(1, 0);
  set_slot_high_word(1, 0);
  labels[kUSentinelRecord] = 0;
  set_slot_low_word(kUSentinelRecord, 2);
  eta_next()[kUSentinelRecord] = 0;
  int32_t a = kUFirstRecord;
  int32_t previous = kUSentinelRecord;
  int32_t records = 0;
  for (int32_t k = 1; k <= nrow; ++k) {
    const int32_t col = w.step_col[k];
    const int32_t c = count[col];
    if (c == 0) continue;
    position[col] = a;
    set_slot_low_word(a - 1, c);
    set_slot_high_word(a - 1, a - previous);
    labels[a] = w.step_row[k];
    set_slot_low_word(a, c + 2);
    previous = a;
    a += c + 2;
    ++records;
  }
  for (int32_t k = 1; k <= nrow; ++k) {
    const int32_t r = w.step_row[k];
    const std::vector<Entry>& row = w.rows[r];
    for (size_t q = 1; q < row.size(); ++q) {
      if (std::fabs(row[q].value) < drop) continue;
      const int32_t col = row[q].col;
      const int32_t slot = position[col] + 1 + fill[col]++;
      labels[slot] = r;
      values[slot] = row[q].value;
    }
  }
  eta_file.u_column_count = records;
  eta_file.u_last_record = previous;
  eta_file.u_file_end = a;
  return true;
}

// Entry (row pivoted at step k) := old entry (column pivoted at step k).
void permute_header() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  std::vector<int32_t> old(static_cast<size_t>(nrow) + 1);
  for (int32_t i = 1; i <= nrow; ++i) old[i] = header[i];
  for (int32_t k = 1; k <= nrow; ++k) header[w.step_row[k]] = old[w.step_col[k]];
  if (algorithm_kind() == 0) return;
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (!weights) return;
  std::vector<double> old_weights(static_cast<size_t>(nrow) + 1);
  for (int32_t i = 1; i <= nrow; ++i) old_weights[i] = weights[i];
  for (int32_t k = 1; k <= nrow; ++k) weights[w.step_row[k]] = old_weights[w.step_col[k]];
}

// Rows renumbered in order of first appearance in the factor (the dual's
// permuted factor): factor_index row -> number, factor_rows number -> row.
void renumber_rows() {
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  std::vector<int32_t> number(static_cast<size_t>(nrow) + 1, 0);
  int32_t front = 0;
  auto meet = [&](int32_t r) {
    if (number[r] == 0) number[r] = ++front;
  };
  const int32_t bottom = invert_records_bottom();
  for (int32_t t = eta_file.eta_capacity; t > bottom;) {
    const int32_t c = slot_low_word(t);
    for (int32_t s = t - 1; s >= t - 1 - c; --s) meet(rows[s]);
    t = t - 2 - c;
  }
  int32_t a = eta_file.u_last_record;
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t c = slot_low_word(a - 1);
    for (int32_t s = a; s <= a + c; ++s) meet(labels[s]);
    a -= slot_high_word(a - 1);
  }
  factor.factor_dimension = front;
  int32_t back = nrow + 1;
  const int32_t kind = algorithm_kind();
  const bool semicont = has_semicont_columns != 0;
  OneBased<double> working_costs = real_array(ARR_WORKING_COSTS);
  for (int32_t i = 1; i <= nrow; ++i) {
    if (number[i] != 0) continue;
    const int32_t v = header[i];
    bool at_end = true;
    if (kind != 0) {
      if (!semicont)
        at_end = !working_costs || working_costs[v] == 0.0;
      else
        at_end = is_slack(v);
    }
    if (at_end) {
      number[i] = --back;
    } else {
      number[i] = ++front;
      ++factor.factor_dimension;
    }
  }
  for (int32_t t = eta_file.eta_capacity; t > bottom;) {
    const int32_t c = slot_low_word(t);
    for (int32_t s = t - 1; s >= t - 1 - c; --s) rows[s] = number[rows[s]];
    t = t - 2 - c;
  }
  a = eta_file.u_last_record;
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t c = slot_low_word(a - 1);
    for (int32_t s = a; s <= a + c; ++s) labels[s] = number[labels[s]];
    a -= slot_high_word(a - 1);
  }
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> back_map = int_array(ARR_FACTOR_ROWS);
  std::vector<int32_t> old(static_cast<size_t>(nrow) + 1);
  for (int32_t i = 1; i <= nrow; ++i) {
    index[i] = number[i];
    back_map[number[i]] = i;
    old[i] = header[i];
  }
  for (int32_t i = 1; i <= nrow; ++i) header[number[i]] = old[i];
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (kind != 0 && weights) {
    std::vector<double> old_weights(static_cast<size_t>(nrow) + 1);
    for (int32_t i = 1; i <= nrow; ++i) old_weights[i] = weights[i];
    for (int32_t i = 1; i <= nrow; ++i) weights[number[i]] = old_weights[i];
  }
}

void build_solve_chains() {
  for (int id : {ARR_ROW_ETA_HEADS, ARR_INVERT_CHAINS, ARR_ROW_ETA_CHAINS, ARR_U_HIGHEST_SLOT, ARR_U_CHAINS}) {
    OneBased<int32_t> a = array_of<int32_t>(id);
    for (int32_t i = 1; i <= nrow; ++i) a[i] = 0;
  }
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> back_map = int_array(ARR_FACTOR_ROWS);
  if (factor.factor_permuted != 0 && index && back_map) {
    factor.factor_permuted = 1;
    renumber_rows();
  } else {
    factor.factor_dimension = nrow;
    if (index && back_map)
      for (int32_t i = 1; i <= nrow; ++i) index[i] = back_map[i] = i;
  }
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> next = eta_next();
  OneBased<int32_t> invert_heads = int_array(ARR_INVERT_CHAINS);
  OneBased<int32_t> u_heads = int_array(ARR_U_CHAINS);
  OneBased<int32_t> highest = int_array(ARR_U_HIGHEST_SLOT);
  // Invert part from the top: each slot is prepended, so chains run from the
  // lowest slot up.
  const int32_t bottom = invert_records_bottom();
  int32_t record = 0;
  for (int32_t t = eta_file.eta_capacity; t > bottom; ++record) {
    const int32_t c = slot_low_word(t);
    const int32_t p = t - 1;
    const int32_t r = rows[p];
    next[p] = 0;
    if (record < eta_file.diagonal_eta_count)
      labels[p] = -1;
    else
      labels[p] = std::abs(invert_heads[r]);
    invert_heads[r] = -p;
    for (int32_t s = p - 1; s >= p - c; --s) {
      const int32_t i = rows[s];
      next[s] = r;
      labels[s] = std::abs(invert_heads[i]);
      invert_heads[i] = s;
    }
    t = t - 2 - c;
  }
  // U file from its last record backwards.
  OneBased<double> values = eta_value();
  const double drop = dcv(dc::ZTETA);
  int32_t a = eta_file.u_last_record;
  for (int32_t k = 0; k < eta_file.u_column_count; ++k) {
    const int32_t c = slot_low_word(a - 1);
    const int32_t h = labels[a];
    for (int32_t s = a + c; s > a; --s) {
      next[s] = h;
      const int32_t i = labels[s];
      if (std::fabs(values[s]) < drop) {
        values[s] = 0.0;
        rows[s] = 0;
        continue;
      }
      rows[s] = std::abs(u_heads[i]);
      u_heads[i] = s;
      if (highest[i] == 0) highest[i] = s;
    }
    next[a] = 0;
    rows[a] = std::abs(u_heads[h]);
    u_heads[h] = -a;
    if (highest[h] == 0) highest[h] = a;
    a -= slot_high_word(a - 1);
  }
}

void fill_basic_upper() {
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (!basic_upper || !upper) return;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t v = header[i];
    basic_upper[i] = (status[v] & PS_FINITE_UPPER) != 0 ? upper[v] : kInfinity;
  }
}

// ---------------------------------------------------------------------------
// The attempt loop.

// The invert ends without a factor: message 102 and the statistics when
// nothing was reported yet, status word 32.
void give_up() {
  if (status_code == STATUS_OK) {
    begin_message(MSG_ETA_FILE_FULL);
    emit_message();
    report_invert_statistics();
  }
  status_code = STATUS_REPORTED;
}

// Grows the file for the next attempt; false after give_up when it cannot.
bool grow_for_next_attempt(int32_t request) {
  int32_t failure = 0;
  if ((problem_flags & PF_LU_ARRAYS) != 0) grow_lu_arrays(failure, request);
  if (failure == 0 && (problem_flags & PF_LU_ARRAYS) != 0) {
    factor_stats.last_restart = AttemptRestart::kEtaFileGrown;
    return true;
  }
  give_up();
  return false;
}

// The pivot threshold survives between inverts; one that was never set
// (0 after start-up) is taken from ZTOLRI.
double current_threshold() {
  double& u = dcv(dslot::kInvertPivotThreshold);
  if (u <= 0.0) u = dcv(dc::ZTOLRI);
  return u;
}

// True when the factor is accepted, false when a raised threshold asks for
// a new attempt.
bool accept_or_raise_threshold(double u) {
  double measure = 0.0;
  compute_basic_solution(measure);
  factor_stats.last_residual = measure;
  double raised = u;
  if (judge_residual(measure, u, raised) == ResidualVerdict::kAccept) return true;
  factor_accurate = 0;
  dcv(dslot::kInvertPivotThreshold) = raised;
  ++factor_stats.threshold_raises;
  factor_stats.last_restart = AttemptRestart::kThresholdRaised;
  if (icv(ic::IFMSG) > 0) {
    begin_message(MSG_INVERT_THRESHOLD_RAISED);
    insert_message_real(std::isnan(measure) ? kInfinity : measure);
    insert_message_real(raised);
    emit_message();
  }
  return false;
}

void accept_factor() {
  if (crossover_mode > 0) crossover_mode = 1;
  if (crossover_mode < 0) crossover_mode = -1;
  problem_flags |= PF_FACTOR_VALID;
  if (crossover_mode <= 0) {
    check_basic_feasibility();
    if (algorithm_kind() == 0) clear_mark_bits();
  }
  eta_file.invert_size_at_factor = eta_file.invert_part_size;
  ++factor_stats.accepted;
}

}  // namespace

ResidualVerdict judge_residual(double measure, double u, double& raised_threshold) {
  raised_threshold = u;
  if (measure < kResidualAcceptance) return ResidualVerdict::kAccept;
  if (u <= kThresholdStep1) {
    raised_threshold = kRaisedThreshold1Stored;
    return ResidualVerdict::kRaiseThreshold;
  }
  if (u <= kThresholdStep2) {
    raised_threshold = kRaisedThreshold2;
    return ResidualVerdict::kRaiseThreshold;
  }
  return ResidualVerdict::kAccept;
}

void report_invert_statistics() {
  begin_message(MSG_INVERT_COUNTS);
  insert_message_value12(eta_file.basis_nonzeros);
  insert_message_value12(eta_file.invert_eta_count);
  insert_message_value12(eta_file.row_eta_count);
  emit_message();
  begin_message(MSG_INVERT_FILE_USE);
  insert_message_value12(eta_file.row_file_end);
  insert_message_value12(eta_file.pattern_file_end);
  insert_message_value12(eta_file.u_file_end);
  insert_message_value12(eta_file.invert_part_size);
  emit_message();
  begin_message(MSG_INVERT_CAPACITY);
  insert_message_value12(eta_file.eta_capacity);
  emit_message();
}

void compute_basic_solution(double& measure) {
  measure = 0.0;
  OneBased<double> basic_values = real_array(ARR_BASIC_VALUES);
  if (!basic_values || !real_array(ARR_WORK_RHS) || !work_vector()) return;
  compute_basic_values();
  OneBased<double> residual = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && index;
  auto at = [&](int32_t row) { return permuted ? index[row] : row; };
  const int32_t dimension = factor.factor_dimension;
  for (int32_t k = 1; k <= dimension; ++k) {
    const int32_t v = header[k];
    const double xb = basic_values[k];
    if (xb == 0.0) continue;
    if (is_slack(v)) {
      residual[at(v)] -= xb;
      continue;
    }
    for (int32_t q = start[v]; q < start[v + 1]; ++q) residual[at(elem_row[q])] -= elem_value[q] * xb;
  }
  double largest_residual = 0.0;
  double largest_value = 0.0;
  bool not_a_number = false;
  for (int32_t k = 1; k <= dimension; ++k) {
    if ((status[header[k]] & PS_FREE) != 0) continue;
    const double r = std::fabs(residual[k]);
    not_a_number |= std::isnan(r);
    largest_residual = std::max(largest_residual, r);
    largest_value = std::max(largest_value, std::fabs(basic_values[k]));
  }
  factor.work_vector_state = WV_CLEAR_ALL;
  if (not_a_number) {
    measure = std::numeric_limits<double>::infinity();
    return;
  }
  measure = largest_residual <= kRelativeResidualLimit
                ? largest_residual / (largest_value + kResidualValueOffset)
                : largest_residual;
}

void invert_basis(InvertReason reason) {
  ++factor_stats.inverts;
  factor_stats.last_reason = reason;
  factor_stats.last_restart = AttemptRestart::kNone;
  problem_flags &= ~PF_FACTOR_VALID;
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  if ((problem_flags & PF_ROW_COPY) == 0 && (problem_flags & PF_WORK_ARRAYS) != 0) build_row_copy();
  // Each repair takes at least one structural out, each growth enlarges the
  // file and the threshold rises twice at most, so the loop ends; the bound
  // only guards against a fault elsewhere.
  const int64_t attempt_limit = 2 * static_cast<int64_t>(nrow) + 64;
  for (int64_t attempt = 0;; ++attempt) {
    ++factor_stats.attempts;
    if (attempt > attempt_limit) {
      give_up();
      return;
    }
    if (icv(ic::IFMSG) > 9 && (problem_flags & PF_LU_ARRAYS) != 0) report_invert_statistics();
    factor.invert_drop_tolerance = dcv(dc::ZTETA);
    update_count = 0;
    eta_file.invert_eta_count = 0;
    eta_file.diagonal_eta_count = 0;
    eta_file.row_eta_count = 0;
    eta_file.product_form_count = 0;
    eta_file.column_singletons = 0;
    eta_file.row_singletons = 0;
    const double u = current_threshold();
    int32_t repaired = 0;
    int32_t failure = 0;
    prepare_invert(repaired, failure);
    if (failure == kNoMemoryForArrays) return;
    if (failure != kPrepared) {
      if (!grow_for_next_attempt(0)) return;
      continue;
    }
    const EliminationEnd end = run_elimination(u);
    if (end == EliminationEnd::kOutOfRoom) {
      if (!grow_for_next_attempt(w.shortfall)) return;
      continue;
    }
    if (end == EliminationEnd::kSingular) {
      repair_singular_basis();
      factor_stats.last_restart = AttemptRestart::kSingularRepaired;
      continue;
    }
    if (!build_u_file()) {
      if (!grow_for_next_attempt(w.shortfall)) return;
      continue;
    }
    // The invert's own records end here; the solves of the accuracy check
    // and the chains find their bottom through invert_size_at_factor.
    eta_file.invert_size_at_factor = eta_file.invert_part_size;
    permute_header();
    build_solve_chains();
    fill_basic_upper();
    if (icv(ic::IFMSG) > 9) report_invert_statistics();
    if (!accept_or_raise_threshold(u)) continue;
    accept_factor();
    return;
  }
}

}  // namespace kl
