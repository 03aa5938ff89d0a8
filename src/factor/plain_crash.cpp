// The plain crash: implied-free analysis, the passes of the crash with the
// plain trial, and the completion with its preference swap.
#include "factor/plain_crash.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "problem/store.h"

namespace kl {

namespace {

constexpr uint32_t kBasicBit = PS_BASIC;
constexpr uint32_t kNoBits = 0;

void set_bits(OneBased<int32_t> status, int32_t k, uint32_t clear, uint32_t set) {
  status[k] = static_cast<int32_t>((static_cast<uint32_t>(status[k]) & ~clear) | set);
}

class PlainCrash : public CrashPasses {
 public:
  explicit PlainCrash(const CrashArguments& arguments);
  void run();

 protected:
  void sweep_columns() override;
  bool try_column(int32_t j, int32_t excluded) override;
  bool end_of_pass(bool rows_kept, int32_t added) override;
  bool walks_row_order() const override { return args_.icrash >= 2; }

 private:
  bool analyses() const { return args_.typed_entry_count == 0 && args_.algorithm_value > 2; }
  void analyse_implied_free();
  void start_state();
  int32_t preference(int32_t k) const;
  double cost_key(int32_t k, bool entering) const;
  void complete_and_swap();

  double s1_ = 1.0;
  // Per row: the last accepted column crossing it (0 none) and the number of
  // free columns in it.
  std::vector<int32_t> crossed_;
  std::vector<int32_t> free_columns_;
};

PlainCrash::PlainCrash(const CrashArguments& arguments)
    : CrashPasses(arguments),
      crossed_(static_cast<size_t>(nrow) + 1, 0),
      free_columns_(static_cast<size_t>(nrow) + 1, 0) {
  double largest = 0.0;
  for (int32_t j = first_col_; j <= last_col_; ++j) largest = std::max(largest, std::fabs(cost_[j]));
  s1_ = kCrashCostScale * largest;
  if (s1_ < 1.0) s1_ = 1.0;
}

// Rows whose slack cannot leave its bounds for any activity the column bounds
// allow become free; then columns whose bounds the rows imply become free.
void PlainCrash::analyse_implied_free() {
  std::vector<double> sum1(static_cast<size_t>(rows_) + 1, 0.0);
  std::vector<double> sum2(static_cast<size_t>(rows_) + 1, 0.0);
  std::vector<int32_t> count1(static_cast<size_t>(rows_) + 1, 0);
  std::vector<int32_t> count2(static_cast<size_t>(rows_) + 1, 0);
  for (int32_t i = 1; i <= rows_; ++i) {
    sum1[i] = rhs_[i] - (finite_upper(i) ? upper_[i] : 0.0);
    sum2[i] = rhs_[i] - (finite_lower(i) ? lower_[i] : 0.0);
  }
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    const bool lower_finite = finite_lower(j);
    const bool upper_finite = finite_upper(j);
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
      const int32_t i = elem_row_[e];
      const double a = elem_value_[e];
      if (!lower_finite && !upper_finite) {
        ++free_columns_[i];
        continue;
      }
      if (lower_finite) {
        if (a <= 0.0) {
          sum1[i] -= a * lower_[j];
          ++count1[i];
        } else {
          sum2[i] -= a * lower_[j];
          ++count2[i];
        }
      }
      if (upper_finite) {
        if (a >= 0.0) {
          sum1[i] -= a * upper_[j];
          ++count1[i];
        } else {
          sum2[i] -= a * upper_[j];
          ++count2[i];
        }
      }
    }
  }

  for (int32_t i = 1; i <= rows_; ++i) {
    if (row_free_[i] != 0 || free_columns_[i] != 0) continue;
    const int32_t n = rc_start_[i + 1] - rc_start_[i];
    const bool lower_finite = finite_lower(i);
    const bool upper_finite = finite_upper(i);
    bool redundant = false;
    if (lower_finite && !upper_finite) {
      redundant = count1[i] == n && lower_[i] <= sum1[i];
    } else if (upper_finite && !lower_finite) {
      redundant = count2[i] == n && sum2[i] <= upper_[i];
    } else if (lower_finite && upper_finite) {
      redundant = count1[i] == n && count2[i] == n && sum2[i] + lower_[i] <= upper_[i] &&
                  lower_[i] <= sum1[i] + upper_[i];
    }
    if (!redundant) continue;
    row_free_[i] = 1;
    ++free_columns_[i];
    ++crash_stats.redundant_rows;
  }

