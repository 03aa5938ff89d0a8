// Problem input and the MPS reader, through KLINPUT on small files written
// by the tests, checked through the query exports and the stored arrays.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "files/mps_entities.h"
#include "files/problem_input.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;

// A fixed-field data line: fields at columns 2, 5, 15, 25, 40 and 50.
std::string fx(const std::string& f1, const std::string& f2 = "", const std::string& f3 = "",
               const std::string& f4 = "", const std::string& f5 = "", const std::string& f6 = "") {
  std::string line(80, ' ');
  const int starts[] = {2, 5, 15, 25, 40, 50};
  const std::string* fields[] = {&f1, &f2, &f3, &f4, &f5, &f6};
  for (int k = 0; k < 6; ++k) line.replace(static_cast<size_t>(starts[k] - 1), fields[k]->size(), *fields[k]);
  line.erase(line.find_last_not_of(' ') + 1);
  return line + "\n";
}

// Two rows, two columns: the problem a failed read must leave in place.
const std::string kSmallLp = "NAME          SMALL\nROWS\n" + fx("N", "OBJ") + fx("L", "C1") + "COLUMNS\n" +
                             fx("", "X", "OBJ", "1", "C1", "1") + fx("", "Y", "OBJ", "2", "C1", "1") + "RHS\n" +
                             fx("", "RHS", "C1", "4") + "ENDATA\n";

class MpsReader : public kltest::LibrarySession {
 public:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }

  std::string write(const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  int32_t load(const std::string& text, const std::string& name = "p.mps") {
    return KLINPUT(write(name, text).c_str());
  }

  static int32_t attribute(int32_t n) {
    int32_t value = 0;
    KLGETIPV(n, &value);
    return value;
  }
  static std::vector<double> row_values(int32_t (*get)(double*, int32_t, int32_t)) {
    std::vector<double> v(static_cast<size_t>(attribute(1001)));
    get(v.data(), 0, static_cast<int32_t>(v.size()) - 1);
    return v;
  }
  static std::vector<double> column_values(int32_t (*get)(double*, int32_t, int32_t)) {
    std::vector<double> v(static_cast<size_t>(attribute(1018)));
    get(v.data(), 0, static_cast<int32_t>(v.size()) - 1);
    return v;
  }
  static std::string row_types() {
    std::string t(static_cast<size_t>(attribute(1001)), ' ');
    KLGETROWTYPE(t.data(), 0, static_cast<int32_t>(t.size()) - 1);
    return t;
  }
  // The column's elements as (row, value) in stored order.
  static std::vector<std::pair<int32_t, double>> column(int32_t c) {
    int32_t count = 0;
    int32_t starts[2] = {};
    KLGETCOLS(starts, nullptr, nullptr, 0, &count, c, c);
    std::vector<int32_t> rows(static_cast<size_t>(count) + 1);
    std::vector<double> values(static_cast<size_t>(count) + 1);
    KLGETCOLS(starts, rows.data(), values.data(), count, &count, c, c);
    std::vector<std::pair<int32_t, double>> out;
    for (int32_t k = 0; k < count; ++k) out.emplace_back(rows[static_cast<size_t>(k)], values[static_cast<size_t>(k)]);
    return out;
  }
  static std::string name_of(int32_t type, int32_t index) {
    std::vector<char> names(static_cast<size_t>(8 * attribute(1028) + 1));
    KLGETNAMES(type, names.data(), index, index);
    return std::string(names.data());
  }
  static std::string model_name(int32_t n) {
    char name[9] = {};
    KLGETCPV(n, name);
    return name;
  }
  // The small LP is the current problem.
  static void expect_small_lp_loaded() {
    EXPECT_EQ(kl::problem_state, 1);
    EXPECT_EQ(attribute(1001), 2);
    EXPECT_EQ(attribute(1018), 2);
    EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{1.0, 2.0}));
  }
  static void expect_no_problem() {
    double value = 0.0;
    EXPECT_EQ(KLGETOBJ(&value, 0, 0), KL_STATUS_REPORTED);
    EXPECT_EQ(kl::error_number, 91);
  }

  kltest::TempDir dir;
};

// Every core section on one file: the objective row among the others, a
// right-hand side on it, ranges on L, G and E rows of either sign, second
// RHS and BOUNDS vectors that are not read, and MI, FX and UP bounds.
const std::string kCoreLp = "NAME          TESTLP\nROWS\n" + fx("G", "LIM1") + fx("L", "LIM2") + fx("N", "COST") +
                            fx("E", "MYEQN") + fx("E", "RNGE") + "COLUMNS\n" +
                            fx("", "X1", "COST", "1.0", "LIM1", "1.0") + fx("", "X1", "LIM2", "1.0") +
                            fx("", "X2", "COST", "2.0", "LIM1", "1.0") + fx("", "X2", "MYEQN", "-1.0") +
                            fx("", "X3", "RNGE", "1.0", "MYEQN", "1.0");
const std::string kCoreRhs = "RHS\n" + fx("", "RHS", "COST", "5.0", "LIM1", "4.0") +
                             fx("", "RHS", "LIM2", "5.0", "MYEQN", "7.0") + fx("", "RHS", "RNGE", "2.0") +
                             fx("", "RHS2", "LIM2", "99.0");
