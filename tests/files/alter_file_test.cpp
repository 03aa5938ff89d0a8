// The ALTER file through KLALTER and the ALTER command: each kind of change
// reaches the next solve and the MPS writer, and bad input is refused with
// its message.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "klsol32.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

using kltest::console_lines;
using kltest::scripted_console;

// min x + 2y  s.t.  LIM1: x + y <= 4,  LIM2: x >= 1,  0 <= x <= 3, y >= 0.
// Optimum 1 at x = 1.
const char kProblem[] =
    "NAME          ALT\n"
    "ROWS\n"
    " N  COST\n"
    " L  LIM1\n"
    " G  LIM2\n"
    "COLUMNS\n"
    "    X         COST         1.0   LIM1         1.0\n"
    "    X         LIM2         1.0\n"
    "    Y         COST         2.0   LIM1         1.0\n"
    "RHS\n"
    "    RHS       LIM1         4.0   LIM2         1.0\n"
    "BOUNDS\n"
    " UP BND       X            3.0\n"
    "ENDATA\n";

// Inserts Y in LIM2, zeroes X in LIM2, adds Z (cost -1, in LIM1) in a spare
// column with upper bound 1.5 and moves LIM2's right-hand side to 2:
// min x + 2y - z, x + y + z <= 4, y >= 2, x <= 3, z <= 1.5; optimum 2.5.
const char kAlterFile[] =
    "NAME          ALT\n"
    "COLUMNS\n"
    "  MODIFY\n"
    "    Y         LIM2         1.0\n"
    "    X         LIM2         0.0\n"
    "    Z         COST              -1.0   LIM1               1.0\n"
    "    RHS       LIM2         2.0\n"
    "BOUNDS\n"
    "  MODIFY\n"
    " UP BND       Z            1.5\n"
    "ENDATA\n";

class AlterFile : public kltest::LibrarySession {
 protected:
  void load(int32_t spare_cols = 2, int32_t spare_elems = 10) {
    ASSERT_EQ(KLSETICV(kl::ic::NCXTRA, spare_cols), 0);
    ASSERT_EQ(KLSETICV(kl::ic::NMXTRA, spare_elems), 0);
    ASSERT_EQ(KLINPUT(write("alt.mps", kProblem).c_str()), 0);
  }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }
  int32_t alter(const std::string& text) {
    write("alt.alt", text);
    kltest::captured_lines().clear();
    const int32_t status = KLALTER(dir.file("alt").c_str());
    return status;
  }
  double solve() {
    EXPECT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
    return kltest::objective_value();
  }
  static bool said(const std::string& text) {
    for (const auto& line : kltest::text_lines())
      if (line.text.find(text) != std::string::npos) return true;
    return false;
  }
  kltest::TempDir dir;
};

// Parameters: IFPRES, and FREFMT for the ALTER file (0 fixed fields, -1 tokens).
class AlterFileWithPresolve : public AlterFile, public ::testing::WithParamInterface<std::tuple<int32_t, int32_t>> {};

