// The frame of presolve: the working copies and their clean-up, the fixed
// columns, compaction with the model cuts it moves to the cut pool, the
// driver's outcomes and the LP driver around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "factor/simplex_state.h"
#include "klsol32.h"
#include "presolve/array_switch.h"
#include "presolve/presolve_driver.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/cut_pool.h"
#include "problem/cut_store.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "simplex/lp_driver.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using namespace kltest;

// Rows: 1 L with range 4 (R), 2 G, 3 E; column 4 is fixed at 2. A quadratic term
// on column 1 and two integer entities come along, so that every versioned
// array exists.
Problem mixed_problem() {
  Problem p;
  p.row_types = "RGE";
  p.rhs = {10, 1, 3};
  p.ranges = {4, 0, 0};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 8, 1.0},
               {{{0, 2.0}, {2, 1.0}}, 0, 5, -1.0},
               {{{1, 1.0}, {2, 1.0}}, 1, 6, 2.0},
               {{{0, 1.0}, {2, 1.0}}, 2, 2, 3.0}};
  p.quadratic = {{0, 0, 2.0}};
  p.entity_types = "II";
  p.entity_columns = {1, 2};
  return p;
}

// Everything presolve may touch that the loaded problem owns.
struct ProblemImage {
  std::map<int32_t, std::vector<int32_t>> blocks;
  std::vector<int32_t> header;
  std::vector<int32_t> words;
  std::vector<double> reals;

  static ProblemImage take() {
    ProblemImage image;
    for (const int32_t id : kVersionedArrays) {
      const void* block = array_cells[id];
      const auto* first = static_cast<const int32_t*>(block);
      if (block != nullptr) image.blocks[id].assign(first, first + block_words(block));
    }
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    image.header.assign(header.data(), header.data() + nrow);
    image.words = {nrow,
                   nseq,
                   store.first_col,
                   nelem,
                   nqelem,
                   nglent,
                   spare_rows_left,
                   spare_cols_left,
                   spare_elems_left,
                   static_cast<int32_t>(store.elem_space),
                   store.objective_row,
                   problem_flags & ~(PF_FACTOR_VALID | PF_LU_ARRAYS | PF_SOLUTION_CURRENT | PF_ROW_LISTS | PF_ROW_COPY |
                                     PF_SEARCH_RUNNING),
                   recurse_entry_count,
                   search_record.stored_cut_count,
                   search_record.pool_elements_used,
                   icv(ic::NRXTRA),
                   icv(ic::NMXTRA)};
    image.reals = {dcv(kObjectiveConstantSlot), dcv(kSecondObjectiveConstantSlot)};
    return image;
  }
};

void expect_same(const ProblemImage& before, const ProblemImage& after) {
  EXPECT_EQ(before.words, after.words);
  EXPECT_EQ(before.reals, after.reals);
  EXPECT_EQ(before.header, after.header);
  ASSERT_EQ(before.blocks.size(), after.blocks.size());
  for (const auto& [id, words] : before.blocks) {
    SCOPED_TRACE("array " + std::to_string(id));
    ASSERT_EQ(after.blocks.count(id), 1u);
    EXPECT_EQ(words, after.blocks.at(id));
  }
}

