// KLLOADBASIS, KLGETBASIS and their I-forms: a basis round-trips and
// restarts the optimiser where it left off, bad codes are refused before
// anything changes, surplus basic columns and unread cut rows are placed as
// the header allows, and the solution file's basis agrees with memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/frame.h"
#include "simplex/access_fixture.h"
#include "simplex/basis_access.h"
#include "support/output_capture.h"

namespace {

using namespace kl;
using kltest::AccessProblem;

struct Codes {
  std::vector<int32_t> rows, columns;
  explicit Codes(const AccessProblem& p)
      : rows(static_cast<size_t>(p.nrows()), -1), columns(static_cast<size_t>(p.ncols()), -1) {}
  int32_t get(bool internal) { return (internal ? KLIGETBASIS : KLGETBASIS)(rows.data(), columns.data()); }
  bool operator==(const Codes& o) const { return rows == o.rows && columns == o.columns; }
};

class BasisAccess : public kltest::AccessTest {};

// The optimal basis read from the file equals memory (a non-basic G row reads
// 2 from both); loaded into a fresh copy of the problem, it reads back the
// same and the optimiser needs no iteration to confirm it.
TEST_F(BasisAccess, LoadedBasisRoundTripsAndRestartsTheOptimiser) {
  for (const int32_t scaling : {0, 35}) {
    SCOPED_TRACE(scaling);
    KLSETICV(KLIC_IFSCAL, scaling);
    const AccessProblem p = kltest::mixed_rows();
    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLMINIM("p"), 0);
    ASSERT_GT(kltest::int_attribute_value(1009), 0);
    Codes file(p), memory(p);
    ASSERT_EQ(file.get(false), 0);
    ASSERT_EQ(memory.get(true), 0);
    EXPECT_TRUE(file == memory);
    EXPECT_EQ(file.rows[0], BASIS_AT_UPPER) << "non-basic G row";
    EXPECT_EQ(file.rows[1], BASIS_AT_LOWER) << "non-basic L row";
    EXPECT_EQ(file.columns[2], BASIS_AT_LOWER);

    ASSERT_EQ(load(p), 0);
    ASSERT_EQ(KLLOADBASIS(file.rows.data(), file.columns.data()), 0);
    Codes loaded(p);
    ASSERT_EQ(loaded.get(true), 0);
    EXPECT_TRUE(loaded == file);
    EXPECT_EQ(loaded_basic_count, p.nrows());
    ASSERT_EQ(KLMINIM("p"), 0);
    EXPECT_EQ(kltest::int_attribute_value(1009), 0);
    EXPECT_NEAR(kltest::objective_value(), 2.5, 1e-9);
  }
}

// A bad code anywhere is refused with the caller's index of the row or
// column, and the basis stays as it was.
TEST_F(BasisAccess, BadCodesAreRefusedBeforeAnythingChanges) {
  struct Case {
    const char* name;
    bool row;
    int32_t index;
    int32_t code;
    int32_t message;
  };
  const Case cases[] = {
      {"row code 3", true, 3, 3, 410},
      {"row code -1", true, 0, -1, 410},
      {"column code 7", false, 2, 7, 411},
  };
  const AccessProblem p = kltest::mixed_rows();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(load(p), 0);
    Codes before(p);
    ASSERT_EQ(before.get(true), 0);
    Codes bad(p);
    for (int32_t& r : bad.rows) r = BASIS_AT_LOWER;
    for (int32_t& j : bad.columns) j = BASIS_BASIC;
    (c.row ? bad.rows : bad.columns)[static_cast<size_t>(c.index)] = c.code;
    kltest::captured_lines().clear();
    EXPECT_EQ(KLLOADBASIS(bad.rows.data(), bad.columns.data()), KL_STATUS_REPORTED);
    EXPECT_EQ(error_number, c.message);
    EXPECT_EQ(error_value, c.index);
    EXPECT_TRUE(kltest::any_line_contains("ldbasis"));
    Codes after(p);
    ASSERT_EQ(after.get(true), 0);
    EXPECT_TRUE(after == before);
  }
  // With IFDBG 0 the caller counts from 1, and so does the message.
  KLSETICV(KLIC_IFDBG, 0);
  Codes bad(p);
  for (int32_t& r : bad.rows) r = BASIS_BASIC;
  for (int32_t& j : bad.columns) j = BASIS_AT_LOWER;
  bad.columns[1] = 5;
  EXPECT_EQ(KLILOADBASIS(bad.rows.data(), bad.columns.data()), KL_STATUS_REPORTED);
  EXPECT_EQ(error_value, 2);
  EXPECT_EQ(KLILOADBASIS(nullptr, bad.columns.data()), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 601);
}

