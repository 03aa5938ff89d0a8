// The printed solution report (layout in solution_report.h).
#include "files/solution_report.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "runtime/number_fields.h"
#include "files/solution_file.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {

bool print_to_file = false;

namespace {

constexpr int32_t kRealWidth = 12;
constexpr int32_t kNameLength = 8;
constexpr int32_t kIntFieldRoom = 12;
constexpr const char* kBlankName = "        ";
// Lines of a page that the headings leave for records.
constexpr int32_t kHeadingLines = 2;
// Message modes of the message line: normal output, and copy into the open
// text file only.
constexpr int32_t kMessageModeNormal = 0;
constexpr int32_t kMessageModeFileOnly = 6;

double printed(double x) { return std::fabs(x) < dcv(dc::ZTOLPZ) ? 0.0 : x; }

void append_real(std::string& text, double x) {
  char field[kRealWidth];
  format_double_field(printed(x), field);
  text.append(field, kRealWidth);
}

bool is_row_record(int32_t k) { return k <= solution_header_copy.rows; }

// The line through message 108: the same values as the print file's line.
void emit_listing_message(int32_t k) {
  const SolutionLine& line = solution_line;
  const bool row = is_row_record(k);
  begin_message(MSG_SOLUTION_LISTING_LINE);
  insert_message_chars(&line.class_letter, 1);
  insert_message_int(k);
  insert_message_name8(line.name);
  insert_message_chars(line.code, 2);
  insert_message_real(printed(row ? line.activity : line.value));
  insert_message_real(printed(row ? line.slack : line.cost));
  insert_message_real(printed(line.dual));
  if (row) {
    insert_message_real(printed(line.rhs));
  } else {
    insert_message_name8(kBlankName);
  }
  emit_message();
}

void print_record(int32_t k) {
  if (print_to_file) {
    const std::string text = format_print_line(k);
    write_text_line(text.data(), static_cast<int32_t>(text.size()));
  } else {
    emit_listing_message(k);
  }
}

// Records first..last of the file, positions from first_position on, with
// a heading of page_heading after every full page. False when the pager
// stopped the report or a record could not be read.
bool print_section(int32_t first, int32_t last, int32_t first_position, int32_t page_heading) {
  const int32_t per_page = std::max(1, icv(ic::NLINES) - kHeadingLines);
  int32_t lines = 0;
  for (int32_t k = first; k <= last; ++k) {
    int32_t error = 0;
    read_solution_status(first_position + (k - first), error);
    if (error != 0) {
      begin_message(MSG_SOLUTION_FILE_ERROR);
      emit_message();
      return false;
    }
    if (lines == per_page) {
      int32_t stop = 0;
      report_search_status(page_heading, stop);
      if (stop != 0) return false;
      lines = 0;
    }
    print_record(k);
    ++lines;
  }
  return true;
}

bool ranging_mode(int32_t mode) { return mode == PRINT_RANGING_SCREEN || mode == PRINT_RANGING_FILE; }

bool file_mode(int32_t mode) { return mode == PRINT_SOLUTION_FILE || mode == PRINT_RANGING_FILE; }

constexpr int32_t kRangingHeadingLines = 4;
constexpr int32_t kLinesPerRangeRecord = 3;

// One side of a limit: the limiting record's name and "UL" when its number
// is negative, "LL" when positive, blanks when there is none.
void insert_limiting(const std::vector<RangeLine>& lines, int32_t limiting) {
  const int32_t which = limiting < 0 ? -limiting : limiting;
  const bool known = which >= 1 && static_cast<std::size_t>(which) < lines.size();
  insert_message_name8(known ? lines[static_cast<std::size_t>(which)].name : kBlankName);
  insert_message_chars(!known ? "  " : (limiting < 0 ? "UL" : "LL"), 2);
}

void print_range_record(const std::vector<RangeLine>& lines, int32_t k) {
  const RangeLine& line = lines[static_cast<std::size_t>(k)];
  const bool row = is_row_record(k);
  const int32_t message = row ? MSG_RANGE_ROW_LINE : MSG_RANGE_COLUMN_LINE;
  begin_message(message);
  insert_message_chars(&line.class_letter, 1);
  insert_message_name8(line.name);
  insert_message_real(printed(line.activity));
  insert_message_real4(line.lower_activity);
  insert_message_real4(line.unit_cost[0]);
  if (!row) insert_message_real4(line.cost_limit[0]);
  insert_limiting(lines, line.limiting[0]);
  emit_message();
  begin_message(message);
  insert_message_chars(line.code, 2);
  // Records count rows, then columns without the spare row positions: the
  // record number is the column's position less those.
  insert_message_int(k);
  insert_message_real(printed(row ? line.slack : line.cost));
  insert_message_real4(line.upper_activity);
  insert_message_real4(line.unit_cost[1]);
  if (!row) insert_message_real4(line.cost_limit[1]);
  insert_limiting(lines, line.limiting[1]);
  emit_message();
  begin_message(MSG_HELP_END);
  emit_message();
}

// Records first..last with a heading after every full page. False when the
// pager stopped the report.
bool print_range_section(const std::vector<RangeLine>& lines, int32_t first, int32_t last, int32_t page_heading) {
  const int32_t per_page = std::max(1, (icv(ic::NLINES) - kRangingHeadingLines) / kLinesPerRangeRecord);
  int32_t shown = 0;
  for (int32_t k = first; k <= last; ++k) {
    if (shown == per_page) {
      int32_t stop = 0;
      report_search_status(page_heading, stop);
      if (stop != 0) return false;
      shown = 0;
    }
    print_range_record(lines, k);
    ++shown;
  }
  return true;
}

void print_solution(int32_t mode) {
  if (file_mode(mode)) {
    int32_t error = 0;
    open_text_output(make_work_file_name(mode == PRINT_RANGING_FILE ? "rrt" : "prt").c_str(), error);
    if (error != 0) {
      report_plain_error(MSG_PRINT_FILE_NOT_OPENED);
      return;
    }
    print_to_file = true;
    set_message_mode(kMessageModeFileOnly);
  }
  if (ranging_mode(mode)) {
    write_fixed_ranging_print();
  } else {
    print_solution_listing();
  }
  if (print_to_file) {
    set_message_mode(kMessageModeNormal);
    close_text_output();
    print_to_file = false;
  }
}

}  // namespace

