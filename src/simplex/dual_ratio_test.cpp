#include "simplex/dual_ratio_test.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "simplex/dual_driver.h"
#include "simplex/dual_loop.h"
#include "simplex/infeasibility_heap.h"
#include "simplex/primal_pricing.h"
#include "factor/simplex_state.h"

namespace kl {

DualPivotRow dual_pivot_row;
BoundFlipList bound_flips;
DualRatioStats dual_ratio_stats;

namespace {

// Positions that never enter: basic, fixed, marked, fixed by the search.
constexpr uint32_t kNotCandidate = PS_SEARCH_FIXED | PS_MARK | PS_FIXED | PS_BASIC;

constexpr double kNoUnboxedRatio = 1e18;
constexpr double kDroppedUnboxedRatio = 1e24;
// Above every key a breakpoint can carry: a ratio of a cost near 1e50 is a
// legitimate key, and a key at or above the sentinel would sift past the
// root for ever.
constexpr double kSentinelKey = std::numeric_limits<double>::infinity();
constexpr double kLargestKey = std::numeric_limits<double>::max();
// Phase 1 has no slope limit: its initial slope and its phase-1 limit.
constexpr double kPhase1Slope = -1e20;
constexpr double kPhase2Limit = 1e20;
// A slack whose side-adjusted reduced cost is wrong by less than this many
// ZTCOST is shifted by as much rather than treated as dual infeasible.
constexpr double kSlackShiftMultiple = 100.0;
// A structural pivot below kSmallPivotMultiple ZTOLPV with d' below
// kSmallPivotCostMultiple ZTCOST is not worth the risk.
constexpr double kSmallPivotMultiple = 50.0;
constexpr double kSmallPivotCostMultiple = 25.0;
// A phase-1 amount this large dominates the others: the total is rebuilt
// from them rather than reduced by it.
constexpr double kDominantAmount = 1e10;
// Steps with |d_q| at most this share of ZTCOST (times cost_magnitude
// without shifts) count as stalled.
constexpr double kStallShare = 0.1;
// A step with dq' below this is short: flips that stay dual feasible after
// it are not needed. A slightly negative dq' is taken as this share of
// what is left to ZTCOST.
constexpr double kShortStep = 0.1;
constexpr double kShortStepShare = 0.05;
// Weight check of pricing mode 0.
constexpr int32_t kWeightCheckStep = 1;
constexpr int32_t kWeightCheckPenalty = 11;
constexpr int32_t kWeightCheckLimit = 99;
// Choice of the structural scan by the density of rho (c nonzeros) and the
// elements W of the rows it touches.
constexpr int32_t kByColumnsNumerator = 10, kByColumnsDenominator = 9;  // 10 c > 9 nrow
constexpr int32_t kScatterNumerator = 10, kScatterDenominator = 5;      // 10 c > 5 nrow
constexpr int64_t kMergedElementShare = 20;                              // nelem < 20 W scatters
// A pivot-row list covering more than these tenths of the positions is
// cleared by a sweep of all positions.
constexpr int64_t kClearListTenths = 8;

// The breakpoint pool and heap: slots 1..kBreakpointCapacity, slot
// kSentinelSlot is the sentinel at heap position 0 whose key is above every
// key, so a sift-up stops at the root without a test.
constexpr int32_t kSentinelSlot = kBreakpointCapacity + 1;
struct BreakpointPool {
  double key[kBreakpointCapacity + 2] = {};
  double jump[kBreakpointCapacity + 2] = {};
  int32_t column[kBreakpointCapacity + 2] = {};
  int32_t next_free[kBreakpointCapacity + 2] = {};
  int32_t free_head = 1;
  int32_t heap[kBreakpointCapacity + 1] = {};
  int32_t size = 0;
  int32_t largest_size = kBreakpointCapacity;
};
BreakpointPool pool;

// The listed dual-infeasible candidates (phase 1).
struct Phase1Candidates {
  int32_t column[kBreakpointCapacity] = {};
  double ratio[kBreakpointCapacity] = {};
  double amount[kBreakpointCapacity] = {};
  int32_t count = 0;
};
Phase1Candidates phase1_candidates;

// State of the test that is running, shared by the scans.
struct TestState {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> list = pivot_row_list();
  double zt_cost = dcv(dc::ZTCOST);
  double zt_pivot = dcv(dc::ZTOLPV);
  double zt_eta = dcv(dc::ZTETA);
  int32_t mode = dual_pricing_mode;
  bool phase1 = false;
  double slope = 0.0;
  double slope_start = 0.0;
  int32_t unboxed = 0;
  double unboxed_ratio = kNoUnboxedRatio;
  double amount_total = 0.0;       // A
  double amount_limit = 0.0;       // L
  double infeasible_sum = 0.0;     // sum of -alpha' over dual-infeasible candidates
  double weight = 0.0;             // entering_weight being summed
};
TestState* state = nullptr;

// Scratch of the scatter: marks of the columns touched, and their list.
std::vector<uint8_t> touched_mark;
std::vector<int32_t> touched;

// ---------------------------------------------------------------------------
// The breakpoint heap.

void place(int32_t position, int32_t slot) { pool.heap[position] = slot; }

void sift_up(int32_t position) {
  const int32_t slot = pool.heap[position];
  const double key = pool.key[slot];
  while (pool.key[pool.heap[position / 2]] < key) {
    place(position, pool.heap[position / 2]);
    position /= 2;
  }
  place(position, slot);
}

void sift_down(int32_t position) {
  const int32_t slot = pool.heap[position];
  const double key = pool.key[slot];
  for (;;) {
    int32_t child = 2 * position;
    if (child > pool.size) break;
    if (child < pool.size && pool.key[pool.heap[child + 1]] > pool.key[pool.heap[child]]) ++child;
    if (!(pool.key[pool.heap[child]] > key)) break;
    place(position, pool.heap[child]);
    position = child;
  }
  place(position, slot);
}

void insert_breakpoint(int32_t j, double key, double jump) {
  const int32_t slot = pool.free_head;
  pool.free_head = pool.next_free[slot];
  pool.key[slot] = std::min(key, kLargestKey);
  pool.jump[slot] = jump;
  pool.column[slot] = j;
  pool.heap[++pool.size] = slot;
  pool.largest_size = std::max(pool.largest_size, pool.size);
  sift_up(pool.size);
  state->slope += jump;
}

// Removes the top; a heap emptied this way restores the initial slope.
void remove_top() {
  const int32_t slot = pool.heap[1];
  state->slope -= pool.jump[slot];
  pool.next_free[slot] = pool.free_head;
  pool.free_head = slot;
  pool.heap[1] = pool.heap[pool.size];
  --pool.size;
  if (pool.size > 0) sift_down(1);
  if (pool.size == 0) state->slope = state->slope_start;
}

void drop_unboxed() {
  state->unboxed = 0;
  state->unboxed_ratio = kDroppedUnboxedRatio;
}

// Keeps only the breakpoints that can still matter: those before the point
// where the slope turns non-negative, and those before the best unboxed
// candidate. A full heap loses its top at every insertion.
void prune_heap() {
  TestState& t = *state;
  while (pool.size > 0) {
    const int32_t top = pool.heap[1];
    if (pool.size < kBreakpointCapacity) {
      if (t.unboxed == 0) {
        if (t.slope < pool.jump[top]) return;
      } else if (t.unboxed_ratio > pool.key[top]) {
        if (t.slope < 0.0) return;
        drop_unboxed();
        if (t.slope < pool.jump[top]) return;
      }
    } else {
      ++dual_ratio_stats.heap_overflows;
    }
    remove_top();
  }
}

// ---------------------------------------------------------------------------
// Judging candidates.

// A candidate that is dual infeasible: counted for the consistency check,
// listed when it moves towards feasibility, and the list pruned to the
// entries whose amounts the phase-1 limit can absorb.
void phase1_candidate(int32_t j, double d_side, double a_side) {
  TestState& t = *state;
  Phase1Candidates& p = phase1_candidates;
  t.infeasible_sum += -a_side;
  if (!(a_side < 0.0) || p.count >= kBreakpointCapacity) return;
  p.column[p.count] = j;
  p.ratio[p.count] = d_side / a_side;
  p.amount[p.count] = -a_side;
  ++p.count;
  t.amount_total += -a_side;
  while (t.amount_total > t.amount_limit) {
    int32_t largest = 0;
    for (int32_t k = 1; k < p.count; ++k)
      if (p.ratio[k] > p.ratio[largest]) largest = k;
    double rest;
    if (p.amount[largest] >= kDominantAmount) {
      rest = 0.0;
      for (int32_t k = 0; k < p.count; ++k)
        if (k != largest) rest += p.amount[k];
    } else {
      rest = t.amount_total - p.amount[largest];
    }
    if (rest <= t.amount_limit) return;
    --p.count;
    p.column[largest] = p.column[p.count];
    p.ratio[largest] = p.ratio[p.count];
    p.amount[largest] = p.amount[p.count];
    t.amount_total = rest;
  }
}

// A candidate with alpha' > 0 and d' + ZTCOST >= 0.
void ratio_candidate(int32_t j, double d_side, double a_side, bool boxed, double range) {
  TestState& t = *state;
  const double ratio = (d_side + t.zt_cost) / a_side;
  if (t.unboxed != 0 && !(ratio < t.unboxed_ratio)) return;
  if (boxed) {
    if (pool.size >= kBreakpointCapacity) prune_heap();
    insert_breakpoint(j, ratio, range * a_side);
  } else {
    t.unboxed = j;
    t.unboxed_ratio = ratio;
  }
  prune_heap();
}

// Side-adjusted d' and alpha' of a structural column (see the header).
void orient_structural(uint32_t st, double dj, double aj, double upper, double& d_side, double& a_side) {
  const double tc = state->zt_cost;
  d_side = dj;
  a_side = aj;
  if ((st & PS_AT_UPPER) != 0) {
    d_side = -dj;
    a_side = -aj;
  } else if ((st & PS_NONBASIC_BETWEEN) != 0) {
    if ((dj > tc && aj < 0.0 && upper >= kInfinity) || (dj < -tc && aj > 0.0)) {
      d_side = -dj;
    } else if (std::fabs(dj) <= tc && aj < 0.0) {
      d_side = -dj;
      a_side = -aj;
    }
  }
}

void judge_slack(int32_t i, double aj) {
  TestState& t = *state;
  if (std::fabs(aj) <= t.zt_pivot) return;
  const uint32_t st = static_cast<uint32_t>(t.status[i]);
  const bool at_upper = (st & PS_AT_UPPER) != 0;
  double d_side = at_upper ? -t.d[i] : t.d[i];
  const double a_side = at_upper ? -aj : aj;
  if (d_side + t.zt_cost < 0.0) {
    const bool small_error = d_side + kSlackShiftMultiple * t.zt_cost > 0.0;
    if (perturbation_phase > 3 || !small_error || (st & PS_DUAL_MARK) != 0) {
      phase1_candidate(i, d_side, a_side);
      return;
    }
    if (!(a_side > 0.0)) return;
    // A slightly wrong-signed slack cost is shifted away rather than
    // allowed to block the step.
    const double change = kSlackShiftMultiple * t.zt_cost;
    if (shift_count == 0) shift_count = 1;
    const double dj_change = at_upper ? -change : change;
    t.d[i] += dj_change;
    real_array(ARR_WORKING_COSTS)[i] += sense_factor * dj_change;
    d_side += change;
    ++dual_ratio_stats.slack_cost_shifts;
    if (icv(ic::IFMSG) > 2) {
      begin_message(MSG_DUAL_SLACK_COST_SHIFT);
      insert_message_int(itcnt);
      insert_message_int(i);
      insert_message_real(change);
      emit_message();
    }
  }
  // A slack never flips: its jump, alpha' times its range, is never below
  // the negative initial slope, so a boxed slack stops the step instead.
  if (a_side > 0.0) ratio_candidate(i, d_side, a_side, false, 0.0);
}

void judge_structural(int32_t j, double aj) {
  TestState& t = *state;
  if (std::fabs(aj) <= t.zt_pivot) return;
  const uint32_t st = static_cast<uint32_t>(t.status[j]);
  const double upper = t.work_upper[j];
  double d_side;
  double a_side;
  orient_structural(st, t.d[j], aj, upper, d_side, a_side);
  if (d_side < kSmallPivotCostMultiple * t.zt_cost && std::fabs(aj) < kSmallPivotMultiple * t.zt_pivot) return;
  if (d_side + t.zt_cost >= 0.0 && !(a_side > 0.0)) {
    if ((st & PS_NONBASIC_BETWEEN) == 0) return;
    d_side = -d_side;
    a_side = -a_side;
  }
  if (d_side + t.zt_cost < 0.0) {
    phase1_candidate(j, d_side, a_side);
    return;
  }
  const bool boxed = (st & PS_BOTH_FINITE) == PS_BOTH_FINITE;
  ratio_candidate(j, d_side, a_side, boxed, boxed ? upper - t.work_lower[j] : 0.0);
}

// Stores alpha_j of a structural candidate; judges it when it is not
// negligible.
void take_structural(int32_t j, double aj) {
  TestState& t = *state;
  if (std::fabs(aj) <= t.zt_eta) {
    t.alpha[j] = 0.0;
    return;
  }
  t.alpha[j] = aj;
  t.list[++dual_pivot_row.count] = j;
  if (t.mode == kDualPricingDevex) t.weight += aj * aj;
  judge_structural(j, aj);
}

// ---------------------------------------------------------------------------
// rho and the slack part.

// Work vector := rho = -e_r' B^-1 (direction 0) or +e_r' B^-1 (direction 1),
// listed.
void compute_rho(int32_t r) {
  const double value = leaving_direction == kLeaveAtUpper ? 1.0 : -1.0;
  if (r > factor.factor_dimension) {
    // Beyond the factor the row of the inverse is the unit row itself.
    clear_work_vector();
    work_vector()[r] = value;
    work_list()[1] = r;
    factor.work_vector_count = 1;
    factor.work_vector_state = WV_LISTED;
    return;
  }
  btran_unit_row(r, value);
}

void scan_slacks(OneBased<int32_t> factor_rows, bool permuted) {
  TestState& t = *state;
  OneBased<double> w = work_vector();
  OneBased<int32_t> wl = work_list();
  const bool steepest = t.mode == kDualPricingSteepestEdge;
  // The norm is summed in a local, in the same order: through the shared
  // state every addition would wait for the store of the one before.
  double weight = t.weight;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = wl[n];
    const int32_t i = permuted ? factor_rows[k] : k;
    const double rho = w[k];
    const bool candidate = (static_cast<uint32_t>(t.status[i]) & kNotCandidate) == 0;
    if (steepest) {
      // The whole of rho is kept under its factor index: the pivot update
      // solves with it for the steepest-edge weights.
      t.alpha[k] = rho;
      t.list[++dual_pivot_row.count] = k;
      weight += rho * rho;
    } else if (candidate) {
      t.alpha[i] = rho;
      t.list[++dual_pivot_row.count] = i;
      weight += rho * rho;
    }
    if (candidate) judge_slack(i, rho);
  }
  t.weight = weight;
  dual_pivot_row.slack_count = dual_pivot_row.count;
}

// Merged walk of the rows of the row-wise copy listed in rho, in increasing
// column order through a heap of row cursors: each column's alpha is
// complete when it is judged, and nothing is scattered.
void collect_breakpoints_merged(OneBased<int32_t> factor_rows, bool permuted) {
  struct Cursor {
    int32_t column;
    int32_t element;
    int32_t end;
    double rho;
  };
  OneBased<double> w = work_vector();
  OneBased<int32_t> wl = work_list();
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> cols = int_array(ARR_ROW_COPY_COL);
  OneBased<double> vals = real_array(ARR_ROW_COPY_VAL);
  std::vector<Cursor> heap;
  heap.reserve(static_cast<size_t>(factor.work_vector_count));
  auto later = [](const Cursor& a, const Cursor& b) { return a.column > b.column; };
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = wl[n];
    const int32_t i = permuted ? factor_rows[k] : k;
    if (start[i] >= start[i + 1]) continue;
    heap.push_back({cols[start[i]], start[i], start[i + 1], w[k]});
  }
  std::make_heap(heap.begin(), heap.end(), later);
  while (!heap.empty()) {
    const int32_t j = heap.front().column;
    double aj = 0.0;
    while (!heap.empty() && heap.front().column == j) {
      std::pop_heap(heap.begin(), heap.end(), later);
      Cursor& c = heap.back();
      aj += c.rho * vals[c.element];
      if (++c.element < c.end) {
        c.column = cols[c.element];
        std::push_heap(heap.begin(), heap.end(), later);
      } else {
        heap.pop_back();
      }
    }
    if ((static_cast<uint32_t>(state->status[j]) & kNotCandidate) == 0) take_structural(j, aj);
  }
}

