// The bound-flipping ratio test: the choice between boxed breakpoints and
// unboxed candidates on a one-row problem, the bounded breakpoint heap, the
// shift of a slightly wrong-signed slack cost, the pivot row against the
// basis inverse in every way it is computed, dual feasibility after the
// chosen step, and the row-weight check.
#include "simplex/dual_ratio_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "simplex/dual_step_fixture.h"

namespace {

using namespace kl;

// One structural column of a one-row problem: its pivot-row entry alpha
// (the row leaves below its lower bound, so rho = -e_1 and a_1j = -alpha),
// reduced cost, upper bound (lower 0) and bound.
struct Candidate {
  double alpha;
  double d;
  double upper;
  bool at_upper = false;
};

class DualRatioTest : public kltest::DualStepTest {
 protected:
  // Row 1's slack is basic at -5, below its lower bound 0.
  void set_up(const std::vector<Candidate>& candidates) {
    std::vector<kltest::Column> columns;
    for (const Candidate& c : candidates) columns.push_back({{1, -c.alpha}});
    ASSERT_NO_FATAL_FAILURE(build_dual(1, columns));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (size_t k = 0; k < candidates.size(); ++k) {
      const Candidate& c = candidates[k];
      const int32_t p = kltest::column_position(static_cast<int32_t>(k));
      set_bounds(p, 0.0, c.upper);
      if (c.at_upper) status[p] |= PS_AT_UPPER;
      real_array(ARR_REDUCED_COSTS)[p] = c.d;
    }
    leave_row(1, -5.0, kLeaveAtLower);
  }
  static void set_bounds(int32_t p, double lower, double upper) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    real_array(ARR_LOWER)[p] = real_array(ARR_WORK_LOWER)[p] = lower;
    real_array(ARR_UPPER)[p] = real_array(ARR_WORK_UPPER)[p] = upper;
    if (upper >= kInfinity)
      status[p] &= ~PS_FINITE_UPPER;
    else
      status[p] |= PS_FINITE_UPPER;
  }
  static void leave_row(int32_t r, double value, int32_t direction) {
    real_array(ARR_BASIC_VALUES)[r] = value;
    leaving_row = r;
    leaving_variable = int_array(ARR_BASIS_HEADER)[r];
    leaving_direction = direction;
  }
  static int32_t basis_position_of(int32_t variable) {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t i = 1; i <= nrow; ++i)
      if (header[i] == variable) return i;
    return 0;
  }
  // Column numbers (from 0) of the flip list, sorted.
  static std::vector<int32_t> flipped_columns() {
    std::vector<int32_t> out;
    for (int32_t n = 1; n <= bound_flips.count; ++n) out.push_back(bound_flips.columns[n] - store.first_col);
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(DualRatioTest, ChoosesBetweenBreakpointsAndUnboxedCandidates) {
  constexpr double kNone = kInfinity;
  struct Case {
    const char* name;
    std::vector<Candidate> candidates;
    int32_t entering;  // column from 0, -1 none
    std::vector<int32_t> flips;
    int32_t sign = 0;
    int32_t trouble = DUAL_RATIO_CLEAN;
  };
  const Case cases[] = {
      {"no candidate: every entry has the wrong sign", {{-1.0, 1.0, 10.0}}, -1, {}},
      {"a single boxed candidate enters whatever the slope", {{1.0, 2.0, 1.0}}, 0, {}},
      {"a short box is flipped and the unboxed candidate enters", {{1.0, 1.0, 2.0}, {1.0, 4.0, kNone}}, 1, {0}},
      {"a long box ends the step before the unboxed candidate", {{1.0, 1.0, 10.0}, {1.0, 4.0, kNone}}, 0, {}},
      {"slope still negative after the last breakpoint", {{1.0, 1.0, 1.0}, {1.0, 2.0, 1.0}}, 1, {0}},
      {"the slope turns at the middle breakpoint", {{1.0, 1.0, 3.0}, {1.0, 2.0, 3.0}, {1.0, 3.0, 3.0}}, 1, {0}},
      {"a column at its upper bound enters decreasing", {{-1.0, -1.0, 10.0, true}}, 0, {}, 1},
      {"degenerate near-ties: the larger pivot enters, the top is flipped", {{2.0, 0.0, 2.0}, {1.0, 0.0, 2.0}}, 0, {1}},
      {"a larger pivot whose jump cannot cover the overshoot does not", {{2.0, 0.0, 0.5}, {1.0, 0.0, 10.0}}, 1, {0}},
      {"a dual-infeasible candidate in phase 2 is trouble", {{-1.0, -1.0, 10.0}, {1.0, 1.0, kNone}}, -1, {}, 0,
       DUAL_RATIO_PHASE1_CANDIDATE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(set_up(c.candidates));
    int32_t trouble = -1;
    bound_flip_ratio_test(&trouble);
    EXPECT_EQ(trouble, c.trouble);
    EXPECT_EQ(entering_column, c.entering < 0 ? 0 : kltest::column_position(c.entering));
    EXPECT_EQ(flipped_columns(), c.flips);
    if (c.entering >= 0) {
      EXPECT_EQ(entering_sign, c.sign);
      EXPECT_EQ(entering_reduced_cost, c.candidates[static_cast<size_t>(c.entering)].d);
      EXPECT_EQ(entering_upper, c.candidates[static_cast<size_t>(c.entering)].upper);
    }
    for (int32_t n = 1; n <= bound_flips.count; ++n) EXPECT_EQ(bound_flips.to_upper[n], 1);
  }
}

// More breakpoints than the heap holds: it keeps the 2999 smallest ratios,
// the largest of them enters and the others are flipped.
TEST_F(DualRatioTest, BreakpointHeapStaysBounded) {
  constexpr int32_t kColumns = kBreakpointCapacity + 100;
  std::vector<Candidate> candidates;
  for (int32_t k = 0; k < kColumns; ++k) candidates.push_back({1.0, 0.001 * (k + 1), 1e-6});
  // Scrambled, so that later columns do not simply arrive in key order.
  std::mt19937 rng(7);
  std::shuffle(candidates.begin(), candidates.end(), rng);
  ASSERT_NO_FATAL_FAILURE(set_up(candidates));
  dual_ratio_stats = DualRatioStats{};
  int32_t trouble = -1;
  bound_flip_ratio_test(&trouble);
  EXPECT_EQ(trouble, DUAL_RATIO_CLEAN);
  EXPECT_GT(dual_ratio_stats.heap_overflows, 0);
  EXPECT_EQ(bound_flips.count, kBreakpointHeapNearlyFull - 1);
  ASSERT_NE(entering_column, 0);
  // The 2999th smallest reduced cost enters; every flip lies below it.
  EXPECT_NEAR(entering_reduced_cost, 0.001 * kBreakpointHeapNearlyFull, 1e-12);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  for (int32_t n = 1; n <= bound_flips.count; ++n) EXPECT_LT(d[bound_flips.columns[n]], entering_reduced_cost);
  // The next test starts from an intact pool.
  ASSERT_NO_FATAL_FAILURE(set_up({{1.0, 1.0, 1.0}, {1.0, 2.0, 1.0}}));
  bound_flip_ratio_test(&trouble);
  EXPECT_EQ(entering_column, kltest::column_position(1));
  EXPECT_EQ(flipped_columns(), std::vector<int32_t>{0});
}

// Row 2's slack is nonbasic with a reduced cost just below -ZTCOST: it is
// shifted and enters, unless the perturbation has been removed for good
// (perturbation_phase 4), when it counts as dual infeasible.
TEST_F(DualRatioTest, SlightlyWrongSlackCostIsShifted) {
  const double ztcost = dcv(dc::ZTCOST);
  struct Case {
    int32_t phase;
    bool enters;
  };
  for (const Case& c : {Case{3, true}, Case{4, false}}) {
    SCOPED_TRACE(c.phase);
    // B = [e_1, (1, 1)']: rho = -e_1' B^-1 = (-1, 1), so slack 2 has alpha 1.
    const int32_t a = 3;
    ASSERT_NO_FATAL_FAILURE(build_dual(2, {{{1, 1.0}, {2, 1.0}}}, {1, a}));
    perturbation_phase = c.phase;
    dual_ratio_stats = DualRatioStats{};
    const double d_slack = -50.0 * ztcost;
    real_array(ARR_REDUCED_COSTS)[2] = d_slack;
    leave_row(basis_position_of(1), -5.0, kLeaveAtLower);
    int32_t trouble = -1;
    bound_flip_ratio_test(&trouble);
    EXPECT_EQ(trouble, DUAL_RATIO_CLEAN);
    if (c.enters) {
      EXPECT_EQ(entering_column, 2);
      EXPECT_EQ(shift_count, 1);
      EXPECT_EQ(dual_ratio_stats.slack_cost_shifts, 1);
      EXPECT_NEAR(real_array(ARR_REDUCED_COSTS)[2], d_slack + 100.0 * ztcost, 1e-15);
      EXPECT_NEAR(real_array(ARR_WORKING_COSTS)[2], 100.0 * ztcost, 1e-15);
    } else {
      EXPECT_EQ(entering_column, 0);
      EXPECT_EQ(shift_count, 0);
      EXPECT_EQ(real_array(ARR_REDUCED_COSTS)[2], d_slack);
    }
  }
}

// A random basis of a random sparse problem; nonbasic columns at either
// bound with reduced costs of the dual-feasible sign.
class DualRatioRandom : public DualRatioTest {
 protected:
  void set_up_random(uint32_t seed, int32_t m, int32_t n, int32_t permuted, int32_t mode) {
    std::mt19937 rng(seed);
    const std::vector<kltest::Column> columns = kltest::random_columns(m, n, 3, rng);
    const std::vector<int32_t> basic = kltest::random_basis(m, n, m / 2, rng);
    ASSERT_NO_FATAL_FAILURE(build_dual(m, columns, basic, permuted, mode));
    std::uniform_real_distribution<double> cost(0.0, 2.0);
    std::uniform_int_distribution<int> coin(0, 3);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (int32_t p = 1; p <= nseq; ++p) {
      if ((status[p] & PS_BASIC) != 0) continue;
      const int kind = coin(rng);
      if (p >= store.first_col && kind == 0) set_bounds(p, 0.0, kInfinity);
      const bool up = p >= store.first_col && kind == 1;
      if (up) status[p] |= PS_AT_UPPER;
      // A few exact ties at zero, the degenerate case.
      const double size = kind == 2 ? 0.0 : cost(rng);
      d[p] = up ? -size : size;
    }
  }
};

TEST_F(DualRatioRandom, PivotRowMatchesTheBasisInverse) {
  struct Setting {
    int32_t permuted;
    int32_t mode;
  };
  std::set<int32_t> strategies;
  for (const Setting s : {Setting{0, 0}, Setting{1, 0}, Setting{0, 1}, Setting{1, 1}}) {
    for (uint32_t seed : {1u, 2u}) {
      SCOPED_TRACE("permuted " + std::to_string(s.permuted) + " mode " + std::to_string(s.mode) + " seed " +
                   std::to_string(seed));
      ASSERT_NO_FATAL_FAILURE(set_up_random(seed, 40, 90, s.permuted, s.mode));
      OneBased<int32_t> status = int_array(ARR_POS_STATUS);
      for (int32_t r = 1; r <= nrow; ++r) {
        const int32_t direction = r % 2 == 0 ? kLeaveAtLower : kLeaveAtUpper;
        leave_row(r, direction == kLeaveAtLower ? -1.0 : 1e21, direction);
        int32_t trouble = -1;
        bound_flip_ratio_test(&trouble);
        ASSERT_EQ(trouble, DUAL_RATIO_CLEAN) << "row " << r;
        strategies.insert(dual_ratio_stats.last_strategy);
        const std::vector<double> rho = row_of_inverse(r);
        const double sign = direction == kLeaveAtLower ? -1.0 : 1.0;
        double norm = 0.0;
        for (int32_t p = 1; p <= nseq; ++p) {
          if ((status[p] & PS_BASIC) != 0 && p >= store.first_col) continue;
          const double expected = sign * times_column(rho, p);
          if (p < store.first_col) norm += expected * expected;
          if ((status[p] & PS_BASIC) != 0) continue;
          const double got = pivot_row_alpha(p);
          ASSERT_NEAR(got, expected, 1e-10 * (1.0 + std::fabs(expected))) << "row " << r << " position " << p;
        }
        if (s.mode == kDualPricingSteepestEdge) {
          EXPECT_NEAR(entering_weight, norm, 1e-9 * norm);
        }
      }
    }
  }
  // The problems are sparse enough and dense enough for more than one way.
  EXPECT_GE(strategies.size(), 2u);
}

// Every candidate that is neither flipped nor entering stays dual feasible
// within ZTCOST after the dual step d_q / alpha_q; every flip is boxed.
TEST_F(DualRatioRandom, StepKeepsTheOtherCandidatesDualFeasible) {
  const double ztcost = dcv(dc::ZTCOST);
  const double ztolpv = dcv(dc::ZTOLPV);
  int32_t steps = 0;
  for (uint32_t seed : {3u, 4u, 5u}) {
    ASSERT_NO_FATAL_FAILURE(set_up_random(seed, 30, 70, 1, kDualPricingDevex));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (int32_t r = 1; r <= nrow; ++r) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " row " + std::to_string(r));
      leave_row(r, -0.5 * r, kLeaveAtLower);
      int32_t trouble = -1;
      bound_flip_ratio_test(&trouble);
      ASSERT_EQ(trouble, DUAL_RATIO_CLEAN);
      const int32_t q = entering_column;
      if (q == 0) continue;
      ++steps;
      std::set<int32_t> flipped;
      for (int32_t n = 1; n <= bound_flips.count; ++n) {
        const int32_t k = bound_flips.columns[n];
        flipped.insert(k);
        EXPECT_EQ(status[k] & PS_BOTH_FINITE, PS_BOTH_FINITE) << "flip " << k;
      }
      const double theta = d[q] / pivot_row_alpha(q);
      for (int32_t j = 1; j <= nseq; ++j) {
        if (j == q || flipped.count(j) != 0 || (status[j] & (PS_BASIC | PS_FIXED)) != 0) continue;
        const double alpha = pivot_row_alpha(j);
        if (std::fabs(alpha) < 50.0 * ztolpv) continue;
        const double after = d[j] - theta * alpha;
        const double side = (status[j] & PS_AT_UPPER) != 0 ? -after : after;
        EXPECT_GE(side, -ztcost * (1.0 + 1e-9)) << "position " << j;
      }
    }
  }
  EXPECT_GT(steps, 20);
}

