// Every way of replacing the current problem, and shutdown, leaves the
// solvers' process-global records as a fresh start has them: positions and
// rows kept from the old problem would index the new one's arrays.
#include "simplex/solver_reset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "factor/crossover_state.h"
#include "klsol32.h"
#include "simplex/iis.h"
#include "simplex/lp_driver.h"
#include "simplex/parametric.h"
#include "simplex/primal_engines.h"
#include "simplex/primal_pricing.h"
#include "simplex/ranging.h"
#include "factor/simplex_state.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

// min x + 2y subject to x + y <= 4, both in [0, 10].
int32_t load_small_lp() {
  const char types[] = {'L'};
  const double rhs[] = {4.0};
  const double cost[] = {1.0, 2.0};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1.0, 1.0};
  const double lower[] = {0.0, 0.0};
  const double upper[] = {10.0, 10.0};
  return KLLOADPROB("small", 2, 1, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper);
}

const char kSmallMps[] =
    "NAME          SMALL\n"
    "ROWS\n"
    " N  OBJ\n"
    " L  C1\n"
    "COLUMNS\n"
    "    X         OBJ       1.0          C1        1.0\n"
    "    Y         OBJ       2.0          C1        1.0\n"
    "RHS\n"
    "    RHS       C1        4.0\n"
    "ENDATA\n";

// Values a solved problem of hundreds of positions could leave behind.
void dirty_solver_state() {
  kl::leaving_variable = 999;
  kl::leaving_row = 77;
  kl::entering_column = 888;
  kl::update_count = 40;
  kl::saved_leaving_row = 55;
  kl::candidate_count = 3;
  kl::candidate_best = 1;
  kl::candidate_list[1] = 999;
  kl::infeasibility_changes.count = 5;
  kl::range_results.step_up.assign(1000, 1.0f);
  kl::iis_sets_found.push_back({1, 2});
  kl::parametric_row = 9;
  kl::lp_driver.presolve_active = 1;
  kl::crossover_phase = 2;
}

void expect_clean_solver_state() {
  EXPECT_EQ(kl::leaving_variable, 0);
  EXPECT_EQ(kl::leaving_row, 0);
  EXPECT_EQ(kl::entering_column, 0);
  EXPECT_EQ(kl::update_count, 0);
  EXPECT_EQ(kl::saved_leaving_row, 0);
  EXPECT_EQ(kl::candidate_count, 0);
  EXPECT_EQ(kl::candidate_best, 0);
  EXPECT_EQ(kl::candidate_list[1], 0);
  EXPECT_EQ(kl::infeasibility_changes.count, 0);
  EXPECT_TRUE(kl::range_results.step_up.empty());
  EXPECT_TRUE(kl::iis_sets_found.empty());
  EXPECT_EQ(kl::parametric_row, 0);
  EXPECT_EQ(kl::lp_driver.presolve_active, 0);
  EXPECT_EQ(kl::crossover_phase, 0);
}

class SolverReset : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir_;
};

TEST_F(SolverReset, EveryWayOfReplacingTheProblemClearsTheSolverRecords) {
  const std::string mps = dir_.file("small.mps");
  std::ofstream(mps, std::ios::binary) << kSmallMps;
  struct Path {
    const char* label;
    std::function<int32_t()> replace;
  };
  int32_t slot = 0;
  const std::vector<Path> paths = {
      {"array load", load_small_lp},
      {"file input", [&] { return KLINPUT(mps.c_str()); }},
      {"slot restore", [&] { return KLRESMAT(slot); }},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.label);
    ASSERT_EQ(load_small_lp(), 0);
    // The slot keeps a clean copy; the problem solved after it leaves its
    // state behind.
    if (slot == 0) {
      ASSERT_EQ(KLSAVMAT(&slot), 0);
    }
    ASSERT_EQ(load_small_lp(), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    dirty_solver_state();
    ASSERT_EQ(path.replace(), 0);
    expect_clean_solver_state();
    // The new problem solves from there.
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_DOUBLE_EQ(kltest::objective_value(), 0.0);
  }
}

TEST_F(SolverReset, ShutdownAndRestartClearTheSolverRecords) {
  ASSERT_EQ(load_small_lp(), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  dirty_solver_state();
  EXPECT_EQ(KLFREEXO(), 0);
  expect_clean_solver_state();

  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  dirty_solver_state();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  expect_clean_solver_state();
}

}  // namespace
