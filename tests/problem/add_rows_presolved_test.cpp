// Rows in original columns added to a presolved problem (KLADDROWS_PRE).
// The fixture presolves by hand: it loads the reduced problem, keeps its
// arrays, loads the original problem, and installs the reduced arrays as the
// current ones with the original ones saved, a position map and the records
// of the reductions, as presolve leaves them.
//
// Original problem (no scaling), columns x1..x5 in [0, 10]:
//   r1: x1 + x2 + 2 x3 + x4 = 6
//   r2: x2 + x4 <= 5
//   r3: x1 + x4 >= 1
//   r4: x5 >= 0
// Reductions, oldest first: x3 eliminated through r1 (x3 = (6 - x1 - x2 -
// x4) / 2), x4 fixed at 2, x5 fixed at its lower bound by its cost. The
// reduced problem keeps r2 (x2 <= 3) and r3 (x1 >= -1) over x1 and x2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/add_rows_presolved.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "simplex/small_lps.h"

namespace {

using namespace kl;

constexpr int32_t kSpareRows = 3;
constexpr int32_t kProblemArrays[] = {ARR_ROW_TYPE, ARR_POS_STATUS, ARR_COL_START, ARR_ELEM_ROW, ARR_ELEM_VALUE,
                                      ARR_OBJECTIVE, ARR_RHS, ARR_LOWER, ARR_UPPER};

struct Lp {
  std::string types;
  std::vector<double> rhs;
  std::vector<std::vector<std::pair<int32_t, double>>> columns;  // (row, value), 0-based
  std::vector<double> cost;
};

int32_t load(const Lp& lp) {
  std::vector<int32_t> starts, rows;
  std::vector<double> values, lower(lp.columns.size(), 0.0), upper(lp.columns.size(), 10.0);
  for (const auto& column : lp.columns) {
    starts.push_back(static_cast<int32_t>(rows.size()));
    for (const auto& [r, v] : column) {
      rows.push_back(r);
      values.push_back(v);
    }
  }
  starts.push_back(static_cast<int32_t>(rows.size()));
  std::vector<double> ranges(lp.types.size(), 0.0);
  return KLLOADPROB("handpre", static_cast<int32_t>(lp.columns.size()), static_cast<int32_t>(lp.types.size()),
                    lp.types.data(), lp.rhs.data(), ranges.data(), lp.cost.data(), starts.data(), nullptr,
                    rows.data(), values.data(), lower.data(), upper.data());
}

// A copy of one registry block.
std::vector<char> block_copy(int32_t id) {
  const char* block = static_cast<const char*>(array_cells[id]);
  return std::vector<char>(block, block + 4 * block_words(block));
}

class AddRowsPresolved : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFDBG, 1);
    KLSETICV(KLIC_IFSCAL, 0);
    // Room for a few rows, as a presolved problem has where rows went.
    KLSETICV(KLIC_NRXTRA, kSpareRows);
    KLSETICV(KLIC_NMXTRA, 20);
    const Lp reduced{"LG", {3.0, -1.0}, {{{1, 1.0}}, {{0, 1.0}}}, {1.0, 1.0}};
    const Lp original{"ELGG",
                      {6.0, 5.0, 1.0, 0.0},
                      {{{0, 1.0}, {2, 1.0}}, {{0, 1.0}, {1, 1.0}}, {{0, 2.0}}, {{0, 1.0}, {1, 1.0}, {2, 1.0}}, {{3, 1.0}}},
                      {1.0, 1.0, 0.0, 0.0, 1.0}};
    ASSERT_EQ(load(reduced), 0);
    std::vector<std::vector<char>> reduced_blocks;
    for (int32_t id : kProblemArrays) reduced_blocks.push_back(block_copy(id));
    const int32_t r_nrow = nrow, r_nseq = nseq, r_first = store.first_col, r_objrow = store.objective_row;
    const int32_t r_spare_elems = spare_elems_left;
    const int64_t r_space = store.elem_space;

    ASSERT_EQ(load(original), 0);
    first_ = store.first_col;
    for (int32_t id : kProblemArrays) original_blocks_.push_back(block_copy(id));
    for (size_t n = 0; n < std::size(kProblemArrays); ++n) {
      const int32_t id = kProblemArrays[n];
      swap_saved_array(id, array_cells[id]);
      const std::vector<char>& block = reduced_blocks[n];
      ASSERT_EQ(allocate_array(id, array_cells[id], static_cast<int64_t>(block.size() / 4)), 0);
      std::memcpy(array_cells[id], block.data(), block.size());
    }
    nrow = r_nrow;
    nseq = r_nseq;
    store.first_col = r_first;
    store.objective_row = r_objrow;
    store.elem_space = r_space;
    spare_rows_left = r_first - r_nrow - 1;
    spare_elems_left = r_spare_elems;
    reduced_first_ = r_first;

    // Presolved position -> original position.
    ASSERT_EQ(allocate_array(ARR_POSITION_MAP, array_cells[ARR_POSITION_MAP], nseq + 1), 0);
    OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
    map[1] = 2;
    map[2] = 3;
    map[r_first] = first_;
    map[r_first + 1] = first_ + 1;

    const int32_t x1 = first_, x2 = first_ + 1, x3 = first_ + 2, x4 = first_ + 3, x5 = first_ + 4;
    clear_presolve_stack();
    // x3 through r1: the row's other columns, no other rows of x3, header.
    ASSERT_TRUE(push_presolve_record({x1, x2, x4, 1, x3, 0, 3, 0, REC_COLUMN_ELIMINATION}, {1.0, 1.0, 1.0, 6.0, 0.0, 2.0}));
    ASSERT_TRUE(push_presolve_record({x4, REC_FIXED_COLUMN}, {2.0}));
    ASSERT_TRUE(push_presolve_record({x5, 1, REC_COLUMN_AT_BOUND}, {0.0}));

    problem_flags |= PF_PRESOLVED_LP;
    problem_flags &= ~(PF_ROW_COPY | PF_SOLUTION_CURRENT);
    dcv(kObjectiveConstantSlot) = 0.25;
    original_problem.objective_constant = 0.0;
  }

  // The caller's view of original column j (1-based) with 0-based indices (IFDBG 1).
  static int32_t col(int32_t j) { return j - 1; }

  int32_t add(const std::string& types, const std::vector<double>& rhs,
              const std::vector<std::vector<std::pair<int32_t, double>>>& rows, std::vector<int32_t>* codes = nullptr) {
    std::vector<int32_t> starts, cols;
    std::vector<double> values, ranges(types.size(), 0.0);
    for (const auto& row : rows) {
      starts.push_back(static_cast<int32_t>(cols.size()));
      for (const auto& [j, v] : row) {
        cols.push_back(col(j));
        values.push_back(v);
      }
    }
    if (codes != nullptr) codes->assign(types.size(), -1);
    return KLADDROWS_PRE(static_cast<int32_t>(types.size()), static_cast<int32_t>(cols.size()), types.data(),
                         rhs.data(), ranges.data(), starts.data(), cols.data(), values.data(),
                         codes != nullptr ? codes->data() : nullptr);
  }

  // Row i of the presolved problem as (presolved column number from 1,
  // value) pairs from the row copy.
  static std::vector<std::pair<int32_t, double>> presolved_row(int32_t i) {
    std::vector<std::pair<int32_t, double>> row;
    OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    for (int32_t e = start[i]; e < start[i + 1]; ++e)
      row.emplace_back(int_array(ARR_ROW_COPY_COL)[e] - store.first_col + 1, real_array(ARR_ROW_COPY_VAL)[e]);
    return row;
  }

  void expect_original_untouched() {
    for (size_t n = 0; n < std::size(kProblemArrays); ++n) {
      const int32_t id = kProblemArrays[n];
      const char* saved = static_cast<const char*>(saved_array_registry[id][current_slot]);
      ASSERT_NE(saved, nullptr);
      EXPECT_EQ(std::memcmp(saved, original_blocks_[n].data(), original_blocks_[n].size()), 0) << "array " << id;
    }
  }

  int32_t first_ = 0;
  int32_t reduced_first_ = 0;
  std::vector<std::vector<char>> original_blocks_;
};

