// Presolve, solve and postsolve of small LPs, one per record type: the real
// reductions push the record, the presolved problem is solved to its
// optimum, and the solution postsolve maps back is checked in original
// terms as an outsider would: rows within 1e-9, reduced costs whose signs
// fit the column statuses, duals only on rows that bind, a complete basis,
// and the objective of the unpresolved solve. The basis must then be
// optimal for the problem as loaded: the clean-up after the final postsolve
// makes no iteration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "presolve/postsolve.h"
#include "presolve/postsolve_undo.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "simplex/small_lps.h"
#include "support/output_capture.h"

namespace {

using namespace kltest;

constexpr double kTight = 1e-9;
constexpr int32_t kIfmemLeaveOutCuts = 0x10;
constexpr int32_t kPresolvedForLp = 0x2;

struct RoundTripCase {
  std::string name;
  Problem problem;
  int32_t record_type = 0;
  int32_t nextra = 0;  // elimination with fill-in when above 0
  bool maximise = false;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

Column col(std::vector<std::pair<int32_t, double>> entries, double lower, double upper, double cost) {
  Column c;
  c.entries = std::move(entries);
  c.lower = lower;
  c.upper = upper;
  c.cost = cost;
  return c;
}

std::vector<RoundTripCase> round_trip_cases() {
  std::vector<RoundTripCase> cases;
  {
    // s is the slack of x1 + x2 + s = 4 with s in [0, 3] and no cost; the
    // row's range is not reached, so s comes back basic.
    RoundTripCase c{"column_singleton", {}, kl::REC_COLUMN_SINGLETON};
    c.problem.row_types = "EG";
    c.problem.rhs = {4, 1};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 2, -1), col({{0, 1}, {1, 1}}, 0, kInf, 2),
                         col({{0, 1}}, 0, 3, 0), col({{1, 1}}, 0, kInf, 3)};
    cases.push_back(c);
  }
  {
    // s1 and s2 are both slacks of x1 + x2 + s1 + s2 = 4: the first makes
    // the row a range, the second widens it.
    RoundTripCase c{"two_column_singletons", {}, kl::REC_COLUMN_SINGLETON};
    c.problem.row_types = "EG";
    c.problem.rhs = {4, 1};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 3, -1), col({{0, 1}, {1, -1}}, 0, 3, -2), col({{0, 1}}, 0, 1, 0),
                         col({{0, 1}}, 0, 2, 0)};
    cases.push_back(c);
  }
  {
    // x1 + x2 <= 0 forces both to 0; x1 would rather grow, so the row
    // binds with a dual.
    RoundTripCase c{"forcing_row", {}, kl::REC_FORCING_ROW};
    c.problem.row_types = "LGG";
    c.problem.rhs = {0, 2, 1};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, kInf, -3), col({{0, 1}, {2, 1}}, 0, kInf, 1),
                         col({{1, 1}, {2, 1}}, 0, kInf, 1), col({{2, 1}}, 0, kInf, 3)};
    cases.push_back(c);
  }
  {
    // x1 <= 2 as a row.
    RoundTripCase c{"row_singleton", {}, kl::REC_ROW_SINGLETON};
    c.problem.row_types = "GL";
    c.problem.rhs = {3, 2};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 10, 1), col({{0, 1}}, 0, kInf, 2)};
    cases.push_back(c);
  }
  {
    // x1 >= 2 as a row meets x1's upper bound: the row fixes x1.
    RoundTripCase c{"row_singleton_fixing", {}, kl::REC_ROW_SINGLETON};
    c.problem.row_types = "GGL";
    c.problem.rhs = {3, 2, 9};
    c.problem.columns = {col({{0, 1}, {1, 1}, {2, 1}}, 0, 2, 1), col({{0, 1}, {2, 1}}, 0, kInf, 2)};
    cases.push_back(c);
  }
  {
    // x3 only hurts its row and costs: out at its lower bound.
    RoundTripCase c{"column_at_bound", {}, kl::REC_COLUMN_AT_BOUND};
    c.problem.row_types = "GL";
    c.problem.rhs = {3, 8};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 2, 1), col({{0, 1}, {1, 1}}, 0, kInf, 2),
                         col({{0, -1}, {1, 1}}, 0, 5, 3)};
    cases.push_back(c);
  }
  {
    // x3 costs nothing and only helps its rows, without an upper bound.
    RoundTripCase c{"dominated_column", {}, kl::REC_DOMINATED_COLUMN};
    c.problem.row_types = "GLL";
    c.problem.rhs = {4, 2, 6};
    c.problem.columns = {col({{0, 1}, {1, 1}, {2, 1}}, 0, 2, -1), col({{0, 1}, {2, 2}}, 0, kInf, 2),
                         col({{0, 1}, {1, -1}}, 0, kInf, 0)};
    cases.push_back(c);
  }
  {
    // Free x = 5 - x1 - x2 - x3 leaves through its row; the others are
    // cheaper than x, so no dual bound fixes them.
    RoundTripCase c{"free_column_substitution", {}, kl::REC_COLUMN_ELIMINATION};
    c.problem.row_types = "EL";
    c.problem.rhs = {5, 6};
    c.problem.columns = {col({{0, 1}}, -kInf, kInf, 1), col({{0, 1}, {1, 1}}, 0, 3, 0.5),
                         col({{0, 1}, {1, 1}}, 0, 3, 0.25), col({{0, 1}, {1, 1}}, 0, 3, 0.75)};
    cases.push_back(c);
  }
  {
    // x3's bounds lie closer than ZTOLDA: the round takes it out at its
    // lower bound (a column loaded with equal bounds leaves before it).
    RoundTripCase c{"fixed_column", {}, kl::REC_FIXED_COLUMN};
    c.problem.row_types = "GL";
    c.problem.rhs = {4, 9};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 2, 1), col({{0, 1}, {1, 1}}, 0, 10, 2),
                         col({{0, 1}, {1, 2}}, 1, 1 + 1e-12, 3)};
    cases.push_back(c);
  }
  {
    // With fill-in allowed, x - y = 1 takes x out of every row.
    RoundTripCase c{"elimination", {}, kl::REC_COLUMN_ELIMINATION, 20};
    c.problem.row_types = "EGGL";
    c.problem.rhs = {1, 4, 3, 9};
    c.problem.columns = {col({{0, 1}, {1, 1}, {3, 1}}, 0, 10, 2), col({{0, -1}, {2, 1}, {3, 1}}, 0, 10, 1),
                         col({{1, 1}, {2, 1}}, 0, 10, 3), col({{1, 2}, {3, 1}}, 0, 10, 1)};
    cases.push_back(c);
  }
  {
    // x1 + x2 >= 3 and -2 x1 - 2 x2 >= -10 are one row with two limits;
    // the side the removed row brought binds.
    RoundTripCase c{"duplicate_row", {}, kl::REC_DUPLICATE_ROW};
    c.problem.row_types = "GGL";
    c.problem.rhs = {3, -10, 11};
    c.problem.columns = {col({{0, 1}, {1, -2}, {2, 1}}, 0, 4, -1), col({{0, 1}, {1, -2}, {2, 2}}, 0, 4, -2)};
    cases.push_back(c);
  }
  {
    // x1 and x2 are the same column.
    RoundTripCase c{"duplicate_column", {}, kl::REC_DUPLICATE_COLUMN};
    c.problem.row_types = "GL";
    c.problem.rhs = {5, 9};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 2, 1), col({{0, 1}, {1, 1}}, 0, 2, 1),
                         col({{0, 1}, {1, 2}}, 0, 10, 3)};
    cases.push_back(c);
  }
  {
    // x1 and x2 merge; the merged column is then alone in x1 + x2 = 3.
    RoundTripCase c{"duplicate_column_basic", {}, kl::REC_DUPLICATE_COLUMN_BASIC};
    c.problem.row_types = "EG";
    c.problem.rhs = {3, 4};
    c.problem.columns = {col({{0, 1}, {1, 1}}, 0, 2, 1), col({{0, 1}, {1, 1}}, 0, 2, 1),
                         col({{1, 1}}, 0, 10, 2)};
    cases.push_back(c);
  }
  // The same optima found by maximising the negated objectives: the sense
  // runs through every dual postsolve computes.
  const size_t minimised = cases.size();
  for (size_t k = 0; k < minimised; ++k) {
    RoundTripCase c = cases[k];
    c.name += "_maximised";
    c.problem = c.problem.negated();
    c.maximise = true;
    cases.push_back(c);
  }
  return cases;
}

