// Matrix storage on a hand-built problem: the row and column copies, the row
// lists, and the growth of the store beyond its spare room.
#include "problem/matrix_storage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "problem/cut_pool.h"
#include "klsol32.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"

namespace kl {
namespace {

// Rows 1..3 (L, G, E), spare rows 4 and 5, columns 6..9 (A..D), one spare
// column. Column A is quadratic and a set member, B an integer entity, C
// quadratic and free, D fixed and a set member.
//
//        A    B    C    D
//   R1   1         5          L  4
//   R2        4   -1          G  1
//   R3   2                    E  2
class HandBuiltProblem : public ::testing::Test {
 protected:
  static constexpr int32_t kRows = 3;
  static constexpr int32_t kSpareRows = 2;
  static constexpr int32_t kCols = 4;
  static constexpr int32_t kSpareCols = 1;
  static constexpr int32_t kSpareElems = 3;
  static constexpr int32_t kA = 6, kB = 7, kC = 8, kD = 9;

  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    build();
  }
  void TearDown() override {
    fail_next_allocations(0);
    KLFREEXO();
  }

  static void ints(int32_t id, std::vector<int32_t> values, int64_t length) {
    ASSERT_EQ(allocate_array(id, array_cells[id], words_for_ints(length)), 0);
    for (size_t k = 0; k < values.size(); ++k) word_array(id)[static_cast<int64_t>(k) + 1] = values[k];
  }
  static void reals(int32_t id, std::vector<double> values, int64_t length) {
    ASSERT_EQ(allocate_array(id, array_cells[id], words_for_reals(length)), 0);
    for (size_t k = 0; k < values.size(); ++k) array_of<double>(id)[static_cast<int64_t>(k) + 1] = values[k];
  }

