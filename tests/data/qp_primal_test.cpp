// The primal's quadratic engine on every convex quadratic program of the
// data set. Moving the variables held between their bounds one at a time
// zig-zags across the narrow valleys of some of these objectives for
// hundreds of thousands to tens of millions of iterations (qscagr7,
// qshare1b); minimising over all of them together ends each run within a
// few iterations per row and column, at the published optimum.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "data/quadratic_solution_check.h"
#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kOptimal = 1;
// Iterations allowed per row and column of the problem.
constexpr int32_t kIterationsPerDimension = 4;

class QpPrimal : public kltest::LibrarySessionOf<::testing::TestWithParam<const char*>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(QpPrimal, ReachesThePublishedOptimumInFewIterations) {
  const std::string problem = GetParam();
  KLTEST_REQUIRE_DATA(source, "qp/" + problem + ".qps");
  const std::map<std::string, double> known = kltest::known_objectives("qp");
  ASSERT_EQ(known.count(problem), 1U);
  // Read from a copy: the solution file is written beside the problem.
  std::filesystem::copy_file(source, dir_.file(problem + ".qps"));
  ASSERT_EQ(KLINPUT(dir_.file(problem).c_str()), 0);
  const int32_t bound =
      kIterationsPerDimension * (kltest::int_attribute_value(KLIA_NROW) + kltest::int_attribute_value(KLIA_NCOLS));
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_ITRLIM, bound);
  ASSERT_EQ(KLMINIM("p"), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_LT(kltest::int_attribute_value(KLIA_ITCNT), bound);
  kltest::expect_quadratic_solution(known.at(problem));
}

INSTANTIATE_TEST_SUITE_P(Qp, QpPrimal,
                         ::testing::Values("cvxqp1_s", "dual1", "genhs28", "hs118", "hs21", "hs35", "hs76",
                                           "lotschd", "qadlittl", "qafiro", "qpcblend", "qptest", "qrecipe",
                                           "qsc205", "qscagr7", "qshare1b", "tame", "zecevic2"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
