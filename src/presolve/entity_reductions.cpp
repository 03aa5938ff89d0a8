// The entity sweep that ends every pass of a round inside the global search:
// implied bounds become the bounds of integer columns (rounded), so that no
// later reduction leans on an implied bound that a dropped row alone held;
// semi-continuous and partial-integer columns are simplified; integers
// bounded by 0 and 1 become binaries; a set with a member forced away from
// zero fixes the members that must be zero.
#include "presolve/entity_reductions.h"

#include <cmath>

#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "presolve/reduce_pass.h"
#include "presolve/round_work.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

uint32_t status_word(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
bool removed(int32_t j) { return (status_word(j) & PS_FIXED) != 0; }
// The column's own bounds are written by tighten_column_bound unless it is
// kept as it is or has quadratic terms.
int32_t write_flag(int32_t j) { return (status_word(j) & kKeepOrQuadratic) != 0 ? 0 : 4; }

void drop_entity(int32_t e) {
  int_array(ARR_ENTITY_TYPE)[e] = 0;
  ++round_work.entities_removed;
}

// A removed column that was basic hands its basis slot to the slack of the
// row whose slot it held.
void release_basis_slot(int32_t j) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if ((status[j] & PS_BASIC) == 0) return;
  status[j] &= ~PS_BASIC;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  if (!header) return;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (header[i] != j) continue;
    header[i] = i;
    status[i] |= PS_BASIC;
    return;
  }
}

// Calls tighten_column_bound; counts a removed column and its entries.
// Returns the result, and removed := whether the column left.
int32_t apply_bounds(int32_t code, int32_t j, double old_l, double old_u, bool& gone) {
  const int32_t result = tighten_column_bound(code, j, old_l, old_u);
  gone = false;
  if (result < 0 && result >= -nrow && removed(j)) {
    gone = true;
    ++round_work.columns_removed;
    round_work.elements_removed += -result;
  }
  return result;
}

bool push_bound_record(int32_t j, double value) {
  return push_round_record(PresolveRecord{{j, REC_BOUND_CHANGE}, {value}});
}

// Implied bounds of an integer column become its bounds. False when the
// round must stop (stack capacity).
bool settle_integer_column(int32_t j) {
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const OneBased<double> implied_lower = real_array(ARR_WORK_LOWER);
  const OneBased<double> implied_upper = real_array(ARR_WORK_UPPER);
  const double ztolis = dcv(dc::ZTOLIS);
  int32_t code = 0;
  if ((status_word(j) & kImpliedLowerFinite) != 0 && implied_lower[j] > lower[j] + ztolis) code |= 1;
  if ((status_word(j) & kImpliedUpperFinite) != 0 && implied_upper[j] < upper[j] - ztolis) code |= 2;
  if (code == 0) return true;
  bool gone = false;
  apply_bounds(code + write_flag(j), j, implied_lower[j], implied_upper[j], gone);
  if (!gone) return true;
  release_basis_slot(j);
  // Every removal leaves its record, at 0 too: an older record (a singleton
  // row's, say) takes a column that nothing restored for one that left at
  // its own bound, which the sweep's rounding may have moved.
  return push_bound_record(j, lower[j]);
}

void integer_entity(int32_t e, int32_t j) {
  if (!settle_integer_column(j)) return;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  if ((type[e] & ENT_TYPE_MASK) == ENT_BINARY || removed(j)) return;
  if (real_array(ARR_LOWER)[j] != 0.0 || real_array(ARR_UPPER)[j] != 1.0) return;
  type[e] = (type[e] & ~ENT_TYPE_MASK) | ENT_BINARY;
  int_array(ARR_ENTITY_ROOT_UPPER)[e] = 1;
  int_array(ARR_ENTITY_ROOT_LOWER)[e] = 0;
  ++binary_count;
  int_array(ARR_POS_STATUS)[j] |= PS_BINARY;
}

// Makes zero the upper bound of a column whose lower bound is zero and
// carries the change into its rows. False when the round must stop: the
// rows cannot hold, or the record of a removed column could not be pushed.
bool fix_column_at_zero(int32_t j) {
  OneBased<double> implied_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> implied_upper = real_array(ARR_WORK_UPPER);
  const bool keep = (int_array(ARR_POS_STATUS)[j] & kKeepOrQuadratic) != 0;
  const double old_l = implied_lower[j];
  const double old_u = implied_upper[j];
  implied_upper[j] = 0.0;
  real_array(ARR_UPPER)[j] = 0.0;
  bool gone = false;
  if (apply_bounds(keep ? 2 : 6, j, old_l, old_u, gone) < -nrow) {
    column_infeasible(j, 0);
    return false;
  }
  if (gone) {
    release_basis_slot(j);
    if (!push_bound_record(j, 0.0)) return false;
  }
  round_work.entity_changed = true;
  return true;
}

