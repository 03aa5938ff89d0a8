// The barrier presolve on small problems: each pass's reductions and
// verdicts, and the whole solve with the presolve on against the same solve
// without it (the restored solution must be an optimum of the original
// problem, reduced costs including the quadratic share, duals of the
// removed rows consistent).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "barrier/pipeline.h"
#include "barrier/presolve/presolve_data.h"
#include "support/barrier_pipeline_fixture.h"

namespace {

using kltest::barrier_pipeline::expect_solution;
using kltest::barrier_pipeline::kInf;
using kltest::barrier_pipeline::Problem;
using kltest::barrier_pipeline::Solve;

// min x1 + 2 x2 - x3 + x4 + 0.5 x5 - x6, x >= 0 but x5 free, x3 <= 4,
// x4 <= 10, x6 <= 7;
//   r1: 2 x1 = 4                 (singleton equality row: x1 = 2)
//   r2: x1 + x2 + x3 + x6 >= 3   (x6 dominated towards its upper bound)
//   r3: x2 + x4 <= 0             (forcing at its smallest activity)
//   r4: x3 + x5 = 5              (x5 a free column singleton)
//   r5: x3 - x4 <= 6
// With `quadratic`, x1, x2 and x3 carry x1^2 + x2^2 + x3^2 + x1 x3 +
// 0.5 x2 x3: the singleton row and the forcing row then fix quadratic
// columns, whose reduced costs and row duals need their (Qx) share.
Problem mixed_problem(bool quadratic) {
  Problem p;
  p.cost = {1.0, 2.0, -1.0, 1.0, 0.5, -1.0};
  p.col_lower = {0.0, 0.0, 0.0, 0.0, -kInf, 0.0};
  p.col_upper = {kInf, kInf, 4.0, 10.0, kInf, 7.0};
  p.columns = {{{1, 2.0}, {2, 1.0}},
               {{2, 1.0}, {3, 1.0}},
               {{2, 1.0}, {4, 1.0}, {5, 1.0}},
               {{3, 1.0}, {5, -1.0}},
               {{4, 1.0}},
               {{2, 1.0}}};
  p.row_lo = {4.0, 3.0, -kInf, 5.0, -kInf};
  p.row_hi = {4.0, kInf, 0.0, 5.0, 6.0};
  p.rhs = {0.0, 0.0, 0.0, 0.0, 0.0};
  p.constant = 0.25;
  if (quadratic) {
    p.quad_diag = {2.0, 2.0, 2.0, 0.0, 0.0, 0.0};
    p.quad = {{1, 3, 1.0}, {2, 3, 0.5}};
  }
  return p;
}

using kltest::barrier_pipeline::DirectStages;
using kltest::barrier_pipeline::with_presolve;

struct BitCase {
  const char* name;
  int32_t bits;
};

const BitCase kBits[] = {
    {"singleton rows", 0x1},  {"column singletons", 0x2}, {"forcing rows", 0x4},
    {"dominated columns", 0x8}, {"dual bounds", 0x10},     {"the round loop", 0x1f},
    {"round loop, fixed duals", 0x101f}, {"every bit", 0x7ff},  {"second run of the passes", 0x201f},
};

TEST(BarrierPresolve, RestoredSolutionIsAnOptimumOfTheOriginal) {
  for (bool quadratic : {false, true}) {
    const Problem pr = mixed_problem(quadratic);
    Solve plain(pr, with_presolve(0));
    plain.run();
    ASSERT_EQ(plain.status, kl::BARRIER_OPTIMAL);
    expect_solution(pr, plain, plain.objective, 1e-6);
    for (const BitCase& b : kBits) {
      SCOPED_TRACE(std::string(b.name) + (quadratic ? ", quadratic" : ", linear"));
      Solve s(pr, with_presolve(b.bits));
      s.run();
      ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
      expect_solution(pr, s, plain.objective, 1e-6);
    }
  }
}

// What each pass removes on the mixed problem, and the cells it leaves.
TEST(BarrierPresolve, PassesLeaveTheirRecords) {
  const int32_t n = 6;
  {
    // The singleton equality row fixes x1 (both of its bounds came from
    // the row: both cells hold the coefficient).
    Solve s(mixed_problem(false), with_presolve(0x1));
    s.run();
    EXPECT_EQ(s.a.var_state[n + 1], -(13 + 1));
    EXPECT_EQ(s.a.var_state[1], -3);
    EXPECT_NEAR(s.a.x[1], 2.0, 1e-12);
    EXPECT_NEAR(s.a.y[1], 0.5, 1e-6) << "the row's dual carries x1's cost";
  }
  {
    // x5 substituted out with r4, column first in the list.
    Solve s(mixed_problem(false), with_presolve(0x2));
    s.run();
    EXPECT_EQ(s.a.var_state[5], -4);
    EXPECT_EQ(s.a.var_state[n + 4], -4);
    EXPECT_EQ(s.a.presolve_list[1], 5);
    EXPECT_EQ(s.a.presolve_list[2], n + 4);
    EXPECT_NEAR(s.a.y[4], 0.5, 1e-9);
    EXPECT_EQ(s.a.pivot_order[5], 1) << "the eliminated column becomes basic";
    EXPECT_EQ(s.a.pivot_order[n + 4], 0) << "and its row's slack nonbasic";
  }
  {
    // r3 forces x2 and x4 to their lower bounds.
    Solve s(mixed_problem(false), with_presolve(0x4));
    s.run();
    EXPECT_EQ(s.a.var_state[n + 3], -5);
    EXPECT_EQ(s.a.var_state[2], -5);
    EXPECT_EQ(s.a.var_state[4], -5);
    EXPECT_LE(s.a.y[3], 1e-9) << "a row at its upper limit has a dual of its sign";
  }
  {
    // x6 is pushed to its upper bound by its cost and its one row.
    Solve s(mixed_problem(false), with_presolve(0x8));
    s.run();
    EXPECT_EQ(s.a.var_state[6], -6);
    EXPECT_DOUBLE_EQ(s.a.x[6], 7.0);
  }
}

// Verdicts: the culprit gets state 3 and nothing after the pass runs.
TEST(BarrierPresolve, VerdictsMarkTheirCulprit) {
  struct Case {
    const char* name;
    int32_t bits;
    Problem problem;
    int32_t status;
    int32_t culprit;
  };
  // x1 in [0, 1] and 2 x1 = 4.
  Problem singleton_row;
  singleton_row.cost = {1.0, 1.0};
  singleton_row.col_lower = {0.0, 0.0};
  singleton_row.col_upper = {1.0, kInf};
  singleton_row.columns = {{{1, 2.0}, {2, 1.0}}, {{2, 1.0}}};
  singleton_row.row_lo = {4.0, 1.0};
  singleton_row.row_hi = {4.0, kInf};
  singleton_row.rhs = {0.0, 0.0};
  // x1 >= 0 with cost -1, in a row without an upper limit: nothing stops it.
  Problem dominated = singleton_row;
  dominated.cost = {-1.0, 1.0};
  dominated.col_upper = {kInf, kInf};
  dominated.columns = {{{1, 1.0}, {2, 1.0}}, {{1, 1.0}, {2, 1.0}}};
  dominated.row_lo = {1.0, 1.0};
  dominated.row_hi = {kInf, kInf};
  // A free column singleton whose cost asks for a slack at an absent bound.
  Problem free_singleton = dominated;
  free_singleton.cost = {-1.0, 1.0};
  free_singleton.col_lower = {-kInf, 0.0};
  free_singleton.columns = {{{1, 1.0}}, {{1, 1.0}, {2, 1.0}}};
  // r1 x1 + x2 <= -1 with x >= 0: no activity reaches it.
  Problem forcing = singleton_row;
  forcing.col_upper = {kInf, kInf};
  forcing.columns = {{{1, 1.0}, {2, 1.0}}, {{1, 1.0}}};
  forcing.row_lo = {-kInf, 1.0};
  forcing.row_hi = {-1.0, kInf};
  const Case cases[] = {
      {"infeasible singleton row", 0x1, singleton_row, kl::BARRIER_INFEASIBLE, 2 + 1},
      {"dominated column without a bound", 0x8, dominated, kl::BARRIER_UNBOUNDED, 1},
      {"dual bounds, column without a bound", 0x10, dominated, kl::BARRIER_UNBOUNDED, 1},
      {"free column singleton", 0x2, free_singleton, kl::BARRIER_UNBOUNDED, 1},
      {"forcing row out of reach", 0x4, forcing, kl::BARRIER_INFEASIBLE, 2 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Solve s(c.problem, with_presolve(c.bits));
    s.run();
    EXPECT_EQ(s.status, c.status);
    EXPECT_EQ(s.a.var_state[c.culprit], 3);
    EXPECT_EQ(s.a.pivot_order[c.culprit], 3) << "the culprit's class on the early exit";
  }
}

TEST(BarrierPresolve, EntriesAtOrBelowTheZeroToleranceNeverReachAPass) {
  Problem pr = mixed_problem(false);
  pr.columns[2].push_back({1, 1e-40});  // x3 in r1: too small to count
  DirectStages st(pr);
  ASSERT_EQ(st.first(0), 0);
  // Column 3's live entries are its three real ones; the tiny entry stays
  // in the storage after them.
  const int32_t first = st.s.a.factor_first[3];
  const int32_t last = st.s.a.factor_last[3];
  EXPECT_EQ(last - first + 1, 3);
  EXPECT_EQ(st.s.a.matrix_start[4] - 1, last + 1);
  EXPECT_EQ(st.s.factor_value[last + 1], 1e-40);
  // Row 1 keeps only x1: a singleton row.
  const int32_t n = 6;
  EXPECT_EQ(st.s.a.factor_last[n + 1], st.s.a.factor_first[n + 1]);
}

TEST(BarrierPresolve, EverythingRemovedBeforehandRunsOnlyTheFinalSequence) {
  DirectStages st(mixed_problem(false));
  for (int32_t k = 1; k <= 11; ++k) st.s.a.var_state[k] = -3;
  EXPECT_EQ(st.first(0x7ff), 0);
  EXPECT_EQ(st.count, 0);
  for (int32_t k = 1; k <= 11; ++k) EXPECT_EQ(st.s.a.var_state[k], -3);
}

TEST(BarrierPresolve, ShortRowCopySpaceChangesNothing) {
  DirectStages st(mixed_problem(false));
  st.s.params.free_space = st.s.params.matrix_nz - 1;
  EXPECT_EQ(st.first(0x1f), kl::kPresolveSpaceShort);
  EXPECT_EQ(st.count, 0);
}

}  // namespace
