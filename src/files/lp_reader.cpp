#include "files/lp_reader.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "files/lp_backend.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

const char* const kLpSenseKeywords[] = {"maximize", "maximum", "max", "minimize", "minimum", "min", nullptr};
const char* const kLpConstraintKeywords[] = {"subject to:", "subject to", "such that", "st", "s.t.", "st.", nullptr};
const char* const kLpSectionKeywords[] = {"end",      "bounds",  "bound",  "generals",         "general", "gen",
                                          "integers", "integer", "int",    "binaries",         "binary",  "bin",
                                          "partial integers",    "p.i.",   "semi continuous", "s.c.",    nullptr};
const char* const kLpInfinityKeywords[] = {"infinity", "inf", nullptr};

namespace {

enum SectionKeyword : int {
  KW_END = 0,
  KW_BOUNDS = 1,
  KW_BOUND = 2,
  KW_GENERALS = 3,
  KW_INT_LAST = 8,
  KW_BINARIES = 9,
  KW_BIN_LAST = 11,
  KW_PARTIAL = 12,
  KW_PARTIAL_LAST = 13,
  KW_SEMI = 14,
};

bool is_operator(unsigned char c) { return c == '+' || c == '-' || c == '<' || c == '>' || c == '='; }

// In the objective, a constraints or section keyword that begins its line,
// or the end of the file, ends the row: the objective may be empty, and a
// number just before such a keyword is a constant.
bool objective_ends_here() {
  if (lp_state.row_count >= 0) return false;
  if (lp_at_end_of_file()) return true;
  if (!lp_token_begins_line()) return false;
  return lp_match_keyword(kLpConstraintKeywords) >= 0 || lp_match_keyword(kLpSectionKeywords) >= 0;
}

// Passes one name, or else one character.
void pass_name_or_char() {
  std::string ignored;
  if (lp_read_name(ignored) == 0) lp_next_char();
}

// Moves past < or > and an = directly after it.
void pass_relation() {
  lp_next_char();
  if (lp_current_char() == '=') lp_next_char();
}

lp_name_entry& column_entry(int32_t index) { return *lp_state.columns[static_cast<size_t>(index - 1)]; }

// A column named at the position, looked up only: its 0-based number, or -1
// after error 5 (the rest of the line dropped).
int32_t bound_column() {
  std::string name;
  if (lp_read_name(name) == 0) {
    lp_error(LP_NAME_EXPECTED, 0);
    lp_next_statement_line(0);
    return -1;
  }
  const int32_t index = lp_lookup_name(name, 2, nullptr);
  if (index <= 0) {
    lp_error(LP_NAME_EXPECTED, 0);
    lp_next_statement_line(0);
    return -1;
  }
  return index - 1;
}

// A number or an infinity keyword (plus infinity as infinite_value says)
// after a bound relation; false after error 9.
bool bound_value(double& value, double infinite_value) {
  if (lp_read_number(value, true) != 0) return true;
  const int k = lp_match_keyword(kLpInfinityKeywords);
  if (k >= 0) {
    lp_skip_keyword(kLpInfinityKeywords[k]);
    value = infinite_value;
    return true;
  }
  lp_error(LP_BOUND_VALUE_EXPECTED, 0);
  pass_name_or_char();
  return false;
}

// A general integer whose bounds no statement touched is a binary.
void make_bare_generals_binary() {
  lp_reader_state& s = lp_state;
  for (size_t j = 0; j < s.column_type.size(); ++j) {
    if (s.column_type[j] != 'I' || s.column_upper[j] != kLpDefaultUpper || s.column_lower[j] != 0.0) continue;
    s.column_type[j] = 'B';
    lp_set_column_bound(static_cast<int32_t>(j), 0.0, LP_BOUND_BINARY);
  }
}

int32_t read_lp_body() {
  lp_reader_state& s = lp_state;
  s.row_table.assign(kLpHashBuckets, nullptr);
  s.column_table.assign(kLpHashBuckets, nullptr);
  lp_read_line();
  if (lp_at_end_of_file()) lp_error(LP_EMPTY_FILE, 1);
  lp_skip_to_significant();

  const int sense = lp_match_keyword(kLpSenseKeywords);
  if (sense < 0) {
    lp_error(LP_NO_SENSE, 0);
    lp_default_objective();
  } else {
    lp_skip_keyword(kLpSenseKeywords[sense]);
    if (lp_read_row_terms() != 0) lp_error(LP_OBJECTIVE_DROPPED, 1);
    // An objective written as a set leaves no objective row.
    lp_default_objective();
  }

  const int constraints = lp_match_keyword(kLpConstraintKeywords);
  if (constraints >= 0) {
    lp_skip_keyword(kLpConstraintKeywords[constraints]);
    while (!lp_at_end_of_file() && lp_match_keyword(kLpSectionKeywords) < 0) lp_read_row_terms();
  }
  if (s.column_count == 0) {
    lp_error(LP_NO_COLUMNS, 0);
    return 1;
  }
  lp_alloc_column_arrays();

  while (!lp_at_end_of_file()) {
    const int k = lp_match_keyword(kLpSectionKeywords);
    if (k < 0) lp_error(LP_TEXT_OUT_OF_PLACE, 1);
    if (k == KW_END) break;
    lp_skip_keyword(kLpSectionKeywords[k]);
    if (k <= KW_BOUND) {
      lp_read_bounds();
    } else if (k <= KW_INT_LAST) {
      lp_read_integer_section('I');
    } else if (k <= KW_BIN_LAST) {
      lp_read_integer_section('B');
    } else if (k <= KW_PARTIAL_LAST) {
      lp_read_limited_section('P');
    } else {
      lp_read_limited_section('S');
    }
  }
  make_bare_generals_binary();

  if (s.errors > icv(ic::IGNORE)) {
    begin_message(MSG_LP_TOO_MANY_ERRORS);
    insert_message_int(static_cast<int32_t>(std::min<int64_t>(s.errors, INT32_MAX)));
    emit_message();
    return 1;
  }
  return lp_load_parsed_problem();
}

}  // namespace

