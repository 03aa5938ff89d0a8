#include "problem/change_problem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "problem/factor_arrays.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "problem/value_checks.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Room an element insertion asks for beyond what it needs, and room for
// new global entities beyond the ones wanted.
constexpr int64_t kElementGrowthStep = 10000;
constexpr int32_t kEntityGrowthStep = 501;

// Node record layout of the global search: a header, 2 bits per binary and
// per basis position, two words per other entity.
constexpr int64_t kNodeHeaderBytes = 68;
constexpr int64_t kTwoBitFieldsPerWord = 16;

int32_t base() { return icv(ic::IFDBG); }

// Positions of caller indices, in 64 bits so that no index overflows before
// it is found outside the range.
int64_t row_position(int32_t r) { return static_cast<int64_t>(r) + base(); }
int64_t column_position(int32_t c) { return static_cast<int64_t>(c) + store.first_col + base() - 1; }
bool is_row(int64_t i) { return i >= 1 && i <= nrow; }
bool is_column(int64_t p) { return p >= store.first_col && p <= nseq; }

bool is_presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

OneBased<int32_t> status_words() { return int_array(ARR_POS_STATUS); }
uint32_t status_of(int32_t p) { return static_cast<uint32_t>(status_words()[p]); }
void set_status(int32_t p, uint32_t word) { status_words()[p] = static_cast<int32_t>(word); }

// Factor of a position and its inverse (both exact powers of two).
double factor_of(int32_t p) { return scale_powers[scale_exponent(status_words()[p])]; }
double inverse_factor_of(int32_t p) { return scale_powers[2 * kNeutralScaleExponent - scale_exponent(status_words()[p])]; }

bool is_negligible(double v) { return std::fabs(v) <= dcv(dc::ZTOLDA); }

// A caller's bound in stored form: infinite beyond 5e19, else divided by the
// column factor.
double stored_bound(double value, int32_t p) {
  if (value >= kInfiniteBound) return kInfinity;
  if (value <= -kInfiniteBound) return -kInfinity;
  return value * inverse_factor_of(p);
}

bool present(const void* array, int32_t argument, const char* routine_name) {
  if (array != nullptr) return true;
  report_error(MSG_NULL_ARGUMENT, argument, routine_name);
  return false;
}

// Error report of a bad letter: the error value, then the item in the
// caller's count and the letter as inserts.
void report_bad_letter(int32_t n, int32_t value, int32_t item, char letter, const char* routine_name) {
  error_number = n;
  error_value = value;
  status_code = STATUS_REPORTED;
  const char shown = letter >= ' ' && letter <= '~' ? letter : '?';
  begin_message(n);
  insert_message_chars(routine_name, static_cast<int32_t>(std::strlen(routine_name)));
  insert_message_int(item - base());
  insert_message_chars(&shown, 1);
  emit_message();
}

// Every row index of the call within the rows (402 at the first that is not).
bool check_rows(int32_t count, const int32_t* rows, const char* routine_name) {
  for (int32_t k = 0; k < count; ++k) {
    if (is_row(row_position(rows[k]))) continue;
    report_error(MSG_ROW_INDEX_INVALID, rows[k], routine_name);
    return false;
  }
  return true;
}

bool check_columns(int32_t count, const int32_t* columns, const char* routine_name) {
  for (int32_t k = 0; k < count; ++k) {
    if (is_column(column_position(columns[k]))) continue;
    report_error(MSG_COLUMN_INDEX_INVALID, columns[k], routine_name);
    return false;
  }
  return true;
}

void free_row_lists_if_any() {
  if (problem_flags & PF_ROW_LISTS) free_row_lists();
}

void mark_solution_stale() { problem_flags &= ~PF_SOLUTION_CURRENT; }

// The upper bound of every basic variable, kept per basis position, follows
// the bounds once the LP driver or a global search works with it.
void refresh_basic_upper() {
  if ((problem_flags & (PF_DRIVER_SETUP | PF_SEARCH_RUNNING)) == 0) return;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (!header || !basic_upper) return;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t q = header[i];
    if (q >= 1 && q <= nseq) basic_upper[i] = upper[q];
  }
}

void reset_objective_row_if(int32_t row) {
  if (store.objective_row == row) store.objective_row = -2;
}

// Bits 0x200, 0x400 and 0x1 of a status word from its two bounds.
uint32_t with_bound_bits(uint32_t word, double lower, double upper) {
  word &= ~static_cast<uint32_t>(PS_FINITE_LOWER | PS_FINITE_UPPER | PS_FREE);
  if (lower > -kInfiniteBound) word |= PS_FINITE_LOWER;
  if (upper < kInfiniteBound) {
    word |= PS_FINITE_UPPER;
  } else if ((word & PS_FINITE_LOWER) == 0) {
    word |= PS_FREE;
  }
  return word;
}

// Column entity of position p (types 1..4), searched from the entity after
// hint onwards and then from the first; 0 when there is none.
int32_t find_column_entity(int32_t p, int32_t hint) {
  if (nglent <= nsets || !array_cells[ARR_ENTITY_TYPE] || !array_cells[ARR_ENTITY_COLUMN]) return 0;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  const int32_t first = nsets + 1;
  const int32_t start = std::clamp(hint, first, nglent);
  const auto matches = [&](int32_t e) {
    const int32_t t = type[e] & ENT_TYPE_MASK;
    return t >= ENT_INTEGER && t <= ENT_PARTIAL_INTEGER && column[e] == p;
  };
  for (int32_t e = start; e <= nglent; ++e)
    if (matches(e)) return e;
  for (int32_t e = first; e < start; ++e)
    if (matches(e)) return e;
  return 0;
}

