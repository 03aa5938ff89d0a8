#include "files/alter_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/change_problem.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/sink.h"
#include "runtime/text_io.h"

namespace kl {
namespace {

// Fixed field starts (1-based columns) of the MPS-like lines.
constexpr int32_t kFieldStart[7] = {0, 2, 5, 15, 25, 40, 50};
constexpr int32_t kValueWidth = 12;
// Characters of a bad line echoed in its message.
constexpr int32_t kEchoedChars = 72;

enum class Section { kNone, kName, kColumns, kBounds, kEndata, kTriplets };

// The row items that stand for a bound of the column.
bool is_upper_item(const std::string& name) { return name.compare(0, 4, "**UP") == 0; }
bool is_lower_item(const std::string& name) { return name.compare(0, 4, "**LO") == 0; }

// -1 when the first three characters are equal, else 0.
int32_t equal_values(const char* a, const char* b) { return std::strncmp(a, b, 3) == 0 ? -1 : 0; }

class AlterRun {
 public:
  explicit AlterRun(bool from_file)
      : from_file_(from_file), free_fields_(icv(ic::FREFMT) != 0), width_(8 * std::max(name_words, 1)) {}

  void run() {
    while (!stopped_) {
      if (!from_file_) {
        read_console_triplet();
        continue;
      }
      if (!next_file_line()) break;
      if (line_number_ == 1 && !is_header_word("NAME")) section_ = Section::kTriplets;
      if (section_ == Section::kTriplets) {
        if (blank(line_) || is_header_word("ENDA")) break;
        take_triplet_item(first_token(line_));
        continue;
      }
      if (!line_.empty() && line_[0] != ' ' && line_[0] != '\t') {
        if (!take_header()) continue;
        if (section_ == Section::kEndata) break;
        continue;
      }
      if (blank(line_)) continue;
      take_data_line();
    }
    finish();
  }

  int32_t status() const { return status_; }

 private:
  // ---- input

  bool next_file_line() {
    char buffer[kTextLineMax];
    int32_t count = 0;
    int32_t error = 0;
    read_text_line(buffer, count, error);
    if (error != 0) return false;
    ++line_number_;
    line_.assign(buffer, static_cast<size_t>(count));
    while (!line_.empty() && (line_.back() == ' ' || line_.back() == '\t' || line_.back() == '\r')) line_.pop_back();
    return true;
  }

  static bool blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

  static std::vector<std::string> tokens(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
      if (i >= s.size()) break;
      size_t j = i;
      while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
      out.push_back(s.substr(i, j - i));
      i = j;
    }
    return out;
  }

  static std::string first_token(const std::string& s) {
    std::vector<std::string> t = tokens(s);
    return t.empty() ? std::string() : t[0];
  }

  bool is_header_word(const char* word) const { return line_.compare(0, 4, word) == 0; }

  // Field n (1..6) of the current data line; empty when the line ends
  // before it. Names keep name_words x 8 characters in fixed fields.
  std::string field(int32_t n, bool columns_line) const {
    if (free_fields_) {
      std::vector<std::string> t = tokens(line_);
      const size_t index = static_cast<size_t>(n - (columns_line ? 2 : 1));
      return index < t.size() ? t[index] : std::string();
    }
    const size_t start = static_cast<size_t>(kFieldStart[n] - 1);
    if (start >= line_.size()) return std::string();
    const size_t length = (n == 4 || n == 6) ? kValueWidth : static_cast<size_t>(n == 1 ? 2 : width_);
    std::string f = line_.substr(start, length);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t')) f.pop_back();
    return f;
  }

  std::string padded(const std::string& name) const {
    std::string key = name.substr(0, static_cast<size_t>(width_));
    key.resize(static_cast<size_t>(width_), ' ');
    return key;
  }

  // The value of a field or token; false when it is not a number.
  static bool parse_value(const std::string& text, double& v) {
    if (blank(text)) return false;
    char buffer[kTextLineMax];
    std::memset(buffer, ' ', sizeof buffer);
    std::memcpy(buffer, text.data(), std::min(text.size(), sizeof buffer - 1));
    buffer[sizeof buffer - 1] = '\0';
    const int32_t kept_status = status_code;
    status_code = 0;
    v = parse_real_field(buffer);
    const bool ok = status_code == 0;
    status_code = kept_status;
    return ok;
  }