int32_t read_lp_file() {
  status_code = STATUS_OK;
  int32_t result = 1;
  try {
    lp_reset_reader_state();
    result = read_lp_body();
  } catch (const LpFatalError&) {
    result = 1;
  } catch (const std::bad_alloc&) {
    set_message_mode(0);
    char place[48];
    std::snprintf(place, sizeof place, "(%d.%d):", lp_state.line_number, lp_state.position + 1);
    begin_message(501 + LP_NO_MEMORY);
    insert_message_string(place);
    emit_message();
    result = 1;
  }
  lp_free_reader_storage();
  if (result != 0 && status_code == STATUS_OK) status_code = STATUS_REPORTED;
  return result;
}

int32_t lp_read_row_terms() {
  lp_reader_state& s = lp_state;
  s.terms.clear();
  const bool objective = s.row_count < 0;
  std::string row_name;
  int32_t term_count = 0;
  int32_t kind = 0;
  double constants = 0.0;  // minus the sum of the constant terms so far
  double rhs = 0.0;
  bool complete = objective && objective_ends_here();

  std::string name;
  if (!complete && lp_read_name(name) != 0) {
    if (lp_current_char() == ':') {
      row_name = name;
      lp_next_char();
    } else {
      lp_name_entry* column = nullptr;
      lp_lookup_name(name, 0, &column);
      lp_add_term(column, 1.0, term_count);
    }
  }
  unsigned char op = 0;
  if (!complete) {
    if (is_operator(lp_current_char())) {
      op = lp_current_char();
    } else if (term_count == 0 && !(objective && objective_ends_here())) {
      op = '+';  // the first term carries no sign
    } else {
      complete = true;
    }
  }
  while (!complete && (op == '+' || op == '-')) {
    double value = 0.0;
    const int number = lp_read_number(value, true);
    const bool keyword_follows = objective && objective_ends_here();
    if (number != 0) {
      if (!keyword_follows && lp_read_name(name) != 0) {
        lp_name_entry* column = nullptr;
        lp_lookup_name(name, 0, &column);
        lp_add_term(column, value, term_count);
      } else if (keyword_follows || is_operator(lp_current_char())) {
        constants -= value;
      } else {
        lp_error(LP_NAME_EXPECTED, 0);
        lp_next_char();
      }
    } else if (!keyword_follows && lp_read_name(name) != 0) {
      lp_name_entry* column = nullptr;
      lp_lookup_name(name, 0, &column);
      lp_add_term(column, value, term_count);
    } else if (lp_current_char() == '[' && objective) {
      lp_read_quadratic(value);
    } else {
      // A dangling operator before the keyword that ends the objective
      // leaves the keyword in place.
      lp_error(LP_NAME_EXPECTED, 0);
      if (!lp_at_end_of_file() && !keyword_follows) lp_next_char();
    }
    if (is_operator(lp_current_char()) && !(objective && objective_ends_here())) {
      op = lp_current_char();
    } else {
      complete = true;
    }
  }
  if (!complete) {
    double value = 0.0;
    if (op == '<' || op == '>') {
      lp_state.position += 1;
      if (lp_current_char() == '=') lp_state.position += 1;
      lp_skip_to_significant();
      if (lp_read_number(value, true) != 0) {
        kind = op == '<' ? 1 : 2;
        rhs = value + constants;
      } else {
        lp_error(LP_NO_RELATION_VALUE, 0);
      }
    } else {  // '='
      lp_next_char();
      if (lp_read_number(value, true) != 0) {
        kind = 3;
        rhs = value + constants;
      } else if (lp_read_name(name) != 0 && (name == "S1" || name == "S2")) {
        kind = name == "S1" ? 4 : 5;
      } else {
        lp_error(LP_NO_RELATION_VALUE, 0);
      }
    }
  }
  if (objective && kind == 0) rhs = constants;

  // A constraint whose terms are all zero or cancel is still a constraint
  // (0 >= 5 makes the problem infeasible): it stays as an empty row. Only a
  // row with neither terms nor relation, or a set without members, is
  // dropped.
  if (term_count == 0 && (kind >= 4 || (kind == 0 && !objective))) {
    lp_error(LP_ROW_WITHOUT_TERMS, 0);
    s.terms.clear();
    return 1;
  }
  if (kind == 0 && !objective) {
    lp_error(LP_ROW_WITHOUT_RELATION, 0);
    s.terms.clear();
    return 1;
  }
  if (kind >= 4) {
    lp_store_set(row_name, term_count, kind - 4);
    return 0;
  }
  const int32_t before = s.row_count;
  lp_store_row(row_name, term_count, kind, rhs);
  return s.row_count == before ? 1 : 0;
}

