// The dual simplex through KLMINIM and KLMAXIM on small linear programs:
// the same answer under every dual pricing mode, an unbounded or dual
// infeasible end classified by the primal, objective scaling with the
// cutoff in one unit, re-optimisation from the last basis, and the
// infeasibility heap keeping one key form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "factor/scaling.h"
#include "simplex/dual_driver.h"
#include "simplex/dual_loop.h"
#include "simplex/infeasibility_heap.h"
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

// min -x1 - x2 with x1 - x2 >= 1 and x2 - x1 >= 1: neither the primal nor
// the dual has a feasible point.
Problem infeasible_both_ways() {
  Problem p;
  p.row_types = "GG";
  p.rhs = {1, 1};
  p.columns = {{{{0, 1.0}, {1, -1.0}}, 0, kInf, -1}, {{{0, -1.0}, {1, 1.0}}, 0, kInf, -1}};
  return p;
}

// The same with every cost times factor.
Problem costly_transport(int32_t sources, int32_t sinks, double factor) {
  Problem p = transport(sources, sinks);
  for (Column& c : p.columns) c.cost *= factor;
  return p;
}

class DualSimplex : public kltest::LpSession {
 protected:
  void SetUp() override {
    kltest::LpSession::SetUp();
    // The engine on the problem as loaded: presolve would change what it sees.
    KLSETICV(KLIC_IFPRES, 0);
    lp_driver_stats = LpDriverStats{};
    dual_driver_stats = DualDriverStats{};
    dual_loop_stats = DualLoopStats{};
  }
};

// Every small LP under the three pricing choices and with and without
// scaling: the same status and optimum, a solution that satisfies its own
// optimality conditions, and the dual as the algorithm that ran.
TEST_F(DualSimplex, SmallProblemsAgreeUnderEveryPricingMode) {
  struct Case {
    const char* name;
    Problem problem;
    bool maximise;
    int32_t lp_status;
    double objective;
  };
  const Case cases[] = {
      {"beale", beale(), false, LP_OPTIMAL, -1.25},
      {"maximise", production(), true, LP_OPTIMAL, 11.0},
      {"free variable", free_variable(), false, LP_OPTIMAL, -5.0},
      {"ranged row", ranged_row(), false, LP_OPTIMAL, 3.0},
      {"second N row", second_n_row(), false, LP_OPTIMAL, -4.0},
      {"transport", transport(4, 6), false, LP_OPTIMAL, 0.0},
      {"infeasible", infeasible(), false, LP_INFEASIBLE, 0.0},
      {"unbounded", unbounded(), false, LP_UNBOUNDED, 0.0},
  };
  double transport_optimum = 0.0;
  for (const Case& c : cases) {
    for (int32_t ifdse : {-1, 0, 1}) {
      for (int32_t scaling : {0, 35}) {
        SCOPED_TRACE(std::string(c.name) + " IFDSE " + std::to_string(ifdse) + (scaling != 0 ? " scaled" : ""));
        KLSETICV(KLIC_IFSCAL, scaling);
        ASSERT_EQ(load(c.problem), 0);
        KLSETICV(KLIC_IFDSE, ifdse);
        ASSERT_EQ(c.maximise ? KLMAXIM("") : KLMINIM(""), 0);
        EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), c.lp_status);
        EXPECT_EQ(lp_driver_stats.last_algorithm, kAlgorithmDual);
        if (c.lp_status != LP_OPTIMAL) continue;
        if (std::string(c.name) == "transport") {
          if (transport_optimum == 0.0) transport_optimum = objective_value();
          EXPECT_NEAR(objective_value(), transport_optimum, 1e-9 * transport_optimum);
        } else {
          EXPECT_NEAR(objective_value(), c.objective, 1e-9);
        }
        const kltest::SolutionCheck check = kltest::check_lp_solution();
        EXPECT_TRUE(check.ok()) << check.report();
      }
    }
  }
  // The primal agrees on the transportation problem.
  ASSERT_EQ(load(transport(4, 6)), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_NEAR(objective_value(), transport_optimum, 1e-9 * transport_optimum);
}

