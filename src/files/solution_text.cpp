// Comma-separated text of the solution (layout in solution_text.h).
#include "files/solution_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "factor/starting_basis.h"
#include "runtime/number_fields.h"
#include "files/solution_file.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "runtime/units.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

constexpr char kSeparator = ',';
constexpr char kQuote = '"';
constexpr int32_t kNameLength = 8;
constexpr int32_t kCodeLength = 2;
constexpr int32_t kIntFieldRoom = 12;

// Fields of a values line in the order they are written.
constexpr const char kValueFieldOrder[] = "sntbacludrpf";
// Letters that choose no field.
constexpr char kEveryPassLetter = 'e';
constexpr char kNonzeroOnlyLetter = 'q';
// Letters not implied when the call names no field at all.
constexpr const char kNotByDefault[] = "efpq";

// The numbered copies carry one character after "so": '0' for the first.
constexpr char kFirstCopyDigit = '0';
constexpr char kLastCopyDigit = '~';

struct PassExtensions {
  std::string binary;
  std::string header;
  std::string values;
};

PassExtensions pass_extensions(int32_t pass) {
  if (pass == 1) return {"sol", "hdr", "asc"};
  const char digit = static_cast<char>(kFirstCopyDigit + pass - 2);
  return {std::string("so") + digit, std::string("hd") + digit, std::string("as") + digit};
}

bool last_pass(int32_t pass) { return kFirstCopyDigit + pass - 2 >= kLastCopyDigit; }

// The letters of the call, with the default set when it names no field.
struct FieldChoice {
  bool letter[26] = {};
  bool has(char c) const { return letter[c - 'a']; }
};

FieldChoice value_fields() {
  FieldChoice choice;
  bool any_field = false;
  for (char c = 'a'; c <= 'z'; ++c) {
    choice.letter[c - 'a'] = option_set(c);
    if (option_set(c) && c != kEveryPassLetter && c != kNonzeroOnlyLetter) any_field = true;
  }
  if (!any_field)
    for (char c = 'a'; c <= 'z'; ++c)
      if (std::strchr(kNotByDefault, c) == nullptr) choice.letter[c - 'a'] = true;
  return choice;
}

double clipped(double x) { return std::clamp(x, -kTextBoundLimit, kTextBoundLimit); }

double scale_factor(int32_t exponent) {
  if (exponent == 0) exponent = kScaleBias;
  return std::ldexp(1.0, exponent - kScaleBias);
}

// The values of the analysis file by position, 1..count. False after a
// message, with status_code 32.
bool read_analysis_values(const std::string& name, int32_t count, std::vector<double>& values) {
  values.assign(static_cast<std::size_t>(std::max(count, 0)) + 1, 0.0);
  int32_t unit = -1;
  int32_t error = 0;
  open_unit_read_bytes(name.c_str(), unit, error);
  if (error != 0) {
    begin_message(MSG_OPEN_WRITE_FAILED);
    insert_message_string(name.c_str());
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }
  bool ok = true;
  if (count > 0) {
    read_unit_bytes(unit, &values[1], static_cast<int64_t>(count) * static_cast<int64_t>(sizeof(double)), error);
    if (error != 0) {
      begin_message(MSG_FILE_READ_FAILED);
      insert_message_string(name.c_str());
      emit_message();
      ok = false;
    }
  }
  if (!close_unit_reporting(unit)) ok = false;
  if (!ok) status_code = STATUS_REPORTED;
  return ok;
}

void add_value_field(CsvRecord& record, char letter, int32_t k, const std::vector<double>& analysis) {
  const SolutionLine& line = solution_line;
  const bool row = k <= solution_header_copy.rows;
  switch (letter) {
    case 's':
      csv_add_int(record, k, kCsvIntWidthLong);
      break;
    case 'n':
      csv_add_quoted_name(record, line.name);
      break;
    case 't':
      csv_add_quoted_text(record, &line.class_letter, 1);
      break;
    case 'b':
      csv_add_quoted_code(record, line.code);
      break;
    case 'a':
      csv_add_real(record, row ? line.activity : line.value, kCsvRealWidth);
      break;
    case 'c':
      csv_add_real(record, row ? line.slack : line.cost, kCsvRealWidth);
      break;
    case 'l':
      csv_add_real(record, clipped(line.lower), kCsvRealWidth);
      break;
    case 'u':
      csv_add_real(record, clipped(line.upper), kCsvRealWidth);
      break;
    case 'd':
      csv_add_real(record, line.dual, kCsvRealWidth);
      break;
    case 'r':
      if (row) csv_add_real(record, line.rhs, kCsvRealWidth);
      break;
    case 'p': {
      const auto p = static_cast<std::size_t>(solution_record_position(k));
      csv_add_real(record, p < analysis.size() ? analysis[p] : 0.0, kCsvRealWidth);
      break;
    }
    case 'f':
      csv_add_real(record, scale_factor(line.exponent), kCsvRealWidth);
      break;
    default:
      break;
  }
}