void lp_add_term(const lp_name_entry* column, double coefficient, int32_t& term_count) {
  lp_reader_state& s = lp_state;
  if (coefficient == 0.0) return;
  auto [place, added] = s.terms.try_emplace(column->index, coefficient);
  if (!added) {
    place->second += coefficient;
    if (place->second == 0.0) s.terms.erase(place);
  }
  term_count = static_cast<int32_t>(s.terms.size());
}

void lp_read_quadratic(double factor) {
  lp_next_char();  // the opening bracket
  if (lp_current_char() == ']') {
    lp_next_char();
    return;
  }
  for (;;) {
    double coefficient = 1.0;
    lp_read_number(coefficient, true);
    std::string name;
    bool failed = false;
    if (lp_read_name(name) != 0) {
      lp_name_entry* first = nullptr;
      lp_lookup_name(name, 0, &first);
      if (lp_current_char() == '^') {
        lp_next_char();
        double power = 0.0;
        if (lp_read_number(power, false) != 0) {
          if (power != 2.0) lp_error(LP_QUADRATIC_EXPONENT, 0);
          lp_add_quadratic_term(first, first, factor * coefficient);
        } else {
          lp_error(LP_NAME_EXPECTED, 0);
          failed = true;
        }
      } else if (lp_current_char() == '*') {
        lp_next_char();
        if (lp_read_name(name) != 0) {
          lp_name_entry* second = nullptr;
          lp_lookup_name(name, 0, &second);
          lp_add_quadratic_term(first, second, factor * coefficient);
        } else {
          lp_error(LP_NAME_EXPECTED, 0);
          failed = true;
        }
      } else {
        lp_error(LP_QUADRATIC_OPERATOR, 0);
        failed = true;
      }
    } else {
      lp_error(LP_NAME_EXPECTED, 0);
      failed = true;
    }
    if (failed && lp_current_char() != ']') lp_next_char();
    if (lp_current_char() == ']') {
      lp_next_char();
      return;
    }
    if (lp_current_char() != '+' && lp_current_char() != '-') return;
  }
}