// Rows of the row-wise copy touched by rho: their element count.
int64_t touched_elements(OneBased<int32_t> factor_rows, bool permuted) {
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> wl = work_list();
  int64_t total = 0;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = wl[n];
    const int32_t i = permuted ? factor_rows[k] : k;
    total += start[i + 1] - start[i];
  }
  return total;
}

}  // namespace

// ---------------------------------------------------------------------------

const char* dual_ratio_trouble_text(int32_t trouble) {
  switch (trouble) {
    case DUAL_RATIO_CLEAN: return "clean";
    case DUAL_RATIO_PHASE1_CANDIDATE: return "dual-infeasible candidate in phase 2";
    default: return "unknown";
  }
}

const char* dual_row_strategy_text(int32_t strategy) {
  switch (strategy) {
    case DUAL_ROW_NONE: return "none";
    case DUAL_ROW_BY_COLUMNS: return "by columns";
    case DUAL_ROW_SCATTERED: return "scattered";
    case DUAL_ROW_MERGED: return "merged rows";
    default: return "unknown";
  }
}

double pivot_row_alpha(int32_t position) {
  if (position < store.first_col && dual_pricing_mode == kDualPricingSteepestEdge) {
    OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
    if (factor.factor_permuted != 0 && index) return pivot_row_values()[index[position]];
  }
  return pivot_row_values()[position];
}

