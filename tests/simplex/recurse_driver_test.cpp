// Successive linear programming through KLRECURSE, option r and the RECURSE
// command, on small problem files with RECURSE sections.
//
// The bilinear model: min -2x - y subject to c x + y <= 10, x <= 5, y <= 8,
// where the coefficient c is 0.1 y (a CL entry). With x at its bound the
// passes iterate y := 10 - 0.5 y, which converges to y = 20/3, c = 2/3.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "problem/matrix_storage.h"
#include "simplex/successive_lp.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kMovedCountAttribute = 1029;

// One fixed-field MPS line: fields start at columns 2, 5, 15, 25, 40, 50.
std::string mps_line(const std::vector<std::string>& fields) {
  static const size_t kStarts[] = {1, 4, 14, 24, 39, 49};
  std::string line;
  for (size_t k = 0; k < fields.size() && k < 6; ++k) {
    if (fields[k].empty()) continue;
    line.resize(kStarts[k], ' ');
    line += fields[k];
  }
  return line;
}

struct ModelFile {
  std::vector<std::string> recurse;  // RECURSE lines
  std::string extra_columns;         // further COLUMNS lines
  std::string extra_rows;
  std::string extra_bounds;
  std::string extra_x;    // further lines of column X
  std::string extra_y;    // and of Y
  std::string extra_rhs;

  std::string text() const {
    std::string t = "NAME          SLPTEST\nROWS\n N  COST\n L  R1\n" + extra_rows + "COLUMNS\n";
    t += mps_line({"", "X", "COST", "-2.0", "R1", "1.0"}) + "\n" + extra_x;
    t += mps_line({"", "Y", "COST", "-1.0", "R1", "1.0"}) + "\n" + extra_y;
    t += extra_columns;
    t += "RHS\n" + mps_line({"", "RHS", "R1", "10.0"}) + "\n" + extra_rhs;
    t += "BOUNDS\n" + mps_line({"UP", "BND", "X", "5.0"}) + "\n" + mps_line({"UP", "BND", "Y", "8.0"}) + "\n";
    t += extra_bounds;
    t += "RECURSE\n";
    for (const std::string& line : recurse) t += line + "\n";
    return t + "ENDATA\n";
  }
};

ModelFile model_with(std::vector<std::string> recurse_lines) {
  ModelFile model;
  model.recurse = std::move(recurse_lines);
  return model;
}

std::string cl_line() { return mps_line({"CL", "X", "R1", "0.1", "Y"}); }
std::string cv_line() { return mps_line({"CV", "Y", "", "0.0001"}); }

class RecurseDriver : public kltest::LibrarySession {
 protected:
  void load(const ModelFile& model) {
    std::ofstream(dir.file("slp.mps")) << model.text();
    ASSERT_EQ(KLINPUT(dir.file("slp").c_str()), 0);
  }
  static int32_t moved_count() {
    int32_t v = -99;
    KLGETIPV(kMovedCountAttribute, &v);
    return v;
  }
  static std::vector<double> solution() {
    int32_t columns = 0;
    KLGETIPV(KLIA_NCOLS, &columns);
    std::vector<double> x(static_cast<size_t>(columns));
    KLSOLUTION(x.data(), nullptr, nullptr, nullptr);
    return x;
  }
  // Coefficient of (column c, row r) in the caller's view; 0 when absent.
  static double coefficient(int32_t c, int32_t r) {
    int32_t starts[2];
    int32_t rows[16];
    double values[16];
    int32_t count = 0;
    KLGETCOLS(starts, rows, values, 16, &count, c, c);
    for (int32_t k = 0; k < count; ++k)
      if (rows[k] == r) return values[k];
    return 0.0;
  }
  static std::vector<std::string> lines_with(const std::string& text) {
    std::vector<std::string> out;
    for (const kltest::CapturedLine& line : kltest::text_lines())
      if (line.text.find(text) != std::string::npos) out.push_back(line.text);
    return out;
  }
  kltest::TempDir dir;
};