// Every kind of change of the done list: the next solve (warm, after a
// solve of the unchanged problem, with and without presolve) and the
// problem the MPS writer writes both see them.
TEST_P(AlterFileWithPresolve, ChangesReachTheNextSolveAndTheWriter) {
  load();
  kl::icv(kl::ic::IFPRES) = std::get<0>(GetParam());
  EXPECT_NEAR(solve(), 1.0, 1e-9);
  kl::icv(kl::ic::FREFMT) = std::get<1>(GetParam());
  const bool presolved = (kltest::int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2) != 0;
  ASSERT_EQ(alter(kAlterFile), 0);
  // A presolved problem is given up for the problem as loaded first.
  EXPECT_EQ(said("postsolved before the changes"), presolved);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_PROBLEMFLAGS) & 0x6, 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 3);
  EXPECT_NEAR(solve(), 2.5, 1e-9);

  // The problem name is what it was.
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), dir.file("alt"));

  ASSERT_EQ(KLOUTPUT(dir.file("out").c_str(), ""), 0);
  std::ifstream in(dir.file("out.mat"));
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_FALSE(text.str().empty());
  ASSERT_EQ(KLSETICV(kl::ic::NCXTRA, 0), 0);
  kl::icv(kl::ic::FREFMT) = -1;
  ASSERT_EQ(KLINPUT(dir.file("out.mat").c_str()), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 3);
  EXPECT_NEAR(solve(), 2.5, 1e-9);
  // X left LIM2 and Y entered it.
  int32_t starts[4] = {};
  int32_t rows[16] = {};
  double values[16] = {};
  int32_t count = 0;
  ASSERT_EQ(KLGETCOLS(starts, rows, values, 16, &count, 0, 2), 0);
  int32_t lim2_entries = 0;
  for (int32_t k = 0; k < count; ++k)
    if (rows[k] == 2) {
      ++lim2_entries;
      EXPECT_GE(k, starts[1]);  // not in column X
      EXPECT_LT(k, starts[2]);
    }
  EXPECT_EQ(lim2_entries, 1);
}

INSTANTIATE_TEST_SUITE_P(PresolveAndFields, AlterFileWithPresolve,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(0, -1)));

TEST_F(AlterFile, ZeroedCoefficientGivesItsSlotBack) {
  load();
  int32_t spare = kltest::int_attribute_value(KLIA_SPAREELEMS);
  int32_t elements = kltest::int_attribute_value(KLIA_NELEM);
  ASSERT_EQ(alter("NAME\nCOLUMNS\n  MODIFY\n    X         LIM2         0.0\nENDATA\n"), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_SPAREELEMS), spare + 1);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NELEM), elements - 1);
  // LIM2 now reads 0 >= 1: infeasible.
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 2);
}

// A new element once the spare element room is used up stops the run with
// 415: the changes before it stay, those after it are not made.
TEST_F(AlterFile, NewElementWithoutSpareRoom) {
  load(2, 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_SPAREELEMS), 2);
  EXPECT_EQ(alter("NAME\nCOLUMNS\n  MODIFY\n    Z         LIM1         1.0   LIM2         1.0\n"
                  "    Y         LIM2         1.0\n    Y         COST         5.0\nENDATA\n"),
            32);
  EXPECT_EQ(kl::error_number, 415);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_SPAREELEMS), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 3);
  double cost[2] = {};
  ASSERT_EQ(KLGETOBJ(cost, 0, 1), 0);
  EXPECT_EQ(cost[1], 2.0);
  // Z (cost 0) meets LIM2 in place of x: optimum 0.
  EXPECT_NEAR(solve(), 0.0, 1e-9);
}

// Bounds of global entities are not ALTER's to change.
TEST_F(AlterFile, EntityBoundIsLeftAlone) {
  load();
  const int32_t column = 1;
  const char type = 'I';
  ASSERT_EQ(KLCHGCOLTYPE(1, &column, &type), 0);
  double before[2] = {};
  ASSERT_EQ(KLGETBDU(before, 0, 1), 0);
  EXPECT_EQ(alter("NAME\nCOLUMNS\n  MODIFY\nBOUNDS\n  MODIFY\n UP BND       Y            7.0\nENDATA\n"), 0);
  EXPECT_TRUE(said("global entity column not changed by ALTER: Y"));
  double upper[2] = {};
  ASSERT_EQ(KLGETBDU(upper, 0, 1), 0);
  EXPECT_EQ(upper[1], before[1]);
}

TEST_F(AlterFile, NoSpareColumnMeansNotFound) {
  load(0, 10);
  EXPECT_EQ(alter("NAME\nCOLUMNS\n  MODIFY\n    Z         LIM1         1.0\nENDATA\n"), 0);
  EXPECT_TRUE(said("name not found: column Z"));
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 2);
}

