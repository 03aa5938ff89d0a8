// The crossover's starting basis on small matrices: which rows keep their
// slacks, which columns the singleton, triangular and fill passes take, the
// pivot tolerance, the element limit of the fill pass and the completion of
// the higher crash levels.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/crossover/crossover_basis.h"

namespace {

using kl::CrossoverBasisCounts;

// A matrix by columns with its classes; every array 1-based.
struct Fixture {
  int32_t m = 0;
  int32_t n = 0;
  std::vector<std::vector<std::pair<int32_t, double>>> columns;  // (row, value), 0-based column list
  std::vector<int32_t> col_code;  // 1-based
  std::vector<int32_t> row_code;  // 1-based
  int32_t limit = 1000;
  CrossoverBasisCounts counts;
  std::string last_line;

  Fixture(int32_t rows, std::vector<std::vector<std::pair<int32_t, double>>> cols, std::vector<int32_t> ccodes,
          std::vector<int32_t> rcodes)
      : m(rows), n(static_cast<int32_t>(cols.size())), columns(std::move(cols)) {
    col_code.assign(1, 0);
    col_code.insert(col_code.end(), ccodes.begin(), ccodes.end());
    row_code.assign(1, 0);
    row_code.insert(row_code.end(), rcodes.begin(), rcodes.end());
  }

  void run(int32_t level) {
    std::vector<int32_t> start(static_cast<size_t>(n) + 2), end(static_cast<size_t>(n) + 1);
    std::vector<int32_t> row(1, 0);
    std::vector<double> value(1, 0.0);
    for (int32_t j = 1; j <= n; ++j) {
      start[static_cast<size_t>(j)] = static_cast<int32_t>(row.size());
      for (const auto& [i, v] : columns[static_cast<size_t>(j - 1)]) {
        row.push_back(i);
        value.push_back(v);
      }
      end[static_cast<size_t>(j)] = static_cast<int32_t>(row.size()) - 1;
    }
    int32_t nz = static_cast<int32_t>(row.size()) - 1;
    start[static_cast<size_t>(n) + 1] = nz + 1;
    // Room for the fill columns up to the limit, then the row lists.
    row.resize(static_cast<size_t>(limit) + static_cast<size_t>(nz) + 2, 0);
    value.resize(row.size(), 0.0);
    std::vector<int32_t> row_lists(static_cast<size_t>(nz) + 1);
    const auto ints = [](int32_t k) { return std::vector<int32_t>(static_cast<size_t>(k) + 1, 0); };
    const auto reals = [](int32_t k) { return std::vector<double>(static_cast<size_t>(k) + 1, 0.0); };
    auto rl_start = ints(m), rl_end = ints(m), u_start = ints(n), u_count = ints(n), candidates = ints(m);
    auto covered = ints(m), col_list = ints(n), next = ints(m), prev = ints(m), pivots = ints(n), state = ints(n);
    auto dense = reals(m), cleared = reals(m);
    kl::barrier_params params;
    kl::set_barrier_defaults(params);
    params.print_word = 0;
    const int32_t second = nz + limit;
    kl::build_crossover_basis(params, &m, &n, &nz, &limit, &second, start.data(), end.data(), rl_start.data(),
                              rl_end.data(), u_start.data(), u_count.data(), candidates.data(), row.data(),
                              row_lists.data(), value.data(), col_code.data(), row_code.data(), covered.data(),
                              col_list.data(), dense.data(), next.data(), prev.data(), pivots.data(), state.data(),
                              cleared.data(), &level, &counts);
    last_line = params.message_buffer;
  }

