// The undo of each presolve record type on small LPs reduced by hand: the
// reduced LP is solved, its solution and basis are carried into the original
// positions as postsolve carries them, the records are undone, and the
// result is checked as an outsider would: rows and columns within their
// limits, the objective of the unreduced solve, reduced costs whose signs
// fit the statuses, and a basis from which the simplex needs no iteration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "klsol32.h"
#include "presolve/postsolve.h"
#include "presolve/postsolve_undo.h"
#include "presolve/record_stack.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/small_lps.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using namespace kltest;

constexpr double kTight = 1e-9;

// What the reduced LP's solve leaves, by its own positions.
struct ReducedSolution {
  int32_t rows = 0;
  int32_t first_col = 0;
  std::vector<int32_t> status;
  std::vector<int32_t> header;
  std::vector<double> x;
  std::vector<double> d;
};

// Original positions the records name: rows from 0, columns from 0.
struct Positions {
  int32_t first_col = 0;
  int32_t row(int32_t r) const { return r + 1; }
  int32_t col(int32_t c) const { return first_col + c; }
};

struct HandCase {
  std::string name;
  Problem original;
  Problem reduced;
  std::vector<int32_t> row_map;     // reduced row -> original row
  std::vector<int32_t> column_map;  // reduced column -> original column
  std::function<void(const Positions&)> push;
  bool unique = true;  // the original optimum is unique: compare the values
};

void PrintTo(const HandCase& c, std::ostream* os) { *os << c.name; }

bool push(std::initializer_list<int32_t> ints, std::initializer_list<double> reals) {
  return push_presolve_record(ints, reals);
}

uint32_t status_of(int32_t k) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[k]); }