// ---------------------------------------------------------------------------
// Bounds.

// The fixed marks of a column whose bounds became (lower, upper). Without
// global entities a fixed column is fixed for good (0x10); with them the
// global search's mark 0x800 is used and the column's objective contribution
// is carried in the fixed objective constant.
uint32_t update_fixed_marks(uint32_t word, double old_lower, double lower, double upper, double cost) {
  double& fixed_constant = dcv(kFixedObjectiveConstantSlot);
  if (lower == upper) {
    if (nglent == 0) return word | PS_FIXED;
    if ((word & PS_SEARCH_FIXED) != 0) {
      fixed_constant += (lower - old_lower) * cost;
    } else if ((word & PS_FIXED) == 0) {
      word |= PS_SEARCH_FIXED;
      fixed_constant += lower * cost;
    }
    return word;
  }
  if ((word & PS_FIXED) != 0) return word & ~static_cast<uint32_t>(PS_FIXED);
  if ((word & PS_SEARCH_FIXED) != 0) {
    fixed_constant -= old_lower * cost;
    return word & ~static_cast<uint32_t>(PS_SEARCH_FIXED);
  }
  return word;
}

// The integer copies of an entity column's bounds kept for the global search.
void update_entity_root_bounds(int32_t entity, double lower, double upper) {
  OneBased<int32_t> root_upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> root_lower = int_array(ARR_ENTITY_ROOT_LOWER);
  if (!root_upper || !root_lower) return;
  if ((int_array(ARR_ENTITY_TYPE)[entity] & ENT_TYPE_MASK) == ENT_SEMICONTINUOUS) {
    const bool at_limit = array_cells[ARR_SEMICONT_LIMIT] != nullptr && lower == real_array(ARR_SEMICONT_LIMIT)[entity];
    root_lower[entity] = at_limit ? 1 : 0;
    root_upper[entity] = at_limit || upper != 0.0 ? 1 : 0;
    return;
  }
  const double intmax = icv(ic::INTMAX);
  root_lower[entity] = static_cast<int32_t>(std::trunc(std::max(lower, -intmax)));
  root_upper[entity] = static_cast<int32_t>(std::trunc(std::min(upper, intmax)));
}

bool is_bound_letter(char c) { return c == 'U' || c == 'L' || c == 'B'; }

// ---------------------------------------------------------------------------
// The column-wise matrix.

// Entry index of column p in the row-wise copy of row r, 0 when absent
// (columns increase within a row).
int32_t find_in_row_copy(int32_t r, int32_t p) {
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  int32_t lo = start[r];
  int32_t hi = start[r + 1] - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (copy_col[mid] == p) return mid;
    if (copy_col[mid] < p) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return 0;
}

bool row_copy_usable() {
  return (problem_flags & PF_ROW_COPY) != 0 && (problem_flags & PF_WORK_ARRAYS) != 0 &&
         array_cells[ARR_ROW_COPY_START] != nullptr;
}

// Overwrites the value of (r, p) in the row-wise copy when the copy is valid.
void overwrite_in_row_copy(int32_t r, int32_t p, double v) {
  if (!row_copy_usable()) return;
  if (const int32_t k = find_in_row_copy(r, p)) real_array(ARR_ROW_COPY_VAL)[k] = v;
}

// The element space has room for `wanted` more entries, growing it when the
// spare slots fall short. False after message 415 (nothing changed).
bool ensure_element_room(int64_t wanted, const char* routine_name) {
  if (wanted <= spare_elems_left) return true;
  if (grow_problem_storage(0, 0, wanted + kElementGrowthStep, 0) == 0) return true;
  report_error(MSG_NO_ELEMENT_SPACE, static_cast<int32_t>(std::min<int64_t>(wanted, INT32_MAX)), routine_name);
  return false;
}

void count_element_change(int32_t delta) {
  nelem += delta;
  original_problem.nelem += delta;
  spare_elems_left -= delta;
}

// Removes element k of column p, closing the gap.
void remove_element(int32_t p, int32_t k) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  int32_t* rows = int_array(ARR_ELEM_ROW).data();
  double* values = real_array(ARR_ELEM_VALUE).data();
  const int32_t end = col_start[nseq + 1];
  std::memmove(rows + k - 1, rows + k, static_cast<size_t>(end - 1 - k) * sizeof(int32_t));
  std::memmove(values + k - 1, values + k, static_cast<size_t>(end - 1 - k) * sizeof(double));
  for (int32_t q = p + 1; q <= nseq + 1; ++q) --col_start[q];
  count_element_change(-1);
  problem_flags &= ~PF_ROW_COPY;
}

