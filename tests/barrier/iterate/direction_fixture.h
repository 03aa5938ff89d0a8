// A small classified barrier problem (LP or QP) with a hand-set interior
// iterate, its system diagonal and the real factorisation of K through the
// augmented path, for the direction and corrector tests; and a check of the
// linearised Newton equations computed from the vectors alone.
//
// Columns: 1 free, 2-3 lower-bounded, 4-5 boxed. Rows: 1 boxed slack
// (position 6), 2 lower-bounded slack (7), 3-4 equalities (8, 9).
#ifndef KLSOL_TESTS_BARRIER_ITERATE_DIRECTION_FIXTURE_H
#define KLSOL_TESTS_BARRIER_ITERATE_DIRECTION_FIXTURE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "barrier/factor/augmented_system.h"
#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/iterate/search_direction.h"
#include "support/barrier_solve_paths.h"
#include "support/barrier_system.h"

namespace kltest {

struct DirectionProblem {
  static constexpr int32_t n = 5, m = 4, s_ = n + m;
  double A[m + 1][n + 1] = {{0, 0, 0, 0, 0, 0},
                            {0, 1.0, 2.0, 0.0, 1.0, 0.0},
                            {0, 0.0, 1.0, 1.0, 0.0, 2.0},
                            {0, 1.0, 0.0, 3.0, 1.0, 1.0},
                            {0, 2.0, 1.0, 0.0, 0.0, 1.0}};
  double Q[n + 1][n + 1] = {};  // dense symmetric, zero for the LP
  BarrierSystem sys;
  std::vector<int32_t> ranges = {0, 1, 2, 4, 6, 7, 8, 1, 10, 1, 3, 5, 6, 7, 9, 9, 0};
  std::vector<double> x = {0, 0.5, 1.2, 0.8, 0.6, 1.5, 0.9, 1.3, 0.0, 0.0};
  std::vector<double> z = {0, 0.0, 0.7, 1.1, 0.4, 0.3, 0.5, 0.8, 0.0, 0.0};
  std::vector<double> s = {0, 0, 0, 0, 0.9, 0.5, 1.4, 0, 0, 0};
  std::vector<double> w = {0, 0, 0, 0, 0.6, 0.2, 0.35, 0, 0, 0};
  std::vector<double> upper = {0, 0, 0, 0, 1.55, 1.98, 2.27, 0, 0, 0};
  std::vector<double> y = {0, 0.3, -0.2, 0.5, 0.1};
  std::vector<double> rp = {0, 0.2, -0.1, 0.3, 0.15};
  std::vector<double> rd = {0, 0.05, -0.2, 0.1, 0.3, -0.1, 0.25, -0.15, 0.0, 0.0};
  std::vector<double> ru = std::vector<double>(s_ + 1, 0.0);
  std::vector<double> quad_diag = std::vector<double>(n + 1, 0.0);
  std::vector<int32_t> var_state = std::vector<int32_t>(s_ + 1, 1);
  std::vector<double> diag_copy = std::vector<double>(s_ + 1, 0.0), slack_diag = std::vector<double>(m + 1, 0.0);
  // The factor.
  std::vector<int32_t> order, first, last, send, smark, rank;
  std::vector<double> inverse;
  std::string failure;

