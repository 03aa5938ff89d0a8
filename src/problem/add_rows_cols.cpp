#include "problem/add_rows_cols.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "problem/factor_arrays.h"
#include "problem/scale_exponents.h"
#include "problem/matrix_storage.h"
#include "problem/quadratic_edit.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "problem/value_checks.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;
// Default names: "VV", then the position in six characters whose leading
// blanks are V as well.
constexpr int32_t kDefaultNameWidth = 8;

// Argument numbers of the two bodies, for messages 7 and 601.
enum AddcolArgument : int32_t {
  COL_ARG_NCOLS = 1,
  COL_ARG_NELEMS,
  COL_ARG_COSTS,
  COL_ARG_STARTS,
  COL_ARG_ROWS,
  COL_ARG_VALUES,
  COL_ARG_LOWER,
  COL_ARG_UPPER,
};
enum AddrowArgument : int32_t {
  ROW_ARG_NROWS = 1,
  ROW_ARG_NELEMS,
  ROW_ARG_TYPES,
  ROW_ARG_RHS,
  ROW_ARG_RANGES,
  ROW_ARG_STARTS,
  ROW_ARG_COLUMNS,
  ROW_ARG_VALUES,
};
constexpr int32_t kAddnamesNamesArgument = 2;

int32_t caller_base() { return icv(ic::IFDBG); }

// The caller's number of entry k (0-based) of one of its arrays.
int32_t caller_entry(int64_t k) { return static_cast<int32_t>(k + 1 - caller_base()); }

// Exponent byte and factor of a position (a byte of 0 reads as 64).
int32_t exponent_of(int32_t p) { return scale_exponent(int_array(ARR_POS_STATUS)[p]); }
double factor_of(int32_t p) { return scale_power(static_cast<uint32_t>(exponent_of(p))); }

// The block layout of the caller: item k owns entries starts[k] .. starts[k+1]
// - 1, the last one up to starts[0] + nelems - 1, every index shifted by the
// index base. Without entries starts is not read. False after message 7.
bool read_block_layout(int32_t count, int32_t nelems, const int32_t* starts, int32_t starts_argument,
                       const char* routine_name, std::vector<EntryRange>& ranges) {
  ranges.assign(static_cast<size_t>(count), EntryRange{});
  if (nelems == 0 || count == 0) return true;
  const int64_t first = static_cast<int64_t>(starts[0]) + caller_base() - 1;
  const int64_t last_end = first + nelems;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t begin = static_cast<int64_t>(starts[k]) + caller_base() - 1;
    const int64_t end = k + 1 < count ? static_cast<int64_t>(starts[k + 1]) + caller_base() - 1 : last_end;
    if (begin < 0 || begin < first || end < begin || end > last_end) {
      report_count_error(starts_argument, caller_entry(k), starts[k], routine_name);
      return false;
    }
    ranges[static_cast<size_t>(k)] = EntryRange{begin, end};
  }
  return true;
}

// Message 423: entry e (0-based in the caller's arrays) repeats index.
void report_repeated_index(int64_t e, int32_t index, const char* routine_name) {
  error_number = MSG_INDEX_REPEATED;
  error_value = index;
  status_code = STATUS_REPORTED;
  begin_message(MSG_INDEX_REPEATED);
  insert_message_chars(routine_name, static_cast<int32_t>(std::strlen(routine_name)));
  insert_message_int(caller_entry(e));
  insert_message_int(index);
  emit_message();
}

// Message 401 for the type letter of new row k (0-based in the call).
void report_bad_row_type(int32_t k, char letter) {
  error_number = MSG_LOAD_BAD_ROW_TYPE;
  error_value = caller_entry(k);
  status_code = STATUS_REPORTED;
  const char shown = letter >= ' ' && letter <= '~' ? letter : '?';
  begin_message(MSG_LOAD_BAD_ROW_TYPE);
  insert_message_chars(routine::kAddrow, kNameChars);
  insert_message_int(caller_entry(k));
  insert_message_chars(&shown, 1);
  emit_message();
}

// The exponent byte that brings the geometric mean of the entries, already
// multiplied by the factors of the other side, near 1: 64 - trunc(mean log2)
// within 1..127, or 64 when no entry counts.
int32_t mean_exponent(double log_sum, int32_t counted) {
  if (counted == 0) return kNeutralScaleExponent;
  const double shift = std::trunc(log_sum / (counted * std::log(2.0)));
  const double exponent = std::clamp(kNeutralScaleExponent - shift, double{kMinScaleExponent},
                                     double{kMaxScaleExponent});
  return static_cast<int32_t>(exponent);
}