// Opens the binary file of a pass with its open-failure message hidden.
bool open_binary_quietly(const std::string& name) {
  int32_t error = 0;
  suspend_messages();
  open_work_file(name.c_str(), WORK_READ, error);
  resume_messages();
  return error == WORK_OPEN_OK;
}

// The word that names the text files: the rest of the command line, or ""
// when nothing but blanks is left.
std::string text_files_argument() {
  const std::string word = command_argument();
  return word.find_first_not_of(' ') == std::string::npos ? std::string() : word;
}

// A failed write of the text layer closes the output file behind the
// writer's back, or leaves message 83 when the file is closed.
void close_text_file_checked() {
  const bool was_open = text_file_stack.output_level != 0;
  const int32_t error_before = error_number;
  if (was_open) close_text_output();
  if (status_code == STATUS_OK && error_number == MSG_WRITE_FAILED && error_before != MSG_WRITE_FAILED)
    status_code = STATUS_FILE_ERROR;
}

bool open_text_file(const std::string& name) {
  int32_t error = 0;
  open_text_output(name.c_str(), error);
  if (error != 0 && status_code == STATUS_OK) status_code = STATUS_FILE_ERROR;
  return error == 0;
}

// Step 5 of a pass: the header file, then the values file, from the binary
// file open as the work file. The text files take the current problem name.
void convert_pass(const PassExtensions& ext, const std::string& analysis_file) {
  if (!open_text_file(make_work_file_name(ext.header.c_str()))) return;
  const bool header_written = write_ascii_header();
  close_text_file_checked();
  if (!header_written) {
    if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
    return;
  }
  if (status_code != STATUS_OK) return;
  if (!open_text_file(make_work_file_name(ext.values.c_str()))) return;
  write_ascii_solution(analysis_file);
  close_text_file_checked();
}

// Pass 1 without a solution file: write it from the loaded problem.
void write_missing_solution_file() {
  reinvert_and_recompute();
  if (status_code != STATUS_OK) return;
  write_solution_file(SOLUTION_RECOMPUTED);
}

}  // namespace

void csv_reset(CsvRecord& record) { record.line.clear(); }

void csv_add_real(CsvRecord& record, double value, int32_t width) {
  if (std::fabs(value) <= dcv(dc::ZTOLPZ)) value = 0.0;
  char field[kCsvRealWidth];
  format_double_field(value, field);
  width = std::clamp(width, 0, kCsvRealWidth);
  record.line.append(field + kCsvRealWidth - width, static_cast<std::size_t>(width));
  record.line.push_back(kSeparator);
}

void csv_add_int(CsvRecord& record, int32_t value, int32_t width) {
  char field[kIntFieldRoom];
  const int32_t used = format_int_field6(value, field);
  // Characters cut off on the left must all be blanks: a number wider than
  // its field keeps every digit.
  int32_t first = used - std::clamp(width, 0, used);
  while (first > 0 && field[first - 1] != ' ') --first;
  record.line.append(field + first, static_cast<std::size_t>(used - first));
  record.line.push_back(kSeparator);
}

void csv_add_quoted_name(CsvRecord& record, const char* name) { csv_add_quoted_text(record, name, kNameLength); }

void csv_add_quoted_code(CsvRecord& record, const char* code) { csv_add_quoted_text(record, code, kCodeLength); }

void csv_add_quoted_text(CsvRecord& record, const char* text, int32_t n) {
  record.line.push_back(kQuote);
  csv_add_text(record, text, n);
  record.line.push_back(kQuote);
  record.line.push_back(kSeparator);
}