  void build() {
    nrow = kRows;
    spare_rows_left = kSpareRows;
    store.first_col = kRows + kSpareRows + 1;
    nseq = store.first_col + kCols - 1;
    spare_cols_left = kSpareCols;
    nelem = 5;
    spare_elems_left = kSpareElems;
    store.elem_space = nelem + kSpareElems;
    name_words = 1;
    fill_capacity = 0;
    const int64_t positions = nseq + kSpareCols;
    const int64_t rows = kRows + kSpareRows;
    const int32_t w = static_cast<int32_t>(kDefaultScaleWord);

    ints(ARR_ROW_TYPE, {ROW_L, ROW_G, ROW_E}, rows);
    ints(ARR_POS_STATUS,
         {w | 0x202, w | 0x402, w | 0x612, w | 0x10, w | 0x10, w | 0x200600, w | 0x1680, w | 0x200001, w | 0x610},
         positions);
    ints(ARR_COL_START, {0, 0, 0, 0, 0, 1, 3, 4, 6, 6}, positions + 1);
    ints(ARR_ELEM_ROW, {3, 1, 2, 1, 2}, 2 * nseq + store.elem_space);
    reals(ARR_ELEM_VALUE, {2, 1, 4, 5, -1}, 2 * nseq + store.elem_space);
    const std::vector<double> lower = {0, -1e20, 0, 0, 0, 0, 0, -1e20, 3};
    const std::vector<double> upper = {1e20, 0, 0, 0, 0, 10, 5, 1e20, 3};
    reals(ARR_LOWER, lower, positions);
    reals(ARR_UPPER, upper, positions);
    reals(ARR_WORK_LOWER, lower, positions);
    reals(ARR_WORK_UPPER, upper, positions);
    reals(ARR_OBJECTIVE, {0, 0, 0, 0, 0, 1, 2, -3, 0.5}, positions);
    reals(ARR_RHS, {4, 1, 2}, rows);
    reals(ARR_WORK_RHS, {4, 1, 2}, rows);
    reals(ARR_WORK_VECTOR, {}, rows);
    ints(ARR_BASIS_HEADER, {1, kC, 3}, rows);
    reals(ARR_BASIC_UPPER, {1e20, 0, 0}, rows);
    ASSERT_EQ(allocate_array(ARR_NAME_TABLE, array_cells[ARR_NAME_TABLE], words_for_reals(positions + 4)), 0);
    const char* names[] = {"ROW1", "ROW2", "ROW3", "SPARE4", "SPARE5", "COLA", "COLB", "COLC", "COLD"};
    for (int32_t p = 1; p <= nseq; ++p) {
      char* slot = name_array(ARR_NAME_TABLE) + (p - 1) * 8;
      std::memset(slot, ' ', 8);
      std::memcpy(slot, names[p - 1], std::strlen(names[p - 1]));
    }

    // Q: (A, A) 2 and (A, C) 1, both triangles, lists given by their starts.
    ints(ARR_QUAD_UPPER_START, {0, 0, 0, 0, 0, 1, 3, 3, 3, 3}, positions + 1);
    ints(ARR_QUAD_LOWER_START, {0, 0, 0, 0, 0, 3, 3, 3, 4, 4}, positions + 1);
    ints(ARR_QUAD_INDEX, {kA, kC, kA}, 6);
    reals(ARR_QUAD_VALUES, {2, 1, 1}, 6);
    nqelem = 3;

    // A set over A and D, then B as an integer entity.
    nsets = 1;
    nglent = 2;
    nsosm = 2;
    spare_entities_left = 0;
    ints(ARR_ENTITY_TYPE, {ENT_SET1, ENT_INTEGER}, 2);
    ints(ARR_ENTITY_COLUMN, {1, kB}, 2);
    for (const int32_t id : {ARR_DIRECTIVE_WORD, ARR_ENTITY_ROOT_UPPER, ARR_ENTITY_ROOT_LOWER, ARR_PSEUDO_COST_DOWN,
                             ARR_PSEUDO_COST_UP})
      ints(id, {kDefaultDirectiveWord, kDefaultDirectiveWord}, 2);
    reals(ARR_SEMICONT_LIMIT, {0, 0}, 2);
    reals(ARR_SEMICONT_UPPER, {0, 0}, 2);
    ints(ARR_SET_START, {0, 2}, 2);
    ints(ARR_SET_MEMBER_COLUMN, {kA, kD}, 2);
    reals(ARR_SET_MEMBER_REF, {1, 2}, 2);
    ints(ARR_VUB_REF, {0, 0, 0, 0, 0, 0, kD, 0, 0}, positions);
    ints(ARR_VLB_REF, {}, positions);

    // A bound record on D and a cut over A and C.
    ASSERT_EQ(alloc_cut_pool(), 0);
    const OneBased<int32_t> record = int_array(ARR_CUT_RECORD);
    const int32_t bound_record[] = {0, 16, 0, kD};
    const int32_t cut_record[] = {0, 4, 1, 2};
    for (int32_t k = 1; k <= 4; ++k) {
      record[k] = bound_record[k - 1];
      record[kCutRecordWords + k] = cut_record[k - 1];
    }
    int_array(ARR_CUT_ELEM_COLUMN)[1] = kA;
    int_array(ARR_CUT_ELEM_COLUMN)[2] = kC;

    // A DV entry on element (R2, C) with arguments A and D, and a CV on D.
    recurse_entry_count = 2;
    ASSERT_EQ(allocate_array(ARR_RECURSE_ENTRY, array_cells[ARR_RECURSE_ENTRY], 2 * sizeof(RecurseEntry) / 4), 0);
    RecurseEntry* entry = recurse_entries();
    entry[0] = RecurseEntry{kC, 2, kA, kD, 64, RK_DV, {}, 5, 1.0, 0.0};
    const float tolerance = 0.5f;
    entry[1] = RecurseEntry{kD, 0, 0, 0, 0, RK_CV, {}, 0, 1.0, 0.0};
    std::memcpy(&entry[1].a, &tolerance, sizeof tolerance);

    original_problem.nrow = kRows;
    original_problem.nseq = nseq;
    original_problem.first_col = store.first_col;
    original_problem.spare_rows = kSpareRows;
    original_problem.spare_cols = kSpareCols;
    original_problem.presolved_nrow = kRows;
    original_problem.presolved_nseq = nseq;
    problem_state = 1;
    problem_flags = PF_LOADED | PF_COLUMN_COPY;
    ASSERT_EQ(alloc_solver_work_arrays(), 0);
  }

  static std::string name(int32_t p) {
    if (p < 1 || p > nseq) return "#" + std::to_string(p);
    std::string text(name_array(ARR_NAME_TABLE) + (p - 1) * 8, 8);
    return text.substr(0, text.find_last_not_of(' ') + 1);
  }
  static std::string real(double x) {
    char text[40];
    std::snprintf(text, sizeof text, "%a", x);
    return text;
  }