// The exponent of a new row or column from its entries: each entry of at
// least ZTOLDA counts with ln|a| plus the ln of the factor of the position it
// meets. 64 when IFSCAL is 0.
template <class OtherPosition>
int32_t new_exponent(const EntryRange& range, const int32_t* indices, const double* values,
                     OtherPosition other_position) {
  if (icv(ic::IFSCAL) == 0) return kNeutralScaleExponent;
  const double tolerance = dcv(dc::ZTOLDA);
  double log_sum = 0.0;
  int32_t counted = 0;
  for (int64_t e = range.begin; e < range.end; ++e) {
    const double a = std::fabs(values[e]);
    if (a < tolerance) continue;
    ++counted;
    log_sum += std::log(a) + std::log(2.0) * (exponent_of(other_position(indices[e])) - kNeutralScaleExponent);
  }
  return mean_exponent(log_sum, counted);
}

// Default name of a new position: VV and the position in six characters
// whose leading blanks are V; the rest of the name words blank.
void write_default_name(int32_t position) {
  char* name = position_name(position);
  const int32_t length = name_words * kNameChars;
  std::memset(name, ' ', static_cast<size_t>(length));
  std::memset(name, 'V', kDefaultNameWidth);
  int32_t at = kDefaultNameWidth;
  for (int32_t n = position; n > 0 && at > 0; n /= 10) name[--at] = static_cast<char>('0' + n % 10);
}

void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

// Makes room for count more items of one kind when the spare room is short,
// asking grow_problem_storage for the totals given; false after message
// failure_message (the growth has reported message 20).
bool make_room(int32_t spare, int32_t count, int32_t rows, int32_t columns, int64_t elements,
               int32_t failure_message, const char* routine_name) {
  if (spare >= count) return true;
  if (grow_problem_storage(rows, columns, elements, 0) == 0) return true;
  report_error(failure_message, count, routine_name);
  return false;
}

// ---------------------------------------------------------------------------
// addcol

struct ColumnCall {
  int32_t ncols;
  int32_t nelems;
  const double* costs;
  const int32_t* starts;
  const int32_t* rows;
  const double* values;
  const double* lower;
  const double* upper;
};

bool addcol_arguments_present(const ColumnCall& c) {
  if (c.ncols < 0) {
    report_count_error(COL_ARG_NCOLS, 0, c.ncols, routine::kAddcol);
    return false;
  }
  if (c.nelems < 0) {
    report_count_error(COL_ARG_NELEMS, 0, c.nelems, routine::kAddcol);
    return false;
  }
  if (c.ncols == 0) return true;
  if (!require_argument(c.costs, COL_ARG_COSTS, routine::kAddcol) ||
      !require_argument(c.lower, COL_ARG_LOWER, routine::kAddcol) ||
      !require_argument(c.upper, COL_ARG_UPPER, routine::kAddcol))
    return false;
  if (c.nelems == 0) return true;
  return require_argument(c.starts, COL_ARG_STARTS, routine::kAddcol) &&
         require_argument(c.rows, COL_ARG_ROWS, routine::kAddcol) &&
         require_argument(c.values, COL_ARG_VALUES, routine::kAddcol);
}

// Every row index lies in 1..nrow (402) and no row repeats within a column
// (423): a stored pair (row, column) is unique throughout the store.
bool check_column_entries(const ColumnCall& c, const std::vector<EntryRange>& ranges) {
  constexpr int32_t status = STATUS_REPORTED;
  if (!check_values(c.costs, 0, c.ncols, ValueKind::kFinite, COL_ARG_COSTS, routine::kAddcol, status) ||
      !check_values(c.lower, 0, c.ncols, ValueKind::kLowerBound, COL_ARG_LOWER, routine::kAddcol, status) ||
      !check_values(c.upper, 0, c.ncols, ValueKind::kUpperBound, COL_ARG_UPPER, routine::kAddcol, status)) {
    return false;
  }
  std::vector<int32_t> seen_in(static_cast<size_t>(nrow) + 1, -1);
  for (int32_t k = 0; k < c.ncols; ++k) {
    const EntryRange& range = ranges[static_cast<size_t>(k)];
    for (int64_t e = range.begin; e < range.end; ++e) {
      const int64_t r = static_cast<int64_t>(c.rows[e]) + caller_base();
      if (r < 1 || r > nrow) {
        report_error(MSG_ROW_INDEX_INVALID, c.rows[e], routine::kAddcol);
        return false;
      }
      if (!check_value(c.values[e], ValueKind::kFinite, COL_ARG_VALUES, e, routine::kAddcol, status)) return false;
      int32_t& seen = seen_in[static_cast<size_t>(r)];
      if (seen == k) {
        report_repeated_index(e, c.rows[e], routine::kAddcol);
        return false;
      }
      seen = k;
    }
  }
  return true;
}

