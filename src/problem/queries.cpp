// Problem queries and the presolve protection marks.
#include "problem/queries.h"

#include <array>

#include <cstring>
#include <string>

#include "problem/scale_exponents.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"

namespace kl {

int32_t row_classes_available = 0;

namespace {

// IFMEM bit: while a presolved problem is current, the name queries speak of
// the rows and columns of the original problem.
constexpr int32_t kIfmemOriginalIndices = 0x10;

// Internal positions lo..hi of a caller's range; empty when hi < lo.
struct PositionRange {
  int32_t lo = 1;
  int32_t hi = 0;
  bool empty() const { return hi < lo; }
  int32_t size() const { return empty() ? 0 : hi - lo + 1; }
};

// Caller index i stands for position i + offset, valid in min_pos..max_pos.
// Reports message n with the caller's offending index on failure.
bool resolve_range(int32_t first, int32_t last, int64_t offset, int32_t min_pos, int32_t max_pos, int32_t n,
                   const char* routine_name, PositionRange& range) {
  if (last < first) return true;
  const int64_t lo = first + offset;
  const int64_t hi = last + offset;
  if (lo < min_pos) {
    report_error(n, first, routine_name);
    return false;
  }
  if (hi > max_pos) {
    report_error(n, last, routine_name);
    return false;
  }
  range.lo = static_cast<int32_t>(lo);
  range.hi = static_cast<int32_t>(hi);
  return true;
}

int64_t index_base() { return icv(ic::IFDBG); }

bool row_range(int32_t first, int32_t last, const char* routine_name, PositionRange& range) {
  return resolve_range(first, last, index_base(), 1, nrow, MSG_ROW_RANGE_INVALID, routine_name, range);
}

bool column_range(int32_t first, int32_t last, const char* routine_name, PositionRange& range) {
  return resolve_range(first, last, int64_t{store.first_col} + index_base() - 1, store.first_col, nseq,
                       MSG_COLUMN_RANGE_INVALID, routine_name, range);
}

// A null output array the body would write into: message 601 naming the
// argument, instead of a crash.
bool require_output(const void* pointer, int32_t argument, const char* routine_name) {
  if (pointer != nullptr) return true;
  report_error(MSG_NULL_ARGUMENT, argument, routine_name);
  return false;
}

bool is_presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

// Scale exponent byte of a position (0 reads as 64).
uint32_t exponent_of(int32_t p) {
  const uint32_t e = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]) >> 24;
  return e == 0 ? kScaleBias : e;
}
// The position's factor, and its inverse: both exact powers of two.
double factor_of(int32_t p) { return scale_power(exponent_of(p)); }
double inverse_factor_of(int32_t p) { return scale_power(2 * kScaleBias - exponent_of(p)); }

// Costs, right-hand sides, ranges and matrix entries are stored multiplied by
// their factors: undo that in the caller's form.
double unscaled_by_inverse(double stored, int32_t p, int32_t mode) {
  return mode == QUERY_CALLER_FORM ? stored * inverse_factor_of(p) : stored;
}

const char* pick(int32_t mode, const char* plain, const char* internal) {
  return mode == QUERY_CALLER_FORM ? plain : internal;
}

// The frame shared by the one-value-per-index getters.
template <class ValueOf>
void get_values(double* values, int32_t first, int32_t last, bool rows, const char* routine_name,
                ValueOf value_of) {
  begin_body();
  if (!require_problem()) return;
  PositionRange range;
  if (!(rows ? row_range(first, last, routine_name, range) : column_range(first, last, routine_name, range))) return;
  if (range.empty() || !require_output(values, 1, routine_name)) return;
  for (int32_t k = range.lo; k <= range.hi; ++k) *values++ = value_of(k);
}

// A bound is stored divided by its column's factor; the infinite values are
// stored as they are and stay infinite.
double unscaled_bound(double stored, int32_t p, int32_t mode) {
  if (mode != QUERY_CALLER_FORM || stored >= kInfinity || stored <= -kInfinity) return stored;
  return stored * factor_of(p);
}

