// The command loop driven through KLCONTROL with a scripted console entry:
// line reduction and option groups, name matching, the command file, echo,
// exit codes, the PROBLEM command and a whole session on a real problem.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "console/command_handlers.h"
#include "console/command_loop.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/platform.h"
#include "runtime/text_io.h"
#include "factor/simplex_state.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

// The console script: one line per call, then the end of input. A line
// longer than the room offered is announced and handed out on the next call;
// a page break of a report (no room) is answered "go on".
struct Script {
  Script() = default;
  explicit Script(std::vector<std::string> script_lines) : lines(std::move(script_lines)) {}
  std::vector<std::string> lines;
  std::size_t next = 0;
  std::vector<int32_t> rooms;  // room offered at each call
};

Script& script() {
  static Script s;
  return s;
}

void scripted_console(char* line, int32_t* length) {
  Script& s = script();
  s.rooms.push_back(*length);
  if (*length == 0) return;  // a page break of a report: go on
  if (s.next >= s.lines.size()) {
    *length = -1;
    return;
  }
  const std::string& text = s.lines[s.next];
  const int32_t count = static_cast<int32_t>(text.size());
  if (count > *length) {
    *length = count;
    return;
  }
  std::memcpy(line, text.data(), text.size());
  *length = count;
  ++s.next;
}

std::string flags_set() {
  std::string letters;
  for (char c = 'a'; c <= 'z'; ++c)
    if (kl::option_set(c)) letters.push_back(c);
  return letters;
}

std::string reduced_text() {
  return kl::command_line.text.substr(0, static_cast<std::size_t>(kl::command_line.length));
}

int count_lines_containing(const std::string& needle) {
  int n = 0;
  for (const auto& line : kltest::text_lines())
    if (line.text.find(needle) != std::string::npos) ++n;
  return n;
}

// The index of the first captured line equal to text, or -1.
int line_index(const std::string& text) {
  const auto lines = kltest::text_lines();
  for (std::size_t k = 0; k < lines.size(); ++k)
    if (lines[k].text == text) return static_cast<int>(k);
  return -1;
}

class CommandLoop : public kltest::LibrarySessionInDir {
 protected:

  int32_t run(const std::vector<std::string>& lines) {
    script() = Script{lines};
    return KLCONTROL(scripted_console);
  }

  void write_file(const std::string& name, const std::string& text) {
    std::ofstream(dir_.file(name)) << text;
  }

  int32_t control(int n) { return kl::icv(n); }

};

// ---------------------------------------------------------------------------
// Reading and reducing lines

TEST_F(CommandLoop, LinesAreReducedAndOptionGroupsTaken) {
  const std::string long_name(300, 'p');
  struct Case {
    std::vector<std::string> lines;
    std::string text;
    std::string flags;
  } cases[] = {
      {{"MAXIM -b -d"}, "MAXIM", "bd"},
      {{"MAXIM -bd"}, "MAXIM", "bd"},
      {{"MAXIM-b"}, "MAXIM-b", ""},
      {{"MAXIM -b1"}, "MAXIM-1", "b"},
      {{"MAXIM -B"}, "MAXIM-B", ""},
      {{"-b MAXIM"}, "-bMAXIM", ""},
      {{"PROBLEM my file"}, "PROBLEMmyfile", ""},
      {{"PROBLEM 'my file'"}, "PROBLEM'my file'", ""},
      {{"PROBLEM 'a -b'"}, "PROBLEM'a -b'", ""},
      {{"ITRLOG = 10"}, "ITRLOG=10", ""},
      // Empty, blank and option-only lines and comments run nothing; the
      // flags of a skipped line do not reach the next one.
      {{"", "   ", " -x", "!MAXIM -b", "MINIM"}, "MINIM", ""},
      {{" !x"}, "!x", ""},
      {{"PROBLEM " + long_name}, "PROBLEM" + long_name, ""},
  };
  for (const Case& c : cases) {
    script() = Script{c.lines};
    kl::define_console_entry(scripted_console);
    ASSERT_TRUE(kl::read_command_line()) << c.lines.back();
    EXPECT_EQ(reduced_text(), c.text) << c.lines.back();
    EXPECT_EQ(flags_set(), c.flags) << c.lines.back();
    EXPECT_EQ(kl::command_line.position, 1);
    EXPECT_EQ(script().next, c.lines.size()) << "every line consumed, none split";
    // Short commands are blank-filled for the fixed-width fields read after them.
    const std::size_t filled = std::max<std::size_t>(c.text.size(), kl::kCommandFillWidth);
    EXPECT_EQ(kl::command_line.text, c.text + std::string(filled - c.text.size(), ' '));
  }
  EXPECT_FALSE(kl::read_command_line()) << "the script is used up: end of input";
}

