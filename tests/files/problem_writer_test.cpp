// The problem writers through KLOUTPUT and the OUTPUT command: the lines
// they write for the cases the format makes special, and small problems
// written and read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/lp_writer.h"
#include "files/mps_writer.h"
#include "files/problem_writer_support.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/problem_snapshot.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;
constexpr double kThird = 1.0 / 3.0;

// Columns: x [0,4], y [-inf,5], z free, iv integer [0,10], bn binary, big
// integer without upper bound, f fixed at 2, pi partial integer (limit 5)
// on [0,20], lonely (no entries at all) on [1,7], s1a and s1b members of a
// set of type 1. Rows: r1 L, r2 G, r3 E, r4 ranged [1,6], r5 free.
// Objective constant: -7.5 (KLCHGOBJ on column -1 takes minus it).
void load_mixed_problem() {
  const char row_types[] = "LGERN";
  const double rhs[] = {10, -3, 4, 6, 0};
  const double ranges[] = {0, 0, 0, 5, 0};
  const double cost[] = {1, 2, -1, 1, 1, 0.5, 3, 1, 0, 0.25, 0.125};
  // Column-wise: x: r1 1, r2 1, r4 1, r5 1; y: r1 2, r3 1, r5 1; z: r1 1/3,
  // r2 -1; iv: r2 1; bn: r3 1; big: r3 1; f: r3 1; pi: r4 1; lonely: none;
  // s1a: r4 1; s1b: r4 1.
  const int32_t starts[] = {0, 4, 7, 9, 10, 11, 12, 13, 14, 14, 15, 16};
  const int32_t rows[] = {0, 1, 3, 4, 0, 2, 4, 0, 1, 1, 2, 2, 2, 3, 3, 3};
  const double values[] = {1, 1, 1, 1, 2, 1, 1, kThird, -1, 1, 1, 1, 1, 1, 1, 1};
  const double lower[] = {0, -kInf, -kInf, 0, 0, 0, 2, 0, 1, 0, 0};
  const double upper[] = {4, 5, kInf, 10, 1, kInf, 2, 20, 7, 3, 3};
  const char entity_types[] = "IBIP";
  const int32_t entity_columns[] = {3, 4, 5, 7};
  const double limits[] = {0, 0, 0, 5};
  const char set_types[] = "1";
  const int32_t set_starts[] = {0, 2};
  const int32_t set_columns[] = {9, 10};
  const double set_refs[] = {1, 2};
  ASSERT_EQ(KLLOADGLOBAL("mixed", 11, 5, row_types, rhs, ranges, cost, starts, nullptr, rows, values, lower, upper,
                         4, 1, entity_types, entity_columns, limits, set_types, set_starts, set_columns, set_refs),
            0);
  const char row_names[] = "r1\0r2\0r3\0r4\0r5";
  ASSERT_EQ(KLADDNAMES(1, row_names, 0, 4), 0);
  const char column_names[] = "x\0y\0z\0iv\0bn\0big\0f\0pi\0lonely\0s1a\0s1b";
  ASSERT_EQ(KLADDNAMES(2, column_names, 0, 10), 0);
  const int32_t constant_column[] = {-1};
  const double constant[] = {7.5};
  ASSERT_EQ(KLCHGOBJ(1, constant_column, constant), 0);
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

// A number as a 12-character field holds it: right-aligned.
std::string field(const std::string& number) { return std::string(12 - number.size(), ' ') + number; }

bool has_line(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const std::string& line : lines)
    if (line == wanted) return true;
  return false;
}

// Lines that begin with the text.
std::vector<std::string> lines_starting(const std::vector<std::string>& lines, const std::string& start) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (line.compare(0, start.size(), start) == 0) out.push_back(line);
  return out;
}

class ProblemWriter : public kltest::LibrarySession {
 public:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }
  // Writes the current problem under the stem with the options; the path
  // of the file written.
  std::string output(const std::string& stem, const char* options, const char* extension = "mat") {
    EXPECT_EQ(KLOUTPUT(dir.file(stem).c_str(), options), 0) << options;
    return dir.file(stem) + "." + extension;
  }
  static double constant() { return kl::dcv(kl::kObjectiveConstantSlot); }

  kltest::TempDir dir;
};

