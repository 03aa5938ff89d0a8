// The basis file and the compact basis file through KLBASISOUT, KLBASISIN
// and the console commands: the lines written, what reading them back
// restores, the option letters, and the refusals that leave the basis alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;

// Rows: lim L (x + y + z <= 6), low G (x - y >= -2), band R (1 <= y + z <= 5),
// eq E (x + z = 3), fr N. Columns x [0,4], y [0,inf), z [0,3].
void load_small_problem() {
  const char row_types[] = "LGREN";
  const double rhs[] = {6, -2, 5, 3, 0};
  const double ranges[] = {0, 0, 4, 0, 0};
  const double cost[] = {-2, -3, -1};
  const int32_t starts[] = {0, 4, 8, 12};
  const int32_t rows[] = {0, 1, 3, 4, 0, 1, 2, 4, 0, 2, 3, 4};
  const double values[] = {1, 1, 1, 1, 1, -1, 1, 1, 1, 1, 1, 1};
  const double lower[] = {0, 0, 0};
  const double upper[] = {4, kInf, 3};
  ASSERT_EQ(KLLOADPROB("small", 3, 5, row_types, rhs, ranges, cost, starts, nullptr, rows, values, lower, upper), 0);
  const char row_names[] = "lim\0low\0band\0eq\0fr";
  ASSERT_EQ(KLADDNAMES(1, row_names, 0, 4), 0);
  const char column_names[] = "x\0y\0z";
  ASSERT_EQ(KLADDNAMES(2, column_names, 0, 2), 0);
}

std::vector<std::string> file_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void write_file(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

// Position of a row (from 1) and of a column (from 0).
int32_t row_pos(int32_t i) { return i; }
int32_t col_pos(int32_t j) { return kl::store.first_col + j; }

uint32_t state(int32_t p) {
  return static_cast<uint32_t>(kl::int_array(kl::ARR_POS_STATUS)[p]) & (kl::PS_BASIC | kl::PS_AT_UPPER);
}
void set_state(int32_t p, uint32_t bits) {
  auto status = kl::int_array(kl::ARR_POS_STATUS);
  status[p] = static_cast<int32_t>((static_cast<uint32_t>(status[p]) & ~(kl::PS_BASIC | kl::PS_AT_UPPER)) | bits);
}

// The basic and at-upper bits of every row and structural column.
std::vector<uint32_t> states() {
  std::vector<uint32_t> out;
  for (int32_t i = 1; i <= kl::nrow; ++i) out.push_back(state(i));
  for (int32_t j = kl::store.first_col; j <= kl::nseq; ++j) out.push_back(state(j));
  return out;
}

// The all-slack basis with every column at its lower bound.
void set_slack_states() {
  for (int32_t i = 1; i <= kl::nrow; ++i) set_state(i, kl::PS_BASIC);
  for (int32_t j = kl::store.first_col; j <= kl::nseq; ++j) set_state(j, 0);
}

// A record in the fixed fields: code in 1-4, column from 5, row from 15.
std::string fixed(const std::string& code, const std::string& column, const std::string& row = "") {
  std::string line = code + column;
  if (!row.empty()) line += std::string(14 - line.size(), ' ') + row;
  return line;
}

// Line 1 of a compact file.
std::string compact_head(const std::string& name, const std::string& rows, const std::string& others) {
  std::string line = name + std::string(8 - name.size(), ' ');
  line += std::string(12 - rows.size(), ' ') + rows + ",";
  return line + std::string(12 - others.size(), ' ') + others;
}

// What the library printed, for failure reports.
std::string printed() {
  std::string out;
  for (const kltest::CapturedLine& line : kltest::text_lines()) out += line.text + "\n";
  return out;
}

class BasisFile : public kltest::LibrarySession {
 public:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFSCAL, 0);
  }
  std::string path(const std::string& stem) const { return dir.file(stem) + ".bss"; }

  kltest::TempDir dir;
};

