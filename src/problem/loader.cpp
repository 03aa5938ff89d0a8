#include "problem/loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/problem_name.h"
#include "factor/basis.h"
#include "problem/factor_arrays.h"
#include "problem/scale_exponents.h"
#include "files/load_support.h"
#include "problem/cut_pool.h"
#include "problem/search_state.h"
#include "problem/matrix_storage.h"
#include "problem/queries.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "problem/value_checks.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "simplex/solver_reset.h"

namespace kl {

int32_t cut_space_mode = 0;
int32_t file_quadratic_entry_count = 0;

namespace {

// Export argument numbers named by the null-argument and count messages.
enum LoadArgument : int32_t {
  ARG_NCOLS = 2,
  ARG_NROWS = 3,
  ARG_ROW_TYPES = 4,
  ARG_RHS = 5,
  ARG_RANGES = 6,
  ARG_OBJECTIVE = 7,
  ARG_STARTS = 8,
  ARG_LENGTHS = 9,
  ARG_ROWS = 10,
  ARG_VALUES = 11,
  ARG_LOWER = 12,
  ARG_UPPER = 13,
  ARG_NQUAD = 14,
  ARG_QUAD_COL1 = 15,
  ARG_QUAD_COL2 = 16,
  ARG_QUAD_VALUES = 17,
  // The global arguments follow the linear ones, or the quadratic ones in
  // KLLOADQGLOBAL; offsets from the first of them.
  GARG_NENTITIES = 0,
  GARG_NSETS = 1,
  GARG_ENTITY_TYPES = 2,
  GARG_ENTITY_COLUMNS = 3,
  GARG_ENTITY_LIMITS = 4,
  GARG_SET_TYPES = 5,
  GARG_SET_STARTS = 6,
  GARG_SET_COLUMNS = 7,
  GARG_SET_REFS = 8,
};
constexpr int32_t kFirstGlobalArgument = 14;
constexpr int32_t kFirstGlobalArgumentAfterQuadratic = 18;

// Name slots beyond the positions that a load leaves for the name table.
constexpr int64_t kNameTableMargin = 4;
constexpr int32_t kNameChars = 8;
// Every count the store keeps is an int32; sizes above this are refused.
constexpr int64_t kLargestCount = INT32_MAX - 16;

const char kBoundSetName[] = "BND00001";
const char kRhsSetName[] = "RHS00001";

int32_t caller_base() { return icv(ic::IFDBG); }

// Positions and rows computed in 64 bits, so that an absurd caller index
// cannot overflow before it is found outside the range.
int64_t position_of_caller_column(int32_t c) { return static_cast<int64_t>(c) + store.first_col + caller_base() - 1; }
bool is_column_position(int64_t p) { return p >= store.first_col && p <= nseq; }

// Message 20 with the array id; the load is abandoned.
void report_no_memory(int32_t id, int32_t status) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = status;
  abandon_load();
}

// Allocates a fresh zero-filled block for id; false (after message 20 and
// abandoning the load) when it cannot be had.
bool allocate_load_array(int32_t id, int64_t words, int32_t failure_status = STATUS_INVALID_DATA) {
  if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
  const int32_t failure = allocate_array(id, array_cells[id], words > 0 ? words : 0);
  if (failure == 0) return true;
  report_no_memory(id, failure_status);
  return false;
}

// Message n with the routine, an index and a one-character item.
void report_bad_letter(int32_t n, int32_t index, char letter, const char* routine_name) {
  error_number = n;
  error_value = index;
  status_code = STATUS_REPORTED;
  const char shown = letter >= ' ' && letter <= '~' ? letter : '?';
  begin_message(n);
  insert_message_chars(routine_name, kNameChars);
  insert_message_int(index - caller_base());
  insert_message_chars(&shown, 1);
  emit_message();
}

// Message 7: argument, entry (as the caller counts it) and the bad value.
// A count, start or length that cannot describe a problem is invalid data of
// the load (status 1), like a negative row or column count.
void report_bad_count(int32_t argument, int32_t entry, int64_t value, const char* routine_name) {
  const int32_t shown = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  error_number = MSG_LOAD_BAD_COUNT;
  error_value = shown;
  status_code = STATUS_INVALID_DATA;
  begin_message(MSG_LOAD_BAD_COUNT);
  insert_message_chars(routine_name, kNameChars);
  insert_message_int(argument);
  insert_message_int(entry);
  insert_message_int(shown);
  emit_message();
}

bool present(const void* p, int32_t argument, const char* routine_name) {
  if (p != nullptr) return true;
  report_error(MSG_NULL_ARGUMENT, argument, routine_name);
  return false;
}

// The caller's index of entry k (0-based) of a per-column or per-set array.
int32_t caller_entry(int64_t k) { return static_cast<int32_t>(k + 1 - caller_base()); }

// Elements the caller gives: the sum of the lengths, or the last start.
int64_t count_given_elements(int32_t ncols, const int32_t* starts, const int32_t* lengths) {
  if (ncols <= 0) return 0;
  if (lengths != nullptr) {
    int64_t total = 0;
    for (int32_t c = 0; c < ncols; ++c) total += lengths[c];
    return total;
  }
  return static_cast<int64_t>(starts[ncols]) + caller_base() - 1;
}

// Column starts and lengths: every element range must begin at element 1 or
// later, and without lengths the starts must not decrease, so that no range
// reaches outside the elements counted.
bool check_column_ranges(const LoadArguments& call) {
  const int32_t* starts = call.starts;
  for (int32_t c = 0; c < call.ncols; ++c) {
    if (static_cast<int64_t>(starts[c]) + caller_base() < 1) {
      report_bad_count(ARG_STARTS, caller_entry(c), starts[c], routine::kLoadprob);
      return false;
    }
    if (call.lengths != nullptr) {
      if (call.lengths[c] < 0) {
        report_bad_count(ARG_LENGTHS, caller_entry(c), call.lengths[c], routine::kLoadprob);
        return false;
      }
    } else if (starts[c + 1] < starts[c]) {
      report_bad_count(ARG_STARTS, caller_entry(c + 1), starts[c + 1], routine::kLoadprob);
      return false;
    }
  }
  const int64_t total = count_given_elements(call.ncols, starts, call.lengths);
  const int64_t slots = total + icv(ic::NMXTRA) + 2 * (static_cast<int64_t>(call.nrows) + call.ncols + icv(ic::NRXTRA));
  if (total < 0 || slots > kLargestCount) {
    report_bad_count(call.lengths != nullptr ? ARG_LENGTHS : ARG_STARTS, caller_entry(call.ncols), total,
                     routine::kLoadprob);
    return false;
  }
  return true;
}

// The reals of a load, before anything is built: right-hand sides, ranges of
// R rows, costs and the matrix values given must be finite, bounds finite
// or infinite in their own direction.
bool check_linear_values(const LoadArguments& call) {
  constexpr int32_t status = STATUS_INVALID_DATA;
  const char* name = routine::kLoadprob;
  if (!check_values(call.rhs, 0, call.nrows, ValueKind::kFinite, ARG_RHS, name, status)) return false;
  for (int32_t i = 0; i < call.nrows; ++i) {
    if (call.row_types[i] == 'R' && !check_value(call.ranges[i], ValueKind::kFinite, ARG_RANGES, i, name, status))
      return false;
  }
  if (!check_values(call.objective, 0, call.ncols, ValueKind::kFinite, ARG_OBJECTIVE, name, status) ||
      !check_values(call.lower, 0, call.ncols, ValueKind::kLowerBound, ARG_LOWER, name, status) ||
      !check_values(call.upper, 0, call.ncols, ValueKind::kUpperBound, ARG_UPPER, name, status)) {
    return false;
  }
  if (count_given_elements(call.ncols, call.starts, call.lengths) <= 0) return true;
  for (int32_t c = 0; c < call.ncols; ++c) {
    const int64_t begin = static_cast<int64_t>(call.starts[c]) + caller_base() - 1;
    const int64_t end = call.lengths != nullptr ? begin + call.lengths[c]
                                                : static_cast<int64_t>(call.starts[c + 1]) + caller_base() - 1;
    if (!check_values(call.values, begin, end, ValueKind::kFinite, ARG_VALUES, name, status)) return false;
  }
  return true;
}

bool check_linear_arguments(const LoadArguments& call) {
  if (call.ncols < 0) {
    report_bad_count(ARG_NCOLS, 0, call.ncols, routine::kLoadprob);
    return false;
  }
  if (call.nrows < 0) {
    report_bad_count(ARG_NROWS, 0, call.nrows, routine::kLoadprob);
    return false;
  }
  const int64_t positions = static_cast<int64_t>(call.nrows) + icv(ic::NRXTRA) + call.ncols + icv(ic::NCXTRA);
  if (positions + kNameTableMargin > kLargestCount) {
    report_bad_count(ARG_NCOLS, 0, call.ncols, routine::kLoadprob);
    return false;
  }
  if (call.nrows > 0) {
    if (!present(call.row_types, ARG_ROW_TYPES, routine::kLoadprob)) return false;
    if (!present(call.rhs, ARG_RHS, routine::kLoadprob)) return false;
    if (call.ranges == nullptr && std::memchr(call.row_types, 'R', static_cast<size_t>(call.nrows)) != nullptr) {
      return present(call.ranges, ARG_RANGES, routine::kLoadprob);
    }
  }
  if (call.ncols > 0) {
    if (!present(call.objective, ARG_OBJECTIVE, routine::kLoadprob)) return false;
    if (!present(call.starts, ARG_STARTS, routine::kLoadprob)) return false;
    if (!present(call.lower, ARG_LOWER, routine::kLoadprob)) return false;
    if (!present(call.upper, ARG_UPPER, routine::kLoadprob)) return false;
    if (!check_column_ranges(call)) return false;
    if (count_given_elements(call.ncols, call.starts, call.lengths) > 0) {
      if (!present(call.rows, ARG_ROWS, routine::kLoadprob)) return false;
      if (!present(call.values, ARG_VALUES, routine::kLoadprob)) return false;
    }
  }
  return check_linear_values(call);
}

bool check_quadratic_arguments(const LoadArguments& call) {
  if (call.nquad < 0) {
    report_bad_count(ARG_NQUAD, 0, call.nquad, routine::kLoadqprb);
    return false;
  }
  if (call.nquad == 0) return true;
  return present(call.quad_col1, ARG_QUAD_COL1, routine::kLoadqprb) &&
         present(call.quad_col2, ARG_QUAD_COL2, routine::kLoadqprb) &&
         present(call.quad_values, ARG_QUAD_VALUES, routine::kLoadqprb) &&
         check_values(call.quad_values, 0, call.nquad, ValueKind::kFinite, ARG_QUAD_VALUES, routine::kLoadqprb,
                      STATUS_INVALID_DATA);
}

bool check_global_arguments(const LoadArguments& call) {
  const int32_t base = call.quadratic ? kFirstGlobalArgumentAfterQuadratic : kFirstGlobalArgument;
  if (call.nentities < 0) {
    report_bad_count(base + GARG_NENTITIES, 0, call.nentities, routine::kLdglobal);
    return false;
  }
  if (call.nsets < 0) {
    report_bad_count(base + GARG_NSETS, 0, call.nsets, routine::kLdglobal);
    return false;
  }
  if (static_cast<int64_t>(call.nentities) + call.nsets + icv(ic::NGXTRA) > kLargestCount) {
    report_bad_count(base + GARG_NENTITIES, 0, call.nentities, routine::kLdglobal);
    return false;
  }
  if (call.nentities > 0) {
    if (!present(call.entity_types, base + GARG_ENTITY_TYPES, routine::kLdglobal)) return false;
    if (!present(call.entity_columns, base + GARG_ENTITY_COLUMNS, routine::kLdglobal)) return false;
    // A partial integer needs its limit: without the limits array there is
    // nothing to read it from.
    if (call.entity_limits == nullptr) {
      for (int32_t i = 0; i < call.nentities; ++i) {
        if (call.entity_types[i] != 'P') continue;
        report_bad_letter(MSG_LOAD_BAD_ENTITY_TYPE, i + 1, 'P', routine::kLdglobal);
        return false;
      }
    } else {
      // The limits of semi-continuous, partial-integer and R entities are read.
      for (int32_t i = 0; i < call.nentities; ++i) {
        const char t = call.entity_types[i];
        if ((t == 'S' || t == 'P' || t == 'R') &&
            !check_value(call.entity_limits[i], ValueKind::kFinite, base + GARG_ENTITY_LIMITS, i, routine::kLdglobal,
                         STATUS_INVALID_DATA)) {
          return false;
        }
      }
    }
  }
  if (call.nsets == 0) return true;
  if (!present(call.set_types, base + GARG_SET_TYPES, routine::kLdglobal)) return false;
  if (!present(call.set_starts, base + GARG_SET_STARTS, routine::kLdglobal)) return false;
  const int32_t* starts = call.set_starts;
  if (static_cast<int64_t>(starts[0]) + caller_base() < 1) {
    report_bad_count(base + GARG_SET_STARTS, caller_entry(0), starts[0], routine::kLdglobal);
    return false;
  }
  for (int32_t k = 1; k <= call.nsets; ++k) {
    if (starts[k] < starts[k - 1]) {
      report_bad_count(base + GARG_SET_STARTS, caller_entry(k), starts[k], routine::kLdglobal);
      return false;
    }
  }
  const int64_t members = static_cast<int64_t>(starts[call.nsets]) + caller_base() - 1;
  if (members > kLargestCount) {
    report_bad_count(base + GARG_SET_STARTS, caller_entry(call.nsets), members, routine::kLdglobal);
    return false;
  }
  if (members > 0) {
    if (!present(call.set_columns, base + GARG_SET_COLUMNS, routine::kLdglobal)) return false;
    if (!present(call.set_refs, base + GARG_SET_REFS, routine::kLdglobal)) return false;
    // The members are sorted by their reference values.
    if (!check_values(call.set_refs, 0, members, ValueKind::kFinite, base + GARG_SET_REFS, routine::kLdglobal,
                      STATUS_INVALID_DATA)) {
      return false;
    }
  }
  return true;
}

// The old problem goes before the new one is built; its global-search work
// files are closed while its flags still say whether to keep them.
void discard_current_problem() {
  delete_global_work_files();
  abandon_load();
  no_op_hook(1);
  global_search_started = 0;
}

// Letters V, then the position's digits at the end: VVVVVVV1, VVVVVV12.
void write_default_name(int32_t position) {
  char* name = position_name(position);
  const int32_t length = name_words * kNameChars;
  std::memset(name, 'V', static_cast<size_t>(length));
  int32_t k = length;
  for (int32_t n = position; n > 0 && k > 0; n /= 10) name[--k] = static_cast<char>('0' + n % 10);
}

void set_character_attribute(int32_t n, const char* text, size_t length) {
  char* attribute = character_attributes[n - 3000];
  std::memset(attribute, ' ', kNameChars);
  std::memcpy(attribute, text, std::min<size_t>(length, kNameChars));
}

// The matrix name is the stem of the problem name after its last directory
// separator (either kind), at most 8 characters.
void set_problem_name_attributes() {
  const std::string stem = get_problem_name();
  const size_t separator = stem.find_last_of("/\\");
  const std::string base = separator == std::string::npos ? stem : stem.substr(separator + 1);
  set_character_attribute(3001, base.data(), base.size());
  set_character_attribute(3002, kBoundSetName, kNameChars);
  set_character_attribute(3003, "", 0);
  set_character_attribute(3004, kRhsSetName, kNameChars);
  set_character_attribute(3005, "", 0);
}

void set_row_slack(int32_t i, uint32_t status, double lower_bound, double upper_bound) {
  int_array(ARR_POS_STATUS)[i] = static_cast<int32_t>(status | PS_BASIC);
  real_array(ARR_LOWER)[i] = lower_bound;
  real_array(ARR_UPPER)[i] = upper_bound;
  int_array(ARR_BASIS_HEADER)[i] = i;
}

// Slack bounds from the row type: activity + slack = rhs.
void load_rows(const double* rhs, const double* ranges) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> work = real_array(ARR_WORK_VECTOR);
  for (int32_t i = 1; i <= nrow + spare_rows_left; ++i) write_default_name(i);
  for (int32_t i = 1; i <= nrow; ++i) {
    switch (row_type[i]) {
      case ROW_N:
        set_row_slack(i, PS_FREE, -kInfinity, kInfinity);
        break;
      case ROW_L:
        set_row_slack(i, PS_FINITE_LOWER, 0.0, kInfinity);
        break;
      case ROW_G:
        set_row_slack(i, PS_FINITE_UPPER, -kInfinity, 0.0);
        break;
      case ROW_E:
        set_row_slack(i, PS_EQUALITY_ROW, 0.0, 0.0);
        break;
      default:  // R: an L row whose slack is bounded by the range
        row_type[i] = ROW_L;
        set_row_slack(i, PS_BOTH_FINITE, 0.0, std::fabs(ranges[i - 1]));
        break;
    }
    work[i] = rhs[i - 1];
  }
  for (int32_t i = nrow + 1; i <= nrow + spare_rows_left; ++i) int_array(ARR_POS_STATUS)[i] = PS_FIXED;
}

