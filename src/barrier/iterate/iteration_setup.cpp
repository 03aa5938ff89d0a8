#include "barrier/iterate/iteration_setup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "barrier/factor/augmented_system.h"
#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/push_factor.h"
#include "barrier/iterate/dense_columns.h"
#include "barrier/iterate/iteration_log.h"
#include "barrier/iterate/search_direction.h"
#include "barrier/iterate/variable_classes.h"
#include "barrier/ordering/ordering_driver.h"
#include "barrier/ordering/symbolic_factor.h"
#include "barrier/pipeline.h"

namespace kl::barrier_iteration {

int64_t shared_work_ints(const barrier_params& p) {
  const int64_t positions = static_cast<int64_t>(p.col_count) + p.row_count + 2;
  return std::max({analysis_work_ints(p), augmented_work_size(p),
                   static_cast<int64_t>(kSymbolicWorkPerPosition) * positions}) +
         1;
}

IntWork carve_work(const barrier_params& p, int32_t* block) {
  const int64_t len = static_cast<int64_t>(p.col_count) + p.row_count + 2;
  int64_t at = 0;
  auto take = [&](int64_t count) {
    int32_t* a = block + at;
    at += count;
    return a;
  };
  IntWork w{};
  w.order_map = take(len);
  w.order_inverse = take(len);
  w.list_a = take(len);
  w.list_b = take(len);
  w.list_c = take(len);
  w.list_d = take(len);
  w.class_work = take(len);
  w.column_node = take(len);
  w.pattern_start = take(len);
  w.pattern_end = take(len);
  w.dense_mark = take(len);
  w.quad_row_count = take(len);
  w.length_histogram = take(len);
  w.row_mark = take(len);
  w.column_queue = take(len);
  w.supernode_end = take(len);
  w.supernode_mark = take(len);
  w.update_lists = take(2 * len);
  w.factor_cursor = take(len);
  w.factor_scratch = take(len);
  w.shared = take(shared_work_ints(p));
  return w;
}

// Processor time in hundredths of a second.
int32_t cpu_centiseconds() {
  int32_t now = 0;
  return read_cpu_centiseconds(now);
}

// The number of halvings that bring r below 1 (1 when it already is).
static int32_t halvings_below_one(double r) {
  if (!(r >= 1.0)) return 1;
  int32_t k = 0;
  while (r >= 1.0 && k < 1000) {
    r *= 0.5;
    ++k;
  }
  return k;
}


void classify(Run& r) {
  const auto& a = r.a;
  const int64_t tail = static_cast<int64_t>(r.p.matrix_nz) + r.p.quad_nz;
  classify_barrier_variables(r.p, r.ranges, r.w.order_map, r.w.order_inverse, a.matrix_start, a.factor_index,
                             a.factor_value, r.w.class_work, a.factor_index + tail, a.factor_value + tail,
                             a.col_bound_code, a.slack_bound_code, a.var_state, r.w.list_a, r.w.list_b,
                             r.w.list_c, r.w.list_d, a.cost, a.rhs, a.upper, a.x, a.z, a.y, a.quad_diag,
                             a.quad_start, a.diag);
}

void reclassify(Run& r) {
  const auto& a = r.a;
  reclassify_barrier_variables(r.p, r.ranges, r.w.order_map, r.w.order_inverse, a.matrix_start, a.matrix_end,
                               a.factor_index, a.factor_value, r.w.class_work, a.col_bound_code,
                               a.slack_bound_code, a.var_state, r.w.list_a, r.w.list_b, r.w.list_c, r.w.list_d,
                               a.cost, a.rhs, a.upper, a.x, a.s, a.z, a.w, a.y, a.dx, a.dz, a.dw, a.dy,
                               a.quad_diag, a.quad_start, a.diag, a.pivot_order, a.factor_first, a.factor_last,
                               r.w.supernode_end, r.w.supernode_mark, a.pivot_rank);
}

// Cuts entries of removed rows (and quadratic entries of removed columns)
// after the counts moved away from those remembered.
void compact_after_removals(Run& r, int32_t cols_before, int32_t rows_before, int32_t cols_now,
                            int32_t rows_now) {
  const auto& a = r.a;
  if (rows_now != rows_before) {
    compact_factor_columns(r.p, r.ranges, a.matrix_start, a.matrix_end, a.factor_first, a.factor_last,
                           a.factor_index, a.factor_value, a.var_state, a.pivot_inverse, r.w.row_mark,
                           a.pivot_rank);
  }
  if (cols_now != cols_before && r.p.quad_nz > 0) {
    compact_matrix_columns(r.p, a.quad_start, a.quad_diag, a.factor_index, a.factor_value, a.var_state);
  }
}

static void block_for_cache(Run& r) {
  block_supernodes_for_cache(r.p, r.a.factor_first, r.a.factor_last, r.a.factor_index, r.a.pivot_order,
                             r.w.supernode_end, r.a.pivot_rank, r.w.supernode_mark);
}

// One numeric factorisation of diag in the form the system and PUSHFACT ask
// for.
void factorise(Run& r, int32_t& pivot_dropped, int32_t& removed_row_count) {
  const auto& a = r.a;
  const bool with_columns = r.system_kind == SYSTEM_AUGMENTED || r.p.quad_nz >= 1;
  const bool push = r.p.PUSHFACT >= 1;
  if (with_columns && push) {
    factor_normal_matrix_with_columns_push(
        r.p, a.factor_index, a.factor_value, a.factor_first, a.factor_last, a.pivot_order, a.pivot_rank,
        a.pivot_inverse, a.diag, a.diag_copy, a.y, a.var_state, r.w.update_lists, r.w.factor_cursor,
        r.w.supernode_end, r.w.supernode_mark, a.matrix_start, a.quad_start, r.w.factor_scratch, a.push_work,
        pivot_dropped, removed_row_count);
  } else if (with_columns) {
    factor_normal_matrix_with_columns(r.p, a.factor_index, a.factor_value, a.factor_first, a.factor_last,
                                      a.pivot_order, a.pivot_rank, a.pivot_inverse, a.diag, a.diag_copy, a.y,
                                      a.var_state, r.w.update_lists, r.w.factor_cursor, r.w.supernode_end,
                                      r.w.supernode_mark, a.matrix_start, a.quad_start, r.w.factor_scratch,
                                      pivot_dropped, removed_row_count);
  } else if (push) {
    factor_normal_matrix_push(r.p, a.factor_index, a.factor_value, a.factor_first, a.factor_last, a.pivot_order,
                              a.pivot_rank, a.pivot_inverse, a.diag, a.diag_copy, a.y, a.var_state,
                              r.w.update_lists, r.w.factor_cursor, r.w.supernode_end, r.w.supernode_mark,
                              a.push_work, pivot_dropped, removed_row_count);
  } else {
    factor_normal_matrix(r.p, a.factor_index, a.factor_value, a.factor_first, a.factor_last, a.pivot_order,
                         a.pivot_rank, a.pivot_inverse, a.diag, a.diag_copy, a.y, a.var_state, r.w.update_lists,
                         r.w.factor_cursor, r.w.supernode_end, r.w.supernode_mark, pivot_dropped,
                         removed_row_count);
  }
}

// The analysis line of a normal-equations analysis, with attributes 3003 and
// 3004.
static void report_analysis(Run& r) {
  if (r.p.print_word >= 0) return;
  const auto& a = r.a;
  int64_t dense = 0;
  int64_t nonzeros = 2 * static_cast<int64_t>(r.p.pivot_count);
  for (int32_t k = 1; k <= r.p.pivot_count; ++k) {
    if (a.factor_first[k] <= r.p.matrix_nz) continue;
    nonzeros += a.factor_last[k] - a.factor_first[k];
    if (a.pivot_order[k] <= r.n) ++dense;
  }
  log_analysis_line(r.p, dense, nonzeros, r.flops);
}

// After a factorisation that dropped pivots with the equality rows
// regularised: regroup the pivot order and redo the symbolic factor and the
// cache blocks. Returns the negative status when the lists do not fit.
int32_t rebuild_structure(Run& r, int32_t& status, int64_t& factor_nonzeros) {
  const auto& a = r.a;
  auto& p = r.p;
  regroup_pivot_order(p, a.pivot_order, a.var_state, r.w.shared);
  if (p.quad_nz > 0) {
    build_lower_pattern(p, a.pivot_order, a.quad_start, a.factor_index, a.factor_value, a.pivot_rank, r.w.shared,
                        a.pivot_inverse);
  }
  symbolic_counts counts;
  compute_symbolic_factor(p, a.matrix_start, a.pivot_order, a.factor_index, a.factor_value, a.factor_first,
                          a.factor_last, a.var_state, a.quad_start, a.pivot_rank, r.w.shared, a.pivot_inverse,
                          counts, status);
  factor_nonzeros = counts.factor_nonzeros;
  r.flops = counts.factor_flops;
  // The lists come back by position; the factorisations read them by rank.
  int32_t* first = r.w.list_a;
  int32_t* last = r.w.list_b;
  for (int32_t k = 1; k <= p.pivot_count; ++k) {
    first[k] = a.factor_first[a.pivot_order[k]];
    last[k] = a.factor_last[a.pivot_order[k]];
  }
  std::copy(first + 1, first + p.pivot_count + 1, a.factor_first + 1);
  std::copy(last + 1, last + p.pivot_count + 1, a.factor_last + 1);
  const int32_t print_word = p.print_word;
  p.print_word = 0;
  block_for_cache(r);
  p.print_word = print_word;
  return status < 0 ? status : 0;
}


// Choice of the system, analysis (or the augmented factorisation) and the
// trial factorisation; at most one retry by the length rule.
SetUp set_up_system(Run& r, int32_t& status, int32_t& removed_col_count, int32_t& removed_row_count,
                    int64_t& factor_nonzeros) {
  const auto& a = r.a;
  auto& p = r.p;
  for (;;) {
    find_dense_columns(p, a.matrix_start, a.matrix_end, a.factor_index, r.ranges, a.quad_start,
                       r.w.quad_row_count, r.w.length_histogram, r.w.column_node, r.w.pattern_start,
                       r.w.pattern_end, r.w.row_mark, r.w.column_queue, r.system_kind, r.w.dense_mark, status);
    if (status < 0) return SetUp::kEnd;
    const bool free_regularised = std::fabs(p.SCFREE) > p.TZER && (p.REGULARIZE & 0x1) != 0;
    if (!r.quadratic && !free_regularised && r.ranges[kLastFreeColumn] >= r.ranges[kFirstFreeColumn]) {
      r.system_kind = 0;
    }
    r.regularise_equality = ((r.system_kind <= SYSTEM_AUGMENTED && (p.REGULARIZE & 0x2) != 0) ||
                             (r.system_kind == SYSTEM_NORMAL_EQUATIONS && (p.REGULARIZE & 0x4) != 0) ||
                             (p.REGULARIZE & 0x40) != 0)
                                ? 1
                                : 0;
    r.lsq_weight = p.LSQWEIGHT;
    build_trial_diagonal(p, r.ranges, a.diag, a.quad_diag, r.lsq_weight, r.regularise_equality);
    if (r.quadratic) {
      for (int32_t j = 1; j <= r.n; ++j) a.diag[j] -= a.quad_diag[j];
    }
    for (int32_t i = 1; i <= r.m; ++i) a.y[i] = 0.0;
    std::copy(a.diag + 1, a.diag + r.positions + 1, a.diag_copy + 1);
    factor_nonzeros = 0;

    bool augmented = r.system_kind == 0 || (r.system_kind == SYSTEM_AUGMENTED && r.regularise_equality == 0);
    if (r.system_kind == 0) r.system_kind = SYSTEM_AUGMENTED;
    if (p.SETLAM > 0) augmented = true;

    if (augmented) {
      int64_t bound = INT64_MAX;
      int32_t unpivoted = 0;
      factorise_augmented_system(p, p.free_space + p.matrix_nz + p.quad_nz, a.factor_first, a.factor_last,
                                 a.var_state, a.matrix_start, a.quad_start, a.factor_index, a.factor_value,
                                 a.pivot_order, a.diag, a.pivot_inverse, a.y, a.z, r.w.dense_mark, r.w.shared,
                                 removed_col_count, removed_row_count, factor_nonzeros, bound, r.flops, unpivoted,
                                 status);
      if (status != 0) return SetUp::kEnd;
      block_for_cache(r);
      return SetUp::kDone;
    }

    symbolic_counts counts;
    analyse_normal_equations(p, r.system_kind, a.var_state, a.matrix_start, a.matrix_end, r.w.pattern_start,
                             r.w.pattern_end, r.w.column_node, a.quad_start, a.factor_index, a.factor_value,
                             r.w.shared, a.pivot_inverse, p.TFIND, a.pivot_order, a.pivot_rank, a.factor_first,
                             a.factor_last, counts, status);
    if (status != 0) {
      if (p.SETLAM < 0) return SetUp::kEnd;
      // Retry once with the length rule: more columns count as dense.
      status = 0;
      p.SETLAM = -1;
      continue;
    }
    factor_nonzeros = counts.factor_nonzeros;
    r.flops = counts.factor_flops;
    block_for_cache(r);
    report_analysis(r);
    // The trial factorisation warms the structure; a dropped pivot here
    // asks for no regroup.
    const double trabs = p.TRABS;
    p.TRABS = p.TABS;
    int32_t dropped = 0;
    factorise(r, dropped, removed_row_count);
    p.TRABS = trabs;
    return SetUp::kDone;
  }
}

// Corrector and refinement budgets from the work per factor entry.
void set_budgets(barrier_params& p, double flops, int64_t budget_nonzeros) {
  const double f = flops / static_cast<double>(budget_nonzeros == 0 ? 1 : budget_nonzeros);
  const int32_t k = halvings_below_one(0.1 * f);
  p.MAXCCORR = p.MAXCCORR > 0 ? std::min(p.MAXCCORR, k) : -p.MAXCCORR;
  p.MAXCCORR = std::max(p.MAXCCORR, p.MINCCORR);
  const double g = std::log2(0.2 * f + 1.0);
  int32_t refine = p.MAXREF > 0 ? static_cast<int32_t>(std::trunc(static_cast<double>(p.MAXREF) * g)) : -p.MAXREF;
  if (refine < 1) refine = 0;
  p.MAXREF = refine;
}

}  // namespace kl::barrier_iteration
