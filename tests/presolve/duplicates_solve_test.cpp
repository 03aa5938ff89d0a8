// The passes after the reduction rounds, each on its own, through KLMINIM:
// parallel rows, parallel columns and the elimination with fill-in. The
// presolved solve, once postsolved, must be an optimum of the problem as
// loaded: rows and bounds met, reduced costs that fit the statuses, the
// objective of the unpresolved solve (and its values where the optimum is
// unique), and a basis from which the simplex needs no iteration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "simplex/caller_solution_check.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kltest;

// IPSLCT switches: parallel columns, parallel rows, the elimination.
constexpr int32_t kParallelColumns = 0x20;
constexpr int32_t kParallelRows = 0x40;
constexpr int32_t kEliminate = 0x100;

struct PassCase {
  std::string name;
  Problem problem;
  int32_t ipslct;       // only these passes run
  bool unique = true;   // compare the values, not only the objective
};

class DuplicatesSolve : public LpSession, public ::testing::WithParamInterface<PassCase> {
 protected:
  // Solved as loaded: objective and values.
  void solve_plain(const Problem& p, double& objective, std::vector<double>& x) {
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    ASSERT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
    objective = objective_value();
    CallerSolution s(p.nrows(), p.ncols());
    ASSERT_EQ(s.fetch(), 0);
    x = s.x;
  }
};

