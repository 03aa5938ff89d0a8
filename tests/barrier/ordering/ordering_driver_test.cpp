#include "barrier/ordering/ordering_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/symbolic_reference.h"

namespace {

using kltest::AnalysisRun;
using kltest::SparseColumns;

SparseColumns random_matrix(uint32_t seed, int32_t m, int32_t n, double density) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  SparseColumns a;
  a.rows_count = m;
  a.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < m; ++i)
      if (u(rng) < density || i == j % m) {
        a.rows.push_back(i);
        a.values.push_back(1.0 + i);
      }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  return a;
}

AnalysisRun analyse(const SparseColumns& a, int32_t kind, int32_t ordering, int32_t factor_space = 0,
                    const std::vector<int32_t>& removed = {}, int32_t supfill = 0, int32_t postorder = 1) {
  AnalysisRun run;
  run.sys = kltest::make_barrier_system(a, nullptr, factor_space);
  run.sys.params.ORDERING = ordering;
  run.sys.params.POSTORDER = postorder;
  run.sys.params.SUPFILL = supfill;
  for (int32_t p : removed) run.sys.var_state[static_cast<size_t>(p)] = -2;
  kltest::prepare_analysis(run, kind);
  kltest::run_analysis(run, kind);
  return run;
}

std::vector<int32_t> live_positions(const AnalysisRun& run) {
  std::vector<int32_t> live;
  for (int32_t p = 1; p <= run.sys.params.var_count; ++p)
    if (run.sys.var_state[static_cast<size_t>(p)] >= -1) live.push_back(p);
  return live;
}

// pivot_order is a permutation of the live positions, the rank-indexed lists
// equal a plain elimination in that order (without padding) and the counts
// equal the plain ones.
void expect_valid_analysis(const AnalysisRun& run, const SparseColumns& a, const SparseColumns* q = nullptr) {
  const auto& s = run.sys;
  const int32_t count = s.params.pivot_count;
  std::vector<int32_t> order(run.pivot_order.begin() + 1, run.pivot_order.begin() + count + 1);
  std::sort(order.begin(), order.end());
  ASSERT_EQ(order, live_positions(run));
  std::vector<int32_t> states(s.var_state.size(), 0);
  for (size_t p = 0; p < states.size(); ++p) states[p] = s.var_state[p] < -1 ? -2 : 0;
  const auto plain = kltest::plain_elimination(kltest::system_adjacency(a, q, states), run.pivot_order.data(), count,
                                               s.n());
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t p = run.pivot_order[static_cast<size_t>(k)];
    EXPECT_EQ(run.pivot_rank[static_cast<size_t>(p)], k);
    std::vector<int32_t> list(s.factor_index.begin() + run.factor_first[static_cast<size_t>(k)],
                              s.factor_index.begin() + run.factor_last[static_cast<size_t>(k)] + 1);
    ASSERT_EQ(list, plain.lists[static_cast<size_t>(p)]) << "rank " << k;
  }
  EXPECT_EQ(run.counts.factor_nonzeros, plain.nonzeros);
  EXPECT_EQ(run.counts.row_nonzeros, plain.row_nonzeros);
  EXPECT_DOUBLE_EQ(run.counts.factor_flops, plain.flops);
}

TEST(AnalyseNormalEquations, NoOrderingKeepsNaturalOrderWithoutRemovedPositions) {
  const SparseColumns a = random_matrix(3, 12, 15, 0.2);
  const AnalysisRun run = analyse(a, kl::SYSTEM_NORMAL_EQUATIONS, -1, 0, {4, 20}, 0, 0);
  ASSERT_EQ(run.status, 0);
  std::vector<int32_t> order(run.pivot_order.begin() + 1, run.pivot_order.begin() + run.sys.params.pivot_count + 1);
  EXPECT_EQ(order, live_positions(run));
  expect_valid_analysis(run, a);
}