class PostsolveUndo : public LpSession {
 protected:
  void SetUp() override {
    LpSession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFSCAL, 0);
  }

  // Column values and objective of the unreduced solve.
  std::vector<double> solve_original(const Problem& p, double& objective) {
    EXPECT_EQ(load(p), 0);
    EXPECT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
    std::vector<double> x(p.ncols());
    KLSOLUTION(x.data(), nullptr, nullptr, nullptr);
    objective = objective_value();
    return x;
  }

  ReducedSolution solve_reduced(const Problem& p) {
    EXPECT_EQ(load(p), 0);
    EXPECT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
    ReducedSolution s;
    s.rows = nrow;
    s.first_col = store.first_col;
    s.status.assign(static_cast<size_t>(nseq) + 1, 0);
    s.x.assign(static_cast<size_t>(nseq) + 1, 0.0);
    s.d.assign(static_cast<size_t>(nseq) + 1, 0.0);
    s.header.assign(static_cast<size_t>(nrow) + 1, 0);
    for (int32_t k = 1; k <= nseq; ++k) {
      s.status[k] = int_array(ARR_POS_STATUS)[k];
      s.x[k] = real_array(ARR_X)[k];
      s.d[k] = real_array(ARR_REDUCED_COSTS)[k];
    }
    for (int32_t i = 1; i <= nrow; ++i) s.header[i] = int_array(ARR_BASIS_HEADER)[i];
    return s;
  }

  // Loads the original LP afresh and puts the reduced solution into its
  // positions as postsolve's mapping does (no scaling: factors of 1), with
  // the removed rows basic and the removed columns marked for the records.
  void carry_into_original(const HandCase& c, const ReducedSolution& s) {
    ASSERT_EQ(load(c.original), 0);
    build_row_copy();
    const auto map = [&](int32_t p) {
      if (p <= s.rows) return c.row_map[p - 1] + 1;
      return store.first_col + c.column_map[p - s.first_col];
    };
    postsolve_work.lp_values.assign(static_cast<size_t>(nseq) + 1, 0.0);
    postsolve_work.status_carry.assign(static_cast<size_t>(nseq) + 1, 0);
    postsolve_work.integral = 0;
    OneBased<double> y = real_array(ARR_REDUCED_COSTS);
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t k = 1; k <= nseq; ++k) y[k] = 0.0;
    for (int32_t i = 1; i <= nrow; ++i) {
      header[i] = i;
      postsolve_work.status_carry[i] = PS_BASIC;
    }
    for (int32_t j = store.first_col; j <= nseq; ++j) postsolve_work.status_carry[j] = CARRY_NOT_RESTORED;
    for (int32_t i = 1; i <= s.rows; ++i) {
      y[map(i)] = s.d[i];
      header[map(i)] = map(s.header[i]);
      postsolve_work.status_carry[map(i)] = s.status[i];
    }
    for (int32_t j = s.first_col; j < static_cast<int32_t>(s.x.size()); ++j) {
      postsolve_work.lp_values[map(j)] = s.x[j];
      postsolve_work.status_carry[map(j)] = s.status[j];
    }
  }

  // The outsider's checks on the rebuilt solution of the loaded original.
  void check_solution(const HandCase& c, const std::vector<double>& reference, double reference_objective) {
    const Problem& p = c.original;
    OneBased<double> x = real_array(ARR_X);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    double objective = 0.0;
    std::vector<double> activity(p.nrows(), 0.0);
    for (int32_t k = 0; k < p.ncols(); ++k) {
      const Column& col = p.columns[k];
      const double v = x[store.first_col + k];
      EXPECT_GE(v, col.lower - kTight) << "column " << k;
      EXPECT_LE(v, col.upper + kTight) << "column " << k;
      if (c.unique) {
        EXPECT_NEAR(v, reference[k], kTight) << "column " << k;
      }
      objective += col.cost * v;
      for (const auto& [r, a] : col.entries) activity[r] += a * v;
    }
    EXPECT_NEAR(objective, reference_objective, kTight);
    for (int32_t r = 0; r < p.nrows(); ++r) {
      const char type = p.row_types[r];
      const double b = p.rhs[r];
      const double range = p.ranges.empty() ? 0.0 : p.ranges[r];
      if (type == 'G' || type == 'E') {
        EXPECT_GE(activity[r], b - kTight) << "row " << r;
      }
      if (type == 'L' || type == 'E') {
        EXPECT_LE(activity[r], b + kTight) << "row " << r;
      }
      if (type == 'R') {
        EXPECT_LE(activity[r], b + kTight) << "row " << r;
        EXPECT_GE(activity[r], b - range - kTight) << "row " << r;
      }
    }
    int32_t basic = 0;
    for (int32_t k = 1; k <= nseq; ++k) {
      if (k > nrow && k < store.first_col) continue;
      const uint32_t s = status_of(k);
      if ((s & PS_BASIC) != 0) {
        ++basic;
        if (k >= store.first_col) {
          EXPECT_NEAR(d[k], 0.0, kTight) << "position " << k;
        }
        continue;
      }
      if ((s & PS_FIXED) != 0) continue;
      if ((s & PS_AT_UPPER) != 0) {
        EXPECT_LE(d[k], kTight) << "position " << k << " at upper";
      } else if ((s & PS_NONBASIC_BETWEEN) == 0) {
        EXPECT_GE(d[k], -kTight) << "position " << k << " at lower";
      }
    }
    EXPECT_EQ(basic, nrow);
  }

  // The rebuilt basis, loaded into a fresh copy of the original LP, is
  // optimal as it stands.
  void check_basis_resolves(const HandCase& c, double reference_objective) {
    std::vector<int32_t> rows(nrow);
    std::vector<int32_t> columns(nseq - store.first_col + 1);
    const auto code = [](uint32_t s) { return (s & PS_BASIC) != 0 ? 1 : ((s & PS_AT_UPPER) != 0 ? 2 : 0); };
    for (int32_t i = 1; i <= nrow; ++i) rows[i - 1] = code(status_of(i));
    for (int32_t j = store.first_col; j <= nseq; ++j) columns[j - store.first_col] = code(status_of(j));
    ASSERT_EQ(load(c.original), 0);
    ASSERT_EQ(KLLOADBASIS(rows.data(), columns.data()), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
    EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
    EXPECT_NEAR(objective_value(), reference_objective, kTight);
  }

  // The reduced LP solved and carried into the original, records pushed.
  void prepare(const HandCase& c) {
    const ReducedSolution reduced = solve_reduced(c.reduced);
    carry_into_original(c, reduced);
    c.push(Positions{store.first_col});
  }

  void run(const HandCase& c) {
    double reference_objective = 0.0;
    const std::vector<double> reference = solve_original(c.original, reference_objective);
    const ReducedSolution reduced = solve_reduced(c.reduced);
    carry_into_original(c, reduced);
    Positions at{store.first_col};
    c.push(at);
    int32_t no_basis = 0;
    rebuild_original_solution(1, no_basis);
    EXPECT_EQ(status_code, 0);
    EXPECT_EQ(presolve_int_top, 0);
    EXPECT_EQ(presolve_real_top, 0);
    check_solution(c, reference, reference_objective);
    check_basis_resolves(c, reference_objective);
  }
};