std::string format_print_line(int32_t k) {
  const SolutionLine& line = solution_line;
  const bool row = is_row_record(k);
  std::string text = " ";
  text.push_back(line.class_letter);
  text.push_back(' ');
  char number[kIntFieldRoom];
  // A record number wider than its field keeps every digit.
  text.append(number, static_cast<std::size_t>(format_int_field6(k, number)));
  text.append("  ");
  text.append(line.name, kNameLength);
  text.append("  ");
  text.append(line.code, 2);
  text.append("  ");
  append_real(text, row ? line.activity : line.value);
  text.append("  ");
  append_real(text, row ? line.slack : line.cost);
  text.append("  ");
  append_real(text, line.dual);
  text.append("  ");
  if (row) {
    append_real(text, line.rhs);
  } else {
    text.append(kBlankName);
  }
  text.push_back(' ');
  return text;
}

void print_solution_listing() {
  int32_t status = 0;
  print_solution_header(status);
  if (status != 0) return;
  int32_t stop = 0;
  report_search_status(HEADING_ROWS, stop);
  if (stop != 0) return;
  const SolutionHeaderCopy h = solution_header_copy;
  if (!print_section(1, h.rows, 1, HEADING_ROW_PAGE)) return;
  report_search_status(HEADING_COLUMNS, stop);
  if (stop != 0) return;
  print_section(h.rows + 1, h.rows + h.columns, h.first_col, HEADING_COLUMN_PAGE);
}

void write_fixed_ranging_print() {
  int32_t status = 0;
  print_solution_header(status);
  if (status != 0) return;
  const SolutionHeaderCopy h = solution_header_copy;
  const int32_t records = h.rows + h.columns;
  std::vector<RangeLine> lines;
  if (!read_all_range_lines(lines)) return;
  const int32_t base = 4 * h.sense_code;
  int32_t stop = 0;
  report_search_status(base + 3, stop);
  if (stop != 0) return;
  if (!print_range_section(lines, 1, h.rows, base + 1)) return;
  report_search_status(base + 4, stop);
  if (stop != 0) return;
  print_range_section(lines, h.rows + 1, records, base + 2);
}

void print_results(int32_t mode) {
  begin_body();
  const int32_t kept_level = icv(ic::IFPMSG);
  icv(ic::IFPMSG) = 1;
  int32_t error = 0;
  open_work_file(make_work_file_name(ranging_mode(mode) ? EXT_RNG : EXT_SOL).c_str(), WORK_READ, error);
  if (error == WORK_OPEN_OK) {
    print_solution(mode);
    close_work_file();
  } else {
    // The work-file layer has named the file; nothing was printed, and the
    // caller must not take that for success.
    status_code = STATUS_REPORTED;
  }
  if (kept_level > 0) end_of_call();
  icv(ic::IFPMSG) = kept_level;
}

void print_solution_file() { print_results(PRINT_SOLUTION_FILE); }

void print_solution_screen() { print_results(PRINT_SOLUTION_SCREEN); }

void print_ranging_file() { print_results(PRINT_RANGING_FILE); }

void print_ranging_screen() { print_results(PRINT_RANGING_SCREEN); }

}  // namespace kl
