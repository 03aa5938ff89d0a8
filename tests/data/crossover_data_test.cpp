// The barrier with its crossover and the primal clean-up over the Netlib LP
// set, held against the dual simplex alone on the same problem:
// - option b (crossover on by default for a linear problem): optimal, with
//   exactly nrow basic variables, at the dual's optimum to relative 1e-9,
//   KLGETINF empty and the solution consistent with its basis;
// - ICRASH 0 to 5: the same;
// - MAXITER 5 (the barrier stops long before convergence): the crossover
//   and the clean-up still end at the optimum.
// A table of the barrier-plus-crossover runs against the dual is printed at
// the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "klsol32.h"
#include "barrier/crossover/complete_crossover.h"
#include "simplex/barrier_front.h"
#include "simplex/lp_solution_checker.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

constexpr double kSameOptimum = 1e-9;  // relative, against the dual simplex
constexpr double kConsistencyTolerance = 1e-8;
constexpr int32_t kOptimal = 1;

struct Outcome {
  int32_t call = 0;
  int32_t lp_status = 0;
  double objective = 0.0;
  double seconds = 0.0;
  int32_t basic = 0;
  int32_t infeasibilities = 0;
  int32_t iterations = 0;  // the simplex's (after the barrier: the clean-up's)
  int64_t pushes = 0;      // primal push pivots and bound flips, dual push pivots
};

struct Row {
  double dual_objective = 0.0;
  double dual_seconds = 0.0;
  int32_t dual_iterations = 0;
  Outcome barrier;
};

std::map<std::string, Row>& table() {
  static std::map<std::string, Row> rows;
  return rows;
}

void print_table() {
  if (table().empty()) return;
  std::printf("\n%-10s %20s %9s %6s | %20s %9s %7s %6s %10s\n", "problem", "dual", "seconds", "iters",
              "barrier+crossover", "seconds", "pushes", "iters", "rel diff");
  for (const auto& [name, r] : table()) {
    const double diff =
        std::fabs(r.barrier.objective - r.dual_objective) / std::max(1.0, std::fabs(r.dual_objective));
    std::printf("%-10s %20.12g %9.3f %6d | %20.12g %9.3f %7lld %6d %10.2e\n", name.c_str(), r.dual_objective,
                r.dual_seconds, r.dual_iterations, r.barrier.objective, r.barrier.seconds,
                static_cast<long long>(r.barrier.pushes), r.barrier.iterations, diff);
  }
  std::fflush(stdout);
}

class CrossoverData : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  static void TearDownTestSuite() { print_table(); }

  void read(const std::string& file) {
    kltest::captured_lines().clear();
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  }

  Outcome solve(const char* options) {
    Outcome r;
    const int64_t pushes_before = kl::crossover_stats.primal_pivots + kl::crossover_stats.bound_flips +
                                  kl::crossover_stats.first_sweep_pivots + kl::crossover_stats.second_sweep_pivots;
    const auto start = std::chrono::steady_clock::now();
    r.call = KLMINIM(options);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KLGETIPV(KLIA_LPSTATUS, &r.lp_status);
    KLGETDPV(KLDA_OBJVAL, &r.objective);
    KLGETIPV(KLIA_ITCNT, &r.iterations);
    r.pushes = kl::crossover_stats.primal_pivots + kl::crossover_stats.bound_flips +
               kl::crossover_stats.first_sweep_pivots + kl::crossover_stats.second_sweep_pivots - pushes_before;
    int32_t rows = 0, cols = 0;
    KLGETIPV(KLIA_NROW, &rows);
    KLGETIPV(KLIA_NCOLS, &cols);
    std::vector<int32_t> row_status(static_cast<size_t>(rows) + 1, -1), col_status(static_cast<size_t>(cols) + 1, -1);
    if (KLGETBASIS(row_status.data(), col_status.data()) == 0) {
      r.basic = static_cast<int32_t>(std::count(row_status.begin(), row_status.begin() + rows, 1) +
                                     std::count(col_status.begin(), col_status.begin() + cols, 1));
    } else {
      r.basic = -1;
    }
    int32_t counts[4] = {-1, -1, -1, -1};
    if (KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr) == 0)
      r.infeasibilities = counts[0] + counts[1] + counts[2] + counts[3];
    else
      r.infeasibilities = -1;
    return r;
  }

  // The dual simplex alone, then the barrier with the crossover under the
  // controls that set() applies; the second must match the first.
  template <class Setup>
  void compare(const char* label, Setup set, bool record) {
    const std::string name = GetParam();
    KLTEST_REQUIRE_DATA(file, "netlib/" + name + ".mps");
    read(file);
    const Outcome dual = solve("d");
    ASSERT_EQ(dual.lp_status, kOptimal) << "the dual simplex itself fails on " << name;
    read(file);
    set();
    const int64_t crossovers = kl::barrier_front_stats.crossovers;
    const Outcome b = solve("b");
    SCOPED_TRACE(label);
    EXPECT_EQ(b.call, 0);
    EXPECT_EQ(b.lp_status, kOptimal);
    EXPECT_GT(kl::barrier_front_stats.crossovers, crossovers) << "no crossover ran";
    int32_t rows = 0;
    KLGETIPV(KLIA_NROW, &rows);
    EXPECT_EQ(b.basic, rows) << "basic variables";
    EXPECT_LE(std::fabs(b.objective - dual.objective), kSameOptimum * std::max(1.0, std::fabs(dual.objective)))
        << "barrier+crossover " << b.objective << ", dual " << dual.objective;
    EXPECT_EQ(b.infeasibilities, 0) << "KLGETINF";
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok(kConsistencyTolerance)) << check.report();
    if (record) table()[name] = Row{dual.objective, dual.seconds, dual.iterations, b};
  }

  kltest::TempDir dir_;
};

TEST_P(CrossoverData, BarrierCrossoverAndCleanUpMatchTheDual) {
  compare("default controls", [] {}, true);
}

INSTANTIATE_TEST_SUITE_P(Netlib, CrossoverData, ::testing::ValuesIn(kltest::mps_problems("netlib")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// Every crash level, and a barrier stopped after five iterations, over the
// whole set.
class CrossoverLevels : public CrossoverData {};

TEST_P(CrossoverLevels, EveryCrashLevelReachesTheOptimum) {
  for (int32_t level = 0; level <= 5; ++level) {
    const std::string label = "ICRASH " + std::to_string(level);
    compare(label.c_str(), [level] { KLSETICV(KLIC_ICRASH, level); }, false);
  }
}

TEST_P(CrossoverLevels, WithoutPresolveToo) {
  compare("presolve off", [] { KLSETICV(KLIC_IFPRES, 0); }, false);
}

TEST_P(CrossoverLevels, StoppedBarrierStillEndsOptimal) {
  compare("MAXITER 5", [] { KLSETICV(KLIC_MAXITER, 5); }, false);
}

INSTANTIATE_TEST_SUITE_P(Netlib, CrossoverLevels, ::testing::ValuesIn(kltest::mps_problems("netlib")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