Column col(std::vector<std::pair<int32_t, double>> entries, double lower, double upper, double cost) {
  Column c;
  c.entries = std::move(entries);
  c.lower = lower;
  c.upper = upper;
  c.cost = cost;
  return c;
}

std::vector<HandCase> hand_cases() {
  std::vector<HandCase> cases;
  {
    // s is row 0's slack: x1 + x2 + s = 4, s in [0, 1], no cost; the row
    // becomes 3 <= x1 + x2 <= 4 and s leaves at its upper bound.
    HandCase c;
    c.name = "column_singleton";
    c.original.row_types = "E";
    c.original.rhs = {4};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2), col({{0, 1}}, 0, 1, 0)};
    c.reduced.row_types = "R";
    c.reduced.rhs = {4};
    c.reduced.ranges = {1};
    c.reduced.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2)};
    c.row_map = {0};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({at.col(2), at.row(0), 1}, {4.0, 1.0, 1.0, 0.0}); };
    cases.push_back(c);
  }
  {
    // x1 + x2 <= 0 forces both to 0; x1 also sits in x1 + x3 >= 2.
    HandCase c;
    c.name = "forcing_row";
    c.original.row_types = "LG";
    c.original.rhs = {0, 2};
    c.original.columns = {col({{0, 1}, {1, 1}}, 0, kInf, 1), col({{0, 1}}, 0, kInf, 1), col({{1, 1}}, 0, kInf, 1)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {2};
    c.reduced.columns = {col({{0, 1}}, 0, kInf, 1)};
    c.row_map = {1};
    c.column_map = {2};
    c.push = [](const Positions& at) {
      push({at.col(0)}, {0.0, 1.0});
      push({at.col(1)}, {0.0, 1.0});
      push({2, 2, at.row(0), 2}, {});
    };
    cases.push_back(c);
  }
  {
    // x1 <= 2 as a row becomes x1's upper bound; x1 ends at it, so the row
    // binds with x1 basic in it.
    HandCase c;
    c.name = "row_singleton";
    c.original.row_types = "GL";
    c.original.rhs = {3, 2};
    c.original.columns = {col({{0, 1}, {1, 1}}, 0, 10, 1), col({{0, 1}}, 0, kInf, 2)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {3};
    c.reduced.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2)};
    c.row_map = {0};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({at.row(1), at.col(0), 2, 3}, {1.0, 2.0}); };
    cases.push_back(c);
  }
  {
    // x3 only hurts (cost 3, coefficient -1 in a >= row): out at its lower
    // bound.
    HandCase c;
    c.name = "column_at_bound";
    c.original.row_types = "G";
    c.original.rhs = {3};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2), col({{0, -1}}, 0, 5, 3)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {3};
    c.reduced.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2)};
    c.row_map = {0};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({at.col(2), 1, 4}, {0.0}); };
    cases.push_back(c);
  }
  {
    // x3 costs nothing and only helps its row: row and column go; x3 comes
    // back as far as the row needs.
    HandCase c;
    c.name = "dominated_column";
    c.unique = false;
    c.original.row_types = "G";
    c.original.rhs = {4};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2), col({{0, 1}}, 0, kInf, 0)};
    c.reduced.row_types = "N";
    c.reduced.rhs = {0};
    c.reduced.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, kInf, 2)};
    c.row_map = {0};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) {
      push({at.row(0)}, {4.0, 1.0});
      push({1, at.col(2), 2, 5}, {0.0});
    };
    cases.push_back(c);
  }
  {
    // Free x3 = 5 - x1 - x2 substituted out of the objective (the reduced
    // costs 2 x1 + x2 carry the constant 5 apart).
    HandCase c;
    c.name = "column_elimination";
    c.original.row_types = "EG";
    c.original.rhs = {5, 1};
    c.original.columns = {col({{0, 1}, {1, 1}}, 0, 3, 3), col({{0, 1}, {1, 1}}, 0, 3, 2),
                          col({{0, 1}}, -kInf, kInf, 1)};
    c.reduced.row_types = "NG";
    c.reduced.rhs = {0, 1};
    c.reduced.columns = {col({{1, 1}}, 0, 3, 2), col({{1, 1}}, 0, 3, 1)};
    c.row_map = {0, 1};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) {
      push({at.col(0), at.col(1), at.row(0), at.col(2), 0, 2, 0, 6}, {1.0, 1.0, 5.0, 1.0, 1.0});
    };
    cases.push_back(c);
  }
  {
    // x3 fixed at 1 leaves with its value.
    HandCase c;
    c.name = "fixed_column";
    c.original.row_types = "G";
    c.original.rhs = {4};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 10, 2), col({{0, 1}}, 1, 1, 3)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {3};
    c.reduced.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 10, 2)};
    c.row_map = {0};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({at.col(2), 7}, {1.0}); };
    cases.push_back(c);
  }
  {
    // -2 x1 - 2 x2 >= -10 is -2 times x1 + x2 >= 3: the kept row becomes
    // 3 <= x1 + x2 <= 5, and the removed row supplied the side that binds.
    HandCase c;
    c.name = "duplicate_row";
    c.original.row_types = "GG";
    c.original.rhs = {3, -10};
    c.original.columns = {col({{0, 1}, {1, -2}}, 0, 4, -1), col({{0, 1}, {1, -2}}, 0, 4, -2)};
    c.reduced.row_types = "RN";
    c.reduced.rhs = {5, 0};
    c.reduced.ranges = {2, 0};
    c.reduced.columns = {col({{0, 1}}, 0, 4, -1), col({{0, 1}}, 0, 4, -2)};
    c.row_map = {0, 1};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({at.row(0), at.row(1), at.row(1), at.row(0), 0, 8}, {-2.0}); };
    cases.push_back(c);
  }
  {
    // x1 and x2 are the same column: merged into one in [0, 4], which ends
    // at its upper bound.
    HandCase c;
    c.name = "duplicate_column_at_bound";
    c.original.row_types = "G";
    c.original.rhs = {5};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 10, 3)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {5};
    c.reduced.columns = {col({{0, 1}}, 0, 4, 1), col({{0, 1}}, 0, 10, 3)};
    c.row_map = {0};
    c.column_map = {0, 2};
    c.push = [](const Positions& at) {
      push({at.col(0), at.col(1), 0, 0, 9}, {1.0, 0.0, 2.0, 0.0, 2.0, 0.0});
    };
    cases.push_back(c);
  }
  {
    // The same merge, now basic inside its range: the value is split so that
    // both columns keep their bounds.
    HandCase c;
    c.name = "duplicate_column_basic_merge";
    c.unique = false;
    c.original.row_types = "G";
    c.original.rhs = {3};
    c.original.columns = {col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 2, 1), col({{0, 1}}, 0, 10, 3)};
    c.reduced.row_types = "G";
    c.reduced.rhs = {3};
    c.reduced.columns = {col({{0, 1}}, 0, 4, 1), col({{0, 1}}, 0, 10, 3)};
    c.row_map = {0};
    c.column_map = {0, 2};
    c.push = [](const Positions& at) {
      push({at.col(0), at.col(1), 0, 0, 9}, {1.0, 0.0, 2.0, 0.0, 2.0, 0.0});
    };
    cases.push_back(c);
  }
  {
    // 2 x3 = 4 alone in its row: x3 fixed at 2 and the row freed; x3 comes
    // back basic in it.
    HandCase c;
    c.name = "duplicate_column_basic";
    c.original.row_types = "EG";
    c.original.rhs = {4, 3};
    c.original.columns = {col({{1, 1}}, 0, 2, 1), col({{1, 1}}, 0, kInf, 2), col({{0, 2}}, 0, kInf, 1)};
    c.reduced.row_types = "NG";
    c.reduced.rhs = {0, 3};
    c.reduced.columns = {col({{1, 1}}, 0, 2, 1), col({{1, 1}}, 0, kInf, 2)};
    c.row_map = {0, 1};
    c.column_map = {0, 1};
    c.push = [](const Positions& at) { push({0, at.row(0), -at.col(2), 10}, {1.0, 2.0, 2.0}); };
    cases.push_back(c);
  }
  return cases;
}

