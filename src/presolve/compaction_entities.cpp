// Compaction of the global entities for a presolve inside the global search:
// the entities, sets and their members over the kept columns, the pool's
// element columns and the variable-bound references, in the presolved
// numbering. Outside the search the entity data stay as they are (they wait
// with the original problem).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "presolve/presolve_driver.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

int32_t moved(const std::vector<int32_t>& new_position, int32_t p) {
  return p >= 1 && p < static_cast<int32_t>(new_position.size()) ? new_position[static_cast<size_t>(p)] : 0;
}

bool is_set_type(int32_t type) { return type == ENT_SET1 || type == ENT_SET2; }

// Entity e's per-entity words move to entity number to (to <= e).
void move_entity(int32_t e, int32_t to) {
  for (const int32_t id : {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_ENTITY_ROOT_UPPER,
                           ARR_ENTITY_ROOT_LOWER, ARR_PSEUDO_COST_DOWN, ARR_PSEUDO_COST_UP}) {
    if (OneBased<int32_t> words = OneBased<int32_t>(array_cells[id])) words[to] = words[e];
  }
  for (const int32_t id : {ARR_SEMICONT_LIMIT, ARR_SEMICONT_UPPER}) {
    if (OneBased<double> reals = OneBased<double>(array_cells[id])) reals[to] = reals[e];
  }
}

}  // namespace

void renumber_search_entities(const std::vector<int32_t>& new_position) {
  // The pool's cuts in presolved positions.
  if (OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN))
    for (int32_t k = 1; k <= search_record.pool_elements_used; ++k)
      pool_columns[k] = moved(new_position, pool_columns[k]);

  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  if (nglent > 0 && type && column) {
    OneBased<int32_t> set_start = int_array(ARR_SET_START);
    OneBased<int32_t> set_word = int_array(ARR_SET_WORD);
    OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
    OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
    OneBased<double> member_upper = real_array(ARR_SET_MEMBER_UPPER);
    int32_t entities = 0;
    int32_t sets = 0;
    int32_t members = 0;
    int32_t two_bit = 0;
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t kind = type[e] & ENT_TYPE_MASK;
      if (!is_set_type(kind)) {
        const int32_t p = moved(new_position, column[e]);
        if (p == 0 || type[e] == 0) continue;
        move_entity(e, ++entities);
        column[entities] = p;
        if (kind == ENT_SEMICONTINUOUS || kind == ENT_BINARY) ++two_bit;
        continue;
      }
      if (!set_start || !member_column) continue;
      const int32_t set = column[e];
      const int32_t first_member = members + 1;
      for (int32_t m = set_start[set] + 1; m <= set_start[set + 1]; ++m) {
        const int32_t p = moved(new_position, member_column[m]);
        if (p == 0) continue;
        ++members;
        member_column[members] = p;
        if (member_ref) member_ref[members] = member_ref[m];
        if (member_upper) member_upper[members] = member_upper[m];
      }
      if (members < first_member) continue;
      move_entity(e, ++entities);
      ++sets;
      column[entities] = sets;
      if (set_word) set_word[sets] = set_word[set];
      set_start[sets] = first_member - 1;
    }
    if (sets > 0) set_start[sets + 1] = members;
    nglent = entities;
    nsets = sets;
    nsosm = members;
    search_record.binary_entity_count = two_bit;
  }

  // Variable-bound references follow their columns; the integer marks are
  // set again from the entities below.
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> vub = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb = int_array(ARR_VLB_REF);
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (vlb && vlb[p] > 0) vlb[p] = moved(new_position, vlb[p]);
    if (vub && vub[p] > 0) vub[p] = moved(new_position, vub[p]);
    if (vub && vub[p] < 0) vub[p] = -moved(new_position, -vub[p]);
    status[p] &= ~static_cast<int32_t>(PS_INTEGER);
  }
  if (nglent <= 0 || !type || !column) return;
  OneBased<int32_t> root_upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> root_lower = int_array(ARR_ENTITY_ROOT_LOWER);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> member_upper = real_array(ARR_SET_MEMBER_UPPER);
  const double ztolis = dcv(dc::ZTOLIS);
  // Integer bounds round inward within ZTOLIS (an upper bound of -3 stays
  // -3, 2.9999999 is 3) and stop at INTMAX either way, so that an infinite
  // bound never overflows the state word.
  const double intmax = icv(ic::INTMAX) > 0 ? icv(ic::INTMAX) : INT32_MAX;
  const auto clamped = [&](double v) { return static_cast<int32_t>(std::clamp(v, -intmax, intmax)); };
  const auto upper_state = [&](double u) { return clamped(std::floor(u + ztolis)); };
  const auto lower_state = [&](double l) { return clamped(std::ceil(l - ztolis)); };
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    const int32_t c = column[e];
    if (is_set_type(kind)) {
      if (set_start && member_column && member_upper)
        for (int32_t m = set_start[c] + 1; m <= set_start[c + 1]; ++m) member_upper[m] = upper[member_column[m]];
      continue;
    }
    if (kind == ENT_SEMICONTINUOUS) {
      if (vub) vub[c] = e;
      if (vlb) vlb[c] = e;
    } else if (kind == ENT_PARTIAL_INTEGER) {
      // Above its integer limit the column is continuous: an upper bound
      // there (7.5 over a limit of 5) stays the column's own and is not
      // rounded into the state word.
      const double limit = type[e] >> 4;
      if (root_lower && lower[c] > root_lower[e]) root_lower[e] = lower_state(lower[c]);
      if (root_upper && upper[c] < root_upper[e] && upper[c] <= limit + ztolis) root_upper[e] = upper_state(upper[c]);
    } else {
      if (root_lower) root_lower[e] = lower_state(lower[c]);
      if (root_upper) root_upper[e] = upper_state(upper[c]);
      status[c] |= static_cast<int32_t>(PS_INTEGER);
      if ((static_cast<uint32_t>(status[c]) & PS_SEMICONTINUOUS) != 0) {
        if (vub) vub[c] = e;
        if (vlb) vlb[c] = e;
      }
    }
  }
}

}  // namespace kl
