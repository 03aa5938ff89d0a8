#include "barrier/ordering/symbolic_factor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "barrier/ordering/supernodes.h"
#include "support/symbolic_reference.h"

namespace {

using kltest::SparseColumns;

SparseColumns random_matrix(std::mt19937& rng, int32_t m, int32_t n, double density) {
  SparseColumns a;
  a.rows_count = m;
  a.cols_count = n;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < m; ++i)
      if (u(rng) < density) {
        a.rows.push_back(i);
        a.values.push_back(1.0 + i + 100.0 * j);  // value names its entry
      }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

// Strictly lower quadratic pattern over n columns.
SparseColumns random_quadratic(std::mt19937& rng, int32_t n, double density) {
  SparseColumns q;
  q.rows_count = n;
  q.cols_count = n;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = j + 1; i < n; ++i)
      if (u(rng) < density) {
        q.rows.push_back(i);
        q.values.push_back(0.5 + i + 100.0 * j);
      }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  return q;
}

struct Case {
  uint32_t seed;
  int32_t m, n;
  double density, quad_density;
  bool normal_order;   // columns first in natural order, then rows
  int32_t removed;     // positions given state -2
};

// The matrix entries of every column as (row, value) pairs, order ignored.
std::vector<std::vector<std::pair<int32_t, double>>> column_entries(const kltest::BarrierSystem& s) {
  std::vector<std::vector<std::pair<int32_t, double>>> out(static_cast<size_t>(s.n()) + 1);
  for (int32_t j = 1; j <= s.n(); ++j) {
    for (int32_t e = s.matrix_start[static_cast<size_t>(j)]; e < s.matrix_start[static_cast<size_t>(j) + 1]; ++e)
      out[static_cast<size_t>(j)].push_back({s.factor_index[static_cast<size_t>(e)], s.factor_value[static_cast<size_t>(e)]});
    std::sort(out[static_cast<size_t>(j)].begin(), out[static_cast<size_t>(j)].end());
  }
  return out;
}

struct SymbolicRun {
  kltest::BarrierSystem sys;
  SparseColumns a, q;
  std::vector<int32_t> order, rank, first, last, work;
  std::vector<double> value_work;
  kl::symbolic_counts counts;
  int32_t status = 0;
};

SymbolicRun make_run(const Case& c) {
  std::mt19937 rng(c.seed);
  SymbolicRun r;
  r.a = random_matrix(rng, c.m, c.n, c.density);
  r.q = random_quadratic(rng, c.n, c.quad_density);
  r.sys = kltest::make_barrier_system(r.a, c.quad_density > 0 ? &r.q : nullptr);
  const int32_t positions = c.m + c.n;
  std::vector<int32_t> perm(static_cast<size_t>(positions));
  std::iota(perm.begin(), perm.end(), 1);
  if (!c.normal_order) std::shuffle(perm.begin(), perm.end(), rng);
  std::vector<int32_t> removed = perm;
  std::shuffle(removed.begin(), removed.end(), rng);
  for (int32_t t = 0; t < c.removed; ++t) r.sys.var_state[static_cast<size_t>(removed[static_cast<size_t>(t)])] = -2;
  r.order.assign(static_cast<size_t>(positions) + 2, 0);
  int32_t count = 0;
  for (int32_t p : perm)
    if (r.sys.var_state[static_cast<size_t>(p)] >= -1) r.order[static_cast<size_t>(++count)] = p;
  r.sys.params.pivot_count = count;
  const size_t slots = static_cast<size_t>(positions) + 2;
  r.rank.assign(slots, 0);
  r.first.assign(slots, 0);
  r.last.assign(slots, 0);
  r.work.assign(static_cast<size_t>(kl::postorder_work_ints(r.sys.params)), 0);
  r.value_work.assign(slots, 0.0);
  return r;
}

