// A searched problem presolved (IFPRES 1) gives the loaded problem's
// answers: the optimum, solutions feasible for the rows as loaded, the
// loaded entities after the search, and row duals in the loaded rows'
// scale. Each case is solved with presolve off and on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_problem.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using kltest::ArrayProblem;
using kltest::int_attribute_value;

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kDintsl = 2003;
constexpr int32_t kIfpres = 11;

double double_attribute(int32_t n) {
  double v = 0.0;
  KLGETDPV(n, &v);
  return v;
}

class PresolvedSearch : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir;
  std::string name(const std::string& stem) const { return dir.file(stem); }
};

// Row activities of x over a problem given by dense rows.
std::vector<double> activities(const std::vector<std::vector<double>>& rows, const std::vector<double>& x) {
  std::vector<double> a;
  for (const auto& r : rows) {
    double s = 0.0;
    for (std::size_t j = 0; j < x.size(); ++j) s += r[j] * x[j];
    a.push_back(s);
  }
  return a;
}

TEST_F(PresolvedSearch, SameOptimumAndLoadedRowsHold) {
  struct Case {
    const char* what;
    std::function<ArrayProblem()> build;
    std::vector<std::vector<double>> rows;  // to check the solution
    std::vector<char> types;
    std::vector<double> rhs;
    double optimum;
  };
  const Case cases[] = {
      // Flow f1 + f2 = 5 with f2 <= 2 puts f1 >= 3, so only z1's row
      // f1 - 100 z1 <= 0 implies z1 >= 0.03, which integrality lifts to
      // z1 >= 1; the row then looks redundant. The lifted bound must become
      // z1's own, or the row goes and z1 with it.
      {"binary whose only row implies it",
       [] {
         ArrayProblem p;
         p.row('E', 5.0);  // f1 + f2 = 5
         p.row('L', 0.0);  // f1 - 100 z1 <= 0
         p.row('L', 0.0);  // f2 - 100 z2 <= 0
         p.column(1.0, 0.0, 50.0, {{0, 1.0}, {1, 1.0}});
         p.column(1.0, 0.0, 2.0, {{0, 1.0}, {2, 1.0}});
         p.column(10.0, 0.0, 1.0, {{1, -100.0}});
         p.column(10.0, 0.0, 1.0, {{2, -100.0}});
         p.entity('B', 2);
         p.entity('B', 3);
         return p;
       },
       {{1.0, 1.0, 0.0, 0.0}, {1.0, 0.0, -100.0, 0.0}, {0.0, 1.0, 0.0, -100.0}},
       {'E', 'L', 'L'},
       {5.0, 0.0, 0.0},
       15.0},
      // A set of type 1 in an inequality row: its nonzero member may be
      // fractional, so the members are not integer-like.
      {"set of type 1 in an inequality row",
       [] {
         ArrayProblem p;
         p.row('L', 1.0);    // x1 + x2 <= 1
         p.row('G', 0.5);    // x1 >= 0.5
         p.column(1.0, 0.0, 1.0, {{0, 1.0}, {1, 1.0}});
         p.column(1.0, 0.0, 1.0, {{0, 1.0}});
         p.set('1', {{0, 1.0}, {1, 2.0}});
         return p;
       },
       {{1.0, 1.0}, {1.0, 0.0}},
       {'L', 'G'},
       {1.0, 0.5},
       0.5},
      // A zero-cost indicator z with x - 10 z <= 0, x - 2 z >= 0 makes x
      // semi-continuous in {0} or [2, 10]; z comes back from x.
      {"indicator split",
       [] {
         ArrayProblem p;
         p.row('G', 1.0);  // x + y >= 1
         p.row('L', 0.0);  // x - 10 z <= 0
         p.row('G', 0.0);  // x - 2 z >= 0
         p.column(1.0, 0.0, 20.0, {{0, 1.0}, {1, 1.0}, {2, 1.0}});
         p.column(3.0, 0.0, 5.0, {{0, 1.0}});
         p.column(0.0, 0.0, 1.0, {{1, -10.0}, {2, -2.0}});
         p.entity('B', 2);
         return p;
       },
       {{1.0, 1.0, 0.0}, {1.0, 0.0, -10.0}, {1.0, 0.0, -2.0}},
       {'G', 'L', 'G'},
       {1.0, 0.0, 0.0},
       2.0},
      // The same with x >= 1: z = 0 is infeasible, so x lies in [2, 10]
      // and the split, whose range includes 0, must not happen.
      {"indicator over a column with a positive lower bound",
       [] {
         ArrayProblem p;
         p.row('G', 1.0);
         p.row('L', 0.0);
         p.row('G', 0.0);
         p.column(3.0, 1.0, 20.0, {{0, 1.0}, {1, 1.0}, {2, 1.0}});
         p.column(1.0, 0.0, 5.0, {{0, 1.0}});
         p.column(0.0, 0.0, 1.0, {{1, -10.0}, {2, -2.0}});
         p.entity('B', 2);
         return p;
       },
       {{1.0, 1.0, 0.0}, {1.0, 0.0, -10.0}, {1.0, 0.0, -2.0}},
       {'G', 'L', 'G'},
       {1.0, 0.0, 0.0},
       6.0},
      // 0.1 x + 0.1 y <= 0.3 divided by 0.1 keeps x + y <= 3.
      {"divided row keeps its integer limit",
       [] {
         ArrayProblem p;
         p.row('L', 0.3);
         p.column(-1.0, 0.0, 10.0, {{0, 0.1}});
         p.column(-1.0, 0.0, 10.0, {{0, 0.1}});
         p.entity('I', 0);
         p.entity('I', 1);
         return p;
       },
       {{0.1, 0.1}}, {'L'}, {0.3}, -3.0},
  };
  for (const Case& c : cases) {
    for (int32_t ifpres : {0, 1}) {
      SCOPED_TRACE(std::string(c.what) + ", IFPRES " + std::to_string(ifpres));
      KLSETICV(kIfpres, ifpres);
      ASSERT_EQ(c.build().load_global(name("case").c_str()), 0);
      ASSERT_EQ(KLMINIM("g"), 0);
      EXPECT_EQ(int_attribute_value(kMipStatus), 6);
      EXPECT_NEAR(double_attribute(kDintsl), c.optimum, 1e-6);
      std::vector<double> x(c.rows[0].size(), 0.0);
      ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
      const std::vector<double> act = activities(c.rows, x);
      for (std::size_t i = 0; i < act.size(); ++i) {
        if (c.types[i] != 'G') {
          EXPECT_LE(act[i], c.rhs[i] + 1e-6) << "row " << i;
        }
        if (c.types[i] != 'L') {
          EXPECT_GE(act[i], c.rhs[i] - 1e-6) << "row " << i;
        }
      }
    }
  }
}