// A dual run that ends with dual infeasibilities proves nothing by itself:
// the primal classifies it. Unbounded is reported only on its word, with
// the column; an LP infeasible both ways is infeasible, never unbounded.
TEST_F(DualSimplex, DualInfeasibleEndIsClassifiedByThePrimal) {
  ASSERT_EQ(load(unbounded()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNBOUNDED);
  EXPECT_EQ(lp_driver_stats.dual_fall_backs, 1);
  int32_t column = -1;
  ASSERT_EQ(KLGETUNB(&column), 0);
  EXPECT_EQ(column, 0);

  lp_driver_stats = LpDriverStats{};
  ASSERT_EQ(load(infeasible_both_ways()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_INFEASIBLE);
  EXPECT_EQ(lp_driver_stats.dual_fall_backs, 1);
}

// Costs up to 5e7 with the smallest 1 are scaled by 2^-8 for the run; the
// objective comes back in the caller's units. With a cost of 1e-4 among
// them there is no scaling.
TEST_F(DualSimplex, LargeCostsAreScaledForTheRunOnly) {
  struct Case {
    double first_cost;
    double other_factor;
    int32_t exponent;
  };
  for (const Case& c : {Case{5e7, 1.0, -8}, Case{1e-4, 1e6, 0}}) {
    SCOPED_TRACE(c.first_cost);
    Problem p = transport(3, 4, c.first_cost);
    p.columns[1].cost = 1.0;
    for (size_t k = 1; k < p.columns.size(); ++k) p.columns[k].cost *= c.other_factor;
    KLSETICV(KLIC_IFSCAL, 0);
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    const double primal = objective_value();
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_EQ(dual_driver_stats.last_objective_exponent, c.exponent);
    EXPECT_NEAR(objective_value(), primal, 1e-9 * std::fabs(primal));
    EXPECT_EQ(dcv(kObjectiveScaleSlot), 1.0);
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok()) << check.report();
  }
}

// A cost far beyond every other (1e50 on a boxed column) gives breakpoint
// keys above any fixed heap sentinel: the ratio test must still end, and
// both simplex methods find x = 0, y = 1.
TEST_F(DualSimplex, HugeCostOnABoxedColumnSolves) {
  Problem p;
  p.row_types = "GL";
  p.rhs = {1, 1};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 10, 1e50}, {{{0, 1.0}, {1, -1.0}}, 0, 10, 1}};
  for (const char* options : {"", "p"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(load(p), 0);
    KLSETICV(KLIC_ITRLIM, 100);
    ASSERT_EQ(KLMINIM(options), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_DOUBLE_EQ(objective_value(), 1.0);
    std::vector<double> x(2, -1.0);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_DOUBLE_EQ(x[1], 1.0);
  }
}

// The cutoff and the dual bound estimate are compared in one unit: with
// costs scaled for the run, a cutoff just below the optimum cuts the run
// off and one just above it does not; in re-optimise mode as well.
TEST_F(DualSimplex, CutoffComparesInOneUnit) {
  // Costs from 2e6 to 2.2e7 with the smallest of them 2: 2^-20.
  const Problem p = costly_transport(3, 4, 2e6);
  Problem cheap_route = p;
  cheap_route.columns[5].cost = 2.0;
  ASSERT_EQ(load(cheap_route), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const double optimum = objective_value();
  ASSERT_GT(optimum, 1e6);
  for (const double share : {0.999, 1.001}) {
    SCOPED_TRACE(share);
    ASSERT_EQ(load(cheap_route), 0);
    KLSETDCV(KLDC_CUTOFF, share * optimum);
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_LT(dual_driver_stats.last_objective_exponent, 0);
    if (share < 1.0) {
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_CUT_OFF);
      EXPECT_GE(objective_value(), share * optimum);
      EXPECT_LE(objective_value(), optimum * (1.0 + 1e-9));
    } else {
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
      EXPECT_NEAR(objective_value(), optimum, 1e-9 * optimum);
    }
  }

  // Re-optimise mode after a bound change that raises the optimum past the
  // cutoff: the run ends with D.
  ASSERT_EQ(load(cheap_route), 0);
  KLSETDCV(KLDC_CUTOFF, 1.0001 * optimum);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  // The cheapest route of each source is closed: the optimum rises.
  OneBased<double> x = real_array(ARR_X);
  std::vector<int32_t> used;
  for (int32_t k = 0; k < 12; ++k)
    if (x[store.first_col + k] > 1e-9) used.push_back(k);
  ASSERT_FALSE(used.empty());
  const std::vector<char> letters(used.size(), 'U');
  const std::vector<double> zeros(used.size(), 0.0);
  ASSERT_EQ(KLCHGBDS(static_cast<int32_t>(used.size()), used.data(), letters.data(), zeros.data()), 0);
  optimise_lp(OPT_REOPTIMISE);
  EXPECT_EQ(status_letter, kLetterCutOff);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_CUT_OFF);
}

