// Pool cuts as LP rows: storing, loading and deleting them, with the LP
// solved between the steps.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "global/cut_rows.h"
#include "klsol/message_ids.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/cut_pool.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "problem/array_problem.h"

namespace {

using namespace kl;
using namespace kltest;

// maximise 2x + 3y: x + 2y <= 4, 3x + y <= 6, 0 <= x, y <= 10, x integer.
// The LP optimum is x = 1.6, y = 1.2, objective 6.8.
ArrayProblem two_row_problem() {
  ArrayProblem p;
  p.row('L', 4.0);
  p.row('L', 6.0);
  p.column(2.0, 0.0, 10.0, {{0, 1.0}, {1, 3.0}});
  p.column(3.0, 0.0, 10.0, {{0, 2.0}, {1, 1.0}});
  p.entity('I', 0);
  return p;
}

class CutRows : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    // A pool of two records and three elements, and one spare row: the
    // cuts below make both grow.
    KLSETICV(KLIC_MXCPOL, 2);
    KLSETICV(KLIC_MXCPEL, 3);
    KLSETICV(KLIC_NRXTRA, 1);
    KLSETICV(KLIC_NMXTRA, 2);
    ASSERT_EQ(two_row_problem().load_global(), 0);
    model_rows = nrow;
  }

  // One cut a x + b y (sense) rhs, stored as the library does (positions,
  // duplicate mode 1); returns the record.
  int32_t put_cut(double a, double b, char sense, double rhs, int32_t type = 1) {
    const int32_t columns[2] = {store.first_col, store.first_col + 1};
    const double values[2] = {a, b};
    const int32_t start[2] = {1, 3};
    int32_t record = 0;
    status_code = STATUS_OK;
    const int32_t base = icv(ic::IFDBG);
    icv(ic::IFDBG) = 0;
    storecut(1, 1, &type, &sense, &rhs, start, &record, columns, values, 2);
    icv(ic::IFDBG) = base;
    EXPECT_EQ(status_code, STATUS_OK);
    return record;
  }

  void load(std::vector<int32_t> records, int32_t rule = 0) {
    status_code = STATUS_OK;
    const int32_t base = icv(ic::IFDBG);
    icv(ic::IFDBG) = 0;
    loadcut(0, rule, static_cast<int32_t>(records.size()), records.data(), LOAD_INTERNAL_LIST);
    icv(ic::IFDBG) = base;
    EXPECT_EQ(status_code, STATUS_OK);
  }

  double maximise() {
    EXPECT_EQ(KLMAXIM("l"), 0);
    EXPECT_EQ(lp_status, 1);
    return objective_value();
  }

  // Every basis position holds a distinct basic variable and no other
  // variable is marked basic.
  void expect_square_basis() {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    std::set<int32_t> basic;
    for (int32_t i = 1; i <= nrow; ++i) {
      const int32_t v = header[i];
      ASSERT_TRUE((v >= 1 && v <= nrow) || (v >= store.first_col && v <= nseq)) << "position " << i;
      EXPECT_TRUE(basic.insert(v).second) << "variable " << v << " twice";
      EXPECT_NE(status[v] & PS_BASIC, 0) << "variable " << v;
    }
    int32_t marked = 0;
    for (int32_t p = 1; p <= nrow; ++p) marked += (status[p] & PS_BASIC) != 0;
    for (int32_t p = store.first_col; p <= nseq; ++p) marked += (status[p] & PS_BASIC) != 0;
    EXPECT_EQ(marked, nrow);
  }

  int32_t references(int32_t record) { return cut_record_field(record, CUT_FIELD_REFERENCES); }

  int32_t model_rows = 0;
};

