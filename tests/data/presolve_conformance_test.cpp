// Presolve over the shared data, checked as an outsider would:
// - every Netlib LP solved with the default controls (presolve on) reaches
//   objectives.csv (relative 1e-6); the postsolved solution is checked
//   against the original problem (activities, bounds, duals, objective) and
//   KLGETINF lists nothing; the postsolved basis, loaded into a fresh read of
//   the problem and solved without presolve, reaches the same optimum in a
//   few iterations (the worst is printed at the end);
// - message 176 reports real reductions on problems known to reduce;
// - with fill-in room (NEXTRA > 0) every Netlib optimum stays, checked as
//   above;
// - every infeasible LP stays infeasible with presolve on;
// - with ITRACE set, an infeasibility that presolve finds itself is
//   explained by the chain of rows and bounds behind it;
// - a row in original columns added to a problem left presolved by a
//   stopped solve (KLADDROWS_PRE) holds in the postsolved solution, whose
//   optimum is that of the original problem with the row added.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "klsol32.h"
#include "runtime/messages.h"
#include "simplex/lp_solution_checker.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::int_attribute_value;
using kltest::objective_value;

constexpr double kObjectiveTolerance = 1e-6;
// The solution checker's relative tolerance for Ax, c - A'y and objval.
constexpr double kConsistencyTolerance = 1e-8;
constexpr int32_t kOptimal = 1;
constexpr int32_t kInfeasible = 2;

// Iterations allowed to the re-solve from the postsolved basis: an optimal
// basis needs none, so this bound only catches a basis that is far off.
int32_t resolve_limit(int32_t rows, int32_t columns) { return 20 + (rows + columns) / 20; }

bool near_known(double objective, double expected) {
  return std::fabs(objective - expected) <= kObjectiveTolerance * std::max(1.0, std::fabs(expected));
}

// The text of message n as the message file holds it, "&" marking inserts.
std::string message_template(int32_t n) {
  kl::begin_message(n);
  const std::string text(kl::message_line.text + 1, static_cast<size_t>(std::max(0, kl::message_line.length - 1)));
  kl::discard_message_line();
  return text;
}

// The fixed pieces of a message text (between its inserts, blanks trimmed).
std::vector<std::string> fixed_pieces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t from = 0;
  while (from <= text.size()) {
    const size_t amp = std::min(text.find('&', from), text.size());
    std::string piece = text.substr(from, amp - from);
    const size_t first = piece.find_first_not_of(' ');
    const size_t last = piece.find_last_not_of(' ');
    if (first != std::string::npos) pieces.push_back(piece.substr(first, last - first + 1));
    from = amp + 1;
  }
  return pieces;
}

// The captured lines printed from message n: those holding all its fixed
// pieces in order. For each, the numbers its inserts printed.
std::vector<std::vector<double>> lines_of_message(int32_t n) {
  const std::vector<std::string> pieces = fixed_pieces(message_template(n));
  std::vector<std::vector<double>> found;
  // Without a text of its own the message cannot be recognised.
  if (pieces.empty() || pieces[0].find("message text missing") != std::string::npos) return found;
  for (const kltest::CapturedLine& line : kltest::captured_lines()) {
    std::string rest = line.text;
    size_t at = 0;
    bool all = true;
    for (const std::string& piece : pieces) {
      const size_t where = rest.find(piece, at);
      if (where == std::string::npos) {
        all = false;
        break;
      }
      rest.replace(where, piece.size(), std::string(piece.size(), ' '));
      at = where + piece.size();
    }
    if (!all) continue;
    std::vector<double> numbers;
    const char* p = rest.c_str();
    while (*p != '\0') {
      char* end = nullptr;
      const double v = std::strtod(p, &end);
      if (end != p && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '+' || *p == '.')) {
        numbers.push_back(v);
        p = end;
      } else {
        ++p;
      }
    }
    found.push_back(numbers);
  }
  return found;
}

struct NetlibRow {
  double expected = 0.0;
  double objective = 0.0;
  int32_t iterations = 0;
  int32_t resolve_iterations = 0;
  int32_t resolve_limit = 0;
  double resolved_objective = 0.0;
};

std::map<std::string, NetlibRow>& netlib_table() {
  static std::map<std::string, NetlibRow> table;
  return table;
}

