#include "simplex/primal_ratio_test.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace kl {

RatioTestReport ratio_test_report;
RatioTestLimits ratio_test_limits;

namespace {

// Pivot threshold factors by update_count.
constexpr double kFewUpdatesFactor = 0.01;
constexpr double kManyUpdatesFactor = 10.0;
// Relative tolerance R of the passes: 0.1, then x5 per pass, capped.
constexpr double kFirstRelativeTolerance = 0.1;
constexpr double kRelativeToleranceGrowth = 5.0;
constexpr double kLastRelativeTolerance = 0.99;
// A raised absolute tolerance excludes the rejected pivot with a margin.
constexpr double kToleranceRaise = 1.5;
// Accurate factor: a pivot this many times below the column's largest
// entry (relative to the ratio tolerance) is excluded outright; otherwise
// it stands when it is this many times the absolute tolerance.
constexpr double kNegligiblePivotRatio = 1e6;
constexpr double kAcceptedPivotMultiple = 1e5;
// Inaccurate factor: a small pivot above this multiple of the absolute
// tolerance is refused (result 9) instead of excluded.
constexpr double kRefusedPivotMultiple = 10.0;
// Selection thresholds.
constexpr double kEqualitySlackThreshold = 100.0;
constexpr double kEqualitySlackShare = 50.0;
constexpr double kLongStepListShare = 10.0;
constexpr int32_t kLongStepCount = 10;
constexpr double kLookBackShare = 0.9;
constexpr double kWalkViolation = 10.0;
constexpr double kWalkPivotThreshold = 2.0;
constexpr double kZeroRatioShare = 10.0;
constexpr double kZeroRatioThreshold = 50.0;
constexpr double kSecondStageThreshold = 10.0;
constexpr double kRetainedMargin = 100.0;

// A breakpoint: the basis position whose variable would reach a bound,
// the bound (direction 1 upper, 0 lower), the exact ratio and |alpha|.
struct Breakpoint {
  int32_t row;
  int32_t direction;
  double ratio;
  double magnitude;
};

// What a pass ends with.
enum class PassEnd { kRow, kNoRowVerdict, kNone };
struct PassResult {
  PassEnd end = PassEnd::kNone;
  int32_t row = 0;
  int32_t direction = 0;
  bool long_step = false;
};

// Inputs of every pass of one call.
struct RatioInputs {
  OneBased<double> alpha = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> x_b = real_array(ARR_BASIC_VALUES);
  OneBased<double> u_b = real_array(ARR_BASIC_UPPER);
  int32_t scan_count = 0;
  bool scan_all = false;
  double range = 0.0;
  bool range_finite = false;
  double reach = 0.0;  // F = range + ZTOLZE
  double ztolze = dcv(dc::ZTOLZE);
  double threshold_factor = 0.0;  // working ratio tolerance x f
};

// State a pass leaves for the driver.
struct PassState {
  double abs_tolerance = 0.0;
  double relative = kFirstRelativeTolerance;
  bool repeat = false;
  bool long_step = true;
  double largest = 0.0;
  std::vector<Breakpoint> breakpoints;
};

// Room for the breakpoints and the retained entries, kept between calls so
// that a call allocates nothing once the room suffices.
std::vector<Breakpoint> scratch_breakpoints;
std::vector<int32_t> scratch_retained;

double pivot_threshold(const RatioInputs& in, double largest) { return largest * in.threshold_factor; }

// Feasible-scan candidate of entry i: direction and distance to the bound
// the basic variable moves towards; false when it moves towards none.
bool feasible_candidate(const RatioInputs& in, int32_t i, double a, double upper, double lower, int32_t& direction,
                        double& distance) {
  const int32_t st = in.status[in.header[i]];
  if ((st & PS_FINITE_UPPER) != 0 && a < 0.0 && in.u_b[i] < kInfinity) {
    direction = kLeaveAtUpper;
    distance = upper - in.x_b[i];
    return true;
  }
  if ((st & PS_FINITE_LOWER) != 0 && a > 0.0 && lower > -kInfinity) {
    direction = kLeaveAtLower;
    distance = in.x_b[i] - lower;
    return true;
  }
  return false;
}

// Phase-1 quantities of one scan.
struct PhaseOneSums {
  double falling_rate = 0.0;     // s: fall of the infeasibility sum per unit step
  double listed_magnitude = 0.0; // m: |alpha| over the listed breakpoints
  double degenerate = 0.0;       // o: |alpha| over feasible candidates at their bound
  int32_t improving = 0;         // c: infeasible rows moving towards feasibility
  int32_t slack_row = 0;         // the largest listed equality slack, 0 none
  int32_t slack_direction = 0;
  double slack_magnitude = 0.0;
};

// The scan and the selection of one pass.
class Pass {
 public:
  Pass(const RatioInputs& in, PassState& state) : in_(in), state_(state), list_(state.breakpoints) {}

