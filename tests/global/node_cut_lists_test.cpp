// Node cut lists: the cut rows of a branching written to the cut file and
// rebuilt from it when a node is taken up.
#include <gtest/gtest.h>

#include <vector>

#include "global/cut_rows.h"
#include "global/node_cut_lists.h"
#include "klsol/message_ids.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/units.h"
#include "support/library_session.h"
#include "support/temp_dir.h"
#include "problem/array_problem.h"

namespace {

using namespace kl;
using namespace kltest;

TEST(CutListRuns, BoundRecordsAreRunCoded) {
  struct Case {
    std::vector<int32_t> records, coded;
  } cases[] = {
      {{40, 39, 38, 12}, {40, -2, 12}},
      {{}, {}},
      {{7}, {7}},
      {{5, 6, 5, 4}, {5, 6, -2}},
      {{5, 6, 4, 3}, {5, 6, 4, -1}},
      {{9, 8, 8}, {9, -1, 8}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run_code_bounds(c.records), c.coded);
    EXPECT_EQ(expand_bound_runs(c.coded), c.records);
  }
}

// maximise 2x + 3y: x + 2y <= 4, 3x + y <= 6, 0 <= x, y <= 10, x integer.
ArrayProblem two_row_problem() {
  ArrayProblem p;
  p.row('L', 4.0);
  p.row('L', 6.0);
  p.column(2.0, 0.0, 10.0, {{0, 1.0}, {1, 3.0}});
  p.column(3.0, 0.0, 10.0, {{0, 2.0}, {1, 1.0}});
  p.entity('I', 0);
  return p;
}

constexpr int32_t kSlots = 8;

class NodeCutLists : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    ASSERT_EQ(two_row_problem().load_global(), 0);
    model_rows = nrow;
    ASSERT_EQ(allocate_array(ARR_NODE_CUT_LIST, array_cells[ARR_NODE_CUT_LIST], kSlots + 1), 0);
    for (int32_t k = 1; k <= kSlots; ++k) int_array(ARR_NODE_CUT_LIST)[k] = 0;
    search_work_files.names[1] = dir.file("TEST.CTP");
    int32_t error = 0;
    create_unit(search_work_files.names[1].c_str(), search_work_files.units[1], 4, error);
    ASSERT_EQ(error, 0);
    start_node_cut_lists();
    node_cut_lists_in_use = 1;
    // x + y <= 2.5 (binds), y >= 0.2 (a G cut that does not bind).
    sum = put_cut(1.0, 1.0, 'L', 2.5);
    floor = put_cut(0.0, 1.0, 'G', 0.2);
  }
  void TearDown() override {
    int32_t error = 0;
    if (search_work_files.units[1] >= 0) close_unit(search_work_files.units[1], error);
    search_work_files.units[1] = -1;
    node_cut_lists_in_use = 0;
    LibrarySession::TearDown();
  }

  int32_t put_cut(double a, double b, char sense, double rhs) {
    const int32_t columns[2] = {store.first_col, store.first_col + 1};
    const double values[2] = {a, b};
    const int32_t start[2] = {1, 3};
    const int32_t type = 1;
    int32_t record = 0;
    status_code = STATUS_OK;
    icv(ic::IFDBG) = 0;
    storecut(1, 0, &type, &sense, &rhs, start, &record, columns, values, 2);
    icv(ic::IFDBG) = 1;
    return record;
  }
  void load_both_and_solve() {
    status_code = STATUS_OK;
    icv(ic::IFDBG) = 0;
    const int32_t both[2] = {sum, floor};
    loadcut(0, 0, 2, both, LOAD_INTERNAL_LIST);
    icv(ic::IFDBG) = 1;
    ASSERT_EQ(KLMAXIM("l"), 0);
    ASSERT_EQ(lp_status, 1);
  }
  int32_t refs(int32_t r) { return cut_record_field(r, CUT_FIELD_REFERENCES); }
  int32_t row_status(int32_t k) { return int_array(ARR_POS_STATUS)[model_rows + k] & (PS_BASIC | PS_AT_UPPER); }

  TempDir dir;
  int32_t model_rows = 0;
  int32_t sum = 0, floor = 0;
  double fixed_constant = 0.0;
};

