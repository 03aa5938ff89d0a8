#include "problem/delete_rows_cols.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "problem/factor_arrays.h"
#include "problem/scale_exponents.h"
#include "factor/starting_basis.h"
#include "problem/add_rows_cols.h"
#include "problem/change_problem.h"
#include "problem/matrix_storage.h"
#include "problem/quadratic_edit.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;
constexpr int32_t kCountArgument = 1;
constexpr int32_t kIndicesArgument = 2;
// Marker of a position to delete while the map is built.
constexpr int32_t kDeleted = -1;

// Old position -> new position (0 for a deleted one), indexed from 1.
class PositionMap {
 public:
  explicit PositionMap(int32_t positions) : slots_(static_cast<size_t>(positions) + 1, 0) {}
  int32_t& operator[](int32_t p) { return slots_[static_cast<size_t>(p)]; }
  // The 1-based view over the same slots (entry p is slots_[p]).
  OneBased<int32_t> view() { return OneBased<int32_t>(slots_.data() + 1); }
  // Positions lo..hi in order: every marked one gets 0, every other the next
  // number from lo. Returns how many were marked.
  int32_t number_kept(int32_t lo, int32_t hi) {
    int32_t next = lo;
    for (int32_t p = lo; p <= hi; ++p) (*this)[p] = (*this)[p] == kDeleted ? 0 : next++;
    return hi - next + 1;
  }
  // A position outside lo..hi keeps its number.
  int32_t mapped(int32_t p, int32_t lo, int32_t hi) {
    return p >= lo && p <= hi ? (*this)[p] : p;
  }

 private:
  std::vector<int32_t> slots_;
};

template <class T>
void move_entry(int32_t id, int32_t to, int32_t from) {
  if (T* block = static_cast<T*>(array_cells[id])) block[to - 1] = block[from - 1];
}

template <class T>
void set_entry(int32_t id, int32_t p, T value) {
  if (T* block = static_cast<T*>(array_cells[id])) block[p - 1] = value;
}

void move_name(int32_t to, int32_t from) {
  std::memmove(position_name(to), position_name(from), static_cast<size_t>(name_words) * kNameChars);
}

// The per-position links of the integer preprocessing (ids 95 and 97) hold
// positions: those past hi stay, the others follow the map.
void remap_position_links(PositionMap& map, int32_t lo, int32_t hi, int32_t extent) {
  for (const int32_t id : {ARR_VUB_REF, ARR_VLB_REF}) {
    const OneBased<int32_t> links = array_of<int32_t>(id);
    if (!links) continue;
    for (int32_t p = 1; p <= extent; ++p)
      if (links[p] > 0) links[p] = map.mapped(links[p], lo, hi);
  }
}

// ---------------------------------------------------------------------------
// delcol

// Marks the positions of the caller's columns; false after message 405.
bool mark_columns(int32_t count, const int32_t* indices, PositionMap& map) {
  for (int32_t k = 0; k < count; ++k) {
    const int64_t p = static_cast<int64_t>(indices[k]) + store.first_col + icv(ic::IFDBG) - 1;
    if (p < store.first_col || p > nseq) {
      report_error(MSG_COLUMN_INDEX_INVALID, indices[k], routine::kDelcol);
      return false;
    }
  }
  for (int32_t k = 0; k < count; ++k) map[indices[k] + store.first_col + icv(ic::IFDBG) - 1] = kDeleted;
  return true;
}

// The column entities (types 1 to 4) among the columns to delete become
// continuous through the column-type change, which takes them out of the
// entity arrays. False when that change refused.
bool drop_deleted_entities(PositionMap& map) {
  const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  const OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  std::vector<int32_t> columns;
  for (int32_t e = 1; e <= nglent && type; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    if (kind >= ENT_INTEGER && kind <= ENT_PARTIAL_INTEGER && map[column[e]] == kDeleted)
      columns.push_back(col_to_caller(column[e]));
  }
  if (columns.empty()) return true;
  const std::vector<char> letters(columns.size(), 'C');
  chgcoltype(static_cast<int32_t>(columns.size()), columns.data(), letters.data());
  return status_code == STATUS_OK;
}

