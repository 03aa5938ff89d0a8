#include "barrier/factor/cache_blocking.h"

#include <gtest/gtest.h>

#include "barrier/factor/factor_fixture.h"
#include "barrier/factor/update_kernels.h"
#include "runtime/cache_size.h"

namespace {

using kltest::FactorCase;

// `cols` structural columns that all hold rows 1..rows (identical lists),
// then the rows, which fill in completely: one independent run and one
// fundamental run.
FactorCase identical_columns(int32_t cols, int32_t rows) {
  kltest::SparseColumns a;
  a.rows_count = rows;
  a.cols_count = cols;
  for (int32_t j = 0; j < cols; ++j) {
    for (int32_t r = 0; r < rows; ++r) {
      a.rows.push_back(r);
      a.values.push_back(1.0 + r + j);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  FactorCase fc;
  fc.sys = kltest::make_barrier_system(a, nullptr, (cols + rows) * (cols + rows) + 1000);
  fc.diagonal.assign(static_cast<size_t>(cols + rows) + 1, 1.0);
  std::vector<int32_t> order;
  for (int32_t p = 1; p <= cols + rows; ++p) order.push_back(p);
  EXPECT_TRUE(kltest::lay_out_structure(fc, order));
  kltest::prepare_work(fc);
  return fc;
}

std::vector<std::pair<int32_t, int32_t>> blocks(const FactorCase& fc, int32_t from, int32_t to) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (int32_t k = from; k <= to; ++k) {
    const int32_t end = fc.supernode_end[static_cast<size_t>(k)];
    if (end == 0) continue;
    out.emplace_back(k, end);
    k = end;
  }
  return out;
}

TEST(BarrierCacheBlocking, FirstLevelRowsFromTheCacheKeys) {
  struct Case {
    int32_t l1_cache, l1_loop, rows, loop_after;
  };
  const Case cases[] = {
      {32, 8, 447, 8},          // ⌊⌊32768/9⌋/8⌋ - 8
      {0, 8, 2147483647, 8},    // unknown: no chunking
      {-1, 8, 2147483647, 8},
      {1, 8, 2147483647, 8},    // 14 - 8 = 6 is not above L1_LOOP
      {32, 0, 2040, 1},         // L1_LOOP 0 becomes 1: ⌊⌊32768/2⌋/8⌋ - 8
  };
  for (const Case& c : cases) {
    FactorCase fc = identical_columns(3, 2);
    fc.sys.params.L1_CACHE = c.l1_cache;
    fc.sys.params.L1_LOOP = c.l1_loop;
    kltest::block_for_cache(fc);
    EXPECT_EQ(fc.sys.params.l1_block_rows, c.rows) << "L1_CACHE " << c.l1_cache;
    EXPECT_EQ(fc.sys.params.L1_LOOP, c.loop_after);
  }
}

// 33 columns with identical 8-entry lists: W2 = 128 doubles, so the
// independent run (S = 9·t + 10) is cut into blocks of 10 computed columns,
// which become 8, and a last block of 9 that fits. The 8 rows that follow
// fill in completely and form one fundamental block.
TEST(BarrierCacheBlocking, RunsAreCutToTheLevelTwoLimit) {
  FactorCase fc = identical_columns(33, 8);
  fc.sys.params.L2_CACHE = 1;
  fc.sys.params.L1_CACHE = -1;
  fc.sys.params.SSUPNODE = 4;
  fc.sys.params.PSUPNODE = 4;
  kltest::block_for_cache(fc);
  const std::vector<std::pair<int32_t, int32_t>> expected = {{1, 8}, {9, 16}, {17, 24}, {25, 33}, {34, 41}};
  EXPECT_EQ(blocks(fc, 1, 41), expected);
  EXPECT_EQ(fc.supernode_mark[1], -8);
  EXPECT_EQ(fc.supernode_mark[30], -33);
  EXPECT_EQ(fc.supernode_mark[34], 41);
  EXPECT_EQ(fc.supernode_mark[41], 41);
  for (int32_t p = 1; p <= 41; ++p) EXPECT_EQ(fc.pivot_rank[static_cast<size_t>(p)], p);
}

// A column whose list alone is over budget is a block of one, marked only
// when the minimum size is 1; two identical columns form an independent
// block when SSUPNODE <= 2.
TEST(BarrierCacheBlocking, MinimumSizesDecideTheMarks) {
  for (int32_t minimum : {1, 2, 3}) {
    FactorCase fc = identical_columns(2, 200);
    fc.sys.params.L2_CACHE = 1;  // 128 doubles: a list of 200 is over any budget
    fc.sys.params.SSUPNODE = minimum;
    kltest::block_for_cache(fc);
    if (minimum == 1) {
      EXPECT_EQ(fc.supernode_end[1], 1);
      EXPECT_EQ(fc.supernode_mark[1], -1);
    } else {
      EXPECT_EQ(fc.supernode_end[1], 0);
    }
    FactorCase small = identical_columns(2, 3);
    small.sys.params.SSUPNODE = minimum;
    kltest::block_for_cache(small);
    EXPECT_EQ(small.supernode_end[1], minimum <= 2 ? 2 : 0) << "SSUPNODE " << minimum;
    EXPECT_EQ(small.supernode_mark[2], minimum <= 2 ? -2 : 0);
  }
  FactorCase one = identical_columns(2, 3);
  one.sys.params.pivot_count = 1;
  kltest::block_for_cache(one);
  EXPECT_EQ(one.supernode_end[1], 0);
  EXPECT_EQ(one.pivot_rank[2], 0);  // a position without a rank
}

TEST(BarrierCacheBlocking, PushChoiceFollowsTheEntriesOutsideBlocks) {
  struct Case {
    int32_t pushfact, l2_cache, after;
  };
  // Two columns with 3-entry lists and rows that form a block: the 6 column
  // entries lie outside blocks when SSUPNODE is 3.
  const Case cases[] = {
      {-3, 0, 3}, {-2, 512, 2}, {0, 0, 0},  {1, 512, 1}, {2, 512, 1},
      {4, 512, 3}, {1, 0, 2},   {4, 0, 4},  {3, -1, 3},  {2, -5, 1},
  };
  for (const Case& c : cases) {
    FactorCase fc = identical_columns(2, 3);
    fc.sys.params.SSUPNODE = 3;
    fc.sys.params.PUSHFACT = c.pushfact;
    fc.sys.params.L2_CACHE = c.l2_cache;
    kltest::block_for_cache(fc);
    EXPECT_EQ(fc.supernode_end[1], 0);
    EXPECT_EQ(fc.sys.params.PUSHFACT, c.after) << c.pushfact << " with L2_CACHE " << c.l2_cache;
  }
}

TEST(BarrierUpdateKernels, KernelsComputeTheStatedSums) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> val(-1.0, 1.0);
  for (int32_t loop : {4, 8}) {
    kl::barrier_params params;
    params.L2_LOOP = loop;
    const kl::UpdateKernels kernels = kl::select_update_kernels(params);
    for (int32_t sources = 0; sources <= 11; ++sources) {
      for (int32_t len : {0, 1, 7, 8, 9, 19}) {
        const int32_t first = 3, last = first + sources - 1, offset = 2, back = 3;
        std::vector<double> values(2000), pinv(40);
        for (double& v : values) v = val(rng);
        for (double& v : pinv) v = val(rng);
        std::vector<int32_t> cursor(40, 0);
        for (int32_t s = first; s <= last; ++s) cursor[static_cast<size_t>(s)] = 10 + 60 * (s - first) + back;
        auto v = [&](int32_t s, int32_t i) { return values[static_cast<size_t>(cursor[static_cast<size_t>(s)] + i)]; };
        auto p = [&](int32_t s) { return pinv[static_cast<size_t>(s)]; };

        std::vector<double> target(static_cast<size_t>(len) + 1), want(target.size());
        for (size_t t = 0; t < target.size(); ++t) want[t] = target[t] = val(rng);
        double acc = 0.25, want_acc = 0.25;
        for (int32_t s = first; s <= last; ++s) {
          const double mu = -p(s) * v(s, offset);
          want_acc += mu * v(s, offset);
          for (int32_t t = 0; t < len; ++t) want[static_cast<size_t>(t)] += mu * v(s, offset + 1 + t);
        }
        kernels.column(len, first, last, pinv.data(), values.data(), cursor.data(), target.data(), &acc, offset);
        EXPECT_NEAR(acc, want_acc, 1e-13);
        for (size_t t = 0; t < target.size(); ++t) EXPECT_NEAR(target[t], want[t], 1e-13);

        for (size_t t = 0; t < target.size(); ++t) want[t] = target[t] = val(rng);
        for (int32_t s = first; s <= last; ++s) {
          const double mu = -v(s, -back) * p(s);
          for (int32_t t = 0; t < len; ++t) want[static_cast<size_t>(t)] += mu * v(s, 1 + t);
        }
        kernels.chunk(len, first, last, back, 1, cursor.data(), values.data(), target.data(), pinv.data());
        for (size_t t = 0; t < target.size(); ++t) EXPECT_NEAR(target[t], want[t], 1e-13);

        const int32_t ncols = std::min(len, 3);
        std::vector<double> buffer(200, 99.0), packed;
        for (int32_t c = 0; c <= ncols; ++c)
          for (int32_t t = 0; t <= len - c; ++t) {
            double sum = 0.0;
            for (int32_t s = first; s <= last; ++s) sum -= p(s) * v(s, offset + c) * v(s, offset + c + t);
            packed.push_back(sum);
          }
        kernels.block(len, ncols, first, last, pinv.data(), values.data(), cursor.data(), buffer.data(), offset);
        for (size_t i = 0; i < packed.size(); ++i) EXPECT_NEAR(buffer[i], packed[i], 1e-13);
        EXPECT_EQ(buffer[packed.size()], 99.0);
      }
    }
  }
}

TEST(BarrierCacheSize, SizesParseAndDetectionAnswers) {
  EXPECT_EQ(kl::parse_cache_size_kb("1024K\n"), 1024);
  EXPECT_EQ(kl::parse_cache_size_kb("2M"), 2048);
  EXPECT_EQ(kl::parse_cache_size_kb("524288"), 512);
  EXPECT_EQ(kl::parse_cache_size_kb("big"), -1);
  EXPECT_EQ(kl::parse_cache_size_kb(""), -1);
  EXPECT_GE(kl::detect_l2_cache_kb(), 1);
  // The plain reading says -1 for unknown; the detection falls back to 512.
  const int32_t read = kl::read_l2_cache_kb();
  EXPECT_TRUE(read == -1 || read > 0);
  EXPECT_EQ(kl::detect_l2_cache_kb(), read > 0 ? read : kl::kDefaultL2CacheKb);
}

}  // namespace

