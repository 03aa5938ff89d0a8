#include "problem/matrix_storage.h"

#include <algorithm>
#include <cstring>

#include "problem/cut_pool.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

int64_t reduced_costs_length = 0;
int32_t fill_capacity = 0;
int32_t recurse_entry_count = 0;

RecurseEntry* recurse_entries() { return static_cast<RecurseEntry*>(array_cells[ARR_RECURSE_ENTRY]); }

int32_t work_rows() {
  return std::max(original_problem.nrow + original_problem.spare_rows, nrow + spare_rows_left);
}

int32_t work_positions() {
  return std::max(original_problem.nseq + original_problem.spare_cols, nseq + spare_cols_left);
}

namespace {

struct ArrayRequest {
  int32_t id;
  int64_t words;
};

// The ids of the solver work arrays, in the order they are allocated.
constexpr int32_t kSolverWorkIds[] = {
    ARR_BASIC_VALUES,     ARR_REDUCED_COSTS,  ARR_PIVOT_ROW,        ARR_WORKING_COSTS,     ARR_X,
    ARR_ROW_WEIGHTS,      ARR_ROW_PRICES,     ARR_PHASE1_VALUES,    ARR_ROW_COPY_COL,      ARR_ROW_COPY_VAL,
    ARR_ROW_COPY_START,   ARR_SCALE_WORK,     ARR_PIVOT_ROW_INDEX,  ARR_FACTOR_ROWS,       ARR_FACTOR_INDEX,
    ARR_INFEAS_HEAP_INDEX, ARR_INFEAS_HEAP_POS, ARR_INFEAS_HEAP_VALUE};

// Words of reduced_costs for p positions: a name of every position plus 4.
int64_t reduced_costs_words(int64_t positions) { return words_for_reals(name_words * positions + 4); }

// Elements of the row-wise copy: the element space, presolve's fill-in and
// one per row.
int64_t row_copy_length() { return store.elem_space + fill_capacity + nrow; }

// Turns counts held in s[lo..hi] into starts shifted one place: s[lo] := 1
// and s[i+1] := the start of i. Placing each entry of i at s[i+1]++ then
// leaves s[i] as the start of i for every i, and s[hi+1] one past the end.
void counts_to_shifted_starts(OneBased<int32_t> s, int32_t lo, int32_t hi) {
  int32_t running = 1;
  int32_t count = s[lo];
  s[lo] = 1;
  for (int32_t i = lo; i <= hi; ++i) {
    const int32_t next = i < hi ? s[i + 1] : 0;
    s[i + 1] = running;
    running += count;
    count = next;
  }
}

bool row_is_free(int32_t row) { return (int_array(ARR_POS_STATUS)[row] & PS_FREE) != 0; }

}  // namespace

int32_t alloc_solver_work_arrays() {
  const bool rebuild_copy = (problem_flags & PF_ROW_COPY) != 0;
  problem_flags |= PF_WORK_ARRAYS;
  const int64_t rows = work_rows();
  const int64_t positions = work_positions();
  const int64_t copy = row_copy_length();
  reduced_costs_length = reduced_costs_words(positions);
  const ArrayRequest requests[] = {
      {ARR_BASIC_VALUES, words_for_reals(rows)},
      {ARR_REDUCED_COSTS, reduced_costs_length},
      {ARR_PIVOT_ROW, words_for_reals(positions)},
      {ARR_WORKING_COSTS, words_for_reals(positions)},
      {ARR_X, words_for_reals(positions)},
      {ARR_ROW_WEIGHTS, words_for_reals(rows)},
      {ARR_ROW_PRICES, words_for_reals(rows)},
      {ARR_PHASE1_VALUES, words_for_reals(rows)},
      {ARR_ROW_COPY_COL, words_for_ints(copy)},
      {ARR_ROW_COPY_VAL, words_for_reals(copy)},
      {ARR_ROW_COPY_START, words_for_ints(rows + 1)},
      {ARR_SCALE_WORK, words_for_ints(positions)},
      {ARR_PIVOT_ROW_INDEX, words_for_reals(positions)},
      {ARR_FACTOR_ROWS, words_for_ints(rows)},
      {ARR_FACTOR_INDEX, words_for_ints(rows)},
      {ARR_INFEAS_HEAP_INDEX, words_for_ints(rows)},
      {ARR_INFEAS_HEAP_POS, words_for_ints(rows)},
      {ARR_INFEAS_HEAP_VALUE, words_for_reals(rows + 1)},
  };
  for (const ArrayRequest& request : requests) {
    // A second allocation replaces the blocks instead of leaking them.
    free_array(request.id, array_cells[request.id]);
    if (const int32_t failed = allocate_array(request.id, array_cells[request.id], request.words)) {
      free_solver_work_arrays();
      return failed;
    }
  }
  if (rebuild_copy) build_row_copy();
  return 0;
}