// The cases the MPS format makes special, line by line: the objective that
// is no stored row, its constant, ranges, and each kind of bound.
TEST_F(ProblemWriter, MpsLinesOfTheSpecialCases) {
  load_mixed_problem();
  const std::vector<std::string> lines = file_lines(output("mixed", nullptr));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], "ROWS");
  EXPECT_EQ(lines[2], " N  __OBJ___") << "the objective comes first when it is no stored row";
  EXPECT_TRUE(has_line(lines, " N  r5"));
  EXPECT_TRUE(has_line(lines, "    RHS00001  __OBJ___  " + field("7.5") + "   r1        " + field("10")));
  EXPECT_TRUE(has_line(lines, "    RNG00001  r4        " + field("5")));
  EXPECT_EQ(lines_starting(lines, "    RNG00001").size(), 1u) << "only the ranged row has a range";
  EXPECT_TRUE(has_line(lines, " UI BND00001  iv        " + field("10")));
  EXPECT_EQ(lines_starting(lines, " LO BND00001  iv").size(), 0u);
  EXPECT_TRUE(has_line(lines, " BV BND00001  bn"));
  EXPECT_TRUE(has_line(lines, " UI BND00001  big       " + field("2147483645")));
  EXPECT_TRUE(has_line(lines, " FX BND00001  f         " + field("2")));
  EXPECT_TRUE(has_line(lines, " LO BND00001  y         " + field("-1e+20")));
  EXPECT_TRUE(has_line(lines, " UP BND00001  y         " + field("5")));
  EXPECT_TRUE(has_line(lines, " FR BND00001  z"));
  EXPECT_TRUE(has_line(lines, " PI BND00001  pi        " + field("5")));
  EXPECT_TRUE(has_line(lines, " UP BND00001  pi        " + field("20"))) << "a partial integer keeps its upper bound";
  EXPECT_TRUE(has_line(lines, "    SSSSSSS1  s1b       " + field("2")));
  EXPECT_TRUE(has_line(lines, " S1 SSSSSSS1                           s1a       " + field("1")));
  EXPECT_TRUE(has_line(lines, "    lonely    __OBJ___  " + field("0"))) << "a column without entries is declared";
  EXPECT_EQ(lines.back(), "ENDATA");
}