// Returns false after message 402 (the load is then abandoned).
bool load_columns(int32_t nrows, const double* objective, const int32_t* starts, const int32_t* lengths,
                  const int32_t* rows, const double* values, const double* lower, const double* upper) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> lower_out = real_array(ARR_LOWER);
  OneBased<double> upper_out = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const bool drop_n_rows = icv(ic::IFNRW) <= 0;
  const double tolerance = dcv(dc::ZTOLDA);
  int32_t kept = 0;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t k = p - store.first_col;
    write_default_name(p);
    uint32_t word = 0;
    if (lower[k] > -kInfiniteBound) {
      lower_out[p] = lower[k];
      word |= PS_FINITE_LOWER;
    } else {
      lower_out[p] = -kInfinity;
    }
    if (upper[k] < kInfiniteBound) {
      upper_out[p] = upper[k];
      word |= PS_FINITE_UPPER;
    } else {
      upper_out[p] = kInfinity;
    }
    if ((word & PS_BOTH_FINITE) == 0) word = PS_FREE;
    status[p] = static_cast<int32_t>(word);
    cost[p] = objective[k];
    col_start[p] = kept + 1;
    const int64_t begin = static_cast<int64_t>(starts[k]) + caller_base();
    const int64_t end = lengths != nullptr ? begin + lengths[k] : static_cast<int64_t>(starts[k + 1]) + caller_base();
    for (int64_t e = begin; e < end; ++e) {
      const int64_t r = static_cast<int64_t>(rows[e - 1]) + caller_base();
      if (r < 1 || r > nrows) {
        report_error(MSG_ROW_INDEX_INVALID, rows[e - 1], routine::kLoadprob);
        abandon_load();
        return false;
      }
      // Rows past nrow are N rows that IFNRW < 0 left uncounted.
      if (r > nrow) continue;
      if (drop_n_rows && row_type[r] == ROW_N) continue;
      if (std::fabs(values[e - 1]) < tolerance) continue;
      ++kept;
      elem_row[kept] = static_cast<int32_t>(r);
      elem_value[kept] = values[e - 1];
    }
  }
  col_start[nseq + 1] = kept + 1;
  nelem = kept;
  return true;
}