  explicit DirectionProblem(bool quadratic) {
    SparseColumns a;
    a.rows_count = m;
    a.cols_count = n;
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t i = 1; i <= m; ++i)
        if (A[i][j] != 0.0) {
          a.rows.push_back(i - 1);
          a.values.push_back(A[i][j]);
        }
      a.starts.push_back(static_cast<int32_t>(a.rows.size()));
    }
    SparseColumns q;
    q.rows_count = q.cols_count = n;
    if (quadratic) {
      const double qd[n + 1] = {0, 2.0, 1.0, 0.5, 1.0, 0.0};
      for (int32_t j = 1; j <= n; ++j) Q[j][j] = quad_diag[j] = qd[j];
      Q[1][2] = Q[2][1] = 0.3;
      Q[2][3] = Q[3][2] = -0.2;
      Q[4][5] = Q[5][4] = 0.1;
      for (int32_t j = 1; j <= n; ++j) {
        for (int32_t i = j + 1; i <= n; ++i)
          if (Q[i][j] != 0.0) {
            q.rows.push_back(i - 1);
            q.values.push_back(Q[i][j]);
          }
        q.starts.push_back(static_cast<int32_t>(q.rows.size()));
      }
    }
    sys = make_barrier_system(a, quadratic ? &q : nullptr, default_factor_space(a));
    for (int32_t j = ranges[3]; j <= ranges[12]; ++j) ru[j] = upper[j] - x[j] - s[j];
    // The iteration's diagonal, as the driver forms it (equality rows
    // regularised, the quadratic diagonal taken off the columns).
    const double mean = complementarity() / pair_count();
    build_barrier_diagonal(sys.params, x.data(), y.data(), s.data(), z.data(), w.data(), ranges.data(),
                           diag_copy.data(), var_state.data(), mean, std::min(std::max(mean, sys.params.TZER), 1.0),
                           1, sys.matrix_start.data(), sys.matrix_end.data(), sys.fi(), sys.fv(),
                           slack_diag.data());
    if (quadratic) {
      for (int32_t j = ranges[1]; j <= ranges[9]; ++j) {
        const double t = std::fabs(sys.params.SCFREE * quad_diag[j]);
        if (std::fabs(diag_copy[j]) > t) diag_copy[j] = -t;
      }
      for (int32_t j = 1; j <= n; ++j) diag_copy[j] -= quad_diag[j];
    }
    factorise();
  }

  double complementarity() const {
    double g = 0.0;
    for (int32_t j = ranges[2]; j <= ranges[13]; ++j) g += x[j] * z[j];
    for (int32_t j = ranges[3]; j <= ranges[12]; ++j) g += s[j] * w[j];
    return g;
  }
  int32_t pair_count() const { return (ranges[13] - ranges[2] + 1) + (ranges[12] - ranges[3] + 1); }

  void factorise() {
    sys.params.SETLAM = 1;
    sys.params.L1_CACHE = 0;
    std::vector<int32_t> node, pstart, pend, dense_mark;
    int32_t status = 0;
    if (run_find_dense_columns(sys, ranges, node, pstart, pend, dense_mark, status) != kl::SYSTEM_AUGMENTED ||
        status != 0) {
      failure = "dense-column analysis";
      return;
    }
    order.assign(s_ + 2, 0);
    first = last = send = smark = rank = order;
    std::vector<int32_t> work(static_cast<size_t>(kl::augmented_work_size(sys.params)) + 1);
    std::vector<double> inverse_diag(diag_copy), yy(m + 1, 0.0), zz(s_ + 1, 0.0);
    inverse.assign(s_ + 1, 0.0);
    int32_t removed_cols = 0, removed_rows = 0, unpivoted = 0;
    int64_t nonzeros = 0, bound = std::numeric_limits<int64_t>::max();
    double flops = 0.0;
    kl::factorise_augmented_system(sys.params, sys.params.free_space + sys.params.matrix_nz + sys.params.quad_nz,
                                   first.data(), last.data(), sys.var_state.data(), sys.matrix_start.data(),
                                   sys.quad_start.data(), sys.fi(), sys.fv(), order.data(), inverse_diag.data(),
                                   inverse.data(), yy.data(), zz.data(), dense_mark.data(), work.data(),
                                   removed_cols, removed_rows, nonzeros, bound, flops, unpivoted, status);
    if (status != 0 || unpivoted != 0) {
      failure = "augmented factorisation";
      return;
    }
    kl::block_supernodes_for_cache(sys.params, first.data(), last.data(), sys.fi(), order.data(), send.data(),
                                   rank.data(), smark.data());
    // What every iteration does: refactorise over the structure.
    std::vector<double> work_diag(diag_copy);
    std::vector<int32_t> lists(2 * s_ + 2), cursor(s_ + 2), scratch(s_ + 2);
    int32_t dropped = 0, removed = 0;
    kl::factor_normal_matrix_with_columns(sys.params, sys.fi(), sys.fv(), first.data(), last.data(), order.data(),
                                          rank.data(), inverse.data(), work_diag.data(), diag_copy.data(),
                                          yy.data(), sys.var_state.data(), lists.data(), cursor.data(),
                                          send.data(), smark.data(), sys.matrix_start.data(),
                                          sys.quad_start.data(), scratch.data(), dropped, removed);
    if (dropped != 0 || removed != 0) failure = "refactorisation dropped a pivot";
    inverse = work_diag;
  }
};

