// The barrier presolve's shared data and the routines every pass uses.
//
// The presolve works in place on the barrier's own copy of the problem and
// takes no memory: PresolveData is a set of views onto work arrays that are
// idle before the iterations, built by make_presolve_data from the work
// array set. Every array is 1-based (element 1 at p[1]); positions 1..n are
// the columns, n + i the slack of row i. The presolve runs before the row
// indices are shifted, so factor_index holds row numbers 1..m.
//
// Entry lists
//   Column j's entries lie in factor_index / factor_value from
//   matrix_start[j] to matrix_start[j+1] - 1; its live entries are
//   factor_first[j]..factor_last[j], a prefix of that range. The row-wise
//   copy lies in row_index / row_value (views onto the top of the factor
//   space, entry 1 at row_index[1]); row i's live entries are
//   factor_first[n+i]..factor_last[n+i] of that copy. An entry leaves a live
//   list by swapping (index and value together) with the last live entry and
//   lowering the last; nothing is deleted, so the entries after the live part
//   of a column are its removed entries, which the restoration still reads.
//
// Bounds
//   A bound v is infinite when |v| >= finite_limit (0.9 x infinity); where a
//   pass makes a bound infinite it stores +-infinity itself.
//
// Results of the stages and passes: 0 done, -2 work space short,
// 3 unbounded, 4 infeasible. A pass ending with 3 or 4 puts its culprit as a
// negative position into candidate_count (-(n + i) for row i, -j for column
// j); the driver then gives that position state 3.
//
// var_state codes the presolve leaves (< -1: removed):
//   -3        column fixed by a singleton row
//   -(13+j)   row: singleton row on column j; its slack lower / upper cell
//             holds the coefficient when the row gave j that bound, else 0
//   -4        free column singleton substituted out, and its row (the row
//             follows the column in presolve_list)
//   -5        forcing or redundant row; column fixed by a forcing row
//             (lower = value, upper = +1 / -1: the direction)
//   -6        dominated or empty column (lower = upper = value when fixed);
//             rows removed with a column sent to an infinite bound follow it
//   -7        column fixed by the dual-bound pass; row with a fixed dual
//   -8        nearly fixed column fixed at its midpoint
//   -(19+n+r) row merged into duplicate row r (slack upper cell = ratio,
//             slack lower cell = 0..3: which of r's bounds came from it)
//   -(19+k)   column merged into duplicate column k (cost = ratio, lower /
//             upper = its scaled bounds, col_bound_code = 0, 4, 8 or 12)
//   -10       free column eliminated through an equality row, and that row
//             (the row follows the column in presolve_list)
//   -11       dependent equality row
#ifndef KLSOL_BARRIER_PRESOLVE_PRESOLVE_DATA_H
#define KLSOL_BARRIER_PRESOLVE_PRESOLVE_DATA_H

#include <cstdint>

#include "barrier/barrier_params.h"
#include "barrier/pipeline.h"

namespace kl {

// Bits of PRESOLV.
inline constexpr int32_t kPresolveSingletonRows = 0x1;
inline constexpr int32_t kPresolveSingletonColumns = 0x2;
inline constexpr int32_t kPresolveForcingRows = 0x4;
inline constexpr int32_t kPresolveDominatedColumns = 0x8;
inline constexpr int32_t kPresolveDualBounds = 0x10;
inline constexpr int32_t kPresolveImpliedBounds = 0x20;
inline constexpr int32_t kPresolveDuplicates = 0x40;
inline constexpr int32_t kPresolveDoubletons = 0x80;
inline constexpr int32_t kPresolveFreeColumns = 0x100;
inline constexpr int32_t kPresolveDependentRows = 0x200;
inline constexpr int32_t kPresolveSparsify = 0x400;
inline constexpr int32_t kPresolveKeepImpliedBounds = 0x800;
inline constexpr int32_t kPresolveFixedDualRows = 0x1000;
inline constexpr int32_t kPresolveSecondRun = 0x2000;

// Results.
inline constexpr int32_t kPresolveDone = 0;
inline constexpr int32_t kPresolveSpaceShort = -2;
inline constexpr int32_t kPresolveUnbounded = 3;
inline constexpr int32_t kPresolveInfeasible = 4;

// Fixed zero test of the passes (costs, coefficients).
inline constexpr double kPresolveTiny = 1e-15;

struct PresolveData {
  barrier_params* params = nullptr;    // PRESFEAS, TZER, DUALBND, DULOOP, BNDLOOP, ... matrix_nz, quad_nz, free_space
  const BarrierWorkArrays* arrays = nullptr;  // the whole set, for passes that borrow idle arrays
  int32_t n = 0;
  int32_t m = 0;
  int32_t flags = 0;                   // the PRESOLV word of this call