// Appends (row, v) at the end of column p, moving the later columns up.
void insert_element(int32_t p, int32_t row, double v) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  int32_t* rows = int_array(ARR_ELEM_ROW).data();
  double* values = real_array(ARR_ELEM_VALUE).data();
  const int32_t at = col_start[p + 1];
  const int32_t end = col_start[nseq + 1];
  std::memmove(rows + at, rows + at - 1, static_cast<size_t>(end - at) * sizeof(int32_t));
  std::memmove(values + at, values + at - 1, static_cast<size_t>(end - at) * sizeof(double));
  rows[at - 1] = row;
  values[at - 1] = v;
  for (int32_t q = p + 1; q <= nseq + 1; ++q) ++col_start[q];
  count_element_change(1);
  problem_flags &= ~PF_ROW_COPY;
}

// What a coefficient change leaves stale: the solution, the factor (the
// basis matrix may have changed) and the row lists.
void release_for_coefficient_change() {
  free_row_lists_if_any();
  free_factor_arrays();
  mark_solution_stale();
}

void ensure_column_copy() {
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
}

// One change of chgmcof per (column, row) pair, in stored form.
struct CoefficientChange {
  int32_t p;
  int32_t r;
  int32_t first_item;  // where a new entry goes among the column's new ones
  double v;            // the value of the pair's last item
  int32_t element;     // in the column-wise matrix, 0 when absent
};

struct CoefficientPlan {
  std::vector<CoefficientChange> changes;  // by column, then row
  std::vector<int32_t> new_start;          // per column from first_col, plus one
  std::vector<size_t> insertions;          // changes that add an entry, by first item
  std::vector<int32_t> kept;               // entries each column keeps
  int64_t growth = 0;
  bool reshapes = false;  // an entry appears or goes
};

void report_scratch_memory_failure() {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(0);
  emit_message();
  status_code = STATUS_REPORTED;
}

// Everything chgmcof needs before it changes anything (may throw
// std::bad_alloc): the merged pairs, which of them overwrite, remove or add
// an entry, and the column starts after the change. The first item of a pair
// decides where a new entry goes, the last its value, as the same chgcof
// calls made in order would leave them.
void plan_coefficient_changes(const int32_t* rows, const int32_t* columns, const double* values, int32_t count,
                              CoefficientPlan& plan) {
  std::vector<int32_t> order(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) order[static_cast<size_t>(k)] = k;
  const auto key = [&](int32_t k) {
    return std::pair<int64_t, int64_t>(column_position(columns[k]), row_position(rows[k]));
  };
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return key(a) < key(b); });
  for (const int32_t k : order) {
    const int32_t p = static_cast<int32_t>(column_position(columns[k]));
    const int32_t r = static_cast<int32_t>(row_position(rows[k]));
    const double v = values[k] * factor_of(p) * factor_of(r);
    if (!plan.changes.empty() && plan.changes.back().p == p && plan.changes.back().r == r) {
      plan.changes.back().v = v;
    } else {
      plan.changes.push_back({p, r, k, v, 0});
    }
  }

  const int32_t first = store.first_col;
  const size_t columns_count = static_cast<size_t>(nseq - first + 1);
  std::vector<int32_t> net(columns_count, 0);
  for (size_t i = 0; i < plan.changes.size(); ++i) {
    CoefficientChange& c = plan.changes[i];
    c.element = find_in_column(c.p, c.r);
    const bool keep = !is_negligible(c.v);
    if (c.element != 0 && !keep) {
      --net[static_cast<size_t>(c.p - first)];
    } else if (c.element == 0 && keep) {
      ++net[static_cast<size_t>(c.p - first)];
      plan.insertions.push_back(i);
    } else {
      continue;
    }
    plan.reshapes = true;
  }
  std::stable_sort(plan.insertions.begin(), plan.insertions.end(), [&](size_t a, size_t b) {
    return plan.changes[a].first_item < plan.changes[b].first_item;
  });
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  plan.kept.resize(columns_count);
  for (size_t j = 0; j < columns_count; ++j) {
    const int32_t p = first + static_cast<int32_t>(j);
    plan.kept[j] = col_start[p + 1] - col_start[p];
  }
  for (const CoefficientChange& c : plan.changes)
    if (c.element != 0 && is_negligible(c.v)) --plan.kept[static_cast<size_t>(c.p - first)];
  plan.new_start.resize(columns_count + 1);
  plan.new_start[0] = col_start[first];
  for (size_t j = 0; j < columns_count; ++j) {
    const int32_t p = first + static_cast<int32_t>(j);
    plan.new_start[j + 1] = plan.new_start[j] + (col_start[p + 1] - col_start[p]) + net[j];
  }
  plan.growth = static_cast<int64_t>(plan.new_start[columns_count]) - col_start[nseq + 1];
}

