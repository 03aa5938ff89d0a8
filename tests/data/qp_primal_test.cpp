// The primal's quadratic engine on a problem whose objective has long
// narrow valleys (qshare1b): one-variable steps alone zig-zag across them
// for tens of millions of iterations; the run must end well within a
// bounded count at the published optimum.
#include <gtest/gtest.h>

#include <cmath>

#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kOptimal = 1;
// The optimum published with the problem (qp/objectives.csv).
constexpr double kPublished = 7.2007832e+05;
// Far below the 27 million iterations the zig-zag took.
constexpr int32_t kIterationBound = 2000000;

class QpPrimal : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir_;
};

TEST_F(QpPrimal, ZigZagValleyEndsAtTheOptimum) {
  KLTEST_REQUIRE_DATA(file, "qp/qshare1b.qps");
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file("qshare1b").c_str()), 0);
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_ITRLIM, kIterationBound);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_LT(kltest::int_attribute_value(KLIA_ITCNT), kIterationBound);
  EXPECT_NEAR(kltest::objective_value(), kPublished, 1e-6 * kPublished);
}

}  // namespace
