// Every convex QP of the data set passes the barrier's convexity check,
// exactly and on the necessary conditions alone; its negation (what a
// maximisation of the same objective asks for) fails it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "barrier/convexity.h"
#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"

namespace {

class BarrierConvexityData : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {};

TEST_P(BarrierConvexityData, ConvexQpPassesAndItsNegationFails) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(file, "qp/" + name + ".qps");
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  const int32_t n = kltest::int_attribute_value(1018);
  ASSERT_GT(n, 0);
  // The driver's form: the diagonal and, for column j, the entries below.
  std::vector<double> diag(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<int32_t> start{0};
  std::vector<int32_t> index{0};
  std::vector<double> value{0.0};
  int32_t entries = 0;
  for (int32_t j = 0; j < n; ++j) {
    KLGETQOBJ(j, j, &diag[static_cast<std::size_t>(j) + 1]);
    if (diag[static_cast<std::size_t>(j) + 1] != 0.0) ++entries;
    start.push_back(static_cast<int32_t>(index.size()));
    for (int32_t c = j + 1; c < n; ++c) {
      double v = 0.0;
      KLGETQOBJ(c, j, &v);
      if (v == 0.0) continue;
      index.push_back(c + 1);
      value.push_back(v);
      ++entries;
    }
  }
  start.push_back(static_cast<int32_t>(index.size()));
  ASSERT_GT(entries, 0);

  const kl::QuadraticConvexity exact =
      kl::check_quadratic_convexity(n, diag.data(), start.data(), index.data(), value.data());
  EXPECT_TRUE(exact.convex) << "shows at column " << exact.column;
  EXPECT_TRUE(exact.exact);
  const kl::QuadraticConvexity necessary =
      kl::check_quadratic_convexity(n, diag.data(), start.data(), index.data(), value.data(), 1);
  EXPECT_TRUE(necessary.convex);

  for (double& v : diag) v = -v;
  for (double& v : value) v = -v;
  EXPECT_FALSE(kl::check_quadratic_convexity(n, diag.data(), start.data(), index.data(), value.data()).convex);
}

INSTANTIATE_TEST_SUITE_P(Qp, BarrierConvexityData, ::testing::ValuesIn(kltest::mps_problems("qp")),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BarrierConvexityData);

}  // namespace
