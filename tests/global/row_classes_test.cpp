// Row classes and variable-bound references of the search start-up, on one
// small fixture per class, and the fresh classification of a later search.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "global/row_classes.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using namespace kltest;

// A column: kind 'C' continuous, 'B' binary, 'I' integer.
struct Col {
  char kind;
  double lower;
  double upper;
};
// A row: type, rhs, coefficients by column (0 = absent), range.
struct Row {
  char type;
  double rhs;
  std::vector<double> a;
  double range = 0.0;
};

ArrayProblem build(const std::vector<Col>& cols, const std::vector<Row>& rows) {
  ArrayProblem p;
  for (const Row& r : rows) p.row(r.type == 'R' ? 'R' : r.type, r.rhs, r.range);
  for (std::size_t j = 0; j < cols.size(); ++j) {
    std::vector<std::pair<int32_t, double>> elements;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (j < rows[i].a.size() && rows[i].a[j] != 0.0) elements.emplace_back(static_cast<int32_t>(i), rows[i].a[j]);
    p.column(1.0, cols[j].lower, cols[j].upper, elements);
    if (cols[j].kind != 'C') p.entity(cols[j].kind, static_cast<int32_t>(j));
  }
  return p;
}

class RowClasses : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    // The references' factors are read in the caller's units.
    KLSETICV(KLIC_IFSCAL, 0);
  }
  // Loads, solves the relaxation (for the work arrays) and classifies.
  void classify(const std::vector<Col>& cols, const std::vector<Row>& rows) {
    ASSERT_EQ(build(cols, rows).load_global(), 0);
    ASSERT_EQ(KLMINIM("l"), 0);
    int32_t error = -1;
    preprocess_mip_rows(error);
    ASSERT_EQ(error, 0);
  }
  static int32_t row_class(int32_t i) { return int_array(ARR_ROW_TYPE)[row_from_caller(i)] & RC_ALL; }
  static int32_t column(int32_t j) { return col_from_caller(j); }
};

struct ClassCase {
  const char* name;
  std::vector<Col> cols;
  std::vector<Row> rows;
  int32_t expected;  // class bits of row 0, binary-active bit included
};

TEST_F(RowClasses, EachFixtureGetsItsClass) {
  const Col b{'B', 0, 1}, i3{'I', 0, 3}, x{'C', 0, 5};
  const std::vector<ClassCase> cases = {
      {"set row", {b, b, b}, {{'L', 1, {1, 1, 1}}}, RC_SET_LE | RC_BINARY_ACTIVE},
      {"set row written with negative coefficients", {b, b}, {{'L', -1, {-1, -1}}}, RC_SET_LE | RC_BINARY_ACTIVE},
      {"set row on the >= side", {b, b}, {{'G', 1, {1, 1}}}, RC_SET_GE | RC_BINARY_ACTIVE},
      {"equal magnitudes, rhs not a multiple", {b, b}, {{'L', 3, {2, 2}}}, RC_BINARY_ACTIVE},
      {"binary knapsack", {b, b, b}, {{'L', 6, {5, 4, 3}}}, RC_BINARY_KNAPSACK | RC_BINARY_ACTIVE},
      {"binary knapsack never binding", {b, b}, {{'L', 20, {5, 4}}}, RC_BINARY_KNAPSACK},
      {"integer knapsack", {i3, b}, {{'L', 7, {3, 2}}}, RC_INTEGER_KNAPSACK},
      {"mixed integer", {i3, x}, {{'L', 7, {3, 2}}}, RC_MIXED_INTEGER},
      {"VUB row", {x, x, b}, {{'L', 0, {1, 1, -10}}}, RC_VUB},
      {"mixed binary", {x, x, b}, {{'L', 1, {1, 1, -10}}}, RC_MIXED_BINARY},
      {"continuous", {x, x}, {{'L', 4, {1, 1}}}, RC_CONTINUOUS},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(c.name);
    classify(c.cols, c.rows);
    EXPECT_EQ(row_class(0), c.expected);
  }
}

TEST_F(RowClasses, VariableBoundRowsGiveTheReferences) {
  // x - 5y <= 0: with y binary the reference is y itself; with y integer it
  // is the row. x >= 2z (G row) gives a variable lower bound through the row.
  classify({{'C', 0, 10}, {'B', 0, 1}, {'C', 0, 10}, {'I', 0, 4}},
           {{'L', 0, {1, -5, 0, 0}}, {'G', 0, {0, 0, 1, -2}}, {'L', 0, {0, 0, 1, -3}}});
  EXPECT_EQ(row_class(0), RC_VARIABLE_BOUND);
  EXPECT_EQ(row_class(1), RC_VARIABLE_BOUND);
  OneBased<int32_t> vub = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb = int_array(ARR_VLB_REF);
  EXPECT_EQ(vub[column(0)], column(1));
  EXPECT_EQ(vlb[column(0)], 0);
  EXPECT_EQ(vlb[column(2)], row_from_caller(1));
  EXPECT_EQ(vub[column(2)], row_from_caller(2));
  int32_t partner = 0;
  double factor = 0.0;
  lookup_variable_upper_bound(column(2), partner, factor);
  EXPECT_EQ(partner, column(3));
  EXPECT_DOUBLE_EQ(factor, 3.0);
  lookup_variable_lower_bound(column(2), partner, factor);
  EXPECT_EQ(partner, column(3));
  EXPECT_DOUBLE_EQ(factor, 2.0);
  // A binary partner: the factor is the column's own upper bound.
  lookup_variable_upper_bound(column(0), partner, factor);
  EXPECT_EQ(partner, column(1));
  EXPECT_DOUBLE_EQ(factor, 10.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_WORK_UPPER)[column(0)], 10.0);
}

