#include "problem/cut_store.h"

#include <cmath>
#include <vector>

#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/cut_pool.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Routine names in messages are eight characters.
constexpr int32_t kRoutineNameChars = 8;
// Growth of the pool beyond doubling and the request.
constexpr int32_t kPoolGrowthMargin = 100;

int32_t sense_flag(char letter) {
  switch (letter) {
    case 'E': return CUT_SENSE_E;
    case 'G': return CUT_SENSE_G;
    case 'L': return CUT_SENSE_L;
    default: return 0;
  }
}

void report_with_int(int32_t message, int32_t value, int32_t error) {
  error_number = message;
  error_value = error;
  status_code = STATUS_REPORTED;
  begin_message(message);
  insert_message_chars(routine::kStorecut, kRoutineNameChars);
  insert_message_int(value);
}

void report_bad_sense(int32_t cut, char letter) {
  report_with_int(MSG_LOAD_BAD_ROW_TYPE, cut + 1 - icv(ic::IFDBG), cut + 1);
  const char shown = letter >= ' ' && letter <= '~' ? letter : '?';
  insert_message_chars(&shown, 1);
  emit_message();
}

void report_repeat(int32_t element, int32_t column) {
  report_with_int(MSG_INDEX_REPEATED, element, column);
  insert_message_int(column);
  emit_message();
}

void report_pool_full(int32_t message) {
  error_number = message;
  status_code = STATUS_REPORTED;
  begin_message(message);
  insert_message_chars(routine::kStorecut, kRoutineNameChars);
  emit_message();
}

// The duplicate test of one new cut against every stored record: the first
// record proportional to it with a positive factor whose right-hand side
// makes it count as the same or a tighter cut, or 0.
struct NewCut {
  int32_t type;
  int32_t flags;
  int32_t length;
  int32_t key;
  double rhs;
  const int32_t* positions;  // length entries
  const double* values;
};

int32_t find_duplicate(const NewCut& cut, int32_t duplicate_mode) {
  if (duplicate_mode == 0 || cut.length == 0) return 0;
  OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> pool_values = real_array(ARR_CUT_ELEM_VALUE);
  OneBased<double> pool_rhs = real_array(ARR_CUT_RHS);
  const double tolerance = dcv(dc::ZTOLDA);
  const int32_t records = icv(ic::MXCPOL) - search_record.saved_bound_count;
  for (int32_t r = 1; r <= records; ++r) {
    if (cut_record_field(r, CUT_FIELD_FIRST) <= 0) continue;
    if (cut_record_field(r, CUT_FIELD_KEY) != cut.key || cut_record_field(r, CUT_FIELD_LENGTH) != cut.length ||
        (cut_record_field(r, CUT_FIELD_FLAGS) & kCutMatchFlags) != (cut.flags & kCutMatchFlags))
      continue;
    const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
    const double a1 = std::fabs(cut.values[0]);
    const double b1 = std::fabs(pool_values[first]);
    bool proportional = true;
    for (int32_t k = 0; k < cut.length && proportional; ++k) {
      proportional = pool_columns[first + k] == cut.positions[k] &&
                     std::fabs(a1 * pool_values[first + k] - b1 * cut.values[k]) <= tolerance;
    }
    if (!proportional) continue;
    const double a = a1 * pool_rhs[r];
    const double b = b1 * cut.rhs;
    const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
    bool duplicate = false;
    if (cut_record_field(r, CUT_FIELD_TYPE) == cut.type) {
      duplicate = std::fabs(a - b) <= tolerance ||
                  (duplicate_mode == 1 && ((flags == CUT_SENSE_L && a < b) || (flags == CUT_SENSE_G && a > b)));
    } else if (duplicate_mode == 2) {
      duplicate = (flags == CUT_SENSE_L && a <= b + tolerance) || (flags == CUT_SENSE_G && a >= b - tolerance);
    }
    if (duplicate) return r;
  }
  return 0;
}

// The pool exists only once a problem with entities was loaded: a first
// cut creates it.
bool pool_exists() {
  return array_cells[ARR_CUT_RECORD] != nullptr && array_cells[ARR_CUT_RHS] != nullptr &&
         array_cells[ARR_CUT_ELEM_COLUMN] != nullptr && array_cells[ARR_CUT_ELEM_VALUE] != nullptr;
}

}  // namespace

