// The problems of the shared data folders that the parameterised data tests
// run over. The lists live here, not in a scan of the folders, so that every
// case is registered whether or not the data is present: a missing data set
// shows as skipped cases, never as fewer cases. ProblemLists checks them
// against the folders when the data is there.
#ifndef KLSOL_TESTS_DATA_PROBLEM_LISTS_H
#define KLSOL_TESTS_DATA_PROBLEM_LISTS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kltest {

// netlib/*.mps
inline const std::vector<std::string>& netlib_problems() {
  static const std::vector<std::string> names = {
    "adlittle", "afiro", "agg", "agg2", "agg3", "bandm", "beaconfd", "blend", "bnl1", "boeing2", "bore3d",
    "brandy", "capri", "d6cube", "degen2", "e226", "etamacro", "finnis", "fit1d", "fit1p", "fit2d", "forplan",
    "gfrd-pnc", "greenbeb", "grow15", "grow22", "grow7", "israel", "kb2", "lotfi", "maros", "modszk1",
    "pilot4", "pilotnov", "recipe", "sc105", "sc205", "sc50a", "sc50b", "scagr25", "scagr7", "scfxm1",
    "scfxm2", "scorpion", "scrs8", "scsd1", "scsd6", "scsd8", "sctap1", "sctap2", "seba", "share1b",
    "share2b", "shell", "ship04l", "ship04s", "ship08l", "ship08s", "ship12s", "sierra", "stair", "standata",
    "standgub", "standmps", "stocfor1", "vtpbase",
  };
  return names;
}

// infeas/*.mps
inline const std::vector<std::string>& infeasible_problems() {
  static const std::vector<std::string> names = {
    "bgdbg1", "bgetam", "bgprtr", "box1", "chemcom", "cplex2", "ex72a", "ex73a", "forest6", "galenet",
    "itest2", "itest6", "klein1", "klein2", "mondou2", "pang", "pilot4i", "qual", "reactor", "refinery",
    "vol1", "woodinfe",
  };
  return names;
}

// A test name for a problem: GoogleTest allows letters, digits and '_'.
inline std::string problem_test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

}  // namespace kltest

#endif
