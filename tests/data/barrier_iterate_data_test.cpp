// Small Netlib LPs and QPs taken into the barrier's own form by hand (lower
// bounds shifted to 0, upper-only columns flipped, <= rows negated, ranges
// as boxed slacks, the quadratic term's share of the shifts folded into the
// costs) and solved by the iteration driver alone, without scaling or
// presolve, and through the whole pipeline with and without its presolve:
// the optimum against objectives.csv, and the returned point and duals
// checked in the problem's own terms (reduced costs with the Qx term).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/iterate/iteration_driver.h"
#include "barrier/pipeline.h"
#include "barrier/scaling.h"
#include "klsol32.h"
#include "runtime/controls.h"
#include "support/barrier_system.h"
#include "support/data_dir.h"
#include "support/library_session.h"
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

LoadedLp load(const std::string& path, bool quadratic) {
  LoadedLp p;
  if (path.empty() || KLINPUT(path.c_str()) != 0) return p;
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
  if (!quadratic) return p;
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

struct HandSolve {
  bool loaded = false;
  int32_t status = -99;
  int32_t iterations = 0;
  double objective = 0.0;  // as reported
  double value = 0.0;      // c x + x Q x / 2 + constant of the returned x
  double worst_row = 0.0;  // largest bound or row violation over 1 + |limit|
  double worst_dual = 0.0; // largest reduced cost against no bound over 1 + |c_j|
  double scaled_row = 0.0;  // largest violation over 1 + the largest finite limit
  double scaled_dual = 0.0; // largest such reduced cost over 1 + the largest |c_j|
  double gap = 0.0;        // sum of reduced cost times distance to its bound
  double seconds = 0.0;
};

// How a case reaches the iterations.
enum class Path { kPipeline, kNormalised, kAsLaidOut, kNoCrossover };

struct Case {
  std::string folder;
  std::string name;
  Path path = Path::kPipeline;
  int32_t presolv = 0;  // PRESOLV of the pipeline
};

// The listing names the problem, not the address of its strings, so that it
// is the same from run to run.
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.folder << "/" << c.name;
  if (c.presolv != 0) *os << " PRESOLV " << c.presolv;
}

// The returned point x (by column) and row duals (of a_i x, 0 for free
// rows) measured in the problem's own terms.
void measure(const LoadedLp& lp, const std::vector<double>& xo, const std::vector<double>& row_dual, HandSolve& r) {
  const int32_t n = lp.n, m = lp.m;
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
  r.value = value;
  // Rows within their bounds, bounds kept, reduced costs of the right sign.
  std::vector<double> activity(static_cast<size_t>(m), 0.0), reduced(lp.cost);
  for (int32_t j = 0; j < n; ++j) reduced[static_cast<size_t>(j)] += qx[static_cast<size_t>(j)];
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = lp.starts[static_cast<size_t>(j)]; k < lp.starts[static_cast<size_t>(j) + 1]; ++k) {
      const int32_t i = lp.rows[static_cast<size_t>(k)];
      activity[static_cast<size_t>(i)] += lp.values[static_cast<size_t>(k)] * xo[static_cast<size_t>(j)];
      reduced[static_cast<size_t>(j)] -= lp.values[static_cast<size_t>(k)] * row_dual[static_cast<size_t>(i)];
    }
  }
  double worst_row = 0.0, worst_dual = 0.0, gap = 0.0;
  double row_violation = 0.0, limit_norm = 0.0, dual_violation = 0.0, cost_norm = 0.0;
  const auto violated = [&](double by, double limit) {
    worst_row = std::max(worst_row, by / (1.0 + std::fabs(limit)));
    row_violation = std::max(row_violation, by);
    limit_norm = std::max(limit_norm, std::fabs(limit));
  };
  for (int32_t j = 0; j < n; ++j) {
    const double d = reduced[static_cast<size_t>(j)];
    const double l = lp.lower[static_cast<size_t>(j)], h = lp.upper[static_cast<size_t>(j)];
    const double v = xo[static_cast<size_t>(j)];
    const double scale_d = 1.0 + std::fabs(lp.cost[static_cast<size_t>(j)]);
    // A reduced cost pushes only against a bound: dual infeasibility where
    // there is none, the complementarity gap where there is one.
    if (d > 0) {
      if (finite(l)) gap += d * std::fabs(v - l); else worst_dual = std::max(worst_dual, d / scale_d);
      if (!finite(l)) dual_violation = std::max(dual_violation, d);
    }
    if (d < 0) {
      if (finite(h)) gap += -d * std::fabs(h - v); else worst_dual = std::max(worst_dual, -d / scale_d);
      if (!finite(h)) dual_violation = std::max(dual_violation, -d);
    }
    cost_norm = std::max(cost_norm, std::fabs(lp.cost[static_cast<size_t>(j)]));
    if (finite(l)) violated(l - v, l);
    if (finite(h)) violated(v - h, h);
  }
  for (int32_t i = 0; i < m; ++i) {
    const char t = lp.types[static_cast<size_t>(i)];
    if (t == 'N') continue;
    const double rhs_i = lp.rhs[static_cast<size_t>(i)], r = lp.range[static_cast<size_t>(i)];
    double lo = 0.0, hi = 0.0;
    row_limits(t, rhs_i, r, lo, hi);
    const double v = activity[static_cast<size_t>(i)];
    if (finite(lo)) violated(lo - v, lo);
    if (finite(hi)) violated(v - hi, hi);
  }
  r.worst_row = worst_row;
  r.worst_dual = worst_dual;
  r.scaled_row = row_violation / (1.0 + limit_norm);
  r.scaled_dual = dual_violation / (1.0 + cost_norm);
  r.gap = gap;
}

