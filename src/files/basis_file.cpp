// Writer and readers of the basis file and of the compact basis file.
#include "files/basis_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/record_fields.h"
#include "files/solution_text.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/options.h"
#include "runtime/text_io.h"

namespace kl {
namespace {

// State codes of the writer.
enum StateCode : int32_t { CODE_AT_LOWER = 1, CODE_BASIC = 3, CODE_AT_UPPER = 4 };

constexpr int32_t kLineColumns = 200;
constexpr int32_t kMaxFields = 6;
constexpr int32_t kFixedFieldStart[kMaxFields + 2] = {0, 2, 5, 15, 25, 40, 50, 200};
constexpr int32_t kCompactLineWidth = 80;
constexpr int32_t kCompactCountWidth = 12;

int32_t key_length() { return 8 * (name_words > 0 ? name_words : 1); }

std::string position_name(int32_t p) {
  const char* table = name_array(ARR_NAME_TABLE);
  if (table == nullptr) return std::string(static_cast<size_t>(key_length()), ' ');
  return std::string(table + static_cast<size_t>(p - 1) * static_cast<size_t>(key_length()),
                     static_cast<size_t>(key_length()));
}

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }

int32_t state_code(int32_t p) {
  const uint32_t s = status_of(p);
  if ((s & PS_BASIC) != 0) return CODE_BASIC;
  return (s & PS_AT_UPPER) != 0 ? CODE_AT_UPPER : CODE_AT_LOWER;
}

bool two_sided(uint32_t s) { return (s & PS_BOTH_FINITE) == PS_BOTH_FINITE; }

void write_line(const std::string& text) {
  CsvRecord record;
  csv_add_text(record, text.data(), static_cast<int32_t>(text.size()));
  csv_write_record(record);
}

void leave_command_line_empty() {
  command_line.text.clear();
  command_line.length = 0;
  command_line.position = 1;
}

// A line split into fields: field k is line[start[k]-1 .. start[k+1]-3],
// the column before the next field's start being its end mark.
struct SplitLine {
  std::string line;
  int32_t start[kMaxFields + 2] = {};
  int32_t fields = 0;

  std::string field(int32_t k) const {
    if (k < 1 || k > fields) return std::string();
    const int32_t from = start[k] - 1;
    const int32_t to = std::min<int32_t>(start[k + 1] - 2, static_cast<int32_t>(line.size()));
    return from < to ? line.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)) : std::string();
  }
};

void split_fixed(SplitLine& s) {
  s.line.resize(kLineColumns, ' ');
  s.fields = kMaxFields;
  for (int32_t k = 1; k <= kMaxFields + 1; ++k) s.start[k] = kFixedFieldStart[k];
}

// Free fields: runs of non-blanks, at most six. A line that starts in
// column 1 is read as if indented by one column, so that its code stands in
// columns 2 and 3 like the writer's lines and its names stay whole.
void split_free(SplitLine& s) {
  s.fields = split_free_record(s.line, s.start, kMaxFields);
  if (s.line.size() < 4) s.line.resize(4, ' ');
}

// The key of a name field: its characters, blank padded (or cut) to the
// stored name length.
std::string name_key(const std::string& field) {
  std::string key = field.substr(0, static_cast<size_t>(key_length()));
  key.resize(static_cast<size_t>(key_length()), ' ');
  return key;
}

void report_line(int32_t message, int32_t line, const std::string& text) {
  begin_message(message);
  insert_message_int(line);
  insert_message_chars(text.data(), static_cast<int32_t>(text.size()));
  emit_message();
}

// The column-not-found and infinite-bound reports share their numbers with
// other areas' reports, so their texts are general and the details go into
// the inserts.
void report_column_not_found(const std::string& name) {
  begin_message(MSG_QOBJ_BAD_COLUMN);
  insert_message_chars(name.data(), static_cast<int32_t>(name.size()));
  emit_message();
}

void report_infinite_bound(int32_t line, const std::string& name) {
  const std::string shown = name.substr(0, name.find_last_not_of(' ') + 1);
  const std::string detail = ": basis file line " + std::to_string(line) + ", " + shown + "; line ignored";
  begin_message(MSG_SOLUTION_HEADER_UNREADABLE);
  insert_message_chars(detail.data(), static_cast<int32_t>(detail.size()));
  emit_message();
}

class BasisReader {
 public:
  explicit BasisReader(bool exchange) : exchange_(exchange) {
    const int32_t frefmt = icv(ic::FREFMT);
    fixed_ = !(frefmt > 0 || frefmt < -1 || (frefmt == -1 && name_words > 1));
  }