TEST_F(AddRowsPresolved, RowIsRestatedThroughEliminationAndFixings) {
  // x1 + x3 >= 1 with x3 = (6 - x1 - x2 - x4) / 2 and x4 = 2:
  // 0.5 x1 - 0.5 x2 >= -1.
  std::vector<int32_t> codes;
  EXPECT_EQ(add("G", {1.0}, {{{1, 1.0}, {3, 1.0}}}, &codes), 0);
  EXPECT_EQ(codes[0], 0);
  ASSERT_EQ(nrow, 3);
  EXPECT_EQ(store.first_col, reduced_first_);
  EXPECT_EQ(spare_rows_left, store.first_col - nrow - 1);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[3] & ROW_TYPE_MASK, ROW_G);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[3], -1.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_WORK_RHS)[3], -1.0);
  const auto row = presolved_row(3);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_EQ(row[0].first, 1);
  EXPECT_DOUBLE_EQ(row[0].second, 0.5);
  EXPECT_EQ(row[1].first, 2);
  EXPECT_DOUBLE_EQ(row[1].second, -0.5);
  EXPECT_EQ(int_array(ARR_POSITION_MAP)[3], 5);
  // The column copy is rebuilt from the row copy with the new row.
  EXPECT_NE(problem_flags & PF_COLUMN_COPY, 0);
  EXPECT_NE(find_in_column(store.first_col, 3), 0);
  EXPECT_EQ(nelem, 4);
  // Still presolved, with its own objective constant.
  EXPECT_NE(problem_flags & PF_PRESOLVED_LP, 0);
  EXPECT_DOUBLE_EQ(dcv(kObjectiveConstantSlot), 0.25);
  EXPECT_EQ(presolve_state.counts.rows, 3);

  // The original problem has the row as given, after its own rows, so that
  // postsolve and the run after it keep to it.
  PresolvedWords kept;
  swap_original_arrays(1, kept);
  EXPECT_EQ(nrow, 5);
  EXPECT_EQ(original_problem.nrow, 5);
  // The row came out of the spare rows: the room kept for the original
  // problem's rows stays.
  EXPECT_EQ(original_problem.nrow + original_problem.spare_rows, store.first_col - 1);
  EXPECT_EQ(int_array(ARR_ROW_TYPE)[5] & ROW_TYPE_MASK, ROW_G);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[5], 1.0);
  std::vector<std::pair<int32_t, double>> row5;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if (const int32_t e = find_in_column(j, 5)) row5.emplace_back(j - store.first_col + 1, real_array(ARR_ELEM_VALUE)[e]);
  EXPECT_EQ(row5, (std::vector<std::pair<int32_t, double>>{{1, 1.0}, {3, 1.0}}));
  // The loaded entries stay where the rows increase within each column.
  EXPECT_EQ(original_problem.nelem, 11);
  EXPECT_EQ(int_array(ARR_COL_START)[nseq + 1] - 1, 11);
  EXPECT_NE(find_in_column(store.first_col + 3, 3), 0);
  EXPECT_DOUBLE_EQ(real_array(ARR_ELEM_VALUE)[find_in_column(store.first_col + 2, 1)], 2.0);
  swap_original_arrays(0, kept);
  EXPECT_EQ(nrow, 3);
  EXPECT_EQ(store.first_col, reduced_first_);
}

