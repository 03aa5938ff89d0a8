// The barrier's two ways through one linear system K x = b, end to end, for
// tests: the normal equations (dense-column analysis, ordering and symbolic
// analysis, cache blocking, the pull factorisation, the solve with
// refinement and the in-place backward sweep) and the augmented system
// (dense-column analysis choosing it, the augmented factorisation with its
// held-back dense columns, cache blocking, the same solves).
//
// K = [ -D  A' ; A  R ] over the positions (columns 1..n, rows n+1..n+m),
// with D > 0 on the columns and R >= 0 on the rows.
#ifndef KLSOL_TESTS_SUPPORT_BARRIER_SOLVE_PATHS_H
#define KLSOL_TESTS_SUPPORT_BARRIER_SOLVE_PATHS_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "barrier/factor/augmented_system.h"
#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/iterate/dense_columns.h"
#include "barrier/iterate/factor_solves.h"
#include "barrier/iterate/refinement.h"
#include "barrier/ordering/ordering_driver.h"
#include "support/barrier_system.h"

namespace kltest {

struct SolvePathSettings {
  int32_t free_columns = 0;  // columns 1..free_columns are free (class order)
  int32_t l2_cache_kb = 512;
  int32_t supdens = 350;     // the augmented path holds back columns this long
  int32_t dense_length = 0;  // > 0: the augmented path's dense columns by the length rule (longer than this),
                             // else by the cost rule
  int32_t maxref = 5;
  int32_t ordering = 0;
  int64_t factor_space = 0;  // 0: sized from the problem
  bool refactorise = false;  // augmented path: solve with a with-columns refactorisation of its structure
};

struct SolvePathResult {
  std::string failure;        // empty when the path ran through
  int32_t system_kind = 0;    // as find_dense_columns chose it
  int32_t pivot_count = 0;
  int32_t in_place_count = 0;
  int32_t mode = 0;
  int32_t deferred_columns = 0;  // columns the augmented path held back
  int32_t deferred_pivoted = 0;  // of them, those that got a pivot
  int32_t blocks = 0;            // ranks in cache blocks
  std::vector<double> x;         // by position
};

inline int32_t default_factor_space(const SparseColumns& a) {
  const int64_t s = static_cast<int64_t>(a.cols_count) + a.rows_count;
  const int64_t nz = static_cast<int64_t>(a.rows.size());
  return static_cast<int32_t>(std::min<int64_t>(20 * nz + 40 * s + std::min<int64_t>(s * s, 40000000) + 1000,
                                                std::numeric_limits<int32_t>::max() / 2));
}

// The dense-column analysis on a laid-out system; kind out.
inline int32_t run_find_dense_columns(BarrierSystem& sys, const std::vector<int32_t>& cr, std::vector<int32_t>& node,
                                      std::vector<int32_t>& pstart, std::vector<int32_t>& pend,
                                      std::vector<int32_t>& dense_mark, int32_t& status) {
  const int32_t n = sys.n(), m = sys.m();
  std::vector<int32_t> qrc(n + 2), hist(std::max(m, 1) + 1), rmark(n + m + 1), queue(n + 1);
  node.assign(n + 1, 0);
  pstart.assign(n + 1, 0);
  pend.assign(n + 1, 0);
  dense_mark.assign(n + m + 1, 0);
  int32_t kind = 0;
  kl::find_dense_columns(sys.params, sys.matrix_start.data(), sys.matrix_end.data(), sys.fi(), cr.data(),
                         sys.quad_start.data(), qrc.data(), hist.data(), node.data(), pstart.data(), pend.data(),
                         rmark.data(), queue.data(), kind, dense_mark.data(), status);
  return kind;
}

// The solve with refinement and the in-place backward sweep, on a factor
// whose inverses by rank are in `inverse`.
inline void solve_through_factor(BarrierSystem& sys, const std::vector<int32_t>& cr, const std::vector<double>& diag,
                                 const std::vector<int32_t>& order, const std::vector<int32_t>& first,
                                 const std::vector<int32_t>& last, const std::vector<int32_t>& send,
                                 const std::vector<int32_t>& smark, const std::vector<double>& inverse,
                                 const std::vector<double>& b, SolvePathResult& out) {
  const int32_t s = sys.n() + sys.m();
  std::vector<double> v = b, reduced(s + 1), residual(s + 1), upper_residual(s + 1), zero(s + 1, 0.0);
  // Fixed targets that cannot be met: refinement runs until MAXREF or until
  // the residual stops falling.
  double primal = 0.0, dual = 0.0, primal_target = -1e-300, dual_target = -1e-300;
  int32_t mode = kl::REFINE_NEAR_TARGETS, steps = 0;
  kl::solve_with_refinement(sys.params, inverse.data(), diag.data(), order.data(), sys.fi(), sys.fv(),
                            sys.matrix_start.data(), first.data(), last.data(), sys.matrix_end.data(), v.data(),
                            reduced.data(), residual.data(), upper_residual.data(), zero.data(), zero.data(),
                            zero.data(), cr.data(), send.data(), smark.data(), sys.quad_start.data(), primal, dual,
                            primal_target, dual_target, mode, steps);
  kl::solve_backward_supernodal(sys.params, 1, sys.params.in_place_count, first.data(), sys.fi(), order.data(),
                                last.data(), send.data(), sys.fv(), inverse.data(), v.data(), residual.data());
  out.mode = mode;
  out.x = v;
}

inline int32_t ranks_in_blocks(const std::vector<int32_t>& send, int32_t count) {
  int32_t in_blocks = 0;
  for (int32_t k = 1; k <= count; ++k) in_blocks += send[k] != 0;
  return in_blocks;
}

// (a) The normal equations.
inline SolvePathResult solve_by_normal_equations(const SparseColumns& a, const std::vector<double>& diag,
                                                 const std::vector<double>& b, const SolvePathSettings& set) {
  SolvePathResult out;
  BarrierSystem sys = make_barrier_system(a, nullptr, set.factor_space ? static_cast<int32_t>(set.factor_space)
                                                                       : default_factor_space(a));
  const int32_t n = sys.n(), m = sys.m(), s = n + m;
  sys.params.L2_CACHE = set.l2_cache_kb;
  sys.params.L1_CACHE = 0;
  sys.params.PUSHFACT = 0;  // the pull form
  sys.params.MAXREF = set.maxref;
  sys.params.ORDERING = set.ordering;
  // The length rule with a threshold of all rows: no column is dense, so the
  // normal equations are chosen and every column keeps its whole pattern.
  sys.params.SETLAM = -1;
  sys.params.LAM = 1.0;
  const std::vector<int32_t> cr = plain_class_ranges(n, m, set.free_columns);
  std::vector<int32_t> node, pstart, pend, dense_mark;
  int32_t status = 0;
  out.system_kind = run_find_dense_columns(sys, cr, node, pstart, pend, dense_mark, status);
  if (status != 0 || out.system_kind != kl::SYSTEM_NORMAL_EQUATIONS) {
    out.failure = "dense-column analysis: status " + std::to_string(status) + " kind " +
                  std::to_string(out.system_kind);
    return out;
  }
  std::vector<int32_t> work(static_cast<size_t>(kl::analysis_work_ints(sys.params)) + 1);
  std::vector<double> value_work(static_cast<size_t>(kl::analysis_value_work_doubles(sys.params)) + 1);
  std::vector<int32_t> order(s + 2), rank(s + 2), first(s + 2), last(s + 2), send(s + 2), smark(s + 2);
  kl::symbolic_counts counts;
  kl::analyse_normal_equations(sys.params, kl::SYSTEM_NORMAL_EQUATIONS, sys.var_state.data(),
                               sys.matrix_start.data(), sys.matrix_end.data(), pstart.data(), pend.data(),
                               node.data(), sys.quad_start.data(), sys.fi(), sys.fv(), work.data(),
                               value_work.data(), sys.params.TFIND, order.data(), rank.data(), first.data(),
                               last.data(), counts, status);
  if (status != 0) {
    out.failure = "analysis: status " + std::to_string(status);
    return out;
  }
  kl::block_supernodes_for_cache(sys.params, first.data(), last.data(), sys.fi(), order.data(), send.data(),
                                 rank.data(), smark.data());
  std::vector<double> inverse(s + 1), work_diag(diag), y(m + 1, 0.0);
  std::vector<int32_t> lists(2 * s + 2), cursor(s + 2);
  int32_t dropped = 0, removed_rows = 0;
  kl::factor_normal_matrix(sys.params, sys.fi(), sys.fv(), first.data(), last.data(), order.data(), rank.data(),
                           inverse.data(), work_diag.data(), diag.data(), y.data(), sys.var_state.data(),
                           lists.data(), cursor.data(), send.data(), smark.data(), dropped, removed_rows);
  if (dropped != 0 || removed_rows != 0) {
    out.failure = "factorisation dropped a pivot";
    return out;
  }
  out.pivot_count = sys.params.pivot_count;
  out.in_place_count = sys.params.in_place_count;
  out.blocks = ranks_in_blocks(send, out.pivot_count);
  solve_through_factor(sys, cr, diag, order, first, last, send, smark, work_diag, b, out);
  return out;
}

// (b) The augmented system.
inline SolvePathResult solve_by_augmented_system(const SparseColumns& a, const std::vector<double>& diag,
                                                 const std::vector<double>& b, const SolvePathSettings& set) {
  SolvePathResult out;
  BarrierSystem sys = make_barrier_system(a, nullptr, set.factor_space ? static_cast<int32_t>(set.factor_space)
                                                                       : default_factor_space(a));
  const int32_t n = sys.n(), m = sys.m(), s = n + m;
  sys.params.L2_CACHE = set.l2_cache_kb;
  sys.params.L1_CACHE = 0;
  sys.params.MAXREF = set.maxref;
  sys.params.ORDERING = set.ordering;
  if (set.dense_length > 0) {
    sys.params.SETLAM = -1;
    sys.params.LAM = -set.dense_length;
  } else {
    sys.params.SETLAM = 1;  // the augmented system whatever the columns
  }
  sys.params.SUPDENS = set.supdens;
  const std::vector<int32_t> cr = plain_class_ranges(n, m, set.free_columns);
  std::vector<int32_t> node, pstart, pend, dense_mark;
  int32_t status = 0;
  out.system_kind = run_find_dense_columns(sys, cr, node, pstart, pend, dense_mark, status);
  if (status != 0 || out.system_kind != kl::SYSTEM_AUGMENTED) {
    out.failure = "dense-column analysis: status " + std::to_string(status) + " kind " +
                  std::to_string(out.system_kind);
    return out;
  }
  std::vector<int32_t> held_back;
  for (int32_t j = 1; j <= n; ++j)
    if (dense_mark[j] == 2) held_back.push_back(j);
  out.deferred_columns = static_cast<int32_t>(held_back.size());
  std::vector<int32_t> order(s + 2), first(s + 2), last(s + 2), send(s + 2), smark(s + 2), rank(s + 2);
  std::vector<int32_t> work(static_cast<size_t>(kl::augmented_work_size(sys.params)) + 1);
  std::vector<double> inverse_diag(diag), inverse(s + 1), y(m + 1, 0.0), z(s + 1, 0.0);
  int32_t removed_cols = 0, removed_rows = 0, unpivoted = 0;
  int64_t nonzeros = 0, bound = std::numeric_limits<int64_t>::max();
  double flops = 0.0;
  kl::factorise_augmented_system(sys.params, sys.params.free_space + sys.params.matrix_nz + sys.params.quad_nz,
                                 first.data(), last.data(), sys.var_state.data(), sys.matrix_start.data(),
                                 sys.quad_start.data(), sys.fi(), sys.fv(), order.data(), inverse_diag.data(),
                                 inverse.data(), y.data(), z.data(), dense_mark.data(), work.data(), removed_cols,
                                 removed_rows, nonzeros, bound, flops, unpivoted, status);
  if (status != 0 || unpivoted != 0) {
    out.failure = "augmented factorisation: status " + std::to_string(status) + ", " + std::to_string(unpivoted) +
                  " positions without a pivot";
    return out;
  }
  const int32_t count = sys.params.pivot_count;
  for (int32_t k = 1; k <= count; ++k)
    if (std::find(held_back.begin(), held_back.end(), order[k]) != held_back.end()) ++out.deferred_pivoted;
  kl::block_supernodes_for_cache(sys.params, first.data(), last.data(), sys.fi(), order.data(), send.data(),
                                 rank.data(), smark.data());
  if (set.refactorise) {
    // What every iteration does: refactorise over the structure left.
    std::vector<double> work_diag(diag);
    std::vector<int32_t> lists(2 * s + 2), cursor(s + 2), scratch(s + 2);
    int32_t dropped = 0, removed = 0;
    kl::factor_normal_matrix_with_columns(sys.params, sys.fi(), sys.fv(), first.data(), last.data(), order.data(),
                                          rank.data(), inverse.data(), work_diag.data(), diag.data(), y.data(),
                                          sys.var_state.data(), lists.data(), cursor.data(), send.data(),
                                          smark.data(), sys.matrix_start.data(), sys.quad_start.data(),
                                          scratch.data(), dropped, removed);
    if (dropped != 0 || removed != 0) {
      out.failure = "refactorisation dropped a pivot";
      return out;
    }
    inverse_diag = work_diag;
  } else {
    // The leading ranks whose column is the matrix column itself.
    int32_t in_place = 0;
    while (in_place < count && first[in_place + 1] <= sys.params.matrix_nz) ++in_place;
    sys.params.in_place_count = in_place;
  }
  out.pivot_count = sys.params.pivot_count;
  out.in_place_count = sys.params.in_place_count;
  out.blocks = ranks_in_blocks(send, out.pivot_count);
  solve_through_factor(sys, cr, diag, order, first, last, send, smark, inverse_diag, b, out);
  return out;
}

// The normwise backward error of x: max |K x - b| / (||K|| max |x| + max |b|),
// ||K|| the largest absolute row sum.
inline double relative_residual(const SparseColumns& a, const std::vector<double>& diag,
                                const std::vector<double>& b, const std::vector<double>& x) {
  const int32_t n = a.cols_count, s = n + a.rows_count;
  if (x.size() < static_cast<size_t>(s) + 1) return std::numeric_limits<double>::infinity();
  std::vector<double> r(s + 1, 0.0), row_sum(s + 1, 0.0);
  for (int32_t p = 1; p <= s; ++p) {
    r[p] = diag[p] * x[p] - b[p];
    row_sum[p] = std::fabs(diag[p]);
  }
  for (int32_t j = 0; j < n; ++j)
    for (int32_t e = a.starts[j]; e < a.starts[j + 1]; ++e) {
      const int32_t row = n + 1 + a.rows[e];
      r[row] += a.values[e] * x[j + 1];
      r[j + 1] += a.values[e] * x[row];
      row_sum[row] += std::fabs(a.values[e]);
      row_sum[j + 1] += std::fabs(a.values[e]);
    }
  double worst = 0.0, norm_k = 0.0, norm_x = 0.0, norm_b = 0.0;
  for (int32_t p = 1; p <= s; ++p) {
    worst = std::max(worst, std::fabs(r[p]));
    norm_k = std::max(norm_k, row_sum[p]);
    norm_x = std::max(norm_x, std::fabs(x[p]));
    norm_b = std::max(norm_b, std::fabs(b[p]));
  }
  return worst / std::max(norm_k * norm_x + norm_b, 1e-300);
}

}  // namespace kltest

#endif
