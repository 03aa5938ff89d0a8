// The global search through its exports: optima of small integer programs
// against enumeration, the verdicts, the limits and continuations, the
// solution copies, the work files and the node deletion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <cstring>
#include <string>
#include <vector>

#include "global/search_driver.h"
#include "problem/array_ids.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "klsol32.h"
#include "problem/array_problem.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::ArrayProblem;
using kltest::int_attribute_value;

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kNodeCount = 1013;
constexpr int32_t kSolutionCount = 1017;
constexpr int32_t kLastError = 1023;
constexpr int32_t kDintsl = 2003;
constexpr int32_t kBestBound = 2004;
constexpr int32_t kMaxnod = 18;
constexpr int32_t kMaxsol = 21;
constexpr int32_t kIpkeep = 22;
constexpr int32_t kIpactn = 24;
constexpr int32_t kGprint = 28;
constexpr int32_t kIfpres = 11;

double double_attribute(int32_t n) {
  double v = 0.0;
  KLGETDPV(n, &v);
  return v;
}

// A pure integer program: columns with integer bounds, rows "L"/"G"/"E".
struct IntegerProgram {
  int32_t columns = 0;
  std::vector<double> cost, lower, upper;
  std::vector<std::vector<double>> a;  // rows x columns
  std::string types;
  std::vector<double> rhs;
  std::vector<char> kind;  // 'B' or 'I'

  ArrayProblem to_array(double cost_factor = 1.0) const {
    ArrayProblem p;
    for (std::size_t i = 0; i < rhs.size(); ++i) p.row(types[i], rhs[i]);
    for (int32_t j = 0; j < columns; ++j) {
      std::vector<std::pair<int32_t, double>> elements;
      for (std::size_t i = 0; i < rhs.size(); ++i)
        if (a[i][static_cast<std::size_t>(j)] != 0.0)
          elements.emplace_back(static_cast<int32_t>(i), a[i][static_cast<std::size_t>(j)]);
      p.column(cost[static_cast<std::size_t>(j)] * cost_factor, lower[static_cast<std::size_t>(j)],
               upper[static_cast<std::size_t>(j)], elements);
      p.entity(kind[static_cast<std::size_t>(j)], j);
    }
    return p;
  }

  bool feasible(const std::vector<double>& x, double tolerance) const {
    for (std::size_t i = 0; i < rhs.size(); ++i) {
      double activity = 0.0;
      for (int32_t j = 0; j < columns; ++j) activity += a[i][static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(j)];
      if (types[i] == 'L' && activity > rhs[i] + tolerance) return false;
      if (types[i] == 'G' && activity < rhs[i] - tolerance) return false;
      if (types[i] == 'E' && std::fabs(activity - rhs[i]) > tolerance) return false;
    }
    for (int32_t j = 0; j < columns; ++j) {
      const double v = x[static_cast<std::size_t>(j)];
      if (v < lower[static_cast<std::size_t>(j)] - tolerance || v > upper[static_cast<std::size_t>(j)] + tolerance)
        return false;
      if (std::fabs(v - std::round(v)) > tolerance) return false;
    }
    return true;
  }

  double objective(const std::vector<double>& x) const {
    double z = 0.0;
    for (int32_t j = 0; j < columns; ++j) z += cost[static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(j)];
    return z;
  }

  // The least objective over every integer point, or NaN when none is feasible.
  double enumerate_minimum() const {
    std::vector<double> x(lower);
    double best = std::nan("");
    std::function<void(int32_t)> visit = [&](int32_t j) {
      if (j == columns) {
        if (feasible(x, 1e-9)) {
          const double z = objective(x);
          if (std::isnan(best) || z < best) best = z;
        }
        return;
      }
      for (double v = lower[static_cast<std::size_t>(j)]; v <= upper[static_cast<std::size_t>(j)]; v += 1.0) {
        x[static_cast<std::size_t>(j)] = v;
        visit(j + 1);
      }
      x[static_cast<std::size_t>(j)] = lower[static_cast<std::size_t>(j)];
    };
    visit(0);
    return best;
  }
};

IntegerProgram random_program(uint32_t seed) {
  std::mt19937 random(seed);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  IntegerProgram p;
  p.columns = pick(3, 7);
  const int rows = pick(1, 4);
  for (int32_t j = 0; j < p.columns; ++j) {
    const bool binary = pick(0, 1) == 0;
    p.kind.push_back(binary ? 'B' : 'I');
    p.lower.push_back(binary ? 0.0 : pick(-1, 0));
    p.upper.push_back(binary ? 1.0 : pick(1, 3));
    p.cost.push_back(pick(-9, 9));
  }
  for (int i = 0; i < rows; ++i) {
    std::vector<double> row;
    double reach = 0.0;
    for (int32_t j = 0; j < p.columns; ++j) {
      const double v = pick(0, 2) == 0 ? 0.0 : pick(-6, 8);
      row.push_back(v);
      reach += std::fabs(v) * std::max(std::fabs(p.lower[static_cast<std::size_t>(j)]), p.upper[static_cast<std::size_t>(j)]);
    }
    p.a.push_back(row);
    const int type = pick(0, 5);
    p.types.push_back(type == 0 ? 'E' : (type <= 3 ? 'L' : 'G'));
    const double b = std::round(reach * (type <= 3 ? 0.3 : -0.1)) + pick(-2, 2);
    p.rhs.push_back(p.types.back() == 'E' ? pick(-2, 4) : b);
  }
  return p;
}

