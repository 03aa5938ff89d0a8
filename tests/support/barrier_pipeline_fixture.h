// A barrier problem handed to solve_barrier_problem as the driver hands it
// over (after its copy-in), and the check of the returned solution in the
// problem's own terms.
#ifndef KLSOL_TESTS_SUPPORT_BARRIER_PIPELINE_FIXTURE_H
#define KLSOL_TESTS_SUPPORT_BARRIER_PIPELINE_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/iterate/iteration_driver.h"
#include "barrier/pipeline.h"
#include "barrier/presolve/presolve_data.h"

namespace kltest::barrier_pipeline {

inline constexpr double kInf = 1e20;

inline bool finite(double v) { return std::fabs(v) < 0.9 * kInf; }

// A problem as the driver hands it over, before its copy-in: columns with
// bounds and entries, rows as activity limits lo <= a_i x <= hi with a
// right-hand side b (the barrier's row reads a_i x - slack_i = b_i, so the
// slack lies in [lo - b, hi - b]), and the quadratic objective as its
// diagonal and below-diagonal entries, all in the problem's own sense.
struct Problem {
  struct Entry {
    int32_t row;  // 1..m
    double value;
  };
  struct QuadEntry {
    int32_t col, other;  // other > col, both 1..n
    double value;
  };
  std::vector<double> cost, col_lower, col_upper;
  std::vector<std::vector<Entry>> columns;
  std::vector<double> row_lo, row_hi, rhs;
  std::vector<double> quad_diag;  // empty: linear
  std::vector<QuadEntry> quad;
  int32_t sense = 1;
  double constant = 0.0;

  int32_t n() const { return static_cast<int32_t>(cost.size()); }
  int32_t m() const { return static_cast<int32_t>(rhs.size()); }
  bool quadratic() const { return !quad_diag.empty(); }

  // (Q x)_j of the full symmetric Q.
  std::vector<double> q_times(const std::vector<double>& x) const {
    std::vector<double> out(static_cast<size_t>(n()) + 1, 0.0);
    if (!quadratic()) return out;
    for (int32_t j = 1; j <= n(); ++j) out[j] += quad_diag[j - 1] * x[j];
    for (const QuadEntry& q : quad) {
      out[q.col] += q.value * x[q.other];
      out[q.other] += q.value * x[q.col];
    }
    return out;
  }
};

// Settings of one solve.
struct Settings {
  int32_t scaling_methods = 0;
  double objnorm = 100.0;
  double rhsnorm = 0.0;
  int32_t presolv = 0;
  int32_t print_word = 0;
};

// The work arrays of one solve, laid out as the driver lays them out.
struct Solve {
  kl::barrier_params params;
  std::vector<double> d[25], factor_value;
  std::vector<int32_t> i[15], factor_index, iterate_work, class_ranges;
  kl::BarrierWorkArrays a;
  kl::BarrierSolveCounters counters;
  int32_t status = -99;
  double objective = -12345.0;
  double constant = 0.0;