void free_solver_work_arrays() {
  problem_flags &= ~PF_WORK_ARRAYS;
  if (problem_flags & PF_ROW_LISTS) free_row_lists();
  for (const int32_t id : kSolverWorkIds) free_array(id, array_cells[id]);
}

namespace {

// Transposes the lists src_lo..src_hi of (index, value) pairs into lists
// over dst_lo..dst_hi; an entry whose index lies outside that range is
// dropped. Each destination list keeps the order of its sources. Returns the
// number of entries stored.
int32_t transpose_lists(OneBased<int32_t> src_start, OneBased<int32_t> src_index, OneBased<double> src_value,
                        int32_t src_lo, int32_t src_hi, OneBased<int32_t> dst_start, OneBased<int32_t> dst_index,
                        OneBased<double> dst_value, int32_t dst_lo, int32_t dst_hi) {
  for (int32_t j = dst_lo; j <= dst_hi + 1; ++j) dst_start[j] = 0;
  for (int32_t i = src_lo; i <= src_hi; ++i)
    for (int32_t k = src_start[i]; k < src_start[i + 1]; ++k) {
      const int32_t j = src_index[k];
      if (j >= dst_lo && j <= dst_hi) ++dst_start[j];
    }
  counts_to_shifted_starts(dst_start, dst_lo, dst_hi);
  for (int32_t i = src_lo; i <= src_hi; ++i)
    for (int32_t k = src_start[i]; k < src_start[i + 1]; ++k) {
      const int32_t j = src_index[k];
      if (j < dst_lo || j > dst_hi) continue;
      const int32_t slot = dst_start[j + 1]++;
      dst_index[slot] = i;
      dst_value[slot] = src_value[k];
    }
  return dst_start[dst_hi + 1] - 1;
}

}  // namespace

void build_row_copy() {
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  if (!start || !col_start) return;
  const int32_t total = col_start[nseq + 1] - 1;
  if (total > 0 && block_words(array_cells[ARR_ROW_COPY_COL]) < total) return;
  nelem = transpose_lists(col_start, int_array(ARR_ELEM_ROW), real_array(ARR_ELEM_VALUE), store.first_col, nseq,
                          start, int_array(ARR_ROW_COPY_COL), real_array(ARR_ROW_COPY_VAL), 1, nrow);
  problem_flags |= PF_ROW_COPY;
}

void build_column_copy() {
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  if (!start || !col_start) return;
  const int32_t total = start[nrow + 1] - 1;
  if (total > 0 && block_words(array_cells[ARR_ELEM_ROW]) < total) return;
  nelem = transpose_lists(start, int_array(ARR_ROW_COPY_COL), real_array(ARR_ROW_COPY_VAL), 1, nrow, col_start,
                          int_array(ARR_ELEM_ROW), real_array(ARR_ELEM_VALUE), store.first_col, nseq);
  problem_flags |= PF_COLUMN_COPY;
}

int32_t find_in_column(int32_t p, int32_t row) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  for (int32_t k = col_start[p]; k < col_start[p + 1]; ++k)
    if (elem_row[k] == row) return k;
  return 0;
}

int32_t alloc_row_lists() {
  const ArrayRequest requests[] = {
      {ARR_ROW_LIST_HEAD, words_for_ints(nrow)},
      {ARR_ROW_LIST_NEXT, words_for_ints(nelem)},
      {ARR_ROW_LIST_COLUMN, words_for_ints(static_cast<int64_t>(nelem) + 1)},
      {ARR_ROW_LIST_LAST, words_for_ints(static_cast<int64_t>(nseq) + 1)},
  };
  for (const ArrayRequest& request : requests) {
    free_array(request.id, array_cells[request.id]);
    if (const int32_t failed = allocate_array(request.id, array_cells[request.id], request.words)) {
      for (const ArrayRequest& undo : requests) free_array(undo.id, array_cells[undo.id]);
      return failed;
    }
  }
  problem_flags |= PF_ROW_LISTS;
  return 0;
}

