// KLPIVOT, KLGETPIVOTS and KLGETBASICPIV: the ratio test's choice and the
// objective it promises are what the pivot then delivers, bound flips and
// decreasing entering variables move the values the right way, the values
// kept by the updates equal a fresh factorisation's, and a refused pivot
// changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/access_fixture.h"
#include "simplex/basis_access.h"
#include "simplex/pivot_access.h"
#include "factor/simplex_state.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using kltest::AccessProblem;

// min -x - y: x + y <= 4, 0 <= x <= 3, 0 <= y <= 2.
AccessProblem boxed_pair() {
  AccessProblem p;
  p.row_types = "L";
  p.rhs = {4};
  p.columns = {{{{0, 1.0}}, 0, 3, -1}, {{{0, 1.0}}, 0, 2, -1}};
  return p;
}

// max y: y <= 2, 3y <= 6, 2y <= 5: two rows tie at the ratio 2.
AccessProblem tied_rows() {
  AccessProblem p;
  p.row_types = "LLL";
  p.rhs = {2, 6, 5};
  p.columns = {{{{0, 1.0}, {1, 3.0}, {2, 2.0}}, 0, kltest::kAccessInf, 1}};
  return p;
}

// Caller index of a position (IFDBG 1).
int32_t column_position(int32_t column) { return store.first_col + column - 1; }
int32_t row_position(int32_t row) { return row; }

// Value of every position as the basis and the bounds give it (stored form).
std::vector<double> stored_values() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  std::vector<double> v(static_cast<size_t>(nseq) + 1, 0.0);
  for (int32_t p = 1; p <= nseq; ++p) {
    const uint32_t s = static_cast<uint32_t>(status[p]);
    if ((s & PS_BASIC) != 0) continue;
    if ((s & PS_NONBASIC_BETWEEN) != 0)
      v[static_cast<size_t>(p)] = x[p];
    else if ((s & PS_AT_UPPER) != 0)
      v[static_cast<size_t>(p)] = upper[p];
    else if ((s & PS_FINITE_LOWER) != 0)
      v[static_cast<size_t>(p)] = lower[p];
  }
  for (int32_t r = 1; r <= nrow; ++r) v[static_cast<size_t>(header[r])] = basic[r];
  return v;
}

// The same values in the caller's terms, by position from 0.
std::vector<double> caller_values() {
  const std::vector<double> v = stored_values();
  std::vector<double> out;
  for (int32_t p = 1; p <= nseq; ++p) {
    const int32_t e = scale_exponent(int_array(ARR_POS_STATUS)[p]);
    out.push_back(v[static_cast<size_t>(p)] * (p <= nrow ? scale_power(128 - e) : scale_power(e)));
  }
  return out;
}

// The values and objective kept by the pivot updates against those of a
// fresh factorisation of the same basis.
void expect_updates_match_fresh_invert() {
  const std::vector<double> kept = stored_values();
  const double kept_objective = objval;
  problem_flags &= ~PF_FACTOR_VALID;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  const std::vector<double> fresh = stored_values();
  for (size_t p = 1; p < kept.size(); ++p) EXPECT_NEAR(kept[p], fresh[p], 1e-9 * (1.0 + std::fabs(fresh[p]))) << p;
  EXPECT_NEAR(kept_objective, objval, 1e-9 * (1.0 + std::fabs(objval)));
}

struct Pivots {
  std::vector<int32_t> list;
  std::vector<double> solution;
  double objective = -1.0;
  int32_t count = -1;
  int32_t get(int32_t entering, int32_t maximum) {
    list.assign(static_cast<size_t>(std::max(maximum, 1)), -7);
    solution.assign(static_cast<size_t>(nseq), -7.0);
    return KLGETPIVOTS(entering, list.data(), solution.data(), &objective, &count, maximum);
  }
};

std::vector<int32_t> basic_pivots() {
  std::vector<int32_t> header(static_cast<size_t>(nrow), -7);
  EXPECT_EQ(KLGETBASICPIV(header.data()), 0);
  return header;
}

