// ?ARAOBJ through the console: the direction row (default or named), the
// parametric log lines against hand-computed breakpoints and objectives,
// the unbounded end and the refusals.
//
// The problem: min -3x - y with x + y <= 4, x <= 3, y <= 3 and the free
// direction row DIR = 2x - y. The objective at lambda is
// (-3 + 2 lambda) x + (-1 - lambda) y: (3, 1) is optimal up to lambda 2/3,
// (1, 3) up to 3/2, (0, 3) beyond.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "runtime/controls.h"
#include "factor/simplex_state.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

using kltest::console_lines;
using kltest::scripted_console;

// The two-breakpoint problem; sign -1 gives the same problem to maximise
// (objective and direction negated), two_dir adds DIR2 = 2 x DIR.
std::string two_breakpoint_lp(double sign) {
  std::ostringstream s;
  s << "NAME PARA\nROWS\n N COST\n N DIR\n L R1\n L R2\n L R3\n N DIR2\nCOLUMNS\n"
    << " X COST " << -3 * sign << " DIR " << 2 * sign << "\n X R1 1 R2 1\n X DIR2 " << 4 * sign << "\n"
    << " Y COST " << -1 * sign << " DIR " << -1 * sign << "\n Y R1 1 R3 1\n Y DIR2 " << -2 * sign << "\n"
    << "RHS\n RHS R1 4 R2 3\n RHS R3 3\nENDATA\n";
  return s.str();
}

// min x + y + lambda (-2y) with x - y <= 1: y's cost reaches 0 at lambda
// 1/2 and nothing bounds y.
const char kUnboundedLp[] =
    "NAME UNB\nROWS\n N COST\n N DIR\n L R1\nCOLUMNS\n X COST 1 R1 1\n Y COST 1 DIR -2\n Y R1 -1\n"
    "RHS\n RHS R1 1\nENDATA\n";

// No free row besides the objective.
const char kNoDirectionLp[] =
    "NAME NODIR\nROWS\n N COST\n L R1\nCOLUMNS\n X COST -1 R1 1\nRHS\n RHS R1 4\nENDATA\n";

// The numbers of a parametric log line: iteration, lambda, objective,
// objective at lambda, entering, leaving.
struct LogLine {
  int iteration;
  double lambda, objective, at_lambda;
  int entering, leaving;
};

class Araobj : public kltest::LibrarySessionInDir {
 protected:

  // Loads name.mps, optimises with the command given and runs the lines.
  void session(const std::string& name, const std::string& text, const std::string& optimise,
               const std::vector<std::string>& commands) {
    std::ofstream(dir_.file(name + ".mps")) << text;
    console_lines() = {"PROBLEM " + name, "INPUT", optimise};
    for (const std::string& c : commands) console_lines().push_back(c);
    console_lines().push_back("QUIT");
    kltest::captured_lines().clear();
    EXPECT_EQ(KLCONTROL(scripted_console), 0);
  }

  static std::vector<LogLine> log_lines() {
    std::vector<LogLine> out;
    bool after_header = false;
    for (const auto& line : kltest::text_lines()) {
      if (line.text.find("At lambda") != std::string::npos) {
        after_header = true;
        continue;
      }
      if (!after_header) continue;
      std::istringstream in(line.text);
      LogLine l{};
      int seconds = 0;
      if (in >> l.iteration >> l.lambda >> l.objective >> l.at_lambda >> l.entering >> l.leaving >> seconds)
        out.push_back(l);
      else
        after_header = false;
    }
    return out;
  }

  // The lambda of the closing message, NaN when there is none.
  static double final_lambda() {
    for (const auto& line : kltest::text_lines()) {
      const std::string key = "ends at lambda";
      const auto at = line.text.find(key);
      if (at != std::string::npos) return std::stod(line.text.substr(at + key.size()));
    }
    return std::nan("");
  }

  static bool printed(const std::string& text) { return kltest::any_line_contains(text); }

};