class PresolveFrame : public LpSession {
 protected:
  void SetUp() override {
    LpSession::SetUp();
    lp_driver_stats = LpDriverStats{};
  }
  // The loaded problem turned into a compact presolved one by the frame
  // alone: copies, fixed columns, counts, compaction.
  void presolve_by_frame() {
    ASSERT_EQ(presolve_allocate(), 0);
    presolve_fixed_columns();
    presolve_count_reduced_problem();
    int32_t result = -1;
    move_flagged_rows_to_cut_pool(result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(status_code, STATUS_OK);
  }
  void mark_model_cut(int32_t row) { int_array(ARR_ROW_TYPE)[row] |= static_cast<int32_t>(RF_MODEL_CUT); }
  void set_objective_constant(double value) {
    const int32_t column = -1;
    ASSERT_EQ(KLCHGOBJ(1, &column, &value), 0);
  }
};

// Presolve that gives up after compaction (a failed store into the cut
// pool, say) must leave the problem exactly as it was loaded: the arrays,
// the quadratic and entity data, the dimensions, both objective constants,
// the basis header, the cut pool and its room controls.
TEST_F(PresolveFrame, GivingUpAfterCompactionRestoresTheLoadedProblem) {
  for (const bool scaled : {false, true}) {
    SCOPED_TRACE(scaled ? "scaled" : "unscaled");
    KLSETICV(KLIC_IFSCAL, scaled ? 35 : 0);
    ASSERT_EQ(load(mixed_problem()), 0);
    set_objective_constant(7.5);
    mark_model_cut(1);
    const ProblemImage before = ProblemImage::take();
    presolve_by_frame();
    // Compaction really happened: the model-cut row and the fixed column
    // are gone, and the cut row went to the pool twice (it has a range).
    EXPECT_EQ(nrow, 2);
    EXPECT_EQ(nseq - store.first_col + 1, 3);
    EXPECT_EQ(search_record.stored_cut_count, 2);
    restore_original_problem();
    expect_same(before, ProblemImage::take());
    EXPECT_EQ(problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
  }
}

// Two cuts from one model-cut row that leaves move the first column up, so
// compaction must grow the row and position arrays. Refused, it stops with
// message 20 and status 32 instead of writing past them, and giving up
// restores the loaded problem.
TEST_F(PresolveFrame, CompactionThatCannotGrowGivesUp) {
  KLSETICV(KLIC_IFSCAL, 0);
  ASSERT_EQ(load(mixed_problem()), 0);
  mark_model_cut(1);
  const ProblemImage before = ProblemImage::take();
  ASSERT_EQ(presolve_allocate(), 0);
  presolve_fixed_columns();
  presolve_count_reduced_problem();
  captured_lines().clear();
  fail_next_allocations(1);
  int32_t result = -1;
  move_flagged_rows_to_cut_pool(result);
  fail_next_allocations(0);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_TRUE(any_line_contains("Not enough memory for array number      1"));
  status_code = STATUS_OK;
  restore_original_problem();
  expect_same(before, ProblemImage::take());
}

// A live model-cut L row a.x <= 10 with range 4 leaves as two pool cuts of
// type 256, a.x <= 10 and a.x >= 6; its element on the fixed column is left
// out (its share is in the right-hand side). A model-cut row that presolve
// removed yields no cut. The objective row keeps no element.
TEST_F(PresolveFrame, ModelCutRowsLeaveForTheCutPool) {
  KLSETICV(KLIC_IFSCAL, 0);
  Problem p = mixed_problem();
  p.quadratic.clear();
  p.entity_types.clear();
  p.entity_columns.clear();
  ASSERT_EQ(load(p), 0);
  mark_model_cut(1);
  presolve_by_frame();
  ASSERT_EQ(search_record.stored_cut_count, 2);
  OneBased<double> cut_rhs = real_array(ARR_CUT_RHS);
  OneBased<int32_t> cut_columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> cut_values = real_array(ARR_CUT_ELEM_VALUE);
  // Fixed column 4 (value 2, coefficient 1) moved 2 out of the limit.
  const struct {
    int32_t flags;
    double rhs;
  } expected[] = {{CUT_SENSE_L | CUT_BY_LIBRARY, 8.0}, {CUT_SENSE_G | CUT_BY_LIBRARY, 4.0}};
  for (int32_t r = 1; r <= 2; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_TYPE), kModelCutType);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_FLAGS), expected[r - 1].flags);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_LENGTH), 2);
    EXPECT_DOUBLE_EQ(cut_rhs[r], expected[r - 1].rhs);
    const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
    // Positions of the presolve-time (original) numbering: columns 1 and 2.
    EXPECT_EQ(cut_columns[first], original_problem.first_col);
    EXPECT_EQ(cut_columns[first + 1], original_problem.first_col + 1);
    EXPECT_DOUBLE_EQ(cut_values[first], 1.0);
    EXPECT_DOUBLE_EQ(cut_values[first + 1], 2.0);
  }
  // The rows and columns kept, in their old order, through position_map.
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  EXPECT_EQ(map[1], 2);
  EXPECT_EQ(map[2], 3);
  for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(map[store.first_col + k], original_problem.first_col + k);
  EXPECT_EQ(nelem, 4);
  EXPECT_EQ(spare_rows_left, store.first_col - nrow - 1);
  restore_original_problem();

  // Removed by presolve: status 0x1, slack bounds infinite.
  ASSERT_EQ(load(p), 0);
  mark_model_cut(1);
  ASSERT_EQ(presolve_allocate(), 0);
  int_array(ARR_POS_STATUS)[1] |= PS_FREE;
  real_array(ARR_LOWER)[1] = -kInfinity;
  real_array(ARR_UPPER)[1] = kInfinity;
  presolve_fixed_columns();
  presolve_count_reduced_problem();
  int32_t result = -1;
  move_flagged_rows_to_cut_pool(result);
  EXPECT_EQ(search_record.stored_cut_count, 0);
  EXPECT_EQ(nrow, 2);
  restore_original_problem();
}

// On a scaled problem the pool gets the cut per unit of the unscaled
// columns: 1000 x + y <= 10 keeps the proportions 1000 : 1 : 10 whatever
// factors scaling gave x and y (the row's own factor scales the whole cut).
TEST_F(PresolveFrame, ModelCutsEnterThePoolUnscaled) {
  KLSETICV(KLIC_IFSCAL, 35);
  Problem p;
  p.row_types = "LL";
  p.rhs = {10, 4000};
  p.columns = {{{{0, 1000.0}, {1, 1000.0}}, 0, 5, -1.0}, {{{0, 1.0}}, 0, 5, -1.0}};
  ASSERT_EQ(load(p), 0);
  const int32_t x = store.first_col;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  ASSERT_NE(scale_exponent(status[x]), scale_exponent(status[x + 1]));
  mark_model_cut(1);
  presolve_by_frame();
  ASSERT_EQ(search_record.stored_cut_count, 1);
  const int32_t first = cut_record_field(1, CUT_FIELD_FIRST);
  ASSERT_EQ(cut_record_field(1, CUT_FIELD_LENGTH), 2);
  OneBased<double> values = real_array(ARR_CUT_ELEM_VALUE);
  EXPECT_DOUBLE_EQ(values[first] / values[first + 1], 1000.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_CUT_RHS)[1] / values[first + 1], 10.0);
  restore_original_problem();
}

// Switching to the original problem and back leaves the presolved problem
// as it was, its own objective constant included; giving it up leaves the
// original with its own dimensions and objective constant, and bit 0x4
// clear.
TEST_F(PresolveFrame, SwitchingRoundTripsAndGivingUpRestores) {
  KLSETICV(KLIC_IFSCAL, 35);
  ASSERT_EQ(load(mixed_problem()), 0);
  set_objective_constant(-4.0);
  const double constant = dcv(kObjectiveConstantSlot);
  const ProblemImage original = ProblemImage::take();
  presolve_by_frame();
  problem_flags |= PF_PRESOLVED_LP;
  // The share of a column presolve fixed, in the presolved problem only.
  dcv(kObjectiveConstantSlot) += 3.0;
  // Postsolve parks the presolved basis header in the column starts of the
  // rows while the original problem is current.
  const ProblemImage presolved = ProblemImage::take();
  for (int32_t i = 1; i <= nrow; ++i) int_array(ARR_COL_START)[i] = int_array(ARR_BASIS_HEADER)[i];
  switch_problem_arrays(1);
  EXPECT_EQ(nrow, original_problem.nrow);
  EXPECT_EQ(nseq, original_problem.nseq);
  EXPECT_EQ(dcv(kObjectiveConstantSlot), constant);
  EXPECT_EQ(nqelem, original.words[4]);
  switch_problem_arrays(0);
  ProblemImage back = ProblemImage::take();
  // The column starts of the rows carry the header copy: compare the rest.
  for (int32_t i = 1; i <= nrow; ++i) back.blocks[ARR_COL_START][static_cast<size_t>(i - 1)] =
      presolved.blocks.at(ARR_COL_START)[static_cast<size_t>(i - 1)];
  expect_same(presolved, back);

  problem_flags |= PF_PRESOLVED_GLOBAL;
  free_presolve_arrays();
  EXPECT_EQ(problem_flags & PF_PRESOLVED_GLOBAL, 0);
  switch_problem_arrays(1);
  EXPECT_EQ(nrow, original_problem.nrow);
  EXPECT_EQ(store.first_col, original_problem.first_col);
  EXPECT_EQ(dcv(kObjectiveConstantSlot), constant);
  EXPECT_EQ(array_cells[ARR_POSITION_MAP], nullptr);
  EXPECT_EQ(presolve_int_top, 0);
}