class GlobalSearch : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir;
  std::string name(const std::string& stem) const { return dir.file(stem); }

  // Column values of the best solution, read after the search.
  std::vector<double> solution(int32_t columns) {
    std::vector<double> x(static_cast<std::size_t>(columns));
    EXPECT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    return x;
  }
};

// Every random program: the search's verdict and optimum agree with the
// enumeration, and the solution it reports is integral and feasible.
TEST_F(GlobalSearch, RandomIntegerProgramsMatchEnumeration) {
  int solved = 0, infeasible = 0;
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const IntegerProgram p = random_program(seed);
    const double best = p.enumerate_minimum();
    KLSETICV(kIfpres, 0);
    ASSERT_EQ(p.to_array().load_global(name("r").c_str()), 0);
    ASSERT_EQ(KLMINIM("g"), 0);
    int32_t lp = int_attribute_value(1010);
    if (lp == 2 && std::isnan(best)) {
      ++infeasible;
      continue;  // the relaxation is infeasible already: no search
    }
    if (std::isnan(best)) {
      EXPECT_EQ(int_attribute_value(kMipStatus), 5);
      ++infeasible;
      continue;
    }
    ASSERT_EQ(int_attribute_value(kMipStatus), 6);
    EXPECT_NEAR(double_attribute(kDintsl), best, 1e-6);
    const std::vector<double> x = solution(p.columns);
    EXPECT_TRUE(p.feasible(x, 1e-6));
    EXPECT_NEAR(p.objective(x), best, 1e-6);
    ++solved;
  }
  EXPECT_GT(solved, 50);
  EXPECT_GT(infeasible, 3);
}

// The optimum follows the objective exactly when it is scaled by a power of
// two or maximised negated; integer steps in the costs must not prune a
// better solution.
TEST_F(GlobalSearch, ScaledAndNegatedObjectivesGiveTheScaledOptimum) {
  struct Case {
    double factor;
    bool maximise;
  };
  for (uint32_t seed = 200; seed <= 240; ++seed) {
    const IntegerProgram p = random_program(seed);
    const double best = p.enumerate_minimum();
    if (std::isnan(best)) continue;
    for (const Case& c : {Case{1024.0, false}, Case{1.0 / 1024.0, false}, Case{-1.0, true}, Case{-1024.0, true}}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " factor " + std::to_string(c.factor));
      KLSETICV(kIfpres, 0);
      ASSERT_EQ(p.to_array(c.factor).load_global(name("s").c_str()), 0);
      ASSERT_EQ(c.maximise ? KLMAXIM("g") : KLMINIM("g"), 0);
      if (int_attribute_value(1010) != 1) continue;
      ASSERT_EQ(int_attribute_value(kMipStatus), 6);
      EXPECT_NEAR(double_attribute(kDintsl), best * c.factor, 1e-6 * std::max(1.0, std::fabs(best * c.factor)));
    }
  }
}

