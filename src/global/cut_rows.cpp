#include "global/cut_rows.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

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
// Growth of the storage when a cut finds no spare row or elements.
constexpr int32_t kCutRowGrowth = 1001;
constexpr int64_t kCutElementGrowth = 10000;
// Flags of a bound record (a bound change, no cut).
constexpr int32_t kBoundRecordFlags = 8 | 16;
constexpr int32_t kSenseFlags = CUT_SENSE_E | CUT_SENSE_G | CUT_SENSE_L;

// Errors of loadcut and delcut: the message only when the caller is to see
// it, the error number and status always.
void fail(int32_t message, const char* routine_name, bool with_message) {
  error_number = message;
  status_code = STATUS_REPORTED;
  if (!with_message) return;
  begin_message(message);
  insert_message_chars(routine_name, kRoutineNameChars);
  emit_message();
}

void fail_entry(int32_t message, const char* routine_name, int32_t entry, int32_t value, bool with_message) {
  error_number = message;
  error_value = value;
  status_code = STATUS_REPORTED;
  if (!with_message) return;
  begin_message(message);
  insert_message_chars(routine_name, kRoutineNameChars);
  insert_message_int(entry);
  insert_message_int(value);
  emit_message();
}

bool is_loadable_cut(int32_t record) {
  return cut_record_field(record, CUT_FIELD_FIRST) >= 0 &&
         (cut_record_field(record, CUT_FIELD_FLAGS) & kBoundRecordFlags) == 0 &&
         (cut_record_field(record, CUT_FIELD_FLAGS) & kSenseFlags) != 0;
}

// Highest record a walk over the stored cuts must reach: records are handed
// out from the free list, so after a record was freed the stored ones may
// lie anywhere below the saved-bound records; free ones are passed over.

// Room for one more cut row of `length` elements; under the restore rule
// no row is added to the storage. False after the error.
bool make_cut_row_room(int32_t length, bool may_grow, bool with_message) {
  if (spare_rows_left < 1) {
    if (!may_grow || grow_problem_storage(spare_rows_left + kCutRowGrowth, 0, 0, 0) != 0) {
      if (may_grow) status_code = STATUS_OK;
      fail(MSG_NO_ROW_SPACE, routine::kLoadcut, with_message);
      return false;
    }
  }
  // More elements move no position, so even a restore may take them: the
  // cut rows a node's list names can need more than the LP holds now.
  if (spare_elems_left < length) {
    if (
        grow_problem_storage(0, 0, int64_t{spare_elems_left} + length + kCutElementGrowth, 0) != 0) {
      status_code = STATUS_OK;
      fail(MSG_NO_ELEMENT_SPACE, routine::kLoadcut, with_message);
      return false;
    }
  }
  return true;
}

// Appends pool record `record` as row nrow + 1.
void append_cut_row(int32_t record, bool keep_status) {
  const int32_t p = nrow + 1;
  const int32_t flags = cut_record_field(record, CUT_FIELD_FLAGS);
  const int32_t first = cut_record_field(record, CUT_FIELD_FIRST);
  const int32_t length = cut_record_field(record, CUT_FIELD_LENGTH);
  const CutRowShape shape = cut_row_shape(flags);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const uint32_t kept = keep_status ? static_cast<uint32_t>(status[p]) & (PS_BASIC | PS_AT_UPPER) : PS_BASIC;
  const double rhs = real_array(ARR_CUT_RHS)[record];

  --spare_rows_left;
  ++nrow;
  ++cut_row_count;
  int_array(ARR_CUT_ROW_LIST)[cut_row_count] = record;
  ++cut_record_field(record, CUT_FIELD_REFERENCES);

  int_array(ARR_ROW_TYPE)[p] = shape.type;
  status[p] = static_cast<int32_t>(shape.status | kept);  // exponent byte 0: no row scale
  real_array(ARR_LOWER)[p] = shape.lower;
  real_array(ARR_UPPER)[p] = shape.upper;
  real_array(ARR_RHS)[p] = rhs;
  if (OneBased<double> work_rhs = real_array(ARR_WORK_RHS)) work_rhs[p] = rhs;
  if (OneBased<double> objective = real_array(ARR_OBJECTIVE)) objective[p] = 0.0;
  if (OneBased<double> weights = real_array(ARR_ROW_WEIGHTS)) weights[p] = 1.0;
  if (OneBased<int32_t> header = int_array(ARR_BASIS_HEADER)) header[p] = p;
  if (OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER)) basic_upper[p] = shape.upper;

  // Coefficients too small to matter stay out; the row copy keeps
  // increasing positions within a row.
  const double tolerance = dcv(dc::ZTOLDA);
  OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN);
  OneBased<double> pool_values = real_array(ARR_CUT_ELEM_VALUE);
  std::vector<std::pair<int32_t, double>> entries;
  entries.reserve(static_cast<size_t>(std::max(0, length)));
  for (int32_t k = 0; k < length; ++k) {
    const double a = pool_values[first + k];
    if (std::fabs(a) < tolerance) continue;
    const int32_t q = pool_columns[first + k];
    entries.emplace_back(q, a * scale_powers[scale_exponent(status[q])]);
  }
  std::sort(entries.begin(), entries.end());
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  int32_t next = copy_start[p];
  for (const auto& [q, v] : entries) {
    copy_col[next] = q;
    copy_val[next] = v;
    ++next;
  }
  copy_start[p + 1] = next;
  spare_elems_left -= static_cast<int32_t>(entries.size());
  nelem = next - 1;
}