// Store, load, solve, delete, solve: each cut tightens the LP as it should,
// deleting gives the rows and the elements back, and the basis stays square
// whatever the deleted rows' slacks were.
TEST_F(CutRows, StoreLoadDeleteRoundTrip) {
  EXPECT_NEAR(maximise(), 6.8, 1e-9);
  const int32_t pool_records = icv(ic::MXCPOL);
  const int32_t spare_rows = spare_rows_left;
  const int32_t spare_elements = spare_elems_left;

  const int32_t sum = put_cut(1.0, 1.0, 'L', 2.5);          // x + y <= 2.5
  EXPECT_EQ(put_cut(2.0, 2.0, 'L', 5.0), sum);              // the same cut twice over
  EXPECT_EQ(put_cut(1.0, 1.0, 'L', 2.6), sum);              // looser: the stored one counts
  const int32_t y_cap = put_cut(0.0, 1.0, 'L', 1.0);        // y <= 1 (a zero coefficient)
  const int32_t x_floor = put_cut(1.0, 0.0, 'G', 0.5);      // x >= 0.5, never binding
  EXPECT_EQ(search_record.stored_cut_count, 3);
  EXPECT_GT(icv(ic::MXCPOL), pool_records);  // grew past its two records

  load({sum, y_cap, x_floor});
  EXPECT_EQ(nrow, model_rows + 3);
  EXPECT_EQ(cut_row_count, 3);
  EXPECT_EQ(search_record.cut_rows_loaded, 3);
  for (const int32_t r : {sum, y_cap, x_floor}) EXPECT_EQ(references(r), 1);
  // y <= 1 holds one element: its zero coefficient stayed out.
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  EXPECT_EQ(copy_start[model_rows + 3] - copy_start[model_rows + 2], 1);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[model_rows + 3], ROW_G);
  expect_square_basis();

  // x + y <= 2.5 and y <= 1 bind at x = 1.5, y = 1: 6.
  EXPECT_NEAR(maximise(), 6.0, 1e-9);
  expect_square_basis();

  // Drop the binding y <= 1 (its slack non-basic): the basis stays square
  // and the LP has x + y <= 2.5 and x >= 0.5 left: x = 1, y = 1.5.
  status_code = STATUS_OK;
  const int32_t second[1] = {1};  // cut rows counted from the index base 1
  delcut(0, 0, 0, -1.0, 1, second);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(cut_row_count, 2);
  EXPECT_EQ(nrow, model_rows + 2);
  EXPECT_EQ(references(y_cap), 0);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[1], sum);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[2], x_floor);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[model_rows + 2], ROW_G);
  expect_square_basis();
  EXPECT_NEAR(maximise(), 6.5, 1e-9);

  // Delete every non-binding cut row after a solve: x >= 0.5 goes (its slack
  // is basic and away from its bound), the binding x + y <= 2.5 stays.
  status_code = STATUS_OK;
  delcut(1, 0, 0, 0.0, -1, nullptr);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(cut_row_count, 1);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[1], sum);
  expect_square_basis();

  // Delete the rest: the model rows, spare room and the LP optimum return.
  status_code = STATUS_OK;
  delcut(0, 0, 0, -1.0, -1, nullptr);
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(nrow, model_rows);
  EXPECT_EQ(cut_row_count, 0);
  EXPECT_GE(spare_rows_left, spare_rows);
  EXPECT_GE(spare_elems_left, spare_elements);
  EXPECT_EQ(search_record.cut_rows_deleted, 3);
  expect_square_basis();
  EXPECT_NEAR(maximise(), 6.8, 1e-9);
  // The pool kept every cut.
  EXPECT_EQ(search_record.stored_cut_count, 3);
}

// The type rules choose the rows loaded and deleted.
TEST_F(CutRows, TypeRulesChooseTheCuts) {
  const int32_t a = put_cut(1.0, 1.0, 'L', 2.5, 1);
  const int32_t b = put_cut(0.0, 1.0, 'L', 1.0, 2);
  const int32_t c = put_cut(1.0, 0.0, 'L', 1.5, 3);
  struct Case {
    int32_t type, rule, rows;
  } cases[] = {
      {1, CUT_RULE_TYPE_EQUAL, 1}, {2, CUT_RULE_COMMON_BIT, 2}, {3, CUT_RULE_ALL_BITS, 1}, {0, 0, 3},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.rule);
    status_code = STATUS_OK;
    icv(ic::IFDBG) = 0;
    const int32_t all[3] = {a, b, c};
    loadcut(t.type, t.rule, 3, all, LOAD_INTERNAL_LIST);
    EXPECT_EQ(cut_row_count, t.rows);
    delcut(0, t.type, t.rule, -1.0, -1, nullptr);
    EXPECT_EQ(cut_row_count, 0);
    icv(ic::IFDBG) = 1;
    EXPECT_EQ(status_code, STATUS_OK);
  }
}

