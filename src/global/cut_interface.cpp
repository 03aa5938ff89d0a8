#include "global/cut_interface.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "global/cut_rows.h"
#include "global/node_cut_lists.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_pool.h"
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

constexpr int32_t kRoutineNameChars = 8;
constexpr int32_t kRowGrowth = 1000;
constexpr int64_t kElementGrowth = 10000;
constexpr int32_t kLowerBoundKind = 8;
constexpr int32_t kUpperBoundKind = 16;
constexpr int32_t kBoundKinds = kLowerBoundKind | kUpperBoundKind;
constexpr int32_t kSenseFlags = CUT_SENSE_E | CUT_SENSE_G | CUT_SENSE_L;

int32_t base() { return icv(ic::IFDBG); }
// A 0-based position of a caller's array as the caller counts it.
int32_t caller_position(int64_t k) { return static_cast<int32_t>(k + 1 - base()); }

bool pool_present() {
  return array_cells[ARR_CUT_RECORD] != nullptr && array_cells[ARR_CUT_RHS] != nullptr &&
         array_cells[ARR_CUT_ELEM_COLUMN] != nullptr && array_cells[ARR_CUT_ELEM_VALUE] != nullptr;
}

// Records a walk over the stored ones must reach: after a drop the stored
// records need not be 1 .. stored_cut_count, so the walks go up to the
// saved-bound records and pass over free ones.
int32_t record_limit() {
  return pool_present() ? stored_record_limit() : 0;
}

bool is_free(int32_t r) { return cut_record_field(r, CUT_FIELD_FIRST) < 0; }
bool is_bound_record(int32_t r) { return !is_free(r) && (cut_record_field(r, CUT_FIELD_FLAGS) & kBoundKinds) != 0; }
bool is_cut_record(int32_t r) {
  return !is_free(r) && (cut_record_field(r, CUT_FIELD_FLAGS) & kBoundKinds) == 0 &&
         (cut_record_field(r, CUT_FIELD_FLAGS) & kSenseFlags) != 0;
}
bool is_library_cut(int32_t r) { return is_cut_record(r) && (cut_record_field(r, CUT_FIELD_FLAGS) & CUT_BY_LIBRARY) != 0; }
bool is_caller_cut(int32_t r) { return is_cut_record(r) && !is_library_cut(r); }

void report_routine(int32_t message, const char* routine_name) {
  error_number = message;
  status_code = STATUS_REPORTED;
  begin_message(message);
  insert_message_chars(routine_name, kRoutineNameChars);
}

// Message 418: list position (as the caller counts it) and the value given.
void report_bad_record(const char* routine_name, int64_t k, int32_t value) {
  report_routine(MSG_CUT_RECORD_INVALID, routine_name);
  error_value = value;
  insert_message_int(caller_position(k));
  insert_message_int(value);
  emit_message();
}

void report_no_room(int32_t message, const char* routine_name, int64_t amount) {
  report_routine(message, routine_name);
  insert_message_int(static_cast<int32_t>(std::min<int64_t>(amount, INT32_MAX)));
  emit_message();
}

void report_bad_letter(int32_t message, const char* routine_name, int64_t k, char letter) {
  report_routine(message, routine_name);
  error_value = caller_position(k);
  const char shown = letter >= ' ' && letter <= '~' ? letter : '?';
  insert_message_int(caller_position(k));
  insert_message_chars(&shown, 1);
  emit_message();
}

int32_t sense_flag(char letter) {
  switch (letter) {
    case 'E': return CUT_SENSE_E;
    case 'G': return CUT_SENSE_G;
    case 'L': return CUT_SENSE_L;
    default: return 0;
  }
}

char sense_letter(int32_t flags) {
  if (flags & CUT_SENSE_E) return 'E';
  if (flags & CUT_SENSE_G) return 'G';
  return 'L';
}

