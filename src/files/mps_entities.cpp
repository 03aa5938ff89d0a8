#include "files/mps_entities.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "problem/loader.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

RecurseChains recurse_chains;

namespace {

constexpr int32_t kNameChars = 8;
constexpr int32_t kSevereErrorWeight = 10000;
// A partial-integer limit must leave its type word (4 + 16 x limit) an int.
constexpr double kLargestPartialLimit = (INT32_MAX - ENT_PARTIAL_INTEGER) / 16;
// Where the ?VUB lines keep their two column names and their number.
constexpr int32_t kVubFirstName = 5;
constexpr int32_t kVubSecondName = 15;
constexpr int32_t kVubValueField = 4;
// The recorded value a CV entry starts with: none yet.
constexpr float kNoRecordedValue = -1e20f;

int32_t float_bits(float x) {
  int32_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

bool same_type(const char* type, const char* name) { return type[0] == name[0] && type[1] == name[1]; }

// The caller's index of a column position of the new problem.
int32_t caller_column(const MpsProblem& p, int32_t position) { return position - p.first_col + 1 - icv(ic::IFDBG); }

// ---------------------------------------------------------------------------
// Sets

// The coefficient of the row in the column as read so far, 0 when none.
double coefficient_in_column(const MpsProblem& p, int32_t row, int32_t column) {
  const int32_t stored_row = p.row_map[static_cast<size_t>(row)];
  const int32_t begin = p.col_start[static_cast<size_t>(column)];
  const int32_t end = column < p.last_position ? p.col_start[static_cast<size_t>(column) + 1] : p.elements() + 1;
  for (int32_t k = begin; k < end; ++k) {
    if (p.elem_row[static_cast<size_t>(k)] == stored_row) return p.elem_value[static_cast<size_t>(k)];
  }
  return 0.0;
}

void set_line_error(MpsRead& r) {
  mps_report(MSG_MPS_BAD_SET_LINE, nullptr, 0, false);
  ++r.errors;
  mps_echo_line(r.line);
}

// A member of the newest set: the column of one field, the reference value
// from the other or from the set's reference row.
void read_set_member(MpsRead& r, int32_t column_field, int32_t value_field) {
  MpsProblem& p = r.p;
  if (p.sets() == 0) {
    set_line_error(r);
    return;
  }
  const int32_t column = mps_find_column(r, r.line.field(column_field));
  if (column == 0) {
    set_line_error(r);
    return;
  }
  const int32_t row = p.set_row.back();
  double ref = 0.0;
  if (row > 0) {
    ref = coefficient_in_column(p, row, column);
  } else if (!mps_read_value(r, value_field, ref)) {
    return;
  }
  p.member_column.push_back(column);
  p.member_ref.push_back(ref);
}

// Set type 1 or 2 of a header line, 0 when the line is none.
int32_t set_type_of(const MpsRead& r) {
  const MpsLine& line = r.line;
  const char* head = r.free ? line.field(1) : line.text + 1;
  if (head[0] != 'S' || (head[1] != '1' && head[1] != '2')) return 0;
  const char after = head[2];
  return after == ' ' || after == '\t' || after == '\0' ? head[1] - '0' : 0;
}

void read_set_header(MpsRead& r, int32_t set_type) {
  MpsProblem& p = r.p;
  MpsLine& line = r.line;
  if (!line.reaches(2)) {
    set_line_error(r);
    return;
  }
  const std::string key = mps_field_key(r, line.field(2));
  if (p.sets() > 0 && key == r.previous_set_name) {
    set_line_error(r);
    return;
  }
  int32_t row = -1;
  bool row_field_taken = false;
  if (!r.free) {
    if (line.reaches(3)) {
      const std::string row_key = mps_field_key(r, line.field(3));
      if (row_key.find_first_not_of(' ') != std::string::npos) {
        row = mps_find_row(r, line.field(3));
        if (row == 0) {
          set_line_error(r);
          return;
        }
      }
    }
  } else if (line.token_count == 3) {
    const int32_t found = mps_find_row(r, line.field(3));
    if (found != 0) {
      row = found;
      row_field_taken = true;
    }
  }
  if (p.entities() + 1 + r.capacity.spare_entities > r.capacity.max_entities) {
    mps_report_count(MSG_MPS_TOO_MANY_ENTITIES, r.capacity.max_entities, key.data(), p.name_chars);
    mps_stop(r);
    return;
  }
  const int32_t set = p.sets() + 1;
  p.entity_type.push_back(ENT_PARTIAL_INTEGER + set_type);
  p.entity_column.push_back(set);
  p.semicont_limit.push_back(0.0);
  p.set_row.push_back(row);
  p.set_name.push_back(key.substr(0, kNameChars));
  p.set_start.resize(static_cast<size_t>(set) + 1);
  p.set_start[static_cast<size_t>(set)] = p.members();
  r.previous_set_name = key;
  if (!r.free) {
    if (line.reaches(5)) read_set_member(r, 5, 6);
  } else if (!row_field_taken && line.reaches(3)) {
    read_set_member(r, 3, 4);
    if (line.reaches(5)) read_set_member(r, 5, 6);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Entities

bool mps_make_entity(MpsRead& r, int32_t position, int32_t type_word, int32_t flag) {
  MpsProblem& p = r.p;
  const size_t k = static_cast<size_t>(position);
  if ((p.status[k] & PS_ENTITY) != 0) {
    mps_report(MSG_MPS_ALREADY_ENTITY, p.name(position), p.name_chars, true);
    return false;
  }
  if (p.entities() + 1 + r.capacity.spare_entities > r.capacity.max_entities) {
    mps_report_count(MSG_MPS_TOO_MANY_ENTITIES, r.capacity.max_entities, p.name(position), p.name_chars);
    mps_stop(r);
    return false;
  }
  p.entity_type.push_back(type_word);
  p.entity_column.push_back(position);
  p.semicont_limit.push_back(0.0);
  p.entity_of[k] = p.entities();
  p.status[k] |= PS_ENTITY | flag;
  return true;
}

bool is_entity_bound_type(const char* type) {
  static const char* const kTypes[] = {"UI", "SC", "BV", "PI", "LI", "SI"};
  return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return same_type(type, t); });
}

void read_entity_bound(MpsRead& r, int32_t position, const char* type, double v) {
  MpsProblem& p = r.p;
  const size_t k = static_cast<size_t>(position);
  const double intmax = icv(ic::INTMAX);
  const bool integer = (p.status[k] & PS_INTEGER) != 0;
  auto out_of_range = [&] {
    mps_report(MSG_MPS_INTEGER_BOUND_RANGE, p.name(position), p.name_chars, true);
    r.errors += kSevereErrorWeight;
  };
  if (same_type(type, "UI")) {
    if (v > intmax) {
      out_of_range();
      return;
    }
    if (mps_make_entity(r, position, ENT_INTEGER, PS_INTEGER)) mps_set_upper(p, position, std::trunc(v));
  } else if (same_type(type, "SC") || same_type(type, "SI")) {
    const bool semi_integer = integer || same_type(type, "SI");
    // The limit is the value when a second value follows it on the line.
    const double limit = r.line.reaches(5) && v > 0.0 ? v : 1.0;
    const double upper = semi_integer ? std::trunc(v + 1.0 - dcv(dc::ZTOLIS)) : v;
    const int32_t entity = p.entity_of[k];
    if (entity != 0 && integer && (p.status[k] & PS_SEMICONTINUOUS) == 0 &&
        p.entity_type[static_cast<size_t>(entity)] == ENT_INTEGER) {
      // An integer column (from a marker block, UI or LI) becomes semi-integer.
      p.status[k] |= PS_SEMICONTINUOUS;
      p.semicont_limit[static_cast<size_t>(entity)] = limit;
      mps_set_upper(p, position, upper);
      return;
    }
    const int32_t word = semi_integer ? ENT_INTEGER : ENT_SEMICONTINUOUS;
    const int32_t flag = semi_integer ? PS_INTEGER | PS_SEMICONTINUOUS : PS_SEMICONTINUOUS;
    if (!mps_make_entity(r, position, word, flag)) return;
    p.semicont_limit[static_cast<size_t>(p.entities())] = limit;
    mps_set_upper(p, position, upper);
  } else if (same_type(type, "BV")) {
    if (integer || mps_make_entity(r, position, ENT_BINARY, PS_BINARY)) mps_set_upper(p, position, 1.0);
  } else if (same_type(type, "PI")) {
    const double n = std::trunc(v);
    if (!(n >= 0.0 && n <= kLargestPartialLimit)) {
      mps_bad_line(r);
      return;
    }
    const int32_t word = ENT_PARTIAL_INTEGER + 16 * static_cast<int32_t>(n);
    if (mps_make_entity(r, position, word, PS_PARTIAL_INTEGER)) ++p.partial_integer_count;
  } else if (same_type(type, "LI")) {
    const double n = std::trunc(v);
    if (n < -intmax) {
      out_of_range();
      return;
    }
    if (integer) {
      mps_set_lower(p, position, n);
    } else if (mps_make_entity(r, position, ENT_INTEGER, PS_INTEGER)) {
      mps_set_lower(p, position, n);
      mps_set_upper(p, position, intmax);
    }
  }
}

// ---------------------------------------------------------------------------
// SETS

void read_set_line(MpsRead& r) {
  const MpsLine& line = r.line;
  const int32_t set_type = set_type_of(r);
  if (r.free) {
    if (set_type != 0) {
      read_set_header(r, set_type);
    } else {
      // The first token stands where fixed files have the set name.
      if (line.reaches(2)) read_set_member(r, 2, 3);
      if (line.reaches(4)) read_set_member(r, 4, 5);
    }
    return;
  }
  if (std::all_of(line.text, line.text + 4, [](char c) { return c == ' '; })) {
    if (line.reaches(3)) read_set_member(r, 3, 4);
    if (line.reaches(5)) read_set_member(r, 5, 6);
  } else if (set_type != 0) {
    read_set_header(r, set_type);
  } else {
    set_line_error(r);
  }
}

void finish_sets_section(MpsRead& r) {
  MpsProblem& p = r.p;
  const int32_t sets = p.sets();
  if (sets == 0) return;
  p.set_start.resize(static_cast<size_t>(sets) + 2);
  p.set_start[static_cast<size_t>(sets) + 1] = p.members();
  // Each set's members in increasing reference value.
  for (int32_t s = 1; s <= sets; ++s) {
    const size_t begin = static_cast<size_t>(p.set_start[static_cast<size_t>(s)]) + 1;
    const size_t end = static_cast<size_t>(p.set_start[static_cast<size_t>(s) + 1]) + 1;
    std::vector<size_t> order(end - begin);
    std::iota(order.begin(), order.end(), begin);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return p.member_ref[a] < p.member_ref[b]; });
    std::vector<int32_t> columns(order.size());
    std::vector<double> refs(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
      columns[i] = p.member_column[order[i]];
      refs[i] = p.member_ref[order[i]];
    }
    std::copy(columns.begin(), columns.end(), p.member_column.begin() + static_cast<std::ptrdiff_t>(begin));
    std::copy(refs.begin(), refs.end(), p.member_ref.begin() + static_cast<std::ptrdiff_t>(begin));
  }
}