class PostsolveRoundTripCall : public LpSession {
 protected:
  // The objective of the problem solved as loaded.
  double unpresolved_objective(const RoundTripCase& c) {
    EXPECT_EQ(load(c.problem), 0);
    KLSETICV(KLIC_IFPRES, 0);
    EXPECT_EQ(optimise(c), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
    KLSETICV(KLIC_IFPRES, 1);
    return objective_value();
  }

  static int32_t optimise(const RoundTripCase& c) { return c.maximise ? KLMAXIM("") : KLMINIM(""); }

  // One solve of c through presolve, stopped after limit iterations.
  // True when it ends still presolved.
  bool solve_presolved(const RoundTripCase& c, int32_t limit) {
    int32_t itrlim = 0;
    KLGETICV(KLIC_ITRLIM, &itrlim);
    EXPECT_EQ(load(c.problem), 0);
    KLSETICV(KLIC_NEXTRA, c.nextra);
    KLSETICV(KLIC_ITRLIM, limit);
    EXPECT_EQ(optimise(c), 0);
    KLSETICV(KLIC_ITRLIM, itrlim);
    return (int_attribute_value(KLIA_PROBLEMFLAGS) & kPresolvedForLp) != 0;
  }

  // Leaves c presolved at the optimal basis of the presolved problem: the
  // presolved solve stopped by an iteration limit just as it got there.
  // The smallest limit that lets the whole solve finish is one more than
  // the presolved solve needs. False when presolve removed nothing.
  bool solve_presolved_to_its_optimum(const RoundTripCase& c) {
    for (int32_t limit = 1; limit < 50; ++limit) {
      if (solve_presolved(c, limit)) continue;
      return solve_presolved(c, limit - 1);
    }
    return false;
  }
};

class PostsolveRoundTrip : public PostsolveRoundTripCall, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(PostsolveRoundTrip, MapsAnOptimalSolutionAndBasisBackToTheLoadedProblem) {
  const RoundTripCase& c = GetParam();
  const Problem& p = c.problem;
  const double expected = unpresolved_objective(c);
  const auto undone_before = kl::postsolve_records_undone;
  ASSERT_TRUE(solve_presolved_to_its_optimum(c)) << "presolve left nothing to postsolve";
  // Reduced costs and duals in the minimising sense.
  const double sense = c.maximise ? -1.0 : 1.0;