// Records of every layout above the ones that matter are read to their
// ends: the translation past them is the same. x5 stands for the column
// each of them removes; the row does not use it.
TEST_F(AddRowsPresolved, EveryRecordLayoutIsSkippedWhole) {
  const int32_t x4 = first_ + 3, x5 = first_ + 4;
  const std::vector<std::pair<std::vector<int32_t>, std::vector<double>>> records = {
      // column singleton with its row's other columns (list of 2)
      {{x4, first_, 2, -x5, -4, REC_COLUMN_SINGLETON}, {1.0, 1.0, 0.0, 1.0, 10.0, 0.0}},
      // forcing row, lists present: x4 with one other row, at 2
      {{3, 1, x4, 1, -1, 2, REC_FORCING_ROW}, {1.0, 0.0, 2.0, 1.0}},
      // row singleton with column x1's other row
      {{3, 1, 4, first_, -1, REC_ROW_SINGLETON}, {1.0, 1.0, 1.0, 0.5}},
      {{x5, -1, REC_COLUMN_AT_BOUND}, {0.0}},
      // dominated column, one row entry with a list of one column
      {{first_, 1, 4, 1, x5, -1, REC_DOMINATED_COLUMN}, {1.0, 0.0, 0.0, 1.0, 0.0}},
      {{4, 1, -x5, REC_FIXED_COLUMN}, {1.0, 0.0, 0.0}},
      {{2, 3, 0, 0, 0, REC_DUPLICATE_ROW}, {1.0}},
      {{x5, x5, 0, 0, REC_DUPLICATE_COLUMN}, {1.0, 0.0, 1.0, 0.0, 1.0, 0.0}},
      {{x5, x5, 1, 0, REC_DUPLICATE_COLUMN}, {0.0}},
      {{4, 1, 4, -x5, REC_DUPLICATE_COLUMN_BASIC}, {1.0, 0.0, 1.0, 0.0}},
      {{x5, REC_BOUND_CHANGE}, {0.0}},
      {{x5, first_, 1, 4, REC_ENTITY_SPLIT}, {1.0, 2.0, 1.0}},
  };
  for (const auto& [ints, reals] : records) {
    PresolveRecord record;
    record.ints = ints;
    record.reals = reals;
    ASSERT_TRUE(push_presolve_record(record));
  }
  EXPECT_EQ(add("G", {1.0}, {{{1, 1.0}, {3, 1.0}}}), 0);
  ASSERT_EQ(nrow, 3);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[3], -1.0);
  EXPECT_EQ(presolved_row(3), (std::vector<std::pair<int32_t, double>>{{1, 0.5}, {2, -0.5}}));
}