class PresolvedNetlib : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  static void TearDownTestSuite() {
    if (netlib_table().empty()) return;
    std::printf("\n%-10s %18s | %18s %6s | %18s %6s %6s\n", "problem", "known", "presolved", "iters", "re-solved",
                "iters", "limit");
    const NetlibRow* worst = nullptr;
    std::string worst_name;
    for (const auto& [name, row] : netlib_table()) {
      std::printf("%-10s %18.10g | %18.10g %6d | %18.10g %6d %6d\n", name.c_str(), row.expected, row.objective,
                  row.iterations, row.resolved_objective, row.resolve_iterations, row.resolve_limit);
      if (worst == nullptr || row.resolve_iterations > worst->resolve_iterations) {
        worst = &row;
        worst_name = name;
      }
    }
    std::printf("most re-solve iterations from a postsolved basis: %d (%s)\n", worst->resolve_iterations,
                worst_name.c_str());
    std::fflush(stdout);
  }

  void read(const std::string& file) {
    kltest::captured_lines().clear();
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  }

  kltest::TempDir dir_;
};

TEST_P(PresolvedNetlib, PostsolvedSolutionAndBasisHold) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(file, "netlib/" + name + ".mps");
  const std::map<std::string, double> known = kltest::known_objectives();
  ASSERT_TRUE(known.count(name) != 0) << name << " has no entry in objectives.csv";
  NetlibRow& row = netlib_table()[name];
  row.expected = known.at(name);

  ASSERT_NO_FATAL_FAILURE(read(file));
  const int32_t rows = int_attribute_value(KLIA_NROW);
  const int32_t columns = int_attribute_value(KLIA_NCOLS);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), kOptimal);
  row.objective = objective_value();
  row.iterations = int_attribute_value(KLIA_ITCNT);
  EXPECT_TRUE(near_known(row.objective, row.expected)) << "presolved: " << row.objective << " expected "
                                                        << row.expected;
  // The postsolved problem is the loaded one again.
  EXPECT_EQ(int_attribute_value(KLIA_NROW), rows);
  EXPECT_EQ(int_attribute_value(KLIA_NCOLS), columns);
  const kltest::SolutionCheck check = kltest::check_lp_solution();
  EXPECT_TRUE(check.ok(kConsistencyTolerance)) << check.report();
  int32_t counts[4] = {-1, -1, -1, -1};
  EXPECT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 0)
      << "KLGETINF: primal rows " << counts[0] << ", primal columns " << counts[1] << ", dual rows " << counts[2]
      << ", dual columns " << counts[3];

  std::vector<int32_t> row_status(static_cast<size_t>(rows)), column_status(static_cast<size_t>(columns));
  ASSERT_EQ(KLGETBASIS(row_status.data(), column_status.data()), 0);
  ASSERT_NO_FATAL_FAILURE(read(file));
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(KLLOADBASIS(row_status.data(), column_status.data()), 0);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), kOptimal);
  row.resolved_objective = objective_value();
  row.resolve_iterations = int_attribute_value(KLIA_ITCNT);
  row.resolve_limit = resolve_limit(rows, columns);
  EXPECT_TRUE(near_known(row.resolved_objective, row.expected))
      << "re-solved without presolve: " << row.resolved_objective << " expected " << row.expected;
  EXPECT_LE(row.resolve_iterations, row.resolve_limit) << "the postsolved basis is far from optimal";
}

INSTANTIATE_TEST_SUITE_P(Netlib, PresolvedNetlib, ::testing::ValuesIn(kltest::mps_problems("netlib")),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PresolvedNetlib);

// Message 176 gives the presolved rows, columns and elements: fewer of each
// than loaded on problems with known reductions. With fill-in room for the
// elimination (NEXTRA) the optimum stays.
class PresolveReductions : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(PresolveReductions, Message176ShowsFewerRowsColumnsAndElements) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(file, "netlib/" + name + ".mps");
  kltest::captured_lines().clear();
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file(name).c_str()), 0);
  const int32_t rows = int_attribute_value(KLIA_NROW);
  const int32_t columns = int_attribute_value(KLIA_NCOLS);
  const int32_t elements = int_attribute_value(KLIA_NELEM);
  EXPECT_EQ(KLMINIM(""), 0);
  const std::vector<std::vector<double>> reports = lines_of_message(176);
  ASSERT_EQ(reports.size(), 1u) << "message 176 (" << message_template(176) << ") printed " << reports.size()
                                << " times";
  ASSERT_GE(reports[0].size(), 3u);
  const std::vector<double>& r = reports[0];
  const double left_rows = r[r.size() - 3], left_columns = r[r.size() - 2], left_elements = r[r.size() - 1];
  std::printf("%-10s rows %d -> %.0f, columns %d -> %.0f, elements %d -> %.0f\n", name.c_str(), rows, left_rows,
              columns, left_columns, elements, left_elements);
  EXPECT_LT(left_rows, rows);
  EXPECT_LT(left_columns, columns);
  EXPECT_LT(left_elements, elements);
}