// Carries out a plan in one pass over the matrix: overwrites in place, then
// removed entries close up within their columns, the columns move to their
// new starts and the new entries go to the ends of their columns. The
// plan's kept counts serve as fill marks.
void apply_coefficient_plan(CoefficientPlan& plan) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (const CoefficientChange& c : plan.changes) {
    if (c.element == 0 || is_negligible(c.v)) continue;
    elem_value[c.element] = c.v;
    overwrite_in_row_copy(c.r, c.p, c.v);
  }
  if (!plan.reshapes) return;

  // Removed entries are marked by row 0 and every column closes up at its
  // old start.
  for (const CoefficientChange& c : plan.changes)
    if (c.element != 0 && is_negligible(c.v)) elem_row[c.element] = 0;
  const int32_t first = store.first_col;
  const int32_t columns_count = nseq - first + 1;
  for (int32_t p = first; p <= nseq; ++p) {
    int32_t to = col_start[p];
    for (int32_t k = col_start[p]; k < col_start[p + 1]; ++k) {
      if (elem_row[k] == 0) continue;
      elem_row[to] = elem_row[k];
      elem_value[to] = elem_value[k];
      ++to;
    }
  }
  // Each closed-up column moves to its new start as one block. A column
  // moving up may land on the next column's entries, one moving down on the
  // previous column's: runs moving up go from their last column down, runs
  // moving down from their first column up. A block never reaches a column
  // of a neighbouring run, since a column moving down ends below the old
  // start of the next.
  int32_t* rows = elem_row.data();
  double* vals = elem_value.data();
  const auto move_block = [&](int32_t j) {
    const int32_t from = col_start[first + j];
    const int32_t to = plan.new_start[static_cast<size_t>(j)];
    const size_t n = static_cast<size_t>(plan.kept[static_cast<size_t>(j)]);
    if (from == to || n == 0) return;
    std::memmove(rows + to - 1, rows + from - 1, n * sizeof(int32_t));
    std::memmove(vals + to - 1, vals + from - 1, n * sizeof(double));
  };
  const auto moves_up = [&](int32_t j) { return plan.new_start[static_cast<size_t>(j)] > col_start[first + j]; };
  for (int32_t j = 0; j < columns_count;) {
    const bool up = moves_up(j);
    int32_t last = j;
    while (last + 1 < columns_count && moves_up(last + 1) == up) ++last;
    if (up) {
      for (int32_t q = last; q >= j; --q) move_block(q);
    } else {
      for (int32_t q = j; q <= last; ++q) move_block(q);
    }
    j = last + 1;
  }
  for (int32_t j = 0; j <= columns_count; ++j) col_start[first + j] = plan.new_start[static_cast<size_t>(j)];
  // New entries behind the kept ones, in the order of their first items.
  for (const size_t i : plan.insertions) {
    const CoefficientChange& c = plan.changes[i];
    const size_t j = static_cast<size_t>(c.p - first);
    const int32_t at = plan.new_start[j] + plan.kept[j]++;
    elem_row[at] = c.r;
    elem_value[at] = c.v;
  }
  count_element_change(static_cast<int32_t>(plan.growth));
  problem_flags &= ~PF_ROW_COPY;
}

// ---------------------------------------------------------------------------
// Column types.

enum ColumnTypeCode : int32_t {
  COLUMN_CONTINUOUS = 0,
  COLUMN_INTEGER = ENT_INTEGER,
  COLUMN_BINARY = ENT_BINARY,
};

int32_t column_type_code(char letter) {
  switch (letter) {
    case 'I':
      return COLUMN_INTEGER;
    case 'B':
      return COLUMN_BINARY;
    case 'C':
      return COLUMN_CONTINUOUS;
    default:
      return -1;
  }
}

constexpr int32_t kEntityIntIds[] = {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_ENTITY_ROOT_UPPER,
                                     ARR_ENTITY_ROOT_LOWER};
constexpr int32_t kEntityFloatIds[] = {ARR_PSEUDO_COST_DOWN, ARR_PSEUDO_COST_UP};
constexpr int32_t kEntityRealIds[] = {ARR_SEMICONT_LIMIT, ARR_SEMICONT_UPPER};

template <class T>
void close_entity_gap(int32_t id, int32_t entity) {
  T* block = static_cast<T*>(array_cells[id]);
  if (block == nullptr) return;
  std::memmove(block + entity - 1, block + entity, static_cast<size_t>(nglent - entity) * sizeof(T));
  block[nglent - 1] = T{};
}

// Room for n more column entities: the spare slots, grown by the entity
// step when they fall short, and every per-entity array long enough for
// them (a reader may have left one of them shorter than its spare count
// says). False after message 20.
bool ensure_entity_room(int32_t n) {
  if (n <= 0) return true;
  if (n > spare_entities_left && grow_problem_storage(0, 0, 0, n + kEntityGrowthStep - 1) != 0) return false;
  const int64_t entities = static_cast<int64_t>(nglent) + n;
  const auto ensure = [](int32_t id, int64_t words) {
    if (block_words(array_cells[id]) >= words) return true;
    if (allocate_or_grow_array(id, array_cells[id], words) == 0) return true;
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(id);
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  };
  for (const int32_t id : kEntityIntIds)
    if (!ensure(id, words_for_ints(entities))) return false;
  for (const int32_t id : kEntityFloatIds)
    if (!ensure(id, entities)) return false;
  for (const int32_t id : kEntityRealIds)
    if (!ensure(id, words_for_reals(entities))) return false;
  return true;
}

// Removes entity e from every per-entity array.
void remove_entity(int32_t entity) {
  for (const int32_t id : kEntityIntIds) close_entity_gap<int32_t>(id, entity);
  for (const int32_t id : kEntityFloatIds) close_entity_gap<float>(id, entity);
  for (const int32_t id : kEntityRealIds) close_entity_gap<double>(id, entity);
  --nglent;
  ++spare_entities_left;
}

