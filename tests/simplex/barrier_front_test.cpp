// The barrier's statuses as the LP driver reads them: the message, the
// status letter, lp_status and the status word of each, outside and during
// a global search (where an unfinished barrier is a node without a
// solution, not an error).
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

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
