// The crash procedure: choice of procedure, the passes shared with the plain
// crash, the tracking crash with its running basic solution, and the
// placement of nonbasic variables.
#include "factor/crash.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

#include "factor/plain_crash.h"
#include "factor/sorting.h"
#include "problem/store.h"
#include "runtime/messages.h"

namespace kl {

CrashStats crash_stats;

const char* crash_procedure_text(int32_t procedure) {
  switch (procedure) {
    case CRASH_NONE: return "none";
    case CRASH_SLACK: return "slack basis";
    case CRASH_TRACKING: return "tracking crash";
    case CRASH_PLAIN: return "plain crash";
    default: return "unknown";
  }
}

namespace {

constexpr uint32_t kBasisBits = PS_BASIC | PS_AT_UPPER;
constexpr uint32_t kAtUpper = PS_AT_UPPER;
constexpr uint32_t kNoBits = 0;

void set_status_bits(OneBased<int32_t> status, int32_t k, uint32_t clear, uint32_t set) {
  status[k] = static_cast<int32_t>((static_cast<uint32_t>(status[k]) & ~clear) | set);
}

}  // namespace

// ---------------------------------------------------------------------------
// The shared passes.

CrashPasses::CrashPasses(const CrashArguments& arguments)
    : rows_(nrow),
      first_col_(store.first_col),
      last_col_(nseq),
      args_(arguments),
      status_(int_array(ARR_POS_STATUS)),
      row_type_(int_array(ARR_ROW_TYPE)),
      header_(int_array(ARR_BASIS_HEADER)),
      col_start_(int_array(ARR_COL_START)),
      elem_row_(int_array(ARR_ELEM_ROW)),
      elem_value_(real_array(ARR_ELEM_VALUE)),
      rc_start_(int_array(ARR_ROW_COPY_START)),
      rc_col_(int_array(ARR_ROW_COPY_COL)),
      rc_val_(real_array(ARR_ROW_COPY_VAL)),
      rhs_(real_array(ARR_RHS)),
      cost_(real_array(ARR_OBJECTIVE)),
      lower_(real_array(ARR_LOWER)),
      upper_(real_array(ARR_UPPER)),
      count_(static_cast<size_t>(nseq) + 2, 0),
      passover_(static_cast<size_t>(nseq) + 2, 0),
      contact_(static_cast<size_t>(nseq) + 2, 0),
      implied_free_(static_cast<size_t>(nseq) + 2, 0),
      done_(static_cast<size_t>(nrow) + 1, 0),
      row_free_(static_cast<size_t>(nrow) + 1, 0) {
  row_order_.reserve(static_cast<size_t>(rows_));
  kept_.reserve(static_cast<size_t>(rows_));
  received_.reserve(static_cast<size_t>(rows_));
  queue_.reserve(static_cast<size_t>(rows_));
  limit_ = static_cast<int32_t>(static_cast<double>(rows_) * args_.pcrash);
  for (int32_t i = 1; i <= rows_; ++i) {
    if ((status_[i] & PS_FREE) != 0 || (row_type_[i] & ROW_TYPE_MASK) == ROW_N) row_free_[i] = 1;
  }
}

bool CrashPasses::finite_lower(int32_t k) const { return lower_[k] > -kInfiniteBound; }
bool CrashPasses::finite_upper(int32_t k) const { return upper_[k] < kInfiniteBound; }
bool CrashPasses::fixed(int32_t k) const { return (status_[k] & PS_FIXED) != 0; }
bool CrashPasses::basic(int32_t k) const { return (status_[k] & PS_BASIC) != 0; }

bool CrashPasses::free_position(int32_t k) const {
  if (k <= rows_) return row_free_[k] != 0;
  return implied_free_[k] != 0 || (!finite_lower(k) && !finite_upper(k));
}

bool CrashPasses::equality_row(int32_t i) const { return (row_type_[i] & ROW_TYPE_MASK) == ROW_E; }

int32_t CrashPasses::basic_in_row(int32_t i) const {
  const int32_t h = header_[i];
  return h == 0 ? i : std::abs(h);
}

double CrashPasses::bound_value(int32_t k) const {
  if ((status_[k] & PS_AT_UPPER) != 0 && finite_upper(k)) return upper_[k];
  if (finite_lower(k)) return lower_[k];
  if (finite_upper(k)) return upper_[k];
  return 0.0;
}

bool CrashPasses::passes_count_tests(int32_t j) const {
  return count_[j] == 1 && passover_[j] <= threshold_ && !basic(j) && !fixed(j);
}

CrashPasses::PivotChoice CrashPasses::choose_pivot_row(int32_t j, int32_t excluded,
                                                       const std::vector<int32_t>& crossing) const {
  PivotChoice c;
  for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
    const int32_t i = elem_row_[e];
    if (crossing[i] != 0) ++c.crossed_rows;
    if (header_[i] < 0 || row_free_[i] != 0) continue;
    const double a = std::fabs(elem_value_[e]);
    if (a >= c.largest) c.largest = a;
    if (done_[i] != -1 && i != excluded) {
      c.row = i;
      c.entry = elem_value_[e];
    }
  }
  return c;
}