TEST_F(Araobj, LogLinesShowEachBreakpointWithBothObjectives) {
  // Maximising the negated problem follows the same bases; its objectives
  // are the negated ones, in the caller's sense.
  struct Case {
    const char* optimise;
    double sign;
  } cases[] = {{"MINIM", 1.0}, {"MAXIM", -1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.optimise);
    session("para", two_breakpoint_lp(c.sign), c.optimise, {"?ARAOBJ"});
    EXPECT_TRUE(printed("along row DIR"));
    const std::vector<LogLine> lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    // (3, 1) -> (1, 3): the slack of R2 (position 4) enters, that of R3 leaves.
    EXPECT_EQ(lines[0].iteration, 1);
    EXPECT_NEAR(lines[0].lambda, 2.0 / 3.0, 1e-6);
    EXPECT_NEAR(lines[0].objective, -6.0 * c.sign, 1e-6);
    EXPECT_NEAR(lines[0].at_lambda, (-6.0 - 2.0 / 3.0) * c.sign, 1e-6);
    EXPECT_EQ(lines[0].entering, 4);
    EXPECT_EQ(lines[0].leaving, 5);
    // (1, 3) -> (0, 3): the slack of R1 enters, x (position 7, after the six rows) leaves.
    EXPECT_EQ(lines[1].iteration, 2);
    EXPECT_NEAR(lines[1].lambda, 1.5, 1e-6);
    EXPECT_NEAR(lines[1].objective, -3.0 * c.sign, 1e-6);
    EXPECT_NEAR(lines[1].at_lambda, -7.5 * c.sign, 1e-6);
    EXPECT_EQ(lines[1].entering, 3);
    EXPECT_EQ(lines[1].leaving, 7);
    EXPECT_NEAR(final_lambda(), 1.5, 1e-6);
    EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);
    EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 100) << "ITRLOG is put back";
  }
}

