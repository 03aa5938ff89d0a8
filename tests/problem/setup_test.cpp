// The set-up after a load, driven through the load exports on small
// problems: merged duplicates, the defaults it derives, the statistics, the
// entity checks and root bounds.
#include "problem/setup.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "problem/loader.h"
#include "problem/search_state.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "problem/array_problem.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using kl::int_array;
using kl::real_array;

constexpr double kInf = 1e20;

using Problem = kltest::ArrayProblem;

int32_t position(int32_t caller_column) { return kl::store.first_col + caller_column; }

int count_lines_containing(const std::string& needle) {
  int n = 0;
  for (const auto& line : kltest::text_lines()) n += line.text.find(needle) != std::string::npos ? 1 : 0;
  return n;
}

std::string line_containing(const std::string& needle) {
  for (const auto& line : kltest::text_lines())
    if (line.text.find(needle) != std::string::npos) return line.text;
  return "";
}

class Setup : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }
};

TEST_F(Setup, DuplicateEntriesAreSummedBeforeTheyAreDropped) {
  Problem lp;
  lp.add_rows('L', 2);
  lp.column(1, 0, 1, {{0, 2.0}, {1, 1.0}, {0, -2.0}});
  lp.column(1, 0, 1, {{1, 2.0}, {1, -2.0}, {1, 3.0}, {0, 4.0}});
  ASSERT_EQ(lp.load(), 0);
  EXPECT_EQ(count_lines_containing("Duplicate"), 3);
  // 2, -2 vanish; 2, -2, 3 leave 3 in the first entry's place.
  EXPECT_EQ(kl::nelem, 3);
  EXPECT_EQ(kl::spare_elems_left, 4);
  EXPECT_EQ(kl::original_problem.nelem, 3);
  const int32_t rows[] = {2, 2, 1};
  const double values[] = {1.0, 3.0, 4.0};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(int_array(kl::ARR_ELEM_ROW)[k], rows[k - 1]) << k;
    EXPECT_EQ(real_array(kl::ARR_ELEM_VALUE)[k], values[k - 1]) << k;
  }
  EXPECT_EQ(int_array(kl::ARR_COL_START)[position(0)], 1);
  EXPECT_EQ(int_array(kl::ARR_COL_START)[position(1)], 2);
  EXPECT_EQ(int_array(kl::ARR_COL_START)[position(2)], 4);
  // The row marks borrowed from col_start are clean again.
  EXPECT_EQ(int_array(kl::ARR_COL_START)[1], 0);
  EXPECT_EQ(int_array(kl::ARR_COL_START)[2], 0);
}

TEST_F(Setup, FillCapacityFollowsTheEqualityEntries) {
  struct Case {
    int rows;
    int equality_entries;
    int32_t expected;
  };
  for (const Case& c : {Case{1000, 10, 5040}, Case{6000, 1, 6000}, Case{50, 0, 0}}) {
    Problem lp;
    lp.add_rows('E', 10);
    lp.add_rows('L', c.rows - 10);
    std::vector<std::pair<int32_t, double>> elements;
    for (int i = 0; i < c.equality_entries; ++i) elements.push_back({i, 1.0});
    elements.push_back({c.rows - 1, 1.0});
    lp.column(1, 0, 1, elements);
    ASSERT_EQ(lp.load(), 0);
    int32_t value = -1;
    KLGETICV(KLIC_NEXTRA, &value);
    EXPECT_EQ(value, c.expected) << c.rows;
  }
  KLSETICV(KLIC_NEXTRA, 77);
  Problem lp;
  lp.add_rows('E', 1);
  lp.column(1, 0, 1, {{0, 1.0}});
  ASSERT_EQ(lp.load(), 0);
  EXPECT_EQ(kl::icv(kl::ic::NEXTRA), 77);
}

TEST_F(Setup, BigMAndPenaltyComeFromTheCosts) {
  Problem lp;
  lp.add_rows('L', 2);
  lp.column(1.0, 0, 1, {{0, 1.0}, {1, 1.0}});
  lp.column(3.0, 0, 1, {{0, 1.0}, {1, 2.0}});
  lp.column(-5.0, 0, 1, {{0, 1.0}});  // a singleton
  lp.column(0.0, 0, 1, {{1, 1.0}});   // no cost: left out
  ASSERT_EQ(lp.load(), 0);
  // Others: mean 2, variance 1. All: mean 3, variance 35/3 - 9.
  EXPECT_DOUBLE_EQ(kl::dcv(kl::dc::PENLTY), 2.0 + 7.0);
  EXPECT_DOUBLE_EQ(kl::dcv(kl::dc::BIGM), (3.0 + 10.0 * std::sqrt(35.0 / 3.0 - 9.0)) * 50.0);
  EXPECT_EQ(kl::icv(kl::ic::IFBIGM), 1);
  EXPECT_EQ(kl::bigm_fallback, 128.0);

  Problem singletons;
  singletons.add_rows('L', 1);
  singletons.column(2.0, 0, 1, {{0, 1.0}});
  singletons.column(4.0, 0, 1, {{0, 1.0}});
  ASSERT_EQ(singletons.load(), 0);
  EXPECT_DOUBLE_EQ(kl::dcv(kl::dc::BIGM), (3.0 + 10.0) * 50.0);
  EXPECT_EQ(kl::dcv(kl::dc::PENLTY), kl::dcv(kl::dc::BIGM));

  Problem no_costs;
  no_costs.add_rows('L', 1);
  no_costs.column(0.0, 0, 1, {{0, 1.0}});
  ASSERT_EQ(no_costs.load(), 0);
  EXPECT_EQ(kl::dcv(kl::dc::BIGM), 1.0);
  EXPECT_EQ(kl::dcv(kl::dc::PENLTY), 1.0);
  EXPECT_EQ(kl::bigm_fallback, 128.0);
}

