// The live matrix as the elimination pass sees and changes it: per row and
// per column the list of its live entries, each an element of the
// column-wise arrays or a fill-in record, with the counts, signs and
// magnitudes the pivot choice reads and the shifted right-hand sides.
//
// An entry reference ref > 0 is an element index of arrays 4 and 5; ref < 0
// names fill-in record -ref. A deleted element keeps its slot with row 0
// and value 0.0; a deleted record has row and column 0. Rows and columns
// count as positions (1..nseq).
#ifndef KLSOL_PRESOLVE_ELIMINATE_ENTRIES_H
#define KLSOL_PRESOLVE_ELIMINATE_ENTRIES_H

#include <cstdint>
#include <vector>

#include "problem/store.h"

namespace kl {

// Rows and columns carrying these are never used by the elimination.
inline constexpr uint32_t kEliminationUntouchable = PS_PROTECTED | PS_QUADRATIC;

inline uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }

// A fill-in element: its row, its column and its value.
struct FillInRecord {
  int32_t row = 0;
  int32_t column = 0;
  double value = 0.0;
};

class EliminationEntries {
 public:
  // Lists, counts, magnitudes and shifted right-hand sides of the live
  // matrix; false when the fill-in records could not be allocated.
  bool set_up();

  bool row_live(int32_t i) const;
  int32_t row_count(int32_t i) const { return static_cast<int32_t>(row_refs_[static_cast<size_t>(i)].size()); }
  int32_t column_count(int32_t j) const { return static_cast<int32_t>(col_refs_[static_cast<size_t>(j)].size()); }
  const std::vector<int32_t>& row_refs(int32_t i) const { return row_refs_[static_cast<size_t>(i)]; }
  const std::vector<int32_t>& column_refs(int32_t j) const { return col_refs_[static_cast<size_t>(j)]; }
  // A free-like column in one of its equality rows.
  bool marked(int32_t i) const { return marked_[static_cast<size_t>(i)] != 0; }
  // Live entries of row i at most 0 and above 0.
  int32_t nonpositive(int32_t i) const { return nonpositive_[static_cast<size_t>(i)]; }
  int32_t positive(int32_t i) const { return positive_[static_cast<size_t>(i)]; }
  // b'(i): the working rhs less lower(j) a(i,j) over the live columns with
  // a finite, non-zero lower bound.
  double shifted_rhs(int32_t i) const { return shifted_[static_cast<size_t>(i)]; }
  void shift_rhs(int32_t i, double delta) { shifted_[static_cast<size_t>(i)] += delta; }
  // Free (0x1), or both working bounds strictly inside the bounds.
  bool free_like(int32_t j) const;

  int32_t row_of(int32_t ref) const;
  int32_t column_of(int32_t ref) const;
  double value(int32_t ref) const;
  // The coefficient and the rhs in the problem's own (unscaled) terms.
  double unscaled(int32_t ref) const;
  double unscaled_rhs(int32_t i) const;
  double magnitude(int32_t ref) const;
  // Largest unscaled magnitude seen in a row or column.
  double max_entry_magnitude(int32_t p) const { return max_entry_magnitude_[static_cast<size_t>(p)]; }

  // Fill-in records that may still be made, those in use, and the element
  // slots the column-wise arrays provide.
  int64_t fill_left() const { return fill_capacity_ - fill_used(); }
  void use_fill_slot() { --fill_capacity_; }
  int32_t fill_records_used() const { return fill_used(); }
  int64_t element_space() const;

  // Column k's entries by row, for look-ups while k is changed.
  void scatter_column(int32_t k);
  int32_t scattered(int32_t i) const { return scatter_[static_cast<size_t>(i)]; }
  void unscatter_column(int32_t k);

  // b'(i) -= (new - old) a(i,p) over p's live rows.
  void shift_rows_by_column_value(int32_t p, double new_value, double old_value);
  // a(i,k) -= a(i,q) ratio for every live row i != r of q: entries that
  // fall to ZTOLDA are deleted, missing ones become fill-in.
  void substitute_into_column(int32_t k, int32_t q, int32_t r, double ratio);
  // Row r, then column q, leave the live matrix.
  void remove_row(int32_t r);
  void remove_column(int32_t q);

  int32_t live_rows() const;
  int32_t live_columns() const;
  int32_t live_entries() const;

  // Folds the records into the column-wise arrays after each column's
  // elements, dropping deleted elements; nelem follows. The caller has
  // checked element_space().
  void merge_fill_in_records();

 private:
  int32_t fill_used() const { return static_cast<int32_t>(fill_.size()) - 1; }
  void count_entry(int32_t i, double v, int delta);
  void note_magnitude(int32_t ref);
  void drop_ref(std::vector<int32_t>& list, int32_t ref);

  std::vector<std::vector<int32_t>> row_refs_;
  std::vector<std::vector<int32_t>> col_refs_;
  std::vector<int32_t> element_column_;
  std::vector<FillInRecord> fill_;
  int64_t fill_capacity_ = 0;
  std::vector<double> max_entry_magnitude_;
  std::vector<int32_t> nonpositive_;
  std::vector<int32_t> positive_;
  std::vector<char> marked_;
  std::vector<double> shifted_;
  std::vector<int32_t> scatter_;
};

}  // namespace kl

#endif
