// One reduction round of presolve on small problems: what each family
// removes, the records it leaves for postsolve, and the conflict exits.
#include <algorithm>
#include <string>

#include "presolve/presolve_bits.h"
#include "presolve/round_fixture.h"
#include "presolve/round_work.h"
#include "problem/setup.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace kltest {
namespace {

bool printed(const std::string& fragment) { return any_line_contains(fragment); }

class ReducePassTest : public RoundTest {
 protected:
  void load_with_fixed_column(double width);
  // A basis with column c basic in place of row r's slack.
  void make_column_basic_in_place_of_row(int32_t c, int32_t r) {
    kl::int_array(kl::ARR_POS_STATUS)[row(r)] &= ~kl::PS_BASIC;
    kl::int_array(kl::ARR_POS_STATUS)[column(c)] |= kl::PS_BASIC;
  }
};

// The families switched on one at a time; kNoFamily keeps the low byte
// non-zero without selecting a family of the round.
constexpr int32_t kOnly = 0x200;
constexpr int32_t kNoFamily = 0x40;

// --- fixed columns --------------------------------------------------------

// x0 in both rows; x1 and x2 keep the rows busy.
Problem three_columns() {
  Problem p;
  p.row_types = "LL";
  p.rhs = {10, 8};
  p.columns = {{{{0, 3.0}, {1, 1.0}}, 2, 5, 5},
               {{{0, 1.0}, {1, 1.0}}, 0, 4, 1},
               {{{0, 1.0}, {1, 2.0}}, 0, 4, 1}};
  return p;
}

// Loaded, then x0's bounds brought within width of each other, as an
// earlier reduction does (a column loaded fixed leaves before the rounds).

TEST_F(ReducePassTest, FixedColumnInTheFirstRoundLeavesOnlyItsValue) {
  load_with_fixed_column(0.0);
  set_select(kOnly | kNoFamily);  // no family, a non-zero low byte
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, 0);
  EXPECT_TRUE(removed_column(0));
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(0), kl::REC_FIXED_COLUMN}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{2.0}));
  EXPECT_DOUBLE_EQ(working_rhs(0), 10 - 6);
  EXPECT_DOUBLE_EQ(working_rhs(1), 8 - 2);
  EXPECT_DOUBLE_EQ(objective_constant(), 10.0);
  EXPECT_EQ(kl::presolve_state.counts.last_position, kl::nseq - 1);
}

TEST_F(ReducePassTest, FixedColumnInALaterRoundCarriesItsRowsAndCost) {
  load_with_fixed_column(0.0);
  set_select(kOnly | kNoFamily);
  run_round(2);
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{row(0), row(1), 2, -column(0), kl::REC_FIXED_COLUMN}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{3.0, 1.0, 5.0, 2.0}));
}

TEST_F(ReducePassTest, ColumnWhoseBoundsDifferByExactlyTheDropToleranceStays) {
  load_with_fixed_column(kl::dcv(kl::dc::ZTOLDA));
  set_select(kOnly | kNoFamily);
  run_round(1);
  EXPECT_FALSE(removed_column(0));
  EXPECT_EQ(kl::presolve_int_top, 0);
}

TEST_F(ReducePassTest, ZeroLowByteRunsNoRound) {
  load_with_fixed_column(0.0);
  set_select(kOnly);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, 0);
  EXPECT_FALSE(removed_column(0));
}

void ReducePassTest::load_with_fixed_column(double width) {
  load(three_columns());
  kl::real_array(kl::ARR_UPPER)[column(0)] = 2.0 + width;
}

// --- column singletons -----------------------------------------------------

TEST_F(ReducePassTest, ZeroCostSingletonWithoutUpperBoundFreesItsGRow) {
  Problem p;
  p.row_types = "G";
  p.rhs = {3};
  p.columns = {{{{0, 1.0}}, 0, kInf, 0}, {{{0, 1.0}}, 0, 5, 1}, {{{0, 2.0}}, 0, 5, 1}};
  load(p);
  set_select(kOnly | 0x1);
  run_round(1);
  EXPECT_TRUE(removed_column(0));
  EXPECT_TRUE(removed_row(0));
  // Round 1: no list, positive column, row negated for a G row.
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(0), -row(0), kl::REC_COLUMN_SINGLETON}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{3.0, 1.0, kInf, 0.0}));
  EXPECT_EQ(kl::presolve_state.counts.rows, 0);
}

