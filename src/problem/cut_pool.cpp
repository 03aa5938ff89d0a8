#include "problem/cut_pool.h"

#include <algorithm>

#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// The old block, if any, is released first so that a second pool for the
// same problem does not strand the first.
int32_t fresh_array(int32_t id, int64_t words) {
  if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
  return allocate_array(id, array_cells[id], words);
}

}  // namespace

int32_t alloc_cut_pool() {
  const int64_t records = icv(ic::MXCPOL) > 0 ? icv(ic::MXCPOL) : 0;
  const int64_t elements = icv(ic::MXCPEL) > 0 ? icv(ic::MXCPEL) : 0;
  const int64_t positions = static_cast<int64_t>(nseq) + icv(ic::NCXTRA);
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_CUT_RECORD, kCutRecordWords * records},
      {ARR_CUT_RHS, words_for_reals(records)},
      {ARR_CUT_ELEM_COLUMN, words_for_ints(elements)},
      {ARR_CUT_ELEM_VALUE, words_for_reals(elements)},
      {ARR_CUT_ROW_LIST, words_for_ints(positions > 0 ? positions : 0)},
  };
  for (const auto& block : blocks) {
    if (int32_t failure = fresh_array(block.id, block.words); failure != 0) return failure;
  }
  reset_cut_pool_free_list();
  return 0;
}

void reset_cut_pool_free_list() {
  const int64_t records = icv(ic::MXCPOL) > 0 ? icv(ic::MXCPOL) : 0;
  OneBased<int32_t> record_words = int_array(ARR_CUT_RECORD);
  OneBased<double> rhs = real_array(ARR_CUT_RHS);
  for (int64_t i = 1; record_words && i <= records; ++i) {
    const int64_t base = (i - 1) * kCutRecordWords;
    for (int32_t f = 1; f <= kCutRecordWords; ++f) record_words[base + f] = 0;
    record_words[base + 2] = static_cast<int32_t>(i + 1);  // flags field: next free record
    record_words[base + 3] = -1;                           // first element: none
    if (rhs) rhs[i] = 0.0;
  }
  search_record.pool_free_head = 1;
  search_record.stored_cut_count = 0;
  search_record.pool_elements_used = 0;
  search_record.saved_bound_count = 0;
  search_record.branch_bound_count = 0;
  cut_row_count = 0;
}

void count_binary_entities() {
  int32_t count = 0;
  if (OneBased<int32_t> types = int_array(ARR_ENTITY_TYPE)) {
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t type = types[e] & ENT_TYPE_MASK;
      if (type == ENT_SEMICONTINUOUS || type == ENT_BINARY) ++count;
    }
  }
  search_record.binary_entity_count = count;
}

void copy_work_to_rhs() {
  OneBased<double> work = real_array(ARR_WORK_VECTOR);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  if (!work || !rhs || !work_rhs) return;
  for (int32_t i = 1; i <= nrow; ++i) {
    rhs[i] = work[i];
    work_rhs[i] = work[i];
  }
}

void no_op_hook(int32_t) {}

int32_t stored_record_limit() { return std::max(0, icv(ic::MXCPOL) - search_record.saved_bound_count); }

}  // namespace kl
