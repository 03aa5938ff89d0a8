#include "simplex/dual_pivot_update.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/dual_loop.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/infeasibility_heap.h"
#include "factor/simplex_state.h"

namespace kl {

DualUpdateStats dual_update_stats;

namespace {

// Positions whose reduced cost the phase-1 update leaves alone unless they
// are free or at upper: basic, fixed, fixed by the search.
constexpr uint32_t kKeepReducedCost = PS_SEARCH_FIXED | PS_FIXED | PS_BASIC;
// Updated reduced costs this small (in ZTCOST) become exact zeros.
constexpr double kZeroReducedCostShare = 0.01;
// A list covering more than these tenths of the positions is swept densely
// instead: for the update of the reduced costs, and for the clearing.
constexpr int64_t kUpdateListTenths = 9;
constexpr int64_t kClearListTenths = 8;
// The phase-1 values are updated incrementally while the flip pairs of a
// step touch fewer than nrow / 20 nonzeros.
constexpr int64_t kIncrementalPhase1Share = 20;
// Mode 0: a leaving row longer than this gets a heavier weight.
constexpr int32_t kLongRowLength = 500;
constexpr double kLongRowWeight = 10.0;
// Mode 1: the slack part of the pivot row is cleared densely past this
// share of the rows.
constexpr double kDenseSlackClearShare = 0.9;
// Steepest-edge weight update: f = +-2 / pivot_value.
constexpr double kSteepestEdgeFactor = 2.0;

// Factor position of a row: through factor_index when the factor is permuted.
struct FactorOrder {
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  int32_t operator()(int32_t row) const { return permuted ? index[row] : row; }
  int32_t row_of(int32_t k) const { return permuted ? rows[k] : k; }
};

// Original status bits (at upper, held at a value) of the flipped columns,
// to take the flips back.
int32_t flipped_from[kBreakpointCapacity + 2] = {};

// Scratch of apply_bound_flips: list marks by factor position, and the
// positions beyond the factor changed directly.
std::vector<uint8_t> listed_mark;
std::vector<uint8_t> direct_mark;
std::vector<int32_t> direct_rows;

// The value of a nonbasic position as the dual holds it.
double nonbasic_value(int32_t j, int32_t status) {
  if ((status & PS_NONBASIC_BETWEEN) != 0) return real_array(ARR_X)[j];
  if ((status & PS_AT_UPPER) != 0) return real_array(ARR_WORK_UPPER)[j];
  if ((status & PS_FINITE_LOWER) != 0) return real_array(ARR_WORK_LOWER)[j];
  return 0.0;
}

int32_t column_length(int32_t j) {
  if (j < store.first_col) return 1;
  OneBased<int32_t> start = int_array(ARR_COL_START);
  return start[j + 1] - start[j];
}

int32_t row_length(int32_t i) {
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  if (!start || !(problem_flags & PF_ROW_COPY)) return 0;
  return start[i + 1] - start[i];
}

// Full FTRAN of the listed work vector, leaving it listed.
void solve_listed_work_vector() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  if (icv(ic::IFFTUP) == 0) {
    eta_backward_pass();
    factor.work_vector_state = WV_CLEAR_ALL;
  } else {
    solve_with_factor_forward(w, list, factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL)
      ftran_update_part(w);
    else
      solve_with_factor_backward(w, list, factor.work_vector_count);
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
}

// tau = B^-1 rho for the steepest-edge update, in the slack part of the
// pivot row (by factor position), with B the basis before this pivot.
// Returns true when the solve left no usable list, so that this slack part must be
// cleared densely. pivot_entry is alpha_rq of the column a_q.
bool solve_slack_part_of_pivot_row(double pivot_entry) {
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  const int32_t saved_state = factor.work_vector_state;
  const int32_t saved_count = factor.work_vector_count;
  bool unusable = false;
  if (icv(ic::IFFTUP) != 0) {
    int32_t count = dual_pivot_row.slack_count;
    factor.work_vector_state = WV_LISTED;
    solve_with_factor_forward(alpha, plist, count);
    if (factor.work_vector_state == WV_CLEAR_ALL) {
      ftran_update_part(alpha);
      unusable = true;
    } else {
      solve_with_factor_backward(alpha, plist, count);
      unusable = factor.work_vector_state == WV_CLEAR_ALL;
    }
    dual_pivot_row.count = count;
    dual_pivot_row.slack_count = count;
    factor.work_vector_state = saved_state;
    factor.work_vector_count = saved_count;
    return unusable;
  }
  // The product-form solve works on the work vector only: the entering
  // column steps aside for it.
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  std::vector<int32_t> kept_rows(static_cast<size_t>(saved_count));
  std::vector<double> kept_values(static_cast<size_t>(saved_count));
  for (int32_t n = 1; n <= saved_count; ++n) {
    kept_rows[n - 1] = list[n];
    kept_values[n - 1] = w[list[n]];
    w[list[n]] = 0.0;
  }
  for (int32_t n = 1; n <= dual_pivot_row.slack_count; ++n) {
    const int32_t k = plist[n];
    w[k] = alpha[k];
    alpha[k] = 0.0;
  }
  eta_backward_pass();
  if (eta_file.row_eta_count > dual_pivot_row.eta_count) {
    // The eta of this pivot, E = I + (u - e_r) e_r' with u = B^-1 a_q, is
    // already in the file: the solve gave E^-1 tau, so tau = E (E^-1 tau).
    const int32_t r = leaving_row;
    const double sign = entering_sign == 1 ? -1.0 : 1.0;
    const double tail = w[r];
    w[r] = pivot_entry * tail;
    for (int32_t n = 0; n < saved_count; ++n)
      if (kept_rows[n] != r) w[kept_rows[n]] += sign * kept_values[n] * tail;
  }
  const int32_t dimension = factor.factor_dimension;
  for (int32_t k = 1; k <= dimension; ++k) {
    alpha[k] = w[k];
    w[k] = 0.0;
  }
  for (int32_t n = 1; n <= saved_count; ++n) {
    list[n] = kept_rows[n - 1];
    w[list[n]] = kept_values[n - 1];
  }
  factor.work_vector_state = saved_state;
  factor.work_vector_count = saved_count;
  return true;
}

// A leaving row that lay beyond the reduced factor was renumbered by the
// entering column's unpack: its slack entry (rho = +-e_r, the whole slack
// part) is listed, and held, under the new number.
void follow_renumbered_leaving_row() {
  const int32_t old_index = dual_pivot_row.leaving_index;
  const int32_t r = leaving_row;
  if (old_index == 0 || old_index == r) return;
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  for (int32_t n = 1; n <= dual_pivot_row.slack_count; ++n) {
    if (plist[n] != old_index) continue;
    plist[n] = r;
    if (alpha[r] == 0.0) {
      alpha[r] = alpha[old_index];
      alpha[old_index] = 0.0;
    }
  }
  dual_pivot_row.leaving_index = r;
}

// Step 1 of the update in phase 1: reduced costs along the pivot row, and
// the members of the phase-1 set that become dual feasible leave it.
void update_reduced_costs_phase1(double theta, bool steepest, const FactorOrder& at) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  const double tc = dcv(dc::ZTCOST);
  const int32_t q = entering_column;
  if ((static_cast<uint32_t>(status[q]) & PS_DUAL_MARK) != 0) {
    // The entering column becomes basic: it is no longer a dual
    // infeasibility, and the count must say so or phase 1 never ends.
    status[q] &= ~static_cast<int32_t>(PS_DUAL_MARK);
    suminf -= std::fabs(entering_reduced_cost);
    if (nnegdj > 0) --nnegdj;
    ++dual_update_stats.phase1_left_set;
  }
  for (int32_t n = 1; n <= dual_pivot_row.count; ++n) {
    const int32_t idx = plist[n];
    const bool slack_part = n <= dual_pivot_row.slack_count;
    const int32_t j = slack_part && steepest ? at.row_of(idx) : idx;
    const double aj = alpha[idx];
    if (!(slack_part && steepest)) alpha[idx] = 0.0;
    if (j == leaving_variable) continue;
    const uint32_t st = static_cast<uint32_t>(status[j]);
    if ((st & kKeepReducedCost) != 0 && (st & (PS_FREE | PS_AT_UPPER)) == 0) continue;
    double dn = d[j] - theta * aj;
    if (std::fabs(dn) <= kZeroReducedCostShare * tc) dn = 0.0;
    const double side = (st & PS_AT_UPPER) != 0 ? -dn : ((st & PS_FREE) != 0 ? -std::fabs(dn) : dn);
    const bool member = (st & PS_DUAL_MARK) != 0;
    if (side < -tc) {
      suminf -= side;
      if (member) suminf -= std::fabs(d[j]);
    } else if (member) {
      suminf -= std::fabs(d[j]);
      status[j] &= ~static_cast<int32_t>(PS_DUAL_MARK);
      if (nnegdj > 0) --nnegdj;
      // The pair takes j's column back out of the phase-1 right-hand side,
      // where it went in with the sign opposite to its reduced cost.
      record_phase1_flip(j, d[j] > 0.0 ? 1 : -1);
      ++dual_update_stats.phase1_left_set;
    }
    d[j] = dn;
  }
}

// Step 1 of the update in phase 2.
void update_reduced_costs_phase2(double theta, bool steepest, const FactorOrder& at) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  const int32_t slacks = dual_pivot_row.slack_count;
  for (int32_t n = 1; n <= slacks; ++n) {
    const int32_t idx = plist[n];
    const int32_t j = steepest ? at.row_of(idx) : idx;
    // Mode 1 keeps the whole of rho, basic slacks included: their reduced
    // costs stay zero.
    if ((status[j] & PS_BASIC) == 0) d[j] -= theta * alpha[idx];
    if (!steepest) alpha[idx] = 0.0;
  }
  const int64_t structurals = dual_pivot_row.count - slacks;
  if (structurals * 10 < static_cast<int64_t>(nseq) * kUpdateListTenths) {
    for (int32_t n = slacks + 1; n <= dual_pivot_row.count; ++n) {
      const int32_t j = plist[n];
      d[j] -= theta * alpha[j];
      alpha[j] = 0.0;
    }
  } else {
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      if ((static_cast<uint32_t>(status[j]) & kKeepReducedCost) == 0) d[j] -= theta * alpha[j];
      alpha[j] = 0.0;
    }
  }
}