TEST_F(RowClasses, APresolvedSearchGetsTheBoundsNotThePresolveWorkingValues) {
  // Presolve keeps its own working bounds (clipped to 1e8, or implied) in
  // the arrays the search copies its bounds into: the search start must
  // replace them, or a cut would treat 1e8 as a bound.
  classify({{'C', 0, 1e20}, {'B', 0, 1}}, {{'L', 0, {1, -5}}});
  problem_flags |= PF_PRESOLVED_GLOBAL;
  real_array(ARR_WORK_UPPER)[column(0)] = 1e8;
  int_array(ARR_VUB_REF)[column(0)] = 0;
  int32_t error = -1;
  preprocess_mip_rows(error);
  problem_flags &= ~PF_PRESOLVED_GLOBAL;
  EXPECT_EQ(real_array(ARR_WORK_UPPER)[column(0)], real_array(ARR_UPPER)[column(0)]);
  EXPECT_EQ(int_array(ARR_VUB_REF)[column(0)], column(1));
}

TEST_F(RowClasses, GubKnapsackNeedsTwoColumnsInOneSetRow) {
  const Col b{'B', 0, 1};
  // Two of the knapsack's columns in one set row.
  classify({b, b, b}, {{'L', 5, {3, 2, 4}}, {'L', 1, {1, 1, 0}}});
  EXPECT_EQ(row_class(0) & ~RC_BINARY_ACTIVE, RC_GUB_KNAPSACK);
  // One column each in two set rows.
  classify({b, b, b, b, b}, {{'L', 5, {3, 2, 4, 0, 0}}, {'L', 1, {1, 0, 0, 1, 0}}, {'L', 1, {0, 1, 0, 0, 1}}});
  EXPECT_EQ(row_class(0) & ~RC_BINARY_ACTIVE, RC_BINARY_KNAPSACK);
}

TEST_F(RowClasses, ALaterSearchClassifiesAfresh) {
  const Col b{'B', 0, 1};
  classify({b, b, b}, {{'L', 6, {5, 4, 3}}});
  ASSERT_EQ(row_class(0), RC_BINARY_KNAPSACK | RC_BINARY_ACTIVE);
  // Classes left from an earlier search (or an earlier shape of the row)
  // must not survive: a stale set-row bit would let propagation treat the
  // knapsack as "at most one".
  int_array(ARR_ROW_TYPE)[row_from_caller(0)] |= RC_SET_LE | RC_CONTINUOUS | RC_VUB;
  int32_t error = -1;
  preprocess_mip_rows(error);
  EXPECT_EQ(row_class(0), RC_BINARY_KNAPSACK | RC_BINARY_ACTIVE);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[row_from_caller(0)] & ROW_TYPE_MASK, ROW_L);
}

TEST_F(RowClasses, ASearchMakesTheClassesAvailableToTheCaller) {
  const Col b{'B', 0, 1};
  ASSERT_EQ(build({b, b, b}, {{'L', 1, {1, 1, 1}}, {'L', 6, {5, 4, 3}}}).load_global(), 0);
  int32_t classes[2] = {-1, -1};
  EXPECT_NE(KLGETRCLASS(classes), 0);  // before any search: message 473
  ASSERT_EQ(KLMINIM("g"), 0);
  ASSERT_EQ(KLGETRCLASS(classes), 0);
  EXPECT_EQ(classes[0], RC_SET_LE >> 10);
  EXPECT_EQ(classes[1], RC_GUB_KNAPSACK >> 10);  // it shares columns with the set row
}

TEST_F(RowClasses, ReportCountsTheClassesWhenPrtcutIsSet) {
  const Col b{'B', 0, 1}, x{'C', 0, 5};
  KLSETICV(KLIC_PRTCUT, 1);
  captured_lines().clear();
  classify({b, b, x}, {{'L', 1, {1, 1, 0}}, {'L', 3, {2, 2, 0}}, {'L', 4, {0, 0, 1}}});
  const RowClassCounts& c = last_row_class_counts;
  EXPECT_EQ(c.set, 1);
  EXPECT_EQ(c.continuous, 1);
  EXPECT_EQ(c.rhs_fraction, 1);
  std::string all;
  for (const CapturedLine& line : captured_lines()) all += line.text + "\n";
  EXPECT_NE(all.find("set rows"), std::string::npos) << all;
  EXPECT_NE(all.find("not a multiple"), std::string::npos) << all;
}

}  // namespace