void clear_pivot_row() {
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> list = pivot_row_list();
  if (!alpha) return;
  const int64_t count = dual_pivot_row.count;
  if (count > 0 && count * 10 < static_cast<int64_t>(nseq) * kClearListTenths) {
    for (int32_t n = 1; n <= dual_pivot_row.count; ++n) alpha[list[n]] = 0.0;
  } else if (count > 0) {
    for (int32_t p = 1; p <= nseq; ++p) alpha[p] = 0.0;
  }
  dual_pivot_row.count = 0;
  dual_pivot_row.slack_count = 0;
}

void reset_breakpoint_pool() {
  const int32_t last = std::min(pool.largest_size, kBreakpointCapacity);
  for (int32_t k = 1; k <= last; ++k) pool.next_free[k] = k + 1;
  pool.free_head = 1;
  pool.size = 0;
  pool.largest_size = 0;
  pool.key[kSentinelSlot] = kSentinelKey;
  pool.heap[0] = kSentinelSlot;
}

namespace {

// pivot_row[j] += vector[k] x a_ij over the listed rows; first_touch(j) runs
// on each element before it is added, so that a caller may list the columns
// met in the same pass.
template <typename FirstTouch>
void scatter_rows(int32_t count, OneBased<int32_t> list, OneBased<int32_t> factor_rows, OneBased<int32_t> row_starts,
                  OneBased<int32_t> row_columns, OneBased<double> row_values, OneBased<double> pivot_row,
                  OneBased<double> vector, int32_t factor_permuted, FirstTouch&& first_touch) {
  for (int32_t n = 1; n <= count; ++n) {
    const int32_t k = list[n];
    const int32_t i = factor_permuted != 0 ? factor_rows[k] : k;
    const double v = vector[k];
    for (int32_t e = row_starts[i]; e < row_starts[i + 1]; ++e) {
      const int32_t j = row_columns[e];
      first_touch(j);
      pivot_row[j] += v * row_values[e];
    }
  }
}

}  // namespace

