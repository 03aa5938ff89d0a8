// The barrier presolve's elimination of free columns through equality rows
// (PRESOLV bit 0x100): which pairs it pivots on, what it refuses, the
// problem it leaves, and the whole solve restored against the same solve
// without it (values, reduced costs and row duals of the original problem).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "barrier/pipeline.h"
#include "barrier/presolve/presolve_data.h"
#include "support/barrier_pipeline_fixture.h"

namespace {

using kltest::barrier_pipeline::DirectStages;
using kltest::barrier_pipeline::expect_same_optimum;
using kltest::barrier_pipeline::kInf;
using kltest::barrier_pipeline::Problem;

constexpr int32_t kFreeColumns = 0x100;
constexpr int32_t kEliminated = -10;

Problem::Entry e(int32_t row, double value) { return {row, value}; }

// min x1 + x2 + 2 x3 - x4 + 3 x5, x1 and x2 free, x3, x5 >= 0, x4 in [0, 4];
//   r1: x1 + x3 + x4 + x5 = 4
//   r2: x1 + 2 x2 - x3    = 1
//   r3: x2 + x4 + x5     >= 1
//   r4: x1 - x4 + x5     <= 3   (x1's coefficient may be set)
// Optimum -3.5 at x4 = 4, x1 = 0, x2 = 0.5. No row has two entries, so the
// pivots come from the fill-cost search: x2 through r2 (cost 2), then x1
// through r1, with fill into r3 and r4 each time.
Problem chained_problem(double r4_x1 = 1.0) {
  Problem p;
  p.cost = {1.0, 1.0, 2.0, -1.0, 3.0};
  p.col_lower = {-kInf, -kInf, 0.0, 0.0, 0.0};
  p.col_upper = {kInf, kInf, kInf, 4.0, kInf};
  p.columns = {{e(1, 1.0), e(2, 1.0), e(4, r4_x1)},
               {e(2, 2.0), e(3, 1.0)},
               {e(1, 1.0), e(2, -1.0)},
               {e(1, 1.0), e(3, 1.0), e(4, -1.0)},
               {e(1, 1.0), e(3, 1.0), e(4, 1.0)}};
  p.row_lo = {4.0, 1.0, 1.0, -kInf};
  p.row_hi = {4.0, 1.0, kInf, 3.0};
  p.rhs = {0.0, 0.0, 0.0, 0.0};
  return p;
}

// min x1 + x3, x1, x2 free, x3 >= 0;
//   r1: x1 + a x2 = 2      (both columns free: a doubleton)
//   r2: x1 - x2 + x3 >= 0
// Optimum 1 at x1 = 1, x2 = 1 / a.
Problem doubleton_problem(double a) {
  Problem p;
  p.cost = {1.0, 0.0, 1.0};
  p.col_lower = {-kInf, -kInf, 0.0};
  p.col_upper = {kInf, kInf, kInf};
  p.columns = {{e(1, 1.0), e(2, 1.0)}, {e(1, a), e(2, -1.0)}, {e(2, 1.0)}};
  p.row_lo = {2.0, 0.0};
  p.row_hi = {2.0, kInf};
  p.rhs = {0.0, 0.0};
  return p;
}

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

// The eliminated pairs in pivot order, from the tail of the removal list.
Pairs pivots(const DirectStages& st) {
  const int32_t n = st.s.params.col_count;
  Pairs out;
  for (int32_t k = 1; k < st.count; ++k) {
    const int32_t p = st.s.a.presolve_list[k];
    const int32_t q = st.s.a.presolve_list[k + 1];
    if (p <= n && st.s.a.var_state[p] == kEliminated) {
      EXPECT_EQ(st.s.a.var_state[q], kEliminated) << "the row follows its column";
      out.emplace_back(p, q - n);
    }
  }
  return out;
}

using Entries = std::vector<std::vector<std::pair<int32_t, double>>>;

// Every column's entries, sorted by row.
Entries column_entries(const DirectStages& st) {
  Entries out;
  for (int32_t j = 1; j <= st.s.params.col_count; ++j) {
    std::vector<std::pair<int32_t, double>> col;
    for (int32_t t = st.s.a.matrix_start[j]; t < st.s.a.matrix_start[j + 1]; ++t) {
      col.emplace_back(st.s.a.factor_index[t], st.s.a.factor_value[t]);
    }
    std::sort(col.begin(), col.end());
    out.push_back(col);
  }
  return out;
}

Pairs eliminate(const Problem& p, void (*adjust)(DirectStages&) = nullptr) {
  DirectStages st(p);
  EXPECT_EQ(st.first(0), 0);
  if (adjust != nullptr) adjust(st);
  EXPECT_EQ(st.second(kFreeColumns), 0);
  return pivots(st);
}

TEST(BarrierPresolveFreeColumns, PivotChoice) {
  Problem boxed = chained_problem();
  boxed.col_lower[0] = boxed.col_lower[1] = -10.0;
  Problem inequalities = chained_problem();
  inequalities.row_lo[0] = inequalities.row_lo[1] = -kInf;
  const struct {
    const char* name;
    Problem problem;
    void (*adjust)(DirectStages&);
    Pairs expected;
  } cases[] = {
      {"chained", chained_problem(), nullptr, {{2, 2}, {1, 1}}},
      {"no free column", boxed, nullptr, {}},
      {"no equality row", inequalities, nullptr, {}},
      // Fill cost (count(r) - 1)(count(j) - 1) must stay below
      // FILLTOL (count(r) - 1 + count(j)): x2/r2 costs 2 against 4 FILLTOL,
      // x1/r1 (after the first pivot) 6 against 6 FILLTOL.
      {"fill cost at FILLTOL 1", chained_problem(), [](DirectStages& st) { st.s.params.FILLTOL = 1.0; }, {{2, 2}}},
      {"fill cost at FILLTOL 0.5", chained_problem(), [](DirectStages& st) { st.s.params.FILLTOL = 0.5; }, {}},
      // The doubleton row's second column first, then its first.
      {"doubleton", doubleton_problem(1.0), nullptr, {{2, 1}}},
      {"doubleton, second entry below PIVRTOL x its column", doubleton_problem(0.005), nullptr, {{1, 1}}},
      {"doubleton, both entries at PIVATOL", doubleton_problem(1.0),
       [](DirectStages& st) { st.s.params.PIVATOL = 1.0; }, {}},
      // x1's entries 1 against its entry 3 in r4: at PIVRTOL 0.5 they are
      // too small, at the default they are not.
      {"entries below PIVRTOL x their column", chained_problem(3.0),
       [](DirectStages& st) { st.s.params.PIVRTOL = 0.5; }, {{2, 2}}},
      {"entries above PIVRTOL x their column", chained_problem(3.0), nullptr, {{2, 2}, {1, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eliminate(c.problem, c.adjust), c.expected);
  }
}

TEST(BarrierPresolveFreeColumns, NothingToPivotLeavesTheMatrix) {
  Problem inequalities = chained_problem();
  inequalities.row_lo[0] = inequalities.row_lo[1] = -kInf;
  DirectStages st(inequalities);
  ASSERT_EQ(st.first(0), 0);
  const Entries before = column_entries(st);
  const int32_t nz = st.s.params.matrix_nz;
  ASSERT_EQ(st.second(kFreeColumns), 0);
  EXPECT_EQ(column_entries(st), before);
  EXPECT_EQ(st.s.params.matrix_nz, nz);
  EXPECT_EQ(st.count, 0);
}

TEST(BarrierPresolveFreeColumns, PivotUpdatesRowsCostsAndConstant) {
  // x2 = 2 - x1 out of r1 into r2 and the objective.
  Problem p = doubleton_problem(1.0);
  p.cost[1] = 3.0;
  DirectStages st(p);
  ASSERT_EQ(st.first(0), 0);
  ASSERT_EQ(st.second(kFreeColumns), 0);
  ASSERT_EQ(pivots(st), (Pairs{{2, 1}}));
  const kl::BarrierWorkArrays& a = st.s.a;
  EXPECT_DOUBLE_EQ(st.constant, 6.0);  // c_2 b_1 / a
  EXPECT_DOUBLE_EQ(a.cost[1], 1.0 - 3.0);
  EXPECT_DOUBLE_EQ(a.rhs[2], 0.0 + 2.0);  // r2: x1 - (2 - x1) + x3 >= 0
  // x1 keeps its live entries (r2 now 2) and gains r1's entry after them;
  // x2 keeps its column as it was for the restoration.
  EXPECT_EQ(a.factor_last[1] - a.factor_first[1] + 1, 1);
  EXPECT_EQ(column_entries(st)[0], (std::vector<std::pair<int32_t, double>>{{1, 1.0}, {2, 2.0}}));
  EXPECT_EQ(column_entries(st)[1], (std::vector<std::pair<int32_t, double>>{{1, 1.0}, {2, -1.0}}));
}

TEST(BarrierPresolveFreeColumns, QuadraticColumnIsNeverPivoted) {
  // min x1^2 / 2 + x2 + 2 x3 ... with x1, x2 free in r1: x1 + x2 + x3 = 1;
  //   r2: x1 - x2 >= -5. Optimum at x1 = 1, x2 = x3 = 0.
  Problem p;
  p.cost = {0.0, 1.0, 2.0};
  p.col_lower = {-kInf, -kInf, 0.0};
  p.col_upper = {kInf, kInf, kInf};
  p.columns = {{e(1, 1.0), e(2, 1.0)}, {e(1, 1.0), e(2, -1.0)}, {e(1, 1.0)}};
  p.row_lo = {1.0, -5.0};
  p.row_hi = {1.0, kInf};
  p.rhs = {0.0, 0.0};
  p.quad_diag = {1.0, 0.0, 0.0};
  DirectStages st(p);
  ASSERT_EQ(st.first(0), 0);
  st.s.a.quad_mark[1] = 1;
  ASSERT_EQ(st.second(kFreeColumns), 0);
  EXPECT_EQ(pivots(st), (Pairs{{2, 1}}));
  expect_same_optimum(p, kFreeColumns, "quadratic");
  p.cost[0] = 1.0;  // optimum at x1 = 0 now, the reduced cost of x1 is (Qx)_1 + c_1 - y'a
  expect_same_optimum(p, kFreeColumns, "quadratic, shifted");
  expect_same_optimum(p, 0x7ff, "quadratic, every bit");
}

TEST(BarrierPresolveFreeColumns, RestorationGivesValuesAndDualsOfTheOriginal) {
  Problem maximised = chained_problem();
  maximised.sense = -1;
  for (double& c : maximised.cost) c = -c;
  const struct {
    const char* name;
    Problem problem;
  } cases[] = {{"chained", chained_problem()},
               {"maximised", maximised},
               {"doubleton", doubleton_problem(1.0)},
               {"doubleton, small entry", doubleton_problem(0.005)}};
  for (const auto& c : cases) {
    expect_same_optimum(c.problem, kFreeColumns, c.name);
    expect_same_optimum(c.problem, 0x7ff, std::string(c.name) + ", every bit");
  }
}

TEST(BarrierPresolveFreeColumns, TightStorageCompactsOrRunsShort) {
  // The elimination's lines live between the matrix and the row lists. As
  // free_space shrinks towards nz the pivots compact the columns (the pivot
  // column included, before it is copied) and must leave the same problem,
  // until the compaction cannot make room and the result is -2.
  DirectStages reference(chained_problem());
  ASSERT_EQ(reference.first(0), 0);
  ASSERT_EQ(reference.second(kFreeColumns), 0);
  const int32_t nz = 13;  // entries of chained_problem
  int32_t short_count = 0;
  for (int32_t free_space = nz; free_space <= nz + 20; ++free_space) {
    SCOPED_TRACE(free_space);
    DirectStages st(chained_problem());
    ASSERT_EQ(st.first(0), 0);
    st.s.params.free_space = free_space;
    const int32_t result = st.second(kFreeColumns);
    if (result == kl::kPresolveSpaceShort) {
      ++short_count;
      continue;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(pivots(st), pivots(reference));
    EXPECT_EQ(column_entries(st), column_entries(reference));
    EXPECT_EQ(st.s.params.matrix_nz, reference.s.params.matrix_nz);
    EXPECT_EQ(st.constant, reference.constant);
    for (int32_t k = 1; k <= 5; ++k) EXPECT_EQ(st.s.a.cost[k], reference.s.a.cost[k]);
    for (int32_t k = 1; k <= 4; ++k) EXPECT_EQ(st.s.a.rhs[k], reference.s.a.rhs[k]);
  }
  EXPECT_GT(short_count, 0);
  EXPECT_LT(short_count, 21);
}

}  // namespace