void semicontinuous_entity(int32_t e, int32_t j) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> implied_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> implied_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> threshold = real_array(ARR_SEMICONT_LIMIT);
  OneBased<double> stored_upper = real_array(ARR_SEMICONT_UPPER);
  const double ztolis = dcv(dc::ZTOLIS);
  const double t = threshold ? threshold[e] : 0.0;
  if (stored_upper && implied_upper[j] < 1e8 && implied_upper[j] < stored_upper[e]) stored_upper[e] = implied_upper[j];
  const bool keep = (status[j] & kKeepOrQuadratic) != 0;
  if (implied_lower[j] <= ztolis) {
    if ((status[j] & kImpliedUpperFinite) == 0 || implied_upper[j] >= t - ztolis) return;
    // Below its threshold the column can only be zero.
    if (!fix_column_at_zero(j)) return;
    status[j] |= PS_FINITE_UPPER;
    int_array(ARR_ENTITY_ROOT_UPPER)[e] = 0;
    int_array(ARR_ENTITY_ROOT_LOWER)[e] = 0;
    drop_entity(e);
    ++presolve_state.rounded_bounds;
    return;
  }
  // Forced above zero: the column is plain above its threshold.
  if (lower[j] < t - dcv(dc::ZTOLZE)) {
    const double old_l = implied_lower[j];
    const double old_u = implied_upper[j];
    lower[j] = t;
    implied_lower[j] = t;
    bool gone = false;
    if (apply_bounds(keep ? 1 : 5, j, old_l, old_u, gone) < -nrow) {
      column_infeasible(j, 0);
      return;
    }
    if (gone) release_basis_slot(j);
    if (!push_bound_record(j, lower[j])) return;
    ++presolve_state.rounded_bounds;
  }
  drop_entity(e);
  status[j] &= ~static_cast<int32_t>(PS_SEMICONTINUOUS | PS_ENTITY);
}

void partial_integer_entity(int32_t e, int32_t j) {
  RoundWork& w = round_work;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> implied_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> implied_upper = real_array(ARR_WORK_UPPER);
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztolis = dcv(dc::ZTOLIS);
  // The entity word holds limit x 16 + 4; below the limit the column is
  // integer.
  const double limit = type[e] >> 4;
  const bool keep = (status[j] & kKeepOrQuadratic) != 0;
  const double old_l = implied_lower[j];
  const double old_u = implied_upper[j];
  bool gone = false;
  if (implied_lower[j] <= ztolze) {
    if ((status[j] & kImpliedUpperFinite) == 0 || implied_upper[j] > limit + ztolze) return;
    // Its whole range lies in the integer part.
    status[j] = (status[j] | PS_INTEGER) & ~static_cast<int32_t>(PS_PARTIAL_INTEGER);
    type[e] = ENT_INTEGER;
    upper[j] = implied_upper[j];
    if (apply_bounds(keep ? 3 : 7, j, old_l, old_u, gone) < -nrow) {
      column_infeasible(j, 0);
      return;
    }
    if (gone) {
      release_basis_slot(j);
      push_bound_record(j, lower[j]);
    }
    w.entity_changed = true;
    return;
  }
  if (implied_lower[j] > limit) {
    // Continuous in its whole remaining range.
    drop_entity(e);
    return;
  }
  const double rounded = std::trunc(implied_lower[j] + 1.0 - ztolis);
  if (std::fabs(rounded - implied_lower[j]) > ztolze) w.entity_changed = true;
  lower[j] = rounded;
  implied_lower[j] = rounded;
  if ((status[j] & kImpliedUpperFinite) != 0) upper[j] = implied_upper[j];
  if (apply_bounds(keep ? 3 : 7, j, old_l, old_u, gone) < -nrow) {
    column_infeasible(j, 0);
    return;
  }
  if (gone) {
    release_basis_slot(j);
    push_bound_record(j, lower[j]);
  }
}

void set_entity(int32_t e, int32_t set) {
  RoundWork& w = round_work;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> implied_lower = real_array(ARR_WORK_LOWER);
  if (!set_start || !member_column) return;
  const int32_t first = set_start[set] + 1;
  const int32_t last = set_start[set + 1];
  for (int32_t m = first; m <= last && !w.stop; ++m) {
    const int32_t j = member_column[m];
    if ((status[j] & (PS_INTEGER | PS_QUADRATIC)) == 0 || removed(j)) continue;
    if (!settle_integer_column(j)) return;
  }
  if (w.stop) return;
  const double ztolis = dcv(dc::ZTOLIS);
  int32_t forced = 0;
  double largest = ztolis;
  for (int32_t m = first; m <= last; ++m) {
    const int32_t j = member_column[m];
    const double v = removed(j) ? upper[j] : implied_lower[j];
    if (v > largest) {
      largest = v;
      forced = m;
    }
  }
  if (forced == 0) return;
  const bool sos1 = (type[e] & ENT_TYPE_MASK) == ENT_SET1;
  type[e] = 0;
  if (sos1) ++w.set_members_removed;
  for (int32_t m = first; m <= last && !w.stop; ++m) {
    const int32_t j = member_column[m];
    if (m == forced || removed(j)) continue;
    // In a set of type 2 the forced member's neighbours may be nonzero.
    if (!sos1 && std::abs(m - forced) <= 1) continue;
    if (!fix_column_at_zero(j)) return;
    if (sos1) ++w.set_members_removed;
  }
}

}  // namespace

void sweep_global_entities() {
  RoundWork& w = round_work;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  if (nglent <= 0 || !type || !column) return;
  for (int32_t e = 1; e <= nglent && !w.stop; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    if (type[e] == 0 || kind == 0) continue;
    if (kind <= ENT_PARTIAL_INTEGER && removed(column[e])) {
      drop_entity(e);
      continue;
    }
    switch (kind) {
      case ENT_INTEGER:
      case ENT_BINARY: integer_entity(e, column[e]); break;
      case ENT_SEMICONTINUOUS: semicontinuous_entity(e, column[e]); break;
      case ENT_PARTIAL_INTEGER: partial_integer_entity(e, column[e]); break;
      case ENT_SET1:
      case ENT_SET2: set_entity(e, column[e]); break;
      default: break;
    }
  }
}

}  // namespace kl
