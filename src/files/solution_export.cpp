// The sectioned export of the solution and range files (layout in
// solution_export.h).
#include "files/solution_export.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/options.h"
#include "runtime/units.h"

namespace kl {

namespace {

constexpr int32_t kField = 8;  // bytes of every data field and name
constexpr int32_t kHeaderFields = 21;
constexpr int32_t kHeaderRecordBytes = 200;
constexpr double kLimitClip = 1e9;

enum FieldType : int32_t { FIELD_INTEGER = 1, FIELD_CHARACTERS = 2, FIELD_REAL = 3 };

struct FieldDescriptor {
  const char* name;
  int32_t type;
  int32_t length;
};

constexpr FieldDescriptor kHeaderLayout[kHeaderFields] = {
    {"DATANAME", FIELD_CHARACTERS, 8}, {"PROBNAME", FIELD_CHARACTERS, 8}, {"OBJ", FIELD_CHARACTERS, 8},
    {"RHS", FIELD_CHARACTERS, 8},      {"PARAMROW", FIELD_CHARACTERS, 8}, {"CHROW", FIELD_CHARACTERS, 8},
    {"PARAMCOL", FIELD_CHARACTERS, 8}, {"CHCOL", FIELD_CHARACTERS, 8},    {"BOUNDS", FIELD_CHARACTERS, 8},
    {"RANGES", FIELD_CHARACTERS, 8},   {"FUNCTION", FIELD_REAL, 4},       {"PARAMVAL", FIELD_REAL, 4},
    {"PERTURBN", FIELD_REAL, 4},       {"ITERNO", FIELD_INTEGER, 4},      {"ROWS", FIELD_INTEGER, 4},
    {"COLUMNS", FIELD_INTEGER, 4},     {"METHOD", FIELD_CHARACTERS, 4},   {"TARGET", FIELD_CHARACTERS, 4},
    {"STATUS", FIELD_CHARACTERS, 4},   {"FLAGS", FIELD_CHARACTERS, 4},    {"TITLE", FIELD_CHARACTERS, 80},
};

// The eight candidate fields of the solution export, in file order.
struct SolutionField {
  char letter;
  const char* row_name;
  const char* column_name;
  int32_t type;
};
constexpr SolutionField kSolutionFields[] = {
    {'a', "ACTIVITY", "ACTIVITY", FIELD_REAL}, {'c', "SLACK", "ICOST", FIELD_REAL},
    {'l', "LLIMIT", "LLIMIT", FIELD_REAL},     {'u', "ULIMIT", "ULIMIT", FIELD_REAL},
    {'d', "DUALACT", "RCOST", FIELD_REAL},     {'s', "NUMBER", "NUMBER", FIELD_REAL},
    {'b', "STATUS", "STATUS", FIELD_CHARACTERS}, {'n', "NAME", "NAME", FIELD_CHARACTERS},
};

constexpr const char* kRangeRowFields[] = {"LOACT1",   "UPACT2",   "UPCOST1", "LOCOST2", "LIMPROC1",
                                           "LIMPROC2", "AT1",      "AT2",     "NAME"};
constexpr const char* kRangeColumnFields[] = {"LOACT1",   "UPACT2",   "UNCOST1", "UNCOST2", "UPCOST1", "LOCOST2",
                                              "LIMPROC1", "LIMPROC2", "AT1",     "AT2",     "NAME"};

// The export being written: bytes gathered per block and written as whole
// words to the unit; the first short write ends it.
class ExportStream {
 public:
  explicit ExportStream(int32_t unit) : unit_(unit) {}
  bool failed() const { return failed_; }