// A list entry that names no record: loadcut loads the records before it,
// then reports it.
struct BadEntry {
  bool found = false;
  int32_t entry = 0;
  int32_t value = 0;
};

// The records loadcut is to load, in order.
void gather_records(int32_t type, int32_t rule, int32_t count, const int32_t* list, int32_t load_mode,
                    std::vector<int32_t>& records, BadEntry& bad) {
  const int32_t limit = stored_record_limit();
  if (load_mode == LOAD_SELECTED) {
    const int32_t last = count < 0 ? limit : std::min(count, limit);
    for (int32_t r = 1; r <= last; ++r) {
      if (cut_record_field(r, CUT_FIELD_FIRST) < 0) continue;
      int32_t& flags = cut_record_field(r, CUT_FIELD_FLAGS);
      if ((flags & CUT_SELECTED) == 0) continue;
      flags &= ~CUT_SELECTED;
      if (is_loadable_cut(r)) records.push_back(r);
    }
    return;
  }
  const int32_t base = icv(ic::IFDBG);
  const int32_t n = count < 0 ? limit : count;
  for (int32_t k = 0; k < n; ++k) {
    int32_t r = k + 1;
    if (count >= 0) {
      r = list[k] + base;
      if (r < 1 || r > icv(ic::MXCPOL)) {
        bad = BadEntry{true, k + base, list[k]};
        return;
      }
    }
    // A free or bound record holds no cut: nothing to load.
    if (!is_loadable_cut(r)) continue;
    if (load_mode == LOAD_CALLER_LIST && (cut_record_field(r, CUT_FIELD_FLAGS) & CUT_BY_LIBRARY) != 0) continue;
    if (!cut_type_matches(cut_record_field(r, CUT_FIELD_TYPE), type, rule)) continue;
    records.push_back(r);
  }
}

// Type of cut row k (1-based among the cut rows) at row m0 + k.
int32_t cut_row_type(int32_t k, int32_t row) {
  const int32_t entry = int_array(ARR_CUT_ROW_LIST)[k];
  if ((static_cast<uint32_t>(int_array(ARR_ROW_TYPE)[row]) & RF_CUT) != 0) return entry;
  return entry >= 1 && entry <= icv(ic::MXCPOL) ? cut_record_field(entry, CUT_FIELD_TYPE) : entry;
}

bool is_pool_row(int32_t row) { return (static_cast<uint32_t>(int_array(ARR_ROW_TYPE)[row]) & RF_CUT) == 0; }

}  // namespace

bool cut_type_matches(int32_t record_type, int32_t type, int32_t rule) {
  switch (rule) {
    case CUT_RULE_TYPE_EQUAL: return record_type == type;
    case CUT_RULE_COMMON_BIT: return (record_type & type) != 0;
    case CUT_RULE_ALL_BITS: return (record_type & type) == type;
    default: return true;
  }
}

int32_t cut_row_model_rows() { return nrow - std::max(0, cut_row_count); }