// A zero-cost column singleton of an equality row is replaced through the
// row as loaded (no stored list): the columns postsolve has put back by
// then count with their values. In an inequality row it cannot be carried.
TEST_F(AddRowsPresolved, ColumnSingletonIsReplacedOnlyThroughAnEqualityRow) {
  const int32_t x3 = first_ + 2, x4 = first_ + 3;
  for (const int32_t row : {1, 3}) {
    SCOPED_TRACE("row " + std::to_string(row));
    clear_presolve_stack();
    ASSERT_TRUE(push_presolve_record({x3, row, REC_COLUMN_SINGLETON}, {6.0, 2.0, 10.0, 0.0}));
    ASSERT_TRUE(push_presolve_record({x4, REC_FIXED_COLUMN}, {2.0}));
    const int32_t rows_before = nrow;
    std::vector<int32_t> codes;
    const int32_t result = add("G", {1.0}, {{{1, 1.0}, {3, 1.0}}}, &codes);
    if (row == 3) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(nrow, rows_before);
      continue;
    }
    EXPECT_EQ(result, 0);
    ASSERT_EQ(nrow, rows_before + 1);
    EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[nrow], -1.0);
    EXPECT_EQ(presolved_row(nrow), (std::vector<std::pair<int32_t, double>>{{1, 0.5}, {2, -0.5}}));
  }
}

// A column substituted by a newer record that comes back through an older
// record's stored row is substituted again: x4 = 5 - x2 (newer) and
// x3 = (6 - x1 - x2 - x4) / 2 (older) make x3 >= 1 read -0.5 x1 >= 0.5,
// the x2 terms cancelling.
TEST_F(AddRowsPresolved, SubstitutedColumnBroughtBackIsSubstitutedAgain) {
  const int32_t x1 = first_, x2 = first_ + 1, x3 = first_ + 2, x4 = first_ + 3;
  clear_presolve_stack();
  ASSERT_TRUE(push_presolve_record({x1, x2, x4, 1, x3, 0, 3, 0, REC_COLUMN_ELIMINATION}, {1.0, 1.0, 1.0, 6.0, 0.0, 2.0}));
  ASSERT_TRUE(push_presolve_record({x2, 2, x4, 0, 1, 0, REC_COLUMN_ELIMINATION}, {1.0, 5.0, 0.0, 1.0}));
  EXPECT_EQ(add("G", {1.0}, {{{3, 1.0}}}), 0);
  ASSERT_EQ(nrow, 3);
  EXPECT_DOUBLE_EQ(real_array(ARR_RHS)[3], 0.5);
  EXPECT_EQ(presolved_row(3), (std::vector<std::pair<int32_t, double>>{{1, -0.5}}));
}