TEST_F(ReducePassTest, ZeroCostSingletonWithARangeTurnsAnEqualityIntoARange) {
  Problem p;
  p.row_types = "E";
  p.rhs = {4};
  p.columns = {{{{0, 2.0}}, 1, 3, 0}, {{{0, 1.0}}, -5, 5, 1}, {{{0, 1.0}}, -5, 5, 1}};
  load(p);
  set_select(kOnly | 0x1);
  run_round(2);
  EXPECT_TRUE(removed_column(0));
  EXPECT_FALSE(removed_row(0));
  // 2 x0 in [2, 6]: the others lie in [4 - 6, 4 - 2].
  EXPECT_DOUBLE_EQ(working_rhs(0), 2.0);
  EXPECT_DOUBLE_EQ(upper(row(0)), 4.0);
  EXPECT_EQ(kl::int_array(kl::ARR_ROW_TYPE)[row(0)] & kl::ROW_TYPE_MASK, kl::ROW_L);
  // Round 2: the row's other columns ride along, the column index is negative.
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(1), column(2), 2, -column(0), row(0), 1}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{1.0, 1.0, 4.0, 2.0, 3.0, 1.0}));
}

TEST_F(ReducePassTest, SingletonWithATinyCostIsAbsorbedAsASlack) {
  Problem p;
  p.row_types = "G";
  p.rhs = {3};
  p.columns = {{{{0, 1.0}}, 0, kInf, 0.5e-6}, {{{0, 1.0}}, 0, 5, 1}};
  load(p);
  set_select(kOnly | 0x1);
  run_round(1);
  EXPECT_TRUE(removed_column(0));
  EXPECT_EQ(stack_ints().back(), kl::REC_COLUMN_SINGLETON);
}

TEST_F(ReducePassTest, SingletonWithACostAndFiniteBoundsStays) {
  Problem p;
  p.row_types = "G";
  p.rhs = {3};
  p.columns = {{{{0, 1.0}}, 0, 4, 1}, {{{0, 1.0}}, 0, 5, 1}};
  load(p);
  set_select(kOnly | 0x1);
  run_round(1);
  EXPECT_FALSE(removed_column(0));
  EXPECT_EQ(kl::presolve_int_top, 0);
}

// --- free-column substitution ---------------------------------------------

// x free with cost 1 in one row with x1..x3 in [0, 1]; row type and rhs given.
Problem free_column_row(const char* type, double rhs) {
  Problem p;
  p.row_types = type;
  p.rhs = {rhs};
  p.columns = {{{{0, 1.0}}, -kInf, kInf, 1}};
  for (int k = 0; k < 3; ++k) p.columns.push_back({{{0, 1.0}}, 0, 1, 0});
  return p;
}

TEST_F(ReducePassTest, FreeColumnLeavesThroughTheRowThatStopsIt) {
  // min x with x + x1 + x2 + x3 >= 1: x = 1 - (x1 + x2 + x3) at the optimum.
  load(free_column_row("G", 1));
  make_column_basic_in_place_of_row(0, 0);
  // Without the singleton pass, x1..x3 are not absorbed into the slack.
  set_select(kDefaultSelect & ~0x9);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, 0);
  EXPECT_EQ(r.change, 1);
  EXPECT_TRUE(removed_column(0));
  EXPECT_TRUE(removed_row(0));
  EXPECT_DOUBLE_EQ(objective_constant(), 1.0);
  for (int c = 1; c <= 3; ++c) EXPECT_DOUBLE_EQ(cost(c), -1.0);
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(1), column(2), column(3), row(0), column(0), 0, 3, 0,
                                                kl::REC_COLUMN_ELIMINATION}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{1.0, 1.0, 1.0, 1.0, 1.0, 1.0}));
}

TEST_F(ReducePassTest, FreeColumnIsNotSubstitutedThroughARowThatDoesNotStopIt) {
  // min x with x + x1 + x2 + x3 <= 10: x runs to minus infinity. Taking x
  // out through the row would turn the problem into a bounded one.
  load(free_column_row("L", 10));
  make_column_basic_in_place_of_row(0, 0);
  set_select(kDefaultSelect & ~0x9);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, 0);
  EXPECT_EQ(r.change, 0);
  EXPECT_FALSE(removed_column(0));
  EXPECT_FALSE(removed_row(0));
  EXPECT_DOUBLE_EQ(objective_constant(), 0.0);
}