TEST_F(Setup, StatisticsArePrinted) {
  KLSETICV(KLIC_NRXTRA, 3);
  KLSETICV(KLIC_NCXTRA, 4);
  Problem lp;
  lp.add_rows('L', 2);
  lp.column(1, 0, 1, {{0, 1.0}, {1, 1.0}});
  lp.column(1, 0, 1, {{1, 1.0}});
  ASSERT_EQ(lp.load(), 0);
  EXPECT_EQ(count_lines_containing("Problem statistics"), 1);
  const auto numbers = [](const std::string& line) {
    std::vector<long> out;
    for (size_t k = 0; k < line.size();) {
      if (std::isdigit(static_cast<unsigned char>(line[k]))) {
        size_t used = 0;
        out.push_back(std::stol(line.substr(k), &used));
        k += used;
      } else {
        ++k;
      }
    }
    return out;
  };
  EXPECT_EQ(numbers(line_containing("Rows")), (std::vector<long>{2, 3}));
  EXPECT_EQ(numbers(line_containing("Columns")), (std::vector<long>{2, 4}));
  EXPECT_EQ(numbers(line_containing("Matrix elements")), (std::vector<long>{3, 0}));
  EXPECT_EQ(numbers(line_containing("Global entities")), (std::vector<long>{0, 0, 0}));
  EXPECT_EQ(count_lines_containing("Quadratic entries"), 0);

  // A problem-file reader's count of quadratic entries adds one line.
  kltest::captured_lines().clear();
  kl::file_quadratic_entry_count = 6;
  kl::print_problem_statistics();
  kl::file_quadratic_entry_count = 0;
  EXPECT_EQ(numbers(line_containing("Quadratic entries")), (std::vector<long>{6, 0}));
}

TEST_F(Setup, IntegerPreprocessingDefaultDependsOnDensityAndBinaries) {
  for (int per_column : {3, 6}) {
    Problem lp;
    lp.add_rows('L', 100);
    for (int c = 0; c < 100; ++c) {
      std::vector<std::pair<int32_t, double>> elements;
      for (int k = 0; k < per_column; ++k) elements.push_back({(c + k) % 100, 1.0});
      lp.column(1, 0, 1, elements);
      if (c < 90) lp.entity('B', c);
    }
    ASSERT_EQ(lp.load_global(), 0);
    EXPECT_EQ(kl::binary_count, 90);
    EXPECT_EQ(kl::icv(kl::ic::IFINTP), per_column == 3 ? 7 : 1) << per_column;
  }
}

TEST_F(Setup, CloseSetReferencesFailTheLoadUnlessIgnored) {
  Problem lp;
  lp.add_rows('L', 1);
  for (int c = 0; c < 3; ++c) lp.column(1, 0, 1, {{0, 1.0}});
  lp.set_types = "1";
  lp.set_columns = {0, 1, 2};
  lp.set_refs = {1.0, 1.0005, 2.0};
  lp.set_starts = {0, 3};
  EXPECT_EQ(lp.load_global(), KL_STATUS_REPORTED);
  EXPECT_EQ(count_lines_containing("too close"), 1);
  EXPECT_LT(kl::problem_state, 1);
  EXPECT_EQ(kl::array_cells[kl::ARR_POS_STATUS], nullptr);

  KLSETICV(KLIC_IGNORE, 10001);
  EXPECT_EQ(lp.load_global(), 0);
  EXPECT_EQ(kl::problem_state, 1);
}