// Bad lines, names and bounds: each refused with its message, the rest of
// the file still applied.
TEST_F(AlterFile, BadInputIsRefusedWithItsMessage) {
  struct Case {
    const char* text;
    int32_t status;
    const char* message;
  };
  const Case cases[] = {
      {"NAME\nBOUNDS\n  MODIFY\n UP BND       X            2.0\nENDATA\n", 32, "Bad line"},
      {"NAME\nCOLUMNS\n    X         LIM1         2.0\nENDATA\n", 32, "Bad line"},
      {"NAME\nCOLUMNS\n  MODIFY\n    X         LIM9         2.0\nENDATA\n", 0, "name not found: row LIM9"},
      {"NAME\nCOLUMNS\n  MODIFY\n    X         LIM1         abc\nENDATA\n", 32, "Bad line"},
      {"NAME\nCOLUMNS\n  MODIFY\nBOUNDS\n  MODIFY\n LO BND       X            5.0\nENDATA\n", 0,
       "lower bound above its upper bound"},
      {"NAME\nCOLUMNS\n  MODIFY\nBOUNDS\n  MODIFY\n XX BND       X            5.0\nENDATA\n", 32, "Bad line"},
  };
  for (const Case& c : cases) {
    load();
    EXPECT_EQ(alter(c.text), c.status) << c.text;
    EXPECT_TRUE(said(c.message)) << c.text;
    EXPECT_NEAR(solve(), 1.0, 1e-9) << c.text;
  }
}

// Without a NAME header the file is triplets: row, column, value, and a
// row type change as "**NT" with its letter.
TEST_F(AlterFile, TripletsFromAFile) {
  load();
  ASSERT_EQ(alter("LIM2\n**NTL\n**LO\nX\n2\nLIM1\nY\n-1\n\nLIM1\nX\n9\n"), 0);
  char types[3] = {};
  ASSERT_EQ(KLGETROWTYPE(types, 0, 2), 0);
  EXPECT_EQ(types[2], 'L');
  double lower[2] = {};
  ASSERT_EQ(KLGETBDL(lower, 0, 1), 0);
  EXPECT_EQ(lower[0], 2.0);
  // min x + 2y, x - y <= 4, x <= 1 (LIM2 as L), 2 <= x <= 3: infeasible,
  // and the line after the empty one was not read.
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 2);
}

TEST_F(AlterFile, TripletsFindNoNewColumns) {
  load();
  EXPECT_EQ(alter("LIM1\nZ\n1\n"), 0);
  EXPECT_TRUE(said("name not found: column Z"));
  EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 2);
}

TEST_F(AlterFile, MissingFileAndNoProblem) {
  EXPECT_EQ(KLALTER(dir.file("alt").c_str()), 32);
  EXPECT_EQ(kl::error_number, 91);
  load();
  EXPECT_EQ(KLALTER(dir.file("none").c_str()), 32);
  EXPECT_EQ(kl::error_number, 91);
  // The bare stem when NAME.alt is missing.
  write("plain", "LIM1\nX\n2\n");
  kltest::captured_lines().clear();
  EXPECT_EQ(KLALTER(dir.file("plain.txt").c_str()), 0);
  EXPECT_TRUE(said("Extension left out"));
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), dir.file("alt"));
}

// The console triplets of the ALTER command: prompts, a value asked again,
// an empty row to end.
TEST_F(AlterFile, ConsoleTriplets) {
  load();
  ASSERT_EQ(KLSETPROB(dir.file("alt").c_str()), 0);
  console_lines() = {"ALTER", "LIM2", "RHS", "abc", "3", "**UP", "Y", "0.5", "", "MINIM", "QUIT"};
  kltest::captured_lines().clear();
  EXPECT_EQ(KLCONTROL(scripted_console), 0);
  EXPECT_TRUE(said("VAL?"));
  EXPECT_TRUE(said("Not a valid real number"));
  double bounds[2] = {};
  ASSERT_EQ(KLGETBDU(bounds, 0, 1), 0);
  EXPECT_EQ(bounds[1], 0.5);
  // x >= 3 now: optimum 3.
  EXPECT_NEAR(kltest::objective_value(), 3.0, 1e-9);
}

}  // namespace
