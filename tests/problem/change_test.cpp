// Changing a loaded problem through the exports: every edit, applied to a
// scaled problem and re-optimised from the basis it had, must give the
// problem (read back in the caller's terms) and the optimum of loading the
// edited problem from scratch. Besides: the bits each edit clears, errors
// that leave the problem untouched, and the quadratic objective editor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "factor/scaling.h"
#include "klsol32.h"
#include "problem/change_problem.h"
#include "problem/quadratic_edit.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::objective_value;

using namespace kl;

constexpr double kInf = 1e20;

struct Column {
  std::map<int32_t, double> entries;  // row -> value
  double lower = 0.0;
  double upper = kInf;
  double cost = 0.0;
};

struct Problem {
  std::string row_types;
  std::vector<double> rhs;
  std::vector<double> ranges;
  std::vector<Column> columns;
  std::vector<std::tuple<int32_t, int32_t, double>> quadratic;  // upper triangle, caller columns
  std::string entity_types;  // one letter per entity column
  std::vector<int32_t> entity_columns;

  int32_t load(const std::string& name) const {
    kltest::Problem p{row_types, rhs, ranges, {}, quadratic, entity_types, entity_columns};
    for (const Column& c : columns)
      p.columns.push_back({{c.entries.begin(), c.entries.end()}, c.lower, c.upper, c.cost});
    return p.load(name);
  }
};

// Coefficients over five orders of magnitude, so that the load scales rows
// and columns by different powers of two.
Problem base_lp() {
  Problem p;
  p.row_types = "ELG";
  p.rhs = {2000, 4, 10};
  p.columns = {
      {{{0, 1000.0}, {1, 1.0}, {2, 5.0}}, 0, 10, 1.0},
      {{{0, 2.0}, {1, 0.01}}, 0, kInf, 2.0},
      {{{1, 3.0}, {2, 1.0}}, -5, 8, -1.0},
      {{{0, 1.0}, {2, 100.0}}, 0, 50, 0.5},
  };
  return p;
}

// The stored problem in the caller's terms.
struct Snapshot {
  std::string row_types;
  std::string column_types;
  std::vector<double> rhs, ranges, cost, lower, upper;
  std::vector<std::map<int32_t, double>> columns;
};

Snapshot snapshot() {
  Snapshot s;
  int32_t rows = 0;
  int32_t cols = 0;
  KLGETIPV(KLIA_NROW, &rows);
  KLGETIPV(KLIA_NCOLS, &cols);
  s.row_types.resize(static_cast<size_t>(rows));
  s.column_types.resize(static_cast<size_t>(cols));
  s.rhs.resize(static_cast<size_t>(rows));
  s.ranges.resize(static_cast<size_t>(rows));
  for (auto* v : {&s.cost, &s.lower, &s.upper}) v->resize(static_cast<size_t>(cols));
  if (rows > 0) {
    EXPECT_EQ(KLGETROWTYPE(s.row_types.data(), 0, rows - 1), 0);
    EXPECT_EQ(KLGETRHS(s.rhs.data(), 0, rows - 1), 0);
    EXPECT_EQ(KLGETRNG(s.ranges.data(), 0, rows - 1), 0);
  }
  EXPECT_EQ(KLGETCOLTYPE(s.column_types.data(), 0, cols - 1), 0);
  EXPECT_EQ(KLGETOBJ(s.cost.data(), 0, cols - 1), 0);
  EXPECT_EQ(KLGETBDL(s.lower.data(), 0, cols - 1), 0);
  EXPECT_EQ(KLGETBDU(s.upper.data(), 0, cols - 1), 0);
  int32_t count = 0;
  EXPECT_EQ(KLGETCOLS(nullptr, nullptr, nullptr, 0, &count, 0, cols - 1), 0);
  std::vector<int32_t> starts(static_cast<size_t>(cols) + 1), row(static_cast<size_t>(count) + 1);
  std::vector<double> value(static_cast<size_t>(count) + 1);
  EXPECT_EQ(KLGETCOLS(starts.data(), row.data(), value.data(), count, &count, 0, cols - 1), 0);
  s.columns.resize(static_cast<size_t>(cols));
  for (int32_t j = 0; j < cols; ++j)
    for (int32_t k = starts[j]; k < starts[j + 1]; ++k) s.columns[j][row[k]] = value[k];
  return s;
}

void expect_close(double a, double b, const std::string& what) {
  EXPECT_NEAR(a, b, 1e-9 * (1.0 + std::fabs(b))) << what;
}

void expect_same(const Snapshot& got, const Snapshot& want) {
  EXPECT_EQ(got.row_types, want.row_types);
  EXPECT_EQ(got.column_types, want.column_types);
  const auto same_values = [](const std::vector<double>& a, const std::vector<double>& b, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t k = 0; k < a.size(); ++k) expect_close(a[k], b[k], std::string(what) + " " + std::to_string(k));
  };
  same_values(got.rhs, want.rhs, "rhs");
  same_values(got.ranges, want.ranges, "range");
  same_values(got.cost, want.cost, "cost");
  same_values(got.lower, want.lower, "lower");
  same_values(got.upper, want.upper, "upper");
  ASSERT_EQ(got.columns.size(), want.columns.size());
  for (size_t j = 0; j < got.columns.size(); ++j) {
    ASSERT_EQ(got.columns[j].size(), want.columns[j].size()) << "column " << j;
    for (const auto& [r, v] : want.columns[j]) {
      ASSERT_TRUE(got.columns[j].count(r)) << "column " << j << " row " << r;
      expect_close(got.columns[j].at(r), v, "column " + std::to_string(j) + " row " + std::to_string(r));
    }
  }
}

