#include "global/node_bounds.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "factor/starting_basis.h"
#include "global/node_cut_lists.h"
#include "global/node_store.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

double fixed_entity_constant = 0.0;

namespace {

constexpr int32_t kBoundRecordLower = 8;
constexpr int32_t kBoundRecordUpper = 16;
constexpr uint32_t kFixedAndFiniteUpper = PS_SEARCH_FIXED | PS_FINITE_UPPER;
constexpr uint32_t kExcludedMember = PS_SEARCH_FIXED | PS_FINITE_UPPER | PS_MARK;
constexpr uint32_t kEntityColumnFlags = PS_INTEGER | PS_BINARY | PS_SEMICONTINUOUS | PS_PARTIAL_INTEGER;
// Entity kinds the node store cannot branch on.
constexpr int32_t kFirstUnknownKind = 7;
constexpr int32_t kLastUnknownKind = 8;

int32_t kind_of(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
bool is_set(int32_t kind) { return kind == ENT_SET1 || kind == ENT_SET2; }
bool is_unknown(int32_t kind) { return kind >= kFirstUnknownKind && kind <= kLastUnknownKind; }

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
void set_status(int32_t p, uint32_t s) { int_array(ARR_POS_STATUS)[p] = static_cast<int32_t>(s); }
void set_bits(int32_t p, uint32_t bits) { set_status(p, status_of(p) | bits); }
void clear_bits(int32_t p, uint32_t bits) { set_status(p, status_of(p) & ~bits); }

// Bounds and their working copies (arrays 98 and 96, when the search has them).
void set_lower(int32_t p, double value) {
  real_array(ARR_LOWER)[p] = value;
  if (OneBased<double> copy = real_array(ARR_WORK_LOWER)) copy[p] = value;
}
void set_upper(int32_t p, double value) {
  real_array(ARR_UPPER)[p] = value;
  if (OneBased<double> copy = real_array(ARR_WORK_UPPER)) copy[p] = value;
}

// A state word from a limit: integral, within plus or minus INTMAX.
int32_t clamp_state(double value) {
  const double intmax = icv(ic::INTMAX) > 0 ? icv(ic::INTMAX) : INT32_MAX;
  if (!(value < intmax)) return static_cast<int32_t>(intmax);
  if (!(value > -intmax)) return static_cast<int32_t>(-intmax);
  return static_cast<int32_t>(std::trunc(value));
}

void note_fixed_if_equal(int32_t c) {
  const double lower = real_array(ARR_LOWER)[c];
  if (lower == real_array(ARR_UPPER)[c]) {
    set_bits(c, PS_SEARCH_FIXED);
    fixed_entity_constant += lower * real_array(ARR_OBJECTIVE)[c];
  }
}

// An integer-like column from its two state words. A raised lower bound is
// finite even when the column started without one, so the finite bit follows
// the value rather than being left as the load set it.
void apply_integer_states(int32_t e, int32_t c) {
  const int32_t upper = int_array(ARR_ENTITY_ROOT_UPPER)[e];
  const int32_t lower = int_array(ARR_ENTITY_ROOT_LOWER)[e];
  set_upper(c, upper);
  set_lower(c, lower);
  if (lower > -icv(ic::INTMAX)) set_bits(c, PS_FINITE_LOWER);
  if (upper < icv(ic::INTMAX)) set_bits(c, PS_FINITE_UPPER);
  clear_bits(c, PS_SEARCH_FIXED);
  note_fixed_if_equal(c);
}

void apply_semicontinuous_states(int32_t e, int32_t c) {
  const double upper = int_array(ARR_ENTITY_ROOT_UPPER)[e] == 1 ? real_array(ARR_SEMICONT_UPPER)[e] : 0.0;
  const double lower = int_array(ARR_ENTITY_ROOT_LOWER)[e] == 1 ? real_array(ARR_SEMICONT_LIMIT)[e] : 0.0;
  set_upper(c, upper);
  set_lower(c, lower);
  clear_bits(c, kFixedAndFiniteUpper);
  set_bits(c, PS_FINITE_UPPER);
  note_fixed_if_equal(c);
}

bool outside(double reference, double window_lower, double window_upper) {
  return reference < window_lower || reference > window_upper;
}

// The column entity on a set member's column, 0 when it has none.
int32_t column_entity_of(int32_t column) {
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = 1; e <= nglent; ++e) {
    if (!is_set(kind_of(e)) && entity_column[e] == column) return e;
  }
  return 0;
}

// A member that may be non-zero again: its saved upper bound back.
void allow_member(int32_t m, int32_t c) {
  const double upper = real_array(ARR_SET_MEMBER_UPPER)[m];
  set_upper(c, upper);
  if (upper == 0.0) {
    set_bits(c, PS_SEARCH_FIXED);
  } else {
    clear_bits(c, PS_SEARCH_FIXED);
    if (upper >= kInfinity) clear_bits(c, kFixedAndFiniteUpper);
  }
}

struct SetRange {
  int32_t first = 0, last = -1;
};
SetRange members_of(int32_t e) {
  const int32_t s = int_array(ARR_ENTITY_COLUMN)[e];
  OneBased<int32_t> start = int_array(ARR_SET_START);
  return {start[s] + 1, start[s + 1]};
}

// The branching entity's new state for direction d. For a set, the window
// before the change is returned through old_lower/old_upper. Returns false
// (message 41 given) for an entity kind that cannot be branched on.
bool set_branch_state(int32_t e, int32_t d, double& old_lower, double& old_upper) {
  const int32_t kind = kind_of(e);
  if (is_unknown(kind)) {
    begin_message(MSG_NODE_NOT_SOLVABLE);
    emit_message();
    return false;
  }
  if (is_set(kind)) {
    old_lower = set_window_lower(e);
    old_upper = set_window_upper(e);
    if (d == 0) set_window_upper(e) = node_header.down_limit;
    else set_window_lower(e) = node_header.up_limit;
    return true;
  }
  if (kind == ENT_SEMICONTINUOUS) {
    if (d == 0) int_array(ARR_ENTITY_ROOT_UPPER)[e] = 0;
    else int_array(ARR_ENTITY_ROOT_LOWER)[e] = 1;
    return true;
  }
  if (d == 0) int_array(ARR_ENTITY_ROOT_UPPER)[e] = clamp_state(node_header.down_limit);
  else int_array(ARR_ENTITY_ROOT_LOWER)[e] = clamp_state(node_header.up_limit);
  return true;
}

bool branch_entity_applies() {
  return node_header.branch_entity > 0 && node_header.branch_entity <= nglent;
}

void clear_temporary_marks() {
  const int32_t last = nseq;
  for (int32_t p = 1; p <= last; ++p) clear_bits(p, PS_MARK);
}

}  // namespace

