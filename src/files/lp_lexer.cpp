#include "files/lp_lexer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/text_io.h"

namespace kl {

lp_reader_state lp_state;

namespace {

// Characters that may begin a name besides the letters; a name goes on over
// these, the letters, the digits and the full stop.
constexpr const char kNameChars[] = "!\"#$%&()/,;?@_`'{}|~";

bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool name_start(unsigned char c) { return is_letter(c) || lp_char_in_set(kNameChars, static_cast<char>(c)) >= 0; }
bool name_char(unsigned char c) { return name_start(c) || is_digit(c) || c == '.'; }

unsigned char char_at(int32_t k) {
  lp_reader_state& s = lp_state;
  return k >= 0 && static_cast<size_t>(k) < s.line.size() ? static_cast<unsigned char>(s.line[static_cast<size_t>(k)])
                                                           : 0;
}

unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

}  // namespace

void lp_reset_reader_state() { lp_state = lp_reader_state(); }

unsigned char lp_current_char() { return char_at(lp_state.position); }

bool lp_at_end_of_file() { return lp_current_char() == kLpEndOfFile; }

void lp_read_line() {
  lp_reader_state& s = lp_state;
  s.position = 0;
  int32_t error = 0;
  read_text_line_whole(s.line, error);
  if (error != 0) {
    s.line.assign(1, static_cast<char>(kLpEndOfFile));
    return;
  }
  ++s.line_number;
}

void lp_skip_to_significant() {
  lp_reader_state& s = lp_state;
  for (;;) {
    const unsigned char c = lp_current_char();
    if (c == 0 || c == '\\') {
      lp_read_line();
    } else if (is_blank(c)) {
      ++s.position;
    } else {
      return;
    }
  }
}

int lp_next_char() {
  const unsigned char c = lp_current_char();
  if (c == kLpEndOfFile) lp_error(LP_END_IN_STATEMENT, 1);
  ++lp_state.position;
  lp_skip_to_significant();
  return c;
}

bool lp_token_begins_line() {
  for (int32_t k = 0; k < lp_state.position; ++k) {
    if (!is_blank(char_at(k))) return false;
  }
  return true;
}

void lp_next_statement_line(int force) {
  if (force == 0 && lp_token_begins_line()) return;
  if (lp_at_end_of_file()) return;
  lp_read_line();
  lp_skip_to_significant();
}

int lp_read_name(std::string& name) {
  lp_reader_state& s = lp_state;
  if (!name_start(lp_current_char())) return 0;
  const int32_t begin = s.position;
  int32_t end = begin;
  while (name_char(char_at(end))) ++end;
  if (end - begin > kLpNameMax) {
    lp_error(LP_NAME_TOO_LONG, 0);
    s.name.assign(s.line, static_cast<size_t>(begin), static_cast<size_t>(kLpNameMax));
  } else {
    s.name.assign(s.line, static_cast<size_t>(begin), static_cast<size_t>(end - begin));
  }
  s.position = end;
  lp_skip_to_significant();
  name = s.name;
  return 1;
}

// The digits, full stop and exponent stand together on one line: a blank
// ends the number, so that "5" at the end of one row and "2 x" at the head
// of the next never run together.
int lp_read_number(double& value, bool sign_flag) {
  lp_reader_state& s = lp_state;
  double sign = 1.0;
  if (sign_flag && (lp_current_char() == '+' || lp_current_char() == '-')) {
    if (lp_next_char() == '-') sign = -1.0;
  }
  if (!is_digit(lp_current_char()) && lp_current_char() != '.') {
    value = sign;
    return 0;
  }
  const int32_t begin = s.position;
  int32_t k = begin;
  bool digits = false;
  while (is_digit(char_at(k))) {
    ++k;
    digits = true;
  }
  if (char_at(k) == '.') {
    ++k;
    while (is_digit(char_at(k))) {
      ++k;
      digits = true;
    }
  }
  const int32_t mantissa_end = k;
  bool exponent_missing = false;
  if (char_at(k) == 'e' || char_at(k) == 'E') {
    ++k;
    if (char_at(k) == '+' || char_at(k) == '-') ++k;
    if (!is_digit(char_at(k))) {
      exponent_missing = true;
    } else {
      while (is_digit(char_at(k))) ++k;
    }
  }
  const int32_t end = exponent_missing ? mantissa_end : k;
  double magnitude = 0.0;
  if (digits) {
    const char* first = s.line.data() + begin;
    const char* last = s.line.data() + end;
    const auto [stop, error] = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (error == std::errc::result_out_of_range || (error == std::errc() && !std::isfinite(magnitude))) {
      s.position = k;
      lp_error(LP_NUMBER_RANGE, 0);
      magnitude = 0.0;
      lp_skip_to_significant();
      value = sign * magnitude;
      return 0;
    }
    if (error != std::errc() || stop != last) magnitude = 0.0;
  }
  value = sign * magnitude;
  s.position = k;
  if (exponent_missing) {
    lp_error(LP_EXPONENT_DIGITS, 0);
    return 0;
  }
  lp_skip_to_significant();
  return 2;
}

int lp_compare_nocase(const char* a, const char* b, int n) {
  int pairs = 0;
  while (pairs < n && *a != '\0' && *b != '\0') {
    if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) return 1;
    ++a;
    ++b;
    ++pairs;
  }
  return pairs == n ? 0 : 1;
}