  PassResult run() {
    list_.clear();
    g_ = in_.reach;
    choice_ = -1;
    state_.largest = 0.0;
    sums_ = PhaseOneSums{};
    const bool phase_one = ninf > 0 || state_.repeat;
    const int32_t n = in_.scan_all ? nrow : in_.scan_count;
    for (int32_t k = 1; k <= n; ++k) {
      const int32_t i = in_.scan_all ? k : in_.list[k];
      const double a = in_.alpha[i];
      if (!(std::fabs(a) > state_.abs_tolerance)) continue;
      if ((in_.status[in_.header[i]] & PS_FREE) != 0) continue;
      if (phase_one)
        scan_phase_one(i, a);
      else
        scan_feasible(i, a);
    }
    return select(phase_one);
  }

 private:
  void list(int32_t i, int32_t direction, double ratio, double magnitude) {
    list_.push_back(Breakpoint{i, direction, ratio, magnitude});
  }

  // Lowers g with a relaxed ratio; returns true when it did.
  bool compete(double distance, double magnitude) {
    const double h = (distance + in_.ztolze) / magnitude;
    if (!(h < g_)) return false;
    g_ = h;
    return true;
  }

  void scan_feasible(int32_t i, double a) {
    const double magnitude = std::fabs(a);
    state_.largest = std::max(state_.largest, magnitude);
    const int32_t p = in_.header[i];
    const double lower = (in_.status[p] & PS_FINITE_LOWER) != 0 ? in_.lower[p] : -kInfinity;
    int32_t direction = 0;
    double distance = 0.0;
    if (!feasible_candidate(in_, i, a, in_.u_b[i], lower, direction, distance)) return;
    distance = std::max(distance, 0.0);
    const double t = distance / magnitude;
    if (!(t <= g_ && t < in_.reach)) return;
    list(i, direction, t, magnitude);
    if (compete(distance, magnitude)) {
      choice_ = static_cast<int32_t>(list_.size()) - 1;
      choice_relaxed_ = g_;
    }
  }

  void scan_phase_one(int32_t i, double a) {
    const double magnitude = std::fabs(a);
    const int32_t p = in_.header[i];
    const int32_t st = in_.status[p];
    const double widen = shift_active != 0 ? in_.ztolze : 0.0;
    const double x = in_.x_b[i];
    const bool has_upper = in_.u_b[i] < kInfinity;
    const bool has_lower = (st & PS_FINITE_LOWER) != 0 && in_.lower[p] > -kInfinity;
    const double upper = has_upper ? in_.u_b[i] + widen : kInfinity;
    const double lower = has_lower ? in_.lower[p] - widen : -kInfinity;
    const int32_t mark = in_.marks[i];
    if ((mark & RF_INFEAS_ABOVE) != 0) {
      state_.largest = std::max(state_.largest, magnitude);
      sums_.falling_rate += a;
      if (a > 0.0) {
        ++sums_.improving;
        const double t = std::max((x - upper) / magnitude, 0.0);
        if (t < in_.reach) {
          list(i, kLeaveAtUpper, t, magnitude);
          sums_.listed_magnitude += magnitude;
        }
        if (has_lower) {
          const double distance = std::max(x - lower, 0.0);
          const double t2 = distance / magnitude;
          if (t2 < in_.reach) {
            list(i, kLeaveAtLower, t2, magnitude);
            sums_.listed_magnitude += magnitude;
          }
          compete(distance, magnitude);
        }
      }
      return;
    }
    if ((mark & RF_INFEAS_BELOW) != 0) {
      sums_.falling_rate -= a;
      if (a < 0.0) {
        ++sums_.improving;
        state_.largest = std::max(state_.largest, magnitude);
        const double t = std::max((lower - x) / magnitude, 0.0);
        if (t < in_.reach) {
          list(i, kLeaveAtLower, t, magnitude);
          sums_.listed_magnitude += magnitude;
        }
        if ((st & PS_FINITE_UPPER) != 0 && has_upper) {
          const double distance = std::max(upper - x, 0.0);
          const double t2 = distance / magnitude;
          compete(distance, magnitude);
          if (t2 < in_.reach) {
            list(i, kLeaveAtUpper, t2, magnitude);
            sums_.listed_magnitude += magnitude;
          }
        }
      }
      return;
    }
    int32_t direction = 0;
    double distance = 0.0;
    if (!feasible_candidate(in_, i, a, upper, lower, direction, distance)) return;
    state_.largest = std::max(state_.largest, magnitude);
    if (distance <= 0.0) sums_.degenerate += magnitude;
    distance = std::max(distance, 0.0);
    const double t = distance / magnitude;
    if (!(t < in_.reach)) return;
    list(i, direction, t, magnitude);
    sums_.listed_magnitude += magnitude;
    compete(distance, magnitude);
    const bool equality_slack = p <= nrow && has_upper && has_lower && upper - lower < in_.ztolze;
    if (equality_slack && magnitude > sums_.slack_magnitude) {
      sums_.slack_row = i;
      sums_.slack_direction = direction;
      sums_.slack_magnitude = magnitude;
    }
  }

