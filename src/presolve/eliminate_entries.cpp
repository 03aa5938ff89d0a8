#include "presolve/eliminate_entries.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// 2^(64 - e) for the scale byte e of a status word (0 reads as 64): the
// factor from scaled to the problem's own terms. The power is built from its
// exponent bits: every byte gives a normal double, and this sits on the
// inner loop of the set-up, where a library call per entry showed.
double unscale_factor(int32_t p) {
  int32_t e = static_cast<int32_t>(status_of(p) >> 24);
  if (e == 0) e = kScaleBias;
  constexpr int64_t kExponentBias = 1023;
  constexpr int kMantissaBits = 52;
  return std::bit_cast<double>(static_cast<uint64_t>(kScaleBias - e + kExponentBias) << kMantissaBits);
}

}  // namespace

bool EliminationEntries::row_live(int32_t i) const {
  return i >= 1 && i <= nrow && (status_of(i) & PS_FREE) == 0 && (int_array(ARR_ROW_TYPE)[i] & ROW_N) == 0;
}

bool EliminationEntries::free_like(int32_t j) const {
  if ((status_of(j) & PS_FREE) != 0) return true;
  const double ztolze = dcv(dc::ZTOLZE);
  return real_array(ARR_WORK_UPPER)[j] + ztolze < real_array(ARR_UPPER)[j] &&
         real_array(ARR_LOWER)[j] < real_array(ARR_WORK_LOWER)[j] - ztolze;
}

int64_t EliminationEntries::element_space() const {
  const int64_t first = int_array(ARR_COL_START)[store.first_col];
  int64_t last = store.elem_space;
  last = std::min(last, block_words(array_cells[ARR_ELEM_ROW]));
  last = std::min(last, block_words(array_cells[ARR_ELEM_VALUE]) / 2);
  return last - (first - 1);
}

bool EliminationEntries::set_up() {
  const size_t positions = static_cast<size_t>(nseq) + 2;
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const int64_t in_use = col_start[nseq + 1] - col_start[store.first_col];
  fill_capacity_ = std::max<int64_t>(0, std::min<int64_t>(icv(ic::NEXTRA), element_space() - in_use + 1));
  try {
    fill_.reserve(static_cast<size_t>(fill_capacity_) + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  fill_.assign(1, FillInRecord{});
  row_refs_.assign(positions, {});
  col_refs_.assign(positions, {});
  element_column_.assign(static_cast<size_t>(col_start[nseq + 1]) + 1, 0);
  max_entry_magnitude_.assign(positions, 0.0);
  nonpositive_.assign(positions, 0);
  positive_.assign(positions, 0);
  marked_.assign(positions, 0);
  shifted_.assign(positions, 0.0);
  scatter_.assign(positions, 0);
  // Each list is sized from a counting pass first: growing thousands of
  // small lists entry by entry cost more than the rest of the set-up.
  std::vector<int32_t> row_lengths(positions, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status_of(j) & PS_FIXED) != 0) continue;
    int32_t column_length = 0;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (!row_live(i) || elem_value[k] == 0.0) continue;
      ++row_lengths[static_cast<size_t>(i)];
      ++column_length;
    }
    col_refs_[static_cast<size_t>(j)].reserve(static_cast<size_t>(column_length));
  }
  for (int32_t i = 1; i <= nrow; ++i) row_refs_[static_cast<size_t>(i)].reserve(static_cast<size_t>(row_lengths[static_cast<size_t>(i)]));
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status_of(j) & PS_FIXED) != 0) continue;
    const bool free_column = free_like(j);
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (!row_live(i) || elem_value[k] == 0.0) continue;
      element_column_[static_cast<size_t>(k)] = j;
      row_refs_[static_cast<size_t>(i)].push_back(k);
      col_refs_[static_cast<size_t>(j)].push_back(k);
      note_magnitude(k);
      count_entry(i, elem_value[k], 1);
      if (free_column && (row_type[i] & ROW_E) != 0) marked_[static_cast<size_t>(i)] = 1;
    }
  }
  for (int32_t i = 1; i <= nrow; ++i) shifted_[static_cast<size_t>(i)] = real_array(ARR_WORK_RHS)[i];
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double l = real_array(ARR_LOWER)[j];
    if ((status_of(j) & (PS_FIXED | PS_FINITE_LOWER)) != PS_FINITE_LOWER || l == 0.0) continue;
    for (int32_t ref : col_refs_[static_cast<size_t>(j)]) shifted_[static_cast<size_t>(row_of(ref))] -= l * value(ref);
  }
  return true;
}