INSTANTIATE_TEST_SUITE_P(Netlib, PresolveReductions,
                         ::testing::Values("bore3d", "scorpion", "sctap1", "ship04s", "recipe"),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PresolveReductions);

class PresolveFillIn : public PresolveReductions {};

TEST_P(PresolveFillIn, FillInRoomKeepsTheOptimum) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(file, "netlib/" + name + ".mps");
  const std::map<std::string, double> known = kltest::known_objectives();
  ASSERT_TRUE(known.count(name) != 0);
  for (const int32_t room : {100, 10000}) {
    SCOPED_TRACE("NEXTRA " + std::to_string(room));
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(name).c_str()), 0);
    KLSETICV(KLIC_NEXTRA, room);
    EXPECT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), kOptimal);
    EXPECT_TRUE(near_known(objective_value(), known.at(name))) << objective_value() << " expected " << known.at(name);
    const kltest::SolutionCheck check = kltest::check_lp_solution();
    EXPECT_TRUE(check.ok(kConsistencyTolerance)) << check.report();
    int32_t counts[4] = {-1, -1, -1, -1};
    EXPECT_EQ(KLGETINF(&counts[0], &counts[1], &counts[2], &counts[3], nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Netlib, PresolveFillIn, ::testing::ValuesIn(kltest::mps_problems("netlib")),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PresolveFillIn);

// The lines that open an explanation chain (a conflicting row, a column
// whose implied bounds cross) and those that continue it.
size_t chain_heads() { return lines_of_message(280).size() + lines_of_message(327).size(); }
size_t chain_links() {
  size_t n = 0;
  for (const int32_t message : {281, 282, 283, 284, 329}) n += lines_of_message(message).size();
  return n;
}

// Every infeasible LP stays infeasible with presolve on. With ITRACE, when
// presolve finds the infeasibility itself (no simplex iteration), the
// explanation chain is printed.
class PresolvedInfeasibleLp : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(PresolvedInfeasibleLp, StaysInfeasibleAndExplainsWhatPresolveFinds) {
  KLTEST_REQUIRE_DATA(file, "infeas/" + GetParam() + ".mps");
  for (const int32_t trace : {0, 1}) {
    SCOPED_TRACE("ITRACE " + std::to_string(trace));
    kltest::captured_lines().clear();
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
    KLSETICV(KLIC_ITRACE, trace);
    EXPECT_EQ(KLMINIM(""), 0);
    EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), kInfeasible);
    if (trace != 0 && int_attribute_value(KLIA_ITCNT) == 0 && lines_of_message(176).empty()) {
      std::printf("%-10s presolve finds it infeasible: %zu chain heads, %zu links\n", GetParam().c_str(),
                  chain_heads(), chain_links());
      EXPECT_GE(chain_heads(), 1u) << "no explanation chain";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Infeas, PresolvedInfeasibleLp, ::testing::ValuesIn(kltest::mps_problems("infeas")),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PresolvedInfeasibleLp);

// A chain presolve must find: r1 (x1 - x3 = 0, x3 <= 0.5) bounds x1 by 0.5,
// and then r2 (x1 + x2 >= 2, x2 <= 1) cannot be met.
TEST(PresolveExplanation, ConflictThroughAnImpliedBoundIsExplained) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  kltest::captured_lines().clear();
  KLSETICV(KLIC_IFDBG, 1);
  const char types[] = {'E', 'G'};
  const double rhs[] = {0.0, 2.0}, ranges[] = {0.0, 0.0}, cost[] = {1.0, 1.0, 0.0};
  const double lower[] = {0.0, 0.0, 0.0}, upper[] = {1e20, 1.0, 0.5};
  const int32_t starts[] = {0, 2, 3, 4}, rows[] = {0, 1, 1, 0};
  const double values[] = {1.0, 1.0, 1.0, -1.0};
  ASSERT_EQ(KLLOADPROB("chain", 3, 2, types, rhs, ranges, cost, starts, nullptr, rows, values, lower, upper), 0);
  kltest::TempDir dir;
  ASSERT_EQ(KLSETPROB(dir.file("chain").c_str()), 0);
  KLSETICV(KLIC_ITRACE, 1);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), kInfeasible);
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0) << "presolve should find this itself";
  EXPECT_GE(chain_heads(), 1u);
  EXPECT_GE(chain_links(), 1u);
  KLFREEXO();
  KLDEFINEUOPENTRY(nullptr);
}

