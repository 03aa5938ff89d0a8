// Small Netlib LPs and QPs handed to the barrier pipeline as the driver
// hands them over (bounds as they are, rows as slack limits, free rows and
// all), solved with the scaling and the normalisations on, and checked in
// the problem's own terms against objectives.csv.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "runtime/controls.h"
#include "support/barrier_pipeline_fixture.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using kltest::barrier_pipeline::expect_solution;
using kltest::barrier_pipeline::kInf;
using kltest::barrier_pipeline::Problem;
using kltest::barrier_pipeline::Settings;
using kltest::barrier_pipeline::Solve;

struct Case {
  const char* folder;
  const char* name;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.folder << "/" << c.name; }

// The problem as the library holds it, in the fixture's form: a row's
// activity lies within the limits its type and range give, with its
// right-hand side as b.
Problem load(const std::string& path, bool quadratic) {
  Problem p;
  if (KLINPUT(path.c_str()) != 0) return p;
  int32_t m = 0, n = 0;
  KLGETIPV(1001, &m);
  KLGETIPV(1018, &n);
  std::vector<int32_t> starts(static_cast<size_t>(n) + 1, 0);
  int32_t count = 0;
  KLGETCOLS(starts.data(), nullptr, nullptr, 0, &count, 0, n - 1);
  std::vector<int32_t> rows(static_cast<size_t>(count) + 1, 0);
  std::vector<double> values(static_cast<size_t>(count) + 1, 0.0);
  KLGETCOLS(starts.data(), rows.data(), values.data(), count, &count, 0, n - 1);
  p.cost.assign(static_cast<size_t>(n), 0.0);
  p.col_lower = p.col_upper = p.cost;
  KLGETOBJ(p.cost.data(), 0, n - 1);
  KLGETBDL(p.col_lower.data(), 0, n - 1);
  KLGETBDU(p.col_upper.data(), 0, n - 1);
  p.columns.resize(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = starts[static_cast<size_t>(j)]; k < starts[static_cast<size_t>(j) + 1]; ++k) {
      p.columns[static_cast<size_t>(j)].push_back({rows[static_cast<size_t>(k)] + 1, values[static_cast<size_t>(k)]});
    }
  }
  std::vector<double> range(static_cast<size_t>(m), 0.0);
  std::string types(static_cast<size_t>(m), ' ');
  p.rhs.assign(static_cast<size_t>(m), 0.0);
  KLGETRHS(p.rhs.data(), 0, m - 1);
  KLGETRNG(range.data(), 0, m - 1);
  KLGETROWTYPE(types.data(), 0, m - 1);
  for (int32_t i = 0; i < m; ++i) {
    const char t = types[static_cast<size_t>(i)];
    const double b = p.rhs[static_cast<size_t>(i)], r = std::fabs(range[static_cast<size_t>(i)]);
    p.row_lo.push_back(t == 'G' || t == 'E' ? b : t == 'R' ? b - r : -kInf);
    p.row_hi.push_back(t == 'L' || t == 'E' || t == 'R' ? b : kInf);
  }
  p.constant = kl::dcv(kl::kObjectiveConstantSlot);
  if (quadratic) {
    p.quad_diag.assign(static_cast<size_t>(n), 0.0);
    for (int32_t j = 0; j < n; ++j) {
      KLGETQOBJ(j, j, &p.quad_diag[static_cast<size_t>(j)]);
      for (int32_t c = j + 1; c < n; ++c) {
        double v = 0.0;
        KLGETQOBJ(c, j, &v);
        if (v != 0.0) p.quad.push_back({j + 1, c + 1, v});
      }
    }
  }
  return p;
}

class BarrierPipelineNetlib : public kltest::LibrarySessionOf<::testing::TestWithParam<Case>> {};

TEST_P(BarrierPipelineNetlib, ScaledAndNormalisedSolveReachesTheKnownOptimum) {
  const std::string folder = GetParam().folder;
  const std::string name = GetParam().name;
  const bool quadratic = folder == "qp";
  const std::map<std::string, double> known = kltest::known_objectives(quadratic ? "qp" : "");
  if (known.empty() || known.count(name) == 0) GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  const Problem pr = load(kltest::data_file(folder + "/" + name + (quadratic ? ".qps" : ".mps")), quadratic);
  ASSERT_GT(pr.n(), 0);
  struct Variant {
    const char* name;
    Settings settings;
  };
  const Variant variants[] = {
      {"geometric scaling, objective normalised", {2, 100.0, 0.0, 0, 0}},
      {"least squares after presolve, both normalised", {256 * 3, 100.0, 10.0, 0, 0}},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    Settings st = v.settings;
    if (quadratic) st.presolv = 354;
    Solve s(pr, st);
    if (quadratic) {
      // As the driver sets them for a quadratic problem without crossover.
      s.params.TOPT1 *= 10.0;
      s.params.REGULARIZE = 63;
    }
    s.run();
    ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status) << " after "
                                             << s.counters.iteration_count;
    expect_solution(pr, s, known.at(name), 1e-6, false);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Problems, BarrierPipelineNetlib,
    ::testing::Values(Case{"netlib", "afiro"}, Case{"netlib", "sc50a"}, Case{"netlib", "adlittle"},
                      Case{"netlib", "blend"}, Case{"netlib", "share2b"}, Case{"netlib", "stocfor1"},
                      Case{"netlib", "kb2"}, Case{"netlib", "scagr7"}, Case{"netlib", "israel"},
                      Case{"netlib", "boeing2"}, Case{"netlib", "e226"}, Case{"qp", "hs21"}, Case{"qp", "hs35"},
                      Case{"qp", "hs76"}, Case{"qp", "hs118"}, Case{"qp", "qafiro"}, Case{"qp", "dual1"},
                      Case{"qp", "cvxqp1_s"}, Case{"qp", "qscagr7"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