// The 12-character fields hold as many digits as fit.
TEST_F(ProblemWriter, MpsFieldsKeepTheDigitsThatFit) {
  const double rhs[] = {1.0 / 3.0};
  const double cost[] = {-2.0 / 3.0, 123456.7890123};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1e-7 / 3.0, -0.1};
  const double lower[] = {0, 0};
  const double upper[] = {kInf, 12345678901234.5};
  ASSERT_EQ(KLLOADPROB("digits", 2, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  ASSERT_EQ(KLADDNAMES(2, "x\0y", 0, 1), 0);
  const std::vector<std::string> lines = file_lines(output("digits", "o"));
  for (const char* wanted : {"-.6666666667", "3.3333333e-8", "123456.7890", "-0.1", ".3333333333", "1.2345679e13"}) {
    bool found = false;
    for (const std::string& line : lines) found = found || line.find(std::string(" ") + wanted) != std::string::npos;
    EXPECT_TRUE(found) << wanted;
  }
}

// Each option that keeps the problem as it is reads back as the same
// problem: exactly with option p, to the digits of the 12-character fields
// otherwise (a third keeps six of them); with option s under the generated names.
TEST_F(ProblemWriter, MpsFileReadsBackAsTheSameProblem) {
  load_mixed_problem();
  const kltest::ProblemSnapshot written = kltest::take_snapshot();
  const double written_constant = constant();
  const struct {
    const char* options;
    double tolerance;
  } cases[] = {{"", 2e-6}, {"o", 2e-6}, {"p", 0.0}, {"op", 0.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    load_mixed_problem();
    const std::string file = output(std::string("mixed_") + c.options, c.options);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    kltest::ProblemSnapshot read = kltest::take_snapshot();
    // The objective comes back as a row of its own (an N row), which the
    // loaded problem did not have.
    ASSERT_EQ(read.row_names.front(), "__OBJ___");
    read.row_names.erase(read.row_names.begin());
    read.row_type.erase("__OBJ___");
    read.rhs.erase("__OBJ___");
    read.range.erase("__OBJ___");
    for (const std::string& column : read.column_names) read.element.erase({"__OBJ___", column});
    kltest::expect_same_problem(written, read, c.tolerance);
    EXPECT_EQ(constant(), written_constant);
  }
  load_mixed_problem();
  const int32_t first_column = kl::store.first_col;
  ASSERT_EQ(KLINPUT(output("mixed_s", "s").c_str()), 0);
  const kltest::ProblemSnapshot generated = kltest::take_snapshot();
  ASSERT_EQ(generated.column_names.size(), written.column_names.size());
  EXPECT_EQ(generated.row_names[1], "VVVVVVV1");
  EXPECT_EQ(generated.column_names[0], kl::make_generated_name(first_column));
  EXPECT_EQ(generated.entities, written.entities);
  EXPECT_EQ(generated.sets, written.sets);
}

// Option c leaves out the fixed column and the free row and moves the
// fixed column's share into the right-hand side and the objective constant.
TEST_F(ProblemWriter, MpsOptionCLeavesOutFixedColumnsAndFreeRows) {
  load_mixed_problem();
  const std::vector<std::string> lines = file_lines(output("compact", "c"));
  EXPECT_TRUE(has_line(lines, "    RHS00001  __OBJ___  " + field("1.5") + "   r1        " + field("10"))) << "7.5 less 3 x 2";
  EXPECT_EQ(lines_starting(lines, " N  r5").size(), 0u);
  ASSERT_EQ(KLINPUT(dir.file("compact.mat").c_str()), 0);
  const kltest::ProblemSnapshot read = kltest::take_snapshot();
  EXPECT_EQ(read.column_names.size(), 10u);
  EXPECT_EQ(read.cost.count("f"), 0u);
  EXPECT_EQ(read.row_type.count("r5"), 0u);
  EXPECT_DOUBLE_EQ(read.rhs.at("r3"), 2.0);
  EXPECT_DOUBLE_EQ(constant(), -1.5);
}

// Option n writes the stored values of a scaled problem, which read back as
// what the internal queries give.
TEST_F(ProblemWriter, MpsOptionNWritesTheStoredValues) {
  KLSETICV(KLIC_IFSCAL, 1);
  load_mixed_problem();
  ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
  std::vector<double> stored(11);
  ASSERT_EQ(KLIGETOBJ(stored.data(), 0, 10), 0);
  ASSERT_EQ(KLINPUT(output("stored", "np").c_str()), 0);
  std::vector<double> read(11);
  ASSERT_EQ(KLGETOBJ(read.data(), 0, 10), 0);
  EXPECT_EQ(read, stored);
}

// A fixed column holds its own share of the objective; after an
// optimisation (which keeps that share aside) the file still gives the
// optimum once, with and without presolve.
TEST_F(ProblemWriter, FixedColumnShareIsWrittenOnce) {
  for (const int32_t presolve : {0, 1}) {
    SCOPED_TRACE(presolve);
    KLSETICV(KLIC_IFPRES, presolve);
    // min x + 3 f, x + f >= 3, f fixed at 2: optimum 1 + 6 = 7.
    const double rhs[] = {3};
    const double cost[] = {1, 3};
    const int32_t starts[] = {0, 1, 2};
    const int32_t rows[] = {0, 0};
    const double values[] = {1, 1};
    const double lower[] = {0, 2};
    const double upper[] = {kInf, 2};
    ASSERT_EQ(KLLOADPROB("fixed", 2, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
    ASSERT_EQ(KLADDNAMES(2, "x\0f", 0, 1), 0);
    ASSERT_EQ(KLMINIM(nullptr), 0);
    ASSERT_DOUBLE_EQ(kltest::objective_value(), 7.0);
    for (const char* options : {"l", ""}) {
      SCOPED_TRACE(options);
      const std::string file = output("fixed", options, options[0] == 'l' ? "lp" : "mat");
      if (options[0] == 'l') {
        // The share stands in the objective line once, as the column's cost.
        const std::vector<std::string> lines = file_lines(file);
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[3], " x + 3 f");
        continue;
      }
      ASSERT_EQ(KLINPUT(file.c_str()), 0);
      ASSERT_EQ(KLMINIM(nullptr), 0);
      EXPECT_DOUBLE_EQ(kltest::objective_value(), 7.0);
    }
  }
}

// The LP file: the objective with its constant, a ranged row as two rows,
// each kind of bound and the integer lists.
TEST_F(ProblemWriter, LpLinesOfTheSpecialCases) {
  load_mixed_problem();
  const std::vector<std::string> lines = file_lines(output("mixed", "l", "lp"));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "\\Problem name: mixed    ");
  EXPECT_EQ(lines[2], "Minimize");
  EXPECT_EQ(lines[3], " -7.5 + x + 2 y - z + iv + bn + 0.5 big + 3 f + pi + 0.25 s1a + 0.125 s1b");
  EXPECT_EQ(lines[4], " + 0 lonely") << "a column in no row is entered through the objective";
  EXPECT_TRUE(has_line(lines, "r1: x + 2 y + 0.3333333333333333 z <= 10 "));
  EXPECT_TRUE(has_line(lines, "r4: x + pi + s1a + s1b <= 6 "));
  EXPECT_TRUE(has_line(lines, "          x + pi + s1a + s1b >= 1 ")) << "the range as an unnamed row";
  EXPECT_EQ(lines_starting(lines, "r5:").size(), 0u) << "a free row is not written";
  EXPECT_TRUE(has_line(lines, "\\Special Ordered Sets"));
  bool set_row = false;
  for (const std::string& line : lines) set_row = set_row || line.find(": s1a + 2 s1b = S1") != std::string::npos;
  EXPECT_TRUE(set_row);
  EXPECT_TRUE(has_line(lines, " x <= 4"));
  EXPECT_TRUE(has_line(lines, " -inf <= y <= 5"));
  EXPECT_TRUE(has_line(lines, " z free"));
  EXPECT_TRUE(has_line(lines, " iv <= 10"));
  EXPECT_TRUE(has_line(lines, " big <= inf")) << "a general integer without bounds would read back as a binary";
  EXPECT_TRUE(has_line(lines, " f = 2"));
  EXPECT_TRUE(has_line(lines, " 1 <= lonely <= 7"));
  EXPECT_TRUE(has_line(lines, "Integers"));
  EXPECT_TRUE(has_line(lines, "iv big "));
  EXPECT_TRUE(has_line(lines, "Binaries"));
  EXPECT_TRUE(has_line(lines, "bn "));
  EXPECT_TRUE(has_line(lines, "Partial Integers"));
  EXPECT_TRUE(has_line(lines, "pi > 5"));
  EXPECT_EQ(lines.back(), "End");
}

// A row without terms holds a zero term, which other readers need and
// which adds nothing; the row reads back empty.
TEST_F(ProblemWriter, LpRowWithoutTerms) {
  const double rhs[] = {1, 0};
  const double cost[] = {1, 1};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1, 1};
  const double lower[] = {0, 0};
  const double upper[] = {kInf, kInf};
  ASSERT_EQ(KLLOADPROB("empty", 2, 2, "GL", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  ASSERT_EQ(KLADDNAMES(1, "c1\0c2", 0, 1), 0);
  ASSERT_EQ(KLADDNAMES(2, "x\0y", 0, 1), 0);
  const std::string file = output("empty", "l", "lp");
  EXPECT_TRUE(has_line(file_lines(file), "c2: 0 x <= 0 "));
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  const kltest::ProblemSnapshot read = kltest::take_snapshot();
  EXPECT_EQ(read.row_names, (std::vector<std::string>{"c1", "c2"}));
  EXPECT_EQ(read.element.size(), 2u);
}

// Generated names: R and the row number, C and the column's position.
TEST_F(ProblemWriter, LpGeneratedNames) {
  load_mixed_problem();
  const std::vector<std::string> lines = file_lines(output("generated", "ls", "lp"));
  const auto c = [](int32_t column) { return "C" + std::to_string(kl::store.first_col + column); };
  EXPECT_TRUE(has_line(lines, "R1 :  " + c(0) + " + 2 " + c(1) + " + 0.3333333333333333 " + c(2) + " <= 10 "));
  EXPECT_TRUE(has_line(lines, "L4 :  " + c(0) + " + " + c(7) + " + " + c(9) + " + " + c(10) + " >= 1 "));
  EXPECT_TRUE(has_line(lines, "S1 :  " + c(9) + " + 2 " + c(10) + " = S1"));
}

// Numbers read back as the same double; the precision letter changes
// nothing.
TEST_F(ProblemWriter, LpNumbersReadBackExactly) {
  load_mixed_problem();
  const std::vector<std::string> plain = file_lines(output("plain", "l", "lp"));
  const std::vector<std::string> precise = file_lines(output("precise", "lp", "lp"));
  EXPECT_EQ(plain, precise);
  for (const double x : {kThird, 0.1, 1e-300, 123456789.123456789, -2.5e-7, 1e20}) {
    const std::string text = kl::round_trip_number(x);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
    EXPECT_EQ(text.find_first_of("dD "), std::string::npos);
  }
}

// Names an LP reader cannot take are rewritten, made distinct, and
// reported once.
TEST_F(ProblemWriter, LpNamesOtherReadersCannotTake) {
  const struct {
    const char* stored;
    const char* written;
  } cases[] = {
      {"ok_name", "ok_name"}, {"1st", "_1st"},     {"x-y", "x_y"},      {"a[1]", "a_1_"},   {"b:c", "b_c"},
      {"e12", "e12"},         {"E", "E"},          {"end", "_end"},     {"Free", "_Free"},  {"MAXIM", "_MAXIM"}, {"Min", "_Min"}, {"MAX1", "MAX1"}, {"my col", "my_col"},
      {".5", "_.5"},          {"a+b", "a_b"},      {"{ok}", "{ok}"},    {"", "_"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(kl::lp_name_acceptable(c.stored), std::string(c.stored) == c.written);
    if (std::string(c.stored) != c.written) {
      EXPECT_EQ(kl::lp_name_rewritten(c.stored), c.written);
    }
  }
  EXPECT_EQ(kl::lp_name_rewritten(std::string(70, 'a')).size(), 56u);
  EXPECT_TRUE(kl::lp_name_acceptable(std::string(64, 'a')));
  EXPECT_FALSE(kl::lp_name_acceptable(std::string(65, 'a')));

  // Two columns whose rewritten names meet: the second is numbered.
  const double rhs[] = {1};
  const double cost[] = {1, 1, 1};
  const int32_t starts[] = {0, 1, 2, 3};
  const int32_t rows[] = {0, 0, 0};
  const double values[] = {1, 1, 1};
  const double lower[] = {0, 0, 0};
  const double upper[] = {kInf, kInf, kInf};
  ASSERT_EQ(KLLOADPROB("names", 3, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  const char names[] = "x-y\0x_y\0x y";
  ASSERT_EQ(KLADDNAMES(2, names, 0, 2), 0);
  kltest::captured_lines().clear();
  const std::vector<std::string> lines = file_lines(output("names", "l", "lp"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], " x_y~1 + x_y + x_y~2");
  EXPECT_TRUE(kltest::any_line_contains("2 names cannot be read back as they stand"));
}

// MPS files: a blank inside a name stays in fixed fields, and becomes "_"
// where the file reads with free fields (option p).
TEST_F(ProblemWriter, MpsNamesWithBlanks) {
  const double rhs[] = {1};
  const double cost[] = {1, 2};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1, 1};
  const double lower[] = {0, 0};
  const double upper[] = {kInf, kInf};
  ASSERT_EQ(KLLOADPROB("blanks", 2, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  ASSERT_EQ(KLADDNAMES(1, "row one", 0, 0), 0);
  ASSERT_EQ(KLADDNAMES(2, "my col\0other", 0, 1), 0);
  ASSERT_EQ(KLINPUT(output("fixed", "").c_str()), 0);
  EXPECT_EQ(kltest::take_snapshot().column_names, (std::vector<std::string>{"my col", "other"}));
  ASSERT_EQ(KLMINIM(nullptr), 0);
  EXPECT_DOUBLE_EQ(kltest::objective_value(), 1.0);
  ASSERT_EQ(KLINPUT(output("free", "p").c_str()), 0);
  EXPECT_EQ(kltest::take_snapshot().column_names, (std::vector<std::string>{"my_col", "other"}));
  EXPECT_EQ(kltest::take_snapshot().row_names.back(), "row_one");
}

// The quadratic objective travels in both forms: a QUADOBJ section (one
// triangle) in MPS, the bracket in LP; the off-diagonal entry 0.5 is
// written as x * y without a number.
TEST_F(ProblemWriter, QuadraticObjectiveReadsBack) {
  const double rhs[] = {1};
  const double cost[] = {1, -1};
  const int32_t starts[] = {0, 1, 2};
  const int32_t rows[] = {0, 0};
  const double values[] = {1, 1};
  const double lower[] = {0, 0};
  const double upper[] = {kInf, kInf};
  const int32_t q1[] = {0, 0, 1};
  const int32_t q2[] = {0, 1, 1};
  const double qv[] = {2, 0.5, kThird};
  ASSERT_EQ(KLLOADQPROB("quad", 2, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper, 3, q1, q2,
                        qv),
            0);
  ASSERT_EQ(KLADDNAMES(2, "x\0y", 0, 1), 0);
  const std::vector<std::string> lp = file_lines(output("quad", "l", "lp"));
  ASSERT_GE(lp.size(), 4u);
  EXPECT_EQ(lp[3], " x - y + [ 2 x^2 + x * y + 0.3333333333333333 y^2 ]");
  for (const char* options : {"p", "l"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(KLLOADQPROB("quad", 2, 1, "G", rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper, 3, q1,
                          q2, qv),
              0);
    ASSERT_EQ(KLADDNAMES(2, "x\0y", 0, 1), 0);
    ASSERT_EQ(KLINPUT(output("quad", options, options[0] == 'l' ? "lp" : "mat").c_str()), 0);
    double v[3] = {};
    ASSERT_EQ(KLGETQOBJ(0, 0, &v[0]), 0);
    ASSERT_EQ(KLGETQOBJ(0, 1, &v[1]), 0);
    ASSERT_EQ(KLGETQOBJ(1, 1, &v[2]), 0);
    EXPECT_EQ(v[0], 2.0);
    EXPECT_EQ(v[1], 0.5);
    EXPECT_EQ(v[2], kThird);
  }
}

TEST_F(ProblemWriter, FailuresAreReported) {
  EXPECT_EQ(KLOUTPUT(dir.file("none").c_str(), nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 91);
  load_mixed_problem();
  for (const char* options : {"", "l"}) {
    SCOPED_TRACE(options);
    EXPECT_EQ(KLOUTPUT(dir.file("no/such/dir/p").c_str(), options), 2);
    // The problem name is the caller's again.
    char name[512] = {};
    ASSERT_EQ(KLGETPROB(name), 0);
    EXPECT_EQ(std::string(name), "mixed");
  }
}

// The OUTPUT command writes with the command's option letters.
TEST_F(ProblemWriter, OutputCommand) {
  load_mixed_problem();
  const std::string stem = dir.file("console");
  kltest::console_lines() = {"OUTPUT " + stem, "OUTPUT " + stem + " -l", "QUIT"};
  EXPECT_EQ(KLCONTROL(kltest::scripted_console), 0);
  EXPECT_TRUE(std::filesystem::exists(stem + ".mat"));
  EXPECT_TRUE(std::filesystem::exists(stem + ".lp"));
}

}  // namespace