void scatter_pivot_row(int32_t count, OneBased<int32_t> list, OneBased<int32_t> factor_rows,
                       OneBased<int32_t> row_starts, OneBased<int32_t> row_columns, OneBased<double> row_values,
                       OneBased<double> pivot_row, OneBased<double> vector, int32_t factor_permuted) {
  scatter_rows(count, list, factor_rows, row_starts, row_columns, row_values, pivot_row, vector, factor_permuted,
               [](int32_t) {});
}

void collect_breakpoints() {
  if (state == nullptr) return;
  TestState& t = *state;
  OneBased<double> w = work_vector();
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((static_cast<uint32_t>(t.status[j]) & kNotCandidate) != 0) continue;
    double aj = 0.0;
    if (permuted) {
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) aj += elem_value[e] * w[index[elem_row[e]]];
    } else {
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) aj += elem_value[e] * w[elem_row[e]];
    }
    take_structural(j, aj);
  }
}

void collect_breakpoints_scattered() {
  if (state == nullptr) return;
  TestState& t = *state;
  OneBased<int32_t> factor_rows = int_array(ARR_FACTOR_ROWS);
  const int32_t permuted = factor.factor_permuted != 0 && static_cast<bool>(factor_rows) ? 1 : 0;
  if (touched_mark.size() < static_cast<size_t>(nseq) + 1) {
    touched_mark.assign(static_cast<size_t>(nseq) + 1, 0);
    touched.assign(static_cast<size_t>(nseq) + 1, 0);
  }
  // The columns are listed in the order the scatter first meets them, in
  // the same pass, so that the rows are read once.
  uint8_t* mark = touched_mark.data();
  int32_t* listed = touched.data();
  int32_t count = 0;
  scatter_rows(factor.work_vector_count, work_list(), factor_rows, int_array(ARR_ROW_COPY_START),
               int_array(ARR_ROW_COPY_COL), real_array(ARR_ROW_COPY_VAL), t.alpha, work_vector(), permuted,
               [&](int32_t j) {
                 if (mark[j] != 0) return;
                 mark[j] = 1;
                 listed[count++] = j;
               });
  for (int32_t n = 0; n < count; ++n) {
    const int32_t j = listed[n];
    mark[j] = 0;
    const double aj = t.alpha[j];
    t.alpha[j] = 0.0;
    if ((static_cast<uint32_t>(t.status[j]) & kNotCandidate) == 0) take_structural(j, aj);
  }
}