bool is_range_row(int32_t i) {
  return (int_array(ARR_ROW_TYPE)[i] & ROW_TYPE_MASK) == ROW_L &&
         (static_cast<uint32_t>(int_array(ARR_POS_STATUS)[i]) & PS_FINITE_UPPER) != 0;
}

void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

// The row-wise copy, built when it is stale; false (reported) when its
// arrays cannot be had.
bool ensure_row_copy() {
  // The row-copy flag survives the freeing of the work arrays (so the next
  // allocation rebuilds the copy); only both flags together mean a copy.
  if ((problem_flags & PF_ROW_COPY) != 0 && (problem_flags & PF_WORK_ARRAYS) != 0) return true;
  if ((problem_flags & PF_WORK_ARRAYS) == 0) {
    if (const int32_t failed = alloc_solver_work_arrays(); failed != 0) {
      report_no_memory(failed);
      return false;
    }
  }
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  return true;
}

// The caller's arrays of a matrix getter and the room they have.
struct MatrixOutput {
  int32_t* starts;
  int32_t* indices;
  double* values;
  int32_t size;
};

bool check_matrix_outputs(const MatrixOutput& out, const int32_t* count, const char* routine_name) {
  if (!require_output(count, 5, routine_name)) return false;
  if (out.size <= 0) return true;
  return require_output(out.starts, 1, routine_name) && require_output(out.indices, 2, routine_name) &&
         require_output(out.values, 3, routine_name);
}

// Writes the lines lo..hi of a matrix copy held as starts/index/value arrays
// (line j owns entries start[j] .. start[j+1]-1). index_of and value_of turn
// a stored entry k of line j into the caller's index and value. Stops before
// an element that would pass size; the starts written so far stay valid.
template <class IndexOf, class ValueOf>
void write_matrix_lines(const MatrixOutput& out, const PositionRange& range, OneBased<int32_t> start,
                        IndexOf index_of, ValueOf value_of) {
  const int32_t base = icv(ic::IFDBG);
  int32_t written = 0;
  int32_t line = 0;
  for (int32_t j = range.lo; j <= range.hi; ++j) {
    out.starts[line++] = written + 1 - base;
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      if (written == out.size) return;
      out.indices[written] = index_of(k);
      out.values[written] = value_of(j, k);
      ++written;
    }
  }
  out.starts[line] = written + 1 - base;
}

char row_type_letter(int32_t i) {
  switch (int_array(ARR_ROW_TYPE)[i] & ROW_TYPE_MASK) {
    case ROW_N:
      return 'N';
    case ROW_E:
      return 'E';
    case ROW_G:
      return 'G';
    default:
      return is_range_row(i) ? 'R' : 'L';
  }
}

char column_type_letter(int32_t p) {
  const uint32_t status = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]);
  if ((status & PS_INTEGER) != 0) return 'I';
  if ((status & PS_BINARY) != 0) return 'B';
  if ((status & PS_SEMICONTINUOUS) != 0) return 'S';
  if ((status & PS_PARTIAL_INTEGER) != 0) return 'P';
  return 'C';
}

int32_t name_length() { return 8 * name_words; }

// Name slot s of name_table, or null when the table does not reach it.
const char* name_slot(int32_t s) {
  const void* block = array_cells[ARR_NAME_TABLE];
  const int64_t length = name_length();
  if (block == nullptr || s < 1 || s * length > block_words(block) * 4) return nullptr;
  return static_cast<const char*>(block) + (s - 1) * length;
}

// The name slot a present position's name is kept in.
int32_t name_slot_of(int32_t k, bool presolved_positions) {
  if (!presolved_positions) return k;
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  if (!map) return k;
  const int32_t original = map[k];
  return original != 0 ? original : k + original_problem.first_col - store.first_col;
}

bool is_set(int32_t type) { return type == ENT_SET1 || type == ENT_SET2; }

void report_bad_qobj_column(int32_t column) {
  error_number = MSG_QOBJ_BAD_COLUMN;
  error_value = column;
  begin_message(MSG_QOBJ_BAD_COLUMN);
  insert_message_int(column);
  emit_message();
  status_code = STATUS_REPORTED;
}