void run_symbolic(SymbolicRun& r) {
  auto& s = r.sys;
  if (s.params.quad_nz > 0)
    kl::build_lower_pattern(s.params, r.order.data(), s.quad_start.data(), s.fi(), s.fv(), r.rank.data(), r.work.data(),
                            r.value_work.data());
  kl::compute_symbolic_factor(s.params, s.matrix_start.data(), r.order.data(), s.fi(), s.fv(), r.first.data(),
                              r.last.data(), s.var_state.data(), s.quad_start.data(), r.rank.data(), r.work.data(),
                              r.value_work.data(), r.counts, r.status);
}

// Lists (position-indexed) and counts against a plain elimination.
void expect_matches_plain(const SymbolicRun& r, const kltest::PlainFactor& plain) {
  const auto& s = r.sys;
  for (int32_t k = 1; k <= s.params.pivot_count; ++k) {
    const int32_t p = r.order[static_cast<size_t>(k)];
    std::vector<int32_t> list(s.factor_index.begin() + r.first[static_cast<size_t>(p)],
                              s.factor_index.begin() + r.last[static_cast<size_t>(p)] + 1);
    ASSERT_EQ(list, plain.lists[static_cast<size_t>(p)]) << "position " << p << " rank " << k;
  }
  EXPECT_EQ(r.counts.factor_nonzeros, plain.nonzeros);
  EXPECT_EQ(r.counts.row_nonzeros, plain.row_nonzeros);
  EXPECT_DOUBLE_EQ(r.counts.factor_flops, plain.flops);
}

const Case kCases[] = {
    {1, 12, 9, 0.25, 0.0, true, 0},    {2, 12, 9, 0.25, 0.0, false, 0}, {3, 20, 30, 0.12, 0.0, false, 4},
    {4, 15, 10, 0.2, 0.2, false, 0},   {5, 15, 10, 0.2, 0.3, true, 3},  {6, 40, 25, 0.08, 0.05, false, 5},
    {7, 8, 30, 0.3, 0.0, true, 2},     {8, 30, 8, 0.3, 0.1, false, 1},  {9, 1, 1, 1.0, 0.0, false, 0},
    {10, 25, 25, 0.05, 0.0, false, 0},
};

TEST(SymbolicFactor, ListsAndCountsEqualPlainElimination) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed);
    SymbolicRun r = make_run(c);
    const auto entries_before = column_entries(r.sys);
    run_symbolic(r);
    ASSERT_EQ(r.status, 0);
    const auto adj = kltest::system_adjacency(r.a, c.quad_density > 0 ? &r.q : nullptr, r.sys.var_state);
    const auto plain = kltest::plain_elimination(adj, r.order.data(), r.sys.params.pivot_count, c.n);
    expect_matches_plain(r, plain);
    // Sorting moved the values with their indices.
    EXPECT_EQ(column_entries(r.sys), entries_before);
    // In-place columns are exactly the columns without a built list.
    for (int32_t k = 1; k <= r.sys.params.pivot_count; ++k) {
      const int32_t p = r.order[static_cast<size_t>(k)];
      if (r.first[static_cast<size_t>(p)] <= r.sys.params.matrix_nz) {
        EXPECT_LE(p, c.n);
      }
    }
  }
}