void lp_add_quadratic_term(const lp_name_entry* first, const lp_name_entry* second, double value) {
  if (value == 0.0) return;
  int32_t i = first->index;
  int32_t j = second->index;
  if (i > j) std::swap(i, j);
  if (i != j) value /= 2.0;
  auto [place, added] = lp_state.quadratic.try_emplace({i, j}, value);
  if (!added) {
    place->second += value;
    if (place->second == 0.0) lp_state.quadratic.erase(place);
  }
}

int32_t lp_read_bounds() {
  for (;;) {
    const int k = lp_match_keyword(kLpSectionKeywords);
    if (k >= 0) return k;
    std::string name;
    if (lp_read_name(name) != 0) {
      const int32_t index = lp_lookup_name(name, 2, nullptr);
      if (index <= 0) {
        lp_error(LP_NAME_EXPECTED, 0);
        lp_next_statement_line(0);
        continue;
      }
      const int32_t j = index - 1;
      const unsigned char c = lp_current_char();
      double value = 0.0;
      if (c == '<' || c == '>') {
        pass_relation();
        if (c == '<' && bound_value(value, kLpDefaultUpper)) lp_set_column_bound(j, value, LP_BOUND_UPPER);
        if (c == '>' && bound_value(value, -kLpDefaultUpper)) lp_set_column_bound(j, value, LP_BOUND_LOWER);
      } else if (c == '=') {
        lp_next_char();
        if (lp_read_number(value, true) != 0) {
          lp_set_column_bound(j, value, LP_BOUND_FIXED);
        } else {
          lp_error(LP_FIXED_VALUE_EXPECTED, 0);
        }
      } else if (c == 'f' || c == 'F') {
        const bool free_word = lp_compare_nocase(lp_state.line.c_str() + lp_state.position, "free", 4) == 0;
        std::string word;
        lp_read_name(word);
        if (!free_word || word.size() != 4) lp_error(LP_NOT_FREE, 0);
        lp_set_column_bound(j, 0.0, LP_BOUND_FREE);
      } else {
        lp_error(LP_BOUND_RELATION_EXPECTED, 0);
        lp_next_statement_line(1);
      }
      continue;
    }
    double value = 0.0;
    if (lp_read_number(value, true) == 0) {
      const int inf = lp_match_keyword(kLpInfinityKeywords);
      if (inf >= 0) {
        lp_skip_keyword(kLpInfinityKeywords[inf]);
      } else {
        lp_error(LP_BAD_BOUND_STATEMENT, 0);
        pass_name_or_char();
      }
      value = -kLpDefaultUpper;
    }
    const unsigned char c = lp_current_char();
    if (c == '<') {
      pass_relation();
      const int32_t j = bound_column();
      if (j < 0) continue;
      lp_set_column_bound(j, value, LP_BOUND_LOWER);
      if (lp_current_char() == '<') {
        pass_relation();
        if (bound_value(value, kLpDefaultUpper)) lp_set_column_bound(j, value, LP_BOUND_UPPER);
      }
    } else if (c == '>') {
      if (value == -kLpDefaultUpper) value = kLpDefaultUpper;
      pass_relation();
      const int32_t j = bound_column();
      if (j < 0) continue;
      lp_set_column_bound(j, value, LP_BOUND_UPPER);
      if (lp_current_char() == '>') {
        pass_relation();
        if (bound_value(value, -kLpDefaultUpper)) lp_set_column_bound(j, value, LP_BOUND_LOWER);
      }
    } else {
      lp_error(LP_BOUND_NUMBER_RELATION, 0);
      lp_next_char();
    }
  }
}

