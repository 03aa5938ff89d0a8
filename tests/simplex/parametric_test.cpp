// The parametric objective analysis on a two-variable LP whose breakpoints
// are worked out by hand: min -2x - y + lambda (x - y) subject to
// x + y <= 4, x <= 3. The optimum (3, 1) holds up to lambda = 1/2; there
// the basis moves to (0, 4), which stays optimal for every larger lambda.
#include <gtest/gtest.h>

#include <cstdint>

#include "console/araobj_command.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/parametric.h"
#include "simplex/simplex_state.h"
#include "simplex/small_lps.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::Problem;

Problem two_variable_lp() {
  Problem p;
  p.row_types = "LLL";
  p.rhs = {4, 3, 100};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}, {2, 1.0}}, 0, kltest::kInf, -2.0},
      {{{0, 1.0}, {2, -1.0}}, 0, kltest::kInf, -1.0},
  };
  return p;
}

class Parametric : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    kltest::captured_lines().clear();
    KLDEFINEUOPENTRY(kltest::capture_plain);
    ASSERT_EQ(two_variable_lp().load(dir.file("lp").c_str()), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    ASSERT_EQ(kl::status_letter, kl::kLetterOptimal);
    kl::parametric_row = 3;
    kl::parametric_value = 0.0;
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
  kltest::TempDir dir;
};

TEST_F(Parametric, StopsAtTheHandComputedBreakpoint) {
  const int32_t kept_itrlog = kl::icv(kl::ic::ITRLOG);
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
  const double lambda = kl::parametric_value;
  EXPECT_NEAR(lambda, 0.5, 1e-9);
  // One pivot to the vertex (0, 4), which no larger lambda leaves.
  EXPECT_EQ(kl::itcnt, 1);
  EXPECT_NEAR(kl::objval, -4.0, 1e-9);
  EXPECT_EQ(kl::icv(kl::ic::ITRLOG), kept_itrlog);
}

TEST_F(Parametric, PhimaxEndsTheAnalysisBeforeTheBreakpoint) {
  kl::dcv(kl::dc::PHIMAX) = 0.25;
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
  EXPECT_EQ(kl::entering_column, -1);
  EXPECT_EQ(kl::itcnt, 0);
  EXPECT_NEAR(kl::objval, -7.0, 1e-9);
}

TEST_F(Parametric, RowOutsideTheProblemFindsNoBreakpoint) {
  kl::parametric_row = 0;
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
  EXPECT_EQ(kl::entering_column, 0);
  EXPECT_EQ(kl::parametric_value, 0.0);
}

}  // namespace

namespace {

// With INVFRQ at its default the loop keeps going on the engines' fill rule
// instead of refactorising after every step.
TEST(ParametricRefactorRule, FollowsInvfrqOrTheFillRule) {
  struct Case {
    int32_t invfrq, updates, row_eta_entries;
    bool due;
  } cases[] = {
      {-1, 1, 0, false}, {-1, 5, 10, false}, {-1, 5, 100000, true}, {3, 2, 0, false}, {3, 3, 0, true},
  };
  for (const Case& c : cases) {
    kl::icv(kl::ic::INVFRQ) = c.invfrq;
    kl::update_count = c.updates;
    kl::row_eta_entries = c.row_eta_entries;
    kl::u_active_entries = 100;
    kl::factor_accurate = 1;
    EXPECT_EQ(kl::parametric_refactor_due(), c.due) << c.invfrq << " " << c.updates;
  }
  kl::icv(kl::ic::INVFRQ) = -1;
  kl::update_count = 0;
  kl::row_eta_entries = 0;
}

}  // namespace

namespace {

TEST(ParametricCommand, WithoutAProblemRefusesAndKeepsItrlog) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  kl::icv(kl::ic::ITRLOG) = 7;
  kl::araobj_command(3);
  EXPECT_EQ(kl::status_code, 32);
  EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 7);
  KLFREEXO();
}

}  // namespace
