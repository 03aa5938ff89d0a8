// The convexity check of the barrier's quadratic objective on small
// matrices: definite, semidefinite (zero rows, rank one, a singular
// chain), indefinite ones the 2x2 minors catch and ones only the
// elimination catches, and the necessary conditions a block above the
// dense limit falls back to.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "barrier/convexity.h"

namespace {

using kl::check_quadratic_convexity;
using kl::QuadraticConvexity;

// A symmetric matrix held as the driver holds its copy: the diagonal and,
// for column j, the entries below it.
struct Lists {
  std::vector<double> diag{0.0};
  std::vector<int32_t> start{0};
  std::vector<int32_t> index{0};
  std::vector<double> value{0.0};
};

Lists lists_of(const std::vector<std::vector<double>>& q) {
  Lists l;
  const int32_t n = static_cast<int32_t>(q.size());
  for (int32_t j = 0; j < n; ++j) {
    l.diag.push_back(q[j][j]);
    l.start.push_back(static_cast<int32_t>(l.index.size()));
    for (int32_t i = j + 1; i < n; ++i) {
      if (q[i][j] == 0.0) continue;
      l.index.push_back(i + 1);
      l.value.push_back(q[i][j]);
    }
  }
  l.start.push_back(static_cast<int32_t>(l.index.size()));
  return l;
}

QuadraticConvexity check(const std::vector<std::vector<double>>& q, int32_t dense_limit = kl::kConvexityDenseLimit) {
  const Lists l = lists_of(q);
  return check_quadratic_convexity(static_cast<int32_t>(q.size()), l.diag.data(), l.start.data(), l.index.data(),
                                   l.value.data(), dense_limit);
}

// The path graph's Laplacian (singular: the all-ones vector is in its
// kernel) minus shift times the identity.
std::vector<std::vector<double>> chain(int32_t n, double shift) {
  std::vector<std::vector<double>> q(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(n)));
  for (int32_t i = 0; i < n; ++i) {
    q[i][i] = (i == 0 || i == n - 1 ? 1.0 : 2.0) - shift;
    if (i + 1 < n) q[i][i + 1] = q[i + 1][i] = -1.0;
  }
  return q;
}

struct Case {
  std::string name;
  std::vector<std::vector<double>> q;
  bool convex;
  int32_t column;  // where a non-convex one shows (0: not checked)
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ConvexityTable : public ::testing::TestWithParam<Case> {};

TEST_P(ConvexityTable, TellsPositiveSemidefiniteFromNot) {
  const Case& c = GetParam();
  const QuadraticConvexity r = check(c.q);
  EXPECT_EQ(r.convex, c.convex);
  EXPECT_TRUE(r.exact);
  if (!c.convex && c.column != 0) {
    EXPECT_EQ(r.column, c.column);
  }
  // The same matrix scaled far up or down: the tolerances are relative.
  for (const double scale : {1e-8, 1e8}) {
    std::vector<std::vector<double>> scaled = c.q;
    for (auto& row : scaled)
      for (double& v : row) v *= scale;
    EXPECT_EQ(check(scaled).convex, c.convex) << "scaled by " << scale;
  }
}

const double kRank1[3] = {1.0, 2.0, 3.0};
std::vector<std::vector<double>> rank_one() {
  std::vector<std::vector<double>> q(3, std::vector<double>(3));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) q[i][j] = kRank1[i] * kRank1[j];
  return q;
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, ConvexityTable,
    ::testing::Values(
        Case{"zero", {{0, 0}, {0, 0}}, true, 0},
        Case{"definite", {{2, 1}, {1, 2}}, true, 0},
        Case{"diagonal", {{3, 0, 0}, {0, 0, 0}, {0, 0, 5}}, true, 0},
        Case{"rank_one", rank_one(), true, 0},
        Case{"zero_row_and_column", {{0, 0, 0}, {0, 2, 1}, {0, 1, 1}}, true, 0},
        Case{"semidefinite_pair", {{1, -1}, {-1, 1}}, true, 0},
        Case{"singular_chain", chain(40, 0.0), true, 0},
        Case{"rounding_below_zero", {{1, 0}, {0, -1e-12}}, true, 0},
        Case{"indefinite_pair", {{1, 2}, {2, 1}}, false, 1},
        Case{"negative_diagonal", {{2, 0}, {0, -1e-3}}, false, 2},
        Case{"negative_alone", {{-1}}, false, 1},
        Case{"zero_pivot_with_a_row", {{0, 1}, {1, 1}}, false, 1},
        Case{"minors_pass_determinant_negative", {{1, 1, 0}, {1, 1, 1}, {0, 1, 1}}, false, 0},
        Case{"chain_shifted_below_zero", chain(40, 1e-3), false, 0},
        Case{"second_block_indefinite", {{2, 1, 0, 0}, {1, 2, 0, 0}, {0, 0, 1, 3}, {0, 0, 3, 1}}, false, 3}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Above the dense limit a block gets the necessary conditions only: what
// they catch still fails, what only the elimination sees passes, and the
// answer says it is not exact.
TEST(ConvexityFallback, BlocksAboveTheLimitGetTheNecessaryConditions) {
  const QuadraticConvexity hidden = check({{1, 1, 0}, {1, 1, 1}, {0, 1, 1}}, 2);
  EXPECT_TRUE(hidden.convex);
  EXPECT_FALSE(hidden.exact);
  EXPECT_EQ(hidden.largest_block, 3);

  const QuadraticConvexity seen = check({{1, 2, 0}, {2, 1, 1}, {0, 1, 1}}, 2);
  EXPECT_FALSE(seen.convex);
  EXPECT_EQ(seen.column, 1);

  // A small block next to a large one is still eliminated exactly.
  const QuadraticConvexity small = check({{1, 1, 0, 0, 0}, {1, 1, 1, 0, 0}, {0, 1, 1, 0, 0}, {0, 0, 0, 1, 2}, {0, 0, 0, 2, 4}}, 2);
  EXPECT_TRUE(small.convex);
  EXPECT_FALSE(small.exact);
  const QuadraticConvexity small_bad =
      check({{1, 1, 0, 0, 0}, {1, 1, 1, 0, 0}, {0, 1, 1, 0, 0}, {0, 0, 0, 1, 2}, {0, 0, 0, 2, 3.9}}, 2);
  EXPECT_FALSE(small_bad.convex);
  EXPECT_EQ(small_bad.column, 4);  // its Schur complement after pivoting on column 5
}

// Entries in the upper triangle, an entry on its own column, and indices
// outside the problem are read as the header says.
TEST(ConvexityInput, EitherTriangleDiagonalEntriesAndStrayIndices) {
  // Column 2 lists (1, 2) = 2 and its own diagonal 1 (adding to 0 given):
  // [[1, 2], [2, 1]].
  const double diag[] = {0, 1, 0};
  const int32_t start[] = {0, 1, 1, 4};
  const int32_t index[] = {0, 1, 2, 9};
  const double value[] = {0, 2, 1, -50};
  const QuadraticConvexity r = check_quadratic_convexity(2, diag, start, index, value);
  EXPECT_FALSE(r.convex);
  const double convex_value[] = {0, 1, 1, -50};  // [[1, 1], [1, 1]]
  EXPECT_TRUE(check_quadratic_convexity(2, diag, start, index, convex_value).convex);
}

}  // namespace
