// The global search's commands: MINIM -g and GLOBAL run the search, and
// FIXGLOBAL fixes the entities at the solution file's values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_problem.h"
#include "problem/array_ids.h"
#include "problem/cut_pool.h"
#include "problem/cut_store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

using kltest::int_attribute_value;

// Binaries j = 0..n-1 of weight 3 + j % 4 and value 2 + (j * 7) % 5 in a
// knapsack of capacity 10.
kltest::ArrayProblem small_knapsack(int n) {
  kltest::ArrayProblem p;
  p.row('L', 10.0);
  for (int j = 0; j < n; ++j) {
    p.column(-(2.0 + (j * 7) % 5), 0.0, 1.0, {{0, 3.0 + j % 4}});
    p.entity('B', j);
  }
  return p;
}

double best_knapsack(int n) {
  double best = 0.0;
  for (int mask = 0; mask < (1 << n); ++mask) {
    double w = 0.0, v = 0.0;
    for (int j = 0; j < n; ++j)
      if ((mask >> j) & 1) {
        w += 3.0 + j % 4;
        v += 2.0 + (j * 7) % 5;
      }
    if (w <= 10.0) best = std::max(best, v);
  }
  return -best;
}

class GlobalCommands : public kltest::LibrarySession {
 protected:
  int32_t run(const std::vector<std::string>& lines) {
    kltest::console_lines() = lines;
    return KLCONTROL(kltest::scripted_console);
  }
  kltest::TempDir dir_;
};

TEST_F(GlobalCommands, MinimGlobalThenFixGlobal) {
  const int n = 9;
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(small_knapsack(n).load_global(dir_.file("fix").c_str()), 0);
  run({"MINIM -g", "FIXGLOBAL", "MINIM", "QUIT"});
  EXPECT_EQ(int_attribute_value(KLIA_NGLENT), 0);
  EXPECT_NEAR(kltest::objective_value(), best_knapsack(n), 1e-9);
  std::vector<double> lower(n), upper(n);
  KLGETBDL(lower.data(), 0, n - 1);
  KLGETBDU(upper.data(), 0, n - 1);
  for (int j = 0; j < n; ++j) {
    EXPECT_EQ(lower[static_cast<std::size_t>(j)], upper[static_cast<std::size_t>(j)]);
    EXPECT_TRUE(lower[static_cast<std::size_t>(j)] == 0.0 || lower[static_cast<std::size_t>(j)] == 1.0);
  }
}

TEST_F(GlobalCommands, GlobalAfterTheRelaxation) {
  const int n = 9;
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(small_knapsack(n).load_global(dir_.file("glob").c_str()), 0);
  run({"MINIM", "GLOBAL", "QUIT"});
  EXPECT_EQ(int_attribute_value(KLIA_GLSTATUS), 6);
  double dintsl = 0.0;
  KLGETDPV(KLDA_DINTSL, &dintsl);
  EXPECT_NEAR(dintsl, best_knapsack(n), 1e-9);
}

TEST_F(GlobalCommands, FixGlobalNeedsAProblem) {
  run({"FIXGLOBAL", "QUIT"});
  EXPECT_EQ(int_attribute_value(KLIA_ERRORCODE), 91);
}

// Pool records of type 16 (variable upper bound) as "x_coef y_coef rhs".
std::vector<std::string> vub_cuts() {
  std::vector<std::string> cuts;
  if (kl::array_cells[kl::ARR_CUT_RECORD] == nullptr) return cuts;
  for (int32_t r = 1; r <= kl::icv(kl::ic::MXCPOL); ++r) {
    if (kl::cut_record_field(r, kl::CUT_FIELD_FIRST) < 0 || kl::cut_record_field(r, kl::CUT_FIELD_TYPE) != 16) continue;
    EXPECT_EQ(kl::cut_record_field(r, kl::CUT_FIELD_FLAGS) & 0x304, 0x304);
    const int32_t first = kl::cut_record_field(r, kl::CUT_FIELD_FIRST);
    std::string text;
    for (int32_t k = 0; k < kl::cut_record_field(r, kl::CUT_FIELD_LENGTH); ++k)
      text += std::to_string(static_cast<int>(kl::real_array(kl::ARR_CUT_ELEM_VALUE)[first + k])) + " ";
    cuts.push_back(text + std::to_string(static_cast<int>(kl::real_array(kl::ARR_CUT_RHS)[r])));
  }
  return cuts;
}

TEST_F(GlobalCommands, VubStoresTheViolatedVariableUpperBound) {
  // maximise x - 3y: x - 10y <= 0, 0 <= x <= 4, y binary. The relaxation
  // has y = 0.4, x = 4: x <= 4y (the column's own bound through the binary)
  // is violated by 0.6.
  kltest::ArrayProblem p;
  p.row('L', 0.0);
  p.column(1.0, 0.0, 4.0, {{0, 1.0}});
  p.column(-3.0, 0.0, 1.0, {{0, -10.0}});
  p.entity('B', 1);
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_IFSCAL, 0);
  ASSERT_EQ(p.load_global(dir_.file("vub").c_str()), 0);
  // Before any search there are no links: no cut.
  run({"MAXIM", "?VUB"});
  EXPECT_TRUE(vub_cuts().empty());
  // The search's start-up finds the link; the relaxation solved again
  // violates it.
  run({"MAXIM -g", "MAXIM", "?VUB", "QUIT"});
  EXPECT_EQ(vub_cuts(), std::vector<std::string>{"1 -4 0"});
}

TEST_F(GlobalCommands, VubNeedsAnOptimalLp) {
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(small_knapsack(4).load_global(dir_.file("vubnolp").c_str()), 0);
  run({"?VUB", "QUIT"});
  EXPECT_EQ(int_attribute_value(KLIA_ERRORCODE), 11);
  EXPECT_TRUE(vub_cuts().empty());
}

}  // namespace
