#include "simplex/qp_subspace_step.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/basic_values.h"
#include "simplex/kernel.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

// A pivot of the reduced Hessian's Cholesky factor at or below this share
// of its largest diagonal entry: the objective is flat along a combination
// of the held variables (the Hessian is only semidefinite).
constexpr double kFlatShare = 1e-10;
// Held variables beyond this count are left to the single moves: the step
// is dense in them (a cube for the factor, a square of edge products).
constexpr size_t kMostHeld = 400;
// A move whose largest change of a held variable is below this is no move.
constexpr double kShortestMove = 1e-12;

using Matrix = std::vector<std::vector<double>>;

// FTRAN of the column of position p, by basis position.
std::vector<double> solve_column(int32_t p) {
  OneBased<double> w = work_vector();
  // The whole vector is cleared: the duals of the pricing are still in it.
  factor.work_vector_state = WV_CLEAR_ALL;
  unpack_column(p);
  factor.work_vector_state = WV_CLEAR_ALL;
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

// The quadratic columns, numbered compactly: only they carry curvature.
struct QuadraticColumns {
  std::vector<int32_t> position;  // compact number -> position
  std::vector<int32_t> number;    // position -> compact number, or -1

  QuadraticColumns() : number(static_cast<size_t>(nseq) + 1, -1) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      if ((static_cast<uint32_t>(status[j]) & PS_QUADRATIC) == 0) continue;
      number[static_cast<size_t>(j)] = static_cast<int32_t>(position.size());
      position.push_back(j);
    }
  }

  // Q e over the quadratic columns (both stored triangles), in the
  // optimiser's sense as the reduced costs are: a maximisation minimises
  // -(c'x + x'Qx/2).
  std::vector<double> times(const std::vector<double>& e) const {
    OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
    OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
    OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
    OneBased<double> q = real_array(ARR_QUAD_VALUES);
    std::vector<double> qe(e.size(), 0.0);
    if (!upper_start || !lower_start || !index || !q) return qe;
    auto value_at = [&](int32_t p) {
      const int32_t k = p > 0 && p <= nseq ? number[static_cast<size_t>(p)] : -1;
      return k < 0 ? 0.0 : e[static_cast<size_t>(k)];
    };
    for (size_t k = 0; k < position.size(); ++k) {
      const int32_t j = position[k];
      double sum = 0.0;
      for (int32_t n = upper_start[j]; n < upper_start[j + 1]; ++n) sum += q[n] * value_at(index[n]);
      for (int32_t n = lower_start[j]; n < lower_start[j + 1]; ++n) sum += q[n] * value_at(index[n]);
      qe[k] = sense_factor * sum;
    }
    return qe;
  }
};

// Cholesky factor of a positive semidefinite h that passes over the
// variables along which h is flat given the earlier ones: l[j][k] for the
// kept k < j holds, also for a passed-over j, the row of its elimination.
struct SemidefiniteFactor {
  Matrix l;
  std::vector<bool> kept;

  explicit SemidefiniteFactor(const Matrix& h) : l(h.size(), std::vector<double>(h.size(), 0.0)), kept(h.size(), false) {
    const size_t n = h.size();
    double largest = 0.0;
    for (size_t i = 0; i < n; ++i) largest = std::max(largest, h[i][i]);
    for (size_t j = 0; j < n; ++j) {
      for (size_t i = j; i < n; ++i) {
        double s = h[i][j];
        for (size_t k = 0; k < j; ++k)
          if (kept[k]) s -= l[i][k] * l[j][k];
        l[i][j] = s;
      }
      if (!(l[j][j] > kFlatShare * largest)) continue;
      kept[j] = true;
      const double pivot = std::sqrt(l[j][j]);
      l[j][j] = pivot;
      for (size_t i = j + 1; i < n; ++i) l[i][j] /= pivot;
    }
    // Entries below a passed-over pivot are not part of the factor.
    for (size_t j = 0; j < n; ++j)
      if (!kept[j])
        for (size_t i = j; i < n; ++i) l[i][j] = 0.0;
  }