TEST_F(ReducePassTest, FreeColumnInARowThatDoesNotStopItIsADualInfeasibility) {
  load(free_column_row("L", 10));
  set_select(kDefaultSelect);
  kl::icv(kl::ic::IFMSG) = 1;
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, kl::PRESOLVE_UNBOUNDED);
  EXPECT_EQ(r.conflict, row(0));
  EXPECT_EQ(kl::presolve_state.unbounded_position, row(0));
  EXPECT_TRUE(printed("dual value of row"));
}

// An integer column substituted through its row keeps integer values only
// when the row hands it integers.
struct IntegerSubstitutionCase {
  double rhs;
  double other_coefficient;
  bool others_integer;
  bool substituted;
};

TEST_F(ReducePassTest, IntegerColumnIsSubstitutedOnlyThroughAnIntegralRow) {
  const IntegerSubstitutionCase cases[] = {
      {2.0, 1.0, true, true},
      {2.5, 1.0, true, false},   // x = 2.5 - ... is never integral
      {2.0, 0.5, true, false},   // a fractional ratio
      {2.0, 1.0, false, false},  // continuous partners
  };
  for (const IntegerSubstitutionCase& c : cases) {
    // max x with x + x1 + x2 + x3 <= rhs: x = rhs - (x1 + x2 + x3).
    Problem p;
    p.row_types = "L";
    p.rhs = {c.rhs};
    p.columns = {{{{0, 1.0}}, -kInf, kInf, -1}};
    for (int k = 0; k < 3; ++k) p.columns.push_back({{{0, c.other_coefficient}}, 0, 4, 0});
    p.entity_types = c.others_integer ? "IIII" : "I";
    p.entity_columns = c.others_integer ? std::vector<int32_t>{0, 1, 2, 3} : std::vector<int32_t>{0};
    load(p);
    make_column_basic_in_place_of_row(0, 0);
    set_select(511 & ~0x9);  // entity reductions on, as in the search
    run_round(1);
    EXPECT_EQ(removed_column(0), c.substituted) << c.rhs << " " << c.other_coefficient << " " << c.others_integer;
  }
}

// --- row reductions ---------------------------------------------------------

TEST_F(ReducePassTest, SingletonRowBecomesAColumnBound) {
  Problem p;
  p.row_types = "GL";
  p.rhs = {3, 10};
  p.columns = {{{{0, 2.0}, {1, 1.0}}, 0, 10, 1}, {{{1, 1.0}}, 0, 10, 1}};
  load(p);
  set_select(kOnly | 0x2);
  run_round(1);
  EXPECT_TRUE(removed_row(0));
  EXPECT_DOUBLE_EQ(lower(column(0)), 1.5);
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{row(0), column(0), 1, kl::REC_ROW_SINGLETON}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{2.0, 3.0}));
}

TEST_F(ReducePassTest, SingletonRowOfAnIntegerColumnRoundsTheBoundAndRecordsTheRowLimit) {
  // 2 x0 >= 3 with x0 integer: x0 >= 2. The record keeps the row's own
  // limit 3: postsolve rounds the quotient as presolve did and sees that
  // the row does not bind at x0 = 2.
  Problem p;
  p.row_types = "GL";
  p.rhs = {3, 10};
  p.columns = {{{{0, 2.0}, {1, 1.0}}, 0, 10, 1}, {{{1, 1.0}}, 0, 10, 1}};
  p.entity_types = "I";
  p.entity_columns = {0};
  load(p);
  set_select(0x2);  // entity rounding on, as in the search
  run_round(1);
  EXPECT_TRUE(removed_row(0));
  EXPECT_DOUBLE_EQ(lower(column(0)), 2.0);
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{row(0), column(0), 1, kl::REC_ROW_SINGLETON}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{2.0, 3.0}));
}