void build_row_lists() {
  const OneBased<int32_t> head = int_array(ARR_ROW_LIST_HEAD);
  const OneBased<int32_t> next = int_array(ARR_ROW_LIST_NEXT);
  const OneBased<int32_t> tail = int_array(ARR_ROW_LIST_LAST);
  const OneBased<int32_t> column = int_array(ARR_ROW_LIST_COLUMN);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  if (!column) return;
  for (int32_t r = 1; r <= nrow; ++r) head[r] = 0;
  const int32_t end = nelem + 1;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t word = status[p];
    // Fixed columns and basic free columns never enter, so pricing skips them.
    if ((word & PS_FIXED) || ((word & PS_BASIC) && (word & PS_FREE))) continue;
    for (int32_t k = col_start[p]; k < col_start[p + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r < 1 || r > nrow || row_is_free(r)) continue;
      if (head[r] == 0) {
        head[r] = k;
      } else {
        next[tail[r + 1]] = k;
      }
      next[k] = end;
      tail[r + 1] = k;
      column[k] = p;
    }
  }
  column[end] = nseq + 1;
}

void free_row_lists() {
  for (const int32_t id : {ARR_ROW_LIST_HEAD, ARR_ROW_LIST_NEXT, ARR_ROW_LIST_COLUMN, ARR_ROW_LIST_LAST})
    free_array(id, array_cells[id]);
  problem_flags &= ~PF_ROW_LISTS;
}

void unlink_entering_column(int32_t position) {
  if (position < store.first_col || position > nseq || !(problem_flags & PF_ROW_LISTS)) return;
  const OneBased<int32_t> head = int_array(ARR_ROW_LIST_HEAD);
  const OneBased<int32_t> next = int_array(ARR_ROW_LIST_NEXT);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const int32_t end = nelem + 1;
  for (int32_t k = col_start[position]; k < col_start[position + 1]; ++k) {
    const int32_t r = elem_row[k];
    if (r < 1 || r > nrow || head[r] == 0) continue;
    if (head[r] == k) {
      head[r] = next[k] == end ? 0 : next[k];
      continue;
    }
    int32_t before = head[r];
    while (before <= nelem && next[before] != k) before = next[before];
    if (before <= nelem) next[before] = next[k];
  }
}

