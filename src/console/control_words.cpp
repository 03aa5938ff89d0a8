// Showing and setting controls by name from the command line.
#include "console/control_words.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "console/command_loop.h"
#include "runtime/options.h"
#include "klsol/message_ids.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/text_io.h"

namespace kl {

namespace {

enum class ControlKind { kCharacter, kDouble, kInteger };

constexpr int32_t kCharacterWidth = 8;

// The text of the control word as typed (name and value), for messages.
std::string control_word_text() {
  const std::size_t n = static_cast<std::size_t>(std::max<int32_t>(command_line.length, 0));
  return command_line.text.substr(0, std::min(n, command_line.text.size()));
}

// The value: the meaningful text after the "=" at the position.
std::string value_text() {
  const int32_t first = command_line.position;  // 0-based index of the character after "="
  const int32_t last = std::min<int32_t>(command_line.length, static_cast<int32_t>(command_line.text.size()));
  if (first >= last) return std::string();
  return command_line.text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
}

void refuse_value(int32_t message) {
  begin_message(message);
  insert_message_string(control_word_text().c_str());
  emit_message();
}

void show_control(ControlKind kind, int32_t n) {
  switch (kind) {
    case ControlKind::kCharacter:
      insert_message_chars("'", 1);
      insert_message_chars(character_controls[n], kCharacterWidth);
      insert_message_chars("'", 1);
      break;
    case ControlKind::kDouble:
      insert_message_real(double_controls[n]);
      break;
    case ControlKind::kInteger:
      insert_message_value12(integer_controls[n]);
      break;
  }
  emit_message();
}

// The copy stops before the first single quote, so a quoted value sets
// blanks; a value longer than the control keeps its first 8 characters.
bool set_character_control(int32_t n, const std::string& value) {
  char* word = character_controls[n];
  std::memset(word, ' ', kCharacterWidth);
  for (std::size_t k = 0; k < value.size() && k < static_cast<std::size_t>(kCharacterWidth); ++k) {
    if (value[k] == '\'') break;
    word[k] = value[k];
  }
  return true;
}

// The real is read from a field of LENDBL characters; a value longer than
// the field would be read cut short, so it is refused instead.
bool set_double_control(int32_t n, const std::string& value) {
  const int32_t width = std::max<int32_t>(icv(ic::LENDBL), 1);
  if (static_cast<int32_t>(value.size()) > width) {
    begin_message(MSG_VALUE_TOO_LONG);
    insert_message_int(width);
    insert_message_string(control_word_text().c_str());
    emit_message();
    return false;
  }
  std::string field = value;
  field.resize(static_cast<std::size_t>(width), ' ');
  status_code = STATUS_OK;
  const double x = parse_real_field(field.c_str());
  if (status_code != STATUS_OK) {
    status_code = STATUS_OK;
    refuse_value(MSG_BAD_REAL_VALUE);
    return false;
  }
  std::string allowed;
  if (const int32_t message = check_double_control_value(n, x, allowed)) {
    emit_control_value_refusal(message, control_word_text(), allowed);
    return false;
  }
  double_controls[n] = x;
  return true;
}

bool set_integer_control(int32_t n, const std::string& value) {
  int32_t x = 0;
  if (!parse_integer_text(value, x)) {
    refuse_value(MSG_BAD_INTEGER_VALUE);
    return false;
  }
  std::string allowed;
  if (const int32_t message = check_int_control_value(n, x, allowed)) {
    emit_control_value_refusal(message, control_word_text(), allowed);
    return false;
  }
  integer_controls[n] = x;
  return true;
}

int32_t& set_flag_of(ControlKind kind, int32_t n) {
  switch (kind) {
    case ControlKind::kCharacter:
      return character_set_flags[n];
    case ControlKind::kDouble:
      return double_set_flags[n];
    case ControlKind::kInteger:
      break;
  }
  return integer_set_flags[n];
}

// The control named at the position: kind and number. False for none.
bool find_control(ControlKind& kind, int32_t& n) {
  const struct {
    ControlKind kind;
    const char* names;
  } lists[] = {
      {ControlKind::kCharacter, control_name_lists.character_names},
      {ControlKind::kDouble, control_name_lists.double_names},
      {ControlKind::kInteger, control_name_lists.integer_names},
  };
  for (const auto& list : lists) {
    if (match_name(list.names, n) > 0) {
      kind = list.kind;
      return true;
    }
  }
  return false;
}

void show_or_set(int32_t& unknown) {
  ControlKind kind = ControlKind::kInteger;
  int32_t n = 0;
  if (!find_control(kind, n)) {
    unknown = 1;
    return;
  }
  if (command_line.position > command_line.length) {
    show_control(kind, n);
    return;
  }
  if (command_line.text[static_cast<std::size_t>(command_line.position - 1)] != '=') {
    unknown = 1;
    return;
  }
  int32_t& set_flag = set_flag_of(kind, n);
  if (set_flag < 0) {
    begin_message(MSG_CONTROL_NOT_SETTABLE);
    emit_message();
    return;
  }
  const std::string value = value_text();
  bool set = false;
  switch (kind) {
    case ControlKind::kCharacter:
      set = set_character_control(n, value);
      break;
    case ControlKind::kDouble:
      set = set_double_control(n, value);
      break;
    case ControlKind::kInteger:
      set = set_integer_control(n, value);
      break;
  }
  if (set) ++set_flag;
}

}  // namespace

// An optional sign and decimal digits, within the range of an int32; an
// empty value is 0. Anything else is refused rather than folded into a
// made-up number.
bool parse_integer_text(const std::string& value, int32_t& x) {
  std::size_t k = 0;
  bool negative = false;
  if (k < value.size() && (value[k] == '+' || value[k] == '-')) negative = value[k++] == '-';
  int64_t magnitude = 0;
  const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
  bool valid = value.empty() || k < value.size();
  for (; k < value.size() && valid; ++k) {
    const char c = value[k];
    valid = c >= '0' && c <= '9';
    if (valid) magnitude = magnitude * 10 + (c - '0');
    valid = valid && magnitude <= limit;
  }
  if (valid) x = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return valid;
}

void set_or_show_control(int32_t& unknown) {
  unknown = 0;
  // A shown real prints as it is, however small.
  set_message_zero_tolerance(0.0);
  show_or_set(unknown);
  set_message_zero_tolerance(dcv(dc::ZTOLPZ));
}

}  // namespace kl