// An integer program whose relaxation is feasible but which has no integer
// point: finished without a solution, message 289.
TEST_F(GlobalSearch, IntegerInfeasibleProblemEndsWithStatusFive) {
  ArrayProblem p;
  p.row('E', 1.0);  // 2x + 2y = 1 has no integer solution
  p.column(1.0, 0.0, 3.0, {{0, 2.0}});
  p.column(1.0, 0.0, 3.0, {{0, 2.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(p.load_global(name("inf").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 5);
  EXPECT_EQ(int_attribute_value(kSolutionCount), 0);
  EXPECT_TRUE(kltest::any_line_contains("No integer solution exists"));
}

// A knapsack with many nodes, for the limits.
ArrayProblem knapsack(int n) {
  ArrayProblem p;
  p.row('L', 0.0);
  double capacity = 0.0;
  for (int j = 0; j < n; ++j) {
    const double w = 7.0 + (j * 37) % 23;
    const double v = 5.0 + (j * 53) % 29;
    capacity += w;
    p.column(-v, 0.0, 1.0, {{0, w}});
    p.entity('B', j);
  }
  p.rhs[0] = std::floor(capacity / 2.0) + 0.5;
  return p;
}

double knapsack_optimum(const ArrayProblem& p) {
  const int n = p.ncols();
  const int capacity = static_cast<int>(std::floor(p.rhs[0]));
  std::vector<double> best(static_cast<std::size_t>(capacity) + 1, 0.0);
  for (int j = 0; j < n; ++j) {
    const int w = static_cast<int>(p.values[static_cast<std::size_t>(j)]);
    for (int c = capacity; c >= w; --c)
      best[static_cast<std::size_t>(c)] =
          std::max(best[static_cast<std::size_t>(c)], best[static_cast<std::size_t>(c - w)] - p.cost[static_cast<std::size_t>(j)]);
  }
  return -best[static_cast<std::size_t>(capacity)];
}

TEST_F(GlobalSearch, KnapsackReachesItsOptimum) {
  const ArrayProblem p = knapsack(25);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(p.load_global(name("k").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
  EXPECT_NEAR(double_attribute(kBestBound), knapsack_optimum(p), 1e-6);
  EXPECT_GT(int_attribute_value(kNodeCount), 1);
}

// MAXNOD stops the search with the problem state of a stopped search;
// KLGLOBAL continues it to the same optimum as a straight run.
TEST_F(GlobalSearch, NodeLimitStopsAndGlobalContinuesToTheOptimum) {
  const ArrayProblem p = knapsack(25);
  const double optimum = knapsack_optimum(p);
  KLSETICV(kIfpres, 0);
  KLSETICV(kMaxnod, 15);
  ASSERT_EQ(p.load_global(name("c").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  const int32_t status = int_attribute_value(kMipStatus);
  EXPECT_TRUE(status == 3 || status == 4) << status;
  EXPECT_GE(int_attribute_value(kNodeCount), 15);
  if (status == 4) {
    EXPECT_LE(optimum, double_attribute(kDintsl) + 1e-9);
  }
  EXPECT_LE(double_attribute(kBestBound), optimum + 1e-6);
  KLSETICV(kMaxnod, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), optimum, 1e-6);
}

// MAXSOL 1 stops at the first solution with message 78; a second KLGLOBAL
// stops again at once.
TEST_F(GlobalSearch, SolutionLimitStopsAtOnceAgain) {
  const ArrayProblem p = knapsack(20);
  KLSETICV(kIfpres, 0);
  KLSETICV(kMaxsol, 1);
  ASSERT_EQ(p.load_global(name("m").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 4);
  EXPECT_EQ(int_attribute_value(kSolutionCount), 1);
  EXPECT_TRUE(kltest::any_line_contains("solution limit MAXSOL"));
  const int32_t nodes = int_attribute_value(kNodeCount);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_TRUE(kltest::any_line_contains("solution limit MAXSOL"));
  EXPECT_EQ(int_attribute_value(kNodeCount), nodes);
  KLSETICV(kMaxsol, 0);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

// IPACTN 2: the search returns after every solution, under way; repeated
// KLGLOBAL calls reach the optimum, each finding one more solution.
TEST_F(GlobalSearch, ReturnAtEverySolution) {
  const ArrayProblem p = knapsack(18);
  KLSETICV(kIfpres, 0);
  KLSETICV(kIpactn, 2);
  ASSERT_EQ(p.load_global(name("a").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  int calls = 0;
  while (int_attribute_value(kMipStatus) == 4 && calls < 1000) {
    EXPECT_EQ(int_attribute_value(kSolutionCount), calls + 1);
    ASSERT_EQ(KLGLOBAL(), 0);
    ++calls;
  }
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
  EXPECT_GE(int_attribute_value(kSolutionCount), 1);
}

// IPKEEP 3: the copies so0, so1 cycle; each copy is the solution file of
// the solution before; no work file is left after a completed search.
TEST_F(GlobalSearch, SolutionCopiesAndWorkFiles) {
  const ArrayProblem p = knapsack(22);
  KLSETICV(kIfpres, 0);
  KLSETICV(kIpkeep, 3);
  ASSERT_EQ(p.load_global(name("keep").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  ASSERT_EQ(int_attribute_value(kMipStatus), 6);
  const int32_t solutions = int_attribute_value(kSolutionCount);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files.push_back(entry.path().filename().string());
  const auto has = [&](const std::string& suffix) {
    for (const std::string& f : files)
      if (f.size() >= suffix.size() && f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0) return true;
    return false;
  };
  EXPECT_TRUE(has("sol") || has("SOL"));
  if (solutions >= 2) {
    EXPECT_TRUE(has("so0") || has("SO0"));
  }
  if (solutions >= 3) {
    EXPECT_TRUE(has("so1") || has("SO1"));
  }
  EXPECT_FALSE(has("so2") || has("SO2"));
  EXPECT_FALSE(has("glb") || has("GLB"));
  EXPECT_FALSE(has("ctp") || has("CTP"));
}

// KLDELNODE refuses without a search and for a node that is not active.
TEST_F(GlobalSearch, DeleteNodeNeedsASearchAndAnActiveNode) {
  const ArrayProblem p = knapsack(20);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(p.load_global(name("d").c_str()), 0);
  EXPECT_EQ(KLDELNODE(3, 1), 32);
  EXPECT_EQ(int_attribute_value(kLastError), 432);
  KLSETICV(kMaxnod, 10);
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(KLDELNODE(999999, 1), 32);
  EXPECT_EQ(int_attribute_value(kLastError), 432);
}

// KLGLOBAL without an optimal relaxation is refused with message 11.
TEST_F(GlobalSearch, GlobalNeedsAnOptimalRelaxation) {
  const ArrayProblem p = knapsack(5);
  ASSERT_EQ(p.load_global(name("g").c_str()), 0);
  EXPECT_EQ(KLGLOBAL(), 32);
  EXPECT_EQ(int_attribute_value(kLastError), 11);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

// The node log: a compact line every |GPRINT| nodes and at every solution.
TEST_F(GlobalSearch, CompactNodeLogLines) {
  const ArrayProblem p = knapsack(22);
  KLSETICV(kIfpres, 0);
  KLSETICV(kGprint, -5);
  ASSERT_EQ(p.load_global(name("log").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  int starred = 0, lines = 0;
  for (const kltest::CapturedLine& line : kltest::captured_lines()) {
    if (line.text.find("Best solution") != std::string::npos) continue;
    if (line.text.size() > 2 && line.text[1] == '*') ++starred;
    if (line.text.size() > 10 && (line.text[1] == '*' || line.text[1] == ' ') && line.text[0] == ' ' &&
        std::isdigit(static_cast<unsigned char>(line.text[10])))
      ++lines;
  }
  EXPECT_EQ(starred, int_attribute_value(kSolutionCount));
  EXPECT_GE(lines, int_attribute_value(kNodeCount) / 5);
}

}  // namespace

namespace {

int32_t cm_calls = 0;
int32_t upn_calls = 0;
int32_t cm_repeat = 0;
int32_t gl_lines = 0;
int32_t gl_stop_after = 0;

int32_t count_cm() {
  ++cm_calls;
  // Asks once to be called again at the same node.
  if (cm_repeat > 0) {
    --cm_repeat;
    return 1;
  }
  return 0;
}
void count_upn(int32_t* discard) {
  ++upn_calls;
  *discard = 0;
}
int32_t stop_after_lines() {
  ++gl_lines;
  return gl_stop_after > 0 && gl_lines >= gl_stop_after ? 1 : 0;
}

// The cut manager is called at every node whose LP is optimal (never more
// often than nodes start), again while it asks for it; the search still
// reaches the optimum.
TEST_F(GlobalSearch, CutManagerSeesTheNodes) {
  const ArrayProblem p = knapsack(20);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(p.load_global(name("cm").c_str()), 0);
  cm_calls = upn_calls = 0;
  cm_repeat = 1;
  KLDEFINECMENTRY(count_cm);
  KLDEFINEUPNENTRY(count_upn);
  ASSERT_EQ(KLMINIM("g"), 0);
  KLDEFINECMENTRY(nullptr);
  KLDEFINEUPNENTRY(nullptr);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
  EXPECT_GT(cm_calls, 2);
  EXPECT_LE(cm_calls, upn_calls + 2);
  // The node count also counts the nodes the table drops against the
  // cut-off, which are never started; the root is started once more before
  // the node loop re-solves its record.
  EXPECT_LE(upn_calls, int_attribute_value(kNodeCount) + 1);
}

// The search log entry stops the search: it stays under way (problem
// state of a stopped search) and KLGLOBAL finishes it.
TEST_F(GlobalSearch, LogEntryStopsTheSearch) {
  const ArrayProblem p = knapsack(24);
  KLSETICV(kIfpres, 0);
  KLSETICV(kGprint, 3);
  ASSERT_EQ(p.load_global(name("gl").c_str()), 0);
  gl_lines = 0;
  gl_stop_after = 3;
  KLDEFINEGLENTRY(stop_after_lines);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  const int32_t status = int_attribute_value(kMipStatus);
  EXPECT_TRUE(status == 3 || status == 4) << status;
  EXPECT_TRUE(kltest::any_line_contains("Global search stopped"));
  gl_stop_after = 0;
  ASSERT_EQ(KLGLOBAL(), 0);
  KLDEFINEGLENTRY(nullptr);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

// KLINIGLOBAL ends a stopped search: the problem is back at its root
// bounds, the work files are gone, and a new search starts afresh.
TEST_F(GlobalSearch, IniGlobalEndsAStoppedSearch) {
  const ArrayProblem p = knapsack(22);
  KLSETICV(kIfpres, 0);
  KLSETICV(kMaxnod, 8);
  ASSERT_EQ(p.load_global(name("ini").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  ASSERT_EQ(KLINIGLOBAL(), 0);
  std::vector<double> lower(22), upper(22);
  KLGETBDL(lower.data(), 0, 21);
  KLGETBDU(upper.data(), 0, 21);
  for (int j = 0; j < 22; ++j) {
    EXPECT_EQ(lower[static_cast<std::size_t>(j)], 0.0);
    EXPECT_EQ(upper[static_cast<std::size_t>(j)], 1.0);
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string f = entry.path().filename().string();
    EXPECT_EQ(f.find(".glb"), std::string::npos) << f;
    EXPECT_EQ(f.find(".GLB"), std::string::npos) << f;
  }
  KLSETICV(kMaxnod, 100000000);
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

}  // namespace

namespace {

// Special ordered sets and semi-continuous columns: small fixtures with
// known optima.
TEST_F(GlobalSearch, SpecialOrderedSetsAndSemiContinuousColumns) {
  struct Case {
    const char* what;
    std::function<ArrayProblem()> build;
    bool maximise;
    double optimum;
  };
  const Case cases[] = {
      {"set of type 1: one member non-zero",
       [] {
         ArrayProblem p;
         p.row('L', 2.0);
         p.column(-1.0, 0.0, 1.0, {{0, 1.0}});
         p.column(-2.0, 0.0, 1.0, {{0, 1.0}});
         p.column(-3.0, 0.0, 0.5, {{0, 1.0}});
         p.set('1', {{0, 1.0}, {1, 2.0}, {2, 3.0}});
         return p;
       },
       false, -2.0},
      {"set of type 2: two adjacent members non-zero",
       [] {
         ArrayProblem p;
         p.row('E', 1.0);  // the weights sum to 1
         p.row('E', 2.5);  // at reference 2.5
         const double cost[] = {0.0, 3.0, 1.0, 4.0};
         for (int j = 0; j < 4; ++j) p.column(cost[j], 0.0, 1.0, {{0, 1.0}, {1, j + 1.0}});
         p.set('2', {{0, 1.0}, {1, 2.0}, {2, 3.0}, {3, 4.0}});
         return p;
       },
       false, 2.0},
      {"semi-continuous: zero or at least its limit, pushed up",
       [] {
         ArrayProblem p;
         p.row('G', 1.0);
         p.column(1.0, 0.0, 5.0, {{0, 1.0}});
         p.entity('S', 0, 2.0);
         return p;
       },
       false, 2.0},
      {"semi-continuous: the limit out of reach, zero",
       [] {
         ArrayProblem p;
         p.row('L', 1.5);
         p.column(1.0, 0.0, 5.0, {{0, 1.0}});
         p.column(0.5, 0.0, 1.0, {{0, 1.0}});
         p.entity('S', 0, 2.0);
         return p;
       },
       true, 0.5},
  };
  for (const Case& c : cases) {
    for (int32_t ifpres : {0, 1}) {
      SCOPED_TRACE(std::string(c.what) + ", IFPRES " + std::to_string(ifpres));
      KLSETICV(kIfpres, ifpres);
      KLSETICV(kGprint, 3);
      ASSERT_EQ(c.build().load_global(name("sets").c_str()), 0);
      kltest::captured_lines().clear();
      ASSERT_EQ(c.maximise ? KLMAXIM("g") : KLMINIM("g"), 0);
      EXPECT_EQ(int_attribute_value(kMipStatus), 6);
      EXPECT_NEAR(double_attribute(kDintsl), c.optimum, 1e-6);
    }
  }
}

// The detailed log line of the first branching: the entity's name and the
// direction letter (L: the lower bound is raised first, U: the upper
// bound is lowered first).
struct FirstBranch {
  std::string name;
  char direction = ' ';
};
FirstBranch first_branch_in_log() {
  for (const kltest::CapturedLine& line : kltest::captured_lines()) {
    const std::string& t = line.text;
    if (t.size() < 60 || t.find("Node") != std::string::npos) continue;
    const char last = t.back();
    if (last != 'L' && last != 'U') continue;
    std::istringstream fields(t);
    std::string node, parent, objective, estimate, fractional, active, entity;
    fields >> node >> parent >> objective >> estimate >> fractional >> active >> entity;
    return {entity, last};
  }
  return {};
}

// Directives: a priority puts its entity first whatever the estimates, and
// a direction decides which child is dived into first.
TEST_F(GlobalSearch, DirectivesChangeTheBranchingOrder) {
  const ArrayProblem p = knapsack(12);
  char names[12 * 9] = {};
  for (int32_t favoured : {3, 7}) {
    for (char direction : {'U', 'D'}) {
      SCOPED_TRACE(std::string("column ") + std::to_string(favoured) + " direction " + direction);
      KLSETICV(kIfpres, 0);
      KLSETICV(kGprint, 3);
      ASSERT_EQ(p.load_global(name("dir").c_str()), 0);
      ASSERT_EQ(KLGETNAMES(2, names, 0, 11), 0);
      std::vector<int32_t> columns(12), priorities(12, 500);
      std::string directions(12, direction);
      for (int32_t j = 0; j < 12; ++j) columns[static_cast<std::size_t>(j)] = j;
      priorities[static_cast<std::size_t>(favoured)] = 1;
      ASSERT_EQ(KLLOADDIR(12, columns.data(), priorities.data(), directions.data(), nullptr, nullptr), 0);
      kltest::captured_lines().clear();
      ASSERT_EQ(KLMINIM("g"), 0);
      EXPECT_EQ(int_attribute_value(kMipStatus), 6);
      EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
      // The names come NUL-separated; the favoured one is the first branch
      // when it is fractional at the root, else some column of priority 500.
      const char* at = names;
      for (int32_t j = 0; j < favoured; ++j) at += std::strlen(at) + 1;
      const FirstBranch first = first_branch_in_log();
      EXPECT_EQ(first.direction, direction == 'U' ? 'L' : 'U');
      EXPECT_FALSE(first.name.empty());
    }
  }
}

}  // namespace

namespace {

// With presolve left on, the search still answers for the problem as
// loaded, through KLMINIM with option g and through KLGLOBAL after a plain
// KLMINIM.
TEST_F(GlobalSearch, PresolveOnGivesTheLoadedProblemsOptimum) {
  int searched = 0;
  // Seeds 363, 534, 554, 719 and 1567 once met postsolve faults of a
  // presolved search (an integer column put back at a fractional or
  // unrounded bound).
  for (uint32_t seed = 300; seed <= 1600; ++seed) {
    const IntegerProgram p = random_program(seed);
    const double best = p.enumerate_minimum();
    if (std::isnan(best)) continue;
    for (bool through_global : {false, true}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + (through_global ? " KLGLOBAL" : " option g"));
      KLSETICV(kIfpres, 1);
      ASSERT_EQ(p.to_array().load_global(name("pre").c_str()), 0);
      if (through_global) {
        ASSERT_EQ(KLMINIM(""), 0);
        if (int_attribute_value(1010) != 1) continue;
        ASSERT_EQ(KLGLOBAL(), 0);
      } else {
        ASSERT_EQ(KLMINIM("g"), 0);
        if (int_attribute_value(1010) != 1) continue;
      }
      ASSERT_EQ(int_attribute_value(kMipStatus), 6);
      EXPECT_NEAR(double_attribute(kDintsl), best, 1e-6);
      const std::vector<double> x = solution(p.columns);
      EXPECT_TRUE(p.feasible(x, 1e-6));
      EXPECT_NEAR(p.objective(x), best, 1e-6);
      ++searched;
    }
  }
  EXPECT_GT(searched, 20);
}

}  // namespace

namespace {

// MAXNOD -1 solves the root only: message 43, a stopped search whose best
// bound is the root's objective; KLGLOBAL then finishes it.
TEST_F(GlobalSearch, NodeLimitMinusOneSolvesTheRootOnly) {
  const ArrayProblem p = knapsack(20);
  KLSETICV(kIfpres, 0);
  KLSETICV(kMaxnod, -1);
  ASSERT_EQ(p.load_global(name("root").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 3);
  EXPECT_TRUE(kltest::any_line_contains("node limit MAXNOD"));
  double relaxation = 0.0;
  KLGETDPV(KLDA_OBJVAL, &relaxation);
  EXPECT_NEAR(double_attribute(kBestBound), relaxation, 1e-9);
  EXPECT_LE(relaxation, knapsack_optimum(p) + 1e-9);
  KLSETICV(kMaxnod, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

}  // namespace

namespace {

constexpr int32_t kAddcut = 12;

// With a positive ADDCUT the cut-off lies beyond the incumbent, so integer
// nodes no better than it are solved too: they must not replace it, nor its
// solution file, nor loosen the cut-off further.
TEST_F(GlobalSearch, OnlyABetterSolutionReplacesTheIncumbent) {
  const ArrayProblem p = knapsack(16);
  KLSETICV(kIfpres, 0);
  ASSERT_EQ(p.load_global(name("better").c_str()), 0);
  // Set after the relaxation, whose run may tighten ADDCUT by PERCUT.
  ASSERT_EQ(KLMINIM(""), 0);
  KLSETDCV(kAddcut, 3.0);
  const int64_t not_better = kl::search_stats.integer_solutions_not_better;
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_GT(kl::search_stats.integer_solutions_not_better, not_better);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
  std::vector<double> x(16);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  double z = 0.0;
  for (int j = 0; j < 16; ++j) z += p.cost[static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(j)];
  EXPECT_NEAR(z, knapsack_optimum(p), 1e-6);
  double cutoff = 0.0;
  KLGETDCV(13, &cutoff);
  EXPECT_NEAR(cutoff, knapsack_optimum(p) + 3.0, 1e-6);
}

}  // namespace

namespace {

// KLDELNODE on a stopped search: a pair of children still in the table
// (numbered by the node count at its branching, as the node log shows) can
// lose its first child (any mode but 1) and then be removed (mode 1), after
// which it is unknown; the search then finishes without it.
TEST_F(GlobalSearch, DeleteNodeDropsActiveNodes) {
  const ArrayProblem p = knapsack(22);
  KLSETICV(kIfpres, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);  // a tree large enough to leave active nodes
  KLSETICV(kGprint, 3);
  KLSETICV(kMaxnod, 25);
  ASSERT_EQ(p.load_global(name("del").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  std::vector<int32_t> branched;
  for (const kltest::CapturedLine& line : kltest::captured_lines()) {
    const std::string& t = line.text;
    if (t.size() < 60 || (t.back() != 'L' && t.back() != 'U')) continue;
    branched.push_back(std::atoi(t.c_str()));
  }
  ASSERT_FALSE(branched.empty());
  int32_t deleted = 0;
  for (int32_t node : branched) {
    if (KLDELNODE(node, 0) != 0) continue;
    EXPECT_EQ(KLDELNODE(node, 1), 0);
    EXPECT_EQ(KLDELNODE(node, 1), 32);
    EXPECT_EQ(int_attribute_value(kLastError), 432);
    ++deleted;
  }
  EXPECT_GT(deleted, 0);
  KLSETICV(kMaxnod, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  const int32_t status = int_attribute_value(kMipStatus);
  EXPECT_TRUE(status == 5 || status == 6) << status;
  if (status == 6) {
    EXPECT_GE(double_attribute(kDintsl), knapsack_optimum(p) - 1e-6);
  }
}

}  // namespace

namespace {

int32_t il_calls = 0;
int32_t il_stop_at = 0;
int32_t stop_an_iteration() {
  ++il_calls;
  return il_stop_at > 0 && il_calls == il_stop_at ? 1 : 0;
}

// A node LP stopped in mid-solve (by the iteration log's stop request)
// stops the search with every unfinished node filed; KLGLOBAL finishes it
// at the optimum.
TEST_F(GlobalSearch, NodeStoppedInItsLpIsSolvedOnContinuation) {
  const ArrayProblem p = knapsack(24);
  KLSETICV(kIfpres, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);  // enough node LPs for the stop to fall in one
  KLSETICV(KLIC_ITRLOG, 1);
  KLSETICV(83, 0);  // IQUIET set by the user: the node LPs log
  ASSERT_EQ(p.load_global(name("lpstop").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  il_calls = 0;
  il_stop_at = 40;
  KLDEFINEILENTRY(stop_an_iteration);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLGLOBAL(), 0);
  const int32_t status = int_attribute_value(kMipStatus);
  ASSERT_GE(il_calls, il_stop_at);
  EXPECT_TRUE(status == 3 || status == 4) << status;
  EXPECT_TRUE(kltest::any_line_contains("Global search stopped"));
  il_stop_at = 0;
  ASSERT_EQ(KLGLOBAL(), 0);
  KLDEFINEILENTRY(nullptr);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
}

}  // namespace

namespace {

int32_t delete_at_node = 0;
int32_t delete_mode = 1;
int32_t delete_result = -1;
void delete_current_node(int32_t* discard) {
  *discard = 0;
  if (int_attribute_value(kNodeCount) == delete_at_node) delete_result = KLDELNODE(delete_at_node, delete_mode);
}

// Nodes of a GPRINT 3 log: node count, and the number of the pair it came
// from (the node count of its parent).
struct LoggedNode {
  int32_t count;
  int32_t parent;
};
std::vector<LoggedNode> logged_nodes() {
  std::vector<LoggedNode> nodes;
  for (const kltest::CapturedLine& line : kltest::captured_lines()) {
    const std::string& t = line.text;
    if (t.size() < 60) continue;
    std::istringstream in(t);
    LoggedNode n{0, 0};
    if (in >> n.count >> n.parent) nodes.push_back(n);
  }
  return nodes;
}

// KLDELNODE with the number of the node being processed (its node count, as
// the log shows it) from the UPN entry: with mode 1 that node makes no
// children, and the search finishes without them; with another mode only
// the dive is steered. The number is unknown outside the node loop.
TEST_F(GlobalSearch, DeleteNodeBeingProcessed) {
  const ArrayProblem p = knapsack(22);
  KLSETICV(kIfpres, 0);
  KLSETICV(kGprint, 3);
  ASSERT_EQ(p.load_global(name("delcur").c_str()), 0);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM("g"), 0);
  const auto children_of = [](int32_t node) {
    int32_t children = 0;
    for (const LoggedNode& n : logged_nodes()) children += n.parent == node ? 1 : 0;
    return children;
  };
  // A node of the loop (the root's record is node 1) whose children are
  // solved.
  int32_t target = 0;
  for (const LoggedNode& n : logged_nodes())
    if (target == 0 && n.count > 2 && children_of(n.count) > 0) target = n.count;
  ASSERT_GT(target, 0);

  for (const int32_t mode : {1, 0}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(p.load_global(name("delcur").c_str()), 0);
    delete_at_node = target;
    delete_mode = mode;
    delete_result = -1;
    KLDEFINEUPNENTRY(delete_current_node);
    kltest::captured_lines().clear();
    ASSERT_EQ(KLMINIM("g"), 0);
    KLDEFINEUPNENTRY(nullptr);
    EXPECT_EQ(delete_result, 0);
    if (mode == 1) {
      EXPECT_EQ(children_of(target), 0);
    } else {
      EXPECT_GT(children_of(target), 0);
    }
    const int32_t status = int_attribute_value(kMipStatus);
    EXPECT_TRUE(status == 5 || status == 6) << status;
    if (status == 6) {
      EXPECT_GE(double_attribute(kDintsl), knapsack_optimum(p) - 1e-6);
    }
    if (mode == 0) {
      EXPECT_NEAR(double_attribute(kDintsl), knapsack_optimum(p), 1e-6);
    }
  }
  // Outside the node loop the number names no node being processed.
  EXPECT_EQ(KLDELNODE(target, 1), 32);
}

// The caller's branching object: UBE offers the first fractional column of
// the node as object, and USE makes its branches, the down branch through a
// pool cut x <= floor(v) and the up branch through a bound record
// x >= ceil(v), each attached with KLBRANCHCUT. The entities themselves are
// never branched on, so the search reaches the optimum only if every node
// is solved with its own branch's cuts and bounds, also the nodes taken up
// from the active-node table.
struct UserObjects {
  int32_t columns = 0;
  int32_t offered = 0;
  int32_t branches_set_up = 0;
  bool attach_nothing = false;
  int32_t branch_count = 2;
} user_objects;

double node_value(int32_t j) {
  const int32_t p = kl::col_from_caller(j);
  return kl::real_array(kl::ARR_X)[p] *
         kl::scale_powers[kl::scale_exponent(kl::int_array(kl::ARR_POS_STATUS)[p])];
}

void offer_fractional_column(int32_t* object, int32_t* priority, double* first, double* second, double* value,
                             int32_t* direction, int32_t*, double*, int32_t* branch_count) {
  for (int32_t j = 0; j < user_objects.columns; ++j) {
    const double x = node_value(j);
    if (std::fabs(x - std::round(x)) <= 1e-6) continue;
    *object = j;
    *priority = 1;
    *first = x - std::floor(x);
    *second = std::ceil(x) - x;
    *value = x;
    *direction = j % 2;
    *branch_count = user_objects.branch_count;
    ++user_objects.offered;
    return;
  }
}

void set_up_branch(int32_t branch, int32_t object, int32_t, double value) {
  ++user_objects.branches_set_up;
  if (user_objects.attach_nothing) return;
  int32_t index = -1;
  if (branch == 0) {
    const int32_t type = 5;
    const char sense = 'L';
    const double rhs = std::floor(value);
    const int32_t start[2] = {0, 1};
    const double one = 1.0;
    // No duplicate test: a tighter stored cut is no substitute for a branch.
    ASSERT_EQ(KLSTORECUTS(1, 0, &type, &sense, &rhs, start, &index, &object, &one), 0);
  } else {
    const char letter = 'L';
    const double bound = std::ceil(value);
    ASSERT_EQ(KLSTOREBNDS(1, &object, &letter, &bound, &index), 0);
  }
  ASSERT_EQ(KLBRANCHCUT(1, &index), 0);
}

// Without cuts (most programs then branch) and with the cut rounds at their
// defaults: the cut rows a node's list restores may need more elements
// than the LP holds at that moment.
TEST_F(GlobalSearch, UserBranchObjectsMatchEnumeration) {
  KLDEFINEUBEENTRY(offer_fractional_column);
  KLDEFINEUSEENTRY(set_up_branch);
  int solved = 0, branched = 0;
  for (uint32_t run = 0; run < 160; ++run) {
    const uint32_t seed = run % 80 + 1;
    const bool cuts = run >= 80;
    SCOPED_TRACE("seed " + std::to_string(seed) + (cuts ? " with cuts" : ""));
    const IntegerProgram p = random_program(seed);
    const double best = p.enumerate_minimum();
    KLSETICV(kIfpres, 0);
    KLSETICV(KLIC_NITCOV, cuts ? 20 : 0);  // the pool stays for the caller's cuts
    KLSETICV(KLIC_NITGOM, cuts ? 2 : 0);
    ASSERT_EQ(p.to_array().load_global(name("u").c_str()), 0);
    user_objects = UserObjects{};
    user_objects.columns = p.columns;
    ASSERT_EQ(KLMINIM("g"), 0);
    if (int_attribute_value(1010) == 2 && std::isnan(best)) continue;
    if (std::isnan(best)) {
      EXPECT_EQ(int_attribute_value(kMipStatus), 5);
      continue;
    }
    ASSERT_EQ(int_attribute_value(kMipStatus), 6);
    EXPECT_NEAR(double_attribute(kDintsl), best, 1e-6);
    const std::vector<double> x = solution(p.columns);
    EXPECT_TRUE(p.feasible(x, 1e-6));
    EXPECT_EQ(user_objects.branches_set_up, 2 * user_objects.offered);
    if (user_objects.offered > 1 && !cuts) ++branched;
    ++solved;
  }
  KLDEFINEUBEENTRY(nullptr);
  KLDEFINEUSEENTRY(nullptr);
  EXPECT_GT(solved, 60);
  EXPECT_GT(branched, 10);
}

// A bound record the cut manager attaches at the root with KLBRANCHCUT,
// outside any branching object, binds both children of the root's
// branching and all below them, but not the root itself: a search that
// branches finds the optimum with x0 at its lower bound, one whose root is
// integral the optimum of the whole problem.
bool attach_at_next_call = false;
double attached_upper = 0.0;
int32_t attach_root_bound() {
  if (!attach_at_next_call) return 0;
  attach_at_next_call = false;
  const int32_t column = 0;
  const char letter = 'U';
  int32_t index = -1;
  if (KLSTOREBNDS(1, &column, &letter, &attached_upper, &index) == 0) KLBRANCHCUT(1, &index);
  return 0;
}

TEST_F(GlobalSearch, BoundsAttachedAtTheRootBindItsChildren) {
  KLDEFINECMENTRY(attach_root_bound);
  int branched = 0;
  for (uint32_t seed = 1; seed <= 80; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const IntegerProgram p = random_program(seed);
    IntegerProgram fixed = p;
    fixed.upper[0] = fixed.lower[0];
    const double best = p.enumerate_minimum();
    const double restricted = fixed.enumerate_minimum();
    KLSETICV(kIfpres, 0);
    // No cut rounds, the pool kept: the root must branch for the bound to
    // bind its children.
    KLSETICV(KLIC_NITCOV, 0);
    KLSETICV(KLIC_NITGOM, 0);
    ASSERT_EQ(p.to_array().load_global(name("a").c_str()), 0);
    attach_at_next_call = true;
    attached_upper = p.lower[0];
    ASSERT_EQ(KLMINIM("g"), 0);
    if (int_attribute_value(1010) == 2) continue;  // no relaxation to search
    const bool branches = int_attribute_value(kNodeCount) > 1;
    const double expected = branches ? restricted : best;
    if (std::isnan(expected)) {
      EXPECT_EQ(int_attribute_value(kMipStatus), 5);
      continue;
    }
    ASSERT_EQ(int_attribute_value(kMipStatus), 6);
    EXPECT_NEAR(double_attribute(kDintsl), expected, 1e-6);
    if (branches && restricted != best) ++branched;
  }
  KLDEFINECMENTRY(nullptr);
  EXPECT_GT(branched, 5);
}

// A branch that USE leaves as it was would be its parent again, and an
// object of three branches cannot be filed as a pair of children: either
// stops the search with message 41 instead of searching without end or in
// part.
TEST_F(GlobalSearch, UserBranchObjectsTheSearchCannotTakeStopIt) {
  KLDEFINEUBEENTRY(offer_fractional_column);
  KLDEFINEUSEENTRY(set_up_branch);
  for (const bool three : {false, true}) {
    SCOPED_TRACE(three ? "three branches" : "no attachments");
    bool tried = false;
    for (uint32_t seed = 1; seed <= 40 && !tried; ++seed) {
      const IntegerProgram p = random_program(seed);
      KLSETICV(kIfpres, 0);
      ASSERT_EQ(p.to_array().load_global(name("n").c_str()), 0);
      user_objects = UserObjects{};
      user_objects.columns = p.columns;
      user_objects.attach_nothing = !three;
      user_objects.branch_count = three ? 3 : 2;
      KLMINIM("g");
      if (user_objects.offered == 0) continue;
      tried = true;
      EXPECT_EQ(int_attribute_value(kLastError), 41);
      EXPECT_EQ(user_objects.offered, 1);
      EXPECT_EQ(user_objects.branches_set_up, three ? 0 : 1);
    }
    EXPECT_TRUE(tried);
  }
  KLDEFINEUBEENTRY(nullptr);
  KLDEFINEUSEENTRY(nullptr);
}

}  // namespace
