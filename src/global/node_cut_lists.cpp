#include "global/node_cut_lists.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "global/cut_rows.h"
#include "global/node_store.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/units.h"

namespace kl {

namespace {

constexpr int32_t kCutFileSlot = 1;  // search_work_files.units[1]
constexpr int32_t kCutFileRecordBytes = 4;
constexpr int32_t kListHeaderRecords = 2;
constexpr int32_t kBoundRecordFlags = 8 | 16;
constexpr int32_t kLowerBoundFlag = 8;
constexpr int32_t kUpperBoundFlag = 16;

int32_t cut_file_unit() { return search_work_files.units[kCutFileSlot]; }

void report_cut_file_error() {
  begin_message(MSG_SEARCH_FILE_ERROR);
  insert_message_string(search_work_files.names[kCutFileSlot].c_str());
  emit_message();
  error_number = MSG_SEARCH_FILE_ERROR;
  status_code = STATUS_FILE_ERROR;
}

void put_le32(std::vector<unsigned char>& bytes, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>((v >> shift) & 0xFF));
}

int32_t get_le32(const unsigned char* bytes) {
  uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 8) | bytes[k];
  return static_cast<int32_t>(v);
}

// Reads n 4-byte records from record `at` on; false on any failure.
bool read_records(int64_t at, int32_t n, std::vector<int32_t>& out) {
  out.clear();
  if (n == 0) return true;
  const int32_t unit = cut_file_unit();
  if (unit < 0 || n < 0) return false;
  int32_t error = 0;
  seek_unit_record(unit, at, error);
  if (error != 0) return false;
  std::vector<unsigned char> bytes(static_cast<size_t>(n) * kCutFileRecordBytes);
  read_unit_records(unit, bytes.data(), n, error);
  if (error != 0) return false;
  out.resize(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; ++k) out[static_cast<size_t>(k)] = get_le32(bytes.data() + k * kCutFileRecordBytes);
  return true;
}

bool valid_record(int32_t r) { return r >= 1 && r <= icv(ic::MXCPOL); }

// Pool record of cut row k, 0 for a row added straight into the LP (its
// cut_row_list entry is a type, not a record).
int32_t record_of_cut_row(int32_t k, int32_t m0) {
  const int32_t row = m0 + k;
  if (row <= nrow && (static_cast<uint32_t>(int_array(ARR_ROW_TYPE)[row]) & RF_CUT) != 0) return 0;
  const int32_t r = int_array(ARR_CUT_ROW_LIST)[k];
  return valid_record(r) ? r : 0;
}

// The last of a restore: the bound records attached to the branch, applied
// from the entry at nseq downwards.
void apply_branch_bounds(const std::vector<int32_t>& records, double& fixed_entity_constant) {
  OneBased<int32_t> list = int_array(ARR_CUT_ROW_LIST);
  const int32_t count = static_cast<int32_t>(records.size());
  search_record.branch_bound_count = count;
  for (int32_t i = 0; i < count; ++i) list[nseq - count + 1 + i] = records[static_cast<size_t>(i)];
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  OneBased<double> bound_value = real_array(ARR_CUT_RHS);
  for (int32_t e = nseq; e > nseq - count; --e) {
    const int32_t r = list[e];
    if (!valid_record(r)) continue;
    const int32_t flags = cut_record_field(r, CUT_FIELD_FLAGS);
    if ((flags & kBoundRecordFlags) == 0) continue;
    const int32_t column = cut_record_field(r, CUT_FIELD_LENGTH);
    if (column < store.first_col || column > nseq) continue;
    const double value = bound_value[r];
    // An infinite bound leaves its side without a finite bound.
    const bool finite = std::fabs(value) < kInfiniteBound;
    uint32_t word = static_cast<uint32_t>(status[column]);
    if (flags & kLowerBoundFlag) {
      lower[column] = value;
      if (work_lower) work_lower[column] = value;
      word = finite ? word | PS_FINITE_LOWER : word & ~PS_FINITE_LOWER;
    }
    if (flags & kUpperBoundFlag) {
      upper[column] = value;
      if (work_upper) work_upper[column] = value;
      word = finite ? word | PS_FINITE_UPPER : word & ~PS_FINITE_UPPER;
    }
    word &= ~PS_SEARCH_FIXED;
    if (lower[column] == upper[column]) {
      word |= PS_SEARCH_FIXED;
      if (objective) fixed_entity_constant += lower[column] * objective[column];
    }
    status[column] = static_cast<int32_t>(word);
  }
}

}  // namespace

