// The barrier's crossover through the exports: a linear problem solved by
// the barrier ends with a basis and the dual simplex's optimum whatever the
// crash level, a maximisation with the reduced costs of a maximisation, an
// early exit of the crossover leaves the working data as it found it, and
// CROSS 0 or a quadratic objective end without a basis.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "barrier/crossover/complete_crossover.h"
#include "factor/crossover_state.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/barrier_front.h"
#include "simplex/lp_driver.h"
#include "simplex/lp_solution_checker.h"
#include "simplex/small_lps.h"
#include "support/output_capture.h"

namespace {

using kltest::kInf;
using kltest::Problem;

// Problems whose barrier optimum lies inside a face, so that the pushes
// have work to do: a whole edge of optima, a free column, an equality row,
// a range row and a degenerate vertex.
Problem optimal_edge() {
  // min -x - y, x + y <= 4, x <= 3, y <= 3: every point between (1, 3)
  // and (3, 1) is optimal.
  Problem p;
  p.row_types = "L";
  p.rhs = {4};
  p.columns = {{{{0, 1.0}}, 0, 3, -1}, {{{0, 1.0}}, 0, 3, -1}};
  return p;
}

Problem mixed() {
  // min x0 + x1 + 0 x2 + 2 x3 with a free x2:
  //   x0 + x1 + x2       = 4
  //   x0      - x2 + x3 >= 1
  //        x1 + x2 + x3 in [2, 6]
  Problem p;
  p.row_types = "EGR";
  p.rhs = {4, 1, 6};
  p.ranges = {0, 0, 4};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, kInf, 1},
               {{{0, 1.0}, {2, 1.0}}, 0, 5, 1},
               {{{0, 1.0}, {1, -1.0}, {2, 1.0}}, -kInf, kInf, 0},
               {{{1, 1.0}, {2, 1.0}}, 0, kInf, 2}};
  return p;
}

struct Answer {
  int32_t call = 0;
  int32_t lp_status = 0;
  double objective = 0.0;
  std::vector<double> x, slack, dual, reduced;
  int32_t basic = -1;
};

class Crossover : public kltest::LpSession {
 protected:
  Answer solve(const Problem& p, bool maximise, const char* letters) {
    Answer a;
    EXPECT_EQ(load(p), 0);
    a.call = maximise ? KLMAXIM(letters) : KLMINIM(letters);
    KLGETIPV(KLIA_LPSTATUS, &a.lp_status);
    KLGETDPV(KLDA_OBJVAL, &a.objective);
    a.x.resize(static_cast<size_t>(p.ncols()));
    a.reduced.resize(a.x.size());
    a.slack.resize(static_cast<size_t>(p.nrows()));
    a.dual.resize(a.slack.size());
    KLSOLUTION(a.x.data(), a.slack.data(), a.dual.data(), a.reduced.data());
    std::vector<int32_t> rows(a.slack.size()), cols(a.x.size());
    if (KLGETBASIS(rows.data(), cols.data()) == 0) {
      a.basic = 0;
      for (int32_t s : rows) a.basic += s == 1 ? 1 : 0;
      for (int32_t s : cols) a.basic += s == 1 ? 1 : 0;
    }
    return a;
  }
};