void loadcut(int32_t type, int32_t rule, int32_t count, const int32_t* list, int32_t load_mode) {
  if (array_cells[ARR_CUT_RECORD] == nullptr) return;
  const bool restore = rule == CUT_RULE_RESTORE;
  const bool with_message = load_mode == LOAD_CALLER_LIST;
  std::vector<int32_t> records;
  BadEntry bad;
  gather_records(type, rule, count, list, load_mode, records, bad);
  if (!make_row_copy_current()) return;
  problem_flags &= ~(PF_COLUMN_COPY | PF_SOLUTION_CURRENT);
  if (problem_flags & PF_ROW_LISTS) free_row_lists();

  int32_t added = 0;
  for (const int32_t r : records) {
    if (!make_cut_row_room(cut_record_field(r, CUT_FIELD_LENGTH), !restore, with_message)) break;
    // Growth rebuilds the row copy from a column copy it brings up to date
    // first, so the rows added so far survive it.
    if ((problem_flags & PF_ROW_COPY) == 0 && !make_row_copy_current()) break;
    problem_flags &= ~PF_COLUMN_COPY;
    append_cut_row(r, restore);
    ++added;
  }
  search_record.cut_rows_loaded += added;
  if (added > 0) {
    problem_flags &= ~PF_FACTOR_VALID;
    node_factor_reusable = 0;
  }
  if (bad.found && status_code == STATUS_OK)
    fail_entry(MSG_CUT_RECORD_INVALID, routine::kLoadcut, bad.entry, bad.value, with_message);
}

namespace {

// Before a cut row is deleted its own slack is made basic at the row's
// own basis position, so that dropping both keeps the basis square.
void free_basis_position(int32_t row, std::vector<int32_t>& where) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t other = header[row];
  if (other == row) return;
  const int32_t slack_at = where[static_cast<size_t>(row)];
  if (slack_at > 0) {
    header[slack_at] = other;
    if (other > 0) where[static_cast<size_t>(other)] = slack_at;
  } else if (other > 0) {
    // The slack is non-basic: the variable in its place leaves the basis,
    // at its finite bound (at upper only when it has no finite lower).
    uint32_t word = static_cast<uint32_t>(status[other]) & ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
    if ((word & PS_FINITE_LOWER) == 0 && (word & PS_FINITE_UPPER) != 0) word |= PS_AT_UPPER;
    status[other] = static_cast<int32_t>(word);
    where[static_cast<size_t>(other)] = 0;
  }
  header[row] = row;
  where[static_cast<size_t>(row)] = row;
  status[row] = static_cast<int32_t>((static_cast<uint32_t>(status[row]) & ~(PS_AT_UPPER | PS_NONBASIC_BETWEEN)) |
                                     PS_BASIC);
}

// The unmarked cut rows move down over the marked ones.
void compact_cut_rows(int32_t m0) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> list = int_array(ARR_CUT_ROW_LIST);
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);

  const int32_t old_nrow = nrow;
  std::vector<int32_t> new_row(static_cast<size_t>(old_nrow) + 1, 0);
  int32_t to = m0;
  int32_t next_element = copy_start[m0 + 1];
  const int32_t old_elements_end = copy_start[old_nrow + 1];
  for (int32_t from = m0 + 1; from <= old_nrow; ++from) {
    const int32_t begin = copy_start[from];
    const int32_t end = from < old_nrow ? copy_start[from + 1] : old_elements_end;
    if ((static_cast<uint32_t>(row_type[from]) & RF_CUT_DELETE) != 0) continue;
    ++to;
    new_row[static_cast<size_t>(from)] = to;
    row_type[to] = row_type[from];
    status[to] = status[from];
    lower[to] = lower[from];
    upper[to] = upper[from];
    rhs[to] = rhs[from];
    if (work_rhs) work_rhs[to] = work_rhs[from];
    if (objective) objective[to] = objective[from];
    if (weights) weights[to] = weights[from];
    header[to] = header[from];
    list[to - m0] = list[from - m0];
    copy_start[to] = next_element;
    for (int32_t e = begin; e < end; ++e) {
      copy_col[next_element] = copy_col[e];
      copy_val[next_element] = copy_val[e];
      ++next_element;
    }
  }
  copy_start[to + 1] = next_element;
  for (int32_t r = to + 1; r <= old_nrow; ++r) {
    row_type[r] = 0;
    status[r] = 0;
    lower[r] = 0.0;
    upper[r] = 0.0;
    rhs[r] = 0.0;
    if (work_rhs) work_rhs[r] = 0.0;
    if (objective) objective[r] = 0.0;
    header[r] = 0;
    list[r - m0] = 0;
  }
  // Slacks of the moved rows may be basic anywhere, model positions too.
  for (int32_t i = 1; i <= to; ++i) {
    const int32_t v = header[i];
    if (v > m0 && v <= old_nrow) header[i] = new_row[static_cast<size_t>(v)];
  }
  const int32_t deleted = old_nrow - to;
  spare_rows_left += deleted;
  spare_elems_left += old_elements_end - next_element;
  nrow = to;
  cut_row_count -= deleted;
  search_record.cut_rows_deleted += deleted;
  nelem = next_element - 1;
  if (basic_upper) {
    for (int32_t i = m0 + 1; i <= nrow; ++i) basic_upper[i] = header[i] > 0 ? upper[header[i]] : 0.0;
  }
}

}  // namespace