int32_t EliminationEntries::row_of(int32_t ref) const {
  return ref > 0 ? int_array(ARR_ELEM_ROW)[ref] : fill_[static_cast<size_t>(-ref)].row;
}

int32_t EliminationEntries::column_of(int32_t ref) const {
  return ref > 0 ? element_column_[static_cast<size_t>(ref)] : fill_[static_cast<size_t>(-ref)].column;
}

double EliminationEntries::value(int32_t ref) const {
  return ref > 0 ? real_array(ARR_ELEM_VALUE)[ref] : fill_[static_cast<size_t>(-ref)].value;
}

double EliminationEntries::unscaled(int32_t ref) const {
  return value(ref) * unscale_factor(row_of(ref)) * unscale_factor(column_of(ref));
}

double EliminationEntries::unscaled_rhs(int32_t i) const { return real_array(ARR_WORK_RHS)[i] * unscale_factor(i); }

double EliminationEntries::magnitude(int32_t ref) const { return std::fabs(unscaled(ref)); }

void EliminationEntries::note_magnitude(int32_t ref) {
  const double m = magnitude(ref);
  double& row_max = max_entry_magnitude_[static_cast<size_t>(row_of(ref))];
  double& col_max = max_entry_magnitude_[static_cast<size_t>(column_of(ref))];
  row_max = std::max(row_max, m);
  col_max = std::max(col_max, m);
}

void EliminationEntries::count_entry(int32_t i, double v, int delta) {
  (v <= 0.0 ? nonpositive_ : positive_)[static_cast<size_t>(i)] += delta;
}

void EliminationEntries::drop_ref(std::vector<int32_t>& list, int32_t ref) {
  const auto it = std::find(list.begin(), list.end(), ref);
  if (it != list.end()) list.erase(it);
}

void EliminationEntries::scatter_column(int32_t k) {
  for (int32_t ref : col_refs_[static_cast<size_t>(k)]) scatter_[static_cast<size_t>(row_of(ref))] = ref;
}

void EliminationEntries::unscatter_column(int32_t k) {
  for (int32_t ref : col_refs_[static_cast<size_t>(k)]) scatter_[static_cast<size_t>(row_of(ref))] = 0;
}

void EliminationEntries::shift_rows_by_column_value(int32_t p, double new_value, double old_value) {
  for (int32_t ref : col_refs_[static_cast<size_t>(p)])
    shifted_[static_cast<size_t>(row_of(ref))] -= (new_value - old_value) * value(ref);
}

void EliminationEntries::substitute_into_column(int32_t k, int32_t q, int32_t r, double ratio) {
  const double ztolda = dcv(dc::ZTOLDA);
  scatter_column(k);
  for (int32_t ref_iq : col_refs_[static_cast<size_t>(q)]) {
    const int32_t i = row_of(ref_iq);
    if (i == r) continue;
    const double delta = -value(ref_iq) * ratio;
    const int32_t ref_ik = scatter_[static_cast<size_t>(i)];
    if (ref_ik != 0) {
      const double old = value(ref_ik);
      const double updated = old + delta;
      count_entry(i, old, -1);
      if (std::fabs(updated) <= ztolda) {
        if (ref_ik > 0) {
          real_array(ARR_ELEM_VALUE)[ref_ik] = 0.0;
          int_array(ARR_ELEM_ROW)[ref_ik] = 0;
        } else {
          fill_[static_cast<size_t>(-ref_ik)] = FillInRecord{};
        }
        drop_ref(row_refs_[static_cast<size_t>(i)], ref_ik);
        drop_ref(col_refs_[static_cast<size_t>(k)], ref_ik);
        scatter_[static_cast<size_t>(i)] = 0;
        continue;
      }
      if (ref_ik > 0) real_array(ARR_ELEM_VALUE)[ref_ik] = updated;
      else fill_[static_cast<size_t>(-ref_ik)].value = updated;
      count_entry(i, updated, 1);
      note_magnitude(ref_ik);
    } else if (std::fabs(delta) > ztolda) {
      fill_.push_back(FillInRecord{i, k, delta});
      const int32_t ref = -fill_used();
      row_refs_[static_cast<size_t>(i)].push_back(ref);
      col_refs_[static_cast<size_t>(k)].push_back(ref);
      scatter_[static_cast<size_t>(i)] = ref;
      count_entry(i, delta, 1);
      note_magnitude(ref);
    }
  }
  unscatter_column(k);
}

