// Independent answers for the barrier's analysis phase: a plain symbolic
// elimination of the barrier system over an adjacency of sets, and a runner
// that calls the analysis with arrays sized exactly as its interface asks
// (so the sanitizer build sees any access past them).
#ifndef KLSOL_TESTS_SUPPORT_SYMBOLIC_REFERENCE_H
#define KLSOL_TESTS_SUPPORT_SYMBOLIC_REFERENCE_H

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

#include "barrier/ordering/ordering_driver.h"
#include "support/barrier_system.h"

namespace kltest {

// The off-diagonal pattern of the barrier system over positions 1..n+m:
// column j and row position n+i are joined by an entry of A, columns by an
// entry of Q. Positions whose state is below -1 are left out.
inline std::vector<std::set<int32_t>> system_adjacency(const SparseColumns& a, const SparseColumns* q,
                                                       const std::vector<int32_t>& var_state) {
  const int32_t n = a.cols_count;
  std::vector<std::set<int32_t>> adj(static_cast<size_t>(n + a.rows_count) + 1);
  auto live = [&](int32_t p) { return var_state.empty() || var_state[static_cast<size_t>(p)] >= -1; };
  auto join = [&](int32_t x, int32_t y) {
    if (x == y || !live(x) || !live(y)) return;
    adj[static_cast<size_t>(x)].insert(y);
    adj[static_cast<size_t>(y)].insert(x);
  };
  for (int32_t j = 0; j < n; ++j)
    for (int32_t k = a.starts[static_cast<size_t>(j)]; k < a.starts[static_cast<size_t>(j) + 1]; ++k)
      join(j + 1, n + 1 + a.rows[static_cast<size_t>(k)]);
  if (q != nullptr)
    for (int32_t j = 0; j < n; ++j)
      for (int32_t k = q->starts[static_cast<size_t>(j)]; k < q->starts[static_cast<size_t>(j) + 1]; ++k)
        join(j + 1, 1 + q->rows[static_cast<size_t>(k)]);
  return adj;
}

struct PlainFactor {
  std::vector<std::vector<int32_t>> lists;  // by position, row positions in rank order
  int64_t nonzeros = 0;
  int64_t row_nonzeros = 0;
  double flops = 0.0;
};

// Eliminates the positions in `order` (1-based entries order[1..count]) one
// by one, joining the later neighbours of each pivot into a clique.
inline PlainFactor plain_elimination(std::vector<std::set<int32_t>> adj, const int32_t* order, int32_t count,
                                     int32_t n) {
  PlainFactor out;
  const size_t positions = adj.size() - 1;
  std::vector<int32_t> rank(positions + 1, static_cast<int32_t>(positions) + 1);
  for (int32_t k = 1; k <= count; ++k) rank[static_cast<size_t>(order[k])] = k;
  out.lists.assign(positions + 1, {});
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t p = order[k];
    std::vector<int32_t> later;
    for (int32_t u : adj[static_cast<size_t>(p)])
      if (rank[static_cast<size_t>(u)] > k && rank[static_cast<size_t>(u)] <= count) later.push_back(u);
    std::sort(later.begin(), later.end(), [&](int32_t x, int32_t y) { return rank[static_cast<size_t>(x)] < rank[static_cast<size_t>(y)]; });
    for (size_t s = 0; s < later.size(); ++s)
      for (size_t t = s + 1; t < later.size(); ++t) {
        adj[static_cast<size_t>(later[s])].insert(later[t]);
        adj[static_cast<size_t>(later[t])].insert(later[s]);
      }
    const int64_t len = static_cast<int64_t>(later.size());
    out.nonzeros += len;
    if (p > n) out.row_nonzeros += len;
    out.flops += 0.5 * static_cast<double>(len) * static_cast<double>(len + 1);
    out.lists[static_cast<size_t>(p)] = std::move(later);
  }
  return out;
}

// Everything the analysis returns, with its arrays sized as the interface
// states.
struct AnalysisRun {
  BarrierSystem sys;
  std::vector<int32_t> pattern_start, pattern_end, column_node;
  std::vector<int32_t> pivot_order, pivot_rank, factor_first, factor_last;
  std::vector<int32_t> work;
  std::vector<double> value_work;
  kl::symbolic_counts counts;
  int32_t status = 0;
};

// Normal path: whole columns as patterns, no column nodes; augmented path:
// every column a node of the graph.
inline void prepare_analysis(AnalysisRun& run, int32_t system_kind) {
  BarrierSystem& s = run.sys;
  const int32_t n = s.n();
  const size_t slots = static_cast<size_t>(s.params.var_count) + 2;
  run.pattern_start.assign(static_cast<size_t>(n) + 2, 0);
  run.pattern_end.assign(static_cast<size_t>(n) + 2, 0);
  run.column_node.assign(static_cast<size_t>(n) + 2, system_kind == kl::SYSTEM_AUGMENTED ? 3 : 0);
  for (int32_t j = 1; j <= n; ++j) {
    run.pattern_start[static_cast<size_t>(j)] = s.matrix_start[static_cast<size_t>(j)];
    run.pattern_end[static_cast<size_t>(j)] = s.matrix_end[static_cast<size_t>(j)];
  }
  run.pivot_order.assign(slots, 0);
  run.pivot_rank.assign(slots, 0);
  run.factor_first.assign(slots, 0);
  run.factor_last.assign(slots, 0);
  run.work.assign(static_cast<size_t>(kl::analysis_work_ints(s.params)), 0);
  run.value_work.assign(static_cast<size_t>(kl::analysis_value_work_doubles(s.params)), 0.0);
}

inline void run_analysis(AnalysisRun& run, int32_t system_kind, int32_t tfind = 25) {
  BarrierSystem& s = run.sys;
  kl::analyse_normal_equations(s.params, system_kind, s.var_state.data(), s.matrix_start.data(), s.matrix_end.data(),
                               run.pattern_start.data(), run.pattern_end.data(), run.column_node.data(),
                               s.quad_start.data(), s.fi(), s.fv(), run.work.data(), run.value_work.data(), tfind,
                               run.pivot_order.data(), run.pivot_rank.data(), run.factor_first.data(),
                               run.factor_last.data(), run.counts, run.status);
}

// The matrix of a k x k grid Laplacian's pattern as A A': rows are the grid
// points, each column an edge of the grid with its two ends.
inline SparseColumns grid_incidence(int32_t k) {
  SparseColumns a;
  a.rows_count = k * k;
  auto add = [&](int32_t r1, int32_t r2) {
    a.rows.push_back(r1);
    a.values.push_back(1.0);
    a.rows.push_back(r2);
    a.values.push_back(-1.0);
    a.starts.push_back(static_cast<int32_t>(a.rows.size()));
    ++a.cols_count;
  };
  for (int32_t y = 0; y < k; ++y)
    for (int32_t x = 0; x < k; ++x) {
      if (x + 1 < k) add(y * k + x, y * k + x + 1);
      if (y + 1 < k) add(y * k + x, (y + 1) * k + x);
    }
  return a;
}

}  // namespace kltest

#endif
