// Problem slots through the exports: a problem put aside, restored and
// copied keeps its arrays, its records and its controls; a save with every
// slot taken, and the deletion of the slot in use, are refused with nothing
// lost.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/slots.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::objective_value;

using namespace kl;

constexpr double kInf = 1e20;

// min -x0 - 2 x1 + x2 over two rows; optimum -22 at (0, 11, 0)... computed
// by the solver, compared between original and copies.
int32_t load_lp(const std::string& name, double cost_of_x1 = -2.0) {
  const char types[] = "LG";
  const double rhs[] = {12, 1};
  const double costs[] = {-1, cost_of_x1, 1};
  const int32_t starts[] = {0, 2, 4, 6};
  const int32_t rows[] = {0, 1, 0, 1, 0, 1};
  const double values[] = {1, 1, 1, 4, 300, 1};
  const double lower[] = {0, 0, 0};
  const double upper[] = {4, 11, kInf};
  return KLLOADPROB(name.c_str(), 3, 2, types, rhs, nullptr, costs, starts, nullptr, rows, values, lower, upper);
}

int32_t load_qp(const std::string& name) {
  const char types[] = "L";
  const double rhs[] = {10};
  const double costs[] = {-4, -2};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1, 1};
  const double lower[] = {0, 0};
  const double upper[] = {10, 10};
  const int32_t q1[] = {0, 0, 1};
  const int32_t q2[] = {0, 1, 1};
  const double qv[] = {2, 0.5, 1};
  return KLLOADQPROB(name.c_str(), 2, 1, types, rhs, nullptr, costs, starts, nullptr, rows, values, lower, upper,
                     3, q1, q2, qv);
}

std::vector<double> costs() {
  int32_t cols = 0;
  KLGETIPV(KLIA_NCOLS, &cols);
  std::vector<double> c(static_cast<size_t>(cols));
  if (cols > 0) {
    EXPECT_EQ(KLGETOBJ(c.data(), 0, cols - 1), 0);
  }
  return c;
}

std::string problem_stem() {
  char buffer[600] = {};
  EXPECT_EQ(KLGETPROB(buffer), 0);
  return buffer;
}

class SlotsTest : public kltest::LibrarySession {
 protected:
  std::string name(const std::string& stem) const { return dir_.file(stem); }

  kltest::TempDir dir_;
};

