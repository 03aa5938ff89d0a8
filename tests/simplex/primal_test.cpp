// The primal simplex: its engines on small LPs and QPs, the candidate-list
// pricing, the composite phase-1 weight, the perturbations and the rule that
// an infeasible basis is never reported optimal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/lp_driver.h"
#include "simplex/lp_solution_checker.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "factor/simplex_state.h"
#include "simplex/small_lps.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;

constexpr double kInf = 1e20;

struct Column {
  double cost = 0.0;
  double lower = 0.0;
  double upper = kInf;
  std::vector<std::pair<int32_t, double>> entries;
};

struct Lp {
  std::string row_types;
  std::vector<double> rhs;
  std::vector<double> ranges;
  std::vector<Column> columns;
  // Quadratic triplets (column, column, value) of 0.5 x'Qx.
  std::vector<int32_t> q1, q2;
  std::vector<double> qv;

  void row(char type, double b, double range = 0.0) {
    row_types.push_back(type);
    rhs.push_back(b);
    ranges.push_back(range);
  }
  int32_t load(const std::string& name) const {
    kltest::Problem p{row_types, rhs, ranges, {}, {}, {}, {}};
    for (const Column& c : columns) p.columns.push_back({c.entries, c.lower, c.upper, c.cost});
    for (size_t k = 0; k < qv.size(); ++k) p.quadratic.emplace_back(q1[k], q2[k], qv[k]);
    return p.load(name);
  }
};

// Beale's example: the textbook rules cycle on it; the optimum is -1.25.
Lp beale() {
  Lp lp;
  lp.row('L', 0.0);
  lp.row('L', 0.0);
  lp.row('L', 1.0);
  lp.columns = {{-0.75, 0, kInf, {{0, 0.25}, {1, 0.5}}},
                {20.0, 0, kInf, {{0, -8.0}, {1, -12.0}}},
                {-0.5, 0, kInf, {{0, -1.0}, {1, -0.5}, {2, 1.0}}},
                {6.0, 0, kInf, {{0, 9.0}, {1, 3.0}}}};
  return lp;
}

// Boxed columns: the optimum takes bound flips (x <= 2, y <= 3 at upper).
Lp boxed() {
  Lp lp;
  lp.row('L', 10.0);
  lp.row('G', 1.0);
  lp.columns = {{-3.0, 0, 2, {{0, 1.0}, {1, 1.0}}}, {-2.0, 0, 3, {{0, 1.0}}}, {-1.0, 0, kInf, {{0, 2.0}, {1, -1.0}}}};
  return lp;
}

// A free column and a ranged row: min x - y with -5 <= x + y <= 5 (range
// row), y <= 2 + 0.5 x, x free.
Lp free_and_ranged() {
  Lp lp;
  lp.row('R', 5.0, 10.0);
  lp.row('L', 2.0);
  lp.columns = {{1.0, -kInf, kInf, {{0, 1.0}, {1, -0.5}}}, {-1.0, 0, kInf, {{0, 1.0}, {1, 1.0}}}};
  return lp;
}

// Equality rows that start infeasible from the slack basis.
Lp equalities() {
  Lp lp;
  lp.row('E', 4.0);
  lp.row('E', 1.0);
  lp.row('L', 10.0);
  lp.columns = {{2.0, 0, kInf, {{0, 1.0}, {1, 1.0}, {2, 1.0}}},
                {3.0, 0, kInf, {{0, 1.0}, {1, -1.0}, {2, 1.0}}},
                {1.0, 0, kInf, {{0, 1.0}, {2, 3.0}}}};
  return lp;
}

// A transportation problem wide enough for several pricing sections.
Lp transportation(int32_t sources, int32_t sinks) {
  Lp lp;
  for (int32_t s = 0; s < sources; ++s) lp.row('L', 40.0);
  for (int32_t d = 0; d < sinks; ++d) lp.row('G', 1.0 + (d * 7) % 3);
  for (int32_t s = 0; s < sources; ++s)
    for (int32_t d = 0; d < sinks; ++d)
      lp.columns.push_back({1.0 + static_cast<double>((s * 7 + d * 13) % 17), 0, kInf, {{s, 1.0}, {sources + d, 1.0}}});
  return lp;
}