void csv_add_text(CsvRecord& record, const char* text, int32_t n) {
  if (text != nullptr && n > 0) record.line.append(text, static_cast<std::size_t>(n));
}

void csv_write_record(CsvRecord& record) {
  if (!record.line.empty() && record.line.back() == kSeparator) record.line.pop_back();
  const bool was_open = text_file_stack.output_level != 0;
  write_text_line(record.line.data(), static_cast<int32_t>(record.line.size()));
  if (was_open && text_file_stack.output_level == 0 && status_code == STATUS_OK) status_code = STATUS_FILE_ERROR;
  csv_reset(record);
}

bool match_name_mask(const char* mask, const char* name) {
  for (int32_t k = 0; k < kNameLength; ++k) {
    const char m = mask[k];
    const int32_t letter = letter_class_index(name[k]);
    if (m == '?') continue;
    if (m == '+') {
      if (letter < 1 || letter > 26) return false;
    } else if (m == '-') {
      if (letter < 27) return false;
    } else if (m != name[k]) {
      return false;
    }
  }
  return true;
}

bool write_ascii_header() {
  if (read_solution_header() != 0) {
    begin_message(MSG_ASCII_HEADER_UNREADABLE);
    emit_message();
    return false;
  }
  const SolutionHeaderCopy& h = solution_header_copy;
  CsvRecord record;
  csv_add_quoted_name(record, h.problem_name);
  csv_add_int(record, h.rows, kCsvIntWidthShort);
  // The file's own column count: nseq - nrow would count spare row
  // positions of the current problem as columns.
  csv_add_int(record, h.columns, kCsvIntWidthLong);
  csv_add_int(record, h.objective_row, kCsvIntWidthShort);
  csv_add_quoted_text(record, &h.status_letter, 1);
  csv_add_int(record, h.sense_code, kCsvIntWidthShort);
  csv_add_int(record, h.itcnt, kCsvIntWidthLong);
  csv_add_int(record, h.ninf, kCsvIntWidthShort);
  csv_add_real(record, h.objective_value, kCsvRealWidth);
  csv_add_real(record, h.sum_infeasibilities, kCsvRealWidth);
  csv_add_quoted_name(record, h.objective_name);
  csv_add_quoted_name(record, h.rhs_name);
  csv_add_int(record, h.search_byte, kCsvIntWidthShort);
  csv_add_int(record, h.reserved_byte, kCsvIntWidthShort);
  csv_write_record(record);
  return true;
}

void write_ascii_solution(const std::string& analysis_file) {
  const FieldChoice fields = value_fields();
  const SolutionHeaderCopy& h = solution_header_copy;
  std::vector<double> analysis;
  if (fields.has('p') && !read_analysis_values(analysis_file, h.nseq, analysis)) return;

  const char* mask = character_controls[cc::ASCMSK];
  const double zero = dcv(dc::ZTOLPZ);
  const int32_t records = h.rows + h.columns;
  CsvRecord record;
  for (int32_t k = 1; k <= records; ++k) {
    int32_t error = 0;
    read_solution_status(solution_record_position(k), error);
    if (error != 0) {
      begin_message(MSG_SOLUTION_FILE_ERROR);
      emit_message();
      return;
    }
    const SolutionLine& line = solution_line;
    const double activity = k <= h.rows ? line.activity : line.value;
    if (fields.has(kNonzeroOnlyLetter) && std::fabs(activity) <= zero) continue;
    if (!match_name_mask(mask, line.name)) continue;
    for (const char* c = kValueFieldOrder; *c != '\0'; ++c)
      if (fields.has(*c)) add_value_field(record, *c, k, analysis);
    csv_write_record(record);
    if (status_code != STATUS_OK) return;
  }
}

