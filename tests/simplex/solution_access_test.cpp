// KLSOLUTION, KLGETINF and KLGETIIS: the solution file and the memory path
// give the same caller values for either sense and with scaling, a file that
// cannot be read whole is a failure rather than partial data, and the
// infeasibility lists agree with the solution they describe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/frame.h"
#include "simplex/access_fixture.h"
#include "simplex/caller_solution_check.h"

namespace {

using namespace kl;
using kltest::AccessProblem;
using kltest::CallerSolution;

class SolutionAccess : public kltest::AccessTest {};

void expect_same(const std::vector<double>& a, const std::vector<double>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(a[k], b[k], 1e-12 * (1.0 + std::fabs(a[k]))) << what << " " << k;
}

// File and memory agree, and both satisfy the optimality conditions in the
// caller's terms, for both senses and with and without scaling.
TEST_F(SolutionAccess, FileAndMemoryGiveTheSameOptimalSolution) {
  for (const bool maximise : {false, true}) {
    for (const int32_t scaling : {0, 35}) {
      SCOPED_TRACE(std::string(maximise ? "max" : "min") + (scaling != 0 ? " scaled" : ""));
      KLSETICV(KLIC_IFSCAL, scaling);
      const AccessProblem p = maximise ? kltest::mixed_rows().negated() : kltest::mixed_rows();
      ASSERT_EQ(load(p), 0);
      ASSERT_EQ(maximise ? KLMAXIM("p") : KLMINIM("p"), 0);

      CallerSolution file(p.nrows(), p.ncols());
      ASSERT_EQ(file.fetch(), 0);
      set_ifmem(0x10);
      CallerSolution memory(p.nrows(), p.ncols());
      ASSERT_EQ(memory.fetch(), 0);
      set_ifmem(0);
      expect_same(file.x, memory.x, "x");
      expect_same(file.slack, memory.slack, "slack");
      expect_same(file.dual, memory.dual, "dual");
      expect_same(file.reduced_cost, memory.reduced_cost, "reduced cost");

      kltest::CallerProblem problem;
      problem.read();
      const kltest::CallerCheck check = kltest::check_caller_solution(problem, file, maximise ? -1.0 : 1.0);
      EXPECT_TRUE(check.ok(1e-9)) << check.report();

      // The known optimum; maximising -f gives the same point with every
      // dual and reduced cost negated.
      const double s = maximise ? -1.0 : 1.0;
      EXPECT_NEAR(file.x[0], 1.5, 1e-9);
      EXPECT_NEAR(file.x[1], 0.5, 1e-9);
      EXPECT_NEAR(file.x[3], 3.0, 1e-9);
      EXPECT_NEAR(file.slack[2], -2.0, 1e-9);  // a G row's slack is at most 0
      EXPECT_NEAR(file.slack[4], 2.0, 1e-9);
      EXPECT_NEAR(file.dual[0], 1.5 * s, 1e-9);
      EXPECT_NEAR(file.dual[1], -0.5 * s, 1e-9);
      EXPECT_NEAR(file.reduced_cost[2], 1.5 * s, 1e-9);
    }
  }
}

// IFOLDS gives the stored orientation times the sense factor on both paths:
// for either sense the duals come out negated and the reduced costs as they are.
TEST_F(SolutionAccess, OldSignConvention) {
  for (const bool maximise : {false, true}) {
    SCOPED_TRACE(maximise ? "max" : "min");
    const AccessProblem p = maximise ? kltest::mixed_rows().negated() : kltest::mixed_rows();
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(maximise ? KLMAXIM("p") : KLMINIM("p"), 0);
    CallerSolution plain(p.nrows(), p.ncols());
    ASSERT_EQ(plain.fetch(), 0);
    KLSETICV(KLIC_IFOLDS, 1);
    CallerSolution file(p.nrows(), p.ncols());
    ASSERT_EQ(file.fetch(), 0);
    set_ifmem(0x10);
    CallerSolution memory(p.nrows(), p.ncols());
    ASSERT_EQ(memory.fetch(), 0);
    set_ifmem(0);
    KLSETICV(KLIC_IFOLDS, 0);
    expect_same(file.dual, memory.dual, "dual");
    expect_same(file.reduced_cost, memory.reduced_cost, "reduced cost");
    for (size_t i = 0; i < plain.dual.size(); ++i) EXPECT_EQ(file.dual[i], -plain.dual[i]) << i;
    expect_same(file.reduced_cost, plain.reduced_cost, "reduced cost");
  }
}

TEST_F(SolutionAccess, NullArraysAreSkipped) {
  const AccessProblem p = kltest::mixed_rows();
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  std::vector<double> x(static_cast<size_t>(p.ncols()));
  EXPECT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  EXPECT_NEAR(x[0], 1.5, 1e-9);
  set_ifmem(0x10);
  EXPECT_EQ(KLSOLUTION(nullptr, nullptr, nullptr, nullptr), 0);
}

// A solution file that is missing, cut short or of another problem is an
// error with status 2; nothing is returned as success.
TEST_F(SolutionAccess, UnreadableSolutionFileIsAFileError) {
  const AccessProblem p = kltest::mixed_rows();
  CallerSolution s(p.nrows(), p.ncols());

  ASSERT_EQ(load(p), 0);
  EXPECT_EQ(s.fetch(), KL_STATUS_FILE_ERROR) << "no file yet";
  EXPECT_EQ(error_number, 122);

  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(s.fetch(), 0);
  const auto full_size = std::filesystem::file_size(solution_file());
  for (const std::uintmax_t cut : {std::uintmax_t{8 * 10}, full_size - 8}) {
    SCOPED_TRACE(cut);
    ASSERT_EQ(KLMINIM("p"), 0);
    std::filesystem::resize_file(solution_file(), cut);
    EXPECT_EQ(s.fetch(), KL_STATUS_FILE_ERROR);
    EXPECT_EQ(error_number, 122);
  }

  // The file of the problem before a row was dropped: one record too many.
  ASSERT_EQ(KLMINIM("p"), 0);
  AccessProblem smaller = p;
  smaller.row_types.pop_back();
  smaller.rhs.pop_back();
  smaller.ranges.pop_back();
  for (kltest::AccessColumn& c : smaller.columns)
    if (!c.entries.empty() && c.entries.back().first == 4) c.entries.pop_back();
  ASSERT_EQ(load(smaller), 0);
  CallerSolution t(smaller.nrows(), smaller.ncols());
  EXPECT_EQ(t.fetch(), KL_STATUS_FILE_ERROR);
}

TEST_F(SolutionAccess, MemoryPathNeedsACurrentSolution) {
  ASSERT_EQ(load(kltest::mixed_rows()), 0);
  for (const int32_t ifmem : {0x8, 0x10}) {
    set_ifmem(ifmem);
    EXPECT_EQ(KLSOLUTION(nullptr, nullptr, nullptr, nullptr), KL_STATUS_REPORTED);
    EXPECT_EQ(error_number, 422);
  }
  set_ifmem(0);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(KLSOLUTION(nullptr, nullptr, nullptr, nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 91);
}

struct InfeasibilityLists {
  int32_t counts[4] = {-1, -1, -1, -1};
  std::vector<int32_t> lists[4];
  InfeasibilityLists(int32_t nrows, int32_t ncols) {
    for (int k = 0; k < 4; ++k) lists[k].assign(static_cast<size_t>(k % 2 == 0 ? nrows : ncols), -7);
  }
  int32_t fetch(bool internal) {
    auto* f = internal ? KLIGETINF : KLGETINF;
    return f(&counts[0], &counts[1], &counts[2], &counts[3], lists[0].data(), lists[1].data(), lists[2].data(),
             lists[3].data());
  }
  std::vector<int32_t> listed(int k) const {
    return std::vector<int32_t>(lists[k].begin(), lists[k].begin() + counts[k]);
  }
};

TEST_F(SolutionAccess, NoInfeasibilitiesAtAnOptimum) {
  const AccessProblem p = kltest::mixed_rows();
  KLSETICV(KLIC_IFSCAL, 35);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  for (const int32_t ifmem : {0, 0x8}) {
    for (const bool internal : {false, true}) {
      SCOPED_TRACE(std::to_string(ifmem) + (internal ? " I-form" : " plain"));
      set_ifmem(ifmem);
      InfeasibilityLists l(p.nrows(), p.ncols());
      ASSERT_EQ(l.fetch(internal), 0);
      for (int k = 0; k < 4; ++k) EXPECT_EQ(l.counts[k], 0) << k;
    }
  }
}

// Stopped after a few iterations: the lists name exactly the rows and
// columns that the solution and its basis show to be infeasible, whichever
// source answers.
TEST_F(SolutionAccess, InfeasibilityListsDescribeAnUnfinishedSolution) {
  for (const bool maximise : {false, true}) {
    SCOPED_TRACE(maximise ? "max" : "min");
    AccessProblem p = kltest::bounded_transport(4, 6);
    if (maximise) p = p.negated();
    ASSERT_EQ(load(p), 0);
    KLSETICV(KLIC_ITRLIM, 2);
    KLSETICV(KLIC_ICRASH, 0);
    ASSERT_EQ(maximise ? KLMAXIM("p") : KLMINIM("p"), 0);
    CallerSolution s(p.nrows(), p.ncols());
    ASSERT_EQ(s.fetch(), 0);
    std::vector<int32_t> row_codes(static_cast<size_t>(p.nrows()));
    std::vector<int32_t> column_codes(static_cast<size_t>(p.ncols()));
    ASSERT_EQ(KLGETBASIS(row_codes.data(), column_codes.data()), 0);

    // G rows whose slack is positive are short of their right-hand side;
    // a non-basic column whose reduced cost improves the objective away
    // from its bound is dual infeasible (a slack's reduced cost is -y).
    const double sense = maximise ? -1.0 : 1.0;
    const double tol = 1e-7;
    const auto improving = [&](int32_t code, double d) {
      if (code == 1) return false;
      return code == 0 ? sense * d < -tol : sense * d > tol;
    };
    std::vector<int32_t> primal_rows, dual_rows, dual_columns;
    for (int32_t i = 0; i < p.nrows(); ++i) {
      if (p.row_types[static_cast<size_t>(i)] == 'G' && s.slack[static_cast<size_t>(i)] > tol) primal_rows.push_back(i);
      if (improving(row_codes[static_cast<size_t>(i)], -s.dual[static_cast<size_t>(i)])) dual_rows.push_back(i);
    }
    for (int32_t j = 0; j < p.ncols(); ++j)
      if (improving(column_codes[static_cast<size_t>(j)], s.reduced_cost[static_cast<size_t>(j)]))
        dual_columns.push_back(j);
    EXPECT_FALSE(primal_rows.empty()) << "the test needs an infeasible point";
    EXPECT_FALSE(dual_columns.empty() && dual_rows.empty()) << "the test needs a point that is not optimal";

    for (const bool internal : {false, true}) {
      SCOPED_TRACE(internal ? "I-form" : "plain");
      InfeasibilityLists l(p.nrows(), p.ncols());
      ASSERT_EQ(l.fetch(internal), 0);
      EXPECT_EQ(l.listed(0), primal_rows);
      EXPECT_EQ(l.counts[1], 0);
      EXPECT_EQ(l.listed(2), dual_rows);
      EXPECT_EQ(l.listed(3), dual_columns);
    }
    // The memory path finds the same primal infeasibilities.
    set_ifmem(0x8);
    InfeasibilityLists m(p.nrows(), p.ncols());
    ASSERT_EQ(m.fetch(false), 0);
    EXPECT_EQ(m.listed(0), primal_rows);
    EXPECT_EQ(m.counts[1], 0);
    set_ifmem(0);
    KLSETICV(KLIC_ITRLIM, 2147483647);
  }
}

TEST_F(SolutionAccess, InfeasibleSetListing) {
  int32_t ncols = -1, nrows = -1;
  EXPECT_EQ(KLGETIIS(&ncols, &nrows, nullptr, nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 91);
  EXPECT_EQ(ncols, -1);

  const AccessProblem p = kltest::mixed_rows();
  ASSERT_EQ(load(p), 0);
  EXPECT_EQ(KLGETIIS(&ncols, &nrows, nullptr, nullptr), 0);
  EXPECT_EQ(ncols, 0);
  EXPECT_EQ(nrows, 0);

  // The marks the infeasible-set search leaves, listed in the caller's base.
  int_array(ARR_POS_STATUS)[3] |= PS_PRESOLVE_TRACE;
  int_array(ARR_POS_STATUS)[store.first_col + 1] |= PS_PRESOLVE_TRACE;
  std::vector<int32_t> cols(4, -7), rows(5, -7);
  EXPECT_EQ(KLGETIIS(&ncols, &nrows, cols.data(), rows.data()), 0);
  ASSERT_EQ(ncols, 1);
  ASSERT_EQ(nrows, 1);
  EXPECT_EQ(cols[0], 1);
  EXPECT_EQ(rows[0], 2);
}

}  // namespace
