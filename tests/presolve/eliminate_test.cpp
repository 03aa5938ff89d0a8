// Elimination with fill-in: the substitution into rows, costs and bounds,
// the fill-in merged into the matrix, the record for postsolve, and the
// pivots the pass refuses.
#include <gtest/gtest.h>

#include <cmath>

#include "presolve/eliminate.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "presolve_state_fixture.h"

namespace kltest {
namespace {

using namespace kl;

constexpr double kInf = 1e20;

class EliminateTest : public PresolveStateTest {
 protected:
  void prepare(const ArrayProblem& p) {
    load(p);
    icv(ic::NEXTRA) = 50;
    // The room presolve's set-up gives the fill-in (the blocks hold it).
    store.elem_space = nelem + 2 * nseq;
    for (int32_t j = store.first_col; j <= nseq; ++j)
      if (lower(j) <= -kInf && upper(j) >= kInf) int_array(ARR_POS_STATUS)[j] |= PS_FREE;
    compute_activities_for_test();
    dcv(kObjectiveConstantSlot) = 0.0;
  }
  int32_t run() {
    int32_t conflict = -1;
    eliminated = -1;
    outcome = -1;
    presolve_eliminate(eliminated, conflict, outcome);
    EXPECT_EQ(conflict, 0);
    return eliminated;
  }
  // Coefficient of column c in row i of the column-wise matrix, 0 if none.
  static double coef(int32_t column, int32_t i) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    for (int32_t k = col_start[column]; k < col_start[column + 1]; ++k)
      if (int_array(ARR_ELEM_ROW)[k] == i) return real_array(ARR_ELEM_VALUE)[k];
    return 0.0;
  }
  static double cost(int32_t column) { return real_array(ARR_OBJECTIVE)[column]; }
  static void set_integer(std::initializer_list<int32_t> columns) {
    for (int32_t c : columns) int_array(ARR_POS_STATUS)[col(c)] |= PS_INTEGER;
  }
  int32_t eliminated = 0;
  int32_t outcome = 0;
};

// x - y = 0 (row 1), x + y <= 6 (row 2); x in [0, 4] cost 1, y in [1, 10]
// cost 2.
ArrayProblem two_entry_problem(double y_in_row2 = 1.0) {
  ArrayProblem p;
  p.row('E', 0.0);
  p.row('L', 6.0);
  p.column(1.0, 0.0, 4.0, {{0, 1.0}, {1, 1.0}});
  p.column(2.0, 1.0, 10.0, {{0, -1.0}, {1, y_in_row2}});
  return p;
}

TEST_F(EliminateTest, TwoEntryRowCarriesBoundsAndSubstitutes) {
  prepare(two_entry_problem());
  presolve_state.counts.rows = 2;
  presolve_state.counts.last_position = nseq;
  presolve_state.counts.elements = 4;
  ASSERT_EQ(run(), 1);
  EXPECT_EQ(outcome, 0);
  // The counts of the reduced problem: row 2 with y alone.
  EXPECT_EQ(presolve_state.counts.rows, 1);
  EXPECT_EQ(presolve_state.counts.last_position, nseq - 1);
  EXPECT_EQ(presolve_state.counts.elements, 1);
  const int32_t x = col(0), y = col(1);
  EXPECT_NE(status(1) & PS_FREE, 0);
  EXPECT_EQ(row_type(1), ROW_N);
  EXPECT_NE(status(x) & PS_FIXED, 0);
  EXPECT_EQ(lower(x), 0.0);
  EXPECT_EQ(upper(x), 0.0);
  // y takes x's upper bound, and x's cost: x = y.
  EXPECT_EQ(lower(y), 1.0);
  EXPECT_EQ(upper(y), 4.0);
  EXPECT_DOUBLE_EQ(cost(y), 3.0);
  EXPECT_DOUBLE_EQ(coef(y, 2), 2.0);
  EXPECT_DOUBLE_EQ(work_rhs(2), 6.0);
  EXPECT_EQ(nelem, 4);
  // ints: p's other rows, np, row 1's other columns, x's other rows,
  // -r, q, flags, nr, nq, 6.
  const PresolveRecord r = pop_record(10, 7);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{2, 1, y, 2, -1, x, 2, 1, 1, REC_COLUMN_ELIMINATION}));
  EXPECT_EQ(r.reals, (std::vector<double>{1.0, 2.0, -1.0, 1.0, 0.0, 1.0, 1.0}));
  EXPECT_EQ(presolve_int_top, 0);
}