double inward_integer(double value, bool lower_side) {
  const double intmax = icv(ic::INTMAX);
  if (lower_side) {
    if (value < -intmax) return -intmax;
    return std::min(std::ceil(value - dcv(dc::ZTOLIS)), intmax);
  }
  if (value > intmax) return intmax;
  return std::max(std::floor(value + dcv(dc::ZTOLIS)), -intmax);
}

// Limit of a partial integer in the entity word (limit x 16 + 4).
int32_t partial_integer_word(double limit) {
  constexpr double kLargestLimit = (INT32_MAX - ENT_PARTIAL_INTEGER) / 16;
  double rounded = std::floor(limit + dcv(dc::ZTOLIS));
  if (!(rounded >= 0.0)) rounded = 0.0;
  rounded = std::min(rounded, kLargestLimit);
  return static_cast<int32_t>(rounded) * 16 + ENT_PARTIAL_INTEGER;
}

// Set k's name: SS, then k in six characters whose leading blanks are V.
void write_set_name(int32_t k) {
  char* name = name_array(ARR_SET_NAME) + static_cast<int64_t>(k - 1) * kNameChars;
  std::memcpy(name, "SSVVVVVV", kNameChars);
  int32_t at = kNameChars;
  for (int32_t n = k; n > 0 && at > 2; n /= 10) name[--at] = static_cast<char>('0' + n % 10);
}