TEST_P(DuplicatesSolve, PostsolvedOptimumIsThatOfTheLoadedProblem) {
  const PassCase& c = GetParam();
  double objective = 0.0;
  std::vector<double> plain_x;
  ASSERT_NO_FATAL_FAILURE(solve_plain(c.problem, objective, plain_x));

  KLSETICV(KLIC_IFPRES, 1);
  KLSETICV(KLIC_IPSLCT, c.ipslct);
  // The rounds stay out of the way, but the elimination runs inside them.
  KLSETICV(KLIC_NRPASS, (c.ipslct & kEliminate) != 0 ? 1 : 0);
  KLSETICV(KLIC_NEXTRA, (c.ipslct & kEliminate) != 0 ? 100 : 0);
  ASSERT_EQ(load(c.problem), 0);
  captured_lines().clear();
  ASSERT_EQ(KLMINIM(""), 0);
  int32_t rows = -1, columns = -1;
  for (const CapturedLine& line : captured_lines())
    if (line.text.find("Presolved problem") != std::string::npos)
      std::sscanf(line.text.c_str(), "%*[^:]: %d rows, %d columns", &rows, &columns);
  EXPECT_LT(rows + columns, c.problem.nrows() + c.problem.ncols()) << "the pass reduced nothing";
  ASSERT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_NEAR(objective_value(), objective, 1e-9);
  CallerProblem original;
  original.read();
  CallerSolution s(c.problem.nrows(), c.problem.ncols());
  ASSERT_EQ(s.fetch(), 0);
  const CallerCheck check = check_caller_solution(original, s, 1.0);
  EXPECT_TRUE(check.ok(1e-9)) << check.report();
  if (c.unique) {
    for (size_t j = 0; j < plain_x.size(); ++j) EXPECT_NEAR(s.x[j], plain_x[j], 1e-9) << "column " << j;
  }

  std::vector<int32_t> row_basis(static_cast<size_t>(c.problem.nrows()));
  std::vector<int32_t> column_basis(static_cast<size_t>(c.problem.ncols()));
  ASSERT_EQ(KLGETBASIS(row_basis.data(), column_basis.data()), 0);
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(load(c.problem), 0);
  ASSERT_EQ(KLLOADBASIS(row_basis.data(), column_basis.data()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(objective_value(), objective, 1e-9);
}

Column col(std::vector<std::pair<int32_t, double>> entries, double lower, double upper, double cost) {
  return Column{std::move(entries), lower, upper, cost};
}

std::vector<PassCase> pass_cases() {
  std::vector<PassCase> cases;
  {
    // x + 2y <= 8 and the tighter 2x + 4y <= 12: the looser row leaves.
    Problem p;
    p.row_types = "LLG";
    p.rhs = {8, 12, -2};
    p.columns = {col({{0, 1.0}, {1, 2.0}, {2, 1.0}}, 0, 10, -1), col({{0, 2.0}, {1, 4.0}, {2, -1.0}}, 0, 10, -1)};
    cases.push_back({"rows_looser_leaves", p, kParallelRows});
  }
  {
    // x + y <= 4 and -x - y <= -1: the first becomes 1 <= x + y <= 4, and
    // the lower limit the removed row supplied binds at the optimum.
    Problem p;
    p.row_types = "LLL";
    p.rhs = {4, -1, 9};
    p.columns = {col({{0, 1.0}, {1, -1.0}, {2, 1.0}}, 0, 10, 1), col({{0, 1.0}, {1, -1.0}, {2, 3.0}}, 0, 10, 2)};
    cases.push_back({"rows_removed_row_binds", p, kParallelRows});
  }
  {
    // x + y <= 4 and 2x + 2y >= 8: one equality row.
    Problem p;
    p.row_types = "LGL";
    p.rhs = {4, 8, 9};
    p.columns = {col({{0, 1.0}, {1, 2.0}, {2, 1.0}}, 0, 10, 1), col({{0, 1.0}, {1, 2.0}, {2, 3.0}}, 0, 10, 2)};
    cases.push_back({"rows_meet_in_a_point", p, kParallelRows});
  }
  {
    // Two equal columns with equal costs: merged into one with bounds
    // [0, 8]; the optimum splits them in more than one way.
    Problem p;
    p.row_types = "GL";
    p.rhs = {7, 20};
    p.columns = {col({{0, 1.0}, {1, 2.0}}, 0, 5, 1), col({{0, 1.0}, {1, 2.0}}, 0, 3, 1),
                 col({{0, 1.0}, {1, 1.0}}, 0, 10, 3)};
    cases.push_back({"columns_merge", p, kParallelColumns, false});
  }
  {
    // x in [1, inf) and y in (-inf, 2] merge into one free column; y leaves
    // at the value that puts the merged column where x's lower bound was.
    Problem p;
    p.row_types = "GL";
    p.rhs = {3, 20};
    p.columns = {col({{0, 1.0}, {1, 2.0}}, 1, kInf, 1), col({{0, 1.0}, {1, 2.0}}, -kInf, 2, 1),
                 col({{0, 1.0}, {1, 1.0}}, 0, 10, 3)};
    cases.push_back({"columns_merge_into_a_free_one", p, kParallelColumns, false});
  }
  {
    // The dearer of two equal columns goes to its lower bound.
    Problem p;
    p.row_types = "GL";
    p.rhs = {7, 20};
    p.columns = {col({{0, 1.0}, {1, 2.0}}, 0, kInf, 1), col({{0, 1.0}, {1, 2.0}}, 1, 3, 2),
                 col({{0, 1.0}, {1, 1.0}}, 0, 10, 3)};
    cases.push_back({"columns_dominated", p, kParallelColumns});
  }
  {
    // x + y = 4 alone links two parallel columns (row 1 has them in the
    // same ratio): the dearer leaves, then the row fixes the other.
    Problem p;
    p.row_types = "EG";
    p.rhs = {4, 2};
    p.columns = {col({{0, 1.0}, {1, 1.0}}, 0, 10, 1), col({{0, 1.0}, {1, 1.0}}, 0, 10, 2),
                 col({{1, 1.0}}, 0, 10, 1)};
    cases.push_back({"columns_two_entry_equality", p, kParallelColumns});
  }
  {
    // x - y = 0 carries x's bounds to y; x + y + z = 10 with z free takes
    // z out with fill-in.
    Problem p;
    p.row_types = "EEL";
    p.rhs = {0, 10, 8};
    p.columns = {col({{0, 1.0}, {1, 1.0}, {2, 1.0}}, 0, 4, 1), col({{0, -1.0}, {1, 1.0}}, 1, 10, 2),
                 col({{1, 1.0}, {2, 1.0}}, -kInf, kInf, 1), col({{2, 1.0}}, 0, 10, -1)};
    cases.push_back({"elimination", p, kEliminate});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(OnePass, DuplicatesSolve, ::testing::ValuesIn(pass_cases()),
                         [](const ::testing::TestParamInfo<PassCase>& info) { return info.param.name; });

// Two parallel rows whose limits no point meets: presolve reports the
// problem infeasible.
TEST_F(LpSession, ParallelRowsThatCannotMeetAreInfeasible) {
  Problem p;
  p.row_types = "LG";
  p.rhs = {4, 10};
  p.columns = {col({{0, 1.0}, {1, 2.0}}, 0, 10, 1), col({{0, 1.0}, {1, 2.0}}, 0, 10, 2)};
  KLSETICV(KLIC_IPSLCT, kParallelRows);
  KLSETICV(KLIC_NRPASS, 0);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 2);
  EXPECT_TRUE(any_line_contains("parallel"));
}

}  // namespace
