// The save file on real problems: Netlib LPs saved solved and saved
// presolved part-way, and MIPLIB searches saved after a few nodes, restored
// after another problem took their place, reach the optimum of a straight
// run (an LP restored solved without an iteration).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

double double_attribute(int32_t n) {
  double v = 0.0;
  KLGETDPV(n, &v);
  return v;
}

bool close(double a, double b, double tolerance = 1e-9) {
  return std::fabs(a - b) <= tolerance * std::max(1.0, std::fabs(b));
}
// The known integer optima are given to a few decimals.
constexpr double kKnownObjectiveTolerance = 1e-6;

class SaveFileData : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(SaveFileData, NetlibLpRestoresSolvedAndPresolved) {
  KLTEST_REQUIRE_DATA(file, "netlib/" + GetParam() + ".mps");
  KLTEST_REQUIRE_DATA(other, "netlib/afiro.mps");
  const std::string stem = dir_.file(GetParam());
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  const double optimum = double_attribute(KLDA_OBJVAL);
  ASSERT_EQ(KLSAVE(), 0);
  ASSERT_EQ(KLINPUT(other.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  ASSERT_EQ(KLRESTORE(), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_TRUE(close(double_attribute(KLDA_OBJVAL), optimum)) << double_attribute(KLDA_OBJVAL) << " " << optimum;

  // Stopped after a few iterations, still presolved.
  KLSETICV(KLIC_IFPRES, 1);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  KLSETICV(KLIC_ITRLIM, 3);
  ASSERT_EQ(KLMINIM(""), 0);
  if ((kltest::int_attribute_value(1026) & kl::PF_PRESOLVED_LP) == 0) return;  // solved at once
  ASSERT_EQ(KLSAVE(), 0);
  ASSERT_EQ(KLINPUT(other.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  ASSERT_EQ(KLRESTORE(), 0);
  EXPECT_NE(kltest::int_attribute_value(1026) & kl::PF_PRESOLVED_LP, 0);
  KLSETICV(KLIC_ITRLIM, 1000000);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_TRUE(close(double_attribute(KLDA_OBJVAL), optimum)) << double_attribute(KLDA_OBJVAL) << " " << optimum;
}

INSTANTIATE_TEST_SUITE_P(Netlib, SaveFileData, ::testing::Values("adlittle", "sc205", "stocfor1", "israel", "degen2"),
                         kltest::problem_test_name);

class SaveFileSearch : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(SaveFileSearch, StoppedSearchContinuesAfterRestore) {
  KLTEST_REQUIRE_DATA(file, "miplib3/" + GetParam() + ".mps");
  KLTEST_REQUIRE_DATA(other, "netlib/afiro.mps");
  const std::map<std::string, double> known = kltest::known_objectives();
  ASSERT_EQ(known.count(GetParam()), 1u);
  const std::string stem = dir_.file(GetParam());
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);
  KLSETICV(KLIC_GPRINT, 0);
  KLSETICV(KLIC_MAXNOD, 20);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  const int32_t stopped = kltest::int_attribute_value(KLIA_GLSTATUS);
  ASSERT_TRUE(stopped == 3 || stopped == 4) << stopped;
  ASSERT_EQ(KLSAVE(), 0);
  ASSERT_EQ(KLINPUT(other.c_str()), 0);
  ASSERT_EQ(KLSETPROB(stem.c_str()), 0);
  ASSERT_EQ(KLRESTORE(), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_GLSTATUS), stopped);
  KLSETICV(KLIC_MAXNOD, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_GLSTATUS), 6);
  EXPECT_TRUE(close(double_attribute(KLDA_DINTSL), known.at(GetParam()), kKnownObjectiveTolerance))
      << double_attribute(KLDA_DINTSL) << " " << known.at(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Miplib, SaveFileSearch, ::testing::Values("p0033", "flugpl", "egout"),
                         kltest::problem_test_name);

}  // namespace
