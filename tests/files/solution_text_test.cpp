// Comma-separated text of the solution: the header and values files against
// a small fixture, the option letters and the name mask, the numbered pass
// files, the text-file name from the call, and the failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "files/solution_file.h"
#include "files/solution_text.h"
#include "files/solved_fixture.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The lines of a text file, each of which must end in CR LF.
std::vector<std::string> file_lines(const std::string& name) {
  bool complete = false;
  std::vector<std::string> lines = kltest::crlf_lines(name, &complete);
  EXPECT_TRUE(complete) << "line without CR LF in " << name;
  return lines;
}

void set_name(int32_t position, const char* name) {
  char* table = static_cast<char*>(kl::array_cells[kl::ARR_NAME_TABLE]);
  char* field = table + static_cast<std::ptrdiff_t>(position - 1) * kl::name_words * 8;
  std::memset(field, ' ', 8);
  std::memcpy(field, name, std::strlen(name));
}

// The solved fixture with the dual of demand below ZTOLPZ, rows and columns
// named Cap, demand, Bal, x and Y.
void load_solved_problem(const std::string& name) {
  kltest::lay_solved_problem(name, {0.5, 1e-6, -1.5, 0.0, 0.0});
  set_name(1, "Cap");
  set_name(2, "demand");
  set_name(3, "Bal");
  set_name(4, "x");
  set_name(5, "Y");
}

class SolutionText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
    stem_ = dir_.file("tiny");
    load_solved_problem(stem_);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }

  void write_solution() {
    kl::write_solution_file(kl::SOLUTION_AS_LEFT);
    ASSERT_EQ(kl::status_code, kl::STATUS_OK);
  }

  kltest::TempDir dir_;
  std::string stem_;
};

// The header line and the values lines of the fixture with the default
// fields s n t b a c l u d r: infinite bounds are clipped to 1e9, the dual of
// demand (1e-6) is written as zero, the right-hand side only for rows.
const std::vector<std::string> kHeaderLine = {
    R"("tiny    ",   3,     2,   0,"O",   1,     3,   0,    5.500000,     .000000,"        ","RHS00001",   0,   0)"};
const std::vector<std::string> kValueLines = {
    R"(     1,"Cap     ","L","UL",    4.000000,     .000000,-1000000000.,    4.000000,    -.500000,    4.000000)",
    R"(     2,"demand  ","G","BS",    2.500000,   -1.500000,    1.000000, 1000000000.,     .000000,    1.000000)",
    R"(     3,"Bal     ","E","EQ",    1.000000,     .000000,    1.000000,    1.000000,    1.500000,    1.000000)",
    R"(     4,"x       ","C","BS",    2.500000,    1.000000,     .000000, 1000000000.,     .000000)",
    R"(     5,"Y       ","C","BS",    1.500000,    2.000000,     .000000,    3.000000,     .000000)",
};

TEST_F(SolutionText, DefaultFieldsMatchTheFixture) {
  write_solution();
  EXPECT_EQ(KLTOASC(nullptr, nullptr), 0);
  EXPECT_EQ(file_lines(stem_ + ".hdr"), kHeaderLine);
  EXPECT_EQ(file_lines(stem_ + ".asc"), kValueLines);
  // Letters that choose no field leave the default set in force.
  EXPECT_EQ(KLTOASC(nullptr, "E-3"), 0);
  EXPECT_EQ(file_lines(stem_ + ".asc"), kValueLines);
  EXPECT_FALSE(fs::exists(stem_ + ".hd0"));
  // Spare rows of the current problem move the columns' positions, but the
  // header still counts the file's columns and the records keep their numbers.
  kl::spare_rows_left = 2;
  EXPECT_EQ(KLTOASC(nullptr, nullptr), 0);
  EXPECT_EQ(file_lines(stem_ + ".hdr"), kHeaderLine);
  EXPECT_EQ(file_lines(stem_ + ".asc"), kValueLines);
}

TEST_F(SolutionText, OptionLettersAndNameMask) {
  struct Case {
    const char* options;
    const char* mask;
    double zero_tolerance;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"sn", "????????", 1e-5, {R"(     1,"Cap     ")", R"(     2,"demand  ")", R"(     3,"Bal     ")",
                                R"(     4,"x       ")", R"(     5,"Y       ")"}},
      // Only activities and values above the tolerance: Bal (1) and Y (1.5) go.
      {"qs", "????????", 2.0, {"     1", "     2", "     4"}},
      {"sr", "????????", 1e-5, {"     1,    4.000000", "     2,    1.000000", "     3,    1.000000", "     4", "     5"}},
      {"tbf", "Y???????", 1e-5, {R"("C","BS",    1.000000)"}},
      {"s", "+???????", 1e-5, {"     1", "     3", "     5"}},
      {"s", "-???????", 1e-5, {"     2", "     4"}},
      {"s", "?a??????", 1e-5, {"     1", "     3"}},
      {"s", "de+?????", 1e-5, {}},
  };
  write_solution();
  for (const Case& c : cases) {
    ASSERT_EQ(KLSETCCV(KLCC_ASCMSK, c.mask), 0);
    ASSERT_EQ(KLSETDCV(KLDC_ZTOLPZ, c.zero_tolerance), 0);
    EXPECT_EQ(KLTOASC(nullptr, c.options), 0) << c.options;
    EXPECT_EQ(file_lines(stem_ + ".asc"), c.lines) << c.options << " " << c.mask;
  }
}