class PivotAccess : public kltest::AccessTest {
 protected:
  void SetUp() override {
    kltest::AccessTest::SetUp();
    pivot_access_stats = PivotAccessStats{};
  }
};

// KLGETPIVOTS with maximum 1 names the ratio test's choice, the objective
// and the values after the step; KLPIVOT with that choice delivers them.
TEST_F(PivotAccess, PivotDeliversWhatGetPivotsPromised) {
  struct Step {
    int32_t entering;        // a column
    int32_t leaving_column;  // the column that leaves, or -1 for the row's slack
    double expected_objective;
  };
  // From the slack basis of boxed_pair: x flips to 3; y enters and the row's
  // slack leaves; x, now decreasing from 3, enters and y leaves at 2.
  const Step steps[] = {
      {0, 0, -3.0},
      {1, -1, -4.0},
      {0, 1, -4.0},
  };
  for (const bool scaled : {false, true}) {
    SCOPED_TRACE(scaled ? "scaled" : "unscaled");
    KLSETICV(KLIC_IFSCAL, scaled ? 35 : 0);
    pivot_access_stats = PivotAccessStats{};
    ASSERT_EQ(load(boxed_pair()), 0);
    if (scaled) {
      const int32_t rows[] = {2};
      const int32_t columns[] = {-1, 3};
      ASSERT_EQ(KLSCALE(rows, columns), 0);
    }
    for (const Step& s : steps) {
      SCOPED_TRACE(s.entering);
      const int32_t entering = column_position(s.entering);
      Pivots p;
      ASSERT_EQ(p.get(entering, 1), 0);
      ASSERT_EQ(p.count, 1);
      EXPECT_EQ(p.list[0], s.leaving_column < 0 ? row_position(0) : column_position(s.leaving_column));
      EXPECT_NEAR(p.objective, s.expected_objective, 1e-12);
      ASSERT_EQ(KLPIVOT(entering, p.list[0]), 0);
      EXPECT_NEAR(objval, p.objective, 1e-12);
      const std::vector<double> after = caller_values();
      for (size_t k = 0; k < after.size(); ++k) EXPECT_NEAR(after[k], p.solution[k], 1e-12) << k;
      expect_updates_match_fresh_invert();
    }
    // x basic at 2, y at its upper bound 2, the row tight.
    std::vector<int32_t> rows(1), columns(2);
    ASSERT_EQ(KLIGETBASIS(rows.data(), columns.data()), 0);
    EXPECT_EQ(rows[0], BASIS_AT_LOWER);
    EXPECT_EQ(columns, (std::vector<int32_t>{BASIS_BASIC, BASIS_AT_UPPER}));
    const std::vector<double> v = caller_values();
    EXPECT_NEAR(v[1], 2.0, 1e-12);
    EXPECT_NEAR(v[2], 2.0, 1e-12);
    EXPECT_EQ(basic_pivots(), (std::vector<int32_t>{column_position(0)}));
    EXPECT_EQ(pivot_access_stats.bound_flips, 1);
    EXPECT_EQ(pivot_access_stats.pivots, 2);
  }
}

// Candidates within the first choice's relaxed ratio: the two tied rows,
// not the one at ratio 2.5.
TEST_F(PivotAccess, GetPivotsListsTheTiedCandidates) {
  ASSERT_EQ(load(tied_rows()), 0);
  const int32_t y = column_position(0);
  Pivots p;
  ASSERT_EQ(p.get(y, 3), 0);
  ASSERT_EQ(p.count, 2);
  std::vector<int32_t> listed(p.list.begin(), p.list.begin() + 2);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<int32_t>{0, 1}));
  EXPECT_NEAR(p.objective, 2.0, 1e-12);
  EXPECT_NEAR(p.solution[static_cast<size_t>(y)], 2.0, 1e-12);
  EXPECT_NEAR(p.solution[2], 1.0, 1e-12);
  ASSERT_EQ(p.get(y, 1), 0);
  EXPECT_EQ(p.count, 1);
  // No pivot was made: the basis is still the slack basis.
  EXPECT_EQ(basic_pivots(), (std::vector<int32_t>{0, 1, 2}));
}

