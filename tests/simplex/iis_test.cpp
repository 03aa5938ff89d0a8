// The infeasible set search: the sets found are irreducible, the limit NIIS
// is kept, and the problem and the controls come back as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/iis.h"
#include "factor/simplex_state.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;
using namespace kltest;

// Rows 0-1 (x1 + x2 <= 1, x1 + x2 >= 3) and rows 2-3 (x3 <= 2, x3 >= 5)
// conflict independently; row 4 couples the two groups but conflicts with
// nothing.
Problem two_conflicts() {
  Problem p;
  p.row_types = "LGLGL";
  p.rhs = {1, 3, 2, 5, 100};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}, {4, 1.0}}, 0, kInf, 1},
      {{{0, 1.0}, {1, 1.0}}, 0, kInf, 2},
      {{{2, 1.0}, {3, 1.0}, {4, 1.0}}, 0, kInf, -1},
  };
  return p;
}

// Feasible only through the column bound: x1 + x2 >= 4 with x1 <= 1, x2 <= 2.
Problem bound_conflict() {
  Problem p;
  p.row_types = "GL";
  p.rhs = {4, 10};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}}, 0, 1, 1},
      {{{0, 1.0}, {1, 2.0}}, 0, 2, 1},
  };
  return p;
}

std::string joined_text() {
  std::string all;
  for (const CapturedLine& line : captured_lines()) all += line.text + "\n";
  return all;
}

int32_t lp_status_now() {
  int32_t v = 0;
  KLGETIPV(1010, &v);
  return v;
}

class Iis : public kltest::LibrarySession {
 protected:
  int32_t load(const Problem& p) { return p.load(dir.file("iis").c_str()); }

  // The LP status of p with only the members of set kept: other rows become
  // N rows, other columns lose their bounds. Positions as the search gives
  // them (rows 1..nrow, then the columns from first_col).
  int32_t status_of_subset(const Problem& p, const std::vector<int32_t>& set, int32_t first_col) {
    Problem q = p;
    const int32_t rows = static_cast<int32_t>(p.row_types.size());
    for (int32_t i = 0; i < rows; ++i) {
      if (std::find(set.begin(), set.end(), i + 1) == set.end()) q.row_types[i] = 'N';
    }
    for (size_t j = 0; j < p.columns.size(); ++j) {
      q.columns[j].cost = 0.0;  // a feasibility question: no unbounded answer
      if (std::find(set.begin(), set.end(), first_col + static_cast<int32_t>(j)) != set.end()) continue;
      q.columns[j].lower = -kInf;
      q.columns[j].upper = kInf;
    }
    EXPECT_EQ(q.load(dir.file("check").c_str()), 0);
    KLMINIM("");
    return lp_status_now();
  }

  // Each set is infeasible, and dropping any one member makes it feasible
  // (so every proper subset is feasible). The sets are a copy: the loads of
  // the check clear the ones found for the problem.
  void expect_irreducible(const Problem& p, std::vector<std::vector<int32_t>> sets, int32_t first_col) {
    for (const std::vector<int32_t>& set : sets) {
      EXPECT_EQ(status_of_subset(p, set, first_col), 2);
      for (size_t k = 0; k < set.size(); ++k) {
        std::vector<int32_t> smaller = set;
        smaller.erase(smaller.begin() + static_cast<std::ptrdiff_t>(k));
        EXPECT_EQ(status_of_subset(p, smaller, first_col), 1) << "member " << set[k] << " not needed";
      }
    }
  }

  TempDir dir;
};

TEST_F(Iis, FindsEveryDisjointSetAndEachIsIrreducible) {
  const Problem p = two_conflicts();
  ASSERT_EQ(load(p), 0);
  const int32_t first_col = store.first_col;
  ASSERT_EQ(KLIIS(""), 0);
  const std::vector<std::vector<int32_t>> sets = iis_sets_found;
  ASSERT_EQ(sets.size(), 2u);
  int32_t count = 0;
  KLGETIPV(kIisSetCountAttribute, &count);
  EXPECT_EQ(count, 2);

  // KLGETIIS lists the last set found.
  int32_t ncols = -1, nrows = -1;
  ASSERT_EQ(KLGETIIS(&ncols, &nrows, nullptr, nullptr), 0);
  EXPECT_EQ(ncols, 0);
  EXPECT_EQ(nrows, static_cast<int32_t>(sets.back().size()));
  std::vector<int32_t> rows(static_cast<size_t>(nrows));
  ASSERT_EQ(KLGETIIS(&ncols, &nrows, nullptr, rows.data()), 0);
  for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(row_from_caller(rows[k]), sets.back()[k]);

  std::vector<std::vector<int32_t>> as_rows = sets;
  for (auto& s : as_rows) std::sort(s.begin(), s.end());
  std::sort(as_rows.begin(), as_rows.end());
  EXPECT_EQ(as_rows, (std::vector<std::vector<int32_t>>{{1, 2}, {3, 4}}));
  expect_irreducible(p, sets, first_col);
}

