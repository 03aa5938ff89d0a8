// Presolve's working storage: the original problem kept aside in the saved
// registry while presolve works on copies, and the count of what is left
// once the fixed columns are out.
#include <algorithm>
#include <cmath>
#include <vector>

#include "klsol/message_ids.h"
#include "presolve/array_switch.h"
#include "presolve/presolve_driver.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// M_S when the caller left it alone: (element space + positions + this) / 16
// x 16 entries.
constexpr int64_t kStackBaseEntries = 1000;
constexpr int64_t kStackRounding = 16;

constexpr uint32_t kKeepOrQuadratic = PS_PROTECTED | PS_QUADRATIC;

struct CopyRequest {
  int32_t id;
  int64_t words;
  int64_t extra;
};

// A block left in the saved registry by an earlier presolve (a final
// postsolve frees only the problem arrays of the presolved version) would
// be lost when the new copy parks the original there.
void release_stale_saved(int32_t id) {
  void*& saved = saved_array_registry[id][current_slot];
  if (saved == nullptr || saved == array_cells[id]) return;
  void* stale = saved;
  saved = nullptr;
  free_array(0, stale);
}

// Undoes the copies made so far, newest first: the copy is freed and the
// original is current again.
void undo_copies(const std::vector<int32_t>& copied) {
  for (auto it = copied.rbegin(); it != copied.rend(); ++it) {
    const int32_t id = *it;
    swap_saved_array(id, array_cells[id]);
    void*& saved = saved_array_registry[id][current_slot];
    void* copy = saved;
    saved = nullptr;
    if (copy != nullptr) free_array(0, copy);
  }
}

std::vector<CopyRequest> copy_requests() {
  const int64_t rows = static_cast<int64_t>(nrow) + spare_rows_left;
  const int64_t positions = static_cast<int64_t>(nseq) + spare_cols_left;
  const int64_t fill = static_cast<int64_t>(nrow) + icv(ic::NEXTRA);
  std::vector<CopyRequest> requests = {
      {ARR_ROW_TYPE, rows, 0},
      {ARR_POS_STATUS, positions, 0},
      {ARR_COL_START, positions + 1, 0},
      {ARR_ELEM_ROW, store.elem_space, fill},
      {ARR_ELEM_VALUE, words_for_reals(store.elem_space), words_for_reals(fill)},
      {ARR_OBJECTIVE, words_for_reals(positions), 0},
      {ARR_RHS, words_for_reals(rows), 0},
      {ARR_LOWER, words_for_reals(positions), 0},
      {ARR_UPPER, words_for_reals(positions), 0},
  };
  // Every other versioned array that exists is copied whole: the quadratic
  // objective, and the entity data that compaction and scaling rewrite.
  for (const int32_t id : kVersionedArrays) {
    if (id <= ARR_UPPER || array_cells[id] == nullptr) continue;
    requests.push_back({id, block_words(array_cells[id]), 0});
  }
  return requests;
}

// Entity marks for the rounds inside the global search: integer and binary
// columns carry 0x1000, and so does every member of a set of type 1 that a
// row makes a choice of one (its entries exactly the members, each with the
// row's limit as coefficient).
void mark_integer_like_columns() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  if (nglent <= 0 || !entity_type || !entity_column) return;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t type = entity_type[e] & ENT_TYPE_MASK;
    if (type == ENT_INTEGER || type == ENT_BINARY) status[entity_column[e]] |= PS_INTEGER;
  }
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  if (nsets <= 0 || !set_start || !member_column) return;
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> lower = real_array(ARR_LOWER);
  const double ztolda = dcv(dc::ZTOLDA);
  std::vector<int32_t> row_entries(static_cast<size_t>(nrow) + 1, 0);
  std::vector<int32_t> in_succession(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j)
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
      if (elem_row[k] >= 1 && elem_row[k] <= nrow) ++row_entries[static_cast<size_t>(elem_row[k])];
  int32_t set = 0;
  for (int32_t e = 1; e <= nglent && set < nsets; ++e) {
    const int32_t type = entity_type[e] & ENT_TYPE_MASK;
    if (type != ENT_SET1 && type != ENT_SET2) continue;
    ++set;
    if (type != ENT_SET1) continue;
    const int32_t first = set_start[set] + 1;
    const int32_t last = set_start[set + 1];
    if (last < first) continue;
    bool unmarked = false;
    for (int32_t m = first; m <= last; ++m)
      if ((static_cast<uint32_t>(status[member_column[m]]) & (PS_BINARY | PS_INTEGER)) == 0) unmarked = true;
    if (!unmarked) continue;
    const int32_t members = last - first + 1;
    for (int32_t m = first; m <= last; ++m) {
      const int32_t j = member_column[m];
      for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
        const int32_t r = elem_row[k];
        if (r >= 1 && r <= nrow && in_succession[static_cast<size_t>(r)] == m - first)
          ++in_succession[static_cast<size_t>(r)];
      }
    }
    const int32_t j0 = member_column[first];
    for (int32_t k = col_start[j0]; k < col_start[j0 + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r < 1 || r > nrow) continue;
      const auto row = static_cast<size_t>(r);
      if (in_succession[row] != members || row_entries[row] != members) continue;
      // Only an equality with members of lower bound 0 makes the members
      // integer-like: sum a x = a with at most one nonzero puts that one at
      // 1. An inequality lets the nonzero member take any value up to it.
      const double b = rhs[r];
      if ((row_type[r] & ROW_TYPE_MASK) != ROW_E) continue;
      bool from_zero = true;
      for (int32_t m = first; m <= last && from_zero; ++m) from_zero = lower[member_column[m]] == 0.0;
      if (!from_zero) continue;
      bool coefficients_fit = true;
      for (int32_t m = first; m <= last && coefficients_fit; ++m) {
        const int32_t element = find_in_column(member_column[m], r);
        coefficients_fit = element != 0 && std::fabs(elem_value[element] - b) <= ztolda;
      }
      if (!coefficients_fit) continue;
      for (int32_t m = first; m <= last; ++m) status[member_column[m]] |= PS_INTEGER;
      break;
    }
    std::fill(in_succession.begin(), in_succession.end(), 0);
  }
}