const std::string kCoreRanges = "RANGES\n" + fx("", "RNG", "LIM1", "3.0", "LIM2", "-2.5") +
                                fx("", "RNG", "MYEQN", "-2.0", "RNGE", "4.0");
const std::string kCoreBounds = "BOUNDS\n" + fx("UP", "BND", "X1", "4.0") + fx("MI", "BND", "X2") +
                                fx("UP", "BND", "X2", "1.0") + fx("FX", "BND", "X3", "2.5") +
                                fx("UP", "BND2", "X1", "99.0") + "ENDATA\n";

void expect_core_lp() {
  // G + R: rhs..rhs+R; L + R<0: rhs-|R|..rhs; E + R<0: rhs-|R|..rhs; E + R>0: rhs..rhs+R.
  EXPECT_EQ(MpsReader::row_types(), "RRNRR");
  EXPECT_EQ(MpsReader::row_values(KLGETRHS), (std::vector<double>{7.0, 5.0, 5.0, 7.0, 6.0}));
  EXPECT_EQ(MpsReader::row_values(KLGETRNG), (std::vector<double>{3.0, 2.5, kInf, 2.0, 4.0}));
}

TEST_F(MpsReader, CoreSectionsReadAsTheFileSays) {
  ASSERT_EQ(load(kCoreLp + kCoreRhs + kCoreRanges + kCoreBounds), 0);
  EXPECT_EQ(attribute(1001), 5);
  EXPECT_EQ(attribute(1018), 3);
  EXPECT_EQ(attribute(1006), 8);
  expect_core_lp();
  // The objective row's right-hand side stays as given; the objective
  // constant is its negative.
  EXPECT_DOUBLE_EQ(kl::dcv(kl::kObjectiveConstantSlot), -5.0);
  EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{1.0, 2.0, 0.0}));
  EXPECT_EQ(column_values(KLGETBDL), (std::vector<double>{0.0, -kInf, 2.5}));
  EXPECT_EQ(column_values(KLGETBDU), (std::vector<double>{4.0, 1.0, 2.5}));
  // The objective row's entries are matrix elements too (IFNRW 1), in file order.
  EXPECT_EQ(column(0), (std::vector<std::pair<int32_t, double>>{{2, 1.0}, {0, 1.0}, {1, 1.0}}));
  EXPECT_EQ(column(1), (std::vector<std::pair<int32_t, double>>{{2, 2.0}, {0, 1.0}, {3, -1.0}}));
  EXPECT_EQ(name_of(1, 3), "MYEQN   ");
  EXPECT_EQ(name_of(2, 2), "X3      ");
  EXPECT_EQ(model_name(3001), "TESTLP");
  EXPECT_EQ(model_name(3002), "BND");
  EXPECT_EQ(model_name(3003), "COST");
  EXPECT_EQ(model_name(3004), "RHS");
  EXPECT_EQ(model_name(3005), "RNG");
}

TEST_F(MpsReader, RangesTakeEffectWhateverTheSectionOrder) {
  ASSERT_EQ(load(kCoreLp + kCoreRanges + kCoreRhs + kCoreBounds), 0);
  expect_core_lp();
}

TEST_F(MpsReader, FreeFieldsLongNamesTabsAndLongNumbers) {
  const std::string text =
      "NAME free_model\nROWS\n N objective_row\n L a_constraint_name\nCOLUMNS\n"
      " first_long_column\tobjective_row\t-1.23456789012e+05\ta_constraint_name 1.5D+00\n"
      " x2 a_constraint_name 2\nRHS\n rhs a_constraint_name 10\nBOUNDS\n UP bnd x2 3\n MI bnd first_long_column\n"
      "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  EXPECT_EQ(attribute(1028), 3);  // names of up to 24 characters
  EXPECT_EQ(name_of(1, 1), "a_constraint_name       ");
  EXPECT_EQ(name_of(2, 0), "first_long_column       ");
  EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{-123456.789012, 0.0}));
  EXPECT_EQ(column(0)[1], (std::pair<int32_t, double>{1, 1.5}));
  EXPECT_EQ(row_values(KLGETRHS), (std::vector<double>{0.0, 10.0}));
  EXPECT_EQ(column_values(KLGETBDL), (std::vector<double>{-kInf, 0.0}));
  EXPECT_EQ(column_values(KLGETBDU), (std::vector<double>{kInf, 3.0}));
  // NAMLEN and FREFMT are the caller's again after the read.
  EXPECT_EQ(kl::icv(kl::ic::NAMLEN), 8);
  EXPECT_EQ(kl::icv(kl::ic::FREFMT), -1);
}

// A fixed number field is read up to the gap before the next field, and the
// last one to its end, even past column 61: never its first digits only.
TEST_F(MpsReader, FixedNumbersAreReadWhole) {
  KLSETICV(KLIC_FREFMT, 0);
  const std::string head = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n";
  ASSERT_EQ(load(head + fx("", "X", "OBJ", "1.234567890123", "C", "-1.23456789012e+05") + "ENDATA\n"), 0);
  EXPECT_EQ(column(0), (std::vector<std::pair<int32_t, double>>{{0, 1.234567890123}, {1, -123456.789012}}));
  // Running on into field 5 is no number.
  EXPECT_EQ(load(head + fx("", "X", "C", "-1.23456789012e+05") + "ENDATA\n"), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 153);
}