// The fixed columns' share: the right-hand sides lose lower x column, the
// fixed-column constant gains lower x cost; a fixed column at 0 adds
// nothing.
TEST_F(PresolveFrame, FixedColumnsMoveIntoTheRightHandSide) {
  KLSETICV(KLIC_IFSCAL, 0);
  Problem p;
  p.row_types = "LL";
  p.rhs = {10, 20};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 5, 1.0},
               {{{0, 3.0}, {1, -2.0}}, 2, 2, 4.0},
               {{{0, 7.0}}, 0, 0, 9.0}};
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(presolve_allocate(), 0);
  presolve_fixed_columns();
  EXPECT_DOUBLE_EQ(dcv(kSecondObjectiveConstantSlot), 8.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[1], 4.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[2], 24.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_WORK_RHS)[1], 4.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_WORK_RHS)[2], 24.0);
  restore_original_problem();
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[1], 10.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[2], 20.0);
}

// A fixed column the caller protected stays, counted with both bounds
// finite.
TEST_F(PresolveFrame, ProtectedFixedColumnIsCountedAgain) {
  KLSETICV(KLIC_IFSCAL, 0);
  ASSERT_EQ(load(mixed_problem()), 0);
  const int32_t column = 3;
  ASSERT_EQ(KLSETPFLAG(0, 1, nullptr, &column), 0);
  ASSERT_EQ(presolve_allocate(), 0);
  presolve_fixed_columns();
  presolve_count_reduced_problem();
  const int32_t p = store.first_col + 3;
  EXPECT_EQ(int_array(ARR_POS_STATUS)[p] & (PS_FIXED | PS_BOTH_FINITE), static_cast<int32_t>(PS_BOTH_FINITE));
  EXPECT_EQ(presolve_state.counts.last_position - store.first_col + 1, 4);
  restore_original_problem();
}

// A protected fixed column stays in the problem, so its share of the rows
// and of the objective must stay with it: moved into the right-hand side as
// well, it would count twice.
TEST_F(PresolveFrame, ProtectedFixedColumnKeepsItsShare) {
  KLSETICV(KLIC_IFSCAL, 0);
  Problem p;
  p.row_types = "LL";
  p.rhs = {10, 20};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 5, 1.0}, {{{0, 3.0}, {1, -2.0}}, 2, 2, 4.0}};
  ASSERT_EQ(load(p), 0);
  const int32_t column = 1;
  ASSERT_EQ(KLSETPFLAG(0, 1, nullptr, &column), 0);
  ASSERT_EQ(presolve_allocate(), 0);
  presolve_fixed_columns();
  presolve_count_reduced_problem();
  EXPECT_EQ(dcv(kSecondObjectiveConstantSlot), 0.0);
  EXPECT_EQ(real_array(ARR_WORK_RHS)[1], 10.0);
  EXPECT_EQ(real_array(ARR_WORK_RHS)[2], 20.0);
  EXPECT_EQ(int_array(ARR_POS_STATUS)[store.first_col + 1] & PS_FIXED, 0);
  restore_original_problem();
}

// M_S set by the caller to 0: presolve cannot start (message 20 naming
// array 29, status 32, lp_status unfinished) and the loaded problem is as
// it was. A failed copy is undone the same way. Either way a later call
// presolves and solves.
TEST_F(PresolveFrame, FailedSetUpLeavesTheProblemAsLoaded) {
  const Problem p = production();
  struct Case {
    const char* name;
    bool stack_refused;
  };
  for (const Case& c : {Case{"M_S 0", true}, Case{"no memory", false}}) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load(p), 0);
    set_objective_constant(2.5);
    const ProblemImage before = ProblemImage::take();
    captured_lines().clear();
    if (c.stack_refused) {
      KLSETICV(KLIC_M_S, 0);
      EXPECT_EQ(KLMAXIM(""), 32);
      EXPECT_TRUE(any_line_contains("array number     29"));
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
    } else {
      int32_t outcome = -1;
      fail_next_allocations(1);
      presolve_problem(outcome);
      fail_next_allocations(0);
      EXPECT_EQ(outcome, PRESOLVE_FILL_CAPACITY);
      EXPECT_EQ(status_code, STATUS_REPORTED);
      EXPECT_TRUE(any_line_contains("Not enough memory for array number      1"));
    }
    expect_same(before, ProblemImage::take());
    KLSETICV(KLIC_M_S, 100000);
    ASSERT_EQ(KLMAXIM(""), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    // The constant given for column -1 is subtracted from the objective.
    EXPECT_NEAR(objective_value(), 11.0 - 2.5, 1e-9);
  }
}