TEST(AnalyseNormalEquations, EveryOrderingGivesAValidOrderAndTheFactorOfThatOrder) {
  struct MatrixCase {
    const char* name;
    SparseColumns a;
    std::vector<int32_t> removed;
  };
  const MatrixCase matrices[] = {
      {"random 30 x 40", random_matrix(5, 30, 40, 0.08), {}},
      {"random 25 x 20 with removed positions", random_matrix(6, 25, 20, 0.1), {3, 22, 30, 41}},
      {"grid 30 x 30 (900 rows)", kltest::grid_incidence(30), {}},
  };
  for (const auto& mc : matrices) {
    for (int32_t kind : {kl::SYSTEM_NORMAL_EQUATIONS, kl::SYSTEM_AUGMENTED}) {
      for (int32_t ordering : {-1, 0, 1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << mc.name << " kind " << kind << " ORDERING " << ordering);
        const AnalysisRun run = analyse(mc.a, kind, ordering, 0, mc.removed);
        ASSERT_EQ(run.status, 0);
        // The states come back as they were given (the orderings borrow them).
        for (int32_t p = 1; p <= run.sys.params.var_count; ++p) {
          const bool removed = std::find(mc.removed.begin(), mc.removed.end(), p) != mc.removed.end();
          EXPECT_EQ(run.sys.var_state[static_cast<size_t>(p)], removed ? -2 : 0) << p;
        }
        expect_valid_analysis(run, mc.a);
        if (kind == kl::SYSTEM_NORMAL_EQUATIONS) {
          // Columns first, in natural order.
          int32_t expected = 0;
          for (int32_t k = 1; k <= run.sys.params.pivot_count; ++k) {
            const int32_t p = run.pivot_order[static_cast<size_t>(k)];
            if (p > run.sys.n()) break;
            while (run.sys.var_state[static_cast<size_t>(++expected)] < -1) {
            }
            EXPECT_EQ(p, expected);
          }
          EXPECT_EQ(run.pivot_order[static_cast<size_t>(expected) + 1] > run.sys.n() || expected == run.sys.n(), true);
        }
      }
    }
  }
}

TEST(AnalyseNormalEquations, QuadraticCouplingOnBothPathsGivesTheFactorOfTheOrder) {
  const SparseColumns a = random_matrix(11, 20, 24, 0.12);
  SparseColumns q;
  q.rows_count = 24;
  q.cols_count = 24;
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int32_t j = 0; j < 24; ++j) {
    for (int32_t i = j + 1; i < 24; ++i)
      if (u(rng) < 0.08) {
        q.rows.push_back(i);
        q.values.push_back(0.5);
      }
    q.starts.push_back(static_cast<int32_t>(q.rows.size()));
  }
  int32_t neighbours_of_removed = 0;
  for (int32_t j = 0; j < 24; ++j)
    for (int32_t t = q.starts[static_cast<size_t>(j)]; t < q.starts[static_cast<size_t>(j) + 1]; ++t)
      if (j == 6 || q.rows[static_cast<size_t>(t)] == 6) ++neighbours_of_removed;
  ASSERT_GT(neighbours_of_removed, 0);
  for (int32_t kind : {kl::SYSTEM_NORMAL_EQUATIONS, kl::SYSTEM_AUGMENTED}) {
    for (int32_t ordering : {-1, 0, 1, 2, 3}) {
      for (int32_t postorder : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message() << "kind " << kind << " ORDERING " << ordering << " POSTORDER " << postorder);
        AnalysisRun run;
        run.sys = kltest::make_barrier_system(a, &q);
        run.sys.params.ORDERING = ordering;
        run.sys.params.POSTORDER = postorder;
        run.sys.params.SUPFILL = 0;
        run.sys.var_state[7] = -2;  // a removed column with quadratic neighbours
        kltest::prepare_analysis(run, kind);
        kltest::run_analysis(run, kind);
        ASSERT_EQ(run.status, 0);
        expect_valid_analysis(run, a, &q);
        if (kind == kl::SYSTEM_NORMAL_EQUATIONS) {
          for (int32_t k = 1; k <= 23; ++k) EXPECT_LE(run.pivot_order[static_cast<size_t>(k)], 24);
        }
      }
    }
  }
}

TEST(AnalyseNormalEquations, PaddedFactorCountsAreTheCountsOfItsLists) {
  const SparseColumns a = kltest::grid_incidence(20);
  const AnalysisRun run = analyse(a, kl::SYSTEM_NORMAL_EQUATIONS, 0, 0, {}, 25);
  ASSERT_EQ(run.status, 0);
  int64_t entries = 0;
  double flops = 0.0;
  for (int32_t k = 1; k <= run.sys.params.pivot_count; ++k) {
    const int64_t len = run.factor_last[static_cast<size_t>(k)] - run.factor_first[static_cast<size_t>(k)] + 1;
    entries += len;
    flops += 0.5 * static_cast<double>(len * (len + 1));
  }
  EXPECT_EQ(run.counts.factor_nonzeros, entries);
  EXPECT_DOUBLE_EQ(run.counts.factor_flops, flops);
}