int32_t node_direction() {
  return node_header.node_id > 0 ? node_header.first_direction : 1 - node_header.first_direction;
}

void restore_node_bounds() {
  if (direct_child_flag > 0) {
    apply_branch_bound();
    return;
  }
  apply_node_bounds();
  if (lp_status != 3) rebuild_basic_lists();
}

void apply_branch_bound() {
  if (!branch_entity_applies()) return;
  const int32_t e = node_header.branch_entity;
  double old_lower = 0.0, old_upper = 0.0;
  if (!set_branch_state(e, node_direction(), old_lower, old_upper)) return;
  const int32_t kind = kind_of(e);
  if (!is_set(kind)) {
    const int32_t c = int_array(ARR_ENTITY_COLUMN)[e];
    if (kind == ENT_SEMICONTINUOUS) apply_semicontinuous_states(e, c);
    else apply_integer_states(e, c);
    return;
  }
  // Only the members the narrower window leaves out change.
  const double tolerance = dcv(dc::ZTOLZE);
  const SetRange range = members_of(e);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> reference = real_array(ARR_SET_MEMBER_REF);
  for (int32_t m = range.first; m <= range.last; ++m) {
    if (!outside(reference[m], set_window_lower(e), set_window_upper(e))) continue;
    if (outside(reference[m], old_lower, old_upper)) continue;
    const int32_t c = member_column[m];
    const double upper_before = real_array(ARR_UPPER)[c];
    set_upper(c, 0.0);
    set_bits(c, kFixedAndFiniteUpper);
    if (real_array(ARR_LOWER)[c] > tolerance) {
      lp_status = 2;
      return;
    }
    if ((status_of(c) & kEntityColumnFlags) != 0) {
      real_array(ARR_SET_MEMBER_UPPER)[m] = upper_before;
      if (const int32_t ce = column_entity_of(c)) {
        int_array(ARR_ENTITY_ROOT_UPPER)[ce] = 0;
        int_array(ARR_ENTITY_ROOT_LOWER)[ce] = 0;
      }
    }
  }
}

