// KLMINIM and KLMAXIM end to end on small linear programs: the answer and
// its status, the consistency of the solution left in memory, the final
// messages, the limits, the stand-ins for the optimisers the library does
// not hold yet, and the controls the driver must leave as it found them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/lp_driver.h"
#include "simplex/lp_solution_checker.h"
#include "factor/simplex_state.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;

using namespace kltest;

// min -10000 x with x + y = -1: infeasible, and the cost pulls x the wrong
// way, so the infeasibility weight must grow.
Problem costly_infeasible() {
  Problem p;
  p.row_types = "E";
  p.rhs = {-1};
  p.columns = {{{{0, 1.0}}, 0, kInf, -10000}, {{{0, 1.0}}, 0, kInf, 0}};
  return p;
}

std::string column_name(int32_t caller_index) {
  const std::string digits = std::to_string(store.first_col + caller_index);
  return std::string(8 - digits.size(), 'V') + digits;
}

int32_t il_calls = 0;
int32_t il_stop_at = 0;
int32_t il_sleep_ms = 0;
int32_t count_il() {
  ++il_calls;
  if (il_sleep_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(il_sleep_ms));
  return il_stop_at > 0 && il_calls >= il_stop_at ? 1 : 0;
}

class LpDriver : public kltest::LpSession {
 protected:
  void SetUp() override {
    kltest::LpSession::SetUp();
    // The driver around the engines on the problem as loaded; the tests of
    // presolve in the driver set IFPRES themselves.
    KLSETICV(KLIC_IFPRES, 0);
    il_calls = 0;
    il_stop_at = 0;
    il_sleep_ms = 0;
    lp_driver_stats = LpDriverStats{};
  }
};

// The table of small LPs with the primal: answer, status, final message, and
// a solution that satisfies its own optimality conditions.
TEST_F(LpDriver, SmallLinearProgramsWithThePrimal) {
  struct Case {
    const char* name;
    Problem problem;
    bool maximise;
    int32_t lp_status;
    double objective;
    const char* final_text;
  };
  const Case cases[] = {
      {"beale", beale(), false, LP_OPTIMAL, -1.25, "optimal"},
      {"maximise", production(), true, LP_OPTIMAL, 11.0, "optimal"},
      {"free variable", free_variable(), false, LP_OPTIMAL, -5.0, "optimal"},
      {"ranged row", ranged_row(), false, LP_OPTIMAL, 3.0, "optimal"},
      {"second N row", second_n_row(), false, LP_OPTIMAL, -4.0, "optimal"},
      {"infeasible", infeasible(), false, LP_INFEASIBLE, 0.0, "infeasible"},
  };
  for (const Case& c : cases) {
    for (int32_t scaling : {0, 35}) {
      SCOPED_TRACE(std::string(c.name) + (scaling != 0 ? " scaled" : ""));
      KLSETICV(KLIC_IFSCAL, scaling);
      ASSERT_EQ(load(c.problem), 0);
      kltest::captured_lines().clear();
      ASSERT_EQ(c.maximise ? KLMAXIM("p") : KLMINIM("p"), 0);
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), c.lp_status);
      EXPECT_TRUE(kltest::any_line_contains(c.final_text));
      EXPECT_EQ(lp_driver_stats.last_algorithm, kAlgorithmPrimal);
      EXPECT_LT(lp_algorithm, kAlgorithmForcedOffset);
      if (c.lp_status != LP_OPTIMAL) continue;
      EXPECT_NEAR(objective_value(), c.objective, 1e-9);
      const kltest::SolutionCheck check = kltest::check_lp_solution();
      EXPECT_TRUE(check.ok()) << check.report();
      EXPECT_NEAR(check.objective, c.objective, 1e-9);
      int32_t index = 0;
      EXPECT_EQ(KLGETUNB(&index), 0);
      EXPECT_EQ(index, -1);
    }
  }
}

