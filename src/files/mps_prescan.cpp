#include "files/mps_prescan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

#include "runtime/controls.h"
#include "runtime/messages.h"
#include "runtime/text_io.h"

namespace kl {

MpsSource mps_source;
MpsPrescan mps_prescan;

namespace {

constexpr MpsSectionLayout kLayouts[] = {
    {"", 1, 2},         {"NAME", 1, 2},    {"ROWS", 1, 2},    {"COLUMNS", 2, 6}, {"RHS", 2, 6},
    {"ENDATA", 1, 2},   {"BOUNDS", 1, 4},  {"SETS", 1, 5},    {"RANGES", 2, 6},  {"RECURSE", 1, 6},
    {"?VUB", 1, 3},     {"QMATRIX", 2, 4}, {"QUADOBJ", 2, 4},
};
constexpr int32_t kSectionCount = static_cast<int32_t>(sizeof kLayouts / sizeof kLayouts[0]);

// The blank that ends a fixed field's token may stand at most here (fields
// 2 to 6); a token that runs further makes the file free.
constexpr int32_t kFixedFieldEnd[kMpsFieldCount + 1] = {0, 0, 13, 23, 37, 48, 62};
// Columns of the fixed name fields the pre-scan reads.
constexpr int32_t kNameColumn = 5;
constexpr int32_t kNameChars = 8;
// A fixed-field COLUMNS line longer than this has a second pair.
constexpr int32_t kSecondPairColumn = 50;
// A SETS header at least this long also names a member.
constexpr int32_t kSetHeaderMemberColumn = 40;
// A quadratic line at least this long has its value.
constexpr int32_t kQuadraticValueColumn = 25;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

struct Token {
  int32_t start;  // first column
  int32_t end;    // last column
  int32_t length() const { return end - start + 1; }
};

// The tokens of a data line, at most max_tokens of them.
int32_t find_tokens(const MpsLine& line, Token* tokens, int32_t max_tokens) {
  int32_t n = 0;
  int32_t c = 1;
  while (n < max_tokens) {
    while (c <= line.length && is_blank(*line.column(c))) ++c;
    if (c > line.length) break;
    const int32_t start = c;
    while (c <= line.length && !is_blank(*line.column(c))) ++c;
    tokens[n++] = Token{start, c - 1};
  }
  return n;
}

bool token_is(const MpsLine& line, const Token& t, const char* word) {
  const int32_t n = static_cast<int32_t>(std::strlen(word));
  return t.length() == n && std::memcmp(line.column(t.start), word, static_cast<size_t>(n)) == 0;
}

bool fixed_text_is(const MpsLine& line, int32_t column, const char* word) {
  const int32_t n = static_cast<int32_t>(std::strlen(word));
  return line.length >= column && std::memcmp(line.column(column), word, static_cast<size_t>(n)) == 0;
}

// The 8-character name at a fixed column, NUL read as blank.
void fixed_name(const MpsLine& line, int32_t column, char* name) {
  mps_name_key(line.column(column), kNameChars, false, name);
}

// Length of the fixed name at columns 5-12 without its trailing blanks.
int32_t fixed_name_length(const MpsLine& line) {
  int32_t end = std::min(line.length, kNameColumn + kNameChars - 1);
  while (end >= kNameColumn && is_blank(*line.column(end))) --end;
  return end >= kNameColumn ? end - kNameColumn + 1 : 0;
}

// The state of the format decision and the counts of one pre-scan.
struct Prescan {
  bool free = false;
  bool decided = false;  // false while FREFMT was -1 on entry and no rule has fired
  bool fixed_on_entry = false;
  int32_t namlen = 0;
  int32_t section = MPS_NONE;
  bool in_integer_block = false;
  std::string previous_column;
  bool have_previous_column = false;
  int32_t pending_elements = 0;
  char bound_vector[kNameChars] = {};
  bool bound_vector_chosen = false;
};

void make_free(Prescan& scan) {
  scan.free = true;
  scan.decided = true;
}

void count_row(Prescan& scan, const MpsLine& line) {
  Token tokens[3];
  const int32_t n = find_tokens(line, tokens, 3);
  ++mps_prescan.rows;
  if (!scan.decided && n >= 1) {
    if (tokens[0].start != 2 && tokens[0].start != 3) {
      make_free(scan);
    } else if (n >= 2 && (tokens[1].start < kNameColumn || tokens[1].end > kNameColumn + kNameChars - 1)) {
      make_free(scan);
    } else if (n >= 3 && tokens[2].start < kNameColumn + kNameChars) {
      // A blank inside the name: only fixed fields allow it.
      scan.decided = true;
    }
  }
  const int32_t length = scan.free ? (n >= 2 ? tokens[1].length() : 0) : fixed_name_length(line);
  scan.namlen = std::max(scan.namlen, length);
}

// Whether the tokens of a COLUMNS line stand in the fixed fields, in turn
// from field 2, a name with embedded blanks in field 2 taken whole. A line
// that does not fit reads as free.
bool fixed_columns_fit(const MpsLine& line, const Token* tokens, int32_t n) {
  int32_t field = 2;
  bool embedded = false;
  int32_t further = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0 && field == 3 && tokens[i].start < kNameColumn + kNameChars) {
      embedded = true;
      continue;
    }
    if (field > kMpsFieldCount) break;
    int32_t f = field;
    if (f == 4 && (token_is(line, tokens[i], "'INTORG'") || token_is(line, tokens[i], "'INTEND'"))) f = 5;
    if (tokens[i].start < kMpsFixedFieldStart[f] || tokens[i].end + 1 > kFixedFieldEnd[f]) return false;
    if (i > 0) ++further;
    field = f + 1;
  }
  return !(embedded && further == 1);
}

