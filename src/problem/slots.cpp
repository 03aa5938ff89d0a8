#include "problem/slots.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "runtime/problem_name.h"
#include "problem/factor_arrays.h"
#include "factor/invert.h"
#include "problem/scale_exponents.h"
#include "factor/starting_basis.h"
#include "files/solution_file.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/search_state.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/queries.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "simplex/lp_driver.h"
#include "simplex/solver_reset.h"

namespace kl {

void* slot_save_buffer[kSlotCount + 1] = {};
int32_t array_slot_class[kMaxArrayId + 1] = {};

namespace {

// The scalar records of a problem put aside, in one trivially copyable
// block; the problem name's text follows it in the buffer.
struct SavedRecords {
  // Counts, state and store scalars.
  int32_t integer_attributes[kIntAttributeCount + 1];
  int32_t problem_state;
  StoreScalars store;
  OriginalProblem original;
  // The double store (controls and internal values) and the other tables.
  double double_controls[kDoubleStoreSize + 1];
  int32_t double_set_flags[kDoubleControlCount + 1];
  int32_t integer_controls[kIntControlCount + 1];
  int32_t integer_set_flags[kIntControlCount + 1];
  char character_controls[kCharControlCount + 1][8];
  int32_t character_set_flags[kCharControlCount + 1];
  char character_attributes[6][8];
  int32_t barrier_int_attributes[6];
  double barrier_double_attributes[6];
  // Global search, solution file and LP driver.
  SearchRecord search;
  int32_t global_search_started;
  int32_t search_node_count;
  int32_t node_factor_reusable;
  int32_t work_file_units[2];
  SolutionHeaderCopy solution_header;
  int32_t partial_integer_count;
  LpDriverState lp_driver;
  PresolveState presolve;
  int32_t presolve_tops[2];
  char status_letter;
  int32_t optimise_mode;
  // Scalars of the set-up, scaling and storage that describe the problem.
  int32_t objective_name_row;
  int32_t objective_scale_exponent;
  double bigm_fallback;
  int32_t has_semicont_columns;
  int32_t row_classes_available;
  int32_t fill_capacity;
  int32_t recurse_entry_count;
  int32_t file_quadratic_entry_count;
  int32_t cut_space_mode;
  int32_t name_hash_size;
  RepairRecord repair;
  // The problem name: its length word and the bytes of its text, which
  // follow this record.
  int32_t name_length;
  int64_t name_bytes;
};
static_assert(std::is_trivially_copyable_v<SavedRecords>, "a save buffer is copied as plain words");

// Names of the global-search work files of each slot's saved problem (the
// units are in the buffer).
std::string saved_work_file_names[kSlotCount + 1][2];

}  // namespace

// Arrays that move with a slot. The solver work arrays, row lists and the
// factor are freed before a switch and rebuilt after it.
const int32_t kPersistentIds[kPersistentIdCount] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                      20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 33, 34, 43, 55, 56, 57, 59, 60,
                                      61, 63, 74, 79, 82, 83, 84, 85, 86, 88, 95, 96, 97, 98};