// Selected records load once and lose their selection mark; cuts stored by
// the library are not the caller's to load.
TEST_F(CutRows, SelectedAndLibraryCuts) {
  const int32_t a = put_cut(1.0, 1.0, 'L', 2.5);
  const int32_t b = put_cut(0.0, 1.0, 'L', 1.0);
  cut_record_field(b, CUT_FIELD_FLAGS) |= CUT_SELECTED;
  status_code = STATUS_OK;
  loadcut(0, CUT_RULE_COMMON_BIT, -1, nullptr, LOAD_SELECTED);
  EXPECT_EQ(cut_row_count, 1);
  EXPECT_EQ(int_array(ARR_CUT_ROW_LIST)[1], b);
  EXPECT_EQ(cut_record_field(b, CUT_FIELD_FLAGS) & CUT_SELECTED, 0);
  cut_record_field(a, CUT_FIELD_FLAGS) |= CUT_BY_LIBRARY;
  const int32_t list[1] = {a - 1};  // from the caller's index base 1
  loadcut(0, 0, 1, list, LOAD_CALLER_LIST);
  EXPECT_EQ(cut_row_count, 1);
  EXPECT_EQ(status_code, STATUS_OK);
}

// Bad requests stop with their message; what was done before stays.
TEST_F(CutRows, BadRequestsReportTheirMessage) {
  const int32_t a = put_cut(1.0, 1.0, 'L', 2.5);
  captured_lines().clear();
  status_code = STATUS_OK;
  const int32_t bad[2] = {a - 1, 5000};  // from the caller's index base 1
  loadcut(0, 0, 2, bad, LOAD_CALLER_LIST);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_EQ(error_number, MSG_CUT_RECORD_INVALID);
  EXPECT_TRUE(any_line_contains("names no cut record"));
  EXPECT_EQ(cut_row_count, 1);

  // The same without a message in the library's own mode.
  captured_lines().clear();
  status_code = STATUS_OK;
  loadcut(0, 0, 2, bad, LOAD_INTERNAL_LIST);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_TRUE(captured_lines().empty());
  ASSERT_EQ(cut_row_count, 2);

  // A cut-row number past the cut rows.
  status_code = STATUS_OK;
  const int32_t past[1] = {2};
  delcut(0, 0, 0, -1.0, 1, past);
  EXPECT_EQ(error_number, MSG_ROW_INDEX_INVALID);
  EXPECT_EQ(cut_row_count, 2);
  // A threshold needs a current solution.
  status_code = STATUS_OK;
  delcut(0, 0, 0, 0.5, -1, nullptr);
  EXPECT_EQ(error_number, MSG_SOLUTION_NOT_CURRENT);
  EXPECT_EQ(cut_row_count, 2);
  // keep_binding with threshold -1 deletes nothing.
  status_code = STATUS_OK;
  delcut(1, 0, 0, -1.0, -1, nullptr);
  EXPECT_EQ(cut_row_count, 2);
  EXPECT_EQ(status_code, STATUS_OK);
}

