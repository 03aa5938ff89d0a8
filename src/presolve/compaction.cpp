// The end of presolve: the marked problem, still in the original numbering,
// becomes the compact presolved problem. Kept rows and columns are
// renumbered in their old order, live model-cut rows leave the matrix for
// the cut pool, and position_map records where each new position came from.
#include <algorithm>
#include <vector>

#include "factor/scaling.h"
#include "presolve/array_switch.h"
#include "presolve/presolve_driver.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "klsol/message_ids.h"
#include "problem/cut_store.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr uint32_t kKeepOrQuadratic = PS_PROTECTED | PS_QUADRATIC;
// Presolve's own marks, which mean nothing to the presolved problem.
constexpr uint32_t kPresolveColumnMarks = PS_SEARCH_FIXED | PS_PRESOLVE_MARK_1 | PS_PRESOLVE_MARK_2 | PS_PRESOLVE_TRACE;
// The row-class bit that compaction drops.
constexpr int32_t kRowClassDropped = 0x1000;

bool has(int32_t word, uint32_t bits) { return (static_cast<uint32_t>(word) & bits) != 0; }

// One model-cut row's elements over the kept columns, in column order.
struct CutRow {
  std::vector<int32_t> columns;
  std::vector<double> values;
};

// Stores one model cut with its positions and coefficients as they stand.
void store_model_cut(char sense, double rhs, const CutRow& row) {
  const int32_t type = kModelCutType;
  const int32_t n = static_cast<int32_t>(row.columns.size());
  const int32_t start[2] = {1, n + 1};
  const int32_t stored_before = search_record.stored_cut_count;
  int32_t record = 0;
  storecut(1, 0, &type, &sense, &rhs, start, &record, row.columns.data(), row.values.data(), -1);
  if (search_record.stored_cut_count > stored_before) model_cuts_stored.records.push_back(record);
}

char model_cut_sense(int32_t row_type) {
  if ((row_type & ROW_E) != 0) return 'E';
  if ((row_type & ROW_L) != 0) return 'L';
  if ((row_type & ROW_G) != 0) return 'G';
  return ' ';
}

struct KeptColumn {
  int32_t old_position;
  int32_t status;
  double lower, upper, search_lower, search_upper, cost;
  int32_t first_element;  // into the element lists below
  int32_t element_count;
  // Variable-bound references, moved inside the global search only (their
  // values are renumbered with the entities).
  int32_t vub_ref = 0;
  int32_t vlb_ref = 0;
};

// The quadratic objective over the kept columns: each start list in column
// order, entries kept when their column is, with new positions. Gathered
// before the arrays are trimmed, written after.
struct QuadraticLists {
  std::vector<int32_t> starts[2];
  std::vector<int32_t> indices;
  std::vector<double> values;
};

QuadraticLists gather_quadratic(const std::vector<int32_t>& new_position, const std::vector<KeptColumn>& kept) {
  QuadraticLists q;
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  if (nqelem <= 0 || !upper_start || !lower_start || !index || !value) return q;
  for (int list = 0; list < 2; ++list) {
    OneBased<int32_t> list_start = list == 0 ? upper_start : lower_start;
    q.starts[list].reserve(kept.size() + 1);
    for (const KeptColumn& c : kept) {
      q.starts[list].push_back(static_cast<int32_t>(q.indices.size()) + 1);
      for (int32_t k = list_start[c.old_position]; k < list_start[c.old_position + 1]; ++k) {
        const int32_t other = index[k];
        if (other < 1 || other >= static_cast<int32_t>(new_position.size())) continue;
        const int32_t moved = new_position[static_cast<size_t>(other)];
        if (moved == 0) continue;
        q.indices.push_back(moved);
        q.values.push_back(value[k]);
      }
    }
    q.starts[list].push_back(static_cast<int32_t>(q.indices.size()) + 1);
  }
  return q;
}

void write_quadratic(const QuadraticLists& q, int32_t new_first_col) {
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  if (q.starts[0].empty() || !upper_start || !lower_start) return;
  for (size_t c = 0; c < q.starts[0].size(); ++c) {
    const int32_t p = new_first_col + static_cast<int32_t>(c);
    upper_start[p] = q.starts[0][c];
    lower_start[p] = q.starts[1][c];
  }
  for (size_t k = 0; k < q.indices.size(); ++k) {
    index[static_cast<int64_t>(k) + 1] = q.indices[k];
    value[static_cast<int64_t>(k) + 1] = q.values[k];
  }
}

