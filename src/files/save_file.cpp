#include "files/save_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "factor/basis.h"
#include "factor/simplex_state.h"
#include "files/solution_file.h"
#include "global/node_bounds.h"
#include "global/node_store.h"
#include "global/search_driver.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/queries.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/setup.h"
#include "problem/slots.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "runtime/problem_name.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "simplex/lp_driver.h"
#include "simplex/solver_reset.h"

namespace kl {

namespace {

constexpr const char* kSaveExtension = "svf";
// Extensions of the global search's node and cut files, in the order of
// search_work_files.
constexpr const char* kSearchFileExtensions[2] = {"glb", "ctp"};
// Bytes read from the save file at a time: a header that claims more than
// the file holds costs no more memory than the file itself.
constexpr size_t kReadChunkBytes = size_t{1} << 20;
// Array entry flags in the file.
constexpr uint32_t kArrayCurrent = 0x1;
constexpr uint32_t kArraySaved = 0x2;
constexpr uint32_t kArraySavedIsCurrent = 0x4;

// ---------------------------------------------------------------------------
// The fields of each record, in file order. Each visitor calls f on every
// field; f handles scalars, fixed arrays and (through these lists) records.

template <class F> void each_field(F& f, StoreScalars& s) {
  f(s.first_col), f(s.elem_space), f(s.objective_row), f(s.unpresolvable_count);
}
template <class F> void each_field(F& f, OriginalProblem& s) {
  f(s.nrow), f(s.nseq), f(s.first_col), f(s.nelem), f(s.nqelem), f(s.nglent), f(s.spare_rows), f(s.spare_cols);
  f(s.spare_elems), f(s.objective_row), f(s.presolved_nrow), f(s.presolved_nseq), f(s.presolve_nglent);
  f(s.presolve_nsets), f(s.presolve_nsosm), f(s.objective_constant);
}
template <class F> void each_field(F& f, SearchRecord& s) {
  f(s.stored_cut_count), f(s.pool_elements_used), f(s.pool_free_head), f(s.saved_bound_count);
  f(s.branch_bound_count), f(s.cut_rows_added), f(s.cut_rows_deleted), f(s.cut_rows_loaded), f(s.binary_count);
  f(s.binary_entity_count), f(s.node_record_bytes), f(s.node_records_per_entity_block), f(s.reserved);
}
template <class F> void each_field(F& f, SolutionHeaderCopy& s) {
  f(s.problem_name), f(s.rows), f(s.columns), f(s.first_col), f(s.nseq), f(s.objective_row), f(s.status_letter);
  f(s.sense_code), f(s.search_byte), f(s.reserved_byte), f(s.itcnt), f(s.ninf), f(s.name_words);
  f(s.solution_kind), f(s.version), f(s.partial_integer_count), f(s.objective_value), f(s.sum_infeasibilities);
  f(s.objective_name), f(s.rhs_name), f(s.bound_name), f(s.range_name), f(s.spare_words);
}
template <class F> void each_field(F& f, LpDriverState& s) {
  f(s.search_cutoff), f(s.bigm_at_start), f(s.presolve_active), f(s.no_basis), f(s.global_problem);
}
template <class F> void each_field(F& f, PresolveCounts& s) {
  f(s.rows), f(s.last_position), f(s.elements), f(s.entities), f(s.set_members), f(s.sets);
}
template <class F> void each_field(F& f, PresolveState& s) {
  f(s.outcome), f(s.round_change), f(s.saved_itrace), f(s.removed_rows), f(s.removed_columns);
  f(s.removed_elements), f(s.rounded_bounds), f(s.conflict_stop), f(s.unbounded_position), f(s.counts);
  f(s.presolved_first_col), f(s.presolved_objective_row), f(s.orig_spare_rows_left), f(s.orig_spare_cols_left);
  f(s.orig_spare_elems_left), f(s.orig_typed_entries), f(s.saved_memory_word), f(s.fill_reserve);
  f(s.original_fixed_constant), f(s.orig_nqelem), f(s.presolved_spare_elems_left), f(s.presolved_nqelem);
  f(s.presolved_objective_constant), f(s.original_current), f(s.presolved_nglent), f(s.presolved_nsets);
  f(s.presolved_nsosm);
}
template <class F> void each_field(F& f, RepairRecord& s) { f(s.repair_count), f(s.removed_variables), f(s.slack_rows); }
template <class F> void each_field(F& f, NodeCutListState& s) {
  f(s.current_cut_list), f(s.cut_file_next), f(s.cut_rows_changed);
}
template <class F> void each_field(F& f, SearchDriverState& s) {
  f(s.scaled_cutoff), f(s.scaled_addcut), f(s.scaled_target), f(s.node_cutoff_value), f(s.dive_state);
  f(s.pending_work), f(s.first_child_open), f(s.second_child_open), f(s.branched_fractional_count);
  f(s.pending_fractional_count), f(s.list_selection_count), f(s.log_line_counter), f(s.current_node_number);
  f(s.fractional_count), f(s.fractional_entity_count), f(s.clock_start), f(s.stop_flag), f(s.last_stop_code);
  f(s.node_in_process);
}
template <class F> void each_field(F& f, ActiveNodeTable& s) { f(s.free_head), f(s.current_slot), f(s.active_count); }
template <class F> void each_field(F& f, NodeHeader& s) {
  f(s.first_direction), f(s.node_id), f(s.node_number), f(s.branch_entity), f(s.fractional_count), f(s.reserved);
  f(s.depth), f(s.branch_value), f(s.bound), f(s.degradation), f(s.up_estimate), f(s.down_estimate);
  f(s.down_limit), f(s.up_limit), f(s.first_cut_list), f(s.second_cut_list), f(s.set_split_value);
}

// ---------------------------------------------------------------------------
// The problem's scalar state: a copy of every global record that describes
// the problem (what a slot's save buffer keeps, and the global search's
// records of a search that may continue).

template <class T> using Plain = std::remove_cvref_t<T>;

struct StateImage {
  Plain<decltype(integer_attributes)> integer_attributes_;
  int32_t problem_state_;
  StoreScalars store_;
  OriginalProblem original_;
  Plain<decltype(double_controls)> double_controls_;
  Plain<decltype(double_set_flags)> double_set_flags_;
  Plain<decltype(integer_controls)> integer_controls_;
  Plain<decltype(integer_set_flags)> integer_set_flags_;
  Plain<decltype(character_controls)> character_controls_;
  Plain<decltype(character_set_flags)> character_set_flags_;
  Plain<decltype(character_attributes)> character_attributes_;
  Plain<decltype(barrier_int_attributes)> barrier_int_attributes_;
  Plain<decltype(barrier_double_attributes)> barrier_double_attributes_;
  SearchRecord search_record_;
  int32_t global_search_started_;
  int32_t node_factor_reusable_;
  int32_t node_cut_lists_in_use_;
  int32_t root_cut_count_;
  NodeCutListState node_cut_list_state_;
  int32_t model_cut_count_;
  SearchDriverState search_;
  ActiveNodeTable active_table_;
  NodeHeader node_header_;
  NodeHeader kept_node_header_;
  int32_t direct_child_flag_;
  int32_t two_bit_entity_count_;
  double fixed_entity_constant_;
  SolutionHeaderCopy solution_header_;
  int32_t partial_integer_count_;
  LpDriverState lp_driver_;
  PresolveState presolve_;
  int32_t presolve_int_top_;
  int32_t presolve_real_top_;
  char status_letter_;
  int32_t optimise_mode_;
  int32_t objective_name_row_;
  int32_t objective_scale_exponent_;
  double bigm_fallback_;
  int32_t has_semicont_columns_;
  int32_t row_classes_available_;
  int32_t fill_capacity_;
  int32_t recurse_entry_count_;
  int32_t file_quadratic_entry_count_;
  int32_t cut_space_mode_;
  int32_t name_hash_size_;
  RepairRecord repair_;
};

// Calls op(image field, global) for every field of the image, in file order.
template <class Op> void each_state_field(StateImage& m, Op&& op) {
  op(m.integer_attributes_, integer_attributes);
  op(m.problem_state_, problem_state);
  op(m.store_, store);
  op(m.original_, original_problem);
  op(m.double_controls_, double_controls);
  op(m.double_set_flags_, double_set_flags);
  op(m.integer_controls_, integer_controls);
  op(m.integer_set_flags_, integer_set_flags);
  op(m.character_controls_, character_controls);
  op(m.character_set_flags_, character_set_flags);
  op(m.character_attributes_, character_attributes);
  op(m.barrier_int_attributes_, barrier_int_attributes);
  op(m.barrier_double_attributes_, barrier_double_attributes);
  op(m.search_record_, search_record);
  op(m.global_search_started_, global_search_started);
  op(m.node_factor_reusable_, node_factor_reusable);
  op(m.node_cut_lists_in_use_, node_cut_lists_in_use);
  op(m.root_cut_count_, root_cut_count);
  op(m.node_cut_list_state_, node_cut_list_state);
  op(m.model_cut_count_, model_cut_count);
  op(m.search_, search);
  op(m.active_table_, active_table);
  op(m.node_header_, node_header);
  op(m.kept_node_header_, kept_node_header);
  op(m.direct_child_flag_, direct_child_flag);
  op(m.two_bit_entity_count_, two_bit_entity_count);
  op(m.fixed_entity_constant_, fixed_entity_constant);
  op(m.solution_header_, solution_header_copy);
  op(m.partial_integer_count_, partial_integer_count);
  op(m.lp_driver_, lp_driver);
  op(m.presolve_, presolve_state);
  op(m.presolve_int_top_, presolve_int_top);
  op(m.presolve_real_top_, presolve_real_top);
  op(m.status_letter_, status_letter);
  op(m.optimise_mode_, optimise_mode);
  op(m.objective_name_row_, objective_name_row);
  op(m.objective_scale_exponent_, objective_scale_exponent);
  op(m.bigm_fallback_, bigm_fallback);
  op(m.has_semicont_columns_, has_semicont_columns);
  op(m.row_classes_available_, row_classes_available);
  op(m.fill_capacity_, fill_capacity);
  op(m.recurse_entry_count_, recurse_entry_count);
  op(m.file_quadratic_entry_count_, file_quadratic_entry_count);
  op(m.cut_space_mode_, cut_space_mode);
  op(m.name_hash_size_, name_hash_size);
  op(m.repair_, repair_record);
}

template <class T> void assign(T& to, const T& from) {
  if constexpr (std::is_array_v<T>) {
    for (size_t k = 0; k < std::extent_v<T>; ++k) assign(to[k], from[k]);
  } else {
    to = from;
  }
}

void capture_state(StateImage& m) {
  each_state_field(m, [](auto& field, auto& global) { assign(field, global); });
}
void commit_state(StateImage& m) {
  each_state_field(m, [](auto& field, auto& global) { assign(global, field); });
}

// ---------------------------------------------------------------------------
// Little-endian field serialisers.

uint32_t crc32(const uint8_t* data, size_t n) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t k = 0; k < 256; ++k) {
      uint32_t c = k;
      for (int b = 0; b < 8; ++b) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[k] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t k = 0; k < n; ++k) c = table[(c ^ data[k]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

class Writer {
 public:
  std::vector<uint8_t> bytes;

  void u(uint64_t v, int n) {
    for (int k = 0; k < n; ++k) bytes.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }
  void raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  template <class T> void operator()(T& v) {
    if constexpr (std::is_array_v<T>) {
      for (auto& e : v) (*this)(e);
    } else if constexpr (std::is_same_v<T, char>) {
      u(static_cast<uint8_t>(v), 1);
    } else if constexpr (std::is_same_v<T, double>) {
      u(std::bit_cast<uint64_t>(v), 8);
    } else if constexpr (std::is_integral_v<T>) {
      u(static_cast<uint64_t>(static_cast<std::make_unsigned_t<T>>(v)), sizeof(T));
    } else {
      each_field(*this, v);
    }
  }
};

// Reads fields from a byte range; any read past the end marks the reader
// failed and yields zeros, so a parse runs to its end and is judged once.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool failed = false;

  size_t left() const { return size_ - at_; }
  uint64_t u(int n) {
    if (failed || left() < static_cast<size_t>(n)) {
      failed = true;
      return 0;
    }
    uint64_t v = 0;
    for (int k = 0; k < n; ++k) v |= static_cast<uint64_t>(data_[at_ + static_cast<size_t>(k)]) << (8 * k);
    at_ += static_cast<size_t>(n);
    return v;
  }
  const uint8_t* take(size_t n) {
    if (failed || left() < n) {
      failed = true;
      return nullptr;
    }
    const uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }
  template <class T> void operator()(T& v) {
    if constexpr (std::is_array_v<T>) {
      for (auto& e : v) (*this)(e);
    } else if constexpr (std::is_same_v<T, char>) {
      v = static_cast<char>(u(1));
    } else if constexpr (std::is_same_v<T, double>) {
      v = std::bit_cast<double>(u(8));
    } else if constexpr (std::is_integral_v<T>) {
      v = static_cast<T>(static_cast<std::make_unsigned_t<T>>(u(sizeof(T))));
    } else {
      each_field(*this, v);
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// ---------------------------------------------------------------------------
// Arrays: each block as its 32-bit words, little-endian. The words of a
// double are written in memory order, so the file reads back the same values
// on the machine kind that wrote it (the library's save files do not move
// between machines of different byte order).

void write_block(Writer& w, const void* block) {
  const int64_t words = block_words(block);
  w.u(static_cast<uint64_t>(words), 8);
  const uint32_t* p = static_cast<const uint32_t*>(block);
  for (int64_t k = 0; k < words; ++k) w.u(p[k], 4);
}

// Blocks read from a file, not yet part of any problem.
struct ScratchBlocks {
  void* current[kMaxArrayId + 1] = {};
  void* saved[kMaxArrayId + 1] = {};

  ~ScratchBlocks() {
    for (int id = 0; id <= kMaxArrayId; ++id) {
      if (saved[id] != nullptr && saved[id] != current[id]) free_array(0, saved[id]);
      if (current[id] != nullptr) free_array(0, current[id]);
    }
  }
};

bool is_persistent_id(int64_t id) {
  for (const int32_t p : kPersistentIds)
    if (p == id) return true;
  return false;
}

// Reads one block; false with failed_id set when memory runs out (the
// reader's failed flag covers a short or inconsistent file).
bool read_block(Reader& r, void*& block, int32_t id, int32_t& failed_id) {
  const uint64_t words = r.u(8);
  if (r.failed || words == 0 || words > r.left() / 4) {
    r.failed = true;
    return false;
  }
  if (allocate_array_keep_old(0, block, static_cast<int64_t>(words)) != 0) {
    block = nullptr;
    failed_id = id;
    return false;
  }
  uint32_t* p = static_cast<uint32_t*>(block);
  for (uint64_t k = 0; k < words; ++k) p[k] = static_cast<uint32_t>(r.u(4));
  return true;
}

// ---------------------------------------------------------------------------
// The global search's node and cut files: their records travel in the save
// file, so that a restored search continues from the nodes it had filed
// whatever happened to those files since.

struct SearchFileImage {
  uint64_t record_bytes = 0;
  std::vector<uint8_t> records;
};

// Records 1..count of a work file, as far as the file holds them.
SearchFileImage read_search_file(const std::string& name, int64_t record_bytes, int64_t count) {
  SearchFileImage image;
  if (name.empty() || record_bytes <= 0 || count <= 0) return image;
  int32_t unit = -1, error = 0;
  open_unit_read(name.c_str(), unit, record_bytes, error);
  if (error != 0) return image;
  std::vector<uint8_t> record(static_cast<size_t>(record_bytes));
  for (int64_t k = 1; k <= count; ++k) {
    seek_unit_record(unit, k, error);
    if (error == 0) read_unit_record(unit, record.data(), error);
    if (error != 0) break;
    image.records.insert(image.records.end(), record.begin(), record.end());
  }
  close_unit(unit, error);
  image.record_bytes = static_cast<uint64_t>(record_bytes);
  return image;
}

void write_search_files(Writer& w) {
  const int64_t counts[2] = {active_table.active_count, int64_t{node_cut_list_state.cut_file_next} - 1};
  const int64_t lengths[2] = {node_record_bytes, 4};
  for (int k = 0; k < 2; ++k) {
    const SearchFileImage image = read_search_file(search_work_files.names[k], lengths[k], counts[k]);
    w.u(image.record_bytes, 8);
    w.u(image.records.size(), 8);
    w.raw(image.records.data(), image.records.size());
  }
}

bool read_search_files(Reader& r, SearchFileImage (&images)[2]) {
  for (SearchFileImage& image : images) {
    image.record_bytes = r.u(8);
    const uint64_t n = r.u(8);
    if (r.failed || n > r.left() || (n > 0 && (image.record_bytes == 0 || n % image.record_bytes != 0))) {
      r.failed = true;
      return false;
    }
    const uint8_t* p = r.take(n);
    image.records.assign(p, p + n);
  }
  return true;
}

// Re-creates the node and cut files of a restored search under the restored
// problem's name and leaves them open as the search's units. Message 5 and
// status 32 when one cannot be written.
void recreate_search_files(const SearchFileImage (&images)[2]) {
  for (int k = 0; k < 2; ++k) {
    const SearchFileImage& image = images[k];
    if (image.record_bytes == 0) continue;
    const std::string name = make_work_file_name(kSearchFileExtensions[k]);
    int32_t unit = -1, error = 0;
    create_unit(name.c_str(), unit, static_cast<int64_t>(image.record_bytes), error);
    const int32_t records = static_cast<int32_t>(image.records.size() / image.record_bytes);
    if (error == 0 && records > 0) write_unit_records(unit, image.records.data(), records, error);
    if (error != 0) {
      int32_t ignored = 0;
      if (unit >= 0) close_unit(unit, ignored);
      begin_message(MSG_FILE_ERROR);
      insert_message_chars(kSearchFileExtensions[k], 3);
      emit_message();
      status_code = STATUS_REPORTED;
      return;
    }
    search_work_files.units[k] = unit;
    search_work_files.names[k] = name;
  }
}

// ---------------------------------------------------------------------------

void report_file(int32_t message, const std::string& name) {
  begin_message(message);
  if (message == MSG_FILE_ERROR) {
    insert_message_chars(kSaveExtension, 3);
  } else {
    insert_message_string(name.c_str());
  }
  emit_message();
  status_code = STATUS_REPORTED;
}

void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

std::vector<uint8_t> build_payload() {
  Writer w;
  StateImage image;
  capture_state(image);
  // Solver work arrays, row lists and the factor are not in the file: the
  // restored problem has them rebuilt.
  image.integer_attributes_[ATTR_PROBLEM_FLAGS - 1000] &=
      ~(PF_ROW_LISTS | PF_LU_ARRAYS | PF_WORK_ARRAYS | PF_FACTOR_VALID | PF_SOLUTION_CURRENT | PF_ROW_COPY);
  each_state_field(image, [&](auto& field, auto&) { w(field); });
  w.u(static_cast<uint32_t>(problem_name.length), 4);
  w.u(problem_name.text.size(), 8);
  w.raw(problem_name.text.data(), problem_name.text.size());

  uint32_t count = 0;
  for (const int32_t id : kPersistentIds)
    if (array_registry[id][current_slot] != nullptr || saved_array_registry[id][current_slot] != nullptr) ++count;
  w.u(count, 4);
  for (const int32_t id : kPersistentIds) {
    const void* block = array_registry[id][current_slot];
    const void* kept = saved_array_registry[id][current_slot];
    if (block == nullptr && kept == nullptr) continue;
    uint32_t flags = 0;
    if (block != nullptr) flags |= kArrayCurrent;
    if (kept != nullptr) flags |= kept == block ? kArraySavedIsCurrent : kArraySaved;
    w.u(static_cast<uint32_t>(id), 4);
    w.u(flags, 4);
    if (block != nullptr) write_block(w, block);
    if (kept != nullptr && kept != block) write_block(w, kept);
  }
  write_search_files(w);
  return std::move(w.bytes);
}

void save_to_file() {
  if (!require_problem()) return;
  // The column copy is the master that goes into the file.
  if ((problem_flags & PF_COLUMN_COPY) == 0 && (problem_flags & PF_ROW_COPY) != 0 &&
      (problem_flags & PF_WORK_ARRAYS) != 0) {
    build_column_copy();
  }
  const std::vector<uint8_t> payload = build_payload();
  Writer header;
  header.raw(kSaveFileMagic, sizeof kSaveFileMagic);
  header.u(kSaveFileVersion, 4);
  header.u(kSaveFileHeaderBytes, 4);
  header.u(payload.size(), 8);
  header.u(crc32(payload.data(), payload.size()), 4);
  header.u(0, 4);

  // Written beside the file and renamed over it once complete, so that a
  // save that fails part-way leaves the previous save file as it was.
  const std::string name = make_work_file_name(kSaveExtension);
  const std::string partial = name + "~";
  int32_t unit = -1, error = 0;
  create_unit_bytes(partial.c_str(), unit, error);
  if (error == 0) write_unit_bytes(unit, header.bytes.data(), static_cast<int64_t>(header.bytes.size()), error);
  if (error == 0) write_unit_bytes(unit, payload.data(), static_cast<int64_t>(payload.size()), error);
  int32_t close_error = 0;
  if (unit >= 0) close_unit(unit, close_error);
  if (error == 0 && close_error == 0 && rename_file(partial.c_str(), name.c_str()) == 0) return;
  remove_file_parts(partial.c_str());
  report_file(MSG_FILE_ERROR, name);
}

// Reads up to n bytes; returns how many the file held.
size_t read_bytes(int32_t unit, std::vector<uint8_t>& into, size_t n) {
  size_t got = 0;
  while (got < n) {
    const size_t step = std::min(kReadChunkBytes, n - got);
    const size_t at = into.size();
    into.resize(at + step);
    int32_t error = 0;
    read_unit_bytes(unit, into.data() + at, static_cast<int64_t>(step), error);
    if (error != 0) {
      const size_t short_count = error < 0 ? static_cast<size_t>(-static_cast<int64_t>(error)) : 0;
      into.resize(at + short_count);
      return got + short_count;
    }
    got += step;
  }
  return got;
}

// The whole restore but the commit: reads and checks the file into image,
// blocks and files. Returns 0, or the message to give (20 after
// failed_id is set).
int32_t read_save_file(const std::string& name, StateImage& image, std::string& name_text, int32_t& name_length,
                       ScratchBlocks& blocks, SearchFileImage (&files)[2], int32_t& failed_id) {
  int32_t unit = -1, error = 0;
  open_unit_read_bytes(name.c_str(), unit, error);
  if (error != 0) return MSG_FILE_ERROR;
  std::vector<uint8_t> header;
  std::vector<uint8_t> payload;
  const size_t header_got = read_bytes(unit, header, kSaveFileHeaderBytes);
  int32_t verdict = 0;
  if (header_got < sizeof kSaveFileMagic || std::memcmp(header.data(), kSaveFileMagic, sizeof kSaveFileMagic) != 0) {
    verdict = MSG_SAVE_FILE_FOREIGN;
  } else if (header_got < kSaveFileHeaderBytes) {
    verdict = MSG_SAVE_FILE_DAMAGED;
  } else {
    Reader h(header.data() + sizeof kSaveFileMagic, header.size() - sizeof kSaveFileMagic);
    const uint64_t version = h.u(4);
    const uint64_t header_bytes = h.u(4);
    const uint64_t payload_bytes = h.u(8);
    const uint64_t checksum = h.u(4);
    if (version != kSaveFileVersion || header_bytes != kSaveFileHeaderBytes) {
      verdict = MSG_SAVE_FILE_FOREIGN;
    } else if (read_bytes(unit, payload, static_cast<size_t>(payload_bytes)) != payload_bytes ||
               crc32(payload.data(), payload.size()) != checksum) {
      verdict = MSG_SAVE_FILE_DAMAGED;
    } else {
      // Nothing may follow the payload.
      std::vector<uint8_t> extra;
      if (read_bytes(unit, extra, 1) != 0) verdict = MSG_SAVE_FILE_DAMAGED;
    }
  }
  int32_t ignored = 0;
  close_unit(unit, ignored);
  if (verdict != 0) return verdict;

  Reader r(payload.data(), payload.size());
  each_state_field(image, [&](auto& field, auto&) { r(field); });
  name_length = static_cast<int32_t>(r.u(4));
  const uint64_t text_bytes = r.u(8);
  if (r.failed || text_bytes > r.left()) return MSG_SAVE_FILE_DAMAGED;
  const uint8_t* text = r.take(text_bytes);
  name_text.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(text_bytes));

  const uint64_t count = r.u(4);
  if (r.failed || count > static_cast<uint64_t>(kPersistentIdCount)) return MSG_SAVE_FILE_DAMAGED;
  for (uint64_t k = 0; k < count; ++k) {
    const int64_t id = static_cast<int64_t>(r.u(4));
    const uint64_t flags = r.u(4);
    const bool saved_shared = (flags & kArraySavedIsCurrent) != 0;
    if (r.failed || !is_persistent_id(id) || blocks.current[id] != nullptr || blocks.saved[id] != nullptr ||
        flags == 0 || (flags & ~uint64_t{7}) != 0 || ((flags & kArraySaved) != 0 && saved_shared) ||
        (saved_shared && (flags & kArrayCurrent) == 0)) {
      return MSG_SAVE_FILE_DAMAGED;
    }
    const int32_t array_id = static_cast<int32_t>(id);
    if ((flags & kArrayCurrent) != 0 && !read_block(r, blocks.current[id], array_id, failed_id))
      return failed_id != 0 ? MSG_ARRAY_NO_MEMORY : MSG_SAVE_FILE_DAMAGED;
    if ((flags & kArraySaved) != 0 && !read_block(r, blocks.saved[id], array_id, failed_id))
      return failed_id != 0 ? MSG_ARRAY_NO_MEMORY : MSG_SAVE_FILE_DAMAGED;
    if (saved_shared) blocks.saved[id] = blocks.current[id];
  }
  if (!read_search_files(r, files) || r.failed || r.left() != 0) return MSG_SAVE_FILE_DAMAGED;

  // The counts must describe the arrays that came with them.
  const int32_t* attributes = image.integer_attributes_;
  const int32_t state = image.problem_state_;
  const int32_t rows = attributes[ATTR_NROW - 1000];
  const int32_t last = attributes[ATTR_NSEQ - 1000];
  if (state < 1 || rows < 0 || last < rows || image.store_.first_col < 1 || image.store_.first_col > last + 1)
    return MSG_SAVE_FILE_DAMAGED;
  const int64_t positions = int64_t{last} + std::max(0, attributes[ATTR_SPARE_COLS_LEFT - 1000]);
  struct Need {
    int32_t id;
    int64_t words;
  };
  const Need needs[] = {{ARR_ROW_TYPE, rows}, {ARR_POS_STATUS, positions}, {ARR_COL_START, positions},
                        {ARR_OBJECTIVE, 2 * positions}, {ARR_LOWER, 2 * positions}, {ARR_UPPER, 2 * positions}};
  for (const Need& need : needs) {
    if (blocks.current[need.id] == nullptr || block_words(blocks.current[need.id]) < need.words)
      return MSG_SAVE_FILE_DAMAGED;
  }
  return 0;
}

// Replaces the current problem by what was read. Only the re-created work
// arrays and search files can fail here; they are reported.
void commit_restore(StateImage& image, const std::string& name_text, int32_t name_length, ScratchBlocks& blocks,
                    const SearchFileImage (&files)[2]) {
  release_slot_derived_arrays();
  // The current problem's search files go with it; a restored search gets
  // its own back from the save file.
  problem_flags &= ~PF_KEEP_SEARCH_FILES;
  delete_global_work_files();
  for (int k = 0; k < 2; ++k) {
    if (search_work_files.units[k] >= 0) {
      int32_t ignored = 0;
      close_unit(search_work_files.units[k], ignored);
    }
    search_work_files.units[k] = -1;
    search_work_files.names[k].clear();
  }
  free_current_problem_arrays();
  for (int id = 1; id <= kMaxArrayId; ++id) {
    array_registry[id][current_slot] = blocks.current[id];
    saved_array_registry[id][current_slot] = blocks.saved[id];
    blocks.current[id] = nullptr;
    blocks.saved[id] = nullptr;
  }
  reload_array_cells();
  reset_solver_state();
  commit_state(image);
  problem_name.text = name_text;
  problem_name.length = name_length;
  // A search file that cannot be written is reported; the problem is
  // restored all the same (its search then cannot continue).
  recreate_search_files(files);
  rebuild_slot_work_arrays();
}

void restore_from_file() {
  const std::string name = make_work_file_name(kSaveExtension);
  // Scratch storage: large records and every block stay off the problem
  // until the whole file has been read and checked.
  auto image = std::make_unique<StateImage>();
  std::string name_text;
  int32_t name_length = 0;
  ScratchBlocks blocks;
  SearchFileImage files[2];
  int32_t failed_id = 0;
  const int32_t verdict = read_save_file(name, *image, name_text, name_length, blocks, files, failed_id);
  if (verdict == MSG_ARRAY_NO_MEMORY) {
    report_no_memory(failed_id);
    return;
  }
  if (verdict != 0) {
    report_file(verdict, name);
    return;
  }
  commit_restore(*image, name_text, name_length, blocks, files);
}

}  // namespace

void save_state() { save_restore_state(SAVE_STATE); }

void restore_state() { save_restore_state(RESTORE_STATE); }

void save_restore_state(int32_t mode) {
  begin_body();
  if (mode == RESTORE_STATE) {
    restore_from_file();
  } else {
    save_to_file();
  }
}

}  // namespace kl
