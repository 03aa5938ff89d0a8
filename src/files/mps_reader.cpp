#include "files/mps_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "problem/scale_exponents.h"
#include "files/load_support.h"
#include "files/mps_entities.h"
#include "files/solution_file.h"
#include "problem/search_state.h"
#include "problem/loader.h"
#include "problem/queries.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "runtime/platform.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;
// A malformed number, a stopping error or a failed set-up check push the
// error count past any IGNORE a caller would use for counted errors.
constexpr int32_t kSevereErrorWeight = 10000;
// Wide fixed names: the line holds two names, a number and the gaps.
constexpr int32_t kWideLineExtra = 16;
// Name slots beyond the positions, as every load leaves them.
constexpr int64_t kNameTableMargin = 4;
constexpr char kMarker[] = "'MARKER'";
constexpr char kIntegerStart[] = "'INTORG'";
constexpr char kIntegerEnd[] = "'INTEND'";

// Model name slots (character attributes 3001..3005).
enum ModelName : int32_t { MODEL_PROBLEM = 0, MODEL_BOUNDS = 1, MODEL_OBJECTIVE = 2, MODEL_RHS = 3, MODEL_RANGES = 4 };

bool is_blank8(const char* name) {
  return std::all_of(name, name + kNameChars, [](char c) { return c == ' '; });
}

void copy8(const char* source, char* destination) { std::memcpy(destination, source, kNameChars); }

// A control name (8 characters) widened to a key of name_chars characters.
std::string control_key(int32_t control, int32_t name_chars) {
  std::string key(static_cast<size_t>(name_chars), ' ');
  std::memcpy(key.data(), character_controls[control], static_cast<size_t>(std::min(name_chars, kNameChars)));
  return key;
}

// "*" characters with the number right-aligned in the first 8, the rest
// blank: the names of spare rows and columns.
std::string generated_name(int32_t number, int32_t name_chars) {
  std::string key(static_cast<size_t>(name_chars), ' ');
  std::memset(key.data(), '*', kNameChars);
  int32_t k = kNameChars;
  for (int32_t n = number; n > 0 && k > 0; n /= 10) key[static_cast<size_t>(--k)] = static_cast<char>('0' + n % 10);
  return key;
}

void append_name(MpsProblem& p, const std::string& key) { p.names.insert(p.names.end(), key.begin(), key.end()); }

// Generated names for count spare positions, numbers from first_number,
// skipping those that name a position of the same kind.
void append_generated_names(MpsProblem& p, int32_t count, int32_t first_number,
                            const std::unordered_map<std::string, int32_t>& taken) {
  int32_t number = first_number;
  for (int32_t k = 0; k < count; ++k) {
    std::string key = generated_name(number++, p.name_chars);
    while (taken.count(key) != 0) key = generated_name(number++, p.name_chars);
    append_name(p, key);
  }
}

// ---------------------------------------------------------------------------
// NAME and ROWS

void start_name_section(MpsRead& r) {
  const MpsLine& line = r.line;
  // The name stands from column 15 in fixed files (some files start it a
  // column later) and after "NAME" in free ones.
  int32_t c = r.free ? 5 : kMpsFixedFieldStart[3];
  while (c <= line.length && (*line.column(c) == ' ' || *line.column(c) == '\t')) ++c;
  char name[kNameChars];
  std::memset(name, ' ', kNameChars);
  for (int32_t k = 0; k < kNameChars && c + k <= line.length; ++k) name[k] = *line.column(c + k);
  copy8(name, r.p.model_names[MODEL_PROBLEM]);
  begin_message(MSG_LOAD_PROBLEM_NAME);
  insert_message_name8(name);
  emit_message();
}

void start_rows_section(MpsRead& r) {
  r.p.objective_row = 0;
  r.p.objective_constant_row = 0;
  copy8(character_controls[cc::OBJNAM], r.p.model_names[MODEL_OBJECTIVE]);
}

int32_t row_type_of_letter(char letter) {
  switch (letter) {
    case 'N':
    case 'n':
      return ROW_N;
    case 'L':
    case 'l':
      return ROW_L;
    case 'G':
    case 'g':
      return ROW_G;
    case 'E':
    case 'e':
      return ROW_E;
    default:
      return 0;
  }
}

void read_row_line(MpsRead& r) {
  MpsLine& line = r.line;
  MpsProblem& p = r.p;
  const char letter = r.free ? *line.field(1) : (line.text[1] != ' ' ? line.text[1] : line.text[2]);
  const int32_t type = row_type_of_letter(letter);
  if (type == 0 || !line.reaches(2)) {
    mps_bad_line(r);
    return;
  }
  const std::string key = mps_field_key(r, line.field(2));
  if (p.row_index.count(key) != 0) {
    mps_report(MSG_MPS_DUPLICATE_ROW, key.data(), p.name_chars, true);
    ++r.errors;
    return;
  }
  if (p.rows + 1 > r.capacity.max_rows - r.capacity.spare_rows) {
    mps_report_count(MSG_MPS_TOO_MANY_ROWS, r.capacity.max_rows, nullptr, 0);
    mps_stop(r);
    return;
  }
  const int32_t row = ++p.rows;
  p.row_index.emplace(key, row);
  p.row_type.push_back(type);
  append_name(p, key);
  if (type != ROW_N) return;
  if (key == control_key(cc::OBCNAM, p.name_chars)) {
    p.objective_constant_row = row;
  } else if (p.objective_row == 0) {
    const char* wanted = p.model_names[MODEL_OBJECTIVE];
    if (is_blank8(wanted) || key == control_key(cc::OBJNAM, p.name_chars)) {
      p.objective_row = row;
      std::memcpy(p.model_names[MODEL_OBJECTIVE], key.data(), kNameChars);
    }
  }
}

// Spare rows and the per-position storage of the rows.
void finish_rows_section(MpsRead& r) {
  MpsProblem& p = r.p;
  const int32_t spare = r.capacity.spare_rows;
  p.first_col = p.rows + spare + 1;
  p.last_position = p.first_col - 1;
  p.row_type.resize(static_cast<size_t>(p.first_col), ROW_L);
  append_generated_names(p, spare, p.rows + 1, p.row_index);
  const size_t positions = static_cast<size_t>(p.first_col);
  p.status.assign(positions, 0);
  p.lower.assign(positions, 0.0);
  p.upper.assign(positions, 0.0);
  p.cost.assign(positions, 0.0);
  p.col_start.assign(positions, 0);
  p.entity_of.assign(positions, 0);
  p.rhs.assign(positions, 0.0);
  p.range.assign(positions, 0.0);
  p.has_range.assign(positions, 0);
  r.rows_read = true;
}