TEST_F(RecurseDriver, BilinearModelConverges) {
  for (const char* path : {"export", "option r"}) {
    SCOPED_TRACE(path);
    load(model_with({cl_line(), cv_line()}));
    kltest::captured_lines().clear();
    if (std::string(path) == "export") {
      ASSERT_EQ(KLMINIM(""), 0);
      ASSERT_EQ(KLRECURSE(), 0);
    } else {
      ASSERT_EQ(KLMINIM("r"), 0);
    }
    const std::vector<double> x = solution();
    EXPECT_NEAR(x[0], 5.0, 1e-9);
    EXPECT_NEAR(x[1], 20.0 / 3.0, 2e-3);
    EXPECT_NEAR(coefficient(0, 1), 2.0 / 3.0, 2e-4);
    EXPECT_EQ(moved_count(), 0);
    const std::vector<std::string> passes = lines_with("Successive LP pass");
    ASSERT_GE(passes.size(), 5u);
    EXPECT_LE(passes.size(), 20u);
    EXPECT_NE(passes.back().find(" 0 moving"), std::string::npos) << passes.back();
    EXPECT_TRUE(lines_with("limit of").empty());
    EXPECT_EQ(lines_with("Successive LP time").size(), 1u);
  }
}

// Without CV entries the passes stop once the objective settles.
TEST_F(RecurseDriver, WithoutConvergenceColumnsTheObjectiveDecides) {
  load(model_with({cl_line()}));
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRECURSE(), 0);
  EXPECT_EQ(moved_count(), 0);
  EXPECT_NEAR(solution()[1], 20.0 / 3.0, 1e-3);
  double objective = 0.0;
  ASSERT_EQ(KLGETDPV(KLDA_OBJVAL, &objective), 0);
  EXPECT_NEAR(objective, -10.0 - 20.0 / 3.0, 1e-3);
}

TEST_F(RecurseDriver, PassLimitReportsTheMovedCount) {
  struct Case {
    const char* name;
    bool with_cv;
    int32_t passes;
    int32_t moved;
  };
  // With no pass the CV column still differs from the value read (none);
  // without CV entries none can be moving and the count is -1.
  const Case cases[] = {{"no pass, CV", true, 0, 1}, {"no pass, no CV", false, 0, -1}, {"two passes", true, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines{cl_line()};
    if (c.with_cv) lines.push_back(cv_line());
    // A constant of 100 makes the optimum positive: it must still read as
    // optimal afterwards.
    ModelFile model = model_with(lines);
    model.extra_rhs = mps_line({"", "RHS", "COST", "-100.0"}) + "\n";
    load(model);
    ASSERT_EQ(KLSETICV(KLIC_NRCRLP, c.passes), 0);
    kltest::captured_lines().clear();
    ASSERT_EQ(KLMINIM(""), 0);
    ASSERT_EQ(KLRECURSE(), 0);
    EXPECT_EQ(moved_count(), c.moved);
    int32_t lp_status = 0;
    ASSERT_EQ(KLGETIPV(KLIA_LPSTATUS, &lp_status), 0);
    EXPECT_EQ(lp_status, 1);
    EXPECT_EQ(lines_with("limit of").size(), 1u);
    EXPECT_EQ(lines_with("Successive LP pass").size(), static_cast<size_t>(c.passes));
  }
}

TEST_F(RecurseDriver, RefusesWithoutAnOptimum) {
  load(model_with({cl_line()}));
  EXPECT_EQ(KLRECURSE(), 32);
}

TEST_F(RecurseDriver, ConsoleCommandMatchesTheExport) {
  load(model_with({cl_line(), cv_line()}));
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLRECURSE(), 0);
  const std::vector<std::string> by_export = lines_with("Successive LP pass");
  const std::vector<double> x_export = solution();

  kltest::console_lines() = {"PROBLEM " + dir.file("slp"), "INPUT", "MINIM", "RECURSE", "QUIT"};
  kltest::captured_lines().clear();
  ASSERT_EQ(KLCONTROL(kltest::scripted_console), 0);
  EXPECT_EQ(lines_with("Successive LP pass"), by_export);
  EXPECT_EQ(solution(), x_export);
  EXPECT_EQ(moved_count(), 0);
}

// NE and NL turn a free row into a constraint once, before the first pass:
// x + y <= 11 (or = 11) holds y at 6, below the fixed point 20/3.
TEST_F(RecurseDriver, RowTypeEntriesApplyBeforeThePasses) {
  for (const char* kind : {"NL", "NE"}) {
    SCOPED_TRACE(kind);
    ModelFile model = model_with({cl_line(), cv_line(), mps_line({kind, "R4"})});
    model.extra_rows = " N  R4\n";
    model.extra_x = mps_line({"", "X", "R4", "1.0"}) + "\n";
    model.extra_y = mps_line({"", "Y", "R4", "1.0"}) + "\n";
    model.extra_rhs = mps_line({"", "RHS", "R4", "11.0"}) + "\n";
    load(model);
    ASSERT_EQ(KLMINIM("r"), 0);
    EXPECT_NEAR(solution()[1], 6.0, 1e-6);
    char type = ' ';
    ASSERT_EQ(KLGETROWTYPE(&type, 2, 2), 0);
    EXPECT_EQ(type, kind[1] == 'L' ? 'L' : 'E');
  }
}