void EliminationEntries::remove_row(int32_t r) {
  for (int32_t ref : row_refs_[static_cast<size_t>(r)]) drop_ref(col_refs_[static_cast<size_t>(column_of(ref))], ref);
  row_refs_[static_cast<size_t>(r)].clear();
  nonpositive_[static_cast<size_t>(r)] = 0;
  positive_[static_cast<size_t>(r)] = 0;
}

void EliminationEntries::remove_column(int32_t q) {
  for (int32_t ref : col_refs_[static_cast<size_t>(q)]) {
    const int32_t i = row_of(ref);
    drop_ref(row_refs_[static_cast<size_t>(i)], ref);
    count_entry(i, value(ref), -1);
  }
  col_refs_[static_cast<size_t>(q)].clear();
}

int32_t EliminationEntries::live_rows() const {
  int32_t n = 0;
  for (int32_t i = 1; i <= nrow; ++i)
    if (row_live(i)) ++n;
  return n;
}

int32_t EliminationEntries::live_columns() const {
  int32_t n = 0;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if ((status_of(j) & PS_FIXED) == 0) ++n;
  return n;
}

int32_t EliminationEntries::live_entries() const {
  int64_t n = 0;
  for (int32_t i = 1; i <= nrow; ++i)
    if (row_live(i)) n += row_count(i);
  return static_cast<int32_t>(n);
}

void EliminationEntries::merge_fill_in_records() {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  std::vector<std::vector<int32_t>> records(static_cast<size_t>(nseq) + 2);
  for (int32_t n = 1; n <= fill_used(); ++n) {
    const FillInRecord& f = fill_[static_cast<size_t>(n)];
    if (f.row != 0 && f.column != 0) records[static_cast<size_t>(f.column)].push_back(n);
  }
  const int32_t first = col_start[store.first_col];
  const int32_t old_end = col_start[nseq + 1];
  std::vector<int32_t> rows;
  std::vector<double> values;
  std::vector<int32_t> starts(static_cast<size_t>(nseq) + 2, 0);
  rows.reserve(static_cast<size_t>(old_end - first) + static_cast<size_t>(fill_used()));
  values.reserve(rows.capacity());
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    starts[static_cast<size_t>(j)] = first + static_cast<int32_t>(rows.size());
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      if (elem_value[k] == 0.0) continue;
      rows.push_back(elem_row[k]);
      values.push_back(elem_value[k]);
    }
    for (int32_t n : records[static_cast<size_t>(j)]) {
      rows.push_back(fill_[static_cast<size_t>(n)].row);
      values.push_back(fill_[static_cast<size_t>(n)].value);
    }
  }
  const int32_t new_end = first + static_cast<int32_t>(rows.size());
  for (size_t n = 0; n < rows.size(); ++n) {
    elem_row[first + static_cast<int32_t>(n)] = rows[n];
    elem_value[first + static_cast<int32_t>(n)] = values[n];
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) col_start[j] = starts[static_cast<size_t>(j)];
  // Spare columns start where the matrix ends.
  for (int32_t p = nseq + 1; p <= nseq + spare_cols_left + 1; ++p)
    if (col_start[p] == old_end) col_start[p] = new_end;
  nelem = new_end - first;
}

}  // namespace kl