int32_t lp_status_value() {
  int32_t v = 0;
  KLGETIPV(KLIA_LPSTATUS, &v);
  return v;
}

uint32_t status_word(int32_t position) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[position]); }
int32_t row_position(int32_t caller_row) { return caller_row + 1; }
int32_t column_position(int32_t caller_column) { return store.first_col + caller_column; }
int32_t exponent_of(int32_t position) { return scale_exponent(int_array(ARR_POS_STATUS)[position]); }

class ChangeTest : public kltest::LibrarySession {
 protected:
  // The solution file goes beside the problem: into the test's directory.
  std::string name(const char* stem) const { return dir_.file(stem); }

  void load(const Problem& p) { ASSERT_EQ(p.load(name("edit")), 0); }

  kltest::TempDir dir_;
};

// ---------------------------------------------------------------------------
// Every edit against a fresh load of the edited problem.

struct EditCase {
  const char* name;
  std::function<int32_t()> edit;        // through the exports, caller indices from 0
  std::function<void(Problem&)> apply;  // the same change to the problem's description
};

std::vector<EditCase> edit_cases() {
  return {
      {"bounds",
       [] {
         const int32_t cols[] = {0, 2, 1, 3};
         const char letters[] = {'U', 'B', 'L', 'U'};
         const double values[] = {1.99, -1.0, 1.0, 1e20};
         return KLCHGBDS(4, cols, letters, values);
       },
       [](Problem& p) {
         p.columns[0].upper = 1.99;
         p.columns[2].lower = p.columns[2].upper = -1.0;
         p.columns[1].lower = 1.0;
         p.columns[3].upper = kInf;
       }},
      {"coefficient added, changed and removed",
       [] {
         int32_t status = KLCHGCOF(1, 3, 7.0);
         status |= KLCHGCOF(0, 1, 3.0);
         return status | KLCHGCOF(2, 0, 0.0);
       },
       [](Problem& p) {
         p.columns[3].entries[1] = 7.0;
         p.columns[1].entries[0] = 3.0;
         p.columns[0].entries.erase(2);
       }},
      {"many coefficients, a pair given twice",
       [] {
         const int32_t rows[] = {1, 0, 2, 1, 2, 0};
         const int32_t cols[] = {3, 1, 0, 3, 1, 2};
         const double values[] = {7.0, 3.0, 0.0, -2.0, 0.5, 4.0};
         return KLCHGMCOF(rows, cols, values, 6);
       },
       [](Problem& p) {
         p.columns[3].entries[1] = -2.0;
         p.columns[1].entries[0] = 3.0;
         p.columns[0].entries.erase(2);
         p.columns[1].entries[2] = 0.5;
         p.columns[2].entries[0] = 4.0;
       }},
      {"costs",
       [] {
         const int32_t cols[] = {2, 0};
         const double values[] = {1.5, -3.0};
         return KLCHGOBJ(2, cols, values);
       },
       [](Problem& p) {
         p.columns[2].cost = 1.5;
         p.columns[0].cost = -3.0;
       }},
      {"right-hand sides",
       [] {
         const int32_t rows[] = {0, 2};
         const double values[] = {3000.0, 20.0};
         return KLCHGRHS(2, rows, values);
       },
       [](Problem& p) {
         p.rhs[0] = 3000.0;
         p.rhs[2] = 20.0;
       }},
      {"range on an E row",
       [] {
         const int32_t rows[] = {0};
         const double values[] = {400.0};
         return KLCHGRNG(1, rows, values);
       },
       [](Problem& p) {
         p.row_types[0] = 'R';
         p.ranges = {400.0, 0, 0};
       }},
      {"negative range on an L row and a range on a G row",
       [] {
         const int32_t rows[] = {1, 2};
         const double values[] = {-4.0, 3.0};
         return KLCHGRNG(2, rows, values);
       },
       [](Problem& p) {
         p.row_types[1] = 'R';
         p.rhs[1] = 8.0;
         p.row_types[2] = 'R';
         p.rhs[2] = 13.0;
         p.ranges = {0, 4.0, 3.0};
       }},
      {"row types",
       [] {
         const int32_t rows[] = {1, 2, 0};
         const char letters[] = {'G', 'E', 'L'};
         return KLCHGROWTYPE(3, rows, letters);
       },
       [](Problem& p) { p.row_types = "LGE"; }},
  };
}

TEST_F(ChangeTest, EditThenReoptimiseEqualsLoadingTheEditedProblem) {
  for (const EditCase& c : edit_cases()) {
    SCOPED_TRACE(c.name);
    Problem edited = base_lp();
    load(edited);
    ASSERT_EQ(KLMINIM("p"), 0);
    ASSERT_EQ(lp_status_value(), 1);
    ASSERT_EQ(c.edit(), 0);
    EXPECT_EQ(problem_flags & PF_SOLUTION_CURRENT, 0) << "the old solution is stale";
    const Snapshot after_edit = snapshot();
    ASSERT_EQ(KLMINIM("p"), 0);
    const int32_t status = lp_status_value();
    const double objective = objective_value();

    c.apply(edited);
    load(edited);
    expect_same(after_edit, snapshot());
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(status, lp_status_value());
    EXPECT_EQ(status, 1) << "every script leaves a problem with an optimum";
    expect_close(objective, objective_value(), "objective");
  }
}