namespace {

// Step 9 of the test: the entering column and the flip list from the heap,
// the best unboxed candidate and the phase-1 candidates. Returns false on
// trouble.
bool choose_entering(double& chosen_ratio) {
  TestState& t = *state;
  const Phase1Candidates& p = phase1_candidates;
  bound_flips.count = 0;
  bound_flips.applied = 0;
  int32_t best_p1 = -1;
  for (int32_t k = 0; k < p.count; ++k)
    if (best_p1 < 0 || p.ratio[k] > p.ratio[best_p1]) best_p1 = k;
  auto flip_whole_heap = [&]() {
    for (int32_t n = 1; n <= pool.size; ++n) bound_flips.columns[++bound_flips.count] = pool.column[pool.heap[n]];
  };
  if (best_p1 >= 0) {
    if (!t.phase1) return false;
    if (t.unboxed == 0 || p.ratio[best_p1] <= t.unboxed_ratio) {
      entering_column = p.column[best_p1];
      chosen_ratio = p.ratio[best_p1];
      flip_whole_heap();
    } else {
      entering_column = t.unboxed;
      chosen_ratio = t.unboxed_ratio;
      if (std::fabs(t.d[t.unboxed]) >= t.zt_cost) flip_whole_heap();
    }
    return true;
  }
  if (t.unboxed != 0) {
    entering_column = t.unboxed;
    chosen_ratio = t.unboxed_ratio;
    flip_whole_heap();
    return true;
  }
  if (pool.size == 0) return true;
  const int32_t top = pool.heap[1];
  int32_t enter_slot = top;
  const bool crossed = t.slope > 0.0 || pool.size >= kBreakpointHeapNearlyFull;
  if (crossed && std::fabs(t.d[pool.column[top]]) < t.zt_cost) {
    // A degenerate top has the largest ratio because its pivot is the
    // smallest. Among the breakpoints whose reduced costs are within ZTCOST
    // of it, the largest pivot enters instead, provided its own jump covers
    // what the flips overshoot (its primal step stays within its box); the
    // top is flipped. The step is as short and the pivot safer.
    const double overshoot = t.slope - dcv(dc::ZTOLZE);
    double best_alpha = std::fabs(pivot_row_alpha(pool.column[top]));
    for (int32_t n = 2; n <= pool.size; ++n) {
      const int32_t slot = pool.heap[n];
      const int32_t k = pool.column[slot];
      const double alpha_k = std::fabs(pivot_row_alpha(k));
      if (std::fabs(t.d[pool.column[top]] - t.d[k]) < t.zt_cost && pool.jump[slot] >= overshoot &&
          alpha_k > best_alpha) {
        best_alpha = alpha_k;
        enter_slot = slot;
      }
    }
    if (enter_slot != top) ++dual_ratio_stats.tie_swaps;
  }
  entering_column = pool.column[enter_slot];
  chosen_ratio = pool.key[enter_slot];
  for (int32_t n = 1; n <= pool.size; ++n)
    if (pool.heap[n] != enter_slot) bound_flips.columns[++bound_flips.count] = pool.column[pool.heap[n]];
  return true;
}

// Step 11 of the test: the figures of the entering column, the stall
// counter, the flip directions and the short-step filter of the flips.
void describe_entering(double chosen_ratio) {
  TestState& t = *state;
  const int32_t q = entering_column;
  if (icv(ic::IFMSG) > 2) {
    insert_message_int(itcnt);
    insert_message_real(0.0);
    insert_message_real(chosen_ratio);
    emit_message();
  }
  const uint32_t st = static_cast<uint32_t>(t.status[q]);
  const double dq = t.d[q];
  const double aq = pivot_row_alpha(q);
  entering_reduced_cost = dq;
  entering_upper = t.work_upper[q];
  entering_sign = 0;
  if ((st & PS_AT_UPPER) != 0 ||
      ((st & PS_NONBASIC_BETWEEN) != 0 && (dq > t.zt_cost || (dq >= -t.zt_cost && aq < 0.0))))
    entering_sign = 1;
  double dq_side = entering_sign == 1 ? -dq : dq;

  const double stall_limit = kStallShare * t.zt_cost * (shift_active != 0 ? 1.0 : cost_magnitude);
  stall_count = std::fabs(dq) <= stall_limit ? stall_count + 1 : 0;

  // Where each flip goes: a column at one bound to the other; a column held
  // at a value the way its reduced cost points once it passes its
  // breakpoint (down when alpha_j < 0, where d_j grows).
  for (int32_t n = 1; n <= bound_flips.count; ++n) {
    const int32_t k = bound_flips.columns[n];
    const uint32_t sk = static_cast<uint32_t>(t.status[k]);
    if ((sk & PS_NONBASIC_BETWEEN) != 0)
      bound_flips.to_upper[n] = pivot_row_alpha(k) > 0.0 ? 1 : 0;
    else
      bound_flips.to_upper[n] = (sk & PS_AT_UPPER) != 0 ? 0 : 1;
  }

  if (dq_side < kShortStep && bound_flips.count > 0) {
    if ((st & PS_DUAL_MARK) == 0 && dq_side < 0.0)
      dq_side = dq_side < -t.zt_cost ? 0.0 : (dq_side + t.zt_cost) * kShortStepShare;
    double theta = dq_side / aq;
    if (entering_sign == 1) theta = -theta;
    const double zt_dj = dcv(dc::ZTOLDJ);
    int32_t kept = 0;
    for (int32_t n = 1; n <= bound_flips.count; ++n) {
      const int32_t k = bound_flips.columns[n];
      const double after = t.d[k] - pivot_row_alpha(k) * theta;
      const bool stays_feasible = bound_flips.to_upper[n] != 0 ? after >= zt_dj : after <= -zt_dj;
      if (stays_feasible) {
        ++dual_ratio_stats.flips_filtered;
        continue;
      }
      ++kept;
      bound_flips.columns[kept] = k;
      bound_flips.to_upper[kept] = bound_flips.to_upper[n];
    }
    bound_flips.count = kept;
  }
}

// Step 13: the stored weight of the leaving row against the row norm just
// computed; repeated large disagreements reset all row weights.
void check_row_weight(int32_t r) {
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (r > factor.factor_dimension) weights[r] = 1.0;
  if (state->mode != kDualPricingDevex) return;
  if (weights[r] > dcv(dc::ZTOLMN) * entering_weight) {
    weight_check_count += kWeightCheckPenalty;
    if (weight_check_count > kWeightCheckLimit) {
      if (icv(ic::IFMSG) > 2) {
        begin_message(MSG_DUAL_WEIGHTS_RESET);
        insert_message_int(itcnt);
        insert_message_int(r);
        insert_message_real(weights[r]);
        emit_message();
      }
      weight_check_count = 0;
      reset_pricing_weights_alt();
      ++dual_ratio_stats.weight_resets;
      if (nnegdj == 0) build_infeasibility_heap();
    }
  } else {
    weight_check_count += kWeightCheckStep;
  }
}

}  // namespace

