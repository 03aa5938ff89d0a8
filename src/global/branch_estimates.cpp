// Estimates of the objective degradation of forcing a global entity up or
// down, from the row prices of the current LP and the pseudo costs.
#include <algorithm>
#include <cmath>
#include <vector>

#include "global/branching.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

BranchEstimates branch_estimates;

namespace {

// Activities of the trial combination of set members (first half) and of
// the current one (second half), with their cost terms.
struct TrialActivity {
  std::vector<double> activity;  // 2 x nrow, 1-based through at()
  double trial_cost = 0.0;
  double current_cost = 0.0;

  void reset() {
    activity.assign(2 * static_cast<size_t>(std::max(nrow, 0)) + 1, 0.0);
    trial_cost = 0.0;
    current_cost = 0.0;
  }
  void clear_trial() {
    std::fill(activity.begin() + 1, activity.begin() + 1 + nrow, 0.0);
    trial_cost = 0.0;
  }
  double& trial(int32_t r) { return activity[static_cast<size_t>(r)]; }
  double& current(int32_t r) { return activity[static_cast<size_t>(nrow + r)]; }
};
TrialActivity trial_activity;

double up_price(int32_t r) { return float_array(ARR_ROW_PRICES)[r]; }
double down_price(int32_t r) { return float_array(ARR_ROW_PRICES)[nrow + r]; }
double cost_term(int32_t j) { return dcv(dc::SENSE_FACTOR) * real_array(ARR_OBJECTIVE)[j]; }

// Rates of objective change per unit of column j moved up (never negative)
// and down (never positive).
double up_rate(int32_t j) {
  const OneBased<int32_t> start = int_array(ARR_COL_START);
  const OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  const OneBased<double> value = real_array(ARR_ELEM_VALUE);
  double rate = std::max(cost_term(j), 0.0);
  for (int32_t k = start[j]; k < start[j + 1]; ++k) {
    const int32_t r = row[k];
    if (r <= 0 || r > nrow) continue;
    rate += value[k] * (value[k] >= 0.0 ? up_price(r) : down_price(r));
  }
  return rate;
}

double down_rate(int32_t j, double cost) {
  const OneBased<int32_t> start = int_array(ARR_COL_START);
  const OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  const OneBased<double> value = real_array(ARR_ELEM_VALUE);
  double rate = cost;
  for (int32_t k = start[j]; k < start[j + 1]; ++k) {
    const int32_t r = row[k];
    if (r <= 0 || r > nrow) continue;
    rate += value[k] * (value[k] >= 0.0 ? down_price(r) : up_price(r));
  }
  return rate;
}

// The column a variable upper bound ties column j to, 0 when none.
int32_t vub_column(int32_t j) {
  if (array_cells[ARR_VUB_REF] == nullptr || array_cells[ARR_WORK_UPPER] == nullptr) return 0;
  const int32_t v = int_array(ARR_VUB_REF)[j];
  return v >= store.first_col && v <= nseq && v != j ? v : 0;
}

int32_t entity_type(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
int32_t set_of(int32_t e) { return int_array(ARR_ENTITY_COLUMN)[e]; }
int32_t member_column(int32_t m) { return int_array(ARR_SET_MEMBER_COLUMN)[m]; }
double member_ref(int32_t m) { return real_array(ARR_SET_MEMBER_REF)[m]; }
double member_value(int32_t m) { return real_array(ARR_X)[member_column(m)]; }

// Adds weight x column j to the trial (or current) activity and cost.
void add_column(int32_t j, double weight, bool current) {
  const OneBased<int32_t> start = int_array(ARR_COL_START);
  const OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  const OneBased<double> value = real_array(ARR_ELEM_VALUE);
  for (int32_t k = start[j]; k < start[j + 1]; ++k) {
    const int32_t r = row[k];
    if (r <= 0 || r > nrow) continue;
    (current ? trial_activity.current(r) : trial_activity.trial(r)) += weight * value[k];
  }
  (current ? trial_activity.current_cost : trial_activity.trial_cost) += weight * cost_term(j);
}

// The member's column into the trial activity.
void load_member_column(int32_t m) {
  trial_activity.clear_trial();
  add_column(member_column(m), 1.0, false);
}

// The price of moving the rows from the current combination to the trial
// one: every term is non-negative.
double price_activity_change() {
  double result = std::max(trial_activity.trial_cost - trial_activity.current_cost, 0.0);
  for (int32_t r = 1; r <= nrow; ++r) {
    const double d = trial_activity.trial(r) - trial_activity.current(r);
    if (d > 0.0) result += d * up_price(r);
    else if (d < 0.0) result += d * down_price(r);
  }
  return result;
}

// The smallest offset d, starting from d0 and doubling, with v + d != v.
double separating_offset(double v, double d0) {
  double d = d0;
  if (d == 0.0) d = 1e-12;
  while (v + d == v) d *= 2.0;
  return d;
}

}  // namespace

void estimate_cost_degradation(int32_t entity, double value) {
  BranchEstimates& b = branch_estimates;
  const int32_t j = int_array(ARR_ENTITY_COLUMN)[entity];
  const double up = up_rate(j);
  double down = down_rate(j, std::min(cost_term(j), 0.0));
  if (const int32_t v = vub_column(j); v != 0)
    down = down_rate(v, -std::fabs(cost_term(v))) * real_array(ARR_WORK_UPPER)[v];
  const double f = value - std::trunc(value);
  b.up_degradation = (1.0 - f) * (up + float_array(ARR_PSEUDO_COST_UP)[entity]);
  b.down_degradation = f * (float_array(ARR_PSEUDO_COST_DOWN)[entity] - down);
  b.min_degradation = std::min(b.up_degradation, b.down_degradation);
  if (entity_type(entity) == ENT_SEMICONTINUOUS) {
    const double limit = real_array(ARR_SEMICONT_LIMIT)[entity];
    if (icv(ic::SSV010) == 0) {
      b.min_degradation *= limit;
    } else {
      b.up_degradation *= limit;
      b.down_degradation *= limit;
      b.min_degradation = std::min(b.up_degradation, b.down_degradation);
    }
  }
}

void estimate_degradation(int32_t entity) {
  BranchEstimates& b = branch_estimates;
  b.set_satisfied = 0;
  b.min_degradation = 0.0;
  const int32_t s = set_of(entity);
  const OneBased<int32_t> set_start = int_array(ARR_SET_START);
  const int32_t begin = set_start[s] + 1;
  const int32_t end = set_start[s + 1];
  const double tolerance = dcv(dc::ZTOLIS);
  int32_t first = 0;
  int32_t last = 0;
  int32_t nonzero = 0;
  for (int32_t m = begin; m <= end; ++m) {
    if (member_value(m) <= tolerance) continue;
    if (first == 0) first = m;
    last = m;
    ++nonzero;
  }
  b.set_first_member = first;
  b.set_last_member = last;
  const bool type2 = entity_type(entity) == ENT_SET2;
  if (nonzero <= 1 || (type2 && last == first + 1)) {
    b.set_satisfied = 1;
    return;
  }
  double sum = 0.0;
  double weighted = 0.0;
  for (int32_t m = first; m <= last; ++m) {
    const double x = member_value(m);
    if (x == 0.0) continue;
    sum += x;
    weighted += x * member_ref(m);
  }
  const double centre = sum != 0.0 ? weighted / sum : member_ref(first);
  b.set_split_value = centre;
  int32_t p = last;
  for (int32_t m = first; m <= last; ++m) {
    if (member_ref(m) > centre) {
      p = m;
      break;
    }
  }
  trial_activity.reset();
  for (int32_t m = first; m <= last; ++m) {
    const double x = member_value(m);
    if (x != 0.0) add_column(member_column(m), x, true);
  }
  if (b.estimate_setup_only == 1) return;
  // p > first always: the centre lies at or above the first member's
  // reference value, so the first member never exceeds it.
  const int32_t below = std::max(p - 1, first);
  if (!type2) {
    trial_activity.clear_trial();
    add_column(member_column(below), sum, false);
    const double first_estimate = price_activity_change();
    trial_activity.clear_trial();
    add_column(member_column(p), sum, false);
    const double second_estimate = price_activity_change();
    if (icv(ic::KCRITM) < 1) {
      b.down_degradation = first_estimate;
      b.up_degradation = second_estimate;
    } else {
      b.up_degradation = first_estimate;
      b.down_degradation = second_estimate;
    }
    b.min_degradation = std::min(first_estimate, second_estimate);
  } else {
    const double span = member_ref(p) - member_ref(below);
    const double lambda = span != 0.0 ? (centre - member_ref(below)) / span : 0.0;
    trial_activity.clear_trial();
    add_column(member_column(below), 1.0 - lambda, false);
    add_column(member_column(p), lambda, false);
    b.min_degradation = price_activity_change();
    // A type 2 set has one estimate; the ranking reads it both ways rather
    // than the last column entity's.
    b.up_degradation = b.min_degradation;
    b.down_degradation = b.min_degradation;
  }
}

void estimate_branch_candidates(int32_t entity) {
  BranchEstimates& b = branch_estimates;
  b.estimate_setup_only = 1;
  estimate_degradation(entity);
  b.estimate_setup_only = 0;
  const bool type2 = entity_type(entity) == ENT_SET2;
  const double centre = b.set_split_value;
  int32_t low = b.set_first_member;
  int32_t high = b.set_last_member;
  b.set_branch_flag = type2 ? 0 : 1;
  if (type2) {
    ++low;
    --high;
  }
  double v = centre;
  const int32_t rule = icv(ic::KSETBR);
  if (rule != 1 && low <= high) {
    auto member_estimate = [](int32_t m) {
      load_member_column(m);
      const double estimate = price_activity_change();
      trial_activity.clear_trial();
      return estimate;
    };
    int32_t k = low;
    if (rule == 2) {
      // The side with the smaller sum takes its next member; the split is
      // the last member the left side took.
      double left = 0.0;
      double right = 0.0;
      int32_t next_left = low;
      int32_t next_right = high;
      k = low;
      for (int32_t taken = 0; taken < high - low + 1; ++taken) {
        if (left <= right) {
          k = next_left;
          left += member_estimate(next_left++);
        } else {
          right += member_estimate(next_right--);
        }
      }
    } else {
      double best = -1.0;
      for (int32_t m = low; m <= high; ++m) {
        const double estimate = member_estimate(m);
        if (estimate >= best) {
          best = estimate;
          k = m;
        }
      }
    }
    v = member_ref(k);
  }
  const double delta = dcv(dc::ZTOLST) * 0.5;
  if (centre > v) b.set_branch_flag = 1 - b.set_branch_flag;
  if (type2) {
    const double d = separating_offset(v, std::fabs(v * delta) + delta);
    b.down_limit = v + d;
    b.up_limit = v - d;
  } else {
    const double d = separating_offset(v, b.set_branch_flag == 1 ? -delta : delta);
    b.down_limit = v + d;
    b.up_limit = v + d;
  }
}

}  // namespace kl