  // Everything the problem says, with every position written as the name of
  // what sits there: equal before and after a growth that keeps the problem.
  static std::string by_name() {
    std::ostringstream out;
    const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    const OneBased<int32_t> col_start = int_array(ARR_COL_START);
    const OneBased<int32_t> q_upper = int_array(ARR_QUAD_UPPER_START);
    const OneBased<int32_t> q_lower = int_array(ARR_QUAD_LOWER_START);
    const OneBased<int32_t> q_index = int_array(ARR_QUAD_INDEX);
    const OneBased<double> q_value = real_array(ARR_QUAD_VALUES);
    out << "rows " << nrow << " cols " << ncols() << " elems " << nelem << " q " << nqelem << "\n";
    for (int32_t i = 1; i <= nrow; ++i)
      out << name(i) << " type " << int_array(ARR_ROW_TYPE)[i] << " status " << status[i] << " rhs "
          << real(real_array(ARR_RHS)[i]) << " " << real(real_array(ARR_WORK_RHS)[i]) << " slack "
          << real(real_array(ARR_LOWER)[i]) << " " << real(real_array(ARR_UPPER)[i]) << " basic "
          << name(int_array(ARR_BASIS_HEADER)[i]) << "\n";
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      out << name(p) << " status " << status[p] << " bounds " << real(real_array(ARR_LOWER)[p]) << " "
          << real(real_array(ARR_UPPER)[p]) << " work " << real(real_array(ARR_WORK_LOWER)[p]) << " "
          << real(real_array(ARR_WORK_UPPER)[p]) << " cost " << real(real_array(ARR_OBJECTIVE)[p]) << " link "
          << name(int_array(ARR_VUB_REF)[p]) << " elements";
      for (int32_t k = col_start[p]; k < col_start[p + 1]; ++k)
        out << " " << name(int_array(ARR_ELEM_ROW)[k]) << "=" << real(real_array(ARR_ELEM_VALUE)[k]);
      out << " q";
      for (int32_t k = q_upper[p]; k < q_upper[p + 1]; ++k) out << " " << name(q_index[k]) << "=" << q_value[k];
      out << " |";
      for (int32_t k = q_lower[p]; k < q_lower[p + 1]; ++k) out << " " << name(q_index[k]) << "=" << q_value[k];
      out << "\n";
    }
    for (int32_t k = 1; k <= nglent; ++k) {
      const int32_t type = int_array(ARR_ENTITY_TYPE)[k];
      const int32_t column = int_array(ARR_ENTITY_COLUMN)[k];
      out << "entity " << type << " " << (type < ENT_SET1 ? name(column) : std::to_string(column)) << "\n";
    }
    for (int32_t m = 1; m <= nsosm; ++m) out << "member " << name(int_array(ARR_SET_MEMBER_COLUMN)[m]) << "\n";
    const RecurseEntry* entry = recurse_entries();
    out << "DV " << name(entry[0].column) << " " << name(entry[0].row) << " " << name(entry[0].a) << " "
        << name(entry[0].b) << " element " << entry[0].element << "\n";
    out << "CV " << name(entry[1].column) << "\n";
    const OneBased<int32_t> record = int_array(ARR_CUT_RECORD);
    out << "bound record " << name(record[4]) << " cut " << name(int_array(ARR_CUT_ELEM_COLUMN)[1]) << " "
        << name(int_array(ARR_CUT_ELEM_COLUMN)[2]) << "\n";
    return out.str();
  }

  // The counts and the words of every array of the problem.
  static std::string raw() {
    std::ostringstream out;
    for (int n = 1001; n <= 1031; ++n) out << int_attribute(n) << " ";
    out << store.first_col << " " << store.elem_space << " " << original_problem.spare_rows << " "
        << original_problem.spare_cols << " " << original_problem.presolved_nseq << "\n";
    for (int id = 1; id <= kMaxArrayId; ++id) {
      if (array_cells[id] == nullptr) continue;
      out << id << ":";
      const int64_t words = block_words(array_cells[id]);
      for (int64_t k = 0; k < words; ++k) out << " " << static_cast<const int32_t*>(array_cells[id])[k];
      out << "\n";
    }
    return out.str();
  }

  // The rows of the row-wise copy as "column=value" lists.
  static std::vector<std::string> row_copy() {
    std::vector<std::string> rows;
    const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    for (int32_t r = 1; r <= nrow; ++r) {
      std::string text;
      for (int32_t k = start[r]; k < start[r + 1]; ++k)
        text += name(int_array(ARR_ROW_COPY_COL)[k]) + "=" + std::to_string(real_array(ARR_ROW_COPY_VAL)[k]) + " ";
      rows.push_back(text);
    }
    return rows;
  }