// Every crash level, minimising and maximising: optimal with a full basis
// at the dual's objective, and duals and reduced costs of the same sign
// conventions as the dual simplex gives.
TEST_F(Crossover, EveryCrashLevelEndsWithTheDualsOptimumAndABasis) {
  struct Case {
    const char* name;
    Problem problem;
    bool maximise;
  };
  const Case cases[] = {{"optimal edge", optimal_edge(), false},
                        {"optimal edge, maximised", optimal_edge().negated(), true},
                        {"mixed rows and a free column", mixed(), false},
                        {"production, maximised", kltest::production(), true},
                        {"transport", kltest::transport(3, 4), false},
                        {"beale", kltest::beale(), false}};
  for (const Case& c : cases) {
    const Answer dual = solve(c.problem, c.maximise, "d");
    ASSERT_EQ(dual.lp_status, 1) << c.name;
    for (int32_t level = 0; level <= 5; ++level) {
      SCOPED_TRACE(std::string(c.name) + ", ICRASH " + std::to_string(level));
      const int64_t crossovers = kl::barrier_front_stats.crossovers;
      KLSETICV(KLIC_ICRASH, level);
      const Answer b = solve(c.problem, c.maximise, "b");
      EXPECT_EQ(b.call, 0);
      EXPECT_EQ(b.lp_status, 1);
      EXPECT_EQ(kl::barrier_front_stats.crossovers, crossovers + 1);
      EXPECT_EQ(kl::barrier_front_stats.last_crossover_status, kl::kCrossoverDone);
      EXPECT_EQ(b.basic, c.problem.nrows());
      EXPECT_NEAR(b.objective, dual.objective, 1e-9 * (1.0 + std::fabs(dual.objective)));
      const kltest::SolutionCheck check = kltest::check_lp_solution();
      EXPECT_TRUE(check.ok(1e-9)) << check.report();
      // Reduced costs keep the caller's sign convention: for a
      // maximisation a column at its lower bound has d <= 0.
      const double sense = c.maximise ? -1.0 : 1.0;
      for (size_t j = 0; j < b.x.size(); ++j) {
        const kltest::Column& col = c.problem.columns[j];
        if (col.upper <= col.lower + 1e-9) continue;
        if (b.x[j] <= col.lower + 1e-9) {
          EXPECT_GE(sense * b.reduced[j], -1e-9) << j;
        }
        if (b.x[j] >= col.upper - 1e-9) {
          EXPECT_LE(sense * b.reduced[j], 1e-9) << j;
        }
      }
      EXPECT_EQ(kl::crossover_mode, 0);
    }
    KLSETICV(KLIC_ICRASH, 2);
  }
}

// The report of a crossover: its heading with the completion fetched into
// it, then the objective and the time.
TEST_F(Crossover, ReportsWhenPrlevAsksForIt) {
  for (const int32_t prlev : {0, 1}) {
    KLSETICV(KLIC_PRLEV, prlev);
    kltest::captured_lines().clear();
    const Answer b = solve(optimal_edge(), false, "b");
    EXPECT_EQ(b.lp_status, 1);
    EXPECT_EQ(kltest::any_line_contains("Crossover complete"), prlev > 0);
    EXPECT_EQ(kltest::any_line_contains("Crossover objective"), prlev > 0);
  }
}

// The working right-hand side and costs are the problem's own again and the
// crossover's mode is off.
void expect_working_data_restored() {
  kl::OneBased<double> rhs = kl::real_array(kl::ARR_RHS);
  kl::OneBased<double> work_rhs = kl::real_array(kl::ARR_WORK_RHS);
  for (int32_t i = 1; i <= kl::nrow; ++i) EXPECT_EQ(work_rhs[i], rhs[i]) << "row " << i;
  kl::OneBased<double> cost = kl::real_array(kl::ARR_OBJECTIVE);
  kl::OneBased<double> working = kl::real_array(kl::ARR_WORKING_COSTS);
  for (int32_t j = kl::store.first_col; j <= kl::nseq; ++j) EXPECT_EQ(working[j], cost[j]) << "column " << j;
  EXPECT_EQ(kl::crossover_mode, 0);
}

// An early exit (an interrupt or a failed refactorisation during the
// crossover) ends without a basis and without an optimum, but with the
// working right-hand side and costs as they were; the next solve reaches
// the optimum.
TEST_F(Crossover, EarlyExitRestoresTheWorkingDataForTheNextSolve) {
  struct Case {
    const char* name;
    bool interrupt;
    int32_t status;
  };
  for (const Case& c : {Case{"interrupt", true, kl::kCrossoverInterrupted},
                        Case{"refactorisation fails", false, kl::kCrossoverFactorFailed}}) {
    for (const Problem& p : {mixed(), kltest::transport(3, 4)}) {
      SCOPED_TRACE(c.name);
      const Answer dual = solve(p, false, "d");
      KLSETICV(KLIC_IFPRES, 0);
      if (c.interrupt)
        kl::crossover_stats.interrupt_at_refactorisation = 1;
      else
        kl::crossover_stats.fail_at_refactorisation = 1;
      kltest::captured_lines().clear();
      const Answer b = solve(p, false, "b");
      kl::crossover_stats.interrupt_at_refactorisation = 0;
      kl::crossover_stats.fail_at_refactorisation = 0;
      EXPECT_EQ(kl::barrier_front_stats.last_crossover_status, c.status);
      EXPECT_NE(b.lp_status, 1);
      if (!c.interrupt) {
        EXPECT_NE(b.call, 0);
        EXPECT_TRUE(kltest::any_line_contains("not enough memory for the factor")) << "message 251";
      }
      expect_working_data_restored();
      // Solved again in memory, by the default algorithm.
      ASSERT_EQ(KLMINIM(""), 0);
      double objective = 0.0;
      KLGETDPV(KLDA_OBJVAL, &objective);
      int32_t status = 0;
      KLGETIPV(KLIA_LPSTATUS, &status);
      EXPECT_EQ(status, 1);
      EXPECT_NEAR(objective, dual.objective, 1e-9 * (1.0 + std::fabs(dual.objective)));
      KLSETICV(KLIC_IFPRES, 1);
    }
  }
}