int32_t lp_read_integer_section(char letter) {
  lp_reader_state& s = lp_state;
  for (;;) {
    // The section ends at a section keyword, or at the end of the file.
    if (lp_at_end_of_file() || lp_match_keyword(kLpSectionKeywords) >= 0) return 0;
    std::string name;
    if (lp_read_name(name) == 0) {
      lp_error(LP_NAME_EXPECTED, 0);
      return 1;
    }
    const int32_t index = lp_lookup_name(name, 2, nullptr);
    if (index <= 0) {
      lp_error(LP_NAME_EXPECTED, 0);
      continue;
    }
    const size_t j = static_cast<size_t>(index - 1);
    if (s.column_type[j] == 0) ++s.typed_count;
    s.column_type[j] = letter;
    if (letter == 'B') lp_set_column_bound(index - 1, 0.0, LP_BOUND_BINARY);
  }
}

void lp_read_limited_section(char letter) {
  lp_reader_state& s = lp_state;
  for (;;) {
    if (lp_at_end_of_file() || lp_match_keyword(kLpSectionKeywords) >= 0) return;
    std::string name;
    if (lp_read_name(name) == 0) {
      lp_error(LP_NAME_EXPECTED, 0);
      lp_next_statement_line(1);
      continue;
    }
    const int32_t index = lp_lookup_name(name, 2, nullptr);
    if (index <= 0) {
      lp_error(LP_NAME_EXPECTED, 0);
      lp_next_statement_line(0);
      continue;
    }
    if (lp_current_char() != '>') {
      lp_error(LP_LIMIT_RELATION, 0);
      lp_next_statement_line(0);
      continue;
    }
    lp_next_char();
    double value = 0.0;
    if (lp_read_number(value, true) == 0) {
      lp_error(LP_FIXED_VALUE_EXPECTED, 0);
      lp_next_statement_line(0);
      continue;
    }
    const size_t j = static_cast<size_t>(index - 1);
    if (s.column_type[j] == 0) ++s.typed_count;
    s.column_type[j] = letter;
    s.column_limit[j] = value;
  }
}

void lp_default_objective() {
  lp_reader_state& s = lp_state;
  if (s.row_count != -1) return;
  lp_lookup_name("obj     ", 1, nullptr);
  s.row_records.insert(s.row_records.begin(), lp_row_record());
}

void lp_store_row(const std::string& name, int32_t term_count, int32_t kind, double rhs) {
  lp_reader_state& s = lp_state;
  std::string row_name = name;
  if (row_name.empty()) {
    if (s.row_count < 0) {
      row_name = "obj     ";
    } else {
      char generated[16];
      std::snprintf(generated, sizeof generated, "C%07d", s.row_count + 1);
      row_name = generated;
    }
  }
  const int32_t before = s.row_count;
  lp_lookup_name(row_name, 1, nullptr);
  if (s.row_count == before) {
    lp_error(LP_DUPLICATE_ROW, 0);
    s.terms.clear();
    return;
  }
  lp_row_record record;
  record.term_count = term_count;
  record.kind = kind;
  record.rhs = rhs;
  record.columns.reserve(s.terms.size());
  record.coefficients.reserve(s.terms.size());
  for (const auto& [column, coefficient] : s.terms) {
    record.columns.push_back(column - 1);
    record.coefficients.push_back(coefficient);
    if (s.row_count >= 1) ++column_entry(column).row_count;
  }
  if (s.row_count >= 1) s.element_total += term_count;
  s.row_records.push_back(std::move(record));
  s.terms.clear();
}

void lp_store_set(const std::string&, int32_t term_count, int32_t kind) {
  lp_reader_state& s = lp_state;
  lp_row_record record;
  record.term_count = term_count;
  record.kind = kind;
  for (const auto& [column, weight] : s.terms) {
    record.columns.push_back(column - 1);
    record.coefficients.push_back(weight);
  }
  s.set_records.push_back(std::move(record));
  ++s.set_count;
  s.set_member_total += term_count;
  s.terms.clear();
}

}  // namespace kl
