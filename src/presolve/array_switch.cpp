#include "presolve/array_switch.h"

#include <vector>

#include "factor/starting_basis.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

ModelCutsStored model_cuts_stored;

namespace {

// The original basis header: compaction renumbers the header in place, and
// presolve may give up after that.
std::vector<int32_t> original_basis_header;
// The entities of type 2 or 3, which compaction recounts inside the search.
int32_t original_binary_entity_count = 0;

void switch_dimensions_to_original() {
  presolve_state.presolved_spare_elems_left = spare_elems_left;
  presolve_state.presolved_nqelem = nqelem;
  presolve_state.presolved_objective_constant = dcv(kObjectiveConstantSlot);
  presolve_state.presolved_nglent = nglent;
  presolve_state.presolved_nsets = nsets;
  presolve_state.presolved_nsosm = nsosm;
  nglent = original_problem.presolve_nglent;
  nsets = original_problem.presolve_nsets;
  nsosm = original_problem.presolve_nsosm;
  store.objective_row = original_problem.objective_row;
  dcv(kObjectiveConstantSlot) = original_problem.objective_constant;
  store.elem_space -= presolve_state.fill_reserve;
  spare_elems_left = presolve_state.orig_spare_elems_left;
  nqelem = presolve_state.orig_nqelem;
  nseq = original_problem.nseq;
  nrow = original_problem.nrow;
  store.first_col = original_problem.first_col;
}

void switch_dimensions_to_presolved() {
  store.elem_space += presolve_state.fill_reserve;
  spare_elems_left = presolve_state.presolved_spare_elems_left;
  nqelem = presolve_state.presolved_nqelem;
  nglent = presolve_state.presolved_nglent;
  nsets = presolve_state.presolved_nsets;
  nsosm = presolve_state.presolved_nsosm;
  store.objective_row = presolve_state.presolved_objective_row;
  dcv(kObjectiveConstantSlot) = presolve_state.presolved_objective_constant;
  nrow = presolve_state.counts.rows;
  nseq = presolve_state.counts.last_position;
  store.first_col = presolve_state.presolved_first_col;
  // Postsolve parked the presolved basis header in the column starts of
  // the rows, which no column uses.
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  if (header && col_start)
    for (int32_t i = 1; i <= nrow; ++i) header[i] = col_start[i];
}

}  // namespace

void switch_problem_arrays(int32_t direction) {
  if (direction == 0) {
    for (const int32_t id : kVersionedArrays) swap_saved_array(id, array_cells[id]);
    switch_dimensions_to_presolved();
    presolve_state.original_current = 0;
  } else {
    for (const int32_t id : kVersionedArrays) swap_saved_array(id, array_cells[id]);
    switch_dimensions_to_original();
    presolve_state.original_current = 1;
  }
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  if (rhs && work_rhs)
    for (int32_t i = 1; i <= nrow; ++i) work_rhs[i] = rhs[i];
  spare_rows_left = store.first_col - nrow - 1;
  if (OneBased<int32_t> col_start = int_array(ARR_COL_START)) nelem = col_start[nseq + 1] - 1;
  build_row_copy();
}

void free_presolve_arrays() {
  free_factor_arrays();
  for (const int32_t id : kVersionedArrays) {
    if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
  }
  for (const int32_t id : {ARR_POSITION_MAP, ARR_PRESOLVE_REALS, ARR_PRESOLVE_INTS}) {
    if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
  }
  clear_presolve_stack();
  presolve_state.presolved_first_col = original_problem.first_col;
  presolve_state.counts.rows = original_problem.nrow;
  presolve_state.counts.last_position = original_problem.nseq;
  presolve_state.presolved_objective_row = original_problem.objective_row;
  problem_flags &= ~PF_PRESOLVED_GLOBAL;
}

void keep_original_problem_words() {
  model_cuts_stored = ModelCutsStored{};
  original_basis_header.clear();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  if (header) original_basis_header.assign(header.data(), header.data() + nrow);
  original_binary_entity_count = search_record.binary_entity_count;
  presolve_state.original_fixed_constant = dcv(kSecondObjectiveConstantSlot);
  presolve_state.orig_nqelem = nqelem;
  presolve_state.orig_spare_elems_left = spare_elems_left;
  presolve_state.orig_typed_entries = recurse_entry_count;
}

void restore_original_problem() {
  free_presolve_arrays();
  switch_problem_arrays(1);
  presolve_state.original_current = 0;
  problem_flags &= ~(PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL);
  dcv(kSecondObjectiveConstantSlot) = presolve_state.original_fixed_constant;
  recurse_entry_count = presolve_state.orig_typed_entries;
  search_record.binary_entity_count = original_binary_entity_count;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  if (header && static_cast<int32_t>(original_basis_header.size()) == nrow)
    for (int32_t i = 1; i <= nrow; ++i) header[i] = original_basis_header[static_cast<size_t>(i - 1)];
  original_basis_header.clear();
  original_basis_header.shrink_to_fit();
  ModelCutsStored& cuts = model_cuts_stored;
  unstore_cuts(cuts.records.data(), static_cast<int32_t>(cuts.records.size()), cuts.elements_before);
  icv(ic::NRXTRA) -= cuts.nrxtra_added;
  icv(ic::NMXTRA) -= cuts.nmxtra_added;
  cuts = ModelCutsStored{};
}

void discard_presolved_problem() {
  free_presolve_arrays();
  switch_problem_arrays(1);
  presolve_state.original_current = 0;
  problem_flags &= ~(PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL);
  original_basis_header.clear();
  set_basis_header();
}

}  // namespace kl