// ---------------------------------------------------------------------------
// COLUMNS

bool start_columns_section(MpsRead& r) {
  MpsProblem& p = r.p;
  if (!r.rows_read) finish_rows_section(r);
  if (p.rows + r.capacity.spare_rows <= 0) {
    begin_message(MSG_LOAD_BAD_COUNT);
    insert_message_chars("COLUMNS   ", 10);
    insert_message_int(mps_source.line_number);
    insert_message_int(0);
    insert_message_int(p.rows);
    emit_message();
    mps_stop(r);
    return false;
  }
  p.elem_row.assign(1, 0);
  p.elem_value.assign(1, 0.0);
  p.entity_type.assign(1, 0);
  p.entity_column.assign(1, 0);
  p.semicont_limit.assign(1, 0.0);
  p.set_start.assign(1, 0);
  p.set_row.assign(1, 0);
  p.set_name.assign(1, std::string());
  p.member_column.assign(1, 0);
  p.member_ref.assign(1, 0.0);
  p.row_map.assign(static_cast<size_t>(p.first_col), 0);
  int32_t next = 0;
  for (int32_t i = 1; i <= p.rows; ++i) {
    if (icv(ic::IFNRW) >= 0) {
      p.row_map[static_cast<size_t>(i)] = i;
    } else if (p.row_type[static_cast<size_t>(i)] != ROW_N) {
      p.row_map[static_cast<size_t>(i)] = ++next;
    }
  }
  r.columns_read = true;
  return true;
}

// The next element slot must not pass M_M - NMXTRA (message 52).
bool element_space_left(MpsRead& r) {
  if (static_cast<int64_t>(r.p.elements()) + 1 <= r.capacity.max_elements - r.capacity.spare_elements) return true;
  mps_report_count(MSG_MPS_ELEMENT_SPACE, r.capacity.max_elements, nullptr, 0);
  mps_stop(r);
  return false;
}

void store_current_cost(MpsRead& r) {
  if (r.current_column > 0) r.p.cost[static_cast<size_t>(r.current_column)] = r.current_cost;
  r.current_cost = 0.0;
}

// A new column at the next position; false when the read stops.
bool start_new_column(MpsRead& r, const std::string& key) {
  MpsProblem& p = r.p;
  store_current_cost(r);
  if (!element_space_left(r)) return false;
  const int32_t position = p.last_position + 1;
  if (position > r.capacity.max_columns) {
    mps_report_count(MSG_MPS_TOO_MANY_COLUMNS, r.capacity.max_columns, nullptr, 0);
    mps_stop(r);
    return false;
  }
  p.column_index.emplace(key, position);
  append_name(p, key);
  p.status.push_back(PS_FINITE_LOWER);
  p.lower.push_back(0.0);
  p.upper.push_back(kInfinity);
  p.cost.push_back(0.0);
  p.col_start.push_back(p.elements() + 1);
  p.entity_of.push_back(0);
  p.last_position = position;
  r.current_column = position;
  return !r.in_integer_block || mps_make_entity(r, position, ENT_INTEGER, PS_INTEGER);
}

void read_column_pair(MpsRead& r, int32_t name_field, int32_t value_field) {
  MpsProblem& p = r.p;
  const int32_t row = mps_find_row(r, r.line.field(name_field));
  if (row == 0) {
    mps_report_field(r, MSG_MPS_UNKNOWN_ROW, r.line.field(name_field), true);
    ++r.errors;
    return;
  }
  const bool objective = row == p.objective_row;
  if (p.row_type[static_cast<size_t>(row)] == ROW_N && !objective && row != p.objective_constant_row &&
      icv(ic::IFNRW) <= 0) {
    return;
  }
  double v = 0.0;
  if (!mps_read_value(r, value_field, v)) return;
  if (std::fabs(v) <= dcv(dc::ZTOLDA)) return;
  if (objective) {
    r.current_cost += v;
    if (icv(ic::IFNRW) <= 0) return;
  }
  const int32_t stored_row = p.row_map[static_cast<size_t>(row)];
  if (stored_row == 0) return;
  if (!element_space_left(r)) return;
  p.elem_row.push_back(stored_row);
  p.elem_value.push_back(v);
}

bool is_marker_line(const MpsLine& line) {
  return line.reaches(3) && std::memcmp(line.field(3), kMarker, kNameChars) == 0;
}

void read_column_line(MpsRead& r) {
  MpsLine& line = r.line;
  MpsProblem& p = r.p;
  if (!line.reaches(2)) {
    mps_bad_line(r);
    return;
  }
  if (is_marker_line(line)) {
    const int32_t keyword_field = r.free ? 4 : 5;
    const char* expected = r.in_integer_block ? kIntegerEnd : kIntegerStart;
    if (line.reaches(keyword_field) && std::memcmp(line.field(keyword_field), expected, kNameChars) == 0) {
      r.in_integer_block = !r.in_integer_block;
    } else {
      mps_report(MSG_MPS_BAD_MARKER, nullptr, 0, true);
      ++r.errors;
      mps_echo_line(line);
    }
    return;
  }
  const std::string key = mps_field_key(r, line.field(2));
  const auto found = p.column_index.find(key);
  if (found == p.column_index.end()) {
    if (!start_new_column(r, key)) return;
  } else if (found->second != r.current_column) {
    mps_report(MSG_MPS_NAME_OUT_OF_PLACE, key.data(), p.name_chars, true);
    ++r.errors;
    return;
  }
  if (line.reaches(4)) read_column_pair(r, 3, 4);
  if (!r.stopped && line.reaches(6) && !r.wide_fixed) read_column_pair(r, 5, 6);
}