// The first pass damps against the matrix: with ZTSTEP w the element
// becomes (1 - w) x old + w x computed.
TEST_F(RecurseDriver, FirstPassDampsAgainstTheMatrix) {
  for (const double w : {1.0, 0.5}) {
    SCOPED_TRACE(w);
    load(model_with({cl_line()}));
    ASSERT_EQ(KLSETDCV(KLDC_ZTSTEP, w), 0);
    ASSERT_EQ(KLMINIM(""), 0);  // x = 5, y = 5: computed 0.5 against the element 1
    ASSERT_TRUE(kl::update_recurse_coefficients(true));
    EXPECT_NEAR(coefficient(0, 1), (1.0 - w) * 1.0 + w * 0.5, 1e-12);
  }
}

// Divisions by a value below ZTOLZE use +-ZTOLZE and are clamped; values of
// at most ZTOLDA remove an element and never insert one; new elements go
// into their columns and the row copy follows.
TEST_F(RecurseDriver, CoefficientEdgeCases) {
  ModelFile model;
  model.extra_rows = " L  R2\n L  R3\n";
  model.extra_columns = mps_line({"", "Z", "R2", "1.0"}) + "\n" + mps_line({"", "W", "COST", "-1.0", "R3", "1.0"}) + "\n";
  model.extra_bounds = mps_line({"FX", "BND", "Z", "0.0"}) + "\n" + mps_line({"MI", "BND", "W"}) + "\n" +
                       mps_line({"UP", "BND", "W", "0.0"}) + "\n";
  model.recurse = {
      mps_line({"DV", "Y", "R2", "100000", "Y", "Z"}),  // 5 / 0: divisor +ZTOLZE, clamped to 1e10
      mps_line({"DV", "X", "R3", "100000", "Y", "W"}),  // W has an upper bound only: -ZTOLZE
      mps_line({"CL", "X", "R1", "1e-12", "Y"}),        // removes (X, R1)
      mps_line({"CL", "Z", "R1", "1e-12", "Y"}),        // never inserted
      mps_line({"MU", "Y", "R3", "0.5", "X", "Y"}),     // new: 0.5 x 5 x 5
      mps_line({"BX", "W", "R3", "", "W"}),             // W at a bound: the element grows by EXPAND
      mps_line({"SB", "X", "", "", "X"}),               // step box of X from its upper bound
  };
  load(model);
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const std::vector<double> x = solution();
  ASSERT_NEAR(x[0], 5.0, 1e-9);
  ASSERT_NEAR(x[1], 5.0, 1e-9);
  ASSERT_TRUE(kl::update_recurse_coefficients(true));

  // Rows COST, R1, R2, R3 are 0..3; columns X, Y, Z, W are 0..3.
  EXPECT_DOUBLE_EQ(coefficient(1, 2), 1e10);
  EXPECT_DOUBLE_EQ(coefficient(0, 3), -1e10);
  EXPECT_DOUBLE_EQ(coefficient(0, 1), 0.0);
  EXPECT_DOUBLE_EQ(coefficient(2, 1), 0.0);
  EXPECT_DOUBLE_EQ(coefficient(1, 3), 12.5);
  EXPECT_DOUBLE_EQ(coefficient(1, 1), 1.0);
  EXPECT_DOUBLE_EQ(coefficient(2, 2), 1.0);

  EXPECT_DOUBLE_EQ(coefficient(3, 3), 1.1);
  double lower = 0.0;
  double upper = 0.0;
  ASSERT_EQ(KLGETBDL(&lower, 0, 0), 0);
  ASSERT_EQ(KLGETBDU(&upper, 0, 0), 0);
  EXPECT_DOUBLE_EQ(upper, 5.5);
  EXPECT_DOUBLE_EQ(lower, -5.5);

  // A later pass finds the scaled element again although the insertions
  // moved it, and damps against the previous pass.
  ASSERT_EQ(KLSETDCV(KLDC_ZTSTEP, 0.5), 0);
  ASSERT_TRUE(kl::update_recurse_coefficients(false));
  EXPECT_NEAR(coefficient(3, 3), 0.5 * (1.05 * 1.1) + 0.5 * 1.1, 1e-12);
  EXPECT_DOUBLE_EQ(coefficient(0, 1), 0.0) << "a removed element is not inserted again";

  // The row-wise view agrees with the column-wise one.
  int32_t starts[5];
  int32_t cols[16];
  double values[16];
  int32_t count = 0;
  ASSERT_EQ(KLGETROWS(starts, cols, values, 16, &count, 1, 3), 0);
  EXPECT_EQ(count, 6);  // R1: Y; R2: Y, Z; R3: X, Y, W
  int32_t col_count = 0;
  int32_t col_starts[5];
  int32_t rows[16];
  double col_values[16];
  ASSERT_EQ(KLGETCOLS(col_starts, rows, col_values, 16, &col_count, 0, 3), 0);
  EXPECT_EQ(col_count, count + 3);  // and the objective row's X, Y, W
  for (int32_t r = 1; r <= 3; ++r) {
    for (int32_t k = starts[r - 1]; k < starts[r]; ++k) EXPECT_DOUBLE_EQ(values[k], coefficient(cols[k], r));
  }
}

}  // namespace

