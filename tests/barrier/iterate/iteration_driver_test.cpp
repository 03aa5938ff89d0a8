#include "barrier/iterate/iteration_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "barrier/iterate/iteration_setup.h"
#include "barrier/iterate/variable_classes.h"
#include "klsol32.h"
#include "runtime/controls.h"
#include "support/barrier_system.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using kltest::BarrierSystem;
using kltest::SparseColumns;

// A small problem in the barrier's own form, before classification: minimise
// c x + 0.5 x Q x subject to a_i x - slack_i = b_i, columns free (code 0),
// at least 0 (code 1) or within [0, u] (code -1), slacks likewise (an
// equality row has code 0).
struct ToyProblem {
  int32_t n = 0;
  int32_t m = 0;
  std::vector<std::vector<double>> a;  // m x n, dense
  std::vector<double> b, c;
  std::vector<double> q_diag;               // n, empty for a linear problem
  std::vector<std::vector<double>> q_lower;  // n x n below the diagonal (i > j), empty for none
  std::vector<int32_t> col_code, row_code;
  std::vector<double> col_upper, row_upper;  // used where the code is -1
};

struct RunResult {
  int32_t status = -99;
  double objective = 0.0;
  int32_t iterations = 0;
  std::vector<double> x, y, z;  // entry order; z net (z - w on boxed positions)
  std::vector<int32_t> var_state;
  kl::barrier_params params;
};

// Runs iterate_barrier on the toy with every array the driver needs.
struct Harness {
  ToyProblem toy;
  BarrierSystem sys;
  std::vector<double> cost, quad_diag, rhs, upper, diag, diag_copy, x, dx, q_dx, s, z, dz, q_x, w, dw, push_work, y,
      dy, slack_diag, primal_residual, upper_residual, dual_residual, pivot_inverse;
  std::vector<int32_t> col_code, row_code, first, last, order, rank, ranges, work;

  explicit Harness(const ToyProblem& t) : toy(t) {
    SparseColumns a;
    a.rows_count = t.m;
    a.cols_count = t.n;
    for (int32_t j = 0; j < t.n; ++j) {
      for (int32_t i = 0; i < t.m; ++i) {
        if (t.a[i][j] == 0.0) continue;
        a.rows.push_back(i);
        a.values.push_back(t.a[i][j]);
      }
      a.starts.push_back(static_cast<int32_t>(a.rows.size()));
    }
    SparseColumns q;
    q.rows_count = t.n;
    q.cols_count = t.n;
    if (!t.q_lower.empty()) {
      for (int32_t j = 0; j < t.n; ++j) {
        for (int32_t i = j + 1; i < t.n; ++i) {
          if (t.q_lower[i][j] == 0.0) continue;
          q.rows.push_back(i);
          q.values.push_back(t.q_lower[i][j]);
        }
        q.starts.push_back(static_cast<int32_t>(q.rows.size()));
      }
    }
    sys = kltest::make_barrier_system(a, q.rows.empty() ? nullptr : &q, 0);
    if (!t.q_diag.empty()) sys.params.quad_col_count = t.n;
    const size_t n1 = static_cast<size_t>(t.n + t.m) + 3;
    for (auto* v : {&diag, &diag_copy, &x, &dx, &q_dx, &s, &z, &dz, &q_x, &w, &dw, &push_work, &upper,
                    &upper_residual, &dual_residual, &pivot_inverse, &cost, &quad_diag, &rhs, &y, &dy, &slack_diag,
                    &primal_residual}) {
      v->assign(n1, 0.0);
    }
    for (auto* v : {&col_code, &row_code, &first, &last, &order, &rank}) v->assign(n1, 0);
    ranges.assign(17, 0);
    for (int32_t j = 1; j <= t.n; ++j) {
      cost[j] = t.c[j - 1];
      if (!t.q_diag.empty()) quad_diag[j] = t.q_diag[j - 1];
      col_code[j] = t.col_code[j - 1];
      if (col_code[j] < 0) upper[j] = t.col_upper[j - 1];
    }
    for (int32_t i = 1; i <= t.m; ++i) {
      rhs[i] = t.b[i - 1];
      row_code[i] = t.row_code[i - 1];
      if (row_code[i] < 0) upper[t.n + i] = t.row_upper[i - 1];
    }
    work.assign(static_cast<size_t>(kl::iterate_barrier_work_ints(sys.params)) + 1, 0);
  }