  std::vector<int32_t> candidates;
  for (int32_t j = first_col_; j <= last_col_; ++j) {
    if (!free_position(j) && !basic(j) && !fixed(j)) candidates.push_back(j);
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [this](int32_t a, int32_t b) { return column_entries(a) < column_entries(b); });
  for (int32_t k : candidates) {
    const bool lower_finite = finite_lower(k);
    const bool upper_finite = finite_upper(k);
    double implied_lower = lower_[k];
    double implied_upper = upper_[k];
    bool lower_found = false;
    bool upper_found = false;
    for (int32_t e = col_start_[k]; e < col_start_[k + 1]; ++e) {
      const int32_t i = elem_row_[e];
      if (row_free_[i] != 0 || free_columns_[i] != 0) continue;
      const int32_t n = rc_start_[i + 1] - rc_start_[i];
      const double a = elem_value_[e];
      // k's own contribution out of the sums and counts.
      double s1 = sum1[i];
      double s2 = sum2[i];
      int32_t c1 = count1[i];
      int32_t c2 = count2[i];
      if (lower_finite) {
        if (a <= 0.0) {
          s1 += a * lower_[k];
          --c1;
        } else {
          s2 += a * lower_[k];
          --c2;
        }
      }
      if (upper_finite) {
        if (a >= 0.0) {
          s1 += a * upper_[k];
          --c1;
        } else {
          s2 += a * upper_[k];
          --c2;
        }
      }
      // a x_k <= s2 needs the lower slack bound and every other minimum;
      // a x_k >= s1 the upper slack bound and every other maximum.
      const bool s1_known = c1 == n - 1 && finite_upper(i);
      const bool s2_known = c2 == n - 1 && finite_lower(i);
      // Dividing by a negative entry exchanges the sides.
      const bool up_given = a > 0.0 ? s2_known : s1_known;
      const bool lo_given = a > 0.0 ? s1_known : s2_known;
      const double up = (a > 0.0 ? s2 : s1) / a;
      const double lo = (a > 0.0 ? s1 : s2) / a;
      if (up_given && up <= implied_upper) {
        implied_upper = up;
        upper_found = true;
      }
      if (lo_given && lo >= implied_lower) {
        implied_lower = lo;
        lower_found = true;
      }
    }
    if ((!lower_finite || lower_found) && (!upper_finite || upper_found)) {
      implied_free_[k] = 1;
      ++crash_stats.implied_free_columns;
      for (int32_t e = col_start_[k]; e < col_start_[k + 1]; ++e) ++free_columns_[elem_row_[e]];
    }
  }
}

// Only free rows are basic while the passes run; a row's slack becomes basic
// again when the row ends without a column.
void PlainCrash::start_state() {
  start_passes();
  for (int32_t i = 1; i <= rows_; ++i) {
    set_bits(status_, i, PS_BASIC | PS_AT_UPPER, row_free_[i] != 0 ? kBasicBit : kNoBits);
  }
  for (int32_t j = first_col_; j <= last_col_; ++j) set_bits(status_, j, PS_BASIC | PS_AT_UPPER, 0);
}

int32_t PlainCrash::preference(int32_t k) const {
  int32_t key = kPlainBoxedPreference;
  if (free_position(k)) {
    key = kPlainFreePreference;
  } else if (!(finite_lower(k) && finite_upper(k))) {
    key = kPlainOneSidedPreference;
  }
  if (is_structural(k)) key -= passover_[k] / kPlainPassOverPerPoint;
  return key;
}