// The pool's arrays and the cut-row list: a problem without entities has
// none until a cut arrives. False after message 20.
bool ensure_cut_arrays() {
  if (array_cells[ARR_CUT_RECORD] == nullptr) {
    if (const int32_t failed = alloc_cut_pool(); failed != 0) {
      report_error(MSG_ARRAY_NO_MEMORY, failed, "cutpool ");
      return false;
    }
    return true;
  }
  if (array_cells[ARR_CUT_ROW_LIST] == nullptr) {
    const int64_t positions = static_cast<int64_t>(nseq) + std::max(0, icv(ic::NCXTRA));
    if (allocate_array(ARR_CUT_ROW_LIST, array_cells[ARR_CUT_ROW_LIST], words_for_ints(positions)) != 0) {
      report_error(MSG_ARRAY_NO_MEMORY, ARR_CUT_ROW_LIST, "cutpool ");
      return false;
    }
  }
  return true;
}

// Starts start[0..n] of a call: entry e (as the caller counts) is array
// index e + base - 1, so every start lies at or above 1 - base and never
// falls. False after message 7.
bool check_starts(int32_t n, const int32_t* start, int32_t argument, const char* routine_name) {
  if (static_cast<int64_t>(start[0]) + base() < 1) {
    report_count_error(argument, caller_position(0), start[0], routine_name);
    return false;
  }
  for (int32_t i = 0; i < n; ++i) {
    if (start[i + 1] < start[i]) {
      report_count_error(argument, caller_position(i + 1), start[i + 1], routine_name);
      return false;
    }
  }
  return true;
}

bool count_at_least(int32_t value, int32_t minimum, int32_t argument, const char* routine_name) {
  if (value >= minimum) return true;
  report_count_error(argument, caller_position(0), value, routine_name);
  return false;
}


// Room for the rows and elements of addcut; false after 413 or 415.
bool make_room(int32_t rows, int64_t elements) {
  if (spare_rows_left < rows &&
      grow_problem_storage(spare_rows_left + rows + kRowGrowth, 0, 0, 0) != 0) {
    status_code = STATUS_OK;
    report_no_room(MSG_NO_ROW_SPACE, routine::kAddcut, rows);
    return false;
  }
  if (spare_elems_left < elements &&
      grow_problem_storage(0, 0, spare_elems_left + elements + kElementGrowth, 0) != 0) {
    status_code = STATUS_OK;
    report_no_room(MSG_NO_ELEMENT_SPACE, routine::kAddcut, elements);
    return false;
  }
  return true;
}

// Appends one checked cut as row nrow + 1, its slack basic at its own
// position; entries are (position, coefficient per unit of the unscaled
// column) in increasing position.
void append_direct_row(int32_t type, int32_t flags, double rhs, const std::vector<std::pair<int32_t, double>>& entries) {
  const int32_t p = nrow + 1;
  const CutRowShape shape = cut_row_shape(flags);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  --spare_rows_left;
  ++nrow;
  ++cut_row_count;
  int_array(ARR_CUT_ROW_LIST)[cut_row_count] = type;
  int_array(ARR_ROW_TYPE)[p] = static_cast<int32_t>(static_cast<uint32_t>(shape.type) | RF_CUT);
  status[p] = static_cast<int32_t>(shape.status | PS_BASIC);
  real_array(ARR_LOWER)[p] = shape.lower;
  real_array(ARR_UPPER)[p] = shape.upper;
  real_array(ARR_RHS)[p] = rhs;
  if (OneBased<double> work_rhs = real_array(ARR_WORK_RHS)) work_rhs[p] = rhs;
  if (OneBased<double> objective = real_array(ARR_OBJECTIVE)) objective[p] = 0.0;
  if (OneBased<double> weights = real_array(ARR_ROW_WEIGHTS)) weights[p] = 1.0;
  if (OneBased<int32_t> header = int_array(ARR_BASIS_HEADER)) header[p] = p;
  if (OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER)) basic_upper[p] = shape.upper;
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  int32_t next = copy_start[p];
  for (const auto& [q, v] : entries) {
    copy_col[next] = q;
    copy_val[next] = v * scale_powers[scale_exponent(status[q])];
    ++next;
  }
  copy_start[p + 1] = next;
  spare_elems_left -= static_cast<int32_t>(entries.size());
  nelem = next - 1;
}

// Value of every position in the caller's units (index: position).
std::vector<double> unscaled_values() {
  std::vector<double> value(static_cast<size_t>(std::max(nseq, 0)) + 1, 0.0);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t word = static_cast<uint32_t>(status[j]);
    if ((word & PS_BASIC) == 0) value[static_cast<size_t>(j)] = (word & PS_AT_UPPER) != 0 ? upper[j] : lower[j];
  }
  if (header && basic) {
    for (int32_t i = 1; i <= nrow; ++i) {
      const int32_t j = header[i];
      if (j >= store.first_col && j <= nseq) value[static_cast<size_t>(j)] = basic[i];
    }
  }
  for (int32_t j = store.first_col; j <= nseq; ++j)
    value[static_cast<size_t>(j)] *= scale_powers[scale_exponent(status[j])];
  return value;
}