void link_leaving_column(int32_t position) {
  if (position < store.first_col || position > nseq || !(problem_flags & PF_ROW_LISTS)) return;
  const OneBased<int32_t> head = int_array(ARR_ROW_LIST_HEAD);
  const OneBased<int32_t> next = int_array(ARR_ROW_LIST_NEXT);
  const OneBased<int32_t> column = int_array(ARR_ROW_LIST_COLUMN);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const int32_t end = nelem + 1;
  for (int32_t k = col_start[position]; k < col_start[position + 1]; ++k) {
    const int32_t r = elem_row[k];
    if (r < 1 || r > nrow) continue;
    column[k] = position;
    if (head[r] == 0) {
      head[r] = k;
      next[k] = end;
    } else if (head[r] > k) {
      next[k] = head[r];
      head[r] = k;
    } else if (head[r] != k) {
      int32_t before = head[r];
      while (next[before] <= nelem && next[before] < k) before = next[before];
      if (next[before] != k) {
        next[k] = next[before];
        next[before] = k;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Growth.

namespace {

// What one growth adds and the sizes it leads to.
struct GrowthPlan {
  int32_t rows = 0;  // g_r
  int32_t cols = 0;  // g_c
  int64_t elems = 0;  // g_e
  int32_t ents = 0;  // g_g
  int32_t old_first = 0;
  int32_t old_nseq = 0;
  int64_t new_rows = 0;       // R'
  int64_t new_positions = 0;  // P'
  int64_t new_entities = 0;
  int64_t new_elem_space = 0;
  int64_t new_nseq = 0;
};

// Enlarges blocks without moving their contents; remembers the blocks it
// created so that a failure can take them back.
class BlockReserver {
 public:
  // The block of id holds at least words words afterwards; a missing block
  // is created only when create is set. False once any request has failed.
  bool ensure(int32_t id, int64_t words, bool create) {
    if (failed_ != 0) return false;
    void*& cell = array_cells[id];
    if (cell == nullptr) {
      if (!create || words <= 0) return true;
      if (allocate_array(id, cell, words) != 0) {
        failed_ = id;
        return false;
      }
      created_[created_count_++] = id;
      return true;
    }
    if (block_words(cell) >= words) return true;
    if (resize_array(id, cell, words) != 0) {
      failed_ = id;
      return false;
    }
    return true;
  }
  bool ensure_ints(int32_t id, int64_t n, bool create = false) { return ensure(id, words_for_ints(n), create); }
  bool ensure_reals(int32_t id, int64_t n, bool create = false) { return ensure(id, words_for_reals(n), create); }

  // A block made by another allocator on this growth's behalf.
  void count_as_created(int32_t id) { created_[created_count_++] = id; }
  void fail(int32_t id) { failed_ = id; }
  int32_t failed() const { return failed_; }
  // Frees every block this reserver created. Blocks it only enlarged keep
  // their old contents at their old places, so they need no undoing.
  void take_back_created() {
    for (int32_t i = 0; i < created_count_; ++i) free_array(created_[i], array_cells[created_[i]]);
    created_count_ = 0;
  }

 private:
  int32_t failed_ = 0;
  int32_t created_[kMaxArrayId + 1] = {};
  int32_t created_count_ = 0;
};

bool has_quadratic_starts() { return array_cells[ARR_QUAD_UPPER_START] != nullptr && array_cells[ARR_QUAD_LOWER_START] != nullptr; }

bool is_presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

constexpr int32_t kCutPoolIds[] = {ARR_CUT_RECORD, ARR_CUT_RHS, ARR_CUT_ELEM_COLUMN, ARR_CUT_ELEM_VALUE,
                                   ARR_CUT_ROW_LIST};

// Phase 1: every block the growth needs, before anything moves.
void reserve_blocks(const GrowthPlan& plan, BlockReserver& reserve) {
  const bool work_arrays = (problem_flags & PF_WORK_ARRAYS) != 0;
  const int64_t positions = plan.new_positions;
  const bool positions_grow = plan.rows + plan.cols > 0;
  if (positions_grow) {
    reserve.ensure_ints(ARR_POS_STATUS, positions);
    reserve.ensure_ints(ARR_COL_START, positions + 1);
    for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER, ARR_OBJECTIVE})
      reserve.ensure_reals(id, positions);
    reserve.ensure(ARR_NAME_TABLE, words_for_reals(static_cast<int64_t>(name_words) * (positions + 4)), false);
    if (is_presolved()) reserve.ensure_ints(ARR_POSITION_MAP, positions);
    if (has_quadratic_starts()) {
      reserve.ensure_ints(ARR_QUAD_UPPER_START, positions + 1);
      reserve.ensure_ints(ARR_QUAD_LOWER_START, positions + 1);
    }
    if (work_arrays) {
      const int64_t words = reduced_costs_words(positions);
      reserve.ensure(ARR_REDUCED_COSTS, words, false);
      const int64_t work = std::max<int64_t>(positions, work_positions());
      for (const int32_t id : {ARR_PIVOT_ROW, ARR_WORKING_COSTS, ARR_X, ARR_PIVOT_ROW_INDEX})
        reserve.ensure_reals(id, work);
      reserve.ensure_ints(ARR_SCALE_WORK, work);
    }
  }
  // The links of the integer preprocessing are per position; entities that
  // arrive on a problem without them need them created.
  for (const int32_t id : {ARR_VUB_REF, ARR_VLB_REF})
    if (positions_grow || plan.ents > 0) reserve.ensure_ints(id, positions, plan.ents > 0);

  if (plan.rows > 0) {
    const int64_t rows = plan.new_rows;
    reserve.ensure_ints(ARR_ROW_TYPE, rows);
    reserve.ensure_reals(ARR_RHS, rows);
    reserve.ensure_reals(ARR_WORK_RHS, rows);
    reserve.ensure_ints(ARR_BASIS_HEADER, rows);
    reserve.ensure_reals(ARR_BASIC_UPPER, rows);
    const int64_t work =
        std::max<int64_t>(rows, static_cast<int64_t>(original_problem.nrow) + original_problem.spare_rows + plan.rows);
    reserve.ensure_reals(ARR_WORK_VECTOR, work);
    if (work_arrays) {
      for (const int32_t id : {ARR_BASIC_VALUES, ARR_ROW_WEIGHTS, ARR_ROW_PRICES, ARR_PHASE1_VALUES})
        reserve.ensure_reals(id, work);
      reserve.ensure_ints(ARR_ROW_COPY_START, work + 1);
      for (const int32_t id : {ARR_FACTOR_ROWS, ARR_FACTOR_INDEX, ARR_INFEAS_HEAP_INDEX, ARR_INFEAS_HEAP_POS})
        reserve.ensure_ints(id, work);
      reserve.ensure_reals(ARR_INFEAS_HEAP_VALUE, work + 1);
    }
  }

  if (plan.elems > 0 || plan.rows > 0) {
    // Loads give the element arrays two slots per position beyond the
    // element space; keep that margin as the positions grow.
    const int64_t slots = 2 * plan.new_nseq + plan.new_elem_space;
    reserve.ensure_ints(ARR_ELEM_ROW, slots);
    reserve.ensure_reals(ARR_ELEM_VALUE, slots);
    if (work_arrays) {
      const int64_t copy = plan.new_elem_space + fill_capacity + nrow;
      reserve.ensure_ints(ARR_ROW_COPY_COL, copy);
      reserve.ensure_reals(ARR_ROW_COPY_VAL, copy);
    }
  }

  if (plan.ents > 0) {
    const int64_t entities = plan.new_entities;
    for (const int32_t id : {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_ENTITY_ROOT_UPPER,
                             ARR_ENTITY_ROOT_LOWER, ARR_PSEUDO_COST_DOWN, ARR_PSEUDO_COST_UP})
      reserve.ensure_ints(id, entities, true);
    reserve.ensure_reals(ARR_SEMICONT_LIMIT, entities, true);
    reserve.ensure_reals(ARR_SEMICONT_UPPER, entities, true);
  }

  // The first entities bring the cut pool, unless a branching-object entry
  // made one already (re-making it would drop its cuts). Last, so that its
  // all-or-nothing undo is the only one needed after it.
  if (reserve.failed() == 0 && plan.ents > 0 && array_cells[ARR_CUT_RECORD] == nullptr) {
    const int32_t failed = alloc_cut_pool();
    for (const int32_t id : kCutPoolIds)
      if (array_cells[id] != nullptr) reserve.count_as_created(id);
    if (failed != 0) reserve.fail(failed);
  }
  // The pool's cut row list is per position, whoever sized it.
  reserve.ensure_ints(ARR_CUT_ROW_LIST, positions);
}

// Moves entries from..to of an array of T up by `by` places (memmove: the
// ranges overlap).
template <class T>
void move_up(int32_t id, int64_t from, int64_t to, int32_t by, int64_t width = 1) {
  T* block = static_cast<T*>(array_cells[id]);
  if (block == nullptr || to < from) return;
  std::memmove(block + (from - 1 + by) * width, block + (from - 1) * width,
               static_cast<size_t>((to - from + 1) * width) * sizeof(T));
}

template <class T>
void fill_range(int32_t id, int64_t from, int64_t to, T value) {
  T* block = static_cast<T*>(array_cells[id]);
  if (block == nullptr) return;
  for (int64_t k = from; k <= to; ++k) block[k - 1] = value;
}

// Default name of a position: V's, with the decimal position at the end.
void write_default_name(char* slot, int32_t width, int32_t position) {
  std::memset(slot, 'V', static_cast<size_t>(width));
  for (int32_t at = width - 1; at >= 0 && position > 0; --at, position /= 10) slot[at] = static_cast<char>('0' + position % 10);
}

// A stored position at or past the old first column moves with the columns.
int32_t shifted(int32_t position, const GrowthPlan& plan) {
  return position >= plan.old_first ? position + plan.rows : position;
}

// The column of a typed entry is negative while successive linear
// programming marks its element for insertion; the mark keeps its sign.
int32_t shifted_column(int32_t column, const GrowthPlan& plan) {
  return column < 0 ? -shifted(-column, plan) : shifted(column, plan);
}

// Phase 2, rows grown: the column part of every per-position array moves up
// by g_r; the positions vacated become spare rows.
void move_columns_up(const GrowthPlan& plan) {
  const int32_t first = plan.old_first;
  const int32_t last = plan.old_nseq;
  const int32_t by = plan.rows;
  move_up<int32_t>(ARR_COL_START, first, last + 1, by);
  move_up<int32_t>(ARR_POS_STATUS, first, last, by);
  for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_UPPER, ARR_WORK_LOWER, ARR_X, ARR_OBJECTIVE})
    move_up<double>(id, first, last, by);
  if (is_presolved()) move_up<int32_t>(ARR_POSITION_MAP, first, last, by);
  move_up<int32_t>(ARR_VUB_REF, first, last, by);
  move_up<int32_t>(ARR_VLB_REF, first, last, by);
  const int64_t name_bytes = static_cast<int64_t>(name_words) * 8;
  move_up<char>(ARR_NAME_TABLE, first, last, by, name_bytes);
  if (has_quadratic_starts()) {
    move_up<int32_t>(ARR_QUAD_UPPER_START, first, last + 1, by);
    move_up<int32_t>(ARR_QUAD_LOWER_START, first, last + 1, by);
  }

  const int32_t vacated_last = first + by - 1;
  fill_range<int32_t>(ARR_POS_STATUS, first, vacated_last, static_cast<int32_t>(kDefaultScaleWord | PS_FIXED));
  fill_range<int32_t>(ARR_COL_START, first, vacated_last, 0);
  for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_UPPER, ARR_WORK_LOWER, ARR_X, ARR_OBJECTIVE})
    fill_range<double>(id, first, vacated_last, 0.0);
  if (is_presolved()) fill_range<int32_t>(ARR_POSITION_MAP, first, vacated_last, 0);
  fill_range<int32_t>(ARR_VUB_REF, first, vacated_last, 0);
  fill_range<int32_t>(ARR_VLB_REF, first, vacated_last, 0);
  if (has_quadratic_starts()) {
    fill_range<int32_t>(ARR_QUAD_UPPER_START, first, vacated_last, 0);
    fill_range<int32_t>(ARR_QUAD_LOWER_START, first, vacated_last, 0);
  }
  if (char* names = name_array(ARR_NAME_TABLE))
    for (int32_t p = first; p <= vacated_last; ++p)
      write_default_name(names + (p - 1) * name_bytes, static_cast<int32_t>(name_bytes), p);
}