// A protection mark list entry out of range: the error words hold its place
// in the list, the message shows the index itself.
void report_bad_mark(int32_t n, int32_t place, int32_t index) {
  error_number = n;
  error_value = place - icv(ic::IFDBG);
  status_code = STATUS_REPORTED;
  begin_message(n);
  insert_message_chars(routine::kPrevecs, 8);
  insert_message_int(index);
  emit_message();
}

}  // namespace

void getobj(double* values, int32_t first, int32_t last, int32_t mode) {
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  get_values(values, first, last, false, pick(mode, routine::kGetobj, routine::kIgetobj),
             [&](int32_t p) { return unscaled_by_inverse(objective[p], p, mode); });
}

void getrhs(double* values, int32_t first, int32_t last, int32_t mode) {
  OneBased<double> rhs = real_array(ARR_RHS);
  get_values(values, first, last, true, pick(mode, routine::kGetrhs, routine::kIgetrhs),
             [&](int32_t i) { return unscaled_by_inverse(rhs[i], i, mode); });
}

// The stored form follows the same rules, so that a G row reads +1e20 in both
// forms rather than its slack's upper bound of 0 in one of them.
void getrng(double* values, int32_t first, int32_t last, int32_t mode) {
  OneBased<double> upper = real_array(ARR_UPPER);
  get_values(values, first, last, true, pick(mode, routine::kGetrng, routine::kIgetrng), [&](int32_t i) {
    if ((int_array(ARR_ROW_TYPE)[i] & ROW_TYPE_MASK) == ROW_E) return 0.0;
    if (!is_range_row(i)) return kInfinity;
    return unscaled_by_inverse(upper[i], i, mode);
  });
}

// Both forms read the problem's own bounds: the optimisers' working bounds
// hold nothing until a run fills them, and boxes of their own afterwards.
void getbdl(double* values, int32_t first, int32_t last, int32_t mode) {
  OneBased<double> lower = real_array(ARR_LOWER);
  get_values(values, first, last, false, pick(mode, routine::kGetbdl, routine::kIgetbdl),
             [&](int32_t p) { return unscaled_bound(lower[p], p, mode); });
}

void getbdu(double* values, int32_t first, int32_t last, int32_t mode) {
  OneBased<double> upper = real_array(ARR_UPPER);
  get_values(values, first, last, false, pick(mode, routine::kGetbdu, routine::kIgetbdu),
             [&](int32_t p) { return unscaled_bound(upper[p], p, mode); });
}

void getcols(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count, int32_t first,
             int32_t last, int32_t mode) {
  const char* routine_name = pick(mode, routine::kGetcols, routine::kIgetcols);
  begin_body();
  if (!require_problem()) return;
  PositionRange range;
  if (!column_range(first, last, routine_name, range)) return;
  const MatrixOutput out{starts, rows, values, size};
  if (!check_matrix_outputs(out, count, routine_name)) return;
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  *count = range.empty() ? 0 : col_start[range.hi + 1] - col_start[range.lo];
  if (size <= 0) return;
  write_matrix_lines(
      out, range, col_start, [&](int32_t k) { return row_to_caller(elem_row[k]); },
      [&](int32_t p, int32_t k) {
        const double v = elem_value[k];
        return mode == QUERY_CALLER_FORM ? v * inverse_factor_of(elem_row[k]) * inverse_factor_of(p) : v;
      });
}

void getrows(int32_t* starts, int32_t* columns, double* values, int32_t size, int32_t* count, int32_t first,
             int32_t last, int32_t mode) {
  const char* routine_name = pick(mode, routine::kGetrows, routine::kIgetrows);
  begin_body();
  if (!require_problem()) return;
  PositionRange range;
  if (!row_range(first, last, routine_name, range)) return;
  const MatrixOutput out{starts, columns, values, size};
  if (!check_matrix_outputs(out, count, routine_name)) return;
  if (!ensure_row_copy()) return;
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_val = real_array(ARR_ROW_COPY_VAL);
  *count = range.empty() ? 0 : row_start[range.hi + 1] - row_start[range.lo];
  if (size <= 0) return;
  write_matrix_lines(
      out, range, row_start, [&](int32_t k) { return col_to_caller(row_col[k]); },
      [&](int32_t i, int32_t k) {
        const double v = row_val[k];
        return mode == QUERY_CALLER_FORM ? v * inverse_factor_of(i) * inverse_factor_of(row_col[k]) : v;
      });
}

