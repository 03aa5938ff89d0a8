// Parallel rows: of two rows that are multiples of each other one leaves the
// problem as a free N row, the other keeps the intersection of both activity
// intervals. A duplicate-row record (type 8) per removal lets postsolve give
// the removed row its value, dual and basis status back.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "presolve/activity.h"
#include "presolve/duplicates.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// A row the caller protected is neither removed nor given new limits.
constexpr uint32_t kRowExcluded = PS_FREE | PS_PROTECTED | PS_QUADRATIC;

enum MergeResult : int32_t { MERGE_INFEASIBLE = 0, MERGE_DONE = 1, MERGE_PUSH_FAILED = 2 };

bool column_fixed(int32_t j) { return (static_cast<uint32_t>(int_array(ARR_POS_STATUS)[j]) & PS_FIXED) != 0; }

// The live (non-fixed) entries of row i: (column, element index) in row-copy
// order. A column 0 is the end marker of a copy built with a spare slot.
void live_entries(int32_t i, std::vector<int32_t>& columns, std::vector<int32_t>& elements) {
  columns.clear();
  elements.clear();
  for (int32_t k = presolve_row_copy.start[i]; k < presolve_row_copy.start[i + 1]; ++k) {
    const int32_t j = presolve_row_copy.column[k];
    if (j <= 0) break;
    if (column_fixed(j)) continue;
    columns.push_back(j);
    elements.push_back(presolve_row_copy.element[k]);
  }
}

bool row_eligible(int32_t i) {
  const uint32_t status = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[i]);
  return (int_array(ARR_ROW_TYPE)[i] & ROW_N) == 0 && (status & kRowExcluded) == 0;
}

// A row's activity interval from its rhs and slack bounds (activity = rhs -
// slack); a missing side is infinite.
struct Interval {
  bool has_lower = false;
  bool has_upper = false;
  double lower = -kInfinity;
  double upper = kInfinity;
};

Interval row_interval(int32_t i) {
  const uint32_t status = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[i]);
  const double b = real_array(ARR_WORK_RHS)[i];
  Interval v;
  if ((int_array(ARR_ROW_TYPE)[i] & ROW_E) != 0) {
    v = {true, true, b, b};
    return v;
  }
  if ((status & PS_FINITE_UPPER) != 0) {
    v.has_lower = true;
    v.lower = b - real_array(ARR_UPPER)[i];
  }
  if ((status & PS_FINITE_LOWER) != 0) {
    v.has_upper = true;
    v.upper = b - real_array(ARR_LOWER)[i];
  }
  return v;
}

// The interval of ratio x row u.
Interval scaled_interval(int32_t u, double ratio) {
  const Interval own = row_interval(u);
  Interval v;
  auto put = [&](bool present, double limit, bool as_lower) {
    if (!present) return;
    if (as_lower) {
      v.has_lower = true;
      v.lower = ratio * limit;
    } else {
      v.has_upper = true;
      v.upper = ratio * limit;
    }
  };
  put(own.has_lower, own.lower, ratio > 0.0);
  put(own.has_upper, own.upper, ratio < 0.0);
  return v;
}

// The classes of rows with identical live patterns (same columns in the same
// order), each of two rows or more, rows ascending within a class.
std::vector<std::vector<int32_t>> row_pattern_classes() {
  std::vector<std::vector<int32_t>> pattern(static_cast<size_t>(nrow) + 1);
  std::vector<int32_t> rows;
  std::vector<int32_t> unused;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (!row_eligible(i)) continue;
    live_entries(i, pattern[i], unused);
    if (!pattern[i].empty()) rows.push_back(i);
  }
  std::stable_sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
    if (pattern[a].size() != pattern[b].size()) return pattern[a].size() < pattern[b].size();
    return pattern[a] < pattern[b];
  });
  std::vector<std::vector<int32_t>> classes;
  for (size_t s = 0; s < rows.size();) {
    size_t e = s + 1;
    while (e < rows.size() && pattern[rows[e]] == pattern[rows[s]]) ++e;
    if (e - s > 1) classes.emplace_back(rows.begin() + static_cast<std::ptrdiff_t>(s),
                                        rows.begin() + static_cast<std::ptrdiff_t>(e));
    s = e;
  }
  return classes;
}

// Row R leaves the problem as a free N row.
void free_removed_row(int32_t removed) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  status[removed] = static_cast<int32_t>((static_cast<uint32_t>(status[removed]) | PS_FREE) &
                                         ~static_cast<uint32_t>(PS_FINITE_UPPER | PS_FINITE_LOWER | PS_FIXED));
  row_type[removed] = (row_type[removed] & ~(ROW_E | ROW_G | ROW_L)) | ROW_N;
  real_array(ARR_LOWER)[removed] = -kInfinity;
  real_array(ARR_UPPER)[removed] = kInfinity;
}