// Bound in internal units: infinite beyond 5e19, else divided by 2^s.
double internal_bound(double value, int32_t position) {
  if (value <= -kInfiniteBound) return -kInfinity;
  if (value >= kInfiniteBound) return kInfinity;
  const int32_t e = scale_exponent(int_array(ARR_POS_STATUS)[position]);
  return value * scale_powers[2 * kNeutralScaleExponent - e];
}

bool has_bound_record(int32_t kind, int32_t position, int32_t limit) {
  for (int32_t r = 1; r <= limit; ++r) {
    if (!is_bound_record(r)) continue;
    if ((cut_record_field(r, CUT_FIELD_FLAGS) & kind) != 0 && cut_record_field(r, CUT_FIELD_LENGTH) == position)
      return true;
  }
  return false;
}

bool record_room() { return search_record.stored_cut_count < icv(ic::MXCPOL) - search_record.saved_bound_count; }

// A bound record of the given kind at the head of the free list.
int32_t take_bound_record(int32_t kind, int32_t position, double value) {
  const int32_t r = search_record.pool_free_head;
  search_record.pool_free_head = cut_record_field(r, CUT_FIELD_FLAGS);
  ++search_record.stored_cut_count;
  cut_record_field(r, CUT_FIELD_TYPE) = 0;
  cut_record_field(r, CUT_FIELD_FLAGS) = kind;
  cut_record_field(r, CUT_FIELD_FIRST) = 0;
  cut_record_field(r, CUT_FIELD_LENGTH) = position;
  cut_record_field(r, CUT_FIELD_KEY) = 0;
  cut_record_field(r, CUT_FIELD_REFERENCES) = 0;
  real_array(ARR_CUT_RHS)[r] = value;
  return r;
}

// Frees record r (a cut without references): it goes to the head of the
// free list and the elements after its block close the gap.
void free_cut_record(int32_t r) {
  const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
  const int32_t length = cut_record_field(r, CUT_FIELD_LENGTH);
  const int32_t used = search_record.pool_elements_used;
  if (length > 0 && first >= 1) {
    OneBased<int32_t> columns = int_array(ARR_CUT_ELEM_COLUMN);
    OneBased<double> values = real_array(ARR_CUT_ELEM_VALUE);
    for (int32_t k = first + length; k <= used; ++k) {
      columns[k - length] = columns[k];
      values[k - length] = values[k];
    }
    search_record.pool_elements_used = used - length;
    const int32_t limit = record_limit();
    for (int32_t s = 1; s <= limit; ++s) {
      if (s == r || !is_cut_record(s)) continue;
      if (cut_record_field(s, CUT_FIELD_FIRST) > first) cut_record_field(s, CUT_FIELD_FIRST) -= length;
    }
  }
  for (int32_t f = 1; f <= kCutRecordWords; ++f) cut_record_field(r, f) = 0;
  cut_record_field(r, CUT_FIELD_FLAGS) = search_record.pool_free_head;
  cut_record_field(r, CUT_FIELD_FIRST) = -1;
  real_array(ARR_CUT_RHS)[r] = 0.0;
  search_record.pool_free_head = r;
  --search_record.stored_cut_count;
}

}  // namespace

bool check_storecut_arguments(int32_t n, const int32_t* type, const char* sense, const double* rhs,
                              const int32_t* start, const int32_t* index_out, const int32_t* columns,
                              const double* coefficients) {
  if (!require_problem()) return false;
  if (!count_at_least(n, 0, 1, routine::kStorecut)) return false;
  if (n == 0) return true;
  if (!require_argument(type, 3, routine::kStorecut) || !require_argument(sense, 4, routine::kStorecut) ||
      !require_argument(rhs, 5, routine::kStorecut) || !require_argument(start, 6, routine::kStorecut) ||
      !require_argument(index_out, 7, routine::kStorecut))
    return false;
  if (!check_starts(n, start, 6, routine::kStorecut)) return false;
  if (start[n] > start[0] &&
      (!require_argument(columns, 8, routine::kStorecut) || !require_argument(coefficients, 9, routine::kStorecut)))
    return false;
  return true;
}