// An unbounded problem that the barrier leaves unfinished: the crossover
// meets a column that improves the objective without limit either way and
// ends as unbounded, with the working data restored; the next solve finds
// the problem unbounded.
TEST_F(Crossover, UnboundedMoveEndsTheCrossoverAndTheNextSolveSaysUnbounded) {
  // min x0 - x2 with x0 + x1 >= 1 and a free x2 in no row.
  Problem p;
  p.row_types = "G";
  p.rhs = {1};
  p.columns = {{{{0, 1.0}}, 0, kInf, 1}, {{{0, 1.0}}, 0, 4, 2}, {{}, -kInf, kInf, -1}};
  int32_t maxiter = 0;
  KLGETICV(KLIC_MAXITER, &maxiter);
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_MAXITER, 1);
  const Answer b = solve(p, false, "b");
  KLSETICV(KLIC_MAXITER, maxiter);
  EXPECT_EQ(kl::barrier_front_stats.last_crossover_status, kl::kCrossoverUnbounded);
  EXPECT_NE(b.lp_status, 1);
  expect_working_data_restored();
  ASSERT_EQ(KLMINIM(""), 0);
  int32_t status = 0;
  KLGETIPV(KLIA_LPSTATUS, &status);
  EXPECT_EQ(status, kl::LP_UNBOUNDED);
  KLSETICV(KLIC_IFPRES, 1);
}

// CROSS 0 and a quadratic objective end with the barrier's point and no
// basis; CROSS 1 on a quadratic problem runs the crossover but still gives
// the barrier's own optimum without a basis.
TEST_F(Crossover, NoBasisWithoutTheCrossoverOrForAQuadraticObjective) {
  Problem qp;
  qp.row_types = "G";
  qp.rhs = {10};
  qp.columns = {{{{0, 10.0}}, 2, 50, 0}, {{{0, -1.0}}, -50, 50, 0}};
  qp.quadratic = {{0, 0, 0.02}, {1, 1, 2.0}};
  struct Case {
    const char* name;
    Problem problem;
    int32_t cross;  // -1: not set
    double objective;
    bool crossover;
  };
  // In this order: a setting of CROSS stays for the cases after it.
  for (const Case& c : {Case{"quadratic", qp, -1, 0.04, false}, Case{"quadratic, CROSS 1", qp, 1, 0.04, true},
                        Case{"CROSS 0", optimal_edge(), 0, -4.0, false}}) {
    SCOPED_TRACE(c.name);
    if (c.cross >= 0) KLSETICV(KLIC_CROSS, c.cross);
    const int64_t crossovers = kl::barrier_front_stats.crossovers;
    const Answer b = solve(c.problem, false, "b");
    EXPECT_EQ(b.lp_status, 1);
    EXPECT_NEAR(b.objective, c.objective, 1e-6);
    EXPECT_EQ(kl::barrier_front_stats.crossovers, crossovers + (c.crossover ? 1 : 0));
    EXPECT_EQ(b.basic, -1) << "no basis to give";
    EXPECT_NE(kltest::int_attribute_value(kl::ATTR_PROBLEM_FLAGS) & kl::PF_NO_BASIS, 0);
  }
}

}  // namespace