TEST_F(ReducePassTest, SingletonRowBeyondItsColumnIsInfeasibleOrPassedOnUnchanged) {
  // x0 >= 5 with x0 in [0, 3]; only the singleton rows are examined.
  Problem p;
  p.row_types = "GL";
  p.rhs = {5, 10};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 1}, {{{1, 1.0}}, 0, 10, 1}};
  for (int32_t ifpres : {1, -1}) {
    SCOPED_TRACE(ifpres);
    load(p);
    kl::icv(kl::ic::IFPRES) = ifpres;
    set_select(kOnly | 0x2);
    const auto r = run_round(1);
    EXPECT_EQ(r.outcome, ifpres > 0 ? kl::PRESOLVE_INFEASIBLE : kl::PRESOLVE_DONE);
    EXPECT_EQ(kl::presolve_state.conflict_stop, ifpres > 0 ? 0 : 1);
    // Handed on, the problem keeps the row and the column's own bounds.
    EXPECT_FALSE(removed_row(0));
    EXPECT_DOUBLE_EQ(lower(column(0)), 0.0);
    EXPECT_DOUBLE_EQ(upper(column(0)), 3.0);
    EXPECT_EQ(kl::presolve_int_top, 0);
  }
}

TEST_F(ReducePassTest, ForcingRowFixesEveryColumnAtTheBoundItNeeds) {
  // x0 - x1 <= -4 with x0 in [0, 3], x1 in [0, 4]: only x0 = 0, x1 = 4.
  Problem p;
  p.row_types = "LL";
  p.rhs = {-4, 20};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 1}, {{{0, -1.0}, {1, 1.0}}, 0, 4, 1}};
  load(p);
  // One basic position among the row's slack and columns keeps the basis square.
  make_column_basic_in_place_of_row(1, 0);
  set_select(kOnly | 0x4);
  run_round(1);
  EXPECT_TRUE(removed_row(0));
  EXPECT_TRUE(removed_column(0));
  EXPECT_TRUE(removed_column(1));
  EXPECT_DOUBLE_EQ(upper(column(0)), 0.0);
  EXPECT_DOUBLE_EQ(lower(column(1)), 4.0);
  EXPECT_DOUBLE_EQ(working_rhs(1), 20 - 4);
  EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(0), column(1), 2, 2, row(0), kl::REC_FORCING_ROW}));
  EXPECT_EQ(stack_reals(), (std::vector<double>{0.0, 1.0, 4.0, -1.0}));
}

TEST_F(ReducePassTest, ForcingRowWithTwoBasicPositionsIsLeft) {
  Problem p;
  p.row_types = "LL";
  p.rhs = {-4, 20};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 1}, {{{0, -1.0}, {1, 1.0}}, 0, 4, 1}};
  load(p);
  kl::int_array(kl::ARR_POS_STATUS)[column(1)] |= kl::PS_BASIC;
  set_select(kOnly | 0x4);
  run_round(1);
  EXPECT_FALSE(removed_row(0));
  EXPECT_EQ(kl::presolve_int_top, 0);
}

TEST_F(ReducePassTest, RedundantRowSideGoesAndAnEmptyRowLeaves) {
  Problem p;
  p.row_types = "LGN";
  p.rhs = {100, 0, 0};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 1}, {{{0, 1.0}, {1, 1.0}}, 0, 4, 1}};
  load(p);
  set_select(kOnly | 0x10);
  run_round(1);
  // x0 + x1 <= 100 can never bind; its slack is basic, so the row goes.
  EXPECT_TRUE(removed_row(0));
  // x0 + x1 >= 0 holds at the bounds as well.
  EXPECT_TRUE(removed_row(1));
  EXPECT_EQ(kl::presolve_int_top, 0);
}

struct InfeasibleRowCase {
  const char* type;
  double rhs;
  int32_t outcome;
};

TEST_F(ReducePassTest, RowBeyondItsColumnsIsInfeasibleOrPassedOn) {
  const InfeasibleRowCase cases[] = {{"L", -1.0, kl::PRESOLVE_INFEASIBLE}, {"G", 8.0, kl::PRESOLVE_INFEASIBLE}};
  for (const InfeasibleRowCase& c : cases) {
    for (int32_t ifpres : {1, -1}) {
      Problem p;
      p.row_types = c.type;
      p.rhs = {c.rhs};
      p.columns = {{{{0, 1.0}}, 0, 3, 1}, {{{0, 1.0}}, 0, 4, 1}};
      load(p);
      kl::icv(kl::ic::IFPRES) = ifpres;
      captured_lines().clear();
      const auto r = run_round(1);
      if (ifpres > 0) {
        EXPECT_EQ(r.outcome, c.outcome) << c.type;
        EXPECT_EQ(r.conflict, row(0));
        EXPECT_TRUE(printed("cannot be satisfied"));
      } else {
        EXPECT_EQ(r.outcome, 0) << c.type;
        EXPECT_EQ(kl::presolve_state.conflict_stop, 1);
      }
    }
  }
}

