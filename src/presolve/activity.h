// What presolve derives about rows: a row-wise copy of the live matrix and
// every row's activity range over its columns' working bounds, kept up to
// date as column bounds tighten.
//
// Working bounds of a column j: search_upper(j), search_lower(j) (arrays 96,
// 98), clipped to +-1e8; status bits 0x8000 / 0x800 say whether they are
// finite. At a row position i the same arrays hold the finite parts of the
// row's maximum and minimum activity; the counts below say how many terms
// those sums leave out because the bound they need is infinite.
#ifndef KLSOL_PRESOLVE_ACTIVITY_H
#define KLSOL_PRESOLVE_ACTIVITY_H

#include <cstdint>
#include <vector>

namespace kl {

// Row-wise copy of the live matrix: per entry the column position and the
// index of the element in the column-wise arrays (4, 5), so that it stays
// valid while coefficient values change. Rows count from 1: row i's entries
// are start[i] .. start[i + 1] - 1 (1-based entry numbers; index 0 unused).
struct PresolveRowCopy {
  std::vector<int32_t> start;
  std::vector<int32_t> column;
  std::vector<int32_t> element;
};
extern PresolveRowCopy presolve_row_copy;

// Per row (index 1..nrow; 0 unused).
struct PresolveActivityCounts {
  std::vector<int32_t> max_infinite;  // row_max_infinite_count
  std::vector<int32_t> min_infinite;  // row_min_infinite_count
  std::vector<int32_t> positive;      // row_positive_count: live entries > 0
  std::vector<int32_t> negative;      // row_negative_count: live entries <= 0
};
extern PresolveActivityCounts presolve_activity;

// Working bounds beyond this magnitude count as infinite.
inline constexpr double kPresolveInfinity = 1e8;

// spare: free slots after each row's entries (1 for the elimination pass,
// whose end marker is column 0).
void build_presolve_row_copy(int32_t spare);
void compute_row_activity_bounds();
// One sweep of the rows over the working bounds of their columns. Returns 0,
// or the first column whose working bounds crossed (the rows cannot all
// hold), with conflict_row the row that crossed them; the sweep stops there.
// With the round's tracing on, the rows that set each bound are recorded.
int32_t derive_implied_column_bounds(int32_t& conflict_row);

// What one implied-bounds pass dropped: bounds of columns that a row
// implies anyway, and the columns left free by it. ran: false when the
// pass does not apply (dual simplex, global search, IFPRES 2; pass 2 only
// with IFPRES 3 or more).
struct DroppedBounds {
  bool ran = false;
  int32_t lower = 0;
  int32_t upper = 0;
  int32_t freed = 0;
};
// pass 2, then derive_implied_column_bounds, then pass 1.
DroppedBounds derive_implied_bounds_pass(int32_t pass);

// Applies a changed working bound of one column and keeps the activity data
// in step. code: 1 lower changed, 2 upper changed, 4 write the bounds into
// the problem (fixing a column whose bounds meet), 8 leave the row copy's
// order alone. Returns 0 (lower handled), 1 (upper handled), -k (column
// fixed and taken out of k live rows) or -(nrow + 1) (bounds cross).
int32_t tighten_column_bound(int32_t code, int32_t column, double old_lower, double old_upper);

// Releases the row copy and the counts.
void free_presolve_activity();

}  // namespace kl

#endif