// Status word and stored bounds of new column p with factor f. Equal bounds
// fix the column and a free column rests at zero, as the set-up of a load
// leaves them.
void store_column_bounds(int32_t p, int32_t exponent, double lower, double upper) {
  const double f = scale_power(static_cast<uint32_t>(exponent));
  uint32_t word = static_cast<uint32_t>(exponent) << 24;
  OneBased<double> lower_out = real_array(ARR_LOWER);
  OneBased<double> upper_out = real_array(ARR_UPPER);
  if (upper < kInfiniteBound) {
    upper_out[p] = upper / f;
    word |= PS_FINITE_UPPER;
  } else {
    upper_out[p] = kInfinity;
  }
  if (lower > -kInfiniteBound) {
    lower_out[p] = lower / f;
    word |= PS_FINITE_LOWER;
  } else {
    lower_out[p] = -kInfinity;
    if ((word & PS_FINITE_UPPER) == 0) word |= PS_FREE | PS_NONBASIC_BETWEEN;
  }
  if ((word & PS_BOTH_FINITE) == PS_BOTH_FINITE && lower_out[p] == upper_out[p]) word |= PS_FIXED;
  int_array(ARR_POS_STATUS)[p] = static_cast<int32_t>(word);
}

void store_new_columns(const ColumnCall& c, const std::vector<EntryRange>& ranges) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const double tolerance = dcv(dc::ZTOLDA);
  const auto row_of = [](int32_t index) { return index + caller_base(); };
  int32_t next = col_start[nseq + 1];
  for (int32_t k = 0; k < c.ncols; ++k) {
    const int32_t p = nseq + 1 + k;
    const EntryRange& range = ranges[static_cast<size_t>(k)];
    const int32_t exponent = new_exponent(range, c.rows, c.values, row_of);
    const double f = scale_power(static_cast<uint32_t>(exponent));
    store_column_bounds(p, exponent, c.lower[k], c.upper[k]);
    write_default_name(p);
    cost[p] = f * c.costs[k];
    col_start[p] = next;
    for (int64_t e = range.begin; e < range.end; ++e) {
      if (std::fabs(c.values[e]) < tolerance) continue;
      const int32_t r = row_of(c.rows[e]);
      elem_row[next] = r;
      elem_value[next] = c.values[e] * factor_of(r) * f;
      ++next;
    }
    col_start[p + 1] = next;
  }
}

// ---------------------------------------------------------------------------
// addrow

using RowCall = AddedRows;

bool addrow_arguments_present(const RowCall& c) {
  if (c.nrows < 0) {
    report_count_error(ROW_ARG_NROWS, 0, c.nrows, routine::kAddrow);
    return false;
  }
  if (c.nelems < 0) {
    report_count_error(ROW_ARG_NELEMS, 0, c.nelems, routine::kAddrow);
    return false;
  }
  if (c.nrows == 0) return true;
  if (!require_argument(c.types, ROW_ARG_TYPES, routine::kAddrow) ||
      !require_argument(c.rhs, ROW_ARG_RHS, routine::kAddrow))
    return false;
  if (c.nelems == 0) return true;
  return require_argument(c.starts, ROW_ARG_STARTS, routine::kAddrow) &&
         require_argument(c.columns, ROW_ARG_COLUMNS, routine::kAddrow) &&
         require_argument(c.values, ROW_ARG_VALUES, routine::kAddrow);
}

// The row type letters (401); ranges must be given when an R row is.
// The right-hand sides and the ranges of R rows must be finite.
bool check_row_values(const RowCall& c) {
  constexpr int32_t status = STATUS_REPORTED;
  if (!check_values(c.rhs, 0, c.nrows, ValueKind::kFinite, ROW_ARG_RHS, routine::kAddrow, status)) return false;
  for (int32_t k = 0; k < c.nrows; ++k) {
    if (c.types[k] == 'R' && !check_value(c.ranges[k], ValueKind::kFinite, ROW_ARG_RANGES, k, routine::kAddrow, status))
      return false;
  }
  return true;
}