// Returns false after message 405 (the load is then abandoned).
bool load_sets(int32_t sets, const int32_t* set_starts, const int32_t* set_columns, const double* set_refs) {
  OneBased<int32_t> start = int_array(ARR_SET_START);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
  OneBased<double> member_upper = real_array(ARR_SET_MEMBER_UPPER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t k = 1; k <= sets; ++k) {
    write_set_name(k);
    start[k] = nsosm;
    entity_column[k] = k;
    const int64_t begin = static_cast<int64_t>(set_starts[k - 1]) + caller_base();
    const int64_t end = static_cast<int64_t>(set_starts[k]) + caller_base();
    for (int64_t e = begin; e < end; ++e) {
      const int64_t p = position_of_caller_column(set_columns[e - 1]);
      if (!is_column_position(p)) {
        report_error(MSG_COLUMN_INDEX_INVALID, set_columns[e - 1], routine::kLdglobal);
        abandon_load();
        return false;
      }
      ++nsosm;
      member_column[nsosm] = static_cast<int32_t>(p);
      member_ref[nsosm] = set_refs[e - 1];
      member_upper[nsosm] = upper[p];
    }
  }
  if (sets > 0) start[sets + 1] = nsosm;
  sort_sos_members();
  return true;
}

// One entity column, entered as entity number nglent + 1 with the type the
// caller gave for entity i; a column given before is reported and skipped.
void load_entity_column(int32_t i, int32_t p, const double* limits) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if ((status[p] & PS_ENTITY) != 0) {
    begin_message(MSG_LOAD_DUPLICATE_ENTITY);
    insert_message_name8(position_name(p));
    emit_message();
    return;
  }
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<double> limit_out = real_array(ARR_SEMICONT_LIMIT);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  // Skipped duplicates leave the entity numbers behind the caller's, so the
  // type is read at the caller's entry and moved down with the entity.
  const int32_t type = entity_type[nsets + i];
  const double limit = limits != nullptr ? limits[i - 1] : 1.0;
  ++nglent;
  entity_type[nglent] = type;
  int_array(ARR_ENTITY_COLUMN)[nglent] = p;
  uint32_t word = static_cast<uint32_t>(status[p]) | PS_ENTITY;
  switch (type) {
    case -1:  // R: integer and semi-continuous
      entity_type[nglent] = ENT_INTEGER;
      word |= PS_SEMICONTINUOUS;
      limit_out[nglent] = limits != nullptr ? std::trunc(limit + 1.0 - dcv(dc::ZTOLIS)) : 1.0;
      [[fallthrough]];
    case ENT_INTEGER:
      word |= PS_INTEGER;
      upper[p] = round_integer_upper(upper[p]);
      lower[p] = round_integer_lower(lower[p]);
      break;
    case ENT_SEMICONTINUOUS:
      word |= PS_SEMICONTINUOUS;
      limit_out[nglent] = limit;
      break;
    case ENT_BINARY:
      if (upper[p] > 1.0) upper[p] = 1.0;
      word = (word | PS_BINARY | PS_FINITE_UPPER) & ~static_cast<uint32_t>(PS_FREE);
      break;
    default:  // P
      entity_type[nglent] = partial_integer_word(limit);
      word |= PS_PARTIAL_INTEGER;
      break;
  }
  status[p] = static_cast<int32_t>(word);
}

}  // namespace

