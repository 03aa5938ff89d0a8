// The sectioned export of the solution and range files (?PSXSOL, ?PSXRNG):
// whole files against hand-made bytes, minimisation and maximisation, the
// field letters, the name mask and the failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/psx_command.h"
#include "files/golden_bytes.h"
#include "files/solution_file.h"
#include "files/solved_fixture.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/options.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kltest::Bytes;

void set_name(int32_t position, const char* name) {
  char* table = static_cast<char*>(kl::array_cells[kl::ARR_NAME_TABLE]);
  char* field = table + static_cast<std::ptrdiff_t>(position - 1) * kl::name_words * 8;
  std::memset(field, ' ', 8);
  std::memcpy(field, name, std::strlen(name));
}

std::string attribute(int n) { return std::string(kl::character_attributes[n - 3000], 8); }

// Title and header section; the header record's variable fields as given.
Bytes export_head(const std::string& section, const std::string& probname, const std::string& obj,
                  const std::string& rhs, float function, int32_t iterations, int32_t rows, int32_t columns,
                  const std::string& target, const std::string& status) {
  Bytes b;
  b.text("NAME", 16).text(section, 8).i32(21).i32(0);
  for (const char* n : {"DATANAME", "PROBNAME", "OBJ", "RHS", "PARAMROW", "CHROW", "PARAMCOL", "CHCOL", "BOUNDS",
                        "RANGES", "FUNCTION", "PARAMVAL", "PERTURBN", "ITERNO", "ROWS", "COLUMNS", "METHOD", "TARGET",
                        "STATUS", "FLAGS", "TITLE"})
    b.text(n, 8);
  for (int k = 1; k <= 21; ++k) {
    const int32_t type = k <= 10 ? 2 : k <= 13 ? 3 : k <= 16 ? 1 : 2;
    b.i32(type).i32(k <= 10 ? 8 : k <= 20 ? 4 : 80);
  }
  b.b += std::string(kl::character_controls[kl::cc::DATNAM], 8);
  b.text(probname, 8).text(obj, 8).text(rhs, 8).blanks(48);
  b.f32(function).f32(0.0f).f32(0.0f).i32(iterations).i32(rows).i32(columns);
  b.text("ITGR", 4).text(target, 4).text(status, 4).text("NONE", 4).blanks(80);
  b.text("$ENDSEC$", 200);
  return b;
}

Bytes card(const std::string& name, const std::vector<std::string>& fields, int32_t reals) {
  Bytes b;
  b.text(name, 8).i32(static_cast<int32_t>(fields.size())).i32(0);
  for (const std::string& f : fields) b.text(f, 8);
  for (std::size_t k = 0; k < fields.size(); ++k) b.i32(static_cast<int32_t>(k) < reals ? 3 : 2).i32(8);
  return b;
}

Bytes end_of_section(std::size_t fields) {
  Bytes b;
  b.text("$ENDSEC$", 8 * fields);
  return b;
}

class SolutionExport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
    stem_ = dir_.file("tiny");
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }

  // The solved fixture (solved_fixture.h), rows Cap, demand, Bal and
  // columns x, Y, with its solution file for the given sense.
  void lay_fixture(double sense) {
    kltest::lay_solved_problem(stem_, {0.5, 1e-6, -1.5, 0.0, 0.0});
    set_name(1, "Cap");
    set_name(2, "demand");
    set_name(3, "Bal");
    set_name(4, "x");
    set_name(5, "Y");
    kl::dcv(kl::dc::SENSE_FACTOR) = sense;
    kl::write_solution_file(kl::SOLUTION_AS_LEFT);
    ASSERT_EQ(kl::status_code, kl::STATUS_OK);
  }

  int32_t run_psx(int32_t kind, const char* letters = nullptr) {
    kl::clear_option_letters();
    if (letters != nullptr) kl::set_option_letters(letters);
    kl::psx_command(kind);
    kl::clear_option_letters();
    return kl::status_code;
  }

  kltest::TempDir dir_;
  std::string stem_;
};