// ---------------------------------------------------------------------------
// Coefficients.

struct CoefficientScript {
  const char* name;
  std::vector<int32_t> rows, cols;
  std::vector<double> values;
};

TEST_F(ChangeTest, ManyCoefficientsEqualTheSameSingleChanges) {
  const std::vector<CoefficientScript> scripts = {
      // Two new entries in one column, removals in others, an overwrite, a
      // pair removed and given again, and a pair that appears and goes: the
      // columns move down.
      {"mixed",
       {2, 1, 0, 0, 1, 2, 0, 2},
       {1, 2, 2, 0, 0, 3, 3, 1},
       {6.0, 0.0, -1.0, 999.0, 0.0, 0.0, 5.0, 0.0}},
      // A column that grows before one that shrinks and one that grows
      // again: the columns move up, then down, then stay.
      {"up and down", {2, 1, 2, 1}, {1, 2, 2, 3}, {4.0, 0.0, 0.0, 8.0}},
      // Every absent pair filled in: every column moves up.
      {"dense", {1, 2, 0, 0, 1}, {3, 1, 2, 3, 2}, {1.0, 2.0, 3.0, 4.0, 5.0}},
  };
  for (const CoefficientScript& script : scripts) {
    SCOPED_TRACE(script.name);
    const auto n = static_cast<int32_t>(script.rows.size());
    load(base_lp());
    for (int32_t k = 0; k < n; ++k) ASSERT_EQ(KLCHGCOF(script.rows[k], script.cols[k], script.values[k]), 0);
    const Snapshot single = snapshot();
    const int32_t single_nelem = nelem;
    load(base_lp());
    ASSERT_EQ(KLCHGMCOF(script.rows.data(), script.cols.data(), script.values.data(), n), 0);
    expect_same(snapshot(), single);
    EXPECT_EQ(nelem, single_nelem);
    // The last value of a pair wins, zero removes.
    std::map<std::pair<int32_t, int32_t>, double> last;
    for (int32_t k = 0; k < n; ++k) last[{script.cols[k], script.rows[k]}] = script.values[k];
    for (const auto& [pair, value] : last) {
      const auto& column = single.columns[static_cast<size_t>(pair.first)];
      if (value == 0.0) {
        EXPECT_EQ(column.count(pair.second), 0u);
      } else {
        ASSERT_EQ(column.count(pair.second), 1u);
        EXPECT_EQ(column.at(pair.second), value);
      }
    }
  }
}

TEST_F(ChangeTest, CoefficientChangesUseSpareRoomAndGrowWhenItRunsOut) {
  load(base_lp());
  const int32_t elements = nelem;
  const int32_t spare = spare_elems_left;
  ASSERT_EQ(KLCHGCOF(1, 3, 2.0), 0);  // no spare slot: the storage grows
  EXPECT_EQ(nelem, elements + 1);
  EXPECT_GT(spare_elems_left, spare);
  const int32_t left = spare_elems_left;
  ASSERT_EQ(KLCHGCOF(1, 3, 0.0), 0);
  EXPECT_EQ(nelem, elements);
  EXPECT_EQ(spare_elems_left, left + 1);
  ASSERT_EQ(KLCHGCOF(2, 1, 0.0), 0);  // absent and zero: nothing
  EXPECT_EQ(nelem, elements);
  EXPECT_EQ(spare_elems_left, left + 1);
}