class PostsolveRecordType : public PostsolveUndo, public ::testing::WithParamInterface<HandCase> {};

TEST_P(PostsolveRecordType, RebuildsAnOptimalSolutionAndBasisOfTheOriginalLp) { run(GetParam()); }

INSTANTIATE_TEST_SUITE_P(HandReduced, PostsolveRecordType, ::testing::ValuesIn(hand_cases()),
                         [](const ::testing::TestParamInfo<HandCase>& info) { return info.param.name; });

// Without a basis (an interior answer) every position of the reduced
// solution comes back between its bounds, and each record must read from
// the reduced costs where its columns rest. The check is the optimality
// certificate itself: values within their limits at the unreduced
// objective, reduced costs equal to the costs plus the duals' share, each
// pushing only against a bound its position has and rests on.
class PostsolveWithoutBasis : public PostsolveUndo, public ::testing::WithParamInterface<HandCase> {};

TEST_P(PostsolveWithoutBasis, RebuildsDualsThatCertifyTheOptimum) {
  const HandCase& c = GetParam();
  double reference_objective = 0.0;
  const std::vector<double> reference = solve_original(c.original, reference_objective);
  carry_into_original(c, solve_reduced(c.reduced));
  // As the values-only mapping leaves them: no position basic or at a bound.
  const auto between = [](int32_t& carry) {
    carry = static_cast<int32_t>((static_cast<uint32_t>(carry) & ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN)) |
                                 PS_NONBASIC_BETWEEN);
  };
  for (const int32_t r : c.row_map) between(postsolve_work.status_carry[static_cast<size_t>(r) + 1]);
  for (const int32_t j : c.column_map) between(postsolve_work.status_carry[static_cast<size_t>(store.first_col + j)]);
  c.push(Positions{store.first_col});
  int32_t no_basis = 1;
  rebuild_original_solution(1, no_basis);
  EXPECT_EQ(status_code, 0);

  const Problem& p = c.original;
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  double objective = 0.0;
  for (int32_t k = 0; k < p.ncols(); ++k) {
    const Column& column = p.columns[k];
    const int32_t j = store.first_col + k;
    EXPECT_GE(x[j], column.lower - kTight) << "column " << k;
    EXPECT_LE(x[j], column.upper + kTight) << "column " << k;
    if (c.unique) {
      EXPECT_NEAR(x[j], reference[k], kTight) << "column " << k;
    }
    objective += column.cost * x[j];
    double expected = column.cost;
    for (const auto& [r, a] : column.entries) expected += d[r + 1] * a;
    EXPECT_NEAR(d[j], expected, kTight) << "column " << k;
  }
  EXPECT_NEAR(objective, reference_objective, kTight);
  for (int32_t k = 1; k <= nseq; ++k) {
    if ((k > nrow && k < store.first_col) || lower[k] == upper[k]) continue;
    if (d[k] > kTight) {
      EXPECT_LT(-kInfiniteBound, lower[k]) << "position " << k << " leans on a lower bound it lacks";
      EXPECT_NEAR(x[k], lower[k], kTight) << "position " << k << " leans on a lower bound it is off";
    } else if (d[k] < -kTight) {
      EXPECT_LT(upper[k], kInfiniteBound) << "position " << k << " leans on an upper bound it lacks";
      EXPECT_NEAR(x[k], upper[k], kTight) << "position " << k << " leans on an upper bound it is off";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HandReduced, PostsolveWithoutBasis, ::testing::ValuesIn(hand_cases()),
                         [](const ::testing::TestParamInfo<HandCase>& info) { return info.param.name; });

HandCase case_named(const std::string& name) {
  for (const HandCase& c : hand_cases())
    if (c.name == name) return c;
  return HandCase{};
}

// x3 (integer, no cost) alone keeps x1 + x2 + 2 x3 >= 5 satisfied; in an
// integer solution it must come back integral, rounded the way it may move
// freely, and the row it no longer meets exactly stays basic.
class DominatedIntegerColumn : public PostsolveUndo, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DominatedIntegerColumn, ComesBackIntegralOnlyInAnIntegerSolution) {
  const int32_t integral = GetParam();
  HandCase c = case_named("dominated_column");
  c.original.columns[2].entries = {{0, 2.0}};
  c.original.rhs = {5};
  c.original.entity_types = "I";
  c.original.entity_columns = {2};
  c.push = [](const Positions& at) {
    push({at.row(0)}, {5.0, 2.0});
    push({1, at.col(2), 2, 5}, {0.0});
  };
  prepare(c);
  postsolve_work.integral = integral;
  int32_t no_basis = 0;
  rebuild_original_solution(1, no_basis);
  const int32_t x3 = store.first_col + 2;
  const double expected = integral != 0 ? 3.0 : 2.5;
  EXPECT_DOUBLE_EQ(real_array(ARR_X)[x3], expected);
  EXPECT_GE(2.0 * real_array(ARR_X)[x3], 5.0);
  EXPECT_EQ((status_of(x3) & PS_BASIC) != 0, integral == 0);
  EXPECT_EQ((status_of(1) & PS_BASIC) != 0, integral != 0);
}