// ---------------------------------------------------------------------------
// QMATRIX and QUADOBJ

bool start_quadratic_section(MpsRead& r, bool full_matrix) {
  if (!r.columns_read) {
    mps_report(MSG_MPS_BEFORE_COLUMNS, r.line.text, r.line.length, false);
    mps_stop(r);
    return false;
  }
  r.quadratic_full_matrix = full_matrix;
  r.quadratic_section_start = r.p.quadratic.size();
  ++r.p.quadratic_sections;
  return true;
}

void read_quadratic_line(MpsRead& r) {
  MpsProblem& p = r.p;
  MpsLine& line = r.line;
  if (!line.reaches(2)) {
    mps_bad_line(r);
    return;
  }
  const int32_t first = mps_find_column(r, line.field(2));
  if (first == 0) {
    mps_report_field(r, MSG_MPS_UNKNOWN_COLUMN, line.field(2), false);
    r.errors += icv(ic::IGNORE) + 1;
    mps_stop(r);
    return;
  }
  if (!line.reaches(3)) return;
  const int32_t second = mps_find_column(r, line.field(3));
  if (second == 0) {
    mps_report_field(r, MSG_MPS_UNKNOWN_COLUMN, line.field(3), false);
    mps_stop(r);
    return;
  }
  double v = 0.0;
  if (!mps_read_value(r, 4, v)) return;
  if (std::fabs(v) <= dcv(dc::ZTOLDA)) return;
  p.status[static_cast<size_t>(first)] |= PS_QUADRATIC;
  p.status[static_cast<size_t>(second)] |= PS_QUADRATIC;
  if (++r.quadratic_count > r.capacity.max_quadratic) {
    mps_report_count(MSG_MPS_TOO_MANY_QUADRATIC, r.capacity.max_quadratic, nullptr, 0);
    mps_stop(r);
    return;
  }
  p.quadratic.push_back(QuadraticTriplet{std::min(first, second), std::max(first, second), v});
  if (line.reaches(6)) {
    const std::string text(line.field(5), static_cast<size_t>(line.length - line.field_start[5] + 1));
    mps_report(MSG_MPS_QUADRATIC_EXTRA_TEXT, text.c_str(), static_cast<int32_t>(text.size()), false);
  }
}