// The record stack may not grow past an M_S the caller set: the first
// reduction that needs room ends presolve (message 255 naming M_S, status
// 32, lp_status unfinished) and leaves the problem exactly as loaded, so
// that the next call with room solves it. The capacity is one entry short
// of what the whole presolve uses, so that the stack runs out late, after
// the rounds have changed the working problem; with integer entities the
// presolve is the one for the search, whose sweeps change the entity data
// too.
TEST_F(PresolveFrame, StackCapacityOutcomeLeavesTheProblemAsLoaded) {
  Problem lp = transport(3, 4, 1.0);
  // A zero-cost column singleton and a fixed column: reductions with records.
  lp.columns.push_back({{{0, 1.0}}, 0, 5, 0.0});
  lp.columns.push_back({{{1, 2.0}, {2, 1.0}}, 1, 1, 3.0});
  Problem mip = lp;
  mip.entity_types = "III";
  mip.entity_columns = {0, 5, 11};
  for (const Problem* p : {&lp, &mip}) {
    SCOPED_TRACE(p == &lp ? "LP" : "MIP");
    // M_S as the set-up sizes it, so that presolve leaves what it used there.
    icv(ic::M_S) = 0;
    integer_set_flags[ic::M_S] = 0;
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(load(*p), 0);
    ASSERT_EQ(KLMINIM("l"), 0);
    const double optimum = objective_value();

    KLSETICV(KLIC_IFPRES, 1);
    ASSERT_EQ(load(*p), 0);
    KLMINIM("");
    int32_t used = 0;
    ASSERT_EQ(KLGETICV(KLIC_M_S, &used), 0);
    ASSERT_GT(used, 1);

    ASSERT_EQ(load(*p), 0);
    set_objective_constant(1.5);
    const ProblemImage before = ProblemImage::take();
    KLSETICV(KLIC_M_S, used - 1);
    captured_lines().clear();
    EXPECT_EQ(KLMINIM(""), 32);
    EXPECT_TRUE(any_line_contains("capacity M_S    ran out"));
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
    expect_same(before, ProblemImage::take());
    KLSETICV(KLIC_M_S, 100000);
    ASSERT_EQ(KLMINIM("l"), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
    EXPECT_NEAR(objective_value(), optimum - 1.5, 1e-9);
  }
}

// A problem that presolve leaves unchanged: outcome 0, letter Z, message 176
// with its own sizes.
TEST_F(PresolveFrame, UnchangedProblemReportsItsOwnSizes) {
  Problem p;
  p.row_types = "LL";
  p.rhs = {4, 6};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, kInf, -1.0}, {{{0, 1.0}, {1, 3.0}}, 0, kInf, -1.0}};
  ASSERT_EQ(load(p), 0);
  KLSETICV(KLIC_NRPASS, 0);
  captured_lines().clear();
  int32_t outcome = -1;
  icv(ic::IPSLCT) |= kSelectNoEntitySweeps;
  presolve_problem(outcome);
  EXPECT_EQ(outcome, PRESOLVE_DONE);
  EXPECT_EQ(status_letter, kLetterUnfinished);
  EXPECT_TRUE(any_line_contains("Presolved problem:         2 rows,         2 columns,         4 elements"));
  restore_original_problem();
}

// Parallel rows whose limits no point meets: with IFPRES positive presolve
// names both rows (message 294), reports the problem infeasible and hands
// the loaded problem back; with IFPRES negative it passes the conflict over
// (its record taken off the stack again, so that postsolve never reads it),
// and the simplex proves the presolved problem infeasible.
TEST_F(PresolveFrame, ParallelRowConflictEndsOrIsPassedOver) {
  Problem p;
  p.row_types = "LGL";
  p.rhs = {1, 4, 30};
  p.columns = {{{{0, 1.0}, {1, 2.0}, {2, 1.0}}, -100, 100, -1},
               {{{0, 1.0}, {1, 2.0}, {2, 3.0}}, -100, 100, -2},
               {{{2, 1.0}}, 0, 10, -1}};
  for (const int32_t ifpres : {1, -1}) {
    SCOPED_TRACE(ifpres);
    KLSETICV(KLIC_IFPRES, ifpres);
    ASSERT_EQ(load(p), 0);
    const ProblemImage before = ProblemImage::take();
    captured_lines().clear();
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_INFEASIBLE);
    EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
    const bool named = any_line_contains("are parallel");
    EXPECT_EQ(named, ifpres > 0);
    EXPECT_EQ(any_line_contains("Postsolve"), ifpres < 0);
    if (ifpres > 0) expect_same(before, ProblemImage::take());
  }
}

// Rows that cannot all hold, which the elimination alone brings together:
// one round, then the fill-in pass, and no round after it. The final sweep
// of implied bounds finds a column whose bounds cross; the problem is not
// handed on (its crossed working bounds would box the dual outside the
// column's own bounds). With IFPRES positive presolve says so, and with
// ITRACE it prints the chain; with IFPRES negative the simplex finds it on
// the problem as loaded.
TEST_F(PresolveFrame, FinalImpliedBoundsThatCrossEndPresolve) {
  Problem p;
  p.row_types = "EERLE";
  p.rhs = {-4, 0, -6, -2, -2};
  p.ranges = {0, 0, 1, 0, 0};
  p.columns = {{{{0, 1.0}, {1, 1.0}, {2, 1.0}}, -kInf, kInf, 2},
               {{{0, -2.0}, {1, 3.0}}, -kInf, 2, -2},
               {{{0, 3.0}, {1, 1.0}, {2, 2.0}, {4, 3.0}}, 1, 1, 4},
               {{{0, 1.0}, {1, 1.0}, {2, -1.0}, {3, -2.0}}, -kInf, kInf, 0},
               {{{2, -3.0}, {4, -2.0}}, 1, 1, 1},
               {{{1, 1.0}, {4, -2.0}}, 0, 4, 0},
               {{{0, 2.0}, {2, 3.0}, {4, 2.0}}, 0, kInf, -1},
               {{{1, 1.0}, {3, 1.0}, {4, -2.0}}, -kInf, kInf, 3},
               {{{0, 1.0}, {1, -1.0}, {2, -2.0}, {3, -2.0}}, 3, 3, -1}};
  const struct {
    const char* name;
    int32_t ifpres;
    int32_t ifscal;
    int32_t itrace;
    const char* line;  // a line that must be there (empty: none)
  } cases[] = {
      {"scaled", 1, 35, 0, "cross: the problem is infeasible"},
      {"unscaled", 1, 0, 0, "cross: the problem is infeasible"},
      {"explained", 1, 35, 1, "cross, because"},
      {"passed over", -1, 35, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KLSETICV(KLIC_IFSCAL, c.ifscal);
    ASSERT_EQ(load(p), 0);
    KLSETICV(KLIC_IPSLCT, 0x100);
    KLSETICV(KLIC_NEXTRA, 10);
    KLSETICV(KLIC_NRPASS, 1);
    KLSETICV(KLIC_IFPRES, c.ifpres);
    KLSETICV(KLIC_ITRACE, c.itrace);
    const ProblemImage before = ProblemImage::take();
    captured_lines().clear();
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_INFEASIBLE);
    EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
    EXPECT_FALSE(any_line_contains("Postsolve"));
    if (*c.line != '\0') {
      EXPECT_TRUE(any_line_contains(c.line));
      expect_same(before, ProblemImage::take());
    } else {
      EXPECT_FALSE(any_line_contains("cross"));
    }
  }
}