double round_integer_lower(double lower) { return inward_integer(lower, true); }
double round_integer_upper(double upper) { return inward_integer(upper, false); }

void abandon_load() {
  // Through their owners first, so that their bookkeeping forgets the blocks.
  free_factor_arrays();
  // The factor, the simplex state and every analysis result belong to the
  // problem they were made for.
  reset_solver_state();
  if ((problem_flags & PF_WORK_ARRAYS) != 0) free_solver_work_arrays();
  free_problem_registry(current_slot);
  problem_state = 0;
  problem_flags = 0;
  nrow = 0;
  nseq = 0;
  nglent = 0;
  nsets = 0;
  nsosm = 0;
  nelem = 0;
  nqelem = 0;
  spare_rows_left = 0;
  spare_cols_left = 0;
  spare_elems_left = 0;
  spare_entities_left = 0;
  store.first_col = 1;
  store.elem_space = 0;
  recurse_entry_count = 0;
  objective_name_row = 0;
}

void load_row_types(int32_t rows, const char* row_types) {
  begin_body();
  discard_current_problem();
  if (!allocate_load_array(ARR_ROW_TYPE, words_for_ints(static_cast<int64_t>(rows) + icv(ic::NRXTRA)))) return;
  int32_t counted = rows;
  if (icv(ic::IFNRW) < 0) {
    while (counted > 0 && row_types[counted - 1] == 'N') --counted;
  }
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= counted; ++i) {
    switch (row_types[i - 1]) {
      case 'N':
        row_type[i] = ROW_N;
        break;
      case 'L':
        row_type[i] = ROW_L;
        break;
      case 'G':
        row_type[i] = ROW_G;
        break;
      case 'E':
        row_type[i] = ROW_E;
        break;
      case 'R':
        row_type[i] = ROW_R;
        break;
      default:
        report_bad_letter(MSG_LOAD_BAD_ROW_TYPE, i, row_types[i - 1], routine::kLoadprob);
        abandon_load();
        return;
    }
  }
  nrow = counted;
}