TEST_F(LpDriver, BealeEndsWithinAFewIterations) {
  ASSERT_EQ(load(beale()), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_LT(int_attribute_value(ATTR_ITCNT), 50);
}

TEST_F(LpDriver, UnboundedNamesItsColumn) {
  for (int32_t base : {1, 0}) {
    SCOPED_TRACE(base);
    ASSERT_EQ(load(unbounded()), 0);
    KLSETICV(KLIC_IFDBG, base);
    kltest::captured_lines().clear();
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNBOUNDED);
    int32_t index = -2;
    ASSERT_EQ(KLGETUNB(&index), 0);
    // x2 is bounded by x1 through the row; x1 grows without limit.
    EXPECT_EQ(index, 1 - base);
    EXPECT_TRUE(kltest::any_line_contains("unbounded: column " + column_name(0)));
    KLSETICV(KLIC_IFDBG, 1);
  }
}

TEST_F(LpDriver, InfeasibleLpRaisesTheWeightAlongTheLadder) {
  ASSERT_EQ(load(costly_infeasible()), 0);
  KLSETDCV(KLDC_BIGM, 1024.0);
  KLSETICV(KLIC_IFMSG, 1);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_INFEASIBLE);
  std::vector<std::string> weights;
  for (const kltest::CapturedLine& line : kltest::text_lines()) {
    const size_t at = line.text.find("BIGM now");
    if (at != std::string::npos) weights.push_back(line.text.substr(at + 8, 13));
  }
  ASSERT_GE(weights.size(), 3u);
  EXPECT_NE(weights[0].find("2048.0"), std::string::npos) << weights[0];
  EXPECT_NE(weights[1].find("4096.0"), std::string::npos) << weights[1];
  EXPECT_NE(weights[2].find("8192.0"), std::string::npos) << weights[2];
  EXPECT_TRUE(kltest::any_line_contains("infeasible"));
  // The weight is the caller's again once the call is over.
  double bigm = 0.0;
  KLGETDCV(KLDC_BIGM, &bigm);
  EXPECT_EQ(bigm, 1024.0);
}

// An infeasible verdict is judged again from a slack basis by the other
// judges (the dual after the primal, then the primal's pure phase 1) before
// it stands; a feasible problem is never judged again.
TEST_F(LpDriver, InfeasibleVerdictIsJudgedAgain) {
  struct Case {
    const char* name;
    Problem problem;
    const char* options;
    int32_t status;
    int64_t rechecks;
  };
  const Case cases[] = {
      {"primal, infeasible", infeasible(), "p", LP_INFEASIBLE, 2},
      {"dual, infeasible", infeasible(), "d", LP_INFEASIBLE, 2},
      {"primal, feasible", production(), "p", LP_OPTIMAL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load(c.problem), 0);
    lp_driver_stats = LpDriverStats{};
    kltest::captured_lines().clear();
    ASSERT_EQ(KLMINIM(c.options), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), c.status);
    EXPECT_EQ(lp_driver_stats.infeasibility_rechecks, c.rechecks);
    EXPECT_EQ(kltest::any_line_contains("judged again"), c.rechecks > 0);
    // The dual's verdict still names its infeasible row.
    int32_t row = -1;
    ASSERT_EQ(KLGETUNB(&row), 0);
    EXPECT_EQ(row >= 0, std::string(c.options) == "d") << row;
  }
}

TEST_F(LpDriver, IterationLimitLeavesTheLpUnfinished) {
  ASSERT_EQ(load(transport(4, 5)), 0);
  KLSETICV(KLIC_ITRLIM, 2);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
  EXPECT_EQ(int_attribute_value(ATTR_ITCNT), 2);
  EXPECT_TRUE(kltest::any_line_contains("Iteration limit reached"));
  EXPECT_EQ(status_letter, kLetterUnfinished);
}