// After a bound change the next KLMINIM starts from the last basis and
// reaches the optimum a cold start reaches, in a few iterations.
TEST_F(DualSimplex, WarmStartAfterABoundChange) {
  const Problem p = transport(6, 9);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const int32_t cold_iterations = int_attribute_value(ATTR_ITCNT);
  OneBased<double> x = real_array(ARR_X);
  int32_t busiest = 0;
  for (int32_t k = 1; k < 54; ++k)
    if (x[store.first_col + k] > x[store.first_col + busiest]) busiest = k;
  const double limit = 0.5 * x[store.first_col + busiest];
  const char letter = 'U';
  ASSERT_EQ(KLCHGBDS(1, &busiest, &letter, &limit), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  const int32_t warm_iterations = int_attribute_value(ATTR_ITCNT);
  const double warm = objective_value();

  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLCHGBDS(1, &busiest, &letter, &limit), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_NEAR(warm, objective_value(), 1e-9 * std::fabs(warm));
  EXPECT_LE(warm_iterations, 5);
  EXPECT_LT(warm_iterations, cold_iterations);
}

// Reduced costs that disagree with the pivot row (here spoilt on purpose
// after every pivot) are refreshed on a new factor or handed to the primal;
// such a row is never taken for a proof of infeasibility, and the run still
// ends optimal.
int32_t spoil_reduced_costs() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if ((status[j] & PS_BASIC) == 0) d[j] = (status[j] & PS_AT_UPPER) != 0 ? 1.0 : -1.0;
  return 0;
}

// Covering rows with coefficients of both signs, positive costs: dual
// feasible at the slack basis, with pivot rows of mixed signs.
Problem mixed_cover(int32_t rows, int32_t columns) {
  Problem p;
  p.row_types = std::string(static_cast<size_t>(rows), 'G');
  for (int32_t i = 0; i < rows; ++i) p.rhs.push_back(1.0 + i % 3);
  for (int32_t k = 0; k < columns; ++k) {
    Column c;
    c.cost = 1.0 + (k * 5) % 7;
    c.upper = 50.0;
    for (int32_t i = 0; i < rows; ++i) {
      const int32_t pattern = (i * 3 + k * 5) % 7;
      if (pattern == 0) c.entries.push_back({i, 2.0});
      if (pattern == 3) c.entries.push_back({i, 1.0});
      if (pattern == 5) c.entries.push_back({i, -1.0});
    }
    p.columns.push_back(c);
  }
  return p;
}

TEST_F(DualSimplex, SpoiltReducedCostsNeverProveInfeasibility) {
  const Problem p = mixed_cover(12, 20);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  const double optimum = objective_value();
  ASSERT_EQ(load(p), 0);
  KLSETICV(KLIC_ITRLOG, 1);
  KLDEFINEILENTRY(spoil_reduced_costs);
  ASSERT_EQ(KLMINIM(""), 0);
  // Either the ratio test met a dual-infeasible candidate, or its row had
  // none of the right sign left and the dense check refuted the verdict.
  EXPECT_GE(dual_loop_stats.ratio_troubles + dual_loop_stats.unconfirmed_infeasibilities, 1);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_NEAR(objective_value(), optimum, 1e-9 * optimum);
}

// A refactorisation every 5 updates when INVFRQ says so, and an iteration
// limit that leaves the run unfinished.
TEST_F(DualSimplex, RefactorFrequencyAndIterationLimit) {
  ASSERT_EQ(load(transport(6, 9)), 0);
  KLSETICV(KLIC_INVFRQ, 5);
  ASSERT_EQ(KLMINIM(""), 0);
  const int32_t iterations = int_attribute_value(ATTR_ITCNT);
  ASSERT_GT(iterations, 10);
  EXPECT_GE(dual_driver_stats.refactorisations, iterations / 5);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);

  ASSERT_EQ(load(transport(6, 9)), 0);
  KLSETICV(KLIC_ITRLIM, 3);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
  EXPECT_EQ(int_attribute_value(ATTR_ITCNT), 3);
}