// For the primal, the row x0 + ... <= -6 makes x1's upper bound of 3
// redundant, and x1, unbounded below, becomes free. The rows cannot all
// hold. A freed column whose dropped bound kept its old value was taken
// at an infinite bound by the solve that judged the verdict again from a
// slack basis, which then called the problem unbounded.
TEST_F(PresolveFrame, ColumnFreedByADroppedBoundKeepsTheVerdict) {
  Problem p;
  p.row_types = "RLG";
  p.rhs = {0, -6, 15};
  p.ranges = {5, 0, 0};
  p.columns = {{{{0, 1.75}, {1, 3.75}, {2, -3.0}}, 0, kInf, -2},
               {{{0, 2.25}, {1, 3.0}, {2, 1.0}}, -kInf, 3, -5},
               {{{0, 1.0}, {1, 2.0}}, 2, 2, 0},
               {{{0, 4.5}, {1, 6.0}, {2, 2.0}}, 0, kInf, 0}};
  KLSETICV(KLIC_IFSCAL, 0);
  ASSERT_EQ(load(p), 0);
  KLSETICV(KLIC_NRPASS, 0);
  KLSETICV(KLIC_IFPRES, 3);
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_INFEASIBLE);
}

// Message 258 carries the pass and all six sizes wherever it is printed:
// before the rounds, after each round, after each implied-bounds pass (the
// primal with IFPRES 3 runs both) and at the end.
TEST_F(PresolveFrame, EveryProgressLineCarriesAllItsFields) {
  Problem p = transport(3, 4, 1.0);
  p.columns.push_back({{{0, 1.0}}, 0, 5, 0.0});
  ASSERT_EQ(load(p), 0);
  KLSETICV(KLIC_IFPRES, 3);
  KLSETICV(KLIC_NEXTRA, 10);
  KLSETICV(KLIC_IFMSG, 1);
  captured_lines().clear();
  ASSERT_EQ(KLMINIM("p"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  std::vector<std::string> passes;
  for (const CapturedLine& line : captured_lines()) {
    if (line.text.rfind("Presolve pass", 0) != 0) continue;
    SCOPED_TRACE(line.text);
    EXPECT_EQ(line.text.find('&'), std::string::npos);
    int pass = 0, rows = -1, columns = -1, elements = -1, entities = -1, sets = -1, members = -1;
    EXPECT_EQ(std::sscanf(line.text.c_str(),
                          "Presolve pass %d : rows %d columns %d elements %d entities %d sets %d members %d", &pass,
                          &rows, &columns, &elements, &entities, &sets, &members),
              7);
    passes.push_back(std::to_string(pass));
  }
  for (const char* pass : {"0", "1", "-2", "-1", "3"}) {
    EXPECT_NE(std::find(passes.begin(), passes.end(), pass), passes.end()) << "pass " << pass;
  }
}

// Presolve only proves dual infeasibility when it calls a problem
// unbounded; the simplex classifies the loaded problem. Rows that cannot be
// met (x1 + x2 >= 5 and <= 3) beside a free column of cost -1 in no row:
// infeasible, not unbounded. The same column beside rows that can be met,
// and a free column of cost 1 whose only row it can leave without limit:
// unbounded.
TEST_F(PresolveFrame, UnboundedVerdictsAreClassifiedByTheSimplex) {
  Problem conflicting;
  conflicting.row_types = "GL";
  conflicting.rhs = {5, 3};
  conflicting.columns = {{{{0, 1.0}, {1, 1.0}}, 0, kInf, 1.0},
                         {{{0, 1.0}, {1, 1.0}}, 0, kInf, 1.0},
                         {{}, -kInf, kInf, -1.0}};
  Problem meetable = conflicting;
  meetable.rhs = {3, 5};
  Problem free_column;
  free_column.row_types = "L";
  free_column.rhs = {10};
  free_column.columns = {{{{0, 1.0}}, -kInf, kInf, 1.0},
                         {{{0, 1.0}}, 0, 1, 0.0},
                         {{{0, 1.0}}, 0, 1, 0.0},
                         {{{0, 1.0}}, 0, 1, 0.0}};
  const struct {
    const char* name;
    Problem problem;
    int32_t lp_status;
  } cases[] = {
      {"rows conflict", conflicting, LP_INFEASIBLE},
      {"rows can be met", meetable, LP_UNBOUNDED},
      {"free column", free_column, LP_UNBOUNDED},
  };
  for (const auto& c : cases) {
    for (const char* letters : {"", "p"}) {
      SCOPED_TRACE(std::string(c.name) + " " + letters);
      ASSERT_EQ(load(c.problem), 0);
      ASSERT_EQ(KLMINIM(letters), 0);
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), c.lp_status);
      EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
    }
  }
}

// With the dual reductions off the free column reaches the simplex, whose
// clean-up on the loaded problem ends with the row's slack entering: a
// slack names no column in the final message.
TEST_F(PresolveFrame, UnboundedSlackNamesNoColumn) {
  Problem free_column;
  free_column.row_types = "L";
  free_column.rhs = {10};
  free_column.columns = {{{{0, 1.0}}, -kInf, kInf, 1.0},
                         {{{0, 1.0}}, 0, 1, 0.0},
                         {{{0, 1.0}}, 0, 1, 0.0},
                         {{{0, 1.0}}, 0, 1, 0.0}};
  ASSERT_EQ(load(free_column), 0);
  KLSETICV(KLIC_IPSLCT, 511 & ~0x8);
  kltest::captured_lines().clear();
  KLDEFINEUOPENTRY(kltest::capture_plain);
  ASSERT_EQ(KLMINIM(""), 0);
  KLDEFINEUOPENTRY(nullptr);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNBOUNDED);
  EXPECT_TRUE(kltest::any_line_contains("unbounded"));
  EXPECT_FALSE(kltest::any_line_contains("grows without limit"));
}