// Kept columns close up from first_col in their order, each with its status,
// bounds, working bounds, value, cost, name and entries; the entries pack
// behind those of the column before.
void compact_columns(PositionMap& map, int32_t old_nseq) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const int32_t first = store.first_col;
  int32_t next = col_start[first];
  int32_t q = first;
  for (int32_t p = first; p <= old_nseq; ++p) {
    if (map[p] == 0) continue;
    const int32_t begin = col_start[p];
    const int32_t end = col_start[p + 1];
    if (q != p) {
      move_entry<int32_t>(ARR_POS_STATUS, q, p);
      for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER, ARR_X, ARR_OBJECTIVE})
        move_entry<double>(id, q, p);
      move_entry<int32_t>(ARR_VUB_REF, q, p);
      move_entry<int32_t>(ARR_VLB_REF, q, p);
      move_name(q, p);
    }
    col_start[q] = next;
    for (int32_t k = begin; k < end; ++k, ++next) {
      elem_row[next] = elem_row[k];
      elem_value[next] = elem_value[k];
    }
    ++q;
  }
  col_start[q] = next;
  for (int32_t p = q; p <= old_nseq; ++p) {
    set_entry<int32_t>(ARR_POS_STATUS, p, 0);
    for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER, ARR_X, ARR_OBJECTIVE})
      set_entry<double>(id, p, 0.0);
    set_entry<int32_t>(ARR_VUB_REF, p, 0);
    set_entry<int32_t>(ARR_VLB_REF, p, 0);
    col_start[p + 1] = next;
  }
}

// Entity columns take their new positions; set members of deleted columns
// leave their sets (a member at position 0 would be a column that does not
// exist), the others take their new positions.
void renumber_entities_and_sets(PositionMap& map) {
  const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  const OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = 1; e <= nglent && type; ++e)
    if ((type[e] & ENT_TYPE_MASK) < ENT_SET1) column[e] = map[column[e]];

  const OneBased<int32_t> start = int_array(ARR_SET_START);
  const OneBased<int32_t> member = int_array(ARR_SET_MEMBER_COLUMN);
  const OneBased<double> ref = real_array(ARR_SET_MEMBER_REF);
  const OneBased<double> member_upper = real_array(ARR_SET_MEMBER_UPPER);
  if (nsets == 0 || !start || !member) return;
  int32_t kept = 0;
  for (int32_t k = 1; k <= nsets; ++k) {
    const int32_t begin = start[k] + 1;
    const int32_t end = start[k + 1];
    start[k] = kept;
    for (int32_t m = begin; m <= end; ++m) {
      const int32_t p = map[member[m]];
      if (p == 0) continue;
      ++kept;
      member[kept] = p;
      if (ref) ref[kept] = ref[m];
      if (member_upper) member_upper[kept] = member_upper[m];
    }
  }
  start[nsets + 1] = kept;
  nsosm = kept;
}

// ---------------------------------------------------------------------------
// delrow

// Marks the caller's rows; false after message 402.
bool mark_rows(int32_t count, const int32_t* indices, PositionMap& map) {
  for (int32_t k = 0; k < count; ++k) {
    const int64_t r = static_cast<int64_t>(indices[k]) + icv(ic::IFDBG);
    if (r < 1 || r > nrow) {
      report_error(MSG_ROW_INDEX_INVALID, indices[k], routine::kDelrow);
      return false;
    }
  }
  for (int32_t k = 0; k < count; ++k) map[indices[k] + icv(ic::IFDBG)] = kDeleted;
  return true;
}

// Name of a row position that became spare: **nnnnn* and blanks.
void write_spare_row_name(int32_t position) {
  char* name = position_name(position);
  const size_t length = static_cast<size_t>(name_words) * kNameChars;
  char text[24];
  const int written = std::snprintf(text, sizeof text, "**%05d*", position);
  std::memset(name, ' ', length);
  std::memcpy(name, text, std::min(length, static_cast<size_t>(written)));
}

// Kept rows close up from row 1 with their row word, status, basis header
// entry, slack bounds, right-hand sides, work vector entry and name; the
// rows freed at the end become spare rows.
void compact_rows(PositionMap& map, int32_t old_nrow) {
  int32_t q = 1;
  for (int32_t i = 1; i <= old_nrow; ++i) {
    if (map[i] == 0) continue;
    if (q != i) {
      for (const int32_t id : {ARR_ROW_TYPE, ARR_POS_STATUS, ARR_BASIS_HEADER, ARR_VUB_REF, ARR_VLB_REF})
        move_entry<int32_t>(id, q, i);
      for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER, ARR_X, ARR_WORK_VECTOR,
                               ARR_WORK_RHS, ARR_RHS, ARR_BASIC_UPPER})
        move_entry<double>(id, q, i);
      move_name(q, i);
    }
    ++q;
  }
  for (int32_t i = q; i <= old_nrow; ++i) {
    set_entry<int32_t>(ARR_ROW_TYPE, i, 0);
    set_entry<int32_t>(ARR_POS_STATUS, i, PS_FIXED);
    set_entry<int32_t>(ARR_BASIS_HEADER, i, 0);
    set_entry<int32_t>(ARR_VUB_REF, i, 0);
    set_entry<int32_t>(ARR_VLB_REF, i, 0);
    for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER, ARR_X, ARR_WORK_VECTOR,
                             ARR_WORK_RHS, ARR_RHS, ARR_BASIC_UPPER, ARR_OBJECTIVE})
      set_entry<double>(id, i, 0.0);
    write_spare_row_name(i);
  }
}