class Primal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    kltest::captured_lines().clear();
    KLDEFINEUOPENTRY(kltest::capture_plain);
    primal_engine_stats = PrimalEngineStats{};
    primal_driver_stats = PrimalDriverStats{};
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
  int32_t load(const Lp& lp) { return lp.load(dir.file("lp")); }
  static int32_t lp_result() {
    int32_t v = 0;
    KLGETIPV(ATTR_LP_STATUS, &v);
    return v;
  }
  static int32_t count_lines(const std::string& text) {
    int32_t n = 0;
    for (const kltest::CapturedLine& line : kltest::text_lines())
      if (line.text.find(text) != std::string::npos) ++n;
    return n;
  }
  kltest::TempDir dir;
};

// Control settings that steer the run through each engine and path.
struct Setting {
  const char* name;
  int32_t iphsf = 0;   // 0 candidate list, 1 reference weights
  int32_t ifftup = 1;  // 0 product-form updates
  int32_t invfrq = -1;
  double peturb = 0.0;
  int32_t ifscal = -1;  // -1 leave as loaded
};
const Setting kSettings[] = {
    {"candidate list"},
    {"reference weights", 1},
    {"product form", 1, 0},
    {"refactor every 2", 0, 1, 2},
    {"perturbed", 1, 1, -1, 1e-3},
    {"unscaled candidate list", 0, 1, -1, 0.0, 0},
};

void apply(const Setting& s) {
  KLSETICV(ic::IPHSF, s.iphsf);
  KLSETICV(ic::IFFTUP, s.ifftup);
  KLSETICV(ic::INVFRQ, s.invfrq);
  KLSETDCV(dc::PETURB, s.peturb);
  KLSETICV(ic::IFPRES, 0);
  KLSETICV(ic::ITRLOG, 0);
}

TEST_F(Primal, EveryEngineReachesTheOptimumOfTheSmallLps) {
  struct Case {
    const char* name;
    Lp lp;
    bool maximise;
    double objective;
  };
  const Case cases[] = {
      {"beale", beale(), false, -1.25},
      {"boxed", boxed(), false, -13.0},
      {"boxed maximised", boxed(), true, -3.0},
      {"free and ranged", free_and_ranged(), false, -4.0},
      {"equalities", equalities(), false, 5.0},
  };
  for (const Setting& s : kSettings) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(s.name) + " / " + c.name);
      apply(s);
      if (s.ifscal >= 0) KLSETICV(ic::IFSCAL, s.ifscal);
      ASSERT_EQ(load(c.lp), 0);
      ASSERT_EQ(c.maximise ? KLMAXIM("p") : KLMINIM("p"), 0);
      EXPECT_EQ(lp_result(), 1);
      double objective = 0.0;
      KLGETDPV(2001, &objective);
      EXPECT_NEAR(objective, c.objective, 1e-9);
      const kltest::SolutionCheck check = kltest::check_lp_solution();
      EXPECT_TRUE(check.ok()) << check.report();
      // The perturbation never survives the run.
      EXPECT_EQ(shift_active, 0);
    }
  }
}

TEST_F(Primal, EnginesAgreeOnAWideTransportationProblem) {
  const Lp lp = transportation(4, 60);
  std::vector<double> objectives;
  for (const Setting& s : kSettings) {
    SCOPED_TRACE(s.name);
    apply(s);
    ASSERT_EQ(load(lp), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    ASSERT_EQ(lp_result(), 1);
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok()) << check.report();
    objectives.push_back(dcv(dc::OBJVAL));
  }
  for (const double v : objectives) EXPECT_NEAR(v, objectives.front(), 1e-9 * std::fabs(objectives.front()));
  // The candidate list ran in sections: this problem needs several refills.
  EXPECT_GT(primal_engine_stats.list_refills, 2);
}