TEST(SymbolicFactor, LowerPatternListsLaterNeighboursWithTheirValues) {
  const Case c{21, 10, 12, 0.2, 0.35, false, 3};
  SymbolicRun r = make_run(c);
  auto& s = r.sys;
  std::set<std::tuple<int32_t, int32_t, double>> expected;  // (earlier, later, value) by rank
  std::vector<int32_t> rank(static_cast<size_t>(s.params.var_count) + 2, s.params.var_count + 1);
  for (int32_t k = 1; k <= s.params.pivot_count; ++k) rank[static_cast<size_t>(r.order[static_cast<size_t>(k)])] = k;
  for (int32_t j = 0; j < c.n; ++j)
    for (int32_t t = r.q.starts[static_cast<size_t>(j)]; t < r.q.starts[static_cast<size_t>(j) + 1]; ++t) {
      const int32_t x = j + 1;
      const int32_t y = r.q.rows[static_cast<size_t>(t)] + 1;
      if (rank[static_cast<size_t>(x)] > s.params.pivot_count || rank[static_cast<size_t>(y)] > s.params.pivot_count) continue;
      const bool x_first = rank[static_cast<size_t>(x)] < rank[static_cast<size_t>(y)];
      expected.insert({x_first ? x : y, x_first ? y : x, r.q.values[static_cast<size_t>(t)]});
    }
  kl::build_lower_pattern(s.params, r.order.data(), s.quad_start.data(), s.fi(), s.fv(), r.rank.data(), r.work.data(),
                          r.value_work.data());
  std::set<std::tuple<int32_t, int32_t, double>> got;
  for (int32_t j = 1; j <= c.n; ++j) {
    for (int32_t e = s.quad_start[static_cast<size_t>(j)]; e < s.quad_start[static_cast<size_t>(j) + 1]; ++e) {
      got.insert({j, s.factor_index[static_cast<size_t>(e)], s.factor_value[static_cast<size_t>(e)]});
      if (e > s.quad_start[static_cast<size_t>(j)]) {
        EXPECT_LT(rank[static_cast<size_t>(s.factor_index[static_cast<size_t>(e - 1)])],
                  rank[static_cast<size_t>(s.factor_index[static_cast<size_t>(e)])]);
      }
    }
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(s.quad_start[1], s.params.matrix_nz + 1);
}

TEST(SymbolicFactor, InPlaceAndBuiltColumnsAsTheStructureAsks) {
  // Column 1 has rows 1 and 2; column 2 has row 1.
  SparseColumns a;
  a.rows_count = 2;
  a.cols_count = 2;
  a.starts = {0, 2, 3};
  a.rows = {0, 1, 0};
  a.values = {1, 2, 3};
  struct OrderCase {
    std::vector<int32_t> order;
    bool column1_in_place;
  };
  const OrderCase cases[] = {
      {{0, 1, 2, 3, 4}, true},   // all rows after column 1, no child: in place
      {{0, 3, 1, 2, 4}, false},  // row 1 first lists column 1: built
  };
  for (const OrderCase& oc : cases) {
    SymbolicRun r;
    r.a = a;
    r.sys = kltest::make_barrier_system(a);
    r.order = oc.order;
    r.order.push_back(0);
    r.sys.params.pivot_count = 4;
    r.rank.assign(6, 0);
    r.first.assign(6, 0);
    r.last.assign(6, 0);
    r.work.assign(static_cast<size_t>(kl::postorder_work_ints(r.sys.params)), 0);
    r.value_work.assign(6, 0.0);
    run_symbolic(r);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.first[1] <= r.sys.params.matrix_nz, oc.column1_in_place);
    const auto plain = kltest::plain_elimination(kltest::system_adjacency(a, nullptr, {}), r.order.data(), 4, 2);
    expect_matches_plain(r, plain);
  }
}

TEST(SymbolicFactor, FlopCountPastTwoToTheThirtyFirstIsExact) {
  // One column over 2400 rows: the rows form a clique, a chain of lists
  // 2399, 2398, ..., 0 whose work passes 2^31.
  constexpr int32_t kRows = 2400;
  SparseColumns a;
  a.rows_count = kRows;
  a.cols_count = 1;
  for (int32_t i = 0; i < kRows; ++i) {
    a.rows.push_back(i);
    a.values.push_back(1.0);
  }
  a.starts = {0, kRows};
  const int64_t chain_entries = static_cast<int64_t>(kRows) * (kRows - 1) / 2;
  SymbolicRun r;
  r.a = a;
  r.sys = kltest::make_barrier_system(a, nullptr, static_cast<int32_t>(chain_entries + 4 * kRows + 1000));
  const size_t slots = static_cast<size_t>(kRows) + 3;
  r.order.assign(slots, 0);
  for (int32_t k = 1; k <= kRows + 1; ++k) r.order[static_cast<size_t>(k)] = k;
  r.sys.params.pivot_count = kRows + 1;
  r.rank.assign(slots, 0);
  r.first.assign(slots, 0);
  r.last.assign(slots, 0);
  r.work.assign(static_cast<size_t>(kl::postorder_work_ints(r.sys.params)), 0);
  r.value_work.assign(slots, 0.0);
  run_symbolic(r);
  ASSERT_EQ(r.status, 0);
  const kl::symbolic_counts& counts = r.counts;
  double expected_flops = 0.5 * kRows * (kRows + 1.0);  // the column itself
  for (int64_t len = 0; len < kRows; ++len) expected_flops += 0.5 * static_cast<double>(len * (len + 1));
  EXPECT_GT(expected_flops, 2147483647.0);
  EXPECT_EQ(counts.factor_nonzeros, chain_entries + kRows);
  EXPECT_EQ(counts.row_nonzeros, chain_entries);
  EXPECT_DOUBLE_EQ(counts.factor_flops, expected_flops);
}