// Zeroes the pivot row without using it (a degenerate step); mode 1 keeps
// the slack part for the weight update.
void zero_pivot_row(bool steepest) {
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  const int32_t first = steepest ? dual_pivot_row.slack_count + 1 : 1;
  const int64_t count = dual_pivot_row.count - first + 1;
  if (count * 10 < static_cast<int64_t>(nseq) * kClearListTenths) {
    for (int32_t n = first; n <= dual_pivot_row.count; ++n) alpha[plist[n]] = 0.0;
  } else {
    for (int32_t p = steepest ? store.first_col : 1; p <= nseq; ++p) alpha[p] = 0.0;
  }
}

// Flips the listed columns (forward) or takes them back, moving the basic
// values by B^-1 (old value - new value) a_j.
void move_flipped_columns(bool forward) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const FactorOrder at;
  const int32_t dimension = factor.factor_dimension;
  const bool phase2 = nnegdj == 0;
  constexpr int32_t kBoundBits = PS_AT_UPPER | PS_NONBASIC_BETWEEN;

  clear_work_vector();
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_LISTED;
  const size_t rows = static_cast<size_t>(nrow) + 1;
  if (listed_mark.size() < rows) listed_mark.assign(rows, 0);
  if (direct_mark.size() < rows) direct_mark.assign(rows, 0);
  direct_rows.clear();
  auto add = [&](int32_t row, double v) {
    const int32_t k = at(row);
    if (k > dimension) {
      // Beyond the reduced factor the basis is the identity.
      values[k] += v;
      if (direct_mark[k] == 0) {
        direct_mark[k] = 1;
        direct_rows.push_back(k);
      }
      return;
    }
    if (listed_mark[k] == 0) {
      listed_mark[k] = 1;
      list[++factor.work_vector_count] = k;
    }
    w[k] += v;
  };

  for (int32_t n = 1; n <= bound_flips.count; ++n) {
    const int32_t j = bound_flips.columns[n];
    const int32_t before = status[j];
    int32_t after;
    if (forward) {
      flipped_from[n] = before & kBoundBits;
      after = (before & ~kBoundBits) | (bound_flips.to_upper[n] != 0 ? static_cast<int32_t>(PS_AT_UPPER) : 0);
    } else {
      after = (before & ~kBoundBits) | flipped_from[n];
    }
    const double delta = nonbasic_value(j, before) - nonbasic_value(j, after);
    status[j] = after;
    if (delta == 0.0) continue;
    objval -= delta * d[j] * sense_factor;
    if (j < store.first_col) {
      add(j, delta);
    } else {
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) add(elem_row[e], delta * elem_value[e]);
    }
  }

  const double zteta = dcv(dc::ZTETA);
  int32_t kept = 0;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = list[n];
    listed_mark[k] = 0;
    if (std::fabs(w[k]) < zteta) {
      w[k] = 0.0;
      continue;
    }
    list[++kept] = k;
  }
  factor.work_vector_count = kept;
  for (const int32_t k : direct_rows) {
    direct_mark[k] = 0;
    if (phase2) update_heap_position(k);
  }
  if (kept > 0) {
    solve_listed_work_vector();
    for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
      const int32_t i = list[n];
      values[i] += w[i];
      w[i] = 0.0;
      if (phase2) update_heap_position(i);
    }
  }
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  dual_update_stats.flips_applied += bound_flips.count;
}

}  // namespace