void count_column_line(Prescan& scan, const MpsLine& line) {
  constexpr int32_t kMaxTokens = 12;
  Token tokens[kMaxTokens];
  const int32_t n = find_tokens(line, tokens, kMaxTokens);
  if (n == 0) return;
  if (!scan.free && !scan.decided && !fixed_columns_fit(line, tokens, n)) make_free(scan);

  std::string name;
  bool marker = false;
  bool second_pair = false;
  if (scan.free) {
    name.assign(line.column(tokens[0].start), static_cast<size_t>(tokens[0].length()));
    marker = n >= 3 && token_is(line, tokens[1], "'MARKER'");
    if (marker) {
      if (!scan.in_integer_block && token_is(line, tokens[2], "'INTORG'")) {
        scan.in_integer_block = true;
      } else if (scan.in_integer_block && token_is(line, tokens[2], "'INTEND'")) {
        scan.in_integer_block = false;
      }
      return;
    }
    second_pair = n >= 4;
    scan.namlen = std::max(scan.namlen, tokens[0].length());
  } else {
    char fixed[kNameChars];
    fixed_name(line, kNameColumn, fixed);
    name.assign(fixed, kNameChars);
    if (fixed_text_is(line, kMpsFixedFieldStart[3], "'MARKER'")) {
      if (!scan.in_integer_block && fixed_text_is(line, kMpsFixedFieldStart[5], "'INTORG'")) {
        scan.in_integer_block = true;
      } else if (scan.in_integer_block && fixed_text_is(line, kMpsFixedFieldStart[5], "'INTEND'")) {
        scan.in_integer_block = false;
      }
      return;
    }
    // Any text from field 5 on may be a second pair. Names with blanks in
    // them shift the tokens, so the columns decide, not the token count.
    second_pair = scan.fixed_on_entry ? line.length > kSecondPairColumn : line.length >= kMpsFixedFieldStart[5];
  }
  if (!scan.have_previous_column || name != scan.previous_column) {
    ++mps_prescan.positions;
    if (scan.in_integer_block) ++mps_prescan.entities;
    mps_prescan.elements += scan.pending_elements;
    scan.pending_elements = 0;
    scan.previous_column = name;
    scan.have_previous_column = true;
  }
  scan.pending_elements += second_pair ? 2 : 1;
}