  // The columns linked in row r's list, in list order.
  static std::string row_list(int32_t r) {
    std::string text;
    for (int32_t k = int_array(ARR_ROW_LIST_HEAD)[r]; k != 0 && k <= nelem; k = int_array(ARR_ROW_LIST_NEXT)[k])
      text += name(int_array(ARR_ROW_LIST_COLUMN)[k]) + " ";
    return text;
  }
};

TEST_F(HandBuiltProblem, RowCopyListsEveryRowByColumnAndColumnCopySortsByRow) {
  build_row_copy();
  EXPECT_TRUE(problem_flags & PF_ROW_COPY);
  EXPECT_EQ(row_copy(), (std::vector<std::string>{"COLA=1.000000 COLC=5.000000 ", "COLB=4.000000 COLC=-1.000000 ",
                                                  "COLA=2.000000 "}));

  problem_flags &= ~PF_COLUMN_COPY;
  build_column_copy();
  EXPECT_TRUE(problem_flags & PF_COLUMN_COPY);
  EXPECT_EQ(nelem, 5);
  // Column A was loaded as (R3, R1); it comes back in row order. D stays empty.
  EXPECT_EQ(std::vector<int32_t>(&int_array(ARR_COL_START)[kA], &int_array(ARR_COL_START)[kD + 1] + 1),
            (std::vector<int32_t>{1, 3, 4, 6, 6}));
  EXPECT_EQ(int_array(ARR_ELEM_ROW)[1], 1);
  EXPECT_EQ(real_array(ARR_ELEM_VALUE)[1], 1.0);
  EXPECT_EQ(int_array(ARR_ELEM_ROW)[2], 3);
  EXPECT_EQ(real_array(ARR_ELEM_VALUE)[2], 2.0);
}

TEST_F(HandBuiltProblem, ReallocatingTheWorkArraysRebuildsAValidRowCopy) {
  build_row_copy();
  const std::vector<std::string> before = row_copy();
  free_solver_work_arrays();
  EXPECT_FALSE(problem_flags & PF_WORK_ARRAYS);
  EXPECT_EQ(array_cells[ARR_ROW_COPY_START], nullptr);
  ASSERT_EQ(alloc_solver_work_arrays(), 0);
  EXPECT_TRUE(problem_flags & PF_WORK_ARRAYS);
  EXPECT_EQ(row_copy(), before);
}

TEST_F(HandBuiltProblem, FailedWorkArrayAllocationReportsTheIdAndKeepsNothing) {
  free_solver_work_arrays();
  fail_next_allocations(1);
  EXPECT_EQ(alloc_solver_work_arrays(), ARR_BASIC_VALUES);
  EXPECT_FALSE(problem_flags & PF_WORK_ARRAYS);
  for (const int32_t id : {ARR_BASIC_VALUES, ARR_REDUCED_COSTS, ARR_SCALE_WORK}) EXPECT_EQ(array_cells[id], nullptr);
}

TEST_F(HandBuiltProblem, RowListsSkipFixedAndBasicFreeColumnsAndFreeRows) {
  // C basic and free, D fixed: neither can enter. R2 made free drops out.
  int_array(ARR_POS_STATUS)[kC] |= PS_BASIC;
  ASSERT_EQ(alloc_row_lists(), 0);
  build_row_lists();
  EXPECT_EQ(row_list(1), "COLA ");
  EXPECT_EQ(row_list(2), "COLB ");
  EXPECT_EQ(row_list(3), "COLA ");

  // C leaves the basis: it joins the lists in column order, once.
  link_leaving_column(kC);
  link_leaving_column(kC);
  EXPECT_EQ(row_list(1), "COLA COLC ");
  EXPECT_EQ(row_list(2), "COLB COLC ");
  // A enters: gone from both of its rows, whether head or not.
  unlink_entering_column(kA);
  EXPECT_EQ(row_list(1), "COLC ");
  EXPECT_EQ(row_list(3), "");
  unlink_entering_column(kC);
  EXPECT_EQ(row_list(1), "");
  EXPECT_EQ(row_list(2), "COLB ");

  int_array(ARR_POS_STATUS)[2] |= PS_FREE;
  build_row_lists();
  EXPECT_EQ(row_list(2), "");
  free_row_lists();
  EXPECT_FALSE(problem_flags & PF_ROW_LISTS);
  EXPECT_EQ(array_cells[ARR_ROW_LIST_HEAD], nullptr);
}

