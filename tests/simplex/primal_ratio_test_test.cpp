// The primal ratio test on a slack basis, where the transformed column is
// the column itself: the verdicts (row, bound flip, unbounded), the Harris
// choice, the pivot-size rules (including large steps), the phase-1 long
// step and flip, the bounded passes and the repair of a negative step.
#include "simplex/primal_ratio_test.h"

#include <gtest/gtest.h>

#include <vector>

#include "factor/invert.h"
#include "factor/factor_fixture.h"
#include "simplex/kernel.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace {

using namespace kl;

// One basic slack per row: its value, its mark and the entry of the
// entering column in its row.
struct Row {
  double value;
  double alpha;
  int32_t mark = 0;  // RF_INFEAS_ABOVE / RF_INFEAS_BELOW
};

class RatioTest : public kltest::FactorTest {
 protected:
  // Slacks bounded below by 0 (no upper bound) are basic; the entering
  // variable is structural column 1 with bounds [0, upper] at its lower
  // bound (upper 1e20 for none).
  void set_up(const std::vector<Row>& rows, double upper = 10.0) {
    const int32_t m = static_cast<int32_t>(rows.size());
    kltest::build_problem(m, {kltest::Column{{1, 1.0}}});
    q_ = kltest::column_position(0);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    if (upper >= kInfinity) {
      status[q_] &= ~PS_FINITE_UPPER;
      real_array(ARR_UPPER)[q_] = kInfinity;
    } else {
      real_array(ARR_UPPER)[q_] = upper;
    }
    factor.factor_dimension = m;
    ninf = 0;
    for (int32_t i = 1; i <= m; ++i) {
      const Row& r = rows[static_cast<size_t>(i - 1)];
      real_array(ARR_BASIC_VALUES)[i] = r.value;
      real_array(ARR_BASIC_UPPER)[i] = kInfinity;
      int_array(ARR_ROW_TYPE)[i] = ROW_G | r.mark;
      if (r.mark != 0) ++ninf;
    }
    std::vector<double> alpha;
    for (const Row& r : rows) alpha.push_back(r.alpha);
    kltest::load_work_vector(alpha);
    entering_column = q_;
    entering_sign = 0;
    update_count = 10;
    factor_accurate = 1;
    shift_active = 0;
    perturbation_phase = 0;
    ratio_tolerance = dcv(dc::ZTOLRP);
    saved_leaving_row = 0;
    stall_count = 0;
    ratio_test_limits = RatioTestLimits{};
  }
  int32_t q_ = 0;
};

TEST_F(RatioTest, VerdictsWithoutALimitingRow) {
  struct Case {
    const char* name;
    double upper;
    int32_t leaving;
    double step;
  };
  const Case cases[] = {
      {"infinite range: unbounded", kInfinity, kLeavingNone, kInfinity},
      {"finite range: bound flip", 10.0, kLeavingBoundFlip, 10.0},
  };
  for (const Case& c : cases) {
    // Both basic values rise with the step and have no upper bound.
    set_up({{1.0, -1.0}, {2.0, -2.0}}, c.upper);
    EXPECT_EQ(ratio_step(), RATIO_STEP) << c.name;
    EXPECT_EQ(leaving_row, c.leaving) << c.name;
    EXPECT_DOUBLE_EQ(step_length, c.step) << c.name;
  }
}

TEST_F(RatioTest, HarrisChoiceAndFirstStage) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    int32_t leaving;
    double step;
  };
  const Case cases[] = {
      {"equal relaxed ratios: the first met", {{1.0, 1.0}, {1.0, 1.0}}, 1, 1.0},
      // Row 2's exact ratio lies within the band of row 1's: its larger
      // pivot stands. A ratio beyond the band loses to the smaller one.
      {"a larger pivot within the band wins", {{1.0, 1.0}, {2.00000001, 2.0}}, 2, 1.000000005},
      {"a larger pivot beyond the band loses", {{1.0, 1.0}, {2.000001, 2.0}}, 1, 1.0},
      {"smallest ratio when pivots are alike", {{3.0, 1.0}, {1.0, 1.0}, {2.0, 1.0}}, 2, 1.0},
  };
  for (const Case& c : cases) {
    set_up(c.rows, kInfinity);
    EXPECT_EQ(ratio_step(), RATIO_STEP) << c.name;
    EXPECT_EQ(leaving_row, c.leaving) << c.name;
    EXPECT_EQ(leaving_direction, kLeaveAtLower) << c.name;
    EXPECT_NEAR(step_length, c.step, 1e-12) << c.name;
    EXPECT_DOUBLE_EQ(pivot_value, work_vector()[c.leaving]) << c.name;
  }
}

TEST_F(RatioTest, DecreasingVariableGetsTheTrueSignedPivot) {
  set_up({{2.0, 4.0}});
  entering_sign = 1;
  EXPECT_EQ(ratio_step(), RATIO_STEP);
  EXPECT_EQ(leaving_row, 1);
  EXPECT_DOUBLE_EQ(pivot_value, -4.0);
  EXPECT_DOUBLE_EQ(step_length, 0.5);
}