TEST_F(CommandLoop, NamesMatchAsPrefixesOfTheWordTyped) {
  struct Case {
    const char* text;
    int32_t index;
    int32_t position_after;
  } cases[] = {
      {"maxim", 3, 6},     {"MAXIMUM", 3, 6},  {"Quit", 6, 5},       {"?rash", 2, 6},
      {"problemx.y", 22, 8}, {"MAX", 0, 1},    {"xINPUT", 0, 1},     {"SCALE", 44, 6},
  };
  for (const Case& c : cases) {
    kl::reduce_command_line(c.text, static_cast<int32_t>(std::strlen(c.text)));
    int32_t index = -1;
    EXPECT_EQ(kl::match_name(kl::command_names, index), c.index) << c.text;
    EXPECT_EQ(index, c.index) << c.text;
    EXPECT_EQ(kl::command_line.position, c.position_after) << c.text;
  }
  // Lower-case letters of a name match only themselves.
  static const char lower_names[] = "ab\0";
  kl::reduce_command_line("AB", 2);
  int32_t index = -1;
  EXPECT_EQ(kl::match_name(lower_names, index), 0);
  EXPECT_EQ(kl::command_name(kl::kCommandCount), "SCALE");
  EXPECT_EQ(kl::command_name(kl::kCommandCount + 1), "");
}

// ---------------------------------------------------------------------------
// The loop