// Integer (binary) bounds of a column that becomes an integer (binary)
// entity: a binary lies in 0..1; an integer keeps its bounds rounded inward
// within INTMAX, as a load of an integer entity stores them.
void set_entity_bounds(int32_t p, int32_t code) {
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (code == COLUMN_BINARY) {
    lower[p] = 0.0;
    upper[p] = 1.0;
  } else {
    lower[p] = round_integer_lower(lower[p]);
    upper[p] = round_integer_upper(upper[p]);
  }
  uint32_t word = status_of(p) | PS_ENTITY | PS_BOTH_FINITE;
  word &= ~static_cast<uint32_t>(PS_FREE | PS_FIXED);
  if (lower[p] == upper[p]) word |= PS_FIXED;
  word |= code == COLUMN_BINARY ? PS_BINARY : PS_INTEGER;
  set_status(p, word);
  if (code == COLUMN_BINARY) ++binary_count;
}

void set_entity_copies(int32_t entity, int32_t p) {
  const double lower = real_array(ARR_LOWER)[p];
  const double upper = real_array(ARR_UPPER)[p];
  int_array(ARR_ENTITY_ROOT_LOWER)[entity] = static_cast<int32_t>(std::trunc(lower));
  int_array(ARR_ENTITY_ROOT_UPPER)[entity] = static_cast<int32_t>(std::trunc(upper));
}

// A new entity of column p at nglent + 1 (a spare slot is known to exist).
void append_column_entity(int32_t p, int32_t code) {
  unscale_column(p);
  const int32_t e = ++nglent;
  --spare_entities_left;
  int_array(ARR_ENTITY_TYPE)[e] = code;
  int_array(ARR_ENTITY_COLUMN)[e] = p;
  int_array(ARR_DIRECTIVE_WORD)[e] = kDefaultDirectiveWord;
  const float pseudo_cost = static_cast<float>(dcv(dc::RTOLPS));
  float_array(ARR_PSEUDO_COST_DOWN)[e] = pseudo_cost;
  float_array(ARR_PSEUDO_COST_UP)[e] = pseudo_cost;
  real_array(ARR_SEMICONT_LIMIT)[e] = 0.0;
  real_array(ARR_SEMICONT_UPPER)[e] = 0.0;
  set_entity_bounds(p, code);
  set_entity_copies(e, p);
}

// Entity e of column p takes another type (or leaves the entities for C).
void retype_column_entity(int32_t e, int32_t p, int32_t code) {
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  const int32_t old_type = type[e] & ENT_TYPE_MASK;
  if (old_type == code) return;
  // Every kind bit goes: an R entity is an integer with the semi-continuous
  // bit besides.
  set_status(p, status_of(p) & ~static_cast<uint32_t>(PS_ANY_INTEGER_KIND));
  if (old_type == ENT_BINARY) --binary_count;
  if (code == COLUMN_CONTINUOUS) {
    remove_entity(e);
    set_status(p, status_of(p) & ~static_cast<uint32_t>(PS_ENTITY));
    return;
  }
  type[e] = code;
  real_array(ARR_SEMICONT_LIMIT)[e] = 0.0;
  set_entity_bounds(p, code);
  set_entity_copies(e, p);
}

void update_node_record_bytes() {
  const int64_t binaries = binary_count;
  const int64_t positions = static_cast<int64_t>(nseq) + spare_rows_left;
  int64_t bytes = kNodeHeaderBytes + 4 * ((binaries + kTwoBitFieldsPerWord - 1) / kTwoBitFieldsPerWord) +
                  8 * (nglent - binaries) + 4 * ((positions + kTwoBitFieldsPerWord - 1) / kTwoBitFieldsPerWord);
  bytes = (bytes + 7) / 8 * 8;
  node_record_bytes = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX - 7));
}

// ---------------------------------------------------------------------------
// Rows.

bool is_row_type_letter(char c) { return c == 'E' || c == 'G' || c == 'L' || c == 'N' || c == 'R'; }

// Replaces the type code of a row word, keeping its flags.
void set_row_type(int32_t row, int32_t code) {
  int32_t& word = int_array(ARR_ROW_TYPE)[row];
  word = (word & ~static_cast<int32_t>(ROW_TYPE_MASK)) | code;
}

int32_t row_type_code(int32_t row) { return int_array(ARR_ROW_TYPE)[row] & ROW_TYPE_MASK; }

// The slack's bounds and the bits 0x611 of the row's status word.
void set_slack(int32_t row, uint32_t bits, double lower, double upper) {
  constexpr uint32_t kSlackBits = PS_BOTH_FINITE | PS_FIXED | PS_FREE;
  set_status(row, (status_of(row) & ~kSlackBits) | bits);
  real_array(ARR_LOWER)[row] = lower;
  real_array(ARR_UPPER)[row] = upper;
}

// Moves the right-hand side of a row by delta (stored form).
void shift_rhs(int32_t row, double delta) {
  real_array(ARR_RHS)[row] += delta;
  if (array_cells[ARR_WORK_RHS] != nullptr) real_array(ARR_WORK_RHS)[row] += delta;
}