const std::vector<std::string> kRowFields = {"ACTIVITY", "SLACK", "LLIMIT", "ULIMIT",
                                             "DUALACT",  "NUMBER", "STATUS", "NAME"};
const std::vector<std::string> kColumnFields = {"ACTIVITY", "ICOST", "LLIMIT", "ULIMIT",
                                                "RCOST",    "NUMBER", "STATUS", "NAME"};

// The whole solution export of the fixture: limits clipped to 1e9, duals
// and reduced costs as reported (negated once more for a maximisation, which
// gives the rows the same values here: the file holds them with the other
// sign).
std::string fixture_solution_export(bool maximise) {
  Bytes b = export_head("SOLUTION", attribute(3001), attribute(3003), attribute(3004), 5.5f, 3, 3, 2,
                        maximise ? "MAX " : "MIN ", "OPTM");
  b.add(card("RSECTION", kRowFields, 6));
  b.f64(4.0).f64(0.0).f64(-1e9).f64(4.0).f64(-0.5).f64(1.0).text("UL", 8).text("Cap", 8);
  b.f64(2.5).f64(-1.5).f64(1.0).f64(1e9).f64(-1e-6).f64(2.0).text("BS", 8).text("demand", 8);
  b.f64(1.0).f64(0.0).f64(1.0).f64(1.0).f64(1.5).f64(3.0).text("EQ", 8).text("Bal", 8);
  b.add(end_of_section(8));
  b.add(card("CSECTION", kColumnFields, 6));
  b.f64(2.5).f64(1.0).f64(0.0).f64(1e9).f64(0.0).f64(4.0).text("BS", 8).text("x", 8);
  b.f64(1.5).f64(2.0).f64(0.0).f64(3.0).f64(0.0).f64(5.0).text("BS", 8).text("Y", 8);
  b.add(end_of_section(8));
  b.text("ENDATA", 16);
  return b.b;
}

TEST_F(SolutionExport, SolutionExportMatchesHandMadeBytes) {
  for (const bool maximise : {false, true}) {
    SCOPED_TRACE(maximise ? "maximisation" : "minimisation");
    lay_fixture(maximise ? -1.0 : 1.0);
    ASSERT_EQ(run_psx(kl::PSX_SOLUTION), 0);
    const std::string got = kltest::file_text(stem_ + ".sfs");
    const std::string want = fixture_solution_export(maximise);
    EXPECT_EQ(got, want) << kltest::first_difference(got, want);
  }
}

TEST_F(SolutionExport, FieldLettersAndNameMask) {
  lay_fixture(1.0);
  const std::string head =
      export_head("SOLUTION", attribute(3001), attribute(3003), attribute(3004), 5.5f, 3, 3, 2, "MIN ", "OPTM").b;
  // Letters n and a: ACTIVITY then NAME, whatever their order.
  ASSERT_EQ(run_psx(kl::PSX_SOLUTION, "na"), 0);
  Bytes b;
  b.add(card("RSECTION", {"ACTIVITY", "NAME"}, 1));
  b.f64(4.0).text("Cap", 8).f64(2.5).text("demand", 8).f64(1.0).text("Bal", 8).add(end_of_section(2));
  b.add(card("CSECTION", {"ACTIVITY", "NAME"}, 1));
  b.f64(2.5).text("x", 8).f64(1.5).text("Y", 8).add(end_of_section(2)).text("ENDATA", 16);
  EXPECT_EQ(kltest::file_text(stem_ + ".sfs"), head + b.b);

  // Letters, but none that chooses a field: title, header and ENDATA only.
  ASSERT_EQ(run_psx(kl::PSX_SOLUTION, "z"), 0);
  EXPECT_EQ(kltest::file_text(stem_ + ".sfs"), head + Bytes{}.text("ENDATA", 16).b);

  // The mask: "?" is the only wildcard; a mask matching nothing still
  // writes both sections.
  ASSERT_EQ(KLSETCCV(KLCC_ASCMSK, "B???????"), 0);
  ASSERT_EQ(run_psx(kl::PSX_SOLUTION, "s"), 0);
  Bytes m;
  m.add(card("RSECTION", {"NUMBER"}, 1)).f64(3.0).add(end_of_section(1));
  m.add(card("CSECTION", {"NUMBER"}, 1)).add(end_of_section(1)).text("ENDATA", 16);
  EXPECT_EQ(kltest::file_text(stem_ + ".sfs"), head + m.b);
  ASSERT_EQ(KLSETCCV(KLCC_ASCMSK, "Q???????"), 0);
  ASSERT_EQ(run_psx(kl::PSX_SOLUTION, "s"), 0);
  Bytes none;
  none.add(card("RSECTION", {"NUMBER"}, 1)).add(end_of_section(1));
  none.add(card("CSECTION", {"NUMBER"}, 1)).add(end_of_section(1)).text("ENDATA", 16);
  EXPECT_EQ(kltest::file_text(stem_ + ".sfs"), head + none.b);
}