TEST_F(HandBuiltProblem, GrowthWithinTheSpareRoomChangesNothing) {
  const std::string before = raw();
  EXPECT_EQ(grow_problem_storage(kSpareRows, kSpareCols, kSpareElems, 0), 0);
  EXPECT_EQ(raw(), before);
}

TEST_F(HandBuiltProblem, RowGrowthMovesEveryColumnWithEverythingThatNamesIt) {
  build_row_copy();
  const std::string before = by_name();
  const std::vector<std::string> copy_before = row_copy();

  ASSERT_EQ(grow_problem_storage(kSpareRows + 3, 0, 0, 0), 0);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(store.first_col, kA + 3);
  EXPECT_EQ(nseq, kD + 3);
  EXPECT_EQ(spare_rows_left, kSpareRows + 3);
  EXPECT_EQ(original_problem.spare_rows, kSpareRows + 3);
  EXPECT_EQ(original_problem.presolved_nseq, kD + 3);
  EXPECT_EQ(spare_cols_left, kSpareCols);
  EXPECT_EQ(by_name(), before);
  EXPECT_EQ(row_copy(), copy_before);
  EXPECT_TRUE(problem_flags & PF_ROW_COPY);

  // The positions left behind are spare rows: fixed at 0, no cost, no link.
  for (int32_t p = kA; p < kA + 3; ++p) {
    EXPECT_EQ(static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]), kDefaultScaleWord | PS_FIXED) << p;
    EXPECT_EQ(real_array(ARR_OBJECTIVE)[p], 0.0);
    EXPECT_EQ(real_array(ARR_UPPER)[p], 0.0);
    EXPECT_EQ(int_array(ARR_VUB_REF)[p], 0);
  }
  EXPECT_EQ(name(kA), "VVVVVVV6");
  // Room for the new rows in every per-row array.
  for (const int32_t id : {ARR_ROW_TYPE, ARR_BASIS_HEADER}) EXPECT_GE(block_words(array_cells[id]), kRows + 5);
  for (const int32_t id : {ARR_RHS, ARR_WORK_RHS, ARR_BASIC_UPPER, ARR_BASIC_VALUES})
    EXPECT_GE(block_words(array_cells[id]), 2 * (kRows + 5));
  // The spare column still has an empty quadratic list after the last column.
  EXPECT_EQ(int_array(ARR_QUAD_UPPER_START)[nseq + 2], int_array(ARR_QUAD_UPPER_START)[nseq + 1]);
  EXPECT_EQ(int_array(ARR_QUAD_LOWER_START)[nseq + 2], int_array(ARR_QUAD_LOWER_START)[nseq + 1]);
}

TEST_F(HandBuiltProblem, RowGrowthOfAPresolvedProblemMovesThePositionMap) {
  problem_flags |= PF_PRESOLVED_LP;
  ints(ARR_POSITION_MAP, {1, 2, 3, 4, 5, 16, 17, 18, 19}, nseq + kSpareCols);
  ASSERT_EQ(grow_problem_storage(kSpareRows + 1, 0, 0, 0), 0);
  const OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  EXPECT_EQ(std::vector<int32_t>(&map[1], &map[nseq] + 1), (std::vector<int32_t>{1, 2, 3, 4, 5, 0, 16, 17, 18, 19}));
}