bool check_cut_list_arguments(int32_t count, const int32_t* list, const char* routine_name) {
  if (!require_problem()) return false;
  if (!count_at_least(count, -1, 3, routine_name)) return false;
  return count <= 0 || require_argument(list, 4, routine_name);
}

void addcut(int32_t n, const int32_t* type, const char* sense, const double* rhs, const int32_t* start,
            const int32_t* columns, const double* coefficients) {
  begin_body();
  if (!require_problem() || !count_at_least(n, 0, 1, routine::kAddcut) || n == 0) return;
  if (!require_argument(type, 2, routine::kAddcut) || !require_argument(sense, 3, routine::kAddcut) ||
      !require_argument(rhs, 4, routine::kAddcut) || !require_argument(start, 5, routine::kAddcut) ||
      !check_starts(n, start, 5, routine::kAddcut))
    return;
  const int64_t total = static_cast<int64_t>(start[n]) - start[0];
  if (total > 0 &&
      (!require_argument(columns, 6, routine::kAddcut) || !require_argument(coefficients, 7, routine::kAddcut)))
    return;
  if (!ensure_cut_arrays() || !make_room(n, total) || !make_row_copy_current()) return;
  problem_flags &= ~(PF_COLUMN_COPY | PF_SOLUTION_CURRENT);
  if (problem_flags & PF_ROW_LISTS) free_row_lists();

  const double tolerance = dcv(dc::ZTOLDA);
  int32_t added = 0;
  std::vector<std::pair<int32_t, double>> entries;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t flags = sense_flag(sense[i]);
    if (flags == 0) {
      report_bad_letter(MSG_LOAD_BAD_ROW_TYPE, routine::kAddcut, i, sense[i]);
      break;
    }
    entries.clear();
    bool bad = false;
    for (int32_t e = start[i]; e < start[i + 1] && !bad; ++e) {
      const int64_t at = static_cast<int64_t>(e) + base() - 1;
      const double a = coefficients[at];
      if (!(std::fabs(a) >= tolerance)) continue;  // tiny (or not a number): left out
      const int32_t column = columns[at];
      const int64_t p = static_cast<int64_t>(column) + store.first_col + base() - 1;
      if (p < store.first_col || p > nseq) {
        report_error(MSG_COLUMN_INDEX_INVALID, column, routine::kAddcut);
        bad = true;
        break;
      }
      for (const auto& kept : entries) {
        if (kept.first != p) continue;
        report_routine(MSG_INDEX_REPEATED, routine::kAddcut);
        error_value = column;
        insert_message_int(e);
        insert_message_int(column);
        emit_message();
        bad = true;
        break;
      }
      if (!bad) entries.emplace_back(static_cast<int32_t>(p), a);
    }
    if (bad) break;
    std::sort(entries.begin(), entries.end());
    append_direct_row(type[i], flags, rhs[i], entries);
    ++added;
  }
  search_record.cut_rows_added += added;
  if (added > 0) {
    problem_flags &= ~PF_FACTOR_VALID;
    node_factor_reusable = 0;
  }
}

void dropcut(int32_t type, int32_t rule, int32_t count, const int32_t* list) {
  begin_body();
  if (!check_cut_list_arguments(count, list, routine::kDropcut)) return;
  const int32_t limit = record_limit();
  std::vector<int32_t> records;
  if (count < 0) {
    for (int32_t r = 1; r <= limit; ++r)
      if (is_caller_cut(r)) records.push_back(r);
  } else {
    for (int32_t k = 0; k < count; ++k) {
      const int64_t r = static_cast<int64_t>(list[k]) + base();
      // Only cuts the caller stored are the caller's to free: the library's
      // own (model cuts among them) are not, nor bound records, which the
      // node cut lists name without counting references.
      if (r < 1 || r > limit || !is_caller_cut(static_cast<int32_t>(r))) {
        report_bad_record(routine::kDropcut, k, list[k]);
        return;
      }
      records.push_back(static_cast<int32_t>(r));
    }
  }
  for (const int32_t r : records) {
    if (!is_caller_cut(r)) continue;  // listed twice: freed already
    if (cut_record_field(r, CUT_FIELD_REFERENCES) != 0) continue;
    if (!cut_type_matches(cut_record_field(r, CUT_FIELD_TYPE), type, rule)) continue;
    free_cut_record(r);
  }
}

