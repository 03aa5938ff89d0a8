// The binary solution and range files: the solution writer and the readers
// of both files (layout in solution_file.h).
#include "files/solution_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "factor/simplex_state.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/work_files.h"
#include "simplex/successive_lp.h"

namespace kl {

SolutionHeaderCopy solution_header_copy;
SolutionLine solution_line;
RangeLine range_line;

int32_t partial_integer_count = 0;

namespace {

// IFMEM bits read by the writer.
constexpr int32_t kIfmemCreateAnew = 0x1;
constexpr int32_t kIfmemNoSolutionFile = 0x4;

// lp_algorithm values of the primal simplex, chosen or forced for a call.
constexpr int32_t kPrimalAlgorithm = 0;
constexpr int32_t kForcedPrimalAlgorithm = 3;

constexpr double kPlusInfinity = kInfinity;
constexpr double kMinusInfinity = -kInfinity;

// Character attributes recorded in the header.
constexpr int kAttrProblemName = 3001;
constexpr int kAttrBoundName = 3002;
constexpr int kAttrObjectiveName = 3003;
constexpr int kAttrRhsName = 3004;
constexpr int kAttrRangeName = 3005;

// Header item numbers (from 1).
constexpr int32_t kItemProblemName = 1;
constexpr int32_t kItemCounts = 2;
constexpr int32_t kItemObjectiveRow = 3;
constexpr int32_t kItemIterations = 4;
constexpr int32_t kItemFormat = 8;
constexpr int32_t kItemObjectiveValue = 9;
constexpr int32_t kItemSumInfeasibilities = 10;
constexpr int32_t kItemObjectiveName = 11;
constexpr int32_t kItemRhsName = 12;
constexpr int32_t kItemBoundName = 13;
constexpr int32_t kItemSpareWords = 14;
constexpr int32_t kItemSpareWords2 = 15;
constexpr int32_t kItemRangeName = 23;

// Two-letter state codes by RecordState.
constexpr const char* kStateCodes[] = {"??", "LL", "**", "BS", "UL", "SB"};

// One item as it lies in the file: 8 bytes in file order. Building items
// byte by byte keeps the file little-endian whatever the host.
struct ItemBytes {
  unsigned char bytes[8] = {};
};

void put_int(ItemBytes& item, int offset, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int k = 0; k < 4; ++k) item.bytes[offset + k] = static_cast<unsigned char>(u >> (8 * k));
}

int32_t get_int(const ItemBytes& item, int offset) {
  uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= static_cast<uint32_t>(item.bytes[offset + k]) << (8 * k);
  return static_cast<int32_t>(u);
}

float get_float(const ItemBytes& item, int offset) {
  const uint32_t u = static_cast<uint32_t>(get_int(item, offset));
  float x = 0.0f;
  static_assert(sizeof x == sizeof u);
  std::memcpy(&x, &u, sizeof x);
  return x;
}

ItemBytes double_item(double x) {
  uint64_t u = 0;
  static_assert(sizeof x == sizeof u);
  std::memcpy(&u, &x, sizeof u);
  ItemBytes item;
  for (int k = 0; k < 8; ++k) item.bytes[k] = static_cast<unsigned char>(u >> (8 * k));
  return item;
}

double get_double(const ItemBytes& item) {
  uint64_t u = 0;
  for (int k = 0; k < 8; ++k) u |= static_cast<uint64_t>(item.bytes[k]) << (8 * k);
  double x = 0.0;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

ItemBytes int_pair_item(int32_t first, int32_t second) {
  ItemBytes item;
  put_int(item, 0, first);
  put_int(item, 4, second);
  return item;
}

ItemBytes name_item(const char* name) {
  ItemBytes item;
  std::memcpy(item.bytes, name, 8);
  return item;
}

// A name attribute, blank padded in the file also when it was never set.
ItemBytes attribute_name_item(int attribute) {
  ItemBytes item;
  const char* name = character_attributes[attribute - 3000];
  bool ended = false;
  for (int k = 0; k < 8; ++k) {
    ended = ended || name[k] == '\0';
    item.bytes[k] = static_cast<unsigned char>(ended ? ' ' : name[k]);
  }
  return item;
}

// The work-file layer stores an item's bytes as they lie in memory.
void put_item(const ItemBytes& item) {
  WorkItem work;
  static_assert(sizeof work.words == sizeof item.bytes);
  std::memcpy(work.words, item.bytes, sizeof item.bytes);
  put_work_item(work);
}

// The next item; false when the work file reported an error (the item is
// then not data of the file).
bool get_item(ItemBytes& item, int32_t& read_error) {
  WorkItem work;
  get_work_item(work, read_error);
  std::memcpy(item.bytes, work.words, sizeof item.bytes);
  return read_error == 0;
}

// Reads n items; stops at the first error.
bool get_items(ItemBytes* items, int32_t n, int32_t& read_error) {
  for (int32_t k = 0; k < n; ++k)
    if (!get_item(items[k], read_error)) return false;
  return true;
}

double power_of_two(int32_t k) { return std::ldexp(1.0, k); }

// The record status word of a position: its low flag bits, the writer's own
// outside-bounds bit cleared (a pricing mark left in pos_status must not read
// as an infeasibility), and its exponent byte in bits 16-23.
int32_t record_status_word(int32_t status) {
  return (status & 0xFFFF & ~RS_OUTSIDE_BOUNDS) | (scale_exponent(status) << kRecordExponentShift);
}

// Array element, 0 when the array does not exist.
double real_at(int id, int32_t k) { return array_cells[id] != nullptr ? array_of<double>(id)[k] : 0.0; }
int32_t int_at(int id, int32_t k) { return array_cells[id] != nullptr ? array_of<int32_t>(id)[k] : 0; }

// First 8 characters of the name of position p.
ItemBytes position_name_item(int32_t p) {
  static const char kBlankName[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (array_cells[ARR_NAME_TABLE] == nullptr || name_words < 1) return name_item(kBlankName);
  const char* table = name_array(ARR_NAME_TABLE);
  return name_item(table + static_cast<std::ptrdiff_t>(p - 1) * name_words * 8);
}

// Columns whose value successive linear programming recorded when it stopped
// at its pass limit while they still moved get the recorded value
// (next_recurse_column and recorded_recurse_value, simplex/successive_lp.h).

// ---------------------------------------------------------------------------
// Writer

// Writes the items of a foreign block when the file is created anew, else
// steps over them so that they keep what the file holds.
class ItemWriter {
 public:
  explicit ItemWriter(bool fresh) : fresh_(fresh) {}
  void put(const ItemBytes& item) const { put_item(item); }
  void foreign(const ItemBytes& item) const {
    if (fresh_) {
      put_item(item);
    } else {
      skip_work_items(1);
    }
  }
  void foreign_zeros(int32_t n) const {
    if (fresh_) {
      pad_work_file(n);
    } else {
      skip_work_items(n);
    }
  }

 private:
  bool fresh_;
};

// Sense code written: a maximisation is 2, but an infeasible end of the primal
// simplex is always recorded as a minimisation.
int32_t written_sense_code() {
  const bool primal = lp_algorithm == kPrimalAlgorithm || lp_algorithm == kForcedPrimalAlgorithm;
  if (primal && status_letter == 'N') return SENSE_MINIMISE;
  return dcv(dc::SENSE_FACTOR) < 0.0 ? SENSE_MAXIMISE : SENSE_MINIMISE;
}

bool problem_is_presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

// Rows written: cut rows added by the search follow the model rows and are
// left out, unless the problem is presolved.
int32_t rows_to_write() {
  if (problem_is_presolved()) return nrow;
  return std::max(0, nrow - std::max(0, cut_row_count));
}

void write_header(const ItemWriter& out, int32_t kind, int32_t rows) {
  out.put(attribute_name_item(kAttrProblemName));
  out.put(int_pair_item(rows, nseq - store.first_col + 1));

  ItemBytes objective_row_item;
  put_int(objective_row_item, 0, store.objective_row > 0 ? store.objective_row : 0);
  objective_row_item.bytes[4] = static_cast<unsigned char>(status_letter);
  objective_row_item.bytes[5] = static_cast<unsigned char>(written_sense_code());
  objective_row_item.bytes[6] = global_search_started != 0 ? 1 : 0;
  out.put(objective_row_item);

  out.put(int_pair_item(itcnt, ninf));
  out.foreign(int_pair_item(nelem, 0));
  out.foreign_zeros(2);

  ItemBytes format;
  format.bytes[1] = static_cast<unsigned char>(name_words - 1);
  format.bytes[2] = static_cast<unsigned char>(kind);
  format.bytes[3] = static_cast<unsigned char>(icv(ic::VERNO) / 100);
  put_int(format, 4, partial_integer_count);
  out.put(format);

  out.put(double_item(dcv(dc::OBJVAL)));
  out.put(double_item(dcv(dc::SUMINF)));
  out.put(attribute_name_item(kAttrObjectiveName));
  out.put(attribute_name_item(kAttrRhsName));
  out.put(attribute_name_item(kAttrBoundName));
  out.foreign_zeros(9);
  out.put(attribute_name_item(kAttrRangeName));
  out.foreign_zeros(9);
}

// The factor by which the stored objective value is multiplied for the
// objective row's record. A scale never set (0) means the objective is not
// scaled.
double objective_scale() {
  const double scale = dcv(kObjectiveScaleSlot);
  return scale != 0.0 ? scale : 1.0;
}

void write_row_record(const ItemWriter& out, int32_t i, int32_t kind, double objective_factor) {
  const int32_t status = int_at(ARR_POS_STATUS, i);
  const int32_t e = scale_exponent(status);
  const double row_unscale = power_of_two(kScaleBias - e);
  const int32_t type = int_at(ARR_ROW_TYPE, i) & ROW_TYPE_MASK;
  const bool is_objective_row = i == store.objective_row;
  const double lower = real_at(ARR_LOWER, i);
  const double upper = real_at(ARR_UPPER, i);
  int32_t word = record_status_word(status);
  double x = real_at(ARR_X, i);

  if (kind != SOLUTION_NO_BASIS) {
    if (is_objective_row) x = -dcv(dc::OBJVAL);
    if (lower - dcv(dc::ZTOLZE) > x || upper + dcv(dc::ZTOLZE) < x) word |= RS_OUTSIDE_BOUNDS;
  }
  if (type == ROW_G) {
    word &= ~static_cast<int32_t>(PS_AT_UPPER);
    x = -x;
  }

  const double b = real_at(ARR_RHS, i) * row_unscale;
  double low = b;
  double up = b;
  if (type == ROW_L) {
    low = upper >= kPlusInfinity ? kMinusInfinity : b - upper * row_unscale;
  } else if (type == ROW_G) {
    up = kPlusInfinity;
  } else if (type == ROW_E) {
    if (upper != 0.0) low = b - upper * row_unscale;
  }

  out.put(position_name_item(i));
  out.put(int_pair_item(type, word));
  out.put(double_item(is_objective_row ? x * objective_scale() : x * row_unscale));
  out.put(double_item(0.0));
  out.put(double_item(low));
  out.put(double_item(up));
  out.foreign_zeros(1);
  // Duals scale with the objective exactly as reduced costs do.
  out.put(double_item(real_at(ARR_REDUCED_COSTS, i) * power_of_two(e - kScaleBias) * objective_factor));
}

void write_column_record(const ItemWriter& out, int32_t j, double objective_factor, int32_t& next_moved) {
  const int32_t status = int_at(ARR_POS_STATUS, j);
  const int32_t e = scale_exponent(status);
  const double s = power_of_two(e - kScaleBias);
  const double lower = real_at(ARR_LOWER, j);
  const double upper = real_at(ARR_UPPER, j);
  const double x = real_at(ARR_X, j);
  int32_t word = record_status_word(status);
  if (lower - dcv(dc::ZTOLZE) > x || upper + dcv(dc::ZTOLZE) < x) word |= RS_OUTSIDE_BOUNDS;

  double v = x;
  if ((status & PS_FIXED) != 0 && (status & PS_NONBASIC_BETWEEN) == 0) v = lower;
  if (j == next_moved) {
    v = recorded_recurse_value(j);
    next_moved = next_recurse_column(j);
  }

  // Infinite bounds stay at +-1e20 whatever the column's scale.
  double low = ((status & PS_FREE) != 0 || lower <= kMinusInfinity) ? kMinusInfinity : s * lower;
  double up = upper < kPlusInfinity ? s * upper : upper;
  // Entity columns are never scaled: their bound at the value they hold.
  if ((status & PS_ENTITY) != 0) {
    if ((status & PS_AT_UPPER) != 0) {
      up = std::min(up, v);
    } else if ((status & PS_BASIC) == 0) {
      low = std::max(low, v);
    }
  }

  out.put(position_name_item(j));
  out.put(int_pair_item(int_at(ARR_COL_START, j + 1) - int_at(ARR_COL_START, j), word));
  out.put(double_item(s * v));
  out.put(double_item(real_at(ARR_OBJECTIVE, j) / s));
  out.put(double_item(low));
  out.put(double_item(up));
  out.foreign_zeros(1);
  out.put(double_item(real_at(ARR_REDUCED_COSTS, j) * power_of_two(kScaleBias - e) * objective_factor));
}

// ---------------------------------------------------------------------------
// Readers

// The identification shared by both record readers: name, class and letter,
// first int, status word (at-upper bit of an L row flipped), exponent.
struct RecordIdentity {
  char name[8];
  int32_t position_class;
  char class_letter;
  int32_t first_int;
  int32_t status_word;
  int32_t exponent;
};

RecordIdentity identify_record(int32_t position, const ItemBytes& name, const ItemBytes& words) {
  RecordIdentity id{};
  std::memcpy(id.name, name.bytes, 8);
  id.first_int = get_int(words, 0);
  id.status_word = get_int(words, 4);
  id.exponent = (static_cast<uint32_t>(id.status_word) >> kRecordExponentShift) & 0xFF;
  id.position_class = CLASS_COLUMN;
  id.class_letter = 'C';
  if (position > solution_header_copy.rows) return id;

  switch (id.first_int) {
    case ROW_E:
      id.position_class = CLASS_E_ROW;
      id.class_letter = 'E';
      break;
    case ROW_G:
      id.position_class = CLASS_G_ROW;
      id.class_letter = 'G';
      break;
    case ROW_L:
      id.position_class = CLASS_L_ROW;
      id.class_letter = 'L';
      break;
    case ROW_N:
      id.position_class = CLASS_N_ROW;
      id.class_letter = 'N';
      break;
    default:
      id.class_letter = ' ';
      break;
  }
  // The writer records the slack's bound; an L row's activity sits at the
  // other side.
  if (id.position_class == CLASS_L_ROW) {
    if ((id.status_word & PS_AT_UPPER) != 0) {
      id.status_word &= ~static_cast<int32_t>(PS_AT_UPPER);
    } else if ((id.status_word & PS_BASIC) == 0) {
      id.status_word |= PS_AT_UPPER;
    }
  }
  return id;
}

bool is_row_record(int32_t position) { return position <= solution_header_copy.rows; }

void set_code(char* code, int32_t state, int32_t position_class) {
  const char* text = state_code(state);
  if (position_class == CLASS_E_ROW && state != STATE_INFEASIBLE) text = kEqualityCode;
  code[0] = text[0];
  code[1] = text[1];
}

template <class Line>
void copy_identity(Line& line, const RecordIdentity& id) {
  std::memcpy(line.name, id.name, 8);
  line.position_class = id.position_class;
  line.class_letter = id.class_letter;
  line.first_int = id.first_int;
  line.status_word = id.status_word;
  line.exponent = id.exponent;
}

}  // namespace

const char* state_code(int32_t state) {
  if (state < STATE_UNKNOWN || state > STATE_BETWEEN) return kStateCodes[STATE_UNKNOWN];
  return kStateCodes[state];
}

void write_solution_file(int32_t kind) {
  if ((icv(ic::IFMEM) & kIfmemNoSolutionFile) != 0) return;

  double objective_factor = power_of_two(kScaleBias - objective_scale_exponent);
  const double sense = dcv(dc::SENSE_FACTOR);
  if (sense != 0.0) objective_factor /= std::fabs(sense);

  const bool fresh = (icv(ic::IFMEM) & kIfmemCreateAnew) != 0;
  const std::string name = make_work_file_name(EXT_SOL);
  int32_t open_error = 0;
  open_work_file(name.c_str(), fresh ? WORK_WRITE : WORK_UPDATE, open_error);
  if (open_error != WORK_OPEN_OK) {
    // The work-file layer has named the file in its message.
    error_number = MSG_OPEN_WRITE_FAILED;
    status_code = STATUS_REPORTED;
    return;
  }

  // A failed transfer abandons the file and sets the status word; the last
  // record goes out only when the file is closed.
  const int32_t status_at_entry = status_code;
  auto failed = [status_at_entry] { return work_file_buffer.unit < 0 || status_code != status_at_entry; };

  const ItemWriter out(fresh);
  const int32_t rows = rows_to_write();
  write_header(out, kind, rows);
  for (int32_t i = 1; i <= rows && !failed(); ++i) write_row_record(out, i, kind, objective_factor);
  int32_t next_moved = next_recurse_column(store.first_col - 1);
  for (int32_t j = store.first_col; j <= nseq && !failed(); ++j)
    write_column_record(out, j, objective_factor, next_moved);
  close_work_file();

  if (status_code != status_at_entry) {
    begin_message(MSG_SOLUTION_FILE_ERROR);
    emit_message();
  }
}

int32_t read_solution_header() {
  ItemBytes items[kSolutionHeaderItems];
  int32_t read_error = 0;
  if (!get_items(items, kSolutionHeaderItems, read_error)) return read_error != 0 ? read_error : STATUS_FILE_ERROR;
  auto item = [&items](int32_t n) -> const ItemBytes& { return items[n - 1]; };

  SolutionHeaderCopy h;
  std::memcpy(h.problem_name, item(kItemProblemName).bytes, 8);
  h.rows = get_int(item(kItemCounts), 0);
  h.columns = get_int(item(kItemCounts), 4);
  h.first_col = h.rows + spare_rows_left + 1;
  h.nseq = h.first_col - 1 + h.columns;
  h.objective_row = get_int(item(kItemObjectiveRow), 0);
  h.status_letter = static_cast<char>(item(kItemObjectiveRow).bytes[4]);
  const int32_t sense = item(kItemObjectiveRow).bytes[5];
  h.sense_code = (sense == SENSE_MINIMISE || sense == SENSE_MAXIMISE) ? sense : SENSE_UNKNOWN;
  h.search_byte = item(kItemObjectiveRow).bytes[6];
  h.reserved_byte = item(kItemObjectiveRow).bytes[7];
  h.itcnt = get_int(item(kItemIterations), 0);
  h.ninf = get_int(item(kItemIterations), 4);
  h.name_words = item(kItemFormat).bytes[1] + 1;
  h.solution_kind = item(kItemFormat).bytes[2];
  h.version = item(kItemFormat).bytes[3];
  h.partial_integer_count = get_int(item(kItemFormat), 4);
  h.objective_value = get_double(item(kItemObjectiveValue));
  h.sum_infeasibilities = get_double(item(kItemSumInfeasibilities));
  std::memcpy(h.objective_name, item(kItemObjectiveName).bytes, 8);
  std::memcpy(h.rhs_name, item(kItemRhsName).bytes, 8);
  std::memcpy(h.bound_name, item(kItemBoundName).bytes, 8);
  std::memcpy(h.range_name, item(kItemRangeName).bytes, 8);
  h.spare_words[0] = get_int(item(kItemSpareWords), 4);
  h.spare_words[1] = get_int(item(kItemSpareWords2), 0);
  h.spare_words[2] = get_int(item(kItemSpareWords2), 4);
  solution_header_copy = h;
  return 0;
}

void print_solution_header(int32_t& status) {
  status = read_solution_header();
  if (status != 0) {
    begin_message(MSG_SOLUTION_HEADER_UNREADABLE);
    emit_message();
    return;
  }
  const SolutionHeaderCopy& h = solution_header_copy;
  begin_message(MSG_SOLUTION_PROBLEM_LINE);
  insert_message_name8(h.problem_name);
  insert_message_name8(h.objective_name);
  insert_message_name8(h.rhs_name);
  insert_message_int(h.rows);
  insert_message_int(h.columns);
  emit_message();

  if (h.sense_code == SENSE_UNKNOWN) {
    begin_message(MSG_SOLUTION_NO_SENSE);
    emit_message();
    return;
  }
  const bool optimal = h.status_letter == 'O';
  int32_t outcome = MSG_OUTCOME_UNFINISHED;
  if (optimal) {
    outcome = MSG_OUTCOME_OPTIMAL;
  } else if (h.status_letter == 'U') {
    outcome = MSG_OUTCOME_UNBOUNDED;
  } else if (h.status_letter == 'N') {
    outcome = MSG_OUTCOME_INFEASIBLE;
  }
  begin_message(MSG_SOLUTION_RESULT_LINE);
  fetch_message_text(h.sense_code == SENSE_MAXIMISE ? MSG_SOLUTION_MAXIMISATION : MSG_SOLUTION_MINIMISATION);
  fetch_message_text(optimal ? MSG_SOLUTION_SOLUTION_IS : MSG_SOLUTION_PROBLEM_IS);
  fetch_message_text(outcome);
  insert_message_int(h.itcnt);
  emit_message();

  begin_message(MSG_SOLUTION_OBJECTIVE_LINE);
  insert_message_real(h.objective_value);
  emit_message();
  if (h.status_letter == 'N') {
    begin_message(MSG_SOLUTION_INFEASIBLE_LINE);
    insert_message_int(h.ninf);
    insert_message_real(h.sum_infeasibilities);
    emit_message();
  }
}

void read_solution_status(int32_t position, int32_t& error) {
  ItemBytes items[kSolutionRecordItems];
  error = 0;
  if (!get_items(items, kSolutionRecordItems, error)) {
    if (error == 0) error = STATUS_FILE_ERROR;
    return;
  }
  const RecordIdentity id = identify_record(position, items[0], items[1]);
  const SolutionHeaderCopy& h = solution_header_copy;
  const bool old_signs = icv(ic::IFOLDS) != 0;

  SolutionLine line;
  copy_identity(line, id);
  line.value = get_double(items[2]);
  line.cost = get_double(items[3]);
  line.lower = get_double(items[4]);
  line.upper = get_double(items[5]);
  line.dual = get_double(items[7]);

  const bool row = is_row_record(position);
  if (!old_signs) {
    // Reported duals and reduced costs follow the sense of the optimisation.
    if (row && h.sense_code == SENSE_MINIMISE) line.dual = -line.dual;
    if (!row && h.sense_code == SENSE_MAXIMISE) line.dual = -line.dual;
  }

  if (h.solution_kind == SOLUTION_NO_BASIS) {
    line.state = STATE_UNKNOWN;
  } else if ((id.status_word & RS_OUTSIDE_BOUNDS) != 0) {
    line.state = STATE_INFEASIBLE;
  } else if ((id.status_word & PS_BASIC) != 0) {
    line.state = STATE_BASIC;
  } else if ((id.status_word & PS_AT_UPPER) != 0) {
    line.state = STATE_AT_UPPER;
  } else if ((id.status_word & PS_NONBASIC_BETWEEN) != 0) {
    line.state = STATE_BETWEEN;
  } else {
    line.state = STATE_AT_LOWER;
  }
  set_code(line.code, line.state, id.position_class);

  if (row) {
    line.slack = line.value;
    if (id.position_class == CLASS_G_ROW) {
      line.rhs = line.lower;
      line.activity = line.lower + line.value;
      if (!old_signs) line.slack = -line.value;
    } else {
      line.rhs = line.upper;
      line.activity = line.upper - line.value;
    }
  }
  solution_line = line;
}

void read_range_record(int32_t position, int32_t& error) {
  ItemBytes items[kSolutionRecordItems];
  error = 0;
  if (!get_items(items, kSolutionRecordItems, error)) {
    if (error == 0) error = STATUS_FILE_ERROR;
    return;
  }
  const RecordIdentity id = identify_record(position, items[0], items[1]);
  const bool row = is_row_record(position);
  const bool maximise = solution_header_copy.sense_code == SENSE_MAXIMISE;

  RangeLine line;
  copy_identity(line, id);
  const bool basic = (id.status_word & PS_BASIC) != 0;
  if (basic) {
    line.state = (id.status_word & RS_OUTSIDE_BOUNDS) != 0 ? STATE_INFEASIBLE : STATE_BASIC;
  } else {
    line.state = (id.status_word & PS_AT_UPPER) != 0 ? STATE_AT_UPPER : STATE_AT_LOWER;
  }
  set_code(line.code, line.state, id.position_class);

  const double v = get_double(items[2]);
  line.cost = get_double(items[3]);
  if (basic) {
    line.activity = v;
  } else {
    line.reduced_cost = v;
    const auto fv = static_cast<float>(v);
    line.unit_cost[0] = row ? fv : -fv;
    line.unit_cost[1] = -line.unit_cost[0];
    const auto inf = static_cast<float>(kPlusInfinity);
    const bool at_lower = line.state == STATE_AT_LOWER;
    if (!row && (id.status_word & PS_FIXED) != 0) {
      // A fixed column stays at its value whatever its cost: the basis
      // stays optimal for every cost.
      line.cost_limit[0] = inf;
      line.cost_limit[1] = -inf;
    } else if (!maximise) {
      const auto limit = static_cast<float>(line.cost - v);
      line.cost_limit[0] = at_lower ? inf : limit;
      line.cost_limit[1] = at_lower ? limit : -inf;
    } else {
      const auto limit = static_cast<float>(v + line.cost);
      line.cost_limit[0] = at_lower ? -inf : limit;
      line.cost_limit[1] = at_lower ? limit : inf;
    }
  }

  line.lower = get_float(items[4], 0);
  line.upper = get_float(items[4], 4);
  if (!row) {
    if (line.state == STATE_AT_LOWER) line.activity = line.lower;
    if (line.state == STATE_AT_UPPER) line.activity = line.upper;
  } else {
    double row_value = line.activity;
    if (id.position_class == CLASS_L_ROW && line.state == STATE_AT_LOWER) row_value = line.upper - line.lower;
    line.slack = row_value;
    if (id.position_class == CLASS_G_ROW) {
      line.rhs = line.lower;
      line.activity = line.lower + row_value;
    } else {
      line.rhs = line.upper;
      line.activity = line.upper - row_value;
    }
  }

  line.lower_activity = static_cast<float>(line.activity + get_float(items[5], 0));
  line.upper_activity = static_cast<float>(line.activity + get_float(items[5], 4));

  if (basic) {
    const float a = get_float(items[6], 0);
    const float b = get_float(items[6], 4);
    line.unit_cost[0] = a;
    line.unit_cost[1] = b;
    line.cost_limit[0] = static_cast<float>(maximise ? line.cost - a : line.cost + a);
    line.cost_limit[1] = static_cast<float>(maximise ? line.cost + b : line.cost - b);
  }
  line.limiting[0] = get_int(items[7], 0);
  line.limiting[1] = get_int(items[7], 4);
  range_line = line;
}

int32_t solution_record_position(int32_t k) {
  const SolutionHeaderCopy& h = solution_header_copy;
  return k <= h.rows ? k : h.first_col + (k - h.rows - 1);
}

bool read_all_range_lines(std::vector<RangeLine>& lines) {
  const int32_t records = solution_header_copy.rows + solution_header_copy.columns;
  lines.assign(static_cast<std::size_t>(std::max(records, 0)) + 1, RangeLine{});
  for (int32_t k = 1; k <= records; ++k) {
    int32_t error = 0;
    read_range_record(solution_record_position(k), error);
    if (error != 0) {
      begin_message(MSG_SOLUTION_FILE_ERROR);
      emit_message();
      status_code = STATUS_REPORTED;
      return false;
    }
    lines[static_cast<std::size_t>(k)] = range_line;
  }
  return true;
}

bool read_all_solution_lines(const std::function<void(int32_t, int32_t)>& visit) {
  const int32_t records = solution_header_copy.rows + solution_header_copy.columns;
  for (int32_t k = 1; k <= records; ++k) {
    const int32_t position = solution_record_position(k);
    int32_t error = 0;
    read_solution_status(position, error);
    if (error != 0) {
      begin_message(MSG_SOLUTION_FILE_ERROR);
      emit_message();
      return false;
    }
    visit(k, position);
  }
  return true;
}

void copy_double_to_name8(double value, char* name) { std::memcpy(name, &value, 8); }

}  // namespace kl