// A record of a type outside 1..12 stops the translation: the row is not
// added.
TEST_F(AddRowsPresolved, UnknownRecordTypeIsNotAdded) {
  ASSERT_TRUE(push_presolve_record({1, 13}, {}));
  EXPECT_EQ(add("G", {1.0}, {{{1, 1.0}}}), 1);
  EXPECT_EQ(nrow, 2);
  EXPECT_TRUE(kltest::any_line_contains("fault number in postsolve stack"));
}

// Rows that translate to nothing, or that need a column removed by a
// reduction a new row cannot carry, are not added; each gets its code.
TEST_F(AddRowsPresolved, RowsThatCannotBeAddedGetTheirCodes) {
  struct Case {
    const char* what;
    std::string types;
    std::vector<double> rhs;
    std::vector<std::vector<std::pair<int32_t, double>>> rows;
    int32_t result;
    std::vector<int32_t> codes;
    int32_t added;
  };
  const Case cases[] = {
      {"fixed column only, satisfied", "E", {4.0}, {{{4, 2.0}}}, 4, {4}, 0},
      {"fixed column only, violated", "E", {3.0}, {{{4, 1.0}}}, 2, {2}, 0},
      {"a column fixed by its cost", "L", {1.0}, {{{1, 1.0}, {5, 1.0}}}, 1, {1}, 0},
      {"a violated row ends the call", "GL", {3.0, 9.0}, {{{4, 1.0}}, {{1, 1.0}}}, 2, {2, -1}, 0},
      {"an empty row goes on", "EL", {2.0, 9.0}, {{{4, 1.0}}, {{1, 1.0}}}, 4, {4, 0}, 1},
      {"a tiny entry next to a large one", "L", {9.0}, {{{1, 2e-6}, {2, 5.0}}}, 5, {5}, 1},
  };
  bool fresh = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!fresh) {
      TearDown();
      SetUp();
    }
    fresh = false;
    const int32_t rows_before = nrow;
    std::vector<int32_t> codes;
    EXPECT_EQ(add(c.types, c.rhs, c.rows, &codes), c.result);
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(nrow, rows_before + c.added);
    EXPECT_EQ(status_code, 0);
    EXPECT_EQ(original_problem.nrow, 4 + c.added);
    if (c.added == 0) expect_original_untouched();
    // A row left without entries shows its right-hand side, and says so
    // when 0 does not meet it.
    const bool emptied = c.result == 2 || c.result == 4;
    EXPECT_EQ(kltest::any_line_contains(" row rhs="), emptied);
    EXPECT_EQ(kltest::any_line_contains(" row is infeasible rhs="), c.result == 2);
  }
}

// A row without entries gets no code and is not counted.
TEST_F(AddRowsPresolved, RowWithoutEntriesIsSkipped) {
  std::vector<int32_t> codes;
  EXPECT_EQ(add("LG", {5.0, 1.0}, {{}, {{2, 1.0}}}, &codes), 0);
  EXPECT_EQ(codes, (std::vector<int32_t>{-1, 0}));
  EXPECT_EQ(nrow, 3);
}

// A column index of the original problem beyond the presolved one is
// accepted; one beyond the original is error 405 and nothing is added.
TEST_F(AddRowsPresolved, ColumnsAreCheckedInOriginalTerms) {
  // A refused call returns the status word, never "row added".
  EXPECT_EQ(add("L", {9.0}, {{{6, 1.0}}}), 32);
  EXPECT_EQ(error_number, 405);
  EXPECT_EQ(nrow, 2);
  EXPECT_EQ(add("L", {9.0}, {{{1, 1.0}, {1, 2.0}}}), 32);
  EXPECT_EQ(error_number, 423);
  EXPECT_EQ(nrow, 2);
  EXPECT_EQ(store.first_col, reduced_first_);
  expect_original_untouched();
  EXPECT_EQ(add("L", {9.0}, {{{2, 1.0}, {4, 1.0}}}), 0);
  EXPECT_EQ(nrow, 3);
}