TEST_F(CommandLoop, UnknownWordsAndFailedCommandsDoNotEndTheLoop) {
  EXPECT_EQ(run({"NOSUCHWORD", "INVERT", "ITRLOGX=5", "ITRLOG=7", "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(count_lines_containing("Unknown command or control name"), 2);
  EXPECT_EQ(count_lines_containing("No problem has been loaded"), 1);
  EXPECT_EQ(control(kl::ic::ITRLOG), 7);
  EXPECT_EQ(script().next, 5u);
}

TEST_F(CommandLoop, ExitCodes) {
  EXPECT_EQ(run({"QUIT", "ITRLOG=1"}), kl::kExitQuit);
  EXPECT_EQ(script().next, 1u) << "nothing is read after QUIT";
  EXPECT_EQ(run({"ITRLOG=2"}), kl::kExitEndOfInput);
  EXPECT_EQ(run({"STOP"}), kl::stop_exit_code(kl::global_status, kl::status_letter));

  // A status word that already ends the loop is returned without a line read.
  script() = Script{{"QUIT"}};
  kl::define_console_entry(scripted_console);
  kl::status_code = kl::STATUS_FATAL;
  EXPECT_EQ(kl::run_command_loop(), kl::STATUS_FATAL);
  EXPECT_TRUE(script().rooms.empty());
}

TEST(StopExitCode, TellsTheLastOutcome) {
  struct Case {
    int32_t search;
    char letter;
    int32_t code;
  } cases[] = {
      {1, 'Z', 63}, {2, 'O', 64}, {0, 'N', 65}, {2, 'U', 66}, {2, ' ', 99}, {2, 'D', 99},
      {6, 'O', 67}, {4, 'O', 68}, {5, 'N', 70}, {3, 'O', 69}, {7, 'O', 69},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kl::stop_exit_code(c.search, c.letter), c.code) << c.search << " " << c.letter;
}

TEST_F(CommandLoop, LongConsoleLinesAreAskedForAgainAndKeptWhole) {
  // Cut at the first room, the value would read as 0; split, the tail would
  // be an unknown word.
  const std::string line = "ITRLOG=" + std::string(290, '0') + "42";
  EXPECT_EQ(run({line, "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(control(kl::ic::ITRLOG), 42);
  EXPECT_EQ(count_lines_containing("Unknown"), 0);
  ASSERT_GE(script().rooms.size(), 2u);
  EXPECT_EQ(script().rooms[0], kl::kConsoleEntryRoom);
  EXPECT_EQ(script().rooms[1], static_cast<int32_t>(line.size()));
}

TEST_F(CommandLoop, ConsoleLinesAreEchoedOnlyWithIfecho) {
  EXPECT_EQ(run({"ITRLOG=5", "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(line_index("ITRLOG=5"), -1);

  kltest::captured_lines().clear();
  ASSERT_EQ(KLSETICV(KLIC_IFECHO, 1), 0);
  EXPECT_EQ(run({"ITRLOG = 6", "QUIT"}), kl::kExitQuit);
  const int echo = line_index("ITRLOG = 6");
  ASSERT_GE(echo, 0) << "the raw line is echoed";
  EXPECT_EQ(kltest::text_lines()[static_cast<std::size_t>(echo)].kind, KL_KIND_ECHO);
  EXPECT_GE(line_index("QUIT"), 0);
}

TEST_F(CommandLoop, CommandFileRunsFirstAndIsAlwaysEchoed) {
  write_file("kl-run.ini", "ITRLOG=33\n!a comment\nRHSNAM=INI\r\n");
  EXPECT_EQ(run({"ITRLOG", "QUIT"}), kl::kExitQuit);
  const int echo = line_index("ITRLOG=33");
  const int shown = line_index("          33");
  ASSERT_GE(echo, 0) << "file lines are echoed although IFECHO is 0";
  ASSERT_GE(shown, 0);
  EXPECT_LT(echo, shown) << "the file runs before the console";
  EXPECT_EQ(std::string(kl::character_controls[kl::cc::RHSNAM], 8), "INI     ");
  EXPECT_EQ(kl::text_file_stack.depth, 0);
}

TEST_F(CommandLoop, CommandFileCanEndTheSessionAndIsClosedAfterIt) {
  write_file("kl-run.ini", "ITRLOG=44\nQUIT\nITRLOG=45\n");
  EXPECT_EQ(run({"ITRLOG=1"}), kl::kExitQuit);
  EXPECT_TRUE(script().rooms.empty()) << "the console is not read";
  EXPECT_EQ(control(kl::ic::ITRLOG), 44);
  EXPECT_EQ(kl::text_file_stack.depth, 0) << "no file is left open for the next call";
}

TEST_F(CommandLoop, MissingCommandFileIsSilent) {
  kl::error_number = 0;
  EXPECT_EQ(run({"QUIT"}), kl::kExitQuit);
  EXPECT_TRUE(kltest::text_lines().empty());
  EXPECT_EQ(kl::error_number, 0);
}

// A Ctrl-C at the prompt interrupts nothing: the flag is cleared once the
// line is read, so HELP (which stops at a pending interrupt) runs whole.
void interrupting_console(char* line, int32_t* length) {
  kl::interrupt_flag = 1;
  scripted_console(line, length);
}

TEST_F(CommandLoop, InterruptAtThePromptDoesNotReachTheNextCommand) {
  script() = Script{{"HELP", "QUIT"}};
  EXPECT_EQ(KLCONTROL(interrupting_console), kl::kExitQuit);
  EXPECT_EQ(count_lines_containing("QUIT, STOP"), 1);
}

// ---------------------------------------------------------------------------
// PROBLEM

TEST_F(CommandLoop, ProblemCommandTakesTheStem) {
  struct Case {
    std::string line;
    std::string text;
    int32_t length;
    std::string stem;
    bool extension_message;
  } cases[] = {
      {"PROBLEM C:\\data.set\\run7", "C:\\data.set\\run7.", 17, "C:\\data.set\\run7", false},
      {"PROBLEM /data.set/run7", "/data.set/run7.", 15, "/data.set/run7", false},
      {"PROBLEM run7.mps", "run7.mps", 5, "run7", true},
      {"PROBLEM run7.", "run7.", 5, "run7", true},
      {"problem 'my file'", "'my file'.", 10, "'my file'", false},
      {"PROBLEM", ".", 1, "", false},
  };
  for (const Case& c : cases) {
    kltest::captured_lines().clear();
    EXPECT_EQ(run({c.line, "QUIT"}), kl::kExitQuit) << c.line;
    EXPECT_EQ(kl::problem_name.text, c.text) << c.line;
    EXPECT_EQ(kl::problem_name.length, c.length) << c.line;
    EXPECT_EQ(count_lines_containing("Extension left out"), c.extension_message ? 1 : 0) << c.line;
    char stem[512] = {};
    EXPECT_EQ(KLGETPROB(stem), 0);
    EXPECT_EQ(std::string(stem), c.stem) << c.line;
  }
}

TEST_F(CommandLoop, ProblemNameTooLongIsRefusedAndKept) {
  ASSERT_EQ(KLSETPROB("kept"), 0);
  const std::string line = "PROBLEM " + std::string(kl::kProblemNameMax + 1, 'n');
  EXPECT_EQ(run({line, "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(count_lines_containing("name longer than"), 1);
  EXPECT_EQ(kl::get_problem_name(), "kept");
}

// ---------------------------------------------------------------------------
// A whole session on a real problem

// The file of the current directory with this extension, whatever its case.
std::string file_with_extension(const std::string& directory, const std::string& extension) {
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::string ext = entry.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "." + extension) return entry.path().string();
  }
  return std::string();
}

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  return fields;
}

TEST_F(CommandLoop, AfiroSessionSolvesPrintsAndWritesItsFiles) {
  KLTEST_REQUIRE_DATA(afiro, "netlib/afiro.mps");
  std::filesystem::copy_file(afiro, dir_.file("afiro.mps"));
  constexpr double kOptimum = -4.6475314286e+02;

  EXPECT_EQ(run({"PROBLEM afiro", "INPUT", "MINIM", "PRINT", "TOASC", "FPRINT", "QUIT"}), kl::kExitQuit);
  double objective = 0.0;
  ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &objective), 0);
  EXPECT_NEAR(objective, kOptimum, 1e-6 * std::fabs(kOptimum));
  EXPECT_GE(count_lines_containing("-464.75"), 1) << "the optimum is on the screen";

  const std::string report = file_with_extension(dir_.path(), "prt");
  ASSERT_FALSE(report.empty()) << "FPRINT wrote no report";
  std::ifstream report_in(report);
  const std::string report_text((std::istreambuf_iterator<char>(report_in)), std::istreambuf_iterator<char>());
  EXPECT_NE(report_text.find("-464.75"), std::string::npos);

  // The header's objective, and the objective recomputed from the values
  // and costs of the column records, agree with the solver's.
  const std::string header = file_with_extension(dir_.path(), "hdr");
  const std::string values = file_with_extension(dir_.path(), "asc");
  ASSERT_FALSE(header.empty());
  ASSERT_FALSE(values.empty());
  std::ifstream header_in(header);
  std::string header_line;
  ASSERT_TRUE(std::getline(header_in, header_line));
  const auto head = split_fields(header_line);
  ASSERT_GE(head.size(), 9u);
  EXPECT_NEAR(std::stod(head[8]), objective, 1e-6 * std::fabs(kOptimum));

  std::ifstream values_in(values);
  std::string line;
  double recomputed = 0.0;
  std::vector<double> column_values;
  // Default fields: s n t b a c l u d r; columns have class letter "C".
  while (std::getline(values_in, line)) {
    const auto f = split_fields(line);
    ASSERT_GE(f.size(), 9u) << line;
    if (f[2].find('C') == std::string::npos) continue;
    recomputed += std::stod(f[4]) * std::stod(f[5]);
    column_values.push_back(std::stod(f[4]));
  }
  ASSERT_EQ(column_values.size(), 32u);
  EXPECT_NEAR(recomputed, objective, 1e-5 * std::fabs(kOptimum));

  // The text file's values are the solution the library hands out.
  int32_t rows = 0;
  ASSERT_EQ(KLGETIPV(KLIA_NROW, &rows), 0);
  std::vector<double> x(32), slack(static_cast<std::size_t>(rows)), dual(static_cast<std::size_t>(rows)),
      reduced(32);
  ASSERT_EQ(KLSOLUTION(x.data(), slack.data(), dual.data(), reduced.data()), 0);
  for (std::size_t j = 0; j < x.size(); ++j)
    EXPECT_NEAR(column_values[j], x[j], 1e-6 * (1.0 + std::fabs(x[j]))) << "column " << j;
}

std::string example_problem() {
  return (std::filesystem::path(KLSOL_SOURCE_DIR) / "examples" / "diet.mps").string();
}

TEST_F(CommandLoop, CrashNeedsAProblemAndDropsTheStartingBasis) {
  EXPECT_EQ(run({"?RASH", "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(count_lines_containing("No problem has been loaded"), 1);

  std::filesystem::copy_file(example_problem(), dir_.file("diet.mps"));
  kl::icv(kl::ic::IFNBAS) = 1;
  kltest::captured_lines().clear();
  EXPECT_EQ(run({"PROBLEM diet", "INPUT", "?rash", "QUIT"}), kl::kExitQuit);
  EXPECT_EQ(control(kl::ic::IFNBAS), 0);
  EXPECT_EQ(count_lines_containing("builds its own starting basis"), 1);
}

TEST_F(CommandLoop, InvertRecomputesTheSolutionOfTheBasis) {
  std::filesystem::copy_file(example_problem(), dir_.file("diet.mps"));
  EXPECT_EQ(run({"PROBLEM diet", "INPUT", "MINIM", "QUIT"}), kl::kExitQuit);
  double objective = 0.0;
  ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &objective), 0);
  EXPECT_NEAR(objective, 92.5, 1e-9);

  kl::dcv(kl::dc::OBJVAL) = 0.0;
  EXPECT_EQ(run({"INVERT", "QUIT"}), kl::kExitQuit);
  ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &objective), 0);
  EXPECT_NEAR(objective, 92.5, 1e-9);
  EXPECT_EQ(run({"STOP"}), kl::STOP_LP_OPTIMAL);
}

TEST_F(CommandLoop, StopAfterAnInfeasibleProblemTellsIt) {
  KLTEST_REQUIRE_DATA(itest2, "infeas/itest2.mps");
  std::filesystem::copy_file(itest2, dir_.file("itest2.mps"));
  EXPECT_EQ(run({"PROBLEM itest2", "INPUT", "MINIM", "STOP"}), kl::STOP_LP_INFEASIBLE);
}

// The solver state of a solved problem (its last leaving variable, the
// primal candidate list) indexed the new problem's arrays after a second
// INPUT; the sanitizer build caught INVERT reading past them.
TEST_F(CommandLoop, ASecondProblemStartsFromCleanSolverState) {
  KLTEST_REQUIRE_DATA(p0033, "miplib3/p0033.mps");
  KLTEST_REQUIRE_DATA(afiro, "netlib/afiro.mps");
  std::filesystem::copy_file(p0033, dir_.file("p0033.mps"));
  std::filesystem::copy_file(afiro, dir_.file("afiro.mps"));
  EXPECT_EQ(run({"PROBLEM p0033", "INPUT", "MINIM", "MAXIM", "PROBLEM afiro", "INPUT", "INVERT", "MINIM", "QUIT"}),
            kl::kExitQuit);
  double objective = 0.0;
  ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &objective), 0);
  EXPECT_NEAR(objective, -464.753142857, 1e-6);
}

}  // namespace
