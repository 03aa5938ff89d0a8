// The solution of two Netlib problems as a caller reads it back: the
// solution file and the memory path agree, Ax equals the activities, the
// reduced costs equal c - A'y, complementary slackness holds, KLGETINF finds
// nothing, and the optimal basis loaded into a fresh copy needs no
// iteration. The problem files are copied into the test's own directory,
// beside which the solution file is written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "klsol32.h"
#include "simplex/caller_solution_check.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

class NetlibSolutionAccess : public kltest::LibrarySessionOf<::testing::TestWithParam<const char*>> {
 protected:
  kltest::TempDir dir;
};

int32_t attribute(int32_t n) {
  int32_t v = 0;
  KLGETIPV(n, &v);
  return v;
}

TEST_P(NetlibSolutionAccess, SolutionReadBackSatisfiesOptimality) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(source, "netlib/" + name + ".mps");
  const std::string copy = dir.file(name + ".mps");
  std::filesystem::copy_file(source, copy);
  const std::string stem = dir.file(name);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(attribute(1010), 1);

  kltest::CallerProblem problem;
  problem.read();
  kltest::CallerSolution file(problem.nrows, problem.ncols);
  ASSERT_EQ(file.fetch(), 0);
  KLSETICV(KLIC_IFMEM, 0x10);
  kltest::CallerSolution memory(problem.nrows, problem.ncols);
  ASSERT_EQ(memory.fetch(), 0);
  KLSETICV(KLIC_IFMEM, 0);
  for (size_t j = 0; j < file.x.size(); ++j) {
    EXPECT_NEAR(file.x[j], memory.x[j], 1e-9 * (1.0 + std::fabs(file.x[j])));
    EXPECT_NEAR(file.reduced_cost[j], memory.reduced_cost[j], 1e-9 * (1.0 + std::fabs(file.reduced_cost[j])));
  }
  for (size_t i = 0; i < file.slack.size(); ++i) {
    EXPECT_NEAR(file.slack[i], memory.slack[i], 1e-9 * (1.0 + std::fabs(file.slack[i])));
    EXPECT_NEAR(file.dual[i], memory.dual[i], 1e-9 * (1.0 + std::fabs(file.dual[i])));
  }
  const kltest::CallerCheck check = kltest::check_caller_solution(problem, file, 1.0);
  EXPECT_TRUE(check.ok(1e-7)) << check.report();

  int32_t counts[4] = {-1, -1, -1, -1};
  ASSERT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
  for (int32_t c : counts) EXPECT_EQ(c, 0);

  std::vector<int32_t> rows(static_cast<size_t>(problem.nrows)), columns(static_cast<size_t>(problem.ncols));
  ASSERT_EQ(KLGETBASIS(rows.data(), columns.data()), 0);
  std::vector<int32_t> memory_rows(rows.size()), memory_columns(columns.size());
  ASSERT_EQ(KLIGETBASIS(memory_rows.data(), memory_columns.data()), 0);
  EXPECT_EQ(rows, memory_rows);
  EXPECT_EQ(columns, memory_columns);

  double optimum = 0.0;
  KLGETDPV(2001, &optimum);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLLOADBASIS(rows.data(), columns.data()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(attribute(1009), 0);
  double again = 0.0;
  KLGETDPV(2001, &again);
  EXPECT_NEAR(again, optimum, 1e-9 * (1.0 + std::fabs(optimum)));
}

INSTANTIATE_TEST_SUITE_P(Netlib, NetlibSolutionAccess, ::testing::Values("afiro", "adlittle"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