// A branching after new cuts writes a list; a node without a list drops the
// cut rows, and taking the branch's node up again rebuilds them with the
// slack statuses they had.
TEST_F(NodeCutLists, BranchingWritesAndRestoreRebuilds) {
  load_both_and_solve();
  ASSERT_EQ(row_status(1), 0);         // x + y <= 2.5 binds
  ASSERT_EQ(row_status(2), PS_BASIC);  // y >= 0.2 does not
  const int32_t before = refs(sum);
  node_cut_list_state.cut_rows_changed = 1;
  bump_cut_references(2);
  EXPECT_EQ(node_cut_list_state.current_cut_list, 1);
  EXPECT_EQ(node_cut_list_state.cut_file_next, 1 + 2 + 2);
  EXPECT_EQ(refs(sum), before + 1);
  CutListEntries list;
  ASSERT_TRUE(read_cut_list(1, true, list));
  EXPECT_EQ(list.cuts, (std::vector<int32_t>{sum, -floor}));
  EXPECT_TRUE(list.bounds.empty());

  // A node whose parent had no cuts: every cut row goes.
  int_array(ARR_NODE_CUT_LIST)[3] = 0;
  restore_node_cuts(3, fixed_constant);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(cut_row_count, 0);
  EXPECT_EQ(nrow, model_rows);

  // The children of the branching above: the two rows again, the G cut's
  // slack basic as saved, the other at its bound.
  int_array(ARR_NODE_CUT_LIST)[4] = 1;
  restore_node_cuts(4, fixed_constant);
  ASSERT_EQ(status_code, STATUS_OK);
  ASSERT_EQ(cut_row_count, 2);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[1], sum);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[2], floor);
  EXPECT_EQ(row_status(1), 0);
  EXPECT_EQ(row_status(2), PS_BASIC);
  EXPECT_EQ(node_cut_list_state.current_cut_list, 1);
  EXPECT_EQ(fixed_constant, 0.0);
  // The LP is whole again: its optimum with both cuts.
  ASSERT_EQ(KLMAXIM("l"), 0);
  EXPECT_NEAR(objective_value(), 2.0 * 1.0 + 3.0 * 1.5, 1e-9);

  // Restoring the list that is current changes nothing.
  const int32_t loaded = search_record.cut_rows_loaded;
  root_cut_count = 2;
  restore_node_cuts(4, fixed_constant);
  EXPECT_EQ(search_record.cut_rows_loaded, loaded);
}

// Without a change since the last list, a branching only passes the list
// on; with IFDELBC a non-binding cut stays out of the children's list.
TEST_F(NodeCutLists, UnchangedCutsShareOneList) {
  load_both_and_solve();
  root_cut_count = 2;
  node_cut_list_state.cut_rows_changed = 1;
  bump_cut_references(2);
  const int32_t first = node_cut_list_state.current_cut_list;
  const int32_t next = node_cut_list_state.cut_file_next;
  node_cut_list_state.cut_rows_changed = 0;
  bump_cut_references(3);
  EXPECT_EQ(node_cut_list_state.current_cut_list, first);
  EXPECT_EQ(int_array(ARR_NODE_CUT_LIST)[3], first);
  EXPECT_EQ(node_cut_list_state.cut_file_next, next);

  KLSETICV(KLIC_IFDELBC, 1);
  root_cut_count = 0;
  bump_cut_references(5);
  CutListEntries list;
  ASSERT_TRUE(read_cut_list(node_cut_list_state.current_cut_list, true, list));
  EXPECT_EQ(list.cuts, (std::vector<int32_t>{sum}));
}