TEST_F(Setup, EntitiesAreOrderedAndGetRootBounds) {
  Problem lp;
  lp.add_rows('L', 1);
  lp.column(1, 1, 3, {{0, 1.0}});     // I
  lp.column(1, 0, 1, {{0, 1.0}});     // B
  lp.column(1, 2, 10, {{0, 1.0}});    // S: its lower bound becomes the limit
  lp.column(1, 0, kInf, {{0, 1.0}});  // I without an upper bound
  lp.entity('I', 3);
  lp.entity('S', 2, 4.0);
  lp.entity('B', 1);
  lp.entity('I', 0);
  ASSERT_EQ(lp.load_global(), 0);
  ASSERT_EQ(kl::nglent, 4);
  const int32_t types[] = {1, 3, 2, 1};
  for (int32_t e = 1; e <= 4; ++e) {
    EXPECT_EQ(int_array(kl::ARR_ENTITY_TYPE)[e], types[e - 1]) << e;
    EXPECT_EQ(int_array(kl::ARR_ENTITY_COLUMN)[e], position(e - 1)) << e;
  }
  EXPECT_EQ(kl::has_semicont_columns, 1);
  EXPECT_EQ(real_array(kl::ARR_SEMICONT_LIMIT)[3], 2.0);
  EXPECT_EQ(real_array(kl::ARR_SEMICONT_UPPER)[3], 10.0);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[position(2)], 0.0);

  const int32_t intmax = kl::icv(kl::ic::INTMAX);
  const int32_t root_upper[] = {3, 1, 1, intmax};
  const int32_t root_lower[] = {1, 0, 0, 0};
  for (int32_t e = 1; e <= 4; ++e) {
    EXPECT_EQ(int_array(kl::ARR_ENTITY_ROOT_UPPER)[e], root_upper[e - 1]) << e;
    EXPECT_EQ(int_array(kl::ARR_ENTITY_ROOT_LOWER)[e], root_lower[e - 1]) << e;
  }
  EXPECT_EQ(real_array(kl::ARR_UPPER)[position(3)], intmax);

  // One binary, three other entities, 2 bits per position, 68-byte header.
  const int64_t positions = kl::nseq + kl::icv(kl::ic::NCXTRA);
  const int64_t bytes = 68 + 4 + 8 * 3 + 4 * ((positions + 15) / 16);
  EXPECT_EQ(kl::node_record_bytes, (bytes + 7) / 8 * 8);
  EXPECT_EQ(kl::node_records_per_entity_block, 1);
}

TEST_F(Setup, CrossedBoundsAreNamedAndFailTheLoad) {
  Problem lp;
  lp.add_rows('L', 1);
  lp.column(1, 5, 4, {{0, 1.0}});
  lp.column(1, 0, 1, {{0, 1.0}});
  lp.column(1, 3, 2, {{0, 1.0}});
  EXPECT_EQ(lp.load(), KL_STATUS_REPORTED);
  // Every column is checked before the load gives up.
  EXPECT_EQ(count_lines_containing("lower bound above"), 2);
  EXPECT_EQ(count_lines_containing("VVVVVVV2"), 1);
  EXPECT_EQ(count_lines_containing("VVVVVVV4"), 1);
  EXPECT_EQ(count_lines_containing("inconsistent"), 1);
  EXPECT_EQ(kl::error_number, 29);
  EXPECT_LT(kl::problem_state, 1);
}

TEST_F(Setup, LeavesTheProblemReadyForTheOptimisers) {
  KLSETICV(KLIC_NRXTRA, 2);
  Problem lp;
  lp.add_rows('L', 2);
  lp.column(1, 5, 5, {{0, 1.0}});
  lp.column(1, 0, 4, {{1, 1.0}});
  ASSERT_EQ(lp.load(), 0);
  EXPECT_NE(int_array(kl::ARR_POS_STATUS)[position(0)] & kl::PS_FIXED, 0);
  EXPECT_EQ(int_array(kl::ARR_POS_STATUS)[position(1)] & kl::PS_FIXED, 0);
  for (int32_t p = 1; p <= kl::nseq; ++p) EXPECT_EQ(static_cast<uint32_t>(int_array(kl::ARR_POS_STATUS)[p]) >> 24, 64u);
  EXPECT_EQ(kl::problem_flags & (kl::PF_LOADED | kl::PF_COLUMN_COPY | kl::PF_WORK_ARRAYS),
            kl::PF_LOADED | kl::PF_COLUMN_COPY | kl::PF_WORK_ARRAYS);
  EXPECT_EQ(kl::itcnt, 0);
  EXPECT_EQ(kl::original_problem.nrow, 2);
  EXPECT_EQ(kl::original_problem.spare_rows, 2);
  EXPECT_EQ(kl::original_problem.nseq, kl::nseq);
  EXPECT_EQ(real_array(kl::ARR_WORK_RHS)[1], 1.0);
  for (int32_t i = 3; i <= 4; ++i) {
    EXPECT_EQ(real_array(kl::ARR_UPPER)[i], 0.0);
    EXPECT_EQ(int_array(kl::ARR_BASIS_HEADER)[i], 0);
  }
  EXPECT_NE(kl::array_cells[kl::ARR_X], nullptr);
  EXPECT_EQ(kl::array_cells[kl::ARR_ENTITY_ROOT_UPPER], nullptr);
}

}  // namespace