// A range file made by hand: a maximisation with rows R1 (E, basic) and R2
// (L, at its limit), columns X (at upper) and Y (basic).
std::string hand_range_file(char status_letter) {
  Bytes f;
  f.text("hand", 8).i32(2).i32(2).i32(0).raw({static_cast<unsigned char>(status_letter), 2, 0, 0});
  f.i32(7).i32(0).zeros(24).raw({0, 0, 2, 0}).i32(0).f64(11.0).f64(0.25);
  f.text("OBJ", 8).text("RHS", 8).text("BND", 8).zeros(72).text("RNG", 8).zeros(72);
  EXPECT_EQ(f.size(), 256u);
  // R1: basic E row, row value 0, limits 4/4, offsets -1/2, cost offsets
  // 0.5/0.25, limited by record 3 (at lower) and record 4 (at upper).
  f.text("R1", 8).i32(1).i32(0x2).f64(0.0).f64(0.0).f32(4).f32(4).f32(-1).f32(2).f32(0.5f).f32(0.25f).i32(3).i32(-4);
  // R2: nonbasic L row (its slack at lower: the activity at its limit 4),
  // dual 2, offsets -1/1, limited on the second side by record 3 at upper.
  f.text("R2", 8).i32(4).i32(0).f64(2.0).f64(0.0).f32(-1e20f).f32(4).f32(-1).f32(1).zeros(8).i32(0).i32(-3);
  // X: at its upper bound 3, reduced cost 1, cost 3, offsets -2/0.5.
  f.text("X", 8).i32(2).i32(0x4).f64(1.0).f64(3.0).f32(0).f32(3).f32(-2).f32(0.5f).zeros(8).i32(1).i32(0);
  // Y: basic at 1, cost 2, offsets -1/3, cost offsets 0.5/1.5.
  f.text("Y", 8).i32(2).i32(0x2).f64(1.0).f64(2.0).f32(0).f32(1e20f).f32(-1).f32(3).f32(0.5f).f32(1.5f).i32(-2).i32(2);
  // Binary files go out in whole records of 32768 bytes.
  f.zeros(32768 - f.size());
  return f.b;
}