// At an optimum there is no unbounded column, also after a query that ran
// the ratio test; an entering variable free to grow lists nothing.
TEST_F(PivotAccess, UnboundedIndexAfterQueries) {
  AccessProblem p = kltest::production_with_extra_column();
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMAXIM("p"), 0);
  int32_t index = 7;
  EXPECT_EQ(KLGETUNB(&index), 0);
  EXPECT_EQ(index, -1);
  std::vector<int32_t> rows(2), columns(3);
  ASSERT_EQ(KLIGETBASIS(rows.data(), columns.data()), 0);
  for (int32_t j = 0; j < 3; ++j) {
    if (columns[static_cast<size_t>(j)] == BASIS_BASIC) continue;
    Pivots q;
    ASSERT_EQ(q.get(column_position(j), 2), 0);
  }
  EXPECT_EQ(KLGETUNB(&index), 0);
  EXPECT_EQ(index, -1);

  // min -x with x - y <= 1: y can grow without limit along x = 1 + y.
  AccessProblem ray;
  ray.row_types = "L";
  ray.rhs = {1};
  ray.columns = {{{{0, 1.0}}, 0, kltest::kAccessInf, -1}, {{{0, -1.0}}, 0, kltest::kAccessInf, 0}};
  ASSERT_EQ(load(ray), 0);
  Pivots q;
  ASSERT_EQ(q.get(column_position(1), 2), 0);
  EXPECT_EQ(q.count, 0);
}

// Every refused pivot leaves the basis, the values and the objective alone.
TEST_F(PivotAccess, RefusedPivotsChangeNothing) {
  KLSETICV(KLIC_NRXTRA, 2);
  ASSERT_EQ(load(boxed_pair()), 0);
  KLSETICV(KLIC_NRXTRA, 0);
  // y basic in place of the slack, x at its lower bound.
  ASSERT_EQ(KLPIVOT(column_position(1), row_position(0)), 0);
  const std::vector<int32_t> header = basic_pivots();
  const std::vector<double> values = stored_values();
  const double objective = objval;
  struct Case {
    const char* name;
    int32_t entering;
    int32_t leaving;
    int32_t message;
  };
  const Case cases[] = {
      {"entering below the positions", -1, 0, 425},
      {"entering beyond the positions", nseq, 0, 425},
      {"entering a spare row", nrow, 0, 425},
      {"entering basic", column_position(1), column_position(1), 425},
      {"leaving not basic", column_position(0), row_position(0), 426},
      {"leaving a spare row", column_position(0), nrow + 1, 426},
      {"flip of a free-above variable", row_position(0), row_position(0), 426},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kltest::captured_lines().clear();
    EXPECT_EQ(KLPIVOT(c.entering, c.leaving), KL_STATUS_REPORTED);
    EXPECT_EQ(error_number, c.message);
    EXPECT_EQ(error_value, c.entering);
    EXPECT_FALSE(kltest::text_lines().empty());
    EXPECT_EQ(basic_pivots(), header);
    EXPECT_EQ(stored_values(), values);
    EXPECT_EQ(objval, objective);
  }
  Pivots p;
  EXPECT_EQ(p.get(column_position(1), 1), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 425);
}

