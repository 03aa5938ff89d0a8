// The barrier's statuses as the LP driver reads them: the message, the
// status letter, lp_status and the status word of each, outside and during
// a global search (where an unfinished barrier is a node without a
// solution, not an error).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "barrier/barrier_params.h"
#include "factor/simplex_state.h"
#include "klsol/message_ids.h"
#include "simplex/barrier_front.h"
#include "simplex/lp_driver.h"
#include "simplex/small_lps.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "support/output_capture.h"

namespace {

using namespace kl;

struct Row {
  int32_t barrier_status;
  bool search;
  int32_t message;
  char letter;  // 0: the default U stays
  int32_t lp_status;  // 0: unchanged
  bool status_word;
};

void PrintTo(const Row& r, std::ostream* out) {
  *out << "status " << r.barrier_status << (r.search ? " in a search" : "");
}

class BarrierStatusTable : public ::testing::TestWithParam<Row> {};

TEST_P(BarrierStatusTable, MapsAsTheDriverExpects) {
  const Row r = GetParam();
  const BarrierOutcome o = map_barrier_status(r.barrier_status, r.search);
  EXPECT_EQ(o.message, r.message);
  EXPECT_EQ(o.letter, r.letter);
  EXPECT_EQ(o.lp_status, r.lp_status);
  EXPECT_EQ(o.status_word, r.status_word);
}

constexpr int32_t kUnfinished = MSG_BARRIER_UNFINISHED;
constexpr int32_t kNumerical = MSG_BARRIER_NUMERICAL_TROUBLE;

INSTANTIATE_TEST_SUITE_P(
    Statuses, BarrierStatusTable,
    ::testing::Values(
        Row{BARRIER_ITERATION_LIMIT, false, kUnfinished, 0, 0, true},
        Row{BARRIER_ITERATION_LIMIT, true, kUnfinished, kLetterInfeasible, LP_UNFINISHED, false},
        Row{BARRIER_STOPPED, false, MSG_LP_ITERATION_LIMIT, kLetterUnfinished, 0, false},
        Row{BARRIER_STOPPED, true, MSG_LP_ITERATION_LIMIT, kLetterInfeasible, LP_UNFINISHED, false},
        Row{BARRIER_GO_ON, false, 0, kLetterStopped, 0, false},
        Row{BARRIER_GO_ON, true, 0, kLetterStopped, 0, false},
        Row{BARRIER_SPACE_SHORT, false, MSG_BARRIER_SPACE_SHORT, 0, 0, true},
        Row{BARRIER_LISTS_TOO_LONG, true, MSG_BARRIER_SPACE_SHORT, 0, 0, true},
        Row{BARRIER_OPTIMAL, false, 0, kLetterOptimal, LP_OPTIMAL, false},
        Row{BARRIER_OPTIMAL, true, 0, kLetterOptimal, LP_OPTIMAL, false},
        Row{BARRIER_UNBOUNDED, false, MSG_OUTCOME_UNBOUNDED, kLetterUnbounded, LP_UNBOUNDED, false},
        Row{BARRIER_INFEASIBLE, false, MSG_OUTCOME_INFEASIBLE, kLetterInfeasible, LP_UNFINISHED, false},
        Row{BARRIER_INFEASIBLE, true, MSG_OUTCOME_INFEASIBLE, kLetterInfeasible, LP_UNFINISHED, false},
        Row{BARRIER_NUMERICAL_FAILURE, false, kNumerical, 0, 0, true},
        Row{BARRIER_NUMERICAL_FAILURE, true, kNumerical, kLetterInfeasible, LP_UNFINISHED, false}),
    [](const ::testing::TestParamInfo<Row>& info) {
      const int32_t s = info.param.barrier_status;
      return (s < 0 ? "minus_" + std::to_string(-s) : std::to_string(s)) + (info.param.search ? "_search" : "");
    });

// The check that an optimal barrier status must pass, on the answer of a
// small LP (max 3x + 2y, x + y <= 4, x + 3y <= 6, x <= 3: 11 at (3, 1)) and
// on that answer spoiled in each of the ways the check guards against.
class BarrierSolutionChecks : public kltest::LpSession {};

TEST_F(BarrierSolutionChecks, OptimumPassesAndEachSpoiledAnswerFails) {
  ASSERT_EQ(load(kltest::production()), 0);
  ASSERT_EQ(KLMAXIM("b"), 0);
  EXPECT_EQ(barrier_front_stats.last_barrier_status, BARRIER_OPTIMAL);
  const double tolerance = dcv(dc::ZTOLZE);
  const double constant = dcv(kObjectiveConstantSlot);
  const BarrierSolutionCheck good = verify_barrier_solution(tolerance, constant);
  EXPECT_TRUE(good.passed) << good.row_residual << " " << good.dual_residual << " " << good.gap;
  EXPECT_NEAR(good.objective, objval, 1e-12);
  EXPECT_NEAR(objval, 11.0, 1e-6);

  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const int32_t column = store.first_col + 1;  // y, between its bounds
  struct Spoil {
    const char* what;
    double* cell;
    double by;
    double BarrierSolutionCheck::*measure;
  };
  const Spoil spoils[] = {
      {"a column value off its rows", &x[column], 1e-3, &BarrierSolutionCheck::row_residual},
      {"a slack below its bound", &x[1], -1.0 - x[1], &BarrierSolutionCheck::bound_violation},
      {"a reduced cost off c - A'y", &d[column], 1e-3, &BarrierSolutionCheck::dual_residual},
  };
  for (const Spoil& s : spoils) {
    SCOPED_TRACE(s.what);
    const double kept = *s.cell;
    *s.cell += s.by;
    const BarrierSolutionCheck bad = verify_barrier_solution(tolerance, constant);
    *s.cell = kept;
    EXPECT_FALSE(bad.passed);
    EXPECT_GT(bad.*s.measure, tolerance);
  }
}

}  // namespace