void CrashPasses::raise_contacts(int32_t r) {
  for (int32_t e = rc_start_[r]; e < rc_start_[r + 1]; ++e) {
    const int32_t k = rc_col_[e];
    if (!basic(k)) ++contact_[k];
  }
}

void CrashPasses::take_row(int32_t r, int32_t j) {
  header_[r] = j;
  received_.push_back(r);
  ++accepted_;
}

void CrashPasses::count_columns() {
  std::fill(count_.begin(), count_.end(), 0);
  for (int32_t i = 1; i <= rows_; ++i) {
    if (done_[i] == -1 || row_free_[i] != 0) continue;
    for (int32_t e = rc_start_[i]; e < rc_start_[i + 1]; ++e) {
      const int32_t k = rc_col_[e];
      if (!fixed(k)) ++count_[k];
    }
  }
}

// Rows with many non-fixed columns, and inequality rows before equality rows,
// come first: those are the rows best left to their slacks.
void CrashPasses::build_row_order() {
  std::vector<int32_t> records(2 * static_cast<size_t>(rows_));
  for (int32_t i = 1; i <= rows_; ++i) {
    int32_t key = 0;
    if (row_free_[i] == 0) {
      int32_t columns = 0;
      for (int32_t e = rc_start_[i]; e < rc_start_[i + 1]; ++e) {
        if (!fixed(rc_col_[e])) ++columns;
      }
      key = kCrashKeyPerColumn * columns;
      const bool lower_finite = finite_lower(i);
      const bool upper_finite = finite_upper(i);
      if (equality_row(i)) {
        key -= kCrashKeyEquality;
      } else if (lower_finite && upper_finite) {
        key -= kCrashKeyRanged;
      } else if (lower_finite || upper_finite) {
        key -= kCrashKeyOneSided;
      }
      key = std::max(key, 0);
    }
    records[2 * static_cast<size_t>(i - 1)] = i;
    records[2 * static_cast<size_t>(i - 1) + 1] = key;
  }
  if (rows_ > 0) sort_records_by_pair(records.data(), rows_, 8);
  row_order_.clear();
  for (int32_t k = rows_; k >= 1; --k) row_order_.push_back(records[2 * static_cast<size_t>(k - 1)]);
}

void CrashPasses::start_passes() {
  free_rows_ = 0;
  for (int32_t i = 1; i <= rows_; ++i) {
    set_status_bits(status_, i, PS_AT_UPPER, PS_BASIC);
    if (row_free_[i] != 0) {
      header_[i] = -i;
      done_[i] = -1;
      ++free_rows_;
    } else {
      header_[i] = 0;
      done_[i] = 0;
    }
  }
  std::fill(contact_.begin(), contact_.end(), 0);
  std::fill(passover_.begin(), passover_.end(), 0);
  count_columns();
  build_row_order();
}

void CrashPasses::close_received_rows() {
  for (int32_t r : received_) {
    header_[r] = -header_[r];
    done_[r] = -1;
    for (int32_t e = rc_start_[r]; e < rc_start_[r + 1]; ++e) {
      const int32_t k = rc_col_[e];
      if (!fixed(k)) --count_[k];
    }
    queue_.push_back(r);
  }
  received_.clear();
}

// Removing a row from the counts may leave its columns with one active row:
// those are tried at once. Rows that take columns on the way are removed in
// their turn; when nothing is queued the next open row of the order goes.
void CrashPasses::walk_rows() {
  size_t next_in_queue = 0;
  size_t next_in_order = 0;
  while (!complete()) {
    if (next_in_queue == queue_.size()) {
      if (!walks_row_order()) break;
      int32_t r = 0;
      while (next_in_order < row_order_.size()) {
        const int32_t i = row_order_[next_in_order++];
        if (row_open(i) && done_[i] != -1 && row_free_[i] == 0) {
          r = i;
          break;
        }
      }
      if (r == 0) break;
      kept_.push_back(r);
      queue_.push_back(r);
    }
    const int32_t r = queue_[next_in_queue++];
    const bool open = row_open(r);
    for (int32_t e = rc_start_[r]; e < rc_start_[r + 1] && !complete(); ++e) {
      const int32_t k = rc_col_[e];
      if (open && !fixed(k)) {
        --count_[k];
        ++passover_[k];
      }
      try_column(k, r);
    }
    done_[r] = -1;
    close_received_rows();
  }
  queue_.clear();
}