namespace {

bool valid_slot(int32_t s) { return s >= 1 && s <= kSlotCount; }

int64_t buffer_words(size_t name_bytes) {
  const size_t bytes = sizeof(SavedRecords) + name_bytes;
  return std::max<int64_t>(kSaveBufferWords, static_cast<int64_t>((bytes + 3) / 4));
}

SavedRecords* records_of(int32_t slot) { return static_cast<SavedRecords*>(slot_save_buffer[slot]); }
char* name_text_of(int32_t slot) { return static_cast<char*>(slot_save_buffer[slot]) + sizeof(SavedRecords); }

// The current slot's buffer holds room for the records and the name.
// False after message 20 (nothing changed).
bool ensure_save_buffer() {
  void*& buffer = slot_save_buffer[current_slot];
  const int64_t words = buffer_words(problem_name.text.size());
  if (block_words(buffer) >= words) return true;
  if (allocate_or_grow_array(0, buffer, words) == 0) return true;
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(0);
  emit_message();
  status_code = STATUS_REPORTED;
  return false;
}

void take_records(SavedRecords& r) {
  std::memcpy(r.integer_attributes, integer_attributes, sizeof r.integer_attributes);
  r.problem_state = problem_state;
  r.store = store;
  r.original = original_problem;
  std::memcpy(r.double_controls, double_controls, sizeof r.double_controls);
  std::memcpy(r.double_set_flags, double_set_flags, sizeof r.double_set_flags);
  std::memcpy(r.integer_controls, integer_controls, sizeof r.integer_controls);
  std::memcpy(r.integer_set_flags, integer_set_flags, sizeof r.integer_set_flags);
  std::memcpy(r.character_controls, character_controls, sizeof r.character_controls);
  std::memcpy(r.character_set_flags, character_set_flags, sizeof r.character_set_flags);
  std::memcpy(r.character_attributes, character_attributes, sizeof r.character_attributes);
  std::memcpy(r.barrier_int_attributes, barrier_int_attributes, sizeof r.barrier_int_attributes);
  std::memcpy(r.barrier_double_attributes, barrier_double_attributes, sizeof r.barrier_double_attributes);
  r.search = search_record;
  r.global_search_started = global_search_started;
  r.search_node_count = search_node_count;
  r.node_factor_reusable = node_factor_reusable;
  r.work_file_units[0] = search_work_files.units[0];
  r.work_file_units[1] = search_work_files.units[1];
  r.solution_header = solution_header_copy;
  r.partial_integer_count = partial_integer_count;
  r.lp_driver = lp_driver;
  r.presolve = presolve_state;
  r.presolve_tops[0] = presolve_int_top;
  r.presolve_tops[1] = presolve_real_top;
  r.status_letter = status_letter;
  r.optimise_mode = optimise_mode;
  r.objective_name_row = objective_name_row;
  r.objective_scale_exponent = objective_scale_exponent;
  r.bigm_fallback = bigm_fallback;
  r.has_semicont_columns = has_semicont_columns;
  r.row_classes_available = row_classes_available;
  r.fill_capacity = fill_capacity;
  r.recurse_entry_count = recurse_entry_count;
  r.file_quadratic_entry_count = file_quadratic_entry_count;
  r.cut_space_mode = cut_space_mode;
  r.name_hash_size = name_hash_size;
  r.repair = repair_record;
}

void put_records(const SavedRecords& r) {
  std::memcpy(integer_attributes, r.integer_attributes, sizeof r.integer_attributes);
  problem_state = r.problem_state;
  store = r.store;
  original_problem = r.original;
  std::memcpy(double_controls, r.double_controls, sizeof r.double_controls);
  std::memcpy(double_set_flags, r.double_set_flags, sizeof r.double_set_flags);
  std::memcpy(integer_controls, r.integer_controls, sizeof r.integer_controls);
  std::memcpy(integer_set_flags, r.integer_set_flags, sizeof r.integer_set_flags);
  std::memcpy(character_controls, r.character_controls, sizeof r.character_controls);
  std::memcpy(character_set_flags, r.character_set_flags, sizeof r.character_set_flags);
  std::memcpy(character_attributes, r.character_attributes, sizeof r.character_attributes);
  std::memcpy(barrier_int_attributes, r.barrier_int_attributes, sizeof r.barrier_int_attributes);
  std::memcpy(barrier_double_attributes, r.barrier_double_attributes, sizeof r.barrier_double_attributes);
  search_record = r.search;
  global_search_started = r.global_search_started;
  search_node_count = r.search_node_count;
  node_factor_reusable = r.node_factor_reusable;
  search_work_files.units[0] = r.work_file_units[0];
  search_work_files.units[1] = r.work_file_units[1];
  solution_header_copy = r.solution_header;
  partial_integer_count = r.partial_integer_count;
  lp_driver = r.lp_driver;
  presolve_state = r.presolve;
  presolve_int_top = r.presolve_tops[0];
  presolve_real_top = r.presolve_tops[1];
  status_letter = r.status_letter;
  optimise_mode = r.optimise_mode;
  objective_name_row = r.objective_name_row;
  objective_scale_exponent = r.objective_scale_exponent;
  bigm_fallback = r.bigm_fallback;
  has_semicont_columns = r.has_semicont_columns;
  row_classes_available = r.row_classes_available;
  fill_capacity = r.fill_capacity;
  recurse_entry_count = r.recurse_entry_count;
  file_quadratic_entry_count = r.file_quadratic_entry_count;
  cut_space_mode = r.cut_space_mode;
  name_hash_size = r.name_hash_size;
  repair_record = r.repair;
}

// Every record of slot s's buffer back into the globals, the work files and
// the problem name included.
void load_problem_blocks(int32_t s) {
  const SavedRecords& r = *records_of(s);
  put_records(r);
  for (int k = 0; k < 2; ++k) search_work_files.names[k] = saved_work_file_names[s][k];
  if (r.name_bytes >= 0) {
    problem_name.text.assign(name_text_of(s), static_cast<size_t>(r.name_bytes));
    problem_name.length = r.name_length;
  }
}

// The derived arrays go before a switch. The column-wise matrix is the
// master copy that moves with the slot: when only the row copy (a solver
// work array) is valid, the column copy is rebuilt from it first.
void release_derived_arrays() {
  if ((problem_flags & PF_COLUMN_COPY) == 0 && (problem_flags & PF_ROW_COPY) != 0 &&
      (problem_flags & PF_WORK_ARRAYS) != 0) {
    build_column_copy();
  }
  problem_flags &= ~PF_SOLUTION_CURRENT;
  free_factor_arrays();
  if (problem_flags & PF_ROW_LISTS) free_row_lists();
  if (problem_flags & PF_WORK_ARRAYS) free_solver_work_arrays();
}

void clear_array_cells() {
  for (void*& cell : array_cells) cell = nullptr;
}

void report_slot(int32_t n, int32_t value, const char* routine_name) { report_error(n, value, routine_name); }

void report_no_free_slot(const char* routine_name) {
  error_number = MSG_SLOT_NONE_FREE;
  error_value = kSlotCount;
  status_code = STATUS_REPORTED;
  begin_message(MSG_SLOT_NONE_FREE);
  insert_message_chars(routine_name, static_cast<int32_t>(std::strlen(routine_name)));
  insert_message_int(kSlotCount);
  emit_message();
}

// Message 20 naming the array that could not be had.
void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

// Character attribute 3001 from the problem name, as a load sets it: the
// stem after the last directory separator, at most 8 characters.
void set_problem_name_attribute() {
  const std::string stem = get_problem_name();
  const size_t separator = stem.find_last_of("/\\");
  const std::string base = separator == std::string::npos ? stem : stem.substr(separator + 1);
  char* attribute = character_attributes[1];
  std::memset(attribute, ' ', 8);
  std::memcpy(attribute, base.data(), std::min<size_t>(base.size(), 8));
}

// The work vector is zero and its nonzero list must be rebuilt.
void clear_work_vector_state() {
  if (void* block = array_cells[ARR_WORK_VECTOR])
    std::memset(block, 0, static_cast<size_t>(block_words(block)) * sizeof(int32_t));
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_CLEAR_ALL;
}

// Copies of the persistent blocks of a slot (both registry tables), made
// before anything changes so that a failed copy leaves the problem alone.
struct DuplicatedBlocks {
  void* current[kMaxArrayId + 1] = {};
  void* saved[kMaxArrayId + 1] = {};