namespace {

// The convexity test before the barrier, on min c'x + x'Qx/2 over
// 0 <= x <= 1 with x0 + x1 + x2 <= 2: Q refused when some direction curves
// down, also when every diagonal entry and every 2 x 2 minor is fine.
struct ConvexityCase {
  const char* what;
  std::vector<int32_t> first, second;
  std::vector<double> value;  // the upper triangle, diagonal included
  bool convex;
};

class BarrierConvexity : public kltest::LpSession {};

TEST_F(BarrierConvexity, NonConvexObjectivesAreRefusedBeforeTheBarrier) {
  const ConvexityCase cases[] = {
      {"positive diagonal", {0, 1, 2}, {0, 1, 2}, {1.0, 2.0, 3.0}, true},
      {"semidefinite: (x0 - x1)^2", {0, 0, 1}, {0, 1, 1}, {2.0, -2.0, 2.0}, true},
      {"negative diagonal entry", {0, 1}, {0, 1}, {1.0, -1.0}, false},
      {"2 x 2 minor below 0", {0, 0, 1}, {0, 1, 1}, {1.0, 2.0, 1.0}, false},
      // Diagonal 1 and off-diagonals -0.9: every 2 x 2 minor is positive,
      // yet e'Qe = 3 - 5.4 < 0.
      {"indefinite 3 x 3", {0, 0, 0, 1, 1, 2}, {0, 1, 2, 1, 2, 2}, {1.0, -0.9, -0.9, 1.0, -0.9, 1.0}, false},
      {"zero pivot with a coupling left", {0, 1, 1, 2}, {0, 1, 2, 2}, {1.0, 0.0, 1.0, 0.0}, false},
  };
  const char types[] = "L";
  const double rhs[] = {2.0};
  const double cost[] = {-1.0, -1.0, -1.0};
  const int32_t starts[] = {0, 1, 2, 3};
  const int32_t rows[] = {0, 0, 0};
  const double values[] = {1.0, 1.0, 1.0};
  const double lower[] = {0.0, 0.0, 0.0};
  const double upper[] = {1.0, 1.0, 1.0};
  for (const ConvexityCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(KLLOADQPROB(dir.file("qp").c_str(), 3, 1, types, rhs, nullptr, cost, starts, nullptr, rows, values,
                          lower, upper, static_cast<int32_t>(c.value.size()), c.first.data(), c.second.data(),
                          c.value.data()),
              0);
    kltest::captured_lines().clear();
    const int64_t refusals = barrier_front_stats.non_convex_refusals;
    const int32_t status = KLMINIM("");
    EXPECT_EQ(barrier_front_stats.non_convex_refusals - refusals, c.convex ? 0 : 1);
    EXPECT_EQ(kltest::any_line_contains("not convex"), !c.convex);
    if (c.convex) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), LP_OPTIMAL);
    } else {
      EXPECT_EQ(status, 32);
      EXPECT_NE(kltest::int_attribute_value(KLIA_LPSTATUS), LP_OPTIMAL);
    }
  }
}

}  // namespace