  // Solves l l' v = b over the kept variables, in place; 0 elsewhere.
  void solve(std::vector<double>& b) const { solve_leading(b, b.size()); }

  // The direction of zero curvature through passed-over variable j: 1 on
  // j, and on the kept variables before it what cancels j's curvature.
  std::vector<double> flat_direction(size_t j, const Matrix& h) const {
    std::vector<double> v(kept.size(), 0.0);
    for (size_t i = 0; i < j; ++i) v[i] = -h[i][j];
    solve_leading(v, j);
    v[j] = 1.0;
    return v;
  }

 private:
  // The solve over the leading m variables of b.
  void solve_leading(std::vector<double>& b, size_t m) const {
    for (size_t i = 0; i < m; ++i) {
      if (!kept[i]) {
        b[i] = 0.0;
        continue;
      }
      double s = b[i];
      for (size_t k = 0; k < i; ++k) s -= l[i][k] * b[k];
      b[i] = s / l[i][i];
    }
    for (size_t i = m; i-- > 0;) {
      if (!kept[i]) continue;
      double s = b[i];
      for (size_t k = i + 1; k < m; ++k) s -= l[k][i] * b[k];
      b[i] = s / l[i][i];
    }
  }
};

// Where the move along a direction first meets a bound.
struct Blocking {
  double length = kInfinity;
  int32_t position = 0;  // 0 when nothing blocks
  int32_t row = 0;       // basis position when the blocking variable is basic
  bool at_upper = false;
};

void limit_move(Blocking& block, int32_t p, int32_t row, double value, double change) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  double room = kInfinity;
  bool at_upper = false;
  if (change < 0.0 && (status[p] & PS_FINITE_LOWER) != 0) {
    room = std::max(value - lower[p], 0.0) / -change;
  } else if (change > 0.0 && (status[p] & PS_FINITE_UPPER) != 0) {
    room = std::max(upper[p] - value, 0.0) / change;
    at_upper = true;
  }
  if (room < block.length) block = Blocking{room, p, row, at_upper};
}

}  // namespace