  PassResult row_result(const Breakpoint& b, bool long_step) const {
    PassResult r;
    r.end = PassEnd::kRow;
    r.row = b.row;
    r.direction = b.direction;
    r.long_step = long_step;
    return r;
  }

  PassResult select(bool phase_one) {
    PassResult none;
    PassResult no_row;
    no_row.end = PassEnd::kNoRowVerdict;
    if (list_.empty()) return no_row;
    const double threshold = pivot_threshold(in_, state_.largest);
    const double s = sums_.falling_rate;
    if (ninf > 0 && s > sums_.listed_magnitude && s > in_.ztolze && in_.range_finite) return no_row;
    if (ninf > 0 && sums_.slack_row != 0 && sums_.slack_magnitude > kEqualitySlackThreshold * threshold &&
        sums_.slack_magnitude > state_.largest / kEqualitySlackShare && sums_.improving > 0) {
      PassResult r;
      r.end = PassEnd::kRow;
      r.row = sums_.slack_row;
      r.direction = sums_.slack_direction;
      return r;
    }
    const int32_t size = static_cast<int32_t>(list_.size());
    const bool long_step_wanted =
        state_.repeat ||
        (ninf > 0 && s >= in_.ztolze && s > sums_.degenerate && (s <= sums_.listed_magnitude || in_.range_finite) &&
         sums_.improving > 0 && (kLongStepListShare * sums_.improving > size || sums_.improving > kLongStepCount));
    if (state_.long_step && phase_one && long_step_wanted) {
      sort_breakpoints();
      const int32_t chosen = state_.repeat ? walk_feasible(threshold) : walk_phase_one(threshold);
      if (chosen == kNoRowChoice) return no_row;
      if (chosen < 0) return none;
      return row_result(list_[static_cast<size_t>(chosen)], true);
    }
    const int32_t chosen = two_stage_choice(threshold);
    if (chosen < 0) return none;
    return row_result(list_[static_cast<size_t>(chosen)], false);
  }

  // Ascending exact ratio, a larger |alpha| first among equal ratios, scan
  // order among full ties.
  void sort_breakpoints() {
    std::stable_sort(list_.begin(), list_.end(), [](const Breakpoint& a, const Breakpoint& b) {
      if (a.ratio != b.ratio) return a.ratio < b.ratio;
      return a.magnitude > b.magnitude;
    });
  }

  static constexpr int32_t kNoRowChoice = -2;

