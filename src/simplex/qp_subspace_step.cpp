#include "simplex/qp_subspace_step.h"

#include <algorithm>
#include <cmath>

#include "factor/basis.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/basic_values.h"
#include "simplex/primal_driver.h"
#include "simplex/simplex_state.h"

namespace kl {

namespace {

// A pivot of the reduced Hessian's Cholesky factor at or below this share
// of its largest diagonal entry: the objective is (nearly) flat over the
// held variables and the Newton step is not to be trusted.
constexpr double kDefiniteShare = 1e-12;
// A step cut below this fraction of the Newton step is not worth making.
constexpr double kShortestFraction = 1e-12;

// FTRAN of the column of position p, by basis position.
std::vector<double> solve_column(int32_t p) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  auto at = [&](int32_t row) { return permuted ? index[row] : row; };
  factor.work_vector_state = WV_CLEAR_ALL;
  for (int32_t i = 1; i <= nrow; ++i) w[i] = 0.0;
  if (p <= nrow) {
    w[at(p)] = 1.0;
  } else {
    OneBased<int32_t> start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    for (int32_t k = start[p]; k < start[p + 1]; ++k) w[at(elem_row[k])] += elem_value[k];
  }
  basis_solve_work_vector();
  std::vector<double> alpha(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t r = 1; r <= nrow; ++r) {
    alpha[static_cast<size_t>(r)] = w[r];
    w[r] = 0.0;
  }
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
  return alpha;
}

// Q p over the quadratic columns (both stored triangles), p over positions.
std::vector<double> quadratic_times(const std::vector<double>& p) {
  std::vector<double> qp(p.size(), 0.0);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> q = real_array(ARR_QUAD_VALUES);
  if (!upper_start || !lower_start || !index || !q) return qp;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((static_cast<uint32_t>(status[j]) & PS_QUADRATIC) == 0) continue;
    double sum = 0.0;
    for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k)
      if (index[k] > 0) sum += q[k] * p[static_cast<size_t>(index[k])];
    for (int32_t k = lower_start[j]; k < lower_start[j + 1]; ++k)
      if (index[k] > 0) sum += q[k] * p[static_cast<size_t>(index[k])];
    qp[static_cast<size_t>(j)] = sum;
  }
  return qp;
}

// Solves h x = b in place of b by Cholesky; false when h is not safely
// positive definite.
bool cholesky_solve(std::vector<std::vector<double>> h, std::vector<double>& b) {
  const size_t n = b.size();
  double largest = 0.0;
  for (size_t i = 0; i < n; ++i) largest = std::max(largest, h[i][i]);
  if (!(largest > 0.0)) return false;
  for (size_t j = 0; j < n; ++j) {
    double d = h[j][j];
    for (size_t k = 0; k < j; ++k) d -= h[j][k] * h[j][k];
    if (!(d > kDefiniteShare * largest)) return false;
    h[j][j] = std::sqrt(d);
    for (size_t i = j + 1; i < n; ++i) {
      double s = h[i][j];
      for (size_t k = 0; k < j; ++k) s -= h[i][k] * h[j][k];
      h[i][j] = s / h[j][j];
    }
  }
  for (size_t i = 0; i < n; ++i) {
    double s = b[i];
    for (size_t k = 0; k < i; ++k) s -= h[i][k] * b[k];
    b[i] = s / h[i][i];
  }
  for (size_t i = n; i-- > 0;) {
    double s = b[i];
    for (size_t k = i + 1; k < n; ++k) s -= h[k][i] * b[k];
    b[i] = s / h[i][i];
  }
  return true;
}

}  // namespace

bool qp_subspace_step(const std::vector<int32_t>& held) {
  const size_t n = held.size();
  if (n == 0) return false;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  for (const int32_t s : held)
    if ((status[s] & (PS_BASIC | PS_NONBASIC_BETWEEN)) != PS_NONBASIC_BETWEEN) return false;

  // The edge directions p_s (+1 on s, -alpha_s on the basic variables) and
  // the reduced Hessian p_t'Q p_s.
  const size_t positions = static_cast<size_t>(nseq) + 1;
  std::vector<std::vector<double>> alphas;
  std::vector<std::vector<double>> edges;
  std::vector<std::vector<double>> curved;
  for (const int32_t s : held) {
    std::vector<double> alpha = solve_column(s);
    std::vector<double> p(positions, 0.0);
    p[static_cast<size_t>(s)] = 1.0;
    for (int32_t r = 1; r <= nrow; ++r) p[static_cast<size_t>(header[r])] -= alpha[static_cast<size_t>(r)];
    curved.push_back(quadratic_times(p));
    edges.push_back(std::move(p));
    alphas.push_back(std::move(alpha));
  }
  std::vector<std::vector<double>> h(n, std::vector<double>(n, 0.0));
  for (size_t t = 0; t < n; ++t)
    for (size_t s = 0; s < n; ++s) {
      double sum = 0.0;
      for (int32_t j = store.first_col; j <= nseq; ++j)
        sum += edges[t][static_cast<size_t>(j)] * curved[s][static_cast<size_t>(j)];
      h[t][s] = sum;
    }
  for (size_t t = 0; t < n; ++t)
    for (size_t s = 0; s < t; ++s) h[t][s] = h[s][t] = 0.5 * (h[t][s] + h[s][t]);
  std::vector<double> step(n);
  for (size_t s = 0; s < n; ++s) step[s] = -d[held[s]];
  if (!cholesky_solve(h, step)) return false;

  // The longest fraction of the step that keeps every moved and every basic
  // variable within its bounds.
  double fraction = 1.0;
  int32_t blocking = 0;
  auto limit = [&](int32_t p, double value, double change) {
    if (change < 0.0 && (status[p] & PS_FINITE_LOWER) != 0) {
      const double room = std::max(value - lower[p], 0.0) / -change;
      if (room < fraction) {
        fraction = room;
        blocking = p;
      }
    } else if (change > 0.0 && (status[p] & PS_FINITE_UPPER) != 0) {
      const double room = std::max(upper[p] - value, 0.0) / change;
      if (room < fraction) {
        fraction = room;
        blocking = p;
      }
    }
  };
  for (size_t s = 0; s < n; ++s) limit(held[s], x[held[s]], step[s]);
  for (int32_t r = 1; r <= nrow; ++r) {
    double change = 0.0;
    for (size_t s = 0; s < n; ++s) change -= step[s] * alphas[s][static_cast<size_t>(r)];
    limit(header[r], values[r], change);
  }
  if (fraction < kShortestFraction) return false;

  for (size_t s = 0; s < n; ++s) {
    const int32_t p = held[s];
    x[p] += fraction * step[s];
    if (p != blocking) continue;
    // A moved variable that meets its bound stays there, at the bound.
    const bool at_upper = step[s] > 0.0;
    x[p] = at_upper ? upper[p] : lower[p];
    const uint32_t side = at_upper ? static_cast<uint32_t>(PS_AT_UPPER) : 0u;
    status[p] = static_cast<int32_t>((static_cast<uint32_t>(status[p]) & ~static_cast<uint32_t>(PS_NONBASIC_BETWEEN | PS_AT_UPPER)) | side);
  }
  compute_basic_values();
  for (int32_t r = 1; r <= nrow; ++r) x[header[r]] = values[r];
  check_basic_feasibility();
  compute_objective_value();
  return true;
}

}  // namespace kl
