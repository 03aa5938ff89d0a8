// Every Netlib and MIPLIB problem written by KLOUTPUT and read back: as MPS
// under each option letter that keeps the problem, and as an LP-format
// file. The problem read back has the counts of the one written and the
// same optimum (the LP relaxation for MIPLIB): to 1e-9 relative where the
// numbers read back exactly, to 1e-8 through the 12-character fields of
// the fixed MPS form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/problem_snapshot.h"
#include "support/temp_dir.h"

namespace {

const std::vector<std::string> kMiplib = {"bell5",  "dcmulti", "egout",   "enigma", "flugpl",
                                          "lseu",   "misc03",  "mod008",  "p0033",  "p0201",
                                          "p0282",  "p0548",   "stein27", "vpm1",   "vpm2"};

std::vector<std::string> all_problems() {
  std::vector<std::string> out;
  for (const std::string& name : kltest::mps_problems("netlib")) out.push_back("netlib/" + name);
  for (const std::string& name : kMiplib) out.push_back("miplib3/" + name);
  return out;
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (c == '/' || c == '-') c = '_';
  return name;
}

// Exact numbers: the optimum of the problem read back is that of the one
// written up to the solver's own rounding.
constexpr double kExactTolerance = 1e-9;
// The 12-character fields keep 10 or more significant digits of a value
// (every number of these files fits them whole).
constexpr double kFixedFieldTolerance = 1e-8;

struct Counts {
  int32_t rows = 0, columns = 0, elements = 0, entities = 0, sets = 0;
  bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& c) {
  return out << c.rows << " rows, " << c.columns << " columns, " << c.elements << " elements, " << c.entities
             << " entities, " << c.sets << " sets";
}

Counts loaded_counts() {
  return Counts{kltest::int_attribute_value(1001), kltest::int_attribute_value(1018),
                kltest::int_attribute_value(1006), kltest::int_attribute_value(1003),
                kltest::int_attribute_value(1004)};
}

// What option c leaves out: the fixed columns (but those with quadratic
// terms) and the free rows (but the objective), with their elements.
Counts counts_without_fixed_and_free() {
  using namespace kl;
  Counts c = loaded_counts();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  std::vector<bool> row_out(static_cast<size_t>(nrow) + 1, false);
  for (int32_t i = 1; i <= nrow; ++i) {
    row_out[static_cast<size_t>(i)] = i != store.objective_row && (status[i] & PS_FREE) != 0;
    if (row_out[static_cast<size_t>(i)]) --c.rows;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const bool column_out = (status[j] & PS_FIXED) != 0 && (status[j] & PS_QUADRATIC) == 0;
    if (column_out) --c.columns;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
      if (column_out || (elem_row[k] >= 1 && elem_row[k] <= nrow && row_out[static_cast<size_t>(elem_row[k])]))
        --c.elements;
  }
  return c;
}

class WriterRoundTrip : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  // Reads the file, names the problem into the test's directory, and
  // minimises; the optimum.
  double solve_file(const std::string& file) {
    EXPECT_EQ(KLINPUT(file.c_str()), 0) << file;
    EXPECT_EQ(KLSETPROB(dir_.file("p").c_str()), 0);
    EXPECT_EQ(KLMINIM(""), 0);
    int32_t lp_status = 0;
    KLGETIPV(KLIA_LPSTATUS, &lp_status);
    EXPECT_EQ(lp_status, 1) << file;
    double objective = 0.0;
    KLGETDPV(KLDA_OBJVAL, &objective);
    return objective;
  }

  kltest::TempDir dir_;
};

TEST_P(WriterRoundTrip, MpsUnderEachOptionReadsBackToTheSameOptimum) {
  KLTEST_REQUIRE_DATA(file, GetParam() + ".mps");
  const double optimum = solve_file(file);
  const struct {
    const char* options;
    double tolerance;
  } cases[] = {{"", kFixedFieldTolerance}, {"o", kFixedFieldTolerance}, {"p", kExactTolerance},
               {"c", kFixedFieldTolerance}, {"s", kFixedFieldTolerance}, {"np", kExactTolerance}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("options ") + c.options);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    const Counts expected = c.options[0] == 'c' ? counts_without_fixed_and_free() : loaded_counts();
    const std::string stem = dir_.file(std::string("w") + c.options);
    ASSERT_EQ(KLOUTPUT(stem.c_str(), c.options), 0);
    ASSERT_EQ(KLINPUT((stem + ".mat").c_str()), 0);
    EXPECT_EQ(loaded_counts(), expected);
    const double read_back = solve_file(stem + ".mat");
    EXPECT_TRUE(kltest::close_to(read_back, optimum, c.tolerance))
        << "optimum " << read_back << ", as read from the data " << optimum;
  }
}