TEST_F(Primal, UnboundedRayIsReportedOnlyOnAFreshFactor) {
  // min -x1 - x2 with x2 - x1 <= 1 and x1 - 2 x2 <= 2: whichever column
  // enters first is blocked by a row, and the ray along (1, 1) is met with
  // an update pending.
  Lp lp;
  lp.row('L', 1.0);
  lp.row('L', 2.0);
  lp.columns = {{-1.0, 0, kInf, {{0, -1.0}, {1, 1.0}}}, {-1.0, 0, kInf, {{0, 1.0}, {1, -2.0}}}};
  for (const int32_t iphsf : {0, 1}) {
    SCOPED_TRACE(iphsf);
    primal_engine_stats = PrimalEngineStats{};
    KLSETICV(ic::IPHSF, iphsf);
    KLSETICV(ic::ICRASH, 0);
    ASSERT_EQ(load(lp), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(lp_result(), 5);
    EXPECT_EQ(update_count, 0);
    EXPECT_GE(primal_engine_stats.refactor_returns, 1);
    int32_t column = -1;
    ASSERT_EQ(KLGETUNB(&column), 0);
    EXPECT_TRUE(column == 0 || column == 1) << column;
  }
}

TEST_F(Primal, QuadraticEngineStopsBetweenBounds) {
  // min 0.5 (2 x^2 + 2 y^2) - 2 x - 4 y with x + y <= 10, 0 <= x, y <= 10:
  // the minimum x = 1, y = 2 lies inside every bound.
  Lp qp;
  qp.row('L', 10.0);
  qp.columns = {{-2.0, 0, 10, {{0, 1.0}}}, {-4.0, 0, 10, {{0, 1.0}}}};
  qp.q1 = {0, 1};
  qp.q2 = {0, 1};
  qp.qv = {2.0, 2.0};
  ASSERT_EQ(load(qp), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(lp_result(), 1);
  EXPECT_NEAR(dcv(dc::OBJVAL), -5.0, 1e-9);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  for (const auto& [column, value] : {std::pair{0, 1.0}, std::pair{1, 2.0}}) {
    const int32_t p = store.first_col + column;
    EXPECT_NEAR(x[p], value, 1e-6);
    if ((status[p] & PS_BASIC) == 0) {
      EXPECT_NE(status[p] & PS_NONBASIC_BETWEEN, 0);
    }
  }
}

TEST_F(Primal, BigmClimbsToItsCeilingThenFallsBack) {
  ASSERT_EQ(load(equalities()), 0);
  dcv(dc::BIGM) = 1024.0;
  dcv(dslot::kBigmCeiling) = 5.0 * 1024.0;
  bigm_fallback = 128.0;
  bigm_mode = 1;
  icv(ic::IFMSG) = 1;
  const double expected[] = {2048.0, 4096.0, 8192.0, 128.0};
  for (const double m : expected) {
    escalate_bigm();
    EXPECT_EQ(dcv(dc::BIGM), m);
    EXPECT_EQ(bigm_ladder[0], -2.0 * m);
    EXPECT_EQ(bigm_ladder[2], 0.0);
    EXPECT_EQ(bigm_ladder[4], 2.0 * m);
  }
  EXPECT_EQ(bigm_mode, 0);
  EXPECT_EQ(count_lines("Infeasibility weight BIGM now"), 4);
}

TEST_F(Primal, CandidateListSizeFollowsTheColumnCount) {
  struct Case {
    int32_t columns;
    double rsp004;
    int32_t size;
  };
  const Case cases[] = {{50, 1.0, 5},       {99, 1.0, 5},     {100, 1.0, 10},       {2500, 1.0, 30},
                        {29999, 1.0, 200},  {50000, 1.0, 250}, {50000, 10.0, 499}, {100000000, 1.0, 100},
                        {50, 0.5, 2}};
  store.first_col = 11;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    nseq = store.first_col + c.columns - 1;
    dcv(dc::RSP004) = c.rsp004;
    size_partial_pricing();
    EXPECT_EQ(candidate_list_size, c.size);
    EXPECT_EQ(candidate_sections, std::max(1, c.columns / c.size));
  }
}

// One row, many columns of cost -1: every column is attractive at d = -1.
class CandidateRefill : public Primal {
 protected:
  void load_attractive_columns(int32_t n) {
    Lp lp;
    lp.row('L', 1.0);
    for (int32_t j = 0; j < n; ++j) lp.columns.push_back({-1.0, 0, kInf, {{0, 1.0}}});
    ASSERT_EQ(load(lp), 0);
    real_array(ARR_REDUCED_COSTS)[1] = 0.0;
    sense_factor = 1.0;
    ninf = 0;
    bigm_mode = 1;
    empty_candidate_list();
    entering_column = 0;
    entering_reduced_cost = 0.0;
  }
};

TEST_F(CandidateRefill, SectionsRotateAndTheChoiceLeavesTheList) {
  load_attractive_columns(30);
  candidate_list_size = 5;
  candidate_sections = 3;
  next_section = 1;
  for (const int32_t section : {1, 2, 3, 1}) {
    EXPECT_EQ(next_section, section);
    empty_candidate_list();
    entering_column = 0;
    price_refill_list();
    // One section of 10 columns reaches the target; the choice is taken off.
    EXPECT_EQ(candidate_count, 9);
    EXPECT_EQ(nnegdj, 9);
    ASSERT_NE(entering_column, 0);
    EXPECT_EQ((entering_column - store.first_col) % 3, section - 1);
    EXPECT_EQ(int_array(ARR_POS_STATUS)[entering_column] & PS_PRICING_MARK, 0);
    EXPECT_EQ(entering_reduced_cost, -1.0);
  }
}

TEST_F(CandidateRefill, RefillStopsAtTheListCapacity) {
  load_attractive_columns(1500);
  candidate_list_size = 499;
  candidate_sections = 1;
  next_section = 1;
  price_refill_list();
  EXPECT_EQ(candidate_count, kCandidateListCapacity - 1);
  EXPECT_LE(nnegdj, kCandidateListCapacity);
  EXPECT_EQ(next_section, 1);
  int32_t listed = 0;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = store.first_col; p <= nseq; ++p)
    if ((status[p] & PS_PRICING_MARK) != 0) ++listed;
  EXPECT_EQ(listed, candidate_count);
  empty_candidate_list();
  for (int32_t p = store.first_col; p <= nseq; ++p) EXPECT_EQ(status[p] & PS_PRICING_MARK, 0);
}