// No spare row left in the presolved problem: error 413, no growth.
TEST_F(AddRowsPresolved, NoSpareRowIsError413) {
  const int32_t spare = spare_rows_left;
  ASSERT_EQ(spare, kSpareRows);
  std::vector<std::vector<std::pair<int32_t, double>>> rows(static_cast<size_t>(spare) + 1, {{2, 1.0}});
  std::vector<int32_t> codes;
  EXPECT_EQ(add(std::string(rows.size(), 'L'), std::vector<double>(rows.size(), 9.0), rows, &codes), 32);
  EXPECT_EQ(error_number, 413);
  EXPECT_EQ(status_code, 32);
  EXPECT_EQ(nrow, 2 + spare);
  // The row that found no room has no code saying it was added.
  EXPECT_EQ(codes.back(), -1);
  EXPECT_EQ(codes[0], 0);
  EXPECT_EQ(store.first_col, reduced_first_);
}

// On a problem that is not presolved the call is KLADDROWS.
TEST(AddRowsPresolvedPlain, ProblemNotPresolvedTakesTheRowsAsGiven) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLSETICV(KLIC_IFDBG, 1);
  const Lp lp{"L", {4.0}, {{{0, 1.0}}, {{0, 1.0}}}, {-1.0, -1.0}};
  ASSERT_EQ(load(lp), 0);
  const char type = 'G';
  const double rhs = 1.0, range = 0.0, values[] = {1.0, -1.0};
  const int32_t starts[] = {0}, cols[] = {0, 1};
  int32_t code = -1;
  EXPECT_EQ(KLADDROWS_PRE(1, 2, &type, &rhs, &range, starts, cols, values, &code), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), 2);
  const int32_t bad_cols[] = {0, 7};
  EXPECT_EQ(KLADDROWS_PRE(1, 2, &type, &rhs, &range, starts, bad_cols, values, nullptr), 32);
  EXPECT_EQ(error_number, 405);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), 2);
  KLFREEXO();
}

}  // namespace

namespace {

using kltest::Column;
using kltest::kInf;
using kltest::Problem;

// A row in original columns (0-based caller indices).
struct NewRow {
  char type;
  double rhs;
  std::vector<std::pair<int32_t, double>> entries;
};

// Rows added to a problem that a real presolve left presolved (a solve
// stopped by ITRLIM), then the solve carried to its end: the optimum is that
// of the loaded problem with the rows added, and the solution in original
// terms meets every row. Scaling is on, so that the presolved problem's own
// scale factors take part.
struct AddedRowCase {
  const char* name;
  Problem problem;
  NewRow row;
};

void PrintTo(const AddedRowCase& c, std::ostream* os) { *os << c.name; }

class AddRowsToRealPresolveCall : public kltest::LpSession {
 protected:
  // Loads p and stops its solve at once: still presolved when true.
  bool stop_presolved(const Problem& p) {
    EXPECT_EQ(load(p), 0);
    int32_t itrlim = 0;
    KLGETICV(KLIC_ITRLIM, &itrlim);
    KLSETICV(KLIC_ITRLIM, 0);
    KLMINIM("");
    KLSETICV(KLIC_ITRLIM, itrlim);
    return (kltest::int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2) != 0;
  }