bool check_row_types(const RowCall& c) {
  bool ranged = false;
  for (int32_t k = 0; k < c.nrows; ++k) {
    switch (c.types[k]) {
      case 'E':
      case 'G':
      case 'L':
      case 'N':
        break;
      case 'R':
        ranged = true;
        break;
      default:
        report_bad_row_type(k, c.types[k]);
        return false;
    }
  }
  return !ranged || require_argument(c.ranges, ROW_ARG_RANGES, routine::kAddrow);
}

int64_t position_of_column(int32_t index) {
  return static_cast<int64_t>(index) + store.first_col + caller_base() - 1;
}

// Every column index names a column (405) and none repeats within a row (423).
bool check_row_entries(const RowCall& c, const std::vector<EntryRange>& ranges) {
  const int32_t first = store.first_col;
  std::vector<int32_t> seen_in(static_cast<size_t>(std::max(0, nseq - first + 1)), -1);
  for (int32_t k = 0; k < c.nrows; ++k) {
    const EntryRange& range = ranges[static_cast<size_t>(k)];
    for (int64_t e = range.begin; e < range.end; ++e) {
      const int64_t p = position_of_column(c.columns[e]);
      if (p < first || p > nseq) {
        report_error(MSG_COLUMN_INDEX_INVALID, c.columns[e], routine::kAddrow);
        return false;
      }
      if (!check_value(c.values[e], ValueKind::kFinite, ROW_ARG_VALUES, e, routine::kAddrow, STATUS_REPORTED))
        return false;
      int32_t& seen = seen_in[static_cast<size_t>(p - first)];
      if (seen == k) {
        report_repeated_index(e, c.columns[e], routine::kAddrow);
        return false;
      }
      seen = k;
    }
  }
  return true;
}

// Type code, status bits and slack bounds of a new row; slack and
// activity add up to the right-hand side.
struct RowShape {
  int32_t type;
  uint32_t status;
  double lower;
  double upper;
};

RowShape row_shape(char letter, const double* ranges, int32_t k) {
  switch (letter) {
    case 'L':
      return {ROW_L, PS_FINITE_LOWER, 0.0, kInfinity};
    case 'G':
      return {ROW_G, PS_FINITE_UPPER, -kInfinity, 0.0};
    case 'E':
      return {ROW_E, PS_EQUALITY_ROW, 0.0, 0.0};
    case 'R':
      // A range row is an L row whose slack is bounded by the range.
      return {ROW_L, PS_BOTH_FINITE, 0.0, std::fabs(ranges[k])};
    default:
      return {ROW_N, PS_FREE, -kInfinity, kInfinity};
  }
}

void store_new_rows(const RowCall& c, const std::vector<EntryRange>& ranges) {
  const double tolerance = dcv(dc::ZTOLDA);
  std::vector<std::pair<int32_t, double>> entries;
  for (int32_t k = 0; k < c.nrows; ++k) {
    const int32_t p = nrow + 1 + k;
    const EntryRange& range = ranges[static_cast<size_t>(k)];
    const int32_t exponent = added_row_exponent(c, range);
    const double f = scale_power(static_cast<uint32_t>(exponent));
    entries.clear();
    for (int64_t e = range.begin; e < range.end; ++e) {
      if (std::fabs(c.values[e]) < tolerance) continue;
      const int32_t q = added_row_column(c.columns[e]);
      entries.emplace_back(q, c.values[e] * factor_of(q) * f);
    }
    std::sort(entries.begin(), entries.end());
    store_added_row(p, c.types[k], c.ranges != nullptr ? c.ranges[k] : 0.0, exponent, c.rhs[k] * f, entries, true);
  }
}

// ---------------------------------------------------------------------------
// addnames

