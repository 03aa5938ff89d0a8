// The readers of a problem left presolved (a solve stopped by ITRLIM, or the
// form a search keeps): KLSOLUTION, KLGETBASIS, KLGETINF from memory and the
// INVERT command answer in original terms through a keep-mode postsolve and
// leave the presolved problem as it was, so that the solve can go on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "console/command_handlers.h"
#include "klsol32.h"
#include "presolve/postsolve_undo.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/small_lps.h"

namespace {

using namespace kltest;

constexpr int32_t kIfmemInOptimiserCall = 0x8;
constexpr int32_t kIfmemLeaveOutCuts = 0x10;
constexpr double kTight = 1e-9;

// min x1 + 2 x2 + 3 x3 + x4 with x1 + x2 + x3 >= 4, x1 <= 2 (a row of one
// column), x2 + x4 >= 1 and x3 fixed at 1: a fixed column and a row
// singleton for presolve to take out. Optimum 7 at (2, 1, 1, 0).
Problem reducible() {
  Problem p;
  p.row_types = "GLG";
  p.rhs = {4, 2, 1};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}}, 0, 10, 1},
      {{{0, 1.0}, {2, 1.0}}, 0, kInf, 2},
      {{{0, 1.0}}, 1, 1, 3},
      {{{2, 1.0}}, 0, 10, 1},
  };
  return p;
}

int32_t problem_flags_now() { return int_attribute_value(KLIA_PROBLEMFLAGS); }

struct Solution {
  std::vector<double> x, slack, dual, dj;
  explicit Solution(const Problem& p) : x(p.ncols()), slack(p.nrows()), dual(p.nrows()), dj(p.ncols()) {}
  int32_t read() { return KLSOLUTION(x.data(), slack.data(), dual.data(), dj.data()); }
};

class PresolvedAccess : public LpSession {
 protected:
  // The loaded problem solved as it is: the objective to reach.
  double unreduced_objective(const Problem& p) {
    EXPECT_EQ(load(p), 0);
    KLSETICV(KLIC_IFPRES, 0);
    EXPECT_EQ(KLMINIM(""), 0);
    KLSETICV(KLIC_IFPRES, 1);
    return objective_value();
  }
  // Loads p and starts a solve that stops at once, leaving it presolved.
  bool stopped_presolved(const Problem& p) {
    EXPECT_EQ(load(p), 0);
    KLSETICV(KLIC_IFPRES, 1);
    KLGETICV(KLIC_ITRLIM, &itrlim_);
    KLSETICV(KLIC_ITRLIM, 0);
    KLMINIM("");
    KLSETICV(KLIC_ITRLIM, itrlim_);
    return (problem_flags_now() & 0x2) != 0;
  }
  // Row activities from the column values, against the slacks given.
  static void check_rows_against_slacks(const Problem& p, const Solution& s) {
    std::vector<double> activity(p.nrows(), 0.0);
    for (int32_t k = 0; k < p.ncols(); ++k)
      for (const auto& [r, a] : p.columns[k].entries) activity[r] += a * s.x[k];
    for (int32_t r = 0; r < p.nrows(); ++r)
      EXPECT_NEAR(std::fabs(s.slack[r]), std::fabs(p.rhs[r] - activity[r]), kTight) << "row " << r;
  }
  int32_t itrlim_ = 0;
};