  // The original solution from memory, through a keep-mode postsolve.
  KLSETICV(KLIC_IFMEM, kIfmemLeaveOutCuts);
  std::vector<double> x(p.ncols()), slack(p.nrows()), dual(p.nrows()), dj(p.ncols());
  ASSERT_EQ(KLSOLUTION(x.data(), slack.data(), dual.data(), dj.data()), 0);
  std::vector<int32_t> row_codes(p.nrows()), column_codes(p.ncols());
  ASSERT_EQ(KLGETBASIS(row_codes.data(), column_codes.data()), 0);
  KLSETICV(KLIC_IFMEM, 0);
  EXPECT_GT(kl::postsolve_records_undone[c.record_type], undone_before[c.record_type])
      << "no record of type " << c.record_type << " was undone";

  double objective = 0.0;
  std::vector<double> activity(p.nrows(), 0.0);
  for (int32_t k = 0; k < p.ncols(); ++k) {
    const Column& column = p.columns[k];
    EXPECT_GE(x[k], column.lower - kTight) << "column " << k;
    EXPECT_LE(x[k], column.upper + kTight) << "column " << k;
    objective += column.cost * x[k];
    double priced = column.cost;
    for (const auto& [r, a] : column.entries) {
      activity[r] += a * x[k];
      priced -= dual[r] * a;
    }
    EXPECT_NEAR(dj[k], priced, kTight) << "column " << k;
    switch (column_codes[k]) {
      case 0: EXPECT_GE(sense * dj[k], -kTight) << "column " << k << " at lower"; break;
      case 2: EXPECT_LE(sense * dj[k], kTight) << "column " << k << " at upper"; break;
      case 1: EXPECT_NEAR(dj[k], 0.0, kTight) << "column " << k << " basic"; break;
      default: ADD_FAILURE() << "column " << k << " has code " << column_codes[k];
    }
  }
  EXPECT_NEAR(objective, expected, kTight);
  int32_t basic = 0;
  for (int32_t code : row_codes) basic += code == 1 ? 1 : 0;
  for (int32_t code : column_codes) basic += code == 1 ? 1 : 0;
  EXPECT_EQ(basic, p.nrows()) << "a complete basis";
  for (int32_t r = 0; r < p.nrows(); ++r) {
    const char type = p.row_types[r];
    const double b = p.rhs[r];
    const double range = p.ranges.empty() ? 0.0 : p.ranges[r];
    const double lo = type == 'L' ? -kInf : (type == 'R' ? b - range : b);
    const double hi = type == 'G' ? kInf : b;
    EXPECT_GE(activity[r], lo - kTight) << "row " << r;
    EXPECT_LE(activity[r], hi + kTight) << "row " << r;
    // A dual on a row that does not bind, or of the wrong sign, prices
    // a direction the row does not stop.
    if (sense * dual[r] > kTight) {
      EXPECT_NEAR(activity[r], lo, kTight) << "row " << r << " dual " << dual[r];
    }
    if (sense * dual[r] < -kTight) {
      EXPECT_NEAR(activity[r], hi, kTight) << "row " << r << " dual " << dual[r];
    }
  }