// The last column's cost, spare columns, and the default status and bounds
// of every row and column.
void finish_columns_section(MpsRead& r) {
  MpsProblem& p = r.p;
  store_current_cost(r);
  if (r.in_integer_block) {
    // 'INTORG' without its 'INTEND': the block ends with the section, as
    // files written that way mean it to.
    mps_report(MSG_MPS_OPEN_INTEGER_BLOCK, nullptr, 0, false);
    r.in_integer_block = false;
  }
  if (static_cast<int64_t>(p.elements()) + 1 >= r.capacity.max_elements - r.capacity.spare_elements) {
    mps_report_count(MSG_MPS_ELEMENT_SPACE, r.capacity.max_elements, nullptr, 0);
    mps_stop(r);
    return;
  }
  append_generated_names(p, r.capacity.spare_columns, p.last_position + 1, p.column_index);
  for (int32_t i = 1; i < p.first_col; ++i) {
    const size_t k = static_cast<size_t>(i);
    if (i > p.rows) {
      p.status[k] = PS_FIXED;
      continue;
    }
    switch (p.row_type[k]) {
      case ROW_E:
        p.status[k] = PS_BOTH_FINITE;
        break;
      case ROW_L:
        p.status[k] = PS_FINITE_LOWER;
        p.upper[k] = kInfinity;
        break;
      case ROW_G:
        p.status[k] = PS_FINITE_UPPER | PS_AT_UPPER;
        p.lower[k] = -kInfinity;
        break;
      default:
        p.status[k] = 0;
        p.lower[k] = -kInfinity;
        p.upper[k] = kInfinity;
        break;
    }
  }
  for (int32_t j = p.first_col; j <= p.last_position; ++j) {
    const size_t k = static_cast<size_t>(j);
    if ((p.status[k] & PS_INTEGER) == 0) continue;
    p.status[k] |= PS_FINITE_UPPER;
    p.upper[k] = 1.0;
  }
}

// ---------------------------------------------------------------------------
// RHS and RANGES

// Vector selection of RHS and RANGES lines: true when the line belongs to
// the kept vector (which a blank kept name takes from the first line).
bool select_named_vector(MpsRead& r, char* kept) {
  const char* field = r.line.field(2);
  if (mps_names_equal(field, kept) != 0) return true;
  if (!is_blank8(kept)) return false;
  if (mps_find_column(r, field) != 0) {
    mps_report_field(r, MSG_MPS_NAME_OUT_OF_PLACE, field, true);
    ++r.errors;
    return false;
  }
  mps_copy_name(field, kept);
  return true;
}

// Reads the pairs (3, 4) and (5, 6) of an RHS or RANGES line; apply gets the
// row and the value. A row not found ends the line.
template <class Apply>
void read_row_value_pairs(MpsRead& r, Apply apply) {
  const int32_t pairs[2][2] = {{3, 4}, {5, 6}};
  for (int32_t k = 0; k < 2; ++k) {
    const int32_t name_field = pairs[k][0];
    const int32_t value_field = pairs[k][1];
    if (k == 1 && (r.wide_fixed || !r.line.reaches(value_field))) return;
    if (k == 0 && !r.line.reaches(name_field)) return;
    const int32_t row = mps_find_row(r, r.line.field(name_field));
    if (row == 0) {
      mps_report_field(r, MSG_MPS_UNKNOWN_ROW, r.line.field(name_field), true);
      ++r.errors;
      return;
    }
    double v = 0.0;
    if (!mps_read_value(r, value_field, v)) return;
    apply(row, v);
  }
}

void read_rhs_line(MpsRead& r) {
  if (!select_named_vector(r, r.rhs_vector)) return;
  read_row_value_pairs(r, [&](int32_t row, double v) {
    if (std::fabs(v) > dcv(dc::ZTOLZE)) r.p.rhs[static_cast<size_t>(row)] = v;
  });
}

// The range takes effect at ENDATA, once the right-hand sides are known
// whatever order the sections came in.
void read_range_line(MpsRead& r) {
  if (!select_named_vector(r, r.range_vector)) return;
  read_row_value_pairs(r, [&](int32_t row, double v) {
    r.p.range[static_cast<size_t>(row)] = v;
    r.p.has_range[static_cast<size_t>(row)] = 1;
  });
}

// A G row with range R reads rhs <= a.x <= rhs + |R|; an L row rhs - |R| <=
// a.x <= rhs; an E row rhs <= a.x <= rhs + R for R > 0, rhs - |R| <= a.x <= rhs
// otherwise. Every ranged row becomes an L row whose slack has both bounds.
void apply_ranges(MpsProblem& p) {
  for (int32_t i = 1; i <= p.rows; ++i) {
    const size_t k = static_cast<size_t>(i);
    if (p.has_range[k] == 0) continue;
    const double range = p.range[k];
    const double width = std::fabs(range);
    switch (p.row_type[k]) {
      case ROW_L:
        break;
      case ROW_G:
        p.row_type[k] = ROW_L;
        p.lower[k] = 0.0;
        p.status[k] |= PS_FINITE_LOWER;
        p.rhs[k] += width;
        break;
      case ROW_E:
        p.row_type[k] = ROW_L;
        if (range > 0.0) p.rhs[k] += range;
        break;
      default:
        continue;  // a range on a free row has nothing to bound
    }
    mps_set_upper(p, i, width);
  }
}

// ---------------------------------------------------------------------------
// BOUNDS

void read_bound_line(MpsRead& r) {
  MpsLine& line = r.line;
  MpsProblem& p = r.p;
  const char* vector = line.field(2);
  if (mps_names_equal(vector, r.bound_vector) == 0) {
    if (!is_blank8(r.bound_vector)) return;
    mps_copy_name(vector, r.bound_vector);
  }
  if (!line.reaches(3)) {
    mps_bad_line(r);
    return;
  }
  const int32_t column = mps_find_column(r, line.field(3));
  if (column == 0) {
    mps_report_field(r, MSG_MPS_UNKNOWN_COLUMN, line.field(3), true);
    ++r.errors;
    return;
  }
  static const char* const kTypes[] = {" LO ", " UP ", " FX ", " FR ", " MI ", " PL ",
                                       " UI ", " SC ", " BV ", " PI ", " LI ", " SI "};
  const char* type = nullptr;
  for (const char* t : kTypes) {
    if (std::memcmp(line.text, t, 4) == 0) type = t + 1;
  }
  if (type == nullptr) {
    mps_bad_line(r);
    return;
  }
  double v = 0.0;
  if (!mps_read_value(r, 4, v)) return;
  const size_t k = static_cast<size_t>(column);
  if (is_entity_bound_type(type)) {
    read_entity_bound(r, column, type, v);
  } else if (type[0] == 'L') {
    mps_set_lower(p, column, v);
  } else if (type[0] == 'U') {
    if ((p.status[k] & PS_ENTITY) != 0 && (p.status[k] & PS_PARTIAL_INTEGER) == 0) {
      if (v > icv(ic::INTMAX)) {
        mps_report_field(r, MSG_MPS_INTEGER_BOUND_RANGE, line.field(3), true);
        r.errors += kSevereErrorWeight;
      }
      if (std::trunc(v) == 1.0) p.status[k] |= PS_BINARY;
    }
    mps_set_upper(p, column, v);
  } else if (type[0] == 'F' && type[1] == 'X') {
    mps_set_lower(p, column, v);
    mps_set_upper(p, column, v);
  } else if (type[0] == 'F') {
    mps_set_lower(p, column, -kInfinity);
    mps_set_upper(p, column, kInfinity);
  } else if (type[0] == 'M') {
    mps_set_lower(p, column, -kInfinity);
  }
}

