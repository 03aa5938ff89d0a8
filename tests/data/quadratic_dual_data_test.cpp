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

#include "data/quadratic_solution_check.h"
#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using kltest::int_attribute_value;

constexpr int32_t kAttrLpStatus = 1010;
constexpr int32_t kLpOptimal = 1;

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

  kltest::expect_quadratic_solution(known.at(c.problem));
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