// A row crossed by a basic column keeps its slack: a pivot there would break
// the triangular order.
void CrashPasses::close_rows_crossed_by_basics() {
  for (int32_t i = 1; i <= rows_; ++i) {
    if (!row_open(i) || row_free_[i] != 0) continue;
    for (int32_t e = rc_start_[i]; e < rc_start_[i + 1]; ++e) {
      if (basic(rc_col_[e])) {
        header_[i] = -i;
        set_status_bits(status_, i, PS_AT_UPPER, PS_BASIC);
        break;
      }
    }
  }
}

void CrashPasses::recount_kept_rows() {
  std::fill(passover_.begin(), passover_.end(), 0);
  for (int32_t i = 1; i <= rows_; ++i) done_[i] = -1;
  row_order_.clear();
  for (int32_t r : kept_) {
    if (!row_open(r)) continue;
    done_[r] = 1;
    row_order_.push_back(r);
  }
  count_columns();
}

void CrashPasses::run_passes() {
  threshold_ = 0;
  phase_ = 1;
  pass_ = 0;
  over_limit_ = false;
  while (!complete()) {
    const int32_t before = accepted_;
    kept_.clear();
    sweep_columns();
    close_received_rows();
    walk_rows();
    close_rows_crossed_by_basics();
    const bool rows_kept = !kept_.empty();
    recount_kept_rows();
    ++crash_stats.passes;
    if (end_of_pass(rows_kept, accepted_ - before)) break;
    ++pass_;
  }
}

// ---------------------------------------------------------------------------
// The tracking crash.

namespace {

// Outcome of a leaving-bound trial.
struct BoundTrial {
  bool run = false;
  bool accepted = false;
  double sum = 0.0;        // infeasibility sum afterwards
  int32_t count = 0;       // infeasibilities afterwards
  double objective = 0.0;  // sense x objective afterwards
};

enum LeavingChoice : int32_t { LEAVE_REJECT = -1, LEAVE_AT_LOWER = 0, LEAVE_AT_UPPER = 1 };

class TrackingCrash : public CrashPasses {
 public:
  explicit TrackingCrash(const CrashArguments& arguments);
  void run();

 protected:
  void sweep_columns() override;
  bool try_column(int32_t j, int32_t excluded) override;
  bool end_of_pass(bool rows_kept, int32_t added) override;

 private:
  void analyse_rows();
  void order_columns();
  void place_starting_solution();
  bool implied_free(int32_t j) const;
  LeavingChoice leaving_choice(int32_t v, int32_t r, int32_t j, double entry, bool j_free);
  BoundTrial bound_trial(int32_t v, double v_new, int32_t r, int32_t j, double entry, bool j_free);
  void pivot(int32_t j, int32_t r, double entry, int32_t v, LeavingChoice choice);
  void move_rows(int32_t k, double delta, int32_t skip_row);
  void complete_basis();
  void improve_bounds();
  bool try_other_bound(int32_t k);
  void swap_back();
  double violation(int32_t k, double x) const;