void load_problem_arrays(int32_t ncols, int32_t nrows, const double* rhs, const double* ranges,
                         const double* objective, const int32_t* starts, const int32_t* lengths, const int32_t* rows,
                         const double* values, const double* lower, const double* upper) {
  problem_flags = 0;
  int_attribute(ATTR_INTEGER_SOLUTIONS) = 0;
  int_attribute(ATTR_OPTIMISER_1029) = 0;
  nqelem = 0;
  row_classes_available = 0;
  name_words = words_per_name(icv(ic::NAMLEN));

  const int64_t given = count_given_elements(ncols, starts, lengths);
  const int64_t row_positions = static_cast<int64_t>(nrows) + icv(ic::NRXTRA);
  const int64_t positions = row_positions + ncols;
  // Uncounted N rows (IFNRW < 0) become spare rows, so first_col stays
  // nrow + spare_rows_left + 1.
  spare_rows_left = static_cast<int32_t>(row_positions - nrow);
  spare_cols_left = icv(ic::NCXTRA);
  spare_elems_left = icv(ic::NMXTRA);
  store.elem_space = given + icv(ic::NMXTRA);
  store.first_col = static_cast<int32_t>(row_positions + 1);
  nseq = static_cast<int32_t>(positions);
  nsets = 0;
  nglent = 0;
  nsosm = 0;
  recurse_entry_count = 0;
  file_quadratic_entry_count = 0;
  store.unpresolvable_count = 0;
  if (nrow < 0 || ncols < 0 || given < 0 || positions + icv(ic::NCXTRA) + kNameTableMargin > kLargestCount) {
    report_bad_count(ARG_NCOLS, 0, ncols, routine::kLoadprob);
    abandon_load();
    return;
  }
  nelem = static_cast<int32_t>(given);

  set_problem_name_attributes();
  report_problem_name();

  const int64_t position_slots = positions + icv(ic::NCXTRA);
  const int64_t element_slots = 2 * positions + store.elem_space;
  const int64_t name_slots = position_slots + kNameTableMargin;
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_WORK_VECTOR, words_for_reals(row_positions)},
      {ARR_UPPER, words_for_reals(position_slots)},
      {ARR_OBJECTIVE, words_for_reals(position_slots)},
      {ARR_COL_START, words_for_ints(position_slots + 1)},
      {ARR_POS_STATUS, words_for_ints(position_slots)},
      {ARR_BASIC_UPPER, words_for_reals(row_positions)},
      {ARR_BASIS_HEADER, words_for_ints(row_positions)},
      {ARR_ELEM_ROW, words_for_ints(element_slots)},
      {ARR_ELEM_VALUE, words_for_reals(element_slots)},
      {ARR_LOWER, words_for_reals(position_slots)},
      {ARR_NAME_TABLE, name_slots * name_words * (kNameChars / 4)},
  };
  for (const auto& block : blocks) {
    if (!allocate_load_array(block.id, block.words)) return;
  }
  name_hash_size = static_cast<int32_t>(name_slots);

  store.objective_row = -2;
  dcv(kObjectiveConstantSlot) = 0.0;
  dcv(kSecondObjectiveConstantSlot) = 0.0;
  // A fresh problem carries no objective scale yet; the entity loader's
  // pseudo costs are taken relative to it.
  dcv(kObjectiveScaleSlot) = 1.0;

  load_rows(rhs, ranges);
  if (!load_columns(nrows, objective, starts, lengths, rows, values, lower, upper)) return;
  icv(ic::IFMEM) = 1;
}