SubspaceOutcome qp_subspace_step() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const double tolerance = dcv(dc::ZTCOST);

  std::vector<int32_t> held;
  bool worth = false;
  for (int32_t p = 1; p <= nseq; ++p) {
    const int32_t s = status[p];
    if ((s & (PS_BASIC | PS_NONBASIC_BETWEEN | PS_FIXED | PS_MARK | PS_SEARCH_FIXED)) != PS_NONBASIC_BETWEEN)
      continue;
    held.push_back(p);
    if (std::fabs(d[p]) >= tolerance) worth = true;
  }
  if (!worth) return SubspaceOutcome::kNone;
  if (held.size() > kMostHeld) {
    ++primal_engine_stats.subspace_too_wide;
    return SubspaceOutcome::kNone;
  }
  const size_t n = held.size();

  // The edges p_s (+1 on s, -alpha_s on the basic variables) over the
  // quadratic columns, and the reduced Hessian p_t'Q p_s.
  const QuadraticColumns quadratic;
  const size_t width = quadratic.position.size();
  Matrix alphas;
  Matrix edges;
  Matrix curved;
  for (const int32_t s : held) {
    std::vector<double> alpha = solve_column(s);
    std::vector<double> e(width, 0.0);
    const int32_t own = quadratic.number[static_cast<size_t>(s)];
    if (own >= 0) e[static_cast<size_t>(own)] = 1.0;
    for (int32_t r = 1; r <= nrow; ++r) {
      const int32_t k = quadratic.number[static_cast<size_t>(header[r])];
      if (k >= 0) e[static_cast<size_t>(k)] -= alpha[static_cast<size_t>(r)];
    }
    curved.push_back(quadratic.times(e));
    edges.push_back(std::move(e));
    alphas.push_back(std::move(alpha));
  }
  Matrix h(n, std::vector<double>(n, 0.0));
  for (size_t t = 0; t < n; ++t)
    for (size_t s = 0; s <= t; ++s) {
      double sum = 0.0;
      for (size_t k = 0; k < width; ++k) sum += edges[t][k] * curved[s][k] + edges[s][k] * curved[t][k];
      h[t][s] = h[s][t] = 0.5 * sum;
    }
  const SemidefiniteFactor factor_h(h);

  // Along a flat direction with a slope the objective falls linearly: move
  // to the first bound. Otherwise the Newton step over the kept variables
  // is a minimiser over all of them.
  std::vector<double> step;
  double longest = 1.0;
  for (size_t j = 0; j < n && step.empty(); ++j) {
    if (factor_h.kept[j]) continue;
    std::vector<double> v = factor_h.flat_direction(j, h);
    double slope = 0.0;
    double size = 0.0;
    for (size_t s = 0; s < n; ++s) {
      slope += d[held[s]] * v[s];
      size = std::max(size, std::fabs(v[s]));
    }
    if (std::fabs(slope) < tolerance * size) continue;
    for (double& value : v) value = slope > 0.0 ? -value : value;
    step = std::move(v);
    longest = kInfinity;
    ++primal_engine_stats.subspace_flat_moves;
  }
  if (step.empty()) {
    step.resize(n);
    for (size_t s = 0; s < n; ++s) step[s] = -d[held[s]];
    factor_h.solve(step);
  }

  Blocking block;
  block.length = longest;
  for (size_t s = 0; s < n; ++s) limit_move(block, held[s], 0, x[held[s]], step[s]);
  for (int32_t r = 1; r <= nrow; ++r) {
    double change = 0.0;
    for (size_t s = 0; s < n; ++s) change -= step[s] * alphas[s][static_cast<size_t>(r)];
    limit_move(block, header[r], r, values[r], change);
  }
  // A flat direction that meets no bound is an unbounded ray: the single
  // moves and their ratio test report it.
  if (block.length >= kInfiniteBound) return SubspaceOutcome::kNone;

  double largest_change = 0.0;
  for (size_t s = 0; s < n; ++s) largest_change = std::max(largest_change, std::fabs(block.length * step[s]));
  const bool moves = largest_change >= kShortestMove;
  if (!moves && block.row == 0) return SubspaceOutcome::kNone;

  if (moves) {
    for (size_t s = 0; s < n; ++s) x[held[s]] += block.length * step[s];
    if (block.position != 0 && block.row == 0) {
      // A held variable that meets its bound stays there, non-basic.
      const int32_t p = block.position;
      x[p] = block.at_upper ? upper[p] : lower[p];
      status[p] &= ~(PS_NONBASIC_BETWEEN | PS_AT_UPPER);
      if (block.at_upper) status[p] |= PS_AT_UPPER;
    }
    compute_basic_values();
    for (int32_t r = 1; r <= nrow; ++r) x[header[r]] = values[r];
    check_basic_feasibility();
    compute_objective_value();
  }
  if (block.row == 0) return block.position == 0 ? SubspaceOutcome::kMinimised : SubspaceOutcome::kMoved;

  // A basic variable stopped at its bound leaves the basis; the held
  // variable with the largest entry in its row takes its place.
  const size_t r = static_cast<size_t>(block.row);
  size_t best = n;
  double best_pivot = dcv(dc::ZTOLPV);
  for (size_t s = 0; s < n; ++s) {
    if ((status[held[s]] & PS_NONBASIC_BETWEEN) == 0) continue;
    const double pivot = std::fabs(alphas[s][r]);
    if (pivot > best_pivot) {
      best_pivot = pivot;
      best = s;
    }
  }
  if (best == n) return moves ? SubspaceOutcome::kMoved : SubspaceOutcome::kNone;
  const int32_t leaving = block.position;
  const int32_t entering = held[best];
  x[leaving] = block.at_upper ? upper[leaving] : lower[leaving];
  status[leaving] &= ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
  if (block.at_upper) status[leaving] |= PS_AT_UPPER;
  status[entering] = (status[entering] & ~(PS_AT_UPPER | PS_NONBASIC_BETWEEN)) | PS_BASIC;
  header[block.row] = entering;
  values[block.row] = x[entering];
  return SubspaceOutcome::kBasisChanged;
}

}  // namespace kl