TEST_F(Iis, LimitOfOneListsOneSet) {
  const Problem p = two_conflicts();
  ASSERT_EQ(load(p), 0);
  const int32_t first_col = store.first_col;
  ASSERT_EQ(KLSETICV(ic::NIIS, 1), 0);
  ASSERT_EQ(KLIIS(""), 0);
  const std::vector<std::vector<int32_t>> sets = iis_sets_found;
  ASSERT_EQ(sets.size(), 1u);
  expect_irreducible(p, sets, first_col);
}

TEST_F(Iis, ColumnBoundIsMemberOfTheSet) {
  const Problem p = bound_conflict();
  ASSERT_EQ(load(p), 0);
  const int32_t first_col = store.first_col;
  ASSERT_EQ(KLIIS(""), 0);
  const std::vector<std::vector<int32_t>> sets = iis_sets_found;
  ASSERT_EQ(sets.size(), 1u);
  std::vector<int32_t> set = sets[0];
  std::sort(set.begin(), set.end());
  EXPECT_EQ(set, (std::vector<int32_t>{1, first_col, first_col + 1}));
  int32_t ncols = 0, nrows = 0;
  ASSERT_EQ(KLGETIIS(&ncols, &nrows, nullptr, nullptr), 0);
  EXPECT_EQ(ncols, 2);
  EXPECT_EQ(nrows, 1);
  expect_irreducible(p, sets, first_col);
}

// The controls the search changes for its own solves, and the problem data,
// are as before: the problem still solves to the same answer.
TEST_F(Iis, ControlsAndProblemAreGivenBack) {
  struct Case {
    const char* name;
    Problem problem;
  };
  const Case cases[] = {{"infeasible", two_conflicts()}, {"feasible", bound_conflict()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Problem p = c.problem;
    if (std::string(c.name) == "feasible") p.rhs[0] = 2;
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLSETDCV(dc::BIGM, 1000.0), 0);
    ASSERT_EQ(KLSETICV(ic::ISHFMX, 3), 0);
    ASSERT_EQ(KLSETICV(ic::IQUIET, 0), 0);
    int32_t ifpres = 0, ifmem = 0;
    KLGETICV(ic::IFPRES, &ifpres);
    KLGETICV(ic::IFMEM, &ifmem);
    KLMINIM("");
    const int32_t status_before = lp_status_now();
    const char letter_before = status_letter;
    double objective_before = 0.0;
    KLGETDPV(2001, &objective_before);
    captured_lines().clear();

    ASSERT_EQ(KLIIS(""), 0);
    // The problem's own outcome stands, whatever the search's last
    // internal re-solve ended with (STOP's exit code is read from it).
    EXPECT_EQ(lp_status_now(), status_before);
    EXPECT_EQ(status_letter, letter_before);
    double objective_kept = 0.0;
    KLGETDPV(2001, &objective_kept);
    EXPECT_EQ(objective_kept, objective_before);
    double bigm = 0.0;
    int32_t ishfmx = -1, iquiet = -1, ifpres_after = -1, ifmem_after = -1;
    KLGETDCV(dc::BIGM, &bigm);
    KLGETICV(ic::ISHFMX, &ishfmx);
    KLGETICV(ic::IQUIET, &iquiet);
    KLGETICV(ic::IFPRES, &ifpres_after);
    KLGETICV(ic::IFMEM, &ifmem_after);
    EXPECT_EQ(bigm, 1000.0);
    EXPECT_EQ(ishfmx, 3);
    EXPECT_EQ(iquiet, 0);
    EXPECT_EQ(ifpres_after, ifpres);
    EXPECT_EQ(ifmem_after, ifmem);

    if (std::string(c.name) == "feasible") {
      EXPECT_TRUE(iis_sets_found.empty());
      EXPECT_NE(joined_text().find("not infeasible"), std::string::npos);
      int32_t ncols = -1, nrows = -1;
      KLGETIIS(&ncols, &nrows, nullptr, nullptr);
      EXPECT_EQ(ncols + nrows, 0);
    }
    KLMINIM("");
    EXPECT_EQ(lp_status_now(), status_before);
    double objective_after = 0.0;
    KLGETDPV(2001, &objective_after);
    EXPECT_NEAR(objective_after, objective_before, 1e-9);
  }
}