TEST(AnalyseNormalEquations, LongColumnsGoLastOnTheAugmentedPath) {
  // Columns 1 and 3 have 6 entries, the others 2; with SUPDENS 5 both long
  // columns end up after every row, in reverse order of the ordering.
  SparseColumns a;
  a.rows_count = 8;
  a.cols_count = 5;
  a.starts = {0};
  const std::vector<std::vector<int32_t>> cols = {{0, 1, 2, 3, 4, 5}, {1, 2}, {2, 3, 4, 5, 6, 7}, {6, 7}, {0, 7}};
  for (const auto& c : cols) {
    for (int32_t i : c) {
      a.rows.push_back(i);
      a.values.push_back(1.0);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  for (int32_t ordering : {0, 1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "ORDERING " << ordering);
    AnalysisRun run;
    run.sys = kltest::make_barrier_system(a);
    run.sys.params.ORDERING = ordering;
    run.sys.params.SUPDENS = 5;
    run.sys.params.POSTORDER = 0;
    kltest::prepare_analysis(run, kl::SYSTEM_AUGMENTED);
    kltest::run_analysis(run, kl::SYSTEM_AUGMENTED);
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.sys.params.pivot_count, 13);
    const int32_t last = run.pivot_order[13];
    const int32_t before_last = run.pivot_order[12];
    EXPECT_TRUE((last == 1 && before_last == 3) || (last == 3 && before_last == 1)) << last << " " << before_last;
  }
}

TEST(AnalyseNormalEquations, TooSmallFactorSpaceGivesMinusTwoOrMinusOneAndNeverOverruns) {
  // Every factor space from the exact -2 bound upward: the arrays are sized
  // exactly, so the sanitizer build sees any access past them.
  const SparseColumns a = random_matrix(9, 14, 18, 0.18);
  const int32_t nz = static_cast<int32_t>(a.rows.size());
  for (int32_t kind : {kl::SYSTEM_NORMAL_EQUATIONS, kl::SYSTEM_AUGMENTED}) {
    for (int32_t ordering : {-1, 0, 1, 3}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " ORDERING " << ordering);
      const AnalysisRun at_bound = analyse(a, kind, ordering, 2 * nz);
      EXPECT_EQ(at_bound.status, kl::BARRIER_SPACE_SHORT);
      EXPECT_EQ(at_bound.sys.params.pivot_count, 0);
      if (ordering == -1) {
        EXPECT_NE(analyse(a, kind, ordering, 2 * nz + 1).status, kl::BARRIER_SPACE_SHORT);
      }
      bool reached_success = false;
      for (int32_t space = 2 * nz; space <= 2 * nz + 60 * (14 + 18); space += 7) {
        const AnalysisRun run = analyse(a, kind, ordering, space);
        ASSERT_TRUE(run.status == 0 || run.status == kl::BARRIER_SPACE_SHORT || run.status == kl::BARRIER_LISTS_TOO_LONG)
            << run.status;
        if (run.status == kl::BARRIER_SPACE_SHORT) {
          EXPECT_EQ(run.sys.params.pivot_count, 0);
        }
        if (run.status == kl::BARRIER_LISTS_TOO_LONG) {
          EXPECT_EQ(run.sys.params.pivot_count, 14 + 18);
        }
        if (run.status == 0) {
          reached_success = true;
          expect_valid_analysis(run, a);
        }
      }
      EXPECT_TRUE(reached_success);
    }
  }
}

TEST(RegroupPivotOrder, DroppedColumnsFirstAndDroppedRowsLastReversed) {
  kl::barrier_params params;
  kl::set_barrier_defaults(params);
  params.col_count = 4;
  params.row_count = 4;
  params.var_count = 8;
  // positions:         1   2  3   4  5   6  7   8
  std::vector<int32_t> state = {0, 0, -1, 1, -1, -1, 0, -2, -1};
  std::vector<int32_t> order = {0, 5, 2, 6, 4, 1, 7, 8, 3, 0};
  params.pivot_count = 8;
  std::vector<int32_t> work(10, 0);
  kl::regroup_pivot_order(params, order.data(), state.data(), work.data());
  // Columns of state -1 (2, 4 in pivot order), then states >= 0 (6, 1, 3),
  // then the rows of state -1 (5, 8 met in that order) reversed; 7 dropped.
  const std::vector<int32_t> expected = {2, 4, 6, 1, 3, 8, 5};
  ASSERT_EQ(params.pivot_count, 7);
  EXPECT_EQ(std::vector<int32_t>(order.begin() + 1, order.begin() + 8), expected);
  for (int32_t p : {1, 2, 3, 4, 5, 6, 8}) EXPECT_GE(state[static_cast<size_t>(p)], 0) << p;
  EXPECT_EQ(state[7], -2);
}

}  // namespace