  double s2_ = kCrashCostScale;
  int32_t pass_limit_ = kCrashPassLimit;
  std::vector<int32_t> column_list_;
  // Per row: crossing count and maximum, running basic value and pivot,
  // activity sums, their counts, and the eligible columns (-1 ineligible).
  std::vector<int32_t> crossing_;
  std::vector<double> crossing_max_;
  std::vector<double> value_;
  std::vector<double> pivot_;
  std::vector<double> sum1_;
  std::vector<double> sum2_;
  std::vector<int32_t> count1_;
  std::vector<int32_t> count2_;
  std::vector<int32_t> eligible_;
  // Rows whose values a trial moved, with the values to restore.
  std::vector<std::pair<int32_t, double>> undo_;
};

TrackingCrash::TrackingCrash(const CrashArguments& arguments)
    : CrashPasses(arguments),
      crossing_(static_cast<size_t>(nrow) + 1, 0),
      crossing_max_(static_cast<size_t>(nrow) + 1, 0.0),
      value_(static_cast<size_t>(nrow) + 1, 0.0),
      pivot_(static_cast<size_t>(nrow) + 1, 1.0),
      sum1_(static_cast<size_t>(nrow) + 1, 0.0),
      sum2_(static_cast<size_t>(nrow) + 1, 0.0),
      count1_(static_cast<size_t>(nrow) + 1, 0),
      count2_(static_cast<size_t>(nrow) + 1, 0),
      eligible_(static_cast<size_t>(nrow) + 1, 0) {
  column_list_.reserve(static_cast<size_t>(nseq - store.first_col + 1));
  if (args_.icrash >= kCrashLongThreshold) {
    pass_limit_ = kCrashPassLimitLong;
  } else if (rows_ < (nseq - nrow) / kCrashShortRowsDivisor) {
    pass_limit_ = 0;
  }
}

double TrackingCrash::violation(int32_t k, double x) const {
  if (x < lower_[k]) return lower_[k] - x;
  if (x > upper_[k]) return x - upper_[k];
  return 0.0;
}

// Step 1: activity sums of every row from the column bounds, S2, and the
// rows whose slacks can never leave their bounds.
void TrackingCrash::analyse_rows() {
  for (int32_t i = 1; i <= rows_; ++i) {
    sum1_[i] = rhs_[i];
    sum2_[i] = rhs_[i];
    if ((status_[i] & (PS_PROTECTED | PS_QUADRATIC)) != 0) {
      if (finite_upper(i)) sum1_[i] -= upper_[i];
      if (finite_lower(i)) sum2_[i] -= lower_[i];
    }
  }
  double squares = 0.0;
  bool large_cost = false;
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    if ((status_[j] & PS_PROTECTED) != 0) {
      for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) eligible_[elem_row_[e]] = -1;
      continue;
    }
    if (fixed(j)) {
      for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
        const double contribution = elem_value_[e] * lower_[j];
        sum1_[elem_row_[e]] -= contribution;
        sum2_[elem_row_[e]] -= contribution;
      }
      continue;
    }
    squares += cost_[j] * cost_[j];
    if (std::fabs(cost_[j]) > 1.0) large_cost = true;
    const bool lower_finite = finite_lower(j);
    const bool upper_finite = finite_upper(j);
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
      const int32_t i = elem_row_[e];
      const double a = elem_value_[e];
      if (eligible_[i] != -1) ++eligible_[i];
      if (lower_finite) {
        if (a <= 0.0) {
          sum1_[i] -= a * lower_[j];
          ++count1_[i];
        } else {
          sum2_[i] -= a * lower_[j];
          ++count2_[i];
        }
      }
      if (upper_finite) {
        if (a >= 0.0) {
          sum1_[i] -= a * upper_[j];
          ++count1_[i];
        } else {
          sum2_[i] -= a * upper_[j];
          ++count2_[i];
        }
      }
    }
  }
  const int32_t columns = last_col_ - first_col_ + 1;
  if (large_cost && columns > 0) {
    const double s2 = kCrashCostScale * std::sqrt(squares) / columns;
    if (s2 >= kCrashCostScale) s2_ = s2;
  }

  for (int32_t i = 1; i <= rows_; ++i) {
    if ((status_[i] & (PS_PROTECTED | PS_QUADRATIC)) != 0 || row_free_[i] != 0 || eligible_[i] == -1 ||
        !basic(i))
      continue;
    const bool lower_finite = finite_lower(i);
    const bool upper_finite = finite_upper(i);
    const bool first_complete = count1_[i] == eligible_[i];
    const bool second_complete = count2_[i] == eligible_[i];
    bool redundant = false;
    if (upper_finite && !lower_finite) {
      redundant = second_complete && sum2_[i] <= upper_[i];
    } else if (lower_finite && !upper_finite) {
      redundant = first_complete && sum1_[i] >= lower_[i];
    } else if (lower_finite && upper_finite) {
      // Ranged or equality row: redundant only when no activity the column
      // bounds allow can move the slack off either bound.
      redundant = first_complete && second_complete && sum1_[i] >= lower_[i] && sum2_[i] <= upper_[i];
    }
    if (redundant) {
      row_free_[i] = 1;
      eligible_[i] = -1;
      ++crash_stats.redundant_rows;
    }
  }
}

// Step 2: columns with few non-free rows are swept first.
void TrackingCrash::order_columns() {
  const int32_t columns = last_col_ - first_col_ + 1;
  std::vector<int32_t> records(2 * static_cast<size_t>(std::max(columns, 0)));
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    int32_t key = 0;
    bool excluded = fixed(j) || (status_[j] & PS_PROTECTED) != 0;
    for (int32_t e = col_start_[j]; e < col_start_[j + 1] && !excluded; ++e) {
      const int32_t i = elem_row_[e];
      if ((status_[i] & PS_PROTECTED) != 0) excluded = true;
      if (row_free_[i] == 0) ++key;
    }
    const size_t slot = 2 * static_cast<size_t>(j - first_col_);
    records[slot] = j;
    records[slot + 1] = excluded ? -1 : key;
  }
  if (columns > 0) sort_records_by_pair(records.data(), columns, 8);
  column_list_.clear();
  for (int32_t k = 0; k < columns; ++k) column_list_.push_back(records[2 * static_cast<size_t>(k)]);
}

// Step 3: every column nonbasic at its preferred bound; each row's value is
// what its slack takes then.
void TrackingCrash::place_starting_solution() {
  for (int32_t i = 1; i <= rows_; ++i) {
    pivot_[i] = 1.0;
    value_[i] = rhs_[i];
  }
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    set_status_bits(status_, j, kBasisBits, 0);
    const bool lower_finite = finite_lower(j);
    const bool upper_finite = finite_upper(j);
    if (upper_finite && !fixed(j) && !free_position(j)) {
      const bool at_upper = !lower_finite || std::fabs(lower_[j]) > std::fabs(upper_[j]) ||
                            (upper_[j] - lower_[j] < kCrashBoxWidth && args_.sense_factor * cost_[j] < 0.0);
      if (at_upper) set_status_bits(status_, j, 0, PS_AT_UPPER);
    }
    if (free_position(j)) continue;
    const double v = bound_value(j);
    if (v == 0.0) continue;
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
      const int32_t i = elem_row_[e];
      if (row_free_[i] == 0) value_[i] -= elem_value_[e] * v;
    }
  }
}

