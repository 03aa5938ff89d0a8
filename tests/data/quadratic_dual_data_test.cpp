// Quadratic programs forced onto the dual simplex (option d, or IALG 2): the
// dual prices linear objectives only, so the call must end at the optimum of
// the quadratic problem, never at that of its linear part. The answer is
// checked as an outsider would: the objective recomputed from the returned
// solution against the published optimum, and every bound and row limit
// against the returned values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/setup.h"
#include "runtime/controls.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using kltest::int_attribute_value;
using kltest::objective_value;

constexpr int32_t kAttrRows = 1001;
constexpr int32_t kAttrLpStatus = 1010;
constexpr int32_t kAttrColumns = 1018;
constexpr int32_t kLpOptimal = 1;
constexpr double kFeasibility = 1e-6;    // relative to the size of the limit
constexpr double kObjectiveAgrees = 1e-6;  // relative, as the published optima

struct Case {
  const char* problem;
  const char* letters;
  int32_t ialg;
};

// Printed by name, so the test list never shows the struct's padding bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.problem << " '" << c.letters << "' IALG " << c.ialg; }

class QuadraticDualData : public kltest::LibrarySessionOf<::testing::TestWithParam<Case>> {
 protected:
  void TearDown() override {
    KLSETICV(KLIC_IALG, 1);
    LibrarySessionOf::TearDown();
  }
  kltest::TempDir dir;
};

TEST_P(QuadraticDualData, EndsAtTheQuadraticOptimum) {
  const Case c = GetParam();
  KLTEST_REQUIRE_DATA(source, std::string("qp/") + c.problem + ".qps");
  const std::map<std::string, double> known = kltest::known_objectives("qp");
  ASSERT_EQ(known.count(c.problem), 1U);
  // Read from a copy: the solution file is written beside the problem.
  std::filesystem::copy_file(source, dir.file(std::string(c.problem) + ".qps"));
  ASSERT_EQ(KLINPUT(dir.file(c.problem).c_str()), 0);
  KLSETICV(KLIC_IALG, c.ialg);
  ASSERT_EQ(KLMINIM(c.letters), 0);
  ASSERT_EQ(int_attribute_value(kAttrLpStatus), kLpOptimal);

  const int32_t nrows = int_attribute_value(kAttrRows);
  const int32_t ncols = int_attribute_value(kAttrColumns);
  const auto rows = static_cast<size_t>(nrows);
  const auto cols = static_cast<size_t>(ncols);
  std::vector<double> x(cols), cost(cols), lower(cols), upper(cols), rhs(rows), range(rows);
  std::string types(rows, ' ');
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(KLGETOBJ(cost.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETBDL(lower.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETBDU(upper.data(), 0, ncols - 1), 0);
  ASSERT_EQ(KLGETROWTYPE(types.data(), 0, nrows - 1), 0);
  ASSERT_EQ(KLGETRHS(rhs.data(), 0, nrows - 1), 0);
  ASSERT_EQ(KLGETRNG(range.data(), 0, nrows - 1), 0);
  int32_t count = 0;
  ASSERT_EQ(KLGETCOLS(nullptr, nullptr, nullptr, 0, &count, 0, ncols - 1), 0);
  std::vector<int32_t> starts(cols + 1), row_of(static_cast<size_t>(std::max(count, 1)));
  std::vector<double> values(row_of.size());
  ASSERT_EQ(KLGETCOLS(starts.data(), row_of.data(), values.data(), count, &count, 0, ncols - 1), 0);

  // Bounds, then the row limits on the activities Ax.
  for (size_t j = 0; j < cols; ++j) {
    EXPECT_GE(x[j], lower[j] - kFeasibility * (1.0 + std::fabs(lower[j]))) << "column " << j;
    EXPECT_LE(x[j], upper[j] + kFeasibility * (1.0 + std::fabs(upper[j]))) << "column " << j;
  }
  std::vector<double> activity(rows, 0.0);
  for (size_t j = 0; j < cols; ++j)
    for (int32_t k = starts[j]; k < starts[j + 1]; ++k)
      activity[static_cast<size_t>(row_of[static_cast<size_t>(k)])] += values[static_cast<size_t>(k)] * x[j];
  for (size_t i = 0; i < rows; ++i) {
    // The limits of the activity; a range row's right-hand side is its
    // upper limit.
    const char t = types[i];
    const double low = t == 'G' || t == 'E' ? rhs[i] : t == 'R' ? rhs[i] - range[i] : -HUGE_VAL;
    const double up = t == 'L' || t == 'E' || t == 'R' ? rhs[i] : HUGE_VAL;
    const double tolerance = kFeasibility * (1.0 + std::fabs(rhs[i]));
    EXPECT_GE(activity[i], low - tolerance) << "row " << i << " " << t;
    EXPECT_LE(activity[i], up + tolerance) << "row " << i << " " << t;
  }

  // c'x + x'Qx / 2 + the constant, from the solution.
  double objective = kl::dcv(kl::kObjectiveConstantSlot);
  for (size_t j = 0; j < cols; ++j) {
    objective += cost[j] * x[j];
    for (size_t k = 0; k < cols; ++k) {
      double q = 0.0;
      ASSERT_EQ(KLGETQOBJ(static_cast<int32_t>(j), static_cast<int32_t>(k), &q), 0);
      objective += 0.5 * q * x[j] * x[k];
    }
  }
  const double published = known.at(c.problem);
  EXPECT_NEAR(objective, published, kObjectiveAgrees * (1.0 + std::fabs(published)));
  EXPECT_NEAR(objective_value(), objective, 1e-9 * (1.0 + std::fabs(objective)));
}

std::vector<Case> cases() {
  std::vector<Case> all;
  for (const char* problem : {"hs21", "hs35", "genhs28", "qafiro"}) {
    all.push_back({problem, "d", 1});
    all.push_back({problem, "", 2});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Qp, QuadraticDualData, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.problem) + (info.param.letters[0] != '\0' ? "_option_d"
                                                                                                    : "_ialg_2");
                         });

}  // namespace