void count_bound_line(Prescan& scan, MpsLine& line) {
  Token tokens[3];
  const int32_t n = find_tokens(line, tokens, 3);
  if (n == 0) return;
  if (!scan.decided && tokens[0].start > 3) make_free(scan);
  char type[2] = {*line.column(tokens[0].start), tokens[0].length() > 1 ? *line.column(tokens[0].start + 1) : ' '};
  char vector[kNameChars];
  if (scan.free) {
    std::memset(vector, ' ', kNameChars);
    if (n >= 2) std::memcpy(vector, line.column(tokens[1].start), static_cast<size_t>(std::min(kNameChars, tokens[1].length())));
  } else {
    fixed_name(line, kNameColumn, vector);
  }
  if (!scan.bound_vector_chosen) {
    std::memcpy(scan.bound_vector, vector, kNameChars);
    scan.bound_vector_chosen = true;
  }
  if (std::memcmp(vector, scan.bound_vector, kNameChars) != 0) return;
  static const char* const kEntityTypes[] = {"UI", "SC", "BV", "PI", "LI", "SI"};
  for (const char* t : kEntityTypes) {
    if (type[0] == t[0] && type[1] == t[1]) {
      ++mps_prescan.entities;
      break;
    }
  }
}

void finish_prescan_section(Prescan& scan) {
  if (scan.section == MPS_ROWS) {
    mps_prescan.positions = mps_prescan.rows + icv(ic::NRXTRA);
    mps_prescan.elements = 0;
    mps_prescan.quadratic_entries = 0;
  } else if (scan.section == MPS_COLUMNS) {
    mps_prescan.elements += scan.pending_elements;
    scan.pending_elements = 0;
  }
}

void start_prescan_section(Prescan& scan, int32_t section) {
  scan.section = section;
  if (section == MPS_BOUNDS) {
    const char* chosen = character_controls[cc::BNDNAM];
    scan.bound_vector_chosen = std::any_of(chosen, chosen + kNameChars, [](char c) { return c != ' '; });
    std::memcpy(scan.bound_vector, chosen, kNameChars);
  } else if (section == MPS_QMATRIX || section == MPS_QUADOBJ) {
    ++mps_prescan.quadratic_sections;
  }
}

}  // namespace

const MpsSectionLayout& mps_section_layout(int32_t section) {
  return kLayouts[section >= 0 && section < kSectionCount ? section : 0];
}

int32_t mps_section_of_header(const char* line, int32_t length) {
  char head[4] = {' ', ' ', ' ', ' '};
  std::memcpy(head, line, static_cast<size_t>(std::min(length, 4)));
  for (int32_t s = 1; s < kSectionCount; ++s) {
    const char* keyword = kLayouts[s].keyword;
    bool match = true;
    // "RHS", the one keyword shorter than four characters, matches "RHS ".
    for (int32_t k = 0; k < 4 && match; ++k) match = head[k] == (keyword[k] != '\0' ? keyword[k] : ' ');
    if (match) return s;
  }
  return MPS_NONE;
}

std::string mps_where() {
  return "line " + std::to_string(mps_source.line_number) + " of " + mps_source.file_name;
}

std::string mps_where(const char* name, int32_t length) {
  int32_t n = 0;
  while (n < length && name[n] != '\0') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  return std::string(name, static_cast<size_t>(n)) + ", " + mps_where();
}

void MpsLine::reserve(int32_t n) {
  const size_t need = static_cast<size_t>(std::max(n, 0)) + kTailRoom;
  if (buffer_.size() < need) {
    buffer_.assign(need, ' ');
  } else {
    std::fill(buffer_.begin(), buffer_.end(), ' ');
  }
  text = buffer_.data();
}

