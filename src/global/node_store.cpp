#include "global/node_store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "factor/invert.h"
#include "factor/simplex_state.h"
#include "factor/starting_basis.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "simplex/successive_lp.h"

namespace kl {

NodeHeader node_header;
NodeHeader kept_node_header;
ActiveNodeTable active_table;
int32_t direct_child_flag = 0;
int32_t two_bit_entity_count = 0;
void (*restore_node_cuts_hook)() = nullptr;

namespace {

// problem_flags: the search's arrays are allocated.
constexpr int32_t kSearchArraysFlag = 0x800;
constexpr int32_t kStatesPerWord = 16;
constexpr int32_t kNodeDepthAttribute = 1014;
// Entries moved per transfer while the table goes through the wrk file.
constexpr int64_t kGrowChunk = 4096;

// Little-endian fields of a record.
void put_u32(unsigned char* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}
uint32_t get_u32(const unsigned char* p) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(p[k]) << (8 * k);
  return v;
}
void put_i32(unsigned char* p, int32_t v) { put_u32(p, static_cast<uint32_t>(v)); }
int32_t get_i32(const unsigned char* p) { return static_cast<int32_t>(get_u32(p)); }
void put_f64(unsigned char* p, double x) {
  uint64_t v = 0;
  std::memcpy(&v, &x, sizeof v);
  for (int k = 0; k < 8; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}
double get_f64(const unsigned char* p) {
  uint64_t v = 0;
  for (int k = 0; k < 8; ++k) v |= static_cast<uint64_t>(p[k]) << (8 * k);
  double x = 0.0;
  std::memcpy(&x, &v, sizeof x);
  return x;
}

// Byte offsets of the header fields.
enum HeaderOffset : int32_t {
  H_FIRST_DIRECTION = 0,
  H_NODE_ID = 4,
  H_NODE_NUMBER = 8,
  H_BRANCH_ENTITY = 12,
  H_FRACTIONAL_COUNT = 16,
  H_RESERVED = 20,
  H_DEPTH = 24,
  H_FIRST_CUT_LIST = 28,
  H_SECOND_CUT_LIST = 32,
  // 36..39 padding so that the doubles are 8-aligned within the record
  H_BRANCH_VALUE = 40,
  H_BOUND = 48,
  H_DEGRADATION = 56,
  H_UP_ESTIMATE = 64,
  H_DOWN_ESTIMATE = 72,
  H_DOWN_LIMIT = 80,
  H_UP_LIMIT = 88,
  H_SET_SPLIT_VALUE = 96,
};
static_assert(H_SET_SPLIT_VALUE + 8 == kNodeHeaderBytes);

int32_t kind_of(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
bool is_two_bit(int32_t kind) { return kind == ENT_SEMICONTINUOUS || kind == ENT_BINARY; }
bool is_set(int32_t kind) { return kind == ENT_SET1 || kind == ENT_SET2; }

int64_t round_up_8(int64_t bytes) { return (bytes + 7) / 8 * 8; }

int64_t entity_block_bytes() {
  int64_t two_bit = 0, columns = 0, sets = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = kind_of(e);
    if (is_two_bit(kind)) ++two_bit;
    else if (is_set(kind)) ++sets;
    else ++columns;
  }
  return 4 * ((two_bit + kStatesPerWord - 1) / kStatesPerWord) + 8 * columns + 16 * sets;
}

// Rows whose basis codes travel in the record: the model rows and the cut
// rows of the root.
int32_t coded_rows() { return nrow - cut_row_count + root_cut_count; }
int64_t coded_positions() { return static_cast<int64_t>(coded_rows()) + (nseq - store.first_col + 1); }

int64_t packed_bytes() {
  return round_up_8(kNodeHeaderBytes + entity_block_bytes() +
                    4 * ((coded_positions() + kStatesPerWord - 1) / kStatesPerWord));
}

// Image: two records of image_stride() bytes in array 74 (the second one is
// the scratch record of swap_node and store_active_node). The stride follows
// the block itself, so a problem slot's own image is always read at its size.
int64_t image_stride() { return block_words(array_cells[ARR_NODE_IMAGE]) * 4 / 2 / 8 * 8; }

bool ensure_image(int64_t bytes) {
  bytes = round_up_8(std::max<int64_t>(bytes, kNodeHeaderBytes));
  const int64_t old_stride = image_stride();
  if (array_cells[ARR_NODE_IMAGE] != nullptr && old_stride >= bytes) return true;
  std::vector<unsigned char> first;
  if (array_cells[ARR_NODE_IMAGE] != nullptr && old_stride > 0) {
    first.assign(static_cast<unsigned char*>(array_cells[ARR_NODE_IMAGE]),
                 static_cast<unsigned char*>(array_cells[ARR_NODE_IMAGE]) + old_stride);
  }
  // The registry's allocate never releases the block it replaces.
  free_array(ARR_NODE_IMAGE, array_cells[ARR_NODE_IMAGE]);
  if (allocate_array(ARR_NODE_IMAGE, array_cells[ARR_NODE_IMAGE], 2 * bytes / 4) != 0) return false;
  std::memset(array_cells[ARR_NODE_IMAGE], 0, static_cast<size_t>(4 * block_words(array_cells[ARR_NODE_IMAGE])));
  if (!first.empty()) std::memcpy(array_cells[ARR_NODE_IMAGE], first.data(), first.size());
  return true;
}

unsigned char* scratch_record() { return node_image() + image_stride(); }

void report_file_error(const std::string& name) {
  begin_message(MSG_SEARCH_FILE_ERROR);
  insert_message_string(name.c_str());
  emit_message();
  error_number = MSG_SEARCH_FILE_ERROR;
  status_code = STATUS_FILE_ERROR;
}

void report_no_memory(int32_t id) {
  set_message_mode(0);
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  error_number = MSG_ARRAY_NO_MEMORY;
  error_value = id;
  status_code = STATUS_REPORTED;
}

void pack_current(unsigned char* destination) {
  std::memset(destination, 0, static_cast<size_t>(packed_bytes()));
  pack_node_header(node_header, destination);
  pack_entity_bounds(destination + kNodeHeaderBytes);
  pack_basis_status(destination + kNodeHeaderBytes + entity_block_bytes());
}

// The cut-list step of unpack_node: the slot's list for the child the record
// stands for, then that list's cuts into the LP.
void restore_cuts_of_header() {
  if (node_cut_lists_in_use == 0) return;
  if (active_table.current_slot >= 1 && active_table.current_slot <= icv(ic::MXANOD)) {
    active_node_cut_list(active_table.current_slot) =
        node_header.node_id > 0 ? node_header.first_cut_list : node_header.second_cut_list;
  }
  if (restore_node_cuts_hook != nullptr) restore_node_cuts_hook();
}

void unpack_states_and_basis(const unsigned char* record) {
  unpack_entity_bounds(record + kNodeHeaderBytes);
  unpack_basis_status(record + kNodeHeaderBytes + entity_block_bytes());
}

const std::string& glb_name() { return search_work_files.names[0]; }

}  // namespace

namespace {
// Occupied slots from 2 on; slot 1 (the root's state) is counted apart,
// since it counts only while the active count reaches it.
int32_t occupied_slots_beyond_first = 0;
}  // namespace

int32_t active_node_id(int32_t slot) { return int_array(ARR_NODE_ID)[slot]; }

void set_active_node_id(int32_t slot, int32_t id) {
  int32_t& cell = int_array(ARR_NODE_ID)[slot];
  if (slot >= 2) occupied_slots_beyond_first += (id != 0 ? 1 : 0) - (cell != 0 ? 1 : 0);
  cell = id;
}

int32_t occupied_active_slots() {
  const bool first = active_table.active_count >= 1 && int_array(ARR_NODE_ID)[1] != 0;
  return occupied_slots_beyond_first + (first ? 1 : 0);
}

void recount_active_nodes() {
  occupied_slots_beyond_first = 0;
  if (array_cells[ARR_NODE_ID] == nullptr) return;
  const OneBased<int32_t> id = int_array(ARR_NODE_ID);
  for (int32_t slot = 2; slot <= active_table.active_count; ++slot)
    if (id[slot] != 0) ++occupied_slots_beyond_first;
}
int32_t& active_node_depth(int32_t slot) { return int_array(ARR_NODE_DEPTH)[slot]; }
double& active_node_bound(int32_t slot) { return real_array(ARR_NODE_BOUND)[slot]; }
double& active_node_estimate(int32_t slot) { return real_array(ARR_NODE_ESTIMATE)[slot]; }
int32_t active_node_next_free(int32_t slot) { return static_cast<int32_t>(real_array(ARR_NODE_ESTIMATE)[slot]); }
void set_active_node_next_free(int32_t slot, int32_t next) { real_array(ARR_NODE_ESTIMATE)[slot] = next; }
int32_t& active_node_cut_list(int32_t slot) { return int_array(ARR_NODE_CUT_LIST)[slot]; }

void free_active_slot(int32_t slot) {
  set_active_node_id(slot, 0);
  set_active_node_next_free(slot, active_table.free_head);
  active_table.free_head = slot;
}

void reset_active_table() {
  const int32_t slots = icv(ic::MXANOD);
  for (int32_t k = 1; k <= slots; ++k) {
    int_array(ARR_NODE_ID)[k] = 0;
    active_node_depth(k) = 0;
    active_node_bound(k) = 0.0;
    set_active_node_next_free(k, k + 1);
    active_node_cut_list(k) = 0;
  }
  active_table.free_head = 1;
  active_table.current_slot = 2;
  active_table.active_count = 2;
  occupied_slots_beyond_first = 0;
}

double& set_window_lower(int32_t entity) { return real_array(ARR_SET_WINDOW)[2 * entity - 1]; }
double& set_window_upper(int32_t entity) { return real_array(ARR_SET_WINDOW)[2 * entity]; }

int32_t count_two_bit_entities() {
  int32_t count = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    if (is_two_bit(kind_of(e))) ++count;
  }
  two_bit_entity_count = count;
  return count;
}