// More basic columns than free header slots: the first ones in column order
// take the slots, the rest stay at their lower bound.
TEST_F(BasisAccess, SurplusBasicColumnsStayNonBasic) {
  const AccessProblem p = kltest::production_with_extra_column();
  ASSERT_EQ(load(p), 0);
  Codes codes(p);
  codes.rows = {BASIS_BASIC, BASIS_AT_LOWER};
  codes.columns = {BASIS_BASIC, BASIS_BASIC, BASIS_AT_UPPER};
  ASSERT_EQ(KLLOADBASIS(codes.rows.data(), codes.columns.data()), 0);
  EXPECT_EQ(loaded_basic_count, 2);
  Codes back(p);
  ASSERT_EQ(back.get(true), 0);
  EXPECT_EQ(back.rows, (std::vector<int32_t>{BASIS_BASIC, BASIS_AT_LOWER}));
  EXPECT_EQ(back.columns, (std::vector<int32_t>{BASIS_BASIC, BASIS_AT_LOWER, BASIS_AT_UPPER}));
  std::vector<int32_t> header(2, -1);
  ASSERT_EQ(KLGETBASICPIV(header.data()), 0);
  EXPECT_EQ(header, (std::vector<int32_t>{0, store.first_col - 1}));
  ASSERT_EQ(KLMAXIM("p"), 0);
  EXPECT_NEAR(kltest::objective_value(), 11.0, 1e-9);
}

// With IFMEM 0x10 the plain form leaves out the cut rows at the end; a basis
// with every row non-basic gets them as basics in the free slots.
TEST_F(BasisAccess, UnreadCutRowsFillTheFreeSlots) {
  AccessProblem p = kltest::production_with_extra_column();
  p.row_types += "L";
  p.rhs.push_back(100.0);
  p.columns[0].entries.push_back({2, 1.0});
  ASSERT_EQ(load(p), 0);
  cut_row_count = 1;
  set_ifmem(0x10);
  const std::vector<int32_t> rows{BASIS_AT_LOWER, BASIS_AT_LOWER, 9};  // the last is not read
  const std::vector<int32_t> columns{BASIS_BASIC, BASIS_AT_LOWER, BASIS_AT_LOWER};
  EXPECT_EQ(KLLOADBASIS(rows.data(), columns.data()), 0);
  cut_row_count = 0;
  set_ifmem(0);
  Codes back(p);
  ASSERT_EQ(back.get(true), 0);
  EXPECT_EQ(back.rows, (std::vector<int32_t>{BASIS_AT_LOWER, BASIS_AT_LOWER, BASIS_BASIC}));
  EXPECT_EQ(back.columns, columns);
  EXPECT_EQ(loaded_basic_count, 2);
  // The missing basic is made up by the optimiser's basis check.
  ASSERT_EQ(KLMAXIM("p"), 0);
  EXPECT_NEAR(kltest::objective_value(), 11.0, 1e-9);
}

TEST_F(BasisAccess, NoBasisAvailable) {
  const AccessProblem p = kltest::mixed_rows();
  ASSERT_EQ(load(p), 0);
  ASSERT_EQ(KLMINIM("p"), 0);
  Codes codes(p);
  // A file written without a basis (its kind byte, item 8 byte 2, is 0).
  {
    std::fstream f(solution_file(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(7 * 8 + 2);
    f.put('\0');
  }
  EXPECT_EQ(codes.get(false), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 429);
  // In memory, after a run that left no basis.
  problem_flags |= PF_NO_BASIS;
  EXPECT_EQ(codes.get(true), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 429);
  problem_flags &= ~PF_NO_BASIS;
  // A file cut short, or none at all, is a file error.
  ASSERT_EQ(KLMINIM("p"), 0);
  std::filesystem::resize_file(solution_file(), std::filesystem::file_size(solution_file()) - 8);
  EXPECT_EQ(codes.get(false), KL_STATUS_FILE_ERROR);
  EXPECT_EQ(error_number, 122);
  std::remove(solution_file().c_str());
  EXPECT_EQ(codes.get(false), KL_STATUS_FILE_ERROR);
  EXPECT_EQ(error_number, 122);
}

TEST_F(BasisAccess, PlainLoadRefusedOnAPresolvedProblem) {
  const AccessProblem p = kltest::production_with_extra_column();
  ASSERT_EQ(load(p), 0);
  Codes codes(p);
  ASSERT_EQ(codes.get(true), 0);
  problem_flags |= PF_PRESOLVED_LP;
  EXPECT_EQ(KLLOADBASIS(codes.rows.data(), codes.columns.data()), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 266);
  EXPECT_EQ(KLILOADBASIS(codes.rows.data(), codes.columns.data()), 0);
  problem_flags &= ~PF_PRESOLVED_LP;
}

}  // namespace