int32_t grow_cut_pool(int32_t which, int32_t need) {
  if (which == 1) {
    const int64_t old_capacity = pool_exists() ? icv(ic::MXCPEL) : 0;
    const int64_t capacity = 2 * old_capacity + need + kPoolGrowthMargin;
    if (capacity > INT32_MAX) return ARR_CUT_ELEM_COLUMN;
    if (allocate_or_grow_array(ARR_CUT_ELEM_COLUMN, array_cells[ARR_CUT_ELEM_COLUMN], words_for_ints(capacity)) != 0)
      return ARR_CUT_ELEM_COLUMN;
    if (allocate_or_grow_array(ARR_CUT_ELEM_VALUE, array_cells[ARR_CUT_ELEM_VALUE], words_for_reals(capacity)) != 0)
      return ARR_CUT_ELEM_VALUE;
    icv(ic::MXCPEL) = static_cast<int32_t>(capacity);
    return 0;
  }
  const bool existed = pool_exists();
  const int32_t old_records = existed ? icv(ic::MXCPOL) : 0;
  const int64_t records = 2 * static_cast<int64_t>(old_records) + need + kPoolGrowthMargin;
  if (records * kCutRecordWords > INT32_MAX) return ARR_CUT_RECORD;
  if (!existed) {
    // A problem without entities has no pool yet: its other arrays come too.
    for (const int32_t id : {ARR_CUT_ELEM_COLUMN, ARR_CUT_ELEM_VALUE})
      if (array_cells[id] == nullptr && allocate_array(id, array_cells[id], 0) != 0) return id;
  }
  if (allocate_or_grow_array(ARR_CUT_RECORD, array_cells[ARR_CUT_RECORD], kCutRecordWords * records) != 0)
    return ARR_CUT_RECORD;
  if (allocate_or_grow_array(ARR_CUT_RHS, array_cells[ARR_CUT_RHS], words_for_reals(records)) != 0)
    return ARR_CUT_RHS;
  if (!existed) {
    icv(ic::MXCPEL) = 0;
    search_record.stored_cut_count = 0;
    search_record.pool_elements_used = 0;
    search_record.saved_bound_count = 0;
    search_record.pool_free_head = 0;
  }
  const int32_t new_records = static_cast<int32_t>(records);
  const int32_t saved = search_record.saved_bound_count;
  OneBased<double> rhs = real_array(ARR_CUT_RHS);
  // The saved-bound records keep their distance from the top.
  for (int32_t k = 0; k < saved; ++k) {
    const int32_t from = old_records - k;
    const int32_t to = new_records - k;
    for (int32_t f = 1; f <= kCutRecordWords; ++f) cut_record_field(to, f) = cut_record_field(from, f);
    rhs[to] = rhs[from];
  }
  const int32_t first_new = old_records - saved + 1;
  const int32_t last_new = new_records - saved;
  for (int32_t r = first_new; r <= last_new; ++r) {
    for (int32_t f = 1; f <= kCutRecordWords; ++f) cut_record_field(r, f) = 0;
    cut_record_field(r, CUT_FIELD_FLAGS) = r + 1;
    cut_record_field(r, CUT_FIELD_FIRST) = -1;
    rhs[r] = 0.0;
  }
  // An exhausted free list points past the old records, that is at the
  // first new one; an empty pool has no head yet.
  if (search_record.pool_free_head <= 0 || search_record.pool_free_head > last_new)
    search_record.pool_free_head = first_new;
  icv(ic::MXCPOL) = new_records;
  return 0;
}

void unstore_cuts(const int32_t* records, int32_t count, int32_t elements_before) {
  if (count <= 0 || !pool_exists()) return;
  OneBased<double> rhs = real_array(ARR_CUT_RHS);
  for (int32_t k = count - 1; k >= 0; --k) {
    const int32_t r = records[k];
    for (int32_t f = 1; f <= kCutRecordWords; ++f) cut_record_field(r, f) = 0;
    cut_record_field(r, CUT_FIELD_FLAGS) = search_record.pool_free_head;
    cut_record_field(r, CUT_FIELD_FIRST) = -1;
    rhs[r] = 0.0;
    search_record.pool_free_head = r;
    --search_record.stored_cut_count;
  }
  search_record.pool_elements_used = elements_before;
}

