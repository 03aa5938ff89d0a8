// The parametric objective analysis run by araobj_command on small LPs
// loaded through KLLOADPROB, against breakpoints worked out by hand:
//
//   min -3x - y  with  x + y <= 4, x <= 3, y <= 3, and the free row
//   DIR = 2x - y (row 1, the default direction).
//
// At lambda the costs are (-3 + 2 lambda, -1 - lambda): (3, 1) is optimal up
// to lambda 2/3, (1, 3) up to 3/2 and (0, 3) for every larger lambda, where
// c'x = -3 and the objective is -3 - 3 lambda = -7.5.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "console/araobj_command.h"
#include "runtime/options.h"
#include "factor/scaling.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/platform.h"
#include "simplex/parametric.h"
#include "factor/simplex_state.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::Problem;

// The LP above; the direction row times dir_scale moves every breakpoint by
// 1/dir_scale, and row_scale spoils the scaling of x + y <= 4.
Problem two_breakpoints(double dir_scale = 1.0, double row_scale = 1.0) {
  Problem p;
  p.row_types = "NLLL";
  p.rhs = {0, 4 * row_scale, 3, 3};
  p.columns = {
      {{{0, 2 * dir_scale}, {1, row_scale}, {2, 1.0}}, 0, kltest::kInf, -3.0},
      {{{0, -1 * dir_scale}, {1, row_scale}, {3, 1.0}}, 0, kltest::kInf, -1.0},
  };
  return p;
}

// min x + y + lambda (-2y) with x - y <= 1: at lambda 1/2 y's cost reaches 0
// and nothing bounds y.
Problem unbounded_direction() {
  Problem p;
  p.row_types = "NL";
  p.rhs = {0, 1};
  p.columns = {{{{1, 1.0}}, 0, kltest::kInf, 1.0}, {{{0, -2.0}, {1, -1.0}}, 0, kltest::kInf, 1.0}};
  return p;
}

class Parametric : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    // No row named after the command word: the default direction.
    kl::set_command_argument("");
    kl::parametric_stats = kl::ParametricStats{};
  }
  void solve(const Problem& p) {
    ASSERT_EQ(p.load(dir.file("lp").c_str()), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    ASSERT_EQ(kl::status_letter, kl::kLetterOptimal);
  }
  kltest::TempDir dir;
};

TEST_F(Parametric, FollowsBothBreakpointsWhateverTheFactorUpdates) {
  // INVFRQ 1 returns for a fresh factor after every step; -1 leaves it to
  // the engines' rule, which keeps updating over two steps. IFFTUP 0
  // updates in product form.
  struct Case {
    int32_t invfrq, ifftup;
  } cases[] = {{-1, 1}, {1, 1}, {-1, 0}, {1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "INVFRQ " << c.invfrq << " IFFTUP " << c.ifftup);
    ASSERT_EQ(KLSETICV(KLIC_INVFRQ, c.invfrq), 0);
    ASSERT_EQ(KLSETICV(KLIC_IFFTUP, c.ifftup), 0);
    kl::parametric_stats = kl::ParametricStats{};
    solve(two_breakpoints());
    const int32_t kept_itrlog = kl::icv(kl::ic::ITRLOG);
    kl::araobj_command(3);
    EXPECT_EQ(kl::status_code, 0);
    EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
    EXPECT_EQ(kl::parametric_row, 1);
    EXPECT_EQ(kl::itcnt, 2);
    EXPECT_NEAR(kl::parametric_value, 1.5, 1e-9);
    EXPECT_NEAR(kl::parametric_base_objective(), -3.0, 1e-9);
    EXPECT_NEAR(kl::parametric_objective(), -7.5, 1e-9);
    EXPECT_EQ(kl::parametric_stats.refactor_returns > 0, c.invfrq == 1);
    EXPECT_EQ(kl::icv(kl::ic::ITRLOG), kept_itrlog);
  }
}