void TrackingCrash::sweep_columns() {
  const auto sweep = [this]() {
    size_t kept = 0;
    for (size_t k = 0; k < column_list_.size(); ++k) {
      const int32_t j = column_list_[k];
      const int32_t held_before = basic(j) ? 1 : 0;
      try_column(j, 0);
      if (held_before == 0 && basic(j)) continue;
      column_list_[kept++] = j;
    }
    column_list_.resize(kept);
  };
  if (pass_ == 0) {
    const bool over = over_limit_;
    over_limit_ = true;
    sweep();
    over_limit_ = over;
  }
  sweep();
}

// Equality rows imply bounds on x_j through the finite activity bounds of
// their other columns; j is implied free when they lie within its own.
bool TrackingCrash::implied_free(int32_t j) const {
  const bool lower_finite = finite_lower(j);
  const bool upper_finite = finite_upper(j);
  double implied_lower = -kInfinity;
  double implied_upper = kInfinity;
  for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
    const int32_t i = elem_row_[e];
    if (!equality_row(i) || row_free_[i] != 0 || (status_[i] & PS_QUADRATIC) != 0 || eligible_[i] == -1) continue;
    const double a = elem_value_[e];
    double s1 = sum1_[i];
    double s2 = sum2_[i];
    int32_t c1 = count1_[i];
    int32_t c2 = count2_[i];
    if (lower_finite) {
      if (a <= 0.0) {
        s1 += a * lower_[j];
        --c1;
      } else {
        s2 += a * lower_[j];
        --c2;
      }
    }
    if (upper_finite) {
      if (a >= 0.0) {
        s1 += a * upper_[j];
        --c1;
      } else {
        s2 += a * upper_[j];
        --c2;
      }
    }
    const int32_t others = eligible_[i] - 1;
    // a x_j lies in [s1, s2] when every other column counted on that side.
    if (a > 0.0) {
      if (c1 == others) implied_lower = std::max(implied_lower, s1 / a);
      if (c2 == others) implied_upper = std::min(implied_upper, s2 / a);
    } else if (a < 0.0) {
      if (c1 == others) implied_upper = std::min(implied_upper, s1 / a);
      if (c2 == others) implied_lower = std::max(implied_lower, s2 / a);
    }
  }
  const double margin = phase_ == 1 ? args_.ztolda : 0.0;
  const bool lower_met = !lower_finite || (phase_ == 1 ? implied_lower > lower_[j] + margin : implied_lower >= lower_[j]);
  const bool upper_met = !upper_finite || (phase_ == 1 ? implied_upper < upper_[j] - margin : implied_upper <= upper_[j]);
  return lower_met && upper_met;
}

// The values of the variables basic in the non-free rows of k (other than
// skip_row) move for a change of k by -delta: by delta x entry / pivot.
void TrackingCrash::move_rows(int32_t k, double delta, int32_t skip_row) {
  if (delta == 0.0 || !is_structural(k)) return;
  for (int32_t e = col_start_[k]; e < col_start_[k + 1]; ++e) {
    const int32_t i = elem_row_[e];
    if (i == skip_row || row_free_[i] != 0) continue;
    value_[i] += delta * elem_value_[e] / pivot_[i];
  }
}