  void text(const char* s, int32_t width) {
    const std::size_t n = std::min<std::size_t>(std::strlen(s), static_cast<std::size_t>(width));
    bytes_.insert(bytes_.end(), s, s + n);
    bytes_.insert(bytes_.end(), static_cast<std::size_t>(width) - n, ' ');
  }
  void chars(const char* s, int32_t n) { bytes_.insert(bytes_.end(), s, s + n); }
  void blanks(int32_t n) { bytes_.insert(bytes_.end(), static_cast<std::size_t>(n), ' '); }
  void i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) bytes_.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  void f32(float x) {
    uint32_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    i32(static_cast<int32_t>(u));
  }
  void f64(double x) {
    uint64_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    for (int k = 0; k < 8; ++k) bytes_.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  // Writes what was gathered; false (after message 83) on a short write.
  bool flush() {
    if (failed_) return false;
    int32_t error = 0;
    write_unit_words(unit_, bytes_.data(), static_cast<int64_t>(bytes_.size() / 2), error);
    bytes_.clear();
    if (error != 0) {
      failed_ = true;
      begin_message(MSG_WRITE_FAILED);
      emit_message();
      status_code = STATUS_REPORTED;
    }
    return !failed_;
  }

 private:
  int32_t unit_;
  bool failed_ = false;
  std::vector<unsigned char> bytes_;
};

void end_of_section(ExportStream& out, int32_t bytes) {
  out.text("$ENDSEC$", kField);
  out.blanks(bytes - kField);
}

void section_card(ExportStream& out, const char* name, int32_t fields) {
  out.text(name, kField);
  out.i32(fields);
  out.i32(0);
}

const char* status_field(char letter) {
  switch (letter) {
    case 'O':
      return "OPTM";
    case 'N':
      return "NFES";
    case 'U':
      return "NOPT";
    default:
      // Nothing defined for the other letters: blanks, never a value left by
      // an earlier export.
      return "    ";
  }
}

const char* target_field(int32_t sense_code) {
  if (sense_code == SENSE_MINIMISE) return "MIN ";
  if (sense_code == SENSE_MAXIMISE) return "MAX ";
  return "    ";
}

// psx_open_header and psx_write_header: the header of the file open as the
// work file, then the title record and the header section.
bool write_header(ExportStream& out, const char* section, int32_t& status) {
  if (read_solution_header() != 0) {
    begin_message(MSG_SOLUTION_HEADER_UNREADABLE);
    emit_message();
    status_code = STATUS_REPORTED;
    status = 1;
    return false;
  }
  const SolutionHeaderCopy& h = solution_header_copy;
  out.text("NAME", 16);
  section_card(out, section, kHeaderFields);
  for (const FieldDescriptor& f : kHeaderLayout) out.text(f.name, kField);
  for (const FieldDescriptor& f : kHeaderLayout) {
    out.i32(f.type);
    out.i32(f.length);
  }
  out.chars(character_controls[cc::DATNAM], kField);
  out.chars(h.problem_name, kField);
  out.chars(h.objective_name, kField);
  out.chars(h.rhs_name, kField);
  out.blanks(6 * kField);
  out.f32(static_cast<float>(h.status_letter == 'O' ? h.objective_value : h.sum_infeasibilities));
  out.f32(0.0f);
  out.f32(0.0f);
  out.i32(h.itcnt);
  out.i32(h.rows);
  // The file's own column count: nseq - nrow would count the spare row
  // positions of the current problem as columns.
  out.i32(h.columns);
  out.text("ITGR", 4);
  out.text(target_field(h.sense_code), 4);
  out.text(status_field(h.status_letter), 4);
  out.text("NONE", 4);
  out.blanks(80);
  end_of_section(out, kHeaderRecordBytes);
  if (!out.flush()) {
    status = 1;
    return false;
  }
  return true;
}

void write_end(ExportStream& out, int32_t& status) {
  out.text("ENDATA", 16);
  if (!out.flush()) status = 1;
}

bool psx_name_matches(const char* mask, const char* name) {
  for (int32_t k = 0; k < kField; ++k)
    if (mask[k] != '?' && mask[k] != name[k]) return false;
  return true;
}

// The chosen fields: those whose letters are set, all when no letter at all
// is set.
std::vector<SolutionField> chosen_fields() {
  bool any = false;
  for (char c = 'a'; c <= 'z'; ++c) any = any || option_set(c);
  std::vector<SolutionField> fields;
  for (const SolutionField& f : kSolutionFields)
    if (!any || option_set(f.letter)) fields.push_back(f);
  return fields;
}

void psx_write_block(ExportStream& out, const std::vector<SolutionField>& fields, bool rows) {
  section_card(out, rows ? "RSECTION" : "CSECTION", static_cast<int32_t>(fields.size()));
  for (const SolutionField& f : fields) out.text(rows ? f.row_name : f.column_name, kField);
  for (const SolutionField& f : fields) {
    out.i32(f.type);
    out.i32(kField);
  }
}

void solution_record(ExportStream& out, const std::vector<SolutionField>& fields, int32_t k, bool row) {
  const SolutionLine& line = solution_line;
  const double dual = solution_header_copy.sense_code == SENSE_MAXIMISE ? -line.dual : line.dual;
  for (const SolutionField& f : fields) {
    switch (f.letter) {
      case 'a':
        out.f64(row ? line.activity : line.value);
        break;
      case 'c':
        out.f64(row ? line.slack : line.cost);
        break;
      case 'l':
        out.f64(std::max(line.lower, -kLimitClip));
        break;
      case 'u':
        out.f64(std::min(line.upper, kLimitClip));
        break;
      case 'd':
        out.f64(dual);
        break;
      case 's':
        out.f64(static_cast<double>(k));
        break;
      case 'b':
        out.chars(line.code, 2);
        out.blanks(6);
        break;
      default:
        out.chars(line.name, kField);
        break;
    }
  }
}

}  // namespace

void write_psx_solution(int32_t unit, int32_t& status) {
  status = 0;
  ExportStream out(unit);
  if (!write_header(out, "SOLUTION", status)) return;
  const std::vector<SolutionField> fields = chosen_fields();
  if (!fields.empty()) {
    const SolutionHeaderCopy& h = solution_header_copy;
    const int32_t bytes = static_cast<int32_t>(fields.size()) * kField;
    const char* mask = character_controls[cc::ASCMSK];
    const auto walk = [&](int32_t first, int32_t last) {
      for (int32_t k = first; k <= last; ++k) {
        int32_t error = 0;
        read_solution_status(solution_record_position(k), error);
        if (error != 0) {
          begin_message(MSG_SOLUTION_FILE_ERROR);
          emit_message();
          status_code = STATUS_REPORTED;
          return false;
        }
        if (psx_name_matches(mask, solution_line.name)) solution_record(out, fields, k, k <= h.rows);
        if (!out.flush()) return false;
      }
      end_of_section(out, bytes);
      return out.flush();
    };
    psx_write_block(out, fields, true);
    if (!walk(1, h.rows)) {
      status = 1;
      return;
    }
    psx_write_block(out, fields, false);
    if (!walk(h.rows + 1, h.rows + h.columns)) {
      status = 1;
      return;
    }
  }
  write_end(out, status);
}

void write_psx_ranging(int32_t unit, int32_t& status) {
  status = 0;
  ExportStream out(unit);
  if (!write_header(out, "RANGE", status)) return;
  const SolutionHeaderCopy& h = solution_header_copy;
  const int32_t records = h.rows + h.columns;
  // Every record first: the limiting positions name records anywhere in the
  // file.
  std::vector<RangeLine> lines(static_cast<std::size_t>(std::max(records, 0)) + 1);
  for (int32_t k = 1; k <= records; ++k) {
    int32_t error = 0;
    read_range_record(solution_record_position(k), error);
    if (error != 0) {
      begin_message(MSG_SOLUTION_HEADER_UNREADABLE);
      emit_message();
      status_code = STATUS_REPORTED;
      status = 1;
      return;
    }
    lines[static_cast<std::size_t>(k)] = range_line;
  }
  const auto limiting = [&](int32_t which, bool name) {
    const int32_t k = which < 0 ? -which : which;
    if (k < 1 || k > records) {
      out.blanks(kField);
    } else if (name) {
      out.chars(lines[static_cast<std::size_t>(k)].name, kField);
    } else {
      out.text(which < 0 ? "UL" : "LL", kField);
    }
  };
  for (int32_t code = 1; code <= 4; ++code) {
    const bool rows = code % 2 == 1;
    // Basic by the status word: the code of an equality row reads "EQ"
    // whether it is basic or not.
    const bool basic = code >= 3;
    const int32_t n = rows ? 9 : 11;
    const char name[] = {'S', 'E', 'C', 'T', 'I', 'O', 'N', static_cast<char>('0' + code), '\0'};
    section_card(out, name, n);
    for (int32_t f = 0; f < n; ++f) out.text(rows ? kRangeRowFields[f] : kRangeColumnFields[f], kField);
    for (int32_t f = 0; f < n; ++f) {
      out.i32(f < n - 5 ? FIELD_REAL : FIELD_CHARACTERS);
      out.i32(kField);
    }
    const int32_t first = rows ? 1 : h.rows + 1;
    const int32_t last = rows ? h.rows : records;
    for (int32_t k = first; k <= last; ++k) {
      const RangeLine& line = lines[static_cast<std::size_t>(k)];
      if (((line.status_word & PS_BASIC) != 0) != basic) continue;
      out.f64(line.lower_activity);
      out.f64(line.upper_activity);
      out.f64(line.unit_cost[0]);
      out.f64(line.unit_cost[1]);
      if (!rows) {
        out.f64(line.cost_limit[0]);
        out.f64(line.cost_limit[1]);
      }
      limiting(line.limiting[0], true);
      limiting(line.limiting[1], true);
      limiting(line.limiting[0], false);
      limiting(line.limiting[1], false);
      out.chars(line.name, kField);
      if (!out.flush()) {
        status = 1;
        return;
      }
    }
    end_of_section(out, n * kField);
    if (!out.flush()) {
      status = 1;
      return;
    }
  }
  write_end(out, status);
}

}  // namespace kl