int32_t fail_allocation(int32_t id) {
  set_message_mode(0);
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  return id;
}

}  // namespace

int32_t presolve_allocate() {
  free_factor_arrays();
  if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
  if (integer_set_flags[ic::M_S] == 0) {
    const int64_t entries = (store.elem_space + nseq + kStackBaseEntries) / kStackRounding * kStackRounding;
    icv(ic::M_S) = entries > INT32_MAX ? INT32_MAX / kStackRounding * kStackRounding : static_cast<int32_t>(entries);
  }
  if (icv(ic::M_S) <= 0) return fail_allocation(ARR_PRESOLVE_INTS);

  keep_original_problem_words();
  std::vector<int32_t> copied;
  for (const CopyRequest& request : copy_requests()) {
    release_stale_saved(request.id);
    if (grow_array_keep_saved(request.id, array_cells[request.id], request.words, request.extra) != 0) {
      undo_copies(copied);
      return fail_allocation(request.id);
    }
    copied.push_back(request.id);
  }

  const int64_t positions = static_cast<int64_t>(nseq) + spare_cols_left;
  const struct {
    int32_t id;
    int64_t words;
  } fresh[] = {
      {ARR_POSITION_MAP, words_for_ints(positions)},
      {ARR_PRESOLVE_INTS, words_for_ints(icv(ic::M_S))},
      {ARR_PRESOLVE_REALS, words_for_reals(icv(ic::M_S))},
  };
  for (const auto& block : fresh) {
    if (array_cells[block.id] != nullptr) free_array(block.id, array_cells[block.id]);
    if (allocate_array_keep_old(block.id, array_cells[block.id], block.words) != 0) {
      for (const int32_t id : {ARR_POSITION_MAP, ARR_PRESOLVE_INTS, ARR_PRESOLVE_REALS})
        if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
      undo_copies(copied);
      return fail_allocation(block.id);
    }
  }
  clear_presolve_stack();
  presolve_state.original_current = 0;

  original_problem.nrow = nrow;
  original_problem.nseq = nseq;
  original_problem.first_col = store.first_col;
  original_problem.objective_row = store.objective_row;
  original_problem.nqelem = nqelem;
  original_problem.objective_constant = dcv(kObjectiveConstantSlot);
  original_problem.presolve_nglent = nglent;
  original_problem.presolve_nsets = nsets;
  original_problem.presolve_nsosm = nsosm;
  presolve_state.orig_spare_rows_left = spare_rows_left;
  presolve_state.orig_spare_cols_left = spare_cols_left;
  presolve_state.fill_reserve = icv(ic::NEXTRA) > 0 ? icv(ic::NEXTRA) : 0;
  store.elem_space += presolve_state.fill_reserve;
  return 0;
}

void presolve_count_reduced_problem() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const auto has = [&](int32_t p, uint32_t bits) { return (static_cast<uint32_t>(status[p]) & bits) != 0; };
  const auto live_row = [&](int32_t i) { return !has(i, PS_FREE) || has(i, kKeepOrQuadratic); };

  int32_t rows = 0;
  for (int32_t i = 1; i <= nrow; ++i)
    if (live_row(i)) ++rows;

  int32_t columns = 0;
  int32_t elements = 0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    // A fixed column the caller protected, or one of the quadratic
    // objective, stays in the problem with both bounds finite.
    if (has(j, PS_FIXED) && has(j, kKeepOrQuadratic)) {
      const uint32_t word = static_cast<uint32_t>(status[j]) & ~(PS_FIXED | PS_BOTH_FINITE);
      status[j] = static_cast<int32_t>(word | PS_BOTH_FINITE);
    }
    if (has(j, PS_FIXED)) continue;
    ++columns;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r >= 1 && r <= nrow && live_row(r)) ++elements;
    }
  }
  PresolveCounts& counts = presolve_state.counts;
  counts.rows = rows;
  counts.last_position = columns + store.first_col - 1;
  counts.elements = elements;
  counts.entities = nglent;
  counts.sets = nsets;
  counts.set_members = nsosm;

  if ((icv(ic::IPSLCT) & kSelectNoEntitySweeps) == 0) mark_integer_like_columns();
  if (icv(ic::IFMSG) != 0) print_presolve_progress(0, rows, columns, elements, nglent, nsets, nsosm);
}

}  // namespace kl
