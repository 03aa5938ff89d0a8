// The query bodies over a problem store built by hand: five rows (E, G, L,
// N and a range row), one spare row and three columns, with row 2, row 5 and
// column 2 carrying scale factors 2, 1/2 and 1/4.
#include "problem/queries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/output_capture.h"

#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {
namespace {

constexpr double kInf = 1e20;

// Positions: rows 1..5, spare row 6, columns 7, 8, 9.
constexpr int32_t kRows = 5;
constexpr int32_t kFirstCol = 7;
constexpr int32_t kNseq = 9;

uint32_t exponent_word(int32_t k) { return static_cast<uint32_t>(k + 64) << 24; }

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_problem_store();
    status_code = 0;
    error_number = 0;
    error_value = 0;
    icv(ic::IFDBG) = 1;
    icv(ic::IFMEM) = 0;
    build_problem();
  }

  void TearDown() override {
    for (int id = 1; id <= kMaxArrayId; ++id) free_array(id, array_cells[id]);
    reset_problem_store();
    icv(ic::IFDBG) = 0;
    icv(ic::IFMEM) = 0;
    row_classes_available = 0;
    status_code = 0;
    error_number = 0;
  }

  static void ints(int id, int64_t n) { ASSERT_EQ(allocate_array(id, array_cells[id], n), 0); }
  static void reals(int id, int64_t n) { ASSERT_EQ(allocate_array(id, array_cells[id], 2 * n), 0); }

  static void set_name(int32_t p, const char* name) {
    char* slot = name_array(ARR_NAME_TABLE) + (p - 1) * 8;
    std::memset(slot, ' ', 8);
    std::memcpy(slot, name, std::strlen(name));
  }

  void build_problem() {
    nrow = kRows;
    spare_rows_left = 1;
    store.first_col = kFirstCol;
    nseq = kNseq;
    name_words = 1;
    problem_state = 1;
    problem_flags = PF_LOADED | PF_COLUMN_COPY;

    ints(ARR_ROW_TYPE, kRows + 1);
    ints(ARR_POS_STATUS, kNseq);
    ints(ARR_COL_START, kNseq + 1);
    reals(ARR_OBJECTIVE, kNseq);
    reals(ARR_RHS, kRows + 1);
    reals(ARR_LOWER, kNseq);
    reals(ARR_UPPER, kNseq);
    ints(ARR_NAME_TABLE, (kNseq + 4) * 2);
    OneBased<int32_t> type = int_array(ARR_ROW_TYPE);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> rhs = real_array(ARR_RHS);
    OneBased<double> cost = real_array(ARR_OBJECTIVE);

    // Rows: caller right-hand sides 1..5, range 5 on row 5; stored times r_i.
    const int32_t row_types[] = {ROW_E, ROW_G, ROW_L, ROW_N, ROW_L};
    const uint32_t row_status[] = {PS_EQUALITY_ROW, PS_FINITE_UPPER, PS_FINITE_LOWER, PS_FREE, PS_BOTH_FINITE};
    const double row_lower[] = {0, -kInf, 0, -kInf, 0};
    const double row_upper[] = {0, 0, kInf, kInf, 5 * 0.5};
    const int32_t row_exponent[] = {0, 1, 0, 0, -1};
    for (int32_t i = 1; i <= kRows; ++i) {
      type[i] = row_types[i - 1];
      status[i] = static_cast<int32_t>(row_status[i - 1] | PS_BASIC | exponent_word(row_exponent[i - 1]));
      lower[i] = row_lower[i - 1];
      upper[i] = row_upper[i - 1];
    }
    const double stored_rhs[] = {1, 2 * 2, 3, 4, 5 * 0.5};
    for (int32_t i = 1; i <= kRows; ++i) rhs[i] = stored_rhs[i - 1];
    status[6] = PS_FIXED;

    // Columns: caller bounds [-inf, 4], [-8, +inf], [-3, 7]; costs 10, 20, 30.
    // Column 8 has factor 1/4; column 9 has no exponent byte (reads as 64).
    status[7] = static_cast<int32_t>(PS_FINITE_UPPER | PS_INTEGER | exponent_word(0));
    lower[7] = -kInf;
    upper[7] = 4;
    cost[7] = 10;
    status[8] = static_cast<int32_t>(PS_FINITE_LOWER | exponent_word(-2));
    lower[8] = -8 / 0.25;
    upper[8] = kInf;
    cost[8] = 20 * 0.25;
    status[9] = static_cast<int32_t>(PS_BOTH_FINITE | PS_BINARY);
    lower[9] = -3;
    upper[9] = 7;
    cost[9] = 30;

    // Caller matrix: column 1 (r1 1, r3 2), column 2 (r2 3, r5 4, r1 5),
    // column 3 (r4 6); stored as a r_i c_j.
    const int32_t rows[] = {1, 3, 2, 5, 1, 4};
    const double values[] = {1, 2, 3 * 2 * 0.25, 4 * 0.5 * 0.25, 5 * 0.25, 6};
    ints(ARR_ELEM_ROW, 6);
    reals(ARR_ELEM_VALUE, 6);
    for (int k = 1; k <= 6; ++k) {
      int_array(ARR_ELEM_ROW)[k] = rows[k - 1];
      real_array(ARR_ELEM_VALUE)[k] = values[k - 1];
    }
    OneBased<int32_t> start = int_array(ARR_COL_START);
    start[7] = 1;
    start[8] = 3;
    start[9] = 6;
    start[10] = 7;
    nelem = 6;

    const char* names[] = {"R1", "R12", "ROW3", "N4", "RNG5", "VVVVVVV6", "X", "Y", "R1"};
    for (int32_t p = 1; p <= kNseq; ++p) set_name(p, names[p - 1]);
  }

  // The row-wise copy of the stored matrix, marked valid.
  static void build_row_copy_by_hand() {
    ints(ARR_ROW_COPY_START, kRows + 1);
    ints(ARR_ROW_COPY_COL, 6);
    reals(ARR_ROW_COPY_VAL, 6);
    const int32_t starts[] = {1, 3, 4, 5, 6, 7};
    const int32_t cols[] = {7, 8, 8, 7, 9, 8};
    const double values[] = {1, 5 * 0.25, 3 * 2 * 0.25, 2, 6, 4 * 0.5 * 0.25};
    for (int k = 1; k <= 6; ++k) {
      int_array(ARR_ROW_COPY_START)[k] = starts[k - 1];
      int_array(ARR_ROW_COPY_COL)[k] = cols[k - 1];
      real_array(ARR_ROW_COPY_VAL)[k] = values[k - 1];
    }
    problem_flags |= PF_ROW_COPY | PF_WORK_ARRAYS;
  }

  static void expect_error(int32_t number, int32_t value) {
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_EQ(error_number, number);
    EXPECT_EQ(error_value, value);
  }
};