  // Phase 1: pass the breakpoints while the sum of infeasibilities still
  // falls, then prefer a larger pivot within the bound Z; a small pivot
  // looks back for a larger one among the breakpoints passed.
  int32_t walk_phase_one(double threshold) {
    const int32_t n = static_cast<int32_t>(list_.size());
    double z = g_;
    double slope = -std::fabs(sums_.falling_rate);
    int32_t first = -1;
    int32_t choice = -1;
    for (int32_t k = 0; k < n; ++k) {
      const Breakpoint& b = list_[static_cast<size_t>(k)];
      if (first < 0) {
        slope += b.magnitude;
        if (slope >= 0.0) {
          first = choice = k;
          z = std::max(z, b.ratio);
        }
        continue;
      }
      if (b.ratio > z) break;
      if (b.ratio < z && b.magnitude > list_[static_cast<size_t>(choice)].magnitude) choice = k;
    }
    if (choice < 0) {
      if (in_.range_finite) return kNoRowChoice;
      first = choice = n - 1;
      z = std::max(z, list_[static_cast<size_t>(choice)].ratio);
    }
    return look_back(first, choice, z, threshold);
  }

  int32_t look_back(int32_t first, int32_t choice, double z, double threshold) {
    const double r = state_.relative;
    const double largest = state_.largest;
    const double a_c = list_[static_cast<size_t>(choice)].magnitude;
    if (!(r * largest > a_c)) return choice;
    double b = std::max(a_c, list_[static_cast<size_t>(first)].magnitude);
    int32_t gathered_end = first - 1;
    while (gathered_end >= 0 && list_[static_cast<size_t>(gathered_end)].ratio > z) --gathered_end;
    for (int32_t k = gathered_end; k >= 0; --k)
      if (list_[static_cast<size_t>(k)].ratio <= z) b = std::max(b, list_[static_cast<size_t>(k)].magnitude);
    if (!(a_c < r * b && (a_c < r * r * b || a_c < kSecondStageThreshold * threshold || r * r * a_c < largest)))
      return choice;
    const double walk_ratio = list_[static_cast<size_t>(choice)].ratio;
    for (int32_t k = gathered_end; k >= 0; --k) {
      const Breakpoint& e = list_[static_cast<size_t>(k)];
      if (e.ratio > z) continue;
      if (e.magnitude > r * b && e.magnitude > list_[static_cast<size_t>(choice)].magnitude) {
        choice = k;
        if (e.ratio < walk_ratio || e.magnitude > kLookBackShare * b) break;
      }
    }
    return choice;
  }

  // Feasible basis (the repeat pass): walk while the bound violation that
  // the breakpoints passed would cause stays small, taking the largest
  // acceptable pivot met.
  int32_t walk_feasible(double threshold) {
    const double limit = kWalkViolation * in_.ztolze;
    double slope = 0.0;
    double weighted = 0.0;
    int32_t choice = -1;
    for (size_t k = 0; k < list_.size(); ++k) {
      const Breakpoint& b = list_[k];
      if (b.ratio * slope - weighted > limit) break;
      if (b.magnitude > kWalkPivotThreshold * threshold &&
          (choice < 0 || b.magnitude > list_[static_cast<size_t>(choice)].magnitude)) {
        choice = static_cast<int32_t>(k);
      } else if (choice >= 0) {
        break;
      }
      slope += b.magnitude;
      weighted += b.ratio * b.magnitude;
    }
    return choice;
  }

  // Among the breakpoints within g, the largest pivot (first stage), then a
  // smaller ratio or a larger pivot inside the band L (second stage).
  int32_t two_stage_choice(double threshold) {
    const double r = state_.relative;
    int32_t choice = choice_;
    double j = choice >= 0 ? list_[static_cast<size_t>(choice)].magnitude : 0.0;
    double u = choice >= 0 ? choice_relaxed_ : 0.0;
    double band = g_;
    std::vector<int32_t>& retained = scratch_retained;
    retained.clear();
    int32_t zero_ratios = 0;
    for (size_t k = 0; k < list_.size(); ++k) {
      const Breakpoint& e = list_[k];
      if (!(e.ratio <= g_)) continue;
      if (choice >= 0 && !(e.magnitude > r * j)) continue;
      retained.push_back(static_cast<int32_t>(k));
      if (choice < 0 || e.magnitude > j || (e.magnitude == j && e.ratio < u)) {
        choice = static_cast<int32_t>(k);
        j = e.magnitude;
        u = e.ratio;
      }
      band = std::min(band, e.ratio + in_.ztolze / (kRetainedMargin * e.magnitude));
      if (e.ratio == 0.0) ++zero_ratios;
    }
    const int32_t kept = static_cast<int32_t>(retained.size());
    if (zero_ratios > 0 && kZeroRatioShare * zero_ratios < kept && j > kZeroRatioThreshold * threshold) band = 0.0;
    if (j >= kSecondStageThreshold * threshold && r < 1.0 && kept >= 2) {
      double p = j;
      for (int32_t k : retained) {
        const Breakpoint& e = list_[static_cast<size_t>(k)];
        if (!(e.magnitude >= r * j)) continue;
        if ((e.ratio < u && u > band) || (e.magnitude > p && e.ratio < band) || (e.ratio == u && e.magnitude > p)) {
          choice = k;
          u = e.ratio;
          p = e.magnitude;
        }
      }
    }
    return choice;
  }