// Columns held by the cut pool: the column of a bound record (flags 8 or
// 16, kept in its length field) or every element column of a cut. Free
// records (first element -1) hold links, not columns.
void shift_cut_pool_columns(const GrowthPlan& plan) {
  const OneBased<int32_t> record = int_array(ARR_CUT_RECORD);
  const OneBased<int32_t> element_column = int_array(ARR_CUT_ELEM_COLUMN);
  if (!record) return;
  constexpr int32_t kBoundRecord = 8 | 16;
  const int64_t records = block_words(record.data()) / kCutRecordWords;
  const int64_t elements = block_words(element_column.data());
  for (int64_t i = 0; i < records; ++i) {
    const int64_t base = i * kCutRecordWords;
    const int32_t flags = record[base + 2];
    const int32_t first = record[base + 3];
    int32_t& length = record[base + 4];
    if (first < 0) continue;
    if (flags & kBoundRecord) {
      length = shifted(length, plan);
    } else if (element_column) {
      for (int64_t k = first; k < static_cast<int64_t>(first) + length && k <= elements; ++k)
        if (k >= 1) element_column[k] = shifted(element_column[k], plan);
    }
  }
}

// Phase 2, rows grown: every stored column position follows its column.
void shift_stored_positions(const GrowthPlan& plan) {
  if (const OneBased<int32_t> header = int_array(ARR_BASIS_HEADER)) {
    const int64_t n = block_words(header.data());
    for (int64_t i = 1; i <= n; ++i) header[i] = shifted(header[i], plan);
  }
  for (const int32_t id : {ARR_VUB_REF, ARR_VLB_REF})
    if (const OneBased<int32_t> links = array_of<int32_t>(id)) {
      const int64_t n = block_words(links.data());
      for (int64_t p = 1; p <= n; ++p)
        if (links[p] > 0) links[p] = shifted(links[p], plan);
    }
  if (const OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN)) {
    const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
    for (int32_t k = 1; k <= nglent; ++k)
      if ((type[k] & ENT_TYPE_MASK) < ENT_SET1) column[k] = shifted(column[k], plan);
  }
  if (const OneBased<int32_t> member = int_array(ARR_SET_MEMBER_COLUMN))
    for (int32_t k = 1; k <= nsosm; ++k) member[k] = shifted(member[k], plan);
  if (const OneBased<int32_t> quad_index = int_array(ARR_QUAD_INDEX)) {
    const int64_t n = std::min<int64_t>(nqelem, block_words(quad_index.data()));
    for (int64_t k = 1; k <= n; ++k) quad_index[k] = shifted(quad_index[k], plan);
  }
  shift_cut_pool_columns(plan);
  if (RecurseEntry* entries = recurse_entries()) {
    const int64_t room = block_words(entries) * 4 / static_cast<int64_t>(sizeof(RecurseEntry));
    const int64_t n = std::min<int64_t>(recurse_entry_count, room);
    for (int64_t i = 0; i < n; ++i) {
      RecurseEntry& entry = entries[i];
      switch (entry.kind) {
        case RK_DV:
        case RK_MU:
          entry.b = shifted(entry.b, plan);
          [[fallthrough]];
        case RK_CL:
        case RK_BX:
        case RK_SB:
          entry.a = shifted(entry.a, plan);
          entry.column = shifted_column(entry.column, plan);
          break;
        case RK_CV:
          entry.column = shifted_column(entry.column, plan);
          break;
        default:
          break;
      }
    }
  }
}