// ---------------------------------------------------------------------------
// Sections

bool columns_needed(MpsRead& r) {
  if (r.columns_read) return true;
  mps_report(MSG_MPS_BEFORE_COLUMNS, r.line.text, r.line.length, false);
  r.errors += kSevereErrorWeight;
  mps_stop(r);
  return false;
}

void finish_section(MpsRead& r) {
  switch (r.section) {
    case MPS_ROWS:
      finish_rows_section(r);
      break;
    case MPS_COLUMNS:
      finish_columns_section(r);
      break;
    case MPS_SETS:
      finish_sets_section(r);
      break;
    case MPS_QMATRIX:
    case MPS_QUADOBJ:
      finish_quadratic_section(r);
      break;
    default:
      break;
  }
}

void start_section(MpsRead& r, int32_t section) {
  switch (section) {
    case MPS_NAME:
      start_name_section(r);
      break;
    case MPS_ROWS:
      start_rows_section(r);
      break;
    case MPS_COLUMNS:
      start_columns_section(r);
      break;
    case MPS_RHS:
      if (columns_needed(r)) copy8(character_controls[cc::RHSNAM], r.rhs_vector);
      break;
    case MPS_RANGES:
      columns_needed(r);
      break;
    case MPS_BOUNDS:
      if (columns_needed(r)) {
        copy8(character_controls[cc::BNDNAM], r.bound_vector);
        r.bounds_read = true;
      }
      break;
    case MPS_SETS:
      columns_needed(r);
      break;
    case MPS_RECURSE:
      start_recurse_section(r);
      break;
    case MPS_QMATRIX:
    case MPS_QUADOBJ:
      start_quadratic_section(r, section == MPS_QMATRIX);
      break;
    case MPS_ENDATA:
      columns_needed(r);
      break;
    default:
      break;
  }
}

// A header line: the section it names, or a bad line that changes nothing.
// Returns the new section (MPS_NONE for a bad line).
int32_t read_header(MpsRead& r) {
  const MpsLine& line = r.line;
  const int32_t section = mps_section_of_header(line.text, line.length);
  const char* keyword = mps_section_layout(section).keyword;
  const int32_t n = static_cast<int32_t>(std::strlen(keyword));
  const bool known = section != MPS_NONE && line.length >= n && std::memcmp(line.text, keyword, static_cast<size_t>(n)) == 0;
  // ROWS and COLUMNS each come once, ROWS first: a second one would renumber
  // what is already read.
  const bool repeated = (section == MPS_ROWS && (r.section == MPS_ROWS || r.rows_read)) ||
                        (section == MPS_COLUMNS && (r.section == MPS_COLUMNS || r.columns_read));
  if (!known || repeated) {
    mps_bad_line(r);
    return MPS_NONE;
  }
  finish_section(r);
  if (r.stopped) return MPS_NONE;
  r.section = section;
  start_section(r, section);
  return section;
}

void read_data_line(MpsRead& r) {
  MpsLine& line = r.line;
  const int32_t section = r.section;
  if (section == MPS_NONE || section == MPS_NAME || section == MPS_ENDATA) {
    mps_bad_line(r);
    return;
  }
  // ?VUB lines name their columns at fixed columns whatever the format.
  if (r.free && section != MPS_VUB) {
    split_free_fields(line, mps_section_layout(section), section == MPS_BOUNDS || section == MPS_RECURSE);
  } else {
    set_fixed_fields(line);
  }
  switch (section) {
    case MPS_ROWS:
      read_row_line(r);
      break;
    case MPS_COLUMNS:
      read_column_line(r);
      break;
    case MPS_RHS:
      read_rhs_line(r);
      break;
    case MPS_RANGES:
      read_range_line(r);
      break;
    case MPS_BOUNDS:
      read_bound_line(r);
      break;
    case MPS_SETS:
      read_set_line(r);
      break;
    case MPS_QMATRIX:
    case MPS_QUADOBJ:
      read_quadratic_line(r);
      break;
    case MPS_RECURSE:
      read_recurse_line(r);
      break;
    case MPS_VUB:
      read_vub_line(r);
      break;
    default:
      mps_bad_line(r);
      break;
  }
}

// ---------------------------------------------------------------------------
// ENDATA: the final status words, the bound check, then the problem store.

// Rows and columns as the set-up expects them: fixed positions marked, N
// rows free, the slack basis.
void finish_positions(MpsProblem& p) {
  apply_ranges(p);
  for (int32_t i = 1; i <= p.rows; ++i) {
    const size_t k = static_cast<size_t>(i);
    if (p.lower[k] == p.upper[k]) p.status[k] |= PS_FIXED;
    if (p.row_type[k] == ROW_N) p.status[k] = (p.status[k] | PS_FREE) & ~static_cast<int32_t>(PS_FINITE_LOWER);
    p.status[k] = (p.status[k] & ~static_cast<int32_t>(PS_BASIC | PS_AT_UPPER)) | PS_BASIC;
  }
  for (int32_t j = p.first_col; j <= p.last_position; ++j) {
    const size_t k = static_cast<size_t>(j);
    if (p.lower[k] == p.upper[k]) p.status[k] |= PS_FIXED;
    if ((p.status[k] & PS_BOTH_FINITE) != 0) p.status[k] &= ~static_cast<int32_t>(PS_FREE);
    p.status[k] &= ~static_cast<int32_t>(PS_BASIC | PS_AT_UPPER);
  }
}

// Columns whose upper bound lies below the lower one, found before the
// loaded problem is replaced (message 18 each, then 29). A semi-continuous
// column is checked with the lower bound 0 that the set-up gives it.
bool bounds_consistent(MpsProblem& p) {
  bool consistent = true;
  for (int32_t j = p.first_col; j <= p.last_position; ++j) {
    const size_t k = static_cast<size_t>(j);
    const bool semicontinuous = p.entity_of[k] != 0 && (p.status[k] & PS_SEMICONTINUOUS) != 0;
    const double lower = semicontinuous ? 0.0 : p.lower[k];
    if (p.upper[k] >= lower) continue;
    begin_message(MSG_LOAD_CROSSED_BOUNDS);
    insert_message_name8(p.name(j));
    emit_message();
    consistent = false;
  }
  if (!consistent) {
    begin_message(MSG_LOAD_INCONSISTENT);
    emit_message();
  }
  return consistent;
}