std::vector<int32_t> run_code_bounds(const std::vector<int32_t>& records) {
  std::vector<int32_t> coded;
  size_t i = 0;
  while (i < records.size()) {
    const int32_t first = records[i];
    int32_t run = 0;
    while (i + 1 + run < records.size() && records[i + 1 + run] == first - run - 1) ++run;
    coded.push_back(first);
    if (run > 0) coded.push_back(-run);
    i += 1 + static_cast<size_t>(run);
  }
  return coded;
}

std::vector<int32_t> expand_bound_runs(const std::vector<int32_t>& coded) {
  std::vector<int32_t> records;
  int32_t last = 0;
  for (const int32_t entry : coded) {
    if (entry > 0) {
      records.push_back(entry);
      last = entry;
      continue;
    }
    for (int32_t k = 1; k <= -entry; ++k) records.push_back(last - k);
  }
  return records;
}

int32_t write_cut_list(const CutListEntries& list) {
  const int64_t c = static_cast<int64_t>(list.cuts.size());
  const int64_t b = static_cast<int64_t>(list.bounds.size());
  const int64_t at = node_cut_list_state.cut_file_next;
  const int32_t unit = cut_file_unit();
  // References are int records in the active-node table: a list must start
  // and end within their range.
  if (unit < 0 || at < 1 || at + c + b + kListHeaderRecords > INT32_MAX) {
    report_cut_file_error();
    return 0;
  }
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<size_t>(c + b + kListHeaderRecords) * kCutFileRecordBytes);
  put_le32(bytes, static_cast<int32_t>(c));
  put_le32(bytes, static_cast<int32_t>(b));
  for (const int32_t e : list.cuts) put_le32(bytes, e);
  for (const int32_t e : list.bounds) put_le32(bytes, e);
  int32_t error = 0;
  seek_unit_record(unit, at, error);
  if (error == 0) write_unit_records(unit, bytes.data(), static_cast<int32_t>(c + b + kListHeaderRecords), error);
  if (error != 0) {
    report_cut_file_error();
    return 0;
  }
  node_cut_list_state.cut_file_next = static_cast<int32_t>(at + c + b + kListHeaderRecords);
  return static_cast<int32_t>(at);
}

bool read_cut_list(int32_t reference, bool with_bounds, CutListEntries& list) {
  std::vector<int32_t> counts;
  if (reference < 1 || !read_records(reference, kListHeaderRecords, counts) || counts[0] < 0 || counts[1] < 0 ||
      !read_records(int64_t{reference} + kListHeaderRecords, counts[0], list.cuts) ||
      (with_bounds &&
       !read_records(int64_t{reference} + kListHeaderRecords + counts[0], counts[1], list.bounds))) {
    report_cut_file_error();
    return false;
  }
  if (!with_bounds) list.bounds.assign(static_cast<size_t>(counts[1]), 0);
  return true;
}

std::vector<int32_t> pending_branch_cuts;
int32_t attached_branch_bounds = 0;

void drop_unused_attachments() {
  pending_branch_cuts.clear();
  if (attached_branch_bounds > 0)
    search_record.branch_bound_count = std::max(0, search_record.branch_bound_count - attached_branch_bounds);
  attached_branch_bounds = 0;
}

void start_node_cut_lists() {
  node_cut_list_state = NodeCutListState{};
  root_cut_count = 0;
  pending_branch_cuts.clear();
  attached_branch_bounds = 0;
}

void restore_current_node_cuts() {
  // The fixed-column constant is rebuilt by the bound step of the node.
  double fixed_entity_constant = 0.0;
  restore_node_cuts(active_table.current_slot, fixed_entity_constant);
}

void bump_cut_references(int32_t slot) {
  NodeCutListState& state = node_cut_list_state;
  const int32_t bound_count = search_record.branch_bound_count;
  if (cut_row_count <= 0 && bound_count <= 0 && pending_branch_cuts.empty()) {
    state.current_cut_list = 0;
    return;
  }
  const int32_t m0 = cut_row_model_rows();
  for (int32_t k = 1; k <= cut_row_count; ++k) {
    if (const int32_t r = record_of_cut_row(k, m0); r != 0) ++cut_record_field(r, CUT_FIELD_REFERENCES);
  }
  for (const int32_t r : pending_branch_cuts)
    if (valid_record(r)) ++cut_record_field(r, CUT_FIELD_REFERENCES);
  if (cut_row_count <= root_cut_count && state.cut_rows_changed == 0 && pending_branch_cuts.empty()) {
    int_array(ARR_NODE_CUT_LIST)[slot] = state.current_cut_list;
    return;
  }
  CutListEntries list;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const bool drop_nonbinding = icv(ic::IFDELBC) != 0;
  for (int32_t k = 1; k <= cut_row_count; ++k) {
    const int32_t r = record_of_cut_row(k, m0);
    if (r == 0) continue;
    const int32_t row = m0 + k;
    const bool slack_basic = row <= nrow && (static_cast<uint32_t>(status[row]) & PS_BASIC) != 0;
    if (!slack_basic) {
      list.cuts.push_back(r);
    } else if (!drop_nonbinding) {
      list.cuts.push_back(k > root_cut_count ? -r : r);
    }
  }
  // Attached cuts start with their slacks basic, as their rows will.
  for (const int32_t r : pending_branch_cuts)
    if (valid_record(r)) list.cuts.push_back(-r);
  std::vector<int32_t> bounds;
  OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
  for (int32_t e = nseq - bound_count + 1; e <= nseq; ++e) bounds.push_back(row_list[e]);
  list.bounds = run_code_bounds(bounds);
  if (list.cuts.empty() && list.bounds.empty()) {
    state.current_cut_list = 0;
    return;
  }
  if (const int32_t reference = write_cut_list(list); reference != 0) state.current_cut_list = reference;
}

