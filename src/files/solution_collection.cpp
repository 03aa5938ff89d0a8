// The solution collection SOLFILE (layout in solution_collection.h).
#include "files/solution_collection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "presolve/postsolve.h"
#include "problem/add_rows_cols.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "simplex/successive_lp.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

constexpr int32_t kTagBytes = 8;  // tag and used length
constexpr int32_t kNameBytes = 8;

// Current layout.
[[maybe_unused]] constexpr int32_t kHeaderUsed = 228;
[[maybe_unused]] constexpr int32_t kSolutionEntryBytes = 60;
constexpr int32_t kSolutionEntriesPerRecord = 68;
[[maybe_unused]] constexpr int32_t kMatrixHeaderUsed = 32;
[[maybe_unused]] constexpr int32_t kRowNameEntryBytes = 20;
constexpr int32_t kRowNamesPerRecord = 204;
constexpr int32_t kColumnHeadBytes = 20;   // name 16, count
constexpr int32_t kColumnEntryBytes = 12;  // row, double
constexpr int32_t kColumnStartLimit = 4060;
constexpr int32_t kColumnFlushLimit = 4084;

// Older layout.
[[maybe_unused]] constexpr int32_t kOldHeaderUsed = 164;
[[maybe_unused]] constexpr int32_t kOldSolutionEntryBytes = 32;
constexpr int32_t kOldSolutionEntriesPerRecord = 15;
[[maybe_unused]] constexpr int32_t kOldMatrixHeaderUsed = 24;
constexpr int32_t kOldRowNamesStart = 20;
[[maybe_unused]] constexpr int32_t kOldRowNameEntryBytes = 10;
constexpr int32_t kOldRowNamesPerRecord = 49;
constexpr int32_t kOldColumnHeadBytes = 12;  // name 8, count
constexpr int32_t kOldColumnEntryBytes = 8;  // row, single
constexpr int32_t kOldColumnStartLimit = 496;
constexpr int32_t kOldColumnFlushLimit = 508;
constexpr int32_t kOldColumnEntriesStart = 20;  // one column per record
constexpr int32_t kOldColumnEntriesPerRecord = 61;
// The older layout marks bounds beyond these as absent.
constexpr double kOldBoundLimit = 1e18;

constexpr int32_t kSearchStatusFirst = 3;
constexpr int32_t kSearchStatusLast = 6;