  // One basic variable per row when codes 2 and 3 mean basic.
  int32_t basic_count() const {
    int32_t k = 0;
    for (int32_t j = 1; j <= n; ++j) k += col_code[static_cast<size_t>(j)] >= 2 ? 1 : 0;
    for (int32_t i = 1; i <= m; ++i) k += row_code[static_cast<size_t>(i)] >= 2 ? 1 : 0;
    return k;
  }
};

TEST(CrossoverBasis, LevelZeroKeepsEverySlack) {
  Fixture f(3, {{{1, 1.0}, {2, 1.0}}, {{2, 2.0}}, {{3, 1.0}}}, {1, -1, 0}, {0, 1, -1});
  f.run(0);
  EXPECT_EQ(f.row_code, (std::vector<int32_t>{0, 2, 3, 2}));
  for (int32_t j = 1; j <= 3; ++j) EXPECT_LT(f.col_code[static_cast<size_t>(j)], 2) << "column " << j;
  EXPECT_EQ(f.counts.singletons + f.counts.triangular + f.counts.fill, 0);
  EXPECT_EQ(f.counts.to_cover, 1);
  EXPECT_EQ(f.counts.interior, 2);
  EXPECT_EQ(f.counts.degenerate, 1);
  // The second statistics line: only the row counts are not zero.
  EXPECT_EQ(f.last_line, "Total :      3  Interm:      2  Pivot :      0  Degen:      1  Left:      1");
}

// The singleton pass takes an entry of at least a tenth of its column's
// largest, never less than 1e-4.
TEST(CrossoverBasis, SingletonPivotTolerance) {
  struct Case {
    double entry;
    double largest;
    bool taken;
  };
  for (const Case& c : {Case{5e-5, 1.0, false}, Case{1e-4, 4e-4, true}, Case{0.09, 1.0, false}, Case{0.1, 1.0, true}}) {
    SCOPED_TRACE(std::to_string(c.entry) + " of " + std::to_string(c.largest));
    // Row 2's slack is interior, so row 1 is the column's only uncovered row.
    Fixture f(2, {{{1, c.entry}, {2, c.largest}}}, {1}, {0, 1});
    f.run(1);
    EXPECT_EQ(f.col_code[1] == 3, c.taken);
    EXPECT_EQ(f.row_code[1], c.taken ? 0 : 2);
    EXPECT_EQ(f.basic_count(), 2);
    EXPECT_EQ(f.counts.singletons, c.taken ? 1 : 0);
  }
}

// Two open columns of equal uncovered count: the first in the row's list
// (the lower column number) is tried first. The second depends on the
// first over the rows left; the fill pass finds it dependent when it is,
// and takes it when it is not.
TEST(CrossoverBasis, TriangularTieAndFillPass) {
  for (const double second_top : {1.0, 2.0}) {
    for (int32_t level = 2; level <= 3; ++level) {
      SCOPED_TRACE("level " + std::to_string(level) + ", entry " + std::to_string(second_top));
      Fixture f(2, {{{1, 1.0}, {2, 1.0}}, {{1, second_top}, {2, 1.0}}}, {1, 1}, {0, 0});
      f.run(level);
      EXPECT_EQ(f.col_code[1], 3);
      EXPECT_EQ(f.counts.triangular, 1);
      const bool fill = level == 3 && second_top != 1.0;
      EXPECT_EQ(f.col_code[2], fill ? 3 : 1);
      EXPECT_EQ(f.row_code[1], fill ? 0 : 2);
      EXPECT_EQ(f.counts.fill, fill ? 1 : 0);
      EXPECT_EQ(f.counts.given_up, level == 3 && !fill ? 1 : 0);
      EXPECT_EQ(f.basic_count(), 2);
    }
  }
}

// An element limit below nz + m + 1 ends the fill pass before it stores
// anything.
TEST(CrossoverBasis, ElementLimitEndsTheFillPass) {
  Fixture f(2, {{{1, 1.0}, {2, 1.0}}, {{1, 2.0}, {2, 1.0}}}, {1, 1}, {0, 0});
  f.limit = 4 + 2;  // nz + m
  f.run(3);
  EXPECT_EQ(f.counts.fill, 0);
  EXPECT_EQ(f.col_code[2], 1);
  EXPECT_EQ(f.row_code[1], 2);
  EXPECT_NE(f.last_line.find("Left:      1"), std::string::npos) << f.last_line;
}

// Level 4: a row the fill pass gives up takes a kept column before its
// slack.
TEST(CrossoverBasis, LevelFourGivesKeptColumnsToRowsLeftOver) {
  const std::vector<std::vector<std::pair<int32_t, double>>> cols = {
      {{1, 1.0}, {2, 1.0}}, {{1, 1.0}, {2, 1.0}}, {{1, 1.0}, {2, 1.0}}};
  for (int32_t level = 3; level <= 4; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    Fixture f(2, cols, {1, 1, 1}, {0, 0});
    f.run(level);
    EXPECT_EQ(f.col_code[1], 3);
    EXPECT_EQ(f.counts.given_up, 1);
    // One of the two equal-key columns is walked and given up, the other
    // kept (the sort does not keep the order of equal keys).
    EXPECT_EQ((f.col_code[2] == 2) + (f.col_code[3] == 2), level == 4 ? 1 : 0);
    EXPECT_EQ(f.row_code[1], level == 4 ? 0 : 2);
    EXPECT_EQ(f.basic_count(), 2);
  }
}

// A row of any other code counts as covered: no column is sought for it.
TEST(CrossoverBasis, OtherRowCodesCountAsCovered) {
  Fixture f(2, {{{1, 1.0}}, {{2, 1.0}}}, {1, 1}, {-2, 0});
  f.run(2);
  EXPECT_EQ(f.row_code[1], -2);
  EXPECT_EQ(f.col_code[1], 1);
  EXPECT_EQ(f.col_code[2], 3);
  EXPECT_EQ(f.counts.to_cover, 0);
}

}  // namespace