// Deleting a row whose basis position another variable holds: the row's
// slack basic elsewhere trades places with it; a non-basic slack pushes
// that variable out of the basis. Either way the basis stays square.
TEST_F(CutRows, DeletionFreesTheRowsBasisPosition) {
  enum Shape { kSlacksCrossed, kModelSlackInThePlace };
  for (const Shape shape : {kSlacksCrossed, kModelSlackInThePlace}) {
    SCOPED_TRACE(shape);
    remove_all_cut_rows();
    EXPECT_NEAR(maximise(), 6.8, 1e-9);  // both model rows bind
    const int32_t a = put_cut(1.0, 1.0, 'L', 9.0);
    const int32_t b = put_cut(0.0, 1.0, 'L', 9.0);
    load({a, b});
    const int32_t m0 = model_rows;
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    if (shape == kSlacksCrossed) {
      header[m0 + 1] = m0 + 2;
      header[m0 + 2] = m0 + 1;
    } else {
      ASSERT_EQ(status[1] & PS_BASIC, 0);
      header[m0 + 1] = 1;
      status[1] |= PS_BASIC;
      status[m0 + 1] &= ~PS_BASIC;
    }
    status_code = STATUS_OK;
    const int32_t first[1] = {0};  // the first cut row, from the index base 1
    delcut(0, 0, 0, -1.0, 1, first);
    ASSERT_EQ(status_code, STATUS_OK);
    ASSERT_EQ(cut_row_count, 1);
    header = int_array(ARR_BASIS_HEADER);
    status = int_array(ARR_POS_STATUS);
    EXPECT_EQ(header[m0 + 1], m0 + 1);  // the kept row's slack, renumbered
    if (shape == kModelSlackInThePlace) {
      EXPECT_EQ(status[1] & PS_BASIC, 0);
    }
    expect_square_basis();
    EXPECT_NEAR(maximise(), 6.8, 1e-9);
  }
}

// A cut whose coefficients are all below ZTOLDA gives an empty row and its
// element room back; under the restore rule nothing grows.
TEST_F(CutRows, EmptyCutAndNoGrowthUnderRestore) {
  const int32_t tiny = put_cut(1e-12, 1e-12, 'L', 1.0);
  const int32_t spare = spare_elems_left;
  load({tiny});
  EXPECT_EQ(cut_row_count, 1);
  EXPECT_EQ(spare_elems_left, spare);
  remove_all_cut_rows();
  EXPECT_EQ(nrow, model_rows);

  // One spare row: two cuts under the restore rule stop at the second.
  const int32_t other = put_cut(1.0, 1.0, 'L', 2.5);
  ASSERT_EQ(spare_rows_left, 1);
  status_code = STATUS_OK;
  icv(ic::IFDBG) = 0;
  const int32_t both[2] = {tiny, other};
  loadcut(-1, CUT_RULE_RESTORE, 2, both, LOAD_INTERNAL_LIST);
  icv(ic::IFDBG) = 1;
  EXPECT_EQ(error_number, MSG_NO_ROW_SPACE);
  EXPECT_EQ(cut_row_count, 1);
}

