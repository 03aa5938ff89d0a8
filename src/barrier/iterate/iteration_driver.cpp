#include "barrier/iterate/iteration_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "barrier/factor/augmented_system.h"
#include "barrier/factor/cache_blocking.h"
#include "barrier/factor/numeric_factor.h"
#include "barrier/factor/push_factor.h"
#include "barrier/iterate/centrality_correctors.h"
#include "barrier/iterate/convergence.h"
#include "barrier/iterate/dense_columns.h"
#include "barrier/iterate/iteration_log.h"
#include "barrier/iterate/residuals.h"
#include "barrier/iterate/search_direction.h"
#include "barrier/iterate/starting_point.h"
#include "barrier/iterate/step_lengths.h"
#include "barrier/iterate/variable_classes.h"
#include "barrier/ordering/ordering_driver.h"
#include "barrier/ordering/symbolic_factor.h"
#include "runtime/callbacks.h"
#include "runtime/platform.h"

namespace kl {

namespace {

// Bits of iteration_flags that the driver keeps between passes.
constexpr int32_t kRegularisedMode = 0x1;
constexpr int32_t kTroubleCounter = 0xe;
constexpr int32_t kTroubleCounterStep = 2;
constexpr int32_t kTroubleSecond = 0x4;
constexpr int32_t kTroubleLimit = 0x8;
constexpr int32_t kCorrectorGrew = 0x20;
constexpr int32_t kCorrectorAccurate = 0x100;

constexpr double kSqrtTen = 3.1622776601683795;

// The keys the driver may change during a solve and gives back on exit.
struct SavedKeys {
  int32_t setlam, maxccorr, maxref, regularize, mincorr;
  double bargrow, topt1;

  explicit SavedKeys(const barrier_params& p)
      : setlam(p.SETLAM), maxccorr(p.MAXCCORR), maxref(p.MAXREF), regularize(p.REGULARIZE),
        mincorr(p.MINCORR), bargrow(p.BARGROW), topt1(p.TOPT1) {}
  void restore(barrier_params& p) const {
    p.SETLAM = setlam;
    p.MAXCCORR = maxccorr;
    p.MAXREF = maxref;
    p.REGULARIZE = regularize;
    p.MINCORR = mincorr;
    p.BARGROW = bargrow;
    p.TOPT1 = topt1;
  }
};

// The driver's int work block, carved into the arrays its callees need.
struct IntWork {
  int32_t* order_map;
  int32_t* order_inverse;
  int32_t* list_a;
  int32_t* list_b;
  int32_t* list_c;
  int32_t* list_d;
  int32_t* class_work;
  int32_t* column_node;
  int32_t* pattern_start;
  int32_t* pattern_end;
  int32_t* dense_mark;
  int32_t* quad_row_count;
  int32_t* length_histogram;
  int32_t* row_mark;
  int32_t* column_queue;
  int32_t* supernode_end;
  int32_t* supernode_mark;
  int32_t* update_lists;
  int32_t* factor_cursor;
  int32_t* factor_scratch;
  int32_t* shared;  // the analysis, the augmented factorisation, the symbolic recomputation
};

constexpr int64_t kPositionArrays = 17;  // arrays of N + 2 ints before the update lists

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
  return static_cast<int32_t>(static_cast<double>(std::clock()) * 100.0 / CLOCKS_PER_SEC);
}

// The number of halvings that bring r below 1 (1 when it already is).
int32_t halvings_below_one(double r) {
  if (!(r >= 1.0)) return 1;
  int32_t k = 0;
  while (r >= 1.0 && k < 1000) {
    r *= 0.5;
    ++k;
  }
  return k;
}

// Everything one run carries between its steps.
struct Run {
  barrier_params& p;
  const BarrierIterateArrays& a;
  IntWork w;
  int32_t* ranges;
  int32_t n = 0;
  int32_t m = 0;
  int32_t positions = 0;
  bool quadratic = false;