void write_solution_ascii() {
  begin_body();
  const bool every_pass = option_set(kEveryPassLetter);
  const std::string argument = text_files_argument();
  const std::string analysis_file = make_work_file_name(EXT_ANA);

  for (int32_t pass = 1;; ++pass) {
    const PassExtensions ext = pass_extensions(pass);
    const std::string binary = make_work_file_name(ext.binary.c_str());
    save_problem_name();
    bool opened = open_binary_quietly(binary);
    if (!opened && pass == 1 && problem_state >= 1) {
      write_missing_solution_file();
      opened = open_binary_quietly(binary);
    }
    if (!opened) {
      restore_problem_name();
      if (pass == 1) report_plain_error(MSG_NO_PROBLEM);
      break;
    }
    if (!argument.empty()) {
      // Every pass names its text files after the same word; a dropped
      // extension is reported once.
      set_command_argument(argument.c_str());
      if (pass == 1) {
        problem_command();
      } else {
        parse_problem_name();
      }
    }
    if (status_code == STATUS_OK) convert_pass(ext, analysis_file);
    close_work_file();
    restore_problem_name();
    if (status_code != STATUS_OK || !every_pass || last_pass(pass)) break;
  }
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

bool match_range_name_mask(const char* mask, const char* name) {
  for (int32_t k = 0; k < kNameLength; ++k)
    if (mask[k] != '?' && mask[k] != name[k]) return false;
  return true;
}

void write_ascii_ranging() {
  FieldChoice fields;
  bool any_field = false;
  for (char c = 'a'; c <= 'z'; ++c) {
    fields.letter[c - 'a'] = option_set(c);
    any_field = any_field || option_set(c);
  }
  if (!any_field)
    for (bool& b : fields.letter) b = true;

  const SolutionHeaderCopy& h = solution_header_copy;
  const int32_t records = h.rows + h.columns;
  std::vector<RangeLine> lines;
  if (!read_all_range_lines(lines)) return;

  static const char kBlankName[kNameLength + 1] = "        ";
  const char* mask = character_controls[cc::ASCMSK];
  CsvRecord record;
  for (int32_t k = 1; k <= records; ++k) {
    const RangeLine& line = lines[static_cast<std::size_t>(k)];
    if (!match_range_name_mask(mask, line.name)) continue;
    const bool row = k <= h.rows;
    if (fields.has('s')) csv_add_int(record, k, kCsvIntWidthLong);
    if (fields.has('n')) csv_add_quoted_name(record, line.name);
    if (fields.has('t')) csv_add_quoted_text(record, &line.class_letter, 1);
    if (fields.has('b')) csv_add_quoted_code(record, line.code);
    if (fields.has('a')) csv_add_real(record, line.activity, kCsvRealWidth);
    if (fields.has('c')) csv_add_real(record, row ? line.slack : line.cost, kCsvRealWidth);
    for (int32_t side = 0; side < 2; ++side) {
      csv_add_real(record, side == 0 ? line.lower_activity : line.upper_activity, kCsvRealWidth);
      csv_add_real(record, line.unit_cost[side], kCsvRealWidth);
      csv_add_real(record, row ? 0.0 : line.cost_limit[side], kCsvRealWidth);
      const int32_t limiting = line.limiting[side];
      const int32_t which = limiting < 0 ? -limiting : limiting;
      // A limiting number outside the file names no record.
      const bool known = which >= 1 && which <= records;
      csv_add_quoted_name(record, known ? lines[static_cast<std::size_t>(which)].name : kBlankName);
      csv_add_quoted_code(record, !known ? "  " : (limiting < 0 ? "UL" : "LL"));
    }
    csv_write_record(record);
    if (status_code != STATUS_OK) return;
  }
}

void write_ranging_ascii() {
  begin_body();
  save_problem_name();
  const std::string binary = make_work_file_name(EXT_RNG);
  if (problem_state < 1 || !open_binary_quietly(binary)) {
    restore_problem_name();
    report_plain_error(MSG_NO_PROBLEM);
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  const std::string argument = text_files_argument();
  if (!argument.empty()) {
    set_command_argument(argument.c_str());
    problem_command();
  }
  if (status_code == STATUS_OK && open_text_file(make_work_file_name(EXT_HDR))) {
    const bool header_written = write_ascii_header();
    close_text_file_checked();
    if (!header_written && status_code == STATUS_OK) status_code = STATUS_REPORTED;
  }
  if (status_code == STATUS_OK && open_text_file(make_work_file_name("rsc"))) {
    write_ascii_ranging();
    close_text_file_checked();
  }
  close_work_file();
  restore_problem_name();
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