// Test D: v leaves at v_new and j enters in row r; the infeasibility of the
// touched variables before and after decides.
BoundTrial TrackingCrash::bound_trial(int32_t v, double v_new, int32_t r, int32_t j, double entry, bool j_free) {
  BoundTrial t;
  t.run = true;
  const double sense = args_.sense_factor;
  double sum_before = 0.0;
  double sum_after = 0.0;
  int32_t count_before = 0;
  int32_t count_after = 0;
  double objective_before = 0.0;
  double objective_after = 0.0;
  int32_t rows_of_v = 0;
  int32_t rows_of_j = 0;
  const auto tally = [&](int32_t k, double x, double& sum, int32_t& count) {
    const double d = violation(k, x);
    if (d > args_.ztolda) {
      sum += d;
      ++count;
    }
  };

  const double v_old = value_[r];
  if (free_position(v)) {
    --count_before;
  } else {
    tally(v, v_old, sum_before, count_before);
  }
  objective_before += cost_[v] * v_old;
  objective_after += cost_[v] * v_new;
  const double j_old = bound_value(j);
  const double j_new = (j_old * entry + (v_old - v_new) * pivot_[r]) / entry;
  objective_before += cost_[j] * j_old;
  objective_after += cost_[j] * j_new;

  undo_.clear();
  const auto pass = [&](int32_t k, double delta, int32_t& rows_passed) {
    for (int32_t e = col_start_[k]; e < col_start_[k + 1]; ++e) {
      const int32_t i = elem_row_[e];
      if (i == r || row_free_[i] != 0) continue;
      const int32_t b = basic_in_row(i);
      const double old_value = value_[i];
      const double new_value = old_value + delta * elem_value_[e] / pivot_[i];
      if (!free_position(b)) {
        ++rows_passed;
        tally(b, old_value, sum_before, count_before);
        tally(b, new_value, sum_after, count_after);
      }
      objective_before += cost_[b] * old_value;
      objective_after += cost_[b] * new_value;
      undo_.emplace_back(i, old_value);
      value_[i] = new_value;
    }
  };
  if (is_structural(v) && column_entries(v) > 1) pass(v, v_old - v_new, rows_of_v);
  if (is_structural(j)) pass(j, j_old - j_new, rows_of_j);
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) value_[it->first] = it->second;

  if (j_free) {
    --count_after;
  } else {
    tally(j, j_new, sum_after, count_after);
  }

  const double ztolda = args_.ztolda;
  t.accepted = sum_after < sum_before - ztolda ||
               (sum_after < sum_before + kCrashSumSlack && count_after < count_before - kCrashManyInfeasibilities) ||
               (std::fabs(sum_after - sum_before) < kCrashTieFactor * ztolda &&
                (count_after < count_before ||
                 (count_after == count_before && sense * objective_after < sense * objective_before &&
                  rows_of_j <= rows_of_v)));
  t.sum = sum_after;
  t.count = count_after;
  t.objective = sense * objective_after;
  return t;
}

// Step C: the bound at which v, basic in row r, leaves when j enters there.
LeavingChoice TrackingCrash::leaving_choice(int32_t v, int32_t r, int32_t j, double entry, bool j_free) {
  if (is_structural(v) && column_entries(v) > kCrashMaxLeavingEntries) return LEAVE_REJECT;
  const bool v_free = free_position(v);
  const bool v_fixed = fixed(v);
  const bool lower_finite = finite_lower(v);
  const bool upper_finite = finite_upper(v);
  const double lo = std::fabs(lower_[v]);
  const double up = std::fabs(upper_[v]);
  const bool both = lower_finite && upper_finite;
  const bool lower_runs = v_free || v_fixed || (lower_finite && !(both && (up + 1.0) * kCrashBoundRatio < lo));
  const bool upper_runs = !v_free && !v_fixed && upper_finite && !(both && (lo + 1.0) * kCrashBoundRatio < up);
  BoundTrial at_lower;
  BoundTrial at_upper;
  if (lower_runs) at_lower = bound_trial(v, v_free ? 0.0 : lower_[v], r, j, entry, j_free);
  if (upper_runs) at_upper = bound_trial(v, upper_[v], r, j, entry, j_free);
  if (at_upper.accepted &&
      (!at_lower.accepted || at_upper.sum < at_lower.sum ||
       (at_upper.sum == at_lower.sum && up < (lo + 1.0) * kCrashBoundRatio &&
        (at_upper.count < at_lower.count ||
         (at_upper.count == at_lower.count && at_upper.objective < at_lower.objective)))))
    return LEAVE_AT_UPPER;
  if (at_lower.accepted) return LEAVE_AT_LOWER;
  return LEAVE_REJECT;
}

// Step R: j enters in row r with the given entry; v leaves at the chosen
// bound and the running solution follows along both columns.
void TrackingCrash::pivot(int32_t j, int32_t r, double entry, int32_t v, LeavingChoice choice) {
  const double v_new = choice == LEAVE_AT_UPPER ? upper_[v] : (free_position(v) ? 0.0 : lower_[v]);
  const double d = value_[r] - v_new;
  set_status_bits(status_, v, kBasisBits, choice == LEAVE_AT_UPPER ? kAtUpper : kNoBits);
  move_rows(v, d, r);
  const double j_old = bound_value(j);
  set_status_bits(status_, j, kBasisBits, PS_BASIC);
  const double j_new = (j_old * entry + d * pivot_[r]) / entry;
  value_[r] = j_new;
  pivot_[r] = entry;
  move_rows(j, j_old - j_new, r);
}