// Limits at the top of the int32 range: the drivers derive further limits
// from them (ITRLIM + 1, itcnt + ITCH + 1, itcnt + ISHFMX), which must
// saturate instead of wrapping.
TEST_F(LpDriver, IterationLimitsAtInt32MaxStillSolve) {
  struct Case {
    const char* name;
    int32_t control;
    const char* options;
  };
  const Case cases[] = {
      {"ITRLIM, dual", KLIC_ITRLIM, "d"},
      {"ITRLIM, primal", KLIC_ITRLIM, "p"},
      {"ITCH, dual", KLIC_ITCH, "d"},
      {"ISHFMX, primal", KLIC_ISHFMX, "p"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load(transport(4, 5)), 0);
    int32_t kept = 0;
    KLGETICV(c.control, &kept);
    ASSERT_EQ(KLSETICV(c.control, INT32_MAX), 0);
    ASSERT_EQ(KLMINIM(c.options), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_TRUE(check_lp_solution().ok()) << check_lp_solution().report();
    KLSETICV(c.control, kept);
  }
}

TEST_F(LpDriver, TimeLimitStopsTheRun) {
  ASSERT_EQ(load(transport(6, 8)), 0);
  KLSETICV(KLIC_MAXTIM, -1);
  KLSETICV(KLIC_ITRLOG, 1);
  KLDEFINEILENTRY(count_il);
  il_sleep_ms = 400;
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
  EXPECT_LE(il_calls, 6);
  EXPECT_TRUE(kltest::any_line_contains("unfinished"));
}

TEST_F(LpDriver, IterationLogCallbackCanStopTheRun) {
  ASSERT_EQ(load(transport(6, 8)), 0);
  KLSETICV(KLIC_ITRLOG, 1);
  KLDEFINEILENTRY(count_il);
  il_stop_at = 3;
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
  EXPECT_EQ(il_calls, 3);
}

// Every ITRLOG iterations a line, a header before the first and after every
// ITRHDG lines, each line also through the iteration-log callback.
TEST_F(LpDriver, IterationLogEveryItrlogWithRepeatedHeader) {
  ASSERT_EQ(load(transport(6, 8)), 0);
  KLSETICV(KLIC_ITRLOG, 2);
  KLSETICV(KLIC_ITRHDG, 3);
  KLDEFINEILENTRY(count_il);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("p"), 0);
  const int32_t iterations = int_attribute_value(ATTR_ITCNT);
  ASSERT_GE(iterations, 6);
  int32_t headers = 0;
  int32_t lines = 0;
  for (const kltest::CapturedLine& line : kltest::text_lines()) {
    if (line.text.find("Obj Value") != std::string::npos) {
      ++headers;
    } else if (line.text.find(" p ") != std::string::npos || line.text.find(" P ") != std::string::npos) {
      ++lines;
    }
  }
  // The first line at iteration 0, one every 2 iterations, and a final line
  // when the last iteration is not a multiple of 2.
  const int32_t expected_lines = 1 + iterations / 2 + (iterations % 2 != 0 ? 1 : 0);
  EXPECT_EQ(lines, expected_lines);
  EXPECT_EQ(il_calls, lines);
  EXPECT_EQ(headers, (lines + 2) / 3);
}

// PETURB, IFMEM, BIGM, IFBIGM and IPSLCT read as before after a call.
TEST_F(LpDriver, ControlsAreAsBeforeAfterTheCall) {
  for (const Problem& p : {beale(), infeasible(), costly_infeasible()}) {
    ASSERT_EQ(load(p), 0);
    KLSETDCV(KLDC_PETURB, 1e-6);
    KLSETICV(KLIC_IFMEM, 0x10);
    KLSETICV(KLIC_IFBIGM, 1);
    double bigm = 0.0;
    KLGETDCV(KLDC_BIGM, &bigm);
    int32_t ipslct = 0;
    KLGETICV(KLIC_IPSLCT, &ipslct);
    ASSERT_EQ(KLMINIM("p"), 0);
    double value = 0.0;
    int32_t word = 0;
    KLGETDCV(KLDC_PETURB, &value);
    EXPECT_EQ(value, 1e-6);
    KLGETDCV(KLDC_BIGM, &value);
    EXPECT_EQ(value, bigm);
    KLGETICV(KLIC_IFMEM, &word);
    EXPECT_EQ(word, 0x10);
    KLGETICV(KLIC_IFBIGM, &word);
    EXPECT_EQ(word, 1);
    KLGETICV(KLIC_IPSLCT, &word);
    EXPECT_EQ(word, ipslct);
  }
}