// IFNRW < 0 drops the N rows: the other rows move up, the freed positions
// become spare rows, and the objective still comes from the first N row.
TEST_F(MpsReader, DroppedFreeRowsRenumberTheOthers) {
  KLSETICV(KLIC_IFNRW, -1);
  const std::string text = "NAME\nROWS\n" + fx("L", "R1") + fx("N", "OBJ") + fx("N", "OTHER") + fx("G", "R2") +
                           "COLUMNS\n" + fx("", "X", "OBJ", "3", "R2", "2") + fx("", "X", "OTHER", "9", "R1", "1") +
                           "RHS\n" + fx("", "RHS", "R2", "1", "OBJ", "-4") + "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  EXPECT_EQ(attribute(1001), 2);
  EXPECT_EQ(attribute(1019), 2);
  EXPECT_EQ(row_types(), "LG");
  EXPECT_EQ(name_of(1, 1), "R2      ");
  EXPECT_EQ(column(0), (std::vector<std::pair<int32_t, double>>{{1, 2.0}, {0, 1.0}}));
  EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{3.0}));
  EXPECT_EQ(row_values(KLGETRHS), (std::vector<double>{0.0, 1.0}));
  EXPECT_DOUBLE_EQ(kl::dcv(kl::kObjectiveConstantSlot), 4.0);
  EXPECT_EQ(kl::store.objective_row, -1);
}

TEST_F(MpsReader, EntitiesFromMarkersAndBoundTypes) {
  const std::string text =
      "NAME          ENT\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n" +
      fx("", "M", "'MARKER'", "", "'INTORG'") + fx("", "I1", "C", "1") + fx("", "I2", "C", "1") +
      fx("", "I3", "C", "1") + fx("", "I4", "C", "1") + fx("", "M", "'MARKER'", "", "'INTEND'") +
      fx("", "C1", "C", "1") + fx("", "C2", "C", "1") + fx("", "C3", "C", "1") + fx("", "C4", "C", "1") +
      fx("", "C5", "C", "1") + "RHS\n" + fx("", "RHS", "C", "10") + "BOUNDS\n" + fx("UP", "BND", "I1", "1") +
      fx("UI", "BND", "I2", "5") + fx("SC", "BND", "I3", "5.3") + fx("LI", "BND", "C1", "2") +
      fx("PI", "BND", "C2", "7") + fx("BV", "BND", "C3") + fx("SC", "BND", "C4", "8") + fx("UI", "BND", "C5", "3.7") +
      "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  EXPECT_EQ(attribute(1003), 9);
  // UP 1 on an integer column makes it binary; UI on an entity is refused
  // (message 106) and leaves [0, 1]; SC on an integer column makes it
  // semi-integer with upper trunc(5.3 + 1 - ZTOLIS).
  EXPECT_EQ(column_values(KLGETBDU)[0], 1.0);
  EXPECT_EQ(column_values(KLGETBDU)[1], 1.0);
  EXPECT_TRUE(kltest::any_line_contains("already a global entity") && kltest::any_line_contains("I2, line 21"));
  EXPECT_EQ(column_values(KLGETBDU)[2], 6.0);
  EXPECT_EQ(column_values(KLGETBDU)[3], 1.0);
  EXPECT_EQ(column_values(KLGETBDL)[4], 2.0);
  EXPECT_EQ(column_values(KLGETBDU)[4], kl::icv(kl::ic::INTMAX));
  EXPECT_EQ(column_values(KLGETBDU)[6], 1.0);
  EXPECT_EQ(column_values(KLGETBDU)[7], 8.0);
  EXPECT_EQ(column_values(KLGETBDU)[8], 3.0);

  kl::OneBased<int32_t> type = kl::int_array(kl::ARR_ENTITY_TYPE);
  kl::OneBased<int32_t> status = kl::int_array(kl::ARR_POS_STATUS);
  const int32_t first = kl::store.first_col;
  const std::vector<int32_t> words = {1, 1, 1, 1, 1, 4 + 16 * 7, 3, 2, 1};
  for (int32_t e = 1; e <= 9; ++e) {
    EXPECT_EQ(type[e], words[static_cast<size_t>(e - 1)]) << "entity " << e;
    EXPECT_EQ(kl::int_array(kl::ARR_ENTITY_COLUMN)[e], first + e - 1);
  }
  EXPECT_NE(status[first] & kl::PS_BINARY, 0);
  EXPECT_EQ(status[first + 2] & (kl::PS_INTEGER | kl::PS_SEMICONTINUOUS), kl::PS_INTEGER | kl::PS_SEMICONTINUOUS);
  EXPECT_NE(status[first + 5] & kl::PS_PARTIAL_INTEGER, 0);
  EXPECT_EQ(kl::real_array(kl::ARR_SEMICONT_LIMIT)[8], 1.0);
  std::string letters(9, ' ');
  KLGETCOLTYPE(letters.data(), 0, 8);
  EXPECT_EQ(letters, "IIIIIPBSI");
}