  void release() {
    for (int id = 0; id <= kMaxArrayId; ++id) {
      if (saved[id] != nullptr && saved[id] != current[id]) free_array(0, saved[id]);
      free_array(0, current[id]);
      saved[id] = nullptr;
    }
  }
};

void* duplicate_block(const void* block, int32_t& failed, int32_t id) {
  if (block == nullptr || failed != 0) return nullptr;
  void* copy = nullptr;
  const int64_t words = block_words(block);
  if (allocate_array_keep_old(0, copy, words) != 0) {
    failed = id;
    return nullptr;
  }
  std::memcpy(copy, block, static_cast<size_t>(words) * sizeof(int32_t));
  return copy;
}

// Returns 0 or the id of the block that could not be copied (the copies
// made are freed again).
int32_t duplicate_blocks(int32_t source, DuplicatedBlocks& out) {
  int32_t failed = 0;
  for (const int32_t id : kPersistentIds) {
    const void* block = array_registry[id][source];
    const void* kept = saved_array_registry[id][source];
    out.current[id] = duplicate_block(block, failed, id);
    // A block registered in both tables is copied once and shared again.
    out.saved[id] = kept == block ? out.current[id] : duplicate_block(kept, failed, id);
  }
  if (failed != 0) out.release();
  return failed;
}

// Registers the copies for the current slot and points the cells at them.
void install_blocks(DuplicatedBlocks& blocks) {
  for (int id = 1; id <= kMaxArrayId; ++id) {
    if (blocks.current[id] == nullptr && blocks.saved[id] == nullptr) continue;
    array_registry[id][current_slot] = blocks.current[id];
    saved_array_registry[id][current_slot] = blocks.saved[id];
    array_cells[id] = blocks.current[id];
    blocks.current[id] = nullptr;
    blocks.saved[id] = nullptr;
  }
}

// The current problem goes into its slot's buffer (allocated beforehand)
// and the first free slot becomes current with an empty problem. Returns
// the slot holding the problem.
int32_t put_current_problem_aside(int32_t target) {
  release_derived_arrays();
  save_problem_blocks(1);
  const int32_t holder = current_slot;
  clear_array_cells();
  problem_state = 0;
  problem_flags = 0;
  current_slot = target;
  // The slot taken holds nothing yet: an empty problem with the counts
  // cleared and the controls as they were.
  abandon_load();
  return holder;
}

// After a problem became current in a new slot: the solver work arrays and
// the row-wise copy. False after message 20.
bool rebuild_work_arrays() {
  if (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) problem_flags &= ~PF_ROW_COPY;
  if (const int32_t failed = alloc_solver_work_arrays()) {
    report_no_memory(failed);
    return false;
  }
  build_row_copy();
  problem_flags &= ~(PF_ROW_LISTS | PF_FACTOR_VALID);
  clear_work_vector_state();
  return true;
}

}  // namespace