TEST(Postorder, KeepsTheFillAndRebuildsListsForTheNewOrder) {
  int32_t reordered = 0;
  for (int32_t postorder : {0, 1, 2}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message() << "seed " << c.seed << " POSTORDER " << postorder);
      SymbolicRun r = make_run(c);
      r.sys.params.POSTORDER = postorder;
      run_symbolic(r);
      ASSERT_EQ(r.status, 0);
      const kl::symbolic_counts before = r.counts;
      const std::vector<int32_t> old_order = r.order;
      const auto entries_before = column_entries(r.sys);
      auto& s = r.sys;
      kl::postorder_elimination_tree(s.params, s.matrix_start.data(), s.matrix_end.data(), r.order.data(), s.fi(),
                                     s.fv(), r.first.data(), r.last.data(), s.quad_start.data(), s.var_state.data(),
                                     r.rank.data(), r.work.data(), r.value_work.data(), r.status);
      ASSERT_EQ(r.status, 0);
      if (postorder == 0) {
        EXPECT_EQ(r.order, old_order);
      }
      if (r.order != old_order) ++reordered;
      std::vector<int32_t> a_sorted(old_order.begin() + 1, old_order.begin() + s.params.pivot_count + 1);
      std::vector<int32_t> b_sorted(r.order.begin() + 1, r.order.begin() + s.params.pivot_count + 1);
      std::sort(a_sorted.begin(), a_sorted.end());
      std::sort(b_sorted.begin(), b_sorted.end());
      ASSERT_EQ(a_sorted, b_sorted);
      for (int32_t k = 1; k <= s.params.pivot_count; ++k) EXPECT_EQ(r.rank[static_cast<size_t>(r.order[static_cast<size_t>(k)])], k);
      const auto adj = kltest::system_adjacency(r.a, c.quad_density > 0 ? &r.q : nullptr, s.var_state);
      const auto plain = kltest::plain_elimination(adj, r.order.data(), s.params.pivot_count, c.n);
      r.counts = before;  // the post-order does not recount: the plain counts of the new order must equal them
      expect_matches_plain(r, plain);
      EXPECT_EQ(column_entries(s), entries_before);
    }
  }
  EXPECT_GT(reordered, 10);  // the cases exercise the rebuild, not only the no-change path
}

// Hand-made lists over positions 1..count in natural order, all built.
struct HandFactor {
  kl::barrier_params params;
  std::vector<int32_t> order, index, first, last, work;
};

HandFactor hand_factor(const std::vector<std::vector<int32_t>>& lists, int32_t factor_space) {
  HandFactor h;
  const int32_t count = static_cast<int32_t>(lists.size());
  kl::set_barrier_defaults(h.params);
  h.params.col_count = 0;
  h.params.row_count = count;
  h.params.var_count = count;
  h.params.pivot_count = count;
  h.params.factor_space = factor_space;
  h.index.assign(static_cast<size_t>(factor_space) + 1, 0);
  h.order.assign(static_cast<size_t>(count) + 2, 0);
  h.first.assign(static_cast<size_t>(count) + 2, 0);
  h.last.assign(static_cast<size_t>(count) + 2, 0);
  h.work.assign(2 * (static_cast<size_t>(count) + 2), 0);
  int32_t f = 1;
  for (int32_t p = 1; p <= count; ++p) {
    h.order[static_cast<size_t>(p)] = p;
    h.first[static_cast<size_t>(p)] = f;
    for (int32_t x : lists[static_cast<size_t>(p) - 1]) h.index[static_cast<size_t>(f++)] = x;
    h.last[static_cast<size_t>(p)] = f - 1;
  }
  return h;
}