// Lays the problem out by hand, runs the iterations and measures the
// returned point in the problem's own terms.
HandSolve solve_by_hand(const std::string& folder, const std::string& name, bool normalise) {
  HandSolve r;
  const LoadedLp lp = load(kltest::data_file(folder + "/" + name + (folder == "qp" ? ".qps" : ".mps")), folder == "qp");
  if (lp.n <= 0) return r;
  r.loaded = true;
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
  // KLSOL_BARRIER_LOG=1 prints the iteration log of every problem.
  const char* log = std::getenv("KLSOL_BARRIER_LOG");
  const bool show_log = log != nullptr && log[0] == '1';
  if (show_log) sys.params.print_word = -1;
  kltest::captured_lines().clear();
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
  // As the pipeline prepares it by default: geometric scaling then largest
  // entry, before the shifts (which commute with it: shifted lower bounds
  // stay 0), and the costs normalised to OBJNORM.
  std::vector<double> scale(n1, 1.0), lower(n1, 0.0);
  double obj_factor = 1.0;
  const auto started = std::chrono::steady_clock::now();
  const int32_t matrix_end_entry = sys.matrix_start[static_cast<size_t>(n) + 1] - 1;
  const auto shift_rows = [&](int32_t by) {
    for (int32_t e = 1; e <= matrix_end_entry; ++e) sys.factor_index[static_cast<size_t>(e)] += by;
  };
  if (normalise) {
    shift_rows(-n);
    std::vector<int32_t> counts(n1, 0);
    kl::scale_barrier_problem(sys.params, sys.matrix_start.data(), sys.fi(), sys.fv(), cost.data(), rhs.data(),
                              upper.data(), lower.data(), sys.var_state.data(), scale.data(), upper_residual.data(),
                              kl::SCALING_GEOMETRIC_THEN_LARGEST, 5, dw.data(), push_work.data(), dz.data(),
                              counts.data(), sys.params.SIGNORE, kInfinity);
    if (!lp.q.empty()) {
      kl::scale_barrier_quadratic(sys.params, scale.data(), sys.quad_start.data(), sys.fi(), sys.fv(),
                                  quad_diag.data());
    }
    shift_rows(n);
    kl::normalise_barrier_objective(sys.params, cost.data(), sys.quad_start.data(), quad_diag.data(), sys.fv(),
                                    obj_factor, sys.var_state.data(), sys.params.OBJNORM);
  }
  kl::iterate_barrier(sys.params, arr, work.data(), status, objective, iterations, correctors, removed_cols,
                      removed_rows, fnz, budget, kept_constant, obj_factor, time);
  if (normalise) {
    shift_rows(-n);
    kl::unscale_barrier_problem(sys.params, rhs.data(), upper.data(), lower.data(), cost.data(),
                                sys.matrix_start.data(), sys.fi(), sys.fv(), sys.quad_start.data(), quad_diag.data(),
                                scale.data(), 1.0, obj_factor, 0.9 * kInfinity,
                                kl::BarrierSolutionArrays{x.data(), s.data(), y.data(), z.data()});
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (show_log) {
    for (const auto& line : kltest::captured_lines()) std::printf("%s\n", line.text.c_str());
  }
  r.status = status;
  r.iterations = iterations;
  r.objective = objective;

  // Back to the problem's own terms.
  std::vector<double> xo(static_cast<size_t>(n)), row_dual(static_cast<size_t>(m), 0.0);
  for (int32_t j = 0; j < n; ++j) {
    xo[static_cast<size_t>(j)] = col_shift[static_cast<size_t>(j)] + col_sign[static_cast<size_t>(j)] * x[j + 1];
  }
  for (int32_t i = 0; i < m; ++i) {
    const int32_t ib = row_map[static_cast<size_t>(i)];
    if (ib >= 0) row_dual[static_cast<size_t>(i)] = row_sign[static_cast<size_t>(i)] * y[ib + 1];
  }
  measure(lp, xo, row_dual, r);
  return r;
}

// Through the pipeline with its default controls: the rows as a x - slack
// = 0 with the row limits on the slack, the bounds as they are; the
// pipeline scales, shifts, normalises, iterates, unscales and classifies.
// The regularisation the barrier's entry sets when no crossover follows:
// the default's bits and the bare rows (0x20), without the equality-row
// term of the normal equations (0x4).
constexpr int32_t kRegularizeWithoutCrossover = 59;

HandSolve solve_through_pipeline(const std::string& folder, const std::string& name, bool no_crossover,
                                 int32_t presolv) {
  HandSolve r;
  const LoadedLp lp = load(kltest::data_file(folder + "/" + name + (folder == "qp" ? ".qps" : ".mps")), folder == "qp");
  if (lp.n <= 0) return r;
  r.loaded = true;
  const int32_t n = lp.n, m = lp.m;
  std::vector<int32_t> row_map(static_cast<size_t>(m), -1);
  std::vector<double> row_lo, row_hi;
  for (int32_t i = 0; i < m; ++i) {
    const char t = lp.types[static_cast<size_t>(i)];
    if (t == 'N') continue;
    double lo = 0.0, hi = 0.0;
    row_limits(t, lp.rhs[static_cast<size_t>(i)], lp.range[static_cast<size_t>(i)], lo, hi);
    row_map[static_cast<size_t>(i)] = static_cast<int32_t>(row_lo.size());
    row_lo.push_back(lo);
    row_hi.push_back(hi);
  }
  const int32_t mb = static_cast<int32_t>(row_lo.size());
  const int32_t positions = n + mb;
  kltest::SparseColumns a, q;
  a.rows_count = mb;
  a.cols_count = n;
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t k = lp.starts[static_cast<size_t>(j)]; k < lp.starts[static_cast<size_t>(j) + 1]; ++k) {
      const int32_t ib = row_map[static_cast<size_t>(lp.rows[static_cast<size_t>(k)])];
      if (ib < 0) continue;
      a.rows.push_back(ib);
      a.values.push_back(lp.values[static_cast<size_t>(k)]);
    }
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
  }
  q.rows_count = q.cols_count = n;
  if (!lp.q.empty()) {
    for (int32_t j = 0; j < n; ++j) {
      for (int32_t i = j + 1; i < n; ++i) {
        const double v = lp.q[static_cast<size_t>(i)][static_cast<size_t>(j)];
        if (v == 0.0) continue;
        q.rows.push_back(i);
        q.values.push_back(v);
      }
      q.starts.push_back(static_cast<int32_t>(q.rows.size()));
    }
  }
  const int32_t nz = static_cast<int32_t>(a.rows.size());
  kltest::BarrierSystem sys = kltest::make_barrier_system(
      a, q.rows.empty() ? nullptr : &q,
      8 * nz + 40 * positions + std::min(4 * positions * positions, 4000000) + 1000);
  if (std::getenv("KLSOL_BARRIER_LOG")) sys.params.print_word = -1;
  if (no_crossover) sys.params.REGULARIZE = kRegularizeWithoutCrossover;
  sys.params.PRESOLV = presolv;
  // The pipeline takes row indices 1..m.
  for (int32_t e = 1; e < sys.matrix_start[static_cast<size_t>(n) + 1]; ++e) sys.factor_index[static_cast<size_t>(e)] -= n;
  if (!lp.q.empty()) sys.params.quad_col_count = n;
  const size_t n1 = static_cast<size_t>(positions) + 3;
  std::vector<double> cost(n1, 0.0), rhs(n1, 0.0), lower(n1, 0.0), upper(n1, 0.0), diag(n1), diag_copy(n1), x(n1, 0.0),
      dx(n1), q_dx(n1), s(n1), z(n1, 0.0), dz(n1), q_x(n1), w(n1), dw(n1), push_work(n1), y(n1, 0.0), dy(n1),
      slack_diag(n1), primal_residual(n1), upper_residual(n1), dual_residual(n1), scale(n1), quad_diag(n1, 0.0),
      pivot_inverse(n1);
  std::vector<int32_t> ccode(n1), rcode(n1), first(n1), last(n1), order(n1), rank(n1), work_a(n1), work_b(n1),
      work_c(n1), list(n1), mark(n1), ranges(17);
  for (int32_t j = 1; j <= n; ++j) {
    cost[j] = lp.cost[static_cast<size_t>(j) - 1];
    lower[j] = finite(lp.lower[static_cast<size_t>(j) - 1]) ? lp.lower[static_cast<size_t>(j) - 1] : -kInfinity;
    upper[j] = finite(lp.upper[static_cast<size_t>(j) - 1]) ? lp.upper[static_cast<size_t>(j) - 1] : kInfinity;
    if (!lp.q.empty()) quad_diag[j] = lp.q[static_cast<size_t>(j) - 1][static_cast<size_t>(j) - 1];
  }
  for (int32_t i = 1; i <= mb; ++i) {
    lower[n + i] = finite(row_lo[static_cast<size_t>(i) - 1]) ? row_lo[static_cast<size_t>(i) - 1] : -kInfinity;
    upper[n + i] = finite(row_hi[static_cast<size_t>(i) - 1]) ? row_hi[static_cast<size_t>(i) - 1] : kInfinity;
  }
  std::vector<int32_t> work(static_cast<size_t>(kl::iterate_barrier_work_ints(sys.params)) + 1);
  kl::BarrierWorkArrays w_arrays;
  w_arrays.cost = cost.data();
  w_arrays.rhs = rhs.data();
  w_arrays.lower = lower.data();
  w_arrays.upper = upper.data();
  w_arrays.diag = diag.data();
  w_arrays.diag_copy = diag_copy.data();
  w_arrays.x = x.data();
  w_arrays.dx = dx.data();
  w_arrays.q_dx = q_dx.data();
  w_arrays.s = s.data();
  w_arrays.z = z.data();
  w_arrays.dz = dz.data();
  w_arrays.q_x = q_x.data();
  w_arrays.w = w.data();
  w_arrays.dw = dw.data();
  w_arrays.push_work = push_work.data();
  w_arrays.y = y.data();
  w_arrays.dy = dy.data();
  w_arrays.slack_diag = slack_diag.data();
  w_arrays.primal_residual = primal_residual.data();
  w_arrays.upper_residual = upper_residual.data();
  w_arrays.dual_residual = dual_residual.data();
  w_arrays.scale = scale.data();
  w_arrays.quad_diag = quad_diag.data();
  w_arrays.pivot_inverse = pivot_inverse.data();
  w_arrays.factor_value = sys.fv();
  w_arrays.col_bound_code = ccode.data();
  w_arrays.slack_bound_code = rcode.data();
  w_arrays.matrix_start = sys.matrix_start.data();
  w_arrays.factor_first = first.data();
  w_arrays.factor_last = last.data();
  w_arrays.var_state = sys.var_state.data();
  w_arrays.pivot_order = order.data();
  w_arrays.pivot_rank = rank.data();
  w_arrays.int_work_a = work_a.data();
  w_arrays.int_work_b = work_b.data();
  w_arrays.int_work_c = work_c.data();
  w_arrays.presolve_list = list.data();
  w_arrays.quad_mark = mark.data();
  w_arrays.quad_start = sys.quad_start.data();
  w_arrays.matrix_end = sys.matrix_end.data();
  w_arrays.factor_index = sys.fi();
  w_arrays.iterate_work = work.data();
  w_arrays.class_ranges = ranges.data();
  int32_t status = -99;
  double objective = 0.0, constant = lp.constant;
  kl::BarrierSolveCounters counters;
  const auto started = std::chrono::steady_clock::now();
  kltest::captured_lines().clear();
  kl::solve_barrier_problem(sys.params, w_arrays, status, objective, counters, constant, 0.5 * kInfinity, kInfinity);
  if (std::getenv("KLSOL_BARRIER_LOG")) {
    for (const auto& line : kltest::captured_lines()) std::printf("%s\n", line.text.c_str());
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  r.status = status;
  r.iterations = counters.iteration_count;
  r.objective = objective;
  std::vector<double> xo(static_cast<size_t>(n)), row_dual(static_cast<size_t>(m), 0.0);
  for (int32_t j = 0; j < n; ++j) xo[static_cast<size_t>(j)] = x[j + 1];
  for (int32_t i = 0; i < m; ++i) {
    const int32_t ib = row_map[static_cast<size_t>(i)];
    if (ib >= 0) row_dual[static_cast<size_t>(i)] = y[ib + 1];
  }
  measure(lp, xo, row_dual, r);
  return r;
}