// x1 + x2 >= 5 with x1 <= x3 and x2 + x3 <= 3 cannot hold, which no bound
// of a single row shows; x4 only hurts the first row, so presolve takes it
// out and has something to postsolve.
Problem hidden_conflict() {
  Problem p;
  p.row_types = "GLLL";
  p.rhs = {5, 0, 3, 7};
  p.columns = {
      {{{0, 1.0}, {1, 1.0}}, 0, kInf, 1},
      {{{0, 1.0}, {2, 1.0}}, 0, kInf, 2},
      {{{1, -1.0}, {2, 1.0}}, 0, kInf, 3},
      {{{0, -1.0}, {3, 1.0}}, 0, kInf, 1},
  };
  return p;
}

// A solve stopped by ITRLIM leaves the problem presolved. The search is
// about the problem as loaded: it finds the set it finds on a fresh load,
// and leaves that problem, intact, for the next solve.
TEST_F(Iis, ProblemLeftPresolvedIsSearchedAsLoaded) {
  const Problem p = hidden_conflict();
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLIIS(""), 0);
  const std::vector<std::vector<int32_t>> fresh = iis_sets_found;
  ASSERT_EQ(fresh.size(), 1u);

  ASSERT_EQ(load(p), 0);
  const int32_t rows = nrow;
  int32_t itrlim = 0;
  KLGETICV(ic::ITRLIM, &itrlim);
  ASSERT_EQ(KLSETICV(ic::ITRLIM, 0), 0);
  KLMINIM("");
  ASSERT_EQ(KLSETICV(ic::ITRLIM, itrlim), 0);
  ASSERT_NE(problem_flags & PF_PRESOLVED_LP, 0) << "the stopped solve is left presolved";
  ASSERT_NE(nrow, rows);
  ASSERT_EQ(KLIIS(""), 0);
  EXPECT_EQ(iis_sets_found, fresh);
  EXPECT_EQ(problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
  EXPECT_EQ(nrow, rows);
  std::vector<double> rhs(p.rhs.size()), upper(p.columns.size());
  ASSERT_EQ(KLGETRHS(rhs.data(), 0, static_cast<int32_t>(rhs.size()) - 1), 0);
  ASSERT_EQ(KLGETBDU(upper.data(), 0, static_cast<int32_t>(upper.size()) - 1), 0);
  EXPECT_EQ(rhs, p.rhs);
  for (size_t j = 0; j < upper.size(); ++j) EXPECT_EQ(upper[j], p.columns[j].upper) << "column " << j;
  ASSERT_EQ(KLSETICV(ic::IFPRES, 0), 0);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(lp_status_now(), 2);
}

// With f the report also goes to NAME.iis beside the problem.
TEST_F(Iis, ListingGoesToTheFileWithOptionF) {
  ASSERT_EQ(load(two_conflicts()), 0);
  ASSERT_EQ(KLIIS("f"), 0);
  std::FILE* f = std::fopen(dir.file("iis.iis").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string text;
  char buffer[256];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  EXPECT_NE(text.find("Irreducible infeasible sets"), std::string::npos);
  size_t headers = 0;
  for (size_t at = text.find("Position Name"); at != std::string::npos; at = text.find("Position Name", at + 1))
    ++headers;
  EXPECT_EQ(headers, 2u) << text;
}

// An equality row in the set comes back fixed; the N row is never tried.
TEST_F(Iis, EqualityMemberKeepsItsFixedBitAndNRowIsNeverTried) {
  Problem p;
  p.row_types = "NEG";
  p.rhs = {0, 1, 2};
  p.columns = {{{{0, 1.0}, {1, 1.0}, {2, 1.0}}, 0, kInf, 1}};
  ASSERT_EQ(load(p), 0);
  const int32_t first_col = store.first_col;
  ASSERT_EQ(KLIIS(""), 0);
  ASSERT_EQ(iis_sets_found.size(), 1u);
  std::vector<int32_t> set = iis_sets_found[0];
  std::sort(set.begin(), set.end());
  EXPECT_EQ(set, (std::vector<int32_t>{2, 3}));
  EXPECT_NE(int_array(ARR_POS_STATUS)[2] & PS_FIXED, 0);
  expect_irreducible(p, iis_sets_found, first_col);
}

TEST_F(Iis, WithoutProblemRefuses) {
  EXPECT_EQ(KLIIS(""), 32);
}

}  // namespace