// The arrays at their new sizes, contents kept. A block that would have to
// grow (more cuts in the pool than rows left) is grown. Returns 0, or the id
// of a block that stayed smaller than the compacted problem needs (a block
// that could not shrink is merely larger).
int32_t trim_arrays() {
  const int64_t rows = static_cast<int64_t>(nrow) + spare_rows_left;
  const int64_t positions = static_cast<int64_t>(nseq) + spare_cols_left;
  const int64_t elements = std::max<int64_t>(static_cast<int64_t>(nelem) + spare_elems_left + nrow, store.elem_space);
  struct Size {
    int32_t id;
    int64_t words;
  };
  std::vector<Size> sizes = {
      {ARR_ROW_TYPE, rows},
      {ARR_POS_STATUS, positions},
      {ARR_COL_START, positions + 1},
      {ARR_ELEM_ROW, elements},
      {ARR_ELEM_VALUE, words_for_reals(elements)},
      {ARR_OBJECTIVE, words_for_reals(positions)},
      {ARR_LOWER, words_for_reals(positions)},
      {ARR_UPPER, words_for_reals(positions)},
      {ARR_RHS, words_for_reals(rows)},
      {ARR_POSITION_MAP, positions},
  };
  if (nqelem > 0) {
    sizes.push_back({ARR_QUAD_LOWER_START, positions + 1});
    sizes.push_back({ARR_QUAD_UPPER_START, positions + 1});
    sizes.push_back({ARR_QUAD_INDEX, nqelem});
    sizes.push_back({ARR_QUAD_VALUES, words_for_reals(nqelem)});
  }
  sizes.push_back({ARR_PRESOLVE_INTS, presolve_int_top});
  sizes.push_back({ARR_PRESOLVE_REALS, words_for_reals(presolve_real_top)});
  for (const Size& s : sizes) {
    if (array_cells[s.id] == nullptr) continue;
    if (resize_array(s.id, array_cells[s.id], s.words) != 0 && block_words(array_cells[s.id]) < s.words) return s.id;
  }
  return 0;
}

// Message 20 for a block compaction could not have; status 32.
void report_no_room(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

// More cuts in the pool than rows left move the first column up: the
// arrays indexed by row and by position must then reach the new last
// position. False after message 20 (status 32).
bool make_room_for_positions() {
  const int64_t rows = static_cast<int64_t>(nrow) + spare_rows_left;
  const int64_t positions = static_cast<int64_t>(nseq) + spare_cols_left + icv(ic::NCXTRA);
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_WORK_RHS, words_for_reals(rows)},        {ARR_BASIS_HEADER, words_for_ints(rows)},
      {ARR_BASIC_UPPER, words_for_reals(rows)},     {ARR_WORK_VECTOR, words_for_reals(rows)},
      {ARR_WORK_UPPER, words_for_reals(positions)}, {ARR_WORK_LOWER, words_for_reals(positions)},
      {ARR_VUB_REF, words_for_ints(positions)},     {ARR_VLB_REF, words_for_ints(positions)},
  };
  int32_t failed = 0;
  for (const auto& block : blocks) {
    if (block_words(array_cells[block.id]) >= block.words) continue;
    // The variable-bound references exist only for a problem with entities.
    if ((block.id == ARR_VUB_REF || block.id == ARR_VLB_REF) && array_cells[block.id] == nullptr) continue;
    if (allocate_or_grow_array(block.id, array_cells[block.id], block.words) != 0) {
      failed = block.id;
      break;
    }
  }
  if (failed == 0 && (block_words(array_cells[ARR_BASIC_VALUES]) < words_for_reals(work_rows()) ||
                      block_words(array_cells[ARR_X]) < words_for_reals(work_positions()))) {
    // The row copy is rebuilt once the columns are in place.
    problem_flags &= ~PF_ROW_COPY;
    failed = alloc_solver_work_arrays();
  }
  if (failed == 0) return true;
  report_no_room(failed);
  return false;
}

}  // namespace

