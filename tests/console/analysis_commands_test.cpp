// The analysis commands ANALYSE, STATS and ASSERT run through the command
// loop, the exit code a failed ASSERT gives, and the INVERT and FIXGLOBAL
// commands left as they were when a step fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console/analysis_commands.h"
#include "console/command_loop.h"
#include "factor/simplex_state.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

// min -3 x1 - 2 x2 + x3 with x1 + x2 + 0.01 x3 <= 4, 100 x1 + 300 x2 +
// 50 x3 <= 700, x1 <= 3, x >= 0. The optimum x = (3, 1, 0) is unique and
// not degenerate: x1, x2 and the slack of R2 are basic, the duals of R1 and
// R3 are -2 and -1, the reduced cost of x3 is 1.02.
constexpr const char* kSmallLp =
    "NAME          ANA\n"
    "ROWS\n"
    " N  COST\n"
    " L  R1\n"
    " L  R2\n"
    " L  R3\n"
    "COLUMNS\n"
    "    X1        COST            -3.0   R1               1.0\n"
    "    X1        R2             100.0   R3               1.0\n"
    "    X2        COST            -2.0   R1               1.0\n"
    "    X2        R2             300.0\n"
    "    X3        COST             1.0   R1              0.01\n"
    "    X3        R2              50.0\n"
    "RHS\n"
    "    RHS       R1               4.0   R2             700.0\n"
    "    RHS       R3               3.0\n"
    "ENDATA\n";

int count_lines_containing(const std::string& needle) {
  int n = 0;
  for (const auto& line : kltest::text_lines())
    if (line.text.find(needle) != std::string::npos) ++n;
  return n;
}

class AnalysisCommands : public kltest::LibrarySessionInDir {
 protected:
  void SetUp() override {
    kltest::LibrarySessionInDir::SetUp();
    std::ofstream("ana.mps") << kSmallLp;
  }

  int32_t run(const std::vector<std::string>& lines) {
    kltest::console_lines() = lines;
    return KLCONTROL(kltest::scripted_console);
  }

  // The analysis file of the problem ana, one double per position.
  std::vector<double> analysis_vector() {
    std::ifstream in("ana.ana", std::ios::binary);
    std::vector<double> v;
    double x = 0.0;
    while (in.read(reinterpret_cast<char*>(&x), sizeof x)) v.push_back(x);
    return v;
  }

  std::vector<std::string> lines_after(const std::string& first) {
    std::vector<std::string> out;
    bool on = false;
    for (const auto& line : kltest::text_lines()) {
      on = on || line.text == first;
      if (on) out.push_back(line.text);
    }
    return out;
  }
};

// ---------------------------------------------------------------------------
// ASSERT