namespace {

// The presolve's side: reset takes the matrix's values (inserting the
// missing elements at base), apply writes saved values back undamped, and
// the renumbering folds a removed argument into the base.
TEST_F(RecurseDriver, ResetApplyAndRenumber) {
  ModelFile model = model_with({cl_line(), mps_line({"MU", "Y", "R2", "0.5", "X", "Y"}), mps_line({"SB", "X", "", "", "X"})});
  model.extra_rows = " L  R2\n";
  load(model);
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
  ASSERT_TRUE(kl::reset_recurse_values());
  EXPECT_DOUBLE_EQ(coefficient(0, 1), 1.0);
  EXPECT_DOUBLE_EQ(coefficient(1, 2), 0.5);
  std::vector<double> values;
  kl::save_recurse_values(values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 0.5, 0.0}));

  ASSERT_TRUE(kl::restore_recurse_values({0.25, 1e-12, 3.0}));
  ASSERT_TRUE(kl::apply_recurse_values());
  EXPECT_DOUBLE_EQ(coefficient(0, 1), 0.25);
  EXPECT_DOUBLE_EQ(coefficient(1, 2), 0.0) << "a value of at most ZTOLDA leaves no element";
  double bounds[2];
  ASSERT_EQ(KLGETBDL(&bounds[0], 0, 0), 0);
  ASSERT_EQ(KLGETBDU(&bounds[1], 0, 0), 0);
  EXPECT_DOUBLE_EQ(bounds[0], -3.0);
  EXPECT_DOUBLE_EQ(bounds[1], 3.0);

  // Y (an argument of CL and MU) removed at the value 4 with exponent 2;
  // every other position keeps its number.
  int32_t nseq = 0;
  ASSERT_EQ(KLGETIPV(KLIA_NSEQ, &nseq), 0);
  std::vector<int32_t> map(static_cast<size_t>(nseq));
  for (int32_t p = 1; p <= nseq; ++p) map[static_cast<size_t>(p) - 1] = p;
  const kl::RecurseEntry cl = kl::recurse_entries()[0];
  const int32_t y = cl.a;
  map[static_cast<size_t>(y) - 1] = 0;
  std::vector<double> lower(static_cast<size_t>(nseq), 0.0);
  std::vector<int32_t> status(static_cast<size_t>(nseq), 0);
  lower[static_cast<size_t>(y) - 1] = 4.0;
  status[static_cast<size_t>(y) - 1] = (64 + 2) << 24;
  const int32_t mu_scale = kl::recurse_entries()[1].scale;
  kl::renumber_recurse_entries(map.data(), lower.data(), status.data());
  const kl::RecurseEntry* e = kl::recurse_entries();
  EXPECT_EQ(e[0].a, 0);
  EXPECT_DOUBLE_EQ(e[0].base, 0.1 * 4.0);
  EXPECT_EQ(e[0].scale, (cl.scale == 0 ? 64 : cl.scale) - 2);
  EXPECT_EQ(e[1].a, cl.column) << "X stays";
  EXPECT_EQ(e[1].b, 0);
  EXPECT_DOUBLE_EQ(e[1].base, 0.5 * 4.0);
  EXPECT_EQ(e[1].scale, (mu_scale == 0 ? 64 : mu_scale) - 2);
}

}  // namespace