TEST_F(EliminateTest, FreeColumnOfALongRowLeavesFillIn) {
  // x + y + z = 10 with x free; x + w <= 8 becomes -y - z + w <= -2.
  ArrayProblem p;
  p.row('E', 10.0);
  p.row('L', 8.0);
  p.column(1.0, -kInf, kInf, {{0, 1.0}, {1, 1.0}});
  p.column(2.0, 0.0, 10.0, {{0, 1.0}});
  p.column(3.0, 0.0, 10.0, {{0, 1.0}});
  p.column(4.0, 0.0, 10.0, {{1, 1.0}});
  for (int32_t passes : {1, 2}) {
    SCOPED_TRACE(passes);
    prepare(p);
    icv(ic::NPPASS) = passes;
    EXPECT_EQ(run(), passes - 1);
    if (passes == 1) {
      EXPECT_EQ(nelem, 5);
      KLFREEXO();
      ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    }
  }
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(nelem, 7);
  EXPECT_DOUBLE_EQ(coef(col(1), 2), -1.0);
  EXPECT_DOUBLE_EQ(coef(col(2), 2), -1.0);
  EXPECT_DOUBLE_EQ(coef(col(3), 2), 1.0);
  EXPECT_DOUBLE_EQ(work_rhs(2), -2.0);
  EXPECT_DOUBLE_EQ(cost(col(1)), 1.0);
  EXPECT_DOUBLE_EQ(cost(col(2)), 2.0);
  EXPECT_DOUBLE_EQ(dcv(kObjectiveConstantSlot), 10.0);
  const PresolveRecord r = pop_record(9, 6);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{col(1), col(2), 2, 1, col(0), 0, 2, 1, REC_COLUMN_ELIMINATION}));
  EXPECT_EQ(r.reals, (std::vector<double>{1.0, 1.0, 1.0, 10.0, 1.0, 1.0}));
}

TEST_F(EliminateTest, CoefficientFallingToZeroIsDeletedAndNoiseRejectsThePivot) {
  prepare(two_entry_problem(-1.0));  // x - y + 0 in row 2 after the substitution
  ASSERT_EQ(run(), 1);
  EXPECT_EQ(coef(col(1), 2), 0.0);
  EXPECT_EQ(nelem, 3);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  prepare(two_entry_problem(-1.0 + 5e-7));  // would leave 5e-7: noise
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(nelem, 4);
  EXPECT_EQ(presolve_int_top, 0);
}

TEST_F(EliminateTest, IntegerColumnsStayIntegral) {
  struct Case {
    const char* what;
    double ax, ay, b;
    bool eliminated;
  };
  const Case two_entry[] = {
      {"equal magnitudes", 1.0, -1.0, 0.0, true},
      {"different magnitudes", 2.0, -3.0, 0.0, false},
      {"fractional rhs", 1.0, -1.0, 0.5, false},
  };
  for (const Case& c : two_entry) {
    SCOPED_TRACE(c.what);
    ArrayProblem p;
    p.row('E', c.b);
    p.row('L', 6.0);
    p.column(1.0, 0.0, 4.0, {{0, c.ax}, {1, 1.0}});
    p.column(2.0, 0.0, 10.0, {{0, c.ay}, {1, 1.0}});
    prepare(p);
    set_integer({0, 1});
    EXPECT_EQ(run(), c.eliminated ? 1 : 0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
  // A free integer x through a row of integers: x = (b - ay y - az z) / 2.
  const Case long_row[] = {
      {"integral ratios", 2.0, 4.0, 8.0, true},
      {"fractional ratio", 2.0, 3.0, 8.0, false},
      {"fractional rhs", 2.0, 4.0, 7.0, false},
  };
  for (const Case& c : long_row) {
    SCOPED_TRACE(c.what);
    ArrayProblem p;
    p.row('E', c.b);
    p.column(1.0, -kInf, kInf, {{0, c.ax}});
    p.column(1.0, 0.0, 10.0, {{0, c.ay}});
    p.column(1.0, 0.0, 10.0, {{0, 6.0}});
    prepare(p);
    set_integer({0, 1, 2});
    EXPECT_EQ(run(), c.eliminated ? 1 : 0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

TEST_F(EliminateTest, RowsAndPivotsLeftAlone) {
  // A protected column in the row; x's bounds cannot be carried to y
  // (x in [0, 4] needs y <= 4, y >= 5); the fill-in capacity too small.
  prepare(two_entry_problem());
  int_array(ARR_POS_STATUS)[col(1)] |= PS_PROTECTED;
  EXPECT_EQ(run(), 0);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);

  ArrayProblem p = two_entry_problem();
  p.lower[1] = 5.0;
  prepare(p);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(upper(col(1)), 10.0);
  EXPECT_EQ(dcv(kObjectiveConstantSlot), 0.0);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);

  prepare(two_entry_problem());
  icv(ic::NEXTRA) = 1;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(outcome, 0);
}

TEST_F(EliminateTest, RefusedStackGrowthEndsWithOutcome5AndNoPartialRecord) {
  prepare(two_entry_problem());
  ASSERT_EQ(KLSETICV(KLIC_M_S, 3), 0);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(outcome, 5);
  EXPECT_EQ(presolve_int_top, 0);
  EXPECT_EQ(presolve_real_top, 0);
  EXPECT_EQ(status(col(0)) & PS_FIXED, 0);
}

TEST_F(EliminateTest, SwitchedOffOrNothingToDo) {
  prepare(two_entry_problem());
  icv(ic::IPSLCT) &= ~0x100;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(status(col(0)) & PS_FIXED, 0);
  // A pass that eliminates nothing leaves the counts of the reduced
  // problem alone.
  icv(ic::IPSLCT) |= 0x100;
  int_array(ARR_POS_STATUS)[col(1)] |= PS_PROTECTED;
  presolve_state.counts.elements = 3;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(presolve_state.counts.elements, 3);
}

}  // namespace
}  // namespace kltest
