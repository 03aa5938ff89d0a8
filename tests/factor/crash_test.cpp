// The crash procedures on small problems loaded through KLLOADPROB: the
// basis they leave is consistent and factorises without repairs, and the
// placement, redundancy and all-free cases behave as the procedures intend.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "factor/basis.h"
#include "factor/crash.h"
#include "factor/factor_check.h"
#include "factor/invert.h"
#include "klsol32.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kl;

using kltest::Column;
using kltest::kInf;
using kltest::Problem;

// An integer as the messages print it: right-aligned in 6 characters.
std::string int_field(int32_t n) {
  std::string text = std::to_string(n);
  return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text;
}

// Equality rows in a staircase with slack-friendly inequalities around
// them: room for a triangular basis of several columns.
Problem staircase() {
  Problem p;
  p.row_types = "EEELG";
  p.rhs = {4, 5, 6, 20, 1};
  p.columns = {
      {{{0, 1.0}, {3, 1.0}}, 0, 10, 1},
      {{{0, 2.0}, {1, 1.0}, {4, 1.0}}, 0, kInf, 2},
      {{{1, 3.0}, {2, 1.0}, {3, 1.0}}, 0, 8, -1},
      {{{2, 4.0}, {4, -1.0}}, -kInf, kInf, 0},
      {{{3, 1.0}, {4, 1.0}}, 1, 5, 3},
  };
  return p;
}

// Inequalities only, including a ranged row.
Problem inequalities() {
  Problem p;
  p.row_types = "LLGR";
  p.rhs = {4, 6, 1, 8};
  p.ranges = {0, 0, 0, 3};
  p.columns = {
      {{{0, 1.0}, {1, 3.0}, {3, 1.0}}, 0, kInf, -1},
      {{{0, 2.0}, {1, 1.0}, {2, 1.0}}, 0, kInf, -1},
      {{{2, 1.0}, {3, 2.0}}, 0, 4, 1},
  };
  return p;
}

class Crash : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }

  static CrashArguments arguments(int32_t icrash, int32_t eta_capacity) {
    CrashArguments a;
    a.icrash = icrash;
    a.eta_capacity = eta_capacity;
    return a;
  }
  // Loads p and runs the crash; IFNBAS as the crash leaves it.
  int32_t crash(const Problem& p, const CrashArguments& a) {
    EXPECT_EQ(p.load("crash"), 0);
    build_row_copy();
    int32_t ifnbas = 0;
    crash_basis(a, ifnbas);
    return ifnbas;
  }
  static int32_t basic_structurals() {
    int32_t n = 0;
    for (int32_t i = 1; i <= nrow; ++i) n += int_array(ARR_BASIS_HEADER)[i] >= store.first_col ? 1 : 0;
    return n;
  }
};

// Both procedures and both inputs: a consistent basis whose structural count
// is the one reported, which the invert takes without repairing it.
TEST_F(Crash, ProceduresLeaveTriangularBases) {
  struct Case {
    const char* name;
    Problem problem;
    int32_t procedure;
    int32_t icrash;
  };
  const int32_t tracking = 1 << 20;
  const Case cases[] = {
      {"staircase tracking", staircase(), CRASH_TRACKING, 2},
      {"staircase plain", staircase(), CRASH_PLAIN, 2},
      {"staircase plain, sweeps only", staircase(), CRASH_PLAIN, 1},
      {"staircase long form", staircase(), CRASH_TRACKING, 10},
      {"inequalities tracking", inequalities(), CRASH_TRACKING, 2},
      {"inequalities plain", inequalities(), CRASH_PLAIN, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kltest::captured_lines().clear();
    const int32_t ifnbas = crash(c.problem, arguments(c.icrash, c.procedure == CRASH_TRACKING ? tracking : 0));
    EXPECT_EQ(ifnbas, 1);
    EXPECT_EQ(crash_stats.last_procedure, c.procedure);
    EXPECT_EQ(check_basis_consistency(), "");
    EXPECT_EQ(crash_stats.accepted_columns, basic_structurals());
    EXPECT_TRUE(kltest::any_line_contains("Crash basis: " + int_field(crash_stats.accepted_columns)));
    factor_stats = FactorStats{};
    invert_basis(InvertReason::kNewBasis);
    EXPECT_NE(problem_flags & PF_FACTOR_VALID, 0);
    EXPECT_EQ(factor_stats.singular_repairs, 0);
    EXPECT_EQ(factor_stats.empty_row_repairs, 0);
  }
}

TEST_F(Crash, StaircaseTakesColumnsIntoEqualityRows) {
  crash(staircase(), arguments(2, 1 << 20));
  EXPECT_GT(crash_stats.accepted_columns, 0);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= 3; ++i) {
    // An equality slack is fixed at 0: a column in its row is worth more.
    if (header[i] == i) continue;
    EXPECT_GE(header[i], store.first_col) << i;
  }
}