  bool read() {
    build_lookup();
    set_start_state();
    for (;;) {
      char buffer[kTextLineMax + 1];
      std::memset(buffer, ' ', sizeof buffer);
      int32_t count = 0;
      int32_t error = 0;
      read_text_line(buffer, count, error);
      if (error < 0) return true;
      if (error > 0) {
        begin_message(MSG_DIRECTIVES_READ_FAILED);
        insert_message_int(line_number_);
        emit_message();
        status_code = STATUS_REPORTED;
        return false;
      }
      ++line_number_;
      SplitLine s;
      s.line.assign(buffer, static_cast<size_t>(count));
      if (s.line.compare(0, 4, "ENDA") == 0) return true;
      if (count == 0 || s.line.compare(0, 4, "NAME") == 0) continue;
      if (fixed_) split_fixed(s);
      else split_free(s);
      read_record(s);
    }
  }

 private:
  void build_lookup() {
    for (int32_t i = 1; i < store.first_col; ++i) rows_.emplace(position_name(i), i);
    for (int32_t j = store.first_col; j <= nseq; ++j) columns_.emplace(position_name(j), j);
  }

  static int32_t find(const std::unordered_map<std::string, int32_t>& map, const std::string& field) {
    const auto it = map.find(name_key(field));
    return it == map.end() ? 0 : it->second;
  }

  void set_start_state() {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t i = 1; i < store.first_col; ++i) {
      status[i] = static_cast<int32_t>((static_cast<uint32_t>(status[i]) & ~PS_AT_UPPER) | PS_BASIC);
      header[i] = i;
    }
    for (int32_t j = store.first_col; j <= nseq; ++j)
      status[j] = static_cast<int32_t>(static_cast<uint32_t>(status[j]) & ~(PS_BASIC | PS_AT_UPPER));
  }

  void read_record(const SplitLine& s) {
    const std::string code = s.line.substr(0, 4);
    const bool ul = code == " UL ";
    const bool xl = code == " XL ";
    const bool xu = code == " XU ";
    if (!ul && !xl && !xu) {
      report_line(MSG_BASIS_UNKNOWN_RECORD, line_number_, s.line.substr(1, 2));
      return;
    }
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    const std::string column_field = s.field(2);
    const int32_t j = find(columns_, column_field);
    if (j == 0) {
      report_column_not_found(column_field);
      return;
    }
    if (ul) {
      if (upper[j] >= kInfinity) {
        report_infinite_bound(line_number_, column_field);
        return;
      }
      status[j] |= PS_AT_UPPER;
      return;
    }
    const std::string row_field = s.field(3);
    const int32_t i = find(rows_, row_field);
    if (i == 0) {
      report_line(MSG_BASIS_ROW_NOT_FOUND, line_number_, row_field);
      return;
    }
    const uint32_t row_status = static_cast<uint32_t>(status[i]);
    if ((row_status & PS_FREE) != 0) return;
    bool at_upper = xu;
    if (exchange_ && two_sided(row_status)) at_upper = !at_upper;
    if (at_upper) {
      if (upper[i] >= kInfinity) {
        report_infinite_bound(line_number_, row_field);
        return;
      }
      status[i] |= PS_AT_UPPER;
    } else {
      status[i] &= ~PS_AT_UPPER;
      if (lower[i] <= -kInfinity) {
        report_infinite_bound(line_number_, row_field);
        return;
      }
    }
    status[i] &= ~PS_BASIC;
    status[j] |= PS_BASIC;
    int_array(ARR_BASIS_HEADER)[i] = j;
  }

  bool exchange_;
  bool fixed_ = true;
  int32_t line_number_ = 0;
  std::unordered_map<std::string, int32_t> rows_;
  std::unordered_map<std::string, int32_t> columns_;
};

// A signed integer in a field, blanks ignored; false for anything else.
bool parse_count(const std::string& field, int32_t& value) {
  std::string digits;
  for (char c : field)
    if (c != ' ') digits.push_back(c);
  size_t k = 0;
  bool negative = false;
  if (k < digits.size() && (digits[k] == '+' || digits[k] == '-')) negative = digits[k++] == '-';
  if (k == digits.size() || digits.size() - k > 9) return false;
  int32_t v = 0;
  for (; k < digits.size(); ++k) {
    if (std::isdigit(static_cast<unsigned char>(digits[k])) == 0) return false;
    v = v * 10 + (digits[k] - '0');
  }
  value = negative ? -v : v;
  return true;
}

std::string right_aligned(int32_t value, int32_t width) {
  std::string text = std::to_string(value);
  if (static_cast<int32_t>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

void after_basis_read() {
  icv(ic::IFNBAS) = 1;
  // The factor and the solution belong to the basis just replaced.
  problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT | PF_NO_BASIS);
}

}  // namespace