// Solved, written, loaded afresh and read back: the same statuses, and the
// re-solve needs no iteration.
TEST_F(BasisFile, WrittenBasisReadBackRestartsWithoutIterations) {
  load_small_problem();
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  const double optimum = kltest::objective_value();
  const std::vector<uint32_t> solved = states();
  ASSERT_EQ(KLBASISOUT(dir.file("small").c_str(), nullptr), 0);

  const std::vector<std::string> lines = file_lines(path("small"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "NAME          small   ");
  EXPECT_EQ(lines.back(), "ENDATA");
  for (size_t k = 1; k + 1 < lines.size(); ++k) {
    const std::string& line = lines[k];
    SCOPED_TRACE(line);
    const std::string code = line.substr(0, 4);
    ASSERT_TRUE(code == " XU " || code == " XL " || code == " UL ");
    if (code != " UL ") {
      ASSERT_EQ(line.size(), 22u);
      EXPECT_EQ(line.substr(12, 2), "  ") << "fixed fields: column in 5-12, row in 15-22";
    }
  }

  load_small_problem();
  KLSETICV(KLIC_IFNBAS, 0);
  ASSERT_EQ(KLBASISIN(dir.file("small").c_str(), nullptr), 0);
  EXPECT_EQ(kl::icv(kl::ic::IFNBAS), 1);
  EXPECT_EQ(states(), solved);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(kltest::objective_value(), optimum, 1e-9);
}

// A basis with a column at its upper bound and rows nonbasic at either bound,
// set by hand, comes back line for line in the pairing order.
TEST_F(BasisFile, PairsFollowPositionAndRowOrder) {
  load_small_problem();
  set_slack_states();
  set_state(col_pos(0), kl::PS_AT_UPPER);  // x at 4
  set_state(col_pos(1), kl::PS_BASIC);     // y for lim
  set_state(col_pos(2), kl::PS_BASIC);     // z for low
  set_state(row_pos(1), 0);
  set_state(row_pos(2), kl::PS_AT_UPPER);
  const std::vector<uint32_t> written = states();
  ASSERT_EQ(KLBASISOUT(dir.file("b").c_str(), nullptr), 0);
  const std::vector<std::string> want = {"NAME          small   ", " UL x       ", " XL y         lim     ",
                                         " XU z         low     ", "ENDATA"};
  EXPECT_EQ(file_lines(path("b")), want);

  set_slack_states();
  ASSERT_EQ(KLBASISIN(dir.file("b").c_str(), nullptr), 0);
  EXPECT_EQ(states(), written);
  EXPECT_EQ(kl::int_array(kl::ARR_BASIS_HEADER)[1], col_pos(1));
  EXPECT_EQ(kl::int_array(kl::ARR_BASIS_HEADER)[2], col_pos(2));
}

TEST_F(BasisFile, AllSlackBasisWritesOnlyTheFrameOrNothing) {
  load_small_problem();
  set_slack_states();
  ASSERT_EQ(KLBASISOUT(dir.file("a").c_str(), nullptr), 0);
  EXPECT_EQ(file_lines(path("a")), (std::vector<std::string>{"NAME          small   ", "ENDATA"}));
  KLSETICV(KLIC_IFBSNM, 0);
  ASSERT_EQ(KLBASISOUT(dir.file("e").c_str(), nullptr), 0);
  EXPECT_TRUE(file_lines(path("e")).empty());
  // Read with or without the frame lines.
  write_file(path("n"), {" XU y         low     "});
  ASSERT_EQ(KLBASISIN(dir.file("n").c_str(), nullptr), 0);
  EXPECT_EQ(state(col_pos(1)), kl::PS_BASIC);
  EXPECT_EQ(state(row_pos(2)), kl::PS_AT_UPPER);
}

// Uneven counts describe no exchange of the slack basis: message 50, no
// pairs, no ENDATA, and a status that says the file holds no basis.
TEST_F(BasisFile, UnevenBasisIsReportedAndWritesNoPairs) {
  load_small_problem();
  set_slack_states();
  set_state(col_pos(1), kl::PS_BASIC);
  set_state(col_pos(0), kl::PS_AT_UPPER);
  EXPECT_EQ(KLBASISOUT(dir.file("u").c_str(), nullptr), 32);
  EXPECT_TRUE(kltest::any_line_contains("0 nonbasic rows but")) << "message 50";
  EXPECT_EQ(file_lines(path("u")), (std::vector<std::string>{"NAME          small   ", " UL x       "}));
}

// Option z exchanges the bounds of two-sided rows (band, eq) only: written
// with z and read with z, or neither, the basis comes back; with z on one
// side only, the two-sided rows come back at the other bound.
TEST_F(BasisFile, OptionZExchangesTwoSidedRowsSymmetrically) {
  load_small_problem();
  set_slack_states();
  set_state(col_pos(0), kl::PS_BASIC);
  set_state(col_pos(1), kl::PS_BASIC);
  set_state(col_pos(2), kl::PS_BASIC);
  set_state(row_pos(2), kl::PS_AT_UPPER);  // low, one-sided
  set_state(row_pos(3), 0);                // band at lower
  set_state(row_pos(4), kl::PS_AT_UPPER);  // eq at upper
  const std::vector<uint32_t> written = states();
  ASSERT_EQ(KLBASISOUT(dir.file("z").c_str(), "z"), 0);
  const std::vector<std::string> lines = file_lines(path("z"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], " XU x         low     ");
  EXPECT_EQ(lines[2], " XU y         band    ");
  EXPECT_EQ(lines[3], " XL z         eq      ");

  set_slack_states();
  ASSERT_EQ(KLBASISIN(dir.file("z").c_str(), "z"), 0);
  EXPECT_EQ(states(), written);

  set_slack_states();
  ASSERT_EQ(KLBASISIN(dir.file("z").c_str(), nullptr), 0);
  EXPECT_EQ(state(row_pos(2)), kl::PS_AT_UPPER);
  EXPECT_EQ(state(row_pos(3)), kl::PS_AT_UPPER);
  EXPECT_EQ(state(row_pos(4)), 0u);

  ASSERT_EQ(KLBASISOUT(dir.file("plain").c_str(), nullptr), 0);
  set_slack_states();
  ASSERT_EQ(KLBASISIN(dir.file("plain").c_str(), "z"), 0);
  EXPECT_EQ(states(), written);
}

// Lines that name nothing known or an infinite bound are reported with the
// line number and skipped; the rest of the file is read, and the read
// succeeds.
TEST_F(BasisFile, BadLinesAreReportedAndSkipped) {
  load_small_problem();
  struct Case {
    std::string line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"*", "Basis file line      1: unknown record"},
      {" AB x", "Basis file line      1: unknown record AB"},
      {fixed(" XU ", "nosuch", "lim"), "Column nosuch"},
      {fixed(" XU ", "x", "nosuch"), "Basis file line      1: row not found; line ignored: nosuch"},
      {fixed(" UL ", "y"), "bound is infinite: basis file line 1, y; line ignored"},
      {fixed(" XU ", "x", "lim"), "bound is infinite: basis file line 1, lim; line ignored"},
      {fixed(" XL ", "x", "low"), "bound is infinite: basis file line 1, low; line ignored"},
      {fixed(" XU ", "x", "fr"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    kltest::captured_lines().clear();
    set_slack_states();
    write_file(path("bad"), {c.line, " UL x", "ENDATA"});
    EXPECT_EQ(KLBASISIN(dir.file("bad").c_str(), nullptr), 0);
    if (c.message.empty()) {
      EXPECT_TRUE(kltest::text_lines().empty()) << "a free row is passed over silently: " << printed();
    } else {
      EXPECT_TRUE(kltest::any_line_contains(c.message)) << printed();
    }
    EXPECT_EQ(state(col_pos(0)), kl::PS_AT_UPPER) << "the line after it is read";
    EXPECT_EQ(state(col_pos(1)), 0u);
    EXPECT_EQ(state(row_pos(1)), kl::PS_BASIC);
    EXPECT_EQ(kl::icv(kl::ic::IFNBAS), 1);
  }
}

TEST_F(BasisFile, FreeFormatReadsLinesFromColumnOne) {
  load_small_problem();
  KLSETICV(KLIC_FREFMT, 1);
  set_slack_states();
  write_file(path("f"), {"NAME whatever", "XU   y   low", "  UL x", "ENDATA", " XU z lim"});
  ASSERT_EQ(KLBASISIN(dir.file("f").c_str(), nullptr), 0);
  EXPECT_EQ(state(col_pos(1)), kl::PS_BASIC);
  EXPECT_EQ(state(row_pos(2)), kl::PS_AT_UPPER);
  EXPECT_EQ(state(col_pos(0)), kl::PS_AT_UPPER);
  EXPECT_EQ(state(col_pos(2)), 0u) << "nothing is read after ENDATA";
}

// A 5-row, 3-column problem: line 1 carries the counts in its fields, the
// one status line the statuses, 80 characters long; read back, the statuses
// return.
TEST_F(BasisFile, CompactFormRoundTrip) {
  load_small_problem();
  set_slack_states();
  set_state(col_pos(0), kl::PS_AT_UPPER);
  set_state(col_pos(1), kl::PS_BASIC);
  set_state(row_pos(2), kl::PS_AT_UPPER);
  const std::vector<uint32_t> written = states();
  ASSERT_EQ(KLBASISOUT(dir.file("c").c_str(), "t"), 0);
  const std::vector<std::string> lines = file_lines(path("c"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 8), "small   ");
  EXPECT_EQ(std::stoi(lines[0].substr(8, 12)), 5);
  EXPECT_EQ(lines[0][20], ',');
  EXPECT_EQ(std::stoi(lines[0].substr(21, 12)), 3);
  ASSERT_EQ(lines[1].size(), 80u);
  EXPECT_EQ(lines[1].substr(0, 8), "32333231");

  set_slack_states();
  KLSETICV(KLIC_IFNBAS, 0);
  ASSERT_EQ(KLBASISIN(dir.file("c").c_str(), "t"), 0);
  EXPECT_EQ(states(), written);
  EXPECT_EQ(kl::icv(kl::ic::IFNBAS), 1);
}

// A compact file of another problem, or one that ends early, changes
// nothing: message 186 or 9, status 32, IFNBAS as it was.
TEST_F(BasisFile, FailedCompactReadChangesNothing) {
  load_small_problem();
  set_slack_states();
  set_state(col_pos(1), kl::PS_BASIC);
  set_state(row_pos(1), 0);
  const std::vector<uint32_t> before = states();
  const std::string status_line = "22222222" + std::string(72, ' ');
  struct Case {
    std::vector<std::string> lines;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{compact_head("other", "4", "3"), status_line}, "for      4 rows and      3 columns, not      5 and      3"},
      {{compact_head("other", "5", "9"), status_line}, "for      5 rows and      9 columns"},
      {{compact_head("other", "abc", "3"), status_line}, "compact basis file is for"},
      {{compact_head("small", "5", "3")}, "Error reading the directives or basis file after line      1"},
      {{}, "Error reading the directives or basis file after line      0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    kltest::captured_lines().clear();
    write_file(path("m"), c.lines);
    KLSETICV(KLIC_IFNBAS, 0);
    EXPECT_EQ(KLBASISIN(dir.file("m").c_str(), "t"), 32);
    EXPECT_TRUE(kltest::any_line_contains(c.message)) << printed();
    EXPECT_EQ(states(), before);
    EXPECT_EQ(kl::icv(kl::ic::IFNBAS), 0);
  }
  // A file that is not there is no basis either.
  KLSETICV(KLIC_IFNBAS, 0);
  EXPECT_EQ(KLBASISIN(dir.file("absent").c_str(), "t"), 32);
  EXPECT_EQ(KLBASISIN(dir.file("absent").c_str(), nullptr), 32);
  EXPECT_EQ(states(), before);
  EXPECT_EQ(kl::icv(kl::ic::IFNBAS), 0);
}

TEST_F(BasisFile, FileNamesOptionCAndRefusals) {
  EXPECT_EQ(KLBASISOUT(dir.file("none").c_str(), nullptr), 32);
  EXPECT_TRUE(kltest::any_line_contains("No problem has been loaded"));

  load_small_problem();
  set_slack_states();
  set_state(col_pos(0), kl::PS_AT_UPPER);
  // A name with an extension is the file as given.
  ASSERT_EQ(KLBASISOUT(dir.file("mybasis.txt").c_str(), nullptr), 0);
  EXPECT_EQ(file_lines(dir.file("mybasis.txt")).size(), 3u);
  set_state(col_pos(0), 0);
  ASSERT_EQ(KLBASISIN(dir.file("mybasis.txt").c_str(), nullptr), 0);
  EXPECT_EQ(state(col_pos(0)), kl::PS_AT_UPPER);

  // Option c alone touches no file.
  ASSERT_EQ(KLBASISOUT(dir.file("c_only").c_str(), "c"), 0);
  EXPECT_FALSE(std::ifstream(path("c_only")).good());
  EXPECT_EQ(KLBASISIN(dir.file("c_only").c_str(), "c"), 0);

  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), "small") << "the problem name is as before";
}