  RunResult run(double objective_sentinel = 12345.0) {
    kl::BarrierIterateArrays arr{cost.data(), quad_diag.data(), rhs.data(), upper.data(), diag.data(),
                                 diag_copy.data(), x.data(), dx.data(), q_dx.data(), s.data(), z.data(), dz.data(),
                                 q_x.data(), w.data(), dw.data(), push_work.data(), y.data(), dy.data(),
                                 slack_diag.data(), primal_residual.data(), upper_residual.data(),
                                 dual_residual.data(), sys.fv(), pivot_inverse.data(), col_code.data(),
                                 row_code.data(), sys.matrix_start.data(), sys.quad_start.data(),
                                 sys.matrix_end.data(), first.data(), last.data(), sys.var_state.data(),
                                 order.data(), rank.data(), sys.fi(), ranges.data()};
    RunResult out;
    out.objective = objective_sentinel;
    int32_t correctors = 0, removed_cols = 0, removed_rows = 0, time = 0;
    int64_t nz = 0, budget = 0;
    double constant = 0.0;
    const double scale = 1.0;
    kl::iterate_barrier(sys.params, arr, work.data(), out.status, out.objective, out.iterations, correctors,
                        removed_cols, removed_rows, nz, budget, constant, scale, time);
    out.x.assign(x.begin(), x.begin() + toy.n + toy.m + 1);
    out.y.assign(y.begin(), y.begin() + toy.m + 1);
    out.z.assign(z.begin(), z.begin() + toy.n + toy.m + 1);
    out.var_state.assign(sys.var_state.begin(), sys.var_state.begin() + toy.n + toy.m + 1);
    out.params = sys.params;
    return out;
  }
};

double qx(const ToyProblem& t, const std::vector<double>& x, int32_t j) {
  double v = t.q_diag.empty() ? 0.0 : t.q_diag[j] * x[j + 1];
  if (!t.q_lower.empty()) {
    for (int32_t k = 0; k < t.n; ++k) {
      if (k > j) v += t.q_lower[k][j] * x[k + 1];
      if (k < j) v += t.q_lower[j][k] * x[k + 1];
    }
  }
  return v;
}

double objective_of(const ToyProblem& t, const std::vector<double>& x) {
  double v = 0.0;
  for (int32_t j = 0; j < t.n; ++j) v += t.c[j] * x[j + 1] + 0.5 * x[j + 1] * qx(t, x, j);
  return v;
}