// Set members too close together fail the set-up; the same rule runs here
// on what was read, so that such a file never replaces the loaded problem.
// The messages come from here only when the read fails on them; otherwise
// the set-up gives them.
void check_set_spacing(MpsRead& r) {
  MpsProblem& p = r.p;
  const auto spacing_errors = [&p](bool report) {
    int32_t close = 0;
    for (int32_t s = 1; s <= p.sets(); ++s) {
      const int32_t first = p.set_start[static_cast<size_t>(s)] + 1;
      const int32_t count = p.set_start[static_cast<size_t>(s) + 1] - first + 1;
      close += check_set_member_spacing(
          p.set_name[static_cast<size_t>(s)].data(), p.member_ref.data() + first, count,
          [&p, first](int32_t i) -> const char* { return p.name(p.member_column[static_cast<size_t>(first + i)]); },
          report);
    }
    return close;
  };
  if (spacing_errors(false) == 0) return;
  if (static_cast<int64_t>(r.errors) + kSetReferenceErrorWeight <= icv(ic::IGNORE)) return;
  spacing_errors(true);
  r.errors += kSetReferenceErrorWeight;
}

struct Block {
  int32_t id;
  int64_t words;
};

// The blocks of the new problem, obtained outside the registry before the
// loaded problem is given up, so that a shortage leaves that problem alone.
struct StagedBlocks {
  std::vector<Block> blocks;
  std::vector<void*> cells;

  ~StagedBlocks() {
    for (void*& cell : cells) free_array(0, cell);
  }
  // All or nothing: false after message 20 naming the array, nothing kept.
  bool allocate(int32_t& result) {
    cells.assign(blocks.size(), nullptr);
    for (size_t k = 0; k < blocks.size(); ++k) {
      const int64_t words = blocks[k].words > 0 ? blocks[k].words : 0;
      if (words == 0 || allocate_array_keep_old(0, cells[k], words) == 0) continue;
      for (void*& cell : cells) free_array(0, cell);
      set_message_mode(0);
      begin_message(MSG_ARRAY_NO_MEMORY);
      insert_message_int(blocks[k].id);
      emit_message();
      result = blocks[k].id;
      return false;
    }
    return true;
  }
  // Registers the blocks for the current slot, which holds nothing now.
  void install() {
    for (size_t k = 0; k < blocks.size(); ++k) {
      const int32_t id = blocks[k].id;
      array_registry[id][current_slot] = cells[k];
      array_cells[id] = cells[k];
      cells[k] = nullptr;
    }
  }
};

// Column-wise quadratic objective (ids 82 to 85, layout in problem/loader.h)
// from the checked triplets, sorted by (first, second).
void store_quadratic(const MpsProblem& p) {
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  const int32_t kept = static_cast<int32_t>(p.quadratic.size());
  for (int32_t t = 0; t < kept; ++t) {
    index[t + 1] = p.quadratic[static_cast<size_t>(t)].second;
    value[t + 1] = p.quadratic[static_cast<size_t>(t)].value;
  }
  int32_t t = 0;
  for (int32_t j = store.first_col; j <= nseq + 1; ++j) {
    while (t < kept && p.quadratic[static_cast<size_t>(t)].first < j) ++t;
    upper_start[j] = t + 1;
  }
  // Mirror entries: counted per column, then placed column by column.
  for (const QuadraticTriplet& q : p.quadratic) {
    if (q.second > q.first) ++lower_start[q.second + 1];
  }
  int32_t next = kept + 1;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t count = lower_start[j + 1];
    lower_start[j + 1] = next;
    next += count;
  }
  lower_start[store.first_col] = kept + 1;
  for (const QuadraticTriplet& q : p.quadratic) {
    if (q.second <= q.first) continue;
    const int32_t slot = lower_start[q.second + 1]++;
    index[slot] = q.first;
    value[slot] = q.value;
  }
  nqelem = next - 1;
}

int32_t mirrored_quadratic_entries(const MpsProblem& p) {
  int32_t n = 0;
  for (const QuadraticTriplet& q : p.quadratic) n += q.second > q.first ? 2 : 1;
  return n;
}

// The scalars of the new problem.
void commit_counts(MpsRead& r, int32_t removed_rows) {
  const MpsProblem& p = r.p;
  nrow = p.rows - removed_rows;
  spare_rows_left = r.capacity.spare_rows + removed_rows;
  store.first_col = p.first_col;
  nseq = p.last_position;
  spare_cols_left = r.capacity.spare_columns;
  spare_elems_left = r.capacity.spare_elements;
  spare_entities_left = r.capacity.spare_entities;
  name_words = p.name_chars / kNameChars;
  nelem = p.elements();
  nglent = p.entities();
  nsets = p.sets();
  nsosm = p.members();
  nqelem = 0;
  recurse_entry_count = static_cast<int32_t>(p.recurse.size());
  store.elem_space = static_cast<int64_t>(nelem) + r.capacity.spare_elements + recurse_entry_count;
  store.unpresolvable_count = 0;
  store.objective_row = removed_rows > 0 ? -1 : p.objective_row;
  // Scaling keeps the row that carries the objective constant at factor 1.
  {
    const int32_t k = p.objective_constant_row;
    int32_t mapped = k;
    if (k > 0 && removed_rows > 0) mapped = k <= p.rows ? p.row_map[static_cast<size_t>(k)] : 0;
    objective_name_row = mapped > 0 && mapped <= nrow ? mapped : 0;
  }
  const double objective_rhs = p.objective_row > 0 ? p.rhs[static_cast<size_t>(p.objective_row)] : 0.0;
  dcv(kObjectiveConstantSlot) = -objective_rhs;
  dcv(kSecondObjectiveConstantSlot) = 0.0;
  dcv(kObjectiveScaleSlot) = 1.0;
  file_quadratic_entry_count = r.quadratic_count;
  partial_integer_count = p.partial_integer_count;
  recurse_chains = RecurseChains{p.first_cv_entry, p.cv_entry_count, p.first_sb_entry, p.sb_entry_count};
  lp_status = 0;
  global_status = 0;
  status_letter = 'I';
  int_attribute(ATTR_INTEGER_SOLUTIONS) = 0;
  int_attribute(ATTR_OPTIMISER_1029) = 0;
  row_classes_available = 0;
  global_search_started = 0;
  copy8(r.bound_vector, r.p.model_names[MODEL_BOUNDS]);
  copy8(r.rhs_vector, r.p.model_names[MODEL_RHS]);
  copy8(r.range_vector, r.p.model_names[MODEL_RANGES]);
  for (int32_t n = 0; n < 5; ++n) copy8(r.p.model_names[n], character_attributes[n + 1]);
}