void write_doubles(const std::string& name, const std::vector<double>& values) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(double)));
}

// The analysis file belongs to the problem, also when the text files take
// another name; one that is missing or short stops the values file.
TEST_F(SolutionText, AnalysisValues) {
  write_solution();
  const std::string out = dir_.file("out");
  write_doubles(stem_ + ".ana", {10, 20, 30, 40, 50});
  EXPECT_EQ(KLTOASC(out.c_str(), "sp"), 0);
  EXPECT_EQ(file_lines(out + ".asc"), (std::vector<std::string>{"     1,   10.000000", "     2,   20.000000",
                                                                 "     3,   30.000000", "     4,   40.000000",
                                                                 "     5,   50.000000"}));

  write_doubles(stem_ + ".ana", {10, 20, 30});
  EXPECT_EQ(KLTOASC(nullptr, "sp"), kl::STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("ends early"));
  EXPECT_TRUE(file_lines(stem_ + ".asc").empty());

  fs::remove(stem_ + ".ana");
  kltest::captured_lines().clear();
  EXPECT_EQ(KLTOASC(nullptr, "sp"), kl::STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("tiny.ana"));
  EXPECT_TRUE(file_lines(stem_ + ".asc").empty());
}

std::string header_objective(const std::string& name) {
  const std::vector<std::string> lines = file_lines(name);
  if (lines.size() != 1) return "no header line";
  return lines[0].substr(lines[0].find(",\"O\",") + 5 + 5 + 7 + 5, 12);
}

// Option e converts the numbered copies after the solution file until one
// is missing; every pass takes the name given on the call.
TEST_F(SolutionText, OptionEConvertsEveryPassFile) {
  for (double objective : {5.5, 7.0, 9.0}) {
    kl::dcv(kl::dc::OBJVAL) = objective;
    write_solution();
    if (objective == 5.5) fs::copy_file(stem_ + ".sol", stem_ + ".so0");
    if (objective == 7.0) fs::copy_file(stem_ + ".sol", stem_ + ".so1");
  }

  EXPECT_EQ(KLTOASC(nullptr, nullptr), 0);
  EXPECT_EQ(header_objective(stem_ + ".hdr"), "    9.000000");
  EXPECT_FALSE(fs::exists(stem_ + ".hd0"));

  EXPECT_EQ(KLTOASC(nullptr, "e"), 0);
  EXPECT_EQ(header_objective(stem_ + ".hd0"), "    5.500000");
  EXPECT_EQ(header_objective(stem_ + ".hd1"), "    7.000000");
  EXPECT_EQ(file_lines(stem_ + ".as1"), kValueLines);
  EXPECT_FALSE(fs::exists(stem_ + ".hd2"));

  const std::string out = dir_.file("out");
  EXPECT_EQ(KLTOASC(out.c_str(), "se"), 0);
  for (const char* ext : {".hdr", ".asc", ".hd0", ".as0", ".hd1", ".as1"})
    EXPECT_TRUE(fs::exists(out + ext)) << ext;
  EXPECT_FALSE(fs::exists(out + ".hd2"));
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), stem_);
  EXPECT_TRUE(kl::command_argument().empty());
}

TEST_F(SolutionText, MissingSolutionFileIsWrittenFirst) {
  ASSERT_FALSE(fs::exists(stem_ + ".sol"));
  EXPECT_EQ(KLTOASC(nullptr, "sn"), 0);
  EXPECT_TRUE(fs::exists(stem_ + ".sol"));
  EXPECT_EQ(file_lines(stem_ + ".asc").size(), 5u);

  // No file and no problem to write it from.
  fs::remove(stem_ + ".sol");
  kl::problem_state = -1;
  EXPECT_EQ(KLTOASC(nullptr, nullptr), kl::STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, kl::MSG_NO_PROBLEM);
  EXPECT_FALSE(fs::exists(stem_ + ".sol"));
}

TEST_F(SolutionText, TextFileThatCannotBeOpened) {
  write_solution();
  const std::string out = dir_.file("missing/out");
  EXPECT_EQ(KLTOASC(out.c_str(), nullptr), kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains("missing/out.hdr"));
  EXPECT_FALSE(fs::exists(out + ".asc"));
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), stem_);
}

TEST_F(SolutionText, RecordBuilderFields) {
  struct IntCase {
    int32_t value;
    int32_t width;
    const char* field;
  };
  // A number wider than its field keeps every digit.
  for (const IntCase& c : {IntCase{7, 4, "   7"}, IntCase{-42, 4, " -42"}, IntCase{12345, 4, "12345"},
                           IntCase{123456, 6, "123456"}, IntCase{-1234567, 6, "-1234567"}}) {
    kl::CsvRecord record;
    kl::csv_add_int(record, c.value, c.width);
    EXPECT_EQ(record.line, std::string(c.field) + ",") << c.value;
  }
  kl::dcv(kl::dc::ZTOLPZ) = 1e-5;
  kl::CsvRecord record;
  kl::csv_add_real(record, 1e-6, kl::kCsvRealWidth);
  kl::csv_add_real(record, -2.5, kl::kCsvRealWidth);
  kl::csv_add_quoted_code(record, "EQ");
  kl::csv_add_text(record, "ab", 2);
  EXPECT_EQ(record.line, "     .000000,   -2.500000,\"EQ\",ab");
}

}  // namespace
