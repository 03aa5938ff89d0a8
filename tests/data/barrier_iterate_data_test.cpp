// Small Netlib LPs and QPs taken into the barrier's own form by hand (lower
// bounds shifted to 0, upper-only columns flipped, <= rows negated, ranges
// as boxed slacks, the quadratic term's share of the shifts folded into the
// costs) and solved by the iteration driver alone, without scaling or
// presolve: the optimum against objectives.csv, and the returned point and
// duals checked in the problem's own terms (reduced costs with the Qx term).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/iterate/iteration_driver.h"
#include "klsol32.h"
#include "runtime/controls.h"
#include "support/barrier_system.h"
#include "support/data_dir.h"
#include "support/output_capture.h"

namespace {

constexpr double kInfinity = 1e20;

struct LoadedLp {
  int32_t m = 0, n = 0;
  std::vector<int32_t> starts, rows;
  std::vector<double> values, cost, lower, upper, rhs, range;
  std::string types;
  std::vector<std::vector<double>> q;  // full symmetric, empty for a linear problem
  double constant = 0.0;
};

LoadedLp load(const std::string& path) {
  LoadedLp p;
  if (KLINPUT(path.c_str()) != 0) return p;
  KLGETIPV(1001, &p.m);
  KLGETIPV(1018, &p.n);
  p.starts.assign(static_cast<size_t>(p.n) + 1, 0);
  int32_t count = 0;
  KLGETCOLS(p.starts.data(), nullptr, nullptr, 0, &count, 0, p.n - 1);
  p.rows.assign(static_cast<size_t>(count) + 1, 0);
  p.values.assign(static_cast<size_t>(count) + 1, 0.0);
  KLGETCOLS(p.starts.data(), p.rows.data(), p.values.data(), count, &count, 0, p.n - 1);
  p.cost.assign(static_cast<size_t>(p.n), 0.0);
  p.lower = p.upper = p.cost;
  KLGETOBJ(p.cost.data(), 0, p.n - 1);
  KLGETBDL(p.lower.data(), 0, p.n - 1);
  KLGETBDU(p.upper.data(), 0, p.n - 1);
  p.rhs.assign(static_cast<size_t>(p.m), 0.0);
  p.range = p.rhs;
  p.types.assign(static_cast<size_t>(p.m), ' ');
  KLGETRHS(p.rhs.data(), 0, p.m - 1);
  KLGETRNG(p.range.data(), 0, p.m - 1);
  KLGETROWTYPE(p.types.data(), 0, p.m - 1);
  p.constant = kl::dcv(kl::kObjectiveConstantSlot);
  bool any = false;
  std::vector<std::vector<double>> q(static_cast<size_t>(p.n), std::vector<double>(static_cast<size_t>(p.n), 0.0));
  for (int32_t j = 0; j < p.n; ++j) {
    for (int32_t k = 0; k < p.n; ++k) {
      double v = 0.0;
      KLGETQOBJ(j, k, &v);
      q[static_cast<size_t>(j)][static_cast<size_t>(k)] = v;
      any = any || v != 0.0;
    }
  }
  if (any) p.q = q;
  return p;
}

bool finite(double v) { return std::fabs(v) < 0.9 * kInfinity; }

// The limits of a row's activity; a range row's right-hand side is its
// upper limit and its range the width.
void row_limits(char type, double rhs, double range, double& lo, double& hi) {
  lo = type == 'G' || type == 'E' ? rhs : type == 'R' ? rhs - std::fabs(range) : -kInfinity;
  hi = type == 'L' || type == 'E' || type == 'R' ? rhs : kInfinity;
}

struct Case {
  const char* folder;
  const char* name;
};

// The listing names the problem, not the address of its strings, so that it
// is the same from run to run.
void PrintTo(const Case& c, std::ostream* os) { *os << c.folder << "/" << c.name; }

class BarrierIterateNetlib : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
};