  int32_t system_kind = 0;
  int32_t regularise_equality = 0;
  double ratio_floor = 0.0;
  double lsq_weight = 0.0;
  double flops = 0.0;
  bool started = false;  // the starting point has set s and w
};

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

void block_for_cache(Run& r) {
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
void report_analysis(Run& r) {
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

enum class SetUp { kDone, kEnd };

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

}  // namespace

int64_t iterate_barrier_work_ints(const barrier_params& params) {
  const int64_t len = static_cast<int64_t>(params.col_count) + params.row_count + 2;
  return (kPositionArrays + 4) * len + shared_work_ints(params) + 1;
}

void iterate_barrier(barrier_params& params, const BarrierIterateArrays& arrays, int32_t* int_work,
                     int32_t& status, double& primal_objective, int32_t& iteration_count,
                     int32_t& corrector_count, int32_t& removed_col_count, int32_t& removed_row_count,
                     int64_t& factor_nonzeros, int64_t& budget_nonzeros, double& objective_constant,
                     const double& objective_scale, int32_t& factor_time) {
  const SavedKeys saved(params);
  Run r{params, arrays, carve_work(params, int_work), arrays.barrier_class_ranges};
  r.n = params.col_count;
  r.m = params.row_count;
  r.positions = r.n + r.m;
  r.quadratic = params.quad_col_count > 0;
  const auto& a = arrays;
  auto& p = params;
  int32_t* ranges = r.ranges;

  status = BARRIER_GO_ON;
  iteration_count = 0;
  corrector_count = 0;
  budget_nonzeros = 0;
  p.free_space = (p.factor_space - p.matrix_nz - p.quad_nz - 1) / 2 - 1;
  r.ratio_floor = p.TRABS;
  p.in_place_count = 0;
  p.iteration_flags = 0;
  factor_time = 0;
  for (int32_t k = 1; k <= r.positions; ++k) {
    a.factor_first[k] = p.matrix_nz + p.quad_nz + 1;
    a.pivot_order[k] = k;
    a.pivot_rank[k] = k;
  }
  ranges[kFirstFreeColumn] = -1;
  classify(r);
  compact_factor_columns(p, ranges, a.matrix_start, a.matrix_end, a.factor_first, a.factor_last, a.factor_index,
                         a.factor_value, a.var_state, a.pivot_inverse, r.w.row_mark, a.pivot_rank);
  if (r.quadratic) compact_matrix_columns(p, a.quad_start, a.quad_diag, a.factor_index, a.factor_value, a.var_state);

  bool store_objective = false;
  double objective_out = 0.0;

  // Every end of the call passes here: keys back, final states, net reduced
  // costs on boxed positions, and the entry order.
  auto finish = [&]() {
    if (store_objective) primal_objective = objective_out;
    saved.restore(p);
    for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) a.var_state[j] = -1;
    if (r.started) {
      // diag holds inverse pivots by rank after a factorisation; the system
      // diagonal by position is the copy.
      for (int32_t j = ranges[kFirstEqualitySlack]; j <= ranges[kLastEqualitySlack]; ++j) {
        if (std::fabs(a.diag_copy[j]) <= p.TZER) a.var_state[j] = -1;
      }
      // s and w exist only once the starting point has set them.
      for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) a.z[j] -= a.w[j];
    }
    classify(r);
  };

  const int32_t cols_at_setup = removed_col_count;
  const int32_t rows_at_setup = removed_row_count;
  if (set_up_system(r, status, removed_col_count, removed_row_count, factor_nonzeros) == SetUp::kEnd) {
    finish();
    return;
  }

  budget_nonzeros = factor_nonzeros;
  compact_after_removals(r, cols_at_setup, rows_at_setup, removed_col_count, removed_row_count);
  if (p.quad_nz > 0) r.system_kind = SYSTEM_AUGMENTED;
  set_budgets(p, r.flops, budget_nonzeros);