  // Matrix storage.
  int32_t* matrix_start = nullptr;     // n + 1
  int32_t* quad_start = nullptr;       // n + 1
  int32_t* factor_index = nullptr;     // factor_space; column entries hold row numbers 1..m
  double* factor_value = nullptr;
  int32_t* factor_first = nullptr;     // n + m: live range of columns, then of rows (row-wise copy)
  int32_t* factor_last = nullptr;
  int32_t* row_index = nullptr;        // row-wise copy (column numbers), 1-based view
  double* row_value = nullptr;
  int32_t row_base = 0;                // row_index == factor_index + row_base

  // Problem.
  int32_t* var_state = nullptr;        // n + m
  int32_t* quad_mark = nullptr;        // n: 1 for a column with a quadratic term
  int32_t* col_bound_code = nullptr;   // n
  int32_t* slack_bound_code = nullptr; // m
  double* lower = nullptr;             // n + m
  double* upper = nullptr;             // n + m
  double* cost = nullptr;              // n
  double* rhs = nullptr;               // m
  double* objective_constant = nullptr;
  double infinity = 0.0;
  double finite_limit = 0.0;           // 0.9 x infinity

  // Removal records.
  int32_t* presolve_list = nullptr;    // n + m, removed positions in removal order
  int32_t* presolve_count = nullptr;   // only grows

  // Active lists: columns from entry 1, rows from entry n + 1 (row numbers).
  int32_t* active_list = nullptr;      // n + m
  int32_t active_col_count = 0;
  int32_t active_row_count = 0;
  int32_t* touch_mark = nullptr;       // n + m: pass that last changed it; -p once dropped

  // Candidates: rows are stored as row numbers. The dual-bound pass's row
  // candidates live from entry n + 1 of candidate_list.
  int32_t* candidate_list = nullptr;   // n + m
  int32_t* candidate_mark = nullptr;   // n + m (+2): -1 not listed
  int32_t candidate_count = 0;         // also carries the culprit (negative) of a verdict
  int32_t row_candidate_count = 0;
  int32_t refresh_count = 0;
  bool candidate_kind_rows = false;    // the main candidate list holds rows (else columns)

  // Row activity bounds (indexed by row number); the infinite counts are
  // whole numbers kept in double storage.
  double* max_activity = nullptr;
  double* max_infinite = nullptr;
  double* min_activity = nullptr;
  double* min_infinite = nullptr;

  // Per-column values of the passes (indexed by column). The dual-bound
  // pass keeps its dual activity bounds there; the implied-bounds pass its
  // saved bounds and its two tightening counters.
  double* saved_lower = nullptr;       // column part of dx (read by the pipeline afterwards)
  double* saved_upper = nullptr;       // column part of q_dx (read by the pipeline afterwards)
  double* col_work_a = nullptr;        // column part of diag
  double* col_work_b = nullptr;        // column part of diag_copy
  double* dual_max_activity = nullptr; // = saved_upper
  double* dual_max_infinite = nullptr; // = col_work_a
  double* dual_min_activity = nullptr; // = saved_lower
  double* dual_min_infinite = nullptr; // = col_work_b