TEST_F(Parametric, BoundFlipAtUpperDoesNotHideTheNextBreakpoint) {
  // z in [0, 1] with cost 1 - 2 lambda (DIR coefficient -2) flips to its
  // upper bound at lambda 1/2, where its reduced cost is 0 and keeps
  // falling. Its at-upper rate must not stop the breakpoints 2/3 and 3/2.
  Problem p = two_breakpoints();
  p.columns.insert(p.columns.begin(), kltest::Column{{{0, -2.0}}, 0, 1, 1.0});
  solve(p);
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
  EXPECT_EQ(kl::itcnt, 3);
  EXPECT_NEAR(kl::parametric_value, 1.5, 1e-9);
  // (0, 3) with z = 1: c'x = -2, and -2 + 1.5 (-3 - 2) at lambda.
  EXPECT_NEAR(kl::parametric_base_objective(), -2.0, 1e-9);
  EXPECT_NEAR(kl::parametric_objective(), -9.5, 1e-9);
}

TEST_F(Parametric, PhimaxEndsAtTheFirstBreakpointBeyondIt) {
  struct Case {
    double phimax;
    int32_t pivots;
    double lambda;
    int32_t entering;
  } cases[] = {{0.5, 0, 2.0 / 3.0, -1}, {1.0, 1, 1.5, -1}, {1e20, 2, 1.5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phimax);
    solve(two_breakpoints());
    ASSERT_EQ(KLSETDCV(KLDC_PHIMAX, c.phimax), 0);
    kl::araobj_command(3);
    EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
    EXPECT_EQ(kl::itcnt, c.pivots);
    EXPECT_NEAR(kl::parametric_value, c.lambda, 1e-9);
    EXPECT_EQ(kl::entering_column, c.entering);
  }
}

TEST_F(Parametric, StopRequestAndIterationLimitEndAfterTheFirstPivot) {
  // A stop ends with letter C; the limit leaves the LP's letter.
  struct Case {
    bool interrupt;
    int32_t itrlim;
    char letter;
  } cases[] = {{true, 2147483645, kl::kLetterStopped}, {false, 1, kl::kLetterOptimal}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    solve(two_breakpoints());
    ASSERT_EQ(KLSETICV(KLIC_ITRLIM, c.itrlim), 0);
    kl::interrupt_flag = c.interrupt ? 1 : 0;
    kl::araobj_command(3);
    kl::interrupt_flag = 0;
    EXPECT_EQ(kl::status_code, 0);
    EXPECT_EQ(kl::status_letter, c.letter);
    EXPECT_EQ(kl::problem_state, kl::kParametricFinished);
    EXPECT_EQ(kl::itcnt, 1);
    EXPECT_NEAR(kl::parametric_value, 2.0 / 3.0, 1e-9);
    EXPECT_NEAR(kl::parametric_objective(), -6.0 - 2.0 / 3.0, 1e-9);
  }
}

TEST_F(Parametric, LambdaIsInTheCallersUnitsOfAScaledRow) {
  // DIR times 1000 moves the breakpoints to 2/3000 and 3/2000. As an L row
  // (free rows keep factor 1) that never binds, DIR <= 10000, it is scaled
  // and adds -lambda 10000 to the objective. Scaled or not, the analysis
  // must say the same.
  Problem p = two_breakpoints(1000.0, 1000.0);
  p.row_types[0] = 'L';
  p.rhs[0] = 1e4;
  for (const int32_t ifscal : {35, 0}) {
    SCOPED_TRACE(ifscal);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, ifscal), 0);
    solve(p);
    const int32_t exponent = kl::scale_exponent(kl::int_array(kl::ARR_POS_STATUS)[1]);
    EXPECT_EQ(exponent != kl::kNeutralScaleExponent, ifscal != 0) << "the direction row is scaled";
    kl::set_command_argument("VVVVVVV1");
    kl::araobj_command(3);
    EXPECT_EQ(kl::status_code, 0);
    EXPECT_EQ(kl::itcnt, 2);
    EXPECT_NEAR(kl::parametric_value, 1.5e-3, 1e-12);
    EXPECT_NEAR(kl::parametric_objective(), -7.5 - 1.5e-3 * 1e4, 1e-9);
  }
}