// Dual steepest edge is kept for a nearly square problem with short rows
// only when some row is longer than 50 times the average row length.
TEST_F(DualSimplex, LongRowKeepsSteepestEdgeOnShortRowProblems) {
  // 120 rows, 152 columns, 456 elements (average 3 per row): one row holds
  // every column in the first case, none is longer than 4 in the second.
  for (const bool long_row : {true, false}) {
    SCOPED_TRACE(long_row ? "long row" : "no long row");
    Problem p;
    p.row_types = std::string(120, 'L');
    p.rhs.assign(120, 1.0);
    for (int32_t k = 0; k < 152; ++k) {
      Column c;
      c.cost = -1.0;
      if (long_row) {
        c.entries = {{0, 1.0}, {1 + k % 119, 1.0}, {1 + (k + 40) % 119, 1.0}};
      } else {
        c.entries = {{k % 120, 1.0}, {(k + 40) % 120, 1.0}, {(k + 80) % 120, 1.0}};
      }
      p.columns.push_back(c);
    }
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_EQ(dual_pricing_mode, long_row ? kDualPricingSteepestEdge : kDualPricingDevex);
  }
}

// A column that ends at an artificial box bound is released where it sits:
// nonbasic at that value, its infinite bounds flagged as such again, and
// the shift count set so that the primal clean-up prices it.
TEST_F(DualSimplex, BoxedColumnIsReleasedAtItsValue) {
  ASSERT_EQ(load(free_variable()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const int32_t j = store.first_col;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  ASSERT_EQ(real_array(ARR_UPPER)[j], kInf);
  real_array(ARR_WORK_LOWER)[j] = -3.0;
  real_array(ARR_WORK_UPPER)[j] = 7.0;
  status[j] = (status[j] & ~(PS_BASIC | PS_NONBASIC_BETWEEN | PS_FREE)) | PS_AT_UPPER | PS_BOTH_FINITE;
  shift_count = 0;
  remove_artificial_bounds();
  EXPECT_EQ(status[j] & (PS_NONBASIC_BETWEEN | PS_AT_UPPER | PS_BOTH_FINITE), PS_NONBASIC_BETWEEN);
  EXPECT_EQ(x[j], 7.0);
  EXPECT_GE(shift_count, 1);
  EXPECT_EQ(dual_driver_stats.boxes_released, 1);
}

// The heap's keys are the same whether built from scratch or kept by the
// per-position update, in both pricing modes; the perturbation's removal
// gives the run its scaled objective back.
TEST_F(DualSimplex, HeapKeysAndRestoredCostsKeepOneForm) {
  ASSERT_EQ(load(transport(4, 6)), 0);
  KLSETICV(KLIC_ITRLIM, 0);
  ASSERT_EQ(KLMINIM(""), 0);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  OneBased<int32_t> slot = int_array(ARR_INFEAS_HEAP_POS);
  OneBased<double> key = real_array(ARR_INFEAS_HEAP_VALUE);
  OneBased<int32_t> heap = int_array(ARR_INFEAS_HEAP_INDEX);
  for (const int32_t mode : {kDualPricingDevex, kDualPricingSteepestEdge}) {
    SCOPED_TRACE(mode);
    dual_pricing_mode = mode;
    for (int32_t i = 1; i <= nrow; ++i) weights[i] = 0.5 + 0.25 * i;
    build_infeasibility_heap();
    ASSERT_GT(ninf, 1);
    std::vector<double> built(static_cast<size_t>(nrow) + 1, -1.0);
    for (int32_t i = 1; i <= nrow; ++i)
      if (slot[i] != 0) built[i] = key[slot[i]];
    for (int32_t i = 1; i <= nrow; ++i) update_heap_position(i);
    for (int32_t i = 1; i <= nrow; ++i) {
      if (slot[i] == 0) continue;
      EXPECT_DOUBLE_EQ(key[slot[i]], built[i]) << "position " << i;
    }
    for (int32_t s = 2; s <= ninf; ++s) EXPECT_LE(key[s], key[s / 2]);
    for (int32_t s = 1; s <= ninf; ++s) EXPECT_EQ(slot[heap[s]], s);
    // A value moved inside its bounds leaves the heap; ninf follows.
    const int32_t top = heap_top();
    const int32_t before = ninf;
    values[top] = 0.0;
    update_heap_position(top);
    EXPECT_EQ(slot[top], 0);
    EXPECT_EQ(ninf, before - 1);
  }

  dcv(kObjectiveScaleSlot) = 0.25;
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  cost[1] = 3.0;
  remove_cost_perturbation();
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  EXPECT_EQ(cost[1], 0.0);
  for (int32_t j = store.first_col; j <= nseq; ++j) EXPECT_EQ(cost[j], 0.25 * objective[j]);
  EXPECT_EQ(shift_count, 0);
  dcv(kObjectiveScaleSlot) = 1.0;
}

}  // namespace