void write_basis_file(bool exchange_two_sided) {
  int32_t counters[5] = {};
  std::vector<int32_t> nonbasic_rows;
  std::vector<int32_t> row_codes;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t code = state_code(i);
    ++counters[code];
    if (code == CODE_BASIC) continue;
    nonbasic_rows.push_back(i);
    const bool exchange = exchange_two_sided && two_sided(status_of(i));
    row_codes.push_back(exchange ? 5 - code : code);
  }
  const bool named = icv(ic::IFBSNM) != 0;
  if (named) {
    write_line("NAME          " + std::string(character_attributes[1], 8));
    if (status_code != STATUS_OK) return;
  }
  std::vector<int32_t> basic_columns;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t code = state_code(j);
    if (code == CODE_BASIC) {
      basic_columns.push_back(j);
    } else if (code == CODE_AT_UPPER) {
      write_line(" UL " + position_name(j));
      if (status_code != STATUS_OK) return;
    }
  }
  if (nonbasic_rows.size() != basic_columns.size()) {
    begin_message(MSG_BASIS_PAIRS_UNEVEN);
    insert_message_value12(static_cast<int32_t>(nonbasic_rows.size()));
    insert_message_value12(static_cast<int32_t>(basic_columns.size()));
    for (int32_t code = 1; code <= 4; ++code) insert_message_int(counters[code]);
    emit_message();
    // The file describes no basis: the caller must not take it for one.
    status_code = STATUS_REPORTED;
    return;
  }
  for (size_t k = 0; k < basic_columns.size(); ++k) {
    const char letter = row_codes[k] == CODE_AT_LOWER ? 'L' : 'U';
    write_line(std::string(" X") + letter + " " + position_name(basic_columns[k]) + "  " +
               position_name(nonbasic_rows[k]));
    if (status_code != STATUS_OK) return;
  }
  if (named) write_line("ENDATA");
}

void read_basis_file(bool exchange_two_sided) {
  // A read that fails part way gives the basis back as it was found.
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  const std::vector<int32_t> kept_status(&status[1], &status[1] + nseq);
  const std::vector<int32_t> kept_header(&header[1], &header[1] + (store.first_col - 1));
  BasisReader reader(exchange_two_sided);
  if (reader.read()) {
    after_basis_read();
  } else {
    std::copy(kept_status.begin(), kept_status.end(), &status[1]);
    std::copy(kept_header.begin(), kept_header.end(), &header[1]);
  }
  leave_command_line_empty();
}

void write_compact_basis() {
  write_line(std::string(character_attributes[1], 8) + right_aligned(nrow, kCompactCountWidth) + "," +
             right_aligned(nseq - nrow, kCompactCountWidth));
  if (status_code != STATUS_OK) return;
  std::string line;
  const auto put = [&](int32_t p) {
    const uint32_t s = status_of(p);
    line.push_back((s & PS_AT_UPPER) != 0 ? '2' : (s & PS_BASIC) != 0 ? '3' : '1');
    if (static_cast<int32_t>(line.size()) == kCompactLineWidth) {
      write_line(line);
      line.clear();
    }
  };
  for (int32_t i = 1; i <= nrow && status_code == STATUS_OK; ++i) put(i);
  for (int32_t j = store.first_col; j <= nseq && status_code == STATUS_OK; ++j) put(j);
  if (!line.empty() && status_code == STATUS_OK) {
    line.resize(kCompactLineWidth, ' ');
    write_line(line);
  }
}

void read_compact_basis() {
  leave_command_line_empty();
  const int32_t wanted = nrow + (nseq - store.first_col + 1);
  std::string codes;
  int32_t lines = 0;
  const auto fail_read = [&]() {
    begin_message(MSG_DIRECTIVES_READ_FAILED);
    insert_message_int(lines);
    emit_message();
    status_code = STATUS_REPORTED;
  };
  std::string line;
  int32_t error = 0;
  read_text_line_whole(line, error);
  if (error != 0) {
    fail_read();
    return;
  }
  ++lines;
  line.resize(std::max<size_t>(line.size(), 33), ' ');
  int32_t rows = 0;
  int32_t others = 0;
  const bool counts_read = parse_count(line.substr(8, 12), rows) && parse_count(line.substr(21, 12), others);
  if (!counts_read || rows != nrow || others != nseq - nrow) {
    begin_message(MSG_BASIS_COMPACT_COUNTS);
    insert_message_int(counts_read ? rows : -1);
    insert_message_int(counts_read ? others : -1);
    insert_message_int(nrow);
    insert_message_int(nseq - nrow);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  // Every status is read before any is applied: a file that ends early or
  // fails leaves the basis as it was.
  while (static_cast<int32_t>(codes.size()) < wanted) {
    read_text_line_whole(line, error);
    if (error != 0) {
      fail_read();
      return;
    }
    ++lines;
    line.resize(kCompactLineWidth, ' ');
    const size_t take = std::min<size_t>(line.size(), static_cast<size_t>(wanted) - codes.size());
    codes.append(line, 0, take);
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const auto apply = [&](int32_t p, char c) {
    uint32_t s = static_cast<uint32_t>(status[p]) & ~(PS_BASIC | PS_AT_UPPER);
    if (c == '3') s |= PS_BASIC;
    else if (c == '2') s |= PS_AT_UPPER;
    status[p] = static_cast<int32_t>(s);
  };
  size_t k = 0;
  for (int32_t i = 1; i <= nrow; ++i) apply(i, codes[k++]);
  for (int32_t j = store.first_col; j <= nseq; ++j) apply(j, codes[k++]);
  after_basis_read();
}

}  // namespace kl