TEST_F(Araobj, NamedRowIsTheDirection) {
  // DIR2 doubles DIR, so its breakpoints are halved. Along R1 the
  // objective is c'x + lambda (x + y - 4): (3, 1) up to 1, (3, 0) up to 3,
  // then (0, 0); R1's slack starts non-basic. Along the objective row
  // itself the optimum never moves.
  struct Case {
    const char* command;
    const char* row;
    std::vector<double> lambdas, at_lambda;
  } cases[] = {
      {"?ARAOBJ 'DIR2'", "DIR2", {1.0 / 3.0, 0.75}, {-6.0 - 2.0 / 3.0, -7.5}},
      {"?ARAOBJ R1", "R1", {1.0, 3.0}, {-10.0, -12.0}},
      {"?araobj DIR2", "DIR2", {1.0 / 3.0, 0.75}, {-6.0 - 2.0 / 3.0, -7.5}},
      {"?ARAOBJ COST", "COST", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    session("para", two_breakpoint_lp(1.0), "MINIM", {c.command});
    EXPECT_TRUE(printed(std::string("along row ") + c.row));
    const std::vector<LogLine> lines = log_lines();
    ASSERT_EQ(lines.size(), c.lambdas.size());
    for (size_t k = 0; k < lines.size(); ++k) {
      EXPECT_NEAR(lines[k].lambda, c.lambdas[k], 1e-6);
      EXPECT_NEAR(lines[k].at_lambda, c.at_lambda[k], 1e-6);
    }
    EXPECT_NEAR(final_lambda(), c.lambdas.empty() ? 0.0 : c.lambdas.back(), 1e-6);
  }
}

TEST_F(Araobj, ColumnEnteringWithoutLimitEndsWithItsNumber) {
  session("unb", kUnboundedLp, "MINIM", {"?ARAOBJ"});
  EXPECT_EQ(kl::status_letter, kl::kLetterUnbounded);
  EXPECT_TRUE(log_lines().empty()) << "the unbounded step makes no pivot";
  bool found = false;
  for (const auto& line : kltest::text_lines()) {
    if (line.text.find("enters without limit") == std::string::npos) continue;
    found = true;
    std::istringstream in(line.text.substr(line.text.find("lambda") + 6));
    double lambda = 0.0;
    char colon = 0;
    std::string word;
    int column = 0;
    in >> lambda >> colon >> word >> column;
    EXPECT_NEAR(lambda, 0.5, 1e-9);
    EXPECT_EQ(column, 5) << "Y, after the three rows and X";
  }
  EXPECT_TRUE(found);
}

TEST_F(Araobj, RefusalsLeaveItrlogAndGoOn) {
  struct Case {
    const char* file;
    const char* command;
    const char* message;
  } cases[] = {
      {kNoDirectionLp, "?ARAOBJ", "needs a free row"},
      {kNoDirectionLp, "?ARAOBJ NOSUCH", "No row or column of this name: NOSUCH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    session("nodir", c.file, "MINIM", {"ITRLOG=7", c.command, "ITRLOG=8"});
    EXPECT_TRUE(printed(c.message));
    EXPECT_FALSE(printed("ends at lambda"));
    EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 8) << "the loop went on after the refusal";
  }
}

// On a real (scaled, degenerate) problem: between breakpoints the logged
// objective is linear in lambda, and it equals the optimum of the LP whose
// costs are c + lambda a_k, less lambda b_k.
TEST_F(Araobj, AfiroSegmentsAgreeWithTheLpSolvedAtLambda) {
  KLTEST_REQUIRE_DATA(afiro, "netlib/afiro.mps");
  std::filesystem::copy_file(afiro, dir_.file("afiro.mps"));
  console_lines() = {"PROBLEM afiro", "INPUT", "MINIM", "?ARAOBJ X05", "QUIT"};
  ASSERT_EQ(KLCONTROL(scripted_console), 0);
  const std::vector<LogLine> lines = log_lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(kl::status_letter, kl::kLetterOptimal);

  int32_t row = -1;
  ASSERT_EQ(KLGETINDEX(1, "X05", &row), 0);
  double b = 0.0;
  ASSERT_EQ(KLGETRHS(&b, row, row), 0);
  int32_t columns = 0;
  ASSERT_EQ(KLGETIPV(KLIA_NCOLS, &columns), 0);
  std::vector<double> cost(static_cast<size_t>(columns));
  ASSERT_EQ(KLGETOBJ(cost.data(), 0, columns - 1), 0);
  int32_t starts[2] = {0, 0};
  std::vector<int32_t> cols(static_cast<size_t>(columns));
  std::vector<double> values(static_cast<size_t>(columns));
  int32_t count = 0;
  ASSERT_EQ(KLGETROWS(starts, cols.data(), values.data(), columns, &count, row, row), 0);

  // Each segment starts at its line: f(lambda) = objective + lambda g, with
  // g = (at_lambda - objective) / its lambda.
  auto segment_value = [&](size_t k, double lambda) {
    const LogLine& l = lines[k];
    return l.objective + lambda * (l.at_lambda - l.objective) / l.lambda;
  };
  const double middle = 0.5 * (lines[0].lambda + lines[1].lambda);
  const double beyond = lines.back().lambda + 1.0;
  const struct {
    double lambda, expected;
  } points[] = {{middle, segment_value(0, middle)}, {beyond, segment_value(lines.size() - 1, beyond)}};
  for (const auto& point : points) {
    SCOPED_TRACE(point.lambda);
    std::vector<double> shifted = cost;
    for (int32_t e = 0; e < count; ++e) shifted[static_cast<size_t>(cols[e])] += point.lambda * values[e];
    std::vector<int32_t> all(static_cast<size_t>(columns));
    for (int32_t j = 0; j < columns; ++j) all[static_cast<size_t>(j)] = j;
    ASSERT_EQ(KLCHGOBJ(columns, all.data(), shifted.data()), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    double optimum = 0.0;
    ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &optimum), 0);
    EXPECT_NEAR(optimum - point.lambda * b, point.expected, 1e-5 * std::fabs(point.expected) + 1e-6);
  }
}

TEST_F(Araobj, QuietPrintsNoLogLines) {
  session("para", two_breakpoint_lp(1.0), "MINIM", {"IQUIET=1", "?ARAOBJ", "IQUIET=0"});
  EXPECT_FALSE(printed("At lambda"));
  EXPECT_TRUE(log_lines().empty());
  EXPECT_NEAR(final_lambda(), 1.5, 1e-6) << "the closing message is not part of the log";
}

}  // namespace