// The rows: kept rows at their mapped numbers, then the rows freed by
// dropping N rows, then the spare rows.
void commit_rows(const MpsProblem& p, int32_t removed_rows) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> rhs = real_array(ARR_WORK_VECTOR);
  OneBased<double> basic_upper = real_array(ARR_BASIC_UPPER);
  OneBased<int32_t> basis = int_array(ARR_BASIS_HEADER);
  const size_t name_bytes = static_cast<size_t>(p.name_chars);
  char* names = name_array(ARR_NAME_TABLE);
  int32_t freed = nrow;
  int32_t name_number = p.first_col;
  for (int32_t i = 1; i < p.first_col; ++i) {
    const size_t k = static_cast<size_t>(i);
    int32_t m = i;
    if (i <= p.rows && removed_rows > 0) m = p.row_map[k] > 0 ? p.row_map[k] : ++freed;
    char* name = names + static_cast<size_t>(m - 1) * name_bytes;
    if (m > nrow && i <= p.rows) {
      // A position freed by a dropped N row is a spare row with a name of its own.
      std::string key = generated_name(name_number++, p.name_chars);
      while (p.row_index.count(key) != 0) key = generated_name(name_number++, p.name_chars);
      std::memcpy(name, key.data(), name_bytes);
    } else {
      std::memcpy(name, p.names.data() + (k - 1) * name_bytes, name_bytes);
    }
    if (i <= p.rows && m <= nrow) {
      row_type[m] = p.row_type[k];
      status[m] = p.status[k];
      lower[m] = p.lower[k];
      upper[m] = p.upper[k];
      rhs[m] = p.rhs[k];
      basic_upper[m] = p.upper[k];
      basis[m] = m;
    } else {
      row_type[m] = ROW_L;
      status[m] = i <= p.rows ? 0 : static_cast<int32_t>(PS_FIXED);
    }
  }
}

void commit_columns(const MpsRead& r) {
  const MpsProblem& p = r.p;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const size_t name_bytes = static_cast<size_t>(p.name_chars);
  char* names = name_array(ARR_NAME_TABLE);
  for (int32_t j = p.first_col; j <= p.last_position; ++j) {
    const size_t k = static_cast<size_t>(j);
    status[j] = p.status[k];
    lower[j] = p.lower[k];
    upper[j] = p.upper[k];
    cost[j] = p.cost[k];
    col_start[j] = p.col_start[k];
  }
  col_start[p.last_position + 1] = p.elements() + 1;
  const size_t columns_and_spares = static_cast<size_t>(p.last_position - p.first_col + 1 + r.capacity.spare_columns);
  std::memcpy(names + static_cast<size_t>(p.first_col - 1) * name_bytes,
              p.names.data() + static_cast<size_t>(p.first_col - 1) * name_bytes, columns_and_spares * name_bytes);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = 1; e <= p.elements(); ++e) {
    elem_row[e] = p.elem_row[static_cast<size_t>(e)];
    elem_value[e] = p.elem_value[static_cast<size_t>(e)];
  }
}

void commit_entities(const MpsProblem& p) {
  const float pseudo_cost = static_cast<float>(dcv(dc::PSEUDO));
  for (int32_t e = 1; e <= p.entities(); ++e) {
    const size_t k = static_cast<size_t>(e);
    int_array(ARR_ENTITY_TYPE)[e] = p.entity_type[k];
    int_array(ARR_ENTITY_COLUMN)[e] = p.entity_column[k];
    int_array(ARR_DIRECTIVE_WORD)[e] = kDefaultDirectiveWord;
    float_array(ARR_PSEUDO_COST_DOWN)[e] = pseudo_cost;
    float_array(ARR_PSEUDO_COST_UP)[e] = pseudo_cost;
    real_array(ARR_SEMICONT_LIMIT)[e] = p.semicont_limit[k];
  }
  if (p.sets() == 0) return;
  char* set_names = name_array(ARR_SET_NAME);
  for (int32_t s = 1; s <= p.sets(); ++s) {
    const size_t k = static_cast<size_t>(s);
    const int32_t row = p.set_row[k];
    int_array(ARR_SET_WORD)[s] = row > 0 && p.row_map[static_cast<size_t>(row)] > 0 ? p.row_map[static_cast<size_t>(row)] : -1;
    int_array(ARR_SET_START)[s] = p.set_start[k];
    std::memcpy(set_names + (k - 1) * kNameChars, p.set_name[k].data(), kNameChars);
  }
  int_array(ARR_SET_START)[p.sets() + 1] = p.set_start[static_cast<size_t>(p.sets()) + 1];
  for (int32_t m = 1; m <= p.members(); ++m) {
    const size_t k = static_cast<size_t>(m);
    int_array(ARR_SET_MEMBER_COLUMN)[m] = p.member_column[k];
    real_array(ARR_SET_MEMBER_REF)[m] = p.member_ref[k];
    real_array(ARR_SET_MEMBER_UPPER)[m] = p.upper[static_cast<size_t>(p.member_column[k])];
  }
}

// Positions that name rows move with the rows when N rows are dropped.
int32_t mapped_position(const MpsProblem& p, int32_t position) {
  if (position < 1 || position > p.rows) return position;
  return p.row_map[static_cast<size_t>(position)];
}

void commit_recurse_entries(const MpsProblem& p) {
  RecurseEntry* entries = recurse_entries();
  for (size_t k = 0; k < p.recurse.size(); ++k) {
    RecurseEntry entry = p.recurse[k];
    if (entry.kind != RK_CV) entry.a = mapped_position(p, entry.a);
    if (entry.kind == RK_DV || entry.kind == RK_MU) entry.b = mapped_position(p, entry.b);
    entries[k] = entry;
  }
}

