#include "barrier/iterate/dense_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "support/barrier_system.h"

namespace {

using kltest::SparseColumns;

// Columns given by their (0-based) row lists; values 1.
SparseColumns columns_of(int32_t m, const std::vector<std::vector<int32_t>>& cols) {
  SparseColumns a;
  a.rows_count = m;
  a.cols_count = static_cast<int32_t>(cols.size());
  for (const auto& c : cols) {
    for (int32_t r : c) {
      a.rows.push_back(r);
      a.values.push_back(1.0);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

// 80 short columns (2 or 3 entries) and two of 40 entries (columns 81, 82).
SparseColumns short_and_two_long() {
  std::vector<std::vector<int32_t>> cols;
  for (int32_t j = 0; j < 80; ++j) {
    std::vector<int32_t> c = {j % 60, (j + 7) % 60};
    if (j % 2 == 0) c.push_back((j + 19) % 60);
    std::sort(c.begin(), c.end());
    c.erase(std::unique(c.begin(), c.end()), c.end());
    cols.push_back(c);
  }
  std::vector<int32_t> first, second;
  for (int32_t i = 0; i < 40; ++i) first.push_back(i);
  for (int32_t i = 20; i < 60; ++i) second.push_back(i);
  cols.push_back(first);
  cols.push_back(second);
  return columns_of(60, cols);
}

// Columns of lengths cycling through `lengths`, rows spread over m.
SparseColumns lengths_matrix(int32_t m, int32_t n, const std::vector<int32_t>& lengths) {
  std::vector<std::vector<int32_t>> cols;
  for (int32_t j = 0; j < n; ++j) {
    std::vector<int32_t> c;
    const int32_t len = lengths[j % lengths.size()];
    for (int32_t t = 0; t < len; ++t) c.push_back((j * 3 + t * 7) % m);
    std::sort(c.begin(), c.end());
    c.erase(std::unique(c.begin(), c.end()), c.end());
    cols.push_back(c);
  }
  return columns_of(m, cols);
}

// The strictly-lower quadratic pattern of the pairs (i, j), i > j (1-based).
SparseColumns quad_of(int32_t n, const std::vector<std::pair<int32_t, int32_t>>& pairs) {
  SparseColumns q;
  q.rows_count = q.cols_count = n;
  for (int32_t j = 1; j <= n; ++j) {
    for (auto [r, c] : pairs) {
      if (c != j) continue;
      q.rows.push_back(r - 1);
      q.values.push_back(0.5);
    }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  return q;
}

// Class ranges from the class sizes, in storage order.
std::vector<int32_t> class_ranges(int32_t removed_cols, int32_t free_cols, int32_t lower_cols, int32_t boxed_cols,
                                  int32_t boxed_slacks, int32_t lower_slacks, int32_t equality_slacks,
                                  int32_t removed_slacks) {
  std::vector<int32_t> cr(17);
  const int32_t n = removed_cols + free_cols + lower_cols + boxed_cols;
  cr[16] = removed_cols;
  cr[7] = 1;
  cr[1] = removed_cols + 1;
  cr[9] = removed_cols + free_cols;
  cr[2] = cr[9] + 1;
  cr[10] = cr[9] + lower_cols;
  cr[3] = cr[10] + 1;
  cr[11] = n;
  cr[4] = n + 1;
  cr[12] = n + boxed_slacks;
  cr[5] = cr[12] + 1;
  cr[13] = cr[12] + lower_slacks;
  cr[6] = cr[13] + 1;
  cr[14] = cr[13] + equality_slacks;
  cr[8] = cr[14] + 1;
  cr[15] = cr[14] + removed_slacks;
  return cr;
}

struct Result {
  kltest::BarrierSystem sys;
  int32_t kind = -7, status = 0;
  std::vector<int32_t> qrc, hist, node, pstart, pend, rmark, queue, mark;
};

Result run(const SparseColumns& a, const SparseColumns* q, std::vector<int32_t> cr,
           const std::function<void(kl::barrier_params&)>& set, int32_t factor_space = 0) {
  Result r;
  r.sys = kltest::make_barrier_system(a, q, factor_space);
  if (set) set(r.sys.params);
  const int32_t n = r.sys.n(), m = r.sys.m();
  if (cr.empty()) cr = class_ranges(0, 0, n, 0, 0, 0, m, 0);
  r.qrc.assign(n + 2, -5);
  r.hist.assign(std::max(m, 1) + 1, -5);
  r.node.assign(n + 1, -5);
  r.pstart.assign(n + 1, -5);
  r.pend.assign(n + 1, -5);
  r.rmark.assign(n + m + 1, 0);
  r.queue.assign(n + 1, 0);
  r.mark.assign(n + m + 1, -5);
  kl::find_dense_columns(r.sys.params, r.sys.matrix_start.data(), r.sys.matrix_end.data(), r.sys.fi(), cr.data(),
                         r.sys.quad_start.data(), r.qrc.data(), r.hist.data(), r.node.data(), r.pstart.data(),
                         r.pend.data(), r.rmark.data(), r.queue.data(), r.kind, r.mark.data(), r.status);
  return r;
}

std::vector<int32_t> marks_by_length(const SparseColumns& a, const std::function<int32_t(int32_t)>& mark_of) {
  std::vector<int32_t> marks(a.cols_count + 1, 0);
  for (int32_t j = 0; j < a.cols_count; ++j) marks[j + 1] = mark_of(a.starts[j + 1] - a.starts[j]);
  return marks;
}

// The dense marks, the system kind and the graph flags of every active
// column, for the rules that decide them.
TEST(DenseColumns, ChoiceOfDenseColumnsAndSystem) {
  const SparseColumns short_only = lengths_matrix(20, 30, {2, 3, 3});
  const SparseColumns long_pair = short_and_two_long();
  const SparseColumns upto7 = lengths_matrix(100, 40, {4, 5, 6, 7});
  const SparseColumns upto4 = lengths_matrix(30, 20, {1, 2, 3, 4});
  auto none = [](int32_t) { return 0; };
  struct Case {
    std::string name;
    const SparseColumns* a;
    std::function<void(kl::barrier_params&)> set;
    int32_t kind;
    std::vector<int32_t> marks;
  };
  const std::vector<Case> cases = {
      {"no column longer than DENSLEN", &short_only, nullptr, kl::SYSTEM_NORMAL_EQUATIONS,
       marks_by_length(short_only, none)},
      {"SETLAM 1 forces the augmented system", &short_only, [](kl::barrier_params& p) { p.SETLAM = 1; },
       kl::SYSTEM_AUGMENTED, marks_by_length(short_only, none)},
      {"cost rule finds the two long columns", &long_pair, nullptr, kl::SYSTEM_AUGMENTED,
       marks_by_length(long_pair, [](int32_t l) { return l > 3 ? 1 : 0; })},
      {"SETLAM 1 keeps the cost rule's marks", &long_pair, [](kl::barrier_params& p) { p.SETLAM = 1; },
       kl::SYSTEM_AUGMENTED, marks_by_length(long_pair, [](int32_t l) { return l > 3 ? 1 : 0; })},
      {"long columns of SUPDENS entries get mark 2", &long_pair, [](kl::barrier_params& p) { p.SUPDENS = 40; },
       kl::SYSTEM_AUGMENTED, marks_by_length(long_pair, [](int32_t l) { return l > 3 ? 2 : 0; })},
      {"MAXDENSE 0 examines only the longest bucket", &long_pair, [](kl::barrier_params& p) { p.MAXDENSE = 0.0; },
       kl::SYSTEM_NORMAL_EQUATIONS, marks_by_length(long_pair, none)},
      {"DENSLEN above the longest column", &long_pair, [](kl::barrier_params& p) { p.DENSLEN = 40; },
       kl::SYSTEM_NORMAL_EQUATIONS, marks_by_length(long_pair, none)},
      {"length rule LAM -4", &upto7, [](kl::barrier_params& p) { p.SETLAM = -1; }, kl::SYSTEM_AUGMENTED,
       marks_by_length(upto7, [](int32_t l) { return l > 4 ? 1 : 0; })},
      {"length rule LAM -4, nothing longer than 4", &upto4, [](kl::barrier_params& p) { p.SETLAM = -1; },
       kl::SYSTEM_NORMAL_EQUATIONS, marks_by_length(upto4, none)},
      {"length rule LAM 0.05 of 100 rows", &upto7,
       [](kl::barrier_params& p) {
         p.SETLAM = -2;
         p.LAM = 0.05;
       },
       kl::SYSTEM_AUGMENTED, marks_by_length(upto7, [](int32_t l) { return l > 5 ? 1 : 0; })},
      {"length rule LAM 0.07 rounds 7 to 7", &upto7,
       [](kl::barrier_params& p) {
         p.SETLAM = -1;
         p.LAM = 0.07;
       },
       kl::SYSTEM_NORMAL_EQUATIONS, marks_by_length(upto7, none)},
      // Keys beyond the int range are clamped, not converted with overflow.
      {"length rule LAM 1e12", &upto7,
       [](kl::barrier_params& p) {
         p.SETLAM = -1;
         p.LAM = 1e12;
       },
       kl::SYSTEM_NORMAL_EQUATIONS, marks_by_length(upto7, none)},
      {"DENSGAP 1e300", &long_pair, [](kl::barrier_params& p) { p.DENSGAP = 1e300; }, kl::SYSTEM_NORMAL_EQUATIONS,
       marks_by_length(long_pair, none)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = run(*c.a, nullptr, {}, c.set);
    const int32_t n = c.a->cols_count, m = c.a->rows_count;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.kind, c.kind);
    for (int32_t j = 1; j <= n; ++j) {
      EXPECT_EQ(r.mark[j], c.marks[j]) << "column " << j;
      const bool node = c.kind == kl::SYSTEM_AUGMENTED && c.marks[j] != 0;
      EXPECT_EQ(r.node[j], node ? 3 : 0) << "column " << j;
      EXPECT_EQ(r.pstart[j], r.sys.matrix_start[j]);
      EXPECT_EQ(r.pend[j], node ? r.sys.matrix_start[j] - 1 : r.sys.matrix_end[j]);
    }
    // The rows keep their entry counts in the dense marks.
    std::vector<int32_t> counts(m + 1, 0);
    for (int32_t i : c.a->rows) ++counts[i + 1];
    for (int32_t i = 1; i <= m; ++i) EXPECT_EQ(r.mark[n + i], counts[i]) << "row " << i;
  }
}

// More active rows than columns: the boxed and lower-bounded slacks sit in
// the histogram's bucket 1 next to the columns of length 1; with fewer rows
// they do not.
TEST(DenseColumns, SlacksCountAsUnitColumnsWithMoreRowsThanColumns) {
  const SparseColumns a = lengths_matrix(12, 8, {1, 2});  // four columns of length 1
  Result more_rows = run(a, nullptr, class_ranges(0, 2, 6, 0, 3, 4, 5, 0), nullptr);
  EXPECT_EQ(more_rows.hist[1], 3 + 4 + 4);
  EXPECT_EQ(more_rows.hist[2], 4);
  const SparseColumns b = lengths_matrix(5, 8, {1, 2});
  Result fewer_rows = run(b, nullptr, class_ranges(0, 2, 6, 0, 2, 2, 1, 0), nullptr);
  EXPECT_EQ(fewer_rows.hist[1], 4);
}

// Removed columns are graph members with their whole column as pattern, and
// are never dense; a removed slack is no active row.
TEST(DenseColumns, RemovedColumnsKeepTheirPattern) {
  const SparseColumns a = short_and_two_long();
  // Columns 1 and 2 removed (their entries count nowhere), the last row removed.
  Result r = run(a, nullptr, class_ranges(2, 0, 80, 0, 0, 0, 59, 1), nullptr);
  EXPECT_EQ(r.kind, kl::SYSTEM_AUGMENTED);
  for (int32_t j = 1; j <= 2; ++j) {
    EXPECT_EQ(r.node[j], 1);
    EXPECT_EQ(r.mark[j], 0);
    EXPECT_EQ(r.pstart[j], r.sys.matrix_start[j]);
    EXPECT_EQ(r.pend[j], r.sys.matrix_end[j]);
  }
  EXPECT_EQ(r.mark[81], 1);
  EXPECT_EQ(r.mark[82], 1);
}

// Factor space below 2 (nz + nzq) + 2: status -2 and nothing written.
TEST(DenseColumns, ShortSpaceWritesNothing) {
  const SparseColumns a = lengths_matrix(10, 12, {2, 3});
  const SparseColumns q = quad_of(12, {{2, 1}, {5, 3}});
  const int32_t stored = static_cast<int32_t>(a.rows.size() + q.rows.size());
  Result short_space = run(a, &q, {}, nullptr, 2 * stored + 1);
  EXPECT_EQ(short_space.status, kl::BARRIER_SPACE_SHORT);
  EXPECT_EQ(short_space.kind, -7);
  EXPECT_EQ(short_space.node[1], -5);
  EXPECT_EQ(short_space.mark[1], -5);
  Result enough = run(a, &q, {}, nullptr, 2 * stored + 2);
  EXPECT_EQ(enough.status, 0);
  EXPECT_EQ(enough.kind, kl::SYSTEM_NORMAL_EQUATIONS);
}

std::set<int32_t> rows_of(const kltest::BarrierSystem& s, std::initializer_list<int32_t> cols) {
  std::set<int32_t> rows;
  for (int32_t j : cols)
    for (int32_t e = s.matrix_start[j]; e <= s.matrix_end[j]; ++e) rows.insert(s.factor_index[e]);
  return rows;
}

// A small quadratic component stays in the normal equations, merged: its
// root lists the union of the members' rows once each, the members list
// nothing; the row-wise copy of Q sits after the column-wise pattern.
TEST(DenseColumns, SmallQuadraticComponentMergesInNormalEquations) {
  const SparseColumns a = lengths_matrix(20, 12, {2, 3});
  // Component {3, 4, 7} through (4,3) and (7,4); column 9 alone with column 11 through (11, 9).
  const SparseColumns q = quad_of(12, {{4, 3}, {7, 4}, {11, 9}});
  Result r = run(a, &q, {}, nullptr);
  ASSERT_EQ(r.kind, kl::SYSTEM_NORMAL_EQUATIONS);
  const int32_t nz = r.sys.params.matrix_nz, nzq = r.sys.params.quad_nz;
  // Row-wise copy: row 4 holds column 3, row 7 column 4, row 11 column 9.
  EXPECT_EQ(r.qrc[4], nz + nzq + 1);
  EXPECT_EQ(r.sys.factor_index[r.qrc[4]], 3);
  EXPECT_EQ(r.sys.factor_index[r.qrc[7]], 4);
  EXPECT_EQ(r.sys.factor_index[r.qrc[11]], 9);
  EXPECT_EQ(r.qrc[13], nz + 2 * nzq + 1);
  EXPECT_EQ(r.node[3], 2);
  EXPECT_EQ(r.node[4], 1);
  EXPECT_EQ(r.node[7], 1);
  EXPECT_EQ(r.node[9], 2);
  EXPECT_EQ(r.node[11], 1);
  EXPECT_EQ(r.node[1], 0);
  EXPECT_EQ(r.pend[4], r.pstart[4] - 1);
  EXPECT_EQ(r.pend[7], r.pstart[7] - 1);
  EXPECT_GT(r.pstart[3], nz + 2 * nzq);
  std::vector<int32_t> merged(r.sys.factor_index.begin() + r.pstart[3], r.sys.factor_index.begin() + r.pend[3] + 1);
  const std::set<int32_t> expected = rows_of(r.sys, {3, 4, 7});
  EXPECT_EQ(std::set<int32_t>(merged.begin(), merged.end()), expected);
  EXPECT_EQ(merged.size(), expected.size());
  for (int32_t j = 1; j <= 12; ++j) EXPECT_EQ(r.mark[j], 0);
  // The row marks are clear again.
  for (int32_t p = 13; p <= 32; ++p) EXPECT_EQ(r.rmark[p], 0);
}

// A large coupled component (D > DENSLEN, D^2 >= DENSGAP T*^2) turns the
// choice to the augmented system with every coupled column a node; with
// the augmented system chosen, a coupled column gets mark 1 even when it is
// long enough for mark 2.
TEST(DenseColumns, QuadraticCouplingAndTheAugmentedSystem) {
  const SparseColumns a = lengths_matrix(40, 16, {2, 3});
  std::vector<std::pair<int32_t, int32_t>> chain;
  for (int32_t j = 1; j < 12; ++j) chain.push_back({j + 1, j});
  const SparseColumns q = quad_of(16, chain);
  Result r = run(a, &q, {}, nullptr);
  EXPECT_EQ(r.kind, kl::SYSTEM_AUGMENTED);
  for (int32_t j = 1; j <= 16; ++j) {
    const bool coupled = j <= 12;
    EXPECT_EQ(r.mark[j], coupled ? 1 : 0) << j;
    EXPECT_EQ(r.node[j], coupled ? 3 : 0) << j;
    EXPECT_EQ(r.pend[j], coupled ? r.pstart[j] - 1 : r.sys.matrix_end[j]) << j;
  }

  const SparseColumns b = short_and_two_long();
  const SparseColumns qb = quad_of(82, {{81, 5}});  // long column 81 coupled to short column 5
  Result s = run(b, &qb, {}, [](kl::barrier_params& p) { p.SUPDENS = 40; });
  EXPECT_EQ(s.kind, kl::SYSTEM_AUGMENTED);
  EXPECT_EQ(s.mark[81], 1);
  EXPECT_EQ(s.mark[82], 2);
  EXPECT_EQ(s.mark[5], 1);
  EXPECT_EQ(s.mark[6], 0);
  EXPECT_EQ(s.node[81], 3);
  EXPECT_EQ(s.node[82], 3);
  EXPECT_EQ(s.node[5], 3);
  EXPECT_EQ(s.node[6], 0);
}

}  // namespace
