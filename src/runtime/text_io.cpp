// Text files over byte-stream units, console lines, the number fields of the
// text layer and the small text utilities.
#include "runtime/text_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "klsol/message_ids.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/units.h"

namespace kl {

TextFileStack text_file_stack;

namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kEndOfFileMark = 26;  // ctrl-Z
// The console entry is given a buffer of our own at least this large, so an
// entry written for a longer line than the caller's cannot overrun it.
constexpr const char* kWriteFailureText = "? 83 Fatal error on write to file";
constexpr const char* kEndOfInputText = "?EOF on read: fatal\n";
constexpr const char* kPagePrompt = "type c/r to continue, anything else to finish ";
// Fraction digits that still add to a parsed real.
constexpr int kMaxFractionDigits = 24;
// Characters searched for the start of a real field.
constexpr int kRealFieldLead = 12;

void report_close_failure(int32_t unit, int32_t error) {
  begin_message(MSG_CLOSE_FAILED);
  insert_message_int(unit);
  insert_message_int(error);
  emit_message();
}

// Refills the buffer of an input level. Returns false at the end of the file
// (nothing read, or a failed read). A short read is closed by a ctrl-Z, which
// the buffer always has room for since the read asked for the whole buffer.
bool refill_input(TextInputLevel& level) {
  int32_t error = 0;
  read_unit_bytes(level.unit, level.buffer, kTextInputBuffer, error);
  level.position = 0;
  if (error == 0) {
    level.filled = kTextInputBuffer;
  } else if (error < 0) {
    level.filled = -error;
    level.buffer[level.filled++] = kEndOfFileMark;
  } else {
    level.filled = 0;
    return false;
  }
  return true;
}

// Writes the output buffer; on a failure the fixed text goes straight to the
// sink (not through the message line, which copies into this very file),
// every unit is closed and the output file is forgotten.
bool flush_output_buffer() {
  TextFileStack& s = text_file_stack;
  int32_t error = 0;
  write_unit_bytes(s.output_unit, s.output, s.output_position, error);
  s.output_position = 0;
  if (error == 0) return true;
  write_message_text_kind1(kWriteFailureText, static_cast<int32_t>(std::strlen(kWriteFailureText)));
  int32_t close_error = 0;
  close_all_units(close_error);
  clear_interrupt();
  s.output_level = 0;
  s.output_unit = -1;
  return false;
}

void emit_heading(int32_t n) {
  begin_message(n);
  emit_message();
}

}  // namespace

bool close_unit_reporting(int32_t unit) {
  int32_t error = 0;
  close_unit(unit, error);
  if (error != 0) report_close_failure(unit, error);
  return error == 0;
}

// ---------------------------------------------------------------------------
// Text input

void open_text_input(const char* name, int32_t& error) {
  TextFileStack& s = text_file_stack;
  if (s.depth >= kTextInputDepth) {
    error = 2;
    begin_message(MSG_OPEN_WRITE_FAILED);
    fetch_message_text(MSG_TOO_MANY_INPUT_FILES);
    insert_message_string(name);
    emit_message();
    return;
  }
  int32_t unit = -1;
  int32_t open_error = 0;
  open_unit_read_bytes(name, unit, open_error);
  if (open_error != 0) {
    error = 1;
    begin_message(MSG_OPEN_READ_FAILED);
    insert_message_string(name);
    emit_message();
    return;
  }
  TextInputLevel& level = s.input[++s.depth];
  level.unit = unit;
  level.filled = 0;
  level.position = 0;
  error = 0;
}