TEST_F(PresolvedAccess, SolutionFromMemoryIsInOriginalTermsAndLeavesThePresolvedSolveToGoOn) {
  const Problem p = reducible();
  const double expected = unreduced_objective(p);
  if (!stopped_presolved(p)) GTEST_SKIP() << "presolve left nothing to postsolve";
  const int32_t presolved_rows = int_attribute_value(KLIA_NROW);
  // The working values of the presolved problem, as a callback reads them.
  KLSETICV(KLIC_IFMEM, kIfmemInOptimiserCall);
  std::vector<double> working_before(p.ncols() + p.nrows()), working_after(p.ncols() + p.nrows());
  ASSERT_EQ(KLSOLUTION(working_before.data(), nullptr, nullptr, nullptr), 0);
  KLSETICV(KLIC_IFMEM, kIfmemLeaveOutCuts);
  Solution first(p), second(p);
  ASSERT_EQ(first.read(), 0);
  ASSERT_EQ(second.read(), 0);
  KLSETICV(KLIC_IFMEM, kIfmemInOptimiserCall);
  ASSERT_EQ(KLSOLUTION(working_after.data(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(working_before, working_after) << "the presolved problem's own values are given back";
  // Reading twice gives the same: the presolved values were given back.
  EXPECT_EQ(first.x, second.x);
  EXPECT_EQ(first.dual, second.dual);
  EXPECT_EQ(first.dj, second.dj);
  EXPECT_DOUBLE_EQ(first.x[2], 1.0) << "the fixed column is in the original solution";
  check_rows_against_slacks(p, first);
  EXPECT_NE(problem_flags_now() & 0x2, 0);
  EXPECT_EQ(int_attribute_value(KLIA_NROW), presolved_rows);
  KLSETICV(KLIC_IFMEM, 0);
  // The stopped basis is infeasible: postsolve marked its infeasible basic
  // positions for the original problem and left none on the presolved one.
  for (int32_t k = 1; k <= kl::nseq; ++k)
    EXPECT_EQ(kl::int_array(kl::ARR_POS_STATUS)[k] & kl::PS_POSTSOLVE_MARK, 0) << "position " << k;

  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(problem_flags_now() & 0x2, 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_NEAR(objective_value(), expected, kTight);
  Solution done(p);
  ASSERT_EQ(done.read(), 0);
  const std::vector<double> optimum = {2, 1, 1, 0};
  for (int32_t k = 0; k < p.ncols(); ++k) EXPECT_NEAR(done.x[k], optimum[k], kTight) << "column " << k;
}

TEST_F(PresolvedAccess, BasisAndInfeasibilitiesFromMemoryAreInOriginalTerms) {
  const Problem p = reducible();
  if (!stopped_presolved(p)) GTEST_SKIP() << "presolve left nothing to postsolve";
  KLSETICV(KLIC_IFMEM, kIfmemInOptimiserCall);
  std::vector<int32_t> rows(p.nrows(), -1), columns(p.ncols(), -1);
  ASSERT_EQ(KLGETBASIS(rows.data(), columns.data()), 0);
  int32_t basic = 0;
  for (const int32_t code : rows) {
    EXPECT_GE(code, 0);
    basic += code == 1 ? 1 : 0;
  }
  for (const int32_t code : columns) {
    EXPECT_GE(code, 0);
    basic += code == 1 ? 1 : 0;
  }
  EXPECT_EQ(basic, p.nrows()) << "a complete basis of the original problem";
  int32_t counts[4] = {-1, -1, -1, -1};
  std::vector<int32_t> lists[4];
  for (auto& list : lists) list.assign(p.nrows() + p.ncols(), -1);
  ASSERT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], lists[0].data(), lists[1].data(),
                     lists[2].data(), lists[3].data()),
            0);
  for (int32_t k = 0; k < 4; ++k) {
    EXPECT_GE(counts[k], 0);
    // Rows and columns in the caller's index base (IFDBG).
    int32_t base = 0;
    KLGETICV(KLIC_IFDBG, &base);
    for (int32_t n = 0; n < counts[k]; ++n) {
      EXPECT_GE(lists[k][n], 1 - base);
      EXPECT_LE(lists[k][n], (k % 2 == 0 ? p.nrows() : p.ncols()) - base);
    }
  }
  EXPECT_NE(problem_flags_now() & 0x2, 0);
  KLSETICV(KLIC_IFMEM, 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  // The finished solve leaves nothing infeasible.
  KLSETICV(KLIC_IFMEM, kIfmemInOptimiserCall);
  ASSERT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
  KLSETICV(KLIC_IFMEM, 0);
  for (const int32_t count : counts) EXPECT_EQ(count, 0);
}

// INVERT on a presolved problem writes the solution file of the original
// problem and leaves the presolved problem to go on from.
TEST_F(PresolvedAccess, InvertWritesTheOriginalSolutionFile) {
  const Problem p = reducible();
  const double expected = unreduced_objective(p);
  if (!stopped_presolved(p)) GTEST_SKIP() << "presolve left nothing to postsolve";
  kl::invert_command();
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_NE(problem_flags_now() & 0x2, 0);
  Solution from_file(p);
  ASSERT_EQ(from_file.read(), 0);
  EXPECT_DOUBLE_EQ(from_file.x[2], 1.0);
  check_rows_against_slacks(p, from_file);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_NEAR(objective_value(), expected, kTight);
}

// The LP of a problem with an integer column keeps the form presolved for
// the search (bit 0x4) after an optimal solve; the solution file the driver
// wrote and the memory readers speak of the original problem.
TEST_F(PresolvedAccess, FormKeptForTheSearchIsReadInOriginalTerms) {
  Problem p = reducible();
  p.entity_types = "I";
  p.entity_columns = {3};
  const double expected = unreduced_objective(p);
  ASSERT_EQ(load(p), 0);
  KLMINIM("");
  if ((problem_flags_now() & 0x4) == 0) GTEST_SKIP() << "presolve left nothing to postsolve";
  ASSERT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  Solution from_file(p);
  ASSERT_EQ(from_file.read(), 0);
  check_rows_against_slacks(p, from_file);
  KLSETICV(KLIC_IFMEM, kIfmemLeaveOutCuts);
  Solution from_memory(p);
  ASSERT_EQ(from_memory.read(), 0);
  KLSETICV(KLIC_IFMEM, 0);
  double objective = 0.0;
  for (int32_t k = 0; k < p.ncols(); ++k) {
    objective += p.columns[k].cost * from_memory.x[k];
    EXPECT_NEAR(from_memory.x[k], from_file.x[k], kTight) << "column " << k;
  }
  EXPECT_NEAR(objective, expected, kTight);
  KLSETICV(KLIC_IFMEM, kIfmemInOptimiserCall);
  int32_t counts[4] = {-1, -1, -1, -1};
  ASSERT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
  KLSETICV(KLIC_IFMEM, 0);
  for (const int32_t count : counts) EXPECT_EQ(count, 0);
  EXPECT_NE(problem_flags_now() & 0x4, 0);
}

// 2 x >= 3 is a row of x alone: presolving for the search makes it x >= 2
// for the integer x, which meets x's upper bound and fixes it. Read back in
// original terms x is 2, where presolve left it, not the 1.5 of the row, and
// x + y >= 4 holds.
TEST_F(PresolvedAccess, IntegerColumnFixedThroughARoundedRowBoundKeepsItsValue) {
  Problem p;
  p.row_types = "GG";
  p.rhs = {3, 4};
  p.columns = {{{{0, 2.0}, {1, 1.0}}, 0, 2, 1}, {{{1, 1.0}}, 0, 10, 1}};
  p.entity_types = "I";
  p.entity_columns = {0};
  ASSERT_EQ(load(p), 0);
  const int64_t singletons_before = kl::postsolve_records_undone[kl::REC_ROW_SINGLETON];
  KLMINIM("");
  ASSERT_NE(problem_flags_now() & 0x4, 0);
  ASSERT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_GT(kl::postsolve_records_undone[kl::REC_ROW_SINGLETON], singletons_before);
  for (const int32_t ifmem : {0, kIfmemLeaveOutCuts}) {
    SCOPED_TRACE(ifmem);
    KLSETICV(KLIC_IFMEM, ifmem);
    Solution s(p);
    ASSERT_EQ(s.read(), 0);
    EXPECT_DOUBLE_EQ(s.x[0], 2.0);
    EXPECT_DOUBLE_EQ(s.x[1], 2.0);
    EXPECT_GE(s.x[0] + s.x[1], 4.0 - kTight);
    EXPECT_NEAR(s.x[0] + s.x[1], objective_value(), kTight);
    check_rows_against_slacks(p, s);
  }
  KLSETICV(KLIC_IFMEM, 0);
}

}  // namespace