int64_t node_record_size_for_problem() {
  const int64_t positions = static_cast<int64_t>(nseq) - spare_rows_left;
  return round_up_8(kNodeHeaderBytes + entity_block_bytes() +
                    4 * ((positions + kStatesPerWord - 1) / kStatesPerWord));
}

void set_node_record_size() {
  count_two_bit_entities();
  const int64_t bytes = node_record_size_for_problem();
  node_record_bytes = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX - 7));
  if (!ensure_image(node_record_bytes)) {
    report_no_memory(ARR_NODE_IMAGE);
    return;
  }
  open_global_work_files();
}

void open_global_work_files() {
  const char* extensions[2] = {"glb", "ctp"};
  const int64_t lengths[2] = {node_record_bytes, 4};
  for (int k = 0; k < 2; ++k) {
    if (search_work_files.units[k] >= 0) {
      int32_t ignored = 0;
      close_unit(search_work_files.units[k], ignored);
      search_work_files.units[k] = -1;
    }
    const std::string name = make_work_file_name(extensions[k]);
    int32_t unit = -1, error = 0;
    create_unit(name.c_str(), unit, lengths[k], error);
    if (error != 0) {
      report_file_error(name);
      return;
    }
    search_work_files.units[k] = unit;
    search_work_files.names[k] = name;
  }
}

