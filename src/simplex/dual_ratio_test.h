// The bound-flipping ratio test of the dual simplex: for the leaving row r
// chosen by the dual loop, the row rho = e_r' B^-1, the pivot row alpha_r
// over the nonbasic positions, and the entering column by a long-step dual
// ratio test. Boxed candidates whose breakpoint lies before the point where
// the dual objective stops improving are flipped to their other bound
// instead of entering.
//
// Sign conventions per candidate j (pivot-row entry alpha_j, reduced cost
// d_j): alpha' = alpha_j and d' = d_j, both negated for a position at its
// upper bound (0x4). A structural column held at a value (0x100) takes
// d' = -d_j when d_j > ZTCOST, alpha_j < 0 and it has no upper bound, or
// when d_j < -ZTCOST and alpha_j > 0; both negated when |d_j| <= ZTCOST and
// alpha_j < 0. A candidate with alpha' > 0 and d' + ZTCOST >= 0 has the
// ratio (d' + ZTCOST) / alpha'; one with d' + ZTCOST < 0 is dual infeasible
// (a phase-1 candidate).
//
// The pivot row lives in pivot_row (array 41, one real per position) with
// its list in array 39 (read as ints): the slack entries first
// (dual_pivot_row.slack_count of them), then the structural columns. In dual
// pricing mode 1 a slack entry is stored and listed under its reduced factor
// index k (so that the slack part is rho itself, ready for the factor
// solves of the pivot update); in mode 0 under its row factor_rows[k].
#ifndef KLSOL_SIMPLEX_DUAL_RATIO_TEST_H
#define KLSOL_SIMPLEX_DUAL_RATIO_TEST_H

#include <cstdint>

#include "problem/array_ids.h"
#include "runtime/arrays.h"

namespace kl {

// Breakpoints the heap holds at most; also the length of the phase-1
// candidate list and of the flip list.
inline constexpr int32_t kBreakpointCapacity = 3000;
// Below this heap size (and with the slope still negative) the heap top
// may enter; at or above it the best unboxed candidate is preferred.
inline constexpr int32_t kBreakpointHeapNearlyFull = 2999;

// The trouble argument of bound_flip_ratio_test.
enum DualRatioTrouble : int32_t {
  DUAL_RATIO_CLEAN = 0,
  // A dual-infeasible candidate in phase 2: the reduced costs disagree with
  // the pivot row, no entering column is chosen. The caller refactorises or
  // restarts and treats the row as infeasible only when fresh duals still
  // leave it without a candidate.
  DUAL_RATIO_PHASE1_CANDIDATE = 1,
};
const char* dual_ratio_trouble_text(int32_t trouble);

// The pivot row of the last test (see the head of this file).
struct DualPivotRow {
  int32_t count = 0;        // entries of the list
  int32_t slack_count = 0;  // the first slack_count entries are slacks
  // leaving_row when the row was computed. A leaving row beyond the reduced
  // factor is renumbered when the entering column brings it in; the pivot
  // update then finds its slack entry under the new number.
  int32_t leaving_index = 0;
  // Product-form etas (row_eta_count of factor/basis.h) when the row was
  // computed: the update can tell whether the eta of this pivot is stored.
  int32_t eta_count = 0;
};
extern DualPivotRow dual_pivot_row;
inline OneBased<double> pivot_row_values() { return real_array(ARR_PIVOT_ROW); }
inline OneBased<int32_t> pivot_row_list() { return int_array(ARR_PIVOT_ROW_INDEX); }

// Entry alpha_j of the pivot row for position j, wherever it is stored (a
// slack under its reduced factor index in pricing mode 1).
double pivot_row_alpha(int32_t position);

// Zeroes the pivot row left by the last test (by its list while the list
// is short, else every position) and empties the list. The test starts
// with it, since the scatter adds into the row.
void clear_pivot_row();

// The positions to flip to their other bound, chosen by the last test:
// columns[1..count], with to_upper[k] 1 when column k goes to its working
// upper bound and 0 when to its working lower bound (a column held at a
// value goes the way its reduced cost will point after the step). applied
// is 1 once apply_bound_flips has carried them out (dual_pivot_update.h).
struct BoundFlipList {
  int32_t count = 0;
  int32_t applied = 0;
  int32_t columns[kBreakpointCapacity + 2] = {};
  int8_t to_upper[kBreakpointCapacity + 2] = {};
};
extern BoundFlipList bound_flips;

// Counters a test can read: every fall-back of the ratio test counts here.
struct DualRatioStats {
  int64_t tests = 0;               // bound_flip_ratio_test calls
  int64_t troubles = 0;            // DUAL_RATIO_PHASE1_CANDIDATE returned
  int64_t no_entering = 0;         // no candidate at all
  int64_t flips_chosen = 0;        // columns put on flip lists
  int64_t flips_filtered = 0;      // flips dropped by the short-step filter
  int64_t slack_cost_shifts = 0;   // tiny wrong-signed slack costs shifted
  int64_t heap_overflows = 0;      // insertions into a full breakpoint heap
  int64_t tie_swaps = 0;           // entering column changed by the tie rule
  int64_t weight_resets = 0;       // row weights reset by the weight check
  int32_t last_strategy = 0;       // DualRowStrategy of the last test
};
extern DualRatioStats dual_ratio_stats;

// How the structural part of the pivot row was computed.
enum DualRowStrategy : int32_t {
  DUAL_ROW_NONE = 0,       // no structural part (rho empty)
  DUAL_ROW_BY_COLUMNS = 1, // dot products with every column
  DUAL_ROW_SCATTERED = 2,  // scatter through the row-wise copy
  DUAL_ROW_MERGED = 3,     // merged walk of the row lists
};
const char* dual_row_strategy_text(int32_t strategy);

// Runs the test for leaving_row / leaving_direction (with leaving_variable
// and the basic value of the leaving row). Results: entering_column (0 =
// none), entering_sign, entering_reduced_cost (d_q), entering_upper,
// entering_weight (the row norm: the squared norm of rho in pricing mode 1,
// the norm of rho and the structural alphas in mode 0), the pivot row, the
// flip list, stall_count, and *trouble (a DualRatioTrouble).
void bound_flip_ratio_test(int32_t* trouble);

// The structural part of the scan: dot products of rho with every column
// (a dense rho), or a scatter of rho through the row-wise copy (a medium
// one); a sparse rho is walked row by row in column order instead. They
// share the state of the test that is running and do nothing outside one.
void collect_breakpoints();
void collect_breakpoints_scattered();

// pivot_row[j] += vector[k] x a_ij for every listed k (row i = k, or
// factor_rows[k] when factor_permuted) and every element (j, a_ij) of row i
// in the row-wise copy.
void scatter_pivot_row(int32_t count, OneBased<int32_t> list, OneBased<int32_t> factor_rows,
                       OneBased<int32_t> row_starts, OneBased<int32_t> row_columns,
                       OneBased<double> row_values, OneBased<double> pivot_row, OneBased<double> vector,
                       int32_t factor_permuted);

// Free list of the breakpoint pool re-initialised (every dual run).
void reset_breakpoint_pool();

}  // namespace kl

#endif