std::string hand_ranging_export(const std::string& status, float function) {
  const std::vector<std::string> rows = {"LOACT1", "UPACT2", "UPCOST1", "LOCOST2", "LIMPROC1",
                                         "LIMPROC2", "AT1", "AT2", "NAME"};
  const std::vector<std::string> cols = {"LOACT1", "UPACT2", "UNCOST1", "UNCOST2", "UPCOST1", "LOCOST2",
                                         "LIMPROC1", "LIMPROC2", "AT1", "AT2", "NAME"};
  // COLUMNS is 2, the file's columns, whatever spare rows the problem has.
  Bytes b = export_head("RANGE", "hand", "OBJ", "RHS", function, 7, 2, 2, "MAX ", status);
  // Section 1, nonbasic rows: R2 at 4, unit costs (2, -2).
  b.add(card("SECTION1", rows, 4));
  b.f64(3.0).f64(5.0).f64(2.0).f64(-2.0).blanks(8).text("X", 8).blanks(8).text("UL", 8).text("R2", 8);
  b.add(end_of_section(9));
  // Section 2, nonbasic columns: X at 3, unit costs (-1, 1), cost limits of
  // a maximisation at upper (cost + d, 1e20) kept unclipped.
  b.add(card("SECTION2", cols, 6));
  b.f64(1.0).f64(3.5).f64(-1.0).f64(1.0).f64(4.0).f64(static_cast<double>(1e20f));
  b.text("R1", 8).blanks(8).text("LL", 8).blanks(8).text("X", 8);
  b.add(end_of_section(11));
  // Section 3, basic rows: the equality row reads "EQ" but is basic.
  b.add(card("SECTION3", rows, 4));
  b.f64(3.0).f64(6.0).f64(0.5).f64(0.25).text("X", 8).text("Y", 8).text("LL", 8).text("UL", 8).text("R1", 8);
  b.add(end_of_section(9));
  // Section 4, basic columns: Y at 1, cost limits (2 - 0.5, 2 + 1.5).
  b.add(card("SECTION4", cols, 6));
  b.f64(0.0).f64(4.0).f64(0.5).f64(1.5).f64(1.5).f64(3.5);
  b.text("R2", 8).text("R2", 8).text("UL", 8).text("LL", 8).text("Y", 8);
  b.add(end_of_section(11));
  b.text("ENDATA", 16);
  return b.b;
}

TEST_F(SolutionExport, RangingExportMatchesHandMadeBytes) {
  ASSERT_EQ(KLSETPROB(stem_.c_str()), 0);
  kl::spare_rows_left = 3;
  {
    std::ofstream out(stem_ + ".rng", std::ios::binary);
    out << hand_range_file('O');
  }
  ASSERT_EQ(run_psx(kl::PSX_RANGING), 0) << (kltest::captured_lines().empty() ? std::string() : kltest::captured_lines().back().text);
  std::string got = kltest::file_text(stem_ + ".sfr");
  std::string want = hand_ranging_export("OPTM", 11.0f);
  EXPECT_EQ(got, want) << kltest::first_difference(got, want);

  // A letter without a STATUS of its own gives blanks, not what the export
  // before left; FUNCTION is then the sum of infeasibilities.
  {
    std::ofstream out(stem_ + ".rng", std::ios::binary);
    out << hand_range_file('Z');
  }
  ASSERT_EQ(run_psx(kl::PSX_RANGING), 0);
  got = kltest::file_text(stem_ + ".sfr");
  want = hand_ranging_export("    ", 0.25f);
  EXPECT_EQ(got, want) << kltest::first_difference(got, want);
}

TEST_F(SolutionExport, Failures) {
  ASSERT_EQ(KLSETPROB(stem_.c_str()), 0);
  // No range file: the open fails with its message and nothing is created.
  EXPECT_EQ(run_psx(kl::PSX_RANGING), 32);
  EXPECT_FALSE(fs::exists(stem_ + ".sfr"));
  // A range file cut short of its first record: message 4, no ENDATA.
  {
    const std::string whole = hand_range_file('O');
    std::ofstream out(stem_ + ".rng", std::ios::binary);
    out << whole.substr(0, whole.size() - 40);
  }
  kltest::captured_lines().clear();
  EXPECT_EQ(run_psx(kl::PSX_RANGING), 32);
  EXPECT_TRUE(kltest::any_line_contains("cannot be read"));
  const std::string partial = kltest::file_text(stem_ + ".sfr");
  EXPECT_EQ(partial.find("ENDATA"), std::string::npos);
  // An export file that cannot be created: message 66.
  lay_fixture(1.0);
  fs::create_directory(stem_ + ".sfs");
  kltest::captured_lines().clear();
  EXPECT_EQ(run_psx(kl::PSX_SOLUTION), 32);
  EXPECT_TRUE(kltest::any_line_contains("Cannot open file"));
}