// Replaces the loaded problem with the one read and runs the set-up.
// result: 0, 1 when the set-up found errors, or the id of an array that
// could not be allocated. The new problem's own arrays are obtained before
// the loaded problem is given up, so their shortage leaves it in place; a
// failure inside the set-up comes after it and leaves no problem.
void commit_problem(MpsRead& r, int32_t& result) {
  MpsProblem& p = r.p;
  int32_t removed_rows = 0;
  if (icv(ic::IFNRW) < 0) {
    for (int32_t i = 1; i <= p.rows; ++i) removed_rows += p.row_type[static_cast<size_t>(i)] == ROW_N ? 1 : 0;
  }
  const int64_t name_words_read = p.name_chars / kNameChars;
  const int64_t row_positions = p.first_col - 1;
  const int64_t position_slots = static_cast<int64_t>(p.last_position) + r.capacity.spare_columns;
  const int64_t element_space =
      static_cast<int64_t>(p.elements()) + r.capacity.spare_elements + static_cast<int64_t>(p.recurse.size());
  const int64_t element_slots = 2 * static_cast<int64_t>(p.last_position) + element_space;
  const int64_t name_slots = position_slots + kNameTableMargin;
  const int64_t entity_slots = static_cast<int64_t>(p.entities()) + r.capacity.spare_entities;
  const int64_t sets = p.sets();
  const int64_t members = p.members();
  const int64_t quadratic_slots = 2 * static_cast<int64_t>(mirrored_quadratic_entries(p));
  StagedBlocks staged;
  staged.blocks = {
      {ARR_ROW_TYPE, words_for_ints(row_positions)},
      {ARR_WORK_VECTOR, words_for_reals(row_positions)},
      {ARR_BASIC_UPPER, words_for_reals(row_positions)},
      {ARR_BASIS_HEADER, words_for_ints(row_positions)},
      {ARR_POS_STATUS, words_for_ints(position_slots)},
      {ARR_COL_START, words_for_ints(position_slots + 1)},
      {ARR_OBJECTIVE, words_for_reals(position_slots)},
      {ARR_LOWER, words_for_reals(position_slots)},
      {ARR_UPPER, words_for_reals(position_slots)},
      {ARR_ELEM_ROW, words_for_ints(element_slots)},
      {ARR_ELEM_VALUE, words_for_reals(element_slots)},
      {ARR_NAME_TABLE, name_slots * name_words_read * (kNameChars / 4)},
  };
  std::vector<Block>& blocks = staged.blocks;
  if (entity_slots > 0) {
    const Block entity_blocks[] = {
        {ARR_ENTITY_TYPE, words_for_ints(entity_slots)},  {ARR_ENTITY_COLUMN, words_for_ints(entity_slots)},
        {ARR_DIRECTIVE_WORD, words_for_ints(entity_slots)}, {ARR_PSEUDO_COST_DOWN, entity_slots},
        {ARR_PSEUDO_COST_UP, entity_slots},               {ARR_SEMICONT_LIMIT, words_for_reals(entity_slots)},
        {ARR_SEMICONT_UPPER, words_for_reals(entity_slots)},
    };
    blocks.insert(blocks.end(), std::begin(entity_blocks), std::end(entity_blocks));
  }
  if (sets > 0) {
    const Block set_blocks[] = {
        {ARR_SET_WORD, words_for_ints(sets)},
        {ARR_SET_START, words_for_ints(sets + 1)},
        {ARR_SET_NAME, sets * (kNameChars / 4)},
        {ARR_SET_MEMBER_COLUMN, words_for_ints(members)},
        {ARR_SET_MEMBER_REF, words_for_reals(members)},
        {ARR_SET_MEMBER_UPPER, words_for_reals(members)},
    };
    blocks.insert(blocks.end(), std::begin(set_blocks), std::end(set_blocks));
  }
  if (!p.quadratic.empty()) {
    const Block quadratic_blocks[] = {
        {ARR_QUAD_UPPER_START, words_for_ints(position_slots + 1)},
        {ARR_QUAD_LOWER_START, words_for_ints(position_slots + 1)},
        {ARR_QUAD_INDEX, words_for_ints(quadratic_slots)},
        {ARR_QUAD_VALUES, words_for_reals(quadratic_slots)},
    };
    blocks.insert(blocks.end(), std::begin(quadratic_blocks), std::end(quadratic_blocks));
  }
  if (!p.recurse.empty()) {
    blocks.push_back({ARR_RECURSE_ENTRY, static_cast<int64_t>(p.recurse.size()) *
                                             static_cast<int64_t>(sizeof(RecurseEntry) / 4)});
  }
  if (!staged.allocate(result)) {
    status_code = STATUS_REPORTED;
    return;
  }

  problem_state = 0;
  delete_global_work_files();
  abandon_load();
  commit_counts(r, removed_rows);
  staged.install();
  name_hash_size = static_cast<int32_t>(name_slots);

  commit_rows(p, removed_rows);
  commit_columns(r);
  commit_entities(p);
  if (!p.quadratic.empty()) {
    store_quadratic(p);
    icv(ic::M_Q) = nqelem;
  }
  if (recurse_entry_count > 0) {
    commit_recurse_entries(p);
    match_records_to_matrix();
  }
  icv(ic::IFMEM) = 1;
  icv(ic::IFNBAS) = 0;

  int32_t failure = 0;
  setup_loaded_problem(r.bounds_read ? 1 : 0, r.errors, failure);
  if (failure > 0) {
    set_message_mode(0);
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(failure);
    emit_message();
    result = failure;
  } else if (failure < 0) {
    begin_message(MSG_LOAD_INCONSISTENT);
    emit_message();
    r.errors += kSevereErrorWeight;
  }
  if (failure != 0 || r.errors > icv(ic::IGNORE)) {
    abandon_load();
    status_code = STATUS_REPORTED;
    if (result == 0) result = 1;
    return;
  }
  result = 0;
}

void run_main_pass(MpsRead& r, int32_t& result) {
  const int32_t cut =
      r.free ? 0 : (r.wide_fixed ? r.p.name_chars + icv(ic::LENDBL) + kWideLineExtra : kMpsFixedCut);
  const bool echo = icv(ic::PRNLVL) != 0;
  bool ended = false;
  while (!r.stopped && !ended) {
    if (poll_interrupt() != 0) {
      r.errors = icv(ic::IGNORE) + 1;
      r.stopped = true;
      break;
    }
    const int32_t kind = read_mps_line(r.line, cut, echo);
    if (kind == MPS_LINE_END || kind == MPS_LINE_FAILED) {
      if (kind == MPS_LINE_END) {
        begin_message(MSG_MPS_NO_ENDATA);
        insert_message_string(mps_where().c_str());
        emit_message();
      }
      r.errors += kSevereErrorWeight;
      r.stopped = true;
      break;
    }
    if (kind == MPS_LINE_HEADER) {
      ended = read_header(r) == MPS_ENDATA && !r.stopped;
    } else {
      read_data_line(r);
    }
  }
  if (r.stopped || !ended || r.errors > icv(ic::IGNORE)) {
    status_code = STATUS_REPORTED;
    return;
  }
  finish_positions(r.p);
  if (r.bounds_read && !bounds_consistent(r.p)) r.errors += kSevereErrorWeight;
  check_set_spacing(r);
  if (r.errors > icv(ic::IGNORE)) {
    status_code = STATUS_REPORTED;
    return;
  }
  commit_problem(r, result);
}

}  // namespace