bool TrackingCrash::try_column(int32_t j, int32_t excluded) {
  if (!passes_count_tests(j)) return false;
  if (args_.sense_factor * cost_[j] > s2_) return false;
  const PivotChoice p = choose_pivot_row(j, excluded, crossing_);
  const int32_t r = p.row;
  if (r == 0) return false;
  const double magnitude = std::fabs(p.entry);
  if (magnitude < args_.ztcr * p.largest) return false;
  if (phase_ == 1 && !equality_row(r) && passover_[j] != 0) return false;
  const bool open = row_open(r);
  if (open && p.crossed_rows != 0 && contact_[j] != 0) return false;
  if (!(args_.ztcr * crossing_max_[r] < magnitude)) return false;
  const bool j_free = free_position(j);
  bool implied = false;
  if (!j_free && args_.typed_entry_count == 0 && std::fabs(cost_[j]) < s2_) implied = implied_free(j);
  if (over_limit_ && open && !((j_free || implied) && passover_[j] <= threshold_ / 2)) return false;

  const int32_t v = open ? r : header_[r];
  const LeavingChoice choice = leaving_choice(v, r, j, p.entry, j_free || implied);
  if (choice == LEAVE_REJECT) return false;

  pivot(j, r, p.entry, v, choice);
  if (implied) {
    implied_free_[j] = 1;
    ++crash_stats.implied_free_columns;
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) eligible_[elem_row_[e]] = -1;
  }
  for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
    const int32_t i = elem_row_[e];
    if (i == r || !row_open(i) || row_free_[i] != 0) continue;
    ++crossing_[i];
    crossing_max_[i] = std::max(crossing_max_[i], std::fabs(elem_value_[e]));
  }
  if (open) {
    take_row(r, j);
    raise_contacts(r);
    return true;
  }
  for (int32_t e = col_start_[v]; e < col_start_[v + 1]; ++e) {
    const int32_t i = elem_row_[e];
    if (i != r && row_open(i) && row_free_[i] == 0) --crossing_[i];
  }
  header_[r] = j;
  return true;
}

bool TrackingCrash::end_of_pass(bool rows_kept, int32_t added) {
  threshold_ *= 2;
  over_limit_ = accepted_ > limit_;
  if (pass_ == 0) return false;
  if (!rows_kept || threshold_ > pass_limit_ || added == 0 || (over_limit_ && threshold_ > 2)) {
    if (phase_ == 2) return true;
    phase_ = 2;
    threshold_ = std::min(args_.phase2_start, pass_limit_);
  }
  return false;
}

// Step 6: rows still open keep their slacks; columns marked implied free
// that are not basic go back to a bound.
void TrackingCrash::complete_basis() {
  for (int32_t i = 1; i <= rows_; ++i) {
    if (header_[i] == 0) {
      header_[i] = i;
      set_status_bits(status_, i, PS_AT_UPPER, PS_BASIC);
    } else {
      header_[i] = std::abs(header_[i]);
    }
  }
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    if (implied_free_[j] == 0 || basic(j)) continue;
    implied_free_[j] = 0;
    if (!finite_lower(j) && !finite_upper(j)) continue;
    // It left at 0 as a free variable; its rows follow it to its bound.
    set_status_bits(status_, j, PS_AT_UPPER, finite_lower(j) ? kNoBits : kAtUpper);
    move_rows(j, -bound_value(j), 0);
  }
}

// Test B: k at its other bound; taken when the infeasibility of the basic
// variables of its rows falls.
bool TrackingCrash::try_other_bound(int32_t k) {
  const double old_value = bound_value(k);
  const double new_value = (status_[k] & PS_AT_UPPER) != 0 ? lower_[k] : upper_[k];
  const double delta = old_value - new_value;
  double sum_before = 0.0;
  double sum_after = 0.0;
  int32_t count_before = 0;
  int32_t count_after = 0;
  double objective_before = cost_[k] * old_value;
  double objective_after = cost_[k] * new_value;
  const auto tally = [&](int32_t i, double change) {
    const int32_t b = basic_in_row(i);
    const double x0 = value_[i];
    const double x1 = x0 + change / pivot_[i];
    objective_before += cost_[b] * x0;
    objective_after += cost_[b] * x1;
    if (free_position(b)) return;
    const double d0 = violation(b, x0);
    const double d1 = violation(b, x1);
    if (d0 > args_.ztolda) {
      sum_before += d0;
      ++count_before;
    }
    if (d1 > args_.ztolda) {
      sum_after += d1;
      ++count_after;
    }
  };
  if (is_structural(k)) {
    for (int32_t e = col_start_[k]; e < col_start_[k + 1]; ++e) {
      const int32_t i = elem_row_[e];
      if (row_free_[i] == 0) tally(i, delta * elem_value_[e]);
    }
  } else {
    if (row_free_[k] != 0 || header_[k] == 0) return false;
    tally(k, delta);
  }
  const double sense = args_.sense_factor;
  const bool better = sum_after < sum_before - args_.ztolda ||
                      (std::fabs(sum_after - sum_before) < args_.ztolda &&
                       (count_after < count_before || sense * objective_after < sense * objective_before));
  if (!better) return false;
  status_[k] ^= PS_AT_UPPER;
  if (is_structural(k)) {
    move_rows(k, delta, 0);
  } else {
    value_[k] += delta / pivot_[k];
  }
  ++crash_stats.bound_flips;
  return true;
}