// Pricing mode 0: the counter grows by 1, or by 11 when the stored weight of
// the leaving row exceeds ZTOLMN times the row norm; passing 99 by an 11
// resets every row weight.
TEST_F(DualRatioTest, RowWeightCheck) {
  struct Case {
    double stored_weight;
    int32_t counter;
    int32_t counter_after;
    bool reset;
  };
  const Case cases[] = {
      {1.0, 5, 6, false},
      {1e6, 50, 61, false},
      {1e6, 95, 0, true},
      {1.0, 99, 100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counter);
    ASSERT_NO_FATAL_FAILURE(build_dual(3, {{{1, -1.0}, {2, 1.0}}}));
    leave_row(1, -5.0, kLeaveAtLower);
    real_array(ARR_REDUCED_COSTS)[kltest::column_position(0)] = 1.0;
    OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
    weights[1] = c.stored_weight;
    weights[2] = weights[3] = 7.0;
    weight_check_count = c.counter;
    dual_ratio_stats = DualRatioStats{};
    int32_t trouble = -1;
    bound_flip_ratio_test(&trouble);
    EXPECT_EQ(weight_check_count, c.counter_after);
    EXPECT_EQ(dual_ratio_stats.weight_resets, c.reset ? 1 : 0);
    EXPECT_EQ(weights[3], c.reset ? 1.0 : 7.0);
  }
}

}  // namespace