INSTANTIATE_TEST_SUITE_P(Postsolve, DominatedIntegerColumn, ::testing::Values(0, 1));

// An integer column substituted through its row comes back from the row,
// where rounding in the right-hand side can leave it a hair off its integer
// value: an integer solution gets the integer back, an LP solution keeps
// what the row gives.
class EliminatedIntegerColumn : public PostsolveUndo, public ::testing::WithParamInterface<int32_t> {};

TEST_P(EliminatedIntegerColumn, ComesBackIntegralOnlyInAnIntegerSolution) {
  const int32_t integral = GetParam();
  constexpr double kOff = 3e-7;
  HandCase c = case_named("column_elimination");
  c.original.entity_types = "I";
  c.original.entity_columns = {2};
  c.push = [](const Positions& at) {
    push({at.col(0), at.col(1), at.row(0), at.col(2), 0, 2, 0, 6}, {1.0, 1.0, 5.0 + kOff, 1.0, 1.0});
  };
  prepare(c);
  postsolve_work.integral = integral;
  int32_t no_basis = 0;
  rebuild_original_solution(1, no_basis);
  // x2 = 1 at the reduced optimum, so x3 = 5 - 1.
  const double x3 = real_array(ARR_X)[store.first_col + 2];
  EXPECT_DOUBLE_EQ(x3, integral != 0 ? 4.0 : 4.0 + kOff);
}

