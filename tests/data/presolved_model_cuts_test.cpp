// Rows marked as model cuts are part of the problem: a search that
// presolves (IFPRES 1) must prove the same optimum as one that does not,
// on MIPLIB problems with every third row a model cut, with the cut
// rounds off and at their defaults.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

class PresolvedModelCuts : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(PresolvedModelCuts, SameOptimumWithPresolveOnAndOff) {
  KLTEST_REQUIRE_DATA(file, "miplib3/" + GetParam() + ".mps");
  const auto known = kltest::known_objectives();
  ASSERT_TRUE(known.count(GetParam()) == 1) << "no published optimum";
  for (const int32_t run : {0, 1, 2, 3}) {
    const int32_t ifpres = run % 2;
    const int32_t cutstrat = run < 2 ? 0 : -1;
    SCOPED_TRACE("IFPRES " + std::to_string(ifpres) + ", CUTSTRAT " + std::to_string(cutstrat));
    KLSETICV(KLIC_IFPRES, ifpres);
    KLSETICV(KLIC_CUTSTRAT, cutstrat);
    KLSETICV(KLIC_GPRINT, -1000);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam() + std::to_string(run)).c_str()), 0);
    int32_t rows = 0;
    KLGETIPV(KLIA_NROW, &rows);
    std::vector<int32_t> marked;
    for (int32_t i = 0; i < rows; i += 3) marked.push_back(i);
    ASSERT_EQ(KLMODELCUTS(static_cast<int32_t>(marked.size()), marked.data()), 0);
    ASSERT_EQ(KLMINIM("g"), 0);
    int32_t mip_status = 0;
    double dintsl = 0.0;
    KLGETIPV(KLIA_GLSTATUS, &mip_status);
    KLGETDPV(KLDA_DINTSL, &dintsl);
    EXPECT_EQ(mip_status, 6);
    const double expected = known.at(GetParam());
    EXPECT_NEAR(dintsl, expected, 1e-6 * std::max(1.0, std::fabs(expected)));
  }
}

INSTANTIATE_TEST_SUITE_P(Miplib3, PresolvedModelCuts, ::testing::Values("p0033", "p0201", "misc03"),
                         kltest::problem_test_name);

}  // namespace
