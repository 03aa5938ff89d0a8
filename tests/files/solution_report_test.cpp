// The printed solution report: the lines of the print file against a small
// fixture, the same values on the screen, page breaks and the pager, and the
// failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/solution_file.h"
#include "files/solution_report.h"
#include "files/solved_fixture.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string right_trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

bool is_listing_line(const std::string& s) {
  return s.size() > 12 && s[0] == ' ' && std::string("NLGEC").find(s[1]) != std::string::npos && s[2] == ' ' &&
         s.substr(3, 6).find_first_not_of(" 0123456789") == std::string::npos;
}

// The solved fixture with the L row's dual below ZTOLPZ, written to the
// solution file.
void load_solved_problem(const std::string& name) {
  kltest::lay_solved_problem(name, {1e-6, 0.0, -1.5, 0.0, 0.25});
  kl::write_solution_file(kl::SOLUTION_AS_LEFT);
  ASSERT_EQ(kl::status_code, kl::STATUS_OK);
}

// The listing lines of the print file: positions 2, 4-9, 12-19, 22-23, then
// reals in 26-37, 40-51, 54-65 and, for a row, 68-79; 80 characters for a
// row, 76 for a column.
const std::vector<std::string> kListing = {
    " L      1  VVVVVVV1  UL      4.000000       .000000       .000000      4.000000 ",
    " G      2  VVVVVVV2  BS      2.500000     -1.500000       .000000      1.000000 ",
    " E      3  VVVVVVV3  EQ      1.000000       .000000      1.500000      1.000000 ",
    " C      4  VVVVVVV4  BS      2.500000      1.000000       .000000           ",
    " C      5  VVVVVVV5  BS      1.500000      2.000000       .250000           ",
};

// Console answers for the pager: empty lines, or "q" from a given prompt on.
int32_t prompts_answered = 0;
int32_t stop_at_prompt = 0;
void answer_pager(char* line, int32_t* length) {
  ++prompts_answered;
  *length = 0;
  if (stop_at_prompt != 0 && prompts_answered >= stop_at_prompt) {
    line[0] = 'q';
    *length = 1;
  }
}

class SolutionReport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kl::define_console_entry(answer_pager);
    prompts_answered = 0;
    stop_at_prompt = 0;
    stem_ = dir_.file("tiny");
    load_solved_problem(stem_);
    kltest::captured_lines().clear();
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
    kl::define_console_entry(nullptr);
  }

  // The screen output as a string of events: P pager prompt, H column
  // heading, R or C a row or column line (checked against the fixture).
  std::string screen_events() const {
    std::string events;
    for (const kltest::CapturedLine& line : kltest::text_lines()) {
      if (line.text.find("type c/r to continue") != std::string::npos) {
        events += 'P';
      } else if (line.text.find("Number") != std::string::npos) {
        events += 'H';
      } else if (is_listing_line(line.text)) {
        const std::string text = right_trimmed(line.text);
        bool known = false;
        for (const std::string& expected : kListing) known = known || right_trimmed(expected) == text;
        events += known ? (line.text[1] == 'C' ? 'C' : 'R') : '?';
      }
    }
    return events;
  }

  kltest::TempDir dir_;
  std::string stem_;
};

TEST_F(SolutionReport, PrintFileMatchesTheFixture) {
  EXPECT_EQ(KLFPRINT(), 0);
  const std::vector<std::string> lines = kltest::crlf_lines(stem_ + ".prt");
  std::vector<std::string> listing;
  for (const std::string& line : lines)
    if (is_listing_line(line)) listing.push_back(line);
  EXPECT_EQ(listing, kListing);
  for (const std::string& line : listing) EXPECT_EQ(line.size(), line[1] == 'C' ? 76u : 80u) << line;
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("tiny"), std::string::npos);  // the report header goes into the file too
  EXPECT_EQ(prompts_answered, 0);
  // Nothing of the report reaches the screen.
  EXPECT_EQ(screen_events(), "");
}

TEST_F(SolutionReport, ScreenPagesFollowNlines) {
  struct Case {
    int32_t nlines;
    int32_t stop_at;
    std::string events;
  };
  const std::vector<Case> cases = {
      {23, 0, "PHRRRPHCC"},
      {4, 0, "PHRRPHRPHCC"},            // two lines a page
      {3, 0, "PHRPHRPHRPHCPHC"},        // one line a page
      {3, 2, "PHRP"},                   // "q" at the first page break ends the report
  };
  for (const Case& c : cases) {
    ASSERT_EQ(KLSETICV(KLIC_NLINES, c.nlines), 0);
    stop_at_prompt = c.stop_at;
    prompts_answered = 0;
    kltest::captured_lines().clear();
    kl::print_solution_screen();
    EXPECT_EQ(kl::status_code, kl::STATUS_OK);
    EXPECT_EQ(screen_events(), c.events) << "NLINES " << c.nlines;
  }
  EXPECT_FALSE(fs::exists(stem_ + ".prt"));
}

// The report prints whatever IFPMSG says, and puts it back afterwards.
TEST_F(SolutionReport, MessageLevelIsPutBack) {
  ASSERT_EQ(KLSETICV(KLIC_IFPMSG, 0), 0);
  EXPECT_EQ(KLFPRINT(), 0);
  int32_t level = -1;
  ASSERT_EQ(KLGETICV(KLIC_IFPMSG, &level), 0);
  EXPECT_EQ(level, 0);
  EXPECT_EQ(kltest::crlf_lines(stem_ + ".prt").size() > kListing.size(), true);
}

TEST_F(SolutionReport, Failures) {
  // No print file can be made where a directory of that name stands.
  fs::create_directory(stem_ + ".prt");
  EXPECT_EQ(KLFPRINT(), kl::STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("print file cannot be opened"));
  fs::remove(stem_ + ".prt");

  // A solution file cut short: its first record is not whole, so not even
  // the header is taken, and nothing is listed.
  const std::string sol = stem_ + ".sol";
  fs::resize_file(sol, 8 * (32 + 8 + 3));
  kltest::captured_lines().clear();
  kl::print_solution_screen();
  EXPECT_EQ(screen_events(), "");
  EXPECT_TRUE(kltest::any_line_contains("header of the solution or range file cannot be read"));
  EXPECT_NE(kl::status_code, kl::STATUS_OK);

  // No solution file: nothing printed, and not taken for success.
  fs::remove(sol);
  kltest::captured_lines().clear();
  EXPECT_EQ(KLFPRINT(), kl::STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("tiny.sol"));
  EXPECT_FALSE(fs::exists(stem_ + ".prt"));
}

}  // namespace