  Solve(const Problem& pr, const Settings& st) {
    const int32_t n = pr.n(), m = pr.m(), positions = n + m;
    kl::set_barrier_defaults(params);
    params.scaling_methods = st.scaling_methods;
    params.OBJNORM = st.objnorm;
    params.RHSNORM = st.rhsnorm;
    params.PRESOLV = st.presolv;
    params.print_word = st.print_word;
    params.objective_sense = pr.sense;
    params.col_count = n;
    params.row_count = m;
    params.var_count = positions;
    params.quad_col_count = pr.quadratic() ? n : 0;
    int32_t nz = 0;
    for (const auto& c : pr.columns) nz += static_cast<int32_t>(c.size());
    params.matrix_nz = nz;
    params.quad_nz = static_cast<int32_t>(pr.quad.size());
    params.factor_space = 8 * (nz + params.quad_nz) + 40 * positions + 2000;
    const size_t len = static_cast<size_t>(positions) + 3;
    for (auto& v : d) v.assign(len, 0.0);
    for (auto& v : i) v.assign(len, 0);
    factor_value.assign(static_cast<size_t>(params.factor_space) + 1, 0.0);
    factor_index.assign(static_cast<size_t>(params.factor_space) + 1, 0);
    iterate_work.assign(static_cast<size_t>(kl::iterate_barrier_work_ints(params)) + 1, 0);
    class_ranges.assign(17, 0);
    a = kl::BarrierWorkArrays{d[0].data(),  d[1].data(),  d[2].data(),  d[3].data(),  d[4].data(),
                              d[5].data(),  d[6].data(),  d[7].data(),  d[8].data(),  d[9].data(),
                              d[10].data(), d[11].data(), d[12].data(), d[13].data(), d[14].data(),
                              d[15].data(), d[16].data(), d[17].data(), d[18].data(), d[19].data(),
                              d[20].data(), d[21].data(), d[22].data(), d[23].data(), d[24].data(),
                              factor_value.data(),
                              i[0].data(),  i[1].data(),  i[2].data(),  i[3].data(),  i[4].data(),
                              i[5].data(),  i[6].data(),  i[7].data(),  i[8].data(),  i[9].data(),
                              i[10].data(), i[11].data(), i[12].data(), i[13].data(), i[14].data(),
                              factor_index.data(), iterate_work.data(), class_ranges.data()};
    // The copy-in: costs and the quadratic term times the sense.
    int32_t e = 1;
    for (int32_t j = 1; j <= n; ++j) {
      a.cost[j] = pr.sense * pr.cost[j - 1];
      a.lower[j] = pr.col_lower[j - 1];
      a.upper[j] = pr.col_upper[j - 1];
      a.matrix_start[j] = e;
      for (const auto& en : pr.columns[j - 1]) {
        factor_index[e] = en.row;
        factor_value[e] = en.value;
        ++e;
      }
    }
    a.matrix_start[n + 1] = e;
    for (int32_t r = 1; r <= m; ++r) {
      a.rhs[r] = pr.rhs[r - 1];
      a.lower[n + r] = finite(pr.row_lo[r - 1]) ? pr.row_lo[r - 1] - pr.rhs[r - 1] : -kInf;
      a.upper[n + r] = finite(pr.row_hi[r - 1]) ? pr.row_hi[r - 1] - pr.rhs[r - 1] : kInf;
    }
    if (pr.quadratic()) {
      a.quad_start[1] = e;
      for (int32_t j = 1; j <= n; ++j) {
        a.quad_diag[j] = pr.sense * pr.quad_diag[j - 1];
        for (const auto& q : pr.quad) {
          if (q.col != j) continue;
          factor_index[e] = q.other;
          factor_value[e] = pr.sense * q.value;
          ++e;
        }
        a.quad_start[j + 1] = e;
      }
    }
    constant = pr.sense * pr.constant;
  }

  void run() { kl::solve_barrier_problem(params, a, status, objective, counters, constant, 0.5 * kInf, kInf); }