// 'INTORG' without 'INTEND' (as some published files have it): a warning,
// and the block ends with COLUMNS.
TEST_F(MpsReader, AnIntegerBlockLeftOpenEndsWithTheColumns) {
  const std::string text = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n" +
                           fx("", "M", "'MARKER'", "", "'INTORG'") + fx("", "X", "C", "1") + fx("", "Y", "C", "1") +
                           "RHS\n" + fx("", "RHS", "C", "1") + "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  EXPECT_TRUE(kltest::any_line_contains("still open") && kltest::any_line_contains("line 9 of"));
  std::string letters(2, ' ');
  KLGETCOLTYPE(letters.data(), 0, 1);
  EXPECT_EQ(letters, "II");
  EXPECT_EQ(column_values(KLGETBDU), (std::vector<double>{1.0, 1.0}));
}

TEST_F(MpsReader, SetsTakeReferenceValuesFromTheirRowOrTheirLines) {
  const std::string text =
      "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C1") + "COLUMNS\n" + fx("", "X1", "C1", "3") +
      fx("", "X2", "C1", "1") + fx("", "X3", "C1", "2") + fx("", "X4", "OBJ", "1") + "SETS\n" +
      fx("S2", "SOS2", "C1") + fx("", "SOS2", "X1") + fx("", "SOS2", "X2") + fx("", "SOS2", "X3") + fx("S1", "SOS1") +
      fx("", "SOS1", "X1", "30", "X4", "10") + fx("", "SOS1", "X3", "20") + fx("", "SOS1", "X2", "40") + "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  int32_t entities = 0, sets = 0;
  char set_types[3] = {};
  int32_t starts[3] = {}, columns[7] = {};
  double refs[7] = {};
  ASSERT_EQ(KLGETGLOBAL(&entities, &sets, nullptr, nullptr, nullptr, set_types, starts, columns, refs), 0);
  EXPECT_EQ(sets, 2);
  EXPECT_EQ(std::string(set_types, 2), "21");
  EXPECT_EQ(attribute(1005), 7);
  EXPECT_EQ((std::vector<int32_t>(columns, columns + 7)), (std::vector<int32_t>{1, 2, 0, 3, 2, 0, 1}));
  EXPECT_EQ((std::vector<double>(refs, refs + 7)), (std::vector<double>{1, 2, 3, 10, 20, 30, 40}));
  EXPECT_EQ(kl::int_array(kl::ARR_SET_WORD)[1], 2);
  EXPECT_EQ(kl::int_array(kl::ARR_SET_WORD)[2], -1);
}

TEST_F(MpsReader, QuadraticSectionsGiveOneSymmetricMatrix) {
  const std::string lp = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n" + fx("", "X1", "C", "1") +
                         fx("", "X2", "C", "1") + fx("", "X3", "C", "1");
  // One triangle, then both triangles of the same matrix, then two
  // sections that add up (the second must not write where the first was).
  const std::string sections[] = {
      "QUADOBJ\n" + fx("", "X1", "X1", "2") + fx("", "X1", "X2", "3") + fx("", "X2", "X2", "4"),
      "QMATRIX\n" + fx("", "X1", "X1", "2") + fx("", "X2", "X1", "3") + fx("", "X1", "X2", "3") +
          fx("", "X2", "X2", "4"),
      "QUADOBJ\n" + fx("", "X1", "X1", "2") + fx("", "X1", "X2", "3") + "QUADOBJ\n" + fx("", "X2", "X2", "4"),
  };
  const std::string rhs_and_bounds = "RHS\n" + fx("", "RHS", "C", "4") + "BOUNDS\n" + fx("UP", "BND", "X3", "2");
  for (const std::string& section : sections) {
    ASSERT_EQ(load(lp + section + rhs_and_bounds + "ENDATA\n"), 0) << section;
    EXPECT_EQ(row_values(KLGETRHS), (std::vector<double>{0.0, 4.0}));
    EXPECT_EQ(column_values(KLGETBDU), (std::vector<double>{kInf, kInf, 2.0}));
    EXPECT_EQ(column(1), (std::vector<std::pair<int32_t, double>>{{1, 1.0}}));
    EXPECT_EQ(attribute(1030), 4);
    double q[3][3] = {};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) KLGETQOBJ(i, j, &q[i][j]);
    EXPECT_EQ(q[0][0], 2.0);
    EXPECT_EQ(q[0][1], 3.0);
    EXPECT_EQ(q[1][0], 3.0);
    EXPECT_EQ(q[1][1], 4.0);
    EXPECT_EQ(q[2][2], 0.0);
    EXPECT_NE(kl::int_array(kl::ARR_POS_STATUS)[kl::store.first_col] & kl::PS_QUADRATIC, 0);
    EXPECT_EQ(kl::int_array(kl::ARR_POS_STATUS)[kl::store.first_col + 2] & kl::PS_QUADRATIC, 0);
  }
}