int32_t read_mps_line(MpsLine& line, int32_t cut, bool echo_comments) {
  std::string raw;
  for (;;) {
    int32_t error = 0;
    read_text_line_whole(raw, error);
    if (error < 0) return MPS_LINE_END;
    if (error > 0) return MPS_LINE_FAILED;
    ++mps_source.line_number;
    if (raw.empty()) continue;
    if (raw[0] == '*') {
      if (echo_comments) {
        insert_message_chars(raw.data(), static_cast<int32_t>(std::min<size_t>(raw.size(), INT32_MAX)));
        emit_message();
      }
      continue;
    }
    size_t length = raw.size();
    if (cut > 0 && length > static_cast<size_t>(cut)) {
      size_t end = static_cast<size_t>(cut);
      // A token running across the cut is kept whole, so that a number is
      // never read from its first digits only.
      if (!is_blank(raw[end - 1])) {
        while (end < length && !is_blank(raw[end])) ++end;
      }
      length = end;
    }
    while (length > 0 && is_blank(raw[length - 1])) --length;
    if (length == 0) continue;
    // Blanks and whatever a fixed line holds past its last field cost
    // nothing; only a token too long to keep as a name or a number fails.
    size_t longest = 0;
    for (size_t c = 0, run = 0; c < length; ++c) {
      run = is_blank(raw[c]) ? 0 : run + 1;
      longest = std::max(longest, run);
    }
    if (longest > static_cast<size_t>(kMpsTokenMax)) {
      begin_message(MSG_MPS_TOKEN_TOO_LONG);
      insert_message_int(kMpsTokenMax);
      insert_message_string(mps_where().c_str());
      emit_message();
      return MPS_LINE_FAILED;
    }
    line.reserve(static_cast<int32_t>(length));
    std::memcpy(line.text, raw.data(), length);
    line.length = static_cast<int32_t>(length);
    line.text[line.length] = '\0';
    if (!is_blank(line.text[0])) {
      if (line.length == 3) line.text[3] = ' ';
      return MPS_LINE_HEADER;
    }
    return MPS_LINE_DATA;
  }
}

void set_fixed_fields(MpsLine& line) {
  std::copy(std::begin(kMpsFixedFieldStart), std::end(kMpsFixedFieldStart), line.field_start);
  line.token_count = 0;
}

void split_free_fields(MpsLine& line, const MpsSectionLayout& layout, bool move_type) {
  int32_t ends[kMpsFieldCount + 2] = {};
  int32_t field = layout.first_field;
  int32_t found = 0;
  int32_t last_end = 0;  // column after the last token kept
  int32_t c = 1;
  while (field <= layout.last_field) {
    while (c <= line.length && is_blank(*line.column(c))) ++c;
    if (c > line.length) break;
    line.field_start[field] = c;
    while (c <= line.length && !is_blank(*line.column(c))) ++c;
    ends[field] = c;
    last_end = c;
    ++found;
    ++field;
  }
  if (found > 0 && last_end - 1 < line.length) {
    std::memset(line.column(last_end), ' ', static_cast<size_t>(line.length - last_end + 1));
    line.length = last_end - 1;
  }
  for (int32_t f = layout.first_field; f < field; ++f) {
    if (f >= 2) *line.column(ends[f]) = '\0';
  }
  for (int32_t f = 1; f <= kMpsFieldCount + 1; ++f) {
    if (f < layout.first_field) {
      line.field_start[f] = 1;
    } else if (f >= field) {
      line.field_start[f] = line.length + 2;
    }
  }
  line.token_count = found;
  if (move_type && found > 0 && layout.first_field == 1) {
    char* type = line.field(1);
    const char first = type[0];
    const char second = ends[1] - line.field_start[1] > 1 ? type[1] : ' ';
    type[0] = ' ';
    if (second != ' ') type[1] = ' ';
    line.text[1] = first;
    line.text[2] = second;
    line.field_start[1] = 2;
  }
}