void alloc_global_arrays(int32_t& error) {
  error = 0;
  problem_flags |= kSearchArraysFlag;
  if (icv(ic::MXANOD) < 2) icv(ic::MXANOD) = 2;
  const int64_t slots = static_cast<int64_t>(icv(ic::MXANOD)) + 1;
  free_array(ARR_NODE_IMAGE, array_cells[ARR_NODE_IMAGE]);
  if (!ensure_image(std::max<int64_t>(node_record_size_for_problem(), packed_bytes()))) {
    error = ARR_NODE_IMAGE;
    return;
  }
  const struct {
    int32_t id;
    int64_t words;
  } arrays[] = {{ARR_NODE_DEPTH, words_for_ints(slots)},   {ARR_NODE_ID, words_for_ints(slots)},
                {ARR_NODE_BOUND, words_for_reals(slots)},  {ARR_NODE_ESTIMATE, words_for_reals(slots)},
                {ARR_NODE_CUT_LIST, words_for_ints(slots)}, {ARR_SET_WINDOW, words_for_reals(2 * (nglent + 1))}};
  for (const auto& a : arrays) {
    free_array(a.id, array_cells[a.id]);
    if (allocate_array(a.id, array_cells[a.id], a.words) != 0) {
      error = a.id;
      return;
    }
  }
  // Sets start with the root's window (infinite unless the caller narrowed it).
  for (int32_t e = 1; e <= nglent; ++e) {
    if (!is_set(kind_of(e))) continue;
    const double lower = float_array(ARR_ENTITY_ROOT_LOWER)[e];
    const double upper = float_array(ARR_ENTITY_ROOT_UPPER)[e];
    set_window_lower(e) = lower <= -kInfiniteBound ? -kInfinity : lower;
    set_window_upper(e) = upper >= kInfiniteBound ? kInfinity : upper;
  }
  count_two_bit_entities();
  reset_active_table();
}