// The cut pool's store: duplicates, growth and bad cuts.
class CutStore : public PresolveFrame {
 protected:
  void SetUp() override {
    PresolveFrame::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
    ASSERT_EQ(load(transport(2, 3)), 0);
    status_code = STATUS_OK;
    // As compaction and the cut rounds call it.
    icv(ic::IFDBG) = 0;
  }
  // One cut over positions (first_col, first_col + 1) with the given
  // coefficients, as the generators store for a caller (store mode 2, no
  // library mark); returns the record.
  int32_t store_cut(int32_t mode, char sense, double a, double b, double rhs, int32_t type = 0) {
    const int32_t columns[2] = {store.first_col, store.first_col + 1};
    const double values[2] = {a, b};
    const int32_t start[2] = {1, 3};
    int32_t record = 0;
    storecut(1, mode, &type, &sense, &rhs, start, &record, columns, values, 2);
    return record;
  }
};

TEST_F(CutStore, DuplicatesAreFoundByProportionAndTightness) {
  const int32_t first = store_cut(1, 'L', 1.0, 2.0, 4.0);
  EXPECT_EQ(search_record.stored_cut_count, 1);
  // The same cut times 2: the stored record.
  EXPECT_EQ(store_cut(1, 'L', 2.0, 4.0, 8.0), first);
  // Times -1 is another cut.
  EXPECT_NE(store_cut(1, 'L', -1.0, -2.0, -4.0), first);
  EXPECT_EQ(search_record.stored_cut_count, 2);
  // Looser (larger limit): the stored cut is at least as tight.
  EXPECT_EQ(store_cut(1, 'L', 1.0, 2.0, 5.0), first);
  EXPECT_EQ(search_record.stored_cut_count, 2);
  // Tighter: stored.
  store_cut(1, 'L', 1.0, 2.0, 3.0);
  EXPECT_EQ(search_record.stored_cut_count, 3);
  // Without the test every cut is stored.
  store_cut(0, 'L', 1.0, 2.0, 4.0);
  EXPECT_EQ(search_record.stored_cut_count, 4);
  EXPECT_EQ(status_code, STATUS_OK);
}

// A pool of 100 records with 3 saved-bound records grows to 301 when the
// 98th cut arrives; the saved-bound records keep their distance from the
// top. The problem had no pool before the first cut.
TEST_F(CutStore, GrowthKeepsSavedBoundRecordsAtTheTop) {
  ASSERT_EQ(array_cells[ARR_CUT_RECORD], nullptr);
  store_cut(0, 'L', 1.0, 1.0, 1.0);
  ASSERT_EQ(status_code, STATUS_OK);
  ASSERT_EQ(icv(ic::MXCPOL), 2 * 0 + 1 + 100);
  // Start again from a pool of 100 records with three saved bounds.
  icv(ic::MXCPOL) = 100;
  ASSERT_EQ(alloc_cut_pool(), 0);
  search_record.saved_bound_count = 3;
  for (int32_t k = 0; k < 3; ++k) {
    cut_record_field(100 - k, CUT_FIELD_LENGTH) = 1000 + k;
    real_array(ARR_CUT_RHS)[100 - k] = 0.5 * k;
  }
  for (int32_t n = 1; n <= 98; ++n) store_cut(0, 'G', 1.0, n, 0.0);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(icv(ic::MXCPOL), 301);
  EXPECT_EQ(search_record.stored_cut_count, 98);
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(cut_record_field(301 - k, CUT_FIELD_LENGTH), 1000 + k);
    EXPECT_EQ(real_array(ARR_CUT_RHS)[301 - k], 0.5 * k);
  }
}