TEST_F(MpsReader, RecurseEntriesAndTheirChains) {
  const std::string text = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + fx("E", "D") + "COLUMNS\n" +
                           fx("", "X1", "C", "1", "D", "2") + fx("", "X2", "C", "1") + "RHS\n" + fx("", "RHS", "C", "5") +
                           "BOUNDS\n" + fx("UP", "BND", "X2", "7") + "RECURSE\n" + fx("DV", "X1", "D", "2.5", "X2", "C") +
                           fx("CV", "X1", "", "0.25") + fx("NE", "C") + fx("SB", "X2", "", "", "X1") +
                           fx("CV", "X2", "", "0.5") + "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  ASSERT_EQ(kl::recurse_entry_count, 5);
  const kl::RecurseEntry* e = kl::recurse_entries();
  const int32_t first = kl::store.first_col;
  EXPECT_EQ(e[0].kind, kl::RK_DV);
  EXPECT_EQ(e[0].column, first);
  EXPECT_EQ(e[0].row, 3);
  EXPECT_EQ(e[0].a, first + 1);
  EXPECT_EQ(e[0].b, 2);
  EXPECT_EQ(e[0].base, 2.5);
  float tolerance = 0.0f;
  std::memcpy(&tolerance, &e[1].a, sizeof tolerance);
  EXPECT_EQ(tolerance, 0.25f);
  EXPECT_EQ(e[2].kind, kl::RK_NE);
  EXPECT_EQ(e[2].row, 2);
  EXPECT_EQ(e[3].kind, kl::RK_SB);
  EXPECT_EQ(e[3].a, first);
  // CV entries chain 2 -> 5; the SB column's lower bound is minus its upper.
  EXPECT_EQ(kl::recurse_chains.first_cv_entry, 2);
  EXPECT_EQ(e[1].row, 5);
  EXPECT_EQ(kl::recurse_chains.cv_entry_count, 2);
  EXPECT_EQ(kl::recurse_chains.first_sb_entry, 4);
  EXPECT_EQ(column_values(KLGETBDL)[1], -7.0);
}

// Set members beyond the pre-scan's count (two members on a line) and a
// right-hand side far from the fixed field's width still read whole.
TEST_F(MpsReader, StorageGrowsWithWhatTheFileHolds) {
  std::string text = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n";
  for (int j = 1; j <= 40; ++j) text += fx("", "X" + std::to_string(j), "C", "1");
  text += "SETS\n" + fx("S1", "S");
  for (int j = 1; j <= 40; j += 2) {
    text += fx("", "S", "X" + std::to_string(j), std::to_string(j), "X" + std::to_string(j + 1), std::to_string(j + 1));
  }
  text += "ENDATA\n";
  ASSERT_EQ(load(text), 0);
  EXPECT_EQ(attribute(1005), 40);
}

TEST_F(MpsReader, IgnoreLetsCountedErrorsThroughButNeverABadNumber) {
  const std::string head = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n" + fx("", "X", "C", "1");
  const std::string three_unknown = fx("", "X", "U1", "1") + fx("", "X", "U2", "1") + fx("", "X", "U3", "1");
  KLSETICV(KLIC_IGNORE, 3);
  EXPECT_EQ(load(head + three_unknown + "ENDATA\n"), 0);
  EXPECT_EQ(load(head + three_unknown + fx("", "X", "U4", "1") + "ENDATA\n"), KL_STATUS_REPORTED);
  KLSETICV(KLIC_IGNORE, 9999);
  EXPECT_EQ(load(head + fx("", "X", "C", "1.x") + "ENDATA\n"), KL_STATUS_REPORTED);
}

