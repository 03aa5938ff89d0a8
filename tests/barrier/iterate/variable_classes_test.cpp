#include "barrier/iterate/variable_classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "support/barrier_system.h"

namespace {

using kl::BarrierClassRange;

// A problem laid out for the barrier with every vector it carries, each
// entry tagged with its entry position so that any permutation shows.
struct ClassFixture {
  kltest::BarrierSystem sys;
  std::array<int32_t, 17> ranges{};
  std::vector<int32_t> order_map, order_inverse, int_work, col_code, slack_code, list_a, list_b,
      list_c, list_d, pivot_order, factor_first, factor_last, supernode_end, supernode_mark,
      pivot_rank;
  std::vector<double> cost, rhs, upper, x, s, z, w, y, dx, dz, dw, dy, quad_diag, diag;

  int32_t n() const { return sys.params.col_count; }
  int32_t m() const { return sys.params.row_count; }
  int32_t tail_offset() const { return sys.params.matrix_nz + sys.params.quad_nz; }

  ClassFixture(const kltest::SparseColumns& a, const kltest::SparseColumns* q,
               std::vector<int32_t> codes, std::vector<int32_t> slack_codes,
               std::vector<int32_t> states)
      : sys(kltest::make_barrier_system(a, q)) {
    const size_t np = static_cast<size_t>(n() + m()) + 2;
    for (auto* v : {&order_map, &order_inverse, &int_work, &list_a, &list_b, &list_c, &list_d,
                    &pivot_order, &factor_first, &factor_last, &supernode_end, &supernode_mark,
                    &pivot_rank}) {
      v->assign(np, 0);
    }
    for (auto* v : {&upper, &x, &s, &z, &w, &dx, &dz, &dw, &diag}) v->assign(np, 0.0);
    col_code.assign(1, 0);
    col_code.insert(col_code.end(), codes.begin(), codes.end());
    slack_code.assign(1, 0);
    slack_code.insert(slack_code.end(), slack_codes.begin(), slack_codes.end());
    sys.var_state.assign(1, 0);
    sys.var_state.insert(sys.var_state.end(), states.begin(), states.end());
    cost.assign(static_cast<size_t>(n()) + 1, 0.0);
    quad_diag.assign(static_cast<size_t>(n()) + 1, 0.0);
    rhs.assign(static_cast<size_t>(m()) + 1, 0.0);
    y.assign(static_cast<size_t>(m()) + 1, 0.0);
    dy.assign(static_cast<size_t>(m()) + 1, 0.0);
    for (int32_t p = 1; p <= n() + m(); ++p) {
      upper[p] = 100 + p;
      x[p] = 200 + p;
      z[p] = 300 + p;
    }
    for (int32_t k = 1; k <= m(); ++k) {
      y[k] = 400 + k;
      rhs[k] = 500 + k;
    }
    for (int32_t j = 1; j <= n(); ++j) {
      cost[j] = 600 + j;
      quad_diag[j] = 700 + j;
    }
    ranges[1] = -1;
  }

  void classify() {
    kl::classify_barrier_variables(
        sys.params, ranges.data(), order_map.data(), order_inverse.data(), sys.matrix_start.data(),
        sys.fi(), sys.fv(), int_work.data(), sys.fi() + tail_offset(), sys.fv() + tail_offset(),
        col_code.data(), slack_code.data(), sys.var_state.data(), list_a.data(), list_b.data(),
        list_c.data(), list_d.data(), cost.data(), rhs.data(), upper.data(), x.data(), z.data(),
        y.data(), quad_diag.data(), sys.quad_start.data(), diag.data());
  }

  void reclassify() {
    kl::reclassify_barrier_variables(
        sys.params, ranges.data(), order_map.data(), order_inverse.data(), sys.matrix_start.data(),
        sys.matrix_end.data(), sys.fi(), sys.fv(), int_work.data(), col_code.data(),
        slack_code.data(), sys.var_state.data(), list_a.data(), list_b.data(), list_c.data(),
        list_d.data(), cost.data(), rhs.data(), upper.data(), x.data(), s.data(), z.data(),
        w.data(), y.data(), dx.data(), dz.data(), dw.data(), dy.data(), quad_diag.data(),
        sys.quad_start.data(), diag.data(), pivot_order.data(), factor_first.data(),
        factor_last.data(), supernode_end.data(), supernode_mark.data(), pivot_rank.data());
  }