void delcut(int32_t keep_binding, int32_t type, int32_t rule, double threshold, int32_t count, const int32_t* list) {
  const bool measured = threshold > -dcv(dc::ZTOLZE);
  if (measured && (problem_flags & PF_SOLUTION_CURRENT) == 0) {
    report_plain_error(MSG_SOLUTION_NOT_CURRENT);
    return;
  }
  const int32_t base = icv(ic::IFDBG);
  // A listed cut row must exist, also when there are none.
  if (count >= 0) {
    for (int32_t k = 0; k < count; ++k) {
      const int32_t c = list[k] + base;
      if (c < 1 || c > cut_row_count) {
        fail_entry(MSG_ROW_INDEX_INVALID, routine::kDelcut, k + base, list[k], true);
        return;
      }
    }
  }
  if (cut_row_count <= 0) return;
  if (!make_row_copy_current()) return;
  if (problem_flags & PF_ROW_LISTS) free_row_lists();

  const int32_t m0 = cut_row_model_rows();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> basic_values = real_array(ARR_BASIC_VALUES);
  // Basis position of every basic variable (0 when non-basic).
  std::vector<int32_t> where(static_cast<size_t>(std::max(nseq, nrow)) + 1, 0);
  for (int32_t i = 1; i <= nrow; ++i)
    if (header[i] > 0 && header[i] <= nseq) where[static_cast<size_t>(header[i])] = i;

  int32_t marked = 0;
  const int32_t n = count < 0 ? cut_row_count : count;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t c = count < 0 ? k + 1 : list[k] + base;
    const int32_t row = m0 + c;
    if ((static_cast<uint32_t>(row_type[row]) & RF_CUT_DELETE) != 0) continue;
    const bool slack_basic = (static_cast<uint32_t>(status[row]) & PS_BASIC) != 0;
    if (keep_binding != 0 && (!measured || !slack_basic)) continue;
    double value = 0.0;
    if (measured && slack_basic) {
      const int32_t at = where[static_cast<size_t>(row)];
      value = at > 0 && basic_values ? basic_values[at] : 0.0;
      if ((row_type[row] & ROW_TYPE_MASK) == ROW_G) value = -value;
    }
    if (value < threshold) continue;
    if (!cut_type_matches(cut_row_type(c, row), type, rule)) continue;
    free_basis_position(row, where);
    row_type[row] = static_cast<int32_t>(static_cast<uint32_t>(row_type[row]) | RF_CUT_DELETE);
    if (is_pool_row(row)) {
      const int32_t record = int_array(ARR_CUT_ROW_LIST)[c];
      if (record >= 1 && record <= icv(ic::MXCPOL)) --cut_record_field(record, CUT_FIELD_REFERENCES);
    }
    ++marked;
  }
  if (marked == 0) return;
  compact_cut_rows(m0);
  // The factor described the basis of the rows before the deletion.
  problem_flags &= ~(PF_COLUMN_COPY | PF_SOLUTION_CURRENT | PF_FACTOR_VALID);
  node_factor_reusable = 0;
}