// A presolved problem is written as the original problem and stays
// presolved; it refuses to read a basis (message 266, status 0).
TEST_F(BasisFile, PresolvedProblemWritesTheOriginalAndRefusesToRead) {
  load_small_problem();
  KLSETICV(KLIC_IFPRES, 1);
  // A solve stopped by its iteration limit leaves the problem presolved.
  KLSETICV(KLIC_ITRLIM, 0);
  KLMINIM("");
  KLSETICV(KLIC_ITRLIM, 100000);
  if ((kl::problem_flags & kl::PF_PRESOLVED_LP) == 0) GTEST_SKIP() << "presolve left nothing to postsolve";
  const int32_t rows = kl::nrow;
  ASSERT_EQ(KLBASISOUT(dir.file("p").c_str(), nullptr), 0);
  EXPECT_NE(kl::problem_flags & kl::PF_PRESOLVED_LP, 0);
  EXPECT_EQ(kl::nrow, rows);
  const std::vector<std::string> lines = file_lines(path("p"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "ENDATA");
  ASSERT_EQ(KLBASISOUT(dir.file("pc").c_str(), "t"), 0);
  EXPECT_NE(kl::problem_flags & kl::PF_PRESOLVED_LP, 0);
  const std::vector<std::string> compact = file_lines(path("pc"));
  ASSERT_EQ(compact.size(), 2u);
  EXPECT_EQ(std::stoi(compact[0].substr(8, 12)), 5) << "the original problem's rows";

  kltest::captured_lines().clear();
  EXPECT_EQ(KLBASISIN(dir.file("p").c_str(), nullptr), 0);
  EXPECT_TRUE(kltest::any_line_contains("presolved"));
}

// The console commands name the file after the problem and take the option
// letters; the name stays the problem's.
TEST_F(BasisFile, ConsoleCommandsWriteAndReadTheProblemsFile) {
  load_small_problem();
  ASSERT_EQ(KLSETPROB(dir.file("small").c_str()), 0);
  kltest::console_lines() = {"MINIM", "BASISOUT", "BASISOUT -t " + dir.file("compact"), "QUIT"};
  KLCONTROL(kltest::scripted_console);
  const std::vector<uint32_t> solved = states();
  const double optimum = kltest::objective_value();
  EXPECT_EQ(file_lines(path("small")).back(), "ENDATA");
  EXPECT_EQ(file_lines(path("compact")).size(), 2u);

  load_small_problem();
  ASSERT_EQ(KLSETPROB(dir.file("small").c_str()), 0);
  kltest::console_lines() = {"BASISIN -t " + dir.file("compact"), "QUIT"};
  KLCONTROL(kltest::scripted_console);
  EXPECT_EQ(states(), solved);
  load_small_problem();
  ASSERT_EQ(KLSETPROB(dir.file("small").c_str()), 0);
  kltest::console_lines() = {"BASISIN", "MINIM", "QUIT"};
  KLCONTROL(kltest::scripted_console);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(kltest::objective_value(), optimum, 1e-9);
  EXPECT_FALSE(kltest::any_line_contains("not available"));
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), dir.file("small"));
}

}  // namespace