// The caller's first and last index as positions; false after 406 or 407.
bool name_range(int32_t kind, int32_t first, int32_t last, int32_t& lo, int32_t& hi) {
  const int64_t base = caller_base();
  if (kind == 1) {
    if (int64_t{first} + base < 1) {
      report_error(MSG_ROW_RANGE_INVALID, first, routine::kAddnames);
      return false;
    }
    if (int64_t{last} + base > nrow) {
      report_error(MSG_ROW_RANGE_INVALID, last, routine::kAddnames);
      return false;
    }
    lo = static_cast<int32_t>(first + base);
    hi = static_cast<int32_t>(last + base);
    return true;
  }
  if (int64_t{first} + base < 1) {
    report_error(MSG_COLUMN_RANGE_INVALID, first, routine::kAddnames);
    return false;
  }
  if (int64_t{last} + base > ncols()) {
    report_error(MSG_COLUMN_RANGE_INVALID, last, routine::kAddnames);
    return false;
  }
  lo = static_cast<int32_t>(first + base + store.first_col - 1);
  hi = static_cast<int32_t>(last + base + store.first_col - 1);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pieces of addrow shared with the rows added to a presolved problem.

int32_t added_row_column(int32_t index) { return static_cast<int32_t>(position_of_column(index)); }

int32_t added_row_exponent(const AddedRows& call, const EntryRange& range) {
  return new_exponent(range, call.columns, call.values, added_row_column);
}

bool check_added_rows(const AddedRows& call, std::vector<EntryRange>& ranges) {
  if (!addrow_arguments_present(call)) return false;
  if (!read_block_layout(call.nrows, call.nelems, call.starts, ROW_ARG_STARTS, routine::kAddrow, ranges)) return false;
  return check_row_types(call) && check_row_values(call) && check_row_entries(call, ranges);
}

RowShapeWords added_row_words(char letter, double range, int32_t exponent) {
  const RowShape shape = row_shape(letter, &range, 0);
  const double f = scale_power(static_cast<uint32_t>(exponent));
  return RowShapeWords{shape.type,
                       static_cast<int32_t>(shape.status | PS_BASIC | (static_cast<uint32_t>(exponent) << 24)),
                       shape.lower, (shape.status & PS_FINITE_UPPER) != 0 ? shape.upper * f : shape.upper};
}

void write_added_row_name(int32_t p) { write_default_name(p); }

void store_added_row(int32_t p, char letter, double range, int32_t exponent, double scaled_rhs,
                     const std::vector<std::pair<int32_t, double>>& entries, bool default_name) {
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  const RowShapeWords shape = added_row_words(letter, range, exponent);
  int_array(ARR_ROW_TYPE)[p] = shape.type;
  int_array(ARR_POS_STATUS)[p] = shape.status;
  real_array(ARR_LOWER)[p] = shape.lower;
  upper[p] = shape.upper;
  real_array(ARR_RHS)[p] = scaled_rhs;
  if (work_rhs) work_rhs[p] = scaled_rhs;
  real_array(ARR_OBJECTIVE)[p] = 0.0;
  int_array(ARR_BASIS_HEADER)[p] = p;
  real_array(ARR_BASIC_UPPER)[p] = upper[p];
  if (default_name) write_default_name(p);
  // The row copy keeps increasing column positions within a row.
  int32_t next = copy_start[p];
  for (const auto& [q, v] : entries) {
    copy_col[next] = q;
    copy_val[next] = v;
    ++next;
  }
  copy_start[p + 1] = next;
}

// ---------------------------------------------------------------------------
// Helpers shared with the deletions.

bool is_presolved_problem() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

bool require_editable_problem() {
  if (!require_problem()) return false;
  if (!is_presolved_problem()) return true;
  report_plain_error(MSG_PROBLEM_PRESOLVED);
  return false;
}

bool require_argument(const void* pointer, int32_t argument, const char* routine_name) {
  if (pointer != nullptr) return true;
  report_error(MSG_NULL_ARGUMENT, argument, routine_name);
  return false;
}

void report_count_error(int32_t argument, int32_t entry, int64_t value, const char* routine_name) {
  const int32_t shown = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  error_number = MSG_LOAD_BAD_COUNT;
  error_value = shown;
  status_code = STATUS_REPORTED;
  begin_message(MSG_LOAD_BAD_COUNT);
  insert_message_chars(routine_name, static_cast<int32_t>(std::strlen(routine_name)));
  insert_message_int(argument);
  insert_message_int(entry);
  insert_message_int(shown);
  emit_message();
}

bool make_work_arrays_present() {
  if ((problem_flags & PF_WORK_ARRAYS) != 0) return true;
  if (const int32_t failed = alloc_solver_work_arrays(); failed != 0) {
    report_no_memory(failed);
    return false;
  }
  return true;
}

bool make_row_copy_current() {
  if (!make_work_arrays_present()) return false;
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  return true;
}

bool make_column_copy_current() {
  if ((problem_flags & PF_COLUMN_COPY) != 0) return true;
  if (!make_row_copy_current()) return false;
  build_column_copy();
  return true;
}


void report_edit_no_memory() { report_no_memory(0); }

// ---------------------------------------------------------------------------
// The bodies.

void addcol(int32_t ncols, int32_t nelems, const double* costs, const int32_t* starts, const int32_t* row_indices,
            const double* values, const double* lower, const double* upper) {
  begin_body();
  if (!require_editable_problem()) return;
  const ColumnCall call{ncols, nelems, costs, starts, row_indices, values, lower, upper};
  if (!addcol_arguments_present(call)) return;
  try {
    std::vector<EntryRange> ranges;
    if (!read_block_layout(ncols, nelems, starts, COL_ARG_STARTS, routine::kAddcol, ranges)) return;
    if (!check_column_entries(call, ranges)) return;

    if (!make_room(spare_cols_left, ncols, 0,
                   spare_cols_left + ncols + kAddPositionGrowth, 0, MSG_NO_COLUMN_SPACE, routine::kAddcol))
      return;
    if (!make_room(spare_elems_left, nelems, 0, 0,
                   int64_t{spare_elems_left} + nelems + kAddElementGrowth, MSG_NO_ELEMENT_SPACE,
                   routine::kAddcol))
      return;
    if (!make_column_copy_current()) return;

    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    problem_flags &= ~(PF_SOLUTION_CURRENT | PF_ROW_COPY);
    free_factor_arrays();

    const int32_t stored_before = nelem;
    store_new_columns(call, ranges);
    add_empty_quadratic_columns(ncols);
    nseq += ncols;
    spare_cols_left -= ncols;
    nelem = int_array(ARR_COL_START)[nseq + 1] - 1;
    spare_elems_left -= nelem - stored_before;
    record_original_problem();
  } catch (const std::bad_alloc&) {
    report_edit_no_memory();
  }
}

void addrow(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs, const double* ranges,
            const int32_t* starts, const int32_t* column_indices, const double* values) {
  begin_body();
  if (!require_editable_problem()) return;
  if (icv(ic::IFMEM) & kIfmemFixedShape) {
    report_plain_error(MSG_PROBLEM_SHAPE_FIXED);
    return;
  }
  const RowCall call{nrows, nelems, row_types, rhs, ranges, starts, column_indices, values};
  try {
    std::vector<EntryRange> entry_ranges;
    if (!check_added_rows(call, entry_ranges)) return;

    if (!make_room(spare_rows_left, nrows, spare_rows_left + nrows + kAddPositionGrowth, 0, 0,
                   MSG_NO_ROW_SPACE, routine::kAddrow))
      return;
    if (!make_room(spare_elems_left, nelems, 0, 0,
                   int64_t{spare_elems_left} + nelems + kAddElementGrowth, MSG_NO_ELEMENT_SPACE,
                   routine::kAddrow))
      return;
    if (!make_row_copy_current()) return;

    problem_flags &= ~(PF_SOLUTION_CURRENT | PF_COLUMN_COPY);
    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    free_factor_arrays();

    const int32_t stored_before = nelem;
    store_new_rows(call, entry_ranges);
    spare_rows_left -= nrows;
    nrow += nrows;
    nelem = int_array(ARR_ROW_COPY_START)[nrow + 1] - 1;
    spare_elems_left -= nelem - stored_before;
    record_original_problem();
  } catch (const std::bad_alloc&) {
    report_edit_no_memory();
  }
}

void addnames(int32_t kind, const char* names, int32_t first, int32_t last) {
  begin_body();
  if (!require_editable_problem()) return;
  int32_t lo = 0;
  int32_t hi = 0;
  if (!name_range(kind, first, last, lo, hi) || hi < lo) return;
  if (!require_argument(names, kAddnamesNamesArgument, routine::kAddnames)) return;

  // Every name is measured before one is stored.
  const int64_t room = int64_t{name_words} * kNameChars;
  int64_t offset = 0;
  for (int32_t p = lo; p <= hi; ++p) {
    const int64_t length = static_cast<int64_t>(strnlen(names + offset, static_cast<size_t>(room) + 1));
    if (length > room) {
      report_error(MSG_ADD_NAME_TOO_LONG, static_cast<int32_t>(offset + room), routine::kAddnames);
      return;
    }
    offset += length + 1;
  }
  offset = 0;
  for (int32_t p = lo; p <= hi; ++p) {
    const size_t length = std::strlen(names + offset);
    char* slot = position_name(p);
    std::memset(slot, ' ', static_cast<size_t>(room));
    std::memcpy(slot, names + offset, length);
    offset += static_cast<int64_t>(length) + 1;
  }
}

}  // namespace kl