using ValueBody = void (*)(double*, int32_t, int32_t, int32_t);

struct ValueCase {
  const char* name;
  ValueBody body;
  int32_t count;
  std::vector<double> caller;
  std::vector<double> stored;
};

const ValueCase kValueCases[] = {
    {"obj", getobj, 3, {10, 20, 30}, {10, 5, 30}},
    {"rhs", getrhs, 5, {1, 2, 3, 4, 5}, {1, 4, 3, 4, 2.5}},
    {"rng", getrng, 5, {0, kInf, kInf, kInf, 5}, {0, kInf, kInf, kInf, 2.5}},
    {"bdl", getbdl, 3, {-kInf, -8, -3}, {-kInf, -32, -3}},
    {"bdu", getbdu, 3, {4, kInf, 7}, {4, kInf, 7}},
};

TEST_F(QueriesTest, ValueGettersGiveTheCallersValuesInEitherIndexBase) {
  for (const ValueCase& c : kValueCases) {
    for (int32_t base : {1, 0}) {
      icv(ic::IFDBG) = base;
      std::vector<double> out(static_cast<std::size_t>(c.count), -1);
      c.body(out.data(), 1 - base, c.count - base, QUERY_CALLER_FORM);
      EXPECT_EQ(status_code, 0) << c.name;
      EXPECT_EQ(out, c.caller) << c.name << " IFDBG " << base;
      c.body(out.data(), 1 - base, c.count - base, QUERY_STORED_FORM);
      EXPECT_EQ(out, c.stored) << c.name << " stored, IFDBG " << base;
    }
  }
}

TEST_F(QueriesTest, ValueGettersReadOnlyTheRangeAsked) {
  double out[3] = {-1, -1, -1};
  getobj(out, 1, 1, QUERY_CALLER_FORM);  // the middle column, counted from 0
  EXPECT_EQ(out[0], 20);
  EXPECT_EQ(out[1], -1);
  getrhs(out, 4, 4, QUERY_CALLER_FORM);
  EXPECT_EQ(out[0], 5);
}

struct BadRange {
  ValueBody body;
  bool rows;
  int32_t first;
  int32_t last;
  int32_t error_value;  // -99: no error, nothing written
};