TEST_F(AnalysisCommands, AssertTestsAndShowsAttributes) {
  ASSERT_EQ(run({"PROBLEM ana", "INPUT", "MINIM", "QUIT"}), kl::kExitQuit);
  ASSERT_NEAR(kltest::objective_value(), -11.0, 1e-9);
  const int32_t rows = kltest::int_attribute_value(KLIA_NROW);
  const std::string r = std::to_string(rows);
  struct Case {
    std::string line;
    bool fails;           // message 10
    const char* message;  // another message expected, or null
  } cases[] = {
      {"ASSERTnrow==" + r, false, nullptr},
      {"ASSERT nrow > " + r, true, nullptr},
      {"ASSERT nrow >= " + r, false, nullptr},
      {"ASSERT nrow < " + r, true, nullptr},
      {"ASSERT nrow<=" + r, false, nullptr},
      {"ASSERT NROW==" + r, false, "Unknown command or control name"},
      {"ASSERT nrow=" + r, false, "Unknown command or control name"},
      {"ASSERT nrow==" + r + "x", false, "Unknown command or control name"},
      {"ASSERT nosuch==1", false, "Unknown command or control name"},
      // Equality of reals holds within ZTOLPZ (1e-5), strictly.
      {"ASSERT objval==-11", false, nullptr},
      {"ASSERT objval==-11.000001", false, nullptr},
      {"ASSERT objval==-11.0001", true, nullptr},
      {"ASSERT objval>-11", true, nullptr},
      {"ASSERT objval>=-11", false, nullptr},
      {"ASSERT objval<-10.99", false, nullptr},
      {"ASSERT suminf==0", false, nullptr},
      {"ASSERT objval==abc", false, "Not a valid real number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    kltest::captured_lines().clear();
    const int32_t code = run({c.line, "QUIT"});
    EXPECT_EQ(count_lines_containing("Assertion failed"), c.fails ? 1 : 0);
    EXPECT_EQ(code, c.fails ? kl::kExitQuit + kl::kExitAssertionFailed : kl::kExitQuit);
    if (c.message != nullptr) {
      EXPECT_EQ(count_lines_containing(c.message), 1);
    }
  }
  kltest::captured_lines().clear();
  run({"ASSERT nrow > " + r, "QUIT"});
  EXPECT_TRUE(kltest::any_line_contains(std::string(12 - r.size(), ' ') + r)) << "the value, right-aligned";

  // The name alone shows the value.
  kltest::captured_lines().clear();
  run({"ASSERT itcnt", "ASSERT nrow", "QUIT"});
  const auto lines = kltest::text_lines();
  ASSERT_GE(lines.size(), 2u);
  char itcnt[16];
  std::snprintf(itcnt, sizeof itcnt, "%12d", kltest::int_attribute_value(KLIA_ITCNT));
  EXPECT_EQ(lines[lines.size() - 2].text, itcnt);
  EXPECT_EQ(lines.back().text, std::string(12 - r.size(), ' ') + r);
}

TEST_F(AnalysisCommands, FailedAssertionRaisesEveryExitCodeOfTheSession) {
  ASSERT_EQ(run({"PROBLEM ana", "INPUT", "MINIM", "ASSERT objval==-11", "STOP"}), 64);
  EXPECT_EQ(run({"ASSERT objval==-12", "ASSERT objval==-11", "STOP"}), 64 + kl::kExitAssertionFailed);
  EXPECT_EQ(run({"ASSERT objval==-12"}), kl::kExitEndOfInput + kl::kExitAssertionFailed);
  // Each call of the loop counts its own assertions.
  EXPECT_EQ(run({"QUIT"}), kl::kExitQuit);
}

// ---------------------------------------------------------------------------
// STATS

TEST_F(AnalysisCommands, StatsCountsRowsAndColumnsByLength) {
  ASSERT_EQ(run({"PROBLEM ana", "INPUT", "STATS", "QUIT"}), kl::kExitQuit);
  const std::vector<std::string> expected = {
      "Matrix statistics",
      "Largest absolute element value:    300.000000",
      "Smallest absolute element value:      .010000",
      "",
      "      From     To   Rows   Columns",
      "         1      1      1         0",
      "         3      5      3         3",
  };
  EXPECT_EQ(lines_after("Matrix statistics"), expected);
}

TEST_F(AnalysisCommands, StatsNeedsAProblem) {
  run({"STATS", "QUIT"});
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ERRORCODE), 91);
}

// A Netlib problem: the counts and extreme values read from its MPS file by
// hand, the stored matrix being the file's COLUMNS section.
TEST_F(AnalysisCommands, StatsOnANetlibProblem) {
  KLTEST_REQUIRE_DATA(afiro, "netlib/afiro.mps");
  std::filesystem::copy_file(afiro, "afiro.mps");
  std::ifstream in(afiro);
  std::map<std::string, int> row_length;
  std::map<std::string, int> column_length;
  std::vector<std::string> row_order;
  double largest = 0.0;
  double smallest = 1e20;
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '*') continue;
    if (line[0] != ' ') {
      std::istringstream(line) >> section;
      continue;
    }
    std::istringstream fields(line);
    if (section == "ROWS") {
      std::string type, name;
      fields >> type >> name;
      row_length[name] = 0;
    } else if (section == "COLUMNS") {
      std::string column, row;
      double value = 0.0;
      fields >> column;
      while (fields >> row >> value) {
        ++row_length[row];
        ++column_length[column];
        largest = std::max(largest, std::fabs(value));
        smallest = std::min(smallest, std::fabs(value));
      }
    }
  }
  const int bounds[] = {0, 1, 2, 5, 10, 50, 100, 500, 1000, 10000};
  const auto classify = [&bounds](int n) {
    int c = 0;
    while (c < 10 && n > bounds[c]) ++c;
    return c;
  };
  std::map<int, std::pair<int, int>> classes;
  for (const auto& [name, n] : row_length) ++classes[classify(n)].first;
  for (const auto& [name, n] : column_length) ++classes[classify(n)].second;

  ASSERT_EQ(run({"PROBLEM afiro", "INPUT", "STATS", "QUIT"}), kl::kExitQuit);
  const std::vector<std::string> shown = lines_after("Matrix statistics");
  ASSERT_EQ(shown.size(), 5 + classes.size()) << ::testing::PrintToString(shown);
  EXPECT_NEAR(std::stod(shown[1].substr(shown[1].find(':') + 1)), largest, 1e-6 * largest);
  EXPECT_NEAR(std::stod(shown[2].substr(shown[2].find(':') + 1)), smallest, 1e-6 * smallest);
  std::size_t k = 5;
  for (const auto& [c, counts] : classes) {
    std::istringstream fields(shown[k++]);
    int from = -1, to = -1, rows = -1, columns = -1;
    fields >> from >> to >> rows >> columns;
    EXPECT_EQ(from, c == 0 ? 0 : bounds[c - 1] + 1);
    EXPECT_EQ(to, bounds[c]);
    EXPECT_EQ(rows, counts.first);
    EXPECT_EQ(columns, counts.second);
  }
}