TEST_P(BarrierIterateNetlib, ReachesTheKnownOptimum) {
  const std::string folder = GetParam().folder;
  const std::string name = GetParam().name;
  const std::map<std::string, double> known = kltest::known_objectives(folder == "qp" ? "qp" : "");
  if (known.empty() || known.count(name) == 0) GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  const LoadedLp lp = load(kltest::data_file(folder + "/" + name + (folder == "qp" ? ".qps" : ".mps")));
  ASSERT_GT(lp.n, 0);
  const int32_t n = lp.n, m = lp.m;

  // Rows in the barrier's form a x - s = b: G as it is, L negated, E fixed,
  // ranged rows boxed; N rows carry no constraint and are left out.
  std::vector<int32_t> row_map(static_cast<size_t>(m), -1);
  std::vector<double> row_sign(static_cast<size_t>(m), 1.0), b, slack_upper;
  std::vector<int32_t> slack_code;
  for (int32_t i = 0; i < m; ++i) {
    const char t = lp.types[static_cast<size_t>(i)];
    if (t == 'N') continue;
    const double rhs = lp.rhs[static_cast<size_t>(i)];
    const double r = lp.range[static_cast<size_t>(i)];
    double lo = 0.0, hi = 0.0;
    row_limits(t, rhs, r, lo, hi);
    row_map[static_cast<size_t>(i)] = static_cast<int32_t>(b.size());
    if (!finite(lo)) {
      row_sign[static_cast<size_t>(i)] = -1.0;
      b.push_back(-hi);
      slack_code.push_back(1);
      slack_upper.push_back(0.0);
    } else if (lo == hi) {
      b.push_back(lo);
      slack_code.push_back(0);
      slack_upper.push_back(0.0);
    } else {
      b.push_back(lo);
      slack_code.push_back(finite(hi) ? -1 : 1);
      slack_upper.push_back(finite(hi) ? hi - lo : 0.0);
    }
  }
  const int32_t mb = static_cast<int32_t>(b.size());
  // Columns: shift by the lower bound, or flip at the upper bound.
  std::vector<double> col_shift(static_cast<size_t>(n), 0.0), col_sign(static_cast<size_t>(n), 1.0), c, u;
  std::vector<int32_t> col_code;
  double constant = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    const double l = lp.lower[static_cast<size_t>(j)], h = lp.upper[static_cast<size_t>(j)];
    if (finite(l)) {
      col_shift[static_cast<size_t>(j)] = l;
      col_code.push_back(finite(h) ? -1 : 1);
      u.push_back(finite(h) ? h - l : 0.0);
    } else if (finite(h)) {
      col_shift[static_cast<size_t>(j)] = h;
      col_sign[static_cast<size_t>(j)] = -1.0;
      col_code.push_back(1);
      u.push_back(0.0);
    } else {
      col_code.push_back(0);
      u.push_back(0.0);
    }
    constant += lp.cost[static_cast<size_t>(j)] * col_shift[static_cast<size_t>(j)];
  }
  // x = shift + sign x': the quadratic term adds Q shift to the costs.
  for (int32_t j = 0; j < n; ++j) {
    double cj = lp.cost[static_cast<size_t>(j)];
    if (!lp.q.empty()) {
      for (int32_t k = 0; k < n; ++k) {
        const double qjk = lp.q[static_cast<size_t>(j)][static_cast<size_t>(k)];
        cj += qjk * col_shift[static_cast<size_t>(k)];
        constant += 0.5 * col_shift[static_cast<size_t>(j)] * qjk * col_shift[static_cast<size_t>(k)];
      }
    }
    c.push_back(col_sign[static_cast<size_t>(j)] * cj);
  }
  constant += lp.constant;
  kltest::SparseColumns q;
  q.rows_count = n;
  q.cols_count = n;
  if (!lp.q.empty()) {
    for (int32_t j = 0; j < n; ++j) {
      for (int32_t i = j + 1; i < n; ++i) {
        const double v = lp.q[static_cast<size_t>(i)][static_cast<size_t>(j)];
        if (v == 0.0) continue;
        q.rows.push_back(i);
        q.values.push_back(v * col_sign[static_cast<size_t>(i)] * col_sign[static_cast<size_t>(j)]);
      }
      q.starts.push_back(static_cast<int32_t>(q.rows.size()));
    }
  }
  kltest::SparseColumns a;
  a.rows_count = mb;
  a.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = lp.starts[static_cast<size_t>(j)]; k < lp.starts[static_cast<size_t>(j) + 1]; ++k) {
      const int32_t i = lp.rows[static_cast<size_t>(k)];
      const int32_t ib = row_map[static_cast<size_t>(i)];
      if (ib < 0) continue;
      const double v = lp.values[static_cast<size_t>(k)] * row_sign[static_cast<size_t>(i)] * col_sign[static_cast<size_t>(j)];
      b[static_cast<size_t>(ib)] -= lp.values[static_cast<size_t>(k)] * row_sign[static_cast<size_t>(i)] *
                                    col_shift[static_cast<size_t>(j)];
      a.rows.push_back(ib);
      a.values.push_back(v);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  const int32_t nz = static_cast<int32_t>(a.rows.size());
  kltest::BarrierSystem sys = kltest::make_barrier_system(
      a, q.rows.empty() ? nullptr : &q, 8 * nz + 40 * (n + mb) + std::min(4 * (n + mb) * (n + mb), 4000000) + 1000);
  if (!lp.q.empty()) sys.params.quad_col_count = n;
  const size_t n1 = static_cast<size_t>(n + mb) + 3;
  std::vector<double> cost(n1, 0.0), quad_diag(n1, 0.0), rhs(n1, 0.0), upper(n1, 0.0), diag(n1), diag_copy(n1),
      x(n1, 0.0), dx(n1), q_dx(n1), s(n1), z(n1, 0.0), dz(n1), q_x(n1), w(n1), dw(n1), push_work(n1), y(n1, 0.0),
      dy(n1), slack_diag(n1), primal_residual(n1), upper_residual(n1), dual_residual(n1), pivot_inverse(n1);
  std::vector<int32_t> ccode(n1, 0), rcode(n1, 0), first(n1), last(n1), order(n1), rank(n1), ranges(17);
  for (int32_t j = 1; j <= n; ++j) {
    cost[j] = c[static_cast<size_t>(j) - 1];
    ccode[j] = col_code[static_cast<size_t>(j) - 1];
    upper[j] = u[static_cast<size_t>(j) - 1];
    if (!lp.q.empty()) quad_diag[j] = lp.q[static_cast<size_t>(j) - 1][static_cast<size_t>(j) - 1];
  }
  for (int32_t i = 1; i <= mb; ++i) {
    rhs[i] = b[static_cast<size_t>(i) - 1];
    rcode[i] = slack_code[static_cast<size_t>(i) - 1];
    upper[n + i] = slack_upper[static_cast<size_t>(i) - 1];
  }
  std::vector<int32_t> work(static_cast<size_t>(kl::iterate_barrier_work_ints(sys.params)) + 1);
  kl::BarrierIterateArrays arr{cost.data(), quad_diag.data(), rhs.data(), upper.data(), diag.data(), diag_copy.data(),
                               x.data(), dx.data(), q_dx.data(), s.data(), z.data(), dz.data(), q_x.data(), w.data(),
                               dw.data(), push_work.data(), y.data(), dy.data(), slack_diag.data(),
                               primal_residual.data(), upper_residual.data(), dual_residual.data(), sys.fv(),
                               pivot_inverse.data(), ccode.data(), rcode.data(), sys.matrix_start.data(),
                               sys.quad_start.data(), sys.matrix_end.data(), first.data(), last.data(),
                               sys.var_state.data(), order.data(), rank.data(), sys.fi(), ranges.data()};
  int32_t status = -99, iterations = 0, correctors = 0, removed_cols = 0, removed_rows = 0, time = 0;
  int64_t fnz = 0, budget = 0;
  double objective = 0.0, kept_constant = constant;
  const double scale = 1.0;
  kl::iterate_barrier(sys.params, arr, work.data(), status, objective, iterations, correctors, removed_cols,
                      removed_rows, fnz, budget, kept_constant, scale, time);
  ASSERT_EQ(status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(status) << " after " << iterations;

  // Back to the problem's own terms.
  std::vector<double> xo(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) {
    xo[static_cast<size_t>(j)] = col_shift[static_cast<size_t>(j)] + col_sign[static_cast<size_t>(j)] * x[j + 1];
  }
  // c x + x Q x / 2 + the constant, and Q x for the reduced costs.
  std::vector<double> qx(static_cast<size_t>(n), 0.0);
  double value = lp.constant;
  for (int32_t j = 0; j < n; ++j) {
    if (!lp.q.empty()) {
      for (int32_t k = 0; k < n; ++k) {
        qx[static_cast<size_t>(j)] += lp.q[static_cast<size_t>(j)][static_cast<size_t>(k)] * xo[static_cast<size_t>(k)];
      }
    }
    value += (lp.cost[static_cast<size_t>(j)] + 0.5 * qx[static_cast<size_t>(j)]) * xo[static_cast<size_t>(j)];
  }
  const double expected = known.at(name);
  const double rel = 1e-6 * std::max(1.0, std::fabs(expected));
  EXPECT_NEAR(value, expected, rel);
  EXPECT_NEAR(objective, expected, rel);
  // Rows within their bounds, bounds kept, reduced costs of the right sign.
  std::vector<double> activity(static_cast<size_t>(m), 0.0), reduced(lp.cost);
  for (int32_t j = 0; j < n; ++j) reduced[static_cast<size_t>(j)] += qx[static_cast<size_t>(j)];
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = lp.starts[static_cast<size_t>(j)]; k < lp.starts[static_cast<size_t>(j) + 1]; ++k) {
      const int32_t i = lp.rows[static_cast<size_t>(k)];
      activity[static_cast<size_t>(i)] += lp.values[static_cast<size_t>(k)] * xo[static_cast<size_t>(j)];
      const int32_t ib = row_map[static_cast<size_t>(i)];
      if (ib >= 0) {
        reduced[static_cast<size_t>(j)] -= lp.values[static_cast<size_t>(k)] * row_sign[static_cast<size_t>(i)] * y[ib + 1];
      }
    }
  }
  double worst_row = 0.0, worst_dual = 0.0, gap = 0.0;
  for (int32_t j = 0; j < n; ++j) {
    const double d = reduced[static_cast<size_t>(j)];
    const double l = lp.lower[static_cast<size_t>(j)], h = lp.upper[static_cast<size_t>(j)];
    const double v = xo[static_cast<size_t>(j)];
    const double scale_d = 1.0 + std::fabs(lp.cost[static_cast<size_t>(j)]);
    // A reduced cost pushes only against a bound: dual infeasibility where
    // there is none, the complementarity gap where there is one.
    if (d > 0) {
      if (finite(l)) gap += d * std::fabs(v - l); else worst_dual = std::max(worst_dual, d / scale_d);
    }
    if (d < 0) {
      if (finite(h)) gap += -d * std::fabs(h - v); else worst_dual = std::max(worst_dual, -d / scale_d);
    }
    if (finite(l)) worst_row = std::max(worst_row, (l - v) / (1.0 + std::fabs(l)));
    if (finite(h)) worst_row = std::max(worst_row, (v - h) / (1.0 + std::fabs(h)));
  }
  for (int32_t i = 0; i < m; ++i) {
    const char t = lp.types[static_cast<size_t>(i)];
    if (t == 'N') continue;
    const double rhs_i = lp.rhs[static_cast<size_t>(i)], r = lp.range[static_cast<size_t>(i)];
    double lo = 0.0, hi = 0.0;
    row_limits(t, rhs_i, r, lo, hi);
    const double v = activity[static_cast<size_t>(i)];
    if (finite(lo)) worst_row = std::max(worst_row, (lo - v) / (1.0 + std::fabs(lo)));
    if (finite(hi)) worst_row = std::max(worst_row, (v - hi) / (1.0 + std::fabs(hi)));
  }
  EXPECT_LT(worst_row, 1e-6) << "primal infeasibility";
  EXPECT_LT(worst_dual, 1e-6) << "dual infeasibility";
  EXPECT_LT(gap, 1e-6 * (1.0 + std::fabs(expected))) << "complementarity";
}

INSTANTIATE_TEST_SUITE_P(
    Problems, BarrierIterateNetlib,
    ::testing::Values(Case{"netlib", "afiro"}, Case{"netlib", "sc50a"}, Case{"netlib", "sc50b"},
                      Case{"netlib", "adlittle"}, Case{"netlib", "blend"}, Case{"netlib", "share2b"},
                      Case{"netlib", "sc105"}, Case{"netlib", "stocfor1"}, Case{"netlib", "kb2"},
                      Case{"netlib", "scagr7"}, Case{"netlib", "israel"}, Case{"netlib", "boeing2"},
                      Case{"netlib", "e226"}, Case{"qp", "hs21"}, Case{"qp", "hs35"}, Case{"qp", "hs76"},
                      Case{"qp", "hs118"}, Case{"qp", "qafiro"}, Case{"qp", "dual1"},
                      Case{"qp", "cvxqp1_s"}, Case{"qp", "qscagr7"}, Case{"qp", "qadlittl"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