void restore_node_cuts(int32_t slot, double& fixed_entity_constant) {
  NodeCutListState& state = node_cut_list_state;
  status_code = STATUS_OK;
  const int32_t reference = int_array(ARR_NODE_CUT_LIST)[slot];
  if (cut_row_count <= root_cut_count && state.current_cut_list == reference) return;
  search_record.branch_bound_count = 0;
  state.current_cut_list = reference;

  bool rows_changed = false;
  if (reference == 0) {
    rows_changed = cut_row_count > 0;
    remove_all_cut_rows();
  } else {
    CutListEntries list;
    if (!read_cut_list(reference, false, list)) return;
    const int32_t c = static_cast<int32_t>(list.cuts.size());
    const int32_t m0 = cut_row_model_rows();
    for (const int32_t e : list.cuts) {
      if (!valid_record(std::abs(e))) {
        report_cut_file_error();
        return;
      }
    }
    if (c > cut_row_count + spare_rows_left) {
      error_number = MSG_NO_ROW_SPACE;
      status_code = STATUS_REPORTED;
      return;
    }
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
    bool unchanged = c == cut_row_count;
    std::vector<int32_t> records(static_cast<size_t>(c));
    for (int32_t k = 1; k <= c; ++k) {
      int32_t e = list.cuts[static_cast<size_t>(k - 1)];
      const int32_t row = m0 + k;
      if (k > root_cut_count) {
        uint32_t word = static_cast<uint32_t>(status[row]) & ~(PS_BASIC | PS_AT_UPPER);
        if (e < 0) {
          e = -e;
          word |= PS_BASIC;
        } else if ((cut_record_field(e, CUT_FIELD_FLAGS) & CUT_SENSE_G) != 0) {
          word |= PS_AT_UPPER;  // slack at 0, the cut binding
        }
        status[row] = static_cast<int32_t>(word);
      }
      e = std::abs(e);
      if (row_list[k] != e) unchanged = false;
      row_list[k] = e;
      records[static_cast<size_t>(k - 1)] = e;
    }
    if (!unchanged) {
      rows_changed = true;
      remove_all_cut_rows();
      const int32_t base = icv(ic::IFDBG);
      icv(ic::IFDBG) = 0;
      loadcut(-1, CUT_RULE_RESTORE, c, records.data(), LOAD_INTERNAL_LIST);
      icv(ic::IFDBG) = base;
      if (status_code != STATUS_OK) return;
    }
    if (!list.bounds.empty()) {
      if (!read_cut_list(reference, true, list)) return;
      apply_branch_bounds(expand_bound_runs(list.bounds), fixed_entity_constant);
    }
  }
  if (rows_changed) {
    if (!make_column_copy_current()) return;
    if (cut_row_count == 0 && (problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
  }
}

void release_node_cuts(int32_t slot) {
  if (icv(ic::IFNDCP) != 0) return;
  OneBased<int32_t> references = int_array(ARR_NODE_CUT_LIST);
  if (!references) return;
  const int32_t reference = references[slot];
  if (reference == 0) return;
  if (reference == node_cut_list_state.current_cut_list) {
    const int32_t m0 = cut_row_model_rows();
    for (int32_t k = 1; k <= cut_row_count; ++k) {
      if (const int32_t r = record_of_cut_row(k, m0); r != 0) --cut_record_field(r, CUT_FIELD_REFERENCES);
    }
    return;
  }
  CutListEntries list;
  const int32_t kept_status = status_code;
  if (!read_cut_list(reference, false, list)) {
    // Nothing changes; the message said why.
    status_code = kept_status;
    return;
  }
  for (const int32_t e : list.cuts)
    if (valid_record(std::abs(e))) --cut_record_field(std::abs(e), CUT_FIELD_REFERENCES);
}

}  // namespace kl