void pack_node_header(const NodeHeader& h, unsigned char* d) {
  put_i32(d + H_FIRST_DIRECTION, h.first_direction);
  put_i32(d + H_NODE_ID, h.node_id);
  put_i32(d + H_NODE_NUMBER, h.node_number);
  put_i32(d + H_BRANCH_ENTITY, h.branch_entity);
  put_i32(d + H_FRACTIONAL_COUNT, h.fractional_count);
  put_i32(d + H_RESERVED, h.reserved);
  put_i32(d + H_DEPTH, h.depth);
  put_i32(d + H_FIRST_CUT_LIST, h.first_cut_list);
  put_i32(d + H_SECOND_CUT_LIST, h.second_cut_list);
  put_i32(d + H_SECOND_CUT_LIST + 4, 0);
  put_f64(d + H_BRANCH_VALUE, h.branch_value);
  put_f64(d + H_BOUND, h.bound);
  put_f64(d + H_DEGRADATION, h.degradation);
  put_f64(d + H_UP_ESTIMATE, h.up_estimate);
  put_f64(d + H_DOWN_ESTIMATE, h.down_estimate);
  put_f64(d + H_DOWN_LIMIT, h.down_limit);
  put_f64(d + H_UP_LIMIT, h.up_limit);
  put_f64(d + H_SET_SPLIT_VALUE, h.set_split_value);
}

NodeHeader unpack_node_header(const unsigned char* s) {
  NodeHeader h;
  h.first_direction = get_i32(s + H_FIRST_DIRECTION);
  h.node_id = get_i32(s + H_NODE_ID);
  h.node_number = get_i32(s + H_NODE_NUMBER);
  h.branch_entity = get_i32(s + H_BRANCH_ENTITY);
  h.fractional_count = get_i32(s + H_FRACTIONAL_COUNT);
  h.reserved = get_i32(s + H_RESERVED);
  h.depth = get_i32(s + H_DEPTH);
  h.first_cut_list = get_i32(s + H_FIRST_CUT_LIST);
  h.second_cut_list = get_i32(s + H_SECOND_CUT_LIST);
  h.branch_value = get_f64(s + H_BRANCH_VALUE);
  h.bound = get_f64(s + H_BOUND);
  h.degradation = get_f64(s + H_DEGRADATION);
  h.up_estimate = get_f64(s + H_UP_ESTIMATE);
  h.down_estimate = get_f64(s + H_DOWN_ESTIMATE);
  h.down_limit = get_f64(s + H_DOWN_LIMIT);
  h.up_limit = get_f64(s + H_UP_LIMIT);
  h.set_split_value = get_f64(s + H_SET_SPLIT_VALUE);
  return h;
}