void mps_report(int32_t n, const char* name, int32_t name_length, bool limited) {
  if (limited) {
    begin_message_limited(n);
  } else {
    begin_message(n);
  }
  const std::string where = name != nullptr ? mps_where(name, name_length) : mps_where();
  insert_message_string(where.c_str());
  emit_message();
}

void mps_report_count(int32_t n, int64_t count, const char* name, int32_t name_length) {
  begin_message(n);
  insert_message_int(static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX)));
  const std::string where = name != nullptr ? mps_where(name, name_length) : mps_where();
  insert_message_string(where.c_str());
  emit_message();
}

void mps_echo_line(const MpsLine& line) {
  // Free-field splitting leaves NULs between the tokens.
  std::string text(line.text, static_cast<size_t>(line.length));
  std::replace(text.begin(), text.end(), '\0', ' ');
  insert_message_chars(text.data(), line.length);
  emit_message();
}

void mps_bad_line(MpsRead& r) {
  mps_report(MSG_MPS_BAD_LINE, nullptr, 0, true);
  ++r.errors;
  mps_echo_line(r.line);
}

void mps_bad_number(MpsRead& r) {
  r.errors += kSevereErrorWeight;
  mps_bad_line(r);
}

void mps_stop(MpsRead& r) {
  r.errors += kSevereErrorWeight;
  r.stopped = true;
}

std::string mps_field_key(const MpsRead& r, const char* field) {
  std::string key(static_cast<size_t>(r.p.name_chars), ' ');
  // A name wider than the rest of the line buffer (NAMLEN set large) reads
  // blanks beyond it, never past it.
  const int64_t room = r.line.text + r.line.capacity() - field;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(r.p.name_chars, std::max<int64_t>(room, 0)));
  mps_name_key(field, n, false, key.data());
  return key;
}

void mps_report_field(const MpsRead& r, int32_t n, const char* field, bool limited) {
  const std::string key = mps_field_key(r, field);
  mps_report(n, key.data(), r.p.name_chars, limited);
}

int32_t mps_find_row(const MpsRead& r, const char* field) {
  const auto found = r.p.row_index.find(mps_field_key(r, field));
  return found == r.p.row_index.end() ? 0 : found->second;
}

int32_t mps_find_column(const MpsRead& r, const char* field) {
  const auto found = r.p.column_index.find(mps_field_key(r, field));
  return found == r.p.column_index.end() ? 0 : found->second;
}

int32_t mps_find_position(const MpsRead& r, const char* field) {
  const int32_t column = mps_find_column(r, field);
  return column != 0 ? column : mps_find_row(r, field);
}

bool mps_read_value(MpsRead& r, int32_t k, double& value) {
  if (parse_mps_field(r.line, k, value)) return true;
  mps_bad_number(r);
  return false;
}

void mps_set_lower(MpsProblem& p, int32_t position, double value) {
  const size_t k = static_cast<size_t>(position);
  if (value > -kInfiniteBound) {
    p.lower[k] = value;
    p.status[k] = (p.status[k] | PS_FINITE_LOWER) & ~static_cast<int32_t>(PS_FREE);
  } else {
    p.lower[k] = -kInfinity;
    p.status[k] &= ~static_cast<int32_t>(PS_FINITE_LOWER);
    if ((p.status[k] & PS_FINITE_UPPER) == 0) p.status[k] |= PS_FREE;
  }
}

void mps_set_upper(MpsProblem& p, int32_t position, double value) {
  const size_t k = static_cast<size_t>(position);
  if (value < kInfiniteBound) {
    p.upper[k] = value;
    p.status[k] = (p.status[k] | PS_FINITE_UPPER) & ~static_cast<int32_t>(PS_FREE);
  } else {
    p.upper[k] = kInfinity;
    p.status[k] &= ~static_cast<int32_t>(PS_FINITE_UPPER);
    if ((p.status[k] & PS_FINITE_LOWER) == 0) p.status[k] |= PS_FREE;
  }
}

void read_mps_file(int32_t& result) {
  result = 1;
  status_code = STATUS_OK;
  error_number = 0;
  if (icv(ic::M_C) <= icv(ic::M_R)) icv(ic::M_C) = icv(ic::M_R) + icv(ic::M_C);
  const int32_t least_spare_elements = 2 * icv(ic::NRXTRA) + icv(ic::NCXTRA);
  if (integer_set_flags[ic::NMXTRA] == 0 && icv(ic::NMXTRA) < least_spare_elements) {
    icv(ic::NMXTRA) = least_spare_elements;
  }
  try {
    auto r = std::make_unique<MpsRead>();
    r->free = icv(ic::FREFMT) != 0;
    r->p.name_chars = std::max(words_per_name(icv(ic::NAMLEN)), 1) * kNameChars;
    r->wide_fixed = !r->free && r->p.name_chars > kNameChars;
    r->capacity = MpsCapacity{icv(ic::M_R),    icv(ic::M_C),    icv(ic::M_M),    icv(ic::NGEMAX), icv(ic::M_Q),
                              icv(ic::NRCRMX), icv(ic::NRXTRA), icv(ic::NCXTRA), icv(ic::NMXTRA), icv(ic::NGXTRA)};
    std::memset(r->p.model_names, ' ', sizeof r->p.model_names);
    copy8(character_controls[cc::RNGNAM], r->range_vector);
    copy8(character_controls[cc::BNDNAM], r->bound_vector);
    copy8(character_controls[cc::RHSNAM], r->rhs_vector);
    r->p.row_type.assign(1, 0);
    run_main_pass(*r, result);
  } catch (const std::bad_alloc&) {
    set_message_mode(0);
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(0);
    emit_message();
    status_code = STATUS_REPORTED;
    result = 1;
  }
}

}  // namespace kl