void list_lp_cuts(int32_t type, int32_t rule, int32_t* count_out, int32_t capacity, int32_t* list) {
  begin_body();
  if (!require_problem() || !require_argument(count_out, 3, "getcnlst") ||
      !count_at_least(capacity, 0, 4, "getcnlst") || (capacity > 0 && !require_argument(list, 5, "getcnlst")))
    return;
  *count_out = 0;
  if (cut_row_count <= 0 || array_cells[ARR_CUT_ROW_LIST] == nullptr) return;
  const int32_t m0 = cut_row_model_rows();
  OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const int32_t limit = record_limit();
  for (int32_t k = 1; k <= cut_row_count; ++k) {
    const int32_t entry = row_list[k];
    int32_t cut_type = entry;
    int32_t record = 0;
    if ((static_cast<uint32_t>(row_type[m0 + k]) & RF_CUT) == 0) {
      if (entry < 1 || entry > limit || !is_cut_record(entry) || is_library_cut(entry)) continue;
      record = entry;
      cut_type = cut_record_field(entry, CUT_FIELD_TYPE);
    }
    if (!cut_type_matches(cut_type, type, rule)) continue;
    ++*count_out;
    if (*count_out <= capacity) list[*count_out - 1] = record - base();
  }
}

void list_violated_pool_cuts(int32_t type, int32_t rule, double tolerance, int32_t* count_out, int32_t capacity,
                             int32_t* list, double* violation) {
  begin_body();
  if (!require_problem() || !require_argument(count_out, 4, "getcplst") ||
      !count_at_least(capacity, 0, 5, "getcplst") ||
      (capacity > 0 && (!require_argument(list, 6, "getcplst") || !require_argument(violation, 7, "getcplst"))))
    return;
  *count_out = 0;
  const int32_t limit = record_limit();
  if (search_record.stored_cut_count <= 0 || limit <= 0) return;
  const std::vector<double> value = unscaled_values();
  OneBased<int32_t> columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> coefficients = real_array(ARR_CUT_ELEM_VALUE);
  OneBased<double> rhs = real_array(ARR_CUT_RHS);
  const double epsilon = dcv(dc::ZTOLDA) + tolerance;
  for (int32_t r = 1; r <= limit; ++r) {
    if (!is_caller_cut(r) || !cut_type_matches(cut_record_field(r, CUT_FIELD_TYPE), type, rule)) continue;
    const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
    const int32_t length = cut_record_field(r, CUT_FIELD_LENGTH);
    double activity = 0.0;
    for (int32_t k = first; k < first + length; ++k) {
      const int32_t q = columns[k];
      if (q >= 1 && q <= nseq) activity += coefficients[k] * value[static_cast<size_t>(q)];
    }
    const double d = activity - rhs[r];
    const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
    const bool violated = (flags & CUT_SENSE_E) ? std::fabs(d) > epsilon
                          : (flags & CUT_SENSE_G) ? d < -epsilon
                                                   : d > epsilon;
    if (!violated) continue;
    if (*count_out < capacity) {
      list[*count_out] = r - base();
      const double lead = length > 0 ? std::fabs(coefficients[first]) : 0.0;
      violation[*count_out] = lead > 0.0 ? std::fabs(d) / lead : std::fabs(d);
    }
    ++*count_out;
  }
}

