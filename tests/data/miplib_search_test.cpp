// The global search proves the optima of MIPLIB 3 problems with the cut
// controls at their defaults, with presolve off (IFPRES 0) and on (IFPRES 1). Every integer solution the search
// records is checked at once in the caller's terms against the problem as
// read before the search: each entity integral within ZTOLIS, each row
// within 1e-6, each bound, and the objective recomputed from the values.
// The search must end finished with a solution (mip_status 6) at the
// published optimum, and the solution the queries read afterwards must be
// that optimum too; bell5, out of reach of the cuts made so far, is held to
// what a search stopped by its time limit may claim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr double kRowTolerance = 1e-6;
constexpr double kObjectiveTolerance = 1e-6;

// The problem as read, in the caller's terms.
struct OriginalProblem {
  int32_t rows = 0, columns = 0;
  std::vector<char> row_type;
  std::vector<double> rhs, range, cost, lower, upper;
  std::vector<int32_t> starts, row_index;
  std::vector<double> values;
  std::vector<char> entity;  // per column: 0, or the entity letter
  std::vector<double> limit;
  double ztolis = 5e-6;

  void read() {
    KLGETIPV(KLIA_NROW, &rows);
    KLGETIPV(KLIA_NCOLS, &columns);
    row_type.assign(static_cast<std::size_t>(rows), ' ');
    rhs.assign(static_cast<std::size_t>(rows), 0.0);
    range.assign(static_cast<std::size_t>(rows), 0.0);
    KLGETROWTYPE(row_type.data(), 0, rows - 1);
    KLGETRHS(rhs.data(), 0, rows - 1);
    KLGETRNG(range.data(), 0, rows - 1);
    cost.assign(static_cast<std::size_t>(columns), 0.0);
    lower.assign(static_cast<std::size_t>(columns), 0.0);
    upper.assign(static_cast<std::size_t>(columns), 0.0);
    KLGETOBJ(cost.data(), 0, columns - 1);
    KLGETBDL(lower.data(), 0, columns - 1);
    KLGETBDU(upper.data(), 0, columns - 1);
    int32_t elements = 0;
    KLGETIPV(KLIA_NELEM, &elements);
    starts.assign(static_cast<std::size_t>(columns) + 1, 0);
    row_index.assign(static_cast<std::size_t>(elements) + 1, 0);
    values.assign(static_cast<std::size_t>(elements) + 1, 0.0);
    int32_t count = 0;
    KLGETCOLS(starts.data(), row_index.data(), values.data(), elements + 1, &count, 0, columns - 1);
    int32_t nentities = 0, nsets = 0;
    KLGETGLOBAL(&nentities, &nsets, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> types(static_cast<std::size_t>(nentities) + 1, ' ');
    std::vector<int32_t> entity_columns(static_cast<std::size_t>(nentities) + 1, 0);
    std::vector<double> limits(static_cast<std::size_t>(nentities) + 1, 0.0);
    KLGETGLOBAL(&nentities, &nsets, types.data(), entity_columns.data(), limits.data(), nullptr, nullptr, nullptr,
                nullptr);
    entity.assign(static_cast<std::size_t>(columns), 0);
    limit.assign(static_cast<std::size_t>(columns), 0.0);
    for (int32_t k = 0; k < nentities; ++k) {
      entity[static_cast<std::size_t>(entity_columns[static_cast<std::size_t>(k)])] = types[static_cast<std::size_t>(k)];
      limit[static_cast<std::size_t>(entity_columns[static_cast<std::size_t>(k)])] = limits[static_cast<std::size_t>(k)];
    }
    KLGETDCV(KLDC_ZTOLIS, &ztolis);
  }

  double objective(const std::vector<double>& x) const {
    double z = 0.0;
    for (int32_t j = 0; j < columns; ++j) z += cost[static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(j)];
    return z;
  }

  // Empty when x is an integer solution of the problem; else what fails.
  std::string check(const std::vector<double>& x) const {
    char text[200];
    for (int32_t j = 0; j < columns; ++j) {
      const double v = x[static_cast<std::size_t>(j)];
      const double l = lower[static_cast<std::size_t>(j)], u = upper[static_cast<std::size_t>(j)];
      const double slack = kRowTolerance * std::max(1.0, std::fabs(v));
      if (v < l - slack || v > u + slack) {
        std::snprintf(text, sizeof text, "column %d = %.12g outside [%g, %g]", j, v, l, u);
        return text;
      }
      const char e = entity[static_cast<std::size_t>(j)];
      if (e == 'I' || e == 'B' || (e == 'P' && v < limit[static_cast<std::size_t>(j)])) {
        if (std::fabs(v - std::round(v)) > ztolis) {
          std::snprintf(text, sizeof text, "entity column %d = %.12g not integral", j, v);
          return text;
        }
      }
    }
    std::vector<double> activity(static_cast<std::size_t>(rows), 0.0);
    for (int32_t j = 0; j < columns; ++j)
      for (int32_t k = starts[static_cast<std::size_t>(j)]; k < starts[static_cast<std::size_t>(j) + 1]; ++k)
        activity[static_cast<std::size_t>(row_index[static_cast<std::size_t>(k)])] +=
            values[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(j)];
    for (int32_t i = 0; i < rows; ++i) {
      const double a = activity[static_cast<std::size_t>(i)], b = rhs[static_cast<std::size_t>(i)];
      const double slack = kRowTolerance * std::max(1.0, std::fabs(b));
      bool ok = true;
      switch (row_type[static_cast<std::size_t>(i)]) {
        case 'L': ok = a <= b + slack; break;
        case 'G': ok = a >= b - slack; break;
        case 'E': ok = std::fabs(a - b) <= slack; break;
        case 'R': ok = a <= b + slack && a >= b - std::fabs(range[static_cast<std::size_t>(i)]) - slack; break;
        default: break;
      }
      if (!ok) {
        std::snprintf(text, sizeof text, "row %d (%c) activity %.12g, rhs %.12g", i, row_type[static_cast<std::size_t>(i)], a, b);
        return text;
      }
    }
    return "";
  }
};

// The problem the integer-solution entry checks against, and what it saw.
const OriginalProblem* checked_problem = nullptr;
int32_t solutions_seen = 0;
std::vector<std::string> solution_faults;

int32_t check_solution_entry() {
  ++solutions_seen;
  std::vector<double> x(static_cast<std::size_t>(checked_problem->columns), 0.0);
  if (KLSOLUTION(x.data(), nullptr, nullptr, nullptr) != 0) {
    solution_faults.push_back("solution query failed");
    return 0;
  }
  const std::string fault = checked_problem->check(x);
  if (!fault.empty()) solution_faults.push_back("solution " + std::to_string(solutions_seen) + ": " + fault);
  double reported = 0.0;
  KLGETDPV(KLDA_DINTSL, &reported);
  const double z = checked_problem->objective(x);
  if (std::fabs(z - reported) > kObjectiveTolerance * std::max(1.0, std::fabs(z)))
    solution_faults.push_back("solution " + std::to_string(solutions_seen) + ": objective " + std::to_string(z) +
                              " recomputed, " + std::to_string(reported) + " reported");
  return 0;
}

const std::vector<std::string>& proven_problems() {
  static const std::vector<std::string> names = {"p0033", "p0201", "p0282", "p0548", "flugpl", "stein27",
                                                 "lseu",  "mod008", "egout", "vpm1",  "misc03", "vpm2",
                                                 "dcmulti", "enigma", "bell5"};
  return names;
}

// Problems whose proof takes far more nodes than a test can spend (bell5's
// bound, after its root cuts, still closes by fractions of a percent per
// hundred thousand nodes): they run under a time limit, and the test holds
// what a stopped search claims: valid solutions, no better than the
// optimum, a bound no worse than it, and no verdict of a finished search
// unless at the optimum.
bool proof_out_of_reach(const std::string& name) { return name == "bell5"; }
constexpr int32_t kUnprovenSeconds = 30;

// One search per problem with presolve off and one with it on (IFPRES 1):
// the presolved search must prove the same optimum, its solutions checked
// in the caller's terms all the same.
struct SearchCase {
  std::string name;
  int32_t ifpres = 0;
};

// The listing names the case by its contents, the same in every run.
void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name << " IFPRES " << c.ifpres; }