  // Loads c, stops its solve at once (presolved), adds the row through the
  // records and solves on with the iteration limit given. True when the
  // problem is still presolved afterwards.
  bool presolve_add_and_solve(const AddedRowCase& c, int32_t limit) {
    EXPECT_TRUE(stop_presolved(c.problem)) << "presolve left nothing presolved";
    const int32_t presolved_rows = kltest::int_attribute_value(KLIA_NROW);
    EXPECT_EQ(add(c.row, true), 0);
    int32_t itrlim = 0;
    KLGETICV(KLIC_ITRLIM, &itrlim);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), presolved_rows + 1);
    KLSETICV(KLIC_ITRLIM, limit);
    EXPECT_EQ(KLMINIM(""), 0);
    KLSETICV(KLIC_ITRLIM, itrlim);
    return (kltest::int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2) != 0;
  }

  // x meets the loaded rows and the added one, at the expected objective.
  static void expect_rows_met(const AddedRowCase& c, const std::vector<double>& x, double expected) {
    Problem with_row = c.problem;
    with_row.row_types += c.row.type;
    with_row.rhs.push_back(c.row.rhs);
    for (const auto& [j, v] : c.row.entries) with_row.columns[j].entries.emplace_back(c.problem.nrows(), v);
    std::vector<double> activity(with_row.nrows(), 0.0);
    double objective = 0.0;
    for (int32_t j = 0; j < with_row.ncols(); ++j) {
      objective += with_row.columns[j].cost * x[j];
      for (const auto& [r, v] : with_row.columns[j].entries) activity[r] += v * x[j];
    }
    EXPECT_NEAR(objective, expected, 1e-9);
    for (int32_t r = 0; r < with_row.nrows(); ++r) {
      const char type = with_row.row_types[r];
      if (type == 'L' || type == 'E') {
        EXPECT_LE(activity[r], with_row.rhs[r] + 1e-9) << "row " << r;
      }
      if (type == 'G' || type == 'E') {
        EXPECT_GE(activity[r], with_row.rhs[r] - 1e-9) << "row " << r;
      }
    }
  }

  static int32_t add(const NewRow& row, bool presolved) {
    std::vector<int32_t> cols;
    std::vector<double> values;
    for (const auto& [j, v] : row.entries) {
      cols.push_back(j);
      values.push_back(v);
    }
    const int32_t start = 0;
    const double range = 0.0;
    const auto n = static_cast<int32_t>(cols.size());
    return presolved ? KLADDROWS_PRE(1, n, &row.type, &row.rhs, &range, &start, cols.data(), values.data(), nullptr)
                     : KLADDROWS(1, n, &row.type, &row.rhs, &range, &start, cols.data(), values.data());
  }
};

class AddRowsToRealPresolve : public AddRowsToRealPresolveCall, public ::testing::WithParamInterface<AddedRowCase> {};

TEST_P(AddRowsToRealPresolve, NextSolveFindsTheOptimumWithTheRow) {
  const AddedRowCase& c = GetParam();
  const Problem& p = c.problem;
  KLSETICV(KLIC_NRXTRA, 2);
  KLSETICV(KLIC_NMXTRA, 10);
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(add(c.row, false), 0);
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  const double expected = kltest::objective_value();
  KLSETICV(KLIC_IFPRES, 1);

  // The presolved solve with the row is stopped where it reaches its own
  // optimum (one iteration short of the limit that lets the whole solve
  // finish), so that its solution is read through a keep-mode postsolve
  // before any clean-up on the loaded problem could mend it.
  int32_t limit = 0;
  while (limit < 50 && presolve_add_and_solve(c, limit + 1)) ++limit;
  ASSERT_TRUE(presolve_add_and_solve(c, limit));
  KLSETICV(KLIC_IFMEM, 0x10);
  std::vector<double> x(p.ncols());
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  KLSETICV(KLIC_IFMEM, 0);
  expect_rows_met(c, x, expected);

  // The final postsolve's basis is optimal for the problem with the row.
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2, 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(kltest::objective_value(), expected, 1e-9);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  expect_rows_met(c, x, expected);
}

Column column(std::vector<std::pair<int32_t, double>> entries, double lower, double upper, double cost) {
  Column c;
  c.entries = std::move(entries);
  c.lower = lower;
  c.upper = upper;
  c.cost = cost;
  return c;
}

// x0's large entry is in a row of its own, which presolve turns into a
// bound: the presolved problem is scaled again, and x0 takes another factor
// there than in the loaded problem.
Problem rescaled_problem() {
  Problem p;
  p.row_types = "LGL";
  p.rhs = {5e6, 3, 20};
  p.columns = {column({{0, 1e6}, {1, 1e-3}, {2, 1e-3}}, 0, kInf, -1), column({{1, 1}, {2, 2}}, 0, kInf, 1),
               column({{1, 0.5}, {2, 0.25}}, 0, 8, 0.5)};
  return p;
}