// The console commands on a solved and ranged maximisation: max 3x + 2y,
// x + y <= 4, x + 3y <= 7, 0 <= x <= 3, y >= 0 (x = 3 at its bound, y = 1).
TEST_F(SolutionExport, ConsoleCommandsOnASolvedMaximisation) {
  const char types[] = {'L', 'L'};
  const double rhs[] = {4, 7};
  const double cost[] = {3, 2};
  const int32_t starts[] = {0, 2, 4};
  const int32_t rows[] = {0, 1, 0, 1};
  const double values[] = {1, 1, 1, 3};
  const double lower[] = {0, 0};
  const double upper[] = {3, 1e20};
  ASSERT_EQ(KLLOADPROB(stem_.c_str(), 2, 2, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  ASSERT_EQ(KLMAXIM(""), 0);
  ASSERT_EQ(KLRANGE(), 0);
  int32_t row_basis[2], col_basis[2];
  ASSERT_EQ(KLGETBASIS(row_basis, col_basis), 0);

  const fs::path kept = fs::current_path();
  fs::current_path(dir_.path());
  kltest::console_lines() = {"OMNIOUT", "?PSXSOL", "?PSXRNG"};
  KLCONTROL(kltest::scripted_console);
  fs::current_path(kept);
  EXPECT_FALSE(kltest::any_line_contains("not available"));

  const std::string sfs = kltest::file_text(stem_ + ".sfs");
  const std::string sfr = kltest::file_text(stem_ + ".sfr");
  const std::string solfile = kltest::file_text(dir_.file("SOLFILE"));
  ASSERT_GT(sfs.size(), 500u);
  ASSERT_GT(sfr.size(), 500u);
  ASSERT_EQ(solfile.size() % 512, 0u);
  EXPECT_EQ(sfs.substr(sfs.size() - 16), std::string("ENDATA          "));
  EXPECT_EQ(sfr.substr(sfr.size() - 16), std::string("ENDATA          "));
  // Header record from byte 368: TARGET at 108, STATUS at 112.
  EXPECT_EQ(sfs.substr(368 + 108, 8), "MAX OPTM");
  EXPECT_EQ(sfr.substr(368 + 108, 8), "MAX OPTM");
  EXPECT_EQ(solfile.substr(120, 8), "MAX OPTM");

  // Each position lands in the basic or the nonbasic section by its basis
  // status (1 basic).
  int32_t basic_rows = 0, basic_cols = 0;
  for (int k = 0; k < 2; ++k) {
    basic_rows += row_basis[k] == 1;
    basic_cols += col_basis[k] == 1;
  }
  std::vector<int32_t> records;
  std::size_t at = 16 + 16 + 168 + 168 + 200 + 200;
  for (int section = 1; section <= 4; ++section) {
    ASSERT_EQ(sfr.substr(at, 8), "SECTION" + std::to_string(section));
    int32_t n = 0;
    std::memcpy(&n, sfr.data() + at + 8, 4);
    at += 16 + 16 * static_cast<std::size_t>(n);
    int32_t count = 0;
    while (sfr.substr(at, 8) != "$ENDSEC$") {
      at += 8 * static_cast<std::size_t>(n);
      ++count;
    }
    at += 8 * static_cast<std::size_t>(n);
    records.push_back(count);
  }
  EXPECT_EQ(records, (std::vector<int32_t>{2 - basic_rows, 2 - basic_cols, basic_rows, basic_cols}));
}

}  // namespace