TEST_F(ReducePassTest, ConflictPassedOnLeavesTheVerdictToTheSimplex) {
  // r1 gives x4 <= -5/3, and then r0 needs x1 >= 25/9 > 2: infeasible. With
  // IFPRES -1 presolve stops quietly at the conflict; the bounds it would
  // drop afterwards as implied rest on rows that cannot all hold, and the
  // answer must still be "infeasible".
  Problem p;
  p.row_types = "LEL";
  p.rhs = {-5, 9, 8};
  p.columns = {{{}, 0, 0, -4},
               {{{0, -3.0}, {1, 1.0}}, 0, 2, 0},
               {{{2, 1.0}}, 0, 3, 0},
               {{{1, 2.0}}, 0, 1, 0},
               {{{0, -2.0}, {1, -3.0}}, -kInf, 2, 0}};
  TempDir dir;
  for (const char* letters : {"", "p"}) {
    SCOPED_TRACE(letters);
    ASSERT_EQ(p.load("passedon"), 0);
    ASSERT_EQ(KLSETPROB(dir.file("passedon").c_str()), 0);
    KLSETICV(KLIC_IFPRES, -1);
    KLSETICV(KLIC_NRPASS, 1);
    KLSETICV(KLIC_IPSLCT, 511 & ~0x80);
    ASSERT_EQ(KLMINIM(letters), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 2);
  }
}

TEST_F(ReducePassTest, TraceExplainsAnInfeasibleRowThroughTheRowsBehindIt) {
  // r0: x0 - x1 >= 0 with x1 >= 2 gives x0 >= 2; r1: x0 + x2 <= 1 cannot hold.
  Problem p;
  p.row_types = "GL";
  p.rhs = {0, 1};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 10, 1}, {{{0, -1.0}}, 2, 10, 1}, {{{1, 1.0}}, 0, 10, 1}};
  load(p);
  kl::icv(kl::ic::ITRACE) = 1;
  set_select(kOnly | kNoFamily);
  captured_lines().clear();
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, kl::PRESOLVE_INFEASIBLE);
  EXPECT_TRUE(printed("limit of row"));
  EXPECT_TRUE(printed("rests on these bounds for"));
  EXPECT_TRUE(printed("implied by row"));
  EXPECT_FALSE(printed("cannot be satisfied"));
}

TEST_F(ReducePassTest, ExplanationOfACrossingColumnListsItsBoundsAndTheRowsBehindThem) {
  // x0's implied lower bound from r0 and its upper bound from r1, as a
  // round leaves them when the two cross.
  Problem p;
  p.row_types = "GL";
  p.rhs = {0, 1};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 10, 1}, {{{0, -1.0}}, 2, 10, 1}, {{{1, 1.0}}, 0, 10, 1}};
  load(p);
  kl::icv(kl::ic::ITRACE) = 1;
  kl::RoundWork& w = kl::round_work;
  w = kl::RoundWork{};
  w.tracing = true;
  w.trace_lower.assign(static_cast<size_t>(kl::nseq) + 1, 0);
  w.trace_upper.assign(static_cast<size_t>(kl::nseq) + 1, 0);
  w.trace_lower[column(0)] = row(0);
  w.trace_upper[column(0)] = row(1);
  for (int32_t r = 0; r < 2; ++r) kl::work_vector()[row(r)] = r == 0 ? 0.0 : 1.0;
  captured_lines().clear();
  kl::explain_bound_infeasibility(column(0), -1);
  // Names as the messages insert them: eight characters.
  auto name_of = [](int32_t position) { return std::string(kl::position_name(position), 8); };
  const std::string name = name_of(column(0));
  ASSERT_GE(captured_lines().size(), 4u);
  EXPECT_NE(captured_lines()[0].text.find("implied bounds of column " + name), std::string::npos);
  EXPECT_NE(captured_lines()[1].text.find("rests on these bounds for " + name), std::string::npos);
  // Both rows behind x0's bounds are listed; no placeholder is left unfilled.
  for (int32_t r = 0; r < 2; ++r) EXPECT_TRUE(printed("rests on these bounds for " + name_of(row(r))));
  for (const CapturedLine& line : captured_lines()) EXPECT_EQ(line.text.find('&'), std::string::npos) << line.text;
}

// --- dual reductions --------------------------------------------------------