TEST_F(ChangeTest, ValueOnlyCoefficientChangesKeepTheRowCopy) {
  load(base_lp());
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_NE(problem_flags & PF_ROW_COPY, 0);
  ASSERT_EQ(KLCHGCOF(0, 0, 500.0), 0);
  EXPECT_NE(problem_flags & PF_ROW_COPY, 0);
  EXPECT_EQ(problem_flags & (PF_SOLUTION_CURRENT | PF_FACTOR_VALID | PF_LU_ARRAYS), 0);
  std::vector<int32_t> starts(2), columns(4);
  std::vector<double> values(4);
  int32_t count = 0;
  ASSERT_EQ(KLGETROWS(starts.data(), columns.data(), values.data(), 4, &count, 0, 0), 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(columns[0], 0);
  EXPECT_DOUBLE_EQ(values[0], 500.0);
  ASSERT_EQ(KLCHGCOF(0, 2, 1.0), 0);  // a new entry: the copy is dropped
  EXPECT_EQ(problem_flags & PF_ROW_COPY, 0);
}

// ---------------------------------------------------------------------------
// Errors are found before anything changes.

struct BadCall {
  const char* name;
  std::function<int32_t()> call;
  int32_t error;
  int32_t value;
};

TEST_F(ChangeTest, ABadItemAnywhereLeavesTheProblemAsItWas) {
  const std::vector<BadCall> calls = {
      {"bounds, bad column last",
       [] {
         const int32_t cols[] = {0, 1, 9};
         const char letters[] = {'U', 'B', 'L'};
         const double values[] = {1, 2, 3};
         return KLCHGBDS(3, cols, letters, values);
       },
       405, 9},
      {"bounds, bad letter",
       [] {
         const int32_t cols[] = {0, 1};
         const char letters[] = {'U', 'X'};
         const double values[] = {1, 2};
         return KLCHGBDS(2, cols, letters, values);
       },
       416, 2},
      {"coefficient, bad row", [] { return KLCHGCOF(3, 0, 1.0); }, 402, 3},
      {"coefficient, bad column", [] { return KLCHGCOF(0, -1, 1.0); }, 405, -1},
      {"many coefficients, bad row last",
       [] {
         const int32_t rows[] = {1, 0, 7};
         const int32_t cols[] = {3, 2, 0};
         const double values[] = {5, 6, 7};
         return KLCHGMCOF(rows, cols, values, 3);
       },
       402, 7},
      {"costs, bad column",
       [] {
         const int32_t cols[] = {1, 4};
         const double values[] = {5, 6};
         return KLCHGOBJ(2, cols, values);
       },
       405, 4},
      {"right-hand sides, bad row",
       [] {
         const int32_t rows[] = {0, -1};
         const double values[] = {5, 6};
         return KLCHGRHS(2, rows, values);
       },
       402, -1},
      {"ranges, bad row",
       [] {
         const int32_t rows[] = {0, 3};
         const double values[] = {5, 6};
         return KLCHGRNG(2, rows, values);
       },
       402, 3},
      {"row types, bad letter",
       [] {
         const int32_t rows[] = {0, 2};
         const char letters[] = {'L', 'Q'};
         return KLCHGROWTYPE(2, rows, letters);
       },
       401, 2},
      {"column types, bad letter",
       [] {
         const int32_t cols[] = {0, 2};
         const char letters[] = {'I', 'S'};
         return KLCHGCOLTYPE(2, cols, letters);
       },
       427, 2},
      {"bounds, NaN last",
       [] {
         const int32_t cols[] = {0, 1};
         const char letters[] = {'U', 'L'};
         const double values[] = {1, std::nan("")};
         return KLCHGBDS(2, cols, letters, values);
       },
       975, 1},
      {"bounds, plus infinity as a lower bound",
       [] {
         const int32_t cols[] = {0};
         const char letters[] = {'L'};
         const double values[] = {HUGE_VAL};
         return KLCHGBDS(1, cols, letters, values);
       },
       975, 0},
      {"bounds, both fixed at infinity",
       [] {
         const int32_t cols[] = {1};
         const char letters[] = {'B'};
         const double values[] = {HUGE_VAL};
         return KLCHGBDS(1, cols, letters, values);
       },
       975, 0},
      {"coefficient, NaN", [] { return KLCHGCOF(0, 0, std::nan("")); }, 975, 0},
      {"many coefficients, infinity last",
       [] {
         const int32_t rows[] = {1, 0};
         const int32_t cols[] = {3, 2};
         const double values[] = {5, -HUGE_VAL};
         return KLCHGMCOF(rows, cols, values, 2);
       },
       975, 1},
      {"costs, NaN",
       [] {
         const int32_t cols[] = {1, -1};
         const double values[] = {std::nan(""), 6};
         return KLCHGOBJ(2, cols, values);
       },
       975, 0},
      {"objective constant, infinity",
       [] {
         const int32_t cols[] = {-1};
         const double values[] = {HUGE_VAL};
         return KLCHGOBJ(1, cols, values);
       },
       975, 0},
      {"right-hand sides, infinity",
       [] {
         const int32_t rows[] = {0, 1};
         const double values[] = {5, HUGE_VAL};
         return KLCHGRHS(2, rows, values);
       },
       975, 1},
      {"ranges, NaN",
       [] {
         const int32_t rows[] = {0};
         const double values[] = {std::nan("")};
         return KLCHGRNG(1, rows, values);
       },
       975, 0},
      {"quadratic coefficient, NaN", [] { return KLCHGQOBJ(0, 1, std::nan("")); }, 975, 0},
      {"column types, bad column",
       [] {
         const int32_t cols[] = {0, 4};
         const char letters[] = {'B', 'B'};
         return KLCHGCOLTYPE(2, cols, letters);
       },
       405, 4},
  };
  for (const BadCall& c : calls) {
    SCOPED_TRACE(c.name);
    load(base_lp());
    ASSERT_EQ(KLMINIM("p"), 0);
    const Snapshot before = snapshot();
    const int32_t flags = problem_flags;
    const int32_t entities = nglent;
    EXPECT_EQ(c.call(), 32);
    EXPECT_EQ(error_number, c.error);
    EXPECT_EQ(error_value, c.value);
    EXPECT_EQ(problem_flags, flags);
    EXPECT_EQ(nglent, entities);
    expect_same(snapshot(), before);
  }
}

TEST_F(ChangeTest, ManyCoefficientsNeverWriteIntoTheCallersArrays) {
  load(base_lp());
  const std::vector<int32_t> rows = {1, 2, 0, 5};
  const std::vector<int32_t> cols = {3, 1, 2, 0};
  const std::vector<double> values = {1.0, 2.0, 3.0, 4.0};
  std::vector<int32_t> given_rows = rows;
  EXPECT_EQ(KLCHGMCOF(given_rows.data(), cols.data(), values.data(), 4), 32);
  EXPECT_EQ(given_rows, rows);
  given_rows.pop_back();
  ASSERT_EQ(KLCHGMCOF(given_rows.data(), cols.data(), values.data(), 3), 0);
  EXPECT_EQ(given_rows, std::vector<int32_t>({1, 2, 0}));
}

TEST_F(ChangeTest, EditsNeedALoadedProblemAndCoefficientsAnUnpresolvedOne) {
  const int32_t cols[] = {0};
  const double values[] = {1.0};
  EXPECT_EQ(KLCHGOBJ(1, cols, values), 32);
  EXPECT_EQ(KLCHGCOF(0, 0, 1.0), 32);
  EXPECT_TRUE(kltest::any_line_contains("No problem"));
  load(base_lp());
  problem_flags |= PF_PRESOLVED_LP;
  EXPECT_EQ(KLCHGCOF(0, 0, 1.0), 32);
  EXPECT_EQ(KLCHGMCOF(cols, cols, values, 1), 32);
  problem_flags &= ~PF_PRESOLVED_LP;
}

// ---------------------------------------------------------------------------
// Bounds, rows and costs: status bits and flags.

TEST_F(ChangeTest, BoundChangesKeepTheStatusBitsInStep) {
  load(base_lp());
  const int32_t p = column_position(1);
  const int32_t cols[] = {1};
  const char both[] = {'B'};
  const char up[] = {'U'};
  const double three[] = {3.0};
  ASSERT_EQ(KLCHGBDS(1, cols, both, three), 0);
  EXPECT_EQ(status_word(p) & (PS_FIXED | PS_BOTH_FINITE | PS_FREE), PS_FIXED | PS_BOTH_FINITE);
  const double four[] = {4.0};
  ASSERT_EQ(KLCHGBDS(1, cols, up, four), 0);
  EXPECT_EQ(status_word(p) & PS_FIXED, 0u);
  const char low[] = {'L'};
  const double minus_infinity[] = {-5e19};
  const double plus_infinity[] = {5e19};
  ASSERT_EQ(KLCHGBDS(1, cols, low, minus_infinity), 0);
  ASSERT_EQ(KLCHGBDS(1, cols, up, plus_infinity), 0);
  EXPECT_EQ(status_word(p) & (PS_BOTH_FINITE | PS_FREE), PS_FREE);
  double bound = 0.0;
  KLGETBDU(&bound, 1, 1);
  EXPECT_EQ(bound, kInf);
  KLGETBDL(&bound, 1, 1);
  EXPECT_EQ(bound, -kInf);
}

TEST_F(ChangeTest, ABoundChangeBelowTheToleranceChangesNothing) {
  load(base_lp());
  ASSERT_EQ(KLMINIM("p"), 0);
  const int32_t flags = problem_flags;
  const int32_t cols[] = {0};
  const char up[] = {'U'};
  const double same[] = {10.0 + 1e-12};
  ASSERT_EQ(KLCHGBDS(1, cols, up, same), 0);
  EXPECT_EQ(problem_flags, flags);
}

TEST_F(ChangeTest, RangeOnAnEqualityRowMakesARangeRowThatIsNoLongerFixed) {
  Problem p = base_lp();
  p.rhs[0] = 10.0;
  p.columns[0].entries[0] = 1.0;
  load(p);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_NE(status_word(row_position(0)) & PS_FIXED, 0u);
  const int32_t rows[] = {0};
  const double four[] = {4.0};
  ASSERT_EQ(KLCHGRNG(1, rows, four), 0);
  EXPECT_EQ(status_word(row_position(0)) & (PS_FIXED | PS_BOTH_FINITE), PS_BOTH_FINITE);
  EXPECT_EQ(problem_flags & PF_SOLUTION_CURRENT, 0);
  char type = ' ';
  double rhs = 0.0;
  double range = 0.0;
  KLGETROWTYPE(&type, 0, 0);
  KLGETRHS(&rhs, 0, 0);
  KLGETRNG(&range, 0, 0);
  EXPECT_EQ(type, 'R');
  EXPECT_EQ(rhs, 10.0);
  EXPECT_EQ(range, 4.0);
  // The row's activity may lie anywhere in [6, 10]: minimising and
  // maximising the row alone reach both ends.
  const int32_t all[] = {0, 1, 2, 3};
  const double row_cost[] = {1.0, 2.0, 0.0, 1.0};
  ASSERT_EQ(KLCHGOBJ(4, all, row_cost), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  expect_close(objective_value(), 6.0, "lower end");
  ASSERT_EQ(KLMAXIM("p"), 0);
  expect_close(objective_value(), 10.0, "upper end");
}

TEST_F(ChangeTest, MinusInfiniteRangeKeepsTheLowerEndOfARangeRow) {
  Problem p = base_lp();
  p.row_types[1] = 'R';
  p.ranges = {0, 4.0, 0};
  load(p);
  const int32_t rows[] = {1};
  const double minus_infinity[] = {-1e20};
  ASSERT_EQ(KLCHGRNG(1, rows, minus_infinity), 0);
  char type = ' ';
  double rhs = 0.0;
  KLGETROWTYPE(&type, 1, 1);
  KLGETRHS(&rhs, 1, 1);
  EXPECT_EQ(type, 'G');
  EXPECT_EQ(rhs, 0.0);  // the former interval was [0, 4]
  // The row type change to G does the same.
  load(p);
  const char g[] = {'G'};
  ASSERT_EQ(KLCHGROWTYPE(1, rows, g), 0);
  KLGETRHS(&rhs, 1, 1);
  EXPECT_EQ(rhs, 0.0);
}

TEST_F(ChangeTest, RowEditsKeepTheFactorButNotTheSolution) {
  load(base_lp());
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  const int32_t rows[] = {1};
  const char n[] = {'N'};
  ASSERT_EQ(KLCHGROWTYPE(1, rows, n), 0);
  EXPECT_NE(problem_flags & PF_FACTOR_VALID, 0);
  EXPECT_EQ(problem_flags & PF_SOLUTION_CURRENT, 0);
  EXPECT_EQ(status_word(row_position(1)) & (PS_BOTH_FINITE | PS_FREE | PS_FIXED), PS_FREE);
  const char l[] = {'L'};
  ASSERT_EQ(KLCHGROWTYPE(1, rows, l), 0);
  double range = 0.0;
  KLGETRNG(&range, 1, 1);
  EXPECT_EQ(range, kInf);
}

TEST_F(ChangeTest, ObjectiveConstantThroughColumnMinusOne) {
  load(base_lp());
  const int32_t cols[] = {-1};
  const double seven[] = {7.0};
  ASSERT_EQ(KLCHGOBJ(1, cols, seven), 0);
  EXPECT_EQ(dcv(kObjectiveConstantSlot), -7.0);
}

TEST_F(ChangeTest, ChangedValuesAreStoredScaled) {
  load(base_lp());
  const int32_t p = column_position(1);
  const int32_t r = row_position(0);
  ASSERT_NE(exponent_of(p), kNeutralScaleExponent);
  ASSERT_NE(exponent_of(r), kNeutralScaleExponent);
  const int32_t cols[] = {1};
  const int32_t rows[] = {0};
  const double cost[] = {3.0};
  const double rhs[] = {100.0};
  ASSERT_EQ(KLCHGOBJ(1, cols, cost), 0);
  ASSERT_EQ(KLCHGRHS(1, rows, rhs), 0);
  double stored = 0.0;
  KLIGETOBJ(&stored, 1, 1);
  EXPECT_EQ(stored, 3.0 * scale_powers[exponent_of(p)]);
  KLIGETRHS(&stored, 0, 0);
  EXPECT_EQ(stored, 100.0 * scale_powers[exponent_of(r)]);
  EXPECT_EQ(real_array(ARR_WORK_RHS)[r], stored);
}

// ---------------------------------------------------------------------------
// Column types.

TEST_F(ChangeTest, ColumnTypesAddAndRemoveEntities) {
  Problem p = base_lp();
  load(p);
  const int32_t position = column_position(1);
  ASSERT_NE(exponent_of(position), kNeutralScaleExponent);
  const int32_t cols[] = {1, 2, 3};
  const char letters[] = {'B', 'I', 'C'};
  ASSERT_EQ(KLCHGCOLTYPE(3, cols, letters), 0);
  // The new binary is unscaled: its stored cost is the caller's.
  EXPECT_EQ(exponent_of(position), kNeutralScaleExponent);
  double cost = 0.0;
  KLIGETOBJ(&cost, 1, 1);
  EXPECT_EQ(cost, 2.0);
  int32_t entities = 0;
  int32_t sets = 0;
  char types[4] = {};
  int32_t columns[4] = {};
  ASSERT_EQ(KLGETGLOBAL(&entities, &sets, types, columns, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(entities, 2);
  EXPECT_EQ(std::string(types, 2), "BI");
  EXPECT_EQ(columns[0], 1);
  EXPECT_EQ(columns[1], 2);

  // The integer keeps its negative lower bound, as an integer loaded so.
  p.entity_types = "BI";
  p.entity_columns = {1, 2};
  p.columns[1].upper = 1.0;
  const Snapshot edited = snapshot();
  load(p);
  expect_same(edited, snapshot());

  const int32_t back[] = {1};
  const char continuous[] = {'C'};
  ASSERT_EQ(KLCHGCOLTYPE(1, back, continuous), 0);
  ASSERT_EQ(KLGETGLOBAL(&entities, &sets, types, columns, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(entities, 1);
  EXPECT_EQ(types[0], 'I');
  EXPECT_EQ(columns[0], 2);
  EXPECT_EQ(status_word(position) & (PS_ENTITY | PS_BINARY), 0u);
}

TEST_F(ChangeTest, ColumnTypesAreRefusedDuringAGlobalSearch) {
  load(base_lp());
  problem_flags |= PF_SEARCH_RUNNING;
  const int32_t cols[] = {0};
  const char letters[] = {'I'};
  EXPECT_EQ(KLCHGCOLTYPE(1, cols, letters), 32);
  EXPECT_EQ(error_number, 430);
  problem_flags &= ~PF_SEARCH_RUNNING;
  EXPECT_EQ(nglent, 0);
}

TEST_F(ChangeTest, ASetMemberThatIsNoEntityCannotChangeType) {
  std::vector<int32_t> starts{0, 2, 4, 6, 8};
  const int32_t rows[] = {0, 1, 0, 1, 1, 2, 0, 2};
  const double values[] = {1000, 1, 2, 0.01, 3, 1, 1, 100};
  const double rhs[] = {2000, 40, 10};
  const double cost[] = {1, 2, -1, 0.5};
  const double lower[] = {0, 0, -5, 0};
  const double upper[] = {10, kInf, 8, 50};
  const char set_types[] = {'1'};
  const int32_t set_starts[] = {0, 2};
  const int32_t set_columns[] = {1, 3};
  const double refs[] = {1.0, 2.0};
  ASSERT_EQ(KLLOADGLOBAL(name("sets").c_str(), 4, 3, "ELG", rhs, nullptr, cost, starts.data(), nullptr, rows, values,
                         lower, upper, 0, 1, nullptr, nullptr, nullptr, set_types, set_starts, set_columns, refs),
            0);
  const int32_t cols[] = {1};
  const char letters[] = {'I'};
  EXPECT_EQ(KLCHGCOLTYPE(1, cols, letters), 32);
  EXPECT_EQ(error_number, 55);
  EXPECT_EQ(nglent, 1);
}

TEST_F(ChangeTest, FixingAColumnOfAGlobalProblemLeavesItToTheSearch) {
  Problem p = base_lp();
  p.entity_types = "I";
  p.entity_columns = {2};
  load(p);
  const int32_t fixed = column_position(3);
  const int32_t cols[] = {3, 2};
  const char both[] = {'B', 'B'};
  const double values[] = {4.0, 3.0};
  ASSERT_EQ(KLCHGBDS(2, cols, both, values), 0);
  // With entities a fixed column is marked for the search, its objective
  // contribution carried in the fixed objective constant.
  EXPECT_EQ(status_word(fixed) & (PS_FIXED | PS_SEARCH_FIXED), PS_SEARCH_FIXED);
  EXPECT_DOUBLE_EQ(dcv(kFixedObjectiveConstantSlot), 4.0 * 0.5 + 3.0 * -1.0);
  // The entity's integer copies follow its bounds.
  EXPECT_EQ(int_array(ARR_ENTITY_ROOT_LOWER)[1], 3);
  EXPECT_EQ(int_array(ARR_ENTITY_ROOT_UPPER)[1], 3);
  const int32_t again[] = {3};
  const char up[] = {'U'};
  const double five[] = {5.0};
  ASSERT_EQ(KLCHGBDS(1, again, up, five), 0);
  EXPECT_EQ(status_word(fixed) & (PS_FIXED | PS_SEARCH_FIXED), 0u);
  EXPECT_DOUBLE_EQ(dcv(kFixedObjectiveConstantSlot), 3.0 * -1.0);
}

// ---------------------------------------------------------------------------
// The quadratic objective.

Problem base_qp() {
  Problem p;
  p.row_types = "LG";
  p.rhs = {10, 1};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}}, 0, 10, -4.0},
      {{{0, 1.0}}, 0, 10, -2.0},
      {{{0, 2.0}, {1, 1.0}}, 0, 10, 1.0},
      {{{1, 1.0}}, 0, 10, 0.0},
      {{{0, 1.0}}, 0, 10, -1.0},
      {{{1, 3.0}}, 0, 10, 0.0},
  };
  p.quadratic = {{0, 0, 2.0}, {0, 1, 0.5}, {1, 1, 1.0}};
  return p;
}

double qobj(int32_t a, int32_t b) {
  double v = -1.0;
  EXPECT_EQ(KLGETQOBJ(a, b, &v), 0);
  return v;
}

// The stored lists against those of a fresh load, entry by entry.
struct QuadraticImage {
  std::vector<int32_t> upper_start, lower_start, index;
  std::vector<double> value;
  int32_t count = 0;
  std::vector<uint32_t> quadratic_bits;
};

QuadraticImage quadratic_image() {
  QuadraticImage q;
  q.count = nqelem;
  for (int32_t j = store.first_col; j <= nseq + 1; ++j) {
    q.upper_start.push_back(int_array(ARR_QUAD_UPPER_START)[j]);
    q.lower_start.push_back(int_array(ARR_QUAD_LOWER_START)[j]);
  }
  for (int32_t k = 1; k <= nqelem; ++k) {
    q.index.push_back(int_array(ARR_QUAD_INDEX)[k]);
    q.value.push_back(real_array(ARR_QUAD_VALUES)[k]);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) q.quadratic_bits.push_back(status_word(j) & PS_QUADRATIC);
  return q;
}

void expect_same(const QuadraticImage& got, const QuadraticImage& want) {
  EXPECT_EQ(got.count, want.count);
  EXPECT_EQ(got.upper_start, want.upper_start);
  EXPECT_EQ(got.lower_start, want.lower_start);
  EXPECT_EQ(got.index, want.index);
  EXPECT_EQ(got.value, want.value);
  EXPECT_EQ(got.quadratic_bits, want.quadratic_bits);
}

TEST_F(ChangeTest, QuadraticChangesGiveTheListsOfAFreshLoad) {
  Problem p = base_qp();
  load(p);
  // A new pair, a diagonal, an overwrite, a removal, a pair given twice (the
  // last value wins) and a zero for an absent pair.
  const std::vector<int32_t> first = {2, 3, 1, 0, 5, 4, 2, 4};
  const std::vector<int32_t> second = {5, 3, 0, 0, 2, 1, 5, 4};
  const std::vector<double> values = {1.5, 4.0, 0.75, 0.0, 9.0, 0.0, 2.5, 0.0};
  ASSERT_EQ(KLCHGMQOBJ(first.data(), second.data(), values.data(), static_cast<int32_t>(first.size())), 0);
  EXPECT_EQ(qobj(5, 2), 2.5);
  EXPECT_EQ(qobj(2, 5), 2.5);
  EXPECT_EQ(qobj(3, 3), 4.0);
  EXPECT_EQ(qobj(0, 0), 0.0);
  EXPECT_EQ(qobj(0, 1), 0.75);
  const QuadraticImage edited = quadratic_image();

  p.quadratic = {{0, 1, 0.75}, {1, 1, 1.0}, {2, 5, 2.5}, {3, 3, 4.0}};
  load(p);
  expect_same(edited, quadratic_image());
}

TEST_F(ChangeTest, QuadraticObjectiveCreatedOnALinearProblemAndSolved) {
  Problem p = base_qp();
  p.quadratic.clear();
  load(p);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(KLCHGQOBJ(0, 0, 2.0), 0);
  EXPECT_EQ(problem_flags & PF_SOLUTION_CURRENT, 0);
  EXPECT_EQ(block_words(array_cells[ARR_QUAD_INDEX]), 1 + 100) << "room for 100 more entries";
  const int32_t first[] = {1, 0};
  const int32_t second[] = {0, 1};
  const double values[] = {7.0, 0.5};
  ASSERT_EQ(KLCHGMQOBJ(first, second, values, 2), 0);
  ASSERT_EQ(KLCHGQOBJ(1, 1, 1.0), 0);
  EXPECT_EQ(nqelem, 4);
  const QuadraticImage edited = quadratic_image();
  ASSERT_EQ(KLMINIM("p"), 0);
  const int32_t status = lp_status_value();
  const double objective = objective_value();

  p.quadratic = base_qp().quadratic;
  load(p);
  expect_same(edited, quadratic_image());
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(status, lp_status_value());
  EXPECT_EQ(status, 1);
  expect_close(objective, objective_value(), "quadratic objective");
}

TEST_F(ChangeTest, QuadraticColumnsAreUnscaledBeforeTheyGetEntries) {
  load(base_lp());
  const int32_t p = column_position(1);
  ASSERT_NE(exponent_of(p), kNeutralScaleExponent);
  const Snapshot before = snapshot();
  ASSERT_EQ(KLCHGQOBJ(1, 3, 1.25), 0);
  EXPECT_EQ(exponent_of(p), kNeutralScaleExponent);
  EXPECT_EQ(exponent_of(column_position(3)), kNeutralScaleExponent);
  EXPECT_NE(status_word(p) & PS_QUADRATIC, 0u);
  expect_same(snapshot(), before);
  double cost = 0.0;
  KLIGETOBJ(&cost, 1, 1);
  EXPECT_EQ(cost, 2.0);
  EXPECT_EQ(real_array(ARR_QUAD_VALUES)[1], 1.25);
}

TEST_F(ChangeTest, RemovingAQuadraticColumnRenumbersTheRest) {
  Problem p = base_qp();
  p.quadratic = {{0, 0, 2.0}, {0, 1, 0.5}, {1, 1, 1.0}, {1, 3, 6.0}, {2, 4, 7.0}};
  load(p);
  remove_quadratic_column(column_position(1));
  ASSERT_EQ(status_code, 0);
  // Column 0 keeps its diagonal; columns 2, 3 and 4 now sit one place lower.
  p.quadratic = {{0, 0, 2.0}, {1, 3, 7.0}};
  const QuadraticImage removed = quadratic_image();
  load(p);
  QuadraticImage fresh = quadratic_image();
  // The status words did not move here: compare the lists only.
  fresh.quadratic_bits = removed.quadratic_bits;
  expect_same(removed, fresh);
}

TEST_F(ChangeTest, QuadraticEditorChecksItsProblemAndIndicesFirst) {
  const int32_t a[] = {0};
  const double v[] = {1.0};
  EXPECT_EQ(KLCHGMQOBJ(a, a, v, 1), 32);
  EXPECT_EQ(KLCHGQOBJ(0, 0, 1.0), 32);
  load(base_qp());
  const QuadraticImage before = quadratic_image();
  const int32_t first[] = {0, 2, 1};
  const int32_t second[] = {3, 2, 6};
  const double values[] = {1.0, 2.0, 3.0};
  EXPECT_EQ(KLCHGMQOBJ(first, second, values, 3), 32);
  EXPECT_EQ(error_number, 131);
  EXPECT_EQ(error_value, 6);
  expect_same(quadratic_image(), before);
  problem_flags |= PF_PRESOLVED_LP;
  EXPECT_EQ(KLCHGQOBJ(0, 0, 1.0), 32);
  problem_flags &= ~PF_PRESOLVED_LP;
  expect_same(quadratic_image(), before);
}

}  // namespace