void getrowtype(char* types, int32_t first, int32_t last) {
  begin_body();
  if (!require_problem()) return;
  PositionRange range;
  if (!row_range(first, last, routine::kGetrowtype, range)) return;
  if (range.empty() || !require_output(types, 1, routine::kGetrowtype)) return;
  for (int32_t i = range.lo; i <= range.hi; ++i) *types++ = row_type_letter(i);
}

void getcoltype(char* types, int32_t first, int32_t last) {
  begin_body();
  if (!require_problem()) return;
  PositionRange range;
  if (!column_range(first, last, routine::kGetcoltype, range)) return;
  if (range.empty() || !require_output(types, 1, routine::kGetcoltype)) return;
  for (int32_t p = range.lo; p <= range.hi; ++p) *types++ = column_type_letter(p);
}

void getnames(int32_t type, char* names, int32_t first, int32_t last) {
  begin_body();
  if (!require_problem()) return;
  const bool rows = type == 1;
  const bool presolved = is_presolved();
  // Presolved and asked for the original problem: the caller's indices
  // refer to its rows and columns, whose names sit in their own slots.
  const bool original = presolved && (icv(ic::IFMEM) & kIfmemOriginalIndices) != 0;
  const int32_t first_col = original ? original_problem.first_col : store.first_col;
  PositionRange range;
  const bool valid =
      rows ? resolve_range(first, last, index_base(), 1, original ? original_problem.nrow : nrow,
                           MSG_ROW_RANGE_INVALID, routine::kGetnames, range)
           : resolve_range(first, last, int64_t{first_col} + index_base() - 1, first_col,
                           original ? original_problem.nseq : nseq, MSG_COLUMN_RANGE_INVALID, routine::kGetnames,
                           range);
  if (!valid || range.empty() || !require_output(names, 2, routine::kGetnames)) return;
  const int32_t length = name_length();
  for (int32_t k = range.lo; k <= range.hi; ++k) {
    const char* slot = name_slot(name_slot_of(k, presolved && !original));
    if (slot != nullptr) {
      std::memcpy(names, slot, static_cast<std::size_t>(length));
    } else {
      std::memset(names, ' ', static_cast<std::size_t>(length));
    }
    names[length] = '\0';
    names += length + 1;
  }
}