  const RatioInputs& in_;
  PassState& state_;
  std::vector<Breakpoint>& list_;
  PhaseOneSums sums_;
  double g_ = 0.0;
  int32_t choice_ = -1;
  double choice_relaxed_ = 0.0;
};

// Range of the entering variable in its direction of motion.
void entering_range(RatioInputs& in) {
  const int32_t q = entering_column;
  double lower = 0.0;
  double upper = kInfinity;
  if (q > 0) {
    const int32_t st = in.status[q];
    lower = (st & PS_FINITE_LOWER) != 0 ? in.lower[q] : -kInfinity;
    upper = (st & PS_FINITE_UPPER) != 0 ? real_array(ARR_UPPER)[q] : kInfinity;
    if ((st & PS_NONBASIC_BETWEEN) != 0) {
      const double value = real_array(ARR_X)[q];
      if (entering_sign == 1)
        upper = value;
      else
        lower = value;
    }
  }
  in.range_finite = lower > -kInfiniteBound && upper < kInfiniteBound;
  in.range = in.range_finite ? upper - lower : kInfinity;
  in.reach = in.range + in.ztolze;
}

// Smallest exact ratio of the pass's breakpoints (a larger pivot among
// equal ratios), -1 when there are none.
int32_t smallest_ratio(const std::vector<Breakpoint>& list) {
  int32_t best = -1;
  for (size_t k = 0; k < list.size(); ++k) {
    const Breakpoint& b = list[k];
    if (best < 0) {
      best = static_cast<int32_t>(k);
      continue;
    }
    const Breakpoint& c = list[static_cast<size_t>(best)];
    if (b.ratio < c.ratio || (b.ratio == c.ratio && b.magnitude > c.magnitude)) best = static_cast<int32_t>(k);
  }
  return best;
}

// The working right-hand side absorbs a move d of basic variable p.
void absorb_into_rhs(int32_t p, double d) {
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  if (p < store.first_col) {
    rhs[p] += d;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = start[p]; e < start[p + 1]; ++e) rhs[elem_row[e]] += d * elem_value[e];
}

}  // namespace

// ---------------------------------------------------------------------------