TEST_F(Parametric, ColumnWithoutLimitEndsUnbounded) {
  solve(unbounded_direction());
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(kl::status_letter, kl::kLetterUnbounded);
  EXPECT_NEAR(kl::parametric_value, 0.5, 1e-12);
  EXPECT_EQ(kl::entering_column, kl::store.first_col + 1) << "y enters";
  EXPECT_EQ(kl::itcnt, 0);
  EXPECT_TRUE(kltest::any_line_contains("enters without limit"));
}

TEST_F(Parametric, InfeasibleBasisIsReoptimisedAndEndsTheAnalysis) {
  solve(two_breakpoints());
  // x is basic at 3; with x <= 2 the basis is infeasible.
  const int32_t x = 0;
  const char upper = 'U';
  const double two = 2.0;
  ASSERT_EQ(KLCHGBDS(1, &x, &upper, &two), 0);
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
  EXPECT_EQ(kl::parametric_value, 0.0);
  EXPECT_NEAR(kl::objval, -8.0, 1e-9) << "(2, 2) after the re-optimisation";
  EXPECT_TRUE(kltest::any_line_contains("ends at lambda"));
}

TEST_F(Parametric, RefusalsKeepItrlogAndTheBasis) {
  enum Setting { kNoProblem, kNotOptimised, kPresolved, kNoFreeRow };
  struct Case {
    Setting setting;
    const char* message;
  } cases[] = {
      {kNoProblem, "No problem"},
      {kNotOptimised, "did not finish"},
      {kPresolved, "did not finish"},
      {kNoFreeRow, "needs a free row"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
    switch (c.setting) {
      case kNoProblem:
        break;
      case kNotOptimised:
        ASSERT_EQ(two_breakpoints().load(dir.file("lp").c_str()), 0);
        break;
      case kPresolved:
        solve(two_breakpoints());
        kl::problem_flags |= kl::PF_PRESOLVED_LP;
        break;
      case kNoFreeRow:
        solve(kltest::production());
        break;
    }
    const int32_t kept_itcnt = kl::itcnt;
    kl::icv(kl::ic::ITRLOG) = 7;
    kl::araobj_command(3);
    EXPECT_EQ(kl::status_code, 32);
    EXPECT_TRUE(kltest::any_line_contains(c.message));
    EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 7);
    EXPECT_EQ(kl::itcnt, kept_itcnt);
    kl::problem_flags &= ~kl::PF_PRESOLVED_LP;
  }
}

}  // namespace

namespace {

// A positive INVFRQ counts updates; otherwise the engines' rule decides, so
// the default -1 never means a fresh factor after every step.
TEST(ParametricRefactorRule, FollowsInvfrqOrTheFillRule) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  struct Case {
    int32_t invfrq, updates, live, row_etas, accurate;
    bool due;
  } cases[] = {
      {3, 2, 100, 0, 1, false}, {3, 3, 100, 0, 1, true},      {-1, 1, 100, 10, 1, false},
      {-1, 2, 100, 2000, 1, true}, {-1, 74, 1000000, 0, 0, true}, {-1, 73, 1000000, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.invfrq << " " << c.updates << " " << c.row_etas);
    kl::icv(kl::ic::INVFRQ) = c.invfrq;
    kl::update_count = c.updates;
    kl::u_active_entries = c.live;
    kl::row_eta_entries = c.row_etas;
    kl::factor_accurate = c.accurate;
    EXPECT_EQ(kl::parametric_refactor_due(), c.due);
  }
  kl::factor_accurate = 1;
  KLFREEXO();
}

}  // namespace