// Every row free: no pivot row exists, every slack stays.
TEST_F(Crash, AllFreeRowsKeepTheirSlacks) {
  Problem p;
  p.row_types = "NN";
  p.rhs = {0, 0};
  p.columns = {{{{0, 1.0}, {1, 2.0}}, 0, 5, 1}, {{{1, 1.0}}, 0, kInf, -1}};
  for (int32_t eta : {0, 1 << 20}) {
    crash(p, arguments(2, eta));
    EXPECT_EQ(crash_stats.accepted_columns, 0);
    for (int32_t i = 1; i <= 2; ++i) EXPECT_EQ(int_array(ARR_BASIS_HEADER)[i], i);
  }
}

// A row whose activity cannot pass its limit over the column bounds keeps
// its slack for good, in both procedures.
TEST_F(Crash, RedundantRowKeepsItsSlack) {
  Problem p;
  p.row_types = "LE";
  p.rhs = {10, 2};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, -1}, {{{0, 1.0}}, 0, 3, -1}};
  for (int32_t eta : {0, 1 << 20}) {
    SCOPED_TRACE(eta);
    crash(p, arguments(2, eta));
    EXPECT_EQ(crash_stats.redundant_rows, 1);
    EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], 1);
    EXPECT_NE(int_array(ARR_POS_STATUS)[1] & PS_BASIC, 0);
    // The free marker is the crash's own: the status word keeps no free bit.
    EXPECT_EQ(int_array(ARR_POS_STATUS)[1] & PS_FREE, 0);
  }
}

// Two columns compete for one equality row in the plain crash: the freer
// column wins, then the cheaper; on a tie the column holding the row stays.
TEST_F(Crash, PlainCrashPrefersFreeOneSidedThenCheap) {
  struct Case {
    const char* name;
    Column first;
    Column second;
    int32_t winner;  // caller index
  };
  const Case cases[] = {
      {"free beats one-sided", {{{0, 1.0}}, 0, kInf, 0}, {{{0, 1.0}}, -kInf, kInf, 0}, 1},
      {"one-sided beats boxed", {{{0, 1.0}}, 0, 5, 0}, {{{0, 1.0}}, 0, kInf, 0}, 1},
      {"cheaper wins", {{{0, 1.0}}, 0, kInf, 5}, {{{0, 1.0}}, 0, kInf, 1}, 1},
      {"dearer loses", {{{0, 1.0}}, 0, kInf, 1}, {{{0, 1.0}}, 0, kInf, 5}, 0},
      {"tie keeps the holder", {{{0, 1.0}}, 0, kInf, 2}, {{{0, 1.0}}, 0, kInf, 2}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Problem p;
    p.row_types = "E";
    p.rhs = {1};
    p.columns = {c.first, c.second};
    crash(p, arguments(1, 0));
    EXPECT_EQ(crash_stats.last_procedure, CRASH_PLAIN);
    EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], store.first_col + c.winner);
    EXPECT_EQ(check_basis_consistency(), "");
  }
}

// ICRASH < 0: the slack basis with each column at the bound its kind and
// cost prefer; a narrow box goes to its cheaper bound.
TEST_F(Crash, SlackCrashPlacesNonbasicColumns) {
  Problem p;
  p.row_types = "LL";
  p.rhs = {100, 100};
  p.columns = {
      {{{0, 1.0}}, 0, 10, -1},    // width 10: stays at lower
      {{{0, 1.0}}, 0, 9.5, -1},   // width 9.5, favourable cost: upper
      {{{1, 1.0}}, 0, 9.5, 1},    // unfavourable cost: lower
      {{{1, 1.0}}, -5, 2, 0},     // |lower| > |upper|: upper
      {{{0, 1.0}}, -kInf, 3, 0},  // upper bound only: upper
  };
  crash(p, arguments(-1, 1 << 20));
  EXPECT_EQ(crash_stats.last_procedure, CRASH_SLACK);
  EXPECT_EQ(crash_stats.accepted_columns, 0);
  EXPECT_TRUE(kltest::any_line_contains("Crash basis:      0"));
  const bool expected_at_upper[] = {false, true, false, true, true};
  for (int32_t c = 0; c < 5; ++c) {
    const int32_t s = int_array(ARR_POS_STATUS)[store.first_col + c];
    EXPECT_EQ(s & PS_BASIC, 0) << c;
    EXPECT_EQ((s & PS_AT_UPPER) != 0, expected_at_upper[c]) << c;
  }
  EXPECT_EQ(check_basis_consistency(), "");
}

}  // namespace