  // The final postsolve's basis is optimal as it stands.
  ASSERT_EQ(optimise(c), 0);
  EXPECT_EQ(int_attribute_value(KLIA_PROBLEMFLAGS) & kPresolvedForLp, 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(objective_value(), expected, kTight);
}

INSTANTIATE_TEST_SUITE_P(Presolve, PostsolveRoundTrip, ::testing::ValuesIn(round_trip_cases()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

// x0 + x1 <= 4 with both in [0, 10]: for the primal, presolve drops both
// upper bounds as implied by the row. A presolved solution that holds x0 at
// 12, beyond the bound it dropped, is reported as it stands; the final
// postsolve, from whose basis the original problem is
// solved on, puts x0 at the bound it crosses, so that the basic values
// computed from there carry the infeasibility. The solve then finds -8.
TEST_F(PostsolveRoundTripCall, ValueCarriedBeyondADroppedBoundStartsTheSolveAtThatBound) {
  RoundTripCase c;
  c.problem.row_types = "L";
  c.problem.rhs = {4};
  c.problem.columns = {col({{0, 1}}, 0, 10, -1), col({{0, 1}}, 0, 10, -2)};
  KLSETICV(KLIC_IFSCAL, 0);
  KLSETICV(KLIC_IPSLCT, 0x10);
  ASSERT_EQ(load(c.problem), 0);
  KLSETICV(KLIC_ITRLIM, 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_NE(int_attribute_value(KLIA_PROBLEMFLAGS) & kPresolvedForLp, 0);
  int32_t x0 = kl::store.first_col;
  {
    kl::OneBased<int32_t> status = kl::int_array(kl::ARR_POS_STATUS);
    ASSERT_EQ(status[x0] & kl::PS_FINITE_UPPER, 0) << "presolve dropped x0's upper bound";
    status[x0] = (status[x0] & ~(kl::PS_BASIC | kl::PS_AT_UPPER)) | kl::PS_NONBASIC_BETWEEN;
    kl::real_array(kl::ARR_X)[x0] = 12.0;
  }

  KLSETICV(KLIC_IFMEM, kIfmemLeaveOutCuts);
  std::vector<double> x(2), slack(1);
  ASSERT_EQ(KLSOLUTION(x.data(), slack.data(), nullptr, nullptr), 0);
  KLSETICV(KLIC_IFMEM, 0);
  EXPECT_EQ(x[0], 12.0);

  int32_t no_basis = 0;
  kl::postsolve(0, no_basis);
  x0 = kl::store.first_col;
  const int32_t status = kl::int_array(kl::ARR_POS_STATUS)[x0];
  EXPECT_EQ(status & (kl::PS_BASIC | kl::PS_NONBASIC_BETWEEN | kl::PS_AT_UPPER), kl::PS_AT_UPPER);
  EXPECT_EQ(kl::real_array(kl::ARR_X)[x0], 10.0);

  KLSETICV(KLIC_ITRLIM, 100000);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_NEAR(objective_value(), -8.0, kTight);
}

// A record postsolve cannot undo, met when KLMINIM gives the presolved
// problem up, is an internal error: message 968 and status 32, and the LP
// is not reported optimal.
TEST_F(PostsolveRoundTripCall, UnreadableRecordEndsTheCallAsAnInternalError) {
  RoundTripCase c;
  for (const RoundTripCase& each : round_trip_cases())
    if (each.name == "row_singleton") c = each;
  ASSERT_TRUE(solve_presolved(c, 0));
  ASSERT_TRUE(kl::push_presolve_record({1, 14}, {}));
  KLSETICV(KLIC_IFPMSG, 1);
  EXPECT_EQ(KLMINIM(""), 32);
  EXPECT_EQ(int_attribute_value(KLIA_ERRORCODE), 968);
  EXPECT_TRUE(any_line_contains("type     14 at stack entry"));
  EXPECT_NE(int_attribute_value(KLIA_LPSTATUS), 1);
}

}  // namespace