  std::vector<double> column_values() const {
    std::vector<double> x(static_cast<size_t>(params.col_count) + 1, 0.0);
    for (int32_t j = 1; j <= params.col_count; ++j) x[j] = a.x[j];
    return x;
  }
};

// The solution in the problem's own terms, checked against the problem
// itself: bounds and row limits, the slack values, the reduced costs
// c + Qx - A'y in z, the complementarity gap, and the objective
// c'x + x'Qx/2 + constant against both the known optimum and the reported
// value. Every comparison is relative: tol x (1 + the magnitude it is
// measured against). `each_sign` also asks every reduced cost and row dual
// beyond tol to sit at the bound it presses on (for small problems solved
// tightly; on larger ones the summed gap says the same).
inline void expect_solution(const Problem& pr, const Solve& s, double optimum, double tol, bool each_sign = true) {
  const int32_t n = pr.n(), m = pr.m();
  const std::vector<double> x = s.column_values();
  const std::vector<double> qx = pr.q_times(x);
  std::vector<double> activity(static_cast<size_t>(m) + 1, 0.0);
  double value = pr.constant, gap = 0.0;
  for (int32_t j = 1; j <= n; ++j) {
    value += (pr.cost[j - 1] + 0.5 * qx[j]) * x[j];
    for (const auto& en : pr.columns[j - 1]) activity[en.row] += en.value * x[j];
  }
  const double objective_tol = tol * (1.0 + std::fabs(optimum));
  EXPECT_NEAR(value, optimum, objective_tol) << "recomputed objective";
  EXPECT_NEAR(s.objective, optimum, objective_tol) << "reported objective";
  auto near_bound = [tol](double v, double b) { return finite(b) && std::fabs(v - b) <= tol * (1.0 + std::fabs(b)); };
  for (int32_t j = 1; j <= n; ++j) {
    SCOPED_TRACE("column " + std::to_string(j));
    const double l = pr.col_lower[j - 1], u = pr.col_upper[j - 1];
    if (finite(l)) {
      EXPECT_GE(x[j], l - tol * (1.0 + std::fabs(l)));
    }
    if (finite(u)) {
      EXPECT_LE(x[j], u + tol * (1.0 + std::fabs(u)));
    }
    double d = pr.sense * (pr.cost[j - 1] + qx[j]);
    double size = std::fabs(pr.cost[j - 1]) + std::fabs(qx[j]);
    for (const auto& en : pr.columns[j - 1]) {
      d -= en.value * s.a.y[en.row];
      size += std::fabs(en.value * s.a.y[en.row]);
    }
    EXPECT_NEAR(s.a.z[j], d, tol * (1.0 + size)) << "reduced cost";
    if (l == u) continue;  // a fixed column takes any reduced cost
    if (each_sign && d > tol) {
      EXPECT_TRUE(near_bound(x[j], l)) << "positive reduced cost off its lower bound";
    }
    if (each_sign && d < -tol) {
      EXPECT_TRUE(near_bound(x[j], u)) << "negative reduced cost off its upper bound";
    }
    // Dual infeasibility counts in full, complementarity by the distance.
    const double to_lower = finite(l) ? std::fabs(x[j] - l) : 1.0;
    const double to_upper = finite(u) ? std::fabs(u - x[j]) : 1.0;
    gap += d > 0 ? d * to_lower : -d * to_upper;
  }
  for (int32_t r = 1; r <= m; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    const double lo = pr.row_lo[r - 1], hi = pr.row_hi[r - 1], y = s.a.y[r];
    EXPECT_NEAR(s.a.x[n + r], activity[r] - pr.rhs[r - 1], tol * (1.0 + std::fabs(activity[r]) + std::fabs(pr.rhs[r - 1])))
        << "slack value";
    EXPECT_EQ(s.a.z[n + r], y) << "row dual at the slack position";
    if (finite(lo)) {
      EXPECT_GE(activity[r], lo - tol * (1.0 + std::fabs(lo)));
    }
    if (finite(hi)) {
      EXPECT_LE(activity[r], hi + tol * (1.0 + std::fabs(hi)));
    }
    if (each_sign && y > tol) {
      EXPECT_TRUE(near_bound(activity[r], lo)) << "positive dual off the lower limit";
    }
    if (each_sign && y < -tol) {
      EXPECT_TRUE(near_bound(activity[r], hi)) << "negative dual off the upper limit";
    }
    if (lo == hi) continue;
    const double to_lower = finite(lo) ? std::fabs(activity[r] - lo) : 1.0;
    const double to_upper = finite(hi) ? std::fabs(hi - activity[r]) : 1.0;
    gap += y > 0 ? y * to_lower : -y * to_upper;
  }
  EXPECT_LT(gap, objective_tol) << "complementarity and dual feasibility";
}

// Settings that run the given presolve bits and nothing else of note.
inline Settings with_presolve(int32_t bits) { return Settings{0, 100.0, 0.0, bits, 0}; }

// Solves with and without the presolve bits; both must be optima of the
// original problem with the same objective.
inline void expect_same_optimum(const Problem& pr, int32_t bits, const std::string& name) {
  SCOPED_TRACE(name);
  Solve plain(pr, with_presolve(0));
  plain.run();
  ASSERT_EQ(plain.status, kl::BARRIER_OPTIMAL);
  expect_solution(pr, plain, plain.objective, 1e-6);
  Solve s(pr, with_presolve(bits));
  s.run();
  ASSERT_EQ(s.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(s.status);
  expect_solution(pr, s, plain.objective, 1e-6);
}

// The presolve's first stage and, when asked, its second, called directly
// and prepared as the pipeline prepares them (no scaling in between).
struct DirectStages {
  Solve s;
  int32_t count = 0;
  double constant = 0.0;
  explicit DirectStages(const Problem& pr) : s(pr, with_presolve(0)) {
    kl::barrier_params& p = s.params;
    p.free_space = (p.factor_space - p.matrix_nz - p.quad_nz - 1) / 2 - 1;
    for (int32_t k = 1; k <= p.col_count + p.row_count; ++k) s.a.var_state[k] = 0;
  }
  int32_t first(int32_t bits) {
    kl::PresolveData d = kl::make_presolve_data(s.params, s.a, bits, count, constant, kInf);
    return kl::presolve_barrier_problem(d);
  }
  // Equality rows (slack range zero) get code 0 and their slack folded
  // into the right-hand side, as the pipeline does before the second stage.
  int32_t second(int32_t bits) {
    const int32_t n = s.params.col_count;
    for (int32_t i = 1; i <= s.params.row_count; ++i) {
      const bool equality = s.a.upper[n + i] - s.a.lower[n + i] < 1e-12;
      s.a.slack_bound_code[i] = equality ? 0 : 1;
      if (equality && s.a.var_state[n + i] > -2) s.a.rhs[i] += s.a.lower[n + i];
    }
    for (int32_t j = 1; j <= n; ++j) {
      s.a.col_bound_code[j] = (s.a.upper[j] > 0.9 * kInf && s.a.lower[j] < -0.9 * kInf) ? 0 : 1;
    }
    kl::PresolveData d = kl::make_presolve_data(s.params, s.a, bits, count, constant, kInf);
    return kl::reduce_barrier_problem(d);
  }
};

}  // namespace kltest::barrier_pipeline

#endif