void move_flagged_rows_to_cut_pool(int32_t& result) {
  result = 0;
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<int32_t> position_map = int_array(ARR_POSITION_MAP);

  const int32_t old_nrow = nrow;
  const int32_t old_first_col = store.first_col;
  const int32_t old_nseq = nseq;
  std::vector<int32_t> new_position(static_cast<size_t>(old_nseq) + 1, 0);
  const auto kept_column = [&](int32_t j) { return has(status[j], PS_PROTECTED) || !has(status[j], PS_FIXED); };

  // Model-cut rows gather their elements over the kept columns first, in
  // column order, which is the order of the row. The pool holds
  // coefficients per unit of the unscaled column (a cut row is scaled by
  // the columns' factors of the problem it enters), so each element loses
  // its column's factor here; the row's own factor stays on the whole cut,
  // right-hand side included, which leaves the cut the same.
  std::vector<int32_t> cut_slot(static_cast<size_t>(old_nrow) + 1, -1);
  std::vector<CutRow> cut_rows;
  for (int32_t i = 1; i <= old_nrow; ++i) {
    if ((row_type[i] & static_cast<int32_t>(RF_MODEL_CUT)) == 0) continue;
    cut_slot[static_cast<size_t>(i)] = static_cast<int32_t>(cut_rows.size());
    cut_rows.emplace_back();
  }
  if (!cut_rows.empty()) {
    for (int32_t j = old_first_col; j <= old_nseq; ++j) {
      if (!kept_column(j)) continue;
      for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
        const int32_t r = elem_row[k];
        if (r < 1 || r > old_nrow || cut_slot[static_cast<size_t>(r)] < 0) continue;
        CutRow& row = cut_rows[static_cast<size_t>(cut_slot[static_cast<size_t>(r)])];
        row.columns.push_back(j);
        row.values.push_back(elem_value[k] * scale_powers[2 * kNeutralScaleExponent - scale_exponent(status[j])]);
      }
    }
  }

  // Rows. A kept row moves down to its new number k <= i, so the forward
  // pass never overwrites a row not yet read.
  model_cuts_stored.elements_before = search_record.pool_elements_used;
  const int32_t ifdbg = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  int32_t kept_rows = 0;
  int32_t new_objective_row = -1;
  std::vector<int32_t> new_row(static_cast<size_t>(old_nrow) + 1, 0);
  for (int32_t i = 1; i <= old_nrow; ++i) {
    if (cut_slot[static_cast<size_t>(i)] >= 0) {
      const CutRow& row = cut_rows[static_cast<size_t>(cut_slot[static_cast<size_t>(i)])];
      const char sense = model_cut_sense(row_type[i]);
      // A removed row has infinite slack bounds and yields no cut; a row of
      // no inequality type has no sense to store.
      if (!has(status[i], PS_FREE) && sense != ' ') {
        store_model_cut(sense, work_rhs[i], row);
        if (sense == 'L' && upper[i] < kInfinity) {
          work_rhs[i] -= upper[i];
          store_model_cut('G', work_rhs[i], row);
        }
      }
      continue;
    }
    if (!has(status[i], kKeepOrQuadratic) && has(status[i], PS_FREE)) continue;
    const int32_t k = ++kept_rows;
    new_row[static_cast<size_t>(i)] = k;
    new_position[static_cast<size_t>(i)] = k;
    position_map[k] = i;
    search_upper[k] = upper[k] = upper[i];
    search_lower[k] = lower[k] = lower[i];
    status[k] = status[i];
    row_type[k] = row_type[i] & ~kRowClassDropped;
    rhs[k] = work_rhs[i];
    if (i == store.objective_row) new_objective_row = k;
  }
  icv(ic::IFDBG) = ifdbg;
  for (int32_t k = 1; k <= kept_rows; ++k) work_rhs[k] = rhs[k];

  // Room for the pool's cuts.
  const int32_t stored = search_record.stored_cut_count;
  const int32_t pool_elements = search_record.pool_elements_used;
  spare_rows_left += stored;
  spare_elems_left += pool_elements;
  icv(ic::NRXTRA) += stored;
  icv(ic::NMXTRA) += pool_elements;
  model_cuts_stored.nrxtra_added = stored;
  model_cuts_stored.nmxtra_added = pool_elements;
  const int32_t new_first_col = kept_rows + spare_rows_left + 1;
  if (new_objective_row > 0) status[new_objective_row] |= PS_FREE;

  // Columns are read whole before any is written: with more cuts stored
  // than rows left, the new first column lies above the old one.
  const bool search = (problem_flags & PF_SEARCH_RUNNING) != 0;
  OneBased<int32_t> vub_ref = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb_ref = int_array(ARR_VLB_REF);
  std::vector<KeptColumn> kept;
  std::vector<int32_t> kept_element_rows;
  std::vector<double> kept_element_values;
  for (int32_t j = old_first_col; j <= old_nseq; ++j) {
    if (!kept_column(j)) continue;
    KeptColumn c{j,
                 static_cast<int32_t>(static_cast<uint32_t>(status[j]) & ~kPresolveColumnMarks),
                 lower[j],
                 upper[j],
                 search_lower[j],
                 search_upper[j],
                 cost[j],
                 static_cast<int32_t>(kept_element_rows.size()),
                 0};
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r < 1 || r > old_nrow || new_row[static_cast<size_t>(r)] == 0 || r == store.objective_row) continue;
      kept_element_rows.push_back(new_row[static_cast<size_t>(r)]);
      kept_element_values.push_back(elem_value[k]);
    }
    c.element_count = static_cast<int32_t>(kept_element_rows.size()) - c.first_element;
    if (search) {
      if (vub_ref) c.vub_ref = vub_ref[j];
      if (vlb_ref) c.vlb_ref = vlb_ref[j];
    }
    new_position[static_cast<size_t>(j)] = new_first_col + static_cast<int32_t>(kept.size());
    kept.push_back(c);
  }
  const int32_t new_nseq = new_first_col + static_cast<int32_t>(kept.size()) - 1;
  const int32_t new_nelem = static_cast<int32_t>(kept_element_rows.size());

  const QuadraticLists quadratic = gather_quadratic(new_position, kept);
  if (nqelem > 0) nqelem = static_cast<int32_t>(quadratic.indices.size());
  nrow = kept_rows;
  store.first_col = new_first_col;
  nseq = new_nseq;
  nelem = new_nelem;
  if (store.objective_row > 0) store.objective_row = new_objective_row;
  // Growth, when the new first column lies above the old one.
  if (const int32_t short_block = trim_arrays(); short_block != 0) {
    report_no_room(short_block);
    return;
  }
  if (!make_room_for_positions()) return;
  row_type = int_array(ARR_ROW_TYPE);
  status = int_array(ARR_POS_STATUS);
  col_start = int_array(ARR_COL_START);
  elem_row = int_array(ARR_ELEM_ROW);
  elem_value = real_array(ARR_ELEM_VALUE);
  cost = real_array(ARR_OBJECTIVE);
  rhs = real_array(ARR_RHS);
  lower = real_array(ARR_LOWER);
  upper = real_array(ARR_UPPER);
  position_map = int_array(ARR_POSITION_MAP);
  work_rhs = real_array(ARR_WORK_RHS);
  search_upper = real_array(ARR_WORK_UPPER);
  search_lower = real_array(ARR_WORK_LOWER);
  header = int_array(ARR_BASIS_HEADER);
  basic_upper = real_array(ARR_BASIC_UPPER);
  vub_ref = int_array(ARR_VUB_REF);
  vlb_ref = int_array(ARR_VLB_REF);
  for (int32_t k = 1; k <= kept_rows; ++k) {
    header[k] = k;
    basic_upper[k] = upper[k];
  }

  // Spare rows hold nothing.
  for (int32_t i = kept_rows + 1; i < new_first_col; ++i) {
    row_type[i] = 0;
    status[i] = 0;
    lower[i] = upper[i] = rhs[i] = work_rhs[i] = 0.0;
    search_lower[i] = search_upper[i] = 0.0;
    header[i] = 0;
    basic_upper[i] = 0.0;
    position_map[i] = 0;
    col_start[i] = 1;
  }
  int32_t next = 1;
  for (size_t c = 0; c < kept.size(); ++c) {
    const KeptColumn& column = kept[c];
    const int32_t p = new_first_col + static_cast<int32_t>(c);
    position_map[p] = column.old_position;
    status[p] = column.status;
    lower[p] = column.lower;
    upper[p] = column.upper;
    search_lower[p] = column.search_lower;
    search_upper[p] = column.search_upper;
    cost[p] = column.cost;
    if (search) {
      if (vub_ref) vub_ref[p] = column.vub_ref;
      if (vlb_ref) vlb_ref[p] = column.vlb_ref;
    }
    col_start[p] = next;
    for (int32_t e = 0; e < column.element_count; ++e) {
      elem_row[next] = kept_element_rows[static_cast<size_t>(column.first_element + e)];
      elem_value[next] = kept_element_values[static_cast<size_t>(column.first_element + e)];
      ++next;
    }
  }
  col_start[new_nseq + 1] = next;
  // Spare columns hold nothing.
  for (int32_t p = new_nseq + 1; p <= new_nseq + spare_cols_left; ++p) {
    status[p] = 0;
    lower[p] = upper[p] = cost[p] = 0.0;
    if (search) {
      if (vub_ref) vub_ref[p] = 0;
      if (vlb_ref) vlb_ref[p] = 0;
    }
    position_map[p] = 0;
    col_start[p + 1] = next;
  }
  if (search) {
    // Entity lists and bound references still name old positions; the
    // bounds they read are the presolved ones, now in place.
    renumber_search_entities(new_position);
  }
  write_quadratic(quadratic, new_first_col);

  if (integer_set_flags[ic::M_S] == 0) icv(ic::M_S) = presolve_int_top;
  int32_t scale_result = 0;
  int32_t scale_error = 0;
  scale_problem(scale_result, scale_error);
  build_row_copy();
  original_problem.presolved_nrow = nrow;
  original_problem.presolved_nseq = nseq;
  presolve_state.counts.rows = nrow;
  presolve_state.counts.last_position = nseq;
  presolve_state.presolved_first_col = store.first_col;
  presolve_state.presolved_objective_row = store.objective_row;
}

}  // namespace kl