void finish_quadratic_section(MpsRead& r) {
  MpsProblem& p = r.p;
  auto before = [](const QuadraticTriplet& a, const QuadraticTriplet& b) {
    return a.first < b.first || (a.first == b.first && a.second < b.second);
  };
  auto same_pair = [](const QuadraticTriplet& a, const QuadraticTriplet& b) {
    return a.first == b.first && a.second == b.second;
  };
  auto repeated = [&](const QuadraticTriplet& q) {
    begin_message(MSG_LOAD_DUPLICATE_QUADRATIC);
    insert_message_chars(r.quadratic_full_matrix ? "QMATRIX   " : "QUADOBJ   ", 10);
    insert_message_int(caller_column(p, q.first));
    insert_message_int(caller_column(p, q.second));
    emit_message();
    mps_stop(r);
  };
  const auto section = p.quadratic.begin() + static_cast<std::ptrdiff_t>(r.quadratic_section_start);
  std::stable_sort(section, p.quadratic.end(), before);
  // Within the section: a full matrix gives each off-diagonal pair twice
  // with one value, kept once; any other repeat is an error.
  auto kept = section;
  for (auto q = section; q != p.quadratic.end(); ++q) {
    if (kept != section && same_pair(*(kept - 1), *q)) {
      if (!r.quadratic_full_matrix || q->first == q->second || q->value != (kept - 1)->value) {
        repeated(*q);
        return;
      }
      continue;
    }
    *kept++ = *q;
  }
  p.quadratic.erase(kept, p.quadratic.end());
  // An entry that an earlier section gave already is a repeat too.
  std::inplace_merge(p.quadratic.begin(), p.quadratic.begin() + static_cast<std::ptrdiff_t>(r.quadratic_section_start),
                     p.quadratic.end(), before);
  const auto twice = std::adjacent_find(p.quadratic.begin(), p.quadratic.end(), same_pair);
  if (twice != p.quadratic.end()) repeated(*twice);
  r.quadratic_section_start = p.quadratic.size();
}