void storecut(int32_t n, int32_t duplicate_mode, const int32_t* type, const char* sense, const double* rhs,
              const int32_t* start, int32_t* index_out, const int32_t* columns, const double* coefficients,
              int32_t store_mode) {
  const int32_t base = icv(ic::IFDBG);
  const int32_t column_offset = store_mode == 0 ? store.first_col + base - 1 : 0;
  std::vector<int32_t> positions;
  std::vector<double> values;
  for (int32_t i = 0; i < n; ++i) {
    int32_t flags = sense_flag(sense[i]);
    if (flags == 0) {
      report_bad_sense(i, sense[i]);
      return;
    }
    if (store_mode == 1 || store_mode == -1) flags |= CUT_BY_LIBRARY;
    const int32_t length = start[i + 1] - start[i];
    const int32_t* given = columns + (start[i] + base - 1);
    const double* given_values = coefficients + (start[i] + base - 1);
    int32_t key = length;
    positions.assign(static_cast<size_t>(length), 0);
    values.assign(given_values, given_values + length);
    for (int32_t k = 0; k < length; ++k) {
      key += given[k];
      positions[static_cast<size_t>(k)] = given[k] + column_offset;
      for (int32_t m = 0; m < k; ++m) {
        if (given[m] != given[k]) continue;
        report_repeat(start[i] + k, given[k]);
        return;
      }
    }

    NewCut cut{type[i], flags, length, key, rhs[i], positions.data(), values.data()};
    if (pool_exists()) {
      if (const int32_t found = find_duplicate(cut, duplicate_mode); found != 0) {
        index_out[i] = found - base;
        continue;
      }
    }
    if (!pool_exists() || search_record.stored_cut_count >= icv(ic::MXCPOL) - search_record.saved_bound_count) {
      if (grow_cut_pool(0, 1) != 0) {
        report_pool_full(MSG_CUT_POOL_RECORDS_FULL);
        return;
      }
    }
    if (static_cast<int64_t>(search_record.pool_elements_used) + length > icv(ic::MXCPEL)) {
      if (grow_cut_pool(1, length) != 0) {
        report_pool_full(MSG_CUT_POOL_ELEMENTS_FULL);
        return;
      }
    }
    for (int32_t k = 0; k < length; ++k) {
      const int32_t p = positions[static_cast<size_t>(k)];
      if (p < store.first_col || p > nseq) {
        report_error(MSG_COLUMN_INDEX_INVALID, given[k], routine::kStorecut);
        return;
      }
    }

    const int32_t record = search_record.pool_free_head;
    search_record.pool_free_head = cut_record_field(record, CUT_FIELD_FLAGS);
    ++search_record.stored_cut_count;
    const int32_t first = search_record.pool_elements_used + 1;
    cut_record_field(record, CUT_FIELD_TYPE) = type[i];
    cut_record_field(record, CUT_FIELD_FLAGS) = flags;
    cut_record_field(record, CUT_FIELD_FIRST) = first;
    cut_record_field(record, CUT_FIELD_LENGTH) = length;
    cut_record_field(record, CUT_FIELD_KEY) = key;
    cut_record_field(record, CUT_FIELD_REFERENCES) = 0;
    real_array(ARR_CUT_RHS)[record] = rhs[i];
    OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN);
    OneBased<double> pool_values = real_array(ARR_CUT_ELEM_VALUE);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t k = 0; k < length; ++k) {
      const int32_t p = positions[static_cast<size_t>(k)];
      double value = values[static_cast<size_t>(k)];
      // The pool holds coefficients per unit of the unscaled column.
      if (store_mode > 0) value *= scale_powers[2 * kNeutralScaleExponent - scale_exponent(status[p])];
      pool_columns[first + k] = p;
      pool_values[first + k] = value;
    }
    search_record.pool_elements_used += length;
    index_out[i] = record - base;
  }
}

}  // namespace kl