void remove_all_cut_rows() {
  if (cut_row_count <= 0) {
    cut_row_count = 0;
    return;
  }
  if (!make_row_copy_current()) return;
  const int32_t m0 = cut_row_model_rows();
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  const int32_t freed = copy_start[nrow + 1] - copy_start[m0 + 1];
  spare_rows_left += cut_row_count;
  spare_elems_left += freed;
  nrow = m0;
  cut_row_count = 0;
  nelem = copy_start[m0 + 1] - 1;
  problem_flags &= ~(PF_COLUMN_COPY | PF_SOLUTION_CURRENT | PF_FACTOR_VALID);
  if (problem_flags & PF_ROW_LISTS) free_row_lists();
  node_factor_reusable = 0;
}

}  // namespace kl

namespace kl {

void scan_cut_rows() {
  if (cut_row_count <= 0) return;
  if (!make_row_copy_current()) return;
  const int32_t m0 = cut_row_model_rows();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> list = int_array(ARR_CUT_ROW_LIST);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  for (int32_t k = 1; k <= cut_row_count; ++k) {
    const int32_t row = m0 + k;
    const uint32_t word = static_cast<uint32_t>(row_type[row]);
    if ((word & RF_CUT) == 0) continue;
    // A full pool grows as it does for storecut; only a pool that cannot
    // grow stops the scan.
    const auto records_full = [] {
      return array_cells[ARR_CUT_RECORD] == nullptr || search_record.pool_free_head <= 0 ||
             search_record.stored_cut_count + 1 > icv(ic::MXCPOL) - search_record.saved_bound_count;
    };
    if (records_full() && (grow_cut_pool(0, 1) != 0 || records_full())) {
      error_number = MSG_CUT_POOL_NO_RECORD_FOR_ROW;
      report_plain_error(MSG_CUT_POOL_NO_RECORD_FOR_ROW);
      return;
    }
    const int32_t begin = copy_start[row];
    const int32_t length = copy_start[row + 1] - begin;
    if (static_cast<int64_t>(search_record.pool_elements_used) + length > icv(ic::MXCPEL) &&
        grow_cut_pool(1, length) != 0) {
      error_number = MSG_CUT_POOL_NO_ELEMENTS_FOR_ROW;
      report_plain_error(MSG_CUT_POOL_NO_ELEMENTS_FOR_ROW);
      return;
    }
    const int32_t record = search_record.pool_free_head;
    search_record.pool_free_head = cut_record_field(record, CUT_FIELD_FLAGS);
    ++search_record.stored_cut_count;
    const int32_t first = search_record.pool_elements_used + 1;
    OneBased<int32_t> pool_columns = int_array(ARR_CUT_ELEM_COLUMN);
    OneBased<double> pool_values = real_array(ARR_CUT_ELEM_VALUE);
    int32_t key = length;
    for (int32_t e = 0; e < length; ++e) {
      const int32_t q = copy_col[begin + e];
      key += q;
      pool_columns[first + e] = q;
      // The row holds coefficients per unit of the scaled column.
      pool_values[first + e] = copy_val[begin + e] * scale_powers[2 * kNeutralScaleExponent - scale_exponent(status[q])];
    }
    search_record.pool_elements_used += length;
    cut_record_field(record, CUT_FIELD_TYPE) = list[k];
    cut_record_field(record, CUT_FIELD_FLAGS) = static_cast<int32_t>(word & 7u);
    cut_record_field(record, CUT_FIELD_FIRST) = first;
    cut_record_field(record, CUT_FIELD_LENGTH) = length;
    cut_record_field(record, CUT_FIELD_KEY) = key;
    cut_record_field(record, CUT_FIELD_REFERENCES) = 1;
    real_array(ARR_CUT_RHS)[record] = rhs[row];
    list[k] = record;
    row_type[row] = static_cast<int32_t>(word & ~static_cast<uint32_t>(RF_CUT));
  }
}

CutRowShape cut_row_shape(int32_t flags) {
  if (flags & CUT_SENSE_E) return {ROW_E, PS_EQUALITY_ROW, 0.0, 0.0};
  if (flags & CUT_SENSE_G) return {ROW_G, PS_FINITE_UPPER, -kInfinity, 0.0};
  return {ROW_L, PS_FINITE_LOWER, 0.0, kInfinity};
}

}  // namespace kl