// A zero-cost column in L rows with positive coefficients and basic slacks.
Problem locked_zero_cost_column(double lower_bound) {
  Problem p;
  p.row_types = "LL";
  p.rhs = {10, 10};
  p.columns = {{{{0, 1.0}, {1, 2.0}}, lower_bound, 5, 0},
               {{{0, 1.0}, {1, 1.0}}, 0, 8, -1},
               {{{0, 1.0}, {1, 1.0}}, 0, 8, -1}};
  return p;
}

TEST_F(ReducePassTest, ZeroCostColumnThatRowsOnlyStopGoingUpIsFixedAtItsLowerBound) {
  for (int32_t round : {1, 2}) {
    load(locked_zero_cost_column(1.0));
    set_select(kOnly | 0x8);
    run_round(round);
    EXPECT_TRUE(removed_column(0));
    EXPECT_EQ(stack_ints(), (std::vector<int32_t>{column(0), round == 1 ? 1 : -1, kl::REC_COLUMN_AT_BOUND}));
    EXPECT_EQ(stack_reals(), (std::vector<double>{1.0}));
  }
}

TEST_F(ReducePassTest, LockedColumnGoesToItsOwnBoundBeyondTheWorkingRange) {
  // Working bounds stop at 1e8 in magnitude; the column is fixed at -1e9,
  // its own lower bound, in the rows as in the record.
  load(locked_zero_cost_column(-1e9));
  set_select(kOnly | 0x8);
  run_round(1);
  EXPECT_TRUE(removed_column(0));
  EXPECT_DOUBLE_EQ(lower(column(0)), -1e9);
  EXPECT_DOUBLE_EQ(upper(column(0)), -1e9);
  EXPECT_DOUBLE_EQ(working_rhs(0), 10 + 1e9);
  EXPECT_DOUBLE_EQ(working_rhs(1), 10 + 2e9);
  const std::vector<int32_t> ints = stack_ints();
  ASSERT_GE(ints.size(), 3u);
  EXPECT_EQ(std::vector<int32_t>(ints.begin(), ints.begin() + 3),
            (std::vector<int32_t>{column(0), 1, kl::REC_COLUMN_AT_BOUND}));
  EXPECT_DOUBLE_EQ(stack_reals().front(), -1e9);
}