// Cases whose verdict is known to fall short, with the reason; they still
// run and print their line.
std::string open_case(const Case& c) {
  static const std::string accuracy = "the solves lose accuracy near the optimum: ";
  static const std::map<std::string, std::string> open = {
      {"n netlib/greenbeb", accuracy + "the stall window ends with duals 4e-4 off"},
      {"p2047 netlib/maros", "the factorisation fails on the presolved problem (status 6, never a verdict)"},
      {"p2047 infeas/cplex2", "barely infeasible: the presolved run stops unconverged, never optimal"},
      {"p544 infeas/cplex2", "barely infeasible: the presolved run stops unconverged, never optimal"},
  };
  const std::string path = c.path == Path::kPipeline       ? (c.presolv != 0 ? "p" + std::to_string(c.presolv) + " " : "p ")
                           : c.path == Path::kNoCrossover ? "x "
                           : c.path == Path::kNormalised  ? "n "
                                                          : "raw ";
  const auto it = open.find(path + c.folder + "/" + c.name);
  return it == open.end() ? "" : it->second;
}

class BarrierIterateData : public kltest::LibrarySessionOf<::testing::TestWithParam<Case>> {};

// Every problem ends with the right verdict: an optimum of the published
// value whose point is feasible and whose duals are, both recomputed here;
// an infeasible problem never as optimal.
TEST_P(BarrierIterateData, EndsWithTheRightVerdict) {
  const std::string& folder = GetParam().folder;
  const std::string& name = GetParam().name;
  const bool infeasible = folder == "infeas";
  const std::map<std::string, double> known = kltest::known_objectives(folder == "qp" ? "qp" : "");
  if (known.empty() || (!infeasible && known.count(name) == 0))
    GTEST_SKIP() << "objectives.csv not found in " << kltest::data_dir();
  const Path path = GetParam().path;
  const HandSolve r = path == Path::kPipeline || path == Path::kNoCrossover
                          ? solve_through_pipeline(folder, name, path == Path::kNoCrossover, GetParam().presolv)
                                                        : solve_by_hand(folder, name, GetParam().path == Path::kNormalised);
  ASSERT_TRUE(r.loaded) << folder << "/" << name;
  const double expected = infeasible ? 0.0 : known.at(name);
  const double error = std::fabs(r.value - expected) / std::max(1.0, std::fabs(expected));
  const double gap = r.gap / (1.0 + std::fabs(expected));
  std::printf("[ sweep    ] %-3s %-8s %-10s %-10s its %3d  obj err %9.2e  rep err %9.2e  row %9.2e  dual %9.2e  gap %9.2e  %7.2fs  rows %9.2e duals %9.2e\n",
              path == Path::kPipeline ? "p" : path == Path::kNoCrossover ? "x" : path == Path::kNormalised ? "n" : "raw", folder.c_str(), name.c_str(), kl::barrier_status_text(r.status), r.iterations, error,
              std::fabs(r.objective - expected) / std::max(1.0, std::fabs(expected)), r.worst_row, r.worst_dual, gap,
              r.seconds, r.scaled_row, r.scaled_dual);
  // Whatever else is open, an infeasible problem is never optimal.
  if (infeasible) {
    EXPECT_NE(r.status, kl::BARRIER_OPTIMAL) << "after " << r.iterations;
  }
  const std::string open_reason = open_case(GetParam());
  if (!open_reason.empty()) {
    // Known open: printed for the record; the front end's check keeps such
    // an answer from passing for an optimum.
    std::printf("[ open     ] %s/%s: %s\n", folder.c_str(), name.c_str(), open_reason.c_str());
    return;
  }
  if (infeasible) {
    EXPECT_TRUE(r.status == kl::BARRIER_INFEASIBLE || r.status == kl::BARRIER_UNBOUNDED)
        << kl::barrier_status_text(r.status) << " after " << r.iterations;
    return;
  }
  ASSERT_EQ(r.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(r.status) << " after " << r.iterations;
  const double rel = 1e-6 * std::max(1.0, std::fabs(expected));
  EXPECT_NEAR(r.value, expected, rel);
  EXPECT_NEAR(r.objective, expected, rel);
  EXPECT_LT(r.scaled_row, 1e-6) << "primal infeasibility";
  EXPECT_LT(r.scaled_dual, 1e-6) << "dual infeasibility";
  EXPECT_LT(gap, 1e-6) << "complementarity";
}

std::vector<Case> all_cases(Path path, int32_t presolv = 0) {
  std::vector<Case> cases;
  for (const std::string folder : {"netlib", "infeas", "qp"}) {
    for (const std::string& name : kltest::listed_problems(folder)) cases.push_back(Case{folder, name, path, presolv});
  }
  return cases;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  std::string id = info.param.folder + "_" + info.param.name;
  std::replace(id.begin(), id.end(), '-', '_');
  return id;
}

// Every problem of the three folders through the pipeline, the way the
// barrier runs them: without its presolve, and with every presolve bit
// (the record's default), where the verdict is made after the restoration.
INSTANTIATE_TEST_SUITE_P(Pipeline, BarrierIterateData, ::testing::ValuesIn(all_cases(Path::kPipeline)), case_name);
INSTANTIATE_TEST_SUITE_P(PipelinePresolved, BarrierIterateData,
                         ::testing::ValuesIn(all_cases(Path::kPipeline, 2047)), case_name);

// A barely infeasible problem whose presolved run (implied bounds and
// dependent rows alone) reaches crossing objectives within the feasibility
// tolerances, with the gap far from closed.
INSTANTIATE_TEST_SUITE_P(PipelinePresolveBits, BarrierIterateData,
                         ::testing::Values(Case{"infeas", "cplex2", Path::kPipeline, 0x220}), case_name);

// The same with the regularisation of a solve that no crossover follows.
// The equality rows' term on the normal equations (0x4) enters the saved
// diagonal, so refinement converges to the regularised system and the rows
// never close: with it brandy, scfxm2 and greenbeb stop unconverged and
// modszk1, scfxm1 end 1e-4 off in rows.
INSTANTIATE_TEST_SUITE_P(WithoutCrossover, BarrierIterateData, ::testing::ValuesIn(all_cases(Path::kNoCrossover)),
                         case_name);

// The same laid out by hand and prepared as the pipeline does (scaling,
// normalised costs): the iterations alone, whatever the pipeline does.
INSTANTIATE_TEST_SUITE_P(Normalised, BarrierIterateData, ::testing::ValuesIn(all_cases(Path::kNormalised)),
                         case_name);

// A few as laid out, without scaling or normalisation: the iterations must
// not rest on the preparation for a right verdict.
INSTANTIATE_TEST_SUITE_P(
    AsLaidOut, BarrierIterateData,
    ::testing::Values(Case{"netlib", "afiro", Path::kAsLaidOut}, Case{"netlib", "sc50a", Path::kAsLaidOut},
                      Case{"netlib", "adlittle", Path::kAsLaidOut}, Case{"netlib", "blend", Path::kAsLaidOut},
                      Case{"netlib", "share2b", Path::kAsLaidOut}, Case{"netlib", "israel", Path::kAsLaidOut},
                      Case{"netlib", "boeing2", Path::kAsLaidOut}, Case{"netlib", "e226", Path::kAsLaidOut},
                      Case{"netlib", "brandy", Path::kAsLaidOut}, Case{"netlib", "greenbeb", Path::kAsLaidOut},
                      Case{"infeas", "itest6", Path::kAsLaidOut}, Case{"infeas", "galenet", Path::kAsLaidOut},
                      Case{"infeas", "cplex2", Path::kAsLaidOut}, Case{"qp", "genhs28", Path::kAsLaidOut},
                      Case{"qp", "hs21", Path::kAsLaidOut}, Case{"qp", "hs118", Path::kAsLaidOut},
                      Case{"qp", "qafiro", Path::kAsLaidOut}, Case{"qp", "dual1", Path::kAsLaidOut},
                      Case{"qp", "qscagr7", Path::kAsLaidOut}, Case{"qp", "qadlittl", Path::kAsLaidOut}),
    case_name);

}  // namespace