// A range v (caller's terms) on a row held as an L row: v >= 0 makes the
// activity lie in [rhs - v, rhs], v < 0 in [rhs, rhs + |v|] (the right-hand
// side moves up by |v|), v at or below -5e19 leaves a G row at the lower end
// of the former interval.
void apply_range_to_l_row(int32_t row, double v) {
  const double f = factor_of(row);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (v >= kInfiniteBound) {
    upper[row] = kInfinity;
    set_status(row, status_of(row) & ~static_cast<uint32_t>(PS_FINITE_UPPER));
  } else if (v >= 0.0) {
    upper[row] = v * f;
    set_status(row, status_of(row) | PS_FINITE_UPPER);
  } else if (v > -kInfiniteBound) {
    shift_rhs(row, -v * f);
    upper[row] = -v * f;
    set_status(row, status_of(row) | PS_FINITE_UPPER);
  } else {
    set_row_type(row, ROW_G);
    if ((status_of(row) & PS_FINITE_UPPER) != 0 && upper[row] < kInfiniteBound) shift_rhs(row, -upper[row]);
    set_slack(row, PS_FINITE_UPPER, -kInfinity, 0.0);
  }
}

void change_range(int32_t row, double v) {
  switch (row_type_code(row)) {
    case ROW_N:
      return;
    case ROW_G:
      if (v <= -kInfiniteBound) return;
      // A G row's range extends above its right-hand side for v > 0: as an
      // L row that is the negated range.
      set_row_type(row, ROW_L);
      set_slack(row, PS_FINITE_LOWER, 0.0, kInfinity);
      apply_range_to_l_row(row, -v);
      return;
    case ROW_E:
      if (v == 0.0) return;
      // No longer fixed: the slack gets the range.
      set_row_type(row, ROW_L);
      set_status(row, status_of(row) & ~static_cast<uint32_t>(PS_FIXED));
      apply_range_to_l_row(row, v);
      return;
    default:
      apply_range_to_l_row(row, v);
      return;
  }
}

void change_row_type(int32_t row, char letter) {
  switch (letter) {
    case 'G': {
      const double slack_upper = real_array(ARR_UPPER)[row];
      // A range row keeps the lower end of its interval.
      if (slack_upper != 0.0 && slack_upper < kInfiniteBound) shift_rhs(row, -slack_upper);
      set_row_type(row, ROW_G);
      set_slack(row, PS_FINITE_UPPER, -kInfinity, 0.0);
      break;
    }
    case 'E':
      set_row_type(row, ROW_E);
      set_slack(row, PS_EQUALITY_ROW, 0.0, 0.0);
      break;
    case 'N':
      set_row_type(row, ROW_N);
      set_slack(row, PS_FREE, -kInfinity, kInfinity);
      break;
    default:  // L or R
      set_row_type(row, ROW_L);
      set_slack(row, PS_FINITE_LOWER, 0.0, kInfinity);
      break;
  }
  reset_objective_row_if(row);
}

// The row-type, range and right-hand-side edits move the slack bounds or the
// right-hand side: the solution no longer holds, the factor still does.
void release_for_row_change() {
  free_row_lists_if_any();
  mark_solution_stale();
  refresh_basic_upper();
}

}  // namespace

// ---------------------------------------------------------------------------

void chgbds(int32_t count, const int32_t* columns, const char* letters, const double* values) {
  begin_body();
  if (!require_problem() || count <= 0) return;
  if (!present(columns, 2, routine::kChgbds) || !present(letters, 3, routine::kChgbds) ||
      !present(values, 4, routine::kChgbds)) {
    return;
  }
  if (!check_columns(count, columns, routine::kChgbds)) return;
  for (int32_t k = 0; k < count; ++k) {
    if (is_bound_letter(letters[k])) continue;
    report_bad_letter(MSG_CHG_BAD_BOUND_LETTER, k + 1, k + 1, letters[k], routine::kChgbds);
    return;
  }
  for (int32_t k = 0; k < count; ++k) {
    const ValueKind kind =
        letters[k] == 'U' ? ValueKind::kUpperBound : (letters[k] == 'L' ? ValueKind::kLowerBound : ValueKind::kFinite);
    if (!check_value(values[k], kind, 4, k, routine::kChgbds, STATUS_REPORTED)) return;
  }

  node_factor_reusable = 0;
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const double tolerance = dcv(dc::ZTOLDA);
  bool changed = false;
  int32_t entity_hint = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p = static_cast<int32_t>(column_position(columns[k]));
    const double v = stored_bound(values[k], p);
    const double old_lower = lower[p];
    const double old_upper = upper[p];
    const double new_lower = letters[k] == 'U' ? old_lower : v;
    const double new_upper = letters[k] == 'L' ? old_upper : v;
    if (std::fabs(new_lower - old_lower) < tolerance && std::fabs(new_upper - old_upper) < tolerance) continue;
    changed = true;
    lower[p] = new_lower;
    upper[p] = new_upper;
    uint32_t word = update_fixed_marks(status_of(p), old_lower, new_lower, new_upper, cost[p]);
    set_status(p, with_bound_bits(word, new_lower, new_upper));
    if ((status_of(p) & PS_ENTITY) != 0) {
      if (const int32_t e = find_column_entity(p, entity_hint)) {
        update_entity_root_bounds(e, new_lower, new_upper);
        entity_hint = e;
      }
    }
  }
  if (!changed) return;
  refresh_basic_upper();
  mark_solution_stale();
  free_row_lists_if_any();
}