int32_t mapped_row_reference(PositionMap& map, int32_t row, int32_t old_nrow, int32_t gone) {
  if (row < 1 || row > old_nrow) return row;
  return map[row] == 0 ? gone : map[row];
}

// The square basis the deletion broke: the header again from the status
// bits, which moved with their positions (a deleted basic column leaves a
// slack in its place, a deleted row with a basic column takes one column out).
void restore_basis_header() {
  if (array_cells[ARR_BASIS_HEADER] != nullptr) set_basis_header();
}

}  // namespace

void delcol(int32_t count, const int32_t* indices) {
  begin_body();
  if (!require_editable_problem()) return;
  if (icv(ic::IFMEM) & kIfmemFixedShape) {
    report_plain_error(MSG_PROBLEM_SHAPE_FIXED);
    return;
  }
  if (count < 0) {
    report_count_error(kCountArgument, 0, count, routine::kDelcol);
    return;
  }
  if (count > 0 && !require_argument(indices, kIndicesArgument, routine::kDelcol)) return;
  try {
    const int32_t old_nseq = nseq;
    PositionMap map(old_nseq + 1);
    if (!mark_columns(count, indices, map)) return;
    if (!make_column_copy_current() || !make_work_arrays_present()) return;
    if (!drop_deleted_entities(map)) return;

    problem_flags &= ~(PF_SOLUTION_CURRENT | PF_ROW_COPY);
    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    free_factor_arrays();

    const int32_t deleted = map.number_kept(store.first_col, old_nseq);
    const int32_t old_nelem = nelem;
    compact_columns(map, old_nseq);
    renumber_entities_and_sets(map);
    remap_position_links(map, store.first_col, old_nseq, old_nseq - deleted);
    remap_quadratic_columns(map.view(), old_nseq);

    nseq = old_nseq - deleted;
    spare_cols_left += deleted;
    nelem = int_array(ARR_COL_START)[nseq + 1] - 1;
    spare_elems_left += old_nelem - nelem;
    build_row_copy();
    restore_basis_header();
    record_original_problem();
  } catch (const std::bad_alloc&) {
    report_edit_no_memory();
  }
}

void delrow(int32_t count, const int32_t* indices) {
  begin_body();
  if (!require_editable_problem()) return;
  if (count < 0) {
    report_count_error(kCountArgument, 0, count, routine::kDelrow);
    return;
  }
  if (count > 0 && !require_argument(indices, kIndicesArgument, routine::kDelrow)) return;
  try {
    const int32_t old_nrow = nrow;
    PositionMap map(old_nrow);
    if (!mark_rows(count, indices, map)) return;
    if (!make_column_copy_current() || !make_work_arrays_present()) return;

    problem_flags &= ~(PF_SOLUTION_CURRENT | PF_ROW_COPY);
    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    free_factor_arrays();

    const int32_t deleted = map.number_kept(1, old_nrow);
    compact_rows(map, old_nrow);
    store.objective_row = mapped_row_reference(map, store.objective_row, old_nrow, -2);
    objective_name_row = mapped_row_reference(map, objective_name_row, old_nrow, 0);
    remap_position_links(map, 1, old_nrow, nseq);

    const int32_t old_nelem = nelem;
    // Every column keeps its entries in rows that remain, renumbered.
    nelem = pack_column_elements(
        [&](int32_t r, double) { return r >= 1 && r <= old_nrow ? map[r] : 0; });
    spare_elems_left += old_nelem - nelem;
    nrow = old_nrow - deleted;
    spare_rows_left += deleted;
    build_row_copy();
    restore_basis_header();
    record_original_problem();
  } catch (const std::bad_alloc&) {
    report_edit_no_memory();
  }
}

}  // namespace kl