void update_after_dual_pivot() {
  ++dual_update_stats.pivots;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> alpha = pivot_row_values();
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  const FactorOrder at;
  const bool steepest = dual_pricing_mode == kDualPricingSteepestEdge;
  const bool phase1_on_entry = nnegdj > 0;
  const double theta = dual_step;
  const int32_t q = entering_column;
  const int32_t r = leaving_row;
  const int32_t p = leaving_variable;
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  if (steepest) follow_renumbered_leaving_row();

  // 1. Reduced costs along the pivot row.
  phase1_flip_pairs.count = 0;
  if (theta != 0.0) {
    if (!steepest || p >= store.first_col) alpha[p] = 0.0;
    if (phase1_on_entry)
      update_reduced_costs_phase1(theta, steepest, at);
    else
      update_reduced_costs_phase2(theta, steepest, at);
    if (steepest) d[p] = leaving_direction == kLeaveAtUpper ? -theta : theta;
  } else {
    ++dual_update_stats.degenerate_pivots;
    zero_pivot_row(steepest);
  }

  // 2. Incremental update of the phase-1 values.
  bool incremental = false;
  double ratio = 0.0;
  if (phase1_values_current != 0) {
    phase1_values_current = 0;
    if (phase1_flip_pairs.count < kFlipPairLimit) {
      int64_t nonzeros = 0;
      for (int32_t n = 0; n < phase1_flip_pairs.count; ++n) nonzeros += column_length(phase1_flip_pairs.position[n]);
      if (kIncrementalPhase1Share * nonzeros < nrow) {
        phase1_values_current = 1;
        incremental = true;
        ratio = phase1[r] / w[r];
        phase1[r] = entering_sign == 1 ? -ratio : ratio;
        ++dual_update_stats.incremental_phase1;
      }
    }
  }

  // 3. Basis change and the primal step.
  previous_ninf = ninf;
  int_array(ARR_BASIS_HEADER)[r] = q;
  real_array(ARR_BASIC_UPPER)[r] = real_array(ARR_UPPER)[q];
  if ((status[q] & PS_FREE) != 0)
    marks[r] |= RF_FREE_BASIC;
  else
    marks[r] &= ~static_cast<int32_t>(RF_FREE_BASIC);
  const double a_r = w[r];
  const double bound = leaving_direction == kLeaveAtUpper ? real_array(ARR_WORK_UPPER)[p] : real_array(ARR_WORK_LOWER)[p];
  const double t = (values[r] - bound) / a_r;

  // 4. Weight of the leaving row.
  double ew;
  if (steepest) {
    ew = std::fabs(entering_weight / (a_r * a_r));
    weights[r] = ew;
  } else {
    ew = std::fabs(entering_weight / a_r);
    double wr = std::max(1.0, ew);
    if (row_length(at.row_of(r)) > kLongRowLength) wr += kLongRowWeight;
    weights[r] = wr;
  }
  entering_weight = ew;

  // 5. The entering variable's value; it moves by t in its direction from
  // where it sits (a column held at a value moves from that value).
  w[r] = 0.0;
  const double start = nonbasic_value(q, status[q]);
  values[r] = entering_sign == 1 ? start - t : start + t;
  marks[r] &= ~static_cast<int32_t>(RF_INFEAS_ABOVE | RF_INFEAS_BELOW);
  objval += t * entering_objective_rate;

  // 6. Steepest edge: tau = B^-1 rho.
  bool slack_part_unusable = false;
  double f = 0.0;
  if (steepest) {
    slack_part_unusable = solve_slack_part_of_pivot_row(pivot_value);
    f = (leaving_direction == entering_sign ? kSteepestEdgeFactor : -kSteepestEdgeFactor) / pivot_value;
  }

  // 7. Basic values, weights, phase-1 values and the heap along the column.
  const double zteta = dcv(dc::ZTETA);
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t i = list[n];
    const double a = w[i];
    if (incremental) phase1[i] -= ratio * a;
    values[i] -= t * a;
    if (steepest) {
      double wi = weights[i] + a * alpha[i] * f + a * a * ew;
      if (wi < zteta) wi = 1.0;
      weights[i] = wi;
    } else {
      weights[i] = std::max(weights[i], std::fabs(ew * a));
    }
    w[i] = 0.0;
    if (!phase1_on_entry) update_heap_position(i);
  }
  if (!phase1_on_entry) update_heap_position(r);

  // 8.
  if (phase1_on_entry && nnegdj == 0) build_infeasibility_heap();

  // 9. The slack part of the pivot row (tau) is done with.
  if (steepest) {
    const int32_t count = dual_pivot_row.slack_count;
    if (slack_part_unusable || count > kDenseSlackClearShare * nrow) {
      for (int32_t k = 1; k <= nrow; ++k) alpha[k] = 0.0;
    } else {
      OneBased<int32_t> plist = pivot_row_list();
      for (int32_t n = 1; n <= count; ++n) alpha[plist[n]] = 0.0;
    }
  }
  dual_pivot_row.count = 0;
  dual_pivot_row.slack_count = 0;

  // 10.
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
}

void apply_bound_flips() {
  if (bound_flips.count == 0 || bound_flips.applied != 0) return;
  ++dual_update_stats.flip_batches;
  move_flipped_columns(true);
  bound_flips.applied = 1;
}

void undo_bound_flips() {
  if (bound_flips.count > 0 && bound_flips.applied != 0) move_flipped_columns(false);
  bound_flips.count = 0;
  bound_flips.applied = 0;
}

void reject_leaving_row() {
  ++dual_update_stats.rows_rejected;
  const bool phase2 = nnegdj == 0;
  if (!phase2 && ninf > 0) --ninf;
  int_array(ARR_POS_STATUS)[leaving_variable] |= PS_MARK;
  marks_exist = 1;
  undo_bound_flips();
  clear_pivot_row();
  phase1_values_current = 0;
  if (!phase2) {
    int32_t cleared = 0;
    clear_small_dual_infeasibilities(&cleared);
  } else {
    remove_heap_entry(leaving_row);
  }
}

}  // namespace kl