TEST_F(CutStore, BadCutsStopTheCallWithTheirMessage) {
  struct Case {
    const char* name;
    char sense;
    int32_t second_column_offset;
    const char* text;
  };
  const Case cases[] = {
      {"sense", 'X', 1, "invalid type"},
      {"repeated column", 'L', 0, "repeats index"},
      {"outside the columns", 'L', 1000, "out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    status_code = STATUS_OK;
    captured_lines().clear();
    const int32_t columns[2] = {store.first_col, store.first_col + c.second_column_offset};
    const double values[2] = {1.0, 1.0};
    const int32_t start[2] = {1, 3};
    const int32_t type = 0;
    const double rhs = 1.0;
    int32_t record = 0;
    const int32_t stored = search_record.stored_cut_count;
    storecut(1, 0, &type, &c.sense, &rhs, start, &record, columns, values, -1);
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_TRUE(any_line_contains(c.text));
    EXPECT_EQ(search_record.stored_cut_count, stored);
  }
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

// Inside the global search compaction renumbers the entities: integer
// entities follow their columns and carry the integer mark again, a set
// keeps the members whose columns stay, and a set whose members all left
// disappears. Giving the presolved problem up brings the loaded entities
// back.
TEST_F(PresolveFrame, SearchCompactionRenumbersTheEntities) {
  KLSETICV(KLIC_IFSCAL, 0);
  const Problem p = mixed_problem();
  std::vector<int32_t> starts{0}, rows;
  std::vector<double> values, lower, upper, cost;
  for (const Column& c : p.columns) {
    for (const auto& [r, v] : c.entries) {
      rows.push_back(r);
      values.push_back(v);
    }
    starts.push_back(static_cast<int32_t>(rows.size()));
    lower.push_back(c.lower);
    upper.push_back(c.upper);
    cost.push_back(c.cost);
  }
  // Integer columns 1 and 2; set 1 over column 0, set 2 over the fixed
  // column 3 alone (0-based caller columns).
  const int32_t entity_columns[] = {1, 2};
  const int32_t set_starts[] = {0, 1, 2};
  const int32_t set_columns[] = {0, 3};
  const double set_refs[] = {1.0, 1.0};
  const double ranges[] = {4, 0, 0};
  ASSERT_EQ(KLLOADGLOBAL(dir.file("mip").c_str(), 4, 3, p.row_types.data(), p.rhs.data(), ranges, cost.data(),
                         starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data(), 2, 2, "II",
                         entity_columns, nullptr, "11", set_starts, set_columns, set_refs),
            0);
  ASSERT_EQ(nglent, 4);
  const ProblemImage before = ProblemImage::take();
  problem_flags |= PF_SEARCH_RUNNING;
  icv(ic::IPSLCT) &= ~kSelectNoEntitySweeps;
  presolve_by_frame();
  EXPECT_EQ(nglent, 3);
  EXPECT_EQ(nsets, 1);
  EXPECT_EQ(nsosm, 1);
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  // The sets come first: the kept one is set 1, over the first column.
  EXPECT_EQ(type[1] & ENT_TYPE_MASK, ENT_SET1);
  EXPECT_EQ(column[1], 1);
  EXPECT_EQ(int_array(ARR_SET_MEMBER_COLUMN)[1], store.first_col);
  for (int32_t e = 2; e <= 3; ++e) {
    EXPECT_EQ(type[e] & ENT_TYPE_MASK, ENT_INTEGER);
    EXPECT_EQ(column[e], store.first_col + e - 1);
    EXPECT_NE(status[column[e]] & PS_INTEGER, 0);
  }
  problem_flags &= ~PF_SEARCH_RUNNING;
  restore_original_problem();
  expect_same(before, ProblemImage::take());
  EXPECT_EQ(nsets, 2);
  EXPECT_EQ(nsosm, 2);
}

// Inside the search the variable-bound references move with their columns
// and name the new positions: with a row gone the columns move down one.
TEST_F(PresolveFrame, SearchCompactionMovesTheBoundReferences) {
  KLSETICV(KLIC_IFSCAL, 0);
  Problem p = mixed_problem();
  p.quadratic.clear();
  ASSERT_EQ(load(p), 0);
  ASSERT_NE(array_cells[ARR_VUB_REF], nullptr);
  const int32_t c0 = store.first_col;
  int_array(ARR_VLB_REF)[c0 + 1] = c0;
  int_array(ARR_VUB_REF)[c0 + 2] = -(c0 + 1);
  const ProblemImage before = ProblemImage::take();
  problem_flags |= PF_SEARCH_RUNNING;
  ASSERT_EQ(presolve_allocate(), 0);
  // Row 2 removed by presolve.
  int_array(ARR_POS_STATUS)[2] |= PS_FREE;
  real_array(ARR_LOWER)[2] = -kInfinity;
  real_array(ARR_UPPER)[2] = kInfinity;
  presolve_fixed_columns();
  presolve_count_reduced_problem();
  int32_t result = -1;
  move_flagged_rows_to_cut_pool(result);
  ASSERT_EQ(status_code, STATUS_OK);
  const int32_t n0 = store.first_col;
  ASSERT_EQ(n0, c0 - 1);
  EXPECT_EQ(int_array(ARR_VLB_REF)[n0 + 1], n0);
  EXPECT_EQ(int_array(ARR_VUB_REF)[n0 + 2], -(n0 + 1));
  EXPECT_EQ(int_array(ARR_VUB_REF)[n0 + 1], 0);
  EXPECT_EQ(int_array(ARR_VLB_REF)[n0 + 2], 0);
  problem_flags &= ~PF_SEARCH_RUNNING;
  restore_original_problem();
  expect_same(before, ProblemImage::take());
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

// Presolve's records belong to the problem: a load starts them afresh with
// the loaded problem's counts, and a slot keeps them with its problem.
TEST_F(PresolveFrame, RecordsFollowLoadsAndSlots) {
  KLSETICV(KLIC_IFSCAL, 0);
  ASSERT_EQ(load(mixed_problem()), 0);
  presolve_by_frame();
  problem_flags |= PF_PRESOLVED_LP;
  ASSERT_TRUE(push_presolve_record({store.first_col, 1, REC_COLUMN_AT_BOUND}, {2.0}));
  const PresolveState kept = presolve_state;
  const int32_t kept_top = presolve_int_top;
  int32_t slot = 0;
  ASSERT_EQ(KLSAVMAT(&slot), 0);
  ASSERT_EQ(load(transport(2, 3)), 0);
  EXPECT_EQ(presolve_int_top, 0);
  EXPECT_EQ(presolve_state.counts.rows, 5);
  EXPECT_EQ(presolve_state.counts.last_position, nseq);
  EXPECT_EQ(presolve_state.counts.elements, nelem);
  ASSERT_EQ(KLRESMAT(slot), 0);
  EXPECT_EQ(presolve_int_top, kept_top);
  EXPECT_EQ(presolve_state.counts.rows, kept.counts.rows);
  EXPECT_EQ(presolve_state.counts.last_position, kept.counts.last_position);
  EXPECT_EQ(presolve_state.presolved_first_col, kept.presolved_first_col);
  EXPECT_EQ(presolve_state.fill_reserve, kept.fill_reserve);
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

// An LP stopped by the iteration limit keeps its presolved form, unfinished;
// the next call goes on from it without presolving again and ends in
// original terms at the optimum.
TEST_F(PresolveFrame, StoppedLpStaysPresolvedUntilTheNextCall) {
  ASSERT_EQ(load(transport(3, 4, 1.0)), 0);
  KLSETICV(KLIC_ITRLIM, 1);
  captured_lines().clear();
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_UNFINISHED);
  EXPECT_NE(int_attribute_value(ATTR_PROBLEM_FLAGS) & PF_PRESOLVED_LP, 0);
  EXPECT_FALSE(any_line_contains("Postsolve"));
  KLSETICV(KLIC_ITRLIM, 100000);
  captured_lines().clear();
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_FALSE(any_line_contains("Presolved problem"));
  EXPECT_TRUE(any_line_contains("Postsolve"));
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
  const double presolved_objective = objective_value();
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(load(transport(3, 4, 1.0)), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_NEAR(objective_value(), presolved_objective, 1e-9);
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

struct CallerSolution {
  std::vector<double> x, slack, dual, reduced_cost;
  std::vector<int32_t> row_basis, column_basis;
};

CallerSolution read_caller_solution(int32_t rows, int32_t columns) {
  CallerSolution s;
  s.x.resize(static_cast<size_t>(columns));
  s.reduced_cost.resize(static_cast<size_t>(columns));
  s.slack.resize(static_cast<size_t>(rows));
  s.dual.resize(static_cast<size_t>(rows));
  s.row_basis.resize(static_cast<size_t>(rows));
  s.column_basis.resize(static_cast<size_t>(columns));
  EXPECT_EQ(KLSOLUTION(s.x.data(), s.slack.data(), s.dual.data(), s.reduced_cost.data()), 0);
  EXPECT_EQ(KLGETBASIS(s.row_basis.data(), s.column_basis.data()), 0);
  return s;
}

void expect_near(const std::vector<double>& a, const std::vector<double>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << what << " " << k;
}

// min -x + 5z with x + z <= 1.5, x + 2z <= 4, x in [0, 3], z fixed at 1:
// 4.5 at x = 0.5. Protected, z stays in the presolved problem with its
// share of the rows; taken out twice, the first row could not be met.
Problem fixed_column_problem() {
  Problem p;
  p.row_types = "LL";
  p.rhs = {1.5, 4};
  p.columns = {{{{0, 1.0}, {1, 1.0}}, 0, 3, -1}, {{{0, 1.0}, {1, 2.0}}, 1, 1, 5}};
  return p;
}

// A problem presolve leaves as it is, and one whose every row and column
// the caller protected, come back from presolve and postsolve with the
// values, duals and basis of the solve without presolve, and nothing
// infeasible.
TEST_F(PresolveFrame, UnreducedProblemsRoundTrip) {
  const struct {
    const char* name;
    Problem problem;
    bool maximise;
  } cases[] = {
      {"production", production(), true},
      {"ranged row", ranged_row(), false},
      {"free variable", free_variable(), false},
      {"beale", beale(), false},
      {"fixed column", fixed_column_problem(), false},
  };
  for (const auto& c : cases) {
    for (const bool protect : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (protect ? " protected" : ""));
      const int32_t rows = c.problem.nrows();
      const int32_t columns = c.problem.ncols();
      KLSETICV(KLIC_IFPRES, 0);
      ASSERT_EQ(load(c.problem), 0);
      ASSERT_EQ(c.maximise ? KLMAXIM("") : KLMINIM(""), 0);
      const double objective = objective_value();
      const CallerSolution plain = read_caller_solution(rows, columns);

      KLSETICV(KLIC_IFPRES, 1);
      ASSERT_EQ(load(c.problem), 0);
      if (protect) {
        std::vector<int32_t> all_rows(static_cast<size_t>(rows)), all_columns(static_cast<size_t>(columns));
        for (int32_t k = 0; k < rows; ++k) all_rows[static_cast<size_t>(k)] = k;
        for (int32_t k = 0; k < columns; ++k) all_columns[static_cast<size_t>(k)] = k;
        ASSERT_EQ(KLSETPFLAG(rows, columns, all_rows.data(), all_columns.data()), 0);
      }
      ASSERT_EQ(c.maximise ? KLMAXIM("") : KLMINIM(""), 0);
      EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
      EXPECT_NEAR(objective_value(), objective, 1e-9);
      const CallerSolution presolved = read_caller_solution(rows, columns);
      expect_near(plain.x, presolved.x, "x");
      expect_near(plain.slack, presolved.slack, "slack");
      expect_near(plain.dual, presolved.dual, "dual");
      expect_near(plain.reduced_cost, presolved.reduced_cost, "reduced cost");
      EXPECT_EQ(plain.row_basis, presolved.row_basis);
      EXPECT_EQ(plain.column_basis, presolved.column_basis);
      int32_t counts[4] = {-1, -1, -1, -1};
      ASSERT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
      for (const int32_t n : counts) EXPECT_EQ(n, 0);
    }
  }
}

// The fixed column of that problem protected on its own: presolve keeps it
// with its share of the first row, whose limit it would otherwise miss by
// the share taken out a second time, and the problem solves as loaded.
TEST_F(PresolveFrame, ProtectedFixedColumnSolvesAsLoaded) {
  ASSERT_EQ(load(fixed_column_problem()), 0);
  const int32_t fixed = 1;
  ASSERT_EQ(KLSETPFLAG(0, 1, nullptr, &fixed), 0);
  captured_lines().clear();
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_TRUE(any_line_contains("Presolved problem"));
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_NEAR(objective_value(), 4.5, 1e-9);
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

// KLMINIM on a problem with entities presolves it for the global search
// and keeps that form; a later LP-only call gives it up and solves the
// loaded problem's relaxation.
TEST_F(PresolveFrame, LpCallDiscardsTheFormPresolvedForTheSearch) {
  Problem p = mixed_problem();
  p.quadratic.clear();
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM("l"), 0);
  ASSERT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  const double relaxation = objective_value();

  KLSETICV(KLIC_IFPRES, 1);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_NE(int_attribute_value(ATTR_PROBLEM_FLAGS) & PF_PRESOLVED_GLOBAL, 0);
  ASSERT_EQ(KLMINIM("l"), 0);
  EXPECT_EQ(int_attribute_value(ATTR_PROBLEM_FLAGS) & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL), 0);
  EXPECT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  EXPECT_NEAR(objective_value(), relaxation, 1e-9);
  EXPECT_EQ(nrow, 3);
  EXPECT_EQ(nglent, 2);
}

}  // namespace

namespace {

using namespace kl;
using namespace kltest;

// A presolved run that the dual cuts off reports the bound it proved: an
// objective at or beyond the cutoff, in original terms, never the value of
// the point that postsolve makes of the basis where it stopped.
TEST_F(PresolveFrame, CutOffRunReportsItsBound) {
  Problem p = transport(3, 4);
  for (Column& c : p.columns) c.cost *= 2e6;
  p.columns[5].cost = 2.0;
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_OPTIMAL);
  const double optimum = objective_value();
  ASSERT_EQ(load(p), 0);
  KLSETDCV(KLDC_CUTOFF, 0.999 * optimum);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(int_attribute_value(ATTR_LP_STATUS), LP_CUT_OFF);
  EXPECT_GE(objective_value(), 0.999 * optimum);
  EXPECT_LE(objective_value(), optimum * (1.0 + 1e-9));
}

}  // namespace