  // ---- diagnostics

  std::string where() const {
    if (!from_file_) return "console";
    return "line " + std::to_string(line_number_);
  }

  void report_bad_line() {
    begin_message_limited(MSG_MPS_BAD_LINE);
    const std::string text = where() + ": " + line_.substr(0, kEchoedChars);
    insert_message_string(text.c_str());
    emit_message();
    status_ = STATUS_REPORTED;
  }

  void report_name(int32_t message, const std::string& name) {
    begin_message_limited(message);
    const std::string text = first_token(padded(name)) + ", " + where();
    insert_message_string(text.c_str());
    emit_message();
  }

  // Message 127 also serves the solution file's header, so the kind of
  // name and the place go into its insert.
  void report_not_found(const char* kind, const std::string& name) {
    begin_message_limited(MSG_ASCII_HEADER_UNREADABLE);
    const std::string text = std::string(": ") + kind + " " + first_token(padded(name)) + ", " + where() + "; change dropped";
    insert_message_string(text.c_str());
    emit_message();
  }

  // ---- sections

  // Takes a header line; false when it is bad (reported).
  bool take_header() {
    Section next = Section::kNone;
    if (is_header_word("NAME")) next = Section::kName;
    else if (is_header_word("COLU")) next = Section::kColumns;
    else if (is_header_word("BOUN")) next = Section::kBounds;
    else if (is_header_word("ENDA")) next = Section::kEndata;
    bool in_order = false;
    switch (next) {
      case Section::kName: in_order = section_ == Section::kNone; break;
      case Section::kColumns: in_order = section_ == Section::kName || section_ == Section::kBounds; break;
      case Section::kBounds: in_order = section_ == Section::kColumns; break;
      case Section::kEndata: in_order = section_ == Section::kColumns || section_ == Section::kBounds; break;
      default: break;
    }
    if (!in_order) {
      report_bad_line();
      return false;
    }
    section_ = next;
    modify_seen_ = false;
    skip_section_ = false;
    return true;
  }

  bool is_modify_line() const {
    if (free_fields_) {
      std::vector<std::string> t = tokens(line_);
      return t.size() == 1 && t[0] == "MODIFY";
    }
    return line_.compare(0, 8, "  MODIFY") == 0 && blank(line_.substr(8));
  }

  void take_data_line() {
    if (skip_section_) return;
    if (section_ != Section::kColumns && section_ != Section::kBounds) {
      report_bad_line();
      return;
    }
    if (!modify_seen_) {
      // Without its MODIFY line a section's changes are not taken.
      if (is_modify_line()) {
        modify_seen_ = true;
      } else {
        report_bad_line();
        skip_section_ = true;
      }
      return;
    }
    if (section_ == Section::kColumns) {
      const std::string column = field(2, true);
      for (int32_t pair = 0; pair < 2; ++pair) {
        const std::string row = field(3 + 2 * pair, true);
        if (pair == 1 && row.empty()) break;
        double v = 0.0;
        if (row.empty() || column.empty() || !parse_value(field(4 + 2 * pair, true), v)) {
          report_bad_line();
          return;
        }
        apply(row, column, v);
        if (stopped_) return;
      }
      return;
    }
    const std::string kind = field(1, false);
    const std::string column = field(3, false);
    double v = 0.0;
    const bool up = equal_values(padded(kind).c_str(), "UP ") != 0;
    const bool lo = equal_values(padded(kind).c_str(), "LO ") != 0;
    if ((!up && !lo) || column.empty() || !parse_value(field(4, false), v)) {
      report_bad_line();
      return;
    }
    apply(up ? "**UP" : "**LO", column, v);
  }

  // ---- triplets

  // One item of a triplet, in the order row, column, value.
  void take_triplet_item(const std::string& item) {
    switch (triplet_item_) {
      case 0:
        triplet_row_ = item;
        triplet_item_ = 1;
        return;
      case 1:
        triplet_item_ = 0;
        if (item.compare(0, 4, "**NT") == 0) {
          change_row_type(triplet_row_, item.size() > 4 ? item[4] : type_letter_after_nt());
          return;
        }
        triplet_column_ = item;
        triplet_item_ = 2;
        return;
      default: {
        triplet_item_ = 0;
        double v = 0.0;
        if (!parse_value(item, v)) {
          report_bad_line();
          return;
        }
        apply(triplet_row_, triplet_column_, v);
        return;
      }
    }
  }

