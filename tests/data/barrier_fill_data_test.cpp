// Fill of the barrier's orderings on the normal-equation patterns A D A' of
// the Netlib problems and on grid Laplacians: every ORDERING gives a valid
// order, and the automatic choice (ORDERING 0) stays within kFillFactor of
// the best ordering on every problem. Prints the table of fills (entries of
// L below the diagonal of the rows' part, without supernode padding).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "barrier/ordering/ordering_driver.h"
#include "support/barrier_system.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/symbolic_reference.h"

namespace {

// The automatic choice may lose at most this factor against the best of the
// orderings on any one problem.
constexpr double kFillFactor = 1.5;
constexpr int32_t kOrderings[] = {-1, 0, 1, 2, 3};

struct FillResult {
  int32_t status = 0;
  int64_t fill = 0;
  double flops = 0.0;
};

// Analyses the normal equations with ever larger factor spaces until the
// lists fit.
FillResult normal_equation_fill(const kltest::SparseColumns& a, int32_t ordering) {
  const int64_t stored = static_cast<int64_t>(a.rows.size());
  int64_t space = 4 * stored + 10 * (static_cast<int64_t>(a.rows_count) + a.cols_count) + 1000;
  for (;;) {
    kltest::AnalysisRun run;
    run.sys = kltest::make_barrier_system(a, nullptr, static_cast<int32_t>(space));
    run.sys.params.ORDERING = ordering;
    run.sys.params.SUPFILL = 0;
    kltest::prepare_analysis(run, kl::SYSTEM_NORMAL_EQUATIONS);
    kltest::run_analysis(run, kl::SYSTEM_NORMAL_EQUATIONS);
    if ((run.status == kl::BARRIER_LISTS_TOO_LONG || run.status == kl::BARRIER_SPACE_SHORT) && space < (1LL << 24)) {
      space *= 2;
      continue;
    }
    FillResult r;
    r.status = run.status;
    if (run.status != 0) return r;
    // The order must be every position once, columns first.
    std::vector<int32_t> order(run.pivot_order.begin() + 1, run.pivot_order.begin() + run.sys.params.pivot_count + 1);
    for (int32_t k = 0; k < a.cols_count; ++k) EXPECT_EQ(order[static_cast<size_t>(k)], k + 1);
    std::sort(order.begin(), order.end());
    for (size_t k = 0; k < order.size(); ++k) EXPECT_EQ(order[k], static_cast<int32_t>(k) + 1);
    r.fill = run.counts.row_nonzeros;
    r.flops = run.counts.factor_flops;
    return r;
  }
}

class BarrierFill : public kltest::LibrarySessionOf<::testing::Test> {};

TEST_F(BarrierFill, AutomaticOrderingStaysNearTheBestOnNetlibAndGrids) {
  KLTEST_REQUIRE_DATA(folder, "netlib");
  struct Problem {
    std::string name;
    kltest::SparseColumns a;
  };
  std::vector<Problem> problems;
  for (int32_t k : {20, 40}) problems.push_back({"grid" + std::to_string(k), kltest::grid_incidence(k)});
  for (const std::string& name : kltest::mps_problems("netlib")) {
    const std::string path = kltest::data_file("netlib/" + name + ".mps");
    if (path.empty()) continue;
    problems.push_back({name, kltest::read_mps_columns(path)});
    EXPECT_GT(problems.back().a.cols_count, 0) << name;
  }
  std::printf("%-10s %6s %6s %9s %12s %12s %12s %12s %12s %7s\n", "problem", "rows", "cols", "nz(A)", "ORDERING -1",
              "0", "1", "2", "3", "0/best");
  for (const Problem& p : problems) {
    if (p.a.cols_count == 0) continue;
    int64_t fills[5] = {};
    for (int32_t t = 0; t < 5; ++t) {
      const FillResult r = normal_equation_fill(p.a, kOrderings[t]);
      EXPECT_EQ(r.status, 0) << p.name << " ORDERING " << kOrderings[t];
      fills[t] = r.fill;
    }
    const int64_t best = std::max<int64_t>(1, *std::min_element(fills + 1, fills + 5));
    const double ratio = static_cast<double>(fills[1]) / static_cast<double>(best);
    std::printf("%-10s %6d %6d %9zu %12lld %12lld %12lld %12lld %12lld %7.3f\n", p.name.c_str(), p.a.rows_count,
                p.a.cols_count, p.a.rows.size(), static_cast<long long>(fills[0]), static_cast<long long>(fills[1]),
                static_cast<long long>(fills[2]), static_cast<long long>(fills[3]), static_cast<long long>(fills[4]),
                ratio);
    EXPECT_LE(ratio, kFillFactor) << p.name;
  }
}

}  // namespace