void release_slot_derived_arrays() { release_derived_arrays(); }
bool rebuild_slot_work_arrays() { return rebuild_work_arrays(); }

void reset_problem_slots() {
  for (void*& buffer : slot_save_buffer) buffer = nullptr;
  for (auto& names : saved_work_file_names)
    for (std::string& name : names) name.clear();
  for (int id = 0; id <= kMaxArrayId; ++id) array_slot_class[id] = 1;
  for (int id = 1; id <= 9; ++id) array_slot_class[id] = 2;
  for (int id : {21, 22, 23, 24, 25, 55, 74}) array_slot_class[id] = 3;
  for (int id : {28, 29, 30}) array_slot_class[id] = -2;
  current_slot = 1;
}

int32_t first_free_slot() {
  for (int32_t s = 1; s <= kSlotCount; ++s)
    if (s != current_slot && slot_save_buffer[s] == nullptr) return s;
  return 0;
}

int32_t save_problem_blocks(int32_t name_flag) {
  if (!valid_slot(current_slot) || !ensure_save_buffer()) return -1;
  if (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) original_problem.presolved_nrow = nrow;
  SavedRecords& r = *records_of(current_slot);
  take_records(r);
  r.name_length = problem_name.length;
  r.name_bytes = -1;
  if (name_flag == 1) {
    r.name_bytes = static_cast<int64_t>(problem_name.text.size());
    std::memcpy(name_text_of(current_slot), problem_name.text.data(), problem_name.text.size());
  }
  // The work files stay with the problem put aside.
  for (int k = 0; k < 2; ++k) {
    saved_work_file_names[current_slot][k] = search_work_files.names[k];
    search_work_files.names[k].clear();
    search_work_files.units[k] = -1;
  }
  return 0;
}

int32_t copy_slot_arrays(int32_t source_slot) {
  if (!valid_slot(source_slot) || !valid_slot(current_slot)) return -1;
  DuplicatedBlocks blocks;
  if (const int32_t failed = duplicate_blocks(source_slot, blocks)) return failed;
  install_blocks(blocks);
  return 0;
}

void free_current_problem_arrays() { free_problem_registry(current_slot); }

void reload_array_cells() {
  if (!valid_slot(current_slot)) return;
  for (int id = 1; id <= kMaxArrayId; ++id) array_cells[id] = array_registry[id][current_slot];
}

void save_matrix_slot(int32_t* slot) {
  begin_body();
  int32_t holder = 0;
  if (!require_problem()) {
    if (slot != nullptr) *slot = 0;
    return;
  }
  // A free slot is found before anything changes: with none, the problem
  // stays current and reachable.
  const int32_t target = first_free_slot();
  if (target == 0) {
    report_no_free_slot(routine::kSavmat);
  } else if (ensure_save_buffer()) {
    holder = put_current_problem_aside(target);
  }
  if (slot != nullptr) *slot = holder;
}