TEST_F(SlotsTest, SaveAndRestoreKeepTheProblemAndItsControls) {
  ASSERT_EQ(load_lp(name("first")), 0);
  ASSERT_EQ(KLSETICV(KLIC_ITRLIM, 77), 0);
  int32_t slot = -1;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(current_slot, 2);
  std::vector<double> none(1);
  EXPECT_EQ(KLGETOBJ(none.data(), 0, 0), 32) << "the slot taken holds no problem";

  // Controls set now belong to slot 2's problem, not to the one put aside.
  ASSERT_EQ(KLSETICV(KLIC_ITRLIM, 5), 0);
  ASSERT_EQ(load_lp(name("second"), -7.0), 0);
  EXPECT_EQ(costs(), std::vector<double>({-1, -7, 1}));

  ASSERT_EQ(KLRESMAT(1), 0);
  EXPECT_EQ(current_slot, 1);
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
  int32_t itrlim = 0;
  KLGETICV(KLIC_ITRLIM, &itrlim);
  EXPECT_EQ(itrlim, 77);
  EXPECT_EQ(problem_stem(), name("first"));
  EXPECT_TRUE(kltest::any_line_contains("Problem restored"));
  ASSERT_EQ(KLMINIM("p"), 0);
  const double restored = objective_value();
  // Slot 2's problem was never put aside: restoring discards it.
  EXPECT_EQ(KLRESMAT(2), 32);
  EXPECT_EQ(error_number, 421);
  ASSERT_EQ(load_lp(name("again")), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_DOUBLE_EQ(objective_value(), restored);
}

TEST_F(SlotsTest, RestoringTheCurrentSlotDoesNothingAndABadSlotIsRefused) {
  ASSERT_EQ(load_lp(name("p")), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLRESMAT(1), 0);
  EXPECT_EQ(KLRESMAT(1), 0);
  for (const int32_t bad : {0, 3, 65, -1}) {
    EXPECT_EQ(KLRESMAT(bad), 32) << bad;
    EXPECT_EQ(error_number, 421);
    EXPECT_EQ(error_value, bad);
  }
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
}

TEST_F(SlotsTest, ASaveWithEverySlotTakenIsRefusedAndNothingIsLost) {
  // Each save leaves the problem in its slot and continues in the next one;
  // the 64th problem has nowhere to go.
  int32_t saved = 0;
  for (int32_t k = 1; k <= kSlotCount; ++k) {
    ASSERT_EQ(load_lp(name("p" + std::to_string(k)), -static_cast<double>(k)), 0);
    int32_t slot = -1;
    const int32_t status = KLSAVMAT(&slot);
    if (status != 0) {
      EXPECT_EQ(status, 32);
      EXPECT_EQ(error_number, 420);
      EXPECT_EQ(slot, 0);
      break;
    }
    EXPECT_EQ(slot, k);
    ++saved;
  }
  EXPECT_EQ(saved, kSlotCount - 1);
  // The refused problem is still current and whole.
  EXPECT_EQ(current_slot, kSlotCount);
  EXPECT_EQ(costs(), std::vector<double>({-1, -64, 1}));
  ASSERT_EQ(KLMINIM("p"), 0);
  // Every saved problem comes back.
  for (const int32_t s : {1, 30, 63}) {
    ASSERT_EQ(KLRESMAT(s), 0);
    EXPECT_EQ(costs(), std::vector<double>({-1, -static_cast<double>(s), 1}));
  }
}

TEST_F(SlotsTest, DeletingTheSlotInUseIsRefused) {
  ASSERT_EQ(load_lp(name("p")), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLRESMAT(1), 0);
  EXPECT_EQ(KLDELMAT(1), 32);
  EXPECT_EQ(error_number, 421);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
  for (const int32_t bad : {65, -1}) EXPECT_EQ(KLDELMAT(bad), 32) << bad;
  EXPECT_EQ(KLDELMAT(0), 0);
  EXPECT_EQ(KLDELMAT(9), 0) << "an empty slot: nothing to do";
}

TEST_F(SlotsTest, DeletingASavedSlotFreesIt) {
  ASSERT_EQ(load_lp(name("p")), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(load_lp(name("q"), -5.0), 0);
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(current_slot, 3);
  ASSERT_EQ(KLDELMAT(1), 0);
  EXPECT_EQ(slot_save_buffer[1], nullptr);
  for (int id = 1; id <= kMaxArrayId; ++id) EXPECT_EQ(array_registry[id][1], nullptr) << id;
  EXPECT_EQ(KLRESMAT(1), 32);
  ASSERT_EQ(KLRESMAT(2), 0);
  EXPECT_EQ(costs(), std::vector<double>({-1, -5, 1}));
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  EXPECT_EQ(current_slot, 1) << "the freed slot is the first free one again";
}

TEST_F(SlotsTest, CopyContinuesWithAnEqualProblemUnderItsNewName) {
  ASSERT_EQ(load_lp(name("orig")), 0);
  ASSERT_EQ(KLSETICV(KLIC_ITRLIM, 123), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  const double optimum = objective_value();
  int32_t slot = 0;
  ASSERT_EQ(KLCPYMAT(name("copy").c_str(), &slot), 0);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(current_slot, 2);
  EXPECT_EQ(problem_stem(), name("copy"));
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
  int32_t itrlim = 0;
  KLGETICV(KLIC_ITRLIM, &itrlim);
  EXPECT_EQ(itrlim, 123);
  // The original's basis was factorised: the copy starts from it.
  EXPECT_NE(problem_flags & PF_SOLUTION_CURRENT, 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_DOUBLE_EQ(objective_value(), optimum);
  int32_t iterations = -1;
  KLGETIPV(KLIA_ITCNT, &iterations);
  EXPECT_EQ(iterations, 0);

  // The copy is a problem of its own.
  const int32_t col[] = {1};
  const double cost[] = {-9.0};
  ASSERT_EQ(KLCHGOBJ(1, col, cost), 0);
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  EXPECT_EQ(slot, 2);
  ASSERT_EQ(KLRESMAT(1), 0);
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
  EXPECT_EQ(problem_stem(), name("orig"));
  ASSERT_EQ(KLRESMAT(2), 0);
  EXPECT_EQ(costs(), std::vector<double>({-1, -9, 1}));
}

TEST_F(SlotsTest, CopyOfAQuadraticProblemKeepsItsQuadraticObjective) {
  ASSERT_EQ(load_qp(name("qp")), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLCPYMAT(name("qcopy").c_str(), &slot), 0);
  double q = 0.0;
  ASSERT_EQ(KLGETQOBJ(1, 0, &q), 0);
  EXPECT_EQ(q, 0.5);
  ASSERT_EQ(KLGETQOBJ(1, 1, &q), 0);
  EXPECT_EQ(q, 1.0);
  // Changing the copy's objective leaves the original's alone.
  ASSERT_EQ(KLCHGQOBJ(0, 1, 3.0), 0);
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLRESMAT(1), 0);
  ASSERT_EQ(KLGETQOBJ(0, 1, &q), 0);
  EXPECT_EQ(q, 0.5);
}

TEST_F(SlotsTest, CopyWithoutAProblemOrAFreeSlotChangesNothing) {
  int32_t slot = -1;
  EXPECT_EQ(KLCPYMAT(name("x").c_str(), &slot), 32);
  EXPECT_EQ(slot, 0);
  EXPECT_TRUE(kltest::any_line_contains("No problem"));
  EXPECT_EQ(problem_stem(), "$$$$$$$$");

  for (int32_t k = 1; k < kSlotCount; ++k) {
    ASSERT_EQ(load_lp(name("p" + std::to_string(k)), -static_cast<double>(k)), 0);
    ASSERT_EQ(KLSAVMAT(&slot), 0);
  }
  ASSERT_EQ(load_lp(name("last"), -70.0), 0);
  EXPECT_EQ(KLCPYMAT(name("x").c_str(), &slot), 32);
  EXPECT_EQ(error_number, 420);
  EXPECT_EQ(problem_stem(), name("last"));
  EXPECT_EQ(costs(), std::vector<double>({-1, -70, 1}));
}

TEST_F(SlotsTest, ACopyWithoutMemoryLeavesTheOriginalCurrent) {
  ASSERT_EQ(load_lp(name("p")), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLRESMAT(1), 0);  // slot 1 has its buffer: the copy's first request is an array
  ASSERT_EQ(KLMINIM("p"), 0);
  fail_next_allocations(1);
  EXPECT_EQ(KLCPYMAT(name("copy").c_str(), &slot), 32);
  fail_next_allocations(0);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(current_slot, 1);
  EXPECT_EQ(problem_stem(), name("p"));
  EXPECT_NE(problem_flags & PF_SOLUTION_CURRENT, 0) << "nothing was released";
  EXPECT_EQ(costs(), std::vector<double>({-1, -2, 1}));
  ASSERT_EQ(KLCPYMAT(name("copy").c_str(), &slot), 0);
  EXPECT_EQ(slot, 1);
}

TEST_F(SlotsTest, TheWholeProblemNameComesBack) {
  ASSERT_EQ(load_lp(name("p")), 0);
  const std::string long_name = name(std::string(300, 'n'));
  ASSERT_EQ(KLSETPROB(long_name.c_str()), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLSETPROB("other"), 0);
  ASSERT_EQ(KLRESMAT(1), 0);
  EXPECT_EQ(problem_stem(), long_name);
}

TEST_F(SlotsTest, ARowCopyHeldOnlyInTheWorkArraysSurvivesASwitch) {
  ASSERT_EQ(load_lp(name("p")), 0);
  // Rows added go into the row-wise copy only (the column copy is stale),
  // and the row copy lives among the work arrays that a switch frees.
  const char type[] = "L";
  const double rhs[] = {3};
  const int32_t starts[] = {0};
  const int32_t cols[] = {0, 2};
  const double values[] = {1, 1};
  ASSERT_EQ(KLADDROWS(1, 2, type, rhs, nullptr, starts, cols, values), 0);
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(KLRESMAT(1), 0);
  int32_t count = 0;
  std::vector<int32_t> row_starts(2), row_cols(3);
  std::vector<double> row_values(3);
  ASSERT_EQ(KLGETROWS(row_starts.data(), row_cols.data(), row_values.data(), 3, &count, 2, 2), 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(row_cols[0], 0);
  EXPECT_EQ(row_cols[1], 2);
  EXPECT_EQ(row_values[1], 1.0);
}

}  // namespace