  // Row dual bounds of the dual-bound pass (indexed by row number).
  double* dual_lower = nullptr;        // y
  double* dual_upper = nullptr;        // dy
};

// Views onto the work arrays (see above); row_base is set to matrix_nz +
// quad_nz + free_space.
PresolveData make_presolve_data(barrier_params& params, const BarrierWorkArrays& arrays, int32_t flags,
                                int32_t& presolve_count, double& objective_constant, double infinity);

// Stages (called by solve_barrier_problem).
int32_t presolve_barrier_problem(PresolveData& d);
int32_t reduce_barrier_problem(PresolveData& d);

// Shared routines.

// Rebuilds the two active lists and the candidate list for pass p (rows are
// worked on for p = 1, 3, 5, columns for p = 2, 4; pass 5 fills the row
// candidate list from entry n + 1).
void refresh_presolve_lists(PresolveData& d, int32_t pass);

// For the live entries first..last of a line (index/value of one
// orientation), adds (sign +1) or removes (sign -1) its contribution under
// the bounds [lower, upper] to the four activity arrays of the partner
// lines: each finite term adds sign x a x bound, each infinite one sign to
// the count.
void add_column_activity(const int32_t* index, const double* value, int32_t first, int32_t last, double upper,
                         double lower, int32_t sign, double* max_activity, double* max_infinite,
                         double* min_activity, double* min_infinite, double finite_limit);
// The same on column j's live entries into the row activity bounds.
void add_column_activity(PresolveData& d, int32_t j, double upper, double lower, int32_t sign);

// One bound of a line moves from old_bound to new_bound (sign +1 an upper
// bound, -1 a lower one); the partners' activity arrays follow.
void update_activity_bound(const int32_t* index, const double* value, int32_t first, int32_t last,
                           double old_bound, double new_bound, int32_t sign, double* max_activity,
                           double* max_infinite, double* min_activity, double* min_infinite, double finite_limit);

// Takes position e (column j or n + i) out of its partners' live lists; e's
// own list is left as it is. With fold, vector[partner] -= value x a for
// every live entry of e (rhs when a column is fixed, cost when a row with a
// dual value is removed).
void detach_presolve_line(PresolveData& d, int32_t e, double* vector, double value, bool fold);

// Small helpers the passes share.
inline bool presolve_is_removed(const PresolveData& d, int32_t position) { return d.var_state[position] < -1; }
inline int32_t presolve_live_count(const PresolveData& d, int32_t position) {
  return d.factor_last[position] - d.factor_first[position] + 1;
}
// Appends a removed position to presolve_list and gives it its state.
void record_presolve_removal(PresolveData& d, int32_t position, int32_t state);
// Touch: back on its active list when its touch mark is negative; mark := p.
void touch_presolve_line(PresolveData& d, int32_t position, int32_t pass);
// Queue: on the running candidate list when its candidate mark is negative.
void queue_presolve_candidate(PresolveData& d, int32_t position, int32_t pass);
// Pops the first candidate (the last moves into its place); mark := -1.
// Returns 0 when the list is empty.
int32_t pop_presolve_candidate(PresolveData& d);

// Passes. Each returns one of the results above.
int32_t presolve_singleton_rows(PresolveData& d, int32_t pass);       // pass 1
int32_t presolve_singleton_columns(PresolveData& d, int32_t pass);    // pass 2
int32_t presolve_forcing_rows(PresolveData& d, int32_t pass);         // pass 3
int32_t presolve_dominated_columns(PresolveData& d, int32_t pass);    // pass 4
int32_t presolve_dual_bounds(PresolveData& d, int32_t pass);          // pass 5
int32_t presolve_implied_bounds(PresolveData& d, int32_t pass);       // pass 6
int32_t presolve_duplicate_rows(PresolveData& d, int32_t pass);       // pass 7; leaves in the active column
                                                                       // list the columns left as singletons
int32_t presolve_doubleton_equations(PresolveData& d, int32_t pass);  // pass 8
int32_t presolve_duplicate_columns(PresolveData& d, int32_t pass);    // pass 7; always 0
int32_t find_dependent_rows(PresolveData& d, int32_t pass);           // pass 9
// The whole free-column step of the second stage: re-lays the storage,
// eliminates, re-lays with the eliminated rows and records the pairs;
// updates params->matrix_nz. Pass 8.
int32_t eliminate_free_columns(PresolveData& d, int32_t pass);
// Runs on the row-wise copy that reduce_barrier_problem rebuilds just before.
int32_t sparsify_equations(PresolveData& d, int32_t pass);

}  // namespace kl

#endif
