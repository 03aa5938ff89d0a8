// The infeasible Netlib LPs: every one is proved infeasible (lp_status 2,
// never optimal or unbounded) by the dual simplex and by the primal, with
// presolve off, so that about half of them must be proved by the simplex
// itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kInfeasible = 2;

class InfeasibleLp : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  int32_t solve(const std::string& file, const char* options) {
    kltest::captured_lines().clear();
    EXPECT_EQ(KLINPUT(file.c_str()), 0);
    EXPECT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
    KLSETICV(KLIC_IFPRES, 0);
    EXPECT_EQ(KLMINIM(options), 0);
    int32_t status = 0;
    KLGETIPV(KLIA_LPSTATUS, &status);
    return status;
  }
  kltest::TempDir dir_;
};

TEST_P(InfeasibleLp, DualAndPrimalProveInfeasibility) {
  KLTEST_REQUIRE_DATA(file, "infeas/" + GetParam() + ".mps");
  EXPECT_EQ(solve(file, ""), kInfeasible) << "default (dual)";
  EXPECT_EQ(solve(file, "p"), kInfeasible) << "option p (primal)";
}

INSTANTIATE_TEST_SUITE_P(Infeas, InfeasibleLp, ::testing::ValuesIn(kltest::mps_problems("infeas")));
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(InfeasibleLp);

}  // namespace