// Each malformed file: its message (the first error number), status 32, a
// diagnostic that names the line, and the problem loaded before it intact.
TEST_F(MpsReader, MalformedFilesAreRefusedAndLeaveTheLoadedProblem) {
  const std::string rows = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + fx("E", "E1");
  const std::string columns = "COLUMNS\n" + fx("", "X", "OBJ", "1", "C", "1") + fx("", "Y", "C", "2", "E1", "1");
  const std::string lp = rows + columns;
  std::string binary;
  for (int k = 0; k < 600; ++k) binary.push_back(static_cast<char>(128 + (k * 37) % 120));
  struct Case {
    const char* what;
    std::string text;
    int32_t message;
    const char* where;  // text of the diagnostic, "" when the message has no line
  };
  const Case cases[] = {
      {"unknown section", lp + "OBJSENSE\n    MAX\nENDATA\n", 153, "line 9 of"},
      {"bad number", lp + "RHS\n" + fx("", "RHS", "C", "1.2.3") + "ENDATA\n", 153, "line 10 of"},
      {"number with a comma", rows + "COLUMNS\n" + fx("", "X", "C", "1,5") + "ENDATA\n", 153, "line 7 of"},
      {"undefined row in COLUMNS", rows + "COLUMNS\n" + fx("", "X", "NOROW", "1") + "ENDATA\n", 98, "NOROW, line 7"},
      {"undefined row in RHS", lp + "RHS\n" + fx("", "RHS", "NOROW", "1") + "ENDATA\n", 98, "NOROW, line 10"},
      {"undefined row in RANGES", lp + "RANGES\n" + fx("", "RNG", "NOROW", "1") + "ENDATA\n", 98, "NOROW, line 10"},
      {"bound on an unknown column", lp + "BOUNDS\n" + fx("UP", "BND", "Z", "1") + "ENDATA\n", 6, "Z, line 10"},
      {"duplicate row", rows + fx("G", "C") + columns + "ENDATA\n", 111, "C, line 6"},
      {"column lines apart", lp + fx("", "X", "E1", "3") + "ENDATA\n", 97, "X, line 9"},
      {"marker end outside a block", rows + "COLUMNS\n" + fx("", "M", "'MARKER'", "", "'INTEND'") + "ENDATA\n", 151,
       "line 7 of"},
      {"bad row type", "NAME\nROWS\n" + fx("N", "OBJ") + fx("Q", "C") + "COLUMNS\n" + fx("", "X", "OBJ", "1") +
                           "ENDATA\n", 153, "line 4 of"},
      {"data before any section", fx("", "X", "C", "1") + lp + "ENDATA\n", 153, "line 1 of"},
      {"bad bound type", lp + "BOUNDS\n" + fx("XX", "BND", "X", "1") + "ENDATA\n", 153, "line 10 of"},
      {"negative upper bound above a zero lower one", lp + "BOUNDS\n" + fx("UP", "BND", "X", "-5") + "ENDATA\n", 29,
       ""},
      {"RHS before COLUMNS", rows + "RHS\n" + fx("", "RHS", "C", "1") + columns + "ENDATA\n", 361, "line 6 of"},
      {"ENDATA without COLUMNS", rows + "ENDATA\n", 361, "line 6 of"},
      {"quadratic section before COLUMNS", rows + "QUADOBJ\n" + columns + "ENDATA\n", 361, "line 6 of"},
      {"no rows", "NAME\nROWS\nCOLUMNS\n" + fx("", "X", "C", "1") + "ENDATA\n", 7, ""},
      {"quadratic pair twice", lp + "QUADOBJ\n" + fx("", "X", "Y", "1") + fx("", "Y", "X", "1") + "ENDATA\n", 362, ""},
      {"quadratic triangles differ", lp + "QMATRIX\n" + fx("", "X", "Y", "3") + fx("", "Y", "X", "4") + "ENDATA\n",
       362, ""},
      {"quadratic column unknown", lp + "QUADOBJ\n" + fx("", "X", "Z", "1") + "ENDATA\n", 6, "Z, line 10"},
      {"bad set header", lp + "SETS\n" + fx("S3", "SET") + "ENDATA\n", 77, "line 10 of"},
      {"no ENDATA", lp, 152, "line 8 of"},
      {"empty file", "", 152, "line 0 of"},
      {"name longer than a name can be", "NAME\nROWS\n N OBJ\n L " + std::string(201, 'C') + "\nENDATA\n", 971,
       "line 4 of"},
      {"number longer than a number can be", lp + "RHS\n    RHS C " + std::string(201, '1') + "\nENDATA\n", 971,
       "line 10 of"},
      {"binary file", binary, 971, "line 1 of"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(load(kSmallLp, "good.mps"), 0);
    kltest::captured_lines().clear();
    EXPECT_EQ(load(c.text, "bad.mps"), KL_STATUS_REPORTED);
    EXPECT_EQ(kl::error_number, c.message);
    if (c.where[0] != '\0') {
      EXPECT_TRUE(kltest::any_line_contains(c.where));
      EXPECT_TRUE(kltest::any_line_contains("bad.mps"));
    }
    expect_small_lp_loaded();
  }
  // A missing file: message 85 naming the first extension tried, and the
  // extensions tried after the stem.
  kltest::captured_lines().clear();
  EXPECT_EQ(KLINPUT(dir.file("missing").c_str()), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 85);
  EXPECT_TRUE(kltest::any_line_contains(dir.file("missing.mat")));
  EXPECT_TRUE(kltest::any_line_contains("mat mps qps lp after " + dir.file("missing") + "."));
  expect_small_lp_loaded();
}

// Blank padding, long comments and what a fixed line holds past its last
// field lose nothing, so lines of any length read; only a name or number
// too long to keep fails (in MalformedFilesAreRefusedAndLeaveTheLoadedProblem).
TEST_F(MpsReader, LongLinesReadWhenNothingIsLost) {
  const std::string padding(300, ' ');
  const std::string tabs(250, '\t');
  const auto padded = [&padding](const std::string& line) { return line.substr(0, line.size() - 1) + padding + "\n"; };
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"long comment", "* " + std::string(5000, 'c') + "\n" + kSmallLp},
      {"fixed lines padded with blanks",
       "NAME          SMALL" + padding + "\nROWS" + padding + "\n N  OBJ" + padding + "\n L  C1" + padding +
           "\nCOLUMNS\n" + padded(fx("", "X", "OBJ", "1", "C1", "1")) + padded(fx("", "Y", "OBJ", "2", "C1", "1")) +
           "RHS\n" + padded(fx("", "RHS", "C1", "4")) + "ENDATA" + padding + "\n"},
      {"free fields far apart",
       "NAME SMALL\nROWS\n N OBJ\n L" + padding + "C1\nCOLUMNS\n X" + padding + "OBJ" + tabs + "1 C1 1\n Y OBJ 2" +
           padding + "C1 1\nRHS\n RHS C1" + padding + "4" + padding + "\nENDATA\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kl::problem_state = 0;
    ASSERT_EQ(load(c.text), 0);
    expect_small_lp_loaded();
    EXPECT_EQ(row_values(KLGETRHS), (std::vector<double>{0.0, 4.0}));
  }
}