constexpr const char kBlanks[] = "                ";
const unsigned char kLowerMarker[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kUpperMarker[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
const unsigned char kOldLowerMarker[4] = {0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kOldUpperMarker[4] = {0xFF, 0xFF, 0xFF, 0x7F};

// One record being filled: bytes written little-endian one by one, so the
// file is the same whatever the host.
class Record {
 public:
  explicit Record(int32_t size) : bytes_(static_cast<std::size_t>(size), 0) {}
  void begin(const char* tag) {
    std::fill(bytes_.begin(), bytes_.end(), 0);
    std::memcpy(bytes_.data(), tag, 4);
    fill_ = kTagBytes;
  }
  int32_t fill() const { return fill_; }
  int32_t size() const { return static_cast<int32_t>(bytes_.size()); }
  void skip_to(int32_t offset) { fill_ = std::max(fill_, offset); }
  void raw(const void* p, int32_t n) {
    std::memcpy(bytes_.data() + fill_, p, static_cast<std::size_t>(n));
    fill_ += n;
  }
  void blanks(int32_t n) { raw(kBlanks, n); }
  void zeros(int32_t n) { fill_ += n; }
  void i32_at(int32_t offset, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) bytes_[static_cast<std::size_t>(offset + k)] = static_cast<unsigned char>(u >> (8 * k));
  }
  void i32(int32_t v) {
    i32_at(fill_, v);
    fill_ += 4;
  }
  void i16(int32_t v) {
    const auto u = static_cast<uint16_t>(v);
    bytes_[static_cast<std::size_t>(fill_)] = static_cast<unsigned char>(u);
    bytes_[static_cast<std::size_t>(fill_ + 1)] = static_cast<unsigned char>(u >> 8);
    fill_ += 2;
  }
  void f64(double x) {
    uint64_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    for (int k = 0; k < 8; ++k) bytes_[static_cast<std::size_t>(fill_ + k)] = static_cast<unsigned char>(u >> (8 * k));
    fill_ += 8;
  }
  void f32(double x) {
    const auto f = static_cast<float>(x);
    uint32_t u = 0;
    std::memcpy(&u, &f, sizeof u);
    i32(static_cast<int32_t>(u));
  }
  // Used length into bytes 4-7; what lies past it is already zero.
  const unsigned char* finished() {
    i32_at(4, fill_);
    return bytes_.data();
  }

 private:
  std::vector<unsigned char> bytes_;
  int32_t fill_ = 0;
};

// The open collection and its failure state.
struct Collection {
  int32_t unit = -1;
  bool failed = false;
};

void write_solfile_record(Collection& out, Record& record) {
  if (out.failed) return;
  int32_t error = 0;
  const unsigned char* bytes = record.finished();
  write_unit_words(out.unit, bytes, record.size() / 2, error);
  if (error != 0) {
    out.failed = true;
    begin_message(MSG_WORK_FILE_WRITE);
    insert_message_int(error);
    emit_message();
    status_code = STATUS_REPORTED;
  }
}

// Name A: DATNAM when set, else the problem name.
void name_a(char* name) {
  const char* datnam = character_controls[cc::DATNAM];
  const bool blank = std::all_of(datnam, datnam + kNameBytes, [](char c) { return c == ' ' || c == '\0'; });
  const char* source = blank ? character_attributes[1] : datnam;
  bool ended = false;
  for (int k = 0; k < kNameBytes; ++k) {
    ended = ended || source[k] == '\0';
    name[k] = ended ? ' ' : source[k];
  }
}

const char* status_word(const SolutionHeaderCopy& h) {
  if (global_status >= kSearchStatusFirst && global_status <= kSearchStatusLast) {
    static const char* const kSearchWords[] = {"MUNO", "MUOP", "MINF", "OPTM"};
    return kSearchWords[global_status - kSearchStatusFirst];
  }
  switch (h.status_letter) {
    case 'O':
      return "OPTM";
    case 'U':
      return "UNBD";
    case 'N':
      return "INFE";
    case 'F':
      return "FEAS";
    default:
      return h.ninf != 0 ? "INFE" : "FEAS";
  }
}

const char* sense_word() { return dcv(dc::SENSE_FACTOR) < 0.0 ? "MAX " : "MIN "; }

// Position in memory of record k of the file, 0 when the problem has none.
int32_t memory_position(const SolutionHeaderCopy& h, int32_t k) {
  if (k <= h.rows) return k <= nrow ? k : 0;
  const int32_t p = store.first_col + (k - h.rows - 1);
  return p <= nseq ? p : 0;
}

// The 16-byte name of a record: the file's first word, then the second name
// word of the position in memory (blanks with one-word names).
void put_long_name(Record& r, const char* first_word, int32_t position) {
  r.raw(first_word, kNameBytes);
  if (position > 0 && name_words >= 2 && array_cells[ARR_NAME_TABLE] != nullptr) {
    const char* table = name_array(ARR_NAME_TABLE);
    r.raw(table + (static_cast<std::ptrdiff_t>(position - 1) * name_words + 1) * kNameBytes, kNameBytes);
  } else {
    r.blanks(kNameBytes);
  }
}

void put_position_name(Record& r, int32_t position, bool long_name) {
  char first[kNameBytes];
  std::memset(first, ' ', kNameBytes);
  if (array_cells[ARR_NAME_TABLE] != nullptr && name_words >= 1)
    std::memcpy(first, name_array(ARR_NAME_TABLE) + static_cast<std::ptrdiff_t>(position - 1) * name_words * kNameBytes,
                kNameBytes);
  if (long_name) {
    put_long_name(r, first, position);
  } else {
    r.raw(first, kNameBytes);
  }
}

// Rows and columns of the matrix records: the file's rows (cut rows of a
// search are not model rows), all columns.
int32_t matrix_rows(const SolutionHeaderCopy& h) { return std::min(nrow, h.rows); }
int32_t matrix_columns() { return std::max(0, nseq - store.first_col + 1); }

// Columns of the matrix, unscaled: the objective coefficient first (as an
// entry of the objective row) when nonzero, then the elements of the model
// rows but the objective row.
struct ColumnEntry {
  int32_t row;
  double value;
};
void column_entries(int32_t j, int32_t rows, std::vector<ColumnEntry>& entries) {
  entries.clear();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const auto inverse = [&](int32_t p) {
    return scale_powers[static_cast<std::size_t>(2 * kScaleBias - scale_exponent(status[p]))];
  };
  const double g = inverse(j);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const int32_t objective = store.objective_row > 0 ? store.objective_row : 0;
  if (cost && cost[j] != 0.0) entries.push_back({objective, cost[j] * g});
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  if (!col_start) return;
  for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
    const int32_t i = elem_row[k];
    if (i < 1 || i > rows || i == objective) continue;
    entries.push_back({i, elem_value[k] * inverse(i) * g});
  }
}

// Packing of the matrix columns: a column starts in the record in hand only
// below start_limit (and when its first entry still fits), the record goes
// out after an entry once flush_limit is reached, and a column cut off goes
// on in the next record under its name with a new count.
struct ColumnPacking {
  int32_t head_bytes;
  int32_t entry_bytes;
  int32_t start_limit;
  int32_t flush_limit;
  bool long_names;
  bool single_values;
};

void write_packed_columns(Collection& out, Record& r, const SolutionHeaderCopy& h, const ColumnPacking& pack) {
  const int32_t rows = matrix_rows(h);
  std::vector<ColumnEntry> entries;
  r.begin("MCOL");
  for (int32_t j = store.first_col; j <= nseq && !out.failed; ++j) {
    column_entries(j, rows, entries);
    const int32_t first_piece = pack.head_bytes + (entries.empty() ? 0 : pack.entry_bytes);
    if (r.fill() > pack.start_limit || r.fill() + first_piece > r.size()) {
      write_solfile_record(out, r);
      r.begin("MCOL");
    }
    std::size_t next = 0;
    for (;;) {
      put_position_name(r, j, pack.long_names);
      const int32_t count_at = r.fill();
      r.i32(0);
      int32_t count = 0;
      bool cut_off = false;
      while (next < entries.size()) {
        r.i32(entries[next].row);
        if (pack.single_values) {
          r.f32(entries[next].value);
        } else {
          r.f64(entries[next].value);
        }
        ++next;
        ++count;
        if (r.fill() >= pack.flush_limit || r.fill() + pack.entry_bytes > r.size()) {
          cut_off = true;
          break;
        }
      }
      r.i32_at(count_at, count);
      if (!cut_off) break;
      write_solfile_record(out, r);
      r.begin("MCOL");
      if (next >= entries.size() || out.failed) break;
    }
  }
  if (r.fill() > kTagBytes) write_solfile_record(out, r);
}

// Older layout without packing: one record per column (more for a long one).
void write_unpacked_columns(Collection& out, Record& r, const SolutionHeaderCopy& h) {
  const int32_t rows = matrix_rows(h);
  std::vector<ColumnEntry> entries;
  for (int32_t j = store.first_col; j <= nseq && !out.failed; ++j) {
    column_entries(j, rows, entries);
    std::size_t next = 0;
    do {
      r.begin("MCOL");
      put_position_name(r, j, false);
      const int32_t count_at = r.fill();
      r.i32(0);
      r.skip_to(kOldColumnEntriesStart);
      int32_t count = 0;
      while (next < entries.size() && count < kOldColumnEntriesPerRecord) {
        r.i32(entries[next].row);
        r.f32(entries[next].value);
        ++next;
        ++count;
      }
      r.i32_at(count_at, count);
      write_solfile_record(out, r);
    } while (next < entries.size() && !out.failed);
  }
}

// The entry of record k, just read into solution_line. In the repeated
// sequence of the older layout a moving column takes its recorded value.
void add_solution_entry(Record& r, const SolutionHeaderCopy& h, int32_t k, bool old_layout, int32_t& next_moved) {
  const SolutionLine& line = solution_line;
  const bool row = k <= h.rows;
  const int32_t position = memory_position(h, k);
  double value = row ? line.activity : line.value;
  if (!row && position > 0 && position == next_moved) {
    const int32_t e = line.exponent == 0 ? kScaleBias : line.exponent;
    value = recorded_recurse_value(position) * std::ldexp(1.0, e - kScaleBias);
    next_moved = next_recurse_column(position);
  }
  // Rows: the row value of the file (the slack, negated for a G row).
  const double second_value = row ? line.value : line.cost;
  if (old_layout) {
    const bool free = (line.status_word & PS_FREE) != 0;
    r.raw(line.name, kNameBytes);
    r.raw(line.code, 2);
    r.zeros(2);
    r.f32(value);
    r.f32(second_value);
    if (free || line.lower <= -kOldBoundLimit) {
      r.raw(kOldLowerMarker, 4);
    } else {
      r.f32(line.lower);
    }
    if (free || line.upper >= kOldBoundLimit) {
      r.raw(kOldUpperMarker, 4);
    } else {
      r.f32(line.upper);
    }
    r.f32(line.dual);
    return;
  }
  put_long_name(r, line.name, position);
  r.raw(line.code, 2);
  r.zeros(2);
  r.f64(value);
  r.f64(second_value);
  // The bound flags of a row's status word describe its slack, not the
  // activity limits written here: the markers go by the limits themselves.
  if (line.lower <= -kInfinity) {
    r.raw(kLowerMarker, 8);
  } else {
    r.f64(line.lower);
  }
  if (line.upper >= kInfinity) {
    r.raw(kUpperMarker, 8);
  } else {
    r.f64(line.upper);
  }
  r.f64(line.dual);
}

// One entry per record of the file, rows into SROW records, then columns
// into SCOL records: full records as they fill, then the partial last one.
// A section without entries still gets one (empty) record.
bool write_solution_entries(Collection& out, Record& r, const SolutionHeaderCopy& h, bool old_layout, bool second) {
  const int32_t per_record = old_layout ? kOldSolutionEntriesPerRecord : kSolutionEntriesPerRecord;
  int32_t next_moved = second ? next_recurse_column(store.first_col - 1) : nseq + 1;
  const auto section = [&](const char* tag, int32_t first, int32_t last) {
    int32_t in_record = 0;
    r.begin(tag);
    for (int32_t k = first; k <= last; ++k) {
      int32_t error = 0;
      read_solution_status(solution_record_position(k), error);
      if (error != 0) {
        begin_message(MSG_SOLUTION_FILE_ERROR);
        emit_message();
        status_code = STATUS_REPORTED;
        return false;
      }
      add_solution_entry(r, h, k, old_layout, next_moved);
      if (++in_record == per_record) {
        write_solfile_record(out, r);
        if (out.failed) return false;
        r.begin(tag);
        in_record = 0;
      }
    }
    if (in_record > 0 || last < first) write_solfile_record(out, r);
    return !out.failed;
  };
  return section("SROW", 1, h.rows) && section("SCOL", h.rows + 1, h.rows + h.columns);
}

void write_header_current(Collection& out, Record& r, const SolutionHeaderCopy& h) {
  char name[kNameBytes];
  name_a(name);
  r.begin("SHDR");
  r.raw("Vers2.00", 8);
  r.raw(name, 8);
  r.blanks(8);
  r.raw(name, 8);
  r.blanks(8);
  if (store.objective_row > 0 && store.objective_row <= nrow) {
    put_position_name(r, store.objective_row, true);
  } else {
    r.raw(h.objective_name, 8);
    r.blanks(8);
  }
  r.raw(h.rhs_name, 8);
  r.blanks(8);
  r.zeros(80);
  r.raw(sense_word(), 4);
  r.raw(status_word(h), 4);
  r.i32(h.itcnt);
  r.f64(h.objective_value);
  r.i32(h.rows);
  r.i32(h.columns);
  r.zeros(8);
  r.raw(h.range_name, 8);
  r.blanks(8);
  r.raw(h.bound_name, 8);
  r.blanks(8);
  write_solfile_record(out, r);
}

void write_header_old(Collection& out, Record& r, const SolutionHeaderCopy& h, bool second) {
  char name[kNameBytes];
  name_a(name);
  r.begin("SHDR");
  r.raw(second ? "NONCVRGD" : name, 8);
  r.raw(name, 8);
  r.raw(h.objective_name, 8);
  r.raw(h.rhs_name, 8);
  r.skip_to(120);
  r.raw(sense_word(), 4);
  r.raw(status_word(h), 4);
  r.i32(h.itcnt);
  r.f32(h.objective_value);
  r.i32(h.rows);
  r.i32(h.columns);
  r.zeros(4);
  r.raw(h.range_name, 8);
  r.raw(h.bound_name, 8);
  write_solfile_record(out, r);
}

void write_matrix(Collection& out, Record& r, const SolutionHeaderCopy& h, bool old_layout) {
  char name[kNameBytes];
  name_a(name);
  const int32_t rows = matrix_rows(h);
  r.begin("MHDR");
  r.raw(name, 8);
  if (!old_layout) r.blanks(8);
  r.i32(rows);
  r.i32(matrix_columns());
  write_solfile_record(out, r);

  const int32_t per_record = old_layout ? kOldRowNamesPerRecord : kRowNamesPerRecord;
  int32_t in_record = 0;
  for (int32_t i = 1; i <= rows && !out.failed; ++i) {
    if (in_record == 0) {
      r.begin("MROW");
      if (old_layout) r.skip_to(kOldRowNamesStart);
    }
    put_position_name(r, i, !old_layout);
    if (old_layout) {
      r.i16(i);
    } else {
      r.i32(i);
    }
    if (++in_record == per_record) {
      write_solfile_record(out, r);
      in_record = 0;
    }
  }
  if (in_record > 0) write_solfile_record(out, r);
  if (out.failed) return;

  if (!old_layout) {
    write_packed_columns(out, r, h, {kColumnHeadBytes, kColumnEntryBytes, kColumnStartLimit, kColumnFlushLimit, true, false});
  } else if ((icv(ic::OMNIMAT) & kOmnimatMatrixBits) == kOmnimatPackedColumns) {
    write_packed_columns(out, r, h,
                         {kOldColumnHeadBytes, kOldColumnEntryBytes, kOldColumnStartLimit, kOldColumnFlushLimit, false, true});
  } else {
    write_unpacked_columns(out, r, h);
  }
}

// One sequence SHDR .. END from the solution file, opened here.
bool write_sequence(Collection& out, bool old_layout, bool second) {
  int32_t error = 0;
  open_work_file(make_work_file_name(EXT_SOL).c_str(), WORK_READ, error);
  if (error != WORK_OPEN_OK) {
    // The work-file layer has named the file.
    if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
    return false;
  }
  if (read_solution_header() != 0) {
    close_work_file();
    begin_message(MSG_SOLUTION_HEADER_UNREADABLE);
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }
  SolutionHeaderCopy& h = solution_header_copy;
  h.sense_code = dcv(dc::SENSE_FACTOR) < 0.0 ? SENSE_MAXIMISE : SENSE_MINIMISE;
  Record r(old_layout ? kOldCollectionRecordBytes : kCollectionRecordBytes);
  if (old_layout) {
    write_header_old(out, r, h, second);
  } else {
    write_header_current(out, r, h);
  }
  bool ok = !out.failed && write_solution_entries(out, r, h, old_layout, second);
  close_work_file();
  if (ok && (icv(ic::OMNIMAT) & kOmnimatMatrixBits) != 0) write_matrix(out, r, h, old_layout);
  if (ok && !out.failed) {
    r.begin("END ");
    write_solfile_record(out, r);
  }
  return ok && !out.failed;
}

bool open_collection(Collection& out) {
  int32_t error = 0;
  open_unit_update_words(kSolutionCollectionName, out.unit, error);
  if (error != 0) create_unit_words(kSolutionCollectionName, out.unit, error);
  if (error != 0) {
    begin_message(MSG_SOLUTION_FILE_ERROR);
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }
  seek_unit_end(out.unit);
  return true;
}

void append_sequences() {
  const bool old_layout = (icv(ic::OMNIMAT) & kOmnimatCurrentLayout) == 0;
  if (old_layout && (icv(ic::OMNIMAT) & kOmnimatMatrixBits) != 0 && nrow > kOldLayoutMaxRow) {
    begin_message(MSG_COLLECTION_ROWS_TOO_MANY);
    insert_message_int(nrow);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  // The solution file must exist before SOLFILE is touched.
  int32_t error = 0;
  open_work_file(make_work_file_name(EXT_SOL).c_str(), WORK_READ, error);
  if (error != WORK_OPEN_OK) {
    if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
    return;
  }
  close_work_file();

  Collection out;
  if (!open_collection(out)) return;
  const bool ok = write_sequence(out, old_layout, false);
  // The older layout repeats the sequence with the values successive linear
  // programming recorded for the columns still moving when it stopped.
  if (ok && old_layout && int_attribute(ATTR_OPTIMISER_1029) > 0) write_sequence(out, true, true);
  int32_t close_error = 0;
  close_unit(out.unit, close_error);
}

}  // namespace

void append_solfile() {
  begin_body();
  if (!require_problem()) return;
  if (!make_row_copy_current() || !make_column_copy_current()) return;
  const int32_t kept_flags = problem_flags;
  read_original_solution(append_sequences);
  problem_flags = kept_flags;
}

}  // namespace kl