TEST_F(Primal, SortIndexListSortsAscending) {
  std::vector<std::vector<int32_t>> lists = {{}, {7}, {3, 1, 2}, {5, 5, 1, 5, 0}};
  std::vector<int32_t> reversed(100);
  std::iota(reversed.rbegin(), reversed.rend(), -20);
  lists.push_back(reversed);
  for (std::vector<int32_t>& list : lists) {
    std::vector<int32_t> expected = list;
    std::sort(expected.begin(), expected.end());
    sort_index_list(list.data(), static_cast<int32_t>(list.size()));
    EXPECT_EQ(list, expected);
  }
}

// An infeasible basis is never reported optimal: leftover infeasibilities
// pass only when the caller's units put them within ZTOLZE.
class ResidualInfeasibility : public Primal {
 protected:
  // Solves the equalities LP unscaled and returns the basis position of a
  // basic structural column.
  int32_t solve_and_find_basic_column() {
    KLSETICV(ic::IFSCAL, 0);
    KLSETICV(ic::ITRLOG, 0);
    EXPECT_EQ(load(equalities()), 0);
    EXPECT_EQ(KLMINIM("p"), 0);
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t i = 1; i <= nrow; ++i)
      if (header[i] >= store.first_col) return i;
    ADD_FAILURE() << "no basic column";
    return 1;
  }
  // Scales the basic column at position i by 2^(e - 64) as far as the
  // caller's units go.
  static void set_scale(int32_t i, int32_t exponent) {
    const int32_t j = int_array(ARR_BASIS_HEADER)[i];
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    status[j] = static_cast<int32_t>((static_cast<uint32_t>(status[j]) & 0x00ffffffu) |
                                     (static_cast<uint32_t>(exponent) << 24));
  }
  static void put_below_lower(int32_t i, double by) {
    const int32_t j = int_array(ARR_BASIS_HEADER)[i];
    real_array(ARR_BASIC_VALUES)[i] = real_array(ARR_LOWER)[j] - by;
  }
};