void getcuts(const int32_t* list, int32_t count, int32_t capacity, int32_t* type_out, char* sense_out,
             int32_t* start_out, int32_t* columns_out, double* coefficients_out, double* rhs_out) {
  begin_body();
  if (!require_problem() || !count_at_least(count, 0, 2, routine::kGetcuts) ||
      !count_at_least(capacity, 0, 3, routine::kGetcuts) ||
      (count > 0 && !require_argument(list, 1, routine::kGetcuts)))
    return;
  if (start_out) start_out[0] = 1 - base();
  const int32_t limit = record_limit();
  OneBased<int32_t> columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> coefficients = real_array(ARR_CUT_ELEM_VALUE);
  OneBased<double> rhs = real_array(ARR_CUT_RHS);
  int64_t written = 0;  // elements counted so far
  bool room = true;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t r64 = static_cast<int64_t>(list[i]) + base();
    if (r64 < 1 || r64 > limit || is_free(static_cast<int32_t>(r64))) {
      report_bad_record(routine::kGetcuts, i, list[i]);
      return;
    }
    const int32_t r = static_cast<int32_t>(r64);
    // The library's cuts and bound records have nothing to show: their
    // slots stay as they are and the start repeats.
    if (is_caller_cut(r)) {
      const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
      const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
      const int32_t length = cut_record_field(r, CUT_FIELD_LENGTH);
      if (type_out) type_out[i] = cut_record_field(r, CUT_FIELD_TYPE);
      if (sense_out) sense_out[i] = sense_letter(flags);
      if (rhs_out) rhs_out[i] = rhs[r];
      if (written + length > capacity) room = false;
      for (int32_t k = 0; k < length && room; ++k) {
        if (columns_out) columns_out[written + k] = col_to_caller(columns[first + k]);
        if (coefficients_out) coefficients_out[written + k] = coefficients[first + k];
      }
      written += length;
    }
    if (start_out) start_out[i + 1] = static_cast<int32_t>(std::min<int64_t>(written + 1 - base(), INT32_MAX));
  }
}

void storebnd(int32_t n, const int32_t* columns, const char* letters, const double* values, int32_t* index_out) {
  begin_body();
  if (!require_problem() || !count_at_least(n, 0, 1, routine::kStorebnd) || n == 0) return;
  if (!require_argument(columns, 2, routine::kStorebnd) || !require_argument(letters, 3, routine::kStorebnd) ||
      !require_argument(values, 4, routine::kStorebnd) || !require_argument(index_out, 5, routine::kStorebnd))
    return;
  if (!ensure_cut_arrays()) return;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t kind = letters[i] == 'L' ? kLowerBoundKind : letters[i] == 'U' ? kUpperBoundKind : 0;
    if (kind == 0) {
      report_bad_letter(MSG_CHG_BAD_BOUND_LETTER, routine::kStorebnd, i, letters[i]);
      return;
    }
    const int64_t p64 = static_cast<int64_t>(columns[i]) + store.first_col + base() - 1;
    if (p64 < store.first_col || p64 > nseq) {
      report_error(MSG_COLUMN_INDEX_INVALID, columns[i], routine::kStorebnd);
      return;
    }
    const int32_t p = static_cast<int32_t>(p64);
    const double value = internal_bound(values[i], p);
    const int32_t limit = record_limit();
    int32_t found = 0;
    for (int32_t r = 1; r <= limit && found == 0; ++r) {
      if (is_bound_record(r) && cut_record_field(r, CUT_FIELD_FLAGS) == kind &&
          cut_record_field(r, CUT_FIELD_LENGTH) == p && real_array(ARR_CUT_RHS)[r] == value)
        found = r;
    }
    if (found != 0) {
      index_out[i] = found - base();
      continue;
    }
    const bool first_of_kind = !has_bound_record(kind, p, limit);
    if (!record_room() || search_record.pool_free_head <= 0) {
      report_routine(MSG_CUT_POOL_RECORDS_FULL, routine::kStorebnd);
      emit_message();
      return;
    }
    index_out[i] = take_bound_record(kind, p, value) - base();
    if (!first_of_kind || (static_cast<uint32_t>(status[p]) & PS_ENTITY) != 0) continue;
    // The column's bound before its first record, for the node machinery
    // to restore; taken from the top of the record table.
    if (!record_room()) {
      report_routine(MSG_CUT_POOL_RECORDS_FULL, routine::kStorebnd);
      emit_message();
      return;
    }
    const int32_t s = icv(ic::MXCPOL) - search_record.saved_bound_count;
    if (!is_free(s)) {
      report_routine(MSG_CUT_POOL_RECORDS_FULL, routine::kStorebnd);
      emit_message();
      return;
    }
    // The free list must not hand out the record taken here.
    int32_t* link = &search_record.pool_free_head;
    while (*link > 0 && *link != s) link = &cut_record_field(*link, CUT_FIELD_FLAGS);
    if (*link == s) *link = cut_record_field(s, CUT_FIELD_FLAGS);
    ++search_record.saved_bound_count;
    cut_record_field(s, CUT_FIELD_TYPE) = 0;
    cut_record_field(s, CUT_FIELD_FLAGS) = kind;
    cut_record_field(s, CUT_FIELD_FIRST) = 0;
    cut_record_field(s, CUT_FIELD_LENGTH) = p;
    cut_record_field(s, CUT_FIELD_KEY) = 0;
    cut_record_field(s, CUT_FIELD_REFERENCES) = 0;
    real_array(ARR_CUT_RHS)[s] = kind == kLowerBoundKind ? real_array(ARR_LOWER)[p] : real_array(ARR_UPPER)[p];
  }
}