void pack_entity_bounds(unsigned char* d) {
  OneBased<int32_t> upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lower = int_array(ARR_ENTITY_ROOT_LOWER);
  int32_t two_bit = 0;
  for (int32_t e = 1; e <= nglent; ++e) two_bit += is_two_bit(kind_of(e)) ? 1 : 0;
  const int64_t state_words = (two_bit + kStatesPerWord - 1) / kStatesPerWord;
  std::memset(d, 0, static_cast<size_t>(4 * state_words));
  unsigned char* other = d + 4 * state_words;
  int32_t k = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = kind_of(e);
    if (is_two_bit(kind)) {
      const uint32_t state = static_cast<uint32_t>((upper[e] & 1) + 2 * (lower[e] & 1));
      unsigned char* word = d + 4 * (k / kStatesPerWord);
      put_u32(word, get_u32(word) | state << (2 * (k % kStatesPerWord)));
      ++k;
    } else if (is_set(kind)) {
      put_f64(other, set_window_lower(e));
      put_f64(other + 8, set_window_upper(e));
      other += 16;
    } else {
      put_i32(other, lower[e]);
      put_i32(other + 4, upper[e]);
      other += 8;
    }
  }
}

void unpack_entity_bounds(const unsigned char* s) {
  OneBased<int32_t> upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> lower = int_array(ARR_ENTITY_ROOT_LOWER);
  int32_t two_bit = 0;
  for (int32_t e = 1; e <= nglent; ++e) two_bit += is_two_bit(kind_of(e)) ? 1 : 0;
  const unsigned char* other = s + 4 * ((two_bit + kStatesPerWord - 1) / kStatesPerWord);
  int32_t k = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = kind_of(e);
    if (is_two_bit(kind)) {
      const uint32_t state = get_u32(s + 4 * (k / kStatesPerWord)) >> (2 * (k % kStatesPerWord));
      upper[e] = static_cast<int32_t>(state & 1);
      lower[e] = static_cast<int32_t>((state >> 1) & 1);
      ++k;
    } else if (is_set(kind)) {
      set_window_lower(e) = get_f64(other);
      set_window_upper(e) = get_f64(other + 8);
      other += 16;
    } else {
      lower[e] = get_i32(other);
      upper[e] = get_i32(other + 4);
      other += 8;
    }
  }
}

void pack_basis_status(unsigned char* d) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t rows = coded_rows();
  const int64_t positions = coded_positions();
  std::memset(d, 0, static_cast<size_t>(4 * ((positions + kStatesPerWord - 1) / kStatesPerWord)));
  int64_t k = 0;
  auto put = [&](uint32_t code) {
    unsigned char* word = d + 4 * (k / kStatesPerWord);
    put_u32(word, get_u32(word) | code << (2 * (k % kStatesPerWord)));
    ++k;
  };
  for (int32_t r = 1; r <= rows; ++r) put(r <= nrow ? (static_cast<uint32_t>(status[r]) >> 1) & 3 : 0);
  for (int32_t p = store.first_col; p <= nseq; ++p) put((static_cast<uint32_t>(status[p]) >> 1) & 3);
}

void unpack_basis_status(const unsigned char* s) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t rows = coded_rows();
  int64_t k = 0;
  auto take = [&](int32_t p) {
    const uint32_t code = (get_u32(s + 4 * (k / kStatesPerWord)) >> (2 * (k % kStatesPerWord))) & 3;
    ++k;
    if (p == 0) return;
    status[p] = static_cast<int32_t>((static_cast<uint32_t>(status[p]) & ~uint32_t{PS_BASIC | PS_AT_UPPER}) |
                                     code << 1);
  };
  for (int32_t r = 1; r <= rows; ++r) take(r <= nrow ? r : 0);
  for (int32_t p = store.first_col; p <= nseq; ++p) take(p);
}