INSTANTIATE_TEST_SUITE_P(Postsolve, EliminatedIntegerColumn, ::testing::Values(0, 1));

// The entity split (type 12) by the state k ends in: z follows from k's
// value, and the bound row k sits on (ra for its threshold, rb for its
// upper value) leaves the basis.
TEST_F(PostsolveUndo, EntitySplitGivesTheIndicatorItsValue) {
  constexpr double kThreshold = 2.0, kUpper = 6.0, kCoefficient = 4.0, kIndicatorCost = 8.0;
  constexpr uint32_t kSides = PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN;
  struct Case {
    const char* name;
    uint32_t k_state;  // PS_BASIC, PS_AT_UPPER or 0 (at lower)
    double xk;
    double xz;
    uint32_t z_state, new_k_state;
    bool ra_basic, rb_basic;
  } cases[] = {
      {"basic_above_threshold", PS_BASIC, 3.0, 1.0, PS_AT_UPPER, PS_BASIC, true, true},
      {"basic_below_threshold", PS_BASIC, 1.0, 0.5, PS_BASIC, PS_BASIC, false, true},
      {"basic_at_zero", PS_BASIC, 0.0, 0.0, 0, PS_BASIC, true, true},
      {"at_its_threshold", 0, kThreshold, 1.0, PS_AT_UPPER, PS_BASIC, false, true},
      {"at_its_upper_value", PS_AT_UPPER, kUpper, 1.0, PS_AT_UPPER, PS_BASIC, true, false},
      {"at_upper_at_zero", PS_AT_UPPER, 0.0, 0.0, 0, PS_BASIC, true, false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    prepare(case_named("column_elimination"));
    clear_presolve_stack();
    const int32_t ra = 1, rb = 2, k = store.first_col, z = store.first_col + 1;
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    status[k] = static_cast<int32_t>((status_of(k) & ~kSides) | t.k_state);
    status[z] = static_cast<int32_t>(status_of(z) & ~kSides);
    for (const int32_t r : {ra, rb}) status[r] = static_cast<int32_t>(status_of(r) | PS_BASIC);
    postsolve_work.lp_values[k] = t.xk;
    postsolve_work.lp_values[z] = 0.0;
    d[z] = kIndicatorCost;
    d[rb] = 0.0;
    ASSERT_TRUE(push({z, k, ra, rb, 12}, {kThreshold, kUpper, kCoefficient}));
    ASSERT_TRUE(undo_presolve_records());
    EXPECT_DOUBLE_EQ(postsolve_work.lp_values[z], t.xz);
    EXPECT_EQ(status_of(z) & kSides, t.z_state);
    EXPECT_EQ(status_of(k) & kSides, t.new_k_state);
    EXPECT_EQ((status_of(ra) & PS_BASIC) != 0, t.ra_basic);
    EXPECT_EQ((status_of(rb) & PS_BASIC) != 0, t.rb_basic);
    if (!t.rb_basic && t.xk > 0.0) {
      EXPECT_DOUBLE_EQ(d[rb], kIndicatorCost / kCoefficient) << "the dual of rb";
    }
  }
}

// A record that cannot be read is an internal error: message 968 and status
// 32, never taken for another type; nothing below it is read.
struct BadRecord {
  const char* name;
  std::function<void(const Positions&)> push;
  int32_t reported_type;
};
void PrintTo(const BadRecord& b, std::ostream* os) { *os << b.name; }

class UnreadableRecord : public PostsolveUndo, public ::testing::WithParamInterface<BadRecord> {};

TEST_P(UnreadableRecord, IsAnInternalErrorThatEmptiesTheStack) {
  const HandCase c = case_named("fixed_column");
  prepare(c);
  GetParam().push(Positions{store.first_col});
  captured_lines().clear();
  // Messages go out as inside an export call.
  const int32_t kept_ifpmsg = icv(ic::IFPMSG);
  icv(ic::IFPMSG) = 1;
  int32_t no_basis = 0;
  rebuild_original_solution(1, no_basis);
  icv(ic::IFPMSG) = kept_ifpmsg;
  EXPECT_EQ(status_code, 32);
  EXPECT_EQ(presolve_int_top, 0);
  EXPECT_EQ(presolve_real_top, 0);
  const std::string type = " " + std::to_string(GetParam().reported_type) + " at stack entry";
  EXPECT_TRUE(any_line_contains("cannot be undone"));
  EXPECT_TRUE(any_line_contains(type)) << type;
  EXPECT_EQ(error_number, 968);
  // The fixed column below was not undone as anything.
  EXPECT_NE(postsolve_work.status_carry[store.first_col + 2] & CARRY_NOT_RESTORED, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Postsolve, UnreadableRecord,
    ::testing::Values(BadRecord{"type_14", [](const Positions& at) { push({at.col(0), 14}, {1.0}); }, 14},
                      BadRecord{"type_0", [](const Positions&) { push({0}, {}); }, 0},
                      BadRecord{"list_longer_than_the_stack",
                                [](const Positions& at) { push({50, -at.col(1), 7}, {0.5, 1.0}); }, 7},
                      BadRecord{"position_outside_the_problem",
                                [](const Positions&) { push({100000, 4}, {0.0}); }, 4}),
    [](const ::testing::TestParamInfo<BadRecord>& info) { return std::string(info.param.name); });

// In keep mode a row singleton whose column had a bound changed by the
// entity presolve leaves the basis as it is; a final postsolve binds the row.
TEST_F(PostsolveUndo, RowSingletonKeepsTheBasisOfAColumnWithAChangedBoundInKeepMode) {
  for (const int32_t keep : {1, 0}) {
    HandCase c = case_named("row_singleton");
    const auto singleton = c.push;
    c.push = [singleton](const Positions& at) {
      singleton(at);
      push({at.col(0), 11}, {2.0});
    };
    prepare(c);
    int32_t no_basis = 0;
    rebuild_original_solution(keep, no_basis);
    const int32_t x1 = store.first_col;
    EXPECT_EQ((status_of(x1) & PS_BASIC) != 0, keep == 0) << "keep " << keep;
    EXPECT_EQ((status_of(2) & PS_BASIC) != 0, keep == 1) << "keep " << keep;
    EXPECT_NE(postsolve_work.status_carry[x1] & CARRY_BOUND_CHANGED, 0);
    EXPECT_DOUBLE_EQ(real_array(ARR_X)[x1], 2.0);
  }
}

// Without a presolved problem postsolve does nothing, and a reader of the
// original solution reads the problem as it is.
TEST_F(PostsolveUndo, DoesNothingWithoutAPresolvedProblem) {
  double objective = 0.0;
  solve_original(production(), objective);
  const int32_t flags = problem_flags;
  const std::vector<double> x(real_array(ARR_X).data(), real_array(ARR_X).data() + nseq);
  int32_t no_basis = 0;
  postsolve(0, no_basis);
  EXPECT_EQ(problem_flags, flags);
  EXPECT_EQ(no_basis, 0);
  int32_t reads = 0;
  read_original_solution([&]() { ++reads; });
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(std::vector<double>(real_array(ARR_X).data(), real_array(ARR_X).data() + nseq), x);
}

}  // namespace