void find_name_index(int32_t type, const char* name, int32_t* index) {
  begin_body();
  if (!require_problem()) return;
  if (!require_output(name, 2, routine::kGetindex) || !require_output(index, 3, routine::kGetindex)) return;
  const bool rows = type == 1;
  const bool presolved = is_presolved();
  const int32_t length = name_length();
  std::string wanted(static_cast<std::size_t>(length), ' ');
  build_name_key(name, wanted.data(), length);

  // The names of the problem as loaded; a presolved problem keeps them in
  // the slots of the original positions.
  const int32_t lo = rows ? 1 : (presolved ? original_problem.first_col : store.first_col);
  const int32_t hi = rows ? (presolved ? original_problem.nrow : nrow) : (presolved ? original_problem.nseq : nseq);
  int32_t found = 0;
  for (int32_t s = lo; s <= hi && found == 0; ++s) {
    const char* slot = name_slot(s);
    if (slot != nullptr && compare_chars(slot, wanted.data(), length) != 0) found = s;
  }
  int32_t position = presolved ? 0 : found;
  if (presolved && found != 0) {
    OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
    const int32_t from = rows ? 1 : store.first_col;
    const int32_t to = rows ? nrow : nseq;
    for (int32_t k = from; map && k <= to && position == 0; ++k)
      if (map[k] == found) position = k;
  }
  if (position == 0) {
    *index = -1;
    begin_message(MSG_NAME_NOT_FOUND);
    insert_message_string(name);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  *index = rows ? row_to_caller(position) : col_to_caller(position);
}

namespace {

// While a presolved problem is current the caller is answered with the
// entities as loaded: the search's presolve changes types, drops entities
// and renumbers columns, but the caller never loaded that form. The
// originals wait in the saved registry for the life of this view.
class LoadedEntitiesView {
 public:
  LoadedEntitiesView() {
    if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) return;
    for (const int32_t id : kIds)
      if (array_cells[id] != nullptr && saved_array_registry[id][current_slot] == nullptr) return;
    active_ = true;
    for (const int32_t id : kIds) swap_saved_array(id, array_cells[id]);
    kept_ = {nglent, nsets, nsosm, store.first_col};
    nglent = original_problem.presolve_nglent;
    nsets = original_problem.presolve_nsets;
    nsosm = original_problem.presolve_nsosm;
    store.first_col = original_problem.first_col;
  }
  ~LoadedEntitiesView() {
    if (!active_) return;
    for (const int32_t id : kIds) swap_saved_array(id, array_cells[id]);
    nglent = kept_[0];
    nsets = kept_[1];
    nsosm = kept_[2];
    store.first_col = kept_[3];
  }
  LoadedEntitiesView(const LoadedEntitiesView&) = delete;
  LoadedEntitiesView& operator=(const LoadedEntitiesView&) = delete;

 private:
  static constexpr int32_t kIds[] = {ARR_POS_STATUS,        ARR_ENTITY_TYPE,    ARR_ENTITY_COLUMN,
                                     ARR_SET_MEMBER_COLUMN, ARR_SET_MEMBER_REF, ARR_SET_START,
                                     ARR_SEMICONT_LIMIT};
  bool active_ = false;
  std::array<int32_t, 4> kept_{};
};

}  // namespace

void get_global_types(int32_t* entity_count, int32_t* set_count, char* entity_types, char* set_types) {
  begin_body();
  if (!require_problem()) return;
  const LoadedEntitiesView loaded;
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t entities = 0;
  int32_t sets = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t type = entity_type[e] & ENT_TYPE_MASK;
    if (is_set(type)) {
      if (set_types != nullptr) set_types[sets] = type == ENT_SET1 ? '1' : '2';
      ++sets;
      continue;
    }
    char letter = 'I';
    if (type == ENT_SEMICONTINUOUS) {
      letter = 'S';
    } else if (type == ENT_BINARY) {
      letter = 'B';
    } else if (type == ENT_PARTIAL_INTEGER) {
      letter = 'P';
    } else if ((static_cast<uint32_t>(status[entity_column[e]]) & PS_BINARY) != 0) {
      letter = 'B';
    }
    if (entity_types != nullptr) entity_types[entities] = letter;
    ++entities;
  }
  if (entity_count != nullptr) *entity_count = entities;
  if (set_count != nullptr) *set_count = sets;
}

void get_global_arrays(int32_t* entity_columns, double* entity_limits, int32_t* set_starts, int32_t* set_columns,
                       double* set_refs) {
  begin_body();
  if (!require_problem()) return;
  const LoadedEntitiesView loaded;
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<double> semicont_limit = real_array(ARR_SEMICONT_LIMIT);
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
  const int32_t base = icv(ic::IFDBG);
  int32_t columns = 0;
  int32_t sets = 0;
  int32_t members = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t word = entity_type[e];
    const int32_t type = word & ENT_TYPE_MASK;
    if (is_set(type)) {
      if (set_starts != nullptr) set_starts[sets] = members + 1 - base;
      ++sets;
      const int32_t set = entity_column[e];
      if (set < 1 || set > nsets) continue;
      for (int32_t m = set_start[set] + 1; m <= set_start[set + 1]; ++m) {
        const int32_t p = member_column[m];
        if (set_columns != nullptr) set_columns[members] = col_to_caller(p);
        // Reference values are stored multiplied by their column's factor.
        if (set_refs != nullptr) set_refs[members] = member_ref[m] * inverse_factor_of(p);
        ++members;
      }
      continue;
    }
    const int32_t p = entity_column[e];
    double limit = 0.0;
    // A semi-continuous limit is stored divided by its column's factor.
    if (type == ENT_SEMICONTINUOUS) limit = semicont_limit[e] * factor_of(p);
    if (type == ENT_PARTIAL_INTEGER) limit = word >> 4;
    if (entity_columns != nullptr) entity_columns[columns] = col_to_caller(p);
    if (entity_limits != nullptr) entity_limits[columns] = limit;
    ++columns;
  }
  if (sets > 0 && set_starts != nullptr) set_starts[sets] = members + 1 - base;
}