// A direction and the workspace of one call.
struct Direction {
  std::vector<double> dx, dy, dz, dw, q_dx, slack_diag, q_x, push_work;
  explicit Direction(int32_t positions, int32_t rows)
      : dx(positions + 1, 0.0), dy(rows + 1, 0.0), dz(positions + 1, 0.0), dw(positions + 1, 0.0),
        q_dx(positions + 1, 0.0), slack_diag(rows + 1, 0.0), q_x(positions + 1, 0.0),
        push_work(positions + 1, 0.0) {}
};

// The largest violation, relative to the largest term, of each block of the
// linearised Newton equations:
//   dual (columns)  Q dx - A'dy - dz + dw + rd = 0 (free columns with their
//                   regularisation -(diag_copy + Q_jj) dx added)
//   dual (slacks)   dy - dz + dw + rd = 0
//   primal          a dx - dx_slack = rp; equality rows a dx + e dy = rp
//   lower pairs     z dx + x dz = cl
//   upper pairs     w (ru - dx) + s dw = cu
struct NewtonResiduals {
  double dual_columns = 0, dual_slacks = 0, primal = 0, lower_pairs = 0, upper_pairs = 0;
};

inline NewtonResiduals newton_residuals(const DirectionProblem& p, const std::vector<double>& dx,
                                        const std::vector<double>& dy, const std::vector<double>& dz,
                                        const std::vector<double>& dw, const std::vector<double>& rd,
                                        const std::vector<double>& rp, const std::vector<double>& ru,
                                        const std::vector<double>& cl, const std::vector<double>& cu) {
  constexpr int32_t n = DirectionProblem::n, m = DirectionProblem::m;
  const auto& r = p.ranges;
  NewtonResiduals out;
  auto rel = [](double value, double scale) { return std::fabs(value) / std::max(scale, 1e-300); };
  for (int32_t j = 1; j <= n; ++j) {
    double sum = rd[j], scale = std::fabs(rd[j]);
    for (int32_t k = 1; k <= n; ++k) {
      sum += p.Q[j][k] * dx[k];
      scale = std::max(scale, std::fabs(p.Q[j][k] * dx[k]));
    }
    for (int32_t i = 1; i <= m; ++i) {
      sum -= p.A[i][j] * dy[i];
      scale = std::max(scale, std::fabs(p.A[i][j] * dy[i]));
    }
    if (j <= r[9]) {
      const double reg = -(p.diag_copy[j] + p.quad_diag[j]);
      sum += reg * dx[j] - dz[j] - p.z[j];  // dz = -z on free columns
    } else {
      sum += -dz[j] + (j >= r[3] ? dw[j] : 0.0);
      scale = std::max({scale, std::fabs(dz[j]), std::fabs(dw[j])});
    }
    out.dual_columns = std::max(out.dual_columns, rel(sum, scale));
  }
  for (int32_t jp = r[4]; jp <= r[13]; ++jp) {
    const int32_t i = jp - n;
    const double sum = dy[i] - dz[jp] + (jp <= r[12] ? dw[jp] : 0.0) + rd[jp];
    out.dual_slacks = std::max(out.dual_slacks, rel(sum, std::max({std::fabs(dy[i]), std::fabs(dz[jp]),
                                                                   std::fabs(rd[jp])})));
  }
  for (int32_t i = 1; i <= m; ++i) {
    double sum = -rp[i], scale = std::fabs(rp[i]);
    for (int32_t j = 1; j <= n; ++j) {
      sum += p.A[i][j] * dx[j];
      scale = std::max(scale, std::fabs(p.A[i][j] * dx[j]));
    }
    const int32_t jp = n + i;
    sum += jp <= r[13] ? -dx[jp] : p.diag_copy[jp] * dy[i];
    scale = std::max(scale, std::fabs(dx[jp]));
    out.primal = std::max(out.primal, rel(sum, scale));
  }
  for (int32_t j = r[2]; j <= r[13]; ++j) {
    const double a = p.z[j] * dx[j], b = p.x[j] * dz[j];
    out.lower_pairs = std::max(out.lower_pairs, rel(a + b - cl[j], std::max({std::fabs(a), std::fabs(b), std::fabs(cl[j])})));
  }
  for (int32_t j = r[3]; j <= r[12]; ++j) {
    const double a = p.w[j] * (ru[j] - dx[j]), b = p.s[j] * dw[j];
    out.upper_pairs = std::max(out.upper_pairs, rel(a + b - cu[j], std::max({std::fabs(a), std::fabs(b), std::fabs(cu[j])})));
  }
  return out;
}

}  // namespace kltest

#endif