void read_text_line_whole(std::string& line, int32_t& error) {
  TextFileStack& s = text_file_stack;
  line.clear();
  error = -1;
  if (s.depth < 1) return;
  TextInputLevel& level = s.input[s.depth];
  if (level.position < 0) {
    // The last line went out without a line feed; this call reports the end.
    level.position = 0;
    level.filled = 0;
    return;
  }
  error = 0;
  bool end_of_file = false;
  for (;;) {
    if (level.position >= level.filled && !refill_input(level)) {
      end_of_file = true;
      break;
    }
    const unsigned char c = level.buffer[level.position++];
    if (c == kLineFeed) break;
    if (c == kCarriageReturn) continue;
    if (c == kEndOfFileMark) {
      end_of_file = true;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  if (end_of_file) {
    level.filled = 0;
    level.position = 0;
    if (line.empty()) {
      error = -1;
      return;
    }
    level.position = -1;
  }
}

void read_text_line(char* line, int32_t& count, int32_t& error) {
  std::string whole;
  read_text_line_whole(whole, error);
  count = static_cast<int32_t>(std::min<size_t>(whole.size(), kTextLineMax));
  std::memcpy(line, whole.data(), static_cast<size_t>(count));
  if (whole.size() > static_cast<size_t>(kTextLineMax)) {
    begin_message(MSG_LINE_TOO_LONG);
    insert_message_int(kTextLineMax);
    emit_message();
  }
}

void close_text_input() {
  TextFileStack& s = text_file_stack;
  if (s.depth < 1) {
    begin_message(MSG_CLOSE_FAILED);
    insert_message_int(-1);
    emit_message();
    return;
  }
  TextInputLevel& level = s.input[s.depth];
  int32_t error = 0;
  close_unit(level.unit, error);
  if (error != 0) report_close_failure(level.unit, error);
  level.unit = -1;
  level.filled = 0;
  level.position = 0;
  --s.depth;
}

// ---------------------------------------------------------------------------
// Text output

void open_text_output(const char* name, int32_t& error) {
  TextFileStack& s = text_file_stack;
  error = 0;
  int32_t unit = -1;
  int32_t create_error = 1;
  if (s.output_level == 0) create_unit_bytes(name, unit, create_error);
  if (create_error == 0) {
    s.output_level = 1;
    s.output_unit = unit;
    s.output_position = 0;
    return;
  }
  // The caller learns of the failure through the error cell as well as the
  // status, so it does not go on writing into a file that is not open.
  error = 1;
  set_message_mode(0);
  begin_message(MSG_OPEN_WRITE_FAILED);
  insert_message_string(name);
  emit_message();
  status_code = STATUS_FILE_ERROR;
}

void write_text_line(const char* text, int32_t n) {
  TextFileStack& s = text_file_stack;
  if (s.output_level == 0) return;
  if (text == nullptr || n < 0) n = 0;
  const char ending[2] = {static_cast<char>(kCarriageReturn), static_cast<char>(kLineFeed)};
  for (int32_t i = 0; i < n + 2; ++i) {
    s.output[s.output_position++] = static_cast<unsigned char>(i < n ? text[i] : ending[i - n]);
    if (s.output_position == kTextOutputBuffer && !flush_output_buffer()) return;
  }
}

void close_text_output() {
  TextFileStack& s = text_file_stack;
  if (s.output_level == 0) {
    begin_message(MSG_CLOSE_FAILED);
    insert_message_int(-2);
    emit_message();
    return;
  }
  if (s.output_position > 0) {
    int32_t error = 0;
    write_unit_bytes(s.output_unit, s.output, s.output_position, error);
    s.output_position = 0;
    if (error != 0) {
      set_message_mode(0);
      begin_message(MSG_WRITE_FAILED);
      emit_message();
    }
  }
  int32_t error = 0;
  close_unit(s.output_unit, error);
  if (error != 0) report_close_failure(s.output_unit, error);
  s.output_level = 0;
  s.output_unit = -1;
}

void copy_line_to_output_file(const char* text, int32_t n, int32_t& fault) {
  fault = 0;
  if (text_file_stack.output_level != 0) write_text_line(text, n);
}

// ---------------------------------------------------------------------------
// Console

bool read_console_stream(std::FILE* in, std::FILE* out, char* line, int32_t capacity, int32_t& length) {
  length = 0;
  std::fputs(">", out);
  std::fflush(out);
  const int32_t keep = capacity < kConsoleLineMax ? capacity : kConsoleLineMax;
  bool any = false;
  bool line_feed = false;
  int c;
  while ((c = std::fgetc(in)) != EOF) {
    any = true;
    if (c == '\n') {
      line_feed = true;
      break;
    }
    if (length < keep) line[length++] = static_cast<char>(c);
  }
  if (!any) {
    std::fputs(kEndOfInputText, out);
    std::fflush(out);
    return false;
  }
  if (line_feed && length > 0 && line[length - 1] == '\r') --length;
  return true;
}

bool read_console_text(std::string& raw) {
  const auto& entry = user_entries.console;
  if (entry.enabled == 0 || entry.function == nullptr) {
    char line[kConsoleLineMax];
    int32_t length = 0;
    if (!read_console_stream(stdin, stdout, line, kConsoleLineMax, length)) return false;
    raw.assign(line, static_cast<std::size_t>(length));
    return true;
  }
  std::vector<char> buffer(static_cast<std::size_t>(kConsoleEntryRoom));
  int32_t room = kConsoleEntryRoom;
  // An entry that keeps asking for more than it was given is cut off after
  // a few rounds rather than followed without end.
  constexpr int kMaxRounds = 4;
  for (int round = 1;; ++round) {
    int32_t length = room;
    entry.function(buffer.data(), &length);
    if (length < 0) return false;
    if (length <= room || round == kMaxRounds) {
      raw.assign(buffer.data(), static_cast<std::size_t>(length <= room ? length : room));
      return true;
    }
    room = length;
    buffer.assign(static_cast<std::size_t>(room), '\0');
  }
}

bool read_console_line(char* line, int32_t capacity, int32_t& length) {
  length = 0;
  if (capacity < 0) capacity = 0;
  std::string raw;
  if (!read_console_text(raw)) return false;
  length = static_cast<int32_t>(std::min<std::size_t>(raw.size(), static_cast<std::size_t>(capacity)));
  std::memcpy(line, raw.data(), static_cast<std::size_t>(length));
  return true;
}

namespace {

// The answer at a page break: non-zero stops the report. A registered
// console entry is asked with no room (its page-break call), so a scripted
// console never loses a command line to a pager prompt.
int32_t page_break_answer() {
  const auto& entry = user_entries.console;
  if (entry.enabled != 0 && entry.function != nullptr) {
    char unused[1] = {0};
    int32_t length = 0;
    entry.function(unused, &length);
    return length;
  }
  char answer[kConsoleLineMax];
  int32_t length = 0;
  // With no more input there is nobody to continue for: finish the report.
  if (!read_console_stream(stdin, stdout, answer, kConsoleLineMax, length)) return 1;
  return length;
}

}  // namespace

void report_search_status(int32_t section, int32_t& stop) {
  stop = 0;
  if (text_file_stack.output_level == 0) {
    write_message_text(kPagePrompt, static_cast<int32_t>(std::strlen(kPagePrompt)));
    stop = page_break_answer();
    if (stop != 0) return;
  }
  switch (section) {
    case 2:
      emit_heading(MSG_SOLUTION_HEAD_COLS);
      break;
    case 3:
      emit_heading(MSG_SOLUTION_HEAD_ROWS_SECTION);
      emit_heading(MSG_SOLUTION_HEAD_ROWS);
      break;
    case 4:
      emit_heading(MSG_SOLUTION_HEAD_COLS_SECTION);
      emit_heading(MSG_SOLUTION_HEAD_COLS);
      break;
    case 5:
    case 6:
    case 7:
    case 8:
      if (section == 7) emit_heading(MSG_SOLUTION_HEAD_ROWS_SECTION);
      if (section == 8) emit_heading(MSG_SOLUTION_HEAD_COLS_SECTION);
      emit_heading(MSG_RANGE_HEAD_RANGING);
      emit_heading(section == 5 || section == 7 ? MSG_RANGE_HEAD_ROWS : MSG_RANGE_HEAD_COLUMNS);
      break;
    case 9:
    case 10:
    case 11:
    case 12:
      if (section == 11) emit_heading(MSG_SOLUTION_HEAD_ROWS_SECTION);
      if (section == 12) emit_heading(MSG_SOLUTION_HEAD_COLS_SECTION);
      emit_heading(MSG_RANGE_HEAD_LIMITS);
      emit_heading(section == 9 || section == 11 ? MSG_RANGE_HEAD_ROW_LIMITS : MSG_RANGE_HEAD_COL_LIMITS);
      break;
    default:
      emit_heading(MSG_SOLUTION_HEAD_ROWS);
      break;
  }
}

// ---------------------------------------------------------------------------
// Number fields

void format_int_field(int32_t k, char* field) {
  int32_t count = 0;
  format_int_digits_backward(k, field + 11, count);
  int32_t i = 11 - count;
  if (k < 0) field[i--] = '-';
  for (; i >= 0; --i) field[i] = ' ';
}

void format_int_2_digits(int32_t k, char* field) { format_int_zero_padded(k, 2, field); }

void format_int_4_digits(int32_t k, char* field) { format_int_zero_padded(k, 4, field); }

void format_int_zero_padded(int32_t k, int32_t n, char* field) {
  int64_t v = std::llabs(static_cast<int64_t>(k));
  for (int32_t i = n - 1; i >= 0; --i) {
    field[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

void format_int_digits_backward(int32_t k, char* end, int32_t& count) {
  int64_t v = std::llabs(static_cast<int64_t>(k));
  count = 0;
  do {
    *(end - count) = static_cast<char>('0' + v % 10);
    ++count;
    v /= 10;
  } while (v != 0);
}

void format_hex8(uint32_t k, char* field) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i) {
    field[i] = kHexDigits[k & 0xF];
    k >>= 4;
  }
}

int32_t parse_int_field(const char* field) {
  int32_t i = 0;
  bool negative = false;
  if (field[0] == '+' || field[0] == '-') {
    negative = field[0] == '-';
    i = 1;
  }
  // Unsigned arithmetic: a field of 12 digits wraps instead of overflowing.
  uint32_t value = 0;
  for (; i < 12 && field[i] != '\0'; ++i) {
    if (field[i] >= '0' && field[i] <= '9') value = value * 10u + static_cast<uint32_t>(field[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

double parse_real_field(const char* field) {
  const int32_t width = icv(ic::LENDBL);
  const int32_t lead = width < kRealFieldLead ? width : kRealFieldLead;
  int32_t i = 0;
  while (i < lead && field[i] == ' ') ++i;
  if (i >= lead) return 0.0;
  const auto ends_field = [&](int32_t j) { return j >= width || field[j] == '\0' || field[j] == ' '; };
  const auto is_digit = [&](int32_t j) { return field[j] >= '0' && field[j] <= '9'; };
  const auto is_exponent_letter = [&](int32_t j) {
    return field[j] == 'd' || field[j] == 'e' || field[j] == 'D' || field[j] == 'E';
  };
  const auto bad_field = [] {
    status_code = STATUS_REPORTED;
    return 0.0;
  };

  double sign = 1.0;
  if (field[i] == '+' || field[i] == '-') {
    if (field[i] == '-') sign = -1.0;
    ++i;
    while (i < width && field[i] == ' ') ++i;
    if (i >= width || field[i] == '\0') return 0.0;
  }
  double value = 0.0;
  while (!ends_field(i) && field[i] != '.' && !is_exponent_letter(i)) {
    if (!is_digit(i)) return bad_field();
    value = value * 10.0 + (field[i] - '0');
    ++i;
  }
  if (!ends_field(i) && field[i] == '.') {
    ++i;
    int32_t k = 0;
    double scale = 1.0;
    while (!ends_field(i) && !is_exponent_letter(i)) {
      if (!is_digit(i)) return bad_field();
      if (++k <= kMaxFractionDigits) {
        scale /= 10.0;
        value += (field[i] - '0') * scale;
      }
      ++i;
    }
  }
  if (!ends_field(i) && is_exponent_letter(i)) {
    ++i;
    int32_t exponent_sign = 1;
    if (i < width && (field[i] == '+' || field[i] == '-')) {
      if (field[i] == '-') exponent_sign = -1;
      ++i;
    }
    int32_t exponent = 0;
    while (!ends_field(i)) {
      if (!is_digit(i)) return bad_field();
      // Beyond this every double has overflowed or vanished anyway.
      if (exponent < 10000) exponent = exponent * 10 + (field[i] - '0');
      ++i;
    }
    value *= std::pow(10.0, exponent_sign * exponent);
  }
  return sign * value;
}

// ---------------------------------------------------------------------------
// Text utilities

void upper_case(char* text, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
}

std::string make_path(const std::string& name, const std::string& directory) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += name;
  return path;
}

void fill_blanks_200(char* buffer) { std::memset(buffer, ' ', 200); }

int32_t letter_class_index(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
  if (c >= 'a' && c <= 'z') return c - 'a' + 27;
  return -1;
}

bool read_environment_text(const char* name, std::string& value) {
  if (name == nullptr) return false;
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  value = text;
  return true;
}

void reset_text_files() {
  TextFileStack& s = text_file_stack;
  s.depth = 0;
  for (TextInputLevel& level : s.input) {
    level.unit = -1;
    level.filled = 0;
    level.position = 0;
  }
  s.output_level = 0;
  s.output_unit = -1;
  s.output_position = 0;
}

}  // namespace kl