void apply_node_bounds() {
  const bool has_sets = nsets > 0;
  if (has_sets) clear_temporary_marks();

  // Saved bounds: what the columns had before the caller's bound records.
  const int32_t top = icv(ic::MXCPOL);
  for (int32_t r = top - search_record.saved_bound_count + 1; r <= top; ++r) {
    const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
    const int32_t c = cut_record_field(r, CUT_FIELD_LENGTH);
    const double value = real_array(ARR_CUT_RHS)[r];
    const bool infinite = std::fabs(value) >= kInfiniteBound;
    if ((flags & kBoundRecordLower) != 0) {
      set_lower(c, value);
      if (infinite) clear_bits(c, PS_FINITE_LOWER);
      else set_bits(c, PS_FINITE_LOWER);
    } else if ((flags & kBoundRecordUpper) != 0) {
      set_upper(c, value);
      if (infinite) clear_bits(c, PS_FINITE_UPPER);
      else set_bits(c, PS_FINITE_UPPER);
    }
    clear_bits(c, PS_SEARCH_FIXED);
  }

  if (branch_entity_applies()) {
    const int32_t e = node_header.branch_entity;
    double old_lower = 0.0, old_upper = 0.0;
    if (!set_branch_state(e, node_direction(), old_lower, old_upper)) return;
    if (is_set(kind_of(e))) {
      const SetRange range = members_of(e);
      for (int32_t m = range.first; m <= range.last; ++m) {
        const int32_t c = int_array(ARR_SET_MEMBER_COLUMN)[m];
        const double ref = real_array(ARR_SET_MEMBER_REF)[m];
        if (!outside(ref, set_window_lower(e), set_window_upper(e))) continue;
        if (outside(ref, old_lower, old_upper)) continue;
        if ((status_of(c) & kEntityColumnFlags) == 0) continue;
        const int32_t ce = column_entity_of(c);
        if (ce == 0) continue;
        if (int_array(ARR_ENTITY_ROOT_LOWER)[ce] != 0) {
          lp_status = 2;
          return;
        }
        real_array(ARR_SET_MEMBER_UPPER)[m] = real_array(ARR_UPPER)[c];
        int_array(ARR_ENTITY_ROOT_UPPER)[ce] = 0;
        int_array(ARR_ENTITY_ROOT_LOWER)[ce] = 0;
      }
    }
  }

  fixed_entity_constant = 0.0;
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);

  if (has_sets) {
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t kind = kind_of(e);
      if (is_unknown(kind)) {
        begin_message(MSG_NODE_NOT_SOLVABLE);
        emit_message();
        continue;
      }
      if (!is_set(kind)) continue;
      const SetRange range = members_of(e);
      for (int32_t m = range.first; m <= range.last; ++m) {
        const int32_t c = int_array(ARR_SET_MEMBER_COLUMN)[m];
        if ((status_of(c) & PS_FIXED) != 0) continue;
        if (outside(real_array(ARR_SET_MEMBER_REF)[m], set_window_lower(e), set_window_upper(e))) {
          set_lower(c, 0.0);
          set_upper(c, 0.0);
          set_bits(c, kExcludedMember);
        } else if ((status_of(c) & PS_MARK) == 0) {
          allow_member(m, c);
        }
      }
    }
  }

  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = kind_of(e);
    if (is_set(kind) || is_unknown(kind)) continue;
    const int32_t c = entity_column[e];
    if (kind == ENT_SEMICONTINUOUS) {
      if ((status_of(c) & PS_FIXED) == 0) apply_semicontinuous_states(e, c);
    } else if ((status_of(c) & (PS_FIXED | PS_MARK)) == 0) {
      apply_integer_states(e, c);
    }
  }

  if (has_sets) clear_temporary_marks();

  // The bound records the caller attached to the branch, counted down from
  // the last entry of the cut-row list; those attached at this node are for
  // its children only.
  OneBased<int32_t> cut_row_list = int_array(ARR_CUT_ROW_LIST);
  const int32_t own_bounds = search_record.branch_bound_count - attached_branch_bounds;
  for (int32_t k = 0; k < own_bounds; ++k) {
    const int32_t r = cut_row_list[nseq - k];
    const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
    if ((flags & (kBoundRecordLower | kBoundRecordUpper)) == 0) continue;
    const int32_t c = cut_record_field(r, CUT_FIELD_LENGTH);
    const double value = real_array(ARR_CUT_RHS)[r];
    if ((flags & kBoundRecordLower) != 0) {
      set_lower(c, value);
      set_bits(c, PS_FINITE_LOWER);
    }
    if ((flags & kBoundRecordUpper) != 0) {
      set_upper(c, value);
      set_bits(c, PS_FINITE_UPPER);
    }
    clear_bits(c, PS_SEARCH_FIXED);
    note_fixed_if_equal(c);
    // A record that crosses the column's other bound (an entity's branch,
    // another record) leaves the node without a solution: the LP must not
    // be asked to solve it.
    if (real_array(ARR_LOWER)[c] - real_array(ARR_UPPER)[c] > dcv(dc::ZTOLZE)) lp_status = 2;
  }
}

void rebuild_basic_lists() {
  set_basis_header();
  if (nqelem <= 0) return;
  OneBased<double> values = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (!values) return;
  for (int32_t c = store.first_col; c <= nseq; ++c) {
    if ((status_of(c) & PS_NONBASIC_BETWEEN) == 0) continue;
    if (values[c] < lower[c]) {
      values[c] = lower[c];
      clear_bits(c, PS_NONBASIC_BETWEEN);
    } else if (values[c] > upper[c]) {
      values[c] = upper[c];
      clear_bits(c, PS_NONBASIC_BETWEEN);
      set_bits(c, PS_AT_UPPER);
    }
  }
}

}  // namespace kl