// A file that reads but fails the checks of the set-up (set members too
// close together), and one whose problem store cannot be had, are refused
// before the loaded problem is given up.
TEST_F(MpsReader, AFailedSetCheckOrShortageLeavesTheLoadedProblem) {
  ASSERT_EQ(load(kSmallLp), 0);
  const std::string text = "NAME\nROWS\n" + fx("N", "OBJ") + "COLUMNS\n" + fx("", "X1", "OBJ", "1") +
                           fx("", "X2", "OBJ", "1") + "SETS\n" + fx("S1", "S") + fx("", "S", "X1", "1", "X2", "1.0005") +
                           "ENDATA\n";
  kltest::captured_lines().clear();
  EXPECT_EQ(load(text), KL_STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("reference value too close"));
  expect_small_lp_loaded();
  // With IGNORE above the weight of the check the file loads, and the
  // member is reported once.
  KLSETICV(KLIC_IGNORE, 20000);
  kltest::captured_lines().clear();
  EXPECT_EQ(load(text), 0);
  EXPECT_EQ(attribute(1004), 1);  // nsets
  size_t reports = 0;
  for (const kltest::CapturedLine& line : kltest::captured_lines()) reports += line.text.find("X2") != std::string::npos;
  EXPECT_EQ(reports, 1u);
  KLSETICV(KLIC_IGNORE, 0);
  // Storage that cannot be had: message 20 with the array id.
  ASSERT_EQ(load(kSmallLp), 0);
  kl::fail_next_allocations(1);
  EXPECT_EQ(load(kSmallLp + "", "other.mps"), KL_STATUS_REPORTED);
  kl::fail_next_allocations(0);
  EXPECT_EQ(kl::error_number, 20);
  EXPECT_TRUE(kltest::any_line_contains("array number      1"));
  expect_small_lp_loaded();
}

TEST_F(MpsReader, NothingIsLoadedAfterAFailedFirstRead) {
  EXPECT_EQ(load("NAME\nROWS\n"), KL_STATUS_REPORTED);
  expect_no_problem();
}

class ProblemInput : public MpsReader {};

TEST_F(ProblemInput, ExtensionsAreTriedInTurnWithTheCallersCase) {
  const std::string mat = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "A") + fx("L", "B") + "COLUMNS\n" +
                          fx("", "X", "A", "1") + "ENDATA\n";
  write("both.mat", mat);
  write("both.mps", kSmallLp);
  write("both.lp", "minimize\n x\nend\n");
  ASSERT_EQ(KLINPUT(dir.file("both").c_str()), 0);
  EXPECT_EQ(attribute(1001), 3);  // "mat" comes first
  write("Mixed.MPS", kSmallLp);
  ASSERT_EQ(KLINPUT(dir.file("Mixed").c_str()), 0);
  expect_small_lp_loaded();
  EXPECT_EQ(KLINPUT(dir.file("mixed").c_str()), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 85);
  // An explicit extension names the file; only "lp" in lower case is the LP format.
  write("upper.LP", kSmallLp);
  ASSERT_EQ(KLINPUT(dir.file("upper.LP").c_str()), 0);
  char stem[512] = {};
  KLGETPROB(stem);
  EXPECT_EQ(std::string(stem), dir.file("upper"));
}

// The INPUT command hands the file name over in the command line: with an
// extension the file as given, without one the extensions in turn; either
// way the stem becomes the problem name.
TEST_F(ProblemInput, CommandLineNamesTheFile) {
  write("cmd.mps", kSmallLp);
  for (const std::string& argument : {"  " + dir.file("cmd.mps") + " ", dir.file("cmd")}) {
    kl::set_command_argument(argument.c_str());
    kl::input_problem();
    EXPECT_EQ(kl::status_code, 0);
    expect_small_lp_loaded();
    EXPECT_EQ(kl::get_problem_name(), dir.file("cmd"));
    EXPECT_EQ(kl::command_line.length, 0);
  }
  kl::set_command_argument(dir.file("cmd.qps").c_str());
  kl::input_problem();
  EXPECT_EQ(kl::status_code, KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 85);
}

TEST_F(ProblemInput, TheExtensionSearchFindsLpFormatFiles) {
  ASSERT_EQ(load(kSmallLp), 0);
  write("only.lp", "minimize\n x + 2 y\nsubject to\n c: x + y >= 1\nend\n");
  for (const std::string& name : {dir.file("only"), dir.file("only.lp")}) {
    ASSERT_EQ(load(kSmallLp), 0);
    EXPECT_EQ(KLINPUT(name.c_str()), 0);
    EXPECT_EQ(attribute(1001), 1);
    EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{1.0, 2.0}));
  }
  // Both an MPS and an LP file: the MPS file comes first, option letter l
  // (the INPUT command's) starts the search at "lp".
  write("only.mps", kSmallLp);
  kl::set_problem_name(dir.file("only").c_str());
  kl::input_problem();
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(row_types(), "NL");
  kl::set_problem_name(dir.file("only").c_str());
  kl::set_option_letters("l");
  kl::input_problem();
  kl::clear_option_letters();
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(row_types(), "G");
  // Only the exact lower-case extension chooses the LP reader.
  write("upper.LP", "minimize\n x\nend\n");
  EXPECT_EQ(KLINPUT(dir.file("upper.LP").c_str()), KL_STATUS_REPORTED);
  EXPECT_EQ(row_types(), "G");
}