TEST_F(HandBuiltProblem, ColumnElementAndEntityGrowthAddsSpareRoom) {
  const std::string before = by_name();
  ASSERT_EQ(grow_problem_storage(0, kSpareCols + 4, kSpareElems + 100, 7), 0);
  EXPECT_EQ(by_name(), before);
  EXPECT_EQ(store.first_col, kA);
  EXPECT_EQ(spare_cols_left, kSpareCols + 4);
  EXPECT_EQ(spare_elems_left, kSpareElems + 100);
  EXPECT_EQ(spare_entities_left, 7);
  EXPECT_EQ(store.elem_space, 5 + kSpareElems + 100);
  EXPECT_EQ(original_problem.spare_cols, kSpareCols + 4);

  const int64_t positions = nseq + spare_cols_left;
  EXPECT_GE(block_words(array_cells[ARR_POS_STATUS]), positions);
  EXPECT_GE(block_words(array_cells[ARR_COL_START]), positions + 1);
  EXPECT_GE(block_words(array_cells[ARR_NAME_TABLE]), 2 * positions);
  EXPECT_GE(block_words(array_cells[ARR_CUT_ROW_LIST]), positions);
  EXPECT_GE(reduced_costs_length, 2 * (positions + 4));
  EXPECT_GE(block_words(array_cells[ARR_ELEM_ROW]), store.elem_space);
  EXPECT_GE(block_words(array_cells[ARR_ROW_COPY_VAL]), 2 * store.elem_space);
  for (const int32_t id : {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_PSEUDO_COST_UP})
    EXPECT_GE(block_words(array_cells[id]), nglent + 7) << id;
  EXPECT_GE(block_words(array_cells[ARR_SEMICONT_UPPER]), 2 * (nglent + 7));
  for (int64_t j = nseq + 2; j <= positions + 1; ++j) {
    EXPECT_EQ(int_array(ARR_QUAD_UPPER_START)[j], 3);
    EXPECT_EQ(int_array(ARR_QUAD_LOWER_START)[j], 4);
  }
}

TEST_F(HandBuiltProblem, FirstEntitiesBringTheirArraysAndTheCutPool) {
  for (const int32_t id : {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_ENTITY_ROOT_UPPER,
                           ARR_ENTITY_ROOT_LOWER, ARR_PSEUDO_COST_DOWN, ARR_PSEUDO_COST_UP, ARR_SEMICONT_LIMIT,
                           ARR_SEMICONT_UPPER, ARR_VUB_REF, ARR_VLB_REF, ARR_CUT_RECORD, ARR_CUT_RHS,
                           ARR_CUT_ELEM_COLUMN, ARR_CUT_ELEM_VALUE, ARR_CUT_ROW_LIST, ARR_SET_START, ARR_SET_MEMBER_COLUMN,
                           ARR_SET_MEMBER_REF})
    free_array(id, array_cells[id]);
  nglent = nsets = nsosm = 0;

  ASSERT_EQ(grow_problem_storage(0, 0, 0, 2), 0);
  for (const int32_t id : {ARR_ENTITY_TYPE, ARR_SEMICONT_LIMIT, ARR_VUB_REF, ARR_VLB_REF, ARR_CUT_RECORD,
                           ARR_CUT_ROW_LIST})
    EXPECT_NE(array_cells[id], nullptr) << id;
  for (const int32_t id : {ARR_VUB_REF, ARR_VLB_REF, ARR_CUT_ROW_LIST})
    EXPECT_GE(block_words(array_cells[id]), nseq + spare_cols_left) << id;
  EXPECT_EQ(spare_entities_left, 2);
}

// Each kind of growth, refused at its first block: nothing of the problem
// may change, and the report names the array.
TEST_F(HandBuiltProblem, RefusedGrowthLeavesTheProblemAsItWas) {
  struct Case {
    const char* what;
    int32_t rows, cols, elems, ents;
  };
  const Case cases[] = {
      {"rows", kSpareRows + 3, 0, 0, 0},
      {"columns", 0, kSpareCols + 2, 0, 0},
      {"elements", 0, 0, kSpareElems + 50, 0},
      {"entities", 0, 0, 0, 4},
      {"everything", kSpareRows + 1, kSpareCols + 1, kSpareElems + 1, 1},
  };
  build_row_copy();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string before = raw();
    fail_next_allocations(1);
    const int32_t failed = grow_problem_storage(c.rows, c.cols, c.elems, c.ents);
    fail_next_allocations(0);
    EXPECT_GT(failed, 0);
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_EQ(raw(), before);
    status_code = 0;
  }
}

TEST_F(HandBuiltProblem, GrowthWithoutAProblemIsRefused) {
  problem_state = 0;
  EXPECT_EQ(grow_problem_storage(10, 0, 0, 0), -1);
  EXPECT_EQ(status_code, STATUS_REPORTED);
  EXPECT_EQ(store.first_col, kA);
}