// The kept row with both slack bounds finite becomes a range (L) row, or an
// equality when the merged range is too narrow to tell from a point. Returns
// 1 when it became an equality. A range below ZTOLDA, negative ones
// included (the intervals met only within ZTOLZE), gives an equality: a
// negative range would leave a slack whose upper bound lies below its lower.
int32_t normalise_kept_row(int32_t kept) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  const uint32_t s = static_cast<uint32_t>(status[kept]);
  if ((s & PS_BOTH_FINITE) != PS_BOTH_FINITE || (row_type[kept] & ROW_E) != 0) return 0;
  row_type[kept] = (row_type[kept] & ~ROW_G) | ROW_L;
  const double range = upper[kept] - lower[kept];
  if (range >= dcv(dc::ZTOLDA)) {
    if (lower[kept] != 0.0) rhs[kept] -= lower[kept];
    upper[kept] = range;
    lower[kept] = 0.0;
    return 0;
  }
  row_type[kept] = (row_type[kept] & ~ROW_L) | ROW_E;
  status[kept] = static_cast<int32_t>(s | PS_FIXED);
  rhs[kept] -= lower[kept];
  lower[kept] = 0.0;
  upper[kept] = 0.0;
  return 1;
}

bool push_duplicate_row(int32_t kept, int32_t removed, int32_t third, int32_t fourth, int32_t converted,
                        double ratio) {
  return push_presolve_record({kept, removed, third, fourth, converted, REC_DUPLICATE_ROW}, {ratio});
}

class RowMerger {
 public:
  RowMerger(int32_t& rows_removed, int32_t& elements_removed)
      : rows_removed_(rows_removed), elements_removed_(elements_removed), removed_(static_cast<size_t>(nrow) + 1, 0) {}

  int32_t merge_parallel_rows(const std::vector<int32_t>& rows) {
    for (size_t a = 0; a < rows.size(); ++a) {
      const int32_t u = rows[a];
      for (size_t h = a + 1; h < rows.size() && !removed_[u]; ++h) {
        const int32_t H = rows[h];
        if (removed_[H]) continue;
        const int32_t result = try_pair(u, H);
        if (result != MERGE_DONE) return result;
      }
    }
    return MERGE_DONE;
  }

 private:
  // Compares u and H; merges them when parallel. MERGE_DONE also when they
  // are not parallel.
  int32_t try_pair(int32_t u, int32_t H) {
    OneBased<double> value = real_array(ARR_ELEM_VALUE);
    live_entries(u, cols_u_, elems_u_);
    live_entries(H, cols_h_, elems_h_);
    if (cols_u_.empty() || cols_u_.size() != cols_h_.size()) return MERGE_DONE;
    const double a_u = value[elems_u_[0]];
    if (a_u == 0.0) return MERGE_DONE;
    const double r = value[elems_h_[0]] / a_u;
    if (r == 0.0) return MERGE_DONE;
    const double ztolda = dcv(dc::ZTOLDA);
    for (size_t k = 0; k < cols_u_.size(); ++k) {
      if (std::fabs(value[elems_h_[k]] - r * value[elems_u_[k]]) > ztolda) return MERGE_DONE;
    }
    const int32_t compared = static_cast<int32_t>(cols_u_.size());
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    if ((static_cast<uint32_t>(status[u]) & PS_BASIC) == 0) return MERGE_DONE;

    const Interval iu = scaled_interval(u, r);
    const Interval ih = row_interval(H);
    const double ztolze = dcv(dc::ZTOLZE);
    if ((iu.has_upper && ih.has_lower && iu.upper + ztolze < ih.lower) ||
        (ih.has_upper && iu.has_lower && ih.upper < iu.lower - ztolze)) {
      return push_duplicate_row(u, H, u, H, 0, r) ? MERGE_INFEASIBLE : MERGE_PUSH_FAILED;
    }
    return merge_pair(u, H, r, iu, ih, compared);
  }

