// Probing and propagation over binaries (IFINTP 7) on the MIPLIB 3 problems
// that branch and bound proves quickly: the search must end at the
// published optimum with a solution that satisfies the problem as read, so
// no fixing made by probing or by propagation at a node cut off an optimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "global/probing.h"
#include "global/propagation.h"
#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kIfintpAll = 7;  // reduced-cost fixing, propagation, probing

class MiplibProbing : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

// Row activities of x against the rows as read.
bool satisfies_rows(const std::vector<double>& x, int32_t rows, int32_t columns) {
  std::vector<char> type(static_cast<std::size_t>(rows));
  std::vector<double> rhs(static_cast<std::size_t>(rows)), range(static_cast<std::size_t>(rows));
  KLGETROWTYPE(type.data(), 0, rows - 1);
  KLGETRHS(rhs.data(), 0, rows - 1);
  KLGETRNG(range.data(), 0, rows - 1);
  std::vector<double> activity(static_cast<std::size_t>(rows), 0.0);
  for (int32_t j = 0; j < columns; ++j) {
    std::vector<double> column(static_cast<std::size_t>(rows), 0.0);
    int32_t starts[2] = {0, 0};
    int32_t count = 0;
    std::vector<int32_t> index(static_cast<std::size_t>(rows) + 1);
    std::vector<double> value(static_cast<std::size_t>(rows) + 1);
    KLGETCOLS(starts, index.data(), value.data(), rows + 1, &count, j, j);
    for (int32_t k = 0; k < count; ++k)
      activity[static_cast<std::size_t>(index[static_cast<std::size_t>(k)])] +=
          value[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(j)];
  }
  for (int32_t i = 0; i < rows; ++i) {
    const double a = activity[static_cast<std::size_t>(i)], b = rhs[static_cast<std::size_t>(i)];
    const char t = type[static_cast<std::size_t>(i)];
    const double tol = 1e-6 * std::max(1.0, std::fabs(b));
    if ((t == 'L' || t == 'E') && a > b + tol) return false;
    if ((t == 'G' || t == 'E') && a < b - tol) return false;
    if (t == 'R' && (a > b + tol || a < b - range[static_cast<std::size_t>(i)] - tol)) return false;
  }
  return true;
}

TEST_P(MiplibProbing, ReachesThePublishedOptimum) {
  KLTEST_REQUIRE_DATA(file, "miplib3/" + GetParam() + ".mps");
  const auto known = kltest::known_objectives();
  ASSERT_EQ(known.count(GetParam()), 1u) << "no published optimum";
  const double expected = known.at(GetParam());

  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);
  KLSETICV(KLIC_IFINTP, kIfintpAll);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  int32_t rows = 0, columns = 0;
  KLGETIPV(KLIA_NROW, &rows);
  KLGETIPV(KLIA_NCOLS, &columns);
  kl::probing_stats = {};
  kl::propagation_stats = {};
  ASSERT_EQ(KLMINIM("g"), 0);

  int32_t mip_status = 0, nodes = 0;
  double dintsl = 0.0;
  KLGETIPV(KLIA_GLSTATUS, &mip_status);
  KLGETIPV(KLIA_NODES, &nodes);
  KLGETDPV(KLDA_DINTSL, &dintsl);
  std::printf("%-8s objective %.10g nodes %d probing fixings %lld propagation fixings %lld\n", GetParam().c_str(),
              dintsl, nodes, static_cast<long long>(kl::probing_stats.fixings),
              static_cast<long long>(kl::propagation_stats.columns_fixed));
  EXPECT_EQ(mip_status, 6);
  EXPECT_NEAR(dintsl, expected, 1e-6 * std::max(1.0, std::fabs(expected)));
  std::vector<double> x(static_cast<std::size_t>(columns), 0.0);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(satisfies_rows(x, rows, columns));
}

INSTANTIATE_TEST_SUITE_P(Miplib3, MiplibProbing,
                         ::testing::Values("p0033", "p0201", "flugpl", "stein27", "lseu", "mod008", "misc03"),
                         kltest::problem_test_name);

}  // namespace