// The same through a load: what the getters tell the caller survives every
// kind of growth, and a refused growth as well.
class LoadedProblemGrowth : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    ASSERT_EQ(KLSETICV(KLIC_NRXTRA, 1), 0);
    ASSERT_EQ(KLSETICV(KLIC_NCXTRA, 1), 0);
    // x0 + 2 x1 <= 4, x1 - x2 >= -1, x0 + x2 = 3; x1 integer; Q over x0, x2.
    const double rhs[] = {4, -1, 3};
    const double objective[] = {1, -2, 0.5};
    const int32_t starts[] = {0, 2, 4, 6};
    const int32_t rows[] = {0, 2, 0, 1, 1, 2};
    const double values[] = {1, 1, 2, 1, -1, 1};
    const double lower[] = {0, -3, 1};
    const double upper[] = {10, 5, 1e20};
    const int32_t q1[] = {0, 0, 2};
    const int32_t q2[] = {0, 2, 2};
    const double qv[] = {2, 1, 4};
    const char entity_types[] = {'I'};
    const int32_t entity_columns[] = {1};
    ASSERT_EQ(KLLOADQGLOBAL("grow", 3, 3, "LGE", rhs, nullptr, objective, starts, nullptr, rows, values, lower, upper,
                            3, q1, q2, qv, 1, 0, entity_types, entity_columns, nullptr, nullptr, nullptr, nullptr,
                            nullptr),
              0);
  }
  void TearDown() override {
    fail_next_allocations(0);
    KLFREEXO();
  }

  // Every getter over every row and column, as text.
  static std::string caller_view() {
    std::ostringstream out;
    const int32_t cols = ncols();
    std::vector<double> v(static_cast<size_t>(cols));
    for (auto getter : {getobj, getbdl, getbdu}) {
      getter(v.data(), 0, cols - 1, QUERY_CALLER_FORM);
      for (const double x : v) out << x << " ";
    }
    std::vector<double> r(static_cast<size_t>(nrow));
    for (auto getter : {getrhs, getrng}) {
      getter(r.data(), 0, nrow - 1, QUERY_CALLER_FORM);
      for (const double x : r) out << x << " ";
    }
    std::vector<int32_t> starts(static_cast<size_t>(cols) + 1), rows(20);
    std::vector<double> values(20);
    int32_t count = 0;
    getcols(starts.data(), rows.data(), values.data(), 20, &count, 0, cols - 1, QUERY_CALLER_FORM);
    for (int32_t k = 0; k < count; ++k) out << rows[k] << "=" << values[k] << " ";
    std::vector<char> names(static_cast<size_t>(nrow + cols) * 9 + 1);
    getnames(1, names.data(), 0, nrow - 1);
    getnames(2, names.data() + nrow * 9, 0, cols - 1);
    for (const char c : names) out << (c == 0 ? '|' : c);
    std::vector<char> types(static_cast<size_t>(cols) + 1);
    getcoltype(types.data(), 0, cols - 1);
    out << " " << std::string(types.data(), static_cast<size_t>(cols)) << " q";
    for (int32_t i = 0; i < cols; ++i)
      for (int32_t j = 0; j < cols; ++j) {
        double q = 0;
        get_qobj(i, j, &q);
        out << " " << q;
      }
    int32_t entity_cols[4] = {};
    get_global_arrays(entity_cols, nullptr, nullptr, nullptr, nullptr);
    out << " entity " << entity_cols[0];
    EXPECT_EQ(status_code, 0);
    return out.str();
  }
};

TEST_F(LoadedProblemGrowth, EveryKindOfGrowthKeepsWhatTheCallerSees) {
  const std::string before = caller_view();
  ASSERT_EQ(grow_problem_storage(4, 0, 0, 0), 0);
  EXPECT_EQ(caller_view(), before);
  ASSERT_EQ(grow_problem_storage(0, 6, 0, 0), 0);
  EXPECT_EQ(caller_view(), before);
  ASSERT_EQ(grow_problem_storage(3, 3, 500, 9), 0);
  EXPECT_EQ(caller_view(), before);
  EXPECT_EQ(spare_rows_left, 4);
  EXPECT_EQ(spare_cols_left, 6);
  EXPECT_EQ(spare_entities_left, 9);
  EXPECT_EQ(store.first_col, nrow + spare_rows_left + 1);
}

TEST_F(LoadedProblemGrowth, RefusedGrowthKeepsWhatTheCallerSees) {
  const std::string before = caller_view();
  fail_next_allocations(1);
  EXPECT_GT(grow_problem_storage(5, 5, 50, 5), 0);
  fail_next_allocations(0);
  EXPECT_EQ(caller_view(), before);
  EXPECT_EQ(spare_rows_left, 1);
  EXPECT_EQ(spare_cols_left, 1);
}

}  // namespace
}  // namespace kl