void restore_matrix_slot(int32_t s) {
  begin_body();
  if (!valid_slot(s) || slot_save_buffer[s] == nullptr) {
    report_slot(MSG_SLOT_INVALID, s, routine::kResmat);
    return;
  }
  if (s == current_slot) return;
  const bool keep_current = slot_save_buffer[current_slot] != nullptr;
  if (keep_current && !ensure_save_buffer()) return;

  release_derived_arrays();
  if (keep_current) {
    save_problem_blocks(1);
  } else {
    // A problem whose slot was never put aside is discarded.
    delete_global_work_files();
    free_current_problem_arrays();
  }
  clear_array_cells();
  current_slot = s;
  reset_solver_state();
  load_problem_blocks(s);
  reload_array_cells();
  if (problem_state >= 1) rebuild_work_arrays();
  set_problem_name_attribute();
  begin_message(MSG_SLOT_RESTORED);
  insert_message_string(get_problem_name().c_str());
  emit_message();
}

void copy_matrix_slot(int32_t* slot) {
  begin_body();
  if (slot != nullptr) *slot = 0;
  if (!require_problem()) return;
  const int32_t target = first_free_slot();
  if (target == 0) {
    report_no_free_slot(routine::kCpymat);
    return;
  }
  if (!ensure_save_buffer()) return;
  // The persistent arrays of the slot are the problem once the column copy
  // is the master again.
  if ((problem_flags & PF_COLUMN_COPY) == 0 && (problem_flags & PF_ROW_COPY) != 0 &&
      (problem_flags & PF_WORK_ARRAYS) != 0) {
    build_column_copy();
  }
  DuplicatedBlocks blocks;
  if (const int32_t failed = duplicate_blocks(current_slot, blocks)) {
    report_no_memory(failed);
    return;
  }

  const int32_t kept_state = problem_state;
  const int32_t kept_flags = problem_flags;
  const bool factor_was_valid = (kept_flags & PF_FACTOR_VALID) != 0;
  const int32_t original = put_current_problem_aside(target);
  load_problem_blocks(original);
  // The work files stay with the original.
  for (int k = 0; k < 2; ++k) {
    search_work_files.units[k] = -1;
    search_work_files.names[k].clear();
  }
  problem_state = kept_state;
  problem_flags = kept_flags & ~(PF_ROW_LISTS | PF_LU_ARRAYS | PF_WORK_ARRAYS | PF_FACTOR_VALID |
                                 PF_SOLUTION_CURRENT);
  install_blocks(blocks);
  if (slot != nullptr) *slot = original;
  global_search_started = 0;
  if (!rebuild_work_arrays()) return;

  row_classes_available = 0;
  icv(ic::IFCUTP) = 0;
  OneBased<double> working_costs = real_array(ARR_WORKING_COSTS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t p = 1; p <= nseq; ++p) working_costs[p] = p >= store.first_col ? cost[p] : 0.0;
  if (!factor_was_valid) return;
  // The original's basis was factorised: the copy starts from the same
  // basis with a factor of its own.
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  for (int32_t i = 1; i <= nrow; ++i) weights[i] = 1.0;
  set_basis_header();
  invert_basis(InvertReason::kNewBasis);
  if ((problem_flags & PF_FACTOR_VALID) == 0) return;
  problem_flags |= PF_SOLUTION_CURRENT;
  icv(ic::IFMEM) = (icv(ic::IFMEM) & ~3) + 1;
}

void delete_matrix_slot(int32_t s) {
  begin_body();
  // The current slot's arrays are in use: freeing them would leave the
  // current problem pointing at released storage.
  if (s < 0 || s > kSlotCount || s == current_slot) {
    report_slot(MSG_SLOT_INVALID, s, routine::kDelmat);
    return;
  }
  if (s == 0 || slot_save_buffer[s] == nullptr) return;
  free_factor_arrays();
  free_array(0, slot_save_buffer[s]);
  free_problem_registry(s);
  for (std::string& name : saved_work_file_names[s]) name.clear();
}

void switch_matrix_slot(int32_t* slot, int32_t mode) {
  if (mode == SLOT_RESTORE) {
    restore_matrix_slot(slot != nullptr ? *slot : 0);
  } else {
    save_matrix_slot(slot);
  }
}

}  // namespace kl