// Recomputes, from the returned vectors alone, the optimality conditions of
// the toy: primal rows, bounds, dual rows with the reduced costs (Qx term
// included), sign and complementarity of the reduced costs.
void expect_optimal_solution(const ToyProblem& t, const RunResult& r, double tol) {
  ASSERT_EQ(r.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(r.status);
  const int32_t n = t.n;
  for (int32_t i = 0; i < t.m; ++i) {
    double ax = 0.0;
    for (int32_t j = 0; j < n; ++j) ax += t.a[i][j] * r.x[j + 1];
    const double slack = t.row_code[i] == 0 ? 0.0 : r.x[n + i + 1];
    EXPECT_NEAR(ax - slack, t.b[i], tol * (1.0 + std::fabs(t.b[i]))) << "row " << i;
  }
  auto check_bounds = [&](int32_t code, double value, double upper_bound, double reduced, const std::string& what) {
    if (code != 0) {
      EXPECT_GE(value, -tol) << what;
    }
    if (code < 0) {
      EXPECT_LE(value, upper_bound + tol) << what;
    }
    if (code == 0) {
      EXPECT_NEAR(reduced, 0.0, tol) << what << " free: no reduced cost";
      return;
    }
    // Complementarity: a positive reduced cost only at the lower bound, a
    // negative one only at the upper bound.
    if (reduced > tol) {
      EXPECT_NEAR(value, 0.0, tol * 10) << what;
    }
    if (reduced < -tol) {
      ASSERT_LT(code, 0) << what << " negative reduced cost without an upper bound";
      EXPECT_NEAR(value, upper_bound, tol * 10) << what;
    }
  };
  for (int32_t j = 0; j < n; ++j) {
    double aty = 0.0;
    for (int32_t i = 0; i < t.m; ++i) aty += t.a[i][j] * r.y[i + 1];
    const double d = t.c[j] + qx(t, r.x, j) - aty;
    EXPECT_NEAR(d, r.z[j + 1], tol * (1.0 + std::fabs(t.c[j]))) << "dual row of column " << j;
    check_bounds(t.col_code[j], r.x[j + 1], t.col_code[j] < 0 ? t.col_upper[j] : 0.0, d, "column " + std::to_string(j));
  }
  for (int32_t i = 0; i < t.m; ++i) {
    if (t.row_code[i] == 0) continue;
    // The slack's reduced cost is the row dual (rd = y - z + w).
    EXPECT_NEAR(r.y[i + 1], r.z[n + i + 1], tol) << "dual row of slack " << i;
    check_bounds(t.row_code[i], r.x[n + i + 1], t.row_code[i] < 0 ? t.row_upper[i] : 0.0, r.y[i + 1],
                 "slack " + std::to_string(i));
  }
  // The reported objective is the one of the returned point.
  EXPECT_NEAR(r.objective, objective_of(t, r.x), tol * (1.0 + std::fabs(r.objective)));
}

// min -0.9 x1 - 2.1 x2 (written as -x1 - 2x2 + 0.1 x3 with x3 = x1 - x2 free),
// x1 in [0, 3], x2 >= 0, x1 + 3 x2 <= 6, 1 <= x1 + x2 <= 6: optimum (3, 1).
ToyProblem small_lp() {
  ToyProblem t;
  t.n = 3;
  t.m = 3;
  t.a = {{-1, -3, 0}, {1, 1, 0}, {-1, 1, 1}};
  t.b = {-6, 1, 0};
  t.c = {-1, -2, 0.1};
  t.col_code = {-1, 1, 0};
  t.col_upper = {3, 0, 0};
  t.row_code = {1, -1, 0};
  t.row_upper = {0, 5, 0};
  return t;
}

// min (x1 - 1)^2 + (x2 - 2)^2 + q x1 x2 without its constant, x1 + x2 <= 2.
ToyProblem small_qp(double coupling) {
  ToyProblem t;
  t.n = 2;
  t.m = 1;
  t.a = {{-1, -1}};
  t.b = {-2};
  t.c = {-2, -4};
  t.q_diag = {2, 2};
  if (coupling != 0.0) t.q_lower = {{0, 0}, {coupling, 0}};
  t.col_code = {1, 1};
  t.row_code = {1};
  t.col_upper = {0, 0};
  t.row_upper = {0};
  return t;
}

TEST(BarrierIterationDriver, LinearToyReachesItsOptimum) {
  Harness h(small_lp());
  const RunResult r = h.run();
  expect_optimal_solution(h.toy, r, 1e-6);
  EXPECT_NEAR(r.x[1], 3.0, 1e-6);
  EXPECT_NEAR(r.x[2], 1.0, 1e-6);
  EXPECT_NEAR(r.objective, -4.8, 1e-6);
  EXPECT_GT(r.iterations, 0);
  // The driver's last word on the states: free columns -1.
  EXPECT_EQ(r.var_state[3], -1);

  // A maximisation problem arrives negated; its objective leaves in its own
  // sense.
  Harness max_run(small_lp());
  max_run.sys.params.objective_sense = -1;
  const RunResult rm = max_run.run();
  ASSERT_EQ(rm.status, kl::BARRIER_OPTIMAL);
  EXPECT_NEAR(rm.objective, 4.8, 1e-6);
}

TEST(BarrierIterationDriver, QuadraticToysReachTheirOptimum) {
  for (double coupling : {0.0, 0.5}) {
    SCOPED_TRACE(coupling);
    Harness h(small_qp(coupling));
    const RunResult r = h.run();
    expect_optimal_solution(h.toy, r, 1e-6);
    if (coupling == 0.0) {
      EXPECT_NEAR(r.x[1], 0.5, 1e-6);
      EXPECT_NEAR(r.x[2], 1.5, 1e-6);
      EXPECT_NEAR(r.objective, -4.5, 1e-6);
    }
  }
}

TEST(BarrierIterationDriver, InfeasibleAndUnboundedToysNeverEndOptimal) {
  // x1 + x2 >= 5 with both columns in [0, 1].
  ToyProblem infeasible;
  infeasible.n = 2;
  infeasible.m = 1;
  infeasible.a = {{1, 1}};
  infeasible.b = {5};
  infeasible.c = {1, 1};
  infeasible.col_code = {-1, -1};
  infeasible.col_upper = {1, 1};
  infeasible.row_code = {1};
  infeasible.row_upper = {0};
  // min -x1 with x1 - x2 >= 0, both at least 0.
  ToyProblem unbounded;
  unbounded.n = 2;
  unbounded.m = 1;
  unbounded.a = {{1, -1}};
  unbounded.b = {0};
  unbounded.c = {-1, 0};
  unbounded.col_code = {1, 1};
  unbounded.col_upper = {0, 0};
  unbounded.row_code = {1};
  unbounded.row_upper = {0};
  const struct {
    const char* name;
    ToyProblem toy;
    int32_t expected;
  } cases[] = {{"infeasible", infeasible, kl::BARRIER_INFEASIBLE}, {"unbounded", unbounded, kl::BARRIER_UNBOUNDED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(c.toy);
    const RunResult r = h.run();
    EXPECT_NE(r.status, kl::BARRIER_OPTIMAL);
    EXPECT_TRUE(r.status == c.expected || r.status == kl::BARRIER_INFEASIBLE || r.status == kl::BARRIER_UNBOUNDED)
        << kl::barrier_status_text(r.status);
  }
}

TEST(BarrierIterationDriver, IterationLimitStopsWithoutVerdict) {
  Harness h(small_lp());
  h.sys.params.MAXITER = 2;
  const RunResult r = h.run();
  EXPECT_EQ(r.status, kl::BARRIER_STOPPED) << kl::barrier_status_text(r.status);
  EXPECT_LE(r.iterations, 3);
}

// The keys the driver changes come back on every exit, whatever path ran.
TEST(BarrierIterationDriver, ChangedKeysAreRestoredOnEveryExit) {
  // Set-up failures end before any iteration with a negative status and
  // leave the objective output alone.
  enum End { kOptimal, kStopped, kSetUpFailure };
  struct Case {
    const char* name;
    ToyProblem toy;
    int32_t maxiter;
    int32_t setlam;
    int32_t regularize;
    int32_t spare_space;  // < 0: the fixture's space; else 2 x stored entries + this
    End end;
  };
  const Case cases[] = {
      {"optimal", small_lp(), 199, 0, 27, -1, kOptimal},
      {"quadratic", small_qp(0.5), 199, 0, 27, -1, kOptimal},
      {"augmented by SETLAM", small_lp(), 199, 1, 27, -1, kOptimal},
      {"augmented by a free column", small_lp(), 199, 0, 26, -1, kOptimal},
      {"equality rows regularised", small_lp(), 199, 0, 27 | 0x40, -1, kOptimal},
      {"iteration limit", small_lp(), 1, 0, 27, -1, kStopped},
      {"dense-column analysis short of space", small_lp(), 199, 0, 27, 0, kSetUpFailure},
      {"analysis short of space, retried", small_lp(), 199, 0, 27, 3, kSetUpFailure},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(c.toy);
    auto& p = h.sys.params;
    p.MAXITER = c.maxiter;
    p.SETLAM = c.setlam;
    p.MAXCCORR = -3;
    p.MAXREF = 7;
    p.BARGROW = 500.0;
    p.TOPT1 = 2e-9;
    p.REGULARIZE = c.regularize;
    p.MINCORR = -1;
    if (c.spare_space >= 0) p.factor_space = 2 * (p.matrix_nz + p.quad_nz) + c.spare_space;
    const RunResult r = h.run();
    EXPECT_EQ(r.params.SETLAM, c.setlam);
    EXPECT_EQ(r.params.MAXCCORR, -3);
    EXPECT_EQ(r.params.MAXREF, 7);
    EXPECT_EQ(r.params.BARGROW, 500.0);
    EXPECT_EQ(r.params.TOPT1, 2e-9);
    EXPECT_EQ(r.params.REGULARIZE, c.regularize);
    EXPECT_EQ(r.params.MINCORR, -1);
    switch (c.end) {
      case kOptimal:
        expect_optimal_solution(h.toy, r, 1e-6);
        break;
      case kStopped:
        EXPECT_EQ(r.status, kl::BARRIER_STOPPED) << kl::barrier_status_text(r.status);
        break;
      case kSetUpFailure:
        EXPECT_LT(r.status, 0) << kl::barrier_status_text(r.status);
        EXPECT_EQ(r.iterations, 0);
        EXPECT_EQ(r.objective, 12345.0);
        break;
    }
  }
}

// Every array comes back in its entry order: the costs, bounds and codes
// are those the toy was built with.
TEST(BarrierIterationDriver, ArraysReturnInEntryOrder) {
  const ToyProblem t = small_lp();
  Harness h(t);
  h.run();
  for (int32_t j = 1; j <= t.n; ++j) {
    EXPECT_EQ(h.cost[j], t.c[j - 1]);
    EXPECT_EQ(h.col_code[j], t.col_code[j - 1]);
  }
  for (int32_t i = 1; i <= t.m; ++i) {
    EXPECT_EQ(h.rhs[i], t.b[i - 1]);
    EXPECT_EQ(h.row_code[i], t.row_code[i - 1]);
  }
  EXPECT_EQ(h.upper[1], 3.0);
  EXPECT_EQ(h.upper[t.n + 2], 5.0);
}

int32_t stop_at_once() { return 1; }

// A stop by the barrier-log callback: no verdict, the objective output is
// left as it was, and the attributes hold the stopping iteration's values.
TEST(BarrierIterationDriver, CallbackStopIsNotAnOptimum) {
  KLDEFINEBLENTRY(stop_at_once);
  Harness h(small_lp());
  const RunResult r = h.run(777.0);
  KLDEFINEBLENTRY(nullptr);
  EXPECT_EQ(r.status, kl::BARRIER_GO_ON);
  EXPECT_EQ(r.objective, 777.0);
  EXPECT_EQ(r.iterations, 0);
  EXPECT_EQ(kl::barrier_int_attributes[1], 0);
}

// Stops once the two objectives of the pass agree: the pass whose test
// reports the optimum.
int32_t stop_when_gap_closed() {
  const double primal = kl::barrier_double_attributes[1];
  const double dual = kl::barrier_double_attributes[2];
  return std::fabs(primal - dual) <= 1e-9 * (1.0 + std::fabs(primal)) ? 1 : 0;
}

// A stop requested in the pass whose test found the optimum keeps the
// verdict and carries the optimum's own objective, not the value the output
// held before the run.
TEST(BarrierIterationDriver, CallbackStopAtTheOptimumWritesItsObjective) {
  KLDEFINEBLENTRY(stop_when_gap_closed);
  Harness h(small_lp());
  const RunResult r = h.run(777.0);
  KLDEFINEBLENTRY(nullptr);
  ASSERT_EQ(r.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(r.status);
  EXPECT_NEAR(r.objective, -4.8, 1e-6);
  expect_optimal_solution(h.toy, r, 1e-6);
}

using BarrierIterationLog = kltest::LibrarySession;

// print_word < 0: the analysis line with a blank line after it, the header,
// and one line per test starting from iteration 0, objectives in the
// problem's own sense; print_word 0: nothing at all.
TEST_F(BarrierIterationLog, LinesFollowThePrintWord) {
  for (int32_t word : {-1, 0}) {
    SCOPED_TRACE(word);
    Harness h(small_lp());
    h.sys.params.print_word = word;
    h.sys.params.REGULARIZE = 27;
    kl::barrier_int_attributes[3] = -7;
    kltest::captured_lines().clear();
    const RunResult r = h.run();
    ASSERT_EQ(r.status, kl::BARRIER_OPTIMAL);
    const auto lines = kltest::text_lines();
    if (word == 0) {
      EXPECT_TRUE(lines.empty());
      EXPECT_EQ(kl::barrier_int_attributes[3], -7) << "3003 is stored with the analysis line only";
      continue;
    }
    EXPECT_TRUE(kltest::any_line_contains("Matrix ordering - Dense cols.:"));
    EXPECT_TRUE(kltest::any_line_contains("  Its   P.inf      D.inf      U.inf      Primal obj.     Dual obj.      Compl."));
    EXPECT_TRUE(kltest::any_line_contains("   0  "));
    EXPECT_GT(kl::barrier_int_attributes[3], 0);
    EXPECT_EQ(kl::barrier_int_attributes[1], r.iterations);
    EXPECT_NEAR(kl::barrier_double_attributes[1], r.objective, 1e-9);
  }
}

// The augmented path (asked for by SETLAM, or forced by a free column of a
// linear problem whose free columns are not regularised) has no analysis
// line and no trial factorisation; the iterations still log.
TEST_F(BarrierIterationLog, AugmentedPathHasNoAnalysisLine) {
  for (const auto& [setlam, regularize] : {std::pair{1, 27}, std::pair{0, 26}}) {
    SCOPED_TRACE(setlam);
    Harness h(small_lp());
    h.sys.params.print_word = -1;
    h.sys.params.SETLAM = setlam;
    h.sys.params.REGULARIZE = regularize;
    kltest::captured_lines().clear();
    const RunResult r = h.run();
    EXPECT_EQ(r.status, kl::BARRIER_OPTIMAL);
    EXPECT_FALSE(kltest::any_line_contains("Matrix ordering"));
    EXPECT_TRUE(kltest::any_line_contains("   0  "));
  }
}

}  // namespace

namespace {

// The corrector and refinement budgets follow the work per factor entry F:
// correctors up to the halvings that bring 0.1 F below 1, refinement steps
// MAXREF x log2(0.2 F + 1); a key of 0 or below is a fixed count.
TEST(BarrierIterationBudgets, FollowTheWorkPerFactorEntry) {
  struct Case {
    int32_t maxccorr, minccorr, maxref;
    double flops;
    int64_t nonzeros;
    int32_t want_correctors, want_refinement;
  };
  const Case cases[] = {
      {9, 0, 5, 5.0, 1, 1, 5},        // F 5: r 0.5 -> 1 corrector; log2(2) = 1
      {9, 0, 5, 40.0, 1, 3, 15},      // F 40: r 4 takes 3 halvings; 5 log2(9) = 15.8
      {2, 0, 5, 400.0, 1, 2, 31},     // many halvings, capped by the key
      {-3, 0, 5, 1e6, 1, 3, 88},      // negative: exactly 3
      {-3, 5, 5, 1e6, 1, 5, 88},      // raised to MINCCORR
      {9, 0, 0, 1e6, 1, 9, 0},        // MAXREF 0: none
      {9, 0, -4, 1e6, 1, 9, 4},       // negative: its magnitude
      {9, 0, 5, 7.0, 0, 1, 6},        // no factor entries: taken as 1; 5 log2(2.4) = 6.3
      {9, 0, 1, 0.0, 10, 1, 0},       // no work: below 1 becomes 0
  };
  for (const Case& c : cases) {
    kl::barrier_params p;
    kl::set_barrier_defaults(p);
    p.MAXCCORR = c.maxccorr;
    p.MINCCORR = c.minccorr;
    p.MAXREF = c.maxref;
    kl::barrier_iteration::set_budgets(p, c.flops, c.nonzeros);
    const double f = c.flops / static_cast<double>(c.nonzeros == 0 ? 1 : c.nonzeros);
    SCOPED_TRACE(f);
    EXPECT_EQ(p.MAXCCORR, c.want_correctors);
    EXPECT_EQ(p.MAXREF, c.want_refinement);
  }
}

}  // namespace
