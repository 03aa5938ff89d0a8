// Conformance over the Netlib LP set: every problem of the folder is solved
// with the default controls (the dual simplex; presolve off until presolve
// exists) and again with option p (the primal), and both answers are held
// against objectives.csv (relative 1e-6), against KLGETINF (no primal or
// dual infeasibility in the caller's terms) and against the solution's own
// optimality conditions. The two runs are printed side by side at the end.
// All of it again with product-form updates of the factor (IFFTUP 0).
//
// The objective includes the constant term the MPS reader stores (e226).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "simplex/lp_solution_checker.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

struct RunResult {
  int32_t lp_status = 0;
  double objective = 0.0;
  int32_t iterations = 0;
  double seconds = 0.0;
  int32_t infeasibilities = 0;  // the four counts of KLGETINF together
};

struct Comparison {
  double expected = 0.0;
  RunResult dual;
  RunResult primal;
};

// One table per update form of the factor (IFFTUP 1: row etas, 0: product
// form).
std::map<std::string, Comparison>& comparisons(int32_t ifftup) {
  static std::map<std::string, Comparison> tables[2];
  return tables[ifftup != 0 ? 1 : 0];
}

constexpr double kObjectiveTolerance = 1e-6;
// The solution checker's relative tolerance for Ax, c - A'y and objval.
constexpr double kConsistencyTolerance = 1e-8;

class NetlibConformance : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  static void TearDownTestSuite() { print_table(1); }

  // Reads the problem, names it into the test's directory (the solution file
  // goes there, never into the data set), solves it with the options, and
  // checks the answer.
  RunResult solve(const std::string& file, const char* options, double expected) {
    RunResult result;
    kltest::captured_lines().clear();
    EXPECT_EQ(KLINPUT(file.c_str()), 0);
    EXPECT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFFTUP, ifftup_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KLMINIM(options), 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KLGETIPV(KLIA_LPSTATUS, &result.lp_status);
    KLGETIPV(KLIA_ITCNT, &result.iterations);
    KLGETDPV(KLDA_OBJVAL, &result.objective);
    EXPECT_EQ(result.lp_status, 1);
    EXPECT_LE(std::fabs(result.objective - expected), kObjectiveTolerance * std::max(1.0, std::fabs(expected)))
        << "objective " << result.objective << " expected " << expected;
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok(kConsistencyTolerance)) << check.report();
    int32_t counts[4] = {-1, -1, -1, -1};
    EXPECT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
    result.infeasibilities = counts[0] + counts[1] + counts[2] + counts[3];
    EXPECT_EQ(result.infeasibilities, 0) << "KLGETINF: primal rows " << counts[0] << ", primal columns "
                                         << counts[1] << ", dual rows " << counts[2] << ", dual columns "
                                         << counts[3];
    return result;
  }

  static void print_table(int32_t ifftup) {
    if (comparisons(ifftup).empty()) return;
    std::printf("\nIFFTUP %d\n%-10s %18s | %6s %9s %18s %3s | %6s %9s %18s %3s\n", ifftup, "problem", "known", "dual",
                "seconds", "objective", "inf", "primal", "seconds", "objective", "inf");
    for (const auto& [name, c] : comparisons(ifftup)) {
      std::printf("%-10s %18.10g | %6d %9.4f %18.10g %3d | %6d %9.4f %18.10g %3d\n", name.c_str(), c.expected,
                  c.dual.iterations, c.dual.seconds, c.dual.objective, c.dual.infeasibilities, c.primal.iterations,
                  c.primal.seconds, c.primal.objective, c.primal.infeasibilities);
    }
    std::fflush(stdout);
  }

  // Solves the problem of the parameter with the dual and the primal.
  void solve_both() {
    const std::string name = GetParam();
    KLTEST_REQUIRE_DATA(file, "netlib/" + name + ".mps");
    const std::map<std::string, double> known = kltest::known_objectives();
    ASSERT_TRUE(known.count(name) != 0) << name << " has no entry in objectives.csv";
    Comparison& c = comparisons(ifftup_)[name];
    c.expected = known.at(name);
    {
      SCOPED_TRACE("default (dual)");
      c.dual = solve(file, "", c.expected);
    }
    {
      SCOPED_TRACE("option p (primal)");
      c.primal = solve(file, "p", c.expected);
    }
  }

  kltest::TempDir dir_;
  int32_t ifftup_ = 1;
};

TEST_P(NetlibConformance, DualAndPrimalReachTheKnownOptimum) { solve_both(); }

// The same with product-form updates of the factor (IFFTUP 0).
class NetlibProductForm : public NetlibConformance {
 protected:
  NetlibProductForm() { ifftup_ = 0; }
  static void TearDownTestSuite() { print_table(0); }
};

TEST_P(NetlibProductForm, DualAndPrimalReachTheKnownOptimum) { solve_both(); }

// The dual's two pricing modes, forced, reach the same optima on the
// problems the primal was first held against.
TEST(NetlibPricingModes, SteepestEdgeAndDevexReachTheKnownOptimum) {
  const std::map<std::string, double> known = kltest::known_objectives();
  if (known.empty()) GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  kltest::TempDir dir;
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  for (const char* name : {"afiro", "sc50a", "sc50b", "blend", "adlittle", "kb2", "share2b", "israel", "stocfor1",
                           "scfxm1", "degen2", "bnl1", "ship04s", "e226"}) {
    const std::string file = kltest::data_file(std::string("netlib/") + name + ".mps");
    if (file.empty()) continue;
    for (const int32_t ifdse : {0, 1}) {
      SCOPED_TRACE(std::string(name) + " IFDSE " + std::to_string(ifdse));
      kltest::captured_lines().clear();
      ASSERT_EQ(KLINPUT(file.c_str()), 0);
      ASSERT_EQ(KLSETPROB(dir.file(name).c_str()), 0);
      KLSETICV(KLIC_IFPRES, 0);
      KLSETICV(KLIC_IFDSE, ifdse);
      ASSERT_EQ(KLMINIM(""), 0);
      int32_t status = 0;
      KLGETIPV(KLIA_LPSTATUS, &status);
      EXPECT_EQ(status, 1);
      double objective = 0.0;
      KLGETDPV(KLDA_OBJVAL, &objective);
      const double expected = known.at(name);
      EXPECT_LE(std::fabs(objective - expected), kObjectiveTolerance * std::max(1.0, std::fabs(expected)))
          << "objective " << objective << " expected " << expected;
      const kltest::SolutionCheck check = kltest::check_lp_solution();
      EXPECT_TRUE(check.ok(kConsistencyTolerance)) << check.report();
    }
  }
  KLFREEXO();
  KLDEFINEUOPENTRY(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Netlib, NetlibConformance, ::testing::ValuesIn(kltest::mps_problems("netlib")), kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(NetlibConformance);
INSTANTIATE_TEST_SUITE_P(Netlib, NetlibProductForm, ::testing::ValuesIn(kltest::mps_problems("netlib")), kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(NetlibProductForm);

}  // namespace