  // "**NT E": the letter as a token of its own.
  char type_letter_after_nt() const {
    std::vector<std::string> t = tokens(line_);
    return t.size() > 1 && !t[1].empty() ? t[1][0] : ' ';
  }

  // One triplet from the console: an empty row ends the run; a value that is
  // not a number is asked for again.
  void read_console_triplet() {
    std::string row;
    std::string column;
    if (!ask("ROW?", row) || blank(row)) {
      stopped_ = true;
      return;
    }
    if (!ask("COL?", column)) {
      stopped_ = true;
      return;
    }
    row = first_token(row);
    column = first_token(line_);
    if (column.compare(0, 4, "**NT") == 0) {
      change_row_type(row, column.size() > 4 ? column[4] : type_letter_after_nt());
      return;
    }
    for (;;) {
      std::string value;
      if (!ask("VAL?", value)) {
        stopped_ = true;
        return;
      }
      double v = 0.0;
      if (parse_value(first_token(value), v)) {
        apply(row, column, v);
        return;
      }
      begin_message_limited(MSG_BAD_REAL_VALUE);
      insert_message_string(first_token(value).c_str());
      emit_message();
    }
  }

  bool ask(const char* prompt, std::string& answer) {
    write_message_text(prompt, static_cast<int32_t>(std::strlen(prompt)));
    char buffer[kTextLineMax] = {};
    int32_t length = 0;
    if (!read_console_line(buffer, kTextLineMax - 1, length) || length < 0) return false;
    line_.assign(buffer, static_cast<size_t>(std::min(length, kTextLineMax - 1)));
    answer = line_;
    return true;
  }

  // ---- names

  // Row and column names by position, entered once; the first of a name
  // given twice wins, as a scan would find it.
  void build_name_index() {
    if (index_built_) return;
    index_built_ = true;
    for (int32_t r = 1; r <= nrow; ++r) rows_.emplace(std::string(position_name(r), width_), r);
    for (int32_t p = store.first_col; p <= nseq; ++p) columns_.emplace(std::string(position_name(p), width_), p);
  }

  int32_t find_row(const std::string& name) {
    build_name_index();
    auto it = rows_.find(padded(name));
    return it == rows_.end() ? 0 : it->second;
  }

  int32_t find_column(const std::string& name) {
    build_name_index();
    auto it = columns_.find(padded(name));
    return it == columns_.end() ? 0 : it->second;
  }

  // A new column in the next spare position: no entries, cost 0, bounds
  // [0, +inf], unscaled. Only in a section, and only into spare room kept
  // at load. 0 when there is none.
  int32_t add_spare_column(const std::string& name) {
    if (section_ == Section::kTriplets || !from_file_ || spare_cols_left < 1) return 0;
    const double zero = 0.0;
    const double infinite = kInfinity;
    const int32_t start = 0;
    const int32_t no_row = 0;
    const double no_value = 0.0;
    addcol(1, 0, &zero, &start, &no_row, &no_value, &zero, &infinite);
    if (status_code != 0) return 0;
    const std::string key = padded(name);
    const int32_t caller_index = col_to_caller(nseq);
    const std::string text = key + std::string(1, '\0');
    addnames(2, text.c_str(), caller_index, caller_index);
    if (status_code != 0) return 0;
    columns_.emplace(key, nseq);
    return nseq;
  }

  // ---- changes

  // The store's change bodies start their own status; ours is kept apart.
  bool store_accepted() {
    const bool ok = status_code == 0;
    if (!ok) status_ = STATUS_REPORTED;
    status_code = 0;
    return ok;
  }

  void change_row_type(const std::string& row_name, char letter) {
    const int32_t r = find_row(row_name);
    if (r == 0) {
      report_not_found("row", row_name);
      return;
    }
    if (letter != 'N' && letter != 'L' && letter != 'E' && letter != 'G') {
      report_name(MSG_ALTER_BAD_ROW_TYPE, row_name);
      return;
    }
    const int32_t caller_row = row_to_caller(r);
    chgrowtype(1, &caller_row, &letter);
    store_accepted();
  }