// A row x_j <= x*_j / 2 that cuts off the optimum x*, added in original
// columns to the problem an iteration limit left presolved, must hold once
// the solve is finished and postsolved, and the optimum must be that of the
// loaded problem with the same row added (solved without presolve). Columns
// whose removal a new row cannot carry (code 1) are passed over.
class PresolvedRowAddition : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  void read(const std::string& file) {
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  }
  static int32_t add_bound_row(int32_t j, double rhs, bool presolved) {
    const char type = 'L';
    const double range = 0.0, value = 1.0;
    const int32_t start = 0, column = j;  // 0-based (IFDBG 1)
    int32_t code = -1;
    if (presolved) return KLADDROWS_PRE(1, 1, &type, &rhs, &range, &start, &column, &value, &code);
    return KLADDROWS(1, 1, &type, &rhs, &range, &start, &column, &value);
  }
  kltest::TempDir dir_;
};

TEST_P(PresolvedRowAddition, AddedRowHoldsAfterPostsolve) {
  KLTEST_REQUIRE_DATA(file, "netlib/" + GetParam() + ".mps");
  KLSETICV(KLIC_IFDBG, 1);
  // A presolved problem has the spare rows and elements of the loaded one,
  // and rows are added to it only there.
  KLSETICV(KLIC_NRXTRA, 10);
  KLSETICV(KLIC_NMXTRA, 100);
  ASSERT_NO_FATAL_FAILURE(read(file));
  const int32_t columns = int_attribute_value(KLIA_NCOLS);
  ASSERT_EQ(KLMINIM(""), 0);
  std::vector<double> x(static_cast<size_t>(columns));
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  std::vector<int32_t> candidates;
  for (int32_t j = 0; j < columns; ++j)
    if (x[static_cast<size_t>(j)] > 1e-3) candidates.push_back(j);
  std::sort(candidates.begin(), candidates.end(),
            [&](int32_t a, int32_t b) { return x[static_cast<size_t>(a)] > x[static_cast<size_t>(b)]; });

  ASSERT_NO_FATAL_FAILURE(read(file));
  int32_t limit = 0;
  KLGETICV(KLIC_ITRLIM, &limit);
  KLSETICV(KLIC_ITRLIM, 0);
  KLMINIM("");
  ASSERT_NE(int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2, 0) << "a stopped solve leaves the problem presolved";
  int32_t chosen = -1;
  for (const int32_t j : candidates) {
    const int32_t code = add_bound_row(j, x[static_cast<size_t>(j)] / 2, true);
    ASSERT_EQ(int_attribute_value(KLIA_STATUS), 0) << "error " << int_attribute_value(KLIA_ERRORCODE);
    if (code == 0 || code == 5) {
      chosen = j;
      break;
    }
    ASSERT_EQ(code, 1) << "column " << j;
  }
  ASSERT_GE(chosen, 0) << "no column of the optimum could be bounded in presolved terms";
  const double bound = x[static_cast<size_t>(chosen)] / 2;
  KLSETICV(KLIC_ITRLIM, limit);
  ASSERT_EQ(KLMINIM(""), 0);
  const int32_t status = int_attribute_value(KLIA_LPSTATUS);
  const double objective = objective_value();
  ASSERT_EQ(int_attribute_value(KLIA_PROBLEMFLAGS) & 0x2, 0) << "the finished solve is postsolved";
  std::vector<double> after(static_cast<size_t>(columns));
  ASSERT_EQ(KLSOLUTION(after.data(), nullptr, nullptr, nullptr), 0);

  ASSERT_NO_FATAL_FAILURE(read(file));
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(add_bound_row(chosen, bound, false), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(status, int_attribute_value(KLIA_LPSTATUS)) << "column " << chosen << " bounded by " << bound;
  if (status != kOptimal) return;
  EXPECT_LE(after[static_cast<size_t>(chosen)], bound + 1e-6 * std::max(1.0, bound));
  EXPECT_TRUE(near_known(objective, objective_value())) << objective << " expected " << objective_value();
}

INSTANTIATE_TEST_SUITE_P(Netlib, PresolvedRowAddition,
                         ::testing::Values("afiro", "sc50a", "adlittle", "bore3d", "ship04s", "scorpion"),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PresolvedRowAddition);

}  // namespace