void chgcof(int32_t row, int32_t column, double value) {
  begin_body();
  if (!require_problem()) return;
  if (is_presolved()) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return;
  }
  const int64_t r64 = row_position(row);
  if (!is_row(r64)) {
    report_error(MSG_ROW_INDEX_INVALID, row, routine::kChgcof);
    return;
  }
  const int64_t p64 = column_position(column);
  if (!is_column(p64)) {
    report_error(MSG_COLUMN_INDEX_INVALID, column, routine::kChgcof);
    return;
  }
  if (!check_value(value, ValueKind::kFinite, 3, 0, routine::kChgcof, STATUS_REPORTED)) return;
  const int32_t r = static_cast<int32_t>(r64);
  const int32_t p = static_cast<int32_t>(p64);
  ensure_column_copy();
  const double v = value * factor_of(p) * factor_of(r);
  const int32_t k = find_in_column(p, r);
  const bool insert = k == 0 && !is_negligible(v);
  if (insert && !ensure_element_room(1, routine::kChgcof)) return;

  release_for_coefficient_change();
  reset_objective_row_if(r);
  if (k != 0 && !is_negligible(v)) {
    real_array(ARR_ELEM_VALUE)[k] = v;
    overwrite_in_row_copy(r, p, v);
  } else if (k != 0) {
    remove_element(p, k);
  } else if (insert) {
    insert_element(p, r, v);
  }
}

void chgmcof(const int32_t* rows, const int32_t* columns, const double* values, int32_t count) {
  begin_body();
  if (!require_problem()) return;
  if (is_presolved()) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return;
  }
  if (count <= 0) return;
  if (!present(rows, 1, routine::kChgmcof) || !present(columns, 2, routine::kChgmcof) ||
      !present(values, 3, routine::kChgmcof)) {
    return;
  }
  for (int32_t k = 0; k < count; ++k) {
    if (!is_row(row_position(rows[k]))) {
      report_error(MSG_ROW_INDEX_INVALID, rows[k], routine::kChgmcof);
      return;
    }
    if (!is_column(column_position(columns[k]))) {
      report_error(MSG_COLUMN_INDEX_INVALID, columns[k], routine::kChgmcof);
      return;
    }
  }
  if (!check_values(values, 0, count, ValueKind::kFinite, 3, routine::kChgmcof, STATUS_REPORTED)) return;
  ensure_column_copy();

  CoefficientPlan plan;
  try {
    plan_coefficient_changes(rows, columns, values, count, plan);
  } catch (const std::bad_alloc&) {
    report_scratch_memory_failure();
    return;
  }
  if (plan.growth > 0 && !ensure_element_room(plan.growth, routine::kChgmcof)) return;

  release_for_coefficient_change();
  for (const CoefficientChange& c : plan.changes) reset_objective_row_if(c.r);
  apply_coefficient_plan(plan);
}

void chgobj(int32_t count, const int32_t* columns, const double* values) {
  begin_body();
  if (!require_problem() || count <= 0) return;
  if (!present(columns, 2, routine::kChgobj) || !present(values, 3, routine::kChgobj)) return;
  for (int32_t k = 0; k < count; ++k) {
    if (columns[k] == -1 || is_column(column_position(columns[k]))) continue;
    report_error(MSG_COLUMN_INDEX_INVALID, columns[k], routine::kChgobj);
    return;
  }
  if (!check_values(values, 0, count, ValueKind::kFinite, 3, routine::kChgobj, STATUS_REPORTED)) return;
  mark_solution_stale();
  free_row_lists_if_any();
  free_factor_arrays();
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t k = 0; k < count; ++k) {
    if (columns[k] == -1) {
      dcv(kObjectiveConstantSlot) = -values[k];
      continue;
    }
    const int32_t p = static_cast<int32_t>(column_position(columns[k]));
    cost[p] = values[k] * factor_of(p);
  }
}

void chgrhs(int32_t count, const int32_t* rows, const double* values) {
  begin_body();
  if (!require_problem() || count <= 0) return;
  if (!present(rows, 2, routine::kChgrhs) || !present(values, 3, routine::kChgrhs)) return;
  if (!check_rows(count, rows, routine::kChgrhs)) return;
  if (!check_values(values, 0, count, ValueKind::kFinite, 3, routine::kChgrhs, STATUS_REPORTED)) return;
  free_row_lists_if_any();
  mark_solution_stale();
  free_factor_arrays();
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  for (int32_t k = 0; k < count; ++k) {
    const int32_t r = static_cast<int32_t>(row_position(rows[k]));
    rhs[r] = values[k] * factor_of(r);
    if (work_rhs) work_rhs[r] = rhs[r];
    reset_objective_row_if(r);
  }
}

void chgrng(int32_t count, const int32_t* rows, const double* values) {
  begin_body();
  if (!require_problem() || count <= 0) return;
  if (!present(rows, 2, routine::kChgrng) || !present(values, 3, routine::kChgrng)) return;
  if (!check_rows(count, rows, routine::kChgrng)) return;
  if (!check_values(values, 0, count, ValueKind::kRange, 3, routine::kChgrng, STATUS_REPORTED)) return;
  for (int32_t k = 0; k < count; ++k) change_range(static_cast<int32_t>(row_position(rows[k])), values[k]);
  release_for_row_change();
}