// ---------------------------------------------------------------------------
// RECURSE

bool start_recurse_section(MpsRead& r) {
  if (r.columns_read) return true;
  mps_report(MSG_MPS_BEFORE_COLUMNS, r.line.text, r.line.length, false);
  mps_stop(r);
  return false;
}

void read_recurse_line(MpsRead& r) {
  MpsProblem& p = r.p;
  MpsLine& line = r.line;
  static const char* const kKinds[] = {" DV ", " MU ", " CL ", " BX ", " CV ", " NE ", " NL ", " SB "};
  int32_t kind = 0;
  for (int32_t k = 0; k < 8; ++k) {
    if (std::memcmp(line.text, kKinds[k], 4) == 0) kind = k + 1;
  }
  const int32_t count = static_cast<int32_t>(p.recurse.size());
  if (kind == 0 || count >= r.capacity.max_recurse) {
    mps_bad_line(r);
    return;
  }
  if (static_cast<int64_t>(p.elements()) + r.capacity.spare_elements + count + 1 > r.capacity.max_elements) {
    mps_report_count(MSG_MPS_ELEMENT_SPACE, r.capacity.max_elements, nullptr, 0);
    mps_stop(r);
    return;
  }
  RecurseEntry entry{};
  entry.kind = static_cast<uint8_t>(kind);
  entry.base = 1.0;
  entry.a = 1;
  entry.b = 1;
  bool found = true;
  auto need = [&](int32_t position) {
    found = found && position != 0;
    return position;
  };
  const int32_t number = count + 1;
  switch (kind) {
    case RK_DV:
    case RK_MU:
    case RK_CL:
    case RK_BX: {
      const bool two_targets = kind == RK_DV || kind == RK_MU;
      const bool has_value = !r.free || line.token_count == (two_targets ? 6 : 5);
      const int32_t target_field = has_value ? 5 : 4;
      entry.column = need(mps_find_column(r, line.field(2)));
      const int32_t row = need(mps_find_row(r, line.field(3)));
      entry.a = need(mps_find_position(r, line.field(target_field)));
      if (two_targets) entry.b = need(mps_find_position(r, line.field(target_field + 1)));
      if (!found) break;
      entry.row = p.row_map[static_cast<size_t>(row)];
      if (has_value && kind != RK_BX) {
        double v = 0.0;
        if (!mps_read_value(r, 4, v)) return;
        if (v != 0.0) entry.base = v;
      }
      break;
    }
    case RK_CV: {
      entry.column = need(mps_find_column(r, line.field(2)));
      if (!found) break;
      double v = 0.0;
      if (!mps_read_value(r, r.free ? 3 : 4, v)) return;
      entry.a = float_bits(static_cast<float>(v));
      entry.b = float_bits(kNoRecordedValue);
      break;
    }
    case RK_NE:
    case RK_NL: {
      const int32_t row = need(mps_find_row(r, line.field(2)));
      if (found) entry.row = p.row_map[static_cast<size_t>(row)];
      break;
    }
    default: {  // SB
      entry.column = need(mps_find_column(r, line.field(2)));
      if (!found) break;
      if ((p.status[static_cast<size_t>(entry.column)] & PS_ENTITY) != 0) {
        mps_report_count(MSG_MPS_SB_ON_ENTITY, count, nullptr, 0);
        ++r.errors;
        return;
      }
      entry.a = need(mps_find_position(r, line.field(r.free ? 3 : 5)));
      break;
    }
  }
  if (!found) {
    mps_bad_line(r);
    return;
  }
  if (kind == RK_CV || kind == RK_SB) {
    int32_t& first = kind == RK_CV ? p.first_cv_entry : p.first_sb_entry;
    int32_t& last = kind == RK_CV ? p.last_cv_entry : p.last_sb_entry;
    int32_t& length = kind == RK_CV ? p.cv_entry_count : p.sb_entry_count;
    if (first == 0) {
      first = number;
    } else {
      p.recurse[static_cast<size_t>(last) - 1].row = number;
    }
    last = number;
    ++length;
  }
  p.recurse.push_back(entry);
}

// ---------------------------------------------------------------------------
// ?VUB: checked, nothing kept.

void read_vub_line(MpsRead& r) {
  MpsProblem& p = r.p;
  const MpsLine& line = r.line;
  ++p.vub_lines;
  std::string names[2];
  const int32_t columns[2] = {kVubFirstName, kVubSecondName};
  bool known = true;
  for (int32_t k = 0; k < 2; ++k) {
    names[k].assign(static_cast<size_t>(p.name_chars), ' ');
    if (line.length >= columns[k]) mps_name_key(line.column(columns[k]), kNameChars, false, names[k].data());
    known = known && p.column_index.count(names[k]) != 0;
  }
  if (!known) {
    mps_report_count(MSG_MPS_VUB_NAMES, p.vub_lines, nullptr, 0);
    ++r.errors;
    mps_echo_line(line);
    return;
  }
  double v = 0.0;
  mps_read_value(r, kVubValueField, v);
}

}  // namespace kl