// The default algorithm (IALG 1) is the dual; presolve (IFPRES 1) reduces
// the problem first and postsolve maps the optimum back.
TEST_F(LpDriver, DefaultsSolveWithTheDualPresolved) {
  KLSETICV(KLIC_IFPRES, 1);
  ASSERT_EQ(load(production()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMAXIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_NEAR(objective_value(), 11.0, 1e-9);
  EXPECT_TRUE(kltest::any_line_contains("Presolved problem"));
  EXPECT_TRUE(kltest::any_line_contains("Postsolve"));
  EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
  EXPECT_EQ(lp_driver_stats.last_algorithm, kAlgorithmDual);
}

// Option b, IALG 4 and a quadratic objective under IALG 1 run the barrier.
// A linear problem gets the crossover and ends with a basis; a quadratic one
// ends without one: the basis queries refuse, and the values and duals are
// the barrier's, consistent with the problem.
TEST_F(LpDriver, BarrierRunsForOptionBIalg4AndQuadraticObjectives) {
  Problem qp;
  qp.row_types = "G";
  qp.rhs = {10};
  qp.columns = {{{{0, 10.0}}, 2, 50, 0}, {{{0, -1.0}}, -50, 50, 0}};
  qp.quadratic = {{0, 0, 0.02}, {1, 1, 2.0}};
  struct Case {
    const char* letters;
    int32_t ialg;
    bool quadratic;
    double objective;
  };
  for (const Case& c : {Case{"b", 1, false, 11.0}, Case{"", 4, false, 11.0}, Case{"", 1, true, 0.04}}) {
    SCOPED_TRACE(std::string("letters '") + c.letters + "' IALG " + std::to_string(c.ialg));
    ASSERT_EQ(load(c.quadratic ? qp : production()), 0);
    KLSETICV(KLIC_IALG, c.ialg);
    kltest::captured_lines().clear();
    ASSERT_EQ(c.quadratic ? KLMINIM(c.letters) : KLMAXIM(c.letters), 0);
    EXPECT_EQ(lp_driver_stats.last_algorithm, kAlgorithmBarrier);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_NEAR(objective_value(), c.objective, 1e-6);
    const bool basis = !c.quadratic;
    EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & PF_NO_BASIS, basis ? 0 : PF_NO_BASIS);
    std::vector<int32_t> rows(2), columns(2);
    EXPECT_EQ(KLGETBASIS(rows.data(), columns.data()), basis ? 0 : 32);
    if (basis) {
      // x at its upper bound 3, y basic, the first row's slack at zero.
      EXPECT_EQ(columns[0], 2);
      EXPECT_EQ(columns[1], 1);
    } else {
      // Every query of a basis refuses, with the message of a missing basis.
      kltest::captured_lines().clear();
      EXPECT_EQ(KLRANGE(), 32);
      EXPECT_EQ(KLPIVOT(0, 0), 32);
      EXPECT_EQ(KLBASISOUT(dir.file("basis").c_str(), ""), 32);
      EXPECT_TRUE(kltest::any_line_contains("No basis is available"));
    }
    std::vector<double> x(2);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    if (c.quadratic) {
      EXPECT_NEAR(x[0], 2.0, 1e-6);
      EXPECT_NEAR(x[1], 0.0, 1e-6);
    } else {
      EXPECT_NEAR(x[0], 3.0, 1e-9);
      EXPECT_NEAR(x[1], 1.0, 1e-9);
    }
  }
  KLSETICV(KLIC_IALG, 1);
}

// min 0.01 x^2 + y^2 (the triplets hold twice the quadratic coefficients)
// with 10x - y >= 10, 2 <= x <= 50, -50 <= y <= 50: optimum 0.04 at x = 2,
// y = 0. The dual prices the linear part only (zero here): asked for this
// problem, the call goes to the primal, and says so.
TEST_F(LpDriver, QuadraticObjectiveAskedOfTheDualIsSolvedByThePrimal) {
  Problem p;
  p.row_types = "G";
  p.rhs = {10};
  p.columns = {{{{0, 10.0}}, 2, 50, 0}, {{{0, -1.0}}, -50, 50, 0}};
  p.quadratic = {{0, 0, 0.02}, {1, 1, 2.0}};
  struct Case {
    const char* letters;
    int32_t ialg;
  };
  for (const Case& c : {Case{"d", 1}, Case{"d", 3}, Case{"", 2}}) {
    SCOPED_TRACE(std::string("letters '") + c.letters + "' IALG " + std::to_string(c.ialg));
    ASSERT_EQ(load(p), 0);
    KLSETICV(KLIC_IALG, c.ialg);
    lp_driver_stats = LpDriverStats{};
    kltest::captured_lines().clear();
    ASSERT_EQ(KLMINIM(c.letters), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_NEAR(objective_value(), 0.04, 1e-9);
    std::vector<double> x(2);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(x[0], 2.0, 1e-7);
    EXPECT_NEAR(x[1], 0.0, 1e-7);
    EXPECT_TRUE(kltest::any_line_contains("quadratic objective is solved by the primal"));
    EXPECT_EQ(lp_driver_stats.quadratic_dual_rerouted, 1);
    EXPECT_EQ(lp_driver_stats.last_algorithm, kAlgorithmPrimal);
  }
  KLSETICV(KLIC_IALG, 1);
}

// The LP is solved; what should follow it and cannot is reported with
// status 32, never as success.
TEST_F(LpDriver, OptionGRunsTheGlobalSearchAndOptionRRunsThePasses) {
  struct Case {
    const char* letters;
    bool integer_column;
    int32_t status;
    const char* text;  // nullptr: nothing to look for
  };
  const Case cases[] = {
      {"pg", true, 0, "Best integer solution"},
      {"p", true, 0, nullptr},    // the LP relaxation only: no search asked for
      {"pgl", true, 0, nullptr},  // l: the LP only, even with g
      {"pg", false, 0, nullptr},  // nothing global to search
      {"pr", false, 0, "Successive LP pass"},  // no typed entries: the objective stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.letters) + (c.integer_column ? " integer" : ""));
    const Problem p = production();
    if (c.integer_column) {
      const int32_t starts[] = {0, 2, 4};
      const int32_t rows[] = {0, 1, 0, 1};
      const double values[] = {1, 1, 1, 3};
      const double cost[] = {3, 2};
      const double lower[] = {0, 0};
      const double upper[] = {3, kInf};
      const int32_t entity_columns[] = {0};
      ASSERT_EQ(KLLOADGLOBAL(dir.file("lp").c_str(), 2, 2, p.row_types.data(), p.rhs.data(), nullptr, cost, starts,
                             nullptr, rows, values, lower, upper, 1, 0, "I", entity_columns, nullptr, nullptr,
                             nullptr, nullptr, nullptr),
                0);
    } else {
      ASSERT_EQ(load(p), 0);
    }
    kltest::captured_lines().clear();
    EXPECT_EQ(KLMAXIM(c.letters), c.status);
    if (std::string(c.letters) == "pg" && c.integer_column) {
      // The search ran: its answer is the best integer solution.
      EXPECT_EQ(int_attribute_value(ATTR_GLOBAL_STATUS), 6);
    } else {
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
      EXPECT_NEAR(objective_value(), 11.0, 1e-9);
    }
    if (c.text != nullptr) {
      EXPECT_TRUE(kltest::any_line_contains(c.text));
    }
  }
}

TEST_F(LpDriver, NoProblemIsRefused) {
  kltest::captured_lines().clear();
  EXPECT_EQ(KLMINIM("p"), 32);
  EXPECT_TRUE(kltest::any_line_contains("No problem has been loaded"));
  int32_t index = 0;
  EXPECT_EQ(KLGETUNB(&index), 32);
}

// A second optimisation starts from the basis the first left.
TEST_F(LpDriver, SecondCallStartsFromTheLastBasis) {
  ASSERT_EQ(load(transport(4, 5)), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  const double first = objective_value();
  int32_t ifnbas = 0;
  KLGETICV(KLIC_IFNBAS, &ifnbas);
  EXPECT_EQ(ifnbas, 1);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_ITCNT), 0);
  EXPECT_NEAR(objective_value(), first, 1e-9);
}

// The crash runs for the primal: its basis solves to the same optimum.
TEST_F(LpDriver, CrashBasisReachesTheSameOptimum) {
  double objectives[2] = {0.0, 0.0};
  for (int32_t icrash : {0, 2}) {
    ASSERT_EQ(load(transport(5, 7)), 0);
    KLSETICV(KLIC_ICRASH, icrash);
    lp_driver_stats = LpDriverStats{};
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(lp_driver_stats.crash_runs, icrash != 0 ? 1 : 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    objectives[icrash != 0 ? 1 : 0] = objective_value();
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok()) << check.report();
  }
  EXPECT_NEAR(objectives[1], objectives[0], 1e-9 * (1.0 + std::abs(objectives[0])));
}

}  // namespace