// What an LP file holds of the problem: no free rows, and a ranged row as
// two rows.
Counts counts_in_lp_form() {
  using namespace kl;
  Counts c = loaded_counts();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  std::vector<int32_t> copies(static_cast<size_t>(nrow) + 1, 1);
  c.rows = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t type = row_type[i] & ROW_TYPE_MASK;
    int32_t& n = copies[static_cast<size_t>(i)];
    if (type == ROW_N) n = 0;
    if (type == ROW_L && (status[i] & PS_FINITE_UPPER) != 0 && upper[i] < 1e19) n = 2;
    c.rows += n;
  }
  c.elements = 0;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
      if (elem_row[k] >= 1 && elem_row[k] <= nrow) c.elements += copies[static_cast<size_t>(elem_row[k])];
  return c;
}

TEST_P(WriterRoundTrip, LpReadsBackToTheSameOptimum) {
  KLTEST_REQUIRE_DATA(file, GetParam() + ".mps");
  const double optimum = solve_file(file);
  for (const char* options : {"l", "ls"}) {
    SCOPED_TRACE(std::string("options ") + options);
    // An LP read leaves NAMLEN at the width of its longest name, which a
    // fixed-field MPS read then takes for its name fields: the MPS file is
    // read at the width it was written for.
    KLSETICV(KLIC_NAMLEN, 8);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    const Counts expected = counts_in_lp_form();
    const std::string stem = dir_.file(std::string("w") + options);
    ASSERT_EQ(KLOUTPUT(stem.c_str(), options), 0);
    ASSERT_EQ(KLINPUT((stem + ".lp").c_str()), 0);
    EXPECT_EQ(loaded_counts(), expected);
    const double read_back = solve_file(stem + ".lp");
    EXPECT_TRUE(kltest::close_to(read_back, optimum, kExactTolerance))
        << "optimum " << read_back << ", as read from the data " << optimum;
  }
}

// The search over a problem read back proves the optimum of the problem
// written: entity types, their bounds and sets survive both forms. Only
// problems the search proves quickly without cuts.
class WriterSearchRoundTrip : public WriterRoundTrip {};

TEST_P(WriterSearchRoundTrip, SearchProvesTheSameIntegerOptimum) {
  const std::string stem_name = GetParam();
  KLTEST_REQUIRE_DATA(file, "miplib3/" + GetParam() + ".mps");
  const std::map<std::string, double> known = kltest::known_objectives();
  ASSERT_EQ(known.count(stem_name), 1u);
  const double optimum = known.at(stem_name);
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);
  KLSETICV(KLIC_GPRINT, 0);
  for (const char* options : {"", "p", "l"}) {
    SCOPED_TRACE(std::string("options ") + options);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    const std::string stem = dir_.file(std::string("m") + options);
    ASSERT_EQ(KLOUTPUT(stem.c_str(), options), 0);
    ASSERT_EQ(KLINPUT((stem + (options[0] == 'l' ? ".lp" : ".mat")).c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file("m").c_str()), 0);
    ASSERT_EQ(KLMINIM("g"), 0);
    int32_t mip_status = 0;
    double best = 0.0;
    KLGETIPV(KLIA_GLSTATUS, &mip_status);
    KLGETDPV(KLDA_DINTSL, &best);
    EXPECT_EQ(mip_status, 6);
    EXPECT_TRUE(kltest::close_to(best, optimum, 1e-9)) << best << " against " << optimum;
  }
}

INSTANTIATE_TEST_SUITE_P(Data, WriterRoundTrip, ::testing::ValuesIn(all_problems()), test_name);
INSTANTIATE_TEST_SUITE_P(Miplib3, WriterSearchRoundTrip,
                         ::testing::Values("flugpl", "misc03", "mod008", "p0033", "p0201", "stein27"));

}  // namespace