void loadqprb(int32_t count, const int32_t* first, const int32_t* second, const double* values) {
  icv(ic::M_Q) = count;
  const int64_t start_words = words_for_ints(static_cast<int64_t>(nseq) + icv(ic::NCXTRA) + 1);
  const int64_t entries = 2 * static_cast<int64_t>(count);
  if (!allocate_load_array(ARR_QUAD_UPPER_START, start_words, STATUS_REPORTED) ||
      !allocate_load_array(ARR_QUAD_LOWER_START, start_words, STATUS_REPORTED) ||
      !allocate_load_array(ARR_QUAD_INDEX, words_for_ints(entries), STATUS_REPORTED) ||
      !allocate_load_array(ARR_QUAD_VALUES, words_for_reals(entries), STATUS_REPORTED)) {
    return;
  }
  void* first_block = nullptr;
  if (allocate_array_keep_old(0, first_block, words_for_ints(entries)) != 0) {
    report_no_memory(0, STATUS_REPORTED);
    return;
  }
  int32_t* lo = static_cast<int32_t*>(first_block);
  int32_t* hi = int_array(ARR_QUAD_INDEX).data();
  double* q = real_array(ARR_QUAD_VALUES).data();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double tolerance = dcv(dc::ZTOLDA);

  int32_t kept = 0;
  bool failed = false;
  for (int32_t t = 0; t < count && !failed; ++t) {
    const int64_t a = position_of_caller_column(first[t]);
    const int64_t b = position_of_caller_column(second[t]);
    if (!is_column_position(a) || !is_column_position(b)) {
      report_error(MSG_COLUMN_INDEX_INVALID, is_column_position(a) ? second[t] : first[t], routine::kLoadqprb);
      failed = true;
      break;
    }
    if (std::fabs(values[t]) <= tolerance) continue;
    status[a] |= PS_QUADRATIC;
    status[b] |= PS_QUADRATIC;
    lo[kept] = static_cast<int32_t>(std::min(a, b));
    hi[kept] = static_cast<int32_t>(std::max(a, b));
    q[kept] = values[t];
    ++kept;
  }
  if (!failed) {
    sort_index_pairs_with_values(lo, hi, q, kept);
    for (int32_t t = 1; t < kept; ++t) {
      if (lo[t] != lo[t - 1] || hi[t] != hi[t - 1]) continue;
      error_number = MSG_LOAD_DUPLICATE_QUADRATIC;
      error_value = col_to_caller(lo[t]);
      status_code = STATUS_REPORTED;
      begin_message(MSG_LOAD_DUPLICATE_QUADRATIC);
      insert_message_chars(routine::kLoadqprb, kNameChars);
      insert_message_int(col_to_caller(lo[t]));
      insert_message_int(col_to_caller(hi[t]));
      emit_message();
      failed = true;
      break;
    }
  }
  if (failed) {
    free_array(0, first_block);
    abandon_load();
    return;
  }

  // Upper lists: the sorted triplets themselves, entries 1..kept.
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  int32_t t = 0;
  for (int32_t j = store.first_col; j <= nseq + 1; ++j) {
    while (t < kept && lo[t] < j) ++t;
    upper_start[j] = t + 1;
  }
  // Lower lists after them: counts per column at entry j + 1, turned into
  // starts shifted one place, so that the fill leaves entry j at the start
  // of column j. The sorted order makes every lower list increase in i.
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  for (int32_t k = 0; k < kept; ++k) {
    if (hi[k] > lo[k]) ++lower_start[hi[k] + 1];
  }
  int32_t next = kept + 1;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t column_count = lower_start[j + 1];
    lower_start[j + 1] = next;
    next += column_count;
  }
  lower_start[store.first_col] = kept + 1;
  for (int32_t k = 0; k < kept; ++k) {
    if (hi[k] <= lo[k]) continue;
    const int32_t slot = lower_start[hi[k] + 1]++;
    hi[slot - 1] = lo[k];
    q[slot - 1] = q[k];
  }
  nqelem = next - 1;
  free_array(0, first_block);
}

void load_entity_types(int32_t nentities, int32_t sets, const char* entity_types, const char* set_types) {
  const int64_t slots = static_cast<int64_t>(nentities) + sets + icv(ic::NGXTRA);
  if (!allocate_load_array(ARR_ENTITY_TYPE, words_for_ints(slots))) return;
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  for (int32_t k = 1; k <= sets; ++k) {
    const char c = set_types[k - 1];
    if (c != '1' && c != '2') {
      report_bad_letter(MSG_LOAD_BAD_SET_TYPE, k, c, routine::kLdglobal);
      abandon_load();
      return;
    }
    entity_type[k] = c == '1' ? ENT_SET1 : ENT_SET2;
  }
  for (int32_t i = 1; i <= nentities; ++i) {
    int32_t type = 0;
    switch (entity_types[i - 1]) {
      case 'I':
        type = ENT_INTEGER;
        break;
      case 'S':
        type = ENT_SEMICONTINUOUS;
        break;
      case 'B':
        type = ENT_BINARY;
        break;
      case 'P':
        type = ENT_PARTIAL_INTEGER;
        break;
      case 'R':
        type = -1;  // made integer with a limit by load_global_entities
        break;
      default:
        report_bad_letter(MSG_LOAD_BAD_ENTITY_TYPE, i, entity_types[i - 1], routine::kLdglobal);
        abandon_load();
        return;
    }
    entity_type[sets + i] = type;
  }
}

