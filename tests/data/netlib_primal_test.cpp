// Netlib problems solved by the primal simplex through KLMINIM: the optimum
// against objectives.csv and a solution consistent with its own optimality
// conditions; crash bases that factorise without repairs and lead to the
// same optimum; product-form updates refactorised by their fill.
//
// The objective includes the constant term the MPS reader stores: minus the
// right-hand side of the objective row (e226 has one: its optimum is
// -18.751929066 + 7.113).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "factor/basis.h"
#include "factor/crash.h"
#include "factor/factor_check.h"
#include "factor/invert.h"
#include "factor/starting_basis.h"
#include "klsol32.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/lp_driver.h"
#include "simplex/lp_solution_checker.h"
#include "support/data_dir.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;

class NetlibPrimal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
  // Reads the problem and renames it into the test's directory, so that the
  // solution file is written there.
  void input(const std::string& file, const std::string& name) {
    kltest::captured_lines().clear();
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir.file(name).c_str()), 0);
  }
  kltest::TempDir dir;
};

struct Instance {
  const char* name;
  double tolerance;  // relative, against objectives.csv
};

const Instance kInstances[] = {
    {"afiro", 1e-8},  {"sc50a", 1e-8},  {"sc50b", 1e-8},   {"blend", 1e-8},  {"adlittle", 1e-8},
    {"kb2", 1e-8},    {"share2b", 1e-8}, {"israel", 1e-8}, {"stocfor1", 1e-8}, {"scfxm1", 1e-6},
    {"degen2", 1e-6}, {"bnl1", 1e-6},   {"ship04s", 1e-6}, {"e226", 1e-6},
};

TEST_F(NetlibPrimal, ReachesTheKnownOptimum) {
  const std::map<std::string, double> known = kltest::known_objectives();
  if (known.empty()) GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  for (const Instance& instance : kInstances) {
    SCOPED_TRACE(instance.name);
    KLTEST_REQUIRE_DATA(file, std::string("netlib/") + instance.name + ".mps");
    input(file, instance.name);
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    int32_t status = 0;
    KLGETIPV(1010, &status);
    ASSERT_EQ(status, LP_OPTIMAL);
    double objective = 0.0;
    KLGETDPV(2001, &objective);
    const double expected = known.at(instance.name);
    EXPECT_LE(std::fabs(objective - expected), instance.tolerance * std::fabs(expected))
        << "objective " << objective << " expected " << expected;
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok(1e-8)) << check.report();
  }
}

// Both crash procedures on real problems: a consistent basis that the invert
// takes without repairs, from which the primal reaches the optimum it
// reaches from the slack basis.
TEST_F(NetlibPrimal, CrashBasesFactoriseAndSolve) {
  int32_t accepted[2] = {0, 0};
  for (const char* name : {"afiro", "sc50a", "adlittle", "blend", "share2b", "scfxm1"}) {
    KLTEST_REQUIRE_DATA(file, std::string("netlib/") + name + ".mps");
    input(file, name);
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_ICRASH, 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    double slack_start = 0.0;
    KLGETDPV(2001, &slack_start);
    for (int32_t procedure : {CRASH_TRACKING, CRASH_PLAIN}) {
      SCOPED_TRACE(std::string(name) + " " + crash_procedure_text(procedure));
      input(file, name);
      KLSETICV(KLIC_IFPRES, 0);
      build_row_copy();
      CrashArguments a;
      a.icrash = 2;
      a.pcrash = dcv(dc::PCRASH);
      a.ztolda = dcv(dc::ZTOLDA);
      a.ztcr = dcv(dc::ZTCR);
      a.eta_capacity = procedure == CRASH_TRACKING ? 3 * nrow : 3 * nrow - 1;
      int32_t ifnbas = 0;
      crash_basis(a, ifnbas);
      EXPECT_EQ(crash_stats.last_procedure, procedure);
      accepted[procedure == CRASH_TRACKING ? 0 : 1] += crash_stats.accepted_columns;
      EXPECT_EQ(check_basis_consistency(), "");
      factor_stats = FactorStats{};
      invert_basis(InvertReason::kNewBasis);
      EXPECT_EQ(factor_stats.singular_repairs, 0);
      EXPECT_EQ(factor_stats.empty_row_repairs, 0);
      // The driver starts from this basis: it keeps what IFNBAS says.
      KLSETICV(KLIC_IFNBAS, ifnbas);
      ASSERT_EQ(KLMINIM("p"), 0);
      int32_t status = 0;
      KLGETIPV(1010, &status);
      EXPECT_EQ(status, LP_OPTIMAL);
      double objective = 0.0;
      KLGETDPV(2001, &objective);
      EXPECT_NEAR(objective, slack_start, 1e-8 * (1.0 + std::fabs(slack_start)));
    }
  }
  // The tracking crash refuses pivots that change nothing; over these
  // problems both procedures still make columns basic.
  EXPECT_GT(accepted[0], 0);
  EXPECT_GT(accepted[1], 0);
}

// Slots of update etas in the file at the last iteration callback, at most.
int32_t peak_update_slots = 0;
int32_t record_update_slots() {
  peak_update_slots = std::max(peak_update_slots, eta_file.invert_part_size - eta_file.invert_size_at_factor);
  return 0;
}

// The primal refactorises by the fill of its update etas in either form:
// product-form etas (whole transformed columns) make a file a few times
// that of the row etas, never one that grows until it is full.
TEST_F(NetlibPrimal, ProductFormUpdatesAreRefactorisedByTheirFill) {
  const std::map<std::string, double> known = kltest::known_objectives();
  if (known.empty()) GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  for (const char* name : {"scfxm1", "bnl1", "e226", "scsd8"}) {
    KLTEST_REQUIRE_DATA(file, std::string("netlib/") + name + ".mps");
    int32_t peak[2] = {0, 0};
    for (const int32_t ifftup : {1, 0}) {
      SCOPED_TRACE(std::string(name) + " IFFTUP " + std::to_string(ifftup));
      input(file, name);
      KLSETICV(KLIC_IFPRES, 0);
      KLSETICV(KLIC_IFFTUP, ifftup);
      KLSETICV(KLIC_ITRLOG, 1);
      peak_update_slots = 0;
      KLDEFINEILENTRY(record_update_slots);
      ASSERT_EQ(KLMINIM("p"), 0);
      KLDEFINEILENTRY(nullptr);
      int32_t status = 0;
      KLGETIPV(1010, &status);
      EXPECT_EQ(status, LP_OPTIMAL);
      double objective = 0.0;
      KLGETDPV(2001, &objective);
      EXPECT_LE(std::fabs(objective - known.at(name)), 1e-6 * std::fabs(known.at(name)));
      peak[ifftup] = peak_update_slots;
    }
    EXPECT_GT(peak[1], 0) << name;
    EXPECT_LE(peak[0], 5 * peak[1]) << name;
  }
}

}  // namespace