TEST_F(ReducePassTest, LockedColumnBeyondTheWorkingRangeKeepsAFeasibleProblemFeasible) {
  // min -x1 - x2 with x0 + x1 <= -5e8 and x0 + x2 <= -5e8, x0 in [-1e9, 5]:
  // x0 = -1e9 leaves room for x1 = x2 = 1; at -1e8 the rows cannot hold.
  Problem p;
  p.row_types = "LL";
  p.rhs = {-5e8, -5e8};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, -1e9, 5, 0.0}, {{{0, 1.0}}, 0, 1, -1.0}, {{{1, 1.0}}, 0, 1, -1.0}};
  ASSERT_EQ(p.load("locked"), 0);
  TempDir dir;
  ASSERT_EQ(KLSETPROB(dir.file("locked").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_DOUBLE_EQ(objective_value(), -2.0);
}

TEST_F(ReducePassTest, ZeroCostColumnFreeToGoDownTakesItsRowsAlong) {
  load(locked_zero_cost_column(-kInf));
  set_select(kOnly | 0x8);
  run_round(1);
  EXPECT_TRUE(removed_column(0));
  EXPECT_TRUE(removed_row(0));
  EXPECT_TRUE(removed_row(1));
  // The first record; x1 and x2, left without rows, follow at their bounds.
  const std::vector<int32_t> ints = stack_ints();
  const std::vector<double> reals = stack_reals();
  ASSERT_GE(ints.size(), 6u);
  ASSERT_GE(reals.size(), 5u);
  EXPECT_EQ(std::vector<int32_t>(ints.begin(), ints.begin() + 6),
            (std::vector<int32_t>{row(0), row(1), 2, column(0), 1, kl::REC_DOMINATED_COLUMN}));
  EXPECT_EQ(std::vector<double>(reals.begin(), reals.begin() + 5), (std::vector<double>{10.0, 1.0, 10.0, 2.0, 5.0}));
}

TEST_F(ReducePassTest, RangedRowLocksBothWays) {
  Problem p = locked_zero_cost_column(1.0);
  p.row_types = "RL";
  p.ranges = {4, 0};
  load(p);
  set_select(kOnly | 0x8);
  run_round(1);
  EXPECT_FALSE(removed_column(0));
}

TEST_F(ReducePassTest, EmptyColumnWhoseCostIsWithinTheToleranceIsFixedAtItsLowerBound) {
  // x1 has no entries and a cost below ZTCOST: its reduced cost may be 0,
  // and with no row it cannot lean on a dual bound of its own.
  for (const double c : {0.5e-6, -0.5e-6}) {
    SCOPED_TRACE(c);
    Problem p;
    p.row_types = "L";
    p.rhs = {5};
    p.columns = {{{{0, 1.0}}, 0, 4, -1}, {{}, 1, 5, c}};
    load(p);
    set_select(kOnly | 0x8);
    run_round(1);
    EXPECT_TRUE(removed_column(1));
    // Its record follows that of x0, fixed at its upper bound.
    const std::vector<int32_t> ints = stack_ints();
    ASSERT_EQ(ints.size(), 6u);
    EXPECT_EQ(std::vector<int32_t>(ints.begin() + 3, ints.end()),
              (std::vector<int32_t>{column(1), 1, kl::REC_COLUMN_AT_BOUND}));
    EXPECT_EQ(stack_reals(), (std::vector<double>{4.0, 1.0}));
  }
}

TEST_F(ReducePassTest, SurelyPositiveReducedCostWithoutLowerBoundIsReportedUnbounded) {
  // min x0 - x1 with x0 free in x0 + x1 >= 0 ... x0's cost outweighs any dual
  // of the G row (which cannot be negative): x0 runs to minus infinity.
  Problem p;
  p.row_types = "L";
  p.rhs = {5};
  p.columns = {{{{0, 1.0}}, -kInf, 3, 1}, {{{0, 1.0}}, 0, 2, 0}};
  load(p);
  kl::icv(kl::ic::IFMSG) = 1;
  set_select(kOnly | 0x8);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, kl::PRESOLVE_UNBOUNDED);
  EXPECT_EQ(r.conflict, column(0));
  EXPECT_TRUE(printed("can improve the objective without limit"));
}

TEST_F(ReducePassTest, DualBoundKeepsTheColumnThatSetItAsItsSetter) {
  // min -500 x1 + 18.7 x2 with x0 = x1 + x2, x0 <= 10: x1 = 10 at the optimum.
  // x1 bounds the row's dual from below by 500; x2's weaker bound (-18.7)
  // must not take over as setter, or x1 would be judged by its own bound
  // and fixed at 0.
  Problem p;
  p.row_types = "E";
  p.rhs = {0};
  p.columns = {{{{0, 1.0}}, 0, 10, 0}, {{{0, -1.0}}, 0, kInf, -500}, {{{0, -1.0}}, 0, kInf, 18.7}};
  load(p);
  // x0 stays in the row (it would become the row's slack otherwise).
  kl::int_array(kl::ARR_POS_STATUS)[column(0)] |= kl::PS_PROTECTED;
  set_select(kDefaultSelect);
  run_round(1);
  const bool fixed_at_zero = removed_column(1) && upper(column(1)) == 0.0;
  EXPECT_FALSE(fixed_at_zero);
}

TEST_F(ReducePassTest, FreeColumnBoundsARowsDualFromBothSidesWithoutItsOwnTerm) {
  // x0 free with cost 1 in r0 (E) and r1 (G): its reduced cost is 0, so
  // y0 = 1 - y1 with y1 >= 0, and y0 has no lower bound. Taking x0's first
  // bound on y0 (y0 <= 1) for the other side as well would give y0 >= 0,
  // make x1's reduced cost (-0.5 - y0) surely negative and fix x1 at its
  // upper bound; the optimum has x1 = 0 (objective 3, not 18).
  Problem p;
  p.row_types = "EG";
  p.rhs = {0, 1};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, -kInf, kInf, 1.0}, {{{0, 1.0}}, 0, 10, -0.5}, {{{1, 1.0}}, 0, 100, 3.0}};
  load(p);
  set_select(kDefaultSelect);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, 0);
  const bool fixed_at_upper = removed_column(1) && lower(column(1)) == 10.0;
  EXPECT_FALSE(fixed_at_upper);
}

