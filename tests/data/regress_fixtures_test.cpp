// The regression fixtures that showed faults from outside: each solves to
// its published answer with the primal (option p) and the dual (option d),
// and the solution left in memory satisfies the problem.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "klsol32.h"
#include "simplex/lp_solution_checker.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kOptimal = 1;

struct Fixture {
  const char* file;
  double objective;
};

class RegressFixture : public kltest::LibrarySession {
 protected:
  void solve(const std::string& file, const char* options) {
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file("regress").c_str()), 0);
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(KLMINIM(options), 0);
  }
  kltest::TempDir dir_;
};

// qsub is feasible only through long moves of free columns along nearly
// flat directions; bigcost carries a cost of 1e50 on a boxed column.
TEST_F(RegressFixture, SolveWithThePrimalAndTheDual) {
  const Fixture fixtures[] = {{"regress/qsub.mps", 0.0}, {"regress/bigcost.mps", 1.0}};
  for (const Fixture& f : fixtures) {
    KLTEST_REQUIRE_DATA(file, f.file);
    for (const char* options : {"p", "d"}) {
      SCOPED_TRACE(std::string(f.file) + " option " + options);
      solve(file, options);
      EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
      EXPECT_NEAR(kltest::objective_value(), f.objective, 1e-9);
      const kltest::SolutionCheck check = kltest::check_lp_solution();
      EXPECT_LE(check.primal_infeasibility, check.ztolze) << check.report();
    }
  }
}

TEST_F(RegressFixture, BigCostTakesTheCheapColumn) {
  KLTEST_REQUIRE_DATA(file, "regress/bigcost.mps");
  for (const char* options : {"p", "d"}) {
    SCOPED_TRACE(options);
    solve(file, options);
    std::vector<double> x(2, -1.0);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_NEAR(x[1], 1.0, 1e-12);
  }
}

}  // namespace