unsigned char* node_image() { return static_cast<unsigned char*>(array_cells[ARR_NODE_IMAGE]); }

NodeHeader read_image_header() {
  if (node_image() == nullptr) return NodeHeader{};
  return unpack_node_header(node_image());
}

void write_image_header(const NodeHeader& header) {
  if (!ensure_image(std::max<int64_t>(packed_bytes(), node_record_bytes))) return;
  pack_node_header(header, node_image());
}

void pack_node() {
  if (!ensure_image(std::max<int64_t>(packed_bytes(), node_record_bytes))) {
    report_no_memory(ARR_NODE_IMAGE);
    return;
  }
  pack_current(node_image());
}

void unpack_node() {
  if (node_image() == nullptr) return;
  node_header = unpack_node_header(node_image());
  restore_cuts_of_header();
  if (status_code != 0) return;
  unpack_states_and_basis(node_image());
}

void swap_node() {
  if (!ensure_image(std::max<int64_t>(packed_bytes(), node_record_bytes))) return;
  unsigned char* scratch = scratch_record();
  pack_current(scratch);
  node_header = unpack_node_header(node_image());
  restore_cuts_of_header();
  if (status_code == 0) unpack_states_and_basis(node_image());
  std::memcpy(node_image(), scratch, static_cast<size_t>(image_stride()));
}

void keep_node_header() { kept_node_header = node_header; }

void store_active_node(int32_t mode) {
  const int32_t slot = active_table.free_head;
  active_table.free_head = active_node_next_free(slot);
  if (active_table.free_head > icv(ic::MXANOD)) {
    const int32_t gprint = icv(ic::GPRINT);
    if (gprint < 0 || gprint == 3) {
      begin_message(MSG_NODE_TABLE_GROWS);
      insert_message_int(icv(ic::MXANOD));
      emit_message();
    }
    int32_t error = 0;
    grow_active_table(error);
    if (error != 0) {
      // Keep the slot taken off the list so the table stays consistent.
      set_active_node_next_free(slot, active_table.free_head);
      active_table.free_head = slot;
      status_code = STATUS_REPORTED;
      return;
    }
  }
  active_table.active_count = std::max(active_table.active_count, slot);
  active_table.current_slot = slot;
  const NodeHeader header = mode == 1 ? node_header : read_image_header();
  set_active_node_id(slot, header.node_id);
  active_node_bound(slot) = header.bound;
  active_node_estimate(slot) = header.bound + sense_factor * header.degradation;
  active_node_depth(slot) = header.depth;
  if (mode == 1) {
    if (!ensure_image(std::max<int64_t>(packed_bytes(), node_record_bytes))) {
      status_code = STATUS_REPORTED;
      return;
    }
    pack_current(scratch_record());
    write_node_record(slot, scratch_record());
  } else {
    write_node_record(slot, node_image());
  }
}

void take_active_node() {
  read_node_record();
  if (status_code != 0) return;
  const int32_t slot = active_table.current_slot;
  NodeHeader header = read_image_header();
  // A pair whose first child KLDELNODE dropped comes back as the other child.
  if (header.node_id > 0 && active_node_id(slot) < 0) {
    header.node_id = -header.node_id;
    write_image_header(header);
  }
  set_active_node_id(slot, 0);
  int_attribute(kNodeDepthAttribute) = header.depth;
}

void write_node_record(int64_t record, const unsigned char* buffer) {
  const int32_t unit = search_work_files.units[0];
  int32_t error = unit < 0 ? 1 : 0;
  if (error == 0) seek_unit_record(unit, record, error);
  if (error == 0) write_unit_record(unit, buffer, error);
  if (error != 0) report_file_error(glb_name());
}