TEST_F(ReducePassTest, InfeasibilityFoundAfterCostFixingsIsLeftToTheSimplex) {
  // min x1 + 3 x3 with x1 - 2 x2 <= -4 and x1 - 2 x2 + x3 >= 8: x1 and x2
  // fall together without limit. Presolve fixes columns by reduced costs
  // whose dual bounds hold only when there is an optimum, and the rows it
  // leaves cannot be met: that proves no optimum, not infeasibility.
  Problem p;
  p.row_types = "LG";
  p.rhs = {-4, 8};
  p.columns = {{{}, 0, 2, 0},
               {{{0, 1.0}, {1, 1.0}}, -kInf, 4, 1},
               {{{0, -2.0}, {1, -2.0}}, -kInf, 1, 0},
               {{{1, 1.0}}, 0, kInf, 3},
               {{}, 0, 1, 2}};
  TempDir dir;
  for (const char* letters : {"", "p"}) {
    SCOPED_TRACE(letters);
    ASSERT_EQ(p.load("nooptimum"), 0);
    ASSERT_EQ(KLSETPROB(dir.file("nooptimum").c_str()), 0);
    ASSERT_EQ(KLMINIM(letters), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 5);
  }
}

// --- records of later rounds: stored lists ---------------------------------

// The first record on the stack, its ints and reals in push order.
struct FirstRecord {
  std::vector<int32_t> ints;
  std::vector<double> reals;
};
FirstRecord first_record(size_t n_ints, size_t n_reals) {
  std::vector<int32_t> ints = RoundTest::stack_ints();
  std::vector<double> reals = RoundTest::stack_reals();
  ints.resize(std::min(ints.size(), n_ints));
  reals.resize(std::min(reals.size(), n_reals));
  return {ints, reals};
}

TEST_F(ReducePassTest, LaterRoundsStoreTheListsPostsolveCannotReadFromTheMatrix) {
  {
    SCOPED_TRACE("forcing row");
    Problem p;
    p.row_types = "LL";
    p.rhs = {-4, 20};
    p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, 1}, {{{0, -1.0}, {1, 1.0}}, 0, 4, 1}};
    load(p);
    make_column_basic_in_place_of_row(1, 0);
    set_select(kOnly | 0x4);
    run_round(2);
    const FirstRecord r = first_record(10, 8);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{row(1), 1, column(0), row(1), 1, column(1), 2, -2, row(0),
                                            kl::REC_FORCING_ROW}));
    EXPECT_EQ(r.reals, (std::vector<double>{1.0, 1.0, 0.0, 1.0, 1.0, 1.0, 4.0, -1.0}));
  }
  {
    SCOPED_TRACE("row singleton");
    Problem p;
    p.row_types = "GL";
    p.rhs = {3, 10};
    p.columns = {{{{0, 2.0}, {1, 1.0}}, 0, 10, 1}, {{{1, 1.0}}, 0, 10, 1}};
    load(p);
    set_select(kOnly | 0x2);
    run_round(2);
    const FirstRecord r = first_record(6, 4);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{row(1), 1, row(0), column(0), -1, kl::REC_ROW_SINGLETON}));
    EXPECT_EQ(r.reals, (std::vector<double>{1.0, 1.0, 2.0, 3.0}));
  }
  {
    SCOPED_TRACE("dominated column");
    load(locked_zero_cost_column(-kInf));
    set_select(kOnly | 0x8);
    run_round(2);
    const FirstRecord r = first_record(12, 11);
    EXPECT_EQ(r.ints, (std::vector<int32_t>{column(1), column(2), 2, row(0), column(1), column(2), 2, row(1), 2,
                                            column(0), -1, kl::REC_DOMINATED_COLUMN}));
    EXPECT_EQ(r.reals, (std::vector<double>{1.0, 1.0, 0.0, 10.0, 1.0, 1.0, 1.0, 0.0, 10.0, 2.0, 5.0}));
  }
}

// --- capacity ---------------------------------------------------------------

TEST_F(ReducePassTest, StackCapacityFixedByTheCallerEndsTheRound) {
  load_with_fixed_column(0.0);
  kl::icv(kl::ic::M_S) = 1;
  kl::integer_set_flags[kl::ic::M_S] = 1;
  set_select(kOnly | kNoFamily);
  const auto r = run_round(1);
  EXPECT_EQ(r.outcome, kl::PRESOLVE_STACK_CAPACITY);
  EXPECT_EQ(kl::presolve_int_top, 0);
}

}  // namespace
}  // namespace kltest
