// Rows over integer columns: binaries from [0, 1] integers, strengthened
// binary coefficients, dropped rows and rows divided by their common divisor.
#include <gtest/gtest.h>

#include <string>

#include "presolve/integer_rows.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "presolve_state_fixture.h"
#include "problem/search_state.h"

namespace kltest {
namespace {

using namespace kl;

class IntegerRowsTest : public PresolveStateTest {
 protected:
  void load_integer(ArrayProblem& p) {
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    for (int32_t i = 1; i <= nrow; ++i) real_array(ARR_WORK_RHS)[i] = real_array(ARR_RHS)[i];
    build_row_copy_for_test(0);
    compute_activities_for_test();
    presolve_state.rounded_bounds = 0;
  }
  static double value_at(int32_t column, int32_t r) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    for (int32_t k = col_start[column]; k < col_start[column + 1]; ++k)
      if (int_array(ARR_ELEM_ROW)[k] == r) return real_array(ARR_ELEM_VALUE)[k];
    return 0.0;
  }
};

TEST_F(IntegerRowsTest, IntegerWithWorkingBoundsZeroOneBecomesBinary) {
  ArrayProblem p;
  p.row('G', -100.0);
  p.column(1.0, 0.0, 5.0, {{0, 1.0}});
  p.column(1.0, 0.0, 2.0, {{0, 1.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  load_integer(p);
  real_array(ARR_WORK_UPPER)[col(0)] = 1.0;  // implied, the stored bound stays 5
  const int32_t binaries = binary_count;
  presolve_integer_rows();
  EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[1] & ENT_TYPE_MASK, ENT_BINARY);
  EXPECT_NE(status(col(0)) & PS_BINARY, 0);
  EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[2] & ENT_TYPE_MASK, ENT_INTEGER);
  EXPECT_EQ(status(col(1)) & PS_BINARY, 0);
  EXPECT_EQ(binary_count, binaries + 1);
}

TEST_F(IntegerRowsTest, BinaryCoefficientOfAnLRowIsStrengthened) {
  // 2x + 5b <= 6, x in [0, 2]: 2x + 3b <= 4 allows the same points.
  ArrayProblem p;
  p.row('L', 6.0);
  p.column(1.0, 0.0, 2.0, {{0, 2.0}});
  p.column(1.0, 0.0, 1.0, {{0, 5.0}});
  p.entity('B', 1);
  load_integer(p);
  presolve_integer_rows();
  EXPECT_DOUBLE_EQ(value_at(col(1), 1), 3.0);
  EXPECT_DOUBLE_EQ(work_rhs(1), 4.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_WORK_UPPER)[1], 7.0);
  EXPECT_EQ(presolve_state.rounded_bounds, 1);
}

TEST_F(IntegerRowsTest, RowThatCannotBindIsDropped) {
  // 2x + 5b <= 9 + 1e-7 over x in [0, 2]: the maximum exceeds the rhs by
  // less than ZTOLZE.
  ArrayProblem p;
  p.row('L', 9.0 - 1e-7);
  p.column(1.0, 0.0, 2.0, {{0, 2.0}});
  p.column(1.0, 0.0, 1.0, {{0, 5.0}});
  p.entity('B', 1);
  load_integer(p);
  presolve_integer_rows();
  EXPECT_NE(status(1) & PS_FREE, 0);
  EXPECT_EQ(status(1) & PS_BOTH_FINITE, 0);
  EXPECT_EQ(upper(1), kInfinity);
}

TEST_F(IntegerRowsTest, AllIntegerRowsAreDividedByTheirCommonDivisor) {
  struct Case {
    char type;
    double a1, a2, a3, b;
    double g, new_b;
  };
  const Case cases[] = {
      {'L', 2.0, 4.0, 6.0, 7.0, 2.0, 3.0},
      {'L', 2.0, 3.0, 3.0, 7.0, 1.0, 7.0},
      {'L', 1.0, 0.5, 0.5, 1.2, 0.5, 2.0},
      {'G', 2.0, 4.0, 6.0, 7.0, 2.0, 4.0},
      // The limit lies just above -2 by rounding noise: -2 stays allowed.
      {'G', 2.0, 4.0, 6.0, -3.99999999, 2.0, -2.0},
      {'L', 2.0, 4.0, 6.0, -4.00000001, 2.0, -2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.b);
    ArrayProblem p;
    p.row(c.type, c.b);
    p.column(1.0, -10.0, 10.0, {{0, c.a1}});
    p.column(1.0, -10.0, 10.0, {{0, c.a2}});
    p.column(1.0, -10.0, 10.0, {{0, c.a3}});
    for (int32_t k = 0; k < 3; ++k) p.entity('I', k);
    load_integer(p);
    presolve_integer_rows();
    EXPECT_DOUBLE_EQ(value_at(col(0), 1), c.a1 / c.g);
    EXPECT_DOUBLE_EQ(value_at(col(2), 1), c.a3 / c.g);
    EXPECT_DOUBLE_EQ(work_rhs(1), c.new_b);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

TEST_F(IntegerRowsTest, RowWithAContinuousColumnIsLeftUndivided) {
  ArrayProblem p;
  p.row('L', 7.0);
  p.column(1.0, 0.0, 10.0, {{0, 2.0}});
  p.column(1.0, 0.0, 10.0, {{0, 4.0}});
  p.entity('I', 0);
  load_integer(p);
  EXPECT_EQ(presolve_integer_rows(), PRESOLVE_DONE);
  EXPECT_EQ(value_at(col(0), 1), 2.0);
  EXPECT_EQ(work_rhs(1), 7.0);
  EXPECT_EQ(presolve_int_top, 0);
}

// A rhs that is an integer only up to rounding noise keeps that integer:
// 0.1x + 0.1y <= 0.3 is x + y <= 3 (0.3 / 0.1 lies just below 3), and the
// point x + y = 3 stays feasible. Equality rows are divided when their rhs
// is an integer multiple of the divisor, and prove the problem infeasible
// when it is not. Every division leaves its record (row, divisor).
TEST_F(IntegerRowsTest, DividedRowsKeepTheIntegersTheirLimitsAllow) {
  struct Case {
    char type;
    double a1, a2, b;
    int32_t outcome;
    double new_a1, new_b;
  };
  const Case cases[] = {
      {'L', 0.1, 0.1, 0.3, PRESOLVE_DONE, 1.0, 3.0},
      {'G', 0.1, 0.1, 0.3, PRESOLVE_DONE, 1.0, 3.0},
      {'E', 0.1, 0.1, 0.3, PRESOLVE_DONE, 1.0, 3.0},
      {'E', 2.0, 4.0, 8.0, PRESOLVE_DONE, 1.0, 4.0},
      {'E', 2.0, 4.0, 7.0, PRESOLVE_INFEASIBLE, 2.0, 7.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " " + std::to_string(c.b));
    ArrayProblem p;
    p.row(c.type, c.b);
    p.column(1.0, 0.0, 10.0, {{0, c.a1}});
    p.column(1.0, 0.0, 10.0, {{0, c.a2}});
    p.entity('I', 0);
    p.entity('I', 1);
    load_integer(p);
    EXPECT_EQ(presolve_integer_rows(), c.outcome);
    EXPECT_NEAR(value_at(col(0), 1), c.new_a1, 1e-12);
    EXPECT_EQ(work_rhs(1), c.new_b);
    if (c.outcome == PRESOLVE_DONE) {
      ASSERT_EQ(presolve_int_top, 2);
      EXPECT_EQ(int_array(ARR_PRESOLVE_INTS)[1], 1);
      EXPECT_EQ(int_array(ARR_PRESOLVE_INTS)[2], REC_ROW_DIVISION);
      EXPECT_NEAR(real_array(ARR_PRESOLVE_REALS)[1], c.a1 / c.new_a1, 1e-12);
    } else {
      EXPECT_EQ(presolve_int_top, 0);
    }
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

// With IFPRES negative the conflict is passed over: presolve stops
// reducing and the optimiser meets the infeasibility itself.
TEST_F(IntegerRowsTest, EqualityConflictIsPassedOverWithIfpresNegative) {
  ArrayProblem p;
  p.row('E', 7.0);
  p.column(1.0, 0.0, 10.0, {{0, 2.0}});
  p.column(1.0, 0.0, 10.0, {{0, 4.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  load_integer(p);
  ASSERT_EQ(KLSETICV(KLIC_IFPRES, -1), 0);
  presolve_state.conflict_stop = 0;
  EXPECT_EQ(presolve_integer_rows(), PRESOLVE_DONE);
  EXPECT_EQ(presolve_state.conflict_stop, 1);
  EXPECT_EQ(value_at(col(0), 1), 2.0);
  presolve_state.conflict_stop = 0;
}

}  // namespace
}  // namespace kltest
