// Gomory and clique cuts at the root of each MIPLIB 3 problem, outside the
// node cut round: a single Gomory pass and a clique pass from the LP
// optimum, then five Gomory passes that load their cuts and re-solve. Every
// cut in the pool must hold at the problem's reference optimum (the
// fixture the cut round's data test keeps), each single-pass cut must cut
// off the LP optimum it came from, and the bound never passes the optimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "global/clique_cuts.h"
#include "global/cut_test_support.h"
#include "global/gomory_cuts.h"
#include "global/node_loop.h"
#include "global/row_classes.h"
#include "klsol32.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "runtime/controls.h"
#include "simplex/lp_driver.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;
using namespace kltest;

std::map<std::string, double> reference_values(const std::string& problem, double& objective) {
  std::string here = __FILE__;
  std::ifstream in(here.substr(0, here.find_last_of('/')) + "/fixtures/miplib_reference_solutions.txt");
  std::map<std::string, double> values;
  std::string line, current;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first == "problem") {
      fields >> current;
      if (current == problem) fields >> objective;
    } else if (first == "end") {
      current.clear();
    } else if (current == problem && !first.empty()) {
      double v = 0.0;
      fields >> v;
      values[first] = v;
    }
  }
  return values;
}

// How far the reference point lies beyond a pool cut, relative to the
// cut's largest term.
double relative_excess(const PoolCut& cut, const std::vector<double>& x) {
  double scale = std::max(1.0, std::fabs(cut.rhs));
  for (size_t j = 0; j < x.size(); ++j) scale = std::max(scale, std::fabs(cut.coef[j] * x[j]));
  return cut.excess(x) / scale;
}

class GomoryCliqueData : public LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  TempDir dir_;
};

TEST_P(GomoryCliqueData, RootCutsHoldAtTheReferenceOptimum) {
  KLTEST_REQUIRE_DATA(file, "miplib3/" + GetParam() + ".mps");
  double optimum = 0.0;
  const std::map<std::string, double> values = reference_values(GetParam(), optimum);
  ASSERT_FALSE(values.empty()) << "no reference solution for " << GetParam();
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  int32_t columns = 0;
  KLGETIPV(KLIA_NCOLS, &columns);
  std::vector<double> reference(static_cast<size_t>(columns), 0.0);
  for (const auto& [name, value] : values) {
    int32_t index = -1;
    ASSERT_EQ(KLGETINDEX(2, name.c_str(), &index), 0) << name;
    reference[static_cast<size_t>(index)] = value;
  }
  ASSERT_EQ(KLMINIM("l"), 0);
  ASSERT_EQ(lp_status, 1);
  // What the search start prepares: row classes and the bound copies.
  int32_t error = 0;
  preprocess_mip_rows(error);
  ASSERT_EQ(error, 0);
  set_nonbasic_values();
  std::vector<double> lp_x(static_cast<size_t>(columns), 0.0);
  ASSERT_EQ(KLSOLUTION(lp_x.data(), nullptr, nullptr, nullptr), 0);

  std::vector<int32_t> list(20000, 0);
  int32_t count = 0, round = 0, found = 0, added = 0, removed = 0, outcome = 0;
  generate_gomory_cuts(1, 0, 20000, count, list.data(), 0, 0, round, found, added, removed, outcome);
  const int32_t gomory = count;
  int32_t cliques = 0;
  generate_clique_cuts(cliques, 1, 0x20, 20000, count, list.data());
  for (int32_t n = 0; n < count; ++n) {
    const PoolCut cut = read_pool_cut(list[static_cast<size_t>(n)], columns);
    EXPECT_LE(relative_excess(cut, reference), 1e-6) << (n < gomory ? "Gomory" : "clique") << " cut " << n;
    EXPECT_GT(cut.excess(lp_x), 0.0) << (n < gomory ? "Gomory" : "clique") << " cut " << n;
  }

  // Passes as at the top node, the LP re-solved between them (no search
  // cutoff outside a search).
  lp_driver.search_cutoff = 1e300;
  double lp = 0.0;
  KLGETDPV(KLDA_OBJVAL, &lp);
  int32_t listed = 0;
  round = 0;
  generate_gomory_cuts(0, 0, 0, listed, nullptr, 0, 5, round, found, added, removed, outcome);
  EXPECT_NE(outcome, 1);
  double bound = 0.0;
  KLGETDPV(KLDA_OBJVAL, &bound);
  EXPECT_GE(bound, lp - 1e-6 * std::max(1.0, std::fabs(lp)));
  EXPECT_LE(bound, optimum + 1e-6 * std::max(1.0, std::fabs(optimum)));
  int32_t checked = 0;
  for (int32_t r = 1; r <= icv(ic::MXCPOL); ++r) {
    if (cut_record_field(r, CUT_FIELD_FIRST) < 0) continue;
    ++checked;
    EXPECT_LE(relative_excess(read_pool_cut(r, columns), reference), 1e-6) << "pool record " << r;
  }
  std::printf("%-8s LP %.6f, %d Gomory and %d clique cuts from one pass; %d passes: bound %.6f, %d pool cuts checked\n",
              GetParam().c_str(), lp, gomory, count - gomory, round, bound, checked);
}

INSTANTIATE_TEST_SUITE_P(Miplib3, GomoryCliqueData,
                         ::testing::Values("bell5", "dcmulti", "egout", "enigma", "flugpl", "lseu", "misc03",
                                           "mod008", "p0033", "p0201", "p0282", "p0548", "stein27", "vpm1", "vpm2"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