// Step 7: sweeps over the boxed nonbasic variables, rows first.
void TrackingCrash::improve_bounds() {
  for (int32_t sweep = 0; sweep < kCrashBoundSweeps; ++sweep) {
    bool changed = false;
    for (int32_t k = 1; k <= last_col_; ++k) {
      if (k > rows_ && k < first_col_) continue;
      if (basic(k) || fixed(k) || free_position(k) || !finite_lower(k) || !finite_upper(k)) continue;
      if (try_other_bound(k)) changed = true;
    }
    if (!changed) break;
  }
}

// Step 8: a row's own slack takes its place back when the leaving-bound
// choice says the column is better nonbasic.
void TrackingCrash::swap_back() {
  int32_t swaps = 0;
  for (int32_t i = 1; i <= rows_; ++i) {
    const int32_t c = header_[i];
    if (!is_structural(c)) continue;
    const LeavingChoice choice = leaving_choice(c, i, i, 1.0, free_position(i));
    if (choice == LEAVE_REJECT) continue;
    pivot(i, i, 1.0, c, choice);
    header_[i] = i;
    --accepted_;
    ++swaps;
  }
  crash_stats.swaps_back += swaps;
  if (swaps == 0) return;
  for (int32_t k = 1; k <= last_col_; ++k) {
    if (k > rows_ && k < first_col_) continue;
    if (basic(k) || fixed(k) || free_position(k) || !finite_lower(k) || !finite_upper(k)) continue;
    try_other_bound(k);
  }
}

void TrackingCrash::run() {
  analyse_rows();
  order_columns();
  place_starting_solution();
  start_passes();
  std::fill(crossing_.begin(), crossing_.end(), 0);
  std::fill(crossing_max_.begin(), crossing_max_.end(), 0.0);
  run_passes();
  complete_basis();
  improve_bounds();
  swap_back();
}

// The slack basis: every row's slack basic, every column nonbasic.
void set_crash_slack_basis() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= nrow; ++i) {
    header[i] = i;
    set_status_bits(status, i, PS_AT_UPPER, PS_BASIC);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) set_status_bits(status, j, kBasisBits, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Placement and the final step.

void place_nonbasic_variables(double sense_factor) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t k = 1; k <= nseq; ++k) {
    if (k > nrow && k < store.first_col) continue;
    const bool lower_finite = lower[k] > -kInfiniteBound;
    const bool upper_finite = upper[k] < kInfiniteBound;
    if (k >= store.first_col && (status[k] & PS_FREE) != 0 && (lower_finite || upper_finite) &&
        (status[k] & PS_BASIC) == 0)
      set_status_bits(status, k, PS_FREE, 0);
    if ((status[k] & PS_BASIC) != 0) continue;
    bool at_upper = false;
    if (!upper_finite || (status[k] & PS_FIXED) != 0) {
      at_upper = false;
    } else if (!lower_finite) {
      at_upper = true;
    } else if (k >= store.first_col) {
      at_upper = std::fabs(lower[k]) > std::fabs(upper[k]) ||
                 (upper[k] - lower[k] < kCrashBoxWidth && sense_factor * cost[k] < 0.0);
    } else {
      at_upper = std::fabs(upper[k]) < std::fabs(lower[k]);
    }
    set_status_bits(status, k, PS_AT_UPPER, at_upper ? kAtUpper : kNoBits);
  }
}

void finish_crash(int32_t accepted, int32_t& ifnbas) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t k = 1; k <= nseq; ++k) {
    if ((status[k] & PS_FREE) != 0 && (lower[k] > -kInfiniteBound || upper[k] < kInfiniteBound))
      set_status_bits(status, k, PS_FREE, 0);
  }
  crash_stats.accepted_columns = accepted;
  begin_message(MSG_CRASH_COLUMNS);
  insert_message_int(accepted);
  emit_message();
  ifnbas = 1;
}

void crash_basis(const CrashArguments& arguments, int32_t& ifnbas) {
  crash_stats = CrashStats{};
  if (arguments.icrash < 0) {
    crash_stats.last_procedure = CRASH_SLACK;
    set_crash_slack_basis();
    place_nonbasic_variables(arguments.sense_factor);
    finish_crash(0, ifnbas);
    return;
  }
  if (arguments.icrash == 0) return;
  int32_t accepted = 0;
  try {
    if (arguments.eta_capacity >= kCrashEtaFactor * nrow) {
      crash_stats.last_procedure = CRASH_TRACKING;
      TrackingCrash crash(arguments);
      crash.run();
      accepted = crash.accepted();
    } else {
      crash_stats.last_procedure = CRASH_PLAIN;
      accepted = plain_crash(arguments);
      place_nonbasic_variables(arguments.sense_factor);
    }
  } catch (const std::bad_alloc&) {
    // No room for the working quantities: the slack basis is a valid start.
    ++crash_stats.scratch_failures;
    set_crash_slack_basis();
    place_nonbasic_variables(arguments.sense_factor);
    accepted = 0;
  }
  finish_crash(accepted, ifnbas);
}

}  // namespace kl