// ---------------------------------------------------------------------------
// ANALYSE

// Column analysis of x3 and row analysis of x2, on the problem as given and
// with row and column factors forced on it: the vectors are those of the
// problem as given either way.
TEST_F(AnalysisCommands, AnalyseGivesTheSameVectorsScaledAndUnscaled) {
  std::vector<std::vector<double>> column_vectors;
  std::vector<std::vector<double>> row_vectors;
  for (const bool scaled : {false, true}) {
    SCOPED_TRACE(scaled ? "scaled" : "unscaled");
    KLSETICV(KLIC_IFSCAL, 0);
    ASSERT_EQ(run({"PROBLEM ana", "INPUT", "QUIT"}), kl::kExitQuit);
    if (scaled) {
      const int32_t rows = kltest::int_attribute_value(KLIA_NROW);
      const int32_t columns = kltest::int_attribute_value(KLIA_NCOLS);
      std::vector<int32_t> row_exponents(static_cast<std::size_t>(rows));
      std::vector<int32_t> column_exponents(static_cast<std::size_t>(columns));
      for (int32_t i = 0; i < rows; ++i) row_exponents[static_cast<std::size_t>(i)] = 3 - 2 * i;
      for (int32_t j = 0; j < columns; ++j) column_exponents[static_cast<std::size_t>(j)] = 2 * j - 3;
      ASSERT_EQ(KLSCALE(row_exponents.data(), column_exponents.data()), 0);
    }
    ASSERT_EQ(run({"MINIM", "ANALYSE X3", "QUIT"}), kl::kExitQuit);
    ASSERT_NEAR(kltest::objective_value(), -11.0, 1e-9);
    column_vectors.push_back(analysis_vector());
    ASSERT_EQ(run({"ANALYSE 'X2' -a", "QUIT"}), kl::kExitQuit);
    row_vectors.push_back(analysis_vector());
    EXPECT_FALSE(kltest::any_line_contains("Error"));
  }
  const std::size_t n = column_vectors[0].size();
  ASSERT_EQ(n, static_cast<std::size_t>(kltest::int_attribute_value(KLIA_NSEQ)));
  ASSERT_GE(n, 7u);
  // The columns are the last three positions.
  const std::vector<double> column_tail(column_vectors[0].end() - 3, column_vectors[0].end());
  EXPECT_NEAR(column_tail[0], 0.0, 1e-12);     // -3 x alpha(x1) = 0
  EXPECT_NEAR(column_tail[1], -0.02, 1e-12);   // -2 x alpha(x2) = -2 x 0.01
  EXPECT_NEAR(column_tail[2], -1.0, 1e-12);    // minus the cost of x3
  for (std::size_t k = 0; k + 3 < n; ++k) EXPECT_EQ(column_vectors[0][k], 0.0) << k;
  // x2 = b1 - b3 = 4 - 3.
  double x2 = 0.0;
  for (const double v : row_vectors[0]) x2 += v;
  EXPECT_NEAR(x2, 1.0, 1e-12);
  // Rows in file order: COST, R1, R2, R3.
  EXPECT_NEAR(row_vectors[0][1], 4.0, 1e-12);
  EXPECT_NEAR(row_vectors[0][3], -3.0, 1e-12);
  for (std::size_t k = 0; k < n; ++k) {
    EXPECT_NEAR(column_vectors[1][k], column_vectors[0][k], 1e-12) << k;
    EXPECT_NEAR(row_vectors[1][k], row_vectors[0][k], 1e-12) << k;
  }
}