  void compact() {
    kl::compact_factor_columns(sys.params, ranges.data(), sys.matrix_start.data(),
                               sys.matrix_end.data(), factor_first.data(), factor_last.data(),
                               sys.fi(), sys.fv(), sys.var_state.data(), diag.data(),
                               int_work.data(), pivot_rank.data());
    if (sys.params.quad_nz > 0) {
      kl::compact_matrix_columns(sys.params, sys.quad_start.data(), quad_diag.data(), sys.fi(),
                                 sys.fv(), sys.var_state.data());
    }
  }

  // Matrix column j as (entry row position, value), rows translated through
  // the order map (identity when `translate` is false).
  std::vector<std::pair<int32_t, double>> column(int32_t j, int32_t first, int32_t last,
                                                 bool translate = true) const {
    std::vector<std::pair<int32_t, double>> c;
    for (int32_t e = first; e <= last; ++e) {
      const int32_t r = sys.factor_index[static_cast<size_t>(e)];
      c.emplace_back(translate ? order_map[r] : r, sys.factor_value[static_cast<size_t>(e)]);
    }
    (void)j;
    return c;
  }

  // The quadratic pairs {entry column, entry column} -> value.
  std::map<std::pair<int32_t, int32_t>, double> quad_pairs(bool translate) const {
    std::map<std::pair<int32_t, int32_t>, double> pairs;
    for (int32_t j = 1; j <= n(); ++j) {
      for (int32_t e = sys.quad_start[j]; e < sys.quad_start[j + 1]; ++e) {
        int32_t a = translate ? order_map[j] : j;
        int32_t b = sys.factor_index[static_cast<size_t>(e)];
        if (translate) b = order_map[b];
        pairs[{std::min(a, b), std::max(a, b)}] = sys.factor_value[static_cast<size_t>(e)];
      }
    }
    return pairs;
  }
};

// Six columns and five rows with every class present, in mixed order:
// columns lower, removed, boxed, free, lower, boxed; rows (slacks 7..11)
// equality, lower, removed, boxed, lower.
kltest::SparseColumns fixture_matrix() {
  kltest::SparseColumns a;
  a.rows_count = 5;
  a.cols_count = 6;
  const std::vector<std::vector<int32_t>> rows = {{0, 1, 3}, {2, 4}, {0, 2, 3, 4}, {1}, {0, 4}, {1, 2, 3}};
  a.starts = {0};
  for (size_t j = 0; j < rows.size(); ++j) {
    for (const int32_t r : rows[j]) {
      a.rows.push_back(r);
      a.values.push_back(10.0 * static_cast<double>(j + 1) + r + 1);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

// Pairs {1,3}, {1,5}, {2,6}, {3,4}, {4,6}, {5,6} (1-based), below the
// diagonal. Pair {3,4} swaps its order in the partition (4 is free).
kltest::SparseColumns fixture_quadratic() {
  kltest::SparseColumns q;
  q.rows_count = 6;
  q.cols_count = 6;
  const std::vector<std::vector<int32_t>> rows = {{2, 4}, {5}, {3}, {5}, {5}, {}};
  q.starts = {0};
  for (size_t j = 0; j < rows.size(); ++j) {
    for (const int32_t r : rows[j]) {
      q.rows.push_back(r);
      q.values.push_back(0.5 + static_cast<double>(j) + 0.1 * r);
    }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  return q;
}

ClassFixture make_fixture(const kltest::SparseColumns& a, const kltest::SparseColumns& q) {
  return ClassFixture(a, &q, {1, 1, -1, 0, 1, -1}, {0, 1, 1, -1, 1}, {0, -3, 0, 0, 0, 0, 0, 0, -2, 0, 0});
}

// Every vector at position p holds the tag of the entry position order_map[p].
void expect_vectors_follow_order(const ClassFixture& f, bool with_iterate) {
  const int32_t n = f.n();
  for (int32_t p = 1; p <= n + f.m(); ++p) {
    const int32_t o = f.order_map[p];
    EXPECT_EQ(f.upper[p], 100 + o) << p;
    EXPECT_EQ(f.x[p], 200 + o) << p;
    EXPECT_EQ(f.z[p], 300 + o) << p;
    if (with_iterate) {
      EXPECT_EQ(f.s[p], 800 + o) << p;
      EXPECT_EQ(f.w[p], 900 + o) << p;
      EXPECT_EQ(f.dx[p], 1000 + o) << p;
      EXPECT_EQ(f.dz[p], 1100 + o) << p;
      EXPECT_EQ(f.dw[p], 1200 + o) << p;
    }
  }
  for (int32_t j = 1; j <= n; ++j) {
    EXPECT_EQ(f.cost[j], 600 + f.order_map[j]);
    // A removed column's diagonal is cleared by the pattern compaction.
    if (f.sys.var_state[j] >= -1) {
      EXPECT_EQ(f.quad_diag[j], 700 + f.order_map[j]);
    }
  }
  for (int32_t k = 1; k <= f.m(); ++k) {
    const int32_t row = f.order_map[n + k] - n;
    EXPECT_EQ(f.y[k], 400 + row);
    EXPECT_EQ(f.rhs[k], 500 + row);
    if (with_iterate) {
      EXPECT_EQ(f.dy[k], 1300 + row);
    }
  }
}

TEST(BarrierClasses, FirstCallPutsPositionsInClassOrderAndTheLastCallRestoresThem) {
  const auto a = fixture_matrix();
  const auto q = fixture_quadratic();
  ClassFixture f = make_fixture(a, q);
  const ClassFixture entry = f;
  f.classify();

  const std::array<int32_t, 17> expected_ranges = {0, 2, 3, 5, 7, 8, 10, 1, 11, 2, 4, 6, 7, 9, 10, 11, 1};
  EXPECT_EQ(f.ranges, expected_ranges);
  const std::vector<int32_t> expected_map = {0, 2, 4, 1, 5, 3, 6, 10, 8, 11, 7, 9};
  EXPECT_EQ(std::vector<int32_t>(f.order_map.begin(), f.order_map.begin() + 12), expected_map);
  for (int32_t p = 1; p <= 11; ++p) EXPECT_EQ(f.order_inverse[f.order_map[p]], p);

  expect_vectors_follow_order(f, false);
  for (int32_t p = 1; p <= 11; ++p) EXPECT_EQ(f.sys.var_state[p], entry.sys.var_state[f.order_map[p]]);
  for (int32_t j = 1; j <= 6; ++j) EXPECT_EQ(f.col_code[j], entry.col_code[f.order_map[j]]);
  for (int32_t k = 1; k <= 5; ++k) EXPECT_EQ(f.slack_code[k], entry.slack_code[f.order_map[6 + k] - 6]);

  // Matrix: each new column is its entry column, rows renumbered with their slacks.
  EXPECT_EQ(f.sys.matrix_start[1], 1);
  EXPECT_EQ(f.sys.matrix_start[7], f.sys.params.matrix_nz + 1);
  for (int32_t p = 1; p <= 6; ++p) {
    const int32_t o = f.order_map[p];
    EXPECT_EQ(f.column(p, f.sys.matrix_start[p], f.sys.matrix_start[p + 1] - 1),
              entry.column(o, entry.sys.matrix_start[o], entry.sys.matrix_start[o + 1] - 1, false))
        << "column " << p;
  }
  // Quadratic pattern: the same pairs, each in the column that comes first.
  EXPECT_EQ(f.quad_pairs(true), entry.quad_pairs(false));
  EXPECT_EQ(f.sys.quad_start[1], f.sys.params.matrix_nz + 1);
  EXPECT_EQ(f.sys.quad_start[7], f.sys.params.matrix_nz + f.sys.params.quad_nz + 1);
  for (int32_t j = 1; j <= 6; ++j) {
    for (int32_t e = f.sys.quad_start[j]; e < f.sys.quad_start[j + 1]; ++e) EXPECT_GT(f.sys.factor_index[e], j);
  }
  // Pair {3,4}: entry column 4 is free and now comes first (position 2).
  bool swapped_pair_found = false;
  for (int32_t e = f.sys.quad_start[2]; e < f.sys.quad_start[3]; ++e) {
    swapped_pair_found |= f.order_map[f.sys.factor_index[e]] == 3;
  }
  EXPECT_TRUE(swapped_pair_found);

  f.classify();
  EXPECT_EQ(f.upper, entry.upper);
  EXPECT_EQ(f.x, entry.x);
  EXPECT_EQ(f.z, entry.z);
  EXPECT_EQ(f.y, entry.y);
  EXPECT_EQ(f.rhs, entry.rhs);
  EXPECT_EQ(f.cost, entry.cost);
  EXPECT_EQ(f.quad_diag, entry.quad_diag);
  EXPECT_EQ(f.col_code, entry.col_code);
  EXPECT_EQ(f.slack_code, entry.slack_code);
  EXPECT_EQ(f.sys.var_state, entry.sys.var_state);
  EXPECT_EQ(f.sys.matrix_start, entry.sys.matrix_start);
  const int32_t nz = f.sys.params.matrix_nz;
  EXPECT_TRUE(std::equal(f.sys.factor_index.begin(), f.sys.factor_index.begin() + nz + 1,
                         entry.sys.factor_index.begin()));
  EXPECT_TRUE(std::equal(f.sys.factor_value.begin(), f.sys.factor_value.begin() + nz + 1,
                         entry.sys.factor_value.begin()));
  EXPECT_EQ(f.sys.quad_start, entry.sys.quad_start);
  EXPECT_EQ(f.quad_pairs(false), entry.quad_pairs(false));
  for (int32_t j = 1; j <= 6; ++j) {
    for (int32_t e = f.sys.quad_start[j]; e < f.sys.quad_start[j + 1]; ++e) EXPECT_GT(f.sys.factor_index[e], j);
  }
}

// Sets the iterate tags (s, w, directions) from the current order map.
void tag_iterate(ClassFixture& f) {
  for (int32_t p = 1; p <= f.n() + f.m(); ++p) {
    const int32_t o = f.order_map[p];
    f.s[p] = 800 + o;
    f.w[p] = 900 + o;
    f.dx[p] = 1000 + o;
    f.dz[p] = 1100 + o;
    f.dw[p] = 1200 + o;
  }
  for (int32_t k = 1; k <= f.m(); ++k) f.dy[k] = 1300 + f.order_map[f.n() + k] - f.n();
}

TEST(BarrierClasses, ReclassificationCarriesEverythingAndTheLastCallReturnsEntryOrder) {
  const auto a = fixture_matrix();
  const auto q = fixture_quadratic();
  ClassFixture f = make_fixture(a, q);
  const ClassFixture entry = f;
  const int32_t n = 6;
  const int32_t np = 11;
  const int32_t nz = f.sys.params.matrix_nz;
  f.classify();
  // A factor structure over the active positions 2..10: columns in place,
  // slacks with lists stored apart; ranks 1-2 an independent block, 6-9 a
  // fundamental one.
  int32_t free_entry = f.tail_offset() + 1;
  const std::map<int32_t, std::vector<int32_t>> slack_lists = {{7, {8, 10}}, {8, {9, 10}}, {9, {10}}, {10, {}}};
  f.sys.params.pivot_count = 9;
  for (int32_t k = 1; k <= np; ++k) f.pivot_rank[k] = np + 1;
  for (int32_t k = 1; k <= 9; ++k) {
    const int32_t p = k + 1;
    f.pivot_order[k] = p;
    f.pivot_rank[p] = k;
    if (p <= n) {
      f.factor_first[k] = f.sys.matrix_start[p];
      f.factor_last[k] = f.sys.matrix_start[p + 1] - 1;
    } else {
      f.factor_first[k] = free_entry;
      for (const int32_t r : slack_lists.at(p)) f.sys.factor_index[free_entry++] = r;
      f.factor_last[k] = free_entry - 1;
    }
  }
  f.supernode_end[1] = f.supernode_end[2] = 2;
  f.supernode_mark[1] = f.supernode_mark[2] = -2;
  for (int32_t k = 6; k <= 9; ++k) f.supernode_end[k] = f.supernode_mark[k] = 9;
  f.compact();
  // The removed slack (entry row 3, position 11) sits behind every active part.
  for (int32_t p = 1; p <= n; ++p) {
    for (int32_t e = f.sys.matrix_start[p]; e < f.sys.matrix_start[p + 1]; ++e) {
      EXPECT_EQ(e > f.sys.matrix_end[p], f.order_map[f.sys.factor_index[e]] == 9 || f.sys.var_state[p] < -1)
          << p << " " << e;
    }
    if (f.pivot_rank[p] <= 9) {
      EXPECT_EQ(f.factor_last[f.pivot_rank[p]], f.sys.matrix_end[p]);
    }
  }
  // Entry columns 2 (removed) lost its quadratic pair {2,6}.
  EXPECT_EQ(f.quad_pairs(true).count({2, 6}), 0u);

  // Fixing: entry column 1 (position 3) and entry row 2 (position 8) removed;
  // entry column 6 (position 6) and entry row 4 (position 7) lose their upper bound.
  f.sys.var_state[3] = -2;
  f.sys.var_state[8] = -2;
  f.col_code[6] = -f.col_code[6];
  f.slack_code[1] = -f.slack_code[1];
  tag_iterate(f);
  std::vector<int32_t> old_pivots(f.pivot_order.begin() + 1, f.pivot_order.begin() + 10);
  for (auto& p : old_pivots) p = f.order_map[p];
  f.reclassify();

  const std::array<int32_t, 17> expected_ranges = {0, 3, 4, 6, 7, 7, 9, 1, 10, 3, 5, 6, 6, 8, 9, 11, 2};
  EXPECT_EQ(f.ranges, expected_ranges);
  expect_vectors_follow_order(f, true);
  for (int32_t p = 1; p <= n; ++p) {
    const int32_t o = f.order_map[p];
    auto active = f.column(p, f.sys.matrix_start[p], f.sys.matrix_end[p]);
    auto all = f.column(p, f.sys.matrix_start[p], f.sys.matrix_start[p + 1] - 1);
    auto expected = entry.column(o, entry.sys.matrix_start[o], entry.sys.matrix_start[o + 1] - 1, false);
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected) << p;
    if (f.sys.var_state[p] < -1) {
      EXPECT_TRUE(active.empty()) << p;
      continue;
    }
    for (const auto& [row, value] : active) EXPECT_TRUE(row != 8 && row != 9) << p;
    EXPECT_EQ(all.size() - active.size(),
              static_cast<size_t>(std::count_if(expected.begin(), expected.end(),
                                                [](const auto& e) { return e.first == 8 || e.first == 9; })));
  }
  // Pivots of removed positions dropped, the others renumbered in order.
  ASSERT_EQ(f.sys.params.pivot_count, 7);
  std::vector<int32_t> kept;
  for (const int32_t p : old_pivots) {
    if (p != 1 && p != 8) kept.push_back(p);
  }
  for (int32_t k = 1; k <= 7; ++k) {
    const int32_t p = f.pivot_order[k];
    EXPECT_EQ(f.order_map[p], kept[static_cast<size_t>(k) - 1]) << k;
    EXPECT_EQ(f.pivot_rank[p], k);
    if (p <= n) {
      EXPECT_EQ(f.factor_first[k], f.sys.matrix_start[p]);
      EXPECT_EQ(f.factor_last[k], f.sys.matrix_end[p]);
    } else {
      std::vector<int32_t> list;
      for (int32_t e = f.factor_first[k]; e <= f.factor_last[k]; ++e) list.push_back(f.order_map[f.sys.factor_index[e]]);
      // Entry terms: the lists of rows 4, 5 and 1 less the removed row 2.
      const std::map<int32_t, std::vector<int32_t>> expected_lists = {{10, {7}}, {11, {7}}, {7, {}}};
      EXPECT_EQ(list, expected_lists.at(f.order_map[p])) << k;
    }
  }
  EXPECT_EQ(f.pivot_rank[1], np + 1);  // a removed column has no rank
  const std::vector<int32_t> ends(f.supernode_end.begin() + 1, f.supernode_end.begin() + 8);
  const std::vector<int32_t> marks(f.supernode_mark.begin() + 1, f.supernode_mark.begin() + 8);
  EXPECT_EQ(ends, (std::vector<int32_t>{1, 0, 0, 0, 7, 7, 7}));
  EXPECT_EQ(marks, (std::vector<int32_t>{-2, 0, 0, 0, 9, 9, 9}));
  // Quadratic pattern: pairs of removed columns gone, quad_nz counts what is stored.
  auto expected_pairs = entry.quad_pairs(false);
  for (auto it = expected_pairs.begin(); it != expected_pairs.end();) {
    it = (it->first.first <= 2 || it->first.second <= 2) ? expected_pairs.erase(it) : std::next(it);
  }
  EXPECT_EQ(f.quad_pairs(true), expected_pairs);
  EXPECT_EQ(f.sys.params.quad_nz, 5);  // counted before its compaction removed {1,3}, {1,5}

  // A second reclassification without changes moves nothing.
  tag_iterate(f);
  auto before = f;
  f.reclassify();
  EXPECT_EQ(f.order_map, before.order_map);
  EXPECT_EQ(f.sys.factor_index, before.sys.factor_index);
  EXPECT_EQ(f.x, before.x);
  EXPECT_EQ(f.sys.params.quad_nz, 3);

  f.classify();
  ClassFixture expected = entry;
  expected.sys.var_state[1] = -2;
  expected.sys.var_state[8] = -2;
  expected.col_code[6] = 1;
  expected.slack_code[4] = 1;
  expected.quad_diag[1] = expected.quad_diag[2] = 0.0;
  EXPECT_EQ(f.upper, expected.upper);
  EXPECT_EQ(f.x, expected.x);
  EXPECT_EQ(f.z, expected.z);
  EXPECT_EQ(f.y, expected.y);
  EXPECT_EQ(f.rhs, expected.rhs);
  EXPECT_EQ(f.cost, expected.cost);
  EXPECT_EQ(f.quad_diag, expected.quad_diag);
  EXPECT_EQ(f.col_code, expected.col_code);
  EXPECT_EQ(f.slack_code, expected.slack_code);
  EXPECT_EQ(f.sys.var_state, expected.sys.var_state);
  EXPECT_EQ(f.sys.matrix_start, entry.sys.matrix_start);
  for (int32_t j = 1; j <= n; ++j) {
    auto got = f.column(j, f.sys.matrix_start[j], f.sys.matrix_start[j + 1] - 1, false);
    auto want = entry.column(j, entry.sys.matrix_start[j], entry.sys.matrix_start[j + 1] - 1, false);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << j;
  }
  EXPECT_EQ(f.quad_pairs(false), expected_pairs);
  for (int32_t j = 1; j <= n; ++j) {
    for (int32_t e = f.sys.quad_start[j]; e < f.sys.quad_start[j + 1]; ++e) EXPECT_GT(f.sys.factor_index[e], j);
  }
  (void)nz;
}

TEST(BarrierClasses, EdgeShapesOfThePartition) {
  struct Case {
    const char* name;
    std::vector<int32_t> codes, slack_codes, states;
    std::array<int32_t, 17> ranges;
  };
  // Two columns, three rows (a dense 3 x 2 matrix).
  const std::vector<Case> cases = {
      {"single class, nothing removed: identity", {1, 1}, {1, 1, 1}, {0, 0, 0, 0, 0},
       {0, 1, 1, 3, 3, 3, 6, 1, 6, 0, 2, 2, 2, 5, 5, 5, 0}},
      {"only equality rows", {0, -1}, {0, 0, 0}, {0, 0, 0, 0, 0},
       {0, 1, 2, 2, 3, 3, 3, 1, 6, 1, 1, 2, 2, 2, 5, 5, 0}},
      {"everything removed", {1, 0}, {1, -1, 0}, {-2, -2, -2, -5, -2},
       {0, 3, 3, 3, 3, 3, 3, 1, 3, 2, 2, 2, 2, 2, 2, 5, 2}},
  };
  kltest::SparseColumns a;
  a.rows_count = 3;
  a.cols_count = 2;
  a.starts = {0, 3, 6};
  a.rows = {0, 1, 2, 0, 1, 2};
  a.values = {1, 2, 3, 4, 5, 6};
  for (const Case& c : cases) {
    ClassFixture f(a, nullptr, c.codes, c.slack_codes, c.states);
    const ClassFixture entry = f;
    f.classify();
    EXPECT_EQ(f.ranges, c.ranges) << c.name;
    for (int32_t p = 1; p <= 5; ++p) EXPECT_EQ(f.order_inverse[f.order_map[p]], p) << c.name;
    auto matrix_as_entered = [&] {
      return std::equal(f.sys.factor_index.begin(), f.sys.factor_index.begin() + 7, entry.sys.factor_index.begin()) &&
             std::equal(f.sys.factor_value.begin(), f.sys.factor_value.begin() + 7, entry.sys.factor_value.begin()) &&
             f.sys.matrix_start == entry.sys.matrix_start;
    };
    if (c.name[0] == 's') {
      for (int32_t p = 1; p <= 5; ++p) EXPECT_EQ(f.order_map[p], p) << c.name;
      EXPECT_TRUE(matrix_as_entered());
      EXPECT_EQ(f.x, entry.x);
    }
    f.classify();
    EXPECT_EQ(f.x, entry.x) << c.name;
    EXPECT_TRUE(matrix_as_entered()) << c.name;
  }
}

TEST(BarrierClasses, RandomRemovalsOverSeveralReclassificationsEndInEntryOrder) {
  // A larger problem with positions removed and bounds dropped in three
  // rounds; a fixed generator keeps the run reproducible.
  uint32_t seed = 12345u;
  auto next = [&](uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int32_t>((seed >> 8) % bound);
  };
  const int32_t n = 40;
  const int32_t m = 30;
  kltest::SparseColumns a;
  a.rows_count = m;
  a.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < m; ++i) {
      if (next(5) == 0) {
        a.rows.push_back(i);
        a.values.push_back(1.0 + j * 100 + i);
      }
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  kltest::SparseColumns q;
  q.rows_count = n;
  q.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = j + 1; i < n; ++i) {
      if (next(12) == 0) {
        q.rows.push_back(i);
        q.values.push_back(0.5 + j * 100 + i);
      }
    }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  std::vector<int32_t> codes, slack_codes, states;
  for (int32_t j = 0; j < n; ++j) codes.push_back(next(3) - 1);
  for (int32_t i = 0; i < m; ++i) slack_codes.push_back(next(3) - 1);
  for (int32_t p = 0; p < n + m; ++p) states.push_back(next(8) == 0 ? -3 : 0);
  ClassFixture f(a, &q, codes, slack_codes, states);
  const ClassFixture entry = f;
  f.classify();
  f.sys.params.pivot_count = 0;
  for (int32_t p = 1; p <= n + m; ++p) f.pivot_rank[p] = n + m + 1;
  f.compact();
  for (int round = 0; round < 3; ++round) {
    for (int32_t p = 1; p <= n + m; ++p) {
      if (f.sys.var_state[p] >= -1 && next(10) == 0) f.sys.var_state[p] = -2;
    }
    for (int32_t j = f.ranges[3]; j <= f.ranges[11]; ++j) {
      if (next(4) == 0) f.col_code[j] = -f.col_code[j];
    }
    tag_iterate(f);
    f.reclassify();
    expect_vectors_follow_order(f, true);
    for (int32_t p = 1; p <= n; ++p) {
      const int32_t o = f.order_map[p];
      auto all = f.column(p, f.sys.matrix_start[p], f.sys.matrix_start[p + 1] - 1);
      auto want = entry.column(o, entry.sys.matrix_start[o], entry.sys.matrix_start[o + 1] - 1, false);
      std::sort(all.begin(), all.end());
      std::sort(want.begin(), want.end());
      EXPECT_EQ(all, want) << "round " << round << " column " << p;
      for (int32_t e = f.sys.matrix_start[p]; e < f.sys.matrix_start[p + 1]; ++e) {
        const bool active = e <= f.sys.matrix_end[p];
        EXPECT_EQ(active, f.sys.var_state[p] >= -1 && f.sys.var_state[f.sys.factor_index[e]] >= -1) << p;
      }
    }
  }
  f.classify();
  for (int32_t p = 1; p <= n + m; ++p) {
    EXPECT_EQ(f.x[p], entry.x[p]);
    EXPECT_EQ(f.z[p], entry.z[p]);
    EXPECT_EQ(f.upper[p], entry.upper[p]);
  }
  EXPECT_EQ(f.y, entry.y);
  EXPECT_EQ(f.rhs, entry.rhs);
  EXPECT_EQ(f.cost, entry.cost);
  EXPECT_EQ(f.sys.matrix_start, entry.sys.matrix_start);
  auto expected_pairs = entry.quad_pairs(false);
  for (auto it = expected_pairs.begin(); it != expected_pairs.end();) {
    const bool gone = f.sys.var_state[it->first.first] < -1 || f.sys.var_state[it->first.second] < -1;
    it = gone ? expected_pairs.erase(it) : std::next(it);
  }
  EXPECT_EQ(f.quad_pairs(false), expected_pairs);
  for (int32_t j = 1; j <= n; ++j) {
    auto got = f.column(j, f.sys.matrix_start[j], f.sys.matrix_start[j + 1] - 1, false);
    auto want = entry.column(j, entry.sys.matrix_start[j], entry.sys.matrix_start[j + 1] - 1, false);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << j;
    for (int32_t e = f.sys.quad_start[j]; e < f.sys.quad_start[j + 1]; ++e) EXPECT_GT(f.sys.factor_index[e], j);
  }
}

TEST(BarrierClasses, CompactionPutsRemovedRowsBehindInReverse) {
  // One column over five rows (positions 2..6); rows at positions 3 and 5 removed.
  kltest::SparseColumns a;
  a.rows_count = 5;
  a.cols_count = 1;
  a.starts = {0, 5};
  a.rows = {0, 1, 2, 3, 4};
  a.values = {1, 2, 3, 4, 5};
  struct Case {
    const char* name;
    int32_t factor_first, factor_last;
    std::vector<int32_t> rows;
    int32_t end;
  };
  const std::vector<Case> cases = {
      {"list stored apart: the whole column", 100, 0, {2, 4, 6, 5, 3}, 3},
      {"in-place list: up to its last entry", 1, 4, {2, 4, 5, 3, 6}, 2},
  };
  for (const Case& c : cases) {
    ClassFixture f(a, nullptr, {1}, {1, 1, 1, 1, 1}, {0, 0, -2, 0, -2, 0});
    f.ranges = {0, 1, 1, 2, 2, 2, 7, 1, 7, 0, 1, 1, 1, 6, 6, 6, 0};
    f.pivot_rank[1] = 1;
    f.factor_first[1] = c.factor_first;
    f.factor_last[1] = c.factor_last;
    f.compact();
    std::vector<int32_t> rows(f.sys.factor_index.begin() + 1, f.sys.factor_index.begin() + 6);
    EXPECT_EQ(rows, c.rows) << c.name;
    EXPECT_EQ(f.sys.matrix_end[1], c.end) << c.name;
    for (int32_t e = 1; e <= 5; ++e) EXPECT_EQ(f.sys.factor_value[e], f.sys.factor_index[e] - 1) << c.name;
    if (c.factor_first == 1) {
      EXPECT_EQ(f.factor_last[1], c.end) << c.name;
    }
  }
}

}  // namespace
