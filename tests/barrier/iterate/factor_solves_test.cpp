#include "barrier/iterate/factor_solves.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>

#include "barrier/iterate/dense_factor_fixture.h"

namespace {

using kltest::DenseFactor;
using kltest::DenseFactorOptions;

struct SolveCase {
  const char* name;
  int32_t m, n;
  double density;
  std::vector<int32_t> dense_columns;
  bool interleaved;  // rows and columns mixed in the pivot order (augmented style)
  bool in_place;
  int32_t max_block;
  bool expect_fundamental;  // the case must exercise a fundamental block
};

std::vector<int32_t> pivot_order_for(const SolveCase& c, uint32_t seed) {
  const int32_t s = c.n + c.m;
  std::vector<int32_t> order(s + 1);
  std::iota(order.begin(), order.end(), 0);
  if (c.interleaved) {
    std::mt19937 gen(seed);
    std::shuffle(order.begin() + 1, order.end(), gen);
  }
  return order;
}

DenseFactor factor_for(const SolveCase& c, uint32_t seed) {
  const kltest::SparseColumns a = kltest::random_matrix(c.m, c.n, c.density, seed, c.dense_columns);
  std::mt19937 gen(seed + 1);
  std::uniform_real_distribution<double> u(0.5, 2.0);
  std::vector<double> col(c.n + 1), row(c.m + 1);
  for (auto& x : col) x = -u(gen);
  for (auto& x : row) x = 1e-2 * u(gen);
  DenseFactorOptions opt;
  opt.in_place = c.in_place;
  opt.max_block = c.max_block;
  return kltest::make_dense_factor(a, nullptr, col, row, pivot_order_for(c, seed), opt);
}

const std::vector<SolveCase>& solve_cases() {
  static const std::vector<SolveCase> cases = {
      {"normal_sparse_no_blocks", 8, 12, 0.25, {}, false, true, 0, false},
      {"normal_dense_column_blocks_of_7", 13, 10, 0.2, {3}, false, true, 7, true},
      {"normal_dense_column_blocks_of_3", 11, 9, 0.2, {0, 5}, false, true, 3, true},
      {"normal_dense_block_of_4", 9, 6, 0.2, {2}, false, true, 4, true},
      {"augmented_order_blocks", 9, 11, 0.3, {4}, true, false, 6, true},
      {"augmented_order_single_block_rank", 7, 7, 0.4, {}, true, false, 2, false},
  };
  return cases;
}

// Forward solve against L^-1 b computed densely, backward against K x = b
// solved by Gaussian elimination: with and without the gather vector.
TEST(FactorSolves, ForwardAndBackwardMatchDenseReference) {
  for (const SolveCase& c : solve_cases()) {
    for (uint32_t seed : {11u, 29u}) {
      SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
      DenseFactor f = factor_for(c, seed);
      const int32_t s = f.size;
      const int32_t count = f.sys.params.pivot_count;
      if (c.expect_fundamental) {
        bool any = false;
        for (int32_t k = 1; k <= count; ++k) any = any || f.supernode_mark[k] > 0;
        ASSERT_TRUE(any) << "the case has no fundamental block";
      }
      std::mt19937 gen(seed + 7);
      std::uniform_real_distribution<double> u(-1.0, 1.0);
      std::vector<double> b(s + 1, 0.0);
      for (int32_t p = 1; p <= s; ++p) b[p] = u(gen);
      // L y = b by rank.
      std::vector<double> y(count + 1);
      for (int32_t r = 1; r <= count; ++r) {
        double sum = b[f.pivot_order[r]];
        for (int32_t c2 = 1; c2 < r; ++c2) sum -= f.l_at(r, c2) * y[c2];
        y[r] = sum;
      }
      const std::vector<double> x = kltest::dense_solve(f, b);
      for (bool with_work : {false, true}) {
        SCOPED_TRACE(with_work ? "with work vector" : "in place");
        std::vector<double> v = b;
        std::vector<double> work(s + 1, 0.0);
        double* w = with_work ? work.data() : nullptr;
        kl::solve_forward_supernodal(f.sys.params, 1, count, f.factor_first.data(), f.sys.fi(), f.pivot_order.data(),
                                     f.factor_last.data(), f.sys.fv(), f.pivot_inverse.data(), v.data(),
                                     f.supernode_end.data(), f.supernode_mark.data(), w);
        for (int32_t r = 1; r <= count; ++r) EXPECT_NEAR(v[f.pivot_order[r]], y[r], 1e-10) << "rank " << r;
        kl::solve_backward_supernodal(f.sys.params, 1, count, f.factor_first.data(), f.sys.fi(),
                                      f.pivot_order.data(), f.factor_last.data(), f.supernode_end.data(), f.sys.fv(),
                                      f.pivot_inverse.data(), v.data(), w);
        for (int32_t p = 1; p <= s; ++p) EXPECT_NEAR(v[p], x[p], 1e-9 * (1.0 + std::fabs(x[p]))) << "position " << p;
      }
    }
  }
}

// The solve in two rank ranges (in-place part, then the rest; backward in
// the reverse order) gives the same answer as one sweep.
TEST(FactorSolves, SplitRankRangesCompose) {
  const SolveCase c = solve_cases()[1];
  DenseFactor f = factor_for(c, 5);
  const int32_t s = f.size, count = f.sys.params.pivot_count, ip = f.sys.params.in_place_count;
  ASSERT_GT(ip, 0);
  std::vector<double> b(s + 1);
  for (int32_t p = 1; p <= s; ++p) b[p] = std::sin(p);
  std::vector<double> v = b, work(s + 1);
  auto fwd = [&](int32_t a, int32_t z) {
    kl::solve_forward_supernodal(f.sys.params, a, z, f.factor_first.data(), f.sys.fi(), f.pivot_order.data(),
                                 f.factor_last.data(), f.sys.fv(), f.pivot_inverse.data(), v.data(),
                                 f.supernode_end.data(), f.supernode_mark.data(), work.data());
  };
  auto bwd = [&](int32_t a, int32_t z) {
    kl::solve_backward_supernodal(f.sys.params, a, z, f.factor_first.data(), f.sys.fi(), f.pivot_order.data(),
                                  f.factor_last.data(), f.supernode_end.data(), f.sys.fv(), f.pivot_inverse.data(),
                                  v.data(), work.data());
  };
  fwd(1, ip);
  fwd(ip + 1, count);
  bwd(ip + 1, count);
  bwd(1, ip);
  const std::vector<double> x = kltest::dense_solve(f, b);
  for (int32_t p = 1; p <= s; ++p) EXPECT_NEAR(v[p], x[p], 1e-9 * (1.0 + std::fabs(x[p])));
}

// The dense block routines on their own: one fully dense unit-lower block of
// 7 ranks (groups of four, two and one) with three rows below it, in place
// through the row list and on a packed copy.
TEST(FactorSolves, DenseBlockIndexedAndPackedAgree) {
  const int32_t ranks = 7, below = 3, len = ranks - 1 + below;
  // Ranks 1..7 at positions 11..17, rows below at positions 21..23.
  std::vector<int32_t> pivot_order(ranks + 1), factor_first(ranks + 1), rows(len + 1);
  std::vector<double> pivot_inverse(ranks + 1), factor_value(1);
  for (int32_t k = 1; k <= ranks; ++k) pivot_order[k] = 10 + k;
  for (int32_t q = 1; q <= len; ++q) rows[q] = q < ranks ? 10 + 1 + q : 20 + q - ranks + 1;
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<std::vector<double>> lower(ranks + 1, std::vector<double>(len + 2, 0.0));
  for (int32_t k = 1; k <= ranks; ++k) {
    pivot_inverse[k] = 1.0 / (2.0 + u(gen));
    factor_first[k] = static_cast<int32_t>(factor_value.size());
    // Column k's list: rows k..len of the first list (row q is rank q+1).
    for (int32_t q = k; q <= len; ++q) {
      const double value = u(gen);
      factor_value.push_back(value);
      lower[k][q] = value * pivot_inverse[k];  // unit-L entry
    }
  }
  std::vector<double> v(30, 0.0);
  for (int32_t p = 1; p < 30; ++p) v[p] = u(gen);
  // Dense reference over the values at pivot_order[1] and the rows of the first list.
  std::vector<double> ref(len + 2);
  ref[0] = v[pivot_order[1]];
  for (int32_t q = 1; q <= len; ++q) ref[q] = v[rows[q]];
  for (int32_t k = 1; k <= ranks; ++k) {
    const double t = ref[k - 1];
    for (int32_t q = k; q <= len; ++q) ref[q] -= lower[k][q] * t;
  }
  std::vector<double> indexed = v;
  kl::forward_block_indexed(1, ranks, len, pivot_inverse.data(), factor_value.data(), factor_first.data(),
                            pivot_order.data(), indexed.data(), rows.data());
  std::vector<double> packed(len + 2);
  packed[1] = v[pivot_order[1]];
  for (int32_t q = 1; q <= len; ++q) packed[1 + q] = v[rows[q]];
  kl::forward_block_packed(1, ranks, len, pivot_inverse.data(), factor_value.data(), factor_first.data(),
                           packed.data());
  EXPECT_NEAR(indexed[pivot_order[1]], ref[0], 1e-12);
  EXPECT_NEAR(packed[1], ref[0], 1e-12);
  for (int32_t q = 1; q <= len; ++q) {
    EXPECT_NEAR(indexed[rows[q]], ref[q], 1e-12) << q;
    EXPECT_NEAR(packed[1 + q], ref[q], 1e-12) << q;
  }
}

// A dropped pivot (inverse 0) contributes nothing: its solution entry is 0
// and the other ranks see no multiplier from it.
TEST(FactorSolves, DroppedPivotContributesNothing) {
  const SolveCase c = solve_cases()[0];
  DenseFactor f = factor_for(c, 17);
  const int32_t s = f.size, count = f.sys.params.pivot_count;
  const int32_t dropped = count;  // the last rank: no other rank depends on it in the forward solve
  f.pivot_inverse[dropped] = 0.0;
  std::vector<double> v(s + 1);
  for (int32_t p = 1; p <= s; ++p) v[p] = 1.0 + p;
  kl::solve_forward_supernodal(f.sys.params, 1, count, f.factor_first.data(), f.sys.fi(), f.pivot_order.data(),
                               f.factor_last.data(), f.sys.fv(), f.pivot_inverse.data(), v.data(),
                               f.supernode_end.data(), f.supernode_mark.data(), nullptr);
  kl::solve_backward_supernodal(f.sys.params, 1, count, f.factor_first.data(), f.sys.fi(), f.pivot_order.data(),
                                f.factor_last.data(), f.supernode_end.data(), f.sys.fv(), f.pivot_inverse.data(),
                                v.data(), nullptr);
  EXPECT_EQ(v[f.pivot_order[dropped]], 0.0);
  for (int32_t p = 1; p <= s; ++p) EXPECT_TRUE(std::isfinite(v[p]));
}

}  // namespace
