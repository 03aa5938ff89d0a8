// The problems of the shared data folders that parameterised data tests
// run over. The lists live here, not in a scan of the folders, so that
// every case is registered whether or not the data is present: a missing
// data set shows as skipped cases, never as fewer cases. The test
// ProblemLists holds them against the folders when the data is there.
#ifndef KLSOL_TESTS_SUPPORT_DATA_PROBLEMS_H
#define KLSOL_TESTS_SUPPORT_DATA_PROBLEMS_H

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kltest {

// The listed problems of a folder of the data set (its *.mps or *.qps files, by
// stem, sorted). A folder without a list is a fault of the test that asks,
// reported when the tests are registered.
inline const std::vector<std::string>& listed_problems(const std::string& folder_name) {
  static const std::map<std::string, std::vector<std::string>> lists = {
      {"netlib",
       {
        "adlittle", "afiro", "agg", "agg2", "agg3", "bandm", "beaconfd", "blend", "bnl1", "boeing2", "bore3d",
        "brandy", "capri", "d6cube", "degen2", "e226", "etamacro", "finnis", "fit1d", "fit1p", "fit2d", "forplan",
        "gfrd-pnc", "greenbeb", "grow15", "grow22", "grow7", "israel", "kb2", "lotfi", "maros", "modszk1",
        "pilot4", "pilotnov", "recipe", "sc105", "sc205", "sc50a", "sc50b", "scagr25", "scagr7", "scfxm1",
        "scfxm2", "scorpion", "scrs8", "scsd1", "scsd6", "scsd8", "sctap1", "sctap2", "seba", "share1b",
        "share2b", "shell", "ship04l", "ship04s", "ship08l", "ship08s", "ship12s", "sierra", "stair", "standata",
        "standgub", "standmps", "stocfor1", "vtpbase",
       }},
      {"infeas",
       {
        "bgdbg1", "bgetam", "bgprtr", "box1", "chemcom", "cplex2", "ex72a", "ex73a", "forest6", "galenet",
        "itest2", "itest6", "klein1", "klein2", "mondou2", "pang", "pilot4i", "qual", "reactor", "refinery",
        "vol1", "woodinfe",
       }},
      {"qp",
       {
        "cvxqp1_s", "dual1", "genhs28", "hs118", "hs21", "hs35", "hs76", "lotschd", "qadlittl", "qafiro",
        "qpcblend", "qptest", "qrecipe", "qsc205", "qscagr7", "qshare1b", "tame", "zecevic2",
       }},
  };
  const auto list = lists.find(folder_name);
  if (list == lists.end()) throw std::invalid_argument("no problem list for the data folder " + folder_name);
  return list->second;
}

}  // namespace kltest

#endif