  void apply(const std::string& row_name, const std::string& column_name, double v) {
    const bool upper = is_upper_item(row_name);
    const bool lower = is_lower_item(row_name);
    int32_t r = 0;
    if (!upper && !lower) {
      r = find_row(row_name);
      if (r == 0) {
        report_not_found("row", row_name);
        return;
      }
      const char* rhs_name = character_attributes[4];
      if (!blank(std::string(rhs_name, 8)) && padded(column_name) == padded(std::string(rhs_name, 8))) {
        change_rhs(r, v);
        return;
      }
    }
    int32_t p = find_column(column_name);
    if (p == 0) p = add_spare_column(column_name);
    if (p == 0) {
      report_not_found("column", column_name);
      return;
    }
    if (upper || lower) {
      change_bound(p, upper, v, column_name);
      return;
    }
    if (r == store.objective_row) change_cost(p, v);
    change_coefficient(r, p, v);
  }

  void change_rhs(int32_t r, double v) {
    const int32_t objective_row = store.objective_row;
    const int32_t caller_row = row_to_caller(r);
    chgrhs(1, &caller_row, &v);
    store.objective_row = objective_row;
    store_accepted();
  }

  void change_bound(int32_t p, bool upper, double v, const std::string& name) {
    const uint32_t word = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]);
    if ((word & PS_ENTITY) != 0) {
      report_name(MSG_ALTER_BOUND_ON_ENTITY, name);
      return;
    }
    // The other bound in the caller's terms.
    const double factor = scale_powers[scale_exponent(static_cast<int32_t>(word))];
    const double other = upper ? real_array(ARR_LOWER)[p] : real_array(ARR_UPPER)[p];
    const double other_given = std::fabs(other) >= kInfiniteBound ? other : other * factor;
    if ((upper && v < other_given) || (!upper && v > other_given)) {
      begin_message_limited(MSG_LOAD_CROSSED_BOUNDS);
      insert_message_string(padded(name).c_str());
      emit_message();
      return;
    }
    const int32_t caller_column = col_to_caller(p);
    const char letter = upper ? 'U' : 'L';
    chgbds(1, &caller_column, &letter, &v);
    store_accepted();
  }

  void change_cost(int32_t p, double v) {
    const int32_t caller_column = col_to_caller(p);
    const double cost = v * scale_power(static_cast<uint32_t>(objective_scale_exponent));
    chgobj(1, &caller_column, &cost);
    store_accepted();
  }

  void change_coefficient(int32_t r, int32_t p, double v) {
    const bool negligible = std::fabs(v) <= dcv(dc::ZTOLDA);
    if (find_in_column(p, r) == 0) {
      if (negligible) return;
      // Only the element room kept at load: an ALTER file never grows it.
      if (spare_elems_left < 1) {
        report_error(MSG_NO_ELEMENT_SPACE, 1, "alter   ");
        status_ = STATUS_REPORTED;
        stopped_ = true;
        return;
      }
    }
    // Both the objective row's entries and its costs follow, so the row
    // stays the objective.
    const int32_t objective_row = store.objective_row;
    chgcof(row_to_caller(r), col_to_caller(p), negligible ? 0.0 : v);
    store.objective_row = objective_row;
    store_accepted();
  }

  void finish() {
    // Entries set to zero were removed as they went; the row copy is
    // rebuilt so that readers of either copy see the changes.
    if ((problem_flags & PF_ROW_COPY) == 0 && (problem_flags & PF_WORK_ARRAYS) != 0) build_row_copy();
    status_code = status_;
  }

  bool from_file_;
  bool free_fields_;
  int32_t width_;
  Section section_ = Section::kNone;
  bool modify_seen_ = false;
  bool skip_section_ = false;
  bool stopped_ = false;
  int32_t line_number_ = 0;
  int32_t status_ = 0;
  std::string line_;
  int32_t triplet_item_ = 0;
  std::string triplet_row_;
  std::string triplet_column_;
  bool index_built_ = false;
  std::unordered_map<std::string, int32_t> rows_;
  std::unordered_map<std::string, int32_t> columns_;
};

}  // namespace

void alter_prepare() {
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  if ((problem_flags & PF_ROW_COPY) == 0 && (problem_flags & PF_WORK_ARRAYS) != 0) build_row_copy();
}

void alter(int32_t from_file) {
  AlterRun run(from_file != 0);
  run.run();
}

}  // namespace kl