double PlainCrash::cost_key(int32_t k, bool entering) const {
  double key = args_.sense_factor * cost_[k] / s1_;
  const bool lower_finite = finite_lower(k);
  const bool upper_finite = finite_upper(k);
  if (lower_finite && upper_finite) {
    key += lower_[k] - upper_[k];
  } else if (entering && lower_finite) {
    key += lower_[k];
  } else if (entering && upper_finite) {
    key -= upper_[k];
  }
  return key;
}

void PlainCrash::sweep_columns() {
  for (int32_t j = first_col_; j <= last_col_; ++j) try_column(j, 0);
}

bool PlainCrash::try_column(int32_t j, int32_t excluded) {
  if (!passes_count_tests(j)) return false;
  const PivotChoice p = choose_pivot_row(j, excluded, crossed_);
  const int32_t r = p.row;
  if (r == 0) return false;
  if (std::fabs(p.entry) <= args_.ztcr * p.largest) return false;
  if (phase_ == 1 && !equality_row(r) && passover_[j] != 0) return false;
  const bool open = row_open(r);
  if (open && p.crossed_rows != 0 && contact_[j] != 0) return false;
  if (over_limit_ && open && ((!equality_row(r) && !free_position(j)) || passover_[j] != 0)) return false;

  if (open) {
    set_bits(status_, j, PS_BASIC | PS_AT_UPPER, PS_BASIC);
    take_row(r, j);
    raise_contacts(r);
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) {
      const int32_t i = elem_row_[e];
      if (i != r && row_open(i) && row_free_[i] == 0) crossed_[i] = j;
    }
    return true;
  }
  const int32_t c = header_[r];
  const int32_t key_j = preference(j);
  const int32_t key_c = preference(c);
  if (key_j < key_c || (key_j == key_c && !(cost_key(j, true) < cost_key(c, false)))) return false;
  set_bits(status_, c, PS_BASIC | PS_AT_UPPER, 0);
  set_bits(status_, j, PS_BASIC | PS_AT_UPPER, PS_BASIC);
  header_[r] = j;
  return true;
}

bool PlainCrash::end_of_pass(bool rows_kept, int32_t added) {
  threshold_ *= 2;
  if (threshold_ == 0) threshold_ = args_.phase2_start;
  over_limit_ = accepted_ > limit_;
  if (phase_ == 2) {
    return !rows_kept || threshold_ > kPlainPhase2ThresholdLimit || added == 0 || over_limit_;
  }
  if (added == 0 || threshold_ > kPlainPhase1ThresholdLimit) {
    phase_ = 2;
    threshold_ = args_.phase2_start;
  }
  return false;
}

// Rows still open take their slacks; then a slack the row prefers to its
// column takes the row back.
void PlainCrash::complete_and_swap() {
  const bool swap = args_.algorithm_value > 2;
  for (int32_t i = 1; i <= rows_; ++i) {
    if (header_[i] == 0) {
      header_[i] = i;
      set_bits(status_, i, PS_AT_UPPER, PS_BASIC);
    } else if (header_[i] < 0) {
      header_[i] = -header_[i];
    }
    const int32_t j = header_[i];
    if (!swap || equality_row(i) || !is_structural(j)) continue;
    int32_t slack_preference = kPlainBoxedPreference;
    if (row_free_[i] != 0) {
      slack_preference = kPlainFreePreference;
    } else if (!(finite_lower(i) && finite_upper(i))) {
      slack_preference = kPlainOneSidedPreference;
    }
    const int32_t key = preference(j);
    const bool costly = args_.sense_factor * cost_[j] > 0.0;
    if ((costly && key < slack_preference + kPlainCostlyColumnMargin) || key < slack_preference ||
        (key == slack_preference && costly)) {
      set_bits(status_, j, PS_BASIC | PS_AT_UPPER, 0);
      set_bits(status_, i, PS_AT_UPPER, PS_BASIC);
      header_[i] = i;
      --accepted_;
      ++crash_stats.swaps_back;
    }
  }
}

void PlainCrash::run() {
  if (analyses()) analyse_implied_free();
  start_state();
  run_passes();
  complete_and_swap();
}

}  // namespace

int32_t plain_crash(const CrashArguments& arguments) {
  PlainCrash crash(arguments);
  crash.run();
  return crash.accepted();
}

}  // namespace kl