void read_node_record() {
  const int32_t unit = search_work_files.units[0];
  int32_t error = unit < 0 || !ensure_image(std::max<int64_t>(packed_bytes(), node_record_bytes)) ? 1 : 0;
  if (error == 0) seek_unit_record(unit, active_table.current_slot, error);
  if (error == 0) read_unit_record(unit, node_image(), error);
  if (error != 0) report_file_error(glb_name());
}

namespace {

// The table's arrays in their order in the wrk file, with the bytes of one
// entry.
struct TableArray {
  int32_t id;
  int32_t bytes;
};
constexpr TableArray kTableArrays[] = {
    {ARR_NODE_DEPTH, 4}, {ARR_NODE_ID, 4}, {ARR_NODE_BOUND, 8}, {ARR_NODE_ESTIMATE, 8}};

bool write_table_array(int32_t unit, const TableArray& a, int64_t slots) {
  std::vector<unsigned char> chunk(static_cast<size_t>(kGrowChunk * a.bytes));
  for (int64_t first = 1; first <= slots; first += kGrowChunk) {
    const int64_t count = std::min(kGrowChunk, slots - first + 1);
    for (int64_t i = 0; i < count; ++i) {
      const int32_t slot = static_cast<int32_t>(first + i);
      if (a.bytes == 4) put_i32(&chunk[static_cast<size_t>(4 * i)], array_of<int32_t>(a.id)[slot]);
      else put_f64(&chunk[static_cast<size_t>(8 * i)], array_of<double>(a.id)[slot]);
    }
    int32_t error = 0;
    write_unit_bytes(unit, chunk.data(), count * a.bytes, error);
    if (error != 0) return false;
  }
  return true;
}

bool read_table_array(int32_t unit, const TableArray& a, int64_t slots) {
  std::vector<unsigned char> chunk(static_cast<size_t>(kGrowChunk * a.bytes));
  for (int64_t first = 1; first <= slots; first += kGrowChunk) {
    const int64_t count = std::min(kGrowChunk, slots - first + 1);
    int32_t error = 0;
    read_unit_bytes(unit, chunk.data(), count * a.bytes, error);
    if (error != 0) return false;
    for (int64_t i = 0; i < count; ++i) {
      const int32_t slot = static_cast<int32_t>(first + i);
      if (a.bytes == 4) array_of<int32_t>(a.id)[slot] = get_i32(&chunk[static_cast<size_t>(4 * i)]);
      else array_of<double>(a.id)[slot] = get_f64(&chunk[static_cast<size_t>(8 * i)]);
    }
  }
  return true;
}

}  // namespace