void get_qobj(int32_t column1, int32_t column2, double* value) {
  begin_body();
  if (!require_output(value, 3, routine::kGetqobj)) return;
  *value = 0.0;
  if (nqelem == 0) return;
  if (!require_problem()) return;
  const int64_t offset = int64_t{store.first_col} + index_base() - 1;
  const int64_t a = column1 + offset;
  const int64_t b = column2 + offset;
  if (a < store.first_col || a > nseq) return report_bad_qobj_column(column1);
  if (b < store.first_col || b > nseq) return report_bad_qobj_column(column2);
  const int32_t lo = static_cast<int32_t>(a < b ? a : b);
  const int32_t hi = static_cast<int32_t>(a < b ? b : a);
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> partner = int_array(ARR_QUAD_INDEX);
  OneBased<double> coefficient = real_array(ARR_QUAD_VALUES);
  for (int32_t k = upper_start[lo]; k < upper_start[lo + 1]; ++k) {
    if (partner[k] == hi) {
      *value = coefficient[k];
      return;
    }
  }
}

void get_position_map(int32_t* positions) {
  if (positions == nullptr || problem_state < 1) return;
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  const bool mapped = is_presolved() && map;
  for (int32_t p = 1; p <= nseq; ++p) positions[p - 1] = mapped ? map[p] : p;
}

void get_row_class(int32_t* classes) {
  begin_body();
  if (!require_problem()) return;
  if (row_classes_available == 0) {
    begin_message(MSG_ROW_CLASSES_UNAVAILABLE);
    emit_message();
    status_code = STATUS_FILE_ERROR;
    return;
  }
  if (!require_output(classes, 1, routine::kGetrclass)) return;
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= nrow; ++i)
    classes[i - 1] = static_cast<int32_t>((static_cast<uint32_t>(row_type[i]) & RF_CLASS_MASK) >> 10);
}

void prevecs(int32_t row_count, int32_t column_count, const int32_t* rows, const int32_t* columns) {
  begin_body();
  if (!require_problem()) return;
  if ((row_count > 0 && !require_output(rows, 3, routine::kPrevecs)) ||
      (column_count > 0 && !require_output(columns, 4, routine::kPrevecs)))
    return;
  const int64_t base = index_base();
  for (int32_t k = 0; k < row_count; ++k) {
    const int64_t r = rows[k];
    if (r < 1 - base || r > nrow - base) return report_bad_mark(MSG_ROW_INDEX_INVALID, k + 1, rows[k]);
  }
  const int64_t structural = int64_t{nseq} - store.first_col + 1;
  for (int32_t k = 0; k < column_count; ++k) {
    const int64_t c = columns[k];
    if (c < 1 - base || c > structural - base) return report_bad_mark(MSG_COLUMN_INDEX_INVALID, k + 1, columns[k]);
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) status[p] &= ~static_cast<int32_t>(PS_PROTECTED);
  for (int32_t k = 0; k < row_count; ++k) status[row_from_caller(rows[k])] |= static_cast<int32_t>(PS_PROTECTED);
  for (int32_t k = 0; k < column_count; ++k)
    status[col_from_caller(columns[k])] |= static_cast<int32_t>(PS_PROTECTED);
}

}  // namespace kl