// An update the factor refuses undoes the pivot: the basis, the values and
// the objective are those before the call, and the next pivot works.
TEST_F(PivotAccess, FailedFactorUpdateIsUndone) {
  ASSERT_EQ(load(kltest::bounded_transport(2, 3)), 0);
  ASSERT_EQ(KLPIVOT(column_position(0), row_position(2)), 0);
  const std::vector<int32_t> header = basic_pivots();
  const std::vector<double> values = stored_values();
  const double objective = objval;
  std::vector<int32_t> rows(5), columns(6);
  ASSERT_EQ(KLIGETBASIS(rows.data(), columns.data()), 0);

  // A negative tolerance fails the update's stability test whatever the
  // new diagonal, and INVMIN 0 makes that final.
  const double ztolft = dcv(dc::ZTOLFT);
  dcv(dc::ZTOLFT) = -1.0;
  KLSETICV(KLIC_INVMIN, 0);
  EXPECT_EQ(KLPIVOT(column_position(5), row_position(4)), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 426);
  EXPECT_EQ(pivot_access_stats.rollbacks, 1);
  dcv(dc::ZTOLFT) = ztolft;
  KLSETICV(KLIC_INVMIN, 3);

  EXPECT_EQ(basic_pivots(), header);
  EXPECT_EQ(stored_values(), values);
  EXPECT_EQ(objval, objective);
  std::vector<int32_t> rows_after(5), columns_after(6);
  ASSERT_EQ(KLIGETBASIS(rows_after.data(), columns_after.data()), 0);
  EXPECT_EQ(rows_after, rows);
  EXPECT_EQ(columns_after, columns);
  ASSERT_EQ(KLPIVOT(column_position(5), row_position(4)), 0);
  expect_updates_match_fresh_invert();
}

// A walk of pivots chosen by KLGETPIVOTS, through refactorisations and with
// either update of the factor, or the two in turn (IFFTUP changed between
// calls: the file never holds both forms at once): the kept values never
// drift from a fresh factorisation's, and the walk ends at the optimum the
// optimiser finds.
TEST_F(PivotAccess, PivotWalkStaysConsistent) {
  constexpr int32_t kAlternate = -1;
  for (const int32_t ifftup : {1, 0, kAlternate}) {
    SCOPED_TRACE(ifftup);
    KLSETICV(KLIC_IFFTUP, ifftup == kAlternate ? 1 : ifftup);
    KLSETICV(KLIC_INVFRQ, ifftup == kAlternate ? 6 : 4);
    const AccessProblem problem = kltest::bounded_transport(3, 4);
    ASSERT_EQ(load(problem), 0);
    int32_t made = 0;
    for (int32_t round = 0; round < 3; ++round) {
      for (int32_t j = 0; j < problem.ncols(); ++j) {
        const int32_t q = column_position(j);
        if ((int_array(ARR_POS_STATUS)[q + 1] & PS_BASIC) != 0) continue;
        Pivots p;
        ASSERT_EQ(p.get(q, 1), 0);
        if (p.count == 0) continue;
        ASSERT_EQ(KLPIVOT(q, p.list[0]), 0) << j;
        EXPECT_NEAR(objval, p.objective, 1e-9 * (1.0 + std::fabs(p.objective)));
        ++made;
        if (ifftup == kAlternate) KLSETICV(KLIC_IFFTUP, made % 3 == 0 ? 1 : 0);
      }
    }
    EXPECT_GT(made, 10);
    EXPECT_GT(pivot_access_stats.refactorisations, 0);
    expect_updates_match_fresh_invert();
    pivot_access_stats = PivotAccessStats{};
  }
  KLSETICV(KLIC_IFFTUP, 1);
  KLSETICV(KLIC_INVFRQ, -1);
}

TEST_F(PivotAccess, BasisHeaderNeedsABasis) {
  std::vector<int32_t> header(2, -7);
  EXPECT_EQ(KLGETBASICPIV(header.data()), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 422);
  EXPECT_TRUE(kltest::text_lines().empty());
  ASSERT_EQ(load(kltest::production_with_extra_column()), 0);
  EXPECT_EQ(basic_pivots(), (std::vector<int32_t>{0, 1}));
  problem_flags |= PF_NO_BASIS;
  EXPECT_EQ(KLGETBASICPIV(header.data()), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 422);
  problem_flags &= ~PF_NO_BASIS;
}

}  // namespace