TEST_F(AnalysisCommands, AnalyseRefusesWhatItCannotAnalyse) {
  ASSERT_EQ(run({"PROBLEM ana", "INPUT", "MINIM", "QUIT"}), kl::kExitQuit);
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {"ANALYSE X1", "Column analysis needs a nonbasic variable; basic: X1"},
      {"ANALYSE X3 -a", "Row analysis needs a basic variable; not basic: X3"},
      {"ANALYSE R1 -a", "Row analysis needs a basic variable; not basic: R1"},
      {"ANALYSE NOSUCH", "name not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::filesystem::remove("ana.ana");
    kltest::captured_lines().clear();
    EXPECT_EQ(run({c.line, "QUIT"}), kl::kExitQuit);
    EXPECT_EQ(count_lines_containing(c.message), 1);
    EXPECT_FALSE(std::filesystem::exists("ana.ana"));
  }
  // A nonbasic row has its column analysis.
  kltest::captured_lines().clear();
  EXPECT_EQ(run({"ANALYSE R1", "QUIT"}), kl::kExitQuit);
  EXPECT_TRUE(std::filesystem::exists("ana.ana"));
  EXPECT_EQ(analysis_vector().size(), static_cast<std::size_t>(kltest::int_attribute_value(KLIA_NSEQ)));
}

TEST_F(AnalysisCommands, AnalyseNeedsAProblemAndItsSolutionFile) {
  EXPECT_EQ(run({"ANALYSE X1", "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(count_lines_containing("No problem has been loaded"), 1);
  kltest::captured_lines().clear();
  EXPECT_EQ(run({"PROBLEM ana", "INPUT", "ANALYSE X3", "QUIT"}), kl::kExitQuit);
  EXPECT_FALSE(std::filesystem::exists("ana.ana"));
}

// ---------------------------------------------------------------------------
// INVERT and FIXGLOBAL when a step fails

TEST_F(AnalysisCommands, FailedInvertPutsBackTheUsersSettings) {
  ASSERT_EQ(run({"PROBLEM ana", "INPUT", "MINIM", "QUIT"}), kl::kExitQuit);
  // The solution file cannot be written over a directory of its name.
  std::filesystem::remove("ana.sol");
  std::filesystem::create_directory("ana.sol");
  const int32_t forced = kl::kAlgorithmPrimal + kl::kAlgorithmForcedOffset;
  kl::lp_algorithm = forced;
  const int32_t flags = kl::problem_flags;
  run({"IQUIET=1", "INVERT", "QUIT"});
  EXPECT_TRUE(kltest::any_line_contains("ana.sol")) << "the failure names the solution file";
  EXPECT_EQ(kl::icv(kl::ic::IQUIET), 1);
  EXPECT_EQ(kl::lp_algorithm, forced);
  EXPECT_EQ(kl::problem_flags & (kl::PF_PRESOLVED_LP | kl::PF_PRESOLVED_GLOBAL | kl::PF_SEARCH_RUNNING),
            flags & (kl::PF_PRESOLVED_LP | kl::PF_PRESOLVED_GLOBAL | kl::PF_SEARCH_RUNNING));

  // And after a successful one as well.
  std::filesystem::remove("ana.sol");
  run({"IQUIET=1", "INVERT", "QUIT"});
  EXPECT_EQ(kl::icv(kl::ic::IQUIET), 1);
}

// Three binaries of a knapsack; the solution file cut inside the record of
// the last column: nothing is fixed, the first entity included.
TEST_F(AnalysisCommands, FixGlobalFixesNothingFromAFileItCannotReadWhole) {
  kltest::ArrayProblem p;
  p.row('L', 10.0);
  for (int j = 0; j < 3; ++j) {
    p.column(-(2.0 + j), 0.0, 1.0, {{0, 3.0 + j}});
    p.entity('B', j);
  }
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(p.load_global("knap"), 0);
  run({"MINIM -g", "QUIT"});
  const std::string sol = "knap.sol";
  ASSERT_TRUE(std::filesystem::exists(sol));
  const auto size = std::filesystem::file_size(sol);
  std::filesystem::resize_file(sol, size - 20);
  kltest::captured_lines().clear();
  run({"FIXGLOBAL", "QUIT"});
  EXPECT_TRUE(kltest::any_line_contains("Error reading"));
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NGLENT), 3);
  std::vector<double> lower(3), upper(3);
  KLGETBDL(lower.data(), 0, 2);
  KLGETBDU(upper.data(), 0, 2);
  EXPECT_EQ(lower, (std::vector<double>{0.0, 0.0, 0.0}));
  EXPECT_EQ(upper, (std::vector<double>{1.0, 1.0, 1.0}));
}

}  // namespace
