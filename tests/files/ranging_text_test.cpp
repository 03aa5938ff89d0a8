// The ranging text outputs: the comma-separated ranging file checked field by
// field against the ranges the query exports return, the name mask, the
// option letters, the printed ranging report and the failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/solved_fixture.h"
#include "klsol32.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = line.find(',', from);
    fields.push_back(line.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return fields;
}

double real_of(const std::string& field) { return std::strtod(field.c_str(), nullptr); }

// Single-precision limits, and "infinite" ones written in E notation.
void expect_close(double written, double expected) {
  if (std::fabs(expected) >= 1e19) {
    EXPECT_GE(std::fabs(written), 1e19);
    EXPECT_EQ(written > 0, expected > 0);
  } else {
    EXPECT_NEAR(written, expected, 1e-5 * std::max(1.0, std::fabs(expected)));
  }
}

class RangingText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    stem_ = dir_.file("rng");
  }
  void TearDown() override { KLFREEXO(); }

  // min x + 2y, x + y >= 2, x - y <= 1, 0 <= x, y <= 3: x = 1.5, y = 0.5.
  void solve_and_range() {
    const char types[] = {'G', 'L'};
    const double rhs[] = {2, 1};
    const double cost[] = {1, 2};
    const int32_t starts[] = {0, 2, 4};
    const int32_t rows[] = {0, 1, 0, 1};
    const double values[] = {1, 1, 1, -1};
    const double lower[] = {0, 0};
    const double upper[] = {1e20, 3};
    ASSERT_EQ(KLLOADPROB(stem_.c_str(), 2, 2, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper),
              0);
    ASSERT_EQ(KLMINIM(""), 0);
    ASSERT_EQ(KLRANGE(), 0);
  }

  kltest::TempDir dir_;
  std::string stem_;
};

TEST_F(RangingText, RangingFileMatchesTheRangeQueries) {
  solve_and_range();
  ASSERT_EQ(KLRTOASC(nullptr, nullptr), 0);
  EXPECT_EQ(kltest::crlf_lines(stem_ + ".hdr").size(), 1u);
  const std::vector<std::string> lines = kltest::crlf_lines(stem_ + ".rsc");
  ASSERT_EQ(lines.size(), 4u);

  double row_ua[2], row_la[2], row_uu[2], row_lu[2];
  ASSERT_EQ(KLROWRANGE(row_ua, row_la, row_uu, row_lu), 0);
  double col_ua[2], col_la[2], col_uu[2], col_lu[2], col_uc[2], col_lc[2];
  ASSERT_EQ(KLCOLRANGE(col_ua, col_la, col_uu, col_lu, col_uc, col_lc), 0);

  for (int32_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(lines[static_cast<std::size_t>(k)]);
    const std::vector<std::string> f = fields_of(lines[static_cast<std::size_t>(k)]);
    // s n t b a c, then two sides of five fields.
    ASSERT_EQ(f.size(), 16u);
    EXPECT_EQ(std::atoi(f[0].c_str()), k + 1);
    const bool row = k < 2;
    EXPECT_EQ(f[2], row ? (k == 0 ? "\"G\"" : "\"L\"") : "\"C\"");
    const std::size_t j = static_cast<std::size_t>(row ? k : k - 2);
    expect_close(real_of(f[6]), row ? row_la[j] : col_la[j]);
    expect_close(real_of(f[7]), row ? row_lu[j] : col_lu[j]);
    expect_close(real_of(f[11]), row ? row_ua[j] : col_ua[j]);
    expect_close(real_of(f[12]), row ? row_uu[j] : col_uu[j]);
    if (row) {
      EXPECT_EQ(real_of(f[8]), 0.0);
      EXPECT_EQ(real_of(f[13]), 0.0);
    } else {
      // The first cost limit is the one reached by raising the cost.
      expect_close(real_of(f[8]), col_uc[j]);
      expect_close(real_of(f[13]), col_lc[j]);
    }
    // A limiting record is named with its side; none leaves both blank.
    for (std::size_t side : {9u, 14u}) {
      const std::string code = f[side + 1];
      if (f[side] == "\"        \"") {
        EXPECT_EQ(code, "\"  \"");
      } else {
        EXPECT_TRUE(code == "\"UL\"" || code == "\"LL\"");
      }
    }
  }
}

TEST_F(RangingText, OptionLettersAndTheNameMask) {
  solve_and_range();
  ASSERT_EQ(KLRTOASC(nullptr, "n"), 0);
  std::vector<std::string> lines = kltest::crlf_lines(stem_ + ".rsc");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(fields_of(lines[0]).size(), 11u);

  // Only "?" is a wildcard here: a leading "+" matches nothing but itself.
  ASSERT_EQ(KLSETCCV(KLCC_ASCMSK, "+???????"), 0);
  ASSERT_EQ(KLRTOASC(nullptr, nullptr), 0);
  EXPECT_TRUE(kltest::crlf_lines(stem_ + ".rsc").empty());

  const std::string first_name = fields_of(lines[0])[0].substr(1, 8);
  ASSERT_EQ(KLSETCCV(KLCC_ASCMSK, first_name.c_str()), 0);
  ASSERT_EQ(KLRTOASC(nullptr, "n"), 0);
  lines = kltest::crlf_lines(stem_ + ".rsc");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(fields_of(lines[0])[0], "\"" + first_name + "\"");
}

TEST_F(RangingText, MissingProblemOrRangeFileFails) {
  EXPECT_EQ(KLRTOASC(nullptr, nullptr), 32);
  EXPECT_EQ(KLFRPRINT(), 32);
  const char types[] = {'L'};
  const double rhs[] = {1};
  const double cost[] = {1};
  const int32_t starts[] = {0, 1};
  const int32_t rows[] = {0};
  const double values[] = {1};
  const double lower[] = {0};
  const double upper[] = {1};
  ASSERT_EQ(KLLOADPROB(stem_.c_str(), 1, 1, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper),
            0);
  EXPECT_EQ(KLRTOASC(nullptr, nullptr), 32);
  EXPECT_EQ(KLFRPRINT(), 32);
}

TEST_F(RangingText, PrintedReportHasTwoLinesAndABlankPerRecord) {
  solve_and_range();
  ASSERT_EQ(KLRTOASC(nullptr, "n"), 0);
  std::vector<std::string> names;
  for (const std::string& line : kltest::crlf_lines(stem_ + ".rsc"))
    names.push_back(fields_of(line)[0].substr(1, 8));
  ASSERT_EQ(KLFRPRINT(), 0);
  const std::vector<std::string> lines = kltest::crlf_lines(stem_ + ".rrt");
  const char classes[] = {'G', 'L', 'C', 'C'};
  for (std::size_t k = 0; k < names.size(); ++k) {
    std::size_t at = 0;
    while (at < lines.size() && lines[at].find(names[k]) != 4) ++at;
    ASSERT_LT(at + 2, lines.size()) << names[k];
    EXPECT_EQ(lines[at][1], classes[k]);
    // Second line: state code, then the record number.
    EXPECT_EQ(std::atoi(lines[at + 1].substr(4, 8).c_str()), static_cast<int32_t>(k + 1)) << lines[at + 1];
    EXPECT_EQ(lines[at + 2].find_first_not_of(' '), std::string::npos);
  }
}

}  // namespace