void load_global_entities(int32_t nentities, int32_t sets, const int32_t* entity_columns, const double* limits,
                          const int32_t* set_starts, const int32_t* set_columns, const double* set_refs) {
  int_attribute(ATTR_INTEGER_SOLUTIONS) = 0;
  int_attribute(ATTR_OPTIMISER_1029) = 0;
  nsets = sets;
  nsosm = 0;
  nglent = nentities + sets;
  row_classes_available = 0;
  spare_entities_left = icv(ic::NGXTRA);
  const int64_t members = sets > 0 ? static_cast<int64_t>(set_starts[sets]) + caller_base() - 1 : 0;
  const int64_t entity_slots = static_cast<int64_t>(nglent) + icv(ic::NGXTRA);

  // The per-entity reals get the spare slots too: an entity added later
  // into a spare slot writes its limit there.
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_SET_WORD, words_for_ints(sets)},
      {ARR_SET_MEMBER_COLUMN, words_for_ints(members)},
      {ARR_SET_MEMBER_UPPER, words_for_reals(members)},
      {ARR_SET_MEMBER_REF, words_for_reals(members)},
      {ARR_ENTITY_COLUMN, words_for_ints(entity_slots)},
      {ARR_SET_NAME, static_cast<int64_t>(sets) * (kNameChars / 4)},
      {ARR_SEMICONT_LIMIT, words_for_reals(entity_slots)},
      {ARR_SEMICONT_UPPER, words_for_reals(entity_slots)},
  };
  for (const auto& block : blocks) {
    if (!allocate_load_array(block.id, block.words)) return;
  }
  if (sets > 0 && !allocate_load_array(ARR_SET_START, words_for_ints(static_cast<int64_t>(sets) + 1))) return;
  if (!load_sets(sets, set_starts, set_columns, set_refs)) return;

  nglent = nsets;
  for (int32_t i = 1; i <= nentities; ++i) {
    const int64_t p = position_of_caller_column(entity_columns[i - 1]);
    if (!is_column_position(p)) {
      report_error(MSG_COLUMN_INDEX_INVALID, entity_columns[i - 1], routine::kLdglobal);
      abandon_load();
      return;
    }
    load_entity_column(i, static_cast<int32_t>(p), limits);
  }
  original_problem.presolve_nglent = nglent;
  original_problem.presolve_nsets = nsets;
  original_problem.presolve_nsosm = nsosm;

  const int64_t slots = static_cast<int64_t>(nglent) + icv(ic::NGXTRA);
  if (!allocate_load_array(ARR_DIRECTIVE_WORD, words_for_ints(slots)) ||
      !allocate_load_array(ARR_PSEUDO_COST_DOWN, slots) || !allocate_load_array(ARR_PSEUDO_COST_UP, slots)) {
    return;
  }
  const float pseudo_cost = static_cast<float>(dcv(dc::RTOLPS) * dcv(kObjectiveScaleSlot));
  for (int32_t e = 1; e <= nglent; ++e) {
    int_array(ARR_DIRECTIVE_WORD)[e] = kDefaultDirectiveWord;
    float_array(ARR_PSEUDO_COST_DOWN)[e] = pseudo_cost;
    float_array(ARR_PSEUDO_COST_UP)[e] = pseudo_cost;
  }
}

void finish_problem_load() {
  int32_t error_count = 0;
  int32_t failure = 0;
  setup_loaded_problem(1, error_count, failure);
  if (failure > 0) {
    report_no_memory(failure, STATUS_INVALID_DATA);
    return;
  }
  if (failure < 0) {
    begin_message(MSG_LOAD_INCONSISTENT);
    emit_message();
    status_code = STATUS_REPORTED;
    abandon_load();
  } else {
    dcv(kObjectiveScaleSlot) = 1.0;
    if (error_count > icv(ic::IGNORE)) {
      status_code = STATUS_REPORTED;
      abandon_load();
    } else {
      problem_flags |= PF_LOADED;
      problem_state = 1;
      global_status = 1;
    }
  }
  end_of_call();
}

void load_problem(const LoadArguments& call) {
  begin_body();
  if (!set_problem_name(call.name)) {
    discard_current_problem();
    report_error(MSG_NAME_TOO_LONG, kProblemNameMax, routine::kLoadprob);
    return;
  }
  if (!check_linear_arguments(call) || (call.quadratic && !check_quadratic_arguments(call)) ||
      (call.global && !check_global_arguments(call))) {
    // Refused input still replaces the problem: a caller that goes on
    // after a failed load meets message 91, never the previous problem.
    const int32_t status = status_code;
    discard_current_problem();
    status_code = status;
    return;
  }
  if (call.global) {
    nrow = call.nrows;
    nseq = call.nrows + icv(ic::NRXTRA) + call.ncols;
    int_attribute(ATTR_NCOLS) = call.ncols;
    nglent = call.nentities + call.nsets;
    nelem = static_cast<int32_t>(count_given_elements(call.ncols, call.starts, call.lengths));
    size_cut_space();
  }
  load_row_types(call.nrows, call.row_types);
  if (status_code != 0) return;
  load_problem_arrays(call.ncols, call.nrows, call.rhs, call.ranges, call.objective, call.starts, call.lengths,
                      call.rows, call.values, call.lower, call.upper);
  if (status_code != 0) return;
  if (call.quadratic) {
    loadqprb(call.nquad, call.quad_col1, call.quad_col2, call.quad_values);
    if (status_code != 0) return;
  }
  if (call.global) {
    load_entity_types(call.nentities, call.nsets, call.entity_types, call.set_types);
    if (status_code != 0) return;
    load_global_entities(call.nentities, call.nsets, call.entity_columns, call.entity_limits, call.set_starts,
                         call.set_columns, call.set_refs);
    if (status_code != 0) return;
  }
  finish_problem_load();
}

}  // namespace kl