// After a presolved search KLGETGLOBAL lists the entities as loaded, though
// presolve turned an integer with bounds 0 and 1 into a binary and removed
// a fixed one.
TEST_F(PresolvedSearch, GetGlobalReturnsTheLoadedEntities) {
  ArrayProblem p;
  p.row('L', 7.0);
  p.row('G', 1.0);
  p.column(-1.0, 0.0, 1.0, {{0, 2.0}, {1, 1.0}});
  p.column(-2.0, 0.0, 5.0, {{0, 3.0}});
  p.column(-1.0, 2.0, 2.0, {{0, 1.0}});
  p.column(-1.0, 0.0, 4.0, {{0, 1.0}, {1, 1.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  p.entity('I', 2);
  p.set('1', {{3, 1.0}, {0, 2.0}});
  const auto entities = [] {
    int32_t n = 0, sets = 0;
    EXPECT_EQ(KLGETGLOBAL(&n, &sets, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    std::vector<char> types(static_cast<std::size_t>(n) + 1, ' ');
    std::vector<int32_t> columns(static_cast<std::size_t>(n) + 1, -1);
    std::vector<double> limits(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<char> set_types(static_cast<std::size_t>(sets) + 1, ' ');
    std::vector<int32_t> starts(static_cast<std::size_t>(sets) + 2, 0);
    std::vector<int32_t> members(8, -1);
    std::vector<double> refs(8, 0.0);
    EXPECT_EQ(KLGETGLOBAL(&n, &sets, types.data(), columns.data(), limits.data(), set_types.data(), starts.data(),
                          members.data(), refs.data()),
              0);
    std::string text = std::to_string(n) + " " + std::to_string(sets) + ":";
    for (int32_t k = 0; k < n; ++k) text += std::string(" ") + types[k] + std::to_string(columns[k]);
    for (int32_t s = 0; s < sets; ++s) {
      text += std::string(" S") + set_types[s];
      for (int32_t m = starts[s]; m < starts[s + 1]; ++m) text += " " + std::to_string(members[m]);
    }
    return text;
  };
  KLSETICV(kIfpres, 1);
  ASSERT_EQ(p.load_global(name("entities").c_str()), 0);
  const std::string loaded = entities();
  ASSERT_EQ(KLMINIM("g"), 0);
  EXPECT_EQ(int_attribute_value(kMipStatus), 6);
  EXPECT_EQ(entities(), loaded);
}

// A row of integer columns divided by the common divisor of its
// coefficients answers with the dual of the row as loaded.
TEST_F(PresolvedSearch, DividedRowKeepsItsDual) {
  // min -x - 2y - 1.5z, 2x + 4y + 2z <= 8, x + y + 3z <= 6, x - z >= -1,
  // each row with every column in it so that only the division of the
  // first row by 2 is left to presolve.
  std::vector<std::vector<double>> duals;
  for (int32_t ifpres : {0, 1}) {
    SCOPED_TRACE("IFPRES " + std::to_string(ifpres));
    ArrayProblem p;
    p.row('L', 8.0);
    p.row('L', 6.0);
    p.row('G', -1.0);
    p.column(-1.0, 0.0, 10.0, {{0, 2.0}, {1, 1.0}, {2, 1.0}});
    p.column(-2.0, 0.0, 10.0, {{0, 4.0}, {1, 1.0}, {2, 0.5}});
    p.column(-1.5, 0.0, 10.0, {{0, 2.0}, {1, 3.0}, {2, -1.0}});
    p.entity('I', 0);
    p.entity('I', 1);
    p.entity('I', 2);
    KLSETICV(kIfpres, ifpres);
    ASSERT_EQ(p.load_global(name("duals").c_str()), 0);
    ASSERT_EQ(KLMINIM(""), 0);
    std::vector<double> x(3, 0.0), dual(3, 0.0);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, dual.data(), nullptr), 0);
    duals.push_back(dual);
  }
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(duals[0][i], duals[1][i], 1e-9) << "row " << i;
}

}  // namespace