// Whatever way a read fails, through KLINPUT or the INPUT command, the
// problem loaded before it keeps its data, its name, its controls and its
// solution; the next optimisation writes its solution under that name.
TEST_F(ProblemInput, AFailedReadLeavesTheProblemItsNameAndItsSolution) {
  const std::string lp = "NAME\nROWS\n" + fx("N", "OBJ") + fx("L", "C") + "COLUMNS\n" + fx("", "X", "OBJ", "1", "C", "1");
  write("only.lp", "minimize\n x\nend\n");
  struct Case {
    const char* what;
    std::string name;  // as given
    std::string text;  // written to that name unless empty
    int32_t message;
    int32_t failing_allocations;
  };
  const Case cases[] = {
      {"missing file", "absent", "", 85, 0},
      {"missing file with an extension", "absent.mps", "", 85, 0},
      {"syntax error", "bad.mps", lp + fx("", "X", "C", "1.x") + "ENDATA\n", 153, 0},
      {"failing set check (a warning per member, status 32)",
       "sets.mps", lp + fx("", "Y", "OBJ", "1") + "SETS\n" + fx("S1", "S") + fx("", "S", "X", "1", "Y", "1.0005") + "ENDATA\n",
       0, 0},
      {"bad entity bound", "entity.mps", lp + "BOUNDS\n" + fx("LI", "BND", "X", "-1e12") + "ENDATA\n", 972, 0},
      {"no memory for the new problem", "fine.mps", kSmallLp, 20, 1},
      {"LP format error", "bad.lp", "minimize\n x\nsubject to\n x + y\nend\n", 509, 0},
      {"LP format refused before the hand-over", "crossed.lp", "min\n x\nst\n x + y >= 1\nbounds\n x >= 3\n x <= 2\nend\n",
       536, 0},
  };
  const std::string good = write("good.mps", kSmallLp);
  for (const bool command : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (command ? " (INPUT command)" : " (KLINPUT)"));
      ASSERT_EQ(KLINPUT(good.c_str()), 0);
      ASSERT_EQ(KLMAXIM(""), 0);
      double x[2] = {};
      ASSERT_EQ(KLSOLUTION(x, nullptr, nullptr, nullptr), 0);
      ASSERT_EQ(x[1], 4.0);
      const int32_t state = kl::problem_state;
      int32_t controls[kl::kIntControlCount + 1];
      std::memcpy(controls, kl::integer_controls, sizeof controls);

      const std::string path = c.text.empty() ? dir.file(c.name) : write(c.name, c.text);
      kltest::captured_lines().clear();
      kl::fail_next_allocations(c.failing_allocations);
      if (command) {
        kl::set_command_argument(path.c_str());
        kl::input_problem();
      } else {
        KLINPUT(path.c_str());
      }
      kl::fail_next_allocations(0);
      EXPECT_EQ(kl::status_code, KL_STATUS_REPORTED);
      EXPECT_EQ(kl::error_number, c.message);

      char stem[512] = {};
      KLGETPROB(stem);
      EXPECT_EQ(std::string(stem), dir.file("good"));
      EXPECT_EQ(kl::problem_state, state);
      EXPECT_EQ(attribute(1001), 2);
      EXPECT_EQ(column_values(KLGETOBJ), (std::vector<double>{1.0, 2.0}));
      EXPECT_EQ(attribute(KLIA_LPSTATUS), 1);
      double objective = 0.0;
      KLGETDPV(KLDA_OBJVAL, &objective);
      EXPECT_EQ(objective, 8.0);
      double after[2] = {};
      EXPECT_EQ(KLSOLUTION(after, nullptr, nullptr, nullptr), 0);
      EXPECT_EQ(after[1], 4.0);
      EXPECT_EQ(std::memcmp(controls, kl::integer_controls, sizeof controls), 0);
      std::remove(dir.file("good.sol").c_str());
      ASSERT_EQ(KLMAXIM(""), 0);
      EXPECT_TRUE(std::ifstream(dir.file("good.sol")).good());
    }
  }
  // The missing file with an extension is named as given, not with another
  // extension behind it.
  kltest::captured_lines().clear();
  KLINPUT(dir.file("absent.mps").c_str());
  EXPECT_TRUE(kltest::any_line_contains("Cannot open file for reading: " + dir.file("absent.mps")));
  EXPECT_FALSE(kltest::any_line_contains("absent.mps.mat"));
}

TEST_F(ProblemInput, CapacityControlsAreTheCallersAgainAfterTheRead) {
  int32_t before[4] = {};
  const int controls[] = {KLIC_M_R, KLIC_M_C, KLIC_M_M, KLIC_NGEMAX};
  for (int k = 0; k < 4; ++k) KLGETICV(controls[k], &before[k]);
  ASSERT_EQ(load(kCoreLp + kCoreRhs + kCoreRanges + kCoreBounds), 0);
  for (int k = 0; k < 4; ++k) {
    int32_t after = 0;
    KLGETICV(controls[k], &after);
    EXPECT_EQ(after, before[k]);
  }
  EXPECT_EQ(KLINPUT(nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 86);
}

}  // namespace