TEST_F(ResidualInfeasibility, OptimumStandsOnlyWithinTheCallersTolerance) {
  struct Case {
    const char* name;
    double stored_violation;
    int32_t exponent;  // 64: factor 1
    bool stands;
  };
  const Case cases[] = {
      {"well outside", 1e-4, 64, false},
      {"just outside", 2e-6, 64, false},
      {"inside once unscaled", 2e-6, 62, true},
      {"outside once unscaled", 5e-7, 68, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t i = solve_and_find_basic_column();
    kltest::captured_lines().clear();
    set_scale(i, c.exponent);
    put_below_lower(i, c.stored_violation);
    ninf = 1;
    status_letter = kLetterOptimal;
    EXPECT_EQ(confirm_feasible_optimum(), c.stands);
    EXPECT_EQ(status_letter, c.stands ? kLetterOptimal : kLetterUnfinished);
    EXPECT_EQ(count_lines("Primal run unfinished"), c.stands ? 0 : 1);
  }
}

TEST_F(ResidualInfeasibility, RepeatedRemovalAcceptsOnlyWithinTheCallersTolerance) {
  struct Case {
    const char* name;
    int32_t exponent;
    bool accepted;
  };
  for (const Case& c : {Case{"scaled up", 64, false}, Case{"scaled down", 58, true}}) {
    SCOPED_TRACE(c.name);
    const int32_t i = solve_and_find_basic_column();
    const int32_t j = int_array(ARR_BASIS_HEADER)[i];
    set_scale(i, c.exponent);
    // A basic column whose lower bound lies 5e-5 above its value once the
    // right-hand side is restored: a small residual without progress.
    real_array(ARR_LOWER)[j] = real_array(ARR_BASIC_VALUES)[i] + 5e-5;
    int_array(ARR_POS_STATUS)[j] |= PS_FINITE_LOWER;
    shift_count = 3;
    shift_active = 0;
    shifts_at_removal = 1;
    itcnt_at_removal = itcnt;
    dcv(dslot::kSuminfAtRemoval) = 0.0;
    primal_end_flags = 0;
    problem_state = 2;
    remove_rhs_shift();
    EXPECT_EQ(ninf, c.accepted ? 0 : 1);
    EXPECT_EQ(problem_state, 3);
    EXPECT_NE(primal_end_flags & PEF_SMALL_INFEASIBILITY, 0);
    EXPECT_EQ(shift_count, 0);
  }
}

// A non-basic column held at a value beyond a bound (a point mapped back
// from an infeasible presolved problem can hold one) starts on that bound:
// the primal counts basic infeasibilities only, and a column that prices
// at zero would otherwise stay where it is, in an "optimal" answer.
TEST_F(Primal, ColumnHeldBeyondItsBoundStartsOnIt) {
  // min w with z + w <= 10, 0 <= z <= 2, z at no cost: 0, z anywhere in
  // its bounds.
  Lp lp;
  lp.row('L', 10.0);
  lp.columns = {{0.0, 0, 2, {{0, 1.0}}}, {1.0, 0, kInf, {{0, 1.0}}}};
  KLSETICV(ic::IFPRES, 0);
  KLSETICV(ic::IFSCAL, 0);
  ASSERT_EQ(load(lp), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(lp_result(), 1);
  const int32_t z = store.first_col;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  ASSERT_EQ(status[z] & PS_BASIC, 0);
  struct Case {
    double held, placed;
  };
  for (const Case c : {Case{5.0, 2.0}, Case{-3.0, 0.0}}) {
    SCOPED_TRACE(c.held);
    status[z] = (status[z] & ~PS_AT_UPPER) | PS_NONBASIC_BETWEEN;
    real_array(ARR_X)[z] = c.held;
    primal_driver_stats = PrimalDriverStats{};
    lp_algorithm = kAlgorithmPrimal + kAlgorithmForcedOffset;
    optimise_lp(OPT_REOPTIMISE);
    EXPECT_EQ(status_letter, kLetterOptimal);
    EXPECT_EQ(primal_driver_stats.held_values_placed, 1);
    EXPECT_NEAR(dcv(dc::OBJVAL), 0.0, 1e-9);
    // On its bound, and the slack of the row takes up the difference.
    EXPECT_EQ(status[z] & (PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN), c.placed > 0.0 ? int32_t{PS_AT_UPPER} : 0);
    ASSERT_EQ(int_array(ARR_BASIS_HEADER)[1], 1);
    EXPECT_NEAR(real_array(ARR_BASIC_VALUES)[1], 10.0 - c.placed, 1e-9);
  }
}

TEST_F(Primal, PerturbationIsAppliedAndRemovedWithItsMessages) {
  KLSETDCV(dc::PETURB, 1e-3);
  KLSETICV(ic::IFMSG, 1);
  KLSETICV(ic::ITRLOG, 0);
  ASSERT_EQ(load(beale()), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(lp_result(), 1);
  EXPECT_NEAR(dcv(dc::OBJVAL), -1.25, 1e-9);
  EXPECT_GE(count_lines("Perturbation applied"), 1);
  EXPECT_GE(count_lines("Perturbation removed"), 1);
  EXPECT_GE(primal_engine_stats.shift_removals, 1);
  OneBased<double> working = real_array(ARR_WORK_RHS);
  OneBased<double> rhs = real_array(ARR_RHS);
  for (int32_t r = 1; r <= nrow; ++r) EXPECT_EQ(working[r], rhs[r]);
}

TEST_F(Primal, IterationLimitLeavesTheTrueRightHandSide) {
  KLSETDCV(dc::PETURB, 1e-3);
  KLSETICV(ic::ITRLIM, 1);
  KLSETICV(ic::ITRLOG, 0);
  ASSERT_EQ(load(transportation(3, 10)), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(lp_result(), 4);
  EXPECT_EQ(shift_active, 0);
  OneBased<double> working = real_array(ARR_WORK_RHS);
  OneBased<double> rhs = real_array(ARR_RHS);
  for (int32_t r = 1; r <= nrow; ++r) EXPECT_EQ(working[r], rhs[r]);
}

TEST_F(Primal, TuningTurnsTheCandidateListOff) {
  struct Case {
    const char* name;
    int32_t iphsf;
    double sections;
    double price_average;
    int32_t ninf_value;
    int32_t expected;
  };
  const Case cases[] = {
      {"cheap list stays", 0, 0.05, 0.1, 0, 1},
      {"most sections scanned", 0, 0.3, 0.1, 0, 0},
      {"dense dual change", 0, 0.05, 0.9, 0, 0},
      {"dense change, phase 1", 0, 0.05, 0.9, 3, 0},
      {"fixed by the user", -1, 0.9, 0.9, 0, 1},
  };
  store.first_col = 11;
  nrow = 10;
  nseq = store.first_col + 9;  // 10 columns: n <= m
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    icv(ic::IPHSF) = c.iphsf;
    sections_fraction = c.sections;
    list_price_average = c.price_average;
    list_drop_average = 0.0;
    column_count_average = 1.0;
    shift_active = 0;
    ninf = c.ninf_value;
    candidate_mode = 1;
    tune_pricing_strategy();
    EXPECT_EQ(candidate_mode, c.expected);
  }
}

}  // namespace