int lp_match_keyword(const char* const* keywords) {
  const lp_reader_state& s = lp_state;
  if (lp_at_end_of_file()) return -1;
  const char* text = s.line.c_str() + s.position;
  for (int k = 0; keywords[k] != nullptr; ++k) {
    const int n = static_cast<int>(std::strlen(keywords[k]));
    if (lp_compare_nocase(text, keywords[k], n) != 0) continue;
    const unsigned char after = static_cast<unsigned char>(text[n]);
    if (after == 0 || is_blank(after)) return k;
  }
  return -1;
}

void lp_skip_keyword(const char* keyword) {
  lp_state.position += static_cast<int32_t>(std::strlen(keyword)) - 1;
  lp_next_char();
}

int lp_char_in_set(const char* set, char c) {
  if (c == '\0') return -1;
  const char* found = std::strchr(set, c);
  return found == nullptr ? -1 : static_cast<int>(found - set);
}

int32_t lp_name_hash(const char* name, int32_t length) {
  uint32_t sum = 0;
  for (int32_t k = 0; k < length; k += 4) {
    uint32_t word = 0;
    for (int32_t b = 0; b < 4 && k + b < length; ++b) {
      word |= static_cast<uint32_t>(static_cast<unsigned char>(name[k + b])) << (8 * b);
    }
    sum += word;
  }
  return static_cast<int32_t>(sum % static_cast<uint32_t>(kLpHashBuckets));
}

int32_t lp_lookup_name(const std::string& name, int mode, lp_name_entry** entry) {
  lp_reader_state& s = lp_state;
  const bool row = (mode & 1) != 0;
  std::vector<lp_name_entry*>& table = row ? s.row_table : s.column_table;
  if (table.empty()) table.assign(kLpHashBuckets, nullptr);
  const int32_t length = static_cast<int32_t>(name.size());
  const int32_t bucket = lp_name_hash(name.data(), length);
  for (lp_name_entry* e = table[static_cast<size_t>(bucket)]; e != nullptr; e = e->chain) {
    if (e->name != name) continue;
    if (entry != nullptr) *entry = e;
    return e->index;
  }
  if ((mode & 2) != 0) return 0;
  std::vector<std::unique_ptr<lp_name_entry>>& entries = row ? s.rows : s.columns;
  entries.push_back(std::make_unique<lp_name_entry>());
  lp_name_entry& added = *entries.back();
  added.name = name;
  if (length > s.longest_name) s.longest_name = (length + 7) / 8 * 8;
  if (row) {
    if (s.row_count >= 0) s.row_name_bytes += length + 1;
    ++s.row_count;
    added.index = -s.row_count;
  } else {
    ++s.column_count;
    added.index = s.column_count;
    s.column_name_bytes += length + 1;
  }
  added.chain = table[static_cast<size_t>(bucket)];
  table[static_cast<size_t>(bucket)] = &added;
  if (entry != nullptr) *entry = &added;
  return added.index;
}

void lp_error(int32_t code, int fatal) {
  char place[48];
  std::snprintf(place, sizeof place, "(%d.%d):", lp_state.line_number, lp_state.position + 1);
  begin_message_limited(501 + code);
  insert_message_string(place);
  emit_message();
  // The first error keeps its number; a load that IGNORE allows starts a
  // body of its own, which clears the status again.
  status_code = STATUS_REPORTED;
  if (fatal != 0) throw LpFatalError{code};
  lp_state.errors += (code == LP_EXPONENT_DIGITS || code == LP_NUMBER_RANGE) ? kLpSevereErrorWeight : 1;
}

}  // namespace kl