class MiplibSearch : public kltest::LibrarySessionOf<::testing::TestWithParam<SearchCase>> {
 protected:
  kltest::TempDir dir_;
};

TEST_P(MiplibSearch, ProvesTheOptimumWithEverySolutionChecked) {
  const std::string name = GetParam().name;
  KLTEST_REQUIRE_DATA(file, "miplib3/" + name + ".mps");
  const auto known = kltest::known_objectives();
  ASSERT_TRUE(known.count(name) == 1) << "no published optimum";
  const double expected = known.at(name);

  KLSETICV(KLIC_IFPRES, GetParam().ifpres);
  KLSETICV(KLIC_GPRINT, -1000);
  const bool limited = proof_out_of_reach(name);
  if (limited) KLSETICV(KLIC_MAXTIM, -kUnprovenSeconds);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file(name).c_str()), 0);
  OriginalProblem problem;
  problem.read();
  checked_problem = &problem;
  solutions_seen = 0;
  solution_faults.clear();
  KLDEFINEUISENTRY(check_solution_entry);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(KLMINIM("g"), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  KLDEFINEUISENTRY(nullptr);
  checked_problem = nullptr;

  int32_t mip_status = 0, nodes = 0, solutions = 0;
  double dintsl = 0.0, bound = 0.0;
  KLGETIPV(KLIA_GLSTATUS, &mip_status);
  KLGETIPV(KLIA_NODES, &nodes);
  KLGETIPV(KLIA_NSOLS, &solutions);
  KLGETDPV(KLDA_DINTSL, &dintsl);
  KLGETDPV(KLDA_BESTBOUND, &bound);
  std::printf("%-8s IFPRES %d mip_status %d objective %.10g bound %.10g nodes %d solutions %d %.2f s\n", name.c_str(), GetParam().ifpres,
              mip_status, dintsl, bound, nodes, solutions, seconds);

  for (const std::string& fault : solution_faults) ADD_FAILURE() << fault;
  EXPECT_EQ(solutions_seen, solutions);
  EXPECT_GE(solutions, 1);
  const double tolerance = kObjectiveTolerance * std::max(1.0, std::fabs(expected));
  if (limited && mip_status != 6) {
    EXPECT_EQ(mip_status, 4);
    EXPECT_GE(dintsl, expected - tolerance);
    EXPECT_LE(bound, expected + tolerance);
    // The solution file holds the incumbent.
    std::vector<double> x(static_cast<std::size_t>(problem.columns), 0.0);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(problem.check(x), "");
    EXPECT_NEAR(problem.objective(x), dintsl, tolerance);
    return;
  }
  EXPECT_EQ(mip_status, 6);
  EXPECT_NEAR(dintsl, expected, tolerance);

  // After the call the queries read the solution file: the best solution.
  std::vector<double> x(static_cast<std::size_t>(problem.columns), 0.0);
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(problem.check(x), "");
  EXPECT_NEAR(problem.objective(x), expected, tolerance);
}

std::vector<SearchCase> search_cases() {
  std::vector<SearchCase> cases;
  for (const int32_t ifpres : {0, 1})
    for (const std::string& name : proven_problems()) cases.push_back({name, ifpres});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Miplib3, MiplibSearch, ::testing::ValuesIn(search_cases()),
                         [](const ::testing::TestParamInfo<SearchCase>& info) {
                           return info.param.name + (info.param.ifpres != 0 ? "_presolved" : "");
                         });

}  // namespace