bool parse_mps_number(const char* field, int32_t lead, int32_t limit, double& value) {
  value = 0.0;
  int32_t i = 0;
  while (i < lead && is_blank(field[i])) ++i;
  if (i >= lead || field[i] == '\0') return true;
  int32_t end = i;
  while (end < limit && field[end] != '\0' && !is_blank(field[end])) ++end;
  if (end >= limit && field[end] != '\0' && !is_blank(field[end])) return false;
  const char* p = field + i;
  int32_t n = end - i;
  if (*p == '+') {
    ++p;
    --n;
    if (n == 0 || *p == '+' || *p == '-') return false;
  }
  char token[kMpsTokenMax + 8];
  if (n > kMpsTokenMax) return false;
  for (int32_t k = 0; k < n; ++k) token[k] = (p[k] == 'd' || p[k] == 'D') ? 'e' : p[k];
  double parsed = 0.0;
  const auto result = std::from_chars(token, token + n, parsed);
  if (result.ec != std::errc() || result.ptr != token + n || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool parse_mps_field(const MpsLine& line, int32_t k, double& value) {
  value = 0.0;
  if (!line.reaches(k)) return true;
  const char* field = line.field(k);
  const int32_t rest = line.length - line.field_start[k] + 1;
  if (icv(ic::FREFMT) != 0) return parse_mps_number(field, rest, rest, value);
  const int32_t width = std::min(icv(ic::LENDBL) > 0 ? icv(ic::LENDBL) : kMpsNumberFieldWidth, kMpsNumberFieldWidth);
  // Up to the column before the next field; the last field runs to the end.
  const int32_t limit = k < kMpsFieldCount ? line.field_start[k + 1] - line.field_start[k] - 1 : rest;
  return parse_mps_number(field, std::min(width, rest), std::max(limit, width), value);
}

int32_t mps_names_equal(const char* field, const char* name) {
  if (icv(ic::FREFMT) == 0) {
    char key[kNameChars];
    mps_name_key(field, kNameChars, false, key);
    return std::memcmp(key, name, kNameChars) == 0 ? -1 : 0;
  }
  int32_t t = 0;
  while (t < kNameChars && field[t] != '\0' && !is_blank(field[t])) ++t;
  if (std::memcmp(field, name, static_cast<size_t>(t)) != 0) return 0;
  return t == kNameChars || name[t] == ' ' ? -1 : 0;
}

void mps_copy_name(const char* field, char* name) {
  mps_name_key(field, kNameChars, icv(ic::FREFMT) != 0, name);
}

void mps_name_key(const char* field, int32_t n, bool stop_at_blank, char* key) {
  int32_t k = 0;
  for (; k < n; ++k) {
    const char c = field[k];
    if (c == '\0' || (stop_at_blank && is_blank(c))) break;
    key[k] = c;
  }
  std::memset(key + k, ' ', static_cast<size_t>(n - k));
}

void prescan_mps_file(int32_t& status, int32_t& spare_count) {
  status = 1;
  spare_count = 0;
  mps_prescan = MpsPrescan{};
  Prescan scan;
  const int32_t format = icv(ic::FREFMT);
  const int32_t entry_format = format < -1 ? 0 : (format > 1 ? 1 : format);
  scan.free = entry_format == 1;
  scan.decided = entry_format != -1;
  scan.fixed_on_entry = entry_format == 0;
  scan.namlen = icv(ic::NAMLEN);
  const int32_t cut = scan.fixed_on_entry ? kMpsFixedCut : 0;
  MpsLine line;

  for (;;) {
    const int32_t kind = read_mps_line(line, cut, false);
    if (kind == MPS_LINE_FAILED) return;
    if (kind == MPS_LINE_END) {
      begin_message(MSG_MPS_NO_ENDATA);
      insert_message_string(mps_where().c_str());
      emit_message();
      return;
    }
    if (kind == MPS_LINE_HEADER) {
      const int32_t section = mps_section_of_header(line.text, line.length);
      if (section == MPS_NONE) continue;
      finish_prescan_section(scan);
      if (section == MPS_ENDATA) break;
      start_prescan_section(scan, section);
      continue;
    }
    switch (scan.section) {
      case MPS_ROWS:
        count_row(scan, line);
        break;
      case MPS_COLUMNS:
        count_column_line(scan, line);
        break;
      case MPS_BOUNDS:
        count_bound_line(scan, line);
        break;
      case MPS_SETS:
        if (line.text[0] != ' ' || line.text[1] != ' ' || line.text[2] != ' ' || line.text[3] != ' ') {
          ++mps_prescan.sets;
          ++mps_prescan.entities;
          if (line.length >= kSetHeaderMemberColumn) ++mps_prescan.set_members;
        } else {
          ++mps_prescan.set_members;
        }
        break;
      case MPS_RECURSE:
        ++mps_prescan.recurse_entries;
        break;
      case MPS_VUB:
        ++mps_prescan.vub_lines;
        break;
      case MPS_QMATRIX:
      case MPS_QUADOBJ:
        mps_prescan.quadratic_entries += line.length >= kQuadraticValueColumn ? 2 : 1;
        break;
      default:
        break;
    }
  }
  mps_prescan.element_space = mps_prescan.elements + icv(ic::NMXTRA) + mps_prescan.recurse_entries;
  icv(ic::FREFMT) = scan.free ? 1 : 0;
  icv(ic::NAMLEN) = scan.namlen;
  status = 0;
}

}  // namespace kl