void grow_active_table(int32_t& error) {
  error = 0;
  const int32_t old_slots = icv(ic::MXANOD);
  if (old_slots > INT32_MAX / 2 - 1) {
    error = 1;
    return;
  }
  free_row_lists();
  free_factor_arrays();

  const std::string name = make_work_file_name("wrk");
  int32_t unit = -1, open_error = 0;
  create_unit_bytes(name.c_str(), unit, open_error);
  if (open_error != 0) {
    report_file_error(name);
    error = 1;
    return;
  }
  auto fail = [&] {
    int32_t ignored = 0;
    close_unit(unit, ignored);
    remove_file_parts(name.c_str());
    error = 1;
    status_code = STATUS_REPORTED;
  };

  const TableArray cut_lists{ARR_NODE_CUT_LIST, 4};
  const int64_t image_bytes = image_stride();
  bool written = true;
  for (const TableArray& a : kTableArrays) written = written && write_table_array(unit, a, old_slots);
  int32_t transfer_error = 0;
  if (written) write_unit_bytes(unit, node_image(), image_bytes, transfer_error);
  written = written && transfer_error == 0 && write_table_array(unit, cut_lists, old_slots);
  if (!written) {
    report_file_error(name);
    fail();
    return;
  }

  free_array(ARR_NODE_CUT_LIST, array_cells[ARR_NODE_CUT_LIST]);
  free_array(ARR_NODE_IMAGE, array_cells[ARR_NODE_IMAGE]);
  for (int k = 3; k >= 0; --k) free_array(kTableArrays[k].id, array_cells[kTableArrays[k].id]);
  const int32_t new_slots = 2 * old_slots;
  icv(ic::MXANOD) = new_slots;
  const int64_t entries = static_cast<int64_t>(new_slots) + 1;
  bool allocated = ensure_image(image_bytes);
  for (const TableArray& a : kTableArrays) {
    allocated = allocated && allocate_array(a.id, array_cells[a.id], a.bytes == 4 ? words_for_ints(entries)
                                                                                  : words_for_reals(entries)) == 0;
  }
  allocated = allocated && allocate_array(ARR_NODE_CUT_LIST, array_cells[ARR_NODE_CUT_LIST], words_for_ints(entries)) == 0;
  if (!allocated) {
    fail();
    return;
  }

  rewind_unit(unit, transfer_error);
  bool read = transfer_error == 0;
  for (const TableArray& a : kTableArrays) read = read && read_table_array(unit, a, old_slots);
  if (read) read_unit_bytes(unit, node_image(), image_bytes, transfer_error);
  read = read && transfer_error == 0 && read_table_array(unit, cut_lists, old_slots);
  int32_t ignored = 0;
  close_unit(unit, ignored);
  remove_file_parts(name.c_str());
  if (!read) {
    report_file_error(name);
    error = 1;
    status_code = STATUS_REPORTED;
    return;
  }

  for (int32_t k = old_slots + 1; k <= new_slots; ++k) {
    active_node_depth(k) = 0;
    int_array(ARR_NODE_ID)[k] = 0;
    active_node_bound(k) = 0.0;
    set_active_node_next_free(k, k + 1);
    active_node_cut_list(k) = 0;
  }

  if (nrow > 0 && array_cells[ARR_BASIS_HEADER] != nullptr) {
    set_basis_header();
    invert_basis();
  }
}

namespace {
// The name of the file write_rec_file made, until delete_rec_file.
std::string rec_file_written;
}  // namespace

void write_rec_file() {
  std::vector<double> values;
  save_recurse_values(values);
  const std::string name = make_work_file_name("rec");
  int32_t unit = -1, error = 0;
  create_unit_words(name.c_str(), unit, error);
  if (error == 0) rec_file_written = name;
  if (error == 0 && !values.empty()) {
    std::vector<unsigned char> bytes(values.size() * 8);
    for (size_t i = 0; i < values.size(); ++i) put_f64(&bytes[8 * i], values[i]);
    write_unit_words(unit, bytes.data(), static_cast<int64_t>(bytes.size() / 2), error);
  }
  int32_t close_error = 0;
  if (unit >= 0) close_unit(unit, close_error);
  if (error != 0 || close_error != 0) report_file_error(name);
}

void read_rec_file() {
  std::vector<double> values(static_cast<size_t>(std::max(count_recurse_values(), 0)));
  const std::string name = make_work_file_name("rec");
  int32_t unit = -1, error = 0;
  open_unit_read_words(name.c_str(), unit, error);
  if (error == 0 && !values.empty()) {
    std::vector<unsigned char> bytes(values.size() * 8);
    read_unit_words(unit, bytes.data(), static_cast<int64_t>(bytes.size() / 2), error);
    for (size_t i = 0; error == 0 && i < values.size(); ++i) values[i] = get_f64(&bytes[8 * i]);
  }
  if (error == 0 && !restore_recurse_values(values)) error = 1;
  if (error == 0) apply_recurse_values();
  int32_t close_error = 0;
  if (unit >= 0) close_unit(unit, close_error);
  if (error != 0 || close_error != 0) report_file_error(name);
}

void delete_rec_file() {
  if (rec_file_written.empty()) return;
  remove_file_parts(rec_file_written.c_str());
  rec_file_written.clear();
}

}  // namespace kl