void chgrowtype(int32_t count, const int32_t* rows, const char* letters) {
  begin_body();
  if (!require_problem() || count <= 0) return;
  if (!present(rows, 2, routine::kChgrowtype) || !present(letters, 3, routine::kChgrowtype)) return;
  for (int32_t k = 0; k < count; ++k) {
    if (!is_row(row_position(rows[k]))) {
      report_error(MSG_ROW_INDEX_INVALID, rows[k], routine::kChgrowtype);
      return;
    }
    if (!is_row_type_letter(letters[k])) {
      report_bad_letter(MSG_LOAD_BAD_ROW_TYPE, rows[k], k + 1, letters[k], routine::kChgrowtype);
      return;
    }
  }
  for (int32_t k = 0; k < count; ++k) change_row_type(static_cast<int32_t>(row_position(rows[k])), letters[k]);
  release_for_row_change();
}

void chgcoltype(int32_t count, const int32_t* columns, const char* letters) {
  begin_body();
  if (!require_problem()) return;
  if ((problem_flags & PF_SEARCH_RUNNING) != 0) {
    error_number = MSG_CHG_SEARCH_RUNNING;
    error_value = 0;
    status_code = STATUS_REPORTED;
    begin_message(MSG_CHG_SEARCH_RUNNING);
    insert_message_chars(routine::kChgcoltype, static_cast<int32_t>(std::strlen(routine::kChgcoltype)));
    emit_message();
    return;
  }
  if (count <= 0) return;
  if (!present(columns, 2, routine::kChgcoltype) || !present(letters, 3, routine::kChgcoltype)) return;
  if (!check_columns(count, columns, routine::kChgcoltype)) return;
  // New entities an item may need (an upper bound: a column given twice
  // counts twice), and entity columns that hold no column entity (members
  // of a set only).
  int32_t new_entities = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t code = column_type_code(letters[k]);
    if (code < 0) {
      report_bad_letter(MSG_CHG_BAD_COLUMN_TYPE, k + 1, k + 1, letters[k], routine::kChgcoltype);
      return;
    }
    const int32_t p = static_cast<int32_t>(column_position(columns[k]));
    if ((status_of(p) & PS_ENTITY) == 0) {
      if (code != COLUMN_CONTINUOUS) ++new_entities;
    } else if (find_column_entity(p, 0) == 0) {
      report_error(MSG_CHG_ENTITY_NOT_FOUND, columns[k], routine::kChgcoltype);
      return;
    }
  }
  if (!ensure_entity_room(new_entities)) return;

  free_row_lists_if_any();
  int32_t entity_hint = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p = static_cast<int32_t>(column_position(columns[k]));
    const int32_t code = column_type_code(letters[k]);
    if ((status_of(p) & PS_ENTITY) == 0) {
      if (code != COLUMN_CONTINUOUS) {
        append_column_entity(p, code);
        mark_solution_stale();
      }
      continue;
    }
    const int32_t e = find_column_entity(p, entity_hint);
    entity_hint = e;
    if ((int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK) == code) continue;
    retype_column_entity(e, p, code);
    mark_solution_stale();
  }
  original_problem.nglent = nglent;
  update_node_record_bytes();
  refresh_basic_upper();
}

bool remove_column_entity(int32_t p) {
  if (!is_column(p) || (status_of(p) & PS_ENTITY) == 0) return false;
  const int32_t e = find_column_entity(p, 0);
  if (e == 0) return false;
  retype_column_entity(e, p, COLUMN_CONTINUOUS);
  original_problem.nglent = nglent;
  update_node_record_bytes();
  return true;
}

void unscale_column(int32_t p) {
  const int32_t e = scale_exponent(status_words()[p]);
  if (e == kNeutralScaleExponent) return;
  const double f = scale_powers[e];
  const double inverse = scale_powers[2 * kNeutralScaleExponent - e];
  if ((problem_flags & PF_COLUMN_COPY) != 0) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    for (int32_t k = col_start[p]; k < col_start[p + 1]; ++k) {
      elem_value[k] *= inverse;
      if (row_copy_usable())
        if (const int32_t c = find_in_row_copy(elem_row[k], p)) real_array(ARR_ROW_COPY_VAL)[c] *= inverse;
    }
  } else if (row_copy_usable()) {
    for (int32_t r = 1; r <= nrow; ++r)
      if (const int32_t c = find_in_row_copy(r, p)) real_array(ARR_ROW_COPY_VAL)[c] *= inverse;
  }
  real_array(ARR_OBJECTIVE)[p] *= inverse;
  for (const int32_t id : {ARR_LOWER, ARR_UPPER, ARR_WORK_LOWER, ARR_WORK_UPPER}) {
    if (array_cells[id] == nullptr) continue;
    double& bound = array_of<double>(id)[p];
    if (std::fabs(bound) < kInfinity) bound *= f;
  }
  if (array_cells[ARR_X] != nullptr) real_array(ARR_X)[p] *= f;
  set_status(p, (status_of(p) & ~static_cast<uint32_t>(PS_SCALE_MASK)) | kDefaultScaleWord);
  // The factor holds the column as it was scaled.
  free_factor_arrays();
  mark_solution_stale();
}

}  // namespace kl