  int32_t merge_pair(int32_t u, int32_t H, double r, const Interval& iu, const Interval& ih, int32_t compared) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> rhs = real_array(ARR_WORK_RHS);
    const double b_u = rhs[u];
    const double b_h = rhs[H];
    bool remove_u = false;
    int32_t third = 0;
    int32_t fourth = 0;
    // An equality keeps its point: the other row can be tighter than it only
    // within ZTOLZE, and moving one slack bound of an equality would leave
    // its slack range crossed.
    const bool u_equality = (int_array(ARR_ROW_TYPE)[u] & ROW_E) != 0;
    const bool h_equality = (int_array(ARR_ROW_TYPE)[H] & ROW_E) != 0;
    // Which slack bound of the kept row was replaced from the other row.
    auto set_u_lower = [&](double v) {
      if (u_equality) return;
      lower[u] = v;
      status[u] |= static_cast<int32_t>(PS_FINITE_LOWER);
      third = H;
      fourth = u;
    };
    auto set_u_upper = [&](double v) {
      if (u_equality) return;
      upper[u] = v;
      status[u] |= static_cast<int32_t>(PS_FINITE_UPPER);
      third = u;
      fourth = H;
    };
    if (iu.has_lower && iu.has_upper) {
      const bool tighter_upper = ih.has_upper && ih.upper < iu.upper;
      const bool tighter_lower = ih.has_lower && ih.lower > iu.lower;
      if (tighter_upper || tighter_lower) {
        if (ih.has_lower && ih.has_upper && ih.upper <= iu.upper && ih.lower >= iu.lower) {
          remove_u = true;
        } else if (tighter_upper) {
          if (r <= 0.0) set_u_upper(b_u - ih.upper / r);
          else set_u_lower(b_u - ih.upper / r);
        } else {
          if (r >= 0.0) set_u_upper(b_u - ih.lower / r);
          else set_u_lower(b_u - ih.lower / r);
        }
      }
    } else if (!iu.has_lower) {
      if (!ih.has_lower) {
        remove_u = !(iu.upper <= ih.upper);
      } else if (ih.has_upper) {
        remove_u = true;
        if (iu.has_upper && ih.upper > iu.upper && !h_equality) {
          lower[H] = b_h - iu.upper;
          third = u;
          fourth = H;
        }
      } else if (r <= 0.0) {
        set_u_lower(b_u - ih.lower / r);
      } else {
        set_u_upper(b_u - ih.lower / r);
      }
    } else {
      if (!ih.has_upper) {
        remove_u = !(ih.lower <= iu.lower);
      } else if (ih.has_lower) {
        remove_u = true;
        if (ih.lower < iu.lower && !h_equality) {
          upper[H] = b_h - iu.lower;
          third = H;
          fourth = u;
        }
      } else if (r >= 0.0) {
        set_u_lower(b_u - ih.upper / r);
      } else {
        set_u_upper(b_u - ih.upper / r);
      }
    }

    const int32_t removed = remove_u ? u : H;
    const int32_t kept = remove_u ? H : u;
    const uint32_t removed_status = static_cast<uint32_t>(status[removed]);
    elements_removed_ += compared;
    free_removed_row(removed);
    ++rows_removed_;
    removed_[removed] = 1;
    // The removed row's nonbasic slack hands its place to the kept row.
    if ((removed_status & PS_BASIC) == 0 && (static_cast<uint32_t>(status[kept]) & PS_BASIC) != 0) {
      const bool removed_at_upper = (removed_status & PS_AT_UPPER) != 0;
      uint32_t s = static_cast<uint32_t>(status[kept]) & ~static_cast<uint32_t>(PS_BASIC | PS_AT_UPPER);
      if ((r > 0.0 && removed_at_upper) || (r < 0.0 && !removed_at_upper)) s |= PS_AT_UPPER;
      status[kept] = static_cast<int32_t>(s);
    }
    const int32_t converted = normalise_kept_row(kept);
    const bool pushed = remove_u ? push_duplicate_row(H, u, third, fourth, converted, 1.0 / r)
                                 : push_duplicate_row(u, H, third, fourth, converted, r);
    return pushed ? MERGE_DONE : MERGE_PUSH_FAILED;
  }

  int32_t& rows_removed_;
  int32_t& elements_removed_;
  std::vector<char> removed_;
  std::vector<int32_t> cols_u_, elems_u_, cols_h_, elems_h_;
};

}  // namespace

int32_t presolve_parallel_rows(int32_t& outcome, int32_t& rows_removed, int32_t& elements_removed) {
  outcome = 0;
  if (presolve_row_copy.start.size() < static_cast<size_t>(nrow) + 2) return 0;
  RowMerger merger(rows_removed, elements_removed);
  for (const std::vector<int32_t>& rows : row_pattern_classes()) {
    const int32_t result = merger.merge_parallel_rows(rows);
    if (result == MERGE_INFEASIBLE) {
      outcome = 1;
      return 0;
    }
    if (result == MERGE_PUSH_FAILED) return 4;
  }
  return 0;
}

}  // namespace kl