kl::symbolic_counts count_lists(const HandFactor& h) {
  kl::symbolic_counts c;
  for (int32_t p = 1; p <= h.params.pivot_count; ++p) {
    const int64_t len = h.last[static_cast<size_t>(p)] - h.first[static_cast<size_t>(p)] + 1;
    c.factor_nonzeros += len;
    c.row_nonzeros += len;
    c.factor_flops += 0.5 * static_cast<double>(len * (len + 1));
  }
  return c;
}

std::vector<int32_t> list_of(const HandFactor& h, int32_t p) {
  return {h.index.begin() + h.first[static_cast<size_t>(p)], h.index.begin() + h.last[static_cast<size_t>(p)] + 1};
}

std::vector<int32_t> range(int32_t from, int32_t to) {
  std::vector<int32_t> v;
  for (int32_t x = from; x <= to; ++x) v.push_back(x);
  return v;
}

TEST(Amalgamation, PadsWithinTheFillBudgetAndRecounts) {
  // Column 1 lists its parent 2 and rows 4..10 (length 8); column 2 lists
  // 3..10 (length 8); then a chain. Padding column 1 adds one zero (row 3).
  std::vector<std::vector<int32_t>> long_case = {{2, 4, 5, 6, 7, 8, 9, 10}};
  for (int32_t p = 2; p <= 10; ++p) long_case.push_back(range(p + 1, 10));
  // The same shape with length 3: one zero is 33 percent, above 25.
  std::vector<std::vector<int32_t>> short_case = {{2, 4, 5}, {3, 4, 5}, {4, 5}, {5}, {}};
  struct AmalgamationCase {
    const char* name;
    std::vector<std::vector<int32_t>> lists;
    int32_t supfill;
    int32_t space_extra;  // factor space beyond the lists
    int64_t added;        // zeros the padding adds (0: no change)
  };
  const AmalgamationCase cases[] = {
      {"length 8 padded", long_case, 25, 100, 1},
      {"length 3 not padded", short_case, 25, 100, 0},
      {"SUPFILL 0 never pads", long_case, 0, 100, 0},
      {"no room: unpadded", long_case, 25, 1, 0},
  };
  for (const auto& ac : cases) {
    SCOPED_TRACE(ac.name);
    int32_t entries = 0;
    for (const auto& l : ac.lists) entries += static_cast<int32_t>(l.size());
    HandFactor h = hand_factor(ac.lists, entries + ac.space_extra);
    h.params.SUPFILL = ac.supfill;
    const kl::symbolic_counts before = count_lists(h);
    kl::symbolic_counts counts = before;
    kl::amalgamate_supernodes(h.params, h.order.data(), h.index.data(), h.first.data(), h.last.data(), h.work.data(),
                              counts);
    EXPECT_EQ(counts.factor_nonzeros, before.factor_nonzeros + ac.added);
    const kl::symbolic_counts recount = count_lists(h);
    EXPECT_EQ(counts.factor_nonzeros, recount.factor_nonzeros);
    EXPECT_DOUBLE_EQ(counts.factor_flops, recount.factor_flops);
    for (size_t p = 1; p <= ac.lists.size(); ++p) {
      const auto now = list_of(h, static_cast<int32_t>(p));
      if (ac.added > 0 && p == 1) {
        EXPECT_EQ(now, range(2, 10));  // the next pivot followed by its list
      } else {
        EXPECT_EQ(now, ac.lists[p - 1]);
      }
    }
  }
}