  // Starting point.
  FactorArrays factor{a.factor_index, a.factor_value, a.factor_first, a.factor_last, a.pivot_order, a.pivot_rank,
                      a.pivot_inverse, a.diag, a.diag_copy, a.y, a.var_state, r.w.update_lists,
                      r.w.factor_cursor, r.w.supernode_end, r.w.supernode_mark, a.matrix_start, a.quad_start,
                      r.w.factor_scratch, a.push_work};
  if (p.SMETHOD < 1) {
    compute_starting_point(p, a.cost, a.rhs, a.upper, a.diag, a.diag_copy, a.x, a.s, a.z, a.w, a.y,
                           a.primal_residual, a.upper_residual, a.dual_residual, a.matrix_end, factor, a.var_state,
                           a.dx, a.q_dx, a.dz, a.dw, r.system_kind, ranges, a.quad_start, a.quad_diag,
                           r.regularise_equality, removed_row_count);
  } else {
    compute_alternative_starting_point(p, a.x, a.s, a.y, a.z, a.w, a.rhs, a.cost, a.upper, a.matrix_start,
                                       a.matrix_end, a.factor_index, a.factor_value, a.factor_first,
                                       a.factor_last, a.pivot_order, r.w.supernode_end, r.w.supernode_mark, a.diag,
                                       a.pivot_inverse, ranges, r.lsq_weight, a.quad_diag, a.quad_start);
  }
  r.started = true;
  double last_move = 1.0;
  for (int32_t k = 1; k <= p.pivot_count; ++k) {
    if (a.var_state[a.pivot_order[k]] < -1) {
      reclassify(r);
      break;
    }
  }
  for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) {
    a.var_state[j] = a.x[j] > a.z[j] ? 1 : 0;
  }
  for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) a.var_state[j] = 1;
  for (int32_t j = ranges[kFirstEqualitySlack]; j <= ranges[kLastEqualitySlack]; ++j) a.var_state[j] = 0;
  log_iteration_header(p);

  // The iterations.
  BarrierConvergenceMemory memory;
  double previous_complementarity = 0.0;
  double alpha_p = 0.0, alpha_d = 0.0;
  double primal_norm = 0.0, dual_norm = 0.0, upper_norm = 0.0;
  double rel_primal = 0.0, rel_dual = 0.0;
  double mu = 0.0;
  int32_t near_optimal = 0;
  int32_t primal_flag = kBarrierNotFeasible, dual_flag = kBarrierNotFeasible;
  for (;;) {
    // E1: fixing.
    int32_t fixed_columns = 0, removed_slacks = 0, dropped_bounds = 0;
    fix_barrier_variables(p, a.col_bound_code, a.slack_bound_code, a.rhs, a.matrix_start, a.factor_index,
                          a.factor_value, a.x, a.s, a.y, a.z, a.w, a.var_state, removed_col_count,
                          removed_row_count, objective_constant, objective_scale, a.cost, a.upper, a.pivot_inverse,
                          a.push_work, a.quad_start, a.quad_diag, ranges, fixed_columns, removed_slacks,
                          dropped_bounds);
    if (fixed_columns + removed_slacks + dropped_bounds > 0) {
      reclassify(r);
      if (r.quadratic) {
        multiply_quadratic_objective(p, a.quad_start, a.quad_diag, a.factor_value, a.factor_index, a.dx, a.q_dx);
      }
    }
    // E2-E6: residuals, objectives, complementarity.
    multiply_quadratic_objective(p, a.quad_start, a.quad_diag, a.factor_value, a.factor_index, a.x, a.q_x);
    compute_primal_residual(p, a.x, a.primal_residual, a.matrix_start, a.matrix_end, a.factor_index,
                            a.factor_value, a.rhs, ranges, primal_norm);
    compute_dual_residual(p, a.y, a.z, a.w, a.dual_residual, a.matrix_start, a.matrix_end, a.factor_index,
                          a.factor_value, a.cost, a.q_x, ranges, dual_norm);
    compute_upper_residual(p, a.x, a.s, a.upper_residual, a.upper, ranges, upper_norm);
    double primal = 0.0, dual = 0.0;
    compute_barrier_objectives(p, primal, dual, a.cost, a.rhs, a.upper, a.x, a.y, a.w, ranges);
    if (r.quadratic) {
      double q = 0.0;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) q += a.x[j] * a.q_x[j];
      primal += 0.5 * q;
      dual -= 0.5 * q;
    }
    primal = primal * objective_scale + objective_constant;
    dual = dual * objective_scale + objective_constant;
    double complementarity = 0.0;
    for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastLowerSlack]; ++j) complementarity += a.x[j] * a.z[j];
    for (int32_t j = ranges[kFirstBoxedColumn]; j <= ranges[kLastBoxedSlack]; ++j) complementarity += a.s[j] * a.w[j];
    const int32_t pair_count = std::max(1, (ranges[kFirstEqualitySlack] - ranges[kFirstLowerColumn]) +
                                               (ranges[kFirstLowerSlack] - ranges[kFirstBoxedColumn]));
    const double mean_complementarity = complementarity / pair_count;

    // E7-E11: the test, the log, the stop requests.
    memory.previous_complementarity = previous_complementarity;
    test_barrier_convergence(p, rel_primal, rel_dual, primal, dual, complementarity, iteration_count, status,
                             primal_flag, dual_flag, last_move, primal_norm, upper_norm, dual_norm,
                             a.primal_residual, a.upper_residual, a.dual_residual, alpha_p, alpha_d, a.cost, a.rhs,
                             a.upper, a.x, a.dx, a.z, a.dz, a.w, a.dw, a.y, a.dy, a.s, a.q_x, a.q_dx,
                             objective_scale, ranges, memory);
    if (p.objective_sense == -1) {
      primal = -primal;
      dual = -dual;
    }
    log_iteration(p, {iteration_count, primal_norm, dual_norm, upper_norm, primal, dual, complementarity});
    objective_out = primal;
    if (barrier_stop_requested()) {
      // A stop is not a verdict: the objective is written only when the
      // test of this pass reached one, so an optimum always carries its own
      // objective and status 0 stays distinguishable as a stop.
      store_objective = status != BARRIER_GO_ON;
      finish();
      return;
    }
    store_objective = true;
    if (status != BARRIER_GO_ON) {
      finish();
      return;
    }

    // E12-E16: the diagonal.
    if ((p.REGULARIZE & 0x40) != 0) r.regularise_equality = 1;
    const double sigma = std::min(std::max(mean_complementarity, p.TZER), 1.0);
    build_barrier_diagonal(p, a.x, a.y, a.s, a.z, a.w, ranges, a.diag, a.var_state, mean_complementarity, sigma,
                           r.regularise_equality, a.matrix_start, a.matrix_end, a.factor_index, a.factor_value,
                           a.slack_diag);
    if (r.quadratic) {
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastFreeColumn]; ++j) {
        if (std::fabs(a.quad_diag[j]) <= p.TZER) continue;
        const double t = std::fabs(p.SCFREE * a.quad_diag[j]);
        if (std::fabs(a.diag[j]) > t) a.diag[j] = -t;
        a.diag[j] -= a.quad_diag[j];
      }
      for (int32_t j = ranges[kFirstLowerColumn]; j <= ranges[kLastBoxedColumn]; ++j) a.diag[j] -= a.quad_diag[j];
    }
    for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastEqualitySlack]; ++j) a.diag_copy[j] = a.diag[j];
    if ((p.REGULARIZE & 0x40) != 0) {
      for (int32_t j = ranges[kFirstBoxedSlack]; j <= ranges[kLastEqualitySlack]; ++j) {
        a.diag[j] = a.slack_diag[j - r.n];
      }
    }

    // E17: trouble escalation.
    int32_t& flags = p.iteration_flags;
    if ((flags & kCorrectorGrew) != 0) {
      const int32_t c = (primal_flag == kBarrierNotFeasible && (flags & kPrimalResidualFell) != 0) +
                        (dual_flag == kBarrierNotFeasible && (flags & kDualResidualFell) != 0) +
                        (primal_flag == kBarrierFeasible) + (dual_flag == kBarrierFeasible);
      const bool feasible_and_stuck = primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible &&
                                      complementarity > 0.9 * previous_complementarity;
      if (!feasible_and_stuck && c >= 2) flags &= ~kCorrectorGrew;
    }
    if ((flags & (kCorrectorGrew | kRegularisedMode)) == (kCorrectorGrew | kRegularisedMode)) {
      if ((flags & kTroubleLimit) != 0) {
        if (!(primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible)) {
          status = BARRIER_NUMERICAL_FAILURE;
          finish();
          return;
        }
      } else {
        r.ratio_floor *= 10.0;
        flags += kTroubleCounterStep;
      }
    }
    if ((flags & kCorrectorGrew) != 0 && (flags & kRegularisedMode) == 0) {
      const int32_t before = flags;
      flags += kTroubleCounterStep;
      if ((flags & kTroubleSecond) != 0) {
        // Second troubled pass: enter the regularised mode for good.
        flags = before - 1;
        flags = (flags & ~kTroubleCounter) | kRegularisedMode;
        p.MAXREF *= 2;
        p.REFMET = 4;
        if (p.MINCORR < 0) p.MINCORR = 0;
        p.MAXCCORR = 0;
      }
    }

    // E18: regularised mode keeps the column diagonal within the floor.
    if ((flags & kRegularisedMode) != 0) {
      double smallest = 0.0;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.var_state[j] == 1) smallest = std::min(smallest, a.diag[j] + a.quad_diag[j]);
      }
      smallest *= r.ratio_floor;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.diag[j] + a.quad_diag[j] > smallest) a.diag[j] = smallest - a.quad_diag[j];
      }
    }

    // E19: near the optimum the barrier grows slower and the gap tolerance
    // loosens every fifth such pass.
    double gap = std::fabs(dual - primal) / (std::fabs(primal) + 1.0);
    gap = std::max(std::min(gap, 1.0), p.TOPT1);
    if (primal_flag == kBarrierFeasible && dual_flag == kBarrierFeasible && gap <= 10.0 * p.TOPT1) {
      p.BARGROW = std::min(p.BARGROW, 0.1);
      if (++near_optimal == 5) {
        near_optimal = 0;
        p.TOPT1 *= kSqrtTen;
      }
    }

    // E20-E22: factorise, with the remedies for dropped pivots.
    const int32_t cols_before = removed_col_count;
    const int32_t rows_before = removed_row_count;
    previous_complementarity = complementarity;
    int32_t attempt_time = 0;
    for (;;) {
      int32_t dropped = 0;
      const int32_t start = cpu_centiseconds();
      factorise(r, dropped, removed_row_count);
      attempt_time = cpu_centiseconds() - start;
      if (dropped == 0) break;
      if (r.regularise_equality == 1 && std::fabs(p.SCFREE) > p.TZER) {
        status = BARRIER_NUMERICAL_FAILURE;
        finish();
        return;
      }
      std::copy(a.diag_copy + 1, a.diag_copy + r.positions + 1, a.diag + 1);
      if (r.regularise_equality == 0) {
        r.regularise_equality = 1;
        continue;
      }
      if (rebuild_structure(r, status, factor_nonzeros) != 0) {
        finish();
        return;
      }
    }
    if ((flags & kRegularisedMode) != 0) p.in_place_count = 0;
    factor_time += attempt_time;
    compact_after_removals(r, cols_before, rows_before, removed_col_count, removed_row_count);

    // E24-E26: directions.
    double primal_tolerance = p.TRES1 * primal_norm;
    double dual_tolerance = p.TRES1 * dual_norm;
    double predicted = complementarity;
    int32_t kept = 0, refinement_steps = 0;
    compute_search_direction(p, a.x, a.s, a.z, a.w, a.primal_residual, a.dual_residual, a.upper_residual, a.q_dx,
                             a.slack_diag, a.q_x, a.push_work, a.dx, a.dy, a.dz, a.dw, a.upper, a.pivot_order,
                             a.factor_first, a.factor_last, a.factor_index, a.factor_value, r.w.supernode_end,
                             r.w.supernode_mark, a.var_state, a.diag, a.diag_copy, a.matrix_start, a.matrix_end,
                             a.quad_start, mu, kept, alpha_p, alpha_d, pair_count, predicted, ranges,
                             primal_tolerance, dual_tolerance, refinement_steps);
    corrector_count += kept;
    kept = 0;
    apply_centrality_correctors(p, a.x, a.s, a.z, a.w, a.upper_residual, a.q_dx, a.slack_diag, a.q_x, a.push_work,
                                a.dx, a.dy, a.dz, a.dw, a.upper, a.pivot_order, a.factor_first, a.factor_last,
                                a.factor_index, a.factor_value, r.w.supernode_end, r.w.supernode_mark, a.diag,
                                a.diag_copy, a.matrix_start, a.matrix_end, a.quad_start, mu, kept, alpha_p,
                                alpha_d, ranges, primal_tolerance, dual_tolerance, refinement_steps);
    corrector_count += kept;

    // E27: an accurate corrector solve lets the floor tighten.
    if ((flags & kCorrectorAccurate) != 0 && (flags & kRegularisedMode) == 0) {
      double smallest = p.TZER;
      double largest = -1.0 / p.TZER;
      for (int32_t j = ranges[kFirstFreeColumn]; j <= ranges[kLastBoxedColumn]; ++j) {
        if (a.var_state[j] != 1) continue;
        smallest = std::min(smallest, a.diag_copy[j] + a.quad_diag[j]);
        largest = std::max(largest, a.diag_copy[j] + a.quad_diag[j]);
      }
      r.ratio_floor = std::min(r.ratio_floor, largest / smallest);
      flags &= ~kTroubleCounter;
    }

    // E28-E32: the step.
    ++iteration_count;
    alpha_p *= p.PRDARE;
    alpha_d *= p.DUDARE;
    limit_step_by_complementarity(p, alpha_p, alpha_d, a.x, a.dx, a.z, a.dz, a.s, a.upper_residual, a.w, a.dw,
                                  ranges);
    if (r.quadratic) {
      balance_step_lengths(p, alpha_p, alpha_d, a.dual_residual, a.dx, a.q_dx, a.quad_diag, a.quad_start,
                           a.factor_index, a.factor_value, ranges);
    } else {
      for (int32_t j = 1; j <= r.n; ++j) a.q_dx[j] = 0.0;
    }
    take_barrier_step(p, alpha_p, a.x, a.dx, a.s, a.upper_residual, alpha_d, a.y, a.dy, a.z, a.dz, a.w, a.dw,
                      ranges, last_move);
  }
}

}  // namespace kl