void bound_flip_ratio_test(int32_t* trouble) {
  *trouble = DUAL_RATIO_CLEAN;
  ++dual_ratio_stats.tests;
  TestState t;
  state = &t;
  const int32_t r = leaving_row;
  OneBased<int32_t> factor_rows = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(factor_rows);

  // 1-2. rho, and the phase.
  clear_pivot_row();
  dual_pivot_row.leaving_index = r;
  dual_pivot_row.eta_count = eta_file.row_eta_count;
  compute_rho(r);
  t.phase1 = nnegdj > 0;
  phase1_values_current = t.phase1 ? 1 : 0;

  // 3. Initial state.
  if (pool.heap[0] != kSentinelSlot) reset_breakpoint_pool();
  phase1_candidates.count = 0;
  if (t.phase1) {
    t.slope_start = kPhase1Slope;
    t.amount_limit = std::fabs(real_array(ARR_PHASE1_VALUES)[r]);
  } else {
    const double x = real_array(ARR_BASIC_VALUES)[r];
    const int32_t p = leaving_variable;
    const double to_bound = leaving_direction == kLeaveAtUpper ? t.work_upper[p] - x : x - t.work_lower[p];
    t.slope_start = to_bound + dcv(dc::ZTOLZE);
    if (std::fabs(t.slope_start) < t.zt_eta) t.slope_start = -t.zt_eta;
    t.amount_limit = kPhase2Limit;
  }
  t.slope = t.slope_start;
  entering_column = 0;
  entering_weight = 0.0;

  // 4. Slacks.
  scan_slacks(factor_rows, permuted);

  // 5. Structural columns, by the density of rho.
  const int32_t c = factor.work_vector_count;
  int32_t strategy = DUAL_ROW_MERGED;
  if (!(problem_flags & PF_ROW_COPY) || kByColumnsNumerator * static_cast<int64_t>(c) >
                                           kByColumnsDenominator * static_cast<int64_t>(nrow)) {
    strategy = DUAL_ROW_BY_COLUMNS;
  } else if (kScatterNumerator * static_cast<int64_t>(c) > kScatterDenominator * static_cast<int64_t>(nrow) ||
             c > kBreakpointCapacity) {
    strategy = DUAL_ROW_SCATTERED;
  } else if (static_cast<int64_t>(nelem) < kMergedElementShare * touched_elements(factor_rows, permuted)) {
    strategy = DUAL_ROW_SCATTERED;
  }
  if (c == 0) strategy = DUAL_ROW_NONE;
  dual_ratio_stats.last_strategy = strategy;
  if (strategy == DUAL_ROW_BY_COLUMNS)
    collect_breakpoints();
  else if (strategy == DUAL_ROW_SCATTERED)
    collect_breakpoints_scattered();
  else if (strategy == DUAL_ROW_MERGED)
    collect_breakpoints_merged(factor_rows, permuted);

  // 8. The phase-1 values disagree with the pivot row: recompute them.
  if (t.phase1 && std::fabs(t.infeasible_sum - t.amount_limit) > dcv(dc::ZTOLZE)) phase1_values_current = 0;

  // 9. Choice.
  double chosen_ratio = 0.0;
  const bool clean = choose_entering(chosen_ratio);
  reset_breakpoint_pool();
  if (!clean) {
    entering_column = 0;
    bound_flips.count = 0;
    *trouble = DUAL_RATIO_PHASE1_CANDIDATE;
    ++dual_ratio_stats.troubles;
    state = nullptr;
    return;
  }

  // 10. A row beyond the factor leaves no solve behind.
  if (r > factor.factor_dimension) {
    work_vector()[r] = 0.0;
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_ZERO;
  }

  // 11-12.
  if (entering_column != 0) {
    describe_entering(chosen_ratio);
    dual_ratio_stats.flips_chosen += bound_flips.count;
  } else {
    bound_flips.count = 0;
    ++dual_ratio_stats.no_entering;
  }
  entering_weight = t.mode == kDualPricingDevex ? std::sqrt(t.weight) : t.weight;

  // 13.
  check_row_weight(r);
  state = nullptr;
}

}  // namespace kl