int32_t primal_ratio_test() {
  RatioInputs in;
  in.scan_all = entering_column <= 0;
  in.scan_count = factor.work_vector_count;
  entering_range(in);
  double f = 1.0;
  if (update_count <= kFewUpdates)
    f = kFewUpdatesFactor;
  else if (update_count > kManyUpdates)
    f = kManyUpdatesFactor;
  in.threshold_factor = ratio_tolerance * f;

  PassState state;
  state.breakpoints.swap(scratch_breakpoints);
  state.breakpoints.reserve(static_cast<size_t>(std::max(nrow, 1)));
  state.abs_tolerance = dcv(dc::ZTOLPV);
  ratio_test_report.passes = 0;
  ratio_test_report.long_step = 0;
  ratio_test_report.last_resort = 0;
  ratio_test_report.entering_range = in.range;

  const double ztshft = dcv(dc::ZTSHFT);
  const int32_t pass_limit = std::max(ratio_test_limits.max_passes, 1);
  int32_t result = RATIO_STEP;
  leaving_row = 0;
  bool found = false;
  PassResult chosen;

  for (int32_t pass = 1;; ++pass) {
    Pass scan(in, state);
    PassResult outcome = scan.run();
    ratio_test_report.passes = pass;
    const bool last = pass >= pass_limit;
    if (outcome.end == PassEnd::kNoRowVerdict) {
      chosen = outcome;
      break;
    }
    if (outcome.end == PassEnd::kRow) {
      const double magnitude = std::fabs(in.alpha[outcome.row]);
      const double threshold = pivot_threshold(in, state.largest);
      bool accept = magnitude >= threshold;
      bool keep_long_step = true;
      if (!accept) {
        if (update_count > kManyUpdates) {
          result = RATIO_SMALL_PIVOT;
        } else if (factor_accurate == 0) {
          if (magnitude > kRefusedPivotMultiple * state.abs_tolerance) {
            result = RATIO_SMALL_PIVOT;
          } else if (pass == 1 && ninf == 0) {
            state.repeat = true;
          } else {
            state.repeat = false;
            state.abs_tolerance = kToleranceRaise * magnitude / state.relative;
          }
        } else if (kNegligiblePivotRatio * magnitude < ratio_tolerance * state.largest) {
          state.abs_tolerance = kToleranceRaise * magnitude / state.relative;
          keep_long_step = false;
        } else if (magnitude >= kAcceptedPivotMultiple * state.abs_tolerance) {
          accept = true;
        } else {
          state.abs_tolerance = kToleranceRaise * magnitude / state.relative;
          keep_long_step = false;
        }
      }
      if (result == RATIO_SMALL_PIVOT) {
        leaving_row = saved_leaving_row;
        ratio_test_report.largest_alpha = state.largest;
        ratio_test_report.pivot_magnitude = magnitude;
        scratch_breakpoints.swap(state.breakpoints);
        return result;
      }
      if (accept) {
        chosen = outcome;
        found = true;
        break;
      }
      if (!keep_long_step) state.long_step = false;
    } else {
      state.long_step = false;
    }
    if (last) {
      // The passes are bounded: the last one takes the smallest ratio, or
      // gives the no-row verdict when nothing limits the step.
      ratio_test_report.last_resort = 1;
      const int32_t k = smallest_ratio(state.breakpoints);
      if (k < 0) {
        chosen.end = PassEnd::kNoRowVerdict;
      } else {
        chosen = PassResult{};
        chosen.end = PassEnd::kRow;
        chosen.row = state.breakpoints[static_cast<size_t>(k)].row;
        chosen.direction = state.breakpoints[static_cast<size_t>(k)].direction;
        found = true;
      }
      break;
    }
    state.relative = std::min(state.relative * kRelativeToleranceGrowth, kLastRelativeTolerance);
  }
  ratio_test_report.largest_alpha = state.largest;
  scratch_breakpoints.swap(state.breakpoints);

  if (!found) {
    ratio_test_report.pivot_magnitude = 0.0;
    if (!in.range_finite) {
      leaving_row = kLeavingNone;
      step_length = kInfinity;
      return RATIO_STEP;
    }
    step_length = in.range;
    leaving_variable = 0;
    pivot_value = 0.0;
    leaving_row = kLeavingBoundFlip;
    leaving_direction = entering_sign == 1 ? kLeaveAtLower : kLeaveAtUpper;
    if (in.range > ztshft) stall_count = 0;
    return RATIO_STEP;
  }

  const int32_t r = chosen.row;
  const int32_t p = in.header[r];
  const double alpha_r = in.alpha[r];
  ratio_test_report.pivot_magnitude = std::fabs(alpha_r);
  ratio_test_report.long_step = chosen.long_step ? 1 : 0;
  leaving_direction = chosen.direction;
  leaving_row = r;
  leaving_variable = p;
  const double bound = chosen.direction == kLeaveAtLower ? in.lower[p] : in.u_b[r];
  double theta = (in.x_b[r] - bound) / alpha_r;
  pivot_value = entering_sign == 1 ? -alpha_r : alpha_r;
  if (theta > ztshft)
    stall_count = 0;
  else
    ++stall_count;
  if (perturbation_phase >= 2 && theta < -ztshft) {
    // A negative step would move the entering variable backwards: the
    // leaving variable is put on its bound and the right-hand side takes
    // the difference.
    const double d = bound - in.x_b[r];
    in.x_b[r] = bound;
    theta = 0.0;
    ++shift_count;
    ++ratio_test_report.negative_step_repairs;
    absorb_into_rhs(p, d);
  }
  step_length = theta;
  return RATIO_STEP;
}

}  // namespace kl