// x3 is loaded fixed at 1 and never reaches the presolved problem.
Problem fixed_column_problem() {
  Problem p;
  p.row_types = "GGL";
  p.rhs = {40, 3, 900};
  p.columns = {column({{0, 100}, {1, 1}, {2, 30}}, 0, 10, 2), column({{0, 0.5}, {1, 2}, {2, 1}}, 0, 50, 3),
               column({{0, 0.02}, {2, 400}}, 0, 2, 10), column({{1, 1}, {2, 1}}, 1, 1, 1)};
  return p;
}

// Free x0 = 5 - x1 - x2 - x3 leaves through its equality row.
Problem substituted_column_problem() {
  Problem p;
  p.row_types = "EL";
  p.rhs = {5, 6};
  p.columns = {column({{0, 1}}, -kInf, kInf, 1), column({{0, 1}, {1, 1}}, 0, 3, 0.5),
               column({{0, 1}, {1, 1}}, 0, 3, 0.25), column({{0, 1}, {1, 1}}, 0, 3, 0.75)};
  return p;
}

// s1 and s2 cost nothing and are alone in their columns: both become the
// slack of x1 + x2 + s1 + s2 = 4, which is then a range row.
Problem two_slacks_problem() {
  Problem p;
  p.row_types = "EG";
  p.rhs = {4, 1};
  p.columns = {column({{0, 1}, {1, 1}}, 0, 3, -1), column({{0, 1}, {1, -1}}, 0, 3, -2),
               column({{0, 1}}, 0, 1, 0), column({{0, 1}}, 0, 2, 0)};
  return p;
}

// 2 x0 = 3 is a row of x0 alone: presolve fixes x0 at 1.5 through it and
// keeps no column for x0. x1 and x2 share a row that stops them.
Problem fixed_by_row_problem() {
  Problem p;
  p.row_types = "EGL";
  p.rhs = {3, 3, 12};
  p.columns = {column({{0, 2}, {1, 1}}, 0, 2, 1), column({{1, 1}, {2, 1}}, 0, 10, -1),
               column({{1, 1}, {2, 2}}, 0, 10, -0.25)};
  return p;
}

AddedRowCase added_row_cases[] = {
    {"column_fixed_by_its_row", fixed_by_row_problem(), {'L', 3.5, {{0, 1.0}, {1, 1.0}}}},

    {"rescaled_column", rescaled_problem(), {'L', 4, {{0, 1.0}, {1, -1.0}}}},
    {"fixed_column", fixed_column_problem(), {'G', 2.5, {{1, 1.0}, {3, 2.0}}}},
    {"large_and_small_entries", fixed_column_problem(), {'L', 150, {{0, 300.0}, {2, 0.001}, {1, 2.0}}}},
    {"substituted_column", substituted_column_problem(), {'G', 1.0, {{0, 1.0}, {1, 0.5}}}},
};

// Neither slack of x1 + x2 + s1 + s2 = 4 follows from the row: each is free
// within its bounds once the other has made the row a range. A row over
// either is not added (code 1); a row over the kept columns still is.
TEST_F(AddRowsToRealPresolveCall, SlackOfARowThatTookTwoIsNotCarried) {
  for (const int32_t slack : {2, 3}) {
    SCOPED_TRACE(slack);
    KLSETICV(KLIC_NRXTRA, 2);
    KLSETICV(KLIC_NMXTRA, 10);
    ASSERT_TRUE(stop_presolved(two_slacks_problem()));
    const int32_t rows = kltest::int_attribute_value(KLIA_NROW);
    EXPECT_EQ(add({'L', 0.5, {{slack, 1.0}}}, true), 1);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), rows);
    EXPECT_EQ(add({'L', 2.5, {{0, 1.0}, {1, 1.0}}}, true), 0);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), rows + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(AddRowsPresolved, AddRowsToRealPresolve, ::testing::ValuesIn(added_row_cases),
                         [](const ::testing::TestParamInfo<AddedRowCase>& info) { return info.param.name; });

}  // namespace