// Spare columns past nseq get empty quadratic lists.
void extend_quadratic_starts(int64_t positions) {
  if (!has_quadratic_starts()) return;
  for (const int32_t id : {ARR_QUAD_UPPER_START, ARR_QUAD_LOWER_START}) {
    const OneBased<int32_t> start = array_of<int32_t>(id);
    for (int64_t j = nseq + 2; j <= positions + 1; ++j) start[j] = start[nseq + 1];
  }
}

void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

}  // namespace

int32_t grow_problem_storage(int32_t rows, int32_t columns, int64_t elements, int32_t entities) {
  if (problem_state < 1) {
    report_plain_error(MSG_NO_PROBLEM);
    return -1;
  }
  GrowthPlan plan;
  plan.rows = std::max(0, rows - spare_rows_left);
  plan.cols = std::max(0, columns - spare_cols_left);
  plan.elems = std::max<int64_t>(0, elements - spare_elems_left);
  plan.ents = std::max(0, entities - spare_entities_left);
  if (plan.rows == 0 && plan.cols == 0 && plan.elems == 0 && plan.ents == 0) return 0;

  if (plan.rows > 0 && !(problem_flags & PF_COLUMN_COPY) && (problem_flags & PF_ROW_COPY)) build_column_copy();

  plan.old_first = store.first_col;
  plan.old_nseq = nseq;
  plan.new_rows = static_cast<int64_t>(nrow) + spare_rows_left + plan.rows;
  plan.new_positions = static_cast<int64_t>(nseq) + spare_cols_left + plan.rows + plan.cols;
  plan.new_entities = static_cast<int64_t>(nglent) + spare_entities_left + plan.ents;
  plan.new_elem_space = store.elem_space + plan.elems;
  plan.new_nseq = static_cast<int64_t>(nseq) + plan.rows;

  BlockReserver reserve;
  reserve_blocks(plan, reserve);
  if (const int32_t failed = reserve.failed()) {
    reserve.take_back_created();
    report_no_memory(failed);
    return failed;
  }

  if (plan.rows > 0) {
    move_columns_up(plan);
    shift_stored_positions(plan);
    store.first_col += plan.rows;
    nseq += plan.rows;
    original_problem.presolved_nseq += plan.rows;
    // Row lists and the row copy name column positions that have moved.
    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    if ((problem_flags & PF_ROW_COPY) && (problem_flags & PF_WORK_ARRAYS)) {
      build_row_copy();
    } else {
      problem_flags &= ~PF_ROW_COPY;
    }
  }
  if (plan.rows + plan.cols > 0) extend_quadratic_starts(plan.new_positions);
  if (problem_flags & PF_WORK_ARRAYS)
    reduced_costs_length = std::max(reduced_costs_length, block_words(array_cells[ARR_REDUCED_COSTS]));

  spare_rows_left += plan.rows;
  spare_cols_left += plan.cols;
  spare_elems_left += static_cast<int32_t>(plan.elems);
  spare_entities_left += plan.ents;
  store.elem_space = plan.new_elem_space;
  original_problem.spare_rows += plan.rows;
  original_problem.spare_cols += plan.cols;
  return 0;
}

}  // namespace kl