TEST(Amalgamation, GroupOfSiblingsJoinsTheNextPivotsStructure) {
  // Columns 1 and 2 are leaves whose lists lie inside column 3's structure
  // {3's list} but do not start with the next pivot; each is padded to the
  // next pivot followed by its list.
  const std::vector<std::vector<int32_t>> lists = {
      range(4, 12),               // 1: length 9 under 2's padded length 10
      range(4, 12),               // 2: length 9, next 3 has length 9
      range(4, 12),               // 3
  };
  std::vector<std::vector<int32_t>> all = lists;
  for (int32_t p = 4; p <= 12; ++p) all.push_back(range(p + 1, 12));
  int32_t entries = 0;
  for (const auto& l : all) entries += static_cast<int32_t>(l.size());
  HandFactor h = hand_factor(all, entries + 50);
  const kl::symbolic_counts before = count_lists(h);
  kl::symbolic_counts counts = before;
  kl::amalgamate_supernodes(h.params, h.order.data(), h.index.data(), h.first.data(), h.last.data(), h.work.data(),
                            counts);
  EXPECT_EQ(list_of(h, 2), range(3, 12));
  EXPECT_EQ(list_of(h, 1), range(2, 12));
  EXPECT_EQ(counts.factor_nonzeros, before.factor_nonzeros + 3);
  EXPECT_DOUBLE_EQ(counts.factor_flops, count_lists(h).factor_flops);
}

TEST(Amalgamation, KeepsEveryListInsideItsPaddedListOnRandomFactors) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed);
    SymbolicRun r = make_run(c);
    r.sys.params.SUPFILL = 60;
    run_symbolic(r);
    ASSERT_EQ(r.status, 0);
    auto& s = r.sys;
    kl::postorder_elimination_tree(s.params, s.matrix_start.data(), s.matrix_end.data(), r.order.data(), s.fi(), s.fv(),
                                   r.first.data(), r.last.data(), s.quad_start.data(), s.var_state.data(), r.rank.data(),
                                   r.work.data(), r.value_work.data(), r.status);
    ASSERT_EQ(r.status, 0);
    std::vector<std::vector<int32_t>> before(static_cast<size_t>(s.params.var_count) + 1);
    for (int32_t p = 1; p <= s.params.var_count; ++p)
      if (r.rank[static_cast<size_t>(p)] <= s.params.pivot_count)
        before[static_cast<size_t>(p)].assign(s.factor_index.begin() + r.first[static_cast<size_t>(p)],
                                              s.factor_index.begin() + r.last[static_cast<size_t>(p)] + 1);
    const kl::symbolic_counts unpadded = r.counts;
    kl::amalgamate_supernodes(s.params, r.order.data(), s.fi(), r.first.data(), r.last.data(), r.work.data(), r.counts);
    int64_t entries = 0;
    double flops = 0.0;
    for (int32_t k = 1; k <= s.params.pivot_count; ++k) {
      const int32_t p = r.order[static_cast<size_t>(k)];
      std::vector<int32_t> now(s.factor_index.begin() + r.first[static_cast<size_t>(p)],
                               s.factor_index.begin() + r.last[static_cast<size_t>(p)] + 1);
      for (size_t t = 1; t < now.size(); ++t) EXPECT_LT(r.rank[static_cast<size_t>(now[t - 1])], r.rank[static_cast<size_t>(now[t])]);
      for (int32_t x : before[static_cast<size_t>(p)]) EXPECT_NE(std::find(now.begin(), now.end(), x), now.end());
      for (int32_t x : now) EXPECT_GT(r.rank[static_cast<size_t>(x)], k);
      entries += static_cast<int64_t>(now.size());
      flops += 0.5 * static_cast<double>(now.size()) * static_cast<double>(now.size() + 1);
    }
    EXPECT_EQ(r.counts.factor_nonzeros, entries);
    EXPECT_DOUBLE_EQ(r.counts.factor_flops, flops);
    EXPECT_GE(r.counts.factor_nonzeros, unpadded.factor_nonzeros);
  }
}

TEST(SymbolicFactor, ListsThatDoNotFitGiveStatusMinusOne) {
  const Case c{31, 20, 15, 0.2, 0.0, false, 0};
  SymbolicRun r = make_run(c);
  const int32_t nz = r.sys.params.matrix_nz;
  const int32_t pivots = r.sys.params.pivot_count;
  r.sys = kltest::make_barrier_system(r.a, nullptr, nz + r.sys.params.var_count + 3);
  r.sys.params.pivot_count = pivots;
  run_symbolic(r);
  EXPECT_EQ(r.status, kl::BARRIER_LISTS_TOO_LONG);
}

}  // namespace