void brnchcut(int32_t n, const int32_t* list) {
  begin_body();
  if (!require_problem() || !count_at_least(n, 0, 1, routine::kBrnchcut) || n == 0) return;
  if (!require_argument(list, 2, routine::kBrnchcut) || !ensure_cut_arrays()) return;
  const int32_t limit = record_limit();
  OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
  for (int32_t i = 0; i < n; ++i) {
    const int64_t r64 = static_cast<int64_t>(list[i]) + base();
    if (r64 < 1 || r64 > limit || is_free(static_cast<int32_t>(r64))) {
      report_bad_record(routine::kBrnchcut, i, list[i]);
      return;
    }
    const int32_t r = static_cast<int32_t>(r64);
    if (is_bound_record(r)) {
      // Bound entries fill the list from its top; they must stay clear of
      // the cut rows and of the cuts pending at the bottom.
      const int32_t at = nseq - search_record.branch_bound_count;
      if (at <= cut_row_count + static_cast<int32_t>(pending_branch_cuts.size())) {
        report_no_room(MSG_NO_ROW_SPACE, routine::kBrnchcut, 1);
        return;
      }
      row_list[at] = r;
      ++search_record.branch_bound_count;
      ++attached_branch_bounds;
      node_cut_list_state.cut_rows_changed = 1;
      continue;
    }
    if (!is_cut_record(r)) {
      report_bad_record(routine::kBrnchcut, i, list[i]);
      return;
    }
    // A pending cut becomes a row of the children: it needs a spare row,
    // whose slack starts basic.
    const int32_t pending = static_cast<int32_t>(pending_branch_cuts.size()) + 1;
    if (pending > spare_rows_left) {
      report_no_room(MSG_NO_ROW_SPACE, routine::kBrnchcut, 1);
      return;
    }
    pending_branch_cuts.push_back(r);
    node_cut_list_state.cut_rows_changed = 1;
    int_array(ARR_POS_STATUS)[nrow + pending] = PS_BASIC;
  }
}

void getest(int32_t column, double* up, double* down) {
  begin_body();
  if (!require_problem() || !require_argument(up, 2, routine::kGetest) ||
      !require_argument(down, 3, routine::kGetest))
    return;
  const int64_t p64 = static_cast<int64_t>(column) + store.first_col + base() - 1;
  if (p64 < store.first_col || p64 > nseq) {
    report_error(MSG_COLUMN_INDEX_INVALID, column, routine::kGetest);
    return;
  }
  if (!make_column_copy_current()) return;
  const int32_t j = static_cast<int32_t>(p64);
  OneBased<float> prices = float_array(ARR_ROW_PRICES);
  // Prices left for fewer rows than the LP has now are no prices of it.
  if (prices && block_words(array_cells[ARR_ROW_PRICES]) < 2 * static_cast<int64_t>(nrow)) prices = OneBased<float>(nullptr);
  const float cost = static_cast<float>(dcv(dc::SENSE_FACTOR) * real_array(ARR_OBJECTIVE)[j]);
  float rate_up = std::max(cost, 0.0f);
  float rate_down = std::min(cost, 0.0f);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  // Without prices (no duals computed yet) only the cost term is known.
  if (prices) {
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const int32_t r = row[k];
      if (r <= 0 || r > nrow) continue;
      const float a = static_cast<float>(value[k]);
      rate_up += a * (a >= 0.0f ? prices[r] : prices[nrow + r]);
      rate_down += a * (a >= 0.0f ? prices[nrow + r] : prices[r]);
    }
  }
  *up = rate_up;
  *down = -rate_down;
}

}  // namespace kl