namespace {

// A fundamental run of 70000 rows, each list the next rank and the rest of
// the run (the lists share one array): its size, about T²/2 doubles, passes
// 2^31, and the first columns, each longer than the level-2 limit, are
// blocks of their own.
TEST(BarrierCacheBlocking, RunSizesPastTwoToThe31AreCounted) {
  const int32_t count = 70000;
  kl::barrier_params params;
  kl::set_barrier_defaults(params);
  params.col_count = 0;
  params.row_count = count;
  params.var_count = count;
  params.pivot_count = count;
  params.L1_CACHE = -1;
  params.L2_CACHE = 512;
  params.PSUPNODE = 1;
  std::vector<int32_t> index(static_cast<size_t>(count) + 1), first(index.size()), last(index.size()),
      order(index.size()), end(index.size()), rank(index.size()), mark(index.size());
  for (int32_t k = 1; k <= count; ++k) {
    order[static_cast<size_t>(k)] = k;
    index[static_cast<size_t>(k)] = k + 1;
    first[static_cast<size_t>(k)] = k;
    last[static_cast<size_t>(k)] = count - 1;
  }
  kl::block_supernodes_for_cache(params, first.data(), last.data(), index.data(), order.data(), end.data(),
                                 rank.data(), mark.data());
  EXPECT_EQ(end[1], 1);
  EXPECT_EQ(mark[1], 1);
  EXPECT_EQ(end[2], 2);
  // Every rank lies in a block of consecutive ranks.
  for (int32_t k = 1; k <= count;) {
    ASSERT_GE(end[static_cast<size_t>(k)], k) << "rank " << k;
    const int32_t e = end[static_cast<size_t>(k)];
    for (int32_t r = k; r <= e; ++r) ASSERT_EQ(end[static_cast<size_t>(r)], e);
    k = e + 1;
    if (k == count) break;  // a last single rank is left unmarked
  }
}

}  // namespace