// Bound records attached to a branch travel run-coded and are applied when
// the node is restored; a bound that fixes a column adds its cost.
TEST_F(NodeCutLists, AttachedBoundsAreApplied) {
  // Three bound records: x >= 1, x <= 1 (fixing x), y <= 3.
  const int32_t x = store.first_col, y = store.first_col + 1;
  struct Bound {
    int32_t flags, column;
    double value;
  } bounds[] = {{8, x, 1.0}, {16, x, 1.0}, {16, y, 3.0}};
  std::vector<int32_t> records;
  for (const Bound& b : bounds) {
    const int32_t r = search_record.pool_free_head;
    search_record.pool_free_head = cut_record_field(r, CUT_FIELD_FLAGS);
    ++search_record.stored_cut_count;
    cut_record_field(r, CUT_FIELD_TYPE) = 0;
    cut_record_field(r, CUT_FIELD_FLAGS) = b.flags;
    cut_record_field(r, CUT_FIELD_FIRST) = 0;
    cut_record_field(r, CUT_FIELD_LENGTH) = b.column;
    real_array(ARR_CUT_RHS)[r] = b.value;
    records.push_back(r);
  }
  // Attached in this order: the first at entry nseq, the next below it.
  search_record.branch_bound_count = 3;
  for (int32_t i = 0; i < 3; ++i) int_array(ARR_CUT_ROW_LIST)[nseq - i] = records[static_cast<size_t>(i)];
  node_cut_list_state.cut_rows_changed = 1;
  bump_cut_references(2);
  const int32_t reference = node_cut_list_state.current_cut_list;
  ASSERT_GT(reference, 0);
  CutListEntries list;
  ASSERT_TRUE(read_cut_list(reference, true, list));
  EXPECT_TRUE(list.cuts.empty());
  EXPECT_EQ(list.bounds, run_code_bounds({records[2], records[1], records[0]}));

  search_record.branch_bound_count = 0;
  node_cut_list_state.current_cut_list = 0;
  int_array(ARR_NODE_CUT_LIST)[6] = reference;
  fixed_constant = 0.5;
  restore_node_cuts(6, fixed_constant);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(search_record.branch_bound_count, 3);
  EXPECT_EQ(real_array(ARR_LOWER)[x], 1.0);
  EXPECT_EQ(real_array(ARR_UPPER)[x], 1.0);
  EXPECT_EQ(real_array(ARR_UPPER)[y], 3.0);
  EXPECT_NE(int_array(ARR_POS_STATUS)[x] & PS_SEARCH_FIXED, 0);
  EXPECT_EQ(int_array(ARR_POS_STATUS)[y] & PS_SEARCH_FIXED, 0);
  EXPECT_EQ(fixed_constant, 0.5 + 1.0 * real_array(ARR_OBJECTIVE)[x]);
}

// Releasing a node's list gives its references back (IFNDCP 0 only); a
// list the file cannot give is an input/output error of the node loop.
TEST_F(NodeCutLists, ReleaseAndReadFailure) {
  load_both_and_solve();
  node_cut_list_state.cut_rows_changed = 1;
  bump_cut_references(2);
  const int32_t reference = node_cut_list_state.current_cut_list;
  const int32_t held = refs(floor);
  int_array(ARR_NODE_CUT_LIST)[5] = reference;
  node_cut_list_state.current_cut_list = -1;
  release_node_cuts(5);  // IFNDCP 1: kept
  EXPECT_EQ(refs(floor), held);
  KLSETICV(KLIC_IFNDCP, 0);
  release_node_cuts(5);
  EXPECT_EQ(refs(floor), held - 1);
  EXPECT_EQ(refs(sum), held - 1);

  int32_t error = 0;
  close_unit(search_work_files.units[1], error);
  search_work_files.units[1] = -1;
  restore_node_cuts(5, fixed_constant);
  EXPECT_EQ(status_code, STATUS_FILE_ERROR);
  EXPECT_EQ(error_number, MSG_SEARCH_FILE_ERROR);
  EXPECT_TRUE(any_line_contains("global search file"));
}

}  // namespace