// Rows the cut manager adds straight into the LP (row type bit 0x80, their
// type in the cut-row list) move into the pool after its loop: one record
// each with the row's type, sense, right-hand side, index sum and
// coefficients per unit of the unscaled column, referenced once. A full
// pool that cannot grow stops the scan with 285 or 286 and leaves the rows
// as they were.
TEST_F(CutRows, ScanMovesCallbackRowsIntoThePool) {
  // Column scale exponents 66 and 61: a row's coefficients a, b (per unit
  // of the scaled column) are a / 4 and b x 8 per unit of the column.
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t x = store.first_col, y = store.first_col + 1;
  status[x] = static_cast<int32_t>((static_cast<uint32_t>(status[x]) & 0x00FFFFFFu) | (66u << 24));
  status[y] = static_cast<int32_t>((static_cast<uint32_t>(status[y]) & 0x00FFFFFFu) | (61u << 24));

  // Two rows made as the cut manager's export would: loaded, then taken
  // out of the pool again, the rows marked as the callback's own.
  const int32_t elements_before = search_record.pool_elements_used;
  const int32_t stored_before = search_record.stored_cut_count;
  const int32_t first = put_cut(1.5, -2.0, 'G', -3.0);
  const int32_t second = put_cut(3.0, 0.25, 'L', 7.0);
  load({first, second});
  ASSERT_EQ(cut_row_count, 2);
  x = store.first_col;  // the rows' growth moved the columns
  y = x + 1;
  const int32_t records[2] = {first, second};
  unstore_cuts(records, 2, elements_before);
  ASSERT_EQ(search_record.stored_cut_count, stored_before);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> list = int_array(ARR_CUT_ROW_LIST);
  const int32_t m0 = model_rows;
  const int32_t types[2] = {7, 9};
  for (int32_t k = 1; k <= 2; ++k) {
    row_type[m0 + k] |= static_cast<int32_t>(RF_CUT);
    list[k] = types[k - 1];
  }

  struct Failure {
    const char* what;
    int32_t message;
  };
  for (const Failure& f : {Failure{"no record", MSG_CUT_POOL_NO_RECORD_FOR_ROW},
                           Failure{"no elements", MSG_CUT_POOL_NO_ELEMENTS_FOR_ROW}}) {
    SCOPED_TRACE(f.what);
    const int32_t saved = search_record.saved_bound_count;
    const int32_t elements = icv(ic::MXCPEL);
    if (f.message == MSG_CUT_POOL_NO_RECORD_FOR_ROW)
      search_record.saved_bound_count = icv(ic::MXCPOL) - search_record.stored_cut_count;
    else
      icv(ic::MXCPEL) = search_record.pool_elements_used + 1;
    status_code = STATUS_OK;
    error_number = 0;
    captured_lines().clear();
    // A full pool grows first; only one that cannot grow stops the scan.
    fail_next_allocations(4);
    scan_cut_rows();
    fail_next_allocations(0);
    search_record.saved_bound_count = saved;
    icv(ic::MXCPEL) = elements;
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_EQ(error_number, f.message);
    EXPECT_TRUE(any_line_contains("cut manager"));
    EXPECT_EQ(search_record.stored_cut_count, stored_before);
    EXPECT_EQ(list[1], 7);
    EXPECT_NE(row_type[m0 + 1] & static_cast<int32_t>(RF_CUT), 0);
  }

  status_code = STATUS_OK;
  scan_cut_rows();
  ASSERT_EQ(status_code, STATUS_OK);
  EXPECT_EQ(search_record.stored_cut_count, stored_before + 2);
  struct Expected {
    int32_t type;
    int32_t sense;
    double rhs;
    double a, b;
  };
  const Expected expected[2] = {{7, CUT_SENSE_G, -3.0, 1.5, -2.0}, {9, CUT_SENSE_L, 7.0, 3.0, 0.25}};
  std::vector<int32_t> scanned;
  for (int32_t k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    const Expected& e = expected[k - 1];
    EXPECT_EQ(row_type[m0 + k] & static_cast<int32_t>(RF_CUT), 0);
    const int32_t r = list[k];
    ASSERT_GE(r, 1);
    ASSERT_LE(r, icv(ic::MXCPOL));
    scanned.push_back(r);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_TYPE), e.type);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_FLAGS), e.sense);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_LENGTH), 2);
    EXPECT_EQ(cut_record_field(r, CUT_FIELD_KEY), 2 + x + y);
    EXPECT_EQ(references(r), 1);
    EXPECT_EQ(real_array(ARR_CUT_RHS)[r], e.rhs);
    const int32_t at = cut_record_field(r, CUT_FIELD_FIRST);
    EXPECT_EQ(int_array(ARR_CUT_ELEM_COLUMN)[at], x);
    EXPECT_EQ(int_array(ARR_CUT_ELEM_COLUMN)[at + 1], y);
    EXPECT_DOUBLE_EQ(real_array(ARR_CUT_ELEM_VALUE)[at], e.a / 4.0);
    EXPECT_DOUBLE_EQ(real_array(ARR_CUT_ELEM_VALUE)[at + 1], e.b * 8.0);
  }
  EXPECT_NE(scanned[0], scanned[1]);

  // The records load back as the same rows.
  const std::vector<double> before(&real_array(ARR_ROW_COPY_VAL)[int_array(ARR_ROW_COPY_START)[m0 + 1]],
                                   &real_array(ARR_ROW_COPY_VAL)[int_array(ARR_ROW_COPY_START)[m0 + 3]]);
  ASSERT_EQ(before.size(), 4u);
  EXPECT_EQ(before, (std::vector<double>{1.5, -2.0, 3.0, 0.25}));
  remove_all_cut_rows();
  load(scanned);
  const std::vector<double> after(&real_array(ARR_ROW_COPY_VAL)[int_array(ARR_ROW_COPY_START)[m0 + 1]],
                                  &real_array(ARR_ROW_COPY_VAL)[int_array(ARR_ROW_COPY_START)[m0 + 3]]);
  EXPECT_EQ(before, after);
}

}  // namespace