TEST_F(RatioTest, StallCountFollowsDegenerateSteps) {
  set_up({{0.0, 1.0}});
  stall_count = 3;
  ratio_step();
  EXPECT_EQ(stall_count, 4);
  set_up({{1.0, 1.0}});
  stall_count = 3;
  ratio_step();
  EXPECT_EQ(stall_count, 0);
}

// Row 1 offers a tiny pivot at the smallest ratio; row 2 a sound pivot at a
// ratio beyond the Harris bound of row 1.
TEST_F(RatioTest, SmallPivotRules) {
  struct Case {
    const char* name;
    double value1;  // row 1's value over its pivot 1e-7 gives the ratio
    int32_t updates;
    int32_t accurate;
    int32_t result;
    int32_t leaving;
  };
  const Case cases[] = {
      {"after 75 updates: refused", 1e-6, 80, 1, RATIO_SMALL_PIVOT, 17},
      {"a step of 10000 gets the same test", 1e-3, 80, 1, RATIO_SMALL_PIVOT, 17},
      {"accurate factor: excluded, next row taken", 1e-6, 10, 1, RATIO_STEP, 2},
      {"large step, accurate factor: excluded too", 1e-3, 10, 1, RATIO_STEP, 2},
      {"inaccurate factor: refused", 1e-6, 10, 0, RATIO_SMALL_PIVOT, 17},
  };
  for (const Case& c : cases) {
    set_up({{c.value1, 1e-7}, {2e4, 1.0}}, kInfinity);
    update_count = c.updates;
    factor_accurate = c.accurate;
    saved_leaving_row = 17;
    EXPECT_EQ(ratio_step(), c.result) << c.name;
    EXPECT_EQ(leaving_row, c.leaving) << c.name;
  }
}

TEST_F(RatioTest, PassesAreBounded) {
  set_up({{1e-3, 1e-7}, {2e4, 1.0}}, kInfinity);
  ratio_test_limits.max_passes = 1;
  EXPECT_EQ(ratio_step(), RATIO_STEP);
  EXPECT_EQ(ratio_test_report.last_resort, 1);
  EXPECT_EQ(ratio_test_report.passes, 1);
  EXPECT_EQ(leaving_row, 1);  // the smallest ratio of the only pass
}

TEST_F(RatioTest, PhaseOneFlipsWhenInfeasibilityStillFalls) {
  // Both rows are below their lower bound 0 and rise with the step; only
  // the first becomes feasible within the entering range of 2, so the sum
  // of infeasibilities falls all the way: the entering variable flips.
  set_up({{-1.0, -1.0, RF_INFEAS_BELOW}, {-5.0, -1.0, RF_INFEAS_BELOW}}, 2.0);
  EXPECT_EQ(ratio_step(), RATIO_STEP);
  EXPECT_EQ(leaving_row, kLeavingBoundFlip);
  EXPECT_DOUBLE_EQ(step_length, 2.0);
}

TEST_F(RatioTest, LongStepPassesBreakpointsWhileInfeasibilityFalls) {
  // Three rows below their bound become feasible at steps 1, 2, 3; a
  // feasible row blocks at 4. The slope of the sum of infeasibilities
  // (-3 at the start) reaches 0 at the third breakpoint.
  set_up({{-1.0, -1.0, RF_INFEAS_BELOW},
          {-2.0, -1.0, RF_INFEAS_BELOW},
          {-3.0, -1.0, RF_INFEAS_BELOW},
          {4.0, 1.0}},
         kInfinity);
  EXPECT_EQ(ratio_step(), RATIO_STEP);
  EXPECT_EQ(leaving_row, 3);
  EXPECT_EQ(leaving_direction, kLeaveAtLower);
  EXPECT_DOUBLE_EQ(step_length, 3.0);
  EXPECT_EQ(ratio_test_report.long_step, 1);
}

TEST_F(RatioTest, NegativeStepIsRepairedUnderPerturbation) {
  struct Case {
    int32_t phase;
    bool repaired;
  };
  for (const Case& c : {Case{2, true}, Case{0, false}}) {
    set_up({{-1e-7, 1.0}, {5.0, 1.0}});
    perturbation_phase = c.phase;
    shift_count = 0;
    real_array(ARR_WORK_RHS)[1] = 1.0;
    EXPECT_EQ(ratio_step(), RATIO_STEP);
    EXPECT_EQ(leaving_row, 1);
    if (c.repaired) {
      EXPECT_EQ(step_length, 0.0);
      EXPECT_EQ(real_array(ARR_BASIC_VALUES)[1], 0.0);
      EXPECT_EQ(shift_count, 1);
      EXPECT_DOUBLE_EQ(real_array(ARR_WORK_RHS)[1], 1.0 + 1e-7);
    } else {
      EXPECT_DOUBLE_EQ(step_length, -1e-7);
      EXPECT_EQ(shift_count, 0);
    }
  }
}

}  // namespace