TEST_F(QueriesTest, RangesOutsideTheRowsOrColumnsAreRefusedWithTheCallersIndex) {
  const BadRange cases[] = {
      {getobj, false, -1, 0, -1}, {getobj, false, 0, 3, 3},   {getobj, false, 3, 3, 3},
      {getbdl, false, 2, 5, 5},   {getbdu, false, -4, -2, -4}, {getrhs, true, -1, 2, -1},
      {getrhs, true, 0, 5, 5},    {getrng, true, 5, 5, 5},     {getobj, false, 2, 1, -99},
      {getrhs, true, 9, 3, -99},  {getrng, true, 0, -1, -99},  {getobj, false, INT32_MAX, INT32_MAX, INT32_MAX},
  };
  for (const BadRange& c : cases) {
    for (int32_t mode : {QUERY_CALLER_FORM, QUERY_STORED_FORM}) {
      double out[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
      error_value = -99;
      c.body(out, c.first, c.last, mode);
      if (c.error_value == -99) {
        EXPECT_EQ(status_code, 0) << c.first << ".." << c.last;
      } else {
        expect_error(c.rows ? MSG_ROW_RANGE_INVALID : MSG_COLUMN_RANGE_INVALID, c.error_value);
      }
      EXPECT_EQ(out[0], -1) << "nothing written for " << c.first << ".." << c.last;
    }
  }
}

TEST_F(QueriesTest, EveryGetterWithoutAProblemReportsMessage91) {
  problem_state = 0;
  double values[8] = {};
  int32_t ints_out[8] = {};
  int32_t count = -5;
  const std::vector<void (*)()> calls = {
      [] { double v[3]; getobj(v, 0, 0, 0); },
      [] { double v[3]; getrhs(v, 0, 0, 1); },
      [] { double v[3]; getrng(v, 0, 0, 0); },
      [] { double v[3]; getbdl(v, 0, 0, 0); },
      [] { double v[3]; getbdu(v, 0, 0, 1); },
      [] { char t[3]; getrowtype(t, 0, 0); },
      [] { char t[3]; getcoltype(t, 0, 0); },
      [] { char t[32]; getnames(1, t, 0, 0); },
      [] { int32_t i; find_name_index(1, "R1", &i); },
      [] { int32_t n, s; get_global_types(&n, &s, nullptr, nullptr); },
      [] { int32_t c[8]; get_row_class(c); },
      [] { prevecs(0, 0, nullptr, nullptr); },
  };
  for (std::size_t k = 0; k < calls.size(); ++k) {
    status_code = 0;
    calls[k]();
    EXPECT_EQ(status_code, STATUS_REPORTED) << "call " << k;
  }
  getcols(ints_out, ints_out, values, 8, &count, 0, 0, 0);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_EQ(count, -5);
  getrows(ints_out, ints_out, values, 8, &count, 0, 0, 0);
  EXPECT_EQ(status_code, STATUS_REPORTED);
}

TEST_F(QueriesTest, ColumnsComeBackUnscaledWithStartsInTheCallersBase) {
  int32_t starts[4] = {};
  int32_t rows[6] = {};
  double values[6] = {};
  int32_t count = 0;
  getcols(starts, rows, values, 6, &count, 0, 2, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(std::vector<int32_t>(starts, starts + 4), (std::vector<int32_t>{0, 2, 5, 6}));
  EXPECT_EQ(std::vector<int32_t>(rows, rows + 6), (std::vector<int32_t>{0, 2, 1, 4, 0, 3}));
  EXPECT_EQ(std::vector<double>(values, values + 6), (std::vector<double>{1, 2, 3, 4, 5, 6}));

  getcols(starts, rows, values, 6, &count, 1, 1, QUERY_STORED_FORM);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{1.5, 0.5, 1.25}));

  icv(ic::IFDBG) = 0;
  getcols(starts, rows, values, 6, &count, 3, 3, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(starts[0], 1);
  EXPECT_EQ(starts[1], 2);
  EXPECT_EQ(rows[0], 4);
}

TEST_F(QueriesTest, ColumnGetterWithLittleRoomKeepsTheStartsWrittenSoFar) {
  int32_t starts[4] = {-7, -7, -7, -7};
  int32_t rows[6] = {-7, -7, -7, -7, -7, -7};
  double values[6] = {};
  int32_t count = 0;
  getcols(starts, rows, values, 0, &count, 0, 2, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(starts[0], -7);

  getcols(starts, rows, values, 3, &count, 0, 2, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(std::vector<int32_t>(starts, starts + 4), (std::vector<int32_t>{0, 2, -7, -7}));
  EXPECT_EQ(std::vector<int32_t>(rows, rows + 4), (std::vector<int32_t>{0, 2, 1, -7}));

  // Exactly enough room: every start, the last one included.
  getcols(starts, rows, values, 2, &count, 0, 0, QUERY_CALLER_FORM);
  EXPECT_EQ(std::vector<int32_t>(starts, starts + 2), (std::vector<int32_t>{0, 2}));

  starts[0] = -7;
  getcols(starts, rows, values, 6, &count, 2, 1, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(starts[0], 0);
}

TEST_F(QueriesTest, RowsComeFromTheRowCopyUnscaled) {
  build_row_copy_by_hand();
  int32_t starts[6] = {};
  int32_t cols[6] = {};
  double values[6] = {};
  int32_t count = 0;
  getrows(starts, cols, values, 6, &count, 0, 4, QUERY_CALLER_FORM);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(std::vector<int32_t>(starts, starts + 6), (std::vector<int32_t>{0, 2, 3, 4, 5, 6}));
  EXPECT_EQ(std::vector<int32_t>(cols, cols + 6), (std::vector<int32_t>{0, 1, 1, 0, 2, 1}));
  EXPECT_EQ(std::vector<double>(values, values + 6), (std::vector<double>{1, 5, 3, 2, 6, 4}));
  getrows(starts, cols, values, 6, &count, 1, 1, QUERY_STORED_FORM);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(values[0], 1.5);
}

TEST_F(QueriesTest, TypeLettersOfRowsAndColumns) {
  char rows[5] = {};
  getrowtype(rows, 0, 4);
  EXPECT_EQ(std::string(rows, 5), "EGLNR");
  char cols[3] = {};
  getcoltype(cols, 0, 2);
  EXPECT_EQ(std::string(cols, 3), "ICB");

  const std::pair<uint32_t, char> kinds[] = {{PS_INTEGER | PS_SEMICONTINUOUS, 'I'},
                                              {PS_SEMICONTINUOUS, 'S'},
                                              {PS_PARTIAL_INTEGER, 'P'},
                                              {PS_BINARY | PS_SEMICONTINUOUS, 'B'},
                                              {PS_FREE, 'C'}};
  for (const auto& [bits, letter] : kinds) {
    int_array(ARR_POS_STATUS)[8] = static_cast<int32_t>(bits);
    getcoltype(cols, 1, 1);
    EXPECT_EQ(cols[0], letter);
  }
}

TEST_F(QueriesTest, NamesAreFullSlotsEachEndedByANul) {
  char text[27] = {};
  getnames(1, text, 0, 2);
  EXPECT_EQ(std::string(text, 27), std::string("R1      \0R12     \0ROW3    \0", 27));
  getnames(2, text, 2, 2);
  EXPECT_EQ(std::string(text, 9), std::string("R1      \0", 9));
  getnames(2, text, 3, 3);
  expect_error(MSG_COLUMN_RANGE_INVALID, 3);
  getnames(1, text, 5, 5);  // the spare row is no row
  expect_error(MSG_ROW_RANGE_INVALID, 5);
}

TEST_F(QueriesTest, IndexOfANameTellsRowsFromColumnsAndR1FromR12) {
  const struct {
    int32_t type;
    const char* name;
    int32_t index;
  } cases[] = {{1, "R1", 0}, {1, "R12", 1}, {1, "RNG5", 4}, {2, "R1", 2},         {2, "Y", 1},
               {1, "X", -1}, {1, "R", -1},  {1, "R1 ", 0},  {2, "R1234567890", -1}, {1, "VVVVVVV6", -1}};
  for (const auto& c : cases) {
    int32_t index = -5;
    find_name_index(c.type, c.name, &index);
    EXPECT_EQ(index, c.index) << c.type << " " << c.name;
    EXPECT_EQ(status_code, c.index < 0 ? STATUS_REPORTED : 0) << c.name;
  }
  icv(ic::IFDBG) = 0;
  int32_t index = 0;
  find_name_index(2, "X", &index);
  EXPECT_EQ(index, 1);
}

TEST_F(QueriesTest, PresolvedProblemNamesItsRowsByTheOriginalPositions) {
  // Presolve kept rows 2 and 5 as rows 1 and 2, and columns 8 and 9 as
  // positions 3 and 4 (first_col 3).
  original_problem.nrow = kRows;
  original_problem.first_col = kFirstCol;
  original_problem.nseq = kNseq;
  problem_flags |= PF_PRESOLVED_LP;
  nrow = 2;
  spare_rows_left = 0;
  store.first_col = 3;
  nseq = 4;
  ints(ARR_POSITION_MAP, 4);
  const int32_t map[] = {2, 5, 8, 9};
  for (int k = 1; k <= 4; ++k) int_array(ARR_POSITION_MAP)[k] = map[k - 1];

  char text[18] = {};
  getnames(1, text, 0, 1);
  EXPECT_EQ(std::string(text, 18), std::string("R12     \0RNG5    \0", 18));
  int32_t index = -5;
  find_name_index(2, "R1", &index);  // the column now at position 4
  EXPECT_EQ(index, 1);
  find_name_index(1, "ROW3", &index);  // removed by presolve
  EXPECT_EQ(index, -1);
  EXPECT_EQ(status_code, STATUS_REPORTED);

  icv(ic::IFMEM) = 0x10;  // the caller speaks of the original problem
  getnames(1, text, 2, 3);
  EXPECT_EQ(std::string(text, 18), std::string("ROW3    \0N4      \0", 18));

  std::vector<int32_t> positions(4, 0);
  get_position_map(positions.data());
  EXPECT_EQ(positions, (std::vector<int32_t>{2, 5, 8, 9}));
}

TEST_F(QueriesTest, PositionMapOfAProblemNotPresolvedIsTheIdentity) {
  std::vector<int32_t> positions(kNseq, 0);
  get_position_map(positions.data());
  EXPECT_EQ(positions, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(QueriesTest, ProtectionMarksReplaceTheWholeSet) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[3] |= PS_PROTECTED;
  const int32_t rows[] = {0, 4};
  const int32_t cols[] = {2};
  prevecs(2, 1, rows, cols);
  EXPECT_EQ(status_code, 0);
  for (int32_t p = 1; p <= kNseq; ++p) {
    const bool marked = (static_cast<uint32_t>(status[p]) & PS_PROTECTED) != 0;
    EXPECT_EQ(marked, p == 1 || p == 5 || p == 9) << "position " << p;
  }
  EXPECT_EQ(static_cast<uint32_t>(status[8]) >> 24, 62u);  // the exponent byte is kept

  const int32_t bad_rows[] = {0, 1, 5};
  prevecs(3, 0, bad_rows, nullptr);
  expect_error(MSG_ROW_INDEX_INVALID, 3 - 1);
  EXPECT_NE(static_cast<uint32_t>(status[1]) & PS_PROTECTED, 0u);  // nothing changed
  const int32_t bad_cols[] = {-1};
  prevecs(0, 1, nullptr, bad_cols);
  expect_error(MSG_COLUMN_INDEX_INVALID, 1 - 1);

  prevecs(0, 0, nullptr, nullptr);
  for (int32_t p = 1; p <= kNseq; ++p) EXPECT_EQ(static_cast<uint32_t>(status[p]) & PS_PROTECTED, 0u);
}

TEST_F(QueriesTest, QuadraticCoefficientFromTheUpperListOfTheSmallerColumn) {
  double value = -1;
  get_qobj(99, -99, &value);  // no quadratic objective: no check at all
  EXPECT_EQ(value, 0);
  EXPECT_EQ(status_code, 0);

  // Entries (7,7) 2 and (7,9) 3 with the mirror (9,7).
  ints(ARR_QUAD_UPPER_START, kNseq + 1);
  ints(ARR_QUAD_INDEX, 3);
  reals(ARR_QUAD_VALUES, 3);
  OneBased<int32_t> start = int_array(ARR_QUAD_UPPER_START);
  start[7] = 1;
  start[8] = 3;
  start[9] = 3;
  start[10] = 3;
  int_array(ARR_QUAD_INDEX)[1] = 7;
  int_array(ARR_QUAD_INDEX)[2] = 9;
  int_array(ARR_QUAD_INDEX)[3] = 7;
  real_array(ARR_QUAD_VALUES)[1] = 2;
  real_array(ARR_QUAD_VALUES)[2] = 3;
  real_array(ARR_QUAD_VALUES)[3] = 3;
  nqelem = 3;
  get_qobj(2, 0, &value);
  EXPECT_EQ(value, 3);
  get_qobj(0, 0, &value);
  EXPECT_EQ(value, 2);
  get_qobj(1, 1, &value);
  EXPECT_EQ(value, 0);
  get_qobj(0, 3, &value);
  expect_error(MSG_QOBJ_BAD_COLUMN, 3);
}

TEST_F(QueriesTest, RowClassesOnlyAfterThePreprocessing) {
  int32_t classes[kRows] = {};
  get_row_class(classes);
  EXPECT_EQ(status_code, STATUS_FILE_ERROR);
  row_classes_available = 1;
  int_array(ARR_ROW_TYPE)[2] |= static_cast<int32_t>(RF_MODEL_CUT | RF_CUT | 0x80000 | 0x400);
  get_row_class(classes);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(classes[1], (0x80000 | 0x400) >> 10);
  EXPECT_EQ(classes[0], 0);
}

TEST_F(QueriesTest, GlobalEntitiesAndSetsInStoredOrder) {
  // One set of type 2 over columns 7 and 8, then entity columns 9 (integer
  // carrying the binary bit), 8 (semi-continuous, limit 6) and 7 (partial
  // integer, limit 3).
  nsets = 1;
  nsosm = 2;
  nglent = 4;
  ints(ARR_ENTITY_TYPE, 4);
  ints(ARR_ENTITY_COLUMN, 4);
  reals(ARR_SEMICONT_LIMIT, 4);
  ints(ARR_SET_START, 2);
  ints(ARR_SET_MEMBER_COLUMN, 2);
  reals(ARR_SET_MEMBER_REF, 2);
  const int32_t types[] = {ENT_SET2, ENT_INTEGER, ENT_SEMICONTINUOUS, 3 * 16 + ENT_PARTIAL_INTEGER};
  const int32_t columns[] = {1, 9, 8, 7};
  for (int e = 1; e <= 4; ++e) {
    int_array(ARR_ENTITY_TYPE)[e] = types[e - 1];
    int_array(ARR_ENTITY_COLUMN)[e] = columns[e - 1];
  }
  real_array(ARR_SEMICONT_LIMIT)[3] = 6 / 0.25;  // stored divided by column 8's factor
  int_array(ARR_SET_START)[1] = 0;
  int_array(ARR_SET_START)[2] = 2;
  int_array(ARR_SET_MEMBER_COLUMN)[1] = 7;
  int_array(ARR_SET_MEMBER_COLUMN)[2] = 8;
  real_array(ARR_SET_MEMBER_REF)[1] = 1;
  real_array(ARR_SET_MEMBER_REF)[2] = 2 * 0.25;  // stored times column 8's factor

  int32_t entities = 0, sets = 0;
  char letters[3] = {};
  char set_types[1] = {};
  get_global_types(&entities, &sets, letters, set_types);
  EXPECT_EQ(entities, 3);
  EXPECT_EQ(sets, 1);
  EXPECT_EQ(std::string(letters, 3), "BSP");
  EXPECT_EQ(set_types[0], '2');

  int32_t entity_columns[3] = {}, set_starts[2] = {}, members[2] = {};
  double limits[3] = {}, refs[2] = {};
  get_global_arrays(entity_columns, limits, set_starts, members, refs);
  EXPECT_EQ(std::vector<int32_t>(entity_columns, entity_columns + 3), (std::vector<int32_t>{2, 1, 0}));
  EXPECT_EQ(std::vector<double>(limits, limits + 3), (std::vector<double>{0, 6, 3}));
  EXPECT_EQ(std::vector<int32_t>(set_starts, set_starts + 2), (std::vector<int32_t>{0, 2}));
  EXPECT_EQ(std::vector<int32_t>(members, members + 2), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(std::vector<double>(refs, refs + 2), (std::vector<double>{1, 2}));
  // Every output may be left out.
  get_global_types(nullptr, nullptr, nullptr, nullptr);
  get_global_arrays(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(status_code, 0);
}

TEST_F(QueriesTest, NullOutputArraysAreRefusedNotWrittenThrough) {
  getobj(nullptr, 0, 2, QUERY_CALLER_FORM);
  expect_error(MSG_NULL_ARGUMENT, 1);
  int32_t count = 0;
  getcols(nullptr, nullptr, nullptr, 0, &count, 0, 2, QUERY_CALLER_FORM);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(count, 6);
  getcols(nullptr, nullptr, nullptr, 4, &count, 0, 2, QUERY_CALLER_FORM);
  expect_error(MSG_NULL_ARGUMENT, 1);
  find_name_index(1, nullptr, &count);
  expect_error(MSG_NULL_ARGUMENT, 2);
}

// Through the exports: a problem loaded with KLLOADPROB, whose matrix spans
// enough magnitudes for scaling to give its rows and columns factors.
class QueryExportsTest : public ::testing::Test {
 protected:
  static constexpr int32_t kCols = 3;
  static constexpr int32_t kRowCount = 5;
  static inline const std::vector<int32_t> kStarts = {0, 3, 6, 8};
  static inline const std::vector<int32_t> kElemRows = {0, 2, 4, 1, 3, 0, 2, 4};
  static inline const std::vector<double> kElemValues = {1000, 0.5, 3, 0.001, 7, 2, 64, 0.25};
  static inline const std::vector<double> kCost = {1, 2, 3};
  static inline const std::vector<double> kRhs = {1, 2, 3, 4, 5};
  static inline const std::vector<double> kLower = {0, -kInf, -5e19};
  static inline const std::vector<double> kUpper = {4, kInf, 10};

  void SetUp() override {
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    // Start-up drops the plain output entry, so it is defined afterwards.
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }

  static void load(int32_t ifscal) {
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, ifscal), 0);
    const double ranges[] = {0, 0, 0, 0, -5};
    ASSERT_EQ(KLLOADPROB("queries", kCols, kRowCount, "EGLNR", kRhs.data(), ranges, kCost.data(), kStarts.data(),
                         nullptr, kElemRows.data(), kElemValues.data(), kLower.data(), kUpper.data()),
              0);
    kltest::captured_lines().clear();
  }

  using Getter = int32_t (*)(double*, int32_t, int32_t);
  static std::vector<double> values_of(Getter getter, int32_t count, int32_t base) {
    std::vector<double> out(static_cast<std::size_t>(count), -7);
    EXPECT_EQ(getter(out.data(), 1 - base, count - base), 0);
    return out;
  }

  struct Matrix {
    std::vector<int32_t> starts, indices;
    std::vector<double> values;
  };
  using MatrixGetter = int32_t (*)(int32_t*, int32_t*, double*, int32_t, int32_t*, int32_t, int32_t);
  static Matrix matrix_of(MatrixGetter getter, int32_t count, int32_t base) {
    Matrix m{std::vector<int32_t>(static_cast<std::size_t>(count) + 1), std::vector<int32_t>(8),
             std::vector<double>(8)};
    int32_t elements = 0;
    EXPECT_EQ(getter(m.starts.data(), m.indices.data(), m.values.data(), 8, &elements, 1 - base, count - base), 0);
    EXPECT_EQ(elements, 8);
    return m;
  }

  // stored / plain is 2^k (both zero, or both the same infinity, also pass).
  static void expect_power_of_two_apart(double plain, double stored, const std::string& what) {
    if (plain == stored) return;
    ASSERT_NE(plain, 0) << what;
    int exponent = 0;
    EXPECT_EQ(std::fabs(std::frexp(stored / plain, &exponent)), 0.5) << what << ": " << plain << " vs " << stored;
  }
};

TEST_F(QueryExportsTest, GettersGiveBackTheLoadedValuesInEitherIndexBase) {
  load(35);
  for (int32_t base : {1, 0}) {
    ASSERT_EQ(KLSETICV(KLIC_IFDBG, base), 0);
    SCOPED_TRACE("IFDBG " + std::to_string(base));
    EXPECT_EQ(values_of(KLGETOBJ, kCols, base), kCost);
    EXPECT_EQ(values_of(KLGETRHS, kRowCount, base), kRhs);
    EXPECT_EQ(values_of(KLGETRNG, kRowCount, base), (std::vector<double>{0, kInf, kInf, kInf, 5}));
    EXPECT_EQ(values_of(KLGETBDL, kCols, base), (std::vector<double>{0, -kInf, -kInf}));
    EXPECT_EQ(values_of(KLGETBDU, kCols, base), kUpper);

    const Matrix cols = matrix_of(KLGETCOLS, kCols, base);
    std::vector<int32_t> starts = kStarts;
    std::vector<int32_t> rows = kElemRows;
    for (int32_t& k : starts) k += 1 - base;
    for (int32_t& r : rows) r += 1 - base;
    EXPECT_EQ(cols.starts, starts);
    EXPECT_EQ(cols.indices, rows);
    EXPECT_EQ(cols.values, kElemValues);

    const Matrix by_rows = matrix_of(KLGETROWS, kRowCount, base);
    std::vector<int32_t> row_starts = {0, 2, 3, 5, 6, 8};
    std::vector<int32_t> columns = {0, 1, 1, 0, 2, 1, 0, 2};
    for (int32_t& k : row_starts) k += 1 - base;
    for (int32_t& c : columns) c += 1 - base;
    EXPECT_EQ(by_rows.starts, row_starts);
    EXPECT_EQ(by_rows.indices, columns);
    EXPECT_EQ(by_rows.values, (std::vector<double>{1000, 2, 0.001, 0.5, 64, 7, 3, 0.25}));

    char types[6] = {};
    EXPECT_EQ(KLGETROWTYPE(types, 1 - base, kRowCount - base), 0);
    EXPECT_EQ(std::string(types, 5), "EGLNR");
    EXPECT_EQ(KLGETCOLTYPE(types, 1 - base, kCols - base), 0);
    EXPECT_EQ(std::string(types, 3), "CCC");
  }
}

TEST_F(QueryExportsTest, StoredFormDiffersFromTheCallersOnlyByPowersOfTwo) {
  for (int32_t ifscal : {35, 0}) {
    load(ifscal);
    SCOPED_TRACE("IFSCAL " + std::to_string(ifscal));
    const std::pair<Getter, Getter> pairs[] = {{KLGETOBJ, KLIGETOBJ}, {KLGETBDL, KLIGETBDL}, {KLGETBDU, KLIGETBDU},
                                               {KLGETRHS, KLIGETRHS}, {KLGETRNG, KLIGETRNG}};
    const int32_t counts[] = {kCols, kCols, kCols, kRowCount, kRowCount};
    for (int k = 0; k < 5; ++k) {
      const std::vector<double> plain = values_of(pairs[k].first, counts[k], 1);
      const std::vector<double> stored = values_of(pairs[k].second, counts[k], 1);
      for (std::size_t j = 0; j < plain.size(); ++j)
        expect_power_of_two_apart(plain[j], stored[j], "getter " + std::to_string(k) + " entry " + std::to_string(j));
    }
    const struct {
      MatrixGetter plain_getter, stored_getter;
      int32_t count;
    } matrix_pairs[] = {{KLGETCOLS, KLIGETCOLS, kCols}, {KLGETROWS, KLIGETROWS, kRowCount}};
    for (const auto& [plain_getter, stored_getter, count] : matrix_pairs) {
      const Matrix plain = matrix_of(plain_getter, count, 1);
      const Matrix stored = matrix_of(stored_getter, count, 1);
      EXPECT_EQ(plain.starts, stored.starts);
      EXPECT_EQ(plain.indices, stored.indices);
      int32_t scaled = 0;
      for (std::size_t j = 0; j < plain.values.size(); ++j) {
        expect_power_of_two_apart(plain.values[j], stored.values[j], "element " + std::to_string(j));
        if (plain.values[j] != stored.values[j]) ++scaled;
      }
      // The default method scales this matrix; without scaling nothing moves.
      if (ifscal == 0) {
        EXPECT_EQ(scaled, 0);
      } else {
        EXPECT_GT(scaled, 0);
      }
    }
  }
}

TEST_F(QueryExportsTest, NamesAndIndicesRoundTrip) {
  load(35);
  for (int32_t type : {1, 2}) {
    const int32_t count = type == 1 ? kRowCount : kCols;
    std::vector<char> text(static_cast<std::size_t>(count) * 9);
    ASSERT_EQ(KLGETNAMES(type, text.data(), 0, count - 1), 0);
    for (int32_t k = 0; k < count; ++k) {
      const char* name = text.data() + k * 9;
      EXPECT_EQ(name[8], '\0');
      int32_t index = -5;
      EXPECT_EQ(KLGETINDEX(type, name, &index), 0) << name;
      EXPECT_EQ(index, k) << name;
    }
  }
  char first[9] = {};
  ASSERT_EQ(KLGETNAMES(2, first, 0, 0), 0);
  EXPECT_STREQ(first, "VVVVVVV6");

  // R1 must not be taken for R12, nor a row for a column of the same name.
  std::memcpy(array_cells[ARR_NAME_TABLE], "R12     R1      ", 16);
  std::memcpy(name_array(ARR_NAME_TABLE) + 5 * 8, "R1      ", 8);
  int32_t index = -5;
  EXPECT_EQ(KLGETINDEX(1, "R1", &index), 0);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(KLGETINDEX(1, "R12", &index), 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(KLGETINDEX(2, "R1", &index), 0);
  EXPECT_EQ(index, 0);
  ASSERT_EQ(KLSETICV(KLIC_IFDBG, 0), 0);
  EXPECT_EQ(KLGETINDEX(1, "R1", &index), 0);
  EXPECT_EQ(index, 2);
  char two[18] = {};
  ASSERT_EQ(KLGETNAMES(1, two, 1, 2), 0);
  EXPECT_EQ(std::string(two, 18), std::string("R12     \0R1      \0", 18));
  EXPECT_EQ(KLGETINDEX(2, "R12", &index), KL_STATUS_REPORTED);
  EXPECT_EQ(index, -1);
  EXPECT_TRUE(kltest::any_line_contains("R12"));
}

TEST_F(QueryExportsTest, BadRangesAreReportedWithTheRoutineName) {
  load(35);
  using Call = std::function<int32_t(int32_t, int32_t)>;
  double v[8];
  int32_t s[8], ix[8], n = 0;
  char t[80];
  const struct {
    const char* routine;
    Call call;
    bool rows;
  } getters[] = {
      {"getobj", [&](int32_t f, int32_t l) { return KLGETOBJ(v, f, l); }, false},
      {"getrhs", [&](int32_t f, int32_t l) { return KLGETRHS(v, f, l); }, true},
      {"getrng", [&](int32_t f, int32_t l) { return KLGETRNG(v, f, l); }, true},
      {"getbdl", [&](int32_t f, int32_t l) { return KLGETBDL(v, f, l); }, false},
      {"getbdu", [&](int32_t f, int32_t l) { return KLGETBDU(v, f, l); }, false},
      {"igetobj", [&](int32_t f, int32_t l) { return KLIGETOBJ(v, f, l); }, false},
      {"igetrhs", [&](int32_t f, int32_t l) { return KLIGETRHS(v, f, l); }, true},
      {"igetrng", [&](int32_t f, int32_t l) { return KLIGETRNG(v, f, l); }, true},
      {"igetbdl", [&](int32_t f, int32_t l) { return KLIGETBDL(v, f, l); }, false},
      {"igetbdu", [&](int32_t f, int32_t l) { return KLIGETBDU(v, f, l); }, false},
      {"getcols", [&](int32_t f, int32_t l) { return KLGETCOLS(s, ix, v, 8, &n, f, l); }, false},
      {"igetcols", [&](int32_t f, int32_t l) { return KLIGETCOLS(s, ix, v, 8, &n, f, l); }, false},
      {"getrows", [&](int32_t f, int32_t l) { return KLGETROWS(s, ix, v, 8, &n, f, l); }, true},
      {"igetrows", [&](int32_t f, int32_t l) { return KLIGETROWS(s, ix, v, 8, &n, f, l); }, true},
      {"getrowtype", [&](int32_t f, int32_t l) { return KLGETROWTYPE(t, f, l); }, true},
      {"getcoltype", [&](int32_t f, int32_t l) { return KLGETCOLTYPE(t, f, l); }, false},
      {"getnames", [&](int32_t f, int32_t l) { return KLGETNAMES(1, t, f, l); }, true},
      {"getnames", [&](int32_t f, int32_t l) { return KLGETNAMES(2, t, f, l); }, false},
  };
  // (first, last, the offending index or -99 for a valid range), for rows
  // 0..4 and columns 0..2.
  const struct {
    int32_t first, last, rows_error, cols_error;
  } ranges[] = {{-1, 0, -1, -1}, {0, 5, 5, 5}, {2, 3, -99, 3}, {4, 4, -99, 4}, {6, 9, 9, 9},
                {1, 0, -99, -99}, {5, -3, -99, -99}, {0, 2, -99, -99}};
  for (const auto& g : getters) {
    for (const auto& r : ranges) {
      kltest::captured_lines().clear();
      const int32_t expected = g.rows ? r.rows_error : r.cols_error;
      const int32_t result = g.call(r.first, r.last);
      if (expected == -99) {
        EXPECT_EQ(result, 0) << g.routine << " " << r.first << ".." << r.last;
        continue;
      }
      EXPECT_EQ(result, KL_STATUS_REPORTED) << g.routine << " " << r.first << ".." << r.last;
      EXPECT_EQ(error_number, g.rows ? 406 : 407) << g.routine;
      EXPECT_EQ(error_value, expected) << g.routine << " " << r.first << ".." << r.last;
      EXPECT_TRUE(kltest::any_line_contains(std::string("Error in ") + g.routine)) << g.routine;
    }
  }
}

TEST_F(QueryExportsTest, WithoutAProblemEveryGetterGives91) {
  double v[4];
  int32_t s[4], ix[4], n = 0;
  char t[32];
  const std::function<int32_t()> calls[] = {
      [&] { return KLGETOBJ(v, 0, 0); },      [&] { return KLIGETRHS(v, 0, 0); },
      [&] { return KLGETRNG(v, 0, 0); },      [&] { return KLGETBDL(v, 0, 0); },
      [&] { return KLIGETBDU(v, 0, 0); },     [&] { return KLGETCOLS(s, ix, v, 4, &n, 0, 0); },
      [&] { return KLIGETROWS(s, ix, v, 4, &n, 0, 0); },
      [&] { return KLGETROWTYPE(t, 0, 0); },  [&] { return KLGETCOLTYPE(t, 0, 0); },
      [&] { return KLGETNAMES(1, t, 0, 0); }, [&] { return KLGETINDEX(1, "R1", &n); },
      [&] {
        return KLGETGLOBAL(&n, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      },
      [&] { return KLGETRCLASS(s); },         [&] { return KLSETPFLAG(0, 0, nullptr, nullptr); },
  };
  for (std::size_t k = 0; k < std::size(calls); ++k) {
    kltest::captured_lines().clear();
    EXPECT_EQ(calls[k](), KL_STATUS_REPORTED) << "call " << k;
    EXPECT_EQ(error_number, 91) << "call " << k;
    EXPECT_TRUE(kltest::any_line_contains("No problem")) << "call " << k;
  }
  double q = -1;
  EXPECT_EQ(KLGETQOBJ(0, 0, &q), 0);
  EXPECT_EQ(q, 0);
  EXPECT_EQ(KLGETMAP(s), 0);
}

TEST_F(QueryExportsTest, MapOfAProblemNotPresolvedIsTheIdentity) {
  load(35);
  std::vector<int32_t> map(9, -1);
  EXPECT_EQ(KLGETMAP(map.data()), 0);
  EXPECT_EQ(map, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, -1}));
}

}  // namespace
}  // namespace kl
